// The vector kernels of the explicit overland scheme, one source for every instruction set
// (Highway picks the best the processor runs, at run time): up to eight cells at a time along
// each run of the face stencil, the cells beyond a run's end or a worker's share left out, so
// every cell takes the same arithmetic wherever it falls and whatever the vector width. The
// power of a depth, d^(5/3), is the lane math's (lane_math-inl.h), the scalar kernels' too, so
// every target and the scalar kernels give the same bits.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "overland/explicit_overland_lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// Then, once per target:
#include <hwy/highway.h>

#include "framework/core/lane_math-inl.h"
#include "overland/explicit_overland_kernels.h"
#include "overland/face_law.h"

HWY_BEFORE_NAMESPACE();
namespace torva_explicit {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using namespace torva_lanes::HWY_NAMESPACE;

// Up to eight lanes of doubles.
using D = hn::CappedTag<double, 8>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;

M first_lanes(D d, int count) {
  if (count <= 0) return hn::FirstN(d, 0);
  return hn::FirstN(d, static_cast<size_t>(count));
}

struct face_constants {
  V zero, one, threshold, linear, too_far, overdraft, nearly_far, nearly_overdrawn;
  V dx, per_dx, tau, cap, matters;
};

// Unit-width discharges of one face direction for the lanes in `open` (faces that carry flow):
// h, s0 and p are the owners' depth, bed slope and power, hk and pk the neighbours'. The face
// law on the upwind power, held to the cap, as the scalar kernel makes it. Adds the lanes
// failing the sub-step test to `fails` and those the cap cut across a surface difference that
// matters to `cuts`.
HWY_INLINE V face_discharge(D d, const face_constants& k, V h, V hk, V s0, V p, V pk, V n, M open,
                            int& fails, int& cuts) {
  const V t = hn::Sub(s0, hn::Div(hn::Sub(hk, h), k.dx));
  const M downhill = hn::Ge(t, k.zero);
  const V upwind = hn::IfThenElse(downhill, p, pk);
  const M flows = hn::And(open, hn::And(hn::Gt(upwind, k.zero), hn::Ge(p, k.zero)));
  if (hn::AllFalse(d, flows)) return k.zero;
  const V a = hn::Abs(t);
  const V root = hn::CopySign(hn::Sqrt(a), t);
  const V term = hn::IfThenElse(hn::Ge(a, k.threshold), root, hn::Mul(t, k.linear));
  V q = hn::IfThenElseZero(flows, hn::Mul(hn::Div(term, n), upwind));
  const V most = hn::Mul(k.cap, a);
  const M over = hn::And(flows, hn::Gt(hn::Abs(q), most));
  if (!hn::AllFalse(d, over)) {
    q = hn::IfThenElse(over, hn::CopySign(most, t), q);
    cuts += static_cast<int>(hn::CountTrue(d, hn::And(over, hn::Gt(a, k.matters))));
  }
  // The sub-step test divides by dx. A quick look multiplies by 1 / dx instead, off by a few
  // parts in 1e16 of the depth moved (under 1e-17 m within the bounds); only faces that come
  // within 1e-10 m of a bound take the test itself, so it fails the same faces.
  const V carried = hn::Mul(q, k.tau);
  const V rough = hn::Mul(carried, k.per_dx);
  const M moving = hn::Not(hn::Eq(q, k.zero));
  const M near = hn::Or(hn::Ge(hn::Abs(rough), k.nearly_far),
                        hn::And(moving, hn::Lt(hn::Add(h, rough), k.nearly_overdrawn)));
  if (hn::AllFalse(d, hn::And(near, open))) return q;
  const V moved = hn::Div(carried, k.dx);
  const M far = hn::Ge(hn::Abs(moved), k.too_far);
  const M dry = hn::And(moving, hn::Lt(hn::Add(h, moved), k.overdraft));
  fails += static_cast<int>(hn::CountTrue(d, hn::And(hn::Or(far, dry), open)));
  return q;
}

// The power of the lanes `m` of depth h over retention ret: (h - ret)^(5/3) when above it, 0
// when not, -1 when ret > h; 0 in the lanes outside m.
HWY_INLINE V power_of(D d, V h, V ret, M m) {
  const V zero = hn::Zero(d);
  const V above = hn::Sub(h, ret);
  const M wet = hn::And(m, hn::Gt(above, zero));
  V p = zero;
  if (!hn::AllFalse(d, wet))
    p = hn::IfThenElseZero(wet, DepthPowFiveThirds(d, hn::IfThenElse(wet, above, hn::Set(d, 1.0))));
  return hn::IfThenElse(hn::And(m, hn::Gt(ret, h)), hn::Set(d, -1.0), p);
}

// The power of the first `count` cells from c, from the arrays.
HWY_INLINE V power_at(D d, const ov_kernel_view& v, int c, int count) {
  return power_of(d, LoadFirst(d, v.depth + c, count), LoadFirst(d, v.retention + c, count),
                  first_lanes(d, count));
}

// Offsets to the cell above of at least this many cells (never fewer than a vector's lanes)
// leave a cell's power to the chunk of the cell above it, which is done before the chunk that
// reads it.
constexpr int lag_rows_from = 8;

}  // namespace

void PlainFaces(const ov_kernel_view& v, int first_run, int lo, int hi, double tau, int* fails,
                bool make_power) {
  const D d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  face_constants k;
  k.zero = hn::Zero(d);
  k.one = hn::Set(d, 1.0);
  k.threshold = hn::Set(d, ov_threshold_slope);
  k.linear = hn::Set(d, ov_linear_slope_factor);
  k.too_far = hn::Set(d, 0.06);
  k.overdraft = hn::Set(d, -0.0001);
  // Bounds of the quick look at the sub-step test, 1e-10 m inside the test's own.
  k.nearly_far = hn::Set(d, 0.06 - 1e-10);
  k.nearly_overdrawn = hn::Set(d, -0.0001 + 1e-10);
  k.dx = hn::Set(d, v.dx);
  k.per_dx = hn::Set(d, 1.0 / v.dx);
  k.tau = hn::Set(d, tau);
  k.cap = hn::Set(d, ov_surface_share * v.dx * v.dx / tau);
  k.matters = hn::Set(d, ov_cap_failing_difference / v.dx);
  const hn::RebindToUnsigned<D> du;
  const hn::Rebind<uint8_t, D> d8;
  const hn::Rebind<uint32_t, D> d32;
  const auto right_bit = hn::Set(du, stencil_right_open);
  const auto lower_bit = hn::Set(du, stencil_lower_open);
  int fx = 0, fy = 0, cx = 0, cy = 0;
  if (make_power) {
    // The powers no chunk of the share makes as the power of its cells below: cells without a
    // cell above in the share at an offset of lag_rows_from or more.
    for (int r = first_run; r <= v.run_count && v.runs[r].first <= hi; ++r) {
      const face_run run = v.runs[r];
      const int a = run.first > lo ? run.first : lo;
      int b = run.last < hi ? run.last : hi;
      if (run.above >= lag_rows_from && lo + run.above - 1 < b) b = lo + run.above - 1;
      for (int c = a; c <= b; c += lanes) {
        const int count = b - c + 1;
        StoreFirst(d, power_at(d, v, c, count), v.power + c, count);
      }
    }
  }
  for (int r = first_run; r <= v.run_count && v.runs[r].first <= hi; ++r) {
    const face_run run = v.runs[r];
    const int a = run.first > lo ? run.first : lo;
    const int b = run.last < hi ? run.last : hi;
    for (int c = a; c <= b; c += lanes) {
      const int count = b - c + 1;
      const M m = first_lanes(d, count);
      // The right neighbour is in the arrays up to the last cell.
      const int count_r = count < v.cell_count - c ? count : v.cell_count - c;
      const int count_b = run.below != 0 ? count : 0;
      V pb;
      if (make_power && run.below != 0 &&
          (run.below >= lag_rows_from || c + lanes - 1 + run.below > hi)) {
        // The powers of the cells below, made here; those past hi are another worker's to
        // keep, so they stay in the register (the same values that worker makes).
        pb = power_at(d, v, c + run.below, count_b);
        if (run.below >= lag_rows_from) {
          const int mine = hi - run.below - c + 1;
          StoreFirst(d, pb, v.power + c + run.below, count_b < mine ? count_b : mine);
        }
      } else {
        pb = LoadFirst(d, v.power + c + run.below, count_b);
      }
      const V p = LoadFirst(d, v.power + c, count);
      // The right neighbour of cell hi is another worker's.
      const V pr = make_power && c + lanes - 1 >= hi ? power_at(d, v, c + 1, count_r)
                                                     : LoadFirst(d, v.power + c + 1, count_r);
      const M wet = hn::Or(hn::Or(hn::Gt(p, k.zero), hn::Gt(pr, k.zero)), hn::Gt(pb, k.zero));
      if (hn::AllFalse(d, hn::And(wet, m))) {
        // No water above retention on either side of any face: nothing moves.
        StoreFirst(d, k.zero, v.flux_x + c, count);
        StoreFirst(d, k.zero, v.flux_y + c, count);
        continue;
      }
      const auto bits =
          hn::PromoteTo(du, hn::PromoteTo(d32, LoadFirst(d8, v.plain_faces + c, count)));
      const M open_x = hn::And(m, hn::RebindMask(d, hn::TestBit(bits, right_bit)));
      const M open_y = run.below != 0 ? hn::And(m, hn::RebindMask(d, hn::TestBit(bits, lower_bit)))
                                      : first_lanes(d, 0);
      const V h = LoadFirst(d, v.depth + c, count);
      const V n = hn::IfThenElse(m, LoadFirst(d, v.roughness + c, count), k.one);
      const V hr = LoadFirst(d, v.depth + c + 1, count_r);
      const V sx = LoadFirst(d, v.slope_x + c, count);
      StoreFirst(d, face_discharge(d, k, h, hr, sx, p, pr, n, open_x, fx, cx), v.flux_x + c, count);
      const V hb = LoadFirst(d, v.depth + c + run.below, count_b);
      const V sy = LoadFirst(d, v.slope_y + c, count);
      StoreFirst(d, face_discharge(d, k, h, hb, sy, p, pb, n, open_y, fy, cy), v.flux_y + c, count);
    }
  }
  fails[0] = fx;
  fails[1] = fy;
  fails[2] = cx;
  fails[3] = cy;
}

void DepthUpdate(const ov_kernel_view& v, int first_run, int lo, int hi, ov_depth_source source,
                 bool power, double per_q, double flux_scale) {
  const D d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const V pq = hn::Set(d, per_q);
  const V scale = hn::Set(d, flux_scale);
  const bool gather =
      source == ov_depth_source::gathered || source == ov_depth_source::saved_and_gathered;
  const bool save = source == ov_depth_source::saved_and_gathered;
  const bool scaled = gather && flux_scale != 0.0;
  for (int r = first_run; r <= v.run_count && v.runs[r].first <= hi; ++r) {
    const face_run run = v.runs[r];
    const int a = run.first > lo ? run.first : lo;
    const int b = run.last < hi ? run.last : hi;
    for (int c = a; c <= b; c += lanes) {
      const int count = b - c + 1;
      const M m = first_lanes(d, count);
      V h;
      if (gather) {
        const int count_a = run.above != 0 ? count : 0;
        // The left neighbour's right face is the previous cell's; a cell without one gets the
        // 0 of a closed face (cell 0 holds 0).
        const V own_x = LoadFirst(d, v.flux_x + c, count);
        const V own_y = LoadFirst(d, v.flux_y + c, count);
        const V left_x = LoadFirst(d, v.flux_x + c - 1, count);
        const V upper_y = LoadFirst(d, v.flux_y + c - run.above, count_a);
        V change = hn::Sub(hn::Mul(hn::Neg(own_x), pq), hn::Mul(own_y, pq));
        change = hn::Add(change, hn::Mul(left_x, pq));
        change = hn::Add(change, hn::Mul(upper_y, pq));
        const V start = LoadFirst(d, v.depth + c, count);
        if (save) StoreFirst(d, start, v.saved + c, count);
        h = hn::Add(start, change);
        if (scaled) {
          // Both readers of these faces are done: the left faces of this chunk's cells (but
          // not the one of cell lo, read by the share before), the upper faces whose owners
          // lie in the share, and the lower faces of cells without a neighbour below.
          const M done_x = c == lo ? hn::AndNot(first_lanes(d, 1), m) : m;
          hn::BlendedStore(hn::Mul(left_x, scale), done_x, d, v.flux_x + c - 1);
          if (count_a != 0) {
            const M done_y = hn::AndNot(first_lanes(d, lo - c + run.above), m);
            hn::BlendedStore(hn::Mul(upper_y, scale), done_y, d, v.flux_y + c - run.above);
          }
          if (run.below == 0) StoreFirst(d, hn::Mul(own_y, scale), v.flux_y + c, count);
        }
      } else {
        h = LoadFirst(d, (source == ov_depth_source::restored ? v.saved : v.depth) + c, count);
      }
      if (source != ov_depth_source::kept) StoreFirst(d, h, v.depth + c, count);
      if (!power) continue;
      StoreFirst(d, power_of(d, h, LoadFirst(d, v.retention + c, count), m), v.power + c, count);
    }
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace torva_explicit
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace torva_explicit {
HWY_EXPORT(PlainFaces);
HWY_EXPORT(DepthUpdate);
}  // namespace torva_explicit

void ov_plain_faces_wide(const ov_kernel_view& v, int first_run, int lo, int hi, double tau,
                         int fails[4], bool make_power) {
  HWY_DYNAMIC_DISPATCH(torva_explicit::PlainFaces)(v, first_run, lo, hi, tau, fails, make_power);
}

void ov_depth_update_wide(const ov_kernel_view& v, int first_run, int lo, int hi,
                          ov_depth_source source, bool power, double per_q, double flux_scale) {
  HWY_DYNAMIC_DISPATCH(torva_explicit::DepthUpdate)
  (v, first_run, lo, hi, source, power, per_q, flux_scale);
}
#endif  // HWY_ONCE
