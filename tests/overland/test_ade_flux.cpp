// The ADE face sweeps and depth update: Manning's discharge from the upstream cell with its own
// roughness above its retention, closed faces and the grid's edge, the wetland laws, lakes
// standing for their cells' water surfaces, and the depth update's judgement of a sweep
// (negative depths, large changes) with the water it moves kept whole on any thread count.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "overland/ade_flux.h"
#include "support/vector_target_loop.h"

namespace {

// A row of cells 1..n (index 0 unused), each cell's right neighbour the next one; the last cell
// has none. No lower faces.
struct cell_row {
  explicit cell_row(int n, double dx = 10.0)
      : h(n + 1, 0.0),
        z(n + 1, 0.0),
        r(n + 1, 0.0),
        rough(n + 1, 0.05),
        right(n + 1, 0),
        below(n + 1, 0),
        open_x(n + 1, 0),
        open_y(n + 1, 0),
        q(n + 1, 0.0) {
    for (int c = 1; c < n; ++c) {
      right[c] = c + 1;
      open_x[c] = 1;
    }
    g.cell_count = n;
    g.dx = dx;
  }
  const ade_grid_view& view() {
    g.elev = z.data();
    g.retention = r.data();
    g.roughness = rough.data();
    g.right = right.data();
    g.below = below.data();
    g.open_x = open_x.data();
    g.open_y = open_y.data();
    return g;
  }
  std::vector<double> h, z, r, rough;
  std::vector<int> right, below;
  std::vector<unsigned char> open_x, open_y;
  std::vector<double> q;
  ade_grid_view g;
};

// Manning's discharge written out: dx d^(5/3) sqrt(|S|) / n, signed by S.
double manning(double s, double d, double dx, double n) {
  return (s > 0 ? 1.0 : -1.0) * dx * std::pow(d, 5.0 / 3.0) * std::sqrt(std::fabs(s)) / n;
}

TEST(AdeFaceDischarge, ManningFromTheUpstreamCellAboveItsRetention) {
  struct row {
    const char* what;
    double h1, z1, r1, n1, h2, z2, r2, n2;
    double expected;
  };
  // S = ((h1 + z1) - (h2 + z2)) / 10.
  const row rows[] = {
      {"downhill from cell 1", 0.1, 1.0, 0.0, 0.05, 0.05, 0.9, 0.0, 0.2,
       manning(0.015, 0.1, 10.0, 0.05)},
      {"uphill: cell 2 sends with its own depth and roughness", 0.05, 0.9, 0.0, 0.05, 0.1, 1.0, 0.0,
       0.2, manning(-0.015, 0.1, 10.0, 0.2)},
      {"the depth above the retention flows", 0.1, 1.0, 0.04, 0.05, 0.0, 0.9, 0.0, 0.05,
       manning(0.02, 0.06, 10.0, 0.05)},
      {"equal water surfaces", 0.3, 1.0, 0.0, 0.05, 0.2, 1.1, 0.0, 0.05, 0.0},
      {"upstream depth at its retention sends nothing", 0.1, 1.0, 0.1, 0.05, 0.0, 0.5, 0.0, 0.05,
       0.0},
      {"a dry upstream cell sends nothing", 0.0, 1.0, 0.0, 0.05, 0.0, 0.5, 0.0, 0.05, 0.0},
  };
  for (const row& t : rows) {
    cell_row g(2);
    g.h = {0.0, t.h1, t.h2};
    g.z = {0.0, t.z1, t.z2};
    g.r = {0.0, t.r1, t.r2};
    g.rough = {0.0, t.n1, t.n2};
    const double q = ade_face_discharge(g.view(), g.h.data(), 1, 2, 0.0);
    EXPECT_NEAR(q, t.expected, 1e-12 * std::fabs(t.expected)) << t.what;
    if (t.expected == 0.0) {
      EXPECT_EQ(q, 0.0) << t.what;
    }
  }
}

// A closed face (a dike on the cell's right side, as the face flags hold it) and the grid's last
// cell carry nothing in either direction; the other faces carry their discharge.
TEST(AdeFaceDischarge, ClosedFacesAndTheEdgeCarryNothing) {
  cell_row g(4);
  g.h = {0.0, 0.1, 0.5, 0.1, 0.1};
  g.z = {0.0, 1.0, 1.0, 0.5, 0.0};
  g.open_x[2] = 0;  // dike on the right of cell 2: water stands higher there
  g.q.assign(5, 99.0);
  ade_flux_sweep_a(g.view(), g.h.data(), g.q.data());
  EXPECT_NEAR(g.q[1], manning(-0.04, 0.5, 10.0, 0.05), 1e-12);
  EXPECT_EQ(g.q[2], 0.0);
  EXPECT_NEAR(g.q[3], manning(0.05, 0.1, 10.0, 0.05), 1e-12);
  EXPECT_EQ(g.q[4], 0.0);
}

// Below the threshold slope 1e-5 the face law is linear in the water-surface slope,
// dx d^(5/3) (S / sqrt(1e-5)) / n, continuous with Manning's law at the threshold; above it
// Manning's law holds unchanged. Surfaces 0.1 m deep cells of 10 m, n 0.05.
TEST(AdeFaceDischarge, TheFaceLawTurnsLinearBelowTheThresholdSlope) {
  const double d53 = std::pow(0.1, 5.0 / 3.0);
  auto linear = [&](double s) { return 10.0 * d53 * (s / std::sqrt(1e-5)) / 0.05; };
  struct row {
    const char* what;
    double drop;  // m: water surface of cell 1 above cell 2's
    double expected;
  };
  const row rows[] = {
      {"a slope of 4e-6 flows linearly", 4e-5, linear(4e-6)},
      {"the other way", -4e-5, linear(-4e-6)},
      {"a slope of 1e-9", 1e-8, linear(1e-9)},
      {"at the threshold both laws agree", 1e-4, manning(1e-5, 0.1, 10.0, 0.05)},
      {"just above it Manning holds", 1.5e-4, manning(1.5e-5, 0.1, 10.0, 0.05)},
  };
  for (const row& t : rows) {
    cell_row g(2);
    g.z = {0.0, 1.0 + t.drop, 1.0};
    g.h = {0.0, 0.1, 0.1};  // the upstream cell holds 0.1 m either way
    const double q = ade_face_discharge(g.view(), g.h.data(), 1, 2, 0.0);
    // (1 + drop) - 1 carries the rounding of 1 + drop: 1e-8 relative of a 1e-8 m drop.
    EXPECT_NEAR(q, t.expected, 2e-8 * std::fabs(t.expected)) << t.what;
  }
  EXPECT_NEAR(linear(1e-5), manning(1e-5, 0.1, 10.0, 0.05), 1e-15);
}

// Over a step of s seconds a face moves no more than an eighth of the water-surface difference
// across it: |q| s / dx^2 <= |drop| / 8. A held face tells the sub-step control when the
// difference it held exceeds 0.1 mm; one that needs no holding passes Manning's discharge on.
// Cells of 10 m, 0.5 m of water upstream, n 0.05.
TEST(AdeFaceDischarge, AFaceMovesNoMoreThanAnEighthOfTheSurfaceDifference) {
  struct row {
    const char* what;
    double drop, step;
    double expected;
    int cut;
  };
  const double m_small = manning(0.0002, 0.502, 10.0, 0.05);  // a drop of 2 mm
  const row rows[] = {
      {"a 2 mm drop over 60 s is held", 0.002, 60.0, 0.002 * 100.0 / (8.0 * 60.0), ade_face_cut},
      {"the other way round", -0.002, 60.0, -0.002 * 100.0 / (8.0 * 60.0), ade_face_cut},
      {"a drop of 0.5 micrometre is held quietly", 5e-7, 60.0, 5e-7 * 100.0 / (8.0 * 60.0), 0},
      {"a short step needs no holding", 0.002, 0.01, m_small, 0},
      {"no step: the face law alone", 0.002, 0.0, m_small, 0},
  };
  for (const row& t : rows) {
    cell_row g(2);
    g.z = {0.0, 1.0, 1.0};
    g.h = t.drop > 0.0 ? std::vector<double>{0.0, 0.5 + t.drop, 0.5}
                       : std::vector<double>{0.0, 0.5, 0.5 - t.drop};
    g.g.step = t.step;
    int cut = 0;
    const double q = ade_face_discharge(g.view(), g.h.data(), 1, 2, 0.0, &cut);
    const double expected = t.drop > 0.0 || t.expected != m_small ? t.expected : -t.expected;
    // (0.5 + drop) - 0.5 carries the rounding of 0.5 + drop: 2e-10 of a drop of 5e-7 m.
    EXPECT_NEAR(q, expected, 1e-9 * std::fabs(expected)) << t.what;
    EXPECT_EQ(cut, t.cut) << t.what;
    g.q.assign(3, 0.0);
    EXPECT_EQ(ade_flux_sweep_a(g.view(), g.h.data(), g.q.data()), t.cut) << t.what;
    EXPECT_EQ(g.q[1], q) << t.what;
  }
}

// The wetland laws, hand computed from a record of layer depth D 0.1 m, layer conductance
// K1 0.2 /s, transition depth T 0.05 m, upper conductance K2 0.4 /s and Manning n 0.1.
TEST(AdeFaceDischarge, WetlandLaws) {
  wetland_record w[2] = {};
  w[1].slot[1] = 0.1;
  w[1].slot[2] = 0.2;
  w[1].slot[3] = 0.05;
  w[1].slot[4] = 0.4;
  w[1].slot[6] = 0.1;
  struct row {
    const char* what;
    int w1, w2;     // wetland of cells 1 and 2
    double h1, h2;  // depths on a flat bed (S = (h1 - h2) / 10)
    double expected;
  };
  const double dx = 10.0;
  const row rows[] = {
      {"within its own layer, downhill", 1, 0, 0.08, 0.0, 0.008 * 0.08 * 0.2 * dx},
      {"above the transition, downhill", 1, 0, 0.2, 0.0,
       0.02 * 0.1 * 0.2 * dx + manning(0.02, 0.1, dx, 0.1)},
      {"within the transition, downhill", 1, 1, 0.13, 0.0,
       0.013 * 0.1 * 0.2 * dx + 0.6 * manning(0.013, 0.03, dx, 0.1) +
           0.4 * 0.013 * 0.03 * 0.4 * dx},
      {"between wetlands, uphill within the neighbour's layer", 1, 1, 0.0, 0.06,
       -0.006 * 0.06 * 0.2 * dx},
      {"into a plain cell from a wetland within its layer", 0, 1, 0.0, 0.06, 0.0},
      {"into a plain cell from a wetland above its transition", 0, 1, 0.0, 0.3,
       manning(-0.03, 0.2, dx, 0.1)},
      {"from a plain cell into a wetland: Manning from the plain cell", 1, 0, 0.0, 0.2,
       manning(-0.02, 0.2, dx, 0.05)},
  };
  for (const row& t : rows) {
    cell_row g(2, dx);
    g.h = {0.0, t.h1, t.h2};
    std::vector<int> wet = {0, t.w1, t.w2};
    ade_grid_view v = g.view();
    v.wetland = wet.data();
    v.wetlands = w;
    v.wetland_count = 1;
    EXPECT_NEAR(ade_face_discharge(v, g.h.data(), 1, 2, 0.0), t.expected, 1e-12) << t.what;
  }
}

// A lake's water surface stands for the water surface of its cells; a face inside a lake keeps
// its discharge; a channel lake spills its surface above the cell's bed, an overland lake's cell
// sends its own depth above its retention.
TEST(AdeFaceDischarge, LakesStandForTheirCellsWaterSurface) {
  cell_row g(3);
  g.h = {0.0, 0.0, 0.05, 0.05};
  g.z = {0.0, 1.0, 1.0, 0.9};
  g.r = {0.0, 0.0, 0.01, 0.0};
  std::vector<int> lake = {0, 1, 1, 0};
  std::vector<double> surface = {0.0, 1.2};
  ade_grid_view v = g.view();
  v.lake_of_cell = lake.data();
  v.lake_surface = surface.data();
  v.lake_count = 1;
  v.lakes = ade_lake_kind::channel;
  EXPECT_EQ(ade_face_discharge(v, g.h.data(), 1, 2, 7.5), 7.5);
  // S = (1.2 - 0.95) / 10 from the lake cell 2 to cell 3, over the 0.3 m of lake water that
  // stands above cell 3's bed, with cell 3's roughness.
  g.rough[3] = 0.04;
  EXPECT_NEAR(ade_face_discharge(v, g.h.data(), 2, 3, 0.0), manning(0.025, 0.3, 10.0, 0.04), 1e-12);
  g.rough[3] = 0.05;
  v.lakes = ade_lake_kind::overland;
  EXPECT_NEAR(ade_face_discharge(v, g.h.data(), 2, 3, 0.0), manning(0.025, 0.04, 10.0, 0.05),
              1e-12);
  // Water above the lake flows into it from the plain cell's depth.
  g.h[3] = 0.5;
  EXPECT_NEAR(ade_face_discharge(v, g.h.data(), 2, 3, 0.0), manning(-0.02, 0.5, 10.0, 0.05), 1e-12);
}

TEST(AdeDepthUpdate, JudgesTheSweepByItsWorstCell) {
  struct row {
    const char* what;
    double depth, loss, s;  // cell 1's depth and the depth it loses to cell 2
    int result;
    double after;  // cell 1's depth afterwards
  };
  const row rows[] = {
      {"a small loss", 0.5, 0.1, 1.0, ade_update_ok, 0.4},
      {"a depth of -0.5e-5 is set to 0", 0.01, 0.010005, 1.0, ade_update_ok, 0.0},
      {"a depth of -2e-5 fails the sweep", 0.01, 0.01002, 1.0, ade_update_negative_depth, -0.00002},
      {"any negative depth fails a sub-step below 0.001 s", 0.01, 0.010001, 0.0005,
       ade_update_negative_depth, -0.000001},
      {"0.02 m losing 0.011 m in 1 s is a large change", 0.02, 0.011, 1.0, ade_update_large_change,
       0.009},
      {"the same in 0.1 s is not", 0.02, 0.011, 0.1, ade_update_ok, 0.009},
      {"half of 0.01 m is no large change", 0.01, 0.006, 1.0, ade_update_ok, 0.004},
  };
  const double dx = 10.0;
  for (const row& t : rows) {
    std::vector<double> h = {0.0, t.depth, 0.0}, before = h, change(3, 0.0), vol(3, 0.0);
    const double q1 = t.loss * dx * dx / t.s;  // m3/s from cell 1 into cell 2
    const std::vector<double> q = {0.0, q1, 0.0};
    const std::vector<int> up = {0, 0, 1};
    const int result = ade_depth_update(2, h.data(), change.data(), before.data(), q.data(),
                                        up.data(), dx, t.s, vol.data());
    EXPECT_EQ(result, t.result) << t.what;
    EXPECT_NEAR(h[1], t.after, 1e-12) << t.what;
    EXPECT_NEAR(h[2], t.loss, 1e-12) << t.what;
    EXPECT_NEAR(change[1], -t.loss, 1e-12) << t.what;
    EXPECT_EQ(before[1], h[1]) << t.what;
    EXPECT_NEAR(vol[1], q1 * t.s, 1e-9) << t.what;
  }
}

// A sweep and its update over a long wet row move water only between cells, and give the same
// bits on 1 and 8 threads.
TEST(AdeDepthUpdate, AWideSweepKeepsTheWaterAndIsTheSameOnAnyThreadCount) {
  const int n = 6000;
  std::vector<double> result[2];
  double moved[2] = {0.0, 0.0};
  for (int t = 0; t < 2; ++t) {
    cell_row g(n, 5.0);
    for (int c = 1; c <= n; ++c) {
      g.z[c] = 100.0 - 0.01 * c + 0.02 * std::sin(c * 0.7);
      g.h[c] = 0.01 + 0.005 * std::cos(c * 1.3);
    }
    std::vector<int> up(n + 1, 0);
    for (int c = 2; c <= n; ++c) up[c] = c - 1;
    std::vector<double> before = g.h, change(n + 1, 0.0);
    const double total = [&] {
      double s = 0.0;
      for (int c = 1; c <= n; ++c) s += g.h[c];
      return s;
    }();
    const int saved = omp_get_max_threads();
    omp_set_num_threads(t == 0 ? 1 : 8);
    ade_flux_sweep_a(g.view(), g.h.data(), g.q.data());
    const int status = ade_depth_update(n, g.h.data(), change.data(), before.data(), g.q.data(),
                                        up.data(), 5.0, 1.0);
    omp_set_num_threads(saved);
    EXPECT_EQ(status, ade_update_ok);
    double after = 0.0;
    for (int c = 1; c <= n; ++c) {
      after += g.h[c];
      moved[t] += std::fabs(change[c]);
    }
    EXPECT_NEAR(after, total, 1e-11 * total);
    result[t] = g.h;
  }
  EXPECT_GT(moved[0], 0.0);
  EXPECT_EQ(result[1], result[0]);
}

// An irregular grid of `rows` rows of different lengths and starts, numbered row by row, so the
// lower neighbours lie at changing offsets: dry cells, cells at their retention, closed faces
// now and then, and the left and upper neighbours of every cell in `left` and `above`.
struct irregular_grid {
  explicit irregular_grid(int rows) : first(rows + 1, 0), start(rows), length(rows) {
    for (int r = 0; r < rows; ++r) {
      start[r] = (r * 3) % 5;
      length[r] = 40 + (r * 7) % 13;
      first[r] = n + 1;
      n += length[r];
    }
    first[rows] = n + 1;
    cells = std::make_unique<cell_row>(n, 10.0);
    cell_row& g = *cells;
    left.assign(n + 1, 0);
    above.assign(n + 1, 0);
    for (int r = 0; r < rows; ++r) {
      for (int k = 0; k < length[r]; ++k) {
        const int c = first[r] + k;
        const int col = start[r] + k;
        g.right[c] = k + 1 < length[r] ? c + 1 : 0;
        g.open_x[c] = g.right[c] != 0 && c % 17 != 0;  // a dike now and then
        if (g.right[c] != 0) left[c + 1] = c;
        if (r + 1 < rows && col >= start[r + 1] && col < start[r + 1] + length[r + 1]) {
          g.below[c] = first[r + 1] + col - start[r + 1];
          g.open_y[c] = c % 23 != 0;
          above[g.below[c]] = c;
        }
        g.z[c] = 50.0 - 0.01 * col - 0.02 * r + 0.01 * std::sin(c * 0.37);
        g.h[c] = c % 11 == 0 ? 0.0 : 0.02 + 0.015 * std::cos(c * 1.7);
        g.r[c] = c % 13 == 0 ? g.h[c] : 0.001 * (c % 3);
        g.rough[c] = 0.03 + 0.01 * (c % 4);
      }
    }
    // Now and then a face whose water surfaces differ by 3e-5 m either way, a slope of 3e-6,
    // below the face law's threshold slope.
    for (int c = 1; c <= n; ++c)
      if (c % 7 == 3 && g.right[c] != 0 && g.h[c] > 0.0)
        g.z[g.right[c]] = g.h[c] + g.z[c] - g.h[g.right[c]] + (c % 2 != 0 ? 3e-5 : -3e-5);
  }
  int n = 0;
  std::vector<int> first, start, length;  // per row 0..rows-1 (first also at rows: n + 1)
  std::vector<int> left, above;
  std::unique_ptr<cell_row> cells;
};

// The vector sweep against the scalar discharge of every face on an irregular grid: rows of
// different lengths and starts, so the lower neighbours lie at changing offsets (some chunks
// read them in one load, others gather them), with dry cells, cells at their retention, equal
// water surfaces, closed faces and a last chunk of fewer than eight cells. Each face carries
// the scalar discharge but for the last bit of the slope (the sweeps multiply the drop by 1 / dx,
// the single face divides it by dx); closed, level and dry faces exactly 0; every instruction
// set gives the bits of the one-lane path; and both directions give the same bits on 1 and 8
// threads.
TEST(AdeFluxSweep, TheVectorSweepGivesEveryFaceTheScalarDischarge) {
  // The one-lane path's discharges of each step and direction, as the loop below takes them.
  std::vector<std::vector<double>> one_lane;
  {
    ASSERT_TRUE(use_vector_target("scalar"));
    irregular_grid grid(90);
    cell_row& g = *grid.cells;
    for (int c : {g.right[100], g.below[100]}) g.z[c] = g.h[100] + g.z[100] - g.h[c];
    for (double step : {0.0, 5.0, 300.0}) {
      g.g.step = step;
      const ade_grid_view& v = g.view();
      for (int dir = 0; dir < 2; ++dir) {
        one_lane.emplace_back(grid.n + 1, -7.0);
        ade_plain_sweep_wide(v, dir == 0 ? v.right : v.below, dir == 0 ? v.open_x : v.open_y,
                             g.h.data(), one_lane.back().data(), 1, grid.n);
      }
    }
  }
  // On every instruction set the processor runs.
  for_every_vector_target([&](const std::string&) {
    std::size_t sweep = 0;
    const int rows = 90;
    irregular_grid grid(rows);
    const int n = grid.n;
    cell_row& g = *grid.cells;
    // Level faces: cell 100 and both its neighbours at one water surface.
    for (int c : {g.right[100], g.below[100]}) g.z[c] = g.h[100] + g.z[100] - g.h[c];
    ASSERT_NE(n % 8, 0);
    int flowing = 0, level = 0, gentle = 0, held = 0;
    // Without a step (the face law alone), and held to the surface share over 5 s and 300 s.
    for (double step : {0.0, 5.0, 300.0}) {
      g.g.step = step;
      const ade_grid_view& v = g.view();
      for (int dir = 0; dir < 2; ++dir) {
        const int* next = dir == 0 ? v.right : v.below;
        const unsigned char* open = dir == 0 ? v.open_x : v.open_y;
        std::vector<double> wide(n + 1, -7.0), by_threads[2];
        const int wide_cut = ade_plain_sweep_wide(v, next, open, g.h.data(), wide.data(), 1, n);
        int scalar_cut = 0;
        for (int c = 1; c <= n; ++c) {
          const double scalar =
              open[c] ? ade_face_discharge(v, g.h.data(), c, next[c], 0.0, &scalar_cut) : 0.0;
          if (scalar == 0.0) {
            EXPECT_EQ(wide[c], 0.0) << "cell " << c << " direction " << dir;
            if (open[c] && g.h[c] + g.z[c] == g.h[next[c]] + g.z[next[c]]) ++level;
            continue;
          }
          EXPECT_NEAR(wide[c], scalar, 4e-15 * std::fabs(scalar)) << "cell " << c << " dir " << dir;
          ++flowing;
          const double drop = (g.h[c] + g.z[c]) - (g.h[next[c]] + g.z[next[c]]);
          if (std::fabs(drop) < 1e-4) ++gentle;
          // A held face moves exactly its share, bit for bit in both paths.
          if (step > 0.0 &&
              std::fabs(scalar) * step / 100.0 >= std::fabs(drop) / 8.0 * (1 - 1e-15)) {
            EXPECT_EQ(wide[c], scalar) << "cell " << c << " dir " << dir << " step " << step;
            ++held;
          }
        }
        EXPECT_EQ(wide_cut, scalar_cut) << "direction " << dir << " step " << step;
        const std::vector<double>& reference = one_lane[sweep++];
        for (int c = 1; c <= n; ++c)
          ASSERT_EQ(std::memcmp(&wide[c], &reference[c], sizeof(double)), 0)
              << "cell " << c << " dir " << dir << ": " << wide[c] << " against the one-lane "
              << reference[c];
        for (int t = 0; t < 2; ++t) {
          const int saved = omp_get_max_threads();
          omp_set_num_threads(t == 0 ? 1 : 8);
          by_threads[t].assign(n + 1, -7.0);
          const int cut =
              (dir == 0 ? ade_flux_sweep_a : ade_flux_sweep_b)(v, g.h.data(), by_threads[t].data());
          omp_set_num_threads(saved);
          EXPECT_EQ(cut, wide_cut);
        }
        EXPECT_EQ(by_threads[0], wide) << "direction " << dir;
        EXPECT_EQ(by_threads[1], wide) << "direction " << dir;
        if (step == 300.0) {
          EXPECT_EQ(wide_cut, ade_face_cut);
        }
      }
    }
    EXPECT_GT(flowing, n);
    EXPECT_GE(level, 2);
    EXPECT_GT(gentle, 10);
    EXPECT_GT(held, 100);
  });
}

// The sub-step update against the full one over a long row of cells whose discharges move
// water both ways, some cells close to drying: the same depths, changes, volumes (set afresh or
// added to) and result, on 1 and 8 threads, also when no changes are asked for.
TEST(AdeSubstepUpdate, GivesTheFullUpdatesDepthsVolumesAndResult) {
  const int n = 5000;
  const double dx = 10.0, s = 2.0;
  std::vector<double> h(n + 1, 0.0), q(n + 1, 0.0);
  std::vector<int> up(n + 1, 0);
  for (int c = 1; c <= n; ++c) {
    h[c] = c % 97 == 0 ? 0.0 : 0.02 + 0.01 * std::sin(c * 0.9);
    q[c] = 0.3 * std::cos(c * 1.1);
    if (c % 50 != 1) up[c] = c - 1;
  }
  for (int fresh = 0; fresh < 2; ++fresh) {
    std::vector<double> full_h = h, before = h, full_change(n + 1, 0.0), full_vol(n + 1, 1.5);
    if (fresh) full_vol.assign(n + 1, 0.0);
    const int full = ade_depth_update(n, full_h.data(), full_change.data(), before.data(), q.data(),
                                      up.data(), dx, s, full_vol.data());
    for (int threads : {1, 8}) {
      // Index 0 holds no cell: it keeps what it held.
      std::vector<double> sub_h = h, change(n + 1, 0.0), vol(n + 1, 1.5);
      vol[0] = full_vol[0];
      const int saved = omp_get_max_threads();
      omp_set_num_threads(threads);
      const int result = ade_substep_update(n, sub_h.data(), change.data(), q.data(), up.data(), dx,
                                            s, vol.data(), fresh != 0, 0, 0.0);
      std::vector<double> again = h, vol_again(n + 1, 1.5);
      ade_substep_update(n, again.data(), nullptr, q.data(), up.data(), dx, s, vol_again.data(),
                         fresh != 0, 0, 0.0);
      omp_set_num_threads(saved);
      EXPECT_EQ(result, full) << threads << " threads";
      EXPECT_EQ(sub_h, full_h) << threads << " threads";
      EXPECT_EQ(change, full_change) << threads << " threads";
      EXPECT_EQ(vol, full_vol) << threads << " threads, fresh " << fresh;
      EXPECT_EQ(again, full_h);
    }
  }
}

// The drained cell is judged by its depth before the drain: 0.012 m left of 0.03 m losing
// 0.011 m more is no large change for the 0.03 m, but is for a cell that held 0.012 m.
TEST(AdeSubstepUpdate, TheDrainedCellIsJudgedByItsDepthBeforeTheDrain) {
  struct row {
    const char* what;
    int drained;
    double drained_before;
    int result;
  };
  const row rows[] = {
      {"drained from 0.03 m", 1, 0.03, ade_update_ok},
      {"no drained cell", 0, 0.0, ade_update_large_change},
      {"another cell drained", 2, 0.03, ade_update_large_change},
  };
  const double dx = 10.0, s = 1.0;
  for (const row& t : rows) {
    std::vector<double> h = {0.0, 0.012, 0.0}, change(3, 0.0), vol(3, 0.0);
    const std::vector<double> q = {0.0, 0.011 * dx * dx / s, 0.0};
    const std::vector<int> up = {0, 0, 1};
    EXPECT_EQ(ade_substep_update(2, h.data(), change.data(), q.data(), up.data(), dx, s, vol.data(),
                                 true, t.drained, t.drained_before),
              t.result)
        << t.what;
    EXPECT_NEAR(h[1], 0.001, 1e-12) << t.what;
    EXPECT_NEAR(h[2], 0.011, 1e-12) << t.what;
  }
}

// The row kernels of the sub-steps against the whole-grid sweep and update: on the irregular
// grid, the range update row by row and the row step (sweep and update of each chunk at once)
// give the depths, changes and volumes of ade_substep_update and the discharges of
// ade_plain_sweep_wide bit for bit, and the same result, for sub-steps that fail on any negative
// depth (0.0005 s), that zero the small ones (0.05 s) and that judge large changes (5 and 300 s),
// with the drained outlet judged by its depth before the drain.
TEST(AdeFluxSweep, TheRowKernelsGiveTheWholeGridUpdateBitForBit) {
  // On every instruction set the processor runs.
  for_every_vector_target([&](const std::string&) {
    const int rows = 60;
    irregular_grid grid(rows);
    const int n = grid.n;
    cell_row& g = *grid.cells;
    const ade_grid_view& v = g.view();  // a reference: it sees the step set below
    const int drained = grid.first[30] + 5;
    int seen = 0;  // the bits of every result
    for (double s : {0.0005, 0.05, 5.0, 300.0}) {
      // The faces held to their share of the surface differences over the sub-step.
      g.g.step = s;
      for (int dir = 0; dir < 2; ++dir) {
        const int* next = dir == 0 ? v.right : v.below;
        const int* up = dir == 0 ? grid.left.data() : grid.above.data();
        const unsigned char* open = dir == 0 ? v.open_x : v.open_y;
        for (bool fresh : {true, false}) {
          // The whole grid: the sweep, then the update.
          std::vector<double> h = g.h, q(n + 1, 0.0), change(n + 1, -1.0), vol(n + 1, 0.25);
          const int cut = ade_plain_sweep_wide(v, next, open, h.data(), q.data(), 1, n);
          const int expected = ade_substep_update(n, h.data(), change.data(), q.data(), up, 10.0, s,
                                                  vol.data(), fresh, drained, 0.3);
          // The range update over each row in turn, from the same discharges.
          std::vector<double> h2 = g.h, change2(n + 1, -1.0), vol2(n + 1, 0.25), keep2(n + 1, -1.0);
          int bits = 0;
          for (int r = 0; r < rows; ++r)
            bits |= ade_update_range_wide(grid.first[r], grid.first[r + 1] - 1, h2.data(),
                                          change2.data(), keep2.data(), q.data(), up, 10.0, s,
                                          vol2.data(), fresh, drained, 0.3);
          // The row step, row by row from the top: down, each row's inflows come from the row
          // above, already swept, and the row below has not moved.
          std::vector<double> h3 = g.h, q3(n + 1, -7.0), change3(n + 1, -1.0), vol3(n + 1, 0.25),
                              keep3(n + 1, -1.0);
          int bits3 = 0;
          if (dir == 0) {
            for (int r = 0; r < rows; ++r)
              bits3 |= ade_row_step_wide(v, true, next, open, up, h3.data(), q3.data(), true,
                                         change3.data(), keep3.data(), vol3.data(), fresh, s,
                                         drained, 0.3, 0.0, grid.first[r], grid.first[r + 1] - 1);
          } else {
            // Down, a row moves only once the row above it has swept its faces into it, and
            // sweeps its own before the row below moves: the row's sweep alone, then the update
            // of the row above.
            for (int r = 0; r < rows; ++r) {
              bits3 |= ade_row_step_wide(v, false, next, open, up, h3.data(), q3.data(), false,
                                         nullptr, nullptr, vol3.data(), fresh, s, 0, 0.0, 0.0,
                                         grid.first[r], grid.first[r + 1] - 1);
              if (r > 0)
                bits3 |= ade_update_range_wide(grid.first[r - 1], grid.first[r] - 1, h3.data(),
                                               change3.data(), keep3.data(), q3.data(), up, 10.0, s,
                                               vol3.data(), fresh, drained, 0.3);
            }
            bits3 |= ade_update_range_wide(grid.first[rows - 1], n, h3.data(), change3.data(),
                                           keep3.data(), q3.data(), up, 10.0, s, vol3.data(), fresh,
                                           drained, 0.3);
          }
          auto worst = [](int b) {
            b &= ade_update_large_change | ade_update_negative_depth;
            return b >= ade_update_negative_depth ? 2 : b;
          };
          EXPECT_EQ(worst(bits), expected) << "s " << s << " dir " << dir;
          EXPECT_EQ(worst(bits3), expected) << "s " << s << " dir " << dir;
          // The row step tells of held faces as the whole-grid sweep does.
          EXPECT_EQ(bits3 & ade_face_cut, cut) << "s " << s << " dir " << dir;
          seen |= bits | cut;
          for (int c = 1; c <= n; ++c) {
            ASSERT_EQ(h2[c], h[c]) << "cell " << c << " s " << s << " dir " << dir;
            ASSERT_EQ(change2[c], change[c]) << "cell " << c;
            ASSERT_EQ(vol2[c], vol[c]) << "cell " << c;
            ASSERT_EQ(q3[c], q[c]) << "cell " << c << " s " << s << " dir " << dir;
            ASSERT_EQ(h3[c], h[c]) << "cell " << c << " s " << s << " dir " << dir;
            ASSERT_EQ(change3[c], change[c]) << "cell " << c;
            ASSERT_EQ(vol3[c], vol[c]) << "cell " << c;
            ASSERT_EQ(keep2[c], g.h[c]) << "cell " << c;  // the depths before the update kept
            ASSERT_EQ(keep3[c], g.h[c]) << "cell " << c;
          }
        }
      }
    }
    EXPECT_EQ(seen, ade_update_large_change | ade_update_negative_depth | ade_face_cut);
  });
}

}  // namespace
