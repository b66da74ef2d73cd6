// The nutrient section of the end-of-run summary: the overland books of every nutrient species
// (with what the soil pools released into the water), then the nitrogen and phosphorus books of
// the whole system, water and soil pools, with their balance errors.
#include "output/nsm_summary.h"

#include <algorithm>

#include "framework/model_state.h"
#include "transport/transport_steps.h"

namespace {

double total_at(const guarded_array<double>& a, int k) {
  return k >= 1 && k <= a.upper() ? a[k] : 0.0;
}

void element_block(FILE* fp, const char* element, const nsm_element_books& b) {
  fprintf(fp, "\n \n");
  fprintf(fp, "Nutrient %s books (water and soil pools) in (Kg) \n \n", element);
  const struct {
    const char* label;
    double value;
  } lines[] = {{"Initial mass in water", b.water_init},
               {"Initial mass in soil pools", b.soil_init},
               {"Precipitation mass gain", b.rain},
               {"Mass restored to emptied cells", b.restored},
               {"Outlet mass flux", b.out},
               {"Final mass in water", b.water_final},
               {"Final mass in soil", b.soil_final}};
  for (const auto& l : lines) {
    fprintf(fp, "%-31s %22.12lf \n", l.label, l.value);
    // Over a water table, what the aquifer's water brought up follows the rain.
    if (b.water_table && l.label == lines[2].label)
      fprintf(fp, "%-31s %22.12lf \n", "Exfiltration mass gain", b.exfil);
  }
  if (b.untracked_streams)
    fprintf(fp, "%-31s %22.12lf \n", "Mass lost to stream", b.lost_to_stream);
  if (b.channels) {
    const struct {
      const char* label;
      double value;
    } channel_lines[] = {{"Initial mass in channels", b.chan_init},
                         {"Channel outlet mass flux", b.chan_out},
                         {"Mass restored to emptied nodes", b.chan_restored},
                         {"Final mass in channels", b.chan_final}};
    for (const auto& l : channel_lines) fprintf(fp, "%-31s %22.12lf \n", l.label, l.value);
    if (b.points_on)
      fprintf(fp, "%-31s %22.12lf \n", "Channel point source mass gain", b.chan_point);
    if (b.ground_on) fprintf(fp, "%-31s %22.12lf \n", "Stream bed mass gain/loss", b.chan_ground);
  }
  if (b.lakes) {
    const struct {
      const char* label;
      double value;
    } lake_lines[] = {{"Initial mass in lakes", b.lake_init},
                      {"Precipitation mass on lakes", b.lake_rain},
                      {"Lake outlet mass flux", b.lake_out},
                      {"Mass restored to emptied lakes", b.lake_restored},
                      {"Final mass in lakes", b.lake_final}};
    for (const auto& l : lake_lines) fprintf(fp, "%-31s %22.12lf \n", l.label, l.value);
  }
  fprintf(fp, "Nutrient %s balance error %16.10lf percent \n", element, b.error_percent);
}

const char* name_of(const transport_state& tr, int c) {
  const std::size_t at = static_cast<std::size_t>(c);
  return at < tr.contamdescriptions.size() ? tr.contamdescriptions[at].c_str() : "";
}

// The channel books of one species (kg): what the channels held at the start and hold now, what
// the plane handed them, what left through the channel outlet and what the routing restored to
// nodes it left negative.
void channel_block(FILE* fp, const model_state& ms, int c, const char* name) {
  const transport_state& tr = ms.transport;
  const chan_contam_tables& cc = tr.chan_contam;
  const channel_state& ch = ms.channel;
  double final_mass = 0.0;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if ((ch.ltype[link] & (32 | 64 | 128)) != 0) continue;  // lakes, structures, captured
    for (int node = 1; node <= ch.nx[link]; ++node) {
      const int f = link * tr.con_node_stride + node;
      final_mass += (tr.chan_con_mass[c][f] + cc.chan_qlat_mass[c][f]) / 1000.0;
    }
  }
  const double init = cc.init_total[c];
  const double gained = cc.qlat_total[c];
  const double out = cc.out_total[c];
  const double restored = cc.restored[c];
  const double ground = has(cc.gw_total, c) ? cc.gw_total[c] : 0.0;
  const double point = has(cc.point_total, c) ? cc.point_total[c] : 0.0;
  // The channel lakes' outlets give the links below them mass; the links ending in a lake and
  // the nodes a rising lake took give the lakes theirs.
  const bool lakes = cc.lakes >= 1;
  const double from_lakes = lakes ? cc.lake_to_chan[c] : 0.0;
  const double to_lakes = lakes ? cc.lake_from_chan[c] + cc.lake_nodes_total[c] : 0.0;
  const double in =
      init + gained + restored + std::max(ground, 0.0) + std::max(point, 0.0) + from_lakes;
  const double left = final_mass + out + std::max(-ground, 0.0) + std::max(-point, 0.0) + to_lakes;
  const double error = in > 1e-16 ? (in - left) / in * 100.0 : 0.0;
  fprintf(fp, "\n");
  fprintf(fp, "Channel Constituent Transport Summary for %s \n", name);
  fprintf(fp, "Amounts are total for simulations in (Kg) \n \n");
  fprintf(fp, "Initial Mass in Channels      %14.2lf \n", init);
  fprintf(fp, "Final Mass in Channels        %14.2lf \n \n", final_mass);
  fprintf(fp, "Mass gain from overland       %14.2lf \n", gained);
  if (!cc.point_total.empty()) fprintf(fp, "Point source mass gain        %14.2lf \n", point);
  if (ch.stream_loss) fprintf(fp, "Groundwater mass gain/loss    %14.2lf \n", ground);
  fprintf(fp, "Outlet mass flux              %14.2lf \n", out);
  fprintf(fp, "Mass restored to emptied nodes %13.2lf \n", restored);
  if (lakes) {
    fprintf(fp, "Mass gain from lakes          %14.2lf \n", from_lakes);
    fprintf(fp, "Mass loss to lakes            %14.2lf \n", to_lakes);
  }
  fprintf(fp, "\n");
  fprintf(fp, "Dissolved mass balance error       %14.4lf percent \n", error);
}

// Each channel lake's un-ionised ammonia and its nitrogen, Kjeldahl nitrogen and phosphorus
// totals at the end of the run (kg).
void lake_totals_block(FILE* fp, model_state& ms) {
  nsm_lakes_results(ms);
  const nsm_lakes& lk = ms.transport.nsm->lakes;
  if (lk.nh3.empty()) return;
  fprintf(fp, "\n \n");
  fprintf(fp, "Nutrient lake totals at the end of the run in (Kg) \n \n");
  for (int lake = 1; lake <= lk.lake_count; ++lake) {
    const struct {
      const char* label;
      double value;
    } lines[] = {{"un-ionised ammonia (NH3)", lk.nh3[lake]},
                 {"total nitrogen", lk.total_n[lake]},
                 {"total Kjeldahl nitrogen", lk.total_kn[lake]},
                 {"total phosphorus", lk.total_p[lake]}};
    for (const auto& l : lines)
      fprintf(fp, "Lake %-5d %-25s %22.12lf \n", lake, l.label, l.value / 1000.0);
  }
}

}  // namespace

void write_nsm_run_summary(FILE* fp, model_state& ms) {
  const transport_state& tr = ms.transport;
  const nsm_model* nsm = tr.nsm.get();
  if (fp == nullptr || !tr.nutrients || nsm == nullptr || nsm->overland.first_constituent < 1)
    return;
  const contam_tables& ct = tr.contam;
  const bool soil = tr.soil_con_trans != 0;
  const bool water_table = ms.subsurface.water_table_on != 0 || ms.subsurface.gw_simulation != 0;
  fprintf(fp, "\n\n *************   Nutrient Transport Summaries   **************** \n\n");
  for (int k = 1; k <= nsm_species_count; ++k) {
    const int c = nsm->overland.first_constituent + k - 1;
    double final_mass = 0.0;
    for (int cell = 1; cell <= ms.cell_count; ++cell) final_mass += tr.ov_contam_mass[c][cell];
    final_mass /= 1000.0;
    const double init = total_at(tr.OV_MASS_INIT, c);
    const double rain = total_at(tr.OV_PRECIP_MASS, c);
    const double uptake = total_at(tr.OV_UPTAKE_MASS, c);
    const double infil = total_at(tr.OV_INFIL_MASS, c);
    const double outlet = total_at(tr.OV_MASS_OUT, c);
    const double land = total_at(tr.OV_LAND_MASS, c);
    const double restored = has(ct.neg_mass_total, c) ? ct.neg_mass_total[c] : 0.0;
    const double exfil = total_at(tr.OV_EXFIL_MASS, c);
    const bool channels = tr.chan_contam.ready != 0;
    // In a channel network the stream cells hand their water's species to the channels, which
    // carry them on or, without channel constituents, take them out of the books.
    const bool streams = channels || ms.channel.chan_explic != 0;
    const double to_stream = streams ? total_at(tr.OV_QLAT_MASS, c) : 0.0;
    // What the overland water gave the lakes over their shores (net), and the overland lakes'
    // spills back.
    const chan_contam_tables& cc = tr.chan_contam;
    const olake_contam_tables& oc = tr.olake_contam;
    double to_lakes = cc.lakes >= 1 ? cc.ov_to_lakes[c] : 0.0;
    double spilled = 0.0;
    if (oc.lakes >= 1) {
      to_lakes += oc.from_ov_total[c];
      for (int lake = 1; lake <= oc.lakes; ++lake) to_lakes += oc.pending[c][lake] / 1000.0;
      spilled = oc.spill_total[c];
    }
    const double in = init + rain + uptake + restored + exfil + spilled;
    const double out = final_mass + infil + outlet + land + to_stream + to_lakes;
    const double error = in > 1e-16 ? (in - out) / in * 100.0 : 0.0;
    fprintf(fp, "\n\n");
    fprintf(fp, "Overland Constituent Transport Summary for %s \n", name_of(tr, c));
    fprintf(fp, "Amounts are total for simulations in (Kg) \n \n");
    fprintf(fp, "Initial Dissolved mass on ov  %14.2lf \n", init);
    fprintf(fp, "Final Dissolved mass on ov    %14.2lf \n", final_mass);
    fprintf(fp, "\n");
    fprintf(fp, "Point source mass gain        %14.2lf \n", 0.0);
    if (water_table) fprintf(fp, "Exfiltration mass gain        %14.2lf \n", exfil);
    fprintf(fp, "Precipitation mass gain       %14.2lf \n", rain);
    fprintf(fp, "Uptake from soil              %14.2lf \n", uptake);
    fprintf(fp, "\n");
    fprintf(fp, "Mass loss to infiltration     %14.2lf \n", infil);
    fprintf(fp, "Outlet mass flux              %14.2lf \n", outlet);
    if (streams) fprintf(fp, "Mass loss to stream           %14.2lf \n", to_stream);
    if (cc.lakes >= 1 || oc.lakes >= 1) {
      fprintf(fp, "Mass loss to lakes            %14.2lf \n", to_lakes);
      fprintf(fp, "Mass spilled from lakes       %14.2lf \n", spilled);
    }
    fprintf(fp, "Mass gained from NSM kinetics   %14.4lf \n", 0.0);
    fprintf(fp, "Mass lost to NSM kinetics       %14.4lf \n", 0.0);
    if (!soil) fprintf(fp, "Mass left on land by drying   %14.2lf \n", land);
    fprintf(fp, "Mass restored to emptied cells %13.2lf \n", restored);
    fprintf(fp, "\n");
    fprintf(fp, "Contam mass balance error       %14.4lf percent \n", error);
    if (channels) channel_block(fp, ms, c, name_of(tr, c));
  }
  element_block(fp, "nitrogen", nsm_nitrogen_books(ms));
  element_block(fp, "phosphorus", nsm_phosphorus_books(ms));
  lake_totals_block(fp, ms);
}
