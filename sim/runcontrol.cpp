#include "simulation.h"

void advanceTick() {
    stepSimulation(FIELD_WIDTH, FIELD_HEIGHT);
    if (simState.lastIndex == 0) simState.idleTicks = simState.idleTicks + 1;
    if (simState.idleTicks > RESTART_IDLE_TICKS) initializePopulation(FIELD_WIDTH, FIELD_HEIGHT);
}

void reinitialize() { initializePopulation(FIELD_WIDTH, FIELD_HEIGHT); }

void resizeAndReinitialize() {
    simState.current.reallocate();
    simState.snapshot.reallocate();
    initializePopulation(FIELD_WIDTH, FIELD_HEIGHT);
}
