// Kernels of the dissolved-constituent steps: pro-rating, soil partitioning, the cell's net
// source from the process accumulators, the overland advection-dispersion passes and the
// hand-off of a drying cell. Called by the soil and overland constituent steps.
#include "transport/contaminants/contam_kernels.h"

#include <algorithm>
#include <cmath>

#include "framework/core/block_sum.h"
#include "framework/core/parallel_team.h"
#include "transport/contaminants/contam_pass_lanes.h"

namespace {

constexpr double tiny = 1e-16;
// Cells of one block of the block-ordered sum of the negative masses.
constexpr int neg_mass_block_cells = 1024;

// Dispersive plus advective flux (g/s) from the upstream neighbour j into cell i, with the
// concentrations c.
inline double face_flux(const ov_constit_view& v, const ov_pass_arrays& p, const double* c, int i) {
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

// One directional pass; returns the mass added back to cells left negative. The cells go in
// blocks of neg_mass_block_cells, each block to one thread: the predictor's faces from the
// starting concentrations, then the corrector's faces, each cell forming its own predicted
// concentration and its upstream neighbour's again from the predictor's faces (no array of
// predicted cells is written and read back), then the cells from the mean fluxes, each
// replacing only its own mass.
double one_pass(const ov_constit_view& v, const ov_pass_arrays& p) {
  const int n = v.cell_count;
  const int team = team_size(n);
  const int blocks = (n + neg_mass_block_cells - 1) / neg_mass_block_cells;
  auto first_of = [](int b) { return 1 + b * neg_mass_block_cells; };
  auto last_of = [n](int b) { return std::min(n, (b + 1) * neg_mass_block_cells); };
  double added = 0.0;
#pragma omp parallel num_threads(team)
  {
#pragma omp for schedule(static)
    for (int b = 0; b < blocks; ++b)
      ov_pass_faces_wide(v, p, v.conc, nullptr, v.face, first_of(b), last_of(b));
#pragma omp for schedule(static)
    for (int b = 0; b < blocks; ++b)
      ov_pass_corrector_wide(v, p, v.face, v.face_corr, first_of(b), last_of(b));
  }
  // The cells from the mean fluxes; those left negative end the pass empty, and the mass that
  // takes is summed in block order.
  added = block_ordered_sum<neg_mass_block_cells, double>(
      n, 0.0,
      [&](int first, int last) {
        ov_pass_update_wide(v, p, v.face_corr, v.mass, v.conc, first, last);
        double part = 0.0;
        for (int i = first; i <= last; ++i) {
          if (v.mass[i] < 0.0 && !held(v, i)) {
            part -= v.mass[i];
            v.mass[i] = 0.0;
            v.conc[i] = 0.0;
          }
        }
        return part;
      },
      [](double& total, double part) { total += part; });
  return added;
}

}  // namespace

double soil_dissolved_fraction(double theta, double kd) {
  // Per unit of the layer's bulk volume the pore water holds theta x C and the solids
  // (1 - theta) x 2.65 kg/L x Kd x C: the water's share is theta over their sum, at most 1, so
  // what decays in solution or leaves with the water is never more than the layer holds.
  const double held = theta + (1.0 - theta) * kd * 2650.0 / 1000.0;
  // A layer without water and without sorption holds nothing in solution.
  return held > 0.0 ? theta / held : 0.0;
}

void ov_pass_faces_scalar(const ov_constit_view& v, const ov_pass_arrays& p, const double* c,
                          const double* mean_with, double* face, int lo, int hi) {
  for (int i = lo; i <= hi; ++i) {
    const double f = face_flux(v, p, c, i);
    face[i] = mean_with != nullptr ? 0.5 * (mean_with[i] + f) : f;
  }
}

void ov_pass_update_scalar(const ov_constit_view& v, const ov_pass_arrays& p, const double* face,
                           double* mass, double* conc, int lo, int hi) {
  for (int i = lo; i <= hi; ++i) {
    const int b = p.down[i];
    const double out = b != 0 ? face[b] : 0.0;
    const double m = v.mass[i] + v.dt * (face[i] - out + 0.5 * v.source[i]);
    mass[i] = m;
    conc[i] = cell_conc(v, m, i);
  }
}

double ov_pass_predicted_conc(const ov_constit_view& v, const ov_pass_arrays& p, const double* face,
                              int j) {
  const int b = p.down[j];
  const double out = b != 0 ? face[b] : 0.0;
  const double m = v.mass[j] + v.dt * (face[j] - out + 0.5 * v.source[j]);
  return cell_conc(v, m, j);
}

void ov_pass_corrector_scalar(const ov_constit_view& v, const ov_pass_arrays& p, const double* face,
                              double* face_corr, int lo, int hi) {
  for (int i = lo; i <= hi; ++i) {
    const int j = p.up[i];
    double f = 0.0;
    if (j != 0) {
      const double ci = ov_pass_predicted_conc(v, p, face, i);
      const double cj = ov_pass_predicted_conc(v, p, face, j);
      const double hi_ = v.depth[i];
      const double hj = v.depth[j];
      double d = 0.0;
      if (hi_ > tiny && hj > tiny) d = std::min(hi_ * v.disp[i], hj * v.disp[j]) * (cj - ci);
      const double q = p.q[j];
      f = d + q * (q >= 0.0 ? cj : ci);
    }
    face_corr[i] = 0.5 * (face[i] + f);
  }
}

double ov_constit_flux(const ov_constit_view& v) {
  const ov_pass_arrays vertical{v.abovecon, v.belowcon, v.flux_y};
  const ov_pass_arrays horizontal{v.leftcon, v.rightcon, v.flux_x};
  const ov_pass_arrays& first = v.sweep == 1 ? vertical : horizontal;
  const ov_pass_arrays& second = v.sweep == 1 ? horizontal : vertical;
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

carrier_column layered_carrier_column(double mixing_cm, double h1_cm, double h2_cm, double phi1,
                                      double phi2) {
  carrier_column col;
  if (mixing_cm > tiny && h1_cm > mixing_cm) {
    col.layers = 3;
    col.thickness[1] = mixing_cm / 100.0;
    col.thickness[2] = (h1_cm - mixing_cm) / 100.0;
    col.thickness[3] = h2_cm / 100.0;
    col.porosity[1] = phi1;
    col.porosity[2] = phi1;
    col.porosity[3] = phi2;
  } else {
    col.layers = 2;
    col.thickness[1] = h1_cm / 100.0;
    col.thickness[2] = h2_cm / 100.0;
    col.porosity[1] = phi1;
    col.porosity[2] = phi2;
  }
  return col;
}

soil_column_moved soil_column_step(const soil_column_view& v) {
  soil_column_moved moved;
  double m[4] = {};
  for (int l = 1; l <= v.layers; ++l) {
    m[l] = v.mass[l];
    const double fd = v.sorbs ? soil_dissolved_fraction(v.theta[l], v.kd) : 1.0;
    v.frac_dissolved[l] = fd;
    if (!v.sorbs || !(m[l] > 0.0)) continue;
    // The dissolved part decays over the whole step by its exact factor, never more than the
    // layer holds.
    const double removed = std::min(fd * m[l] * -std::expm1(-v.decay * v.dt), m[l]);
    moved.decayed += removed;
    if (!v.fixed) m[l] -= removed;
  }
  // The water draining out of each layer carries its pore water down, layer by layer from the
  // top, so a layer never gives more than it holds with what it has just received.
  double from_above = 0.0;
  double mass_flux[4] = {};
  for (int l = 1; l <= v.layers; ++l) {
    const double water = v.theta[l] * v.thickness[l];  // m
    const double q = v.drained[l];
    double f = 0.0;
    if (water > tiny && q > 0.0 && m[l] > 0.0) f = m[l] * v.frac_dissolved[l] * q / water;
    const double held = m[l] + from_above + (l == 1 ? v.infil - v.uptake : 0.0);
    f = std::min(f, std::max(held, 0.0));
    mass_flux[l] = f;
    from_above = f;
  }
  moved.seep_down = mass_flux[v.layers];
  for (int l = 1; l <= v.layers; ++l) {
    if (!v.fixed) {
      if (l == 1) m[l] += v.infil - v.uptake;
      m[l] += mass_flux[l - 1] - mass_flux[l];
    }
    const double solids = (1.0 - v.porosity[l]) * v.thickness[l] * 2.65 * 1000.0 * v.area;
    double c = solids > 0.0 ? m[l] / solids * 1000.0 : 0.0;
    if (m[l] < 0.0) m[l] = c = 0.0;
    v.mass[l] = m[l];
    v.conc[l] = c;
  }
  return moved;
}
