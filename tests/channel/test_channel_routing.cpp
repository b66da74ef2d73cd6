// Explicit channel routing over whole channel steps: sub-steps under the Courant limit, the
// halving on a negative area, the water it keeps, the normal depth it settles to, and its memory
// kept per run.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "channel/channel_routing.h"
#include "channel/node_ranges.h"
#include "channel/routing_network.h"
#include "framework/core/error_state.h"
#include "input/input_steps.h"
#include "support/test_support.h"

using routing_test::build_network;
using routing_test::link_spec;
using routing_test::network_volume;
using routing_test::set_depth;
using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;

namespace {

class ChannelRoutingTest : public testing::Test {
 protected:
  process_state_guard guard_;
  std::unique_ptr<model_state> ms_ = std::make_unique<model_state>();
  channel_state& ch_ = ms_->channel;

  int route(double dt) {
    double pipe = -1.0;
    const int status = ex_flow_route(*ms_, dt, pipe);
    EXPECT_EQ(pipe, 0.0);
    return status;
  }
};

TEST_F(ChannelRoutingTest, AStepOfNoLengthMovesNothing) {
  build_network(*ms_, {{.nodes = 3}});
  for (int j = 1; j <= 3; ++j) set_depth(*ms_, 1, j, 0.5 + 0.1 * j);
  ch_.chan_outlet_volume = 12.0;
  const double before = network_volume(*ms_);
  EXPECT_EQ(route(1e-17), 0);
  EXPECT_EQ(ch_.chan_outlet_volume, 0.0);
  EXPECT_EQ(network_volume(*ms_), before);
  EXPECT_EQ(ch_.routing_passes, 0);
}

// A level pool: a flat bed under a flat water surface, nothing coming in.
TEST_F(ChannelRoutingTest, ALevelPoolStaysAtRest) {
  build_network(*ms_, {{.nodes = 4, .downstream = 2, .bed_slope = 0.0},
                       {.nodes = 5, .up = {1}, .bed_slope = 0.0}});
  for (int l = 1; l <= 2; ++l)
    for (int j = 1; j <= ch_.nx[l]; ++j) set_depth(*ms_, l, j, 1.25);
  const double before = network_volume(*ms_);
  for (int step = 0; step < 20; ++step) ASSERT_EQ(route(30.0), 0);
  EXPECT_EQ(network_volume(*ms_), before);
  for (int l = 1; l <= 2; ++l)
    for (int j = 1; j <= ch_.nx[l]; ++j) {
      EXPECT_EQ(ch_.qp(l, j), 0.0);
      EXPECT_DOUBLE_EQ(ch_.yp(l, j), 101.25);
    }
  EXPECT_EQ(ch_.chan_outlet_volume, 0.0);
}

// Two head links join a third: the network's water changes by what comes in at the heads and
// from the sides less what leaves at the outlet, step by step.
TEST_F(ChannelRoutingTest, EveryStepKeepsTheNetworksWater) {
  build_network(*ms_, {{.nodes = 5, .downstream = 3, .dx = 80.0, .bed_top = 100.5},
                       {.nodes = 4, .downstream = 3, .dx = 120.0, .bed_top = 100.6},
                       {.nodes = 6, .up = {1, 2}, .dx = 60.0, .bed_top = 100.0}});
  for (int l = 1; l <= 3; ++l)
    for (int j = 1; j <= ch_.nx[l]; ++j) set_depth(*ms_, l, j, 0.2 + 0.05 * j);
  ch_.headwater_inflow = 1.5;
  double inflow = 2 * 1.5;
  for (int l = 1; l <= 3; ++l)
    for (int j = 1; j <= ch_.nx[l]; ++j) {
      ch_.qlat(l, j) = 0.002 * l;
      inflow += ch_.qlat(l, j) * ch_.dx[l];
    }
  for (int step = 0; step < 30; ++step) {
    const double before = network_volume(*ms_);
    ASSERT_EQ(route(20.0), 0) << "step " << step;
    const double change = network_volume(*ms_) - before;
    EXPECT_NEAR(change, 20.0 * inflow - ch_.chan_outlet_volume, 1e-9 * before) << "step " << step;
    EXPECT_GT(ch_.chan_outlet_volume, 0.0);
  }
}

// A point source on node 2 of the upper link: its series' discharge enters the node, and the
// routing reports what it brought.
TEST_F(ChannelRoutingTest, PointSourceSeriesFeedTheirNodes) {
  build_network(*ms_, {{.nodes = 3, .downstream = 2}, {.nodes = 4, .up = {1}}});
  time_series source;
  source.times = {2450000.0, 2450001.0};
  source.values = {2.5, 2.5};
  source.count = 2;
  std::vector<int> nodes = {0, 3, 4};
  ASSERT_TRUE(ch_.stream_pointsource.allocate(2, nodes.data()));
  ch_.stream_pointsource(1, 2) = &source;
  ms_->current_time = 2450000.5;
  for (int step = 0; step < 10; ++step) {
    const double before = network_volume(*ms_);
    ASSERT_EQ(route(30.0), 0);
    EXPECT_NEAR(ch_.chan_source_volume, 75.0, 1e-9);
    EXPECT_NEAR(network_volume(*ms_) - before, 75.0 - ch_.chan_outlet_volume, 1e-9);
  }
  EXPECT_GT(ch_.area(1, 2), 0.0);
}

// The Courant number q / A x h / dx of this link is exactly the limit 0.2 for a 10 s step:
// the step is cut into two sub-steps; half the step passes in one.
TEST_F(ChannelRoutingTest, ACourantNumberAtTheLimitHalvesTheStep) {
  struct courant_case {
    double dt;
    long sub_steps;
  };
  for (const courant_case& c : {courant_case{10.0, 2}, courant_case{5.0, 1}}) {
    guard_.reset();
    ms_ = std::make_unique<model_state>();
    build_network(*ms_, {{.nodes = 3, .dx = 100.0}});
    channel_state& ch = ms_->channel;
    for (int j = 1; j <= 3; ++j) {
      set_depth(*ms_, 1, j, 1.0);  // 12 m2 of flow area
      ch.qp(1, j) = 2.0 * ch.area(1, j);
    }
    double pipe = 0.0;
    ASSERT_EQ(ex_flow_route(*ms_, c.dt, pipe), 0);
    EXPECT_EQ(ch.routing_passes, c.sub_steps) << "dt " << c.dt;
  }
}

// A node that loses water sideways faster than any sub-step can give it: the sub-step halves
// until it falls below a millisecond and the run stops.
TEST_F(ChannelRoutingTest, ANodeThatKeepsRunningDryStopsAtTheSmallestSubStep) {
  build_network(*ms_, {{.nodes = 3}});
  set_depth(*ms_, 1, 1, 0.3);
  ch_.qlat(1, 2) = -0.5;  // the dry node 2 is asked to give 50 m3/s
  stdout_capture out;
  EXPECT_EQ(route(10.0), -1);
  const std::string text = out.stop();
  EXPECT_TRUE(contains(text,
                       "The channel routing time step is getting really small\n"
                       "less than 1/1000 of a second\n"
                       "Reduce the model time step by a factor of 2 and try again.\n"
                       "Program stopped.\n"))
      << text;
  EXPECT_EQ(run_error.error_fatal, 1);
}

// A node that would run dry only over the whole step: the halved sub-steps let it drain to
// nothing without a negative area, and the water books still close.
TEST_F(ChannelRoutingTest, HalvingOnANegativeAreaKeepsAreasAtOrAboveZero) {
  build_network(*ms_, {{.nodes = 3, .bed_slope = 0.0}});
  for (int j = 1; j <= 3; ++j) set_depth(*ms_, 1, j, 0.5);
  ch_.qlat(1, 3) = -0.01;  // 1 m3/s out of node 3, which holds 550 m3
  const double before = network_volume(*ms_);
  ASSERT_EQ(route(600.0), 0);
  // Nothing limits the sub-step but the halving: it took more than one.
  EXPECT_GE(ch_.routing_passes, 2);
  for (int j = 1; j <= 3; ++j) EXPECT_GE(ch_.area(1, j), 0.0);
  EXPECT_NEAR(network_volume(*ms_), before - 600.0 * 1.0 - ch_.chan_outlet_volume, 1e-9);
}

// A trapezoid 10 m wide at the bottom with side slopes of 2, n = 0.03 on a bed slope of 0.001,
// fed 20 m3/s at its head, settles at the Manning normal depth: 20 = (1/n) A R^(2/3) S^(1/2)
// holds at y = 1.394 m. Nodes 200 m apart keep the 10 s step within the scheme's diffusive
// limit (dx^2 / 2D with D = Q / 2 T S, about 30 s here).
TEST_F(ChannelRoutingTest, ATrapezoidFedAConstantFlowSettlesAtTheNormalDepth) {
  build_network(*ms_, {{.nodes = 21, .dx = 200.0, .bottom = 10.0, .side_slope = 2.0, .n = 0.03}});
  ch_.headwater_inflow = 20.0;
  for (int step = 0; step < 1080; ++step) ASSERT_EQ(route(10.0), 0);  // three hours
  for (int j : {5, 10, 15}) EXPECT_NEAR(ch_.chan_depth(1, j), 1.394, 0.01 * 1.394) << j;
  EXPECT_NEAR(ch_.qp(1, 21), 20.0, 0.01 * 20.0);
}

// Routed twice in one process, with a larger network routed in between: the work arrays and
// the sub-step memory belong to each run, so the second routing of the small network gives what
// the first gave.
TEST_F(ChannelRoutingTest, EachRunHasItsOwnWorkArraysAndMemory) {
  auto small_run = [this]() {
    auto ms = std::make_unique<model_state>();
    build_network(*ms, {{.nodes = 3, .downstream = 2}, {.nodes = 4, .up = {1}}});
    for (int l = 1; l <= 2; ++l)
      for (int j = 1; j <= ms->channel.nx[l]; ++j) {
        set_depth(*ms, l, j, 0.4 + 0.1 * j);
        ms->channel.qp(l, j) = 1.0 + l + j;
      }
    double pipe = 0.0;
    for (int step = 0; step < 10; ++step) EXPECT_EQ(ex_flow_route(*ms, 15.0, pipe), 0);
    std::vector<double> areas(ms->channel.area.data(),
                              ms->channel.area.data() + ms->channel.area.element_count());
    EXPECT_EQ(ms->channel.qp_last.node_count(2), 4);
    return areas;
  };
  const std::vector<double> first = small_run();
  {
    auto big = std::make_unique<model_state>();
    build_network(*big, {{.nodes = 30, .downstream = 3},
                         {.nodes = 25, .downstream = 3},
                         {.nodes = 40, .up = {1, 2}}});
    for (int l = 1; l <= 3; ++l)
      for (int j = 1; j <= big->channel.nx[l]; ++j) set_depth(*big, l, j, 1.0);
    double pipe = 0.0;
    EXPECT_EQ(ex_flow_route(*big, 60.0, pipe), 0);
    EXPECT_EQ(big->channel.qp_iter.node_count(3), 40);
  }
  EXPECT_EQ(small_run(), first);
}

// A comb of 30 tributaries joining a trunk of 30 links, 36,000 nodes in all (enough to share the
// nodes among threads), with lateral inflow everywhere, point inflows and a sink: routed over five
// steps on 1, 2 and 8 threads, every node's area, discharge, level, depth and conveyance and the
// step's outlet and source volumes are the same bits. The compare itself is shown to see a
// difference in the last bit of one node.
TEST(ChannelRoutingInParallel, ACombNetworkGivesTheSameBitsOnAnyThreadCount) {
  process_state_guard guard;
  constexpr int teeth = 30;
  constexpr int nodes = 600;
  constexpr double dx = 100.0;
  const auto build = []() {
    auto ms = std::make_unique<model_state>();
    std::vector<link_spec> links;
    double trunk_top = 200.0;
    for (int i = 0; i < teeth; ++i) {
      const int tooth = 2 * i + 1;
      const int trunk = 2 * i + 2;
      const int below = i + 1 < teeth ? trunk + 2 : 0;
      links.push_back({.nodes = nodes,
                       .downstream = trunk,
                       .dx = dx,
                       .bed_top = trunk_top + 0.1 + 0.002 * dx * (nodes - 1),
                       .bed_slope = 0.002,
                       .bottom = 3.0 + (i % 3)});
      std::vector<int> up = {tooth};
      if (i > 0) up.push_back(trunk - 2);
      links.push_back({.nodes = nodes,
                       .downstream = below,
                       .up = up,
                       .dx = dx,
                       .bed_top = trunk_top,
                       .bed_slope = 0.001,
                       .bottom = 8.0});
      trunk_top -= 0.001 * dx * nodes;  // the next link's head one node spacing on
    }
    build_network(*ms, links);
    channel_state& ch = ms->channel;
    ch.headwater_inflow = 1.5;
    for (int l = 1; l <= ch.chan_link_count; ++l)
      for (int j = 1; j <= nodes; ++j) {
        ch.chan_depth(l, j) = 0.3 + 0.02 * ((l * 7 + j) % 11);
        ch.yp(l, j) = ch.bel(l, j) + ch.chan_depth(l, j);
        ch.qlat(l, j) = 0.002 * ((l + j) % 4);
      }
    ex_section(*ms, 2);
    chan_point_state& pts = ch.points;
    pts.chan_point_on = 1;
    pts.node_stride = nodes + 2;
    pts.chan_point_flow.allocate(static_cast<long>(ch.chan_link_count + 2) * pts.node_stride);
    for (int l = 3; l <= ch.chan_link_count; l += 5)
      pts.chan_point_flow[static_cast<long>(l) * pts.node_stride + 40] = 0.75;
    pts.chan_point_flow[4L * pts.node_stride + 60] = -0.2;  // a sink
    ex_section(*ms, 2);
    return ms;
  };
  struct routed {
    std::vector<std::vector<double>> arrays;
    std::vector<double> volumes;
  };
  const auto route_on = [&](int threads) {
    auto ms = build();
    routed r;
    omp_set_num_threads(threads);
    double pipe = 0.0;
    for (int step = 0; step < 5; ++step) {
      EXPECT_EQ(ex_flow_route(*ms, 30.0, pipe), 0);
      r.volumes.push_back(ms->channel.chan_outlet_volume);
      r.volumes.push_back(ms->channel.chan_source_volume);
    }
    omp_set_num_threads(1);
    const channel_state& ch = ms->channel;
    for (const link_node_array<double>* a : {&ch.area, &ch.qp, &ch.yp, &ch.chan_depth, &ch.conv})
      r.arrays.emplace_back(a->data(), a->data() + a->element_count());
    r.volumes.push_back(static_cast<double>(ch.routing_passes));
    return r;
  };
  const auto same_bits = [](const routed& a, const routed& b) {
    if (a.arrays.size() != b.arrays.size() || a.volumes.size() != b.volumes.size()) return false;
    for (std::size_t k = 0; k < a.arrays.size(); ++k)
      if (a.arrays[k].size() != b.arrays[k].size() ||
          std::memcmp(a.arrays[k].data(), b.arrays[k].data(),
                      a.arrays[k].size() * sizeof(double)) != 0)
        return false;
    return std::memcmp(a.volumes.data(), b.volumes.data(), a.volumes.size() * sizeof(double)) == 0;
  };
  const routed one = route_on(1);
  ASSERT_GE(2L * teeth * nodes, routing_parallel_min_nodes);
  // The run moved water: flow at the outlet, the point inflows in, the sink cut.
  EXPECT_GT(one.volumes[0], 0.0);
  EXPECT_GT(one.volumes[1], 0.0);
  EXPECT_GT(one.volumes.back(), 5.0);
  for (int threads : {2, 8}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    EXPECT_TRUE(same_bits(route_on(threads), one));
  }
  routed planted = one;
  const double v = planted.arrays[1][planted.arrays[1].size() / 2];
  planted.arrays[1][planted.arrays[1].size() / 2] = std::nextafter(v, 2.0 * v + 1.0);
  EXPECT_FALSE(same_bits(planted, one));
}

}  // namespace

namespace {

// A comb of 30 tributaries and 30 trunk links (every third tributary a compound section with a
// flood plain) whose trunk spills over a weir into an outlet link, 36,600 nodes in all, with
// lateral inflow everywhere, point inflows, a sink and point-source series: routed over five
// steps on 1, 2 and 8 threads, every node's area, discharge, level, depth and conveyance and the
// steps' outlet and source volumes are the same bits, and in every step the water of the routed
// links changes by what came in (headwater, lateral inflow, point inflows and series) less what
// left through the outlet.
TEST(ChannelRoutingInParallel, AWeirCompoundSectionsAndSeriesKeepTheBitsAndTheWater) {
  process_state_guard guard;
  constexpr int teeth = 30;
  constexpr int nodes = 600;
  constexpr double dx = 100.0;
  constexpr double headwater = 1.5;
  time_series series;
  series.times = {2450000.0, 2450001.0};
  series.values = {0.4, 1.2};
  series.count = 2;
  const auto build = [&]() {
    auto ms = std::make_unique<model_state>();
    std::vector<link_spec> links;
    double trunk_top = 200.0;
    for (int i = 0; i < teeth; ++i) {
      const int tooth = 2 * i + 1;
      const int trunk = 2 * i + 2;
      links.push_back({.nodes = nodes,
                       .downstream = trunk,
                       .dx = dx,
                       .bed_top = trunk_top + 0.1 + 0.002 * dx * (nodes - 1),
                       .bed_slope = 0.002,
                       .bottom = 3.0 + (i % 3),
                       .type = i % 3 == 0 ? 16 : 4});
      std::vector<int> up = {tooth};
      if (i > 0) up.push_back(trunk - 2);
      links.push_back({.nodes = nodes,
                       .downstream = trunk + 2 - (i + 1 < teeth ? 0 : 1),
                       .up = up,
                       .dx = dx,
                       .bed_top = trunk_top,
                       .bed_slope = 0.001,
                       .bottom = 8.0});
      trunk_top -= 0.001 * dx * nodes;
    }
    const int weir = 2 * teeth + 1;
    links.push_back({.nodes = 2, .downstream = weir + 1, .up = {weir - 1}, .type = 64});
    links.push_back({.nodes = nodes,
                     .up = {weir},
                     .dx = dx,
                     .bed_top = trunk_top - 0.5,
                     .bed_slope = 0.001,
                     .bottom = 8.0});
    build_network(*ms, links);
    channel_state& ch = ms->channel;
    ms->current_time = 2450000.25;
    ch.headwater_inflow = headwater;
    for (int l = 1; l <= ch.chan_link_count; ++l) {
      if (l == weir) continue;
      for (int j = 1; j <= nodes; ++j) {
        ch.chan_depth(l, j) = 0.3 + 0.02 * ((l * 7 + j) % 11);
        ch.yp(l, j) = ch.bel(l, j) + ch.chan_depth(l, j);
        ch.qlat(l, j) = 0.002 * ((l + j) % 4);
        ch.sslope2(l, j) = 5.0;
        ch.bankfull_dep(l, j) = 0.5;
      }
    }
    ch.structure_count = 1;
    ch.structures.allocate(1);
    hydraulic_structure& crest = ch.structures[1];
    crest.structure_type = structure_weir;
    crest.length = 30.0;
    crest.upinvert = ch.bel(weir - 1, nodes) + 0.1;
    crest.inlet_disch_coeff = 0.6;
    crest.rev_flow_disch_coeff = 0.6;
    ch.link_structures.allocate(ch.chan_link_count, 2);
    ch.link_structures[weir][0] = 1;
    ch.link_structures[weir][1] = 1;
    ch.link_structures[weir][2] = 1;
    std::vector<int> counts(ch.chan_link_count + 1, nodes);
    counts[weir] = 2;
    EXPECT_TRUE(ch.stream_pointsource.allocate(ch.chan_link_count, counts.data()));
    for (int l = 2; l <= 2 * teeth; l += 7) ch.stream_pointsource(l, 100 + l) = &series;
    chan_point_state& pts = ch.points;
    pts.chan_point_on = 1;
    pts.node_stride = nodes + 2;
    pts.chan_point_flow.allocate(static_cast<long>(ch.chan_link_count + 2) * pts.node_stride);
    for (int l = 3; l <= 2 * teeth; l += 5)
      pts.chan_point_flow[static_cast<long>(l) * pts.node_stride + 40] = 0.75;
    pts.chan_point_flow[4L * pts.node_stride + 60] = -0.2;  // a sink
    ex_section(*ms, 2);
    return ms;
  };
  struct routed {
    std::vector<std::vector<double>> arrays;
    std::vector<double> volumes;
  };
  const auto route_on = [&](int threads) {
    auto ms = build();
    channel_state& ch = ms->channel;
    routed r;
    omp_set_num_threads(threads);
    double pipe = 0.0;
    for (int step = 0; step < 5; ++step) {
      // What comes in without the point inflows and series: headwater at the heads of the
      // tributaries, lateral inflow along every routed node.
      double lateral = 0.0;
      for (int l = 1; l <= ch.chan_link_count; ++l)
        if ((ch.ltype[l] & 64) == 0)
          for (int j = 1; j <= ch.nx[l]; ++j) lateral += ch.dx[l] * ch.qlat(l, j);
      const double before = network_volume(*ms);
      EXPECT_EQ(ex_flow_route(*ms, 30.0, pipe), 0);
      const double gained =
          30.0 * (teeth * headwater + lateral) + ch.chan_source_volume - ch.chan_outlet_volume;
      EXPECT_NEAR(network_volume(*ms) - before, gained, 1e-9 * before);
      r.volumes.push_back(ch.chan_outlet_volume);
      r.volumes.push_back(ch.chan_source_volume);
    }
    omp_set_num_threads(1);
    for (const link_node_array<double>* a : {&ch.area, &ch.qp, &ch.yp, &ch.chan_depth, &ch.conv})
      r.arrays.emplace_back(a->data(), a->data() + a->element_count());
    r.volumes.push_back(ch.qp(2 * teeth + 1, 1));  // the weir's discharge
    r.volumes.push_back(static_cast<double>(ch.routing_passes));
    return r;
  };
  const routed one = route_on(1);
  ASSERT_GE(2L * teeth * nodes, routing_parallel_min_nodes);
  // The weir passes water, the point inflows and series bring some in, the outlet gives some out.
  EXPECT_GT(one.volumes[one.volumes.size() - 2], 0.0);
  EXPECT_GT(one.volumes[1], 5.0 * 0.75 * 30.0);
  EXPECT_GT(one.volumes[0], 0.0);
  for (int threads : {2, 8}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    const routed other = route_on(threads);
    ASSERT_EQ(other.arrays.size(), one.arrays.size());
    for (std::size_t k = 0; k < one.arrays.size(); ++k) {
      ASSERT_EQ(other.arrays[k].size(), one.arrays[k].size());
      EXPECT_EQ(std::memcmp(other.arrays[k].data(), one.arrays[k].data(),
                            one.arrays[k].size() * sizeof(double)),
                0)
          << "array " << k;
    }
    ASSERT_EQ(other.volumes.size(), one.volumes.size());
    EXPECT_EQ(
        std::memcmp(other.volumes.data(), one.volumes.data(), one.volumes.size() * sizeof(double)),
        0);
  }
}

}  // namespace
