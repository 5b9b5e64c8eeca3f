#include "progress.h"

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// A run shorter than this shows nothing; after that the line changes a few times a second.
constexpr std::chrono::milliseconds FIRST_DRAW{500};
constexpr std::chrono::milliseconds REDRAW{250};

bool stderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

// "2 h 05 min", "3 min 07 s", "12 s".
std::string duration(double seconds) {
    long long s = static_cast<long long>(seconds + 0.5);
    char text[48];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%lld h %02lld min", s / 3600, s / 60 % 60);
    } else if (s >= 60) {
        std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld s", s);
    }
    return text;
}

}  // namespace

RunProgress::RunProgress(long long totalTicks)
    : shown_(totalTicks > 0 && stderrIsTerminal()),
      total_(totalTicks),
      start_(Clock::now()),
      nextDraw_(start_ + FIRST_DRAW) {}

RunProgress::~RunProgress() { finish(); }

void RunProgress::update(long long ticksDone) {
    if (!shown_ || ticksDone <= 0) return;
    Clock::time_point now = Clock::now();
    if (now < nextDraw_) return;
    nextDraw_ = now + REDRAW;
    double seconds = std::chrono::duration<double>(now - start_).count();
    double rate = static_cast<double>(ticksDone) / seconds;
    char text[128];
    std::snprintf(text, sizeof text, "tick %lld of %lld, %.*f ticks/s, %s left", ticksDone, total_,
                  rate < 10.0 ? 1 : 0, rate, duration(static_cast<double>(total_ - ticksDone) / rate).c_str());
    std::string line = text;
    // Spaces over what a longer line before left; no escape sequences, so a Windows console
    // shows it as a terminal does.
    std::size_t length = line.size();
    if (length < drawnLength_) line.append(drawnLength_ - length, ' ');
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    drawnLength_ = length;
}

void RunProgress::finish() {
    if (drawnLength_ > 0) {
        std::fprintf(stderr, "\r%s\r", std::string(drawnLength_, ' ').c_str());
        std::fflush(stderr);
        drawnLength_ = 0;
    }
    shown_ = false;
}
