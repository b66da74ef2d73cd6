// The two kernels of the ADE overland scheme: the face sweep, which gives every cell the
// discharge across its right face (sweep a) or its lower face (sweep b) from the water-surface
// slope to the face neighbour by Manning's law (with dikes, wetlands and lakes), and the depth
// update, which applies one sweep's discharges to the depths and judges the result. Called by
// the ADE routing (ade_overland.cpp); they work on raw arrays and scalars alone.
#pragma once

#include "overland/face_law.h"
#include "overland/overland_state.h"

// Which lakes the face sweep treats: none, overland lakes (the sweep then runs serially) or
// channel lakes.
enum class ade_lake_kind { none, overland, channel };

// What the face sweeps read. Per-cell arrays are one-based over 1..cell_count.
struct ade_grid_view {
  int cell_count = 0;
  double dx = 0.0;                        // m
  const double* elev = nullptr;           // m: bed elevation
  const double* retention = nullptr;      // m: water up to this depth does not flow
  const double* roughness = nullptr;      // Manning n
  const int* right = nullptr;             // right neighbour of each cell, 0 none
  const int* below = nullptr;             // lower neighbour of each cell, 0 none
  const unsigned char* open_x = nullptr;  // 1 where the right face carries flow (neighbour, no
                                          // dike on the cell's right side)
  const unsigned char* open_y = nullptr;  // the same for the lower face
  // Wetlands (wetland == nullptr: none).
  const int* wetland = nullptr;              // wetland number per cell, 0 none
  const wetland_record* wetlands = nullptr;  // per wetland number 1..wetland_count
  int wetland_count = 0;
  // Lakes (lakes == none: no lake cells).
  ade_lake_kind lakes = ade_lake_kind::none;
  const int* lake_of_cell = nullptr;     // per cell: lake number 1..lake_count, 0 none
  const double* lake_surface = nullptr;  // per lake 1..lake_count: water-surface elevation (m)
  int lake_count = 0;
  // The (sub-)step (s) over which the sweep's discharges will move water: each face then moves
  // at most ov_surface_share of the water-surface difference across it (see face_law.h). 0: no
  // such limit (the face law alone).
  double step = 0.0;
};

// Bit of a sweep's or an update's result: some face's discharge was cut to its share of a
// water-surface difference above ov_cap_failing_difference.
inline constexpr int ade_face_cut = 4;

// Discharge (m3/s, positive from i towards j) across the open face between cell i and its face
// neighbour j, from the depths h. Equal water surfaces give 0; the upstream cell sends
// dx d^(5/3) T(S) / n of its depth d above its retention (nothing when it does not exceed it),
// T being the face law's slope term ov_slope_term (Manning's sign(S) |S|^0.5 above the
// threshold slope, linear below), with the wetland laws where wetlands are on and a lake's
// water surface standing for the water surface of its cells. Both cells in lakes: keeps
// `previous`. With g.step > 0 the discharge is then held to its share of the water-surface
// difference; `cut` (when given) gets ade_face_cut when that cut a difference above
// ov_cap_failing_difference.
double ade_face_discharge(const ade_grid_view& g, const double* h, int i, int j, double previous,
                          int* cut = nullptr);

// Sweep a: the discharge of every cell's right face into q (m3/s), 0 on closed faces and at the
// grid's edge. Sweep b: the same for the lower faces. A parallel loop over cells (serial with
// overland lakes); each cell writes only its own q. Returns ade_face_cut when some face was cut
// to its share of a difference above ov_cap_failing_difference, else 0.
int ade_flux_sweep_a(const ade_grid_view& g, const double* h, double* q);
int ade_flux_sweep_b(const ade_grid_view& g, const double* h, double* q);

// Holds each discharge q[i] of the open faces of one direction (neighbour next[i]) to its share
// of the water-surface difference of the depths h over `step` seconds; returns ade_face_cut as
// the sweeps do. For discharges not formed from h alone (the mean of a predictor and a
// corrector).
int ade_hold_to_surface_share(const ade_grid_view& g, const int* next, const unsigned char* open,
                              const double* h, double* q, double step);

// True: the sweeps on grids without lakes and wetlands take the vector sweep below for every
// cell, on every processor and thread count (the vector kernels run on every processor).
bool ade_wide_sweeps();
// The vector sweep of cells lo..hi on a grid without lakes or wetlands: the discharge of each
// cell's face towards next[i] into q[i], where open[i] is set (0 elsewhere), the same bits as
// the scalar sweep gives; returns ade_face_cut as the sweeps do. Call
// only when ade_wide_sweeps().
int ade_plain_sweep_wide(const ade_grid_view& g, const int* next, const unsigned char* open,
                         const double* h, double* q, int lo, int hi);

// Results of the depth update.
inline constexpr int ade_update_ok = 0;
inline constexpr int ade_update_large_change = 1;    // a cell changed by over half its depth
inline constexpr int ade_update_negative_depth = 2;  // a depth went below -1e-5 m

// Applies one sweep of s seconds to cells 1..n: each cell's change (q[up] - q) s / dx^2 goes to
// change and is added to h; a depth between -1e-5 m and 0 is set to 0, one further below (or any
// negative depth when s < 0.001 s) gives ade_update_negative_depth; a change over half of a
// depth above 0.01 m with s > 0.1 s gives ade_update_large_change. before (the depth before the
// sweep) becomes the new depth; with `volume` given, volume[i] += s q[i] (m3). Returns the worst
// result of all cells, the same on any thread count.
int ade_depth_update(int n, double* h, double* change, double* before, const double* q,
                     const int* up, double dx, double s, double* volume = nullptr);

// The depth update of the sub-steps of "ade", as ade_depth_update without the array of depths
// before the sweep: each cell's depth before the sweep is its depth h, except at cell `drained`
// (0 none: the outlet, drained since its last update), whose depth before the sweep is
// drained_before. The changes go to `change` only when it is given (the last sweep of a step
// leaves them); volume[i] becomes 0 + s q[i] when volume_fresh (the first sub-step), else
// s q[i] is added to it. Returns the worst result of all cells, the same on any thread count.
int ade_substep_update(int n, double* h, double* change, const double* q, const int* up, double dx,
                       double s, double* volume, bool volume_fresh, int drained,
                       double drained_before);

// ade_substep_update over the cells lo..hi alone, up to eight cells to a vector, without a
// parallel loop (the caller shares the rows among its threads): the same depths, changes and
// volumes bit for bit; with `keep` given, each cell's depth before the update goes there. Returns
// the bits of every result found (ade_update_large_change | ade_update_negative_depth), not only
// the worst. Call only when ade_wide_sweeps().
int ade_update_range_wide(int lo, int hi, double* h, double* change, double* keep, const double* q,
                          const int* up, double dx, double s, double* volume, bool volume_fresh,
                          int drained, double drained_before);

// One direction's sweep of the cells lo..hi of one grid row, up to eight cells to a vector:
// the discharge of each cell's face towards next[] into q, as ade_plain_sweep_wide gives it;
// with `update`, each chunk's depths then updated at once as ade_update_range_wide does, which
// needs the inflows q[up] of the cells ready: across (x_faces) the left neighbour up[i] is
// i - 1 or 0 and lies in the row, down the row above is swept. The cells next[] point to must
// not have moved in this sweep. With mean_dt > 0 and `update` across, each face's discharge
// then becomes its mean over the step, volume / mean_dt. Returns the update's result bits. Call
// only when ade_wide_sweeps() and the grid has no lakes or wetlands.
int ade_row_step_wide(const ade_grid_view& g, bool x_faces, const int* next,
                      const unsigned char* open, const int* up, double* h, double* q, bool update,
                      double* change, double* keep, double* volume, bool volume_fresh, double s,
                      int drained, double drained_before, double mean_dt, int lo, int hi);

// The mean discharges of a step of dt seconds of cells lo..hi: q[i] = volume[i] / dt, up to
// eight cells to a vector. Call only when ade_wide_sweeps().
void ade_mean_range_wide(int lo, int hi, double* q, const double* volume, double dt);

// One cell's depth update of a sweep of s seconds by the rule of ade_depth_update: the change
// (up_q - own_q) c, c = s / dx^2, goes to `delta` and is added to h, judged against the depth
// before the sweep `before`; returns the cell's result bits. For the serial updates next to lakes.
int ade_cell_update(double& h, double before, double up_q, double own_q, double c, double s,
                    double& delta);
