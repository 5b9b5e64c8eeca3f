// The machine's ceiling for the gravity pass: one square root and one division per pair, nothing else.
#pragma once

#include <cstdint>

// Runs `pairs` independent square roots and divisions (eight lanes at a time) and returns a sum of
// the results so that nothing is optimised away. Uses the widest vectors the processor has.
double sqrtDivLoop(int64_t pairs);
