#include "merge_replay.h"

#include <cstddef>
#include <vector>

#include "merge.h"
#include "merge_search.h"
#include "simulation.h"
#include "worker_pool.h"

namespace {

// A stretch's velocity change (fast) or its velocity at its end (exact).
struct Velocity {
    double x;
    double y;
};

struct ReplayScratch {
    // Fast: per event, each side's stretch sum up to it; per group, the sum after its last merge.
    std::vector<Velocity> stretchI, stretchJ, tail;
    std::vector<double> velocityX, velocityY;  // by table index
    // Exact: the folds of a wave, and each event's two sides once they have arrived.
    std::vector<FoldSegment> segments;
    std::vector<FoldSegment> next;
    std::vector<unsigned char> arrived;  // per event: bit 1 for i, bit 2 for j
    std::vector<int32_t> nextSide;       // per group: the side its current stretch ends at
};

constinit ReplayScratch scratch;

// Live positions [begin, end) of stretch t of a group: the partners after its merge t - 1 and
// before its merge t (stretch sideCount runs to the end of the table).
void stretchBounds(const MergeGroup& group, int32_t t, const LiveIndex& live, int32_t& begin, int32_t& end) {
    const MergeSide* sides = mergeSchedule().sides.data() + group.firstSide;
    const auto positionOf = [&](int32_t table) { return live.compactOf[static_cast<std::size_t>(table)]; };
    begin = t == 0 ? 0 : positionOf(sides[t - 1].partner) + 1;
    end = t == group.sideCount ? live.count : positionOf(sides[t].partner);
}

// Whether the group's particle is absorbed by its last merge (then it has no stretch after it).
bool absorbedAtEnd(const MergeGroup& group) {
    const MergeSchedule& schedule = mergeSchedule();
    const MergeSide& lastSide = schedule.sides[static_cast<std::size_t>(group.firstSide + group.sideCount - 1)];
    return schedule.events[static_cast<std::size_t>(lastSide.event)].jSurvives == lastSide.isI;
}

}  // namespace

void reserveMergeReplay(int32_t n) {
    const auto count = static_cast<std::size_t>(n > 0 ? n : 0);
    if (count <= scratch.velocityX.size()) return;
    scratch.stretchI.resize(count);
    scratch.stretchJ.resize(count);
    scratch.tail.resize(count);
    scratch.velocityX.resize(count);
    scratch.velocityY.resize(count);
    scratch.segments.reserve(count);
    scratch.next.reserve(count);
    scratch.arrived.resize(count);
    scratch.nextSide.resize(count);
}

void replayFastMerges(const GravityView& view, const GravityKernels& kernels, const double* totalX,
                      const double* totalY, const LiveIndex& live, bool parallel) {
    const MergeSchedule& schedule = mergeSchedule();
    // Every stretch but the longest is summed directly, the longest is what the total leaves.
    auto split = [&](int32_t groupIndex) {
        const MergeGroup& group = schedule.groups[static_cast<std::size_t>(groupIndex)];
        const MergeSide* sides = schedule.sides.data() + group.firstSide;
        const int32_t p = live.compactOf[static_cast<std::size_t>(sides[0].particle)];
        const int32_t k = group.sideCount;
        const bool absorbed = absorbedAtEnd(group);
        const int32_t stretches = absorbed ? k : k + 1;
        int32_t longest = 0;
        int32_t longestLength = -1;
        for (int32_t t = 0; t < stretches; ++t) {
            int32_t begin = 0;
            int32_t end = 0;
            stretchBounds(group, t, live, begin, end);
            if (end - begin > longestLength) {
                longest = t;
                longestLength = end - begin;
            }
        }
        const auto store = [&](int32_t t, Velocity sum) {
            if (t == k) {
                scratch.tail[static_cast<std::size_t>(groupIndex)] = sum;
                return;
            }
            const auto e = static_cast<std::size_t>(sides[t].event);
            (sides[t].isI ? scratch.stretchI : scratch.stretchJ)[e] = sum;
        };
        double restX = 0;
        double restY = 0;
        for (int32_t t = 0; t < stretches; ++t) {
            if (t == longest) continue;
            int32_t begin = 0;
            int32_t end = 0;
            stretchBounds(group, t, live, begin, end);
            double sum[2] = {0, 0};
            if (end > begin) kernels.partnerSum(view, p, begin, end, sum);
            restX = restX + sum[0];
            restY = restY + sum[1];
            store(t, Velocity{sum[0], sum[1]});
        }
        store(longest, Velocity{totalX[static_cast<std::size_t>(p)] - restX, totalY[static_cast<std::size_t>(p)] - restY});
        if (absorbed) store(k, Velocity{0, 0});
    };
    runStepTasks(static_cast<int32_t>(schedule.groups.size()), parallel, split);

    // The merges' velocities in the literal order, each from the sums accumulated up to that pair.
    ParticleBuffer& c = simState.current;
    const ParticleBuffer& s = simState.snapshot;
    for (const MergeSide& side : schedule.sides) {
        const auto p = static_cast<std::size_t>(side.particle);
        scratch.velocityX[p] = s[side.particle].vx;
        scratch.velocityY[p] = s[side.particle].vy;
    }
    for (std::size_t n = 0; n < schedule.events.size(); ++n) {
        const MergeEvent& e = schedule.events[n];
        const auto i = static_cast<std::size_t>(e.i);
        const auto j = static_cast<std::size_t>(e.j);
        const double vix = scratch.velocityX[i] + scratch.stretchI[n].x;
        const double viy = scratch.velocityY[i] + scratch.stretchI[n].y;
        const double vjx = scratch.velocityX[j] + scratch.stretchJ[n].x;
        const double vjy = scratch.velocityY[j] + scratch.stretchJ[n].y;
        const std::size_t a = e.jSurvives ? j : i;
        const std::size_t b = e.jSurvives ? i : j;
        scratch.velocityX[a] = mergedVelocity(vix, e.massI, vjx, e.massJ);
        scratch.velocityY[a] = mergedVelocity(viy, e.massI, vjy, e.massJ);
        scratch.velocityX[b] = 0;
        scratch.velocityY[b] = 0;
    }
    for (std::size_t g = 0; g < schedule.groups.size(); ++g) {
        const int32_t p = schedule.sides[static_cast<std::size_t>(schedule.groups[g].firstSide)].particle;
        const auto at = static_cast<std::size_t>(p);
        c[p].vx = scratch.velocityX[at] + scratch.tail[g].x;
        c[p].vy = scratch.velocityY[at] + scratch.tail[g].y;
    }
}

void foldExactVelocities(const ExactView& view, const GravityKernels& kernels, const LiveIndex& live, bool parallel) {
    const MergeSchedule& schedule = mergeSchedule();
    ParticleBuffer& c = simState.current;
    const ParticleBuffer& s = simState.snapshot;
    const int32_t n = live.count;

    // The first wave: every particle that does not merge over all its partners, and every merging
    // one up to its first merge.
    std::vector<FoldSegment>& wave = scratch.segments;
    wave.clear();
    for (int32_t p = 0; p < n; ++p) {
        const int32_t i = live.tableOf[static_cast<std::size_t>(p)];
        const int32_t group = schedule.groupOf[static_cast<std::size_t>(i)];
        int32_t end = n;
        if (group >= 0) {
            int32_t begin = 0;
            stretchBounds(schedule.groups[static_cast<std::size_t>(group)], 0, live, begin, end);
            scratch.nextSide[static_cast<std::size_t>(group)] = 0;
        }
        wave.push_back(FoldSegment{p, 0, end, s[i].vx, s[i].vy});
    }
    for (std::size_t e = 0; e < schedule.events.size(); ++e) scratch.arrived[e] = 0;

    while (!wave.empty()) {
        runExactFolds(view, kernels, wave.data(), static_cast<int32_t>(wave.size()), parallel && wave.size() > 1);
        scratch.next.clear();
        for (const FoldSegment& segment : wave) {
            const int32_t i = live.tableOf[static_cast<std::size_t>(segment.particle)];
            const int32_t groupIndex = schedule.groupOf[static_cast<std::size_t>(i)];
            if (groupIndex < 0 || scratch.nextSide[static_cast<std::size_t>(groupIndex)] ==
                                      schedule.groups[static_cast<std::size_t>(groupIndex)].sideCount) {
                // A whole fold, or the last stretch of a survivor: its velocity is final.
                c[i].vx = segment.vx;
                c[i].vy = segment.vy;
                continue;
            }
            // The fold has reached a merge; the merge goes ahead once the partner's has too.
            const MergeGroup& group = schedule.groups[static_cast<std::size_t>(groupIndex)];
            const MergeSide& side = schedule.sides[static_cast<std::size_t>(
                group.firstSide + scratch.nextSide[static_cast<std::size_t>(groupIndex)])];
            const auto e = static_cast<std::size_t>(side.event);
            (side.isI ? scratch.stretchI : scratch.stretchJ)[e] = Velocity{segment.vx, segment.vy};
            scratch.arrived[e] = static_cast<unsigned char>(scratch.arrived[e] | (side.isI ? 1 : 2));
            if (scratch.arrived[e] != 3) continue;
            const MergeEvent& event = schedule.events[e];
            const Velocity vi = scratch.stretchI[e];
            const Velocity vj = scratch.stretchJ[e];
            const Velocity merged{mergedVelocity(vi.x, event.massI, vj.x, event.massJ),
                                  mergedVelocity(vi.y, event.massI, vj.y, event.massJ)};
            // The survivor folds on from the merged velocity, after the partner it met here.
            const int32_t survivor = event.jSurvives ? event.j : event.i;
            const int32_t survivorGroup = schedule.groupOf[static_cast<std::size_t>(survivor)];
            const auto t = ++scratch.nextSide[static_cast<std::size_t>(survivorGroup)];
            int32_t begin = 0;
            int32_t end = 0;
            stretchBounds(schedule.groups[static_cast<std::size_t>(survivorGroup)], t, live, begin, end);
            scratch.next.push_back(FoldSegment{live.compactOf[static_cast<std::size_t>(survivor)], begin, end,
                                               merged.x, merged.y});
        }
        wave.swap(scratch.next);
    }
}
