// Modal dialogs from the resource tables: what the USER32 part hands a window system to show,
// and what the window system reports back. The dialog's behaviour lives here, so it can be
// tested without a display; the backend only shows widgets and relays the person's actions.
#pragma once

#include <windows.h>

#include <vector>

#include "frame.h"
#include "resources.h"

namespace port {

// A dialog font's average character width and height in pixels: the base of dialog units.
struct DialogBaseUnits {
    int x;
    int y;
};

// Dialog units to pixels, rounded as Windows rounds them (a quarter of the average width
// across, an eighth of the height down).
RECT dialogUnitsToPixels(int x, int y, int width, int height, DialogBaseUnits base);

struct LaidOutControl {
    HWND handle;
    const DialogControl* control;  // class, text, id and style from the template
    RECT rect;                     // pixels in the dialog's client area
};

// A dialog ready to be shown: everything in pixels, controls in template order.
struct DialogLayout {
    HWND dialog;
    HWND owner;
    const DialogResource* resource;
    WindowFrame frame;  // from the template's style
    RECT rect;          // the client area, placed relative to the owner's client area
    std::vector<LaidOutControl> controls;
    HWND defaultButton;  // the push button Enter presses from any other control; nullptr for none
};

// Where a new dialog's window (its frame included) goes: moved as little as puts it inside the
// work area of its owner's monitor, as Windows keeps a new dialog on the screen. One larger than
// the work area keeps its top-left corner inside.
RECT keptInWorkArea(RECT window, RECT workArea);

enum class DialogKey { Return, Escape };

// Reported by the backend: the person changed an edit's text (UTF-8).
void controlTextChanged(HWND control, const char* text);
// Reported by the backend: a push button was clicked; its parent gets WM_COMMAND.
void buttonClicked(HWND control);
// Reported by the backend: Enter presses the focused push button, else the default one;
// Escape means Cancel. focus may be nullptr. A disabled dialog takes neither clicks nor keys.
void dialogKeyPressed(HWND dialog, DialogKey key, HWND focus);
// The control that Tab (or Shift+Tab) moves to from "from", in template order, wrapping around.
HWND nextTabStop(HWND dialog, HWND from, bool backward);

}  // namespace port
