// Whole tables for comparing the step engines: install one, step it with an engine, capture it.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>
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
