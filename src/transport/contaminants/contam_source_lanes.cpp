// The rain load, the infiltration mass and the net sources of the overland constituents, one
// source for every instruction set (Highway picks the best the processor runs, at run time): eight
// cells at a time, each lane taking the scalar kernel's arithmetic in its order (no fused
// multiply-add), the terms' sums then added lane by lane in cell order, so every target gives the
// scalar kernel's bits.
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
using DI = hn::RebindToSigned<D>;
using VI = hn::Vec<DI>;
using D32 = hn::Rebind<int32_t, D>;

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

// The rain load of the cells of a chunk not under a lake, then their infiltration mass; a chunk
// with a cell that has just dried takes the scalar kernel's cell by cell, so the dried mass is
// added in cell order.
double RainInfil(const ov_rain_infil_view& r, bool raining, int first, int last,
                 const double* block_water) {
  const D d;
  const DI di;
  const D32 d32;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const V tiny = hn::Set(d, 1e-16);
  if (raining) {
    const V per_second = hn::Set(d, 3.6e6);
    const V pc = hn::Set(d, r.pc);
    const V area = hn::Set(d, r.area);
    const V rain_dt = hn::Set(d, r.rain_dt);
    for (int i = first; i <= last; i += lanes) {
      const int count = last - i + 1;
      M open = hn::FirstN(d, static_cast<size_t>(count < lanes ? count : lanes));
      for (const int* flags : {r.lake_cell, r.olake_cell}) {
        if (flags == nullptr) continue;
        const VI f = hn::PromoteTo(di, LoadFirst(d32, flags + i, count));
        open = hn::AndNot(hn::RebindMask(d, hn::Gt(f, hn::Zero(di))), open);
      }
      const V rr = hn::Div(LoadFirst(d, r.rain + i, count), per_second);
      const V added = hn::Mul(hn::Mul(hn::Mul(rr, pc), area), rain_dt);
      const V m0 = LoadFirst(d, r.mass + i, count);
      const V m = hn::Add(m0, added);
      const V h = hn::Add(hn::Mul(rr, rain_dt), LoadFirst(d, r.prev + i, count));
      const M wet = hn::And(open, hn::Gt(h, tiny));
      const V c0 = LoadFirst(d, r.conc + i, count);
      // A dry lane divides by 1, its result left out.
      const V water = hn::IfThenElse(wet, hn::Mul(h, area), hn::Set(d, 1.0));
      StoreFirst(d, hn::IfThenElse(open, m, m0), r.mass + i, count);
      StoreFirst(d, hn::IfThenElse(wet, hn::Div(m, water), c0), r.conc + i, count);
      const V acc = LoadFirst(d, r.rain_acc + i, count);
      StoreFirst(d, hn::IfThenElse(open, hn::Add(acc, added), acc), r.rain_acc + i, count);
    }
  }
  double dried = 0.0;
  for (int i = first; i <= last; i += lanes) {
    const int count = last - i + 1;
    const V m = LoadFirst(d, r.mass + i, count);
    const V w = LoadFirst(d, block_water + (i - first), count);
    const M gone = hn::And(hn::And(hn::Gt(m, tiny), hn::Lt(LoadFirst(d, r.depth + i, count), tiny)),
                           hn::Gt(w, tiny));
    if (hn::AllFalse(d, gone)) {
      const V acc = LoadFirst(d, r.infil_acc + i, count);
      StoreFirst(d, hn::Add(acc, hn::Mul(LoadFirst(d, r.conc + i, count), w)), r.infil_acc + i,
                 count);
    } else {
      const int end = count < lanes ? last : i + lanes - 1;
      for (int cell = i; cell <= end; ++cell) {
        const double mc = r.mass[cell];
        const double wc = block_water[cell - first];
        if (mc > 1e-16 && r.depth[cell] < 1e-16 && wc > 1e-16) {
          dried += mc;
          if (r.soil) r.soil_infil[cell] += mc;
          r.mass[cell] = 0.0;
          r.conc[cell] = 0.0;
        } else {
          r.infil_acc[cell] += r.conc[cell] * wc;
        }
      }
    }
  }
  return dried;
}

}  // namespace
// The exported kernels.
double RainInfilKernel(const ov_rain_infil_view& r, bool raining, int first, int last,
                       const double* block_water) {
  return RainInfil(r, raining, first, last, block_water);
}
ov_source_applied SourcesKernel(const ov_source_view& v, int first, int last) {
  return Sources(v, first, last);
}
}  // namespace HWY_NAMESPACE
}  // namespace torva_contam_source
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace torva_contam_source {
HWY_EXPORT(SourcesKernel);
HWY_EXPORT(RainInfilKernel);
}  // namespace torva_contam_source

double ov_rain_infil_wide(const ov_rain_infil_view& r, bool raining, int first, int last,
                          const double* block_water) {
  return HWY_DYNAMIC_DISPATCH(torva_contam_source::RainInfilKernel)(r, raining, first, last,
                                                                    block_water);
}

ov_source_applied ov_sources_wide(const ov_source_view& v, int first, int last) {
  return HWY_DYNAMIC_DISPATCH(torva_contam_source::SourcesKernel)(v, first, last);
}

double ov_rain_infil_scalar(const ov_rain_infil_view& r, bool raining, int first, int last,
                            const double* block_water) {
  constexpr double tiny = 1e-16;
  // Local copies of the arrays, which do not overlap: the stores into the cells' values then
  // leave the pointers in registers.
  double* __restrict mass = r.mass;
  double* __restrict conc = r.conc;
  const double* __restrict water = block_water;
  const double* __restrict depth = r.depth;
  if (raining) {
    const int* lake_cell = r.lake_cell;
    const int* olake_cell = r.olake_cell;
    const double* __restrict rain = r.rain;
    const double* __restrict prev = r.prev;
    double* __restrict rain_acc = r.rain_acc;
    const double pc = r.pc;
    const double area = r.area;
    const double rain_dt = r.rain_dt;
    for (int cell = first; cell <= last; ++cell) {
      if (lake_cell != nullptr && lake_cell[cell] > 0) continue;
      if (olake_cell != nullptr && olake_cell[cell] > 0) continue;
      const double rr = rain[cell] / 3.6e6;
      const double added = rr * pc * area * rain_dt;
      const double m = mass[cell] + added;
      mass[cell] = m;
      const double h = rr * rain_dt + prev[cell];
      if (h > tiny) conc[cell] = m / (h * area);
      rain_acc[cell] += added;
    }
  }
  double* __restrict infil_acc = r.infil_acc;
  double* __restrict soil_infil = r.soil_infil;
  const bool soil = r.soil;
  double dried = 0.0;
  for (int cell = first; cell <= last; ++cell) {
    const double m = mass[cell];
    const double w = water[cell - first];
    if (m > tiny && depth[cell] < tiny && w > tiny) {
      dried += m;
      if (soil) soil_infil[cell] += m;
      mass[cell] = 0.0;
      conc[cell] = 0.0;
    } else {
      infil_acc[cell] += conc[cell] * w;
    }
  }
  return dried;
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
