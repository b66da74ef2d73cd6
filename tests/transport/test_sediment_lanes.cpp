// The water pass of the overland sediment step: its slopes, outflows, settled shares, splash
// volumes and the logarithms of the stream-power water terms against hand computations on a
// small grid, and the
// vector pass against the scalar one, bit for bit, on every instruction set the processor runs,
// over shares of cells that cut the eight-cell chunks anywhere.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/vector_target_loop.h"
#include "transport/sediment_kernels.h"
#include "transport/sediment_lanes.h"

namespace {

// A rows x cols plane of cells numbered row by row (1..rows cols), its connectivity, and the
// pass's arrays; element 0 of every array is the spare one.
struct water_grid {
  int rows, cols, n, classes = 2;
  std::vector<double> depth, elev, flux_x, flux_y, rain, splash_k, slope_x, slope_y, discharge,
      log_cell, log_x, log_y, splash, settling{0.0, 2.3e-4, 0.021};
  std::vector<int> right, below, left, above;
  std::vector<std::vector<double>> share;
  std::vector<double*> share_rows;

  water_grid(int r, int c) : water_grid(r, c, [](int, int) { return true; }) {}

  // The cells of the rows x cols frame that `active(row, col)` keeps, numbered row by row: with
  // holes in it the cells below and above lie at offsets that change along a row.
  template <class Active>
  water_grid(int r, int c, Active active) : rows(r), cols(c), n(0) {
    std::vector<int> number(static_cast<std::size_t>(r) * c, 0);
    for (int row = 0; row < r; ++row)
      for (int col = 0; col < c; ++col)
        if (active(row, col)) number[row * c + col] = ++n;
    for (auto* a : {&depth, &elev, &flux_x, &flux_y, &rain, &splash_k}) a->assign(n + 1, 0.0);
    for (auto* a : {&right, &below, &left, &above}) a->assign(n + 1, 0);
    auto at = [&](int row, int col) {
      return row >= 0 && row < r && col >= 0 && col < c ? number[row * c + col] : 0;
    };
    for (int row = 0; row < r; ++row)
      for (int col = 0; col < c; ++col) {
        const int i = at(row, col);
        if (i == 0) continue;
        right[i] = at(row, col + 1);
        left[i] = at(row, col - 1);
        below[i] = at(row + 1, col);
        above[i] = at(row - 1, col);
      }
    clear_results();
  }

  // Every result starts as a NaN, so a value the pass leaves unwritten shows.
  void clear_results() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (auto* a : {&slope_x, &slope_y, &discharge, &log_cell, &log_x, &log_y, &splash})
      a->assign(n + 1, nan);
    share.assign(classes + 1, std::vector<double>(n + 1, nan));
    share_rows.assign(classes + 1, nullptr);
    for (int k = 0; k <= classes; ++k) share_rows[k] = share[k].data();
  }

  sed_water_view view(int method, int outlet, int drains_y) {
    sed_water_view v;
    v.cell_count = n;
    v.dx = 10.0;
    v.depth = depth.data();
    v.elev = elev.data();
    v.flux_x = flux_x.data();
    v.flux_y = flux_y.data();
    v.right = right.data();
    v.below = below.data();
    v.left = left.data();
    v.above = above.data();
    v.outlet = outlet;
    v.outlet_drains_y = drains_y;
    v.outlet_slope = 0.004;
    v.outlet_q = 0.37;
    v.method = method;
    v.classes = classes;
    v.settling_vel = settling.data();
    v.dt = 5.0;
    v.rain = rain.data();
    v.splash_k = splash_k.data();
    v.splash = splash.data();
    v.slope_x = slope_x.data();
    v.slope_y = slope_y.data();
    v.cell_discharge = discharge.data();
    v.settle_share = share_rows.data();
    v.log_cell = log_cell.data();
    v.log_x = log_x.data();
    v.log_y = log_y.data();
    return v;
  }

  // Every result of cells 1..n, in one list.
  std::vector<double> results() const {
    std::vector<double> all;
    for (const auto* a : {&slope_x, &slope_y, &discharge, &log_cell, &log_x, &log_y, &splash})
      all.insert(all.end(), a->begin() + 1, a->end());
    for (int k = 1; k <= classes; ++k) all.insert(all.end(), share[k].begin() + 1, share[k].end());
    return all;
  }
};

// A 2 x 2 plane of 10 m cells: cell 1 (0.02 m of water) gives 0.3 m3/s to its right and 0.2 to
// the cell below, cell 2 gives 0.05 down, cell 3 is dry, cell 4 holds still water; then the
// right face of cell 1 carries 0.1 back from cell 2. The surfaces fall 0.05 m to the right and
// 0.1 m downwards.
TEST(SedimentWaterPass, SlopesOutflowSettlingAndWaterTermsAgainstHand) {
  water_grid g(2, 2);
  g.depth = {0.0, 0.02, 0.03, 0.0, 0.01};
  const double surface[] = {0.0, 10.0, 9.95, 9.9, 9.85};
  for (int c = 1; c <= 4; ++c) g.elev[c] = surface[c] - g.depth[c];
  g.flux_x = {0.0, 0.3, 0.0, 0.0, 0.0};
  g.flux_y = {0.0, 0.2, 0.05, 0.0, 0.0};
  for (int method : {3, 4}) {
    SCOPED_TRACE(method);
    g.clear_results();
    sed_water_pass_scalar(g.view(method, 0, 0), 1, 4);
    const double dx = 10.0;
    // Slopes: (surface - neighbour's surface) / dx, 0 where there is no neighbour.
    EXPECT_NEAR(g.slope_x[1], 0.005, 1e-15);
    EXPECT_NEAR(g.slope_y[1], 0.01, 1e-15);
    EXPECT_EQ(g.slope_x[2], 0.0);
    EXPECT_NEAR(g.slope_y[2], 0.01, 1e-15);
    EXPECT_NEAR(g.slope_x[3], 0.005, 1e-15);
    EXPECT_EQ(g.slope_y[3], 0.0);
    // Outflow: the root of the sum of the squares of the discharges leaving the cell.
    EXPECT_NEAR(g.discharge[1], std::sqrt(0.09 + 0.04), 1e-15);
    EXPECT_NEAR(g.discharge[2], 0.05, 1e-15);
    EXPECT_EQ(g.discharge[3], 0.0);
    EXPECT_EQ(g.discharge[4], 0.0);
    // Settled share 1 - exp(-dx w / (V h)) with V = Q / (dx h): dry and still cells settle all.
    for (int k = 1; k <= 2; ++k) {
      const double v1 = g.discharge[1] / (dx * 0.02);
      const double hand = 1.0 - std::exp(-dx * g.settling[k] / (v1 * 0.02));
      EXPECT_NEAR(g.share[k][1], hand, 1e-15) << k;
      EXPECT_GT(g.share[k][1], 0.0);
      EXPECT_LT(g.share[k][1], 1.0);
      EXPECT_EQ(g.share[k][3], 1.0) << k;
      EXPECT_EQ(g.share[k][4], 1.0) << k;
    }
    // The water terms: form 3 V S 100 (cm/s), form 4 1000 gamma h S V.
    auto term = [&](double slope, double h, double q) {
      const double v = q / h;
      return method == 3 ? v * slope * 100.0 : 1000.0 * 9792.342 * h * slope * v;
    };
    // On the slopes the pass found (checked above to 1e-15).
    const double s1 = std::sqrt(g.slope_x[1] * g.slope_x[1] + g.slope_y[1] * g.slope_y[1]);
    EXPECT_NEAR(g.log_cell[1], std::log(term(s1, 0.02, g.discharge[1] / dx)), 1e-14);
    EXPECT_NEAR(g.log_x[1], std::log(term(g.slope_x[1], 0.02, 0.3 / dx)), 1e-14);
    EXPECT_NEAR(g.log_y[1], std::log(term(g.slope_y[1], 0.02, 0.2 / dx)), 1e-14);
    EXPECT_NEAR(g.log_y[2], std::log(term(g.slope_y[2], 0.03, 0.05 / dx)), 1e-14);
    // No flow, or no slope: the term is 0, its logarithm -inf (a capacity of 0).
    EXPECT_EQ(g.log_x[2], -std::numeric_limits<double>::infinity());
    EXPECT_EQ(g.log_cell[4], -std::numeric_limits<double>::infinity());
  }
  // Water flowing back across cell 1's right face leaves cell 2: the face takes cell 2's depth.
  g.flux_x[1] = -0.1;
  g.clear_results();
  sed_water_pass_scalar(g.view(3, 0, 0), 1, 4);
  EXPECT_NEAR(g.log_x[1], std::log(0.1 / 10.0 / 0.03 * 0.005 * 100.0), 1e-13);
  EXPECT_NEAR(g.discharge[2], std::sqrt(0.01 + 0.0025), 1e-15);
  // The outlet, cell 4, drains over its right edge at the outlet slope with the outlet's
  // discharge; draining through its lower side it takes them there instead.
  for (int drains_y : {0, 1}) {
    g.clear_results();
    sed_water_pass_scalar(g.view(3, 4, drains_y), 1, 4);
    const double& edge_slope = drains_y ? g.slope_y[4] : g.slope_x[4];
    const double& other_slope = drains_y ? g.slope_x[4] : g.slope_y[4];
    const double& edge_log = drains_y ? g.log_y[4] : g.log_x[4];
    EXPECT_EQ(edge_slope, 0.004) << drains_y;
    EXPECT_EQ(other_slope, 0.0) << drains_y;
    EXPECT_NEAR(edge_log, std::log(0.37 / 10.0 / 0.01 * 0.004 * 100.0), 1e-13) << drains_y;
  }
}

// The splash volume of every rainfall class against the formula written out with the C
// library's powers: the coefficients of the class (taken at its lower limit), the drop
// 0.00124 r^0.182, no damping in water shallower than a drop, e^-1 at two drops, the default
// coefficient 60 where the cell has none; no rain splashes nothing.
TEST(SedimentWaterPass, SplashVolumeOfEveryRainfallClassAgainstHand) {
  struct splash_case {
    double rain, a, b, k;
    double drops;  // depth in drop diameters
    double damping;
  } cases[] = {{4.0, 2.69e-8, 1.6896, 60.0, 0.0, 1.0},
               {10.0, 3.75e-8, 1.5545, 25.0, 0.5, 1.0},
               {50.0, 6.12e-8, 1.4242, 60.0, 2.0, std::exp(-1.0)},
               {99.0, 6.12e-8, 1.4242, 12.0, 1.0, 1.0},
               {100.0, 1.175e-7, 1.2821, 60.0, 3.0, std::exp(-2.0)},
               {0.0, 0.0, 0.0, 60.0, 0.0, 0.0}};
  const int n = static_cast<int>(std::size(cases));
  water_grid g(1, n);
  for (int c = 1; c <= n; ++c) {
    const splash_case& sc = cases[c - 1];
    g.rain[c] = sc.rain;
    g.splash_k[c] = sc.k == 60.0 ? -1.0 : sc.k;
    g.depth[c] = sc.drops * 0.00124 * std::pow(sc.rain, 0.182);
  }
  const double dt = 5.0, dx = 10.0;
  for (int pass = 0; pass < 2; ++pass) {
    g.clear_results();
    if (pass == 0)
      sed_water_pass_scalar(g.view(3, 0, 0), 1, n);
    else
      sed_water_pass_wide(g.view(3, 0, 0), 1, n);
    for (int c = 1; c <= n; ++c) {
      const splash_case& sc = cases[c - 1];
      const double hand =
          sc.damping * sc.k * sc.a * std::pow(sc.rain, sc.b) * dt * dx * dx / 2645.23;
      EXPECT_NEAR(g.splash[c], hand, 1e-13 * hand) << "pass " << pass << " rain " << sc.rain;
      if (sc.rain == 0.0) {
        EXPECT_EQ(g.splash[c], 0.0);
      }
    }
  }
}

// The logarithm the pass takes of a water term, through the special values and the subnormals.
TEST(SedimentWaterPass, LogarithmOfATermOverItsWholeRange) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(sed_log_of_term(0.0), -inf);
  EXPECT_EQ(sed_log_of_term(inf), inf);
  EXPECT_TRUE(std::isnan(sed_log_of_term(-1.0)));
  EXPECT_TRUE(std::isnan(sed_log_of_term(std::numeric_limits<double>::quiet_NaN())));
  for (double x : {1.0, 2.0, 0.37, 1e-300, 3e250, 0x1p-1030, 5e-324, DBL_MIN})
    EXPECT_NEAR(sed_log_of_term(x), std::log(x), 2.5e-16 * std::fabs(std::log(x)) + 1e-300) << x;
  EXPECT_EQ(sed_log_of_term(1.0), 0.0);
}

// The wide pass against the scalar one on grid g (the test below), whose last cell can drain
// over its right or lower edge as the outlet.
void check_twins(water_grid& g) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int c = 1; c <= g.n; ++c) {
    const double u = unit(random);
    g.depth[c] = u < 0.2 ? 0.0 : u < 0.25 ? 1e-17 : 0.05 * unit(random);
    g.elev[c] = 100.0 - 0.01 * c + 0.02 * unit(random);
    g.flux_x[c] = g.right[c] != 0 ? 0.4 * (unit(random) - 0.3) : 0.0;
    g.flux_y[c] = g.below[c] != 0 ? 0.4 * (unit(random) - 0.3) : 0.0;
    // Rain of every class, its limits, none and less than counts; the cell's own splash
    // coefficient or the default.
    const double rains[] = {0.0, 1e-17, 3.0, 10.0, 27.0, 50.0, 80.0, 100.0, 240.0};
    g.rain[c] = rains[c % 9] * (c % 4 == 0 ? 1.0 + unit(random) : 1.0);
    g.splash_k[c] = c % 3 == 0 ? 0.0 : 100.0 * unit(random);
  }
  struct pass_case {
    int method, outlet, drains_y;
  } cases[] = {{3, 0, 0}, {3, g.n, 0}, {4, g.n, 1}, {4, 0, 0}, {2, g.n, 0}};
  const int cuts[][3] = {{1, g.n, g.n}, {1, 50, g.n}, {1, 3, g.n}, {1, g.n - 9, g.n}};
  for (const pass_case& pc : cases) {
    SCOPED_TRACE("form " + std::to_string(pc.method) + " outlet " + std::to_string(pc.outlet));
    g.clear_results();
    sed_water_pass_scalar(g.view(pc.method, pc.outlet, pc.drains_y), 1, g.n);
    const std::vector<double> scalar = g.results();
    // Logarithms only for the stream-power forms; the other arrays are always written.
    const bool logs = pc.method == 3 || pc.method == 4;
    EXPECT_EQ(std::isnan(g.log_cell[60]), !logs);
    for (int c = 1; c <= g.n; ++c) ASSERT_FALSE(std::isnan(g.share[2][c])) << c;
    for (int c = 1; c <= g.n; ++c) ASSERT_EQ(g.splash[c] > 0.0, g.rain[c] > 1e-16) << c;
    auto expect_scalar_bits = [&](const std::string& how) {
      const std::vector<double> wide = g.results();
      ASSERT_EQ(wide.size(), scalar.size());
      for (std::size_t i = 0; i < scalar.size(); ++i)
        ASSERT_EQ(std::memcmp(&wide[i], &scalar[i], sizeof(double)), 0)
            << "value " << i << " (" << how << "): " << wide[i] << " against " << scalar[i];
    };
    for_every_vector_target([&](const std::string&) {
      for (const auto& cut : cuts) {
        g.clear_results();
        const sed_water_view v = g.view(pc.method, pc.outlet, pc.drains_y);
        sed_water_pass_wide(v, cut[0], cut[1]);
        if (cut[1] < cut[2]) sed_water_pass_wide(v, cut[1] + 1, cut[2]);
        expect_scalar_bits("cut at " + std::to_string(cut[1]));
      }
      // A view whose cell count was left at 0 gives no bound for plain loads: the pass gathers
      // every neighbour and still gives the scalar bits.
      g.clear_results();
      sed_water_view unbounded = g.view(pc.method, pc.outlet, pc.drains_y);
      unbounded.cell_count = 0;
      sed_water_pass_wide(unbounded, 1, g.n);
      expect_scalar_bits("no cell count");
    });
  }
}

// A 9 x 13 plane (117 cells, not a whole number of chunks) of random depths (a fifth of them
// dry, some below the smallest depth that counts), surfaces and discharges of either sign: on
// every instruction set the wide pass gives the scalar pass's bits, over the whole plane or in
// shares that cut chunks anywhere, for the stream-power forms (with an outlet on either side)
// and for a form that needs no logarithms (which it then leaves alone). On the whole plane the
// wide pass finds most chunks' neighbours at fixed offsets and loads them; on the same frame
// with holes punched in it (a watershed's ragged edge and pits) the offsets of the cells below
// and above change inside chunks and it gathers them: both ways give the scalar bits.
TEST(SedimentWaterPass, EveryTargetGivesTheScalarBitsOverAnyShares) {
  for (bool holes : {false, true}) {
    SCOPED_TRACE(holes ? "frame with holes" : "whole plane");
    water_grid g =
        holes
            ? water_grid(9, 13,
                         [](int row, int col) { return (row * 5 + col * 3) % 7 != 0 || row == 8; })
            : water_grid(9, 13);
    check_twins(g);
  }
}

// Forms 3 and 4 from the logarithm of the water term against the capacity written out by hand,
// C X^a D^b / 10 dt dx / rho: a cell of the finer class alone (its median interpolated half way
// to the coarser class on the logarithm, sqrt(10 x 500) = 70.7 um, under the 122 um switch) and
// one of the coarser class alone (500 um); no slope or no flow carries nothing.
TEST(SedimentWaterPass, StreamPowerCapacityFromTheLogarithmAgainstHand) {
  const double diam[] = {0.0, 0.01, 0.5};  // mm
  const double gravity[] = {0.0, 2.65, 2.65};
  double vol_rows[3][5] = {}, fract_rows[3][5] = {}, eroded[3] = {};
  double* vol[3] = {vol_rows[0], vol_rows[1], vol_rows[2]};
  double* fract[3] = {fract_rows[0], fract_rows[1], fract_rows[2]};
  const sediment_class_data classes{2, diam, gravity};
  const double h = 0.02, q = 0.015, slope = 0.01, dt = 5.0, dx = 10.0;
  const double f = dt * dx / 2645.23;
  struct form_case {
    int method;
    int only;     // the class the cell's soil holds
    double d_um;  // the median of the cell's soil
    double c, a, b;
  } cases[] = {{3, 1, std::sqrt(10.0 * 500.0), 0.006025596, 1.52, 0.59},
               {3, 2, 500.0, 0.316227766, 2.59, -0.39},
               {4, 1, std::sqrt(10.0 * 500.0), 1.977e-6, 1.566, 0.478},
               {4, 2, 500.0, 4.6e-7, 2.625, -0.56}};
  for (const form_case& fc : cases) {
    SCOPED_TRACE("form " + std::to_string(fc.method) + " class " + std::to_string(fc.only));
    for (int k = 1; k <= 2; ++k) fract[k][1] = k == fc.only ? 1.0 : 0.0;
    const cell_sediment cell{2, vol, fract, eroded};
    const double x = sed_water_term(fc.method, slope, h, q);
    const double hand_x = fc.method == 3 ? q / h * slope * 100.0 : 1000.0 * 9792.342 * slope * q;
    EXPECT_NEAR(x, hand_x, 1e-14 * hand_x);
    const double hand = fc.c * std::pow(hand_x, fc.a) * std::pow(fc.d_um, fc.b) / 10.0 * f;
    const double cap =
        sed_stream_power_capacity(fc.method, sed_log_of_term(x), h, q, dt, dx, cell, classes);
    EXPECT_NEAR(cap, hand, 1e-13 * hand);
    EXPECT_EQ(
        sed_stream_power_capacity(fc.method, sed_log_of_term(0.0), h, q, dt, dx, cell, classes),
        0.0);
    EXPECT_EQ(
        sed_stream_power_capacity(fc.method, sed_log_of_term(x), h, 0.0, dt, dx, cell, classes),
        0.0);
    EXPECT_EQ(
        sed_stream_power_capacity(fc.method, sed_log_of_term(x), 0.0, q, dt, dx, cell, classes),
        0.0);
  }
}

}  // namespace
