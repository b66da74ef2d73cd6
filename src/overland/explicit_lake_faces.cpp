// Explicit overland routing with overland lakes, called by the explicit routing in place of its
// sub-stepped passes when the overland lake map is on and there are no channel lakes: one serial
// pass of the whole overland step over the right faces, applied, then one over the lower faces,
// applied. A face between two lake cells carries nothing; a face across a lake's shore moves
// water between the cell and the lake's collected change of the step.
#include "overland/explicit_lake_faces.h"

#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "overland/embankments.h"
#include "overland/explicit_overland.h"

namespace {

constexpr double five_thirds = 5.0 / 3.0;

double sign_of(double s) {
  return s > 0.0 ? 1.0 : (s < 0.0 ? -1.0 : 0.0);
}

// Flow of a wetland cell whose water stands h2 above its vegetated layer: seepage through the
// layer plus Manning's law above it, blended with a linear law below the transition depth.
double wetland_above_layer(double S, double h2, const wetland_record& w) {
  const double d_v = w.slot[1], k_v = w.slot[2], d_t = w.slot[3], k_u = w.slot[4];
  const double n_w = w.slot[6];
  const double seepage = S * d_v * k_v;
  const double manning = sign_of(S) * std::sqrt(std::fabs(S)) / n_w * std::pow(h2, five_thirds);
  if (h2 > d_t) return seepage + manning;
  return seepage + (1.0 - h2 / d_t) * (h2 * S * k_u) + manning * h2 / d_t;
}

// Unit-width discharge of a face between two cells outside the lakes over the whole step: the
// plain face (no retention cut-off on the owning cell: it may still receive water across its
// own face) or the wetland face of the owning cell.
double open_face_discharge(double s0, double hi, double hk, double ri, double rk, double ni,
                           double nk, const wetland_record* wi, bool k_is_wetland, double dx) {
  const double fall = s0 - (hk - hi) / dx;
  // A level water surface drives no flow, as on the faces of the sub-stepped scheme.
  if (fall == 0.0) return 0.0;
  double S = fall + 1e-20;
  if (std::fabs(S) < 1e-20) S = 1e-20;
  if (wi != nullptr) return ov_wetland_face_discharge(S, hi, hk, rk, *wi, k_is_wetland, ni, nk);
  const double H = S >= 0.0 ? hi - ri : hk - rk;
  return H > 0.0 ? sign_of(S) * std::sqrt(std::fabs(S)) / ni * std::pow(H, five_thirds) : 0.0;
}

// What one pass over the faces of one direction reads and writes.
struct lake_pass_view {
  int cell_count = 0;
  double dx = 0.0;
  double dt = 0.0;
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

// The faces of every cell towards `next` in cell order, then their changes applied to the cells
// outside the lakes.
void lake_face_pass(const lake_pass_view& v, const int* next, const unsigned char* open,
                    const double* slope, double* flux) {
  const double per_q = v.dt / v.dx;
  const double area = v.dx * v.dx;
  double* h = v.h;
  double* dh = v.change;
  for (int c = 1; c <= v.cell_count; ++c) {
    flux[c] = 0.0;
    if (!open[c]) continue;
    const int k = next[c];
    const int lake_c = lake_at(v, c), lake_k = lake_at(v, k);
    if (lake_c != 0 && lake_k != 0) continue;
    double q = 0.0;
    if (lake_c == 0 && lake_k == 0) {
      const wetland_record* wk = wetland_at(v, k);
      q = open_face_discharge(slope[c], h[c], h[k], v.retention[c], v.retention[k], v.roughness[c],
                              v.roughness[k], wetland_at(v, c), wk != nullptr, v.dx);
      dh[c] -= q * per_q;
      dh[k] += q * per_q;
    } else if (lake_c == 0) {
      // Into the lake on the cell's right or lower side (out of it when q is negative).
      const double W = v.lakes[lake_k].surface_elev;
      const double S = ov_lake_shore_slope(h[c] + v.z[c] - W, v.dx);
      q = ov_lake_shore_discharge(S, h[c], v.retention[c], v.roughness[c], wetland_at(v, c));
      dh[c] -= q * per_q;
      v.lakes[lake_k].rain_volume += q * per_q * area;
    } else {
      // Out of the lake into the cell on its right or lower side.
      const double W = v.lakes[lake_c].surface_elev;
      const double S = ov_lake_shore_slope(W - (h[k] + v.z[k]), v.dx);
      q = ov_lake_shore_discharge(S, h[k], v.retention[k], v.roughness[k], wetland_at(v, k));
      dh[k] += q * per_q;
      v.lakes[lake_c].rain_volume -= q * per_q * area;
    }
    flux[c] = q;
  }
  for (int c = 1; c <= v.cell_count; ++c) {
    if (lake_at(v, c) == 0) h[c] += dh[c];
    dh[c] = 0.0;
  }
}

}  // namespace

double ov_lake_shore_slope(double drop, double dx) {
  double S = drop / dx + 1e-20;
  if (std::fabs(S) < 1e-20) S = 1e-20;
  return S;
}

double ov_lake_shore_discharge(double S, double h, double r, double n, const wetland_record* w) {
  if (w == nullptr) {
    const double H = h - r;
    return H > 0.0 ? sign_of(S) * std::sqrt(std::fabs(S)) / n * std::pow(H, five_thirds) : 0.0;
  }
  const double above = h - w->slot[1];
  if (above <= 0.0) return h * S * w->slot[2];
  return wetland_above_layer(S, above, *w);
}

double ov_route_explicit_lakes(model_state& ms, double dt) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double dx = ms.gridsize;
  if (n < 1 || !(dt > 0.0)) return 0.0;
  raw_array1d<double>* needed[] = {&ov.ov_depth,     &ov.ov_flux_x,    &ov.ov_flux_y,
                                   &ov.ov_retention, &ov.ov_roughness, &ov.ov_slope_x,
                                   &ov.ov_slope_y,   &ms.cell_elev};
  bool ready = ov.oland_lake_new.count() >= n && ov.ov_face_open_x.count() >= n &&
               ov.ov_face_open_y.count() >= n && ov.rightcon.count() >= n &&
               ov.belowcon.count() >= n && ov.ov_lakes.count() >= ov.olake_count;
  for (raw_array1d<double>* a : needed) ready = ready && !a->empty() && a->count() >= n;
  if (!ready) {
    stop_with_message("Error: the overland routing arrays of %d cells were not set up.\n", n);
    return 0.0;
  }
  if (ov.ov_depth_change.count() != n) {
    alloc_1d_double(ov.ov_depth_change, n, "ov_depth_change");
    if (ov.ov_depth_change.empty()) {
      stop_now();
      return 0.0;
    }
  }

  // The scheme's memory moves on as in every call: the sweep order toggles and the countdown of
  // a reduced sub-step runs, though this variant routes the whole step in one pass.
  explicit_memory_next_call(ms, dt);

  lake_pass_view v;
  v.cell_count = n;
  v.dx = dx;
  v.dt = dt;
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
  for (int c = 1; c <= n; ++c) v.change[c] = 0.0;

  lake_face_pass(v, ov.rightcon.data(), ov.ov_face_open_x.data(), ov.ov_slope_x.data(),
                 ov.ov_flux_x.data());
  lake_face_pass(v, ov.belowcon.data(), ov.ov_face_open_y.data(), ov.ov_slope_y.data(),
                 ov.ov_flux_y.data());

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
