// The machine's ceilings for the gravity passes: one square root and one division per pair (the
// fast engine's work), one square root and three divisions per ordered pair (the exact engine's
// folds), one square root and five divisions per pair (its symmetric tiles).
#pragma once

#include <cstdint>

// Runs `pairs` independent square roots and divisions (eight lanes at a time) and returns a sum of
// the results so that nothing is optimised away. Uses the widest vectors the processor has.
double sqrtDivLoop(int64_t pairs);

// The same with three divisions by the root for each square root.
double sqrtThreeDivLoop(int64_t pairs);

// The same with five divisions for each square root: the one of the force and two for each side.
double sqrtFiveDivLoop(int64_t pairs);
