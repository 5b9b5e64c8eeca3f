// 1/(x * sqrt(x)) for the fast kernels, from the processor's estimate of 1/sqrt(x) refined with
// fused multiply-adds: no division and no square root. Written once over a lane type L
// (inverse_cube_avx2.h, inverse_cube_avx512.h), which supplies the estimate, the degree of the
// series, the lanes it trusts and the division and square root for the others.
//
// y, the estimate cut to 17 significant bits, makes y^2 and y^3 exact (34 and 51 bits). With
// e = 1 - x*y^2, one rounding of a number near 0, x^(-3/2) = y^3 (1 - e)^(-3/2)
// = y^3 (1 + 3/2 e + 15/8 e^2 + 35/16 e^3 + 315/128 e^4 + 693/256 e^5 + ...) = y^3 + y^3 e P(e),
// and the last step y^3 + (y^3 e) P(e) rounds once; y^3 e is formed beside P, not after it, which
// shortens the chain of dependent operations. In a trusted lane the result is within
// L::BOUND_ULPS of x^(-3/2) (0.503 ulp on AVX-512, 0.5103 on AVX2): the proof is in docs/engines.md.
#pragma once

namespace {

template <class L>
struct InverseCube {
    using Vec = typename L::Vec;
    using Mask = typename L::Mask;

    // A result and the lanes where the estimate gives it; the others must not be used.
    struct Checked {
        Vec value;
        Mask trusted;
    };

    // The coefficients of (1 - e)^(-3/2) - 1, from e^1 on: all exact in binary.
    static constexpr double SERIES[] = {3.0 / 2, 15.0 / 8, 35.0 / 16, 315.0 / 128, 693.0 / 256, 3003.0 / 1024};
    static_assert(L::DEGREE >= 1 && L::DEGREE <= 6);

    // Sign, exponent and the top 16 bits of the significand.
    static Vec seventeenBits(Vec v) { return L::andBits(v, L::bits(static_cast<long long>(0xFFFFFFF000000000ULL))); }

    static Checked fromEstimate(Vec x, Vec estimate) {
        const Vec y = seventeenBits(estimate);
        const Vec yy = L::mul(y, y);
        const Vec cube = L::mul(yy, y);
        const Vec e = L::fnmadd(x, yy, L::broadcast(1.0));
        Vec p = L::broadcast(SERIES[L::DEGREE - 1]);
        for (int k = L::DEGREE - 2; k >= 0; --k) p = L::fmadd(p, e, L::broadcast(SERIES[k]));
        return Checked{L::fmadd(L::mul(cube, e), p, cube), L::trusted(x, e)};
    }

    static Checked refine(Vec x) { return fromEstimate(x, L::estimate(x)); }

    // The trusted lanes' results, the others divided as 1 / (x * sqrt(x)).
    static Vec anyLanes(Vec x, Checked refined) { return L::keepOrDivide(refined.trusted, refined.value, x); }
};

}  // namespace
