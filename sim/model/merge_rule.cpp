#include "merge_rule.h"

#include <cmath>

PairGeometry measurePair(const Particle& si, const Particle& sj, double width, double height) {
    PairGeometry g;
    g.r = periodicDistance(si.x, si.y, sj.x, sj.y, width, height);
    g.ex = axisPullSign(si.x, sj.x, width);
    g.ey = axisPullSign(si.y, sj.y, height);
    g.dxo = minimumImageOffset(si.x, sj.x, width);
    g.dyo = minimumImageOffset(si.y, sj.y, height);
    return g;
}

MergeOutcome mergeBodies(Particle& ci, Particle& cj, const Particle& si, const Particle& sj, const PairGeometry& g) {
    // Equal radii: the later record survives.
    const bool jSurvives = sj.radius >= si.radius;
    const double radius = std::sqrt(ci.radius * ci.radius + cj.radius * cj.radius);
    const double totalSnapshotMass = si.mass + sj.mass;
    double x = 0;
    double y = 0;
    if (jSurvives) {
        x = cj.x + si.mass * g.ex * g.dxo / totalSnapshotMass;
        y = cj.y + si.mass * g.ey * g.dyo / totalSnapshotMass;
    } else {
        x = ci.x - sj.mass * g.ex * g.dxo / totalSnapshotMass;
        y = ci.y - sj.mass * g.ey * g.dyo / totalSnapshotMass;
    }
    const MergeOutcome outcome{jSurvives, ci.mass, cj.mass};
    Particle& a = jSurvives ? cj : ci;
    Particle& b = jSurvives ? ci : cj;
    a.radius = radius;
    a.x = x;
    a.y = y;
    a.mass = outcome.massI + outcome.massJ;
    b = Particle{0, 0, 0, 0, 0, 0};
    return outcome;
}
