// What the rest of the layer (and the tests) need from the GDI part beyond <windows.h>:
// window surfaces, direct pixel access and a count of live objects.
#pragma once

#include <windows.h>

#include <cstdint>

namespace port {

// Pixels 0x00RRGGBB, row after row, width pixels a row. The first pixel stands at x, y of the
// coordinates drawn with (a window surface may hold only part of its client area).
struct PixelView {
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
};

// A 32-bit bitmap that the layer keeps behind a window, holding the area from 0, 0; DeleteObject
// frees it.
HBITMAP createSurface(int width, int height);
// The surface now holds the pixels of area (in the coordinates drawn with; drawing outside it
// is clipped). Those of the overlap with the old area are kept, new ones are black.
void placeSurface(HBITMAP surface, const RECT& area);
// A device context that draws into surface; DeleteDC frees the context, not the surface.
HDC createSurfaceDC(HBITMAP surface);
// The bitmap's pixels, or an empty view for anything else.
PixelView bitmapPixels(HBITMAP bitmap);
// The pixels of the bitmap selected into dc.
PixelView dcPixels(HDC dc);
// Pens, brushes, bitmaps and device contexts created and not yet deleted (stock objects excluded).
int liveGdiObjects();

// COLORREF (red in the low byte) to a surface pixel and back.
constexpr uint32_t pixelFromColour(COLORREF c) {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
constexpr COLORREF colourFromPixel(uint32_t p) {
    return ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16);
}

}  // namespace port
