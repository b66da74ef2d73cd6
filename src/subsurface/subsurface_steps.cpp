// Subsurface steps called by the run driver. The subsurface processes are not built yet: each
// step leaves the model state unchanged.
#include "subsurface/subsurface_steps.h"

#include <cstdio>

#include "framework/error_state.h"
#include "framework/model_state.h"

void soil_et_step(model_state&) {}
void hydromet_et_step(model_state&) {}
void infiltration_step(model_state&) {}
void sacramento_step(model_state&) {}
void groundwater_step(model_state&) {}
void alloc_grid_arrays(model_state&) {}
void read_soil_maps(model_state&) {}
void read_gw_maps(model_state&) {}
void open_sacramento_params(model_state&) {}
void read_soil_moisture_hotstart(model_state&) {}

// The hydrometeorological readers are not built: a long-term run, which needs them, stops here
// with a clear message instead of running without weather.
int read_hmet_record(model_state&, int) {
  printf("Error: hydrometeorological input is not supported by this version.\n");
  run_error.error_code = error_code_own_message;
  return -1;
}

// The Richards columns are not built: nothing moves and nothing evaporates.
double richards_infiltration(model_state&, double) {
  return 0.0;
}
