// The exact engine's one schedule: tiles of live particles (EXACT_TILE rows and columns, down to
// MIN_EXACT_TILE when threads share few particles), each pair formed once; a table of one tile is
// the smallest case. A particle meets its partners below it as a column (tiles (I, K), I < K, in
// ascending I), then those in its own tile in pair order (the diagonal tile, folded per particle,
// exact_diagonal.cpp), then those above it as a row (tiles (K, J), J > K, in ascending J):
// ascending order, the literal one. Rows run on threads as a wavefront: tile (I, J) waits until
// row I - 1 has done (I - 1, J), whose column terms come first; so every velocity takes its terms
// in the same order whatever the threads.
//
// A merge is met where the pair order meets it: between two tiles, at the step where that tile's
// kernel holds both velocities; within a diagonal tile, where both folds reach it.
#include <algorithm>
#include <cmath>
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

// The live particles as partners, with their cuts as live positions, and their velocities, by live
// position; then padding to whole tiles, records that take no part (cut -1). Tiles check cuts where
// a particle is absorbed this step (every merge of a tile absorbs one of its own) or padding lies.
void prepareTiles(const StepContext& step, ExactScratch& scratch) {
    const TileGrid& grid = scratch.grid;
    const int32_t n = step.live.count;
    const ParticleBuffer& s = simState.snapshot;
    const double g = simParameters.gravity;
    for (int32_t t = 0; t < grid.tiles; ++t) {
        scratch.tileGuarded[static_cast<std::size_t>(t)] = (t + 1) * grid.size > n;
        scratch.rowsDone[static_cast<std::size_t>(t)].store(0, std::memory_order_relaxed);
    }
    for (int32_t k = 0; k < n; ++k) {
        const auto at = static_cast<std::size_t>(k);
        const int32_t i = step.live.tableOf[at];
        const int32_t cut = step.schedule.cutOf[static_cast<std::size_t>(i)];
        const double cutAt = cut == NOT_ABSORBED ? NO_CUT : step.live.compactOf[static_cast<std::size_t>(cut)];
        scratch.partners[at] = ExactPartner{s[i].x, s[i].y, s[i].mass, s[i].mass * g, cutAt};
        scratch.tileVx[at] = s[i].vx;
        scratch.tileVy[at] = s[i].vy;
        if (cut != NOT_ABSORBED) scratch.tileGuarded[static_cast<std::size_t>(k / grid.size)] = 1;
    }
    for (int32_t k = n; k < grid.tiles * grid.size; ++k) {
        scratch.partners[static_cast<std::size_t>(k)] = ExactPartner{0, 0, 1, 0, -1};
        scratch.tileVx[static_cast<std::size_t>(k)] = 0;
        scratch.tileVy[static_cast<std::size_t>(k)] = 0;
    }
    for (std::size_t e = 0; e < step.schedule.events.size(); ++e) scratch.arrived[e] = 0;
}

// Each merge between two tiles as its tile's kernel meets it: row i is lane i mod 8 of its row
// group, which reaches column j at pair number group * columns + (j - column tile's begin), and the
// lanes run skewed by their lane number. Sorted by row tile, column tile and step; rowMerges[I] is
// the first of row tile I's. Merges within a tile are its diagonal's.
void scheduleTileMerges(const StepContext& step, ExactScratch& scratch) {
    const TileGrid& grid = scratch.grid;
    scratch.tileMerges.clear();
    for (const MergeEvent& e : step.schedule.events) {
        const int32_t pi = step.live.compactOf[static_cast<std::size_t>(e.i)];
        const int32_t pj = step.live.compactOf[static_cast<std::size_t>(e.j)];
        const int32_t rowTile = pi / grid.size;
        const int32_t columnTile = pj / grid.size;
        if (rowTile == columnTile) continue;
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

// Row tile I: its diagonal, then its tiles with every column tile J > I, in ascending J.
void runRow(StepContext& step, ExactScratch& scratch, const ExactView& view, int32_t row) {
    const TileGrid& grid = scratch.grid;
    std::atomic<int32_t>* done = scratch.rowsDone.data();
    const TileMerge* merge = scratch.tileMerges.data() + scratch.rowMerges[static_cast<std::size_t>(row)];
    const TileMerge* lastMerge = scratch.tileMerges.data() + scratch.rowMerges[static_cast<std::size_t>(row + 1)];
    for (int32_t column = row; column < grid.tiles; ++column) {
        if (row > 0) waitForRow(done[row - 1], column);
        if (column == row) {
            foldDiagonal(step, scratch, view, row);
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

bool foldExactTiles(StepContext& step, ExactScratch& scratch, const ExactView& view, bool parallel) {
    scratch.grid = TileGrid::of(view.count, parallel ? step.threads() : 1);
    prepareTiles(step, scratch);
    scheduleTileMerges(step, scratch);
    auto row = [&](int32_t r) { runRow(step, scratch, view, r); };
    step.pool.run(scratch.grid.tiles, parallel, row);
    // Absorbed particles keep the zeros their merge left.
    ParticleBuffer& c = simState.current;
    bool finite = true;
    for (int32_t k = 0; k < view.count; ++k) {
        const int32_t i = step.live.tableOf[static_cast<std::size_t>(k)];
        if (step.schedule.cutOf[static_cast<std::size_t>(i)] != NOT_ABSORBED) continue;
        c[i].vx = scratch.tileVx[static_cast<std::size_t>(k)];
        c[i].vy = scratch.tileVy[static_cast<std::size_t>(k)];
        finite = finite && std::isfinite(c[i].vx) && std::isfinite(c[i].vy);
    }
    return finite;
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
