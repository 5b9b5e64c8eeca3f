#include "field.h"

#include "simulation.h"

namespace {

// Truncates toward zero; false when the value is not finite or does not fit an int, where the
// conversion would be undefined.
bool toCoordinate(double value, int& coordinate) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
    coordinate = static_cast<int>(value);
    return true;
}

// Red, green and blue are 70, 60 and 50 times the low byte of the index, each kept to 8 bits.
COLORREF indexColour(int32_t index) {
    unsigned low = static_cast<unsigned>(index) & 0xFFu;
    return RGB(static_cast<BYTE>(70u * low), static_cast<BYTE>(60u * low), static_cast<BYTE>(50u * low));
}

void drawParticle(HDC dc, int32_t index, const Particle& p) {
    double d = p.radius * simParameters.drawScale;
    int left, top, right, bottom;
    if (!toCoordinate(p.x - d, left) || !toCoordinate(p.y - d, top) || !toCoordinate(p.x + d, right) ||
        !toCoordinate(p.y + d, bottom)) {
        return;
    }
    COLORREF colour = indexColour(index);
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    Ellipse(dc, left, top, right, bottom);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

}  // namespace

void paintField(HDC dc, const RECT& area) {
    FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    // lastIndex is read again on every pass, as the loop's bound.
    for (int32_t i = 0; i <= simState.lastIndex; ++i) drawParticle(dc, i, simState.current[i]);
}
