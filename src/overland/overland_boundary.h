// Overland boundary cells: at every overland step, before routing, cells on the grid's edge
// drain at normal depth, are held at a stage, or take an inflow hydrograph, and the XY depth
// points are set to their series. The overland flow step calls ov_boundary_update_values and
// ov_boundary_outflow when OV_BOUNDARY is on; overland_flow_setup calls ov_boundary_setup.
#pragma once

struct model_state;

// Cells per block of the boundary sums: each block adds its cells in order and the blocks are
// added in block order, so the sums do not depend on the thread count.
inline constexpr int ov_boundary_block_cells = 1024;

// The boundary types of the OVERLAND_BOUNDARY table.
inline constexpr int ov_bdy_normal_depth = 1;  // value: the slope across the edge (m/m)
inline constexpr int ov_bdy_fixed_stage = 2;   // value: the water-surface elevation (m)
inline constexpr int ov_bdy_stage_series = 3;  // value: water-surface elevation from a series
inline constexpr int ov_bdy_inflow_cfs = 4;    // value: inflow from a series (ft3/s)
inline constexpr int ov_bdy_inflow_cms = 5;    // value: inflow from a series (m3/s)

// The volumes (m3) one boundary pass moved.
struct ov_boundary_sums {
  double normal_out = 0.0;  // left through normal-depth cells
  double head_out = 0.0;    // removed by stage cells
  double head_in = 0.0;     // added by stage cells
  double flow_in = 0.0;     // added by inflow cells
};

// What one boundary pass over cells 1..cell_count reads and writes (one-based arrays).
struct ov_boundary_view {
  int cell_count = 0;
  double dx = 0.0;                    // m
  double* depth = nullptr;            // m, updated in place
  const double* elev = nullptr;       // m: bed elevation
  const double* roughness = nullptr;  // Manning n
  const int* right = nullptr;         // neighbours, 0 at the edge of the watershed
  const int* left = nullptr;
  const int* above = nullptr;
  const int* below = nullptr;
  const int* type = nullptr;      // boundary type per cell, 0 none
  const double* value = nullptr;  // value in force per cell
};

// Applies the typed boundary cells for dt seconds (a parallel loop over blocks of cells) and
// returns the volumes moved:
// - normal depth: with k of the four sides open (no neighbour), the loss of one side,
//   L = h^1.666667 sqrt(slope) dx / n dt / dx^2, leaves the cell; a cell whose k L exceeds its
//   depth empties;
// - stage (fixed or series): the depth becomes max(0, stage - bed);
// - inflow: the series value times dt (ft3/s converted by 0.0283168466 m3 per ft3) is added;
//   a negative value withdraws at most the water on the cell.
ov_boundary_sums ov_boundary_cells(const ov_boundary_view& v, double dt);

// Start-up, when OV_BOUNDARY is on: refuses, with a message naming the cell, a normal-depth
// slope that is negative or not a number, a stage that is not a number, and a series number
// that is not in the time series table or names a series without rows.
void ov_boundary_setup(model_state& ms);

// The value in force of every boundary cell at the current time: the slope or stage of types 1
// and 2, the series value of types 3 to 5, 0 otherwise. A series lookup that fails stops the
// run.
void ov_boundary_update_values(model_state& ms);

// The boundary exchange of one overland step of dt seconds: the XY depth points first, then the
// typed cells; the volumes are added to the run's cumulative boundary volumes.
void ov_boundary_outflow(model_state& ms, double dt);
