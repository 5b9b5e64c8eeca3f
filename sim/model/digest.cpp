#include "digest.h"

#include <cstddef>

#include "model.h"

uint64_t hashPopulation() {
    uint64_t hash = 0xcbf29ce484222325ULL;
    if (simState.lastIndex < 0) return hash;
    const auto* bytes = reinterpret_cast<const unsigned char*>(simState.current.records);
    std::size_t length = static_cast<std::size_t>(simState.lastIndex + 1) * sizeof(Particle);
    for (std::size_t k = 0; k < length; ++k) {
        hash ^= bytes[k];
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

PopulationSummary summarizePopulation() {
    PopulationSummary s{0, 0, 0, 0};
    for (int32_t i = 0; i <= simState.lastIndex; ++i) {
        const Particle& p = simState.current[i];
        if (p.mass > 0) ++s.live;
        s.mass += p.mass;
        s.momentumX += p.mass * p.vx;
        s.momentumY += p.mass * p.vy;
    }
    return s;
}
