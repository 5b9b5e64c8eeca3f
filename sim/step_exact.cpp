// The exact step: the literal step's bytes, every tick. In the literal pair loop a particle meets
// its partners in ascending order of their indices, so its velocity is one fold over them, each
// term formed with its pair's own operands; folding each particle on its own, in lanes and on
// threads, changes nothing. The merges come first (merge_search.h), then the folds with the
// merges' velocities replayed where the pair loop meets them (merge_replay.h).
//
// States handed to the literal step (the same bytes, more slowly):
//  - a live mass that is negative, not a number or infinite, or so small that the product of two
//    live masses vanishes (the literal mass test would then skip the pair);
//  - a gravity or a position that is not finite, a position of -0, or with merging on, what the merge search does not
//    take (a position more than a period off the field, a radius that is not a number, heaps of
//    overlapping particles);
//  - any step whose velocities come out infinite or not a number: such values are the literal
//    step's own, but a NaN's bits depend on the order of operands the compiler chose.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstddef>
#include <vector>

#include "engine.h"
#include "merge_replay.h"
#include "merge_search.h"
#include "simulation.h"
#include "step_kernels.h"
#include "step_phases.h"
#include "worker_pool.h"

namespace {

ExactDivision divisionWay = ExactDivision::Faster;

struct ExactScratch {
    std::vector<ExactPartner> partners;  // by live position
};

constinit ExactScratch scratch;

bool exactPathApplies(const ParticleBuffer& c, int32_t last, double width, double height, bool merging) {
    if (!std::isfinite(simParameters.gravity)) return false;
    double smallest = INFINITY;
    for (int32_t i = 0; i <= last; ++i) {
        const Particle& p = c[i];
        if (p.mass == 0) continue;
        if (!(p.mass > 0 && p.mass < INFINITY && std::isfinite(p.x) && std::isfinite(p.y))) return false;
        // The kernels read a side from the sign of a difference of positions, which -0 would spoil.
        if ((p.x == 0 && std::signbit(p.x)) || (p.y == 0 && std::signbit(p.y))) return false;
        smallest = p.mass < smallest ? p.mass : smallest;
    }
    // Every product of two live masses is at least this one, and the literal mass test needs it positive.
    if (!(smallest * smallest > 0)) return false;
    return !merging || mergeSearchApplies(c, last, width, height);
}

// Times one fold of a group of lanes over synthetic partners each way and tells whether the built
// quotients and roots were the faster; the bits are the same, so only the time is compared.
bool builtDivisionIsFaster(const GravityKernels& kernels) {
    constexpr int32_t PARTNERS = 1024;
    std::vector<ExactPartner> partners(PARTNERS);
    uint64_t state = 0x9E3779B97F4A7C15u;
    const auto next = [&state] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return static_cast<double>(state >> 11) * 0x1p-53;
    };
    for (ExactPartner& p : partners) {
        p.x = 1000 * next();
        p.y = 700 * next();
        p.mass = 1 + 99 * next();
        p.massG = p.mass * 20;
        p.cut = NO_CUT;
    }
    ExactView view{partners.data(), PARTNERS, 1000, 700, TIME_STEP, false};
    const auto timeFold = [&](bool built) {
        view.builtDivision = built;
        ExactLanes lanes{};
        for (int32_t k = 0; k < EXACT_LANES; ++k) {
            const ExactPartner& lane = partners[static_cast<std::size_t>(PARTNERS / 2 + k)];
            lanes.x[k] = lane.x;
            lanes.y[k] = lane.y;
            lanes.mass[k] = lane.mass;
            lanes.massG[k] = lane.massG;
            lanes.pos[k] = PARTNERS / 2 + k;
            lanes.to[k] = PARTNERS;
        }
        const auto start = std::chrono::steady_clock::now();
        kernels.exactFold(view, lanes, PARTNERS / 2, PARTNERS / 2 + EXACT_LANES - 1, 0, PARTNERS, false);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    // The best of several turns each, alternating, so that a busy moment weighs on both.
    double instructions = INFINITY;
    double built = INFINITY;
    for (int turn = 0; turn < 7; ++turn) {
        instructions = std::min(instructions, timeFold(false));
        built = std::min(built, timeFold(true));
    }
    return built < instructions;
}

bool velocitiesFinite(int32_t last) {
    const ParticleBuffer& c = simState.current;
    for (int32_t i = 0; i <= last; ++i) {
        if (!std::isfinite(c[i].vx) || !std::isfinite(c[i].vy)) return false;
    }
    return true;
}

}  // namespace

void setExactDivision(ExactDivision way) { divisionWay = way; }

ExactDivision exactDivision() { return divisionWay; }

bool exactDivisionBuilt() {
    const CpuLevel level = stepCpuLevel();
    if (level == CpuLevel::Scalar || divisionWay == ExactDivision::Instructions) return false;
    if (divisionWay == ExactDivision::Built) return true;
    // Timed once per level; -1 for not yet.
    static int faster[3] = {-1, -1, -1};
    int& choice = faster[static_cast<int>(level)];
    if (choice < 0) choice = builtDivisionIsFaster(stepKernels()) ? 1 : 0;
    return choice == 1;
}

void reserveExactStep(int32_t n) {
    const auto count = static_cast<std::size_t>(n > 0 ? n : 0);
    if (count <= scratch.partners.size()) return;
    scratch.partners.resize(count);
}

void stepSimulationExact(double width, double height) {
    const ParticleBuffer& s = simState.snapshot;
    const int32_t last = simState.lastIndex;
    const bool merging = simParameters.mergeEnabled == 1;
    const bool applies = exactPathApplies(simState.current, last, width, height, merging);
    noteLiteralHandOver(!applies);
    if (!applies) {
        stepSimulationLiteral(width, height);
        return;
    }
    if (!beginStep(last, width, height, merging)) return;
    const MergeSchedule& schedule = mergeSchedule();

    const LiveIndex& live = indexLiveParticles(last);
    const int32_t n = live.count;
    const double g = simParameters.gravity;
    for (int32_t k = 0; k < n; ++k) {
        const int32_t i = live.tableOf[static_cast<std::size_t>(k)];
        const double cut = schedule.cutOf[static_cast<std::size_t>(i)];
        scratch.partners[static_cast<std::size_t>(k)] =
            ExactPartner{s[i].x, s[i].y, s[i].mass, s[i].mass * g,
                         cut == NO_CUT ? NO_CUT : live.compactOf[static_cast<std::size_t>(cut)]};
    }
    if (n >= 2) {
        const ExactView view{scratch.partners.data(), n, width, height, TIME_STEP, exactDivisionBuilt()};
        foldExactVelocities(view, stepKernels(), live, stepThreads() > 1 && n >= MIN_PARALLEL_EXACT_COUNT);
        if (!velocitiesFinite(last)) {
            noteLiteralHandOver(true);
            restartLiterally(last, width, height);
            return;
        }
    }

    if (merging) compactParticles();
}
