// The exact step against the literal one: every byte of the table after one step and after many,
// for every thread count and instruction set, on drawn populations and on the states that make
// the order of merges and of signs matter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "digest.h"
#include "engine.h"
#include "step_tables.h"

namespace {

class ExactStep : public EngineTest {
protected:
    // ticks whole ticks (restarts included) from start with each engine, compared after each.
    void compareRun(const Table& start, int ticks, int64_t clock) {
        std::vector<uint64_t> literalHashes;
        crtFixClock(clock);
        install(start);
        setStepEngine(StepEngine::Literal);
        for (int t = 0; t < ticks; ++t) {
            advanceTick();
            literalHashes.push_back(hashPopulation());
        }
        const Table literal = capture();
        crtFixClock(clock);
        install(start);
        setStepEngine(StepEngine::Exact);
        for (int t = 0; t < ticks; ++t) {
            advanceTick();
            ASSERT_EQ(hashPopulation(), literalHashes[static_cast<std::size_t>(t)]) << "first differs after tick " << t + 1;
        }
        EXPECT_TRUE(sameBytes(literal, capture()));
    }
};

TEST_F(ExactStep, SameBytesAsLiteralAfterOneStepOverSeedsSizesAndParameters) {
    int64_t merges = 0;
    for (const Sweep& sweep : SWEEPS) {
        applySweep(sweep);
        for (int64_t seed = 1; seed <= 50 && !HasFailure(); ++seed) {
            SCOPED_TRACE("count " + std::to_string(sweep.count) + " seed " + std::to_string(seed));
            Table state = population(sweep.count, 1000 + seed * 7919, sweep.width, sweep.height);
            for (int k = 0; k < sweep.steps + 1 && !HasFailure(); ++k) {
                const int32_t before = liveCount(state);
                state = compareExactStep(state, sweep.width, sweep.height);
                merges += before - liveCount(state);
            }
        }
    }
    // The sweep only means something if it merged a lot.
    EXPECT_GT(merges, 2000);
}

// Two hundred ticks: any difference in any bit would grow and show in the hash of the tick.
TEST_F(ExactStep, SameRunAsLiteralOverTwoHundredTicks) {
    const Sweep runs[] = {{40, 2.0, 50, 20, 1, 1000, 700, 200}, {60, 3.0, 60, 20, 1, 1000, 700, 200},
                          {50, 1.0, 30, 20, 0, 1000, 700, 200}, {80, 2.0, 50, -5, 1, 1000, 700, 200}};
    for (const Sweep& run : runs) {
        applySweep(run);
        simParameters.particleCount = run.count;
        for (int64_t seed = 1; seed <= 13 && !HasFailure(); ++seed) {
            SCOPED_TRACE("count " + std::to_string(run.count) + " merge " + std::to_string(run.merge) + " seed " +
                         std::to_string(seed));
            compareRun(population(run.count, 50 + seed), run.steps, 50 + seed);
        }
    }
}

TEST_F(ExactStep, SameRunAsLiteralAtTheDefaults) {
    for (int32_t merge : {1, 0}) {
        simParameters.mergeEnabled = merge;
        SCOPED_TRACE("merge " + std::to_string(merge));
        compareRun(population(500, 1000), 200, 1000);
    }
}

// Above the parallel threshold, where folds are spread over threads: the same bytes on every
// thread count and instruction set this processor has, merging on and off.
TEST_F(ExactStep, SameBytesOnEveryThreadCountAndInstructionSet) {
    stepSettings().cpuLimit = testKernelLimit();
    const CpuLevel best = stepCpuLevel();
    for (int32_t merge : {1, 0}) {
        simParameters.mergeEnabled = merge;
        simParameters.meanRadius = 1.5;
        const Table start = population(2600, 4242);
        const Table literal = stepWith(StepEngine::Literal, start);
        if (merge == 1) {
            EXPECT_LT(literal.lastIndex, 2600 - 100);
        }
        for (CpuLevel level : {CpuLevel::Scalar, CpuLevel::Avx2, CpuLevel::Avx512}) {
            if (static_cast<int>(level) > static_cast<int>(best)) continue;
            for (ExactDivision way : {ExactDivision::Instructions, ExactDivision::Built}) {
                for (int32_t threads : {1, 2, 3}) {
                    SCOPED_TRACE(std::string(cpuLevelName(level)) + ", " + std::to_string(threads) + " threads, merge " +
                                 std::to_string(merge) + (way == ExactDivision::Built ? ", built" : ""));
                    stepSettings().cpuLimit = level;
                    setStepThreads(threads);
                    exactSettings().division = way;
                    const Table exact = stepWith(StepEngine::Exact, start);
                    EXPECT_FALSE(lastStepHandedOver());
                    EXPECT_TRUE(sameBytes(literal, exact));
                    EXPECT_EQ(lastExactStepBuilt(), way == ExactDivision::Built && level != CpuLevel::Scalar);
                }
            }
        }
    }
}

TEST_F(ExactStep, SameRunAsLiteralAboveTheParallelThreshold) {
    setStepThreads(2);
    simParameters.meanRadius = 1.2;
    for (int32_t merge : {1, 0}) {
        simParameters.mergeEnabled = merge;
        SCOPED_TRACE("merge " + std::to_string(merge));
        compareRun(population(3000, 31337), 4, 31337);
    }
}

TEST_F(ExactStep, StatesWhereTheOrderOfMergesMatters) {
    for (int32_t merge : {1, 0}) {
        SCOPED_TRACE("merge " + std::to_string(merge));
        simParameters.mergeEnabled = merge;
        compareExactStep(chainOfMerges());
        compareExactStep(oneAbsorbsSeveral());
        compareExactStep(survivorLaterAbsorbed());
        compareExactStep(bornDead());
        compareExactStep(coincident());
        compareExactStep(halfAPeriodApart());
        compareExactStep(largeBodies());
        // The first record absorbs the last, and the last absorbed the one before it.
        compareExactStep(tableOf({body(9, 4, 500, 300, 1, 1), body(1, 0.1, 100, 100), body(1, 0.1, 900, 600),
                             body(1, 1, 504, 300, 0, 3), body(2, 2, 503, 301, -1, 0)}));
        // Survivors pulled across an edge lie outside the field; the next step starts from there.
        Table after = compareExactStep(mergesAcrossEdges());
        after.records.push_back(body(1, 1, 999.8, after.records[0].y));
        after.lastIndex = static_cast<int32_t>(after.records.size()) - 1;
        compareExactStep(after);
    }
    simParameters.mergeEnabled = 1;
    EXPECT_EQ(liveCount(compareExactStep(chainOfMerges())), 3);
}

// Where an offset is zero the term is a signed zero, which changes a velocity of -0 (or +0) only
// through its sign: the lanes must give every zero its literal sign.
TEST_F(ExactStep, SignedZerosOfEqualCoordinatesAndVelocities) {
    simParameters.mergeEnabled = 0;
    for (double gravity : {20.0, -20.0, 0.0}) {
        simParameters.gravity = gravity;
        SCOPED_TRACE("gravity " + std::to_string(gravity));
        compareExactStep(tableOf({body(1, 0.1, 100, 200, -0.0, -0.0), body(2, 0.1, 100, 300, -0.0, 0.0),
                             body(3, 0.1, 150, 200, 0.0, -0.0), body(1, 0.1, 100, 200.5, -0.0, -0.0),
                             body(2, 0.1, 0.0, 0.0, -0.0, -0.0), body(1, 0.1, 0.0, 350, -0.0, -0.0),
                             body(1, 0.1, 1000, 700, -0.0, -0.0), body(1, 0.1, 0, 0, 0.0, 0.0),
                             body(1, 0.1, 1000, 350, -0.0, 0.0), body(4, 0.1, 100, 0, 0.0, -0.0)}));
    }
}

// Coincident pairs (also across an edge, where 0 and the period are one point) exert nothing; in a
// full group of lanes the fold meets them unmasked and must fold again.
TEST_F(ExactStep, CoincidentPairsInFullGroupsOfLanes) {
    simParameters.mergeEnabled = 0;
    Table t;
    for (int k = 0; k < 24; ++k) t.records.push_back(body(1 + k % 5, 0.1, 37.0 * k + 3, 21.0 * k + 5, k % 3, -1.0 * k));
    t.records[3].x = t.records[17].x;
    t.records[3].y = t.records[17].y;
    t.records[9].x = 0;
    t.records[20].x = 1000;
    t.records[20].y = t.records[9].y;
    t.records[12].x = t.records[13].x;
    t.records[12].y = t.records[13].y;
    t.records[12].vx = -0.0;
    t.lastIndex = static_cast<int32_t>(t.records.size()) - 1;
    const Table exact = compareExactStep(t);
    EXPECT_TRUE(std::isfinite(exact.records[3].vx) && std::isfinite(exact.records[20].vy));
}

// The lanes fold their partners before, among and after themselves in three runs: every count
// across two vectors of lanes still meets every partner in order.
TEST_F(ExactStep, EveryCountAcrossTheLaneGroups) {
    simParameters.meanRadius = 2.0;
    for (int32_t merge : {0, 1}) {
        simParameters.mergeEnabled = merge;
        for (int32_t count = 1; count <= 40 && !HasFailure(); ++count) {
            SCOPED_TRACE("count " + std::to_string(count) + " merge " + std::to_string(merge));
            compareExactStep(population(count, 900 + count, 120, 80), 120, 80);
        }
    }
}

// States the exact step hands to the literal one; the bytes are the literal step's either way.
TEST_F(ExactStep, HandsAwkwardStatesToTheLiteralStep) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* what;
        Table table;
        double gravity;
    };
    const Case cases[] = {
        {"negative mass", tableOf({body(-1, 1, 10, 10), body(2, 1, 50, 50)}), 20},
        {"masses whose product vanishes", tableOf({body(1e-170, 1, 10, 10), body(1e-170, 1, 50, 50)}), 20},
        {"infinite mass", tableOf({body(inf, 1, 10, 10), body(2, 1, 50, 50)}), 20},
        {"position not a number", tableOf({body(1, 1, nan, 10), body(2, 1, 50, 50)}), 20},
        {"infinite gravity", tableOf({body(1, 1, 10, 10), body(2, 1, 50, 50)}), inf},
        {"a position of -0", tableOf({body(1, 1, -0.0, 10), body(2, 1, 0.0, 50), body(2, 1, 0.0, 10)}), 20},
        {"force beyond the largest double", tableOf({body(1e150, 0, 10, 10), body(1e150, 0, 50, 50)}), 1e9},
        {"distance whose square is subnormal", tableOf({body(1, 0, 1e-160, 10), body(1, 0, 0, 10)}), 20},
        // A velocity the step forms from a NaN, beside a dead record it does not form.
        {"a live velocity not a number", tableOf({body(1, 1, 10, 10, nan, 0), body(2, 1, 50, 50), body(0, 0, 9, 9)}), 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (int32_t merge : {1, 0}) {
            simParameters.mergeEnabled = merge;
            simParameters.gravity = c.gravity;
            const Table literal = stepWith(StepEngine::Literal, c.table);
            const Table exact = stepWith(StepEngine::Exact, c.table);
            EXPECT_TRUE(lastStepHandedOver());
            EXPECT_TRUE(sameBytes(literal, exact));
        }
    }
    // An ordinary state is not handed over.
    simParameters.gravity = 20;
    stepWith(StepEngine::Exact, tableOf({body(1, 1, 10, 10), body(1, 1, 20, 10)}));
    EXPECT_FALSE(lastStepHandedOver());
}

// A dead record (mass 0) takes part in nothing, whatever its velocity holds: a NaN or an infinity
// there is none the step formed, and the step stays the exact engine's own, tick after tick (with
// merging off nothing ever removes the record), in tables of one tile and of several.
TEST_F(ExactStep, DeadRecordsWithVelocitiesNotFiniteAreNotHandedOver) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (int32_t count : {60, 700}) {
        for (int32_t merge : {0, 1}) {
            SCOPED_TRACE("count " + std::to_string(count) + " merge " + std::to_string(merge));
            simParameters.mergeEnabled = merge;
            Table state = population(count, 4000 + count);
            state.records[7] = Particle{0, 0, 20, 30, nan, -inf};
            state.records[static_cast<std::size_t>(count - 3)] = Particle{0, 1.5, 0, 0, inf, nan};
            for (int k = 0; k < 3 && !HasFailure(); ++k) state = compareExactStep(state);
        }
    }
}

// Extreme but finite values the exact step takes itself: the terms are the literal ones however
// large or small they come out.
TEST_F(ExactStep, TakesExtremeFiniteValuesItself) {
    simParameters.mergeEnabled = 0;
    // 1e-140 apart near the origin: each pulls the other by about 2e279.
    compareExactStep(tableOf({body(1, 0, 0, 0), body(1, 0, 1e-140, 1e-140)}));
    compareExactStep(tableOf({body(1e-150, 0, 10, 10), body(1e-150, 0, 50, 70), body(1e150, 0, 300, 300)}));
    simParameters.gravity = 1e-100;
    compareExactStep(tableOf({body(1e-150, 0, 10, 10), body(1e-150, 0, 50, 70)}));
    simParameters.gravity = 1e100;
    compareExactStep(tableOf({body(1e-50, 0, 10, 10), body(3e-60, 0, 50, 70), body(1, 0, 999.999, 699.999)}));
}

// Many small random states with hostile values: the same bytes as the literal step, whether the
// exact step takes them or hands them over.
TEST_F(ExactStep, RandomHostileStatesGiveTheLiteralBytes) {
    constexpr uint32_t SEED = 20261209;
    std::mt19937_64 random(SEED);
    int handedOver = 0;
    constexpr int STATES = 3000;
    for (int state = 0; state < STATES && !HasFailure(); ++state) {
        SCOPED_TRACE("state " + std::to_string(state) + " of seed " + std::to_string(SEED));
        const Table t = hostileState(random);
        const Table literal = stepWith(StepEngine::Literal, t);
        const Table exact = stepWith(StepEngine::Exact, t);
        handedOver += lastStepHandedOver();
        ASSERT_TRUE(sameBytes(literal, exact));
    }
    // Most states are the exact step's own.
    EXPECT_LT(handedOver, STATES / 2);
    RecordProperty("handedOver", std::to_string(handedOver));
}

// Quotients and roots built from the processor's estimates are the instructions' bits: the whole
// comparison again with them forced, where this processor has a vector level.
TEST_F(ExactStep, BuiltQuotientsAndRootsGiveTheSameBytes) {
    stepSettings().cpuLimit = testKernelLimit();
    if (stepCpuLevel() == CpuLevel::Scalar) GTEST_SKIP() << "no vector kernels on this processor";
    exactSettings().division = ExactDivision::Built;
    compareExactStep(chainOfMerges());
    ASSERT_TRUE(lastExactStepBuilt());
    for (const Sweep& sweep : SWEEPS) {
        applySweep(sweep);
        for (int64_t seed = 1; seed <= 10 && !HasFailure(); ++seed) {
            SCOPED_TRACE("count " + std::to_string(sweep.count) + " seed " + std::to_string(seed));
            Table state = population(sweep.count, 3000 + seed * 7919, sweep.width, sweep.height);
            for (int k = 0; k < sweep.steps && !HasFailure(); ++k) state = compareExactStep(state, sweep.width, sweep.height);
        }
    }
    simParameters = SimulationParameters{};
    for (int32_t merge : {1, 0}) {
        simParameters.mergeEnabled = merge;
        compareExactStep(chainOfMerges());
        compareExactStep(mergesAcrossEdges());
        compareExactStep(coincident());
        compareRun(population(500, 1000), 100, 1000);
    }
    std::mt19937_64 random(77);
    for (int state = 0; state < 1000 && !HasFailure(); ++state) {
        SCOPED_TRACE("hostile state " + std::to_string(state));
        const Table t = hostileState(random);
        ASSERT_TRUE(sameBytes(stepWith(StepEngine::Literal, t), stepWith(StepEngine::Exact, t)));
    }
}

// The default run for a fixed clock: the literal step's golden hash, on every thread count.
TEST_F(ExactStep, GoldenHashOfTheDefaultRunOnEveryThreadCount) {
    setStepEngine(StepEngine::Exact);
    for (int32_t threads : {1, 2}) {
        setStepThreads(threads);
        crtFixClock(1000);
        resizeAndReinitialize();
        for (int t = 0; t < 1000; ++t) advanceTick();
        EXPECT_EQ(simState.lastIndex, 98);
        EXPECT_EQ(hashPopulation(), 0xb3761f12f708648bu);
    }
}

}  // namespace
