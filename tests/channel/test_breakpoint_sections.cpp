// Break-point sections: depth tables of V-shaped and barred sections against hand-computed
// values, the bounds of the level count and spacing, the table look-up, the tables of the nodes
// between two sections, erodible per-node tables and the bed update.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "channel/breakpoint_sections.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;

namespace {

constexpr double inv_n = 1.0 / 0.03;

// Level arrays of one table with room for `levels` levels.
struct table_store {
  explicit table_store(int levels)
      : area(levels + 1), top(levels + 1), conv(levels + 1), perim(levels + 1) {}
  depth_table_levels view() { return {area.data(), top.data(), conv.data(), perim.data()}; }
  std::vector<double> area, top, conv, perim;
};

TEST(BreakpointTable, VShapedSectionFollowsItsClosedForm) {
  // Banks rising 5 m over 10 m on each side: side slope z = 2 (horizontal per vertical), so at
  // depth y: A = z y^2, T = 2 z y, P = 2 y sqrt(1 + z^2).
  const double x[] = {0.0, 10.0, 20.0};
  const double z[] = {5.0, 0.0, 5.0};
  table_store t(20);
  double h = 0.0;
  ASSERT_EQ(section_depth_table(x, z, 3, 20, inv_n, 1, 1, true, h, t.view()), 0);
  EXPECT_DOUBLE_EQ(h, 0.25);
  for (int k = 1; k <= 20; ++k) {
    SCOPED_TRACE(k);
    const double y = k * 0.25;
    const double area = 2.0 * y * y;
    const double perim = 2.0 * y * std::sqrt(5.0);
    EXPECT_NEAR(t.area[k], area, 1e-9);
    EXPECT_NEAR(t.top[k], 4.0 * y, 1e-9);
    EXPECT_NEAR(t.perim[k], perim, 1e-9);
    EXPECT_NEAR(t.conv[k], inv_n * area * std::pow(area / perim, 2.0 / 3.0), 1e-9 * t.conv[k]);
  }
}

TEST(BreakpointTable, CentralBarMakesTwoIslandsBelowItsTopAndOneAbove) {
  // Two 4 m deep channels on either side of a bar whose top lies 2 m above their beds.
  const double x[] = {0.0, 10.0, 20.0, 30.0, 40.0};
  const double z[] = {4.0, 0.0, 2.0, 0.0, 4.0};
  table_store t(4);
  double h = 0.0;
  ASSERT_EQ(section_depth_table(x, z, 5, 4, inv_n, 1, 1, true, h, t.view()), 0);
  // Level 1 (1 m): each channel is wet from 7.5 to 15 m (and 25 to 32.5 m), 3.75 m2 each.
  EXPECT_NEAR(t.top[1], 15.0, 1e-12);
  EXPECT_NEAR(t.area[1], 7.5, 1e-12);
  // Level 3 (3 m), over the bar: one stretch from 2.5 to 37.5 m.
  EXPECT_NEAR(t.top[3], 35.0, 1e-12);
  EXPECT_NEAR(t.area[3], 11.25 + 20.0 + 20.0 + 11.25, 1e-12);
  EXPECT_NEAR(t.perim[3], 2.0 * std::hypot(7.5, 3.0) + 2.0 * std::hypot(10.0, 2.0), 1e-12);
}

TEST(BreakpointTable, LevelCountAndSpacingHaveInclusiveBounds) {
  struct bound_case {
    double depth;  // the section's depth: zmax - zmin
    int levels;
    bool accepted;
    const char* message;
  };
  const bound_case cases[] = {
      {3.0, 30000, true, ""},  // spacing 0.0001
      {2.0, 2, true, ""},      // spacing 1.0
      {3.0, 30001, false,
       "\n\nError: The number of interpolation points [30001] for table 7 in link 3 is "
       "invalid. (Range is 1-30000.) \n"},
      {3.0, 0, false, "The number of interpolation points [0] for table 7 in link 3"},
      {3.0, 2, false,
       "\n\nError: The interpolation distance [1.50000] produced by the number of interpolation "
       "points [2]\nfor table 7 in link 3 is invalid. (Range is 0.0001 to 1.0)\n"},
      {1.0, 20000, false, "The interpolation distance [0.00005]"},
  };
  for (const bound_case& c : cases) {
    SCOPED_TRACE(std::to_string(c.depth) + " " + std::to_string(c.levels));
    process_state_guard guard;
    const double x[] = {0.0, 1.0, 2.0};
    const double z[] = {c.depth, 0.0, c.depth};
    table_store t(c.levels > 0 ? c.levels : 1);
    double h = 0.0;
    stdout_capture capture;
    const int result = section_depth_table(x, z, 3, c.levels, inv_n, 7, 3, true, h, t.view());
    const std::string printed = capture.stop();
    EXPECT_EQ(result, c.accepted ? 0 : 1);
    EXPECT_EQ(run_error.error_fatal != 0, !c.accepted);
    EXPECT_TRUE(contains(printed, c.message)) << printed;
  }
}

TEST(BreakpointTable, LookUpInterpolatesBetweenLevelsAndExtendsTheTop) {
  const double values[] = {0.0, 2.0, 6.0, 12.0};                    // levels 1..3 at spacing 0.5
  EXPECT_DOUBLE_EQ(depth_table_lookup(values, 0.5, 3, 0.25), 1.0);  // share of level 1
  EXPECT_DOUBLE_EQ(depth_table_lookup(values, 0.5, 3, 0.75), 4.0);
  EXPECT_DOUBLE_EQ(depth_table_lookup(values, 0.5, 3, 1.5), 12.0);  // the top level itself
  EXPECT_DOUBLE_EQ(depth_table_lookup(values, 0.5, 3, 2.0), 18.0);  // top interval extended
}

// A one-link network of break-point link 1 with `nodes` nodes and room for `tables` tables of
// `levels` levels, ready for read_breakpoint_xsecs.
void breakpoint_link(model_state& ms, int type, int nodes, int tables, int levels, int pairs) {
  channel_state& ch = ms.channel;
  ch.chan_link_count = 1;
  ch.ltype.allocate(1);
  ch.ltype[1] = type;
  ch.nx1.allocate(1);
  ch.nx1[1] = nodes;
  ch.nx.allocate(1);
  ch.nx[1] = nodes - 1;
  ch.dx.allocate(1);
  ch.dx[1] = 10.0;
  ch.link_inv_n.allocate(1);
  ch.link_inv_n[1] = inv_n;
  ch.bplink.allocate(1);
  ch.bplink[1] = (type & 2) ? 1 : 0;
  ASSERT_TRUE(ch.table_num.allocate_uniform(1, nodes));
  ASSERT_TRUE(ch.bel.allocate_uniform(1, nodes));
  ASSERT_TRUE(ch.new_bel.allocate_uniform(1, nodes));
  ch.ht_spc.allocate(tables);
  ch.numhts.allocate(tables);
  ch.numpairs.allocate(tables);
  ASSERT_TRUE(ch.xarea.allocate_uniform(tables, levels));
  ASSERT_TRUE(ch.xtw.allocate_uniform(tables, levels));
  ASSERT_TRUE(ch.xk.allocate_uniform(tables, levels));
  ASSERT_TRUE(ch.xp.allocate_uniform(tables, levels));
  if (type & 2) {
    ASSERT_TRUE(ch.xbp_lnn.allocate(1, nodes, pairs));
    ASSERT_TRUE(ch.ybp_lnn.allocate(1, nodes, pairs));
    ASSERT_TRUE(ch.max_yp.allocate(1, nodes));
  }
}

breakpoint_section section(int node, int levels, std::vector<double> x, std::vector<double> z) {
  breakpoint_section s;
  s.node = node;
  s.npairs = static_cast<int>(x.size());
  s.num_interp = levels;
  s.x = std::move(x);
  s.z = std::move(z);
  return s;
}

TEST(BreakpointLink, NodesBetweenTwoSectionsBlendTheirTables) {
  process_state_guard guard;
  auto ms = std::make_unique<model_state>();
  breakpoint_link(*ms, 8, 5, 3, 4, 4);
  // At node 2 a V of side slope 2, 2 m deep (spacing 0.5 m); at node 4 a V of side slope 1,
  // 4 m deep (spacing 1 m), given with one pair too many and fewer levels.
  std::vector<breakpoint_section> sections = {
      section(4, 2, {0.0, 4.0, 8.0, 9.0}, {4.0, 0.0, 4.0, 5.0}),
      section(2, 4, {0.0, 4.0, 8.0}, {2.0, 0.0, 2.0}),
  };
  stdout_capture capture;
  ASSERT_EQ(read_breakpoint_xsecs(*ms, 1, sections), 0);
  const std::string printed = capture.stop();
  EXPECT_TRUE(contains(printed,
                       "which they are not for link 1.\n\n  ---> Disregarding the last 1 "
                       "pairs of the second cross-section. <---\n\n"))
      << printed;
  EXPECT_TRUE(contains(printed,
                       "\nUsing the greater of the two number of interpolation points "
                       "\nfor both cross-section in link 1.\n"));
  const channel_state& ch = ms->channel;
  EXPECT_EQ(ch.num_xsec_tables, 3);
  const int tables[] = {0, 1, 1, 2, 3, 3};
  for (int n = 1; n <= 5; ++n) EXPECT_EQ(ch.table_num(1, n), tables[n]);
  EXPECT_DOUBLE_EQ(ch.ht_spc[1], 0.5);
  EXPECT_DOUBLE_EQ(ch.ht_spc[3], 1.0);
  EXPECT_DOUBLE_EQ(ch.ht_spc[2], 0.75);
  for (int t = 1; t <= 3; ++t) EXPECT_EQ(ch.numhts[t], 4);
  // Node 3 lies half way: level 2 stands for 1.5 m, where the first table holds its own level 3
  // (2 x 1.5^2 = 4.5 m2, 6 m wide) and the second is half way between its levels 1 and 2
  // (1 and 4 m2: 2.5 m2; 3 m wide).
  EXPECT_NEAR(ch.xarea(2, 2), 0.5 * (4.5 + 2.5), 1e-12);
  EXPECT_NEAR(ch.xtw(2, 2), 0.5 * (6.0 + 3.0), 1e-12);
  // Level 4 stands for 3 m: above the first table's top (8 m2 at 2 m, rising 3.5 m2 per 0.5 m:
  // 15 m2) and on the second table's level 3 (9 m2).
  EXPECT_NEAR(ch.xarea(2, 4), 0.5 * (15.0 + 9.0), 1e-12);
}

TEST(BreakpointLink, OneSectionServesEveryNodeWithOneTable) {
  process_state_guard guard;
  auto ms = std::make_unique<model_state>();
  breakpoint_link(*ms, 8, 3, 1, 2, 3);
  ms->channel.num_xsec_tables = 0;
  std::vector<breakpoint_section> sections = {section(2, 2, {0.0, 1.0, 2.0}, {1.0, 0.0, 1.0})};
  ASSERT_EQ(read_breakpoint_xsecs(*ms, 1, sections), 0);
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(ms->channel.table_num(1, n), 1);
  EXPECT_NEAR(ms->channel.xarea(1, 2), 1.0, 1e-12);
}

// An erodible link: every node keeps its own copy of the section, resampled to equally spaced
// stations, and its own table.
class ErodibleLink : public testing::Test {
 protected:
  void SetUp() override {
    breakpoint_link(*ms_, 10, 2, 2, 4, 3);
    // A V 2 m deep, its low point at 5 m (already on the stations 0, 5 and 10 m): side slope
    // 2.5, so the top width at depth y is 5 y.
    std::vector<breakpoint_section> sections = {section(1, 4, {0.0, 5.0, 10.0}, {2.0, 0.0, 2.0})};
    ASSERT_EQ(read_breakpoint_xsecs(*ms_, 1, sections), 0);
  }
  process_state_guard guard_;
  std::unique_ptr<model_state> ms_ = std::make_unique<model_state>();
};

TEST(BreakpointLink, ErodibleNodesGetTheirOwnResampledSectionAndTable) {
  process_state_guard guard;
  auto ms = std::make_unique<model_state>();
  breakpoint_link(*ms, 10, 3, 3, 2, 3);
  // Pairs at 0, 2 and 8 m are resampled to 0, 4 and 8 m: Z at 4 m lies a third of the way up
  // the right bank.
  std::vector<breakpoint_section> sections = {section(1, 2, {0.0, 2.0, 8.0}, {2.0, 0.0, 2.0})};
  ASSERT_EQ(read_breakpoint_xsecs(*ms, 1, sections), 0);
  const channel_state& ch = ms->channel;
  EXPECT_EQ(ch.num_xsec_tables, 3);
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(ch.table_num(1, n), n);
    EXPECT_DOUBLE_EQ(ch.xbp_lnn[1][n][2], 4.0);
    EXPECT_NEAR(ch.ybp_lnn[1][n][2], 2.0 / 3.0, 1e-12);
    EXPECT_EQ(ch.numpairs[n], 3);
  }
}

TEST_F(ErodibleLink, BedUpdateRemovesTheLostVolumeAndLowersTheBed) {
  channel_state& ch = ms_->channel;
  ch.max_yp[1][1] = 1.0;  // highest water 1 m above the bed (at 0 m)
  link_node_array<double> lost;
  ASSERT_TRUE(lost.allocate_uniform(1, 2));
  lost(1, 1) = 7.5;  // m3 of bed sediment lost over the 10 m reach
  stdout_capture capture;
  xsec_update(*ms_, lost, 0.0, 1);
  capture.stop();
  ASSERT_EQ(run_error.error_fatal, 0);
  // The wet pairs move: the low point down and the closing bank pair by (1 - f); the volume
  // between old and new section over the reach equals the loss.
  const double low = ch.ybp_lnn[1][1][2];
  const double bank = ch.ybp_lnn[1][1][3];
  const double moved =
      (0.5 * (0.0 + (0.0 - low)) * 5.0 + 0.5 * ((0.0 - low) + (2.0 - bank)) * 5.0) * 10.0;
  EXPECT_NEAR(moved, 7.5, 7.5 * 1e-5);
  EXPECT_LT(low, 0.0);
  EXPECT_NEAR(ch.new_bel(1, 1), low, 1e-12);
  EXPECT_DOUBLE_EQ(ch.bel(1, 1), ch.new_bel(1, 1));
  EXPECT_DOUBLE_EQ(ch.ybp_lnn[1][1][1], 2.0);  // the dry bank stays
  // The node's table follows the new section: deeper at the same level spacing.
  EXPECT_GT(ch.xarea(1, 1), 0.5 * 5.0 * 0.5 * 0.5);
}

TEST_F(ErodibleLink, BedChangeBeyondTheDepthIsCutToTheDepthWithItsSign) {
  channel_state& ch = ms_->channel;
  ch.max_yp[1][1] = 1.0;
  link_node_array<double> gained;
  ASSERT_TRUE(gained.allocate_uniform(1, 2));
  gained(1, 1) = -500.0;  // deposition far beyond what a 1 m deep channel can hold
  stdout_capture capture;
  xsec_update(*ms_, gained, 0.0, 0);
  const std::string printed = capture.stop();
  EXPECT_TRUE(contains(printed,
                       "In xsec_update - 3\nIt is impossible that change of stream bed elevation "
                       "is greater than maximum channel depth\nSetting the change in stream bed "
                       "elevation equal to the depth of the channel\n"))
      << printed;
  ASSERT_EQ(run_error.error_fatal, 0);
  // Deposition raises the low point; without the bed-adjustment flag the section is kept.
  EXPECT_GT(ch.new_bel(1, 1), 0.0);
  EXPECT_DOUBLE_EQ(ch.ybp_lnn[1][1][2], 0.0);
  EXPECT_DOUBLE_EQ(ch.bel(1, 1), 0.0);
}

// Deposition on a flat bed 8 m wide between banks 2 m high (stations every metre, node spacing
// 10 m), the highest water 1 m deep: the bed points rise together by d and the bank tops, above
// the highest water, stay. The rise is found by hand from the deposited bulk volume V: the
// displaced area is 8 d over the flat and d / 2 over each bank segment (raised at its foot
// only), 9 d in all, so d = V / (9 x 10), and the flow area of the full section (level 2 m,
// every point under it) falls by exactly V / 10.
TEST(BreakpointLink, DepositionRaisesAFlatBedEvenlyAndLeavesTheBanksAboveTheWater) {
  process_state_guard guard;
  auto ms = std::make_unique<model_state>();
  breakpoint_link(*ms, 10, 2, 2, 20, 11);
  std::vector<breakpoint_section> sections = {
      section(1, 20, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
              {2.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 2.0})};
  ASSERT_EQ(read_breakpoint_xsecs(*ms, 1, sections), 0);
  channel_state& ch = ms->channel;
  const double full_before = ch.xarea(1, 20);
  EXPECT_NEAR(full_before, 2.0 * 8.0 + 2.0 * 0.5 * 2.0 * 1.0, 1e-9);
  ch.max_yp[1][1] = 1.0;
  link_node_array<double> gained;
  ASSERT_TRUE(gained.allocate_uniform(1, 2));
  const double porosity = 0.4;
  gained(1, 1) = -0.6 * 8.0;  // 8 m3 of bulk deposit
  stdout_capture capture;
  xsec_update(*ms, gained, porosity, 1);
  capture.stop();
  ASSERT_EQ(run_error.error_fatal, 0);
  const double d = 8.0 / (9.0 * 10.0);
  for (int k = 2; k <= 10; ++k) EXPECT_NEAR(ch.ybp_lnn[1][1][k], d, 1e-5 * d) << k;
  EXPECT_DOUBLE_EQ(ch.ybp_lnn[1][1][1], 2.0);
  EXPECT_DOUBLE_EQ(ch.ybp_lnn[1][1][11], 2.0);
  EXPECT_NEAR(ch.new_bel(1, 1), d, 1e-5 * d);
  EXPECT_DOUBLE_EQ(ch.bel(1, 1), ch.new_bel(1, 1));
  // The table follows: the section, now 2 - d deep, holds V / L less at its top.
  const int t = ch.table_num(1, 1);
  EXPECT_NEAR(ch.ht_spc[t] * ch.numhts[t], 2.0 - ch.new_bel(1, 1), 1e-12);
  EXPECT_NEAR(ch.xarea(t, ch.numhts[t]), full_before - 8.0 / 10.0, 1e-5);
}

TEST_F(ErodibleLink, WaterBelowTheBedStopsTheUpdate) {
  ms_->channel.max_yp[1][1] = -0.5;
  link_node_array<double> lost;
  ASSERT_TRUE(lost.allocate_uniform(1, 2));
  lost(1, 1) = 1.0;
  stdout_capture capture;
  xsec_update(*ms_, lost, 0.0, 1);
  const std::string printed = capture.stop();
  EXPECT_TRUE(contains(printed,
                       "In ex_section - 3\nprogram stopped for negative depth, node 1, "
                       "link 1\n"));
  EXPECT_NE(run_error.error_fatal, 0);
}

}  // namespace
