// The AVX2 entry points of rounded_divsqrt_lanes.h, built with -mavx2 -mfma for this file alone;
// like the kernels it includes nothing with external inline functions.
#include <cstddef>

#include "rounded_divsqrt_lanes.h"

#if defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>

#include "rounded_divsqrt_avx2.h"
#include "rounded_divsqrt_lanes_body.h"

namespace {

struct Avx2Io {
    using L = Avx2Lanes;
    static constexpr std::size_t width = 4;
    static __m256d load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, __m256d v) { _mm256_storeu_pd(p, v); }
    static unsigned provenBits(__m256d m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
    static __m256d hardwareDivide(__m256d a, __m256d b) { return _mm256_div_pd(a, b); }
    static __m256d hardwareSqrt(__m256d x) { return _mm256_sqrt_pd(x); }
};

}  // namespace

DivSqrtLanes divSqrtLanesAvx2() { return LaneLoops<Avx2Io>::table(); }
#else
DivSqrtLanes divSqrtLanesAvx2() { return DivSqrtLanes{}; }
#endif
