// Transport steps called by the run driver that are not built yet: the sediment-bound
// constituents. Each leaves the model state unchanged; an input that needs one stops the run at
// start-up.
#include "transport/transport_steps.h"

#include "framework/model_state.h"

void sed_contam_overland_step(model_state&) {}
void channel_sed_contam_step(model_state&) {}
