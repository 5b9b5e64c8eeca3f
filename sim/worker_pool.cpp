#include "worker_pool.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "engine.h"

namespace {

int32_t requestedThreads = 0;
bool (*creationCheck)() = nullptr;

int32_t hardwareThreads() {
    unsigned n = std::thread::hardware_concurrency();
    if (n == 0) return 1;
    return n > static_cast<unsigned>(MAX_STEP_THREADS) ? MAX_STEP_THREADS : static_cast<int32_t>(n);
}

int32_t effectiveThreads() { return requestedThreads > 0 ? requestedThreads : hardwareThreads(); }

// A few persistent threads that drain a counter of numbered tasks together with the caller.
class WorkerPool {
public:
    WorkerPool() = default;
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool() { resize(0); }

    int32_t workers() const { return static_cast<int32_t>(threads.size()); }

    // Asks for count workers. Where the system refuses a thread, the pool keeps those it got and
    // does not ask again until the count changes: tasks are shared out as they run, so fewer
    // workers change nothing but the time.
    void resize(int32_t count) {
        if (count == wanted) return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        wake.notify_all();
        for (std::thread& t : threads) t.join();
        threads.clear();
        stop = false;
        wanted = count;
        threads.reserve(static_cast<std::size_t>(count));
        // The workers start from the current job number: a job posted before one of them first
        // takes the lock must still count that worker in.
        const uint64_t start = generation;
        try {
            for (int32_t k = 0; k < count; ++k) {
                if (creationCheck != nullptr && !creationCheck())
                    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
                threads.emplace_back([this, start] { work(start); });
            }
        } catch (const std::system_error&) {
            // The threads made so far serve.
        } catch (const std::bad_alloc&) {
        }
    }

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
    int32_t wanted = 0;
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

}  // namespace

void setStepThreads(int32_t threads) {
    requestedThreads = threads <= 0 ? 0 : threads > MAX_STEP_THREADS ? MAX_STEP_THREADS : threads;
    pool().resize(effectiveThreads() - 1);
}

int32_t stepThreads() { return effectiveThreads(); }

void prepareStepThreads() { pool().resize(effectiveThreads() - 1); }

void runStepTasks(void (*job)(void*, int32_t), void* context, int32_t count, bool parallel) {
    pool().run(job, context, count, parallel);
}

void setStepThreadCreationCheck(bool (*check)()) { creationCheck = check; }

int32_t stepWorkerThreads() { return pool().workers(); }
