// Surface inputs, hotstarts and the tile-drain grid: the start-up readers of read_maps for the
// wetlands, overland boundaries, interception, retention and roughness, the overland, snow and
// soil-moisture hotstarts with the initial head, and the tie of the pipe network to the grid.
// The readers themselves are declared with their subsystem's steps (overland_steps.h,
// subsurface_steps.h, channel_steps.h); this header holds what the tile-drain grid adds.
#pragma once

struct model_state;

// Largest pipe network the tile-drain grid takes: superjunctions, nodes of one superlink and
// superlinks (each limit itself is accepted).
inline constexpr int max_superjunctions = 1000;
inline constexpr int max_superlink_nodes = 1000;
inline constexpr int max_superlinks = 1000;

// The part of init_tile_pipe_grid that follows read_superlink_file: rejects a network above the
// limits (too many superjunctions, nodes of one superlink or superlinks, checked in that order
// and left for the driver with the fatal flag), allocates the tile exchange
// arrays ("superlink_tile_flow", "Q_tile_grid", "vol_tile_grid", "tilerecharge_to_gw",
// "flow_to_superlink", "superlink_junc_gnum", "superlink_node_gnum") and gives every
// superjunction and pipe node the cell above it through index_map (0 off the watershed). A
// grate inlet (inlet type 1 to 10) placed off the grid stops the run with a message of its own
// and code 4000.
void map_tile_pipe_grid(model_state& ms);

// Start-up readers called by the input-reading driver, in its order.
void read_wetland_mask(model_state& ms);            // wetland table and map
void read_overland_boundary(model_state& ms);       // OV_BOUNDARY
void read_interception_maps(model_state& ms);       // interception storage and coefficient
void read_retention_map(model_state& ms);           // retention depth
void read_roughness_map(model_state& ms);           // Manning roughness
void read_hotstart_maps(model_state& ms);           // snow, overland hotstart, initial head
void read_soil_moisture_hotstart(model_state& ms);  // READ_SM_HOTSTART
