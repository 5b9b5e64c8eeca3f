// Whether the exact step builds its quotients and roots or takes the instructions: the bits are
// the same, so only the time decides, measured once per kernel level at first use.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <vector>

#include "exact_engine.h"

namespace {

// One tile of the largest size: long enough to time, short enough to be cheap once.
constexpr int32_t TIMED_PARTNERS = 2 * EXACT_TILE;
// Turns each way, alternated, the best of each kept: a busy moment then weighs on both.
constexpr int TIMED_TURNS = 7;
// A field and masses like the program's own.
constexpr double TIMED_WIDTH = 1000;
constexpr double TIMED_HEIGHT = 700;
constexpr double TIMED_GRAVITY = 20;

// Partners spread over the field, from a fixed linear congruential sequence.
std::vector<ExactPartner> timedPartners() {
    std::vector<ExactPartner> partners(TIMED_PARTNERS);
    uint64_t state = 0x9E3779B97F4A7C15u;
    const auto next = [&state] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return static_cast<double>(state >> 11) * 0x1p-53;
    };
    for (ExactPartner& p : partners) {
        p.x = TIMED_WIDTH * next();
        p.y = TIMED_HEIGHT * next();
        p.mass = 1 + 99 * next();
        p.massG = p.mass * TIMED_GRAVITY;
        p.cut = NO_CUT;
    }
    return partners;
}

// The tile of the first half of the partners against the second, in seconds.
double timeTile(const GravityKernels& kernels, const std::vector<ExactPartner>& partners, bool built) {
    const ExactView view{.partner = partners.data(),
                         .count = TIMED_PARTNERS,
                         .width = TIMED_WIDTH,
                         .height = TIMED_HEIGHT,
                         .timeStep = TIME_STEP,
                         .builtDivision = built};
    std::vector<double> vx(TIMED_PARTNERS, 0.0);
    std::vector<double> vy(TIMED_PARTNERS, 0.0);
    const auto start = std::chrono::steady_clock::now();
    kernels.exactTile(view, 0, EXACT_TILE, EXACT_TILE, TIMED_PARTNERS, vx.data(), vy.data(), false, nullptr, 0);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Times a tile over synthetic partners each way and tells whether the built quotients and roots
// were the faster.
bool builtDivisionIsFaster(const GravityKernels& kernels) {
    const std::vector<ExactPartner> partners = timedPartners();
    double instructions = INFINITY;
    double built = INFINITY;
    for (int turn = 0; turn < TIMED_TURNS; ++turn) {
        instructions = std::min(instructions, timeTile(kernels, partners, false));
        built = std::min(built, timeTile(kernels, partners, true));
    }
    return built < instructions;
}

}  // namespace

bool chooseExactDivision(const StepContext& step, const ExactSettings& settings, ExactScratch& scratch) {
    bool built = false;
    if (step.level != CpuLevel::Scalar && settings.division != ExactDivision::Instructions) {
        int& faster = scratch.builtFaster[static_cast<int>(step.level)];
        if (settings.division == ExactDivision::Faster && faster < 0) faster = builtDivisionIsFaster(step.kernels);
        built = settings.division == ExactDivision::Built || faster == 1;
    }
    scratch.lastStepBuilt = built;
    return built;
}
