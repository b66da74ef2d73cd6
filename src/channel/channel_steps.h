// Steps of the channel and pipe networks that the run driver calls: the initial channel state
// at start-up, and the pipe network, channel routing and channel point inputs in the time loop.
#pragma once

struct model_state;

void init_channel_storage(model_state& ms);   // start-up
void superlink_step(model_state& ms);         // time loop 13
void channel_routing_step(model_state& ms);   // time loop 19
void chan_point_input_step(model_state& ms);  // time loop 20
