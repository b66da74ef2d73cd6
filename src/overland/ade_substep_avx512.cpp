// The row kernels of the sub-steps of "ade", eight cells to a 512-bit vector: the face sweep of
// one grid row with the depth update of its cells, or either alone. The row-by-row sub-step of
// the ADE routing calls them. Each lane takes the arithmetic of the whole-grid sweep and update
// in the same order, so a cell's discharge, depth, change and volume do not depend on the row
// or the chunk it falls in. This file alone is compiled for 512-bit vectors.
#include <immintrin.h>

#include "framework/core/vector_powers_avx512.h"
#include "overland/ade_flux.h"

namespace {

constexpr double shortest_sub = 0.001;  // s: below this any negative depth fails the sweep

__mmask8 first_lanes(int count) {
  if (count >= 8) return 0xFF;
  if (count <= 0) return 0;
  return static_cast<__mmask8>((1u << count) - 1u);
}

// Neighbour indices of cells c .. c + count - 1 (0 in the lanes past them).
__m256i indices(const int* a, int c, int count) {
  if (count >= 8) return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + c));
  alignas(32) int tail[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  __builtin_memcpy(tail, a + c, sizeof(int) * static_cast<unsigned>(count));
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(tail));
}

// The neighbours j of the lanes `m` of the chunk at c, and whether they all lie at one offset
// from their cells (then read in one load from a + offset).
struct chunk_neighbours {
  __m256i j;
  bool contiguous = false;
  int offset = 0;
};

chunk_neighbours neighbours_of(const int* next, int c, int count, __mmask8 m) {
  chunk_neighbours nb;
  nb.j = indices(next, c, count);
  if (m == 0) return nb;
  const __m512i lane_numbers = _mm512_set_epi32(0, 0, 0, 0, 0, 0, 0, 0, 7, 6, 5, 4, 3, 2, 1, 0);
  const int first = __builtin_ctz(static_cast<unsigned>(m));
  nb.offset = next[c + first] - first;
  const unsigned stray = static_cast<unsigned>(_mm512_cmpneq_epi32_mask(
                             _mm512_sub_epi32(_mm512_castsi256_si512(nb.j), lane_numbers),
                             _mm512_set1_epi32(nb.offset))) &
                         static_cast<unsigned>(m);
  nb.contiguous = stray == 0 && nb.offset >= 0;
  return nb;
}

// Values of `a` at the neighbours of the lanes `m` (0 elsewhere).
__m512d at(const double* a, const chunk_neighbours& nb, __mmask8 m) {
  if (nb.contiguous) return _mm512_maskz_loadu_pd(m, a + nb.offset);
  return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), m, nb.j, a, 8);
}

// The lanes m whose index in a is not 0.
__mmask8 nonzero_lanes(const int* a, int c, int count, __mmask8 m, __m256i* j) {
  *j = indices(a, c, count);
  return static_cast<__mmask8>(
      m & _mm512_cmpneq_epi32_mask(_mm512_castsi256_si512(*j), _mm512_setzero_si512()));
}

// The face discharges of the cells c .. c + count - 1 whose depths are h_c: the whole-grid
// sweep's arithmetic (ade_plain_sweep_wide), lane by lane.
__m512d chunk_discharges(const ade_grid_view& g, const int* next, const unsigned char* open,
                         const double* h, __m512d h_c, int c, int count, __mmask8 m) {
  const __m512d zero = _mm512_setzero_pd();
  const __m512d one = _mm512_set1_pd(1.0);
  unsigned long long bytes = 0;
  __builtin_memcpy(&bytes, open + c, static_cast<unsigned>(count >= 8 ? 8 : count));
  const __m512i flags =
      _mm512_maskz_cvtepu8_epi64(0xFF, _mm_cvtsi64_si128(static_cast<long long>(bytes)));
  const __mmask8 o = m & _mm512_test_epi64_mask(flags, flags);
  if (o == 0) return zero;
  const chunk_neighbours nb = neighbours_of(next, c, count, o);
  const __m512d hi = _mm512_maskz_mov_pd(o, h_c);
  const __m512d zi = _mm512_maskz_loadu_pd(o, g.elev + c);
  const __m512d hj = at(h, nb, o);
  const __m512d zj = at(g.elev, nb, o);
  const __m512d s = _mm512_mul_pd(_mm512_sub_pd(_mm512_add_pd(hi, zi), _mm512_add_pd(hj, zj)),
                                  _mm512_set1_pd(1.0 / g.dx));
  // Sloping faces (NaN counts as sloping), and those falling from the cell itself; the others
  // take their upstream cell from the neighbour.
  const __mmask8 sloping = o & _mm512_cmp_pd_mask(s, zero, _CMP_NEQ_UQ);
  if (sloping == 0) return zero;
  const __mmask8 down = sloping & _mm512_cmp_pd_mask(s, zero, _CMP_GT_OQ);
  const __mmask8 from_j = sloping ^ down;
  const __m512d hu = _mm512_mask_blend_pd(down, hj, hi);
  const __m512d ru = _mm512_mask_blend_pd(down, at(g.retention, nb, from_j),
                                          _mm512_maskz_loadu_pd(down, g.retention + c));
  const __m512d nu = _mm512_mask_blend_pd(down, at(g.roughness, nb, from_j),
                                          _mm512_maskz_loadu_pd(down, g.roughness + c));
  const __mmask8 flows = sloping & _mm512_cmp_pd_mask(ru, hu, _CMP_LT_OQ);
  if (flows == 0) return zero;
  const __m512d d = _mm512_mask_mov_pd(one, flows, _mm512_sub_pd(hu, ru));
  const __m512d p = depth_pow_two_thirds(d);
  const __m512d sign_dx = _mm512_mask_blend_pd(down, _mm512_set1_pd(-g.dx), _mm512_set1_pd(g.dx));
  const __m512d abs_s = _mm512_abs_pd(s);
  const __m512d flow = _mm512_div_pd(
      _mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(sign_dx, p), d), _mm512_maskz_sqrt_pd(0xFF, abs_s)),
      _mm512_mask_mov_pd(one, flows, nu));
  return _mm512_maskz_mov_pd(flows, flow);
}

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
                      int drained, double drained_before, int lo, int hi) {
  const update_terms t =
      terms_for(g.dx, s, change, keep, volume, volume_fresh, drained, drained_before);
  int result = ade_update_ok;
  __m512d carry = _mm512_setzero_pd();  // across: the discharges of the chunk before
  for (int i = lo; i <= hi; i += 8) {
    const int count = hi - i + 1;
    const __mmask8 m = first_lanes(count);
    const __m512d h_i = _mm512_maskz_loadu_pd(m, h + i);
    const __m512d flux = chunk_discharges(g, next, open, h, h_i, i, count, m);
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
  }
  return result;
}
