// The routing's kernels on one link's arrays: the slope flows of a uniform reach at its normal
// depth, the flow at a link's end into a lake, and the volume balance of a link's nodes (what
// comes in and goes out, and a sink held to the water at hand).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "channel/routing_kernels.h"
#include "channel/sections.h"

namespace {

// A trapezoidal reach of bottom 5 m, side slopes 2, n 0.03 on a bed slope of 0.001 carries
// 10 m3/s at its normal depth of 1.3136 m (Manning's law): every slope flow between its nodes at
// that depth is that discharge, and the link's end into a link below at the same depth too.
TEST(RoutingKernels, AUniformReachAtItsNormalDepthCarriesItsNormalDischarge) {
  constexpr int nodes = 6;
  constexpr double dx = 30.0;
  constexpr double depth = 1.3136;
  trapezoid_shape shape;
  shape.bottom = 5.0;
  shape.side_slope = 2.0;
  shape.inv_n = 1.0 / 0.03;
  std::vector<double> bel(nodes + 2), d(nodes + 2, depth), conv(nodes + 2), q(nodes + 2, -1.0);
  for (int j = 1; j <= nodes; ++j) {
    bel[j] = 100.0 - 0.001 * dx * (j - 1);
    conv[j] = trapezoid_from_depth(shape, depth).conv;
  }
  const link_levels_view reach{bel.data(), d.data(), conv.data(), dx, nodes};
  slope_flows(reach, 1, nodes, q.data());
  for (int j = 1; j < nodes; ++j) EXPECT_NEAR(q[j], 10.0, 0.01) << "node " << j;
  EXPECT_EQ(q[nodes], -1.0);  // the last node's flow is the link end's
  link_end_view below;
  below.kind = link_end_view::routed;
  below.level = bel[nodes] - 0.001 * dx + depth;
  below.conv = conv[nodes];
  below.dx = dx;
  EXPECT_NEAR(link_end_flow(reach, below, q[nodes]), 10.0, 0.01);
}

// A link's end into a lake: water falls into a lake that lies lower and never comes back out of
// one that lies higher; nothing below keeps the flow it had.
TEST(RoutingKernels, NoFlowComesBackOutOfALake) {
  std::vector<double> bel = {0.0, 10.0, 10.0}, depth = {0.0, 1.0, 1.0}, conv = {0.0, 50.0, 50.0};
  const link_levels_view link{bel.data(), depth.data(), conv.data(), 20.0, 2};
  link_end_view lake;
  lake.kind = link_end_view::lake;
  struct lake_case {
    double lake_level;
    bool flows;
  };
  for (const lake_case c :
       {lake_case{10.2, true}, lake_case{11.0, false}, lake_case{11.8, false}}) {
    lake.level = c.lake_level;
    const double q = link_end_flow(link, lake, 7.0);
    if (c.flows)
      EXPECT_NEAR(q, 50.0 * std::sqrt(0.8 / 40.0), 1e-12) << c.lake_level;
    else
      EXPECT_EQ(q, 0.0) << c.lake_level;
  }
  EXPECT_EQ(link_end_flow(link, link_end_view{}, 7.0), 7.0);
}

// The volume balance of a link's nodes over a sub-step: the water the nodes gain together is
// what entered at the head, along the link and at the point inflows, less what left the last
// node (the flows between the nodes cancel); a sink on a node holding 2 m3 takes those 2 m3
// and no more, and reports what it took.
TEST(RoutingKernels, TheNodesKeepTheirWaterAndASinkTakesOnlyWhatIsThere) {
  constexpr int nodes = 5;
  constexpr double dx = 10.0;
  constexpr double h = 10.0;
  std::vector<double> q = {0.0, 1.2, 1.0, 0.9, 1.1, 1.3, 0.0};
  std::vector<double> lat(nodes + 2, 0.01), start(nodes + 2, 0.5), area(nodes + 2, 0.0);
  std::vector<double> points(nodes + 2, 0.0);
  start[4] = 0.2;    // 2 m3
  points[2] = 0.3;   // an inflow
  points[4] = -1.0;  // a sink that would take 10 m3 in the sub-step
  lat[4] = 0.0;
  q[3] = q[4] = 0.5;  // node 4 neither gains nor loses through its flows
  node_balance_view v;
  v.q = q.data();
  v.lat = lat.data();
  v.start = start.data();
  v.area = area.data();
  v.point_flow = points.data();
  v.dx = dx;
  v.head_inflow = 2.0;  // from the links above
  v.has_upstream = true;
  double brought = 0.0;
  for (int j = 1; j <= nodes; ++j) brought += node_balance(v, j, h, 0.0);
  EXPECT_EQ(area[4], 0.0);
  EXPECT_NEAR(brought, h * 0.3 - 2.0, 1e-12);
  double before = 0.0, after = 0.0, lateral = 0.0;
  for (int j = 1; j <= nodes; ++j) {
    before += dx * start[j];
    after += dx * area[j];
    lateral += dx * lat[j];
  }
  EXPECT_NEAR(after - before, h * (2.0 + lateral - q[nodes]) + brought, 1e-12);
}

// The bed's seepage in the volume balance of a node of 10 m x 10 m over 10 s, flows in and out
// equal unless said: a gain or a loss the node can carry passes whole; a loss beyond the water
// at hand takes that water and no more (the start volume when the flows bring water in, the
// start and the flows' net when they take it out); a node the flows alone overdraw passes no
// seepage at all rather than draw it from the ground; the held outlet node passes nothing.
TEST(RoutingKernels, TheBedsSeepageTakesAtMostTheWaterAtHand) {
  constexpr double dx = 10.0;
  constexpr double h = 10.0;
  struct seep_case {
    double start;   // flow area at the start (m2): volume 10 x start
    double q_in;    // flow into the node from above (m3/s); 1.0 leaves it
    double seep;    // seepage at the sub-step's start (m2/s)
    bool held;      // the node is the held outlet node
    double passed;  // seepage the balance passes (m2/s)
    double area;    // flow area after it (m2)
    const char* what;
  };
  const seep_case cases[] = {
      {0.5, 1.0, 0.01, false, 0.01, 0.5 + 0.1, "a gain"},
      {0.5, 1.0, -0.01, false, -0.01, 0.5 - 0.1, "a loss the node carries"},
      {0.5, 1.2, -0.2, false, -0.05, 0.2, "a loss beyond the water: the start volume"},
      {0.5, 0.8, -0.2, false, -0.03, 0.0, "a loss beyond the water the flows leave"},
      {0.1, 0.0, -0.2, false, 0.0, 0.1 - 1.0, "flows alone overdraw the node"},
      {0.5, 1.0, -0.01, true, 0.0, 0.5, "the held outlet node"},
  };
  for (const seep_case& c : cases) {
    std::vector<double> q = {0.0, c.q_in, 1.0, 0.0};
    std::vector<double> lat(4, 0.0), start(4, c.start), area(4, 0.0);
    std::vector<double> seep_start(4, c.seep), seep(4, 99.0);
    node_balance_view v;
    v.q = q.data();
    v.lat = lat.data();
    v.start = start.data();
    v.area = area.data();
    v.seep_start = seep_start.data();
    v.seep = seep.data();
    v.dx = dx;
    v.held_node = c.held ? 2 : 0;
    node_balance(v, 2, h, 0.0);
    EXPECT_NEAR(seep[2], c.passed, 1e-15) << c.what;
    EXPECT_NEAR(area[2], c.area, 1e-12) << c.what;
    if (c.seep < 0.0) {
      EXPECT_LE(seep[2], 0.0) << c.what;  // a loss never turns into a gain
    }
  }
}

}  // namespace
