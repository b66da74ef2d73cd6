// Rainfall on the grid: the canopy's share of the rain, the rain of each overland step onto the
// cells, the channel and overland lakes and the snow store, and the overland point sources. The
// run driver calls apply_rainfall (declared in atmosphere_steps.h) and
// apply_overland_point_sources (declared with the other overland steps in overland_steps.h) right
// after the precipitation record of the step.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>

#include "framework/core/error_state.h"

// Volume sums over the cells are formed per block of this many cells (cells 1..1024, 1025..2048,
// ...), and the block sums are added in block order, so that a sum does not depend on the
// number of threads.
inline constexpr int rain_sum_block_cells = 1024;

// Divisor of the canopy's storage capacity and coefficient in the month `month` (1..12): 1.0
// unless seasonal_rs is 1; with it, south of latitude 37.0 the winter months hold less than
// the summer ones, and from 37.0 north the winter is longer.
double interception_season_factor(int seasonal_rs, double latitude, int month);

// The canopy's share of one step of rain. For every cell 1..cell_count with gross intensity
// gross[i] (mm/h) over dt seconds: net[i] is what reaches the ground (mm/h), used[i] (mm) grows
// by the depth the canopy holds and interception_volume (m3) by that depth over the cell's
// dx x dx. The storage fills up to capacity[i] / f; while it has room the canopy holds all the
// rain; from the step in which it fills on, a fraction coeff[i] / f of the rest is held too
// (f the season factor). Cells of a channel lake (perennial_lakes on and lake_mask[i] >= 1)
// pass all their rain. Every span is one-based and holds at least cell_count + 1 elements;
// lake_mask may be empty when perennial_lakes is 0. Parallel over the cells.
void rain_interception(int cell_count, double dt, std::span<const double> capacity,
                       std::span<const double> coeff, std::span<const double> gross,
                       std::span<double> net, std::span<double> used, double& interception_volume,
                       double dx, int month, int seasonal_rs, double latitude, int perennial_lakes,
                       std::span<const int> lake_mask);

// The per-cell arrays of one step of rain onto the cells (one-based, at least cell_count + 1
// elements each unless said).
struct rain_cells_views {
  int cell_count = 0;
  double dt = 0.0;                    // s: length of the step
  double dx = 0.0;                    // m: cell side
  std::span<const double> intensity;  // per cell: rain reaching the ground (mm/h)
  std::span<const int> chan_lake;     // per cell: channel lake number, 0 none; empty: no lakes
  std::span<const int> ov_lake;       // per cell: overland lake number, 0 none; empty: none
  std::span<double> depth;            // per cell: overland depth (m), in/out
  std::span<double> depth_change;     // per cell: routing depth change (m), cleared
  std::span<double> swe;              // per cell: snow water equivalent (m); used when snowing
  bool snowing = false;               // the precipitation falls as snow
};

// What one step of rain booked.
struct rain_cells_result {
  double volume = 0.0;    // m3: rain of the cells outside channel lakes (overland lakes included)
  double rate_sum = 0.0;  // mm/h: sum of those cells' intensities
  int nan_cell = 0;       // lowest cell whose depth is no number after the rain, 0 none
  int snow_cells = 0;     // cells that took snow instead of rain
};

// Puts one step of rain on the cells outside channel lakes: each cell's depth grows by
// dt x intensity / 3.6e6 m, or, when snowing, its snow water equivalent does instead; a cell of
// an overland lake counts its rain in the volume but keeps its depth, the rain being its lake's
// (the caller books it there); every cell's depth change is cleared. Parallel over the cells; the
// volume and the intensity sum are formed over fixed blocks of cells.
rain_cells_result rain_onto_cells(const rain_cells_views& v);

// Adds the overland point sources of one step to the depths: depth[i] += dt x rate[i] / dx^2
// for every cell 1..cell_count; returns the inflow volume dt x sum of rate[i] (m3, over fixed
// blocks of cells). Parallel over the cells.
double point_sources_onto_cells(int cell_count, double dt, double dx, std::span<const double> rate,
                                std::span<double> depth);
