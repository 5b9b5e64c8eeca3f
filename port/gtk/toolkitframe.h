// A window's frame (frame.h) in GTK terms: what the window manager is asked for, and when GTK
// draws the caption itself.
#pragma once

#include <gtk/gtk.h>

#include "frame.h"

namespace port {

struct ToolkitFrame {
    bool decorated = false;
    // GTK draws a dialog's caption as a header bar, as it does for its own dialogs, only where
    // the desktop asks for that (gtk-dialogs-use-header); otherwise the window manager draws
    // the frame and picks its buttons from the hints below.
    bool headerBar = false;
    bool closeButton = false;
    bool resizable = false;
    GdkWindowTypeHint typeHint = GDK_WINDOW_TYPE_HINT_NORMAL;
    // Asked of the window manager for a frame it draws (Motif hints).
    GdkWMDecoration decorations = GdkWMDecoration(0);
    GdkWMFunction functions = GdkWMFunction(0);
    bool skipTaskbar = false;
    bool modal = false;
};

// Pure: no display needed. dialogsUseHeader: the desktop's gtk-dialogs-use-header setting.
ToolkitFrame toolkitFrame(const WindowFrame& frame, bool dialogsUseHeader);

// The style class that GTK's own dialogs add to their default button beside "default" (which
// GTK gives whichever button has the default): in a header-bar dialog, the suggested action.
// nullptr for none.
const char* defaultButtonStyleClass(const ToolkitFrame& frame);

// Before the window is shown: its type, size rule, caption, owner and modality. owner may be
// nullptr; title is the caption's text (UTF-8).
void applyFrame(GtkWindow* window, const WindowFrame& frame, GtkWindow* owner, const char* title);
// What applyFrame made of the window's frame; nullptr before it ran.
const ToolkitFrame* appliedFrame(GtkWindow* window);

}  // namespace port
