// Start-up of the run's time line and water state: the event scan of the precipitation file
// (event table, its capacity, TEV, the optimisation output), the hour-24 carry of the
// hydrometeorological dates, the lake and soil reset, the initial overland volume and the
// simulation clock with every process schedule.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
#include "framework/core/raw_arrays.h"
#include "framework/model_state.h"
#include "run/event_control.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// One event of one gauge with three records, ten minutes apart, starting at the given time.
std::string gauge_event(int y, int mo, int d, int h, int mi) {
  char text[256];
  snprintf(text, sizeof text,
           "EVENT storm\nNRGAG 1\nNRPDS 3\nCOORD 10 20\n"
           "GAGES %d %d %d %d %d 1.0\nGAGES %d %d %d %d %d 2.0\nGAGES %d %d %d %d %d 0.0\n",
           y, mo, d, h, mi, y, mo, d, h, mi + 10, y, mo, d, h, mi + 20);
  return text;
}

class EventScan : public ::testing::Test {
 protected:
  void SetUp() override {
    process_state_.reset();  // a test that starts over calls SetUp again
    ms_ = std::make_unique<model_state>();
  }

  void open_precip(const std::string& text) {
    write_file(dir_.file("rain.gag"), text);
    snprintf(ms_->input.names.precip_file, sizeof ms_->input.names.precip_file, "rain.gag");
    ASSERT_TRUE(file_handle_open(ms_->input.raingage_file, dir_.file("rain.gag").c_str(), "r"));
  }
  // Runs a start-up step; returns what it printed.
  std::string run(void (*step)(model_state&)) {
    stdout_capture capture;
    step(*ms_);
    return capture.stop();
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder and the state
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
};

TEST_F(EventScan, AnEventRunListsEveryEventButSimulatesTheFirst) {
  std::string text;
  for (int d = 1; d <= 5; ++d) text += gauge_event(2002, 3, d * 2, 6, 30);
  open_precip(text);
  const std::string out = run(scan_precip_events);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ms_->overland.num_events, 1);
  EXPECT_NE(out.find("End of precipitation input file reached.\n"
                     "Precip. file contains 5 events, simulating first event only\n"
                     "because LONG_TERM project file card not set in project file.\n"),
            std::string::npos);
  for (int d = 1; d <= 5; ++d)
    EXPECT_DOUBLE_EQ(ms_->event_start_jday[d], julian_from_date(2002, 3, d * 2, 6, 30, 0.0));
  // The file is rewound for the events' own reading.
  EXPECT_EQ(ftell(ms_->input.raingage_file.fp), 0L);
}

TEST_F(EventScan, LongTermAndTevRunsSimulateEveryEvent) {
  struct kind_case {
    int long_term, tev;
    const char* line;
    int long_term_after;  // inside TEV every run is an event run
  };
  const kind_case cases[] = {{1, 0, "Precip. file contains 3 events\n", 1},
                             {1, 1, "Precip. file contains 3 events.\n", 0}};
  for (const kind_case& c : cases) {
    SCOPED_TRACE(c.line);
    SetUp();
    open_precip(gauge_event(2002, 3, 1, 0, 0) + gauge_event(2002, 3, 5, 0, 0) +
                gauge_event(2002, 4, 1, 0, 0));
    ms_->long_term = c.long_term;
    ms_->tev = c.tev;
    // The event listing of the scan (the hydrometeorological span is read before it).
    const std::string out = run(list_precip_events);
    EXPECT_NE(out.find(c.line), std::string::npos);
    EXPECT_EQ(ms_->overland.num_events, 3);
    EXPECT_DOUBLE_EQ(ms_->event_start_jday[3], julian_from_date(2002, 4, 1, 0, 0, 0.0));
    EXPECT_EQ(ms_->long_term, c.long_term_after);
  }
}

TEST_F(EventScan, QuietRunsNameTheFileInsteadOfCountingEvents) {
  open_precip(gauge_event(2002, 3, 1, 0, 0));
  ASSERT_TRUE(file_handle_open(ms_->output.summary_file, dir_.file("summary.out").c_str(), "w"));
  ms_->quiet = 1;
  const std::string out = run(scan_precip_events);
  EXPECT_EQ(out, "using precipitation data from file: rain.gag\n");
  file_handle_close(ms_->output.summary_file);
  EXPECT_EQ(read_file(dir_.file("summary.out")), "using precipitation data from file: rain.gag\n");
}

TEST_F(EventScan, MoreEventsThanTheTableHoldsIsAnErrorNotAnOverflow) {
  std::string text;
  for (int k = 0; k <= max_precip_events; ++k)
    text += gauge_event(1990 + k / 300, 1 + k % 12, 1, 0, 0);
  open_precip(text);
  ms_->long_term = 1;
  const std::string out = run(list_precip_events);
  EXPECT_NE(out.find("Error: the precipitation file rain.gag holds more than 2000 events"),
            std::string::npos);
  EXPECT_EQ(run_error.error_code, error_code_own_message);
  // The table holds the first 2000 events and nothing was written past it.
  EXPECT_DOUBLE_EQ(ms_->event_start_jday[max_precip_events],
                   julian_from_date(1990 + 1999 / 300, 1 + 1999 % 12, 1, 0, 0, 0.0));

  // Exactly 2000 events fit.
  SetUp();
  text.clear();
  for (int k = 0; k < max_precip_events; ++k)
    text += gauge_event(1990 + k / 300, 1 + k % 12, 1, 0, 0);
  open_precip(text);
  ms_->long_term = 1;
  run(list_precip_events);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ms_->overland.num_events, max_precip_events);
}

TEST_F(EventScan, AFileThatEndsInsideAnEventOrHoldsNoEventStopsTheRun) {
  open_precip(gauge_event(2002, 3, 1, 0, 0) + gauge_event(2002, 3, 9, 0, 0) +
              "EVENT cut\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nGAGES 2002 4 1 0 0 1.0\n");
  ms_->long_term = 1;
  std::string out = run(list_precip_events);
  EXPECT_NE(out.find("Unexpected end of file in rain gage data file.\n"
                     "Check the format of the data file.\nProgram terminated."
                     "Check rain event 3, event after 2002 3 9 \n"),
            std::string::npos);
  EXPECT_EQ(run_error.error_code, error_code_own_message);

  SetUp();
  open_precip("# nothing in here\n");
  out = run(list_precip_events);
  EXPECT_NE(out.find("Error: the precipitation file rain.gag holds no event.\n"),
            std::string::npos);
  EXPECT_EQ(run_error.error_code, error_code_own_message);

  // A format error reported by the reader stops the scan there.
  SetUp();
  open_precip(gauge_event(2002, 3, 1, 0, 0) +
              "EVENT bad\nNRGAG 1\nNRPDS 1\nGAGES 2002 4 1 0 0 1\n");
  out = run(list_precip_events);
  EXPECT_EQ(out.find("End of precipitation input file reached."), std::string::npos);
  EXPECT_EQ(run_error.error_code, error_code_own_message);
}

// The gauge and record counts are whole numbers; a word that only begins with one, or no
// number at all (other than the radar-file word after NRGAG), stops the run naming the card.
TEST_F(EventScan, GaugeAndRecordCountsThatAreNotWholeNumbersStopTheRun) {
  const struct {
    const char* counts;
    const char* card;
  } cases[] = {
      {"NRGAG 1x\nNRPDS 1\n", "NRGAG"},
      {"NRGAG many\nNRPDS 1\n", "NRGAG"},
      {"NRGAG 1\nNRPDS 1.5\n", "NRPDS"},
      {"NRPDS 2abc\nNRGAG 1\n", "NRPDS"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.counts);
    SetUp();
    open_precip(std::string("EVENT odd\n") + c.counts + "COORD 0 0\nGAGES 2002 4 1 0 0 1.0\n");
    const std::string out = run(list_precip_events);
    EXPECT_NE(out.find(std::string("The ") + c.card + " card of the event"), std::string::npos)
        << out;
    EXPECT_NE(out.find("which is not a whole number"), std::string::npos) << out;
    EXPECT_EQ(run_error.error_code, error_code_own_message);
  }
}

TEST_F(EventScan, TevSummaryModeWritesTheEventStartsAndSimulatesNothing) {
  ASSERT_EQ(mkdir(dir_.file("exchange").c_str(), 0755), 0);
  open_precip(gauge_event(2002, 3, 1, 6, 15) + gauge_event(2002, 11, 30, 23, 5));
  ms_->tev = 1;
  ms_->tev_event_num_given = 1;
  ms_->tev_event_num = 0;
  ms_->quiet = 1;
  const std::string out = run(scan_precip_events);
  EXPECT_NE(out.find("\n\nReading precip file to write TEV summary in file: TEV_PRECIP.SUM\n"),
            std::string::npos);
  EXPECT_NE(out.find("TORVA wrote precipitation data event summary to file: "
                     "exchange/TEV_PRECIP.SUM\nNo simulations performed.  TORVA terminated.\n\n"),
            std::string::npos);
  EXPECT_EQ(run_error.error_code, error_code_own_message);
  EXPECT_EQ(read_file(dir_.file("exchange/TEV_PRECIP.SUM")),
            "2\n2002  3  1  6 15\n2002 11 30 23  5\n");
}

TEST_F(EventScan, TevAskingForAnEventTheFileLacksStopsTheRun) {
  for (int asked : {7, -1}) {
    SCOPED_TRACE(asked);
    SetUp();
    std::string text;
    for (int d = 1; d <= 5; ++d) text += gauge_event(2002, 5, d, 0, 0);
    open_precip(text);
    ms_->tev = 1;
    ms_->tev_event_num_given = 1;
    ms_->tev_event_num = asked;
    const std::string out = run(scan_precip_events);
    EXPECT_NE(out.find("\n\nTEV has requested that TORVA run event " + std::to_string(asked) +
                       ".\nThe precip file specified in the project file: rain.gag\n"
                       "contains only 5 events.  PROGRAM TERMINATED.\n\n"),
              std::string::npos);
    EXPECT_EQ(run_error.error_code, error_code_own_message);
  }
}

TEST_F(EventScan, OptimisationOutputIsOpenedWithItsDefaultName) {
  open_precip(gauge_event(2002, 3, 1, 0, 0));
  ms_->calibration.optimize_on = 1;
  run(scan_precip_events);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_STREQ(ms_->calibration.optimize_name, "torva_optim.out");
  EXPECT_TRUE(ms_->input.optimize_file.is_open());
  EXPECT_EQ(ms_->calibration.loc_peak.count(), 100);
  EXPECT_EQ(ms_->calibration.loc_peak_aux.count(), 100);

  // A name that cannot be opened stops the run.
  SetUp();
  open_precip(gauge_event(2002, 3, 1, 0, 0));
  ms_->calibration.optimize_on = 1;
  snprintf(ms_->calibration.optimize_name, sizeof ms_->calibration.optimize_name, "%s",
           dir_.file("no/such/folder/opt.out").c_str());
  // The message and the report of its code share the console stream, in this order.
  testing::internal::CaptureStderr();
  const std::string out = run([](model_state& ms) {
    scan_precip_events(ms);
    EXPECT_EQ(run_error.error_code, error_code_own_message);
    error_report(run_error);
  });
  const std::string err = testing::internal::GetCapturedStderr();
  const std::string message =
      "Problem opening optimization output file named:" + dir_.file("no/such/folder/opt.out") +
      " for writing\n";
  const std::size_t at = out.find(message);
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_EQ(out.substr(at), message + "\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(ms_->calibration.loc_peak.empty());
}

TEST_F(EventScan, RadarEventsPrepareTheRadarMappingRecord) {
  write_file(dir_.file("r.asc"), "ncols 2\nnrows 2\nxll 0\nyll 0\ncellsize 10\nnodata -1\n");
  open_precip("EVENT r\nNRGAG files\nNRPDS 1\nRADAR 2002 3 1 0 0 " + dir_.file("r.asc") + "\n");
  ms_->cell_count = 6;
  ms_->gridsize = 30.0;
  ms_->map_west = 500.0;
  ms_->map_north = 900.0;
  ms_->map_rows = 3;
  ms_->map_cols = 2;
  run(scan_precip_events);
  const radar_grid_record& radar = ms_->overland.radar_grid;
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_DOUBLE_EQ(radar.model_west, 500.0);
  EXPECT_DOUBLE_EQ(radar.model_north, 900.0);
  EXPECT_DOUBLE_EQ(radar.model_cell_size, 30.0);
  EXPECT_EQ(radar.model_rows, 3);
  EXPECT_EQ(radar.model_cols, 2);
  EXPECT_EQ(radar.model_cell_count, 6);
  // One radar index per cell, in a raw array the per-cell rainfall loops can share.
  const raw_array1d<int>& radar_index = ms_->overland.torva_to_precip;
  ASSERT_EQ(radar_index.count(), 6);
  for (int cell = 0; cell <= 6; ++cell) EXPECT_EQ(radar_index[cell], 0) << cell;
}

TEST_F(EventScan, LongTermRunsTakeTheirSpanFromTheWeatherFile) {
  open_precip(gauge_event(2002, 3, 1, 0, 0));
  ms_->long_term = 1;
  ms_->quiet = 1;
  ms_->subsurface.hmet_obu = 1;
  // Three hourly records, the last at hour 24 of 28 February: hour 0 of 1 March.
  write_file(dir_.file("weather.txt"),
             "2002 2 28 22 29.92 50 30 10 50 0.0 0.0\n2002 2 28 23 29.92 50 30 10 50 0.0 0.0\n"
             "2002 2 28 24 29.92 50 30 10 50 0.0 0.0\n");
  snprintf(ms_->input.names.hmet_file, sizeof ms_->input.names.hmet_file, "weather.txt");
  ASSERT_TRUE(file_handle_open(ms_->input.hmet_file, dir_.file("weather.txt").c_str(), "r"));
  run(scan_precip_events);
  EXPECT_EQ(run_error.error_code, 0);
  const int first[4] = {2002, 2, 28, 22}, last[4] = {2002, 3, 1, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ms_->hmet_first_date[i], first[i]) << i;
    EXPECT_EQ(ms_->hmet_last_date[i], last[i]) << i;
  }
  EXPECT_EQ(ms_->weather.record_count, 3);
  EXPECT_EQ(ms_->start_yyyymmdd, 20020228);
  EXPECT_EQ(ms_->start_hhmm, 2200);
  EXPECT_EQ(ms_->overland.num_events, 1);
}

TEST_F(EventScan, HourTwentyFourCarriesIntoTheNextDayMonthAndYear) {
  struct carry_case {
    int in[4];
    int out[4];
  };
  const carry_case cases[] = {
      {{2000, 12, 31, 24}, {2001, 1, 1, 0}}, {{2024, 2, 28, 24}, {2024, 2, 29, 0}},
      {{2024, 2, 29, 24}, {2024, 3, 1, 0}},  {{2023, 2, 28, 24}, {2023, 3, 1, 0}},
      {{2100, 2, 28, 24}, {2100, 2, 29, 0}}, {{2001, 4, 30, 24}, {2001, 5, 1, 0}},
      {{2001, 4, 12, 24}, {2001, 4, 13, 0}}, {{2001, 4, 12, 23}, {2001, 4, 12, 23}},
  };
  for (int february : {28, 29}) {
    for (const carry_case& c : cases) {
      // The February entry an earlier run left behind does not change the result.
      month_days[2] = february;
      int date[4] = {c.in[0], c.in[1], c.in[2], c.in[3]};
      carry_hour_24(date);
      SCOPED_TRACE(std::to_string(c.in[0]) + "-" + std::to_string(c.in[1]) + "-" +
                   std::to_string(c.in[2]) + " after February " + std::to_string(february));
      for (int i = 0; i < 4; ++i) EXPECT_EQ(date[i], c.out[i]);
    }
  }
}

// ---- Lake and soil reset, initial overland volume ----

class EventScanState : public EventScan {
 protected:
  // A grid of `n` cells 10 m square with elevations 100, 101, ...
  void cells(int n) {
    ms_->cell_count = n;
    ms_->gridsize = 10.0;
    ms_->cell_elev.allocate(n);
    for (int c = 1; c <= n; ++c) ms_->cell_elev[c] = 99.0 + c;
  }
};

TEST_F(EventScanState, ALakeBelowOneOfItsCellsStopsTheRunNamingBoth) {
  cells(3);
  overland_state& ov = ms_->overland;
  ov.overland_lake_map = 1;
  ov.oland_lake_mask.allocate(3);
  ov.oland_lake_mask[1] = 2;
  ov.oland_lake_mask[3] = 2;
  ov.olake_count = 2;
  ov.ov_lakes.allocate(2);
  ov.ov_lakes[2].surface_elev = 101.5;  // above cell 1 (100), below cell 3 (102)
  const std::string out = run(init_lake_and_soil_state);
  EXPECT_EQ(out,
            "\nWARNING: initial water surface elevation in lake 2 is 101.500000 which is\n"
            "less than the land surface elevation in grid cell 3, 102.000000.\n"
            "You should either raise your initial lake elevation or lower that grid\n"
            "cell elevation.  Program stopped.\n");
  EXPECT_EQ(run_error.error_code, error_code_own_message);

  // Raised above every cell: the lake's water is counted.
  SetUp();
  cells(3);
  ms_->overland.overland_lake_map = 1;
  ms_->overland.oland_lake_mask.allocate(3);
  ms_->overland.oland_lake_mask[1] = 1;
  ms_->overland.oland_lake_mask[3] = 1;
  ms_->overland.olake_count = 1;
  ms_->overland.ov_lakes.allocate(1);
  ms_->overland.ov_lakes[1].surface_elev = 102.5;
  EXPECT_EQ(run(init_lake_and_soil_state), "");
  EXPECT_DOUBLE_EQ(ms_->lake_vol_initial, (2.5 + 0.5) * 100.0);
}

TEST_F(EventScanState, RedistributionStartsFromTheWaterTableAndCountsTheSoilWater) {
  cells(3);
  subsurface_state& ss = ms_->subsurface;
  ss.inf_redist = 1;
  ss.redistribution_on = 1;
  ss.gw_simulation = 1;
  ss.init_unsat_depth_cm = 150.0;
  ss.zone_depth_upper = 0.0;  // takes the default unsaturated depth
  ss.single_unsat_sat = 0.5;
  ss.water_table_on = 1;
  for (auto* a : {&ss.theta_init, &ss.porosity_cell, &ss.wt_depth_cm, &ss.zone_water_upper,
                  &ss.zone_water_lower, &ss.soil_water_total, &ss.redist_front_theta,
                  &ss.surf_moist, &ss.gw_inf_redist_theta, &ss.gw_porosity, &ss.elevgw,
                  &ss.bottom_elev, &ss.gw_flux, &ss.inf_depth_cum})
    a->allocate(3);
  ss.yes_exfil.allocate(3);
  for (int c = 1; c <= 3; ++c) {
    ss.theta_init[c] = 0.2;
    ss.porosity_cell[c] = 0.4;
    ss.gw_porosity[c] = 0.3;
    ss.bottom_elev[c] = 90.0;
    ss.gw_flux[c] = 7.0;
    ss.inf_depth_cum[c] = 0.3;
  }
  // The initial water table is the groundwater head.
  ss.elevgw[1] = 98.0;   // 2 m down: deeper than 150 cm, the default depth holds
  ss.elevgw[2] = 100.5;  // 0.5 m down: the depth shortens to 50 cm
  ss.elevgw[3] = 103.0;  // above the surface: saturated
  EXPECT_EQ(run(init_lake_and_soil_state), "");
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_DOUBLE_EQ(ss.zone_depth_upper, 150.0);
  EXPECT_DOUBLE_EQ(ss.wt_depth_cm[1], 150.0);
  EXPECT_NEAR(ss.wt_depth_cm[2], 50.0, 1e-9);
  EXPECT_DOUBLE_EQ(ss.wt_depth_cm[3], 0.0);
  EXPECT_EQ(ss.yes_exfil[3], 1);
  EXPECT_EQ(ss.yes_exfil[1], 0);
  EXPECT_EQ(ms_->gw_at_surface, 1);
  EXPECT_DOUBLE_EQ(ss.theta_init[3], 0.4);          // saturated to its porosity
  EXPECT_DOUBLE_EQ(ss.redist_front_theta[1], 0.2);  // the front starts at the initial moisture
  EXPECT_DOUBLE_EQ(ss.gw_inf_redist_theta[2], 0.15);
  EXPECT_DOUBLE_EQ(ss.gw_flux[1], 0.0);
  EXPECT_DOUBLE_EQ(ss.inf_depth_cum[2], 0.0);
  // Soil water: 0.2 x 150 cm and 0.2 x 50 cm over 100 m2.
  const double soil = (0.2 * 150.0 + 0.2 * 50.0) / 100.0 * 100.0;
  EXPECT_NEAR(ms_->soil_vol_initial, soil, 1e-9);
  EXPECT_NEAR(ss.vadose_vol_initial, soil, 1e-9);
  // Groundwater over 100 m2, the soil 1.5 m deep on grounds of 100, 101 and 102 m: below the
  // soil the aquifer's porosity 0.3 and the content 0.15 the unsaturated zone keeps above the
  // table; inside the soil its porosity 0.4; above the ground open water.
  const double gw = ((98.0 - 90.0) * 0.3 + (98.5 - 98.0) * 0.15 +  // table below the soil
                     (99.5 - 90.0) * 0.3 + (100.5 - 99.5) * 0.4 +  // table inside the soil
                     (100.5 - 90.0) * 0.3 + 1.5 * 0.4 + (103.0 - 102.0) * 1.0) *
                    100.0;
  EXPECT_NEAR(ms_->gw_vol_initial, gw, 1e-9);
  EXPECT_NEAR(ss.subsurface_vol_initial, soil + gw, 1e-9);
  EXPECT_DOUBLE_EQ(ss.zone_water_upper[1], 30.0);
}

TEST_F(EventScanState, InitialOverlandVolumeLeavesOutTheLakeCells) {
  cells(4);
  overland_state& ov = ms_->overland;
  ov.ov_depth.allocate(4);
  for (int c = 1; c <= 4; ++c) ov.ov_depth[c] = 0.01 * c;
  run(compute_initial_overland_volume);
  EXPECT_NEAR(ms_->ov_vol_initial, (0.01 + 0.02 + 0.03 + 0.04) * 100.0, 1e-12);

  // Channel lakes: their cells are left out.
  ms_->perennial_lakes = 1;
  ms_->channel.lake_mask.allocate(4);
  ms_->channel.lake_mask[2] = 1;
  run(compute_initial_overland_volume);
  EXPECT_NEAR(ms_->ov_vol_initial, (0.01 + 0.03 + 0.04) * 100.0, 1e-12);

  // Overland lakes take the place of the channel lakes in the test.
  ov.overland_lake_map = 1;
  ov.oland_lake_mask.allocate(4);
  ov.oland_lake_mask[4] = 1;
  run(compute_initial_overland_volume);
  EXPECT_NEAR(ms_->ov_vol_initial, (0.01 + 0.02 + 0.03) * 100.0, 1e-12);
}

// ---- The simulation clock ----

class EventScanClock : public EventScan {
 protected:
  void SetUp() override {
    EventScan::SetUp();
    ms_->grid_params.timestep = 60.0;
    ms_->timestep = ms_->dt_seconds = 60.0;
    ms_->overland.num_events = 3;
    ms_->event_start_jday[1] = julian_from_date(2005, 4, 1, 0, 0, 0.0);
    ms_->event_start_jday[2] = julian_from_date(2005, 4, 10, 0, 0, 0.0);
    ms_->event_start_jday[3] = julian_from_date(2005, 4, 20, 0, 0, 0.0);
  }
};

TEST_F(EventScanClock, AnEventRunStartsAtItsEventWithEveryScheduleDue) {
  ms_->subsurface.green_ampt = 1;
  ms_->channel.chan_explic = 1;
  EXPECT_EQ(run(init_simulation_clock), "");
  const double start = ms_->event_start_jday[1];
  EXPECT_DOUBLE_EQ(ms_->hmet_start_jday, start);
  EXPECT_DOUBLE_EQ(ms_->current_time, start);
  EXPECT_DOUBLE_EQ(ms_->start_time_jday, start);
  EXPECT_DOUBLE_EQ(ms_->time_tolerance, 1.1574074074074074e-07);
  EXPECT_DOUBLE_EQ(ms_->dt_days, 60.0 / 86400.0);
  EXPECT_DOUBLE_EQ(ms_->ov_clock.next, start);
  EXPECT_DOUBLE_EQ(ms_->ov_clock.last, start - 60.0 / 86400.0);
  EXPECT_DOUBLE_EQ(ms_->infil_clock.last, start);
  EXPECT_DOUBLE_EQ(ms_->infil_clock.next, start + 60.0 / 86400.0);
  EXPECT_DOUBLE_EQ(ms_->chan_clock.interval_seconds, 60.0);
  EXPECT_DOUBLE_EQ(ms_->chan_clock.last, start);
  EXPECT_DOUBLE_EQ(ms_->next_event_time, start);
  EXPECT_EQ(ms_->overland.rain_event_state, 0);
  EXPECT_EQ(ms_->overland.cur_event, 1);
  EXPECT_EQ(ms_->run_flag, 1);
  EXPECT_EQ(ms_->step_number, 0);
  EXPECT_EQ(ms_->clock_calls, 0);
}

TEST_F(EventScanClock, ALongTermRunWaitsForItsFirstEventWhileDry) {
  ms_->long_term = 1;
  ms_->subsurface.inf_redist = 1;
  ms_->subsurface.redistribution_on = 1;
  ms_->hmet_first_date[0] = 2005;
  ms_->hmet_first_date[1] = 3;
  ms_->hmet_first_date[2] = 31;
  ms_->hmet_first_date[3] = 18;
  const int last[4] = {2005, 5, 1, 0};
  for (int i = 0; i < 4; ++i) ms_->hmet_last_date[i] = last[i];
  run(init_simulation_clock);
  const double start = julian_from_date(2005, 3, 31, 18, 0, 0.0);
  EXPECT_DOUBLE_EQ(ms_->hmet_start_jday, start);
  EXPECT_DOUBLE_EQ(ms_->hmet_end_jday, julian_from_date(2005, 5, 1, 0, 0, 0.0));
  EXPECT_EQ(ms_->start_hhmm, 1800);
  EXPECT_EQ(ms_->start_yyyymmdd, 20050331);
  EXPECT_DOUBLE_EQ(ms_->current_time, start);
  // Overland flow and infiltration are parked until the first event.
  EXPECT_DOUBLE_EQ(ms_->ov_clock.next, ms_->event_start_jday[1]);
  EXPECT_DOUBLE_EQ(ms_->infil_clock.last, ms_->event_start_jday[1]);
  EXPECT_DOUBLE_EQ(ms_->hmet_clock.next, start);
  EXPECT_DOUBLE_EQ(ms_->hmet_clock.interval_days, 0.041666666666666664);
  EXPECT_DOUBLE_EQ(ms_->soil_et_clock.last, start);
  EXPECT_DOUBLE_EQ(ms_->soil_et_clock.next, start + 0.041666666666666664);
  EXPECT_EQ(ms_->subsurface.inf_active, 0);

  // Overland water at the start keeps them running from the start.
  SetUp();
  ms_->long_term = 1;
  ms_->subsurface.inf_redist = 1;
  ms_->ov_water_present = 1;
  for (int i = 0; i < 4; ++i) ms_->hmet_first_date[i] = ms_->hmet_last_date[i] = last[i];
  run(init_simulation_clock);
  EXPECT_DOUBLE_EQ(ms_->ov_clock.next, ms_->current_time);
  EXPECT_DOUBLE_EQ(ms_->infil_clock.last, ms_->current_time);
  EXPECT_EQ(ms_->subsurface.inf_active, 1);
}

TEST_F(EventScanClock, AStartDateBetweenEventsStartsWithTheNextEvent) {
  ms_->long_term = 1;
  const int first[4] = {2005, 3, 1, 0};
  for (int i = 0; i < 4; ++i) ms_->hmet_first_date[i] = ms_->hmet_last_date[i] = first[i];
  grid_time_params& g = ms_->grid_params;
  g.start_year = 2005;
  g.start_month = 4;
  g.start_day = 15;
  g.start_hour = 6;
  g.start_minute = 30;
  run(init_simulation_clock);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ms_->start_date_given, 1);
  EXPECT_EQ(ms_->first_event, 3);
  EXPECT_EQ(ms_->event_number, 2);
  EXPECT_DOUBLE_EQ(ms_->current_time, julian_from_date(2005, 4, 15, 6, 30, 0.0));
  EXPECT_DOUBLE_EQ(ms_->start_time_jday, ms_->current_time);
  EXPECT_EQ(ms_->start_hhmm, 630);
  EXPECT_EQ(ms_->start_yyyymmdd, 20050415);
  EXPECT_DOUBLE_EQ(ms_->next_event_time, ms_->event_start_jday[3]);
  EXPECT_DOUBLE_EQ(ms_->ov_clock.last, ms_->event_start_jday[3]);
  EXPECT_DOUBLE_EQ(ms_->ov_clock.next, ms_->event_start_jday[3] + 60.0 / 86400.0);
}

TEST_F(EventScanClock, AStartDateAfterEveryEventLeavesNothingToSimulate) {
  ms_->long_term = 1;
  ms_->grid_params.start_year = 2005;
  ms_->grid_params.start_month = 4;
  ms_->grid_params.start_day = 20;
  ms_->grid_params.start_minute = 1;  // one minute after the last event's start
  const std::string out = run(init_simulation_clock);
  EXPECT_NE(out.find("Error: the start date 04/20/2005 00:01 lies after the start of every event "
                     "in the precipitation file"),
            std::string::npos);
  EXPECT_EQ(run_error.error_code, error_code_own_message);
  EXPECT_EQ(ms_->run_flag, 0);
}

TEST_F(EventScanClock, UniformRainStartsItsEventWithTheRun) {
  overland_state& ov = ms_->overland;
  ov.uniform_rain = 1;
  ov.rain_duration = 45.0;
  ms_->grid_params.timestep = 20.0;
  ms_->cur_year = 2006;  // the start date and time as the run parameters give them
  ms_->current_time = ms_->hmet_start_jday = julian_from_date(2006, 8, 1, 12, 0, 0.0);
  run(init_simulation_clock);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ms_->event_number, 1);
  EXPECT_EQ(ov.rain_event_state, 1);
  EXPECT_EQ(ov.precip_record_count, 135);  // 45 minutes of 20 s
  EXPECT_DOUBLE_EQ(ms_->next_event_time, ms_->hmet_start_jday);
  EXPECT_DOUBLE_EQ(ms_->current_time, ms_->hmet_start_jday);
  EXPECT_DOUBLE_EQ(ms_->event_start_time, ms_->hmet_start_jday);
  EXPECT_EQ(ms_->run_flag, 1);

  // Without START_DATE the run cannot start.
  SetUp();
  ms_->overland.uniform_rain = 1;
  const std::string out = run(init_simulation_clock);
  EXPECT_EQ(out.rfind("You did not specify the starting date and time in the\n"
                      "project file.  You must do this for simulations with\n"
                      "uniform precipitation using the START_DATE and START_TIME\n"
                      "cards.  Edit the project file.   Program terminated.\n",
                      0),
            0u);
  // Left for the driver's check right after the step; its report stops the run.
  EXPECT_EQ(run_error.error_code, error_code_own_message);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(ms_->run_flag, 0);
}

TEST_F(EventScanClock, TevEventModeStartsAtTheAskedEvent) {
  ms_->tev = 1;
  ms_->tev_event_num_given = 1;
  ms_->tev_event_num = 2;
  ms_->subsurface.green_ampt = 1;
  run(init_simulation_clock);
  const double start = ms_->event_start_jday[2];
  EXPECT_DOUBLE_EQ(ms_->current_time, start);
  EXPECT_DOUBLE_EQ(ms_->next_event_time, start);
  EXPECT_DOUBLE_EQ(ms_->ov_clock.next, start);
  EXPECT_DOUBLE_EQ(ms_->infil_clock.next, start + 60.0 / 86400.0);
}

TEST_F(EventScanClock, GroundwaterFollowsAShorterInfiltrationInterval) {
  subsurface_state& ss = ms_->subsurface;
  ss.gw_simulation = 1;
  ss.gw_time_step = 900.0;
  ss.green_ampt = 1;
  run(init_simulation_clock);
  EXPECT_DOUBLE_EQ(ms_->gw_clock.interval_seconds, 60.0);
  EXPECT_DOUBLE_EQ(ms_->gw_clock.last, ms_->current_time);
  EXPECT_DOUBLE_EQ(ms_->gw_clock.next, ms_->current_time + 60.0 / 86400.0);

  // With redistribution it keeps its own interval.
  SetUp();
  ms_->subsurface.gw_simulation = 1;
  ms_->subsurface.gw_time_step = 900.0;
  ms_->subsurface.inf_redist = 1;
  ms_->subsurface.redistribution_on = 1;
  run(init_simulation_clock);
  EXPECT_DOUBLE_EQ(ms_->gw_clock.interval_seconds, 900.0);
  EXPECT_DOUBLE_EQ(ms_->soil_et_clock.next, ms_->infil_clock.next);
}

TEST_F(EventScanClock, PipesWaitForTheFirstEventUnlessSomethingMovesBetweenEvents) {
  struct pipe_case {
    const char* what;
    int gw_at_surface, leaky, groundwater;
    bool from_start;
  };
  const pipe_case cases[] = {
      {"dry start", 0, 0, 0, false},
      {"water table at the surface", 1, 0, 0, true},
      {"leaky pipes draining the groundwater", 0, 1, 1, true},
      {"leaky pipes without groundwater", 0, 1, 0, false},
      {"groundwater without leaky pipes", 0, 0, 1, false},
  };
  for (const pipe_case& pc : cases) {
    SCOPED_TRACE(pc.what);
    SetUp();
    ms_->long_term = 1;
    const int first[4] = {2005, 3, 1, 0};
    for (int i = 0; i < 4; ++i) ms_->hmet_first_date[i] = ms_->hmet_last_date[i] = first[i];
    ms_->channel.storm_sewer = 1;
    ms_->gw_at_surface = pc.gw_at_surface;
    ms_->channel.superlink_leaky = pc.leaky;
    ms_->subsurface.gw_simulation = pc.groundwater;
    ms_->subsurface.gw_time_step = 900.0;
    run(init_simulation_clock);
    ASSERT_EQ(run_error.error_code, 0);
    const double last =
        pc.from_start ? julian_from_date(2005, 3, 1, 0, 0, 0.0) : ms_->event_start_jday[1];
    EXPECT_DOUBLE_EQ(ms_->superlink_clock.interval_seconds, 60.0);
    EXPECT_DOUBLE_EQ(ms_->superlink_clock.last, last);
    EXPECT_DOUBLE_EQ(ms_->superlink_clock.next, last + 60.0 / 86400.0);
  }
}

TEST_F(EventScanClock, AChannelLakeAboveItsMinimumRunsTheChannelFromTheStart) {
  struct lake_case {
    const char* what;
    int perennial;
    double timestep;     // s
    double second_lake;  // initial level of lake 2 (minimum 100 m)
    double interval;     // s, 0: the channel waits for the first event
  };
  const lake_case cases[] = {
      {"lake above its minimum, short step", 1, 20.0, 100.5, 60.0},
      {"lake above its minimum, long step", 1, 90.0, 100.5, 90.0},
      {"lakes at their minimum", 1, 20.0, 100.0, 0.0},
      {"lakes that are not perennial", 0, 20.0, 100.5, 0.0},
  };
  for (const lake_case& lc : cases) {
    SCOPED_TRACE(lc.what);
    SetUp();
    ms_->long_term = 1;
    const int first[4] = {2005, 3, 1, 0};
    for (int i = 0; i < 4; ++i) ms_->hmet_first_date[i] = ms_->hmet_last_date[i] = first[i];
    ms_->timestep = ms_->dt_seconds = lc.timestep;
    ms_->perennial_lakes = lc.perennial;
    channel_state& ch = ms_->channel;
    ch.chan_explic = 1;
    ch.num_lakes = 2;
    ch.minwse.allocate(2);
    ch.initwse.allocate(2);
    ch.minwse[1] = 50.0;
    ch.initwse[1] = 49.0;  // below its minimum
    ch.minwse[2] = 100.0;
    ch.initwse[2] = lc.second_lake;
    run(init_simulation_clock);
    ASSERT_EQ(run_error.error_code, 0);
    const double start = julian_from_date(2005, 3, 1, 0, 0, 0.0);
    if (lc.interval > 0.0) {
      EXPECT_DOUBLE_EQ(ms_->chan_clock.interval_seconds, lc.interval);
      EXPECT_DOUBLE_EQ(ms_->chan_clock.last, start);
      EXPECT_DOUBLE_EQ(ms_->chan_clock.next, start + lc.interval / 86400.0);
      EXPECT_EQ(ch.chan_lake_flag, 1);
      EXPECT_EQ(ch.lake_growing, 1);
    } else {
      EXPECT_DOUBLE_EQ(ms_->chan_clock.interval_seconds, lc.timestep);
      EXPECT_DOUBLE_EQ(ms_->chan_clock.last, ms_->event_start_jday[1]);
      EXPECT_EQ(ch.chan_lake_flag, 0);
      EXPECT_EQ(ch.lake_growing, 0);
    }
    EXPECT_DOUBLE_EQ(ch.chan_timestep, lc.timestep);
  }
}

}  // namespace
