#include "gravity_schedule.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "worker_pool.h"

namespace {

// Upper bound of blocks per side: 136 block pairs keep a few cores balanced while the partial sums
// (blocks per particle) stay small.
constexpr int32_t MAX_BLOCKS = 16;

struct ScheduleScratch {
    std::vector<double> partX, partY;
    std::vector<int32_t> blockPairs;  // a * MAX_BLOCKS + b
    std::vector<int32_t> groupStart;  // exact folds: first segment of each fold
};

constinit ScheduleScratch scratch;

int32_t paddedCount(int32_t n) { return (n + KERNEL_TILE - 1) / KERNEL_TILE * KERNEL_TILE; }

}  // namespace

void reserveGravitySchedule(int32_t n) {
    const auto padded = static_cast<std::size_t>(paddedCount(n) + KERNEL_TILE);
    // blocks^2 * blockSize <= blocks * padded + blocks^2 * tile
    const std::size_t parts = MAX_BLOCKS * padded + MAX_BLOCKS * MAX_BLOCKS * KERNEL_TILE;
    if (parts <= scratch.partX.size()) return;
    scratch.partX.resize(parts);
    scratch.partY.resize(parts);
    scratch.blockPairs.reserve(MAX_BLOCKS * MAX_BLOCKS);
    scratch.groupStart.reserve(static_cast<std::size_t>(n) / EXACT_LANES + 2);
}

void runFastGravity(GravityView& view, const GravityKernels& kernels, bool parallel, double* totalX, double* totalY) {
    const int32_t tiles = view.padded / KERNEL_TILE;
    // One block while the step runs on one thread anyway: fewer, longer passes over the rows.
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

    auto blockPair = [&](int32_t task) {
        const int32_t pair = scratch.blockPairs[static_cast<std::size_t>(task)];
        kernels.pairTask(view, pair / MAX_BLOCKS, pair % MAX_BLOCKS);
    };
    runStepTasks(static_cast<int32_t>(scratch.blockPairs.size()), parallel, blockPair);

    // Each particle's total: its block's parts summed in block order, the same for every schedule.
    auto reduce = [&](int32_t block) {
        const int32_t begin = block * blockSize;
        const int32_t end = std::min(begin + blockSize, view.count);
        for (int32_t p = begin; p < end; ++p) {
            double sx = 0;
            double sy = 0;
            for (int32_t q = 0; q < blocks; ++q) {
                const std::size_t at =
                    (static_cast<std::size_t>(block) * static_cast<std::size_t>(blocks) + static_cast<std::size_t>(q)) *
                        static_cast<std::size_t>(blockSize) +
                    static_cast<std::size_t>(p - begin);
                sx = sx + view.partX[at];
                sy = sy + view.partY[at];
            }
            totalX[static_cast<std::size_t>(p)] = sx;
            totalY[static_cast<std::size_t>(p)] = sy;
        }
    };
    runStepTasks(blocks, parallel, reduce);
}

void runExactFolds(const ExactView& view, const GravityKernels& kernels, FoldSegment* segments, int32_t count,
                   bool parallel) {
    // Like ranges side by side, so that few lanes wait for the longest; the same particles of a
    // whole fold stay consecutive, which keeps the partners among them few.
    std::sort(segments, segments + count, [](const FoldSegment& a, const FoldSegment& b) {
        if (a.from != b.from) return a.from < b.from;
        if (a.to != b.to) return a.to < b.to;
        return a.particle < b.particle;
    });
    scratch.groupStart.clear();
    for (int32_t k = 0; k < count; k += EXACT_LANES) scratch.groupStart.push_back(k);
    const auto groups = static_cast<int32_t>(scratch.groupStart.size());

    auto fold = [&](int32_t group) {
        const int32_t first = scratch.groupStart[static_cast<std::size_t>(group)];
        const int32_t lanes = std::min(EXACT_LANES, count - first);
        ExactLanes l{};
        int32_t begin = segments[first].from;
        int32_t end = segments[first].to;
        int32_t lowest = segments[first].particle;
        int32_t highest = lowest;
        bool ranged = false;
        for (int32_t k = 0; k < EXACT_LANES; ++k) {
            if (k >= lanes) {
                // An empty lane: no partner is in its range.
                l.from[k] = 0;
                l.to[k] = 0;
                l.mass[k] = 1;
                ranged = true;
                continue;
            }
            const FoldSegment& s = segments[first + k];
            const auto p = static_cast<std::size_t>(s.particle);
            const ExactPartner& lane = view.partner[p];
            l.x[k] = lane.x;
            l.y[k] = lane.y;
            l.mass[k] = lane.mass;
            l.massG[k] = lane.massG;
            l.pos[k] = s.particle;
            l.from[k] = s.from;
            l.to[k] = s.to;
            l.vx[k] = s.vx;
            l.vy[k] = s.vy;
            ranged = ranged || s.from != begin || s.to != end;
            begin = std::min(begin, s.from);
            end = std::max(end, s.to);
            lowest = std::min(lowest, s.particle);
            highest = std::max(highest, s.particle);
        }
        kernels.exactFold(view, l, lowest, highest, begin, end, ranged);
        for (int32_t k = 0; k < lanes; ++k) {
            segments[first + k].vx = l.vx[k];
            segments[first + k].vy = l.vy[k];
        }
    };
    runStepTasks(groups, parallel, fold);
}
