// The array loops of rounded_divsqrt_lanes.h over one instruction set's vectors, written once over
// Io: its lane type L, width, load, store and provenBits (the mask as bits, lane 0 lowest).
// Included by files built with that set's flags, after its rounded_divsqrt header.
#pragma once

namespace {

template <class Io>
struct LaneLoops {
    using R = RoundedDivSqrt<typename Io::L>;
    static constexpr std::size_t W = Io::width;

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
    static void hardwareSqrt(const double* x, double* s, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) Io::store(s + i, Io::hardwareSqrt(Io::load(x + i)));
    }

    static DivSqrtLanes table() {
        return DivSqrtLanes{W,          divide,         divide2,        sqrt,
                            divideFrom, divide2From,    sqrtFrom,       quotientCandidates,
                            rootCandidates, provenQuotient, provenRoot, hardwareDivide,
                            hardwareSqrt};
    }
};

}  // namespace
