#include "renderer.h"

#include "field.h"

BackBuffer backBuffer;

void createBackBuffer(HWND window) {
    HDC windowDC = GetDC(window);
    backBuffer.bitmap = CreateCompatibleBitmap(windowDC, BACK_BUFFER_WIDTH, BACK_BUFFER_HEIGHT);
    backBuffer.memoryDC = CreateCompatibleDC(windowDC);
    SelectObject(backBuffer.memoryDC, backBuffer.bitmap);
    ReleaseDC(window, windowDC);
}

void deleteBackBuffer() {
    DeleteDC(backBuffer.memoryDC);
    DeleteObject(backBuffer.bitmap);
    backBuffer = BackBuffer{};
}

void drawParticles(HWND window, HDC targetDC) {
    RECT rect;
    GetClientRect(window, &rect);
    paintField(backBuffer.memoryDC, rect);
    BitBlt(targetDC, rect.left, rect.top, rect.right, rect.bottom, backBuffer.memoryDC, 0, 0, SRCCOPY);
}
