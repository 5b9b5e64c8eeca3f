// What a top-level window's style puts around it on screen, as Windows draws it: the caption
// and its buttons, the sizing border, a dialog's frame, and its place above an owner. The
// window system's backend shows this as far as it can; the table lives here, without a toolkit.
#pragma once

#include <windows.h>

namespace port {

struct WindowFrame {
    bool caption = false;         // a title bar with the window's text
    bool closeButton = false;     // the system menu's close, at the caption's right
    bool minimizeButton = false;  // on Windows the other box of the pair shows too, disabled
    bool maximizeButton = false;
    bool sizingBorder = false;    // the person can resize the window
    bool dialogFrame = false;     // a dialog's frame: no icon in the caption
    bool owned = false;           // above its owner, and not in the task bar
    bool modal = false;           // its owner takes no input while it is open

    bool operator==(const WindowFrame&) const = default;
};

enum class WindowRole {
    // CreateWindowEx: a window of a registered class.
    TopLevel,
    // DialogBox: the style is a dialog template's, whose low bits are DS_ styles.
    ModalDialog,
};

// The frame of a window with this style. owned: it has an owner (a dialog's owner, or a
// CreateWindowEx parent of a window that is not WS_CHILD).
WindowFrame frameOf(DWORD style, bool owned, WindowRole role);

}  // namespace port
