// Map outputs: the kinds of the model's own map datasets and the map outputs' part of the run's
// output record, with the per-cell maps formed for them and the dataset files.
#pragma once

#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"

// The model's own map datasets, one per kind; the object id of a kind is 1010 + kind.
enum map_dataset_kind : int {
  dataset_depth = 0,
  dataset_discharge = 1,
  dataset_rain = 2,
  dataset_infiltrated_depth = 3,
  dataset_infiltration_rate = 4,
  dataset_surface_moisture = 5,
  dataset_groundwater_head = 6,
  dataset_sediment_flux = 7,
  dataset_sediment_volume = 8,
  dataset_suspended_sediment = 9,
  dataset_contaminant_conc = 10,
  dataset_flood_grid = 11,
  dataset_gw_recharge_cum = 12,
  dataset_gw_recharge_inc = 13,
  dataset_snow_water_equivalent = 14,
};
inline constexpr int map_dataset_kind_count = 15;

// The map outputs' own part of the run's output record.
struct map_outputs_state {
  int map_frame_number = 0;             // grid-per-frame map steps so far; the first is 1
  raw_array1d<double> depth_map;        // per cell: overland depth with lake water (m)
  raw_array1d<double> discharge_map;    // per cell: overland discharge magnitude (m3/s)
  raw_array1d<double> recharge_prev;    // per cell: cumulative recharge at the last map step
  raw_array1d<double> recharge_inc;     // per cell: recharge since the last map step
  raw_array1d<double> gw_recharge_cum;  // per cell: cumulative groundwater recharge, kept by
                                        // the groundwater step
  raw_array1d<double> net_sed_map;      // per cell: net sediment volume x 1000 / gridsize^2
  raw_array1d<double> suspended_map;    // per cell: the first class's suspended sediment
  raw_array1d<double> zeros;            // per cell: the values of a map the run does not keep
  file_handle dataset_file[map_dataset_kind_count];  // the model's map datasets, by kind
  int dataset_on[map_dataset_kind_count] = {};       // 1 while the kind's map is written
};
