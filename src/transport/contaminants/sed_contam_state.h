// Constituents bound to the fine suspended sediment of the overland plane (SEDIMENT_CONTAM): the
// bound mass of every cell and fine class, which erosion takes from the soil column, the overland
// sediment step carries from cell to cell and settling gives back to the soil, with the run
// totals of those exchanges. Held by the transport record of the run's model_state.
#pragma once

#include "framework/core/raw_arrays.h"

struct sed_contam_tables {
  int ready = 0;    // the tables are set up: the sediment step carries the bound mass
  int classes = 0;  // sediment classes 1..classes (sand classes never carry bound mass)
  raw_array3d<double> bound_mass;  // [constituent][cell][class]: g bound to the suspended
                                   // sediment of the class
  raw_array2d<double> eroded;      // [constituent][cell]: g the erosion took from the soil
                                   // column over the run
  raw_array2d<double> deposited;   // [constituent][cell]: g settling gave back to the soil column
                                   // over the run
  raw_array2d<double> released;    // [constituent][cell]: g the partitioning moved from the
                                   // bound phase into the water over the run (negative: taken)
  raw_array1d<double> outlet;      // per constituent: g carried out through the outlet cell with
                                   // the sediment over the run
  raw_array1d<double**> soil_planes;  // per constituent: the soil_mass plane [cell][layer] (g)

  // In a channel network with channel constituents: the bound mass rides on the wash load.
  int chan_ready = 0;  // the channel tables are set up
  int fine = 0;        // fine classes, by their position 1..fine in the sediment's class order
  raw_array3d<double> chan_bound;   // [constituent][wash-load row][position]: g bound to the wash
                                    // load of the channel node (row link x sed_node_stride + node)
  raw_array1d<double> to_channels;  // per constituent: g handed from the plane to the channels
                                    // with the suspended sediment of the stream cells
  raw_array1d<double> chan_outlet;  // per constituent: g carried out through the outlet node
                                    // with the wash load
  raw_array1d<double> handed_deposit;  // per class: m3 of a stream cell's loose deposit handed to
                                       // its node in this step (work values)
  raw_array1d<double> chan_released;   // per constituent: g the channel partitioning moved from
                                       // the bound phase into the channel water (negative: taken)

  // Channel lakes (with the channel tables): a lake's bound mass rides on its wash load, in the
  // lake's row of chan_bound. Run totals (g) per constituent.
  raw_array1d<double> to_lakes;       // the plane's sediment handed the lakes over their shores
                                      // (net of what the lakes' water gave back to the plane)
  raw_array1d<double> lake_settled;   // settled with the lakes' wash load onto their beds
  raw_array1d<double> lake_released;  // the lakes' partitioning moved from the bound phase into
                                      // the lakes' water (negative: taken)
  raw_array1d<double> chan_to_lakes;  // the channels' wash load carried into the lakes (the
                                      // links ending in one, the nodes a rising lake took), net
                                      // of what the lakes' outlets carried into the channels

  // Overland lakes: the bound mass on each lake's suspended sediment, and run totals (g).
  raw_array3d<double> olake_bound;     // [constituent][overland lake][class] (g)
  raw_array1d<double> to_olakes;       // handed the lakes with the plane's sediment (net of what
                                       // their spilled water carried back)
  raw_array1d<double> olake_settled;   // settled with the lakes' sediment onto their beds
  raw_array1d<double> olake_released;  // the lakes' partitioning moved into the lakes' water

  // In a channel network that carries no constituents: the bound mass the stream cells' suspended
  // sediment hands the channels leaves the books there (booked in to_channels).
  int chan_untracked = 0;
};
