// The net sources of the overland constituent transport step, one source for every instruction
// set (Highway picks the best the processor runs, at run time): eight cells at a time, each lane
// taking the scalar kernel's arithmetic in its order (no fused multiply-add), the terms' sums
// then added lane by lane in cell order, so every target gives the scalar kernel's bits.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "transport/contaminants/contam_source_lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// Then, once per target:
#include <hwy/highway.h>

#include "framework/core/lane_math-inl.h"
#include "transport/contaminants/contam_kernels.h"
#include "transport/contaminants/contam_source_lanes.h"

HWY_BEFORE_NAMESPACE();
namespace torva_contam_source {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using namespace torva_lanes::HWY_NAMESPACE;

using D = hn::CappedTag<double, 8>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;

// One gathered term of a chunk of cells, as apply_cell_term takes it in each: a term of at most
// 1e-16 g is skipped; else its share of the step goes to the mass with `sign`, unless that would
// take the mass below 0, when only the mass is taken and the accumulator emptied. Returns what
// each lane applied.
HWY_INLINE V apply_term(D d, V& m, V& acc, double dt, double elapsed, double sign) {
  const V zero = hn::Zero(d);
  const M skip = hn::Le(hn::Abs(acc), hn::Set(d, 1e-16));
  const V share =
      dt < elapsed - 0.5 ? hn::Div(hn::Mul(acc, hn::Set(d, dt)), hn::Set(d, elapsed)) : acc;
  const V s = hn::Set(d, sign);
  const V after = hn::Add(m, hn::Mul(s, share));
  const M empties = hn::AndNot(skip, hn::Lt(after, zero));
  const V applied =
      hn::IfThenElseZero(hn::Not(skip), hn::IfThenElse(empties, hn::Mul(s, hn::Neg(m)), share));
  acc = hn::IfThenElse(skip, acc, hn::IfThenElseZero(hn::Not(empties), hn::Sub(acc, share)));
  m = hn::IfThenElse(skip, m, hn::IfThenElseZero(hn::Not(empties), after));
  return applied;
}

ov_source_applied Sources(const ov_source_view& v, int first, int last) {
  const D d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  ov_source_applied part;
  HWY_ALIGN double precip[8] = {}, uptake[8] = {}, decay[8] = {}, infil[8] = {};
  const V dt = hn::Set(d, v.dt);
  for (int i = first; i <= last; i += lanes) {
    const int count = last - i + 1;
    const int k_end = count < lanes ? count : lanes;
    const V m0 = LoadFirst(d, v.mass + i, count);
    V m = m0;
    if (v.work_mass != nullptr) {
      StoreFirst(d, m0, v.work_mass + i, count);
      StoreFirst(d, LoadFirst(d, v.conc + i, count), v.work_conc + i, count);
    }
    hn::Store(LoadFirst(d, v.precip_acc + i, count), d, precip);
    StoreFirst(d, hn::Zero(d), v.precip_acc + i, count);
    if (v.exchange_terms) {
      V acc = LoadFirst(d, v.exchange_acc + i, count);
      const V u = apply_term(d, m, acc, v.dt, v.kinetics_elapsed, 1.0);
      StoreFirst(d, acc, v.exchange_acc + i, count);
      hn::Store(u, d, uptake);
      if (v.soil)
        StoreFirst(d, hn::Add(LoadFirst(d, v.soil_uptake + i, count), u), v.soil_uptake + i, count);
    }
    if (v.table_terms) {
      V acc = LoadFirst(d, v.decay_acc + i, count);
      hn::Store(apply_term(d, m, acc, v.dt, v.kinetics_elapsed, -1.0), d, decay);
      StoreFirst(d, acc, v.decay_acc + i, count);
    }
    V acc = LoadFirst(d, v.infil_acc + i, count);
    const V f = apply_term(d, m, acc, v.dt, v.infil_elapsed, -1.0);
    StoreFirst(d, acc, v.infil_acc + i, count);
    hn::Store(f, d, infil);
    if (v.soil)
      StoreFirst(d, hn::Add(LoadFirst(d, v.soil_infil + i, count), f), v.soil_infil + i, count);
    StoreFirst(d, hn::Div(hn::Sub(m, m0), dt), v.source + i, count);
    // The sums cell by cell, as the scalar kernel adds them.
    for (int k = 0; k < k_end; ++k) {
      part.precip += precip[k];
      if (v.exchange_terms) part.uptake += uptake[k];
      if (v.table_terms) part.decay += decay[k];
      part.infil += infil[k];
    }
  }
  return part;
}

}  // namespace
// The exported kernel.
ov_source_applied SourcesKernel(const ov_source_view& v, int first, int last) {
  return Sources(v, first, last);
}
}  // namespace HWY_NAMESPACE
}  // namespace torva_contam_source
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace torva_contam_source {
HWY_EXPORT(SourcesKernel);
}  // namespace torva_contam_source

ov_source_applied ov_sources_wide(const ov_source_view& v, int first, int last) {
  return HWY_DYNAMIC_DISPATCH(torva_contam_source::SourcesKernel)(v, first, last);
}

ov_source_applied ov_sources_scalar(const ov_source_view& v, int first, int last) {
  ov_source_applied part;
  for (int cell = first; cell <= last; ++cell) {
    const double m0 = v.mass[cell];
    double m = m0;
    if (v.work_mass != nullptr) {
      v.work_mass[cell] = m;
      v.work_conc[cell] = v.conc[cell];
    }
    // The rain load entered the mass when it fell: it is only booked.
    part.precip += v.precip_acc[cell];
    v.precip_acc[cell] = 0.0;
    if (v.exchange_terms) {
      const double u = apply_cell_term(m, v.exchange_acc[cell], v.dt, v.kinetics_elapsed, 1.0);
      part.uptake += u;
      if (v.soil) v.soil_uptake[cell] += u;
    }
    if (v.table_terms)
      part.decay += apply_cell_term(m, v.decay_acc[cell], v.dt, v.kinetics_elapsed, -1.0);
    const double f = apply_cell_term(m, v.infil_acc[cell], v.dt, v.infil_elapsed, -1.0);
    part.infil += f;
    if (v.soil) v.soil_infil[cell] += f;
    v.source[cell] = (m - m0) / v.dt;
  }
  return part;
}
#endif  // HWY_ONCE
