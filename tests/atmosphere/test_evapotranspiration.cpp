// Evapotranspiration: the air and sun functions against published values (saturation vapour
// pressure and its slope at 20 C, the psychrometric constant at sea level, the solstice
// declination and the noon sun it gives), the canopy-resistance factors, and the cell rates:
// night cools the surface below the air, standing water takes the water albedo, a vegetation of
// no height keeps the aerodynamic resistance finite, and the rates are the same bits on any
// thread count.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "atmosphere/evapotranspiration.h"

namespace {

constexpr double deg = std::numbers::pi / 180.0;

TEST(Evapotranspiration, AirAndSunFunctionsMatchPublishedValues) {
  EXPECT_NEAR(saturation_vapour_pressure(20.0), 2.3383, 5e-5);
  EXPECT_NEAR(saturation_vapour_slope(20.0), 0.14474, 5e-6);
  EXPECT_NEAR(psychrometric_constant(101.325), 0.0660, 5e-5);
  // The June solstice: the declination is the tilt of the axis.
  EXPECT_NEAR(solar_declination(172) / deg, 23.45, 1e-12);
  EXPECT_NEAR(solar_declination(et_day_of_year(2001, 6, 21)) / deg, 23.45, 1e-12);
  // At noon on that day at 40 degrees north the sun stands 90 - 40 + 23.45 degrees high.
  const double noon = sun_elevation(solar_declination(172), 40.0 * deg, solar_hour_angle(12));
  EXPECT_NEAR(noon / deg, 73.45, 1e-9);
  // Six hours either side of noon at the equinox the sun is on the horizon.
  EXPECT_NEAR(sun_elevation(0.0, 40.0 * deg, solar_hour_angle(6)), 0.0, 1e-12);
  EXPECT_NEAR(sun_elevation(0.0, 40.0 * deg, solar_hour_angle(18)), 0.0, 1e-12);
  // Leap years add a day from March on.
  EXPECT_EQ(et_day_of_year(2004, 3, 1), 61);
  EXPECT_EQ(et_day_of_year(2003, 3, 1), 60);
}

TEST(Evapotranspiration, CanopyResistanceFactorsFollowTheSeasonAndTheHour) {
  const struct {
    int seasonal;
    double latitude;
    int month;
    double factor;
  } cases[] = {{0, 40.0, 1, 1.0}, {1, 40.0, 1, 4.0}, {1, 40.0, 7, 1.0}, {1, 40.0, 5, 3.0},
               {1, 37.0, 6, 2.0}, {1, 36.9, 6, 1.0}, {1, 30.0, 4, 2.5}, {1, 30.0, 10, 2.5}};
  for (const auto& c : cases)
    EXPECT_EQ(seasonal_resistance_factor(c.seasonal, c.latitude, c.month), c.factor)
        << c.seasonal << " " << c.latitude << " " << c.month;
  EXPECT_EQ(hourly_resistance_factor(12), 1.0);
  EXPECT_GT(hourly_resistance_factor(0), hourly_resistance_factor(12));
}

// A grid of `n` cells with varied vegetation, slopes and water.
struct et_grid {
  int n;
  std::vector<double> albedo, vheight, tcoeff, canopy, sx, sy, depth, swe, ts, residual, rate;
  explicit et_grid(int cells)
      : n(cells),
        albedo(n + 1),
        vheight(n + 1),
        tcoeff(n + 1),
        canopy(n + 1),
        sx(n + 1),
        sy(n + 1),
        depth(n + 1),
        swe(n + 1),
        ts(n + 1),
        residual(n + 1),
        rate(n + 1) {
    for (int c = 1; c <= n; ++c) {
      albedo[c] = 0.1 + 0.2 * ((c * 7) % 10) / 10.0;
      vheight[c] = 0.05 + 0.5 * ((c * 3) % 11) / 11.0;
      tcoeff[c] = (c % 4) * 0.25;
      canopy[c] = 40.0 + (c % 13) * 5.0;
      sx[c] = 0.01 * ((c % 9) - 4);
      sy[c] = 0.01 * ((c % 5) - 2);
      depth[c] = c % 6 == 0 ? 0.02 : 0.0;
    }
  }
  et_views views(bool penman) {
    et_views v;
    v.cell_count = n;
    v.penman = penman;
    v.albedo = albedo;
    v.vheight = vheight;
    v.tcoeff = tcoeff;
    v.canopy_rs = canopy;
    v.slope_x = sx;
    v.slope_y = sy;
    v.ov_depth = depth;
    v.swe = swe;
    v.surface_temp = ts;
    v.residual = residual;
    v.rate = rate;
    return v;
  }
};

et_weather summer_noon() {
  et_weather w;
  w.air_temp = 25.0;
  w.pressure_mb = 1000.0;
  w.rel_humidity = 40.0;
  w.sky_cover = 2.0;
  w.wind_speed = 3.0;
  w.global_rad = 700.0;
  w.year = 2001;
  w.month = 6;
  w.day = 21;
  w.hour = 12;
  w.latitude = 40.0;
  return w;
}

TEST(Evapotranspiration, NightCoolsTheSurfaceAndDaySunDrivesHigherRates) {
  for (bool penman : {true, false}) {
    SCOPED_TRACE(penman ? "Penman-Monteith" : "Deardorff");
    et_grid day(12), night(12);
    et_weather w = summer_noon();
    evapo_trans(w, day.views(penman));
    w.hour = 0;
    w.global_rad = 0.0;
    evapo_trans(w, night.views(penman));
    for (int c = 1; c <= 12; ++c) {
      EXPECT_LT(night.ts[c], 25.0 + 273.15) << c;  // longwave loss alone: colder than the air
      EXPECT_GT(day.ts[c], night.ts[c]) << c;
      EXPECT_GE(night.rate[c], 0.0) << c;
      EXPECT_GT(day.rate[c], night.rate[c]) << c;
      // The balance settles: what the radiation, the latent and the sensible heat leave over is
      // the ground heat, a third of the sensible heat H = (Ts - T) rho cp Ch u (kW/m2), with
      // rho = 3.486 P / (T + 275) = 3.486 x 100 / 300 kg/m3, cp 1.013, Ch 0.0025, u 3 m/s.
      const double h = (day.ts[c] - 298.15) * (3.486 * 100.0 / 300.0) * 1.013 * 0.0025 * 3.0;
      EXPECT_NEAR(day.residual[c], h / 3.0, 1e-4) << c;
    }
  }
}

TEST(Evapotranspiration, StandingWaterTakesTheWaterAlbedoAndSnowTheSnowAlbedo) {
  for (bool penman : {true, false}) {
    SCOPED_TRACE(penman ? "Penman-Monteith" : "Deardorff");
    et_grid g(3);
    for (int c = 1; c <= 3; ++c) {
      g.vheight[c] = 0.1;
      g.tcoeff[c] = 1.0;
      g.canopy[c] = 50.0;
      g.sx[c] = g.sy[c] = 0.0;
    }
    g.albedo[1] = 0.9;  // bright ground under 0.2 m of water: the water's albedo
    g.depth[1] = 0.2;
    g.albedo[2] = 0.08;  // dry ground of the water's albedo
    g.albedo[3] = 0.2;   // snow deeper than the roughness height
    g.swe[3] = 0.3;
    et_weather w = summer_noon();
    w.snow_present = 1;
    evapo_trans(w, g.views(penman));
    EXPECT_EQ(g.rate[1], g.rate[2]);
    EXPECT_EQ(g.ts[1], g.ts[2]);
    et_grid bright(1);
    bright.albedo[1] = 0.5;
    bright.vheight[1] = 0.1;
    bright.tcoeff[1] = 1.0;
    bright.canopy[1] = 50.0;
    bright.sx[1] = bright.sy[1] = 0.0;
    evapo_trans(w, bright.views(penman));
    EXPECT_EQ(g.rate[3], bright.rate[1]);
    EXPECT_GT(g.rate[2], g.rate[3]);
  }
}

TEST(Evapotranspiration, VegetationOfNoHeightAndCalmAirGiveFiniteRates) {
  et_grid g(2);
  g.albedo[2] = g.albedo[1];
  g.tcoeff[2] = g.tcoeff[1];
  g.canopy[2] = g.canopy[1];
  g.sx[2] = g.sx[1];
  g.sy[2] = g.sy[1];
  g.vheight[1] = 0.0;  // a bare dry cell: neither standing water nor an infinite resistance
  g.vheight[2] = 0.001;
  et_weather w = summer_noon();
  w.wind_speed = 0.2;  // used as 1 m/s
  const et_result r = evapo_trans(w, g.views(true));
  EXPECT_EQ(r.nan_ra, 0);
  EXPECT_TRUE(std::isfinite(g.rate[1]));
  EXPECT_EQ(g.rate[1], g.rate[2]);
  et_grid calm(1), one(1);
  evapo_trans(w, calm.views(true));
  w.wind_speed = 1.0;
  evapo_trans(w, one.views(true));
  EXPECT_EQ(calm.rate[1], one.rate[1]);
}

TEST(Evapotranspiration, CloudCoverAboveOneIsClipped) {
  et_grid a(4), b(4);
  et_weather w = summer_noon();
  w.sky_cover = 10.0;
  EXPECT_EQ(evapo_trans(w, a.views(true)).cloud_clipped, 0);
  w.sky_cover = 14.0;
  EXPECT_EQ(evapo_trans(w, b.views(true)).cloud_clipped, 1);
  for (int c = 1; c <= 4; ++c) EXPECT_EQ(a.rate[c], b.rate[c]);
}

TEST(Evapotranspiration, RatesAreTheSameBitsOnOneAndEightThreads) {
  const int saved = omp_get_max_threads();
  for (bool penman : {true, false}) {
    et_grid one(5000), eight(5000);
    omp_set_num_threads(1);
    evapo_trans(summer_noon(), one.views(penman));
    omp_set_num_threads(8);
    evapo_trans(summer_noon(), eight.views(penman));
    for (int c = 1; c <= 5000; ++c) {
      ASSERT_EQ(one.rate[c], eight.rate[c]) << c;
      ASSERT_EQ(one.ts[c], eight.ts[c]) << c;
    }
  }
  omp_set_num_threads(saved);
}

}  // namespace
