// The hourly hydromet step of long-term runs: reads the hour's weather, writes the long-term
// report line, computes every cell's evapotranspiration, evaporates the channel lakes, updates
// the frozen-ground index and, between events, melts the snow. The time loop calls it after the
// soil account; the start-up sets up its per-cell arrays and the initial snow.
#include <cmath>
#include <cstdio>

#include "atmosphere/atmosphere_steps.h"
#include "atmosphere/evapotranspiration.h"
#include "atmosphere/hydromet_input.h"
#include "atmosphere/snowmelt.h"
#include "channel/channel_lake_steps.h"
#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "overland/overland_steps.h"
#include "subsurface/subsurface_steps.h"

namespace {

template <class T>
std::span<T> cells_of(raw_array1d<T>& a) {
  return a.empty() ? std::span<T>() : std::span<T>(a.data(), a.element_count());
}
template <class T>
std::span<const T> cells_const(const raw_array1d<T>& a) {
  return a.empty() ? std::span<const T>() : std::span<const T>(a.data(), a.element_count());
}

bool lake_cell(const model_state& ms, int c) {
  const overland_state& ov = ms.overland;
  if (ov.overland_lake_map && has(ov.oland_lake_new, c) && ov.oland_lake_new[c] >= 1) return true;
  return ms.perennial_lakes && has(ms.channel.lake_mask, c) && ms.channel.lake_mask[c] >= 1;
}

bool ensure(raw_array1d<double>& a, int n, const char* name) {
  if (!a.empty() && a.count() >= n) return true;
  if (a.allocate(n)) return true;
  raw_report_alloc_failure(name);
  stop_now();
  return false;
}

// The long-term report line of the hour (step 4 of the hydromet step).
void long_term_report(model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  const weather_state& w = ms.weather;
  FILE* evap = ss.evap_out_file.fp;
  const int n = ms.cell_count;
  const bool wetted_zone = ss.inf_redist || ss.inf_layered_soil;
  if (!ss.inf_richards && !wetted_zone) {
    double sum = 0.0;
    for (int c = 1; c <= n && has(ss.soil_water_total, c); ++c) sum += ss.soil_water_total[c];
    if (!ms.quiet)
      printf("longterm %d/%d/%d  %2d:00 Avg. Soil Moisture: %7.2lf  \n", w.month, w.day, w.year,
             w.hour, n > 0 ? sum / n : 0.0);
    return;
  }
  double inf = 0.0, recharge = 0.0, theta_sum = 0.0, cfgi = 0.0, pet = 0.0;
  double l1 = 0.0, l2 = 0.0;
  int counted = 0, n1 = 0, n2 = 0;
  for (int c = 1; c <= n; ++c) {
    if (lake_cell(ms, c)) continue;
    ++counted;
    if (has(ss.inf_rate, c)) inf += ss.inf_rate[c];
    if (has(ss.recharge_inc, c)) recharge += ss.recharge_inc[c];
    if (has(w.cfgi, c)) cfgi += w.cfgi[c];
    if (has(w.pet_rate, c)) pet += w.pet_rate[c] * seconds_per_hour;
    double theta = 0.0;
    if (ss.inf_richards && !ss.THETA.empty() && c <= ss.THETA.row_count()) {
      theta = ss.THETA[c][1];
    } else {
      const double wetted = has(ss.wt_depth_cm, c) ? ss.wt_depth_cm[c] : 0.0;
      const double layer1 = ss.inf_layered_soil && has(ss.soiltype, c)
                                ? ss.soil_types[ss.soiltype[c]].layer_depth[0]
                                : ss.zone_depth_upper;
      const double porosity = ss.inf_redist ? (has(ss.porosity_cell, c) ? ss.porosity_cell[c] : 0.0)
                              : has(ss.soiltype, c)
                                  ? ss.soil_types[ss.soiltype[c]].layer_porosity[0]
                                  : 0.0;
      if (wetted < 1e-16) {
        theta = porosity;
      } else {
        const double thick = std::fmin(wetted, layer1);
        theta = thick > 0.0 && has(ss.zone_water_upper, c) ? ss.zone_water_upper[c] / thick : 0.0;
        if (wetted_zone) {
          l1 += theta;
          ++n1;
          if (wetted > layer1 && has(ss.zone_water_lower, c)) {
            l2 += ss.zone_water_lower[c] / (wetted - layer1);
            ++n2;
          }
        }
      }
    }
    if (std::isnan(theta)) printf("Theta_all for cell %d is not a number \n", c);
    theta_sum += theta;
  }
  const double k = counted > 0 ? 1.0 / counted : 0.0;
  const double area = ms.gridsize * ms.gridsize;
  const double et_total = ss.soil_account.et_volume_total;
  const double aet = n > 0 ? (et_total - w.et_volume_hour_ago) / (area * n) * 100.0 : 0.0;
  ms.weather.et_volume_hour_ago = et_total;
  if (!ms.quiet)
    printf("%d/%d/%d %2d:00 PET cm/h %6.4lf AET cm/h %6.4lf Infil cm/h %6.4lf Theta %5.2lf \n",
           w.month, w.day, w.year, w.hour, pet * k, aet, inf * k, theta_sum * k);
  if (evap == nullptr) return;
  fprintf(evap, "%d/%d/%d  %2d:00 %12.6lf %12.6lf %12.6lf %12.6lf %12.6lf %12.6lf %12.6lf", w.year,
          w.month, w.day, w.hour, theta_sum * k, pet * k, aet, inf * k, recharge * k, cfgi * k,
          w.air_temp);
  if (wetted_zone)
    fprintf(evap, "%12.6lf   %12.6lf", n1 > 0 ? l1 / n1 : 999.99, n2 > 0 ? l2 / n2 : 999.99);
  fprintf(evap, "\n");
}

void run_evapo_trans(model_state& ms) {
  weather_state& w = ms.weather;
  subsurface_state& ss = ms.subsurface;
  et_weather e;
  e.air_temp = w.air_temp;
  e.pressure_mb = w.pressure;
  e.rel_humidity = w.rel_humidity;
  e.sky_cover = w.sky_cover;
  e.wind_speed = w.wind_speed;
  e.global_rad = w.global_rad;
  e.year = w.year;
  e.month = w.month;
  e.day = w.day;
  e.hour = w.hour;
  e.latitude = ms.latitude;
  e.seasonal_rs = ss.seasonal_rs;
  e.snow_present = ms.snow_present;
  et_views v;
  v.cell_count = ms.cell_count;
  v.penman = ss.et_penman != 0;
  v.albedo = cells_const(ss.albedo_cell);
  v.vheight = cells_const(ss.vheight_cell);
  v.tcoeff = cells_const(ss.tcoeff_cell);
  v.canopy_rs = cells_const(ss.canopy_cell);
  v.slope_x = cells_const(ms.overland.ov_slope_x);
  v.slope_y = cells_const(ms.overland.ov_slope_y);
  v.ov_depth = cells_const(ms.overland.ov_depth);
  v.swe = cells_const(ss.swe);
  if (ms.overland.area_reduction) v.area_reduction = cells_const(ms.overland.area_reduction_cell);
  v.surface_temp = cells_of(w.surface_temp);
  v.residual = cells_of(w.balance_residual);
  v.rate = cells_of(w.pet_rate);
  v.rate_copy = cells_of(ss.et_rate_water);
  v.rate_copy2 = cells_of(ss.et_rate_soil);
  const et_result r = evapo_trans(e, v);
  if (r.cloud_clipped)
    printf("WARNING: Cloud cover > 1.0 in evapo_trans.c - possible problem with hmet file \n");
  if (r.first_negative_ra_cell != 0)
    printf("%d negative aerodynamic resistance\n", r.first_negative_ra_cell);
  if (r.nan_ra) {
    printf("Ra is not a number in evapo-trans.c \n");
    w.nan_ra = 1;
  }
  if (r.capped_cells > 0) {
    w.newton_capped_cells += r.capped_cells;
    printf(
        "Warning: the surface energy balance of %d cells did not settle within %d passes at "
        "%d/%d/%d %d:00; their last surface temperatures are kept\n",
        r.capped_cells, et_newton_pass_cap, w.month, w.day, w.year, w.hour);
  }
}

// The Sacramento basin's evaporation demand for the coming hour: the potential
// evapotranspiration just computed, averaged over the cells that are not lake (cm in the hour).
void sacramento_demand(model_state& ms) {
  const weather_state& w = ms.weather;
  double pet = 0.0;
  int counted = 0;
  for (int c = 1; c <= ms.cell_count; ++c) {
    if (lake_cell(ms, c)) continue;
    ++counted;
    if (has(w.pet_rate, c)) pet += w.pet_rate[c] * seconds_per_hour;
  }
  ms.subsurface.sac_pet_cm = counted > 0 ? pet / counted : 0.0;
}

}  // namespace

void ltm_cell_decay(int cell_count, double air_temp, std::span<const double> swe,
                    std::span<const int> ov_lake, std::span<const int> lake,
                    std::span<double> cfgi) {
  const double k = air_temp < 0.0 ? 0.08 : 0.5;
  for (int c = 1; c <= cell_count; ++c) {
    if (!ov_lake.empty() && ov_lake[c] >= 1) continue;
    if (!lake.empty() && lake[c] >= 1) continue;
    const double snow = swe.empty() ? 0.0 : swe[c];
    const double v = cfgi[c] * 0.99875 - std::exp(-0.4 * k * 100.0 * snow) * air_temp / 24.0;
    cfgi[c] = v < 0.0 ? 0.0 : v;
  }
}

snow_result melt_snow(model_state& ms, double dt, bool rain_heat) {
  const weather_state& w = ms.weather;
  subsurface_state& ss = ms.subsurface;
  snow_weather sw;
  sw.air_temp = w.air_temp;
  sw.wind_speed = w.wind_speed;
  sw.rel_humidity = w.rel_humidity;
  sw.pressure_mb = w.pressure;
  snow_views v;
  v.cell_count = ms.cell_count;
  v.dt = dt;
  v.latent_fusion = ss.snow_param_b;
  v.snow_longwave = ss.snow_param_a;
  v.swe = cells_of(ss.swe);
  v.depth = cells_of(ms.overland.ov_depth);
  if (rain_heat) v.rain = cells_const(ms.overland.rain_cell);
  if (ms.overland.overland_lake_map) v.ov_lake = cells_const(ms.overland.oland_lake_new);
  if (ms.perennial_lakes) v.lake = cells_const(ms.channel.lake_mask);
  const snow_result r = snowmelt_energy_balance(sw, v);
  ms.weather.snowmelt_total += r.melt_depth * ms.gridsize * ms.gridsize;
  ms.snow_present = r.snow_left;
  if (r.melt_depth > 0.0) wake_surface_schedules(ms);
  return r;
}

bool weather_setup(model_state& ms) {
  if (!ms.long_term) return true;
  weather_state& w = ms.weather;
  subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  if (!ensure(w.surface_temp, n, "surface_temp") || !ensure(w.balance_residual, n, "residual") ||
      !ensure(w.pet_rate, n, "pet_rate") || !ensure(w.cfgi, n, "CFGI") ||
      !ensure(ss.swe, n, "swe") || !ensure(ss.et_rate_water, n, "et_rate_water") ||
      !ensure(ss.et_rate_soil, n, "et_rate_soil"))
    return false;
  if (!soil_account_setup(ms)) {
    stop_now();
    return false;
  }
  // A uniform initial snow water equivalent.
  if (ms.cards.init_swe_kind == 3) {
    for (int c = 1; c <= n; ++c) ss.swe[c] = ms.cards.init_swe_depth;
  }
  ms.snow_present = 0;
  w.snow_vol_initial = 0.0;
  const double area = ms.gridsize * ms.gridsize;
  for (int c = 1; c <= n; ++c) {
    if (!(ss.swe[c] > 0.0)) continue;
    ms.snow_present = 1;
    w.snow_vol_initial += ss.swe[c] * area;
  }
  return true;
}

void hydromet_et_step(model_state& ms) {
  if (!ms.long_term || ms.input.hmet_file.fp == nullptr) return;
  process_clock& clock = ms.hmet_clock;
  if (!(std::fabs(clock.next - ms.current_time) < ms.time_tolerance)) return;
  weather_state& w = ms.weather;
  // The first hour of the run melts nothing: the time before the run's start is not the run's.
  const double dt = w.record_counter == 1 ? 0.0 : (ms.current_time - clock.last) * seconds_per_day;

  // 2. The hour's record; a run started from its start-date cards first reads up to it.
  int got = read_hmet_record(ms, 2);
  if (ms.start_date_given && w.record_counter == 1) {
    while (got == 1 && julian_from_date(w.year, w.month, w.day, w.hour, 0, 0.0) <
                           ms.current_time - ms.time_tolerance)
      got = read_hmet_record(ms, 2);
  }
  if (got == -2) return;
  if (got == -1 && w.record_counter == 1) {
    stop_with_message(
        "Error: the hydrometeorological file %s ends before the run's start %d/%d/%d %d:00\n",
        ms.input.names.hmet_file, ms.cur_month, ms.cur_day, ms.cur_year, ms.cur_hour);
    return;
  }
  const bool in_event = ms.event_active != 0;
  if (got == -1) {
    // 3. End of the data: the last event runs to its end; otherwise the run ends here.
    if (!w.data_ended) {
      w.data_ended = 1;
      if (in_event && ms.event_number >= ms.overland.num_events) {
        clock.next = -10.0;
      } else {
        ms.run_flag = 0;
        printf("End of meteorology data reached.  TORVA terminated\n");
      }
    }
  } else {
    // 4-6. Report, evapotranspiration, lake evaporation; the schedule moves on.
    long_term_report(ms);
    run_evapo_trans(ms);
    if (ms.subsurface.sacramento) sacramento_demand(ms);
    if (!evaporate_channel_lakes(ms, w.wind_speed, w.air_temp, w.rel_humidity, w.lake_evap_total))
      return;
    clock.last = ms.current_time;
    clock.next = ms.current_time + clock.interval_days;
    w.record_counter += 1;
  }
  // 7. Frozen ground.
  ltm_cell_decay(ms.cell_count, w.air_temp, cells_const(ms.subsurface.swe),
                 ms.overland.overland_lake_map ? cells_const(ms.overland.oland_lake_new)
                                               : std::span<const int>(),
                 ms.perennial_lakes ? cells_const(ms.channel.lake_mask) : std::span<const int>(),
                 cells_of(w.cfgi));
  // 8. Snowmelt between events.
  if (ms.snow_present && !in_event && dt > 0.0) melt_snow(ms, dt, false);
}
