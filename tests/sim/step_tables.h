// Whole tables for comparing the step engines: install one, step it with an engine, capture it.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <vector>

#include "engine.h"
#include "sim_test_support.h"

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
    simParameters.particleCount = static_cast<int32_t>(t.records.size());
    simState.current.reallocate();
    simState.snapshot.reallocate();
    for (std::size_t i = 0; i < t.records.size(); ++i) simState.current[static_cast<int32_t>(i)] = t.records[i];
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

// A small random state with hostile values: masses from tiny to huge, near-coincident pairs,
// positions on the edges and a little outside, radii 0, signed zeros, gravity from 0 to huge;
// it also sets gravity and the merge switch. One draw of the generator fixes it.
inline Table hostileState(std::mt19937_64& random) {
    const auto pick = [&](std::initializer_list<double> values) {
        return *(values.begin() + static_cast<std::ptrdiff_t>(random() % values.size()));
    };
    const auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    simParameters.mergeEnabled = static_cast<int32_t>(random() % 2);
    simParameters.gravity = pick({20.0, 20.0, 20.0, -20.0, 0.0, 1e-100, 1e9, 1e100, 3.5e200});
    const auto count = static_cast<int32_t>(1 + random() % 10);
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

// Puts back the engine, threads and kernel level a test changed.
class EngineTest : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        savedEngine = stepEngine();
    }
    void TearDown() override {
        setStepEngine(savedEngine);
        setStepThreads(0);
        setStepCpuLimit(CpuLevel::Avx512);
        ModelTest::TearDown();
    }

private:
    StepEngine savedEngine = StepEngine::Exact;
};
