// The velocities of the particles that merge, replayed in the literal pair order once the merge
// schedule (merge_search.h) is known. A merging particle's partners fall into stretches at its
// merges: its velocity meets the partners before its first merge, then the merge, then the partners
// up to the next one, and so on; after the merge that absorbs it, nothing.
#pragma once

#include <cstdint>

#include "gravity_schedule.h"
#include "step_kernels.h"
#include "step_phases.h"

// Sizes the replays' scratch for tables of n records.
void reserveMergeReplay(int32_t n);

// The fast engine: each merging particle's stretches summed from the kernels' partner sums (the
// longest as its total less the others), then the merges' velocities in pair order. Writes the
// final velocity of every merging particle to current.
void replayFastMerges(const GravityView& view, const GravityKernels& kernels, const double* totalX,
                      const double* totalY, const LiveIndex& live, bool parallel);

// The exact engine: every live particle's velocity folded over its partners in ascending order,
// the literal order, and written to current. Particles that do not merge fold all their partners
// at once; a merge (i, j) waits for i's fold up to j and j's fold up to i, and the survivor folds
// on from the merged velocity. Each wave folds every stretch whose start is known.
void foldExactVelocities(const ExactView& view, const GravityKernels& kernels, const LiveIndex& live, bool parallel);
