// Where the overland steps called by the run driver live: the overland flow step is in
// overland/overland_flow.cpp and the overland lake step in overland/overland_lakes.cpp. The
// dike-map and lake-map readers, which read the low-spot and lake files, are in
// input/lake_files.cpp; the other surface-input readers are in input/surface_inputs.cpp.
#include "overland/overland_steps.h"

#include "framework/model_state.h"
