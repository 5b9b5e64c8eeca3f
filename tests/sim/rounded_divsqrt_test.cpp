// The rounded division and square root (sim/rounded_divsqrt_*.h) against the instructions they
// stand in for: the same bits in every lane on random operands, on quotients and roots next to a
// midpoint or a power of two, at the edges of the range the sequences cover and beyond it, and with
// estimates of any quality; and their tests never proving a wrong candidate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "instruction_sets.h"
#include "lane_operands.h"
#include "rounded_divsqrt_lanes.h"
#include "step_tables.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define DIVSQRT_X86 1
#include <xmmintrin.h>
#endif

namespace {

using namespace operands;

// Any 64 bits: every exponent field, subnormals, infinities and NaNs among them.
Doubles anyBits(Rng& rng, std::size_t n) {
    Doubles v(n);
    for (double& d : v) d = fromBits(rng());
    return v;
}

double nextUp(double v) { return std::nextafter(v, std::numeric_limits<double>::infinity()); }
double nextDown(double v) { return std::nextafter(v, -std::numeric_limits<double>::infinity()); }

// Operands at the edges: zeros, subnormals, the normal range's ends, where the single-precision
// estimates stop, the largest doubles, infinities and NaNs, with both signs.
Doubles edgeValues() {
    const double inf = std::numeric_limits<double>::infinity();
    const Doubles positive = {0.0,
                              std::numeric_limits<double>::denorm_min(),
                              0x1p-1060,
                              nextDown(0x1p-1022),
                              0x1p-1022,
                              nextUp(0x1p-1022),
                              0x1p-1021,
                              nextDown(0x1p-969),
                              0x1p-969,
                              0x1p-600,
                              0x1p-150,
                              0x1p-149,
                              nextDown(0x1p-126),
                              0x1p-126,
                              nextUp(0x1p-126),
                              0x1p-53,
                              0.1,
                              nextDown(1.0),
                              1.0,
                              nextUp(1.0),
                              4.0 / 3.0,
                              2.0,
                              3.0,
                              0x1.fffffffffffffp+0,
                              0x1p+53,
                              0x1p+127,
                              static_cast<double>(std::numeric_limits<float>::max()),
                              nextUp(static_cast<double>(std::numeric_limits<float>::max())),
                              0x1.ffffffefffffffp+127,
                              0x1.fffffff0000001p+127,
                              nextDown(0x1p+128),
                              0x1p+128,
                              0x1p+600,
                              0x1p+1023,
                              nextDown(std::numeric_limits<double>::max()),
                              std::numeric_limits<double>::max(),
                              inf,
                              std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::signaling_NaN(),
                              fromBits(0x7FF800000000BEEFULL)};
    Doubles all = positive;
    for (double v : positive) all.push_back(-v);
    return all;
}

// Quotients and roots within a hair of the midpoint between two doubles, built from integers: an
// odd 54-bit N is the midpoint, and the operands put the exact result some delta * 2^-106 away from
// it relatively, on the side delta's sign says. The rounded result comes with them.
struct Case {
    double a;
    double b;
    double rounded;
};

struct Wide {
    uint64_t hi;
    uint64_t lo;
};
Wide product(uint64_t a, uint64_t b) {
    const uint64_t aLo = a & 0xFFFFFFFFU, aHi = a >> 32, bLo = b & 0xFFFFFFFFU, bHi = b >> 32;
    const uint64_t ll = aLo * bLo, lh = aLo * bHi, hl = aHi * bLo, hh = aHi * bHi;
    const uint64_t mid = (ll >> 32) + (lh & 0xFFFFFFFFU) + (hl & 0xFFFFFFFFU);
    return Wide{hh + (lh >> 32) + (hl >> 32) + (mid >> 32), (mid << 32) | (ll & 0xFFFFFFFFU)};
}
Wide minus(Wide w, int64_t d) {
    const uint64_t lo = w.lo - static_cast<uint64_t>(d);
    uint64_t hi = w.hi;
    if (d > 0 && lo > w.lo) --hi;
    if (d < 0 && lo < w.lo) ++hi;
    return Wide{hi, lo};
}
// w >> s and w mod 2^s, 0 < s < 64.
uint64_t shifted(Wide w, int s) { return (w.hi << (64 - s)) | (w.lo >> s); }
uint64_t below(Wide w, int s) { return w.lo & ((uint64_t{1} << s) - 1); }

uint64_t inverseModulo2to64(uint64_t odd) {
    uint64_t inverse = odd;  // right to 3 bits; each step doubles them
    for (int i = 0; i < 5; ++i) inverse *= 2 - odd * inverse;
    return inverse;
}

int64_t drawnDelta(Rng& rng, int64_t modulus, int64_t residue) {
    const int64_t k = std::uniform_int_distribution<int64_t>(-(int64_t{1} << 17), int64_t{1} << 17)(rng);
    return k * modulus + residue;
}

// A / B = N / 2^s - delta / (2^s B) for N = delta / B modulo 2^s: one numerator per delta, all
// with the divisor b. s is 54 where N * B reaches 2^106, else 53, so that A has 53 bits.
struct Exponents {
    int aLow, aHigh, bLow, bHigh;
};
std::vector<Case> hardQuotients(Rng& rng, std::size_t divisors, std::size_t perDivisor, Exponents range) {
    std::vector<Case> cases;
    std::uniform_int_distribution<int> aExponent(range.aLow, range.aHigh), bExponent(range.bLow, range.bHigh);
    while (cases.size() < divisors * perDivisor) {
        const uint64_t bInteger = (uint64_t{1} << 52) | (rng() & SIGNIFICAND) | 1;
        const uint64_t inverse = inverseModulo2to64(bInteger);
        const double b = std::ldexp(static_cast<double>(bInteger), bExponent(rng) - 52) * ((rng() & 1) ? -1 : 1);
        for (std::size_t found = 0; found < perDivisor;) {
            const int64_t delta = drawnDelta(rng, 2, 1);
            const int s = (rng() & 1) != 0 ? 54 : 53;
            const uint64_t residue = (static_cast<uint64_t>(delta) * inverse) & ((uint64_t{1} << s) - 1);
            const uint64_t n = residue | (uint64_t{1} << 53);
            const Wide numerator = minus(product(n, bInteger), delta);
            const uint64_t aInteger = shifted(numerator, s);
            if (below(numerator, s) != 0 || aInteger < uint64_t{1} << 52 || aInteger >= uint64_t{1} << 53) continue;
            const int ea = aExponent(rng);
            const double a = std::ldexp(static_cast<double>(aInteger), ea - 52) * ((rng() & 1) ? -1 : 1);
            const int eb = std::ilogb(b);
            const double magnitude = std::ldexp(static_cast<double>(delta > 0 ? n - 1 : n + 1), ea - eb - s);
            cases.push_back(Case{a, b, std::signbit(a) != std::signbit(b) ? -magnitude : magnitude});
            ++found;
        }
    }
    return cases;
}

// sqrt(N^2 - delta) for N^2 = delta modulo 2^s (s = 54 or 55, delta = 1 modulo 8), scaled by 4^E.
std::vector<Case> hardRoots(Rng& rng, std::size_t count, int exponentRange) {
    std::vector<Case> cases;
    std::uniform_int_distribution<int> exponent(-exponentRange, exponentRange);
    while (cases.size() < count) {
        const int64_t delta = drawnDelta(rng, 8, 1);
        // r^2 = delta modulo 2^56, lifted one bit at a time.
        uint64_t r = 1;
        for (int k = 3; k < 56; ++k)
            if (((r * r - static_cast<uint64_t>(delta)) >> k) & 1) r += uint64_t{1} << (k - 1);
        const uint64_t low53 = (uint64_t{1} << 53) - 1;
        const uint64_t low54 = (uint64_t{1} << 54) - 1;
        const uint64_t candidates[4] = {(r & low53) | (uint64_t{1} << 53), ((0 - r) & low53) | (uint64_t{1} << 53),
                                        r & low54, (0 - r) & low54};
        const uint64_t n = candidates[rng() & 3];
        const int s = (rng() & 2) != 0 ? 55 : 54;
        if (n < uint64_t{1} << 53) continue;
        const Wide square = minus(product(n, n), delta);
        const uint64_t xInteger = shifted(square, s);
        if (below(square, s) != 0 || xInteger < uint64_t{1} << 52 || xInteger >= uint64_t{1} << 53) continue;
        const int e = exponent(rng);
        const double x = std::ldexp(static_cast<double>(xInteger), s - 108 + 2 * e);
        cases.push_back(Case{x, 0, std::ldexp(static_cast<double>(delta > 0 ? n - 1 : n + 1), e - 54)});
    }
    return cases;
}

// Quotients at and next to powers of two, operands with all-ones significands.
struct Operands {
    Doubles a;
    Doubles b;
};
Operands binadeQuotients(Rng& rng) {
    Operands o;
    const Doubles significands = {1.0, nextUp(1.0), 1.5, nextDown(2.0), 1.0 + 0x1p-26, drawn(rng, 0, 0, false),
                                  drawn(rng, 0, 0, false)};
    for (double sb : significands) {
        for (int eb : {-100, -1, 0, 1, 77}) {
            const double b = std::ldexp(sb, eb);
            for (int k : {-60, -1, 0, 1, 3, 90}) {
                const double exact = std::ldexp(b, k);
                const double next = nextUp(exact), previous = nextDown(exact);
                for (double a : {nextDown(previous), previous, exact, next, nextUp(next)}) {
                    o.a.push_back(a);
                    o.b.push_back(b);
                    o.a.push_back(-a);
                    o.b.push_back(b);
                }
            }
            for (double sa : significands) {
                o.a.push_back(std::ldexp(sa, eb + 5));
                o.b.push_back(b);
            }
        }
    }
    return o;
}
Doubles binadeRadicands() {
    Doubles x;
    for (int e : {-124, -61, -2, -1, 0, 1, 2, 37, 126}) {
        for (double m : {1.0, 2.0}) {
            const double v = std::ldexp(m, 2 * e);
            for (double w : {nextDown(nextDown(v)), nextDown(v), v, nextUp(v), nextUp(nextUp(v))}) x.push_back(w);
        }
        x.push_back(std::ldexp(nextDown(2.0), 2 * e));
        x.push_back(std::ldexp(nextDown(2.0), 2 * e + 1));
    }
    return x;
}

class RoundedDivSqrt : public testing::TestWithParam<Isa> {
protected:
    void SetUp() override {
        if (const char* why = whyNotRunnable(GetParam())) GTEST_SKIP() << why;
        lanes = GetParam() == Isa::Avx512 ? divSqrtLanesAvx512() : divSqrtLanesAvx2();
        if (lanes.width == 0) GTEST_SKIP() << "this build has no code for this instruction set";
    }

    // Up to a whole number of vectors, with operands that take the fast path.
    Doubles padded(Doubles v) const {
        while (v.size() % lanes.width != 0) v.push_back(1.0);
        return v;
    }

    Doubles hardwareQuotients(const Doubles& a, const Doubles& b) const {
        Doubles q(a.size());
        lanes.hardwareDivide(a.data(), b.data(), q.data(), q.size());
        return q;
    }
    Doubles hardwareRoots(const Doubles& x) const {
        Doubles s(x.size());
        lanes.hardwareSqrt(x.data(), s.data(), s.size());
        return s;
    }

    // The lanes whose bits differ, the first few described.
    template <class Describe>
    static void expectSameBits(const char* what, const Doubles& got, const Doubles& want, Describe describe) {
        std::size_t wrong = 0;
        std::string first;
        for (std::size_t i = 0; i < got.size(); ++i) {
            if (bitsOf(got[i]) == bitsOf(want[i])) continue;
            if (++wrong <= 5) first += "\n  " + describe(i) + ": got " + show(got[i]) + ", want " + show(want[i]);
        }
        EXPECT_EQ(wrong, 0U) << what << " differs from the instruction in " << wrong << " of " << got.size()
                             << " lanes:" << first;
    }

    // a / b alone and a / b, a2 / b with one divisor, against vdivpd; estimate, where given,
    // replaces the processor's.
    void expectDivisionsMatch(Doubles a, Doubles a2, Doubles b, const Doubles* estimate = nullptr) const {
        a = padded(a);
        a2 = padded(a2);
        b = padded(b);
        const Doubles want = hardwareQuotients(a, b);
        const Doubles want2 = hardwareQuotients(a2, b);
        Doubles q(a.size()), q1(a.size()), q2(a.size());
        if (estimate != nullptr) {
            const Doubles e = padded(*estimate);
            lanes.divideFrom(a.data(), b.data(), e.data(), q.data(), q.size());
            lanes.divide2From(a.data(), a2.data(), b.data(), e.data(), q1.data(), q2.data(), q.size());
        } else {
            lanes.divide(a.data(), b.data(), q.data(), q.size());
            lanes.divide2(a.data(), a2.data(), b.data(), q1.data(), q2.data(), q.size());
        }
        const auto describe = [&](std::size_t i) { return show(a[i]) + " / " + show(b[i]); };
        const auto describe2 = [&](std::size_t i) { return show(a2[i]) + " / " + show(b[i]); };
        expectSameBits("a / b", q, want, describe);
        expectSameBits("first of two quotients", q1, want, describe);
        expectSameBits("second of two quotients", q2, want2, describe2);
    }

    void expectRootsMatch(Doubles x, const Doubles* estimate = nullptr) const {
        x = padded(x);
        const Doubles want = hardwareRoots(x);
        Doubles s(x.size());
        if (estimate != nullptr) {
            const Doubles e = padded(*estimate);
            lanes.sqrtFrom(x.data(), e.data(), s.data(), s.size());
        } else {
            lanes.sqrt(x.data(), s.data(), s.size());
        }
        expectSameBits("sqrt", s, want, [&](std::size_t i) { return "sqrt " + show(x[i]); });
    }

    // Every candidate but the instruction's own result must fail the tests.
    void expectOnlyTheRoundedQuotientProven(Doubles a, Doubles b, Rng& rng) const {
        a = padded(a);
        b = padded(b);
        const Doubles want = hardwareQuotients(a, b);
        Doubles ca, cb, candidate;
        for (std::size_t i = 0; i < a.size(); ++i) {
            for (double c : wrongCandidates(want[i], rng)) {
                ca.push_back(a[i]);
                cb.push_back(b[i]);
                candidate.push_back(c);
            }
        }
        ca = padded(ca);
        cb = padded(cb);
        candidate = padded(candidate);
        std::vector<unsigned char> proven(candidate.size());
        lanes.provenQuotient(ca.data(), cb.data(), candidate.data(), proven.data(), proven.size());
        const Doubles truth = hardwareQuotients(ca, cb);
        std::size_t wrong = 0;
        std::string first;
        for (std::size_t i = 0; i < candidate.size(); ++i) {
            if (proven[i] == 0 || bitsOf(candidate[i]) == bitsOf(truth[i])) continue;
            if (++wrong <= 5) first += "\n  " + show(ca[i]) + " / " + show(cb[i]) + " proven as " + show(candidate[i]);
        }
        EXPECT_EQ(wrong, 0U) << "wrong quotients proven:" << first;
    }
    void expectOnlyTheRoundedRootProven(Doubles x, Rng& rng) const {
        x = padded(x);
        const Doubles want = hardwareRoots(x);
        Doubles cx, candidate;
        for (std::size_t i = 0; i < x.size(); ++i) {
            for (double c : wrongCandidates(want[i], rng)) {
                cx.push_back(x[i]);
                candidate.push_back(c);
            }
        }
        cx = padded(cx);
        candidate = padded(candidate);
        std::vector<unsigned char> proven(candidate.size());
        lanes.provenRoot(cx.data(), candidate.data(), proven.data(), proven.size());
        const Doubles truth = hardwareRoots(cx);
        std::size_t wrong = 0;
        std::string first;
        for (std::size_t i = 0; i < candidate.size(); ++i) {
            if (proven[i] == 0 || bitsOf(candidate[i]) == bitsOf(truth[i])) continue;
            if (++wrong <= 5) first += "\n  sqrt " + show(cx[i]) + " proven as " + show(candidate[i]);
        }
        EXPECT_EQ(wrong, 0U) << "wrong roots proven:" << first;
    }

    // The neighbours of the right result a few ulps either way, further off, of the other sign,
    // zeros, infinities, NaN and any bits.
    static Doubles wrongCandidates(double right, Rng& rng) {
        const double inf = std::numeric_limits<double>::infinity();
        Doubles c;
        double up = right, down = right;
        for (int k = 0; k < 3; ++k) {
            up = nextUp(up);
            down = nextDown(down);
            c.push_back(up);
            c.push_back(down);
        }
        const uint64_t bits = bitsOf(right);
        for (uint64_t step : {uint64_t{1} << 20, uint64_t{1} << 51, uint64_t{1} << 52}) {
            c.push_back(fromBits(bits + step));
            c.push_back(fromBits(bits - step));
        }
        for (double v : {-right, 2 * right, right / 2, right * (1 + 0x1p-30), 0.0, -0.0, inf, -inf,
                         std::numeric_limits<double>::quiet_NaN(), fromBits(rng())})
            c.push_back(v);
        Doubles wrong;
        for (double v : c)
            if (bitsOf(v) != bits) wrong.push_back(v);
        return wrong;
    }

    DivSqrtLanes lanes{};
};

INSTANTIATE_TEST_SUITE_P(InstructionSets, RoundedDivSqrt, testing::Values(Isa::Avx2, Isa::Avx512), isaName);

TEST_P(RoundedDivSqrt, SameBitsOnRandomOperands) {
    Rng rng(11);
    const std::size_t n = 65536 * SCALE;
    // Where the estimates work, over the whole normal range, and any bits at all.
    expectDivisionsMatch(drawnMany(rng, n, -300, 300, true), drawnMany(rng, n, -300, 300, true),
                         drawnMany(rng, n, -120, 120, true));
    expectRootsMatch(drawnMany(rng, n, -120, 120, false));
    expectDivisionsMatch(drawnMany(rng, n / 4, -1022, 1023, true), drawnMany(rng, n / 4, -1022, 1023, true),
                         drawnMany(rng, n / 4, -1022, 1023, true));
    expectRootsMatch(drawnMany(rng, n / 4, -1022, 1023, true));
    expectDivisionsMatch(anyBits(rng, n / 4), anyBits(rng, n / 4), anyBits(rng, n / 4));
    expectRootsMatch(anyBits(rng, n / 4));
}

// Lanes the estimates cover should almost never need the instruction (a slip in the refinement
// would send most of them there and still give the right bits): AVX2's single-precision estimates
// cover divisors in [2^-126, 2^126) and radicands in [2^-126, 2^128), AVX-512's nearly every normal.
// The tests prove nothing where a numerator is infinite or a bound 2^(e-53) |b| falls below
// 2^-1022 (numerators under about 2^-968): such lanes take the instruction by design on every
// level, so the operands here keep numerators, quotients and bounds normal.
TEST_P(RoundedDivSqrt, FastPathProvesNearlyEveryLaneInRange) {
    Rng rng(12);
    const std::size_t n = 16384 * SCALE;
    const bool wide = GetParam() == Isa::Avx512;
    std::uniform_int_distribution<int> divisorExponent(wide ? -1000 : -126, wide ? 1000 : 125);
    Doubles a(n), b(n);
    for (std::size_t i = 0; i < n; ++i) {
        const int eb = divisorExponent(rng);
        b[i] = drawn(rng, eb, eb, true);
        // Quotients within 2^+-51, numerators in [2^-968, 2^1024).
        a[i] = drawn(rng, std::max(eb - 50, -968), std::min(eb + 50, 1023), true);
    }
    const Doubles x = drawnMany(rng, n, wide ? -960 : -126, wide ? 1000 : 127, false);

    // The operands are what the comment above says: every quotient and root and its bound normal.
    const Doubles q = hardwareQuotients(a, b);
    const Doubles s = hardwareRoots(x);
    std::size_t outside = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double quotientBound = std::ldexp(1.0, std::ilogb(q[i]) - 53) * std::fabs(b[i]);
        const double rootBound = std::ldexp(1.0, std::ilogb(s[i]) - 52) * s[i];
        if (!std::isnormal(q[i]) || !std::isnormal(a[i]) || !std::isnormal(quotientBound) ||
            !std::isnormal(rootBound))
            ++outside;
    }
    ASSERT_EQ(outside, 0U) << "operands outside the range this test is about";

    Doubles value(n);
    std::vector<unsigned char> proven(n);
    const auto expectFew = [&](const char* what, const auto& describe) {
        std::size_t missed = 0;
        std::string first;
        for (std::size_t i = 0; i < n; ++i) {
            if (proven[i] != 0) continue;
            if (++missed <= 5) first += "\n  " + describe(i);
        }
        EXPECT_LT(static_cast<double>(missed), 1e-3 * static_cast<double>(n))
            << what << " the fast path left to the instruction:" << first;
        RecordProperty(std::string(what) + "Missed", std::to_string(missed));
    };
    lanes.quotientCandidates(a.data(), b.data(), value.data(), proven.data(), n);
    expectFew("quotients", [&](std::size_t i) { return show(a[i]) + " / " + show(b[i]); });
    lanes.rootCandidates(x.data(), value.data(), proven.data(), n);
    expectFew("roots", [&](std::size_t i) { return "sqrt " + show(x[i]); });
}

// Away from the bottom of the range the tests are exact for quotients: every correctly rounded one
// passes; roots fail only where the result is a power of two.
TEST_P(RoundedDivSqrt, TestsProveTheRoundedResults) {
    Rng rng(13);
    const std::size_t n = 16384 * SCALE;
    const Doubles a = drawnMany(rng, n, -300, 300, true);
    const Doubles b = drawnMany(rng, n, -300, 300, true);
    const Doubles x = drawnMany(rng, n, -900, 900, false);
    const Doubles q = hardwareQuotients(a, b);
    const Doubles s = hardwareRoots(x);
    std::vector<unsigned char> proven(n);
    lanes.provenQuotient(a.data(), b.data(), q.data(), proven.data(), n);
    std::size_t failed = 0;
    for (std::size_t i = 0; i < n; ++i) failed += proven[i] == 0 ? 1 : 0;
    EXPECT_EQ(failed, 0U) << "rounded quotients not proven";
    lanes.provenRoot(x.data(), s.data(), proven.data(), n);
    failed = 0;
    for (std::size_t i = 0; i < n; ++i) failed += proven[i] == 0 && (bitsOf(s[i]) & SIGNIFICAND) != 0 ? 1 : 0;
    EXPECT_EQ(failed, 0U) << "rounded roots not proven";
}

TEST_P(RoundedDivSqrt, TestsNeverProveAWrongCandidate) {
    Rng rng(14);
    const std::size_t n = 1024 * SCALE;
    expectOnlyTheRoundedQuotientProven(drawnMany(rng, n, -300, 300, true), drawnMany(rng, n, -120, 120, true), rng);
    expectOnlyTheRoundedQuotientProven(drawnMany(rng, n, -1022, 1023, true), drawnMany(rng, n, -1022, 1023, true), rng);
    expectOnlyTheRoundedQuotientProven(anyBits(rng, n), anyBits(rng, n), rng);
    expectOnlyTheRoundedRootProven(drawnMany(rng, n, -1022, 1023, false), rng);
    expectOnlyTheRoundedRootProven(anyBits(rng, n), rng);

    const Doubles edges = edgeValues();
    Doubles a, b;
    for (double u : edges)
        for (double v : edges) {
            a.push_back(u);
            b.push_back(v);
        }
    expectOnlyTheRoundedQuotientProven(a, b, rng);
    expectOnlyTheRoundedRootProven(edges, rng);

    Doubles ha, hb, hx;
    // Also tiny quotients whose bound is subnormal, and quotients next to overflow.
    for (const Exponents range : {Exponents{-300, 300, -300, 300}, Exponents{-990, -960, 0, 40},
                                  Exponents{990, 1023, -40, 0}})
        for (const Case& c : hardQuotients(rng, 256, 2, range)) {
            ha.push_back(c.a);
            hb.push_back(c.b);
        }
    for (const Case& c : hardRoots(rng, 512, 300)) hx.push_back(c.a);
    expectOnlyTheRoundedQuotientProven(ha, hb, rng);
    expectOnlyTheRoundedRootProven(hx, rng);

    const Operands binade = binadeQuotients(rng);
    expectOnlyTheRoundedQuotientProven(binade.a, binade.b, rng);
    expectOnlyTheRoundedRootProven(binadeRadicands(), rng);
}

TEST_P(RoundedDivSqrt, QuotientsAndRootsNextToMidpoints) {
    Rng rng(15);
    // Two numerators per divisor, so that both quotients of the shared divisor are hard.
    const std::vector<Case> quotients = hardQuotients(rng, 2048 * SCALE, 2, Exponents{-300, 300, -300, 300});
    Doubles a, a2, b;
    for (std::size_t i = 0; i < quotients.size(); i += 2) {
        a.push_back(quotients[i].a);
        a2.push_back(quotients[i + 1].a);
        b.push_back(quotients[i].b);
    }
    Doubles expected, expected2;
    for (std::size_t i = 0; i < quotients.size(); i += 2) {
        expected.push_back(quotients[i].rounded);
        expected2.push_back(quotients[i + 1].rounded);
    }
    // The cases are what they claim to be.
    expectSameBits("constructed quotient", hardwareQuotients(padded(a), padded(b)), padded(expected),
                   [&](std::size_t i) { return show(a[i]) + " / " + show(b[i]); });
    expectSameBits("constructed quotient", hardwareQuotients(padded(a2), padded(b)), padded(expected2),
                   [&](std::size_t i) { return show(a2[i]) + " / " + show(b[i]); });
    expectDivisionsMatch(a, a2, b);

    const std::vector<Case> roots = hardRoots(rng, 4096 * SCALE, 500);
    Doubles x, rootsExpected;
    for (const Case& c : roots) {
        x.push_back(c.a);
        rootsExpected.push_back(c.rounded);
    }
    expectSameBits("constructed root", hardwareRoots(padded(x)), padded(rootsExpected),
                   [&](std::size_t i) { return "sqrt " + show(x[i]); });
    expectRootsMatch(x);
}

TEST_P(RoundedDivSqrt, PowersOfTwoAndAllOnesSignificands) {
    Rng rng(16);
    const Operands o = binadeQuotients(rng);
    Doubles a2 = o.a;
    for (double& v : a2) v = -v * 0.75;
    expectDivisionsMatch(o.a, a2, o.b);
    expectRootsMatch(binadeRadicands());
}

// Zeros, subnormals, the largest doubles, infinities and NaNs in every role, inside and beyond the
// range where the sequences work, each next to every other in the vector.
TEST_P(RoundedDivSqrt, EdgesOfTheRangeAndBeyond) {
    const Doubles edges = edgeValues();
    Doubles a, a2, b;
    for (std::size_t i = 0; i < edges.size(); ++i)
        for (std::size_t j = 0; j < edges.size(); ++j) {
            a.push_back(edges[i]);
            a2.push_back(edges[(i + j + 1) % edges.size()]);
            b.push_back(edges[j]);
        }
    expectDivisionsMatch(a, a2, b);
    expectRootsMatch(edges);
}

// One quotient of a shared divisor needs the instruction in one lane, the other in none, in each
// lane position and both ways round.
TEST_P(RoundedDivSqrt, SharedDivisorFallsBackPerQuotient) {
    Rng rng(17);
    const std::size_t w = lanes.width;
    Doubles a, a2, b;
    const double inf = std::numeric_limits<double>::infinity();
    for (double odd : {0.0, std::numeric_limits<double>::quiet_NaN(), inf, 0x1p-1070})
        for (std::size_t lane = 0; lane < w; ++lane)
            for (int which = 0; which < 2; ++which)
                for (std::size_t k = 0; k < w; ++k) {
                    double first = drawn(rng, -50, 50, true);
                    double second = drawn(rng, -50, 50, true);
                    if (k == lane) (which == 0 ? first : second) = odd;
                    a.push_back(first);
                    a2.push_back(second);
                    b.push_back(drawn(rng, -50, 50, true));
                }
    expectDivisionsMatch(a, a2, b);
}

// Estimates good, poor, of the wrong sign or no estimates at all: the results stay the instruction's.
TEST_P(RoundedDivSqrt, AnyEstimateGivesTheInstructionsBits) {
    Rng rng(18);
    const std::size_t n = 4096 * SCALE;
    Doubles a = drawnMany(rng, n, -300, 300, true);
    Doubles a2 = drawnMany(rng, n, -300, 300, true);
    Doubles b = drawnMany(rng, n, -300, 300, true);
    Doubles x = drawnMany(rng, n, -900, 900, false);
    for (double v : edgeValues()) {
        a.push_back(v);
        a2.push_back(-v);
        b.push_back(v);
        x.push_back(v);
    }
    const double inf = std::numeric_limits<double>::infinity();
    const auto estimates = [&](const Doubles& exact, auto kind) {
        Doubles e(exact.size());
        for (std::size_t i = 0; i < e.size(); ++i) e[i] = kind(exact[i]);
        return e;
    };
    Doubles reciprocal(b.size()), inverseRoot(x.size());
    for (std::size_t i = 0; i < b.size(); ++i) reciprocal[i] = 1.0 / b[i];
    for (std::size_t i = 0; i < x.size(); ++i) inverseRoot[i] = 1.0 / std::sqrt(x[i]);

    std::vector<std::pair<std::string, std::function<double(double)>>> kinds = {
        {"exact", [](double v) { return v; }},
        {"negated", [](double v) { return -v; }},
        {"doubled", [](double v) { return 2 * v; }},
        {"zero", [](double) { return 0.0; }},
        {"minus zero", [](double) { return -0.0; }},
        {"one", [](double) { return 1.0; }},
        {"infinite", [inf](double) { return inf; }},
        {"NaN", [](double) { return std::numeric_limits<double>::quiet_NaN(); }},
        {"subnormal", [](double) { return 0x1p-1050; }},
        {"any bits", [&rng](double) { return fromBits(rng()); }},
    };
    for (int bits : {3, 6, 9, 12, 14, 18, 24, 30, 40, 52})
        kinds.emplace_back("off by 2^-" + std::to_string(bits), [bits, &rng](double v) {
            return v * (1 + std::ldexp((rng() & 1) ? 1.0 : -1.0, -bits));
        });
    for (const auto& [name, kind] : kinds) {
        SCOPED_TRACE(name);
        const Doubles e = estimates(reciprocal, kind);
        expectDivisionsMatch(a, a2, b, &e);
        const Doubles g = estimates(inverseRoot, kind);
        expectRootsMatch(x, &g);
    }
}

#if defined(DIVSQRT_X86)
// With subnormals flushed to zero on input and output the instructions change, and so must every
// lane: the proven ones are far from subnormal, the others take the instruction.
TEST_P(RoundedDivSqrt, FlushingSubnormalsKeepsTheInstructionsBits) {
    Rng rng(19);
    const std::size_t n = 4096 * SCALE;
    const Doubles edges = edgeValues();
    Doubles a = anyBits(rng, n), a2 = anyBits(rng, n), b = anyBits(rng, n), x = anyBits(rng, n);
    std::uniform_int_distribution<int> bottom(-1080, -900);
    for (std::size_t i = 0; i < n; ++i) {
        // Subnormals and the bottom of the normal range, often.
        if (i % 3 == 0) a[i] = std::ldexp(drawn(rng, 0, 0, true), bottom(rng));
        if (i % 5 == 0) b[i] = std::ldexp(drawn(rng, 0, 0, true), bottom(rng));
        if (i % 7 == 0) x[i] = std::ldexp(drawn(rng, 0, 0, false), bottom(rng));
    }
    for (std::size_t i = 0; i < edges.size(); ++i)
        for (std::size_t j = 0; j < edges.size(); ++j) {
            a.push_back(edges[i]);
            a2.push_back(edges[j]);
            b.push_back(edges[(i + j) % edges.size()]);
        }
    x.insert(x.end(), edges.begin(), edges.end());
    const unsigned int saved = _mm_getcsr();
    _mm_setcsr(saved | 0x8040U);  // flush to zero, denormals are zero
    expectDivisionsMatch(a, a2, b);
    expectRootsMatch(x);
    _mm_setcsr(saved);
}
#endif

}  // namespace
