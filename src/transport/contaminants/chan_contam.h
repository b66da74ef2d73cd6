// Dissolved constituents in the channel network: the start-up of the node tables (called at the
// end of the overland constituent set-up, once the channel holds its starting water) and the
// exchange with the overland water (called by the overland constituent processes). The tables
// themselves are made by alloc_channel_contaminants (transport_steps.h). The two
// time-loop steps, channel_contam_sources and channel_lake_contam_routing, are declared with the
// other transport steps.
#pragma once

struct model_state;

// Creates the channel constituent tables when not yet made and fills every node with INIT_CHAN_CONC
// where it holds water; nothing without CHAN_CON_TRANS on the explicit channel network.
void init_channel_contaminants(model_state& ms);

// Moves the constituents the channel's lateral flow carried since the last call between each
// stream cell's water and its nodes: the node's share waits to be applied by the routing.
void ov_chan_contam_exchange(model_state& ms);
