// The line solver of the groundwater step: the lines of a grid with gaps, the solution of a
// five-point system by line over-relaxation along rows and along columns (checked by the
// residual of every equation), the same bits on one thread and on eight, and the sweep cap.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <vector>

#include "framework/core/process_info.h"
#include "subsurface/gw_line_sor.h"
#include "support/test_support.h"

namespace {

// A rows x cols grid whose watershed cells are numbered row by row (0 outside), with the
// neighbour arrays and a diagonally dominant five-point system of varying coefficients.
struct grid_system {
  int rows = 0, cols = 0, cells = 0;
  raw_array2d<int> index_map;
  std::vector<int> above, below, left, right;
  std::vector<double> n, s, w, e, p, r;

  grid_system(int rows_, int cols_, const std::vector<int>& mask) : rows(rows_), cols(cols_) {
    index_map.allocate(rows, cols);
    for (int i = 1; i <= rows; ++i)
      for (int j = 1; j <= cols; ++j)
        if (mask[(i - 1) * cols + (j - 1)]) index_map[i][j] = ++cells;
    for (auto* v : {&above, &below, &left, &right}) v->assign(cells + 1, 0);
    for (auto* v : {&n, &s, &w, &e, &p, &r}) v->assign(cells + 1, 0.0);
    for (int i = 1; i <= rows; ++i) {
      for (int j = 1; j <= cols; ++j) {
        const int c = index_map[i][j];
        if (c == 0) continue;
        if (i > 1) above[c] = index_map[i - 1][j];
        if (i < rows) below[c] = index_map[i + 1][j];
        if (j > 1) left[c] = index_map[i][j - 1];
        if (j < cols) right[c] = index_map[i][j + 1];
      }
    }
    // Symmetric face coefficients that vary across the grid, a storage term on the diagonal,
    // and a right-hand side of sources.
    auto face = [](int a, int b) { return 1e-3 * (1.0 + 0.37 * ((a * 7 + b * 3) % 5)); };
    for (int c = 1; c <= cells; ++c) {
      n[c] = above[c] ? face(c, above[c]) + face(above[c], c) : 0.0;
      s[c] = below[c] ? face(c, below[c]) + face(below[c], c) : 0.0;
      w[c] = left[c] ? face(c, left[c]) + face(left[c], c) : 0.0;
      e[c] = right[c] ? face(c, right[c]) + face(right[c], c) : 0.0;
      p[c] = -(n[c] + s[c] + w[c] + e[c] + 1e-4);
      r[c] = 1e-6 * ((c * 13) % 7) - 1e-4 * 10.0;
    }
  }

  gw_five_point view() const {
    gw_five_point v;
    v.n = n.data();
    v.s = s.data();
    v.w = w.data();
    v.e = e.data();
    v.p = p.data();
    v.r = r.data();
    v.above = above.data();
    v.below = below.data();
    v.left = left.data();
    v.right = right.data();
    return v;
  }

  // Largest |P h + N h_above + ... - R| / |P| over the cells: the head error the residual shows.
  double residual(const std::vector<double>& h) const {
    double worst = 0.0;
    for (int c = 1; c <= cells; ++c) {
      double sum = p[c] * h[c] - r[c];
      if (above[c]) sum += n[c] * h[above[c]];
      if (below[c]) sum += s[c] * h[below[c]];
      if (left[c]) sum += w[c] * h[left[c]];
      if (right[c]) sum += e[c] * h[right[c]];
      worst = std::max(worst, std::fabs(sum / p[c]));
    }
    return worst;
  }
};

std::vector<int> mask_with_gaps(int rows, int cols) {
  std::vector<int> mask(rows * cols, 1);
  // A hole in the middle rows and a notch in the first column: lines are cut into runs.
  for (int i = rows / 3; i < 2 * rows / 3; ++i) mask[i * cols + cols / 2] = 0;
  mask[0] = 0;
  mask[(rows - 1) * cols + cols - 1] = 0;
  return mask;
}

struct solved {
  std::vector<double> h;
  gw_sor_result result;
};

solved solve(const grid_system& g, int orientation, double omega, int parity, double tol,
             long cap = 100000) {
  gw_line_table lines;
  EXPECT_TRUE(gw_build_lines(lines, g.index_map, g.rows, g.cols, g.cells, orientation));
  gw_line_work work;
  for (auto* a : {&work.lower, &work.diag, &work.upper, &work.rhs}) a->allocate(g.cells);
  solved out;
  out.h.assign(g.cells + 1, 10.0);
  out.result = gw_line_sor_solve(lines, work, g.view(), out.h.data(), omega, tol, cap, parity);
  return out;
}

TEST(GwLineSor, LinesAreRunsOfWatershedCellsOddLinesFirst) {
  // 3 x 4, outside cells marked 0:   1 1 0 1 / 1 1 1 1 / 0 1 1 0
  const std::vector<int> mask = {1, 1, 0, 1, 1, 1, 1, 1, 0, 1, 1, 0};
  const grid_system g(3, 4, mask);
  gw_line_table rows;
  ASSERT_TRUE(gw_build_lines(rows, g.index_map, 3, 4, g.cells, 1));
  // Rows 1 and 3 first (runs {1,2}, {3}, {8,9}), then row 2 ({4,5,6,7}).
  EXPECT_EQ(rows.orientation, 1);
  EXPECT_EQ(rows.run_count, 4);
  EXPECT_EQ(rows.red_runs, 3);
  const int starts[] = {1, 3, 4, 6, 10};
  for (int k = 1; k <= 5; ++k) EXPECT_EQ(rows.run_start[k], starts[k - 1]) << k;
  const int order[] = {1, 2, 3, 8, 9, 4, 5, 6, 7};
  for (int k = 1; k <= 9; ++k) EXPECT_EQ(rows.cells[k], order[k - 1]) << k;

  gw_line_table columns;
  ASSERT_TRUE(gw_build_lines(columns, g.index_map, 3, 4, g.cells, 7));  // not 1: columns
  // Columns 1 and 3 ({1,4}, {6,9}), then 2 and 4 ({2,5,8}, {3,7}).
  EXPECT_EQ(columns.orientation, 2);
  EXPECT_EQ(columns.run_count, 4);
  EXPECT_EQ(columns.red_runs, 2);
  const int column_order[] = {1, 4, 6, 9, 2, 5, 8, 3, 7};
  for (int k = 1; k <= 9; ++k) EXPECT_EQ(columns.cells[k], column_order[k - 1]) << k;
}

TEST(GwLineSor, SweepsAlongRowsOrColumnsSolveTheSystem) {
  const grid_system g(17, 23, mask_with_gaps(17, 23));
  struct sweep_case {
    int orientation;
    double omega;
    int parity;
  };
  const sweep_case cases[] = {{1, 1.0, 1}, {1, 1.6, 2}, {2, 1.0, 2}, {2, 1.7, 1}, {1, 0.8, 1}};
  std::vector<double> first;
  for (const sweep_case& c : cases) {
    const solved s = solve(g, c.orientation, c.omega, c.parity, 1e-13);
    EXPECT_TRUE(s.result.converged) << c.orientation << " " << c.omega;
    EXPECT_GT(s.result.sweeps, 1);
    EXPECT_LT(s.result.largest_change, 1e-13);
    EXPECT_LT(g.residual(s.h), 1e-9) << c.orientation << " " << c.omega;
    if (first.empty()) first = s.h;
    for (int cell = 1; cell <= g.cells; ++cell) EXPECT_NEAR(s.h[cell], first[cell], 1e-8);
  }
  // A single row is one tridiagonal system: the first sweep solves it, the second confirms.
  const grid_system line(1, 40, std::vector<int>(40, 1));
  const solved one = solve(line, 1, 1.0, 1, 1e-12);
  EXPECT_EQ(one.result.sweeps, 2);
  EXPECT_LT(line.residual(one.h), 1e-12);
}

TEST(GwLineSor, TheHeadsAreTheSameBitsOnOneThreadAndOnEight) {
  torva_test::process_state_guard process_state;  // the thread count is given back
  const long long saved = process_info.cells_per_thread;
  process_info.cells_per_thread = 4;  // even this small grid is shared among eight threads
  const grid_system g(40, 31, mask_with_gaps(40, 31));
  for (int orientation : {1, 2}) {
    omp_set_num_threads(1);
    const solved one = solve(g, orientation, 1.5, 1, 1e-10);
    omp_set_num_threads(8);
    const solved eight = solve(g, orientation, 1.5, 1, 1e-10);
    EXPECT_EQ(one.result.sweeps, eight.result.sweeps);
    EXPECT_EQ(one.h, eight.h) << "orientation " << orientation;
    EXPECT_LT(g.residual(one.h), 1e-8);
  }
  process_info.cells_per_thread = saved;
}

TEST(GwLineSor, ASolveThatCannotMeetItsToleranceStopsAtTheSweepCap) {
  const grid_system g(9, 9, std::vector<int>(81, 1));
  // A relaxation factor of 1e-4 moves every head a ten-thousandth of the way at each sweep.
  const solved s = solve(g, 1, 1e-4, 1, 1e-9, 300);
  EXPECT_FALSE(s.result.converged);
  EXPECT_EQ(s.result.sweeps, 300);
  EXPECT_GT(s.result.largest_change, 1e-9);
}

}  // namespace
