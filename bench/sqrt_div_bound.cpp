#include "sqrt_div_bound.h"

#include <cmath>

#include "inverse_cube_lanes.h"
#include "workspace.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>

namespace {

// Eight independent chains hide the latency; each step adds to r so no root can be hoisted. With
// three divisions, each divides another number by the same root, as the exact engine's do.
template <int DIVISIONS>
__attribute__((target("avx512f"))) double loopAvx512(int64_t pairs) {
    __m512d r[8];
    __m512d acc[8];
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d step = _mm512_set1_pd(1e-9);
    for (int k = 0; k < 8; ++k) {
        r[k] = _mm512_set1_pd(1.0 + k);
        acc[k] = _mm512_setzero_pd();
    }
    for (int64_t n = 0; n < pairs; n += 64) {
        for (int k = 0; k < 8; ++k) {
            r[k] = _mm512_add_pd(r[k], step);
            const __m512d root = _mm512_mask_sqrt_pd(r[k], 0xFF, r[k]);
            acc[k] = _mm512_add_pd(acc[k], _mm512_div_pd(one, root));
            if constexpr (DIVISIONS >= 3) {
                acc[k] = _mm512_add_pd(acc[k], _mm512_div_pd(r[k], root));
                acc[k] = _mm512_add_pd(acc[k], _mm512_div_pd(step, root));
            }
            if constexpr (DIVISIONS == 5) {
                acc[k] = _mm512_add_pd(acc[k], _mm512_div_pd(root, r[k]));
                acc[k] = _mm512_add_pd(acc[k], _mm512_div_pd(step, r[k]));
            }
        }
    }
    double lanes[8];
    double sum = 0;
    for (int k = 0; k < 8; ++k) {
        _mm512_storeu_pd(lanes, acc[k]);
        for (double lane : lanes) sum += lane;
    }
    return sum;
}

template <int DIVISIONS>
__attribute__((target("avx2"))) double loopAvx2(int64_t pairs) {
    __m256d r[8];
    __m256d acc[8];
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d step = _mm256_set1_pd(1e-9);
    for (int k = 0; k < 8; ++k) {
        r[k] = _mm256_set1_pd(1.0 + k);
        acc[k] = _mm256_setzero_pd();
    }
    for (int64_t n = 0; n < pairs; n += 32) {
        for (int k = 0; k < 8; ++k) {
            r[k] = _mm256_add_pd(r[k], step);
            const __m256d root = _mm256_sqrt_pd(r[k]);
            acc[k] = _mm256_add_pd(acc[k], _mm256_div_pd(one, root));
            if constexpr (DIVISIONS >= 3) {
                acc[k] = _mm256_add_pd(acc[k], _mm256_div_pd(r[k], root));
                acc[k] = _mm256_add_pd(acc[k], _mm256_div_pd(step, root));
            }
            if constexpr (DIVISIONS == 5) {
                acc[k] = _mm256_add_pd(acc[k], _mm256_div_pd(root, r[k]));
                acc[k] = _mm256_add_pd(acc[k], _mm256_div_pd(step, r[k]));
            }
        }
    }
    double lanes[4];
    double sum = 0;
    for (int k = 0; k < 8; ++k) {
        _mm256_storeu_pd(lanes, acc[k]);
        sum += lanes[0] + lanes[1] + lanes[2] + lanes[3];
    }
    return sum;
}

}  // namespace
#endif

namespace {

template <int DIVISIONS>
double boundLoop(int64_t pairs) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    switch (stepCpuLevel()) {
        case CpuLevel::Avx512: return loopAvx512<DIVISIONS>(pairs);
        case CpuLevel::Avx2: return loopAvx2<DIVISIONS>(pairs);
        default: break;
    }
#endif
    double sum = 0;
    for (int64_t n = 0; n < pairs; ++n) {
        const double r = 1.0 + static_cast<double>(n) * 1e-9;
        const double root = std::sqrt(r);
        sum += 1.0 / root;
        if constexpr (DIVISIONS >= 3) sum += r / root + 1e-9 / root;
        if constexpr (DIVISIONS == 5) sum += root / r + 1e-9 / r;
    }
    return sum;
}

}  // namespace

double sqrtDivLoop(int64_t pairs) { return boundLoop<1>(pairs); }

double sqrtThreeDivLoop(int64_t pairs) { return boundLoop<3>(pairs); }

double sqrtFiveDivLoop(int64_t pairs) { return boundLoop<5>(pairs); }

double estimateLoop(int64_t pairs) {
    switch (stepCpuLevel()) {
        case CpuLevel::Avx512: return inverseCubeLanesAvx512().ceiling(pairs);
        case CpuLevel::Avx2: return inverseCubeLanesAvx2().ceiling(pairs);
        default: return sqrtDivLoop(pairs);
    }
}
