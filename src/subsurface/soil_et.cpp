// The two-zone soil water account of long-term runs, once per soil update: evapotranspiration
// from surface water and then from the root zones under soil-water stress, gravity drainage from
// the upper to the lower zone and on to the groundwater, and the infiltration since the last
// update into the upper zone. Called by the time loop through soil_et_step.
#include "subsurface/soil_et.h"

#include <algorithm>
#include <cmath>

#include "framework/core/block_sum.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "subsurface/soil_table_state.h"
#include "subsurface/subsurface_steps.h"

namespace {

// Cells of a block of the account's sums.
constexpr int soil_et_block_cells = 1024;

template <class T>
std::span<T> cells_of(raw_array1d<T>& a) {
  return a.empty() ? std::span<T>() : std::span<T>(a.data(), a.element_count());
}
template <class T>
std::span<const T> cells_const(const raw_array1d<T>& a) {
  return a.empty() ? std::span<const T>() : std::span<const T>(a.data(), a.element_count());
}

double at(std::span<const double> a, int c) {
  return static_cast<std::size_t>(c) < a.size() ? a[c] : 0.0;
}

// One zone's soil: contents (fractions), conductivity at saturation (cm per second of the step)
// and pore-size index.
struct zone_soil {
  double theta_s = 0.0, theta_r = 0.0, theta_fc = 0.0, theta_wp = 0.0;
  double ks = 0.0;      // cm/s
  double lambda = 1.0;  // pore-size distribution index
};

double conductivity(const zone_soil& s, double se) {
  const double lambda = s.lambda > 0.0 ? s.lambda : 1.0;
  return std::pow(std::clamp(se, 0.0, 1.0), 3.0 / lambda + 2.0) * s.ks;
}

double saturation(const zone_soil& s, double theta) {
  const double span = s.theta_s - s.theta_r;
  return span > 0.0 ? (theta - s.theta_r) / span : 1.0;
}

// Stress factor of a zone of depth z holding w (cm of water).
double stress(const zone_soil& s, double w, double z, bool alt) {
  double f = 0.0;
  if (alt) {
    f = w <= s.theta_r * z ? 0.0 : (s.theta_fc * z > 0.0 ? w / (s.theta_fc * z) : 1.0);
  } else if (w >= s.theta_fc * z) {
    f = 1.0;
  } else if (w <= s.theta_wp * z) {
    f = 0.0;
  } else {
    f = (w - s.theta_wp * z) / (s.theta_fc * z - s.theta_wp * z);
  }
  return std::min(f, 1.0);
}

// The soils of a cell's zones: the layers of its soil type (upper, lower and the deep layer
// below them, with the upper two layers' depths), or one soil for both zones from the maps.
struct cell_soils {
  zone_soil upper, lower, deep;
  double upper_depth = 0.0, lower_depth = 0.0;  // cm
};

cell_soils soils_of_cell(const soil_et_views& v, int c, bool layered) {
  cell_soils s;
  s.upper_depth = v.zone_depth_upper;
  if (layered) {
    const soil_table_record& r = v.soil_types[v.soil_type[c]];
    auto layer = [&](int k) {
      zone_soil z;
      z.theta_s = r.layer_porosity[k];
      z.theta_r = r.layer_residual_moisture[k];
      z.theta_fc = r.layer_field_capacity[k];
      z.theta_wp = r.layer_wilting_point[k];
      z.ks = r.layer_hyd_cond[k] / seconds_per_hour;
      z.lambda = r.layer_pore_index[k];
      return z;
    };
    s.upper = layer(0);
    s.lower = layer(1);
    s.deep = layer(2);
    s.upper_depth = r.layer_depth[0];
    s.lower_depth = r.layer_depth[1];
  } else {
    s.upper.theta_s = at(v.porosity, c);
    s.upper.theta_r = at(v.residual, c);
    s.upper.theta_fc = at(v.theta_fc, c);
    s.upper.theta_wp = at(v.theta_wp, c);
    s.upper.ks = at(v.ks, c) * 100.0;
    s.upper.lambda = at(v.pore_index, c);
    s.lower = s.upper;
  }
  return s;
}

}  // namespace

namespace {

// The account of cell c over the update; its depths join the block's totals t.
void account_cell(const soil_et_views& v, int c, bool layered, soil_et_totals& t) {
  {
    if (!v.ov_lake.empty() && v.ov_lake[c] >= 1) return;
    if (!v.lake.empty() && v.lake[c] >= 1) return;

    // Soils of the zones.
    const cell_soils soils = soils_of_cell(v, c, layered);
    const zone_soil& up = soils.upper;
    const zone_soil& low = soils.lower;
    const zone_soil& deep = soils.deep;
    const double d1 = soils.upper_depth, d2 = soils.lower_depth;

    // 1. Zones.
    const double z = v.wt_depth[c];
    const bool two = z > d1;
    const double z1 = two ? d1 : z;
    const double z2 = two ? z - d1 : 0.0;
    const bool reaches_deep = layered && two && z >= d1 + d2;
    const double infil = v.inf_depth[c] * 100.0;
    double wu = v.zone_upper[c];
    double wl = two ? v.zone_lower[c] : 0.0;

    // 2. Evapotranspiration from surface water, then the soil's share.
    double asked = 0.0;
    const bool rain = !v.rain.empty() && v.rain[c] > 1e-16;
    const bool snow = v.snow_present && !v.swe.empty() && v.swe[c] >= 1e-16;
    if (v.long_term && !rain && !snow) {
      const double surface = v.ov_depth[c] * 100.0;
      if (surface > 1e-14) {
        const double demand = v.et_rate_water[c] * v.dt;
        if (demand <= surface) {
          v.ov_depth[c] -= demand / 100.0;
          v.et_cum[c] += demand;
          t.et_depth += demand / 100.0;
        } else {
          v.ov_depth[c] = 0.0;
          v.et_cum[c] += surface;
          t.et_depth += surface / 100.0;
          asked = demand - surface;
        }
      } else {
        asked = v.et_rate_soil[c] * v.dt;
      }
    }

    // 3. Root-zone shares.
    double eu = 0.0, el = 0.0;
    if (asked > 1e-16) {
      // Without a soil zone above the table the whole demand is met once, from the table.
      double f1 = 1.0, f2 = 0.0;
      if (!(z < 1e-16)) {
        f1 = stress(up, wu, z1, v.stress_alt);
        if (two) {
          f2 = stress(low, wl, z2, v.stress_alt);
          f1 *= z1 / z;
          f2 *= z2 / z;
        } else {
          f2 = 0.0;
        }
      }
      eu = asked * f1;
      el = asked * f2;
    }
    // 4. The zones keep their residual water (the upper zone may draw on this update's
    // infiltration for it).
    const double short_u = up.theta_r * z1 - (wu - eu);
    if (short_u > 0.0 && short_u > infil) eu -= short_u - infil;
    if (two) {
      const double short_l = low.theta_r * z2 - (wl - el);
      if (short_l > 0.0) el -= short_l;
    }
    eu = std::max(eu, 0.0);
    el = std::max(el, 0.0);
    t.et_depth += (eu + el) / 100.0;

    // 5. Water balance of the zones.
    if (v.yes_exfil[c] == 1 || z < 1e-16) {
      v.recharge_inc[c] -= eu + el;
      v.recharge_cum[c] -= eu + el;
      t.et_from_gw += (eu + el) / 100.0;
      if (v.yes_exfil[c] != 1) {
        // The water table has reached the surface: the infiltration passes to the groundwater.
        v.yes_exfil[c] = 1;
        v.recharge_inc[c] += infil;
        v.recharge_cum[c] += infil;
        t.infiltration += infil / 100.0;
        v.inf_depth[c] = 0.0;
      }
      return;
    }
    auto drainage = [&](const zone_soil& s, double w, double depth, double if_saturated,
                        double k_other_se, bool geometric) {
      const double theta = w / depth;
      if (theta >= s.theta_s) return if_saturated;
      if (layered ? theta - s.theta_fc < 1e-16 : theta <= s.theta_fc) return 0.0;
      double k = conductivity(s, saturation(s, theta));
      if (geometric) k = std::sqrt(k * k_other_se);
      return k * v.dt;
    };
    double q1 = 0.0, q2 = 0.0;
    if (layered && two) {
      const double se_u = saturation(up, wu / z1);
      q1 = drainage(up, wu, z1, infil, conductivity(low, se_u), true);
      const double se_l = saturation(low, wl / z2);
      q2 = drainage(low, wl, z2, q1, conductivity(deep, se_l), reaches_deep);
      q1 = std::min(q1, q2);
    } else {
      q1 = drainage(up, wu, z1, infil, 0.0, false);
      if (two) q2 = drainage(low, wl, z2, q1, 0.0, false);
    }
    wu += infil - q1 - eu;
    if (wu > up.theta_s * z1) {
      q1 += wu - up.theta_s * z1;
      wu = up.theta_s * z1;
    } else if (wu < up.theta_r * z1) {
      q1 -= up.theta_r * z1 - wu;
      wu = up.theta_r * z1;
    }
    if (!two) q2 = q1;
    v.zone_upper[c] = wu;
    v.soil_water[c] = wu;
    if (two) {
      wl += q1 - q2 - el;
      if (wl > low.theta_s * z2) {
        q2 += wl - low.theta_s * z2;
        wl = low.theta_s * z2;
      } else if (wl < low.theta_r * z2) {
        q2 -= low.theta_r * z2 - wl;
        wl = low.theta_r * z2;
      }
      v.zone_lower[c] = wl;
      v.soil_water[c] += wl;
    }
    v.recharge_inc[c] += q2;
    v.recharge_cum[c] += q2;
    v.drain_lower_cum[c] += q2;
    v.drain_upper_cum[c] += q1;
    t.infiltration += infil / 100.0;
    v.inf_depth[c] = 0.0;
  }
}

}  // namespace

soil_et_totals soil_et_extract(const soil_et_views& v) {
  const bool layered = v.soil_types != nullptr;
  // Each cell's account touches only its own entries; the depths are summed over fixed blocks
  // of cells added in block order, the same bits on any thread count.
  return block_ordered_sum<soil_et_block_cells, soil_et_totals>(
      v.cell_count, soil_et_totals{},
      [&](int first, int last) {
        soil_et_totals part;
        for (int c = first; c <= last; ++c) account_cell(v, c, layered, part);
        return part;
      },
      [](soil_et_totals& total, const soil_et_totals& part) {
        total.et_depth += part.et_depth;
        total.et_from_gw += part.et_from_gw;
        total.infiltration += part.infiltration;
      });
}

void soil_et_step(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  if (!ms.long_term || !ss.redistribution_on || (!ss.inf_redist && !ss.inf_layered_soil)) return;
  process_clock& clock = ms.soil_et_clock;
  if (!(std::fabs(clock.next - ms.current_time) < ms.time_tolerance)) return;
  const double dt = (ms.current_time - clock.last) * seconds_per_day;
  soil_account_state& acc = ss.soil_account;
  const int n = ms.cell_count;
  soil_et_views v;
  v.cell_count = n;
  v.dt = dt;
  v.zone_depth_upper = ss.zone_depth_upper;
  v.long_term = ms.long_term != 0;
  v.stress_alt = acc.et_stress_alt != 0;
  v.snow_present = ms.snow_present != 0;
  v.et_rate_water = cells_const(ss.et_rate_water);
  v.et_rate_soil = cells_const(ss.et_rate_soil);
  v.rain = cells_const(ms.overland.rain_cell);
  v.swe = cells_const(ss.swe);
  if (ms.overland.overland_lake_map) v.ov_lake = cells_const(ms.overland.oland_lake_new);
  if (ms.perennial_lakes) v.lake = cells_const(ms.channel.lake_mask);
  v.wt_depth = cells_const(ss.wt_depth_cm);
  v.ov_depth = cells_of(ms.overland.ov_depth);
  v.inf_depth = cells_of(ss.inf_depth_longterm);
  v.zone_upper = cells_of(ss.zone_water_upper);
  v.zone_lower = cells_of(ss.zone_water_lower);
  v.soil_water = cells_of(ss.soil_water_total);
  v.recharge_inc = cells_of(ss.recharge_inc);
  v.recharge_cum = cells_of(ss.recharge_cum);
  v.drain_upper_cum = cells_of(acc.drain_upper_cum);
  v.drain_lower_cum = cells_of(acc.drain_lower_cum);
  v.et_cum = cells_of(ss.et_cum_cell);
  v.yes_exfil = cells_of(ss.yes_exfil);
  if (ss.inf_layered_soil) {
    v.soil_types = ss.soil_types;
    v.soil_type = cells_const(ss.soiltype);
  } else {
    v.porosity = cells_const(ss.porosity_cell);
    v.residual = cells_const(ss.residual_cell);
    v.ks = cells_const(ss.ks_cell);
    v.pore_index = cells_const(ss.pore_index_cell);
    v.theta_fc = cells_const(ss.theta_fc_cell);
    v.theta_wp = cells_const(ss.theta_wp_cell);
  }
  const soil_et_totals t = soil_et_extract(v);
  ss.et_depth_step = t.et_depth;
  acc.et_volume_total += ms.gridsize * ms.gridsize * t.et_depth;
  acc.et_from_gw += t.et_from_gw;
  acc.inf_longterm_total += t.infiltration;
  clock.last = ms.current_time;
  clock.next = ms.current_time + clock.interval_days;
}

void redistribution_zone_depths(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  if (!ss.inf_redist) return;
  if (ss.init_unsat_depth_cm < 1e-16) ss.init_unsat_depth_cm = ms.cards.soil_moist_depth * 100.0;
  const double top = ms.cards.top_layer_depth * 100.0;
  if (ss.zone_depth_upper < 1e-16 && top > 0.0 && top < ss.init_unsat_depth_cm)
    ss.zone_depth_upper = top;
}

bool soil_account_setup(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  if (!ms.long_term || (!ss.inf_redist && !ss.inf_layered_soil)) return true;
  const int n = ms.cell_count;
  redistribution_zone_depths(ms);
  raw_array1d<double>* doubles[] = {&ss.zone_water_upper,
                                    &ss.zone_water_lower,
                                    &ss.soil_water_total,
                                    &ss.wt_depth_cm,
                                    &ss.recharge_inc,
                                    &ss.recharge_cum,
                                    &ss.et_cum_cell,
                                    &ss.inf_depth_longterm,
                                    &ss.et_rate_water,
                                    &ss.et_rate_soil,
                                    &ss.theta_fc_cell,
                                    &ss.theta_wp_cell,
                                    &ss.soil_account.drain_upper_cum,
                                    &ss.soil_account.drain_lower_cum};
  for (raw_array1d<double>* a : doubles) {
    if (!a->empty() && a->count() >= n) continue;
    if (!a->allocate(n)) {
      raw_report_alloc_failure("soil account");
      return false;
    }
  }
  if (ss.yes_exfil.empty() || ss.yes_exfil.count() < n) {
    if (!ss.yes_exfil.allocate(n)) {
      raw_report_alloc_failure("yes_exfil");
      return false;
    }
  }
  return true;
}
