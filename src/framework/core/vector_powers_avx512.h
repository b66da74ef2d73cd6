// Powers of flow depths eight at a time for Manning's law in the overland kernels compiled for
// 512-bit vectors (only the *_avx512.cpp files are): d^(2/3) and d^(5/3) of eight depths in a
// few dozen vector operations, no division, no table, no loop, accurate to about half an ulp.
//
// The way. Split d = m 2^e (getexp, getmant: m in [1, 2), also for subnormal d) and e = 3k + j
// (j = 0, 1, 2), so that d = x 2^(3k) with x = m 2^j in [1, 8) exactly and
// d^(2/3) = x^(2/3) 2^(2k). A first guess y0 of x^(-1/3) is a polynomial of degree 4 in m times
// a quadratic in j through 1, 2^(-1/3), 2^(-2/3): relative error below 4.5e-5 (2^-14.4). Then,
// with a = x y0 and u = 1 - x y0^3 (|u| < 1.4e-4), x^(2/3) = x y0 (1 - u)^(-1/3) and
// (1 - u)^(-1/3) = 1 + u/3 + 2u^2/9 + 14u^3/81 + 35u^4/243 + ... One correction, no Newton
// iteration.
//
// Error budget, relative to the result (an ulp of a double is 2^-52 to 2^-53 relative):
// - u is formed from a and y0^2 split into head and tail by fused multiply-adds (each product
//   is exact as head + tail), then 1 - a b rounded once: |u| < 2^-12.8, so its rounding is
//   below 2^-65 and the dropped product of the two tails below 2^-104; u/3 carries a third.
// - The series stops after u^4: the next term, 91u^5/729, is below 2^-67.
// - The correction a (u/3 + ...) + tail(x y0) is below 2^-12 of the result, so its own
//   roundings are below 2^-64; the tail of x y0 is kept in it.
// - Everything before the last addition is thus within about 2^-64 of the exact value, 1/2000
//   ulp, and the last addition rounds once: d^(2/3) is within 0.501 ulp (the exact value
//   rounded to nearest but for ties closer than 1/2000 ulp), exact when the result is a double
//   (d = 1, 8, 27, 1/8, ...). Scaling by 2^(2k) is exact: d^(2/3) is never subnormal.
// - d^(5/3) = x^(5/3) 2^(5k) takes x^(2/3) as head + tail (the last addition split exactly)
//   and multiplies by x with one fused multiply-add: within about 0.51 ulp again, and one more
//   rounding only when the result is subnormal (d below about 1e-185). Above about 1.3e184 the
//   power overflows to +inf, as it should.
// Lanes with d <= 0, NaN or infinite give NaN or some other value: no loop runs on them and the
// default floating-point environment (exceptions masked) raises no trap. Callers mask them off.
// The all-lanes masked forms of the intrinsics (maskz with 0xFF) compute the same as the plain
// ones; g++ 12 warns of an uninitialised register in the plain ones.
#pragma once

#include <immintrin.h>

namespace vector_powers_detail {

// x^(2/3) of the reduced depth x = d 2^(-3k) in [1, 8) as hi + lo (|lo| <= ulp(hi) / 2), with
// x and k.
struct reduced_power {
  __m512d hi;
  __m512d lo;
  __m512d x;
  __m512d k;
};

[[gnu::always_inline]] inline reduced_power two_thirds_of_reduced(__m512d d) {
  const __m512d one = _mm512_set1_pd(1.0);
  // d = m 2^e, m in [1, 2); e = 3k + j with k = floor((e + 1/2) / 3), j = 0, 1 or 2 (exact:
  // (e + 1/2) / 3 lies at least 1/6 from an integer, far beyond its rounding).
  const __m512d e = _mm512_maskz_getexp_pd(0xFF, d);
  const __m512d m = _mm512_maskz_getmant_pd(0xFF, d, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_zero);
  const __m512d k = _mm512_maskz_roundscale_pd(
      0xFF, _mm512_fmadd_pd(e, _mm512_set1_pd(1.0 / 3.0), _mm512_set1_pd(0.5 / 3.0)),
      _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
  const __m512d j = _mm512_fnmadd_pd(_mm512_set1_pd(3.0), k, e);
  const __m512d x = _mm512_maskz_scalef_pd(0xFF, m, j);
  // First guess of x^(-1/3): m^(-1/3) on [1, 2) by a polynomial fitted at Chebyshev nodes, times
  // 2^(-j/3) by the quadratic through j = 0, 1, 2.
  __m512d p = _mm512_set1_pd(0.02778280101858424);
  p = _mm512_fmadd_pd(p, m, _mm512_set1_pd(-0.21636185469244387));
  p = _mm512_fmadd_pd(p, m, _mm512_set1_pd(0.6846527077322325));
  p = _mm512_fmadd_pd(p, m, _mm512_set1_pd(-1.1623973573078166));
  p = _mm512_fmadd_pd(p, m, _mm512_set1_pd(1.6662787377309156));
  const __m512d third_root_of_two_to_j =
      _mm512_fmadd_pd(_mm512_fmadd_pd(_mm512_set1_pd(0.021279736489618555), j,
                                      _mm512_set1_pd(-0.22757921050551883)),
                      j, one);
  const __m512d y = _mm512_mul_pd(p, third_root_of_two_to_j);
  // a + a_lo = x y and b + b_lo = y^2 exactly; u = 1 - x y^3 from them.
  const __m512d a = _mm512_mul_pd(x, y);
  const __m512d a_lo = _mm512_fmsub_pd(x, y, a);
  const __m512d b = _mm512_mul_pd(y, y);
  const __m512d b_lo = _mm512_fmsub_pd(y, y, b);
  const __m512d u =
      _mm512_fnmadd_pd(a_lo, b, _mm512_fnmadd_pd(a, b_lo, _mm512_fnmadd_pd(a, b, one)));
  // (1 - u)^(-1/3) - 1 through u^4.
  __m512d s = _mm512_fmadd_pd(_mm512_set1_pd(35.0 / 243.0), u, _mm512_set1_pd(14.0 / 81.0));
  s = _mm512_fmadd_pd(s, u, _mm512_set1_pd(2.0 / 9.0));
  s = _mm512_fmadd_pd(s, u, _mm512_set1_pd(1.0 / 3.0));
  s = _mm512_mul_pd(s, u);
  // x^(2/3) = (a + a_lo)(1 + s): the head a, the small rest, one rounding; the rounding's error
  // kept as lo (exact: |a| > |rest|).
  const __m512d rest = _mm512_fmadd_pd(a, s, a_lo);
  const __m512d hi = _mm512_add_pd(a, rest);
  const __m512d lo = _mm512_sub_pd(rest, _mm512_sub_pd(hi, a));
  return {hi, lo, x, k};
}

}  // namespace vector_powers_detail

// d^(2/3) of every lane with d finite and > 0 (normal or subnormal), within 0.501 ulp; 1 for
// d = 1. Other lanes give anything (see above).
[[gnu::always_inline]] inline __m512d depth_pow_two_thirds(__m512d d) {
  const vector_powers_detail::reduced_power r = vector_powers_detail::two_thirds_of_reduced(d);
  return _mm512_maskz_scalef_pd(0xFF, r.hi, _mm512_add_pd(r.k, r.k));
}

// d^(5/3) = d^(2/3) d of the same lanes, within about 0.51 ulp (+inf above about 1.3e184; one
// more rounding where the result is subnormal). Other lanes give anything.
[[gnu::always_inline]] inline __m512d depth_pow_five_thirds(__m512d d) {
  const vector_powers_detail::reduced_power r = vector_powers_detail::two_thirds_of_reduced(d);
  const __m512d x53 = _mm512_fmadd_pd(r.hi, r.x, _mm512_mul_pd(r.lo, r.x));
  return _mm512_maskz_scalef_pd(0xFF, x53, _mm512_mul_pd(r.k, _mm512_set1_pd(5.0)));
}
