// The line solver of the groundwater step: builds the lines of the grid once per run and solves
// the five-point system of the saturated flow equation by line successive over-relaxation, each
// line a tridiagonal system, called by the Picard passes of the groundwater solve.
#pragma once

#include "subsurface/groundwater_state.h"

// Builds the runs of consecutive watershed cells (index_map non-zero) along the rows
// (orientation 1) or the columns (any other value) of the rows x cols grid into `lines`, odd
// lines first; false when the memory cannot be had.
bool gw_build_lines(gw_line_table& lines, const raw_array2d<int>& index_map, int rows, int cols,
                    int cell_count, int orientation);

// The five-point system P h + N h(above) + S h(below) + W h(left) + E h(right) = R over cells
// 1..cell_count (one-based pointers), with the neighbour cell numbers (0 none).
struct gw_five_point {
  const double* n = nullptr;
  const double* s = nullptr;
  const double* w = nullptr;
  const double* e = nullptr;
  const double* p = nullptr;
  const double* r = nullptr;
  const int* above = nullptr;
  const int* below = nullptr;
  const int* left = nullptr;
  const int* right = nullptr;
};

struct gw_sor_result {
  long sweeps = 0;              // sweeps made
  double largest_change = 0.0;  // m: largest |line solution - old head| of the last sweep
  bool converged = false;       // the last sweep's largest change fell below the tolerance
};

// Solves the system in place in h (one-based, cells 1..cell_count) by sweeps over the lines:
// each run's tridiagonal system is solved with the heads off the line at their latest values,
// and every cell of it moves omega of the way from its old head to the run's solution. Sweeps
// repeat while the largest change of a sweep is at least `tolerance`, at most `sweep_cap`
// sweeps. The odd lines are solved before the even ones when `parity` is 1, after them
// otherwise; the lines of one colour are solved in parallel, so the heads are the same bits on
// any thread count.
gw_sor_result gw_line_sor_solve(const gw_line_table& lines, gw_line_work& work,
                                const gw_five_point& sys, double* h, double omega, double tolerance,
                                long sweep_cap, int parity);
