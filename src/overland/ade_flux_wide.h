// The face discharges of eight neighbouring cells of the ADE scheme in one 512-bit vector, shared
// by the whole-grid sweep (ade_flux_avx512.cpp) and the row kernels of the sub-steps
// (ade_substep_avx512.cpp), so that both give every face the same bits. Include only in files
// compiled for 512-bit vectors.
#pragma once

#include <immintrin.h>

#include "framework/core/vector_powers_avx512.h"
#include "overland/ade_flux.h"
#include "overland/face_law.h"

namespace ade_wide {

inline __mmask8 first_lanes(int count) {
  if (count >= 8) return 0xFF;
  if (count <= 0) return 0;
  return static_cast<__mmask8>((1u << count) - 1u);
}

// Neighbour indices of cells c .. c + count - 1 (0 in the lanes past them).
inline __m256i indices(const int* a, int c, int count) {
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

inline chunk_neighbours neighbours_of(const int* next, int c, int count, __mmask8 m) {
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
inline __m512d at(const double* a, const chunk_neighbours& nb, __mmask8 m) {
  if (nb.contiguous) return _mm512_maskz_loadu_pd(m, a + nb.offset);
  return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), m, nb.j, a, 8);
}

// The lanes m whose index in a is not 0.
inline __mmask8 nonzero_lanes(const int* a, int c, int count, __mmask8 m, __m256i* j) {
  *j = indices(a, c, count);
  return static_cast<__mmask8>(
      m & _mm512_cmpneq_epi32_mask(_mm512_castsi256_si512(*j), _mm512_setzero_si512()));
}

// The face discharges of the cells c .. c + count - 1 whose depths are h_c: the whole-grid
// sweep's arithmetic (ade_plain_sweep_wide), lane by lane, the face law's slope term and the
// hold to the surface share over g.step included; `cut` gets ade_face_cut when the hold cut a
// water-surface difference above ov_cap_failing_difference.
inline __m512d chunk_discharges(const ade_grid_view& g, const int* next, const unsigned char* open,
                                const double* h, __m512d h_c, int c, int count, __mmask8 m,
                                int& cut) {
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
  const __m512d drop = _mm512_sub_pd(_mm512_add_pd(hi, zi), _mm512_add_pd(hj, zj));
  const __m512d s = _mm512_mul_pd(drop, _mm512_set1_pd(1.0 / g.dx));
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
  // The slope term |T(S)|: sqrt|S| at or above the threshold slope, |S| / sqrt(threshold) below.
  const __m512d abs_s = _mm512_abs_pd(s);
  const __mmask8 steep = _mm512_cmp_pd_mask(abs_s, _mm512_set1_pd(ov_threshold_slope), _CMP_GE_OQ);
  const __m512d term =
      _mm512_mask_blend_pd(steep, _mm512_mul_pd(abs_s, _mm512_set1_pd(ov_linear_slope_factor)),
                           _mm512_maskz_sqrt_pd(0xFF, abs_s));
  __m512d flow = _mm512_div_pd(_mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(sign_dx, p), d), term),
                               _mm512_mask_mov_pd(one, flows, nu));
  if (g.step > 0.0) {
    // Held to the surface share of the difference over the step, the sign kept.
    const __m512d k = _mm512_set1_pd(ov_surface_share * (g.dx * g.dx) / g.step);
    const __m512d abs_drop = _mm512_abs_pd(drop);
    const __m512d limit = _mm512_mul_pd(abs_drop, k);
    const __mmask8 over = flows & _mm512_cmp_pd_mask(_mm512_abs_pd(flow), limit, _CMP_GT_OQ);
    if (over != 0) {
      const __m512i sign_bit = _mm512_set1_epi64(static_cast<long long>(0x8000000000000000ULL));
      const __m512d signed_limit = _mm512_castsi512_pd(_mm512_or_si512(
          _mm512_castpd_si512(limit), _mm512_and_si512(_mm512_castpd_si512(flow), sign_bit)));
      flow = _mm512_mask_mov_pd(flow, over, signed_limit);
      if (_mm512_mask_cmp_pd_mask(over, abs_drop, _mm512_set1_pd(ov_cap_failing_difference),
                                  _CMP_GT_OQ) != 0)
        cut |= ade_face_cut;
    }
  }
  return _mm512_maskz_mov_pd(flows, flow);
}

}  // namespace ade_wide
