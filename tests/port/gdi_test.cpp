#include "gdi.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

constexpr COLORREF RED = RGB(255, 0, 0);
constexpr COLORREF BLUE = RGB(0, 0, 255);
constexpr COLORREF BLACK = RGB(0, 0, 0);
constexpr COLORREF WHITE = RGB(255, 255, 255);

// A memory DC with its own black bitmap, released with everything selected into it.
class Canvas {
public:
    Canvas(int width, int height) {
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateCompatibleBitmap(dc_, width, height);
        oldBitmap_ = SelectObject(dc_, bitmap_);
    }
    ~Canvas() {
        SelectObject(dc_, oldBitmap_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }
    HDC dc() const { return dc_; }
    COLORREF at(int x, int y) const { return GetPixel(dc_, x, y); }

    // Extents of the pixels that are not black: left, top, right, bottom (inclusive).
    RECT paintedBox() const {
        port::PixelView view = port::dcPixels(dc_);
        RECT box{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
        for (int y = 0; y < view.height; ++y) {
            for (int x = 0; x < view.width; ++x) {
                if (view.pixels[y * view.width + x] == 0) continue;
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x);
                box.bottom = std::max<LONG>(box.bottom, y);
            }
        }
        return box;
    }
    int count(COLORREF colour) const {
        port::PixelView view = port::dcPixels(dc_);
        int n = 0;
        for (int i = 0; i < view.width * view.height; ++i) n += view.pixels[i] == port::pixelFromColour(colour);
        return n;
    }

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ oldBitmap_;
};

// Selects a solid pen and brush for one drawing and puts the old ones back afterwards.
class Tools {
public:
    Tools(HDC dc, COLORREF penColour, COLORREF brushColour) : dc_(dc) {
        pen_ = CreatePen(PS_SOLID, 1, penColour);
        brush_ = CreateSolidBrush(brushColour);
        oldPen_ = SelectObject(dc, pen_);
        oldBrush_ = SelectObject(dc, brush_);
    }
    ~Tools() {
        SelectObject(dc_, oldPen_);
        SelectObject(dc_, oldBrush_);
        DeleteObject(pen_);
        DeleteObject(brush_);
    }

private:
    HDC dc_;
    HPEN pen_;
    HBRUSH brush_;
    HGDIOBJ oldPen_;
    HGDIOBJ oldBrush_;
};

void expectBox(const RECT& box, LONG left, LONG top, LONG right, LONG bottom) {
    EXPECT_EQ(box.left, left);
    EXPECT_EQ(box.top, top);
    EXPECT_EQ(box.right, right);
    EXPECT_EQ(box.bottom, bottom);
}

TEST(Ellipse, BoxExcludesRightAndBottomEdges) {
    Canvas canvas(20, 20);
    Tools tools(canvas.dc(), RED, RED);
    ASSERT_TRUE(Ellipse(canvas.dc(), 2, 3, 7, 8));
    expectBox(canvas.paintedBox(), 2, 3, 6, 7);
    // A 5 x 5 circle: full middle row and column, corners left out.
    EXPECT_EQ(canvas.at(2, 5), RED);
    EXPECT_EQ(canvas.at(6, 5), RED);
    EXPECT_EQ(canvas.at(4, 3), RED);
    EXPECT_EQ(canvas.at(4, 7), RED);
    EXPECT_EQ(canvas.at(2, 3), BLACK);
    EXPECT_EQ(canvas.at(6, 7), BLACK);
}

TEST(Ellipse, SmallestShapesHaveExactExtents) {
    {
        // A 1 x 1 box is empty for GDI's one-pixel pen.
        Canvas canvas(8, 8);
        Tools tools(canvas.dc(), RED, RED);
        EXPECT_TRUE(Ellipse(canvas.dc(), 4, 4, 5, 5));
        EXPECT_EQ(canvas.count(RED), 0);
    }
    {
        // One pixel wide or two high: the whole box.
        Canvas canvas(8, 8);
        Tools tools(canvas.dc(), RED, BLUE);
        Ellipse(canvas.dc(), 2, 1, 3, 6);
        Ellipse(canvas.dc(), 4, 6, 8, 8);
        EXPECT_EQ(canvas.count(RED), 5 + 8);
    }
    {
        Canvas canvas(8, 8);
        Tools tools(canvas.dc(), RED, RED);
        Ellipse(canvas.dc(), 1, 1, 3, 3);
        EXPECT_EQ(canvas.count(RED), 4);
        expectBox(canvas.paintedBox(), 1, 1, 2, 2);
    }
    {
        // Flat and tall boxes still reach all four sides.
        Canvas canvas(20, 20);
        Tools tools(canvas.dc(), RED, RED);
        Ellipse(canvas.dc(), 1, 1, 13, 3);
        expectBox(canvas.paintedBox(), 1, 1, 12, 2);
    }
    {
        Canvas canvas(20, 20);
        Tools tools(canvas.dc(), RED, RED);
        Ellipse(canvas.dc(), 5, 2, 7, 18);
        expectBox(canvas.paintedBox(), 5, 2, 6, 17);
    }
}

// Pixel for pixel as Windows' GDI draws them (seen through Wine's): R the pen, b the brush.
std::vector<std::string> drawn(int width, int height) {
    Canvas canvas(width, height);
    Tools tools(canvas.dc(), RED, BLUE);
    Ellipse(canvas.dc(), 0, 0, width, height);
    std::vector<std::string> rows;
    for (int y = 0; y < height; ++y) {
        std::string row;
        for (int x = 0; x < width; ++x) {
            COLORREF c = canvas.at(x, y);
            row += c == RED ? 'R' : c == BLUE ? 'b' : '.';
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(Ellipse, RimAndInsideAsGdiDrawsThem) {
    EXPECT_EQ(drawn(11, 11), (std::vector<std::string>{
                                 "...RRRRR...",
                                 "..RbbbbbR..",
                                 ".RbbbbbbbR.",
                                 "RbbbbbbbbbR",
                                 "RbbbbbbbbbR",
                                 "RbbbbbbbbbR",
                                 "RbbbbbbbbbR",
                                 "RbbbbbbbbbR",
                                 ".RbbbbbbbR.",
                                 "..RbbbbbR..",
                                 "...RRRRR...",
                             }));
    EXPECT_EQ(drawn(16, 9), (std::vector<std::string>{
                                "....RRRRRRRR....",
                                "..RRbbbbbbbbRR..",
                                ".RbbbbbbbbbbbbR.",
                                "RbbbbbbbbbbbbbbR",
                                "RbbbbbbbbbbbbbbR",
                                "RbbbbbbbbbbbbbbR",
                                ".RbbbbbbbbbbbbR.",
                                "..RRbbbbbbbbRR..",
                                "....RRRRRRRR....",
                            }));
    // Discs of the sizes the program draws most: the corners of 6 and 9 are cut, 5's not.
    EXPECT_EQ(drawn(6, 6), (std::vector<std::string>{"..RR..", ".RbbR.", "RbbbbR", "RbbbbR", ".RbbR.", "..RR.."}));
    EXPECT_EQ(drawn(5, 5), (std::vector<std::string>{".RRR.", "RbbbR", "RbbbR", "RbbbR", ".RRR."}));
    EXPECT_EQ(drawn(3, 4), (std::vector<std::string>{".R.", "RbR", "RbR", ".R."}));
}

TEST(Ellipse, EmptyBoxDrawsNothing) {
    Canvas canvas(8, 8);
    Tools tools(canvas.dc(), RED, RED);
    EXPECT_TRUE(Ellipse(canvas.dc(), 0, 0, 0, 0));
    EXPECT_TRUE(Ellipse(canvas.dc(), 3, 3, 3, 6));
    EXPECT_TRUE(Ellipse(canvas.dc(), 3, 3, 6, 3));
    EXPECT_EQ(canvas.count(RED), 0);
}

TEST(Ellipse, ReversedBoxIsNormalised) {
    Canvas a(20, 20);
    Canvas b(20, 20);
    Tools ta(a.dc(), RED, RED);
    Tools tb(b.dc(), RED, RED);
    Ellipse(a.dc(), 2, 3, 11, 9);
    Ellipse(b.dc(), 11, 9, 2, 3);
    expectBox(b.paintedBox(), 2, 3, 10, 8);
    EXPECT_EQ(a.count(RED), b.count(RED));
}

TEST(Ellipse, PenDrawsTheRimAndBrushTheInside) {
    Canvas canvas(20, 20);
    Tools tools(canvas.dc(), RED, BLUE);
    Ellipse(canvas.dc(), 0, 0, 11, 11);
    EXPECT_EQ(canvas.at(5, 5), BLUE);
    EXPECT_EQ(canvas.at(0, 5), RED);
    EXPECT_EQ(canvas.at(10, 5), RED);
    EXPECT_EQ(canvas.at(5, 0), RED);
    EXPECT_EQ(canvas.at(1, 5), BLUE);
    // Every rim pixel touches the outside; no inside pixel does.
    for (int y = 0; y < 11; ++y) {
        for (int x = 0; x < 11; ++x) {
            COLORREF c = canvas.at(x, y);
            if (c == BLACK) continue;
            bool touchesOutside = canvas.at(x - 1, y) != RED && canvas.at(x - 1, y) != BLUE;
            touchesOutside = touchesOutside || (canvas.at(x + 1, y) != RED && canvas.at(x + 1, y) != BLUE);
            touchesOutside = touchesOutside || (canvas.at(x, y - 1) != RED && canvas.at(x, y - 1) != BLUE);
            touchesOutside = touchesOutside || (canvas.at(x, y + 1) != RED && canvas.at(x, y + 1) != BLUE);
            EXPECT_EQ(c == RED, touchesOutside) << x << "," << y;
        }
    }
}

TEST(Ellipse, ClipsAtTheBitmapEdges) {
    Canvas canvas(10, 10);
    Tools tools(canvas.dc(), RED, RED);
    Ellipse(canvas.dc(), -5, -5, 6, 6);
    expectBox(canvas.paintedBox(), 0, 0, 5, 5);
    EXPECT_EQ(canvas.at(0, 0), RED);
    EXPECT_EQ(canvas.at(9, 9), BLACK);
}

TEST(Ellipse, ExtremeBoxesDrawSafely) {
    Canvas canvas(10, 10);
    Tools tools(canvas.dc(), RED, BLUE);
    Ellipse(canvas.dc(), INT_MAX - 2, INT_MAX - 2, INT_MAX, INT_MAX);
    Ellipse(canvas.dc(), INT_MIN, INT_MIN, INT_MIN + 3, INT_MIN + 3);
    EXPECT_EQ(canvas.count(BLACK), 100);
    // A box around everything: the whole bitmap lies inside the shape.
    Ellipse(canvas.dc(), INT_MIN, INT_MIN, INT_MAX, INT_MAX);
    EXPECT_EQ(canvas.count(BLUE), 100);
}

TEST(Ellipse, NullPenAndBrush) {
    Canvas canvas(20, 20);
    HGDIOBJ oldPen = SelectObject(canvas.dc(), GetStockObject(NULL_PEN));
    HBRUSH brush = CreateSolidBrush(BLUE);
    HGDIOBJ oldBrush = SelectObject(canvas.dc(), brush);
    Ellipse(canvas.dc(), 0, 0, 11, 11);
    EXPECT_EQ(canvas.at(0, 5), BLUE);
    SelectObject(canvas.dc(), GetStockObject(NULL_BRUSH));
    HPEN pen = CreatePen(PS_SOLID, 1, RED);
    SelectObject(canvas.dc(), pen);
    Ellipse(canvas.dc(), 0, 0, 11, 11);
    EXPECT_EQ(canvas.at(0, 5), RED);
    EXPECT_EQ(canvas.at(5, 5), BLUE);
    SelectObject(canvas.dc(), oldPen);
    SelectObject(canvas.dc(), oldBrush);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_TRUE(DeleteObject(brush));
}

TEST(FillRect, ExcludesRightAndBottomAndClips) {
    Canvas canvas(10, 10);
    HBRUSH brush = CreateSolidBrush(RED);
    RECT rect{2, 3, 5, 7};
    EXPECT_NE(FillRect(canvas.dc(), &rect, brush), 0);
    expectBox(canvas.paintedBox(), 2, 3, 4, 6);
    EXPECT_EQ(canvas.count(RED), 12);
    RECT outside{-100, -100, 100, 100};
    FillRect(canvas.dc(), &outside, brush);
    EXPECT_EQ(canvas.count(RED), 100);
    RECT empty{5, 5, 5, 9};
    HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    FillRect(canvas.dc(), &empty, white);
    EXPECT_EQ(canvas.count(RED), 100);
    DeleteObject(brush);
}

TEST(FillRect, SystemColourBrush) {
    Canvas canvas(4, 4);
    RECT all{0, 0, 4, 4};
    FillRect(canvas.dc(), &all, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
    EXPECT_EQ(canvas.count(WHITE), 16);
}

TEST(BitBlt, CopiesAndClipsAgainstBothBitmaps) {
    Canvas source(6, 6);
    Canvas target(10, 10);
    HBRUSH brush = CreateSolidBrush(RED);
    RECT all{0, 0, 6, 6};
    FillRect(source.dc(), &all, brush);
    DeleteObject(brush);
    // Source is smaller than the copy, and the target position hangs off the top left.
    EXPECT_TRUE(BitBlt(target.dc(), -2, -1, 20, 20, source.dc(), 0, 0, SRCCOPY));
    expectBox(target.paintedBox(), 0, 0, 3, 4);
    EXPECT_TRUE(BitBlt(target.dc(), 8, 8, 5, 5, source.dc(), 4, 4, SRCCOPY));
    EXPECT_EQ(target.at(8, 8), RED);
    EXPECT_EQ(target.at(9, 9), RED);
    EXPECT_EQ(target.count(RED), 20 + 4);
    EXPECT_TRUE(BitBlt(target.dc(), INT_MAX, INT_MAX, INT_MAX, INT_MAX, source.dc(), INT_MIN, INT_MIN, SRCCOPY));
    EXPECT_EQ(target.count(RED), 24);
}

TEST(GdiObjects, SelectReturnsWhatItReplaces) {
    Canvas canvas(2, 2);
    HPEN pen = CreatePen(PS_SOLID, 1, RED);
    HBRUSH brush = CreateSolidBrush(BLUE);
    HGDIOBJ oldPen = SelectObject(canvas.dc(), pen);
    EXPECT_EQ(oldPen, GetStockObject(BLACK_PEN));
    HGDIOBJ oldBrush = SelectObject(canvas.dc(), brush);
    EXPECT_EQ(oldBrush, GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(SelectObject(canvas.dc(), oldPen), pen);
    EXPECT_EQ(SelectObject(canvas.dc(), oldBrush), brush);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_TRUE(DeleteObject(brush));
}

TEST(GdiObjects, NothingLeftBehind) {
    int before = port::liveGdiObjects();
    {
        Canvas canvas(50, 50);
        for (int i = 0; i < 1000; ++i) {
            Tools tools(canvas.dc(), RGB(i, 0, 0), RGB(0, i, 0));
            Ellipse(canvas.dc(), i % 40, i % 30, i % 40 + 5, i % 30 + 5);
        }
        EXPECT_EQ(port::liveGdiObjects(), before + 2);
    }
    EXPECT_EQ(port::liveGdiObjects(), before);
}

TEST(GdiObjects, SelectedObjectsAreNotDeleted) {
    Canvas canvas(2, 2);
    HPEN pen = CreatePen(PS_SOLID, 1, RED);
    HGDIOBJ old = SelectObject(canvas.dc(), pen);
    EXPECT_FALSE(DeleteObject(pen));
    SelectObject(canvas.dc(), old);
    EXPECT_TRUE(DeleteObject(pen));
    // The handle is now stale, even after its slot is reused.
    HBRUSH next = CreateSolidBrush(BLUE);
    EXPECT_FALSE(DeleteObject(pen));
    EXPECT_EQ(SelectObject(canvas.dc(), pen), nullptr);
    EXPECT_TRUE(DeleteObject(next));
    // Stock objects survive deletion.
    EXPECT_TRUE(DeleteObject(GetStockObject(WHITE_BRUSH)));
    EXPECT_NE(SelectObject(canvas.dc(), GetStockObject(WHITE_BRUSH)), nullptr);
}

TEST(GdiObjects, BitmapLivesInOneDcAtATime) {
    HDC first = CreateCompatibleDC(nullptr);
    HDC second = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(first, 3, 3);
    HGDIOBJ old = SelectObject(first, bitmap);
    EXPECT_NE(old, nullptr);
    EXPECT_EQ(SelectObject(second, bitmap), nullptr);
    EXPECT_FALSE(DeleteObject(bitmap));
    DeleteDC(first);
    EXPECT_TRUE(DeleteObject(bitmap));
    DeleteDC(second);
    EXPECT_EQ(CreateCompatibleBitmap(second, 3, 3), nullptr);
}

TEST(GdiObjects, NewBitmapIsBlackAndPixelsOutsideAreInvalid) {
    Canvas canvas(3, 2);
    EXPECT_EQ(canvas.count(BLACK), 6);
    EXPECT_EQ(canvas.at(3, 0), 0xFFFFFFFFu);
    EXPECT_EQ(canvas.at(-1, 0), 0xFFFFFFFFu);
}

// A window surface of 4 x 4 red pixels, drawn into through its own DC.
class Surface : public ::testing::Test {
protected:
    void SetUp() override {
        surface = port::createSurface(4, 4);
        dc = port::createSurfaceDC(surface);
        red = CreateSolidBrush(RED);
        RECT all{0, 0, 4, 4};
        FillRect(dc, &all, red);
    }
    void TearDown() override {
        DeleteDC(dc);
        DeleteObject(red);
        EXPECT_TRUE(DeleteObject(surface));
    }

    HBITMAP surface = nullptr;
    HDC dc = nullptr;
    HBRUSH red = nullptr;
};

TEST_F(Surface, ResizeKeepsTheOverlap) {
    port::placeSurface(surface, RECT{0, 0, 6, 2});
    EXPECT_EQ(GetPixel(dc, 3, 1), RED);
    EXPECT_EQ(GetPixel(dc, 4, 1), BLACK);
    EXPECT_EQ(GetPixel(dc, 0, 2), 0xFFFFFFFFu);
}

TEST_F(Surface, PlacedElsewhereItDrawsInTheCoordinatesItStandsFor) {
    // Now it holds 10..13 x 20..22: nothing of the old area overlaps.
    port::placeSurface(surface, RECT{10, 20, 14, 23});
    port::PixelView view = port::bitmapPixels(surface);
    EXPECT_EQ(view.x, 10);
    EXPECT_EQ(view.y, 20);
    EXPECT_EQ(GetPixel(dc, 10, 20), BLACK);
    EXPECT_EQ(GetPixel(dc, 0, 0), 0xFFFFFFFFu);
    // Every drawing call takes the coordinates, and clips to what is held.
    RECT left{0, 20, 11, 21};
    FillRect(dc, &left, red);
    EXPECT_EQ(GetPixel(dc, 10, 20), RED);
    EXPECT_EQ(GetPixel(dc, 11, 20), BLACK);
    {
        Tools tools(dc, BLUE, BLUE);
        Ellipse(dc, 12, 21, 14, 23);
    }
    EXPECT_EQ(view.pixels[1 * 4 + 2], port::pixelFromColour(BLUE));
    Canvas white(2, 2);
    RECT whole{0, 0, 2, 2};
    FillRect(white.dc(), &whole, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    BitBlt(dc, 13, 22, 5, 5, white.dc(), 0, 0, SRCCOPY);
    EXPECT_EQ(GetPixel(dc, 13, 22), WHITE);
    // Moved back over part of the old place: the overlap keeps its pixels where they stand.
    port::placeSurface(surface, RECT{11, 20, 13, 22});
    EXPECT_EQ(GetPixel(dc, 11, 20), BLACK);
    EXPECT_EQ(GetPixel(dc, 12, 21), BLUE);
    EXPECT_EQ(GetPixel(dc, 10, 20), 0xFFFFFFFFu);
}

BITMAPINFO dibInfo(LONG width, LONG height, WORD bits = 32, DWORD compression = BI_RGB) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = bits;
    info.bmiHeader.biCompression = compression;
    return info;
}

TEST(DibSection, TheBitsAreTheBitmapsPixelsTopDownBlueInTheLowByte) {
    int before = port::liveGdiObjects();
    BITMAPINFO info = dibInfo(5, -4);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(dib, nullptr);
    ASSERT_NE(bits, nullptr);
    auto* words = static_cast<uint32_t*>(bits);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, dib);
    // Drawn through the DC, read through the bits: row 1, columns 2 and up.
    RECT rect{2, 1, 5, 2};
    HBRUSH brush = CreateSolidBrush(RGB(0x12, 0x34, 0x56));
    FillRect(dc, &rect, brush);
    EXPECT_TRUE(GdiFlush());
    EXPECT_EQ(words[1 * 5 + 2], 0x00123456u);
    EXPECT_EQ(words[1 * 5 + 1], 0u);
    EXPECT_EQ(words[2 * 5 + 2], 0u);
    // Written through the bits, read through the DC.
    words[3 * 5 + 4] = 0x00ABCDEF;
    EXPECT_EQ(GetPixel(dc, 4, 3), RGB(0xAB, 0xCD, 0xEF));
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(brush);
    EXPECT_TRUE(DeleteObject(dib));
    EXPECT_EQ(port::liveGdiObjects(), before);
}

TEST(DibSection, OnlyTopDown32BitRgbIsMade) {
    void* bits = &bits;
    BITMAPINFO bottomUp = dibInfo(4, 4);
    EXPECT_EQ(CreateDIBSection(nullptr, &bottomUp, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(bits, nullptr);
    BITMAPINFO rgb24 = dibInfo(4, -4, 24);
    EXPECT_EQ(CreateDIBSection(nullptr, &rgb24, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    BITMAPINFO bitfields = dibInfo(4, -4, 32, 3);
    EXPECT_EQ(CreateDIBSection(nullptr, &bitfields, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    BITMAPINFO empty = dibInfo(0, -4);
    EXPECT_EQ(CreateDIBSection(nullptr, &empty, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
}

}  // namespace
