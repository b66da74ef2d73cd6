// Map and link/node output objects: each owns its output file, its name parts, its frame
// counter and its buffers, and writes frames of a grid or of the channel network at the output
// intervals. The run's model_state holds three map outputs and two tables of constituent outputs.
#pragma once

#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"

struct map_output {
  file_handle file;               // the output file; closed until the output is set up
  int dataset_mode = 0;           // 1: frames go to one multi-frame dataset file ended by "ENDDS"
  char base_name[1024] = {};      // name of the output without frame number and extension
  double no_data = -999.99;       // value written for cells outside the watershed
  double scale = 1.0;             // factor applied to every value written
  int frame = 1;                  // number of the next frame
  raw_array1d<double> values;     // per cell 1..cell_count: the frame being written
  raw_array1d<double> previous;   // per cell 1..cell_count: the last frame written
  raw_array1d<float> row_buffer;  // per column 1..cols: one grid row as written

  map_output() = default;
  map_output(const map_output&) = delete;
  map_output& operator=(const map_output&) = delete;
  // Ends an open dataset with "ENDDS", then releases the buffers and closes the file.
  ~map_output();
};

struct linknode_output {
  file_handle file;            // the link/node dataset file
  int linknode_given = 0;      // 1 when this output was asked for
  char base_name[1024] = {};   // name of the output
  raw_array1d<double> values;  // per node of the network: the record being written

  linknode_output() = default;
  linknode_output(const linknode_output&) = delete;
  linknode_output& operator=(const linknode_output&) = delete;
};
