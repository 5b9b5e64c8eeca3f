// The process entry point on Linux: starts GTK, installs it as the layer's window system and
// runs the program's WinMain.
#include <cstdio>
#include <string>

#include "backend.h"

int main(int argc, char** argv) {
    // The desktop pairs a window with its entry and icon by this name: GTK 3 takes it as the
    // Wayland app id and the X11 WM_CLASS name, and would otherwise take argv[0].
    g_set_prgname(ORRELUNE_APP_ID);
    // The X11 WM_CLASS class: GTK sets it to the name capitalised while it reads its options and
    // hands it to every window from the opening of the display on, so it goes in between.
    bool parsed = gtk_parse_args(&argc, &argv);
    gdk_set_program_class(ORRELUNE_APP_ID);
    if (!parsed || !gtk_init_check(&argc, &argv)) {
        std::fputs("orrelune: cannot open a display. On a machine without one, run it in a virtual X server:\n"
                   "  xvfb-run -a orrelune\n",
                   stderr);
        return 1;
    }
    static port::GtkBackend backend;
    port::setBackend(&backend);
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        commandLine += argv[i];
    }
    // A small instance handle, as Windows' traditional image base: it survives GetWindowLongA's 32 bits.
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x00400000));
    return WinMain(instance, nullptr, commandLine.data(), SW_SHOWDEFAULT);
}
