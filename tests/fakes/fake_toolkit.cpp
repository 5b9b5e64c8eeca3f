#include "fake_toolkit.h"

#include <algorithm>

#include "dialog.h"

namespace fake {

uint64_t now = 0;

namespace {

uint64_t fakeClock() { return now; }

}  // namespace

void Toolkit::install(uint64_t startMs) {
    port::resetUser32();
    port::setBackend(this);
    port::setClock(fakeClock);
    now = startMs;
}

void Toolkit::uninstall() {
    port::resetUser32();
    port::setBackend(nullptr);
    port::setClock(nullptr);
}

void Toolkit::fitClientSize(int& width, int& height) {
    width = std::min(width, screenWidth);
    height = std::min(height, screenHeight);
}

void Toolkit::screenSize(HWND window, int& width, int& height) {
    auto monitor = monitors.find(window);
    width = monitor != monitors.end() ? monitor->second.first : screenWidth;
    height = monitor != monitors.end() ? monitor->second.second : screenHeight;
}

void Toolkit::createWindow(HWND window, const char* title, const port::MenuResource* m, int, int) {
    created = window;
    createdTitle = title;
    menu = m;
}

void Toolkit::frameWindow(HWND window, HWND owner, const port::WindowFrame& frame) {
    frames.push_back({window, owner, frame});
}

void Toolkit::closePopups(HWND window) {
    if (popupOver != window) return;
    popupOver = nullptr;
    calls.push_back("closePopups");
}

void Toolkit::enableWindow(HWND window, bool enabled) { enables.push_back({window, enabled}); }

void Toolkit::present(HWND) { ++presents; }

bool Toolkit::dispatchEvent() {
    ++polls;
    if (onPoll) onPoll(polls);
    if (!pending.empty()) {
        auto event = pending.front();
        pending.pop_front();
        ++delivered;
        event();
        return true;
    }
    if (dialog != nullptr && !actions.empty()) {
        idlePolls = 0;
        auto action = actions.front();
        actions.pop_front();
        action();
    } else if (dialog != nullptr && ++idlePolls > PATIENCE_POLLS) {
        idlePolls = 0;
        EndDialog(dialog, GAVE_UP);
        // A message for the dialog's loop to wake up to and see that it ended.
        PostMessageA(dialog, WM_NULL, 0, 0);
    }
    return false;
}

void Toolkit::wait(int timeoutMs) {
    waits.push_back(timeoutMs);
    now += static_cast<uint64_t>(timeoutMs < 0 ? 1 : timeoutMs);
}

void Toolkit::createDialog(const port::DialogLayout& l) {
    layout = l;
    ++dialogsCreated;
    boxes.clear();
}

void Toolkit::showDialog(HWND d, HWND f) {
    dialog = d;
    focus = f;
    ++opened;
    shownTexts = boxes;
    openDialogs.push_back(d);
    mostOpenAtOnce = std::max(mostOpenAtOnce, static_cast<int>(openDialogs.size()));
}

void Toolkit::destroyDialog(HWND d) {
    destroyed.push_back(d);
    calls.push_back("destroyDialog");
    std::erase(openDialogs, d);
    dialog = openDialogs.empty() ? nullptr : openDialogs.back();
}

void Toolkit::setControlText(HWND control, const char* text) { boxes[idOf(control)] = text; }

void Toolkit::messageBox(HWND owner, const char* text, const char* caption, bool error) {
    messageBoxes.push_back({owner, text, caption, error});
}

void Toolkit::type(int id, const std::string& text) {
    actions.push_back([this, id, text] {
        boxes[id] = text;
        port::controlTextChanged(control(id), text.c_str());
    });
}

void Toolkit::press(int id) {
    actions.push_back([this, id] { port::buttonClicked(control(id)); });
}

HWND Toolkit::control(int id) const {
    for (const auto& c : layout.controls) {
        if (c.control->id == id) return c.handle;
    }
    return nullptr;
}

int Toolkit::idOf(HWND control) const {
    for (const auto& c : layout.controls) {
        if (c.handle == control) return c.control->id;
    }
    return 0;
}

}  // namespace fake
