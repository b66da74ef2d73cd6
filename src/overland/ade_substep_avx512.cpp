// The row kernels of the sub-steps of "ade", eight cells to a 512-bit vector: the face sweep of
// one grid row with the depth update of its cells, or either alone. The row-by-row sub-step of
// the ADE routing calls them. Each lane takes the arithmetic of the whole-grid sweep and update
// in the same order, so a cell's discharge, depth, change and volume do not depend on the row
// or the chunk it falls in. This file alone is compiled for 512-bit vectors.
#include <immintrin.h>

#include "overland/ade_flux.h"
#include "overland/ade_flux_wide.h"

namespace {

using namespace ade_wide;

constexpr double shortest_sub = 0.001;  // s: below this any negative depth fails the sweep

// What the depth update of one sub-step of s seconds needs besides the chunk.
struct update_terms {
  __m512d c, s, half, deep, overdraft;
  bool any_negative_fails, judge_changes;
  double* change;  // nullptr: the changes are not kept
  double* keep;    // nullptr: the depths before the update are not kept
  double* volume;
  bool volume_fresh;
  int drained;
  double drained_before;
};

update_terms terms_for(double dx, double s, double* change, double* keep, double* volume,
                       bool volume_fresh, int drained, double drained_before) {
  update_terms t;
  t.c = _mm512_set1_pd(s / (dx * dx));
  t.s = _mm512_set1_pd(s);
  t.half = _mm512_set1_pd(0.5);
  t.deep = _mm512_set1_pd(0.01);
  t.overdraft = _mm512_set1_pd(-1e-5);
  t.any_negative_fails = s < shortest_sub;
  t.judge_changes = s > 0.1;
  t.change = change;
  t.keep = keep;
  t.volume = volume;
  t.volume_fresh = volume_fresh;
  t.drained = drained;
  t.drained_before = drained_before;
  return t;
}

// The scalar depth update (ade_substep_update) of the lanes m of the chunk at i, whose depths
// are h_i, own discharges q_i and inflows q_up; returns the result bits.
int update_chunk(const update_terms& t, double* h, int i, __mmask8 m, __m512d h_i, __m512d q_i,
                 __m512d q_up) {
  const __m512d zero = _mm512_setzero_pd();
  int result = ade_update_ok;
  const __m512d delta = _mm512_mul_pd(_mm512_sub_pd(q_up, q_i), t.c);
  __m512d depth = _mm512_add_pd(h_i, delta);
  const __mmask8 below_zero = _mm512_mask_cmp_pd_mask(m, depth, zero, _CMP_LT_OQ);
  if (below_zero != 0) {
    const __mmask8 fails =
        t.any_negative_fails ? below_zero
                             : _mm512_mask_cmp_pd_mask(below_zero, depth, t.overdraft, _CMP_LE_OQ);
    if (fails != 0) result |= ade_update_negative_depth;
    depth = _mm512_mask_mov_pd(depth, static_cast<__mmask8>(below_zero & ~fails), zero);
  }
  if (t.judge_changes) {
    __m512d before = h_i;
    if (t.drained >= i && t.drained < i + 8)
      before = _mm512_mask_mov_pd(before, static_cast<__mmask8>(1u << (t.drained - i)),
                                  _mm512_set1_pd(t.drained_before));
    const __mmask8 large =
        _mm512_mask_cmp_pd_mask(static_cast<__mmask8>(m & ~below_zero), _mm512_abs_pd(delta),
                                _mm512_mul_pd(t.half, before), _CMP_GT_OQ) &
        _mm512_cmp_pd_mask(before, t.deep, _CMP_GT_OQ);
    if (large != 0) result |= ade_update_large_change;
  }
  if (t.keep != nullptr) _mm512_mask_storeu_pd(t.keep + i, m, h_i);
  _mm512_mask_storeu_pd(h + i, m, depth);
  if (t.change != nullptr) _mm512_mask_storeu_pd(t.change + i, m, delta);
  const __m512d moved = _mm512_mul_pd(t.s, q_i);
  const __m512d old = t.volume_fresh ? zero : _mm512_maskz_loadu_pd(m, t.volume + i);
  _mm512_mask_storeu_pd(t.volume + i, m, _mm512_add_pd(old, moved));
  return result;
}

// The inflows q[up] of the lanes m of the chunk at i (0 where up is 0).
__m512d inflows(const double* q, const int* up, int i, int count, __mmask8 m) {
  __m256i j;
  const __mmask8 has_up = nonzero_lanes(up, i, count, m, &j);
  if (has_up == 0) return _mm512_setzero_pd();
  return at(q, neighbours_of(up, i, count, has_up), has_up);
}

}  // namespace

int ade_update_range_wide(int lo, int hi, double* h, double* change, double* keep, const double* q,
                          const int* up, double dx, double s, double* volume, bool volume_fresh,
                          int drained, double drained_before) {
  const update_terms t =
      terms_for(dx, s, change, keep, volume, volume_fresh, drained, drained_before);
  int result = ade_update_ok;
  for (int i = lo; i <= hi; i += 8) {
    const int count = hi - i + 1;
    const __mmask8 m = first_lanes(count);
    result |= update_chunk(t, h, i, m, _mm512_maskz_loadu_pd(m, h + i),
                           _mm512_maskz_loadu_pd(m, q + i), inflows(q, up, i, count, m));
  }
  return result;
}

int ade_row_step_wide(const ade_grid_view& g, bool x_faces, const int* next,
                      const unsigned char* open, const int* up, double* h, double* q, bool update,
                      double* change, double* keep, double* volume, bool volume_fresh, double s,
                      int drained, double drained_before, double mean_dt, int lo, int hi) {
  const update_terms t =
      terms_for(g.dx, s, change, keep, volume, volume_fresh, drained, drained_before);
  int result = ade_update_ok;
  __m512d carry = _mm512_setzero_pd();  // across: the discharges of the chunk before
  for (int i = lo; i <= hi; i += 8) {
    const int count = hi - i + 1;
    const __mmask8 m = first_lanes(count);
    const __m512d h_i = _mm512_maskz_loadu_pd(m, h + i);
    const __m512d flux = chunk_discharges(g, next, open, h, h_i, i, count, m, result);
    _mm512_mask_storeu_pd(q + i, m, flux);
    if (!update) continue;
    __m512d q_up;
    if (x_faces) {
      // Across a row the inflow of a cell is its left neighbour's discharge: the chunk's own
      // shifted by one lane, the first lane taking the last of the chunk before.
      __m256i j;
      const __mmask8 has_up = nonzero_lanes(up, i, count, m, &j);
      q_up = _mm512_maskz_mov_pd(
          has_up, _mm512_castsi512_pd(_mm512_maskz_alignr_epi64(0xFF, _mm512_castpd_si512(flux),
                                                                _mm512_castpd_si512(carry), 7)));
      carry = flux;
    } else {
      q_up = inflows(q, up, i, count, m);
    }
    result |= update_chunk(t, h, i, m, h_i, flux, q_up);
    // Across, no other row reads the discharges: the step's means can take their place.
    if (x_faces && mean_dt > 0.0)
      _mm512_mask_storeu_pd(
          q + i, m, _mm512_div_pd(_mm512_maskz_loadu_pd(m, volume + i), _mm512_set1_pd(mean_dt)));
  }
  return result;
}

void ade_mean_range_wide(int lo, int hi, double* q, const double* volume, double dt) {
  const __m512d step = _mm512_set1_pd(dt);
  for (int i = lo; i <= hi; i += 8) {
    const __mmask8 m = first_lanes(hi - i + 1);
    _mm512_mask_storeu_pd(q + i, m, _mm512_div_pd(_mm512_maskz_loadu_pd(m, volume + i), step));
  }
}
