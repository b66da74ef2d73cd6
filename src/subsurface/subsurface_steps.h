// Steps of the subsurface and land-atmosphere processes that the run driver calls in the time
// loop: soil evapotranspiration, hydrometeorology with snow, infiltration, the Sacramento model
// and groundwater. Each decides itself whether its process is due.
#pragma once

struct model_state;

void soil_et_step(model_state& ms);       // time loop 7
void hydromet_et_step(model_state& ms);   // time loop 8
void infiltration_step(model_state& ms);  // time loop 9
void sacramento_step(model_state& ms);    // time loop 10
void groundwater_step(model_state& ms);   // time loop 17
