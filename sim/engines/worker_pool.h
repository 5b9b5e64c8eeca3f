// The step engines' threads: a few persistent workers that share numbered tasks with the caller.
// Every engine fixes its work by the table alone, so results never depend on which thread ran
// which task, nor on how many there are.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// Below this many live particles a fast step is too short to be worth waking other threads (its
// blocks, and so its sums, change at this count too).
inline constexpr int32_t MIN_PARALLEL_COUNT = 2048;
// The same for an exact step, which does four times the work a pair and whose folds do not depend
// on how they are shared out.
inline constexpr int32_t MIN_PARALLEL_EXACT_COUNT = 192;

// Threads a step may use when the caller asks for every core (threads <= 0): the processor's.
int32_t hardwareThreads();

class WorkerPool {
public:
    WorkerPool() = default;
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool() { resize(0); }

    // The workers running beside the caller: as many as asked for, or fewer where the system
    // refused some.
    int32_t workers() const { return static_cast<int32_t>(threads.size()); }

    // Starts or stops workers so that there are count of them besides the caller. Where the system
    // refuses a thread, the pool keeps those it got and does not ask again until count changes:
    // tasks are shared out as they run, so fewer workers change nothing but the time.
    void resize(int32_t count);

    // For tests: asked before each worker is created; false makes that creation fail as it does
    // when the system has no thread left to give. nullptr, the default, lets every one go ahead.
    void setCreationCheck(bool (*check)()) { creationCheck = check; }

    // Runs job(context, task) for every task in [0, count) and returns when all have finished: on
    // the workers too when parallel is true, else on the caller alone.
    void run(void (*job)(void*, int32_t), void* context, int32_t count, bool parallel);

    // The same for a callable taking the task number.
    template <typename Job>
    void run(int32_t count, bool parallel, Job& job) {
        run([](void* context, int32_t task) { (*static_cast<Job*>(context))(task); }, &job, count, parallel);
    }

private:
    void drain();
    void work(uint64_t seen);

    std::vector<std::thread> threads;
    int32_t wanted = 0;
    bool (*creationCheck)() = nullptr;
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
