// The generated plane of the overland benchmarks: a side x side grid of 10 m cells numbered row
// by row, falling to the south-east, Manning's n 0.05 everywhere and no outlet cell.
#pragma once

#include <memory>

#include "framework/core/raw_arrays.h"
#include "framework/model_state.h"

// A side x side watershed of 10 m cells falling 0.01 to the east and 0.005 to the south, n 0.05.
inline std::unique_ptr<model_state> make_plane(int side) {
  auto ms = std::make_unique<model_state>();
  ms->rows = side;
  ms->cols = side;
  ms->gridsize = 10.0;
  alloc_2d_int_named(ms->index_map, side + 1, side + 1, "mask");
  int k = 0;
  for (int r = 1; r <= side; ++r)
    for (int c = 1; c <= side; ++c) ms->index_map[r][c] = ++k;
  ms->cell_count = k;
  alloc_1d_double(ms->cell_elev, k, "elev");
  overland_state& ov = ms->overland;
  alloc_1d_double(ov.ov_depth, k, "depth");
  alloc_1d_double(ov.ov_roughness, k, "n");
  for (int r = 1; r <= side; ++r)
    for (int c = 1; c <= side; ++c) {
      const int cell = ms->index_map[r][c];
      ms->cell_elev[cell] = 1000.0 - 0.1 * c - 0.05 * r;
      ov.ov_roughness[cell] = 0.05;
    }
  ms->outlet_cell = 0;
  ov.ov_route_option = 2;  // the set-up then also gives "ade" its work arrays
  return ms;
}
