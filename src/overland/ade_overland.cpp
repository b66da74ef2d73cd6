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
#include "framework/core/parallel_team.h"
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

int sweep(const ade_grid_view& g, const ade_direction& d, const double* h, double* q) {
  return d.x_faces ? ade_flux_sweep_a(g, h, q) : ade_flux_sweep_b(g, h, q);
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
  (void)scheme;
  missing = missing || short_of(ov.ov_vol_x) || short_of(ov.ov_vol_y) ||
            short_of(ov.ade_memory.start_depth);
  if (ov.overland_lake_map && ov.olake_count > 0 &&
      ov.ade_memory.lake_books.count() < ov.olake_count)
    missing = true;
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
  // Each thread's flags are passed in (the parameter hides the total of the same name).
  auto region = [&](int& flags) {
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
      if (mine) flags |= step_row(a, r1, false);
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
  };
  const int team = team_size(n);
  if (team_runs_inline(team)) {
    region(flags);
  } else {
#pragma omp parallel reduction(| : flags) num_threads(team)
    region(flags);
  }
  return flags;
}

// The lake of cell c next to lakes (overland or channel), 0 outside the lakes.
int lake_at(const ade_grid_view& g, int c) {
  const int l = g.lake_of_cell[c];
  return l >= 1 && l <= g.lake_count ? l : 0;
}

// Calls f(lake, face, into_lake) for every shore face of direction d, serially in cell order:
// `face` is the cell whose discharge q[face] crosses the shore, `into_lake` the water (m3) it
// brings into the lake over dt seconds, negative when it leaves the lake.
template <class F>
void for_each_shore_face(const ade_grid_view& g, const ade_direction& d, const double* q, int n,
                         double dt, F f) {
  for (int i = 1; i <= n; ++i) {
    const int l = lake_at(g, i);
    if (l == 0) continue;
    if (d.up[i] != 0 && lake_at(g, d.up[i]) == 0) f(l, d.up[i], q[d.up[i]] * dt);
    if (d.next[i] != 0 && lake_at(g, d.next[i]) == 0) f(l, i, -q[i] * dt);
  }
}

// A channel lake spilling onto its shores gives no more than it holds: when the water leaving a
// lake over its shores in this direction exceeds its volume plus the water entering it, every
// face that draws from it is cut by the same factor, so the lake empties to zero and the shore
// cells gain exactly what it gave.
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

// What the sub-steps of one overland step route, and how.
struct ade_route {
  model_state& ms;
  ade_grid_view g;  // g.step: the current sub-step
  const ade_direction* dirs;
  int scheme;    // 2 "ade", 3 "ade-pc"
  int outlet;    // the drained outlet cell, 0 none
  bool by_rows;  // "ade" on the plain grid, row by row
  bool lakes;    // next to overland or channel lakes
};

// Applies the discharges q (m3/s) of one direction over s seconds next to lakes: each cell
// outside the lakes takes its change, judged as the plain update judges it; lake cells keep
// their depth, and the water crossing a lake's shore goes to the lake, serially in cell order
// (the same on any thread count): to an overland lake's change of the step, or to a channel
// lake's volume and its inflow or outflow. Returns the update's result bits.
int apply_next_to_lakes(ade_route& r, const ade_direction& d, double* q, double s) {
  model_state& ms = r.ms;
  const ade_grid_view& g = r.g;
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double c = s / (g.dx * g.dx);
  double* h = ov.ov_depth.data();
  double* change = ov.ov_depth_change.data();
  const int* up = d.up;
  const bool channel = g.lakes == ade_lake_kind::channel;
  if (channel) limit_lake_spills(ms, g, d, q, s);
  int result = ade_update_ok;
#pragma omp parallel for schedule(static) reduction(|         \
                                                    : result) \
    num_threads(channel ? team_size(n) : 1)
  for (int i = 1; i <= n; ++i) {
    if (lake_at(g, i) != 0) {
      change[i] = 0.0;
      continue;
    }
    double delta;
    result |= ade_cell_update(h[i], h[i], up[i] != 0 ? q[up[i]] : 0.0, q[i], c, s, delta);
    change[i] = delta;
  }
  if ((result & ade_update_negative_depth) != 0) return result;
  for_each_shore_face(g, d, q, n, s, [&](int lake, int, double into_lake) {
    if (!channel) {
      ov.ov_lakes[lake].rain_volume += into_lake;
      return;
    }
    channel_state& ch = ms.channel;
    ch.lake_volume[lake] += into_lake;
    if (into_lake > 0.0)
      ch.lake_in_dv[lake] += into_lake;
    else
      ch.lake_out_dv[lake] -= into_lake;
  });
  return result;
}

// One direction of "ade-pc" over s seconds: the discharges from the depths, the predicted
// depths (lake cells keep theirs), the discharges from those, and their mean, held to the
// surface share of the current depths, into q; the outlet's predicted depth loses half its
// outflow. Returns the sweeps' result bits.
int predictor_mean(ade_route& r, const ade_direction& d, double s) {
  model_state& ms = r.ms;
  const ade_grid_view& g = r.g;
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double c = s / (g.dx * g.dx);
  double* h = ov.ov_depth.data();
  double* pred = ov.ov_pred_depth.data();
  double* mean = ov.ov_pred_flux.data();
  double* q = d.flux;
  const int* up = d.up;
  int flags = sweep(g, d, h, q);
#pragma omp parallel for schedule(static) num_threads(team_size(n))
  for (int i = 1; i <= n; ++i) {
    const int u = up[i];
    mean[i] = q[i];
    if (g.lakes == ade_lake_kind::overland && lake_at(g, i) != 0) {
      pred[i] = h[i];
      continue;
    }
    // Between two channel-lake cells nothing moves: the predictor keeps its last value there.
    if (g.lakes == ade_lake_kind::channel && lake_at(g, i) != 0 && u != 0 && lake_at(g, u) != 0)
      continue;
    pred[i] = ((u != 0 ? q[u] : 0.0) - q[i]) * c + h[i];
  }
  if (r.outlet != 0)
    pred[r.outlet] -=
        0.5 * outlet_discharge(pred[r.outlet], g.roughness[r.outlet], ms.outlet_slope, g.dx) * c;
  flags |= sweep(g, d, pred, q);
  team_for(team_size(n), 1, n, [&](int i) { q[i] = (mean[i] + q[i]) * 0.5; });
  // The mean of two held discharges may exceed the share of the current surfaces.
  flags |= ade_hold_to_surface_share(g, d.next, d.x_faces ? g.open_x : g.open_y, h, q, s);
  return flags;
}

// One sub-step of s seconds, both directions in the order of dirs: "ade" sweeps and updates,
// "ade-pc" predicts, averages and corrects; next to lakes the lake cells keep their depth and
// their shores are booked. `fresh`: the first sub-step of a pass (the face volumes start from
// it); `keep_start`: row by row, the step's very first sub-step keeps the start depths; `last`: the
// step's last sub-step (it leaves the depth changes, and away from lakes the step's mean
// discharges). Drains the outlet into outlet_volume. Returns the result bits.
int take_substep(ade_route& r, double s, bool fresh, bool keep_start, bool last, double dt,
                 double& outlet_before, double& outlet_volume) {
  model_state& ms = r.ms;
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double dx = ms.gridsize;
  double* h = ov.ov_depth.data();
  double* change = ov.ov_depth_change.data();
  const int outlet = r.outlet;
  r.g.step = s;
  int flags = 0;
  if (r.by_rows) {
    const double mean_dt = last && !r.lakes ? dt : 0.0;
    flags = rows_substep(r.g, r.dirs, ov.ade_memory.row_first.data(), ms.rows, n, h,
                         last ? change : nullptr,
                         keep_start ? ov.ade_memory.start_depth.data() : nullptr, s, fresh, outlet,
                         outlet_before, mean_dt);
    if (flags & ade_update_negative_depth) return flags;
    if (outlet != 0) outlet_before = h[outlet];
  } else {
    for (int k = 0; k < 2; ++k) {
      const ade_direction& d = r.dirs[k];
      if (r.scheme == 2)
        flags |= sweep(r.g, d, h, d.flux);
      else
        flags |= predictor_mean(r, d, s);
      if (r.lakes) {
        flags |= apply_next_to_lakes(r, d, d.flux, s);
      } else {
        double* last_change = k == 1 && last ? change : nullptr;
        flags |= ade_substep_update(n, h, last_change, d.flux, d.up, dx, s, d.volume, fresh,
                                    r.scheme == 2 ? outlet : 0, outlet_before);
      }
      if (flags & ade_update_negative_depth) return flags;
      if (outlet != 0 && r.scheme == 3) {
        // "ade-pc" drains half the outlet's outflow after each direction.
        const double q =
            0.5 * outlet_discharge(h[outlet], r.g.roughness[outlet], ms.outlet_slope, dx);
        outlet_volume += drain_outlet(h[outlet], q * s, dx);
      }
      if (outlet != 0) outlet_before = h[outlet];
    }
  }
  if (outlet != 0 && r.scheme == 2) {
    const double q = outlet_discharge(h[outlet], r.g.roughness[outlet], ms.outlet_slope, dx);
    outlet_volume += drain_outlet(h[outlet], q * s, dx);
  }
  return flags;
}

// Sets aside (restore = false) or brings back (restore = true) the lakes' books of the step, so
// that a restarted step books only its own last pass.
void keep_lake_books(ade_route& r, bool restore) {
  model_state& ms = r.ms;
  overland_state& ov = ms.overland;
  const int lakes = r.g.lake_count;
  if (r.g.lakes == ade_lake_kind::overland) {
    double* kept = ov.ade_memory.lake_books.data();
    for (int l = 1; l <= lakes; ++l) {
      if (restore)
        ov.ov_lakes[l].rain_volume = kept[l];
      else
        kept[l] = ov.ov_lakes[l].rain_volume;
    }
  } else if (r.g.lakes == ade_lake_kind::channel) {
    channel_state& ch = ms.channel;
    explicit_lake_copy& kept = ov.ovx_saved_lake_state;
    for (int l = 1; l <= lakes; ++l) {
      if (restore) {
        ch.lake_volume[l] = kept.volume[l];
        ch.lake_in_dv[l] = kept.in_dv[l];
        ch.lake_out_dv[l] = kept.out_dv[l];
      } else {
        kept.volume[l] = ch.lake_volume[l];
        kept.in_dv[l] = ch.lake_in_dv[l];
        kept.out_dv[l] = ch.lake_out_dv[l];
      }
    }
  }
}

// Both ADE schemes, on the plain grid and next to lakes: the step in sub-steps, restarted from
// its start depths (and lake books) with half the sub-step whenever a sweep leaves a negative
// depth. A sub-step that changed a cell by over half its depth, or whose faces had to be held to
// their share of a water-surface difference that matters, halves the next one: the sub-step
// then follows the scheme's stability bounds (the diffusion bound where flow gathers lies well
// below what the depth changes show). A sweep judges each cell's change against its depth
// before the sweep, which is its current depth everywhere but at the outlet of "ade" after its
// drain (kept aside). Away from lakes the face discharges left are the step's means, each face's
// volume over dt.
double route_substeps(ade_route& r, double dt) {
  model_state& ms = r.ms;
  overland_state& ov = ms.overland;
  ade_scheme_memory& mem = ov.ade_memory;
  const int n = ms.cell_count;
  double* h = ov.ov_depth.data();
  double* start = mem.start_depth.data();

  ++mem.calls;
  double sub = ade_first_sub(mem.calls, dt, mem.last_sub, mem.failed);

  // The depths at the step's start, kept for a restart: row by row, the first sub-step keeps
  // each cell's depth as its first update reads it.
  if (!r.by_rows) {
    team_for(team_size(n), 1, n, [&](int c) { start[c] = h[c]; });
  }
  if (r.lakes) keep_lake_books(r, false);

  double outlet_volume = 0.0;
  bool restart = true;
  bool first_pass = true;
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
      team_for(team_size(n), 1, n, [&](int c) { h[c] = start[c]; });
      if (r.lakes) keep_lake_books(r, true);
    }
    double remaining = dt;
    outlet_volume = 0.0;
    bool fresh = true;
    double outlet_before = r.outlet != 0 ? h[r.outlet] : 0.0;
    while (remaining > 1e-16) {
      if (mem.failed == 1) sub *= 0.5;
      mem.last_sub = sub;
      ade_take_sub(sub, remaining);
      mem.failed = 0;
      const int flags = take_substep(r, sub, fresh, fresh && first_pass, remaining <= 1e-16, dt,
                                     outlet_before, outlet_volume);
      if (flags & ade_update_negative_depth) {
        sub *= 0.5;
        restart = true;
        break;
      }
      if (flags & ade_update_large_change) mem.failed = 1;
      // Faces held to their share call for a shorter sub-step, down to the shortest at which a
      // sub-step may still be judged; below it the hold alone keeps the sweeps monotone.
      if ((flags & ade_face_cut) && sub * 0.5 >= ade_shortest_held_sub) mem.failed = 1;
      fresh = false;
    }
    first_pass = false;
  }
  if (!r.lakes && !r.by_rows) {
    // The mean face discharges of the step from the volumes of its sub-steps.
    double* fx = ov.ov_flux_x.data();
    double* fy = ov.ov_flux_y.data();
    const double* vx = ov.ov_vol_x.data();
    const double* vy = ov.ov_vol_y.data();
    team_for(team_size(n), 1, n, [&](int c) {
      fx[c] = vx[c] / dt;
      fy[c] = vy[c] / dt;
    });
  }
  return outlet_volume;
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

  ade_route r{ms, g, dirs, scheme, outlet, false, false};
  explicit_lake_copy& before = ov.ovx_saved_lake_state;
  if (channel_lakes > 0) {
    r.g.lakes = ade_lake_kind::channel;
    r.g.lake_of_cell = ms.channel.lake_mask.data();
    r.g.lake_surface = ms.channel.lake_elev.data();
    r.g.lake_count = channel_lakes;
    r.outlet = 0;  // next to channel lakes the outlet cell is not drained
    // The lakes' shore work arrays and the books kept for a restart are held with the explicit
    // scheme's copy of the lakes.
    if ((before.enter.count() < channel_lakes || before.volume.count() < channel_lakes) &&
        !explicit_channel_lakes_setup(ms)) {
      stop_now();
      return 0.0;
    }
  } else if (lakes) {
    for (int l = 1; l <= ov.olake_count; ++l) ov.ade_lake_surface[l] = ov.ov_lakes[l].surface_elev;
    r.g.lakes = ade_lake_kind::overland;
    r.g.lake_of_cell = ov.oland_lake_new.data();
    r.g.lake_surface = ov.ade_lake_surface.data();
    r.g.lake_count = ov.olake_count;
  }
  r.lakes = r.g.lakes != ade_lake_kind::none;
  // "ade" without wetlands and lakes takes its sub-steps row by row where the grid's numbering
  // allows.
  r.by_rows = scheme == 2 && g.wetland == nullptr && !r.lakes && rows_usable(ms);
  const double outlet_volume = route_substeps(r, dt);
  if (outlet_volume < 0.0) return -1.0;
  // The water that crossed the channel lakes' shores over the step, from their books at its start.
  if (channel_lakes > 0)
    book_overland_lake_exchange(ms, channel_lakes, before.in_dv.data(), before.out_dv.data());

  if (ov.dike_map_on && ov.lowspot_on && ov.num_lowspots > 0)
    ov_embankment_flow(dt, ms.gridsize, ms.index_map, ms.rows, ms.cols, ms.cell_elev, ov.ov_depth,
                       ov.num_lowspots, ov.lowspots, ov.overland_lake_map, ov.oland_lake_new,
                       ov.ov_lakes);
  return outlet_volume;
}
