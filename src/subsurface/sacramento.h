// Sacramento soil-moisture accounting: the watershed's subsurface run as one lumped basin of
// five stores, fed every hour by the mean infiltrated depth and returning evapotranspiration
// and a channel inflow spread over the channel nodes by fixed weights. This header holds the
// kernels of the basin; what the channel set-up, the channel step and the books call is in
// sacramento_steps.h, the parameter file's reader in subsurface_steps.h.
#pragma once

#include "framework/core/raw_arrays.h"
#include "subsurface/subsurface_state.h"

// What one land phase returned (mm over the basin).
struct sac_phase_result {
  double surface = 0.0;    // runoff from a full upper-zone free store
  double interflow = 0.0;  // lateral drainage of the upper-zone free store
  double baseflow = 0.0;   // drainage of the lower-zone free stores
  double total = 0.0;      // channel inflow: the three above
  int increments = 0;      // increments the step was cut into
};

// One step of the basin: `input_mm` enters the upper zone, `et_mm` holds the evapotranspiration
// demand on entry and the actual evapotranspiration on return. The stores of `p` move on, its
// residual grows by the step's balance error and its last inflow becomes the returned total.
sac_phase_result sac_land_phase(sac_basin_params& p, double& et_mm, double input_mm);

// The topographic index ln(A / (flow width x slope)) of every cell of the grid (rows x cols of
// `dx` metres, index_map 0 outside), from the cell elevations; written to out_by_cell (cells
// 1..cell_count). Cells are taken from the highest down, so that each cell has received the
// area of every higher neighbour before it passes its own on to its lower neighbours.
enum class topodex_status { ok, negative_index };
topodex_status topodex(const raw_array1d<double>& cell_elev, const raw_array2d<int>& index_map,
                       int rows, int cols, double dx, raw_array1d<double>& out_by_cell);

// The index of a cell without a lower neighbour whose mean slope to its neighbours is 1e-8 or
// less (a flat).
inline constexpr double topodex_flat_index = 0.333;
