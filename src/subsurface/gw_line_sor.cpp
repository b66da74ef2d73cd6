// The line solver of the groundwater step (gw_solve calls it once per Picard pass): the lines of
// the grid built once per run, and line successive over-relaxation over them with red-black
// ordering of the lines.
#include "subsurface/gw_line_sor.h"

#include <algorithm>
#include <cmath>

#include "framework/core/parallel_team.h"

bool gw_build_lines(gw_line_table& lines, const raw_array2d<int>& index_map, int rows, int cols,
                    int cell_count, int orientation) {
  lines.orientation = orientation == 1 ? 1 : 2;
  const bool by_rows = lines.orientation == 1;
  const int line_count = by_rows ? rows : cols;
  const int line_length = by_rows ? cols : rows;
  // Runs are counted first, then stored: odd lines (colour 0), then even lines (colour 1).
  int runs = 0;
  for (int l = 1; l <= line_count; ++l) {
    bool open = false;
    for (int k = 1; k <= line_length; ++k) {
      const int cell = by_rows ? index_map[l][k] : index_map[k][l];
      if (cell != 0 && !open) ++runs;
      open = cell != 0;
    }
  }
  if (!lines.run_start.allocate(runs + 1) || !lines.cells.allocate(cell_count)) return false;
  lines.run_count = runs;
  int run = 0;
  int position = 0;
  for (int colour = 0; colour < 2; ++colour) {
    for (int l = 1 + colour; l <= line_count; l += 2) {
      bool open = false;
      for (int k = 1; k <= line_length; ++k) {
        const int cell = by_rows ? index_map[l][k] : index_map[k][l];
        if (cell != 0 && position < cell_count) {
          if (!open) lines.run_start[++run] = position + 1;
          lines.cells[++position] = cell;
        }
        open = cell != 0;
      }
    }
    if (colour == 0) lines.red_runs = run;
  }
  lines.run_start[runs + 1] = position + 1;
  return true;
}

namespace {

// Solves run `r` and moves its cells; returns the largest |solution - old head| of the run.
double solve_run(const gw_line_table& lines, gw_line_work& work, const gw_five_point& sys,
                 double* h, double omega, int r) {
  const int first = lines.run_start[r];
  const int last = lines.run_start[r + 1] - 1;
  const int* cells = lines.cells.data();
  double* lo = work.lower.data();
  double* di = work.diag.data();
  double* up = work.upper.data();
  double* rh = work.rhs.data();
  const bool by_rows = lines.orientation == 1;
  // Along a row the run couples W and E, and N and S act through the heads of the lines above
  // and below; along a column the other way round.
  const double* along_lo = by_rows ? sys.w : sys.n;
  const double* along_up = by_rows ? sys.e : sys.s;
  const double* off_a = by_rows ? sys.n : sys.w;
  const double* off_b = by_rows ? sys.s : sys.e;
  const int* nb_a = by_rows ? sys.above : sys.left;
  const int* nb_b = by_rows ? sys.below : sys.right;
  for (int k = first; k <= last; ++k) {
    const int c = cells[k];
    double r_k = sys.r[c];
    if (nb_a[c] != 0) r_k -= off_a[c] * h[nb_a[c]];
    if (nb_b[c] != 0) r_k -= off_b[c] * h[nb_b[c]];
    lo[k] = k > first ? along_lo[c] : 0.0;
    up[k] = k < last ? along_up[c] : 0.0;
    di[k] = sys.p[c];
    rh[k] = r_k;
  }
  // Thomas algorithm: forward elimination, then back substitution into rhs.
  for (int k = first + 1; k <= last; ++k) {
    const double m = lo[k] / di[k - 1];
    di[k] -= m * up[k - 1];
    rh[k] -= m * rh[k - 1];
  }
  rh[last] /= di[last];
  for (int k = last - 1; k >= first; --k) rh[k] = (rh[k] - up[k] * rh[k + 1]) / di[k];
  double largest = 0.0;
  for (int k = first; k <= last; ++k) {
    const int c = cells[k];
    const double change = rh[k] - h[c];
    largest = std::max(largest, std::fabs(change));
    h[c] += omega * change;
  }
  return largest;
}

// Solves runs first..last (one colour) in parallel; returns the largest change among them.
double solve_colour(const gw_line_table& lines, gw_line_work& work, const gw_five_point& sys,
                    double* h, double omega, int first, int last, int team) {
  double largest = 0.0;
  if (last < first) return largest;
#pragma omp parallel for schedule(static) num_threads(team) reduction(max : largest)
  for (int r = first; r <= last; ++r)
    largest = std::max(largest, solve_run(lines, work, sys, h, omega, r));
  return largest;
}

}  // namespace

gw_sor_result gw_line_sor_solve(const gw_line_table& lines, gw_line_work& work,
                                const gw_five_point& sys, double* h, double omega, double tolerance,
                                long sweep_cap, int parity) {
  gw_sor_result result;
  const int cells = lines.run_start.empty() ? 0 : lines.run_start[lines.run_count + 1] - 1;
  // A thread takes whole lines: the team is sized by the cells, at most one thread a line.
  const int team = std::max(1, std::min(team_size(cells), std::max(1, lines.run_count / 2)));
  const int red_first = 1, red_last = lines.red_runs;
  const int black_first = lines.red_runs + 1, black_last = lines.run_count;
  while (result.sweeps < sweep_cap) {
    ++result.sweeps;
    double largest = 1e-20;
    if (parity == 1) {
      largest =
          std::max(largest, solve_colour(lines, work, sys, h, omega, red_first, red_last, team));
      largest = std::max(largest,
                         solve_colour(lines, work, sys, h, omega, black_first, black_last, team));
    } else {
      largest = std::max(largest,
                         solve_colour(lines, work, sys, h, omega, black_first, black_last, team));
      largest =
          std::max(largest, solve_colour(lines, work, sys, h, omega, red_first, red_last, team));
    }
    result.largest_change = largest;
    if (largest < tolerance) {
      result.converged = true;
      break;
    }
  }
  return result;
}
