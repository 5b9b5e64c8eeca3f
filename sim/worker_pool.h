// The step engines' threads: a few persistent workers that share numbered tasks with the caller.
// Every engine fixes its work by the table alone, so results never depend on which thread ran
// which task, nor on how many there are.
#pragma once

#include <cstdint>

// Below this many live particles a fast step is too short to be worth waking other threads (its
// blocks, and so its sums, change at this count too).
inline constexpr int32_t MIN_PARALLEL_COUNT = 2048;
// The same for an exact step, which does four times the work a pair and whose folds do not depend
// on how they are shared out.
inline constexpr int32_t MIN_PARALLEL_EXACT_COUNT = 192;

// Runs job(context, task) for every task in [0, count) and returns when all have finished: on the
// step's threads when parallel is true, else on the caller alone.
void runStepTasks(void (*job)(void*, int32_t), void* context, int32_t count, bool parallel);

// The same for a callable taking the task number.
template <typename Job>
void runStepTasks(int32_t count, bool parallel, Job& job) {
    runStepTasks([](void* context, int32_t task) { (*static_cast<Job*>(context))(task); }, &job, count, parallel);
}

// Starts or stops workers so that the pool matches the step's thread count (engine.h); a step
// calls it before it runs tasks.
void prepareStepThreads();

// For tests: asked before each worker thread is created; false makes that creation fail as it does
// when the system has no thread left to give. nullptr, the default, lets every creation go ahead.
void setStepThreadCreationCheck(bool (*check)());

// The workers that run tasks beside the caller: the step's threads less one, or fewer where the
// system refused some.
int32_t stepWorkerThreads();
