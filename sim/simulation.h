// The face of the simulation for the front end and the driver: the model (records, parameters,
// state and its operations), the step, and the per-tick run control above them.
#pragma once

#include "model.h"

// One time step with the selected engine (engine.h): snapshot, drift and wrap, pairwise gravity or
// merging, removal of absorbed records. Every engine gives the literal step's merges, positions,
// radii and masses; the exact one (the default) its every byte.
void stepSimulation(double width, double height);

// One timer tick: a step, then the idle-restart rule.
void advanceTick();
