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

class WorkerPool : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        creationsAsked = 0;
        creationsAllowed = 0;
    }
    void TearDown() override {
        setStepThreadCreationCheck(nullptr);
        EngineTest::TearDown();
    }

    // Starts the pool for threads with only the first allowed creations granted.
    static void startRefusingAfter(int allowed, int32_t threads) {
        creationsAllowed = allowed;
        creationsAsked = 0;
        setStepThreadCreationCheck(allowSomeCreations);
        setStepThreads(threads);
    }

    // Runs count tasks in parallel: how often each ran, and on how many threads. With waitForOthers
    // the first task waits (up to a limit) until another thread has taken one, so that workers
    // which never run show in the count.
    struct Runs {
        std::vector<int> perTask;
        std::size_t threads;
    };
    static Runs runTasks(int32_t count, bool waitForOthers) {
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
        runStepTasks(count, true, job);
        Runs result{{}, seen.size()};
        for (const std::atomic<int>& r : runs) result.perTask.push_back(r.load());
        return result;
    }
};

TEST_F(WorkerPool, RefusedThreadsLeaveThePoolWithThoseItGot) {
    startRefusingAfter(2, 6);
    EXPECT_EQ(stepWorkerThreads(), 2);
    // It stops at the first refusal rather than asking for every thread in turn.
    EXPECT_EQ(creationsAsked, 3);
    const Runs runs = runTasks(400, true);
    EXPECT_EQ(runs.perTask, std::vector<int>(400, 1));
    EXPECT_GT(runs.threads, 1U);
    EXPECT_LE(runs.threads, 3U);

    // Steps keep the pool as it is: no new attempt each step.
    prepareStepThreads();
    EXPECT_EQ(creationsAsked, 3);
    EXPECT_EQ(stepWorkerThreads(), 2);

    // A new count asks again.
    creationsAllowed = 100;
    setStepThreads(4);
    EXPECT_EQ(stepWorkerThreads(), 3);
}

TEST_F(WorkerPool, NoThreadAtAllLeavesEveryTaskToTheCaller) {
    startRefusingAfter(0, 3);
    EXPECT_EQ(stepWorkerThreads(), 0);
    const Runs runs = runTasks(50, false);
    EXPECT_EQ(runs.perTask, std::vector<int>(50, 1));
    EXPECT_EQ(runs.threads, 1U);
}

// The steps above the parallel size give the bytes of one thread with whatever threads the system gave.
TEST_F(WorkerPool, StepsWithRefusedThreadsGiveTheSameBytes) {
    simParameters.meanRadius = 1.5;
    const Table start = population(2600, 4242);
    setStepThreads(1);
    const Table exact = stepWith(StepEngine::Exact, start);
    const Table fast = stepWith(StepEngine::Fast, start);
    EXPECT_LT(exact.lastIndex, 2600 - 100);
    for (int allowed : {0, 1, 2}) {
        SCOPED_TRACE(std::to_string(allowed) + " threads granted of 3");
        startRefusingAfter(allowed, 4);
        EXPECT_EQ(stepWorkerThreads(), allowed);
        EXPECT_TRUE(sameBytes(exact, stepWith(StepEngine::Exact, start)));
        EXPECT_TRUE(sameBytes(fast, stepWith(StepEngine::Fast, start)));
        setStepThreadCreationCheck(nullptr);
        setStepThreads(1);
    }
}

TEST_F(WorkerPool, CountsAboveTheMaximumAreCapped) {
    // Refusing every creation: the cap is seen without starting a thousand threads.
    startRefusingAfter(0, MAX_STEP_THREADS + 1);
    EXPECT_EQ(stepThreads(), MAX_STEP_THREADS);
    startRefusingAfter(0, 2147483647);
    EXPECT_EQ(stepThreads(), MAX_STEP_THREADS);
    EXPECT_EQ(stepWorkerThreads(), 0);
}

}  // namespace
