#include "mainwindow.h"

#include <gtest/gtest.h>

#include <cstring>

#include "crt.h"
#include "gdi.h"
#include "renderer.h"
#include "resource.h"
#include "digest.h"
#include "fake_toolkit.h"
#include "simulation.h"
#include "user32.h"

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        backend.install(5000);
        // A screen whose three quarters, the window's default size, hold the whole drawing.
        backend.screenWidth = 1400;
        backend.screenHeight = 1050;
        objectsBefore = port::liveGdiObjects();
        initializePopulation(FIELD_WIDTH, FIELD_HEIGHT);
    }
    void TearDown() override { backend.uninstall(); }

    void start() {
        ASSERT_TRUE(createMainWindow(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000)), &window));
        ShowWindow(window, SW_SHOW);
        SetTimer(window, SIM_TIMER_ID, FIRST_TIMER_PERIOD, nullptr);
    }

    // Takes and dispatches messages until none is waiting; returns how many of each came.
    struct Counts {
        int paints = 0;
        int timers = 0;
    };
    Counts drain() {
        Counts counts;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            counts.paints += msg.message == WM_PAINT;
            counts.timers += msg.message == WM_TIMER;
            DispatchMessageA(&msg);
        }
        return counts;
    }

    void command(WORD id) { SendMessageA(window, WM_COMMAND, id, 0); }

    fake::Toolkit backend;
    HWND window = nullptr;
    int objectsBefore = 0;
};

TEST_F(MainWindow, TimerTicksThenRepaints) {
    start();
    drain();
    uint64_t before = hashPopulation();
    fake::now += FIRST_TIMER_PERIOD;
    Counts counts = drain();
    EXPECT_EQ(counts.timers, 1);
    EXPECT_EQ(counts.paints, 1);
    EXPECT_NE(hashPopulation(), before);
}

TEST_F(MainWindow, StopFreezesAndStartResumesAtFiftyMilliseconds) {
    start();
    drain();
    command(IDM_STOP);
    command(IDM_STOP);
    uint64_t frozen = hashPopulation();
    fake::now += 1000;
    EXPECT_EQ(drain().timers, 0);
    EXPECT_EQ(hashPopulation(), frozen);
    // Still repaints on demand.
    InvalidateRect(window, nullptr, FALSE);
    EXPECT_EQ(drain().paints, 1);

    command(IDM_START);
    command(IDM_START);
    fake::now += 49;
    EXPECT_EQ(drain().timers, 0);
    fake::now += 1;
    EXPECT_EQ(drain().timers, 1);
    EXPECT_NE(hashPopulation(), frozen);
}

TEST_F(MainWindow, StartWhileRunningOnlyChangesThePeriod) {
    start();
    drain();
    fake::now += 10;
    command(IDM_START);
    fake::now += 20;
    EXPECT_EQ(drain().timers, 0);
    fake::now += 30;
    EXPECT_EQ(drain().timers, 1);
}

TEST_F(MainWindow, InitializeChangesThePopulationWithoutRepainting) {
    start();
    drain();
    command(IDM_STOP);
    fake::now += 100;
    drain();
    uint64_t frozen = hashPopulation();
    crtFixClock(123456);
    command(IDM_INITIALIZE);
    crtUseRealClock();
    EXPECT_NE(hashPopulation(), frozen);
    EXPECT_EQ(drain().paints, 0);
}

TEST_F(MainWindow, OtherCommandsDoNothing) {
    start();
    drain();
    command(IDM_STOP);
    uint64_t frozen = hashPopulation();
    command(12345);
    fake::now += 1000;
    Counts counts = drain();
    EXPECT_EQ(counts.timers, 0);
    EXPECT_EQ(counts.paints, 0);
    EXPECT_EQ(hashPopulation(), frozen);
}

TEST_F(MainWindow, PaintShowsTheParticlesInTheWindow) {
    start();
    drain();
    port::PixelView view = port::windowSurface(window);
    ASSERT_EQ(view.width, 1050);
    ASSERT_EQ(view.height, 787);
    int coloured = 0;
    for (int i = 0; i < view.width * view.height; ++i) coloured += view.pixels[i] != 0xFFFFFF;
    EXPECT_GT(coloured, 0);
    EXPECT_GE(backend.presents, 1);
}

TEST_F(MainWindow, CloseDestroysTheBackBufferAndQuits) {
    start();
    drain();
    EXPECT_GT(port::liveGdiObjects(), objectsBefore);
    PostMessageA(window, WM_CLOSE, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageA(&msg);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(backBuffer.memoryDC, nullptr);
    EXPECT_EQ(port::liveGdiObjects(), objectsBefore);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 0u);
}

TEST_F(MainWindow, WinMainRunsUntilTheWindowCloses) {
    // The person closes the window after a while.
    backend.onPoll = [this](int polls) {
        if (polls == 500) port::closeRequested(backend.created);
    };
    EXPECT_EQ(WinMain(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000)), nullptr, nullptr, SW_SHOW), 0);
    EXPECT_FALSE(IsWindow(backend.created));
    // Roughly 500 ms passed at 20 ms a tick, each tick painted.
    EXPECT_GT(backend.presents, 10);
    EXPECT_EQ(port::liveGdiObjects(), objectsBefore);
}

}  // namespace
