// Culvert hydraulics: the discharge of circular and box barrels under inlet and outlet control
// at several headwaters against the published formulas written out here (circular segment
// geometry, critical flow at the inlet solved by bisection, full-barrel flow with friction and
// entrance losses), the long mild barrel, orifice flow, reverse flow, a missing downstream
// invert, a dry or exactly-at-invert headwater passing nothing, and the failures of the barrel
// length, the root finder and the critical depth.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "channel/culverts.h"
#include "framework/core/error_state.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;

namespace {

const double g = 9.81;
const double pi = 3.14159265358979;

// Circular segment of diameter D filled to depth y, by the central angle t = 2 acos(1 - 2y/D).
double segment_area(double D, double y) {
  const double t = 2.0 * std::acos(1.0 - 2.0 * y / D);
  return D * D / 8.0 * (t - std::sin(t));
}
double segment_top(double D, double y) {
  return D * std::sin(std::acos(1.0 - 2.0 * y / D));
}
double segment_perimeter(double D, double y) {
  return D / 2.0 * 2.0 * std::acos(1.0 - 2.0 * y / D);
}

// Root of f on [lo, hi] by bisection, f(lo) and f(hi) of opposite signs.
double bisect(const std::function<double(double)>& f, double lo, double hi) {
  double flo = f(lo);
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (lo + hi);
    const double fm = f(mid);
    if ((fm < 0.0) == (flo < 0.0)) {
      lo = mid;
      flo = fm;
    } else {
      hi = mid;
    }
  }
  return 0.5 * (lo + hi);
}

// Critical depth of Q in a circular barrel: Q^2 T / (g A^3) = 1.
double circular_critical_depth(double D, double Q) {
  return bisect(
      [&](double y) {
        const double A = segment_area(D, y);
        return Q * Q * segment_top(D, y) / (g * A * A * A) - 1.0;
      },
      1e-9, D * (1.0 - 1e-9));
}

// A short circular barrel under inlet control passes the discharge at which the headwater h
// over the inlet invert is the critical depth plus the velocity head of the critical section,
// Q = Cb A(yc) sqrt(2 g (h - yc)).
double circular_inlet_control(double D, double Cb, double h) {
  return bisect(
      [&](double Q) {
        const double yc = circular_critical_depth(D, Q);
        return Q - Cb * segment_area(D, yc) * std::sqrt(2.0 * g * std::max(h - yc, 0.0));
      },
      1e-6, 50.0);
}

culvert_barrel circular(double D, double length, double zu, double zd) {
  culvert_barrel b;
  b.shape = culvert_circular;
  b.rise = D;
  b.length = length;
  b.upinvert = zu;
  b.downinvert = zd;
  b.inlet_disch_coeff = 0.8;
  b.rev_flow_disch_coeff = 0.6;
  b.rough_coeff = 0.013;
  b.inlet_coeff = 1.07;
  return b;
}

culvert_barrel box(double D, double W, double length, double zu, double zd) {
  culvert_barrel b = circular(D, length, zu, zd);
  b.shape = culvert_box;
  b.span = W;
  return b;
}

TEST(CulvertGeometry, CircularAndBoxSectionsAgainstTheirFormulas) {
  double A = 0, P = 0, T = 0;
  for (double y : {0.1, 0.35, 0.5, 0.8, 0.97}) {
    SCOPED_TRACE(y);
    culv_circ_geometry(1.0, y, 0.0, culvert_circular, A, P, T);
    EXPECT_NEAR(A, segment_area(1.0, y), 1e-12);
    EXPECT_NEAR(P, segment_perimeter(1.0, y), 1e-12);
    EXPECT_NEAR(T, segment_top(1.0, y), 1e-12);
    EXPECT_NEAR(culv_flow_area(culvert_circular, 1.0, 0.0, y), segment_area(1.0, y), 1e-12);
  }
  culv_circ_geometry(1.0, 0.5, 0.0, culvert_circular, A, P, T);
  EXPECT_NEAR(A, pi / 8.0, 1e-12);
  culv_circ_geometry(1.0, 1.2, 0.0, culvert_circular, A, P, T);
  EXPECT_NEAR(A, pi / 4.0, 1e-7);
  EXPECT_EQ(T, 0.0);
  culv_circ_geometry(1.0, -0.1, 0.0, culvert_circular, A, P, T);
  EXPECT_EQ(A + P + T, 0.0);

  culv_circ_geometry(1.5, 0.6, 2.0, culvert_box, A, P, T);
  EXPECT_DOUBLE_EQ(A, 1.2);
  EXPECT_DOUBLE_EQ(P, 3.2);
  EXPECT_DOUBLE_EQ(T, 2.0);
  culv_circ_geometry(1.5, 2.0, 2.0, culvert_box, A, P, T);
  EXPECT_DOUBLE_EQ(A, 3.0);
  EXPECT_DOUBLE_EQ(P, 7.0);
  EXPECT_EQ(culv_flow_area(culvert_box, 1.5, 2.0, -0.3), 0.0);
}

TEST(CulvertCriticalDepth, CircularByNewtonBoxByFormulaOvalRefused) {
  process_state_guard guard;
  for (double Q : {0.05, 0.4, 1.0, 2.0}) {
    SCOPED_TRACE(Q);
    double yc = -1.0;
    culv_crit_depth(culvert_circular, 1.2, 0.0, Q, yc);
    EXPECT_NEAR(yc, circular_critical_depth(1.2, Q), 1e-7);
  }
  // Box: unit discharge q = Q / W, yc = (q^2 / g)^(1/3).
  double yc = 0.0;
  culv_crit_depth(culvert_box, 1.5, 2.0, 3.0, yc);
  EXPECT_NEAR(yc, std::cbrt(1.5 * 1.5 / g), 1e-12);
  EXPECT_EQ(run_error.error_code, 0);

  yc = 0.42;
  culv_crit_depth(culvert_oval, 1.0, 1.5, 1.0, yc);
  EXPECT_EQ(run_error.error_code, err_arch_culvert_unsupported);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(yc, 0.42);
}

TEST(CulvertFlow, ShortCircularBarrelUnderInletControlPassesItsCriticalFlow) {
  process_state_guard guard;
  // Steep (S = 0.02), 10 m long, 1 m diameter, free outlet: the inlet controls. The coefficient
  // blends from Cd into Ci as the headwater ratio goes from 0 to 1.5.
  const culvert_barrel b = circular(1.0, 10.0, 100.0, 99.8);
  for (double h : {0.3, 0.6, 0.9, 1.2}) {
    SCOPED_TRACE(h);
    const double r = h / 1.0;
    const double Cb = (1.0 - r / 1.5) * 0.8 + r / 1.5 * 1.07;
    const double expected = circular_inlet_control(1.0, Cb, h);
    stdout_capture out;
    const culvert_flow f = culv_flow(b, 1, 100.0 + h, 98.0);
    out.stop();
    EXPECT_NEAR(f.q, expected, 2e-4);
    EXPECT_EQ(f.flow_type, 1);
    EXPECT_NEAR(f.ref_depth, circular_critical_depth(1.0, f.q), 1e-6);
  }
  EXPECT_EQ(run_error.error_code, 0);
}

TEST(CulvertFlow, BoxBarrelUnderInletControlUsesItsInletCoefficient) {
  // A box 2 m wide and 1.5 m high: critical flow at the inlet, yc = 2h/3, with the inlet
  // coefficient Ci: Q = Ci W yc sqrt(2 g (h - yc)).
  const culvert_barrel b = box(1.5, 2.0, 10.0, 100.0, 99.8);
  for (double h : {0.3, 0.9, 1.5, 2.0}) {
    SCOPED_TRACE(h);
    const double yc = 2.0 * h / 3.0;
    const culvert_flow f = culv_flow(b, 1, 100.0 + h, 98.0);
    EXPECT_NEAR(f.q, 1.07 * 2.0 * yc * std::sqrt(2.0 * g * (h - yc)), 1e-9);
    EXPECT_EQ(f.flow_type, 1);
    EXPECT_NEAR(f.ref_depth, yc, 1e-12);
    EXPECT_NEAR(f.flow_area, yc * 2.0, 1e-12);
  }
  // An oval barrel under the same inlet control passes nothing.
  culvert_barrel oval = b;
  oval.shape = culvert_oval;
  EXPECT_EQ(culv_flow(oval, 1, 100.9, 98.0).q, 0.0);
}

TEST(CulvertFlow, SubmergedOutletFlowsFullWithFrictionAndEntranceLosses) {
  // Mild barrels (S = 0.1 / 30) with both ends under water: the full barrel with the loss
  // coefficient K = 1 + 29 Cd^2 n^2 L / R^(4/3) for barrels over 15 m, K = 1 for shorter ones.
  struct barrel {
    const char* what;
    culvert_barrel b;
    double area, radius;
  };
  const double D = 1.2, W = 2.0;
  const barrel barrels[] = {
      {"circular", circular(1.0, 30.0, 100.0, 99.9), pi / 4.0, 0.25},
      {"box", box(D, W, 30.0, 100.0, 99.9), W * D, W * D / (2.0 * W + 2.0 * D)},
      {"short circular", circular(1.0, 12.0, 100.0, 99.9), pi / 4.0, 0.25},
  };
  struct levels {
    double h1, h2;
  };
  const levels cases[] = {{101.5, 101.2}, {101.9, 101.25}, {102.6, 101.3}};
  for (const barrel& br : barrels) {
    for (const levels& l : cases) {
      SCOPED_TRACE(std::string(br.what) + " at " + std::to_string(l.h1));
      const double n = 0.013, Cd = 0.8, L = br.b.length;
      const double K =
          L > 15.0 ? 1.0 + 29.0 * Cd * Cd * n * n * L / std::pow(br.radius, 4.0 / 3.0) : 1.0;
      const double expected = Cd * br.area * std::sqrt(2.0 * g * (l.h1 - l.h2) / K);
      const culvert_flow f = culv_flow(br.b, 2, l.h1, l.h2);
      EXPECT_NEAR(f.q, expected, 2e-6 * expected);
      EXPECT_EQ(f.flow_type, 4);
    }
  }
}

TEST(CulvertFlow, PartFullOutletControlAndOrificeFlow) {
  const culvert_barrel mild = circular(1.0, 12.0, 100.0, 99.9);
  // The tailwater 0.6 m over the outlet invert sets the flow area; the drop drives the flow.
  culvert_flow f = culv_flow(mild, 3, 100.6, 100.5);
  EXPECT_NEAR(f.q, 0.8 * segment_area(1.0, 0.6) * std::sqrt(2.0 * g * 0.1), 1e-9);
  EXPECT_EQ(f.flow_type, 3);

  // Deep headwater over a free outlet: the barrel flows full to its outlet crown (type 6) when
  // that passes less than the inlet as an orifice.
  f = culv_flow(mild, 3, 101.6, 99.5);
  EXPECT_NEAR(f.q, 0.8 * pi / 4.0 * std::sqrt(2.0 * g * (101.6 - 100.9)), 1e-6);
  EXPECT_EQ(f.flow_type, 6);
  // A steep barrel dropping 2 m: the inlet as an orifice passes less (type 5).
  const culvert_barrel steep = circular(1.0, 12.0, 100.0, 98.0);
  f = culv_flow(steep, 3, 101.6, 97.0);
  EXPECT_NEAR(f.q, 0.8 * pi / 4.0 * std::sqrt(2.0 * g * 1.6), 1e-6);
  EXPECT_EQ(f.flow_type, 5);
}

TEST(CulvertFlow, LongMildBarrelIsControlledByItsFriction) {
  // 100 m of 1 m pipe at S = 0.001: longer than 40 diameters.
  const culvert_barrel b = circular(1.0, 100.0, 100.0, 99.9);
  const double n = 0.013, L = 100.0;
  auto friction = [&](double R) {
    return n * n * L * L / std::pow(R, 4.0 / 3.0) + 1.0 / (2.0 * g);
  };
  // Deep headwater, outlet under water above mid-height: full flow (type 4).
  culvert_flow f = culv_flow(b, 4, 101.8, 100.6);
  EXPECT_NEAR(f.q, pi / 4.0 * std::sqrt(1.2 / friction(0.25)), 1e-5);
  EXPECT_EQ(f.flow_type, 4);
  // Free outlet: the barrel runs part full at half the headwater depth over the inlet (type 2).
  f = culv_flow(b, 4, 100.6, 99.5);
  const double y = 0.3, A = segment_area(1.0, y), R = A / segment_perimeter(1.0, y);
  EXPECT_NEAR(f.q, A * std::sqrt(1.1 / friction(R)), 1e-9);
  EXPECT_EQ(f.flow_type, 2);
}

TEST(CulvertFlow, ReverseFlowEqualLevelsAndADerivedDownstreamInvert) {
  const culvert_barrel b = circular(1.0, 30.0, 100.0, 99.9);
  const culvert_flow forward = culv_flow(b, 5, 101.5, 101.2);
  // Flow from the downstream side: the same barrel with its ends swapped and the reverse
  // coefficient.
  const culvert_flow back = culv_flow(b, 5, 101.2, 101.5);
  EXPECT_LT(back.q, 0.0);
  EXPECT_EQ(back.flow_type, -4);
  const double K = 1.0 + 29.0 * 0.36 * 0.013 * 0.013 * 30.0 / std::pow(0.25, 4.0 / 3.0);
  EXPECT_NEAR(back.q, -0.6 * pi / 4.0 * std::sqrt(2.0 * g * 0.3 / K), 1e-6);
  EXPECT_GT(forward.q, -back.q);
  // Equal levels count as reverse flow and pass nothing.
  const culvert_flow level = culv_flow(b, 5, 101.5, 101.5);
  EXPECT_EQ(level.q, 0.0);
  EXPECT_EQ(level.flow_type, -4);
  // No downstream invert given: it follows from the slope, zd = 100 - 30 x 0.1 / 30.
  culvert_barrel by_slope = b;
  by_slope.downinvert = 0.0;
  by_slope.slope = 0.1 / 30.0;
  EXPECT_NEAR(culv_flow(by_slope, 5, 101.5, 101.2).q, forward.q, 1e-9);
}

TEST(CulvertFlow, ADryOrAtInvertHeadwaterPassesNoFlow) {
  process_state_guard guard;
  struct dry {
    const char* what;
    culvert_barrel b;
    double h1, h2;
  };
  const dry cases[] = {
      // A long mild barrel whose headwater stands exactly at its inlet invert used to give the
      // friction formula an empty section, 0/0.
      {"long mild barrel, headwater at the inlet invert", circular(1.0, 100.0, 100.0, 99.9), 100.0,
       99.0},
      {"box at the inlet invert", box(1.0, 2.0, 100.0, 100.0, 99.9), 100.0, 99.0},
      {"short barrel at the inlet invert", circular(1.0, 10.0, 100.0, 99.8), 100.0, 98.0},
      {"both levels below the inverts", circular(1.0, 10.0, 100.0, 99.8), 99.5, 99.0},
      {"reverse, headwater at the downstream invert", circular(1.0, 100.0, 100.0, 99.9), 99.0,
       99.9},
  };
  for (const dry& d : cases) {
    SCOPED_TRACE(d.what);
    const culvert_flow f = culv_flow(d.b, 6, d.h1, d.h2);
    EXPECT_EQ(f.q, 0.0);
    EXPECT_EQ(f.flow_type, 0);
    EXPECT_TRUE(std::isfinite(f.ref_depth) && std::isfinite(f.flow_area));
  }
  EXPECT_EQ(run_error.error_code, 0);
}

TEST(CulvertFlow, ABarrelWithoutLengthAndAnUnbracketedRootFail) {
  process_state_guard guard;
  culvert_barrel b = circular(1.0, 0.0, 100.0, 99.8);
  stdout_capture out;
  const culvert_flow f = culv_flow(b, 7, 101.0, 99.0);
  const std::string text = out.stop();
  EXPECT_EQ(f.q, culvert_failure);
  EXPECT_TRUE(contains(text, "The culvert barrel length\n"));
  EXPECT_TRUE(contains(text, "in culvert number 7 is 0.0.  This is not possible."));

  // Both ends of the bracket above the root: the root finder refuses.
  stdout_capture out2;
  int iterations = 0;
  EXPECT_EQ(zbrent(culvert_circular, 1.0, 0.0, 0.9, 0.5, 5.0, 10.0, 0.0001, iterations),
            culvert_failure);
  EXPECT_TRUE(contains(out2.stop(), "Problem in ZBRENT root finder\nRoot must be bracketed\n"));
  // Bracketed, it converges on the energy balance's root.
  const double q = zbrent(culvert_circular, 1.0, 0.0, 0.9, 0.5, 0.0001, 5.0, 1e-8, iterations);
  EXPECT_NEAR(q, circular_inlet_control(1.0, 0.9, 0.5), 1e-7);
  EXPECT_GT(iterations, 0);
  EXPECT_NEAR(culv_energy_residual(culvert_circular, 1.0, 0.0, 0.9, 0.5, q), 0.0, 1e-7);
}

// A small steep pipe (0.3 m, 30 m, falling 1.25 m) under inlet control with its headwater a
// centimetre or so over the invert: the barrel cannot pass even the root finder's lowest
// discharge, so it passes nothing instead of failing; from a few centimetres of head on it passes
// a discharge that grows with the head, with no failure anywhere between.
TEST(CulvertFlow, AHeadBarelyOverTheInvertPassesNothingRatherThanFailing) {
  process_state_guard guard;
  culvert_barrel b = circular(0.3, 30.0, 103.65, 102.40);
  b.inlet_coeff = 0.99;
  stdout_capture out;
  double previous = 0.0;
  for (int cm = 1; cm <= 30; ++cm) {
    SCOPED_TRACE(cm);
    const culvert_flow f = culv_flow(b, 1, 103.65 + 0.01 * cm + 1e-9, 102.0);
    ASSERT_NE(f.q, culvert_failure);
    EXPECT_GE(f.q, previous);
    EXPECT_TRUE(std::isfinite(f.ref_depth));
    previous = f.q;
  }
  EXPECT_EQ(out.stop().find("Problem in ZBRENT"), std::string::npos);
  EXPECT_EQ(culv_flow(b, 1, 103.66 + 1e-9, 102.0).q, 0.0);
  EXPECT_GT(previous, 0.01);
  EXPECT_EQ(run_error.error_code, 0);
}

}  // namespace
