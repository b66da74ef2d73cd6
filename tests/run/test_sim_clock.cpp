// The simulation clock: the time step and output intervals fixed at start-up with the checks a
// run needs, and the advance of the model time with its calendar fields at every pass.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "run/sim_clock.h"
#include "support/test_support.h"

using torva_test::stdout_capture;

namespace {

class SimClock : public ::testing::Test {
 protected:
  void SetUp() override {
    process_state_.reset();  // a test that starts over calls SetUp again
    ms_ = std::make_unique<model_state>();
    // A valid event run: 30 s steps, hourly series, maps every 6 hours.
    grid_time_params& g = ms_->grid_params;
    g.timestep = 30.0;
    g.rows = 12;
    g.cols = 7;
    g.tot_time = 600;
    g.hyd_freq = 60.0;
    g.map_freq = 360;
    g.outslope = 0.002;
    g.outrow = 3;
    g.outcol = 4;
    g.gridsize = 90.0;
    g.latitude = 40.5;
    g.longitude = 105.25;
    g.gmt = -7.0;
    g.gmt_given = 1;
  }

  // Runs set_time_parameters; returns what it printed.
  std::string set_time() {
    stdout_capture capture;
    set_time_parameters(*ms_);
    return capture.stop();
  }
  // Starts the clock at the given calendar time with a step of `seconds`.
  void start_clock(int y, int mo, int d, int h, int mi, double seconds) {
    ms_->timestep = ms_->dt_seconds = seconds;
    ms_->dt_days = seconds / 86400.0;
    ms_->start_time_jday = ms_->current_time = julian_from_date(y, mo, d, h, mi, 0.0);
  }

  torva_test::process_state_guard process_state_;  // destroyed after the model state
  std::unique_ptr<model_state> ms_;
};

TEST_F(SimClock, TheLoopStepsByTheSmallerOfTheOverlandAndStreamSteps) {
  struct step_case {
    double timestep, st_time_step;
    double step;         // the loop's step
    double stream_step;  // ST_TIME_STEP afterwards
  };
  const step_case cases[] = {
      {30.0, 10.0, 10.0, 10.0},      {10.0, 30.0, 10.0, 30.0},
      {30.0, 0.005, 30.0, 30.0},  // below 0.01 s: not given, takes the overland step
      {120.0, 0.0, 120.0, 120.0},    {7.0, 0.0, 7.0, 7.0},
      {0.0011, 0.0, 0.0011, 0.0011},
  };
  for (const step_case& c : cases) {
    SCOPED_TRACE(c.timestep);
    SetUp();
    ms_->grid_params.timestep = c.timestep;
    ms_->grid_params.st_time_step = c.st_time_step;
    set_time();
    EXPECT_EQ(run_error.error_code, 0);
    EXPECT_DOUBLE_EQ(ms_->timestep, c.step);
    EXPECT_DOUBLE_EQ(ms_->dt_seconds, c.step);
    EXPECT_DOUBLE_EQ(ms_->grid_params.st_time_step, c.stream_step);
  }
}

TEST_F(SimClock, CopiesTheGridOutletAndSiteOfAValidRun) {
  ms_->grid_params.qout_cfs = 1;
  ms_->grid_params.quiet = 1;
  EXPECT_EQ(set_time(), "");
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ms_->rows, 12);
  EXPECT_EQ(ms_->cols, 7);
  EXPECT_EQ(ms_->index_rows, 12);
  EXPECT_EQ(ms_->index_cols, 7);
  EXPECT_EQ(ms_->tot_time, 600);
  EXPECT_DOUBLE_EQ(ms_->outlet_slope, 0.002);
  EXPECT_EQ(ms_->outlet_row, 3);
  EXPECT_EQ(ms_->outlet_col, 4);
  EXPECT_DOUBLE_EQ(ms_->gridsize, 90.0);
  EXPECT_DOUBLE_EQ(ms_->latitude, 40.5);
  EXPECT_DOUBLE_EQ(ms_->longitude, 105.25);
  EXPECT_DOUBLE_EQ(ms_->gmt_offset, -7.0);
  EXPECT_EQ(ms_->gmt_given, 1);
  EXPECT_EQ(ms_->qout_cfs, 1);
  EXPECT_EQ(ms_->quiet, 1);
  EXPECT_EQ(ms_->hyd_freq_steps, 120);
  EXPECT_EQ(ms_->map_freq, 720);
}

TEST_F(SimClock, OutputIntervalsCountWholeStepsAndNeverZero) {
  const std::string raised =
      "Warning: output interval shorter than the time step; writing every step.\n";
  struct interval_case {
    const char* name;
    double timestep;
    double hyd_freq;
    int map_freq;
    int hyd_steps;
    int map_steps;
    const char* printed;
  };
  const interval_case cases[] = {
      {"truncated", 7.0, 1.0, 1, 8, 8, ""},
      {"map default", 10.0, 60.0, 0, 360, 2160,
       "Warning: Write solution time step not specified, defaulting to 6 hours.\n"},
      {"negative map interval kept", 10.0, 60.0, -5, 360, -5, ""},
      {"hydrograph shorter than a step", 120.0, 1.0, 60, 1, 30, raised.c_str()},
      {"map shorter than a step", 120.0, 60.0, 1, 30, 1, raised.c_str()},
  };
  for (const interval_case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    ms_->grid_params.timestep = c.timestep;
    ms_->grid_params.hyd_freq = c.hyd_freq;
    ms_->grid_params.map_freq = c.map_freq;
    EXPECT_EQ(set_time(), c.printed);
    EXPECT_EQ(run_error.error_code, 0);
    EXPECT_EQ(ms_->hyd_freq_steps, c.hyd_steps);
    EXPECT_EQ(ms_->map_freq, c.map_steps);
  }
}

TEST_F(SimClock, MissingHydrographIntervalIsAWarningReportedAtOnce) {
  ms_->grid_params.timestep = 7.0;
  ms_->grid_params.hyd_freq = 0.0;
  const std::string out = set_time();
  EXPECT_NE(out.find("Warning: Write hydrograph time step not specified, defaulting to 1 hour.\n"),
            std::string::npos);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(ms_->hyd_freq_steps, 514);  // 60 minutes of 7 s steps
  EXPECT_DOUBLE_EQ(ms_->grid_params.hyd_freq, 0.0);
  EXPECT_EQ(ms_->outlet_row, 3);  // the run goes on
}

TEST_F(SimClock, ARunWithoutWhatItNeedsStopsWithItsCode) {
  struct check_case {
    const char* name;
    void (*spoil)(model_state&);
    int code;
    bool gridsize_copied;  // copies after the failed test are not made
  };
  const check_case cases[] = {
      {"zero step", [](model_state& ms) { ms.grid_params.timestep = 0.0; }, err_time_step_zero,
       false},
      {"step of 0.001 s", [](model_state& ms) { ms.grid_params.timestep = 0.001; },
       err_time_step_zero, false},
      {"no outlet slope", [](model_state& ms) { ms.grid_params.outslope = 0.0; },
       err_outlet_slope_missing, false},
      {"long-term with a negative longitude",
       [](model_state& ms) {
         ms.long_term = 1;
         ms.grid_params.longitude = -105.25;
       },
       err_basin_centroid_missing, true},
      {"long-term without GMT",
       [](model_state& ms) {
         ms.long_term = 1;
         ms.grid_params.gmt_given = 0;
       },
       err_gmt_offset_missing, true},
  };
  for (const check_case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.spoil(*ms_);
    set_time();
    EXPECT_EQ(run_error.error_code, c.code);
    EXPECT_EQ(ms_->gridsize == 90.0, c.gridsize_copied);
    EXPECT_EQ(ms_->index_rows, 0);
    // The driver's report makes each of them fatal.
    stdout_capture capture;
    error_report(run_error);
    EXPECT_EQ(run_error.error_fatal, 1);
  }
  // An event run needs neither the site nor GMT.
  SetUp();
  ms_->grid_params.longitude = -105.25;
  ms_->grid_params.gmt_given = 0;
  set_time();
  EXPECT_EQ(run_error.error_code, 0);
}

TEST_F(SimClock, TheFirstPassRunsAtStepZeroAndLaterPassesOneStepEach) {
  start_clock(2004, 6, 30, 23, 0, 600.0);
  advance_time_step(*ms_);
  EXPECT_EQ(ms_->step_number, 0);
  EXPECT_EQ(ms_->clock_calls, 1);
  EXPECT_EQ(ms_->event_step, 0);
  EXPECT_DOUBLE_EQ(ms_->current_time, ms_->start_time_jday);
  EXPECT_EQ(ms_->cur_hour, 23);
  EXPECT_EQ(ms_->cur_minute, 0);
  EXPECT_EQ(ms_->cur_second, 0);
  EXPECT_NEAR(ms_->cur_second_real, 0.01,
              1e-4);  // the 0.01 s shift, to the resolution of a day count

  advance_time_step(*ms_);
  EXPECT_EQ(ms_->step_number, 1);
  EXPECT_EQ(ms_->event_step, 1);
  EXPECT_DOUBLE_EQ(ms_->elapsed_minutes, 10.0);
  EXPECT_EQ(ms_->cur_minute, 10);

  // Six steps later it is past midnight: 1 July, day 183 of a leap year.
  for (int i = 0; i < 6; ++i) advance_time_step(*ms_);
  EXPECT_EQ(ms_->step_number, 7);
  EXPECT_EQ(ms_->cur_month, 7);
  EXPECT_EQ(ms_->cur_day, 1);
  EXPECT_EQ(ms_->cur_hour, 0);
  EXPECT_EQ(ms_->cur_minute, 10);
  EXPECT_EQ(ms_->day_of_year, 183);
}

TEST_F(SimClock, TimeIsComputedFromTheStepCountAndDoesNotDrift) {
  // 86400 steps of one second, then 8640 steps of ten: each lands on midnight of the next day.
  for (double seconds : {1.0, 10.0}) {
    SCOPED_TRACE(seconds);
    SetUp();
    start_clock(2001, 2, 28, 0, 0, seconds);
    const int steps = static_cast<int>(86400.0 / seconds);
    for (int i = 0; i <= steps; ++i) advance_time_step(*ms_);
    EXPECT_EQ(ms_->cur_month, 3);
    EXPECT_EQ(ms_->cur_day, 1);
    EXPECT_EQ(ms_->cur_hour, 0);
    EXPECT_EQ(ms_->cur_minute, 0);
    EXPECT_EQ(ms_->cur_second, 0);
  }
}

TEST_F(SimClock, DayOfYearCountsFebruaryAsLongInEveryFourthYear) {
  struct day_case {
    int y, mo, d;
    int day;
  };
  const day_case cases[] = {
      {2024, 1, 31, 31},   {2024, 3, 1, 61},  // a leap year: 31 + 29 + 1
      {2023, 3, 1, 60},    {2100, 3, 1, 61},  // every fourth year, the century too
      {2100, 12, 31, 366}, {2001, 12, 31, 365},
  };
  // A February entry left long by an earlier run does not carry into a short year.
  month_days[2] = 29;
  for (const day_case& c : cases) {
    SCOPED_TRACE(std::to_string(c.y) + "-" + std::to_string(c.mo) + "-" + std::to_string(c.d));
    SetUp();
    start_clock(c.y, c.mo, c.d, 12, 0, 60.0);
    advance_time_step(*ms_);
    EXPECT_EQ(ms_->day_of_year, c.day);
  }
}

TEST_F(SimClock, ATimeJustBeforeMidnightCountsAsTheNextDay) {
  ms_->current_time = ms_->start_time_jday = julian_from_date(2003, 12, 31, 23, 59, 59.995);
  advance_time_step(*ms_);
  EXPECT_EQ(ms_->cur_year, 2004);
  EXPECT_EQ(ms_->cur_month, 1);
  EXPECT_EQ(ms_->cur_day, 1);
  EXPECT_EQ(ms_->cur_hour, 0);
  EXPECT_EQ(ms_->cur_minute, 0);
  EXPECT_EQ(ms_->day_of_year, 1);
}

}  // namespace
