// The AVX-512 kernels: one 512-bit register per 8-lane vector, masks in mask registers. Built with
// -mavx512f -mavx512dq -mfma for this file only; like the AVX2 file it includes no external inline code.
#include <cstddef>

#include "kernels.h"

#if defined(ORRELUNE_X86_KERNELS)
#include <immintrin.h>

#include "inverse_cube_avx512.h"
#include "rounded_divsqrt_avx512.h"

namespace {

struct V {
    __m512d v;
};
struct M {
    __mmask8 m;
};

inline V broadcast(double a) { return V{_mm512_set1_pd(a)}; }
inline V load(const double* p) { return V{_mm512_loadu_pd(p)}; }
inline void store(double* p, V a) { _mm512_storeu_pd(p, a.v); }
inline V operator+(V a, V b) { return V{_mm512_add_pd(a.v, b.v)}; }
inline V operator-(V a, V b) { return V{_mm512_sub_pd(a.v, b.v)}; }
inline V operator*(V a, V b) { return V{_mm512_mul_pd(a.v, b.v)}; }
inline V operator/(V a, V b) { return V{_mm512_div_pd(a.v, b.v)}; }
// The masked form: the plain one starts from an undefined register, which GCC 12 warns about.
inline V multiplyAdd(V a, V b, V c) { return V{_mm512_fmadd_pd(a.v, b.v, c.v)}; }
inline V negativeMultiplyAdd(V a, V b, V c) { return V{_mm512_fnmadd_pd(a.v, b.v, c.v)}; }
inline V vsqrt(V a) { return V{_mm512_mask_sqrt_pd(a.v, static_cast<__mmask8>(0xFF), a.v)}; }
inline V vabs(V a) { return V{_mm512_andnot_pd(_mm512_set1_pd(-0.0), a.v)}; }
inline V signOf(V magnitude, V sign) {
    return V{_mm512_or_pd(magnitude.v, _mm512_and_pd(_mm512_set1_pd(-0.0), sign.v))};
}
inline M lessThan(V a, V b) { return M{_mm512_cmp_pd_mask(a.v, b.v, _CMP_LT_OQ)}; }
inline M greaterThan(V a, V b) { return M{_mm512_cmp_pd_mask(a.v, b.v, _CMP_GT_OQ)}; }
inline M operator&(M a, M b) { return M{static_cast<__mmask8>(a.m & b.m)}; }
inline V subtractWhere(M m, V a, V b) { return V{_mm512_mask_sub_pd(a.v, m.m, a.v, b.v)}; }
inline V multiplyWhere(M m, V a, V b) { return V{_mm512_maskz_mul_pd(m.m, a.v, b.v)}; }
inline M notANumber(V a) { return M{_mm512_cmp_pd_mask(a.v, a.v, _CMP_UNORD_Q)}; }
inline M operator|(M a, M b) { return M{static_cast<__mmask8>(a.m | b.m)}; }
inline bool anyLane(M a) { return a.m != 0; }
inline V vmin(V a, V b) { return V{_mm512_mask_min_pd(a.v, static_cast<__mmask8>(0xFF), a.v, b.v)}; }
inline M greaterOrEqual(V a, V b) { return M{_mm512_cmp_pd_mask(a.v, b.v, _CMP_GE_OQ)}; }
inline M operator^(M a, M b) { return M{static_cast<__mmask8>(a.m ^ b.m)}; }
inline V select(M m, V a, V b) { return V{_mm512_mask_blend_pd(m.m, b.v, a.v)}; }
inline M selectMask(M m, M a, M b) { return M{static_cast<__mmask8>((m.m & a.m) | (~m.m & b.m))}; }
inline V flipSignWhere(M m, V a) { return V{_mm512_mask_xor_pd(a.v, m.m, a.v, _mm512_set1_pd(-0.0))}; }
inline V bitXor(V a, V b) { return V{_mm512_xor_pd(a.v, b.v)}; }
// a with its sign flipped where sign's sign bit is set: a ^ (sign & -0.0) in one instruction.
inline V flipSignBy(V sign, V a) {
    return V{_mm512_castsi512_pd(_mm512_ternarylogic_epi64(_mm512_castpd_si512(a.v), _mm512_castpd_si512(sign.v),
                                                           _mm512_castpd_si512(_mm512_set1_pd(-0.0)), 0x78))};
}
inline V addWhere(M m, V a, V b) { return V{_mm512_mask_add_pd(a.v, m.m, a.v, b.v)}; }
// flipSignBy where m is set, -0 elsewhere: one instruction, its first operand both the sign bit
// and what the lanes left out keep (0x6C: a ^ (sign & sign bit)).
inline V flipSignByWhere(M m, V sign, V a) {
    const __m512i signBit = _mm512_castpd_si512(_mm512_set1_pd(-0.0));
    return V{_mm512_castsi512_pd(
        _mm512_mask_ternarylogic_epi64(signBit, m.m, _mm512_castpd_si512(a.v), _mm512_castpd_si512(sign.v), 0x6C))};
}

// Where y^3 and the result are normal doubles (inverse_cube_avx512.h).
constexpr double SERVED_LEAST = 0x1p-680;
constexpr double SERVED_GREATEST = 0x1p660;

// 1/(r2 sqrt(r2)) from the estimate (inverse_cube_avx512.h) in the lanes a term takes (wanted, where
// r2 > 0); a vector where one of them is out of the estimate's range divides and takes the root there.
[[gnu::noinline]] V inverseCubeMixed(V r2, InverseCubeAvx512::Checked refined) {
    return V{InverseCubeAvx512::anyLanes(r2.v, refined)};
}
inline V inverseCube(V r2, M wanted) {
    const InverseCubeAvx512::Checked refined = InverseCubeAvx512::refine(r2.v);
    if ((wanted.m & ~refined.trusted & 0xFF) == 0) [[likely]] return V{refined.value};
    return inverseCubeMixed(r2, refined);
}
// Every r2 estimateServes admits, unchecked; r2 = 0 is raised to the range's floor, so that a
// coincident pair's zero offsets give zero terms.
inline V inverseCubeServed(V r2) {
    // The masked form: GCC 12's _mm512_max_pd reads an uninitialised vector (-Wmaybe-uninitialized).
    const __m512d raised = _mm512_mask_max_pd(r2.v, static_cast<__mmask8>(0xFF), r2.v, _mm512_set1_pd(SERVED_LEAST));
    return V{InverseCubeAvx512::refine(raised).value};
}
inline bool estimateServes(double leastSquare, double greatestSquare) {
    return leastSquare >= SERVED_LEAST && greatestSquare <= SERVED_GREATEST;
}

#include "fast_kernel_body.h"

// Lanes moved up by one, in entering lane 0.
inline V shiftIn(V a, double in) {
    return V{_mm512_castsi512_pd(_mm512_maskz_alignr_epi64(static_cast<__mmask8>(0xFF), _mm512_castpd_si512(a.v),
                                                             _mm512_castpd_si512(_mm512_set1_pd(in)), 7))};
}
inline V withLane(V a, int m, double value) {
    return V{_mm512_mask_blend_pd(static_cast<__mmask8>(1u << m), a.v, _mm512_set1_pd(value))};
}
// Masked lanes neither load nor fault, so only p itself is written.
inline void storeLane(double* p, V a, int m) { _mm512_mask_storeu_pd(p - m, static_cast<__mmask8>(1u << m), a.v); }

// The exact folds' quotients and roots, from the instructions or built.
constexpr bool HAS_BUILT_DIVISION = true;
template <bool BUILT>
inline V squareRoot(V x) {
    if constexpr (BUILT) return V{roundedSqrt(x.v)};
    return vsqrt(x);
}
template <bool BUILT>
inline V quotient(V a, V b) {
    if constexpr (BUILT) return V{roundedDivide(a.v, b.v)};
    return a / b;
}
template <bool BUILT>
inline void quotients(V a1, V a2, V b, V& q1, V& q2) {
    if constexpr (BUILT) {
        const auto q = roundedDivide2(a1.v, a2.v, b.v);
        q1 = V{q.first};
        q2 = V{q.second};
    } else {
        q1 = a1 / b;
        q2 = a2 / b;
    }
}

#include "exact_kernel_body.h"

}  // namespace

GravityKernels gravityKernelsAvx512() { return GravityKernels{pairTask, partnerSum, exactFold, exactTile}; }
#else
GravityKernels gravityKernelsAvx512() { return gravityKernelsScalar(); }
#endif
