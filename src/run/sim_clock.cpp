// The simulation clock: set_time_parameters fixes the time step, the output intervals in steps,
// the outlet and the site at start-up (run_project calls it right after the run files are
// opened); advance_time_step moves the model time on as the first call of every pass of the loop.
#include "run/sim_clock.h"

#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/core/process_info.h"
#include "framework/model_state.h"

namespace {

// Message of an output interval that is shorter than one step: it is written at every step.
constexpr const char* interval_raised_text =
    "Warning: output interval shorter than the time step; writing every step.\n";

// An output interval in minutes as a whole number of steps, truncated. An interval shorter
// than one step would count 0 steps (and divide by zero where the steps are counted): it is
// raised to one step with a warning.
int interval_steps(model_state& ms, double minutes) {
  int steps = static_cast<int>((60.0 / ms.timestep) * minutes);
  if (steps == 0 && minutes > 0.0) {
    steps = 1;
    if (!ms.super_quiet && process_info.process_rank == 0) printf("%s", interval_raised_text);
    if (ms.output.summary_file.fp != nullptr)
      fputs(interval_raised_text, ms.output.summary_file.fp);
  }
  return steps;
}

}  // namespace

void set_time_parameters(model_state& ms) {
  grid_time_params& g = ms.grid_params;

  // The loop steps by the smaller of the overland and stream steps; the stream step is unset
  // below 0.01 s and then takes the overland step.
  if (g.st_time_step < 0.01) {
    g.st_time_step = g.timestep;
    ms.timestep = g.timestep;
  } else {
    ms.timestep = g.timestep > g.st_time_step ? g.st_time_step : g.timestep;
  }
  if (ms.timestep <= 0.001) {
    raise_error(err_time_step_zero);
    return;
  }

  ms.rows = g.rows;
  ms.cols = g.cols;
  ms.dt_seconds = ms.timestep;
  ms.tot_time = g.tot_time;

  // Time-series output interval: one hour when not given.
  double hyd_minutes = g.hyd_freq;
  if (hyd_minutes <= 0.0) {
    hyd_minutes = 60.0;
    report_error_now(warn_hydrograph_interval_defaulted);
  }
  ms.hyd_freq_steps = interval_steps(ms, hyd_minutes);

  // Map output interval: six hours when not given; a negative value is kept as given.
  ms.map_freq = g.map_freq;
  if (ms.map_freq == 0) {
    ms.map_freq = 360;
    if (!ms.super_quiet && process_info.process_rank == 0)
      printf("Warning: Write solution time step not specified, defaulting to 6 hours.\n");
  }
  if (ms.map_freq > 0) ms.map_freq = interval_steps(ms, ms.map_freq);

  ms.outlet_slope = g.outslope;
  ms.outlet_row = g.outrow;
  ms.outlet_col = g.outcol;
  if (ms.outlet_slope < 1e-9) {
    raise_error(err_outlet_slope_missing);
    return;
  }

  ms.gridsize = g.gridsize;
  ms.latitude = g.latitude;
  ms.longitude = g.longitude;
  if (ms.long_term && (ms.latitude < 0.01 || ms.longitude < 0.01)) {
    raise_error(err_basin_centroid_missing);
    return;
  }

  ms.gmt_offset = g.gmt;
  ms.gmt_given = g.gmt_given;
  ms.qout_cfs = g.qout_cfs;
  ms.quiet = g.quiet;
  if (ms.long_term && ms.gmt_given == 0) {
    raise_error(err_gmt_offset_missing);
    return;
  }

  ms.index_rows = ms.rows;
  ms.index_cols = ms.cols;
}

void advance_time_step(model_state& ms) {
  // The time is computed from the step count, never accumulated; the first pass runs at step 0.
  if (ms.clock_calls > 0) {
    ms.step_number += 1;
    ms.event_step += 1;
    ms.elapsed_minutes = ms.step_number * ms.timestep / 60.0;
    ms.current_time = ms.step_number * ms.dt_days + ms.start_time_jday;
  }
  ms.clock_calls += 1;

  date_from_julian(ms.current_time, ms.cur_year, ms.cur_month, ms.cur_day, ms.cur_hour,
                   ms.cur_minute, ms.cur_second_real);
  ms.cur_second = static_cast<int>(ms.cur_second_real);
  // February by the model's rule: 29 days in every year divisible by 4.
  ms.day_of_year = day_of_year(ms.cur_year, ms.cur_month, ms.cur_day);
}
