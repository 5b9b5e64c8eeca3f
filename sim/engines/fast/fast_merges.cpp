// The velocities of the particles that merge, replayed in the literal pair order once the merge
// schedule is known. A merging particle's partners fall into stretches at its merges: its velocity
// meets the partners before its first merge, then the merge, then the partners up to the next one,
// and so on; after the merge that absorbs it, nothing.
#include <cstddef>

#include "fast_engine.h"
#include "merge_rule.h"

namespace {

// The stretch among a merging particle's stretches with the most partners.
int32_t longestStretch(const StepContext& step, const MergingParticle& particle, int32_t stretches) {
    int32_t longest = 0;
    int32_t longestLength = -1;
    for (int32_t t = 0; t < stretches; ++t) {
        int32_t begin = 0;
        int32_t end = 0;
        stretchBounds(step.schedule, particle, t, step.live.compactOf.data(), step.live.count, begin, end);
        if (end - begin > longestLength) {
            longest = t;
            longestLength = end - begin;
        }
    }
    return longest;
}

// One merging particle's stretch sums: every stretch but the longest summed directly, the longest
// as what the total leaves.
void splitStretches(const StepContext& step, FastScratch& scratch, const GravityView& view, int32_t m) {
    const MergeSchedule& schedule = step.schedule;
    const MergingParticle& particle = schedule.merging[static_cast<std::size_t>(m)];
    const MergeSide* sides = schedule.sides.data() + particle.firstSide;
    const int32_t p = step.live.compactOf[static_cast<std::size_t>(sides[0].particle)];
    const int32_t k = particle.sideCount;
    const bool absorbed = absorbedAtEnd(schedule, particle);
    const int32_t stretches = absorbed ? k : k + 1;
    const int32_t longest = longestStretch(step, particle, stretches);
    const auto store = [&](int32_t t, VelocityChange sum) {
        if (t == k) {
            scratch.tail[static_cast<std::size_t>(m)] = sum;
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
        stretchBounds(schedule, particle, t, step.live.compactOf.data(), step.live.count, begin, end);
        double sum[2] = {0, 0};
        if (end > begin) step.kernels.partnerSum(view, p, begin, end, sum);
        restX = restX + sum[0];
        restY = restY + sum[1];
        store(t, VelocityChange{sum[0], sum[1]});
    }
    store(longest, VelocityChange{scratch.totalX[static_cast<std::size_t>(p)] - restX,
                                  scratch.totalY[static_cast<std::size_t>(p)] - restY});
    if (absorbed) store(k, VelocityChange{0, 0});
}

// The merges' velocities in the literal order, each from the sums accumulated up to that pair.
void replayInPairOrder(const StepContext& step, FastScratch& scratch) {
    const MergeSchedule& schedule = step.schedule;
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
    for (std::size_t m = 0; m < schedule.merging.size(); ++m) {
        const int32_t p = schedule.sides[static_cast<std::size_t>(schedule.merging[m].firstSide)].particle;
        const auto at = static_cast<std::size_t>(p);
        c[p].vx = scratch.velocityX[at] + scratch.tail[m].x;
        c[p].vy = scratch.velocityY[at] + scratch.tail[m].y;
    }
}

}  // namespace

void replayFastMerges(StepContext& step, FastScratch& scratch, const GravityView& view, bool parallel) {
    auto split = [&](int32_t m) { splitStretches(step, scratch, view, m); };
    step.pool.run(static_cast<int32_t>(step.schedule.merging.size()), parallel, split);
    replayInPairOrder(step, scratch);
}
