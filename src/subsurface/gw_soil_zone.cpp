// The aquifer under the redistribution or the layered soil: the storage profile of each cell
// (the water it holds as a function of its head), the placing of the heads the solve moved
// through a layer boundary, and the reconciliation of the soil's wetted zone with the water
// table. groundwater_step calls them around gw_solve; the run's books read the profile.
#include "subsurface/gw_soil_zone.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "framework/core/parallel_team.h"
#include "framework/model_state.h"
#include "subsurface/subsurface_steps.h"

namespace {

// Lower end of segment k of the profile.
double segment_low(const gw_storage_profile& p, int k) {
  return k == 0 ? p.bottom : std::max(p.bottom, p.top[k - 1]);
}

double segment_high(const gw_storage_profile& p, int k) {
  return k == p.count - 1 ? std::numeric_limits<double>::infinity() : p.top[k];
}

// The lowest segment that holds some height above the bottom.
int first_segment(const gw_storage_profile& p) {
  for (int k = 0; k < p.count - 1; ++k)
    if (segment_high(p, k) > segment_low(p, k)) return k;
  return p.count - 1;
}

// The segment a head lies in: a head on a segment's top lies in the segment above, one below
// the bottom in the lowest.
int segment_of(const gw_storage_profile& p, double h) {
  if (h < p.bottom) return first_segment(p);
  for (int k = 0; k < p.count - 1; ++k)
    if (h < segment_high(p, k) && segment_high(p, k) > segment_low(p, k)) return k;
  return p.count - 1;
}

const soil_table_record* soil_of(const subsurface_state& ss, int c) {
  if (!has(ss.soiltype, c)) return nullptr;
  const int id = ss.soiltype[c];
  return id >= 0 && id < max_soil_types ? &ss.soil_types[id] : nullptr;
}

// The soil of a cell's wetted zone: depth (cm), upper zone depth (cm) and per zone porosity,
// field capacity and residual content.
struct zone_soil {
  double depth = 0.0, upper = 0.0;
  double porosity[2] = {}, field_capacity[2] = {}, residual[2] = {};
};

zone_soil zone_soil_of(const model_state& ms, int c) {
  const subsurface_state& ss = ms.subsurface;
  zone_soil z;
  if (ss.inf_layered_soil) {
    const soil_table_record* s = soil_of(ss, c);
    if (s == nullptr) return z;
    z.depth = s->layer_depth[0] + s->layer_depth[1];
    z.upper = s->layer_depth[0];
    for (int k = 0; k < 2; ++k) {
      z.porosity[k] = s->layer_porosity[k];
      z.field_capacity[k] = s->layer_field_capacity[k];
      z.residual[k] = s->layer_residual_moisture[k];
    }
    return z;
  }
  z.depth = ss.init_unsat_depth_cm;
  z.upper =
      ss.zone_depth_upper > 1e-16 && ss.zone_depth_upper < z.depth ? ss.zone_depth_upper : z.depth;
  // An event run keeps no field capacity of the redistribution soil: a falling table leaves the
  // soil's initial content behind it.
  const raw_array1d<double>& left_behind =
      ss.theta_fc_cell.empty() ? ss.theta_init : ss.theta_fc_cell;
  for (int k = 0; k < 2; ++k) {
    z.porosity[k] = has(ss.porosity_cell, c) ? ss.porosity_cell[c] : 0.0;
    z.field_capacity[k] = has(left_behind, c) ? left_behind[c] : 0.0;
    z.residual[k] = has(ss.residual_cell, c) ? ss.residual_cell[c] : 0.0;
  }
  return z;
}

}  // namespace

double gw_profile_water(const gw_storage_profile& p, double h) {
  if (h <= p.bottom) return p.base + p.slope[first_segment(p)] * (h - p.bottom);
  double water = p.base;
  for (int k = 0; k < p.count; ++k) {
    const double low = segment_low(p, k);
    const double high = std::min(segment_high(p, k), h);
    if (high > low) water += p.slope[k] * (high - low);
    if (h <= segment_high(p, k)) break;
  }
  return water;
}

double gw_profile_head(const gw_storage_profile& p, double water) {
  double left = water - p.base;
  if (left <= 0.0) return p.bottom + left / p.slope[first_segment(p)];
  for (int k = 0; k < p.count; ++k) {
    const double low = segment_low(p, k);
    const double high = segment_high(p, k);
    if (!(high > low)) continue;
    const double room = p.slope[k] * (high - low);
    if (left <= room || k == p.count - 1) return low + left / p.slope[k];
    left -= room;
  }
  return p.bottom;
}

double gw_profile_slope(const gw_storage_profile& p, double h) {
  return p.slope[segment_of(p, h)];
}

bool gw_soil_zone_on(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  return ss.gw_simulation && (ss.inf_redist || ss.inf_layered_soil);
}

gw_storage_profile gw_cell_profile(const model_state& ms, int c) {
  const subsurface_state& ss = ms.subsurface;
  gw_storage_profile p;
  p.bottom = has(ss.bottom_elev, c) ? ss.bottom_elev[c] : 0.0;
  const double n = has(ss.gw_porosity, c) ? ss.gw_porosity[c] : 0.0;
  auto coefficient = [n](double s) { return s > 0.0 ? s : n; };
  if (!gw_soil_zone_on(ms) || !has(ms.cell_elev, c)) {
    p.count = 1;
    p.slope[0] = n;
    return p;
  }
  const double ground = ms.cell_elev[c];
  const zone_soil z = zone_soil_of(ms, c);
  const double soil_foot = ground - z.depth / 100.0;
  // The content the unsaturated zone keeps below the soil, less than the porosity.
  double retained = has(ss.gw_inf_redist_theta, c) ? ss.gw_inf_redist_theta[c] : 0.0;
  retained = std::clamp(retained, 0.0, n);
  if (!(n - retained > 0.0)) retained = 0.0;
  p.base = retained * std::max(0.0, soil_foot - p.bottom);
  int k = 0;
  p.top[k] = soil_foot;
  p.slope[k++] = coefficient(n - retained);
  if (z.upper < z.depth) {
    p.top[k] = ground - z.upper / 100.0;
    p.slope[k++] = coefficient(z.porosity[1]);
  }
  p.top[k] = ground;
  p.slope[k++] = coefficient(z.porosity[0]);
  p.slope[k++] = 1.0;  // open water above the ground
  p.count = k;
  return p;
}

double gw_aquifer_water(const model_state& ms, int c) {
  const subsurface_state& ss = ms.subsurface;
  if (!has(ss.elevgw, c) || !has(ss.bottom_elev, c) || !has(ss.gw_porosity, c)) return 0.0;
  const double area = ms.gridsize * ms.gridsize;
  if (!gw_soil_zone_on(ms)) return (ss.elevgw[c] - ss.bottom_elev[c]) * ss.gw_porosity[c] * area;
  return gw_profile_water(gw_cell_profile(ms, c), ss.elevgw[c]) * area;
}

void gw_place_heads(model_state& ms) {
  if (!gw_soil_zone_on(ms)) return;
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  double* h = ss.elevgw.data();
  const double* start = g.head_step.data();
  const double* sy = g.storage.data();
  const unsigned char* held = g.held.data();
  const int n = ms.cell_count;
#pragma omp parallel for schedule(static) num_threads(team_size(n))
  for (int c = 1; c <= n; ++c) {
    if (held[c] || h[c] == start[c]) continue;
    const gw_storage_profile p = gw_cell_profile(ms, c);
    // Within the segment the step began in, the solve's head holds the water it stored.
    if (segment_of(p, h[c]) == segment_of(p, start[c])) continue;
    h[c] = gw_profile_head(p, gw_profile_water(p, start[c]) + sy[c] * (h[c] - start[c]));
  }
}

void gw_reconcile_soil_zone(model_state& ms) {
  if (!gw_soil_zone_on(ms)) return;
  subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  if (!has(ss.wt_depth_cm, n) || !has(ss.zone_water_upper, n) || !has(ss.zone_water_lower, n) ||
      !has(ss.recharge_inc, n))
    return;
  // The sum of what went below the soil, where the run keeps it.
  double* cumulative = has(ss.recharge_cum, n) ? ss.recharge_cum.data() : nullptr;
  const unsigned char* held = ms.groundwater.held.data();
#pragma omp parallel for schedule(static) num_threads(team_size(n))
  for (int c = 1; c <= n; ++c) {
    if (held[c]) continue;
    const double to_table = (ms.cell_elev[c] - ss.elevgw[c]) * 100.0;  // cm
    if (to_table <= 1e-16) {
      // The table at the ground: the soil is saturated, and the zone's water goes to the
      // aquifer (which gives it on to the surface).
      const double zone = ss.zone_water_upper[c] + ss.zone_water_lower[c];
      ss.wt_depth_cm[c] = 0.0;
      ss.zone_water_upper[c] = 0.0;
      ss.zone_water_lower[c] = 0.0;
      if (has(ss.soil_water_total, c)) ss.soil_water_total[c] = 0.0;
      ss.recharge_inc[c] += zone;
      if (cumulative != nullptr) cumulative[c] += zone;
      continue;
    }
    const zone_soil z = zone_soil_of(ms, c);
    const double old_depth = ss.wt_depth_cm[c];
    const double depth = std::min(to_table, z.depth);
    double upper = ss.zone_water_upper[c];
    double lower = ss.zone_water_lower[c];
    double to_aquifer = 0.0;  // cm of water the zone gives the recharge (negative: takes)
    if (depth > old_depth) {
      // The zone reaches down to the table, at field capacity where it is new.
      const double upper_new = std::max(0.0, std::min(depth, z.upper) - old_depth);
      const double lower_new = std::max(0.0, depth - std::max(old_depth, z.upper));
      upper += upper_new * z.field_capacity[0];
      lower += lower_new * z.field_capacity[1];
      to_aquifer -= upper_new * z.field_capacity[0] + lower_new * z.field_capacity[1];
    } else if (depth <= z.upper && lower != 0.0) {
      // The table rose into the upper zone: the lower zone's water stays in the soil above it.
      upper += lower;
      lower = 0.0;
    }
    const double thick[2] = {std::min(depth, z.upper), std::max(0.0, depth - z.upper)};
    double* store[2] = {&upper, &lower};
    for (int k = 0; k < 2; ++k) {
      const double most = z.porosity[k] * thick[k];
      const double least = z.residual[k] * thick[k];
      if (*store[k] > most) {
        to_aquifer += *store[k] - most;
        *store[k] = most;
      } else if (*store[k] < least) {
        to_aquifer -= least - *store[k];
        *store[k] = least;
      }
    }
    ss.wt_depth_cm[c] = depth;
    ss.zone_water_upper[c] = upper;
    ss.zone_water_lower[c] = lower;
    if (has(ss.soil_water_total, c)) ss.soil_water_total[c] = upper + lower;
    ss.recharge_inc[c] += to_aquifer;
    if (cumulative != nullptr) cumulative[c] += to_aquifer;
  }
}
