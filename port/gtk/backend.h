// The USER32 part's window system on Linux: GTK 3 windows, menu bars and the main loop.
#pragma once

#include <gtk/gtk.h>

#include "user32.h"

namespace port {

// Made once GTK is initialised: it takes GTK's events first (a close request during a menu is
// not lost) and has the loss of the X server or the Wayland compositor said on stderr.
class GtkBackend : public Backend {
public:
    GtkBackend();
    void fitClientSize(int& width, int& height) override;
    void screenSize(HWND window, int& width, int& height) override;
    void createWindow(HWND window, const char* title, const MenuResource* menu, int clientWidth,
                      int clientHeight) override;
    void frameWindow(HWND window, HWND owner, const WindowFrame& frame) override;
    void destroyWindow(HWND window) override;
    void closePopups(HWND window) override;
    void showWindow(HWND window, bool visible) override;
    void enableWindow(HWND window, bool enabled) override;
    void present(HWND window) override;
    bool dispatchEvent() override;
    void wait(int timeoutMs) override;
    // Dialogs (dialogbackend.cpp).
    DialogBaseUnits dialogBaseUnits(const DialogResource& dialog) override;
    void createDialog(const DialogLayout& layout) override;
    void showDialog(HWND dialog, HWND focus) override;
    void destroyDialog(HWND dialog) override;
    void setControlText(HWND control, const char* text) override;
    void messageBox(HWND owner, const char* text, const char* caption, bool error) override;
};

// The GTK window and the drawing area of its client, for a window made by createWindow;
// nullptr for any other.
GtkWidget* nativeWindow(HWND window);
GtkWidget* nativeClientArea(HWND window);
// The GTK window of a dialog made by createDialog; nullptr for any other.
GtkWidget* nativeDialogWindow(HWND dialog);
// Whether the window system lets a client place its windows (X11); on Wayland the compositor
// places them.
bool placesWindows();

}  // namespace port
