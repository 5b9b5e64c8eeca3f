// The machine's ceilings for the gravity passes: one square root and one division per pair (the
// fast engine's work until the estimates), one estimate and its refinement per pair (the fast
// engine's now), one square root and three divisions per ordered pair (the exact engine's folds),
// one square root and five divisions per pair (its symmetric tiles).
#pragma once

#include <cstdint>

// Runs `pairs` independent square roots and divisions (eight lanes at a time) and returns a sum of
// the results so that nothing is optimised away. Uses the widest vectors the processor has.
double sqrtDivLoop(int64_t pairs);

// The same with three divisions by the root for each square root.
double sqrtThreeDivLoop(int64_t pairs);

// The same with five divisions for each square root: the one of the force and two for each side.
double sqrtFiveDivLoop(int64_t pairs);

// The fast engine's 1/(r^2 sqrt(r^2)) per pair as its kernels form it: the estimate and its
// refinement (tests/divsqrt), or the square root and the division for the portable kernels.
double estimateLoop(int64_t pairs);
