#include <windows.h>

#include "engine.h"
#include "mainwindow.h"
#include "simulation.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int showCommand) {
    // GSL would abort on a generator name it does not know: say so before anything is drawn.
    if (const char* problem = randomEnvironmentProblem()) {
        MessageBoxA(nullptr, problem, "Orrelune", MB_OK | MB_ICONERROR);
        return 1;
    }
    // Exact unless the user asks for speed over exactness (or for the oracle).
    setStepEngine(stepEngineFromEnvironment());
    initializePopulation(FIELD_WIDTH, FIELD_HEIGHT);
    HWND window = nullptr;
    if (!createMainWindow(instance, &window)) return 0;
    ShowWindow(window, showCommand);
    SetTimer(window, SIM_TIMER_ID, FIRST_TIMER_PERIOD, nullptr);

    // Polls without waiting; the pace comes from the timer alone. Before the first message is
    // taken, the record must already say "not WM_QUIT".
    MSG msg{};
    do {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    } while (msg.message != WM_QUIT);

    KillTimer(window, SIM_TIMER_ID);
    return 0;
}
