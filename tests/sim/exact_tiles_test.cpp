// The exact engine's symmetric tiles against the literal step, where only tables of several tiles
// can tell: tiles of every shape at the table's end, merges inside and across tiles, hostile values
// in rows and columns, coincident pairs in tiles that run unguarded, and every level, division way
// and thread count. And a copy of the kernels that adds column terms in another order must fail.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "digest.h"
#include "engine.h"
#include "exact_engine.h"
#include "step_tables.h"

GravityKernels misorderedKernels();

namespace {

using ExactTiles = EngineTest;

// Live counts across the second and third tiles, and on two and three threads (where the tiles
// shrink so that the threads share more of them) over the sizes that gives: the last row and
// column tiles take every width of whole and partial lane groups.
TEST_F(ExactTiles, EveryTileShapeAtTheTableEnd) {
    simParameters.meanRadius = 2.0;
    struct Shapes {
        int32_t threads;
        int32_t from;
        int32_t to;
        int32_t by;
    };
    const Shapes shapes[] = {{1, EXACT_TILE + 1, 2 * EXACT_TILE + 8, 1},
                             {2, 192, 300, 1},
                             {2, 400, 520, 3},
                             {3, 192, 300, 5},
                             {3, 600, 720, 9}};
    for (const Shapes& shape : shapes) {
        setStepThreads(shape.threads);
        for (int32_t merge : {0, 1}) {
            simParameters.mergeEnabled = merge;
            for (int32_t count = shape.from; count <= shape.to && !HasFailure(); count += shape.by) {
                SCOPED_TRACE("count " + std::to_string(count) + " merge " + std::to_string(merge) + ", " +
                             std::to_string(shape.threads) + " threads");
                compareExactStep(population(count, 4100 + count, 400, 300), 400, 300);
            }
        }
    }
}

// The grid covers any table in tiles of whole lane groups the kernels take, no more of them than
// the scratch holds for that table.
TEST(TileGrid, CoversEveryTableInTilesTheKernelsTake) {
    for (int32_t threads : {1, 2, 3, 8, 64, 1024}) {
        for (int32_t count = 1; count <= MAX_PARTICLE_COUNT; count += count < 600 ? 1 : 997) {
            const TileGrid grid = TileGrid::of(count, threads);
            ASSERT_EQ(grid.size % EXACT_LANES, 0) << count << " on " << threads;
            ASSERT_GE(grid.size, MIN_EXACT_TILE);
            ASSERT_LE(grid.size, EXACT_TILE);
            ASSERT_GE(grid.tiles * grid.size, count);
            ASSERT_LT((grid.tiles - 1) * grid.size, count);
            ASSERT_EQ(grid.end(grid.tiles - 1), count);
            ASSERT_LE(grid.paddedEnd(grid.tiles - 1), (count + EXACT_TILE - 1) / EXACT_TILE * EXACT_TILE + EXACT_TILE);
            if (threads == 1) {
                ASSERT_EQ(grid.size, EXACT_TILE);
            }
        }
    }
}

// Crowded fields: many merges a step, between particles of one tile and of different tiles, chains
// of them included, over several steps.
TEST_F(ExactTiles, MergesInsideAndAcrossTiles) {
    int64_t merges = 0;
    int64_t acrossTiles = 0;
    simParameters.meanRadius = 2.5;
    for (int32_t count : {700, 1500}) {
        for (int64_t seed = 1; seed <= 4 && !HasFailure(); ++seed) {
            SCOPED_TRACE("count " + std::to_string(count) + " seed " + std::to_string(seed));
            Table state = population(count, 7000 + seed, 250, 180);
            for (int k = 0; k < 3 && !HasFailure(); ++k) {
                // A merge across tiles: some pair of different tiles at merging distance.
                const Table before = state;
                state = compareExactStep(state, 250, 180);
                merges += liveCount(before) - liveCount(state);
                for (int32_t i = 0; i <= before.lastIndex && acrossTiles == 0; ++i) {
                    for (int32_t j = i + 1; j <= before.lastIndex; ++j) {
                        const Particle& a = before.records[static_cast<std::size_t>(i)];
                        const Particle& b = before.records[static_cast<std::size_t>(j)];
                        if (a.mass == 0 || b.mass == 0 || i / EXACT_TILE == j / EXACT_TILE) continue;
                        if (a.radius + b.radius >= MERGE_RANGE_FACTOR * periodicDistance(a.x, a.y, b.x, b.y, 250, 180)) {
                            ++acrossTiles;
                            break;
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(merges, 1000);
    EXPECT_GT(acrossTiles, 0);
}

// A table of several tiles with hostile but accepted values: masses from 1e-100 to 1e100, positions
// on the edges, a little outside them and near-coincident across tiles, signed zeros, radii 0.
Table hostileTable(std::mt19937_64& random, int32_t count) {
    const auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    const auto pick = [&](std::initializer_list<double> values) {
        return *(values.begin() + static_cast<std::ptrdiff_t>(random() % values.size()));
    };
    Table t;
    for (int32_t k = 0; k < count; ++k) {
        Particle p{};
        p.mass = random() % 8 != 0 ? uniform(0.1, 100) : pick({1e-100, 1e100, 3e-60, 1e40, 0.0});
        p.radius = pick({0.0, 0.5, uniform(0, 3)});
        p.x = random() % 16 != 0 ? uniform(0, 1000) : pick({0.0, 1000.0, 500.0, 1e-140, 999.9999999});
        p.y = random() % 16 != 0 ? uniform(0, 700) : pick({0.0, 700.0, 350.0, 699.999999});
        p.vx = random() % 8 != 0 ? uniform(-50, 50) : pick({0.0, -0.0, 1e6});
        p.vy = random() % 8 != 0 ? uniform(-50, 50) : pick({0.0, -0.0});
        // Near-coincident with a particle of an earlier tile, or on top of it.
        if (k >= EXACT_TILE && random() % 6 == 0) {
            const Particle& q = t.records[static_cast<std::size_t>(random() % EXACT_TILE)];
            p.x = q.x + pick({0.0, 1e-9, -1e-12});
            p.y = q.y + pick({0.0, 2e-13});
        }
        t.records.push_back(p);
    }
    // Outside the field, as merged survivors may lie.
    t.records[3].x = -0.5;
    t.records[static_cast<std::size_t>(count - 2)].y = 700.25;
    t.lastIndex = count - 1;
    return t;
}

TEST_F(ExactTiles, HostileTablesOnEveryLevelDivisionWayAndThreadCount) {
    stepSettings().cpuLimit = CpuLevel::Avx512;
    const CpuLevel best = stepCpuLevel();
    std::mt19937_64 random(4711);
    int taken = 0;
    int runs = 0;
    for (int state = 0; state < 12 && !HasFailure(); ++state) {
        simParameters.mergeEnabled = state % 2;
        simParameters.gravity = state % 3 == 0 ? -20.0 : state % 3 == 1 ? 20.0 : 1e9;
        const Table start = hostileTable(random, 200 + 37 * state);
        const Table literal = stepWith(StepEngine::Literal, start);
        for (CpuLevel level : {CpuLevel::Scalar, CpuLevel::Avx2, CpuLevel::Avx512}) {
            if (static_cast<int>(level) > static_cast<int>(best)) continue;
            for (ExactDivision way : {ExactDivision::Instructions, ExactDivision::Built}) {
                for (int32_t threads : {1, 2, 3}) {
                    SCOPED_TRACE("state " + std::to_string(state) + ", " + cpuLevelName(level) + ", " +
                                 std::to_string(threads) + " threads" + (way == ExactDivision::Built ? ", built" : ""));
                    stepSettings().cpuLimit = level;
                    exactSettings().division = way;
                    setStepThreads(threads);
                    const Table exact = stepWith(StepEngine::Exact, start);
                    taken += !lastStepHandedOver();
                    ++runs;
                    ASSERT_TRUE(sameBytes(literal, exact));
                }
            }
        }
    }
    // Most of them are the tiles' own, not handed to the literal step.
    EXPECT_GT(2 * taken, runs);
    RecordProperty("taken", std::to_string(taken));
}

// Coincident pairs between tiles that run unguarded: the tile meets NaN, runs again guarded, and
// the pair exerts nothing, as in the literal step; -0 velocities keep their sign.
TEST_F(ExactTiles, CoincidentPairsBetweenUnguardedTiles) {
    simParameters.mergeEnabled = 0;
    Table t = population(3 * EXACT_TILE, 99);
    t.records[5].x = t.records[EXACT_TILE + 17].x;
    t.records[5].y = t.records[EXACT_TILE + 17].y;
    t.records[2 * EXACT_TILE + 3].x = 0;
    t.records[7].x = 1000;
    t.records[7].y = t.records[2 * EXACT_TILE + 3].y;
    t.records[EXACT_TILE + 17].vx = -0.0;
    t.records[5].vy = -0.0;
    for (Particle& p : t.records) p.mass = p.mass == 0 ? 1 : p.mass;
    const Table exact = compareExactStep(t);
    EXPECT_TRUE(std::isfinite(exact.records[5].vx) && std::isfinite(exact.records[7].vy));
}

// The tiles share their rows among threads as a wavefront: a whole run on 1, 2 and 3 threads is
// the literal run, tick by tick.
TEST_F(ExactTiles, SameRunOnEveryThreadCount) {
    simParameters.meanRadius = 1.0;
    for (int32_t merge : {1, 0}) {
        simParameters.mergeEnabled = merge;
        const Table start = population(1100, 2024);
        std::vector<uint64_t> literalHashes;
        install(start);
        setStepEngine(StepEngine::Literal);
        for (int t = 0; t < 5; ++t) {
            advanceTick();
            literalHashes.push_back(hashPopulation());
        }
        for (int32_t threads : {1, 2, 3}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, merge " + std::to_string(merge));
            setStepThreads(threads);
            install(start);
            setStepEngine(StepEngine::Exact);
            for (int t = 0; t < 5; ++t) {
                advanceTick();
                ASSERT_EQ(hashPopulation(), literalHashes[static_cast<std::size_t>(t)]) << "tick " << t + 1;
            }
        }
    }
}

// The engines size their scratch as the tables grow and shrink within one process (the sanitizer
// build sees any write past it): one sequence of sizes through each engine, on one and two threads.
TEST_F(ExactTiles, ScratchFollowsTheTableAsItGrowsAndShrinks) {
    simParameters.meanRadius = 2.0;
    for (int32_t threads : {1, 2}) {
        setStepThreads(threads);
        for (int32_t count : {1, 2, 9, 60, 65, 130, 257, 40, 700, 3, 1200}) {
            SCOPED_TRACE("count " + std::to_string(count) + ", " + std::to_string(threads) + " threads");
            simParameters.mergeEnabled = count % 2;
            const Table start = population(count, 31 + count, 300, 200);
            const Table literal = stepWith(StepEngine::Literal, start, 300, 200);
            EXPECT_TRUE(sameBytes(literal, stepWith(StepEngine::Exact, start, 300, 200)));
            stepWith(StepEngine::Fast, start, 300, 200);
            EXPECT_EQ(simState.lastIndex, literal.lastIndex);
        }
    }
}

// The comparisons would see a wrong order of additions in the columns: kernels that sum each row
// group's column terms apart give other bits, the right ones the literal bits.
TEST_F(ExactTiles, AWrongOrderOfColumnTermsIsCaught) {
    simParameters.mergeEnabled = 0;
    const Table start = population(3 * EXACT_TILE + 40, 555);
    const Table literal = stepWith(StepEngine::Literal, start);
    stepSettings().cpuLimit = CpuLevel::Scalar;
    EXPECT_TRUE(sameBytes(literal, stepWith(StepEngine::Exact, start)));
    const GravityKernels misordered = misorderedKernels();
    stepSettings().kernels = &misordered;
    const Table wrong = stepWith(StepEngine::Exact, start);
    EXPECT_FALSE(lastStepHandedOver());
    EXPECT_FALSE(sameBytes(literal, wrong));
}

}  // namespace
