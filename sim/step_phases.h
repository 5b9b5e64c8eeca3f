// What the fast and exact engines share around their gravity passes: the snapshot and drift, the
// index of the particles alive in the snapshot, and the way back to the literal step.
#pragma once

#include <cstdint>
#include <vector>

#include "simulation.h"
#include "step_kernels.h"

// Phase 1 and 2 of every step: records 0..last copied to the snapshot, positions drifted with the
// snapshot's velocities and wrapped onto the field.
void snapshotAndDrift(int32_t last, double width, double height);

// What every step of the exact and fast engines begins with, once it takes the state: scratch and
// threads ready, phases 1 and 2, and the merges scheduled (or none, with merging off). False when
// the merges were too many to hold: the step was then handed to the literal one.
bool beginStep(int32_t last, double width, double height, bool merging);

// Puts records 0..last back as the snapshot holds them (the step's start) and steps literally:
// for a state an engine found it cannot reproduce after it had begun.
void restartLiterally(int32_t last, double width, double height);

// Whether the merge search takes the table: positions within a period of the field (a merge only
// moves one a little outside it) and radii that are numbers.
bool mergeSearchApplies(const ParticleBuffer& c, int32_t last, double width, double height);

// The particles alive in the snapshot (mass not 0), in table order: their live positions.
struct LiveIndex {
    int32_t count = 0;
    std::vector<int32_t> tableOf;    // live position -> table index
    std::vector<int32_t> compactOf;  // table index -> live position, -1 if dead in the snapshot
};

// Indexes records 0..last of the snapshot.
const LiveIndex& indexLiveParticles(int32_t last);

// Sizes the index for tables of n records.
void reserveLiveIndex(int32_t n);

// The kernels of the level the step runs at (stepCpuLevel).
GravityKernels stepKernels();

// Each engine's own scratch, sized for tables of n records (reserveStepScratch sizes them all).
void reserveFastStep(int32_t n);
void reserveExactStep(int32_t n);

// Records the engine's hand-over to the literal step, for lastStepWasLiteral.
void noteLiteralHandOver(bool handedOver);
