// The main window: its class, the simulation timer and the window procedure.
#pragma once

#include <windows.h>

// Class name and title of the main window.
inline constexpr char MAIN_WINDOW_CLASS[] = "Orrelune";
// The program's one timer, its period at start-up and after "START" (milliseconds).
inline constexpr UINT_PTR SIM_TIMER_ID = 242424;
inline constexpr UINT FIRST_TIMER_PERIOD = 20;
inline constexpr UINT START_TIMER_PERIOD = 50;

// Registers the class and creates the main window; false when either fails.
bool createMainWindow(HINSTANCE instance, HWND* window);

// Hands each message to its handler; every handled message returns 0.
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
