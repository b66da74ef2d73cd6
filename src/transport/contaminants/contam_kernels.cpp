// Kernels of the dissolved-constituent steps: pro-rating, soil partitioning, the cell's net
// source from the process accumulators, the overland advection-dispersion passes and the
// hand-off of a drying cell. Called by the soil and overland constituent steps.
#include "transport/contaminants/contam_kernels.h"

#include <algorithm>
#include <cmath>

#include "framework/core/block_sum.h"
#include "framework/core/parallel_team.h"

namespace {

constexpr double tiny = 1e-16;
// Cells of one block of the block-ordered sum of the negative masses.
constexpr int neg_mass_block_cells = 1024;

// The arrays of one directional pass: the upstream neighbour (above or left), the downstream
// one (below or right) and the discharge of each cell towards its downstream neighbour.
struct pass_arrays {
  const int* up;
  const int* down;
  const double* q;
};

// Dispersive plus advective flux (g/s) from the upstream neighbour j into cell i, with the
// concentrations c.
inline double face_flux(const ov_constit_view& v, const pass_arrays& p, const double* c, int i) {
  const int j = p.up[i];
  if (j == 0) return 0.0;
  const double hi = v.depth[i];
  const double hj = v.depth[j];
  double d = 0.0;
  if (hi > tiny && hj > tiny) d = std::min(hi * v.disp[i], hj * v.disp[j]) * (c[j] - c[i]);
  const double q = p.q[j];
  const double a = q * (q >= 0.0 ? c[j] : c[i]);
  return d + a;
}

// The cell's concentration from its mass: mass over its water, 0 for a dry cell or a negative
// mass.
inline double cell_conc(const ov_constit_view& v, double mass, int i) {
  if (v.held_conc != nullptr && v.held_conc[i] >= 0.0) return v.held_conc[i];
  const double h = v.depth[i];
  return h >= tiny && mass >= 0.0 ? mass / (h * v.area) : 0.0;
}

inline bool held(const ov_constit_view& v, int i) {
  return v.held_conc != nullptr && v.held_conc[i] >= 0.0;
}

// One directional pass; returns the mass added back to cells left negative.
double one_pass(const ov_constit_view& v, const pass_arrays& p) {
  const int n = v.cell_count;
  const double dt = v.dt;
  const int team = team_size(n);
#pragma omp parallel for schedule(static) num_threads(team)
  for (int i = 1; i <= n; ++i) {
    v.start[i] = v.mass[i];
    v.face[i] = face_flux(v, p, v.conc, i);
  }
  // Predictor.
#pragma omp parallel for schedule(static) num_threads(team)
  for (int i = 1; i <= n; ++i) {
    const int b = p.down[i];
    const double out = b != 0 ? v.face[b] : 0.0;
    const double m = v.start[i] + dt * (v.face[i] - out + 0.5 * v.source[i]);
    v.pred_mass[i] = m;
    v.pred_conc[i] = cell_conc(v, m, i);
  }
  // Corrector: each face takes the mean of its first and its recomputed flux.
#pragma omp parallel for schedule(static) num_threads(team)
  for (int i = 1; i <= n; ++i) v.face_corr[i] = 0.5 * (v.face[i] + face_flux(v, p, v.pred_conc, i));
#pragma omp parallel for schedule(static) num_threads(team)
  for (int i = 1; i <= n; ++i) {
    const int b = p.down[i];
    const double out = b != 0 ? v.face_corr[b] : 0.0;
    const double m = v.start[i] + dt * (v.face_corr[i] - out + 0.5 * v.source[i]);
    v.mass[i] = m;
    v.conc[i] = cell_conc(v, m, i);
  }
  // Cells left negative end the pass empty; the mass that takes is summed in block order.
  return block_ordered_sum<neg_mass_block_cells, double>(
      n, 0.0,
      [&](int first, int last) {
        double added = 0.0;
        for (int i = first; i <= last; ++i) {
          if (v.mass[i] < 0.0 && !held(v, i)) {
            added -= v.mass[i];
            v.mass[i] = 0.0;
            v.conc[i] = 0.0;
          }
        }
        return added;
      },
      [](double& total, double part) { total += part; });
}

}  // namespace

double prorate_to_step(double dt, double elapsed, double m) {
  return dt < elapsed - 0.5 ? m * dt / elapsed : m;
}

double soil_dissolved_fraction(double theta, double kd) {
  // Per unit of the layer's bulk volume the pore water holds theta x C and the solids
  // (1 - theta) x 2.65 kg/L x Kd x C: the water's share is theta over their sum, at most 1, so
  // what decays in solution or leaves with the water is never more than the layer holds.
  const double held = theta + (1.0 - theta) * kd * 2650.0 / 1000.0;
  // A layer without water and without sorption holds nothing in solution.
  return held > 0.0 ? theta / held : 0.0;
}

double apply_cell_term(double& m, double& acc, double dt, double elapsed, double sign) {
  if (std::fabs(acc) <= tiny) return 0.0;
  const double share = prorate_to_step(dt, elapsed, acc);
  const double change = sign * share;
  if (m + change < 0.0) {
    const double taken = -m;
    m = 0.0;
    acc = 0.0;
    return sign * taken;
  }
  m += change;
  acc -= share;
  return share;
}

double ov_constit_flux(const ov_constit_view& v) {
  const pass_arrays vertical{v.abovecon, v.belowcon, v.flux_y};
  const pass_arrays horizontal{v.leftcon, v.rightcon, v.flux_x};
  const pass_arrays& first = v.sweep == 1 ? vertical : horizontal;
  const pass_arrays& second = v.sweep == 1 ? horizontal : vertical;
  const double added = one_pass(v, first);
  return added + one_pass(v, second);
}

bool dry_cell_handoff(double depth, double& mass, double& conc, bool soil_transport,
                      double& soil_infil, double& land, double& infil_term, double& land_term) {
  if (!(depth < tiny) || !(mass >= tiny)) return false;
  if (soil_transport) {
    soil_infil += mass;
    infil_term += mass;
  } else {
    land += mass;
    land_term += mass;
  }
  mass = 0.0;
  conc = 0.0;
  return true;
}
