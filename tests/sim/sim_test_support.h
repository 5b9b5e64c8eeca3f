// Puts the process-wide model into a known state for a test and back to the defaults after it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>

#include "crt.h"
#include "simulation.h"

inline constexpr int64_t TEST_CLOCK = 1700000000;

// Replaces the population with the given records; both buffers are sized for exactly these.
inline void setPopulation(std::initializer_list<Particle> records) {
    installPopulation(records.begin(), static_cast<int32_t>(records.size()));
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

class ModelTest : public testing::Test {
protected:
    void SetUp() override {
        simParameters = SimulationParameters{};
        crtFixClock(TEST_CLOCK);
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
