// Constituents in the soil column, the time-loop step after infiltration: each carrier layer's
// mass is split between pore water and soil solids by linear partitioning, its dissolved part
// decays, and layer 1 takes what infiltration brought down and gives what the overland water
// took up; the step's masses go to the soil totals. The single-layer Green and Ampt soil carries
// one layer with no water passing below it. With SOIL_STATIC_CONC the layers keep their masses
// and the step only books what moved.
#include <cmath>

#include "framework/core/block_sum.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "transport/contaminants/contam_kernels.h"
#include "transport/transport_steps.h"

namespace {

constexpr int soil_block_cells = 1024;

// What a block of cells moved in the step (g).
struct soil_terms {
  double decayed;
  double infiltrated;
  double taken_up;
};

}  // namespace

void soil_contam_partition_step(model_state& ms) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  if (!tr.soil_con_trans || !tr.ov_con_trans || tr.num_contaminants <= 0) return;
  // The soil step follows the infiltration clock: it runs in each pass in which infiltration ran.
  const double now = ms.current_time;
  if (!(std::fabs(ms.infil_clock.last - now) < ms.time_tolerance)) return;
  if (ct.soil_clock_ready && std::fabs(ct.soil_last - now) < ms.time_tolerance) return;
  const double dt = ct.soil_clock_ready ? (now - ct.soil_last) * seconds_per_day
                                        : ms.infil_clock.interval_seconds;
  ct.soil_clock_ready = 1;
  ct.soil_last = now;
  const int n = ms.cell_count;
  const double area = ms.gridsize * ms.gridsize;
  const subsurface_state& ss = ms.subsurface;
  // The single-layer scheme keeps no moisture profile: the layer holds the soil's moisture, and
  // with redistribution (long-term runs) the surface water content the soil account keeps.
  const raw_array1d<double>& held =
      ss.inf_redist && holds(ss.surf_moist, n) ? ss.surf_moist : ss.theta_init;
  const double* moisture = holds(held, n) ? held.data() : nullptr;
  const double* porosity = ss.porosity_cell.data();
  const double thickness = ct.soil_layer_thickness[1];
  for (int cell = 1; cell <= n; ++cell)
    ct.theta[cell][1] = moisture != nullptr ? moisture[cell] : 0.0;

  for (int c = 1; c <= tr.num_contaminants; ++c) {
    if (tr.constituent_type[c] != 1) continue;
    double** mass = tr.soil_mass.plane(c);
    double** conc = tr.soil_conc.plane(c);
    const double* kd = ct.contam_partition_coef[c];
    const double* k = ct.soil_decay_coef[c];
    double* infil = ct.soil_infil_mass[c];
    double* uptake = ct.soil_uptake_mass[c];
    double* land = tr.ov_land_mass[c];
    raw_array3d<double>& fd_table = ct.soil_frac_dissolved;
    const bool fixed = tr.soil_static_conc != 0;
    const soil_terms none{};
    const soil_terms moved = block_ordered_sum<soil_block_cells, soil_terms>(
        n, none,
        [&](int first, int last) {
          soil_terms part{};
          for (int cell = first; cell <= last; ++cell) {
            const double theta = ct.theta[cell][1];
            const double fd = soil_dissolved_fraction(theta, kd[cell]);
            fd_table[c][cell][1] = fd;
            double m = mass[cell][1];
            // First-order decay of the dissolved part over the whole elapsed time, by its exact
            // factor: the step may span a dry spell the infiltration schedule jumped, over which
            // a rate times the time would take too much (or all) of the mass.
            const double removed = fd * m * -std::expm1(-k[cell] * dt);
            part.decayed += removed;
            // Layer 1 gives what the overland water took up and takes what infiltrated. Held at
            // fixed concentrations the layer only books what decayed, came and went.
            if (!fixed) m += infil[cell] - uptake[cell] - removed;
            part.taken_up += uptake[cell];
            part.infiltrated += infil[cell];
            uptake[cell] = 0.0;
            infil[cell] = 0.0;
            const double solids = (1.0 - porosity[cell]) * thickness * 2.65 * 1000.0 * area;
            double cm = solids > 0.0 ? m / solids * 1000.0 : 0.0;
            if (m < 0.0) m = cm = 0.0;
            mass[cell][1] = m;
            conc[cell][1] = cm;
            land[cell] = m;
          }
          return part;
        },
        [](soil_terms& t, const soil_terms& p) {
          t.decayed += p.decayed;
          t.infiltrated += p.infiltrated;
          t.taken_up += p.taken_up;
        });
    ct.soil_decay_total[c] += moved.decayed / 1000.0;
    tr.GLOBAL_MASS_DECAY[c] += moved.decayed / 1000.0;
    ct.soil_infil_total[c] += moved.infiltrated / 1000.0;
    ct.soil_uptake_total[c] += moved.taken_up / 1000.0;
  }
  if (tr.nutrients) nsm_soil_step(ms);
}
