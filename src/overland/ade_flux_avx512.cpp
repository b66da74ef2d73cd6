// The 8-wide vector face sweep of the ADE scheme on grids without lakes or wetlands (the sweeps
// pick it when the processor has 512-bit vectors): eight cells at a time, the cells past the
// range masked off, so every cell takes the same arithmetic wherever it falls and the result
// does not depend on how the cells are shared among threads. The arithmetic is the scalar
// sweep's, in the same order, except the depth power d^(2/3), which comes from the core's 8-wide
// depth power (within about half an ulp, as the scalar pow). This file alone is compiled for
// 512-bit vectors.
#include <immintrin.h>

#include "framework/core/vector_powers_avx512.h"
#include "overland/ade_flux.h"

namespace {

// The lanes 0..count-1 of a chunk (count may exceed 8).
__mmask8 first_lanes(int count) {
  if (count >= 8) return 0xFF;
  if (count <= 0) return 0;
  return static_cast<__mmask8>((1u << count) - 1u);
}

// Values of `a` at the neighbours j of the lanes `m` (0 elsewhere). Neighbours that lie at
// one offset from their cells for every lane are read in one load; others are gathered.
__m512d at_neighbours(const double* a, __m256i j, __mmask8 m, bool contiguous, int first) {
  if (contiguous) return _mm512_maskz_loadu_pd(m, a + first);
  return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), m, j, a, 8);
}

}  // namespace

void ade_plain_sweep_wide(const ade_grid_view& g, const int* next, const unsigned char* open,
                          const double* h, double* q, int lo, int hi) {
  const double* z = g.elev;
  const double* r = g.retention;
  const double* rough = g.roughness;
  const __m512d zero = _mm512_setzero_pd();
  const __m512d one = _mm512_set1_pd(1.0);
  const __m512d inv_dx = _mm512_set1_pd(1.0 / g.dx);
  const __m512d plus_dx = _mm512_set1_pd(g.dx);
  const __m512d minus_dx = _mm512_set1_pd(-g.dx);
  const __m512i lane = _mm512_set_epi32(0, 0, 0, 0, 0, 0, 0, 0, 7, 6, 5, 4, 3, 2, 1, 0);
  const __m512i magnitude = _mm512_set1_epi64(0x7FFFFFFFFFFFFFFFLL);
  for (int c = lo; c <= hi; c += 8) {
    const __mmask8 m = first_lanes(hi - c + 1);
    // The face flags of the chunk's cells, none read past the range.
    alignas(16) unsigned char flags[16] = {};
    __builtin_memcpy(flags, open + c, static_cast<unsigned>(m == 0xFF ? 8 : hi - c + 1));
    const __m512i bits =
        _mm512_maskz_cvtepu8_epi64(0xFF, _mm_load_si128(reinterpret_cast<const __m128i*>(flags)));
    const __mmask8 o = m & _mm512_test_epi64_mask(bits, bits);
    if (o == 0) {
      _mm512_mask_storeu_pd(q + c, m, zero);
      continue;
    }
    // The neighbours of the chunk's cells, none read past the range (0 past it).
    int nb[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    __builtin_memcpy(nb, next + c, sizeof(int) * static_cast<unsigned>(m == 0xFF ? 8 : hi - c + 1));
    const __m256i j = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(nb));
    // Neighbours at one offset: j - lane equal in every open lane.
    const int first_open = __builtin_ctz(static_cast<unsigned>(o));
    const __m512i off = _mm512_sub_epi32(_mm512_castsi256_si512(j), lane);
    const int offset = next[c + first_open] - first_open;
    const unsigned stray =
        static_cast<unsigned>(_mm512_cmpneq_epi32_mask(off, _mm512_set1_epi32(offset))) &
        static_cast<unsigned>(o);
    const bool contiguous = stray == 0 && offset >= 0;
    const __m512d hi_ = _mm512_maskz_loadu_pd(o, h + c);
    const __m512d zi = _mm512_maskz_loadu_pd(o, z + c);
    const __m512d hj = at_neighbours(h, j, o, contiguous, offset);
    const __m512d zj = at_neighbours(z, j, o, contiguous, offset);
    const __m512d s =
        _mm512_mul_pd(_mm512_sub_pd(_mm512_add_pd(hi_, zi), _mm512_add_pd(hj, zj)), inv_dx);
    // Sloping faces (NaN counts as sloping, as in the scalar test s != 0), and those falling
    // from the cell itself; the others take their upstream cell from the neighbour.
    const __mmask8 sloping = o & _mm512_cmp_pd_mask(s, zero, _CMP_NEQ_UQ);
    if (sloping == 0) {
      _mm512_mask_storeu_pd(q + c, m, zero);
      continue;
    }
    const __mmask8 down = sloping & _mm512_cmp_pd_mask(s, zero, _CMP_GT_OQ);
    const __mmask8 from_j = sloping ^ down;  // down lies within sloping
    const __m512d ri = _mm512_maskz_loadu_pd(down, r + c);
    const __m512d ni = _mm512_maskz_loadu_pd(down, rough + c);
    const __m512d hu = _mm512_mask_blend_pd(down, hj, hi_);
    const __m512d ru =
        _mm512_mask_blend_pd(down, at_neighbours(r, j, from_j, contiguous, offset), ri);
    const __m512d nu =
        _mm512_mask_blend_pd(down, at_neighbours(rough, j, from_j, contiguous, offset), ni);
    const __mmask8 flows = sloping & _mm512_cmp_pd_mask(ru, hu, _CMP_LT_OQ);
    if (flows == 0) {
      _mm512_mask_storeu_pd(q + c, m, zero);
      continue;
    }
    const __m512d d = _mm512_mask_mov_pd(one, flows, _mm512_sub_pd(hu, ru));
    const __m512d p = depth_pow_two_thirds(d);
    const __m512d sign_dx = _mm512_mask_blend_pd(down, minus_dx, plus_dx);
    const __m512d abs_s = _mm512_castsi512_pd(_mm512_and_si512(_mm512_castpd_si512(s), magnitude));
    const __m512d flow = _mm512_div_pd(_mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(sign_dx, p), d),
                                                     _mm512_maskz_sqrt_pd(0xFF, abs_s)),
                                       _mm512_mask_mov_pd(one, flows, nu));
    _mm512_mask_storeu_pd(q + c, m, _mm512_maskz_mov_pd(flows, flow));
  }
}
