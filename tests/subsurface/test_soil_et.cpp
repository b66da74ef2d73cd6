// The two-zone soil water account: every update keeps each cell's water (what entered equals
// what the zones gained plus what drained and evaporated); rain or snow on a cell stops its
// evapotranspiration; surface water larger than the demand spares the soil; a cell whose water
// table reaches the surface draws its evapotranspiration from the recharge; zones at field
// capacity or drier do not drain.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <vector>

#include "subsurface/soil_et.h"
#include "subsurface/soil_table_state.h"

namespace {

// One or more cells of a silt loam, two zones (table 80 cm below, upper zone 30 cm).
struct soil_cells {
  int n;
  std::vector<double> rate_w, rate_s, rain, swe, wt, depth, inf, wu, wl, total, rinc, rcum, du, dl,
      et, por, res, ks, lam, fc, wp;
  std::vector<int> exfil;
  explicit soil_cells(int cells)
      : n(cells),
        rate_w(n + 1, 1e-5),
        rate_s(n + 1, 1e-5),
        rain(n + 1),
        swe(n + 1),
        wt(n + 1, 80.0),
        depth(n + 1),
        inf(n + 1),
        wu(n + 1, 0.30 * 30.0),
        wl(n + 1, 0.30 * 50.0),
        total(n + 1),
        rinc(n + 1),
        rcum(n + 1),
        du(n + 1),
        dl(n + 1),
        et(n + 1),
        por(n + 1, 0.45),
        res(n + 1, 0.05),
        ks(n + 1, 1.8e-6),
        lam(n + 1, 0.25),
        fc(n + 1, 0.28),
        wp(n + 1, 0.10),
        exfil(n + 1) {}
  soil_et_views views(double dt) {
    soil_et_views v;
    v.cell_count = n;
    v.dt = dt;
    v.zone_depth_upper = 30.0;
    v.et_rate_water = rate_w;
    v.et_rate_soil = rate_s;
    v.rain = rain;
    v.swe = swe;
    v.wt_depth = wt;
    v.ov_depth = depth;
    v.inf_depth = inf;
    v.zone_upper = wu;
    v.zone_lower = wl;
    v.soil_water = total;
    v.recharge_inc = rinc;
    v.recharge_cum = rcum;
    v.drain_upper_cum = du;
    v.drain_lower_cum = dl;
    v.et_cum = et;
    v.yes_exfil = exfil;
    v.porosity = por;
    v.residual = res;
    v.ks = ks;
    v.pore_index = lam;
    v.theta_fc = fc;
    v.theta_wp = wp;
    return v;
  }
};

TEST(SoilEt, EveryUpdateKeepsEachCellsWater) {
  // Cells from dry to saturated, with and without infiltration and surface water, one and two
  // zones.
  soil_cells s(40);
  for (int c = 1; c <= s.n; ++c) {
    const double theta = 0.05 + 0.40 * (c - 1) / 39.0;
    s.wt[c] = c % 3 == 0 ? 20.0 : 80.0;
    const double z1 = std::fmin(s.wt[c], 30.0);
    s.wu[c] = theta * z1;
    s.wl[c] = s.wt[c] > 30.0 ? (0.5 * theta + 0.1) * (s.wt[c] - 30.0) : 0.0;
    s.inf[c] = (c % 4) * 0.004;  // m
    s.depth[c] = c % 5 == 0 ? 0.0005 : 0.0;
  }
  std::vector<double> before(s.n + 1), ov_before(s.depth);
  for (int c = 1; c <= s.n; ++c) before[c] = s.wu[c] + s.wl[c];
  const double infiltration = [&] {
    double sum = 0.0;
    for (int c = 1; c <= s.n; ++c) sum += s.inf[c];
    return sum;
  }();
  const soil_et_totals t = soil_et_extract(s.views(3600.0));
  double et_sum = 0.0;
  for (int c = 1; c <= s.n; ++c) {
    SCOPED_TRACE(c);
    const double gained = s.wu[c] + s.wl[c] - before[c];            // cm
    const double surface_et = (ov_before[c] - s.depth[c]) * 100.0;  // cm
    const double entered = (c % 4) * 0.4;                           // cm of infiltration
    // The zones lose to drainage (the recharge) and to evapotranspiration only.
    const double soil_et = entered - gained - s.rinc[c];
    EXPECT_GE(soil_et, -1e-12);
    EXPECT_LE(soil_et, 0.036 + 1e-12);  // never more than the demand
    EXPECT_EQ(s.inf[c], 0.0);
    EXPECT_NEAR(s.total[c], s.wu[c] + s.wl[c], 1e-12);
    EXPECT_GE(s.wu[c], 0.05 * std::fmin(s.wt[c], 30.0) - 1e-12);
    EXPECT_LE(s.wu[c], 0.45 * std::fmin(s.wt[c], 30.0) + 1e-12);
    et_sum += (soil_et + surface_et) / 100.0;
  }
  EXPECT_NEAR(t.et_depth, et_sum, 1e-12);
  EXPECT_NEAR(t.infiltration, infiltration, 1e-15);
}

TEST(SoilEt, RainOrSnowStopsEvapotranspirationAndSurfaceWaterSparesTheSoil) {
  soil_cells s(4);
  s.rain[1] = 2.0;    // raining
  s.swe[2] = 0.01;    // snow on the cell
  s.depth[3] = 0.01;  // 1 cm of water, more than the demand of 0.036 cm
  soil_et_views v = s.views(3600.0);
  v.snow_present = true;
  const std::vector<double> wu(s.wu), wl(s.wl);
  const soil_et_totals t = soil_et_extract(v);
  EXPECT_EQ(s.et[1], 0.0);
  EXPECT_EQ(s.et[2], 0.0);
  EXPECT_NEAR(s.et[3], 0.036, 1e-15);
  EXPECT_NEAR(s.depth[3], 0.01 - 0.00036, 1e-15);
  // The zones of cells 1 to 3 only drained (moisture at 0.30 > field capacity 0.28): what left
  // the upper and lower zones went to drainage, none to evapotranspiration.
  for (int c = 1; c <= 3; ++c)
    EXPECT_NEAR(wu[c] + wl[c] - s.wu[c] - s.wl[c], s.rinc[c], 1e-12) << c;
  // Cell 4 gave evapotranspiration from both zones.
  EXPECT_GT(wu[4] + wl[4] - s.wu[4] - s.wl[4], s.rinc[4] + 1e-6);
  EXPECT_NEAR(t.et_depth, 0.00036 + (wu[4] + wl[4] - s.wu[4] - s.wl[4] - s.rinc[4]) / 100.0, 1e-12);
}

TEST(SoilEt, AWaterTableAtTheSurfaceFeedsEvapotranspirationFromTheRecharge) {
  soil_cells s(2);
  s.exfil[1] = 1;
  s.wt[2] = 0.0;  // the table reached the surface since the last update
  s.inf[2] = 0.002;
  const soil_et_totals t = soil_et_extract(s.views(3600.0));
  EXPECT_NEAR(s.rinc[1], -0.036, 1e-15);
  EXPECT_NEAR(s.rcum[1], -0.036, 1e-15);
  EXPECT_EQ(s.exfil[2], 1);
  EXPECT_NEAR(s.rinc[2], 0.2 - 0.036, 1e-15);  // the infiltration passes to the groundwater
  EXPECT_NEAR(t.et_from_gw, 2 * 0.00036, 1e-15);
  EXPECT_NEAR(t.et_depth, 2 * 0.00036, 1e-15);
}

TEST(SoilEt, ZonesAtFieldCapacityOrDrierDoNotDrain) {
  for (bool layered : {false, true}) {
    SCOPED_TRACE(layered ? "layered soil" : "redistribution soil");
    soil_cells s(2);
    s.rate_w.assign(3, 0.0);
    s.rate_s.assign(3, 0.0);
    s.wu[1] = 0.28 * 30.0;
    s.wl[1] = 0.28 * 50.0;
    s.wu[2] = 0.20 * 30.0;
    s.wl[2] = 0.15 * 50.0;
    soil_table_record types[1];
    for (int k = 0; k < 3; ++k) {
      types[0].layer_porosity[k] = 0.45;
      types[0].layer_residual_moisture[k] = 0.05;
      types[0].layer_field_capacity[k] = 0.28;
      types[0].layer_wilting_point[k] = 0.10;
      types[0].layer_hyd_cond[k] = 0.65;
      types[0].layer_pore_index[k] = 0.25;
    }
    types[0].layer_depth[0] = 30.0;
    types[0].layer_depth[1] = 40.0;
    std::vector<int> soil_type(3, 0);
    soil_et_views v = s.views(3600.0);
    if (layered) {
      v.soil_types = types;
      v.soil_type = soil_type;
    }
    soil_et_extract(v);
    for (int c = 1; c <= 2; ++c) {
      EXPECT_EQ(s.rinc[c], 0.0) << c;
      EXPECT_EQ(s.du[c], 0.0) << c;
    }
    // A wetter upper zone drains.
    s.wu[1] = 0.40 * 30.0;
    s.wl[1] = 0.40 * 50.0;
    soil_et_extract(v);
    EXPECT_GT(s.du[1], 0.0);
    EXPECT_GT(s.rinc[1], 0.0);
  }
}

}  // namespace

namespace {

// The cells of the account are taken in parallel: on a grid of many blocks of cells in every
// state of the account (one and two zones, dry to saturated, ponded, rained on, the table at the
// surface), one thread and eight leave the same bits in every cell and in the summed depths,
// and the sums are those of the cells.
TEST(SoilEt, OneThreadAndEightGiveTheSameBits) {
  auto fill = [](soil_cells& s) {
    for (int c = 1; c <= s.n; ++c) {
      const double theta = 0.05 + 0.40 * (c % 97) / 96.0;
      s.wt[c] = c % 3 == 0 ? 20.0 : (c % 211 == 0 ? 0.0 : 80.0);
      const double z1 = std::fmin(s.wt[c], 30.0);
      s.wu[c] = theta * z1;
      s.wl[c] = s.wt[c] > 30.0 ? (0.5 * theta + 0.1) * (s.wt[c] - 30.0) : 0.0;
      s.inf[c] = (c % 4) * 0.004;
      s.depth[c] = c % 5 == 0 ? 0.0005 * (c % 7) : 0.0;
      s.rain[c] = c % 13 == 0 ? 2.0 : 0.0;
      s.exfil[c] = c % 17 == 0;
    }
  };
  soil_cells one(9000), eight(9000);
  fill(one);
  fill(eight);
  double inf_sum = 0.0;
  // A cell whose table already stands at the surface leaves its infiltration to the table.
  for (int c = 1; c <= one.n; ++c) inf_sum += one.exfil[c] == 1 ? 0.0 : one.inf[c];
  const int threads = omp_get_max_threads();
  omp_set_num_threads(1);
  const soil_et_totals t1 = soil_et_extract(one.views(3600.0));
  omp_set_num_threads(8);
  const soil_et_totals t8 = soil_et_extract(eight.views(3600.0));
  omp_set_num_threads(threads);
  EXPECT_EQ(t1.et_depth, t8.et_depth);
  EXPECT_EQ(t1.et_from_gw, t8.et_from_gw);
  EXPECT_EQ(t1.infiltration, t8.infiltration);
  EXPECT_NEAR(t1.infiltration, inf_sum, 1e-10);
  EXPECT_GT(t1.et_from_gw, 0.0);
  const std::vector<double> soil_cells::*arrays[] = {
      &soil_cells::depth, &soil_cells::inf,  &soil_cells::wu, &soil_cells::wl, &soil_cells::total,
      &soil_cells::rinc,  &soil_cells::rcum, &soil_cells::du, &soil_cells::dl, &soil_cells::et};
  for (auto a : arrays) EXPECT_EQ(one.*a, eight.*a);
  EXPECT_EQ(one.exfil, eight.exfil);
}

}  // namespace
