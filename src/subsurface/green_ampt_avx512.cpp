// The vector implicit Green and Ampt solve (green_ampt_cells picks it when the processor has
// 512-bit vectors): the Newton iteration of a group of neighbouring ponded cells runs eight
// cells to a vector, each lane leaving it when its residual is within the tolerance. The
// iterates are those of the scalar solve up to round-off: the logarithm comes from the vector
// library (3.5 ulp), 1 / (G + F) is taken once, and the step divides once. This file alone is
// compiled for 512-bit vectors.
#include <immintrin.h>
#include <sleef.h>

#include "subsurface/green_ampt_wide.h"
#include "subsurface/infiltration.h"

namespace {

// The residual at x; inv_gf = 1 / (G + F), fixed through the solve.
__m512d residual_at(__m512d G, __m512d supply, __m512d F, __m512d inv_gf, __m512d x) {
  const __m512d ratio = _mm512_mul_pd(_mm512_add_pd(G, x), inv_gf);
  const __m512d gl = _mm512_mul_pd(G, Sleef_logd8_u35avx512f(ratio));
  return _mm512_add_pd(_mm512_sub_pd(_mm512_add_pd(gl, supply), x), F);
}

// The lanes of green_ampt_step_lands, term for term.
__mmask8 step_lands(__mmask8 lanes, __m512d G, __m512d supply, __m512d F, __m512d x, __m512d r,
                    __m512d next, __m512d tolerance) {
  const __m512d d = _mm512_sub_pd(next, x);
  const __m512d least = _mm512_mask_mov_pd(x, _mm512_cmp_pd_mask(next, x, _CMP_LT_OQ), next);
  const __m512d gm = _mm512_add_pd(G, least);
  __m512d sum = _mm512_add_pd(G, _mm512_abs_pd(r));
  sum = _mm512_add_pd(sum, supply);
  sum = _mm512_add_pd(sum, _mm512_abs_pd(x));
  sum = _mm512_add_pd(sum, _mm512_abs_pd(next));
  sum = _mm512_add_pd(sum, _mm512_abs_pd(F));
  sum = _mm512_add_pd(sum, _mm512_abs_pd(d));
  const __m512d rounding = _mm512_mul_pd(_mm512_set1_pd(1e-14), sum);
  const __m512d gm2 = _mm512_mul_pd(gm, gm);
  const __m512d bend = _mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(_mm512_set1_pd(0.5), G), d), d);
  const __m512d lhs =
      _mm512_add_pd(bend, _mm512_mul_pd(_mm512_mul_pd(_mm512_set1_pd(2.0), rounding), gm2));
  const __m512d rhs = _mm512_mul_pd(_mm512_mul_pd(_mm512_set1_pd(0.5), tolerance), gm2);
  const __mmask8 positive = _mm512_mask_cmp_pd_mask(lanes, gm, _mm512_setzero_pd(), _CMP_GT_OQ);
  return _mm512_mask_cmp_pd_mask(positive, lhs, rhs, _CMP_LE_OQ);
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
    r[v] = residual_at(G[v], supply[v], F[v], inv_gf[v], x[v]);
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
      const __m512d next =
          _mm512_add_pd(x[v], _mm512_div_pd(_mm512_mul_pd(r[v], _mm512_add_pd(G[v], x[v])), x[v]));
      __mmask8 inside = _mm512_mask_cmp_pd_mask(a, _mm512_abs_pd(next), infinity, _CMP_LT_OQ);
      inside = _mm512_mask_cmp_pd_mask(inside, next, F[v], _CMP_GT_OQ);
      scalar[v] = static_cast<__mmask8>(scalar[v] | (a & ~inside));
      const __mmask8 lands = step_lands(inside, G[v], supply[v], F[v], x[v], r[v], next, tol);
      result[v] = _mm512_mask_mov_pd(result[v], lands, next);
      a = static_cast<__mmask8>(inside & ~lands);
      active[v] = a;
      any |= a;
      if (a == 0) continue;
      x[v] = _mm512_mask_mov_pd(x[v], a, next);
      r[v] = residual_at(G[v], supply[v], F[v], inv_gf[v], x[v]);
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

void green_ampt_group_wide(const green_ampt_views& v, int first, int count) {
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
  for (int w = 0; w < V; ++w) {
    const __mmask8 m = static_cast<__mmask8>(cells >> (8 * w) & 0xFFu);
    const __m512d h = _mm512_maskz_loadu_pd(m, v.ov_depth.data() + first + 8 * w);
    const __mmask8 dry = _mm512_mask_cmp_pd_mask(m, h, least, _CMP_LT_OQ);
    _mm512_mask_storeu_pd(v.inf_rate.data() + first + 8 * w, dry, zero);
    _mm512_mask_storeu_pd(v.ov_depth.data() + first + 8 * w, dry, zero);
    ponded |= static_cast<unsigned>(m & ~dry) << (8 * w);
  }
  if (ponded == 0) return;
  // Newton on the implicit equation, started 1 mm past F, to a residual of 1e-6 m.
  double depth[green_ampt_group_cells];
  green_ampt_depths_wide(v.G.data() + first, v.ks.data() + first, v.inf_depth_cum.data() + first,
                         v.dt, ponded, 0.001, 1e-6, depth);
  const __m512d dt = _mm512_set1_pd(v.dt);
  const __m512d one = _mm512_set1_pd(1.0);
  const bool reduced = v.area_reduction != 0;
  for (int w = 0; w < V; ++w) {
    const __mmask8 m = static_cast<__mmask8>(ponded >> (8 * w) & 0xFFu);
    if (m == 0) continue;
    const int c = first + 8 * w;
    const __m512d h = _mm512_maskz_loadu_pd(m, v.ov_depth.data() + c);
    const __m512d K = _mm512_maskz_loadu_pd(m, v.ks.data() + c);
    const __m512d G = _mm512_maskz_loadu_pd(m, v.G.data() + c);
    const __m512d F = _mm512_maskz_loadu_pd(m, v.inf_depth_cum.data() + c);
    const __m512d Fn = _mm512_mask_loadu_pd(one, m, depth + 8 * w);
    // The rate at the end of the step, K (G / Fn + 1), or K at no depth.
    const __mmask8 deep = _mm512_cmp_pd_mask(Fn, least, _CMP_GT_OQ);
    __m512d f =
        _mm512_mask_mov_pd(K, deep, _mm512_mul_pd(K, _mm512_add_pd(_mm512_div_pd(G, Fn), one)));
    if (reduced)
      f = _mm512_mul_pd(f, _mm512_mask_loadu_pd(one, m, v.area_reduction_cell.data() + c));
    // A rate that would take more than the surface holds takes all of it.
    const __mmask8 all = _mm512_cmp_pd_mask(_mm512_mul_pd(f, dt), h, _CMP_GE_OQ);
    f = _mm512_mask_mov_pd(f, all, _mm512_div_pd(h, dt));
    const __m512d taken = _mm512_mul_pd(f, dt);
    const __m512d left = _mm512_mask_mov_pd(_mm512_sub_pd(h, taken), all, zero);
    _mm512_mask_storeu_pd(v.ov_depth.data() + c, m, left);
    _mm512_mask_storeu_pd(v.inf_depth_cum.data() + c, m, _mm512_add_pd(F, taken));
    _mm512_mask_storeu_pd(v.inf_rate.data() + c, m, _mm512_mul_pd(f, _mm512_set1_pd(360000.0)));
  }
}
