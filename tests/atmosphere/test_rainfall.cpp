// Rainfall on the grid: the canopy's share and its seasons, the rain of an overland step onto
// the cells, the channel and overland lakes and the snow store with the volumes it books, the
// overland point sources with the schedules they pull forward and the once-per-event restart of
// the wetting fronts, the overland pumps, and sums that do not depend on the thread count.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "atmosphere/atmosphere_steps.h"
#include "atmosphere/rainfall.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "input/elevation_series.h"
#include "input/time_series.h"
#include "overland/overland_pumps.h"
#include "overland/overland_steps.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::stdout_capture;

namespace {

template <class T>
std::span<T> all(raw_array1d<T>& a) {
  return {a.data(), a.element_count()};
}

// A one-based array of n cells holding `values` from cell 1 on.
template <class T>
void fill(raw_array1d<T>& a, const std::vector<T>& values) {
  ASSERT_TRUE(a.allocate(static_cast<int>(values.size())));
  for (std::size_t i = 0; i < values.size(); ++i) a[static_cast<int>(i) + 1] = values[i];
}

// --- The canopy ---------------------------------------------------------------------------------

TEST(RainInterception, SeasonFactorFollowsTheMonthAndTheLatitude) {
  struct season_case {
    int seasonal_rs;
    double latitude;
    int month;
    double factor;
  };
  const season_case cases[] = {
      {0, 45.0, 1, 1.0},  {1, 30.0, 1, 4.0},  {1, 30.0, 4, 2.5},  {1, 30.0, 5, 1.0},
      {1, 30.0, 9, 1.0},  {1, 30.0, 10, 2.5}, {1, 30.0, 11, 4.0}, {1, 36.99, 4, 2.5},
      {1, 37.0, 4, 4.0},  // 37 degrees exactly is in the northern table
      {1, 37.0, 5, 3.0},  {1, 45.0, 6, 2.0},  {1, 45.0, 7, 1.0},  {1, 45.0, 9, 1.0},
      {1, 45.0, 10, 2.5}, {1, 45.0, 12, 4.0}, {2, 45.0, 1, 1.0},
  };
  for (const season_case& c : cases)
    EXPECT_EQ(interception_season_factor(c.seasonal_rs, c.latitude, c.month), c.factor)
        << "SEASONAL_RS " << c.seasonal_rs << " latitude " << c.latitude << " month " << c.month;
}

// One canopy of 1 mm under 36 mm/h in one-minute steps (0.6 mm a step) with a coefficient of
// 0.25: the first step fills 0.6 mm; the second has 0.4 mm of room, so 0.2 mm reach the
// canopy's share and 0.2 x 0.75 mm the ground (9 mm/h); from the third on a quarter of the rain
// is still held. What the ground gets and what the canopy holds add up to the rain.
TEST(RainInterception, TheStorageFillsThenAShareOfTheRainIsStillHeld) {
  raw_array1d<double> capacity, coeff, gross, net, used;
  fill(capacity, {1.0});
  fill(coeff, {0.25});
  fill(gross, {36.0});
  fill(net, {-1.0});
  fill(used, {0.0});
  const double dx = 30.0;
  const struct {
    double net;   // mm/h
    double used;  // mm
  } steps[] = {{0.0, 0.6}, {9.0, 1.05}, {27.0, 1.2}, {27.0, 1.35}};
  double volume = 0.0;
  double ground = 0.0;  // mm
  for (const auto& s : steps) {
    rain_interception(1, 60.0, all(capacity), all(coeff), all(gross), all(net), all(used), volume,
                      dx, 7, 0, 40.0, 0, {});
    EXPECT_NEAR(net[1], s.net, 1e-12);
    EXPECT_NEAR(used[1], s.used, 1e-12);
    ground += net[1] * 60.0 / 3600.0;
  }
  // The canopy's total is its storage over the cell: 1.35 mm x 900 m2.
  EXPECT_NEAR(volume, 1.35 * 900.0 / 1000.0, 1e-12);
  // Rain = ground + canopy over the four steps: 4 x 0.6 mm.
  EXPECT_NEAR(ground + used[1], 4 * 0.6, 1e-12);
}

TEST(RainInterception, SeasonsNegativeRainAndChannelLakes) {
  // Cells: 1 a canopy of 4 mm divided by January's factor 4 (1 mm) under 90 mm/h for 60 s
  // (1.5 mm); 2 the same canopy in a channel lake; 3 a negative intensity; 4 room left exactly
  // equal to the step's rain.
  raw_array1d<double> capacity, coeff, gross, net, used;
  raw_array1d<int> lakes;
  fill(capacity, {4.0, 4.0, 4.0, 4.8});
  fill(coeff, {0.4, 0.4, 0.4, 0.5});
  fill(gross, {90.0, 90.0, -5.0, 36.0});
  fill(net, {-1.0, -1.0, -1.0, -1.0});
  fill(used, {0.0, 0.0, 0.3, 0.6});
  fill(lakes, {0, 3, 0, 0});
  double volume = 10.0;
  rain_interception(4, 60.0, all(capacity), all(coeff), all(gross), all(net), all(used), volume,
                    10.0, 1, 1, 30.0, 1, all(lakes));
  // Cell 1: room 1 mm of 1.5 mm; 0.5 mm pass, of which the share 0.4 / 4 is held.
  EXPECT_NEAR(net[1], 0.5 * 60.0 * 0.9, 1e-12);
  EXPECT_NEAR(used[1], 1.0 + 0.1 * 0.5, 1e-12);
  EXPECT_EQ(net[2], 90.0);
  EXPECT_EQ(used[2], 0.0);
  EXPECT_EQ(net[3], 0.0);
  EXPECT_EQ(used[3], 0.3);
  // Cell 4: room 0.6 mm = the step's 0.6 mm: all of it is held, nothing passes.
  EXPECT_NEAR(net[4], 0.0, 1e-12);
  EXPECT_NEAR(used[4], 1.2, 1e-12);
  EXPECT_NEAR(volume, 10.0 + (1.05 + 0.6) * 100.0 / 1000.0, 1e-12);
}

// --- One step of rain ------------------------------------------------------------------------

// The steps take their length from the Julian times of the overland schedule, which round it in
// the last digits: hand values hold to a relative 1e-9.
#define EXPECT_CLOSE(value, expected) \
  EXPECT_NEAR(value, expected, 1e-9 * std::fabs(expected) + 1e-15)

class RainfallStep : public ::testing::Test {
 protected:
  void SetUp() override {
    ms_ = std::make_unique<model_state>();
    model_state& ms = *ms_;
    ms.cell_count = 4;
    ms.gridsize = 30.0;
    ms.current_time = 100.0;
    ms.time_tolerance = 0.01 / 86400.0;
    ms.elapsed_minutes = 7.0;
    ms.ov_clock.interval_days = 60.0 / 86400.0;
    ms.ov_clock.last = ms.current_time - 60.0 / 86400.0;
    ms.ov_clock.next = ms.current_time;
    overland_state& ov = ms.overland;
    ov.rain_event_state = 1;
    fill(ov.rain_cell, {10.0, 0.0, 36.0, 20.0});
    fill(ov.ov_depth, {0.0, 0.001, 0.5, 0.0});
    fill(ov.ov_depth_change, {5.0, 5.0, 5.0, 5.0});
  }
  // Depth a cell gets from `intensity` mm/h over the step of 60 s.
  static double depth_of(double intensity) { return intensity * 60.0 / 3.6e6; }

  torva_test::process_state_guard process_state_;
  std::unique_ptr<model_state> ms_;
};

TEST_F(RainfallStep, RainReachesTheDepthsAndTheEventVolume) {
  model_state& ms = *ms_;
  overland_state& ov = ms.overland;
  ov.uniform_rain = 1;
  ov.uniform_rain_steps = 1;
  apply_rainfall(ms);
  // 10 mm/h for 60 s is 1/6000 m.
  EXPECT_CLOSE(ov.ov_depth[1], 1.0 / 6000.0);
  EXPECT_EQ(ov.ov_depth[2], 0.001);
  EXPECT_CLOSE(ov.ov_depth[3], 0.5 + 0.0006);
  EXPECT_CLOSE(ov.ov_depth[4], depth_of(20.0));
  for (int c = 1; c <= 4; ++c) EXPECT_EQ(ov.ov_depth_change[c], 0.0) << c;
  // 66 mm/h of rain over 900 m2 cells for one minute: 66 / 1000 / 60 x 900 m3.
  EXPECT_CLOSE(ms.event_rain_vol, 0.99);
  EXPECT_CLOSE(ov.total_precip_volume, 0.99);
  EXPECT_EQ(ov.rain_rate_sum, 66.0);
  EXPECT_EQ(ov.rain_steps, 1);
  EXPECT_EQ(ov.first_rain_pending, 0);
  EXPECT_EQ(ov.first_rain_minutes, 7.0);
  EXPECT_EQ(ov.uniform_rain_steps, 2);

  // The next step is dry: the volumes stay, and the running intensity sum still counts a step.
  for (int c = 1; c <= 4; ++c) ov.rain_cell[c] = 0.0;
  ms.current_time += 60.0 / 86400.0;
  ms.ov_clock.last = ms.ov_clock.next;
  ms.ov_clock.next = ms.current_time;
  ms.elapsed_minutes = 8.0;
  apply_rainfall(ms);
  EXPECT_CLOSE(ms.event_rain_vol, 0.99);
  EXPECT_EQ(ov.rain_steps, 2);
  EXPECT_EQ(ov.first_rain_minutes, 7.0);
  EXPECT_EQ(ov.uniform_rain_steps, 3);
}

TEST_F(RainfallStep, NothingFallsWhenTheOverlandStepIsNotDueOrNoEventRains) {
  const struct {
    const char* what;
    double next_offset_s;  // overland next-due time minus the current time
    int rain_event_state;
  } cases[] = {
      {"due a step later", 60.0, 1},
      {"due a step ago", -60.0, 1},
      {"waiting for the next event", 0.0, 0},
      {"no further event", 0.0, 2},
      {"rainfall over", 0.0, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    model_state& ms = *ms_;
    ms.ov_clock.next = ms.current_time + c.next_offset_s / 86400.0;
    ms.overland.rain_event_state = c.rain_event_state;
    ms.overland.uniform_rain = 1;
    apply_rainfall(ms);
    EXPECT_EQ(ms.overland.ov_depth[1], 0.0);
    EXPECT_EQ(ms.overland.ov_depth_change[1], 5.0);
    EXPECT_EQ(ms.event_rain_vol, 0.0);
    EXPECT_EQ(ms.overland.rain_steps, 0);
    EXPECT_EQ(ms.overland.uniform_rain_steps, 0);
  }
}

// Cell 2 lies in channel lake 2 and cell 3 in overland lake 1.
TEST_F(RainfallStep, LakeCellsBookTheirRainToTheirLakes) {
  model_state& ms = *ms_;
  overland_state& ov = ms.overland;
  ov.rain_cell[2] = 48.0;
  ms.perennial_lakes = 1;
  fill(ms.channel.lake_mask, {0, 2, 0, 0});
  fill(ms.channel.lake_volume, {1000.0, 2000.0});
  ms.transport.chan_con_trans = 1;
  fill(ms.lake_constit_water, {0.0, 3.0});
  ov.overland_lake_map = 1;
  ov.olake_count = 1;
  fill(ov.oland_lake_new, {0, 0, 1, 0});
  ASSERT_TRUE(ov.ov_lakes.allocate(1));
  ov.ov_lakes[1].rain_volume = 99.0;
  apply_rainfall(ms);

  const double v2 = 48.0 * 60.0 * 900.0 / 3.6e6;  // 0.72 m3 into the channel lake
  const double v3 = 36.0 * 60.0 * 900.0 / 3.6e6;  // 0.54 m3 booked to the overland lake
  EXPECT_EQ(ov.ov_depth[2], 0.001);               // a lake cell's depth does not change
  EXPECT_EQ(ov.ov_depth_change[2], 0.0);
  EXPECT_CLOSE(ms.channel.lake_volume[2], 2000.0 + v2);
  EXPECT_EQ(ms.channel.lake_volume[1], 1000.0);
  EXPECT_CLOSE(ms.lake_constit_water[2], 3.0 + v2);
  for (double total : {ov.lake_rain_volume, ov.lake_precip_volume, ov.lake_precip_event})
    EXPECT_CLOSE(total, v2);
  // The overland lake's rain is booked once: to its lake's volume change of the step (which the
  // lake step takes into the lake's volume and inflow total), not to the cell's depth as well.
  EXPECT_CLOSE(ov.ov_lakes[1].rain_volume, v3);
  EXPECT_EQ(ov.olake_volume_in, 0.0);
  EXPECT_EQ(ov.olake_changed, 1);
  EXPECT_EQ(ov.ov_depth[3], 0.5);
  EXPECT_EQ(ov.ov_depth_change[3], 0.0);
  // The event's rain is that of the overland plane and its lakes; the run's precipitation has the
  // channel lake's too.
  EXPECT_CLOSE(ms.event_rain_vol, (10.0 + 36.0 + 20.0) * 0.015);
  EXPECT_CLOSE(ov.total_precip_volume, (10.0 + 36.0 + 20.0) * 0.015 + v2);
  EXPECT_EQ(ov.rain_rate_sum, 66.0);
}

TEST_F(RainfallStep, BelowFreezingALongTermRunStoresSnow) {
  const struct {
    double air_temp;
    bool snow;
  } cases[] = {{0.0, false}, {-0.5, true}, {3.0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.air_temp);
    SetUp();
    model_state& ms = *ms_;
    ms.long_term = 1;
    ms.air_temp = c.air_temp;
    fill(ms.subsurface.swe, {0.01, 0.0, 0.0, 0.0});
    apply_rainfall(ms);
    const overland_state& ov = ms.overland;
    EXPECT_EQ(ms.snow_present, c.snow ? 1 : 0);
    if (c.snow) {
      EXPECT_EQ(ov.ov_depth[1], 0.0);
      EXPECT_EQ(ov.ov_depth[3], 0.5);
      EXPECT_CLOSE(ms.subsurface.swe[1], 0.01 + depth_of(10.0));
      EXPECT_CLOSE(ms.subsurface.swe[4], depth_of(20.0));
    } else {
      EXPECT_CLOSE(ov.ov_depth[1], depth_of(10.0));
      EXPECT_EQ(ms.subsurface.swe[1], 0.01);
      EXPECT_EQ(ms.subsurface.swe[4], 0.0);
    }
    // Snow or rain, the precipitation is booked.
    EXPECT_CLOSE(ms.event_rain_vol, 0.99);
  }
}

// With interception on, the ground and the volumes get the rain below the canopy.
TEST_F(RainfallStep, TheCanopyTakesItsShareBeforeTheGround) {
  model_state& ms = *ms_;
  overland_state& ov = ms.overland;
  ov.interception_on = 1;
  fill(ov.interception_capacity, {1.0, 1.0, 0.0, 0.1});
  fill(ov.interception_coeff, {0.0, 0.0, 0.5, 0.0});
  fill(ov.interception_storage, {0.0, 0.0, 0.0, 0.0});
  fill(ov.net_rain_cell, {0.0, 0.0, 0.0, 0.0});
  apply_rainfall(ms);
  // Cell 1: 10 mm/h for a minute (0.1667 mm) fits the canopy. Cell 3: no storage, half of
  // 36 mm/h passes. Cell 4: 0.1 mm of 0.3333 mm held, 14 mm/h passes.
  EXPECT_EQ(ov.ov_depth[1], 0.0);
  EXPECT_CLOSE(ov.ov_depth[3], 0.5 + depth_of(18.0));
  EXPECT_CLOSE(ov.ov_depth[4], depth_of(14.0));
  EXPECT_CLOSE(ov.interception_storage[1], 10.0 / 60.0);
  EXPECT_CLOSE(ms.event_rain_vol, (18.0 + 14.0) * 0.015);
  EXPECT_CLOSE(ov.rain_rate_sum, 32.0);
  EXPECT_CLOSE(ov.interception_volume, (10.0 / 60.0 + 0.3 + 0.1) * 0.9);
}

// Under a canopy, the rain an overland lake's cell books to its lake is what passes the canopy,
// the same the event's volume counts: canopy, lake and event volume account for the rain once.
TEST_F(RainfallStep, AnOverlandLakeUnderTheCanopyTakesTheRainThatPassesIt) {
  model_state& ms = *ms_;
  overland_state& ov = ms.overland;
  ov.interception_on = 1;
  fill(ov.interception_capacity, {0.0, 0.0, 0.0, 0.0});
  fill(ov.interception_coeff, {0.0, 0.0, 0.5, 0.0});
  fill(ov.interception_storage, {0.0, 0.0, 0.0, 0.0});
  fill(ov.net_rain_cell, {0.0, 0.0, 0.0, 0.0});
  ov.overland_lake_map = 1;
  ov.olake_count = 1;
  fill(ov.oland_lake_new, {0, 0, 1, 0});
  ASSERT_TRUE(ov.ov_lakes.allocate(1));
  apply_rainfall(ms);
  // Cell 3: half of 36 mm/h passes the canopy, 18 mm/h for 60 s on 900 m2.
  EXPECT_CLOSE(ov.ov_lakes[1].rain_volume, 18.0 * 0.015);
  EXPECT_EQ(ov.ov_depth[3], 0.5);
  EXPECT_CLOSE(ov.interception_volume, 0.3 * 0.9);
  EXPECT_CLOSE(ms.event_rain_vol, (10.0 + 18.0 + 20.0) * 0.015);
  EXPECT_CLOSE(ov.interception_volume + ms.event_rain_vol, (10.0 + 36.0 + 20.0) * 0.015);
}

TEST_F(RainfallStep, ADepthThatIsNoNumberStopsTheRun) {
  model_state& ms = *ms_;
  ms.overland.ov_depth[3] = std::numeric_limits<double>::quiet_NaN();
  stdout_capture capture;
  apply_rainfall(ms);
  const std::string out = capture.stop();
  EXPECT_TRUE(contains(out,
                       "A non-real number for water depth has been detected for overland cell 3 "
                       "after applying rainfall\n"))
      << out;
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(ms.event_rain_vol, 0.0);
}

// --- Point sources ----------------------------------------------------------------------------

class PointSources : public RainfallStep {
 protected:
  void SetUp() override {
    RainfallStep::SetUp();
    model_state& ms = *ms_;
    ms.transport.ov_con_trans = 1;
    ms.overland.ov_point_source = 1;
    ms.transport.ov_con_clock.last = ms.current_time - 60.0 / 86400.0;
    ms.transport.ov_con_clock.next = ms.current_time;
    fill(ms.overland.ov_point_rate, {0.09, 0.0, 0.018, 0.0});
  }
};

TEST_F(PointSources, InflowsRaiseTheDepthsAndTheirVolumesOverTheStep) {
  model_state& ms = *ms_;
  overland_state& ov = ms.overland;
  ov.ov_point_volume_event = 1.0;
  ov.ov_point_volume_total = 10.0;
  apply_overland_point_sources(ms);
  // 0.09 m3/s for 60 s over 900 m2: 6 mm.
  EXPECT_CLOSE(ov.ov_depth[1], 0.006);
  EXPECT_EQ(ov.ov_depth[2], 0.001);
  EXPECT_CLOSE(ov.ov_depth[3], 0.5 + 0.0012);
  EXPECT_CLOSE(ov.ov_point_volume_event, 1.0 + 6.48);
  EXPECT_CLOSE(ov.ov_point_volume_total, 10.0 + 6.48);
}

TEST_F(PointSources, NothingFlowsWithoutBothSwitchesOrBeforeTheStepIsDue) {
  const struct {
    const char* what;
    int ov_con_trans, ov_point_source;
    double next_offset_s;
  } cases[] = {
      {"no overland constituents", 0, 1, 0.0},
      {"no point sources", 1, 0, 0.0},
      {"due a step later", 1, 1, 60.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    model_state& ms = *ms_;
    ms.transport.ov_con_trans = c.ov_con_trans;
    ms.overland.ov_point_source = c.ov_point_source;
    ms.transport.ov_con_clock.next += c.next_offset_s / 86400.0;
    apply_overland_point_sources(ms);
    EXPECT_EQ(ms.overland.ov_depth[1], 0.0);
    EXPECT_EQ(ms.overland.ov_point_volume_total, 0.0);
  }
}

TEST_F(PointSources, OverlandAndInfiltrationAreDueWithinOneInterval) {
  model_state& ms = *ms_;
  const double now = ms.current_time;
  const double step = 60.0 / 86400.0;
  ms.ov_clock.next = now + 10 * step;
  ms.ov_clock.last = now + 9 * step;
  ms.infil_clock.next = now + step / 2;  // already sooner: left alone
  ms.infil_clock.last = now - step / 2;
  apply_overland_point_sources(ms);
  EXPECT_EQ(ms.ov_clock.next, now + step);
  EXPECT_EQ(ms.ov_clock.last, now);
  EXPECT_EQ(ms.infil_clock.next, now + step / 2);
  EXPECT_EQ(ms.infil_clock.last, now - step / 2);
}

// Green-Ampt with redistribution: the first point-source step of an event starts fresh wetting
// fronts; the next one leaves them.
TEST_F(PointSources, TheFirstStepOfAnEventRestartsTheWettingFronts) {
  model_state& ms = *ms_;
  subsurface_state& ss = ms.subsurface;
  ss.inf_redist = 1;
  ss.inf_active = 0;
  fill(ss.iter_pond_1, {3, 3, 3, 3});
  fill(ss.iter_n, {4, 4, 4, 4});
  fill(ss.no_wat_prof, {1, 2, 1, 2});
  fill(ss.iter_i_less_k, {5, 5, 5, 5});
  fill(ss.redist_front_depth, {0.1, 0.1, 0.1, 0.1});
  fill(ss.inf_depth_cum, {0.2, 0.2, 0.2, 0.2});
  fill(ss.inf_depth_prev, {0.3, 0.3, 0.3, 0.3});
  fill(ss.theta_init, {0.25, 0.3, 0.35, 0.4});
  fill(ss.redist_front_theta, {0.0, 0.0, 0.0, 0.0});
  fill(ss.surf_moist, {0.0, 0.0, 0.0, 0.0});
  fill(ss.recharge_inc, {1.0, 0.0, 2.0, 0.0});  // cm
  fill(ss.et_cum_cell, {0.0, 0.5, 0.0, 0.5});   // cm
  apply_overland_point_sources(ms);
  EXPECT_EQ(ss.inf_active, 1);
  for (int c = 1; c <= 4; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(ss.iter_pond_1[c] + ss.iter_n[c] + ss.no_wat_prof[c] + ss.iter_i_less_k[c], 0);
    EXPECT_EQ(ss.redist_front_depth[c] + ss.inf_depth_cum[c] + ss.inf_depth_prev[c], 0.0);
    EXPECT_EQ(ss.redist_front_theta[c], ss.theta_init[c]);
    EXPECT_EQ(ss.surf_moist[c], ss.theta_init[c]);
    EXPECT_EQ(ss.recharge_inc[c] + ss.et_cum_cell[c], 0.0);
  }
  EXPECT_EQ(ss.theta_init[3], 0.35);
  // 3 cm of drainage and 1 cm of evapotranspiration over 900 m2 cells.
  EXPECT_CLOSE(ss.recharge_volume, 27.0);
  EXPECT_CLOSE(ss.et_cell_volume, 9.0);

  ss.iter_n[2] = 7;
  ss.inf_depth_cum[2] = 0.01;
  ms.transport.ov_con_clock.next = ms.current_time;
  apply_overland_point_sources(ms);
  EXPECT_EQ(ss.iter_n[2], 7);
  EXPECT_EQ(ss.inf_depth_cum[2], 0.01);
}

TEST_F(PointSources, ALongTermRunTakesTheMoistureOfTheUpperZoneWithinItsBounds) {
  model_state& ms = *ms_;
  subsurface_state& ss = ms.subsurface;
  ms.long_term = 1;
  ss.inf_redist = 1;
  ss.zone_depth_upper = 50.0;
  fill(ss.theta_init, {0.0, 0.0, 0.0, 0.0});
  fill(ss.porosity_cell, {0.45, 0.45, 0.45, 0.45});
  fill(ss.residual_cell, {0.05, 0.05, 0.05, 0.05});
  // Cell 1: 10 cm of water over the 50 cm upper zone; 2: 2 cm over an unsaturated 20 cm;
  // 3: too little water; 4: the table at the surface.
  fill(ss.wt_depth_cm, {80.0, 20.0, 100.0, 0.0});
  fill(ss.zone_water_upper, {10.0, 2.0, 1.0, 30.0});
  stdout_capture capture;
  apply_overland_point_sources(ms);
  const std::string out = capture.stop();
  EXPECT_DOUBLE_EQ(ss.theta_init[1], 0.2);
  EXPECT_DOUBLE_EQ(ss.theta_init[2], 0.1);
  EXPECT_DOUBLE_EQ(ss.theta_init[3], 0.06);
  EXPECT_DOUBLE_EQ(ss.theta_init[4], 0.45);
  EXPECT_TRUE(contains(out, "cell: 3  thi: 0.020000  thr: 0.050000   phi: 0.450000\n")) << out;
  EXPECT_TRUE(contains(out,
                       "Problem initializing inf_redist in main loop, thi<thr at grid cell 3, "
                       "increasing it to 0.060000\n"))
      << out;
  EXPECT_FALSE(contains(out, "grid cell 4")) << out;
  EXPECT_FALSE(contains(out, "cell: 1 ")) << out;
}

// --- Pumps ------------------------------------------------------------------------------------

TEST(OverlandPumps, PumpsTakeTheirSeriesRateFromTheirCellAtMostItsDepth) {
  torva_test::process_state_guard guard;
  time_series* ts = ts_create();
  snprintf(ts->name, sizeof ts->name, "pumping");
  ts->times = {10.0, 11.0};
  ts->values = {0.0, 0.3};
  ts->count = 2;
  elevation_series* rating = elev_series_new();
  snprintf(rating->name, sizeof rating->name, "rating");
  rating->x = {0.0, 1.0};
  rating->y = {0.0, 0.9};
  rating->count = 2;

  // Pumps in list order: a time-series pump on cell 1, a rating pump on cell 2, a time-series
  // pump that would take more than cell 3 holds, and a pump whose cell lies outside the grid.
  const int cells[] = {1, 2, 3, 9};
  const bool by_depth[] = {false, true, false, false};
  const double time = 10.5;
  const auto rate = [&](std::size_t k, double depth) {
    return by_depth[k] ? elev_series_interp(depth, rating) : ts_value(time, ts);
  };
  raw_array1d<double> depth;
  fill(depth, {0.5, 0.2, 0.001});
  // At day 10.5 the series gives 0.15 m3/s: 0.15 x 60 / 100 m = 0.09 m from cell 1; the
  // rating gives 0.18 m3/s at 0.2 m: 0.108 m from cell 2; cell 3 is emptied.
  const double taken = ov_pump_withdraw(std::span<const int>(cells), rate, all(depth), 60.0, 10.0);
  EXPECT_NEAR(depth[1], 0.41, 1e-12);
  EXPECT_NEAR(depth[2], 0.092, 1e-12);
  EXPECT_EQ(depth[3], 0.0);
  EXPECT_NEAR(taken, (0.09 + 0.108 + 0.001) * 100.0, 1e-10);
  EXPECT_EQ(run_error.error_code, 0);
}

// --- Thread counts ----------------------------------------------------------------------------

// A grid of three passes of blocks and a ragged last block, with random rain, canopies and
// point sources: every array and every sum is the same bit for bit on 1 and 8 threads, and the
// sums agree with plain sums over the cells.
TEST(RainfallThreads, OneAndEightThreadsGiveTheSameBits) {
  torva_test::process_state_guard guard;
  const int n = 3 * rain_sum_block_cells * 256 + 777;
  std::mt19937 random(42);
  std::uniform_real_distribution<double> rain(0.0, 80.0), share(0.0, 1.0), rate(0.0, 0.05);
  raw_array1d<double> capacity, coeff, gross, point_rate;
  raw_array1d<int> lakes;
  for (raw_array1d<double>* a : {&capacity, &coeff, &gross, &point_rate})
    ASSERT_TRUE(a->allocate(n));
  ASSERT_TRUE(lakes.allocate(n));
  for (int i = 1; i <= n; ++i) {
    capacity[i] = 2.0 * share(random);
    coeff[i] = share(random);
    gross[i] = rain(random);
    point_rate[i] = rate(random);
    lakes[i] = i % 97 == 0 ? 1 : 0;
  }

  struct outcome {
    raw_array1d<double> net, used, depth, change, swe;
    double canopy = 0.0, points = 0.0;
    rain_cells_result rain;
  };
  auto run = [&](int threads, outcome& o) {
    omp_set_num_threads(threads);
    for (raw_array1d<double>* a : {&o.net, &o.used, &o.depth, &o.change, &o.swe})
      ASSERT_TRUE(a->allocate(n));
    for (int step = 0; step < 3; ++step)
      rain_interception(n, 60.0, all(capacity), all(coeff), all(gross), all(o.net), all(o.used),
                        o.canopy, 30.0, 3, 1, 40.0, 1, all(lakes));
    rain_cells_views v;
    v.cell_count = n;
    v.dt = 60.0;
    v.dx = 30.0;
    v.intensity = all(o.net);
    v.chan_lake = all(lakes);
    v.depth = all(o.depth);
    v.depth_change = all(o.change);
    v.swe = all(o.swe);
    o.rain = rain_onto_cells(v);
    o.points = point_sources_onto_cells(n, 60.0, 30.0, all(point_rate), all(o.depth));
  };
  outcome one, eight;
  run(1, one);
  run(8, eight);
  const std::size_t bytes = (static_cast<std::size_t>(n) + 1) * sizeof(double);
  EXPECT_EQ(std::memcmp(one.net.data(), eight.net.data(), bytes), 0);
  EXPECT_EQ(std::memcmp(one.used.data(), eight.used.data(), bytes), 0);
  EXPECT_EQ(std::memcmp(one.depth.data(), eight.depth.data(), bytes), 0);
  EXPECT_EQ(one.canopy, eight.canopy);
  EXPECT_EQ(one.rain.volume, eight.rain.volume);
  EXPECT_EQ(one.rain.rate_sum, eight.rain.rate_sum);
  EXPECT_EQ(one.points, eight.points);
  EXPECT_EQ(one.rain.nan_cell, 0);

  double volume = 0.0, rate_sum = 0.0, points = 0.0, held = 0.0;
  for (int i = 1; i <= n; ++i) {
    held += one.used[i] * 0.9;
    points += 60.0 * point_rate[i];
    if (lakes[i] > 0) continue;
    volume += 900.0 * one.net[i] * 60.0 / 3.6e6;
    rate_sum += one.net[i];
  }
  EXPECT_NEAR(one.rain.volume, volume, 1e-9 * volume);
  EXPECT_NEAR(one.rain.rate_sum, rate_sum, 1e-9 * rate_sum);
  EXPECT_NEAR(one.points, points, 1e-9 * points);
  EXPECT_NEAR(one.canopy, held, 1e-9 * held);
}

// The grid without lakes takes its own pass over the cells: it must give what the pass with a
// lake map that holds no lake gives, bit for bit, on any thread count, and name the first depth
// that is not a number in cell order across blocks.
TEST(RainOntoCells, WithoutLakesMatchesAnEmptyLakeMapAndNamesTheFirstBadDepth) {
  const int n = 5000;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> rain(0.0, 80.0);
  raw_array1d<double> intensity;
  raw_array1d<int> no_lakes;
  ASSERT_TRUE(intensity.allocate(n));
  ASSERT_TRUE(no_lakes.allocate(n));
  for (int i = 1; i <= n; ++i) intensity[i] = rain(random);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<int> bad_cells[] = {{}, {4000, 1500, 3000}, {1024, 1025}, {n}};
  const int saved = omp_get_max_threads();
  for (const std::vector<int>& bad : bad_cells) {
    struct outcome {
      raw_array1d<double> depth, change, swe;
      rain_cells_result rain;
    };
    auto run = [&](int threads, bool lake_map, outcome& o) {
      omp_set_num_threads(threads);
      for (raw_array1d<double>* a : {&o.depth, &o.change, &o.swe}) ASSERT_TRUE(a->allocate(n));
      for (int i = 1; i <= n; ++i) {
        o.depth[i] = i % 3 == 0 ? 0.001 * (i % 11) : 0.0;
        o.change[i] = i % 4 == 0 ? 0.5 : (i % 4 == 1 ? -0.0 : 0.0);
      }
      o.change[7] = nan;
      for (const int c : bad) o.depth[c] = nan;
      rain_cells_views v;
      v.cell_count = n;
      v.dt = 60.0;
      v.dx = 30.0;
      v.intensity = all(intensity);
      if (lake_map) v.chan_lake = all(no_lakes);
      v.depth = all(o.depth);
      v.depth_change = all(o.change);
      v.swe = all(o.swe);
      o.rain = rain_onto_cells(v);
    };
    const int first_bad = bad.empty() ? 0 : *std::min_element(bad.begin(), bad.end());
    const std::size_t bytes = (static_cast<std::size_t>(n) + 1) * sizeof(double);
    outcome mapped;
    run(1, true, mapped);
    EXPECT_EQ(mapped.rain.nan_cell, first_bad);
    for (const int threads : {1, 8}) {
      SCOPED_TRACE("first bad " + std::to_string(first_bad) + ", threads " +
                   std::to_string(threads));
      outcome plain;
      run(threads, false, plain);
      EXPECT_EQ(std::memcmp(plain.depth.data(), mapped.depth.data(), bytes), 0);
      EXPECT_EQ(std::memcmp(plain.change.data(), mapped.change.data(), bytes), 0);
      EXPECT_EQ(plain.rain.volume, mapped.rain.volume);
      EXPECT_EQ(plain.rain.rate_sum, mapped.rain.rate_sum);
      EXPECT_EQ(plain.rain.nan_cell, first_bad);
      for (int i = 1; i <= n; ++i)
        ASSERT_FALSE(std::signbit(plain.change[i]) || plain.change[i] != 0.0) << i;
    }
  }
  omp_set_num_threads(saved);
}

}  // namespace
