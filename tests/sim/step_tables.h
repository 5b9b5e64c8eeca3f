// Whole tables for comparing the step engines: install one, step it with an engine, capture it.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <random>
#include <vector>

#include "engine.h"
#include "sim_test_support.h"
#include "workspace.h"

// The highest kernel level the tests use: ORRELUNE_TEST_KERNELS=scalar or avx2 runs them as on a
// processor without vector kernels or without AVX-512 (CTest runs the suite at each level).
inline CpuLevel testKernelLimit() {
    const char* text = std::getenv("ORRELUNE_TEST_KERNELS");
    if (text == nullptr) return CpuLevel::Avx512;
    for (CpuLevel level : {CpuLevel::Scalar, CpuLevel::Avx2, CpuLevel::Avx512})
        if (std::strcmp(text, cpuLevelName(level)) == 0) return level;
    ADD_FAILURE() << "ORRELUNE_TEST_KERNELS=" << text << " names no kernel level (scalar, avx2 or avx512)";
    return CpuLevel::Avx512;
}

struct Table {
    std::vector<Particle> records;
    int32_t lastIndex = -1;
    int32_t idleTicks = 0;
};

inline Table tableOf(std::initializer_list<Particle> records) {
    Table t;
    t.records = records;
    t.lastIndex = static_cast<int32_t>(t.records.size()) - 1;
    return t;
}

// Both buffers sized for exactly this table.
inline void install(const Table& t) {
    installPopulation(t.records.data(), static_cast<int32_t>(t.records.size()));
    simState.lastIndex = t.lastIndex;
    simState.idleTicks = t.idleTicks;
}

inline Table capture() {
    Table t;
    t.lastIndex = simState.lastIndex;
    t.idleTicks = simState.idleTicks;
    t.records.assign(simState.current.records, simState.current.records + simState.current.count);
    return t;
}

inline Table stepWith(StepEngine engine, const Table& start, double width = FIELD_WIDTH, double height = FIELD_HEIGHT) {
    install(start);
    setStepEngine(engine);
    stepSimulation(width, height);
    return capture();
}

// A fresh population of count particles on a width x height field, drawn for a fixed clock.
inline Table population(int32_t count, int64_t clock, double width = FIELD_WIDTH, double height = FIELD_HEIGHT) {
    simParameters.particleCount = count;
    crtFixClock(clock);
    simState.current.reallocate();
    simState.snapshot.reallocate();
    initializePopulation(width, height);
    return capture();
}

inline int32_t liveCount(const Table& t) {
    int32_t live = 0;
    for (int32_t i = 0; i <= t.lastIndex; ++i) live += t.records[static_cast<std::size_t>(i)].mass > 0;
    return live;
}

inline bool sameBits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

// lastIndex, idleTicks and every byte of records 0..lastIndex.
inline ::testing::AssertionResult sameBytes(const Table& expected, const Table& actual) {
    if (expected.lastIndex != actual.lastIndex)
        return ::testing::AssertionFailure() << "lastIndex " << actual.lastIndex << ", expected " << expected.lastIndex;
    if (expected.idleTicks != actual.idleTicks)
        return ::testing::AssertionFailure() << "idleTicks " << actual.idleTicks << ", expected " << expected.idleTicks;
    for (int32_t i = 0; i <= expected.lastIndex; ++i) {
        const Particle& e = expected.records[static_cast<std::size_t>(i)];
        const Particle& a = actual.records[static_cast<std::size_t>(i)];
        if (std::memcmp(&e, &a, sizeof(Particle)) != 0)
            return ::testing::AssertionFailure()
                   << "record " << i << ": (" << a.mass << ", " << a.radius << ", " << a.x << ", " << a.y << ", "
                   << a.vx << ", " << a.vy << "), expected (" << e.mass << ", " << e.radius << ", " << e.x << ", "
                   << e.y << ", " << e.vx << ", " << e.vy << ")" << (sameBits(a.vx, e.vx) ? "" : " vx bits differ")
                   << (sameBits(a.vy, e.vy) ? "" : " vy bits differ");
    }
    return ::testing::AssertionSuccess();
}

// One step from start by the literal and the exact engine, which must have done it itself and given
// the same bytes; the exact engine's table after it.
inline Table compareExactStep(const Table& start, double width = FIELD_WIDTH, double height = FIELD_HEIGHT) {
    const Table literal = stepWith(StepEngine::Literal, start, width, height);
    const Table exact = stepWith(StepEngine::Exact, start, width, height);
    EXPECT_FALSE(lastStepHandedOver());
    EXPECT_TRUE(sameBytes(literal, exact));
    return exact;
}

// States where the order of merges, of pairs and of signs matters.

// Equal radii 1.5 apart: each record is absorbed by the next, and the survivor of each merge merges
// again with its snapshot geometry; outsiders pull on all of them before and after. Three live after.
inline Table chainOfMerges() {
    Table t;
    t.records.push_back(body(3, 0.5, 300, 300, 1, -2));
    for (int k = 0; k < 8; ++k) t.records.push_back(body(1 + k, 1, 100 + 1.5 * k, 200, k, -k));
    t.records.push_back(body(5, 0.5, 120, 210, -3, 0));
    t.lastIndex = static_cast<int32_t>(t.records.size()) - 1;
    return t;
}

// Record 3 absorbs partners on both sides of its index. Three live after.
inline Table oneAbsorbsSeveral() {
    return tableOf({body(1, 0.5, 500, 350, 1, 1), body(2, 1, 501, 350, 2, 0), body(4, 0.2, 700, 100, 0, 3),
                    body(9, 3, 500.5, 351, -1, 0), body(1, 0.5, 499, 349, 0, -1), body(3, 1, 502, 352, 5, 5),
                    body(2, 0.1, 800, 600, 0, 0), body(1, 1, 498, 350, -2, 2)});
}

// 1 absorbs 0 (equal radii: the later survives), then 3 absorbs 1; 2 and 4 are outsiders whose
// pulls land before and after each merge.
inline Table survivorLaterAbsorbed() {
    return tableOf({body(2, 1, 100, 100, 1, 0), body(2, 1, 101.5, 100, 0, 1), body(7, 0.3, 140, 90, 0, 0),
                    body(5, 2, 103, 101, -1, -1), body(1, 0.3, 60, 130, 2, 2)});
}

// Pairs merging across the left and right edges, the top and bottom ones and the corner; survivors
// end outside the field.
inline Table mergesAcrossEdges() {
    return tableOf({body(10, 3, 500, 1), body(5, 2, 500, 699), body(4, 2, 0.5, 300), body(4, 2, 999.2, 301),
                    body(1, 1, 0.3, 0.2), body(2, 1, 999.6, 699.5), body(1, 1, 0.1, 699.9), body(3, 0.5, 200, 200)});
}

// Records born dead (mass and radius 0) among live ones, some on the same spots.
inline Table bornDead() {
    return tableOf({Particle{0, 0, 100, 100, 3, 4}, body(1, 1, 100, 100.5), Particle{0, 0, 100.2, 100, 0, 0},
                    body(2, 1, 101, 100, 1, 1), body(3, 0.4, 400, 100), Particle{0, 0, 50, 50, 1, 1},
                    Particle{0, 0, 60, 50, 1, 1}});
}

// Particles on the same spot: they merge, or with merging off (or radius 0) exert nothing.
inline Table coincident() {
    return tableOf({body(1, 1, 300, 300, 1, 0), body(2, 1, 300, 300, 0, 1), body(3, 0, 300, 300),
                    body(1, 0.5, 310, 305), body(4, 0, 310, 305, 2, 2)});
}

// Pairs exactly half a period apart on one axis, and a particle on the far corner.
inline Table halfAPeriodApart() {
    return tableOf({body(1, 0.1, 0, 350), body(1, 0.1, 500, 350), body(2, 0.1, 250, 0), body(2, 0.1, 250, 350),
                    body(3, 0.1, 750, 350), body(1, 0.1, 1000, 700)});
}

// Radii far beyond the merge grid's cells: the big bodies are tested against everyone. At most four
// records after.
inline Table largeBodies() {
    return tableOf({body(1, 0.5, 20, 350), body(900, 40, 10, 350), body(2, 1, 980, 340), body(1, 1, 500, 500),
                    body(800, 35, 60, 380), body(1, 0.5, 505, 505), body(1, 0.5, 700, 100)});
}

// A shape of population for the engines' comparisons over many seeds.
struct Sweep {
    int32_t count;
    double radius;
    double spread;
    double gravity;
    int32_t merge;
    double width;
    double height;
    int32_t steps;  // steps compared from each drawn population
};

// Populations of several sizes and densities; the small fields force many merges per step,
// chains of them included.
inline constexpr Sweep SWEEPS[] = {
    {2, 40.0, 50, 20, 1, 100, 70, 3},    {17, 2.0, 50, 20, 1, 60, 40, 3},     {65, 2.0, 50, 20, 1, 100, 70, 3},
    {130, 2.12, 50, 20, 1, 200, 140, 2}, {300, 2.0, 50, 20, 1, 1000, 700, 2}, {200, 1.0, 20, 20, 0, 300, 200, 2},
    {150, 3.0, 80, -20, 1, 150, 100, 2}, {120, 2.0, 50, 0, 1, 120, 80, 2},    {90, 1.5, 200, 2000, 0, 100, 70, 2},
};

// The sweep's parameters (all but the count and the field).
inline void applySweep(const Sweep& sweep) {
    simParameters.meanRadius = sweep.radius;
    simParameters.speedSpread = sweep.spread;
    simParameters.gravity = sweep.gravity;
    simParameters.mergeEnabled = sweep.merge;
}

// A random state with hostile values: masses from tiny to huge, near-coincident pairs, positions
// on the edges and a little outside, radii 0, signed zeros, gravity from 0 to huge; it also sets
// gravity and the merge switch. 1 to 10 records unless given a count. One draw of the generator
// fixes it.
inline Table hostileState(std::mt19937_64& random, int32_t records = 0) {
    const auto pick = [&](std::initializer_list<double> values) {
        return *(values.begin() + static_cast<std::ptrdiff_t>(random() % values.size()));
    };
    const auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    simParameters.mergeEnabled = static_cast<int32_t>(random() % 2);
    simParameters.gravity = pick({20.0, 20.0, 20.0, -20.0, 0.0, 1e-100, 1e9, 1e100, 3.5e200});
    const auto count = records > 0 ? records : static_cast<int32_t>(1 + random() % 10);
    Table t;
    for (int32_t k = 0; k < count; ++k) {
        Particle p{};
        p.mass = random() % 4 != 0 ? pick({0.0, 1.0, uniform(0.1, 100)})
                                   : pick({1e-150, 1e-300, 1e150, 1e300, 5e-324, 3e-160});
        p.radius = pick({0.0, 1.0, uniform(0, 5), 40.0});
        p.x = random() % 64 == 0 ? -0.0 : pick({uniform(0, 1000), 0.0, 1000.0, -0.5, 1000.25, 500.0, 1e-140});
        p.y = pick({uniform(0, 700), 0.0, 700.0, -0.25, 700.5, 350.0});
        p.vx = pick({uniform(-50, 50), 0.0, -0.0, 1e6});
        p.vy = pick({uniform(-50, 50), 0.0, -0.0});
        // Near-coincident with the one before.
        if (k > 0 && random() % 4 == 0) {
            const Particle& q = t.records.back();
            p.x = q.x + pick({0.0, 1e-9, -1e-13, 1e-140});
            p.y = q.y + pick({0.0, 1e-12, 2e-13});
        }
        t.records.push_back(p);
    }
    t.lastIndex = count - 1;
    return t;
}

// Starts at the test's kernel level; puts back the engine, threads, kernel level and division way
// a test changed.
class EngineTest : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        stepSettings().cpuLimit = testKernelLimit();
    }
    void TearDown() override {
        resetStepWorkspace();
        ModelTest::TearDown();
    }
};
