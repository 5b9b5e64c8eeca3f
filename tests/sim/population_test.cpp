#include <gtest/gtest.h>

#include <cmath>

#include "digest.h"
#include "sim_test_support.h"

namespace {

using Population = ModelTest;

void draw() { initializePopulation(FIELD_WIDTH, FIELD_HEIGHT); }

TEST_F(Population, FillsTheFieldWithWholeRadiiAndAreaMasses) {
    simState.lastIndex = 3;
    simState.idleTicks = 17;
    draw();
    EXPECT_EQ(simState.lastIndex, 499);
    EXPECT_EQ(simState.idleTicks, 0);
    int dead = 0;
    for (int32_t i = 0; i <= simState.lastIndex; ++i) {
        const Particle& p = simState.current[i];
        EXPECT_EQ(p.radius, std::floor(p.radius));
        EXPECT_EQ(p.mass, p.radius * 5.0 * p.radius * 3.141592653589793);
        EXPECT_GE(p.x, 0.0);
        EXPECT_LE(p.x, FIELD_WIDTH);
        EXPECT_GE(p.y, 0.0);
        EXPECT_LE(p.y, FIELD_HEIGHT);
        if (p.mass == 0) ++dead;
    }
    // Poisson(2) gives 0 with probability e^-2, about one in seven.
    EXPECT_GT(dead, 35);
    EXPECT_LT(dead, 100);
}

TEST_F(Population, DrawsInTheDocumentedOrder) {
    draw();
    // Per particle: Poisson, rand (x), rand (y), Gaussian, rand (angle).
    crtSrand(static_cast<uint32_t>(TEST_CLOCK));
    for (int32_t i = 0; i < 20; ++i) {
        const Particle& p = simState.current[i];
        int rx = crtRand();
        int ry = crtRand();
        int ra = crtRand();
        EXPECT_EQ(p.x, rx * FIELD_WIDTH / 32767.0);
        EXPECT_EQ(p.y, ry * FIELD_HEIGHT / 32767.0);
        double angle = ra * 12.566370614359172 / 32767.0;
        EXPECT_NEAR(p.vy * std::cos(angle), p.vx * std::sin(angle), 1e-9);
    }
}

TEST_F(Population, SameSecondDrawsTheSamePopulation) {
    draw();
    uint64_t first = hashPopulation();
    draw();
    EXPECT_EQ(hashPopulation(), first);
    crtFixClock(TEST_CLOCK + 1);
    draw();
    EXPECT_NE(hashPopulation(), first);
}

TEST_F(Population, SeedsAreTheClockTruncatedToThirtyTwoBits) {
    crtFixClock(5);
    draw();
    uint64_t low = hashPopulation();
    crtFixClock((int64_t{1} << 32) + 5);
    draw();
    EXPECT_EQ(hashPopulation(), low);
}

TEST_F(Population, ZeroDensityMakesEveryParticleDead) {
    simParameters.density = 0;
    draw();
    EXPECT_EQ(summarizePopulation().live, 0);
    EXPECT_EQ(simState.lastIndex, 499);
}

TEST_F(Population, ZeroCountDrawsNothing) {
    simParameters.particleCount = 0;
    resizeAndReinitialize();
    EXPECT_EQ(simState.lastIndex, -1);
    EXPECT_EQ(simState.current.count, 0);
    EXPECT_EQ(simState.snapshot.count, 0);
}

TEST_F(Population, MeanSpeedShiftsEverySpeed) {
    simParameters.speedSpread = 0;
    simParameters.meanSpeed = 7;
    draw();
    for (int32_t i = 0; i <= simState.lastIndex; ++i)
        EXPECT_NEAR(std::hypot(simState.current[i].vx, simState.current[i].vy), 7.0, 1e-12);
}

}  // namespace
