// Link-end flows, the node volume balance and the weirs, on small networks filled by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "channel/link_flows.h"
#include "channel/routing_network.h"
#include "framework/core/error_state.h"
#include "input/input_steps.h"
#include "support/test_support.h"

using routing_test::build_network;
using routing_test::link_spec;
using routing_test::set_depth;
using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;

namespace {

// Weirs: a 5 m crest at 100 m with Cd 0.6 downstream and 0.5 upstream.
constexpr double crest_length = 5.0;
constexpr double crest = 100.0;

double weir(double h1, double h2) {
  return weir_discharge(crest_length, crest, 0.6, 0.5, h1, h2);
}

TEST(Weirs, FreeSubmergedAndReverseFlowByHand) {
  struct weir_case {
    const char* what;
    double h1, h2, q;
  };
  // Free flow: Q = (2/3) Cd L sqrt(2 g H^3 / 3) with H = 1 m: 5.114684 (Cd 0.6), 4.262237 (0.5).
  // Submerged (lower head 0.8 >= 2/3 of 1): Q = Cd L Hd sqrt(2 g (h1 - h2)) = 3 * 0.8 * 1.980909.
  const weir_case cases[] = {
      {"free, downstream", 101.0, 99.0, 5.114684},
      {"free, tailwater below the crest", 101.0, 99.9, 5.114684},
      {"free, upstream", 99.0, 101.0, -4.262237},
      {"submerged", 101.0, 100.8, 4.754182},
      {"crest above both levels", 99.5, 99.0, 0.0},
      {"equal levels", 100.5, 100.5, 0.0},
  };
  for (const weir_case& c : cases) EXPECT_NEAR(weir(c.h1, c.h2), c.q, 2e-6) << c.what;
}

TEST(Weirs, SubmergedFormIsContinuousAtOneCentimetre) {
  const double below = weir(100.81 - 1e-9, 100.8);
  const double above = weir(100.81 + 1e-9, 100.8);
  EXPECT_NEAR(below, above, 1e-6 * above);
  // Below 1 cm the discharge falls linearly with the level difference.
  EXPECT_NEAR(weir(100.805, 100.8), 0.5 * weir(100.81, 100.8), 1e-9);
}

TEST(Weirs, SagWeirIsTheParabolicCrestIntegral) {
  // The two side slopes s1, s2 over the crest length L make a parabolic crest of curvature
  // k = (s2 - s1) / (2 L) whose lowest point lies at the crest elevation Z; its discharge works out
  // to sqrt(2 g) Cd (H - Z)^2 / sqrt(k), whatever the slopes' asymmetry.
  struct sag_case {
    double s1, s2, h1, h2, cd;
  };
  const sag_case cases[] = {
      {-0.1, 0.1, 100.5, 99.0, 0.6}, {-0.3, 0.1, 100.5, 99.0, 0.6}, {-0.1, 0.1, 99.0, 100.4, 0.5}};
  for (const sag_case& c : cases) {
    const double k = (c.s2 - c.s1) / (2.0 * 10.0);
    const double head = std::max(c.h1, c.h2) - crest;
    const double expected =
        std::sqrt(19.62) * c.cd * head * head / std::sqrt(k) * (c.h1 > c.h2 ? 1.0 : -1.0);
    EXPECT_NEAR(sag_weir_discharge(10.0, crest, c.s1, c.s2, 0.6, 0.5, c.h1, c.h2), expected,
                1e-9 * std::fabs(expected));
  }
  EXPECT_EQ(sag_weir_discharge(10.0, crest, -0.1, 0.1, 0.6, 0.5, 100.0, 99.0), 0.0);
}

TEST(Weirs, SubmergenceFactorTable) {
  const double cases[][2] = {{0.0, 1.0},        {0.5, 1.0},      {0.76, 1.0},  {0.78, 0.9735},
                             {0.8, 0.947},      {0.875, 0.8485}, {0.95, 0.75}, {0.99, 0.15},
                             {1.0 - 1e-8, 0.0}, {1.2, 0.0},      {-0.1, 0.0},  {0.80005, 0.947}};
  for (const auto& c : cases)
    EXPECT_NEAR(weir_submergence_factor(c[0]), c[1], 1e-12) << "x = " << c[0];
}

class LinkFlowsTest : public testing::Test {
 protected:
  process_state_guard guard_;
  std::unique_ptr<model_state> ms_ = std::make_unique<model_state>();
  channel_state& ch_ = ms_->channel;

  double level(int link, int node) { return ch_.bel(link, node) + ch_.chan_depth(link, node); }
};

// Link 1 (3 nodes, 100 m apart) drains into link 2 (3 nodes, 50 m apart), the outlet link.
TEST_F(LinkFlowsTest, DiffusiveWaveFlowsInsideLinksAndAtTheJunction) {
  build_network(*ms_, {{.nodes = 3, .downstream = 2, .dx = 100.0, .bed_top = 100.0},
                       {.nodes = 3, .up = {1}, .dx = 50.0, .bed_top = 99.75}});
  set_depth(*ms_, 1, 1, 1.0);
  set_depth(*ms_, 1, 2, 1.2);  // the water rises towards node 2: flow back upstream
  set_depth(*ms_, 1, 3, 0.5);
  set_depth(*ms_, 2, 1, 0.4);
  set_depth(*ms_, 2, 2, 0.3);
  set_depth(*ms_, 2, 3, 0.35);
  ASSERT_EQ(ex_link_end_flows(ch_, ch_.qp, 0.0, 1.0), 0);

  // Node 1 to 2: the level rises by 0.1 m over 100 m: upstream flow with node 2's conveyance.
  const double rise = (level(1, 2) - level(1, 1)) / 100.0;
  ASSERT_NEAR(rise, 0.001, 1e-12);
  EXPECT_NEAR(ch_.qp(1, 1), -std::sqrt(rise) * ch_.conv(1, 2), 1e-12);
  const double s12 = (level(1, 2) - level(1, 3)) / 100.0;
  EXPECT_NEAR(ch_.qp(1, 2), std::sqrt(s12) * ch_.conv(1, 2), 1e-12);
  // The junction: half the two spacings apart.
  const double sj = (level(1, 3) - level(2, 1)) / 75.0;
  EXPECT_NEAR(ch_.qp(1, 3), std::sqrt(sj) * ch_.conv(1, 3), 1e-12);
  // The outlet takes normal flow on the bed slope of its last two nodes.
  const double bed_slope = (ch_.bel(2, 2) - ch_.bel(2, 3)) / 50.0;
  EXPECT_NEAR(bed_slope, 0.001, 1e-12);
  EXPECT_NEAR(ch_.qp(2, 3), std::sqrt(bed_slope) * ch_.conv(2, 3), 1e-12);
}

TEST_F(LinkFlowsTest, EqualLevelsGiveNoFlow) {
  build_network(*ms_, {{.nodes = 4, .bed_slope = 0.0}});
  for (int j = 1; j <= 4; ++j) set_depth(*ms_, 1, j, 0.8);
  ch_.qp(1, 2) = 7.0;
  ASSERT_EQ(ex_link_end_flows(ch_, ch_.qp, 0.0, 1.0), 0);
  for (int j = 1; j <= 4; ++j) EXPECT_EQ(ch_.qp(1, j), 0.0) << "node " << j;
}

TEST_F(LinkFlowsTest, HeadBoundaryPassesTheInflowAndANegativeOutletSlopeStops) {
  build_network(*ms_, {{.nodes = 3}});
  for (int j = 1; j <= 3; ++j) set_depth(*ms_, 1, j, 0.5);
  ch_.head_bound = 1;
  ch_.qlat(1, 3) = 0.002;
  ASSERT_EQ(ex_link_end_flows(ch_, ch_.qp, 0.0, 1.0), 0);
  EXPECT_NEAR(ch_.qp(1, 3), ch_.qp(1, 2) + 0.002 * 100.0, 1e-12);

  ch_.head_bound = 0;
  ch_.bel(1, 3) = ch_.bel(1, 2) + 0.01;
  stdout_capture out;
  EXPECT_EQ(ex_link_end_flows(ch_, ch_.qp, 0.0, 1.0), -1);
  const std::string text = out.stop();
  EXPECT_TRUE(contains(text,
                       "The outlet slope is negative.  Make sure that the bed\n"
                       "elevation of the most downstream node is lower than\n"
                       "the bed elevation of the node just upstream from it.\n"
                       "Program stopped.\n"))
      << text;
  EXPECT_EQ(run_error.error_fatal, 1);
}

// Link 1 spills over a weir (structure link 2) into link 3.
class StructureLinkTest : public LinkFlowsTest {
 protected:
  void SetUp() override {
    build_network(*ms_, {{.nodes = 3, .downstream = 2},
                         {.nodes = 2, .downstream = 3, .up = {1}, .type = 64},
                         {.nodes = 3, .up = {2}, .bed_top = 99.0}});
    ch_.structure_count = 1;
    ch_.structures.allocate(1);
    ch_.structures[1].structure_type = structure_weir;
    ch_.structures[1].length = 4.0;
    ch_.structures[1].upinvert = 100.2;
    ch_.structures[1].inlet_disch_coeff = 0.6;
    ch_.structures[1].rev_flow_disch_coeff = 0.6;
    ch_.link_structures.allocate(3, 2);
    ch_.link_structures[2][0] = 1;
    ch_.link_structures[2][1] = 1;
    ch_.link_structures[2][2] = 1;
    for (int j = 1; j <= 3; ++j) set_depth(*ms_, 1, j, 0.9);
    for (int j = 1; j <= 3; ++j) set_depth(*ms_, 3, j, 0.2);
  }
};

TEST_F(StructureLinkTest, BothNodesCarryTheWeirFlowAndTheLinkAboveTakesIt) {
  ASSERT_EQ(ex_link_end_flows(ch_, ch_.qp, 0.0, 1.0), 0);
  const double q = weir_discharge(4.0, 100.2, 0.6, 0.6, ch_.yp(1, 3), ch_.yp(3, 1));
  ASSERT_GT(q, 0.0);
  EXPECT_EQ(ch_.qp(2, 1), q);
  EXPECT_EQ(ch_.qp(2, 2), q);
  EXPECT_EQ(ch_.qp(1, 3), q);
}

TEST_F(StructureLinkTest, FlowIsCutToTheWaterAtHandWithinTheSubStep) {
  const double h = 1000.0;  // so long that the weir would empty the node upstream
  ASSERT_EQ(ex_link_end_flows(ch_, ch_.qp, 0.0, h), 0);
  EXPECT_NEAR(ch_.qp(2, 1), ch_.area(1, 3) * ch_.dx[1] / h, 1e-12);
}

TEST_F(StructureLinkTest, RatingCurvesRuleCurvesAndScheduledReleasesFromTheirSeries) {
  elevation_series curve;
  curve.x = {100.0, 101.0};
  curve.y = {0.0, 10.0};
  curve.count = 2;
  time_series release;
  release.times = {2450000.0, 2450010.0};
  release.values = {3.0, 5.0};
  release.count = 2;
  ch_.structures[1].es = &curve;
  ch_.structures[1].ts = &release;
  // The level upstream is 100.7 m: 7 m3/s on the rating curve, the lower point's 0 on the rule
  // curve; the release halfway through its series is 4 m3/s.
  struct kind_case {
    int kind;
    double q;
  };
  for (const kind_case& c :
       {kind_case{structure_rating_curve, 7.0}, kind_case{structure_rule_curve, 0.0},
        kind_case{structure_scheduled_release, 4.0}}) {
    ch_.structures[1].structure_type = c.kind;
    ASSERT_EQ(ex_link_end_flows(ch_, ch_.qp, 2450005.0, 1.0), 0);
    EXPECT_NEAR(ch_.qp(2, 1), c.q, 1e-9) << "kind " << c.kind;
    EXPECT_EQ(ch_.qp(2, 2), ch_.qp(2, 1));
  }
}

// A round culvert of 0.6 m under the link: it passes water towards the lower side, both ways,
// and a barrel it cannot compute names its link and stops the run.
TEST_F(StructureLinkTest, CulvertsPassWaterTowardsTheLowerSide) {
  hydraulic_structure& c = ch_.structures[1];
  c.structure_type = structure_round_culvert;
  c.length = 12.0;
  c.upinvert = 99.6;
  c.downinvert = 99.5;
  c.inlet_disch_coeff = 0.8;
  c.rev_flow_disch_coeff = 0.8;
  c.shape1 = 0.6;
  c.rough_coeff = 0.013;
  ASSERT_EQ(ex_link_end_flows(ch_, ch_.qp, 0.0, 1.0), 0);
  EXPECT_GT(ch_.qp(2, 1), 0.0);
  EXPECT_EQ(ch_.qp(2, 2), ch_.qp(2, 1));
  EXPECT_GT(c.inlet_coeff, 0.0);
  EXPECT_LE(c.inlet_coeff, 1.0);
  for (int j = 1; j <= 3; ++j) set_depth(*ms_, 3, j, 1.9);  // the far side stands higher now
  ASSERT_EQ(ex_link_end_flows(ch_, ch_.qp, 0.0, 1.0), 0);
  EXPECT_LT(ch_.qp(2, 1), 0.0);
  EXPECT_EQ(run_error.error_fatal, 0);

  c.length = 0.0;  // no barrel
  stdout_capture out;
  ex_link_end_flows(ch_, ch_.qp, 0.0, 1.0);
  EXPECT_TRUE(contains(out.stop(), "Error in link number: 2 "));
  EXPECT_EQ(run_error.error_fatal, 1);
}

// The volume balance moves water between nodes without making or losing any: over a sub-step
// the network gains its lateral and headwater inflow and loses what leaves the outlet.
TEST_F(LinkFlowsTest, VolumeBalanceConservesWaterAtAJunction) {
  build_network(*ms_, {{.nodes = 3, .downstream = 3, .dx = 80.0},
                       {.nodes = 2, .downstream = 3, .dx = 120.0},
                       {.nodes = 4, .up = {1, 2}, .dx = 60.0, .bed_top = 99.5}});
  for (int l = 1; l <= 3; ++l)
    for (int j = 1; j <= ch_.nx[l]; ++j) {
      set_depth(*ms_, l, j, 0.3 + 0.1 * j);
      ch_.qp(l, j) = 0.5 * l + 0.25 * j;
      ch_.qlat(l, j) = 0.001 * (l - j);
    }
  ch_.headwater_inflow = 0.7;
  const double h = 7.5;
  const double before = routing_test::network_volume(*ms_);
  double lateral = 0.0;
  for (int l = 1; l <= 3; ++l)
    for (int j = 1; j <= ch_.nx[l]; ++j) lateral += ch_.qlat(l, j) * ch_.dx[l];
  const double inner_before = ch_.area(3, 2);
  double sources = -1.0;
  ex_chan_volume(ch_, ch_.qp, ch_.area, 0.0, h, h, sources);
  EXPECT_EQ(sources, 0.0);  // no point inflows
  const double after = routing_test::network_volume(*ms_);
  const double expected = h * (lateral + 2 * 0.7 - ch_.qp(3, 4));
  EXPECT_NEAR(after - before, expected, 1e-9 * before);
  // A node inside a link gains what comes from above it less what leaves it.
  EXPECT_NEAR(ch_.area(3, 2),
              inner_before + h * (ch_.qp(3, 1) - ch_.qp(3, 2) + 60.0 * ch_.qlat(3, 2)) / 60.0,
              1e-12);
}

// Faults of the network tables met by the routing: each names what is wrong, and nothing is read
// outside the tables.
TEST_F(LinkFlowsTest, LinksAndNodesOutsideTheNetworkAreNamed) {
  struct fault_case {
    const char* what;
    void (*spoil)(channel_state&);
    const char* message;
  };
  const fault_case cases[] = {
      {"downstream link beyond the network", [](channel_state& c) { c.dslink[1] = 7; },
       "link 1 names link 7 as its downstream link"},
      {"a link other than the last drains nowhere", [](channel_state& c) { c.dslink[1] = 0; },
       "link 1 names link 0 as its downstream link"},
      {"upstream link 0", [](channel_state& c) { c.uslinks[2][1] = 0; },
       "link 2 names link 0 as its upstream link"},
      {"more nodes than the arrays hold", [](channel_state& c) { c.nx[1] = 9; },
       "link 1 has 9 computational nodes"},
      {"more upstream links than the table", [](channel_state& c) { c.ndep[2] = 5; },
       "link 2 has 5 upstream links"},
  };
  for (const fault_case& c : cases) {
    guard_.reset();
    build_network(*ms_, {{.nodes = 3, .downstream = 2}, {.nodes = 3, .up = {1}}});
    c.spoil(ch_);
    stdout_capture out;
    EXPECT_FALSE(check_routing_network(ch_)) << c.what;
    EXPECT_TRUE(contains(out.stop(), c.message)) << c.what;
    EXPECT_EQ(run_error.error_fatal, 1) << c.what;
  }
}

}  // namespace

// Two structures in a row: each would take a level from the other, which holds no water, and the
// first one's water would never reach the second. The routing refuses the network, naming both.
TEST_F(LinkFlowsTest, TwoStructuresInARowAreRefusedNamingBoth) {
  build_network(*ms_, {{.nodes = 3, .downstream = 2},
                       {.nodes = 2, .downstream = 3, .up = {1}},
                       {.nodes = 2, .downstream = 4, .up = {2}},
                       {.nodes = 3, .up = {3}}});
  ch_.ltype[2] |= 64;
  ch_.ltype[3] |= 64;
  stdout_capture out;
  EXPECT_FALSE(check_routing_network(ch_));
  EXPECT_TRUE(contains(out.stop(), "Error: structure link 2 meets structure link 3;"));
  EXPECT_EQ(run_error.error_fatal, 1);
}
