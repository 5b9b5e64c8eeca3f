// The exact engine's diagonal tiles: each particle of the tile folded over the tile's partners in
// ascending order, EXACT_LANES particles side by side. A merge between two particles of the tile
// cuts both folds there, so the folds run in waves: a merge goes ahead once both folds have reached
// it, and the survivor folds on from the merged velocity, after the partner it met, in the next
// wave. A fold waiting at a merge leaves its velocity untouched, so every velocity, whether folding
// or waiting, is the tile's (tileVx, tileVy). Diagonal tiles run one after the other (each waits
// for the row above to pass it), so they share the waves' scratch.
#include <algorithm>
#include <cstddef>

#include "exact_engine.h"
#include "merge_rule.h"

namespace {

// Loads up to EXACT_LANES segments from first into lanes; the partners' range of them all and the
// lanes' own live positions come back in begin, end, lowest and highest. True when the lanes do
// not all take the same range (or some lane is empty), so that each must keep to its own.
bool loadLanes(const ExactView& view, const ExactScratch& scratch, const FoldSegment* segments, int32_t lanes,
               ExactLanes& l, int32_t& begin, int32_t& end, int32_t& lowest, int32_t& highest) {
    begin = segments[0].from;
    end = segments[0].to;
    lowest = segments[0].particle;
    highest = lowest;
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
        const FoldSegment& s = segments[k];
        const auto at = static_cast<std::size_t>(s.particle);
        const ExactPartner& p = view.partner[at];
        l.x[k] = p.x;
        l.y[k] = p.y;
        l.mass[k] = p.mass;
        l.massG[k] = p.massG;
        l.pos[k] = s.particle;
        l.from[k] = s.from;
        l.to[k] = s.to;
        l.vx[k] = scratch.tileVx[at];
        l.vy[k] = scratch.tileVy[at];
        ranged = ranged || s.from != begin || s.to != end;
        begin = std::min(begin, s.from);
        end = std::max(end, s.to);
        lowest = std::min(lowest, s.particle);
        highest = std::max(highest, s.particle);
    }
    return ranged;
}

// Every segment of the wave folded, EXACT_LANES side by side. Like ranges go side by side, so that
// few lanes wait for the longest (a first wave whose folds all run to the tile's end is in that
// order already).
void foldWave(const StepContext& step, ExactScratch& scratch, const ExactView& view, bool inOrder) {
    std::vector<FoldSegment>& wave = scratch.wave;
    if (!inOrder) {
        std::sort(wave.begin(), wave.end(), [](const FoldSegment& a, const FoldSegment& b) {
            if (a.from != b.from) return a.from < b.from;
            if (a.to != b.to) return a.to < b.to;
            return a.particle < b.particle;
        });
    }
    const auto count = static_cast<int32_t>(wave.size());
    for (int32_t first = 0; first < count; first += EXACT_LANES) {
        const int32_t lanes = std::min(EXACT_LANES, count - first);
        ExactLanes l{};
        int32_t begin = 0;
        int32_t end = 0;
        int32_t lowest = 0;
        int32_t highest = 0;
        const bool ranged = loadLanes(view, scratch, wave.data() + first, lanes, l, begin, end, lowest, highest);
        step.kernels.exactFold(view, l, lowest, highest, begin, end, ranged);
        for (int32_t k = 0; k < lanes; ++k) {
            const auto at = static_cast<std::size_t>(wave[static_cast<std::size_t>(first + k)].particle);
            scratch.tileVx[at] = l.vx[k];
            scratch.tileVy[at] = l.vy[k];
        }
    }
}

// Where a merging particle's stretch that ends at its side `side` ends within a tile that ends at
// `end`: at that side's partner, or at the tile's end once its merges lie beyond it.
int32_t stretchEnd(const StepContext& step, const MergingParticle& particle, int32_t side, int32_t end) {
    if (side == particle.firstSide + particle.sideCount) return end;
    const MergeSide& next = step.schedule.sides[static_cast<std::size_t>(side)];
    return std::min(step.live.compactOf[static_cast<std::size_t>(next.partner)], end);
}

// The particle at live position p as a merging particle: its entry in the schedule, -1 if none.
int32_t mergingAt(const StepContext& step, int32_t p) {
    return step.schedule.mergingOf[static_cast<std::size_t>(step.live.tableOf[static_cast<std::size_t>(p)])];
}

// The first wave: every particle of the tile [begin, end) from its first partner there up to its
// first merge within the tile, or to the tile's end. Its merges with earlier tiles were met there.
// Whether every fold runs to the tile's end.
bool firstWave(const StepContext& step, ExactScratch& scratch, int32_t begin, int32_t end) {
    const MergeSchedule& schedule = step.schedule;
    bool whole = true;
    scratch.wave.clear();
    for (int32_t p = begin; p < end; ++p) {
        const int32_t m = schedule.merging.empty() ? -1 : mergingAt(step, p);
        int32_t to = end;
        if (m >= 0) {
            const MergingParticle& particle = schedule.merging[static_cast<std::size_t>(m)];
            int32_t side = particle.firstSide;
            const int32_t lastSide = particle.firstSide + particle.sideCount;
            while (side < lastSide && stretchEnd(step, particle, side, end) < begin) ++side;
            scratch.nextSide[static_cast<std::size_t>(m)] = side;
            to = stretchEnd(step, particle, side, end);
            whole = whole && to == end;
        }
        scratch.wave.push_back(FoldSegment{p, begin, to});
    }
    return whole;
}

// A fold has reached its side of a merge within the tile: once the partner's fold has too, the
// survivor takes the merged velocity and folds on from it in the next wave.
void arriveAtMerge(const StepContext& step, ExactScratch& scratch, const FoldSegment& segment, int32_t end) {
    const MergeSchedule& schedule = step.schedule;
    const int32_t* compactOf = step.live.compactOf.data();
    const int32_t m = mergingAt(step, segment.particle);
    const MergeSide& side = schedule.sides[static_cast<std::size_t>(scratch.nextSide[static_cast<std::size_t>(m)])];
    unsigned char& arrived = scratch.arrived[static_cast<std::size_t>(side.event)];
    arrived = static_cast<unsigned char>(arrived | (side.isI ? 1 : 2));
    if (arrived != 3) return;
    const MergeEvent& event = schedule.events[static_cast<std::size_t>(side.event)];
    const int32_t i = compactOf[event.i];
    const int32_t j = compactOf[event.j];
    const int32_t survivor = event.jSurvives ? j : i;
    double* vx = scratch.tileVx.data();
    double* vy = scratch.tileVy.data();
    vx[survivor] = mergedVelocity(vx[i], event.massI, vx[j], event.massJ);
    vy[survivor] = mergedVelocity(vy[i], event.massI, vy[j], event.massJ);
    const int32_t s = mergingAt(step, survivor);
    const int32_t next = ++scratch.nextSide[static_cast<std::size_t>(s)];
    // The survivor folds on after the partner it absorbed.
    scratch.nextWave.push_back(FoldSegment{survivor, (event.jSurvives ? i : j) + 1,
                                           stretchEnd(step, schedule.merging[static_cast<std::size_t>(s)], next, end)});
}

}  // namespace

void foldDiagonal(const StepContext& step, ExactScratch& scratch, const ExactView& view, int32_t tile) {
    const int32_t begin = scratch.grid.begin(tile);
    const int32_t end = scratch.grid.end(tile);
    bool inOrder = firstWave(step, scratch, begin, end);
    while (!scratch.wave.empty()) {
        foldWave(step, scratch, view, inOrder);
        inOrder = false;
        scratch.nextWave.clear();
        for (const FoldSegment& segment : scratch.wave) {
            if (segment.to != end) arriveAtMerge(step, scratch, segment, end);
        }
        scratch.wave.swap(scratch.nextWave);
    }
}
