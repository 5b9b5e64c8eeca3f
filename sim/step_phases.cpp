#include "step_phases.h"

#include <cmath>
#include <cstddef>

#include "engine.h"
#include "merge_search.h"
#include "worker_pool.h"

namespace {

constinit LiveIndex liveIndex;
bool lastHandedOver = false;

// wrapCoordinate, without the call for the common value already on the field (which it keeps as is).
inline double wrapInside(double value, double extent) {
    return value >= 0 && value <= extent ? value : wrapCoordinate(value, extent);
}

}  // namespace

void snapshotAndDrift(int32_t last, double width, double height) {
    ParticleBuffer& c = simState.current;
    ParticleBuffer& s = simState.snapshot;
    for (int32_t i = 0; i <= last; ++i) s[i] = c[i];
    for (int32_t i = 0; i <= last; ++i) {
        c[i].x = wrapInside(c[i].x + s[i].vx * TIME_STEP, width);
        c[i].y = wrapInside(c[i].y + s[i].vy * TIME_STEP, height);
    }
}

bool beginStep(int32_t last, double width, double height, bool merging) {
    // Only where the buffers were sized without reallocate (tests); the program never grows here.
    reserveStepScratch(last + 1);
    prepareStepThreads();
    snapshotAndDrift(last, width, height);
    if (!merging) {
        clearMergeSchedule(last);
        return true;
    }
    if (scheduleMerges(last, width, height)) return true;
    noteLiteralHandOver(true);
    restartLiterally(last, width, height);
    return false;
}

void restartLiterally(int32_t last, double width, double height) {
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

const LiveIndex& indexLiveParticles(int32_t last) {
    const ParticleBuffer& s = simState.snapshot;
    int32_t n = 0;
    for (int32_t i = 0; i <= last; ++i) {
        liveIndex.compactOf[static_cast<std::size_t>(i)] = -1;
        if (s[i].mass == 0) continue;
        liveIndex.tableOf[static_cast<std::size_t>(n)] = i;
        liveIndex.compactOf[static_cast<std::size_t>(i)] = n;
        ++n;
    }
    liveIndex.count = n;
    return liveIndex;
}

void reserveLiveIndex(int32_t n) {
    const auto count = static_cast<std::size_t>(n > 0 ? n : 0);
    if (count <= liveIndex.tableOf.size()) return;
    liveIndex.tableOf.resize(count);
    liveIndex.compactOf.resize(count);
}

void noteLiteralHandOver(bool handedOver) { lastHandedOver = handedOver; }

bool lastStepWasLiteral() { return lastHandedOver; }
