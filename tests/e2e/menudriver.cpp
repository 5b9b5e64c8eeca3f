// Linked into orrelune-driven, the program with one addition for the Wayland scenarios: under a
// headless compositor a GTK menu opened with F10 takes the arrow keys but not Return, so the
// scenarios choose a menu item through a named pipe instead. A line with an item's label
// ("parameter") activates that item of the main window's menu bar, as a click on it does; the
// command then reaches the program as any menu choice.
#include <fcntl.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string pending;

// The item with this label in the menus under shell, or nullptr.
GtkWidget* findItem(GtkWidget* widget, const std::string& label) {
    if (GTK_IS_MENU_ITEM(widget)) {
        const char* text = gtk_menu_item_get_label(GTK_MENU_ITEM(widget));
        if (text != nullptr && label == text) return widget;
        GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(widget));
        if (submenu != nullptr) return findItem(submenu, label);
        return nullptr;
    }
    if (!GTK_IS_CONTAINER(widget)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    GtkWidget* found = nullptr;
    for (GList* child = children; child != nullptr && found == nullptr; child = child->next) {
        found = findItem(GTK_WIDGET(child->data), label);
    }
    g_list_free(children);
    return found;
}

void choose(const std::string& label) {
    GList* windows = gtk_window_list_toplevels();
    GtkWidget* item = nullptr;
    for (GList* window = windows; window != nullptr && item == nullptr; window = window->next) {
        item = findItem(GTK_WIDGET(window->data), label);
    }
    g_list_free(windows);
    if (item == nullptr) {
        std::fprintf(stderr, "orrelune-driven: no menu item '%s'\n", label.c_str());
        return;
    }
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
}

gboolean onCommand(gint fd, GIOCondition /*condition*/, gpointer /*data*/) {
    char buffer[256];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty()) choose(line);
    }
    return G_SOURCE_CONTINUE;
}

// Before main: the pipe is watched in GLib's default context, which the layer's message loop
// runs with GTK's events.
struct Driver {
    Driver() {
        const char* path = std::getenv("ORRELUNE_E2E_MENU");
        if (path == nullptr) return;
        // Read and write, so that the pipe never reads as closed between two writers.
        int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            std::perror(path);
            return;
        }
        g_unix_fd_add(fd, G_IO_IN, onCommand, nullptr);
    }
} driver;

}  // namespace
