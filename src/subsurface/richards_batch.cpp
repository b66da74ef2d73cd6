// Richards soil columns side by side: richards_infiltration hands each thread's columns of one
// node count as a queue to richards_columns_step, which advances eight of them at once, node k
// of the eight columns in one vector, a lane taking the next column as soon as its own is done. The
// soil functions, the system of each Picard iteration and its tridiagonal solve run on the vectors,
// each lane doing the operations of the one-column step (richards_column.cpp) on its own column;
// the boundary switching and the sub-step control are the one-column step's, lane by lane. A lane
// that is not in a stage keeps its values (masked stores), so every column ends on the bits it
// would have alone, on every instruction set.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "subsurface/richards_batch.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// Then, once per target:
#include <hwy/highway.h>

#include <algorithm>
#include <cmath>

#include "framework/core/lane_math-inl.h"
#include "subsurface/richards_batch.h"
#include "subsurface/richards_column.h"
#include "subsurface/richards_soil_lanes-inl.h"

HWY_BEFORE_NAMESPACE();
namespace torva_richards {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

constexpr int lanes = richards_batch_lanes;

// The node arrays of the batch, element j * lanes + l for node j of lane l's column.
struct batch_arrays {
  // The column's state, copied in when a lane takes the column and out when it is done.
  double *phead, *theta, *khead, *watcap, *watflux, *source;
  // The nodes' parameters the vectors read (the lane reads its roots' wilting point and field
  // capacity from its column's own arrays).
  double *ks, *dz, *thetas, *thetar, *thehac, *bchc, *bp, *lam, *alpha, *beta, *ahav, *bhav;
  // The constants of the soil functions.
  double *range, *inv_range, *inv_hb, *a, *cm_dry, *cm_wet, *neg_lam, *k_wet, *inv_alpha, *cm_hav;
  // Reciprocals of the geometry (as the one-column step's).
  double *inv_dz, *inv_dz_below, *inv_dz_above, *inv_above;
  // Interface conductivities, the system, and the state at the start of the sub-step.
  double *kint, *upper, *diag, *lower, *rhs, *phead_start, *theta_start;
  // Brooks-Corey: the head and content of the last computation of a node's functions (no number
  // before the first), so that a node whose head and content are those bits keeps its values.
  double *key_head, *key_theta;
  // The constants the heads of contents take, node by node of each lane's column (element
  // l * (n + 1) + j), so that one lane's nodes fill the vectors of that pass.
  double *col_range, *col_inv_range, *col_inv_a, *col_neg_inv_lam, *col_inv_beta;
  // The same three of the heads' constants node by node across the lanes (as the others).
  double *inv_a, *neg_inv_lam, *inv_beta;

  batch_arrays(double* w, int n) {
    const std::size_t s = static_cast<std::size_t>(n + 1) * lanes;
    double** fields[] = {&phead,
                         &theta,
                         &khead,
                         &watcap,
                         &watflux,
                         &source,
                         &ks,
                         &dz,
                         &thetas,
                         &thetar,
                         &thehac,
                         &bchc,
                         &bp,
                         &lam,
                         &alpha,
                         &beta,
                         &ahav,
                         &bhav,
                         &range,
                         &inv_range,
                         &inv_hb,
                         &a,
                         &cm_dry,
                         &cm_wet,
                         &neg_lam,
                         &k_wet,
                         &inv_alpha,
                         &cm_hav,
                         &inv_dz,
                         &inv_dz_below,
                         &inv_dz_above,
                         &inv_above,
                         &kint,
                         &upper,
                         &diag,
                         &lower,
                         &rhs,
                         &phead_start,
                         &theta_start,
                         &key_head,
                         &key_theta,
                         &col_range,
                         &col_inv_range,
                         &col_inv_a,
                         &col_neg_inv_lam,
                         &col_inv_beta,
                         &inv_a,
                         &neg_inv_lam,
                         &inv_beta};
    static_assert(sizeof(fields) / sizeof(fields[0]) == richards_batch_arrays);
    for (double** f : fields) {
      *f = w;
      w += s;
    }
  }
};

inline std::size_t at(int j, int l) {
  return static_cast<std::size_t>(j) * lanes + l;
}

// Lanes whose flag is set (flags: one double per lane, 1 set, 0 not).
HWY_INLINE hn::Mask<D> LaneMask(D d, const double* flags) {
  return hn::Gt(hn::LoadU(d, flags), hn::Zero(d));
}

// Lanes where a and b have the same bits.
HWY_INLINE hn::Mask<D> SameBits(D d, V a, V b) {
  const hn::RebindToUnsigned<D> du;
  return hn::RebindMask(d, hn::Eq(hn::BitCast(du, a), hn::BitCast(du, b)));
}

HWY_INLINE void StoreMasked(D d, hn::Mask<D> m, V v, double* p) {
  hn::StoreU(hn::IfThenElse(m, v, hn::LoadU(d, p)), d, p);
}

HWY_INLINE node_soil LoadSoilAt(D d, const batch_arrays& b, int model, std::size_t i) {
  node_soil s;
  s.thetas = hn::LoadU(d, b.thetas + i);
  s.thetar = hn::LoadU(d, b.thetar + i);
  if (model == soil_model_havercamp) {
    s.alpha = hn::LoadU(d, b.alpha + i);
    s.beta = hn::LoadU(d, b.beta + i);
    s.ahav = hn::LoadU(d, b.ahav + i);
    s.bhav = hn::LoadU(d, b.bhav + i);
  } else {
    s.thehac = hn::LoadU(d, b.thehac + i);
    s.bchc = hn::LoadU(d, b.bchc + i);
    s.bp = hn::LoadU(d, b.bp + i);
    s.lam = hn::LoadU(d, b.lam + i);
  }
  return s;
}

HWY_INLINE node_constants LoadConstantsAt(D d, const batch_arrays& b, int model, std::size_t i) {
  node_constants k;
  k.range = hn::LoadU(d, b.range + i);
  k.inv_range = hn::LoadU(d, b.inv_range + i);
  if (model == soil_model_havercamp) {
    k.inv_alpha = hn::LoadU(d, b.inv_alpha + i);
    k.cm_hav = hn::LoadU(d, b.cm_hav + i);
  } else {
    k.inv_hb = hn::LoadU(d, b.inv_hb + i);
    k.a = hn::LoadU(d, b.a + i);
    k.cm_dry = hn::LoadU(d, b.cm_dry + i);
    k.cm_wet = hn::LoadU(d, b.cm_wet + i);
    k.neg_lam = hn::LoadU(d, b.neg_lam + i);
    k.k_wet = hn::LoadU(d, b.k_wet + i);
  }
  return k;
}

// The constants of nodes 0..n of the column v in lane l, made as richards_soil_constants_of
// makes them, eight nodes of the column to a vector (a lane takes its column alone, so the
// column's own nodes fill the vectors).
void ColumnConstants(D d, const batch_arrays& b, const richards_column_view& v, int model, int n,
                     int l) {
  const int width = static_cast<int>(hn::Lanes(d));
  HWY_ALIGN double buffer[hn::MaxLanes(D())];
  for (int j = 0; j <= n; j += width) {
    const int count = std::min(width, n - j + 1);
    const node_constants k = Constants(d, model, LoadSoil(d, v, model, j, count));
    const std::size_t own = static_cast<std::size_t>(l) * (n + 1) + j;
    StoreFirst(d, k.range, b.col_range + own, count);
    StoreFirst(d, k.inv_range, b.col_inv_range + own, count);
    if (model == soil_model_havercamp) {
      StoreFirst(d, k.inv_beta, b.col_inv_beta + own, count);
    } else {
      StoreFirst(d, k.inv_a, b.col_inv_a + own, count);
      StoreFirst(d, k.neg_inv_lam, b.col_neg_inv_lam + own, count);
    }
    const auto put = [&](V x, double* to) {
      hn::Store(x, d, buffer);
      for (int q = 0; q < count; ++q) to[at(j + q, l)] = buffer[q];
    };
    put(k.range, b.range);
    put(k.inv_range, b.inv_range);
    if (model == soil_model_havercamp) {
      put(k.inv_alpha, b.inv_alpha);
      put(k.inv_beta, b.inv_beta);
      put(k.cm_hav, b.cm_hav);
    } else {
      put(k.inv_hb, b.inv_hb);
      put(k.a, b.a);
      put(k.inv_a, b.inv_a);
      put(k.neg_inv_lam, b.neg_inv_lam);
      put(k.cm_dry, b.cm_dry);
      put(k.cm_wet, b.cm_wet);
      put(k.neg_lam, b.neg_lam);
      put(k.k_wet, b.k_wet);
      put(hn::NaN(d), b.key_head);
      put(hn::NaN(d), b.key_theta);
    }
  }
}

// The soil functions of nodes first..last of the flagged lanes, as richards_nodes updates them:
// 0 conductivity and capacity from heads and contents, 2 contents from heads (StartFunctions
// below gives the contents, conductivity and capacity of heads, Heads the heads of contents).
template <int what>
void Nodes(D d, const batch_arrays& b, int model, int first, int last, const double* flags) {
  const int width = static_cast<int>(hn::Lanes(d));
  for (int c = 0; c < lanes; c += width) {
    const auto m = LaneMask(d, flags + c);
    if (hn::AllFalse(d, m)) continue;
    // Where every flagged lane's node is saturated (head above 0; for heads, content at
    // saturation) the functions' saturated values are taken without evaluating them: the same
    // bits as the functions give there.
    const V zero = hn::Zero(d), one = hn::Set(d, 1.0);
    for (int j = first; j <= last; ++j) {
      const std::size_t i = at(j, c);
      const V h = hn::LoadU(d, b.phead + i);
      const V thetas = hn::LoadU(d, b.thetas + i);
      const bool wet = hn::AllFalse(d, hn::AndNot(hn::Gt(h, zero), m));
      if constexpr (what == 0) {
        const V theta = hn::LoadU(d, b.theta + i);
        const bool brooks = model != soil_model_havercamp;
        // Brooks-Corey lanes whose head and content are those of their last computation keep
        // its values (the functions depend on nothing else).
        if (brooks &&
            hn::AllFalse(d, hn::AndNot(hn::And(SameBits(d, h, hn::LoadU(d, b.key_head + i)),
                                               SameBits(d, theta, hn::LoadU(d, b.key_theta + i))),
                                       m)))
          continue;
        node_state f{thetas, one, zero};
        if (!wet)
          f = Functions(d, model, LoadSoilAt(d, b, model, i), LoadConstantsAt(d, b, model, i), h,
                        &theta);
        if (brooks) {
          StoreMasked(d, m, h, b.key_head + i);
          StoreMasked(d, m, theta, b.key_theta + i);
        }
        if (model == soil_model_havercamp)
          StoreMasked(d, m, hn::IfThenElse(hn::Ge(h, zero), thetas, theta), b.theta + i);
        StoreMasked(d, m, f.kr, b.khead + i);
        StoreMasked(d, m, f.cm, b.watcap + i);
      } else {
        StoreMasked(d, m,
                    wet ? thetas
                        : ThetaOfHead(d, model, LoadSoilAt(d, b, model, i),
                                      LoadConstantsAt(d, b, model, i), h),
                    b.theta + i);
      }
    }
  }
}

// The soil functions of nodes first..last at the start of a Picard iteration: in the lanes
// `fresh` flags (a solve begins) conductivity and capacity from heads and contents, as
// Nodes<0>; in those `owed` flags (the heads of the last iteration) contents, conductivity and
// capacity from heads, as richards_nodes' contents_and_functions. One evaluation serves both.
void StartFunctions(D d, const batch_arrays& b, int model, int first, int last, const double* fresh,
                    const double* owed) {
  const int width = static_cast<int>(hn::Lanes(d));
  const bool brooks = model != soil_model_havercamp;
  const V zero = hn::Zero(d), one = hn::Set(d, 1.0);
  for (int c = 0; c < lanes; c += width) {
    const auto m0 = LaneMask(d, fresh + c), m1 = LaneMask(d, owed + c);
    const auto m = hn::Or(m0, m1);
    if (hn::AllFalse(d, m)) continue;
    const bool none_owed = hn::AllFalse(d, m1);
    for (int j = first; j <= last; ++j) {
      const std::size_t i = at(j, c);
      const V h = hn::LoadU(d, b.phead + i);
      const V theta = hn::LoadU(d, b.theta + i);
      const V thetas = hn::LoadU(d, b.thetas + i);
      // Fresh Brooks-Corey lanes whose head and content are those of their last computation
      // keep its values.
      if (none_owed && brooks &&
          hn::AllFalse(d, hn::AndNot(hn::And(SameBits(d, h, hn::LoadU(d, b.key_head + i)),
                                             SameBits(d, theta, hn::LoadU(d, b.key_theta + i))),
                                     m0)))
        continue;
      node_state f{thetas, one, zero};
      if (!hn::AllFalse(d, hn::AndNot(hn::Gt(h, zero), m)))
        f = Functions(d, model, LoadSoilAt(d, b, model, i), LoadConstantsAt(d, b, model, i), h,
                      &theta, &m0);
      const V theta_out = hn::IfThenElse(
          m1, f.theta, brooks ? theta : hn::IfThenElse(hn::Ge(h, zero), thetas, theta));
      if (brooks) {
        StoreMasked(d, m, h, b.key_head + i);
        StoreMasked(d, m, theta_out, b.key_theta + i);
      }
      StoreMasked(d, m, theta_out, b.theta + i);
      StoreMasked(d, m, f.kr, b.khead + i);
      StoreMasked(d, m, f.cm, b.watcap + i);
    }
  }
}

enum class surface_mode { flux, head };

// What a lane carries through its column's step and its sub-step.
// Where a lane is in its column's sub-step: about to set the sub-step's surface up, in the
// Picard iterations of its first solve (under the boundary the surface asked for), or in those of
// the solve again under the ponded head.
enum class lane_phase { idle, start, first_solve, ponded_solve };

struct lane_state {
  int column = -1;            // the queue's number of the column, -1 when the lane idles
  richards_batch_column col;  // the column (its books those below)
  richards_books books;
  lane_phase phase = lane_phase::idle;
  bool fresh = false;  // the column was just taken: its soil constants are still to be made
  double remaining = 0.0, tau = 0.0, supply_rate = 0.0;
  surface_mode mode = surface_mode::flux;
  int iterations = 1, iteration = 0;
  double supply = 0.0, offered = 0.0, root_demand = 0.0, root_source_1 = 0.0;
  bool finite = true, limited = false;
  bool owed = false;  // the soil functions of the last Picard iteration's heads are still to come
  double largest = 0.0;  // the sub-step's largest content change
};

// Everything the stages of a batch share.
struct batch {
  const richards_column_queue& queue;
  int n;
  const richards_options& o;
  double dt_h;
  const batch_arrays& b;
  lane_state lane[lanes];
};

void Load(batch& t, int l) {
  const batch_arrays& b = t.b;
  const richards_column_view& v = t.lane[l].col.v;
  const int n = t.n;
  struct pair {
    double* to;
    const double* from;
  };
  // The state, and the parameters the lane's soil functions and system read as vectors (those
  // of the other soil model are never read).
  const bool havercamp = t.o.model == soil_model_havercamp;
  const pair copies[] = {{b.phead, v.phead},
                         {b.theta, v.theta},
                         {b.khead, v.khead},
                         {b.watcap, v.watcap},
                         {b.watflux, v.watflux},
                         {b.source, v.source},
                         {b.ks, v.ks},
                         {b.dz, v.dz},
                         {b.thetas, v.thetas},
                         {b.thetar, v.thetar},
                         {havercamp ? b.alpha : b.thehac, havercamp ? v.alpha : v.thehac},
                         {havercamp ? b.beta : b.bchc, havercamp ? v.beta : v.bchc},
                         {havercamp ? b.ahav : b.bp, havercamp ? v.ahav : v.bp},
                         {havercamp ? b.bhav : b.lam, havercamp ? v.bhav : v.lam}};
  for (const pair& p : copies)
    for (int j = 0; j <= n; ++j) p.to[at(j, l)] = p.from != nullptr ? p.from[j] : 0.0;
}

void Unload(batch& t, int l) {
  const batch_arrays& b = t.b;
  const richards_column_view& v = t.lane[l].col.v;
  struct pair {
    double* to;
    const double* from;
  };
  const pair copies[] = {{v.phead, b.phead},   {v.theta, b.theta},     {v.khead, b.khead},
                         {v.watcap, b.watcap}, {v.watflux, b.watflux}, {v.source, b.source}};
  for (const pair& p : copies)
    for (int j = 0; j <= t.n; ++j) p.to[j] = p.from[at(j, l)];
  t.queue.done(t.queue.context, t.lane[l].column, t.lane[l].books);
}

// Lane l takes the next column whose step has any time in it (one with none is done at once);
// it idles when the list is done.
void Take(batch& t, int l) {
  const batch_arrays& b = t.b;
  const int n = t.n;
  lane_state& s = t.lane[l];
  for (;;) {
    s = lane_state();
    if (!t.queue.next(t.queue.context, s.col, s.column)) break;
    // The column's books go on from what the queue gives (none: from zero) and back at the end.
    if (s.col.books != nullptr) s.books = *s.col.books;
    s.col.books = &s.books;
    const richards_batch_column& col = s.col;
    Load(t, l);
    // The reciprocals of the geometry, a vector of the column's nodes at a time (node n has
    // no node below it).
    const D d;
    const int width = static_cast<int>(hn::Lanes(d));
    const V one = hn::Set(d, 1.0), half = hn::Set(d, 0.5);
    HWY_ALIGN double out[4][hn::MaxLanes(D())];
    for (int j = 1; j <= n; j += width) {
      const int count = std::min(width, n - j + 1);
      const V dzj = LoadFirst(d, col.v.dz + j, count);
      const V dist = hn::Mul(half, hn::Add(dzj, LoadFirst(d, col.v.dz + j - 1, count)));
      const V dist_below =
          hn::Mul(half, hn::Add(dzj, LoadFirst(d, col.v.dz + j + 1, std::min(count, n - j))));
      hn::Store(hn::Div(one, dzj), d, out[0]);
      hn::Store(hn::Div(one, dist), d, out[1]);
      hn::Store(hn::Div(one, hn::Mul(dzj, dist)), d, out[2]);
      hn::Store(hn::Div(one, hn::Mul(dzj, dist_below)), d, out[3]);
      for (int q = 0; q < count; ++q) {
        b.inv_dz[at(j + q, l)] = out[0][q];
        b.inv_above[at(j + q, l)] = out[1][q];
        b.inv_dz_above[at(j + q, l)] = out[2][q];
        b.inv_dz_below[at(j + q, l)] = j + q < n ? out[3][q] : 0.0;
      }
    }
    double tau = std::min(*col.dtr, t.dt_h);
    if (tau > 0.001 && b.phead[at(1, l)] >= 0.0) tau = richards_saturated_start_step;
    if (!(tau >= richards_min_substep)) tau = richards_min_substep;
    s.tau = tau;
    s.supply_rate = std::max(*col.ov_depth, 0.0) * 100.0 / t.dt_h;
    s.remaining = t.dt_h;
    if (s.remaining > 1e-12) {
      s.phase = lane_phase::start;
      s.fresh = true;
      return;
    }
    Unload(t, l);
  }
  s = lane_state();
}

void RestoreStart(batch& t, int l) {
  const batch_arrays& b = t.b;
  for (int j = 1; j <= t.n; ++j) {
    b.phead[at(j, l)] = b.phead_start[at(j, l)];
    b.theta[at(j, l)] = b.theta_start[at(j, l)];
  }
}

void FaceFluxes(batch& t, int l) {
  const batch_arrays& b = t.b;
  for (int j = 1; j <= t.n; ++j) {
    const double k = b.kint[at(j, l)];
    b.watflux[at(j, l)] =
        k - k * (b.phead[at(j, l)] - b.phead[at(j - 1, l)]) * b.inv_above[at(j, l)];
  }
}

// The tridiagonal systems of rows 1..rows of every lane, solved into rhs as
// richards_tridiag_solve solves one: from both ends toward the middle row, then out from it.
void Solve(D d, const batch_arrays& b, int rows) {
  const int width = static_cast<int>(hn::Lanes(d));
  const int m = (rows + 1) / 2;
  const V one = hn::Set(d, 1.0);
  for (int c = 0; c < lanes; c += width) {
    auto U = [&](int j) { return hn::LoadU(d, b.upper + at(j, c)); };
    auto Lo = [&](int j) { return hn::LoadU(d, b.lower + at(j, c)); };
    double* diag = b.diag + c;
    double* rhs = b.rhs + c;
    V inv_top = hn::Zero(d), r_top = hn::Zero(d), inv_bottom = hn::Zero(d), r_bottom = hn::Zero(d);
    if (m > 1) {
      inv_top = hn::Div(one, hn::LoadU(d, diag + at(1, 0)));
      r_top = hn::LoadU(d, rhs + at(1, 0));
      hn::StoreU(inv_top, d, diag + at(1, 0));
    }
    if (m < rows) {
      inv_bottom = hn::Div(one, hn::LoadU(d, diag + at(rows, 0)));
      r_bottom = hn::LoadU(d, rhs + at(rows, 0));
      hn::StoreU(inv_bottom, d, diag + at(rows, 0));
    }
    for (int i = 2, k = rows - 1; i < m || k > m; ++i, --k) {
      if (i < m) {
        const V f = hn::Mul(Lo(i), inv_top);
        inv_top = hn::Div(one, hn::Sub(hn::LoadU(d, diag + at(i, 0)),
                                       hn::Mul(hn::Mul(Lo(i), U(i - 1)), inv_top)));
        r_top = hn::Sub(hn::LoadU(d, rhs + at(i, 0)), hn::Mul(f, r_top));
        hn::StoreU(inv_top, d, diag + at(i, 0));
        hn::StoreU(r_top, d, rhs + at(i, 0));
      }
      if (k > m) {
        const V f = hn::Mul(U(k), inv_bottom);
        inv_bottom = hn::Div(one, hn::Sub(hn::LoadU(d, diag + at(k, 0)),
                                          hn::Mul(hn::Mul(U(k), Lo(k + 1)), inv_bottom)));
        r_bottom = hn::Sub(hn::LoadU(d, rhs + at(k, 0)), hn::Mul(f, r_bottom));
        hn::StoreU(inv_bottom, d, diag + at(k, 0));
        hn::StoreU(r_bottom, d, rhs + at(k, 0));
      }
    }
    V pivot = hn::LoadU(d, diag + at(m, 0)), r = hn::LoadU(d, rhs + at(m, 0));
    if (m > 1) {
      pivot = hn::Sub(pivot, hn::Mul(hn::Mul(Lo(m), U(m - 1)), inv_top));
      r = hn::Sub(r, hn::Mul(hn::Mul(Lo(m), inv_top), r_top));
    }
    if (m < rows) {
      pivot = hn::Sub(pivot, hn::Mul(hn::Mul(U(m), Lo(m + 1)), inv_bottom));
      r = hn::Sub(r, hn::Mul(hn::Mul(U(m), inv_bottom), r_bottom));
    }
    const V x_middle = hn::Div(r, pivot);
    hn::StoreU(x_middle, d, rhs + at(m, 0));
    V x_up = x_middle, x_down = x_middle;
    for (int i = m - 1, k = m + 1; i >= 1 || k <= rows; --i, ++k) {
      if (i >= 1) {
        x_up = hn::Mul(hn::Sub(hn::LoadU(d, rhs + at(i, 0)), hn::Mul(U(i), x_up)),
                       hn::LoadU(d, diag + at(i, 0)));
        hn::StoreU(x_up, d, rhs + at(i, 0));
      }
      if (k <= rows) {
        x_down = hn::Mul(hn::Sub(hn::LoadU(d, rhs + at(k, 0)), hn::Mul(Lo(k), x_down)),
                         hn::LoadU(d, diag + at(k, 0)));
        hn::StoreU(x_down, d, rhs + at(k, 0));
      }
    }
  }
}

// The node-0 copies of node 1's conductivity and capacity on the flagged lanes.
void TopCopies(const batch_arrays& b, const double* flags) {
  for (int l = 0; l < lanes; ++l)
    if (flags[l] > 0.0) {
      b.khead[at(0, l)] = b.khead[at(1, l)];
      b.watcap[at(0, l)] = b.watcap[at(1, l)];
    }
}

// The sub-step's surface of lane l: what the surface offers, the boundary, the roots' sink; the
// lane then starts the Picard iterations of its first solve.
void StartSubstep(batch& t, int l, int flux_iterations) {
  const batch_arrays& b = t.b;
  const int n = t.n;
  lane_state& s = t.lane[l];
  const richards_batch_column& col = s.col;
  richards_books& books = *col.books;
  if (s.tau >= s.remaining || s.remaining - s.tau < 1e-8) s.tau = s.remaining;
  const double tau = s.tau;
  for (int j = 0; j <= n; ++j) {
    b.phead_start[at(j, l)] = b.phead[at(j, l)];
    b.theta_start[at(j, l)] = b.theta[at(j, l)];
    b.source[at(j, l)] = 0.0;
  }
  b.phead[at(0, l)] = 0.0;
  b.theta[at(0, l)] = b.theta[at(1, l)];
  const double water = *col.ov_depth * 100.0;
  const double et_wanted = col.demand.surface_et * tau;
  const double et_surface = std::min(et_wanted, std::max(water, 0.0));
  s.supply = water - et_surface;
  const bool last = s.remaining - tau <= 1e-12;
  s.offered = last ? s.supply : std::min(s.supply, s.supply_rate * tau);
  books.et_surface += et_surface;
  s.root_demand = std::min(et_wanted - et_surface, col.demand.soil_et * tau);
  s.mode = surface_mode::flux;
  s.root_source_1 = 0.0;
  s.limited = false;
  const double dz0 = b.dz[at(0, l)];
  int& bound_type = *col.bound_type;
  if (bound_type == 3) {
    s.mode = surface_mode::head;
    b.phead[at(0, l)] = -0.5 * dz0;
  } else if (bound_type == 2 && s.supply > 1e-10) {
    s.mode = surface_mode::head;
    b.phead[at(0, l)] = s.supply - 0.5 * dz0;
  } else if (bound_type == 2 && b.phead[at(1, l)] >= 0.0) {
    s.mode = surface_mode::head;
    b.phead[at(0, l)] = -0.5 * dz0;
  } else {
    bound_type = 1;
    const richards_demand& demand = col.demand;
    if (s.root_demand > 0.0 && demand.root_depth > 0.0) {
      // The root zone gives the demand from its nodes by depth, less where it is dry.
      double left = demand.root_depth;
      for (int j = 1; j <= n - 1 && left > 1e-16; ++j) {
        const double dzj = b.dz[at(j, l)];
        const double part = std::min(left, dzj) / dzj;
        left -= dzj;
        const double theta = b.theta[at(j, l)];
        const double wp = col.v.thetawp[j], fc = col.v.thetafc[j];
        double stress = 1.0;
        if (theta <= wp)
          stress = 0.0;
        else if (theta < fc)
          stress = (theta - wp) / (fc - wp);
        b.source[at(j, l)] -= s.root_demand / (demand.root_depth * tau) * part * stress;
      }
    }
    s.root_source_1 = b.source[at(1, l)];
    if (s.offered > 0.0) b.source[at(1, l)] += s.offered / tau / b.dz[at(1, l)];
  }
  s.phase = lane_phase::first_solve;
  s.iterations = s.mode == surface_mode::flux ? flux_iterations : 5;
  s.iteration = 0;
  s.finite = true;
  s.owed = false;
}

// The flux-boundary check of lane l after its first solve: the soil takes the whole supply
// while its capacity, the flux under a zero head at the surface, is not smaller; else the
// surface ponds and the sub-step is solved again under the ponded head. True when the lane's
// solves are done.
bool AcceptFlux(batch& t, int l) {
  const batch_arrays& b = t.b;
  const richards_options& o = t.o;
  lane_state& s = t.lane[l];
  const double kh1 = b.khead[at(1, l)];
  const double k1 = o.k_option == 1 ? o.weight + (1.0 - o.weight) * kh1 : std::sqrt(kh1);
  const double capacity =
      k1 * b.ks[at(1, l)] * (1.0 - b.phead[at(1, l)] / (0.5 * (b.dz[at(0, l)] + b.dz[at(1, l)])));
  const double wanted = s.offered > 0.0 ? s.offered / s.tau : 0.0;
  if (s.finite && (wanted <= 0.0 || wanted <= capacity)) {
    b.source[at(1, l)] = s.root_source_1;
    FaceFluxes(t, l);
    b.watflux[at(1, l)] = wanted;
    return true;
  }
  RestoreStart(t, l);
  for (int j = 1; j <= t.n; ++j) b.source[at(j, l)] = 0.0;
  s.root_demand = 0.0;
  *s.col.bound_type = 2;
  s.mode = surface_mode::head;
  b.phead[at(0, l)] = s.supply - 0.5 * b.dz[at(0, l)];
  s.phase = lane_phase::ponded_solve;
  s.iterations = 5;
  s.iteration = 0;
  s.finite = true;
  s.owed = false;
  return false;
}

// Contents of lane l from its fluxes, so that the column keeps every drop; water above
// saturation goes on down into the node below. False when a number was bad: the column then
// keeps its start-of-sub-step state and its step ends there.
bool Contents(batch& t, int l) {
  const batch_arrays& b = t.b;
  const int n = t.n;
  lane_state& s = t.lane[l];
  richards_books& books = *s.col.books;
  const double tau = s.tau;
  if (s.mode == surface_mode::head) {
    FaceFluxes(t, l);
    double& top_flux = b.watflux[at(1, l)];
    if (top_flux > 0.0 && top_flux * tau > s.supply) {
      top_flux = std::max(s.supply / tau, 0.0);
      s.limited = true;
    }
  }
  if (!s.finite) books.bad_number = true;
  double largest = 0.0, sink = 0.0;
  for (int j = 1; j <= n - 1; ++j) {
    sink += b.source[at(j, l)] * b.dz[at(j, l)] * tau;
    b.theta[at(j, l)] =
        b.theta_start[at(j, l)] +
        ((b.watflux[at(j, l)] - b.watflux[at(j + 1, l)]) / b.dz[at(j, l)] + b.source[at(j, l)]) *
            tau;
  }
  for (int j = 1; j <= n - 1; ++j) {
    double& theta = b.theta[at(j, l)];
    if (theta > b.thetas[at(j, l)]) {
      const double excess = (theta - b.thetas[at(j, l)]) * b.dz[at(j, l)];
      theta = b.thetas[at(j, l)];
      b.watflux[at(j + 1, l)] += excess / tau;
      if (j + 1 <= n - 1) b.theta[at(j + 1, l)] += excess / b.dz[at(j + 1, l)];
    }
    if (!std::isfinite(theta) || !std::isfinite(b.watflux[at(j, l)])) books.bad_number = true;
    largest = std::max(largest, std::fabs(theta - b.theta_start[at(j, l)]));
  }
  if (books.bad_number) {
    RestoreStart(t, l);
    return false;
  }
  books.et_soil -= sink;
  s.largest = largest;
  return true;
}

// The end of lane l's sub-step once its heads follow its contents: the next sub-step, the
// surface and the books. True when the column has reached the step's end.
bool EndSubstep(batch& t, int l) {
  const batch_arrays& b = t.b;
  const richards_options& o = t.o;
  const int n = t.n;
  lane_state& s = t.lane[l];
  const richards_batch_column& col = s.col;
  richards_books& books = *col.books;
  const double tau = s.tau;
  if (!o.water_table) {
    b.phead[at(n, l)] = b.phead[at(n - 1, l)];
    b.theta[at(n, l)] = b.theta[at(n - 1, l)];
  }
  const double largest = std::max(s.largest, 0.0001);
  double next = tau * o.dtheta_max / largest;
  if (s.limited) next = std::min(next, richards_saturated_step_cap);
  const double inflow = b.watflux[at(1, l)];
  books.rate = inflow;
  books.infiltrated += inflow * tau;
  books.drained += b.watflux[at(n, l)] * tau;
  int& bound_type = *col.bound_type;
  if (s.mode == surface_mode::flux) {
    *col.ov_depth = std::max(s.supply - inflow * tau, 0.0) / 100.0;
  } else {
    const double left = (s.supply - inflow * tau) / 100.0;
    if (left > 1e-16) {
      *col.ov_depth = left;
      if (inflow > 0.0) next = std::min(next, left * 100.0 / inflow);
    } else {
      *col.ov_depth = 0.0;
      if (bound_type == 2 && b.theta[at(1, l)] >= b.thetas[at(1, l)]) {
        bound_type = 3;
        next = std::min(next, richards_saturated_step_cap);
      } else {
        bound_type = 1;
      }
    }
  }
  s.remaining -= tau;
  books.substeps += 1;
  *col.dtr = std::max(next, richards_min_substep);
  s.tau = std::min(*col.dtr, t.dt_h);
  s.phase = lane_phase::start;
  return !(s.remaining > 1e-12);
}

// One Picard iteration of every lane in a solve, each lane as the one-column step's
// picard_solve makes it: soil functions of the current heads, the system of rows 1..n-1 under
// the lane's surface mode, its solve, and the new heads; `settled` flags the lanes whose
// iterations end with it (heads settled within 0.1 %, a bad number, or the last iteration).
void PicardIteration(D d, batch& t, const double* active, double* settled) {
  const batch_arrays& b = t.b;
  const richards_options& o = t.o;
  const int n = t.n, rows = n - 1;
  const int width = static_cast<int>(hn::Lanes(d));
  double fresh[lanes], owed[lanes], both[lanes], again[lanes], top[lanes], inv_taus[lanes];
  for (int l = 0; l < lanes; ++l) {
    const lane_state& s = t.lane[l];
    fresh[l] = active[l] > 0.0 && !s.owed ? 1.0 : 0.0;
    owed[l] = active[l] > 0.0 && s.owed ? 1.0 : 0.0;
    both[l] = active[l];
    inv_taus[l] = active[l] > 0.0 ? 1.0 / s.tau : 1.0;
  }
  // The soil functions of the heads: of a solve's first iteration from the sub-step's heads and
  // contents, of the next ones with the contents of the last iteration's heads (free drainage:
  // the bottom node's head and content those of the node above it).
  StartFunctions(d, b, o.model, 1, rows, fresh, owed);
  if (!o.water_table) {
    for (int l = 0; l < lanes; ++l) {
      if (!(owed[l] > 0.0)) continue;
      b.phead[at(n, l)] = b.phead[at(n - 1, l)];
      b.theta[at(n, l)] = b.theta[at(n - 1, l)];
    }
  }
  Nodes<0>(d, b, o.model, n, n, both);
  TopCopies(b, both);
  for (int l = 0; l < lanes; ++l) {
    if (!(active[l] > 0.0)) continue;
    t.lane[l].owed = false;
    if (t.lane[l].mode == surface_mode::head && (o.upper_option == 2 || o.upper_option == 3))
      b.khead[at(0, l)] = 1.0;
  }
  // Interface conductivities of faces 1..n.
  const V weight = hn::Set(d, o.weight), rest = hn::Set(d, 1.0 - o.weight);
  for (int c = 0; c < lanes; c += width) {
    const auto m = LaneMask(d, active + c);
    if (hn::AllFalse(d, m)) continue;
    for (int j = 1; j <= n; ++j) {
      const V up = hn::LoadU(d, b.khead + at(j - 1, c)), down = hn::LoadU(d, b.khead + at(j, c));
      const V k = o.k_option == 1 ? hn::Add(hn::Mul(weight, up), hn::Mul(rest, down))
                                  : hn::Sqrt(hn::Mul(up, down));
      StoreMasked(d, m, hn::Mul(k, hn::LoadU(d, b.ks + at(j, c))), b.kint + at(j, c));
    }
  }
  for (int l = 0; l < lanes; ++l) {
    if (!(active[l] > 0.0)) continue;
    if (t.lane[l].mode == surface_mode::flux)
      b.kint[at(1, l)] = 0.0;
    else if (o.upper_option == 2)
      b.kint[at(1, l)] = b.ks[at(1, l)];
  }
  // The rows of every lane (an idle lane's are solved and never read).
  for (int c = 0; c < lanes; c += width) {
    const V inv_tau = hn::LoadU(d, inv_taus + c);
    for (int j = 1; j <= rows; ++j) {
      const std::size_t i = at(j, c);
      const V cap = hn::Mul(hn::LoadU(d, b.watcap + i), inv_tau);
      const V k_below = hn::LoadU(d, b.kint + i + lanes);
      const V k_above = hn::LoadU(d, b.kint + i);
      const V below = hn::Mul(k_below, hn::LoadU(d, b.inv_dz_below + i));
      const V above = hn::Mul(k_above, hn::LoadU(d, b.inv_dz_above + i));
      const V inv_dz = hn::LoadU(d, b.inv_dz + i);
      hn::StoreU(hn::Neg(below), d, b.upper + i);
      hn::StoreU(hn::Neg(above), d, b.lower + i);
      hn::StoreU(hn::Add(hn::Add(cap, below), above), d, b.diag + i);
      const V stored =
          hn::Mul(hn::Sub(hn::LoadU(d, b.theta + i), hn::LoadU(d, b.theta_start + i)), inv_tau);
      V r = hn::Sub(hn::Mul(cap, hn::LoadU(d, b.phead + i)), stored);
      r = hn::Sub(r, hn::Mul(k_below, inv_dz));
      r = hn::Add(r, hn::Mul(k_above, inv_dz));
      r = hn::Add(r, hn::LoadU(d, b.source + i));
      hn::StoreU(r, d, b.rhs + i);
    }
  }
  for (int l = 0; l < lanes; ++l) {
    b.rhs[at(1, l)] -= b.lower[at(1, l)] * b.phead[at(0, l)];
    if (o.water_table)
      b.rhs[at(rows, l)] -= b.upper[at(rows, l)] * b.phead[at(n, l)];
    else
      b.diag[at(rows, l)] += b.upper[at(rows, l)];
    b.upper[at(rows, l)] = 0.0;
  }
  Solve(d, b, rows);
  // Each lane's new heads (a head that is no number is not taken); its iterations go on while
  // some head moved by more than 0.1 % of itself.
  double moved_lanes[lanes], bad_lanes[lanes];
  const V thousand = hn::Set(d, 1000.0), zero = hn::Zero(d), one = hn::Set(d, 1.0);
  for (int c = 0; c < lanes; c += width) {
    const auto m = LaneMask(d, active + c);
    auto moved = hn::Lt(one, zero), bad = moved;  // no lane yet
    if (!hn::AllFalse(d, m)) {
      for (int j = 1; j <= rows; ++j) {
        const std::size_t i = at(j, c);
        const V h = hn::LoadU(d, b.rhs + i), old = hn::LoadU(d, b.phead + i);
        const auto finite = hn::IsFinite(h);
        bad = hn::Or(bad, hn::Not(finite));
        const auto move = hn::And(hn::Ne(h, zero),
                                  hn::Gt(hn::Mul(hn::Abs(hn::Sub(h, old)), thousand), hn::Abs(h)));
        moved = hn::Or(moved, hn::And(finite, move));
        StoreMasked(d, hn::And(m, finite), h, b.phead + i);
      }
    }
    hn::StoreU(hn::IfThenElseZero(moved, one), d, moved_lanes + c);
    hn::StoreU(hn::IfThenElseZero(bad, one), d, bad_lanes + c);
  }
  for (int l = 0; l < lanes; ++l) {
    again[l] = 0.0;
    top[l] = 0.0;
    settled[l] = 0.0;
    if (!(active[l] > 0.0)) continue;
    lane_state& s = t.lane[l];
    ++s.col.books->solves;
    if (bad_lanes[l] > 0.0) s.finite = false;
    const bool moved = moved_lanes[l] > 0.0;
    // Contents of the new heads: every node's, with the soil functions of the next iteration,
    // when another follows; after the last, under the flux boundary only node 1's.
    if (s.finite && moved && s.iteration + 1 < s.iterations) {
      again[l] = 1.0;
    } else {
      settled[l] = 1.0;
      if (s.mode == surface_mode::flux && rows >= 1 && std::isfinite(b.rhs[at(1, l)])) top[l] = 1.0;
    }
    ++s.iteration;
  }
  Nodes<2>(d, b, o.model, 1, 1, top);
  for (int l = 0; l < lanes; ++l) {
    if (!(active[l] > 0.0)) continue;
    if (again[l] > 0.0) {
      // The contents and functions of the new heads come at the next iteration's start.
      t.lane[l].owed = true;
    } else if (!o.water_table) {
      b.phead[at(n, l)] = b.phead[at(n - 1, l)];
      b.theta[at(n, l)] = b.theta[at(n - 1, l)];
    }
  }
}

// Heads of nodes 1..n-1 from their contents in the flagged lanes, as richards_nodes' heads
// (a saturated node keeps the head of the solve, not below 0). Few lanes end a sub-step in the
// same round, so each flagged lane's column goes through the functions alone, its own nodes
// filling the vectors, rather than node by node across all eight lanes.
void Heads(D d, const batch& t, const double* flags) {
  const batch_arrays& b = t.b;
  const int n = t.n, model = t.o.model;
  const int width = static_cast<int>(hn::Lanes(d));
  const V zero = hn::Zero(d);
  const hn::RebindToSigned<D> di;
  // Node j + q of a lane lies q * lanes past node j; past the column's last node the gathers
  // read its last node again.
  const auto steps = hn::Iota(di, 0);
  HWY_ALIGN double head_out[hn::MaxLanes(D())];
  // When many lanes end their sub-step together, node by node across the lanes fills the
  // vectors better: lane by lane takes ceil((n - 1) / width) vectors a lane, node by node n - 1
  // for each vector of lanes, and gathering a lane's nodes costs about a quarter more. Both
  // give the same bits.
  int flagged = 0;
  for (int l = 0; l < lanes; ++l) flagged += flags[l] > 0.0 ? 1 : 0;
  const int per_lane = (n - 1 + width - 1) / width;
  const int across = (n - 1) * ((lanes + width - 1) / width);
  if (5 * flagged * per_lane >= 4 * across) {
    for (int c = 0; c < lanes; c += width) {
      const auto m = LaneMask(d, flags + c);
      if (hn::AllFalse(d, m)) continue;
      for (int j = 1; j <= n - 1; ++j) {
        const std::size_t i = at(j, c);
        const V theta = hn::LoadU(d, b.theta + i), h = hn::LoadU(d, b.phead + i);
        const node_soil s = LoadSoilAt(d, b, model, i);
        const V kept = hn::IfThenElse(hn::Lt(h, zero), zero, h);
        const auto below = hn::Lt(theta, s.thetas);
        V out = kept;
        if (!hn::AllFalse(d, hn::And(below, m))) {
          node_constants k = LoadConstantsAt(d, b, model, i);
          if (model == soil_model_havercamp) {
            k.inv_beta = hn::LoadU(d, b.inv_beta + i);
          } else {
            k.inv_a = hn::LoadU(d, b.inv_a + i);
            k.neg_inv_lam = hn::LoadU(d, b.neg_inv_lam + i);
          }
          out = hn::IfThenElse(below, HeadOfTheta(d, model, s, k, theta), kept);
        }
        StoreMasked(d, m, out, b.phead + i);
      }
    }
    return;
  }
  for (int l = 0; l < lanes; ++l) {
    if (!(flags[l] > 0.0)) continue;
    const richards_column_view& v = t.lane[l].col.v;
    const std::size_t own = static_cast<std::size_t>(l) * (n + 1);
    for (int j = 1; j <= n - 1; j += width) {
      const int count = std::min(width, n - j);
      const auto index =
          hn::Mul(hn::Min(steps, hn::Set(di, count - 1)), hn::Set(di, static_cast<int64_t>(lanes)));
      const V theta = hn::GatherIndex(d, b.theta + at(j, l), index);
      const V h = hn::GatherIndex(d, b.phead + at(j, l), index);
      const node_soil s = LoadSoil(d, v, model, j, count);
      const V kept = hn::IfThenElse(hn::Lt(h, zero), zero, h);
      const auto below = hn::Lt(theta, s.thetas);
      V out = kept;
      if (!hn::AllFalse(d, below)) {
        node_constants k;
        k.range = LoadFirst(d, b.col_range + own + j, count);
        k.inv_range = LoadFirst(d, b.col_inv_range + own + j, count);
        if (model == soil_model_havercamp) {
          k.inv_beta = LoadFirst(d, b.col_inv_beta + own + j, count);
        } else {
          k.inv_a = LoadFirst(d, b.col_inv_a + own + j, count);
          k.neg_inv_lam = LoadFirst(d, b.col_neg_inv_lam + own + j, count);
        }
        out = hn::IfThenElse(below, HeadOfTheta(d, model, s, k, theta), kept);
      }
      hn::Store(out, d, head_out);
      for (int q = 0; q < count; ++q) b.phead[at(j + q, l)] = head_out[q];
    }
  }
}

// The lanes work through their columns as a loop of Picard iterations: every round each lane in
// a solve makes one iteration; a lane whose solve has ended checks its boundary, finishes its
// sub-step and sets up the next (or takes the next column) before the following round.
void Step(D d, const richards_column_queue& queue, int n, const richards_options& o, double dt_h,
          double* work) {
  const batch_arrays b(work, n);
  batch t{queue, n, o, dt_h, b, {}};
  const int flux_iterations = std::max(o.iter_max, 1);
  for (int l = 0; l < lanes; ++l) Take(t, l);
  double flags[lanes], settled[lanes], checked[lanes];
  for (;;) {
    // New columns' constants, then the sub-steps that begin.
    for (int l = 0; l < lanes; ++l) {
      if (!t.lane[l].fresh) continue;
      ColumnConstants(d, b, t.lane[l].col.v, o.model, n, l);
      t.lane[l].fresh = false;
    }
    bool any = false;
    for (int l = 0; l < lanes; ++l) {
      if (t.lane[l].phase == lane_phase::start) StartSubstep(t, l, flux_iterations);
      flags[l] = t.lane[l].phase == lane_phase::idle ? 0.0 : 1.0;
      any = any || flags[l] > 0.0;
    }
    if (!any) break;
    PicardIteration(d, t, flags, settled);
    // Lanes whose first solve under the flux boundary has ended: node 1's functions for the
    // surface's capacity.
    for (int l = 0; l < lanes; ++l) {
      const lane_state& s = t.lane[l];
      checked[l] =
          settled[l] > 0.0 && s.phase == lane_phase::first_solve && s.mode == surface_mode::flux
              ? 1.0
              : 0.0;
    }
    Nodes<0>(d, b, o.model, 1, 1, checked);
    TopCopies(b, checked);
    for (int l = 0; l < lanes; ++l) {
      flags[l] = 0.0;
      if (!(settled[l] > 0.0)) continue;
      if (checked[l] > 0.0 && !AcceptFlux(t, l)) continue;
      if (Contents(t, l)) {
        flags[l] = 1.0;
      } else {
        Unload(t, l);
        Take(t, l);
      }
    }
    // Heads from the contents (a saturated node keeps the head of the solve).
    Heads(d, t, flags);
    for (int l = 0; l < lanes; ++l) {
      if (flags[l] > 0.0 && EndSubstep(t, l)) {
        Unload(t, l);
        Take(t, l);
      }
    }
  }
}

}  // namespace

void RichardsColumnsStep(const richards_column_queue& queue, int n, const richards_options& o,
                         double dt_h, double* work) {
  Step(D(), queue, n, o, dt_h, work);
}

}  // namespace HWY_NAMESPACE
}  // namespace torva_richards
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace torva_richards {
HWY_EXPORT(RichardsColumnsStep);
}  // namespace torva_richards

void richards_columns_step(const richards_column_queue& queue, int n, const richards_options& o,
                           double dt_h, double* work) {
  if (n < 2) return;
  HWY_DYNAMIC_DISPATCH(torva_richards::RichardsColumnsStep)(queue, n, o, dt_h, work);
}

namespace {
// The queue of a list of columns: each in its turn, its books back where the list keeps them.
struct column_list {
  const richards_batch_column* columns;
  int count, next;
};
bool list_next(void* context, richards_batch_column& column, int& id) {
  column_list& list = *static_cast<column_list*>(context);
  if (list.next >= list.count) return false;
  id = list.next++;
  column = list.columns[id];
  return true;
}
void list_done(void* context, int id, const richards_books& books) {
  const column_list& list = *static_cast<const column_list*>(context);
  *list.columns[id].books = books;
}
}  // namespace

void richards_columns_step(const richards_batch_column* columns, int count, int n,
                           const richards_options& o, double dt_h, double* work) {
  if (count < 1 || n < 2) return;
  column_list list{columns, count, 0};
  richards_columns_step(richards_column_queue{&list, list_next, list_done}, n, o, dt_h, work);
}
#endif  // HWY_ONCE
