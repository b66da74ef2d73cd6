// Subsurface and land-atmosphere processes: the member record of the run's model_state that
// holds infiltration, groundwater, evapotranspiration and snow state.
#pragma once

struct subsurface_state {};
