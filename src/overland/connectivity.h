// Cell connectivity and bed slopes of the overland plane, built once per run at start-up after
// the maps are read: the four neighbour numbers of every cell, which faces can carry flow, the
// checks of the dike low spots, and the bed slopes towards the right and lower neighbours. The
// run driver calls build_cell_connectivity and compute_overland_slopes (overland_steps.h); the
// kernels below work on the raw arrays alone.
#pragma once

#include <string>

#include "framework/core/raw_arrays.h"
#include "overland/overland_state.h"

// Side codes of a cell, as the dike map and the low-spot file give them.
inline constexpr int side_top = 1;
inline constexpr int side_right = 2;
inline constexpr int side_bottom = 4;
inline constexpr int side_left = 8;

// Walks the index map (rows 1..rows, columns 1..cols) row by row and gives the k-th active
// cell met the cell numbers of its right, lower, upper and left neighbours, 0 at the grid's
// edge or outside the watershed. Cells beyond the arrays' own count are not written.
void build_cell_neighbors(int rows, int cols, raw_array1d<int>& right, raw_array1d<int>& below,
                          raw_array1d<int>& above, raw_array1d<int>& left,
                          const raw_array2d<int>& index_map);

// The four neighbour arrays of the cells, read-only.
struct cell_neighbour_arrays {
  const raw_array1d<int>& right;
  const raw_array1d<int>& below;
  const raw_array1d<int>& left;
  const raw_array1d<int>& above;
  // The neighbour of `cell` on side `side` (1, 2, 4 or 8), 0 for none or another code.
  int on_side(int cell, int side) const;
};

// For cells 1..cell_count: open_x = 1 when the cell's right face carries flow (a right
// neighbour exists and, with dikes on, no dike runs on the cell's right side), open_y likewise
// for the lower face with the bottom side; 0 otherwise. Both routing schemes skip closed faces.
void build_face_open_flags(int cell_count, const raw_array1d<int>& right,
                           const raw_array1d<int>& below, int dikes_on,
                           const raw_array1d<int>& dike_mask, raw_array1d<unsigned char>& open_x,
                           raw_array1d<unsigned char>& open_y);

// Checks low spots 1..count in order against the dikes and the elevations, setting each
// examined low spot's flow to 0. Returns 0 when every low spot passes; otherwise the number of
// the first that fails, with the lines the run prints for it in `message` (later low spots
// are not examined). `file_name` is the low-spot file, named by the direction message.
int check_dike_lowspots(raw_array1d<lowspot_record>& spots, int count,
                        const raw_array2d<int>& index_map, int rows, int cols,
                        const raw_array1d<int>& dike_mask, const raw_array1d<double>& cell_elev,
                        const cell_neighbour_arrays& neighbours, const char* file_name,
                        std::string& message);

// Bed slopes of cells 1..cell_count with cell side dx (m), elevations z (m):
// slope_x = (z of the cell - z of its right neighbour) / dx, or without a right neighbour that
// of the cell before it (0 for the first); slope_y = (z - z of the lower neighbour) / dx, which
// a lower neighbour that has none below it takes as well; a cell without either keeps 0.
void compute_bed_slopes(int cell_count, double dx, const raw_array1d<double>& z,
                        const raw_array1d<int>& right, const raw_array1d<int>& below,
                        raw_array1d<double>& slope_x, raw_array1d<double>& slope_y);

struct model_state;

// Builds the run's face stencil (overland_state::ov_stencil) from the neighbour arrays, the
// open-face flags and the wetland map; called after the bed slopes at start-up, and by the
// routing when the stencil was built for another grid. False, after the message, when it
// cannot be built.
bool overland_stencil_setup(model_state& ms);
