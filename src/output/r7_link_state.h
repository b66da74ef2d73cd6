// Coupling with the reservoir water-quality model: the segment map, the link/node-to-segment
// triples and the segment flows handed over, held by the run's output record.
#pragma once

#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"

struct r7_data {
  raw_array1d<int> seg_map;          // per cell 1..cell_count: segment number, 0 none
  raw_array1d<int> segment_active;   // per segment 1..num_segments: 1 when on the map
  raw_array1d<double> segment_flow;  // per segment: flows summed since the last write (m3/s)
  raw_array1d<int> link;             // per triple 1..num_triples: channel link
  raw_array1d<int> node;             // per triple: channel node
  raw_array1d<int> segment;          // per triple: segment
  int num_segments = 0;              // segments 1..num_segments; 0 while the link is off
  int num_triples = 0;               // triples 1..num_triples
  int step_count = 0;                // steps summed since the last write
  int first_write_pending = 0;       // 1 until the first line is written
  double first_write_time = 0.0;     // days: time of the first line, the file's origin
  file_handle segment_flow_file;     // segment flows output
};
