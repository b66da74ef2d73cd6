// Section hydraulics of the pipes: the geometry of circular, arch and box sections, and their
// critical and normal depths against the closed-form relations Q^2 / g = A^3 / T and Manning's
// Q = A R^(2/3) S^(1/2) / n evaluated by hand at known depths.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "channel/pipe/pipe_sections.h"

namespace pipe_sections_tests {

constexpr double pi = 3.14159265358979323846;

struct section {
  double A, P, T;
};

section props(int type, double D, double y, double W) {
  section s{-1.0, -1.0, -1.0};
  superlink_xsec_props(D, y, W, type, s.A, s.P, s.T);
  return s;
}

TEST(PipeSections, AreaPerimeterAndTopWidthOfTheThreeSections) {
  // Half-full circle: theta = pi / 2.
  section s = props(pipe_circular, 1.2, 0.6, 0.0);
  EXPECT_NEAR(s.A, pi / 8.0 * 1.44, 1e-12);
  EXPECT_NEAR(s.P, pi / 2.0 * 1.2, 1e-12);
  EXPECT_NEAR(s.T, 1.2, 1e-12);
  // A quarter-depth circle, by hand: theta = acos(1/2) = pi/3.
  s = props(pipe_circular, 2.0, 0.5, 0.0);
  EXPECT_NEAR(s.A, pi / 3.0 - 0.5 * std::sin(pi / 3.0), 1e-12);
  EXPECT_NEAR(s.T, 2.0 * std::sin(pi / 3.0), 1e-12);
  // Full circle and box: no top width; the box's perimeter closes over the top.
  s = props(pipe_circular, 1.0, 1.0, 0.0);
  EXPECT_DOUBLE_EQ(s.A, 3.1415926 * 0.25);
  EXPECT_DOUBLE_EQ(s.P, 3.1415926);
  EXPECT_DOUBLE_EQ(s.T, 0.0);
  s = props(pipe_box, 0.5, 0.3, 0.8);
  EXPECT_DOUBLE_EQ(s.A, 0.24);
  EXPECT_DOUBLE_EQ(s.P, 1.4);
  EXPECT_DOUBLE_EQ(s.T, 0.8);
  s = props(pipe_box, 0.5, 0.7, 0.8);
  EXPECT_DOUBLE_EQ(s.A, 0.4);
  EXPECT_DOUBLE_EQ(s.P, 2.6);
  EXPECT_DOUBLE_EQ(s.T, 0.0);
  s = props(pipe_box, 0.5, -0.1, 0.8);
  EXPECT_EQ(s.A, 0.0);
  EXPECT_EQ(s.P, 0.8);
  EXPECT_EQ(s.T, 0.8);
  s = props(pipe_circular, 0.5, -0.1, 0.0);
  EXPECT_EQ(s.A + s.P + s.T, 0.0);
  // Arch: nothing at depth 0, the relative depth capped at 1, area growing with depth.
  s = props(pipe_arch, 1.0, 0.0, 1.5);
  EXPECT_EQ(s.A, 0.0);
  const section full = props(pipe_arch, 1.0, 1.0, 1.5);
  const section above = props(pipe_arch, 1.0, 2.0, 1.5);
  EXPECT_EQ(full.A, above.A);
  EXPECT_NEAR(full.A, (0.450552317 + 0.850625935 - 0.0265118802 - 0.48046422) * 1.5, 1e-12);
  EXPECT_LT(props(pipe_arch, 1.0, 0.4, 1.5).A, props(pipe_arch, 1.0, 0.6, 1.5).A);
  // The area routine: the circle's segment, the box without a cap.
  EXPECT_NEAR(superlink_xsec_area(pipe_circular, 1.2, 0.0, 0.6), pi / 8.0 * 1.44, 1e-12);
  EXPECT_DOUBLE_EQ(superlink_xsec_area(pipe_box, 0.5, 0.8, 0.7), 0.56);
}

TEST(PipeSections, CriticalDepthSatisfiesTheCriticalFlowRelation) {
  const double g = 9.81;
  // Box: the closed form yc = ((Q/W)^2/g)^(1/3); Q = 1, W = 1 gives about 0.4671 m.
  double yc = -1.0;
  ASSERT_EQ(superlink_crit_calc(pipe_box, 2.0, 1.0, 1.0, yc), 0);
  EXPECT_NEAR(yc, std::cbrt(1.0 / g), 1e-10);
  EXPECT_NEAR(yc, 0.4671, 1e-4);
  // Circle and arch: the flow whose critical depth is y, from Q = sqrt(g A^3 / T) at y.
  for (int type : {pipe_circular, pipe_arch}) {
    for (double rel : {0.15, 0.5, 0.8}) {
      const double D = 0.9, W = 1.2, y = rel * D;
      const section s = props(type, D, y, W);
      const double Q = std::sqrt(g * s.A * s.A * s.A / s.T);
      yc = -1.0;
      ASSERT_EQ(superlink_crit_calc(type, D, W, -Q, yc), 0) << type << " " << rel;
      EXPECT_NEAR(yc, y, 1e-6 * D) << type << " " << rel;
    }
  }
}

TEST(PipeSections, NormalDepthCarriesTheFlowByManning) {
  struct normal_case {
    int type;
    double D, W, n, S, rel;
  };
  const std::vector<normal_case> cases = {
      {pipe_circular, 1.0, 0.0, 0.013, 0.001, 0.3}, {pipe_circular, 1.0, 0.0, 0.013, 0.001, 0.5},
      {pipe_circular, 0.6, 0.0, 0.011, 0.02, 0.85}, {pipe_box, 1.0, 2.0, 0.015, 0.004, 0.25},
      {pipe_box, 0.8, 0.6, 0.013, 0.0005, 0.7},     {pipe_arch, 1.0, 1.5, 0.013, 0.002, 0.4}};
  for (const normal_case& k : cases) {
    const double y = k.rel * k.D;
    const section s = props(k.type, k.D, y, k.W);
    const double Q = s.A * std::pow(s.A / s.P, 2.0 / 3.0) * std::sqrt(k.S) / k.n;
    double yn = -1.0;
    ASSERT_EQ(superlink_norm_calc(k.type, k.D, k.W, k.n, Q, -k.S, yn), 0) << k.type;
    EXPECT_NEAR(yn, y, 1e-6 * k.D) << k.type << " " << k.rel;
  }
  // The box by hand: W = 2, y = 0.5: A = 1, P = 3, Q = (1/3)^(2/3) sqrt(0.004) / 0.015.
  double yn = -1.0;
  ASSERT_EQ(
      superlink_norm_calc(pipe_box, 1.0, 2.0, 0.015,
                          std::pow(1.0 / 3.0, 2.0 / 3.0) * std::sqrt(0.004) / 0.015, 0.004, yn),
      0);
  EXPECT_NEAR(yn, 0.5, 1e-7);
  // More than the full pipe carries: the pipe runs full.
  yn = -1.0;
  ASSERT_EQ(superlink_norm_calc(pipe_circular, 0.5, 0.0, 0.013, 5.0, 0.001, yn), 0);
  EXPECT_EQ(yn, 0.5);
}

}  // namespace pipe_sections_tests
