// The engines' one workspace: their settings and scratch, owned by the dispatcher and passed down
// to the engine that runs. Tests and benchmarks reach the settings the program leaves alone here.
#pragma once

#include "exact_engine.h"
#include "fast_engine.h"
#include "step_context.h"

struct StepWorkspace {
    StepContext context;
    ExactSettings exactSettings;
    ExactScratch exact;
    FastScratch fast;
};

// The process's workspace.
StepWorkspace& stepWorkspace();
inline StepSettings& stepSettings() { return stepWorkspace().context.settings; }
inline ExactSettings& exactSettings() { return stepWorkspace().exactSettings; }

// Default settings again, and every first-use timing forgotten.
void resetStepWorkspace();

// The kernel level steps run at now: the lower of the settings' cap and the processor's best.
CpuLevel stepCpuLevel();

// Whether the last exact step built its quotients and roots (false before the first).
bool lastExactStepBuilt();
