// The step's merges, found before any velocity changes. Whether a pair merges depends only on the
// snapshot and on which particles are still alive, so a grid over the snapshot finds the close
// pairs and a replay in the literal pair order applies them: survivors, radii, positions and masses
// to the bit. Each particle's pairs come in the order of its partners' indices, so a particle
// absorbed by partner q takes part only in pairs with partners below q: its cut.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "model.h"

// The cut of a particle nothing absorbs this step: above every index.
inline constexpr int32_t NOT_ABSORBED = std::numeric_limits<int32_t>::max();

// One merge as the pair loop meets it; the masses are the current ones just before it.
struct MergeEvent {
    int32_t i;
    int32_t j;
    bool jSurvives;
    double massI;
    double massJ;
};

// One particle's part in one merge. A particle's sides, sorted by partner, are its merges in the
// order the pair loop meets them; the last one absorbs it if it is absorbed at all.
struct MergeSide {
    int32_t particle;
    int32_t partner;
    int32_t event;
    bool isI;
};

// A particle that merges this step, with its run of sides.
struct MergingParticle {
    int32_t firstSide;
    int32_t sideCount;
};

struct MergeSchedule {
    std::vector<MergeEvent> events;          // in pair order
    std::vector<MergeSide> sides;            // by particle, then partner
    std::vector<MergingParticle> merging;    // in table order
    std::vector<int32_t> cutOf;              // by table index: the partner that absorbs it, NOT_ABSORBED if none
    std::vector<int32_t> mergingOf;          // by table index: its entry in merging, -1 if it does not merge
};

// The search's grid over the snapshot and the close pairs it finds.
struct MergeSearch {
    int32_t capacity = 0;
    std::vector<int32_t> cellStart, cellItems, cellOf, big;
    std::vector<double> cellX, cellY, cellR;  // by item, in cell order
    std::vector<int64_t> candidates;          // lower index << 32 | higher index
    int32_t candidateLimit = 0;               // for this step's table
};

// Sizes the search and the schedule for tables of n records.
void reserveMergeSearch(MergeSearch& search, MergeSchedule& schedule, int32_t n);

// An empty schedule for records 0..last: nothing merges, nothing is cut.
void clearMergeSchedule(MergeSchedule& schedule, int32_t last);

// Finds and applies every merge of the step to records 0..last of current, in the literal pair
// order, all but the velocities (mergeBodies); the snapshot must already hold the step's start.
// Returns false, having changed nothing, when the close pairs are too many to hold (heaps of
// overlapping particles): the literal step is faster there anyway.
bool scheduleMerges(MergeSearch& search, MergeSchedule& schedule, int32_t last, double width, double height);

// Whether the merge search takes the table: positions within a period of the field (a merge only
// moves one a little outside it) and radii that are numbers.
bool mergeSearchApplies(const ParticleBuffer& c, int32_t last, double width, double height);

// Live positions [begin, end) of stretch t of a merging particle's partners: those after its
// merge t - 1 and before its merge t (stretch sideCount runs to the last of the liveCount). A live
// position is a particle's place among those alive in the snapshot (compactOf, by table index).
void stretchBounds(const MergeSchedule& schedule, const MergingParticle& particle, int32_t t, const int32_t* compactOf,
                   int32_t liveCount, int32_t& begin, int32_t& end);

// Whether the particle is absorbed by its last merge (then it has no stretch after it).
bool absorbedAtEnd(const MergeSchedule& schedule, const MergingParticle& particle);
