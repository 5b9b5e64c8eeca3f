#include "gdi.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

enum class Kind : uint8_t { Free, Pen, Brush, Bitmap, Dc };

// One slot of the object table; the fields in use depend on the kind.
struct Object {
    Kind kind = Kind::Free;
    bool stock = false;
    bool hollow = false;         // NULL_PEN, PS_NULL, NULL_BRUSH
    uint32_t generation = 1;     // tells a stale handle from the slot's new tenant
    uint32_t pixel = 0;          // pen or brush colour
    int selections = 0;          // how many DCs hold this pen, brush or bitmap
    int width = 0;               // bitmap
    int height = 0;
    int originX = 0;             // where its first pixel stands in the coordinates drawn with
    int originY = 0;
    std::vector<uint32_t> pixels;
    HGDIOBJ pen = nullptr;       // device context: what is selected
    HGDIOBJ brush = nullptr;
    HGDIOBJ bitmap = nullptr;
    int32_t nextFree = -1;
};

// Handle values below this are free for the system-colour brushes (COLOR_x + 1).
constexpr uint32_t FIRST_INDEX_VALUE = 64;
constexpr int STOCK_COUNT = NULL_PEN + 1;

struct Table {
    std::vector<Object> objects;
    int32_t firstFree = -1;
    int live = 0;
    HGDIOBJ stock[STOCK_COUNT] = {};
    HGDIOBJ defaultBitmap = nullptr;
};

HGDIOBJ handleOf(const Table& table, int32_t index) {
    uint64_t value = (static_cast<uint64_t>(table.objects[index].generation) << 32) |
                     (static_cast<uint32_t>(index) + FIRST_INDEX_VALUE);
    return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(value));
}

int32_t allocateSlot(Table& table, Kind kind) {
    int32_t index;
    if (table.firstFree >= 0) {
        index = table.firstFree;
        table.firstFree = table.objects[index].nextFree;
    } else {
        index = static_cast<int32_t>(table.objects.size());
        table.objects.emplace_back();
    }
    Object& object = table.objects[index];
    object.kind = kind;
    object.stock = false;
    object.hollow = false;
    object.selections = 0;
    object.originX = 0;
    object.originY = 0;
    ++table.live;
    return index;
}

int32_t makeStock(Table& table, Kind kind, uint32_t pixel, bool hollow) {
    int32_t index = allocateSlot(table, kind);
    Object& object = table.objects[index];
    object.stock = true;
    object.pixel = pixel;
    object.hollow = hollow;
    --table.live;
    return index;
}

// Constant-initialised, so the look-ups on every drawing call need no guard; the stock objects
// are made on first use.
Table tableInstance;
bool stockMade = false;

void makeStockObjects(Table& t) {
    stockMade = true;
    const uint32_t brushPixels[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000, 0};
    for (int i = WHITE_BRUSH; i <= NULL_BRUSH; ++i) {
        t.stock[i] = handleOf(t, makeStock(t, Kind::Brush, brushPixels[i], i == NULL_BRUSH));
    }
    t.stock[WHITE_PEN] = handleOf(t, makeStock(t, Kind::Pen, 0xFFFFFF, false));
    t.stock[BLACK_PEN] = handleOf(t, makeStock(t, Kind::Pen, 0x000000, false));
    t.stock[NULL_PEN] = handleOf(t, makeStock(t, Kind::Pen, 0, true));
    int32_t bitmap = makeStock(t, Kind::Bitmap, 0, false);
    t.objects[bitmap].width = 1;
    t.objects[bitmap].height = 1;
    t.objects[bitmap].pixels.assign(1, 0);
    t.defaultBitmap = handleOf(t, bitmap);
}

inline Table& table() { return tableInstance; }

Table& tableWithStock() {
    if (!stockMade) makeStockObjects(tableInstance);
    return tableInstance;
}

// The live object a handle names, of any kind, or nullptr for a stale or foreign handle.
Object* lookupAny(const void* handle) {
    Table& t = table();
    uint64_t value = reinterpret_cast<uintptr_t>(handle);
    uint32_t low = static_cast<uint32_t>(value);
    if (low < FIRST_INDEX_VALUE) return nullptr;
    uint32_t index = low - FIRST_INDEX_VALUE;
    if (index >= t.objects.size()) return nullptr;
    Object& object = t.objects[index];
    if (object.kind == Kind::Free || object.generation != static_cast<uint32_t>(value >> 32)) return nullptr;
    return &object;
}

Object* lookup(const void* handle, Kind kind) {
    Object* object = lookupAny(handle);
    return object != nullptr && object->kind == kind ? object : nullptr;
}

void freeSlot(Object& object) {
    Table& t = table();
    object.kind = Kind::Free;
    object.pixels = std::vector<uint32_t>();
    object.pen = object.brush = object.bitmap = nullptr;
    ++object.generation;
    object.nextFree = t.firstFree;
    t.firstFree = static_cast<int32_t>(&object - t.objects.data());
    --t.live;
}

// Selecting moves the "in use" mark from the old object to the new one.
HGDIOBJ swapSelection(HGDIOBJ& slot, HGDIOBJ object, Object& incoming) {
    HGDIOBJ previous = slot;
    Object* old = lookupAny(previous);
    if (old != nullptr && old->selections > 0) --old->selections;
    slot = object;
    ++incoming.selections;
    return previous;
}

HDC newDc(HGDIOBJ bitmap) {
    Table& t = tableWithStock();
    int32_t index = allocateSlot(t, Kind::Dc);
    Object& dc = t.objects[index];
    dc.pen = t.stock[BLACK_PEN];
    dc.brush = t.stock[WHITE_BRUSH];
    dc.bitmap = bitmap;
    for (HGDIOBJ h : {dc.pen, dc.brush, dc.bitmap}) {
        if (Object* o = lookupAny(h)) ++o->selections;
    }
    return reinterpret_cast<HDC>(handleOf(t, index));
}

// A DC's pixels; drawing coordinates minus the origin are pixel coordinates.
struct Target {
    uint32_t* pixels;
    int width;
    int height;
    int64_t originX;
    int64_t originY;
};

bool targetOf(HDC dc, Target& target, Object** dcObject = nullptr) {
    Object* d = lookup(dc, Kind::Dc);
    if (d == nullptr) return false;
    Object* bitmap = lookup(d->bitmap, Kind::Bitmap);
    if (bitmap == nullptr) return false;
    target = {bitmap->pixels.data(), bitmap->width, bitmap->height, bitmap->originX, bitmap->originY};
    if (dcObject != nullptr) *dcObject = d;
    return true;
}

void fillSpan(Target& target, int y, int64_t x0, int64_t x1, uint32_t pixel) {
    x0 = std::max<int64_t>(x0, 0);
    x1 = std::min<int64_t>(x1, target.width - 1);
    if (x0 > x1) return;
    uint32_t* row = target.pixels + static_cast<std::ptrdiff_t>(y) * target.width;
    std::fill(row + x0, row + x1 + 1, pixel);
}

// An ellipse as GDI draws it with a one-pixel pen, whose bytes the program's pictures share with
// Windows. The rim is a walk through one quadrant's pixels, from the middle of the box's right
// column up to its top row, each step chosen by the sign of an error term that follows the
// ellipse through the centres of the box's outermost pixels (Alois Zingl's rasteriser); the
// other quadrants mirror it, and the inside is everything between.
struct EllipsePaint {
    Target& target;
    int64_t left, top, width, height;  // the box
    const uint32_t* rim;     // nullptr: no pen
    const uint32_t* inside;  // nullptr: no brush

    // One row of the shape: the rim from first to innerFirst - 1 and from innerLast + 1 to
    // last, the inside between.
    void row(int64_t y, int64_t first, int64_t innerFirst, int64_t innerLast, int64_t last) const {
        if (y < 0 || y >= target.height) return;
        int line = static_cast<int>(y);
        if (rim == nullptr || (inside != nullptr && *rim == *inside)) {
            if (inside != nullptr) fillSpan(target, line, first, last, *inside);
            return;
        }
        fillSpan(target, line, first, std::min(innerFirst - 1, last), *rim);
        fillSpan(target, line, std::max(innerLast + 1, first), last, *rim);
        if (inside != nullptr) fillSpan(target, line, innerFirst, innerLast, *inside);
    }

    // The quadrant's row "up" rows above the bottom, from its outermost rim pixel in to its
    // innermost, with its mirror image about the box's middle row.
    void mirroredRows(int64_t up, int64_t outer, int64_t inner) const {
        int64_t first = left + width - 1 - outer;
        int64_t last = left + outer;
        int64_t innerFirst = left + width - inner;
        int64_t innerLast = left + inner - 1;
        row(top + height - 1 - up, first, innerFirst, innerLast, last);
        if (up != height - 1 - up) row(top + up, first, innerFirst, innerLast, last);
    }

    void walk() const {
        const int64_t a = width - 1;
        const int64_t b = height - 1;
        int64_t dx = 4 * b * b * (1 - a);
        int64_t dy = 4 * a * a * (1 + b % 2);
        int64_t error = dx + dy + a * a * (b % 2);
        int64_t column = a;
        int64_t up = height / 2;
        int64_t outer = column;
        while (column >= width / 2) {
            int64_t twice = 2 * error;
            int64_t nextColumn = column;
            int64_t nextUp = up;
            if (twice >= dx) {
                --nextColumn;
                dx += 8 * b * b;
                error += dx;
            }
            if (twice <= dy) {
                ++nextUp;
                dy += 8 * a * a;
                error += dy;
            }
            if (nextUp != up || nextColumn < width / 2) {
                mirroredRows(up, outer, column);
                outer = nextColumn;
            }
            column = nextColumn;
            up = nextUp;
        }
    }

    // Past any screen the walk's terms would not fit 64 bits: the shape sampled at pixel
    // centres, the rim one pixel at each end of a row.
    void sample() const {
        double cx = static_cast<double>(left) + static_cast<double>(width) / 2.0;
        double cy = static_cast<double>(top) + static_cast<double>(height) / 2.0;
        double rx = static_cast<double>(width) / 2.0;
        double ry = static_cast<double>(height) / 2.0;
        int64_t yLast = std::min<int64_t>(top + height, target.height) - 1;
        for (int64_t y = std::max<int64_t>(top, 0); y <= yLast; ++y) {
            double v = (static_cast<double>(y) + 0.5 - cy) / ry;
            double half = rx * std::sqrt(std::max(1.0 - v * v, 0.0));
            auto first = static_cast<int64_t>(std::ceil(cx - half - 0.5));
            auto last = static_cast<int64_t>(std::floor(cx + half - 0.5));
            if (first <= last) row(y, first, first + 1, last - 1, last);
        }
    }

    void draw() const {
        // A 1 x 1 box draws nothing; a box 2 pixels wide or high is the pen's rectangle, whole.
        if (width == 1 && height == 1) return;
        if (width <= 2 || height <= 2) {
            for (int64_t y = top; y < top + height; ++y) row(y, left, left + width, left + width - 1, left + width - 1);
            return;
        }
        constexpr int64_t WALKED = int64_t{1} << 19;
        if (width > WALKED || height > WALKED) {
            sample();
        } else {
            walk();
        }
    }
};

}  // namespace

namespace port {

HBITMAP createSurface(int width, int height) {
    Table& t = table();
    int32_t index = allocateSlot(t, Kind::Bitmap);
    Object& bitmap = t.objects[index];
    bitmap.width = std::max(width, 0);
    bitmap.height = std::max(height, 0);
    bitmap.pixels.assign(static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height), 0);
    return reinterpret_cast<HBITMAP>(handleOf(t, index));
}

void placeSurface(HBITMAP surface, const RECT& area) {
    Object* bitmap = lookup(surface, Kind::Bitmap);
    if (bitmap == nullptr) return;
    int width = std::max<int>(area.right - area.left, 0);
    int height = std::max<int>(area.bottom - area.top, 0);
    if (width == bitmap->width && height == bitmap->height && area.left == bitmap->originX &&
        area.top == bitmap->originY) {
        return;
    }
    // A new vector rather than a resize, so a surface that shrinks gives its memory back.
    std::vector<uint32_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    int64_t left = std::max<int64_t>(area.left, bitmap->originX);
    int64_t right = std::min<int64_t>(static_cast<int64_t>(area.left) + width,
                                      static_cast<int64_t>(bitmap->originX) + bitmap->width);
    int64_t top = std::max<int64_t>(area.top, bitmap->originY);
    int64_t bottom = std::min<int64_t>(static_cast<int64_t>(area.top) + height,
                                       static_cast<int64_t>(bitmap->originY) + bitmap->height);
    for (int64_t y = top; y < bottom && left < right; ++y) {
        std::copy_n(bitmap->pixels.begin() + (y - bitmap->originY) * bitmap->width + (left - bitmap->originX),
                    right - left, pixels.begin() + (y - area.top) * width + (left - area.left));
    }
    bitmap->pixels = std::move(pixels);
    bitmap->width = width;
    bitmap->height = height;
    bitmap->originX = area.left;
    bitmap->originY = area.top;
}

HDC createSurfaceDC(HBITMAP surface) {
    if (lookup(surface, Kind::Bitmap) == nullptr) return nullptr;
    return newDc(surface);
}

PixelView bitmapPixels(HBITMAP handle) {
    Object* bitmap = lookup(handle, Kind::Bitmap);
    if (bitmap == nullptr) return {};
    return {bitmap->pixels.data(), bitmap->width, bitmap->height, bitmap->originX, bitmap->originY};
}

PixelView dcPixels(HDC dc) {
    Target target{};
    if (!targetOf(dc, target)) return {};
    return {target.pixels, target.width, target.height, static_cast<int>(target.originX),
            static_cast<int>(target.originY)};
}

int liveGdiObjects() { return table().live; }

}  // namespace port

HDC WINAPI CreateCompatibleDC(HDC dc) {
    if (dc != nullptr && lookup(dc, Kind::Dc) == nullptr) return nullptr;
    return newDc(tableWithStock().defaultBitmap);
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (lookup(dc, Kind::Dc) == nullptr || width <= 0 || height <= 0) return nullptr;
    // Bitmaps are always 32-bit colour here: every device this layer knows is.
    return port::createSurface(width, height);
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    Object* d = lookup(dc, Kind::Dc);
    Object* incoming = lookupAny(object);
    if (d == nullptr || incoming == nullptr) return nullptr;
    switch (incoming->kind) {
    case Kind::Pen:
        return swapSelection(d->pen, object, *incoming);
    case Kind::Brush:
        return swapSelection(d->brush, object, *incoming);
    case Kind::Bitmap:
        // A bitmap lives in one device context at a time.
        if (d->bitmap == object) return object;
        if (incoming->selections > 0) return nullptr;
        return swapSelection(d->bitmap, object, *incoming);
    default:
        return nullptr;
    }
}

BOOL WINAPI DeleteDC(HDC dc) {
    Object* d = lookup(dc, Kind::Dc);
    if (d == nullptr) return FALSE;
    for (HGDIOBJ h : {d->pen, d->brush, d->bitmap}) {
        if (Object* o = lookupAny(h); o != nullptr && o->selections > 0) --o->selections;
    }
    freeSlot(*d);
    return TRUE;
}

BOOL WINAPI DeleteObject(HGDIOBJ handle) {
    Object* object = lookupAny(handle);
    if (object == nullptr || object->kind == Kind::Dc) return FALSE;
    if (object->stock) return TRUE;
    // Still selected into a device context: refused, and the object stays valid.
    if (object->selections > 0) return FALSE;
    freeSlot(*object);
    return TRUE;
}

HPEN WINAPI CreatePen(int style, int /*width*/, COLORREF colour) {
    Table& t = table();
    int32_t index = allocateSlot(t, Kind::Pen);
    t.objects[index].pixel = port::pixelFromColour(colour);
    t.objects[index].hollow = style == PS_NULL;
    return reinterpret_cast<HPEN>(handleOf(t, index));
}

HBRUSH WINAPI CreateSolidBrush(COLORREF colour) {
    Table& t = table();
    int32_t index = allocateSlot(t, Kind::Brush);
    t.objects[index].pixel = port::pixelFromColour(colour);
    return reinterpret_cast<HBRUSH>(handleOf(t, index));
}

HGDIOBJ WINAPI GetStockObject(int index) {
    if (index < 0 || index >= STOCK_COUNT) return nullptr;
    return tableWithStock().stock[index];
}

BOOL WINAPI Ellipse(HDC dc, int left, int top, int right, int bottom) {
    // An empty box draws nothing; a frame of many dead particles is full of them.
    if (left == right || top == bottom) return lookup(dc, Kind::Dc) != nullptr ? TRUE : FALSE;
    Target target{};
    Object* d = nullptr;
    if (!targetOf(dc, target, &d)) return FALSE;
    const Object* pen = lookup(d->pen, Kind::Pen);
    const Object* brush = lookup(d->brush, Kind::Brush);
    const uint32_t* inside = brush != nullptr && !brush->hollow ? &brush->pixel : nullptr;
    // Without a pen the inside reaches the edge.
    const uint32_t* rim = pen != nullptr && !pen->hollow ? &pen->pixel : inside;
    int64_t x0 = std::min(left, right);
    int64_t y0 = std::min(top, bottom);
    EllipsePaint paint{target, x0 - target.originX, y0 - target.originY, std::max<int64_t>(left, right) - x0,
                       std::max<int64_t>(top, bottom) - y0, rim, inside};
    paint.draw();
    return TRUE;
}

int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    Target target{};
    if (rect == nullptr || !targetOf(dc, target)) return 0;
    uint32_t pixel;
    uintptr_t value = reinterpret_cast<uintptr_t>(brush);
    if (value > 0 && value < FIRST_INDEX_VALUE) {
        pixel = port::pixelFromColour(GetSysColor(static_cast<int>(value) - 1));
    } else {
        const Object* b = lookup(brush, Kind::Brush);
        if (b == nullptr) return 0;
        if (b->hollow) return 1;
        pixel = b->pixel;
    }
    int64_t top = std::max<int64_t>(rect->top - target.originY, 0);
    int64_t bottom = std::min<int64_t>(rect->bottom - target.originY, target.height);
    for (int64_t y = top; y < bottom; ++y) {
        fillSpan(target, static_cast<int>(y), rect->left - target.originX, rect->right - target.originX - 1, pixel);
    }
    return 1;
}

BOOL WINAPI BitBlt(HDC targetDc, int x, int y, int width, int height, HDC sourceDc, int sourceX, int sourceY,
                   DWORD rop) {
    Target target{};
    Target source{};
    if (rop != SRCCOPY || !targetOf(targetDc, target) || !targetOf(sourceDc, source)) return FALSE;
    // Clip the rectangle against both bitmaps, in 64 bits so no sum can overflow.
    int64_t dx0 = x - target.originX, dy0 = y - target.originY, sx0 = sourceX - source.originX,
            sy0 = sourceY - source.originY, w = width, h = height;
    if (dx0 < 0) { sx0 -= dx0; w += dx0; dx0 = 0; }
    if (dy0 < 0) { sy0 -= dy0; h += dy0; dy0 = 0; }
    if (sx0 < 0) { dx0 -= sx0; w += sx0; sx0 = 0; }
    if (sy0 < 0) { dy0 -= sy0; h += sy0; sy0 = 0; }
    w = std::min({w, target.width - dx0, source.width - sx0});
    h = std::min({h, target.height - dy0, source.height - sy0});
    if (w <= 0 || h <= 0) return TRUE;
    for (int64_t row = 0; row < h; ++row) {
        const uint32_t* from = source.pixels + (sy0 + row) * source.width + sx0;
        uint32_t* to = target.pixels + (dy0 + row) * target.width + dx0;
        std::copy_n(from, w, to);
    }
    return TRUE;
}

COLORREF WINAPI GetPixel(HDC dc, int x, int y) {
    Target target{};
    if (!targetOf(dc, target)) return 0xFFFFFFFF;
    int64_t px = x - target.originX;
    int64_t py = y - target.originY;
    if (px < 0 || py < 0 || px >= target.width || py >= target.height) return 0xFFFFFFFF;
    return port::colourFromPixel(target.pixels[py * target.width + px]);
}

HBITMAP WINAPI CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                                DWORD /*offset*/) {
    if (bits != nullptr) *bits = nullptr;
    if (dc != nullptr && lookup(dc, Kind::Dc) == nullptr) return nullptr;
    if (info == nullptr || usage != DIB_RGB_COLORS || section != nullptr) return nullptr;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    // A surface's pixels are 0x00RRGGBB words, rows from the top: the layout of a top-down
    // 32-bit DIB, so the bits can be the surface's own.
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biBitCount != 32 || header.biCompression != BI_RGB ||
        header.biPlanes != 1 || header.biWidth <= 0 || header.biHeight >= 0 || header.biHeight == INT32_MIN) {
        return nullptr;
    }
    HBITMAP bitmap = port::createSurface(header.biWidth, -header.biHeight);
    if (bits != nullptr) *bits = port::bitmapPixels(bitmap).pixels;
    return bitmap;
}

BOOL WINAPI GdiFlush(void) { return TRUE; }

// Lives with GDI so that FillRect with a system-colour brush needs nothing else of the layer.
DWORD WINAPI GetSysColor(int index) {
    switch (index) {
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_BTNFACE: return RGB(240, 240, 240);
    default: return RGB(0, 0, 0);
    }
}
