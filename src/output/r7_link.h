// Coupling with the reservoir water-quality model: the segment map and the link/node-to-segment
// triples through which channel flows are handed over, made at start-up when the coupling is on.
#pragma once

#include <memory>

#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "output/r7_link_state.h"

struct model_state;
struct project_cards;

// Start-up, R7_FLUXES: reads the segment map into r7.seg_map, marks the active segments and
// reads the link/node-to-segment triples. Failures set run_error (the R7 codes, from
// warn_r7_segment_map_empty to err_r7_flux_output_not_open).
int r7_link_init(r7_data& r7, const project_cards& cards, const raw_array2d<int>& index_map,
                 int rows, int cols, int cell_count, double start_day_of_year);

// Releases the coupling record when it is set: its arrays, its file and the record.
void r7_link_free(std::unique_ptr<r7_data>& r7);

// Start-up, R7_FLUXES, called by the input-reading driver: makes the coupling record of the run
// and fills it by r7_link_init. A record that cannot be allocated stops the run.
void set_up_r7_link(model_state& ms);
