// The face stencil of the overland grid: the cells' neighbours laid out so that a routing
// kernel reads them at fixed offsets. Cells are numbered row by row, so the right neighbour of
// a cell is always the next cell; the cell below lies at an offset that stays the same along a
// run of cells. build_face_stencil makes it once per run at start-up, after the connectivity
// and the bed slopes (and again whenever the routing finds it built for another grid); the
// routing schemes read it.
#pragma once

#include "framework/core/raw_arrays.h"
#include "overland/face_stencil_state.h"

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
