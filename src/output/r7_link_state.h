// Coupling with the reservoir water-quality model: the segment map, the link/node-to-segment
// triples and the segment flows handed over, held by the run's output record.
#pragma once

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
