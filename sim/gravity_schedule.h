// How the engines' gravity passes are cut into tasks for the worker pool. The cuts depend on the
// table alone, never on the threads, and so do the results.
#pragma once

#include <cstdint>

#include "step_kernels.h"

// Sizes the schedules' scratch for tables of n records.
void reserveGravitySchedule(int32_t n);

// The fast pass: every pair once, in blocks fixed by the count; each particle's total change is
// its block's parts summed in block order. Sets the view's block layout and part buffers and
// leaves the totals, by live position, in totalX and totalY.
void runFastGravity(GravityView& view, const GravityKernels& kernels, bool parallel, double* totalX, double* totalY);

// One particle's fold over a run of its partners, from the velocity it starts with.
struct FoldSegment {
    int32_t particle;  // live position
    int32_t from;      // live positions [from, to) of the partners
    int32_t to;
    double vx;  // the velocity before the fold, and after it
    double vy;
};

// Runs every segment's fold, EXACT_LANES segments side by side: segments with like ranges share a
// fold, each lane taking only its own partners. Reorders the segments.
void runExactFolds(const ExactView& view, const GravityKernels& kernels, FoldSegment* segments, int32_t count,
                   bool parallel);
