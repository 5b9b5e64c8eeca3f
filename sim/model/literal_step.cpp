// The literal step: every pair once, in table order, each formula in its written order of
// operations. It is the oracle the other engines are held to.
#include "model.h"

#include "merge_rule.h"

namespace {

void attractPair(Particle& ci, Particle& cj, const Particle& si, const Particle& sj, const PairGeometry& g) {
    // Two particles on the same point have no direction between them: no force, rather
    // than an infinite one that would turn every velocity into NaN within two steps.
    if (g.r == 0) return;
    double f = -(si.mass * simParameters.gravity * sj.mass) / (g.r * g.r);
    ci.vx = ci.vx + (g.dxo * f * g.ex) / (si.mass * g.r) * TIME_STEP;
    cj.vx = cj.vx - (g.dxo * f * g.ex) / (sj.mass * g.r) * TIME_STEP;
    ci.vy = ci.vy + (g.dyo * f * g.ey) / (si.mass * g.r) * TIME_STEP;
    cj.vy = cj.vy - (g.dyo * f * g.ey) / (sj.mass * g.r) * TIME_STEP;
}

void mergePair(Particle& ci, Particle& cj, const Particle& si, const Particle& sj, const PairGeometry& g) {
    const double vx = mergedVelocity(ci.vx, ci.mass, cj.vx, cj.mass);
    const double vy = mergedVelocity(ci.vy, ci.mass, cj.vy, cj.mass);
    const MergeOutcome outcome = mergeBodies(ci, cj, si, sj, g);
    Particle& survivor = outcome.jSurvives ? cj : ci;
    survivor.vx = vx;
    survivor.vy = vy;
}

}  // namespace

void stepSimulationLiteral(double width, double height) {
    ParticleBuffer& c = simState.current;
    ParticleBuffer& s = simState.snapshot;
    const int32_t last = simState.lastIndex;

    for (int32_t i = 0; i <= last; ++i) s[i] = c[i];

    for (int32_t i = 0; i <= last; ++i) {
        c[i].x = wrapCoordinate(c[i].x + s[i].vx * TIME_STEP, width);
        c[i].y = wrapCoordinate(c[i].y + s[i].vy * TIME_STEP, height);
    }

    const bool merging = simParameters.mergeEnabled == 1;
    for (int32_t i = 0; i <= last; ++i) {
        for (int32_t j = i + 1; j <= last; ++j) {
            if (!(c[i].mass * c[j].mass > 0)) continue;
            const PairGeometry g = measurePair(s[i], s[j], width, height);
            if (merging && withinMergeRange(s[i], s[j], g.r)) {
                mergePair(c[i], c[j], s[i], s[j], g);
            } else {
                attractPair(c[i], c[j], s[i], s[j], g);
            }
        }
    }

    if (merging) compactParticles();
}

void compactParticles() {
    ParticleBuffer& c = simState.current;
    for (int32_t i = 0; i <= simState.lastIndex; ++i) {
        if (c[i].mass != 0) continue;
        // Field by field, so that when i is the last record it simply ends up zeroed.
        Particle& last = c[simState.lastIndex];
        c[i].mass = last.mass;
        last.mass = 0;
        c[i].radius = last.radius;
        last.radius = 0;
        c[i].x = last.x;
        last.x = 0;
        c[i].y = last.y;
        last.y = 0;
        c[i].vx = last.vx;
        last.vx = 0;
        c[i].vy = last.vy;
        last.vy = 0;
        simState.lastIndex = simState.lastIndex - 1;
    }
}
