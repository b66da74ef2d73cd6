// The kernels of the sediment-bound constituents: linear equilibrium partitioning between the
// water and the fine suspended sediment against hand-computed shares, and the payload that the
// overland sediment step moves with the sediment (erosion from the soil's sorbed store, moves
// between cells and out through the outlet, settling back into the soil), which keeps every gram.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "transport/contaminants/contam_kernels.h"
#include "transport/contaminants/sed_contam.h"

namespace sed_contam_tests {

// Per-class volume rows [k][slot] for up to three classes, slot 2 the suspended volume.
struct class_volumes {
  double rows[4][5] = {};
  double* table[4] = {rows[0], rows[1], rows[2], rows[3]};
};

TEST(SedContamPartition, SharesTheMassAsTheHandComputedEquilibrium) {
  struct row {
    const char* what;
    double kd;                 // L/kg
    int sand[4];               // per class 1..3
    double density;            // g/m3 of every class
    double suspended[4];       // m3 per class
    double water;              // m3
    double dissolved, bound1;  // g before
    double expect_dissolved;   // g after, by hand
  };
  // K Ck = kd / 1e6 x density x volume / water.
  const row rows[] = {
      // 1000 L/kg on 1000 g/m3 of one fine class: K Ck = 1, half and half.
      {"one fine class",
       1000.0,
       {0, 0, 1, 1},
       2.65e6,
       {0, 1000.0 / 2.65e6 * 10.0, 0, 0},
       10.0,
       80.0,
       20.0,
       50.0},
      // Two fine classes of 500 g/m3 each at 2000 L/kg: S = 1 + 1, dissolved a third.
      {"two fine classes",
       2000.0,
       {0, 0, 0, 1},
       2.65e6,
       {0, 500.0 / 2.65e6 * 4.0, 500.0 / 2.65e6 * 4.0, 1.0},
       4.0,
       60.0,
       0.0,
       20.0},
      // No sorption: the bound mass all goes into the water.
      {"Kd 0", 0.0, {0, 0, 1, 1}, 2.65e6, {0, 1e-3, 1.0, 0}, 2.0, 5.0, 7.0, 12.0},
      // A sand class takes nothing, however much of it is suspended.
      {"sand only", 5000.0, {0, 1, 1, 1}, 2.65e6, {0, 1.0, 1.0, 1.0}, 2.0, 5.0, 0.0, 5.0},
      // A cell without water keeps its shares as they are.
      {"dry cell", 1000.0, {0, 0, 1, 1}, 2.65e6, {0, 1e-3, 0, 0}, 1e-17, 3.0, 4.0, 3.0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    class_volumes v;
    double density[4];
    for (int k = 0; k < 4; ++k) {
      v.rows[k][2] = r.suspended[k];
      density[k] = r.density;
    }
    double bound[4] = {0.0, r.bound1, 0.0, 0.0};
    const double total = r.dissolved + r.bound1;
    const double d =
        partition_cell(r.kd, 3, r.sand, density, v.table, 2, r.water, r.dissolved, bound);
    EXPECT_NEAR(d, r.expect_dissolved, 1e-12 * total);
    // Every class's bound mass over the dissolved mass is its K Ck; the total is kept.
    EXPECT_NEAR(d + bound[1] + bound[2] + bound[3], total, 1e-12 * total);
    if (r.water > 1e-16) {
      for (int k = 1; k <= 3; ++k) {
        const double kck = r.sand[k] ? 0.0 : r.kd / 1e6 * r.density * r.suspended[k] / r.water;
        EXPECT_NEAR(bound[k], kck * d, 1e-12 * total) << "class " << k;
      }
    } else {
      EXPECT_EQ(bound[1], r.bound1);
    }
  }
}

// A row of three cells with two classes (1 fine, 2 sand) and one constituent: a soil layer of
// 0.1 m over cells of 100 m2 with porosity 0.4 and 30 % fine soil, so the fine solids of the
// layer are 0.1 x 100 x 0.6 x 0.3 = 1.8 m3.
struct payload_fixture {
  int sand[3] = {0, 0, 1};
  std::vector<double> bound_rows = std::vector<double>(4 * 3, 0.0);
  double* bound_cells[4];
  double** bound_planes[2];
  double eroded[4] = {}, deposited[4] = {}, land[4] = {}, kd[4] = {0, 1.0, 1.0, 1.0};
  double* eroded_rows[2] = {nullptr, eroded};
  double* deposited_rows[2] = {nullptr, deposited};
  double* land_rows[2] = {nullptr, land};
  double* kd_rows[2] = {nullptr, kd};
  double soil_rows[4][2] = {};
  double* soil_cells[4] = {soil_rows[0], soil_rows[1], soil_rows[2], soil_rows[3]};
  double** soil_planes[2] = {nullptr, soil_cells};
  double theta_rows[4][2] = {{0, 0}, {0, 0.3}, {0, 0.3}, {0, 0.3}};
  double* theta[4] = {theta_rows[0], theta_rows[1], theta_rows[2], theta_rows[3]};
  double porosity[4] = {0, 0.4, 0.4, 0.4};
  double fract_slots[4][3][5] = {};
  double* fract_classes[4][3];
  double* const* fract_cells[4];
  double outlet[2] = {};
  bound_payload p;

  payload_fixture() {
    for (int cell = 0; cell < 4; ++cell) {
      bound_cells[cell] = bound_rows.data() + 3 * cell;
      for (int k = 0; k < 3; ++k) fract_classes[cell][k] = fract_slots[cell][k];
      fract_cells[cell] = fract_classes[cell];
      fract_slots[cell][1][1] = 0.3;
      fract_slots[cell][2][1] = 0.7;
    }
    bound_planes[1] = bound_cells;
    p.constituents = 1;
    p.classes = 2;
    p.sand = sand;
    p.bound = bound_planes;
    p.eroded = eroded_rows;
    p.deposited = deposited_rows;
    p.outlet = outlet;
    p.soil = soil_planes;
    p.land = land_rows;
    p.soil_kd = kd_rows;
    p.theta = theta;
    p.porosity = porosity;
    p.fract = fract_cells;
    p.layer_thickness = 0.1;
    p.area = 100.0;
  }
  double held() const {
    double sum = outlet[1];
    for (int cell = 1; cell <= 3; ++cell)
      sum += soil_rows[cell][1] + bound_cells[cell][1] + bound_cells[cell][2];
    return sum;
  }
};

TEST(SedContamPayload, ErosionMovesAndSettlingKeepEveryGram) {
  payload_fixture f;
  for (int cell = 1; cell <= 3; ++cell) f.soil_rows[cell][1] = f.land[cell] = 900.0;
  const double start = f.held();

  // Erosion of 0.018 m3 of fine and 0.5 m3 of sand sediment from cell 1: the fine share of
  // the layer's sorbed mass, sorbed / 1.8 m3 x 0.018 m3, moves to the bound phase; sand takes
  // nothing.
  const double sorbed = 900.0 * (1.0 - soil_dissolved_fraction(0.3, 1.0));
  const double eroded_volume[3] = {0.518, 0.018, 0.5};
  bound_pickup(f.p, 1, eroded_volume);
  EXPECT_NEAR(f.bound_cells[1][1], sorbed / 1.8 * 0.018, 1e-12);
  EXPECT_EQ(f.bound_cells[1][2], 0.0);
  EXPECT_NEAR(f.soil_rows[1][1], 900.0 - sorbed / 1.8 * 0.018, 1e-12);
  EXPECT_EQ(f.land[1], f.soil_rows[1][1]);
  EXPECT_EQ(f.eroded[1], f.bound_cells[1][1]);

  // More erosion than the layer's fine solids hold takes no more than its sorbed mass.
  const double flood[3] = {10.0, 10.0, 0.0};
  bound_pickup(f.p, 2, flood);
  EXPECT_NEAR(f.bound_cells[2][1], sorbed, 1e-9);
  EXPECT_NEAR(f.soil_rows[2][1], 900.0 - sorbed, 1e-9);

  // A quarter of cell 1's fine sediment moves to cell 3, then half of cell 3's out through the
  // outlet; 40 % of cell 2's settles.
  const double b1 = f.bound_cells[1][1];
  bound_move(f.p, 1, 3, 1, 0.25);
  bound_move(f.p, 3, 0, 1, 0.5);
  bound_move(f.p, 1, 2, 2, 1.0);  // sand: nothing bound moves
  bound_settle(f.p, 2, 1, 0.4);
  EXPECT_NEAR(f.bound_cells[1][1], 0.75 * b1, 1e-12);
  EXPECT_NEAR(f.bound_cells[3][1], 0.125 * b1, 1e-12);
  EXPECT_NEAR(f.outlet[1], 0.125 * b1, 1e-12);
  EXPECT_NEAR(f.deposited[2], 0.4 * sorbed, 1e-9);
  EXPECT_NEAR(f.soil_rows[2][1], 900.0 - 0.6 * sorbed, 1e-9);
  EXPECT_NEAR(f.held(), start, 1e-9);
}

// A grain of the soil's fine sediment carries the soil's sorbed tracer per fine solids volume,
// sorbed / V (V = 1.8 m3 here), whether the flow takes it from the parent soil or from the loose
// deposit: settled sediment gives its bound tracer back to the soil layer, so the deposit is part
// of the layer and pays the layer's share again when it rises. One cell erodes 0.018 m3 of
// fine sediment, shares it with the water, settles it all and has it resuspended: each rise takes
// s / V of the layer's mass per m3 (s the sorbed share), so the layer keeps
// M (1 - s e / V) after a rise. In a dry cell nothing partitions: the grain settles with its
// load and its second rise takes that same load again, a net loss of one load. Under water that
// sorbs nothing (Kd 0) the grain hands all of its load to the water and settles clean; its second
// rise takes a fresh load, a net loss of two loads for one grain of net erosion.
TEST(SedContamPayload, AResuspendedDepositTakesTheSoilsSorbedShareAgain) {
  struct row {
    const char* what;
    double water;    // m3 of water over the cell
    int rises_paid;  // loads of the soil the grain leaves in the water
  };
  const row rows[] = {{"a dry cell", 0.0, 1}, {"water that sorbs nothing", 5.0, 2}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    payload_fixture f;
    const double m0 = 900.0;
    f.soil_rows[1][1] = f.land[1] = m0;
    const double s = 1.0 - soil_dissolved_fraction(0.3, 1.0);  // 0.7 x 2.65 / 2.155
    const double keep = 1.0 - s * 0.018 / 1.8;                 // share a rise leaves the layer
    const double eroded_volume[3] = {0.018, 0.018, 0.0};
    const double density[3] = {0.0, 2.65e6, 2.65e6};
    class_volumes suspended;
    suspended.rows[1][2] = 0.018;

    bound_pickup(f.p, 1, eroded_volume);
    EXPECT_NEAR(f.soil_rows[1][1], m0 * keep, 1e-9);
    double dissolved =
        partition_cell(0.0, 2, f.sand, density, suspended.table, 2, r.water, 0.0, f.bound_cells[1]);
    bound_settle(f.p, 1, 1, 1.0);
    bound_pickup(f.p, 1, eroded_volume);
    dissolved = partition_cell(0.0, 2, f.sand, density, suspended.table, 2, r.water, dissolved,
                               f.bound_cells[1]);

    const double one_load = m0 * (1.0 - keep);
    const double lost = r.rises_paid == 1 ? one_load : m0 * (1.0 - keep * keep);
    EXPECT_NEAR(m0 - f.soil_rows[1][1], lost, 1e-9);
    EXPECT_NEAR(f.bound_cells[1][1] + dissolved, lost, 1e-9);
    EXPECT_EQ(f.land[1], f.soil_rows[1][1]);
    EXPECT_NEAR(f.held() + dissolved, m0, 1e-9);
  }
}

// Over the layered soil the eroded soil is each cell's first carrier layer, with that cell's
// thickness and porosity (the single-layer thickness and the cell porosity map are set to other
// values the pickup must not use): 0.018 m3 of fine sediment takes sorbed x 0.018 / V, V the
// layer's fine solids, thickness x 100 m2 x (1 - porosity) x 0.3.
TEST(SedContamPayload, OverTheLayeredSoilErosionTakesEachCellsFirstCarrierLayer) {
  struct layer_case {
    double thickness, porosity, solids;  // m, -, m3 of fine solids by hand
  };
  const layer_case cases[] = {
      {0.05, 0.5, 0.05 * 100.0 * 0.5 * 0.3},
      {0.2, 0.25, 0.2 * 100.0 * 0.75 * 0.3},
      {0.1, 0.45, 0.1 * 100.0 * 0.55 * 0.3},
  };
  payload_fixture f;
  double thickness_rows[4][2] = {}, porosity_rows[4][2] = {};
  double* thickness[4] = {thickness_rows[0], thickness_rows[1], thickness_rows[2],
                          thickness_rows[3]};
  double* porosity[4] = {porosity_rows[0], porosity_rows[1], porosity_rows[2], porosity_rows[3]};
  for (int cell = 1; cell <= 3; ++cell) {
    thickness_rows[cell][1] = cases[cell - 1].thickness;
    porosity_rows[cell][1] = cases[cell - 1].porosity;
    f.porosity[cell] = 0.1;
    f.soil_rows[cell][1] = f.land[cell] = 900.0;
  }
  f.p.layer_thickness = 0.4;
  f.p.carrier_thickness = thickness;
  f.p.carrier_porosity = porosity;
  const double start = f.held();
  const double sorbed = 900.0 * (1.0 - soil_dissolved_fraction(0.3, 1.0));
  const double eroded_volume[3] = {0.518, 0.018, 0.5};
  for (int cell = 1; cell <= 3; ++cell) {
    SCOPED_TRACE("cell " + std::to_string(cell));
    bound_pickup(f.p, cell, eroded_volume);
    const double taken = sorbed / cases[cell - 1].solids * 0.018;
    EXPECT_NEAR(f.bound_cells[cell][1], taken, 1e-12);
    EXPECT_NEAR(f.soil_rows[cell][1], 900.0 - taken, 1e-12);
    EXPECT_EQ(f.land[cell], f.soil_rows[cell][1]);
  }
  EXPECT_NEAR(f.held(), start, 1e-9);
}

// The fixture's cells with one channel lake (its wash-load row 2 of a chan_bound plane, the fine
// class at position 1) and one overland lake: the fine sediment a cell hands a lake takes its
// share of the cell's bound mass into the lake's store, the lake's water gives its share back to
// a cell or out through the outlet, settling in the overland lake takes its share to the bed,
// sand carries nothing, and the books (handed to the lakes net, settled) account for every gram.
TEST(SedContamPayload, LakesTakeHoldSettleAndGiveBackTheSedimentsShare) {
  payload_fixture f;
  double lake_rows[3][2] = {};
  double* lake_row_table[3] = {lake_rows[0], lake_rows[1], lake_rows[2]};
  double** lake_planes[2] = {nullptr, lake_row_table};
  const int fine_position[3] = {0, 1, 0};
  double to_lakes[2] = {}, to_olakes[2] = {}, olake_settled[2] = {};
  double olake_rows[2][3] = {};
  double* olake_table[2] = {olake_rows[0], olake_rows[1]};
  double** olake_planes[2] = {nullptr, olake_table};
  f.p.lake_bound = lake_planes;
  f.p.lake_row0 = 1;
  f.p.fine_position = fine_position;
  f.p.to_lakes = to_lakes;
  f.p.olake_bound = olake_planes;
  f.p.to_olakes = to_olakes;
  f.p.olake_settled = olake_settled;
  for (int cell = 1; cell <= 3; ++cell) f.bound_cells[cell][1] = 100.0 * cell;
  auto held = [&] {
    return f.held() + lake_rows[2][1] + olake_rows[1][1] + olake_rows[1][2] + olake_settled[1];
  };
  const double start = held();

  bound_into_lake(f.p, 1, 1, 1, 0.5);   // 50 g of cell 1 into the channel lake
  bound_into_lake(f.p, 2, 1, 2, 1.0);   // sand: nothing
  bound_into_olake(f.p, 2, 1, 1, 1.0);  // all 200 g of cell 2 into the overland lake
  EXPECT_EQ(f.bound_cells[1][1], 50.0);
  EXPECT_EQ(lake_rows[2][1], 50.0);
  EXPECT_EQ(f.bound_cells[2][1], 0.0);
  EXPECT_EQ(olake_rows[1][1], 200.0);
  EXPECT_EQ(to_lakes[1], 50.0);
  EXPECT_EQ(to_olakes[1], 200.0);

  bound_from_lake(f.p, 1, 3, 1, 0.2);    // 10 g of the lake onto cell 3
  bound_from_olake(f.p, 1, 0, 1, 0.25);  // 50 g of the overland lake out through the outlet
  bound_settle_olake(f.p, 1, 1, 0.4);    // 60 g of the 150 g left settle onto its bed
  bound_settle_olake(f.p, 1, 2, 1.0);    // sand: nothing
  EXPECT_NEAR(lake_rows[2][1], 40.0, 1e-12);
  EXPECT_NEAR(f.bound_cells[3][1], 310.0, 1e-12);
  EXPECT_NEAR(to_lakes[1], 40.0, 1e-12);
  EXPECT_NEAR(f.outlet[1], 50.0, 1e-12);
  EXPECT_NEAR(olake_settled[1], 60.0, 1e-12);
  EXPECT_NEAR(olake_rows[1][1], 90.0, 1e-12);
  EXPECT_NEAR(to_olakes[1], 150.0, 1e-12);
  EXPECT_NEAR(held(), start, 1e-9);

  // Channels that carry no constituents: what enters a channel lake leaves the books there.
  double untracked[2] = {};
  f.p.lake_bound = nullptr;
  f.p.untracked = untracked;
  bound_into_lake(f.p, 3, 1, 1, 0.5);
  EXPECT_NEAR(f.bound_cells[3][1], 155.0, 1e-12);
  EXPECT_NEAR(untracked[1], 155.0, 1e-12);
}

}  // namespace sed_contam_tests
