// Snowmelt: melt at 0 C in saturated air is the small positive figure of the energy balance
// worked by hand below; cold dry air melts nothing and never adds snow; the last of the snow
// melts exactly; lake cells keep their snow; the rain's heat speeds the melt; and the snow water
// equivalent never goes negative. The frozen-ground index grows with frost, less under snow.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "atmosphere/atmosphere_steps.h"
#include "atmosphere/snowmelt.h"

namespace {

struct snow_grid {
  std::vector<double> swe, depth;
  std::vector<int> ov_lake, lake;
  explicit snow_grid(int n, double s)
      : swe(n + 1, s), depth(n + 1, 0.0), ov_lake(n + 1), lake(n + 1) {}
  snow_views views(double dt) {
    snow_views v;
    v.cell_count = static_cast<int>(swe.size()) - 1;
    v.dt = dt;
    v.swe = swe;
    v.depth = depth;
    v.ov_lake = ov_lake;
    v.lake = lake;
    return v;
  }
};

TEST(Snowmelt, MeltAtFreezingInSaturatedAirIsTheHandComputedFigure) {
  // T = 0 C, RH = 100 %, 2 m/s, 1000 mb, one hour. By hand:
  //   longwave: 273.15^4 x 4.956e-9 - 27 = 5.566790e9 x 4.956e-9 - 27 = 27.58901 - 27 = 0.58901
  //   vapour:   exp(-4278.6 / 242.8) x 2.749e8 = 2.222805e-8 x 2.749e8 = 6.110490; less 6.11 is
  //             0.000490, times the wind function 2 x 0.0002 / 1000 x 3600 x 600 = 0.864: 0.000423
  //   sensible: 0 at 0 C
  //   Q = 0.58901 + 0.00042 = 0.58943 langleys per hour;
  //   melt = Q / 80 cal/g = 0.0073679 cm of water in the hour = 7.3679e-5 m.
  snow_weather w{0.0, 2.0, 100.0, 1000.0};
  const double q = snow_energy(w, 27.0);
  EXPECT_NEAR(q, 0.58943, 1e-5);
  snow_grid g(1, 0.1);
  const snow_result r = snowmelt_energy_balance(w, g.views(3600.0));
  EXPECT_NEAR(r.melt_depth, 7.3679e-5, 1e-9);
  EXPECT_NEAR(g.depth[1], r.melt_depth, 1e-18);
  EXPECT_NEAR(g.swe[1] + g.depth[1], 0.1, 1e-15);
  EXPECT_EQ(r.snow_left, 1);
}

TEST(Snowmelt, ColdDryAirMeltsNothingAndAddsNoSnow) {
  snow_weather w{-12.0, 5.0, 20.0, 950.0};
  EXPECT_LT(snow_energy(w, 27.0), 0.0);
  snow_grid g(3, 0.05);
  const snow_result r = snowmelt_energy_balance(w, g.views(3600.0));
  for (int c = 1; c <= 3; ++c) {
    EXPECT_EQ(g.swe[c], 0.05);
    EXPECT_EQ(g.depth[c], 0.0);
  }
  EXPECT_EQ(r.melt_depth, 0.0);
  EXPECT_EQ(r.snow_left, 1);
}

TEST(Snowmelt, TheLastSnowMeltsExactlyAndLakeCellsKeepTheirs) {
  snow_weather w{8.0, 4.0, 80.0, 1000.0};
  snow_grid g(3, 1e-5);
  g.ov_lake[2] = 1;
  g.lake[3] = 2;
  g.depth[1] = 0.01;
  const snow_result r = snowmelt_energy_balance(w, g.views(3600.0));
  EXPECT_EQ(g.swe[1], 0.0);
  EXPECT_EQ(g.depth[1], 0.01 + 1e-5);
  EXPECT_EQ(r.melt_depth, 1e-5);
  EXPECT_EQ(r.snow_left, 1);  // the lake cells still hold theirs
  EXPECT_EQ(g.swe[2], 1e-5);
  EXPECT_EQ(g.swe[3], 1e-5);
  EXPECT_EQ(g.depth[2], 0.0);
  g.ov_lake[2] = g.lake[3] = 0;
  EXPECT_EQ(snowmelt_energy_balance(w, g.views(3600.0)).snow_left, 0);
}

TEST(Snowmelt, RainHeatAddsMeltAndSnowNeverGoesNegative) {
  snow_weather w{3.0, 2.0, 90.0, 990.0};
  snow_grid dry(1, 0.2), wet(1, 0.2);
  std::vector<double> rain = {0.0, 20.0};
  snow_views v = wet.views(3600.0);
  v.rain = rain;
  snowmelt_energy_balance(w, dry.views(3600.0));
  const snow_result r = snowmelt_energy_balance(w, v);
  // 20 mm/h at 3 C carries 20 / 10 x 3 = 6 langleys per hour more: 6 / 80 cm more melt.
  EXPECT_NEAR(r.melt_depth - dry.depth[1], 6.0 / 80.0 / 100.0, 1e-12);
  // Any weather, any snow: never below zero, and the water goes to the depth.
  for (double t : {-30.0, -1.0, 0.5, 15.0, 40.0})
    for (double s : {0.0, 1e-9, 1e-3, 2.0}) {
      snow_grid g(1, s);
      snowmelt_energy_balance(snow_weather{t, 10.0, 50.0, 1000.0}, g.views(86400.0));
      EXPECT_GE(g.swe[1], 0.0);
      EXPECT_LE(g.swe[1], s);
      EXPECT_NEAR(g.swe[1] + g.depth[1], s, 1e-15);
    }
}

// The melt of each cell brings the constituents the snow carries: its volume (melt x dx^2) and,
// per constituent, that volume times the constituent's concentration in the snow, added to what
// the cell held. By hand, at 5 C, 80 %, 4.115552 m/s and 1013.25 mb the hour's energy is
// 9.69884 langleys (worked out in the long-term cases), a melt of 9.69884 / 80 / 100 =
// 1.212355e-3 m; on 100 m cells that is 12.12355 m3 of water, with 2.5 and 0.4 g/m3 of two
// constituents 30.30888 g and 4.84942 g. The cell with 1e-4 m of snow left melts it all: 1 m3,
// 2.5 g and 0.4 g. Lake cells and bare cells release nothing.
TEST(Snowmelt, MeltReleasesTheConstituentsTheSnowCarries) {
  const snow_weather w{5.0, 4.115552, 80.0, 1013.25};
  const double melt = 9.69884 / 80.0 / 100.0;
  ASSERT_NEAR(snow_energy(w, 27.0), 9.69884, 1e-5);
  snow_grid g(4, 0.2);
  g.swe[2] = 1e-4;
  g.lake[3] = 1;
  g.swe[4] = 0.0;
  std::vector<double> volume(5, 0.0);
  std::vector<double> first(5, 1.0), second(5, 0.0);  // 1 g of the first already in each cell
  const std::vector<double> conc = {0.0, 2.5, 0.4};
  const std::vector<double*> rows = {nullptr, first.data(), second.data()};
  snow_views v = g.views(3600.0);
  v.dx = 100.0;
  v.melt_volume = volume;
  v.snow_conc = conc;
  v.mass = rows;
  snowmelt_energy_balance(w, v);
  const struct {
    int cell;
    double volume, first, second;
  } expected[] = {
      {1, 12.12355, 1.0 + 30.30888, 4.84942},
      {2, 1.0, 1.0 + 2.5, 0.4},
      {3, 0.0, 1.0, 0.0},
      {4, 0.0, 1.0, 0.0},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.cell);
    EXPECT_NEAR(volume[e.cell], e.volume, 1e-4);
    EXPECT_NEAR(first[e.cell], e.first, 1e-4);
    EXPECT_NEAR(second[e.cell], e.second, 1e-4);
    // The volume is the water the melt put on the cell.
    EXPECT_NEAR(volume[e.cell], g.depth[e.cell] * 100.0 * 100.0, 1e-9);
  }
  EXPECT_NEAR(g.depth[1], melt, 1e-9);
  // Without the constituent arrays the melt is the same and nothing else is touched.
  snow_grid plain(4, 0.2);
  plain.swe[2] = 1e-4;
  plain.lake[3] = 1;
  plain.swe[4] = 0.0;
  snowmelt_energy_balance(w, plain.views(3600.0));
  for (int c = 1; c <= 4; ++c) EXPECT_EQ(plain.depth[c], g.depth[c]) << c;
}

}  // namespace

namespace {

TEST(FrozenGround, FrostBuildsTheIndexSnowInsulatesAndThawDecaysIt) {
  // One hour at -10 C: a bare cell gains 10/24, one under 10 cm of snow water
  // exp(-0.4 x 0.08 x 100 x 0.1) x 10/24 (k = 0.08 below freezing); lake cells are left alone.
  std::vector<double> swe = {0.0, 0.0, 0.1, 0.0};
  std::vector<int> ov_lake = {0, 0, 0, 1};
  std::vector<int> lake(4, 0);
  std::vector<double> cfgi = {0.0, 50.0, 50.0, 50.0};
  ltm_cell_decay(3, -10.0, swe, ov_lake, lake, cfgi);
  EXPECT_NEAR(cfgi[1], 50.0 * 0.99875 + 10.0 / 24.0, 1e-12);
  EXPECT_NEAR(cfgi[2], 50.0 * 0.99875 + std::exp(-0.32) * 10.0 / 24.0, 1e-12);
  EXPECT_EQ(cfgi[3], 50.0);
  // A thaw (k = 0.5) takes the index down, never below zero.
  ltm_cell_decay(3, 30.0, swe, ov_lake, lake, cfgi);
  EXPECT_LT(cfgi[1], 50.0);
  for (int h = 0; h < 2000; ++h) ltm_cell_decay(3, 30.0, swe, ov_lake, lake, cfgi);
  EXPECT_EQ(cfgi[1], 0.0);
  EXPECT_EQ(cfgi[2], 0.0);
}

}  // namespace
