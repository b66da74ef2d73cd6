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
#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "overland/connectivity.h"
#include "overland/embankments.h"
#include "overland/explicit_channel_lakes.h"
#include "overland/explicit_lake_faces.h"
#include "overland/explicit_overland_kernels.h"

namespace {

constexpr double five_thirds = 5.0 / 3.0;

double sign_of(double s) {
  return s > 0.0 ? 1.0 : (s < 0.0 ? -1.0 : 0.0);
}

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

// The wetland faces of the pass: their discharges into the fluxes and the failing ones added
// to fails[0] (right faces) and fails[1] (lower faces).
void wetland_faces(const ov_kernel_view& v, const wetland_view& w, const face_stencil& st,
                   double tau, int fails[2]) {
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
      const double q = ov_wetland_face_discharge(s, v.depth[c], v.depth[k], v.retention[k], *rec,
                                                 w.wetland[k] != 0, v.roughness[c], v.roughness[k]);
      (d == 0 ? v.flux_x : v.flux_y)[c] = q;
      if (ov_face_fails(q, tau, v.dx, v.depth[c])) ++fails[d];
    }
  }
}

// Runs a kernel on every worker's share of cells 1..n (in parallel from parallel_min_cells
// cells on) and adds up the failing faces it reports. Returns the number of workers.
template <class Kernel>
int on_shares(const face_stencil& st, int n, int fails[2], Kernel kernel) {
  int fx = 0, fy = 0;
  int workers = 1;
#pragma omp parallel if (n >= parallel_min_cells) reduction(+ : fx, fy)
  {
    int lo = 1, hi = 0;
    if (omp_get_thread_num() == 0) workers = omp_get_num_threads();
    worker_share(n, omp_get_thread_num(), omp_get_num_threads(), lo, hi);
    if (lo <= hi) {
      int f[2] = {0, 0};
      kernel(face_run_of(st, lo), lo, hi, f);
      fx += f[0];
      fy += f[1];
    }
  }
  fails[0] = fx;
  fails[1] = fy;
  return workers;
}

// The sub-step test of a plain face as the kernels make it: a face that carried nothing
// cannot fail (its owner holds at least its retention depth).
bool plain_face_fails(double q, double tau, double dx, double h) {
  const double moved = q * tau / dx;
  return std::fabs(moved) >= 0.06 || (q != 0.0 && h + moved < -0.0001);
}

// Discharge of a plain face (0 when closed, when the owner is below its retention depth or
// when the upwind cell holds nothing above its own).
double plain_face(double h, double hk, double s0, double p, double pk, double n, bool open,
                  double dx) {
  if (!open) return 0.0;
  const double s = ov_friction_slope(s0, h, hk, dx);
  const double upwind = s >= 0.0 ? p : pk;
  if (!(upwind > 0.0) || !(p >= 0.0)) return 0.0;
  return std::copysign(std::sqrt(std::fabs(s)), s) / n * upwind;
}

// The x or y face pass's line for a failing face.
void print_split_line(const char* direction, double q, double tau, double dx, double h) {
  const double moved = q * tau / dx;
  printf("need to split...(%s) curr_du=%lf, dhh=%lf, h[j]+dhh=%lf\n", direction, std::fabs(moved),
         moved, h + moved);
}

}  // namespace

double ov_friction_slope(double s0, double h_i, double h_k, double dx) {
  // A level water surface drives no flow: still water on a flat bed stays still instead of
  // creeping towards the right and lower faces and starting the explicit scheme's overshoot.
  if (s0 - (h_k - h_i) / dx == 0.0) return 0.0;
  double s = s0 - (h_k - h_i) / dx + 1e-30;
  if (std::fabs(s) < 1e-20) s = 1e-20;
  return s;
}

double ov_flow_power(double h, double r) {
  const double above = h - r;
  return above > 0.0 ? std::pow(above, five_thirds) : 0.0;
}

double ov_face_discharge(double s0, double h_i, double h_k, double r_i, double r_k, double n_i,
                         double dx) {
  if (r_i > h_i) return 0.0;
  const double s = ov_friction_slope(s0, h_i, h_k, dx);
  const double power = s >= 0.0 ? ov_flow_power(h_i, r_i) : ov_flow_power(h_k, r_k);
  return power > 0.0 ? sign_of(s) * std::sqrt(std::fabs(s)) / n_i * power : 0.0;
}

double ov_wetland_face_discharge(double S, double h_i, double h_k, double r_k,
                                 const wetland_record& w, bool k_is_wetland, double n_i,
                                 double n_k) {
  const double d_v = w.slot[1];  // m: vegetated layer
  const double k_v = w.slot[2];  // 1/s: conductance of the vegetated layer
  const double d_t = w.slot[3];  // m: transition depth above the layer
  const double k_u = w.slot[4];  // 1/s: conductance above the layer
  const double n_w = w.slot[6];  // Manning n of the wetland
  const bool downhill = S >= 0.0;
  const double base = downhill ? h_i - d_v : (k_is_wetland ? h_k - d_v : h_k - r_k);
  if (base <= 0.0) {
    if (downhill) return h_i * S * k_v;
    return k_is_wetland ? h_k * S * k_v : 0.0;
  }
  if (k_is_wetland) {
    const double h2 = (downhill ? h_i : h_k) - d_v;
    const double linear = h2 * S * k_u;
    const double manning = sign_of(S) * std::sqrt(std::fabs(S)) / n_w * std::pow(h2, five_thirds);
    if (h2 > d_t) return S * d_v * k_v + manning;
    return S * d_v * k_v + (1.0 - h2 / d_t) * linear + manning * h2 / d_t;
  }
  const double power = std::pow(base, five_thirds);
  return downhill ? power * std::sqrt(S) / n_k : -std::sqrt(std::fabs(S)) / n_i * power;
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
                           int fails[2]) {
  int fx = 0, fy = 0;
  for (int r = first_run; r <= v.run_count && v.runs[r].first <= hi; ++r) {
    const face_run run = v.runs[r];
    const int a = run.first > lo ? run.first : lo;
    const int b = run.last < hi ? run.last : hi;
    for (int c = a; c <= b; ++c) {
      const double h = v.depth[c], p = v.power[c], n = v.roughness[c];
      const unsigned char bits = v.plain_faces[c];
      const bool open_x = (bits & stencil_right_open) != 0;
      const bool open_y = (bits & stencil_lower_open) != 0 && run.below != 0;
      const double qx =
          open_x ? plain_face(h, v.depth[c + 1], v.slope_x[c], p, v.power[c + 1], n, true, v.dx)
                 : 0.0;
      const double qy = open_y ? plain_face(h, v.depth[c + run.below], v.slope_y[c], p,
                                            v.power[c + run.below], n, true, v.dx)
                               : 0.0;
      v.flux_x[c] = qx;
      v.flux_y[c] = qy;
      if (plain_face_fails(qx, tau, v.dx, h)) ++fx;
      if (plain_face_fails(qy, tau, v.dx, h)) ++fy;
    }
  }
  fails[0] = fx;
  fails[1] = fy;
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

bool explicit_cut_substep(model_state& ms, double& tau, int& reductions, int& stop) {
  if (tau <= explicit_smallest_substep) {
    stop = 1;
    return false;
  }
  if (reductions < explicit_most_reductions) {
    tau /= 3.0;
    if (!ms.quiet) printf(" *Changing overland time step to %4.2lf seconds...\n", tau);
    explicit_scheme_memory& mem = ms.overland.explicit_memory;
    mem.reduced_calls_left = 4;
    mem.reduced_step = tau;
    ++reductions;
    return true;
  }
  stop = 1;
  if (!ms.quiet) printf(" *Time step to small to divide, continuing with current time step\n");
  return false;
}

double ov_route_explicit(model_state& ms, double dt) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double dx = ms.gridsize;
  if (n < 1 || !(dt > 0.0)) return 0.0;
  // Overland lakes without channel lakes: one pass of the whole step, shore flow to the lakes.
  if (ov.overland_lake_map == 1 && !ms.perennial_lakes) return ov_route_explicit_lakes(ms, dt);
  // Channel lakes (or a lake map value the overland lakes do not take): sub-steps with shore
  // flow to the channel lakes.
  if (ms.perennial_lakes || ov.overland_lake_map != 0)
    return ov_route_explicit_channel_lakes(ms, dt);
  raw_array1d<double>* needed[] = {&ov.ov_depth,       &ov.ov_flux_x,     &ov.ov_flux_y,
                                   &ov.ov_saved_depth, &ov.ov_flow_power, &ov.ov_retention,
                                   &ov.ov_roughness,   &ov.ov_slope_x,    &ov.ov_slope_y};
  for (raw_array1d<double>* a : needed) {
    if (a->empty() || a->count() < n) {
      stop_with_message("Error: the overland routing arrays of %d cells were not set up.\n", n);
      return 0.0;
    }
  }
  face_stencil& st = ov.ov_stencil;
  if (st.cell_count != n && !overland_stencil_setup(ms)) return 0.0;

  double* h = ov.ov_depth.data();
  double* saved = ov.ov_saved_depth.data();
  double* fx = ov.ov_flux_x.data();
  double* fy = ov.ov_flux_y.data();

  ov_kernel_view v;
  v.cell_count = n;
  v.dx = dx;
  v.depth = h;
  v.saved = saved;
  v.retention = ov.ov_retention.data();
  v.roughness = ov.ov_roughness.data();
  v.slope_x = ov.ov_slope_x.data();
  v.slope_y = ov.ov_slope_y.data();
  v.plain_faces = st.plain_faces.data();
  v.runs = st.runs.data();
  v.run_count = st.run_count;
  v.power = ov.ov_flow_power.data();
  v.flux_x = fx;
  v.flux_y = fy;

  wetland_view w;
  w.rightcon = ov.rightcon.data();
  w.belowcon = ov.belowcon.data();
  w.open_x = ov.ov_face_open_x.data();
  w.open_y = ov.ov_face_open_y.data();
  if (ms.input.wetland_table_on && ov.wetland_mask.count() >= n) {
    w.wetland = ov.wetland_mask.data();
    w.wetlands = ov.wetlands.data();
    w.count = ov.wetlands.count() < ov.wetland_count ? ov.wetlands.count() : ov.wetland_count;
  }

  const bool wide = st.wide_vectors != 0;
  // The largest offset to a cell below: the faces a share leaves for after its last update.
  int largest_below = 0;
  for (int r = 1; r <= st.run_count; ++r)
    if (st.runs[r].below > largest_below) largest_below = st.runs[r].below;
  // The depth update of every cell: h from `source` and with power set the cells' powers for
  // the next sub-step; a flux_scale other than 0 leaves the discharges multiplied by it.
  auto update_depths = [&](ov_depth_source source, bool power, double per_q, double flux_scale) {
    int unused[2];
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

  explicit_scheme_memory& mem = ov.explicit_memory;
  double tau = explicit_memory_next_call(ms, dt);
  int stop = 0;
  int reductions = 0;

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
    double elapsed = 0.0;
    bool restart = false;
    while (!complete && !restart) {
      // Both passes read the depths at the start of the sub-step; the decisions below take
      // them in sweep order.
      int fails[2] = {0, 0};
      on_shares(st, n, fails, [&](int run, int lo, int hi, int* f) {
        if (wide)
          ov_plain_faces_wide(v, run, lo, hi, tau, f, true);
        else
          ov_plain_faces_scalar(v, run, lo, hi, tau, f);
      });
      wetland_faces(v, w, st, tau, fails);

      for (int d : order) {
        if (stop != 0 || fails[d] == 0) continue;
        const char* direction = d == 0 ? "x-dir" : "y-dir";
        const double* flux = d == 0 ? fx : fy;
        // A sub-step too short to cut: the first failing face stops the testing.
        const bool first_only = tau <= explicit_smallest_substep;
        for (int c = 1; c <= n; ++c) {
          if (!face_computed(v, w, c, d) || !ov_face_fails(flux[c], tau, dx, h[c])) continue;
          print_split_line(direction, flux[c], tau, dx, h[c]);
          if (first_only) break;
        }
        restart = explicit_cut_substep(ms, tau, reductions, stop);
        if (restart) break;
      }
      if (restart) break;

      // Each cell gathers the water of its own four faces; after the last sub-step no power is
      // needed until the next step, and the discharges are turned into m3/s.
      elapsed += tau;
      complete = std::fabs(elapsed - dt) < 0.0001 || elapsed > dt;
      const bool save = !complete && !start_saved;
      update_depths(save ? ov_depth_source::saved_and_gathered : ov_depth_source::gathered,
                    !complete && !wide, tau / dx, complete ? dx : 0.0);
      start_saved = start_saved || save;
      depths_moved = true;
    }
  }

  if (ov.dike_map_on && ov.lowspot_on && ov.num_lowspots > 0)
    ov_embankment_flow(dt, dx, ms.index_map, ms.rows, ms.cols, ms.cell_elev, ov.ov_depth,
                       ov.num_lowspots, ov.lowspots, ov.overland_lake_map, ov.oland_lake_new,
                       ov.ov_lakes);

  double outlet_volume = 0.0;
  if (ms.channel.chan_explic == 0 && ms.outlet_cell >= 1 && ms.outlet_cell <= n) {
    const int o = ms.outlet_cell;
    outlet_volume = ov_outlet_drain(h[o], ms.outlet_slope, v.roughness[o], dx, dt);
  }

  return outlet_volume;
}
