// XY outputs: the names of the points or mask and of the files that the XYBDYOUTPUT_* project
// cards give, held by the run-parameter records, and the points and files the run sets up from
// them.
#pragma once

#include <vector>

#include "framework/core/file_handle.h"

// One output point: its map coordinates and id (the point file's id, or the mask cell's number),
// for a stream point the link and node of the channel input where the stream crosses the inset
// mask's edge, and the cells (up to four) whose values it takes, each with its
// inverse-square-distance weight.
struct xy_out_point {
  double x = 0.0, y = 0.0;  // m, map coordinates
  int id = 0;
  int link = 0, node = 0;  // stream points: the link, and the node whose X_Y ends the crossing
  int priority = 0;        // stream points: node - 1; a later crossing of the link must be higher
  int neighbour_count = 0;
  int neighbours[4] = {};   // cell numbers
  double weights[4] = {};   // 1 / distance^2 (distance at least 0.0001 m)
  double weight_sum = 0.0;  // sum of weights
};

// A straight piece of the inset mask's edge: its two ends, unit direction and length (m). The
// direction is not a number and the length 0 when the ends are closer than 1e-5 m on both axes.
struct xy_segment {
  double x1 = 0.0, y1 = 0.0, x2 = 0.0, y2 = 0.0;
  double dx = 0.0, dy = 0.0, length = 0.0;
};

// The inset mask (XYBDYOUTPUT_MASK): the grid of a smaller model set inside this one, its cells
// nonzero inside.
struct inset_mask {
  double north = 0.0, south = 0.0, east = 0.0, west = 0.0;
  int rows = 0, cols = 0;
  double cell_size = 0.0;  // (north - south) / rows
  std::vector<int> cells;  // row by row from the north-west corner, rows x cols
  int at(int row, int col) const { return cells[(row - 1) * cols + (col - 1)]; }
};

struct xy_output {
  int point_kind = 0;           // 0: input_name is a point file, 1: it is a mask map
  char input_name[1024] = {};   // XYBDYOUTPUT_PTS / XYBDYOUTPUT_MASK: the points or the mask
  char ovdep_name[1024] = {};   // XYBDYOUTPUT_OVDEP: overland depth output file
  char gwhead_name[1024] = {};  // XYBDYOUTPUT_GWHEAD: groundwater head output file
  char stflow_name[1024] = {};  // XYBDYOUTPUT_STFLOW: stream flow output file

  std::vector<xy_out_point> points;         // overland and groundwater points, in file order
  std::vector<xy_out_point> stream_points;  // where links cross the inset mask's edge
  inset_mask inset;                         // the mask of XYBDYOUTPUT_MASK
  file_handle ov_file, gw_file, stream_file;

  xy_output() = default;  // empty: no points, no mask, no files
  xy_output(const xy_output&) = delete;
  xy_output& operator=(const xy_output&) = delete;
  ~xy_output();  // closes its files (xy_output_close)
};
