// The channel step and its exchange with the cells: water over the banks into the channel and
// back, the schedule, the run's channel totals and the nearly-dry fall-back.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "channel/channel_step.h"
#include "channel/routing_network.h"
#include "framework/core/error_state.h"
#include "support/test_support.h"

using routing_test::build_network;
using routing_test::network_volume;
using routing_test::set_depth;
using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;

namespace {

// One link of 3 nodes 100 m apart (bed 100 m at node 1, bank 2 m above the bed) crossing two
// cells of 30 m: the grid-stream table gives cell 1 half of node 1 and cell 2 half of node 2.
class LateralExchangeTest : public testing::Test {
 protected:
  void SetUp() override {
    build_network(*ms_, {{.nodes = 3, .bed_slope = 0.0}});
    ms_->cell_count = 2;
    ms_->gridsize = 30.0;
    ms_->cell_elev.allocate(2);
    ov_.ov_depth.allocate(2);
    ov_.ov_roughness.allocate(2);
    for (int c = 1; c <= 2; ++c) {
      ms_->cell_elev[c] = 101.5;
      ov_.ov_roughness[c] = 0.05;
    }
    ch_.gst_stream_cells = 2;
    ch_.gst_width = 1;
    ch_.gst_ncellsingrid.allocate(2);
    for (auto* a : {&ch_.gst_link, &ch_.gst_node, &ch_.gst_gnum}) a->allocate(2, 1);
    ch_.gst_pct.allocate(2, 1);
    for (int c = 1; c <= 2; ++c) {
      ch_.gst_ncellsingrid[c] = 1;
      ch_.gst_link[c][1] = 1;
      ch_.gst_node[c][1] = c;
      ch_.gst_gnum[c][1] = c;
      ch_.gst_pct[c][1] = 0.5;
    }
  }

  process_state_guard guard_;
  std::unique_ptr<model_state> ms_ = std::make_unique<model_state>();
  channel_state& ch_ = ms_->channel;
  overland_state& ov_ = ms_->overland;
};

TEST_F(LateralExchangeTest, OverlandWaterFallsIntoTheChannelOverTheBanks) {
  ov_.ov_depth[1] = 0.02;
  const double volume = chan_lateral_inflow(*ms_, 10.0);
  // The broad-crested weir over both banks along the 50 m of channel in the cell:
  // 3.40978982734 x 50 x 0.02^1.5 = 0.4822171 m3/s.
  const double q = 0.4822171018666042;
  EXPECT_NEAR(volume, q * 10.0, 1e-9);
  EXPECT_NEAR(ch_.qlat(1, 1), q / 100.0, 1e-12);
  EXPECT_NEAR(ov_.ov_depth[1], 0.02 - q * 10.0 / 900.0, 1e-12);
  EXPECT_EQ(ch_.qlat(1, 2), 0.0);  // the dry cell gives nothing
  EXPECT_EQ(ov_.ov_depth[2], 0.0);
}

TEST_F(LateralExchangeTest, ACellThatWouldRunDryEmptiesItsWholeVolume) {
  ov_.ov_depth[2] = 0.002;  // 1.8 m3, less than the weir takes in 600 s
  const double volume = chan_lateral_inflow(*ms_, 600.0);
  EXPECT_NEAR(volume, 1.8, 1e-12);
  EXPECT_EQ(ov_.ov_depth[2], 0.0);
  EXPECT_NEAR(ch_.qlat(1, 2), 1.8 / 600.0 / 100.0, 1e-15);
}

TEST_F(LateralExchangeTest, StructuresLakesAndCapturedLinksExchangeNothing) {
  for (int type : {64, 32, 4 | 128}) {
    ch_.ltype[1] = type;
    ov_.ov_depth[1] = 0.02;
    EXPECT_EQ(chan_lateral_inflow(*ms_, 10.0), 0.0) << type;
    EXPECT_EQ(ov_.ov_depth[1], 0.02) << type;
    EXPECT_EQ(ch_.qlat(1, 1), 0.0) << type;
  }
}

// The channel stands 0.5 m over its bank (bank at 102 m, water at 102.5 m) beside a dry cell at
// 101.5 m: the weir over the bank would pass some 60 m3/s, but a step gives at most one hundredth
// of the water above the bank along the cell: (37.5 - 28) m2 x 100 m x 0.5 = 475 m3.
TEST_F(LateralExchangeTest, OverbankFlowOntoADryCellGivesAHundredthOfTheWaterAboveTheBank) {
  ch_.overbank_flow = 1;
  set_depth(*ms_, 1, 1, 2.5);
  const double conv_before = ch_.conv(1, 1);
  const double volume = chan_lateral_inflow(*ms_, 10.0);
  EXPECT_NEAR(volume, -4.75, 1e-9);
  EXPECT_NEAR(ch_.qlat(1, 1), -0.475 / 100.0, 1e-12);
  EXPECT_NEAR(ov_.ov_depth[1], 4.75 / 900.0, 1e-12);
  // The node's own section is put back as it was.
  EXPECT_EQ(ch_.conv(1, 1), conv_before);
  EXPECT_DOUBLE_EQ(ch_.yp(1, 1), 102.5);
}

// A small cell (5 m) under 0.8 m of water beside a channel 0.2 m higher: a hundredth of the water
// above the cell's ground would lift the cell above the channel, so the cell keeps only what
// brings the two surfaces level and the node gives that much, no more.
TEST_F(LateralExchangeTest, OverbankWaterStopsWhereTheSurfacesMeet) {
  ch_.overbank_flow = 1;
  ms_->gridsize = 5.0;
  set_depth(*ms_, 1, 1, 2.5);
  ov_.ov_depth[1] = 0.8;
  const double volume = chan_lateral_inflow(*ms_, 10.0);
  EXPECT_NEAR(ov_.ov_depth[1] + ms_->cell_elev[1], ch_.yp(1, 1), 1e-12);
  EXPECT_NEAR(volume, -(1.0 - 0.8) * 25.0, 1e-9);
  EXPECT_NEAR(ch_.qlat(1, 1) * 100.0 * 10.0, volume, 1e-9);
}

TEST_F(LateralExchangeTest, EntriesOutsideTheNetworkOrTheGridAreNamed) {
  struct fault_case {
    int link, node, cell;
    const char* message;
  };
  const fault_case cases[] = {
      {4, 1, 1, "stream cell 2, entry 1 of the grid-stream table names link 4"},
      {1, 9, 1, "stream cell 2, entry 1 of the grid-stream table names node 9 of link 1"},
      {1, 0, 1, "names node 0 of link 1"},
      {1, 2, 3, "stream cell 2, entry 1 of the grid-stream table names cell 3"},
  };
  {
    ch_.gst_ncellsingrid[2] = 2;  // more entries than the table is wide
    stdout_capture out;
    chan_lateral_inflow(*ms_, 10.0);
    EXPECT_TRUE(contains(out.stop(), "stream cell 2 of the grid-stream table has 2 entries"));
    EXPECT_EQ(run_error.error_fatal, 1);
    ch_.gst_ncellsingrid[2] = 1;
  }
  for (const fault_case& c : cases) {
    guard_.reset();
    ch_.gst_link[2][1] = c.link;
    ch_.gst_node[2][1] = c.node;
    ch_.gst_gnum[2][1] = c.cell;
    stdout_capture out;
    chan_lateral_inflow(*ms_, 10.0);
    EXPECT_TRUE(contains(out.stop(), c.message)) << c.message;
    EXPECT_EQ(run_error.error_fatal, 1) << c.message;
  }
}

// A long network of enough stream cells to exchange in parallel, two nodes in some of them, with
// wet and dry cells beside dry channels and channels near their banks: the stream cells exchanging
// in parallel give the depths, the nodes' lateral inflows and the volume of the exchange one after
// the other, to the last bit, on 1 and 4 threads, with and without overland backwater. A table
// whose stream cells share a grid cell, or whose stream cell names two grid cells, keeps to the
// exchange one after the other.
TEST(LateralExchangeInParallel, MatchesTheExchangeOneCellAfterAnother) {
  process_state_guard guard;
  constexpr int cells = 6007;
  constexpr int pairs = 1500;    // stream cells holding two nodes of link 1
  constexpr int singles = 3000;  // stream cells holding one node of link 2
  static_assert(pairs + singles >= chan_lateral_parallel_min_stream_cells,
                "enough stream cells for the exchange in parallel");
  const auto build = [&](int backwater) {
    auto ms = std::make_unique<model_state>();
    build_network(*ms, {{.nodes = 2 * pairs, .downstream = 2, .bed_slope = 0.0},
                        {.nodes = singles, .up = {1}, .bed_slope = 0.0}});
    channel_state& ch = ms->channel;
    overland_state& ov = ms->overland;
    ch.overland_backwater = backwater;
    ms->cell_count = cells;
    ms->gridsize = 30.0;
    ms->cell_elev.allocate(cells);
    ov.ov_depth.allocate(cells);
    ov.ov_roughness.allocate(cells);
    for (int c = 1; c <= cells; ++c) {
      ms->cell_elev[c] = 101.5 + 0.01 * (c % 7);
      ov.ov_depth[c] = c % 5 == 0 ? 0.0 : 0.001 * (c % 17) + 1e-5 * (c % 3);
      ov.ov_roughness[c] = 0.04 + 0.01 * (c % 3);
    }
    for (int l = 1; l <= 2; ++l)
      for (int j = 1; j <= ch.nx[l]; j += 3) {
        ch.chan_depth(l, j) = 1.8 + 0.01 * (j % 4);
        ch.yp(l, j) = ch.bel(l, j) + ch.chan_depth(l, j);
      }
    ex_section(*ms, 2);
    ch.gst_stream_cells = pairs + singles;
    ch.gst_width = 2;
    ch.gst_ncellsingrid.allocate(ch.gst_stream_cells);
    for (auto* a : {&ch.gst_link, &ch.gst_node, &ch.gst_gnum}) a->allocate(ch.gst_stream_cells, 2);
    ch.gst_pct.allocate(ch.gst_stream_cells, 2);
    for (int s = 1; s <= ch.gst_stream_cells; ++s) {
      const int cell = (s * 7) % cells + 1;  // 7 and 6007 share no factor: distinct cells
      const bool pair = s <= pairs;
      ch.gst_ncellsingrid[s] = pair ? 2 : 1;
      for (int k = 1; k <= ch.gst_ncellsingrid[s]; ++k) {
        ch.gst_link[s][k] = pair ? 1 : 2;
        ch.gst_node[s][k] = pair ? 2 * s - 2 + k : s - pairs;
        ch.gst_gnum[s][k] = cell;
        ch.gst_pct[s][k] = pair ? 0.5 : 1.0;
      }
    }
    return ms;
  };
  const auto same_bits = [](const double* a, const double* b, int n) {
    return std::memcmp(a, b, static_cast<std::size_t>(n) * sizeof(double)) == 0;
  };
  for (int backwater : {0, 1}) {
    SCOPED_TRACE(testing::Message() << "backwater " << backwater);
    auto serial = build(backwater);
    std::vector<double> serial_volumes;
    for (int step = 0; step < 3; ++step)
      serial_volumes.push_back(chan_lateral_inflow(*serial, 10.0));
    EXPECT_EQ(serial->channel.gst_rows_own_cells, 0);
    EXPECT_GT(serial_volumes[0], 0.0);
    for (int threads : {1, 4}) {
      SCOPED_TRACE(testing::Message() << threads << " threads");
      auto parallel = build(backwater);
      ASSERT_TRUE(chan_lateral_exchange_setup(*parallel));
      ASSERT_EQ(parallel->channel.gst_rows_own_cells, 1);
      omp_set_num_threads(threads);
      for (int step = 0; step < 3; ++step)
        EXPECT_EQ(chan_lateral_inflow(*parallel, 10.0), serial_volumes[step]) << step;
      omp_set_num_threads(1);
      EXPECT_TRUE(same_bits(parallel->overland.ov_depth.data(), serial->overland.ov_depth.data(),
                            cells + 1));
      for (int l = 1; l <= 2; ++l)
        EXPECT_TRUE(same_bits(&parallel->channel.qlat(l, 1), &serial->channel.qlat(l, 1),
                              parallel->channel.nx[l]))
            << "link " << l;
    }
  }
  // Tables the stream cells cannot share out.
  const auto owns = [&](auto change) {
    auto ms = build(0);
    change(ms->channel);
    EXPECT_TRUE(chan_lateral_exchange_setup(*ms));
    return ms->channel.gst_rows_own_cells;
  };
  EXPECT_EQ(owns([](channel_state&) {}), 1);
  EXPECT_EQ(
      owns([](channel_state& ch) { ch.gst_gnum[2][1] = ch.gst_gnum[2][2] = ch.gst_gnum[1][1]; }),
      0);
  EXPECT_EQ(owns([](channel_state& ch) { ch.gst_gnum[3][2] = ch.gst_gnum[3][1] % cells + 1; }), 0);
  EXPECT_EQ(owns([](channel_state& ch) { ch.gst_gnum[pairs + 1][1] = cells + 1; }), 0);
}

// The channel step over a few steps of rain-fed cells: when due it takes the cells' water into
// the channel, routes it and books what leaves the outlet; water is neither made nor lost.
TEST_F(LateralExchangeTest, TheStepMovesWaterFromCellsThroughTheOutletAndKeepsItsBooks) {
  build_network(*ms_, {{.nodes = 3, .bed_slope = 0.001}});
  ms_->time_tolerance = 0.01 / 86400.0;
  ms_->current_time = 2450000.0;
  ms_->chan_clock.interval_seconds = 30.0;
  ms_->chan_clock.interval_days = 30.0 / 86400.0;
  ms_->chan_clock.last = ms_->current_time - ms_->chan_clock.interval_days;
  ms_->chan_clock.next = ms_->current_time;
  ov_.ov_any_depth = 1;
  ov_.ov_depth[1] = 0.05;
  ov_.ov_depth[2] = 0.03;
  auto cells = [&]() { return (ov_.ov_depth[1] + ov_.ov_depth[2]) * 900.0; };
  const double start = cells() + network_volume(*ms_);

  // Not due: nothing moves.
  ms_->chan_clock.next = ms_->current_time + 1.0;
  channel_routing_step(*ms_);
  EXPECT_EQ(cells() + network_volume(*ms_), start);
  EXPECT_EQ(ch_.chan_step_count, 0);

  ms_->chan_clock.next = ms_->current_time;
  for (int step = 0; step < 20; ++step) {
    channel_routing_step(*ms_);
    ASSERT_EQ(run_error.error_fatal, 0);
    EXPECT_EQ(ms_->chan_clock.last, ms_->current_time);
    ms_->current_time += 30.0 / 86400.0;
    EXPECT_NEAR(ms_->chan_clock.next, ms_->current_time, 1e-9);
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(ch_.qlat(1, j), 0.0);
  }
  EXPECT_EQ(ch_.chan_step_count, 20);
  const double out = ms_->output.totals.run_vol_discharge;
  EXPECT_GT(out, 0.0);
  EXPECT_EQ(ov_.ov_out_volume, out);
  EXPECT_GT(ms_->output.totals.run_vol_lateral, 0.0);
  EXPECT_NEAR(start - cells() - network_volume(*ms_), out, 1e-9 * start);
  EXPECT_NEAR(start - cells(), ms_->output.totals.run_vol_lateral, 1e-9 * start);
  EXPECT_EQ(ms_->outlet_q, ch_.qp(1, 3));
}

// A long-term run whose channel holds almost none of the event's rain and passes nothing at the
// outlet goes back to the overland schedule and stops routing; an event run keeps its schedule.
TEST_F(LateralExchangeTest, ANearlyDryChannelFallsBackToTheOverlandSchedule) {
  for (int long_term : {0, 1}) {
    ms_->long_term = long_term;
    ms_->time_tolerance = 0.01 / 86400.0;
    ms_->current_time = 2450000.0;
    ms_->event_rain_vol = 5000.0;
    ms_->chan_clock = {30.0, 30.0 / 86400.0, ms_->current_time - 30.0 / 86400.0, ms_->current_time};
    ms_->ov_clock = {10.0, 10.0 / 86400.0, ms_->current_time, ms_->current_time + 1e-4};
    ch_.chan_active = 1;
    channel_routing_step(*ms_);
    if (long_term) {
      EXPECT_EQ(ch_.chan_active, 0);
      EXPECT_EQ(ch_.dry_step_count, 1);
      EXPECT_EQ(ms_->chan_clock.next, ms_->ov_clock.next);
      EXPECT_EQ(ms_->chan_clock.interval_days, ms_->ov_clock.interval_days);
    } else {
      EXPECT_EQ(ch_.chan_active, 1);
      EXPECT_NEAR(ms_->chan_clock.next, ms_->current_time + 30.0 / 86400.0, 1e-12);
    }
  }
}

}  // namespace
