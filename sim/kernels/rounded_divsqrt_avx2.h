// Correctly rounded a / b, (a1 / b, a2 / b) and sqrt(x) on 4 lanes, for files built with
// -mavx2 -mfma: the bits of _mm256_div_pd and _mm256_sqrt_pd in every lane (rounded_divsqrt_body.h).
// Everything here has internal linkage and the only include is <immintrin.h>, so no AVX2 code
// leaks into other files; include <immintrin.h> before opening a namespace around this header.
//
// AVX2 has no double estimates: the single-precision ones (12 bits) of the operand rounded to
// float, so the sequence proves nothing where that float or its estimate is not a normal float
// (|b| outside [2^-126, 2^126), x outside [2^-126, 2^128)), and those lanes take the instruction.
#pragma once

#include <immintrin.h>

#include "rounded_divsqrt_body.h"

namespace {

struct Avx2Lanes {
    using Vec = __m256d;
    using Mask = __m256d;

    static Vec broadcast(double v) { return _mm256_set1_pd(v); }
    static Vec bits(long long v) { return _mm256_castsi256_pd(_mm256_set1_epi64x(v)); }
    static Vec mul(Vec a, Vec b) { return _mm256_mul_pd(a, b); }
    static Vec fmadd(Vec a, Vec b, Vec c) { return _mm256_fmadd_pd(a, b, c); }
    static Vec fnmadd(Vec a, Vec b, Vec c) { return _mm256_fnmadd_pd(a, b, c); }
    static Vec andBits(Vec a, Vec b) { return _mm256_and_pd(a, b); }
    static Vec subtractBits(Vec a, Vec b) {
        return _mm256_castsi256_pd(_mm256_sub_epi64(_mm256_castpd_si256(a), _mm256_castpd_si256(b)));
    }
    static Vec abs(Vec a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
    static Mask less(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
    static Mask both(Mask a, Mask b) { return _mm256_and_pd(a, b); }
    static bool all(Mask m) { return _mm256_movemask_pd(m) == 0xF; }
    static Vec divideWhereNot(Mask keep, Vec value, Vec a, Vec b) {
        return _mm256_blendv_pd(_mm256_div_pd(a, b), value, keep);
    }
    static Vec sqrtWhereNot(Mask keep, Vec value, Vec x) { return _mm256_blendv_pd(_mm256_sqrt_pd(x), value, keep); }
    static Vec reciprocalEstimate(Vec b) { return _mm256_cvtps_pd(_mm_rcp_ps(_mm256_cvtpd_ps(b))); }
    static Vec inverseRootEstimate(Vec x) { return _mm256_cvtps_pd(_mm_rsqrt_ps(_mm256_cvtpd_ps(x))); }
};

using RoundedDivSqrtAvx2 = RoundedDivSqrt<Avx2Lanes>;

inline __m256d roundedDivide(__m256d a, __m256d b) {
    return RoundedDivSqrtAvx2::divide(a, b, Avx2Lanes::reciprocalEstimate(b));
}

// a1 / b and a2 / b.
inline RoundedDivSqrtAvx2::Quotients roundedDivide2(__m256d a1, __m256d a2, __m256d b) {
    return RoundedDivSqrtAvx2::divide2(a1, a2, b, Avx2Lanes::reciprocalEstimate(b));
}

inline __m256d roundedSqrt(__m256d x) { return RoundedDivSqrtAvx2::sqrt(x, Avx2Lanes::inverseRootEstimate(x)); }

}  // namespace
