// Constituents in the soil column, the time-loop step after infiltration: each carrier layer's
// mass is split between pore water and soil solids by linear partitioning, its dissolved part
// decays, and layer 1 takes what infiltration brought down and gives what the overland water
// took up; the step's masses go to the soil totals. The single-layer Green and Ampt soil carries
// one layer with no water passing below it; the layered soil carries two or three, between
// which the water draining out of the soil's layers carries the pore water down and out of the
// column to the groundwater. With SOIL_STATIC_CONC the layers keep their masses and the step
// only books what moved.
#include <algorithm>
#include <cmath>

#include "framework/core/block_sum.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "subsurface/subsurface_steps.h"
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

// What a block of cells of the layered soil moved in the step (g).
struct layered_terms {
  double decayed;
  double infiltrated;
  double taken_up;
  double seep_down;
};

// The step over the layered soil: the water each cell's carrier layers hold and the water that
// drained out of the soil's layers since the last step, then every constituent of the table
// through its column.
void layered_soil_step(model_state& ms, double dt) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  const int n = ms.cell_count;
  const double area = ms.gridsize * ms.gridsize;
  const int top = ct.soil_contam_layers;
  fill_layered_theta(ms);
  // The drainage of the step (m): the soil's layer-1 drainage leaves the mixing layer and the
  // rest of layer 1, its layer-2 drainage the last carrier.
  for (int cell = 1; cell <= n; ++cell) {
    const layered_soil_water w = layered_soil_water_of(ms, cell);
    const double t = w.drained_top_cm - ct.drain_top_seen[cell];
    const double b = w.drained_bottom_cm - ct.drain_bottom_seen[cell];
    ct.drain_top_seen[cell] = w.drained_top_cm;
    ct.drain_bottom_seen[cell] = w.drained_bottom_cm;
    // A drainage that starts again from 0 (a new event's front) counts from there.
    ct.drain_top[cell] = (t >= 0.0 ? t : w.drained_top_cm) / 100.0;
    ct.drain_bottom[cell] = (b >= 0.0 ? b : w.drained_bottom_cm) / 100.0;
  }
  for (int c = 1; c <= tr.num_contaminants; ++c) {
    if (tr.constituent_type[c] != 1) continue;
    double** mass = tr.soil_mass.plane(c);
    double** conc = tr.soil_conc.plane(c);
    const auto fd = ct.soil_frac_dissolved[c];
    const double* kd = ct.contam_partition_coef[c];
    const double* k = ct.soil_decay_coef[c];
    double* infil = ct.soil_infil_mass[c];
    double* uptake = ct.soil_uptake_mass[c];
    double* land = tr.ov_land_mass[c];
    const bool fixed = tr.soil_static_conc != 0;
    const layered_terms none{};
    const layered_terms moved = block_ordered_sum<soil_block_cells, layered_terms>(
        n, none,
        [&](int first, int last) {
          layered_terms part{};
          for (int cell = first; cell <= last; ++cell) {
            const int layers = ct.carrier_layers[cell];
            double drained[4] = {};
            for (int l = 1; l < layers; ++l) drained[l] = ct.drain_top[cell];
            drained[layers] = ct.drain_bottom[cell];
            soil_column_view v;
            v.layers = layers;
            v.area = area;
            v.dt = dt;
            v.fixed = fixed;
            v.kd = kd[cell];
            v.decay = k[cell];
            v.infil = infil[cell];
            v.uptake = uptake[cell];
            v.thickness = ct.carrier_thickness[cell];
            v.porosity = ct.carrier_porosity[cell];
            v.theta = ct.theta[cell];
            v.drained = drained;
            v.mass = mass[cell];
            v.conc = conc[cell];
            v.frac_dissolved = fd[cell];
            const soil_column_moved m = soil_column_step(v);
            part.decayed += m.decayed;
            part.seep_down += m.seep_down;
            part.infiltrated += infil[cell];
            part.taken_up += uptake[cell];
            infil[cell] = 0.0;
            uptake[cell] = 0.0;
            double total = 0.0;
            for (int l = 1; l <= top; ++l) total += mass[cell][l];
            land[cell] = total;
          }
          return part;
        },
        [](layered_terms& t, const layered_terms& p) {
          t.decayed += p.decayed;
          t.infiltrated += p.infiltrated;
          t.taken_up += p.taken_up;
          t.seep_down += p.seep_down;
        });
    ct.soil_decay_total[c] += moved.decayed / 1000.0;
    tr.GLOBAL_MASS_DECAY[c] += moved.decayed / 1000.0;
    ct.soil_infil_total[c] += moved.infiltrated / 1000.0;
    ct.soil_uptake_total[c] += moved.taken_up / 1000.0;
    ct.soil_seep_down_total[c] += moved.seep_down / 1000.0;
    tr.GLOBAL_MASS_OUT[c] += moved.seep_down / 1000.0;
  }
}

}  // namespace

void fill_layered_theta(model_state& ms) {
  contam_tables& ct = ms.transport.contam;
  const subsurface_state& ss = ms.subsurface;
  if (ct.carrier_layers.empty() || ct.theta.empty()) return;
  for (int cell = 1; cell <= ms.cell_count; ++cell) {
    const soil_table_record& r = ss.soil_types[has(ss.soiltype, cell) ? ss.soiltype[cell] : 0];
    const layered_soil_water w = layered_soil_water_of(ms, cell);
    double theta[4] = {};
    soil_layer_water_content(w.upper_cm, w.lower_cm, w.table_depth_cm, ct.carrier_thickness[cell],
                             ct.carrier_layers[cell], r.layer_porosity[0], r.layer_porosity[1],
                             theta);
    for (int l = 1; l <= ct.soil_contam_layers; ++l)
      ct.theta[cell][l] = l <= ct.carrier_layers[cell] ? theta[l] : 0.0;
  }
}

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
  if (!ct.carrier_layers.empty()) {
    layered_soil_step(ms, dt);
    if (tr.nutrients) nsm_soil_step(ms);
    return;
  }
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
