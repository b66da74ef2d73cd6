// ADE overland routing, called by the overland flow step once per routed overland step when
// OVERTYPE is "ade" or "ade-pc". The sweeps and depth updates are the kernels of ade_flux.cpp;
// this file keeps the sub-step of "ade", the predictor-corrector of "ade-pc", the variants next
// to overland lakes and to channel lakes, the outlet drain and the low spots of the dikes.
#include "overland/ade_overland.h"

#include <omp.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "overland/ade_flux.h"
#include "overland/embankments.h"
#include "overland/explicit_channel_lakes.h"

namespace {

constexpr double five_thirds = 5.0 / 3.0;

// One direction of the grid: its sweep, its face discharges and the upstream neighbour whose
// face discharge flows into each cell.
struct ade_direction {
  bool x_faces;
  double* flux;     // m3/s per cell
  double* volume;   // m3 per cell, summed over the sub-steps of "ade"
  const int* up;    // leftcon (x) or abovecon (y)
  const int* next;  // rightcon (x) or belowcon (y)
};

void sweep(const ade_grid_view& g, const ade_direction& d, const double* h, double* q) {
  if (d.x_faces)
    ade_flux_sweep_a(g, h, q);
  else
    ade_flux_sweep_b(g, h, q);
}

// Manning's discharge at the outlet cell of depth h (m3/s), 0 when the cell is dry.
double outlet_discharge(double h, double n, double slope, double dx) {
  return h > 0.0 ? dx * std::pow(h, five_thirds) / n * std::sqrt(slope) : 0.0;
}

// Drains `volume` (m3) from the outlet depth h, emptying the cell when it holds less; returns
// the volume taken.
double drain_outlet(double& h, double volume, double dx) {
  const double area = dx * dx;
  if (volume / area > h) {
    const double all = h > 0.0 ? h * area : 0.0;
    h = 0.0;
    return all;
  }
  h -= volume / area;
  return volume;
}

// The arrays the ADE routing needs, all sized to the run's cells; false, after the message,
// when the start-up did not set them up.
bool arrays_ready(model_state& ms, int scheme) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  auto short_of = [n](const auto& a) { return a.empty() || a.count() < n; };
  bool missing = short_of(ov.ov_depth) || short_of(ov.ov_flux_x) || short_of(ov.ov_flux_y) ||
                 short_of(ov.ov_retention) || short_of(ov.ov_roughness) ||
                 short_of(ov.ov_depth_change) || short_of(ms.cell_elev) || short_of(ov.rightcon) ||
                 short_of(ov.belowcon) || short_of(ov.leftcon) || short_of(ov.abovecon) ||
                 short_of(ov.ov_face_open_x) || short_of(ov.ov_face_open_y) ||
                 short_of(ov.ov_pred_depth) || short_of(ov.ov_pred_flux);
  if (scheme == 2)
    missing = missing || short_of(ov.ov_vol_x) || short_of(ov.ov_vol_y) ||
              short_of(ov.ade_memory.start_depth);
  if (missing) {
    stop_with_message("Error: the ADE overland routing arrays of %d cells were not set up.\n", n);
    return false;
  }
  return true;
}

ade_grid_view grid_view(model_state& ms) {
  overland_state& ov = ms.overland;
  ade_grid_view g;
  g.cell_count = ms.cell_count;
  g.dx = ms.gridsize;
  g.elev = ms.cell_elev.data();
  g.retention = ov.ov_retention.data();
  g.roughness = ov.ov_roughness.data();
  g.right = ov.rightcon.data();
  g.below = ov.belowcon.data();
  g.open_x = ov.ov_face_open_x.data();
  g.open_y = ov.ov_face_open_y.data();
  if (ms.input.wetland_table_on && ov.wetland_mask.count() >= ms.cell_count) {
    g.wetland = ov.wetland_mask.data();
    g.wetlands = ov.wetlands.data();
    g.wetland_count =
        ov.wetlands.count() < ov.wetland_count ? ov.wetlands.count() : ov.wetland_count;
  }
  return g;
}

// The grid's rows as ranges of cells for the row-by-row sub-steps (see ade_scheme_memory),
// built at the start-up (ade_row_layout_setup), else at the first step that needs it; true when
// the sub-steps may take the rows.
bool rows_usable(model_state& ms) {
  ade_scheme_memory& mem = ms.overland.ade_memory;
  const int n = ms.cell_count;
  const int rows = ms.rows;
  if (mem.row_layout != 0 && mem.row_layout_cells == n && mem.row_first.count() == rows + 1)
    return mem.row_layout > 0;
  mem.row_layout = -1;
  mem.row_layout_cells = n;
  mem.row_first.reset();
  const overland_state& ov = ms.overland;
  if (!ade_wide_sweeps() || rows < 1 || ms.cols < 1 || ms.index_map.empty() ||
      ms.index_map.row_count() < rows || ms.index_map.col_count() < ms.cols)
    return false;
  if (!mem.row_first.allocate(rows + 1)) return false;
  // Cells numbered row by row: row r holds the cells row_first[r] .. row_first[r + 1] - 1.
  std::vector<int> row_of(static_cast<std::size_t>(n) + 1, 0);
  int next_cell = 1;
  for (int r = 1; r <= rows; ++r) {
    mem.row_first[r] = next_cell;
    for (int c = 1; c <= ms.cols; ++c) {
      const int k = ms.index_map[r][c];
      if (k == 0) continue;
      if (k != next_cell || k > n) return false;
      row_of[static_cast<std::size_t>(k)] = r;
      ++next_cell;
    }
  }
  if (next_cell != n + 1) return false;
  mem.row_first[rows + 1] = n + 1;
  auto in_row = [&](int cell, int r) {
    return cell == 0 || (cell >= 1 && cell <= n && row_of[static_cast<std::size_t>(cell)] == r);
  };
  for (int i = 1; i <= n; ++i) {
    const int r = row_of[static_cast<std::size_t>(i)];
    const int right = ov.rightcon[i], left = ov.leftcon[i];
    if ((right != 0 && right != i + 1) || (left != 0 && left != i - 1) || !in_row(right, r) ||
        !in_row(left, r) || !in_row(ov.belowcon[i], r + 1) || !in_row(ov.abovecon[i], r - 1))
      return false;
  }
  mem.row_layout = 1;
  return true;
}

// The first row of block t of `blocks`, the blocks holding about equal shares of the cells.
int block_first_row(const int* row_first, int rows, int n, int t, int blocks) {
  if (t >= blocks) return rows + 1;
  const long target = 1 + static_cast<long>(n) * t / blocks;
  int lo = 1, hi = rows + 1;  // the first row starting at or past the target cell
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (row_first[mid] >= target)
      hi = mid;
    else
      lo = mid + 1;
  }
  return t == 0 ? 1 : lo;
}

// One sub-step of s seconds of "ade" taken row by row: the two directions' sweeps and updates
// in one pass over the grid, each row's first direction done just ahead of the second, which
// needs the row below it swept. Every face and every depth takes the arithmetic of the sweep
// over the whole grid (ade_plain_sweep_wide and ade_substep_update) from the same depths, so the
// results are those bit for bit on any thread count; the threads take blocks of whole rows,
// the rows at the blocks' edges handled between barriers. With `keep`, each cell's depth before
// the sub-step goes there. With mean_dt > 0 (the step's last sub-step) each face's discharge
// becomes the mean of the step, its volume over mean_dt, once no row needs it any more. Returns
// the bits of the results.
int rows_substep(const ade_grid_view& g, const ade_direction dirs[2], const int* row_first,
                 int rows, int n, double* h, double* change, double* keep, double s, bool fresh,
                 int outlet, double outlet_before, double mean_dt) {
  const ade_direction& a = dirs[0];
  const ade_direction& b = dirs[1];
  // Row r of direction d: its sweep, with its update when `update`. The first direction's
  // update judges the outlet by its depth before its last drain; the second keeps the changes.
  auto step_row = [&](const ade_direction& d, int r, bool update) {
    const int lo = row_first[r], hi = row_first[r + 1] - 1;
    if (lo > hi) return 0;
    const bool first = &d == &a;
    return ade_row_step_wide(g, d.x_faces, d.next, d.x_faces ? g.open_x : g.open_y, d.up, h, d.flux,
                             update, first ? nullptr : change, first ? keep : nullptr, d.volume,
                             fresh, s, first ? outlet : 0, outlet_before, mean_dt, lo, hi);
  };
  auto update_row = [&](const ade_direction& d, int r) {
    const int lo = row_first[r], hi = row_first[r + 1] - 1;
    if (lo > hi) return 0;
    const bool first = &d == &a;
    return ade_update_range_wide(lo, hi, h, first ? nullptr : change, first ? keep : nullptr,
                                 d.flux, d.up, g.dx, s, d.volume, fresh, first ? outlet : 0,
                                 outlet_before);
  };
  // Down, a row's discharges are read by the update of the row below: their means are written
  // once that row has moved. Across, the row kernel writes them itself.
  const ade_direction& down = a.x_faces ? b : a;
  const bool means = mean_dt > 0.0;
  auto mean_row = [&](int r) {
    const int lo = row_first[r], hi = row_first[r + 1] - 1;
    if (means && lo <= hi) ade_mean_range_wide(lo, hi, down.flux, down.volume, mean_dt);
  };
  int flags = 0;
#pragma omp parallel reduction(| : flags) if (n >= parallel_min_cells)
  {
    const int blocks = omp_get_num_threads();
    const int t = omp_get_thread_num();
    const int r0 = block_first_row(row_first, rows, n, t, blocks);
    const int r1 = block_first_row(row_first, rows, n, t + 1, blocks) - 1;
    const bool mine = r0 <= r1;
    if (a.x_faces) {
      // Across first: the first row of each block, then the block's rows, each row's faces
      // down swept once the row below has gone across; the first row moves down last, when the
      // block above has swept the faces into it.
      if (mine) flags |= step_row(a, r0, true);
#pragma omp barrier
      if (mine) {
        for (int r = r0 + 1; r <= r1; ++r) {
          flags |= step_row(a, r, true);
          flags |= step_row(b, r - 1, r - 1 > r0);
          if (r - 2 > r0) mean_row(r - 2);
        }
        flags |= step_row(b, r1, r1 > r0);
        if (r1 - 1 > r0) mean_row(r1 - 1);
      }
#pragma omp barrier
      if (mine) {
        flags |= update_row(b, r0);
        if (r0 < r1) mean_row(r0);
      }
    } else {
      // Down first: the faces down from each block's last row swept before any row moves,
      // then each row down and across in turn.
      if (mine) step_row(a, r1, false);
#pragma omp barrier
      if (mine) {
        for (int r = r0; r <= r1; ++r) {
          flags |= r != r1 ? step_row(a, r, true) : update_row(a, r);
          flags |= step_row(b, r, true);
          if (r > r0) mean_row(r - 1);
        }
      }
    }
    // A block's last row feeds the first row of the block below, which has moved by now.
    if (means) {
#pragma omp barrier
      if (mine) mean_row(r1);
    }
  }
  return flags;
}

// "ade" without lakes: the step in sub-steps, restarted from its start depths with half the
// sub-step whenever a sweep leaves a negative depth. A sweep judges each cell's change against
// its depth before the sweep, which is its current depth everywhere but at the outlet after its
// drain (kept aside); the first sub-step of a pass sets the face volumes and the last sweep of
// the step leaves the depth changes. Without lakes the face discharges left are the step's
// means, each face's volume over dt.
double route_substeps(model_state& ms, const ade_grid_view& g, const ade_direction dirs[2],
                      double dt, int outlet) {
  overland_state& ov = ms.overland;
  ade_scheme_memory& mem = ov.ade_memory;
  const int n = ms.cell_count;
  const double dx = ms.gridsize;
  double* h = ov.ov_depth.data();
  double* start = mem.start_depth.data();
  double* change = ov.ov_depth_change.data();

  ++mem.calls;
  double sub = ade_first_sub(mem.calls, dt, mem.last_sub, mem.failed);
  // Without wetlands the sub-steps go row by row where the grid's numbering allows.
  const bool by_rows = g.wetland == nullptr && g.lakes == ade_lake_kind::none && rows_usable(ms);
  // The face discharges a step leaves are its means, but next to lakes.
  const bool means = !ov.overland_lake_map && !ms.perennial_lakes;

  // The depths at the step's start, kept for a restart: row by row, the first sub-step keeps
  // each cell's depth as its first update reads it.
  if (!by_rows) {
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
    for (int c = 1; c <= n; ++c) start[c] = h[c];
  }

  double outlet_volume = 0.0;
  bool restart = true;
  bool first_pass = true;
  bool kept = !by_rows;
  while (restart) {
    restart = false;
    mem.failed = 0;
    if (sub < ade_shortest_sub) {
      printf("The ADE overland routing time step is getting really small\n");
      printf("less than 1/1000 of a second\n");
      printf("Reduce the model time step by a factor of 2 and try again.\n");
      printf("Program stopped.\n");
      stop_now();
      return -1.0;
    }
    if (!first_pass) {
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
      for (int c = 1; c <= n; ++c) h[c] = start[c];
    }
    first_pass = false;
    double remaining = dt;
    outlet_volume = 0.0;
    bool fresh_volumes = true;
    double outlet_before = outlet != 0 ? h[outlet] : 0.0;
    while (remaining > 1e-16) {
      if (mem.failed == 1) sub *= 0.5;
      mem.last_sub = sub;
      ade_take_sub(sub, remaining);
      mem.failed = 0;
      if (by_rows) {
        double* last_change = remaining <= 1e-16 ? change : nullptr;
        const double mean_dt = means && remaining <= 1e-16 ? dt : 0.0;
        const int flags = rows_substep(g, dirs, mem.row_first.data(), ms.rows, n, h, last_change,
                                       kept ? nullptr : start, sub, fresh_volumes, outlet,
                                       outlet_before, mean_dt);
        kept = true;
        if (flags & ade_update_negative_depth) {
          sub *= 0.5;
          restart = true;
          break;
        }
        if (flags & ade_update_large_change) mem.failed = ade_update_large_change;
        if (outlet != 0) outlet_before = h[outlet];
      }
      for (int k = 0; k < 2 && !by_rows; ++k) {
        const ade_direction& d = dirs[k];
        sweep(g, d, h, d.flux);
        double* last_change = k == 1 && remaining <= 1e-16 ? change : nullptr;
        const int result = ade_substep_update(n, h, last_change, d.flux, d.up, dx, sub, d.volume,
                                              fresh_volumes, outlet, outlet_before);
        if (outlet != 0) outlet_before = h[outlet];
        if (result == ade_update_negative_depth) {
          sub *= 0.5;
          restart = true;
          break;
        }
        if (result > mem.failed) mem.failed = result;
      }
      if (restart) break;
      fresh_volumes = false;
      if (outlet != 0) {
        const double q = outlet_discharge(h[outlet], g.roughness[outlet], ms.outlet_slope, dx);
        outlet_volume += drain_outlet(h[outlet], q * sub, dx);
      }
    }
  }
  if (means && !by_rows) {
    // The mean face discharges of the step from the volumes of its sub-steps.
    double* fx = ov.ov_flux_x.data();
    double* fy = ov.ov_flux_y.data();
    const double* vx = ov.ov_vol_x.data();
    const double* vy = ov.ov_vol_y.data();
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
    for (int c = 1; c <= n; ++c) {
      fx[c] = vx[c] / dt;
      fy[c] = vy[c] / dt;
    }
  }
  return outlet_volume;
}

// "ade-pc" without lakes: per direction a predictor from the current depths, the mean of the
// predictor's and the predicted depths' discharges, and a corrector with that mean.
double route_predictor_corrector(model_state& ms, const ade_grid_view& g,
                                 const ade_direction dirs[2], double dt, int outlet) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double dx = ms.gridsize;
  const double c = dt / (dx * dx);
  double* h = ov.ov_depth.data();
  double* pred = ov.ov_pred_depth.data();
  double* mean = ov.ov_pred_flux.data();
  double outlet_volume = 0.0;
  for (int k = 0; k < 2; ++k) {
    const ade_direction& d = dirs[k];
    double* q = d.flux;
    const int* up = d.up;
    sweep(g, d, h, q);
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
    for (int i = 1; i <= n; ++i) {
      pred[i] = ((up[i] != 0 ? q[up[i]] : 0.0) - q[i]) * c + h[i];
      mean[i] = q[i];
    }
    if (outlet != 0)
      pred[outlet] -=
          0.5 * outlet_discharge(pred[outlet], g.roughness[outlet], ms.outlet_slope, dx) * c;
    sweep(g, d, pred, q);
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
    for (int i = 1; i <= n; ++i) {
      mean[i] = (mean[i] + q[i]) * 0.5;
      q[i] = mean[i];
    }
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
    for (int i = 1; i <= n; ++i) h[i] += ((up[i] != 0 ? mean[up[i]] : 0.0) - mean[i]) * c;
    if (outlet != 0) {
      const double q_out =
          0.5 * outlet_discharge(h[outlet], g.roughness[outlet], ms.outlet_slope, dx);
      outlet_volume += drain_outlet(h[outlet], q_out * dt, dx);
    }
  }
  return outlet_volume;
}

// Applies the discharges q of one direction over dt seconds to the cells outside overland
// lakes, serially; a lake cell's exchange with cells outside the lakes goes to its lake's
// volume change of the step. drain_outlet_here drains the outlet cell (without an emptying
// test) from its depth before the update.
double apply_with_lakes(model_state& ms, const ade_grid_view& g, const ade_direction& d,
                        const double* q, double dt, int outlet, bool drain_outlet_here) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double c = dt / (g.dx * g.dx);
  double* h = ov.ov_depth.data();
  double* change = ov.ov_depth_change.data();
  double outlet_volume = 0.0;
  auto lake = [&](int cell) {
    const int l = g.lake_of_cell[cell];
    return l >= 1 && l <= g.lake_count ? l : 0;
  };
  for (int i = 1; i <= n; ++i) {
    const int u = d.up[i];
    const int l = lake(i);
    if (l == 0) {
      double delta = ((u != 0 ? q[u] : 0.0) - q[i]) * c;
      if (drain_outlet_here && i == outlet) {
        const double q_out = outlet_discharge(h[i], g.roughness[i], ms.outlet_slope, g.dx);
        delta -= q_out * c;
        outlet_volume += q_out * dt;
      }
      change[i] = delta;
      h[i] += delta;
      continue;
    }
    change[i] = 0.0;
    lake_record& rec = ov.ov_lakes[l];
    if (u != 0 && lake(u) == 0) rec.rain_volume += q[u] * dt;
    const int next = d.next[i];
    if (next != 0 && lake(next) == 0) rec.rain_volume -= q[i] * dt;
  }
  return outlet_volume;
}

// Both schemes with overland lakes: the whole step at once, each direction serially.
double route_with_overland_lakes(model_state& ms, ade_grid_view& g, const ade_direction dirs[2],
                                 double dt, int scheme, int outlet) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double dx = ms.gridsize;
  const double c = dt / (dx * dx);
  double* h = ov.ov_depth.data();
  double* pred = ov.ov_pred_depth.data();
  double* mean = ov.ov_pred_flux.data();
  double outlet_volume = 0.0;
  for (int k = 0; k < 2; ++k) {
    const ade_direction& d = dirs[k];
    double* q = d.flux;
    sweep(g, d, h, q);
    if (scheme == 2) {
      outlet_volume += apply_with_lakes(ms, g, d, q, dt, outlet, d.x_faces);
      continue;
    }
    for (int i = 1; i <= n; ++i) {
      const int l = g.lake_of_cell[i];
      const int u = d.up[i];
      pred[i] = l >= 1 && l <= g.lake_count ? h[i] : ((u != 0 ? q[u] : 0.0) - q[i]) * c + h[i];
      mean[i] = q[i];
    }
    if (outlet != 0)
      pred[outlet] -=
          0.5 * outlet_discharge(pred[outlet], g.roughness[outlet], ms.outlet_slope, dx) * c;
    sweep(g, d, pred, q);
    for (int i = 1; i <= n; ++i) {
      mean[i] = (mean[i] + q[i]) * 0.5;
      q[i] = mean[i];
    }
    apply_with_lakes(ms, g, d, mean, dt, 0, false);
    if (outlet != 0) {
      const double q_out =
          0.5 * outlet_discharge(h[outlet], g.roughness[outlet], ms.outlet_slope, dx);
      outlet_volume += drain_outlet(h[outlet], q_out * dt, dx);
    }
  }
  return outlet_volume;
}

// The lake of cell c in the channel-lake sweeps, 0 outside the lakes.
int channel_lake_at(const ade_grid_view& g, int c) {
  const int l = g.lake_of_cell[c];
  return l >= 1 && l <= g.lake_count ? l : 0;
}

// Applies the discharges q (m3/s) of one direction over dt seconds next to channel lakes: each
// cell outside the lakes takes its change (in parallel, each cell its own), lake cells keep
// their depth; then, serially in cell order, the water that crossed a lake's shore goes to the
// lake's volume and to its inflow or outflow, so the result is the same on any thread count.
// Calls f(lake, face, into_lake) for every shore face of direction d, serially in cell order:
// `face` is the cell whose discharge q[face] crosses the shore, `into_lake` the water (m3) it
// brings into the lake over dt seconds, negative when it leaves the lake.
template <class F>
void for_each_shore_face(const ade_grid_view& g, const ade_direction& d, const double* q, int n,
                         double dt, F f) {
  for (int i = 1; i <= n; ++i) {
    const int l = channel_lake_at(g, i);
    if (l == 0) continue;
    if (d.up[i] != 0 && channel_lake_at(g, d.up[i]) == 0) f(l, d.up[i], q[d.up[i]] * dt);
    if (d.next[i] != 0 && channel_lake_at(g, d.next[i]) == 0) f(l, i, -q[i] * dt);
  }
}

// A lake spilling onto its shores gives no more than it holds: when the water leaving a lake
// over its shores in this direction exceeds its volume plus the water entering it, every face
// that draws from it is cut by the same factor, so the lake empties to zero and the shore cells
// gain exactly what it gave.
void limit_lake_spills(model_state& ms, const ade_grid_view& g, const ade_direction& d, double* q,
                       double dt) {
  explicit_lake_copy& w = ms.overland.ovx_saved_lake_state;
  const double* volume = ms.channel.lake_volume.data();
  double* spill = w.spill.data();
  double* enter = w.enter.data();
  const int n = ms.cell_count;
  for (int l = 1; l <= g.lake_count; ++l) spill[l] = enter[l] = 0.0;
  for_each_shore_face(g, d, q, n, dt, [&](int lake, int, double into_lake) {
    if (into_lake > 0.0)
      enter[lake] += into_lake;
    else
      spill[lake] -= into_lake;
  });
  if (!lake_spill_factors(g.lake_count, volume, enter, spill)) return;
  for_each_shore_face(g, d, q, n, dt, [&](int lake, int face, double into_lake) {
    if (into_lake < 0.0 && spill[lake] < 1.0) q[face] *= spill[lake];
  });
}

void apply_with_channel_lakes(model_state& ms, const ade_grid_view& g, const ade_direction& d,
                              double* q, double dt) {
  overland_state& ov = ms.overland;
  channel_state& ch = ms.channel;
  const int n = ms.cell_count;
  const double c = dt / (g.dx * g.dx);
  double* h = ov.ov_depth.data();
  double* change = ov.ov_depth_change.data();
  const int* up = d.up;
  const int* next = d.next;
  limit_lake_spills(ms, g, d, q, dt);
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
  for (int i = 1; i <= n; ++i) {
    if (channel_lake_at(g, i) != 0) {
      change[i] = 0.0;
      continue;
    }
    const double delta = ((up[i] != 0 ? q[up[i]] : 0.0) - q[i]) * c;
    change[i] = delta;
    h[i] += delta;
  }
  auto book = [&](int lake, double into_lake) {
    ch.lake_volume[lake] += into_lake;
    if (into_lake > 0.0)
      ch.lake_in_dv[lake] += into_lake;
    else
      ch.lake_out_dv[lake] -= into_lake;
  };
  for (int i = 1; i <= n; ++i) {
    const int l = channel_lake_at(g, i);
    if (l == 0) continue;
    if (up[i] != 0 && channel_lake_at(g, up[i]) == 0) book(l, q[up[i]] * dt);
    if (next[i] != 0 && channel_lake_at(g, next[i]) == 0) book(l, -q[i] * dt);
  }
}

// Both schemes next to channel lakes: the whole step at once, per direction the sweep and the
// update of "ade", or the predictor, the mean discharges and the corrector of "ade-pc", the
// cells of the lakes keeping their depth and their shores booked to the lakes. The outlet cell
// is not drained.
void route_with_channel_lakes(model_state& ms, const ade_grid_view& g, const ade_direction dirs[2],
                              double dt, int scheme) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double c = dt / (g.dx * g.dx);
  double* h = ov.ov_depth.data();
  double* pred = ov.ov_pred_depth.data();
  double* mean = ov.ov_pred_flux.data();
  for (int k = 0; k < 2; ++k) {
    const ade_direction& d = dirs[k];
    double* q = d.flux;
    const int* up = d.up;
    sweep(g, d, h, q);
    if (scheme == 2) {
      apply_with_channel_lakes(ms, g, d, q, dt);
      continue;
    }
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
    for (int i = 1; i <= n; ++i) {
      const int u = up[i];
      // Between two lake cells nothing moves: the predictor keeps its last value there.
      if (!(channel_lake_at(g, i) != 0 && u != 0 && channel_lake_at(g, u) != 0))
        pred[i] = ((u != 0 ? q[u] : 0.0) - q[i]) * c + h[i];
      mean[i] = q[i];
    }
    sweep(g, d, pred, q);
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
    for (int i = 1; i <= n; ++i) {
      mean[i] = (mean[i] + q[i]) * 0.5;
      q[i] = mean[i];
    }
    apply_with_channel_lakes(ms, g, d, mean, dt);
  }
}

}  // namespace

void ade_row_layout_setup(model_state& ms) {
  ms.overland.ade_memory.row_layout = 0;
  rows_usable(ms);
}

double ade_first_sub(int calls, double dt, double last_sub, int failed) {
  double sub = dt;
  if (calls >= 2 && dt - last_sub > ade_shortest_sub) sub = last_sub;
  if (failed == 1)
    sub *= 0.5;
  else if (dt - 2.0 * sub > -1e-16)
    sub *= 2.0;
  return sub;
}

void ade_take_sub(double& sub, double& remaining) {
  // A remainder shorter than half a sub-step joins the sub-step before it.
  if (sub * 0.5 > remaining - sub) {
    sub = remaining;
    remaining = 0.0;
  } else {
    remaining -= sub;
  }
}

double ade_overland_route(model_state& ms, double dt, int scheme, int sweep_order) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  if (n < 1 || !(dt > 0.0) || (scheme != 2 && scheme != 3)) return 0.0;
  if (!arrays_ready(ms, scheme)) return 0.0;

  ade_grid_view g = grid_view(ms);
  const ade_direction x{true, ov.ov_flux_x.data(), ov.ov_vol_x.data(), ov.leftcon.data(),
                        ov.rightcon.data()};
  const ade_direction y{false, ov.ov_flux_y.data(), ov.ov_vol_y.data(), ov.abovecon.data(),
                        ov.belowcon.data()};
  // Channel lakes the sweeps can see: every per-lake array and the cell mask must hold them.
  const channel_state& ch = ms.channel;
  int channel_lakes = 0;
  if (ms.perennial_lakes && ch.lake_mask.count() >= n) {
    channel_lakes = ch.num_lakes;
    for (const raw_array1d<double>* a :
         {&ch.lake_elev, &ch.lake_volume, &ch.lake_in_dv, &ch.lake_out_dv})
      if (a->count() < channel_lakes) channel_lakes = a->count();
  }
  const bool lakes = channel_lakes > 0 || (ov.overland_lake_map && ov.oland_lake_new.count() >= n &&
                                           ov.ov_lakes.count() >= ov.olake_count &&
                                           ov.ade_lake_surface.count() >= ov.olake_count);
  // "ade" without lakes sweeps x first in order 1; "ade-pc" and the lake variants y first.
  const bool x_first = scheme == 2 && !lakes ? sweep_order == 1 : sweep_order == 2;
  const ade_direction dirs[2] = {x_first ? x : y, x_first ? y : x};
  const int outlet = ms.channel.chan_explic == 0 && ms.outlet_cell >= 1 && ms.outlet_cell <= n
                         ? ms.outlet_cell
                         : 0;

  double outlet_volume = 0.0;
  if (channel_lakes > 0) {
    g.lakes = ade_lake_kind::channel;
    g.lake_of_cell = ms.channel.lake_mask.data();
    g.lake_surface = ms.channel.lake_elev.data();
    g.lake_count = channel_lakes;
    // The lakes' shore work arrays are held with the explicit scheme's copy of the lakes.
    if (ov.ovx_saved_lake_state.enter.count() < channel_lakes &&
        !explicit_channel_lakes_setup(ms)) {
      stop_now();
      return 0.0;
    }
    explicit_lake_copy& before = ov.ovx_saved_lake_state;
    for (int l = 1; l <= channel_lakes; ++l) {
      before.in_dv[l] = ch.lake_in_dv[l];
      before.out_dv[l] = ch.lake_out_dv[l];
    }
    route_with_channel_lakes(ms, g, dirs, dt, scheme);
    book_overland_lake_exchange(ms, channel_lakes, before.in_dv.data(), before.out_dv.data());
  } else if (lakes) {
    for (int l = 1; l <= ov.olake_count; ++l) ov.ade_lake_surface[l] = ov.ov_lakes[l].surface_elev;
    g.lakes = ade_lake_kind::overland;
    g.lake_of_cell = ov.oland_lake_new.data();
    g.lake_surface = ov.ade_lake_surface.data();
    g.lake_count = ov.olake_count;
    outlet_volume = route_with_overland_lakes(ms, g, dirs, dt, scheme, outlet);
  } else if (scheme == 2) {
    outlet_volume = route_substeps(ms, g, dirs, dt, outlet);
    if (outlet_volume < 0.0) return -1.0;
  } else {
    outlet_volume = route_predictor_corrector(ms, g, dirs, dt, outlet);
  }

  if (ov.dike_map_on && ov.lowspot_on && ov.num_lowspots > 0)
    ov_embankment_flow(dt, ms.gridsize, ms.index_map, ms.rows, ms.cols, ms.cell_elev, ov.ov_depth,
                       ov.num_lowspots, ov.lowspots, ov.overland_lake_map, ov.oland_lake_new,
                       ov.ov_lakes);
  return outlet_volume;
}
