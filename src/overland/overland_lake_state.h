// Overland lakes: the lake step's run totals and the work storage of the lake extent, a member
// record of overland_state. Both belong to the run: a second run in the same process starts
// with empty books and storage sized to its own grid.
#pragma once

#include "framework/core/raw_arrays.h"

// Work storage of the lake extent: the cells a rising lake may flood, kept as a heap ordered by
// their water surface, or the cells a falling lake may give back with their sort keys; the
// cells marked while a lake floods; and the fill level of every cell, computed once per run.
// Created by the first lake step of the run and grown when a lake needs more room, up to the cells
// of the grid.
struct olake_work_storage {
  raw_array1d<int> cells;             // listed cells 1..capacity: shore cells or removable cells
  raw_array1d<double> keys;           // per listed cell: its sort key (m)
  raw_array1d<int> marked;            // cells 1..capacity marked in `listed` by this lake
  raw_array1d<unsigned char> listed;  // per cell 1..cell_count: 1 while the cell is listed
  raw_array1d<double> fill;           // per cell: fill level (m), the lowest surface from which
                                      // water on the cell runs off the grid; infinite for none
  int fill_cells = 0;                 // cells the fill levels were computed for, 0 not yet
};

struct overland_lake_books {
  double olake_volume = 0.0;         // m3: water of all overland lakes before the last extent
  double olake_volume_out = 0.0;     // m3: water that left the overland lakes in the run: their
                                     // falls and the water spilled over their rims
  double olake_balance_error = 0.0;  // m3: change, inflow and water taken from cells less the
                                     // water spilled over the rims, minus the lakes' new water,
                                     // summed over the run's lake steps
  olake_work_storage work;
};
