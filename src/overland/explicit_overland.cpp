// Explicit overland routing, called by the overland flow step once per routed overland step.
// Each face's discharge is computed once by the cell that owns the face (its right and its
// lower face); each cell then gathers its own depth change from its four faces, so no worker
// writes another's cell and the depths are the same on any thread count. The sub-step messages
// are printed after each pass on the main thread, in cell order.
#include "overland/explicit_overland.h"

#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "overland/embankments.h"

namespace {

constexpr double five_thirds = 5.0 / 3.0;
constexpr double smallest_step = 0.005;  // s: a sub-step this short is not cut further
constexpr int most_reductions = 5;       // cuts of the sub-step in one overland step

double sign_of(double s) {
  return s > 0.0 ? 1.0 : (s < 0.0 ? -1.0 : 0.0);
}

// The wetland record of cell c in the view, or none.
const wetland_record* wetland_at(const ov_face_view& v, int c) {
  if (v.wetland == nullptr) return nullptr;
  const int w = v.wetland[c];
  return w >= 1 && w <= v.wetland_count ? &v.wetlands[w] : nullptr;
}

// The discharge of cell c's face (m2/s), and whether it was computed at all: a closed face and
// a plain cell below its retention depth compute nothing.
bool face_discharge_at(const ov_face_view& v, int c, double& q) {
  q = 0.0;
  if (!v.open[c]) return false;
  const int k = v.next[c];
  const double hi = v.depth[c], hk = v.depth[k];
  const wetland_record* w = wetland_at(v, c);
  if (w == nullptr) {
    if (v.retention[c] > hi) return false;
    const double s = ov_friction_slope(v.slope[c], hi, hk, v.dx);
    const double power = s >= 0.0 ? v.power[c] : v.power[k];
    if (power > 0.0) q = sign_of(s) * std::sqrt(std::fabs(s)) / v.roughness[c] * power;
    return true;
  }
  const double s = ov_friction_slope(v.slope[c], hi, hk, v.dx);
  q = ov_wetland_face_discharge(s, hi, hk, v.retention[k], *w, v.wetland[k] != 0, v.roughness[c],
                                v.roughness[k]);
  return true;
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

bool ov_face_pass_fails_at(const ov_face_view& v, int c, double tau) {
  double q = 0.0;
  if (!face_discharge_at(v, c, q)) return false;
  return ov_face_fails(q, tau, v.dx, v.depth[c]);
}

int ov_face_pass(const ov_face_view& v, double tau, bool test) {
  int fails = 0;
#pragma omp parallel for schedule(static) reduction(+ : fails) if (v.cell_count >= parallel_min_cells)
  for (int c = 1; c <= v.cell_count; ++c) {
    double q = 0.0;
    const bool computed = face_discharge_at(v, c, q);
    if (v.open[c]) v.flux[c] = q;
    if (test && computed && ov_face_fails(q, tau, v.dx, v.depth[c])) ++fails;
  }
  return fails;
}

double ov_route_explicit(model_state& ms, double dt) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double dx = ms.gridsize;
  if (n < 1 || !(dt > 0.0)) return 0.0;
  raw_array1d<double>* needed[] = {&ov.ov_depth,       &ov.ov_flux_x,     &ov.ov_flux_y,
                                   &ov.ov_saved_depth, &ov.ov_flow_power, &ov.ov_retention,
                                   &ov.ov_roughness,   &ov.ov_slope_x,    &ov.ov_slope_y};
  for (raw_array1d<double>* a : needed) {
    if (a->empty() || a->count() < n) {
      stop_with_message("Error: the overland routing arrays of %d cells were not set up.\n", n);
      return 0.0;
    }
  }

  double* h = ov.ov_depth.data();
  double* saved = ov.ov_saved_depth.data();
  double* fx = ov.ov_flux_x.data();
  double* fy = ov.ov_flux_y.data();
  double* power = ov.ov_flow_power.data();
  const int* left = ov.leftcon.data();
  const int* above = ov.abovecon.data();
  const bool wetlands = ms.input.wetland_table_on && ov.wetland_mask.count() >= n;

  ov_face_view vx;
  vx.cell_count = n;
  vx.dx = dx;
  vx.depth = h;
  vx.retention = ov.ov_retention.data();
  vx.roughness = ov.ov_roughness.data();
  vx.power = power;
  if (wetlands) {
    vx.wetland = ov.wetland_mask.data();
    vx.wetlands = ov.wetlands.data();
    vx.wetland_count =
        ov.wetlands.count() < ov.wetland_count ? ov.wetlands.count() : ov.wetland_count;
  }
  ov_face_view vy = vx;
  vx.slope = ov.ov_slope_x.data();
  vx.next = ov.rightcon.data();
  vx.open = ov.ov_face_open_x.data();
  vx.flux = fx;
  vy.slope = ov.ov_slope_y.data();
  vy.next = ov.belowcon.data();
  vy.open = ov.ov_face_open_y.data();
  vy.flux = fy;

  explicit_scheme_memory& mem = ov.explicit_memory;
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
  int stop = 0;
  int reductions = 0;

#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
  for (int c = 1; c <= n; ++c) {
    saved[c] = h[c];
    fx[c] = 0.0;
    fy[c] = 0.0;
  }

  const ov_face_view* passes[2] = {mem.sweep_flag ? &vy : &vx, mem.sweep_flag ? &vx : &vy};
  bool complete = false;
  while (!complete) {
    // One attempt at the whole step from its start.
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
    for (int c = 1; c <= n; ++c) h[c] = saved[c];
    double elapsed = 0.0;
    bool restart = false;
    while (!complete && !restart) {
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
      for (int c = 1; c <= n; ++c) power[c] = ov_flow_power(h[c], vx.retention[c]);

      for (const ov_face_view* pass : passes) {
        const int fails = ov_face_pass(*pass, tau, stop == 0);
        if (fails == 0) continue;
        const char* direction = pass == &vx ? "x-dir" : "y-dir";
        // A sub-step too short to cut: the first failing face stops the testing.
        const bool first_only = tau <= smallest_step;
        for (int c = 1; c <= n; ++c) {
          if (!ov_face_pass_fails_at(*pass, c, tau)) continue;
          print_split_line(direction, pass->flux[c], tau, dx, h[c]);
          if (first_only) break;
        }
        if (first_only) {
          stop = 1;
        } else if (reductions < most_reductions) {
          tau /= 3.0;
          if (!ms.quiet) printf(" *Changing overland time step to %4.2lf seconds...\n", tau);
          mem.reduced_calls_left = 4;
          mem.reduced_step = tau;
          ++reductions;
          restart = true;
          break;
        } else {
          stop = 1;
          if (!ms.quiet)
            printf(" *Time step to small to divide, continuing with current time step\n");
        }
      }
      if (restart) break;

      // Each cell gathers the water of its own four faces.
      const double per_q = tau / dx;
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
      for (int c = 1; c <= n; ++c) {
        double change = -fx[c] * per_q - fy[c] * per_q;
        if (left[c] != 0) change += fx[left[c]] * per_q;
        if (above[c] != 0) change += fy[above[c]] * per_q;
        h[c] += change;
      }
      elapsed += tau;
      complete = std::fabs(elapsed - dt) < 0.0001 || elapsed > dt;
    }
  }

  if (ov.dike_map_on && ov.lowspot_on && ov.num_lowspots > 0)
    ov_embankment_flow(dt, dx, ms.index_map, ms.rows, ms.cols, ms.cell_elev, ov.ov_depth,
                       ov.num_lowspots, ov.lowspots, ov.overland_lake_map, ov.lake_num,
                       ov.ov_lakes);

  double outlet_volume = 0.0;
  if (ms.channel.chan_explic == 0 && ms.outlet_cell >= 1 && ms.outlet_cell <= n) {
    const int o = ms.outlet_cell;
    outlet_volume = ov_outlet_drain(h[o], ms.outlet_slope, vx.roughness[o], dx, dt);
  }

#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
  for (int c = 1; c <= n; ++c) {
    fx[c] *= dx;
    fy[c] *= dx;
  }
  return outlet_volume;
}
