// Correctly rounded a / b, (a1 / b, a2 / b) and sqrt(x) on 8 lanes, for files built with
// -mavx512f -mfma: the bits of _mm512_div_pd and _mm512_sqrt_pd in every lane (rounded_divsqrt_body.h).
// Internal linkage and only <immintrin.h>, as in rounded_divsqrt_avx2.h.
//
// The 14-bit estimates cover the whole double range; lanes whose estimate is useless (subnormal or
// huge operands) fail the test and take the instruction. Masked forms where the plain intrinsic
// starts from an undefined register, which GCC 12 warns about.
#pragma once

#include <immintrin.h>

#include "rounded_divsqrt_body.h"

namespace {

struct Avx512Lanes {
    using Vec = __m512d;
    using Mask = __mmask8;

    static Vec broadcast(double v) { return _mm512_set1_pd(v); }
    static Vec bits(long long v) { return _mm512_castsi512_pd(_mm512_set1_epi64(v)); }
    static Vec mul(Vec a, Vec b) { return _mm512_mul_pd(a, b); }
    static Vec fmadd(Vec a, Vec b, Vec c) { return _mm512_fmadd_pd(a, b, c); }
    static Vec fnmadd(Vec a, Vec b, Vec c) { return _mm512_fnmadd_pd(a, b, c); }
    static Vec andBits(Vec a, Vec b) {
        return _mm512_castsi512_pd(_mm512_and_epi64(_mm512_castpd_si512(a), _mm512_castpd_si512(b)));
    }
    static Vec subtractBits(Vec a, Vec b) {
        return _mm512_castsi512_pd(_mm512_sub_epi64(_mm512_castpd_si512(a), _mm512_castpd_si512(b)));
    }
    static Vec abs(Vec a) { return _mm512_abs_pd(a); }
    static Mask less(Vec a, Vec b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
    static Mask both(Mask a, Mask b) { return static_cast<__mmask8>(a & b); }
    static bool all(Mask m) { return m == 0xFF; }
    static Vec divideWhereNot(Mask keep, Vec value, Vec a, Vec b) {
        return _mm512_mask_div_pd(value, static_cast<__mmask8>(~keep), a, b);
    }
    static Vec sqrtWhereNot(Mask keep, Vec value, Vec x) {
        return _mm512_mask_sqrt_pd(value, static_cast<__mmask8>(~keep), x);
    }
    static Vec reciprocalEstimate(Vec b) { return _mm512_maskz_rcp14_pd(static_cast<__mmask8>(0xFF), b); }
    static Vec inverseRootEstimate(Vec x) { return _mm512_maskz_rsqrt14_pd(static_cast<__mmask8>(0xFF), x); }
};

using RoundedDivSqrtAvx512 = RoundedDivSqrt<Avx512Lanes>;

inline __m512d roundedDivide(__m512d a, __m512d b) {
    return RoundedDivSqrtAvx512::divide(a, b, Avx512Lanes::reciprocalEstimate(b));
}

// a1 / b and a2 / b.
inline RoundedDivSqrtAvx512::Quotients roundedDivide2(__m512d a1, __m512d a2, __m512d b) {
    return RoundedDivSqrtAvx512::divide2(a1, a2, b, Avx512Lanes::reciprocalEstimate(b));
}

inline __m512d roundedSqrt(__m512d x) {
    return RoundedDivSqrtAvx512::sqrt(x, Avx512Lanes::inverseRootEstimate(x));
}

}  // namespace
