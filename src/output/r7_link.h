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

// Every step while the link is on: adds the discharge at every triple's node, |qp(link, node)|,
// to its segment (only with explicit channel routing) and counts the step.
void r7_accumulate_flows(r7_data& r7, bool chan_explic, const link_node_array<double>& qp);

// At a hydrograph output time `day` (day of the year with the hour and minute as its fraction):
// one line of the segment-flux file with the mean flow of every active segment since the last
// write; nothing when no step was summed.
void r7_write_flows(r7_data& r7, double day);

// Releases the coupling record when it is set: its arrays, its file and the record.
void r7_link_free(std::unique_ptr<r7_data>& r7);

// Start-up, R7_FLUXES, called by the input-reading driver: makes the coupling record of the run
// and fills it by r7_link_init. A record that cannot be allocated stops the run.
void set_up_r7_link(model_state& ms);
