// Precipitation events and start-up state. Not built yet: the steps leave the model state
// unchanged.
#include "framework/event_control.h"

#include "framework/model_state.h"

void scan_precip_events(model_state&) {}
void init_lake_and_soil_state(model_state&) {}
void compute_initial_overland_volume(model_state&) {}
void init_simulation_clock(model_state&) {}
void init_event(model_state&) {}
void track_peaks(model_state&) {}
void print_progress_line(model_state&) {}
void check_event_end(model_state&) {}
