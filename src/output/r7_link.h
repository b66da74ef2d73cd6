// Coupling with the reservoir water-quality model: the segment map and the link/node-to-segment
// triples through which channel flows are handed over, made at start-up when the coupling is on.
#pragma once

#include <memory>

#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"

struct r7_data {
  raw_array1d<int> seg_map;          // per cell 1..cell_count: segment number, 0 none
  raw_array1d<int> segment_active;   // per segment: 1 when the segment is on the map
  raw_array1d<double> segment_flow;  // per segment: flow handed over this step (m3/s)
  raw_array1d<int> link;             // per triple: channel link
  raw_array1d<int> node;             // per triple: channel node
  raw_array1d<int> segment;          // per triple: segment
  int num_segments = 0;              // segments 1..num_segments
  int num_triples = 0;               // triples 1..num_triples
  file_handle segment_flow_file;     // segment flows output
};

struct project_cards;

// Start-up, R7_FLUXES: reads the segment map into r7.seg_map, marks the active segments and
// reads the link/node-to-segment triples. Failures set run_error (the R7 codes, from
// warn_r7_segment_map_empty to err_r7_flux_output_not_open).
int r7_link_init(r7_data& r7, const project_cards& cards, const raw_array2d<int>& index_map,
                 int rows, int cols, int cell_count, double start_day_of_year);

// Releases the coupling record when it is set: its arrays, its file and the record.
void r7_link_free(std::unique_ptr<r7_data>& r7);
