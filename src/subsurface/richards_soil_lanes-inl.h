// The soil functions of the Richards columns written once for vectors of doubles of any width
// (Highway compiles them for every instruction set): the constants of a node's functions, its
// conductivity, capacity and content from its head, and its head from its content. The column
// kernels include this header, so that a node's functions are the same operations wherever they
// run, eight nodes of one column or the same node of eight columns to a vector.
//
// Include after hwy/highway.h from a file run through hwy/foreach_target.h: this header is
// compiled once per target.
#if defined(TORVA_RICHARDS_SOIL_LANES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef TORVA_RICHARDS_SOIL_LANES_INL_H_
#undef TORVA_RICHARDS_SOIL_LANES_INL_H_
#else
#define TORVA_RICHARDS_SOIL_LANES_INL_H_
#endif

#include <hwy/highway.h>

#include "framework/core/lane_math-inl.h"
#include "subsurface/richards_column.h"
#include "subsurface/richards_lanes.h"

HWY_BEFORE_NAMESPACE();
namespace torva_richards {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using namespace torva_lanes::HWY_NAMESPACE;

using D = hn::CappedTag<double, 8>;
using V = hn::Vec<D>;

// Lowest effective saturation the retention functions invert: drier contents take its head.
constexpr double min_saturation = 1.0e-6;

// The parameters of nodes, and the constants of their soil functions derived from them.
struct node_soil {
  V thetas, thetar, thehac, bchc, bp, lam, alpha, beta, ahav, bhav;
};
struct node_constants {
  V range, inv_range, inv_hb, a, inv_a, cm_dry, cm_wet, neg_lam, neg_inv_lam, k_wet, inv_alpha,
      inv_beta, cm_hav;
};

HWY_INLINE node_soil LoadSoil(D d, const richards_column_view& v, int model, int j, int count) {
  node_soil s;
  s.thetas = LoadFirst(d, v.thetas + j, count);
  s.thetar = LoadFirst(d, v.thetar + j, count);
  if (model == soil_model_havercamp) {
    s.alpha = LoadFirst(d, v.alpha + j, count);
    s.beta = LoadFirst(d, v.beta + j, count);
    s.ahav = LoadFirst(d, v.ahav + j, count);
    s.bhav = LoadFirst(d, v.bhav + j, count);
  } else {
    s.thehac = LoadFirst(d, v.thehac + j, count);
    s.bchc = LoadFirst(d, v.bchc + j, count);
    s.bp = LoadFirst(d, v.bp + j, count);
    s.lam = LoadFirst(d, v.lam + j, count);
  }
  return s;
}

// The constants of the soil functions of nodes with parameters s: Brooks-Corey's parabola scale
// a = sqrt(1 - Sec) / hc (the parabola's content is (1 - (a h)^2) of the range), the capacity
// factors -(lambda / hb) range and -2 range a^2, the exponents -lambda, -1/lambda and
// 3 + 2/lambda; Havercamp's 1/alpha, 1/beta and range beta / alpha.
HWY_INLINE node_constants Constants(D d, int model, const node_soil& s) {
  const V one = hn::Set(d, 1.0);
  node_constants k;
  k.range = hn::Sub(s.thetas, s.thetar);
  k.inv_range = hn::Div(one, k.range);
  if (model == soil_model_havercamp) {
    k.inv_alpha = hn::Div(one, s.alpha);
    k.inv_beta = hn::Div(one, s.beta);
    k.cm_hav = hn::Mul(hn::Mul(k.range, s.beta), k.inv_alpha);
  } else {
    k.inv_hb = hn::Div(one, s.bp);
    const V sec = hn::IfThenElse(hn::Gt(k.range, hn::Zero(d)),
                                 hn::Mul(hn::Sub(s.thehac, s.thetar), k.inv_range), one);
    k.a = hn::Div(hn::Sqrt(hn::Sub(one, sec)), s.bchc);
    k.inv_a = hn::Div(one, k.a);
    k.cm_dry = hn::Mul(hn::Neg(hn::Mul(s.lam, k.inv_hb)), k.range);
    k.cm_wet = hn::Mul(hn::Mul(hn::Set(d, -2.0), k.range), hn::Mul(k.a, k.a));
    k.neg_lam = hn::Neg(s.lam);
    k.neg_inv_lam = hn::Neg(hn::Div(one, s.lam));
    k.k_wet = hn::Add(hn::Set(d, 3.0), hn::Div(hn::Set(d, 2.0), s.lam));
  }
  return k;
}

HWY_INLINE node_constants LoadConstants(D d, const richards_soil_constants& c, int model, int j,
                                        int count) {
  node_constants k;
  k.range = LoadFirst(d, c.range + j, count);
  k.inv_range = LoadFirst(d, c.inv_range + j, count);
  if (model == soil_model_havercamp) {
    k.inv_alpha = LoadFirst(d, c.inv_alpha + j, count);
    k.inv_beta = LoadFirst(d, c.inv_beta + j, count);
    k.cm_hav = LoadFirst(d, c.cm_hav + j, count);
  } else {
    k.inv_hb = LoadFirst(d, c.inv_hb + j, count);
    k.a = LoadFirst(d, c.a + j, count);
    k.inv_a = LoadFirst(d, c.inv_a + j, count);
    k.cm_dry = LoadFirst(d, c.cm_dry + j, count);
    k.cm_wet = LoadFirst(d, c.cm_wet + j, count);
    k.neg_lam = LoadFirst(d, c.neg_lam + j, count);
    k.neg_inv_lam = LoadFirst(d, c.neg_inv_lam + j, count);
    k.k_wet = LoadFirst(d, c.k_wet + j, count);
  }
  return k;
}

HWY_INLINE void StoreConstants(D d, const node_constants& k, const richards_soil_constants& c,
                               int model, int j, int count) {
  StoreFirst(d, k.range, c.range + j, count);
  StoreFirst(d, k.inv_range, c.inv_range + j, count);
  if (model == soil_model_havercamp) {
    StoreFirst(d, k.inv_alpha, c.inv_alpha + j, count);
    StoreFirst(d, k.inv_beta, c.inv_beta + j, count);
    StoreFirst(d, k.cm_hav, c.cm_hav + j, count);
  } else {
    StoreFirst(d, k.inv_hb, c.inv_hb + j, count);
    StoreFirst(d, k.a, c.a + j, count);
    StoreFirst(d, k.inv_a, c.inv_a + j, count);
    StoreFirst(d, k.cm_dry, c.cm_dry + j, count);
    StoreFirst(d, k.cm_wet, c.cm_wet + j, count);
    StoreFirst(d, k.neg_lam, c.neg_lam + j, count);
    StoreFirst(d, k.neg_inv_lam, c.neg_inv_lam + j, count);
    StoreFirst(d, k.k_wet, c.k_wet + j, count);
  }
}

// (theta - thetar) / (thetas - thetar), 1 where the range is not positive.
HWY_INLINE V EffectiveSaturation(D d, const node_constants& k, V theta, V thetar) {
  return hn::IfThenElse(hn::Gt(k.range, hn::Zero(d)), hn::Mul(hn::Sub(theta, thetar), k.inv_range),
                        hn::Set(d, 1.0));
}

// The content the Brooks-Corey parabola's conductivity is taken from: the node's own where one is
// given (in the lanes `own` flags, when it is given), else the head's.
HWY_INLINE V Chosen(const V* theta, const hn::Mask<D>* own, V of_head) {
  if (theta == nullptr) return of_head;
  return own != nullptr ? hn::IfThenElse(*own, *theta, of_head) : *theta;
}

// What the soil functions of nodes at heads h give: content, relative conductivity, capacity.
struct node_state {
  V theta, kr, cm;
};

// The soil functions of nodes at heads h. Brooks-Corey: below the transition head one power
// s = (h/hb)^-lambda gives the content s range + thetar, the conductivity s^3 (hb/h)^2 =
// (h/hb)^-(3 lambda + 2) and the capacity -(lambda/hb) range s (hb/h) (the slope of the
// content); above it the parabola's content, Se^(3 + 2/lambda) of that content and the
// parabola's slope; saturated at h > 0 (content thetas at h >= 0). With `theta` given, the
// conductivity above the transition head is taken from it instead (the node's current
// content). Havercamp: the rational forms in |h| and |h| / alpha, saturated at h >= 0.
HWY_INLINE node_state Functions(D d, int model, const node_soil& s, const node_constants& k, V h,
                                const V* theta, const hn::Mask<D>* own = nullptr) {
  const V one = hn::Set(d, 1.0);
  const V zero = hn::Zero(d);
  node_state out;
  if (model == soil_model_havercamp) {
    const V a = hn::Abs(h);
    const V x = hn::Mul(a, k.inv_alpha);
    const V xb = PowPositive(d, x, s.beta);
    const V xb1 = hn::Add(xb, one);
    const auto saturated = hn::Ge(h, zero);
    out.theta = hn::IfThenElse(saturated, s.thetas, hn::Add(s.thetar, hn::Div(k.range, xb1)));
    const V kr = hn::Div(s.ahav, hn::Add(s.ahav, PowPositive(d, a, s.bhav)));
    const V cm = hn::Div(hn::Mul(hn::Div(xb, x), k.cm_hav), hn::Mul(xb1, xb1));
    out.kr = hn::IfThenElse(saturated, one, kr);
    out.cm = hn::IfThenElseZero(hn::Not(saturated), cm);
    return out;
  }
  const auto dry = hn::Le(h, s.bchc);
  const V p = hn::Mul(k.a, h);
  const V theta_wet = hn::Add(hn::Mul(hn::Sub(one, hn::Mul(p, p)), k.range), s.thetar);
  // The content the parabola's conductivity is taken from: the node's own, or the head's.
  const V theta_of_h = hn::IfThenElse(hn::Ge(h, zero), s.thetas, theta_wet);
  const V se = hn::Min(
      hn::Max(EffectiveSaturation(d, k, Chosen(theta, own, theta_of_h), s.thetar), zero), one);
  const V ratio = hn::Mul(h, k.inv_hb);
  const V base = hn::IfThenElse(dry, ratio, se);
  const V tiny = hn::Set(d, 0x1p-1022);
  const V ln = Log(d, hn::Max(base, tiny));
  const V e = Exp(d, hn::Mul(hn::IfThenElse(dry, k.neg_lam, k.k_wet), ln));
  // Dry side: e = s; a saturation below the least normal double gives 0 on the wet side.
  const V q = hn::Div(one, ratio);
  const V q2 = hn::Mul(q, q);
  const V kr_dry = hn::Mul(hn::Mul(hn::Mul(e, e), e), q2);
  const V kr_wet = hn::IfThenElseZero(hn::Ge(base, tiny), e);
  const V cm_dry = hn::Mul(k.cm_dry, hn::Mul(e, q));
  const V cm_wet = hn::Mul(k.cm_wet, h);
  const V theta_dry = hn::Add(hn::Mul(e, k.range), s.thetar);
  out.theta = hn::IfThenElse(dry, theta_dry, theta_of_h);
  const auto saturated = hn::Gt(h, zero);
  out.kr = hn::IfThenElse(saturated, one, hn::IfThenElse(dry, kr_dry, kr_wet));
  out.cm = hn::IfThenElseZero(hn::Not(saturated), hn::IfThenElse(dry, cm_dry, cm_wet));
  return out;
}

// Content at head h (saturated at h >= 0).
HWY_INLINE V ThetaOfHead(D d, int model, const node_soil& s, const node_constants& k, V h) {
  const V one = hn::Set(d, 1.0);
  if (model == soil_model_havercamp) {
    const V x = hn::Mul(hn::Abs(h), k.inv_alpha);
    const V theta = hn::Add(s.thetar, hn::Div(k.range, hn::Add(PowPositive(d, x, s.beta), one)));
    return hn::IfThenElse(hn::Ge(h, hn::Zero(d)), s.thetas, theta);
  }
  return Functions(d, model, s, k, h, nullptr).theta;
}

// Head at content theta (0 at or above saturation; contents at or below residual are taken
// just above it).
HWY_INLINE V HeadOfTheta(D d, int model, const node_soil& s, const node_constants& k, V theta) {
  const V one = hn::Set(d, 1.0);
  const V se_raw = EffectiveSaturation(d, k, theta, s.thetar);
  const V se = hn::Max(se_raw, hn::Set(d, min_saturation));
  V h;
  if (model == soil_model_havercamp) {
    const V x = hn::Div(hn::Sub(one, se), se);
    h = hn::Mul(hn::Neg(s.alpha), PowPositive(d, x, k.inv_beta));
  } else {
    const V wet = hn::Mul(hn::Sqrt(hn::Sub(one, se)), k.inv_a);
    const V dry = hn::Mul(s.bp, Exp(d, hn::Mul(k.neg_inv_lam, Log(d, se))));
    h = hn::IfThenElse(hn::Gt(theta, s.thehac), wet, dry);
  }
  return hn::IfThenElse(hn::Ge(se_raw, one), hn::Zero(d), h);
}

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace torva_richards
HWY_AFTER_NAMESPACE();

#endif  // include guard toggled per target
