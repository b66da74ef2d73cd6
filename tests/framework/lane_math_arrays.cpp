// The lane math applied to whole arrays on the instruction set the kernels run now (every
// target compiled, picked at run time), for tests/framework/test_lane_math.cpp.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "framework/lane_math_arrays.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// Then, once per target:
#include <hwy/highway.h>

#include "framework/core/lane_math-inl.h"

HWY_BEFORE_NAMESPACE();
namespace torva_lane_tests {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using namespace torva_lanes::HWY_NAMESPACE;

void Powers(const double* x, double* two_thirds, double* five_thirds, double* log, long n) {
  const hn::CappedTag<double, 8> d;
  const long lanes = static_cast<long>(hn::Lanes(d));
  for (long i = 0; i < n; i += lanes) {
    const int count = n - i >= lanes ? static_cast<int>(lanes) : static_cast<int>(n - i);
    // The lanes past the array take 1, a value the callers never mask off themselves.
    const auto v = hn::IfThenElse(hn::FirstN(d, static_cast<size_t>(count)),
                                  LoadFirst(d, x + i, count), hn::Set(d, 1.0));
    StoreFirst(d, DepthPowTwoThirds(d, v), two_thirds + i, count);
    StoreFirst(d, DepthPowFiveThirds(d, v), five_thirds + i, count);
    StoreFirst(d, Log(d, v), log + i, count);
  }
}

// e^x and x^y of whole arrays (y one exponent for all), every lane of a full vector live.
void Exponentials(const double* x, double y, double* exp, double* pow, long n) {
  const hn::CappedTag<double, 8> d;
  const long lanes = static_cast<long>(hn::Lanes(d));
  for (long i = 0; i < n; i += lanes) {
    const int count = n - i >= lanes ? static_cast<int>(lanes) : static_cast<int>(n - i);
    const auto v = hn::IfThenElse(hn::FirstN(d, static_cast<size_t>(count)),
                                  LoadFirst(d, x + i, count), hn::Set(d, 1.0));
    StoreFirst(d, Exp(d, v), exp + i, count);
    StoreFirst(d, PowPositive(d, v, hn::Set(d, y)), pow + i, count);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace torva_lane_tests
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace torva_lane_tests {
HWY_EXPORT(Powers);
HWY_EXPORT(Exponentials);
}  // namespace torva_lane_tests

void lane_math_of(const double* x, double* two_thirds, double* five_thirds, double* log, long n) {
  HWY_DYNAMIC_DISPATCH(torva_lane_tests::Powers)(x, two_thirds, five_thirds, log, n);
}

void lane_exponentials_of(const double* x, double y, double* exp, double* pow, long n) {
  HWY_DYNAMIC_DISPATCH(torva_lane_tests::Exponentials)(x, y, exp, pow, n);
}
#endif  // HWY_ONCE
