// The USER32 part's side facing the toolkit (and the tests): the backend that shows windows
// and feeds events, the clock behind the timers, and what a backend reports back.
#pragma once

#include <windows.h>

#include <cstdint>

#include "dialog.h"
#include "frame.h"
#include "gdi.h"
#include "resources.h"

namespace port {

// What the layer asks of a window system. The default does nothing and shows nothing, which is
// all a test without a display needs.
class Backend {
public:
    virtual ~Backend() = default;
    // Shrinks a wanted client size to what the screen can show.
    virtual void fitClientSize(int& width, int& height) { (void)width, (void)height; }
    // The size of the monitor the window is on (for nullptr, the one a new window opens on): no
    // window shows more than this at once, so its surface keeps no more. The default has no
    // screen and leaves the sizes as they are.
    virtual void screenSize(HWND window, int& width, int& height) { (void)window, (void)width, (void)height; }
    virtual void createWindow(HWND window, const char* title, const MenuResource* menu, int clientWidth,
                              int clientHeight) {
        (void)window, (void)title, (void)menu, (void)clientWidth, (void)clientHeight;
    }
    // Right after createWindow: the frame the window's style asks for, and its owner (nullptr
    // for none).
    virtual void frameWindow(HWND window, HWND owner, const WindowFrame& frame) {
        (void)window, (void)owner, (void)frame;
    }
    virtual void destroyWindow(HWND window) { (void)window; }
    // Closes any pop-up (a menu, a context menu) open over the window, as Windows ends a menu
    // whose window goes away; called before the window is destroyed.
    virtual void closePopups(HWND window) { (void)window; }
    virtual void showWindow(HWND window, bool visible) { (void)window, (void)visible; }
    // The window takes input again, or no longer (the layer drops what gets through anyway).
    virtual void enableWindow(HWND window, bool enabled) { (void)window, (void)enabled; }
    // The window's surface has new pixels to show.
    virtual void present(HWND window) { (void)window; }
    // Handles one of the toolkit's pending events without blocking; false when none was pending.
    virtual bool dispatchEvent() { return false; }
    // Blocks until a toolkit event was handled or timeoutMs passed (-1: no limit).
    virtual void wait(int timeoutMs);
    // Measures the template's font; the default is what Windows gives "MS Shell Dlg" 8 at 96 DPI.
    virtual DialogBaseUnits dialogBaseUnits(const DialogResource& dialog) {
        (void)dialog;
        return {6, 13};
    }
    // Builds a dialog's window and controls, hidden.
    virtual void createDialog(const DialogLayout& layout) { (void)layout; }
    // Shows the built dialog, modal to its owner, with the keyboard focus on focus (may be nullptr).
    virtual void showDialog(HWND dialog, HWND focus) { (void)dialog, (void)focus; }
    virtual void destroyDialog(HWND dialog) { (void)dialog; }
    // The program set a control's text (UTF-8).
    virtual void setControlText(HWND control, const char* text) { (void)control, (void)text; }
    // Shows a message with an OK button, modal to owner (may be nullptr), and returns once it is
    // closed; error is MB_ICONERROR's mark.
    virtual void messageBox(HWND owner, const char* text, const char* caption, bool error) {
        (void)owner, (void)text, (void)caption, (void)error;
    }
};

// Each poll of the message queue first hands the toolkit up to this many pending events, so
// input and painting go ahead of a due timer even when every step outlasts the timer's period;
// the bound keeps a flood of events from holding the timer off for ever.
inline constexpr int MAX_EVENTS_PER_POLL = 256;

// nullptr restores the default backend. The layer does not own the backend.
void setBackend(Backend* backend);
Backend& currentBackend();

// Milliseconds on a monotonic clock; the timers run on it.
using Clock = uint64_t (*)();
// nullptr restores the steady clock.
void setClock(Clock clock);

// What the person does reaches the program as input messages, posted in order with the rest.
// A poll hands the toolkit no further event while one is waiting, so what one input does (a
// command that opens a modal dialog and disables its owner) takes effect before the next is
// looked at. An input message for a window that is disabled, when it is posted or when its
// turn comes, is dropped.
void postInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Reported by the backend: the person chose a menu item. Posted as WM_COMMAND, as Windows does
// when its menu closes.
void menuChosen(HWND window, int id);
// Reported by the backend: the frame's close button, or the window manager's close. Posted as
// WM_CLOSE.
void closeRequested(HWND window);
// Reported by the backend: the client area has a new size.
void clientResized(HWND window, int width, int height);
// Reported by the backend: the client area's top-left corner is at x, y from the top-left corner
// of the monitor the window is on (0, 0 where the window system does not say where windows are).
// Only a window larger than the monitor minds: its surface keeps the part that can be on it.
void clientMoved(HWND window, int x, int y);
// The pixels the backend copies to the screen: the client area, or the part of it that a
// screen can show at once (x and y say where it lies in the client area).
PixelView windowSurface(HWND window);

// A window of the layer's own (a dialog or one of its controls): no registered class, and no
// native window; the dialog code has the backend build that.
HWND createLayerWindow(WNDPROC proc, HINSTANCE instance, const char* title, int width, int height);

// Forgets every window, class, timer and queued message (a test's fresh start).
void resetUser32();

}  // namespace port
