// Groundwater into leaky tile drains: for every pipe laid in a grid cell, the drain inflow of a
// water table above the water in the pipe by the drain-spacing formula (Hooghoudt's with
// Moody's equivalent depth, or the series form of the equivalent depth). Called by the pipe
// network's step before the solve when the groundwater is simulated.
#pragma once

struct channel_state;
struct superlink_state;

// The per-cell values the exchange reads, by cell number.
struct tile_ground {
  const double* cell_elev = nullptr;    // m: ground
  const double* elevgw = nullptr;       // m: groundwater head
  const double* bottom_elev = nullptr;  // m: aquifer bottom
};

// Equivalent depth (m) of a drain of radius r at height d above the aquifer bottom, spacing L:
// Moody's forms (drainmod) or the series form; 0 for a drain on the bottom (d = 0).
double tile_equivalent_depth(double d, double L, double r, bool drainmod);

// Zeroes the tile flows, then adds each pipe's inflow (m3/s) to its node's
// ch.superlink_tile_flow and to its cell's ch.Q_tile_grid. Returns 0 when no pipe lies below
// its water table, else 1; a pipe below the aquifer bottom (error 131) or an inflow that is not a
// number (error 133) raises its error and returns 1 at once.
int gw_tile_exchange(const superlink_state& sl, channel_state& ch, const tile_ground& ground,
                     bool drainmod);
