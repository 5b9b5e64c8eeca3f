// The exact engine's gravity: folds in waves, each wave's segments EXACT_LANES side by side.
#include <algorithm>
#include <cstddef>

#include "exact_engine.h"
#include "merge_rule.h"

namespace {

// Loads up to EXACT_LANES segments from first into lanes; the partners' range of them all and the
// lanes' own live positions come back in begin, end, lowest and highest. True when the lanes do
// not all take the same range (or some lane is empty), so that each must keep to its own.
bool loadLanes(const ExactView& view, const FoldSegment* segments, int32_t lanes, ExactLanes& l, int32_t& begin,
               int32_t& end, int32_t& lowest, int32_t& highest) {
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
        placeLane(l, k, view.partner[static_cast<std::size_t>(s.particle)], s.particle);
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
    return ranged;
}

// The first wave: every particle that does not merge over all its partners, and every merging
// one up to its first merge.
void firstWave(const StepCommon& step, ExactScratch& scratch) {
    const MergeSchedule& schedule = step.schedule;
    const LiveIndex& live = step.live;
    const ParticleBuffer& s = simState.snapshot;
    scratch.wave.clear();
    for (int32_t p = 0; p < live.count; ++p) {
        const int32_t i = live.tableOf[static_cast<std::size_t>(p)];
        const int32_t group = schedule.groupOf[static_cast<std::size_t>(i)];
        int32_t end = live.count;
        if (group >= 0) {
            int32_t begin = 0;
            stretchBounds(schedule, schedule.groups[static_cast<std::size_t>(group)], 0, live, begin, end);
            scratch.nextSide[static_cast<std::size_t>(group)] = 0;
        }
        scratch.wave.push_back(FoldSegment{p, 0, end, s[i].vx, s[i].vy});
    }
    for (std::size_t e = 0; e < schedule.events.size(); ++e) scratch.arrived[e] = 0;
}

// A folded segment that has reached one of its particle's merges: once the partner's fold has
// arrived too, the merged velocity starts the survivor's next stretch in the next wave.
void arriveAtMerge(const StepCommon& step, ExactScratch& scratch, const FoldSegment& segment, int32_t groupIndex) {
    const MergeSchedule& schedule = step.schedule;
    const MergeGroup& group = schedule.groups[static_cast<std::size_t>(groupIndex)];
    const MergeSide& side =
        schedule.sides[static_cast<std::size_t>(group.firstSide + scratch.nextSide[static_cast<std::size_t>(groupIndex)])];
    ArrivedVelocity merged{};
    int32_t t = 0;
    if (!arriveAtMergeSide(schedule, scratch, side, segment, merged, t)) return;
    // The survivor folds on from the merged velocity, after the partner it met here.
    const MergeEvent& event = schedule.events[static_cast<std::size_t>(side.event)];
    const int32_t survivor = event.jSurvives ? event.j : event.i;
    const int32_t survivorGroup = schedule.groupOf[static_cast<std::size_t>(survivor)];
    int32_t begin = 0;
    int32_t end = 0;
    stretchBounds(schedule, schedule.groups[static_cast<std::size_t>(survivorGroup)], t, step.live, begin, end);
    scratch.nextWave.push_back(
        FoldSegment{step.live.compactOf[static_cast<std::size_t>(survivor)], begin, end, merged.x, merged.y});
}

}  // namespace

bool arriveAtMergeSide(const MergeSchedule& schedule, ExactScratch& scratch, const MergeSide& side,
                       const FoldSegment& segment, ArrivedVelocity& merged, int32_t& stretch) {
    const auto e = static_cast<std::size_t>(side.event);
    (side.isI ? scratch.arrivedI : scratch.arrivedJ)[e] = ArrivedVelocity{segment.vx, segment.vy};
    scratch.arrived[e] = static_cast<unsigned char>(scratch.arrived[e] | (side.isI ? 1 : 2));
    if (scratch.arrived[e] != 3) return false;
    const MergeEvent& event = schedule.events[e];
    const ArrivedVelocity vi = scratch.arrivedI[e];
    const ArrivedVelocity vj = scratch.arrivedJ[e];
    merged = ArrivedVelocity{mergedVelocity(vi.x, event.massI, vj.x, event.massJ),
                             mergedVelocity(vi.y, event.massI, vj.y, event.massJ)};
    const int32_t survivor = event.jSurvives ? event.j : event.i;
    stretch = ++scratch.nextSide[static_cast<std::size_t>(schedule.groupOf[static_cast<std::size_t>(survivor)])];
    return true;
}

void runExactFolds(StepCommon& step, ExactScratch& scratch, const ExactView& view, FoldSegment* segments,
                   int32_t count, bool parallel) {
    // Like ranges side by side, so that few lanes wait for the longest; the same particles of a
    // whole fold stay consecutive, which keeps the partners among them few.
    std::sort(segments, segments + count, [](const FoldSegment& a, const FoldSegment& b) {
        if (a.from != b.from) return a.from < b.from;
        if (a.to != b.to) return a.to < b.to;
        return a.particle < b.particle;
    });
    scratch.groupStart.clear();
    for (int32_t k = 0; k < count; k += EXACT_LANES) scratch.groupStart.push_back(k);

    const GravityKernels& kernels = step.kernels;
    auto fold = [&](int32_t group) {
        const int32_t first = scratch.groupStart[static_cast<std::size_t>(group)];
        const int32_t lanes = std::min(EXACT_LANES, count - first);
        ExactLanes l{};
        int32_t begin = 0;
        int32_t end = 0;
        int32_t lowest = 0;
        int32_t highest = 0;
        const bool ranged = loadLanes(view, segments + first, lanes, l, begin, end, lowest, highest);
        kernels.exactFold(view, l, lowest, highest, begin, end, ranged);
        for (int32_t k = 0; k < lanes; ++k) {
            segments[first + k].vx = l.vx[k];
            segments[first + k].vy = l.vy[k];
        }
    };
    step.pool.run(static_cast<int32_t>(scratch.groupStart.size()), parallel, fold);
}

void foldExactVelocities(StepCommon& step, ExactScratch& scratch, const ExactView& view, bool parallel) {
    const MergeSchedule& schedule = step.schedule;
    ParticleBuffer& c = simState.current;
    firstWave(step, scratch);
    while (!scratch.wave.empty()) {
        runExactFolds(step, scratch, view, scratch.wave.data(), static_cast<int32_t>(scratch.wave.size()),
                      parallel && scratch.wave.size() > 1);
        scratch.nextWave.clear();
        for (const FoldSegment& segment : scratch.wave) {
            const int32_t i = step.live.tableOf[static_cast<std::size_t>(segment.particle)];
            const int32_t groupIndex = schedule.groupOf[static_cast<std::size_t>(i)];
            if (groupIndex < 0 || scratch.nextSide[static_cast<std::size_t>(groupIndex)] ==
                                      schedule.groups[static_cast<std::size_t>(groupIndex)].sideCount) {
                // A whole fold, or the last stretch of a survivor: its velocity is final.
                c[i].vx = segment.vx;
                c[i].vy = segment.vy;
                continue;
            }
            arriveAtMerge(step, scratch, segment, groupIndex);
        }
        scratch.wave.swap(scratch.nextWave);
    }
}
