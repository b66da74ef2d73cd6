// The vector implicit Green and Ampt solve (green_ampt_cells picks it when the processor has
// 512-bit vectors): the Newton iteration of a group of neighbouring ponded cells runs eight
// cells to a vector, each lane leaving it when its residual is within the tolerance. The
// iterates are those of the scalar solve up to round-off: the logarithm of (G + x) / (G + F)
// is taken as ln(1 + u) of the small u = (x - F) / (G + F) by a table and a polynomial, with no
// division (the vector library's where u is not small), 1 / (G + F) is taken once, and the step
// divides once. This file alone is compiled for 512-bit vectors.
#include <immintrin.h>
#include <sleef.h>

#include <cmath>

#include "subsurface/green_ampt_wide.h"
#include "subsurface/infiltration.h"

namespace {

// ln(1 + k/16) and 1 / (1 + k/16) for k = 0..15, each the nearest double: the table by which
// log1p_near_one reduces its argument to within 1/32 of a table point. Constants, so that this
// file, built for 512-bit vectors, runs no code of its own before a processor is checked.
alignas(64) constexpr double table_ln[16] = {
    0x0.0000000000000p+0, 0x1.f0a30c01162a6p-5, 0x1.e27076e2af2e6p-4, 0x1.5ff3070a793d4p-3,
    0x1.c8ff7c79a9a22p-3, 0x1.1675cababa60ep-2, 0x1.4618bc21c5ec2p-2, 0x1.739d7f6bbd007p-2,
    0x1.9f323ecbf984cp-2, 0x1.c8ff7c79a9a22p-2, 0x1.f128f5faf06edp-2, 0x1.0be72e4252a83p-1,
    0x1.1e85f5e7040d0p-1, 0x1.307d7334f10bep-1, 0x1.41d8fe84672aep-1, 0x1.52a2d265bc5abp-1};
alignas(64) constexpr double table_inv[16] = {
    0x1.0000000000000p+0, 0x1.e1e1e1e1e1e1ep-1, 0x1.c71c71c71c71cp-1, 0x1.af286bca1af28p-1,
    0x1.999999999999ap-1, 0x1.8618618618618p-1, 0x1.745d1745d1746p-1, 0x1.642c8590b2164p-1,
    0x1.5555555555555p-1, 0x1.47ae147ae147bp-1, 0x1.3b13b13b13b14p-1, 0x1.2f684bda12f68p-1,
    0x1.2492492492492p-1, 0x1.1a7b9611a7b96p-1, 0x1.1111111111111p-1, 0x1.0842108421084p-1};

// Arguments of log1p_near_one below this are reduced by the table; others take the library.
constexpr double log1p_table_limit = 31.0 / 32.0;

// ln(1 + u) for 0 <= u < 31/32, with no division: with k the nearest integer to 16 u and c =
// 1 + k/16, ln(1 + u) = ln c + ln(1 + t), t = (u - k/16) / c, |t| <= 1/32, and ln(1 + t) =
// t + t^2 q(t) from its series to the t^11 term (the series' remainder is below 1e-19 of t).
// u - k/16 is exact, so the result is within about one unit in the last place, against the
// two roundings of the quotient (G + x) / (G + F) whose logarithm the scalar solve takes.
__m512d log1p_near_one(__m512d u) {
  const __m512d magic = _mm512_set1_pd(0x1.8p52);  // adding it leaves round(16 u) in the low bits
  const __m512d shifted = _mm512_fmadd_pd(u, _mm512_set1_pd(16.0), magic);
  const __m512i k = _mm512_castpd_si512(shifted);
  const __m512d kd = _mm512_sub_pd(shifted, magic);
  const __m512d inv =
      _mm512_permutex2var_pd(_mm512_load_pd(table_inv), k, _mm512_load_pd(table_inv + 8));
  const __m512d lnc =
      _mm512_permutex2var_pd(_mm512_load_pd(table_ln), k, _mm512_load_pd(table_ln + 8));
  const __m512d t = _mm512_mul_pd(_mm512_fnmadd_pd(kd, _mm512_set1_pd(1.0 / 16.0), u), inv);
  // ln(1 + t) = t + t^2 q(t), q(t) = -1/2 + t/3 - t^2/4 + ... + t^9/11, taken by pairs of
  // terms and powers of t so that the terms do not wait on one another.
  const __m512d t2 = _mm512_mul_pd(t, t);
  const __m512d t4 = _mm512_mul_pd(t2, t2);
  const __m512d t8 = _mm512_mul_pd(t4, t4);
  const auto pair = [&](double c0, double c1) {
    return _mm512_fmadd_pd(_mm512_set1_pd(c1), t, _mm512_set1_pd(c0));
  };
  const __m512d q01 = pair(-1.0 / 2.0, 1.0 / 3.0);
  const __m512d q23 = pair(-1.0 / 4.0, 1.0 / 5.0);
  const __m512d q45 = pair(-1.0 / 6.0, 1.0 / 7.0);
  const __m512d q67 = pair(-1.0 / 8.0, 1.0 / 9.0);
  const __m512d q89 = pair(-1.0 / 10.0, 1.0 / 11.0);
  const __m512d q03 = _mm512_fmadd_pd(q23, t2, q01);
  const __m512d q47 = _mm512_fmadd_pd(q67, t2, q45);
  const __m512d q07 = _mm512_fmadd_pd(q47, t4, q03);
  const __m512d q = _mm512_fmadd_pd(q89, t8, q07);
  return _mm512_add_pd(lnc, _mm512_fmadd_pd(t2, q, t));
}

// The residual at x of the lanes in `lanes`; inv_gf = 1 / (G + F), fixed through the solve.
// The logarithm of (G + x) / (G + F) = 1 + u, u = (x - F) / (G + F), is taken as ln(1 + u)
// from u where u is small, as on the plain Newton path after the first iterate; lanes of a
// larger u take the vector library's logarithm of the quotient (3.5 ulp).
__m512d residual_at(__mmask8 lanes, __m512d G, __m512d supply, __m512d F, __m512d inv_gf,
                    __m512d x) {
  const __m512d u = _mm512_mul_pd(_mm512_sub_pd(x, F), inv_gf);
  const __mmask8 near =
      _mm512_mask_cmp_pd_mask(lanes, u, _mm512_set1_pd(log1p_table_limit), _CMP_LT_OQ);
  __m512d ln = log1p_near_one(u);
  if (static_cast<__mmask8>(lanes & ~near) != 0) {
    const __m512d ratio = _mm512_mul_pd(_mm512_add_pd(G, x), inv_gf);
    ln = _mm512_mask_mov_pd(Sleef_logd8_u35avx512f(ratio), near, ln);
  }
  const __m512d gl = _mm512_mul_pd(G, ln);
  return _mm512_add_pd(_mm512_sub_pd(_mm512_add_pd(gl, supply), x), F);
}

}  // namespace

void green_ampt_depths_wide(const double* G_in, const double* K_in, const double* F_in, double dt,
                            unsigned lanes, double first_step, double tolerance, double* depth) {
  // The group's cells as four vectors iterated side by side: the logarithm and the division
  // of one vector wait on the step before, so independent vectors fill those waits.
  constexpr int V = green_ampt_group_cells / 8;
  const __m512d zero = _mm512_setzero_pd();
  const __m512d one = _mm512_set1_pd(1.0);
  const __m512d tol = _mm512_set1_pd(tolerance);
  const __m512d infinity = _mm512_set1_pd(HUGE_VAL);
  __m512d G[V], supply[V], F[V], inv_gf[V], x[V], r[V], result[V];
  __mmask8 active[V], scalar[V], wanted[V];
  unsigned any = 0;
#pragma GCC unroll 4
  for (int v = 0; v < V; ++v) {
    wanted[v] = static_cast<__mmask8>(lanes >> (8 * v) & 0xFFu);
    // Lanes not wanted hold G 1, K 0, F 0: finite arithmetic that nothing reads.
    G[v] = _mm512_mask_loadu_pd(one, wanted[v], G_in + 8 * v);
    const __m512d K = _mm512_maskz_loadu_pd(wanted[v], K_in + 8 * v);
    F[v] = _mm512_maskz_loadu_pd(wanted[v], F_in + 8 * v);
    supply[v] = _mm512_mul_pd(K, _mm512_set1_pd(dt));
    const __m512d guess = _mm512_add_pd(F[v], _mm512_set1_pd(first_step));
    // Lanes off the plain Newton path from the first guess go to the scalar solve. On the
    // plain path every iterate lies past F >= 0, where the slope G / (G + x) - 1 =
    // -x / (G + x) is negative, so a step is x + r (G + x) / x: one division a step.
    __mmask8 plain = _mm512_mask_cmp_pd_mask(wanted[v], supply[v], zero, _CMP_GT_OQ);
    plain = _mm512_mask_cmp_pd_mask(plain, G[v], zero, _CMP_GT_OQ);
    plain = _mm512_mask_cmp_pd_mask(plain, F[v], zero, _CMP_GE_OQ);
    plain = _mm512_mask_cmp_pd_mask(plain, guess, F[v], _CMP_GT_OQ);
    scalar[v] = static_cast<__mmask8>(wanted[v] & ~plain);
    active[v] = plain;
    any |= plain;
    inv_gf[v] = _mm512_div_pd(one, _mm512_add_pd(G[v], F[v]));
    x[v] = guess;
    r[v] = residual_at(plain, G[v], supply[v], F[v], inv_gf[v], x[v]);
    result[v] = zero;
  }
  for (int it = 0; any != 0 && it < green_ampt_newton_cap; ++it) {
    any = 0;
#pragma GCC unroll 4
    for (int v = 0; v < V; ++v) {
      __mmask8 a = active[v];
      if (a == 0) continue;
      if (it > 0) {
        const __mmask8 done = _mm512_mask_cmp_pd_mask(a, _mm512_abs_pd(r[v]), tol, _CMP_LE_OQ);
        result[v] = _mm512_mask_mov_pd(result[v], done, x[v]);
        a = static_cast<__mmask8>(a & ~done);
      }
      // The step waits on nothing but the residual, and the next residual on nothing but
      // the step. A lane that has left keeps no iterate of its own in x, whose later lanes
      // nothing reads.
      const __m512d next =
          _mm512_add_pd(x[v], _mm512_div_pd(_mm512_mul_pd(r[v], _mm512_add_pd(G[v], x[v])), x[v]));
      __mmask8 inside = _mm512_mask_cmp_pd_mask(a, _mm512_abs_pd(next), infinity, _CMP_LT_OQ);
      inside = _mm512_mask_cmp_pd_mask(inside, next, F[v], _CMP_GT_OQ);
      scalar[v] = static_cast<__mmask8>(scalar[v] | (a & ~inside));
      active[v] = inside;
      any |= inside;
      if (inside == 0) continue;
      x[v] = next;
      r[v] = residual_at(inside, G[v], supply[v], F[v], inv_gf[v], x[v]);
    }
  }
  // Lanes still iterating at the cap end as the scalar solve ends them.
  for (int v = 0; v < V; ++v) {
    _mm512_mask_storeu_pd(depth + 8 * v, wanted[v], result[v]);
    const unsigned left = static_cast<unsigned>(scalar[v] | active[v]);
    for (int l = 0; l < 8; ++l)
      if (left >> l & 1u) {
        const int k = 8 * v + l;
        depth[k] = green_ampt_implicit_depth(G_in[k], K_in[k], dt, F_in[k], F_in[k] + first_step,
                                             tolerance);
      }
  }
}

namespace {

// The booking of the cells of a group in range, eight to a vector, as book_infiltration_block
// books them: lane l of lane_sums takes the increments times the area of the cells first + l,
// first + l + 8, ... in cell order.
void book_group_wide(const green_ampt_views& v, int first, unsigned in_range, double* lane_sums) {
  const __m512d area = _mm512_set1_pd(v.cell_area);
  const bool sac = !v.sac_inf_depth.empty();
  const bool longterm = !v.inf_depth_longterm.empty();
  __m512d sums = _mm512_loadu_pd(lane_sums);
  for (int w = 0; w < green_ampt_group_cells / 8; ++w) {
    const __mmask8 m = static_cast<__mmask8>(in_range >> (8 * w) & 0xFFu);
    if (m == 0) break;
    const int c = first + 8 * w;
    const __m512d cum = _mm512_maskz_loadu_pd(m, v.inf_depth_cum.data() + c);
    const __m512d d = _mm512_sub_pd(cum, _mm512_maskz_loadu_pd(m, v.inf_depth_prev.data() + c));
    sums = _mm512_mask_add_pd(sums, m, sums, _mm512_mul_pd(d, area));
    double* total = v.inf_depth_total.data() + c;
    _mm512_mask_storeu_pd(total, m, _mm512_add_pd(_mm512_maskz_loadu_pd(m, total), d));
    if (sac) {
      double* s = v.sac_inf_depth.data() + c;
      _mm512_mask_storeu_pd(s, m, _mm512_add_pd(_mm512_maskz_loadu_pd(m, s), d));
    }
    if (longterm) {
      double* t = v.inf_depth_longterm.data() + c;
      _mm512_mask_storeu_pd(t, m, _mm512_add_pd(_mm512_maskz_loadu_pd(m, t), d));
    }
    _mm512_mask_storeu_pd(v.inf_depth_prev.data() + c, m, cum);
  }
  _mm512_storeu_pd(lane_sums, sums);
}

// The rain of one step on the cells of a group in `cells`, as the rainfall step puts it on
// them: depth += rain_dt x p / 3.6e6 and the volume area x p x rain_dt / 3.6e6, in that order
// of operations, so that the depths and the sums are the rainfall step's to the last bit. The
// volume is added cell by cell in cell order, the intensities in their lanes.
void rain_onto_group(const green_ampt_views& v, int first, unsigned cells,
                     green_ampt_rain_part& part) {
  const __m512d dt = _mm512_set1_pd(v.rain_dt);
  const __m512d area = _mm512_set1_pd(v.cell_area);
  const __m512d per_hour = _mm512_set1_pd(3.6e6);
  __m512d rate = _mm512_loadu_pd(part.rate);
  double volume = part.volume;
  for (int w = 0; w < green_ampt_group_cells / 8; ++w) {
    const __mmask8 m = static_cast<__mmask8>(cells >> (8 * w) & 0xFFu);
    if (m == 0) continue;
    const int c = first + 8 * w;
    const __m512d p = _mm512_maskz_loadu_pd(m, v.rain_intensity.data() + c);
    rate = _mm512_mask_add_pd(rate, m, rate, p);
    alignas(64) double cell_volume[8];
    _mm512_store_pd(cell_volume,
                    _mm512_div_pd(_mm512_mul_pd(_mm512_mul_pd(area, p), dt), per_hour));
    if (m == 0xFF) {
      for (int l = 0; l < 8; ++l) volume += cell_volume[l];
    } else {
      for (unsigned left = m; left != 0; left &= left - 1)
        volume += cell_volume[__builtin_ctz(left)];
    }
    double* depth = v.ov_depth.data() + c;
    const __m512d h = _mm512_add_pd(_mm512_maskz_loadu_pd(m, depth),
                                    _mm512_div_pd(_mm512_mul_pd(dt, p), per_hour));
    _mm512_mask_storeu_pd(depth, m, h);
    const unsigned bad = _mm512_mask_cmp_pd_mask(m, h, h, _CMP_UNORD_Q);
    if (bad != 0 && part.rain_nan_cell == 0) part.rain_nan_cell = c + __builtin_ctz(bad);
  }
  _mm512_storeu_pd(part.rate, rate);
  part.volume = volume;
}

}  // namespace

void green_ampt_group_wide(const green_ampt_views& v, int first, int count, double* lane_sums,
                           green_ampt_rain_part* rain) {
  constexpr int V = green_ampt_group_cells / 8;
  const unsigned in_range = count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1u;
  unsigned lake = 0;
  if (v.lake_flag != 0 && !v.lake_cells.empty()) {
    for (int half = 0; half < 2; ++half) {
      const __mmask16 m = static_cast<__mmask16>(in_range >> (16 * half) & 0xFFFFu);
      const __m512i id = _mm512_maskz_loadu_epi32(m, v.lake_cells.data() + first + 16 * half);
      lake |= static_cast<unsigned>(_mm512_mask_cmpgt_epi32_mask(m, id, _mm512_setzero_si512()))
              << (16 * half);
    }
  }
  const unsigned cells = in_range & ~lake;
  const __m512d zero = _mm512_setzero_pd();
  const __m512d least = _mm512_set1_pd(1e-16);
  unsigned ponded = 0;
  if (rain != nullptr) rain_onto_group(v, first, cells, *rain);
  for (int w = 0; w < V; ++w) {
    const __mmask8 m = static_cast<__mmask8>(cells >> (8 * w) & 0xFFu);
    const __m512d h = _mm512_maskz_loadu_pd(m, v.ov_depth.data() + first + 8 * w);
    const __mmask8 dry = _mm512_mask_cmp_pd_mask(m, h, least, _CMP_LT_OQ);
    _mm512_mask_storeu_pd(v.inf_rate.data() + first + 8 * w, dry, zero);
    _mm512_mask_storeu_pd(v.ov_depth.data() + first + 8 * w, dry, zero);
    ponded |= static_cast<unsigned>(m & ~dry) << (8 * w);
  }
  if (ponded == 0) {
    if (lane_sums != nullptr) book_group_wide(v, first, in_range, lane_sums);
    return;
  }
  const __m512d dt = _mm512_set1_pd(v.dt);
  const __m512d one = _mm512_set1_pd(1.0);
  const bool reduced = v.area_reduction != 0;
  // A cell whose depth is at most K dt (times its infiltrating fraction) gives all of it to the
  // soil whatever its solve returns: the rate K (G / Fn + 1) is never below K, with G and the
  // fraction never negative, and rounding keeps that order. Its solve is spared.
  unsigned solved = ponded;
  for (int w = 0; w < V; ++w) {
    const __mmask8 m = static_cast<__mmask8>(ponded >> (8 * w) & 0xFFu);
    if (m == 0) continue;
    const int c = first + 8 * w;
    const __m512d h = _mm512_maskz_loadu_pd(m, v.ov_depth.data() + c);
    const __m512d K = _mm512_maskz_loadu_pd(m, v.ks.data() + c);
    const __m512d G = _mm512_maskz_loadu_pd(m, v.G.data() + c);
    __m512d least_rate = K;
    __mmask8 sure = _mm512_mask_cmp_pd_mask(m, K, zero, _CMP_GE_OQ);
    sure = _mm512_mask_cmp_pd_mask(sure, G, zero, _CMP_GE_OQ);
    if (reduced) {
      const __m512d a = _mm512_mask_loadu_pd(one, m, v.area_reduction_cell.data() + c);
      sure = _mm512_mask_cmp_pd_mask(sure, a, zero, _CMP_GE_OQ);
      least_rate = _mm512_mul_pd(least_rate, a);
    }
    sure = _mm512_mask_cmp_pd_mask(sure, h, _mm512_mul_pd(least_rate, dt), _CMP_LE_OQ);
    solved &= ~(static_cast<unsigned>(sure) << (8 * w));
  }
  // Newton on the implicit equation, started 1 mm past F, to a residual of 1e-6 m.
  double depth[green_ampt_group_cells];
  if (solved != 0)
    green_ampt_depths_wide(v.G.data() + first, v.ks.data() + first, v.inf_depth_cum.data() + first,
                           v.dt, solved, 0.001, 1e-6, depth);
  for (int w = 0; w < V; ++w) {
    const __mmask8 m = static_cast<__mmask8>(ponded >> (8 * w) & 0xFFu);
    if (m == 0) continue;
    const int c = first + 8 * w;
    const __m512d h = _mm512_maskz_loadu_pd(m, v.ov_depth.data() + c);
    const __m512d K = _mm512_maskz_loadu_pd(m, v.ks.data() + c);
    const __m512d G = _mm512_maskz_loadu_pd(m, v.G.data() + c);
    const __m512d F = _mm512_maskz_loadu_pd(m, v.inf_depth_cum.data() + c);
    // A cell spared its solve takes Fn 1: its rate is then at least K, as for any Fn.
    const __mmask8 with_solve = static_cast<__mmask8>(solved >> (8 * w) & 0xFFu);
    const __m512d Fn = _mm512_mask_loadu_pd(one, with_solve, depth + 8 * w);
    // The rate at the end of the step, K (G / Fn + 1), or K at no depth.
    const __mmask8 deep = _mm512_cmp_pd_mask(Fn, least, _CMP_GT_OQ);
    __m512d f =
        _mm512_mask_mov_pd(K, deep, _mm512_mul_pd(K, _mm512_add_pd(_mm512_div_pd(G, Fn), one)));
    if (reduced)
      f = _mm512_mul_pd(f, _mm512_mask_loadu_pd(one, m, v.area_reduction_cell.data() + c));
    // A rate that would take more than the surface holds takes all of it.
    const __mmask8 all = _mm512_cmp_pd_mask(_mm512_mul_pd(f, dt), h, _CMP_GE_OQ);
    if (all != 0) f = _mm512_mask_mov_pd(f, all, _mm512_div_pd(h, dt));
    const __m512d taken = _mm512_mul_pd(f, dt);
    const __m512d left = _mm512_mask_mov_pd(_mm512_sub_pd(h, taken), all, zero);
    _mm512_mask_storeu_pd(v.ov_depth.data() + c, m, left);
    _mm512_mask_storeu_pd(v.inf_depth_cum.data() + c, m, _mm512_add_pd(F, taken));
    _mm512_mask_storeu_pd(v.inf_rate.data() + c, m, _mm512_mul_pd(f, _mm512_set1_pd(360000.0)));
    if (rain != nullptr) {
      if (_mm512_mask_cmp_pd_mask(m, left, least, _CMP_GT_OQ) != 0) rain->any_depth = 1;
      const unsigned bad = _mm512_mask_cmp_pd_mask(m, left, left, _CMP_UNORD_Q);
      if (bad != 0 && rain->nan_cell == 0) rain->nan_cell = c + __builtin_ctz(bad);
    }
  }
  if (lane_sums != nullptr) book_group_wide(v, first, in_range, lane_sums);
}
