// Output steps called by the run driver that are not built yet: they leave the model state
// unchanged. The series outputs are in series_outputs.cpp, the map outputs in map_outputs.cpp.
#include "output/output_steps.h"

#include <cstdio>

#include "framework/model_state.h"

void setup_contam_map_outputs(model_state&) {}
void setup_contam_channel_outputs(model_state&) {}
