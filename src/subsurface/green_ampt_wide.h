// The implicit Green and Ampt solve of a group of neighbouring cells in vector lanes, and the
// test by which the Newton iteration ends a step early. Both the vector kernels
// (green_ampt_lanes.cpp, every instruction set) and the scalar solve take it, with the lane
// math's logarithm, so they give the same bits.
#pragma once

#include <algorithm>
#include <cmath>

#include "subsurface/infiltration.h"

// Cells whose implicit depths are solved together by the vector iteration (a multiple of every
// vector width, up to eight doubles).
inline constexpr int green_ampt_group_cells = 32;

// True when the residual r(Fn) = G ln((G + Fn)/(G + F)) + supply - Fn + F is surely within
// the tolerance at next, the end of the Newton step from x whose residual is r. The residual
// is concave, r'' = -G/(G + Fn)^2, so at the end of the step it lies within
// G d^2 / (2 (G + min(x, next))^2) of zero, d = next - x, up to the rounding of the residual,
// of its slope and of the step, bounded here a hundred times over. The sum must stay below
// half the tolerance: a solve that stops at next then returns what evaluating the residual at
// next and testing it would have returned.
inline bool green_ampt_step_lands(double G, double supply, double F, double x, double r,
                                  double next, double tolerance) {
  const double d = next - x;
  const double gm = G + std::min(x, next);
  const double rounding = 1e-14 * (G + std::fabs(r) + supply + std::fabs(x) + std::fabs(next) +
                                   std::fabs(F) + std::fabs(d));
  return gm > 0.0 && 0.5 * G * d * d + 2.0 * rounding * gm * gm <= 0.5 * tolerance * gm * gm;
}

// The implicit depths of the cells of a group: for every lane l set in `lanes`, depth[l] =
// green_ampt_implicit_depth(G[l], K[l], dt, F[l], F[l] + first_step, tolerance), the same
// Newton iterates to the last bit. A lane whose solve leaves the plain Newton path (no
// deficit, no supply, a negative F, a step out of the bracket, the iteration cap) is solved by
// the scalar function. G, K, F and depth hold green_ampt_group_cells entries, of which only
// the lanes set are read or written.
void green_ampt_depths_wide(const double* G, const double* K, const double* F, double dt,
                            unsigned lanes, double first_step, double tolerance, double* depth);

// One step of the single-layer scheme for the cells first .. first + count - 1 of a group
// (count <= green_ampt_group_cells), as green_ampt_cells takes them, the solves by
// green_ampt_depths_wide: the same arithmetic as the scalar path after the solve.
// With lane_sums (infiltration_sum_lanes running sums) it also books the group's cells as
// book_infiltration_block does, adding cell first + k's increment times the area to
// lane_sums[k mod 8]; the views must then give the booking's arrays.
// With rain (views with rain_intensity, no channel lakes) the group's cells first take their
// rain, and `rain` gathers the block's rain sums and depth flags as green_ampt_pass_result
// describes them, cell by cell in cell order.
// Plain data, zeroed by value-initialisation (green_ampt_rain_part{}) when a block starts, so
// that the pass's array of them costs nothing to declare.
struct green_ampt_rain_part {
  double rate[infiltration_sum_lanes];  // intensities, cell first + k in lane k mod 8
  double volume;                        // m3, cell by cell in cell order
  int rain_nan_cell;                    // first cell no number after the rain, 0 none
  int any_depth;                        // some depth above 1e-16 m after infiltration
  int nan_cell;                         // first cell no number after infiltration, 0 none
};
void green_ampt_group_wide(const green_ampt_views& v, int first, int count, double* lane_sums,
                           green_ampt_rain_part* rain = nullptr);
