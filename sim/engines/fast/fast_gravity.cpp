// How the fast pass is cut into tasks for the worker pool. The cuts depend on the table alone,
// never on the threads, and so do the results.
#include <algorithm>
#include <cstddef>

#include "fast_engine.h"

namespace {

// Upper bound of blocks per side: 136 block pairs keep a few cores balanced while the partial sums
// (blocks per particle) stay small.
constexpr int32_t MAX_BLOCKS = 16;

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
        scratch.totalX[static_cast<std::size_t>(p)] = sx;
        scratch.totalY[static_cast<std::size_t>(p)] = sy;
    }
}

}  // namespace

void reserveFastGravity(FastScratch& scratch, int32_t n) {
    const auto padded = static_cast<std::size_t>(paddedCount(n) + KERNEL_TILE);
    // blocks^2 * blockSize <= blocks * padded + blocks^2 * tile
    const std::size_t parts = MAX_BLOCKS * padded + MAX_BLOCKS * MAX_BLOCKS * KERNEL_TILE;
    if (parts <= scratch.partX.size()) return;
    scratch.partX.resize(parts);
    scratch.partY.resize(parts);
    scratch.blockPairs.reserve(MAX_BLOCKS * MAX_BLOCKS);
}

void runFastGravity(StepContext& step, FastScratch& scratch, GravityView& view, bool parallel) {
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
