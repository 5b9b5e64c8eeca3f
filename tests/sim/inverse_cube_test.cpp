// The fast kernels' 1/(x sqrt(x)) (sim/kernels/inverse_cube_*.h) against x^(-3/2): within the
// proven bound wherever the estimate serves, for the processor's estimates and for any estimate as
// good as the documentation promises; the division's bits wherever it does not; and a refinement
// from a worse estimate than that is caught by the same check.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "instruction_sets.h"
#include "inverse_cube_lanes.h"
#include "lane_operands.h"

namespace {

using namespace operands;

// Positive, with a random significand and an exponent drawn from [low, high].
Doubles drawn(Rng& rng, std::size_t n, int low, int high) { return drawnMany(rng, n, low, high, false); }

// Significands in [1, 4) stepped by 2^-14, so that every entry of the estimates' tables comes up,
// with random bits below and a random exponent of each parity.
Doubles everyEstimate(Rng& rng) {
    Doubles v;
    for (uint64_t step = 0; step < (uint64_t{1} << 15); ++step) {
        const int exponent = 2 * std::uniform_int_distribution<int>(-60, 60)(rng) + static_cast<int>(step >> 14);
        const uint64_t significand = (step & 0x3FFF) << 38 | (rng() & ((uint64_t{1} << 38) - 1));
        v.push_back(fromBits(static_cast<uint64_t>(exponent + 1023) << 52 | significand));
    }
    return v;
}

// Powers of two over the engine's range and the doubles next to them; significands of all ones.
Doubles powersOfTwo() {
    Doubles v;
    for (int k = -700; k <= 700; k += 3) {
        const double p = std::ldexp(1.0, k);
        v.insert(v.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, std::numeric_limits<double>::infinity()), std::ldexp(0x1.fffffffffffffp0, k)});
    }
    return v;
}

class InverseCube : public testing::TestWithParam<Isa> {
protected:
    void SetUp() override {
        if (const char* why = whyNotRunnable(GetParam())) GTEST_SKIP() << why;
        lanes = GetParam() == Isa::Avx512 ? inverseCubeLanesAvx512() : inverseCubeLanesAvx2();
        if (lanes.width == 0) GTEST_SKIP() << "this build has no code for this instruction set";
        ASSERT_TRUE(extendedPrecisionActive()) << "long double does not round to 64 bits: no exact values";
    }

    bool avx512() const { return GetParam() == Isa::Avx512; }

    // Up to a whole number of vectors, with operands the estimate serves.
    Doubles padded(Doubles v) const {
        while (v.size() % lanes.width != 0) v.push_back(1.0);
        return v;
    }

    struct Refined {
        Doubles value;
        std::vector<unsigned char> trusted;
    };
    Refined refined(const Doubles& x) const {
        Refined r{Doubles(x.size()), std::vector<unsigned char>(x.size())};
        lanes.refined(x.data(), r.value.data(), r.trusted.data(), x.size());
        return r;
    }
    Refined refinedFrom(const Doubles& x, const Doubles& estimate) const {
        Refined r{Doubles(x.size()), std::vector<unsigned char>(x.size())};
        lanes.refinedFrom(x.data(), estimate.data(), r.value.data(), r.trusted.data(), x.size());
        return r;
    }
    Doubles kernel(const Doubles& x) const {
        Doubles out(x.size());
        lanes.inverseCube(x.data(), out.data(), x.size());
        return out;
    }
    Doubles divided(const Doubles& x) const {
        Doubles out(x.size());
        lanes.divided(x.data(), out.data(), x.size());
        return out;
    }

    // The trusted lanes further from x^(-3/2) than the bound (and the reference's own error) allow.
    std::size_t beyondBound(const Doubles& x, const Refined& r, std::string& first) const {
        std::size_t count = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (r.trusted[i] == 0) continue;
            const double error = ulpsFrom(r.value[i], exactInverseCube(x[i]));
            if (error <= lanes.boundUlps + REFERENCE_ULPS) continue;
            if (++count <= 3) first += "\n  x = " + show(x[i]) + ": " + show(r.value[i]) + ", " + std::to_string(error) + " ulp";
        }
        return count;
    }

    // Whether the set's estimate is documented to serve x, where it must be trusted.
    bool served(double x) const { return avx512() ? x >= 0x1p-680 && x <= 0x1p660 : x >= 0x1p-125 && x <= 0x1p125; }

    // Each trusted lane within the bound, each lane the estimate serves trusted, and the kernel's
    // result the refinement's there and the division's bits elsewhere.
    void expectKernelHolds(const char* what, Doubles x) const {
        SCOPED_TRACE(what);
        x = padded(x);
        const Refined r = refined(x);
        std::string first;
        EXPECT_EQ(beyondBound(x, r, first), 0U) << first;
        const Doubles got = kernel(x);
        const Doubles division = divided(x);
        std::size_t unserved = 0;
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (served(x[i]) && r.trusted[i] == 0 && ++unserved <= 3) ADD_FAILURE() << "x = " << show(x[i]) << " not trusted";
            const double want = r.trusted[i] != 0 ? r.value[i] : division[i];
            if (bitsOf(got[i]) != bitsOf(want) && ++wrong <= 3)
                ADD_FAILURE() << "x = " << show(x[i]) << ": kernel " << show(got[i]) << ", want " << show(want);
        }
    }

    // Estimates of 1/sqrt(x) off by a relative error drawn from [-bound, bound], its ends included;
    // as floats where the set's estimate is one.
    Doubles estimatesWithin(const Doubles& x, double bound, Rng& rng) const {
        Doubles e(x.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double t = i % 3 == 0 ? bound : i % 3 == 1 ? -bound : std::uniform_real_distribution<double>(-bound, bound)(rng);
            const long double exact = 1.0L / std::sqrt(static_cast<long double>(x[i]));
            e[i] = static_cast<double>(exact * (1.0L + t));
            if (!avx512()) e[i] = static_cast<float>(e[i]);
        }
        return e;
    }

    InverseCubeLanes lanes{};
};

INSTANTIATE_TEST_SUITE_P(InstructionSets, InverseCube, testing::Values(Isa::Avx2, Isa::Avx512), isaName);

TEST_P(InverseCube, WithinTheBoundWhereverTheEstimateServes) {
    Rng rng(25);
    expectKernelHolds("the estimates' range", drawn(rng, 4096 * SCALE, -125, 124));
    expectKernelHolds("every estimate", everyEstimate(rng));
    expectKernelHolds("the engine's range", drawn(rng, 4096 * SCALE, -640, 640));
    // The ends of the served range, where the result, or y^3 e beside it, nears the doubles' ends.
    expectKernelHolds("the served range's ends",
                      avx512() ? drawn(rng, 4096 * SCALE, 600, 659) : drawn(rng, 4096 * SCALE, 100, 124));
    expectKernelHolds("the served range's other end",
                      avx512() ? drawn(rng, 4096 * SCALE, -680, -620) : drawn(rng, 4096 * SCALE, -125, -100));
    expectKernelHolds("powers of two", powersOfTwo());
}

// Zeros, subnormals, the edges of each set's range, the largest doubles, infinities and NaNs, each
// next to every other in the vector: the division's bits unless the estimate serves the lane.
TEST_P(InverseCube, TheDivisionsBitsWhereTheEstimateCannotServe) {
    const double inf = std::numeric_limits<double>::infinity();
    const Doubles edges = {0.0,
                           -0.0,
                           std::numeric_limits<double>::denorm_min(),
                           0x1p-1060,
                           std::nextafter(0x1p-1022, 0.0),
                           0x1p-1022,
                           0x1p-700,
                           std::nextafter(0x1p-680, 0.0),
                           0x1p-680,
                           0x1p-300,
                           0x1p-150,
                           std::nextafter(0x1p-126, 0.0),
                           0x1p-126,
                           0x1p-125,
                           1.0,
                           0x1p125,
                           std::nextafter(0x1p128, 0.0),
                           static_cast<double>(std::numeric_limits<float>::max()),
                           0x1p128,
                           0x1p300,
                           0x1p660,
                           std::nextafter(0x1p660, inf),
                           0x1p680,
                           0x1p700,
                           std::numeric_limits<double>::max(),
                           inf,
                           -1.0,
                           -inf,
                           std::numeric_limits<double>::quiet_NaN(),
                           fromBits(0x7FF800000000BEEFULL),
                           fromBits(0xFFF0000000000001ULL)};
    Doubles x;
    for (double a : edges) {
        for (double b : edges) x.insert(x.end(), {a, b, 2.0, b});
    }
    expectKernelHolds("edges", x);
    // Beyond the range, no lane trusts its estimate: AVX-512 checks x itself; AVX2's float is then
    // infinite or zero (a subnormal one is as the processor takes it).
    const Refined r = refined(padded(x));
    for (std::size_t i = 0; i < x.size(); ++i) {
        const bool beyond = avx512() ? !(x[i] >= 0x1p-680 && x[i] <= 0x1p660) : !(x[i] >= 0x1p-150 && x[i] <= 0x1p128);
        EXPECT_FALSE(beyond && r.trusted[i] != 0) << "x = " << show(x[i]) << " trusted";
    }
}

// The proof takes the documented accuracy of the estimates (2^-14 relatively on AVX-512, 1.5 * 2^-12
// for AVX2's float one): any estimate that good, the worst included, gives a trusted lane within the bound.
TEST_P(InverseCube, AnyEstimateAsGoodAsDocumentedMeetsTheBound) {
    Rng rng(2525);
    const double documented = avx512() ? 0x1p-14 * (1 - 0x1p-20) : 1.5 * 0x1p-12;
    for (Doubles x : {drawn(rng, 4096 * SCALE, -125, 124), everyEstimate(rng)}) {
        x = padded(x);
        const Refined r = refinedFrom(x, estimatesWithin(x, documented, rng));
        std::string first;
        EXPECT_EQ(beyondBound(x, r, first), 0U) << first;
        std::size_t untrusted = 0;
        for (unsigned char t : r.trusted) untrusted += t == 0 ? 1 : 0;
        EXPECT_EQ(untrusted, 0U);
    }
}

// Poorer estimates, 2^-11 to 2^-10 off: a refinement that relied on them would break the bound,
// and the check above sees it (AVX-512 trusts its documented estimate); AVX2 refuses such lanes
// itself and takes the division there.
TEST_P(InverseCube, ARefinementFromAPoorerEstimateIsCaught) {
    Rng rng(52);
    const Doubles x = padded(drawn(rng, 4096 * SCALE, -125, 124));
    Doubles poor(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = (i % 2 == 0 ? 1 : -1) * std::uniform_real_distribution<double>(0x1p-11, 0x1p-10)(rng);
        poor[i] = static_cast<double>((1.0L + t) / std::sqrt(static_cast<long double>(x[i])));
    }
    const Refined r = refinedFrom(x, poor);
    std::string first;
    const std::size_t beyond = beyondBound(x, r, first);
    std::size_t trusted = 0;
    for (unsigned char t : r.trusted) trusted += t;
    if (avx512()) {
        EXPECT_GT(beyond, x.size() / 2) << "a refinement from poor estimates passes the check";
        return;
    }
    EXPECT_EQ(trusted, 0U);
    // No estimate at all, or a wild one: none trusted either.
    for (double wild : {0.0, -1.0, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(), 1e30}) {
        const Refined w = refinedFrom(x, Doubles(x.size(), wild));
        for (std::size_t i = 0; i < x.size(); ++i) ASSERT_EQ(w.trusted[i], 0) << "estimate " << wild << ", x " << show(x[i]);
    }
}

}  // namespace
