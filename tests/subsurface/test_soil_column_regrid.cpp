// The Richards column at a moving water table: the rebuilt column reaches the table with one
// saturated node below it, keeps its water where the table stays, reports every change of its
// water, and leaves no sliver node at a layer boundary.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "subsurface/soil_column_regrid.h"

namespace {

constexpr int capacity = 80;

// A Brooks-Corey soil of three layers, 10, 20 and 30 cm, nodes of 2, 4 and 5 cm, over an
// aquifer of 10 cm nodes.
soil_table_record layered_soil() {
  soil_table_record s;
  const double depth[3] = {10.0, 20.0, 30.0}, spacing[3] = {2.0, 4.0, 5.0};
  const double porosity[3] = {0.45, 0.40, 0.35};
  for (int L = 0; L < 3; ++L) {
    s.layer_depth[L] = depth[L];
    s.layer_node_spacing[L] = spacing[L];
    s.layer_porosity[L] = porosity[L];
    s.layer_residual_moisture[L] = 0.05;
    s.layer_hyd_cond[L] = 2.0;
    s.layer_pore_index[L] = 0.4;
    s.layer_bubbling_pressure[L] = -20.0;
    s.layer_wilting_point[L] = 0.1;
    s.layer_field_capacity[L] = 0.25;
  }
  return s;
}

struct column_arrays {
  std::vector<double> a[16];
  std::vector<double> work = std::vector<double>(2 * (capacity + 1));
  regrid_column col;
  column_arrays() {
    for (std::vector<double>& x : a) x.assign(capacity + 1, 0.0);
    col = {a[0].data(),  a[1].data(),  a[2].data(),  a[3].data(),  a[4].data(),  a[5].data(),
           a[6].data(),  a[7].data(),  a[8].data(),  a[9].data(),  a[10].data(), a[11].data(),
           a[12].data(), a[13].data(), a[14].data(), a[15].data(), capacity};
  }
  double water(int n) const {
    double sum = 0.0;
    for (int j = 1; j <= n - 1; ++j) sum += col.theta[j] * col.dz[j];
    return sum;
  }
};

// The column is consistent with the table: thicknesses reach it, the last node is saturated
// with half its thickness as head, no node is a sliver, contents lie within their range, and
// saturated nodes above the table are hydrostatic.
void expect_consistent(const regrid_column& c, int n, double ground, double head) {
  double depth = 0.0;
  for (int j = 1; j <= n - 1; ++j) {
    depth += c.dz[j];
    EXPECT_GT(c.dz[j], 2.0 / 10000.0) << j;
    EXPECT_LE(c.theta[j], c.thetas[j]) << j;
    EXPECT_GT(c.theta[j], c.thetar[j]) << j;
  }
  EXPECT_NEAR(depth, (ground - head) * 100.0, 1e-9);
  EXPECT_EQ(c.theta[n], c.thetas[n]);
  EXPECT_EQ(c.phead[n], 0.5 * c.dz[n]);
  for (int j = n - 1; j >= 1 && c.theta[j] >= c.thetas[j]; --j)
    EXPECT_NEAR(c.phead[j], c.phead[j + 1] - 0.5 * (c.dz[j] + c.dz[j + 1]), 1e-9) << j;
}

// A column first built over a table 80 cm down (into the aquifer nodes) and drained to a
// content of 0.2, then regridded as the table moves: the same table keeps every node's water;
// a table that rises reports the water of the soil it fills as lost by the column; one that
// falls reports the water of the soil it leaves (still full) as gained; a table a few
// millimetres below a layer boundary leaves no sliver node; a table at the ground leaves one
// node with the ponded head.
TEST(SoilColumnRegrid, TheColumnFollowsTheTableAndReportsEveryChangeOfItsWater) {
  const soil_table_record s = layered_soil();
  const double ground = 100.0;
  column_arrays c;
  regrid_result r = gw_soil_column_regrid(c.col, 0, s, soil_model_brooks_corey, ground,
                                          ground - 0.8, 0.1, c.work.data());
  ASSERT_TRUE(r.fits);
  int n = r.nodes;
  expect_consistent(c.col, n, ground, ground - 0.8);
  // 5 + 5 + 6 soil nodes and two of the aquifer above the table, then the saturated node.
  EXPECT_EQ(n, 19);
  for (int j = 1; j <= n - 1; ++j) c.col.theta[j] = 0.2;
  const double start = c.water(n);
  EXPECT_NEAR(start, 0.2 * 80.0, 1e-9);

  // The same table: nothing moves.
  const std::vector<double> dz_before(c.col.dz, c.col.dz + n + 1);
  r = gw_soil_column_regrid(c.col, n, s, soil_model_brooks_corey, ground, ground - 0.8, 0.1,
                            c.work.data());
  EXPECT_EQ(r.nodes, n);
  EXPECT_NEAR(r.gained, 0.0, 1e-12);
  for (int j = 1; j <= n - 1; ++j) {
    EXPECT_EQ(c.col.dz[j], dz_before[j]) << j;
    EXPECT_NEAR(c.col.theta[j], 0.2, 1e-15) << j;
  }

  struct move {
    const char* what;
    double head;    // m
    double gained;  // cm, by the water of the depth the table swept
  };
  const move moves[] = {
      // Up 25 cm into layer 3 (60 cm down): the 20 cm of soil at 0.2 below it is the table's.
      {"the table rises", ground - 0.55, -0.2 * 25.0},
      // Down 30 cm: the soil it leaves holds its saturated content (layer 3 then aquifer 0.35).
      {"the table falls", ground - 0.85, 0.35 * 30.0},
      // 2 um below the boundary of layers 1 and 2: a sliver of a twenty-thousandth of layer 2's
      // node thickness, which joins the last node of layer 1.
      {"the table just below a layer boundary", ground - 0.100002, 0.0},
  };
  for (const move& m : moves) {
    SCOPED_TRACE(m.what);
    const double before = c.water(n);
    r = gw_soil_column_regrid(c.col, n, s, soil_model_brooks_corey, ground, m.head, 0.1,
                              c.work.data());
    ASSERT_TRUE(r.fits);
    n = r.nodes;
    expect_consistent(c.col, n, ground, m.head);
    EXPECT_NEAR(r.gained, c.water(n) - before, 1e-9);
    if (m.gained != 0.0) {
      EXPECT_NEAR(r.gained, m.gained, 1e-9);
    } else {
      EXPECT_EQ(n, 6);  // five layer-1 nodes, the last 2.0002 cm, and the saturated node
      EXPECT_NEAR(c.col.dz[5], 2.0002, 1e-9);
    }
  }

  // At the ground: one node under the ponded head, and all the column's water went.
  const double before = c.water(n);
  r = gw_soil_column_regrid(c.col, n, s, soil_model_brooks_corey, ground, ground + 0.05, 0.1,
                            c.work.data());
  EXPECT_EQ(r.nodes, 1);
  EXPECT_EQ(r.yes_exfil, 1);
  EXPECT_NEAR(c.col.phead[1], 5.0 + 1.0, 1e-9);
  EXPECT_NEAR(r.gained, -before, 1e-12);

  // A column that would need more nodes than it holds is left as it was.
  r = gw_soil_column_regrid(c.col, 1, s, soil_model_brooks_corey, ground, ground - 50.0, 0.1,
                            c.work.data());
  EXPECT_FALSE(r.fits);
  EXPECT_EQ(r.nodes, 1);
}

}  // namespace
