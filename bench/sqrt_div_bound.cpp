#include "sqrt_div_bound.h"

#include <cmath>

#include "engine.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>

namespace {

// Eight independent chains hide the latency; each step adds to r so no root can be hoisted.
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
            acc[k] = _mm512_add_pd(acc[k], _mm512_div_pd(one, _mm512_mask_sqrt_pd(r[k], 0xFF, r[k])));
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
            acc[k] = _mm256_add_pd(acc[k], _mm256_div_pd(one, _mm256_sqrt_pd(r[k])));
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

double sqrtDivLoop(int64_t pairs) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    switch (stepCpuLevel()) {
        case CpuLevel::Avx512: return loopAvx512(pairs);
        case CpuLevel::Avx2: return loopAvx2(pairs);
        default: break;
    }
#endif
    double sum = 0;
    for (int64_t n = 0; n < pairs; ++n) sum += 1.0 / std::sqrt(1.0 + static_cast<double>(n) * 1e-9);
    return sum;
}
