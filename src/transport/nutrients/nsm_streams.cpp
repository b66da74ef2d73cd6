// The nutrient sub-model in the channel network: the stream medium's water chemistry and result
// tables (made by the nutrient output set-up or the channel constituent set-up, whichever comes
// first), the species' initial stream concentrations and masses (ST_INIT_<species>, after the
// channel constituents' own start) and the un-ionised ammonia and nitrogen and phosphorus totals
// of every node for the channel outputs. The species themselves are rows of the channel
// constituent tables and move with the channel constituent routing.
#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "transport/contaminants/chan_contam_kernels.h"
#include "transport/nutrients/nsm_kernels.h"
#include "transport/transport_steps.h"

namespace {

// The links whose nodes carry stream nutrients: channel links (trapezoid, break-point and
// bit-16 links) that the channel constituent routing moves.
bool stream_link(int ltype) {
  return (ltype & (4 | 8 | 16)) != 0 && chan_link_routed(ltype);
}

}  // namespace

void nsm_streams_alloc(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr || !tr.chan_con_trans || tr.chan_con_conc.empty()) return;
  nsm_streams& st = nsm->streams;
  if (!st.total_n.empty()) return;  // made already
  if (!ms.super_quiet) printf("Allocating memory for NSM Streams...");
  st.link_count = ms.channel.chan_link_count;
  st.stride = tr.con_node_stride;
  st.max_nodes = tr.con_node_stride - 1;
  st.first_constituent = nsm->overland.first_constituent;
  st.water_temp = ms.cards.water_temp;
  st.ka = nsm_ammonia_ka(st.water_temp);
  st.ph = ms.cards.chan_ph;
  st.h_ion = std::pow(10.0, -st.ph);
  for (raw_array2d<double>* t : {&st.nh3, &st.total_n, &st.total_kn, &st.total_p}) {
    if (!t->allocate(st.max_nodes, st.link_count)) {
      raw_report_alloc_failure("NSM Streams");
      return stop_now();
    }
  }
  if (!ms.super_quiet) printf("Done\n");
}

void nsm_assign_stream_constituents(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr || !tr.chan_contam.ready) return;
  nsm_streams_alloc(ms);
  if (run_error.error_fatal) return;
  const channel_state& ch = ms.channel;
  nsm_streams& st = nsm->streams;
  chan_contam_tables& cc = tr.chan_contam;
  for (int k = 1; k <= nsm_species_count; ++k) {
    const nsm_init_setting& s = nsm->st_init[k - 1];
    const int c = st.first_constituent + k - 1;
    double total = 0.0;
    // A uniform value: every node of every stream link holds it, its mass the value times the
    // node's water (flow area at the start times the node length).
    if (s.mode == 3) {
      if (!ms.super_quiet)
        printf("Assigning spatially uniform parameters for the stream constituent %s\n",
               nsm_constituent_name(k - 1, false));
      for (int link = 1; link <= ch.chan_link_count; ++link) {
        if (!stream_link(ch.ltype[link])) continue;
        for (int node = 1; node <= ch.nx[link]; ++node) {
          const int f = link * st.stride + node;
          tr.chan_con_conc[c][f] = s.value;
          tr.chan_con_mass[c][f] = ch.area(link, node) * ch.dx[link] * s.value;
          total += tr.chan_con_mass[c][f];
        }
      }
    }
    st.initial[k] = total / 1000.0;
    cc.init_total[c] += total / 1000.0;
    tr.GLOBAL_MASS_INIT[c] += total / 1000.0;
  }
}

void nsm_streams_results(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr || nsm->streams.total_n.empty() || !tr.chan_contam.ready) return;
  const channel_state& ch = ms.channel;
  nsm_streams& st = nsm->streams;
  auto row = [&](int species) { return tr.chan_con_mass[st.first_constituent + species - 1]; };
  const double* no2 = row(nsm_no2);
  const double* no3 = row(nsm_no3);
  const double* nh4 = row(nsm_nh4);
  const double* on = row(nsm_on);
  const double* op = row(nsm_op);
  const double* dp = row(nsm_dp);
  for (int link = 1; link <= st.link_count; ++link) {
    if (!stream_link(ch.ltype[link])) continue;
    for (int node = 1; node <= ch.nx[link] && node <= st.max_nodes; ++node) {
      const int f = link * st.stride + node;
      const double v = ch.area(link, node) * ch.dx[link];
      const double nh3 = nsm_nh3_mass(nh4[f], v, st.ka, st.h_ion, nsm_min_nh4_molar_stream);
      st.nh3[node][link] = nh3;
      st.total_n[node][link] = no2[f] + no3[f] + nh4[f] + on[f] + nh3;
      st.total_kn[node][link] = nh4[f] + on[f] + nh3;
      st.total_p[node][link] = op[f] + dp[f];
    }
  }
}
