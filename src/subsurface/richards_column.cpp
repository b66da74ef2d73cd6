// Richards soil columns: the soil hydraulic functions and the kernel that moves water through
// one cell's column over an infiltration step (mixed form, Picard iterations, a tridiagonal
// solve per iteration). The reference the side-by-side columns of richards_batch.cpp match bit
// for bit; the tests and richards_bench --one call it column by column.
#include "subsurface/richards_column.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "framework/core/solvers.h"
#include "subsurface/richards_lanes.h"

double brooks_corey_transition_theta(double thetas, double thetar, double lambda) {
  return thetar + (thetas - thetar) * 2.0 / (2.0 + lambda);
}

double brooks_corey_transition_head(double bubbling, double lambda) {
  return bubbling * std::pow(2.0 / (2.0 + lambda), -1.0 / lambda);
}

void soil_props(const richards_column_view& v, int model, int n) {
  for (int j = 1; j <= n; ++j) richards_node_functions(v, model, j);
  v.khead[0] = v.khead[1];
  v.watcap[0] = v.watcap[1];
}

double soil_psi_from_theta(const richards_column_view& v, int model, int j, double theta) {
  return richards_head_of_content(v, model, j, theta);
}

double soil_theta_from_psi(const richards_column_view& v, int model, int j, double h) {
  return richards_content_of_head(v, model, j, h);
}

// The tridiagonal system of rows 1..n (lower[1] and upper[n] unused), solved into rhs; diagonal
// is overwritten. The elimination runs from both ends at once, down from row 1 and up from row
// n, and meets at the middle row, which the two sweeps' results close; the substitution then
// runs out from the middle both ways. Two chains of half the length, each waiting on one
// division a row going in (the pivots' reciprocals are kept) and none coming out. The system of
// a column is diagonally dominant, so no pivot vanishes.
void richards_tridiag_solve(int n, const double* upper, double* diagonal, const double* lower,
                            double* rhs) {
  if (n < 1) return;
  const int m = (n + 1) / 2;
  double inv_top = 0.0, r_top = 0.0, inv_bottom = 0.0, r_bottom = 0.0;
  if (m > 1) {
    inv_top = 1.0 / diagonal[1];
    r_top = rhs[1];
    diagonal[1] = inv_top;
  }
  if (m < n) {
    inv_bottom = 1.0 / diagonal[n];
    r_bottom = rhs[n];
    diagonal[n] = inv_bottom;
  }
  for (int i = 2, k = n - 1; i < m || k > m; ++i, --k) {
    if (i < m) {
      const double f = lower[i] * inv_top;
      inv_top = 1.0 / (diagonal[i] - lower[i] * upper[i - 1] * inv_top);
      r_top = rhs[i] - f * r_top;
      diagonal[i] = inv_top;
      rhs[i] = r_top;
    }
    if (k > m) {
      const double f = upper[k] * inv_bottom;
      inv_bottom = 1.0 / (diagonal[k] - upper[k] * lower[k + 1] * inv_bottom);
      r_bottom = rhs[k] - f * r_bottom;
      diagonal[k] = inv_bottom;
      rhs[k] = r_bottom;
    }
  }
  double pivot = diagonal[m], r = rhs[m];
  if (m > 1) {
    pivot -= lower[m] * upper[m - 1] * inv_top;
    r -= lower[m] * inv_top * r_top;
  }
  if (m < n) {
    pivot -= upper[m] * lower[m + 1] * inv_bottom;
    r -= upper[m] * inv_bottom * r_bottom;
  }
  const double x_middle = r / pivot;
  rhs[m] = x_middle;
  double x_up = x_middle, x_down = x_middle;
  for (int i = m - 1, k = m + 1; i >= 1 || k <= n; --i, ++k) {
    if (i >= 1) {
      x_up = (rhs[i] - upper[i] * x_up) * diagonal[i];
      rhs[i] = x_up;
    }
    if (k <= n) {
      x_down = (rhs[k] - lower[k] * x_down) * diagonal[k];
      rhs[k] = x_down;
    }
  }
}

double richards_column_water(const richards_column_view& v, int n) {
  double sum = 0.0;
  for (int j = 1; j <= n - 1; ++j) sum += v.theta[j] * v.dz[j];
  return sum;
}

namespace {

// The work arrays of one column, nodes 0..n.
struct column_work {
  double* kint;   // interface conductivity of the top face of node j (cm/h)
  double* upper;  // tridiagonal system, rows 1..n-1
  double* diag;
  double* lower;
  double* rhs;
  double* phead_start;  // heads and contents at the start of the sub-step
  double* theta_start;
  // Reciprocals of the node geometry: 1/DZ[j], 1/(DZ[j] u) and 1/(DZ[j] d) of row j (u and d the
  // distances to the node centres below and above), and 1/d.
  double* inv_dz;
  double* inv_dz_below;
  double* inv_dz_above;
  double* inv_above;
  richards_soil_constants soil;  // constants of the nodes' soil functions
  column_work(double* w, int n) {
    const std::size_t s = static_cast<std::size_t>(n) + 1;
    kint = w;
    upper = w + s;
    diag = w + 2 * s;
    lower = w + 3 * s;
    rhs = w + 4 * s;
    phead_start = w + 5 * s;
    theta_start = w + 6 * s;
    inv_dz = w + 7 * s;
    inv_dz_below = w + 8 * s;
    inv_dz_above = w + 9 * s;
    inv_above = w + 10 * s;
    static_assert(richards_work_arrays == 11 + richards_soil_constant_arrays);
    double* c = w + 11 * s;
    for (double** p :
         {&soil.range, &soil.inv_range, &soil.inv_hb, &soil.a, &soil.inv_a, &soil.cm_dry,
          &soil.cm_wet, &soil.neg_lam, &soil.neg_inv_lam, &soil.k_wet, &soil.inv_alpha,
          &soil.inv_beta, &soil.cm_hav, &soil.key_head, &soil.key_theta}) {
      *p = c;
      c += s;
    }
  }
};

// The reciprocals of the geometry of nodes 1..n (node j's distances to the centres of the nodes
// above and below it; the bottom node has none below).
void column_geometry(const richards_column_view& v, int n, column_work& w) {
  for (int j = 1; j <= n; ++j) {
    const double d = 0.5 * (v.dz[j] + v.dz[j - 1]);
    w.inv_dz[j] = 1.0 / v.dz[j];
    w.inv_above[j] = 1.0 / d;
    w.inv_dz_above[j] = 1.0 / (v.dz[j] * d);
    w.inv_dz_below[j] = j < n ? 1.0 / (v.dz[j] * (0.5 * (v.dz[j] + v.dz[j + 1]))) : 0.0;
  }
}

// The soil functions of nodes 1..n, node 0 copying node 1.
void column_props(const richards_column_view& v, int model, int n, const column_work& w) {
  richards_nodes(v, w.soil, model, richards_node_update::functions, 1, n);
  v.khead[0] = v.khead[1];
  v.watcap[0] = v.watcap[1];
}

enum class surface_mode { flux, head };

// Interface conductivities of faces 1..n from the relative conductivities of the current heads.
void interface_conductivity(const richards_column_view& v, int n, const richards_options& o,
                            surface_mode mode, column_work& w) {
#pragma omp simd
  for (int j = 1; j <= n; ++j) {
    const double up = v.khead[j - 1], down = v.khead[j];
    const double k =
        o.k_option == 1 ? o.weight * up + (1.0 - o.weight) * down : std::sqrt(up * down);
    w.kint[j] = k * v.ks[j];
  }
  if (mode == surface_mode::flux) w.kint[1] = 0.0;
}

// Picard iterations of the mixed form over the sub-step tau: heads of nodes 1..n-1 (node n by
// the bottom boundary), starting from the heads in v.phead (the start of the sub-step) and the
// surface head v.phead[0]. Leaves the last iterate in v.phead (under the flux boundary with the
// content of node 1; the caller takes the other contents from the fluxes), the soil functions of
// the heads of the last solve and its interface conductivities in w.kint. False when a solve gave
// no number.
bool picard_solve(const richards_column_view& v, int n, const richards_options& o,
                  surface_mode mode, int iterations, double tau, column_work& w, long& solves) {
  const int rows = n - 1;
  bool finite = true;
  bool functions_current = false;  // the soil functions are those of the current heads
  const double inv_tau = 1.0 / tau;
  for (int it = 0; it < iterations; ++it) {
    if (!functions_current) column_props(v, o.model, n, w);
    functions_current = false;
    if (mode == surface_mode::head) {
      if (o.upper_option == 2 || o.upper_option == 3) v.khead[0] = 1.0;
    }
    interface_conductivity(v, n, o, mode, w);
    if (mode == surface_mode::head && o.upper_option == 2) w.kint[1] = v.ks[1];
      // Rows are independent: the loop runs on vector lanes, each lane with the operations of
      // the one-row code (a negated quotient is the quotient of the negated numerator).
#pragma omp simd
    for (int j = 1; j <= rows; ++j) {
      const double cap = v.watcap[j] * inv_tau;
      const double below = w.kint[j + 1] * w.inv_dz_below[j];
      const double above = w.kint[j] * w.inv_dz_above[j];
      w.upper[j] = -below;
      w.lower[j] = -above;
      w.diag[j] = cap + below + above;
      w.rhs[j] = cap * v.phead[j] - (v.theta[j] - w.theta_start[j]) * inv_tau -
                 w.kint[j + 1] * w.inv_dz[j] + w.kint[j] * w.inv_dz[j] + v.source[j];
    }
    w.rhs[1] -= w.lower[1] * v.phead[0];
    if (o.water_table) {
      w.rhs[rows] -= w.upper[rows] * v.phead[n];
    } else {
      w.diag[rows] += w.upper[rows];
    }
    w.upper[rows] = 0.0;
    richards_tridiag_solve(rows, w.upper, w.diag, w.lower, w.rhs);
    ++solves;
    // The iterations go on while some head moved by more than 0.1 % of itself.
    bool moved = false;
    for (int j = 1; j <= rows; ++j) {
      const double h = w.rhs[j];
      if (!std::isfinite(h)) {
        finite = false;
        continue;
      }
      moved = moved || (h != 0.0 && std::fabs(h - v.phead[j]) * 1000.0 > std::fabs(h));
      v.phead[j] = h;
    }
    // Contents of the new heads: every node's, with the soil functions of the next iteration,
    // when another follows; after the last, under the flux boundary only node 1's, which the
    // surface's capacity reads, and none under a head (the sub-step's contents come from its
    // fluxes).
    const bool again = finite && moved && it + 1 < iterations;
    if (again) {
      richards_nodes(v, w.soil, o.model, richards_node_update::contents_and_functions, 1, rows);
    } else if (mode == surface_mode::flux && rows >= 1 && std::isfinite(w.rhs[1])) {
      richards_nodes(v, w.soil, o.model, richards_node_update::contents, 1, 1);
    }
    if (!o.water_table) {
      v.phead[n] = v.phead[n - 1];
      v.theta[n] = v.theta[n - 1];
    }
    if (again) {
      // The bottom node's functions (its head and content those of the node above it under
      // free drainage, unchanged over a water table), node 0 copying node 1.
      richards_nodes(v, w.soil, o.model, richards_node_update::functions, n, n);
      v.khead[0] = v.khead[1];
      v.watcap[0] = v.watcap[1];
      functions_current = true;
    }
    if (!finite || !moved) break;
  }
  return finite;
}

// Fluxes through the top faces of nodes 1..n from the heads of the last iterate.
void face_fluxes(const richards_column_view& v, int n, column_work& w) {
  for (int j = 1; j <= n; ++j)
    v.watflux[j] = w.kint[j] - w.kint[j] * (v.phead[j] - v.phead[j - 1]) * w.inv_above[j];
}

void restore_start(const richards_column_view& v, int n, const column_work& w) {
  for (int j = 1; j <= n; ++j) {
    v.phead[j] = w.phead_start[j];
    v.theta[j] = w.theta_start[j];
  }
}

}  // namespace

void richards_column_step(const richards_column_view& v, int n, const richards_options& o,
                          const richards_demand& demand, double dt_h, double& ov_depth,
                          int& bound_type, double& dtr, double* work, richards_books& books) {
  column_work w(work, n);
  richards_soil_constants_of(v, w.soil, o.model, 0, n);
  column_geometry(v, n, w);
  const int flux_iterations = std::max(o.iter_max, 1);
  double tau = std::min(dtr, dt_h);
  if (tau > 0.001 && v.phead[1] >= 0.0) tau = richards_saturated_start_step;
  if (!(tau >= richards_min_substep)) tau = richards_min_substep;
  // The surface water at the start of the step reaches the soil evenly over the step, as the
  // rain that brought it fell over the step; a ponded surface offers all its water at once.
  const double supply_rate = std::max(ov_depth, 0.0) * 100.0 / dt_h;
  double remaining = dt_h;
  while (remaining > 1e-12) {
    if (tau >= remaining || remaining - tau < 1e-8) tau = remaining;
    for (int j = 0; j <= n; ++j) {
      w.phead_start[j] = v.phead[j];
      w.theta_start[j] = v.theta[j];
      v.source[j] = 0.0;
    }
    v.phead[0] = 0.0;
    v.theta[0] = v.theta[1];
    // Surface water after evaporation (cm); what the surface cannot give, the root zone may.
    const double water = ov_depth * 100.0;
    const double et_wanted = demand.surface_et * tau;
    const double et_surface = std::min(et_wanted, std::max(water, 0.0));
    const double supply = water - et_surface;
    const bool last = remaining - tau <= 1e-12;
    const double offered = last ? supply : std::min(supply, supply_rate * tau);
    books.et_surface += et_surface;
    double root_demand = std::min(et_wanted - et_surface, demand.soil_et * tau);
    surface_mode mode = surface_mode::flux;
    double root_source_1 = 0.0;  // the roots' part of node 1's source (1/h)
    const double dz0 = v.dz[0];
    if (bound_type == 3) {
      mode = surface_mode::head;
      v.phead[0] = -0.5 * dz0;
    } else if (bound_type == 2 && supply > 1e-10) {
      mode = surface_mode::head;
      v.phead[0] = supply - 0.5 * dz0;
    } else if (bound_type == 2 && v.phead[1] >= 0.0) {
      mode = surface_mode::head;
      v.phead[0] = -0.5 * dz0;
    } else {
      bound_type = 1;
      if (root_demand > 0.0 && demand.root_depth > 0.0) {
        // The root zone gives the demand from its nodes by depth, less where it is dry.
        double left = demand.root_depth;
        for (int j = 1; j <= n - 1 && left > 1e-16; ++j) {
          const double part = std::min(left, v.dz[j]) / v.dz[j];
          left -= v.dz[j];
          double stress = 1.0;
          if (v.theta[j] <= v.thetawp[j])
            stress = 0.0;
          else if (v.theta[j] < v.thetafc[j])
            stress = (v.theta[j] - v.thetawp[j]) / (v.thetafc[j] - v.thetawp[j]);
          v.source[j] -= root_demand / (demand.root_depth * tau) * part * stress;
        }
      }
      root_source_1 = v.source[1];
      if (offered > 0.0) v.source[1] += offered / tau / v.dz[1];
    }
    bool finite = picard_solve(v, n, o, mode, mode == surface_mode::flux ? flux_iterations : 5, tau,
                               w, books.solves);
    bool limited = false;
    if (mode == surface_mode::flux) {
      // The soil takes the whole supply while its capacity, the flux under a zero head at the
      // surface (the surface saturated, its relative conductivity 1), is not smaller; else the
      // surface ponds and the sub-step is solved again under the ponded head.
      column_props(v, o.model, 1, w);
      const double k1 =
          o.k_option == 1 ? o.weight + (1.0 - o.weight) * v.khead[1] : std::sqrt(v.khead[1]);
      const double capacity = k1 * v.ks[1] * (1.0 - v.phead[1] / (0.5 * (v.dz[0] + v.dz[1])));
      // The surface's part of node 1's source becomes the flux through its top face; the roots'
      // part stays a sink.
      const double wanted = offered > 0.0 ? offered / tau : 0.0;
      if (finite && (wanted <= 0.0 || wanted <= capacity)) {
        v.source[1] = root_source_1;
        face_fluxes(v, n, w);
        v.watflux[1] = wanted;
      } else {
        restore_start(v, n, w);
        for (int j = 1; j <= n; ++j) v.source[j] = 0.0;
        root_demand = 0.0;
        bound_type = 2;
        mode = surface_mode::head;
        v.phead[0] = supply - 0.5 * dz0;
        finite = picard_solve(v, n, o, mode, 5, tau, w, books.solves);
      }
    }
    if (mode == surface_mode::head) {
      face_fluxes(v, n, w);
      if (v.watflux[1] > 0.0 && v.watflux[1] * tau > supply) {
        v.watflux[1] = std::max(supply / tau, 0.0);
        limited = true;
      }
    }
    if (!finite) books.bad_number = true;
    // Contents from the fluxes, so that the column keeps every drop; water above saturation
    // goes on down into the node below (and out through the bottom face at the last node).
    double largest = 0.0;
    double sink = 0.0;
    for (int j = 1; j <= n - 1; ++j) {
      sink += v.source[j] * v.dz[j] * tau;
      v.theta[j] =
          w.theta_start[j] + ((v.watflux[j] - v.watflux[j + 1]) / v.dz[j] + v.source[j]) * tau;
    }
    for (int j = 1; j <= n - 1; ++j) {
      if (v.theta[j] > v.thetas[j]) {
        const double excess = (v.theta[j] - v.thetas[j]) * v.dz[j];
        v.theta[j] = v.thetas[j];
        v.watflux[j + 1] += excess / tau;
        if (j + 1 <= n - 1) v.theta[j + 1] += excess / v.dz[j + 1];
      }
      if (!std::isfinite(v.theta[j]) || !std::isfinite(v.watflux[j])) books.bad_number = true;
      largest = std::max(largest, std::fabs(v.theta[j] - w.theta_start[j]));
    }
    if (books.bad_number) {
      // A column that gives no number keeps its start-of-sub-step state; the caller stops the run.
      restore_start(v, n, w);
      return;
    }
    // Heads from the contents (a saturated node keeps the head of the solve).
    richards_nodes(v, w.soil, o.model, richards_node_update::heads, 1, n - 1);
    if (!o.water_table) {
      v.phead[n] = v.phead[n - 1];
      v.theta[n] = v.theta[n - 1];
    }
    largest = std::max(largest, 0.0001);
    double next = tau * o.dtheta_max / largest;
    if (limited) next = std::min(next, richards_saturated_step_cap);

    // The surface and the books.
    const double inflow = v.watflux[1];
    books.rate = inflow;
    books.infiltrated += inflow * tau;
    books.drained += v.watflux[n] * tau;
    books.et_soil -= sink;
    if (mode == surface_mode::flux) {
      ov_depth = std::max(supply - inflow * tau, 0.0) / 100.0;
    } else {
      const double left = (supply - inflow * tau) / 100.0;
      if (left > 1e-16) {
        ov_depth = left;
        if (inflow > 0.0) next = std::min(next, left * 100.0 / inflow);
      } else {
        ov_depth = 0.0;
        if (bound_type == 2 && v.theta[1] >= v.thetas[1]) {
          bound_type = 3;
          next = std::min(next, richards_saturated_step_cap);
        } else {
          bound_type = 1;
        }
      }
    }
    remaining -= tau;
    books.substeps += 1;
    dtr = std::max(next, richards_min_substep);
    tau = std::min(dtr, dt_h);
  }
}
