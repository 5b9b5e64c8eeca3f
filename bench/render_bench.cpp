// One frame of the renderer: clear, one pen, brush and ellipse per particle, copy to the window.
#include <benchmark/benchmark.h>

#include <windows.h>

#include "mainwindow.h"
#include "renderer.h"
#include "simulation.h"

namespace {

// Made once: a second registration of the class would fail.
HWND mainWindow() {
    static HWND window = [] {
        HWND w = nullptr;
        return createMainWindow(nullptr, &w) ? w : nullptr;
    }();
    return window;
}

// The main window as the program makes it (without a display here), a population of `count`
// particles and a target DC of the window's size.
struct Scene {
    HWND window = nullptr;
    HDC target = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ oldBitmap = nullptr;

    Scene(int32_t count, double drawScale) : window(mainWindow()) {
        simParameters.particleCount = count;
        simParameters.drawScale = drawScale;
        // Largest mean radius under the cap for this count (count * radius^2 < 22500), as large
        // discs cost the most to fill.
        simParameters.meanRadius = count > 4500 ? 0.67 : 2.0;
        resizeAndReinitialize();
        target = CreateCompatibleDC(nullptr);
        bitmap = CreateCompatibleBitmap(target, BACK_BUFFER_WIDTH, BACK_BUFFER_HEIGHT);
        oldBitmap = SelectObject(target, bitmap);
    }
    ~Scene() {
        SelectObject(target, oldBitmap);
        DeleteDC(target);
        DeleteObject(bitmap);
    }
};

void BM_DrawParticles(benchmark::State& state) {
    Scene scene(static_cast<int32_t>(state.range(0)), static_cast<double>(state.range(1)) / 100.0);
    if (scene.window == nullptr) {
        state.SkipWithError("no window");
        return;
    }
    for (auto _ : state) {
        drawParticles(scene.window, scene.target);
        benchmark::ClobberMemory();
    }
    state.counters["particles"] = static_cast<double>(simState.lastIndex + 1);
}
// The defaults, the largest count, and the largest count drawn as large as the dialog allows
// (count * (scale * radius)^2 < 90000).
BENCHMARK(BM_DrawParticles)
    ->ArgNames({"count", "scale_percent"})
    ->Args({500, 100})
    ->Args({50000, 100})
    ->Args({50000, 199})
    ->Unit(benchmark::kMillisecond);

}  // namespace
