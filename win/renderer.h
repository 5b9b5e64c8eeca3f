// The particle renderer: a back buffer wider than the field, and one frame of the population.
#pragma once

#include <windows.h>

inline constexpr int BACK_BUFFER_WIDTH = 1050;
inline constexpr int BACK_BUFFER_HEIGHT = 700;

// Owned by the main window from WM_CREATE to WM_DESTROY; the bitmap stays selected throughout.
struct BackBuffer {
    HDC memoryDC = nullptr;
    HBITMAP bitmap = nullptr;
};

extern BackBuffer backBuffer;

// Makes the back buffer compatible with the window's device context.
void createBackBuffer(HWND window);
// Frees the back buffer's device context, then its bitmap.
void deleteBackBuffer();
// Paints every record 0..lastIndex on white into the back buffer, then copies it to targetDC.
void drawParticles(HWND window, HDC targetDC);
