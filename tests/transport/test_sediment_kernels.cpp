// Cell-level physics of overland erosion against hand computations: the viscosity of water, the
// settling velocity of quartz spheres, the median of a mixture, the six capacity forms, rain
// splash and flow detachment, with the edge cases that decide what a cell loses.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "transport/sediment_kernels.h"

namespace {

// One cell with n classes: vol and fract rows 0..n of five slots each, eroded 0..n.
struct test_cell {
  int n;
  std::vector<std::vector<double>> vol_rows, fract_rows;
  std::vector<double*> vol_ptr, fract_ptr;
  std::vector<double> eroded;
  explicit test_cell(int classes)
      : n(classes),
        vol_rows(classes + 1, std::vector<double>(5, 0.0)),
        fract_rows(classes + 1, std::vector<double>(5, 0.0)),
        eroded(classes + 1, 0.0) {
    for (int k = 0; k <= n; ++k) {
      vol_ptr.push_back(vol_rows[k].data());
      fract_ptr.push_back(fract_rows[k].data());
    }
  }
  cell_sediment view() { return {n, vol_ptr.data(), fract_ptr.data(), eroded.data()}; }
  double& vol(int k, int slot) { return vol_rows[k][slot]; }
  double& fract(int k, int slot) { return fract_rows[k][slot]; }
};

constexpr double g = 9.81;

TEST(SedimentKernels, ViscosityOfWater) {
  EXPECT_NEAR(kinematic_viscosity(20.0), 1.0e-6, 2e-9);
  // Colder water is more viscous; below freezing it is taken at 0 degrees.
  EXPECT_GT(kinematic_viscosity(5.0), kinematic_viscosity(20.0));
  EXPECT_EQ(kinematic_viscosity(-5.0), kinematic_viscosity(0.0));
  EXPECT_NEAR(kinematic_viscosity(0.0), 1.79e-6, 0.02e-6);  // tabled value of water at 0 C
}

TEST(SedimentKernels, SettlingVelocityOfQuartzSpheres) {
  const double nu = 1.0e-6, s = 2.65;
  struct {
    double diam_mm;
    double expected;  // m/s, by hand
  } cases[] = {
      // Stokes: (s - 1) g d^2 / (18 nu), d = 5e-5 m: 1.65 x 9.81 x 2.5e-9 / 1.8e-5.
      {0.05, 1.65 * 9.81 * 2.5e-9 / 1.8e-5},
      // 0.1 mm is still Stokes: 1.65 x 9.81 x 1e-8 / 1.8e-5 = 0.0089925.
      {0.1, 0.0089925},
      // 0.5 mm: D* = (1.65 x 9.81 / 1e-12)^(1/3) x 5e-4 = 25296.0 x 5e-4 = 12.6480, D*^3 =
      // 2023.35, sqrt(1 + 28.1246) - 1 = 4.39672, x 8 x 1e-6 / 5e-4 = 0.0703475.
      {0.5, 0.0703475},
      // 2 mm: D* = 50.5920, D*^3 = 129494, sqrt(1 + 1799.97) - 1 = 41.4378, x 8e-6 / 2e-3.
      {2.0, 0.165751},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(settling_velocity(s, c.diam_mm, nu), c.expected, 2e-5 * c.expected)
        << c.diam_mm << " mm";
  // The two forms meet near 0.1 mm: no jump of more than a few percent at the switch.
  const double below = settling_velocity(s, 0.1, nu), above = settling_velocity(s, 0.1001, nu);
  EXPECT_NEAR(above / below, 1.0, 0.05);
}

TEST(SedimentKernels, MedianDiameterOfAMixture) {
  const double diam[4] = {0.0, 0.01, 0.1, 1.0};  // mm, finest first
  const double grav[4] = {0.0, 2.65, 2.65, 2.65};
  const sediment_class_data classes{3, diam, grav};
  struct {
    double f1, f2, f3;
    double expected_um;
  } cases[] = {
      // Half lies in class 3 and above: the half-way point is the coarsest class's boundary.
      {0.2, 0.3, 0.5, 1000.0},
      // 0.4 coarser than class 2, which brings the sum to 0.7: 0.1 of its 0.3 crosses the half,
      // a third of the way from 1 mm down to 0.1 mm on the logarithm: 10^(3 - 1/3) um.
      {0.3, 0.3, 0.4, std::pow(10.0, 3.0 - 1.0 / 3.0)},
      // 0.4 coarser than class 1 (0.2 + 0.2), class 1 brings 0.6: 0.1 / 0.6 of the way from 0.1
      // mm to 0.01 mm: 10^(2 - 1/6) um.
      {0.6, 0.2, 0.2, std::pow(10.0, 2.0 - 1.0 / 6.0)},
      // The coarsest class alone holds more than half.
      {0.1, 0.1, 0.8, 1000.0},
  };
  // The same classes with their logarithms worked out once give the same bits.
  double log_diam[4] = {}, log_step[4] = {};
  sediment_class_logs(3, diam, log_diam, log_step);
  const sediment_class_data with_logs{3, diam, grav, log_diam, log_step};
  for (const auto& c : cases) {
    test_cell cell(3);
    cell.fract(1, 1) = c.f1, cell.fract(2, 1) = c.f2, cell.fract(3, 1) = c.f3;
    const double median = median_diameter(cell.view(), classes);
    EXPECT_NEAR(median, c.expected_um, 1e-9 * c.expected_um) << c.f1 << " " << c.f2 << " " << c.f3;
    EXPECT_EQ(median_diameter(cell.view(), with_logs), median)
        << c.f1 << " " << c.f2 << " " << c.f3;
  }
  // Suspended sediment, when there is any, decides over the soil: all of it in class 1, whose
  // half-way point lies half way between 0.01 and 0.1 mm on the logarithm, 10^1.5 um.
  test_cell cell(3);
  cell.fract(3, 1) = 1.0;
  cell.vol(1, 2) = 1e-3;
  EXPECT_NEAR(median_diameter(cell.view(), classes), std::pow(10.0, 1.5), 1e-9);
  EXPECT_EQ(cell.fract(1, 2), 1.0);
}

TEST(SedimentKernels, EveryCapacityFormAgainstHand) {
  // One class of 0.2 mm quartz as the soil, flow 5 cm deep at 0.05 m/s down a 2 % slope on a
  // cell of 10 m over 10 s.
  const double diam[2] = {0.0, 0.2}, grav[2] = {0.0, 2.65};
  const sediment_class_data classes{1, diam, grav};
  const double h = 0.05, q = 0.0025, s = 0.02, dt = 10.0, dx = 10.0, k = 0.5;
  const double v = q / h, f = dt * dx / 2645.23, d_um = 200.0;
  const double w = v * s * 100.0;                                  // cm/s
  const double pe = std::pow(1000.0 * 9792.342 * h * s * v, 1.5);  // stream power^1.5
  const double u = std::sqrt(9792.342 * h * s / 998.2) * 100.0;    // cm/s
  const double qc = q * 10000.0;                                   // cm2/s
  const double expected[7] = {
      0.0,
      // 1: sed_K dt dx 0.05 V^2 (h S)^1.5 / ((s - 1)^2 d g^0.5)
      k * dt * dx * 0.05 * v * v * std::pow(h * s, 1.5) / (1.65 * 1.65 * 2e-4 * std::sqrt(g)),
      // 2
      1.7e8 * std::pow(s, 1.6667) * std::pow(q, 2.035) * k * f,
      // 3, D >= 122
      0.316227766 * std::pow(w, 2.59) * std::pow(d_um, -0.39) / 10.0 * f,
      // 4, D >= 122, brought to the step's volume by the same factor as the others
      4.6e-7 * std::pow(pe, 1.75) * std::pow(d_um, -0.56) / 10.0 * f,
      // 5, 190 and above
      20.41738 * std::pow(s, 2.81) * std::pow(qc, 3.1) / 10.0 * f,
      // 6, above 190: uc 1.8, c 0.0092, m 5.06
      0.0092 * std::pow(u - 1.8, 5.06) / 10.0 * f,
  };
  ASSERT_GT(u, 1.8);
  for (int method = 1; method <= 6; ++method) {
    test_cell cell(1);
    cell.fract(1, 1) = 1.0;
    const double c = sed_transport_capacity(method, s, h, q, dt, dx, cell.view(), classes, k);
    EXPECT_NEAR(c, expected[method], 1e-12 * expected[method]) << "form " << method;
    EXPECT_GT(c, 0.0) << "form " << method;
    // Every form gives a volume in the step: twice the step carries twice the volume.
    test_cell again(1);
    again.fract(1, 1) = 1.0;
    EXPECT_NEAR(sed_transport_capacity(method, s, h, q, 2.0 * dt, dx, again.view(), classes, k),
                2.0 * c, 1e-12 * c)
        << "form " << method;
    // No water or no flow, no capacity.
    EXPECT_EQ(sed_transport_capacity(method, s, 0.0, q, dt, dx, cell.view(), classes, k), 0.0);
    EXPECT_EQ(sed_transport_capacity(method, s, h, 0.0, dt, dx, cell.view(), classes, k), 0.0);
  }
  test_cell cell(1);
  cell.fract(1, 1) = 1.0;
  EXPECT_EQ(sed_transport_capacity(7, s, h, q, dt, dx, cell.view(), classes, k), q);
  // Form 6 below its critical shear velocity carries nothing: 1 mm of water on a 0.1 % slope.
  EXPECT_EQ(sed_transport_capacity(6, 0.001, 0.001, 1e-5, dt, dx, cell.view(), classes, k), 0.0);
}

// Forms 3 and 4 raise the median diameter to a power: over the mixtures of the median's table
// (a median between two classes, at the coarsest class, fractions short of a half) and on both
// sides of the 122 um switch, each against its hand formula on the median itself.
TEST(SedimentKernels, StreamPowerFormsFollowTheMedianOfEveryMixture) {
  const double diam[4] = {0.0, 0.01, 0.1, 1.0}, grav[4] = {0.0, 2.65, 2.65, 2.65};
  double log_diam[4] = {}, log_step[4] = {};
  sediment_class_logs(3, diam, log_diam, log_step);
  const double h = 0.05, q = 0.0025, s = 0.02, dt = 10.0, dx = 10.0;
  const double v = q / h, f = dt * dx / 2645.23, w = v * s * 100.0;
  const double p = 1000.0 * 9792.342 * h * s * v;
  struct mixture {
    double f1, f2, f3;
  };
  // Medians: 1000 um, 10^(8/3) um, 10^(11/6) um (below 122), 1000 um, and 10 um (the finest
  // class when the fractions never reach a half).
  for (const mixture& m : {mixture{0.2, 0.3, 0.5}, mixture{0.3, 0.3, 0.4}, mixture{0.6, 0.2, 0.2},
                           mixture{0.1, 0.1, 0.8}, mixture{0.1, 0.1, 0.1}}) {
    for (const bool with_logs : {false, true}) {
      const sediment_class_data classes =
          with_logs ? sediment_class_data{3, diam, grav, log_diam, log_step}
                    : sediment_class_data{3, diam, grav};
      test_cell cell(3);
      cell.fract(1, 1) = m.f1, cell.fract(2, 1) = m.f2, cell.fract(3, 1) = m.f3;
      const double d = median_diameter(cell.view(), classes);
      const double form3 = d >= 122.0 ? 0.316227766 * std::pow(w, 2.59) * std::pow(d, -0.39)
                                      : 0.006025596 * std::pow(w, 1.52) * std::pow(d, 0.59);
      const double pe = std::pow(p, 1.5);
      const double form4 = d >= 122.0 ? 4.6e-7 * std::pow(pe, 1.75) * std::pow(d, -0.56)
                                      : 1.977e-6 * std::pow(pe, 1.044) * std::pow(d, 0.478);
      const double c3 = sed_transport_capacity(3, s, h, q, dt, dx, cell.view(), classes, 1.0);
      const double c4 = sed_transport_capacity(4, s, h, q, dt, dx, cell.view(), classes, 1.0);
      EXPECT_NEAR(c3, form3 / 10.0 * f, 1e-13 * c3) << m.f1 << " " << m.f2 << " " << m.f3;
      EXPECT_NEAR(c4, form4 / 10.0 * f, 1e-13 * c4) << m.f1 << " " << m.f2 << " " << m.f3;
    }
  }
}

TEST(SedimentKernels, SplashDampingLooseDepositFirstAndChannelCells) {
  const double r = 50.0, dt = 10.0, dx = 10.0, k = 60.0, a = 6.12e-8, b = 1.4242;
  const double drop = 0.00124 * std::pow(r, 0.182);
  const double undamped = k * a * std::pow(r, b) * dt * dx * dx / 2645.23;
  struct {
    double h;
    double factor;
  } depths[] = {{0.0, 1.0}, {0.5 * drop, 1.0}, {2.0 * drop, std::exp(-1.0)}};
  for (const auto& d : depths) {
    test_cell cell(2);
    cell.fract(1, 1) = 0.25, cell.fract(2, 1) = 0.75;
    sed_splash_detach(cell.view(), r, d.h, dt, dx, k, a, b, false);
    const double ds = undamped * d.factor;
    EXPECT_NEAR(cell.vol(1, 2), 0.25 * ds, 1e-12 * ds) << d.h;
    EXPECT_NEAR(cell.vol(2, 2), 0.75 * ds, 1e-12 * ds) << d.h;
    EXPECT_NEAR(cell.vol(1, 1) + cell.vol(2, 1), -ds, 1e-12 * ds) << d.h;
    EXPECT_NEAR(cell.eroded[0], ds, 1e-12 * ds) << d.h;
  }
  // A loose deposit larger than the splash gives the splash, in its own proportions, and the
  // soil keeps everything.
  test_cell loose(2);
  loose.fract(1, 1) = 0.5, loose.fract(2, 1) = 0.5;
  loose.vol(1, 3) = 3.0 * undamped, loose.vol(2, 3) = 1.0 * undamped;
  sed_splash_detach(loose.view(), r, 0.0, dt, dx, k, a, b, false);
  EXPECT_NEAR(loose.vol(1, 2), 0.75 * undamped, 1e-12 * undamped);
  EXPECT_NEAR(loose.vol(2, 2), 0.25 * undamped, 1e-12 * undamped);
  EXPECT_EQ(loose.vol(1, 1), 0.0);
  // A channel cell with too little loose deposit gives nothing from its soil.
  test_cell channel(1);
  channel.fract(1, 1) = 1.0;
  channel.vol(1, 3) = 0.5 * undamped;
  sed_splash_detach(channel.view(), r, 0.0, dt, dx, k, a, b, true);
  EXPECT_EQ(channel.vol(1, 1), 0.0);
  EXPECT_EQ(channel.vol(1, 2), 0.0);
  EXPECT_EQ(channel.vol(1, 3), 0.5 * undamped);
}

TEST(SedimentKernels, FlowDetachmentFillsOnlyTheRoomUnderCapacity) {
  const double h = 0.05, s = 0.02, dt = 10.0, dx = 10.0, coef = 2e-5, expo = 1.0, crit = 2.0;
  const double tau = 9792.342 * h * s;  // 9.79 Pa
  const double cap = 4e-3;
  // Suspension holds a quarter of the capacity: the room is 3/4.
  test_cell cell(1);
  cell.fract(1, 1) = 1.0;
  cell.vol(1, 2) = 1e-3;
  sed_flow_erode_deposit(cell.view(), s, h, dt, dx, coef, expo, crit, cap, false);
  const double scale = 0.75 * dt * dx * dx / 2645.23;
  EXPECT_NEAR(-cell.vol(1, 1), coef * (tau - crit) * scale, 1e-15);
  EXPECT_NEAR(cell.vol(1, 2), 1e-3 + coef * (tau - crit) * scale, 1e-15);
  // A full capacity detaches nothing.
  test_cell full(1);
  full.fract(1, 1) = 1.0;
  full.vol(1, 2) = cap;
  sed_flow_erode_deposit(full.view(), s, h, dt, dx, coef, expo, crit, cap, false);
  EXPECT_EQ(full.vol(1, 1), 0.0);
  EXPECT_EQ(full.vol(1, 2), cap);
}

}  // namespace

// The share of a lake's wash load that settles in one step: a grain falling at w for dt over the
// lake's surface clears the layer w dt A of the lake's water. Hand figures: 1 mm/s for 10 s over
// 900 m2 clears 9 m3 of a 90 m3 lake (0.1); a step that falls past the mean depth clears it
// all; a lake without water, or a grain that does not fall, settles nothing.
TEST(SedimentKernels, LakeSettlingShareOfAStep) {
  struct {
    double w, dt, area, volume, share;
  } cases[] = {
      {1e-3, 10.0, 900.0, 90.0, 0.1}, {2.5e-4, 60.0, 1800.0, 270.0, 0.1},
      {1e-3, 10.0, 900.0, 9.0, 1.0},  // the fall reaches the mean depth exactly
      {1e-2, 10.0, 900.0, 9.0, 1.0},  // and past it: never more than the lake holds
      {1e-3, 10.0, 900.0, 0.0, 0.0},  // no water
      {0.0, 10.0, 900.0, 90.0, 0.0},  // a grain that does not settle
      {1e-3, 10.0, 0.0, 90.0, 0.0},   // no surface
  };
  for (const auto& c : cases)
    EXPECT_NEAR(lake_settled_fraction(c.w, c.dt, c.area, c.volume), c.share, 1e-15)
        << c.w << " " << c.area << " " << c.volume;
  // Over n steps of a still lake the suspended volume falls as (1 - w dt A / V)^n.
  double held = 2.0;
  for (int n = 0; n < 30; ++n) held -= lake_settled_fraction(1e-3, 10.0, 900.0, 90.0) * held;
  EXPECT_NEAR(held, 2.0 * std::pow(0.9, 30), 1e-14);
}

// Flow area and wetted perimeter of a surveyed section from its depth table (levels every
// 0.5 m, three levels): below the first level the first scaled by (y / dy)^(5/3), between
// levels linear, at a level exactly its value, above the top the top interval extended.
TEST(SedimentKernels, BreakpointAreaAndPerimeterFromTheDepthTable) {
  const double area[] = {0.0, 1.0, 3.0, 6.0};
  const double perim[] = {0.0, 4.0, 6.0, 7.0};
  struct row {
    double y, a, p;
  };
  const double low = std::pow(0.25 / 0.5, 5.0 / 3.0);
  for (const row& r : {row{0.25, 1.0 * low, 4.0 * low}, row{0.5, 1.0, 4.0}, row{0.75, 2.0, 5.0},
                       row{1.5, 6.0, 7.0}, row{2.0, 9.0, 8.0}, row{0.0, 0.0, 0.0}}) {
    double a = -1.0, p = -1.0;
    breakpoint_area_perimeter(area, perim, 0.5, 3, r.y, a, p);
    EXPECT_NEAR(a, r.a, 1e-12) << r.y;
    EXPECT_NEAR(p, r.p, 1e-12) << r.y;
  }
}
