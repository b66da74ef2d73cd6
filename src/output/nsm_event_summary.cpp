// The nutrient sections of the event runoff summary, after its groundwater block: per soil pool
// the soil column's books, per species the overland water's and the channels' books over the
// event just closed, each with its balance error. Called by write_event_summary.
#include <algorithm>
#include <cmath>

#include "framework/model_state.h"
#include "output/event_summary.h"
#include "output/nsm_summary.h"
#include "transport/transport_steps.h"

namespace {

// One aligned value line: masses with two decimals, balance errors and kinetics with four.
void value(FILE* fp, const char* label, double v, int extra = 0) {
  summary_print_line(fp, label, v, 50, '.', 14, "%14.2lf", extra);
}
void value4(FILE* fp, const char* label, double v, int extra = 0) {
  summary_print_line(fp, label, v, 50, '.', 14, "%14.4lf", extra);
}

// (in - out) / in x 100, 0 when in is not above the threshold.
double error_percent(double in, double out, double threshold) {
  return in > threshold ? (in - out) / in * 100.0 : 0.0;
}

}  // namespace

void write_nsm_event_summary(FILE* fp, const model_state& ms) {
  const transport_state& tr = ms.transport;
  const nsm_model* nsm = tr.nsm.get();
  if (fp == nullptr || !tr.nutrients || nsm == nullptr || nsm->overland.first_constituent < 1)
    return;
  // The soil column: the thirteen pools, each with what its water species infiltrated and what
  // it gave the water.
  if (tr.soil_con_trans && !nsm->soils.pool.empty()) {
    for (int p = 1; p <= nsm_pool_count; ++p) {
      const nsm_event_pool_books b = nsm_event_pool(ms, p);
      const double in = b.init + b.infil;
      const double out = b.final_mass + b.from_soil;
      fprintf(fp, "\n\n");
      fprintf(fp, "Soil Contaminant Transport Summary for %s \n",
              nsm_constituent_name(p - 1, true));
      fprintf(fp, "\n");
      value(fp, "Initial Mass in Soil Column", b.init);
      value(fp, "Final Mass in Soil Column", b.final_mass, 1);
      value(fp, "Mass added by infiltration", b.infil);
      value(fp, "Mass seepage to water table", 0.0);
      value(fp, "NSM surface water exchange from soil", b.from_soil);
      value(fp, "NSM surface water exchange to soil", 0.0);
      fprintf(fp, "\n");
      value4(fp, "Soil mass balance error", error_percent(in, out, 1e-16));
    }
  }
  // The overland water.
  const bool soil = tr.soil_con_trans != 0;
  const bool channels = tr.chan_contam.ready != 0;
  // The stream cells' water hands the species to the channels, which carry them on or, without
  // channel constituents, take them out of the books.
  const bool streams = channels || ms.channel.chan_explic != 0;
  const bool water_table = ms.subsurface.water_table_on != 0 || ms.subsurface.gw_simulation != 0;
  for (int k = 1; k <= nsm_species_count; ++k) {
    const nsm_event_species_books b = nsm_event_species(ms, k);
    double in = b.ov_init + b.ov_point + b.ov_precip + b.ov_exfil + b.ov_from_lakes;
    double out = b.ov_final + b.ov_infil + (streams ? b.ov_qlat : b.ov_out) + b.ov_to_lakes;
    if (soil) in += b.ov_uptake;
    fprintf(fp, "\n \n");
    fprintf(fp, "Overland Contaminant Transport Summary for %s \n",
            nsm_constituent_name(k - 1, false));
    fprintf(fp, "Amounts are total mass for event in (Kg) \n \n");
    value(fp, "Initial Dissolved Mass on Overland", b.ov_init);
    value(fp, "Final Dissolved Mass on Overland", b.ov_final);
    fprintf(fp, "\n");
    value(fp, "Point source mass gain", b.ov_point);
    if (water_table) value(fp, "Exfiltration mass gain", b.ov_exfil);
    value(fp, "Precipitation gain", b.ov_precip);
    if (soil) value(fp, "Uptake from soil (NSM)", b.ov_uptake);
    value4(fp, "Gained from NSM kinetics", 0.0);
    fprintf(fp, "\n");
    value(fp, "Infiltration", b.ov_infil);
    if (streams)
      value(fp, "Lateral flow to streams", b.ov_qlat);
    else
      value(fp, "Outlet flux", b.ov_out);
    if (b.lakes) {
      value(fp, "Loss to lakes", b.ov_to_lakes);
      value(fp, "Spilled from lakes", b.ov_from_lakes);
    }
    value4(fp, "Loss to NSM kinetics", 0.0);
    value(fp, "Negative mass", b.ov_neg);
    fprintf(fp, "\n");
    value4(fp, "Dissolved mass balance error", error_percent(in, out, 1e-16));
  }
  fprintf(fp, "\n");
  // The channels.
  if (!channels) return;
  for (int k = 1; k <= nsm_species_count; ++k) {
    const nsm_event_species_books b = nsm_event_species(ms, k);
    const double in = b.chan_init + b.chan_in + std::max(b.chan_ground, 0.0) +
                      std::max(b.chan_point, 0.0) + b.chan_from_lakes;
    const double out = b.chan_final + b.chan_out + std::max(-b.chan_ground, 0.0) +
                       std::max(-b.chan_point, 0.0) + b.chan_to_lakes;
    fprintf(fp, "\n \n");
    fprintf(fp, "Channel Contaminant Transport Summary for %s \n",
            nsm_constituent_name(k - 1, false));
    fprintf(fp, "Amounts are total for event in (Kg) \n \n");
    fprintf(fp, "Dissolved State Mass Balance... \n \n");
    value(fp, "Initial Dissolved Mass in Channels", b.chan_init);
    value(fp, "Final Dissolved Mass in Channels", b.chan_final, 1);
    value(fp, "Mass gain from overland", b.chan_in);
    value(fp, "Point source mass gain", b.chan_point);
    if (ms.channel.stream_loss) value(fp, "Groundwater mass gain/loss", b.chan_ground);
    value4(fp, "Mass gained in NSM kinetics", 0.0, 1);
    value(fp, "Outlet mass flux", b.chan_out);
    if (b.lakes) {
      value(fp, "Mass gain from lakes", b.chan_from_lakes);
      value(fp, "Mass loss to lakes", b.chan_to_lakes);
    }
    value4(fp, "Mass lost in NSM kinetics", 0.0);
    fprintf(fp, "\n");
    value4(fp, "Contam mass balance error", error_percent(in, out, 0.0));
    fprintf(fp, "\n");
  }
}
