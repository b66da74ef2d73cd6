// The overland flow step: its schedule, the dry grid left alone, routing with the outlet
// outflow as a rate and its volume booked, the maximum-depth map, the depth checks before and
// after routing, the end of a single-event run once its runoff is complete, and the start-up
// refusals of values that would make the routing's depths non-numbers, each named.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "overland/overland_flow.h"
#include "overland/overland_steps.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;

namespace {

// Four cells in a row falling to the outlet at the right end, 10 m cells, n 0.05, due now.
class OverlandStep : public ::testing::Test {
 protected:
  void SetUp() override {
    run_error = error_state{};
    ms_ = std::make_unique<model_state>();
    model_state& ms = *ms_;
    ms.rows = 1;
    ms.cols = 4;
    ms.gridsize = 10.0;
    alloc_2d_int_named(ms.index_map, 2, 5, "mask");
    for (int c = 1; c <= 4; ++c) ms.index_map[1][c] = c;
    ms.cell_count = 4;
    alloc_1d_double(ms.cell_elev, 4, "elev");
    for (int c = 1; c <= 4; ++c) ms.cell_elev[c] = 10.0 - 0.1 * c;
    overland_state& ov = ms.overland;
    alloc_1d_double(ov.ov_depth, 4, "depth");
    alloc_1d_double(ov.ov_roughness, 4, "n");
    for (int c = 1; c <= 4; ++c) ov.ov_roughness[c] = 0.05;
    ov.ov_route_option = 1;
    ms.outlet_cell = 4;
    ms.outlet_slope = 0.01;
    ms.time_tolerance = 1.1574e-07;
    ms.current_time = 2450000.0;
    ms.ov_clock.last = ms.current_time - 60.0 / 86400.0;
    ms.ov_clock.next = ms.current_time;
    ms.ov_clock.interval_days = 60.0 / 86400.0;
  }
  // The start-up of the overland plane; returns what it printed.
  std::string start_up() {
    stdout_capture capture;
    build_cell_connectivity(*ms_);
    compute_overland_slopes(*ms_);
    return capture.stop();
  }
  std::unique_ptr<model_state> ms_;
};

TEST_F(OverlandStep, NotDueOrDryChangesNoDepth) {
  start_up();
  ASSERT_EQ(run_error.error_code, 0);
  overland_state& ov = ms_->overland;
  ov.ov_depth[2] = 0.01;
  ms_->ov_clock.next = ms_->current_time + 1.0 / 1440.0;  // a minute ahead: not due
  overland_flow_step(*ms_);
  EXPECT_EQ(ov.ov_depth[2], 0.01);
  EXPECT_EQ(ms_->ov_clock.next, ms_->current_time + 1.0 / 1440.0);

  ov.ov_depth[2] = 0.0;  // due on a dry grid: nothing routed, the sweep order stays
  ms_->ov_clock.next = ms_->current_time;
  const int parity = ov.ov_sweep_parity;
  overland_flow_step(*ms_);
  EXPECT_EQ(ov.ov_step_outflow, 0.0);
  EXPECT_EQ(ov.ov_sweep_parity, parity);
  EXPECT_EQ(ms_->ov_clock.last, ms_->current_time);
  EXPECT_DOUBLE_EQ(ms_->ov_clock.next, ms_->current_time + 60.0 / 86400.0);
}

TEST_F(OverlandStep, RoutedWaterLeavesAtTheOutletAsARateAndItsVolumeIsBooked) {
  start_up();
  overland_state& ov = ms_->overland;
  for (int c = 1; c <= 4; ++c) ov.ov_depth[c] = 0.005;
  const double before = 4 * 0.005 * 100.0;
  stdout_capture quiet;
  overland_flow_step(*ms_);
  double stored = 0.0;
  for (int c = 1; c <= 4; ++c) stored += ov.ov_depth[c] * 100.0;
  EXPECT_GT(ov.ov_out_volume, 0.0);
  EXPECT_EQ(ov.ov_out_volume_b, ov.ov_out_volume);
  EXPECT_NEAR(stored + ov.ov_out_volume, before, 1e-15);
  const double dt = (ms_->current_time - (ms_->current_time - 60.0 / 86400.0)) * 86400.0;
  EXPECT_DOUBLE_EQ(ov.ov_step_outflow, ov.ov_out_volume / dt);  // m3/s
  EXPECT_EQ(ms_->outlet_q, ov.ov_step_outflow);
  EXPECT_EQ(ov.ov_any_depth, 1);
  EXPECT_EQ(ov.ov_any_flux, 1);
  EXPECT_NE(ov.ov_sweep_parity, 1);
}

TEST_F(OverlandStep, ADepthThatIsNoNumberStopsTheRunNamingItsCell) {
  start_up();
  ms_->overland.ov_depth[1] = 0.01;
  ms_->overland.ov_depth[3] = std::nan("");
  stdout_capture capture;
  overland_flow_step(*ms_);
  const std::string out = capture.stop();
  EXPECT_TRUE(contains(out,
                       "A non-real overland flow water depth has been detected in cell 3 after "
                       "applying overland boundary conditions and overland pumping.\n"))
      << out;
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(ms_->overland.ov_depth[1], 0.01);  // nothing routed
}

// A deep cell at the head of the row makes the explicit scheme cut its step of 60 s into
// sub-steps. With eroding soil the step keeps each face's mean discharge of the step, with and
// without channel lakes (whose scheme cuts its own sub-steps): no rain and no soil, so the water
// across the face right of cell c is what cells 1..c lost, which the last sub-step's discharge
// times the step misses by far.
TEST_F(OverlandStep, TheExplicitStepKeepsTheMeanDischargeOfEachFaceForTheErodingSoil) {
  ms_->transport.sediment.soil_erosion = 1;
  start_up();
  for (const bool channel_lakes : {false, true}) {
    SCOPED_TRACE(channel_lakes ? "with channel lakes" : "without lakes");
    model_state& ms = *ms_;
    overland_state& ov = ms.overland;
    ms.perennial_lakes = channel_lakes ? 1 : 0;
    ms.channel.lake_mask.reset();
    if (channel_lakes) alloc_1d_int(ms.channel.lake_mask, 4, "lake_mask");  // no lake cells
    const double start[5] = {0.0, 0.4, 0.005, 0.005, 0.005};
    for (int c = 1; c <= 4; ++c) ov.ov_depth[c] = start[c];
    ms.ov_clock.last = ms.current_time - 60.0 / 86400.0;
    ms.ov_clock.next = ms.current_time;
    stdout_capture quiet;
    overland_flow_step(ms);
    quiet.stop();
    ASSERT_EQ(run_error.error_fatal, 0);
    ASSERT_EQ(ov.explicit_mean_ready, 1);
    ASSERT_GE(ov.ovx_mean_flux_x.count(), 4);
    const double dt = (ms.current_time - (ms.current_time - 60.0 / 86400.0)) * 86400.0;
    double lost = 0.0, largest_miss = 0.0;
    for (int c = 1; c <= 3; ++c) {
      lost += (start[c] - ov.ov_depth[c]) * 100.0;
      EXPECT_NEAR(ov.ovx_mean_flux_x[c] * dt, lost, 1e-12 * start[1] * 100.0) << "face " << c;
      EXPECT_EQ(ov.ovx_mean_flux_y[c], 0.0) << "cell " << c;  // one row: no lower faces
      largest_miss = std::max(largest_miss, std::fabs(ov.ov_flux_x[c] * dt - lost) / lost);
    }
    EXPECT_GT(largest_miss, 0.1);  // the step was cut: its last sub-step is not its mean
  }
}

TEST_F(OverlandStep, TheMaximumDepthMapKeepsEachCellsHighestDepth) {
  overland_state& ov = ms_->overland;
  ov.max_depth_on = 1;
  start_up();
  ASSERT_EQ(ov.max_depth.count(), 4);
  ov.max_depth[4] = 0.5;  // a higher depth met earlier stays
  ov.ov_depth[1] = 0.02;
  stdout_capture quiet;
  overland_flow_step(*ms_);
  const double after_first[5] = {0.0, ov.ov_depth[1], ov.ov_depth[2], ov.ov_depth[3], 0.5};
  for (int c = 1; c <= 4; ++c) EXPECT_EQ(ov.max_depth[c], after_first[c]) << c;
  EXPECT_LT(ov.ov_depth[1], 0.02);
  EXPECT_GT(ov.ov_depth[2], 0.0);

  // The water moves on: the cell it left keeps its highest depth, not its present one.
  for (int step = 0; step < 5; ++step) {
    ms_->current_time = ms_->ov_clock.next;
    overland_flow_step(*ms_);
  }
  EXPECT_EQ(ov.max_depth[1], after_first[1]);
  EXPECT_LT(ov.ov_depth[1], ov.max_depth[1]);
  for (int c = 1; c <= 4; ++c) EXPECT_GE(ov.max_depth[c], ov.ov_depth[c]) << c;
  EXPECT_EQ(ov.max_depth[4], 0.5);
}

TEST_F(OverlandStep, ADepthTheRoutingTurnsIntoNoNumberStopsTheRunAfterRouting) {
  start_up();
  ASSERT_EQ(run_error.error_code, 0);
  // A roughness the start-up checks would refuse, planted behind them: the routing makes the
  // depths of the cells around it non-numbers.
  ms_->overland.ov_roughness[2] = std::nan("");
  for (int c = 1; c <= 4; ++c) ms_->overland.ov_depth[c] = 0.01;
  stdout_capture capture;
  overland_flow_step(*ms_);
  const std::string out = capture.stop();
  EXPECT_FALSE(contains(out, "after applying overland boundary conditions")) << out;
  int first_bad = 0;
  for (int c = 4; c >= 1; --c)
    if (std::isnan(ms_->overland.ov_depth[c])) first_bad = c;
  ASSERT_GT(first_bad, 0);
  EXPECT_TRUE(contains(out, "A non-real overland flow water depth has been detected in cell " +
                                std::to_string(first_bad) + " after overland flow routing.\n"))
      << out;
  EXPECT_EQ(run_error.error_fatal, 1);
}

// A row of cells long enough for the depth checks to take it in several blocks, which run in
// parallel: what they find must be what a scan in cell order finds, on any thread count.
class LongRow : public ::testing::Test {
 protected:
  static constexpr int cells = 30000;
  void SetUp() override {
    run_error = error_state{};
    ms_ = std::make_unique<model_state>();
    model_state& ms = *ms_;
    ms.rows = 1;
    ms.cols = cells;
    ms.gridsize = 10.0;
    alloc_2d_int_named(ms.index_map, 2, cells + 1, "mask");
    for (int c = 1; c <= cells; ++c) ms.index_map[1][c] = c;
    ms.cell_count = cells;
    alloc_1d_double(ms.cell_elev, cells, "elev");
    for (int c = 1; c <= cells; ++c) ms.cell_elev[c] = 1000.0 - 0.01 * c;
    overland_state& ov = ms.overland;
    alloc_1d_double(ov.ov_depth, cells, "depth");
    alloc_1d_double(ov.ov_roughness, cells, "n");
    for (int c = 1; c <= cells; ++c) ov.ov_roughness[c] = 0.05;
    ov.ov_route_option = 1;
    ms.outlet_cell = cells;
    ms.outlet_slope = 0.01;
    ms.time_tolerance = 1.1574e-07;
    ms.current_time = 2450000.0;
    ms.ov_clock.last = ms.current_time - 1.0 / 86400.0;
    ms.ov_clock.next = ms.current_time;
    ms.ov_clock.interval_days = 1.0 / 86400.0;
    stdout_capture quiet;
    build_cell_connectivity(ms);
    compute_overland_slopes(ms);
  }
  std::unique_ptr<model_state> ms_;
};

TEST_F(LongRow, TheFirstDepthThatIsNoNumberInCellOrderIsNamedOnAnyThreadCount) {
  ASSERT_EQ(run_error.error_code, 0);
  struct cut {
    std::vector<int> nan_cells;
    std::vector<int> channel_lake_cells;  // skipped by the check
    std::vector<int> overland_lake_cells;
    int named;
  };
  const cut cuts[] = {
      {{29999, 12000, 27000}, {}, {}, 12000},  // the lowest of several blocks, listed out of order
      {{8193, 8192}, {}, {}, 8192},            // both sides of a block boundary
      {{30000}, {}, {}, 30000},                // the last cell, in a short last block
      {{5, 20000}, {5}, {}, 20000},            // a channel-lake cell is not checked
      {{7, 9000, 25000}, {}, {7, 9000}, 25000},  // nor an overland-lake cell
  };
  const int saved = omp_get_max_threads();
  for (const cut& k : cuts) {
    for (const int threads : {1, 3, 8}) {
      SCOPED_TRACE("named " + std::to_string(k.named) + ", threads " + std::to_string(threads));
      omp_set_num_threads(threads);
      run_error = error_state{};
      model_state& ms = *ms_;
      overland_state& ov = ms.overland;
      for (int c = 1; c <= cells; ++c) ov.ov_depth[c] = c % 7 == 0 ? 0.01 : 0.0;
      for (const int c : k.nan_cells) ov.ov_depth[c] = std::nan("");
      ms.perennial_lakes = k.channel_lake_cells.empty() ? 0 : 1;
      ms.channel.lake_mask.reset();
      if (ms.perennial_lakes) {
        alloc_1d_int(ms.channel.lake_mask, cells, "lake_mask");
        for (const int c : k.channel_lake_cells) ms.channel.lake_mask[c] = 1;
      }
      ov.overland_lake_map = k.overland_lake_cells.empty() ? 0 : 1;
      ov.oland_lake_new.reset();
      if (ov.overland_lake_map) {
        alloc_1d_int(ov.oland_lake_new, cells, "oland_lake_new");
        for (const int c : k.overland_lake_cells) ov.oland_lake_new[c] = 1;
      }
      stdout_capture capture;
      overland_flow_step(ms);
      const std::string out = capture.stop();
      EXPECT_TRUE(contains(out, "A non-real overland flow water depth has been detected in cell " +
                                    std::to_string(k.named) +
                                    " after applying overland boundary conditions"))
          << out;
      EXPECT_EQ(run_error.error_fatal, 1);
      EXPECT_EQ(ov.ov_any_depth, 1);  // cell 7 or 14 holds water before any bad cell
    }
  }
  omp_set_num_threads(saved);
}

TEST_F(LongRow, WaterOnlyInTheLastBlockIsFoundAndRouted) {
  overland_state& ov = ms_->overland;
  for (const int threads : {1, 8}) {
    SCOPED_TRACE(threads);
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    for (int c = 1; c <= cells; ++c) ov.ov_depth[c] = ov.ov_flux_x[c] = ov.ov_flux_y[c] = 0.0;
    ov.ov_depth[cells - 10] = 0.05;
    ms_->ov_clock.last = ms_->current_time - 1.0 / 86400.0;
    ms_->ov_clock.next = ms_->current_time;
    {
      stdout_capture quiet;
      overland_flow_step(*ms_);
    }
    omp_set_num_threads(saved);
    EXPECT_EQ(run_error.error_code, 0);
    EXPECT_EQ(ov.ov_any_depth, 1);
    EXPECT_EQ(ov.ov_any_flux, 1);
    EXPECT_LT(ov.ov_depth[cells - 10], 0.05);  // routed: water left the cell downhill
    EXPECT_GT(ov.ov_depth[cells - 9], 0.0);
  }
}

// The end of a single-event run once its runoff is complete. A channel of two links, 3 nodes
// 100 m apart each, lies beside the plane; the event has rained 1e6 m3, so the channels must hold
// less than 100 m3 for the runoff to be complete.
class RunoffEnd : public OverlandStep {
 protected:
  void SetUp() override {
    OverlandStep::SetUp();
    start_up();
    model_state& ms = *ms_;
    channel_state& ch = ms.channel;
    ch.chan_explic = 1;
    ch.chan_link_count = 2;
    ch.ltype.allocate(2);
    ch.nx.allocate(2);
    ch.dx.allocate(2);
    for (int link = 1; link <= 2; ++link) {
      ch.ltype[link] = 4;  // trapezoids
      ch.nx[link] = 3;
      ch.dx[link] = 100.0;
    }
    ch.area.allocate_uniform(2, 3);
    ms.event_rain_vol = 1e6;
    ms.event_active = 1;
    ms.overland.rain_active = 1;
    ms.run_flag = 1;
    file_handle_open(ms.output.summary_file, dir_.file("summary.out").c_str(), "w");
  }
  void TearDown() override { file_handle_close(ms_->output.summary_file); }
  // One due pass of the overland step; returns what it printed.
  std::string step() {
    stdout_capture capture;
    overland_flow_step(*ms_);
    return capture.stop();
  }
  temp_dir dir_;
};

TEST_F(RunoffEnd, TheRunEndsOnceTheRainHasStoppedAndTheGridAndChannelsHaveDrained) {
  ms_->channel.area(1, 2) = 0.4;  // 40 m3, and 50 m3 in the other link: 90 m3 < 100 m3
  ms_->channel.area(2, 3) = 0.5;
  const std::string out = step();
  EXPECT_EQ(out, "Rainfall for this event has ended.\n");
  EXPECT_EQ(read_file(dir_.file("summary.out")),
            "Rainfall for this event ended. Runoff is complete\n");  // flushed at once
  EXPECT_EQ(ms_->run_flag, 0);
  EXPECT_EQ(ms_->event_over, 1);  // the event's books are closed in this pass
  EXPECT_EQ(ms_->event_active, 0);
  EXPECT_EQ(ms_->overland.rain_active, 0);
  EXPECT_EQ(run_error.error_code, 0);
}

TEST_F(RunoffEnd, TheRunGoesOnWhileRainOrWaterIsLeft) {
  struct going_on {
    const char* why;
    std::function<void(model_state&)> set;
  };
  const going_on cases[] = {
      {"rain still to come", [](model_state& ms) { ms.overland.ov_end_checks_off = 1; }},
      {"water on a cell", [](model_state& ms) { ms.overland.ov_depth[3] = 1e-6; }},
      {"channels above a ten-thousandth of the rain (101 m3)",
       [](model_state& ms) {
         ms.channel.area(1, 1) = 0.5;
         ms.channel.area(2, 1) = 0.51;
       }},
      {"no rain has fallen yet", [](model_state& ms) { ms.event_rain_vol = 0.0; }},
      {"a long-term run", [](model_state& ms) { ms.long_term = 1; }},
      {"no channel routing", [](model_state& ms) { ms.channel.chan_explic = 0; }},
  };
  for (const going_on& g : cases) {
    TearDown();
    SetUp();
    g.set(*ms_);
    const std::string out = step();
    EXPECT_EQ(out.find("Rainfall for this event"), std::string::npos) << g.why << ": " << out;
    EXPECT_EQ(read_file(dir_.file("summary.out")), "") << g.why;
    EXPECT_EQ(ms_->run_flag, 1) << g.why;
    EXPECT_EQ(ms_->event_over, 0) << g.why;
    EXPECT_EQ(ms_->event_active, 1) << g.why;
  }
}

TEST_F(OverlandStep, ValuesThatWouldMakeNonNumbersAreRefusedAtStartUp) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct refusal {
    const char* message;
    std::function<void(model_state&)> set;
  };
  const refusal cases[] = {
      {"Error: the elevation of cell 2 is nan; overland flow needs a number.\n",
       [&](model_state& ms) { ms.cell_elev[2] = nan; }},
      {"Error: the overland Manning roughness of cell 3 is 0; it must be a number above 0.\n",
       [](model_state& ms) { ms.overland.ov_roughness[3] = 0.0; }},
      {"Error: the overland Manning roughness of cell 1 is -0.05; it must be a number above 0.\n",
       [](model_state& ms) { ms.overland.ov_roughness[1] = -0.05; }},
      {"Error: the retention depth of cell 4 is -0.001 m; it must be a number of at least 0.\n",
       [](model_state& ms) {
         alloc_1d_double(ms.overland.ov_retention, 4, "r");
         ms.overland.ov_retention[4] = -0.001;
       }},
      {"Error: the outlet slope (OUTSLOPE) is -0.01; it must be a number of at least 0.\n",
       [](model_state& ms) { ms.outlet_slope = -0.01; }},
      // A low spot the dike checks let through: its crest is no number.
      {"Error: low spot 1 at row 1 column 1 has the crest elevation nan and the width fraction "
       "0.5; both must be numbers.\n",
       [&](model_state& ms) {
         overland_state& ov = ms.overland;
         ov.lowspot_on = 1;
         ov.dike_map_on = 1;
         ov.num_lowspots = 1;
         ov.lowspots.allocate(1);
         ov.lowspots[1] = lowspot_record{1, 1, 2, 0.5, nan, 0.0};
         alloc_1d_int(ov.dike_mask, 4, "dikes");
         ov.dike_mask[1] = 2;
         ov.dike_mask[2] = 8;
       }},
  };
  for (const refusal& r : cases) {
    SetUp();
    r.set(*ms_);
    const std::string out = start_up();
    EXPECT_TRUE(contains(out, r.message)) << out;
    EXPECT_EQ(out.find("Error"), out.rfind("Error")) << out;  // that message alone
    EXPECT_EQ(run_error.error_fatal, 1) << r.message;
    EXPECT_TRUE(ms_->overland.ov_flux_x.empty()) << r.message;  // nothing set up
  }
  SetUp();
  EXPECT_EQ(start_up(), "building cell to cell connectivity information\n");
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ms_->overland.ov_flux_x.count(), 4);
}

}  // namespace
