// The outlet watch of the time loop: the event's peaks, the progress line and the end of an
// event and of the run; then whole runs through run_project in which the clock, the event
// scan and the event steps are the model's own and only the precipitation start and the
// outlet hydrograph stand in for the rainfall and routing steps.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "output/analyzers/analyzer.h"
#include "run/event_control.h"
#include "run/run_driver.h"
#include "support/test_support.h"

using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace event_end_tests {

constexpr double minute_days = 60.0 / 86400.0;

// What an analyzer was told: the bit, the time and the event's state at that moment.
struct notice {
  int bit;
  double time;
  int event_number;
  double peak_q;
  double peak_time;
  double ov_next;
};

std::vector<notice> notices;

class recording_analyzer : public analyzer {
 public:
  void on_event(model_state& ms, int bit) override {
    notices.push_back(
        {bit, ms.current_time, ms.event_number, ms.peak_outlet_q, ms.peak_time, ms.ov_clock.next});
  }
};

std::vector<notice> with_bit(int bit) {
  std::vector<notice> found;
  for (const notice& n : notices)
    if (n.bit == bit) found.push_back(n);
  return found;
}

class EventEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    process_state_.reset();  // a test that starts over calls SetUp again
    notices.clear();
    ms_ = std::make_unique<model_state>();
    model_state& ms = *ms_;
    ms.time_tolerance = 1.1574074074074074e-07;
    ms.current_time = julian_from_date(2009, 5, 6, 7, 8, 0.0);
    ms.event_min_q = 0.05;
    ms.long_term = 1;
    ms.event_active = 1;
    ms.event_number = 1;
    ms.overland.num_events = 2;
    ms.run_flag = 1;
    ms.gridsize = 10.0;
    ms.output.analyzer_list = new recording_analyzer;
  }

  std::string end_check() {
    stdout_capture capture;
    check_event_end(*ms_);
    return capture.stop();
  }
  std::string progress() {
    stdout_capture capture;
    print_progress_line(*ms_);
    return capture.stop();
  }

  torva_test::process_state_guard process_state_;  // destroyed after the model state
  std::unique_ptr<model_state> ms_;
};

TEST_F(EventEnd, ThePeakKeepsItsFirstTimeAndDate) {
  model_state& ms = *ms_;
  const double t0 = ms.current_time;
  ms.cur_year = 2009;
  ms.cur_minute = 8;
  ms.cur_second = 30;
  ms.outlet_q = 3.0;
  track_peaks(ms);
  ms.current_time += minute_days;
  ms.cur_minute = 9;
  track_peaks(ms);  // a tie keeps the earlier peak
  EXPECT_DOUBLE_EQ(ms.peak_outlet_q, 3.0);
  EXPECT_DOUBLE_EQ(ms.peak_time, t0);
  EXPECT_EQ(ms.peak_date[0], 2009);
  EXPECT_EQ(ms.peak_date[4], 8);
  EXPECT_EQ(ms.peak_date[5], 30);
  ms.outlet_q = 3.5;
  track_peaks(ms);
  EXPECT_DOUBLE_EQ(ms.peak_time, t0 + minute_days);
  EXPECT_EQ(ms.peak_date[4], 9);
}

TEST_F(EventEnd, LocationPeaksFollowTheLocationHydrographOutput) {
  temp_dir dir;
  model_state& ms = *ms_;
  channel_state& ch = ms.channel;
  ch.chan_explic = 1;
  ch.chan_link_count = 2;
  ch.qp.allocate_uniform(2, 3);
  ch.qp(2, 3) = 7.5;
  ch.qp(1, 1) = 2.5;
  ch.hyd_location_count = 2;
  ch.hlink.allocate(2);
  ch.hnode.allocate(2);
  ch.hlink[1] = 2;
  ch.hnode[1] = 3;
  ch.hlink[2] = 1;
  ch.hnode[2] = 1;
  ms.calibration.optimize_on = 1;
  ms.calibration.loc_peak.allocate(100);
  ms.calibration.loc_peak[2] = 4.0;
  track_peaks(ms);
  EXPECT_DOUBLE_EQ(ms.calibration.loc_peak[1], 0.0);  // no location hydrograph output
  ASSERT_TRUE(file_handle_open(ms.input.out_hyd_location_file, dir.file("loc.out").c_str(), "w"));
  track_peaks(ms);
  EXPECT_DOUBLE_EQ(ms.calibration.loc_peak[1], 7.5);
  EXPECT_DOUBLE_EQ(ms.calibration.loc_peak[2], 4.0);  // the larger value stays
  ms.calibration.optimize_sed = 1;
  ch.qp(2, 3) = 9.0;
  track_peaks(ms);
  EXPECT_DOUBLE_EQ(ms.calibration.loc_peak[1], 7.5);
}

TEST_F(EventEnd, TheProgressLineFollowsTheRoutingThatHasJustRun) {
  model_state& ms = *ms_;
  ms.event_number = 2;
  ms.elapsed_minutes = 123.5;
  ms.cur_year = 2009;
  ms.cur_month = 5;
  ms.cur_day = 6;
  ms.cur_hour = 7;
  ms.cur_minute = 8;
  ms.cur_second = 9;
  ms.outlet_q = 1.0;
  ms.ov_clock.last = ms.current_time - minute_days;
  EXPECT_EQ(progress(), "");  // the overland flow did not run at this step
  ms.ov_clock.last = ms.current_time;
  EXPECT_EQ(progress(), "event  2 elapsed time   123.50   5/06/2009 07:08:09 Qout=    1.00 cms\n");
  ms.qout_cfs = 1;
  EXPECT_EQ(progress(),
            "event  2 elapsed time   123.50   5/06/2009 07:08:09 Qout=      35.3 cfs\n");
  ms.quiet = 1;
  EXPECT_EQ(progress(), "");
  // With explicit channels the channel step decides.
  ms.quiet = 0;
  ms.channel.chan_explic = 1;
  EXPECT_EQ(progress(), "");
  ms.chan_clock.last = ms.current_time;
  EXPECT_NE(progress(), "");
}

TEST_F(EventEnd, FlushBufferCountsProgressLines) {
  model_state& ms = *ms_;
  ms.super_quiet = 1;
  ms.ov_clock.last = ms.current_time;
  ms.output.flush_buffer_on = 1;
  ms.output.flush_buffer = 10;
  for (int i = 1; i <= 9; ++i) progress();
  EXPECT_EQ(ms.output.flush_line_count, 9);
  progress();  // the tenth line flushes and starts the count again
  EXPECT_EQ(ms.output.flush_line_count, 0);
  progress();
  EXPECT_EQ(ms.output.flush_line_count, 1);
}

TEST_F(EventEnd, StreamInfoShowsTheChannelExtremes) {
  model_state& ms = *ms_;
  ms.ov_clock.last = ms.current_time;
  ms.stream_info = 1;
  channel_state& ch = ms.channel;
  ch.chan_link_count = 1;  // the last link is not searched: nothing is found
  ch.nx1.allocate(3);
  for (auto* a : {&ch.qp, &ch.yp, &ch.bel}) a->allocate_uniform(3, 2);
  std::string out = progress();
  EXPECT_NE(out.find("    ==> Max Yp (N -1, L -1) = -5000.000000\n"
                     "    ==> Min Yp (N -1, L -1) = 5000.000000\n"
                     "    ==> Max Qp (N -1, L -1) = -5000.000000\n"
                     "    ==> Min Qp (N -1, L -1) = 5000.000000\n"),
            std::string::npos);

  ch.chan_link_count = 3;
  for (int link = 1; link <= 2; ++link) {
    ch.nx1[link] = 2;
    for (int node = 1; node <= 2; ++node) ch.yp(link, node) = 1.0;  // equal depths: first kept
  }
  ch.yp(2, 2) = 1.75;
  ch.bel(2, 2) = 0.5;
  ch.qp(2, 1) = -0.25;
  ch.qp(1, 2) = 3.0;
  ch.nx1[3] = 2;
  ch.qp(3, 1) = 99.0;  // the last link is left out
  out = progress();
  EXPECT_NE(out.find("    ==> Max Yp (N 2, L 2) = 1.250000\n"
                     "    ==> Min Yp (N 1, L 1) = 1.000000\n"
                     "    ==> Max Qp (N 2, L 1) = 3.000000\n"
                     "    ==> Min Qp (N 1, L 2) = -0.250000\n"),
            std::string::npos)
      << out;
}

TEST_F(EventEnd, EndTimeStopsTheRunWithoutTellingTheAnalyzers) {
  model_state& ms = *ms_;
  ms.end_time_given = 1;
  ms.end_time = ms.current_time;
  ms.outlet_q = 1.0;
  end_check();
  EXPECT_EQ(ms.run_flag, 1);  // reached, not passed
  ms.current_time += minute_days;
  EXPECT_EQ(end_check(), "");
  EXPECT_EQ(ms.run_flag, 0);
  EXPECT_EQ(ms.event_ended, 1);
  EXPECT_EQ(ms.event_over, 1);
  EXPECT_EQ(ms.event_active, 0);
  EXPECT_TRUE(notices.empty());
}

TEST_F(EventEnd, AnEventRunEndsAtItsEndTimeAndTellsTheAnalyzers) {
  model_state& ms = *ms_;
  ms.long_term = 0;
  ms.outlet_q = 100.0;
  ms.end_time_jday = ms.current_time + minute_days;
  end_check();
  EXPECT_EQ(ms.run_flag, 1);
  EXPECT_TRUE(notices.empty());
  ms.current_time += minute_days;
  end_check();
  EXPECT_EQ(ms.run_flag, 0);
  EXPECT_EQ(ms.event_ended, 1);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].bit, analyzer_event_ended);
}

TEST_F(EventEnd, TheRecessionIsWatchedOnlyOnceTheRainHasEnded) {
  model_state& ms = *ms_;
  ms.outlet_q = 0.0;
  ms.peak_outlet_q = 1.0;
  for (int state : {1, 2}) {
    ms.overland.rain_event_state = state;
    end_check();
    EXPECT_EQ(ms.event_ended, 0);
  }
  ms.overland.rain_event_state = 3;
  end_check();
  EXPECT_EQ(ms.event_ended, 1);
  // Without an event under way nothing is decided, but the analyzers hear of the ended event
  // at every pass until the next event starts.
  end_check();
  end_check();
  EXPECT_EQ(with_bit(analyzer_event_ended).size(), 3u);
}

TEST_F(EventEnd, AnEventEndingBeforeTheLastJumpsTheOverlandScheduleToTheNext) {
  model_state& ms = *ms_;
  ms.ov_clock.interval_days = minute_days;
  ms.event_start_jday[2] = ms.current_time + 3.0;
  ms.channel.chan_explic = 1;
  ms.transport.ov_con_trans = 1;
  ms.infil_clock.next = ms.current_time + 1.0;
  ms.outlet_q = 0.01;
  ms.peak_outlet_q = 2.0;
  EXPECT_EQ(end_check(), "");  // not the last event: no message
  EXPECT_EQ(ms.event_ended, 1);
  EXPECT_EQ(ms.run_flag, 1);
  EXPECT_DOUBLE_EQ(ms.ov_clock.next, ms.event_start_jday[2]);
  EXPECT_DOUBLE_EQ(ms.ov_clock.last, ms.event_start_jday[2] - minute_days);
  EXPECT_DOUBLE_EQ(ms.chan_clock.next, ms.event_start_jday[2]);
  EXPECT_DOUBLE_EQ(ms.transport.ov_con_clock.next, ms.infil_clock.next);  // the earlier one

  // With soil water kept between events nothing jumps.
  SetUp();
  ms_->subsurface.gw_simulation = 1;
  ms_->event_start_jday[2] = ms_->current_time + 3.0;
  ms_->outlet_q = 0.01;
  ms_->peak_outlet_q = 2.0;
  end_check();
  EXPECT_EQ(ms_->event_ended, 1);
  EXPECT_DOUBLE_EQ(ms_->ov_clock.next, 0.0);
}

TEST_F(EventEnd, TheLastEventReadsNoEventAfterIt) {
  model_state& ms = *ms_;
  ms.event_number = 2;
  ms.ov_clock.next = 42.0;
  ms.event_start_jday[3] = 1.0e9;  // beyond the file's events
  ms.outlet_q = 0.01;
  ms.peak_outlet_q = 2.0;
  EXPECT_EQ(end_check(), "simulation ended normally; end of data for last event reached\n");
  EXPECT_EQ(ms.run_flag, 0);
  EXPECT_DOUBLE_EQ(ms.ov_clock.next, 42.0);
}

TEST_F(EventEnd, TheLastEventGoesOnWhileMoreThanFivePercentOfItsRainStandsOnTheLand) {
  struct stand_case {
    double share;  // of the event's rain standing on the land
    int run_flag;
    const char* message;
  };
  const stand_case cases[] = {
      {0.06, 1, ""},
      {0.04, 0, "simulation ended normally; end of data for last event reached\n"},
  };
  for (const stand_case& c : cases) {
    SCOPED_TRACE(c.share);
    SetUp();
    model_state& ms = *ms_;
    ms.event_number = 2;
    ms.cell_count = 2;
    ms.overland.ov_depth.allocate(2);
    ms.event_rain_vol = 1000.0;
    ms.event_start_ov_sum = 5.0;
    // Depths over 100 m2 cells: 5 m3 at the start plus the share of the rain.
    ms.overland.ov_depth[1] = 0.05;
    ms.overland.ov_depth[2] = c.share * 1000.0 / 100.0;
    ms.outlet_q = 0.01;
    ms.peak_outlet_q = 2.0;
    EXPECT_EQ(end_check(), c.message);
    EXPECT_EQ(ms.run_flag, c.run_flag);
    EXPECT_NEAR(ms.ov_vol_now, 5.0 + c.share * 1000.0, 1e-9);
  }
  // With the water-table option the standing water does not hold the run.
  SetUp();
  ms_->event_number = 2;
  ms_->cell_count = 1;
  ms_->overland.ov_depth.allocate(1);
  ms_->overland.ov_depth[1] = 1.0;
  ms_->event_rain_vol = 1000.0;
  ms_->subsurface.water_table_on = 1;
  ms_->outlet_q = 0.01;
  end_check();
  EXPECT_EQ(ms_->run_flag, 0);
}

TEST_F(EventEnd, StandingWaterOfFivePercentOfTheRainHoldsTheLastEventFromExactlyTheMark) {
  // 1000 m3 of rain and 5 m3 on the land at the event start: the mark is 50 m3 more.
  struct boundary_case {
    const char* label;
    double added;  // m3 on the land above the event start
    int run_flag;
    int event_ended;
    const char* message;
  };
  const boundary_case cases[] = {
      {"just below", 49.999, 0, 1,
       "simulation ended normally; end of data for last event reached\n"},
      {"exactly at", 50.0, 1, 0, ""},
      {"just above", 50.001, 1, 0, ""},
  };
  for (const boundary_case& c : cases) {
    SCOPED_TRACE(c.label);
    SetUp();
    model_state& ms = *ms_;
    ms.event_number = 2;
    ms.cell_count = 2;
    ms.overland.ov_depth.allocate(2);
    ms.event_rain_vol = 1000.0;
    ms.event_start_ov_sum = 5.0;
    ms.overland.ov_depth[1] = 0.05;             // 5 m3 on a cell of 100 m2
    ms.overland.ov_depth[2] = c.added / 100.0;  // the rest on the other
    ms.outlet_q = 0.01;
    ms.peak_outlet_q = 2.0;
    EXPECT_EQ(end_check(), c.message);
    EXPECT_EQ(ms.run_flag, c.run_flag);
    EXPECT_EQ(ms.event_ended, c.event_ended);
    EXPECT_DOUBLE_EQ(ms.ov_vol_now - ms.event_start_ov_sum, c.added);
  }
}

TEST_F(EventEnd, AnEventThatNeverReachedTheCutoffRunsWhileTheChannelStillCarriesIt) {
  model_state& ms = *ms_;
  ms.event_number = 2;
  ms.outlet_q = 0.01;
  ms.peak_outlet_q = 0.03;
  channel_state& ch = ms.channel;
  ch.chan_explic = 1;
  ch.chan_lake_flag = 1;
  ch.chan_link_count = 2;
  ch.nx1.allocate(2);
  ch.nx1[1] = ch.nx1[2] = 2;
  ch.qp.allocate_uniform(2, 2);
  ch.qp(2, 2) = 0.06;
  end_check();
  EXPECT_EQ(ms.chan_above_cutoff, 1);
  EXPECT_EQ(ms.event_ended, 0);
  EXPECT_EQ(ms.run_flag, 1);
  ch.qp(2, 2) = 0.05;  // not more than the cutoff
  EXPECT_EQ(end_check(),
            "simulation ended normally; peak flow after last event fell below cutoff value.\n");
  EXPECT_EQ(ms.chan_above_cutoff, 0);
  EXPECT_EQ(ms.event_ended, 1);
  EXPECT_EQ(ms.run_flag, 0);
}

TEST_F(EventEnd, SpentHydrometeorologyEndsTheLastEventOfAWaterTableRun) {
  model_state& ms = *ms_;
  ms.event_number = 2;
  ms.outlet_q = 1.0;
  ms.subsurface.sacramento = 1;
  ms.hmet_clock.next = -9.0;
  end_check();
  EXPECT_EQ(ms.run_flag, 1);
  ms.hmet_clock.next = -10.0;
  EXPECT_EQ(end_check(), "");
  EXPECT_EQ(ms.run_flag, 0);
  EXPECT_EQ(ms.event_ended, 1);
  EXPECT_EQ(with_bit(analyzer_event_ended).size(), 1u);
}

// ---- Whole runs ----

// The run's set-up, read by the stand-in steps (run_steps holds plain functions).
struct run_setup {
  std::string precip_file;  // empty: uniform rain
  int long_term = 1;
  double peak_q = 2.0;  // m3/s of the stand-in hydrograph
};
run_setup setup;

// Outlet hydrograph of every event: rises to the peak over 30 minutes, falls to 0 over 60.
double hydrograph(double minutes) {
  if (minutes < 0.0) return 0.0;
  if (minutes <= 30.0) return setup.peak_q * minutes / 30.0;
  const double q = setup.peak_q * (1.0 - (minutes - 30.0) / 60.0);
  return q > 0.0 ? q : 0.0;
}

void noop(model_state&) {}

run_steps stand_in_steps() {
  run_steps steps = default_run_steps();
  steps.read_run_parameters = [](model_state& ms, const char*) {
    ms.output.analyzer_list = new recording_analyzer;
    grid_time_params& g = ms.grid_params;
    g.timestep = 60.0;
    g.rows = g.cols = 2;
    g.hyd_freq = 60.0;
    g.map_freq = 60;
    g.outslope = 0.001;
    g.gridsize = 10.0;
    g.latitude = 40.0;
    g.longitude = 105.0;
    g.gmt_given = 1;
    g.tot_time = 90;
    ms.long_term = setup.long_term;
    ms.event_min_q = 0.05;
    ms.quiet = 1;
    if (setup.precip_file.empty()) {
      // Uniform rain from 15 March 2011, 10:00, as the run parameters give it.
      ms.overland.uniform_rain = 1;
      ms.overland.rain_duration = 30.0;
      ms.cur_year = 2011;
      ms.cur_month = 3;
      ms.cur_day = 15;
      ms.cur_hour = 10;
      const double start = julian_from_date(2011, 3, 15, 10, 0, 0.0);
      ms.current_time = ms.hmet_start_jday = ms.event_start_jday[1] = ms.start_time_jday = start;
    } else {
      ms.overland.precip_file_on = 1;
      snprintf(ms.input.names.precip_file, sizeof ms.input.names.precip_file, "%s",
               setup.precip_file.c_str());
    }
  };
  steps.check_project_options = noop;
  steps.open_run_files = [](model_state& ms) {
    if (!setup.precip_file.empty())
      file_handle_open(ms.input.raingage_file, setup.precip_file.c_str(), "r");
  };
  for (step_fn* fn :
       {&steps.read_maps, &steps.open_map_datasets, &steps.write_linknode_run_headers,
        &steps.setup_contam_map_outputs, &steps.setup_contam_channel_outputs,
        &steps.build_cell_connectivity, &steps.compute_overland_slopes, &steps.init_channel_storage,
        &steps.alloc_driver_results, &steps.read_volp_exchange_start, &steps.init_xy_output,
        &steps.contam_soil_layer_init, &steps.write_run_summary})
    *fn = noop;
  steps.print_replace_values = noop;
  steps.print_replace_usage = noop;
  steps.read_analyzer_file = [](model_state&, const char*) {};
  // The hydrometeorological reader is not built: the span of its records stands in for it,
  // two hours before the first event to a day after the last.
  steps.scan_precip_events = [](model_state& ms) {
    if (ms.long_term) {
      const int first[4] = {2010, 6, 1, 4};
      const int last[4] = {2010, 6, 3, 24};
      for (int i = 0; i < 4; ++i) {
        ms.hmet_first_date[i] = first[i];
        ms.hmet_last_date[i] = last[i];
      }
      carry_hour_24(ms.hmet_last_date);
    }
    list_precip_events(ms);
  };

  const char* own[] = {"advance_time_step", "init_event", "track_peaks", "print_progress_line",
                       "check_event_end"};
  for (loop_step& step : steps.time_loop) {
    bool keep = false;
    for (const char* name : own) keep = keep || std::string(step.name) == name;
    if (!keep) step.fn = noop;
    const std::string name = step.name;
    // The start of a precipitation event: the next event of the table is due.
    if (name == "start_precip_event") {
      step.fn = [](model_state& ms) {
        overland_state& ov = ms.overland;
        const int next = ms.event_number + 1;
        if (ov.rain_event_state != 0 || next > ov.num_events ||
            std::fabs(ms.current_time - ms.event_start_jday[next]) >= ms.time_tolerance)
          return;
        ms.event_number = next;
        ms.event_start_time = ms.current_time;
        ms.event_active = 1;
        ms.event_ended = 0;
        ms.event_over = 0;
        ov.rain_event_state = 1;
      };
    }
    // The rain of every event lasts 30 minutes.
    if (name == "update_precip_record") {
      step.fn = [](model_state& ms) {
        int& rain = ms.overland.rain_event_state;
        if (rain == 1 && ms.current_time >= ms.event_start_time + 30.0 * minute_days - 1e-7)
          rain = ms.overland.uniform_rain ? 3 : 0;
      };
    }
    if (name == "channel_routing_step") {
      step.fn = [](model_state& ms) {
        ms.outlet_q = ms.event_number > 0
                          ? hydrograph((ms.current_time - ms.event_start_time) / minute_days)
                          : 0.0;
      };
    }
  }
  return steps;
}

class EventEndRun : public ::testing::Test {
 protected:
  void SetUp() override {
    process_state_.reset();  // a test that starts over calls SetUp again
    notices.clear();
    setup = run_setup{};
  }
  std::string run() {
    stdout_capture capture;
    result_ = run_project("proj.prj", nullptr, stand_in_steps());
    return capture.stop();
  }
  void write_events(const std::vector<double>& starts) {
    std::string text;
    for (double start : starts) {
      int y, mo, d, h, mi;
      double s;
      date_from_julian(start, y, mo, d, h, mi, s);
      char event[200];
      snprintf(event, sizeof event,
               "EVENT e\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nGAGES %d %d %d %d %d 5\n"
               "GAGES %d %d %d %d %d 0\n",
               y, mo, d, h, mi, y, mo, d, h, mi + 30 < 60 ? mi + 30 : 59);
      text += event;
    }
    write_file(dir_.file("rain.gag"), text);
    setup.precip_file = dir_.file("rain.gag");
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
  int result_ = -1;
};

TEST_F(EventEndRun, ALongTermRunSimulatesEveryEventOfTheFile) {
  const std::vector<double> starts = {julian_from_date(2010, 6, 1, 6, 0, 0.0),
                                      julian_from_date(2010, 6, 1, 12, 0, 0.0),
                                      julian_from_date(2010, 6, 2, 0, 0, 0.0)};
  write_events(starts);
  const std::string out = run();
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_NE(out.find("simulation ended normally; end of data for last event reached\n"),
            std::string::npos);

  // The first notification of each event's end: 89 minutes after its start, when the outlet
  // flow first falls below 0.05 m3/s; the peak of each event is its own, at 30 minutes.
  std::vector<notice> ends;
  for (const notice& n : with_bit(analyzer_event_ended))
    if (ends.empty() || ends.back().event_number != n.event_number) ends.push_back(n);
  ASSERT_EQ(ends.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k + 1);
    EXPECT_EQ(ends[k].event_number, k + 1);
    EXPECT_NEAR(ends[k].time, starts[k] + 89.0 * minute_days, 1e-6);
    EXPECT_NEAR(ends[k].peak_q, 2.0, 1e-6);
    EXPECT_NEAR(ends[k].peak_time, starts[k] + 30.0 * minute_days, 1e-6);
    // The overland schedule waits for the next event.
    if (k < 2) {
      EXPECT_DOUBLE_EQ(ends[k].ov_next, starts[k + 1]);
    }
  }
  // The end is repeated at every pass until the next event starts: 07:29 to 11:59.
  int gap = 0;
  for (const notice& n : with_bit(analyzer_event_ended)) gap += n.event_number == 1;
  EXPECT_EQ(gap, 271);
  // The run ends at the pass that ends the last event.
  ASSERT_GE(notices.size(), 3u);
  const size_t n = notices.size();
  EXPECT_EQ(notices[n - 3].bit, analyzer_event_ended);
  EXPECT_EQ(notices[n - 2].bit, analyzer_step_done);
  EXPECT_EQ(notices[n - 1].bit, analyzer_normal_end);
  EXPECT_EQ(notices[n - 3].event_number, 3);
  // The run began with the hydrometeorological data, two hours before the first event.
  EXPECT_EQ(notices[0].bit, analyzer_startup_done);
  EXPECT_NEAR(notices[1].time, starts[0] - 120.0 * minute_days, 1e-6);
}

TEST_F(EventEndRun, ASingleEventRunEndsWhenTheOutletFallsBelowTheCutoff) {
  struct cutoff_case {
    double peak_q;
    double end_minutes;
    const char* message;
  };
  const cutoff_case cases[] = {
      {2.0, 89.0, "simulation ended normally; end of data for last event reached\n"},
      {0.03, 30.0,
       "simulation ended normally; peak flow after last event fell below cutoff value.\n"},
  };
  for (const cutoff_case& c : cases) {
    SCOPED_TRACE(c.peak_q);
    SetUp();
    const double start = julian_from_date(2010, 6, 1, 6, 0, 0.0);
    write_events({start});
    setup.peak_q = c.peak_q;
    const std::string out = run();
    EXPECT_NE(out.find(c.message), std::string::npos);
    const std::vector<notice> ends = with_bit(analyzer_event_ended);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_NEAR(ends[0].time, start + c.end_minutes * minute_days, 1e-6);
    EXPECT_EQ(notices.back().bit, analyzer_normal_end);
  }
}

TEST_F(EventEndRun, AUniformRainEventRunEndsAtItsTotalTime) {
  setup.long_term = 0;
  const std::string out = run();
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_NE(out.find("simulation duration 90 minutes\n"), std::string::npos);
  const double start = julian_from_date(2011, 3, 15, 10, 0, 0.0);
  const std::vector<notice> ends = with_bit(analyzer_event_ended);
  ASSERT_EQ(ends.size(), 1u);
  // The first pass at or after 90 minutes from the start.
  EXPECT_GE(ends[0].time, start + 90.0 / 1440.0);
  EXPECT_LT(ends[0].time - minute_days, start + 90.0 / 1440.0);
  EXPECT_EQ(with_bit(analyzer_step_done).size(), 91u);
  EXPECT_EQ(notices.back().bit, analyzer_normal_end);
}

}  // namespace event_end_tests
