// Which implementation of stepSimulation runs, on how many threads, with which kernels.
#pragma once

#include <cstdint>

#include "cpu.h"

// Literal: the pairs one by one in their documented order, the oracle. Exact: the literal step's
// bytes, every tick, with every particle's velocity folded in lanes and threads. Fast: the same
// merges, positions, radii and masses to the bit, velocities to the rounding of another summation
// order.
enum class StepEngine { Literal, Exact, Fast };

// The engine stepSimulation uses (Exact unless changed).
void setStepEngine(StepEngine engine);
StepEngine stepEngine();

// "literal", "exact" or "fast"; false for any other text.
bool parseStepEngine(const char* text, StepEngine& engine);
const char* stepEngineName(StepEngine engine);

// The engine the environment variable ORRELUNE_ENGINE names; Exact when it is unset, empty or
// names none, the last with a line on stderr naming the accepted names. The program asks once.
StepEngine stepEngineFromEnvironment();

// The most threads the exact and fast engines take.
inline constexpr int32_t MAX_STEP_THREADS = 1024;

// Threads the exact and fast engines may use; 0 or less means every core, more than
// MAX_STEP_THREADS that many. Results do not depend on it, nor on the system giving fewer.
void setStepThreads(int32_t threads);
int32_t stepThreads();

// Caps the kernels at a level (tests compare the levels on one machine); the level in use is the
// lower of this cap and what the processor offers.
void setStepCpuLimit(CpuLevel limit);
CpuLevel stepCpuLevel();

// How the exact engine forms its quotients and square roots: with the instructions, or built from
// the processor's estimates with fused multiply-adds and proven lane by lane (rounded_divsqrt_*.h),
// or whichever of the two a short timing at first use finds faster (the default). The bits are the
// same every way; only the portable kernels have no built way.
enum class ExactDivision { Instructions, Built, Faster };
void setExactDivision(ExactDivision way);
ExactDivision exactDivision();
// Whether the exact engine's steps build their quotients and roots at the current kernel level
// (timing both ways first, once per level, where the choice is left to it).
bool exactDivisionBuilt();

// Sizes the engines' scratch for n records; called wherever the particle buffers are sized.
void reserveStepScratch(int32_t n);

// The three engines themselves, whatever the selection.
void stepSimulationLiteral(double width, double height);
void stepSimulationExact(double width, double height);
void stepSimulationFast(double width, double height);

// Whether the last exact or fast step handed the whole step to the literal one (states that engine
// does not take; see stepSimulationExact and stepSimulationFast).
bool lastStepWasLiteral();
