// The rounded division and square root of one instruction set (the kernels' rounded_divsqrt_*.h),
// over arrays: the way of the tests, the sweep and the benchmark into code that must be built with
// that set's flags (rounded_divsqrt_lanes_avx2.cpp, _avx512.cpp). Every count is a multiple of width.
#pragma once

#include <cstddef>
#include <cstdint>

enum class SweepOperation { Divide, Divide2, Sqrt };

// Operands with a random significand and an exponent drawn from [low, high], of either sign or
// positive; or, with anyBits, any 64 bits at all.
struct OperandRange {
    int low;
    int high;
    bool anySign;
    bool anyBits;
};

struct SweepCount {
    uint64_t results = 0;     // results compared with the instruction's (two per lane for Divide2)
    uint64_t mismatches = 0;  // results whose bits differ
    uint64_t fellBack = 0;    // results whose candidate the test did not prove
    uint64_t calls = 0;       // vectors
    uint64_t slowCalls = 0;   // vectors where some lane took the instruction
    // The first mismatch: operands (a, b, second numerator; or x), result, the instruction's.
    double operands[3] = {0, 0, 0};
    double got = 0;
    double want = 0;
};

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
    void (*hardwareDivide2)(const double* a1, const double* a2, const double* b, double* q1, double* q2,
                            std::size_t n);
    void (*hardwareSqrt)(const double* x, double* s, std::size_t n);
    // Each result an operand of the next (q = a / q; b = first of a1 / b, a2 / b; s = sqrt(s + x)):
    // the latency. They return a sum of the lanes.
    double (*divideChainHardware)(const double* a, std::size_t n);
    double (*divideChainBuilt)(const double* a, std::size_t n);
    double (*divide2ChainHardware)(const double* a1, const double* a2, std::size_t n);
    double (*divide2ChainBuilt)(const double* a1, const double* a2, std::size_t n);
    double (*sqrtChainHardware)(const double* x, std::size_t n);
    double (*sqrtChainBuilt)(const double* x, std::size_t n);
    // calls vectors of operands drawn from the ranges (first: a or x, second: b; Divide2 draws its
    // second numerator from first), each result checked against the instruction's.
    void (*sweep)(SweepOperation operation, OperandRange first, OperandRange second, uint64_t seed, uint64_t calls,
                  SweepCount& count);
};

// Call only where the processor has the instruction set (and FMA).
DivSqrtLanes divSqrtLanesAvx2();
DivSqrtLanes divSqrtLanesAvx512();
