// The depth powers of the 512-bit kernels applied to whole arrays, eight lanes at a time with the
// tail masked, for the tests of tests/framework/test_vector_powers.cpp. This file alone of the
// tests is compiled for 512-bit vectors; the tests call it only when the processor has them.
#include <immintrin.h>

#include "framework/core/vector_powers_avx512.h"

void vector_powers_of(const double* d, double* two_thirds, double* five_thirds, long n) {
  for (long i = 0; i < n; i += 8) {
    const __mmask8 m = n - i >= 8 ? 0xFF : static_cast<__mmask8>((1u << (n - i)) - 1u);
    const __m512d v = _mm512_mask_loadu_pd(_mm512_set1_pd(1.0), m, d + i);
    _mm512_mask_storeu_pd(two_thirds + i, m, depth_pow_two_thirds(v));
    _mm512_mask_storeu_pd(five_thirds + i, m, depth_pow_five_thirds(v));
  }
}

void vector_powers_of_lanes(const double d[8], double two_thirds[8], double five_thirds[8]) {
  const __m512d v = _mm512_loadu_pd(d);
  _mm512_storeu_pd(two_thirds, depth_pow_two_thirds(v));
  _mm512_storeu_pd(five_thirds, depth_pow_five_thirds(v));
}
