// The AVX2 entry points of inverse_cube_lanes.h, built with -mavx2 -mfma for this file alone; like
// the step's kernels it includes nothing with external inline functions.
#include <cstddef>
#include <cstdint>

#include "inverse_cube_lanes.h"

#if defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>

#include "inverse_cube_avx2.h"
#include "inverse_cube_lanes_body.h"

namespace {

struct Avx2Io {
    using Lanes = Avx2CubeLanes;
    using C = InverseCubeAvx2;
    static constexpr std::size_t width = 4;
    static __m256d load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, __m256d v) { _mm256_storeu_pd(p, v); }
    static __m256d add(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
    static unsigned trustedBits(__m256d m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
    static __m256d divided(__m256d x) {
        return _mm256_div_pd(_mm256_set1_pd(1.0), _mm256_mul_pd(x, _mm256_sqrt_pd(x)));
    }
};

}  // namespace

InverseCubeLanes inverseCubeLanesAvx2() { return CubeLoops<Avx2Io>::table(); }
#else
InverseCubeLanes inverseCubeLanesAvx2() { return InverseCubeLanes{}; }
#endif
