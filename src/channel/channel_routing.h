// Explicit channel routing: advances the whole channel network across one channel step by
// Courant-limited sub-steps, each a predictor-corrector pass of link-end flows and node volume
// balances, halved whenever a node would run dry below zero. Called by the channel step after
// the lateral exchange with the cells has filled qlat.
#pragma once

struct model_state;

// Routes the network over `dt` seconds. Writes the volume that left through the outlet in the
// step to ms.channel.chan_outlet_volume, the volume the nodes' point inflows (the point-source
// file's and the series') brought in to ms.channel.chan_source_volume and the volume the pipe
// network delivered into channel nodes to `pipe_volume` (all m3; 0 for a step of at most 1e-16 s).
// Returns 0, or -1 after a fatal condition (its message printed and code 4000 reported).
int ex_flow_route(model_state& ms, double dt, double& pipe_volume);
