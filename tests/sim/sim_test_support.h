// Puts the process-wide model into a known state for a test and back to the defaults after it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "crt.h"
#include "engine.h"
#include "simulation.h"

inline constexpr int64_t TEST_CLOCK = 1700000000;

// Replaces the population with the given records; both buffers are sized for exactly these.
inline void setPopulation(std::initializer_list<Particle> records) {
    simParameters.particleCount = static_cast<int32_t>(records.size());
    simState.current.reallocate();
    simState.snapshot.reallocate();
    int32_t i = 0;
    for (const Particle& p : records) simState.current[i++] = p;
    simState.lastIndex = i - 1;
    simState.idleTicks = 0;
}

// A live particle at rest.
inline Particle body(double mass, double radius, double x, double y, double vx = 0, double vy = 0) {
    return Particle{mass, radius, x, y, vx, vy};
}

inline bool isZeroRecord(const Particle& p) {
    return p.mass == 0 && p.radius == 0 && p.x == 0 && p.y == 0 && p.vx == 0 && p.vy == 0;
}

// Sets or (value nullptr) removes an environment variable of this process.
inline void setEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
    // "NAME=" removes it.
    const std::string setting = std::string(name) + "=" + (value == nullptr ? "" : value);
    _putenv(setting.c_str());
#else
    if (value == nullptr) {
        unsetenv(name);
    } else {
        setenv(name, value, 1);
    }
#endif
}

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

class ModelTest : public testing::Test {
protected:
    void SetUp() override {
        simParameters = SimulationParameters{};
        crtFixClock(TEST_CLOCK);
        setStepCpuLimit(testKernelLimit());
    }
    void TearDown() override {
        simParameters = SimulationParameters{};
        simState.current.reallocate();
        simState.snapshot.reallocate();
        simState.lastIndex = -1;
        simState.idleTicks = 0;
        crtUseRealClock();
    }
};
