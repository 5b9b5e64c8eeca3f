#include "toolkitframe.h"

namespace {

// A caption of our own as tight as a Windows one; the scope class keeps it off other windows.
constexpr const char* OWN_CAPTION_CLASS = "orrelune-own-caption";
constexpr const char* OWN_CAPTION_CSS =
    "window.orrelune-own-caption decoration { margin: 0; box-shadow: none; border-radius: 0; }\n"
    "window.orrelune-own-caption headerbar { min-height: 0; padding: 0 0 0 6px; border-radius: 0; }\n"
    "window.orrelune-own-caption headerbar button { min-height: 0; min-width: 0; padding: 2px 6px; "
    "margin: 0; }\n";

void installOwnCaptionStyle() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, OWN_CAPTION_CSS, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

void onRealize(GtkWidget* widget, gpointer /*data*/) {
    // Motif hints go on the native window, which exists only now.
    auto* frame = static_cast<const port::ToolkitFrame*>(g_object_get_data(G_OBJECT(widget), "orrelune-frame"));
    GdkWindow* window = gtk_widget_get_window(widget);
    if (frame == nullptr || window == nullptr || frame->ownCaption || !frame->decorated) return;
    gdk_window_set_decorations(window, frame->decorations);
    gdk_window_set_functions(window, frame->functions);
}

}  // namespace

namespace port {

ToolkitFrame toolkitFrame(const WindowFrame& frame) {
    ToolkitFrame t;
    t.decorated = frame.caption || frame.sizingBorder;
    t.ownCaption = frame.caption && !(frame.closeButton && frame.minimizeButton && frame.maximizeButton);
    if (t.ownCaption) {
        static constexpr const char* LAYOUTS[8] = {":",
                                                   ":close",
                                                   ":maximize",
                                                   ":maximize,close",
                                                   ":minimize",
                                                   ":minimize,close",
                                                   ":minimize,maximize",
                                                   ":minimize,maximize,close"};
        t.captionButtons = LAYOUTS[(frame.minimizeButton ? 4 : 0) | (frame.maximizeButton ? 2 : 0) |
                                   (frame.closeButton ? 1 : 0)];
    }
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

void applyFrame(GtkWindow* window, const WindowFrame& frame, GtkWindow* owner, const char* title) {
    auto* t = new ToolkitFrame(toolkitFrame(frame));
    g_object_set_data_full(G_OBJECT(window), "orrelune-frame", t,
                           [](gpointer data) { delete static_cast<ToolkitFrame*>(data); });
    g_signal_connect_after(window, "realize", G_CALLBACK(onRealize), nullptr);

    gtk_window_set_type_hint(window, t->typeHint);
    gtk_window_set_resizable(window, t->resizable ? TRUE : FALSE);
    gtk_window_set_decorated(window, t->decorated ? TRUE : FALSE);
    gtk_window_set_deletable(window, frame.closeButton ? TRUE : FALSE);
    gtk_window_set_skip_taskbar_hint(window, t->skipTaskbar ? TRUE : FALSE);
    gtk_window_set_skip_pager_hint(window, t->skipTaskbar ? TRUE : FALSE);
    gtk_window_set_modal(window, t->modal ? TRUE : FALSE);
    if (owner != nullptr) gtk_window_set_transient_for(window, owner);
    if (!t->ownCaption) return;

    installOwnCaptionStyle();
    gtk_style_context_add_class(gtk_widget_get_style_context(GTK_WIDGET(window)), OWN_CAPTION_CLASS);
    GtkWidget* bar = gtk_header_bar_new();
    // The window's title follows the bar's.
    gtk_header_bar_set_title(GTK_HEADER_BAR(bar), title);
    gtk_header_bar_set_has_subtitle(GTK_HEADER_BAR(bar), FALSE);
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar), TRUE);
    gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(bar), t->captionButtons);
    gtk_widget_show_all(bar);
    gtk_window_set_titlebar(window, bar);
}

}  // namespace port
