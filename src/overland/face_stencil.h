// The face stencil of the overland grid: the cells' neighbours laid out so that a routing
// kernel reads them at fixed offsets. Cells are numbered row by row, so the right neighbour of
// a cell is always the next cell; the cell below lies at an offset that stays the same along a
// run of cells. build_face_stencil makes it once per run at start-up, after the connectivity
// and the bed slopes (and again whenever the routing finds it built for another grid); the
// routing schemes read it.
#pragma once

#include "framework/core/raw_arrays.h"

// A run of consecutive cells first..last whose faces towards the cells below and above lie at
// one offset each: the cell below c is c + below (0: none of the run's cells has one below),
// the cell above c is c - above (0: none has one above).
struct face_run {
  int first;  // first cell of the run, 1..cell_count
  int last;   // last cell of the run
  int below;  // offset to the cell below, 0 none
  int above;  // offset to the cell above, 0 none
};

// Bits of face_stencil::plain_faces.
inline constexpr unsigned char stencil_right_open = 1;  // the right face carries flow
inline constexpr unsigned char stencil_lower_open = 2;  // the lower face carries flow

// Cells a vector kernel may read past the last cell of plain_faces.
inline constexpr int stencil_padding = 8;

struct face_stencil {
  int cell_count = 0;  // cells 1..cell_count it was built for; 0: not built
  int run_count = 0;   // runs 1..run_count, in cell order, covering every cell once
  raw_array1d<face_run> runs;
  // Per cell 1..cell_count (and stencil_padding zero slots after): the open faces the cell
  // owns (its right and lower faces) that take the plain Manning formula; the faces of a
  // wetland cell are not among them.
  raw_array1d<unsigned char> plain_faces;
  // Cells owning faces that take the wetland formula, in cell order: 1..wetland_cell_count.
  int wetland_cell_count = 0;
  raw_array1d<int> wetland_cells;
  int wide_vectors = 0;  // 1 when the processor runs the 8-wide vector kernels (set at build)
};

// Builds the stencil of cells 1..cell_count from the neighbour arrays (right, below, above: 0
// none), the open-face flags (1 where the cell's right / lower face carries flow) and, when
// `wetland` is given, the cells' wetland numbers (a cell with a number 1..wetland_count owns
// wetland faces). False when memory is missing (the stencil is then empty).
bool build_face_stencil(face_stencil& s, int cell_count, const raw_array1d<int>& right,
                        const raw_array1d<int>& below, const raw_array1d<int>& above,
                        const raw_array1d<unsigned char>& open_x,
                        const raw_array1d<unsigned char>& open_y, const int* wetland,
                        int wetland_count);

// The run holding cell c (1..cell_count), by bisection; 0 when the stencil has no such cell.
int face_run_of(const face_stencil& s, int c);
