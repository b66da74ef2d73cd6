// The nutrient sub-model in the channel network: the stream medium's water chemistry and result
// tables (made by the nutrient output set-up or the channel constituent set-up, whichever comes
// first), the species' initial stream concentrations and masses (ST_INIT_<species>, after the
// channel constituents' own start) and the un-ionised ammonia and nitrogen and phosphorus totals
// of every node for the channel outputs. The species themselves are rows of the channel
// constituent tables and move with the channel constituent routing.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "input/input_steps.h"
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
  nsm_lakes_alloc(ms);
  if (run_error.error_fatal) return;
  const channel_state& ch = ms.channel;
  nsm_streams& st = nsm->streams;
  chan_contam_tables& cc = tr.chan_contam;
  const int links = ch.chan_link_count;

  // The stream mapping tables present: nitrogen (NO2, NO3, NH4, ON), phosphorus (OP, DP; the
  // third column is not a species) and the others (ALG, CBOD, DO), per link and node.
  raw_array2d<double> staging[nsm_species_count + 1];
  bool filled[nsm_species_count + 1] = {};
  const struct {
    int kind;
    int species[4];  // destination of each column, 0 for none
  } tables[] = {{stream_table_nsm_n, {nsm_no2, nsm_no3, nsm_nh4, nsm_on}},
                {stream_table_nsm_p, {nsm_op, nsm_dp, 0, 0}},
                {stream_table_nsm_oth, {nsm_alg, nsm_cbod, nsm_do, 0}}};
  for (const auto& t : tables) {
    const int flag = stream_table_flag_index(t.kind);
    if (!ms.input.st_mapping_table_on || flag < 0 || !ms.input.stream_table_present[flag]) continue;
    raw_array2d<double>* out[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int col = 0; col < 4; ++col) {
      const int k = t.species[col];
      if (k == 0) continue;
      if (!staging[k].allocate(links, st.max_nodes)) {
        raw_report_alloc_failure("NSM Streams");
        return stop_now();
      }
      out[col] = &staging[k];
    }
    if (!read_stream_table(ms.input.names.st_mapping_table, t.kind, out[0], out[1], out[2], out[3],
                           links, st.max_nodes, ch.nx) ||
        run_error.error_fatal)
      return;
    for (int k : t.species)
      if (k != 0) filled[k] = true;
  }

  for (int k = 1; k <= nsm_species_count; ++k) {
    const nsm_init_setting& s = nsm->st_init[k - 1];
    const char* name = nsm_constituent_name(k - 1, false);
    const int c = st.first_constituent + k - 1;
    // The concentration of each node of a stream link, by the setting.
    raw_array2d<double> mapped;
    switch (s.mode) {
      case 3:
        if (!ms.super_quiet)
          printf("Assigning spatially uniform parameters for the stream constituent %s\n", name);
        break;
      case 2:
        if (!filled[k]) {
          report_file_error_now(err_nutrient_stream_table_missing, name, nullptr);
          return;
        }
        if (!ms.super_quiet)
          printf("Assigning parameters for the stream constituent %s from the mapping table.\n",
                 name);
        break;
      case 1: {
        file_handle probe;
        if (!file_handle_open(probe, s.map_file, "r")) {
          printf(
              "Error opening initial condition continuous map file \nfor the stream %s "
              "constituent. \nGiven filename: %s\n",
              name, s.map_file);
          report_file_error_now(err_nutrient_file_not_open, nullptr, s.map_file);
          return;
        }
        file_handle_close(probe);
        if (!ms.super_quiet)
          printf("Assigning parameters from a continuous map for the stream constituent %s\n",
                 name);
        if (!mapped.allocate(links, st.max_nodes)) {
          raw_report_alloc_failure("NSM Streams");
          return stop_now();
        }
        const int result =
            read_stream_index_map(s.map_file, links, st.max_nodes, ch.nx, nullptr, &mapped, 2);
        if (result != 0) {
          report_stream_index_map_failure(result, s.map_file);
          return;
        }
        break;
      }
      default:
        continue;
    }
    // Every node of every stream link takes its value, and the mass of its water at the start
    // (flow area times node length) at that concentration.
    double total = 0.0;
    for (int link = 1; link <= links; ++link) {
      if (!stream_link(ch.ltype[link])) continue;
      for (int node = 1; node <= ch.nx[link]; ++node) {
        const double v = s.mode == 3   ? s.value
                         : s.mode == 2 ? staging[k][link][node]
                                       : mapped[link][node];
        if (!std::isfinite(v) || v < 0.0) {
          stop_with_message(
              "Error: the stream nutrient input gives node %d of link %d the %s value %g; it "
              "must be a number of at least 0.\n",
              node, link, name, v);
          return;
        }
        const int f = link * st.stride + node;
        tr.chan_con_conc[c][f] = v;
        tr.chan_con_mass[c][f] = ch.area(link, node) * ch.dx[link] * v;
        total += tr.chan_con_mass[c][f];
      }
    }
    st.initial[k] = total / 1000.0;
    cc.init_total[c] += total / 1000.0;
    tr.GLOBAL_MASS_INIT[c] += total / 1000.0;
    // The channel lakes take a uniform value over their starting water; a value given node by
    // node leaves them clean.
    if (s.mode != 3 || cc.lakes < 1) continue;
    double in_lakes = 0.0;
    for (int lake = 1; lake <= cc.lakes; ++lake) {
      const double volume = std::max(ch.lake_volume[lake], 0.0);
      cc.lake_conc[c][lake] = volume > 1e-16 ? s.value : 0.0;
      tr.lake_mass[c][lake] = cc.lake_conc[c][lake] * volume;
      in_lakes += tr.lake_mass[c][lake];
    }
    cc.lake_init_total[c] += in_lakes / 1000.0;
    tr.GLOBAL_MASS_INIT[c] += in_lakes / 1000.0;
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
