// The loops of rounded_divsqrt_lanes.h over one instruction set's vectors, written once over Io:
// its lane type L and width, loads and stores, provenBits (the mask as bits, lane 0 lowest), the
// instructions themselves, and the 64-bit integer lanes the sweep draws operands in. Included by
// files built with that set's flags, after its rounded_divsqrt header.
#pragma once

namespace {

template <class Io>
struct LaneLoops {
    using L = typename Io::L;
    using Vec = typename L::Vec;
    using Int = typename Io::Int;
    using R = RoundedDivSqrt<L>;
    static constexpr std::size_t W = Io::width;
    static constexpr unsigned ALL = (1U << W) - 1;

    static void storeProven(unsigned char* out, typename Io::L::Mask m) {
        const unsigned bits = Io::provenBits(m);
        for (std::size_t k = 0; k < W; ++k) out[k] = static_cast<unsigned char>((bits >> k) & 1U);
    }
    static void divide(const double* a, const double* b, double* q, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) Io::store(q + i, roundedDivide(Io::load(a + i), Io::load(b + i)));
    }
    static void divide2(const double* a1, const double* a2, const double* b, double* q1, double* q2, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) {
            const auto q = roundedDivide2(Io::load(a1 + i), Io::load(a2 + i), Io::load(b + i));
            Io::store(q1 + i, q.first);
            Io::store(q2 + i, q.second);
        }
    }
    static void sqrt(const double* x, double* s, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) Io::store(s + i, roundedSqrt(Io::load(x + i)));
    }
    static void divideFrom(const double* a, const double* b, const double* estimate, double* q, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W)
            Io::store(q + i, R::divide(Io::load(a + i), Io::load(b + i), Io::load(estimate + i)));
    }
    static void divide2From(const double* a1, const double* a2, const double* b, const double* estimate, double* q1,
                            double* q2, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) {
            const auto q = R::divide2(Io::load(a1 + i), Io::load(a2 + i), Io::load(b + i), Io::load(estimate + i));
            Io::store(q1 + i, q.first);
            Io::store(q2 + i, q.second);
        }
    }
    static void sqrtFrom(const double* x, const double* estimate, double* s, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) Io::store(s + i, R::sqrt(Io::load(x + i), Io::load(estimate + i)));
    }
    static void quotientCandidates(const double* a, const double* b, double* q, unsigned char* proven, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) {
            const auto vb = Io::load(b + i);
            const auto c = R::quotient(Io::load(a + i), vb, R::refinedReciprocal(vb, Io::L::reciprocalEstimate(vb)));
            Io::store(q + i, c.value);
            storeProven(proven + i, c.proven);
        }
    }
    static void rootCandidates(const double* x, double* s, unsigned char* proven, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) {
            const auto vx = Io::load(x + i);
            const auto c = R::root(vx, Io::L::inverseRootEstimate(vx));
            Io::store(s + i, c.value);
            storeProven(proven + i, c.proven);
        }
    }
    static void provenQuotient(const double* a, const double* b, const double* q, unsigned char* proven,
                               std::size_t n) {
        for (std::size_t i = 0; i < n; i += W)
            storeProven(proven + i, R::provenQuotient(Io::load(a + i), Io::load(b + i), Io::load(q + i)));
    }
    static void provenRoot(const double* x, const double* s, unsigned char* proven, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) storeProven(proven + i, R::provenRoot(Io::load(x + i), Io::load(s + i)));
    }
    static void hardwareDivide(const double* a, const double* b, double* q, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) Io::store(q + i, Io::hardwareDivide(Io::load(a + i), Io::load(b + i)));
    }
    static void hardwareDivide2(const double* a1, const double* a2, const double* b, double* q1, double* q2,
                                std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) {
            const Vec vb = Io::load(b + i);
            Io::store(q1 + i, Io::hardwareDivide(Io::load(a1 + i), vb));
            Io::store(q2 + i, Io::hardwareDivide(Io::load(a2 + i), vb));
        }
    }
    static void hardwareSqrt(const double* x, double* s, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) Io::store(s + i, Io::hardwareSqrt(Io::load(x + i)));
    }

    static double sum(Vec v) {
        double lanes[W];
        Io::store(lanes, v);
        double total = 0;
        for (double d : lanes) total += d;
        return total;
    }
    template <bool BUILT>
    static double divideChain(const double* a, std::size_t n) {
        Vec q = L::broadcast(1.0);
        for (std::size_t i = 0; i < n; i += W) {
            const Vec va = Io::load(a + i);
            q = BUILT ? roundedDivide(va, q) : Io::hardwareDivide(va, q);
        }
        return sum(q);
    }
    template <bool BUILT>
    static double divide2Chain(const double* a1, const double* a2, std::size_t n) {
        Vec b = L::broadcast(1.0);
        Vec other = L::broadcast(0.0);
        for (std::size_t i = 0; i < n; i += W) {
            const Vec v1 = Io::load(a1 + i);
            const Vec v2 = Io::load(a2 + i);
            if constexpr (BUILT) {
                const auto q = roundedDivide2(v1, v2, b);
                b = q.first;
                other = q.second;
            } else {
                other = Io::hardwareDivide(v2, b);
                b = Io::hardwareDivide(v1, b);
            }
        }
        return sum(b) + sum(other);
    }
    template <bool BUILT>
    static double sqrtChain(const double* x, std::size_t n) {
        Vec s = L::broadcast(1.0);
        for (std::size_t i = 0; i < n; i += W) {
            const Vec v = Io::add(s, Io::load(x + i));
            s = BUILT ? roundedSqrt(v) : Io::hardwareSqrt(v);
        }
        return sum(s);
    }

    // xorshift128+ in every 64-bit lane, each lane seeded on its own.
    struct Random {
        Int s0;
        Int s1;
        Int next() {
            Int x = s0;
            const Int y = s1;
            s0 = y;
            x = Io::bitXor(x, Io::template shiftLeft<23>(x));
            s1 = Io::bitXor(Io::bitXor(x, y), Io::bitXor(Io::template shiftRight<17>(x), Io::template shiftRight<26>(y)));
            return Io::add64(s1, y);
        }
    };
    static Random seeded(uint64_t seed) {
        uint64_t lanes[2][W];
        for (auto& half : lanes)
            for (uint64_t& v : half) {
                // splitmix64
                seed += 0x9E3779B97F4A7C15ULL;
                uint64_t z = seed;
                z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
                z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
                v = z ^ (z >> 31);
            }
        return Random{Io::loadInt(lanes[0]), Io::loadInt(lanes[1])};
    }

    // Draws from one OperandRange: significand and sign from one number, the exponent from the
    // top 32 bits of another scaled to the span.
    struct Draw {
        bool anyBits;
        Int sign;
        Int significand;
        Int span;
        Int base;
        explicit Draw(const OperandRange& r)
            : anyBits(r.anyBits),
              sign(Io::set1(r.anySign ? static_cast<long long>(0x8000000000000000ULL) : 0)),
              significand(Io::set1(0x000FFFFFFFFFFFFFLL)),
              span(Io::set1(r.high - r.low + 1)),
              base(Io::set1(r.low + 1023)) {}
        Vec operator()(Random& random) const {
            const Int bits = random.next();
            if (anyBits) return Io::toVec(bits);
            const Int exponent =
                Io::add64(base, Io::template shiftRight<32>(Io::multiply32(Io::template shiftRight<32>(random.next()), span)));
            return Io::toVec(Io::bitOr(Io::bitOr(Io::bitAnd(bits, sign), Io::bitAnd(bits, significand)),
                                       Io::template shiftLeft<52>(exponent)));
        }
    };

    // Counts one vector of results against the instruction's; proven are the test's lanes.
    static void count(SweepCount& c, unsigned proven, Vec got, Vec want, const Vec* operands, int operandCount) {
        c.results += W;
        c.fellBack += W - static_cast<unsigned>(__builtin_popcount(proven));
        const unsigned same = Io::sameBits(got, want);
        if (same == ALL) [[likely]]
            return;
        if (c.mismatches == 0) {
            const unsigned lane = static_cast<unsigned>(__builtin_ctz(~same & ALL));
            double lanes[W];
            for (int k = 0; k < operandCount; ++k) {
                Io::store(lanes, operands[k]);
                c.operands[k] = lanes[lane];
            }
            Io::store(lanes, got);
            c.got = lanes[lane];
            Io::store(lanes, want);
            c.want = lanes[lane];
        }
        c.mismatches += W - static_cast<unsigned>(__builtin_popcount(same));
    }

    static void sweepDivide(const Draw& first, const Draw& second, Random& random, uint64_t calls, SweepCount& c) {
        for (uint64_t k = 0; k < calls; ++k) {
            const Vec a = first(random);
            const Vec b = second(random);
            const auto candidate = R::quotient(a, b, R::refinedReciprocal(b, L::reciprocalEstimate(b)));
            const unsigned proven = Io::provenBits(candidate.proven);
            c.slowCalls += proven == ALL ? 0 : 1;
            const Vec operands[2] = {a, b};
            count(c, proven, roundedDivide(a, b), Io::hardwareDivide(a, b), operands, 2);
        }
    }
    static void sweepDivide2(const Draw& first, const Draw& second, Random& random, uint64_t calls, SweepCount& c) {
        for (uint64_t k = 0; k < calls; ++k) {
            const Vec a1 = first(random);
            const Vec a2 = first(random);
            const Vec b = second(random);
            const Vec y = R::refinedReciprocal(b, L::reciprocalEstimate(b));
            const unsigned proven1 = Io::provenBits(R::quotient(a1, b, y).proven);
            const unsigned proven2 = Io::provenBits(R::quotient(a2, b, y).proven);
            c.slowCalls += (proven1 & proven2) == ALL ? 0 : 1;
            const auto q = roundedDivide2(a1, a2, b);
            const Vec operands1[2] = {a1, b};
            const Vec operands2[3] = {a2, b, a1};
            count(c, proven1, q.first, Io::hardwareDivide(a1, b), operands1, 2);
            count(c, proven2, q.second, Io::hardwareDivide(a2, b), operands2, 3);
        }
    }
    static void sweepSqrt(const Draw& first, Random& random, uint64_t calls, SweepCount& c) {
        for (uint64_t k = 0; k < calls; ++k) {
            const Vec x = first(random);
            const unsigned proven = Io::provenBits(R::root(x, L::inverseRootEstimate(x)).proven);
            c.slowCalls += proven == ALL ? 0 : 1;
            count(c, proven, roundedSqrt(x), Io::hardwareSqrt(x), &x, 1);
        }
    }
    static void sweep(SweepOperation operation, OperandRange first, OperandRange second, uint64_t seed, uint64_t calls,
                      SweepCount& c) {
        Random random = seeded(seed);
        c.calls += calls;
        switch (operation) {
            case SweepOperation::Divide: sweepDivide(Draw(first), Draw(second), random, calls, c); break;
            case SweepOperation::Divide2: sweepDivide2(Draw(first), Draw(second), random, calls, c); break;
            case SweepOperation::Sqrt: sweepSqrt(Draw(first), random, calls, c); break;
        }
    }

    static DivSqrtLanes table() {
        return DivSqrtLanes{.width = W,
                            .divide = divide,
                            .divide2 = divide2,
                            .sqrt = sqrt,
                            .divideFrom = divideFrom,
                            .divide2From = divide2From,
                            .sqrtFrom = sqrtFrom,
                            .quotientCandidates = quotientCandidates,
                            .rootCandidates = rootCandidates,
                            .provenQuotient = provenQuotient,
                            .provenRoot = provenRoot,
                            .hardwareDivide = hardwareDivide,
                            .hardwareDivide2 = hardwareDivide2,
                            .hardwareSqrt = hardwareSqrt,
                            .divideChainHardware = divideChain<false>,
                            .divideChainBuilt = divideChain<true>,
                            .divide2ChainHardware = divide2Chain<false>,
                            .divide2ChainBuilt = divide2Chain<true>,
                            .sqrtChainHardware = sqrtChain<false>,
                            .sqrtChainBuilt = sqrtChain<true>,
                            .sweep = sweep};
    }
};

}  // namespace
