// The aquifer under a soil of zones: the storage profile of a cell (water as a function of the
// head through the layers, and its inverse), the placing of a head that crossed a layer
// boundary, and the wetted zone that follows the table, every move of water between the zone
// and the recharge booked.
#include <gtest/gtest.h>

#include <memory>

#include "framework/model_state.h"
#include "subsurface/gw_soil_zone.h"
#include "support/test_support.h"

namespace {

// One cell of the layered soil: ground 10 m, layer 1 20 cm (porosity 0.45, field capacity
// 0.25, residual 0.05), layer 2 40 cm (0.40, 0.30, 0.08), over an aquifer of porosity 0.30 whose
// bottom lies at 0 m, the unsaturated zone below the soil keeping a content of 0.12.
std::unique_ptr<model_state> layered_cell(double head) {
  auto ms = std::make_unique<model_state>();
  ms->cell_count = 1;
  ms->gridsize = 10.0;
  ms->long_term = 1;
  subsurface_state& ss = ms->subsurface;
  ss.gw_simulation = 1;
  ss.inf_layered_soil = 1;
  ms->cell_elev.allocate(1);
  ms->cell_elev[1] = 10.0;
  for (auto* a : {&ss.elevgw, &ss.bottom_elev, &ss.gw_porosity, &ss.gw_inf_redist_theta,
                  &ss.wt_depth_cm, &ss.zone_water_upper, &ss.zone_water_lower, &ss.soil_water_total,
                  &ss.recharge_inc, &ss.recharge_cum})
    a->allocate(1);
  ss.soiltype.allocate(1);
  ss.soiltype[1] = 3;
  soil_table_record& s = ss.soil_types[3];
  s.layer_depth[0] = 20.0;
  s.layer_depth[1] = 40.0;
  s.layer_porosity[0] = 0.45;
  s.layer_porosity[1] = 0.40;
  s.layer_field_capacity[0] = 0.25;
  s.layer_field_capacity[1] = 0.30;
  s.layer_residual_moisture[0] = 0.05;
  s.layer_residual_moisture[1] = 0.08;
  ss.elevgw[1] = head;
  ss.bottom_elev[1] = 0.0;
  ss.gw_porosity[1] = 0.30;
  ss.gw_inf_redist_theta[1] = 0.12;
  ms->groundwater.held.allocate(1);
  ms->groundwater.head_step.allocate(1);
  ms->groundwater.storage.allocate(1);
  return ms;
}

TEST(GwSoilZone, TheProfileHoldsTheWaterOfEachLayerTheTableFills) {
  auto ms = layered_cell(5.0);
  const gw_storage_profile p = gw_cell_profile(*ms, 1);
  // Below the soil (foot at 9.4 m) the table moves by 0.30 - 0.12; the aquifer holds the
  // retained 0.12 over the whole unsaturated height at a head on the bottom.
  const struct {
    double head;
    double water;  // m, by hand
    double slope;
  } rows[] = {
      {-1.0, 0.12 * 9.4 - 0.18 * 1.0, 0.18},
      {0.0, 0.12 * 9.4, 0.18},
      {5.0, 0.12 * 9.4 + 0.18 * 5.0, 0.18},
      {9.4, 0.12 * 9.4 + 0.18 * 9.4, 0.40},  // on the foot of the soil: layer 2 above
      {9.6, 0.30 * 9.4 + 0.40 * 0.2, 0.40},
      {9.8, 0.30 * 9.4 + 0.40 * 0.4, 0.45},  // on the foot of layer 1
      {9.9, 0.30 * 9.4 + 0.40 * 0.4 + 0.45 * 0.1, 0.45},
      {10.5, 0.30 * 9.4 + 0.40 * 0.4 + 0.45 * 0.2 + 0.5, 1.0},  // open water above the ground
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.head);
    EXPECT_NEAR(gw_profile_water(p, r.head), r.water, 1e-12);
    EXPECT_NEAR(gw_profile_head(p, r.water), r.head, 1e-12);
    EXPECT_EQ(gw_profile_slope(p, r.head), r.slope);
  }
}

TEST(GwSoilZone, AHeadThatCrossedALayerBoundaryIsPlacedByTheWaterTheSolveStored) {
  // The step began in layer 2 (storage 0.40) at 9.7 m; the solve stored 0.40 x 0.2 m and put
  // the head at 9.9 m, across the foot of layer 1 at 9.8 m: 0.04 m fill layer 2, the other
  // 0.04 m rise 0.04 / 0.45 into layer 1. A head that stayed in its layer is left alone, and
  // so is a held one.
  const struct {
    double start, solved;
    unsigned char held;
    double placed;
  } rows[] = {
      {9.7, 9.9, 0, 9.8 + 0.04 / 0.45},
      {9.9, 9.6, 0, 9.8 - (0.45 * 0.1 + 0.45 * 0.2 - 0.45 * 0.1) / 0.40},
      {9.7, 9.75, 0, 9.75},
      {9.7, 9.9, 1, 9.9},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.start);
    auto ms = layered_cell(r.solved);
    ms->groundwater.head_step[1] = r.start;
    ms->groundwater.held[1] = r.held;
    ms->groundwater.storage[1] = gw_profile_slope(gw_cell_profile(*ms, 1), r.start);
    gw_place_heads(*ms);
    EXPECT_NEAR(ms->subsurface.elevgw[1], r.placed, 1e-12);
  }
}

// The zone after the table moved: its depth, its two stores and what went to the recharge (cm),
// with the water of zone and recharge together unchanged.
TEST(GwSoilZone, TheWettedZoneFollowsTheTableAndBooksEveryMoveOfWaterToTheRecharge) {
  const struct {
    const char* what;
    double head;                 // after the solve (m)
    double depth, upper, lower;  // the zone before (cm)
    double depth_after, upper_after, lower_after, recharge;
  } rows[] = {
      {"the table fell 10 cm in layer 2: the new part at field capacity", 9.5, 40.0, 6.0, 6.0, 50.0,
       6.0, 9.0, -3.0},
      {"the table fell from layer 1 into layer 2", 9.7, 10.0, 3.0, 0.0, 30.0, 3.0 + 10.0 * 0.25,
       10.0 * 0.30, -(10.0 * 0.25 + 10.0 * 0.30)},
      {"the table fell below the soil: the zone stops at its foot", 9.0, 40.0, 6.0, 6.0, 60.0, 6.0,
       12.0, -6.0},
      {"the table rose 10 cm in layer 2: the zone keeps its water", 9.7, 40.0, 6.0, 3.0, 30.0, 6.0,
       3.0, 0.0},
      {"the table rose into layer 1: the lower zone joins the upper one, its excess over the "
       "porosity goes down",
       9.9, 40.0, 6.0, 3.0, 10.0, 4.5, 0.0, 4.5},
      {"a zone below its residual content takes the shortfall", 9.6, 40.0, 0.5, 6.0, 40.0, 1.0, 6.0,
       -0.5},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    auto ms = layered_cell(r.head);
    subsurface_state& ss = ms->subsurface;
    ss.wt_depth_cm[1] = r.depth;
    ss.zone_water_upper[1] = r.upper;
    ss.zone_water_lower[1] = r.lower;
    ss.recharge_inc[1] = 1.0;
    ss.recharge_cum[1] = 2.0;
    gw_reconcile_soil_zone(*ms);
    EXPECT_NEAR(ss.wt_depth_cm[1], r.depth_after, 1e-9);
    EXPECT_NEAR(ss.zone_water_upper[1], r.upper_after, 1e-9);
    EXPECT_NEAR(ss.zone_water_lower[1], r.lower_after, 1e-9);
    EXPECT_NEAR(ss.soil_water_total[1], r.upper_after + r.lower_after, 1e-9);
    EXPECT_NEAR(ss.recharge_inc[1], 1.0 + r.recharge, 1e-9);
    EXPECT_NEAR(ss.recharge_cum[1], 2.0 + r.recharge, 1e-9);
    EXPECT_NEAR(ss.zone_water_upper[1] + ss.zone_water_lower[1] + ss.recharge_inc[1],
                r.upper + r.lower + 1.0, 1e-9);
  }
}

}  // namespace
