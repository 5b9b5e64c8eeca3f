#include <gtest/gtest.h>

#include "step_tables.h"

namespace {

// The ticks step with the default engine, at the test's kernel level.
using RunControl = EngineTest;

TEST_F(RunControl, LoneSurvivorRestartsAHundredTicksAfterTheMerge) {
    simParameters.particleCount = 2;
    setPopulation({body(1, 2, 100, 100), body(1, 2, 101, 100)});
    advanceTick();  // tick t: the pair merges
    EXPECT_EQ(simState.lastIndex, 0);
    EXPECT_EQ(simState.idleTicks, 1);
    for (int t = 2; t <= 100; ++t) advanceTick();
    EXPECT_EQ(simState.lastIndex, 0);
    EXPECT_EQ(simState.idleTicks, 100);
    advanceTick();  // tick t + 100
    EXPECT_EQ(simState.lastIndex, 1);
    EXPECT_EQ(simState.idleTicks, 0);
}

TEST_F(RunControl, SingleParticleRedrawsEveryHundredAndOneTicks) {
    simParameters.particleCount = 1;
    simParameters.mergeEnabled = 0;
    resizeAndReinitialize();
    for (int t = 1; t <= 100; ++t) advanceTick();
    EXPECT_EQ(simState.idleTicks, 100);
    advanceTick();
    EXPECT_EQ(simState.idleTicks, 0);
    EXPECT_EQ(simState.lastIndex, 0);
}

TEST_F(RunControl, EmptiedFieldNeverRestarts) {
    simParameters.particleCount = 1;
    simParameters.density = 0;  // born dead, removed by the first step
    resizeAndReinitialize();
    for (int t = 0; t < 300; ++t) advanceTick();
    EXPECT_EQ(simState.lastIndex, -1);
    EXPECT_EQ(simState.idleTicks, 0);
}

TEST_F(RunControl, GravityOnlyPopulationNeverRestarts) {
    simParameters.mergeEnabled = 0;
    setPopulation({body(1, 2, 100, 100), body(1, 2, 101, 100)});
    for (int t = 0; t < 150; ++t) advanceTick();
    EXPECT_EQ(simState.lastIndex, 1);
    EXPECT_EQ(simState.idleTicks, 0);
}

TEST_F(RunControl, ReinitializeKeepsBuffersAndResizeFollowsTheCount) {
    resizeAndReinitialize();
    Particle* before = simState.current.records;
    simState.lastIndex = 3;
    reinitialize();
    EXPECT_EQ(simState.current.records, before);
    EXPECT_EQ(simState.lastIndex, 499);

    simParameters.particleCount = 1234;
    resizeAndReinitialize();
    EXPECT_EQ(simState.current.count, 1234);
    EXPECT_EQ(simState.snapshot.count, 1234);
    EXPECT_EQ(simState.lastIndex, 1233);
}

}  // namespace
