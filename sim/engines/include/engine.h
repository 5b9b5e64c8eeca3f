// The engines' face: the time step, which engine computes it, and on how many threads.
#pragma once

#include <cstdint>

// Literal: the pairs one by one in their documented order, the oracle. Exact: the literal step's
// bytes, every tick, each pair formed once in tiles of lanes on threads. Fast: the same
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

// One time step with the selected engine: snapshot, drift and wrap, pairwise gravity or merging,
// removal of absorbed records. Every engine gives the literal step's merges, positions, radii and
// masses; the exact one (the default) its every byte.
void stepSimulation(double width, double height);

// Whether the last step was handed to the literal one (a state its engine does not take).
bool lastStepHandedOver();
