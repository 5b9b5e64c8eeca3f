#include "user32.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_toolkit.h"

namespace {

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
        backend.install();
        backend.screenWidth = 1280;
        backend.screenHeight = 1024;
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
    void TearDown() override { backend.uninstall(); }

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

    fake::Toolkit backend;
};

TEST_F(User32, PostedBeforePaintBeforeTimer) {
    HWND w = create();
    SetTimer(w, 5, 20, nullptr);
    fake::now += 100;
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
    fake::now += 19;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    fake::now = 1000 + 1000;  // fifty periods late
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_TIMER));
    fake::now += 19;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    fake::now += 1;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_TIMER));
}

TEST_F(User32, SetTimerWithTheSameIdReplaces) {
    HWND w = create(false);
    EXPECT_EQ(SetTimer(w, 9, 20, nullptr), 9u);
    fake::now += 10;
    EXPECT_EQ(SetTimer(w, 9, 50, nullptr), 9u);
    MSG msg;
    fake::now += 49;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    fake::now += 1;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    EXPECT_TRUE(KillTimer(w, 9));
    EXPECT_FALSE(KillTimer(w, 9));
    fake::now += 1000;
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
    EXPECT_EQ(fake::now, 1030u);
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
    fake::now += 1000;
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
    EXPECT_EQ(client.right, 960);
    EXPECT_EQ(client.bottom, 768);
    EXPECT_EQ(GetWindowLongA(w, GWL_HINSTANCE), 0x400000);
}

TEST_F(User32, EachWindowGetsTheFrameOfItsStyleAndItsOwner) {
    HWND main = create();
    ASSERT_EQ(backend.frames.size(), 1u);
    EXPECT_EQ(backend.frames[0].window, main);
    EXPECT_EQ(backend.frames[0].owner, nullptr);
    EXPECT_EQ(backend.frames[0].frame, port::frameOf(WS_OVERLAPPEDWINDOW, false, port::WindowRole::TopLevel));
    // A parent of a window that is no child is its owner; a child has none, and no frame.
    HWND owned = CreateWindowExA(0, "Test", "", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 10, 10, main, nullptr,
                                 nullptr, nullptr);
    HWND child = CreateWindowExA(0, "Test", "", WS_CHILD | WS_CAPTION, 0, 0, 10, 10, main, nullptr, nullptr, nullptr);
    ASSERT_EQ(backend.frames.size(), 3u);
    EXPECT_EQ(backend.frames[1].window, owned);
    EXPECT_EQ(backend.frames[1].owner, main);
    EXPECT_TRUE(backend.frames[1].frame.owned);
    EXPECT_TRUE(backend.frames[1].frame.closeButton);
    EXPECT_EQ(backend.frames[2].window, child);
    EXPECT_EQ(backend.frames[2].owner, nullptr);
    EXPECT_EQ(backend.frames[2].frame, port::WindowFrame{});
}

// A default size is three quarters of the screen, as Windows gives it; an explicit one is the
// client's, as large as the screen shows for a top-level window, as asked for a child.
TEST_F(User32, WindowSizesFollowTheScreen) {
    backend.screenWidth = 800;
    backend.screenHeight = 600;
    HWND w = create();
    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 600);
    EXPECT_EQ(client.bottom, 450);
    EXPECT_EQ(port::windowSurface(w).width, 600);
    HWND large = CreateWindowExA(0, "Test", "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 1050, 700, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_TRUE(GetClientRect(large, &client));
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 600);
    HWND fits = CreateWindowExA(0, "Test", "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 700, 500, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_TRUE(GetClientRect(fits, &client));
    EXPECT_EQ(client.right, 700);
    EXPECT_EQ(client.bottom, 500);
    HWND child = CreateWindowExA(0, "Test", "", WS_CHILD, 0, 0, 1050, 700, w, nullptr, nullptr, nullptr);
    ASSERT_TRUE(GetClientRect(child, &client));
    EXPECT_EQ(client.right, 1050);
    EXPECT_EQ(client.bottom, 700);
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
    EXPECT_EQ(GetPixel(dc, 959, 767), RGB(255, 255, 255));
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
    fake::now += 10;
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

// The toolkit shows the message and MessageBoxA returns once it is closed; the line goes to the
// standard error as well, where a terminal or the session's log keeps it.
TEST_F(User32, MessageBoxShowsItsTextAndSaysItOnStandardError) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "GSL_RNG_TYPE='x' names no GSL generator", "Orrelune", MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "plain", nullptr, MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Orrelune: GSL_RNG_TYPE='x' names no GSL generator\nError: plain\n");
    ASSERT_EQ(backend.messageBoxes.size(), 2u);
    EXPECT_EQ(backend.messageBoxes[0].owner, nullptr);
    EXPECT_EQ(backend.messageBoxes[0].text, "GSL_RNG_TYPE='x' names no GSL generator");
    EXPECT_EQ(backend.messageBoxes[0].caption, "Orrelune");
    EXPECT_TRUE(backend.messageBoxes[0].error);
    // Windows' caption when none is given.
    EXPECT_EQ(backend.messageBoxes[1].caption, "Error");
    EXPECT_FALSE(backend.messageBoxes[1].error);
}

TEST_F(User32, DisabledWindowTakesNoInput) {
    HWND w = create();
    received.clear();
    port::menuChosen(w, 40004);
    port::closeRequested(w);
    MSG msg;
    ASSERT_EQ(next(msg), static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(LOWORD(msg.wParam), 40004);
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_CLOSE));

    EXPECT_FALSE(EnableWindow(w, FALSE));
    EXPECT_FALSE(IsWindowEnabled(w));
    port::menuChosen(w, 40004);
    port::closeRequested(w);
    paint(w);
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    // Disabling twice is one change for the window system; the answer is the earlier state.
    EXPECT_TRUE(EnableWindow(w, FALSE));
    EXPECT_TRUE(EnableWindow(w, TRUE));
    EXPECT_FALSE(EnableWindow(w, TRUE));
    EXPECT_EQ(backend.enables, (std::vector<std::pair<HWND, bool>>{{w, false}, {w, true}}));
    port::closeRequested(w);
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_CLOSE));
    // Nothing is posted for a window that is gone.
    DestroyWindow(w);
    port::menuChosen(w, 40004);
    EXPECT_NE(next(msg), static_cast<UINT>(WM_COMMAND));
}

TEST_F(User32, InputForAWindowDisabledBeforeItsTurnIsDropped) {
    HWND w = create();
    paint(w);
    port::menuChosen(w, 40003);
    PostMessageA(w, WM_USER, 1, 0);
    port::closeRequested(w);
    // The first command disabled the window (as a modal dialog does): what the person did
    // after it goes nowhere, what the program posted still arrives, in order.
    EnableWindow(w, FALSE);
    MSG msg;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_USER));
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    EnableWindow(w, TRUE);
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
}

TEST_F(User32, ASurfaceKeepsNoMoreThanTheScreenShows) {
    backend.screenWidth = 800;
    backend.screenHeight = 600;
    HWND w = create();
    port::clientResized(w, 32767, 16390);
    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 32767);
    EXPECT_EQ(client.bottom, 16390);
    port::PixelView kept = port::windowSurface(w);
    EXPECT_EQ(kept.width, 800);
    EXPECT_EQ(kept.height, 600);
    EXPECT_EQ(kept.x, 0);
    EXPECT_EQ(kept.y, 0);
    // Painting the whole client area paints the part kept; the rest is clipped away.
    paint(w);
    EXPECT_EQ(kept.pixels[599 * 800 + 799], 0xFFFFFFu);
    // Shrinking gives the surface its new size, however large it was.
    port::clientResized(w, 300, 200);
    EXPECT_EQ(port::windowSurface(w).width, 300);
    EXPECT_EQ(port::windowSurface(w).height, 200);
}

TEST_F(User32, ASurfaceKeepsNoMoreThanItsOwnMonitorShows) {
    backend.screenWidth = 3000;
    backend.screenHeight = 2000;
    HWND large = create();
    HWND small = create();
    backend.monitors[small] = {800, 600};
    port::clientResized(large, 5000, 5000);
    port::clientResized(small, 5000, 5000);
    EXPECT_EQ(port::windowSurface(large).width, 3000);
    EXPECT_EQ(port::windowSurface(large).height, 2000);
    EXPECT_EQ(port::windowSurface(small).width, 800);
    EXPECT_EQ(port::windowSurface(small).height, 600);
    paint(large);
    paint(small);
    // Moved onto the larger monitor: the surface grows to it and what it adds is painted.
    backend.monitors.erase(small);
    port::clientMoved(small, 10, 10);
    EXPECT_EQ(port::windowSurface(small).width, 3000);
    EXPECT_EQ(port::windowSurface(small).height, 2000);
    MSG msg;
    ASSERT_EQ(next(msg), static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(msg.hwnd, small);
}

TEST_F(User32, AWindowLargerThanTheScreenKeepsThePartOnIt) {
    backend.screenWidth = 800;
    backend.screenHeight = 600;
    HWND w = create();
    port::clientResized(w, 30000, 20000);
    paint(w);
    MSG msg;
    ASSERT_EQ(next(msg), static_cast<UINT>(WM_NULL));
    // Moved up and left, so that the screen shows client pixels from 20000, 100 on.
    port::clientMoved(w, -20000, -100);
    port::PixelView kept = port::windowSurface(w);
    EXPECT_EQ(kept.x, 20000);
    EXPECT_EQ(kept.y, 100);
    EXPECT_EQ(kept.width, 800);
    EXPECT_EQ(kept.height, 600);
    // What came into view is painted anew, background first.
    ASSERT_EQ(next(msg), static_cast<UINT>(WM_PAINT));
    received.clear();
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    EXPECT_EQ(ps.rcPaint.left, 20000);
    EXPECT_EQ(ps.rcPaint.top, 100);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0].message, static_cast<UINT>(WM_ERASEBKGND));
    // Drawing is in client coordinates: the pixel at client 20005, 105 is the fifth of the
    // fifth row kept; what lies outside the kept part cannot be read.
    RECT dot{20005, 105, 20006, 106};
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &dot, red);
    EXPECT_EQ(kept.pixels[5 * 800 + 5], 0xFF0000u);
    EXPECT_EQ(GetPixel(dc, 20005, 105), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(dc, 5, 5), 0xFFFFFFFFu);
    EndPaint(w, &ps);
    DeleteObject(red);
    // Further off the left edge than the client area reaches: its right end stays kept.
    port::clientMoved(w, -40000, 0);
    EXPECT_EQ(port::windowSurface(w).x, 30000 - 800);
    EXPECT_EQ(port::windowSurface(w).y, 0);
}

TEST_F(User32, AWindowThatFitsTheScreenKeepsAllOfItWherever) {
    backend.screenWidth = 800;
    backend.screenHeight = 600;
    HWND w = create();
    paint(w);
    port::clientMoved(w, -500, 300);
    port::PixelView kept = port::windowSurface(w);
    EXPECT_EQ(kept.x, 0);
    EXPECT_EQ(kept.width, 600);
    EXPECT_EQ(kept.height, 450);
    // Nothing came into the kept part: no paint.
    MSG msg;
    EXPECT_EQ(next(msg), static_cast<UINT>(WM_NULL));
}

TEST_F(User32, DestroyingAWindowClosesItsPopupsFirst) {
    HWND w = create();
    backend.popupOver = w;
    received.clear();
    DestroyWindow(w);
    EXPECT_EQ(backend.calls, std::vector<std::string>{"closePopups"});
    EXPECT_EQ(backend.popupOver, nullptr);
}

// A program whose every step takes longer than its timer's period, so that a timer is due at
// every poll, beside a toolkit with events of its own waiting.
constexpr uint64_t SLOW_STEP_MS = 130;
fake::Toolkit* toolkit = nullptr;
int ticks = 0;
// Per event, how many ticks had run when it was delivered.
std::vector<int> ticksBefore;
std::vector<UINT> dispatched;
int eventsPerStep = 0;

void recordEvent() { ticksBefore.push_back(ticks); }

LRESULT CALLBACK slowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    dispatched.push_back(message);
    switch (message) {
    case WM_TIMER:
        ++ticks;
        // Time passes, and the person goes on clicking and typing meanwhile.
        fake::now += SLOW_STEP_MS;
        for (int i = 0; i < eventsPerStep; ++i) toolkit->pending.push_back(recordEvent);
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(window, &ps);
        EndPaint(window, &ps);
        return 0;
    }
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

class SlowStep : public ::testing::Test {
protected:
    void SetUp() override {
        fake.install();
        toolkit = &fake;
        ticks = 0;
        eventsPerStep = 0;
        ticksBefore.clear();
        dispatched.clear();
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = slowProc;
        wc.lpszClassName = "Slow";
        ASSERT_NE(RegisterClassExA(&wc), 0);
        window = CreateWindowExA(0, "Slow", "Slow", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                                 nullptr);
        ShowWindow(window, SW_SHOW);
        SetTimer(window, 1, 20, nullptr);
    }
    void TearDown() override {
        fake.uninstall();
        toolkit = nullptr;
    }
    // The program's loop: poll, dispatch, until the given number of ticks ran.
    void runTicks(int count) {
        MSG msg{};
        for (int polls = 0; ticks < count && polls < 100000; ++polls) {
            if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        }
        ASSERT_EQ(ticks, count);
    }

    fake::Toolkit fake;
    HWND window = nullptr;
};

TEST_F(SlowStep, EventsArrivingDuringAStepAreAllDeliveredBeforeTheNextTick) {
    // Showing a dialog or a menu takes dozens of events.
    eventsPerStep = 60;
    for (int i = 0; i < 25; ++i) fake.pending.push_back(recordEvent);
    runTicks(4);
    // The 25 waiting at the start, then each step's 60, every one before the tick that follows.
    ASSERT_EQ(ticksBefore.size(), 25u + 3 * 60);
    for (std::size_t i = 0; i < ticksBefore.size(); ++i) {
        int expected = i < 25 ? 0 : 1 + static_cast<int>((i - 25) / 60);
        ASSERT_EQ(ticksBefore[i], expected) << "event " << i;
    }
    // The fourth step's events are still waiting.
    EXPECT_EQ(fake.pending.size(), 60u);
}

TEST_F(SlowStep, WhatTheEventsPostAndPaintGoesAheadOfTheTimer) {
    runTicks(1);
    ValidateRect(window, nullptr);
    // During the step a click chose a command and the window was uncovered; the timer is due.
    fake.pending.push_back([this] { PostMessageA(window, WM_COMMAND, 40004, 0); });
    fake.pending.push_back([this] { InvalidateRect(window, nullptr, FALSE); });
    fake::now += SLOW_STEP_MS;
    dispatched.clear();
    runTicks(2);
    EXPECT_EQ(dispatched, (std::vector<UINT>{WM_COMMAND, WM_PAINT, WM_TIMER}));
}

TEST_F(SlowStep, AFloodOfEventsDelaysTheTimerByOnePollAtMost) {
    // Each event brings another: the toolkit is never idle.
    std::function<void()> endless = [&] { fake.pending.push_back(endless); };
    fake.pending.push_back(endless);
    ValidateRect(window, nullptr);
    fake::now += 20;
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(fake.delivered, port::MAX_EVENTS_PER_POLL);
    DispatchMessageA(&msg);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(fake.delivered, 2 * port::MAX_EVENTS_PER_POLL);
}

TEST_F(SlowStep, AnEventThatGaveInputEndsThePollItCameIn) {
    runTicks(1);
    ValidateRect(window, nullptr);
    // Typed during the step: a menu command, then more events; the timer is due.
    fake.pending.push_back([this] { port::menuChosen(window, 40003); });
    fake.pending.push_back(recordEvent);
    fake.pending.push_back([this] { port::closeRequested(window); });
    fake::now += SLOW_STEP_MS;
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_COMMAND));
    // The rest waits until the command has been dealt with.
    EXPECT_EQ(fake.pending.size(), 2u);
    // Input still waiting holds the toolkit back too: a look without taking it delivers nothing.
    port::menuChosen(window, 40004);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(fake.pending.size(), 2u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(LOWORD(msg.wParam), 40004);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_CLOSE));
    EXPECT_TRUE(fake.pending.empty());
    EXPECT_EQ(ticksBefore, std::vector<int>{1});
}

TEST_F(SlowStep, TheBlockingLoopDeliversPendingEventsBeforeTheTimerToo) {
    // As the dialog's loop takes its messages.
    for (int i = 0; i < 40; ++i) fake.pending.push_back(recordEvent);
    fake::now += 500;
    MSG msg{};
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    // The window's first paint was due already; then the late timer.
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(ticksBefore.size(), 40u);
    DispatchMessageA(&msg);
    fake.pending.push_back(recordEvent);
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(ticksBefore.size(), 41u);
}

}  // namespace
