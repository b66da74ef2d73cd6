// Coupling with the reservoir water-quality model: the segment map and the link/node-to-segment
// triples through which flows are handed over, made at start-up when the coupling is on, the
// flows summed at every step and their means written at every hydrograph output time.
#pragma once

#include <memory>

#include "framework/core/file_handle.h"
#include "framework/core/link_node_array.h"
#include "framework/core/raw_arrays.h"
#include "output/r7_link_state.h"

struct model_state;
struct project_cards;

// Start-up, R7_FLUXES: reads the segment map into r7.seg_map, marks the active segments, reads
// the link/node-to-segment triples and opens the segment-flux file with its header. Returns 0,
// or -1 after a fault (error 97 or 98 reported, or a malformed file reported with a message
// naming the file, the line and the field). A map without segments warns (95), and without
// triples too (96): nothing is then accumulated or written.
int r7_link_init(r7_data& r7, const project_cards& cards, raw_array2d<int>& index_map, int rows,
                 int cols, int cell_count, double start_day_of_year);

// The flows of one step that reach the segments: the overland face discharges (m3/s across the
// right face and across the lower face of each cell 1..cell_count, as the overland step leaves
// them; empty arrays take no overland flow), the cells' right and lower neighbours (0 none), and
// the channel discharge table read when chan_explic is set.
struct r7_step_flows {
  const raw_array1d<double>& flux_x;
  const raw_array1d<double>& flux_y;
  const raw_array1d<int>& rightcon;
  const raw_array1d<int>& belowcon;
  int cell_count;
  bool chan_explic;
  const link_node_array<double>& qp;
};

// Every step while the link is on: counts the step and adds to each segment the size of every
// overland face discharge between one of its cells and a cell of no segment, and the size of
// the channel discharge at every triple's node.
void r7_accumulate_flows(r7_data& r7, const r7_step_flows& flows);

// At a hydrograph output time `day` (day of the year with the hour and minute as its fraction):
// one line of the segment-flux file with the mean flow of every active segment since the last
// write; nothing when no step was summed.
void r7_write_flows(r7_data& r7, double day);

// Releases the coupling record when it is set: its arrays, its file and the record.
void r7_link_free(std::unique_ptr<r7_data>& r7);

// Start-up, R7_FLUXES, called by the input-reading driver: makes the coupling record of the run
// and fills it by r7_link_init. A record that cannot be allocated stops the run.
void set_up_r7_link(model_state& ms);
