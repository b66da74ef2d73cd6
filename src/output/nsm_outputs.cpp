// Nutrient outputs: the map objects of the overland species and of total nitrogen and
// phosphorus, set up at run start and written at the map interval, and the outlet series of the
// species written at the hydrograph interval.
#include "output/nsm_outputs.h"

#include <cstdio>
#include <string>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "output/map_output.h"
#include "transport/transport_steps.h"

namespace {

constexpr const char* map_titles[9] = {"no2", "no3", "nh4", "on", "op", "dp", "alg", "cbod", "do"};
constexpr int mass_ids[9] = {1025, 1028, 1031, 1034, 1037, 1040, 1046, 1049, 1052};
constexpr int conc_ids[9] = {1026, 1029, 1032, 1035, 1038, 1041, 1047, 1050, 1053};

// Link/node dataset kinds of the channel species (mass 7 + k, concentration 16 + k for species
// k = 1..9) and of the channel totals.
constexpr int linknode_kind_species_mass = 7;
constexpr int linknode_kind_species_conc = 16;
constexpr int linknode_kind_total[3] = {28, 29, 30};

// The channel objects of the stream species and totals asked for: the totals from the stream
// medium's result tables (multiplied by 1000 when written), the species from the channel
// constituent tables (masses divided by 1000 when written).
void setup_nsm_channel_outputs(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  output_state& out = ms.output;
  channel_state& ch = ms.channel;
  if (!tr.chan_con_trans || !ch.chan_explic) return;
  alloc_channel_contaminants(ms);
  if (run_error.error_fatal || tr.chan_con_conc.empty()) return;
  nsm_streams_alloc(ms);
  if (run_error.error_fatal) return;
  nsm_lakes_alloc(ms);
  if (run_error.error_fatal) return;
  nsm_streams& st = nsm->streams;
  nsm_lakes& lk = nsm->lakes;
  const int* lakes = ch.lake2link.empty() ? nullptr : ch.lake2link.data();
  // With perennial lakes each object's lake links take their lake's value from the lake medium.
  const int lake_count = lk.nh3.empty() ? 0 : lk.lake_count;
  auto lake_source = [&](const double* per_lake) { return lake_count > 0 ? per_lake : nullptr; };
  struct total {
    int given;
    const char* name;
    file_handle& opened;  // opened with the run's files: the dataset takes its place
    raw_array2d<double>& source;
    raw_array1d<double>& lake_total;
  };
  const total totals[3] = {{ms.cards.total_chan_n_given, ms.cards.total_chan_n,
                            out.total_chan_n_file, st.total_n, lk.total_n},
                           {ms.cards.total_chan_kn_given, ms.cards.total_chan_kn,
                            out.total_chan_kn_file, st.total_kn, lk.total_kn},
                           {ms.cards.total_chan_p_given, ms.cards.total_chan_p,
                            out.total_chan_p_file, st.total_p, lk.total_p}};
  for (int t = 0; t < 3; ++t) {
    if (!totals[t].given) continue;
    file_handle_close(totals[t].opened);
    linknode_output& o = out.nsm_total_linknode[t];
    linknode_output_init_table(o, linknode_kind_total[t], totals[t].source.row_table(),
                               ch.nx1.data(), ch.nx1.data(), ch.ltype.data(), nullptr, lakes,
                               lake_source(totals[t].lake_total.data()), lake_count,
                               ch.chan_link_count, st.max_nodes);
    linknode_output_open(o, totals[t].name, "", "", 1000.0);
  }
  for (int k = 0; k < nsm_species_count; ++k) {
    if (nsm->st_out[k].on != 1) continue;
    const int c = st.first_constituent + k;
    const char* name = nsm->st_out[k].base_name;
    linknode_output& mass = out.nsm_species_linknode[k][0];
    linknode_output& conc = out.nsm_species_linknode[k][1];
    linknode_output_init_flat(mass, linknode_kind_species_mass + k + 1, tr.chan_con_mass[c],
                              ch.nx1.data(), ch.nx1.data(), ch.ltype.data(), nullptr, lakes,
                              lake_count > 0 ? lk.mass[k + 1] : nullptr, lake_count,
                              ch.chan_link_count, tr.con_node_stride);
    linknode_output_open(mass, name, ".mass", "", 1000.0);
    linknode_output_init_flat(conc, linknode_kind_species_conc + k + 1, tr.chan_con_conc[c],
                              ch.nx1.data(), ch.nx1.data(), ch.ltype.data(), nullptr, lakes,
                              lake_count > 0 ? lk.conc[k + 1] : nullptr, lake_count,
                              ch.chan_link_count, tr.con_node_stride);
    linknode_output_open(conc, name, ".conc", "", 1.0);
  }
}

}  // namespace

void setup_nsm_total_maps(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (!tr.nutrients || nsm == nullptr || nsm->overland.first_constituent < 1) return;
  output_state& out = ms.output;
  const nsm_overland& ov = nsm->overland;
  if (ms.cards.total_ov_n_given)
    open_run_map(ms, out.nsm_total_maps[0], ov.total_n.data(), ms.cards.total_ov_n, "", 1055,
                 "Total_ov_N");
  if (ms.cards.total_ov_p_given)
    open_run_map(ms, out.nsm_total_maps[1], ov.total_p.data(), ms.cards.total_ov_p, "", 1056,
                 "Total_ov_P");
  setup_nsm_channel_outputs(ms);
  if (run_error.error_fatal) return;
  for (int k = 0; k < nsm_species_count; ++k) {
    if (nsm->ov_out[k].on != 1) continue;
    const int c = ov.first_constituent + k;
    const std::string prefix = std::string("OV_") + map_titles[k];
    open_run_map(ms, out.nsm_species_maps[k][0], tr.ov_contam_mass[c], nsm->ov_out[k].base_name,
                 ".mass", mass_ids[k], (prefix + "_mass").c_str());
    open_run_map(ms, out.nsm_species_maps[k][1], tr.ov_contam_conc[c], nsm->ov_out[k].base_name,
                 ".conc", conc_ids[k], (prefix + "_conc").c_str());
    if (run_error.error_fatal) return;
  }
}

void write_nsm_outlet_series(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (!tr.nutrients || nsm == nullptr || nsm->overland.first_constituent < 1) return;
  const double time = ms.strict_julian_date ? ms.current_time : ms.elapsed_minutes;
  const int o = ms.outlet_cell;
  for (int k = 0; k < nsm_species_count; ++k) {
    if (nsm->hyd_out[k].on != 1) continue;
    const int c = nsm->overland.first_constituent + k;
    double conc = o >= 1 && o <= ms.cell_count ? tr.ov_contam_conc[c][o] : 0.0;
    double mass = c <= tr.OV_MASS_OUT.upper() ? tr.OV_MASS_OUT[c] : 0.0;
    // In a channel network the watershed drains through the last link's last node: its water's
    // concentration, and what left there added to what left over the plane's outlet.
    const chan_contam_tables& cc = tr.chan_contam;
    const channel_state& ch = ms.channel;
    if (cc.ready && ch.chan_link_count >= 1 && ch.nx[ch.chan_link_count] >= 1) {
      const int last = ch.chan_link_count;
      conc = tr.chan_con_conc[c][last * tr.con_node_stride + ch.nx[last]];
      if (c <= cc.out_total.count()) mass += cc.out_total[c];
      if (c <= cc.lake_out_total.count()) mass += cc.lake_out_total[c];
    }
    if (nsm->hyd_conc_file[k].fp != nullptr)
      fprintf(nsm->hyd_conc_file[k].fp, "%16.8lf %11.4lf\n", time, conc);
    if (nsm->hyd_mass_file[k].fp != nullptr)
      fprintf(nsm->hyd_mass_file[k].fp, "%16.8lf %11.4lf\n", time, mass);
    if (!file_handle_write_check(nsm->hyd_conc_file[k]) ||
        !file_handle_write_check(nsm->hyd_mass_file[k]))
      return;
  }
}

void write_nsm_step_outputs(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (!tr.nutrients || nsm == nullptr) return;
  output_state& out = ms.output;
  nsm_lakes_results(ms);
  nsm_overland_results(ms);
  for (map_output& m : out.nsm_total_maps) write_map(m, ms.elapsed_minutes);
  nsm_streams_results(ms);
  for (linknode_output& o : out.nsm_total_linknode)
    if (o.source_mode != linknode_source_none) linknode_output_write_step(o);
  for (int k = 0; k < nsm_species_count; ++k) {
    for (map_output& m : out.nsm_species_maps[k]) write_map(m, ms.elapsed_minutes);
    for (linknode_output& o : out.nsm_species_linknode[k])
      if (o.source_mode != linknode_source_none) linknode_output_write_step(o);
  }
}
