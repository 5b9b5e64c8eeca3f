// The time of one literal step (every pair in table order) at a few table sizes, merging on and off:
// the baseline the fast engine is measured against.
#include <benchmark/benchmark.h>

#include <vector>

#include "crt.h"
#include "engine.h"
#include "simulation.h"

namespace {

// Draws a fresh default-style population of count particles for a fixed clock second.
std::vector<Particle> drawPopulation(int32_t count, int32_t merge) {
    simParameters = SimulationParameters{};
    simParameters.particleCount = count;
    simParameters.mergeEnabled = merge;
    crtFixClock(1000);
    resizeAndReinitialize();
    return std::vector<Particle>(simState.current.records, simState.current.records + count);
}

void restore(const std::vector<Particle>& population) {
    for (std::size_t i = 0; i < population.size(); ++i) simState.current[static_cast<int32_t>(i)] = population[i];
    simState.lastIndex = static_cast<int32_t>(population.size()) - 1;
}

// Each iteration steps the same starting table, so merges of the first step are included every time.
void BM_StepSimulation(benchmark::State& state) {
    const auto count = static_cast<int32_t>(state.range(0));
    const auto merge = static_cast<int32_t>(state.range(1));
    std::vector<Particle> population = drawPopulation(count, merge);
    setStepEngine(StepEngine::Literal);
    for (auto _ : state) {
        state.PauseTiming();
        restore(population);
        state.ResumeTiming();
        stepSimulation(FIELD_WIDTH, FIELD_HEIGHT);
        benchmark::DoNotOptimize(simState.current.records);
    }
    const double pairs = 0.5 * count * (count - 1.0);
    state.counters["pairs/s"] = benchmark::Counter(pairs, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_StepSimulation)
    ->ArgNames({"count", "merge"})
    ->Args({500, 1})
    ->Args({500, 0})
    ->Args({5000, 1})
    ->Args({5000, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace
