// Explicit overland routing, called by the overland flow step once per routed overland step.
// Each face's discharge is computed once by the cell that owns the face (its right and its
// lower face); each cell then gathers its own depth change from its four faces, so no worker
// writes another's cell and the depths are the same on any thread count. The sub-step messages
// are printed after each pass on the main thread, in cell order.
#include "overland/explicit_overland.h"

#include <omp.h>

#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/lane_math.h"
#include "framework/core/parallel_team.h"
#include "framework/core/process_info.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "overland/connectivity.h"
#include "overland/embankments.h"
#include "overland/explicit_channel_lakes.h"
#include "overland/explicit_lake_faces.h"
#include "overland/explicit_overland_kernels.h"
#include "overland/face_law.h"

namespace {

constexpr double five_thirds = 5.0 / 3.0;

// The cells lo..hi that worker t of `workers` takes: blocks of 8 cells shared out evenly, so
// that a vector kernel's chunks start on the same cells whatever the thread count.
void worker_share(int n, int t, int workers, int& lo, int& hi) {
  const long blocks = (static_cast<long>(n) + 7) / 8;
  const long first = blocks * t / workers;
  const long end = blocks * (t + 1) / workers;
  lo = static_cast<int>(first * 8 + 1);
  hi = static_cast<int>(end * 8 < n ? end * 8 : n);
}

// What the wetland faces and the split lines need beside the kernels' view.
struct wetland_view {
  const int* wetland = nullptr;              // wetland number per cell, or none when off
  const wetland_record* wetlands = nullptr;  // per wetland number 1..count
  int count = 0;
  const int* rightcon = nullptr;
  const int* belowcon = nullptr;
  const unsigned char* open_x = nullptr;
  const unsigned char* open_y = nullptr;
};

// The wetland record of cell c, or none.
const wetland_record* wetland_at(const wetland_view& w, int c) {
  if (w.wetland == nullptr) return nullptr;
  const int id = w.wetland[c];
  return id >= 1 && id <= w.count ? &w.wetlands[id] : nullptr;
}

// Whether the face of cell c in direction d (0 right, 1 lower) was computed in the last face
// pass: an open plain face whose owner is not below its retention depth, or an open face of a
// wetland cell.
bool face_computed(const ov_kernel_view& v, const wetland_view& w, int c, int d) {
  const unsigned char bit = d == 0 ? stencil_right_open : stencil_lower_open;
  if (v.plain_faces[c] & bit) return v.power[c] >= 0.0;
  const unsigned char* open = d == 0 ? w.open_x : w.open_y;
  return open[c] && wetland_at(w, c) != nullptr;
}

// The wetland faces of the pass: their discharges into the fluxes, held to the face law's cap;
// the faces failing the sub-step test added to fails[0] (right faces) and fails[1] (lower
// faces), those the cap cut across a surface difference that matters to fails[2] and fails[3].
void wetland_faces(const ov_kernel_view& v, const wetland_view& w, const face_stencil& st,
                   double tau, int fails[4]) {
  const double cap = ov_surface_share * v.dx * v.dx / tau;
  const double matters = ov_cap_failing_difference / v.dx;
  for (int i = 1; i <= st.wetland_cell_count; ++i) {
    const int c = st.wetland_cells[i];
    const wetland_record* rec = wetland_at(w, c);
    if (rec == nullptr) continue;
    for (int d = 0; d < 2; ++d) {
      const unsigned char* open = d == 0 ? w.open_x : w.open_y;
      if (!open[c]) continue;
      const int k = d == 0 ? w.rightcon[c] : w.belowcon[c];
      const double* slope = d == 0 ? v.slope_x : v.slope_y;
      const double s = ov_friction_slope(slope[c], v.depth[c], v.depth[k], v.dx);
      bool cut = false;
      const double q = ov_capped_discharge(
          ov_wetland_face_discharge(s, v.depth[c], v.depth[k], v.retention[k], *rec,
                                    w.wetland[k] != 0, v.roughness[c], v.roughness[k]),
          s, cap, matters, cut);
      (d == 0 ? v.flux_x : v.flux_y)[c] = q;
      if (ov_face_fails(q, tau, v.dx, v.depth[c])) ++fails[d];
      if (cut) ++fails[2 + d];
    }
  }
}

// Runs a kernel on every worker's share of cells 1..n (on a team of team_size(n) workers)
// and adds up the four counts of faces it reports. Returns the number of workers.
template <class Kernel>
int on_shares(const face_stencil& st, int n, int fails[4], Kernel kernel) {
  int f0 = 0, f1 = 0, f2 = 0, f3 = 0;
  int workers = 1;
  // Each worker's counts are passed in (the parameters hide the totals of the same names).
  auto share = [&](int& f0, int& f1, int& f2, int& f3) {
    int lo = 1, hi = 0;
    if (omp_get_thread_num() == 0) workers = omp_get_num_threads();
    worker_share(n, omp_get_thread_num(), omp_get_num_threads(), lo, hi);
    if (lo <= hi) {
      int f[4] = {0, 0, 0, 0};
      kernel(face_run_of(st, lo), lo, hi, f);
      f0 += f[0];
      f1 += f[1];
      f2 += f[2];
      f3 += f[3];
    }
  };
  const int team = team_size(n);
  if (team_runs_inline(team)) {
    share(f0, f1, f2, f3);
  } else {
#pragma omp parallel num_threads(team) reduction(+ : f0, f1, f2, f3)
    share(f0, f1, f2, f3);
  }
  fails[0] = f0;
  fails[1] = f1;
  fails[2] = f2;
  fails[3] = f3;
  return workers;
}

// The sub-step test of a plain face as the kernels make it: a face that carried nothing
// cannot fail (its owner holds at least its retention depth).
bool plain_face_fails(double q, double tau, double dx, double h) {
  const double moved = q * tau / dx;
  return std::fabs(moved) >= 0.06 || (q != 0.0 && h + moved < -0.0001);
}

// Discharge of a plain face from the water-surface slope t across it (0 when the owner is below
// its retention depth or when the upwind cell holds nothing above its own): the face law on the
// upwind cell's power, held to cap x |t|. `cut` is set when the cap cut it across a surface
// difference above `matters` (as a slope).
double plain_face(double h, double hk, double s0, double p, double pk, double n, double dx,
                  double cap, double matters, bool& cut) {
  const double t = s0 - (hk - h) / dx;
  const double upwind = t >= 0.0 ? p : pk;
  if (!(upwind > 0.0) || !(p >= 0.0)) return 0.0;
  return ov_capped_discharge(ov_slope_term(t) / n * upwind, t, cap, matters, cut);
}

// The x or y face pass's line for a failing face.
void print_split_line(const char* direction, double q, double tau, double dx, double h) {
  const double moved = q * tau / dx;
  printf("need to split...(%s) curr_du=%lf, dhh=%lf, h[j]+dhh=%lf\n", direction, std::fabs(moved),
         moved, h + moved);
}

}  // namespace

double ov_friction_slope(double s0, double h_i, double h_k, double dx) {
  return s0 - (h_k - h_i) / dx;
}

double ov_capped_discharge(double q, double t, double cap, double matters, bool& cut) {
  const double most = cap * std::fabs(t);
  if (!(std::fabs(q) > most)) return q;
  if (std::fabs(t) > matters) cut = true;
  return std::copysign(most, t);
}

double ov_flow_power(double h, double r) {
  const double above = h - r;
  return above > 0.0 ? lane_pow_five_thirds(above) : 0.0;
}

double ov_face_discharge(double s0, double h_i, double h_k, double r_i, double r_k, double n_i,
                         double dx) {
  if (r_i > h_i) return 0.0;
  const double s = ov_friction_slope(s0, h_i, h_k, dx);
  const double power = s >= 0.0 ? ov_flow_power(h_i, r_i) : ov_flow_power(h_k, r_k);
  return power > 0.0 ? ov_slope_term(s) / n_i * power : 0.0;
}

double ov_wetland_above_layer(double S, double h2, const wetland_record& w) {
  const double d_v = w.slot[1], k_v = w.slot[2], d_t = w.slot[3], k_u = w.slot[4];
  const double n_w = w.slot[6];
  const double seepage = S * d_v * k_v;
  const double manning = ov_slope_term(S) / n_w * std::pow(h2, five_thirds);
  if (h2 > d_t) return seepage + manning;
  return seepage + (1.0 - h2 / d_t) * (h2 * S * k_u) + manning * h2 / d_t;
}

double ov_wetland_face_discharge(double S, double h_i, double h_k, double r_k,
                                 const wetland_record& w, bool k_is_wetland, double n_i,
                                 double n_k) {
  const double d_v = w.slot[1];  // m: vegetated layer
  const double k_v = w.slot[2];  // 1/s: conductance of the vegetated layer
  const bool downhill = S >= 0.0;
  const double base = downhill ? h_i - d_v : (k_is_wetland ? h_k - d_v : h_k - r_k);
  if (base <= 0.0) {
    if (downhill) return h_i * S * k_v;
    return k_is_wetland ? h_k * S * k_v : 0.0;
  }
  if (k_is_wetland) return ov_wetland_above_layer(S, (downhill ? h_i : h_k) - d_v, w);
  const double power = std::pow(base, five_thirds);
  return downhill ? power * ov_slope_term(S) / n_k : ov_slope_term(S) / n_i * power;
}

bool ov_face_fails(double q, double tau, double dx, double h_i) {
  const double moved = q * tau / dx;
  return std::fabs(moved) >= 0.06 || h_i + moved < -0.0001;
}

double ov_outlet_drain(double& h, double slope, double n, double dx, double dt) {
  if (!(h > 0.0)) return 0.0;
  // The exponent is the single-precision 1.666667 of the outlet formula, not 5/3.
  const double q = std::pow(h, static_cast<double>(1.666667f)) * std::sqrt(slope) * dx / n;
  double lowered = q * dt / (dx * dx);
  if (lowered > h) lowered = h;
  h -= lowered;
  return lowered * dx * dx;
}

void ov_plain_faces_scalar(const ov_kernel_view& v, int first_run, int lo, int hi, double tau,
                           int fails[4]) {
  const double cap = ov_surface_share * v.dx * v.dx / tau;
  const double matters = ov_cap_failing_difference / v.dx;
  int fx = 0, fy = 0, cx = 0, cy = 0;
  for (int r = first_run; r <= v.run_count && v.runs[r].first <= hi; ++r) {
    const face_run run = v.runs[r];
    const int a = run.first > lo ? run.first : lo;
    const int b = run.last < hi ? run.last : hi;
    for (int c = a; c <= b; ++c) {
      const double h = v.depth[c], p = v.power[c], n = v.roughness[c];
      const unsigned char bits = v.plain_faces[c];
      const bool open_x = (bits & stencil_right_open) != 0;
      const bool open_y = (bits & stencil_lower_open) != 0 && run.below != 0;
      bool cut_x = false, cut_y = false;
      const double qx = open_x ? plain_face(h, v.depth[c + 1], v.slope_x[c], p, v.power[c + 1], n,
                                            v.dx, cap, matters, cut_x)
                               : 0.0;
      const double qy = open_y ? plain_face(h, v.depth[c + run.below], v.slope_y[c], p,
                                            v.power[c + run.below], n, v.dx, cap, matters, cut_y)
                               : 0.0;
      v.flux_x[c] = qx;
      v.flux_y[c] = qy;
      if (plain_face_fails(qx, tau, v.dx, h)) ++fx;
      if (plain_face_fails(qy, tau, v.dx, h)) ++fy;
      if (cut_x) ++cx;
      if (cut_y) ++cy;
    }
  }
  fails[0] = fx;
  fails[1] = fy;
  fails[2] = cx;
  fails[3] = cy;
}

void ov_depth_update_scalar(const ov_kernel_view& v, int first_run, int lo, int hi,
                            ov_depth_source source, bool power, double per_q, double flux_scale) {
  const bool gather =
      source == ov_depth_source::gathered || source == ov_depth_source::saved_and_gathered;
  const bool save = source == ov_depth_source::saved_and_gathered;
  const bool scaled = gather && flux_scale != 0.0;
  for (int r = first_run; r <= v.run_count && v.runs[r].first <= hi; ++r) {
    const face_run run = v.runs[r];
    const int a = run.first > lo ? run.first : lo;
    const int b = run.last < hi ? run.last : hi;
    for (int c = a; c <= b; ++c) {
      double h;
      if (gather) {
        double change = -v.flux_x[c] * per_q - v.flux_y[c] * per_q;
        change += v.flux_x[c - 1] * per_q;
        change += (run.above != 0 ? v.flux_y[c - run.above] : 0.0) * per_q;
        if (save) v.saved[c] = v.depth[c];
        h = v.depth[c] + change;
        if (scaled) {
          // Faces whose two cells have both read them (see ov_depth_update_wide).
          if (c > lo) v.flux_x[c - 1] *= flux_scale;
          if (run.above != 0 && c - run.above >= lo) v.flux_y[c - run.above] *= flux_scale;
          if (run.below == 0) v.flux_y[c] *= flux_scale;
        }
      } else {
        h = source == ov_depth_source::restored ? v.saved[c] : v.depth[c];
      }
      v.depth[c] = h;
      if (!power) continue;
      const double ret = v.retention[c];
      v.power[c] = ret > h ? -1.0 : ov_flow_power(h, ret);
    }
  }
}

void ov_scale_share_end(const ov_kernel_view& v, int lo, int hi, int largest_below,
                        double flux_scale) {
  if (lo > hi) return;
  v.flux_x[hi] *= flux_scale;
  // Only cells within largest_below of hi can have their neighbour below past hi.
  const int from = hi - largest_below + 1 > lo ? hi - largest_below + 1 : lo;
  int r = 1, top = v.run_count;
  while (r < top) {  // the run holding `from`
    const int mid = r + (top - r + 1) / 2;
    if (v.runs[mid].first <= from)
      r = mid;
    else
      top = mid - 1;
  }
  for (; r <= v.run_count && v.runs[r].first <= hi; ++r) {
    const face_run run = v.runs[r];
    if (run.below == 0) continue;
    const int a = run.first > from ? run.first : from;
    const int b = run.last < hi ? run.last : hi;
    for (int c = a; c <= b; ++c)
      if (c + run.below > hi) v.flux_y[c] *= flux_scale;
  }
}

double explicit_memory_next_call(model_state& ms, double dt) {
  explicit_scheme_memory& mem = ms.overland.explicit_memory;
  mem.sweep_flag = mem.sweep_flag ? 0 : 1;
  double tau = dt;
  if (mem.reduced_calls_left >= 1) {
    tau = mem.reduced_step;
    --mem.reduced_calls_left;
    mem.reset_pending = 1;
  } else if (mem.reset_pending) {
    if (!ms.quiet) printf("Resetting time step to %4.2lf for overland flow...\n", dt);
    mem.reset_pending = 0;
  }
  return tau;
}

explicit_cut explicit_cut_substep(model_state& ms, double& tau, int& reductions,
                                  bool test_failures) {
  if (tau > explicit_smallest_substep && reductions < explicit_most_reductions) {
    tau /= 3.0;
    if (!ms.quiet) printf(" *Changing overland time step to %4.2lf seconds...\n", tau);
    explicit_scheme_memory& mem = ms.overland.explicit_memory;
    mem.reduced_calls_left = 4;
    mem.reduced_step = tau;
    ++reductions;
    return explicit_cut::redo;
  }
  if (test_failures) return explicit_cut::cannot;
  if (!ms.quiet) printf(" *Time step to small to divide, continuing with current time step\n");
  return explicit_cut::go_on;
}

void explicit_step_too_long(model_state& ms, double dt, double tau, int c, int k,
                            const char* direction, double moved, int judged, double held) {
  int row = 0, col = 0;
  for (int r = 1; r <= ms.rows && row == 0 && !ms.index_map.empty(); ++r)
    for (int j = 1; j <= ms.cols; ++j)
      if (ms.index_map[r][j] == c) {
        row = r;
        col = j;
        break;
      }
  const double minutes = (ms.current_time - ms.start_time_jday) * minutes_per_day;
  stop_with_message(
      "Error: the explicit overland scheme cannot route the overland step of %.2f s that ends "
      "%.2f minutes into the run (%04d-%02d-%02d %02d:%02d): even at its shortest sub-step, "
      "%.6f s, the %s face of cell %d (row %d, column %d) towards cell %d moves %.6f m of water "
      "in a sub-step (at most 0.06 m may cross a face in a sub-step, and cell %d holds %.6f m). "
      "The time step is too long for the scheme: run with a shorter TIMESTEP (now %.2f s).\n",
      dt, minutes, ms.cur_year, ms.cur_month, ms.cur_day, ms.cur_hour, ms.cur_minute, tau,
      direction, c, row, col, k, moved, judged, held, ms.timestep);
}

namespace {

// The kernel's view of the overland arrays and the wetland view of the faces; false (run
// stopped) when the arrays of the cells were not set up.
bool explicit_views(model_state& ms, ov_kernel_view& v, wetland_view& w) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  raw_array1d<double>* needed[] = {&ov.ov_depth,       &ov.ov_flux_x,     &ov.ov_flux_y,
                                   &ov.ov_saved_depth, &ov.ov_flow_power, &ov.ov_retention,
                                   &ov.ov_roughness,   &ov.ov_slope_x,    &ov.ov_slope_y};
  for (raw_array1d<double>* a : needed) {
    if (a->empty() || a->count() < n) {
      stop_with_message("Error: the overland routing arrays of %d cells were not set up.\n", n);
      return false;
    }
  }
  face_stencil& st = ov.ov_stencil;
  if (st.cell_count != n && !overland_stencil_setup(ms)) return false;

  v.cell_count = n;
  v.dx = ms.gridsize;
  v.depth = ov.ov_depth.data();
  v.saved = ov.ov_saved_depth.data();
  v.retention = ov.ov_retention.data();
  v.roughness = ov.ov_roughness.data();
  v.slope_x = ov.ov_slope_x.data();
  v.slope_y = ov.ov_slope_y.data();
  v.plain_faces = st.plain_faces.data();
  v.runs = st.runs.data();
  v.run_count = st.run_count;
  v.power = ov.ov_flow_power.data();
  v.flux_x = ov.ov_flux_x.data();
  v.flux_y = ov.ov_flux_y.data();

  w.rightcon = ov.rightcon.data();
  w.belowcon = ov.belowcon.data();
  w.open_x = ov.ov_face_open_x.data();
  w.open_y = ov.ov_face_open_y.data();
  if (ms.input.wetland_table_on && ov.wetland_mask.count() >= n) {
    w.wetland = ov.wetland_mask.data();
    w.wetlands = ov.wetlands.data();
    w.count = ov.wetlands.count() < ov.wetland_count ? ov.wetlands.count() : ov.wetland_count;
  }
  return true;
}

// Routes the whole step of dt seconds in sub-steps on the views, cutting the sub-step where
// faces fail; false once the run was stopped on a step that cannot be routed.
bool route_explicit_substeps(model_state& ms, double dt, const ov_kernel_view& v,
                             const wetland_view& w) {
  const face_stencil& st = ms.overland.ov_stencil;
  const int n = v.cell_count;
  const double dx = v.dx;
  double* h = v.depth;
  double* fx = v.flux_x;
  double* fy = v.flux_y;
  const bool wide = st.wide_vectors != 0;
  // The largest offset to a cell below: the faces a share leaves for after its last update.
  int largest_below = 0;
  for (int r = 1; r <= st.run_count; ++r)
    if (st.runs[r].below > largest_below) largest_below = st.runs[r].below;
  // The depth update of every cell: h from `source` and with power set the cells' powers for
  // the next sub-step; a flux_scale other than 0 leaves the discharges multiplied by it.
  auto update_depths = [&](ov_depth_source source, bool power, double per_q, double flux_scale) {
    int unused[4];
    const int workers = on_shares(st, n, unused, [&](int run, int lo, int hi, int*) {
      if (wide)
        ov_depth_update_wide(v, run, lo, hi, source, power, per_q, flux_scale);
      else
        ov_depth_update_scalar(v, run, lo, hi, source, power, per_q, flux_scale);
    });
    if (flux_scale == 0.0) return;
    for (int t = 0; t < workers; ++t) {
      int lo = 1, hi = 0;
      worker_share(n, t, workers, lo, hi);
      ov_scale_share_end(v, lo, hi, largest_below, flux_scale);
    }
  };
  // The split lines of the failing faces of direction d, in cell order.
  auto print_failing = [&](double tau, int d) {
    const char* direction = d == 0 ? "x-dir" : "y-dir";
    const double* flux = d == 0 ? fx : fy;
    for (int c = 1; c <= n; ++c)
      if (face_computed(v, w, c, d) && ov_face_fails(flux[c], tau, dx, h[c]))
        print_split_line(direction, flux[c], tau, dx, h[c]);
  };
  // Stops the run naming the first failing face of direction d in cell order.
  auto name_fault = [&](double tau, int d) {
    const double* flux = d == 0 ? fx : fy;
    for (int c = 1; c <= n; ++c) {
      if (!face_computed(v, w, c, d) || !ov_face_fails(flux[c], tau, dx, h[c])) continue;
      const int k = d == 0 ? w.rightcon[c] : w.belowcon[c];
      explicit_step_too_long(ms, dt, tau, c, k, d == 0 ? "right" : "lower", flux[c] * tau / dx, c,
                             h[c]);
      break;
    }
  };

  // The water each face carries over the step, summed over the sub-steps that stand (m3), when
  // the dissolved constituents need it: the discharges left at the end are the last sub-step's.
  overland_state& ov = ms.overland;
  double* sum_x = holds(ov.ovx_mean_flux_x, n) ? ov.ovx_mean_flux_x.data() : nullptr;
  double* sum_y = holds(ov.ovx_mean_flux_y, n) ? ov.ovx_mean_flux_y.data() : nullptr;
  const bool sums = sum_x != nullptr && sum_y != nullptr;
  const int team = team_size(n);

  explicit_scheme_memory& mem = ms.overland.explicit_memory;
  double tau = explicit_memory_next_call(ms, dt);
  int reductions = 0;
  bool capped_accepted = false;

  // Cell 0 stands for the missing left neighbour of a row's first cell: it carries nothing.
  fx[0] = 0.0;
  fy[0] = 0.0;
  // The depths at the start of the step are copied aside by the first sub-step that changes
  // them and is not the last one: only then can a cut sub-step need them back.
  bool start_saved = false;
  bool depths_moved = false;

  // The passes in sweep order: 0 the right faces, 1 the lower faces.
  const int order[2] = {mem.sweep_flag ? 1 : 0, mem.sweep_flag ? 0 : 1};
  bool complete = false;
  while (!complete) {
    // One attempt at the whole step from its start. The vector face pass makes the powers
    // itself; the scalar one reads those of the depth update.
    if (depths_moved || !wide)
      update_depths(depths_moved ? ov_depth_source::restored : ov_depth_source::kept, !wide, 0.0,
                    0.0);
    depths_moved = false;
    if (sums) {
      team_for(team, 1, n, [&](int c) { sum_x[c] = sum_y[c] = 0.0; });
    }
    double elapsed = 0.0;
    bool restart = false;
    while (!complete && !restart) {
      // Both passes read the depths at the start of the sub-step; the decisions below take
      // them in sweep order.
      int fails[4] = {0, 0, 0, 0};
      on_shares(st, n, fails, [&](int run, int lo, int hi, int* f) {
        if (wide)
          ov_plain_faces_wide(v, run, lo, hi, tau, f, true);
        else
          ov_plain_faces_scalar(v, run, lo, hi, tau, f);
      });
      wetland_faces(v, w, st, tau, fails);

      const double judged_tau = tau;
      const explicit_substep verdict = explicit_judge_substep(
          ms, order, fails, tau, reductions, capped_accepted,
          [&](int d) { print_failing(judged_tau, d); }, [&](int d) { name_fault(judged_tau, d); });
      if (verdict == explicit_substep::stopped) return false;
      if (verdict == explicit_substep::redo) {
        restart = true;
        break;
      }

      // Each cell gathers the water of its own four faces; after the last sub-step no power is
      // needed until the next step, and the discharges are turned into m3/s.
      // The unit-width discharges of the sub-step, as the depth update applies them.
      if (sums) {
        const double per_face = tau * dx;
        team_for(team, 1, n, [&](int c) {
          sum_x[c] += fx[c] * per_face;
          sum_y[c] += fy[c] * per_face;
        });
      }
      elapsed += tau;
      complete = std::fabs(elapsed - dt) < 0.0001 || elapsed > dt;
      const bool save = !complete && !start_saved;
      update_depths(save ? ov_depth_source::saved_and_gathered : ov_depth_source::gathered,
                    !complete && !wide, tau / dx, complete ? dx : 0.0);
      start_saved = start_saved || save;
      depths_moved = true;
    }
  }
  if (sums) {
    team_for(team, 1, n, [&](int c) {
      sum_x[c] /= dt;
      sum_y[c] /= dt;
    });
    ov.explicit_mean_ready = 1;
  }
  return true;
}

}  // namespace

double ov_explicit_step_end(model_state& ms, double dt, bool outlet_drains) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double dx = ms.gridsize;
  if (ov.dike_map_on && ov.lowspot_on && ov.num_lowspots > 0)
    ov_embankment_flow(dt, dx, ms.index_map, ms.rows, ms.cols, ms.cell_elev, ov.ov_depth,
                       ov.num_lowspots, ov.lowspots, ov.overland_lake_map, ov.oland_lake_new,
                       ov.ov_lakes);
  if (!outlet_drains || ms.channel.chan_explic != 0 || ms.outlet_cell < 1 || ms.outlet_cell > n)
    return 0.0;
  const int o = ms.outlet_cell;
  return ov_outlet_drain(ov.ov_depth[o], ms.outlet_slope, ov.ov_roughness[o], dx, dt);
}

double ov_route_explicit(model_state& ms, double dt) {
  overland_state& ov = ms.overland;
  if (ms.cell_count < 1 || !(dt > 0.0)) return 0.0;
  // Overland lakes without channel lakes: one pass of the whole step, shore flow to the lakes.
  if (ov.overland_lake_map == 1 && !ms.perennial_lakes) return ov_route_explicit_lakes(ms, dt);
  // Channel lakes (or a lake map value the overland lakes do not take): sub-steps with shore
  // flow to the channel lakes.
  if (ms.perennial_lakes || ov.overland_lake_map != 0)
    return ov_route_explicit_channel_lakes(ms, dt);
  ov_kernel_view v;
  wetland_view w;
  if (!explicit_views(ms, v, w)) return 0.0;
  if (!route_explicit_substeps(ms, dt, v, w)) {
    if (run_error.error_fatal == 0) stop_now();
    return 0.0;
  }
  return ov_explicit_step_end(ms, dt, true);
}
