#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace {

// The state as main() found it, before any test touched the model.
SimulationState* startup = nullptr;
int32_t startupLastIndex = 0;
int32_t startupIdleTicks = 0;
int32_t startupCurrentCount = 0;
int32_t startupSnapshotCount = 0;
bool startupRecordsDistinct = false;

TEST(Store, StaticInitialisationAllocatesTheDefaultTables) {
    ASSERT_NE(startup, nullptr);
    EXPECT_EQ(startupLastIndex, 499);
    EXPECT_EQ(startupIdleTicks, 0);
    EXPECT_EQ(startupCurrentCount, 500);
    EXPECT_EQ(startupSnapshotCount, 500);
    EXPECT_TRUE(startupRecordsDistinct);
}

using StoreTest = ModelTest;

TEST_F(StoreTest, ReallocateFollowsTheCountAndForgetsContents) {
    simParameters.particleCount = 3;
    setPopulation({body(1, 1, 1, 1), body(2, 2, 2, 2), body(3, 3, 3, 3)});
    simParameters.particleCount = 7;
    simState.current.reallocate();
    EXPECT_EQ(simState.current.count, 7);
    EXPECT_NE(simState.current.records, nullptr);

    simParameters.particleCount = 0;
    simState.current.reallocate();
    EXPECT_EQ(simState.current.count, 0);
}

TEST_F(StoreTest, ReleaseIsSafeTwice) {
    ParticleBuffer buffer;
    buffer.allocate(10);
    buffer[9] = body(1, 1, 1, 1);
    buffer.release();
    EXPECT_EQ(buffer.records, nullptr);
    buffer.release();
    EXPECT_EQ(buffer.records, nullptr);
    buffer.allocate(4);
    EXPECT_EQ(buffer.count, 4);
}

}  // namespace

int main(int argc, char** argv) {
    startup = &simState;
    startupLastIndex = simState.lastIndex;
    startupIdleTicks = simState.idleTicks;
    startupCurrentCount = simState.current.count;
    startupSnapshotCount = simState.snapshot.count;
    startupRecordsDistinct = simState.current.records != nullptr && simState.snapshot.records != nullptr &&
                             simState.current.records != simState.snapshot.records;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
