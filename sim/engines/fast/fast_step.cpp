// States handed to the literal step: those the exact engine hands over (exact_step.cpp), and every
// state in which some product, force, divisor or term that the literal step or the fast kernels
// form could leave the normal doubles (see fastPathApplies).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "fast_engine.h"
#include "scratch.h"

namespace {

// Every value either engine forms on the way to a velocity stays within these powers of two:
// normal doubles with room for the sums of 50000 terms and for rounding, so that both round
// alike to within the summation order and neither overflows or loses digits where the other
// does not.
constexpr double LOG2_SMALLEST = -960;
constexpr double LOG2_LARGEST = 960;

bool normalRange(double log2Value) { return log2Value >= LOG2_SMALLEST && log2Value <= LOG2_LARGEST; }

struct SquareBounds {
    double least;
    double greatest;
};

// The states the fast path reproduces to rounding: what the merge search takes, positive finite
// masses, finite velocities, and masses, gravity and distances for which every product, force,
// divisor and term of the literal step and of the fast kernels stays in the normal range. The
// distances a step can see are bounded from the positions alone: two different coordinates differ
// by at least half an ulp of the larger, and across an edge by at least an ulp of the field.
// Where it applies, squares holds bounds on every r^2 > 0 the kernels will form.
bool fastPathApplies(const ParticleBuffer& c, int32_t last, double width, double height, SquareBounds& squares) {
    if (!mergeSearchApplies(c, last, width, height)) return false;
    double lightest = INFINITY;
    double heaviest = 0;
    double speed = 0;
    double smallestCoordinate = INFINITY;
    for (int32_t i = 0; i <= last; ++i) {
        const Particle& p = c[i];
        if (p.mass == 0) continue;
        if (!(p.mass > 0 && p.mass < INFINITY)) return false;
        lightest = std::min(lightest, p.mass);
        heaviest = std::max(heaviest, p.mass);
        speed = std::max({speed, std::fabs(p.vx), std::fabs(p.vy)});
        for (double coordinate : {p.x, p.y}) {
            if (coordinate != 0) smallestCoordinate = std::min(smallestCoordinate, std::fabs(coordinate));
        }
    }
    if (!(std::log2(speed) <= LOG2_LARGEST)) return false;
    const double g = std::fabs(simParameters.gravity);
    if (!std::isfinite(g)) return false;
    // Distances: at least half an ulp of the smallest coordinate in use (or of the field across an
    // edge), at most the diagonal of three periods (positions lie within a period of the field).
    const double lgNear = std::min(std::log2(smallestCoordinate) - 54, std::log2(std::min(width, height)) - 54);
    const double lgFar = std::log2(3 * std::hypot(width, height));
    // r^2 * sqrt(r^2) and its reciprocal (fast) are formed whatever the masses and gravity.
    if (!(normalRange(2 * lgNear) && normalRange(3 * lgNear) && normalRange(3 * lgFar))) return false;
    squares = SquareBounds{std::exp2(2 * lgNear), std::exp2(2 * lgFar)};
    if (heaviest == 0) return true;
    // So is the divisor m * r of the literal terms, even without gravity (0 / 0 is not 0).
    const double lgLight = std::log2(lightest);
    const double lgHeavy = std::log2(heaviest);
    if (!(normalRange(lgLight + lgNear) && normalRange(lgHeavy + lgFar))) return false;
    // Without gravity no force is formed at all.
    if (g == 0) return true;
    const double lgG = std::log2(g);
    const double lgStep = std::log2(TIME_STEP);
    const bool ranges[] = {
        // m * gravity and m * gravity * m (literal), gravity * m * dt (fast)
        normalRange(lgG + lgLight), normalRange(lgG + lgHeavy), normalRange(lgG + 2 * lgLight),
        normalRange(lgG + 2 * lgHeavy), normalRange(lgG + lgLight + lgStep), normalRange(lgG + lgHeavy + lgStep),
        // the force, and the largest and smallest pull of one pair
        normalRange(lgG + 2 * lgLight - 2 * lgFar), normalRange(lgG + 2 * lgHeavy - 2 * lgNear),
        normalRange(lgG + 2 * lgLight - 2 * lgFar - lgHeavy + lgStep),
        normalRange(lgG + 2 * lgHeavy - 2 * lgNear - lgLight + lgStep)};
    for (bool inRange : ranges) {
        if (!inRange) return false;
    }
    return true;
}

// The live particles in the kernels' layout, padded with copies of the last one's position whose
// terms vanish (gm 0).
void gatherParticles(const StepContext& step, FastScratch& scratch) {
    const ParticleBuffer& s = simState.snapshot;
    const LiveIndex& live = step.live;
    KernelParticles& p = scratch.live;
    const int32_t n = live.count;
    const double g = simParameters.gravity;
    for (int32_t k = 0; k < n; ++k) {
        const int32_t i = live.tableOf[static_cast<std::size_t>(k)];
        const auto at = static_cast<std::size_t>(k);
        p.x[at] = s[i].x;
        p.y[at] = s[i].y;
        p.gm[at] = g * s[i].mass * TIME_STEP;
        p.idx[at] = i;
        const int32_t cut = step.schedule.cutOf[static_cast<std::size_t>(i)];
        p.cut[at] = cut == NOT_ABSORBED ? NO_CUT : cut;
    }
    for (int32_t k = n; k < paddedCount(n); ++k) {
        const auto at = static_cast<std::size_t>(k);
        p.x[at] = p.x[static_cast<std::size_t>(n - 1)];
        p.y[at] = p.y[static_cast<std::size_t>(n - 1)];
        p.gm[at] = 0;
        p.idx[at] = 0;
        p.cut[at] = NO_CUT;
    }
}

// Every particle that does not merge takes its total change; the merging ones were replayed.
void applyTotals(const StepContext& step, const FastScratch& scratch) {
    ParticleBuffer& c = simState.current;
    for (int32_t k = 0; k < step.live.count; ++k) {
        const int32_t i = step.live.tableOf[static_cast<std::size_t>(k)];
        if (step.schedule.mergingOf[static_cast<std::size_t>(i)] >= 0) continue;
        c[i].vx = c[i].vx + scratch.totalX[static_cast<std::size_t>(k)];
        c[i].vy = c[i].vy + scratch.totalY[static_cast<std::size_t>(k)];
    }
}

}  // namespace

void reserveFastScratch(FastScratch& scratch, int32_t n) {
    const auto padded = static_cast<std::size_t>(paddedCount(n) + KERNEL_TILE);
    KernelParticles& live = scratch.live;
    growTo(padded, live.x, live.y, live.gm, live.idx, live.cut, scratch.totalX, scratch.totalY);
    reserveFastGravity(scratch, n);
    // The replay's tables go by record, event and merging particle, not by tile.
    const auto count = static_cast<std::size_t>(n > 0 ? n : 0);
    growTo(count, scratch.stretchI, scratch.stretchJ, scratch.tail, scratch.velocityX, scratch.velocityY);
}

void stepSimulationFast(StepContext& step, FastScratch& scratch, double width, double height) {
    SquareBounds squares{};
    const bool applies = fastPathApplies(simState.current, simState.lastIndex, width, height, squares);
    const int32_t n = beginOrHandOver(step, applies, width, height);
    if (n < 0) return;
    gatherParticles(step, scratch);
    if (n >= 2) {
        const KernelParticles& live = scratch.live;
        GravityView view{.x = live.x.data(),
                         .y = live.y.data(),
                         .gm = live.gm.data(),
                         .idx = live.idx.data(),
                         .cut = live.cut.data(),
                         .partX = nullptr,
                         .partY = nullptr,
                         .count = n,
                         .padded = paddedCount(n),
                         .blockSize = 0,
                         .blocks = 0,
                         .width = width,
                         .height = height,
                         .tileCut = nullptr,
                         .leastSquare = squares.least,
                         .greatestSquare = squares.greatest};
        const bool parallel = step.parallel(n, MIN_PARALLEL_COUNT);
        runFastGravity(step, scratch, view, parallel);
        if (!step.schedule.events.empty()) replayFastMerges(step, scratch, view, parallel);
        applyTotals(step, scratch);
    }

    if (simParameters.mergeEnabled == 1) compactParticles();
}
