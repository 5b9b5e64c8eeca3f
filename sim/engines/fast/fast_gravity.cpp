// How the fast pass lays the particles out in tiles and cuts the tiles into tasks for the worker
// pool. Both depend on the table alone, never on the threads, and so do the results.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "fast_engine.h"
#include "scratch.h"

namespace {

// Upper bound of blocks per side: 136 block pairs keep a few cores balanced while the partial sums
// (blocks per particle) stay small.
constexpr int32_t MAX_BLOCKS = 16;

// Columns of each strip of the tile order, per tile side.
constexpr double COLUMNS_PER_SIDE = 4;
// At most this many cells, whatever the field's shape.
constexpr int32_t MAX_CELLS = 1 << 16;

// The cell of the tile order a position falls in, clamped to the field.
int32_t cellOf(double position, double perCell, int32_t cells) {
    const double cell = position * perCell;
    if (cell >= cells - 1) return cells - 1;
    return cell > 0 ? static_cast<int32_t>(cell) : 0;  // truncation is the floor here
}

// A number of cells: about `cells`, from 1 to most.
int32_t cellCount(double cells, int32_t most) {
    if (!(cells >= 1)) return 1;
    return cells >= most ? most : static_cast<int32_t>(std::round(cells));
}

// Tile order: the field in strips about the side of a tile's share of it high, each strip in
// columns a quarter of that wide, strips taken alternately left to right and right to left, live
// order within a cell. A tile of consecutive particles then covers about its share of the field,
// so that its offsets from a row mostly wrap alike (the kernels test the wrap only where not).
// A counting sort: the order depends on the positions alone.
void placeInTiles(const GravityView& live, FastScratch& scratch) {
    const int32_t n = live.count;
    const double side = std::sqrt(KERNEL_TILE * live.width * live.height / n);
    const int32_t strips = cellCount(live.height / side, 256);
    const int32_t columns = cellCount(COLUMNS_PER_SIDE * live.width / side, MAX_CELLS / strips);
    const double stripsPerUnit = strips / live.height;
    const double columnsPerUnit = columns / live.width;
    std::vector<int32_t>& start = scratch.cellStart;
    start.assign(static_cast<std::size_t>(strips * columns) + 1, 0);
    for (int32_t k = 0; k < n; ++k) {
        const int32_t strip = cellOf(live.y[k], stripsPerUnit, strips);
        const int32_t column = cellOf(live.x[k], columnsPerUnit, columns);
        const int32_t cell = strip * columns + (strip % 2 == 0 ? column : columns - 1 - column);
        scratch.cellOfLive[static_cast<std::size_t>(k)] = cell;
        ++start[static_cast<std::size_t>(cell) + 1];
    }
    for (std::size_t c = 1; c < start.size(); ++c) start[c] += start[c - 1];
    for (int32_t k = 0; k < n; ++k) {
        const auto cell = static_cast<std::size_t>(scratch.cellOfLive[static_cast<std::size_t>(k)]);
        scratch.liveOf[static_cast<std::size_t>(start[cell]++)] = k;
    }

    KernelParticles& t = scratch.tiled;
    for (int32_t p = 0; p < n; ++p) {
        const auto at = static_cast<std::size_t>(p);
        const auto k = static_cast<std::size_t>(scratch.liveOf[at]);
        t.x[at] = live.x[k];
        t.y[at] = live.y[k];
        t.gm[at] = live.gm[k];
        t.idx[at] = live.idx[k];
        t.cut[at] = live.cut[k];
    }
    // Padding as in live order, at the last particle of the tile order.
    const int32_t padded = paddedCount(n);
    for (int32_t p = n; p < padded; ++p) {
        const auto at = static_cast<std::size_t>(p);
        t.x[at] = t.x[static_cast<std::size_t>(n - 1)];
        t.y[at] = t.y[static_cast<std::size_t>(n - 1)];
        t.gm[at] = live.gm[at];
        t.idx[at] = live.idx[at];
        t.cut[at] = live.cut[at];
    }
    for (int32_t tile = 0; tile < padded / KERNEL_TILE; ++tile) {
        const auto begin = static_cast<std::size_t>(tile * KERNEL_TILE);
        const auto end = static_cast<std::size_t>(std::min((tile + 1) * KERNEL_TILE, n));
        double least[2] = {t.x[begin], t.y[begin]};
        double greatest[2] = {t.x[begin], t.y[begin]};
        double near = INFINITY;
        bool cut = false;
        for (std::size_t at = begin; at < end; ++at) {
            least[0] = std::min(least[0], t.x[at]);
            greatest[0] = std::max(greatest[0], t.x[at]);
            least[1] = std::min(least[1], t.y[at]);
            greatest[1] = std::max(greatest[1], t.y[at]);
            near = std::min({near, std::fabs(t.x[at]), std::fabs(t.y[at])});
            cut = cut || t.cut[at] != NO_CUT;
        }
        scratch.tileNear[static_cast<std::size_t>(tile)] = near;
        double* box = scratch.tileBox.data() + 4 * static_cast<std::size_t>(tile);
        box[0] = least[0];
        box[1] = greatest[0];
        box[2] = least[1];
        box[3] = greatest[1];
        scratch.tileCut[static_cast<std::size_t>(tile)] = cut ? 1 : 0;
    }
}

// Blocks of whole tiles; one block while the step runs on one thread anyway (fewer, longer passes
// over the rows).
void layOutBlocks(GravityView& view, FastScratch& scratch) {
    const int32_t tiles = view.padded / KERNEL_TILE;
    int32_t blocks = view.count < MIN_PARALLEL_COUNT ? 1 : std::min(MAX_BLOCKS, tiles);
    const int32_t blockSize = (tiles + blocks - 1) / blocks * KERNEL_TILE;
    blocks = (view.padded + blockSize - 1) / blockSize;
    view.blockSize = blockSize;
    view.blocks = blocks;
    view.partX = scratch.partX.data();
    view.partY = scratch.partY.data();
    scratch.blockPairs.clear();
    for (int32_t a = 0; a < blocks; ++a) {
        for (int32_t b = a + 1; b < blocks; ++b) scratch.blockPairs.push_back(a * MAX_BLOCKS + b);
    }
    for (int32_t a = 0; a < blocks; ++a) scratch.blockPairs.push_back(a * MAX_BLOCKS + a);
}

// Each particle of the block: its parts summed in block order, the same for every schedule.
void reduceBlock(const GravityView& view, FastScratch& scratch, int32_t block) {
    const int32_t begin = block * view.blockSize;
    const int32_t end = std::min(begin + view.blockSize, view.count);
    for (int32_t p = begin; p < end; ++p) {
        double sx = 0;
        double sy = 0;
        for (int32_t q = 0; q < view.blocks; ++q) {
            const std::size_t at =
                (static_cast<std::size_t>(block) * static_cast<std::size_t>(view.blocks) + static_cast<std::size_t>(q)) *
                    static_cast<std::size_t>(view.blockSize) +
                static_cast<std::size_t>(p - begin);
            sx = sx + view.partX[at];
            sy = sy + view.partY[at];
        }
        const auto live = static_cast<std::size_t>(scratch.liveOf[static_cast<std::size_t>(p)]);
        scratch.totalX[live] = sx;
        scratch.totalY[live] = sy;
    }
}

}  // namespace

void reserveFastGravity(FastScratch& scratch, int32_t n) {
    const auto padded = static_cast<std::size_t>(paddedCount(n) + KERNEL_TILE);
    KernelParticles& tiled = scratch.tiled;
    growTo(padded, tiled.x, tiled.y, tiled.gm, tiled.idx, tiled.cut, scratch.liveOf, scratch.cellOfLive);
    growTo(padded / KERNEL_TILE, scratch.tileCut);
    growTo(4 * padded / KERNEL_TILE, scratch.tileBox);
    growTo(padded / KERNEL_TILE, scratch.tileNear);
    scratch.cellStart.reserve(MAX_CELLS + 1);
    // blocks^2 * blockSize <= blocks * padded + blocks^2 * tile
    const std::size_t parts = MAX_BLOCKS * padded + MAX_BLOCKS * MAX_BLOCKS * KERNEL_TILE;
    if (parts <= scratch.partX.size()) return;
    scratch.partX.resize(parts);
    scratch.partY.resize(parts);
    scratch.blockPairs.reserve(MAX_BLOCKS * MAX_BLOCKS);
}

void runFastGravity(StepContext& step, FastScratch& scratch, const GravityView& live, bool parallel) {
    placeInTiles(live, scratch);
    const KernelParticles& tiled = scratch.tiled;
    GravityView view = live;
    view.x = tiled.x.data();
    view.y = tiled.y.data();
    view.gm = tiled.gm.data();
    view.idx = tiled.idx.data();
    view.cut = tiled.cut.data();
    view.tileCut = scratch.tileCut.data();
    view.tileBox = scratch.tileBox.data();
    view.tileNear = scratch.tileNear.data();
    layOutBlocks(view, scratch);
    const GravityKernels& kernels = step.kernels;
    auto blockPair = [&](int32_t task) {
        const int32_t pair = scratch.blockPairs[static_cast<std::size_t>(task)];
        kernels.pairTask(view, pair / MAX_BLOCKS, pair % MAX_BLOCKS);
    };
    step.pool.run(static_cast<int32_t>(scratch.blockPairs.size()), parallel, blockPair);
    auto reduce = [&](int32_t block) { reduceBlock(view, scratch, block); };
    step.pool.run(view.blocks, parallel, reduce);
}
