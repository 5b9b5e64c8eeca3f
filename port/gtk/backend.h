// The USER32 part's window system on Linux: GTK 3 windows, menu bars and the main loop.
#pragma once

#include <gtk/gtk.h>

#include "user32.h"

namespace port {

class GtkBackend : public Backend {
public:
    void fitClientSize(int& width, int& height) override;
    void createWindow(HWND window, const char* title, const MenuResource* menu, int clientWidth,
                      int clientHeight) override;
    void destroyWindow(HWND window) override;
    void showWindow(HWND window, bool visible) override;
    void present(HWND window) override;
    void pump() override;
    void wait(int timeoutMs) override;
};

}  // namespace port
