// XY outputs: the names of the points or mask and of the files that the XYBDYOUTPUT_* project
// cards give, held by the run-parameter records.
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
