// The AVX-512 entry points of rounded_divsqrt_lanes.h, built with -mavx512f -mavx512dq -mfma for
// this file alone; like the kernels it includes nothing with external inline functions.
#include <cstddef>

#include "rounded_divsqrt_lanes.h"

#if defined(__AVX512F__) && defined(__FMA__)
#include <immintrin.h>

#include "rounded_divsqrt_avx512.h"
#include "rounded_divsqrt_lanes_body.h"

namespace {

struct Avx512Io {
    using L = Avx512Lanes;
    static constexpr std::size_t width = 8;
    static __m512d load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, __m512d v) { _mm512_storeu_pd(p, v); }
    static unsigned provenBits(__mmask8 m) { return m; }
    static __m512d hardwareDivide(__m512d a, __m512d b) { return _mm512_div_pd(a, b); }
    static __m512d hardwareSqrt(__m512d x) { return _mm512_maskz_sqrt_pd(static_cast<__mmask8>(0xFF), x); }
};

}  // namespace

DivSqrtLanes divSqrtLanesAvx512() { return LaneLoops<Avx512Io>::table(); }
#else
DivSqrtLanes divSqrtLanesAvx512() { return DivSqrtLanes{}; }
#endif
