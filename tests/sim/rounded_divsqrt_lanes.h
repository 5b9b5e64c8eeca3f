// The rounded division and square root of one instruction set, over arrays: the test's way into
// code that must be built with that set's flags (rounded_divsqrt_lanes_avx2.cpp, _avx512.cpp).
// Every count is a multiple of width.
#pragma once

#include <cstddef>

struct DivSqrtLanes {
    // Lanes per vector; 0 where this build has no such code.
    std::size_t width;
    // With the processor's estimates.
    void (*divide)(const double* a, const double* b, double* q, std::size_t n);
    void (*divide2)(const double* a1, const double* a2, const double* b, double* q1, double* q2, std::size_t n);
    void (*sqrt)(const double* x, double* s, std::size_t n);
    // With the estimates given (of 1/b, of 1/sqrt(x)).
    void (*divideFrom)(const double* a, const double* b, const double* estimate, double* q, std::size_t n);
    void (*divide2From)(const double* a1, const double* a2, const double* b, const double* estimate, double* q1,
                        double* q2, std::size_t n);
    void (*sqrtFrom)(const double* x, const double* estimate, double* s, std::size_t n);
    // The fast path alone: its candidates from the processor's estimates, and 1 where proven.
    void (*quotientCandidates)(const double* a, const double* b, double* q, unsigned char* proven, std::size_t n);
    void (*rootCandidates)(const double* x, double* s, unsigned char* proven, std::size_t n);
    // The tests alone, on any candidates.
    void (*provenQuotient)(const double* a, const double* b, const double* q, unsigned char* proven, std::size_t n);
    void (*provenRoot)(const double* x, const double* s, unsigned char* proven, std::size_t n);
    // The instructions themselves.
    void (*hardwareDivide)(const double* a, const double* b, double* q, std::size_t n);
    void (*hardwareSqrt)(const double* x, double* s, std::size_t n);
};

// Call only where the processor has the instruction set (and FMA).
DivSqrtLanes divSqrtLanesAvx2();
DivSqrtLanes divSqrtLanesAvx512();
