// The face stencil of the overland grid as the overland record holds it: runs of cells whose
// neighbours lie at fixed offsets, and the open faces each cell owns. face_stencil.h builds it.
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
  int wide_vectors = 0;  // 1: the vector kernels (set at build; 0 only to test the scalar ones)
};
