// Start-up of the run's time line and water state, called by run_project in this order: the
// event scan (after cell connectivity and slopes), the lake and soil reset (before the initial
// channel state), the initial overland volume and the simulation clock (just before the
// analyzers are read).
#include "run/event_control.h"

#include <cmath>
#include <cstdio>

#include "atmosphere/atmosphere_steps.h"
#include "atmosphere/hydromet_input.h"
#include "atmosphere/precip_file.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
#include "framework/core/process_info.h"
#include "framework/core/raw_arrays.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "input/run_parameters.h"
#include "output/output_steps.h"
#include "subsurface/subsurface_steps.h"

namespace {

constexpr double time_tolerance_days = 1.1574074074074074e-07;  // 0.01 s
constexpr double hour_days = 0.041666666666666664;              // 3600 s

FILE* summary_fp(model_state& ms) {
  return ms.output.summary_file.fp;
}

// Console lines of the start-up: not with SUPER_QUIET, only on the first process.
bool console_on(const model_state& ms) {
  return !ms.super_quiet && process_info.process_rank == 0;
}

template <class T>
void zero_at(raw_array1d<T>& a, int i) {
  if (has(a, i)) a[i] = T{};
}

// Start of event k of the table, 0 outside it.
double event_start(const model_state& ms, int k) {
  return k >= 1 && k <= max_precip_events ? ms.event_start_jday[k] : 0.0;
}

void set_interval(process_clock& clock, double seconds) {
  clock.interval_seconds = seconds;
  clock.interval_days = seconds / seconds_per_day;
}

bool any_infiltration(const subsurface_state& ss) {
  return ss.green_ampt || ss.inf_redist || ss.inf_richards || ss.inf_layered_soil;
}

// Some channel lake starts with its water surface above its minimum elevation.
bool lake_above_minimum(const channel_state& ch) {
  for (int lake = 1; lake <= ch.num_lakes; ++lake)
    if (has(ch.initwse, lake) && has(ch.minwse, lake) && ch.initwse[lake] > ch.minwse[lake])
      return true;
  return false;
}

bool tev_summary_mode(const model_state& ms) {
  return ms.tev && ms.tev_event_num_given && ms.tev_event_num == 0;
}

// Writes the TEV event summary: the event count and each event's start.
void write_tev_summary(model_state& ms, int num_events) {
  FILE* fp = ms.output.tev_summary_file.fp;
  fprintf(fp, "%d\n", num_events);
  for (int k = 1; k <= num_events; ++k) {
    date_from_julian(ms.event_start_jday[k], ms.cur_year, ms.cur_month, ms.cur_day, ms.cur_hour,
                     ms.cur_minute, ms.cur_second_real);
    fprintf(fp, "%4d %2d %2d %2d %2d\n", ms.cur_year, ms.cur_month, ms.cur_day, ms.cur_hour,
            ms.cur_minute);
  }
  file_handle_close(ms.output.tev_summary_file);
  printf("TORVA wrote precipitation data event summary to file: exchange/TEV_PRECIP.SUM\n");
  printf("No simulations performed.  TORVA terminated.\n\n");
  raise_own_message();
}

// The precipitation file's events into the event table; false after an error (message printed,
// code set).
bool read_event_table(model_state& ms) {
  overland_state& ov = ms.overland;
  const char* file_name = ms.input.names.precip_file;
  if (tev_summary_mode(ms) &&
      !file_handle_open(ms.output.tev_summary_file, "exchange/TEV_PRECIP.SUM", "w")) {
    printf("Unable to open file TEV_PRECIP.SUM for writing. Program terminated\n");
    raise_own_message();
    return false;
  }

  int count = 0;
  int last_date[3] = {};  // year, month, day of the last event read
  bool radar_met = false;
  for (;;) {
    const int result = read_precip_event(ms, ms.input.raingage_file);
    if (result == 1) {
      if (count == max_precip_events) {
        printf(
            "Error: the precipitation file %s holds more than %d events, the most a run can "
            "simulate.\n",
            file_name, max_precip_events);
        raise_own_message();
        return false;
      }
      ++count;
      const int* first = ov.rain_events[1].value;
      last_date[0] = first[0];
      last_date[1] = first[1];
      last_date[2] = first[2];
      ms.event_start_jday[count] =
          julian_from_date(first[0], first[1], first[2], first[3], first[4], 0.0);
      if (ov.precip_radar == 2) radar_met = true;
      continue;
    }
    if (result == -1) {
      printf("Unexpected end of file in rain gage data file.\n");
      printf("Check the format of the data file.\nProgram terminated.");
      printf("Check rain event %d, event after %d %d %d \n", count + 1, last_date[0], last_date[1],
             last_date[2]);
      raise_own_message();
      return false;
    }
    // 0: the end of the file, or a format error already reported.
    if (run_error.error_code != 0 || run_error.error_fatal != 0) return false;
    break;
  }

  if (!ms.quiet) {
    printf("End of precipitation input file reached.\n");
    if (ms.long_term && !ms.tev) {
      printf("Precip. file contains %d events\n", count);
    } else if (!ms.long_term && !ms.tev) {
      printf("Precip. file contains %d events, simulating first event only\n", count);
      printf("because LONG_TERM project file card not set in project file.\n");
    } else {
      printf("Precip. file contains %d events.\n", count);
    }
  }
  // A file without an event gives the run no start time.
  if (count == 0) {
    printf("Error: the precipitation file %s holds no event.\n", file_name);
    raise_own_message();
    return false;
  }
  ov.num_events = (!ms.long_term && !ms.tev) ? 1 : count;

  if (radar_met) {
    radar_grid_record& radar = ov.radar_grid;
    radar.model_west = ms.map_west;
    radar.model_north = ms.map_north;
    radar.model_cell_size = ms.gridsize;
    radar.model_cols = ms.map_cols;
    radar.model_rows = ms.map_rows;
    radar.model_cell_count = ms.cell_count;
    // Read by the per-cell rainfall loops, so a raw array: one entry per cell, zeroed.
    if (ov.torva_to_precip.count() < ms.cell_count) {
      alloc_1d_int(ov.torva_to_precip, ms.cell_count, "torva_to_precip");
      if (ov.torva_to_precip.empty()) {
        raise_own_message();
        return false;
      }
    }
  }
  rewind(ms.input.raingage_file.fp);

  if (tev_summary_mode(ms)) {
    write_tev_summary(ms, ov.num_events);
    return false;
  }
  if (ms.tev && ms.tev_event_num_given &&
      (ms.tev_event_num > ov.num_events || ms.tev_event_num < 0)) {
    printf("\n\nTEV has requested that TORVA run event %d.\n", ms.tev_event_num);
    printf("The precip file specified in the project file: %s\n", file_name);
    printf("contains only %d events.  PROGRAM TERMINATED.\n\n", ov.num_events);
    raise_own_message();
    return false;
  }
  return true;
}

}  // namespace

void carry_hour_24(int date[4]) {
  if (date[3] != 24) return;
  date[3] = 0;
  date[2] += 1;
  // February by the rule of the date's year, whatever the table held before.
  set_february_days(date[0]);
  if (date[1] >= 1 && date[1] <= 12 && date[2] > month_days[date[1]]) {
    date[2] = 1;
    date[1] += 1;
    if (date[1] > 12) {
      date[1] = 1;
      date[0] += 1;
    }
  }
}

void scan_hmet_span(model_state& ms) {
  if (!weather_setup(ms)) return;
  if (read_hmet_record(ms, 1) != 0 || run_error.error_code != 0) return;
  // The first date is normalised before the last.
  carry_hour_24(ms.hmet_first_date);
  carry_hour_24(ms.hmet_last_date);
  const int* first = ms.hmet_first_date;
  ms.start_hhmm = first[3] * 100;
  ms.start_yyyymmdd = first[0] * 10000 + first[1] * 100 + first[2];
}

void list_precip_events(model_state& ms) {
  // Optimisation output.
  if (ms.calibration.optimize_on) {
    char* name = ms.calibration.optimize_name;
    if (name[0] == '\0') snprintf(name, sizeof ms.calibration.optimize_name, "torva_optim.out");
    if (!file_handle_open(ms.input.optimize_file, name, "w")) {
      // On the console stream of error_report, so that its report follows this line.
      printf("Problem opening optimization output file named:%s for writing\n", name);
      raise_own_message();
      return;
    }
    ms.calibration.loc_peak.allocate(100);
    ms.calibration.loc_peak_aux.allocate(100);
    if (!ms.super_quiet) fprintf(stderr, "writing output for optimization to file %s\n", name);
    if (summary_fp(ms) != nullptr)
      fprintf(summary_fp(ms), "writing output for optimization to file %s\n", name);
  }

  if (ms.quiet) {
    const char* file_name = ms.input.names.precip_file;
    if (console_on(ms)) printf("using precipitation data from file: %s\n", file_name);
    if (summary_fp(ms) != nullptr)
      fprintf(summary_fp(ms), "using precipitation data from file: %s\n", file_name);
    if (tev_summary_mode(ms))
      printf("\n\nReading precip file to write TEV summary in file: TEV_PRECIP.SUM\n");
  }

  if (!ms.overland.uniform_rain) {
    if (!ms.input.raingage_file.is_open()) {
      printf("Error: the precipitation file %s is not open.\n", ms.input.names.precip_file);
      raise_own_message();
      return;
    }
    if (!read_event_table(ms)) return;
  }

  // Inside TEV every run is an event run.
  if (ms.tev) ms.long_term = 0;
}

void scan_precip_events(model_state& ms) {
  if (ms.long_term) {
    scan_hmet_span(ms);
    if (run_error.error_code != 0 || run_error.error_fatal != 0) return;
  }
  list_precip_events(ms);
}

void init_lake_and_soil_state(model_state& ms) {
  // VOLP's moisture is the soil's starting moisture, in the water counted below.
  read_volp_start_moisture(ms);
  if (run_error.error_fatal) return;
  subsurface_state& ss = ms.subsurface;
  const double area = ms.gridsize * ms.gridsize;
  const bool schemes = any_infiltration(ss);
  const bool water_table = ss.water_table_on && !ss.elevgw.empty() && !ms.cell_elev.empty();

  // The aquifer under the redistribution soil holds its water by the soil's depth in any run.
  if (ss.gw_simulation) redistribution_zone_depths(ms);
  if (ss.green_ampt || ss.inf_redist) {
    if (ss.zone_depth_upper < 1e-16) ss.zone_depth_upper = ss.init_unsat_depth_cm;
    if (ms.transport.soil_depth_cm < 1e-16) ms.transport.soil_depth_cm = ss.zone_depth_upper;
  }

  for (int c = 1; c <= ms.cell_count; ++c) {
    if (ss.gw_simulation) zero_at(ss.gw_flux, c);
    if (!schemes) continue;
    for (raw_array1d<double>* a : {&ss.inf_depth_cum, &ss.inf_depth_prev, &ss.inf_rate,
                                   &ss.inf_depth_total, &ss.inf_depth_longterm, &ss.exfil_cum})
      zero_at(*a, c);
    if (ss.inf_richards) {
      if (has(ss.bound_type, c)) ss.bound_type[c] = 1;
      zero_at(ss.inf_rich, c);
      // A held table at or above the ground (its column built as one saturated node) gives its
      // water to the surface, and takes surface water back, through the column by Darcy's law;
      // a simulated aquifer gives its own water in its step instead.
      const bool lake_cell =
          ms.perennial_lakes && has(ms.channel.lake_mask, c) && ms.channel.lake_mask[c] > 0;
      if (!ss.gw_simulation && water_table && has(ss.yes_exfil, c) && ss.yes_exfil[c] == 1 &&
          !lake_cell)
        ms.gw_at_surface = 1;
    }
    if (ss.inf_redist) {
      for (raw_array1d<int>* a : {&ss.iter_pond_1, &ss.iter_n, &ss.iter_i_less_k, &ss.no_wat_prof})
        zero_at(*a, c);
      zero_at(ss.redist_front_depth, c);
      const double theta = has(ss.theta_init, c) ? ss.theta_init[c] : 0.0;
      if (has(ss.redist_front_theta, c)) ss.redist_front_theta[c] = theta;
      if (has(ss.surf_moist, c)) ss.surf_moist[c] = theta;
    }
    if (!ss.redistribution_on) {
      zero_at(ss.wetdep, c);
      if (ms.long_term) {
        zero_at(ss.recharge_inc, c);
        zero_at(ss.et_cum_cell, c);
      }
      continue;
    }

    // Soil moisture kept between events: the unsaturated depth above the water table.
    zero_at(ss.yes_exfil, c);
    zero_at(ss.soil_water_total, c);
    const int type = has(ss.soiltype, c) ? ss.soiltype[c] : 0;
    const soil_table_record& soil = ss.soil_types[type >= 0 && type < max_soil_types ? type : 0];
    double depth =
        ss.inf_redist ? ss.init_unsat_depth_cm : soil.layer_depth[0] + soil.layer_depth[1];
    if (water_table && has(ss.elevgw, c) && has(ms.cell_elev, c)) {
      const double surface = ms.cell_elev[c];
      const double table = ss.elevgw[c];
      if (table >= surface) {
        if (ss.inf_redist && has(ss.theta_init, c) && has(ss.porosity_cell, c))
          ss.theta_init[c] = ss.porosity_cell[c];
        if (ss.inf_layered_soil && !ss.THETA_ML.empty() && c <= ss.THETA_ML.row_count())
          for (int k = 1; k <= 3 && k <= ss.THETA_ML.col_count(); ++k)
            ss.THETA_ML[c][k] = soil.layer_porosity[k - 1];
        depth = 0.0;
        if (has(ss.yes_exfil, c)) ss.yes_exfil[c] = 1;
        const bool lake_cell =
            ms.perennial_lakes && has(ms.channel.lake_mask, c) && ms.channel.lake_mask[c] > 0;
        if (!lake_cell) ms.gw_at_surface = 1;
      } else if (surface - table < depth / 100.0) {
        depth = 100.0 * (surface - table);
      }
    }
    if (has(ss.wt_depth_cm, c)) ss.wt_depth_cm[c] = depth;
    if (ss.gw_simulation && has(ss.gw_inf_redist_theta, c) && has(ss.gw_porosity, c))
      ss.gw_inf_redist_theta[c] = ss.gw_porosity[c] * ss.single_unsat_sat;

    // Initial soil water (cm): upper zone and the part below it, or layer by layer.
    double upper = 0.0;
    double lower = 0.0;
    if (ss.inf_redist) {
      const double theta = has(ss.theta_init, c) ? ss.theta_init[c] : 0.0;
      const double upper_depth = depth < ss.zone_depth_upper ? depth : ss.zone_depth_upper;
      upper = theta * upper_depth;
      lower = theta * (depth - upper_depth);
    } else if (ss.inf_layered_soil && !ss.THETA_ML.empty() && c <= ss.THETA_ML.row_count() &&
               ss.THETA_ML.col_count() >= 2) {
      const double d1 = soil.layer_depth[0];
      const double in_first = depth < d1 ? depth : d1;
      double in_second = depth - d1;
      if (in_second < 0.0) in_second = 0.0;
      if (in_second > soil.layer_depth[1]) in_second = soil.layer_depth[1];
      upper = ss.THETA_ML[c][1] * in_first;
      lower = ss.THETA_ML[c][2] * in_second;
    }
    if (has(ss.zone_water_upper, c)) ss.zone_water_upper[c] = upper;
    if (has(ss.zone_water_lower, c)) ss.zone_water_lower[c] = lower;
    if (has(ss.soil_water_total, c)) ss.soil_water_total[c] = upper + lower;
    ms.soil_vol_initial += (upper + lower) / 100.0 * area;
  }

  // Second pass: groundwater, overland lakes and the water of the unsaturated soil.
  double vadose = 0.0;
  const overland_state& ov = ms.overland;
  for (int c = 1; c <= ms.cell_count; ++c) {
    if (ss.gw_simulation) ms.gw_vol_initial += gw_aquifer_water(ms, c);
    if (ov.overland_lake_map && has(ov.oland_lake_mask, c) && has(ms.cell_elev, c)) {
      const int lake = ov.oland_lake_mask[c];
      if (lake >= 1 && lake <= ov.olake_count && has(ov.ov_lakes, lake)) {
        const double surface = ov.ov_lakes[lake].surface_elev;
        if (surface < ms.cell_elev[c]) {
          printf("\nWARNING: initial water surface elevation in lake %d is %f which is\n", lake,
                 surface);
          printf("less than the land surface elevation in grid cell %d, %f.\n", c, ms.cell_elev[c]);
          printf("You should either raise your initial lake elevation or lower that grid\n");
          printf("cell elevation.  Program stopped.\n");
          raise_own_message();
          return;
        }
        ms.lake_vol_initial += (surface - ms.cell_elev[c]) * area;
      }
    }
    if (ss.redistribution_on && has(ss.soil_water_total, c))
      vadose += ss.soil_water_total[c] / 100.0 * area;
    if (ss.inf_richards && has(ss.numcells, c) && !ss.THETA.empty() && !ss.DZ.empty() &&
        c <= ss.THETA.row_count() && c <= ss.DZ.row_count()) {
      // The soil water of a column is that of its solved nodes; the bottom node is its
      // boundary (the water table or the free-drainage mirror of the node above).
      const int nodes = ss.numcells[c];
      double column = 0.0;
      for (int n = 1; n <= nodes - 1 && n <= ss.THETA.col_count() && n <= ss.DZ.col_count(); ++n)
        column += ss.THETA[c][n] * ss.DZ[c][n] / 100.0 * area;
      vadose += column;
      ms.soil_vol_initial += column;
    }
  }
  ss.vadose_vol_initial = vadose;
  ss.subsurface_vol_initial = vadose + ms.gw_vol_initial;
}

void compute_initial_overland_volume(model_state& ms) {
  const overland_state& ov = ms.overland;
  double total = 0.0;
  if (ov.ov_depth.empty()) {
    ms.ov_vol_initial = 0.0;
    return;
  }
  for (int c = 1; c <= ms.cell_count && c <= ov.ov_depth.count(); ++c) {
    if (ov.overland_lake_map) {
      if (has(ov.oland_lake_mask, c) && ov.oland_lake_mask[c] > 0) continue;
    } else if (ms.perennial_lakes && has(ms.channel.lake_mask, c) && ms.channel.lake_mask[c] > 0) {
      continue;
    }
    total += ms.gridsize * ov.ov_depth[c] * ms.gridsize;
  }
  ms.ov_vol_initial = total;
}

namespace {

// 1. A long-term run starts with the hydrometeorological data, or at START_DATE with the first
// event that does not start before it. False (message printed) when no event is left.
bool start_long_term_clock(model_state& ms) {
  const overland_state& ov = ms.overland;
  const grid_time_params& g = ms.grid_params;
  if (!ms.long_term) return true;
  const int* first = ms.hmet_first_date;
  const int* last = ms.hmet_last_date;
  ms.hmet_start_jday = julian_from_date(first[0], first[1], first[2], first[3], 0, 0.0);
  ms.hmet_end_jday = julian_from_date(last[0], last[1], last[2], last[3], 0, 0.0);
  ms.start_hhmm = first[3] * 100;
  ms.start_yyyymmdd = first[0] * 10000 + first[1] * 100 + first[2];
  if (g.start_year != 0) {
    ms.start_date_given = 1;
    ms.current_time = set_clock_to_card_start(ms);
    // The first event that does not start before the start date; the search ends with the
    // last event of the table.
    ms.first_event = 0;
    for (int k = 1; k <= ov.num_events && k <= max_precip_events; ++k) {
      if (ms.current_time <= ms.event_start_jday[k]) {
        ms.first_event = k;
        break;
      }
    }
    if (ms.first_event == 0) {
      printf(
          "Error: the start date %02d/%02d/%4d %02d:%02d lies after the start of every "
          "event in the precipitation file %s; there is no event to simulate.\n",
          ms.cur_month, ms.cur_day, ms.cur_year, ms.cur_hour, ms.cur_minute,
          ms.input.names.precip_file);
      raise_own_message();
      return false;
    }
  }
  return true;
}

// 2-3. The start of a run of a precipitation file, the clock's step and tolerance, and the
// event totals empty.
void start_clock_and_totals(model_state& ms, bool tev_event) {
  subsurface_state& ss = ms.subsurface;
  overland_state& ov = ms.overland;
  // 2. Runs of a precipitation file that are not long-term start with the first event.
  if (!ms.long_term && !ov.uniform_rain) ms.hmet_start_jday = event_start(ms, 1);

  // 3. The clock's step and tolerance; the event totals start empty.
  ms.dt_days = ms.dt_seconds / seconds_per_day;
  ms.time_tolerance = time_tolerance_days;
  ms.event_rain_vol = 0.0;
  ms.peak_outlet_q = 0.0;
  ms.event_start_ov_sum = 0.0;
  ms.event_start_ov_vol = 0.0;
  ms.ov_vol_now = 0.0;
  ms.event_ended = 0;
  ms.event_over = 0;
  ss.infil_step_count = 0;
  ov.cur_event = 1;
  if (!ms.start_date_given) ms.current_time = ms.hmet_start_jday;
  if (ms.tev) ms.current_time = event_start(ms, tev_event ? ms.tev_event_num : 1);
}

// 4a. The overland schedule (and the nutrients', which follow it).
void schedule_overland(model_state& ms, bool tev_event, bool wet_start) {
  const grid_time_params& g = ms.grid_params;
  const double now = ms.current_time;

  process_clock& ovc = ms.ov_clock;
  set_interval(ovc, g.timestep);
  ovc.next = (!ms.long_term || wet_start) ? now : event_start(ms, 1);
  ovc.last = ovc.next - ovc.interval_days;
  if (ms.long_term && ms.start_date_given) {
    ovc.last = event_start(ms, ms.first_event);
    ovc.next = ovc.last + ovc.interval_days;
  }
  // Without channels the surface carries the Sacramento basin's outflow out of the watershed
  // from the first hour on, not from the first storm.
  const bool basin_leaves_at_outlet = ms.subsurface.sacramento && !ms.channel.chan_explic;
  if (tev_event || (ms.long_term && basin_leaves_at_outlet)) {
    ovc.next = now;
    ovc.last = ovc.next - ovc.interval_days;
  }
  if (ms.transport.nutrients) ms.transport.nsm_clock = ovc;
}

// 4b. The schedules of the weather, groundwater, Sacramento basin, infiltration and soil
// moisture.
void schedule_weather_and_soil(model_state& ms, bool tev_event, bool wet_start, int from_event) {
  subsurface_state& ss = ms.subsurface;
  const grid_time_params& g = ms.grid_params;
  const double now = ms.current_time;
  if (ms.long_term) {
    set_interval(ms.hmet_clock, seconds_per_hour);
    ms.hmet_clock.interval_days = hour_days;
    ms.hmet_clock.next = now;
    ms.hmet_clock.last = now - hour_days;
  }

  if (ss.gw_simulation) {
    set_interval(ms.gw_clock, ss.gw_time_step);
    ms.gw_clock.last = now;
    ms.gw_clock.next = now + ms.gw_clock.interval_days;
  }

  if (ss.sacramento) {
    set_interval(ms.sac_clock, seconds_per_hour);
    ms.sac_clock.interval_days = hour_days;
    ms.sac_clock.next = now;
    ms.sac_clock.last = now - hour_days;
  }

  if (any_infiltration(ss)) {
    process_clock& inf = ms.infil_clock;
    if (ss.inf_richards && ms.long_term && !wet_start) {
      double seconds = seconds_per_hour;
      if (ss.gw_simulation && ms.gw_clock.interval_seconds < seconds)
        seconds = ms.gw_clock.interval_seconds;
      set_interval(inf, seconds);
    } else {
      set_interval(inf, g.timestep);
    }
    if (!ms.long_term || wet_start || ss.inf_richards) {
      inf.last = now;
      if (ss.inf_redist) ss.inf_active = 1;
    } else {
      inf.last = event_start(ms, from_event);
    }
    inf.next = inf.last + inf.interval_days;
    if (tev_event) {
      inf.last = now;
      inf.next = now + ms.dt_days;
    }
    if (ss.gw_simulation && ms.gw_clock.interval_seconds > inf.interval_seconds &&
        !ss.redistribution_on) {
      set_interval(ms.gw_clock, inf.interval_seconds);
      ms.gw_clock.last = now;
      ms.gw_clock.next = now + ms.gw_clock.interval_days;
    }
  }

  if (ss.redistribution_on) {
    if (!ms.long_term || wet_start) {
      ms.soil_et_clock = ms.infil_clock;
    } else {
      set_interval(ms.soil_et_clock, seconds_per_hour);
      ms.soil_et_clock.interval_days = hour_days;
      ms.soil_et_clock.next = now + hour_days;
      ms.soil_et_clock.last = now;
      if (ms.start_date_given) {
        ms.soil_et_clock.next = now;
        ms.soil_et_clock.last = now - ms.dt_days;
      }
    }
  }
}

// 4c. The schedules of the channels, their constituents and the pipe network.
void schedule_channels_and_pipes(model_state& ms, bool tev_event, int from_event) {
  subsurface_state& ss = ms.subsurface;
  const grid_time_params& g = ms.grid_params;
  const double now = ms.current_time;
  channel_state& ch = ms.channel;
  if (ch.chan_explic) {
    ch.chan_timestep = ms.timestep;
    process_clock& cc = ms.chan_clock;
    set_interval(cc, ms.timestep);
    cc.last = (!ms.long_term || ch.chan_lake_flag) ? ms.hmet_start_jday : event_start(ms, 1);
    if (ms.start_date_given) cc.last = event_start(ms, ms.first_event);
    cc.next = cc.last + cc.interval_days;
    // A perennial lake above its minimum level moves water from the start: the channel runs
    // from now on, on a step of at least a minute.
    if (ms.perennial_lakes && lake_above_minimum(ch)) {
      set_interval(cc, ms.timestep > 60.0 ? ms.timestep : 60.0);
      cc.last = now;
      cc.next = cc.last + cc.interval_days;
      ch.chan_lake_flag = 1;
      ch.lake_growing = 1;
    }
    if (tev_event) {
      cc.last = now;
      cc.next = now + ms.dt_days;
    }
    if (ms.transport.chan_con_trans) {
      ms.transport.chan_con_clock = cc;
      if (ms.transport.soil_con_trans) ms.transport.soil_con_clock = cc;
      if (ss.gw_simulation) ms.transport.gw_con_clock = cc;
    }
  }

  if (ch.storm_sewer) {
    process_clock& sc = ms.superlink_clock;
    set_interval(sc, g.timestep);
    // Leaky pipes draining the groundwater work between events too.
    const bool pipes_drain_groundwater = ch.superlink_leaky && ss.gw_simulation;
    sc.last = (!ms.long_term || ms.gw_at_surface || pipes_drain_groundwater)
                  ? now
                  : event_start(ms, from_event);
    sc.next = sc.last + sc.interval_days;
  }
}

// 4d. The schedules of the overland constituents, which follow the overland and infiltration
// schedules (an overland point source starts them now).
void schedule_overland_constituents(model_state& ms) {
  const overland_state& ov = ms.overland;
  process_clock& ovc = ms.ov_clock;
  const double now = ms.current_time;
  if (ms.transport.ov_con_trans) {
    ms.transport.ov_con_clock = ovc;
    ms.transport.ov_con_infil_clock = ms.infil_clock;
    if (ov.ov_point_source) {
      ms.transport.ov_con_clock.last = now;
      ms.transport.ov_con_clock.next = now + ovc.interval_days;
      ovc.last = now;
      ms.infil_clock.last = now;
    }
  }
}

// 5-6. Precipitation: uniform rain starts at once (and needs its start date), file events at
// their start. False (message printed) when uniform rain has no start date.
bool start_precipitation(model_state& ms, bool tev_event) {
  overland_state& ov = ms.overland;
  const grid_time_params& g = ms.grid_params;
  const double now = ms.current_time;
  // 5. Precipitation: uniform rain starts at once, file events at their start.
  if (ov.uniform_rain) {
    ms.event_number = 1;
    ov.rain_event_state = 1;
    ov.precip_record_count =
        g.timestep > 0.0 ? static_cast<int>(ov.rain_duration * 60.0 / g.timestep) : 0;
    ms.next_event_time = now;
    // The uniform event begins with the run: its initialisation (and with it the end time of
    // the run) is due at the first pass.
    ms.event_start_time = now;
  } else {
    ms.next_event_time = event_start(ms, 1);
    if (tev_event) ms.next_event_time = event_start(ms, ms.tev_event_num);
    if (ms.start_date_given) {
      ms.next_event_time = event_start(ms, ms.first_event);
      ms.event_number = ms.first_event - 1;
    }
    ov.rain_event_state = 0;
  }

  // 6. Uniform rain needs its start date.
  if (ov.uniform_rain && ms.cur_year == 0) {
    printf("You did not specify the starting date and time in the\n");
    printf("project file.  You must do this for simulations with\n");
    printf("uniform precipitation using the START_DATE and START_TIME\n");
    printf("cards.  Edit the project file.   Program terminated.\n");
    raise_own_message();
    return false;
  }

  return true;
}

}  // namespace

void init_simulation_clock(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  const bool tev_event = ms.tev && ms.tev_event_num_given;
  if (!start_long_term_clock(ms)) return;
  start_clock_and_totals(ms, tev_event);
  const int from_event = ms.start_date_given ? ms.first_event : 1;
  const bool wet_start = ms.gw_at_surface || ms.ov_water_present;
  schedule_overland(ms, tev_event, wet_start);
  schedule_weather_and_soil(ms, tev_event, wet_start, from_event);
  schedule_channels_and_pipes(ms, tev_event, from_event);
  schedule_overland_constituents(ms);
  if (!start_precipitation(ms, tev_event)) return;

  // 7. Arm the loop.
  ms.step_number = 0;
  ms.clock_calls = 0;
  ms.event_step = 0;
  ss.infil_step_count = 0;
  ms.run_flag = 1;
  ms.start_time_jday = ms.current_time;
}
