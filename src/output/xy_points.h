// XY output points: reading the points of a point file or the edge cells of an inset mask,
// placing each point among the cells around it with inverse-square-distance weights, and
// finding where the channel links cross the inset mask's edge. The functions here read and
// compute only; the run's XY output (xy_output.h) opens and writes the files.
#pragma once

#include <vector>

#include "framework/core/raw_arrays.h"
#include "output/xy_output_state.h"

struct file_handle;

// The model grid the points are placed on: its north-west corner (m), its size and the cell
// number of every grid position (0 outside the watershed).
struct xy_grid {
  double north = 0.0, west = 0.0, cell_size = 0.0;
  int rows = 0, cols = 0;
  const raw_array2d<int>* index_map = nullptr;  // [row 1..rows][col 1..cols]
};

// Reads a point file from the open `file` (named `name` in messages): the first line holds the
// number of points, every following line a point's x and y (m) and its id; blank lines are
// skipped. A file that holds fewer points than it declares gives one warning and the points it
// has. False, after a message naming the file, the line and the value, when the count or a
// point's field is not a number of its kind or the count is negative.
bool read_xy_out_points(file_handle& file, const char* name, std::vector<xy_out_point>& points);

// Reads an inset mask from the open `file`: six header lines, each a word and a value, for the
// north, south, east and west edges, the rows and the columns, then rows x cols whole numbers
// (nonzero inside). False, after a message naming the file, the line and the value, for a
// header or value that is not a number of its kind, a size that is not positive, edges that do
// not enclose an area, or a file that ends early.
bool read_xy_out_mask(file_handle& file, const char* name, inset_mask& mask);

// True when the cell (row, col) of the mask is inside it and on its edge: a neighbour above,
// below, left or right lies off the mask or outside it, or the cell lies in the first row.
bool inset_edge_cell(const inset_mask& mask, int row, int col);

// A point at the centre of every inside cell of the mask on its edge, row by row; each point's
// id is its cell's number among the inside cells counted row by row from 1.
std::vector<xy_out_point> inset_edge_points(const inset_mask& mask);

// The edge of the mask as segments: for every inside cell on the edge, one segment per side
// whose neighbour lies off the mask or outside it, in the order top, right, bottom, left.
std::vector<xy_segment> inset_boundary(const inset_mask& mask);

// Places every point: a point in an active cell takes the active cells of the 2 x 2 block
// around it (its own cell and the three nearest it, on the side of its cell's quarter it lies
// in), each weighted by 1 / max(distance to the cell's centre, 0.0001)^2; a point in no active
// cell takes the nearest active cell alone (a warning is printed), or cell 1 when the grid has
// no active cell. A point with one neighbour has weight 1.
void xy_points_weights(const xy_grid& grid, std::vector<xy_out_point>& points);

// The weighted mean of `values` (indexed by cell number) over the point's neighbours.
double xy_point_value(const xy_out_point& point, const double* values);

// Reads the channel input file from the open `file` for its LINK, NODE and X_Y cards and keeps,
// for every link whose course between two X_Y points crosses the boundary, the midpoint of the
// two points as its stream point, with the node of the second point; when a link crosses more
// than once the crossing of the highest node wins. Points come out in the order their links were
// first found.
std::vector<xy_out_point> xy_stream_crossings(file_handle& file,
                                              const std::vector<xy_segment>& boundary);
