// Map outputs: at every map interval the run's raster maps (overland depth and discharge,
// rainfall, infiltration, soil moisture, groundwater head and recharge, snow, sediment) become
// frames of their map datasets or, with MAP_TYPE 0, one ESRI ASCII grid file per map and frame;
// the constituent maps are written through their output objects.
#pragma once

#include <string>

#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "output/datasets.h"

struct model_state;

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

// Discharge magnitude of a cell from its two unit-width discharge components (m2/s).
double cell_discharge(double gridsize, double qx, double qy);

// Start-up: switches on the kinds whose map outputs are asked for and opens their datasets, in
// the order 0, 1, 2, 12, 13, 3, 4, 5, 6, 7, 8, 9, 10, 11, 14.
void open_map_datasets(model_state& ms);

// The name of one frame file: the output's name, a backslash unless it ends with one, the map's
// word, ".", the frame number in four digits and ".asc".
std::string map_frame_file_name(const char* output_name, const char* word, int frame);

// Time loop: at the steps 1, 1 + interval, ... of the map interval, in the root process, forms
// the derived maps and writes every enabled map.
void write_output_maps(model_state& ms);
