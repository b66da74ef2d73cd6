// Overland lakes: the lake step's run totals and the work storage of the lake extent, a member
// record of overland_state. Both belong to the run: a second run in the same process starts
// with empty books and storage sized to its own grid.
#pragma once

#include "framework/core/raw_arrays.h"

// Work storage of the lake extent: the candidate cells of a rising lake or the removable cells
// of a falling one with their sort keys, and their level groups. Created by the first lake
// step of the run and grown when a lake needs more room, up to the cells of the grid.
struct olake_work_storage {
  raw_array1d<int> cells;        // listed cells 1..capacity: candidates or removable cells
  raw_array1d<double> keys;      // per listed cell: its sort key (m)
  raw_array1d<int> group_first;  // per level group 1..: the listed position of its first cell
  raw_array1d<int> group_cum;    // per level group: listed cells in it and the groups before it
  raw_array1d<unsigned char> listed;  // per cell 1..cell_count: 1 while the cell is listed
};

struct overland_lake_books {
  double olake_volume = 0.0;         // m3: water of all overland lakes before the last extent
  double olake_volume_out = 0.0;     // m3: water that left the overland lakes in the run
  double olake_balance_error = 0.0;  // m3: change, inflow and water taken from cells minus the
                                     // lakes' new water, summed over the run's lake steps
  double olake_floor_volume = 0.0;   // m3: water lakes held at their lowest surface gave
                                     // beyond what they held above it, in the run
  olake_work_storage work;
};
