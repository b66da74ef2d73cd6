// The vector kernels of the single-layer Green and Ampt scheme, one source for every instruction
// set (Highway picks the best the processor runs, at run time): the rain of the step, the
// implicit solve of the ponded cells, the infiltration and the booking of a group of
// neighbouring cells, up to eight cells to a vector. Each lane takes the scalar path's
// arithmetic in the same order: the Newton iterates of green_ampt_implicit_depth with the lane
// math's ln(1 + u) (which that function takes too), the same early end, and the scalar function
// itself for a cell that leaves the plain Newton path. So every target gives the scalar path's
// bits.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "subsurface/green_ampt_lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// Then, once per target:
#include <hwy/highway.h>

#include <cmath>

#include "framework/core/lane_math-inl.h"
#include "framework/core/units.h"
#include "subsurface/green_ampt_wide.h"
#include "subsurface/infiltration.h"

HWY_BEFORE_NAMESPACE();
namespace torva_green_ampt {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using namespace torva_lanes::HWY_NAMESPACE;

using D = hn::CappedTag<double, 8>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;

// The bits of chunk w (lanes of the vector width) of a group's 32-bit set of cells.
HWY_INLINE unsigned chunk_bits(D d, unsigned set, int w) {
  const int n = static_cast<int>(hn::Lanes(d));
  const unsigned all = n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1u;
  return set >> (n * w) & all;
}

HWY_INLINE M mask_of(D d, unsigned bits) {
  const uint8_t byte[8] = {static_cast<uint8_t>(bits)};
  return hn::LoadMaskBits(d, byte);
}

HWY_INLINE unsigned bits_of(D d, M m) {
  uint8_t byte[8] = {};
  hn::StoreMaskBits(d, m, byte);
  const unsigned n = static_cast<unsigned>(hn::Lanes(d));
  return byte[0] & ((1u << n) - 1u);
}

// Lanes up to the last one set (the others may lie past the arrays).
HWY_INLINE int reach(unsigned bits) {
  return bits == 0 ? 0 : 32 - __builtin_clz(bits);
}

// The lanes `m` of p (0 elsewhere), reading no lane past the last of m.
HWY_INLINE V load_lanes(D d, const double* p, unsigned bits) {
  return hn::IfThenElseZero(mask_of(d, bits), LoadFirst(d, p, reach(bits)));
}

// The residual G ln(1 + (x - F) / (G + F)) + supply - x + F, in the scalar solve's order.
HWY_INLINE V residual(D d, V G, V supply, V F, V gf, V x) {
  const V ln = Log1p(d, hn::Div(hn::Sub(x, F), gf));
  return hn::Add(hn::Sub(hn::Add(hn::Mul(G, ln), supply), x), F);
}

// green_ampt_step_lands lane by lane, in its order of operations.
HWY_INLINE M step_lands(D d, V G, V supply, V F, V x, V r, V next, V tolerance) {
  const V dd = hn::Sub(next, x);
  const V gm = hn::Add(G, hn::Min(x, next));
  V sum = hn::Add(G, hn::Abs(r));
  sum = hn::Add(sum, supply);
  sum = hn::Add(sum, hn::Abs(x));
  sum = hn::Add(sum, hn::Abs(next));
  sum = hn::Add(sum, hn::Abs(F));
  sum = hn::Add(sum, hn::Abs(dd));
  const V rounding = hn::Mul(hn::Set(d, 1e-14), sum);
  const V left = hn::Add(hn::Mul(hn::Mul(hn::Mul(hn::Set(d, 0.5), G), dd), dd),
                         hn::Mul(hn::Mul(hn::Mul(hn::Set(d, 2.0), rounding), gm), gm));
  const V right = hn::Mul(hn::Mul(hn::Mul(hn::Set(d, 0.5), tolerance), gm), gm);
  return hn::And(hn::Gt(gm, hn::Zero(d)), hn::Le(left, right));
}

}  // namespace

void Depths(const double* G_in, const double* K_in, const double* F_in, double dt, unsigned lanes,
            double first_step, double tolerance, double* depth) {
  const D d;
  const int n = static_cast<int>(hn::Lanes(d));
  const V zero = hn::Zero(d);
  const V tol = hn::Set(d, tolerance);
  const V infinity = hn::Set(d, HUGE_VAL);
  for (int w = 0; w * n < green_ampt_group_cells; ++w) {
    const unsigned want_bits = chunk_bits(d, lanes, w);
    if (want_bits == 0) continue;
    const int o = w * n;
    const M wanted = mask_of(d, want_bits);
    // Lanes not wanted hold G 1, K 0, F 0: finite arithmetic that nothing reads.
    const V G = hn::IfThenElse(wanted, load_lanes(d, G_in + o, want_bits), hn::Set(d, 1.0));
    const V K = load_lanes(d, K_in + o, want_bits);
    const V F = load_lanes(d, F_in + o, want_bits);
    const V supply = hn::Mul(K, hn::Set(d, dt));
    const V guess = hn::Add(F, hn::Set(d, first_step));
    // The plain Newton path from the first guess; other lanes take the scalar solve.
    const M plain = hn::And(wanted, hn::And(hn::And(hn::Gt(supply, zero), hn::Gt(G, zero)),
                                            hn::And(hn::Ge(F, zero), hn::Gt(guess, F))));
    M active = plain;
    M scalar = hn::AndNot(plain, wanted);
    const V gf = hn::Add(G, F);
    V x = guess;
    V r = residual(d, G, supply, F, gf, x);
    V result = zero;
    for (int it = 0; !hn::AllFalse(d, active) && it < green_ampt_newton_cap; ++it) {
      if (it > 0) {
        const M done = hn::And(active, hn::Le(hn::Abs(r), tol));
        result = hn::IfThenElse(done, x, result);
        active = hn::AndNot(done, active);
      }
      const V slope = hn::Sub(hn::Div(G, hn::Add(G, x)), hn::Set(d, 1.0));
      const V next = hn::Sub(x, hn::Div(r, slope));
      const M inside = hn::And(hn::And(active, hn::Lt(slope, zero)),
                               hn::And(hn::Lt(hn::Abs(next), infinity), hn::Gt(next, F)));
      scalar = hn::Or(scalar, hn::AndNot(inside, active));
      active = inside;
      // The residual at next is then surely within the tolerance: the scalar solve returns
      // next without taking it.
      const M lands = hn::And(active, step_lands(d, G, supply, F, x, r, next, tol));
      result = hn::IfThenElse(lands, next, result);
      active = hn::AndNot(lands, active);
      if (hn::AllFalse(d, active)) break;
      x = hn::IfThenElse(active, next, x);
      r = residual(d, G, supply, F, gf, x);
    }
    // Lanes still iterating at the cap end as the scalar solve ends them.
    scalar = hn::Or(scalar, active);
    hn::BlendedStore(result, wanted, d, depth + o);
    for (unsigned left = bits_of(d, scalar); left != 0; left &= left - 1) {
      const int k = o + __builtin_ctz(left);
      depth[k] =
          green_ampt_implicit_depth(G_in[k], K_in[k], dt, F_in[k], F_in[k] + first_step, tolerance);
    }
  }
}

namespace {

// The booking of the cells of a group in range as book_infiltration_block books them: lane l
// of lane_sums takes the increments times the area of the cells first + l, first + l + 8, ...
// in cell order.
void book_group(D d, const green_ampt_views& v, int first, unsigned in_range, double* lane_sums) {
  const int n = static_cast<int>(hn::Lanes(d));
  const V area = hn::Set(d, v.cell_area);
  const bool sac = !v.sac_inf_depth.empty();
  const bool longterm = !v.inf_depth_longterm.empty();
  for (int w = 0; w * n < green_ampt_group_cells; ++w) {
    const unsigned bits = chunk_bits(d, in_range, w);
    if (bits == 0) break;
    const M m = mask_of(d, bits);
    const int c = first + w * n;
    const int count = reach(bits);
    double* sums_at = lane_sums + (w * n) % infiltration_sum_lanes;
    const V sums = hn::LoadU(d, sums_at);
    const V cum = LoadFirst(d, v.inf_depth_cum.data() + c, count);
    const V inc = hn::Sub(cum, LoadFirst(d, v.inf_depth_prev.data() + c, count));
    hn::StoreU(hn::IfThenElse(m, hn::Add(sums, hn::Mul(inc, area)), sums), d, sums_at);
    double* total = v.inf_depth_total.data() + c;
    hn::BlendedStore(hn::Add(LoadFirst(d, total, count), inc), m, d, total);
    if (sac) {
      double* s = v.sac_inf_depth.data() + c;
      hn::BlendedStore(hn::Add(LoadFirst(d, s, count), inc), m, d, s);
    }
    if (longterm) {
      double* t = v.inf_depth_longterm.data() + c;
      hn::BlendedStore(hn::Add(LoadFirst(d, t, count), inc), m, d, t);
    }
    hn::BlendedStore(cum, m, d, v.inf_depth_prev.data() + c);
  }
}

// The rain of one step on the cells of a group in `cells`, as the rainfall step puts it on
// them: depth += rain_dt x p / 3.6e6 and the volume area x p x rain_dt / 3.6e6, in that order
// of operations, so that the depths and the sums are the rainfall step's to the last bit. The
// volume is added cell by cell in cell order, the intensities in their lanes.
void rain_onto_group(D d, const green_ampt_views& v, int first, unsigned cells,
                     green_ampt_rain_part& part) {
  const int n = static_cast<int>(hn::Lanes(d));
  const V dt = hn::Set(d, v.rain_dt);
  const V area = hn::Set(d, v.cell_area);
  const V per_hour = hn::Set(d, 3.6e6);
  double volume = part.volume;
  for (int w = 0; w * n < green_ampt_group_cells; ++w) {
    const unsigned bits = chunk_bits(d, cells, w);
    if (bits == 0) continue;
    const M m = mask_of(d, bits);
    const int c = first + w * n;
    const V p = load_lanes(d, v.rain_intensity.data() + c, bits);
    double* rate_at = part.rate + (w * n) % infiltration_sum_lanes;
    const V rate = hn::LoadU(d, rate_at);
    hn::StoreU(hn::IfThenElse(m, hn::Add(rate, p), rate), d, rate_at);
    HWY_ALIGN double cell_volume[8];
    hn::Store(hn::Div(hn::Mul(hn::Mul(area, p), dt), per_hour), d, cell_volume);
    for (unsigned left = bits; left != 0; left &= left - 1)
      volume += cell_volume[__builtin_ctz(left)];
    double* depth = v.ov_depth.data() + c;
    const V h = hn::Add(load_lanes(d, depth, bits), hn::Div(hn::Mul(dt, p), per_hour));
    hn::BlendedStore(h, m, d, depth);
    const unsigned bad = bits_of(d, hn::And(m, hn::Not(hn::Eq(h, h))));
    if (bad != 0 && part.rain_nan_cell == 0) part.rain_nan_cell = c + __builtin_ctz(bad);
  }
  part.volume = volume;
}

}  // namespace

void Group(const green_ampt_views& v, int first, int count, double* lane_sums,
           green_ampt_rain_part* rain) {
  const D d;
  const int n = static_cast<int>(hn::Lanes(d));
  const unsigned in_range = count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1u;
  unsigned lake = 0;
  if (v.lake_flag != 0 && !v.lake_cells.empty())
    for (int l = 0; l < count; ++l)
      if (v.lake_cells[first + l] > 0) lake |= 1u << l;
  unsigned cells = in_range & ~lake;
  const V zero = hn::Zero(d);
  const V least = hn::Set(d, 1e-16);
  unsigned ponded = 0;
  if (rain != nullptr) rain_onto_group(d, v, first, cells, *rain);
  // The rain falls on a cell whose table stands at the ground; the cell takes none of it, and
  // the depth it keeps is scanned as the overland step would.
  if (!v.exfil_cells.empty()) {
    for (int l = 0; l < count; ++l) {
      if (!(cells >> l & 1u) || v.exfil_cells[first + l] != 1) continue;
      cells &= ~(1u << l);
      if (rain == nullptr) continue;
      const double h = v.ov_depth[first + l];
      if (h > 1e-16) rain->any_depth = 1;
      if (std::isnan(h) && rain->nan_cell == 0) rain->nan_cell = first + l;
    }
  }
  for (int w = 0; w * n < green_ampt_group_cells; ++w) {
    const unsigned bits = chunk_bits(d, cells, w);
    if (bits == 0) continue;
    const M m = mask_of(d, bits);
    const int c = first + w * n;
    const V h = load_lanes(d, v.ov_depth.data() + c, bits);
    const M dry = hn::And(m, hn::Lt(h, least));
    hn::BlendedStore(zero, dry, d, v.inf_rate.data() + c);
    hn::BlendedStore(zero, dry, d, v.ov_depth.data() + c);
    ponded |= bits_of(d, hn::AndNot(dry, m)) << (w * n);
  }
  if (ponded == 0) {
    if (lane_sums != nullptr) book_group(d, v, first, in_range, lane_sums);
    return;
  }
  const V dt = hn::Set(d, v.dt);
  const V one = hn::Set(d, 1.0);
  const bool reduced = v.area_reduction != 0;
  // A cell whose depth is at most K dt (times its infiltrating fraction) gives all of it to the
  // soil whatever its solve returns: the rate K (G / Fn + 1) is never below K, with G and the
  // fraction never negative, and rounding keeps that order. Its solve is spared.
  unsigned solved = ponded;
  for (int w = 0; w * n < green_ampt_group_cells; ++w) {
    const unsigned bits = chunk_bits(d, ponded, w);
    if (bits == 0) continue;
    const M m = mask_of(d, bits);
    const int c = first + w * n;
    const V h = load_lanes(d, v.ov_depth.data() + c, bits);
    const V K = load_lanes(d, v.ks.data() + c, bits);
    const V G = load_lanes(d, v.G.data() + c, bits);
    V least_rate = K;
    M sure = hn::And(m, hn::And(hn::Ge(K, zero), hn::Ge(G, zero)));
    if (reduced) {
      const V a = hn::IfThenElse(m, load_lanes(d, v.area_reduction_cell.data() + c, bits), one);
      sure = hn::And(sure, hn::Ge(a, zero));
      least_rate = hn::Mul(least_rate, a);
    }
    sure = hn::And(sure, hn::Le(h, hn::Mul(least_rate, dt)));
    solved &= ~(bits_of(d, sure) << (w * n));
  }
  // Newton on the implicit equation, started 1 mm past F, to a residual of 1e-6 m.
  double depth[green_ampt_group_cells];
  if (solved != 0)
    Depths(v.G.data() + first, v.ks.data() + first, v.inf_depth_cum.data() + first, v.dt, solved,
           0.001, 1e-6, depth);
  for (int w = 0; w * n < green_ampt_group_cells; ++w) {
    const unsigned bits = chunk_bits(d, ponded, w);
    if (bits == 0) continue;
    const M m = mask_of(d, bits);
    const int c = first + w * n;
    const V h = load_lanes(d, v.ov_depth.data() + c, bits);
    const V K = load_lanes(d, v.ks.data() + c, bits);
    const V G = load_lanes(d, v.G.data() + c, bits);
    const V F = load_lanes(d, v.inf_depth_cum.data() + c, bits);
    // A cell spared its solve takes Fn 1: its rate is then at least K, as for any Fn.
    const unsigned with_solve = chunk_bits(d, solved, w);
    const V Fn =
        hn::IfThenElse(mask_of(d, with_solve), load_lanes(d, depth + w * n, with_solve), one);
    // The rate at the end of the step, K (G / Fn + 1), or K at no depth.
    V f = hn::IfThenElse(hn::Gt(Fn, least), hn::Mul(K, hn::Add(hn::Div(G, Fn), one)), K);
    if (reduced)
      f = hn::Mul(f, hn::IfThenElse(m, load_lanes(d, v.area_reduction_cell.data() + c, bits), one));
    // A rate that would take more than the surface holds takes all of it.
    const M all = hn::Ge(hn::Mul(f, dt), h);
    if (!hn::AllFalse(d, all)) f = hn::IfThenElse(all, hn::Div(h, dt), f);
    const V taken = hn::Mul(f, dt);
    const V left = hn::IfThenElse(all, zero, hn::Sub(h, taken));
    hn::BlendedStore(left, m, d, v.ov_depth.data() + c);
    hn::BlendedStore(hn::Add(F, taken), m, d, v.inf_depth_cum.data() + c);
    hn::BlendedStore(hn::Mul(f, hn::Set(d, cm_per_h_in_m_per_s)), m, d, v.inf_rate.data() + c);
    if (rain != nullptr) {
      if (!hn::AllFalse(d, hn::And(m, hn::Gt(left, least)))) rain->any_depth = 1;
      const unsigned bad = bits_of(d, hn::And(m, hn::Not(hn::Eq(left, left))));
      if (bad != 0 && rain->nan_cell == 0) rain->nan_cell = c + __builtin_ctz(bad);
    }
  }
  if (lane_sums != nullptr) book_group(d, v, first, in_range, lane_sums);
}

}  // namespace HWY_NAMESPACE
}  // namespace torva_green_ampt
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace torva_green_ampt {
HWY_EXPORT(Depths);
HWY_EXPORT(Group);
}  // namespace torva_green_ampt

void green_ampt_depths_wide(const double* G, const double* K, const double* F, double dt,
                            unsigned lanes, double first_step, double tolerance, double* depth) {
  HWY_DYNAMIC_DISPATCH(torva_green_ampt::Depths)(G, K, F, dt, lanes, first_step, tolerance, depth);
}

void green_ampt_group_wide(const green_ampt_views& v, int first, int count, double* lane_sums,
                           green_ampt_rain_part* rain) {
  HWY_DYNAMIC_DISPATCH(torva_green_ampt::Group)(v, first, count, lane_sums, rain);
}
#endif  // HWY_ONCE
