// The 8-wide vector kernels of the explicit overland scheme (ov_route_explicit picks them when
// the processor has them): eight cells at a time along each run of the face stencil, the
// cells beyond a run's end or a worker's share masked off, so every cell takes the same
// arithmetic wherever it falls. The power of a depth, d^(5/3), comes from the core's 8-wide
// depth power (within about half an ulp, several times quicker than a general pow). This file
// alone is compiled for 512-bit vectors.
#include <immintrin.h>

#include "framework/core/vector_powers_avx512.h"
#include "overland/explicit_overland_kernels.h"
#include "overland/face_law.h"

namespace {

// The lanes 0..count-1 of a chunk (count may exceed 8).
__mmask8 first_lanes(int count) {
  if (count >= 8) return 0xFF;
  if (count <= 0) return 0;
  return static_cast<__mmask8>((1u << count) - 1u);
}

__m512d negated(__m512d x) {
  const __m512i bit = _mm512_set1_epi64(static_cast<long long>(0x8000000000000000ULL));
  return _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(x), bit));
}

__m512d copy_sign(__m512d magnitude, __m512d sign) {
  const __m512i bit = _mm512_set1_epi64(static_cast<long long>(0x8000000000000000ULL));
  return _mm512_castsi512_pd(_mm512_or_si512(_mm512_castpd_si512(magnitude),
                                             _mm512_and_si512(_mm512_castpd_si512(sign), bit)));
}

struct face_constants {
  __m512d zero = _mm512_setzero_pd();
  __m512d one = _mm512_set1_pd(1.0);
  __m512d threshold = _mm512_set1_pd(ov_threshold_slope);
  __m512d linear = _mm512_set1_pd(ov_linear_slope_factor);
  __m512d too_far = _mm512_set1_pd(0.06);
  __m512d overdraft = _mm512_set1_pd(-0.0001);
  // Bounds of the quick look at the sub-step test, 1e-10 m inside the test's own.
  __m512d nearly_far = _mm512_set1_pd(0.06 - 1e-10);
  __m512d nearly_overdrawn = _mm512_set1_pd(-0.0001 + 1e-10);
  __m512d dx;
  __m512d per_dx;  // 1 / dx
  __m512d tau;
  __m512d cap;      // the face law's cap per unit of |t|: share x dx^2 / tau
  __m512d matters;  // the slope above which a cut discharge counts against the sub-step
};

// Unit-width discharges of one face direction for the lanes in `open` (faces that carry flow):
// h, s0 and p are the owners' depth, bed slope and power, hk and pk the neighbours'. The face
// law on the upwind power, held to the cap, as the scalar kernel makes it. Adds the lanes
// failing the sub-step test to `fails` and those the cap cut across a surface difference that
// matters to `cuts`.
[[gnu::always_inline]] inline __m512d face_discharge(const face_constants& k, __m512d h, __m512d hk,
                                                     __m512d s0, __m512d p, __m512d pk, __m512d n,
                                                     __mmask8 open, int& fails, int& cuts) {
  const __m512d t = _mm512_sub_pd(s0, _mm512_div_pd(_mm512_sub_pd(hk, h), k.dx));
  const __mmask8 downhill = _mm512_cmp_pd_mask(t, k.zero, _CMP_GE_OQ);
  const __m512d upwind = _mm512_mask_blend_pd(downhill, pk, p);
  const __mmask8 flows = open & _mm512_cmp_pd_mask(upwind, k.zero, _CMP_GT_OQ) &
                         _mm512_cmp_pd_mask(p, k.zero, _CMP_GE_OQ);
  if (flows == 0) return k.zero;
  const __m512d a = _mm512_abs_pd(t);
  const __m512d root = copy_sign(_mm512_maskz_sqrt_pd(0xFF, a), t);
  const __m512d term = _mm512_mask_mov_pd(_mm512_mul_pd(t, k.linear),
                                          _mm512_cmp_pd_mask(a, k.threshold, _CMP_GE_OQ), root);
  __m512d q = _mm512_maskz_mov_pd(flows, _mm512_mul_pd(_mm512_div_pd(term, n), upwind));
  const __m512d most = _mm512_mul_pd(k.cap, a);
  const __mmask8 over = flows & _mm512_cmp_pd_mask(_mm512_abs_pd(q), most, _CMP_GT_OQ);
  if (over != 0) {
    q = _mm512_mask_mov_pd(q, over, copy_sign(most, t));
    cuts += __builtin_popcount(
        static_cast<unsigned>(over & _mm512_cmp_pd_mask(a, k.matters, _CMP_GT_OQ)));
  }
  // The sub-step test divides by dx. A quick look multiplies by 1 / dx instead, off by a few
  // parts in 1e16 of the depth moved (under 1e-17 m within the bounds); only faces that come
  // within 1e-10 m of a bound take the test itself, so it fails the same faces.
  const __m512d carried = _mm512_mul_pd(q, k.tau);
  const __m512d rough = _mm512_mul_pd(carried, k.per_dx);
  const __mmask8 moving = _mm512_cmp_pd_mask(q, k.zero, _CMP_NEQ_OQ);
  const __mmask8 near =
      _mm512_cmp_pd_mask(_mm512_abs_pd(rough), k.nearly_far, _CMP_GE_OQ) |
      (moving & _mm512_cmp_pd_mask(_mm512_add_pd(h, rough), k.nearly_overdrawn, _CMP_LT_OQ));
  if ((near & open) == 0) return q;
  const __m512d moved = _mm512_div_pd(carried, k.dx);
  const __mmask8 far = _mm512_cmp_pd_mask(_mm512_abs_pd(moved), k.too_far, _CMP_GE_OQ);
  const __mmask8 dry =
      moving & _mm512_cmp_pd_mask(_mm512_add_pd(h, moved), k.overdraft, _CMP_LT_OQ);
  fails += __builtin_popcount(static_cast<unsigned>(static_cast<__mmask8>(far | dry) & open));
  return q;
}

// The power of the lanes `m` of depth h over retention ret: (h - ret)^(5/3) when above it, 0
// when not, -1 when ret > h; 0 in the lanes outside m.
__m512d power_of(__m512d h, __m512d ret, __mmask8 m) {
  const __m512d zero = _mm512_setzero_pd();
  const __m512d above = _mm512_sub_pd(h, ret);
  const __mmask8 wet = m & _mm512_cmp_pd_mask(above, zero, _CMP_GT_OQ);
  __m512d p = zero;
  if (wet != 0)
    p = _mm512_maskz_mov_pd(
        wet, depth_pow_five_thirds(_mm512_mask_mov_pd(_mm512_set1_pd(1.0), wet, above)));
  return _mm512_mask_mov_pd(p, m & _mm512_cmp_pd_mask(ret, h, _CMP_GT_OQ), _mm512_set1_pd(-1.0));
}

// The power of cells c.. in the lanes `m`, from the arrays.
__m512d power_at(const ov_kernel_view& v, int c, __mmask8 m) {
  return power_of(_mm512_maskz_loadu_pd(m, v.depth + c), _mm512_maskz_loadu_pd(m, v.retention + c),
                  m);
}

// Offsets to the cell above of at least this many cells leave a cell's power to the chunk of
// the cell above it, which is done before the chunk that reads it.
constexpr int lag_rows_from = 8;

}  // namespace

void ov_plain_faces_wide(const ov_kernel_view& v, int first_run, int lo, int hi, double tau,
                         int fails[4], bool make_power) {
  face_constants k;
  k.dx = _mm512_set1_pd(v.dx);
  k.per_dx = _mm512_set1_pd(1.0 / v.dx);
  k.tau = _mm512_set1_pd(tau);
  k.cap = _mm512_set1_pd(ov_surface_share * v.dx * v.dx / tau);
  k.matters = _mm512_set1_pd(ov_cap_failing_difference / v.dx);
  const __m512i right_bit = _mm512_set1_epi64(stencil_right_open);
  const __m512i lower_bit = _mm512_set1_epi64(stencil_lower_open);
  int fx = 0, fy = 0, cx = 0, cy = 0;
  if (make_power) {
    // The powers no chunk of the share makes as the power of its cells below: cells without a
    // cell above in the share at an offset of lag_rows_from or more.
    for (int r = first_run; r <= v.run_count && v.runs[r].first <= hi; ++r) {
      const face_run run = v.runs[r];
      const int a = run.first > lo ? run.first : lo;
      int b = run.last < hi ? run.last : hi;
      if (run.above >= lag_rows_from && lo + run.above - 1 < b) b = lo + run.above - 1;
      for (int c = a; c <= b; c += 8) {
        const __mmask8 m = first_lanes(b - c + 1);
        _mm512_mask_storeu_pd(v.power + c, m, power_at(v, c, m));
      }
    }
  }
  for (int r = first_run; r <= v.run_count && v.runs[r].first <= hi; ++r) {
    const face_run run = v.runs[r];
    const int a = run.first > lo ? run.first : lo;
    const int b = run.last < hi ? run.last : hi;
    for (int c = a; c <= b; c += 8) {
      const __mmask8 m = first_lanes(b - c + 1);
      // The right neighbour is in the arrays up to the last cell.
      const __mmask8 mr = m & first_lanes(v.cell_count - c);
      const __mmask8 mb = run.below != 0 ? m : 0;
      __m512d pb;
      if (make_power && run.below != 0 && (run.below >= lag_rows_from || c + 7 + run.below > hi)) {
        // The powers of the cells below, made here; those past hi are another worker's to
        // keep, so they stay in the register (the same values that worker makes).
        pb = power_at(v, c + run.below, mb);
        if (run.below >= lag_rows_from)
          _mm512_mask_storeu_pd(v.power + c + run.below, mb & first_lanes(hi - run.below - c + 1),
                                pb);
      } else {
        pb = _mm512_maskz_loadu_pd(mb, v.power + c + run.below);
      }
      const __m512d p = _mm512_maskz_loadu_pd(m, v.power + c);
      // The right neighbour of cell hi is another worker's.
      const __m512d pr = make_power && c + 7 >= hi ? power_at(v, c + 1, mr)
                                                   : _mm512_maskz_loadu_pd(mr, v.power + c + 1);
      const __mmask8 wet = _mm512_cmp_pd_mask(p, k.zero, _CMP_GT_OQ) |
                           _mm512_cmp_pd_mask(pr, k.zero, _CMP_GT_OQ) |
                           _mm512_cmp_pd_mask(pb, k.zero, _CMP_GT_OQ);
      if ((wet & m) == 0) {
        // No water above retention on either side of any face: nothing moves.
        _mm512_mask_storeu_pd(v.flux_x + c, m, k.zero);
        _mm512_mask_storeu_pd(v.flux_y + c, m, k.zero);
        continue;
      }
      const __m512i bits = _mm512_maskz_cvtepu8_epi64(
          0xFF, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v.plain_faces + c)));
      const __mmask8 open_x = m & _mm512_test_epi64_mask(bits, right_bit);
      const __mmask8 open_y = mb & _mm512_test_epi64_mask(bits, lower_bit);
      const __m512d h = _mm512_maskz_loadu_pd(m, v.depth + c);
      const __m512d n = _mm512_mask_loadu_pd(k.one, m, v.roughness + c);
      const __m512d hr = _mm512_maskz_loadu_pd(mr, v.depth + c + 1);
      const __m512d sx = _mm512_maskz_loadu_pd(m, v.slope_x + c);
      _mm512_mask_storeu_pd(v.flux_x + c, m,
                            face_discharge(k, h, hr, sx, p, pr, n, open_x, fx, cx));
      const __m512d hb = _mm512_maskz_loadu_pd(mb, v.depth + c + run.below);
      const __m512d sy = _mm512_maskz_loadu_pd(m, v.slope_y + c);
      _mm512_mask_storeu_pd(v.flux_y + c, m,
                            face_discharge(k, h, hb, sy, p, pb, n, open_y, fy, cy));
    }
  }
  fails[0] = fx;
  fails[1] = fy;
  fails[2] = cx;
  fails[3] = cy;
}

void ov_depth_update_wide(const ov_kernel_view& v, int first_run, int lo, int hi,
                          ov_depth_source source, bool power, double per_q, double flux_scale) {
  const __m512d pq = _mm512_set1_pd(per_q);
  const __m512d scale = _mm512_set1_pd(flux_scale);
  const bool gather =
      source == ov_depth_source::gathered || source == ov_depth_source::saved_and_gathered;
  const bool save = source == ov_depth_source::saved_and_gathered;
  const bool scaled = gather && flux_scale != 0.0;
  for (int r = first_run; r <= v.run_count && v.runs[r].first <= hi; ++r) {
    const face_run run = v.runs[r];
    const int a = run.first > lo ? run.first : lo;
    const int b = run.last < hi ? run.last : hi;
    for (int c = a; c <= b; c += 8) {
      const __mmask8 m = first_lanes(b - c + 1);
      __m512d h;
      if (gather) {
        const __mmask8 ma = run.above != 0 ? m : 0;
        // The left neighbour's right face is the previous cell's; a cell without one gets the
        // 0 of a closed face (cell 0 holds 0).
        const __m512d own_x = _mm512_maskz_loadu_pd(m, v.flux_x + c);
        const __m512d own_y = _mm512_maskz_loadu_pd(m, v.flux_y + c);
        const __m512d left_x = _mm512_maskz_loadu_pd(m, v.flux_x + c - 1);
        const __m512d upper_y = _mm512_maskz_loadu_pd(ma, v.flux_y + c - run.above);
        __m512d change = _mm512_sub_pd(_mm512_mul_pd(negated(own_x), pq), _mm512_mul_pd(own_y, pq));
        change = _mm512_add_pd(change, _mm512_mul_pd(left_x, pq));
        change = _mm512_add_pd(change, _mm512_mul_pd(upper_y, pq));
        const __m512d start = _mm512_maskz_loadu_pd(m, v.depth + c);
        if (save) _mm512_mask_storeu_pd(v.saved + c, m, start);
        h = _mm512_add_pd(start, change);
        if (scaled) {
          // Both readers of these faces are done: the left faces of this chunk's cells (but
          // not the one of cell lo, read by the share before), the upper faces whose owners
          // lie in the share, and the lower faces of cells without a neighbour below.
          const __mmask8 done_x = c == lo ? static_cast<__mmask8>(m & 0xFE) : m;
          const __mmask8 done_y = ma & static_cast<__mmask8>(~first_lanes(lo - c + run.above));
          _mm512_mask_storeu_pd(v.flux_x + c - 1, done_x, _mm512_mul_pd(left_x, scale));
          _mm512_mask_storeu_pd(v.flux_y + c - run.above, done_y, _mm512_mul_pd(upper_y, scale));
          if (run.below == 0) _mm512_mask_storeu_pd(v.flux_y + c, m, _mm512_mul_pd(own_y, scale));
        }
      } else {
        h = _mm512_maskz_loadu_pd(m, (source == ov_depth_source::restored ? v.saved : v.depth) + c);
      }
      if (source != ov_depth_source::kept) _mm512_mask_storeu_pd(v.depth + c, m, h);
      if (!power) continue;
      _mm512_mask_storeu_pd(v.power + c, m,
                            power_of(h, _mm512_maskz_loadu_pd(m, v.retention + c), m));
    }
  }
}
