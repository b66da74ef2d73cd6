// The tiles in which the overland sediment step moves sediment from cell to cell on many
// threads with the result of one pass in cell order. Built once by the overland sediment set-up
// (and by the sediment benchmark) from the grid's cell numbering.
#pragma once

#include "framework/core/raw_arrays.h"
#include "transport/transport_records_state.h"

// Rows of a tile and its width along the skewed column (row + column) used by the step.
inline constexpr int sediment_tile_rows = 16;
inline constexpr int sediment_tile_span = 64;

// The transport of cell c (row r, column k) touches c, its right neighbour (r, k + 1) and the
// cell below (r + 1, k); in cell order it must follow the cells (r, k - 1), (r - 1, k) and
// (r - 1, k + 1). On the skewed column s = r + k these all lie at a row and an s no greater
// than c's, so tiles of tile_rows rows by tile_span values of s, levelled by the sum of their two
// tile numbers, can run a level's tiles side by side. Cells are numbered row by row over
// index_map [1..rows][1..cols] (0 outside); a map that does not number cells 1..cell_count row by
// row, or tile sizes below 1, leave the sweep empty and return false. Allocates.
bool build_sediment_sweep(sediment_sweep& sweep, const raw_array2d<int>& index_map, int rows,
                          int cols, int cell_count, int tile_rows = sediment_tile_rows,
                          int tile_span = sediment_tile_span);
