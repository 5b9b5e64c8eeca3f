#include "merge_search.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "merge_rule.h"
#include "scratch.h"

namespace {

// Candidate pairs beyond this many (heaps of overlapping particles) make the step run literally.
int32_t candidateLimit(int32_t n) { return 4 * n + 64; }

double foldInto(double value, double extent) {
    if (value < 0) value += extent;
    if (value >= extent) value -= extent;
    return value;
}

// The literal merge test, for a pair already known to be within a few ulps of merging reach.
bool closeEnough(int32_t i, int32_t j, double width, double height) {
    const Particle& si = simState.snapshot[i];
    const Particle& sj = simState.snapshot[j];
    return withinMergeRange(si, sj, periodicDistance(si.x, si.y, sj.x, sj.y, width, height));
}

// Whether two particles may merge: squared shortest distance against the reach with a margin far
// above rounding, so that every pair the exact test accepts passes.
inline bool mayMerge(double xi, double yi, double ri, double xj, double yj, double rj, double width, double height) {
    constexpr double REACH_PER_RADIUS = 1 / MERGE_RANGE_FACTOR * (1 + 1e-6);
    const double reach = (ri + rj) * REACH_PER_RADIUS;
    if (!(reach >= 0)) return false;
    const double dx = std::fabs(xi - xj);
    const double dy = std::fabs(yi - yj);
    const double ox = std::min(dx, std::fabs(width - dx));
    const double oy = std::min(dy, std::fabs(height - dy));
    return ox * ox + oy * oy <= reach * reach;
}

// Adds a close pair, lower index first; false when the list is full.
bool addCandidate(MergeSearch& search, int32_t i, int32_t j, double width, double height) {
    const int32_t lo = std::min(i, j);
    const int32_t hi = std::max(i, j);
    if (!closeEnough(lo, hi, width, height)) return true;
    if (static_cast<int32_t>(search.candidates.size()) >= search.candidateLimit) return false;
    search.candidates.push_back(static_cast<int64_t>(lo) << 32 | static_cast<int64_t>(hi));
    return true;
}

// Cells of the grid: nx by ny, stored row by row.
struct Grid {
    int32_t nx = 1;
    int32_t ny = 1;
    double cellWidth = 0;
    double cellHeight = 0;
};

// Particles this large are tested against everyone, so that the grid's cells stay small.
double bigRadius(double width, double height) { return std::min(width, height) * MERGE_RANGE_FACTOR / 32; }

// Collects the large particles and sizes the grid for the others; the count of live particles.
int32_t planGrid(MergeSearch& search, int32_t last, double width, double height, Grid& grid) {
    const ParticleBuffer& s = simState.snapshot;
    const double big = bigRadius(width, height);
    int32_t alive = 0;
    double smallRadius = 0;
    search.big.clear();
    for (int32_t i = 0; i <= last; ++i) {
        if (s[i].mass == 0) continue;
        ++alive;
        if (s[i].radius > big) {
            search.big.push_back(i);
        } else {
            smallRadius = std::max(smallRadius, s[i].radius);
        }
    }
    if (alive < 2) return alive;
    // A merge needs distance <= (ri + rj) / 1.2; the margin covers the rounding of that test.
    const double reach = 2 * smallRadius / MERGE_RANGE_FACTOR * (1 + 1e-6) + 1e-9;
    const double cell = std::max(reach, std::sqrt(width * height / alive));
    int32_t nx = std::max(1, static_cast<int32_t>(std::min(width / cell, 1e9)));
    int32_t ny = std::max(1, static_cast<int32_t>(std::min(height / cell, 1e9)));
    nx = std::min(nx, alive);
    ny = std::min(ny, std::max(1, alive / nx));
    // With fewer than three cells a side the neighbours would repeat: one cell holds everything.
    if (nx < 3 || ny < 3) {
        nx = 1;
        ny = 1;
    }
    grid = Grid{nx, ny, width / nx, height / ny};
    return alive;
}

// Sorts the small live particles into their cells: cellStart[k] is the first item of cell k.
void fillGrid(MergeSearch& search, int32_t last, double width, double height, const Grid& grid) {
    const ParticleBuffer& s = simState.snapshot;
    const double big = bigRadius(width, height);
    const int32_t cells = grid.nx * grid.ny;
    int32_t* start = search.cellStart.data();
    std::fill(start, start + cells + 1, 0);
    for (int32_t i = 0; i <= last; ++i) {
        search.cellOf[static_cast<std::size_t>(i)] = -1;
        if (s[i].mass == 0 || s[i].radius > big) continue;
        const int32_t cx = std::min(grid.nx - 1, static_cast<int32_t>(foldInto(s[i].x, width) / grid.cellWidth));
        const int32_t cy = std::min(grid.ny - 1, static_cast<int32_t>(foldInto(s[i].y, height) / grid.cellHeight));
        const int32_t k = cy * grid.nx + cx;
        search.cellOf[static_cast<std::size_t>(i)] = k;
        ++start[k + 1];
    }
    for (int32_t k = 0; k < cells; ++k) start[k + 1] += start[k];
    for (int32_t i = 0; i <= last; ++i) {
        const int32_t k = search.cellOf[static_cast<std::size_t>(i)];
        if (k < 0) continue;
        const auto at = static_cast<std::size_t>(start[k]++);
        search.cellItems[at] = i;
        search.cellX[at] = s[i].x;
        search.cellY[at] = s[i].y;
        search.cellR[at] = s[i].radius;
    }
    for (int32_t k = cells; k > 0; --k) start[k] = start[k - 1];
    start[0] = 0;
}

// Each cell against itself and four of its neighbours, so that each pair of cells is met once.
// Cells are stored row by row, so a cell and its right-hand neighbour, and the three cells below
// them, are runs of consecutive items: each particle meets the rest of its own cell and its four
// forward neighbours in at most four runs (two where no edge wraps). False when the list is full.
bool searchGrid(MergeSearch& search, double width, double height, const Grid& grid) {
    const int32_t* start = search.cellStart.data();
    const double* px = search.cellX.data();
    const double* py = search.cellY.data();
    const double* pr = search.cellR.data();
    const int32_t* item = search.cellItems.data();
    const auto testRun = [&](int32_t p, int32_t from, int32_t to) {
        for (int32_t q = from; q < to; ++q) {
            if (mayMerge(px[p], py[p], pr[p], px[q], py[q], pr[q], width, height) &&
                !addCandidate(search, item[p], item[q], width, height))
                return false;
        }
        return true;
    };
    const int32_t nx = grid.nx;
    const int32_t ny = grid.ny;
    if (nx * ny == 1) {
        for (int32_t p = start[0]; p < start[1]; ++p) {
            if (!testRun(p, p + 1, start[1])) return false;
        }
        return true;
    }
    struct Run {
        int32_t from;
        int32_t to;
    };
    for (int32_t cy = 0; cy < ny; ++cy) {
        const int32_t row = cy * nx;
        const int32_t below = (cy + 1 == ny ? 0 : cy + 1) * nx;
        for (int32_t cx = 0; cx < nx; ++cx) {
            const int32_t home = row + cx;
            if (start[home] == start[home + 1]) continue;
            // Runs: [own cell after p, right-hand neighbour] and [below left .. below right], split at the edges.
            const bool rightWraps = cx + 1 == nx;
            const int32_t sameEnd = rightWraps ? start[home + 1] : start[home + 2];
            Run runs[3]{};
            int32_t runCount = 0;
            if (rightWraps) runs[runCount++] = {start[row], start[row + 1]};
            if (cx == 0) {
                runs[runCount++] = {start[below + nx - 1], start[below + nx]};
                runs[runCount++] = {start[below], start[below + 2]};
            } else if (rightWraps) {
                runs[runCount++] = {start[below + cx - 1], start[below + cx + 1]};
                runs[runCount++] = {start[below], start[below + 1]};
            } else {
                runs[runCount++] = {start[below + cx - 1], start[below + cx + 2]};
            }
            for (int32_t p = start[home]; p < start[home + 1]; ++p) {
                if (!testRun(p, p + 1, sameEnd)) return false;
                for (int32_t r = 0; r < runCount; ++r) {
                    if (!testRun(p, runs[r].from, runs[r].to)) return false;
                }
            }
        }
    }
    return true;
}

// The large particles against every other live one; two large ones meet once, from the lower
// index. False when the list is full.
bool searchBigBodies(MergeSearch& search, int32_t last, double width, double height) {
    const ParticleBuffer& s = simState.snapshot;
    const double big = bigRadius(width, height);
    for (const int32_t i : search.big) {
        for (int32_t j = 0; j <= last; ++j) {
            if (j == i || s[j].mass == 0) continue;
            if (s[j].radius > big && j < i) continue;
            if (mayMerge(s[i].x, s[i].y, s[i].radius, s[j].x, s[j].y, s[j].radius, width, height) &&
                !addCandidate(search, i, j, width, height))
                return false;
        }
    }
    return true;
}

// Every pair close enough to merge. Returns false if there were too many to hold.
bool findCandidates(MergeSearch& search, int32_t last, double width, double height) {
    search.candidates.clear();
    // By this step's count, not the scratch's capacity, so the same table always takes the same path.
    search.candidateLimit = candidateLimit(last + 1);
    Grid grid;
    if (planGrid(search, last, width, height, grid) < 2) return true;
    fillGrid(search, last, width, height, grid);
    return searchGrid(search, width, height, grid) && searchBigBodies(search, last, width, height);
}

// Every merge of the step in the literal pair order (i ascending, then j): a close pair merges
// unless one of the two has been absorbed already.
void applyMerges(const MergeSearch& search, MergeSchedule& schedule, double width, double height) {
    ParticleBuffer& c = simState.current;
    const ParticleBuffer& s = simState.snapshot;
    for (int64_t pair : search.candidates) {
        const auto i = static_cast<int32_t>(pair >> 32);
        const auto j = static_cast<int32_t>(pair & 0xFFFFFFFF);
        if (!(c[i].mass * c[j].mass > 0)) continue;
        const MergeOutcome outcome = mergeBodies(c[i], c[j], s[i], s[j], measurePair(s[i], s[j], width, height));
        schedule.cutOf[static_cast<std::size_t>(outcome.jSurvives ? i : j)] = outcome.jSurvives ? j : i;
        schedule.events.push_back(MergeEvent{i, j, outcome.jSurvives, outcome.massI, outcome.massJ});
    }
}

// Each merging particle's sides in its own pair order.
void sortSides(MergeSchedule& schedule) {
    for (std::size_t e = 0; e < schedule.events.size(); ++e) {
        const MergeEvent& event = schedule.events[e];
        schedule.sides.push_back(MergeSide{event.i, event.j, static_cast<int32_t>(e), true});
        schedule.sides.push_back(MergeSide{event.j, event.i, static_cast<int32_t>(e), false});
    }
    std::sort(schedule.sides.begin(), schedule.sides.end(), [](const MergeSide& a, const MergeSide& b) {
        return a.particle != b.particle ? a.particle < b.particle : a.partner < b.partner;
    });
    const auto count = static_cast<int32_t>(schedule.sides.size());
    for (int32_t k = 0; k < count;) {
        const int32_t particle = schedule.sides[static_cast<std::size_t>(k)].particle;
        int32_t end = k;
        while (end < count && schedule.sides[static_cast<std::size_t>(end)].particle == particle) ++end;
        schedule.mergingOf[static_cast<std::size_t>(particle)] = static_cast<int32_t>(schedule.merging.size());
        schedule.merging.push_back(MergingParticle{k, end - k});
        k = end;
    }
}

}  // namespace

void reserveMergeSearch(MergeSearch& search, MergeSchedule& schedule, int32_t n) {
    if (n <= search.capacity) return;
    const auto count = static_cast<std::size_t>(n);
    growTo(count + 2, search.cellStart);
    growTo(count, search.cellItems, search.cellOf, search.cellX, search.cellY, search.cellR);
    roomFor(count, search.big, schedule.events, schedule.merging);
    roomFor(2 * count, schedule.sides);
    roomFor(static_cast<std::size_t>(candidateLimit(n)), search.candidates);
    // New records are neither cut nor merging: a step clears only what it set.
    schedule.cutOf.resize(count, NOT_ABSORBED);
    schedule.mergingOf.resize(count, -1);
    search.capacity = n;
}

void clearMergeSchedule(MergeSchedule& schedule, int32_t last) {
    for (const MergeSide& side : schedule.sides) schedule.mergingOf[static_cast<std::size_t>(side.particle)] = -1;
    schedule.events.clear();
    schedule.sides.clear();
    schedule.merging.clear();
    std::fill(schedule.cutOf.begin(), schedule.cutOf.begin() + (last + 1), NOT_ABSORBED);
}

bool scheduleMerges(MergeSearch& search, MergeSchedule& schedule, int32_t last, double width, double height) {
    clearMergeSchedule(schedule, last);
    if (!findCandidates(search, last, width, height)) return false;
    std::sort(search.candidates.begin(), search.candidates.end());
    applyMerges(search, schedule, width, height);
    sortSides(schedule);
    return true;
}

bool mergeSearchApplies(const ParticleBuffer& c, int32_t last, double width, double height) {
    if (!(width > 0 && height > 0 && std::isfinite(width) && std::isfinite(height))) return false;
    for (int32_t i = 0; i <= last; ++i) {
        const Particle& p = c[i];
        if (p.mass == 0) continue;
        if (!(p.x >= -width && p.x <= 2 * width && p.y >= -height && p.y <= 2 * height)) return false;
        if (std::isnan(p.radius)) return false;
    }
    return true;
}

void stretchBounds(const MergeSchedule& schedule, const MergingParticle& particle, int32_t t, const int32_t* compactOf,
                   int32_t liveCount, int32_t& begin, int32_t& end) {
    const MergeSide* sides = schedule.sides.data() + particle.firstSide;
    begin = t == 0 ? 0 : compactOf[sides[t - 1].partner] + 1;
    end = t == particle.sideCount ? liveCount : compactOf[sides[t].partner];
}

bool absorbedAtEnd(const MergeSchedule& schedule, const MergingParticle& particle) {
    const MergeSide& lastSide = schedule.sides[static_cast<std::size_t>(particle.firstSide + particle.sideCount - 1)];
    return schedule.events[static_cast<std::size_t>(lastSide.event)].jSurvives == lastSide.isI;
}
