// Channel start-up: the initial water surface of every node (from the channel hotstart, or a dry
// channel), the output location lists, the outlet head boundary and the initial channel storage
// for the water balance. The network set-up reads the hotstart and the lists; the run driver
// calls init_channel_storage (declared in channel_steps.h) before the first step, and the
// routing applies the head boundary again at every step.
#pragma once

struct model_state;

// Reads the channel hotstart, when one is named: one line "node link level [area]" for every
// node 1..nx of every link that is neither a structure, a lake nor captured by a lake, in link
// order, into the water-surface level `yp` (and the flow area `area` where the line gives it);
// the depth follows, clipped at the bed, and a wet node sets the channel water flag. The lines
// the hotstart writer adds for lake and captured links and for the last node of a sectioned
// link are passed over. A file shorter than the network, a line for another node than the one
// expected, one without its level, or lines left over stop the run (printed, code 4000 reported
// at once): the hotstart was written for another network.
void read_channel_initial_state(model_state& ms);

// Output location lists, each read from its open file when its card is given: a count, then
// count entries ("link node" pairs, or one superjunction number). A file that ends early, a
// negative count, or a channel location outside the network stops the run (printed, code 4000
// reported at once). The hydrograph, groundwater-flux and sediment files are closed after
// reading.
void read_hydrograph_locations(model_state& ms);
void read_gwflux_locations(model_state& ms);
void read_sediment_locations(model_state& ms);
void read_superjunction_locations(model_state& ms);
void read_superlink_locations(model_state& ms);

// Sets the outlet node (node nx of the last link) to the head boundary: the head follows its
// BOUND_TS series at the current time when one is given; the water surface is the bed plus the
// head and the depth the head. Returns 0.
int apply_stream_head_boundary(model_state& ms);
