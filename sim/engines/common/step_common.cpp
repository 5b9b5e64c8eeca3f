#include "step_common.h"

#include <cmath>
#include <cstddef>

namespace {

// wrapCoordinate, without the call for the common value already on the field (which it keeps as is).
inline double wrapInside(double value, double extent) {
    return value >= 0 && value <= extent ? value : wrapCoordinate(value, extent);
}

}  // namespace

void reserveStepCommon(StepCommon& step, int32_t n) {
    const auto count = static_cast<std::size_t>(n > 0 ? n : 0);
    if (count > step.live.tableOf.size()) {
        step.live.tableOf.resize(count);
        step.live.compactOf.resize(count);
    }
    reserveMergeSearch(step.search, step.schedule, n);
}

void prepareStep(StepCommon& step) {
    step.level = kernelLevel(step.settings.cpuLimit);
    step.kernels = step.settings.kernels != nullptr ? *step.settings.kernels : kernelsFor(step.level);
    step.pool.resize(step.threads() - 1);
}

void snapshotAndDrift(int32_t last, double width, double height) {
    ParticleBuffer& c = simState.current;
    ParticleBuffer& s = simState.snapshot;
    for (int32_t i = 0; i <= last; ++i) s[i] = c[i];
    for (int32_t i = 0; i <= last; ++i) {
        c[i].x = wrapInside(c[i].x + s[i].vx * TIME_STEP, width);
        c[i].y = wrapInside(c[i].y + s[i].vy * TIME_STEP, height);
    }
}

bool beginOrHandOver(StepCommon& step, bool applies, int32_t last, double width, double height, bool merging) {
    step.handedOver = !applies;
    if (!applies) {
        stepSimulationLiteral(width, height);
        return false;
    }
    snapshotAndDrift(last, width, height);
    if (!merging) {
        clearMergeSchedule(step.schedule, last);
        return true;
    }
    if (scheduleMerges(step.search, step.schedule, last, width, height)) return true;
    restartLiterally(step, last, width, height);
    return false;
}

void restartLiterally(StepCommon& step, int32_t last, double width, double height) {
    step.handedOver = true;
    for (int32_t i = 0; i <= last; ++i) simState.current[i] = simState.snapshot[i];
    stepSimulationLiteral(width, height);
}

bool mergeSearchApplies(const ParticleBuffer& c, int32_t last, double width, double height) {
    if (!(width > 0 && height > 0 && std::isfinite(width) && std::isfinite(height))) return false;
    for (int32_t i = 0; i <= last; ++i) {
        const Particle& p = c[i];
        if (p.mass == 0) continue;
        if (!(p.x >= -width && p.x <= 2 * width && p.y >= -height && p.y <= 2 * height)) return false;
        if (std::isnan(p.radius)) return false;
    }
    return true;
}

const LiveIndex& indexLiveParticles(LiveIndex& live, int32_t last) {
    const ParticleBuffer& s = simState.snapshot;
    int32_t n = 0;
    for (int32_t i = 0; i <= last; ++i) {
        live.compactOf[static_cast<std::size_t>(i)] = -1;
        if (s[i].mass == 0) continue;
        live.tableOf[static_cast<std::size_t>(n)] = i;
        live.compactOf[static_cast<std::size_t>(i)] = n;
        ++n;
    }
    live.count = n;
    return live;
}

void stretchBounds(const MergeSchedule& schedule, const MergeGroup& group, int32_t t, const LiveIndex& live,
                   int32_t& begin, int32_t& end) {
    const MergeSide* sides = schedule.sides.data() + group.firstSide;
    const auto positionOf = [&](int32_t table) { return live.compactOf[static_cast<std::size_t>(table)]; };
    begin = t == 0 ? 0 : positionOf(sides[t - 1].partner) + 1;
    end = t == group.sideCount ? live.count : positionOf(sides[t].partner);
}

bool absorbedAtEnd(const MergeSchedule& schedule, const MergeGroup& group) {
    const MergeSide& lastSide = schedule.sides[static_cast<std::size_t>(group.firstSide + group.sideCount - 1)];
    return schedule.events[static_cast<std::size_t>(lastSide.event)].jSurvives == lastSide.isI;
}
