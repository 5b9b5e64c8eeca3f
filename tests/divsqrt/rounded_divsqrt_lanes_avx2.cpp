// The AVX2 entry points of rounded_divsqrt_lanes.h and inverse_cube_lanes.h, built with -mavx2
// -mfma for this file alone; like the step's kernels it includes nothing with external inline
// functions.
#include <cstddef>
#include <cstdint>

#include "inverse_cube_lanes.h"
#include "rounded_divsqrt_lanes.h"

#if defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>

#include "inverse_cube_avx2.h"
#include "inverse_cube_lanes_body.h"
#include "rounded_divsqrt_avx2.h"
#include "rounded_divsqrt_lanes_body.h"

namespace {

struct Avx2Io {
    using CubeLanes = Avx2CubeLanes;
    using L = Avx2Lanes;
    using Int = __m256i;
    static constexpr std::size_t width = 4;
    static __m256d load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, __m256d v) { _mm256_storeu_pd(p, v); }
    static __m256d add(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
    static __m256d hardwareDivide(__m256d a, __m256d b) { return _mm256_div_pd(a, b); }
    static __m256d hardwareSqrt(__m256d x) { return _mm256_sqrt_pd(x); }
    static unsigned provenBits(__m256d m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
    static unsigned sameBits(__m256d a, __m256d b) {
        const __m256i equal = _mm256_cmpeq_epi64(_mm256_castpd_si256(a), _mm256_castpd_si256(b));
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(equal)));
    }

    static Int loadInt(const uint64_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static Int set1(long long v) { return _mm256_set1_epi64x(v); }
    static Int add64(Int a, Int b) { return _mm256_add_epi64(a, b); }
    static Int bitXor(Int a, Int b) { return _mm256_xor_si256(a, b); }
    static Int bitAnd(Int a, Int b) { return _mm256_and_si256(a, b); }
    static Int bitOr(Int a, Int b) { return _mm256_or_si256(a, b); }
    template <int K>
    static Int shiftLeft(Int a) {
        return _mm256_slli_epi64(a, K);
    }
    template <int K>
    static Int shiftRight(Int a) {
        return _mm256_srli_epi64(a, K);
    }
    // Low 32 bits of each lane times low 32 bits, 64-bit products.
    static Int multiply32(Int a, Int b) { return _mm256_mul_epu32(a, b); }
    static __m256d toVec(Int a) { return _mm256_castsi256_pd(a); }
};

}  // namespace

DivSqrtLanes divSqrtLanesAvx2() { return LaneLoops<Avx2Io>::table(); }
InverseCubeLanes inverseCubeLanesAvx2() { return CubeLoops<Avx2Io>::table(); }
#else
DivSqrtLanes divSqrtLanesAvx2() { return DivSqrtLanes{}; }
InverseCubeLanes inverseCubeLanesAvx2() { return InverseCubeLanes{}; }
#endif
