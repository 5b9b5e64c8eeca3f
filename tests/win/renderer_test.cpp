#include "renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "gdi.h"
#include "mainwindow.h"
#include "simulation.h"
#include "user32.h"

namespace {

constexpr COLORREF WHITE = RGB(255, 255, 255);
constexpr COLORREF BLACK = RGB(0, 0, 0);

// The real main window without a display, its client area as large as the drawing: its WM_CREATE
// makes the back buffer, and every frame goes into a 1050 x 700 target of our own, painted black
// beforehand.
class Renderer : public ::testing::Test {
protected:
    void SetUp() override {
        port::resetUser32();
        savedParameters = simParameters;
        savedLastIndex = simState.lastIndex;
        objectsBefore = port::liveGdiObjects();
        ASSERT_TRUE(createMainWindow(nullptr, &window));
        port::clientResized(window, BACK_BUFFER_WIDTH, BACK_BUFFER_HEIGHT);
        target = CreateCompatibleDC(nullptr);
        targetBitmap = CreateCompatibleBitmap(target, BACK_BUFFER_WIDTH, BACK_BUFFER_HEIGHT);
        oldBitmap = SelectObject(target, targetBitmap);
        simState.lastIndex = -1;
    }
    void TearDown() override {
        SelectObject(target, oldBitmap);
        DeleteDC(target);
        DeleteObject(targetBitmap);
        DestroyWindow(window);
        port::resetUser32();
        EXPECT_EQ(port::liveGdiObjects(), objectsBefore);
        simParameters = savedParameters;
        simState.lastIndex = savedLastIndex;
    }

    void place(int32_t index, double x, double y, double radius) {
        simState.current[index] = Particle{1.0, radius, x, y, 0.0, 0.0};
        if (simState.lastIndex < index) simState.lastIndex = index;
    }

    void draw() { drawParticles(window, target); }
    COLORREF at(int x, int y) const { return GetPixel(target, x, y); }
    int countNot(COLORREF colour) const {
        port::PixelView view = port::dcPixels(target);
        int n = 0;
        for (int i = 0; i < view.width * view.height; ++i) n += view.pixels[i] != port::pixelFromColour(colour);
        return n;
    }

    HWND window = nullptr;
    HDC target = nullptr;
    HBITMAP targetBitmap = nullptr;
    HGDIOBJ oldBitmap = nullptr;
    SimulationParameters savedParameters;
    int32_t savedLastIndex = -1;
    int objectsBefore = 0;
};

TEST_F(Renderer, EmptyPopulationLeavesOnlyWhite) {
    draw();
    EXPECT_EQ(countNot(WHITE), 0);
}

TEST_F(Renderer, ColourComesFromTheLowByteOfTheIndex) {
    for (int32_t i = 0; i <= 300; ++i) place(i, 2000.0, 2000.0, 1.0);  // off the bitmap
    place(0, 20, 20, 3);
    place(1, 40, 20, 3);
    place(5, 60, 20, 3);
    place(256, 80, 20, 3);
    place(300, 100, 20, 3);
    draw();
    EXPECT_EQ(at(20, 20), BLACK);
    EXPECT_EQ(at(40, 20), RGB(70, 60, 50));
    EXPECT_EQ(at(60, 20), RGB(350 % 256, 300 % 256, 250));
    EXPECT_EQ(at(80, 20), BLACK);
    // 300 has low byte 44: 3080, 2640 and 2200, each modulo 256.
    EXPECT_EQ(at(100, 20), RGB(8, 80, 152));
}

TEST_F(Renderer, LaterRecordsDrawOverEarlierOnes) {
    place(0, 50, 50, 10);
    place(1, 50, 50, 2);
    draw();
    EXPECT_EQ(at(50, 50), RGB(70, 60, 50));
    EXPECT_EQ(at(45, 50), BLACK);
}

TEST_F(Renderer, EdgesClipWithoutWrapping) {
    // Across the right edge of the field: the right half shows in the extra 50 pixels.
    place(0, 1000, 350, 10);
    // Across the top edge: nothing reappears at the bottom.
    place(1, 500, 0, 10);
    draw();
    EXPECT_EQ(at(1005, 350), BLACK);
    EXPECT_EQ(at(995, 350), BLACK);
    EXPECT_EQ(at(1011, 350), WHITE);
    EXPECT_EQ(at(5, 350), WHITE);
    EXPECT_EQ(at(500, 0), RGB(70, 60, 50));
    EXPECT_EQ(at(500, 9), RGB(70, 60, 50));
    EXPECT_EQ(at(500, 699), WHITE);
    EXPECT_EQ(at(500, 695), WHITE);
}

TEST_F(Renderer, ExtentsTruncateTowardZero) {
    // left 8.2 -> 8, right 13.2 -> 13: columns 8..12; top 17.5 -> 17, bottom 22.5 -> 22: rows 17..21.
    place(0, 10.7, 20.0, 2.5);
    draw();
    EXPECT_EQ(at(8, 19), BLACK);
    EXPECT_EQ(at(12, 19), BLACK);
    EXPECT_EQ(at(7, 19), WHITE);
    EXPECT_EQ(at(13, 19), WHITE);
    EXPECT_EQ(at(10, 17), BLACK);
    EXPECT_EQ(at(10, 21), BLACK);
    EXPECT_EQ(at(10, 16), WHITE);
    EXPECT_EQ(at(10, 22), WHITE);
}

TEST_F(Renderer, DrawScaleTwoDoublesTheRadius) {
    place(0, 500, 350, 5);
    draw();
    EXPECT_EQ(at(495, 350), BLACK);
    EXPECT_EQ(at(494, 350), WHITE);
    EXPECT_EQ(at(504, 350), BLACK);
    EXPECT_EQ(at(505, 350), WHITE);
    simParameters.drawScale = 2.0;
    draw();
    EXPECT_EQ(at(490, 350), BLACK);
    EXPECT_EQ(at(489, 350), WHITE);
    EXPECT_EQ(at(509, 350), BLACK);
    EXPECT_EQ(at(510, 350), WHITE);
    EXPECT_EQ(simState.current[0].radius, 5.0);
}

TEST_F(Renderer, DeadRecordAtTheOriginShowsNothing) {
    simState.current[0] = Particle{0, 0, 0, 0, 0, 0};
    simState.lastIndex = 0;
    draw();
    EXPECT_EQ(countNot(WHITE), 0);
}

TEST_F(Renderer, UnconvertibleRecordsAreSkipped) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    place(0, nan, 10, 1);
    place(1, 10, inf, 1);
    place(2, 1e300, 10, 1);
    place(3, 10, 10, 1e300);
    place(4, 10, 10, nan);
    place(5, 2147483647.0, 10, 1.0);
    place(6, 300, 300, 2);
    draw();
    EXPECT_NE(at(300, 300), WHITE);
    EXPECT_EQ(at(10, 10), WHITE);
    simParameters.drawScale = 1e308;
    draw();
    EXPECT_EQ(countNot(WHITE), 0);
}

TEST_F(Renderer, NegativeScaleDrawsTheSameDisc) {
    place(0, 100, 100, 4);
    draw();
    int positive = countNot(WHITE);
    simParameters.drawScale = -1.0;
    draw();
    EXPECT_EQ(countNot(WHITE), positive);
}

TEST_F(Renderer, OnlyTheClientAreaIsClearedAndCopied) {
    place(0, 100, 100, 4);
    draw();
    port::clientResized(window, 400, 300);
    RECT all{0, 0, BACK_BUFFER_WIDTH, BACK_BUFFER_HEIGHT};
    FillRect(target, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    place(0, 200, 100, 4);
    draw();
    EXPECT_EQ(at(399, 299), WHITE);
    EXPECT_EQ(at(400, 299), BLACK);
    EXPECT_EQ(at(399, 300), BLACK);
    EXPECT_EQ(at(100, 100), WHITE);
    EXPECT_EQ(at(200, 100), BLACK);
}

TEST_F(Renderer, FrameLeavesNoGdiObjectBehind) {
    for (int32_t i = 0; i < 400; ++i) place(i, i * 2.5, i * 1.5, 3);
    int before = port::liveGdiObjects();
    draw();
    EXPECT_EQ(port::liveGdiObjects(), before);
    EXPECT_GT(countNot(WHITE), 400);
}

}  // namespace
