// Steps of the atmosphere that the run driver calls in the time loop: the start of each
// precipitation event, the per-record update of the rainfall intensity on the cells, and the
// rain of each step onto the cells, lakes and stores. Each step decides itself whether it is due.
#pragma once

struct model_state;

void start_precip_event(model_state& ms);    // time loop 2
void update_precip_record(model_state& ms);  // time loop 4
void apply_rainfall(model_state& ms);        // time loop 5
