// Kernels of the dissolved-constituent steps: the pro-rating of a gathered mass to the step, the
// soil's dissolved fraction, a cell's process terms with their limits, the advection-dispersion
// passes against hand-computed fluxes and their conservation on a closed grid, and the hand-off
// of a drying cell's mass with its booking, the dilution of a cell by clean point-source water,
// the vector pass kernels against the scalar ones, bit for bit, on every instruction set, and
// the layered soil's carrier layers and one cell's soil column over a step by hand, and the
// passes' blocked sweep against whole-grid sweeps of the scalar kernels on teams of any size.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "atmosphere/rainfall.h"
#include "support/vector_target_loop.h"
#include "transport/contaminants/contam_kernels.h"
#include "transport/contaminants/contam_pass_lanes.h"

namespace {

TEST(ContamKernels, ProratingAppliesTheStepsShareOnlyWhenTheProcessRanLonger) {
  struct row {
    double dt, elapsed, m, expected;
  };
  const row rows[] = {
      {10.0, 100.0, 50.0, 5.0},   // a tenth of a ten-times longer interval
      {10.0, 10.4, 50.0, 50.0},   // within half a second: whole
      {10.0, 10.6, 53.0, 50.0},   // beyond it: pro-rated
      {10.0, 5.0, 50.0, 50.0},    // a shorter interval: whole
      {10.0, 100.0, -20.0, -2.0}  // losses alike
  };
  for (const row& r : rows)
    EXPECT_DOUBLE_EQ(prorate_to_step(r.dt, r.elapsed, r.m), r.expected) << r.elapsed;
}

TEST(ContamKernels, DissolvedFractionFollowsTheLinearPartitioning) {
  // Kd 0: all of it in solution whatever the water content (never more than all of it);
  // theta 1: all of it whatever Kd.
  EXPECT_DOUBLE_EQ(soil_dissolved_fraction(0.25, 0.0), 1.0);
  EXPECT_DOUBLE_EQ(soil_dissolved_fraction(1.0, 37.0), 1.0);
  // A dry layer has no pore water to dissolve anything in, with or without sorption.
  EXPECT_EQ(soil_dissolved_fraction(0.0, 0.0), 0.0);
  EXPECT_EQ(soil_dissolved_fraction(0.0, 2.0), 0.0);
  // theta 0.4, Kd 2 L/kg: 0.4 / (0.4 + 0.6 x 2 x 2.65) = 0.4 / 3.58 in the water, the rest on
  // the solids.
  EXPECT_NEAR(soil_dissolved_fraction(0.4, 2.0), 0.4 / 3.58, 1e-15);
}

TEST(ContamKernels, ACellTermNeverTakesMoreThanTheCellHolds) {
  // A loss within the mass: applied whole and the accumulator emptied.
  double m = 10.0, acc = 4.0;
  EXPECT_DOUBLE_EQ(apply_cell_term(m, acc, 10.0, 10.0, -1.0), 4.0);
  EXPECT_DOUBLE_EQ(m, 6.0);
  EXPECT_DOUBLE_EQ(acc, 0.0);
  // A loss beyond it: takes exactly the mass and empties the accumulator.
  m = 3.0;
  acc = 5.0;
  EXPECT_DOUBLE_EQ(apply_cell_term(m, acc, 10.0, 10.0, -1.0), 3.0);
  EXPECT_DOUBLE_EQ(m, 0.0);
  EXPECT_DOUBLE_EQ(acc, 0.0);
  // Gathered over four steps: a quarter now, the rest kept.
  m = 1.0;
  acc = 8.0;
  EXPECT_DOUBLE_EQ(apply_cell_term(m, acc, 10.0, 40.0, 1.0), 2.0);
  EXPECT_DOUBLE_EQ(m, 3.0);
  EXPECT_DOUBLE_EQ(acc, 6.0);
  // A negative source (water to soil) larger than the mass takes the mass.
  m = 2.0;
  acc = -5.0;
  EXPECT_DOUBLE_EQ(apply_cell_term(m, acc, 10.0, 10.0, 1.0), -2.0);
  EXPECT_DOUBLE_EQ(m, 0.0);
  EXPECT_DOUBLE_EQ(acc, 0.0);
  // Amounts of at most 1e-16 are left alone.
  m = 1.0;
  acc = 1e-17;
  EXPECT_EQ(apply_cell_term(m, acc, 10.0, 10.0, -1.0), 0.0);
  EXPECT_EQ(acc, 1e-17);
}

// A grid of rows x cols cells numbered row by row, with its neighbour arrays and work arrays.
struct small_grid {
  int rows, cols, n;
  std::vector<int> above, below, left, right;
  std::vector<double> depth, flux_x, flux_y, disp, source, mass, conc;
  std::vector<double> face, face_corr, pred_conc;
  small_grid(int r, int c) : rows(r), cols(c), n(r * c) {
    for (std::vector<int>* a : {&above, &below, &left, &right}) a->assign(n + 1, 0);
    for (std::vector<double>* a :
         {&depth, &flux_x, &flux_y, &disp, &source, &mass, &conc, &face, &face_corr, &pred_conc})
      a->assign(n + 1, 0.0);
    for (int i = 1; i <= n; ++i) {
      const int row = (i - 1) / cols, col = (i - 1) % cols;
      if (row > 0) above[i] = i - cols;
      if (row < rows - 1) below[i] = i + cols;
      if (col > 0) left[i] = i - 1;
      if (col < cols - 1) right[i] = i + 1;
    }
  }
  ov_constit_view view(double dt, double area, int sweep) {
    ov_constit_view v;
    v.cell_count = n;
    v.dt = dt;
    v.area = area;
    v.abovecon = above.data();
    v.belowcon = below.data();
    v.leftcon = left.data();
    v.rightcon = right.data();
    v.depth = depth.data();
    v.flux_x = flux_x.data();
    v.flux_y = flux_y.data();
    v.disp = disp.data();
    v.source = source.data();
    v.mass = mass.data();
    v.conc = conc.data();
    v.face = face.data();
    v.face_corr = face_corr.data();
    v.pred_conc = pred_conc.data();
    v.sweep = sweep;
    return v;
  }
  double total() const { return std::accumulate(mass.begin() + 1, mass.end(), 0.0); }
};

// Two cells side by side, 0.1 m deep on 100 m2, 0.1 m3/s flowing from the left one to the
// right one, no dispersion, a step of 10 s. The predictor moves q dt C1 = 1 m3 x 1 g/m3 = 1 g
// of the left cell's 10 g; the corrector's flux takes the predicted concentration 0.9,
// so the face carries the mean (1 + 0.9) / 2 = 0.95 g.
TEST(ContamKernels, AdvectionTakesTheMeanOfThePredictedAndCorrectedFlux) {
  for (int sweep : {1, 2}) {
    small_grid g(1, 2);
    g.depth[1] = g.depth[2] = 0.1;
    g.flux_x[1] = 0.1;
    g.mass[1] = 10.0;
    g.conc[1] = 1.0;
    const double restored = ov_constit_flux(g.view(10.0, 100.0, sweep));
    EXPECT_EQ(restored, 0.0);
    EXPECT_NEAR(g.mass[1], 9.05, 1e-13) << sweep;
    EXPECT_NEAR(g.mass[2], 0.95, 1e-13) << sweep;
    EXPECT_NEAR(g.conc[2], 0.095, 1e-14) << sweep;
  }
}

// Three cells in a row, the middle one under a lake whose concentration (50 g/m3) it holds: 0.1
// m3/s flows from the left cell (0.1 m deep at 1 g/m3 on 100 m2) into the lake and 0.2 m3/s from
// the lake into the right cell (0.1 m deep, clean), no dispersion across the shores, a step of
// 10 s. The right cell takes q dt x 50 g/m3 = 100 g whatever the lake cell's own depth (none),
// the left cell gives (1 + 0.9) / 2 g as on any face, and the lake cell's mass gathers the net,
// negative, never emptied: what the lake gained over its shores.
TEST(ContamKernels, ALakeCellLendsItsConcentrationAndGathersTheNet) {
  for (int sweep : {1, 2}) {
    small_grid g(1, 3);
    g.depth[1] = g.depth[3] = 0.1;
    g.disp[1] = g.disp[2] = g.disp[3] = 1.0;
    g.flux_x[1] = 0.1;
    g.flux_x[2] = 0.2;
    g.mass[1] = 10.0;
    g.conc[1] = 1.0;
    g.conc[2] = 50.0;
    const std::vector<double> held = {0.0, -1.0, 50.0, -1.0};
    ov_constit_view v = g.view(10.0, 100.0, sweep);
    v.held_conc = held.data();
    const double restored = ov_constit_flux(v);
    EXPECT_EQ(restored, 0.0) << sweep;
    EXPECT_NEAR(g.mass[3], 100.0, 1e-12) << sweep;
    EXPECT_NEAR(g.mass[1], 9.05, 1e-12) << sweep;
    EXPECT_NEAR(g.mass[2], 0.95 - 100.0, 1e-12) << sweep;
    EXPECT_EQ(g.conc[2], 50.0) << sweep;
    EXPECT_NEAR(g.total(), 10.0, 1e-12) << sweep;
  }
}

// Half the net source goes in with each pass, so a still cell takes the whole source of the
// step; dispersion alone between two cells moves min(h d) (C1 - C2) per second each way.
TEST(ContamKernels, SourcesAndDispersionByHand) {
  small_grid g(2, 1);
  g.depth[1] = g.depth[2] = 0.5;
  g.disp[1] = g.disp[2] = 0.2;
  g.mass[1] = 50.0;  // 1 g/m3 on 100 m2 x 0.5 m
  g.conc[1] = 1.0;
  g.source[2] = 0.3;  // g/s
  ov_constit_flux(g.view(1.0, 100.0, 1));
  // Predictor of the vertical face: 0.1 x (1 - 0) = 0.1 g/s; predicted C1 = 49.9 / 50,
  // C2 = (0.1 + 0.15) / 50; corrector 0.1 x (C1 - C2); the mean of the two over 1 s.
  const double c1 = 49.9 / 50.0, c2 = 0.25 / 50.0;
  const double moved = 0.5 * (0.1 + 0.1 * (c1 - c2));
  EXPECT_NEAR(g.mass[1], 50.0 - moved, 1e-12);
  // The horizontal pass has no faces; the cell below got the moved mass and its whole source.
  EXPECT_NEAR(g.mass[2], moved + 0.3, 1e-12);
}

// A closed grid with flows in every direction, dispersion and no sources keeps its total mass to
// rounding through many steps in both sweep orders, and no cell is ever emptied.
TEST(ContamKernels, ClosedGridKeepsItsMass) {
  small_grid g(5, 6);
  for (int i = 1; i <= g.n; ++i) {
    g.depth[i] = 0.2 + 0.01 * (i % 7);
    g.disp[i] = 0.05 * (1 + i % 3);
    g.mass[i] = 100.0 + 10.0 * (i % 5);
    g.conc[i] = g.mass[i] / (g.depth[i] * 100.0);
    if (g.right[i]) g.flux_x[i] = 0.002 * ((i % 3) - 1);
    if (g.below[i]) g.flux_y[i] = 0.001 * ((i % 4) - 1.5);
  }
  const double before = g.total();
  double restored = 0.0;
  for (int step = 0; step < 50; ++step)
    restored += ov_constit_flux(g.view(5.0, 100.0, step % 2 + 1));
  EXPECT_EQ(restored, 0.0);
  EXPECT_NEAR(g.total(), before, 1e-12 * before);
  for (int i = 1; i <= g.n; ++i) EXPECT_GT(g.mass[i], 0.0) << i;
}

// A cell that has run dry hands its mass over and the step books it: to the soil column's
// infiltration with soil transport, to the land store (and its booked term) without.
TEST(ContamKernels, ADryingCellsMassIsHandedOverAndBooked) {
  struct row {
    bool soil;
    double depth, mass;
    bool handed;
  };
  const row rows[] = {{false, 0.0, 7.0, true},
                      {true, 0.0, 7.0, true},
                      {false, 1e-3, 7.0, false},   // still wet
                      {true, 0.0, 1e-17, false}};  // nothing to hand over
  for (const row& r : rows) {
    double mass = r.mass, conc = 3.0, soil_infil = 1.0, land = 2.0, infil_term = 0.5,
           land_term = 0.25;
    EXPECT_EQ(
        dry_cell_handoff(r.depth, mass, conc, r.soil, soil_infil, land, infil_term, land_term),
        r.handed);
    if (!r.handed) {
      EXPECT_EQ(mass, r.mass);
      EXPECT_EQ(land + soil_infil + infil_term + land_term, 3.75);
      continue;
    }
    EXPECT_EQ(mass, 0.0);
    EXPECT_EQ(conc, 0.0);
    if (r.soil) {
      EXPECT_EQ(soil_infil, 8.0);
      EXPECT_EQ(infil_term, 7.5);
      EXPECT_EQ(land, 2.0);
    } else {
      EXPECT_EQ(land, 9.0);
      EXPECT_EQ(land_term, 7.25);  // the hand-off is booked
      EXPECT_EQ(soil_infil, 1.0);
    }
  }
}

}  // namespace

namespace {

// Overland point sources carry no concentration: their water raises the depth and the transport
// step spreads the cell's mass over it. Two cells of 10 m x 10 m, 5 cm deep at 200 g/m3, closed
// to each other (no flow, no dispersion); the first takes 0.01 m3/s for 30 s. By hand its
// concentration falls by V / (V + Q dt) = 5 / (5 + 0.3) and its mass stays; the second is as it
// was.
TEST(ContamKernels, CleanPointSourceWaterDilutesTheCellByItsVolume) {
  small_grid g(1, 2);
  const double area = 100.0, h = 0.05, c0 = 200.0, q = 0.01, dt = 30.0;
  for (int i = 1; i <= 2; ++i) {
    g.depth[i] = h;
    g.conc[i] = c0;
    g.mass[i] = c0 * h * area;
  }
  const std::vector<double> rate = {0.0, q, 0.0};
  const double volume = point_sources_onto_cells(2, dt, 10.0, rate, g.depth);
  EXPECT_DOUBLE_EQ(volume, q * dt);
  EXPECT_EQ(ov_constit_flux(g.view(dt, area, 1)), 0.0);
  const double v = h * area;
  EXPECT_NEAR(g.conc[1], c0 * v / (v + q * dt), 1e-12 * c0);
  EXPECT_NEAR(g.mass[1], c0 * v, 1e-9);
  EXPECT_NEAR(g.conc[2], c0, 1e-12 * c0);
}

// The vector kernels of a pass against the scalar ones on a 9 x 13 grid whose faces are cut at
// random (a watershed's ragged edge: neighbours that do not follow one another, so chunks are
// gathered as well as read in runs), with dry, barely wet and lake cells, flows both ways and
// sources of both signs, over shares of cells that cut the eight-cell chunks anywhere: faces of
// the predictor and of the corrector's mean, and the update into other arrays, in place and of
// the concentrations alone, the same bits on every instruction set, each share telling alike
// whether a cell of it came out negative.
TEST(ContamKernels, VectorPassKernelsGiveTheScalarBitsOnEveryInstructionSet) {
  small_grid g(9, 13);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 1; i <= g.n; ++i) {
    if (g.right[i] != 0 && unit(random) < 0.2) g.right[i] = g.left[i + 1] = 0;
    if (g.below[i] != 0 && unit(random) < 0.2) g.above[g.below[i]] = g.below[i] = 0;
  }
  std::vector<double> held(g.n + 1, -1.0), mean_with(g.n + 1), faces(g.n + 1);
  for (int i = 1; i <= g.n; ++i) {
    const double pick = unit(random);
    g.depth[i] = pick < 0.15 ? 0.0 : (pick < 0.25 ? 1e-17 : 0.3 * unit(random));
    g.disp[i] = unit(random) < 0.2 ? 0.0 : unit(random);
    g.flux_x[i] = unit(random) - 0.5;
    g.flux_y[i] = 0.2 * (unit(random) - 0.5);
    g.source[i] = unit(random) - 0.3;
    g.mass[i] = unit(random) < 0.1 ? 0.0 : 40.0 * unit(random);
    g.conc[i] = 3.0 * unit(random);
    g.pred_conc[i] = 3.0 * unit(random);
    mean_with[i] = unit(random) - 0.5;
    faces[i] = 2.0 * (unit(random) - 0.5);
    if (unit(random) < 0.1) held[i] = 5.0 * unit(random);
  }
  const std::vector<int> cuts = {1, 2, 9, 10, 17, 31, 32, 33, 60, 99, g.n + 1};
  auto same = [&](const std::vector<double>& a, const std::vector<double>& b) {
    return std::memcmp(a.data() + 1, b.data() + 1, g.n * sizeof(double)) == 0;
  };
  int negative = 0;
  int shares_negative[2] = {0, 0};  // shares without and with a negative cell
  const double* mean_at = mean_with.data();
  for_every_vector_target([&](const std::string&) {
    for (const bool lakes : {false, true}) {
      ov_constit_view v = g.view(7.0, 100.0, 1);
      v.held_conc = lakes ? held.data() : nullptr;
      const ov_pass_arrays passes[] = {{g.above.data(), g.below.data(), g.flux_y.data()},
                                       {g.left.data(), g.right.data(), g.flux_x.data()}};
      for (const ov_pass_arrays& p : passes) {
        for (const double* mean : {static_cast<const double*>(nullptr), mean_at}) {
          const double* c = mean == nullptr ? g.conc.data() : g.pred_conc.data();
          std::vector<double> scalar(g.n + 1, 9.0), wide(g.n + 1, 9.0);
          ov_pass_faces_scalar(v, p, c, mean, scalar.data(), 1, g.n);
          for (std::size_t k = 0; k + 1 < cuts.size(); ++k)
            ov_pass_faces_wide(v, p, c, mean, wide.data(), cuts[k], cuts[k + 1] - 1);
          EXPECT_TRUE(same(scalar, wide)) << "faces, mean " << (mean != nullptr);
        }
        std::vector<double> mass_s(g.n + 1, 9.0), conc_s(g.n + 1, 9.0);
        std::vector<double> mass_w(g.n + 1, 9.0), conc_w(g.n + 1, 9.0);
        ov_pass_update_scalar(v, p, faces.data(), mass_s.data(), conc_s.data(), 1, g.n);
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
          const int lo = cuts[k], hi = cuts[k + 1] - 1;
          // Each says whether a cell of the share came out negative.
          const bool any = std::any_of(mass_s.begin() + lo, mass_s.begin() + hi + 1,
                                       [](double m) { return m < 0.0; });
          std::vector<double> other(g.n + 1), other_conc(g.n + 1);
          EXPECT_EQ(
              ov_pass_update_scalar(v, p, faces.data(), other.data(), other_conc.data(), lo, hi),
              any)
              << lo;
          EXPECT_EQ(ov_pass_update_wide(v, p, faces.data(), mass_w.data(), conc_w.data(), lo, hi),
                    any)
              << lo;
          ++shares_negative[any ? 1 : 0];
        }
        EXPECT_TRUE(same(mass_s, mass_w));
        EXPECT_TRUE(same(conc_s, conc_w));
        // The predictor's form, the concentrations alone: the same bits, no mass written.
        std::vector<double> conc_only(g.n + 1, 9.0);
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k)
          ov_pass_update_wide(v, p, faces.data(), nullptr, conc_only.data(), cuts[k],
                              cuts[k + 1] - 1);
        EXPECT_TRUE(same(conc_s, conc_only));
        for (int i = 1; i <= g.n; ++i) negative += mass_s[i] < 0.0;
        // In place, as the corrector updates the cells, from the same starting masses.
        std::vector<double> start = g.mass, conc_in(g.n + 1, 9.0);
        ov_constit_view in_place = v;
        in_place.mass = start.data();
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k)
          ov_pass_update_wide(in_place, p, faces.data(), start.data(), conc_in.data(), cuts[k],
                              cuts[k + 1] - 1);
        EXPECT_TRUE(same(mass_s, start));
        EXPECT_TRUE(same(conc_s, conc_in));
      }
    }
  });
  // The fixture reaches the update's branch of a cell left negative, and has shares of cells
  // with and without one.
  EXPECT_GT(negative, 0);
  EXPECT_GT(shares_negative[0], 0);
  EXPECT_GT(shares_negative[1], 0);
}

namespace {

// One pass over the whole grid at a time, each stage on every cell before the next: the
// predictor's faces, the predicted cells, the corrector's mean faces and the cells in place,
// those left negative (outside lakes) emptied and their masses summed in blocks of 1024 cells in
// block order. Returns that sum.
double whole_grid_pass(const ov_constit_view& v, const ov_pass_arrays& p) {
  const int n = v.cell_count;
  ov_pass_faces_scalar(v, p, v.conc, nullptr, v.face, 1, n);
  ov_pass_update_scalar(v, p, v.face, nullptr, v.pred_conc, 1, n);
  ov_pass_faces_scalar(v, p, v.pred_conc, v.face, v.face_corr, 1, n);
  ov_pass_update_scalar(v, p, v.face_corr, v.mass, v.conc, 1, n);
  double added = 0.0;
  for (int first = 1; first <= n; first += 1024) {
    double part = 0.0;
    for (int i = first; i <= std::min(n, first + 1023); ++i) {
      if (v.mass[i] < 0.0 && !(v.held_conc != nullptr && v.held_conc[i] >= 0.0)) {
        part -= v.mass[i];
        v.mass[i] = v.conc[i] = 0.0;
      }
    }
    added += part;
  }
  return added;
}

// A grid numbered row by row (or, `by_columns`, column by column) with wet, dry and lake cells,
// flows both ways and sources of both signs; `ragged`, with a fifth of its faces cut, as along a
// watershed's edge, so that runs of neighbours break and the passes gather them.
small_grid random_grid(int rows, int cols, bool by_columns, unsigned seed, bool ragged = false) {
  small_grid g(rows, cols);
  if (by_columns) {
    for (int i = 1; i <= g.n; ++i) {
      const int row = (i - 1) % rows, col = (i - 1) / rows;
      g.above[i] = row > 0 ? i - 1 : 0;
      g.below[i] = row < rows - 1 ? i + 1 : 0;
      g.left[i] = col > 0 ? i - rows : 0;
      g.right[i] = col < cols - 1 ? i + rows : 0;
    }
  }
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 1; ragged && i <= g.n; ++i) {
    if (g.right[i] != 0 && unit(random) < 0.2) g.left[g.right[i]] = g.right[i] = 0;
    if (g.below[i] != 0 && unit(random) < 0.2) g.above[g.below[i]] = g.below[i] = 0;
  }
  for (int i = 1; i <= g.n; ++i) {
    g.depth[i] = unit(random) < 0.1 ? 0.0 : 0.2 * unit(random);
    g.disp[i] = unit(random);
    g.flux_x[i] = unit(random) - 0.4;
    g.flux_y[i] = 0.5 * (unit(random) - 0.4);
    g.source[i] = unit(random) < 0.05 ? -50.0 * unit(random) : unit(random);
    g.conc[i] = 4.0 * unit(random);
    g.mass[i] = g.conc[i] * g.depth[i] * 100.0;
  }
  return g;
}

}  // namespace

// The passes sweep the grid in blocks, each thread its own run of them, the eight stages of both
// passes lagging one another by as many blocks as neighbours lie apart in the numbering (one
// block for rows of 1,700 cells, two for 3,000, in either direction of the numbering): the same
// bits as two passes of whole-grid sweeps of the scalar kernels, without lakes and with (the
// other pass first), on one thread (its run's middle blocks swept in one go, through every stage
// of both passes on the largest grid), three and eight (runs of a few blocks, mostly ends),
// whether the caller gives the neighbours' reach or the passes find it, on a full rectangle and
// on a ragged one whose neighbours are gathered.
TEST(ContamKernels, TheBlockedSweepGivesTheBitsOfWholeGridSweepsOnAnyTeam) {
  struct grid_case {
    int rows, cols;
    bool by_columns;
    int reach;
    bool ragged;
  };
  const grid_case cases[] = {{24, 1700, false, 1700, false},
                             {12, 3000, false, 3000, false},
                             {3000, 12, true, 3000, false},
                             {30, 3000, false, 3000, true}};
  const int threads_before = omp_get_max_threads();
  for (const grid_case& gc : cases) {
    const small_grid start = random_grid(gc.rows, gc.cols, gc.by_columns, 11, gc.ragged);
    std::vector<double> held(start.n + 1, -1.0);
    for (int i = 1; i <= start.n; i += 97) held[i] = 2.5;
    for (const bool lakes : {false, true}) {
      const int sweep = lakes ? 2 : 1;
      small_grid ref = start;
      ov_constit_view rv = ref.view(3.0, 100.0, sweep);
      rv.held_conc = lakes ? held.data() : nullptr;
      EXPECT_EQ(ov_constit_reach(rv), gc.reach);
      const ov_pass_arrays vertical{ref.above.data(), ref.below.data(), ref.flux_y.data()};
      const ov_pass_arrays horizontal{ref.left.data(), ref.right.data(), ref.flux_x.data()};
      double expected = whole_grid_pass(rv, sweep == 1 ? vertical : horizontal);
      expected += whole_grid_pass(rv, sweep == 1 ? horizontal : vertical);
      ASSERT_GT(expected, 0.0) << "the fixture leaves cells negative";
      for (const int threads : {1, 3, 8}) {
        omp_set_num_threads(threads);
        small_grid g = start;
        ov_constit_view v = g.view(3.0, 100.0, sweep);
        v.held_conc = rv.held_conc;
        v.reach = threads == 3 ? 0 : gc.reach;
        const double added = ov_constit_flux(v);
        const std::string where = std::to_string(gc.rows) + " x " + std::to_string(gc.cols) +
                                  ", ragged " + std::to_string(gc.ragged) + ", lakes " +
                                  std::to_string(lakes) + ", sweep " + std::to_string(sweep) +
                                  ", threads " + std::to_string(threads);
        EXPECT_EQ(std::memcmp(&added, &expected, sizeof added), 0) << where;
        EXPECT_EQ(std::memcmp(g.mass.data(), ref.mass.data(), g.mass.size() * sizeof(double)), 0)
            << where;
        EXPECT_EQ(std::memcmp(g.conc.data(), ref.conc.data(), g.conc.size() * sizeof(double)), 0)
            << where;
      }
    }
  }
  omp_set_num_threads(threads_before);
}

TEST(ContamKernels, TheLayeredSoilCarriesTwoOrThreeLayers) {
  struct row {
    const char* what;
    double mixing, h1;  // cm
    int layers;
    double t1, t2, t3;  // m
    double p2;          // porosity of carrier 2
  };
  const row rows[] = {
      {"mixing layer inside layer 1", 2.0, 10.0, 3, 0.02, 0.08, 0.2, 0.4},
      {"no mixing depth", 0.0, 10.0, 2, 0.1, 0.2, 0.0, 0.3},
      {"mixing layer as deep as layer 1", 10.0, 10.0, 2, 0.1, 0.2, 0.0, 0.3},
      {"mixing layer below layer 1", 15.0, 10.0, 2, 0.1, 0.2, 0.0, 0.3},
      {"a mixing depth of rounding only", 1e-17, 10.0, 2, 0.1, 0.2, 0.0, 0.3},
  };
  for (const row& r : rows) {
    const carrier_column c = layered_carrier_column(r.mixing, r.h1, 20.0, 0.4, 0.3);
    EXPECT_EQ(c.layers, r.layers) << r.what;
    EXPECT_DOUBLE_EQ(c.thickness[1], r.t1) << r.what;
    EXPECT_DOUBLE_EQ(c.thickness[2], r.t2) << r.what;
    EXPECT_DOUBLE_EQ(c.thickness[3], r.t3) << r.what;
    EXPECT_DOUBLE_EQ(c.porosity[1], 0.4) << r.what;
    EXPECT_DOUBLE_EQ(c.porosity[2], r.p2) << r.what;
    if (r.layers == 3) {
      EXPECT_DOUBLE_EQ(c.porosity[3], 0.3) << r.what;
    }
  }
}

// One cell of 10 m with three carriers of 0.1 m, each half full of water (theta 0.4 of
// porosity 0.4 would be full; 0.2 here), a partition coefficient of 1 L/kg (fd = 0.2 / (0.2 +
// 0.8 x 2.65) = 0.086207), 1000 g in layer 1 and 500 g in layer 2; 2 g infiltrated and 1 g
// taken up; 0.005 m of water drained out of each layer. By hand each layer gives mass x fd x
// 0.005 / 0.02, layer 1 from its mass before the water came in.
TEST(ContamKernels, TheDrainingWaterCarriesEachLayersPoreWaterDownByHand) {
  const double fd = 0.2 / (0.2 + 0.8 * 2.65);
  double mass[4] = {0.0, 1000.0, 500.0, 0.0};
  double conc[4] = {};
  double frac[4] = {};
  const double thickness[4] = {0.0, 0.1, 0.1, 0.1};
  const double porosity[4] = {0.0, 0.4, 0.4, 0.35};
  const double theta[4] = {0.0, 0.2, 0.2, 0.2};
  const double drained[4] = {0.0, 0.005, 0.005, 0.005};
  soil_column_view v;
  v.layers = 3;
  v.area = 100.0;
  v.dt = 60.0;
  v.kd = 1.0;
  v.infil = 2.0;
  v.uptake = 1.0;
  v.thickness = thickness;
  v.porosity = porosity;
  v.theta = theta;
  v.drained = drained;
  v.mass = mass;
  v.conc = conc;
  v.frac_dissolved = frac;
  const soil_column_moved moved = soil_column_step(v);
  const double d1 = 1000.0 * fd * 0.25, d2 = 500.0 * fd * 0.25;
  EXPECT_NEAR(mass[1], 1000.0 + 2.0 - 1.0 - d1, 1e-12);
  EXPECT_NEAR(mass[2], 500.0 + d1 - d2, 1e-12);
  EXPECT_NEAR(mass[3], d2, 1e-12);  // layer 3 held nothing to give
  EXPECT_DOUBLE_EQ(moved.seep_down, 0.0);
  EXPECT_DOUBLE_EQ(moved.decayed, 0.0);
  for (int l = 1; l <= 3; ++l) {
    EXPECT_NEAR(frac[l], fd, 1e-15) << l;
    // g/kg of solids x 1000: the solids of the layer weigh (1 - porosity) x 0.1 x 100 x 2650 kg.
    EXPECT_NEAR(conc[l], mass[l] / ((1.0 - porosity[l]) * 0.1 * 100.0 * 2650.0) * 1000.0,
                1e-12 * conc[l])
        << l;
  }
  // A second step: layer 3 now gives to the groundwater; the column's mass goes only there.
  const double before = mass[1] + mass[2] + mass[3];
  v.infil = v.uptake = 0.0;
  const soil_column_moved second = soil_column_step(v);
  EXPECT_NEAR(second.seep_down, d2 * fd * 0.25, 1e-12);
  EXPECT_NEAR(mass[1] + mass[2] + mass[3] + second.seep_down, before, 1e-12);
}

TEST(ContamKernels, TheSoilColumnNeverGivesMoreThanItHoldsAndHeldLayersOnlyBook) {
  struct row {
    const char* what;
    double decay;  // 1/s
    bool fixed;
  };
  const row rows[] = {{"a flood of drainage through a dry-sorbing layer", 0.0, false},
                      {"fast decay", 1.0, false},
                      {"fixed concentrations", 1e-3, true}};
  for (const row& r : rows) {
    double mass[4] = {0.0, 10.0, 4.0, 0.0};
    double conc[4] = {}, frac[4] = {};
    const double thickness[4] = {0.0, 0.01, 0.01, 0.0};
    const double porosity[4] = {0.0, 0.4, 0.4, 0.0};
    const double theta[4] = {0.0, 0.4, 0.4, 0.0};
    // Twenty times the layers' water drains through them.
    const double drained[4] = {0.0, 0.08, 0.08, 0.0};
    soil_column_view v;
    v.layers = 2;
    v.area = 1.0;
    v.dt = 100.0;
    v.kd = 0.0;
    v.decay = r.decay;
    v.fixed = r.fixed;
    v.thickness = thickness;
    v.porosity = porosity;
    v.theta = theta;
    v.drained = drained;
    v.mass = mass;
    v.conc = conc;
    v.frac_dissolved = frac;
    const soil_column_moved m = soil_column_step(v);
    SCOPED_TRACE(r.what);
    if (r.fixed) {
      // Held at fixed concentrations the layers keep their mass and book what moved.
      EXPECT_DOUBLE_EQ(mass[1], 10.0);
      EXPECT_DOUBLE_EQ(mass[2], 4.0);
      EXPECT_NEAR(m.decayed, 14.0 * -std::expm1(-0.1), 1e-12);
      EXPECT_DOUBLE_EQ(m.seep_down, 14.0);
      continue;
    }
    EXPECT_GE(mass[1], 0.0);
    EXPECT_GE(mass[2], 0.0);
    EXPECT_LE(m.decayed, 14.0);
    EXPECT_NEAR(mass[1] + mass[2] + m.seep_down + m.decayed, 14.0, 1e-12);
    if (r.decay == 0.0) {
      EXPECT_NEAR(m.seep_down, 14.0, 1e-12);  // the water washed all out
    }
  }
}

}  // namespace
