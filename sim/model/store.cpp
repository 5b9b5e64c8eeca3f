#include "model.h"

#include <algorithm>
#include <cstdlib>

SimulationParameters simParameters;
SimulationState simState;

namespace {

void releaseCurrent() { simState.current.release(); }
void releaseSnapshot() { simState.snapshot.release(); }

// Runs before main: the default population's table exists before anything draws into it.
// The releases run at exit in reverse order of registration: snapshot first, then current.
const bool storeReady = [] {
    simState.lastIndex = simParameters.particleCount - 1;
    simState.current.allocate(simParameters.particleCount);
    std::atexit(releaseCurrent);
    simState.snapshot.allocate(simParameters.particleCount);
    std::atexit(releaseSnapshot);
    return true;
}();

}  // namespace

void ParticleBuffer::allocate(int32_t n) {
    release();
    count = n;
    records = new Particle[static_cast<std::size_t>(n > 0 ? n : 0)];
}

void ParticleBuffer::reallocate() { allocate(simParameters.particleCount); }

void ParticleBuffer::release() {
    delete[] records;
    records = nullptr;
}

void installPopulation(const Particle* records, int32_t count) {
    simParameters.particleCount = count;
    simState.current.reallocate();
    simState.snapshot.reallocate();
    std::copy(records, records + count, simState.current.records);
    simState.lastIndex = count - 1;
    simState.idleTicks = 0;
}
