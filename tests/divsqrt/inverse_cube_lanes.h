// The fast kernels' 1/(x * sqrt(x)) of one instruction set (sim/kernels/inverse_cube_*.h) over
// arrays, for the tests and the sweep (rounded_divsqrt_lanes_avx2.cpp, _avx512.cpp); and the exact
// value they are measured against. Every count is a multiple of width.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

struct InverseCubeLanes {
    // Lanes per vector; 0 where this build has no such code.
    std::size_t width;
    // Proven bound, in ulps of x^(-3/2), where the estimate serves (docs/engines.md).
    double boundUlps;
    // As the fast kernels form it: refined where the estimate serves, 1 / (x * sqrt(x)) elsewhere.
    void (*inverseCube)(const double* x, double* out, std::size_t n);
    // The refinement alone from the processor's estimate, and 1 where the lane trusts it.
    void (*refined)(const double* x, double* out, unsigned char* trusted, std::size_t n);
    // The same from the estimates given.
    void (*refinedFrom)(const double* x, const double* estimate, double* out, unsigned char* trusted, std::size_t n);
    // The processor's estimate of 1/sqrt(x), as the refinement takes it.
    void (*estimate)(const double* x, double* out, std::size_t n);
    // 1 / (x * sqrt(x)) with the instructions: the portable kernels' way and the fallback.
    void (*divided)(const double* x, double* out, std::size_t n);
    // Inverse cubes of `pairs` lanes as the pair loop forms them, alone: the engine's ceiling.
    double (*ceiling)(int64_t pairs);
};

// Call only where the processor has the instruction set (and FMA).
InverseCubeLanes inverseCubeLanesAvx2();
InverseCubeLanes inverseCubeLanesAvx512();

// x^(-3/2) in the x87's 64-bit significands: three roundings, so within 3 * 2^-64 relatively, which
// is under 0.0015 ulp of a double. Needs the x87 at its full precision (extendedPrecisionActive).
inline long double exactInverseCube(double x) {
    const long double wide = x;
    return 1.0L / (wide * std::sqrt(wide));
}

// The reference's own error, in ulps of a double.
constexpr double REFERENCE_ULPS = 3 * 0x1p-11;

// Whether long double arithmetic rounds to 64 bits here (not so where the x87 is set to 53).
inline bool extendedPrecisionActive() {
    if (std::numeric_limits<long double>::digits < 64) return false;
    volatile long double one = 1.0L;
    volatile long double tiny = 0x1p-63L;
    return one + tiny != one;
}

// |got - exact| in units of the spacing of doubles at exact (2^-1074 below the normal range).
inline double ulpsFrom(double got, long double exact) {
    int exponent = 0;
    std::frexp(exact, &exponent);  // exact in [2^(exponent-1), 2^exponent)
    const int spacing = exponent - 53 < -1074 ? -1074 : exponent - 53;
    return static_cast<double>(std::ldexp(std::fabs(static_cast<long double>(got) - exact), -spacing));
}
