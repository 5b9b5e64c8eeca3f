#include "backend.h"

#include <gdk/gdkwayland.h>
#include <gdk/gdkx.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "mnemonic.h"
#include "toolkitframe.h"

namespace {

struct NativeWindow {
    GtkWidget* window = nullptr;
    GtkWidget* area = nullptr;
    bool enabled = true;
    // The window's top-left corner on the screen, as its last configure event said (X11 only:
    // a Wayland client is not told where its windows are).
    int x = 0;
    int y = 0;
};

std::map<HWND, NativeWindow> natives;

constexpr const char* HANDLE_KEY = "orrelune-window";

// A bin that asks for no width and gives its child at least the child's minimum: the menu bar
// is cut at the window's edge rather than laid out in less room than it needs (which GTK
// refuses loudly). A window manager keeps a window from getting so narrow; X alone does not.
struct OrreluneCutBin {
    GtkBin parent;
};
struct OrreluneCutBinClass {
    GtkBinClass parent;
};
G_DEFINE_TYPE(OrreluneCutBin, orrelune_cut_bin, GTK_TYPE_BIN)

void cutBinWidth(GtkWidget* bin, gint* minimum, gint* natural) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(bin));
    *minimum = 0;
    *natural = 0;
    if (child != nullptr && gtk_widget_get_visible(child)) gtk_widget_get_preferred_width(child, nullptr, natural);
}

void cutBinHeight(GtkWidget* bin, gint* minimum, gint* natural) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(bin));
    *minimum = 0;
    *natural = 0;
    if (child != nullptr && gtk_widget_get_visible(child)) gtk_widget_get_preferred_height(child, minimum, natural);
}

void cutBinHeightForWidth(GtkWidget* bin, gint /*width*/, gint* minimum, gint* natural) {
    cutBinHeight(bin, minimum, natural);
}

void cutBinAllocate(GtkWidget* bin, GtkAllocation* allocation) {
    gtk_widget_set_allocation(bin, allocation);
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(bin));
    if (child == nullptr || !gtk_widget_get_visible(child)) return;
    GtkRequisition minimum;
    gtk_widget_get_preferred_size(child, &minimum, nullptr);
    GtkAllocation given = *allocation;
    given.width = std::max(given.width, minimum.width);
    given.height = std::max(given.height, minimum.height);
    gtk_widget_size_allocate(child, &given);
}

void orrelune_cut_bin_class_init(OrreluneCutBinClass* type) {
    GtkWidgetClass* widget = GTK_WIDGET_CLASS(type);
    widget->get_preferred_width = cutBinWidth;
    widget->get_preferred_height = cutBinHeight;
    widget->get_preferred_height_for_width = cutBinHeightForWidth;
    widget->size_allocate = cutBinAllocate;
}

void orrelune_cut_bin_init(OrreluneCutBin* /*bin*/) {}

HWND handleOf(GtkWidget* window) {
    return static_cast<HWND>(g_object_get_data(G_OBJECT(window), HANDLE_KEY));
}

// The monitor a window is on (the primary one before it is shown), or nullptr when there is none.
GdkMonitor* monitorOf(GtkWidget* window) {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return nullptr;
    GdkWindow* native = window != nullptr ? gtk_widget_get_window(window) : nullptr;
    GdkMonitor* monitor = native != nullptr ? gdk_display_get_monitor_at_window(display, native) : nullptr;
    if (monitor == nullptr) monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
    return monitor;
}

// The monitor's area in the window's coordinates: where the window system says where the window
// is, the part on it; elsewhere as much from the window's top-left corner.
bool monitorInWindow(const NativeWindow& native, cairo_rectangle_int_t& area) {
    GdkMonitor* monitor = monitorOf(native.window);
    if (monitor == nullptr) return false;
    GdkRectangle geometry;
    gdk_monitor_get_geometry(monitor, &geometry);
    if (geometry.width <= 0 || geometry.height <= 0) return false;
    area = {0, 0, geometry.width, geometry.height};
    if (port::placesWindows()) {
        area.x = geometry.x - native.x;
        area.y = geometry.y - native.y;
    }
    return true;
}

// The monitor's part of a window's area; nothing beyond it is drawn, so a window of any size
// costs no more than its monitor.
void clipToScreen(GdkWindow* window, cairo_region_t* region) {
    gpointer data = nullptr;
    gdk_window_get_user_data(window, &data);
    auto found = data != nullptr && GTK_IS_WIDGET(data) ? natives.find(handleOf(GTK_WIDGET(data))) : natives.end();
    cairo_rectangle_int_t monitor;
    if (found == natives.end() || !monitorInWindow(found->second, monitor)) return;
    cairo_region_intersect_rectangle(region, &monitor);
}

void onWindowRealize(GtkWidget* window, gpointer /*data*/) {
    gdk_window_set_invalidate_handler(gtk_widget_get_window(window), clipToScreen);
}

// Where the client area lies on its monitor, for the layer to keep the part a monitor shows.
void reportClientPlace(HWND window) {
    auto found = natives.find(window);
    cairo_rectangle_int_t monitor;
    if (found == natives.end() || !monitorInWindow(found->second, monitor)) return;
    int x = 0;
    int y = 0;
    gtk_widget_translate_coordinates(found->second.area, found->second.window, 0, 0, &x, &y);
    port::clientMoved(window, x - monitor.x, y - monitor.y);
}

gboolean onConfigure(GtkWidget* /*widget*/, GdkEventConfigure* event, gpointer data) {
    auto found = natives.find(static_cast<HWND>(data));
    if (found == natives.end()) return FALSE;
    found->second.x = event->x;
    found->second.y = event->y;
    reportClientPlace(found->first);
    return FALSE;
}

// A close request reaches the window's handler even while a menu holds the input, where GTK
// itself drops it; the layer decides (and closes the menu if the window goes).
void onEvent(GdkEvent* event, gpointer /*data*/) {
    if (event->type == GDK_DELETE) {
        GtkWidget* widget = gtk_get_event_widget(event);
        GtkWidget* grab =
            widget != nullptr && GTK_IS_WINDOW(widget)
                ? gtk_window_group_get_current_grab(gtk_window_get_group(GTK_WINDOW(widget)))
                : nullptr;
        if (grab != nullptr && gtk_widget_get_toplevel(grab) != widget) {
            gtk_widget_event(widget, event);
            return;
        }
    }
    gtk_main_do_event(event);
}

// GDK says a lost Wayland compositor in a message of its own and ends the process; the program
// says it as it says a lost X server, first. Everything else is written as GLib writes it.
GLogWriterOutput writeLog(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer /*data*/) {
#ifdef GDK_WINDOWING_WAYLAND
    GdkDisplay* display = (level & G_LOG_LEVEL_MESSAGE) != 0 ? gdk_display_get_default() : nullptr;
    if (display != nullptr && GDK_IS_WAYLAND_DISPLAY(display)) {
        wl_display* connection = gdk_wayland_display_get_wl_display(display);
        pollfd hungUp{wl_display_get_fd(connection), 0, 0};
        if (wl_display_get_error(connection) != 0 ||
            (poll(&hungUp, 1, 0) == 1 && (hungUp.revents & (POLLHUP | POLLERR)) != 0)) {
            const char* name = g_getenv("WAYLAND_DISPLAY");
            std::fprintf(stderr, "orrelune: lost the connection to the Wayland compositor %s; the program ends.\n",
                         name != nullptr && *name != '\0' ? name : "wayland-0");
            _exit(1);
        }
    }
#endif
    return g_log_writer_default(level, fields, count, nullptr);
}

// Xlib ends the process when the X server goes; GTK's own handler says nothing first.
int onDisplayLost(Display* display) {
    // errno is a hint only: once the server has hung up it often still holds an earlier EAGAIN.
    int error = errno;
    std::string why = error != 0 && error != EAGAIN ? std::string(" (") + g_strerror(error) + ")" : "";
    std::fprintf(stderr, "orrelune: lost the connection to the X server %s%s; the program ends.\n",
                 DisplayString(display), why.c_str());
    _exit(1);
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
            GtkWidget* item = gtk_menu_item_new_with_mnemonic(port::mnemonicLabel(entry.text).c_str());
            g_signal_connect_data(item, "activate", G_CALLBACK(onMenuItem), new std::pair<HWND, int>(window, entry.id),
                                  freeCommand, GConnectFlags(0));
            gtk_menu_shell_append(shell, item);
            break;
        }
        case port::MenuEntryKind::PopupBegin: {
            GtkWidget* item = gtk_menu_item_new_with_mnemonic(port::mnemonicLabel(entry.text).c_str());
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
    cairo_set_source_surface(cr, image, view.x, view.y);
    cairo_paint(cr);
    cairo_surface_destroy(image);
    return TRUE;
}

void onSizeAllocate(GtkWidget* /*area*/, GdkRectangle* allocation, gpointer data) {
    port::clientResized(static_cast<HWND>(data), allocation->width, allocation->height);
    reportClientPlace(static_cast<HWND>(data));
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

bool placesWindows() { return GDK_IS_X11_DISPLAY(gdk_display_get_default()); }

GtkWidget* nativeWindow(HWND window) {
    auto found = natives.find(window);
    return found == natives.end() ? nullptr : found->second.window;
}

GtkWidget* nativeClientArea(HWND window) {
    auto found = natives.find(window);
    return found == natives.end() ? nullptr : found->second.area;
}

GtkBackend::GtkBackend() {
    gdk_event_handler_set(onEvent, nullptr, nullptr);
    if (GDK_IS_X11_DISPLAY(gdk_display_get_default())) XSetIOErrorHandler(onDisplayLost);
    g_log_set_writer_func(writeLog, nullptr, nullptr);
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

void GtkBackend::screenSize(HWND window, int& width, int& height) {
    GdkMonitor* monitor = monitorOf(nativeWindow(window));
    if (monitor == nullptr) return;
    GdkRectangle geometry;
    gdk_monitor_get_geometry(monitor, &geometry);
    if (geometry.width <= 0 || geometry.height <= 0) return;
    width = geometry.width;
    height = geometry.height;
}

void GtkBackend::createWindow(HWND window, const char* title, const MenuResource* menu, int clientWidth,
                              int clientHeight) {
    NativeWindow native;
    native.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(native.window), title);
    g_object_set_data(G_OBJECT(native.window), HANDLE_KEY, window);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(native.window), box);
    int menuHeight = 0;
    if (menu != nullptr) {
        GtkWidget* bar = gtk_menu_bar_new();
        buildMenu(GTK_MENU_SHELL(bar), window, *menu, 0);
        g_signal_connect(bar, "button-press-event", G_CALLBACK(onInputWhileDisabled), window);
        g_signal_connect(bar, "button-release-event", G_CALLBACK(onInputWhileDisabled), window);
        GtkWidget* cut = GTK_WIDGET(g_object_new(orrelune_cut_bin_get_type(), nullptr));
        gtk_container_add(GTK_CONTAINER(cut), bar);
        gtk_box_pack_start(GTK_BOX(box), cut, FALSE, FALSE, 0);
        gtk_widget_show_all(cut);
        int minimum = 0;
        gtk_widget_get_preferred_height(bar, &minimum, &menuHeight);
    }
    native.area = gtk_drawing_area_new();
    gtk_box_pack_start(GTK_BOX(box), native.area, TRUE, TRUE, 0);
    g_signal_connect(native.area, "draw", G_CALLBACK(onDraw), window);
    g_signal_connect(native.area, "size-allocate", G_CALLBACK(onSizeAllocate), window);
    g_signal_connect(native.window, "delete-event", G_CALLBACK(onDelete), window);
    g_signal_connect(native.window, "realize", G_CALLBACK(onWindowRealize), nullptr);
    g_signal_connect(native.window, "configure-event", G_CALLBACK(onConfigure), window);
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

void GtkBackend::closePopups(HWND window) {
    GtkWidget* native = nativeWindow(window);
    if (native == nullptr) native = nativeDialogWindow(window);
    if (native == nullptr) return;
    GtkWindowGroup* group = gtk_window_get_group(GTK_WINDOW(native));
    // Innermost first: each pass closes the menu holding the input and the menus it came from.
    for (GtkWidget* grab; (grab = gtk_window_group_get_current_grab(group)) != nullptr && GTK_IS_MENU_SHELL(grab);) {
        GtkWidget* outermost = grab;
        for (GtkWidget* up; GTK_IS_MENU(outermost) &&
                            (up = gtk_menu_shell_get_parent_shell(GTK_MENU_SHELL(outermost))) != nullptr;) {
            outermost = up;
        }
        GtkWidget* opener = GTK_IS_MENU(outermost) ? gtk_menu_get_attach_widget(GTK_MENU(outermost)) : outermost;
        if (opener == nullptr || gtk_widget_get_toplevel(opener) != native) return;
        gtk_menu_shell_deactivate(GTK_MENU_SHELL(outermost));
        if (gtk_window_group_get_current_grab(group) == grab) return;
    }
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
