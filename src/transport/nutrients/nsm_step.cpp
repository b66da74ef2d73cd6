// The nutrient sub-model in the time loop: the species joining the constituent list at start-up,
// the overland step that lets the top soil layer's pools release into each cell's water (at the
// constituent kinetics interval), the soil step that books into the pools what the water
// infiltrated and took up, and the ammonia and nitrogen and phosphorus results of the outputs.
#include <algorithm>
#include <cstdio>
#include <initializer_list>

#include "framework/core/error_state.h"
#include "framework/core/parallel_team.h"
#include "framework/model_state.h"
#include "transport/contaminants/chan_contam_kernels.h"
#include "transport/nutrients/nsm_kernels.h"
#include "transport/transport_steps.h"

void nsm_join_constituents(model_state& ms, int first) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr) return;
  nsm->overland.first_constituent = first;
  // The two per-constituent arrays the contaminant table reader grows for its own constituents.
  for (guarded_array<double>* a : {&tr.precip_conc, &tr.water_soil_partition_coef})
    if (a->upper() < tr.num_contaminants && !a->grow(tr.num_contaminants - a->upper()))
      return stop_now();
  // Names of the new constituents: the species, then the pools beyond them.
  if (tr.contamdescriptions.size() < static_cast<std::size_t>(tr.num_contaminants) + 1)
    tr.contamdescriptions.resize(static_cast<std::size_t>(tr.num_contaminants) + 1);
  for (int c = first; c <= tr.num_contaminants; ++c) {
    const int k = c - first;
    const char* name =
        k < nsm_species_count ? nsm_constituent_name(k, false) : nsm_constituent_name(k, true);
    tr.contamdescriptions[static_cast<std::size_t>(c)] = name != nullptr ? name : "";
  }
  if (!tr.soil_con_trans) return;
  nsm_soils& soils = nsm->soils;
  if (!ms.super_quiet) printf("Allocating memory for NSM Soils...");
  soils.cell_count = ms.cell_count;
  soils.layer_count = tr.contam.soil_contam_layers;
  if (!soils.pool.allocate(nsm_pool_count, ms.cell_count, soils.layer_count) ||
      !soils.sorption.allocate(ms.cell_count, nsm_sorption_count - 1) ||
      !soils.held.allocate(nsm_species_count, ms.cell_count)) {
    raw_report_alloc_failure("NSM Soils");
    return stop_now();
  }
  if (!ms.super_quiet) printf("Done\n");
}

void fill_nsm_layer_moisture(model_state& ms) {
  contam_tables& ct = ms.transport.contam;
  const subsurface_state& ss = ms.subsurface;
  // The layered soil's carrier layers hold their own water.
  if (!ct.carrier_layers.empty()) return fill_layered_theta(ms);
  // The single-layer soil keeps no profile: every carrier layer holds the soil's moisture, and
  // with redistribution (long-term runs) the surface water content the soil account keeps, as
  // the soil constituents' step reads it.
  const raw_array1d<double>& held =
      ss.inf_redist && holds(ss.surf_moist, ms.cell_count) ? ss.surf_moist : ss.theta_init;
  const bool known = holds(held, ms.cell_count);
  for (int cell = 1; cell <= ms.cell_count; ++cell)
    for (int l = 1; l <= ct.soil_contam_layers; ++l) ct.theta[cell][l] = known ? held[cell] : 0.0;
}

void nsm_overland_step(model_state& ms, double dt) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr || !tr.soil_con_trans || nsm->soils.pool.empty()) return;
  fill_nsm_layer_moisture(ms);
  contam_tables& ct = tr.contam;
  const int n = ms.cell_count;
  const int first = nsm->overland.first_constituent;
  const double k = nsm->soils.exchange_rate;
  const double* depth = ms.overland.ov_depth.data();
  raw_array3d<double>& pool = nsm->soils.pool;
  raw_array2d<double>& acc = ct.ov_exchange_acc;
  raw_array2d<double>& booked = ct.soil_uptake_mass;
  team_for(team_size(n), 1, n, [&](int cell) {
    for (const nsm_exchange_pair& pair : nsm_exchange_pairs) {
      const int c = first + pair.species - 1;
      // What the pool still holds once the water has taken what it was given before.
      const double left = pool[pair.pool][cell][1] - acc[c][cell] - booked[c][cell];
      acc[c][cell] += nsm_release(left, depth[cell], k, dt);
    }
  });
}

void nsm_soil_step(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr || !tr.soil_con_trans || nsm->soils.pool.empty()) return;
  contam_tables& ct = tr.contam;
  nsm_soils& soils = nsm->soils;
  const int first = nsm->overland.first_constituent;
  for (int k = 1; k <= nsm_species_count; ++k) {
    const int c = first + k - 1;
    const int partner = nsm_map_species(first, c, true);
    const int p = partner < 0 ? 0 : partner - first + 1;
    double* infil = ct.soil_infil_mass[c];
    double* uptake = ct.soil_uptake_mass[c];
    double in = 0.0;
    double out = 0.0;
    for (int cell = 1; cell <= ms.cell_count; ++cell) {
      in += infil[cell];
      out += uptake[cell];
      if (p > 0) {
        soils.pool[p][cell][1] += infil[cell] - uptake[cell];
      } else {
        soils.held[k][cell] += infil[cell] - uptake[cell];
      }
      infil[cell] = 0.0;
      uptake[cell] = 0.0;
    }
    soils.species_in[k] += in;
    soils.species_out[k] += out;
  }
}

void nsm_overland_results(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr || nsm->overland.first_constituent < 1 || nsm->overland.nh3.empty()) return;
  nsm_overland& ov = nsm->overland;
  const int first = ov.first_constituent;
  const int n = ms.cell_count;
  const double* nh4 = tr.ov_contam_mass[first + nsm_nh4 - 1];
  for (int cell = 1; cell <= n; ++cell) {
    const double v = ms.overland.ov_depth[cell] * ov.cell_area;
    ov.nh3[cell] = nsm_nh3_mass(nh4[cell], v, ov.ka, ov.h_ion, nsm_min_nh4_molar_overland);
  }
  nsm_species_masses m;
  m.no2 = tr.ov_contam_mass[first + nsm_no2 - 1];
  m.no3 = tr.ov_contam_mass[first + nsm_no3 - 1];
  m.nh4 = nh4;
  m.on = tr.ov_contam_mass[first + nsm_on - 1];
  m.op = tr.ov_contam_mass[first + nsm_op - 1];
  m.dp = tr.ov_contam_mass[first + nsm_dp - 1];
  m.nh3 = ov.nh3.data();
  const std::size_t size = static_cast<std::size_t>(n) + 1;
  nsm_totals(m, n, {ov.total_n.data(), size}, {}, {ov.total_p.data(), size});
}

namespace {

// The books of the species and pools of one element.
nsm_element_books element_books(const model_state& ms, std::initializer_list<int> species,
                                std::initializer_list<int> pools) {
  const transport_state& tr = ms.transport;
  const contam_tables& ct = tr.contam;
  nsm_element_books b;
  b.water_table = ms.subsurface.water_table_on != 0 || ms.subsurface.gw_simulation != 0;
  const nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr || nsm->overland.first_constituent < 1) return b;
  const int first = nsm->overland.first_constituent;
  const nsm_soils& soils = nsm->soils;
  const bool soil = tr.soil_con_trans != 0 && !soils.pool.empty();
  auto at = [](const guarded_array<double>& a, int c) {
    return c >= 1 && c <= a.upper() ? a[c] : 0.0;
  };
  for (int k : species) {
    const int c = first + k - 1;
    b.water_init += at(tr.OV_MASS_INIT, c);
    b.rain += at(tr.OV_PRECIP_MASS, c);
    b.exfil += at(tr.OV_EXFIL_MASS, c);
    b.out += at(tr.OV_MASS_OUT, c);
    if (!soil) b.out += at(tr.OV_INFIL_MASS, c);
    if (has(ct.neg_mass_total, c)) b.restored += ct.neg_mass_total[c];
    for (int cell = 1; cell <= ms.cell_count; ++cell) {
      b.water_final += tr.ov_contam_mass[c][cell] / 1000.0;
      b.soil_final += tr.ov_land_mass[c][cell] / 1000.0;
      if (!soil) continue;
      // What infiltrated or was taken up since the last soil step is on its way.
      b.soil_final += (ct.soil_infil_mass[c][cell] - ct.soil_uptake_mass[c][cell]) / 1000.0;
      if (nsm_map_species(first, c, true) < 0) b.soil_final += soils.held[k][cell] / 1000.0;
    }
  }
  if (soil) {
    for (int p : pools) {
      b.soil_init += soils.initial[p] / 1000.0;
      for (int cell = 1; cell <= ms.cell_count; ++cell)
        for (int l = 1; l <= soils.layer_count; ++l)
          b.soil_final += soils.pool[p][cell][l] / 1000.0;
    }
  }
  const chan_contam_tables& cc = tr.chan_contam;
  if (!cc.ready && ms.channel.chan_explic != 0) {
    b.untracked_streams = 1;
    for (int k : species) b.lost_to_stream += at(tr.OV_QLAT_MASS, first + k - 1);
  }
  if (cc.ready) {
    const channel_state& ch = ms.channel;
    b.channels = 1;
    b.ground_on = !cc.gw_total.empty() && ms.channel.stream_loss != 0;
    b.points_on = !cc.point_total.empty();
    for (int k : species) {
      const int c = first + k - 1;
      b.chan_init += cc.init_total[c];
      b.chan_out += cc.out_total[c];
      b.chan_restored += cc.restored[c];
      if (has(cc.gw_total, c)) b.chan_ground += cc.gw_total[c];
      if (has(cc.point_total, c)) b.chan_point += cc.point_total[c];
      for (int link = 1; link <= ch.chan_link_count; ++link) {
        if (!chan_link_routed(ch.ltype[link])) continue;
        for (int node = 1; node <= ch.nx[link]; ++node) {
          const int f = link * tr.con_node_stride + node;
          b.chan_final += (tr.chan_con_mass[c][f] + cc.chan_qlat_mass[c][f]) / 1000.0;
        }
      }
    }
  }
  // The channels' other bounds: what came in counts as input, what left as output.
  const double bounds_in = std::max(b.chan_ground, 0.0) + std::max(b.chan_point, 0.0);
  const double bounds_out = std::max(-b.chan_ground, 0.0) + std::max(-b.chan_point, 0.0);
  // The lakes: the channel lakes' and the overland lakes' books of the species.
  const olake_contam_tables& oc = tr.olake_contam;
  double lake_bed_in = 0.0;
  if (cc.lakes >= 1 || oc.lakes >= 1) {
    b.lakes = 1;
    for (int k : species) {
      const int c = first + k - 1;
      if (cc.lakes >= 1) {
        b.lake_init += cc.lake_init_total[c];
        b.lake_rain += cc.lake_precip_total[c];
        // What the pumps and the leaking beds took left the lakes as their outlets' water did;
        // what the ground's water brought up through the beds came in over the lakes' bounds.
        b.lake_out += cc.lake_out_total[c] + cc.lake_pump_total[c] + cc.lake_bed_out_total[c];
        lake_bed_in += cc.lake_bed_in_total[c];
        b.lake_restored += cc.lake_restored[c];
        for (int lake = 1; lake <= cc.lakes; ++lake)
          b.lake_final += (tr.lake_mass[c][lake] + cc.lake_ov_inflow_mass[c][lake]) / 1000.0;
      }
      if (oc.lakes >= 1) {
        b.lake_init += oc.init_total[c];
        b.lake_rain += oc.precip_total[c];
        b.lake_restored += oc.restored[c];
        for (int lake = 1; lake <= oc.lakes; ++lake)
          b.lake_final += (oc.mass[c][lake] + oc.pending[c][lake]) / 1000.0;
      }
    }
  }
  const double in = b.water_init + b.soil_init + b.rain + b.exfil + b.restored + b.chan_init +
                    b.chan_restored + bounds_in + lake_bed_in + b.lake_init + b.lake_rain +
                    b.lake_restored;
  const double held = b.out + b.water_final + b.soil_final + b.lost_to_stream + b.chan_out +
                      b.chan_final + bounds_out + b.lake_out + b.lake_final;
  b.error_percent = in > 1e-16 ? (in - held) / in * 100.0 : 0.0;
  return b;
}

}  // namespace

nsm_element_books nsm_nitrogen_books(const model_state& ms) {
  return element_books(
      ms, {nsm_no2, nsm_no3, nsm_nh4, nsm_on},
      {nsm_pool_nh4, nsm_pool_no3, nsm_pool_active_n, nsm_pool_fresh_n, nsm_pool_stable_n});
}

nsm_element_books nsm_phosphorus_books(const model_state& ms) {
  return element_books(ms, {nsm_op, nsm_dp},
                       {nsm_pool_mineral_active_p, nsm_pool_solution_p, nsm_pool_mineral_stable_p,
                        nsm_pool_active_p, nsm_pool_fresh_p, nsm_pool_stable_p});
}
