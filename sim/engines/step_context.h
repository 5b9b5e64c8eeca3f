// The step's context, shared by the exact and fast engines: the caller's settings, the kernels and
// threads of the step, the index of the particles alive in the snapshot, the merge schedule, the
// phases every step begins with and the way back to the literal step.
#pragma once

#include <cstdint>
#include <vector>

#include "cpu.h"
#include "engine.h"
#include "kernels.h"
#include "merge_search.h"
#include "model.h"
#include "worker_pool.h"

// What the caller chose for every engine. Results never depend on any of it but the engine.
struct StepSettings {
    StepEngine engine = StepEngine::Exact;
    int32_t threads = 0;                   // 0: every core
    CpuLevel cpuLimit = CpuLevel::Avx512;  // the kernels run at the lower of this and the processor's best
    // The tests' way to run kernels of their own (a mutated copy) instead of the level's.
    const GravityKernels* kernels = nullptr;
};

// The particles alive in the snapshot (mass not 0), in table order: their live positions.
struct LiveIndex {
    int32_t count = 0;
    std::vector<int32_t> tableOf;    // live position -> table index
    std::vector<int32_t> compactOf;  // table index -> live position, -1 if dead in the snapshot
};

struct StepContext {
    StepSettings settings;
    CpuLevel level = CpuLevel::Scalar;  // the step's kernel level, set by prepareStep
    GravityKernels kernels{};
    WorkerPool pool;
    LiveIndex live;
    MergeSearch search;
    MergeSchedule schedule;
    bool lastStepHandedOver = false;

    // Threads a step uses: the setting, or every core, at most MAX_STEP_THREADS.
    int32_t threads() const {
        const int32_t wanted = settings.threads > 0 ? settings.threads : hardwareThreads();
        return wanted < MAX_STEP_THREADS ? wanted : MAX_STEP_THREADS;
    }
    // Whether a step over n live particles shares its work, given the count from which it pays.
    bool parallel(int32_t n, int32_t threshold) const { return threads() > 1 && n >= threshold; }
};

// Sizes the index and the merge search for tables of n records.
void reserveStepContext(StepContext& step, int32_t n);

// The kernels and threads for the step about to run.
void prepareStep(StepContext& step);

// Phases 1 and 2 of every step: records 0..last copied to the snapshot, positions drifted with the
// snapshot's velocities and wrapped onto the field.
void snapshotAndDrift(int32_t last, double width, double height);

// How every step of the exact and fast engines begins: a state the engine does not take (applies
// false) goes to the literal step; else phases 1 and 2, the merges scheduled (none with merging
// off) and the live particles indexed. The live count; -1 when the step was handed over, also for
// merges too many to hold.
int32_t beginOrHandOver(StepContext& step, bool applies, double width, double height);

// Puts records 0..last back as the snapshot holds them (the step's start) and steps literally:
// for a state an engine found it cannot reproduce after it had begun.
void restartLiterally(StepContext& step, double width, double height);
