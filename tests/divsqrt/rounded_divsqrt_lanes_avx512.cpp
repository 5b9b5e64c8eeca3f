// The AVX-512 entry points of rounded_divsqrt_lanes.h and inverse_cube_lanes.h, built with
// -mavx512f -mavx512dq -mfma for this file alone; like the step's kernels it includes nothing with
// external inline functions.
#include <cstddef>
#include <cstdint>

#include "inverse_cube_lanes.h"
#include "rounded_divsqrt_lanes.h"

#if defined(__AVX512F__) && defined(__FMA__)
#include <immintrin.h>

#include "inverse_cube_avx512.h"
#include "inverse_cube_lanes_body.h"
#include "rounded_divsqrt_avx512.h"
#include "rounded_divsqrt_lanes_body.h"

namespace {

// Masked forms where the plain intrinsic starts from an undefined register (GCC 12 warns).
struct Avx512Io {
    using CubeLanes = Avx512CubeLanes;
    using L = Avx512Lanes;
    using Int = __m512i;
    static constexpr std::size_t width = 8;
    static constexpr __mmask8 EVERY = 0xFF;
    static __m512d load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, __m512d v) { _mm512_storeu_pd(p, v); }
    static __m512d add(__m512d a, __m512d b) { return _mm512_add_pd(a, b); }
    static __m512d hardwareDivide(__m512d a, __m512d b) { return _mm512_div_pd(a, b); }
    static __m512d hardwareSqrt(__m512d x) { return _mm512_maskz_sqrt_pd(EVERY, x); }
    static unsigned provenBits(__mmask8 m) { return m; }
    static unsigned sameBits(__m512d a, __m512d b) {
        return _mm512_cmpeq_epi64_mask(_mm512_castpd_si512(a), _mm512_castpd_si512(b));
    }

    static Int loadInt(const uint64_t* p) { return _mm512_loadu_si512(p); }
    static Int set1(long long v) { return _mm512_set1_epi64(v); }
    static Int add64(Int a, Int b) { return _mm512_add_epi64(a, b); }
    static Int bitXor(Int a, Int b) { return _mm512_xor_si512(a, b); }
    static Int bitAnd(Int a, Int b) { return _mm512_and_si512(a, b); }
    static Int bitOr(Int a, Int b) { return _mm512_or_si512(a, b); }
    template <int K>
    static Int shiftLeft(Int a) {
        return _mm512_maskz_slli_epi64(EVERY, a, K);
    }
    template <int K>
    static Int shiftRight(Int a) {
        return _mm512_maskz_srli_epi64(EVERY, a, K);
    }
    static Int multiply32(Int a, Int b) { return _mm512_maskz_mul_epu32(EVERY, a, b); }
    static __m512d toVec(Int a) { return _mm512_castsi512_pd(a); }
};

}  // namespace

DivSqrtLanes divSqrtLanesAvx512() { return LaneLoops<Avx512Io>::table(); }
InverseCubeLanes inverseCubeLanesAvx512() { return CubeLoops<Avx512Io>::table(); }
#else
DivSqrtLanes divSqrtLanesAvx512() { return DivSqrtLanes{}; }
InverseCubeLanes inverseCubeLanesAvx512() { return InverseCubeLanes{}; }
#endif
