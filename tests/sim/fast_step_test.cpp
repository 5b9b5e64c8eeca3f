// The fast step against the literal one: the same merges and table to the bit, velocities within
// the rounding bound below, and the same bits for every thread count at each kernel level.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "digest.h"
#include "engine.h"
#include "inverse_cube_lanes.h"
#include "step_tables.h"

namespace {

// How far rounding alone can move a velocity. Each velocity is v0 plus a sum of pair terms; any
// summation order is off the exact sum by at most gamma(n) * (|v0| + sum |term|) with
// gamma(n) ~ n * u (u = 2^-53), and each term differs from the exact one by a few u relative.
// The fast engine sums in another order, and for a merging particle takes one stretch as a
// total minus the others (twice the error again); a merge averages two velocities, so it carries
// the larger error on. Hence |fast - literal| <= 4 (n + 16) u A, where A is |v0| + sum |term|
// over the whole step, the maximum over the particles merged into a survivor, and n the number
// of additions on the longest such chain. A missing or doubled pair is far outside this.
struct Bound {
    std::vector<double> magnitude;
    std::vector<double> additions;
};

// The literal step once more, counting what the rounding bound needs instead of the velocities.
Bound roundingBound(const Table& start, double width, double height) {
    const std::size_t n = start.records.size();
    std::vector<Particle> c = start.records;
    const std::vector<Particle> s = start.records;
    Bound b{std::vector<double>(n, 0.0), std::vector<double>(n, 0.0)};
    std::vector<double> sum(n, 0.0);
    struct Merge {
        std::size_t a, gone;
    };
    std::vector<Merge> merges;
    const bool merging = simParameters.mergeEnabled == 1;
    const int32_t last = start.lastIndex;
    for (int32_t i = 0; i <= last; ++i) {
        for (int32_t j = i + 1; j <= last; ++j) {
            auto& ci = c[static_cast<std::size_t>(i)];
            auto& cj = c[static_cast<std::size_t>(j)];
            const auto& si = s[static_cast<std::size_t>(i)];
            const auto& sj = s[static_cast<std::size_t>(j)];
            if (!(ci.mass * cj.mass > 0)) continue;
            const double r = periodicDistance(si.x, si.y, sj.x, sj.y, width, height);
            if (merging && si.radius + sj.radius >= MERGE_RANGE_FACTOR * r) {
                const bool jSurvives = sj.radius >= si.radius;
                auto& a = jSurvives ? cj : ci;
                auto& gone = jSurvives ? ci : cj;
                a.mass = ci.mass + cj.mass;
                gone.mass = 0;
                merges.push_back({static_cast<std::size_t>(jSurvives ? j : i), static_cast<std::size_t>(jSurvives ? i : j)});
                continue;
            }
            if (r == 0) continue;
            const double pull = std::fabs(simParameters.gravity) / (r * r) * TIME_STEP;
            sum[static_cast<std::size_t>(i)] += pull * sj.mass;
            sum[static_cast<std::size_t>(j)] += pull * si.mass;
            b.additions[static_cast<std::size_t>(i)] += 1;
            b.additions[static_cast<std::size_t>(j)] += 1;
        }
    }
    for (std::size_t k = 0; k < n; ++k) {
        b.magnitude[k] = std::max(std::fabs(s[k].vx), std::fabs(s[k].vy)) + sum[k] * 1.01;
    }
    for (const Merge& m : merges) {
        b.magnitude[m.a] = std::max(b.magnitude[m.a], b.magnitude[m.gone]);
        b.additions[m.a] = std::max(b.additions[m.a], b.additions[m.gone]) + 1;
    }
    if (!merging) return b;
    // The removal pass moves records; move their bounds the same way.
    int32_t lastLive = last;
    for (int32_t i = 0; i <= lastLive; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (c[at].mass != 0) continue;
        const auto from = static_cast<std::size_t>(lastLive);
        c[at].mass = c[from].mass;
        c[from].mass = 0;
        b.magnitude[at] = b.magnitude[from];
        b.additions[at] = b.additions[from];
        --lastLive;
    }
    return b;
}

constexpr int32_t GOLDEN_LAST_INDEX = 254;
constexpr uint64_t GOLDEN_HASH_PORTABLE = 0x0809610145e26e2fu;
constexpr uint64_t GOLDEN_ESTIMATES_INTEL_AVX2 = 0x26d6aafc4c505e92u;
constexpr uint64_t GOLDEN_HASH_INTEL_AVX2 = 0xd768d2b6ce4364a1u;
constexpr uint64_t GOLDEN_ESTIMATES_INTEL_AVX512 = 0x5f642fc79d8facfeu;
constexpr uint64_t GOLDEN_HASH_INTEL_AVX512 = 0xd768d2b6ce4364a1u;

constexpr double UNIT_ROUNDOFF = std::numeric_limits<double>::epsilon() / 2;

// The removal table, masses, radii and positions to the bit; velocities within the bound. Keeps
// in worstRatio the largest velocity difference seen, in units of the record's own bound.
::testing::AssertionResult agrees(const Table& literal, const Table& fast, const Bound& bound, double& worstRatio) {
    if (literal.lastIndex != fast.lastIndex)
        return ::testing::AssertionFailure() << "lastIndex " << fast.lastIndex << " vs literal " << literal.lastIndex;
    for (int32_t i = 0; i <= literal.lastIndex; ++i) {
        const Particle& l = literal.records[static_cast<std::size_t>(i)];
        const Particle& f = fast.records[static_cast<std::size_t>(i)];
        if (!sameBits(l.mass, f.mass) || !sameBits(l.radius, f.radius) || !sameBits(l.x, f.x) || !sameBits(l.y, f.y))
            return ::testing::AssertionFailure()
                   << "record " << i << ": fast (" << f.mass << ", " << f.radius << ", " << f.x << ", " << f.y
                   << ") literal (" << l.mass << ", " << l.radius << ", " << l.x << ", " << l.y << ")";
    }
    for (int32_t i = 0; i <= literal.lastIndex; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const Particle& l = literal.records[at];
        const Particle& f = fast.records[at];
        const double limit = 4 * (bound.additions[at] + 16) * UNIT_ROUNDOFF * bound.magnitude[at];
        const double dx = std::fabs(l.vx - f.vx);
        const double dy = std::fabs(l.vy - f.vy);
        if (!(dx <= limit && dy <= limit))
            return ::testing::AssertionFailure() << "record " << i << " velocity fast (" << f.vx << ", " << f.vy
                                                 << ") literal (" << l.vx << ", " << l.vy << "), limit " << limit;
        if (limit > 0) worstRatio = std::max(worstRatio, std::max(dx, dy) / limit);
    }
    return ::testing::AssertionSuccess();
}

class FastStep : public EngineTest {
protected:
    // One step from start by both engines, compared; returns the fast result.
    Table compareStep(const Table& start, double width = FIELD_WIDTH, double height = FIELD_HEIGHT) {
        const Bound bound = roundingBound(start, width, height);
        const Table literal = stepWith(StepEngine::Literal, start, width, height);
        const Table fast = stepWith(StepEngine::Fast, start, width, height);
        EXPECT_FALSE(lastStepHandedOver());
        EXPECT_TRUE(agrees(literal, fast, bound, worstRatio));
        return fast;
    }

    // Largest velocity difference seen by this test, in units of the record's own bound (<= 1 passes).
    double worstRatio = 0;
};

TEST_F(FastStep, MatchesLiteralOverSeedsSizesAndParameters) {
    int64_t merges = 0;
    int64_t runs = 0;
    for (const Sweep& sweep : SWEEPS) {
        applySweep(sweep);
        for (uint32_t seed = 1; seed <= 50; ++seed) {
            SCOPED_TRACE("count " + std::to_string(sweep.count) + " seed " + std::to_string(seed));
            Table state = population(sweep.count, 1000 + seed * 7919, sweep.width, sweep.height);
            for (int32_t k = 0; k < sweep.steps && !HasFailure(); ++k) {
                const int32_t before = liveCount(state);
                state = compareStep(state, sweep.width, sweep.height);
                merges += before - liveCount(state);
                ++runs;
            }
        }
    }
    // The sweep only means something if it merged a lot, chains included.
    EXPECT_GT(merges, 2000);
    RecordProperty("steps", std::to_string(runs));
    RecordProperty("merges", std::to_string(merges));
    RecordProperty("worstVelocityRatio", std::to_string(worstRatio));
}

TEST_F(FastStep, ChainsOfMergesAndOneParticleAbsorbingSeveral) {
    EXPECT_EQ(liveCount(compareStep(chainOfMerges())), 3);
    EXPECT_EQ(liveCount(compareStep(oneAbsorbsSeveral())), 3);
    compareStep(survivorLaterAbsorbed());
}

TEST_F(FastStep, MergesAcrossBothEdgesAndTheCorner) {
    Table fast = compareStep(mergesAcrossEdges());
    // Survivors pulled across an edge lie outside the field; the next step starts from there.
    bool outside = false;
    for (int32_t i = 0; i <= fast.lastIndex; ++i) {
        const Particle& p = fast.records[static_cast<std::size_t>(i)];
        outside = outside || p.x < 0 || p.x > FIELD_WIDTH || p.y < 0 || p.y > FIELD_HEIGHT;
    }
    EXPECT_TRUE(outside);
    fast.records.push_back(body(1, 1, 999.8, fast.records[0].y));
    fast.lastIndex = static_cast<int32_t>(fast.records.size()) - 1;
    compareStep(fast);
}

TEST_F(FastStep, BornDeadCoincidentAndHalfAPeriodApart) {
    for (int32_t merge : {1, 0}) {
        SCOPED_TRACE("merge " + std::to_string(merge));
        simParameters.mergeEnabled = merge;
        compareStep(bornDead());
        const Table fast = compareStep(coincident());
        for (int32_t i = 0; i <= fast.lastIndex; ++i) {
            EXPECT_FALSE(std::isnan(fast.records[static_cast<std::size_t>(i)].vx));
        }
        compareStep(halfAPeriodApart());
    }
}

TEST_F(FastStep, LargeBodiesMergeWithoutTheGrid) { EXPECT_LE(compareStep(largeBodies()).lastIndex, 3); }

TEST_F(FastStep, EmptyLoneAndAllDeadTables) {
    compareStep(tableOf({}));
    compareStep(tableOf({body(3, 1, 10, 10, 5, 5)}));
    compareStep(tableOf({Particle{0, 0, 1, 2, 3, 4}, Particle{0, 0, 1, 2, 3, 4}}));
}

TEST_F(FastStep, HeapsOfOverlappingParticlesStepLiterallyWithTheSameResult) {
    // Forty particles on one spot: 780 close pairs, more than the candidate list holds.
    Table t;
    for (int k = 0; k < 40; ++k) t.records.push_back(body(1 + k % 3, 1 + k % 2, 400 + 0.01 * k, 300, k, -k));
    t.records.push_back(body(2, 1, 100, 100));
    t.lastIndex = static_cast<int32_t>(t.records.size()) - 1;
    const Table literal = stepWith(StepEngine::Literal, t, FIELD_WIDTH, FIELD_HEIGHT);
    const Table fast = stepWith(StepEngine::Fast, t, FIELD_WIDTH, FIELD_HEIGHT);
    EXPECT_TRUE(lastStepHandedOver());
    ASSERT_EQ(literal.lastIndex, fast.lastIndex);
    for (int32_t i = 0; i <= literal.lastIndex; ++i) {
        const Particle& l = literal.records[static_cast<std::size_t>(i)];
        const Particle& f = fast.records[static_cast<std::size_t>(i)];
        EXPECT_TRUE(sameBits(l.x, f.x) && sameBits(l.vx, f.vx) && sameBits(l.mass, f.mass)) << "record " << i;
    }
}

TEST_F(FastStep, HandsUnusualValuesToTheLiteralStep) {
    Table t = tableOf({body(-1, 1, 10, 10), body(2, 1, 50, 50)});
    const Table literal = stepWith(StepEngine::Literal, t, FIELD_WIDTH, FIELD_HEIGHT);
    const Table fast = stepWith(StepEngine::Fast, t, FIELD_WIDTH, FIELD_HEIGHT);
    EXPECT_TRUE(lastStepHandedOver());
    for (std::size_t i = 0; i < literal.records.size(); ++i) {
        EXPECT_TRUE(sameBits(literal.records[i].vx, fast.records[i].vx));
    }
    stepWith(StepEngine::Fast, tableOf({body(1, 1, 1e6, 10), body(1, 1, 10, 10)}), FIELD_WIDTH, FIELD_HEIGHT);
    EXPECT_TRUE(lastStepHandedOver());
    stepWith(StepEngine::Fast, tableOf({body(1, 1, 10, 10), body(1, 1, 20, 10)}), FIELD_WIDTH, FIELD_HEIGHT);
    EXPECT_FALSE(lastStepHandedOver());
}

// Finite states whose forces the literal arithmetic forms differently from the kernels (overflowing,
// underflowing, or with distances whose cube vanishes): the fast step must hand them over, and then
// gives the literal bytes.
TEST_F(FastStep, HandsStatesBeyondItsRangesToTheLiteralStep) {
    struct Case {
        const char* what;
        Table table;
        double gravity;
    };
    const Case cases[] = {
        {"1e-140 apart near the origin", tableOf({body(1, 0, 0, 100), body(1, 0, 1e-140, 100 + 1e-140)}), 20},
        {"1e-103 apart near the origin", tableOf({body(1, 0, 1e-103, 100), body(1, 0, 0, 100)}), 20},
        {"a product of masses and gravity beyond the largest double",
         tableOf({body(1e150, 0, 10, 10), body(1e150, 0, 50, 50)}), 1e9},
        {"the same with gravity 1e100", tableOf({body(1e150, 0, 10, 10), body(1e150, 0, 50, 50)}), 1e100},
        {"a product of masses and gravity below the smallest double",
         tableOf({body(1e-150, 0, 10, 10), body(1e-150, 0, 50, 50)}), 1e-100},
        // The literal term divides 0 by m * r = 0 and is NaN, without any gravity.
        {"a divisor m * r that vanishes", tableOf({body(5e-324, 0, 10, 10), body(1, 0, 10.25, 10)}), 0},
    };
    for (const Case& c : cases) {
        for (int32_t merge : {0, 1}) {
            SCOPED_TRACE(std::string(c.what) + ", merge " + std::to_string(merge));
            simParameters.gravity = c.gravity;
            simParameters.mergeEnabled = merge;
            const Table literal = stepWith(StepEngine::Literal, c.table);
            const Table fast = stepWith(StepEngine::Fast, c.table);
            EXPECT_TRUE(lastStepHandedOver());
            EXPECT_TRUE(sameBytes(literal, fast));
        }
    }
    // Nearby values well inside the ranges stay on the fast path.
    simParameters.gravity = 20;
    simParameters.mergeEnabled = 0;
    compareStep(tableOf({body(1, 0, 1e-20, 100), body(1, 0, 0, 100), body(1e30, 0, 500, 300), body(1e-30, 0, 20, 30)}));
}

// The blocks and the worker pool only come in above the parallel threshold.
TEST_F(FastStep, MatchesLiteralAboveTheParallelThreshold) {
    setStepThreads(2);
    simParameters.meanRadius = 1.5;
    for (int32_t merge : {1, 0}) {
        SCOPED_TRACE("merge " + std::to_string(merge));
        simParameters.mergeEnabled = merge;
        Table state = population(2600, 777);
        for (int k = 0; k < 2 && !HasFailure(); ++k) state = compareStep(state);
    }
}

// Many small random states with hostile values: each either steps fast, within the rounding bound
// of the literal step, or is handed over and gives its bytes.
TEST_F(FastStep, RandomHostileStatesAgreeWithLiteral) {
    constexpr uint64_t SEED = 424242;
    std::mt19937_64 random(SEED);
    int fastSteps = 0;
    constexpr int STATES = 3000;
    for (int state = 0; state < STATES && !HasFailure(); ++state) {
        SCOPED_TRACE("state " + std::to_string(state) + " of seed " + std::to_string(SEED));
        const Table t = hostileState(random);
        const Bound bound = roundingBound(t, FIELD_WIDTH, FIELD_HEIGHT);
        const Table literal = stepWith(StepEngine::Literal, t);
        const Table fast = stepWith(StepEngine::Fast, t);
        if (lastStepHandedOver()) {
            ASSERT_TRUE(sameBytes(literal, fast));
        } else {
            ++fastSteps;
            ASSERT_TRUE(agrees(literal, fast, bound, worstRatio));
        }
    }
    // Hostile values are frequent here; the fast path must still take a good share of the states.
    EXPECT_GT(fastSteps, STATES / 5);
    RecordProperty("fastSteps", std::to_string(fastSteps));
    RecordProperty("worstVelocityRatio", std::to_string(worstRatio));
}

// Two steps of a table large enough to be split between threads, where thousands of pairs merge.
Table twoSteps(const Table& start, int32_t threads, CpuLevel level) {
    setStepThreads(threads);
    stepSettings().cpuLimit = level;
    install(start);
    for (int k = 0; k < 2; ++k) stepSimulation(FIELD_WIDTH, FIELD_HEIGHT);
    return capture();
}

// The kernels stop at the last vector holding a live particle: every live count across two tiles
// (each remainder of a vector and of a tile) still meets all its partners.
TEST_F(FastStep, EveryLiveCountAcrossTheTileEdges) {
    simParameters.meanRadius = 2.0;
    for (int32_t merge : {0, 1}) {
        simParameters.mergeEnabled = merge;
        for (int32_t count = 56; count <= 136 && !HasFailure(); ++count) {
            SCOPED_TRACE("count " + std::to_string(count) + " merge " + std::to_string(merge));
            const Table start = population(count, 500 + static_cast<uint32_t>(count), 200, 140);
            compareStep(start, 200, 140);
        }
    }
}

// Every thread count gives the same bits at each level. The levels differ among themselves: the
// portable kernels divide, each vector set refines its own estimate. Merges and the table agree.
TEST_F(FastStep, SameBitsForEveryThreadCountAtEachLevel) {
    setStepEngine(StepEngine::Fast);
    stepSettings().cpuLimit = testKernelLimit();
    const CpuLevel best = stepCpuLevel();
    for (int32_t merge : {1, 0}) {
        simParameters.mergeEnabled = merge;
        simParameters.meanRadius = 1.5;
        const Table start = population(2600, 4242, FIELD_WIDTH, FIELD_HEIGHT);
        const Table portable = twoSteps(start, 1, CpuLevel::Scalar);
        if (merge == 1) {
            EXPECT_LT(portable.lastIndex, 2600 - 100);
        }
        for (CpuLevel level : {CpuLevel::Scalar, CpuLevel::Avx2, CpuLevel::Avx512}) {
            if (static_cast<int>(level) > static_cast<int>(best)) continue;
            SCOPED_TRACE(std::string("merge ") + std::to_string(merge) + ", " + cpuLevelName(level));
            const Table one = twoSteps(start, 1, level);
            EXPECT_TRUE(sameBytes(one, twoSteps(start, 2, level)));
            EXPECT_TRUE(sameBytes(one, twoSteps(start, 7, level)));
            EXPECT_EQ(one.lastIndex, portable.lastIndex);
        }
    }
}

// A hash of the estimates of 1/sqrt(x) a vector level takes, over fixed x: which tables the
// processor's vendor gave it.
uint64_t estimateFingerprint(CpuLevel level) {
    const InverseCubeLanes lanes = level == CpuLevel::Avx512 ? inverseCubeLanesAvx512() : inverseCubeLanesAvx2();
    std::vector<double> x(4096);
    for (std::size_t k = 0; k < x.size(); ++k) x[k] = std::ldexp(1.0 + static_cast<double>(k) / 4096, static_cast<int>(k % 5) - 2);
    std::vector<double> estimate(x.size());
    lanes.estimate(x.data(), estimate.data(), x.size());
    uint64_t hash = 0;
    for (double e : estimate) {
        uint64_t z = std::bit_cast<uint64_t>(e) ^ hash;  // splitmix64's mixing of each estimate in turn
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        hash = z ^ (z >> 31);
    }
    return hash;
}

// The default run's hash where the vector kernels take the estimates with this fingerprint.
struct VectorGolden {
    CpuLevel level;
    uint64_t estimates;
    uint64_t hash;
};
constexpr VectorGolden VECTOR_GOLDEN[] = {
    // Intel Xeon, family 6 model 167 as its virtual machine names it (AVX-512 with AMX): rsqrtps
    // and vrsqrt14pd.
    {CpuLevel::Avx2, GOLDEN_ESTIMATES_INTEL_AVX2, GOLDEN_HASH_INTEL_AVX2},
    {CpuLevel::Avx512, GOLDEN_ESTIMATES_INTEL_AVX512, GOLDEN_HASH_INTEL_AVX512},
};

// The default run for a fixed clock ends in the same bytes on every build and thread count: the
// sums have one order, fixed by the table. The portable kernels' bytes are the same on every
// processor; the vector kernels' follow the processor's estimates, so their hash is known for the
// estimates listed above (another processor's are named in the output, to be added).
TEST_F(FastStep, GoldenHashOfTheDefaultRunOnEveryThreadCountAndLevel) {
    setStepEngine(StepEngine::Fast);
    stepSettings().cpuLimit = testKernelLimit();
    const CpuLevel best = stepCpuLevel();
    const auto run = [](int32_t threads, CpuLevel level) {
        setStepThreads(threads);
        stepSettings().cpuLimit = level;
        crtFixClock(1000);
        simState.current.reallocate();
        simState.snapshot.reallocate();
        initializePopulation(FIELD_WIDTH, FIELD_HEIGHT);
        for (int t = 0; t < 300; ++t) advanceTick();
        return std::pair{simState.lastIndex, hashPopulation()};
    };
    for (CpuLevel level : {CpuLevel::Scalar, CpuLevel::Avx2, CpuLevel::Avx512}) {
        if (static_cast<int>(level) > static_cast<int>(best)) continue;
        SCOPED_TRACE(cpuLevelName(level));
        const auto one = run(1, level);
        EXPECT_EQ(one, run(2, level)) << "one thread against two";
        if (level == CpuLevel::Scalar) {
            EXPECT_EQ(one.first, GOLDEN_LAST_INDEX);
            EXPECT_EQ(one.second, GOLDEN_HASH_PORTABLE);
            continue;
        }
        const uint64_t estimates = estimateFingerprint(level);
        bool known = false;
        for (const VectorGolden& golden : VECTOR_GOLDEN) {
            if (golden.level != level || golden.estimates != estimates) continue;
            known = true;
            EXPECT_EQ(one.first, GOLDEN_LAST_INDEX);
            EXPECT_EQ(one.second, golden.hash);
        }
        if (!known) {
            std::printf("estimates %s 0x%016llx unknown here: the default run's hash is 0x%016llx\n", cpuLevelName(level),
                        static_cast<unsigned long long>(estimates), static_cast<unsigned long long>(one.second));
            RecordProperty(std::string("unknownEstimates_") + cpuLevelName(level), std::to_string(estimates));
        }
    }
}

// With two particles each velocity takes one term, so the step's velocities follow from the
// kernel's 1/(r^2 sqrt(r^2)) alone: the refined one at the vector levels, the division at the
// portable one. A broken refinement inside the kernels themselves fails here.
TEST_F(FastStep, TwoParticlesTakeTheKernelsInverseCube) {
    simParameters.mergeEnabled = 0;
    const CpuLevel level = stepCpuLevel();
    const InverseCubeLanes lanes = level == CpuLevel::Avx512 ? inverseCubeLanesAvx512()
                                   : level == CpuLevel::Avx2 ? inverseCubeLanesAvx2()
                                                             : InverseCubeLanes{};
    std::mt19937_64 random(2025);
    const auto uniform = [&](double low, double high) { return std::uniform_real_distribution<double>(low, high)(random); };
    int refinedNotDivided = 0;
    for (int k = 0; k < 400 && !HasFailure(); ++k) {
        // Both at one height, less than half the field apart: r^2 is sx * sx, with no wrap.
        const double x0 = uniform(1, 390);
        const double x1 = x0 + uniform(1e-3, 390);
        const Particle a = body(uniform(0.1, 100), 0.01, x0, 300, uniform(-5, 5), uniform(-5, 5));
        const Particle b = body(uniform(0.1, 100), 0.01, x1, 300, uniform(-5, 5), uniform(-5, 5));
        const Table fast = stepWith(StepEngine::Fast, tableOf({a, b}));
        ASSERT_FALSE(lastStepHandedOver());
        const double sx = x0 - x1;
        const double r2 = sx * sx;
        double inverse = 1 / (r2 * std::sqrt(r2));
        if (lanes.width != 0) {
            std::vector<double> in(lanes.width, r2);
            std::vector<double> out(lanes.width);
            lanes.inverseCube(in.data(), out.data(), in.size());
            refinedNotDivided += out[0] != inverse ? 1 : 0;
            inverse = out[0];
        }
        const double term = sx * inverse;
        const double g = simParameters.gravity;
        const double gmA = g * a.mass * TIME_STEP;
        const double gmB = g * b.mass * TIME_STEP;
        EXPECT_TRUE(sameBits(fast.records[0].vx, a.vx + -(gmB * term))) << "step " << k;
        EXPECT_TRUE(sameBits(fast.records[1].vx, b.vx + gmA * term)) << "step " << k;
        EXPECT_TRUE(sameBits(fast.records[0].vy, a.vy) && sameBits(fast.records[1].vy, b.vy)) << "step " << k;
    }
    // The vector kernels' results are not the division's everywhere: the estimate's path ran.
    if (lanes.width != 0) {
        EXPECT_GT(refinedNotDivided, 0);
    }
    RecordProperty("refinedNotDivided", std::to_string(refinedNotDivided));
}

// A step right after the thread count changes: new workers must take part in the first job.
TEST_F(FastStep, StepsRightAfterTheThreadCountChanges) {
    simParameters.meanRadius = 1.5;
    const Table start = population(2200, 99, FIELD_WIDTH, FIELD_HEIGHT);
    setStepEngine(StepEngine::Fast);
    std::vector<Table> results;
    for (int32_t threads : {1, 2, 3, 2, 4}) {
        install(start);
        setStepThreads(threads);
        stepSimulation(FIELD_WIDTH, FIELD_HEIGHT);
        results.push_back(capture());
    }
    for (const Table& r : results) {
        ASSERT_EQ(r.lastIndex, results[0].lastIndex);
        for (int32_t i = 0; i <= r.lastIndex; ++i) {
            ASSERT_TRUE(sameBits(r.records[static_cast<std::size_t>(i)].vx, results[0].records[static_cast<std::size_t>(i)].vx));
        }
    }
}

// A table as the kernels read it, laid out by hand: n particles spread over the field, each with
// its mass, padded as the step pads; the tests move and cut particles before they pass it.
struct KernelTable {
    int32_t n;
    int32_t padded;
    std::vector<double> x, y, gm, idx, cut;
    std::vector<unsigned char> tileCut;

    KernelTable(int32_t count, std::mt19937_64& random)
        : n(count), padded(paddedCount(count)), x(static_cast<std::size_t>(padded)), y(x.size()), gm(x.size(), 0.0),
          idx(x.size(), 0.0), cut(x.size(), NO_CUT), tileCut(x.size() / KERNEL_TILE, 0) {
        const auto uniform = [&](double low, double high) { return std::uniform_real_distribution<double>(low, high)(random); };
        for (int32_t k = 0; k < n; ++k) {
            const auto at = static_cast<std::size_t>(k);
            x[at] = uniform(0, FIELD_WIDTH);
            y[at] = uniform(0, FIELD_HEIGHT);
            gm[at] = uniform(1, 2000);
            idx[at] = k;
        }
    }
    // Padding as the step lays it out: at the last particle's position, with no mass.
    void pad() {
        for (std::size_t k = static_cast<std::size_t>(n); k < x.size(); ++k) {
            x[k] = x[static_cast<std::size_t>(n - 1)];
            y[k] = y[static_cast<std::size_t>(n - 1)];
        }
    }
    // The view of one block over the whole table, with the step's bounds on r^2 as given.
    GravityView view(double leastSquare, double greatestSquare) const {
        return GravityView{.x = x.data(), .y = y.data(), .gm = gm.data(), .idx = idx.data(), .cut = cut.data(),
                           .partX = nullptr, .partY = nullptr, .count = n, .padded = padded, .blockSize = padded,
                           .blocks = 1, .width = FIELD_WIDTH, .height = FIELD_HEIGHT, .tileCut = tileCut.data(),
                           .leastSquare = leastSquare, .greatestSquare = greatestSquare};
    }
    // Every particle's sums from one pass of the kernels over the view: x, then y.
    std::vector<double> sums(const GravityKernels& kernels, GravityView view) const {
        std::vector<double> partX(static_cast<std::size_t>(padded));
        std::vector<double> partY(static_cast<std::size_t>(padded));
        view.partX = partX.data();
        view.partY = partY.data();
        kernels.pairTask(view, 0, 0);
        partX.resize(static_cast<std::size_t>(n));
        partX.insert(partX.end(), partY.begin(), partY.begin() + n);
        return partX;
    }
};

// Where the step's bounds on r^2 let the kernels trust every estimate, they give the bits of the
// kernels that check each lane (the way a step outside the bounds goes): over whole tiles, the
// diagonal, cut tiles, a coincident pair and padding.
TEST_F(FastStep, CheckedLanesGiveTheBitsOfTrustedOnes) {
    const CpuLevel best = stepCpuLevel();
    std::mt19937_64 random(77);
    KernelTable table(300, random);
    table.x[7] = table.x[200];  // a coincident pair
    table.y[7] = table.y[200];
    table.cut[70] = 75;  // 70 is absorbed by 75
    table.tileCut[1] = 1;
    table.pad();
    for (CpuLevel level : {CpuLevel::Scalar, CpuLevel::Avx2, CpuLevel::Avx512}) {
        if (static_cast<int>(level) > static_cast<int>(best)) continue;
        SCOPED_TRACE(cpuLevelName(level));
        const GravityKernels kernels = kernelsFor(level);
        const std::vector<double> trusted = table.sums(kernels, table.view(1e-6, 1e7));
        const std::vector<double> checked = table.sums(kernels, table.view(0, INFINITY));
        for (std::size_t k = 0; k < trusted.size(); ++k) {
            ASSERT_TRUE(sameBits(trusted[k], checked[k])) << "sum " << k;
            ASSERT_TRUE(std::isfinite(trusted[k])) << "sum " << k;
        }
    }
}

// Where a tile's particles lie close together, as the step lays them out, a row whose offsets from
// the whole tile wrap alike skips the wrap's test; the offsets must be the tested ones to the bit:
// clusters anywhere on the field, rows exactly half a period from a tile (no wrap) and one ulp
// beyond (a wrap), on both sides, in x and in y, a period off the field, rows whose offsets from
// one tile wrap unalike, and a tile that checks cuts.
TEST_F(FastStep, OffsetsSharedByATileGiveTheBitsOfTestedOnes) {
    const CpuLevel best = stepCpuLevel();
    std::mt19937_64 random(31);
    const auto uniform = [&](double low, double high) { return std::uniform_real_distribution<double>(low, high)(random); };
    const double width = FIELD_WIDTH;
    const double height = FIELD_HEIGHT;
    KernelTable table(6 * KERNEL_TILE + 20, random);
    const int32_t n = table.n;
    const int32_t tiles = table.padded / KERNEL_TILE;
    std::vector<double>& x = table.x;
    std::vector<double>& y = table.y;
    for (int32_t tile = 0; tile < tiles; ++tile) {
        const double cx = uniform(0, width);
        const double cy = uniform(0, height);
        for (int32_t k = tile * KERNEL_TILE; k < std::min(n, (tile + 1) * KERNEL_TILE); ++k) {
            x[static_cast<std::size_t>(k)] = cx + uniform(-3, 3);
            y[static_cast<std::size_t>(k)] = cy + uniform(-3, 3);
        }
    }
    // Tile 2 at one x and tile 4 at one y, each spread over the field in the other; the rows of
    // tiles 1 and 3 half a period from them (a period and a half), or an ulp nearer or beyond.
    const double px = 300;
    const double py = 200;
    const double edges[] = {0.5, -0.5, 1.5, -1.5};
    for (int32_t k = 0; k < KERNEL_TILE; ++k) {
        const auto row = static_cast<std::size_t>(KERNEL_TILE + k);
        const double offset = edges[k % 4];
        const auto shifted = [&](double v) { return (k / 4) % 3 == 0 ? v : std::nextafter(v, (k / 4) % 3 == 1 ? INFINITY : -INFINITY); };
        x[row] = shifted(px + offset * width);
        x[row + KERNEL_TILE] = px;
        y[row + KERNEL_TILE] = uniform(0, height);  // shared in x alone
        y[row + 2 * KERNEL_TILE] = shifted(py + offset * height);
        x[row + 3 * KERNEL_TILE] = uniform(0, width);  // shared in y alone
        y[row + 3 * KERNEL_TILE] = py;
    }
    // The first rows of tile 0 half a period from the middle of tile 5, whose offsets wrap unalike.
    for (int32_t k = 5 * KERNEL_TILE; k < n; ++k) x[static_cast<std::size_t>(k)] = px + uniform(-5, 5);
    for (std::size_t k = 0; k < 4; ++k) x[k] = px + (k % 2 == 0 ? 0.5 : -0.5) * width + uniform(-1, 1);
    table.pad();
    // Tile 3 checks cuts: one of its particles is absorbed by one of tile 4.
    table.cut[3 * KERNEL_TILE + 9] = 4 * KERNEL_TILE + 20;
    table.tileCut[3] = 1;
    std::vector<double> boxes(4 * static_cast<std::size_t>(tiles));
    for (int32_t tile = 0; tile < tiles; ++tile) {
        double* box = boxes.data() + 4 * tile;
        box[0] = box[2] = INFINITY;
        box[1] = box[3] = -INFINITY;
        for (int32_t k = tile * KERNEL_TILE; k < std::min(n, (tile + 1) * KERNEL_TILE); ++k) {
            box[0] = std::min(box[0], x[static_cast<std::size_t>(k)]);
            box[1] = std::max(box[1], x[static_cast<std::size_t>(k)]);
            box[2] = std::min(box[2], y[static_cast<std::size_t>(k)]);
            box[3] = std::max(box[3], y[static_cast<std::size_t>(k)]);
        }
    }
    for (CpuLevel level : {CpuLevel::Scalar, CpuLevel::Avx2, CpuLevel::Avx512}) {
        if (static_cast<int>(level) > static_cast<int>(best)) continue;
        SCOPED_TRACE(cpuLevelName(level));
        const GravityKernels kernels = kernelsFor(level);
        const std::vector<double> tested = table.sums(kernels, table.view(1e-6, 1e7));
        for (const auto& [least, greatest] : {std::pair{1e-6, 1e7}, std::pair{0.0, std::numeric_limits<double>::infinity()}}) {
            GravityView view = table.view(least, greatest);
            view.tileBox = boxes.data();
            const std::vector<double> shared = table.sums(kernels, view);
            for (std::size_t k = 0; k < tested.size(); ++k) ASSERT_TRUE(sameBits(tested[k], shared[k])) << "sum " << k;
        }
    }
}

// A step's bounds on r^2 come from its smallest coordinate: a few particles next to the origin
// would make every pair check its lanes. Tiles and particles bound their own pairs instead, so that
// only the pairs of tiles that both hold such coordinates check them; the bits stay those of
// checking every lane, in the tiles and in the partner sums of the merge replay, also where two
// particles lie so close to the origin and to each other that the estimate cannot serve them.
TEST_F(FastStep, CoordinatesNearTheOriginCheckOnlyTheirOwnPairs) {
    const CpuLevel best = stepCpuLevel();
    std::mt19937_64 random(5);
    KernelTable table(4 * KERNEL_TILE, random);
    std::vector<double>& x = table.x;
    std::vector<double>& y = table.y;
    // In tile 2, two particles 1e-30 from the origin and 1e-31 apart (r^2 is 1e-62), and two others
    // at one height, 1e-30 and 3e-30 from the left edge.
    x[130] = 1e-30;
    y[130] = 2e-30;
    x[131] = 1.1e-30;
    y[131] = 2e-30;
    x[140] = 3e-30;
    y[140] = 5;
    x[141] = 1e-30;
    y[141] = 5;
    std::vector<double> near(static_cast<std::size_t>(table.padded / KERNEL_TILE), INFINITY);
    for (std::size_t k = 0; k < static_cast<std::size_t>(table.n); ++k) {
        double& tileNear = near[k / KERNEL_TILE];
        tileNear = std::min({tileNear, std::fabs(x[k]), std::fabs(y[k])});
    }
    for (CpuLevel level : {CpuLevel::Scalar, CpuLevel::Avx2, CpuLevel::Avx512}) {
        if (static_cast<int>(level) > static_cast<int>(best)) continue;
        SCOPED_TRACE(cpuLevelName(level));
        const GravityKernels kernels = kernelsFor(level);
        // The step's bounds as the smallest coordinate gives them with each tile's, or none at all.
        const auto sums = [&](const double* tileNear, double greatestSquare) {
            GravityView view = table.view(1e-62, greatestSquare);
            view.tileNear = tileNear;
            std::vector<double> all = table.sums(kernels, view);
            for (int32_t p : {3, 130, 140}) {
                double sum[2];
                kernels.partnerSum(view, p, 0, table.n, sum);
                all.insert(all.end(), {sum[0], sum[1]});
            }
            return all;
        };
        const std::vector<double> checked = sums(nullptr, INFINITY);
        const std::vector<double> byTile = sums(near.data(), 1e7);
        ASSERT_EQ(checked.size(), byTile.size());
        for (std::size_t k = 0; k < checked.size(); ++k) {
            ASSERT_TRUE(sameBits(checked[k], byTile[k])) << "sum " << k;
            ASSERT_TRUE(std::isfinite(checked[k])) << "sum " << k;
        }
    }
}

// Seeds of the long sweep below: ORRELUNE_FAST_SWEEP_SEEDS, 1 unless set (20 by hand takes minutes).
uint32_t longSweepSeeds() {
    const char* text = std::getenv("ORRELUNE_FAST_SWEEP_SEEDS");
    const long seeds = text == nullptr ? 1 : std::strtol(text, nullptr, 10);
    if (seeds < 1 || seeds > 10000) {
        ADD_FAILURE() << "ORRELUNE_FAST_SWEEP_SEEDS=" << text << " is no count of seeds (1 to 10000)";
        return 1;
    }
    return static_cast<uint32_t>(seeds);
}

// The comparison at sizes where the step runs in tiles and, from 2048 particles, in blocks on the
// threads, three steps from each population: one seed in every run, as many as asked by hand.
TEST_F(FastStep, LongSweepAgainstLiteral) {
    const uint32_t seeds = longSweepSeeds();
    int64_t merges = 0;
    for (int32_t count : {1000, 3000}) {
        for (int32_t merge : {1, 0}) {
            simParameters.mergeEnabled = merge;
            simParameters.meanRadius = 2.0;
            for (uint32_t seed = 1; seed <= seeds && !HasFailure(); ++seed) {
                SCOPED_TRACE("count " + std::to_string(count) + " merge " + std::to_string(merge) + " seed " +
                             std::to_string(seed));
                Table state = population(count, 77 + seed, FIELD_WIDTH, FIELD_HEIGHT);
                for (int k = 0; k < 3 && !HasFailure(); ++k) {
                    const int32_t before = liveCount(state);
                    state = compareStep(state);
                    merges += before - liveCount(state);
                }
            }
        }
    }
    EXPECT_GT(merges, 100);
    RecordProperty("seeds", std::to_string(seeds));
    RecordProperty("merges", std::to_string(merges));
    RecordProperty("worstVelocityRatio", std::to_string(worstRatio));
}

}  // namespace
