// The vector kernels of a directional pass of the overland constituent transport, one source
// for every instruction set (Highway picks the best the processor runs, at run time): up to
// eight cells at a time, the cells past hi left out, every lane taking the scalar kernels'
// arithmetic in their order (no fused multiply-add), so every target gives their bits. The
// neighbours are read at a fixed offset when the eight of a chunk follow one another (a run of
// a grid's row), else gathered.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "transport/contaminants/contam_pass_lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// Then, once per target:
#include <hwy/highway.h>

#include "framework/core/lane_math-inl.h"
#include "transport/contaminants/contam_pass_lanes.h"

HWY_BEFORE_NAMESPACE();
namespace torva_contam {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using namespace torva_lanes::HWY_NAMESPACE;

using D = hn::CappedTag<double, 8>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;
using DI = hn::RebindToSigned<D>;
using VI = hn::Vec<DI>;
using D32 = hn::Rebind<int32_t, D>;

// The neighbours of a chunk of `count` cells from c: their indices (0 for none and past the
// chunk), which lanes have one, and, when every lane of the chunk has one and they follow one
// another, the first of them.
struct neighbours {
  VI j;
  M has;
  int first = 0;  // 0: gather
  int count = 0;
};

HWY_INLINE neighbours neighbours_of(D d, const int* index, int c, int count) {
  const DI di;
  const D32 d32;
  neighbours nb;
  nb.count = count;
  nb.j = hn::PromoteTo(di, LoadFirst(d32, index + c, count));
  nb.has = hn::RebindMask(d, hn::Ne(nb.j, hn::Zero(di)));
  const int j0 = index[c];
  if (j0 != 0) {
    const VI run = hn::Add(hn::Set(di, j0), hn::Iota(di, 0));
    const auto in_chunk = hn::FirstN(di, static_cast<size_t>(count));
    if (hn::AllTrue(di, hn::Or(hn::Not(in_chunk), hn::Eq(nb.j, run)))) nb.first = j0;
  }
  return nb;
}

// The values of `a` at the neighbours (a[0], which every one-based array has, where there is
// none; the caller masks those lanes).
HWY_INLINE V at(D d, const double* a, const neighbours& nb) {
  if (nb.first != 0) return LoadFirst(d, a + nb.first, nb.count);
  return hn::GatherIndex(d, a, nb.j);
}

// The flux through the cells' upstream faces from the concentrations on either side: the
// dispersion over the smaller of the two depth-weighted coefficients (none unless both cells
// are wet) plus the advection of the upwind concentration; none where a cell has no neighbour.
HWY_INLINE V face_flux(D d, const ov_constit_view& v, const ov_pass_arrays& p, const neighbours& nb,
                       int i, V ci, V cj) {
  const V tiny = hn::Set(d, 1e-16);
  const V zero = hn::Zero(d);
  const V hi_ = LoadFirst(d, v.depth + i, nb.count);
  const V hj = at(d, v.depth, nb);
  const V x = hn::Mul(hi_, LoadFirst(d, v.disp + i, nb.count));
  const V y = hn::Mul(hj, at(d, v.disp, nb));
  const V least = hn::IfThenElse(hn::Lt(y, x), y, x);
  const M wet = hn::And(hn::Gt(hi_, tiny), hn::Gt(hj, tiny));
  const V disp = hn::IfThenElseZero(wet, hn::Mul(least, hn::Sub(cj, ci)));
  const V q = at(d, p.q, nb);
  const V adv = hn::Mul(q, hn::IfThenElse(hn::Ge(q, zero), cj, ci));
  return hn::IfThenElseZero(nb.has, hn::Add(disp, adv));
}

void PassFaces(const ov_constit_view& v, const ov_pass_arrays& p, const double* c,
               const double* mean_with, double* face, int lo, int hi) {
  const D d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const V zero = hn::Zero(d);
  const V half = hn::Set(d, 0.5);
  for (int i = lo; i <= hi; i += lanes) {
    const int count = hi - i + 1;
    const neighbours nb = neighbours_of(d, p.up, i, count);
    if (hn::AllFalse(d, nb.has)) {
      V f = zero;
      if (mean_with != nullptr) f = hn::Mul(half, hn::Add(LoadFirst(d, mean_with + i, count), f));
      StoreFirst(d, f, face + i, count);
      continue;
    }
    V f = face_flux(d, v, p, nb, i, LoadFirst(d, c + i, count), at(d, c, nb));
    if (mean_with != nullptr) f = hn::Mul(half, hn::Add(LoadFirst(d, mean_with + i, count), f));
    StoreFirst(d, f, face + i, count);
  }
}

// The mass and concentration after the pass of the `count` cells from k, whose face fluxes
// (into each from its upstream neighbour) are `face`: the arithmetic of the scalar update.
struct updated {
  V mass, conc;
};

HWY_INLINE updated update_run(D d, const ov_constit_view& v, const ov_pass_arrays& p,
                              const double* face, int k, int count) {
  const V tiny = hn::Set(d, 1e-16);
  const V zero = hn::Zero(d);
  const neighbours nb = neighbours_of(d, p.down, k, count);
  const V out = hn::IfThenElseZero(nb.has, at(d, face, nb));
  const V in = LoadFirst(d, face + k, count);
  const V source = hn::Mul(hn::Set(d, 0.5), LoadFirst(d, v.source + k, count));
  const V m = hn::Add(LoadFirst(d, v.mass + k, count),
                      hn::Mul(hn::Set(d, v.dt), hn::Add(hn::Sub(in, out), source)));
  const V h = LoadFirst(d, v.depth + k, count);
  const M wet = hn::And(hn::Ge(h, tiny), hn::Ge(m, zero));
  // The division of the dry lanes is left to a divisor of 1, their result being 0 anyway.
  const V water = hn::IfThenElse(wet, hn::Mul(h, hn::Set(d, v.area)), hn::Set(d, 1.0));
  V cw = hn::IfThenElseZero(wet, hn::Div(m, water));
  if (v.held_conc != nullptr) {
    const V held = LoadFirst(d, v.held_conc + k, count);
    cw = hn::IfThenElse(hn::Ge(held, zero), held, cw);
  }
  return {m, cw};
}

bool PassUpdate(const ov_constit_view& v, const ov_pass_arrays& p, const double* face, double* mass,
                double* conc, int lo, int hi) {
  const D d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const V zero = hn::Zero(d);
  M negative = hn::FirstN(d, 0);
  for (int i = lo; i <= hi; i += lanes) {
    const int count = hi - i + 1;
    const updated u = update_run(d, v, p, face, i, count);
    const M in_range = hn::FirstN(d, static_cast<size_t>(count));
    negative = hn::Or(negative, hn::And(in_range, hn::Lt(u.mass, zero)));
    if (mass != nullptr) StoreFirst(d, u.mass, mass + i, count);
    StoreFirst(d, u.conc, conc + i, count);
  }
  return !hn::AllFalse(d, negative);
}

}  // namespace
// The exported kernels.
void PassFacesKernel(const ov_constit_view& v, const ov_pass_arrays& p, const double* c,
                     const double* mean_with, double* face, int lo, int hi) {
  PassFaces(v, p, c, mean_with, face, lo, hi);
}
bool PassUpdateKernel(const ov_constit_view& v, const ov_pass_arrays& p, const double* face,
                      double* mass, double* conc, int lo, int hi) {
  return PassUpdate(v, p, face, mass, conc, lo, hi);
}
}  // namespace HWY_NAMESPACE
}  // namespace torva_contam
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace torva_contam {
HWY_EXPORT(PassFacesKernel);
HWY_EXPORT(PassUpdateKernel);
}  // namespace torva_contam

void ov_pass_faces_wide(const ov_constit_view& v, const ov_pass_arrays& p, const double* c,
                        const double* mean_with, double* face, int lo, int hi) {
  HWY_DYNAMIC_DISPATCH(torva_contam::PassFacesKernel)(v, p, c, mean_with, face, lo, hi);
}

bool ov_pass_update_wide(const ov_constit_view& v, const ov_pass_arrays& p, const double* face,
                         double* mass, double* conc, int lo, int hi) {
  return HWY_DYNAMIC_DISPATCH(torva_contam::PassUpdateKernel)(v, p, face, mass, conc, lo, hi);
}
#endif  // HWY_ONCE
