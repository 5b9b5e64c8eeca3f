#include "step_context.h"

#include <cstddef>

#include "scratch.h"

namespace {

// wrapCoordinate, without the call for the common value already on the field (which it keeps as is).
inline double wrapInside(double value, double extent) {
    return value >= 0 && value <= extent ? value : wrapCoordinate(value, extent);
}

// Indexes records 0..last of the snapshot; the live count.
int32_t indexLiveParticles(LiveIndex& live, int32_t last) {
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
    return n;
}

}  // namespace

void reserveStepContext(StepContext& step, int32_t n) {
    growTo(static_cast<std::size_t>(n > 0 ? n : 0), step.live.tableOf, step.live.compactOf);
    reserveMergeSearch(step.search, step.schedule, n);
}

void prepareStep(StepContext& step) {
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

int32_t beginOrHandOver(StepContext& step, bool applies, double width, double height) {
    const int32_t last = simState.lastIndex;
    step.lastStepHandedOver = !applies;
    if (!applies) {
        stepSimulationLiteral(width, height);
        return -1;
    }
    snapshotAndDrift(last, width, height);
    if (simParameters.mergeEnabled != 1) {
        clearMergeSchedule(step.schedule, last);
    } else if (!scheduleMerges(step.search, step.schedule, last, width, height)) {
        restartLiterally(step, width, height);
        return -1;
    }
    return indexLiveParticles(step.live, last);
}

void restartLiterally(StepContext& step, double width, double height) {
    step.lastStepHandedOver = true;
    for (int32_t i = 0; i <= simState.lastIndex; ++i) simState.current[i] = simState.snapshot[i];
    stepSimulationLiteral(width, height);
}
