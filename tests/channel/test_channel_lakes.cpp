// Channel lakes: the extent following the volume along the search list, evaporation, the depths
// shown in the depth map, and a lake on the network that fills from a link and empties over a
// weir while its books hold at every channel step; the seepage through a lake's bed and how much
// of it the lake can give.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "channel/channel_lakes.h"
#include "channel/channel_step.h"
#include "channel/lake_bed_seepage.h"
#include "channel/link_flows.h"
#include "channel/routing_network.h"
#include "framework/core/error_state.h"
#include "support/test_support.h"

using routing_test::build_network;
using routing_test::network_volume;
using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;

namespace {

// One row of six 20 m cells (400 m2 each) whose ground climbs from 100.0 m to 101.8 m, listed in
// that order as the search list of lake 1. The lake starts over the first two cells at 100.5 m:
// (0.5 + 0.3) x 400 = 320 m3.
constexpr double ground[] = {0.0, 100.0, 100.2, 100.6, 100.9, 101.3, 101.8};
constexpr double cell_area = 400.0;

void make_lakes(model_state& ms, int lakes, int listed) {
  channel_state& ch = ms.channel;
  ms.cell_count = 6;
  ms.gridsize = 20.0;
  ms.rows = 1;
  ms.cols = 6;
  ASSERT_TRUE(ms.index_map.allocate(1, 6));
  ms.cell_elev.allocate(6);
  ms.overland.ov_depth.allocate(6);
  for (int c = 1; c <= 6; ++c) {
    ms.index_map[1][c] = c;
    ms.cell_elev[c] = ground[c];
  }
  ch.num_lakes = lakes;
  for (auto* a : {&ch.lake_volume, &ch.prevlake_volume, &ch.lake_area, &ch.lake_elev,
                  &ch.lake_in_dv, &ch.lake_out_dv, &ch.cumulative_lake_evap})
    a->allocate(lakes);
  for (auto* a : {&ch.numpts, &ch.lake_cells}) a->allocate(lakes);
  ch.lake_mask.allocate(6);
  ch.new_flooded_grid.allocate(6);
  alloc_lake_search(lakes, 6, ch.lake_search);
  ASSERT_FALSE(ch.lake_search.empty());
  ch.numpts[1] = listed;
  for (int k = 1; k <= listed; ++k) {
    ch.lake_search[1][1][k] = 1;
    ch.lake_search[1][2][k] = k;
  }
}

// Puts lake 1 at level w over its first n listed cells, with the volume that makes.
void fill_lake(model_state& ms, double w, int n) {
  channel_state& ch = ms.channel;
  double v = 0.0;
  for (int c = 1; c <= 6; ++c) ch.lake_mask[c] = 0;
  for (int c = 1; c <= n; ++c) {
    v += (w - ground[c]) * cell_area;
    ch.lake_mask[c] = 1;
  }
  ch.lake_elev[1] = w;
  ch.lake_cells[1] = n;
  ch.lake_volume[1] = v;
  ch.prevlake_volume[1] = v;
  ch.lake_area[1] = n * cell_area;
}

class LakeExtentTest : public testing::Test {
 protected:
  void SetUp() override {
    make_lakes(*ms_, 1, 6);
    fill_lake(*ms_, 100.5, 2);
  }
  // Runs the adjustment with the console captured; gives what it printed.
  std::string adjust(bool& ok, bool& changed) {
    lake_extent_view v = lake_view(*ms_);
    stdout_capture out;
    ok = lake_adjust_cells(v, changed);
    return out.stop();
  }

  process_state_guard guard_;
  std::unique_ptr<model_state> ms_ = std::make_unique<model_state>();
  channel_state& ch_ = ms_->channel;
};

// A rise over the listed cells, worked out by hand, with the cell it floods bringing its own
// water; a fall giving back the last cell; a volume that has not changed keeps everything.
TEST_F(LakeExtentTest, TheSurfaceAndTheCellsFollowTheVolumeAlongTheList) {
  struct extent_case {
    const char* name;
    double w0;        // level at the start (m)
    int n0;           // cells at the start
    double change;    // volume added (m3)
    double depth3;    // water standing on cell 3 before (m)
    double w;         // expected level (m)
    int n;            // expected cells
    int flooded3;     // expected flag of cell 3
    double taken_in;  // water of taken cells that joined the lake (m3)
  };
  const extent_case cases[] = {
      // 60 m3 over 800 m2: 0.075 m, short of cell 3's ground (0.1 m up).
      {"small rise", 100.5, 2, 60.0, 0.0, 100.575, 2, 0, 0.0},
      // 200 m3: 0.1 m over 800 m2 (80 m3) reaches cell 3, whose 0.05 m (20 m3) joins; the other
      // 140 m3 spread over 1200 m2: 100.6 + 140 / 1200.
      {"rise taking a wet cell", 100.5, 2, 200.0, 0.05, 100.6 + 140.0 / 1200.0, 3, 1, 20.0},
      // From 101.0 over three cells (cell 3 holds 0.4 m), 300 m3 less: 0.4 m would take 480 m3,
      // so the lake falls by 300 / 1200 m and keeps its cells.
      {"fall within the last cell", 101.0, 3, -300.0, 0.0, 100.75, 3, 0, 0.0},
      // 600 m3 less: cell 3's 0.4 m over 1200 m2 gives 480 m3; the other 120 m3 come off 800 m2.
      {"fall giving back a cell", 101.0, 3, -600.0, 0.0, 100.6 - 120.0 / 800.0, 2, -1, 0.0},
      {"unchanged", 100.5, 2, 0.0, 0.03, 100.5, 2, 0, 0.0},
  };
  for (const extent_case& c : cases) {
    SCOPED_TRACE(c.name);
    guard_.reset();
    fill_lake(*ms_, c.w0, c.n0);
    for (int k = 1; k <= 6; ++k) ms_->overland.ov_depth[k] = 0.0;
    ms_->overland.ov_depth[3] = c.depth3;
    ch_.lake_in_dv[1] = 0.0;
    const double v0 = ch_.lake_volume[1];
    ch_.lake_volume[1] += c.change;
    bool ok = false;
    bool changed = false;
    const std::string printed = adjust(ok, changed);
    ASSERT_TRUE(ok);
    EXPECT_NEAR(ch_.lake_elev[1], c.w, 1e-9);
    EXPECT_EQ(ch_.lake_cells[1], c.n);
    EXPECT_EQ(changed, c.n != c.n0);
    EXPECT_DOUBLE_EQ(ch_.lake_area[1], c.n * cell_area);
    EXPECT_NEAR(ch_.lake_volume[1], v0 + c.change + c.taken_in, 1e-9);
    EXPECT_EQ(ch_.prevlake_volume[1], ch_.lake_volume[1]);
    EXPECT_NEAR(ch_.lake_in_dv[1], c.taken_in, 1e-12);
    EXPECT_EQ(ch_.new_flooded_grid[3], c.flooded3);
    EXPECT_EQ(ch_.lake_mask[3], c.n >= 3 ? 1 : 0);
    if (c.n != c.n0) {
      EXPECT_EQ(ms_->overland.ov_depth[3], 0.0);
    }
    // The volume the lake holds is the volume under its surface over its cells.
    double under = 0.0;
    for (int k = 1; k <= c.n; ++k) under += (ch_.lake_elev[1] - ground[k]) * cell_area;
    EXPECT_NEAR(under, ch_.lake_volume[1], 1e-7);
    if (c.flooded3 == 1) {
      EXPECT_TRUE(contains(printed, "Lake 1 is taking cell 3 with depth"));
    } else if (c.flooded3 == -1) {
      EXPECT_TRUE(contains(printed, "Removing cell 3 from lake\n"));
    }
  }
}

// The rise that reaches a cell's ground within 1e-7 m leaves the cell out; a little more takes
// it.
TEST_F(LakeExtentTest, ARiseStoppingWithin1e7OfTheNextGroundDoesNotTakeTheCell) {
  for (const double excess : {-1e-4, 5e-5, 2e-4}) {
    SCOPED_TRACE(excess);
    fill_lake(*ms_, 100.5, 2);
    // 80 m3 lifts the two cells' 800 m2 exactly to cell 3's ground; `excess` m3 more or less
    // moves the surface by excess / 800 m (below 1e-7 m for 5e-5 m3, above it for 2e-4 m3).
    ch_.lake_volume[1] += 80.0 + excess;
    bool ok = false;
    bool changed = false;
    adjust(ok, changed);
    ASSERT_TRUE(ok);
    const bool taken = excess / 800.0 > 1e-7;
    EXPECT_EQ(ch_.lake_cells[1], taken ? 3 : 2);
    EXPECT_EQ(ch_.lake_mask[3], taken ? 1 : 0);
    EXPECT_NEAR(ch_.lake_elev[1], 100.6 + excess / (taken ? 1200.0 : 800.0), 1e-9);
  }
}

// A lake that has taken every listed cell keeps rising over them, warning once; a lake with an
// empty list and no cell rises over one cell's area, without reading past its list or dividing
// by zero.
TEST_F(LakeExtentTest, ALakeAtTheEndOfItsListOrWithoutCellsKeepsRising) {
  ch_.numpts[1] = 2;
  ch_.lake_volume[1] += 400.0;
  bool ok = false;
  bool changed = false;
  adjust(ok, changed);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ch_.lake_cells[1], 2);
  EXPECT_NEAR(ch_.lake_elev[1], 100.5 + 400.0 / 800.0, 1e-12);
  EXPECT_EQ(ch_.lake_mask[3], 0);

  ch_.numpts[1] = 0;
  fill_lake(*ms_, 99.0, 0);
  ch_.lake_volume[1] = 200.0;
  adjust(ok, changed);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ch_.lake_cells[1], 0);
  EXPECT_TRUE(std::isfinite(ch_.lake_elev[1]));
  EXPECT_NEAR(ch_.lake_elev[1], 99.0 + 200.0 / cell_area, 1e-12);
  EXPECT_EQ(ch_.lake_area[1], 0.0);
}

// A rising lake that reaches a cell of another lake stops the run.
TEST_F(LakeExtentTest, ALakeReachingACellOfAnotherLakeStopsTheRun) {
  ch_.lake_mask[3] = 2;
  ch_.lake_volume[1] += 500.0;
  bool ok = true;
  bool changed = false;
  const std::string printed = adjust(ok, changed);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(contains(printed, "Your lake has potentially merged with another lake.....\n"));
  EXPECT_TRUE(contains(printed, "TORVA Terminating.\n"));
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(ch_.lake_mask[3], 2);
}

// The evaporation formula written out for a lake of 1 km2 on a day of 2 m/s wind, 20 degrees
// and 50 % humidity; a lake smaller than 1 m2 counts as 1e-6 km2, so its evaporation is in
// proportion to its area below that.
TEST(LakeEvaporation, TheVolumeFollowsTheWeatherAndTheArea) {
  const double by_hand = 1.0 * 0.000169 * (2.0 * 0.001 * 86400.0) * 0.5 * 6.11 *
                         std::exp(17.3 * 20.0 / 293.3) / 24.0 * 1e6 / 100.0;
  EXPECT_NEAR(lake_evaporation_volume(1e6, 2.0, 20.0, 50.0), by_hand, 1e-9 * by_hand);
  const double one = lake_evaporation_volume(1.0, 2.0, 20.0, 50.0);
  EXPECT_NEAR(lake_evaporation_volume(0.5, 2.0, 20.0, 50.0), 0.5 * one, 1e-15);
  EXPECT_NEAR(lake_evaporation_volume(0.1, 2.0, 20.0, 50.0), 0.1 * one, 1e-15);
  // Above 1 m2 the size factor falls slowly with the area: (4e-6 / 1e-6)^-0.05.
  EXPECT_NEAR(lake_evaporation_volume(4.0, 2.0, 20.0, 50.0), 4.0 * one * std::pow(4.0, -0.05),
              1e-12);
  EXPECT_EQ(lake_evaporation_volume(1e6, 2.0, 20.0, 100.0), 0.0);  // saturated air
}

TEST_F(LakeExtentTest, EvaporationLargerThanTheVolumeEmptiesTheLakeAndBooksOnlyIts) {
  const double e = lake_evaporation_volume(800.0, 5.0, 30.0, 10.0);
  ASSERT_GT(e, 0.1);
  double total = 1.0;
  ch_.cumulative_lake_evap[1] = 2.0;
  // A lake holding more than its evaporation loses exactly that.
  lake_extent_view v = lake_view(*ms_);
  stdout_capture out;
  ASSERT_TRUE(lake_evaporation(v, 5.0, 30.0, 10.0, total, ch_.cumulative_lake_evap));
  EXPECT_NEAR(ch_.lake_volume[1], 320.0 - e, 1e-9);
  EXPECT_NEAR(total, 1.0 + e, 1e-12);
  EXPECT_NEAR(ch_.cumulative_lake_evap[1], 2.0 + e, 1e-12);
  EXPECT_NEAR(ch_.lake_elev[1], 100.5 - e / 800.0, 1e-9);  // the surface follows
  // A lake holding less empties to 0 and books what it held.
  ch_.lake_volume[1] = 0.1 * e;
  ch_.prevlake_volume[1] = 0.1 * e;
  total = 0.0;
  ch_.cumulative_lake_evap[1] = 0.0;
  ASSERT_TRUE(lake_evaporation(v, 5.0, 30.0, 10.0, total, ch_.cumulative_lake_evap));
  out.stop();
  EXPECT_EQ(ch_.lake_volume[1], 0.0);
  EXPECT_NEAR(total, 0.1 * e, 1e-15);
  EXPECT_NEAR(ch_.cumulative_lake_evap[1], 0.1 * e, 1e-15);
}

// The depth map shows every cell's own depth, and over a lake's cells the lake's depth.
TEST_F(LakeExtentTest, TheDepthMapShowsTheLakeWaterOverItsCells) {
  double source[7] = {0.0, 0.0, 0.0, 0.01, 0.02, 0.03, 0.04};
  double out[7] = {};
  lake_set_cell_depths(lake_view(*ms_), source, out, 1);
  EXPECT_NEAR(out[1], 0.5, 1e-12);
  EXPECT_NEAR(out[2], 0.3, 1e-12);
  for (int c = 3; c <= 6; ++c) EXPECT_EQ(out[c], source[c]);
  lake_set_cell_depths(lake_view(*ms_), source, out, 0);  // lakes off: the depths alone
  for (int c = 1; c <= 6; ++c) EXPECT_EQ(out[c], source[c]);
}

// A lake on the network: link 1 (a trapezoid fed 2 m3/s at its head) drains into lake link 2,
// which empties over a 5 m weir (link 3, crest 101.0 m) into link 4, the outlet. The lake is the
// one above, starting at 100.5 m over two cells.
class LakeNetworkTest : public testing::Test {
 protected:
  void SetUp() override {
    build_network(*ms_, {{.nodes = 3, .downstream = 2, .bed_top = 102.0},
                         {.nodes = 1, .downstream = 3, .up = {1}, .type = 32},
                         {.nodes = 2, .downstream = 4, .up = {2}, .type = 64},
                         {.nodes = 3, .up = {3}, .bed_top = 99.0}});
    make_lakes(*ms_, 1, 6);
    fill_lake(*ms_, 100.5, 2);
    ch_.lake2link.allocate(4);
    ch_.lake2link[2] = 1;
    ch_.headwater_inflow = 2.0;
    ch_.structure_count = 1;
    ch_.structures.allocate(1);
    hydraulic_structure& weir = ch_.structures[1];
    weir.structure_type = structure_weir;
    weir.length = 5.0;
    weir.upinvert = 101.0;
    weir.inlet_disch_coeff = 0.6;
    weir.rev_flow_disch_coeff = 0.6;
    ASSERT_TRUE(ch_.link_structures.allocate(4, 2));
    ch_.link_structures[3][0] = 1;
    ch_.link_structures[3][1] = 1;
    ch_.link_structures[3][2] = 1;
    ASSERT_TRUE(channel_lakes_setup(*ms_));
    ms_->time_tolerance = 0.01 / 86400.0;
    ms_->current_time = 2450000.0;
    ms_->chan_clock = {30.0, 30.0 / 86400.0, ms_->current_time - 30.0 / 86400.0, ms_->current_time};
  }

  // Runs `steps` channel steps of 30 s, calling `check` after each with the seconds routed so
  // far (the steps as the model takes them from its clock in Julian days, a few microseconds off
  // 30 s each).
  template <class F>
  void run(int steps, F check) {
    double routed = 0.0;
    for (int step = 1; step <= steps; ++step) {
      routed += (ms_->current_time - ms_->chan_clock.last) * 86400.0;
      channel_routing_step(*ms_);
      ASSERT_EQ(run_error.error_fatal, 0) << "step " << step;
      ms_->current_time += 30.0 / 86400.0;
      check(routed);
    }
  }

  process_state_guard guard_;
  std::unique_ptr<model_state> ms_ = std::make_unique<model_state>();
  channel_state& ch_ = ms_->channel;
};

// The lake's water balance: at every step the lake holds its starting water plus what its books say
// came in less what went out, and the whole network (links, lake, outlet) holds the 2 m3/s fed
// at the head. The lake spreads over its listed cells as it fills and spills over the weir.
TEST_F(LakeNetworkTest, ALakeFillingFromALinkHoldsItsStartPlusInflowLessOutflowAtEveryStep) {
  EXPECT_EQ(ms_->perennial_lakes, 1);
  const double start = 320.0;
  const run_totals& t = ms_->output.totals;
  double last_volume = start;
  bool spilled = false;
  stdout_capture out;
  run(200, [&](double elapsed) {
    const double lake = ch_.lake_volume[1];
    EXPECT_NEAR(lake, start + t.run_vol_into_lakes - t.run_vol_from_lakes, 1e-9 * lake);
    EXPECT_NEAR(network_volume(*ms_) + lake + t.run_vol_discharge, start + 2.0 * elapsed,
                1e-9 * (start + 2.0 * elapsed));
    // The surface stands over the lake's cells as its volume at the step's adjustment says.
    double under = 0.0;
    for (int k = 1; k <= ch_.lake_cells[1]; ++k) under += (ch_.lake_elev[1] - ground[k]) * 400.0;
    EXPECT_NEAR(under, ch_.prevlake_volume[1], 1e-7 * lake);
    if (ch_.lake_elev[1] <= 101.0) {
      EXPECT_EQ(t.run_vol_from_lakes, 0.0) << elapsed;
    }
    if (t.run_vol_from_lakes > 0.0) spilled = true;
    EXPECT_GE(lake, last_volume - 1e-9 * lake);  // 2 m3/s in, less over the weir until full
    last_volume = std::max(last_volume, lake);
  });
  const std::string printed = out.stop();
  EXPECT_TRUE(spilled);
  EXPECT_GE(ch_.lake_cells[1], 4);
  EXPECT_TRUE(contains(printed, "Lake 1 is taking cell 3 with depth"));
  EXPECT_GT(t.run_vol_discharge, 0.0);
  EXPECT_GT(ch_.lake_elev[1], 101.0);
  for (int k = 1; k <= 6; ++k) EXPECT_EQ(ch_.lake_mask[k], k <= ch_.lake_cells[1] ? 1 : 0);
}

// A lake link may only empty through a structure, and the search cells must be the watershed's.
TEST_F(LakeNetworkTest, ALakeDrainingIntoAnOrdinaryLinkOrListingACellOutsideIsRefused) {
  ch_.dslink[2] = 4;
  {
    stdout_capture out;
    EXPECT_FALSE(channel_lakes_setup(*ms_));
    EXPECT_TRUE(contains(out.stop(),
                         "lake link 2 drains into link 4, which is not a hydraulic "
                         "structure link"));
  }
  EXPECT_EQ(run_error.error_fatal, 1);
  guard_.reset();
  ch_.dslink[2] = 3;
  ms_->index_map[1][5] = 0;
  {
    stdout_capture out;
    EXPECT_FALSE(channel_lakes_setup(*ms_));
    EXPECT_TRUE(contains(out.stop(), "search cell 5 of lake 1 (row 1, column 5) lies outside"));
  }
  EXPECT_EQ(run_error.error_fatal, 1);
}

// A rising lake takes the last node of link 1 when the node's stream cell is flooded: the
// node's water joins the lake and the link routes one node less; when the cell is dry again the
// node comes back with the lake's level, its water taken from the lake. Nothing is lost.
TEST_F(LakeNetworkTest, ALakeTakesAFloodedNodeAndGivesItBackWithItsWater) {
  ch_.gst_stream_cells = 1;
  ch_.gst_width = 1;
  ch_.gst_ncellsingrid.allocate(1);
  for (auto* a : {&ch_.gst_link, &ch_.gst_node, &ch_.gst_gnum}) a->allocate(1, 1);
  ch_.gst_pct.allocate(1, 1);
  ch_.gst_ncellsingrid[1] = 1;
  ch_.gst_link[1][1] = 1;
  ch_.gst_node[1][1] = 3;
  ch_.gst_gnum[1][1] = 2;  // a cell of the lake
  ch_.gst_pct[1][1] = 1.0;
  ch_.headwater_inflow = 0.0;
  routing_test::set_depth(*ms_, 1, 3, 0.4);
  const double node_water = ch_.area(1, 3) * 100.0;
  const double total = network_volume(*ms_) + ch_.lake_volume[1];
  stdout_capture out;
  run(1, [](double) {});
  EXPECT_EQ(ch_.nx[1], 2);
  EXPECT_EQ(ch_.status_node(1, 3), 1);
  EXPECT_EQ(ch_.area(1, 3), 0.0);
  EXPECT_GE(ms_->output.totals.run_vol_into_lakes, node_water);
  EXPECT_NEAR(network_volume(*ms_) + ch_.lake_volume[1] + ms_->output.totals.run_vol_discharge,
              total, 1e-9 * total);

  // The lake leaves the cell: the node returns at the lake's level.
  ch_.lake_mask[2] = 0;
  run(1, [](double) {});
  const std::string printed = out.stop();
  EXPECT_EQ(ch_.nx[1], 3);
  EXPECT_EQ(ch_.status_node(1, 3), 0);
  EXPECT_GT(ch_.area(1, 3), 0.0);
  EXPECT_GT(ms_->output.totals.run_vol_from_lakes, 0.0);
  EXPECT_NEAR(network_volume(*ms_) + ch_.lake_volume[1] + ms_->output.totals.run_vol_discharge,
              total, 1e-9 * total);
  EXPECT_TRUE(contains(printed, "node taken: [3][1]"));
  EXPECT_TRUE(contains(printed, "node released:[3][1]"));
}

// A weir beside a lake sees the lake's surface, and its flow is cut to the lake's water: a lake
// holding 1 m3 gives at most 1 m3 over a sub-step, whichever way the water would go.
TEST_F(LakeNetworkTest, AStructureBesideALakeSeesItsLevelAndIsCutToItsWater) {
  const double h = 10.0;
  // Lake 1 above the weir: 0.5 m over the crest passes some 1.8 m3/s.
  ch_.lake_elev[1] = 101.5;
  ch_.lake_volume[1] = 1.0e6;
  ASSERT_EQ(ex_link_end_flows(ch_, ch_.qp, ms_->current_time, h), 0);
  const double free_flow = weir_discharge(5.0, 101.0, 0.6, 0.6, 101.5, ch_.yp(4, 1));
  EXPECT_GT(free_flow, 1.5);
  EXPECT_DOUBLE_EQ(ch_.qp(3, 1), free_flow);
  EXPECT_DOUBLE_EQ(ch_.qp(3, 2), free_flow);
  ch_.lake_volume[1] = 1.0;
  ASSERT_EQ(ex_link_end_flows(ch_, ch_.qp, ms_->current_time, h), 0);
  EXPECT_DOUBLE_EQ(ch_.qp(3, 1), 1.0 / h);
  ch_.lake_volume[1] = -5.0;  // nothing to give
  ASSERT_EQ(ex_link_end_flows(ch_, ch_.qp, ms_->current_time, h), 0);
  EXPECT_EQ(ch_.qp(3, 1), 0.0);

  // The weir below link 1 with the lake below it (the lake the last link): the lake standing
  // over link 1's water sends water back up through the weir, at most what the lake holds.
  process_state_guard guard;
  auto ms = std::make_unique<model_state>();
  build_network(*ms, {{.nodes = 3, .downstream = 2, .bed_top = 100.0, .bed_slope = 0.0},
                      {.nodes = 2, .downstream = 3, .up = {1}, .type = 64},
                      {.nodes = 1, .up = {2}, .type = 32}});
  channel_state& ch = ms->channel;
  ch.num_lakes = 1;
  for (auto* a : {&ch.lake_volume, &ch.lake_elev}) a->allocate(1);
  ch.lake2link.allocate(3);
  ch.lake2link[3] = 1;
  ch.structure_count = 1;
  ch.structures.allocate(1);
  ch.structures[1] = ch_.structures[1];
  ASSERT_TRUE(ch.link_structures.allocate(3, 2));
  ch.link_structures[2][0] = ch.link_structures[2][1] = ch.link_structures[2][2] = 1;
  routing_test::set_depth(*ms, 1, 3, 0.5);  // link 1 at 100.5 m, below the crest
  ch.lake_elev[1] = 101.6;
  ch.lake_volume[1] = 1.0e6;
  ASSERT_EQ(ex_link_end_flows(ch, ch.qp, ms->current_time, h), 0);
  EXPECT_DOUBLE_EQ(ch.qp(2, 1), weir_discharge(5.0, 101.0, 0.6, 0.6, 100.5, 101.6));
  EXPECT_LT(ch.qp(2, 1), -1.0);
  ch.lake_volume[1] = 2.0;
  ASSERT_EQ(ex_link_end_flows(ch, ch.qp, ms->current_time, h), 0);
  EXPECT_DOUBLE_EQ(ch.qp(2, 1), -2.0 / h);
}

}  // namespace

// Lake-bed seepage of lake 1 over its first two cells (ground 100.0 and 100.2 m, level 100.5 m,
// 320 m3) into a simulated aquifer of conductivity 1e-6 m/s under a bed 50 cm thick, over 100 s:
// each cell passes (H - L) K / t x 400 m2 x 100 s when the head H stands above its ground and
// over 0.01 m of aquifer, else -(L - z) K / t x 400 m2 x 100 s; the lake, its books, the aquifer's
// waiting volumes and the run's and the event's totals take the same water.
TEST_F(LakeExtentTest, TheBedPassesItsSeepageToTheLakeTheAquiferAndTheBooks) {
  model_state& ms = *ms_;
  subsurface_state& ss = ms.subsurface;
  ms.perennial_lakes = 1;
  ch_.lake_loss = 1;
  ch_.Mlake.allocate(1);
  ch_.calc_loss.allocate(1);
  ch_.Mlake[1] = 50.0;
  ch_.calc_loss[1] = 1;
  ss.gw_simulation = 1;
  ss.water_table_on = 1;
  for (auto* a : {&ss.gw_cond_x, &ss.elevgw, &ss.bottom_elev, &ms.groundwater.lake_seepage,
                  &ch_.lake_cell_loss})
    a->allocate(6);
  ss.gwbound.allocate(6);
  for (int c = 1; c <= 6; ++c) {
    ss.gw_cond_x[c] = 1e-6;
    ss.bottom_elev[c] = 90.0;
    ss.gwbound[c] = 7;
  }
  const double k = 1e-6 / 0.5 * 400.0 * 100.0;  // m3 per metre of head difference
  struct seepage_case {
    const char* what;
    double head;   // m, both cells
    double cell1;  // expected m3, positive into the lake
    double cell2;
  };
  const seepage_case cases[] = {
      {"a head deep below the ground: the lake's depth drives the loss", 95.0, -0.5 * k, -0.3 * k},
      {"a head above the lake: the aquifer feeds it", 101.0, 0.5 * k, 0.5 * k},
      {"a head between the ground and the lake: the difference drives the loss", 100.3, -0.2 * k,
       -0.2 * k},
  };
  for (const seepage_case& c : cases) {
    SCOPED_TRACE(c.what);
    fill_lake(ms, 100.5, 2);
    ch_.lake_in_dv[1] = ch_.lake_out_dv[1] = 0.0;
    ms.output.totals = run_totals{};
    ms.output.budget = event_budget{};
    for (int cell = 1; cell <= 6; ++cell) {
      ss.elevgw[cell] = c.head;
      ms.groundwater.lake_seepage[cell] = 0.0;
    }
    lake_bed_seepage_step(ms, 100.0);
    const double net = c.cell1 + c.cell2;
    EXPECT_NEAR(ch_.lake_volume[1], 320.0 + net, 1e-9);
    EXPECT_NEAR(ms.groundwater.lake_seepage[1], c.cell1, 1e-12);
    EXPECT_NEAR(ms.groundwater.lake_seepage[2], c.cell2, 1e-12);
    EXPECT_EQ(ms.groundwater.lake_seepage[3], 0.0);  // outside the lake
    EXPECT_NEAR(ch_.lake_cell_loss[1], c.cell1 / 100.0, 1e-14);
    const double in = std::max(c.cell1, 0.0) + std::max(c.cell2, 0.0);
    const double out = -std::min(c.cell1, 0.0) - std::min(c.cell2, 0.0);
    EXPECT_NEAR(ch_.lake_in_dv[1], in, 1e-12);
    EXPECT_NEAR(ch_.lake_out_dv[1], out, 1e-12);
    EXPECT_NEAR(ms.output.totals.run_vol_gw_to_lake, in, 1e-12);
    EXPECT_NEAR(ms.output.totals.run_vol_lake_to_gw, out, 1e-12);
    EXPECT_NEAR(ms.output.budget.event_vol_gw_to_lake, in, 1e-12);
    EXPECT_NEAR(ms.output.budget.event_vol_lake_to_gw, out, 1e-12);
  }

  // A bed thin enough to pass more than the lake holds gives what it holds, shared by its cells
  // in proportion to their losses, and leaves the lake empty.
  fill_lake(ms, 100.5, 2);
  ch_.lake_out_dv[1] = 0.0;
  ms.output.totals = run_totals{};
  for (int cell = 1; cell <= 6; ++cell) {
    ss.elevgw[cell] = 95.0;
    ms.groundwater.lake_seepage[cell] = 0.0;
  }
  ch_.Mlake[1] = 0.0001;
  lake_bed_seepage_step(ms, 100.0);
  EXPECT_EQ(ch_.lake_volume[1], 0.0);
  EXPECT_NEAR(ch_.lake_out_dv[1], 320.0, 1e-9);
  EXPECT_NEAR(ms.output.totals.run_vol_lake_to_gw, 320.0, 1e-9);
  EXPECT_NEAR(ms.groundwater.lake_seepage[1], -200.0, 1e-9);  // 0.5 / 0.8 of the lake
  EXPECT_NEAR(ms.groundwater.lake_seepage[2], -120.0, 1e-9);
}

// What a bed may take in one step: all it asks while the lake and its gains cover it, else the
// share of its losses they do cover, and nothing from an empty lake that gains nothing.
TEST(LakeBedShare, TheLossesShareWhatTheLakeHolds) {
  struct share_case {
    double volume, gained, lost, share;
  };
  const share_case cases[] = {
      {100.0, 0.0, 40.0, 1.0},   {100.0, 0.0, 100.0, 1.0}, {100.0, 0.0, 400.0, 0.25},
      {100.0, 20.0, 240.0, 0.5}, {0.0, 0.0, 5.0, 0.0},     {0.0, 0.0, 0.0, 1.0},
  };
  for (const share_case& c : cases)
    EXPECT_DOUBLE_EQ(lake_bed_share(c.volume, c.gained, c.lost), c.share)
        << c.volume << " " << c.gained << " " << c.lost;
}
