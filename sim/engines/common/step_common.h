// What the exact and fast engines share: their settings, the kernels and threads of the step, the
// index of the particles alive in the snapshot, the merge schedule, the phases every step begins
// with and the way back to the literal step.
#pragma once

#include <cstdint>
#include <vector>

#include "cpu.h"
#include "engine.h"
#include "kernels.h"
#include "merge_search.h"
#include "model.h"
#include "worker_pool.h"

// How the exact engine forms its quotients and square roots: with the instructions, or built from
// the processor's estimates with fused multiply-adds and proven lane by lane (rounded_divsqrt_*.h),
// or whichever of the two a short timing at first use finds faster (the default). The bits are the
// same every way; only the portable kernels have no built way.
enum class ExactDivision { Instructions, Built, Faster };

// How the exact engine forms its pairs: a fold per particle, the symmetric tiles, or whichever the
// count makes faster (the default). The bits are the same every way.
enum class ExactSchedule { Folds, Tiles, ByCount };

// What the caller chose. Results never depend on any of it but the engine.
struct StepSettings {
    StepEngine engine = StepEngine::Exact;
    int32_t threads = 0;                   // 0: every core
    CpuLevel cpuLimit = CpuLevel::Avx512;  // the kernels run at the lower of this and the processor's best
    ExactDivision division = ExactDivision::Faster;
    ExactSchedule schedule = ExactSchedule::ByCount;
    // The tests' way to run kernels of their own (a mutated copy) instead of the level's.
    const GravityKernels* kernels = nullptr;
};

// The particles alive in the snapshot (mass not 0), in table order: their live positions.
struct LiveIndex {
    int32_t count = 0;
    std::vector<int32_t> tableOf;    // live position -> table index
    std::vector<int32_t> compactOf;  // table index -> live position, -1 if dead in the snapshot
};

// The engines' common scratch and the step's resources.
struct StepCommon {
    StepSettings settings;
    CpuLevel level = CpuLevel::Scalar;  // the step's kernel level, set by prepareStep
    GravityKernels kernels{};
    WorkerPool pool;
    LiveIndex live;
    MergeSearch search;
    MergeSchedule schedule;
    bool handedOver = false;  // the last step was handed to the literal one

    // Threads a step uses: the setting, or every core, at most MAX_STEP_THREADS.
    int32_t threads() const {
        const int32_t wanted = settings.threads > 0 ? settings.threads : hardwareThreads();
        return wanted < MAX_STEP_THREADS ? wanted : MAX_STEP_THREADS;
    }
    // Whether a step over n live particles shares its work, given the count from which it pays.
    bool parallel(int32_t n, int32_t threshold) const { return threads() > 1 && n >= threshold; }
};

// Sizes the index and the merge search for tables of n records.
void reserveStepCommon(StepCommon& step, int32_t n);

// The kernels and threads for the step about to run.
void prepareStep(StepCommon& step);

// Phases 1 and 2 of every step: records 0..last copied to the snapshot, positions drifted with the
// snapshot's velocities and wrapped onto the field.
void snapshotAndDrift(int32_t last, double width, double height);

// How every step of the exact and fast engines begins: a state the engine does not take (applies
// false) goes to the literal step; else phases 1 and 2 and the merges scheduled (none with merging
// off). False when the step was handed over, also for merges too many to hold.
bool beginOrHandOver(StepCommon& step, bool applies, int32_t last, double width, double height, bool merging);

// Puts records 0..last back as the snapshot holds them (the step's start) and steps literally:
// for a state an engine found it cannot reproduce after it had begun.
void restartLiterally(StepCommon& step, int32_t last, double width, double height);

// Whether the merge search takes the table: positions within a period of the field (a merge only
// moves one a little outside it) and radii that are numbers.
bool mergeSearchApplies(const ParticleBuffer& c, int32_t last, double width, double height);

// Indexes records 0..last of the snapshot.
const LiveIndex& indexLiveParticles(LiveIndex& live, int32_t last);

// Live positions [begin, end) of stretch t of a merging particle's fold: the partners after its
// merge t - 1 and before its merge t (stretch sideCount runs to the end of the table).
void stretchBounds(const MergeSchedule& schedule, const MergeGroup& group, int32_t t, const LiveIndex& live,
                   int32_t& begin, int32_t& end);

// Whether the group's particle is absorbed by its last merge (then it has no stretch after it).
bool absorbedAtEnd(const MergeSchedule& schedule, const MergeGroup& group);
