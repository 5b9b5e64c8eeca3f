// Run control: what one timer tick does. It sits above the engines and the model and calls both.
#include "simulation.h"

void advanceTick() {
    stepSimulation(FIELD_WIDTH, FIELD_HEIGHT);
    if (simState.lastIndex == 0) simState.idleTicks = simState.idleTicks + 1;
    if (simState.idleTicks > RESTART_IDLE_TICKS) initializePopulation(FIELD_WIDTH, FIELD_HEIGHT);
}
