// The vector kernels of the ADE scheme, one source for every instruction set (Highway picks the
// best the processor runs, at run time): the whole-grid face sweep on grids without lakes or
// wetlands and the row kernels of the sub-steps (the face sweep of one grid row with the depth
// update of its cells, or either alone), up to eight cells at a time, the cells past the range
// left out. Each lane takes the arithmetic of the scalar sweep and update in the same order,
// the face law's slope term and the hold to the surface share included, and the depth power
// d^(2/3) of the lane math, which the scalar sweep takes too: a cell's discharge, depth, change
// and volume are the same bits whatever the vector width, the row or the chunk it falls in.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "overland/ade_flux_lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// Then, once per target:
#include <hwy/highway.h>

#include "framework/core/lane_math-inl.h"
#include "overland/ade_flux.h"
#include "overland/face_law.h"

HWY_BEFORE_NAMESPACE();
namespace torva_ade {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using namespace torva_lanes::HWY_NAMESPACE;

using D = hn::CappedTag<double, 8>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;
using DI = hn::RebindToSigned<D>;  // 64-bit indices of gathers
using D32 = hn::Rebind<int32_t, D>;

M first_lanes(D d, int count) {
  return hn::FirstN(d, count > 0 ? static_cast<size_t>(count) : 0);
}

constexpr double shortest_sub = 0.001;  // s: below this any negative depth fails the sweep

// The neighbours j of the first `count` cells from c (0 in the lanes past them), and whether
// the lanes `m` all lie at one offset from their cells (then read in one load from a + offset).
struct chunk_neighbours {
  hn::Vec<DI> j;
  bool contiguous = false;
  int offset = 0;
  int count = 0;
};

HWY_INLINE hn::Vec<DI> indices(D d, const int* a, int c, int count) {
  (void)d;
  return hn::PromoteTo(DI(), LoadFirst(D32(), a + c, count));
}

HWY_INLINE chunk_neighbours neighbours_of(D d, const int* next, int c, int count, M m) {
  chunk_neighbours nb;
  nb.j = indices(d, next, c, count);
  if (hn::AllFalse(d, m)) return nb;
  const int first = static_cast<int>(hn::FindFirstTrue(d, m));
  nb.offset = next[c + first] - first;
  const DI di;
  const auto lane_numbers = hn::Iota(di, 0);
  const auto stray = hn::Ne(hn::Sub(nb.j, lane_numbers), hn::Set(di, nb.offset));
  nb.contiguous = hn::AllFalse(d, hn::And(hn::RebindMask(d, stray), m)) && nb.offset >= 0;
  // A contiguous read stops at the last lane of m: the lanes before it lie between neighbours,
  // those after it may lie past the array.
  if (hn::AllTrue(d, m)) {
    nb.count = static_cast<int>(hn::Lanes(d));
  } else {
    uint8_t bits[8] = {};
    hn::StoreMaskBits(d, m, bits);
    nb.count = 32 - __builtin_clz(static_cast<unsigned>(bits[0]));
  }
  return nb;
}

// Values of `a` at the neighbours of the lanes `m` (0 elsewhere). The lanes left out gather
// a[0], which every one-based array has.
HWY_INLINE V at(D d, const double* a, const chunk_neighbours& nb, M m) {
  if (nb.contiguous) {
    return hn::IfThenElseZero(m, LoadFirst(d, a + nb.offset, nb.count));
  }
  const DI di;
  const auto j = hn::IfThenElseZero(hn::RebindMask(di, m), nb.j);
  return hn::IfThenElseZero(m, hn::GatherIndex(d, a, j));
}

// The face discharges of the cells c .. c + count - 1 whose depths are h_c: the scalar sweep's
// arithmetic, lane by lane, the face law's slope term and the hold to the surface share over
// g.step included; `cut` gets ade_face_cut when the hold cut a water-surface difference above
// ov_cap_failing_difference.
HWY_INLINE V chunk_discharges(D d, const ade_grid_view& g, const int* next,
                              const unsigned char* open, const double* h, V h_c, int c, int count,
                              M m, int& cut) {
  const V zero = hn::Zero(d);
  const V one = hn::Set(d, 1.0);
  const hn::Rebind<uint8_t, D> d8;
  const hn::Rebind<uint32_t, D> d32;
  const hn::RebindToUnsigned<D> du;
  const auto flags = hn::PromoteTo(du, hn::PromoteTo(d32, LoadFirst(d8, open + c, count)));
  const M o = hn::And(m, hn::RebindMask(d, hn::Ne(flags, hn::Zero(du))));
  if (hn::AllFalse(d, o)) return zero;
  const chunk_neighbours nb = neighbours_of(d, next, c, count, o);
  const V hi = hn::IfThenElseZero(o, h_c);
  const V zi = hn::IfThenElseZero(o, LoadFirst(d, g.elev + c, count));
  const V hj = at(d, h, nb, o);
  const V zj = at(d, g.elev, nb, o);
  const V drop = hn::Sub(hn::Add(hi, zi), hn::Add(hj, zj));
  const V s = hn::Mul(drop, hn::Set(d, 1.0 / g.dx));
  // Sloping faces (NaN counts as sloping), and those falling from the cell itself; the others
  // take their upstream cell from the neighbour.
  const M sloping = hn::And(o, hn::Ne(s, zero));
  if (hn::AllFalse(d, sloping)) return zero;
  const M down = hn::And(sloping, hn::Gt(s, zero));
  const M from_j = hn::Xor(sloping, down);
  const V hu = hn::IfThenElse(down, hi, hj);
  // The upstream cell's retention and roughness, 0 on the faces that do not slope; a chunk whose
  // faces all fall the same way reads one side only.
  V ru, nu;
  if (hn::AllFalse(d, from_j)) {
    ru = hn::IfThenElseZero(down, LoadFirst(d, g.retention + c, count));
    nu = hn::IfThenElseZero(down, LoadFirst(d, g.roughness + c, count));
  } else if (hn::AllFalse(d, down)) {
    ru = at(d, g.retention, nb, from_j);
    nu = at(d, g.roughness, nb, from_j);
  } else {
    ru = hn::IfThenElse(down, LoadFirst(d, g.retention + c, count), at(d, g.retention, nb, from_j));
    nu = hn::IfThenElse(down, LoadFirst(d, g.roughness + c, count), at(d, g.roughness, nb, from_j));
  }
  const M flows = hn::And(sloping, hn::Lt(ru, hu));
  if (hn::AllFalse(d, flows)) return zero;
  const V depth = hn::IfThenElse(flows, hn::Sub(hu, ru), one);
  const V p = DepthPowTwoThirds(d, depth);
  const V sign_dx = hn::IfThenElse(down, hn::Set(d, g.dx), hn::Set(d, -g.dx));
  // The slope term |T(S)|: sqrt|S| at or above the threshold slope, |S| / sqrt(threshold) below.
  const V abs_s = hn::Abs(s);
  const M steep = hn::Ge(abs_s, hn::Set(d, ov_threshold_slope));
  const V term =
      hn::IfThenElse(steep, hn::Sqrt(abs_s), hn::Mul(abs_s, hn::Set(d, ov_linear_slope_factor)));
  V flow =
      hn::Div(hn::Mul(hn::Mul(hn::Mul(sign_dx, p), depth), term), hn::IfThenElse(flows, nu, one));
  if (g.step > 0.0) {
    // Held to the surface share of the difference over the step, the sign kept.
    const V k = hn::Set(d, ov_surface_share * (g.dx * g.dx) / g.step);
    const V abs_drop = hn::Abs(drop);
    const V limit = hn::Mul(abs_drop, k);
    const M over = hn::And(flows, hn::Gt(hn::Abs(flow), limit));
    if (!hn::AllFalse(d, over)) {
      flow = hn::IfThenElse(over, hn::CopySign(limit, flow), flow);
      if (!hn::AllFalse(d, hn::And(over, hn::Gt(abs_drop, hn::Set(d, ov_cap_failing_difference)))))
        cut |= ade_face_cut;
    }
  }
  return hn::IfThenElseZero(flows, flow);
}

// What the depth update of one sub-step of s seconds needs besides the chunk.
struct update_terms {
  V c, s, half, deep, overdraft;
  bool any_negative_fails, judge_changes;
  double* change;  // nullptr: the changes are not kept
  double* keep;    // nullptr: the depths before the update are not kept
  double* volume;
  bool volume_fresh;
  int drained;
  double drained_before;
};

update_terms terms_for(D d, double dx, double s, double* change, double* keep, double* volume,
                       bool volume_fresh, int drained, double drained_before) {
  update_terms t;
  t.c = hn::Set(d, s / (dx * dx));
  t.s = hn::Set(d, s);
  t.half = hn::Set(d, 0.5);
  t.deep = hn::Set(d, 0.01);
  t.overdraft = hn::Set(d, -1e-5);
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

// The scalar depth update (ade_substep_update) of the first `count` cells of the chunk at i,
// whose depths are h_i, own discharges q_i and inflows q_up; returns the result bits, and the
// chunk's new volumes in `volume`.
HWY_INLINE int update_chunk(D d, const update_terms& t, double* h, int i, int count, V h_i, V q_i,
                            V q_up, V& volume) {
  const V zero = hn::Zero(d);
  const M m = first_lanes(d, count);
  int result = ade_update_ok;
  const V delta = hn::Mul(hn::Sub(q_up, q_i), t.c);
  V depth = hn::Add(h_i, delta);
  const M below_zero = hn::And(m, hn::Lt(depth, zero));
  if (!hn::AllFalse(d, below_zero)) {
    const M fails =
        t.any_negative_fails ? below_zero : hn::And(below_zero, hn::Le(depth, t.overdraft));
    if (!hn::AllFalse(d, fails)) result |= ade_update_negative_depth;
    depth = hn::IfThenElse(hn::AndNot(fails, below_zero), zero, depth);
  }
  if (t.judge_changes) {
    V before = h_i;
    const int lanes = static_cast<int>(hn::Lanes(d));
    if (t.drained >= i && t.drained < i + lanes) {
      const DI di;
      const M lane = hn::RebindMask(d, hn::Eq(hn::Iota(di, 0), hn::Set(di, t.drained - i)));
      before = hn::IfThenElse(lane, hn::Set(d, t.drained_before), before);
    }
    const M large =
        hn::And(hn::AndNot(below_zero, m),
                hn::And(hn::Gt(hn::Abs(delta), hn::Mul(t.half, before)), hn::Gt(before, t.deep)));
    if (!hn::AllFalse(d, large)) result |= ade_update_large_change;
  }
  if (t.keep != nullptr) StoreFirst(d, h_i, t.keep + i, count);
  StoreFirst(d, depth, h + i, count);
  if (t.change != nullptr) StoreFirst(d, delta, t.change + i, count);
  const V moved = hn::Mul(t.s, q_i);
  const V old = t.volume_fresh ? zero : LoadFirst(d, t.volume + i, count);
  volume = hn::Add(old, moved);
  StoreFirst(d, volume, t.volume + i, count);
  return result;
}

// The lanes of the first `count` whose index in `up` is not 0.
HWY_INLINE M nonzero_lanes(D d, const int* up, int i, int count) {
  const DI di;
  return hn::And(first_lanes(d, count),
                 hn::RebindMask(d, hn::Ne(indices(d, up, i, count), hn::Zero(di))));
}

// The inflows q[up] of the first `count` cells of the chunk at i (0 where up is 0).
HWY_INLINE V inflows(D d, const double* q, const int* up, int i, int count) {
  const M has_up = nonzero_lanes(d, up, i, count);
  if (hn::AllFalse(d, has_up)) return hn::Zero(d);
  return at(d, q, neighbours_of(d, up, i, count, has_up), has_up);
}

}  // namespace

int PlainSweep(const ade_grid_view& g, const int* next, const unsigned char* open, const double* h,
               double* q, int lo, int hi) {
  const D d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  int cut = 0;
  for (int c = lo; c <= hi; c += lanes) {
    const int count = hi - c + 1;
    const M m = first_lanes(d, count);
    const V h_c = LoadFirst(d, h + c, count);
    StoreFirst(d, chunk_discharges(d, g, next, open, h, h_c, c, count, m, cut), q + c, count);
  }
  return cut;
}

int UpdateRange(int lo, int hi, double* h, double* change, double* keep, const double* q,
                const int* up, double dx, double s, double* volume, bool volume_fresh, int drained,
                double drained_before) {
  const D d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const update_terms t =
      terms_for(d, dx, s, change, keep, volume, volume_fresh, drained, drained_before);
  int result = ade_update_ok;
  for (int i = lo; i <= hi; i += lanes) {
    const int count = hi - i + 1;
    V volume;
    result |= update_chunk(d, t, h, i, count, LoadFirst(d, h + i, count),
                           LoadFirst(d, q + i, count), inflows(d, q, up, i, count), volume);
  }
  return result;
}

int RowStep(const ade_grid_view& g, bool x_faces, const int* next, const unsigned char* open,
            const int* up, double* h, double* q, bool update, double* change, double* keep,
            double* volume, bool volume_fresh, double s, int drained, double drained_before,
            double mean_dt, int lo, int hi) {
  const D d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const update_terms t =
      terms_for(d, g.dx, s, change, keep, volume, volume_fresh, drained, drained_before);
  int result = ade_update_ok;
  // Across: the discharge of the last cell of the chunk before, in every lane. The left
  // neighbours' discharges are moved up one lane in the register (lane k takes lane k - 1),
  // never read back from the row just stored: a load across two stores still in flight waits
  // for both.
  const DI di;
  const auto up_one = hn::IndicesFromVec(
      d, hn::And(hn::Sub(hn::Iota(di, 0), hn::Set(di, 1)), hn::Set(di, lanes - 1)));
  const auto last_lane = hn::IndicesFromVec(d, hn::Set(di, lanes - 1));
  const M first = first_lanes(d, 1);
  V carry = hn::Zero(d);
  for (int i = lo; i <= hi; i += lanes) {
    const int count = hi - i + 1;
    const M m = first_lanes(d, count);
    const V h_i = LoadFirst(d, h + i, count);
    const V flux = chunk_discharges(d, g, next, open, h, h_i, i, count, m, result);
    StoreFirst(d, flux, q + i, count);
    if (!update) continue;
    V q_up;
    if (x_faces) {
      // Across a row the inflow of a cell is its left neighbour's discharge: the chunk's own
      // moved up by one lane, the first lane taking the last of the chunk before.
      const M has_up = nonzero_lanes(d, up, i, count);
      const V shifted = hn::IfThenElse(first, carry, hn::TableLookupLanes(flux, up_one));
      q_up = hn::IfThenElseZero(has_up, shifted);
      carry = hn::TableLookupLanes(flux, last_lane);
    } else {
      q_up = inflows(d, q, up, i, count);
    }
    V moved;
    result |= update_chunk(d, t, h, i, count, h_i, flux, q_up, moved);
    // Across, no other row reads the discharges: the step's means can take their place.
    if (x_faces && mean_dt > 0.0) StoreFirst(d, hn::Div(moved, hn::Set(d, mean_dt)), q + i, count);
  }
  return result;
}

void MeanRange(int lo, int hi, double* q, const double* volume, double dt) {
  const D d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const V step = hn::Set(d, dt);
  for (int i = lo; i <= hi; i += lanes) {
    const int count = hi - i + 1;
    StoreFirst(d, hn::Div(LoadFirst(d, volume + i, count), step), q + i, count);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace torva_ade
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace torva_ade {
HWY_EXPORT(PlainSweep);
HWY_EXPORT(UpdateRange);
HWY_EXPORT(RowStep);
HWY_EXPORT(MeanRange);
}  // namespace torva_ade

int ade_plain_sweep_wide(const ade_grid_view& g, const int* next, const unsigned char* open,
                         const double* h, double* q, int lo, int hi) {
  return HWY_DYNAMIC_DISPATCH(torva_ade::PlainSweep)(g, next, open, h, q, lo, hi);
}

int ade_update_range_wide(int lo, int hi, double* h, double* change, double* keep, const double* q,
                          const int* up, double dx, double s, double* volume, bool volume_fresh,
                          int drained, double drained_before) {
  return HWY_DYNAMIC_DISPATCH(torva_ade::UpdateRange)(lo, hi, h, change, keep, q, up, dx, s, volume,
                                                      volume_fresh, drained, drained_before);
}

int ade_row_step_wide(const ade_grid_view& g, bool x_faces, const int* next,
                      const unsigned char* open, const int* up, double* h, double* q, bool update,
                      double* change, double* keep, double* volume, bool volume_fresh, double s,
                      int drained, double drained_before, double mean_dt, int lo, int hi) {
  return HWY_DYNAMIC_DISPATCH(torva_ade::RowStep)(g, x_faces, next, open, up, h, q, update, change,
                                                  keep, volume, volume_fresh, s, drained,
                                                  drained_before, mean_dt, lo, hi);
}

void ade_mean_range_wide(int lo, int hi, double* q, const double* volume, double dt) {
  HWY_DYNAMIC_DISPATCH(torva_ade::MeanRange)(lo, hi, q, volume, dt);
}
#endif  // HWY_ONCE
