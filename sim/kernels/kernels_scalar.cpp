// The portable kernels: eight plain doubles per vector, for processors without AVX2 and FMA.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstddef>

#include "kernels.h"

namespace {

struct V {
    double lane[8];
};
struct M {
    bool lane[8];
};

#define ORRELUNE_LANEWISE(type, expr) \
    type r;                           \
    for (int k = 0; k < 8; ++k) r.lane[k] = (expr);     \
    return r

inline V broadcast(double a) { ORRELUNE_LANEWISE(V, a); }
inline V load(const double* p) { ORRELUNE_LANEWISE(V, p[k]); }
inline void store(double* p, V a) {
    for (int k = 0; k < 8; ++k) p[k] = a.lane[k];
}
inline V operator+(V a, V b) { ORRELUNE_LANEWISE(V, a.lane[k] + b.lane[k]); }
inline V operator-(V a, V b) { ORRELUNE_LANEWISE(V, a.lane[k] - b.lane[k]); }
inline V operator*(V a, V b) { ORRELUNE_LANEWISE(V, a.lane[k] * b.lane[k]); }
inline V operator/(V a, V b) { ORRELUNE_LANEWISE(V, a.lane[k] / b.lane[k]); }
// Two roundings, not one: a library fma is not correctly rounded everywhere (MinGW's is not) and is
// slow without the instruction, so the portable kernel's bits differ from the vector kernels'.
inline V multiplyAdd(V a, V b, V c) { ORRELUNE_LANEWISE(V, a.lane[k] * b.lane[k] + c.lane[k]); }
inline V negativeMultiplyAdd(V a, V b, V c) { ORRELUNE_LANEWISE(V, c.lane[k] - a.lane[k] * b.lane[k]); }
inline V vsqrt(V a) { ORRELUNE_LANEWISE(V, std::sqrt(a.lane[k])); }
inline V vabs(V a) { ORRELUNE_LANEWISE(V, std::fabs(a.lane[k])); }
inline V signOf(V magnitude, V sign) { ORRELUNE_LANEWISE(V, std::copysign(magnitude.lane[k], sign.lane[k])); }
inline M lessThan(V a, V b) { ORRELUNE_LANEWISE(M, a.lane[k] < b.lane[k]); }
inline M greaterThan(V a, V b) { ORRELUNE_LANEWISE(M, a.lane[k] > b.lane[k]); }
inline M operator&(M a, M b) { ORRELUNE_LANEWISE(M, a.lane[k] && b.lane[k]); }
inline V subtractWhere(M m, V a, V b) { ORRELUNE_LANEWISE(V, m.lane[k] ? a.lane[k] - b.lane[k] : a.lane[k]); }
inline V multiplyWhere(M m, V a, V b) { ORRELUNE_LANEWISE(V, m.lane[k] ? a.lane[k] * b.lane[k] : 0.0); }

inline M notANumber(V a) { ORRELUNE_LANEWISE(M, std::isnan(a.lane[k])); }
inline M operator|(M a, M b) { ORRELUNE_LANEWISE(M, a.lane[k] || b.lane[k]); }
inline bool anyLane(M a) {
    for (int k = 0; k < 8; ++k) {
        if (a.lane[k]) return true;
    }
    return false;
}
// a < b ? a : b, as the vector minimum instructions define it.
inline V vmin(V a, V b) { ORRELUNE_LANEWISE(V, a.lane[k] < b.lane[k] ? a.lane[k] : b.lane[k]); }
inline M greaterOrEqual(V a, V b) { ORRELUNE_LANEWISE(M, a.lane[k] >= b.lane[k]); }
inline M operator^(M a, M b) { ORRELUNE_LANEWISE(M, a.lane[k] != b.lane[k]); }
inline V select(M m, V a, V b) { ORRELUNE_LANEWISE(V, m.lane[k] ? a.lane[k] : b.lane[k]); }
inline M selectMask(M m, M a, M b) { ORRELUNE_LANEWISE(M, m.lane[k] ? a.lane[k] : b.lane[k]); }
inline V flipSignWhere(M m, V a) { ORRELUNE_LANEWISE(V, m.lane[k] ? -a.lane[k] : a.lane[k]); }
inline V bitXor(V a, V b) {
    ORRELUNE_LANEWISE(V, std::bit_cast<double>(std::bit_cast<uint64_t>(a.lane[k]) ^ std::bit_cast<uint64_t>(b.lane[k])));
}
inline V flipSignBy(V sign, V a) { ORRELUNE_LANEWISE(V, std::signbit(sign.lane[k]) ? -a.lane[k] : a.lane[k]); }
// flipSignBy where m is set, -0 elsewhere.
inline V flipSignByWhere(M m, V sign, V a) { return select(m, flipSignBy(sign, a), broadcast(-0.0)); }
inline V addWhere(M m, V a, V b) { ORRELUNE_LANEWISE(V, m.lane[k] ? a.lane[k] + b.lane[k] : a.lane[k]); }

#undef ORRELUNE_LANEWISE

// Lanes moved up by one, in entering lane 0.
inline V shiftIn(V a, double in) {
    V r;
    r.lane[0] = in;
    for (int k = 1; k < 8; ++k) r.lane[k] = a.lane[k - 1];
    return r;
}
inline V withLane(V a, int m, double value) {
    a.lane[m] = value;
    return a;
}
inline void storeLane(double* p, V a, int m) { *p = a.lane[m]; }

// 1/(r2 sqrt(r2)) divided as written: in every lane, so also in the lanes a term takes.
inline V inverseCube(V r2, M) { return broadcast(1.0) / (r2 * vsqrt(r2)); }
// The same, and 0 at r2 = 0, so that a coincident pair's zero offsets give zero terms.
inline V inverseCubeServed(V r2) { return multiplyWhere(greaterThan(r2, broadcast(0.0)), broadcast(1.0), inverseCube(r2, M{})); }
inline bool estimateServes(double, double) { return true; }

#include "fast_kernel_body.h"

// The portable folds divide and take roots as written; nothing is built here.
constexpr bool HAS_BUILT_DIVISION = false;
template <bool BUILT>
inline V squareRoot(V x) {
    return vsqrt(x);
}
template <bool BUILT>
inline V quotient(V a, V b) {
    return a / b;
}
template <bool BUILT>
inline void quotients(V a1, V a2, V b, V& q1, V& q2) {
    q1 = a1 / b;
    q2 = a2 / b;
}

#include "exact_kernel_body.h"

}  // namespace

GravityKernels gravityKernelsScalar() { return GravityKernels{pairTask, partnerSum, exactFold, exactTile}; }
