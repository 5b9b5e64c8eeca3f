// The rounded division and square root (sim/rounded_divsqrt_*.h) against the instructions they
// stand in for, per lane: independent operations over arrays in the L1 cache (throughput) and
// chains where each result is the next operand (latency). The "one lane falls back" cases put an
// operand the test cannot prove (a zero numerator, a negative radicand) in one lane of every vector.
// per_lane is the time a lane; for a1 / b, a2 / b, that of both quotients of the lane.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "rounded_divsqrt_lanes.h"

namespace {

constexpr std::size_t LANES = 512;  // five arrays of them stay in the L1 cache

enum Isa { AVX2, AVX512 };
enum Variant { HARDWARE, BUILT, BUILT_ONE_LANE_FALLS_BACK };

bool has(Isa isa) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("fma")) return false;
    if (isa == AVX512) return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    return __builtin_cpu_supports("avx2");
#else
    (void)isa;
    return false;
#endif
}

// The kernels of the case's instruction set (cases are made only for the sets the processor has),
// or none where this build lacks them (the case is skipped).
const DivSqrtLanes* kernelsFor(benchmark::State& state) {
    static const DivSqrtLanes avx2 = has(AVX2) ? divSqrtLanesAvx2() : DivSqrtLanes{};
    static const DivSqrtLanes avx512 = has(AVX512) ? divSqrtLanesAvx512() : DivSqrtLanes{};
    const DivSqrtLanes& k = state.range(0) == AVX512 ? avx512 : avx2;
    if (k.width == 0) {
        state.SkipWithError("this processor or build lacks the instruction set");
        return nullptr;
    }
    return &k;
}

struct Operands {
    std::vector<double> a1, a2, b, x;
};
// Significands with exponents in [-20, 20], either sign; positive radicands. Where asked, one lane
// of every vector gets a zero numerator and a negative radicand.
Operands operands(std::size_t width, bool oneLaneFallsBack) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> significand(1.0, 2.0);
    std::uniform_int_distribution<int> exponent(-20, 20);
    const auto draw = [&](bool signed_) {
        const double v = std::ldexp(significand(rng), exponent(rng));
        return signed_ && (rng() & 1) != 0 ? -v : v;
    };
    Operands o;
    for (std::size_t i = 0; i < LANES; ++i) {
        o.a1.push_back(draw(true));
        o.a2.push_back(draw(true));
        o.b.push_back(draw(true));
        o.x.push_back(draw(false));
        if (oneLaneFallsBack && i % width == (i / width) % width) {
            o.a1.back() = 0.0;
            o.a2.back() = 0.0;
            o.x.back() = -o.x.back();
        }
    }
    return o;
}

void label(benchmark::State& state) {
    static const char* const variants[] = {"vdivpd/vsqrtpd", "built", "built, one lane falls back"};
    state.SetLabel(std::string(state.range(0) == AVX512 ? "avx512 " : "avx2 ") + variants[state.range(1)]);
    state.counters["per_lane"] = benchmark::Counter(static_cast<double>(LANES),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

void BM_Divide(benchmark::State& state) {
    const DivSqrtLanes* k = kernelsFor(state);
    if (k == nullptr) return;
    const Operands o = operands(k->width, state.range(1) == BUILT_ONE_LANE_FALLS_BACK);
    std::vector<double> q(LANES);
    const auto run = state.range(1) == HARDWARE ? k->hardwareDivide : k->divide;
    for (auto _ : state) {
        run(o.a1.data(), o.b.data(), q.data(), LANES);
        benchmark::DoNotOptimize(q.data());
        benchmark::ClobberMemory();
    }
    label(state);
}

void BM_Divide2(benchmark::State& state) {
    const DivSqrtLanes* k = kernelsFor(state);
    if (k == nullptr) return;
    const Operands o = operands(k->width, state.range(1) == BUILT_ONE_LANE_FALLS_BACK);
    std::vector<double> q1(LANES), q2(LANES);
    const auto run = state.range(1) == HARDWARE ? k->hardwareDivide2 : k->divide2;
    for (auto _ : state) {
        run(o.a1.data(), o.a2.data(), o.b.data(), q1.data(), q2.data(), LANES);
        benchmark::DoNotOptimize(q1.data());
        benchmark::DoNotOptimize(q2.data());
        benchmark::ClobberMemory();
    }
    label(state);
}

void BM_Sqrt(benchmark::State& state) {
    const DivSqrtLanes* k = kernelsFor(state);
    if (k == nullptr) return;
    const Operands o = operands(k->width, state.range(1) == BUILT_ONE_LANE_FALLS_BACK);
    std::vector<double> s(LANES);
    const auto run = state.range(1) == HARDWARE ? k->hardwareSqrt : k->sqrt;
    for (auto _ : state) {
        run(o.x.data(), s.data(), LANES);
        benchmark::DoNotOptimize(s.data());
        benchmark::ClobberMemory();
    }
    label(state);
}

// Chains: the numerators in [1, 2) keep the quotients in range; sqrt(s + x) settles near 1.6.
void BM_DivideLatency(benchmark::State& state) {
    const DivSqrtLanes* k = kernelsFor(state);
    if (k == nullptr) return;
    const Operands o = operands(k->width, false);
    std::vector<double> a(LANES);
    for (std::size_t i = 0; i < LANES; ++i) a[i] = std::ldexp(std::fabs(o.a1[i]), -std::ilogb(o.a1[i]));
    const auto run = state.range(1) == HARDWARE ? k->divideChainHardware : k->divideChainBuilt;
    for (auto _ : state) benchmark::DoNotOptimize(run(a.data(), LANES));
    label(state);
}

void BM_Divide2Latency(benchmark::State& state) {
    const DivSqrtLanes* k = kernelsFor(state);
    if (k == nullptr) return;
    const Operands o = operands(k->width, false);
    std::vector<double> a(LANES);
    for (std::size_t i = 0; i < LANES; ++i) a[i] = std::ldexp(std::fabs(o.a1[i]), -std::ilogb(o.a1[i]));
    const auto run = state.range(1) == HARDWARE ? k->divide2ChainHardware : k->divide2ChainBuilt;
    for (auto _ : state) benchmark::DoNotOptimize(run(a.data(), o.a2.data(), LANES));
    label(state);
}

void BM_SqrtLatency(benchmark::State& state) {
    const DivSqrtLanes* k = kernelsFor(state);
    if (k == nullptr) return;
    std::vector<double> x(LANES);
    for (std::size_t i = 0; i < LANES; ++i) x[i] = 1.0 + 0x1p-10 * static_cast<double>(i % 97);
    const auto run = state.range(1) == HARDWARE ? k->sqrtChainHardware : k->sqrtChainBuilt;
    for (auto _ : state) benchmark::DoNotOptimize(run(x.data(), LANES));
    label(state);
}

// With repetitions, the best one too: the machine is shared, and other work only ever slows a run.
void withBest(benchmark::internal::Benchmark* b) {
    b->ComputeStatistics("best", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}
void throughputCases(benchmark::internal::Benchmark* b) {
    withBest(b);
    b->ArgNames({"isa", "variant"});
    for (int isa : {AVX2, AVX512})
        if (has(static_cast<Isa>(isa)))
            for (int variant : {HARDWARE, BUILT, BUILT_ONE_LANE_FALLS_BACK}) b->Args({isa, variant});
}
void latencyCases(benchmark::internal::Benchmark* b) {
    withBest(b);
    b->ArgNames({"isa", "variant"});
    for (int isa : {AVX2, AVX512})
        if (has(static_cast<Isa>(isa)))
            for (int variant : {HARDWARE, BUILT}) b->Args({isa, variant});
}

}  // namespace

BENCHMARK(BM_Divide)->Apply(throughputCases);
BENCHMARK(BM_Divide2)->Apply(throughputCases);
BENCHMARK(BM_Sqrt)->Apply(throughputCases);
BENCHMARK(BM_DivideLatency)->Apply(latencyCases);
BENCHMARK(BM_Divide2Latency)->Apply(latencyCases);
BENCHMARK(BM_SqrtLatency)->Apply(latencyCases);
