// Benchmark of the 8-wide depth powers of the overland kernels: depth_pow_five_thirds against
// the vector library's pow(d, 5/3) (the explicit scheme's power before), depth_pow_two_thirds
// against the square of its cube root (the ADE sweep's before), and the C library's scalar pow
// for scale. Prints nanoseconds and time-stamp-counter ticks per 8 depths, the best of several
// passes over 4096 depths of 1e-6 to 1 m (held in the first-level cache). This file is compiled
// for 512-bit vectors; it stops at once on a processor without them.
#include <immintrin.h>
#include <sleef.h>
#include <x86intrin.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "framework/core/vector_powers_avx512.h"

namespace {

constexpr int depth_count = 4096;
constexpr int passes_per_run = 2000;
constexpr int runs = 15;

struct timing {
  double ns = 1e30;
  double ticks = 1e30;
};

// The best of `runs` runs of passes_per_run passes of `kernel` over the depths, per 8 depths.
template <class Kernel>
timing time_kernel(const std::vector<double>& depths, std::vector<double>& out, Kernel kernel) {
  timing best;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    const unsigned long long c0 = __rdtsc();
    for (int p = 0; p < passes_per_run; ++p) {
      for (int i = 0; i < depth_count; i += 8)
        _mm512_storeu_pd(out.data() + i, kernel(_mm512_loadu_pd(depths.data() + i)));
      // Keeps the compiler from folding the passes into one.
      __asm__ volatile("" : : "r"(out.data()) : "memory");
    }
    const unsigned long long c1 = __rdtsc();
    const auto t1 = std::chrono::steady_clock::now();
    const double vectors = static_cast<double>(passes_per_run) * (depth_count / 8);
    const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count() / vectors;
    const double ticks = static_cast<double>(c1 - c0) / vectors;
    if (ns < best.ns) best = {ns, ticks};
  }
  return best;
}

}  // namespace

int main() {
  if (!__builtin_cpu_supports("avx512f")) {
    std::printf("no 512-bit vectors on this processor: nothing to measure\n");
    return 0;
  }
  std::vector<double> depths(depth_count), out(depth_count);
  // Depths spread on a log scale over 1e-6 to 1 m, shuffled by a fixed stride.
  for (int i = 0; i < depth_count; ++i)
    depths[static_cast<size_t>((i * 1543) % depth_count)] =
        std::pow(10.0, -6.0 + 6.0 * i / (depth_count - 1));
  const __m512d five_thirds = _mm512_set1_pd(5.0 / 3.0);
  struct row {
    const char* name;
    timing t;
  };
  const row rows[] = {
      {"library pow(d, 5/3)",
       time_kernel(depths, out, [&](__m512d d) { return Sleef_powd8_u10avx512f(d, five_thirds); })},
      {"depth_pow_five_thirds",
       time_kernel(depths, out, [](__m512d d) { return depth_pow_five_thirds(d); })},
      {"library cbrt(d)^2", time_kernel(depths, out,
                                        [](__m512d d) {
                                          const __m512d c = Sleef_cbrtd8_u10avx512f(d);
                                          return _mm512_mul_pd(c, c);
                                        })},
      {"depth_pow_two_thirds",
       time_kernel(depths, out, [](__m512d d) { return depth_pow_two_thirds(d); })},
      {"scalar pow(d, 5/3) x 8", time_kernel(depths, out,
                                             [](__m512d d) {
                                               alignas(64) double v[8];
                                               _mm512_store_pd(v, d);
                                               for (double& x : v) x = std::pow(x, 5.0 / 3.0);
                                               return _mm512_load_pd(v);
                                             })},
  };
  std::printf("%-24s %14s %16s\n", "power of 8 depths", "ns per 8", "ticks per 8");
  for (const row& r : rows) std::printf("%-24s %14.2f %16.2f\n", r.name, r.t.ns, r.t.ticks);
  return 0;
}
