// XY outputs: the series of overland depth, groundwater head and stream flow written at chosen
// points (or the cells of a mask) so that a model set inside this one can take them as its XY
// boundary. The XYBDYOUTPUT_* project cards fill the names; the output steps write the files.
#pragma once

struct xy_output {
  int point_kind = 0;           // 0: input_name is a point file, 1: it is a mask map
  char input_name[1024] = {};   // XYBDYOUTPUT_PTS / XYBDYOUTPUT_MASK: the points or the mask
  char ovdep_name[1024] = {};   // XYBDYOUTPUT_OVDEP: overland depth output file
  char gwhead_name[1024] = {};  // XYBDYOUTPUT_GWHEAD: groundwater head output file
  char stflow_name[1024] = {};  // XYBDYOUTPUT_STFLOW: stream flow output file

  xy_output() = default;  // empty: no points, no mask, no files
  xy_output(const xy_output&) = delete;
  xy_output& operator=(const xy_output&) = delete;
  ~xy_output();  // closes its files (xy_output_close)
};

// Closes the XY output files of `out`. The output files are not written by this version of the
// model yet, so there is nothing open to close; safe to call any number of times.
void xy_output_close(xy_output& out);
