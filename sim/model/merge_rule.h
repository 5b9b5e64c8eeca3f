// The merge rule, once for every engine: the geometry of a pair, whether it merges, and what a
// merge makes of the two records.
#pragma once

#include "model.h"

// Everything a pair needs from the snapshot: distance, signs and offsets the short way round.
struct PairGeometry {
    double r;
    double ex;
    double ey;
    double dxo;
    double dyo;
};

// The pair (i, j) of snapshot records si, sj, i before j in the table.
PairGeometry measurePair(const Particle& si, const Particle& sj, double width, double height);

// Whether a pair at snapshot distance r merges: its snapshot radii reach MERGE_RANGE_FACTOR * r.
inline bool withinMergeRange(const Particle& si, const Particle& sj, double r) {
    return si.radius + sj.radius >= MERGE_RANGE_FACTOR * r;
}

// One velocity component after a merge: the momentum of both over their mass, with the current
// velocities and masses from just before it, i's terms first.
inline double mergedVelocity(double vi, double massI, double vj, double massJ) {
    return (vi * massI + vj * massJ) / (massI + massJ);
}

// Who survived a merge, and the two current masses just before it (what mergedVelocity needs).
struct MergeOutcome {
    bool jSurvives;
    double massI;
    double massJ;
};

// Merges current records ci and cj of the pair (i, j): the survivor takes the combined radius,
// the centre of mass (measured with snapshot positions and masses) and the total mass; the
// absorbed record becomes all zeros. The survivor's velocity is left to the caller.
MergeOutcome mergeBodies(Particle& ci, Particle& cj, const Particle& si, const Particle& sj, const PairGeometry& g);
