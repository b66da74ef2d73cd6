// Benchmark of the lane math of the vector kernels on every instruction set the processor runs:
// d^(5/3), d^(2/3) and ln(x) of the lane math against the C library's scalar pow and log for
// scale. Prints nanoseconds per depth, the best of several passes over 4096 depths of 1e-6 to
// 1 m (held in the first-level cache).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "bench/vector_powers_bench.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// Then, once per target:
#include <hwy/highway.h>

#include "framework/core/lane_math-inl.h"

HWY_BEFORE_NAMESPACE();
namespace torva_bench {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using namespace torva_lanes::HWY_NAMESPACE;

// One pass of function `which` (0: d^(5/3), 1: d^(2/3), 2: ln) over n depths (n a multiple of 8).
void Pass(int which, const double* in, double* out, int n) {
  const hn::CappedTag<double, 8> d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  for (int i = 0; i < n; i += lanes) {
    const auto v = hn::LoadU(d, in + i);
    const auto r =
        which == 0 ? DepthPowFiveThirds(d, v) : (which == 1 ? DepthPowTwoThirds(d, v) : Log(d, v));
    hn::StoreU(r, d, out + i);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace torva_bench
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <hwy/targets.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace torva_bench {
HWY_EXPORT(Pass);
}  // namespace torva_bench

namespace {

constexpr int depth_count = 4096;
constexpr int passes_per_run = 500;
constexpr int runs = 9;

// The best of `runs` runs of passes_per_run passes of `pass`, in nanoseconds per depth.
template <class Pass>
double time_pass(Pass pass, std::vector<double>& out) {
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int p = 0; p < passes_per_run; ++p) {
      pass();
      // Keeps the compiler from folding the passes into one.
      __asm__ volatile("" : : "r"(out.data()) : "memory");
    }
    const auto t1 = std::chrono::steady_clock::now();
    const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count() /
                      (static_cast<double>(passes_per_run) * depth_count);
    if (ns < best) best = ns;
  }
  return best;
}

}  // namespace

int main() {
  std::vector<double> depths(depth_count), out(depth_count);
  for (int i = 0; i < depth_count; ++i)
    depths[i] = std::exp(std::log(1e-6) + std::log(1e6) * i / (depth_count - 1));
  std::printf("%-10s %14s %14s %14s   (ns per depth)\n", "target", "d^(5/3)", "d^(2/3)", "ln");
  for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    double ns[3];
    for (int which = 0; which < 3; ++which)
      ns[which] = time_pass(
          [&] {
            HWY_DYNAMIC_DISPATCH(torva_bench::Pass)(which, depths.data(), out.data(), depth_count);
          },
          out);
    std::printf("%-10s %14.3f %14.3f %14.3f\n", hwy::TargetName(target), ns[0], ns[1], ns[2]);
  }
  hwy::SetSupportedTargetsForTest(0);
  const double libm_pow = time_pass(
      [&] {
        for (int i = 0; i < depth_count; ++i) out[i] = std::pow(depths[i], 5.0 / 3.0);
      },
      out);
  const double libm_log = time_pass(
      [&] {
        for (int i = 0; i < depth_count; ++i) out[i] = std::log(depths[i]);
      },
      out);
  std::printf("%-10s %14.3f %14s %14.3f\n", "C library", libm_pow, "", libm_log);
  return 0;
}
#endif  // HWY_ONCE
