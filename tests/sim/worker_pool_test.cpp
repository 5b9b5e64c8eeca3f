// The worker pool when the system refuses threads: it keeps those it got, runs every task once and
// gives the same steps as one thread; it does not ask again until the count changes.
#include "worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "step_tables.h"

namespace {

int creationsAllowed = 0;
int creationsAsked = 0;

bool allowSomeCreations() { return ++creationsAsked <= creationsAllowed; }

// Lets the pool create only the first allowed workers from now on.
void refuseAfter(WorkerPool& pool, int allowed) {
    creationsAllowed = allowed;
    creationsAsked = 0;
    pool.setCreationCheck(allowSomeCreations);
}

// How often each of count tasks ran, and on how many threads. With waitForOthers the first task
// waits (up to a limit) until another thread has taken one, so that workers which never run show
// in the count.
struct Runs {
    std::vector<int> perTask;
    std::size_t threads;
};
Runs runTasks(WorkerPool& pool, int32_t count, bool waitForOthers) {
    std::vector<std::atomic<int>> runs(static_cast<std::size_t>(count));
    std::mutex mutex;
    std::condition_variable ran;
    std::set<std::thread::id> seen;
    auto job = [&](int32_t task) {
        runs[static_cast<std::size_t>(task)].fetch_add(1);
        std::unique_lock<std::mutex> lock(mutex);
        seen.insert(std::this_thread::get_id());
        ran.notify_all();
        if (task == 0 && waitForOthers) ran.wait_for(lock, std::chrono::seconds(20), [&] { return seen.size() > 1; });
    };
    pool.run(count, true, job);
    Runs result{{}, seen.size()};
    for (const std::atomic<int>& r : runs) result.perTask.push_back(r.load());
    return result;
}

TEST(WorkerPool, RefusedThreadsLeaveThePoolWithThoseItGot) {
    WorkerPool pool;
    refuseAfter(pool, 2);
    pool.resize(5);
    EXPECT_EQ(pool.workers(), 2);
    // It stops at the first refusal rather than asking for every thread in turn.
    EXPECT_EQ(creationsAsked, 3);
    const Runs runs = runTasks(pool, 400, true);
    EXPECT_EQ(runs.perTask, std::vector<int>(400, 1));
    EXPECT_GT(runs.threads, 1U);
    EXPECT_LE(runs.threads, 3U);

    // The same count again, as every step asks: no new attempt.
    pool.resize(5);
    EXPECT_EQ(creationsAsked, 3);
    EXPECT_EQ(pool.workers(), 2);

    // A new count asks again.
    creationsAllowed = 100;
    pool.resize(3);
    EXPECT_EQ(pool.workers(), 3);
    pool.resize(0);
    EXPECT_EQ(pool.workers(), 0);
}

TEST(WorkerPool, NoThreadAtAllLeavesEveryTaskToTheCaller) {
    WorkerPool pool;
    refuseAfter(pool, 0);
    pool.resize(2);
    EXPECT_EQ(pool.workers(), 0);
    const Runs runs = runTasks(pool, 50, false);
    EXPECT_EQ(runs.perTask, std::vector<int>(50, 1));
    EXPECT_EQ(runs.threads, 1U);
}

class StepThreads : public EngineTest {
protected:
    void TearDown() override {
        stepWorkspace().context.pool.setCreationCheck(nullptr);
        EngineTest::TearDown();
    }
};

// Steps above the parallel size give the bytes of one thread with whatever threads the system gave.
TEST_F(StepThreads, RefusedThreadsGiveTheSameBytes) {
    simParameters.meanRadius = 1.5;
    const Table start = population(2600, 4242);
    setStepThreads(1);
    const Table exact = stepWith(StepEngine::Exact, start);
    const Table fast = stepWith(StepEngine::Fast, start);
    EXPECT_LT(exact.lastIndex, 2600 - 100);
    WorkerPool& pool = stepWorkspace().context.pool;
    for (int allowed : {0, 1, 2}) {
        SCOPED_TRACE(std::to_string(allowed) + " of 3 workers granted");
        refuseAfter(pool, allowed);
        setStepThreads(4);
        EXPECT_TRUE(sameBytes(exact, stepWith(StepEngine::Exact, start)));
        EXPECT_EQ(pool.workers(), allowed);
        EXPECT_TRUE(sameBytes(fast, stepWith(StepEngine::Fast, start)));
        EXPECT_EQ(creationsAsked, allowed + 1);
        pool.setCreationCheck(nullptr);
        setStepThreads(1);
        stepWith(StepEngine::Exact, start);
    }
}

TEST_F(StepThreads, CountsAboveTheMaximumAreCapped) {
    setStepThreads(MAX_STEP_THREADS + 1);
    EXPECT_EQ(stepThreads(), MAX_STEP_THREADS);
    setStepThreads(2147483647);
    EXPECT_EQ(stepThreads(), MAX_STEP_THREADS);
    setStepThreads(-5);
    EXPECT_EQ(stepThreads(), stepWorkspace().context.threads());
    EXPECT_GE(stepThreads(), 1);
}

}  // namespace
