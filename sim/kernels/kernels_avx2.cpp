// The AVX2 kernels: each 8-lane vector is two 256-bit halves. Built with -mavx2 -mfma for this file only;
// it includes nothing with external inline functions, so no AVX2 code can leak into other files.
#include <cstddef>

#include "kernels.h"

#if defined(ORRELUNE_X86_KERNELS)
#include <immintrin.h>

#include "inverse_cube_avx2.h"
#include "rounded_divsqrt_avx2.h"

namespace {

struct V {
    __m256d lo;
    __m256d hi;
};
struct M {
    __m256d lo;
    __m256d hi;
};

inline V broadcast(double a) { return V{_mm256_set1_pd(a), _mm256_set1_pd(a)}; }
inline V load(const double* p) { return V{_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4)}; }
inline void store(double* p, V a) {
    _mm256_storeu_pd(p, a.lo);
    _mm256_storeu_pd(p + 4, a.hi);
}
inline V operator+(V a, V b) { return V{_mm256_add_pd(a.lo, b.lo), _mm256_add_pd(a.hi, b.hi)}; }
inline V operator-(V a, V b) { return V{_mm256_sub_pd(a.lo, b.lo), _mm256_sub_pd(a.hi, b.hi)}; }
inline V operator*(V a, V b) { return V{_mm256_mul_pd(a.lo, b.lo), _mm256_mul_pd(a.hi, b.hi)}; }
inline V operator/(V a, V b) { return V{_mm256_div_pd(a.lo, b.lo), _mm256_div_pd(a.hi, b.hi)}; }
inline V multiplyAdd(V a, V b, V c) { return V{_mm256_fmadd_pd(a.lo, b.lo, c.lo), _mm256_fmadd_pd(a.hi, b.hi, c.hi)}; }
inline V negativeMultiplyAdd(V a, V b, V c) {
    return V{_mm256_fnmadd_pd(a.lo, b.lo, c.lo), _mm256_fnmadd_pd(a.hi, b.hi, c.hi)};
}
inline V vsqrt(V a) { return V{_mm256_sqrt_pd(a.lo), _mm256_sqrt_pd(a.hi)}; }
inline V vabs(V a) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    return V{_mm256_andnot_pd(sign, a.lo), _mm256_andnot_pd(sign, a.hi)};
}
inline V signOf(V magnitude, V sign) {
    const __m256d bit = _mm256_set1_pd(-0.0);
    return V{_mm256_or_pd(magnitude.lo, _mm256_and_pd(bit, sign.lo)),
             _mm256_or_pd(magnitude.hi, _mm256_and_pd(bit, sign.hi))};
}
inline M lessThan(V a, V b) {
    return M{_mm256_cmp_pd(a.lo, b.lo, _CMP_LT_OQ), _mm256_cmp_pd(a.hi, b.hi, _CMP_LT_OQ)};
}
inline M greaterThan(V a, V b) {
    return M{_mm256_cmp_pd(a.lo, b.lo, _CMP_GT_OQ), _mm256_cmp_pd(a.hi, b.hi, _CMP_GT_OQ)};
}
inline M operator&(M a, M b) { return M{_mm256_and_pd(a.lo, b.lo), _mm256_and_pd(a.hi, b.hi)}; }
// a - 0 is a, also for a = -0, so subtracting a masked-off zero leaves the lane as it was.
inline V subtractWhere(M m, V a, V b) {
    return V{_mm256_sub_pd(a.lo, _mm256_and_pd(m.lo, b.lo)), _mm256_sub_pd(a.hi, _mm256_and_pd(m.hi, b.hi))};
}
inline V multiplyWhere(M m, V a, V b) {
    return V{_mm256_and_pd(m.lo, _mm256_mul_pd(a.lo, b.lo)), _mm256_and_pd(m.hi, _mm256_mul_pd(a.hi, b.hi))};
}

// Where the float estimate is normal and, as documented, within 1.5 * 2^-12 of 1/sqrt(r2).
constexpr double SERVED_LEAST = 0x1p-125;
constexpr double SERVED_GREATEST = 0x1p125;

// 1/(r2 sqrt(r2)) from the estimate (inverse_cube_avx2.h) in the lanes a term takes (wanted, where
// r2 > 0); a vector where one of them fails the check divides and takes the root there.
[[gnu::noinline]] V inverseCubeMixed(V r2, InverseCubeAvx2::Checked lo, InverseCubeAvx2::Checked hi) {
    return V{InverseCubeAvx2::anyLanes(r2.lo, lo), InverseCubeAvx2::anyLanes(r2.hi, hi)};
}
inline V inverseCube(V r2, M wanted) {
    const InverseCubeAvx2::Checked lo = InverseCubeAvx2::refine(r2.lo);
    const InverseCubeAvx2::Checked hi = InverseCubeAvx2::refine(r2.hi);
    const __m256d failing = _mm256_or_pd(_mm256_andnot_pd(lo.trusted, wanted.lo), _mm256_andnot_pd(hi.trusted, wanted.hi));
    if (_mm256_movemask_pd(failing) == 0) [[likely]] return V{lo.value, hi.value};
    return inverseCubeMixed(r2, lo, hi);
}
// Every r2 estimateServes admits, unchecked; r2 = 0 is raised to the range's floor, so that a
// coincident pair's zero offsets give zero terms.
inline V inverseCubeServed(V r2) {
    const __m256d least = _mm256_set1_pd(SERVED_LEAST);
    return V{InverseCubeAvx2::refine(_mm256_max_pd(r2.lo, least)).value,
             InverseCubeAvx2::refine(_mm256_max_pd(r2.hi, least)).value};
}
inline bool estimateServes(double leastSquare, double greatestSquare) {
    return leastSquare >= SERVED_LEAST && greatestSquare <= SERVED_GREATEST;
}

#include "fast_kernel_body.h"

// The exact folds: the same 8-lane vectors, and the selections and sign flips they need.
inline M notANumber(V a) { return M{_mm256_cmp_pd(a.lo, a.lo, _CMP_UNORD_Q), _mm256_cmp_pd(a.hi, a.hi, _CMP_UNORD_Q)}; }
inline M operator|(M a, M b) { return M{_mm256_or_pd(a.lo, b.lo), _mm256_or_pd(a.hi, b.hi)}; }
inline bool anyLane(M a) { return _mm256_movemask_pd(_mm256_or_pd(a.lo, a.hi)) != 0; }
inline M operator^(M a, M b) { return M{_mm256_xor_pd(a.lo, b.lo), _mm256_xor_pd(a.hi, b.hi)}; }
inline V vmin(V a, V b) { return V{_mm256_min_pd(a.lo, b.lo), _mm256_min_pd(a.hi, b.hi)}; }
inline M greaterOrEqual(V a, V b) {
    return M{_mm256_cmp_pd(a.lo, b.lo, _CMP_GE_OQ), _mm256_cmp_pd(a.hi, b.hi, _CMP_GE_OQ)};
}
inline V select(M m, V a, V b) { return V{_mm256_blendv_pd(b.lo, a.lo, m.lo), _mm256_blendv_pd(b.hi, a.hi, m.hi)}; }
inline M selectMask(M m, M a, M b) {
    return M{_mm256_blendv_pd(b.lo, a.lo, m.lo), _mm256_blendv_pd(b.hi, a.hi, m.hi)};
}
inline V flipSignWhere(M m, V a) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    return V{_mm256_xor_pd(a.lo, _mm256_and_pd(m.lo, sign)), _mm256_xor_pd(a.hi, _mm256_and_pd(m.hi, sign))};
}
inline V bitXor(V a, V b) { return V{_mm256_xor_pd(a.lo, b.lo), _mm256_xor_pd(a.hi, b.hi)}; }
// a with its sign flipped where sign's sign bit is set.
inline V flipSignBy(V sign, V a) {
    const __m256d bit = _mm256_set1_pd(-0.0);
    return V{_mm256_xor_pd(a.lo, _mm256_and_pd(sign.lo, bit)), _mm256_xor_pd(a.hi, _mm256_and_pd(sign.hi, bit))};
}
// flipSignBy where m is set, -0 elsewhere.
inline V flipSignByWhere(M m, V sign, V a) { return select(m, flipSignBy(sign, a), broadcast(-0.0)); }
inline V addWhere(M m, V a, V b) {
    return V{_mm256_blendv_pd(a.lo, _mm256_add_pd(a.lo, b.lo), m.lo),
             _mm256_blendv_pd(a.hi, _mm256_add_pd(a.hi, b.hi), m.hi)};
}

// Lanes moved up by one, in entering lane 0.
inline V shiftIn(V a, double in) {
    const __m256d lo = _mm256_permute4x64_pd(a.lo, 0x93);  // lo3 lo0 lo1 lo2
    const __m256d hi = _mm256_permute4x64_pd(a.hi, 0x93);  // hi3 hi0 hi1 hi2
    return V{_mm256_blend_pd(lo, _mm256_set1_pd(in), 0x1), _mm256_blend_pd(hi, lo, 0x1)};
}
// All bits set in lane m of four, for lane m of the half it falls in.
inline __m256d laneMask(int m) {
    const long long k = m & 3;
    return _mm256_castsi256_pd(_mm256_set_epi64x(-(k == 3), -(k == 2), -(k == 1), -(k == 0)));
}
inline V withLane(V a, int m, double value) {
    const __m256d v = _mm256_set1_pd(value);
    if (m < 4) return V{_mm256_blendv_pd(a.lo, v, laneMask(m)), a.hi};
    return V{a.lo, _mm256_blendv_pd(a.hi, v, laneMask(m))};
}
inline void storeLane(double* p, V a, int m) {
    _mm256_maskstore_pd(p - (m & 3), _mm256_castpd_si256(laneMask(m)), m < 4 ? a.lo : a.hi);
}

// The exact folds' quotients and roots, from the instructions or built (each half on its own).
constexpr bool HAS_BUILT_DIVISION = true;
template <bool BUILT>
inline V squareRoot(V x) {
    if constexpr (BUILT) return V{roundedSqrt(x.lo), roundedSqrt(x.hi)};
    return vsqrt(x);
}
template <bool BUILT>
inline V quotient(V a, V b) {
    if constexpr (BUILT) return V{roundedDivide(a.lo, b.lo), roundedDivide(a.hi, b.hi)};
    return a / b;
}
template <bool BUILT>
inline void quotients(V a1, V a2, V b, V& q1, V& q2) {
    if constexpr (BUILT) {
        const auto lo = roundedDivide2(a1.lo, a2.lo, b.lo);
        const auto hi = roundedDivide2(a1.hi, a2.hi, b.hi);
        q1 = V{lo.first, hi.first};
        q2 = V{lo.second, hi.second};
    } else {
        q1 = a1 / b;
        q2 = a2 / b;
    }
}

#include "exact_kernel_body.h"

}  // namespace

GravityKernels gravityKernelsAvx2() { return GravityKernels{pairTask, partnerSum, exactFold, exactTile}; }
#else
GravityKernels gravityKernelsAvx2() { return gravityKernelsScalar(); }
#endif
