// The event books of the nutrient sub-model: at each event's start (the event set-up) the run
// totals and stocks of the species on the plane and in the channels and of the soil pools are
// taken; at the event's end the summary forms each species' and pool's event terms as the
// change since then.
#include "framework/model_state.h"
#include "transport/nutrients/nsm_kernels.h"
#include "transport/transport_steps.h"

namespace {

double total_at(const guarded_array<double>& a, int c) {
  return c >= 1 && c <= a.upper() ? a[c] : 0.0;
}

// The overland water's mass of constituent c (kg).
double ov_mass(const model_state& ms, int c) {
  double m = 0.0;
  for (int cell = 1; cell <= ms.cell_count; ++cell) m += ms.transport.ov_contam_mass[c][cell];
  return m / 1000.0;
}

// The channels' mass of constituent c (kg), with what the plane handed them that the routing
// has not applied yet.
double chan_mass(const model_state& ms, int c) {
  const transport_state& tr = ms.transport;
  const chan_contam_tables& cc = tr.chan_contam;
  const channel_state& ch = ms.channel;
  if (!cc.ready) return 0.0;
  double m = 0.0;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if ((ch.ltype[link] & (32 | 64 | 128)) != 0) continue;  // lakes, structures, captured
    for (int node = 1; node <= ch.nx[link]; ++node) {
      const int f = link * tr.con_node_stride + node;
      m += tr.chan_con_mass[c][f] + cc.chan_qlat_mass[c][f];
    }
  }
  return m / 1000.0;
}

double chan_total(const model_state& ms, const raw_array1d<double>& a, int c) {
  return ms.transport.chan_contam.ready && c >= 1 && c <= a.count() ? a[c] : 0.0;
}

// The run totals of constituent c's exchanges with the lakes (kg): the overland water's net gift
// to them, the overland lakes' spills, the channel lakes' outlets' gift to the channels and the
// channels' to the lakes.
struct lake_exchange {
  double ov_to = 0.0, ov_from = 0.0, chan_from = 0.0, chan_to = 0.0;
};
lake_exchange lake_totals(const model_state& ms, int c) {
  const transport_state& tr = ms.transport;
  const chan_contam_tables& cc = tr.chan_contam;
  const olake_contam_tables& oc = tr.olake_contam;
  lake_exchange e;
  if (cc.lakes >= 1) {
    e.ov_to += cc.ov_to_lakes[c];
    e.chan_from = cc.lake_to_chan[c];
    e.chan_to = cc.lake_from_chan[c] + cc.lake_nodes_total[c];
  }
  if (oc.lakes >= 1) {
    e.ov_to += oc.from_ov_total[c];
    for (int lake = 1; lake <= oc.lakes; ++lake) e.ov_to += oc.pending[c][lake] / 1000.0;
    e.ov_from = oc.spill_total[c];
  }
  return e;
}

// The soil's amount of pool p over all layers (kg).
double pool_mass(const nsm_soils& soils, int p) {
  if (soils.pool.empty()) return 0.0;
  double m = 0.0;
  for (int cell = 1; cell <= soils.cell_count; ++cell)
    for (int l = 1; l <= soils.layer_count; ++l) m += soils.pool[p][cell][l];
  return m / 1000.0;
}

// The water species partnering pool p, 0 when it has none.
int pool_species(int p) {
  for (const nsm_exchange_pair& pair : nsm_exchange_pairs)
    if (pair.pool == p) return pair.species;
  return 0;
}

}  // namespace

void nsm_event_snapshot(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr || nsm->overland.first_constituent < 1) return;
  nsm_event_start& e = nsm->event_start;
  const chan_contam_tables& cc = tr.chan_contam;
  for (int k = 1; k <= nsm_species_count; ++k) {
    const int c = nsm->overland.first_constituent + k - 1;
    e.ov_mass[k] = ov_mass(ms, c);
    e.ov_point[k] = total_at(tr.OV_POINT_MASS, c);
    e.ov_exfil[k] = total_at(tr.OV_EXFIL_MASS, c);
    e.ov_precip[k] = total_at(tr.OV_PRECIP_MASS, c);
    e.ov_uptake[k] = total_at(tr.OV_UPTAKE_MASS, c);
    e.ov_infil[k] = total_at(tr.OV_INFIL_MASS, c);
    e.ov_out[k] = total_at(tr.OV_MASS_OUT, c);
    e.ov_qlat[k] = total_at(tr.OV_QLAT_MASS, c);
    e.ov_neg[k] = has(tr.contam.neg_mass_total, c) ? tr.contam.neg_mass_total[c] : 0.0;
    e.chan_mass[k] = chan_mass(ms, c);
    e.chan_in[k] = chan_total(ms, cc.qlat_total, c);
    e.chan_out[k] = chan_total(ms, cc.out_total, c);
    e.chan_restored[k] = chan_total(ms, cc.restored, c);
    e.chan_ground[k] = chan_total(ms, cc.gw_total, c);
    e.chan_point[k] = chan_total(ms, cc.point_total, c);
    const lake_exchange x = lake_totals(ms, c);
    e.ov_to_lakes[k] = x.ov_to;
    e.ov_from_lakes[k] = x.ov_from;
    e.chan_from_lakes[k] = x.chan_from;
    e.chan_to_lakes[k] = x.chan_to;
    e.soil_in[k] = nsm->soils.species_in[k] / 1000.0;
    e.soil_out[k] = nsm->soils.species_out[k] / 1000.0;
  }
  for (int p = 1; p <= nsm_pool_count; ++p) e.pool[p] = pool_mass(nsm->soils, p);
}

nsm_event_species_books nsm_event_species(const model_state& ms, int k) {
  nsm_event_species_books b;
  const transport_state& tr = ms.transport;
  const nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr || nsm->overland.first_constituent < 1 || k < 1 || k > nsm_species_count)
    return b;
  const nsm_event_start& e = nsm->event_start;
  const chan_contam_tables& cc = tr.chan_contam;
  const int c = nsm->overland.first_constituent + k - 1;
  b.ov_init = e.ov_mass[k];
  b.ov_final = ov_mass(ms, c);
  b.ov_point = total_at(tr.OV_POINT_MASS, c) - e.ov_point[k];
  b.ov_exfil = total_at(tr.OV_EXFIL_MASS, c) - e.ov_exfil[k];
  b.ov_precip = total_at(tr.OV_PRECIP_MASS, c) - e.ov_precip[k];
  b.ov_uptake = total_at(tr.OV_UPTAKE_MASS, c) - e.ov_uptake[k];
  b.ov_infil = total_at(tr.OV_INFIL_MASS, c) - e.ov_infil[k];
  b.ov_out = total_at(tr.OV_MASS_OUT, c) - e.ov_out[k];
  b.ov_qlat = total_at(tr.OV_QLAT_MASS, c) - e.ov_qlat[k];
  b.ov_neg = (has(tr.contam.neg_mass_total, c) ? tr.contam.neg_mass_total[c] : 0.0) - e.ov_neg[k];
  b.chan_init = e.chan_mass[k];
  b.chan_final = chan_mass(ms, c);
  b.chan_in = chan_total(ms, cc.qlat_total, c) - e.chan_in[k];
  b.chan_out = chan_total(ms, cc.out_total, c) - e.chan_out[k];
  b.chan_restored = chan_total(ms, cc.restored, c) - e.chan_restored[k];
  b.chan_ground = chan_total(ms, cc.gw_total, c) - e.chan_ground[k];
  b.chan_point = chan_total(ms, cc.point_total, c) - e.chan_point[k];
  b.lakes = tr.chan_contam.lakes >= 1 || tr.olake_contam.lakes >= 1;
  const lake_exchange x = lake_totals(ms, c);
  b.ov_to_lakes = x.ov_to - e.ov_to_lakes[k];
  b.ov_from_lakes = x.ov_from - e.ov_from_lakes[k];
  b.chan_from_lakes = x.chan_from - e.chan_from_lakes[k];
  b.chan_to_lakes = x.chan_to - e.chan_to_lakes[k];
  return b;
}

nsm_event_pool_books nsm_event_pool(const model_state& ms, int p) {
  nsm_event_pool_books b;
  const nsm_model* nsm = ms.transport.nsm.get();
  if (nsm == nullptr || p < 1 || p > nsm_pool_count) return b;
  const nsm_event_start& e = nsm->event_start;
  b.init = e.pool[p];
  b.final_mass = pool_mass(nsm->soils, p);
  const int k = pool_species(p);
  if (k > 0) {
    b.infil = nsm->soils.species_in[k] / 1000.0 - e.soil_in[k];
    b.from_soil = nsm->soils.species_out[k] / 1000.0 - e.soil_out[k];
  }
  return b;
}
