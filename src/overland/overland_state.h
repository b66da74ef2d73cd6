// Overland flow, rainfall and lakes: the member record of the run's model_state that holds the
// overland subsystem's per-cell arrays, options, the precipitation records of the current event
// and the overland lake state.
#pragma once

#include "framework/raw_arrays.h"

// Capacity of the precipitation-record table of one event.
inline constexpr int max_rain_records = 100000;

// One precipitation record of the current event: the date and time integers as the
// precipitation reader stores them.
struct rain_event_record {
  int value[6] = {};
};

// A radar grid of rainfall intensities.
struct radar_grid_record {
  int rows = 0;                // radar grid rows
  int cols = 0;                // radar grid columns
  double cell_size = 0.0;      // m
  raw_array1d<double> values;  // radar cell values, 1..rows*cols (mm/h)
};

struct overland_state {
  raw_array1d<int> rightcon;          // per cell 1..cell_count: right neighbour's cell, 0 none
  raw_array1d<int> belowcon;          // per cell: neighbour below, 0 none
  raw_array1d<int> leftcon;           // per cell: left neighbour, 0 none
  raw_array1d<int> abovecon;          // per cell: neighbour above, 0 none
  raw_array1d<double> ov_depth;       // per cell: overland water depth (m)
  raw_array1d<double> ov_depth_prev;  // per cell: overland depth of the previous step (m)
  raw_array1d<int> dike_mask;         // per cell: embankment code, 0 none
  raw_array1d<int> wetland_mask;      // per cell: wetland id, 0 none
  raw_array1d<int> lake_num;          // per cell: overland lake number, 0 none
  int ov_route_option = 1;            // overland routing scheme: 1 explicit, 2 ADE, 3 ADE-PC
  int ov_sweep_parity = 1;            // 1 or 2: sweep direction, flipped at every overland step
  int overland_lake_map = 0;          // overland lakes given by a lake map
  raw_array1d<int> oland_lake_mask;   // per cell: 1 inside an overland lake
  raw_array1d<int> oland_lake_new;    // per cell: 1 where a lake grew this step

  // Precipitation events.
  int num_events = 0;                                   // events of the precipitation input
  int cur_event = 1;                                    // the current event, 1..num_events
  radar_grid_record radar_grid;                         // radar grid of the current radar record
  int rain_event_state = 0;                             // state of the precipitation-event scan
  rain_event_record rain_events[max_rain_records + 1];  // records 1..: current event's records
};
