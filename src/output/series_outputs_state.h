// Time-series outputs: their part of the run's output record, the locations listed for them and
// the values the channel, lake and pipe steps publish for them.
#pragma once

#include "framework/core/link_node_array.h"
#include "framework/core/raw_arrays.h"

// The series outputs' own part of the run's output record, with the values the channel, lake
// and pipe steps publish for them.
struct series_outputs_state {
  double ts_stamp = 0.0;             // long-term time stamp of the current output step
  int stream_ts_numbers[5] = {};     // next record of the stream depth, flow, velocity, stage
                                     // and sediment-flux datasets
  int superlink_ts_numbers[3] = {};  // next record of the pipe flow, head and tile-flow datasets

  // Soil-moisture locations 1..theta_locations.
  int theta_locations = 0;
  raw_array1d<int> theta_cell;         // per location: its cell
  raw_array1d<int> theta_layer_count;  // per location: layers listed (Richards scheme)
  raw_array2d<int> theta_layers;       // [location][k]: the listed layers (Richards scheme)

  // Groundwater-flux locations 1..gwflux_location_count: a list of their own, beside the
  // channel's hydrograph locations.
  int gwflux_location_count = 0;
  raw_array1d<int> gwflux_link;  // per location: channel link
  raw_array1d<int> gwflux_node;  // per location: channel node

  // Published by the channel, lake and pipe steps.
  link_node_array<double> stream_gw_exchange;  // (link, node): stream-aquifer exchange (m3/s)
  raw_array1d<int> link_out_nodes;             // per link: node entries written in the records
  raw_array1d<int> superlink_segments;         // per superlink: segments n
  raw_array2d<double> superlink_flow;          // [segment 1..n][superlink]: flow (m3/s)
  raw_array2d<double> superlink_head;          // [junction 1..n + 1][superlink]: head (m)
  raw_array1d<double> superjunction_flow;      // per superjunction: flow (m3/s)
  raw_array1d<int> junction_superlink;         // per junction: its superlink; when set, the
                                               // first number of a superlink-node location is
                                               // a junction, mapped to its superlink by it
};
