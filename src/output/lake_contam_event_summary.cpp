// The lakes' constituent sections of the event runoff summary: per constituent (contaminants and
// nutrient species) the channel lakes' books over the event just closed (what the rain, the
// links, the nodes a rising lake took, the overland water, the ground and the lakes' sediment
// brought; what the outlets, the pumps and decay took) and the overland lakes' books (what the
// rain, the overland water over the shores and the lakes' sediment brought; what the water over
// the rims carried out and decay took), each with its balance error and each lake's final mass
// and concentration. Called by write_event_summary.
#include "output/lake_contam_event_summary.h"

#include "framework/model_state.h"
#include "output/event_summary.h"
#include "transport/transport_steps.h"

namespace {

// One aligned value line: masses with two decimals, balance errors with four.
void value(FILE* fp, const char* label, double v, int extra = 0) {
  summary_print_line(fp, label, v, 50, '.', 14, "%14.2lf", extra);
}
void value4(FILE* fp, const char* label, double v) {
  summary_print_line(fp, label, v, 50, '.', 14, "%14.4lf", 0);
}

// The display name of constituent c: a contaminant's from the table, a nutrient species' from
// the nutrient sub-model; null for a soil pool or a constituent without one (no lake section).
const char* lake_section_name(const model_state& ms, int c) {
  const transport_state& tr = ms.transport;
  if (c > tr.constituent_type.upper()) return nullptr;
  if (tr.constituent_type[c] == 1)
    return c < static_cast<int>(tr.contamdescriptions.size())
               ? tr.contamdescriptions[static_cast<std::size_t>(c)].c_str()
               : "";
  const nsm_model* nsm = tr.nsm.get();
  if (tr.constituent_type[c] != 2 || nsm == nullptr || nsm->overland.first_constituent < 1)
    return nullptr;
  return nsm_constituent_name(c - nsm->overland.first_constituent, false);
}

void channel_lake_sections(FILE* fp, const model_state& ms) {
  const transport_state& tr = ms.transport;
  const chan_contam_tables& cc = tr.chan_contam;
  if (!cc.ready || cc.lakes < 1) return;
  const bool pumps = !ms.channel.lake_pumps.empty();
  for (int c = 1; c <= tr.num_contaminants; ++c) {
    const char* name = lake_section_name(ms, c);
    if (name == nullptr) continue;
    const lake_event_books b = lake_contam_event(ms, c);
    fprintf(fp, "\n \n");
    fprintf(fp, "Lake Contaminant Transport Summary for %s \n", name);
    fprintf(fp, "Amounts are total mass for event (Kg) \n \n");
    fprintf(fp, "Dissolved State Mass Balance...\n");
    value(fp, "Initial Dissolved in Lakes", b.init);
    value(fp, "Final Dissolved in Lakes", b.final_mass);
    fprintf(fp, "\n");
    value(fp, "Precip", b.precip);
    value(fp, "Inflow", b.from_chan);
    value(fp, "Lake/chan exchange", b.nodes);
    value(fp, "Overland flux", b.ov);
    value(fp, "Groundwater flux", b.bed, 1);
    value(fp, "Outflow", b.outflow);
    if (pumps) value(fp, "Loss to lake pumps", b.pump);
    value(fp, "Dissolved decay loss", b.decay);
    value(fp, "Restored to emptied lakes", b.restored);
    if (b.bound) value(fp, "Exchange with attached", b.released);
    fprintf(fp, "\n");
    value4(fp, "Dissolved mass balance error", b.error);
    if (b.bound) {
      fprintf(fp, "\n");
      value(fp, "Initial attached in lakes", b.bound_init);
      value(fp, "Final attached in lakes", b.bound_final);
      value(fp, "Overland inflow", b.bound_from_ov);
      value(fp, "Channel inflow", b.bound_from_chan);
      value(fp, "Exchange with dissolved", -b.released);
      value(fp, "Attached settled in lakes", b.settled);
    }
    fprintf(fp, "\n");
    for (int lake = 1; lake <= cc.lakes; ++lake) {
      fprintf(fp, "Final Mass in lake %ld =        %14.2lf \n", static_cast<long>(lake),
              tr.lake_mass[c][lake] / 1000.0);
      fprintf(fp, "Final Conc in lake (mg/L) %ld = %14.2lf \n \n", static_cast<long>(lake),
              cc.lake_conc[c][lake]);
    }
  }
  fprintf(fp, "\n");
}

void overland_lake_sections(FILE* fp, const model_state& ms) {
  const transport_state& tr = ms.transport;
  const olake_contam_tables& oc = tr.olake_contam;
  if (oc.lakes < 1 || oc.event_start.empty()) return;
  for (int c = 1; c <= tr.num_contaminants; ++c) {
    const char* name = lake_section_name(ms, c);
    if (name == nullptr) continue;
    const olake_event_books b = olake_contam_event(ms, c);
    fprintf(fp, "\n \n");
    fprintf(fp, "Overland Lakes Contaminant Transport Summary for %s \n", name);
    fprintf(fp, "Amounts are total mass for event (Kg) \n \n");
    fprintf(fp, "Dissolved State Mass Balance...\n");
    value(fp, "Initial Dissolved in Lakes", b.init);
    value(fp, "Final Dissolved in Lakes", b.final_mass);
    fprintf(fp, "\n");
    value(fp, "Precip", b.precip);
    value(fp, "Overland flux", b.ov, 1);
    value(fp, "Spilled over rims", b.spill);
    value(fp, "Dissolved decay loss", b.decay);
    value(fp, "Restored to emptied lakes", b.restored);
    if (b.bound) value(fp, "Exchange with attached", b.released);
    fprintf(fp, "\n");
    value4(fp, "Dissolved mass balance error", b.error);
    if (b.bound) {
      fprintf(fp, "\n");
      value(fp, "Initial attached in lakes", b.bound_init);
      value(fp, "Final attached in lakes", b.bound_final);
      value(fp, "Overland inflow", b.bound_from_ov);
      value(fp, "Exchange with dissolved", -b.released);
      value(fp, "Attached settled in lakes", b.settled);
    }
    fprintf(fp, "\n");
    for (int lake = 1; lake <= oc.lakes; ++lake) {
      fprintf(fp, "Final Mass in lake %ld =        %14.2lf \n", static_cast<long>(lake),
              (oc.mass[c][lake] + oc.pending[c][lake]) / 1000.0);
      fprintf(fp, "Final Conc in lake (mg/L) %ld = %14.2lf \n \n", static_cast<long>(lake),
              oc.conc[c][lake]);
    }
  }
  fprintf(fp, "\n");
}

}  // namespace

void write_lake_contam_event_summary(FILE* fp, const model_state& ms) {
  if (fp == nullptr || !ms.transport.ov_con_trans) return;
  channel_lake_sections(fp, ms);
  overland_lake_sections(fp, ms);
}
