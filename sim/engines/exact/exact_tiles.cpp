// The exact engine's symmetric schedule: tiles of EXACT_TILE rows and columns of live particles,
// each pair formed once. A particle meets its partners below it as a column (tiles (I, K), I < K,
// in ascending I), then those in its own tile in pair order (the diagonal tile, folded per
// particle), then those above it as a row (tiles (K, J), J > K, in ascending J): ascending order,
// the literal one. Rows run on threads as a wavefront: tile (I, J) waits until row I - 1 has done
// (I - 1, J), whose column terms come first; so every velocity takes its terms in the same order
// whatever the threads.
//
// Particles that merge are folded per stretch by the waves (exact_folds.cpp); here they still
// give their terms to the others, and what the tiles leave in their own velocities is dropped.
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
// live position, and which tiles need the guarded kernels: those with a merging particle or padding.
void prepareTiles(const StepCommon& step, ExactScratch& scratch, int32_t tiles) {
    const int32_t n = step.live.count;
    const int32_t padded = tiles * EXACT_TILE;
    const ParticleBuffer& s = simState.snapshot;
    for (int32_t k = n; k < padded; ++k) scratch.partners[static_cast<std::size_t>(k)] = ExactPartner{0, 0, 1, 0, -1};
    for (int32_t t = 0; t < tiles; ++t) scratch.tileGuarded[static_cast<std::size_t>(t)] = (t + 1) * EXACT_TILE > n;
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
        if (step.schedule.groupOf[static_cast<std::size_t>(i)] >= 0)
            scratch.tileGuarded[static_cast<std::size_t>(k / EXACT_TILE)] = 1;
    }
    for (int32_t t = 0; t < tiles; ++t) scratch.rowsDone[static_cast<std::size_t>(t)].store(0, std::memory_order_relaxed);
}

// The diagonal tile: each of its particles folded over the tile's partners, EXACT_LANES at a time.
void foldDiagonal(const StepCommon& step, ExactScratch& scratch, const ExactView& view, int32_t tile) {
    const int32_t begin = tile * EXACT_TILE;
    const int32_t end = std::min(begin + EXACT_TILE, view.count);
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
            const ExactPartner& p = scratch.partners[at];
            l.x[k] = p.x;
            l.y[k] = p.y;
            l.mass[k] = p.mass;
            l.massG[k] = p.massG;
            l.pos[k] = first + k;
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

// Live positions [begin, end) of a tile, the end rounded up to whole lanes (the rest is padding).
int32_t tileEnd(const ExactView& view, int32_t tile) {
    const int32_t end = std::min((tile + 1) * EXACT_TILE, view.count);
    return (end + EXACT_LANES - 1) / EXACT_LANES * EXACT_LANES;
}

// Row tile I: its diagonal, then its tiles with every column tile J > I, in ascending J.
void runRow(const StepCommon& step, ExactScratch& scratch, const ExactView& view, int32_t tiles, int32_t row) {
    std::atomic<int32_t>* done = scratch.rowsDone.data();
    for (int32_t column = row; column < tiles; ++column) {
        if (row > 0) waitForRow(done[row - 1], column);
        if (column == row) {
            foldDiagonal(step, scratch, view, row);
        } else {
            const bool guarded = scratch.tileGuarded[static_cast<std::size_t>(row)] ||
                                 scratch.tileGuarded[static_cast<std::size_t>(column)];
            step.kernels.exactTile(view, row * EXACT_TILE, tileEnd(view, row), column * EXACT_TILE,
                                   tileEnd(view, column), scratch.tileVx.data(), scratch.tileVy.data(), guarded);
        }
        done[row].store(column + 1, std::memory_order_release);
    }
}

}  // namespace

void foldExactTiles(StepCommon& step, ExactScratch& scratch, const ExactView& view, bool parallel) {
    const int32_t tiles = (view.count + EXACT_TILE - 1) / EXACT_TILE;
    prepareTiles(step, scratch, tiles);
    auto row = [&](int32_t r) { runRow(step, scratch, view, tiles, r); };
    step.pool.run(tiles, parallel, row);
    ParticleBuffer& c = simState.current;
    for (int32_t k = 0; k < view.count; ++k) {
        const int32_t i = step.live.tableOf[static_cast<std::size_t>(k)];
        if (step.schedule.groupOf[static_cast<std::size_t>(i)] >= 0) continue;
        c[i].vx = scratch.tileVx[static_cast<std::size_t>(k)];
        c[i].vy = scratch.tileVy[static_cast<std::size_t>(k)];
    }
}
