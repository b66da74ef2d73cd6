// The scalar forms of the lane math: the same functions as the vector kernels, on one lane of
// the target this file is compiled for (the arithmetic is the same on every target).
#include "framework/core/lane_math.h"

#include <hwy/highway.h>

#include <cfloat>
#include <cmath>

#include "framework/core/lane_math-inl.h"

namespace {

namespace hn = hwy::HWY_NAMESPACE;
namespace lanes = torva_lanes::HWY_NAMESPACE;

}  // namespace

double lane_pow_two_thirds(double d) {
  const hn::CappedTag<double, 1> one;
  return hn::GetLane(lanes::DepthPowTwoThirds(one, hn::Set(one, d)));
}

double lane_pow_five_thirds(double d) {
  const hn::CappedTag<double, 1> one;
  return hn::GetLane(lanes::DepthPowFiveThirds(one, hn::Set(one, d)));
}

double lane_log(double x) {
  if (!(x >= DBL_MIN && x <= DBL_MAX)) return std::log(x);
  const hn::CappedTag<double, 1> one;
  return hn::GetLane(lanes::Log(one, hn::Set(one, x)));
}

double lane_log1p(double u) {
  const double w = 1.0 + u;
  if (!(w >= DBL_MIN && w <= DBL_MAX)) return std::log1p(u);
  const hn::CappedTag<double, 1> one;
  return hn::GetLane(lanes::Log1p(one, hn::Set(one, u)));
}

double lane_exp(double x) {
  const hn::CappedTag<double, 1> one;
  return hn::GetLane(lanes::Exp(one, hn::Set(one, x)));
}

double lane_pow_positive(double x, double y) {
  const hn::CappedTag<double, 1> one;
  return hn::GetLane(lanes::PowPositive(one, hn::Set(one, x), hn::Set(one, y)));
}
