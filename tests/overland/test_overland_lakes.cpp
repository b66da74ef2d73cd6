// Overland lake extent: the sort of the candidate keys, a lake that rises over its shore cells
// in the order of their water surface and falls back giving them up, the water of flooded cells
// joining the lake, dike sides, lakes that fill and drain holding their water equal to what came in
// minus what went out, the work storage growing with the lake on small and large grids, the
// falling lake looking at its own cells only, a lake growing only over the cells that connect
// to it and never over its rim, and a lake drained below its starting surface stopping the run.
// Expected surfaces are worked out by hand in the tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "overland/explicit_lake_faces.h"
#include "overland/explicit_overland.h"
#include "overland/overland_flow.h"
#include "overland/overland_lakes.h"
#include "overland/overland_steps.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// A rectangular grid whose every position is a cell, numbered row by row, with its neighbour
// arrays, ground, depths and lake ids; one-based arrays with a spare element.
struct lake_grid {
  int rows = 0, cols = 0;
  double dx = 10.0;
  std::vector<double> z, h;
  std::vector<int> above, right, below, left, initial, lake, dikes;
  std::vector<lake_record> lakes;
  int outlet = 0;  // where the overland water leaves the grid; 0 none: every cell is in a pit
  std::vector<int> boundary;  // per cell: overland boundary type, or empty for none
  double volume_in = 0.0;
  overland_lake_books books;

  lake_grid(int r, int c, double ground = 5.0) : rows(r), cols(c) {
    const int n = r * c;
    z.assign(n + 1, ground);
    h.assign(n + 1, 0.0);
    above.assign(n + 1, 0);
    right.assign(n + 1, 0);
    below.assign(n + 1, 0);
    left.assign(n + 1, 0);
    initial.assign(n + 1, 0);
    lake.assign(n + 1, 0);
    dikes.assign(n + 1, 0);
    for (int row = 1; row <= r; ++row)
      for (int col = 1; col <= c; ++col) {
        const int cell = at(row, col);
        if (row > 1) above[cell] = at(row - 1, col);
        if (row < r) below[cell] = at(row + 1, col);
        if (col > 1) left[cell] = at(row, col - 1);
        if (col < c) right[cell] = at(row, col + 1);
      }
  }
  int at(int row, int col) const { return (row - 1) * cols + col; }
  int cells() const { return rows * cols; }

  // Lake `id` over the given cells with its surface (also its lowest surface).
  void add_lake(int id, const std::vector<int>& lake_cells, double surface) {
    if (static_cast<int>(lakes.size()) <= id) lakes.resize(id + 1, lake_record{});
    lake_record& l = lakes[id];
    l.surface_elev = surface;
    l.card_elev = surface;
    l.num_cells = 0;
    l.volume = 0.0;
    for (int c : lake_cells) {
      initial[c] = id;
      lake[c] = id;
      ++l.num_cells;
      l.volume += (surface - z[c]) * dx * dx;
    }
  }

  olake_grid_view view(bool dikes_on = false) {
    olake_grid_view g;
    g.cell_count = cells();
    g.dx = dx;
    g.z = z.data();
    g.h = h.data();
    g.above = above.data();
    g.right = right.data();
    g.below = below.data();
    g.left = left.data();
    g.initial = initial.data();
    g.lake_of_cell = lake.data();
    g.outlet = outlet;
    g.boundary_type = boundary.empty() ? nullptr : boundary.data();
    g.dikes_on = dikes_on ? 1 : 0;
    g.dike_mask = dikes.data();
    return g;
  }

  // Hands lake `id` the change dv and runs the extent over every lake.
  bool step(int id, double dv, bool dikes_on = false) {
    lakes[id].rain_volume = dv;
    const bool ok = olake_extent(view(dikes_on), static_cast<int>(lakes.size()) - 1, lakes.data(),
                                 volume_in, books);
    for (lake_record& l : lakes) l.rain_volume = 0.0;
    return ok;
  }

  double water(int id) const {
    double v = 0.0;
    for (int c = 1; c <= cells(); ++c)
      if (lake[c] == id) v += (lakes[id].surface_elev - z[c]) * dx * dx;
    return v;
  }
  int count(int id) const { return static_cast<int>(std::count(lake.begin() + 1, lake.end(), id)); }
};

TEST(Sort2, SortsKeysAscendingAndCarriesTheCellsAlong) {
  process_state_guard guard;
  std::mt19937 random(7);
  struct sample {
    const char* what;
    int n;
    int distinct;  // keys drawn from this many values: few values give long runs of ties
  };
  const sample samples[] = {{"one key", 1, 1},      {"short run", 6, 6},   {"ties only", 500, 1},
                            {"many ties", 2000, 3}, {"mixed", 5000, 5000}, {"seven keys", 7, 7}};
  for (const sample& s : samples) {
    SCOPED_TRACE(s.what);
    std::vector<double> keys(s.n + 1);
    std::vector<int> items(s.n + 1);
    std::vector<std::pair<double, int>> expected;
    std::uniform_int_distribution<int> pick(0, s.distinct - 1);
    for (int i = 1; i <= s.n; ++i) {
      keys[i] = 0.25 * pick(random) - 3.0;
      items[i] = i;
      expected.emplace_back(keys[i], i);
    }
    ASSERT_TRUE(sort2(s.n, keys.data(), items.data()));
    std::vector<std::pair<double, int>> got;
    for (int i = 1; i <= s.n; ++i) {
      if (i > 1) {
        EXPECT_LE(keys[i - 1], keys[i]) << "at " << i;
      }
      EXPECT_EQ(keys[i], expected[items[i] - 1].first) << "the cell moved without its key";
      got.emplace_back(keys[i], items[i]);
    }
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected);
  }
  EXPECT_EQ(run_error.error_code, 0);
}

TEST(OverlandLakeExtent, AStillOrWalledInLakeOnlyMovesItsSurface) {
  process_state_guard guard;
  lake_grid grid(3, 3, 5.0);  // ground at 5 m all around the lake cell
  const int centre = grid.at(2, 2);
  grid.z[centre] = 0.0;
  grid.add_lake(1, {centre}, 1.0);

  // Less than 1e-10 m of level: nothing moves, nothing is booked yet; the change is held for
  // the next step.
  ASSERT_TRUE(grid.step(1, 0.5e-10 * 100.0));
  EXPECT_EQ(grid.lakes[1].surface_elev, 1.0);
  EXPECT_EQ(grid.volume_in, 0.0);
  EXPECT_EQ(grid.lakes[1].held_volume, 0.5e-8);

  // No neighbour below the tentative surface 1 + 250 / 100: the lake rises by dV / (N dx^2),
  // the held 0.5e-8 m3 with it.
  ASSERT_TRUE(grid.step(1, 250.0));
  EXPECT_NEAR(grid.lakes[1].surface_elev, 3.5 + 0.5e-10, 1e-13);
  EXPECT_NEAR(grid.lakes[1].volume, 350.0 + 0.5e-8, 1e-11);
  EXPECT_NEAR(grid.volume_in, 250.0 + 0.5e-8, 1e-11);
  EXPECT_EQ(grid.lakes[1].held_volume, 0.0);
  EXPECT_NEAR(grid.books.olake_balance_error, 0.0, 1e-11);
  EXPECT_EQ(grid.lakes[1].num_cells, 1);
  EXPECT_EQ(run_error.error_code, 0);
}

TEST(OverlandLakeExtent, ASingleCandidateJoinsWithItsWaterWhateverItsGround) {
  process_state_guard guard;
  lake_grid grid(3, 3, 5.0);
  const int centre = grid.at(2, 2), east = grid.at(2, 3);
  grid.z[centre] = 0.0;
  grid.z[east] = 1.2;
  grid.h[east] = 0.1;  // its surface, 1.3 m, is the key
  grid.add_lake(1, {centre}, 1.0);

  // Tentative surface 1 + 100 / 100 = 2.0 is above 1.3: the one candidate joins and the lake
  // levels out over two cells: W = (1 * 1.0 + 100 / 100 + 1.3) / 2.
  ASSERT_TRUE(grid.step(1, 100.0));
  EXPECT_DOUBLE_EQ(grid.lakes[1].surface_elev, 1.65);
  EXPECT_EQ(grid.lake[east], 1);
  EXPECT_EQ(grid.lakes[1].num_cells, 2);
  EXPECT_EQ(grid.h[east], 0.0);
  // The cell's 0.1 m over 100 m2 joined the lake's books.
  EXPECT_DOUBLE_EQ(grid.lakes[1].volume, 100.0 + 100.0 + 10.0);
  EXPECT_DOUBLE_EQ(grid.volume_in, 110.0);
  EXPECT_NEAR(grid.water(1), 210.0, 1e-9);
  EXPECT_NEAR(grid.books.olake_balance_error, 0.0, 1e-9);
}

TEST(OverlandLakeExtent, RisesOverItsShoreCellsThenFallsBackGivingUpTheCellsItTook) {
  process_state_guard guard;
  // A lake cell at 0 m with its surface (and lowest surface) at 1 m on cells of 100 m2, its
  // four neighbours at 1.2 and 1.20005 (0.00005 apart), 1.5 and 1.8 m.
  lake_grid grid(3, 3, 9.0);
  const int centre = grid.at(2, 2), n = grid.at(1, 2), w = grid.at(2, 1), e = grid.at(2, 3),
            s = grid.at(3, 2);
  grid.z[centre] = 0.0;
  grid.z[n] = 1.2;
  grid.z[w] = 1.20005;
  grid.z[e] = 1.5;
  grid.z[s] = 1.8;
  grid.add_lake(1, {centre}, 1.0);

  // Rising by 150 m3: reaching 1.2 takes (1.2 - 1) * 1 * 100 = 20, going on to 1.20005 with two
  // cells 2 * 0.00005 * 100 = 0.01 more, to 1.5 with three cells 3 * 0.29995 * 100 = 89.985
  // more (110.005), to 1.8 with four cells 120 more (> 150): the lake stops at
  // 1.5 + (150 - 110.005) / (4 * 100) = 1.6000125, taking the three cells below it.
  ASSERT_TRUE(grid.step(1, 150.0));
  EXPECT_NEAR(grid.lakes[1].surface_elev, 1.6000125, 1e-12);
  EXPECT_EQ(grid.lakes[1].num_cells, 4);
  EXPECT_EQ(grid.lake[n], 1);
  EXPECT_EQ(grid.lake[w], 1);
  EXPECT_EQ(grid.lake[e], 1);
  EXPECT_EQ(grid.lake[s], 0);
  // Each flooded cell is filled from its own ground: the lake holds what came in.
  EXPECT_NEAR(grid.water(1), 250.0, 1e-9);
  EXPECT_NEAR(grid.books.olake_balance_error, 0.0, 1e-9);

  // Falling by 100 m3: the tentative surface 1.6000125 - 100 / 400 leaves the cell at 1.5
  // dry. Lowering to 1.5 releases 0.1000125 * 4 * 100 = 40.005; the other 59.995 come from
  // three cells, which stay under the surface 1.5 - 59.995 / 300: the cell at 1.5 is given back.
  ASSERT_TRUE(grid.step(1, -100.0));
  EXPECT_NEAR(grid.lakes[1].surface_elev, 1.5 - 59.995 / 300.0, 1e-12);
  EXPECT_EQ(grid.lakes[1].num_cells, 3);
  EXPECT_EQ(grid.lake[e], 0);
  EXPECT_EQ(grid.lake[n], 1);
  EXPECT_NEAR(grid.water(1), 150.0, 1e-9);
  EXPECT_NEAR(grid.books.olake_balance_error, 0.0, 1e-9);
  EXPECT_DOUBLE_EQ(grid.books.olake_volume_out, 100.0);
  EXPECT_EQ(run_error.error_code, 0);
}

// The cells a rising lake may flood: those that connect to it through cells it floods, whose
// water surface it reaches. A cell with water standing above the new surface stays out (its
// water runs into the lake over the shore); a low cell behind high ground stays out.
TEST(OverlandLakeExtent, GrowsOnlyOverConnectedCellsWhoseWaterItReaches) {
  process_state_guard guard;
  // One row of cells at 9 m with the lake cell at 0 m (surface 1 m) in column 2:
  //   col:   1     2     3     4     5     6     7
  //   z:    1.1   0.0   1.2   1.3   9.0   1.0   9.0
  //   h:    0.5    -     -     -     -     -     -
  // Column 1 holds 0.5 m (surface 1.6); column 4 connects only through column 3; column 6 is
  // low but lies behind the high cell of column 5. Rows above and below are at 9 m.
  lake_grid grid(3, 7, 9.0);
  const double ground[8] = {0, 1.1, 0.0, 1.2, 1.3, 9.0, 1.0, 9.0};
  for (int col = 1; col <= 7; ++col) grid.z[grid.at(2, col)] = ground[col];
  const int wet = grid.at(2, 1), lake = grid.at(2, 2), near = grid.at(2, 3), beyond = grid.at(2, 4),
            behind_wall = grid.at(2, 6);
  grid.h[wet] = 0.5;
  grid.add_lake(1, {lake}, 1.0);

  // 90 m3: reaching 1.2 takes 20; with the cell at 1.2, reaching 1.3 takes 2 * 0.1 * 100 = 20
  // more; then the cell two away joins and three cells rise by (90 - 40) / 300 to 1.4666...,
  // still below the 1.6 m surface of the wet cell.
  ASSERT_TRUE(grid.step(1, 90.0));
  EXPECT_NEAR(grid.lakes[1].surface_elev, 1.3 + 50.0 / 300.0, 1e-12);
  EXPECT_EQ(grid.lake[near], 1);
  EXPECT_EQ(grid.lake[beyond], 1);
  EXPECT_EQ(grid.lake[wet], 0);
  EXPECT_EQ(grid.h[wet], 0.5);
  EXPECT_EQ(grid.lake[behind_wall], 0);
  EXPECT_EQ(grid.lakes[1].num_cells, 3);
  EXPECT_NEAR(grid.water(1), 190.0, 1e-9);
  EXPECT_NEAR(grid.books.olake_balance_error, 0.0, 1e-9);

  // 100 m3 more: the surface reaches the wet cell's water at 1.6 after
  // 3 * (1.6 - 1.4666...) * 100 = 40; it joins with its 50 m3, and four cells rise by
  // 60 / 400 to 1.75. The cell behind the wall stays out however high the lake stands.
  ASSERT_TRUE(grid.step(1, 100.0));
  EXPECT_NEAR(grid.lakes[1].surface_elev, 1.75, 1e-12);
  EXPECT_EQ(grid.lake[wet], 1);
  EXPECT_EQ(grid.h[wet], 0.0);
  EXPECT_EQ(grid.lake[behind_wall], 0);
  EXPECT_NEAR(grid.water(1), 340.0, 1e-9);
  EXPECT_NEAR(grid.volume_in, 240.0, 1e-9);  // 190 of change and the wet cell's 50
  EXPECT_NEAR(grid.books.olake_balance_error, 0.0, 1e-9);
  EXPECT_EQ(run_error.error_code, 0);
}

// A lake in a pit of a tilted plane with its outlet (or a boundary cell) in the south-west
// corner: it fills the pit to the ground of the lowest cell around it, its rim, and no higher; the
// water beyond goes onto the lowest cell outside the pit as overland depth, to run on down the
// plane. Neither the rim cell nor the lower cells beyond it join the lake. A lake on a summit, its
// surface above all its neighbours, rises not at all: all it gains runs off.
TEST(OverlandLakeExtent, NeverRisesOverItsRimButSpillsOverIt) {
  process_state_guard guard;
  struct pit_case {
    const char* what;
    double pit_ground;   // m, of the lake cell in the middle of the plane
    double surface;      // m, the lake's starting surface
    double room;         // m3 it may take before it spills, worked out below
    double rim_surface;  // m, the lake's surface once full
    bool boundary;       // the water leaves through a boundary cell there instead of the outlet
  };
  // The plane of 5 x 5 cells falls 0.1 m a cell to the south and 0.01 m a cell to the west:
  // z = 10 + 0.1 * (5 - row) + 0.01 * (col - 1). The lake cell (3, 3) has the neighbours
  // (2, 3) at 10.22, (3, 2) at 10.21, (3, 4) at 10.23 and (4, 3) at 10.12, the lowest: the rim,
  // whose own neighbours lie lower still on the way to the outlet.
  const pit_case cases[] = {
      {"pit filling to its rim", 9.5, 9.9, (10.12 - 9.9) * 100.0, 10.12, false},
      {"pit draining to a boundary cell", 9.5, 9.9, (10.12 - 9.9) * 100.0, 10.12, true},
      {"lake on the summit", 10.5, 10.6, 0.0, 10.6, false},
  };
  for (const pit_case& p : cases) {
    SCOPED_TRACE(p.what);
    lake_grid grid(5, 5);
    for (int row = 1; row <= 5; ++row)
      for (int col = 1; col <= 5; ++col)
        grid.z[grid.at(row, col)] = 10.0 + 0.1 * (5 - row) + 0.01 * (col - 1);
    if (p.boundary) {
      grid.boundary.assign(grid.cells() + 1, 0);
      grid.boundary[grid.at(5, 1)] = 1;
    } else {
      grid.outlet = grid.at(5, 1);
    }
    const int pit = grid.at(3, 3), rim = grid.at(4, 3);
    grid.z[pit] = p.pit_ground;
    grid.add_lake(1, {pit}, p.surface);
    const double start = grid.water(1);
    // Two steps of 30 m3: the first spills what the pit has no room for onto the rim cell.
    ASSERT_TRUE(grid.step(1, 30.0));
    EXPECT_NEAR(grid.h[rim] * 100.0, 30.0 - p.room, 1e-9);
    ASSERT_TRUE(grid.step(1, 30.0));
    double on_cells = 0.0;
    for (int c = 1; c <= grid.cells(); ++c) on_cells += grid.h[c] * 100.0;
    // The lake holds its start and its room; the rest lies on the cells around it.
    EXPECT_NEAR(grid.water(1), start + p.room, 1e-9);
    EXPECT_NEAR(grid.lakes[1].surface_elev, p.rim_surface, 1e-12);
    EXPECT_NEAR(on_cells, 60.0 - p.room, 1e-9);
    EXPECT_EQ(grid.lakes[1].num_cells, 1);
    EXPECT_EQ(grid.count(1), 1);
    EXPECT_NEAR(grid.volume_in, 60.0, 1e-9);
    EXPECT_NEAR(grid.books.olake_volume_out, 60.0 - p.room, 1e-9);
    EXPECT_NEAR(grid.lakes[1].volume - grid.water(1), 0.0, 1e-9);
    EXPECT_NEAR(grid.books.olake_balance_error, 0.0, 1e-9);
    EXPECT_EQ(run_error.error_code, 0);
  }
}

// A bowl of 20 x 20 cells: the ground rises with the distance from a 2 x 2 lake in its middle,
// every cell at its own elevation, 2 mm above the next lower one, so that no two candidates
// share a level and the lake's water is exact.
lake_grid bowl() {
  lake_grid grid(20, 20);
  std::vector<std::pair<double, int>> by_distance;
  for (int r = 1; r <= 20; ++r)
    for (int c = 1; c <= 20; ++c) {
      const double dr = r - 10.5, dc = c - 10.5;
      by_distance.emplace_back(std::sqrt(dr * dr + dc * dc), grid.at(r, c));
    }
  std::sort(by_distance.begin(), by_distance.end());
  for (std::size_t rank = 0; rank < by_distance.size(); ++rank)
    grid.z[by_distance[rank].second] = 0.002 * static_cast<double>(rank);
  grid.add_lake(1, {grid.at(10, 10), grid.at(10, 11), grid.at(11, 10), grid.at(11, 11)}, 0.016);
  return grid;
}

TEST(OverlandLakeExtent, ALakeFillingAndDrainingHoldsItsInflowLessItsOutflowAtEveryStep) {
  process_state_guard guard;
  lake_grid grid = bowl();
  const double start = grid.water(1);
  ASSERT_NEAR(grid.lakes[1].volume, start, 1e-9);
  // An inflow hydrograph rising and falling, then an outflow that drains most of it again.
  std::vector<double> changes;
  for (int k = 1; k <= 12; ++k) changes.push_back(40.0 * k);
  for (int k = 12; k >= 1; --k) changes.push_back(40.0 * k);
  for (int k = 1; k <= 20; ++k) changes.push_back(-120.0);
  double inflow = 0.0, outflow = 0.0;
  int largest = 0;
  for (std::size_t step = 0; step < changes.size(); ++step) {
    SCOPED_TRACE(step);
    const double dv = changes[step];
    ASSERT_TRUE(grid.step(1, dv));
    (dv > 0.0 ? inflow : outflow) += std::fabs(dv);
    EXPECT_NEAR(grid.water(1), start + inflow - outflow, 1e-6);
    EXPECT_NEAR(grid.lakes[1].volume, start + inflow - outflow, 1e-6);
    EXPECT_NEAR(grid.volume_in, inflow, 1e-9);
    EXPECT_NEAR(grid.books.olake_volume_out, outflow, 1e-9);
    EXPECT_EQ(grid.lakes[1].num_cells, grid.count(1));
    // Every cell of the lake lies under its surface; every cell it left is above it.
    for (int c = 1; c <= grid.cells(); ++c)
      if (grid.lake[c] == 1) {
        EXPECT_LE(grid.z[c], grid.lakes[1].surface_elev + 1e-12) << c;
      }
    largest = std::max(largest, grid.count(1));
  }
  // The lake spread well beyond the 50 cells an eighth of the grid would have held, and gave
  // them back when it drained.
  EXPECT_GT(largest, 100);
  EXPECT_LT(grid.count(1), largest);
  EXPECT_NEAR(grid.books.olake_balance_error, 0.0, 1e-6);
  EXPECT_EQ(run_error.error_code, 0);
}

TEST(OverlandLakeExtent, SmallGridsAndFlatShoresNeverRunOutOfCandidateRoom) {
  process_state_guard guard;
  struct shore {
    const char* what;
    int rows, cols;
    double dv;
  };
  // A lake in the corner of a flat grid: every neighbour has the same ground, so all of them
  // are candidates of one level. On 2 x 2 the storage of an eighth of the grid holds nothing.
  const shore shores[] = {{"2 x 2 grid", 2, 2, 50.0},
                          {"3 x 3 grid", 3, 3, 500.0},
                          {"flat 40 x 40 grid, many steps", 40, 40, 3000.0}};
  for (const shore& s : shores) {
    SCOPED_TRACE(s.what);
    lake_grid grid(s.rows, s.cols, 1.0);
    grid.z[1] = 0.0;
    grid.add_lake(1, {1}, 1.0);
    double inflow = 0.0;
    for (int k = 0; k < 6; ++k) {
      stdout_capture out;
      ASSERT_TRUE(grid.step(1, s.dv));
      EXPECT_FALSE(contains(out.stop(), "HUGE"));
      inflow += s.dv;
      EXPECT_NEAR(grid.water(1), 100.0 + inflow, 1e-6);
    }
    EXPECT_GT(grid.count(1), 1);
    EXPECT_EQ(run_error.error_code, 0);
  }
}

TEST(OverlandLakeExtent, AFallingLakeLooksOnlyAtItsOwnCells) {
  process_state_guard guard;
  // Lake 1 sits in a pit walled in by high ground; lake 2 next to it has taken in a cell.
  lake_grid grid(3, 6, 9.0);
  const int pit = grid.at(2, 2);
  const int l2 = grid.at(2, 5), l2_shore = grid.at(2, 6);
  grid.z[pit] = 0.0;
  grid.z[l2] = 0.0;
  grid.z[l2_shore] = 1.5;
  grid.add_lake(1, {pit}, 1.0);
  grid.add_lake(2, {l2}, 1.0);
  ASSERT_TRUE(grid.step(2, 100.0));  // lake 2 takes its shore cell
  ASSERT_EQ(grid.lake[l2_shore], 2);

  // Lake 1 rises with no cell to take, then falls back above its lowest surface: it is not
  // drained below its map surface, and it has no cell to give back, so it simply falls.
  ASSERT_TRUE(grid.step(1, 200.0));
  ASSERT_DOUBLE_EQ(grid.lakes[1].surface_elev, 3.0);
  {
    stdout_capture out;
    ASSERT_TRUE(grid.step(1, -150.0));
    EXPECT_FALSE(contains(out.stop(), "drained below"));
  }
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_DOUBLE_EQ(grid.lakes[1].surface_elev, 1.5);
  // Lake 2's cells are not lake 1's to give back.
  EXPECT_EQ(grid.lake[l2_shore], 2);
  EXPECT_EQ(grid.lakes[2].num_cells, 2);
}

// A lake may fall back to the surface it started from, giving back the cells it took in, but no
// lower: asked for more, it stops the run with the message that says so.
TEST(OverlandLakeExtent, ALakeDrainedBelowItsStartingSurfaceStopsTheRun) {
  struct drain {
    const char* what;
    double dv;       // m3 of the fall after the lake took its two shore cells
    bool stops;      // the run stops
    double surface;  // m, the lake's surface after the fall when it goes on
  };
  // The lake holds 100 m3 at its starting surface 1.0 m and 200 m3 at 1.5 m over three cells.
  // Falling by 100 m3: to 1.3 releases 60 (the cell at 1.3 leaves), to 1.2 with two cells 20
  // (the cell at 1.2 leaves), the last 20 from the lake cell brings it to 1.0 exactly.
  const drain drains[] = {{"back to its start", -100.0, false, 1.0},
                          {"below its start", -100.5, true, 0.0},
                          {"far below", -300.0, true, 0.0}};
  for (const drain& d : drains) {
    SCOPED_TRACE(d.what);
    process_state_guard guard;
    lake_grid grid(3, 3, 9.0);
    const int centre = grid.at(2, 2), n = grid.at(1, 2), w = grid.at(2, 1);
    grid.z[centre] = 0.0;
    grid.z[n] = 1.2;
    grid.z[w] = 1.3;
    grid.add_lake(1, {centre}, 1.0);
    ASSERT_TRUE(grid.step(1, 100.0));  // takes both shore cells: 1.2 + (100 - 20 - 20) / 300
    ASSERT_EQ(grid.lakes[1].num_cells, 3);
    ASSERT_NEAR(grid.lakes[1].surface_elev, 1.5, 1e-12);
    stdout_capture out;
    const bool ok = grid.step(1, d.dv);
    const std::string text = out.stop();
    EXPECT_EQ(ok, !d.stops);
    EXPECT_EQ(contains(text,
                       "Lake 1 is being drained below its' original elevation.  This is not\n"
                       "allowed.  Re-size your initial lake. Program stopped.\n"),
              d.stops)
        << text;
    EXPECT_EQ(run_error.error_fatal, d.stops ? 1 : 0);
    if (d.stops) continue;
    EXPECT_NEAR(grid.lakes[1].surface_elev, d.surface, 1e-12);
    EXPECT_EQ(grid.lake[n], 0);
    EXPECT_EQ(grid.lake[w], 0);
    EXPECT_EQ(grid.lakes[1].num_cells, 1);
    EXPECT_NEAR(grid.water(1), 100.0, 1e-9);
    EXPECT_NEAR(grid.lakes[1].volume, grid.water(1), 1e-9);
    EXPECT_NEAR(grid.books.olake_balance_error, 0.0, 1e-9);
  }
}

TEST(OverlandLakeStep, TakesTheCollectedChangesOnceAndClearsThem) {
  process_state_guard guard;
  model_state ms;
  lake_grid grid(3, 3, 9.0);
  const int centre = grid.at(2, 2);
  grid.z[centre] = 0.0;
  grid.add_lake(1, {centre}, 1.0);
  const int n = grid.cells();
  ms.cell_count = n;
  ms.gridsize = grid.dx;
  overland_state& ov = ms.overland;
  ov.overland_lake_map = 1;
  ov.olake_count = 1;
  ASSERT_TRUE(ms.cell_elev.allocate(n) && ov.ov_depth.allocate(n) && ov.abovecon.allocate(n) &&
              ov.rightcon.allocate(n) && ov.belowcon.allocate(n) && ov.leftcon.allocate(n) &&
              ov.oland_lake_mask.allocate(n) && ov.oland_lake_new.allocate(n) &&
              ov.ov_lakes.allocate(1));
  for (int c = 1; c <= n; ++c) {
    ms.cell_elev[c] = grid.z[c];
    ov.abovecon[c] = grid.above[c];
    ov.rightcon[c] = grid.right[c];
    ov.belowcon[c] = grid.below[c];
    ov.leftcon[c] = grid.left[c];
    ov.oland_lake_mask[c] = grid.initial[c];
    ov.oland_lake_new[c] = grid.lake[c];
  }
  ov.ov_lakes[1] = grid.lakes[1];

  // Nothing collected since the last update: the step does nothing.
  ov.ov_lakes[1].rain_volume = 50.0;
  overland_lake_step(ms);
  EXPECT_EQ(ov.ov_lakes[1].surface_elev, 1.0);

  ov.olake_changed = 1;
  overland_lake_step(ms);
  EXPECT_DOUBLE_EQ(ov.ov_lakes[1].surface_elev, 1.5);
  EXPECT_EQ(ov.ov_lakes[1].rain_volume, 0.0);
  EXPECT_EQ(ov.olake_changed, 0);
  EXPECT_DOUBLE_EQ(ov.olake_volume_in, 50.0);
  EXPECT_DOUBLE_EQ(ov.olake_books.olake_volume, 100.0);  // the lakes' water before the update
  EXPECT_EQ(run_error.error_code, 0);
}

TEST(LakeShoreFaces, ManningOnTheCellsDepthInBothDirections) {
  const double five_thirds = 5.0 / 3.0;
  // A cell 0.05 m deep at 1.1 m next to a lake at 1.0 m, 10 m cells: S = 0.015.
  const double S_in = ov_lake_shore_slope(1.15 - 1.0, 10.0);
  EXPECT_NEAR(S_in, 0.015, 1e-15);
  EXPECT_NEAR(ov_lake_shore_discharge(S_in, 0.05, 0.0, 0.04, nullptr),
              std::sqrt(0.015) / 0.04 * std::pow(0.05, five_thirds), 1e-15);
  // The lake above the cell: flow out of the lake, driven over the cell's own depth above its
  // retention depth (0.05 - 0.01), with the cell's roughness.
  const double S_out = ov_lake_shore_slope(1.4 - 1.15, 10.0);
  EXPECT_NEAR(ov_lake_shore_discharge(S_out, 0.05, 0.01, 0.04, nullptr),
              std::sqrt(0.025) / 0.04 * std::pow(0.04, five_thirds), 1e-15);
  // A dry cell (or one within its retention depth) exchanges nothing with the lake.
  EXPECT_EQ(ov_lake_shore_discharge(S_out, 0.0, 0.0, 0.04, nullptr), 0.0);
  EXPECT_EQ(ov_lake_shore_discharge(S_out, 0.008, 0.01, 0.04, nullptr), 0.0);
  // A level shore has no slope and moves nothing; just off level the law is linear in the
  // slope (below the threshold slope of 1e-5).
  EXPECT_EQ(ov_lake_shore_slope(0.0, 10.0), 0.0);
  EXPECT_EQ(ov_lake_shore_discharge(0.0, 0.05, 0.0, 0.04, nullptr), 0.0);
  EXPECT_NEAR(ov_lake_shore_discharge(ov_lake_shore_slope(2e-5, 10.0), 0.05, 0.0, 0.04, nullptr),
              2e-6 / std::sqrt(1e-5) / 0.04 * std::pow(0.05, five_thirds), 1e-18);
  // A wetland cell whose water stands within its vegetated layer seeps: h S k_v.
  wetland_record w{};
  w.slot[1] = 0.1;
  w.slot[2] = 0.002;
  w.slot[3] = 0.05;
  w.slot[4] = 0.01;
  w.slot[6] = 0.2;
  EXPECT_NEAR(ov_lake_shore_discharge(0.01, 0.08, 0.0, 0.04, &w), 0.08 * 0.01 * 0.002, 1e-18);
  // 0.03 m above the layer: seepage plus the blend of the linear and Manning laws.
  const double h2 = 0.03;
  EXPECT_NEAR(ov_lake_shore_discharge(0.01, 0.13, 0.0, 0.04, &w),
              0.01 * 0.1 * 0.002 + (1.0 - h2 / 0.05) * h2 * 0.01 * 0.01 +
                  std::sqrt(0.01) / 0.2 * std::pow(h2, five_thirds) * h2 / 0.05,
              1e-15);
}

// A row of five 10 m cells falling towards a lake of the last two (ground 0 m, surface 1 m);
// the outlet is a lake cell, so no water leaves the grid.
class LakeRouting : public ::testing::Test {
 protected:
  void SetUp() override {
    ms_ = std::make_unique<model_state>();
    model_state& ms = *ms_;
    ms.rows = 1;
    ms.cols = 5;
    ms.gridsize = 10.0;
    ms.cell_count = 5;
    alloc_2d_int_named(ms.index_map, 2, 6, "mask");
    for (int c = 1; c <= 5; ++c) ms.index_map[1][c] = c;
    alloc_1d_double(ms.cell_elev, 5, "elev");
    const double ground[] = {0.0, 1.3, 1.2, 1.05, 0.0, 0.0};
    for (int c = 1; c <= 5; ++c) ms.cell_elev[c] = ground[c];
    overland_state& ov = ms.overland;
    alloc_1d_double(ov.ov_depth, 5, "depth");
    alloc_1d_double(ov.ov_roughness, 5, "n");
    for (int c = 1; c <= 5; ++c) ov.ov_roughness[c] = 0.05;
    for (int c = 1; c <= 3; ++c) ov.ov_depth[c] = 0.05;
    ov.ov_route_option = 1;
    ov.overland_lake_map = 1;
    ov.olake_count = 1;
    alloc_1d_int(ov.oland_lake_mask, 5, "oland_lake_mask");
    alloc_1d_int(ov.oland_lake_new, 5, "oland_lake_new");
    for (int c = 4; c <= 5; ++c) ov.oland_lake_mask[c] = ov.oland_lake_new[c] = 1;
    ov.ov_lakes.allocate(1);
    ov.ov_lakes[1].surface_elev = 1.0;
    ov.ov_lakes[1].card_elev = 1.0;
    ov.ov_lakes[1].num_cells = 2;
    ov.ov_lakes[1].volume = 200.0;
    ms.outlet_cell = 5;
    ms.outlet_slope = 0.01;
    ms.time_tolerance = 1.1574e-07;
    ms.current_time = 2450000.0;
    ms.ov_clock.interval_days = 10.0 / 86400.0;
    ms.ov_clock.last = ms.current_time - ms.ov_clock.interval_days;
    ms.ov_clock.next = ms.current_time;
    stdout_capture quiet;
    build_cell_connectivity(ms);
    compute_overland_slopes(ms);
    quiet.stop();
  }
  // Water on the cells outside the lake and in the lake (m3).
  double cells_water() const {
    double v = 0.0;
    for (int c = 1; c <= 5; ++c)
      if (ms_->overland.oland_lake_new[c] == 0) v += ms_->overland.ov_depth[c] * 100.0;
    return v;
  }
  double lake_water() const {
    double v = 0.0;
    for (int c = 1; c <= 5; ++c)
      if (ms_->overland.oland_lake_new[c] == 1)
        v += (ms_->overland.ov_lakes[1].surface_elev - ms_->cell_elev[c]) * 100.0;
    return v;
  }
  std::unique_ptr<model_state> ms_;
};

TEST_F(LakeRouting, RunoffIntoALakeRaisesItByExactlyWhatCrossedItsShore) {
  process_state_guard guard;
  model_state& ms = *ms_;
  ASSERT_EQ(run_error.error_code, 0);
  const double start_cells = cells_water(), start_lake = lake_water();
  ASSERT_NEAR(start_cells, 15.0, 1e-12);
  double inflow = 0.0, taken = 0.0;
  for (int step = 1; step <= 60; ++step) {
    SCOPED_TRACE(step);
    ms.current_time = ms.ov_clock.next;
    overland_flow_step(ms);
    ASSERT_EQ(run_error.error_code, 0);
    // The cells lost to the lake exactly what the lake collected across its shore.
    const double collected = ms.overland.ov_lakes[1].rain_volume;
    EXPECT_GE(collected, 0.0);
    inflow += collected;
    EXPECT_NEAR(cells_water() + inflow + taken, start_cells, 1e-9);
    double before[6];
    for (int c = 1; c <= 5; ++c) before[c] = ms.overland.ov_depth[c];
    const int lake_cells = ms.overland.ov_lakes[1].num_cells;
    overland_lake_step(ms);
    ASSERT_EQ(run_error.error_code, 0);
    EXPECT_EQ(ms.overland.ov_lakes[1].rain_volume, 0.0);
    // A cell the lake takes in brings its water.
    for (int c = 1; c <= 3; ++c)
      if (ms.overland.oland_lake_new[c] == 1 && before[c] != 0.0 && ms.overland.ov_depth[c] == 0.0)
        taken += before[c] * 100.0;
    EXPECT_GE(ms.overland.ov_lakes[1].num_cells, lake_cells);
    EXPECT_NEAR(lake_water(), start_lake + inflow + taken, 1e-9);
    EXPECT_NEAR(cells_water() + lake_water(), start_cells + start_lake, 1e-9);
    // Lake cells keep no depth of their own.
    EXPECT_EQ(ms.overland.ov_depth[5], 0.0);
  }
  // The runoff reached the lake and raised it above the 1.05 m ground of the shore cell, whose
  // water surface stands just above the lake's as it drains into it: the lake takes a cell only
  // once its surface rises over the cell's water.
  EXPECT_GT(inflow, 5.0);
  EXPECT_GT(ms.overland.ov_lakes[1].surface_elev, 1.05);
  EXPECT_GE(ms.cell_elev[3] + ms.overland.ov_depth[3], ms.overland.ov_lakes[1].surface_elev);
  EXPECT_EQ(ms.overland.oland_lake_new[3], 0);
  EXPECT_EQ(taken, 0.0);
  EXPECT_NEAR(ms.overland.olake_volume_in, inflow, 1e-9);
}

// The shore cell next to the lake (ground 1.05 m, the lake at 1.0 m) holds 0.6 m: over a 10 s
// step its face would move metres of water into the lake, more than a sub-step may. The step is
// cut and redone from its start: the cells and the lake's collected change (7 m3 of rain
// already in it) as they stood, and the result is the step routed in the final sub-step from
// the outset, bit for bit, with every cubic metre the cells gave in the lake's collected change.
TEST_F(LakeRouting, ACutSubStepRedoesTheStepWithTheLakesCollectedChangeAsItStood) {
  process_state_guard guard;
  model_state& ms = *ms_;
  ms.quiet = 0;
  auto start = [&](double first_sub) {
    const double depth[] = {0.0, 0.02, 0.02, 0.6, 0.0, 0.0};
    for (int c = 1; c <= 5; ++c) ms.overland.ov_depth[c] = depth[c];
    ms.overland.ov_lakes[1].rain_volume = 7.0;
    ms.overland.explicit_memory = explicit_scheme_memory{};
    ms.overland.explicit_memory.reduced_step = first_sub;
    ms.overland.explicit_memory.reduced_calls_left = first_sub > 0.0 ? 1 : 0;
  };
  start(0.0);
  const double before = cells_water() + 7.0;
  stdout_capture capture;
  ov_route_explicit(ms, 10.0);
  const std::string out = capture.stop();
  ASSERT_EQ(run_error.error_code, 0) << out;
  const explicit_scheme_memory mem = ms.overland.explicit_memory;
  EXPECT_TRUE(contains(out, "need to split...(x-dir) curr_du=")) << out;
  EXPECT_TRUE(contains(out, " *Changing overland time step to 3.33 seconds...\n")) << out;
  EXPECT_LT(mem.reduced_step, 10.0 / 3.0);
  EXPECT_EQ(mem.reduced_calls_left, 4);
  const double collected = ms.overland.ov_lakes[1].rain_volume;
  EXPECT_GT(collected, 7.0);
  EXPECT_NEAR(cells_water() + collected, before, 1e-12);
  const std::vector<double> depths(ms.overland.ov_depth.data(), ms.overland.ov_depth.data() + 6);

  start(mem.reduced_step);
  {
    stdout_capture quiet;
    ov_route_explicit(ms, 10.0);
  }
  EXPECT_EQ(ms.overland.explicit_memory.reduced_step, mem.reduced_step);  // no further cut
  EXPECT_EQ(ms.overland.ov_lakes[1].rain_volume, collected);
  for (int c = 1; c <= 5; ++c) EXPECT_EQ(ms.overland.ov_depth[c], depths[c]) << c;
}

TEST_F(LakeRouting, ALakeAboveItsShoreSpillsOntoAWetCell) {
  process_state_guard guard;
  model_state& ms = *ms_;
  // The lake stands 0.2 m above the 1.05 m cell, which holds 0.02 m: the shore face carries
  // water out of the lake over the cell's depth, and the lake's change is that water.
  ms.overland.ov_lakes[1].surface_elev = 1.27;
  for (int c = 1; c <= 3; ++c) ms.overland.ov_depth[c] = 0.0;
  ms.overland.ov_depth[3] = 0.02;
  const double S = (1.27 - 1.07) / 10.0 + 1e-20;
  const double q = std::sqrt(S) / 0.05 * std::pow(0.02, 5.0 / 3.0);
  ms.current_time = ms.ov_clock.next;
  const double dt = (ms.current_time - ms.ov_clock.last) * 86400.0;  // 10 s within rounding
  overland_flow_step(ms);
  EXPECT_NEAR(ms.overland.ov_lakes[1].rain_volume, -q * dt / 10.0 * 100.0, 1e-12);
  // The cell gains it, less what its own face passes up-slope to the dry 1.2 m cell: none.
  EXPECT_NEAR(ms.overland.ov_depth[3], 0.02 + q * dt / 10.0, 1e-12);
  // Face discharges of the step in m3/s: the shore face of cell 3 points into the lake.
  EXPECT_NEAR(ms.overland.ov_flux_x[3], -q * 10.0, 1e-12);
  EXPECT_EQ(ms.overland.ov_flux_x[4], 0.0);  // between two lake cells
}

// A run of the model with an overland lake: 4 x 5 cells of 10 m draining to the outlet in the
// corner, with a lake of four cells whose ground is at 99 m and whose surface starts at 99.5 m
// (200 m3). 100 mm/h of rain for an hour brings 200 m3; the lake takes the rain on it and the
// runoff of its slopes.
TEST(OverlandLakeRun, ALakeRunKeepsItsWaterBooksOnAnyThreadCount) {
  process_state_guard guard;
  temp_dir dir;
  const std::string header = torva_test::grid_header(4, 5, 1040.0, 1000.0, 2050.0, 2000.0);
  write_file(dir.file("mask.asc"), header + "1 1 1 1 1\n1 1 1 1 1\n1 1 1 1 1\n1 1 1 1 1\n");
  write_file(dir.file("elev.asc"), header +
                                       "100.6 100.5 100.4 100.5 100.6\n"
                                       "100.5 99.0 99.0 100.3 100.4\n"
                                       "100.4 99.0 99.0 100.2 100.1\n"
                                       "100.5 100.4 100.3 100.1 100.0\n");
  write_file(dir.file("lake.asc"), header + "0 0 0 0 0\n0 1 1 0 0\n0 1 1 0 0\n0 0 0 0 0\n");
  write_file(dir.file("lake.txt"), "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 99.5 0.0\n");
  const std::string project =
      "TORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nSUMMARY lake_summary.out\n"
      "OUTLET_HYDRO lake_outlet.out\nROWS 4\nCOLS 5\nGRIDSIZE 10.0\nSTART_DATE 2005 3 14\n"
      "START_TIME 6 30\nTIMESTEP 10.0\nTOT_TIME 120\nOUTROW 4\nOUTCOL 5\nOUTSLOPE 0.01\n"
      "HYD_FREQ 5\nMANNING_N 0.05\nOVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY 100.0\n"
      "RAIN_DURATION 60\nOVERLAND_LAKE_MAP lake.asc\nOVERLAND_LAKE_FILE lake.txt\n";
  std::string summaries[2];
  const int threads[2] = {1, 8};
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(threads[k]);
    write_file(dir.file("lake.prj"), project + "NUM_THREADS " + std::to_string(threads[k]) + "\n");
    const torva_test::command_result run =
        torva_test::run_command(torva_test::torva_exe(), {"lake.prj"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    summaries[k] = torva_test::read_file(dir.file("lake_summary.out"));
    const torva_test::summary_balance s = torva_test::read_summary_balance(summaries[k]);
    ASSERT_TRUE(s.has_event && s.has_totals) << summaries[k];
    EXPECT_NEAR(s.event_rain, 200.0, 0.05);
    EXPECT_LT(std::fabs(s.event_error_percent), 1e-6) << summaries[k];
    EXPECT_LT(std::fabs(s.run_overall_error), 1e-6) << summaries[k];
    EXPECT_LT(std::fabs(s.run_surface_error), 1e-6) << summaries[k];
    // The lake's own books close to the printed 0.01 m3 (a round-off either side of 0 prints
    // 0.00 or -0.00), and it holds its 200 m3 plus most of the rain.
    EXPECT_LE(
        std::fabs(torva_test::summary_number(summaries[k], "Overland lake mass bal error m^3:")),
        0.0)
        << summaries[k];
    const std::size_t at = summaries[k].find("Final volume in overland lakes=");
    ASSERT_NE(at, std::string::npos);
    const double lake_final = std::stod(summaries[k].substr(at + 31));
    EXPECT_GT(lake_final, 300.0);
    EXPECT_NEAR(lake_final + s.run_discharge + s.run_ov_final, 400.0, 0.05);
  }
  EXPECT_EQ(summaries[0].substr(summaries[0].find("Note: all volumes")),
            summaries[1].substr(summaries[1].find("Note: all volumes")));
}

}  // namespace
