#include "engine.h"

#include "simulation.h"

namespace {

StepEngine selectedEngine = StepEngine::Fast;

}  // namespace

void setStepEngine(StepEngine engine) { selectedEngine = engine; }

StepEngine stepEngine() { return selectedEngine; }

void stepSimulation(double width, double height) {
    if (selectedEngine == StepEngine::Fast) {
        stepSimulationFast(width, height);
    } else {
        stepSimulationLiteral(width, height);
    }
}
