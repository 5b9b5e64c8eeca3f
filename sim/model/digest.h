// Summaries of the population for reproducibility checks: the driver prints them, tests compare them.
#pragma once

#include <cstdint>

struct PopulationSummary {
    int32_t live;     // records 0..lastIndex with mass > 0
    double mass;      // sums over records 0..lastIndex, in index order
    double momentumX;
    double momentumY;
};

// FNV-1a 64-bit over the bytes of records 0..lastIndex as stored.
uint64_t hashPopulation();
PopulationSummary summarizePopulation();
