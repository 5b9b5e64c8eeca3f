// The exact engine: the literal step's bytes, every tick. In the literal pair loop a particle meets
// its partners in ascending order of their indices, so its velocity is one fold over them, each
// term formed with its pair's own operands; folding each particle on its own, in lanes and on
// threads, changes nothing. The merges come first (merge_search.h), then the folds, with the
// merges' velocities formed where the pair loop meets them.
#pragma once

#include <atomic>
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

// The live particles cut into tiles of `size` rows and columns (whole lane groups), the last one
// short; a tile's kernels run to its end rounded up to whole lanes, over padding.
// The smallest tiles the grid cuts (many threads over few particles).
inline constexpr int32_t MIN_EXACT_TILE = 32;

struct TileGrid {
    int32_t size = EXACT_TILE;
    int32_t count = 0;
    int32_t tiles = 0;

    int32_t begin(int32_t tile) const { return tile * size; }
    int32_t end(int32_t tile) const { return begin(tile) + size < count ? begin(tile) + size : count; }
    int32_t paddedEnd(int32_t tile) const { return (end(tile) + EXACT_LANES - 1) / EXACT_LANES * EXACT_LANES; }

    // Tiles as large as the kernels take, but small enough for the threads to share few of them.
    static TileGrid of(int32_t count, int32_t threads);
};

// A merge between row tile I and column tile J, as the tile's kernel meets it.
struct TileMerge {
    int32_t rowTile;
    int32_t columnTile;
    ExactTileEvent event;
};

struct ExactScratch {
    std::vector<ExactPartner> partners;  // by live position, padded to whole tiles
    // The folds of a wave, the next wave's, and the first segment of each group of lanes.
    std::vector<FoldSegment> wave, nextWave;
    std::vector<int32_t> groupStart;
    // Per merge event: each side's velocity once its fold has arrived there, and which have (bit 1
    // for i, 2 for j); per merging particle: the side its current stretch ends at.
    std::vector<ArrivedVelocity> arrivedI, arrivedJ;
    std::vector<unsigned char> arrived;
    std::vector<int32_t> nextSide;
    // The tiles: velocities by live position, which tiles need the guarded kernels, and how many
    // column tiles each row has done.
    TileGrid grid;
    std::vector<double> tileVx, tileVy;
    std::vector<unsigned char> tileGuarded;
    std::vector<std::atomic<int32_t>> rowsDone;
    // The merges between two tiles, by row tile, column tile and step, and where each row tile's
    // begin; the merges within a tile, by tile.
    std::vector<TileMerge> tileMerges;
    std::vector<ExactTileEvent> tileEvents;  // the same, as the kernels read them
    std::vector<int32_t> rowMerges;
    std::vector<unsigned char> tileHasInnerMerges;
    // Per kernel level: whether the built quotients and roots were the faster (-1: not yet timed).
    int builtFaster[3] = {-1, -1, -1};
};

// Lane k of a fold holds the particle at live position pos, whose partner record p is.
inline void placeLane(ExactLanes& lanes, int32_t k, const ExactPartner& p, int32_t pos) {
    lanes.x[k] = p.x;
    lanes.y[k] = p.y;
    lanes.mass[k] = p.mass;
    lanes.massG[k] = p.massG;
    lanes.pos[k] = pos;
}

// A fold has reached its side of a merge with the velocity the segment ends with: true once both
// sides have. Then merged is the survivor's velocity after the merge, and the survivor's nextSide
// has moved on to its next stretch, whose number comes back in stretch.
bool arriveAtMergeSide(const MergeSchedule& schedule, ExactScratch& scratch, const MergeSide& side,
                       const FoldSegment& segment, ArrivedVelocity& merged, int32_t& stretch);

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

// Runs every segment's fold, EXACT_LANES segments side by side: segments with like ranges share a
// fold, each lane taking only its own partners. Reorders the segments.
void runExactFolds(StepCommon& step, ExactScratch& scratch, const ExactView& view, FoldSegment* segments,
                   int32_t count, bool parallel);

// Whether a step over n live particles runs the symmetric tiles (each pair formed once) rather
// than a fold per particle (each pair formed twice, but faster for few particles).
bool exactStepTiles(const StepSettings& settings, int32_t n);

// Every live particle's velocity folded over its partners in ascending order, the literal order,
// and written to current. Particles that do not merge fold all their partners at once; a merge
// (i, j) waits for i's fold up to j and j's fold up to i, and the survivor folds on from the merged
// velocity. Each wave folds every stretch whose start is known.
void foldExactVelocities(StepCommon& step, ExactScratch& scratch, const ExactView& view, bool parallel);

// Every live particle's velocity, each pair formed once in tiles (exact_tiles.cpp), the merges met
// where the pair order meets them, written to current.
void foldExactTiles(StepCommon& step, ExactScratch& scratch, const ExactView& view, bool parallel);
