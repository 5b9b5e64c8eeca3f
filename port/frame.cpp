#include "frame.h"

namespace {

// One style and what it adds to the frame, only when the style also has all of "with": the
// buttons sit in the caption, and the minimise and maximise boxes belong to the system menu.
struct StylePart {
    DWORD style;
    DWORD with;
    bool port::WindowFrame::*part;
};

constexpr StylePart STYLE_PARTS[] = {
    {WS_CAPTION, 0, &port::WindowFrame::caption},
    {WS_SYSMENU, WS_CAPTION, &port::WindowFrame::closeButton},
    {WS_MINIMIZEBOX, WS_CAPTION | WS_SYSMENU, &port::WindowFrame::minimizeButton},
    {WS_MAXIMIZEBOX, WS_CAPTION | WS_SYSMENU, &port::WindowFrame::maximizeButton},
    {WS_THICKFRAME, 0, &port::WindowFrame::sizingBorder},
};

bool hasAll(DWORD style, DWORD bits) { return (style & bits) == bits; }

}  // namespace

namespace port {

WindowFrame frameOf(DWORD style, bool owned, WindowRole role) {
    WindowFrame frame;
    // A child sits inside its parent, with no frame of its own.
    if (style & WS_CHILD) return frame;
    for (const StylePart& p : STYLE_PARTS) {
        if (hasAll(style, p.style) && hasAll(style, p.with)) frame.*p.part = true;
    }
    bool dialog = role == WindowRole::ModalDialog;
    frame.dialogFrame = dialog && (style & DS_MODALFRAME) != 0;
    frame.owned = owned;
    frame.modal = dialog;
    return frame;
}

}  // namespace port
