// 1/(x * sqrt(x)) on 4 lanes for files built with -mavx2 -mfma (inverse_cube_body.h). AVX2 has no
// double estimate: the single-precision one (|relative error| <= 1.5 * 2^-12) of x rounded to
// float, which means nothing where that float is not normal. Rather than trust the documentation,
// each lane checks its own e: |e| <= E_MAX proves the estimate good enough for five terms of the
// series; y, a float's value, has a cube well inside the doubles. Internal linkage, as
// rounded_divsqrt_avx2.h.
#pragma once

#include <immintrin.h>

#include "inverse_cube_body.h"
#include "rounded_divsqrt_avx2.h"

namespace {

struct Avx2CubeLanes : Avx2Lanes {
    static constexpr int DEGREE = 5;
    // |result - x^(-3/2)| in ulps where trusted: 1/2 for the last rounding, 0.0102 for the rest.
    static constexpr double BOUND_ULPS = 0.5103;
    // Above 2|d| + d^2 for the worst estimate d the documentation allows, cut to 17 bits.
    static constexpr double E_MAX = 0x1.ap-11;

    static Vec estimate(Vec x) { return inverseRootEstimate(x); }
    // Not a number, infinite or any |e| above E_MAX fails.
    static Mask trusted(Vec, Vec e) { return _mm256_cmp_pd(abs(e), broadcast(E_MAX), _CMP_LE_OQ); }
    static Vec keepOrDivide(Mask keep, Vec value, Vec x) {
        const Vec divided = _mm256_div_pd(broadcast(1.0), _mm256_mul_pd(x, _mm256_sqrt_pd(x)));
        return _mm256_blendv_pd(divided, value, keep);
    }
};

using InverseCubeAvx2 = InverseCube<Avx2CubeLanes>;

}  // namespace
