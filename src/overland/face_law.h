// The face law shared by every overland scheme (explicit, "ade", "ade-pc", and their lake
// variants): how a face's discharge depends on the water-surface slope S across it, and how much
// of the water-surface difference one face may move in one (sub-)step. The schemes' scalar and
// vector kernels all take these constants, so the three schemes route with one law.
//
// Manning's law makes the discharge grow with sqrt(|S|), whose derivative has no bound as S goes
// to 0: near a level water surface the scheme's diffusivity, and with it the explicit stability
// limit, has no bound either, and still water cannot stay still. Below the threshold slope the
// law turns linear in S, continuous with Manning's at the threshold:
//   |S| >= threshold: sign(S) sqrt(|S|)   (Manning's law, unchanged bit for bit)
//   |S| <  threshold: S / sqrt(threshold)
// The threshold, 1e-5 (a drop of 1 cm over 1 km), lies below the slope of any surface a grid
// resolves, so flows over mapped terrain keep Manning's law; only water that is level to within
// the noise of its depths and elevations takes the linear part.
#pragma once

#include <cmath>

// Water-surface slope below which the face law is linear in the slope.
inline constexpr double ov_threshold_slope = 1e-5;
// 1 / sqrt(ov_threshold_slope): the linear part's factor.
inline constexpr double ov_linear_slope_factor = 316.2277660168379;

// The slope term of the face law: sign(S) sqrt(|S|) at or above the threshold slope, S /
// sqrt(threshold) below it (0 for S = 0).
inline double ov_slope_term(double s) {
  const double a = std::fabs(s);
  if (a >= ov_threshold_slope) return std::copysign(std::sqrt(a), s);
  return s * ov_linear_slope_factor;
}

// The largest share of the water-surface difference across a face that the face may move in one
// (sub-)step. With every face of a cell held to an eighth, a cell's new water surface is a
// weighted mean of its own and its neighbours' old surfaces (the weights of its four faces sum to
// at most a half), so no surface overshoots its neighbour's: a pool at rest stays at rest, a bump
// relaxes without oscillating, and a checkerboard cannot grow whatever the step.
inline constexpr double ov_surface_share = 0.125;

// The water-surface difference across a face (m) above which a discharge the cap had to cut
// counts against the sub-step: there the cap, not the face law, set the flow, so the sub-step is
// too long for the flow to be right, and the scheme cuts it. Below it the cap only holds nearly
// level water. Where the cap holds water back, the surface settles to within about this
// difference of its level: a flat plane filled from a fixed stage of 0.3 m stood 1.1, 0.49, 0.19,
// 0.099 and 0.010 mm short of it after 150 minutes with 1, 0.5, 0.2, 0.1 and 0.01 mm. A tenth of
// a millimetre keeps still water level well within the millimetre a depth map shows, at about
// 1.6 times the cost of 0.5 mm where flow gathers along an edge.
// The ADE schemes measured the same: with 1 mm the plane stood 1.2 mm short after two hours;
// with 1 micrometre their sub-steps also shrank on sheet flow beside boundary cells drained once
// a step, and an outlet next to them lost 3.7 % of its discharge to its neighbour.
inline constexpr double ov_cap_failing_difference = 1e-4;

// The face law over a flow depth H (m) above what the upwind cell retains: the discharge per
// metre of face (m2/s) under the water-surface slope S with Manning's n, 0 when H is not
// positive. The lake-shore, wetland and lake-pass faces take the power with std::pow; the plain
// faces of the sub-stepped scheme take it from lane_pow_five_thirds, which their vector kernels
// match bit for bit, and the "ade" faces as d^(2/3) d for the same reason.
inline double ov_face_law(double S, double H, double n) {
  return H > 0.0 ? ov_slope_term(S) / n * std::pow(H, 5.0 / 3.0) : 0.0;
}
