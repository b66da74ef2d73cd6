// The water content of the layered soil's carrier layers from the water of the soil's two
// layers: spread over the carriers that share a soil layer, the porosity below a water table,
// by hand.
#include <gtest/gtest.h>

#include "subsurface/subsurface_steps.h"

namespace {

TEST(LayeredSoilWater, CarrierLayersShareTheirSoilLayersWaterAndFillBelowTheTable) {
  constexpr double phi1 = 0.45, phi2 = 0.4;
  struct row {
    const char* what;
    int layers;
    double t1, t2, t3;  // m
    double table;       // cm below the ground
    double theta1, theta2, theta3;
  };
  // Layer 1 of 10 cm holds 4 cm of water, layer 2 of 20 cm 6 cm.
  const row rows[] = {
      {"two carriers, no table", 2, 0.1, 0.2, 0.0, 31.0, 0.4, 0.3, 0.0},
      {"two carriers, table in layer 2", 2, 0.1, 0.2, 0.0, 15.0, 0.4, (6.0 + 15.0 * phi2) / 20.0,
       0.0},
      {"three carriers, no table", 3, 0.02, 0.08, 0.2, 31.0, 0.4, 0.4, 0.3},
      {"three carriers, table in layer 2", 3, 0.02, 0.08, 0.2, 20.0, 0.4, 0.4,
       (10.0 * phi2 + 6.0) / 20.0},
      {"table at the ground", 3, 0.02, 0.08, 0.2, 0.0, phi1, phi1, phi2},
  };
  for (const row& r : rows) {
    const double thickness[4] = {0.0, r.t1, r.t2, r.t3};
    double theta[4] = {};
    soil_layer_water_content(4.0, 6.0, r.table, thickness, r.layers, phi1, phi2, theta);
    EXPECT_NEAR(theta[1], r.theta1, 1e-12) << r.what;
    EXPECT_NEAR(theta[2], r.theta2, 1e-12) << r.what;
    if (r.layers == 3) {
      EXPECT_NEAR(theta[3], r.theta3, 1e-12) << r.what;
    }
  }
}

}  // namespace
