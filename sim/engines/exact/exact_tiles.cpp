// The exact engine's symmetric schedule: tiles of up to EXACT_TILE rows and columns of live particles,
// each pair formed once. A particle meets its partners below it as a column (tiles (I, K), I < K,
// in ascending I), then those in its own tile in pair order (the diagonal tile, folded per
// particle), then those above it as a row (tiles (K, J), J > K, in ascending J): ascending order,
// the literal one. Rows run on threads as a wavefront: tile (I, J) waits until row I - 1 has done
// (I - 1, J), whose column terms come first; so every velocity takes its terms in the same order
// whatever the threads.
//
// A merge is met where the pair order meets it: in its tile, at the step where that tile's kernel
// holds both velocities; within a diagonal tile, by folds cut at the merges and run in waves, as
// exact_folds.cpp does for the whole table. Diagonal tiles run one after the other (each waits
// for the row above to pass it), so they share the waves' scratch.
#include <algorithm>
#include <cstddef>
#include <thread>

#include "exact_engine.h"

namespace {

// Yields the processor while the row above has not done the tile this one waits for.
void waitForRow(const std::atomic<int32_t>& done, int32_t column) {
    for (int spins = 0; done.load(std::memory_order_acquire) <= column; ++spins) {
        if (spins > 64) std::this_thread::yield();
    }
}

// The partners padded to whole tiles with records that take no part (cut -1), the velocities by
// live position, and which tiles check cuts: those with a particle absorbed this step (every merge
// of a tile absorbs one of its own) or padding.
void prepareTiles(const StepCommon& step, ExactScratch& scratch) {
    const TileGrid& grid = scratch.grid;
    const int32_t tiles = grid.tiles;
    const int32_t n = step.live.count;
    const int32_t padded = tiles * grid.size;
    const ParticleBuffer& s = simState.snapshot;
    for (int32_t k = n; k < padded; ++k) scratch.partners[static_cast<std::size_t>(k)] = ExactPartner{0, 0, 1, 0, -1};
    for (int32_t t = 0; t < tiles; ++t) {
        scratch.tileGuarded[static_cast<std::size_t>(t)] = (t + 1) * grid.size > n;
        scratch.tileHasInnerMerges[static_cast<std::size_t>(t)] = 0;
        scratch.rowsDone[static_cast<std::size_t>(t)].store(0, std::memory_order_relaxed);
    }
    for (int32_t k = 0; k < padded; ++k) {
        const auto at = static_cast<std::size_t>(k);
        if (k >= n) {
            scratch.tileVx[at] = 0;
            scratch.tileVy[at] = 0;
            continue;
        }
        const int32_t i = step.live.tableOf[at];
        scratch.tileVx[at] = s[i].vx;
        scratch.tileVy[at] = s[i].vy;
        if (step.schedule.cutOf[static_cast<std::size_t>(i)] != NO_CUT)
            scratch.tileGuarded[static_cast<std::size_t>(k / grid.size)] = 1;
    }
}

// Each merge between two tiles as its tile's kernel meets it: row i is lane i mod 8 of its row
// group, which reaches column j at pair number group * columns + (j - column tile's begin), and the
// lanes run skewed by their lane number. Sorted by row tile, column tile and step; rowMerges[I] is
// the first of row tile I's.
void scheduleTileMerges(const StepCommon& step, ExactScratch& scratch) {
    const TileGrid& grid = scratch.grid;
    scratch.tileMerges.clear();
    for (const MergeEvent& e : step.schedule.events) {
        const int32_t pi = step.live.compactOf[static_cast<std::size_t>(e.i)];
        const int32_t pj = step.live.compactOf[static_cast<std::size_t>(e.j)];
        const int32_t rowTile = pi / grid.size;
        const int32_t columnTile = pj / grid.size;
        if (rowTile == columnTile) {
            scratch.tileHasInnerMerges[static_cast<std::size_t>(rowTile)] = 1;
            continue;
        }
        const int32_t row = pi - grid.begin(rowTile);
        const int32_t columns = grid.paddedEnd(columnTile) - grid.begin(columnTile);
        const int32_t lane = row % EXACT_LANES;
        const int32_t pair = row / EXACT_LANES * columns + (pj - grid.begin(columnTile));
        scratch.tileMerges.push_back(TileMerge{rowTile, columnTile, ExactTileEvent{pair + lane, lane, e.jSurvives, e.massI, e.massJ}});
    }
    std::sort(scratch.tileMerges.begin(), scratch.tileMerges.end(), [](const TileMerge& a, const TileMerge& b) {
        if (a.rowTile != b.rowTile) return a.rowTile < b.rowTile;
        if (a.columnTile != b.columnTile) return a.columnTile < b.columnTile;
        return a.event.step < b.event.step;
    });
    scratch.tileEvents.clear();
    for (const TileMerge& m : scratch.tileMerges) scratch.tileEvents.push_back(m.event);
    std::size_t k = 0;
    for (int32_t t = 0; t <= grid.tiles; ++t) {
        while (k < scratch.tileMerges.size() && scratch.tileMerges[k].rowTile < t) ++k;
        scratch.rowMerges[static_cast<std::size_t>(t)] = static_cast<int32_t>(k);
    }
}

// The diagonal tile: each of its particles folded over the tile's partners, EXACT_LANES at a time.
void foldDiagonal(const StepCommon& step, ExactScratch& scratch, const ExactView& view, int32_t tile) {
    const int32_t begin = scratch.grid.begin(tile);
    const int32_t end = scratch.grid.end(tile);
    for (int32_t first = begin; first < end; first += EXACT_LANES) {
        const int32_t lanes = std::min(EXACT_LANES, end - first);
        ExactLanes l{};
        for (int32_t k = 0; k < EXACT_LANES; ++k) {
            if (k >= lanes) {
                // An empty lane: no partner is in its range.
                l.mass[k] = 1;
                continue;
            }
            const auto at = static_cast<std::size_t>(first + k);
            placeLane(l, k, scratch.partners[at], first + k);
            l.from[k] = begin;
            l.to[k] = end;
            l.vx[k] = scratch.tileVx[at];
            l.vy[k] = scratch.tileVy[at];
        }
        step.kernels.exactFold(view, l, first, first + lanes - 1, begin, end, lanes < EXACT_LANES);
        for (int32_t k = 0; k < lanes; ++k) {
            scratch.tileVx[static_cast<std::size_t>(first + k)] = l.vx[k];
            scratch.tileVy[static_cast<std::size_t>(first + k)] = l.vy[k];
        }
    }
}

// A merging particle's sides whose partner lies in [begin, end): [first, last) of the schedule's sides.
void innerSides(const StepCommon& step, int32_t group, int32_t begin, int32_t end, int32_t& first, int32_t& last) {
    const MergeGroup& g = step.schedule.groups[static_cast<std::size_t>(group)];
    first = g.firstSide;
    last = g.firstSide + g.sideCount;
    const auto positionOf = [&](int32_t side) {
        return step.live.compactOf[static_cast<std::size_t>(step.schedule.sides[static_cast<std::size_t>(side)].partner)];
    };
    while (first < last && positionOf(first) < begin) ++first;
    while (last > first && positionOf(last - 1) >= end) --last;
}

// Where a particle's stretch of the tile that starts after side `side` (or at the tile's begin)
// ends: at its next side within the tile, or at the tile's end.
int32_t stretchEnd(const StepCommon& step, int32_t side, int32_t last, int32_t end) {
    if (side >= last) return end;
    return step.live.compactOf[static_cast<std::size_t>(step.schedule.sides[static_cast<std::size_t>(side)].partner)];
}

// The first wave of a diagonal tile with merges: every particle over the tile's partners up to its
// first merge within the tile (or all of them); nextSide and sideLimit (by position in the tile)
// bound each merging particle's sides within the tile.
void firstTileWave(const StepCommon& step, ExactScratch& scratch, int32_t begin, int32_t end, int32_t* sideLimit) {
    const MergeSchedule& schedule = step.schedule;
    scratch.wave.clear();
    for (int32_t p = begin; p < end; ++p) {
        const int32_t group = schedule.groupOf[static_cast<std::size_t>(step.live.tableOf[static_cast<std::size_t>(p)])];
        int32_t first = 0;
        int32_t last = 0;
        if (group >= 0) {
            innerSides(step, group, begin, end, first, last);
            scratch.nextSide[static_cast<std::size_t>(group)] = first;
            for (int32_t side = first; side < last; ++side)
                scratch.arrived[static_cast<std::size_t>(schedule.sides[static_cast<std::size_t>(side)].event)] = 0;
        }
        sideLimit[p - begin] = last;
        scratch.wave.push_back(FoldSegment{p, begin, stretchEnd(step, first, last, end),
                                           scratch.tileVx[static_cast<std::size_t>(p)],
                                           scratch.tileVy[static_cast<std::size_t>(p)]});
    }
}

// A fold of the tile that has reached one of its particle's merges within the tile: once the
// partner's has too, the survivor folds on from the merged velocity after the partner, and the
// absorbed one keeps 0.
void arriveInTile(const StepCommon& step, ExactScratch& scratch, const FoldSegment& segment, int32_t group,
                  int32_t begin, int32_t end, const int32_t* sideLimit) {
    const MergeSchedule& schedule = step.schedule;
    const MergeSide& side = schedule.sides[static_cast<std::size_t>(scratch.nextSide[static_cast<std::size_t>(group)])];
    ArrivedVelocity merged{};
    int32_t next = 0;
    if (!arriveAtMergeSide(schedule, scratch, side, segment, merged, next)) return;
    const MergeEvent& event = schedule.events[static_cast<std::size_t>(side.event)];
    const int32_t survivor = step.live.compactOf[static_cast<std::size_t>(event.jSurvives ? event.j : event.i)];
    const int32_t absorbed = step.live.compactOf[static_cast<std::size_t>(event.jSurvives ? event.i : event.j)];
    scratch.tileVx[static_cast<std::size_t>(absorbed)] = 0;
    scratch.tileVy[static_cast<std::size_t>(absorbed)] = 0;
    scratch.nextWave.push_back(FoldSegment{survivor, absorbed + 1, stretchEnd(step, next, sideLimit[survivor - begin], end),
                                           merged.x, merged.y});
}

// The diagonal tile of a tile with merges among its own particles: every particle's fold over the
// tile's partners cut at those merges, in waves; a merge goes ahead once both folds have reached it.
void foldDiagonalWithMerges(StepCommon& step, ExactScratch& scratch, const ExactView& view, int32_t tile) {
    const int32_t begin = scratch.grid.begin(tile);
    const int32_t end = scratch.grid.end(tile);
    int32_t sideLimit[EXACT_TILE];
    firstTileWave(step, scratch, begin, end, sideLimit);
    while (!scratch.wave.empty()) {
        runExactFolds(step, scratch, view, scratch.wave.data(), static_cast<int32_t>(scratch.wave.size()), false);
        scratch.nextWave.clear();
        for (const FoldSegment& segment : scratch.wave) {
            const auto at = static_cast<std::size_t>(segment.particle);
            scratch.tileVx[at] = segment.vx;
            scratch.tileVy[at] = segment.vy;
            const int32_t group = step.schedule.groupOf[static_cast<std::size_t>(step.live.tableOf[at])];
            if (group >= 0 && segment.to != end) arriveInTile(step, scratch, segment, group, begin, end, sideLimit);
        }
        scratch.wave.swap(scratch.nextWave);
    }
}

// Row tile I: its diagonal, then its tiles with every column tile J > I, in ascending J.
void runRow(StepCommon& step, ExactScratch& scratch, const ExactView& view, int32_t row) {
    const TileGrid& grid = scratch.grid;
    std::atomic<int32_t>* done = scratch.rowsDone.data();
    const TileMerge* merge = scratch.tileMerges.data() + scratch.rowMerges[static_cast<std::size_t>(row)];
    const TileMerge* lastMerge = scratch.tileMerges.data() + scratch.rowMerges[static_cast<std::size_t>(row + 1)];
    for (int32_t column = row; column < grid.tiles; ++column) {
        if (row > 0) waitForRow(done[row - 1], column);
        if (column == row) {
            if (scratch.tileHasInnerMerges[static_cast<std::size_t>(row)]) {
                foldDiagonalWithMerges(step, scratch, view, row);
            } else {
                foldDiagonal(step, scratch, view, row);
            }
        } else {
            const bool guarded = scratch.tileGuarded[static_cast<std::size_t>(row)] ||
                                 scratch.tileGuarded[static_cast<std::size_t>(column)];
            const TileMerge* first = merge;
            while (merge < lastMerge && merge->columnTile == column) ++merge;
            const ExactTileEvent* events = scratch.tileEvents.data() + (first - scratch.tileMerges.data());
            step.kernels.exactTile(view, grid.begin(row), grid.paddedEnd(row), grid.begin(column), grid.paddedEnd(column),
                                   scratch.tileVx.data(), scratch.tileVy.data(), guarded, events,
                                   static_cast<int32_t>(merge - first));
        }
        done[row].store(column + 1, std::memory_order_release);
    }
}

}  // namespace

void foldExactTiles(StepCommon& step, ExactScratch& scratch, const ExactView& view, bool parallel) {
    scratch.grid = TileGrid::of(view.count, parallel ? step.threads() : 1);
    prepareTiles(step, scratch);
    scheduleTileMerges(step, scratch);
    auto row = [&](int32_t r) { runRow(step, scratch, view, r); };
    step.pool.run(scratch.grid.tiles, parallel, row);
    // Absorbed particles keep the zeros their merge left.
    ParticleBuffer& c = simState.current;
    for (int32_t k = 0; k < view.count; ++k) {
        const int32_t i = step.live.tableOf[static_cast<std::size_t>(k)];
        if (step.schedule.cutOf[static_cast<std::size_t>(i)] != NO_CUT) continue;
        c[i].vx = scratch.tileVx[static_cast<std::size_t>(k)];
        c[i].vy = scratch.tileVy[static_cast<std::size_t>(k)];
    }
}

TileGrid TileGrid::of(int32_t count, int32_t threads) {
    // The wavefront keeps its threads busy with some four tiles a side for each of them (measured:
    // at 500 particles on two threads, tiles of 48 take three quarters of the time of tiles of 128).
    int32_t size = EXACT_TILE;
    if (threads > 1) {
        size = count / (4 * threads) / EXACT_LANES * EXACT_LANES;
        size = std::clamp(size, MIN_EXACT_TILE, EXACT_TILE);
    }
    return TileGrid{size, count, (count + size - 1) / size};
}
