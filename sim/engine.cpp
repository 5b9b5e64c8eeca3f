#include "engine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gravity_schedule.h"
#include "merge_replay.h"
#include "merge_search.h"
#include "simulation.h"
#include "step_phases.h"

namespace {

StepEngine selectedEngine = StepEngine::Exact;
CpuLevel cpuLimit = CpuLevel::Avx512;

}  // namespace

void setStepEngine(StepEngine engine) { selectedEngine = engine; }

StepEngine stepEngine() { return selectedEngine; }

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

void setStepCpuLimit(CpuLevel limit) { cpuLimit = limit; }

CpuLevel stepCpuLevel() {
    static const CpuLevel detected = detectCpuLevel();
    return static_cast<int>(detected) < static_cast<int>(cpuLimit) ? detected : cpuLimit;
}

GravityKernels stepKernels() {
    switch (stepCpuLevel()) {
        case CpuLevel::Avx512: return gravityKernelsAvx512();
        case CpuLevel::Avx2: return gravityKernelsAvx2();
        default: return gravityKernelsScalar();
    }
}

void reserveStepScratch(int32_t n) {
    reserveLiveIndex(n);
    reserveMergeSearch(n);
    reserveMergeReplay(n);
    reserveGravitySchedule(n);
    reserveFastStep(n);
    reserveExactStep(n);
}

void stepSimulation(double width, double height) {
    switch (selectedEngine) {
        case StepEngine::Exact: stepSimulationExact(width, height); break;
        case StepEngine::Fast: stepSimulationFast(width, height); break;
        default: stepSimulationLiteral(width, height); break;
    }
}
