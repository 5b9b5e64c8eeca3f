// The engines' one workspace: their settings and scratch, owned by the dispatcher and passed down
// to the engine that runs. Tests and benchmarks reach the settings the program leaves alone here.
#pragma once

#include "exact_engine.h"
#include "fast_engine.h"
#include "step_common.h"

struct StepWorkspace {
    StepCommon common;
    ExactScratch exact;
    FastScratch fast;
};

// The process's workspace.
StepWorkspace& stepWorkspace();
inline StepSettings& stepSettings() { return stepWorkspace().common.settings; }

// Default settings again, and every first-use timing forgotten.
void resetStepWorkspace();

// The kernel level steps run at now: the lower of the settings' cap and the processor's best.
CpuLevel stepCpuLevel();

// Whether exact steps at that level build their quotients and roots (timing both ways first
// where the settings leave the choice open).
bool exactDivisionBuilt();
