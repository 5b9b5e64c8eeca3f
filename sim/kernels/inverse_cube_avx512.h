// 1/(x * sqrt(x)) on 8 lanes for files built with -mavx512f -mfma (inverse_cube_body.h): the
// estimate is vrsqrt14pd, relative error below 2^-14 for every positive normal x, so that
// |e| < 2^-12.6 and four terms of the series suffice. Internal linkage, as rounded_divsqrt_avx512.h.
#pragma once

#include <immintrin.h>

#include "inverse_cube_body.h"
#include "rounded_divsqrt_avx512.h"

namespace {

struct Avx512CubeLanes : Avx512Lanes {
    static constexpr int DEGREE = 4;
    // |result - x^(-3/2)| in ulps where trusted: 1/2 for the last rounding, 0.0028 for the rest.
    static constexpr double BOUND_ULPS = 0.503;
    // Where y^3 and the result are normal doubles, and y^3 e, where it falls below them, rounds off
    // a negligible part of an ulp of the result: x in [2^-680, 2^660].
    static constexpr long long LOWEST = 0x1570000000000000LL;  // 2^-680
    static constexpr long long HIGHEST = 0x6930000000000000LL;  // 2^660

    static Vec estimate(Vec x) { return inverseRootEstimate(x); }
    // x in range, as bits: one unsigned comparison also turns away 0, negatives and NaNs.
    static Mask trusted(Vec x, Vec) {
        const __m512i offset = _mm512_sub_epi64(_mm512_castpd_si512(x), _mm512_set1_epi64(LOWEST));
        return _mm512_cmp_epu64_mask(offset, _mm512_set1_epi64(HIGHEST - LOWEST), _MM_CMPINT_LE);
    }
    static Vec keepOrDivide(Mask keep, Vec value, Vec x) {
        const Vec divided = _mm512_div_pd(broadcast(1.0), _mm512_mul_pd(x, _mm512_maskz_sqrt_pd(0xFF, x)));
        return _mm512_mask_blend_pd(keep, divided, value);
    }
};

using InverseCubeAvx512 = InverseCube<Avx512CubeLanes>;

}  // namespace
