// Subsurface steps called by the run driver. The subsurface processes are not built yet: each
// step leaves the model state unchanged.
#include "subsurface/subsurface_steps.h"

#include "framework/model_state.h"

void soil_et_step(model_state&) {}
void hydromet_et_step(model_state&) {}
void infiltration_step(model_state&) {}
void sacramento_step(model_state&) {}
void groundwater_step(model_state&) {}
