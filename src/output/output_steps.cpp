// The constituent output objects, set up once at run start after the link/node headers: per
// constituent of the contaminant table a concentration and a mass map of the overland water
// and, with channel constituents, a concentration and a mass link/node dataset of the channel
// nodes. The series outputs write them in series_outputs.cpp, the map outputs in map_outputs.cpp.
#include "output/output_steps.h"

#include <cstdio>
#include <string>

#include "framework/model_state.h"
#include "output/map_output.h"
#include "transport/transport_steps.h"

namespace {

// Link/node dataset kinds of the constituent records.
constexpr int linknode_kind_mass = 26;
constexpr int linknode_kind_concentration = 27;

const char* output_name(const transport_state& tr, int k) {
  return k < static_cast<int>(tr.contamoutputfilenames.size())
             ? tr.contamoutputfilenames[static_cast<std::size_t>(k)].c_str()
             : "";
}

}  // namespace

void setup_contam_map_outputs(model_state& ms) {
  output_state& out = ms.output;
  transport_state& tr = ms.transport;
  out.con_output_count = 0;
  if (!out.all_contam_output || !tr.ov_con_trans) return;
  // Every constituent of the contaminant table has its outputs.
  const int count = tr.contam.num_table_contaminants;
  if (count <= 0 || tr.ov_contam_conc.row_count() < count || tr.ov_contam_mass.row_count() < count)
    return;
  if (out.con_map_outputs.add_rows(count, 2) == 0) return;
  out.con_output_count = count;
  const int nc = tr.num_contaminants;
  for (int k = 1; k <= count; ++k) {
    char title[32];
    snprintf(title, sizeof title, "conc_%02d", k);
    open_run_map(ms, out.con_map_outputs[k][1], tr.ov_contam_conc[k], output_name(tr, k), ".conc",
                 (k - 1) * nc + 5000, title);
    snprintf(title, sizeof title, "mass_%02d", k);
    open_run_map(ms, out.con_map_outputs[k][2], tr.ov_contam_mass[k], output_name(tr, k), ".mass",
                 (k - 1) * nc + 5001, title);
  }
}

void setup_contam_channel_outputs(model_state& ms) {
  output_state& out = ms.output;
  transport_state& tr = ms.transport;
  channel_state& ch = ms.channel;
  const int count = out.con_output_count;
  if (count <= 0 || !tr.chan_con_trans || !ch.chan_explic) return;
  alloc_channel_contaminants(ms);
  if (tr.chan_con_conc.empty()) return;
  if (out.con_linknode_outputs.add_rows(count, 2) == 0) return;
  // With perennial lakes a lake link's field shows its lake's concentration (g/m3) or dissolved
  // mass (g), the units of the nodes' fields; the lake stores are bound as the records are
  // written (they are made by the channel constituent set-up, after these objects).
  const bool lakes = ms.perennial_lakes && ch.num_lakes >= 1 && !ch.lake2link.empty();
  const int* link_lake = ch.lake2link.empty() ? nullptr : ch.lake2link.data();
  const int lake_count = lakes ? ch.num_lakes : 0;
  for (int k = 1; k <= count; ++k) {
    const std::string name = output_name(tr, k);
    linknode_output& conc = out.con_linknode_outputs[k][1];
    linknode_output& mass = out.con_linknode_outputs[k][2];
    linknode_output_init_flat(conc, linknode_kind_concentration, tr.chan_con_conc[k], ch.nx1.data(),
                              ch.nx1.data(), ch.ltype.data(), nullptr, link_lake, nullptr,
                              lake_count, ch.chan_link_count, tr.con_node_stride);
    linknode_output_open(conc, name.c_str(), ".chan", ".conc", 1.0);
    linknode_output_init_flat(mass, linknode_kind_mass, tr.chan_con_mass[k], ch.nx1.data(),
                              ch.nx1.data(), ch.ltype.data(), nullptr, link_lake, nullptr,
                              lake_count, ch.chan_link_count, tr.con_node_stride);
    linknode_output_open(mass, name.c_str(), ".chan", ".mass", 1.0);
  }
}
