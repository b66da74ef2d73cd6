// Channel cross-sections: a rectangle, a trapezoid, a compound trapezoid and a V-shaped
// break-point section against their closed forms, depth from area and back at many depths, empty
// sections, and ex_section over a small network with its failure messages.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "channel/channel_steps.h"
#include "channel/sections.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;

namespace sections_tests {

constexpr double inv_n = 1.0 / 0.035;

// Closed forms of a trapezoid of bottom b and side slope z filled to depth y.
struct closed_trapezoid {
  double area, topw, perimeter, conv, dconv;
};
closed_trapezoid trapezoid_closed(double b, double z, double y) {
  closed_trapezoid c{};
  c.area = b * y + z * y * y;
  c.topw = b + 2.0 * z * y;
  c.perimeter = b + 2.0 * y * std::sqrt(1.0 + z * z);
  c.conv = inv_n * std::pow(c.area, 5.0 / 3.0) / std::pow(c.perimeter, 2.0 / 3.0);
  // d/dy of A^(5/3) P^(-2/3): (5/3) A^(2/3) P^(-2/3) T - (2/3) A^(5/3) P^(-5/3) dP/dy.
  const double dp = 2.0 * std::sqrt(1.0 + z * z);
  c.dconv = inv_n * ((5.0 / 3.0) * std::pow(c.area / c.perimeter, 2.0 / 3.0) * c.topw -
                     (2.0 / 3.0) * std::pow(c.area / c.perimeter, 5.0 / 3.0) * dp);
  return c;
}

trapezoid_shape trapezoid(double b, double z) {
  trapezoid_shape s;
  s.bottom = b;
  s.side_slope = z;
  s.inv_n = inv_n;
  return s;
}

trapezoid_shape compound(double b, double z1, double yb, double z2) {
  trapezoid_shape s = trapezoid(b, z1);
  s.bankfull_depth = yb;
  s.plain_slope = z2;
  return s;
}

// A V-shaped break-point section of side slope z (three pairs: (-z H, H), (0, 0), (z H, H))
// tabled by its closed form: at depth d the area z d2, the top width 2 z d and the conveyance
// of the wetted perimeter 2 d sqrt(1 + z2); levels 0..n of spacing h.
struct v_table {
  double h;
  int n;
  std::vector<double> area, topw, conv;
  depth_table_view view() const { return {h, n, area.data(), topw.data(), conv.data()}; }
};
v_table v_section(double z, double h, int n) {
  v_table t{h, n, {}, {}, {}};
  for (int k = 0; k <= n; ++k) {
    const double d = k * h;
    t.area.push_back(z * d * d);
    t.topw.push_back(2.0 * z * d);
    const double p = 2.0 * d * std::sqrt(1.0 + z * z);
    t.conv.push_back(k == 0 ? 0.0
                            : inv_n * std::pow(z * d * d, 5.0 / 3.0) / std::pow(p, 2.0 / 3.0));
  }
  return t;
}

TEST(SectionKernels, TrapezoidsFromDepthMatchTheirClosedForms) {
  struct shape_case {
    const char* name;
    double b, z, y;
  };
  const shape_case cases[] = {
      {"rectangle", 4.0, 0.0, 1.5},
      {"trapezoid", 3.0, 2.0, 1.2},
      {"V channel", 0.0, 1.5, 0.8},
      {"shallow wide", 12.0, 0.5, 0.01},
  };
  for (const shape_case& c : cases) {
    SCOPED_TRACE(c.name);
    const section_properties p = trapezoid_from_depth(trapezoid(c.b, c.z), c.y);
    const closed_trapezoid e = trapezoid_closed(c.b, c.z, c.y);
    EXPECT_NEAR(p.area, e.area, 1e-12 * e.area);
    EXPECT_NEAR(p.topw, e.topw, 1e-12 * e.topw);
    EXPECT_NEAR(p.conv, e.conv, 1e-12 * e.conv);
    EXPECT_NEAR(p.dconv, e.dconv, 1e-10 * e.dconv);
  }
  // The rectangle by hand: 4 m wide, 1.5 m deep: A = 6, P = 7.
  const section_properties r = trapezoid_from_depth(trapezoid(4.0, 0.0), 1.5);
  EXPECT_DOUBLE_EQ(r.area, 6.0);
  EXPECT_DOUBLE_EQ(r.topw, 4.0);
  EXPECT_NEAR(r.conv, inv_n * 6.0 * std::pow(6.0 / 7.0, 2.0 / 3.0), 1e-12);
}

// Depth from area is the inverse of area from depth, at depths from a film to a flood, for
// rectangles (side slope 0), trapezoids and a V channel.
TEST(SectionKernels, TrapezoidDepthFromAreaAndBackToRoundOff) {
  const double shapes[][2] = {{4.0, 0.0}, {3.0, 2.0}, {0.0, 1.5}, {25.0, 0.25}};
  for (const auto& sh : shapes) {
    const trapezoid_shape s = trapezoid(sh[0], sh[1]);
    for (double y = 1e-6; y < 20.0; y *= 1.37) {
      SCOPED_TRACE("b " + std::to_string(sh[0]) + " z " + std::to_string(sh[1]) + " y " +
                   std::to_string(y));
      const section_properties p = trapezoid_from_depth(s, y);
      const section_depth d = trapezoid_from_area(s, p.area);
      EXPECT_EQ(d.fault, section_fault::none);
      EXPECT_NEAR(d.depth, y, 1e-13 * y);
      EXPECT_NEAR(d.conv, p.conv, 1e-12 * p.conv);
    }
  }
}

// Empty sections convey nothing, also where the wetted perimeter is 0 (a V channel): never 0/0.
TEST(SectionKernels, EmptySectionsHaveZeroConveyance) {
  for (const trapezoid_shape& s :
       {trapezoid(0.0, 1.5), trapezoid(4.0, 0.0), compound(0.0, 1.0, 1.0, 3.0)}) {
    const section_properties p =
        (s.bankfull_depth > 0.0) ? compound_from_depth(s, 0.0) : trapezoid_from_depth(s, 0.0);
    EXPECT_EQ(p.area, 0.0);
    EXPECT_EQ(p.conv, 0.0);
    EXPECT_EQ(p.dconv, 0.0);
    const section_depth d =
        (s.bankfull_depth > 0.0) ? compound_from_area(s, 0.0) : trapezoid_from_area(s, 0.0);
    EXPECT_EQ(d.depth, 0.0);
    EXPECT_EQ(d.conv, 0.0);
    EXPECT_EQ(d.fault, section_fault::none);
  }
}

TEST(SectionKernels, CompoundTrapezoidInBankAndOnTheFloodPlain) {
  // 2 m bottom, 1:1 banks 1 m high (top width 4 m, area 3 m2 at the bank), 1:4 flood plain.
  const trapezoid_shape s = compound(2.0, 1.0, 1.0, 4.0);
  // In bank: the trapezoid of the same b and z1, to the written-out decimal exponents.
  for (double y : {0.05, 0.4, 1.0}) {
    const section_properties c = compound_from_depth(s, y);
    const closed_trapezoid t = trapezoid_closed(2.0, 1.0, y);
    EXPECT_NEAR(c.area, t.area, 1e-12);
    EXPECT_NEAR(c.topw, t.topw, 1e-12);
    EXPECT_NEAR(c.conv, t.conv, 1e-5 * t.conv);
    EXPECT_NEAR(c.dconv, t.dconv, 1e-5 * t.dconv);
  }
  // Half a metre over the bank: top width 4 + 2 x 4 x 0.5 = 8, area 3 + (4 + 8) / 2 x 0.5 = 6,
  // wetted perimeter 2 + 2 sqrt(2) + sqrt(17).
  const section_properties over = compound_from_depth(s, 1.5);
  EXPECT_NEAR(over.topw, 8.0, 1e-12);
  EXPECT_NEAR(over.area, 6.0, 1e-12);
  const double p = 2.0 + 2.0 * std::sqrt(2.0) + std::sqrt(17.0);
  EXPECT_NEAR(over.conv, inv_n * std::pow(6.0, 5.0 / 3.0) / std::pow(p, 2.0 / 3.0),
              1e-5 * over.conv);
  const double r = 6.0 / p;
  EXPECT_NEAR(over.dconv,
              inv_n * ((5.0 / 3.0) * std::pow(r, 2.0 / 3.0) * 8.0 -
                       (4.0 / 3.0) * std::pow(r, 5.0 / 3.0) * std::sqrt(17.0)),
              1e-5 * over.dconv);
  const section_depth back = compound_from_area(s, 6.0);
  EXPECT_NEAR(back.depth, 1.5, 1e-13);
  EXPECT_NEAR(back.conv, inv_n * std::pow(6.0, 5.0 / 3.0) / std::pow(p, 2.0 / 3.0),
              1e-12 * back.conv);
}

// Rectangular channels and flat flood plains (slopes of 0) fill by the rectangular forms: depth
// from area and back to round-off, in bank and above it.
TEST(SectionKernels, CompoundWithZeroSlopesDepthFromAreaAndBack) {
  const trapezoid_shape shapes[] = {compound(3.0, 0.0, 1.0, 0.0), compound(3.0, 1.0, 1.0, 0.0),
                                    compound(3.0, 0.0, 0.8, 5.0), compound(2.0, 1.0, 1.0, 4.0)};
  for (const trapezoid_shape& s : shapes) {
    for (double y = 1e-5; y < 12.0; y *= 1.29) {
      SCOPED_TRACE("z1 " + std::to_string(s.side_slope) + " z2 " + std::to_string(s.plain_slope) +
                   " y " + std::to_string(y));
      const section_properties p = compound_from_depth(s, y);
      const section_depth d = compound_from_area(s, p.area);
      ASSERT_EQ(d.fault, section_fault::none);
      EXPECT_NEAR(d.depth, y, 1e-12 * y);
      EXPECT_TRUE(std::isfinite(d.conv));
    }
  }
  // A rectangle 3 m wide with a flat flood plain 1 m up: 5 m2 over the bank's 3 m2 stands
  // (5 - 3) / 3 m over the bank.
  const section_depth flat = compound_from_area(compound(3.0, 0.0, 1.0, 0.0), 5.0);
  EXPECT_NEAR(flat.depth, 1.0 + 2.0 / 3.0, 1e-14);
}

// A flood plain whose (negative) slope closes it below the water: no depth holds the area.
TEST(SectionKernels, CompoundFromAreaRefusesWhatHasNoRoot) {
  const section_depth d = compound_from_area(compound(1.0, 0.0, 1.0, -2.0), 3.0);
  EXPECT_EQ(d.fault, section_fault::root_above_bank);
  EXPECT_EQ(d.depth, 0.0);
}

TEST(SectionKernels, VShapedBreakpointTableAgainstItsClosedForm) {
  const double z = 2.0;
  const v_table t = v_section(z, 0.1, 20);  // 2 m deep in 20 levels
  bool exceeded = false;
  // At the levels the table gives the closed form.
  for (int k = 1; k <= 20; ++k) {
    const double d = k * 0.1;
    const section_properties p = table_from_depth(t.view(), d, exceeded);
    EXPECT_NEAR(p.area, z * d * d, 1e-12);
    EXPECT_NEAR(p.topw, 2.0 * z * d, 1e-12);  // one island: the width grows with the level
  }
  EXPECT_FALSE(exceeded);  // the top level itself is inside the table
  // Between levels: linear in depth, the conveyance slope of the interval.
  const section_properties mid = table_from_depth(t.view(), 0.55, exceeded);
  EXPECT_NEAR(mid.area, 0.5 * (z * 0.25 + z * 0.36), 1e-12);
  EXPECT_NEAR(mid.dconv, (t.conv[6] - t.conv[5]) / 0.1, 1e-9);
  // Below the first level: the 5/3 law of the first level.
  const section_properties low = table_from_depth(t.view(), 0.05, exceeded);
  EXPECT_NEAR(low.area, t.area[1] * std::pow(0.5, 5.0 / 3.0), 1e-14);
  EXPECT_NEAR(low.conv, t.conv[1] * std::pow(0.5, 5.0 / 3.0), 1e-14);
  EXPECT_FALSE(exceeded);
  // Above the top: the top interval extended, and the flag set.
  const section_properties high = table_from_depth(t.view(), 2.3, exceeded);
  EXPECT_NEAR(high.area, t.area[20] + 3.0 * (t.area[20] - t.area[19]), 1e-12);
  EXPECT_TRUE(exceeded);
}

TEST(SectionKernels, BreakpointDepthFromAreaAndBackToRoundOff) {
  for (int levels : {1, 2, 20}) {
    const v_table t = v_section(1.5, 0.25, levels);
    for (double y = 1e-4; y < levels * 0.25 * 1.8; y *= 1.21) {
      SCOPED_TRACE("levels " + std::to_string(levels) + " y " + std::to_string(y));
      bool up = false;
      bool down = false;
      const section_properties p = table_from_depth(t.view(), y, up);
      const section_depth d = table_from_area(t.view(), p.area, down);
      EXPECT_NEAR(d.depth, y, 1e-12 * (1.0 + y));
      EXPECT_NEAR(d.conv, p.conv, 1e-11 * (1.0 + p.conv));
      EXPECT_EQ(up, down);
    }
  }
  bool exceeded = false;
  const section_depth empty = table_from_area(v_section(1.5, 0.25, 4).view(), 0.0, exceeded);
  EXPECT_EQ(empty.depth, 0.0);
  EXPECT_EQ(empty.conv, 0.0);
}

// A small network in the channel record: link 1 trapezoidal (2 nodes), link 2 a compound
// trapezoid (2 nodes), link 3 a V-shaped break-point link (3 nodes, one table).
class ExSectionTest : public testing::Test {
 protected:
  void SetUp() override {
    ms_ = std::make_unique<model_state>();
    channel_state& ch = ms_->channel;
    ch.chan_link_count = 3;
    ch.ltype.allocate(3);
    ch.nx.allocate(3);
    ch.link_inv_n.allocate(3);
    const int nodes[] = {0, 2, 2, 3};
    const int kinds[] = {0, 4, 16, 8};
    for (int l = 1; l <= 3; ++l) {
      ch.ltype[l] = kinds[l];
      ch.nx[l] = nodes[l];
      ch.link_inv_n[l] = inv_n;
    }
    for (auto* a : {&ch.bottom, &ch.sslope, &ch.sslope2, &ch.bankfull_dep, &ch.yp, &ch.bel,
                    &ch.area, &ch.chan_depth, &ch.topw, &ch.conv, &ch.dconv})
      ASSERT_TRUE(a->allocate(3, nodes));
    ASSERT_TRUE(ch.table_num.allocate(3, nodes));
    for (int node = 1; node <= 2; ++node) {
      ch.bottom(1, node) = 3.0;
      ch.sslope(1, node) = 2.0;
      ch.bottom(2, node) = 2.0;
      ch.sslope(2, node) = 1.0;
      ch.bankfull_dep(2, node) = 1.0;
      ch.sslope2(2, node) = 4.0;
    }
    table_ = v_section(2.0, 0.1, 20);
    ch.num_xsec_tables = 1;
    ch.ht_spc.allocate(1);
    ch.numhts.allocate(1);
    ch.ht_spc[1] = 0.1;
    ch.numhts[1] = 20;
    const int levels[] = {0, 20};
    for (auto* a : {&ch.xarea, &ch.xtw, &ch.xk}) ASSERT_TRUE(a->allocate(1, levels));
    for (int k = 0; k <= 20; ++k) {
      ch.xarea(1, k) = table_.area[k];
      ch.xtw(1, k) = table_.topw[k];
      ch.xk(1, k) = table_.conv[k];
    }
    for (int node = 1; node <= 3; ++node) ch.table_num(3, node) = 1;
    for (int l = 1; l <= 3; ++l)
      for (int node = 1; node <= nodes[l]; ++node) {
        ch.bel(l, node) = 100.0 - l - 0.1 * node;
        ch.yp(l, node) = ch.bel(l, node) + 0.3 * node;
      }
  }

  process_state_guard guard_;
  std::unique_ptr<model_state> ms_;
  v_table table_;
};

TEST_F(ExSectionTest, FromStageThenFromAreaGivesTheLevelsBack) {
  channel_state& ch = ms_->channel;
  ex_section(*ms_, 2);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_NEAR(ch.area(1, 2), trapezoid_closed(3.0, 2.0, 0.6).area, 1e-12);
  EXPECT_NEAR(ch.topw(2, 1), 2.0 + 2.0 * 0.3, 1e-12);
  EXPECT_NEAR(ch.area(3, 3), 2.0 * 0.9 * 0.9, 1e-12);
  EXPECT_EQ(ch.xsec_table_exceeded, 0);
  // Forget the levels, then take them back from the areas.
  std::vector<double> levels;
  for (int l = 1; l <= 3; ++l)
    for (int node = 1; node <= ch.nx[l]; ++node) {
      levels.push_back(ch.yp(l, node));
      ch.yp(l, node) = 0.0;
    }
  ex_section(*ms_, 1);
  std::size_t i = 0;
  for (int l = 1; l <= 3; ++l)
    for (int node = 1; node <= ch.nx[l]; ++node, ++i) {
      EXPECT_NEAR(ch.yp(l, node), levels[i], 1e-12);
      EXPECT_NEAR(ch.chan_depth(l, node), 0.3 * node, 1e-12);
    }
  // Another mode changes nothing.
  ch.yp(1, 1) = -7.0;
  ex_section(*ms_, 3);
  EXPECT_EQ(ch.yp(1, 1), -7.0);
  EXPECT_EQ(run_error.error_code, 0);
}

TEST_F(ExSectionTest, BreakpointWaterAboveItsTableSetsTheFlag) {
  channel_state& ch = ms_->channel;
  ch.yp(3, 2) = ch.bel(3, 2) + 2.5;
  ex_section(*ms_, 2);
  EXPECT_EQ(ch.xsec_table_exceeded, 1);
  ch.xsec_table_exceeded = 0;
  ex_section(*ms_, 1);  // the same area read back lies above the table too
  EXPECT_EQ(ch.xsec_table_exceeded, 1);
  EXPECT_NEAR(ch.chan_depth(3, 2), 2.5, 1e-12);
}

TEST_F(ExSectionTest, TinyNegativeTrapezoidAreaIsAnEmptyChannel) {
  channel_state& ch = ms_->channel;
  ex_section(*ms_, 2);
  ch.area(1, 1) = -0.00005;
  ex_section(*ms_, 1);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ch.area(1, 1), 0.0);
  EXPECT_EQ(ch.chan_depth(1, 1), 0.0);
  EXPECT_EQ(ch.yp(1, 1), ch.bel(1, 1));
  EXPECT_EQ(ch.conv(1, 1), 0.0);
}

// Each fault prints its lines, stops the run, and leaves the nodes after it as they were.
TEST_F(ExSectionTest, FaultsPrintTheirMessageAndLeaveTheRestAlone) {
  struct fault_case {
    const char* name;
    int mode, link, node;
    double value;  // the node's depth (mode 2) or area (mode 1)
    const char* message;
  };
  const fault_case cases[] = {
      {"trapezoid depth", 2, 1, 2, -0.2,
       "In ex_section - 1\nprogram stopped for negative depth, node 2, link 1\n"},
      {"compound depth", 2, 2, 1, -0.2,
       "In ex_section - 4\nprogram stopped for negative depth, node 1, link 2\n"},
      {"break-point depth", 2, 3, 2, -0.2,
       "In ex_section - 3\nprogram stopped for negative depth, node 2, link 3\n"},
      {"trapezoid area", 1, 1, 2, -0.0001,
       "In ex_section - 1\nprogram stopped for negative area, node 2, link 1\n"},
      {"compound area", 1, 2, 1, -1.0,
       "In ex_section - 5\nstopped for negative area, node 1, link 2\n"},
      {"break-point area", 1, 3, 2, -1.0,
       "In ex_section - 4\nprogram stopped for negative area, node 2, link 3\n"},
  };
  for (const fault_case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    guard_.reset();
    channel_state& ch = ms_->channel;
    ex_section(*ms_, 2);
    if (c.mode == 2)
      ch.yp(c.link, c.node) = ch.bel(c.link, c.node) + c.value;
    else
      ch.area(c.link, c.node) = c.value;
    const double later = 1234.5;
    ch.conv(3, 3) = later;
    ch.yp(3, 3) = ch.bel(3, 3) + 0.5;
    if (c.mode == 1) ch.area(3, 3) = 0.7;
    stdout_capture out;
    ex_section(*ms_, c.mode);
    const std::string text = out.stop();
    EXPECT_TRUE(contains(text, c.message)) << text;
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_EQ(ch.conv(3, 3), later);  // the last node of the last link was not reached
  }
}

// The exchange steps recompute the one node they change; the rest of the network is untouched.
TEST_F(ExSectionTest, PerNodeFormsChangeOnlyTheirNode) {
  channel_state& ch = ms_->channel;
  ex_section(*ms_, 2);
  const double before_conv = ch.conv(3, 3);
  const double before_area = ch.area(1, 1);
  ch.yp(3, 2) = ch.bel(3, 2) + 1.0;
  ASSERT_TRUE(section_from_stage(*ms_, 3, 2));
  EXPECT_NEAR(ch.area(3, 2), 2.0 * 1.0 * 1.0, 1e-12);
  ch.area(2, 2) = 6.0;  // half a metre over the bank of the compound section
  ASSERT_TRUE(section_from_area(*ms_, 2, 2));
  EXPECT_NEAR(ch.chan_depth(2, 2), 1.5, 1e-12);
  EXPECT_EQ(ch.conv(3, 3), before_conv);
  EXPECT_EQ(ch.area(1, 1), before_area);
  ch.area(2, 1) = -1.0;
  stdout_capture out;
  EXPECT_FALSE(section_from_area(*ms_, 2, 1));
  out.stop();
  EXPECT_EQ(run_error.error_fatal, 1);
}

TEST_F(ExSectionTest, ANodeNamingNoTableStopsTheRun) {
  ms_->channel.table_num(3, 2) = 2;  // the network has one table
  testing::internal::CaptureStderr();
  stdout_capture out;
  ex_section(*ms_, 2);
  out.stop();
  EXPECT_TRUE(contains(testing::internal::GetCapturedStderr(),
                       "Error in section: Request for table beyond max. table number.\n"));
  EXPECT_EQ(run_error.error_fatal, 1);
}

}  // namespace sections_tests
