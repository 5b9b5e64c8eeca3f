#include "worker_pool.h"

#include <new>
#include <system_error>

int32_t hardwareThreads() {
    // Asked once: the C library reads it from the system on every call, and every step asks.
    static const int32_t threads = [] {
        const unsigned n = std::thread::hardware_concurrency();
        return n == 0 ? 1 : static_cast<int32_t>(n);
    }();
    return threads;
}

void WorkerPool::resize(int32_t count) {
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
    threads.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
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

void WorkerPool::run(void (*job)(void*, int32_t), void* context, int32_t count, bool parallel) {
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

void WorkerPool::drain() {
    for (int32_t t = nextTask.fetch_add(1); t < taskCount; t = nextTask.fetch_add(1)) currentJob(currentContext, t);
}

void WorkerPool::work(uint64_t seen) {
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
