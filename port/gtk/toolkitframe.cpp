#include "toolkitframe.h"

namespace {

constexpr const char* FRAME_KEY = "orrelune-frame";

void onRealize(GtkWidget* widget, gpointer /*data*/) {
    // Motif hints go on the native window, which exists only now.
    const port::ToolkitFrame* frame = port::appliedFrame(GTK_WINDOW(widget));
    GdkWindow* window = gtk_widget_get_window(widget);
    if (frame == nullptr || window == nullptr || frame->headerBar || !frame->decorated) return;
    gdk_window_set_decorations(window, frame->decorations);
    gdk_window_set_functions(window, frame->functions);
}

bool desktopWantsDialogHeaders() {
    GtkSettings* settings = gtk_settings_get_default();
    gboolean useHeader = FALSE;
    if (settings != nullptr) g_object_get(settings, "gtk-dialogs-use-header", &useHeader, nullptr);
    return useHeader != FALSE;
}

}  // namespace

namespace port {

ToolkitFrame toolkitFrame(const WindowFrame& frame, bool dialogsUseHeader) {
    ToolkitFrame t;
    t.decorated = frame.caption || frame.sizingBorder;
    t.headerBar = dialogsUseHeader && frame.caption && frame.modal;
    t.closeButton = frame.closeButton;
    t.resizable = frame.sizingBorder;
    t.typeHint = frame.modal || frame.dialogFrame ? GDK_WINDOW_TYPE_HINT_DIALOG : GDK_WINDOW_TYPE_HINT_NORMAL;
    unsigned decorations = GDK_DECOR_BORDER;
    unsigned functions = GDK_FUNC_MOVE;
    if (frame.caption) decorations |= GDK_DECOR_TITLE | GDK_DECOR_MENU;
    if (frame.closeButton) functions |= GDK_FUNC_CLOSE;
    if (frame.minimizeButton) {
        decorations |= GDK_DECOR_MINIMIZE;
        functions |= GDK_FUNC_MINIMIZE;
    }
    if (frame.maximizeButton) {
        decorations |= GDK_DECOR_MAXIMIZE;
        functions |= GDK_FUNC_MAXIMIZE;
    }
    if (frame.sizingBorder) {
        decorations |= GDK_DECOR_RESIZEH;
        functions |= GDK_FUNC_RESIZE;
    }
    t.decorations = GdkWMDecoration(decorations);
    t.functions = GdkWMFunction(functions);
    t.skipTaskbar = frame.owned;
    t.modal = frame.modal;
    return t;
}

const char* defaultButtonStyleClass(const ToolkitFrame& frame) {
    return frame.headerBar ? GTK_STYLE_CLASS_SUGGESTED_ACTION : nullptr;
}

void applyFrame(GtkWindow* window, const WindowFrame& frame, GtkWindow* owner, const char* title) {
    auto* t = new ToolkitFrame(toolkitFrame(frame, desktopWantsDialogHeaders()));
    g_object_set_data_full(G_OBJECT(window), FRAME_KEY, t,
                           [](gpointer data) { delete static_cast<ToolkitFrame*>(data); });
    g_signal_connect_after(window, "realize", G_CALLBACK(onRealize), nullptr);

    gtk_window_set_type_hint(window, t->typeHint);
    gtk_window_set_resizable(window, t->resizable ? TRUE : FALSE);
    gtk_window_set_decorated(window, t->decorated ? TRUE : FALSE);
    gtk_window_set_deletable(window, t->closeButton ? TRUE : FALSE);
    gtk_window_set_skip_taskbar_hint(window, t->skipTaskbar ? TRUE : FALSE);
    gtk_window_set_skip_pager_hint(window, t->skipTaskbar ? TRUE : FALSE);
    gtk_window_set_modal(window, t->modal ? TRUE : FALSE);
    if (owner != nullptr) gtk_window_set_transient_for(window, owner);
    if (!t->headerBar) return;

    // As GtkDialog builds its header bar: the title, and the buttons of the desktop's layout
    // that a fixed, transient window may have (GTK leaves out minimise and maximise itself).
    GtkWidget* bar = gtk_header_bar_new();
    gtk_header_bar_set_title(GTK_HEADER_BAR(bar), title);
    gtk_header_bar_set_has_subtitle(GTK_HEADER_BAR(bar), FALSE);
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar), t->closeButton ? TRUE : FALSE);
    gtk_widget_show_all(bar);
    gtk_window_set_titlebar(window, bar);
}

const ToolkitFrame* appliedFrame(GtkWindow* window) {
    return static_cast<const ToolkitFrame*>(g_object_get_data(G_OBJECT(window), FRAME_KEY));
}

}  // namespace port
