// Overland steps called by the run driver that are not built yet: each leaves the model state
// unchanged. The overland flow step is in overland/overland_flow.cpp. The dike-map and lake-map
// readers, which read the low-spot and lake files, are in input/lake_files.cpp; the other
// surface-input readers are in input/surface_inputs.cpp.
#include "overland/overland_steps.h"

#include "framework/model_state.h"

void overland_lake_step(model_state&) {}
