// The simulation clock. The Julian clock is not built yet: the steps leave the model state
// unchanged.
#include "framework/sim_clock.h"

#include "framework/model_state.h"

void set_time_parameters(model_state&) {}
void advance_time_step(model_state&) {}
