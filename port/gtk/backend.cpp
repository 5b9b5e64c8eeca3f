#include "backend.h"

#include "toolkitframe.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

struct NativeWindow {
    GtkWidget* window = nullptr;
    GtkWidget* area = nullptr;
    bool enabled = true;
};

std::map<HWND, NativeWindow> natives;

// "&File" marks its mnemonic with '&'; GTK uses '_' and needs a literal '_' doubled.
std::string mnemonicLabel(const char* text) {
    std::string label;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '&' && p[1] == '&') {
            label += '&';
            ++p;
        } else if (*p == '&') {
            label += '_';
        } else if (*p == '_') {
            label += "__";
        } else {
            label += *p;
        }
    }
    return label;
}

void onMenuItem(GtkMenuItem* /*item*/, gpointer data) {
    auto* command = static_cast<std::pair<HWND, int>*>(data);
    port::menuChosen(command->first, command->second);
}

void freeCommand(gpointer data, GClosure* /*closure*/) { delete static_cast<std::pair<HWND, int>*>(data); }

// Fills shell with the entries from index up to the PopupEnd that closes this level.
int buildMenu(GtkMenuShell* shell, HWND window, const port::MenuResource& menu, int index) {
    while (index < menu.entryCount) {
        const port::MenuEntry& entry = menu.entries[index++];
        switch (entry.kind) {
        case port::MenuEntryKind::PopupEnd:
            return index;
        case port::MenuEntryKind::Separator:
            gtk_menu_shell_append(shell, gtk_separator_menu_item_new());
            break;
        case port::MenuEntryKind::Item: {
            GtkWidget* item = gtk_menu_item_new_with_mnemonic(mnemonicLabel(entry.text).c_str());
            g_signal_connect_data(item, "activate", G_CALLBACK(onMenuItem), new std::pair<HWND, int>(window, entry.id),
                                  freeCommand, GConnectFlags(0));
            gtk_menu_shell_append(shell, item);
            break;
        }
        case port::MenuEntryKind::PopupBegin: {
            GtkWidget* item = gtk_menu_item_new_with_mnemonic(mnemonicLabel(entry.text).c_str());
            GtkWidget* popup = gtk_menu_new();
            index = buildMenu(GTK_MENU_SHELL(popup), window, menu, index);
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), popup);
            gtk_menu_shell_append(shell, item);
            break;
        }
        }
    }
    return index;
}

gboolean onDraw(GtkWidget* /*area*/, cairo_t* cr, gpointer data) {
    // Only copies what the last paint left in the surface; the program is never called from here.
    port::PixelView view = port::windowSurface(static_cast<HWND>(data));
    if (view.pixels == nullptr || view.width == 0 || view.height == 0) return TRUE;
    cairo_surface_t* image = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(view.pixels), CAIRO_FORMAT_RGB24, view.width, view.height, view.width * 4);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_paint(cr);
    cairo_surface_destroy(image);
    return TRUE;
}

void onSizeAllocate(GtkWidget* /*area*/, GdkRectangle* allocation, gpointer data) {
    port::clientResized(static_cast<HWND>(data), allocation->width, allocation->height);
}

gboolean onDelete(GtkWidget* /*window*/, GdkEvent* /*event*/, gpointer data) {
    // The close button asks; the window procedure decides (DefWindowProcA destroys the window).
    port::closeRequested(static_cast<HWND>(data));
    return TRUE;
}

// Ahead of the widgets' own handlers: a disabled window's menu does not open, and its keys
// (F10, mnemonics) reach nothing. Nothing is greyed, as on Windows.
gboolean onInputWhileDisabled(GtkWidget* /*widget*/, GdkEvent* /*event*/, gpointer data) {
    auto found = natives.find(static_cast<HWND>(data));
    return found != natives.end() && !found->second.enabled;
}

}  // namespace

namespace port {

GtkWidget* nativeWindow(HWND window) {
    auto found = natives.find(window);
    return found == natives.end() ? nullptr : found->second.window;
}

GtkWidget* nativeClientArea(HWND window) {
    auto found = natives.find(window);
    return found == natives.end() ? nullptr : found->second.area;
}

void GtkBackend::fitClientSize(int& width, int& height) {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display != nullptr ? gdk_display_get_primary_monitor(display) : nullptr;
    if (monitor == nullptr && display != nullptr) monitor = gdk_display_get_monitor(display, 0);
    if (monitor == nullptr) return;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    // Leave room for a frame, a title bar and the menu bar.
    width = std::max(1, std::min(width, area.width - 16));
    height = std::max(1, std::min(height, area.height - 96));
}

void GtkBackend::createWindow(HWND window, const char* title, const MenuResource* menu, int clientWidth,
                              int clientHeight) {
    NativeWindow native;
    native.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(native.window), title);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(native.window), box);
    int menuHeight = 0;
    if (menu != nullptr) {
        GtkWidget* bar = gtk_menu_bar_new();
        buildMenu(GTK_MENU_SHELL(bar), window, *menu, 0);
        g_signal_connect(bar, "button-press-event", G_CALLBACK(onInputWhileDisabled), window);
        g_signal_connect(bar, "button-release-event", G_CALLBACK(onInputWhileDisabled), window);
        gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
        gtk_widget_show_all(bar);
        int minimum = 0;
        gtk_widget_get_preferred_height(bar, &minimum, &menuHeight);
    }
    native.area = gtk_drawing_area_new();
    gtk_box_pack_start(GTK_BOX(box), native.area, TRUE, TRUE, 0);
    g_signal_connect(native.area, "draw", G_CALLBACK(onDraw), window);
    g_signal_connect(native.area, "size-allocate", G_CALLBACK(onSizeAllocate), window);
    g_signal_connect(native.window, "delete-event", G_CALLBACK(onDelete), window);
    g_signal_connect(native.window, "key-press-event", G_CALLBACK(onInputWhileDisabled), window);
    g_signal_connect(native.window, "key-release-event", G_CALLBACK(onInputWhileDisabled), window);
    gtk_window_set_default_size(GTK_WINDOW(native.window), clientWidth, clientHeight + menuHeight);
    natives[window] = native;
}

void GtkBackend::frameWindow(HWND window, HWND owner, const WindowFrame& frame) {
    auto found = natives.find(window);
    if (found == natives.end()) return;
    GtkWidget* ownerWindow = nativeWindow(owner);
    applyFrame(GTK_WINDOW(found->second.window), frame, ownerWindow != nullptr ? GTK_WINDOW(ownerWindow) : nullptr,
               gtk_window_get_title(GTK_WINDOW(found->second.window)));
}

void GtkBackend::destroyWindow(HWND window) {
    auto found = natives.find(window);
    if (found == natives.end()) return;
    gtk_widget_destroy(found->second.window);
    natives.erase(found);
}

void GtkBackend::showWindow(HWND window, bool visible) {
    auto found = natives.find(window);
    if (found == natives.end()) return;
    if (visible) {
        gtk_widget_show_all(found->second.window);
    } else {
        gtk_widget_hide(found->second.window);
    }
}

void GtkBackend::enableWindow(HWND window, bool enabled) {
    auto found = natives.find(window);
    if (found != natives.end()) found->second.enabled = enabled;
}

void GtkBackend::present(HWND window) {
    auto found = natives.find(window);
    if (found != natives.end()) gtk_widget_queue_draw(found->second.area);
}

bool GtkBackend::dispatchEvent() { return g_main_context_iteration(nullptr, FALSE) != FALSE; }

void GtkBackend::wait(int timeoutMs) {
    // One iteration of the main context by hand, so the sleep in poll() can be capped.
    GMainContext* context = g_main_context_default();
    if (!g_main_context_acquire(context)) return;
    gint priority = 0;
    g_main_context_prepare(context, &priority);
    static std::vector<GPollFD> fds(16);
    gint timeout = 0;
    gint count;
    while ((count = g_main_context_query(context, priority, &timeout, fds.data(), static_cast<gint>(fds.size()))) >
           static_cast<gint>(fds.size())) {
        fds.resize(static_cast<std::size_t>(count));
    }
    if (timeoutMs >= 0 && (timeout < 0 || timeout > timeoutMs)) timeout = timeoutMs;
    g_main_context_get_poll_func(context)(fds.data(), static_cast<guint>(count), timeout);
    g_main_context_check(context, priority, fds.data(), count);
    g_main_context_dispatch(context);
    g_main_context_release(context);
}

// The toolkit's own message dialog, run in a loop of its own as MessageBox runs one.
void GtkBackend::messageBox(HWND owner, const char* text, const char* caption, bool error) {
    GtkWidget* parent = owner != nullptr ? nativeWindow(owner) : nullptr;
    GtkWidget* box = gtk_message_dialog_new(parent != nullptr ? GTK_WINDOW(parent) : nullptr, GTK_DIALOG_MODAL,
                                            error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s", text);
    gtk_window_set_title(GTK_WINDOW(box), caption);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    while (gtk_events_pending()) gtk_main_iteration();
}

}  // namespace port
