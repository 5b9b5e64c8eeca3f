#include "user32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

uint64_t fakeNow = 0;
uint64_t fakeClock() { return fakeNow; }

// Records what the layer asks of the window system; waiting moves the fake clock on.
class RecordingBackend : public port::Backend {
public:
    void fitClientSize(int& width, int& height) override {
        width = std::min(width, screenWidth);
        height = std::min(height, screenHeight);
    }
    void createWindow(HWND window, const char* title, const port::MenuResource* m, int, int) override {
        created = window;
        createdTitle = title;
        menu = m;
    }
    void present(HWND) override { ++presents; }
    void wait(int timeoutMs) override {
        waits.push_back(timeoutMs);
        fakeNow += static_cast<uint64_t>(timeoutMs < 0 ? 1000 : timeoutMs);
    }

    int screenWidth = 10000;
    int screenHeight = 10000;
    HWND created = nullptr;
    std::string createdTitle;
    const port::MenuResource* menu = nullptr;
    int presents = 0;
    std::vector<int> waits;
};

struct Received {
    UINT message;
    WPARAM wParam;
};
std::vector<Received> received;
LRESULT createResult = 0;

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    received.push_back({message, wParam});
    if (message == WM_CREATE) return createResult;
    if (message == WM_DESTROY) PostQuitMessage(7);
    return DefWindowProcA(window, message, wParam, lParam);
}

class User32 : public ::testing::Test {
protected:
    void SetUp() override {
        port::resetUser32();
        port::setBackend(&backend);
        port::setClock(fakeClock);
        fakeNow = 1000;
        received.clear();
        createResult = 0;
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = recordingProc;
        wc.hInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
        wc.lpszMenuName = MAKEINTRESOURCEA(103);
        wc.lpszClassName = "Test";
        ASSERT_NE(RegisterClassExA(&wc), 0);
    }
    void TearDown() override {
        port::resetUser32();
        port::setBackend(nullptr);
        port::setClock(nullptr);
    }

    HWND create(bool show = true) {
        HWND w = CreateWindowExA(0, "Test", "Title", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr,
                                 nullptr, reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000)), nullptr);
        if (w != nullptr && show) ShowWindow(w, SW_SHOWDEFAULT);
        return w;
    }

    // The next message, or WM_NULL when there is none.
    UINT next(MSG& msg) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return WM_NULL;
        return msg.message;
    }

    void paint(HWND w) {
        PAINTSTRUCT ps;
        BeginPaint(w, &ps);
        EndPaint(w, &ps);
    }

    RecordingBackend backend;
};

TEST_F(User32, PostedBeforePaintBeforeTimer) {
    HWND w = create();
    SetTimer(w, 5, 20, nullptr);
    fakeNow += 100;
    PostMessageA(w, WM_USER, 1, 0);
    PostMessageA(w, WM_USER, 2, 0);
    MSG msg;
    ASSERT_EQ(next(msg), static_cast<UINT>(WM_USER));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_EQ(next(msg), static_cast<UINT>(WM_USER));
    EXPECT_EQ(msg.wParam, 2u);
    ASSERT_EQ(next(msg), static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(msg.hwnd, w);
    // Until BeginPaint validates, the paint keeps coming ahead of the timer.
    ASSERT_EQ(next(msg), static_cast<UINT>(WM_PAINT));
    paint(w);
    ASSERT_EQ(next(msg), static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(msg.wParam, 5u);
    EXPECT_EQ(msg.hwnd, w);
    // A message posted now still goes ahead of a new invalidation.
    InvalidateRect(w, nullptr, FALSE);
    PostMessageA(w, WM_USER, 3, 0);
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_USER));
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_PAINT));
}

TEST_F(User32, LateTimerGivesOneMessageWithoutBacklog) {
    HWND w = create(false);
    SetTimer(w, 1, 20, nullptr);
    MSG msg;
    fakeNow += 19;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    fakeNow = 1000 + 1000;  // fifty periods late
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_TIMER));
    fakeNow += 19;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    fakeNow += 1;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_TIMER));
}

TEST_F(User32, SetTimerWithTheSameIdReplaces) {
    HWND w = create(false);
    EXPECT_EQ(SetTimer(w, 9, 20, nullptr), 9u);
    fakeNow += 10;
    EXPECT_EQ(SetTimer(w, 9, 50, nullptr), 9u);
    MSG msg;
    fakeNow += 49;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    fakeNow += 1;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    EXPECT_TRUE(KillTimer(w, 9));
    EXPECT_FALSE(KillTimer(w, 9));
    fakeNow += 1000;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
}

TEST_F(User32, IdlePeekSleepsAtMostAMillisecond) {
    HWND w = create(false);
    MSG msg;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    SetTimer(w, 1, 20, nullptr);
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    ASSERT_EQ(backend.waits.size(), 2u);
    EXPECT_EQ(backend.waits[0], 1);
    EXPECT_EQ(backend.waits[1], 1);
}

TEST_F(User32, GetMessageWaitsForTheNextTimer) {
    HWND w = create(false);
    SetTimer(w, 1, 30, nullptr);
    MSG msg;
    EXPECT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(fakeNow, 1030u);
    ASSERT_FALSE(backend.waits.empty());
    EXPECT_EQ(backend.waits.front(), 30);
    PostQuitMessage(3);
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(User32, CloseDestroysAndQuitFollowsPostedMessages) {
    HWND w = create();
    SetTimer(w, 1, 20, nullptr);
    PostMessageA(w, WM_CLOSE, 0, 0);
    MSG msg;
    ASSERT_EQ(next(msg), static_cast<UINT>(WM_CLOSE));
    DispatchMessageA(&msg);
    EXPECT_FALSE(IsWindow(w));
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[received.size() - 2].message, static_cast<UINT>(WM_DESTROY));
    EXPECT_EQ(received.back().message, static_cast<UINT>(WM_NCDESTROY));
    PostMessageA(nullptr, WM_USER, 0, 0);
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_USER));
    ASSERT_EQ(next(msg), static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    // The window's timer died with it, and so did its pending paint.
    fakeNow += 1000;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    EXPECT_FALSE(KillTimer(w, 1));
}

TEST_F(User32, CreationSendsCreateAndUsesTheClassMenu) {
    HWND w = create();
    ASSERT_NE(w, nullptr);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.front().message, static_cast<UINT>(WM_CREATE));
    EXPECT_EQ(backend.created, w);
    EXPECT_EQ(backend.createdTitle, "Title");
    ASSERT_NE(backend.menu, nullptr);
    EXPECT_EQ(backend.menu->id, 103);
    RECT client;
    ASSERT_TRUE(GetClientRect(w, &client));
    EXPECT_EQ(client.right, 1050);
    EXPECT_EQ(client.bottom, 700);
    EXPECT_EQ(GetWindowLongA(w, GWL_HINSTANCE), 0x400000);
}

TEST_F(User32, DefaultSizeShrinksToTheScreen) {
    backend.screenWidth = 800;
    backend.screenHeight = 600;
    HWND w = create();
    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 600);
    EXPECT_EQ(port::windowSurface(w).width, 800);
}

TEST_F(User32, CreateFailsWhenTheProcedureRefuses) {
    createResult = -1;
    EXPECT_EQ(create(), nullptr);
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(User32, RegisteringTwiceFails) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = "TEST";
    EXPECT_EQ(RegisterClassExA(&wc), 0);
}

TEST_F(User32, FirstPaintErasesWithTheClassBrush) {
    HWND w = create();
    received.clear();
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, static_cast<UINT>(WM_ERASEBKGND));
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(dc, 1049, 699), RGB(255, 255, 255));
    EXPECT_FALSE(ps.fErase);
    EndPaint(w, &ps);
    EXPECT_EQ(backend.presents, 1);
    // Invalidating without erase paints without erasing.
    received.clear();
    InvalidateRect(w, nullptr, FALSE);
    paint(w);
    EXPECT_TRUE(received.empty());
}

TEST_F(User32, HiddenWindowGetsNoPaint) {
    HWND w = create(false);
    MSG msg;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    ShowWindow(w, SW_SHOW);
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_PAINT));
}

TEST_F(User32, ResizeInvalidatesWithErase) {
    HWND w = create();
    paint(w);
    port::clientResized(w, 300, 200);
    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);
    MSG msg;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_PAINT));
    received.clear();
    paint(w);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, static_cast<UINT>(WM_ERASEBKGND));
    // The same size again is no change.
    port::clientResized(w, 300, 200);
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
}

TEST_F(User32, TimerMessagesCarryTheirCallback) {
    static int calls = 0;
    calls = 0;
    HWND w = create(false);
    SetTimer(w, 4, 10, [](HWND, UINT, UINT_PTR id, DWORD) { calls += static_cast<int>(id); });
    fakeNow += 10;
    MSG msg;
    ASSERT_EQ(next(msg), static_cast<UINT>(WM_TIMER));
    received.clear();
    DispatchMessageA(&msg);
    EXPECT_EQ(calls, 4);
    EXPECT_TRUE(received.empty());
}

TEST_F(User32, StaleHandlesAreRefused) {
    HWND w = create();
    DestroyWindow(w);
    EXPECT_FALSE(PostMessageA(w, WM_USER, 0, 0));
    EXPECT_FALSE(InvalidateRect(w, nullptr, TRUE));
    EXPECT_EQ(SetTimer(w, 1, 10, nullptr), 0u);
    EXPECT_EQ(GetDC(w), nullptr);
    RECT r;
    EXPECT_FALSE(GetClientRect(w, &r));
}

}  // namespace
