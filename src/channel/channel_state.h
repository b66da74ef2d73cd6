// Channel and pipe networks: the member record of the run's model_state that holds the link and
// node arrays, the routing options, the lakes on the network and the channel files.
#pragma once

#include "framework/file_handle.h"
#include "framework/raw_arrays.h"

struct channel_state {
  // Channel link/node output files.
  file_handle chan_depth_file;      // channel depth at every node (m)
  file_handle chan_discharge_file;  // channel discharge at every node (m3/s)
  file_handle chan_velocity_file;   // channel velocity at every node (m/s)
  file_handle chan_stage_file;      // channel stage at every node (m)
  file_handle chan_sed_flux_file;   // channel sediment flux at every node (m3/s)

  // Network and routing options.
  int chan_link_count = 0;      // links 1..chan_link_count
  int chan_explic = 0;          // explicit channel routing on
  int chan_option = 2;          // channel network set-up option
  double chan_gw_factor = 1.0;  // multiplier of the channel-groundwater exchange
  raw_array1d<int> ltype;       // per link: type bits (1 groundwater exchange, 2 erodible,
                                // 4 trapezoidal, 8 break-point, 16, 32 lake, 64 structure,
                                // 128 captured by a rising lake)
  raw_array1d<int> nx1;         // per link: nodes 1..nx1 of the link

  // Lakes on the network.
  int num_lakes = 0;      // lakes 1..num_lakes
  int lake_option = 1;    // lake routing option of the channel step
  file_handle lake_file;  // lake input file

  // Channel files.
  file_handle channel_input_file;        // channel network input
  file_handle read_chan_depth_file;      // channel depth hotstart to read
  file_handle read_chan_discharge_file;  // channel discharge hotstart to read
  file_handle dht_file;                  // channel depth hotstart to write
  file_handle qht_file;                  // channel discharge hotstart to write
  file_handle outlet_hydro_file;         // outlet hydrograph

  // Pipe and tile-drain network.
  int storm_sewer = 0;         // the pipe network is simulated
  file_handle pipe_head_file;  // pipe-network heads output
  file_handle pipe_tile_file;  // tile-drain flows output
  file_handle pipe_flow_file;  // pipe-network flows output
  file_handle grid_pipe_file;  // grid-to-pipe map read by the input driver
};
