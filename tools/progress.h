// A long run's progress on the terminal: one line on stderr, redrawn in place (ticks done of
// all, ticks a second, time left) and cleared at the end. Nothing when stderr is no terminal,
// so logs and pipes see only what they saw before.
#pragma once

#include <chrono>
#include <cstddef>

class RunProgress {
public:
    explicit RunProgress(long long totalTicks);
    RunProgress(const RunProgress&) = delete;
    RunProgress& operator=(const RunProgress&) = delete;
    ~RunProgress();

    // After each tick; draws at most a few times a second.
    void update(long long ticksDone);
    // Clears the line (the destructor does too).
    void finish();

private:
    using Clock = std::chrono::steady_clock;
    bool shown_;
    long long total_;
    Clock::time_point start_;
    Clock::time_point nextDraw_;
    std::size_t drawnLength_ = 0;
};
