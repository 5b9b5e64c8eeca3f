#include "simulation.h"

#include <cmath>

#include "engine.h"

namespace {

// Everything a pair needs from the snapshot: distance, signs and offsets the short way round.
struct PairGeometry {
    double r;
    double ex;
    double ey;
    double dxo;
    double dyo;
};

PairGeometry measurePair(const Particle& si, const Particle& sj, double width, double height) {
    PairGeometry g;
    g.r = periodicDistance(si.x, si.y, sj.x, sj.y, width, height);
    g.ex = axisPullSign(si.x, sj.x, width);
    g.ey = axisPullSign(si.y, sj.y, height);
    g.dxo = minimumImageOffset(si.x, sj.x, width);
    g.dyo = minimumImageOffset(si.y, sj.y, height);
    return g;
}

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
    bool jSurvives = sj.radius >= si.radius;
    Particle& a = jSurvives ? cj : ci;
    Particle& b = jSurvives ? ci : cj;

    double radius = std::sqrt(ci.radius * ci.radius + cj.radius * cj.radius);
    double totalSnapshotMass = si.mass + sj.mass;
    double x = a.x;
    double y = a.y;
    if (jSurvives) {
        x = cj.x + si.mass * g.ex * g.dxo / totalSnapshotMass;
        y = cj.y + si.mass * g.ey * g.dyo / totalSnapshotMass;
    } else {
        x = ci.x - sj.mass * g.ex * g.dxo / totalSnapshotMass;
        y = ci.y - sj.mass * g.ey * g.dyo / totalSnapshotMass;
    }
    double vx = (ci.vx * ci.mass + cj.vx * cj.mass) / (ci.mass + cj.mass);
    double vy = (ci.vy * ci.mass + cj.vy * cj.mass) / (ci.mass + cj.mass);
    double mass = ci.mass + cj.mass;

    a.radius = radius;
    a.x = x;
    a.y = y;
    a.vx = vx;
    a.vy = vy;
    a.mass = mass;
    b = Particle{0, 0, 0, 0, 0, 0};
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
            PairGeometry g = measurePair(s[i], s[j], width, height);
            if (merging && s[i].radius + s[j].radius >= MERGE_RANGE_FACTOR * g.r) {
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
