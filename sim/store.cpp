#include "simulation.h"

#include <cstdlib>

#include "engine.h"

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
    reserveStepScratch(simParameters.particleCount);
    return true;
}();

}  // namespace

void ParticleBuffer::allocate(int32_t n) {
    release();
    count = n;
    records = new Particle[static_cast<std::size_t>(n > 0 ? n : 0)];
}

void ParticleBuffer::reallocate() {
    allocate(simParameters.particleCount);
    // The fast step's scratch grows with the tables, never inside a step.
    reserveStepScratch(simParameters.particleCount);
}

void ParticleBuffer::release() {
    delete[] records;
    records = nullptr;
}
