// Rainfall on the grid, called by the run driver at every pass of the time loop right after the
// precipitation record: apply_rainfall puts the rain of each overland step on the cells (after
// the canopy's share), on the lakes or on the snow store and books its volumes;
// apply_overland_point_sources adds the overland point sources on the same schedule.
#include "atmosphere/rainfall.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "atmosphere/atmosphere_steps.h"
#include "framework/core/block_sum.h"
#include "framework/core/error_state.h"
#include "framework/core/process_info.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "overland/overland_steps.h"
#include "subsurface/subsurface_steps.h"

namespace {

// A block's intensities are summed in this many running sums, cell first + k in sum k mod 8,
// added pairwise, so that the loop over the cells runs in vector lanes. Its rain volume is
// summed cell by cell in cell order: the run's water balance, whose sign at round-off the
// summary prints, stays as it was.
constexpr int rain_sum_lanes = 8;

double lane_sum(const double (&s)[rain_sum_lanes]) {
  return ((s[0] + s[1]) + (s[2] + s[3])) + ((s[4] + s[5]) + (s[6] + s[7]));
}

template <class T>
std::span<T> cells(raw_array1d<T>& a) {
  return {a.data(), a.element_count()};
}

template <class T>
std::span<const T> cells_const(const raw_array1d<T>& a) {
  return {a.data(), a.element_count()};
}

// A per-cell array the step needs was never made: the run cannot go on.
bool missing_array(const char* name, int cell_count) {
  stop_with_message("Error: the rainfall step has no array %s for the %d cells of the grid\n", name,
                    cell_count);
  return true;
}

bool due(double next, const model_state& ms) {
  return std::fabs(next - ms.current_time) < ms.time_tolerance;
}

// Seconds of rain in the overland step from `last` to `now` (Julian days). The step spans a
// whole number of the loop's steps of `loop_step` seconds; that number times the loop step is
// the length, because a difference of two Julian dates near 2.45e6 carries some 4e-5 s of
// rounding, which would make an event's rain differ from the integral of its records by parts
// in 1e8. A span that is no whole number of loop steps (to 0.01 s) is taken as it is.
double rain_seconds(double last, double now, double loop_step, double tolerance_days) {
  const double seconds = (now - last) * seconds_per_day;
  if (!(loop_step > 0.0)) return seconds;
  const double steps = std::round(seconds / loop_step);
  return std::fabs(seconds - steps * loop_step) < tolerance_days * seconds_per_day
             ? steps * loop_step
             : seconds;
}

// Rain on channel lakes and on overland lakes, cell by cell in cell order: a channel lake's cell
// gives its gross rain to the lake's volume and the lake totals (it is then no cell of the
// overland plane); an overland lake's cell gives the rain that reaches the ground (`intensity`)
// to its lake's volume change of the step, which the lake step takes into the lake's volume and
// its inflow total, and to nothing else: the cell's depth stays as it is (rain_onto_cells), so
// the rain is booked once.
void book_lake_rain(model_state& ms, double dt, std::span<const double> intensity) {
  overland_state& ov = ms.overland;
  channel_state& ch = ms.channel;
  const bool chan_lakes = ms.perennial_lakes && !ch.lake_mask.empty();
  const bool ov_lakes = ov.overland_lake_map && ov.olake_count > 0 && !ov.oland_lake_new.empty();
  if (!chan_lakes && !ov_lakes) return;
  const double area = ms.gridsize * ms.gridsize;
  for (int c = 1; c <= ms.cell_count; ++c) {
    const int chan_lake = chan_lakes && has(ch.lake_mask, c) ? ch.lake_mask[c] : 0;
    if (chan_lake > 0) {
      const double volume = dt * ov.rain_cell[c] * area / mm_per_h_in_m_per_s;
      if (has(ch.lake_volume, chan_lake)) ch.lake_volume[chan_lake] += volume;
      ov.lake_rain_volume += volume;
      ov.lake_precip_volume += volume;
      ov.lake_precip_event += volume;
      ov.total_precip_volume += volume;
      if (ms.transport.chan_con_trans && has(ms.lake_constit_water, chan_lake))
        ms.lake_constit_water[chan_lake] += volume;
      continue;
    }
    const int lake = ov_lakes && has(ov.oland_lake_new, c) ? ov.oland_lake_new[c] : 0;
    if (lake > 0 && lake <= ov.olake_count && has(ov.ov_lakes, lake)) {
      ov.ov_lakes[lake].rain_volume += dt * intensity[c] * area / mm_per_h_in_m_per_s;
      ov.olake_changed = 1;
    }
  }
}

}  // namespace

double interception_season_factor(int seasonal_rs, double latitude, int month) {
  if (seasonal_rs != 1 || month < 1 || month > 12) return 1.0;
  //                               Jan  Feb  Mar  Apr  May  Jun  Jul  Aug  Sep  Oct  Nov  Dec
  constexpr double south[] = {4.0, 4.0, 4.0, 2.5, 1.0, 1.0, 1.0, 1.0, 1.0, 2.5, 4.0, 4.0};
  constexpr double north[] = {4.0, 4.0, 4.0, 4.0, 3.0, 2.0, 1.0, 1.0, 1.0, 2.5, 4.0, 4.0};
  return latitude < 37.0 ? south[month - 1] : north[month - 1];
}

void rain_interception(int cell_count, double dt, std::span<const double> capacity,
                       std::span<const double> coeff, std::span<const double> gross,
                       std::span<double> net, std::span<double> used, double& interception_volume,
                       double dx, int month, int seasonal_rs, double latitude, int perennial_lakes,
                       std::span<const int> lake_mask) {
  const double f = interception_season_factor(seasonal_rs, latitude, month);
  const bool lakes = perennial_lakes != 0 && !lake_mask.empty();
  const double area = dx * dx;
  const auto block = [&](int first, int last) {
    double held_volume = 0.0;
    for (int i = first; i <= last; ++i) {
      const double p = gross[i];
      if (p < 0.0) {
        net[i] = 0.0;
        continue;
      }
      if (lakes && lake_mask[i] >= 1) {
        net[i] = p;
        continue;
      }
      const double storage = capacity[i] / f;
      const double k = coeff[i] / f;
      const double room = std::max(storage - used[i], 0.0);
      const double step_depth = p * dt / seconds_per_hour;  // mm
      double held = 0.0;
      if (room > step_depth) {
        net[i] = 0.0;
        held = step_depth;
      } else {
        // The storage fills in this step (or is full): what the canopy withholds is the room
        // left plus the share k of the rain beyond it, so that the ground gets the rest.
        const double through = room > 0.0 ? (step_depth - room) * seconds_per_hour / dt : p;
        net[i] = through * (1.0 - k);
        held = room + k * (step_depth - room);
      }
      used[i] += held;
      held_volume += held * area / 1000.0;
    }
    return held_volume;
  };
  interception_volume += block_ordered_sum<rain_sum_block_cells, double>(
      cell_count, 0.0, block, [](double& total, double part) { total += part; });
}

rain_cells_result rain_onto_cells(const rain_cells_views& v) {
  const bool lakes = !v.chan_lake.empty();
  const bool ov_lakes = !v.ov_lake.empty();
  const double area = v.dx * v.dx;
  const auto block = [&](int first, int last) {
    rain_cells_result part;
    if (!lakes && !ov_lakes && !v.snowing) {
      // Rain on every cell, eight cells at a time in the lanes of one vector of the compiler's
      // (cell first + k in lane k mod 8, as the sums ask); a depth that is no number is marked
      // and the first such cell looked for only then.
      const double* intensity = v.intensity.data();
      double* depth = v.depth.data();
      double* change = v.depth_change.data();
      const double dt = v.dt;
      double rate[rain_sum_lanes] = {};
      int nan = 0;
      int i = first;
      if (last - first + 1 >= rain_sum_lanes) {
        using pair = double __attribute__((vector_size(16)));
        using pair_flags = long long __attribute__((vector_size(16)));
        constexpr int pairs = rain_sum_lanes / 2;
        pair sums[pairs] = {};
        pair_flags bad{};
        const pair zero{};
        for (; i + (rain_sum_lanes - 1) <= last; i += rain_sum_lanes)
          for (int k = 0; k < pairs; ++k) {
            pair p;
            pair h;
            std::memcpy(&p, intensity + i + 2 * k, sizeof p);
            std::memcpy(&h, depth + i + 2 * k, sizeof h);
            sums[k] += p;
            const pair cell_volume = area * p * dt / mm_per_h_in_m_per_s;
            part.volume += cell_volume[0];
            part.volume += cell_volume[1];
            h += dt * p / mm_per_h_in_m_per_s;
            bad |= h != h;
            std::memcpy(depth + i + 2 * k, &h, sizeof h);
            std::memcpy(change + i + 2 * k, &zero, sizeof zero);
          }
        for (int k = 0; k < pairs; ++k) {
          rate[2 * k] = sums[k][0];
          rate[2 * k + 1] = sums[k][1];
        }
        nan = (bad[0] | bad[1]) != 0;
      }
      for (int l = 0; i <= last; ++i, ++l) {
        const double p = intensity[i];
        rate[l] += p;
        part.volume += area * p * dt / mm_per_h_in_m_per_s;
        const double h = depth[i] + dt * p / mm_per_h_in_m_per_s;
        depth[i] = h;
        nan |= h != h;
        change[i] = 0.0;
      }
      part.rate_sum = lane_sum(rate);
      if (nan != 0)
        for (int k = first; k <= last; ++k)
          if (std::isnan(depth[k])) {
            part.nan_cell = k;
            break;
          }
      return part;
    }
    // The same sums as above, a channel lake's cell adding nothing to its lane.
    double rate[rain_sum_lanes] = {};
    for (int i = first; i <= last; ++i) {
      if (lakes && v.chan_lake[i] > 0) {
        v.depth_change[i] = 0.0;
        continue;
      }
      const double intensity = v.intensity[i];
      rate[(i - first) % rain_sum_lanes] += intensity;
      part.volume += area * intensity * v.dt / mm_per_h_in_m_per_s;
      if (ov_lakes && v.ov_lake[i] > 0) {
        v.depth_change[i] = 0.0;
        continue;
      }
      const double step_depth = v.dt * intensity / mm_per_h_in_m_per_s;  // m
      if (v.snowing) {
        v.swe[i] += step_depth;
        ++part.snow_cells;
      } else {
        v.depth[i] += step_depth;
        if (std::isnan(v.depth[i]) && part.nan_cell == 0) part.nan_cell = i;
      }
      v.depth_change[i] = 0.0;
    }
    part.rate_sum = lane_sum(rate);
    return part;
  };
  return block_ordered_sum<rain_sum_block_cells, rain_cells_result>(
      v.cell_count, rain_cells_result{}, block,
      [](rain_cells_result& total, const rain_cells_result& part) {
        total.volume += part.volume;
        total.rate_sum += part.rate_sum;
        if (total.nan_cell == 0) total.nan_cell = part.nan_cell;
        total.snow_cells += part.snow_cells;
      });
}

double point_sources_onto_cells(int cell_count, double dt, double dx, std::span<const double> rate,
                                std::span<double> depth) {
  const double area = dx * dx;
  const auto block = [&](int first, int last) {
    double volume = 0.0;
    for (int i = first; i <= last; ++i) {
      depth[i] += dt * rate[i] / area;
      volume += dt * rate[i];
    }
    return volume;
  };
  return block_ordered_sum<rain_sum_block_cells, double>(
      cell_count, 0.0, block, [](double& total, double part) { total += part; });
}

void apply_rainfall(model_state& ms) {
  overland_state& ov = ms.overland;
  if (!due(ms.ov_clock.next, ms) || ov.rain_event_state != 1) return;
  const double dt =
      rain_seconds(ms.ov_clock.last, ms.current_time, ms.dt_seconds, ms.time_tolerance);
  const double dx = ms.gridsize;
  const int n = ms.cell_count;
  if (!holds(ov.rain_cell, n) && missing_array("rain_cell", n)) return;
  if (!holds(ov.ov_depth, n) && missing_array("ov_depth", n)) return;
  if (!holds(ov.ov_depth_change, n) && missing_array("ov_depth_change", n)) return;
  const raw_array1d<int>& lake_mask = ms.channel.lake_mask;
  const bool chan_lakes = ms.perennial_lakes && !lake_mask.empty();
  if (chan_lakes && !holds(lake_mask, n) && missing_array("lake_mask", n)) return;
  const bool ov_lakes = ov.overland_lake_map && ov.olake_count > 0 && !ov.oland_lake_new.empty();
  if (ov_lakes && !holds(ov.oland_lake_new, n) && missing_array("oland_lake_new", n)) return;

  if (ov.uniform_rain) ov.uniform_rain_steps += 1;

  if (ov.interception_on) {
    if (!holds(ov.interception_capacity, n) && missing_array("interception_capacity", n)) return;
    if (!holds(ov.interception_coeff, n) && missing_array("interception_coeff", n)) return;
    if (!holds(ov.interception_storage, n) && missing_array("interception_storage", n)) return;
    if (!holds(ov.net_rain_cell, n) && missing_array("net_rain_cell", n)) return;
    rain_interception(n, dt, cells_const(ov.interception_capacity),
                      cells_const(ov.interception_coeff), cells_const(ov.rain_cell),
                      cells(ov.net_rain_cell), cells(ov.interception_storage),
                      ov.interception_volume, dx, ms.cur_month, ms.subsurface.seasonal_rs,
                      ms.latitude, ms.perennial_lakes, cells_const(lake_mask));
  }

  if (ov.overland_lake_map && ov.olake_count > 0) {
    for (int lake = 1; lake <= ov.olake_count && has(ov.ov_lakes, lake); ++lake)
      ov.ov_lakes[lake].rain_volume = 0.0;
  }
  const std::span<const double> ground =
      ov.interception_on ? cells_const(ov.net_rain_cell) : cells_const(ov.rain_cell);
  book_lake_rain(ms, dt, ground);

  // Below freezing, a long-term run stores the precipitation as snow.
  const bool snowing = ms.long_term && ms.air_temp < 0.0;
  if (snowing && !holds(ms.subsurface.swe, n) && missing_array("swe", n)) return;
  rain_cells_result rain;
  // Where nothing changes the depths between this step and the infiltration due in this pass
  // (no lakes, no snow, no overland point sources), the rain goes onto the cells in the
  // infiltration's own pass, just before each cell infiltrates: one pass over the depths instead
  // of two, the same depths and sums to the last bit. That pass also takes the overland step's
  // scan of the depths. The routing's depth change, which every scheme writes before it reads
  // it, is then left as it is.
  const bool point_sources = ms.transport.ov_con_trans && ov.ov_point_source;
  bool taken = false;
  if (!snowing && !chan_lakes && !ov_lakes && !point_sources && infiltration_takes_rain(ms)) {
    const infiltration_rain_result r =
        infiltration_with_rain(ms, ov.interception_on ? ov.net_rain_cell : ov.rain_cell, dt);
    if (r.taken) {
      taken = true;
      rain.volume = r.rain_volume;
      rain.rate_sum = r.rain_rate_sum;
      rain.nan_cell = r.rain_nan_cell;
      ov.depth_scan_taken = 1;
      ov.depth_scan_any_depth = r.any_depth;
      ov.depth_scan_bad_cell = r.nan_cell;
    }
  }
  if (!taken) {
    rain_cells_views v;
    v.cell_count = n;
    v.dt = dt;
    v.dx = dx;
    v.intensity = ground;
    if (chan_lakes) v.chan_lake = cells_const(lake_mask);
    if (ov_lakes) v.ov_lake = cells_const(ov.oland_lake_new);
    v.depth = cells(ov.ov_depth);
    v.depth_change = cells(ov.ov_depth_change);
    v.swe = cells(ms.subsurface.swe);
    v.snowing = snowing;
    rain = rain_onto_cells(v);
  }
  if (rain.nan_cell != 0) {
    stop_with_message(
        "A non-real number for water depth has been detected for overland cell %d after "
        "applying rainfall\n",
        rain.nan_cell);
    return;
  }
  ms.event_rain_vol += rain.volume;
  ov.total_precip_volume += rain.volume;
  ov.rain_rate_sum += rain.rate_sum;
  if (rain.snow_cells > 0) ms.snow_present = 1;

  if (ov.rain_rate_sum > 0.0) {
    ov.rain_steps += 1;
    if (ov.first_rain_pending) {
      ov.first_rain_pending = 0;
      ov.first_rain_minutes = ms.elapsed_minutes;
    }
  }
  // Above freezing, rain on snow melts it with the heat the rain carries.
  if (ms.long_term && ms.snow_present && ms.air_temp > 0.0) melt_snow(ms, dt, true);
}

void apply_overland_point_sources(model_state& ms) {
  overland_state& ov = ms.overland;
  const process_clock& copy = ms.transport.ov_con_clock;
  if (!ms.transport.ov_con_trans || !ov.ov_point_source) return;
  if (!(copy.next - ms.current_time < ms.time_tolerance)) return;
  const double dt = (ms.current_time - copy.last) * seconds_per_day;
  const int n = ms.cell_count;
  if (!holds(ov.ov_point_rate, n) && missing_array("ov_point_rate", n)) return;
  if (!holds(ov.ov_depth, n) && missing_array("ov_depth", n)) return;

  const double volume = point_sources_onto_cells(n, dt, ms.gridsize, cells_const(ov.ov_point_rate),
                                                 cells(ov.ov_depth));
  ov.ov_point_volume_event += volume;
  ov.ov_point_volume_total += volume;

  // Overland flow and infiltration are due no later than one overland interval from now.
  const double now = ms.current_time;
  const double soon = now + ms.ov_clock.interval_days;
  for (process_clock* clock : {&ms.ov_clock, &ms.infil_clock}) {
    if (clock->next > soon) {
      clock->next = soon;
      if (clock->last > now) clock->last = now;
    }
  }

  // Green-Ampt with redistribution starts fresh wetting fronts once per event.
  if (ms.subsurface.inf_redist == 1 && !ms.subsurface.inf_active)
    restart_wetting_fronts(ms, {.book_gap_water_every_run = true, .average_saturation = false});
}
