// The bounds on the grids VOLP returns between two events of a TEV run: moisture kept inside the
// soil's range measured from its residual content, roughness of none or below replaced by the
// default.
#include <gtest/gtest.h>

#include "output/volp_exchange.h"

TEST(VolpReadBack, MoistureIsKeptWithinTheSoilsRangeAboveItsResidualContent) {
  struct row {
    double theta, porosity, residual, expected;
  };
  const row rows[] = {
      {0.60, 0.40, 0.05, 0.99 * 0.35 + 0.05},  // above the porosity: 99 % of the range
      {0.40, 0.40, 0.05, 0.40},                // at the porosity: kept
      {0.03, 0.40, 0.05, 0.05 + 0.01 * 0.35},  // below the residual content: 1 % of the range
      {0.05, 0.40, 0.05, 0.05 + 0.01 * 0.35},  // at it: the front would meet no room
      {0.20, 0.40, 0.05, 0.20},                // inside the range: kept
      {0.50, 0.475, 0.0, 0.99 * 0.475},        // no residual content kept: from zero
      {-0.1, 0.475, 0.0, 0.01 * 0.475},
  };
  for (const row& r : rows)
    EXPECT_DOUBLE_EQ(volp_moisture_bounded(r.theta, r.porosity, r.residual), r.expected)
        << r.theta << " " << r.porosity << " " << r.residual;
}

TEST(VolpReadBack, RoughnessOfNoneOrBelowBecomesTheDefault) {
  EXPECT_EQ(volp_roughness_or_default(0.0), 0.04);
  EXPECT_EQ(volp_roughness_or_default(-1.0), 0.04);
  EXPECT_EQ(volp_roughness_or_default(0.2), 0.2);
}
