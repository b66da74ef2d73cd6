// Channel and pipe-network steps called by the run driver. The channel network is not built
// yet: each step leaves the model state unchanged.
#include "channel/channel_steps.h"

#include "framework/model_state.h"

void init_channel_storage(model_state&) {}
void superlink_step(model_state&) {}
void channel_routing_step(model_state&) {}
void chan_point_input_step(model_state&) {}
