// The selection of the engine and the one workspace it runs with: the step enters here and goes
// down to the engine chosen.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine.h"
#include "workspace.h"

namespace {

StepWorkspace workspace;

// Each engine's scratch sized for tables of n records; only grows, so after the first step of a
// table size a step allocates nothing.
void reserveScratch(int32_t n) {
    reserveStepContext(workspace.context, n);
    reserveExactScratch(workspace.exact, n);
    reserveFastScratch(workspace.fast, n);
}

}  // namespace

StepWorkspace& stepWorkspace() { return workspace; }

void resetStepWorkspace() {
    workspace.context.settings = StepSettings{};
    workspace.exactSettings = ExactSettings{};
    workspace.exact.builtFaster[0] = workspace.exact.builtFaster[1] = workspace.exact.builtFaster[2] = -1;
}

CpuLevel stepCpuLevel() { return kernelLevel(workspace.context.settings.cpuLimit); }

bool lastExactStepBuilt() { return workspace.exact.lastStepBuilt; }

void setStepEngine(StepEngine engine) { workspace.context.settings.engine = engine; }

StepEngine stepEngine() { return workspace.context.settings.engine; }

bool parseStepEngine(const char* text, StepEngine& engine) {
    for (StepEngine e : {StepEngine::Literal, StepEngine::Exact, StepEngine::Fast}) {
        if (text != nullptr && std::strcmp(text, stepEngineName(e)) == 0) {
            engine = e;
            return true;
        }
    }
    return false;
}

const char* stepEngineName(StepEngine engine) {
    switch (engine) {
        case StepEngine::Literal: return "literal";
        case StepEngine::Fast: return "fast";
        default: return "exact";
    }
}

StepEngine stepEngineFromEnvironment() {
    const char* text = std::getenv("ORRELUNE_ENGINE");
    StepEngine engine = StepEngine::Exact;
    if (text == nullptr || *text == '\0' || parseStepEngine(text, engine)) return engine;
    std::fprintf(stderr, "orrelune: ORRELUNE_ENGINE='%s' names no engine (exact, fast or literal); using %s\n", text,
                 stepEngineName(engine));
    return engine;
}

void setStepThreads(int32_t threads) {
    workspace.context.settings.threads = threads <= 0 ? 0 : threads > MAX_STEP_THREADS ? MAX_STEP_THREADS : threads;
}

int32_t stepThreads() { return workspace.context.threads(); }

bool lastStepHandedOver() { return workspace.context.lastStepHandedOver; }

void stepSimulation(double width, double height) {
    StepContext& step = workspace.context;
    switch (step.settings.engine) {
        case StepEngine::Exact:
        case StepEngine::Fast:
            reserveScratch(simState.lastIndex + 1);
            prepareStep(step);
            if (step.settings.engine == StepEngine::Exact) {
                stepSimulationExact(step, workspace.exactSettings, workspace.exact, width, height);
            } else {
                stepSimulationFast(step, workspace.fast, width, height);
            }
            break;
        default:
            step.lastStepHandedOver = false;
            stepSimulationLiteral(width, height);
            break;
    }
}
