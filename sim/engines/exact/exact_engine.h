// The exact engine: the literal step's bytes, every tick. In the literal pair loop a particle meets
// its partners in ascending order of their indices, so its velocity is one fold over them, each
// term formed with its pair's own operands; folding each particle on its own, in lanes and on
// threads, changes nothing. The merges come first (merge_search.h), then the folds, with the
// merges' velocities formed where the pair loop meets them.
#pragma once

#include <cstdint>
#include <vector>

#include "kernels.h"
#include "step_common.h"

// One particle's fold over a run of its partners, from the velocity it starts with.
struct FoldSegment {
    int32_t particle;  // live position
    int32_t from;      // live positions [from, to) of the partners
    int32_t to;
    double vx;  // the velocity before the fold, and after it
    double vy;
};

// A merging particle's velocity where its fold reaches one of its merges.
struct ArrivedVelocity {
    double x;
    double y;
};

struct ExactScratch {
    std::vector<ExactPartner> partners;  // by live position
    // The folds of a wave, the next wave's, and the first segment of each group of lanes.
    std::vector<FoldSegment> wave, nextWave;
    std::vector<int32_t> groupStart;
    // Per merge event: each side's velocity once its fold has arrived there, and which have (bit 1
    // for i, 2 for j); per merging particle: the side its current stretch ends at.
    std::vector<ArrivedVelocity> arrivedI, arrivedJ;
    std::vector<unsigned char> arrived;
    std::vector<int32_t> nextSide;
    // Per kernel level: whether the built quotients and roots were the faster (-1: not yet timed).
    int builtFaster[3] = {-1, -1, -1};
};

// Sizes the scratch for tables of n records.
void reserveExactScratch(ExactScratch& scratch, int32_t n);

// The step (see exact_step.cpp for the states it hands to the literal one).
void stepSimulationExact(StepCommon& step, ExactScratch& scratch, double width, double height);

// Whether the exact engine's steps build their quotients and roots at the step's kernel level
// (timing both ways first, once per level, where the settings leave the choice to it).
bool exactDivisionBuilt(const StepCommon& step, ExactScratch& scratch);

// Times one fold of a group of lanes over synthetic partners each way and tells whether the built
// quotients and roots were the faster.
bool builtDivisionIsFaster(const GravityKernels& kernels);

// Every live particle's velocity folded over its partners in ascending order, the literal order,
// and written to current. Particles that do not merge fold all their partners at once; a merge
// (i, j) waits for i's fold up to j and j's fold up to i, and the survivor folds on from the merged
// velocity. Each wave folds every stretch whose start is known.
void foldExactVelocities(StepCommon& step, ExactScratch& scratch, const ExactView& view, bool parallel);
