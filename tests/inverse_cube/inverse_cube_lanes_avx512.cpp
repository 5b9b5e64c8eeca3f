// The AVX-512 entry points of inverse_cube_lanes.h, built with -mavx512f -mavx512dq -mfma for this
// file alone; like the step's kernels it includes nothing with external inline functions.
#include <cstddef>
#include <cstdint>

#include "inverse_cube_lanes.h"

#if defined(__AVX512F__) && defined(__FMA__)
#include <immintrin.h>

#include "inverse_cube_avx512.h"
#include "inverse_cube_lanes_body.h"

namespace {

struct Avx512Io {
    using Lanes = Avx512CubeLanes;
    using C = InverseCubeAvx512;
    static constexpr std::size_t width = 8;
    static __m512d load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, __m512d v) { _mm512_storeu_pd(p, v); }
    static __m512d add(__m512d a, __m512d b) { return _mm512_add_pd(a, b); }
    static unsigned trustedBits(__mmask8 m) { return m; }
    static __m512d divided(__m512d x) {
        return _mm512_div_pd(_mm512_set1_pd(1.0), _mm512_mul_pd(x, _mm512_maskz_sqrt_pd(0xFF, x)));
    }
};

}  // namespace

InverseCubeLanes inverseCubeLanesAvx512() { return CubeLoops<Avx512Io>::table(); }
#else
InverseCubeLanes inverseCubeLanesAvx512() { return InverseCubeLanes{}; }
#endif
