#include "mainwindow.h"

#include "parameterdialog.h"
#include "renderer.h"
#include "resource.h"
#include "simulation.h"

namespace {

void onCreate(HWND window) { createBackBuffer(window); }

void onDestroy() {
    deleteBackBuffer();
    PostQuitMessage(0);
}

void onPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    drawParticles(window, dc);
    EndPaint(window, &paint);
}

void onTimer(HWND window) {
    advanceTick();
    InvalidateRect(window, nullptr, FALSE);
}

HINSTANCE windowInstance(HWND window) {
#ifdef _WIN64
    // 64-bit Windows has no GWL_HINSTANCE: the handle needs all 64 bits.
    return reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
#else
    return reinterpret_cast<HINSTANCE>(static_cast<LONG_PTR>(GetWindowLongA(window, GWL_HINSTANCE)));
#endif
}

void onParameter(HWND window) {
    // The simulation keeps running behind the dialog; OK or Cancel, the window is repainted.
    DialogBoxParamA(windowInstance(window), MAKEINTRESOURCEA(IDD_PARAMETER), window, parameterDialogProc, 0);
    InvalidateRect(window, nullptr, FALSE);
}

void onCommand(HWND window, WORD command) {
    switch (command) {
    case IDM_PARAMETER:
        onParameter(window);
        break;
    case IDM_STOP:
        KillTimer(window, SIM_TIMER_ID);
        break;
    case IDM_START:
        // Replaces a running timer of the same id: "START" while running only changes the period.
        SetTimer(window, SIM_TIMER_ID, START_TIMER_PERIOD, nullptr);
        break;
    case IDM_INITIALIZE:
        // Not repainted here: the new population shows with the next paint.
        reinitialize();
        break;
    default:
        break;
    }
}

}  // namespace

bool createMainWindow(HINSTANCE instance, HWND* window) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = nullptr;
    windowClass.hCursor = nullptr;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    windowClass.hIconSm = nullptr;
    if (RegisterClassExA(&windowClass) == 0) return false;

    *window = CreateWindowExA(0, MAIN_WINDOW_CLASS, MAIN_WINDOW_CLASS, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                              CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    return *window != nullptr;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        onCreate(window);
        return 0;
    case WM_DESTROY:
        onDestroy();
        return 0;
    case WM_PAINT:
        onPaint(window);
        return 0;
    case WM_TIMER:
        onTimer(window);
        return 0;
    case WM_COMMAND:
        onCommand(window, LOWORD(wParam));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
