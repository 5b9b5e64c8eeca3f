// The fast engine: the merges first (merge_search.h), then gravity as one symmetric pass over fixed
// blocks with one 1/(r^2 sqrt r^2) a pair; only the particles that merge get their sums split at
// their partners, to replay the merges' velocities. Merges, positions, radii and masses are the
// literal step's to the bit, velocities to the rounding of another summation order.
#pragma once

#include <cstdint>
#include <vector>

#include "kernels.h"
#include "step_context.h"

// A stretch's velocity change.
struct VelocityChange {
    double x;
    double y;
};

// Particles as the kernels read them: structure of arrays, padded to whole tiles.
struct KernelParticles {
    std::vector<double> x, y, gm, idx, cut;
};

struct FastScratch {
    // The live particles by live position (the merge replay's stretches are ranges of it).
    KernelParticles live;
    // The same in tile order, near neighbours on the field side by side, and which live position
    // each is; per tile whether one of its particles is cut, its bounding box and its smallest
    // |coordinate|.
    KernelParticles tiled;
    std::vector<int32_t> liveOf;
    std::vector<int32_t> cellOfLive, cellStart;  // the counting sort's
    std::vector<unsigned char> tileCut;
    std::vector<double> tileBox, tileNear;
    // Each live particle's total change, by live position, and the blocks' partial sums it is
    // reduced from.
    std::vector<double> totalX, totalY;
    std::vector<double> partX, partY;
    std::vector<int32_t> blockPairs;  // a * MAX_BLOCKS + b
    // Per merge event, each side's stretch sum up to it; per merging particle, the sum after its
    // last merge; by table index, the merging particles' velocities as the merges are replayed.
    std::vector<VelocityChange> stretchI, stretchJ, tail;
    std::vector<double> velocityX, velocityY;
};

// Sizes the scratch for tables of n records.
void reserveFastScratch(FastScratch& scratch, int32_t n);

// The step (see fast_step.cpp for the states it hands to the literal one).
void stepSimulationFast(StepContext& step, FastScratch& scratch, double width, double height);

// Sizes the symmetric pass's partial sums for tables of n records.
void reserveFastGravity(FastScratch& scratch, int32_t n);

// The symmetric pass: every pair once, in tiles of particles that lie near each other and in blocks
// fixed by the table; each particle's total change is its block's parts summed in block order, the
// same for every thread count. Takes the live particles' view and leaves the totals, by live
// position, in the scratch.
void runFastGravity(StepContext& step, FastScratch& scratch, const GravityView& live, bool parallel);

// Each merging particle's stretches summed from the kernels' partner sums (the longest as its
// total less the others), then the merges' velocities in pair order. Writes the final velocity of
// every merging particle to current.
void replayFastMerges(StepContext& step, FastScratch& scratch, const GravityView& view, bool parallel);
