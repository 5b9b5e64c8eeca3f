// Whether the exact folds build their quotients and roots or take the instructions: the bits are
// the same, so only the time decides, measured once per kernel level at first use.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <vector>

#include "exact_engine.h"

namespace {

// Enough partners for a fold to take a good fraction of a millisecond, few enough to be cheap once.
constexpr int32_t TIMED_PARTNERS = 1024;
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

// One fold of the lanes in the middle of the partners over all of them, in seconds.
double timeFold(const GravityKernels& kernels, const std::vector<ExactPartner>& partners, bool built) {
    const ExactView view{.partner = partners.data(),
                         .count = TIMED_PARTNERS,
                         .width = TIMED_WIDTH,
                         .height = TIMED_HEIGHT,
                         .timeStep = TIME_STEP,
                         .builtDivision = built};
    constexpr int32_t FIRST = TIMED_PARTNERS / 2;
    ExactLanes lanes{};
    for (int32_t k = 0; k < EXACT_LANES; ++k) {
        placeLane(lanes, k, partners[static_cast<std::size_t>(FIRST + k)], FIRST + k);
        lanes.to[k] = TIMED_PARTNERS;
    }
    const auto start = std::chrono::steady_clock::now();
    kernels.exactFold(view, lanes, FIRST, FIRST + EXACT_LANES - 1, 0, TIMED_PARTNERS, false);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

bool builtDivisionIsFaster(const GravityKernels& kernels) {
    const std::vector<ExactPartner> partners = timedPartners();
    double instructions = INFINITY;
    double built = INFINITY;
    for (int turn = 0; turn < TIMED_TURNS; ++turn) {
        instructions = std::min(instructions, timeFold(kernels, partners, false));
        built = std::min(built, timeFold(kernels, partners, true));
    }
    return built < instructions;
}

bool exactDivisionBuilt(const StepCommon& step, ExactScratch& scratch) {
    const ExactDivision way = step.settings.division;
    if (step.level == CpuLevel::Scalar || way == ExactDivision::Instructions) return false;
    if (way == ExactDivision::Built) return true;
    int& choice = scratch.builtFaster[static_cast<int>(step.level)];
    if (choice < 0) choice = builtDivisionIsFaster(step.kernels) ? 1 : 0;
    return choice == 1;
}
