// The fast step. Merges depend only on snapshot geometry and on which particles are still alive,
// so they are all decided first, in the literal pair order, with a grid. Each particle's pairs
// come in the order of its partners' indices, so one absorbed when paired with partner q takes
// part only in pairs with partners below q: that cut makes every gravity pair's fate known before
// any velocity changes. Gravity then runs as one symmetric pass over fixed blocks, and only the
// particles that merge get their sums split at their partners, to replay the merges' velocities.
#include "engine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "simulation.h"
#include "step_kernels.h"

namespace {

// Upper bound of blocks per side: 136 block pairs keep a few cores balanced while the partial sums
// (blocks per particle) stay small.
constexpr int32_t MAX_BLOCKS = 16;
// Below this many live particles a step is too short to be worth waking other threads.
constexpr int32_t MIN_PARALLEL_COUNT = 2048;
// Masses outside this range could make the literal mass test or the force overflow or vanish,
// where the two engines' different roundings stop being comparable; such steps run literally.
constexpr double MIN_FAST_MASS = 1e-150;
constexpr double MAX_FAST_MASS = 1e150;
constexpr double MAX_FAST_GRAVITY = 1e100;
constexpr double NO_CUT = std::numeric_limits<double>::infinity();

int32_t requestedThreads = 0;
CpuLevel cpuLimit = CpuLevel::Avx512;
bool lastWasLiteral = false;

int32_t hardwareThreads() {
    unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int32_t>(n);
}

// A few persistent threads that drain a counter of numbered tasks together with the caller.
class WorkerPool {
public:
    WorkerPool() = default;
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool() { resize(0); }

    int32_t workers() const { return static_cast<int32_t>(threads.size()); }

    void resize(int32_t count) {
        if (count == workers()) return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        wake.notify_all();
        for (std::thread& t : threads) t.join();
        threads.clear();
        stop = false;
        // The workers start from the current job number: a job posted before one of them first
        // takes the lock must still count that worker in.
        const uint64_t start = generation;
        for (int32_t k = 0; k < count; ++k) threads.emplace_back([this, start] { work(start); });
    }

    // Runs job(context, task) for every task in [0, count); returns when all have finished.
    void run(void (*job)(void*, int32_t), void* context, int32_t count, bool parallel) {
        if (!parallel || threads.empty() || count <= 1) {
            for (int32_t t = 0; t < count; ++t) job(context, t);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            currentJob = job;
            currentContext = context;
            taskCount = count;
            nextTask.store(0);
            busy = workers();
            ++generation;
        }
        wake.notify_all();
        drain();
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [this] { return busy == 0; });
    }

private:
    void drain() {
        for (int32_t t = nextTask.fetch_add(1); t < taskCount; t = nextTask.fetch_add(1)) currentJob(currentContext, t);
    }

    void work(uint64_t seen) {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return stop || generation != seen; });
                if (stop) return;
                seen = generation;
            }
            drain();
            std::lock_guard<std::mutex> lock(mutex);
            if (--busy == 0) done.notify_one();
        }
    }

    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    uint64_t generation = 0;
    bool stop = false;
    int32_t busy = 0;
    void (*currentJob)(void*, int32_t) = nullptr;
    void* currentContext = nullptr;
    int32_t taskCount = 0;
    std::atomic<int32_t> nextTask{0};
};

WorkerPool& pool() {
    static WorkerPool instance;
    return instance;
}

int32_t effectiveThreads() { return requestedThreads > 0 ? requestedThreads : hardwareThreads(); }

// One merge as the pair loop meets it; the masses are the current ones at that moment.
struct MergeEvent {
    int32_t i;
    int32_t j;
    bool jSurvives;
    double massI;
    double massJ;
    double segmentIx;  // i's velocity change since its previous merge (or the step's start)
    double segmentIy;
    double segmentJx;
    double segmentJy;
};

// One particle's part in one merge, sorted by particle and then partner: the particle's own order.
struct MergeSide {
    int32_t particle;
    int32_t partner;
    int32_t event;
    bool isI;
};

// The particles that merge, each with its run of sides and its change after its last merge.
struct MergeGroup {
    int32_t firstSide;
    int32_t sideCount;
    double tailX;
    double tailY;
};

struct Scratch {
    int32_t capacity = 0;
    // Live particles, structure of arrays, padded.
    std::vector<double> x, y, gm, idx, cut;
    std::vector<unsigned char> tileCut;
    std::vector<int32_t> tableOf;    // live position -> table index
    std::vector<int32_t> compactOf;  // table index -> live position, -1 if dead in the snapshot
    std::vector<double> partX, partY;
    std::vector<double> totalX, totalY;
    std::vector<int32_t> blockPairs;  // a * MAX_BLOCKS + b
    // Merge search.
    std::vector<int32_t> cellStart, cellItems, cellOf, big;
    std::vector<double> cellX, cellY, cellR;
    std::vector<int64_t> candidates;  // lower index << 32 | higher index
    int32_t candidateLimit = 0;       // for this step's table
    std::vector<double> cutOf;  // by table index
    std::vector<MergeEvent> events;
    std::vector<MergeSide> sides;
    std::vector<MergeGroup> groups;
    std::vector<double> velocityX, velocityY;  // by table index, for merging particles
    std::vector<unsigned char> merging;        // by table index
};

// Constant-initialised, so the store may size it before main whatever the order of static set-up.
constinit Scratch scratch;

// Candidate pairs beyond this many (heaps of overlapping particles) make the step run literally.
int32_t candidateLimit(int32_t n) { return 4 * n + 64; }

int32_t paddedCount(int32_t n) { return (n + KERNEL_TILE - 1) / KERNEL_TILE * KERNEL_TILE; }

void growScratch(int32_t n) {
    if (n <= scratch.capacity) return;
    const auto count = static_cast<std::size_t>(n);
    const auto padded = static_cast<std::size_t>(paddedCount(n) + KERNEL_TILE);
    for (std::vector<double>* v : {&scratch.x, &scratch.y, &scratch.gm, &scratch.idx, &scratch.cut}) v->resize(padded);
    scratch.tableOf.resize(count);
    scratch.tileCut.resize(padded / KERNEL_TILE);
    scratch.compactOf.resize(count);
    // blocks^2 * blockSize <= blocks * padded + blocks^2 * tile
    const std::size_t parts = MAX_BLOCKS * padded + MAX_BLOCKS * MAX_BLOCKS * KERNEL_TILE;
    scratch.partX.resize(parts);
    scratch.partY.resize(parts);
    scratch.totalX.resize(padded);
    scratch.totalY.resize(padded);
    scratch.blockPairs.reserve(MAX_BLOCKS * MAX_BLOCKS);
    scratch.cellStart.resize(count + 2);
    scratch.cellItems.resize(count);
    scratch.cellOf.resize(count);
    scratch.big.reserve(count);
    scratch.cellX.resize(count);
    scratch.cellY.resize(count);
    scratch.cellR.resize(count);
    scratch.candidates.reserve(static_cast<std::size_t>(candidateLimit(n)));
    scratch.cutOf.resize(count);
    scratch.events.reserve(count);
    scratch.sides.reserve(2 * count);
    scratch.groups.reserve(count);
    scratch.velocityX.resize(count);
    scratch.velocityY.resize(count);
    scratch.merging.resize(count);
    scratch.capacity = n;
}

GravityKernels kernelsFor(CpuLevel level) {
    switch (level) {
        case CpuLevel::Avx512: return gravityKernelsAvx512();
        case CpuLevel::Avx2: return gravityKernelsAvx2();
        default: return gravityKernelsScalar();
    }
}

// Values the fast path reproduces: finite, ordinary masses and gravity, positions within a period
// of the field (a merge can only move one a little outside it), radii that are numbers.
bool fastPathApplies(const ParticleBuffer& c, int32_t last, double width, double height) {
    const double g = simParameters.gravity;
    if (!(std::fabs(g) <= MAX_FAST_GRAVITY)) return false;
    if (!(width > 0 && height > 0 && std::isfinite(width) && std::isfinite(height))) return false;
    for (int32_t i = 0; i <= last; ++i) {
        const Particle& p = c[i];
        if (p.mass == 0) continue;
        if (!(p.mass >= MIN_FAST_MASS && p.mass <= MAX_FAST_MASS)) return false;
        if (!(p.x >= -width && p.x <= 2 * width && p.y >= -height && p.y <= 2 * height)) return false;
        if (std::isnan(p.radius)) return false;
    }
    return true;
}

// wrapCoordinate, without the call for the common value already on the field (which it keeps as is).
inline double wrapInside(double value, double extent) {
    return value >= 0 && value <= extent ? value : wrapCoordinate(value, extent);
}

double foldInto(double value, double extent) {
    if (value < 0) value += extent;
    if (value >= extent) value -= extent;
    return value;
}

// The literal merge, except velocities: those are replayed once the gravity sums are known.
void mergeWithoutVelocity(int32_t i, int32_t j, double width, double height) {
    ParticleBuffer& c = simState.current;
    const Particle& si = simState.snapshot[i];
    const Particle& sj = simState.snapshot[j];
    const double ex = axisPullSign(si.x, sj.x, width);
    const double ey = axisPullSign(si.y, sj.y, height);
    const double dxo = minimumImageOffset(si.x, sj.x, width);
    const double dyo = minimumImageOffset(si.y, sj.y, height);
    const bool jSurvives = sj.radius >= si.radius;
    Particle& a = jSurvives ? c[j] : c[i];
    Particle& b = jSurvives ? c[i] : c[j];
    const double radius = std::sqrt(c[i].radius * c[i].radius + c[j].radius * c[j].radius);
    const double totalSnapshotMass = si.mass + sj.mass;
    double x = 0;
    double y = 0;
    if (jSurvives) {
        x = c[j].x + si.mass * ex * dxo / totalSnapshotMass;
        y = c[j].y + si.mass * ey * dyo / totalSnapshotMass;
    } else {
        x = c[i].x - sj.mass * ex * dxo / totalSnapshotMass;
        y = c[i].y - sj.mass * ey * dyo / totalSnapshotMass;
    }
    MergeEvent e{};
    e.i = i;
    e.j = j;
    e.jSurvives = jSurvives;
    e.massI = c[i].mass;
    e.massJ = c[j].mass;
    const double mass = c[i].mass + c[j].mass;
    a.radius = radius;
    a.x = x;
    a.y = y;
    a.mass = mass;
    b.mass = 0;
    b.radius = 0;
    b.x = 0;
    b.y = 0;
    scratch.cutOf[static_cast<std::size_t>(jSurvives ? i : j)] = jSurvives ? j : i;
    scratch.events.push_back(e);
}

// The literal merge test, for a pair already known to be within a few ulps of merging reach.
bool closeEnough(int32_t i, int32_t j, double width, double height) {
    const Particle& si = simState.snapshot[i];
    const Particle& sj = simState.snapshot[j];
    const double r = periodicDistance(si.x, si.y, sj.x, sj.y, width, height);
    return si.radius + sj.radius >= MERGE_RANGE_FACTOR * r;
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
bool addCandidate(int32_t i, int32_t j, double width, double height) {
    const int32_t lo = std::min(i, j);
    const int32_t hi = std::max(i, j);
    if (!closeEnough(lo, hi, width, height)) return true;
    if (static_cast<int32_t>(scratch.candidates.size()) >= scratch.candidateLimit) return false;
    scratch.candidates.push_back(static_cast<int64_t>(lo) << 32 | static_cast<int64_t>(hi));
    return true;
}

// Every pair close enough to merge, from a grid over the snapshot: each cell against itself and
// four of its neighbours, so that each pair of cells is met once; large particles against all.
// Returns false if there were too many to hold.
bool findCandidates(int32_t last, double width, double height) {
    const ParticleBuffer& s = simState.snapshot;
    scratch.candidates.clear();
    // By this step's count, not the scratch's capacity, so the same table always takes the same path.
    scratch.candidateLimit = candidateLimit(last + 1);
    // Particles this large are tested against everyone, so the grid's cells stay small.
    const double bigRadius = std::min(width, height) * MERGE_RANGE_FACTOR / 32;
    int32_t alive = 0;
    double smallRadius = 0;
    scratch.big.clear();
    for (int32_t i = 0; i <= last; ++i) {
        if (s[i].mass == 0) continue;
        ++alive;
        if (s[i].radius > bigRadius) {
            scratch.big.push_back(i);
        } else {
            smallRadius = std::max(smallRadius, s[i].radius);
        }
    }
    if (alive < 2) return true;
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
    const double cellWidth = width / nx;
    const double cellHeight = height / ny;
    const int32_t cells = nx * ny;

    int32_t* start = scratch.cellStart.data();
    std::fill(start, start + cells + 1, 0);
    for (int32_t i = 0; i <= last; ++i) {
        scratch.cellOf[static_cast<std::size_t>(i)] = -1;
        if (s[i].mass == 0 || s[i].radius > bigRadius) continue;
        const int32_t cx = std::min(nx - 1, static_cast<int32_t>(foldInto(s[i].x, width) / cellWidth));
        const int32_t cy = std::min(ny - 1, static_cast<int32_t>(foldInto(s[i].y, height) / cellHeight));
        const int32_t k = cy * nx + cx;
        scratch.cellOf[static_cast<std::size_t>(i)] = k;
        ++start[k + 1];
    }
    for (int32_t k = 0; k < cells; ++k) start[k + 1] += start[k];
    for (int32_t i = 0; i <= last; ++i) {
        const int32_t k = scratch.cellOf[static_cast<std::size_t>(i)];
        if (k < 0) continue;
        const auto at = static_cast<std::size_t>(start[k]++);
        scratch.cellItems[at] = i;
        scratch.cellX[at] = s[i].x;
        scratch.cellY[at] = s[i].y;
        scratch.cellR[at] = s[i].radius;
    }
    for (int32_t k = cells; k > 0; --k) start[k] = start[k - 1];
    start[0] = 0;

    const double* px = scratch.cellX.data();
    const double* py = scratch.cellY.data();
    const double* pr = scratch.cellR.data();
    const int32_t* item = scratch.cellItems.data();
    // Cells are stored row by row, so a cell and its right-hand neighbour, and the three cells
    // below them, are runs of consecutive items: each particle meets the rest of its own cell and
    // its four forward neighbours in at most four runs (two where no edge wraps).
    const auto testRun = [&](int32_t p, int32_t from, int32_t to) {
        for (int32_t q = from; q < to; ++q) {
            if (mayMerge(px[p], py[p], pr[p], px[q], py[q], pr[q], width, height) &&
                !addCandidate(item[p], item[q], width, height))
                return false;
        }
        return true;
    };
    for (int32_t cy = 0; cy < ny; ++cy) {
        const int32_t row = cy * nx;
        const int32_t below = (cy + 1 == ny ? 0 : cy + 1) * nx;
        for (int32_t cx = 0; cx < nx; ++cx) {
            const int32_t home = row + cx;
            if (start[home] == start[home + 1]) continue;
            if (cells == 1) {
                for (int32_t p = start[home]; p < start[home + 1]; ++p) {
                    if (!testRun(p, p + 1, start[home + 1])) return false;
                }
                continue;
            }
            // Runs: [own cell after p, right-hand neighbour] and [below left .. below right], split at the edges.
            const bool rightWraps = cx + 1 == nx;
            const int32_t sameEnd = rightWraps ? start[home + 1] : start[home + 2];
            struct Run {
                int32_t from;
                int32_t to;
            };
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
    for (std::size_t b = 0; b < scratch.big.size(); ++b) {
        const int32_t i = scratch.big[b];
        for (int32_t j = 0; j <= last; ++j) {
            if (j == i || s[j].mass == 0) continue;
            // Two large particles meet once, from the lower index.
            if (s[j].radius > bigRadius && j < i) continue;
            if (mayMerge(s[i].x, s[i].y, s[i].radius, s[j].x, s[j].y, s[j].radius, width, height) &&
                !addCandidate(i, j, width, height))
                return false;
        }
    }
    return true;
}

// Every merge of the step in the literal pair order (i ascending, then j): a close pair merges
// unless one of the two has been absorbed already. Returns false if the candidates overflowed.
bool findMerges(int32_t last, double width, double height) {
    if (!findCandidates(last, width, height)) return false;
    std::sort(scratch.candidates.begin(), scratch.candidates.end());
    ParticleBuffer& c = simState.current;
    for (int64_t pair : scratch.candidates) {
        const auto i = static_cast<int32_t>(pair >> 32);
        const auto j = static_cast<int32_t>(pair & 0xFFFFFFFF);
        if (!(c[i].mass * c[j].mass > 0)) continue;
        mergeWithoutVelocity(i, j, width, height);
    }
    return true;
}

struct GravityJob {
    GravityView view;
    GravityKernels kernels;
};

void runBlockPair(void* context, int32_t task) {
    auto* job = static_cast<GravityJob*>(context);
    const int32_t pair = scratch.blockPairs[static_cast<std::size_t>(task)];
    job->kernels.pairTask(job->view, pair / MAX_BLOCKS, pair % MAX_BLOCKS);
}

// Each particle's total: its block's parts summed in block order, the same for every schedule.
void runReduction(void* context, int32_t block) {
    const GravityView& v = static_cast<GravityJob*>(context)->view;
    const int32_t begin = block * v.blockSize;
    const int32_t end = std::min(begin + v.blockSize, v.count);
    for (int32_t p = begin; p < end; ++p) {
        double sx = 0;
        double sy = 0;
        for (int32_t q = 0; q < v.blocks; ++q) {
            const std::size_t at =
                (static_cast<std::size_t>(block) * static_cast<std::size_t>(v.blocks) + static_cast<std::size_t>(q)) *
                    static_cast<std::size_t>(v.blockSize) +
                static_cast<std::size_t>(p - begin);
            sx = sx + v.partX[at];
            sy = sy + v.partY[at];
        }
        scratch.totalX[static_cast<std::size_t>(p)] = sx;
        scratch.totalY[static_cast<std::size_t>(p)] = sy;
    }
}

// A merging particle's sums between its merges: every stretch but the longest is summed directly,
// the longest is what the total leaves. A stretch after the particle's absorption is empty.
void runSplit(void* context, int32_t groupIndex) {
    auto* job = static_cast<GravityJob*>(context);
    const GravityView& v = job->view;
    MergeGroup& group = scratch.groups[static_cast<std::size_t>(groupIndex)];
    const MergeSide* sides = scratch.sides.data() + group.firstSide;
    const int32_t p = scratch.compactOf[static_cast<std::size_t>(sides[0].particle)];
    const int32_t k = group.sideCount;
    const MergeSide& lastSide = sides[k - 1];
    const MergeEvent& lastEvent = scratch.events[static_cast<std::size_t>(lastSide.event)];
    const bool absorbedAtEnd = lastEvent.jSurvives == lastSide.isI;
    const int32_t stretches = absorbedAtEnd ? k : k + 1;

    const auto bounds = [&](int32_t t, int32_t& begin, int32_t& end) {
        begin = t == 0 ? 0 : scratch.compactOf[static_cast<std::size_t>(sides[t - 1].partner)] + 1;
        end = t == k ? v.count : scratch.compactOf[static_cast<std::size_t>(sides[t].partner)];
    };
    int32_t longest = 0;
    int32_t longestLength = -1;
    for (int32_t t = 0; t < stretches; ++t) {
        int32_t begin = 0;
        int32_t end = 0;
        bounds(t, begin, end);
        if (end - begin > longestLength) {
            longest = t;
            longestLength = end - begin;
        }
    }
    double restX = 0;
    double restY = 0;
    const auto store = [&](int32_t t, double sx, double sy) {
        if (t == k) {
            group.tailX = sx;
            group.tailY = sy;
            return;
        }
        MergeEvent& e = scratch.events[static_cast<std::size_t>(sides[t].event)];
        if (sides[t].isI) {
            e.segmentIx = sx;
            e.segmentIy = sy;
        } else {
            e.segmentJx = sx;
            e.segmentJy = sy;
        }
    };
    for (int32_t t = 0; t < stretches; ++t) {
        if (t == longest) continue;
        int32_t begin = 0;
        int32_t end = 0;
        bounds(t, begin, end);
        double sum[2] = {0, 0};
        if (end > begin) job->kernels.partnerSum(v, p, begin, end, sum);
        restX = restX + sum[0];
        restY = restY + sum[1];
        store(t, sum[0], sum[1]);
    }
    store(longest, scratch.totalX[static_cast<std::size_t>(p)] - restX,
          scratch.totalY[static_cast<std::size_t>(p)] - restY);
    if (absorbedAtEnd) store(k, 0, 0);
}

// The merges' velocities in the literal order, each from the sums accumulated up to that pair.
void replayMergeVelocities() {
    ParticleBuffer& c = simState.current;
    for (const MergeSide& side : scratch.sides) {
        const auto p = static_cast<std::size_t>(side.particle);
        scratch.velocityX[p] = c[side.particle].vx;
        scratch.velocityY[p] = c[side.particle].vy;
    }
    for (const MergeEvent& e : scratch.events) {
        const auto i = static_cast<std::size_t>(e.i);
        const auto j = static_cast<std::size_t>(e.j);
        const double vix = scratch.velocityX[i] + e.segmentIx;
        const double viy = scratch.velocityY[i] + e.segmentIy;
        const double vjx = scratch.velocityX[j] + e.segmentJx;
        const double vjy = scratch.velocityY[j] + e.segmentJy;
        const double vx = (vix * e.massI + vjx * e.massJ) / (e.massI + e.massJ);
        const double vy = (viy * e.massI + vjy * e.massJ) / (e.massI + e.massJ);
        const std::size_t a = e.jSurvives ? j : i;
        const std::size_t b = e.jSurvives ? i : j;
        scratch.velocityX[a] = vx;
        scratch.velocityY[a] = vy;
        scratch.velocityX[b] = 0;
        scratch.velocityY[b] = 0;
    }
    for (const MergeGroup& group : scratch.groups) {
        const int32_t p = scratch.sides[static_cast<std::size_t>(group.firstSide)].particle;
        const auto at = static_cast<std::size_t>(p);
        c[p].vx = scratch.velocityX[at] + group.tailX;
        c[p].vy = scratch.velocityY[at] + group.tailY;
    }
}

void groupMergeSides() {
    scratch.sides.clear();
    scratch.groups.clear();
    for (std::size_t e = 0; e < scratch.events.size(); ++e) {
        const MergeEvent& event = scratch.events[e];
        scratch.sides.push_back(MergeSide{event.i, event.j, static_cast<int32_t>(e), true});
        scratch.sides.push_back(MergeSide{event.j, event.i, static_cast<int32_t>(e), false});
    }
    std::sort(scratch.sides.begin(), scratch.sides.end(), [](const MergeSide& a, const MergeSide& b) {
        return a.particle != b.particle ? a.particle < b.particle : a.partner < b.partner;
    });
    const auto count = static_cast<int32_t>(scratch.sides.size());
    for (int32_t k = 0; k < count;) {
        int32_t end = k;
        while (end < count && scratch.sides[static_cast<std::size_t>(end)].particle ==
                                  scratch.sides[static_cast<std::size_t>(k)].particle)
            ++end;
        scratch.groups.push_back(MergeGroup{k, end - k, 0, 0});
        scratch.merging[static_cast<std::size_t>(scratch.sides[static_cast<std::size_t>(k)].particle)] = 1;
        k = end;
    }
}

}  // namespace

void setStepThreads(int32_t threads) {
    requestedThreads = threads > 0 ? threads : 0;
    pool().resize(effectiveThreads() - 1);
}

int32_t stepThreads() { return effectiveThreads(); }

void setStepCpuLimit(CpuLevel limit) { cpuLimit = limit; }

CpuLevel stepCpuLevel() {
    static const CpuLevel detected = detectCpuLevel();
    return static_cast<int>(detected) < static_cast<int>(cpuLimit) ? detected : cpuLimit;
}

void reserveStepScratch(int32_t n) { growScratch(n); }

bool lastFastStepWasLiteral() { return lastWasLiteral; }

void stepSimulationFast(double width, double height) {
    ParticleBuffer& c = simState.current;
    ParticleBuffer& s = simState.snapshot;
    const int32_t last = simState.lastIndex;
    lastWasLiteral = !fastPathApplies(c, last, width, height);
    if (lastWasLiteral) {
        stepSimulationLiteral(width, height);
        return;
    }
    // Only where the buffers were sized without reallocate (tests); the program never grows here.
    growScratch(last + 1);
    const int32_t threads = effectiveThreads();
    if (pool().workers() != threads - 1) pool().resize(threads - 1);

    for (int32_t i = 0; i <= last; ++i) s[i] = c[i];
    for (int32_t i = 0; i <= last; ++i) {
        c[i].x = wrapInside(c[i].x + s[i].vx * TIME_STEP, width);
        c[i].y = wrapInside(c[i].y + s[i].vy * TIME_STEP, height);
    }

    const bool mergingOn = simParameters.mergeEnabled == 1;
    scratch.events.clear();
    scratch.sides.clear();
    scratch.groups.clear();
    std::fill(scratch.cutOf.begin(), scratch.cutOf.begin() + (last + 1), NO_CUT);
    if (mergingOn && !findMerges(last, width, height)) {
        // Nothing has merged yet: undo the drift and let the literal step do it all.
        for (int32_t i = 0; i <= last; ++i) c[i] = s[i];
        lastWasLiteral = true;
        stepSimulationLiteral(width, height);
        return;
    }
    const bool anyMerge = !scratch.events.empty();

    int32_t n = 0;
    const double g = simParameters.gravity;
    for (int32_t i = 0; i <= last; ++i) {
        scratch.compactOf[static_cast<std::size_t>(i)] = -1;
        if (s[i].mass == 0) continue;
        const auto k = static_cast<std::size_t>(n);
        scratch.x[k] = s[i].x;
        scratch.y[k] = s[i].y;
        scratch.gm[k] = g * s[i].mass * TIME_STEP;
        scratch.idx[k] = i;
        scratch.cut[k] = scratch.cutOf[static_cast<std::size_t>(i)];
        scratch.tableOf[k] = i;
        scratch.compactOf[static_cast<std::size_t>(i)] = n;
        ++n;
    }
    const int32_t padded = paddedCount(n);
    std::fill(scratch.tileCut.begin(), scratch.tileCut.begin() + padded / KERNEL_TILE, 0);
    for (int32_t k = 0; k < n; ++k) {
        if (scratch.cut[static_cast<std::size_t>(k)] != NO_CUT) scratch.tileCut[static_cast<std::size_t>(k / KERNEL_TILE)] = 1;
    }
    for (int32_t k = n; k < padded; ++k) {
        const auto at = static_cast<std::size_t>(k);
        scratch.x[at] = std::numeric_limits<double>::quiet_NaN();
        scratch.y[at] = std::numeric_limits<double>::quiet_NaN();
        scratch.gm[at] = 0;
        scratch.idx[at] = 0;
        scratch.cut[at] = NO_CUT;
    }

    if (n >= 2) {
        // The blocks depend on the count alone, never on the threads, and so do the sums.
        const int32_t tiles = padded / KERNEL_TILE;
        // One block while the step runs on one thread anyway: fewer, longer passes over the rows.
        int32_t blocks = n < MIN_PARALLEL_COUNT ? 1 : std::min(MAX_BLOCKS, tiles);
        const int32_t blockSize = (tiles + blocks - 1) / blocks * KERNEL_TILE;
        blocks = (padded + blockSize - 1) / blockSize;
        GravityJob job{};
        job.view = GravityView{scratch.x.data(), scratch.y.data(), scratch.gm.data(), scratch.idx.data(),
                               scratch.cut.data(), scratch.partX.data(), scratch.partY.data(), n, padded,
                               blockSize, blocks, width, height, scratch.tileCut.data()};
        job.kernels = kernelsFor(stepCpuLevel());
        scratch.blockPairs.clear();
        for (int32_t a = 0; a < blocks; ++a) {
            for (int32_t b = a + 1; b < blocks; ++b) scratch.blockPairs.push_back(a * MAX_BLOCKS + b);
        }
        for (int32_t a = 0; a < blocks; ++a) scratch.blockPairs.push_back(a * MAX_BLOCKS + a);
        const bool parallel = threads > 1 && n >= MIN_PARALLEL_COUNT;
        pool().run(runBlockPair, &job, static_cast<int32_t>(scratch.blockPairs.size()), parallel);
        pool().run(runReduction, &job, blocks, parallel);
        if (anyMerge) {
            groupMergeSides();
            pool().run(runSplit, &job, static_cast<int32_t>(scratch.groups.size()), parallel);
            replayMergeVelocities();
        }
        for (int32_t k = 0; k < n; ++k) {
            const int32_t i = scratch.tableOf[static_cast<std::size_t>(k)];
            if (scratch.merging[static_cast<std::size_t>(i)]) continue;
            c[i].vx = c[i].vx + scratch.totalX[static_cast<std::size_t>(k)];
            c[i].vy = c[i].vy + scratch.totalY[static_cast<std::size_t>(k)];
        }
        for (const MergeGroup& group : scratch.groups) {
            scratch.merging[static_cast<std::size_t>(scratch.sides[static_cast<std::size_t>(group.firstSide)].particle)] =
                0;
        }
    }

    if (mergingOn) compactParticles();
}
