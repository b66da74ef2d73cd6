// Overland steps called by the run driver. The overland processes are not built yet: each step
// leaves the model state unchanged. The dike-map and lake-map readers, which read the
// low-spot and lake files, are in input/lake_files.cpp; the other surface-input readers are in
// input/surface_inputs.cpp.
#include "overland/overland_steps.h"

#include "framework/model_state.h"

void overland_flow_step(model_state&) {}
void overland_lake_step(model_state&) {}
