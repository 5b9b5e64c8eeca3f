// States handed to the literal step (the same bytes, more slowly):
//  - a live mass that is negative, not a number or infinite, or so small that the product of two
//    live masses vanishes (the literal mass test would then skip the pair);
//  - a gravity or a position that is not finite, a position of -0, or with merging on, what the
//    merge search does not take (a position more than a period off the field, a radius that is
//    not a number, heaps of overlapping particles);
//  - any step that forms a velocity infinite or not a number: such values are the literal step's
//    own, but a NaN's bits depend on the order of operands the compiler chose.
#include <cmath>
#include <cstddef>

#include "exact_engine.h"
#include "merge_rule.h"
#include "scratch.h"

namespace {

bool exactPathApplies(const ParticleBuffer& c, int32_t last, double width, double height) {
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
    return simParameters.mergeEnabled != 1 || mergeSearchApplies(c, last, width, height);
}

}  // namespace

void reserveExactScratch(ExactScratch& scratch, int32_t n) {
    const auto count = static_cast<std::size_t>(n > 0 ? n : 0);
    // The partners and velocities by whole tiles of any size, one tile over; the tiles' tables for
    // the smallest tiles; the waves' by particle and event.
    const std::size_t padded = (count + EXACT_TILE - 1) / EXACT_TILE * EXACT_TILE + EXACT_TILE;
    const std::size_t tiles = padded / MIN_EXACT_TILE;
    growTo(padded, scratch.partners, scratch.tileVx, scratch.tileVy);
    growTo(tiles, scratch.tileGuarded);
    growTo(tiles + 1, scratch.rowMerges);
    if (tiles > scratch.rowsDone.size()) scratch.rowsDone = std::vector<std::atomic<int32_t>>(tiles);
    growTo(count, scratch.arrived, scratch.nextSide);
    roomFor(count, scratch.wave, scratch.nextWave, scratch.tileMerges, scratch.tileEvents);
}

void stepSimulationExact(StepContext& step, const ExactSettings& settings, ExactScratch& scratch, double width,
                         double height) {
    const bool applies = exactPathApplies(simState.current, simState.lastIndex, width, height);
    const int32_t n = beginOrHandOver(step, applies, width, height);
    if (n < 0) return;
    if (n >= 2) {
        const ExactView view{.partner = scratch.partners.data(),
                             .count = n,
                             .width = width,
                             .height = height,
                             .timeStep = TIME_STEP,
                             .builtDivision = chooseExactDivision(step, settings, scratch),
                             .mergedVelocity = mergedVelocity};
        if (!foldExactTiles(step, scratch, view, step.parallel(n, MIN_PARALLEL_EXACT_COUNT))) {
            restartLiterally(step, width, height);
            return;
        }
    }
    if (simParameters.mergeEnabled == 1) compactParticles();
}
