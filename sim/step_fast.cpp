// The fast step: the merges first (merge_search.h), then gravity as one symmetric pass over fixed
// blocks with one 1/(r^2 sqrt r^2) a pair; only the particles that merge get their sums split at
// their partners, to replay the merges' velocities. Merges, positions, radii and masses are the
// literal step's to the bit, velocities to the rounding of another summation order.
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "engine.h"
#include "gravity_schedule.h"
#include "merge_replay.h"
#include "merge_search.h"
#include "simulation.h"
#include "step_kernels.h"
#include "step_phases.h"
#include "worker_pool.h"

namespace {

// Masses outside this range could make the literal mass test or the force overflow or vanish,
// where the two engines' different roundings stop being comparable; such steps run literally.
constexpr double MIN_FAST_MASS = 1e-150;
constexpr double MAX_FAST_MASS = 1e150;
constexpr double MAX_FAST_GRAVITY = 1e100;

struct FastScratch {
    // Live particles, structure of arrays, padded.
    std::vector<double> x, y, gm, idx, cut;
    std::vector<unsigned char> tileCut;
    std::vector<double> totalX, totalY;
};

constinit FastScratch scratch;

int32_t paddedCount(int32_t n) { return (n + KERNEL_TILE - 1) / KERNEL_TILE * KERNEL_TILE; }

// Values the fast path reproduces: finite, ordinary masses and gravity, and what the merge
// search takes.
bool fastPathApplies(const ParticleBuffer& c, int32_t last, double width, double height) {
    const double g = simParameters.gravity;
    if (!(std::fabs(g) <= MAX_FAST_GRAVITY)) return false;
    for (int32_t i = 0; i <= last; ++i) {
        const Particle& p = c[i];
        if (p.mass == 0) continue;
        if (!(p.mass >= MIN_FAST_MASS && p.mass <= MAX_FAST_MASS)) return false;
    }
    return mergeSearchApplies(c, last, width, height);
}

}  // namespace

void reserveFastStep(int32_t n) {
    const auto padded = static_cast<std::size_t>(paddedCount(n) + KERNEL_TILE);
    if (padded <= scratch.x.size()) return;
    for (std::vector<double>* v : {&scratch.x, &scratch.y, &scratch.gm, &scratch.idx, &scratch.cut, &scratch.totalX,
                                   &scratch.totalY})
        v->resize(padded);
    scratch.tileCut.resize(padded / KERNEL_TILE);
}

void stepSimulationFast(double width, double height) {
    const ParticleBuffer& s = simState.snapshot;
    const int32_t last = simState.lastIndex;
    const bool applies = fastPathApplies(simState.current, last, width, height);
    noteLiteralHandOver(!applies);
    if (!applies) {
        stepSimulationLiteral(width, height);
        return;
    }
    // Only where the buffers were sized without reallocate (tests); the program never grows here.
    reserveStepScratch(last + 1);
    prepareStepThreads();
    snapshotAndDrift(last, width, height);

    const bool mergingOn = simParameters.mergeEnabled == 1;
    if (!mergingOn) {
        clearMergeSchedule(last);
    } else if (!scheduleMerges(last, width, height)) {
        noteLiteralHandOver(true);
        restartLiterally(last, width, height);
        return;
    }
    const MergeSchedule& schedule = mergeSchedule();

    const LiveIndex& live = indexLiveParticles(last);
    const int32_t n = live.count;
    const double g = simParameters.gravity;
    for (int32_t k = 0; k < n; ++k) {
        const int32_t i = live.tableOf[static_cast<std::size_t>(k)];
        const auto at = static_cast<std::size_t>(k);
        scratch.x[at] = s[i].x;
        scratch.y[at] = s[i].y;
        scratch.gm[at] = g * s[i].mass * TIME_STEP;
        scratch.idx[at] = i;
        scratch.cut[at] = schedule.cutOf[static_cast<std::size_t>(i)];
    }
    const int32_t padded = paddedCount(n);
    for (int32_t t = 0; t < padded / KERNEL_TILE; ++t) scratch.tileCut[static_cast<std::size_t>(t)] = 0;
    for (int32_t k = 0; k < n; ++k) {
        if (scratch.cut[static_cast<std::size_t>(k)] != NO_CUT) scratch.tileCut[static_cast<std::size_t>(k / KERNEL_TILE)] = 1;
    }
    for (int32_t k = n; k < padded; ++k) {
        const auto at = static_cast<std::size_t>(k);
        scratch.x[at] = std::numeric_limits<double>::quiet_NaN();
        scratch.y[at] = std::numeric_limits<double>::quiet_NaN();
        scratch.gm[at] = 0;
        scratch.idx[at] = 0;
        scratch.cut[at] = NO_CUT;
    }

    if (n >= 2) {
        GravityView view{scratch.x.data(), scratch.y.data(), scratch.gm.data(), scratch.idx.data(), scratch.cut.data(),
                         nullptr,          nullptr,          n,                 padded,             0,
                         0,                width,            height,            scratch.tileCut.data()};
        const GravityKernels kernels = stepKernels();
        const bool parallel = stepThreads() > 1 && n >= MIN_PARALLEL_COUNT;
        runFastGravity(view, kernels, parallel, scratch.totalX.data(), scratch.totalY.data());
        if (!schedule.events.empty()) replayFastMerges(view, kernels, scratch.totalX.data(), scratch.totalY.data(), live, parallel);
        ParticleBuffer& c = simState.current;
        for (int32_t k = 0; k < n; ++k) {
            const int32_t i = live.tableOf[static_cast<std::size_t>(k)];
            if (schedule.groupOf[static_cast<std::size_t>(i)] >= 0) continue;
            c[i].vx = c[i].vx + scratch.totalX[static_cast<std::size_t>(k)];
            c[i].vy = c[i].vy + scratch.totalY[static_cast<std::size_t>(k)];
        }
    }

    if (mergingOn) compactParticles();
}
