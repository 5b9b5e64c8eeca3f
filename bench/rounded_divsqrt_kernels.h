// The rounded division and square root (sim/rounded_divsqrt_*.h) for the sweep and the benchmark:
// loops that must be built with one instruction set's flags (rounded_divsqrt_kernels_avx2.cpp,
// _avx512.cpp), behind one table per set.
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

struct DivSqrtBenchKernels {
    std::size_t width;  // lanes per vector, 0 where this build has no such code; n is a multiple
    // Independent operations over arrays: the throughput.
    void (*divideHardware)(const double* a, const double* b, double* q, std::size_t n);
    void (*divideBuilt)(const double* a, const double* b, double* q, std::size_t n);
    void (*divide2Hardware)(const double* a1, const double* a2, const double* b, double* q1, double* q2,
                            std::size_t n);
    void (*divide2Built)(const double* a1, const double* a2, const double* b, double* q1, double* q2, std::size_t n);
    void (*sqrtHardware)(const double* x, double* s, std::size_t n);
    void (*sqrtBuilt)(const double* x, double* s, std::size_t n);
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
DivSqrtBenchKernels divSqrtBenchKernelsAvx2();
DivSqrtBenchKernels divSqrtBenchKernelsAvx512();
