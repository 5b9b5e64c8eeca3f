// The exact and fast steps beside the literal one, and beside the machine's ceilings (one estimate
// of 1/sqrt(r^2) and its refinement per pair for the fast engine, and the square root and division
// it took before; one square root and three divisions per ordered pair for the exact one), in one
// run so that ratios hold however busy the machine is.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "crt.h"
#include "engine.h"
#include "workspace.h"
#include "simulation.h"
#include "sqrt_div_bound.h"

namespace {

enum Arg { ENGINE, THREADS, COUNT, RADIUS, MERGE, WARM };

constexpr int64_t LITERAL = 0;
constexpr int64_t FAST = 1;
// The exact engine with the instructions' quotients and roots, and with built ones (the same bits).
constexpr int64_t EXACT = 2;
constexpr int64_t EXACT_BUILT = 3;

StepEngine engineOf(int64_t engine) {
    return engine == LITERAL ? StepEngine::Literal : engine == FAST ? StepEngine::Fast : StepEngine::Exact;
}

// ORRELUNE_TEST_KERNELS=avx2 or =scalar caps the kernels, as for the tests, so that one processor
// measures the lower levels too.
void capKernels() {
    const char* text = std::getenv("ORRELUNE_TEST_KERNELS");
    if (text == nullptr) return;
    for (CpuLevel level : {CpuLevel::Scalar, CpuLevel::Avx2, CpuLevel::Avx512})
        if (std::strcmp(text, cpuLevelName(level)) == 0) stepSettings().cpuLimit = level;
}

using Key = std::tuple<int64_t, int64_t, int64_t, int64_t>;

// A fresh population (warm 0: the first step, when thousands of pairs merge at once) or the table
// one step later (warm 1: a typical step). Drawn once per shape for a fixed clock second.
const std::vector<Particle>& startingTable(int64_t count, int64_t radiusMilli, int64_t merge, int64_t warm) {
    static std::map<Key, std::vector<Particle>> tables;
    const Key key{count, radiusMilli, merge, warm};
    auto found = tables.find(key);
    if (found != tables.end()) return found->second;
    simParameters = SimulationParameters{};
    simParameters.particleCount = static_cast<int32_t>(count);
    simParameters.meanRadius = static_cast<double>(radiusMilli) / 1000;
    simParameters.mergeEnabled = static_cast<int32_t>(merge);
    crtFixClock(1000);
    resizeAndReinitialize();
    if (warm != 0) {
        setStepEngine(StepEngine::Exact);
        stepSimulation(FIELD_WIDTH, FIELD_HEIGHT);
    }
    std::vector<Particle> table(simState.current.records, simState.current.records + simState.lastIndex + 1);
    return tables.emplace(key, std::move(table)).first->second;
}

// The same table with its first live particle a thousandth from the left edge: closer than the
// float estimates' range lets the step's bounds on r^2 vouch for every pair.
const std::vector<Particle>& nearTheEdge(const std::vector<Particle>& table) {
    static std::map<const std::vector<Particle>*, std::vector<Particle>> tables;
    auto found = tables.find(&table);
    if (found != tables.end()) return found->second;
    std::vector<Particle> moved = table;
    for (Particle& p : moved) {
        if (p.mass == 0) continue;
        p.x = 0.001;
        break;
    }
    return tables.emplace(&table, std::move(moved)).first->second;
}

void runStep(benchmark::State& state, bool nearEdge) {
    capKernels();
    const std::vector<Particle>& drawn =
        startingTable(state.range(COUNT), state.range(RADIUS), state.range(MERGE), state.range(WARM));
    const std::vector<Particle>& table = nearEdge ? nearTheEdge(drawn) : drawn;
    simParameters.mergeEnabled = static_cast<int32_t>(state.range(MERGE));
    // Tables are cached; the buffers (and the engine's scratch) must fit this one.
    simParameters.particleCount = static_cast<int32_t>(table.size());
    simState.current.reallocate();
    simState.snapshot.reallocate();
    setStepEngine(engineOf(state.range(ENGINE)));
    exactSettings().division = state.range(ENGINE) == EXACT_BUILT ? ExactDivision::Built : ExactDivision::Instructions;
    setStepThreads(static_cast<int32_t>(state.range(THREADS)));
    const auto records = static_cast<int32_t>(table.size());
    int32_t live = 0;
    for (const Particle& p : table) live += p.mass != 0;
    // Timed by hand around the step alone: pausing the library's timers reads the thread's CPU
    // clock inside the timed span, a system call that costs microseconds on this machine.
    for (auto _ : state) {
        std::copy(table.begin(), table.end(), simState.current.records);
        simState.lastIndex = records - 1;
        const auto begin = std::chrono::steady_clock::now();
        stepSimulation(FIELD_WIDTH, FIELD_HEIGHT);
        const auto end = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(simState.current.records);
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
    }
    // Pairs of live particles: those the step must visit (records born dead never interact).
    const double pairs = 0.5 * live * (live - 1.0);
    state.counters["live"] = live;
    state.counters["ns_per_ordered_pair"] = benchmark::Counter(
        2 * pairs * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["ns_per_pair"] =
        benchmark::Counter(pairs * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    const int64_t engine = state.range(ENGINE);
    state.SetLabel(std::string(stepEngineName(engineOf(engine))) + (engine == EXACT_BUILT ? " built" : "") + " " +
                   cpuLevelName(stepCpuLevel()) +
                   (lastStepHandedOver() ? " (handed to literal)" : ""));
}

void BM_Step(benchmark::State& state) { runStep(state, false); }
void BM_StepNearTheEdge(benchmark::State& state) { runStep(state, true); }

// As many square roots and divisions per second as the pass needs, on as many threads.
void runBound(benchmark::State& state, double (*loop)(int64_t)) {
    capKernels();
    const auto threads = static_cast<int32_t>(state.range(0));
    constexpr int64_t PAIRS = int64_t{1} << 26;
    for (auto _ : state) {
        std::vector<std::thread> others;
        std::vector<double> sums(static_cast<std::size_t>(threads));
        for (int32_t t = 1; t < threads; ++t) {
            others.emplace_back([&sums, t, loop] { sums[static_cast<std::size_t>(t)] = loop(PAIRS); });
        }
        sums[0] = loop(PAIRS);
        for (std::thread& t : others) t.join();
        benchmark::DoNotOptimize(sums.data());
    }
    state.counters["ns_per_pair"] = benchmark::Counter(static_cast<double>(PAIRS * threads) * 1e-9,
                                                       benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
    state.SetLabel(cpuLevelName(stepCpuLevel()));
}

// The fast engine's ceiling at 4a98325: one square root and one division per pair.
void BM_SqrtDivBound(benchmark::State& state) { runBound(state, sqrtDivLoop); }
// Its ceiling now: one estimate of 1/sqrt(r^2) and its refinement per pair (the division where
// the kernels have no estimate).
void BM_EstimateBound(benchmark::State& state) { runBound(state, estimateLoop); }
// The exact engine's folds: one square root and three divisions per ordered pair.
void BM_SqrtThreeDivBound(benchmark::State& state) { runBound(state, sqrtThreeDivLoop); }
// Its tiles: one square root and five divisions per pair.
void BM_SqrtFiveDivBound(benchmark::State& state) { runBound(state, sqrtFiveDivLoop); }

// Mean radius the parameter dialog allows at a count: min(2, sqrt(22500 / count)), in thousandths.
int64_t dialogRadius(int64_t count) {
    return std::min<int64_t>(2000, static_cast<int64_t>(std::sqrt(RADIUS_CAP / static_cast<double>(count)) * 1000));
}

void issueCases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"engine", "threads", "count", "radius", "merge", "warm"});
    for (int64_t engine : {LITERAL, EXACT, FAST}) {
        for (int64_t threads : {int64_t{1}, int64_t{2}}) {
            if (engine == LITERAL && threads == 2) continue;
            b->Args({engine, threads, 500, 2000, 1, 1});
            b->Args({engine, threads, 500, 2000, 1, 0});
            b->Args({engine, threads, 5000, 2120, 1, 1});
            b->Args({engine, threads, 5000, 2120, 0, 1});
            b->Args({engine, threads, 20000, 2000, 0, 0});
        }
    }
    for (int64_t engine : {EXACT, FAST}) {
        for (int64_t threads : {int64_t{1}, int64_t{2}}) {
            b->Args({engine, threads, 50000, 671, 1, 0});
            b->Args({engine, threads, 50000, 671, 0, 0});
            b->Args({engine, threads, 50000, 671, 1, 1});
        }
    }
}

// The exact engine's two ways to its quotients and roots, in the same runs.
void divisionCases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"engine", "threads", "count", "radius", "merge", "warm"});
    for (int64_t engine : {EXACT, EXACT_BUILT}) {
        for (int64_t threads : {int64_t{1}, int64_t{2}}) {
            b->Args({engine, threads, 5000, 2120, 0, 1});
            b->Args({engine, threads, 20000, 2000, 0, 0});
            b->Args({engine, threads, 50000, 671, 1, 0});
        }
    }
}

// The exact engine at the counts of a few tiles, where the diagonal tiles' folds weigh most.
void smallCounts(benchmark::internal::Benchmark* b) {
    b->ArgNames({"engine", "threads", "count", "radius", "merge", "warm"});
    for (int64_t threads : {int64_t{1}, int64_t{2}}) {
        for (int64_t count : {int64_t{200}, int64_t{350}, int64_t{500}, int64_t{700}, int64_t{1000}, int64_t{2000}}) {
            b->Args({EXACT, threads, count, 2000, 1, 1});
        }
    }
}

void tickSizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"engine", "threads", "count", "radius", "merge", "warm"});
    for (int64_t threads : {int64_t{1}, int64_t{2}}) {
        for (int64_t count = 8000; count <= 10000 + threads * 10000; count += 1000) {
            for (int64_t engine : {EXACT, FAST}) b->Args({engine, threads, count, dialogRadius(count), 1, 1});
        }
    }
}

// The fast engine where a particle lies next to an edge.
void nearTheEdgeCases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"engine", "threads", "count", "radius", "merge", "warm"});
    for (int64_t threads : {int64_t{1}, int64_t{2}}) {
        b->Args({FAST, threads, 500, 2000, 1, 0});
        b->Args({FAST, threads, 20000, 2000, 0, 0});
        b->Args({FAST, threads, 50000, 671, 1, 0});
    }
}

// The literal step at 50000 takes seconds a step, so it runs once (leave it out with a filter).
void literal50000(benchmark::internal::Benchmark* b) {
    b->ArgNames({"engine", "threads", "count", "radius", "merge", "warm"});
    b->Args({LITERAL, 1, 50000, 671, 1, 0});
    b->Args({LITERAL, 1, 50000, 671, 0, 0});
}

BENCHMARK(BM_SqrtDivBound)->ArgName("threads")->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EstimateBound)->ArgName("threads")->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqrtThreeDivBound)->ArgName("threads")->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqrtFiveDivBound)->ArgName("threads")->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Step)->Apply(issueCases)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StepNearTheEdge)->Apply(nearTheEdgeCases)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Step)->Name("BM_ExactDivision")->Apply(divisionCases)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Step)->Name("BM_ExactSmallCounts")->Apply(smallCounts)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Step)->Name("BM_TickSizes")->Apply(tickSizes)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Step)
    ->Name("BM_Literal50000")
    ->Apply(literal50000)
    ->Iterations(1)
    ->Repetitions(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
