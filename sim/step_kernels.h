// The fast step's gravity kernels, one set per instruction set, behind one table of entry points.
#pragma once

#include <cstdint>

#include "cpu.h"

// Particles per tile side; the block size and every padded count are multiples of it.
inline constexpr int32_t KERNEL_TILE = 64;

// The live particles of one step as the kernels read them, structure of arrays in table order,
// padded to a multiple of KERNEL_TILE with records that never interact (x NaN, gm 0).
struct GravityView {
    const double* x;
    const double* y;
    const double* gm;   // gravity * mass * TIME_STEP: the velocity one unit of r/r^3 gives a partner
    const double* idx;  // table index, as a double so that it compares in the same lanes
    const double* cut;  // table index of the partner that absorbs it this step, +inf if none
    double* partX;      // blocks x blocks partial sums, blockSize each, see pairTask
    double* partY;
    int32_t count;      // live particles; entries [count, padded) are padding
    int32_t padded;
    int32_t blockSize;
    int32_t blocks;
    double width;
    double height;
    const unsigned char* tileCut;  // per tile: whether one of its particles is absorbed this step
};

struct GravityKernels {
    // Every pair between blocks a <= b, once: the sums for block a's particles go to part[a][b],
    // those for block b's to part[b][a]. Each task overwrites its own parts, so a fixed reduction
    // over them gives the same bits whatever thread ran which task.
    void (*pairTask)(const GravityView& view, int32_t a, int32_t b);
    // Velocity change of particle p from partners [begin, end) alone, under the same pair rules.
    void (*partnerSum)(const GravityView& view, int32_t p, int32_t begin, int32_t end, double sum[2]);
};

// All three take 8 lanes through the same operations in the same order. The two vector sets fuse
// the same multiply-adds (written out; the compiler itself never fuses here) and give the same
// bits; the portable set rounds those products separately.
GravityKernels gravityKernelsScalar();
GravityKernels gravityKernelsAvx2();
GravityKernels gravityKernelsAvx512();
