// Which implementation of stepSimulation runs, on how many threads, with which kernels.
#pragma once

#include <cstdint>

#include "cpu.h"

// Literal: the pairs one by one in their documented order, the oracle. Fast: the same merges,
// positions, radii and masses to the bit, velocities to the rounding of another summation order.
enum class StepEngine { Literal, Fast };

// The engine stepSimulation uses (Fast unless changed).
void setStepEngine(StepEngine engine);
StepEngine stepEngine();

// Threads the fast engine may use; 0 or less means every core. Results do not depend on it.
void setStepThreads(int32_t threads);
int32_t stepThreads();

// Caps the fast engine's kernels at a level (tests compare the levels on one machine); the level
// in use is the lower of this cap and what the processor offers.
void setStepCpuLimit(CpuLevel limit);
CpuLevel stepCpuLevel();

// Sizes the fast engine's scratch for n records; called wherever the particle buffers are sized.
void reserveStepScratch(int32_t n);

// The two engines themselves, whatever the selection.
void stepSimulationLiteral(double width, double height);
void stepSimulationFast(double width, double height);

// Whether the last fast step handed the whole step to the literal one (values the fast path
// does not take: masses that are negative, tiny or not finite, positions far off the field).
bool lastFastStepWasLiteral();
