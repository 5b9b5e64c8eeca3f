// Dialogs as GTK windows: a fixed layout with one widget per template control. The widgets
// only relay what the person does (typing, clicks, Enter, Escape, Tab, the close button) to
// the layer, which decides; nothing here calls the program.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "backend.h"
#include "mnemonic.h"
#include "toolkitframe.h"

namespace {

struct NativeDialog {
    GtkWidget* window = nullptr;
    HWND owner = nullptr;
    RECT rect{};
    std::vector<HWND> controls;
};

std::map<HWND, NativeDialog> nativeDialogs;
std::map<HWND, GtkWidget*> controlWidgets;

constexpr const char* HANDLE_KEY = "orrelune-handle";

HWND handleOf(GtkWidget* widget) {
    return widget == nullptr ? nullptr : static_cast<HWND>(g_object_get_data(G_OBJECT(widget), HANDLE_KEY));
}

// GTK takes only valid UTF-8; the layer's texts are the program's bytes.
std::string validText(const char* text) {
    if (text == nullptr) return {};
    if (g_utf8_validate(text, -1, nullptr)) return text;
    gchar* valid = g_utf8_make_valid(text, -1);
    std::string result = valid;
    g_free(valid);
    return result;
}

// The template's font for Pango and CSS: "MS Shell Dlg" is a Windows alias, so the desktop's
// sans-serif font stands in when no font answers to it (and fills in the Japanese glyphs).
std::string fontFamilies(const port::DialogResource& dialog) {
    std::string name = dialog.fontName != nullptr ? dialog.fontName : "";
    std::erase_if(name, [](char c) { return c == '"' || c == '\\' || c == ',' || c == ';'; });
    return name.empty() ? "Sans" : name + ",Sans";
}

std::string dialogCss(const port::DialogResource& dialog) {
    std::string families = fontFamilies(dialog);
    std::string cssFamilies;
    for (std::size_t start = 0; start < families.size();) {
        std::size_t comma = std::min(families.find(',', start), families.size());
        if (!cssFamilies.empty()) cssFamilies += ", ";
        cssFamilies += '"' + families.substr(start, comma - start) + '"';
        start = comma + 1;
    }
    int points = dialog.pointSize > 0 ? dialog.pointSize : 8;
    int weight = std::clamp(dialog.weight > 0 ? dialog.weight : 400, 100, 900) / 100 * 100;
    // Controls as small as the template makes them: the theme's minimum sizes would overflow.
    return "* { font-family: " + cssFamilies + "; font-size: " + std::to_string(points) +
           "pt; font-weight: " + std::to_string(weight) + "; font-style: " + (dialog.italic ? "italic" : "normal") +
           "; }\n"
           "entry { min-height: 0; min-width: 0; padding: 0 3px; margin: 0; border-radius: 0; }\n"
           "button { min-height: 0; min-width: 0; padding: 0 2px; margin: 0; }\n";
}

void applyCss(GtkWidget* widget, GtkCssProvider* css) {
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void onClicked(GtkButton* button, gpointer /*data*/) { port::buttonClicked(handleOf(GTK_WIDGET(button))); }

void onChanged(GtkEditable* editable, gpointer /*data*/) {
    port::controlTextChanged(handleOf(GTK_WIDGET(editable)), gtk_entry_get_text(GTK_ENTRY(editable)));
}

gboolean onDialogDelete(GtkWidget* /*window*/, GdkEvent* /*event*/, gpointer data) {
    // The dialog procedure (or the layer after it) turns this into Cancel.
    port::closeRequested(static_cast<HWND>(data));
    return TRUE;
}

bool dialogKey(guint keyval) {
    switch (keyval) {
    case GDK_KEY_Escape:
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
    case GDK_KEY_Tab:
    case GDK_KEY_KP_Tab:
    case GDK_KEY_ISO_Left_Tab:
        return true;
    default:
        return false;
    }
}

gboolean onDialogKey(GtkWidget* window, GdkEventKey* event, gpointer data) {
    if (!dialogKey(event->keyval)) return FALSE;
    HWND dialog = static_cast<HWND>(data);
    GtkWidget* focused = gtk_window_get_focus(GTK_WINDOW(window));
    // The box's input method first, as Windows and GTK's own dialogs do: Enter confirms a
    // composition and Escape cancels it, before either means the dialog.
    if (focused != nullptr && GTK_IS_ENTRY(focused) &&
        gtk_entry_im_context_filter_keypress(GTK_ENTRY(focused), event) != FALSE) {
        return TRUE;
    }
    HWND focus = handleOf(focused);
    switch (event->keyval) {
    case GDK_KEY_Escape:
        port::dialogKeyPressed(dialog, port::DialogKey::Escape, focus);
        return TRUE;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
        port::dialogKeyPressed(dialog, port::DialogKey::Return, focus);
        return TRUE;
    case GDK_KEY_Tab:
    case GDK_KEY_KP_Tab:
    case GDK_KEY_ISO_Left_Tab: {
        // Template order, as Windows moves the focus, not GTK's order by position.
        bool backward = event->keyval == GDK_KEY_ISO_Left_Tab || (event->state & GDK_SHIFT_MASK) != 0;
        auto next = controlWidgets.find(port::nextTabStop(dialog, focus, backward));
        if (next != controlWidgets.end()) gtk_widget_grab_focus(next->second);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

void onClientAreaRealize(GtkWidget* area, gpointer /*data*/) {
    // Only X has child windows that other programs see.
    if (port::placesWindows()) gdk_window_ensure_native(gtk_widget_get_window(area));
}

gboolean onClientAreaDraw(GtkWidget* area, cairo_t* cr, gpointer /*data*/) {
    // The dialog's own background, under the controls (drawn after this).
    gtk_render_background(gtk_widget_get_style_context(gtk_widget_get_toplevel(area)), cr, 0, 0,
                          gtk_widget_get_allocated_width(area), gtk_widget_get_allocated_height(area));
    return FALSE;
}

GtkWidget* makeControl(const port::DialogControl& control) {
    std::string text = validText(control.text);
    const char* className = control.className != nullptr ? control.className : "";
    if (g_ascii_strcasecmp(className, "BUTTON") == 0) {
        GtkWidget* button = gtk_button_new_with_mnemonic(port::mnemonicLabel(text.c_str()).c_str());
        g_signal_connect(button, "clicked", G_CALLBACK(onClicked), nullptr);
        // As in GTK's own dialogs (and on Windows), a focused push button takes the default
        // look from the default button while it has the focus, since Enter presses it then.
        uint32_t type = control.style & BS_TYPEMASK;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) gtk_widget_set_can_default(button, TRUE);
        return button;
    }
    if (g_ascii_strcasecmp(className, "EDIT") == 0) {
        GtkWidget* entry = gtk_entry_new();
        // No minimum of characters: the template sets the width. The entry scrolls its text
        // sideways as ES_AUTOHSCROLL asks.
        gtk_entry_set_width_chars(GTK_ENTRY(entry), 0);
        gtk_entry_set_has_frame(GTK_ENTRY(entry), (control.style & WS_BORDER) != 0);
        uint32_t align = control.style & (ES_CENTER | ES_RIGHT);
        gtk_entry_set_alignment(GTK_ENTRY(entry), align == ES_CENTER ? 0.5f : align == ES_RIGHT ? 1.0f : 0.0f);
        gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
        g_signal_connect(entry, "changed", G_CALLBACK(onChanged), nullptr);
        return entry;
    }
    // STATIC, and any class the layer does not know, shows its text.
    GtkWidget* label = gtk_label_new(text.c_str());
    uint32_t type = control.style & SS_TYPEMASK;
    float xalign = type == SS_CENTER ? 0.5f : type == SS_RIGHT ? 1.0f : 0.0f;
    gtk_label_set_xalign(GTK_LABEL(label), xalign);
    gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_justify(GTK_LABEL(label), type == SS_CENTER  ? GTK_JUSTIFY_CENTER
                                            : type == SS_RIGHT ? GTK_JUSTIFY_RIGHT
                                                               : GTK_JUSTIFY_LEFT);
    // Static text wraps within its rectangle, between words or, for Japanese, characters.
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    return label;
}

// The button Enter presses, shown as the toolkit shows its default button: GTK gives it the
// "default" style class while it has the default, and the theme draws that.
void showAsDefault(GtkWindow* window, GtkWidget* button) {
    gtk_widget_set_can_default(button, TRUE);
    gtk_window_set_default(window, button);
    const port::ToolkitFrame* frame = port::appliedFrame(window);
    const char* styleClass = frame != nullptr ? port::defaultButtonStyleClass(*frame) : nullptr;
    if (styleClass != nullptr) gtk_style_context_add_class(gtk_widget_get_style_context(button), styleClass);
}

// Windows places a dialog relative to its owner's client area, and keeps a new one inside the
// work area of the owner's monitor; the frame is taken to be as wide as the owner's, which the
// same window manager draws.
void placeDialog(GtkWindow* window, const RECT& rect, GtkWidget* ownerWindow, GtkWidget* ownerArea) {
    GdkWindow* owner = gtk_widget_get_window(ownerWindow);
    int x = 0;
    int y = 0;
    gdk_window_get_origin(owner, &x, &y);
    int areaX = 0;
    int areaY = 0;
    gtk_widget_translate_coordinates(ownerArea, ownerWindow, 0, 0, &areaX, &areaY);
    GdkRectangle outer;
    gdk_window_get_frame_extents(owner, &outer);
    int left = x - outer.x;
    int top = y - outer.y;
    int right = outer.x + outer.width - (x + gdk_window_get_width(owner));
    int bottom = outer.y + outer.height - (y + gdk_window_get_height(owner));
    // The client area goes there and the window manager's frame around it, as Windows places a
    // dialog; a header bar of GTK's own sits inside the window, at the top.
    const port::ToolkitFrame* frame = port::appliedFrame(window);
    if (frame == nullptr || !frame->headerBar) gtk_window_set_gravity(window, GDK_GRAVITY_STATIC);
    LONG clientX = x + areaX + rect.left;
    LONG clientY = y + areaY + rect.top;
    RECT wanted{clientX - left, clientY - top, clientX + (rect.right - rect.left) + right,
                clientY + (rect.bottom - rect.top) + bottom};
    GdkMonitor* monitor = gdk_display_get_monitor_at_window(gdk_window_get_display(owner), owner);
    if (monitor != nullptr) {
        GdkRectangle work;
        gdk_monitor_get_workarea(monitor, &work);
        RECT kept = port::keptInWorkArea(wanted, RECT{work.x, work.y, work.x + work.width, work.y + work.height});
        clientX = kept.left + left;
        clientY = kept.top + top;
    }
    gtk_window_move(window, clientX, clientY);
}

}  // namespace

namespace port {

GtkWidget* nativeDialogWindow(HWND dialog) {
    auto found = nativeDialogs.find(dialog);
    return found == nativeDialogs.end() ? nullptr : found->second.window;
}

DialogBaseUnits GtkBackend::dialogBaseUnits(const DialogResource& dialog) {
    // As Windows measures a dialog font: the mean width of the 52 Latin letters, rounded, and
    // the font's full height (ascent and descent).
    PangoContext* context = gdk_pango_context_get();
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, fontFamilies(dialog).c_str());
    pango_font_description_set_size(font, (dialog.pointSize > 0 ? dialog.pointSize : 8) * PANGO_SCALE);
    pango_font_description_set_weight(font, static_cast<PangoWeight>(dialog.weight > 0 ? dialog.weight : 400));
    pango_font_description_set_style(font, dialog.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    PangoFontMetrics* metrics = pango_context_get_metrics(context, font, nullptr);
    int height = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics)) +
                 PANGO_PIXELS(pango_font_metrics_get_descent(metrics));
    pango_font_metrics_unref(metrics);
    g_object_unref(layout);
    pango_font_description_free(font);
    g_object_unref(context);
    DialogBaseUnits base{(width / 26 + 1) / 2, height};
    if (base.x <= 0 || base.y <= 0) return Backend::dialogBaseUnits(dialog);
    return base;
}

void GtkBackend::createDialog(const DialogLayout& layout) {
    NativeDialog native;
    native.owner = layout.owner;
    native.rect = layout.rect;
    native.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(native.window);
    std::string caption = validText(layout.resource->caption);
    gtk_window_set_title(window, caption.c_str());
    GtkWidget* ownerWindow = nativeWindow(layout.owner);
    applyFrame(window, layout.frame, ownerWindow != nullptr ? GTK_WINDOW(ownerWindow) : nullptr, caption.c_str());

    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, dialogCss(*layout.resource).c_str(), -1, nullptr);
    applyCss(native.window, css);
    // The client area is a window of its own, as on Windows, so that whatever looks at the
    // windows (the end-to-end tests do) finds where the caption ends; it paints the background.
    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_has_window(fixed, TRUE);
    g_signal_connect_after(fixed, "realize", G_CALLBACK(onClientAreaRealize), nullptr);
    g_signal_connect(fixed, "draw", G_CALLBACK(onClientAreaDraw), nullptr);
    gtk_widget_set_size_request(fixed, layout.rect.right - layout.rect.left, layout.rect.bottom - layout.rect.top);
    gtk_container_add(GTK_CONTAINER(native.window), fixed);
    for (const LaidOutControl& c : layout.controls) {
        GtkWidget* widget = makeControl(*c.control);
        applyCss(widget, css);
        if (GTK_IS_BUTTON(widget)) {
            GtkWidget* child = gtk_bin_get_child(GTK_BIN(widget));
            if (child != nullptr) applyCss(child, css);
        }
        g_object_set_data(G_OBJECT(widget), HANDLE_KEY, c.handle);
        int width = c.rect.right - c.rect.left;
        int height = c.rect.bottom - c.rect.top;
        gtk_widget_set_size_request(widget, width, height);
        // Each control is clipped to its rectangle, as Windows clips a child window: a text
        // wider than its control must not widen the control or the dialog.
        GtkWidget* clip = gtk_layout_new(nullptr, nullptr);
        gtk_widget_set_size_request(clip, width, height);
        gtk_layout_put(GTK_LAYOUT(clip), widget, 0, 0);
        gtk_fixed_put(GTK_FIXED(fixed), clip, c.rect.left, c.rect.top);
        if ((c.control->style & WS_VISIBLE) == 0) gtk_widget_set_no_show_all(clip, TRUE);
        if (c.handle == layout.defaultButton && GTK_IS_BUTTON(widget)) showAsDefault(window, widget);
        controlWidgets[c.handle] = widget;
        native.controls.push_back(c.handle);
    }
    g_object_unref(css);
    g_signal_connect(native.window, "delete-event", G_CALLBACK(onDialogDelete), layout.dialog);
    g_signal_connect(native.window, "key-press-event", G_CALLBACK(onDialogKey), layout.dialog);
    nativeDialogs[layout.dialog] = native;
}

void GtkBackend::showDialog(HWND dialog, HWND focus) {
    auto found = nativeDialogs.find(dialog);
    if (found == nativeDialogs.end()) return;
    NativeDialog& native = found->second;
    GtkWindow* window = GTK_WINDOW(native.window);
    GtkWidget* ownerWindow = nativeWindow(native.owner);
    GtkWidget* ownerArea = nativeClientArea(native.owner);
    // Where a client cannot place its windows (Wayland), the compositor places a transient dialog.
    if (placesWindows() && ownerWindow != nullptr && ownerArea != nullptr && gtk_widget_get_realized(ownerArea)) {
        placeDialog(window, native.rect, ownerWindow, ownerArea);
    } else if (ownerWindow == nullptr) {
        gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    }
    gtk_widget_show_all(native.window);
    auto focusWidget = controlWidgets.find(focus);
    if (focusWidget != controlWidgets.end()) gtk_widget_grab_focus(focusWidget->second);
    gtk_window_present(window);
}

void GtkBackend::destroyDialog(HWND dialog) {
    auto found = nativeDialogs.find(dialog);
    if (found == nativeDialogs.end()) return;
    for (HWND control : found->second.controls) controlWidgets.erase(control);
    gtk_widget_destroy(found->second.window);
    nativeDialogs.erase(found);
}

void GtkBackend::setControlText(HWND control, const char* text) {
    auto found = controlWidgets.find(control);
    if (found == controlWidgets.end()) return;
    std::string valid = validText(text);
    GtkWidget* widget = found->second;
    if (GTK_IS_ENTRY(widget)) {
        gtk_entry_set_text(GTK_ENTRY(widget), valid.c_str());
    } else if (GTK_IS_BUTTON(widget)) {
        gtk_button_set_label(GTK_BUTTON(widget), mnemonicLabel(valid.c_str()).c_str());
    } else if (GTK_IS_LABEL(widget)) {
        gtk_label_set_text(GTK_LABEL(widget), valid.c_str());
    }
}

}  // namespace port
