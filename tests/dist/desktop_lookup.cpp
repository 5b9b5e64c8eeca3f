// Finds an application as a desktop does, through GLib and GTK: its entry by desktop id, the icon
// the entry names in the icon theme at the sizes a menu, a dock and a software centre ask for,
// and, with --launch, starts it as a menu does.
// Usage: desktop_lookup ID [--launch]
// Prints entry=, name=, exec=, wmclass=, icon=, then icon16= icon48= icon256= scalable= (the
// files the theme gives); exits 1 when the entry or an icon is not found.
#include <gio/gdesktopappinfo.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string orNothing(const char* text) { return text != nullptr ? text : ""; }

// The file the icon theme gives for the icon at that size, or "".
std::string iconFile(GtkIconTheme* theme, const char* name, int size, GtkIconLookupFlags flags) {
    GtkIconInfo* info = gtk_icon_theme_lookup_icon(theme, name, size, flags);
    if (info == nullptr) return "";
    std::string file = orNothing(gtk_icon_info_get_filename(info));
    g_object_unref(info);
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--launch") != 0)) {
        std::fputs("usage: desktop_lookup ID [--launch]\n", stderr);
        return 2;
    }
    if (!gtk_init_check(&argc, &argv)) {
        std::fputs("desktop_lookup: no display\n", stderr);
        return 2;
    }
    std::string desktopId = std::string(argv[1]) + ".desktop";
    GDesktopAppInfo* app = g_desktop_app_info_new(desktopId.c_str());
    if (app == nullptr) {
        std::printf("entry=\n");
        return 1;
    }
    std::printf("entry=%s\n", orNothing(g_desktop_app_info_get_filename(app)).c_str());
    std::printf("name=%s\n", orNothing(g_app_info_get_name(G_APP_INFO(app))).c_str());
    std::printf("exec=%s\n", orNothing(g_app_info_get_executable(G_APP_INFO(app))).c_str());
    std::printf("wmclass=%s\n", orNothing(g_desktop_app_info_get_startup_wm_class(app)).c_str());

    int status = 0;
    GIcon* icon = g_app_info_get_icon(G_APP_INFO(app));
    if (icon == nullptr || !G_IS_THEMED_ICON(icon)) {
        std::printf("icon=\n");
        status = 1;
    } else {
        const char* name = g_themed_icon_get_names(G_THEMED_ICON(icon))[0];
        std::printf("icon=%s\n", name);
        GtkIconTheme* theme = gtk_icon_theme_get_default();
        const GtkIconLookupFlags none = static_cast<GtkIconLookupFlags>(0);
        for (int size : {16, 48, 256}) {
            std::string file = iconFile(theme, name, size, none);
            std::printf("icon%d=%s\n", size, file.c_str());
            if (file.empty()) status = 1;
        }
        // Between the sizes drawn as pictures, where a scalable icon fits best.
        std::string scalable = iconFile(theme, name, 96, GTK_ICON_LOOKUP_FORCE_SVG);
        std::printf("scalable=%s\n", scalable.c_str());
        if (scalable.empty()) status = 1;
    }

    if (argc == 3) {
        GError* error = nullptr;
        if (!g_app_info_launch(G_APP_INFO(app), nullptr, nullptr, &error)) {
            std::fprintf(stderr, "desktop_lookup: cannot launch %s: %s\n", desktopId.c_str(), error->message);
            g_error_free(error);
            status = 1;
        }
    }
    g_object_unref(app);
    return status;
}
