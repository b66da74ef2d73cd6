// The water pass of the overland sediment step, one source for every instruction set (Highway
// picks the best the processor runs at run time), and its scalar twin: eight cells at a time,
// neighbours loaded where a chunk's lie at one offset and gathered through the connectivity
// where they do not (the same values either way), the cells past hi left out, so every cell takes
// the same arithmetic wherever it falls. The logarithm and the exponential are the lane math's
// (lane_math-inl.h), the scalar pass's too, so every target and the scalar pass give the same
// bits. The overland sediment step calls the wide pass on each worker's share of cells.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "transport/sediment_lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// Then, once per target:
#include <hwy/highway.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "framework/core/lane_math-inl.h"
#include "transport/sediment_kernels.h"
#include "transport/sediment_lanes.h"

HWY_BEFORE_NAMESPACE();
namespace torva_sediment {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using namespace torva_lanes::HWY_NAMESPACE;

using D = hn::CappedTag<double, 8>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;
using DI = hn::RebindToSigned<D>;
using D32 = hn::Rebind<int32_t, D>;

// The values of `base` at the cells `index` names (0 for none reads element 0).
HWY_INLINE V gather(D d, const double* base, hn::Vec<DI> index) {
  return hn::GatherIndex(d, base, index);
}

HWY_INLINE hn::Vec<DI> load_index(const int* p, int count) {
  const D32 d32;
  const DI di;
  return hn::PromoteTo(di, LoadFirst(d32, p, count));
}

// Where the neighbours of a chunk's cells lie: cell c + lane + offset for every lane that has
// one (0 otherwise). On a grid numbered row by row the right and left neighbours always do, and
// within a run of whole rows the cells below and above too; then the neighbours' values come by
// one plain load instead of a gather. Returns the offset (nonzero) or 0 when the lanes' neighbours
// lie apart, or when a whole vector from the first neighbour would reach past the last cell n
// (then the gather reads what the connectivity names, whatever n the caller gave).
HWY_INLINE int fixed_offset(hn::Vec<DI> index, hn::Vec<DI> cells, int first, int c, int n) {
  const DI di;
  if (first == 0) return 0;
  const int offset = first - c;
  if (offset == 0) return 0;
  if (first > n - static_cast<int>(hn::Lanes(di)) + 1) return 0;
  const auto at = hn::Eq(index, hn::Add(cells, hn::Set(di, static_cast<int64_t>(offset))));
  if (!hn::AllTrue(di, hn::Or(at, hn::Eq(index, hn::Zero(di))))) return 0;
  return offset;
}

// The values of `base` at the neighbours `index` names: by one load from c + offset where they
// lie at a fixed offset (fixed_offset), else by a gather. Lanes without a neighbour read element
// 0 either way, as the gather does, so the two give the same bits; the load reads nothing past
// the last cell n.
HWY_INLINE V neighbours(D d, const double* base, hn::Vec<DI> index, int offset, int c, int n) {
  if (offset == 0) return gather(d, base, index);
  const DI di;
  const int start = c + offset;
  const V loaded = LoadFirst(d, base + start, n - start + 1);
  return hn::IfThenElse(hn::RebindMask(d, hn::Eq(index, hn::Zero(di))), hn::Set(d, base[0]),
                        loaded);
}

// ln(x) of the lanes with x > 0 and finite, subnormal x scaled into the normal range first: the
// logarithm the lane math's PowPositive takes, so exp(y ln x) of it is PowPositive(x, y) to the
// bit and two powers of one x take one logarithm.
HWY_INLINE V log_positive(D d, V x) {
  const M tiny = hn::Lt(x, hn::Set(d, 0x1p-1022));
  const V scaled = hn::IfThenElse(tiny, hn::Mul(x, hn::Set(d, 0x1p54)), x);
  const V shift_hi = hn::IfThenElseZero(tiny, hn::Set(d, 54.0 * 6.93147180369123816490e-01));
  const V shift_lo = hn::IfThenElseZero(tiny, hn::Set(d, 54.0 * 1.90821492927058770002e-10));
  return hn::Sub(hn::Sub(Log(d, scaled), shift_hi), shift_lo);
}

// ln(x) of the pass (sed_log_of_term).
HWY_INLINE V log_of_term(D d, V x) {
  const M tiny = hn::Lt(x, hn::Set(d, DBL_MIN));
  const V scaled = hn::IfThenElse(tiny, hn::Mul(x, hn::Set(d, 0x1p54)), x);
  const V shift_hi = hn::IfThenElseZero(tiny, hn::Set(d, 54.0 * 6.93147180369123816490e-01));
  const V shift_lo = hn::IfThenElseZero(tiny, hn::Set(d, 54.0 * 1.90821492927058770002e-10));
  V ln = hn::Sub(hn::Sub(Log(d, scaled), shift_hi), shift_lo);
  const V inf = hn::Set(d, std::numeric_limits<double>::infinity());
  ln = hn::IfThenElse(hn::Eq(x, hn::Zero(d)), hn::Neg(inf), ln);
  ln = hn::IfThenElse(hn::Eq(x, inf), inf, ln);
  return hn::IfThenElse(hn::Not(hn::Ge(x, hn::Zero(d))),
                        hn::Set(d, std::numeric_limits<double>::quiet_NaN()), ln);
}

// The water term of form 3 or 4 (sed_water_term).
HWY_INLINE V water_term(D d, int method, V slope, V h, V q) {
  const V v = hn::Div(q, h);
  if (method == 3) return hn::Mul(hn::Mul(v, slope), hn::Set(d, 100.0));
  return hn::Mul(hn::Mul(hn::Mul(hn::Set(d, 1000.0 * sed_unit_weight), h), slope), v);
}

// The splash volume of cells c..c + count - 1 under depth h (sed_splash_volume; 0 without rain).
HWY_INLINE V splash_volume(D d, const sed_water_view& v, int c, int count, V h) {
  const V zero = hn::Zero(d);
  const V one = hn::Set(d, 1.0);
  const V r = v.rain != nullptr ? LoadFirst(d, v.rain + c, count) : zero;
  const V given = v.splash_k != nullptr ? LoadFirst(d, v.splash_k + c, count) : zero;
  const V k = hn::IfThenElse(hn::Gt(given, zero), given, hn::Set(d, 60.0));
  // The coefficients of the rainfall class (sed_splash_coefficients), from the heaviest down.
  V a = hn::Set(d, 1.175e-7), b = hn::Set(d, 1.2821);
  const M below100 = hn::Lt(r, hn::Set(d, 100.0));
  a = hn::IfThenElse(below100, hn::Set(d, 6.12e-8), a);
  b = hn::IfThenElse(below100, hn::Set(d, 1.4242), b);
  const M below50 = hn::Lt(r, hn::Set(d, 50.0));
  a = hn::IfThenElse(below50, hn::Set(d, 3.75e-8), a);
  b = hn::IfThenElse(below50, hn::Set(d, 1.5545), b);
  const M below10 = hn::Lt(r, hn::Set(d, 10.0));
  a = hn::IfThenElse(below10, hn::Set(d, 2.69e-8), a);
  b = hn::IfThenElse(below10, hn::Set(d, 1.6896), b);
  // Both powers of the rain, r^0.182 and r^b, from one logarithm of it (PowPositive's bits).
  const M positive = hn::Gt(r, zero);
  const V ln_r = log_positive(d, r);
  const V drop = hn::Mul(hn::Set(d, 0.00124),
                         hn::IfThenElseZero(positive, Exp(d, hn::Mul(hn::Set(d, 0.182), ln_r))));
  const V damping = hn::IfThenElse(hn::Gt(h, drop), Exp(d, hn::Sub(one, hn::Div(h, drop))), one);
  const V dx = hn::Set(d, v.dx);
  const V r_b = hn::IfThenElseZero(positive, Exp(d, hn::Mul(b, ln_r)));
  V splash = hn::Mul(hn::Mul(hn::Mul(damping, k), a), r_b);
  splash = hn::Div(hn::Mul(hn::Mul(hn::Mul(splash, hn::Set(d, v.dt)), dx), dx),
                   hn::Set(d, sed_particle_density));
  return hn::IfThenElseZero(hn::Gt(r, hn::Set(d, sed_tiny)), splash);
}

void WaterPass(const sed_water_view& v, int lo, int hi) {
  const D d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const V zero = hn::Zero(d);
  const V tiny = hn::Set(d, sed_tiny);
  const V dx = hn::Set(d, v.dx);
  const V one = hn::Set(d, 1.0);
  const bool logs = v.method == 3 || v.method == 4;
  const V outlet = hn::Set(d, static_cast<double>(v.outlet));
  const int n = v.cell_count;
  for (int c = lo; c <= hi; c += lanes) {
    const int count = hi - c + 1;
    const V h = LoadFirst(d, v.depth + c, count);
    const V surface = hn::Add(h, LoadFirst(d, v.elev + c, count));
    const auto ri = load_index(v.right + c, count);
    const auto bi = load_index(v.below + c, count);
    const DI di;
    const auto cells = hn::Iota(di, static_cast<int64_t>(c));
    const int off_r = fixed_offset(ri, cells, v.right[c], c, n);
    const int off_b = fixed_offset(bi, cells, v.below[c], c, n);
    const M has_r = hn::RebindMask(d, hn::Ne(ri, hn::Zero(di)));
    const M has_b = hn::RebindMask(d, hn::Ne(bi, hn::Zero(di)));
    const V h_r = neighbours(d, v.depth, ri, off_r, c, n);
    const V h_b = neighbours(d, v.depth, bi, off_b, c, n);
    const V surface_r = hn::Add(h_r, neighbours(d, v.elev, ri, off_r, c, n));
    const V surface_b = hn::Add(h_b, neighbours(d, v.elev, bi, off_b, c, n));
    V sx = hn::IfThenElseZero(has_r, hn::Div(hn::Sub(surface, surface_r), dx));
    V sy = hn::IfThenElseZero(has_b, hn::Div(hn::Sub(surface, surface_b), dx));
    const M at_outlet = hn::Eq(hn::Iota(d, static_cast<double>(c)), outlet);
    const M edge_x = v.outlet_drains_y ? hn::FirstN(d, 0) : at_outlet;
    const M edge_y = v.outlet_drains_y ? at_outlet : hn::FirstN(d, 0);
    sx = hn::IfThenElse(edge_x, hn::Set(d, v.outlet_slope), sx);
    sy = hn::IfThenElse(edge_y, hn::Set(d, v.outlet_slope), sy);
    StoreFirst(d, sx, v.slope_x + c, count);
    StoreFirst(d, sy, v.slope_y + c, count);
    // The outflow: the squares of the discharges leaving through each of the four faces.
    const V fx = LoadFirst(d, v.flux_x + c, count);
    const V fy = LoadFirst(d, v.flux_y + c, count);
    const auto li = load_index(v.left + c, count);
    const auto ui = load_index(v.above + c, count);
    const V fl = neighbours(d, v.flux_x, li, fixed_offset(li, cells, v.left[c], c, n), c, n);
    const V fu = neighbours(d, v.flux_y, ui, fixed_offset(ui, cells, v.above[c], c, n), c, n);
    const M has_l = hn::RebindMask(d, hn::Ne(li, hn::Zero(di)));
    const M has_u = hn::RebindMask(d, hn::Ne(ui, hn::Zero(di)));
    const V neg_tiny = hn::Neg(tiny);
    V out2 = hn::Add(zero, hn::IfThenElseZero(hn::Gt(fx, tiny), hn::Mul(fx, fx)));
    out2 = hn::Add(out2, hn::IfThenElseZero(hn::And(has_l, hn::Lt(fl, neg_tiny)), hn::Mul(fl, fl)));
    out2 = hn::Add(out2, hn::IfThenElseZero(hn::Gt(fy, tiny), hn::Mul(fy, fy)));
    out2 = hn::Add(out2, hn::IfThenElseZero(hn::And(has_u, hn::Lt(fu, neg_tiny)), hn::Mul(fu, fu)));
    const V discharge = hn::Sqrt(out2);
    StoreFirst(d, discharge, v.cell_discharge + c, count);
    // The settled share of every class: 1 - exp(-dx w / (V h)) of flow velocity V.
    const M wet = hn::Gt(h, tiny);
    const V velocity = hn::IfThenElseZero(wet, hn::Div(discharge, hn::Mul(dx, h)));
    const M still = hn::Or(hn::Not(wet), hn::Not(hn::Gt(velocity, tiny)));
    const V vh = hn::Mul(velocity, h);
    for (int k = 1; k <= v.classes; ++k) {
      const V fall = hn::Set(d, -v.dx * v.settling_vel[k]);
      const V share = hn::Sub(one, Exp(d, hn::Div(fall, vh)));
      StoreFirst(d, hn::IfThenElse(still, one, share), v.settle_share[k] + c, count);
    }
    if (v.splash != nullptr) StoreFirst(d, splash_volume(d, v, c, count, h), v.splash + c, count);
    if (!logs) continue;
    const V slope = hn::Sqrt(hn::Add(hn::Mul(sx, sx), hn::Mul(sy, sy)));
    StoreFirst(d, log_of_term(d, water_term(d, v.method, slope, h, hn::Div(discharge, dx))),
               v.log_cell + c, count);
    // Each face from the cell the water leaves; over the outlet's edge the outlet's discharge.
    const V qx = hn::IfThenElse(edge_x, hn::Set(d, v.outlet_q), fx);
    const V qy = hn::IfThenElse(edge_y, hn::Set(d, v.outlet_q), fy);
    const V gx = hn::IfThenElse(hn::Ge(qx, zero), h, h_r);
    const V gy = hn::IfThenElse(hn::Ge(qy, zero), h, h_b);
    StoreFirst(d,
               log_of_term(d, water_term(d, v.method, hn::Abs(sx), gx, hn::Div(hn::Abs(qx), dx))),
               v.log_x + c, count);
    StoreFirst(d,
               log_of_term(d, water_term(d, v.method, hn::Abs(sy), gy, hn::Div(hn::Abs(qy), dx))),
               v.log_y + c, count);
  }
}

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace torva_sediment
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "framework/core/lane_math.h"
#include "transport/transport_records_state.h"

namespace torva_sediment {
HWY_EXPORT(WaterPass);
}  // namespace torva_sediment

void sed_water_pass_wide(const sed_water_view& v, int lo, int hi) {
  HWY_DYNAMIC_DISPATCH(torva_sediment::WaterPass)(v, lo, hi);
}

bool sed_water_pass_allocate(ov_sediment_obj& sed, int cells, int classes) {
  return sed.log_water_cell.allocate(cells) && sed.log_water_x.allocate(cells) &&
         sed.log_water_y.allocate(cells) && sed.settle_share.allocate(classes, cells) &&
         sed.splash_volume.allocate(cells);
}

void sed_splash_coefficients(double r_mmh, double& a, double& b) {
  if (r_mmh < 10.0) {
    a = 2.69e-8, b = 1.6896;
  } else if (r_mmh < 50.0) {
    a = 3.75e-8, b = 1.5545;
  } else if (r_mmh < 100.0) {
    a = 6.12e-8, b = 1.4242;
  } else {
    a = 1.175e-7, b = 1.2821;
  }
}

double sed_splash_volume(double r_mmh, double h, double dt, double dx, double splash_k, double a,
                         double b) {
  const double drop = 0.00124 * lane_pow_positive(r_mmh, 0.182);  // m
  const double damping = h > drop ? lane_exp(1.0 - h / drop) : 1.0;
  const double splash = damping * splash_k * a * lane_pow_positive(r_mmh, b);
  return splash * dt * dx * dx / sed_particle_density;
}

double sed_water_term(int method, double slope, double h, double q) {
  const double v = q / h;
  if (method == 3) return v * slope * 100.0;
  if (method == 4) return 1000.0 * sed_unit_weight * h * slope * v;
  return 0.0;
}

double sed_log_of_term(double x) {
  if (!(x >= 0.0)) return std::numeric_limits<double>::quiet_NaN();
  if (x == 0.0) return -std::numeric_limits<double>::infinity();
  if (x == std::numeric_limits<double>::infinity()) return x;
  if (x < DBL_MIN)
    return lane_log(x * 0x1p54) - 54.0 * 6.93147180369123816490e-01 -
           54.0 * 1.90821492927058770002e-10;
  return lane_log(x);
}

void sed_water_pass_scalar(const sed_water_view& v, int lo, int hi) {
  const bool logs = v.method == 3 || v.method == 4;
  for (int c = lo; c <= hi; ++c) {
    const double h = v.depth[c];
    const double surface = h + v.elev[c];
    const int r = v.right[c], b = v.below[c];
    double sx = r != 0 ? (surface - (v.depth[r] + v.elev[r])) / v.dx : 0.0;
    double sy = b != 0 ? (surface - (v.depth[b] + v.elev[b])) / v.dx : 0.0;
    const bool edge_x = c == v.outlet && v.outlet_drains_y == 0;
    const bool edge_y = c == v.outlet && v.outlet_drains_y != 0;
    if (edge_x) sx = v.outlet_slope;
    if (edge_y) sy = v.outlet_slope;
    v.slope_x[c] = sx;
    v.slope_y[c] = sy;
    const double fx = v.flux_x[c], fy = v.flux_y[c];
    const int l = v.left[c], u = v.above[c];
    double out2 = 0.0;
    if (fx > sed_tiny) out2 += fx * fx;
    if (l != 0 && v.flux_x[l] < -sed_tiny) out2 += v.flux_x[l] * v.flux_x[l];
    if (fy > sed_tiny) out2 += fy * fy;
    if (u != 0 && v.flux_y[u] < -sed_tiny) out2 += v.flux_y[u] * v.flux_y[u];
    const double discharge = std::sqrt(out2);
    v.cell_discharge[c] = discharge;
    const double velocity = h > sed_tiny ? discharge / (v.dx * h) : 0.0;
    const bool still = !(h > sed_tiny) || !(velocity > sed_tiny);
    for (int k = 1; k <= v.classes; ++k)
      v.settle_share[k][c] =
          still ? 1.0 : 1.0 - lane_exp(-v.dx * v.settling_vel[k] / (velocity * h));
    if (v.splash != nullptr) {
      const double r = v.rain != nullptr ? v.rain[c] : 0.0;
      const double given = v.splash_k != nullptr ? v.splash_k[c] : 0.0;
      double a, b;
      sed_splash_coefficients(r, a, b);
      v.splash[c] = r > sed_tiny
                        ? sed_splash_volume(r, h, v.dt, v.dx, given > 0.0 ? given : 60.0, a, b)
                        : 0.0;
    }
    if (!logs) continue;
    const double slope = std::sqrt(sx * sx + sy * sy);
    v.log_cell[c] = sed_log_of_term(sed_water_term(v.method, slope, h, discharge / v.dx));
    const double qx = edge_x ? v.outlet_q : fx, qy = edge_y ? v.outlet_q : fy;
    const double gx = qx >= 0.0 ? h : v.depth[r], gy = qy >= 0.0 ? h : v.depth[b];
    v.log_x[c] = sed_log_of_term(sed_water_term(v.method, std::fabs(sx), gx, std::fabs(qx) / v.dx));
    v.log_y[c] = sed_log_of_term(sed_water_term(v.method, std::fabs(sy), gy, std::fabs(qy) / v.dx));
  }
}
#endif  // HWY_ONCE
