// Explicit overland routing with overland lakes, called by the explicit routing in place of its
// plain passes when the overland lake map is on and there are no channel lakes. Each sub-step
// runs a serial pass over the right faces, applied, then one over the lower faces, applied; a
// face between two lake cells carries nothing, a face across a lake's shore moves water between
// the cell and the lake's collected change of the step. The sub-steps are controlled as on a
// grid without lakes: a pass whose faces fail redoes the whole step, the cells and the lakes'
// collected changes as they stood at its start, with a third of the sub-step.
#include "overland/explicit_lake_faces.h"

#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "overland/embankments.h"
#include "overland/explicit_overland.h"
#include "overland/face_law.h"

namespace {

// Unit-width discharge of a face between two cells outside the lakes, from the water-surface
// slope S across it: the plain face (no retention cut-off on the owning cell: it may still
// receive water across its own face) or the wetland face of the owning cell.
double open_face_discharge(double S, double hi, double hk, double ri, double rk, double ni,
                           double nk, const wetland_record* wi, bool k_is_wetland) {
  // A level water surface drives no flow, as on the faces of the grid without lakes.
  if (S == 0.0) return 0.0;
  if (wi != nullptr) return ov_wetland_face_discharge(S, hi, hk, rk, *wi, k_is_wetland, ni, nk);
  return ov_face_law(S, S >= 0.0 ? hi - ri : hk - rk, ni);
}

// What one pass over the faces of one direction reads and writes.
struct lake_pass_view {
  int cell_count = 0;
  double dx = 0.0;
  double* h = nullptr;
  double* change = nullptr;
  const double* z = nullptr;
  const double* retention = nullptr;
  const double* roughness = nullptr;
  const int* lake = nullptr;  // overland lake id per cell, 0 none
  int lake_count = 0;
  lake_record* lakes = nullptr;
  const int* wetland = nullptr;  // wetland number per cell, or none when off
  const wetland_record* wetlands = nullptr;
  int wetland_count = 0;
};

int lake_at(const lake_pass_view& v, int c) {
  const int id = v.lake[c];
  return id >= 1 && id <= v.lake_count ? id : 0;
}

const wetland_record* wetland_at(const lake_pass_view& v, int c) {
  if (v.wetland == nullptr) return nullptr;
  const int w = v.wetland[c];
  return w >= 1 && w <= v.wetland_count ? &v.wetlands[w] : nullptr;
}

// The faces of one direction, their next cells, open flags and bed slopes, and where their
// discharges go.
struct face_direction {
  const int* next = nullptr;
  const unsigned char* open = nullptr;
  const double* slope = nullptr;
  double* flux = nullptr;
  const char* name = nullptr;  // "x-dir" or "y-dir"
  const char* side = nullptr;  // "right" or "lower"
};

// The cell whose depth the sub-step test judges on the face of c towards k: the owner between
// two cells outside the lakes, the shore cell across a lake's shore.
int judged_cell(const lake_pass_view& v, int c, int k) {
  return lake_at(v, c) != 0 ? k : c;
}

// The sub-step test of a face of c towards k carrying q for tau seconds: the depth moved is
// 0.06 m or more, or leaves the judged cell below -0.0001 m (between two cells outside the lakes
// the owner's depth plus the move, as on the grid without lakes; across a shore the shore
// cell's depth after the move).
bool lake_face_fails(const lake_pass_view& v, int c, int k, double q, double tau) {
  const double moved = q * tau / v.dx;
  if (lake_at(v, c) == 0 && lake_at(v, k) == 0) return ov_face_fails(q, tau, v.dx, v.h[c]);
  const double after = lake_at(v, c) != 0 ? v.h[k] + moved : v.h[c] - moved;
  return std::fabs(moved) >= 0.06 || after < -0.0001;
}

// The faces of every cell towards f.next in cell order for a sub-step of tau seconds: their
// discharges, held to the face law's cap, into f.flux and their water into the cells' changes
// and the lakes' collected changes. Counts the faces failing the sub-step test in fails[0] and
// those the cap cut across a surface difference that matters in fails[1].
void lake_face_pass(const lake_pass_view& v, const face_direction& f, double tau, int fails[2]) {
  const double per_q = tau / v.dx;
  const double area = v.dx * v.dx;
  const double cap = ov_surface_share * v.dx * v.dx / tau;
  const double matters = ov_cap_failing_difference / v.dx;
  double* h = v.h;
  double* dh = v.change;
  for (int c = 1; c <= v.cell_count; ++c) {
    f.flux[c] = 0.0;
    if (!f.open[c]) continue;
    const int k = f.next[c];
    const int lake_c = lake_at(v, c), lake_k = lake_at(v, k);
    if (lake_c != 0 && lake_k != 0) continue;
    double q = 0.0;
    bool cut = false;
    if (lake_c == 0 && lake_k == 0) {
      const wetland_record* wk = wetland_at(v, k);
      const double S = ov_friction_slope(f.slope[c], h[c], h[k], v.dx);
      q = ov_capped_discharge(
          open_face_discharge(S, h[c], h[k], v.retention[c], v.retention[k], v.roughness[c],
                              v.roughness[k], wetland_at(v, c), wk != nullptr),
          S, cap, matters, cut);
      dh[c] -= q * per_q;
      dh[k] += q * per_q;
    } else if (lake_c == 0) {
      // Into the lake on the cell's right or lower side (out of it when q is negative).
      const double W = v.lakes[lake_k].surface_elev;
      const double S = ov_lake_shore_slope(h[c] + v.z[c] - W, v.dx);
      q = ov_capped_discharge(
          ov_lake_shore_discharge(S, h[c], v.retention[c], v.roughness[c], wetland_at(v, c)), S,
          cap, matters, cut);
      dh[c] -= q * per_q;
      v.lakes[lake_k].rain_volume += q * per_q * area;
    } else {
      // Out of the lake into the cell on its right or lower side.
      const double W = v.lakes[lake_c].surface_elev;
      const double S = ov_lake_shore_slope(W - (h[k] + v.z[k]), v.dx);
      q = ov_capped_discharge(
          ov_lake_shore_discharge(S, h[k], v.retention[k], v.roughness[k], wetland_at(v, k)), S,
          cap, matters, cut);
      dh[k] += q * per_q;
      v.lakes[lake_c].rain_volume -= q * per_q * area;
    }
    f.flux[c] = q;
    if (lake_face_fails(v, c, k, q, tau)) ++fails[0];
    if (cut) ++fails[1];
  }
}

// The changes of a pass applied to the cells outside the lakes, and cleared.
void apply_changes(const lake_pass_view& v) {
  for (int c = 1; c <= v.cell_count; ++c) {
    if (lake_at(v, c) == 0) v.h[c] += v.change[c];
    v.change[c] = 0.0;
  }
}

}  // namespace

double ov_lake_shore_slope(double drop, double dx) {
  return drop / dx;
}

double ov_lake_shore_discharge(double S, double h, double r, double n, const wetland_record* w) {
  if (w == nullptr) return ov_face_law(S, h - r, n);
  const double above = h - w->slot[1];
  if (above <= 0.0) return h * S * w->slot[2];
  return ov_wetland_above_layer(S, above, *w);
}

double ov_route_explicit_lakes(model_state& ms, double dt) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double dx = ms.gridsize;
  if (n < 1 || !(dt > 0.0)) return 0.0;
  raw_array1d<double>* needed[] = {
      &ov.ov_depth,   &ov.ov_flux_x,  &ov.ov_flux_y, &ov.ov_retention,   &ov.ov_roughness,
      &ov.ov_slope_x, &ov.ov_slope_y, &ms.cell_elev, &ov.ov_saved_depth, &ov.ov_depth_change};
  bool ready = ov.oland_lake_new.count() >= n && ov.ov_face_open_x.count() >= n &&
               ov.ov_face_open_y.count() >= n && ov.rightcon.count() >= n &&
               ov.belowcon.count() >= n && ov.ov_lakes.count() >= ov.olake_count &&
               (ov.olake_count < 1 || ov.ovx_saved_olake_change.count() >= ov.olake_count);
  for (raw_array1d<double>* a : needed) ready = ready && !a->empty() && a->count() >= n;
  if (!ready) {
    stop_with_message("Error: the overland routing arrays of %d cells were not set up.\n", n);
    return 0.0;
  }

  double tau = explicit_memory_next_call(ms, dt);

  lake_pass_view v;
  v.cell_count = n;
  v.dx = dx;
  v.h = ov.ov_depth.data();
  v.change = ov.ov_depth_change.data();
  v.z = ms.cell_elev.data();
  v.retention = ov.ov_retention.data();
  v.roughness = ov.ov_roughness.data();
  v.lake = ov.oland_lake_new.data();
  v.lake_count = ov.olake_count;
  v.lakes = ov.ov_lakes.data();
  if (ms.input.wetland_table_on && ov.wetland_mask.count() >= n) {
    v.wetland = ov.wetland_mask.data();
    v.wetlands = ov.wetlands.data();
    v.wetland_count =
        ov.wetlands.count() < ov.wetland_count ? ov.wetlands.count() : ov.wetland_count;
  }
  face_direction faces[2];
  faces[0] = {ov.rightcon.data(),
              ov.ov_face_open_x.data(),
              ov.ov_slope_x.data(),
              ov.ov_flux_x.data(),
              "x-dir",
              "right"};
  faces[1] = {ov.belowcon.data(),
              ov.ov_face_open_y.data(),
              ov.ov_slope_y.data(),
              ov.ov_flux_y.data(),
              "y-dir",
              "lower"};

  // The step's start, for redoing it: the cells' depths and the lakes' collected changes.
  double* saved = ov.ov_saved_depth.data();
  double* saved_change = ov.ovx_saved_olake_change.data();
  for (int c = 1; c <= n; ++c) saved[c] = v.h[c];
  for (int l = 1; l <= v.lake_count; ++l) saved_change[l] = v.lakes[l].rain_volume;

  int reductions = 0;
  bool capped_accepted = false;  // no cut is left and only the cap held faces back
  bool complete = false;
  while (!complete) {
    for (int c = 1; c <= n; ++c) {
      v.h[c] = saved[c];
      v.change[c] = 0.0;
    }
    for (int l = 1; l <= v.lake_count; ++l) v.lakes[l].rain_volume = saved_change[l];
    double elapsed = 0.0;
    bool restart = false;
    while (!complete && !restart) {
      // The right faces, applied, then the lower faces, applied; a pass whose faces fail is
      // not applied.
      for (const face_direction& f : faces) {
        int fails[2] = {0, 0};
        lake_face_pass(v, f, tau, fails);
        const bool test_failures = fails[0] != 0;
        if (test_failures || (fails[1] != 0 && !capped_accepted)) {
          for (int c = 1; c <= n && test_failures; ++c) {
            const int k = f.next[c];
            if (f.flux[c] == 0.0 || k == 0 || !lake_face_fails(v, c, k, f.flux[c], tau)) continue;
            const double moved = f.flux[c] * tau / dx;
            printf("need to split...(%s) curr_du=%lf, dhh=%lf, h[j]+dhh=%lf\n", f.name,
                   std::fabs(moved), moved, v.h[c] + moved);
          }
          const explicit_cut cut = explicit_cut_substep(ms, tau, reductions, test_failures);
          if (cut == explicit_cut::redo) {
            restart = true;
            break;
          }
          if (cut == explicit_cut::cannot) {
            for (int c = 1; c <= n; ++c) {
              const int k = f.next[c];
              if (f.flux[c] == 0.0 || k == 0 || !lake_face_fails(v, c, k, f.flux[c], tau)) continue;
              const int j = judged_cell(v, c, k);
              explicit_step_too_long(ms, dt, tau, c, k, f.side, f.flux[c] * tau / dx, j, v.h[j]);
              break;
            }
            if (run_error.error_fatal == 0) stop_now();
            return 0.0;
          }
          capped_accepted = true;
        }
        apply_changes(v);
      }
      if (restart) break;
      elapsed += tau;
      complete = std::fabs(elapsed - dt) < 0.0001 || elapsed > dt;
    }
  }

  if (ov.dike_map_on && ov.lowspot_on && ov.num_lowspots > 0)
    ov_embankment_flow(dt, dx, ms.index_map, ms.rows, ms.cols, ms.cell_elev, ov.ov_depth,
                       ov.num_lowspots, ov.lowspots, ov.overland_lake_map, ov.oland_lake_new,
                       ov.ov_lakes);

  double outlet_volume = 0.0;
  if (ms.channel.chan_explic == 0 && ms.outlet_cell >= 1 && ms.outlet_cell <= n) {
    const int o = ms.outlet_cell;
    outlet_volume = ov_outlet_drain(ov.ov_depth[o], ms.outlet_slope, ov.ov_roughness[o], dx, dt);
  }

  double* fx = ov.ov_flux_x.data();
  double* fy = ov.ov_flux_y.data();
  for (int c = 1; c <= n; ++c) {
    fx[c] *= dx;
    fy[c] *= dx;
  }
  return outlet_volume;
}
