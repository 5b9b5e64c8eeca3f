#include "user32.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct WindowClass {
    std::string name;
    UINT style = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HBRUSH background = nullptr;
    const port::MenuResource* menu = nullptr;
};

struct Window {
    const WindowClass* windowClass = nullptr;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    std::string title;
    HBITMAP surface = nullptr;
    int width = 0;
    int height = 0;
    // The client area's top-left corner on the screen.
    int screenX = 0;
    int screenY = 0;
    bool visible = false;
    bool enabled = true;
    bool invalid = false;
    bool erase = false;
    RECT invalidRect{};
};

struct Timer {
    HWND window;
    UINT_PTR id;
    uint64_t period;
    uint64_t due;
    TIMERPROC proc;
};

// Input is dropped at its turn when its window is disabled by then; what the program posts is not.
struct Posted {
    MSG msg;
    bool input;
};

struct State {
    std::map<std::string, std::unique_ptr<WindowClass>> classes;
    // Keyed by handle value, which grows with every window: iteration is creation order.
    std::map<uintptr_t, std::unique_ptr<Window>> windows;
    uintptr_t nextHandle = 0x10002;
    std::deque<Posted> posted;
    // Counts the input messages ever posted, so a poll sees whether an event gave any.
    uint64_t inputsPosted = 0;
    bool quitPending = false;
    int quitCode = 0;
    std::vector<Timer> timers;
    UINT_PTR nextThreadTimerId = 1;
};

State& state() {
    static State instance;
    return instance;
}

port::Backend defaultBackend;
port::Backend* backend = &defaultBackend;

uint64_t steadyMilliseconds() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

port::Clock currentTime = steadyMilliseconds;

Window* find(HWND handle) {
    auto& windows = state().windows;
    auto found = windows.find(reinterpret_cast<uintptr_t>(handle));
    return found == windows.end() ? nullptr : found->second.get();
}

HWND handleOf(uintptr_t key) { return reinterpret_cast<HWND>(key); }

bool matches(const MSG& msg, HWND window, UINT filterMin, UINT filterMax) {
    if (window != nullptr && msg.hwnd != window) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return msg.message >= filterMin && msg.message <= filterMax;
}

MSG makeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = static_cast<DWORD>(currentTime());
    return msg;
}

// The part of the client area the surface keeps: all of it, or as much as its monitor shows at
// once, over the part that is on the monitor now.
RECT keptPart(HWND window, const Window& w) {
    int screenWidth = INT_MAX;
    int screenHeight = INT_MAX;
    backend->screenSize(window, screenWidth, screenHeight);
    int width = std::min(w.width, std::max(screenWidth, 1));
    int height = std::min(w.height, std::max(screenHeight, 1));
    int left = static_cast<int>(std::clamp<int64_t>(-static_cast<int64_t>(w.screenX), 0, w.width - width));
    int top = static_cast<int>(std::clamp<int64_t>(-static_cast<int64_t>(w.screenY), 0, w.height - height));
    return RECT{left, top, left + width, top + height};
}

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Moves the surface over the part to keep; true when that part changed.
bool placeKeptPart(HWND window, Window& w) {
    RECT kept = keptPart(window, w);
    port::PixelView now = port::bitmapPixels(w.surface);
    if (sameRect(kept, RECT{now.x, now.y, now.x + now.width, now.y + now.height})) return false;
    port::placeSurface(w.surface, kept);
    return true;
}

void invalidate(Window& w, const RECT* rect, bool erase) {
    RECT r = rect != nullptr ? *rect : RECT{0, 0, w.width, w.height};
    r.left = std::max<LONG>(r.left, 0);
    r.top = std::max<LONG>(r.top, 0);
    r.right = std::min<LONG>(r.right, w.width);
    r.bottom = std::min<LONG>(r.bottom, w.height);
    if (r.left >= r.right || r.top >= r.bottom) return;
    if (w.invalid) {
        r.left = std::min(r.left, w.invalidRect.left);
        r.top = std::min(r.top, w.invalidRect.top);
        r.right = std::max(r.right, w.invalidRect.right);
        r.bottom = std::max(r.bottom, w.invalidRect.bottom);
    }
    w.invalidRect = r;
    w.invalid = true;
    w.erase = w.erase || erase;
}

// Retrieval order: posted messages, then the quit message, then a paint for the first window
// that needs one, then the timer that has waited longest. Paints and timer messages are made
// when they are taken, so neither can pile up.
bool takeMessage(MSG& msg, HWND window, UINT filterMin, UINT filterMax, bool remove) {
    State& s = state();
    for (auto it = s.posted.begin(); it != s.posted.end();) {
        if (!matches(it->msg, window, filterMin, filterMax)) {
            ++it;
            continue;
        }
        if (it->input && IsWindowEnabled(it->msg.hwnd) == FALSE) {
            it = s.posted.erase(it);
            continue;
        }
        msg = it->msg;
        if (remove) s.posted.erase(it);
        return true;
    }
    if (s.quitPending && matches(makeMessage(nullptr, WM_QUIT, 0, 0), nullptr, filterMin, filterMax)) {
        msg = makeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(s.quitCode), 0);
        if (remove) s.quitPending = false;
        return true;
    }
    for (auto& [key, w] : s.windows) {
        if (!w->visible || !w->invalid) continue;
        MSG paint = makeMessage(handleOf(key), WM_PAINT, 0, 0);
        if (!matches(paint, window, filterMin, filterMax)) continue;
        msg = paint;
        return true;
    }
    uint64_t now = currentTime();
    Timer* due = nullptr;
    for (Timer& t : s.timers) {
        if (t.due > now) continue;
        if (!matches(makeMessage(t.window, WM_TIMER, 0, 0), window, filterMin, filterMax)) continue;
        if (due == nullptr || t.due < due->due) due = &t;
    }
    if (due == nullptr) return false;
    msg = makeMessage(due->window, WM_TIMER, due->id, reinterpret_cast<LPARAM>(due->proc));
    // However late, one message; the next period counts from now.
    if (remove) due->due = now + due->period;
    return true;
}

bool inputWaiting() {
    const auto& posted = state().posted;
    return std::any_of(posted.begin(), posted.end(), [](const Posted& p) { return p.input; });
}

// Input and painting first: what the toolkit already has, bounded, up to the first event that
// gave the program input, and none while input waits to be taken.
void dispatchToolkitEvents() {
    State& s = state();
    if (inputWaiting()) return;
    uint64_t inputs = s.inputsPosted;
    for (int i = 0; i < port::MAX_EVENTS_PER_POLL && s.inputsPosted == inputs && backend->dispatchEvent(); ++i) {
    }
}

// How long until the next timer is due: 0 when one is, -1 when there is none.
int millisecondsToNextTimer() {
    State& s = state();
    if (s.timers.empty()) return -1;
    uint64_t now = currentTime();
    uint64_t next = UINT64_MAX;
    for (const Timer& t : s.timers) next = std::min(next, t.due);
    if (next <= now) return 0;
    return static_cast<int>(std::min<uint64_t>(next - now, 0x7FFFFFFF));
}

}  // namespace

namespace port {

void Backend::wait(int timeoutMs) {
    // Nothing can arrive from outside without a toolkit: just let the time pass.
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs < 0 ? 1 : timeoutMs));
}

void setBackend(Backend* b) { backend = b != nullptr ? b : &defaultBackend; }

Backend& currentBackend() { return *backend; }

void setClock(Clock c) { currentTime = c != nullptr ? c : steadyMilliseconds; }

void postInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsWindowEnabled(window) == FALSE) return;
    State& s = state();
    s.posted.push_back({makeMessage(window, message, wParam, lParam), true});
    ++s.inputsPosted;
}

void menuChosen(HWND window, int id) { postInput(window, WM_COMMAND, static_cast<WPARAM>(static_cast<WORD>(id)), 0); }

void closeRequested(HWND window) { postInput(window, WM_CLOSE, 0, 0); }

void clientResized(HWND window, int width, int height) {
    Window* w = find(window);
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (w == nullptr || (w->width == width && w->height == height)) return;
    w->width = width;
    w->height = height;
    placeKeptPart(window, *w);
    // Both class styles this program uses (CS_HREDRAW | CS_VREDRAW) ask for the whole area.
    invalidate(*w, nullptr, true);
}

void clientMoved(HWND window, int x, int y) {
    Window* w = find(window);
    if (w == nullptr || (w->screenX == x && w->screenY == y)) return;
    w->screenX = x;
    w->screenY = y;
    // What comes into the kept part is painted anew, as uncovered parts are on Windows.
    if (placeKeptPart(window, *w)) {
        PixelView kept = bitmapPixels(w->surface);
        RECT part{kept.x, kept.y, kept.x + kept.width, kept.y + kept.height};
        invalidate(*w, &part, true);
    }
}

PixelView windowSurface(HWND window) {
    Window* w = find(window);
    return w == nullptr ? PixelView{} : bitmapPixels(w->surface);
}

HWND createLayerWindow(WNDPROC proc, HINSTANCE instance, const char* title, int width, int height) {
    // Stands in for the class such windows lack: no background, no menu.
    static const WindowClass layerClass;
    State& s = state();
    auto w = std::make_unique<Window>();
    w->windowClass = &layerClass;
    w->proc = proc;
    w->instance = instance;
    w->title = title != nullptr ? title : "";
    w->width = std::max(width, 0);
    w->height = std::max(height, 0);
    w->surface = createSurface(0, 0);
    uintptr_t key = s.nextHandle;
    s.nextHandle += 4;
    placeKeptPart(handleOf(key), *w);
    invalidate(*w, nullptr, true);
    s.windows.emplace(key, std::move(w));
    return handleOf(key);
}

void resetUser32() {
    State& s = state();
    for (auto& [key, w] : s.windows) DeleteObject(w->surface);
    s = State();
}

const MenuResource* findMenu(const char* name) {
    if (name == nullptr || !IS_INTRESOURCE(name)) return nullptr;
    int id = static_cast<int>(reinterpret_cast<uintptr_t>(name));
    for (int i = 0; i < resourceTables.menuCount; ++i) {
        if (resourceTables.menus[i].id == id) return &resourceTables.menus[i];
    }
    return nullptr;
}

const DialogResource* findDialog(const char* name) {
    if (name == nullptr || !IS_INTRESOURCE(name)) return nullptr;
    int id = static_cast<int>(reinterpret_cast<uintptr_t>(name));
    for (int i = 0; i < resourceTables.dialogCount; ++i) {
        if (resourceTables.dialogs[i].id == id) return &resourceTables.dialogs[i];
    }
    return nullptr;
}

}  // namespace port

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
    if (wc == nullptr || wc->cbSize != sizeof(WNDCLASSEXA) || wc->lpszClassName == nullptr ||
        wc->lpfnWndProc == nullptr) {
        return 0;
    }
    State& s = state();
    for (auto& [name, c] : s.classes) {
        if (strcasecmp(name.c_str(), wc->lpszClassName) == 0) return 0;
    }
    auto c = std::make_unique<WindowClass>();
    c->name = wc->lpszClassName;
    c->style = wc->style;
    c->proc = wc->lpfnWndProc;
    c->instance = wc->hInstance;
    c->background = wc->hbrBackground;
    c->menu = port::findMenu(wc->lpszMenuName);
    s.classes.emplace(c->name, std::move(c));
    return static_cast<ATOM>(0xC000 + s.classes.size());
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    State& s = state();
    const WindowClass* windowClass = nullptr;
    for (auto& [name, c] : s.classes) {
        if (className != nullptr && strcasecmp(name.c_str(), className) == 0) windowClass = c.get();
    }
    if (windowClass == nullptr) return nullptr;

    auto w = std::make_unique<Window>();
    w->windowClass = windowClass;
    w->proc = windowClass->proc;
    w->instance = instance;
    w->title = windowName != nullptr ? windowName : "";
    // There is no frame here: an explicit size is the client's. A default one is three quarters of
    // the monitor, as Windows gives it (of 800 x 600 where the backend knows none).
    if (width == CW_USEDEFAULT) {
        int screenWidth = 800;
        int screenHeight = 600;
        backend->screenSize(nullptr, screenWidth, screenHeight);
        width = screenWidth * 3 / 4;
        height = screenHeight * 3 / 4;
    }
    // A top-level window is no larger than the screen shows.
    if ((style & WS_CHILD) == 0) backend->fitClientSize(width, height);
    w->width = std::max(width, 0);
    w->height = std::max(height, 0);
    w->surface = port::createSurface(0, 0);
    uintptr_t key = s.nextHandle;
    s.nextHandle += 4;
    HWND handle = handleOf(key);
    placeKeptPart(handle, *w);
    invalidate(*w, nullptr, true);

    const Window& created = *w;
    s.windows.emplace(key, std::move(w));
    // A menu handle of our own is never made: a window shows its class menu.
    (void)menu;
    backend->createWindow(handle, created.title.c_str(), windowClass->menu, created.width, created.height);
    // For a window that is no child, the parent is its owner.
    HWND owner = (style & WS_CHILD) == 0 && find(parent) != nullptr ? parent : nullptr;
    backend->frameWindow(handle, owner, port::frameOf(style, owner != nullptr, port::WindowRole::TopLevel));

    CREATESTRUCTA create{param, instance,       nullptr,     parent,    created.height, created.width,
                         y,     x == CW_USEDEFAULT ? 0 : x, static_cast<LONG>(style), windowName, className, exStyle};
    if (SendMessageA(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    if (style & WS_VISIBLE) ShowWindow(handle, SW_SHOW);
    return handle;
}

BOOL WINAPI ShowWindow(HWND window, int showCommand) {
    Window* w = find(window);
    if (w == nullptr) return FALSE;
    BOOL wasVisible = w->visible ? TRUE : FALSE;
    bool visible = showCommand != SW_HIDE;
    if (visible && !w->visible) invalidate(*w, nullptr, true);
    w->visible = visible;
    backend->showWindow(window, visible);
    return wasVisible;
}

BOOL WINAPI DestroyWindow(HWND window) {
    Window* w = find(window);
    if (w == nullptr) return FALSE;
    backend->closePopups(window);
    SendMessageA(window, WM_DESTROY, 0, 0);
    SendMessageA(window, WM_NCDESTROY, 0, 0);
    State& s = state();
    std::erase_if(s.timers, [&](const Timer& t) { return t.window == window; });
    backend->destroyWindow(window);
    if ((w = find(window)) != nullptr) DeleteObject(w->surface);
    s.windows.erase(reinterpret_cast<uintptr_t>(window));
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window) { return find(window) != nullptr ? TRUE : FALSE; }

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    Window* w = find(window);
    if (w == nullptr) return FALSE;
    BOOL wasDisabled = w->enabled ? FALSE : TRUE;
    bool enabled = enable != FALSE;
    if (w->enabled == enabled) return wasDisabled;
    w->enabled = enabled;
    backend->enableWindow(window, enabled);
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
    Window* w = find(window);
    return w != nullptr && w->enabled ? TRUE : FALSE;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_ERASEBKGND: {
        Window* w = find(window);
        if (w == nullptr || w->windowClass->background == nullptr) return 0;
        RECT client{0, 0, w->width, w->height};
        FillRect(reinterpret_cast<HDC>(wParam), &client, w->windowClass->background);
        return 1;
    }
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    default:
        return 0;
    }
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = find(window);
    if (w == nullptr) return 0;
    WNDPROC proc = w->proc;
    return proc(window, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window != nullptr && find(window) == nullptr) return FALSE;
    state().posted.push_back({makeMessage(window, message, wParam, lParam), false});
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    state().quitPending = true;
    state().quitCode = exitCode;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeMessage) {
    dispatchToolkitEvents();
    if (takeMessage(*msg, window, filterMin, filterMax, (removeMessage & PM_REMOVE) != 0)) return TRUE;
    // Nothing to do: give the processor away for at most a millisecond, so a loop that only
    // polls does not hold a whole core.
    int timeout = millisecondsToNextTimer();
    if (timeout != 0) backend->wait(timeout < 0 ? 1 : std::min(timeout, 1));
    return FALSE;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    for (;;) {
        dispatchToolkitEvents();
        if (takeMessage(*msg, window, filterMin, filterMax, true)) return msg->message == WM_QUIT ? FALSE : TRUE;
        backend->wait(millisecondsToNextTimer());
    }
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (msg == nullptr) return 0;
    if (msg->message == WM_TIMER && msg->lParam != 0) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
        return 0;
    }
    if (msg->hwnd == nullptr) return 0;
    return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerProc) {
    State& s = state();
    if (window != nullptr && find(window) == nullptr) return 0;
    if (window == nullptr) id = s.nextThreadTimerId++;
    // As USER_TIMER_MINIMUM and USER_TIMER_MAXIMUM.
    uint64_t period = std::clamp<uint64_t>(elapse, 10, 0x7FFFFFFF);
    uint64_t due = currentTime() + period;
    for (Timer& t : s.timers) {
        if (t.window == window && t.id == id) {
            t = {window, id, period, due, timerProc};
            return id == 0 ? 1 : id;
        }
    }
    s.timers.push_back({window, id, period, due, timerProc});
    return id == 0 ? 1 : id;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
    auto& timers = state().timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const Timer& t) { return t.window == window && t.id == id; });
    if (it == timers.end()) return FALSE;
    timers.erase(it);
    return TRUE;
}

BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
    Window* w = find(window);
    if (w == nullptr) return FALSE;
    invalidate(*w, rect, erase != FALSE);
    return TRUE;
}

BOOL WINAPI ValidateRect(HWND window, const RECT* /*rect*/) {
    Window* w = find(window);
    if (w == nullptr) return FALSE;
    w->invalid = false;
    w->erase = false;
    return TRUE;
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    Window* w = find(window);
    if (w == nullptr || paint == nullptr) return nullptr;
    *paint = PAINTSTRUCT{};
    paint->hdc = port::createSurfaceDC(w->surface);
    paint->rcPaint = w->invalid ? w->invalidRect : RECT{0, 0, 0, 0};
    bool erase = w->erase;
    w->invalid = false;
    w->erase = false;
    if (erase) paint->fErase = SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(paint->hdc), 0) == 0;
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint) {
    if (paint != nullptr) DeleteDC(paint->hdc);
    if (find(window) == nullptr) return FALSE;
    backend->present(window);
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    Window* w = find(window);
    if (w == nullptr || rect == nullptr) return FALSE;
    *rect = RECT{0, 0, w->width, w->height};
    return TRUE;
}

HDC WINAPI GetDC(HWND window) {
    Window* w = find(window);
    return w == nullptr ? nullptr : port::createSurfaceDC(w->surface);
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
    if (DeleteDC(dc) == FALSE) return 0;
    if (find(window) != nullptr) backend->present(window);
    return 1;
}

LONG WINAPI GetWindowLongA(HWND window, int index) {
    Window* w = find(window);
    if (w == nullptr || index != GWL_HINSTANCE) return 0;
    // The layer's instance handles are small numbers, so the 32-bit value holds them whole.
    return static_cast<LONG>(reinterpret_cast<intptr_t>(w->instance));
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    // Windows' caption when none is given.
    const char* title = caption != nullptr ? caption : "Error";
    // On the standard error too, where a terminal or the session's log keeps it.
    std::fprintf(stderr, "%s: %s\n", title, text != nullptr ? text : "");
    std::fflush(stderr);
    port::currentBackend().messageBox(owner, text != nullptr ? text : "", title, (type & MB_ICONERROR) != 0);
    return IDOK;
}
