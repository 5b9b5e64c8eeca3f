// The exact engine: the literal step's bytes, every tick. In the literal pair loop a particle meets
// its partners in ascending order of their indices, so its velocity is one fold over them, each
// term formed with its pair's own operands. The engine forms each pair once, in tiles taken in the
// pair loop's order (exact_tiles.cpp), and adds its two terms where the two folds meet them; the
// merges come first (merge_search.h), and their velocities are formed where the folds reach them.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "kernels.h"
#include "step_context.h"

// How the exact engine forms its quotients and square roots: with the instructions, or built from
// the processor's estimates with fused multiply-adds and proven lane by lane (rounded_divsqrt_*.h),
// or whichever of the two a short timing at first use finds faster (the default). The bits are the
// same every way; only the portable kernels have no built way.
enum class ExactDivision { Instructions, Built, Faster };

// The exact engine's own settings. Its bits never depend on them.
struct ExactSettings {
    ExactDivision division = ExactDivision::Faster;
};

// The smallest tiles the grid cuts (many threads over few particles); the largest are EXACT_TILE.
inline constexpr int32_t MIN_EXACT_TILE = 32;

// The live particles cut into tiles of `size` rows and columns (whole lane groups), the last one
// short; a tile's kernels run to its end rounded up to whole lanes, over padding.
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

// One particle's fold over a run of its partners in a diagonal tile, on from its velocity there.
struct FoldSegment {
    int32_t particle;  // live position
    int32_t from;      // live positions [from, to) of the partners
    int32_t to;
};

struct ExactScratch {
    std::vector<ExactPartner> partners;  // by live position, padded to whole tiles
    // The tiles: velocities by live position, which tiles need the guarded kernels, and how many
    // column tiles each row has done.
    TileGrid grid;
    std::vector<double> tileVx, tileVy;
    std::vector<unsigned char> tileGuarded;
    std::vector<std::atomic<int32_t>> rowsDone;
    // The merges between two tiles, by row tile, column tile and step, and where each row tile's
    // begin.
    std::vector<TileMerge> tileMerges;
    std::vector<ExactTileEvent> tileEvents;  // the same, as the kernels read them
    std::vector<int32_t> rowMerges;
    // The diagonal tiles' waves: the folds of a wave and of the next; per merge event, which of its
    // folds have reached it (bit 1 for i, 2 for j); per merging particle, the side its current
    // stretch ends at.
    std::vector<FoldSegment> wave, nextWave;
    std::vector<unsigned char> arrived;
    std::vector<int32_t> nextSide;
    // Per kernel level: whether the built quotients and roots were the faster (-1: not yet timed).
    int builtFaster[3] = {-1, -1, -1};
    bool lastStepBuilt = false;  // whether the last exact step built them
};

// Sizes the scratch for tables of n records.
void reserveExactScratch(ExactScratch& scratch, int32_t n);

// The step (see exact_step.cpp for the states it hands to the literal one).
void stepSimulationExact(StepContext& step, const ExactSettings& settings, ExactScratch& scratch, double width,
                         double height);

// Whether the exact step at the step's kernel level builds its quotients and roots: as the settings
// say, or where they leave it to the engine, as a timing of both ways found (once per level).
bool chooseExactDivision(const StepContext& step, const ExactSettings& settings, ExactScratch& scratch);

// Every live particle's velocity, each pair formed once in tiles, the merges met where the pair
// order meets them, written to current but for the absorbed particles'. False when one of them
// came out infinite or not a number.
bool foldExactTiles(StepContext& step, ExactScratch& scratch, const ExactView& view, bool parallel);

// A diagonal tile (exact_diagonal.cpp): every particle of the tile folded over the tile's partners,
// its velocity by live position in the scratch.
void foldDiagonal(const StepContext& step, ExactScratch& scratch, const ExactView& view, int32_t tile);
