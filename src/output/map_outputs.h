// Map outputs: at every map interval the run's raster maps (overland depth and discharge,
// rainfall, infiltration, soil moisture, groundwater head and recharge, snow, sediment) become
// frames of their map datasets or, with MAP_TYPE 0, one ESRI ASCII grid file per map and frame;
// the constituent maps are written through their output objects.
#pragma once

#include <string>

#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "output/datasets.h"
#include "output/map_outputs_state.h"

struct model_state;

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
