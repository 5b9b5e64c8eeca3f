// A window's frame (frame.h) in GTK terms: what the window manager is asked for, and when GTK
// draws the caption itself.
#pragma once

#include <gtk/gtk.h>

#include "frame.h"

namespace port {

struct ToolkitFrame {
    bool decorated = false;
    // GTK draws the caption, with only the buttons the style has: window managers keep the
    // minimise and maximise buttons of a normal or dialog window whatever the hints say
    // (openbox does), so a frame without all three buttons cannot be left to them.
    bool ownCaption = false;
    // The buttons of a caption of our own, in GtkHeaderBar's terms (":minimize,maximize,close").
    const char* captionButtons = "";
    bool resizable = false;
    GdkWindowTypeHint typeHint = GDK_WINDOW_TYPE_HINT_NORMAL;
    // Asked of the window manager for a caption it draws (Motif hints).
    GdkWMDecoration decorations = GdkWMDecoration(0);
    GdkWMFunction functions = GdkWMFunction(0);
    bool skipTaskbar = false;
    bool modal = false;
};

// Pure: no display needed.
ToolkitFrame toolkitFrame(const WindowFrame& frame);

// Before the window is shown: its type, size rule, caption, owner and modality. owner may be
// nullptr; title is the caption's text (UTF-8).
void applyFrame(GtkWindow* window, const WindowFrame& frame, GtkWindow* owner, const char* title);

}  // namespace port
