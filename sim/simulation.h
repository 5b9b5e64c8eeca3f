// The face of the simulation for the front end and the driver: the model (records, parameters,
// state and its operations), the step (engine.h), and the per-tick run control above them.
#pragma once

#include "engine.h"
#include "model.h"

// One timer tick: a step, then the idle-restart rule.
void advanceTick();
