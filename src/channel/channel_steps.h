// Steps of the channel and pipe networks that the run driver calls: the initial channel state
// at start-up, and the pipe network, channel routing and channel point inputs in the time loop.
#pragma once

#include "framework/core/link_node_array.h"

struct file_handle;
struct model_state;

void init_channel_storage(model_state& ms);   // start-up
void superlink_step(model_state& ms);         // time loop 13
void channel_routing_step(model_state& ms);   // time loop 19
void chan_point_input_step(model_state& ms);  // time loop 20

// The outlet head boundary (HEAD_BOUND): the outlet node (node nx of the last link) takes the
// head of its BOUND_TS series at the current time, or the BOUND_DEPTH value, as its depth, and
// its section follows. Returns the volume (m3) that the boundary added to the node (negative
// when it took water away); 0 when the boundary is off. The event initialisation calls it when
// the channel starts afresh and the channel routing step before every routing.
double hold_outlet_head(model_state& ms);

// The water held in the channel network (m3): flow area times node spacing over nodes 1..nx of
// every link that is neither a lake, a hydraulic structure nor a sectioned link captured by a
// rising lake. The overland step reads it to decide whether the runoff of an event is over.
double channel_stored_volume(const model_state& ms);

// Start-up services called by the input-reading driver.
void setup_channel_network(model_state& ms);              // channel input and network arrays
void init_tile_pipe_grid(model_state& ms);                // STORM_SEWER: pipes and tiles
void init_superlink_channel_connection(model_state& ms);  // explicit channels: pipe outfalls
// The pipe network's solve arrays and starting state, after the network is read and tied to
// the grid (called by init_tile_pipe_grid).
void superlink_setup(model_state& ms);
// Puts the water the pipe network passed to its channel outlets since the last call into the
// lateral inflow of their channel nodes over the channel step of dt seconds; returns its
// volume (m3). Called by the channel routing step before it routes.
double superlink_deliver_to_channel(model_state& ms, double dt);

// Reads the superlink pipe network from the open network file and, when it is open, the
// grid-pipe file, into the pipe-network counts and arrays of the channel record (counts zeroed
// first). Returns 0 when read, 9 when the network is too large, -1 after a pipe error, -9 when
// the grid-pipe file lacks its PIPECELLS card; each fault has printed its own message. Leaky
// pipes without a grid-pipe file raise err_file_not_open. Called by init_tile_pipe_grid.
// "Too large" is a count of superjunctions, superlinks or pipes in a superlink above
// `dimension_limit`: a run's network file keeps the bound of 2000, a benchmark of the solve on
// larger generated networks passes its own.
int read_superlink_file(model_state& ms, file_handle& network_file, file_handle& grid_pipe_file,
                        int dimension_limit = 2000);

// Cross-sections of every node of every sectioned link (trapezoid, break-point, compound).
// Mode 2 (from the stage): area, top width, conveyance and its derivative from the water-surface
// level; mode 1 (from the area): depth, water-surface level and conveyance from the flow area;
// any other mode does nothing. A fault prints its message and reports code 4000 at once, and the
// nodes after it keep their values. Called by the event initialisation after the channel reset,
// the channel start-up, the routing and the exchange steps.
void ex_section(model_state& ms, int mode = 2);

// Bed update of the erodible break-point links after channel sediment transport: every node's
// section is reshaped under its highest water level so that its bed loses (positive) or gains
// (negative) `bed_volume_change`(link, node) m3 of sediment of porosity `porosity`; new_bel
// follows the lowest point, and with `bed_adjust` the new sections replace the old and their
// depth tables are rebuilt. Faults are reported at once.
void xsec_update(model_state& ms, const link_node_array<double>& bed_volume_change, double porosity,
                 int bed_adjust);
