// The step's gravity kernels, one set per instruction set, behind one table of entry points: the
// fast engine's symmetric pass and the exact engine's tiles and folds; and the choice of the set.
#pragma once

#include <cstdint>
#include <limits>

#include "cpu.h"

// For the kernels' per-pair helpers, which must melt into their loops.
#if defined(__GNUC__)
#define KERNEL_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define KERNEL_INLINE __forceinline
#else
#define KERNEL_INLINE inline
#endif

// The cut of a particle nothing absorbs this step, as the kernels compare cuts: in the lanes.
inline constexpr double NO_CUT = std::numeric_limits<double>::infinity();

// Particles per tile side; the block size and every padded count are multiples of it.
inline constexpr int32_t KERNEL_TILE = 64;
// Particles folded side by side in one exact fold.
inline constexpr int32_t EXACT_LANES = 8;

// The most particles per side of the exact engine's tiles (a multiple of EXACT_LANES); tiles
// shrink where threads share few particles.
inline constexpr int32_t EXACT_TILE = 128;

// n rounded up to whole tiles.
inline constexpr int32_t paddedCount(int32_t n) { return (n + KERNEL_TILE - 1) / KERNEL_TILE * KERNEL_TILE; }

// The live particles of one step as the kernels read them, structure of arrays in table order,
// padded to a multiple of KERNEL_TILE with copies of the last particle's position whose terms
// vanish (gm 0, no cut): its offsets and r^2 are a live pair's, so no lane needs a mask for them.
struct GravityView {
    const double* x;
    const double* y;
    const double* gm;   // gravity * mass * TIME_STEP: the velocity one unit of r/r^3 gives a partner
    const double* idx;  // table index, as a double so that it compares in the same lanes
    const double* cut;  // table index of the partner that absorbs it this step, +inf if none
    double* partX;      // blocks x blocks partial sums, blockSize each, see pairTask
    double* partY;
    int32_t count;      // live particles; entries [count, padded) are padding
    int32_t padded;
    int32_t blockSize;
    int32_t blocks;
    double width;
    double height;
    const unsigned char* tileCut;  // per tile: whether one of its particles is absorbed this step
    // Per tile: the least and greatest x, then y, of its live particles. Where given, a row tests
    // the wrap of its offsets only against tiles whose particles' offsets could wrap unalike.
    const double* tileBox = nullptr;
    // Per tile: the smallest |coordinate| of its live particles. Where given, the estimate serves
    // the pairs of two tiles by their own bounds, not only by the step's.
    const double* tileNear = nullptr;
    // Bounds on r^2 over the pairs with r^2 > 0, from the positions and the field: where the
    // level's estimate of 1/sqrt(r^2) serves all of them, no lane checks it.
    double leastSquare = 0;
    double greatestSquare = std::numeric_limits<double>::infinity();
};

// One live particle as the exact kernels read it as a partner: its snapshot values side by side,
// so that a partner is one short run of memory rather than five streams.
struct ExactPartner {
    double x;
    double y;
    double mass;
    double massG;  // mass * gravity: the first product of the force of a pair it leads
    double cut;    // live position of the partner that absorbs it this step, +inf if none
};

// The live particles as the exact kernels read their partners, by live position (the position
// among the particles alive in the snapshot, in table order).
struct ExactView {
    const ExactPartner* partner;
    int32_t count;
    double width;
    double height;
    double timeStep;
    bool builtDivision;  // quotients and roots built from estimates (the same bits), where the level has them
    // One velocity component after a merge (the model's rule), for merges the tiles meet.
    double (*mergedVelocity)(double vi, double massI, double vj, double massJ) = nullptr;
};

// A merge met inside a tile: at skewed step `step` lane `lane` holds the merging row i and column
// j (see exact_kernel_body.h); their velocities there are the ones just before the merge, and the
// survivor's becomes the merged one, the absorbed one's 0.
struct ExactTileEvent {
    int32_t step;
    int32_t lane;
    bool jSurvives;
    double massI;  // the current masses just before the merge
    double massJ;
};

// Up to EXACT_LANES particles folded side by side, each over its own partners in ascending order.
// A lane that holds no particle has from = to (or, in a fold over every partner, is not stored).
struct alignas(64) ExactLanes {
    double x[EXACT_LANES];
    double y[EXACT_LANES];
    double mass[EXACT_LANES];
    double massG[EXACT_LANES];
    double pos[EXACT_LANES];   // live position
    double from[EXACT_LANES];  // live positions [from, to) of the partners this fold takes
    double to[EXACT_LANES];
    double vx[EXACT_LANES];  // the velocity before the fold, and after it
    double vy[EXACT_LANES];
};

struct GravityKernels {
    // Every pair between blocks a <= b, once: the sums for block a's particles go to part[a][b],
    // those for block b's to part[b][a]. Each task overwrites its own parts, so a fixed reduction
    // over them gives the same bits whatever thread ran which task.
    void (*pairTask)(const GravityView& view, int32_t a, int32_t b);
    // Velocity change of particle p from partners [begin, end) alone, under the same pair rules.
    void (*partnerSum)(const GravityView& view, int32_t p, int32_t begin, int32_t end, double sum[2]);
    // Adds to each lane's velocity the literal step's terms of its pairs with the partners
    // [begin, end), one partner after the other in ascending order, each term in the pair's own
    // operand order: the same bits as the literal step's additions. Ranged, each lane takes only
    // the partners in its own [from, to). The lanes' live positions lie in [first, last].
    void (*exactFold)(const ExactView& view, ExactLanes& lanes, int32_t first, int32_t last, int32_t begin,
                      int32_t end, bool ranged);
    // The pairs of rows [rowBegin, rowEnd) with columns [colBegin, colEnd), every row below every
    // column, each formed once: its row's term added to vx, vy (by live position) in ascending
    // column order, its column's in ascending row order, each the literal step's addition. All four
    // bounds are multiples of EXACT_LANES; the view's partners are padded to them. Guarded, a pair
    // takes part only where r > 0 and neither is past the other's cut (padding has cut -1);
    // unguarded, every pair but a coincident one does (a coincident pair makes the tile run again
    // guarded).
    // The tile's merges come in events (by step; only for a guarded tile).
    void (*exactTile)(const ExactView& view, int32_t rowBegin, int32_t rowEnd, int32_t colBegin, int32_t colEnd,
                      double* vx, double* vy, bool guarded, const ExactTileEvent* events, int32_t eventCount);
};

// All three take 8 lanes through the same operations in the same order. The exact kernels fuse
// nothing and give the same bits on every set. The fast kernels give each set's own bits: the
// vector sets form 1/(r^2 sqrt r^2) from their own estimates (inverse_cube_*.h) and fuse the
// multiply-adds written out (the compiler itself never fuses here), the portable set divides and
// rounds those products separately; every thread count gives the same bits on one processor.
GravityKernels gravityKernelsScalar();
GravityKernels gravityKernelsAvx2();
GravityKernels gravityKernelsAvx512();

// The level the kernels run at: the best this processor and build offer, capped at cap (tests
// compare the levels on one machine).
CpuLevel kernelLevel(CpuLevel cap);
// The kernels of a level.
GravityKernels kernelsFor(CpuLevel level);
