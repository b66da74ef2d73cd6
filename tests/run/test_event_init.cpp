// Event initialisation: what happens at the first step of an event, and only there: the
// schedules re-based on the event, the event totals and starting volumes, the end time of an
// event run, the soil moisture of the redistribution and layered schemes, and the channel put
// back to an empty start.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "run/event_control.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;

namespace {

constexpr double minute_days = 60.0 / 86400.0;

class EventInit : public ::testing::Test {
 protected:
  void SetUp() override {
    process_state_.reset();  // a test that starts over calls SetUp again
    ms_ = std::make_unique<model_state>();
    model_state& ms = *ms_;
    // The second pass of a run at the start of an event, 60 s steps.
    ms.time_tolerance = 1.1574074074074074e-07;
    ms.event_start_time = ms.current_time = julian_from_date(2007, 9, 3, 14, 0, 0.0);
    ms.clock_calls = 5;
    ms.event_step = 17;
    ms.ov_clock.interval_seconds = 60.0;
    ms.ov_clock.interval_days = minute_days;
    ms.peak_outlet_q = 12.0;
    ms.event_rain_vol = 300.0;
    ms.long_term = 1;
    ms.gridsize = 10.0;
  }

  // Gives the run `n` cells with elevations 100, 101, ...
  void cells(int n) {
    ms_->cell_count = n;
    ms_->cell_elev.allocate(n);
    for (int c = 1; c <= n; ++c) ms_->cell_elev[c] = 99.0 + c;
  }
  std::string init() {
    stdout_capture capture;
    init_event(*ms_);
    return capture.stop();
  }

  torva_test::process_state_guard process_state_;  // destroyed after the model state
  std::unique_ptr<model_state> ms_;
};

TEST_F(EventInit, NothingHappensAwayFromTheEventsFirstStep) {
  ms_->current_time += 0.02 / 86400.0;  // 0.02 s after the start: beyond the tolerance
  EXPECT_EQ(init(), "");
  EXPECT_EQ(ms_->ov_water_present, 0);
  EXPECT_DOUBLE_EQ(ms_->peak_outlet_q, 12.0);
  EXPECT_EQ(ms_->event_step, 17);
  EXPECT_DOUBLE_EQ(ms_->ov_clock.last, 0.0);
  EXPECT_EQ(ms_->output.event_balance_open, 0);

  ms_->current_time -= 0.02 / 86400.0 - 0.005 / 86400.0;  // 0.005 s after: within it
  EXPECT_EQ(init(), "Initialized Arrays\n");
  EXPECT_EQ(ms_->ov_water_present, 1);
  EXPECT_EQ(ms_->output.event_balance_open, 1);
  EXPECT_DOUBLE_EQ(ms_->peak_outlet_q, 0.0);
  EXPECT_DOUBLE_EQ(ms_->event_rain_vol, 0.0);
}

TEST_F(EventInit, SchedulesStartAgainWithTheEvent) {
  model_state& ms = *ms_;
  const double now = ms.current_time;
  ms.subsurface.gw_simulation = 1;
  ms.subsurface.redistribution_on = 1;
  ms.subsurface.gw_event_exchange = 5.0;
  ms.infil_clock = {3600.0, 3600.0 / 86400.0, now - 1.0, now + 1.0};
  ms.gw_clock = {900.0, 900.0 / 86400.0, now - 1.0, now + 0.5};
  init();
  EXPECT_DOUBLE_EQ(ms.ov_clock.last, now);
  EXPECT_DOUBLE_EQ(ms.ov_clock.next, now + minute_days);
  EXPECT_DOUBLE_EQ(ms.infil_clock.interval_seconds, 60.0);
  EXPECT_DOUBLE_EQ(ms.infil_clock.next, now + 2 * minute_days);
  EXPECT_DOUBLE_EQ(ms.gw_clock.interval_seconds, 60.0);
  EXPECT_DOUBLE_EQ(ms.gw_clock.next, now + 2 * minute_days);
  EXPECT_DOUBLE_EQ(ms.subsurface.gw_event_exchange, 0.0);
  EXPECT_DOUBLE_EQ(ms.soil_et_clock.interval_seconds, 60.0);
  EXPECT_DOUBLE_EQ(ms.soil_et_clock.next, ms.infil_clock.next);

  // A schedule already due sooner is not put off.
  SetUp();
  ms_->infil_clock.next = ms_->current_time + 0.5 * minute_days;
  init();
  EXPECT_DOUBLE_EQ(ms_->infil_clock.next, ms_->current_time + 0.5 * minute_days);
}

TEST_F(EventInit, TheEventStepRestartsExceptOnTheRunsFirstPass) {
  init();
  EXPECT_EQ(ms_->event_step, 1);
  EXPECT_EQ(ms_->subsurface.infil_step_count, 1);
  SetUp();
  ms_->clock_calls = 1;
  init();
  EXPECT_EQ(ms_->event_step, 17);
  EXPECT_EQ(ms_->subsurface.infil_step_count, 1);
}

TEST_F(EventInit, AnEventRunEndsTotTimeMinutesAfterItsStart) {
  struct end_case {
    int tot_time;
    double days;
  };
  // A run of less than a day must not end at once.
  for (const end_case c : {end_case{1440, 1.0}, end_case{90, 0.0625}, end_case{1, 1.0 / 1440.0}}) {
    SCOPED_TRACE(c.tot_time);
    SetUp();
    ms_->long_term = 0;
    ms_->tot_time = c.tot_time;
    ms_->hmet_start_jday = ms_->current_time;
    const std::string out = init();
    EXPECT_NE(out.find("simulation duration " + std::to_string(c.tot_time) + " minutes\n"),
              std::string::npos);
    EXPECT_DOUBLE_EQ(ms_->end_time_jday, ms_->hmet_start_jday + c.days);
  }
  // Long-term runs have no end time of their own.
  SetUp();
  ms_->tot_time = 90;
  EXPECT_EQ(init().find("simulation duration"), std::string::npos);
  EXPECT_DOUBLE_EQ(ms_->end_time_jday, 0.0);
}

TEST_F(EventInit, StartingOverlandWaterDecidesADryOrWetStart) {
  cells(3);
  ms_->subsurface.redistribution_on = 1;
  overland_state& ov = ms_->overland;
  ov.ov_depth.allocate(3);
  init();
  EXPECT_EQ(ms_->event_dry_start, 1);
  EXPECT_DOUBLE_EQ(ms_->event_start_ov_vol, 0.0);
  EXPECT_DOUBLE_EQ(ms_->event_start_ov_sum, 0.0);

  // Water on cell 1 and an overland lake over cell 3 (surface 103.5 over ground 102).
  ov.ov_depth[1] = 0.02;
  ov.overland_lake_map = 1;
  ov.oland_lake_new.allocate(3);
  ov.oland_lake_new[3] = 1;
  ov.olake_count = 1;
  ov.ov_lakes.allocate(1);
  ov.ov_lakes[1].surface_elev = 103.5;
  init();
  const double expected = 0.02 * 100.0 + 1.5 * 100.0;
  EXPECT_EQ(ms_->event_dry_start, 0);
  EXPECT_DOUBLE_EQ(ms_->event_start_ov_sum, expected);
  EXPECT_DOUBLE_EQ(ms_->event_start_ov_vol, expected);
  EXPECT_DOUBLE_EQ(ov.olake_event_start_vol, 1.5 * 100.0);

  // Without an option that keeps water between events the start is not measured.
  SetUp();
  cells(3);
  ms_->overland.ov_depth.allocate(3);
  ms_->overland.ov_depth[1] = 0.02;
  init();
  EXPECT_EQ(ms_->event_dry_start, 1);
  EXPECT_DOUBLE_EQ(ms_->event_start_ov_sum, 0.0);
}

TEST_F(EventInit, ASacramentoEventStartsFromTheBasinsSoilWater) {
  subsurface_state& ss = ms_->subsurface;
  ss.sacramento = 1;
  ss.sac_event_input = ss.sac_event_et = ss.sac_event_inflow = 7.0;
  sac_basin_params& basin = ss.sac_params;
  basin.uztwm = 50.0;  // capacities are not storage
  basin.uztwc = 10.0;
  basin.uzfwc = 5.0;
  basin.lztwc = 20.0;
  basin.lzfsc = 3.0;
  basin.lzfpc = 2.0;
  ss.sac_basin_area = 2.0e6;
  init();
  EXPECT_DOUBLE_EQ(ss.sac_event_input, 0.0);
  EXPECT_DOUBLE_EQ(ss.sac_event_et, 0.0);
  EXPECT_DOUBLE_EQ(ss.sac_event_inflow, 0.0);
  // 40 mm of storage over 2 km2.
  EXPECT_DOUBLE_EQ(ss.event_vol_sac_init, 40.0 * 2.0e6 / 1000.0);

  // Without the Sacramento model its totals are left alone.
  SetUp();
  ms_->subsurface.sac_event_inflow = 7.0;
  ms_->subsurface.sac_params.uztwc = 10.0;
  ms_->subsurface.sac_basin_area = 2.0e6;
  init();
  EXPECT_DOUBLE_EQ(ms_->subsurface.sac_event_inflow, 7.0);
  EXPECT_DOUBLE_EQ(ms_->subsurface.event_vol_sac_init, 0.0);
}

class EventInitOverland : public EventInit {
 protected:
  // Three cells, each with 0.1 m of water left and a maximum depth of 0.3 m from the last
  // event; with `wetland` cell 2 lies in wetland 1 (initial depth 0.25 m, ground 0.5 m lower).
  void plane(bool wetland) {
    cells(3);
    overland_state& ov = ms_->overland;
    ov.ov_depth.allocate(3);
    ov.max_depth.allocate(3);
    for (int c = 1; c <= 3; ++c) {
      ov.ov_depth[c] = 0.1;
      ov.max_depth[c] = 0.3;
    }
    if (!wetland) return;
    ms_->input.wetland_table_on = 1;
    ov.wetland_mask.allocate(3);
    ov.wetland_mask[2] = 1;
    ov.wetland_count = 1;
    ov.wetlands.allocate(1);
    ov.wetlands[1].slot[0] = 0.25;
    ov.wetlands[1].slot[7] = 0.5;
  }
};

TEST_F(EventInitOverland, RunsThatKeepNoWaterStartEachEventsOverlandStateAfresh) {
  struct plane_case {
    const char* what;
    bool wetland;
    bool initial_depth;
    bool groundwater;
    double depth[3];      // m, after the event initialisation
    double max_depth[3];  // m
    double elevation_2;   // m, of the wetland cell
  };
  const plane_case cases[] = {
      {"no wetland", false, false, false, {0.1, 0.1, 0.1}, {0.0, 0.0, 0.0}, 101.0},
      {"wetland, dry elsewhere", true, false, false, {0.0, 0.25, 0.0}, {0.3, 0.0, 0.3}, 100.5},
      {"wetland and an initial depth", true, true, false, {0.1, 0.25, 0.1}, {0.0, 0.0, 0.0}, 100.5},
      {"groundwater keeps everything", true, false, true, {0.1, 0.1, 0.1}, {0.3, 0.3, 0.3}, 101.0},
  };
  for (const plane_case& pc : cases) {
    SCOPED_TRACE(pc.what);
    SetUp();
    plane(pc.wetland);
    ms_->cards.ov_init_depth_given = pc.initial_depth;
    ms_->subsurface.gw_simulation = pc.groundwater;
    init();
    for (int c = 1; c <= 3; ++c) {
      EXPECT_DOUBLE_EQ(ms_->overland.ov_depth[c], pc.depth[c - 1]) << c;
      EXPECT_DOUBLE_EQ(ms_->overland.max_depth[c], pc.max_depth[c - 1]) << c;
    }
    EXPECT_DOUBLE_EQ(ms_->cell_elev[2], pc.elevation_2);
    EXPECT_DOUBLE_EQ(ms_->cell_elev[1], 100.0);
  }
}

TEST_F(EventInitOverland, WetlandWaterStartsTheEventWetAndTheirGroundIsLoweredOnce) {
  plane(true);
  init();
  // The wetland's water alone stands on the plane: 0.25 m over 100 m2.
  EXPECT_EQ(ms_->event_dry_start, 0);
  EXPECT_DOUBLE_EQ(ms_->event_start_ov_sum, 25.0);
  EXPECT_DOUBLE_EQ(ms_->event_start_ov_vol, 25.0);
  EXPECT_DOUBLE_EQ(ms_->cell_elev[2], 100.5);

  // The next event refills the wetland on the same ground.
  ms_->overland.ov_depth[2] = 0.05;
  ms_->event_start_time = ms_->current_time += 1.0;
  init();
  EXPECT_DOUBLE_EQ(ms_->overland.ov_depth[2], 0.25);
  EXPECT_DOUBLE_EQ(ms_->cell_elev[2], 100.5);
}

TEST_F(EventInit, RedistributionMoistureIsTakenBackInsideItsBounds) {
  cells(3);
  subsurface_state& ss = ms_->subsurface;
  ss.inf_redist = 1;
  ss.redistribution_on = 1;
  ss.zone_depth_upper = 50.0;
  for (auto* a : {&ss.theta_init, &ss.porosity_cell, &ss.residual_cell, &ss.wt_depth_cm,
                  &ss.zone_water_upper, &ss.redist_front_theta, &ss.surf_moist, &ss.recharge_inc,
                  &ss.et_cum_cell, &ss.redist_front_depth, &ss.inf_depth_cum, &ss.inf_depth_prev})
    a->allocate(3);
  ss.iter_n.allocate(3);
  for (int c = 1; c <= 3; ++c) {
    ss.porosity_cell[c] = 0.4;
    ss.residual_cell[c] = 0.06;
    ss.wt_depth_cm[c] = 100.0;
    ss.recharge_inc[c] = 2.0;
    ss.et_cum_cell[c] = 1.0;
    ss.inf_depth_cum[c] = 0.5;
    ss.iter_n[c] = 9;
  }
  ss.zone_water_upper[1] = 2.5;   // 2.5 cm over min(100, 50) cm: 0.05, below 0.06
  ss.zone_water_upper[2] = 10.0;  // 0.2
  ss.zone_water_upper[3] = 30.0;  // 0.6, above the porosity
  const std::string out = init();
  EXPECT_NE(out.find("cell: 1  thi: 0.050000  thr: 0.060000   phi: 0.400000\n"
                     "Problem initializing inf_redist in main loop, thi<thr at grid cell 1, "
                     "increasing it to 0.070000\n"),
            std::string::npos);
  EXPECT_NE(out.find("cell: 3  thi: 0.600000  thr: 0.060000   phi: 0.400000\n"
                     "Problem initializing inf_redist in main loop, thi>phi at grid cell 3, "
                     "decreasing it to 0.390000\n"),
            std::string::npos);
  EXPECT_EQ(out.find("cell: 2"), std::string::npos);
  EXPECT_NEAR(ss.theta_init[1], 0.07, 1e-12);
  EXPECT_NEAR(ss.theta_init[2], 0.2, 1e-12);
  EXPECT_NEAR(ss.theta_init[3], 0.39, 1e-12);
  EXPECT_NEAR(ss.redist_front_theta[1], 0.07, 1e-12);
  EXPECT_NEAR(ss.surf_moist[3], 0.39, 1e-12);
  EXPECT_NEAR(ms_->avg_saturation, (0.07 + 0.2 + 0.39) / 0.4 / 3.0, 1e-12);
  // The gap's drainage and evapotranspiration are booked and cleared (cm over 100 m2).
  EXPECT_NEAR(ss.recharge_volume, 3 * 2.0, 1e-12);
  EXPECT_NEAR(ss.et_cell_volume, 3 * 1.0, 1e-12);
  EXPECT_DOUBLE_EQ(ss.recharge_inc[2], 0.0);
  EXPECT_DOUBLE_EQ(ss.inf_depth_cum[2], 0.0);
  EXPECT_EQ(ss.iter_n[2], 0);
  EXPECT_EQ(ss.inf_active, 1);
}

TEST_F(EventInit, LayeredSoilMoistureFollowsTheWaterLeftInEachZone) {
  cells(4);
  subsurface_state& ss = ms_->subsurface;
  ss.inf_layered_soil = 1;
  ss.redistribution_on = 1;
  soil_table_record& soil = ss.soil_types[0];
  soil.layer_depth[0] = 20.0;
  soil.layer_depth[1] = 30.0;
  const double porosity[3] = {0.45, 0.40, 0.35};
  const double residual[3] = {0.05, 0.04, 0.03};
  for (int k = 0; k < 3; ++k) {
    soil.layer_porosity[k] = porosity[k];
    soil.layer_residual_moisture[k] = residual[k];
  }
  for (auto* a : {&ss.wt_depth_cm, &ss.zone_water_upper, &ss.zone_water_lower}) a->allocate(4);
  ss.soiltype.allocate(4);
  ss.THETA_ML.allocate(4, 3);
  // Cell 1: the table lies below both layers; cell 2: inside layer 2; cell 3: inside layer 1;
  // cell 4: at the surface.
  const double depth[4] = {80.0, 35.0, 10.0, 0.0};
  const double upper[4] = {6.0, 4.0, 5.0, 0.0};
  const double lower[4] = {3.0, 1.5, 0.0, 0.0};
  for (int c = 1; c <= 4; ++c) {
    ss.wt_depth_cm[c] = depth[c - 1];
    ss.zone_water_upper[c] = upper[c - 1];
    ss.zone_water_lower[c] = lower[c - 1];
  }
  EXPECT_EQ(init(), "Initialized Arrays\n");
  const double expected[4][3] = {
      {6.0 / 20.0, 0.1, 0.1},            // lower water over the whole of layer 2, layer 3 the same
      {0.2, 1.5 / (35.0 - 20.0), 0.35},  // lower water over the 15 cm of layer 2 above the table
      {0.45, 0.40, 0.35},                // 5 / 10 = 0.5 is held at the porosity
      {0.45, 0.40, 0.35},                // saturated
  };
  for (int c = 1; c <= 4; ++c)
    for (int k = 1; k <= 3; ++k) EXPECT_NEAR(ss.THETA_ML[c][k], expected[c - 1][k - 1], 1e-12);
  EXPECT_NEAR(ms_->avg_saturation, (0.3 / 0.45 + 0.2 / 0.45 + 1.0 + 1.0) / 4.0, 1e-12);

  // Moisture below the residual content is raised to it.
  const soil_table_record layers = soil;
  SetUp();
  cells(1);
  ms_->subsurface.inf_layered_soil = 1;
  ms_->subsurface.soil_types[0] = layers;
  for (auto* a : {&ms_->subsurface.wt_depth_cm, &ms_->subsurface.zone_water_upper,
                  &ms_->subsurface.zone_water_lower})
    a->allocate(1);
  ms_->subsurface.THETA_ML.allocate(1, 3);
  ms_->subsurface.wt_depth_cm[1] = 80.0;
  init();
  EXPECT_NEAR(ms_->subsurface.THETA_ML[1][1], 0.05, 1e-12);
  EXPECT_NEAR(ms_->subsurface.THETA_ML[1][2], 0.04, 1e-12);
  EXPECT_NEAR(ms_->subsurface.THETA_ML[1][3], 0.03, 1e-12);  // layer 2's 0, raised to its own
}

TEST_F(EventInit, LayeredSoilWithTheTableAtTheFootOfTheFirstLayer) {
  // Cell 1: the water table exactly at the foot of layer 1; cell 2: a little below it.
  cells(2);
  subsurface_state& ss = ms_->subsurface;
  ss.inf_layered_soil = 1;
  soil_table_record& soil = ss.soil_types[0];
  soil.layer_depth[0] = 20.0;
  soil.layer_depth[1] = 30.0;
  const double porosity[3] = {0.45, 0.40, 0.35};
  const double residual[3] = {0.05, 0.04, 0.03};
  for (int k = 0; k < 3; ++k) {
    soil.layer_porosity[k] = porosity[k];
    soil.layer_residual_moisture[k] = residual[k];
  }
  for (auto* a : {&ss.wt_depth_cm, &ss.zone_water_upper, &ss.zone_water_lower}) a->allocate(2);
  ss.THETA_ML.allocate(2, 3);
  ss.wt_depth_cm[1] = 20.0;
  ss.wt_depth_cm[2] = 25.0;
  ss.zone_water_upper[1] = ss.zone_water_upper[2] = 4.0;
  ss.zone_water_lower[2] = 1.0;
  EXPECT_EQ(init(), "Initialized Arrays\n");
  // Layer 2 lies wholly below the table: saturated, as is layer 3.
  EXPECT_NEAR(ss.THETA_ML[1][1], 0.2, 1e-12);
  EXPECT_NEAR(ss.THETA_ML[1][2], 0.40, 1e-12);
  EXPECT_NEAR(ss.THETA_ML[1][3], 0.35, 1e-12);
  // 5 cm of layer 2 above the table hold the lower zone's 1 cm.
  EXPECT_NEAR(ss.THETA_ML[2][2], 0.2, 1e-12);
  EXPECT_NEAR(ms_->avg_saturation, 0.2 / 0.45, 1e-12);
}

TEST_F(EventInit, ALayeredMoistureThatIsNotANumberIsReportedInAnyLayer) {
  cells(2);
  subsurface_state& ss = ms_->subsurface;
  ss.inf_layered_soil = 1;
  soil_table_record& soil = ss.soil_types[0];
  soil.layer_depth[0] = 20.0;
  soil.layer_depth[1] = 30.0;
  for (int k = 0; k < 3; ++k) soil.layer_porosity[k] = 0.4;
  for (auto* a : {&ss.wt_depth_cm, &ss.zone_water_upper, &ss.zone_water_lower}) a->allocate(2);
  ss.THETA_ML.allocate(2, 3);
  ss.wt_depth_cm[1] = ss.wt_depth_cm[2] = 80.0;
  ss.zone_water_upper[1] = ss.zone_water_upper[2] = 4.0;
  ss.zone_water_lower[1] = 3.0;
  ss.zone_water_lower[2] = std::numeric_limits<double>::quiet_NaN();  // spoils layers 2 and 3
  EXPECT_EQ(init(), "Initialized Arrays\nbad initial value of soil moisture cell 2\n");
  EXPECT_TRUE(std::isnan(ss.THETA_ML[2][2]));
  // The first layers of both cells still count towards the mean saturation.
  EXPECT_NEAR(ms_->avg_saturation, 0.2 / 0.4, 1e-12);
}

class EventInitChannel : public EventInit {
 protected:
  // Three links of two nodes: link 1 routed, link 2 a lake, link 3 (the outlet) routed. As for
  // a sectioned link, the second node of each closes the reach of the first, the one
  // computational node (nx = 1).
  void network() {
    channel_state& ch = ms_->channel;
    ch.chan_explic = 1;
    ch.chan_link_count = 3;
    ch.nx1.allocate(3);
    ch.nx.allocate(3);
    for (int link = 1; link <= 3; ++link) ch.nx[link] = 1;
    ch.ltype.allocate(3);
    ch.dx.allocate(3);
    for (auto* a : {&ch.qp, &ch.yp, &ch.bel, &ch.area, &ch.chan_depth}) a->allocate_uniform(3, 2);
    for (int link = 1; link <= 3; ++link) {
      ch.nx1[link] = 2;
      ch.dx[link] = 50.0;
      for (int node = 1; node <= 2; ++node) {
        ch.qp(link, node) = 4.0;
        ch.bel(link, node) = 10.0 * link + node;
        ch.yp(link, node) = ch.bel(link, node) + 1.5;
        ch.chan_depth(link, node) = 1.5;
        ch.area(link, node) = 2.0 * link;
      }
    }
    ch.ltype[2] = 32;
  }
};

TEST_F(EventInitChannel, TheChannelStartsEmptyAndItsVolumeIsTaken) {
  network();
  channel_state& ch = ms_->channel;
  ch.head_bound = 1;
  ch.bound_depth = 0.75;
  init();
  for (int link = 1; link <= 3; ++link) {
    for (int node = 1; node <= 2; ++node) {
      SCOPED_TRACE(std::to_string(node) + "/" + std::to_string(link));
      EXPECT_DOUBLE_EQ(ch.qp(link, node), 0.0);
      if (link == 3 && node == 1) continue;
      EXPECT_DOUBLE_EQ(ch.yp(link, node), ch.bel(link, node));
      EXPECT_DOUBLE_EQ(ch.chan_depth(link, node), 0.0);
    }
  }
  // The outlet node, the last computational node of the last link, holds the head boundary's
  // depth; the node after it, which closes the link's last reach, is not held.
  EXPECT_DOUBLE_EQ(ch.yp(3, 1), ch.bel(3, 1) + 0.75);
  EXPECT_DOUBLE_EQ(ch.chan_depth(3, 1), 0.75);
  // Routed links only: 2 nodes x 50 m of links 1 (area 2) and 3 (area 6).
  EXPECT_DOUBLE_EQ(ch.chan_vol_initial, 2 * 50.0 * 2.0 + 2 * 50.0 * 6.0);
  EXPECT_DOUBLE_EQ(ms_->chan_clock.last, ms_->ov_clock.last);
  EXPECT_DOUBLE_EQ(ms_->chan_clock.next, ms_->ov_clock.next);
}

TEST_F(EventInitChannel, ChannelWaterIsKeptWhereTheRunKeepsItBetweenEvents) {
  struct keep_case {
    const char* name;
    int clock_calls;
    int groundwater;
    int hotstart;
    bool emptied;
  };
  const keep_case cases[] = {
      {"later event with groundwater", 5, 1, 0, false},
      {"first pass with groundwater", 1, 1, 0, true},
      {"hotstart", 1, 0, 1, false},
      {"later event without storage", 5, 0, 0, true},
  };
  for (const keep_case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    network();
    ms_->clock_calls = c.clock_calls;
    ms_->subsurface.gw_simulation = c.groundwater;
    ms_->channel.read_chan_hotstart_on = c.hotstart;
    init();
    EXPECT_EQ(ms_->channel.qp(1, 1) == 0.0, c.emptied);
  }
}

TEST_F(EventInitChannel, ANotANumberAreaIsReportedAndLeftOut) {
  network();
  ms_->channel.area(3, 1) = std::numeric_limits<double>::quiet_NaN();
  const std::string out = init();
  EXPECT_NE(out.find("Negative Area Computed At Startup for [Node][Link]: [1][3] ltype: 0\n"),
            std::string::npos);
  EXPECT_DOUBLE_EQ(ms_->channel.chan_vol_initial, 2 * 50.0 * 2.0 + 50.0 * 6.0);
}

TEST_F(EventInit, ALongTermRichardsRunCarriesTheSoilOverTheGap) {
  temp_dir dir;
  ASSERT_TRUE(file_handle_open(ms_->output.summary_file, dir.file("summary.out").c_str(), "w"));
  model_state& ms = *ms_;
  ms.subsurface.inf_richards = 1;
  ms.infil_clock = {3600.0, 3600.0 / 86400.0, ms.current_time - 2.0, ms.current_time + 0.5};
  init();
  // The gap ends at the event: infiltration is due again one overland step later.
  EXPECT_DOUBLE_EQ(ms.infil_clock.last, ms.current_time);
  EXPECT_DOUBLE_EQ(ms.infil_clock.next, ms.current_time + minute_days);
  file_handle_close(ms.output.summary_file);
  EXPECT_EQ(read_file(dir.file("summary.out")),
            "Total evaporation at beginning of event 0.000000 \n");

  // Not on the run's first pass.
  SetUp();
  ASSERT_TRUE(file_handle_open(ms_->output.summary_file, dir.file("summary.out").c_str(), "w"));
  ms_->subsurface.inf_richards = 1;
  ms_->clock_calls = 1;
  init();
  file_handle_close(ms_->output.summary_file);
  EXPECT_EQ(read_file(dir.file("summary.out")), "");
}

TEST_F(EventInit, OptimisationPeaksStartAgainAtEveryEvent) {
  ms_->calibration.optimize_on = 1;
  ms_->calibration.loc_peak.allocate(100);
  ms_->calibration.loc_peak_aux.allocate(100);
  ms_->channel.hyd_location_count = 2;
  for (int i = 1; i <= 3; ++i)
    ms_->calibration.loc_peak[i] = ms_->calibration.loc_peak_aux[i] = 9.0;
  init();
  EXPECT_DOUBLE_EQ(ms_->calibration.loc_peak[1], 0.0);
  EXPECT_DOUBLE_EQ(ms_->calibration.loc_peak_aux[2], 0.0);
  EXPECT_DOUBLE_EQ(ms_->calibration.loc_peak[3], 9.0);  // not a location of the run
}

}  // namespace
