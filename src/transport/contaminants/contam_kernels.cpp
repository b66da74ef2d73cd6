// Kernels of the dissolved-constituent steps: pro-rating, soil partitioning, the cell's net
// source from the process accumulators, the overland advection-dispersion passes and the
// hand-off of a drying cell. Called by the soil and overland constituent steps.
#include "transport/contaminants/contam_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

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

// Cells of one block of the pass's sweep: two blocks of the negative-mass sum.
constexpr int sweep_block_cells = 2 * neg_mass_block_cells;

// The farthest any cell's neighbour in `link` lies from it in the cells' numbering.
int link_reach(const int* link, int n) {
  int reach = 0;
#pragma omp parallel for schedule(static) num_threads(team_size(n)) reduction(max : reach)
  for (int i = 1; i <= n; ++i) {
    const int j = link[i];
    if (j != 0) reach = std::max(reach, std::abs(j - i));
  }
  return reach;
}

// Both directional passes, `first` then `second`; returns the mass added back to cells left
// negative, the first pass's sum plus the second's.
//
// The cells go in blocks of sweep_block_cells, and each block passes through eight stages, four
// per pass: F, the predictor's faces from the pass's starting concentrations; P, the cells'
// predicted concentrations from those faces (into the work arrays); C, the corrector's faces
// from the predicted concentrations with their mean with the predictor's; U, the cells from the
// mean fluxes, each replacing only its own mass and concentration, those left negative ending
// the pass empty. The second pass's F starts from the first pass's U, and its stages reuse the
// same work arrays. With every neighbour within `lag` blocks of its cell, a stage of block k
// reads what the stage before made within lag blocks of k, and overwrites only block k's values
// of its arrays, which no earlier stage of a block more than lag blocks away reads. So each
// thread sweeps its run of blocks once, stage g of block s - g lag at step s, stage by stage,
// while the values a block shares with its neighbours are still in cache and every array
// streams through memory once for both passes; the blocks near the ends of its run, whose
// stages read what the neighbouring runs' threads make, or overwrite what they read, take each
// later stage once the team has met after the stage before. The cells' arithmetic is that of
// separate sweeps of the whole grid, pass after pass; the masses the negative cells took are
// summed in blocks of neg_mass_block_cells in block order, each pass apart, so the result is
// the same bits on any number of threads.
double both_passes(const ov_constit_view& v, const ov_pass_arrays& first,
                   const ov_pass_arrays& second, int reach) {
  const int n = v.cell_count;
  if (n < 1) return 0.0;
  const int team = team_size(n);
  const int blocks = (n + sweep_block_cells - 1) / sweep_block_cells;
  const int lag = std::max(1, (reach + sweep_block_cells - 1) / sweep_block_cells);
  const size_t sum_blocks =
      static_cast<size_t>((n + neg_mass_block_cells - 1) / neg_mass_block_cells);
  // The negative masses' parts of the first pass, then of the second.
  std::vector<double> parts(2 * sum_blocks);
  auto first_of = [](int b) { return 1 + b * sweep_block_cells; };
  auto last_of = [n](int b) { return std::min(n, (b + 1) * sweep_block_cells); };
  auto update = [&](const ov_pass_arrays& p, double* pass_parts, int b) {
    const int last_cell = last_of(b);
    for (int lo = first_of(b); lo <= last_cell; lo += neg_mass_block_cells) {
      const int hi = std::min(last_cell, lo + neg_mass_block_cells - 1);
      // The cells are looked at again only when one of them came out negative.
      const bool negative = ov_pass_update_wide(v, p, v.face_corr, v.mass, v.conc, lo, hi);
      double part = 0.0;
      for (int i = lo; negative && i <= hi; ++i) {
        if (v.mass[i] < 0.0 && !held(v, i)) {
          part -= v.mass[i];
          v.mass[i] = 0.0;
          v.conc[i] = 0.0;
        }
      }
      pass_parts[(lo - 1) / neg_mass_block_cells] = part;
    }
  };
  // Stage g (0..7) of block b.
  auto stage = [&](int g, int b) {
    const ov_pass_arrays& p = g < 4 ? first : second;
    switch (g % 4) {
      case 0:
        ov_pass_faces_wide(v, p, v.conc, nullptr, v.face, first_of(b), last_of(b));
        break;
      case 1:
        ov_pass_update_wide(v, p, v.face, nullptr, v.pred_conc, first_of(b), last_of(b));
        break;
      case 2:
        ov_pass_faces_wide(v, p, v.pred_conc, v.face, v.face_corr, first_of(b), last_of(b));
        break;
      default:
        update(p, parts.data() + (g < 4 ? 0 : sum_blocks), b);
        break;
    }
  };
  constexpr int stages = 8;
#pragma omp parallel num_threads(team)
  {
    const int threads = omp_get_num_threads();
    const int t = omp_get_thread_num();
    // This thread's run of blocks a..e (none when a > e); stage g of its blocks a + g lag ..
    // e - g lag in the sweep, of the others after the team has met.
    const int a = static_cast<int>(static_cast<long>(blocks) * t / threads);
    const int e = static_cast<int>(static_cast<long>(blocks) * (t + 1) / threads) - 1;
    auto in_sweep = [&](int g, int k) { return k >= a + g * lag && k <= e - g * lag; };
    for (int s = a; s <= e + (stages - 1) * lag; ++s) {
      for (int g = 0; g < stages; ++g) {
        const int k = s - g * lag;
        if (in_sweep(g, k)) stage(g, k);
      }
    }
    for (int g = 1; g < stages; ++g) {
#pragma omp barrier
      for (int k = a; k <= e; ++k)
        if (!in_sweep(g, k)) stage(g, k);
    }
  }
  double added = 0.0;
  for (size_t b = 0; b < sum_blocks; ++b) added += parts[b];
  double added_second = 0.0;
  for (size_t b = sum_blocks; b < 2 * sum_blocks; ++b) added_second += parts[b];
  return added + added_second;
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

bool ov_pass_update_scalar(const ov_constit_view& v, const ov_pass_arrays& p, const double* face,
                           double* mass, double* conc, int lo, int hi) {
  bool negative = false;
  for (int i = lo; i <= hi; ++i) {
    const int b = p.down[i];
    const double out = b != 0 ? face[b] : 0.0;
    const double m = v.mass[i] + v.dt * (face[i] - out + 0.5 * v.source[i]);
    if (mass != nullptr) mass[i] = m;
    conc[i] = cell_conc(v, m, i);
    negative = negative || m < 0.0;
  }
  return negative;
}

double ov_constit_flux(const ov_constit_view& v) {
  const ov_pass_arrays vertical{v.abovecon, v.belowcon, v.flux_y};
  const ov_pass_arrays horizontal{v.leftcon, v.rightcon, v.flux_x};
  const ov_pass_arrays& first = v.sweep == 1 ? vertical : horizontal;
  const ov_pass_arrays& second = v.sweep == 1 ? horizontal : vertical;
  const int reach = v.reach > 0 ? v.reach : ov_constit_reach(v);
  return both_passes(v, first, second, reach);
}

int ov_constit_reach(const ov_constit_view& v) {
  const int n = v.cell_count;
  int reach = 0;
  for (const int* link : {v.abovecon, v.belowcon, v.leftcon, v.rightcon})
    reach = std::max(reach, link_reach(link, n));
  return reach;
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
