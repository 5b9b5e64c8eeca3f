#include "dialog.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "user32.h"

namespace {

struct Control {
    HWND handle;
    const port::DialogControl* control;
    std::string text;
};

struct Dialog {
    DLGPROC proc = nullptr;
    HWND owner = nullptr;
    bool ended = false;
    INT_PTR result = 0;
    std::vector<Control> controls;
};

// Keyed by the dialog's handle; a control finds its dialog through controlOwners.
std::map<HWND, Dialog> dialogs;
std::map<HWND, HWND> controlOwners;

Dialog* dialogRecord(HWND dialog) {
    auto found = dialogs.find(dialog);
    return found == dialogs.end() ? nullptr : &found->second;
}

Control* controlRecord(HWND dialog, int id) {
    Dialog* d = dialogRecord(dialog);
    if (d == nullptr) return nullptr;
    for (Control& c : d->controls) {
        if (c.control->id == id) return &c;
    }
    return nullptr;
}

Control* controlRecord(HWND control) {
    auto owner = controlOwners.find(control);
    if (owner == controlOwners.end()) return nullptr;
    Dialog* d = dialogRecord(owner->second);
    if (d == nullptr) return nullptr;
    for (Control& c : d->controls) {
        if (c.handle == control) return &c;
    }
    return nullptr;
}

bool isClass(const port::DialogControl& control, const char* name) {
    return strcasecmp(control.className, name) == 0;
}

bool isPushButton(const port::DialogControl& control) {
    uint32_t type = control.style & BS_TYPEMASK;
    return isClass(control, "BUTTON") && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

// The button Enter presses when the focus is on no push button: the template's first
// DEFPUSHBUTTON; nullptr for a template without one.
const Control* defaultPushButton(const Dialog& d) {
    for (const Control& c : d.controls) {
        if (isClass(*c.control, "BUTTON") && (c.control->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return &c;
    }
    return nullptr;
}

int roundedMulDiv(int value, int numerator, int denominator) {
    // As MulDiv: the exact quotient rounded half away from zero.
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

void postCommand(HWND dialog, int id, HWND control) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

// A click or a key of the person's: input, in order with the rest.
void inputCommand(HWND dialog, int id, HWND control) {
    port::postInput(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

// What Windows' default dialog procedure adds to the program's: the close button means Cancel.
LRESULT CALLBACK dialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* d = dialogRecord(window);
    INT_PTR handled = d != nullptr ? d->proc(window, message, wParam, lParam) : FALSE;
    // For WM_INITDIALOG the answer says whether the layer sets the focus.
    if (message == WM_INITDIALOG) return handled != FALSE;
    if (handled != FALSE) return 0;
    if (message == WM_CLOSE) {
        postCommand(window, IDCANCEL, GetDlgItem(window, IDCANCEL));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK controlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The backend's widgets do the controls' work; closing one alone means nothing.
    if (message == WM_CLOSE) return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

port::DialogLayout build(HINSTANCE instance, const port::DialogResource& resource, HWND owner, DLGPROC proc,
                         port::Backend& backend) {
    port::DialogBaseUnits base = backend.dialogBaseUnits(resource);
    port::DialogLayout layout{};
    layout.owner = owner;
    layout.resource = &resource;
    layout.frame = port::frameOf(resource.style, owner != nullptr, port::WindowRole::ModalDialog);
    layout.rect = port::dialogUnitsToPixels(resource.x, resource.y, resource.width, resource.height, base);
    layout.dialog = port::createLayerWindow(dialogWindowProc, instance, resource.caption,
                                            layout.rect.right - layout.rect.left, layout.rect.bottom - layout.rect.top);
    Dialog& d = dialogs[layout.dialog];
    d.proc = proc;
    d.owner = owner;
    for (int i = 0; i < resource.controlCount; ++i) {
        const port::DialogControl& control = resource.controls[i];
        RECT rect = port::dialogUnitsToPixels(control.x, control.y, control.width, control.height, base);
        HWND handle = port::createLayerWindow(controlWindowProc, instance, control.text, rect.right - rect.left,
                                              rect.bottom - rect.top);
        controlOwners[handle] = layout.dialog;
        d.controls.push_back({handle, &control, control.text != nullptr ? control.text : ""});
        layout.controls.push_back({handle, &control, rect});
    }
    const Control* defaultButton = defaultPushButton(d);
    layout.defaultButton = defaultButton != nullptr ? defaultButton->handle : nullptr;
    return layout;
}

void destroy(HWND dialog, port::Backend& backend) {
    backend.closePopups(dialog);
    backend.destroyDialog(dialog);
    Dialog* d = dialogRecord(dialog);
    if (d != nullptr) {
        for (const Control& c : d->controls) {
            controlOwners.erase(c.handle);
            DestroyWindow(c.handle);
        }
    }
    DestroyWindow(dialog);
    dialogs.erase(dialog);
}

}  // namespace

namespace port {

RECT dialogUnitsToPixels(int x, int y, int width, int height, DialogBaseUnits base) {
    RECT rect;
    rect.left = roundedMulDiv(x, base.x, 4);
    rect.top = roundedMulDiv(y, base.y, 8);
    rect.right = rect.left + roundedMulDiv(width, base.x, 4);
    rect.bottom = rect.top + roundedMulDiv(height, base.y, 8);
    return rect;
}

RECT keptInWorkArea(RECT window, RECT workArea) {
    LONG width = window.right - window.left;
    LONG height = window.bottom - window.top;
    LONG left = std::max(std::min(window.left, workArea.right - width), workArea.left);
    LONG top = std::max(std::min(window.top, workArea.bottom - height), workArea.top);
    return RECT{left, top, left + width, top + height};
}

void controlTextChanged(HWND control, const char* text) {
    Control* c = controlRecord(control);
    if (c != nullptr) c->text = text != nullptr ? text : "";
}

void buttonClicked(HWND control) {
    Control* c = controlRecord(control);
    if (c == nullptr || !isPushButton(*c->control) || IsWindowEnabled(controlOwners[control]) == FALSE) return;
    inputCommand(controlOwners[control], c->control->id, control);
}

void dialogKeyPressed(HWND dialog, DialogKey key, HWND focus) {
    Dialog* d = dialogRecord(dialog);
    if (d == nullptr || IsWindowEnabled(dialog) == FALSE) return;
    if (key == DialogKey::Escape) {
        inputCommand(dialog, IDCANCEL, GetDlgItem(dialog, IDCANCEL));
        return;
    }
    Control* focused = controlRecord(focus);
    if (focused != nullptr && controlOwners[focus] == dialog && isPushButton(*focused->control)) {
        inputCommand(dialog, focused->control->id, focus);
        return;
    }
    if (const Control* c = defaultPushButton(*d)) {
        inputCommand(dialog, c->control->id, c->handle);
        return;
    }
    // A template without a default button still answers Enter with OK.
    inputCommand(dialog, IDOK, GetDlgItem(dialog, IDOK));
}

HWND nextTabStop(HWND dialog, HWND from, bool backward) {
    Dialog* d = dialogRecord(dialog);
    if (d == nullptr || d->controls.empty()) return nullptr;
    int count = static_cast<int>(d->controls.size());
    int start = -1;
    for (int i = 0; i < count; ++i) {
        if (d->controls[static_cast<std::size_t>(i)].handle == from) start = i;
    }
    if (start < 0) start = backward ? 0 : count - 1;
    for (int step = 1; step <= count; ++step) {
        int i = ((start + (backward ? -step : step)) % count + count) % count;
        const Control& c = d->controls[static_cast<std::size_t>(i)];
        if ((c.control->style & (WS_TABSTOP | WS_VISIBLE)) == (WS_TABSTOP | WS_VISIBLE)) return c.handle;
    }
    return nullptr;
}

}  // namespace port

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC dialogProc,
                               LPARAM initParam) {
    const port::DialogResource* resource = port::findDialog(templateName);
    if (resource == nullptr || dialogProc == nullptr) return -1;
    port::Backend& backend = port::currentBackend();
    port::DialogLayout layout = build(instance, *resource, owner, dialogProc, backend);
    HWND dialog = layout.dialog;
    backend.createDialog(layout);

    // The owner takes no input while the dialog runs.
    bool disabledOwner = owner != nullptr && IsWindowEnabled(owner);
    if (disabledOwner) EnableWindow(owner, FALSE);
    HWND focus = port::nextTabStop(dialog, nullptr, false);
    if (SendMessageA(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), initParam) == FALSE) focus = nullptr;

    INT_PTR result = 0;
    Dialog* d = dialogRecord(dialog);
    if (d != nullptr && !d->ended) {
        ShowWindow(dialog, SW_SHOW);
        backend.showDialog(dialog, focus);
    }
    // Every message of the thread goes through here meanwhile, so the owner keeps ticking and
    // painting behind the dialog.
    MSG msg{};
    while ((d = dialogRecord(dialog)) != nullptr && !d->ended) {
        if (!GetMessageA(&msg, nullptr, 0, 0)) {
            // The outer loop must see the quit message too.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        DispatchMessageA(&msg);
    }
    if ((d = dialogRecord(dialog)) != nullptr && d->ended) result = d->result;

    if (disabledOwner) EnableWindow(owner, TRUE);
    destroy(dialog, backend);
    return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    Dialog* d = dialogRecord(dialog);
    if (d == nullptr) return FALSE;
    d->ended = true;
    d->result = result;
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    Control* c = controlRecord(dialog, id);
    return c == nullptr ? nullptr : c->handle;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    Control* c = controlRecord(dialog, id);
    if (c == nullptr) return FALSE;
    c->text = text != nullptr ? text : "";
    port::currentBackend().setControlText(c->handle, c->text.c_str());
    return TRUE;
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size) {
    if (text == nullptr || size <= 0) return 0;
    Control* c = controlRecord(dialog, id);
    std::size_t length = c == nullptr ? 0 : c->text.size();
    std::size_t n = std::min(length, static_cast<std::size_t>(size - 1));
    // Never stop inside a UTF-8 sequence: a cut character is left out whole.
    while (n > 0 && n < length && (static_cast<unsigned char>(c->text[n]) & 0xC0) == 0x80) --n;
    if (n > 0) std::memcpy(text, c->text.data(), n);
    text[n] = '\0';
    return static_cast<UINT>(n);
}
