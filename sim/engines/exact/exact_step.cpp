// States handed to the literal step (the same bytes, more slowly):
//  - a live mass that is negative, not a number or infinite, or so small that the product of two
//    live masses vanishes (the literal mass test would then skip the pair);
//  - a gravity or a position that is not finite, a position of -0, or with merging on, what the
//    merge search does not take (a position more than a period off the field, a radius that is
//    not a number, heaps of overlapping particles);
//  - any step whose velocities come out infinite or not a number: such values are the literal
//    step's own, but a NaN's bits depend on the order of operands the compiler chose.
#include <cmath>
#include <cstddef>

#include "exact_engine.h"
#include "merge_rule.h"

namespace {

// The tiles are faster as soon as there is more than one (measured from 200 particles up on one
// and two threads); within one tile they are a fold per particle anyway.
constexpr int32_t MIN_TILED_EXACT_COUNT = EXACT_TILE + 1;

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

// The live particles as partners, with their cuts as live positions.
void gatherPartners(const StepCommon& step, ExactScratch& scratch) {
    const ParticleBuffer& s = simState.snapshot;
    const LiveIndex& live = step.live;
    const double g = simParameters.gravity;
    for (int32_t k = 0; k < live.count; ++k) {
        const int32_t i = live.tableOf[static_cast<std::size_t>(k)];
        const double cut = step.schedule.cutOf[static_cast<std::size_t>(i)];
        scratch.partners[static_cast<std::size_t>(k)] =
            ExactPartner{s[i].x, s[i].y, s[i].mass, s[i].mass * g,
                         cut == NO_CUT ? NO_CUT : live.compactOf[static_cast<std::size_t>(cut)]};
    }
}

bool velocitiesFinite(int32_t last) {
    const ParticleBuffer& c = simState.current;
    for (int32_t i = 0; i <= last; ++i) {
        if (!std::isfinite(c[i].vx) || !std::isfinite(c[i].vy)) return false;
    }
    return true;
}

}  // namespace

bool exactStepTiles(const StepSettings& settings, int32_t n) {
    switch (settings.schedule) {
        case ExactSchedule::Folds: return false;
        case ExactSchedule::Tiles: return true;
        default: return n >= MIN_TILED_EXACT_COUNT;
    }
}

void reserveExactScratch(ExactScratch& scratch, int32_t n) {
    const auto count = static_cast<std::size_t>(n > 0 ? n : 0);
    // The partners and velocities by whole tiles of any size, one tile over; the tiles' tables for
    // the smallest tiles; the waves' by particle and event.
    const std::size_t padded = (count + EXACT_TILE - 1) / EXACT_TILE * EXACT_TILE + EXACT_TILE;
    if (padded > scratch.partners.size()) {
        const std::size_t tiles = padded / MIN_EXACT_TILE;
        scratch.partners.resize(padded);
        scratch.tileVx.resize(padded);
        scratch.tileVy.resize(padded);
        scratch.tileGuarded.resize(tiles);
        scratch.tileHasInnerMerges.resize(tiles);
        scratch.rowMerges.resize(tiles + 1);
        scratch.rowsDone = std::vector<std::atomic<int32_t>>(tiles);
    }
    if (count <= scratch.arrived.size()) return;
    scratch.wave.reserve(count);
    scratch.nextWave.reserve(count);
    scratch.groupStart.reserve(count / EXACT_LANES + 2);
    scratch.arrivedI.resize(count);
    scratch.arrivedJ.resize(count);
    scratch.arrived.resize(count);
    scratch.nextSide.resize(count);
    scratch.tileMerges.reserve(count);
    scratch.tileEvents.reserve(count);
}

void stepSimulationExact(StepCommon& step, ExactScratch& scratch, double width, double height) {
    const int32_t last = simState.lastIndex;
    const bool merging = simParameters.mergeEnabled == 1;
    const bool applies = exactPathApplies(simState.current, last, width, height, merging);
    if (!beginOrHandOver(step, applies, last, width, height, merging)) return;

    const int32_t n = indexLiveParticles(step.live, last).count;
    gatherPartners(step, scratch);
    if (n >= 2) {
        const ExactView view{.partner = scratch.partners.data(),
                             .count = n,
                             .width = width,
                             .height = height,
                             .timeStep = TIME_STEP,
                             .builtDivision = exactDivisionBuilt(step, scratch),
                             .mergedVelocity = mergedVelocity};
        const bool parallel = step.parallel(n, MIN_PARALLEL_EXACT_COUNT);
        if (exactStepTiles(step.settings, n)) {
            foldExactTiles(step, scratch, view, parallel);
        } else {
            foldExactVelocities(step, scratch, view, parallel);
        }
        if (!velocitiesFinite(last)) {
            restartLiterally(step, last, width, height);
            return;
        }
    }

    if (merging) compactParticles();
}
