// Outputs that would destroy inputs: the files named by the output cards are compared with the
// project file, the files of the input cards and each other before read_run_parameters opens
// the first output, so that a project that names one file twice stops with nothing written.
#include "input/output_paths.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "input/project_file.h"

namespace {

// The cards whose file the run writes (opened to write, so an input named there is lost).
constexpr const char* written_cards[] = {
    "summary",
    "outlet_hydro",
    "sig_outlet_hydro",
    "vro_hydro",
    "cell_hydro",
    "lake_output",
    "out_hyd_location",
    "out_gwflux_location",
    "out_dep_location",
    "out_con_location",
    "out_mass_location",
    "out_theta_location",
    "gw_well_level",
    "chan_depth",
    "chan_discharge",
    "chan_stage",
    "chan_velocity",
    "chan_sed_flux",
    "flood_stream",
    "pipe_head",
    "pipe_flow",
    "pipe_tile",
    "superlink_junc_flow",
    "superlink_node_flow",
    "total_ov_n",
    "total_ov_p",
    "total_chan_n",
    "total_chan_kn",
    "total_chan_p",
    "r7_input",
    "r7_segment_fluxes",
    "daily_output",
    "optimize",
    "write_ov_hotstart",
    "write_sm_hotstart",
    "dis_profile_out",
    "wat_surf_profile_out",
    "outlet_sed_flux",
    "outlet_sed_tss",
    "out_tss_loc",
    "out_sed_loc",
    "adjust_elev",
};

// The map cards: a dataset file under the dataset map types, the folder of the frames under
// MAP_TYPE 0.
constexpr const char* map_cards[] = {
    "depth",      "discharge",    "dis_rain",        "inf_depth",       "rate_of_infil",
    "surf_moist", "gw_output",    "gw_recharge_cum", "gw_recharge_inc", "snow_swe_file",
    "flood_grid", "max_sed_flux", "net_sed_volume",  "vol_sed_susp",
};

// Names that are no file of the run's own folders.
constexpr const char* unnamed_cards[] = {"zenf_datasetgroup", "project_folder"};

bool listed(const char* keyword, const auto& list) {
  for (const char* k : list)
    if (std::string(k) == keyword) return true;
  return false;
}

// One file of the project: the card that names it (upper case), its name as given, whether the
// run writes it, and the key of the file it reaches.
struct named_file {
  std::string card;
  std::string name;
  bool creating = false;
  std::string key;
};

std::string upper(const char* keyword) {
  std::string s = keyword;
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

// The name a card's field holds, or null for a card that holds no file name.
const char* field_name(const card_entry& e, const project_cards& c, const uniform_rain_params& r) {
  // The cards with their own handling that keep a file name (RETEN_DEPTH, INIT_SWE_DEPTH with a
  // map) keep it in a name field like the file-name cards.
  if (e.kind != card_kind::file_name && e.kind != card_kind::file_name_flag &&
      e.kind != card_kind::file_name_optional && e.kind != card_kind::own)
    return nullptr;
  if (const auto* f = std::get_if<card_name project_cards::*>(&e.field)) return c.*(*f);
  if (const auto* f = std::get_if<card_name uniform_rain_params::*>(&e.field)) return r.*(*f);
  return nullptr;
}

// False for a card whose given-flag is clear: a synonym that shares the field of the card given.
bool card_given(const card_entry& e, const project_cards& c, const grid_time_params& g,
                const uniform_rain_params& r) {
  if (const auto* f = std::get_if<int project_cards::*>(&e.flag)) return c.*(*f) != 0;
  if (const auto* f = std::get_if<int grid_time_params::*>(&e.flag)) return g.*(*f) != 0;
  if (const auto* f = std::get_if<int uniform_rain_params::*>(&e.flag)) return r.*(*f) != 0;
  return true;
}

void add(std::vector<named_file>& list, const std::string& card, const std::string& name,
         bool creating) {
  for (const named_file& f : list)
    if (f.card == card && f.name == name) return;  // a synonym of a card already listed
  list.push_back({card, name, creating, std::string()});
}

// Finds the key of every file of the list; a file that would not be reached is dropped.
void find_keys(std::vector<named_file>& list) {
  std::vector<named_file> reached;
  for (named_file& f : list) {
    f.key = planned_file_key(f.name.c_str(), f.creating);
    if (!f.key.empty()) reached.push_back(std::move(f));
  }
  list.swap(reached);
}

// What the check compares, as text: the names of the project, its inputs and outputs, and
// where names are resolved (folders, run prefix, working directory).
std::string check_signature(const std::vector<named_file>& inputs,
                            const std::vector<named_file>& outputs, const char* project_path) {
  char cwd[4096];
  std::string text = getcwd(cwd, sizeof cwd) != nullptr ? cwd : "";
  text += '\n';
  text += project_dir;
  text += '\n';
  text += output_dir_set ? output_dir : "";
  text += '\n' + std::to_string(run_prefix_on) + ' ' + std::to_string(run_number) + '\n';
  text += project_path;
  for (const std::vector<named_file>* list : {&inputs, &outputs})
    for (const named_file& f : *list) text += '\n' + f.card + ' ' + f.name;
  return text;
}

// The names of the last check passed while the streams of calibration trials are kept (with the
// number of that keeping): the next trial naming the same files in the same places passes
// without the file system being asked again (the trials' own writing makes no name another's
// alias). A trial whose replaced values name other files is checked afresh.
std::string& passed_while_kept() {
  static std::string text;
  return text;
}

}  // namespace

bool outputs_spare_inputs(const project_cards& cards, const grid_time_params& grid,
                          const uniform_rain_params& rain, const char* project_path) {
  const int map_type = grid.map_type;
  std::vector<named_file> inputs;
  std::vector<named_file> outputs;
  const std::span<const card_entry> table = project_card_table();
  // Each card's name field once (the synonym search below looks at every card before a card).
  std::vector<const char*> names(table.size());
  for (std::size_t i = 0; i < table.size(); ++i) names[i] = field_name(table[i], cards, rain);
  for (std::size_t i = 0; i < table.size(); ++i) {
    const card_entry& e = table[i];
    const char* name = names[i];
    if (name == nullptr || name[0] == '\0' || listed(e.keyword, unnamed_cards) ||
        !card_given(e, cards, grid, rain))
      continue;
    // Synonyms share a field: the first keyword given of the field names it.
    bool synonym = false;
    for (std::size_t j = 0; j < i && !synonym; ++j)
      synonym = names[j] == name && card_given(table[j], cards, grid, rain);
    if (synonym) continue;
    const std::string card = upper(e.keyword);
    if (name == cards.write_chan_hotstart) {
      // The channel hotstart written is two files named after the card's base name.
      add(outputs, card, std::string(name) + ".dht", true);
      add(outputs, card, std::string(name) + ".qht", true);
    } else if (listed(e.keyword, written_cards) ||
               (map_type != 0 && listed(e.keyword, map_cards))) {
      add(outputs, card, name, true);
    } else if (!listed(e.keyword, map_cards)) {
      add(inputs, card, name, false);
    }
  }

  for (const auto& [keyword, name] : cards.files_read)
    add(inputs, upper(keyword.c_str()), name, false);

  std::string signature;
  if (const long session = file_handle_kept_session(); session != 0) {
    signature = std::to_string(session) + '\n' + check_signature(inputs, outputs, project_path);
    if (signature == passed_while_kept()) return true;
  }
  passed_while_kept().clear();
  find_keys(inputs);
  find_keys(outputs);
  const std::string project_key = planned_file_key(project_path, false);
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const named_file& out = outputs[i];
    if (out.key == project_key) {
      printf("Error: %s %s names the project file %s: the output would destroy it.\n",
             out.card.c_str(), out.name.c_str(), project_path);
      raise_own_message();
      return false;
    }
    for (const named_file& in : inputs) {
      if (out.key != in.key) continue;
      printf("Error: %s %s names the same file as %s %s: the output would destroy the input.\n",
             out.card.c_str(), out.name.c_str(), in.card.c_str(), in.name.c_str());
      raise_own_message();
      return false;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (outputs[j].key != out.key) continue;
      printf("Error: %s %s and %s %s name the same output file.\n", outputs[j].card.c_str(),
             outputs[j].name.c_str(), out.card.c_str(), out.name.c_str());
      raise_own_message();
      return false;
    }
  }
  passed_while_kept() = signature;
  return true;
}
