// Opening the run files: start-up step of run_project after the option checks and before the
// time parameters and the map readers. Opens every input and output file that the project's
// cards and options call for, in a fixed order, each into its own handle of the model state.
#include "input/run_files.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/mapping_tables.h"

namespace {

// Positions of the checked tables of the mapping-table file in input_state::table_present.
constexpr int table_roughness = 0;
constexpr int table_interception = 1;
constexpr int table_retention = 2;
constexpr int table_green_ampt = 3;
constexpr int table_initial_moisture = 4;
constexpr int table_richards_havercamp = 5;
constexpr int table_richards_brooks = 6;
constexpr int table_evapotranspiration = 7;

// Display names of the water-column constituents of the nutrient sub-model, 0..8.
constexpr const char* nsm_water_column_names[nsm_species_count] = {"NO2", "NO3", "NH4",  "ON", "OP",
                                                                   "DP",  "ALG", "CBOD", "DO"};

bool table_on(const model_state& ms, int index) {
  return ms.input.mapping_table_on != 0 && ms.input.table_present[index] != 0;
}

// Opens `name` into `h`. A failure is an error (err_file_not_open with the role and the name),
// left for the driver like every failure of this step, unless the
// parameter can come from its table instead. False when the step must stop.
bool open_file(file_handle& h, char* name, const char* mode, const char* role,
               bool table_present = false) {
  if (file_handle_open(h, name, mode)) return true;
  if (table_present) return true;
  raise_file_error(err_file_not_open, role, name);
  return false;
}

// A location output that cannot be written, reported with `code` (one of the location-output
// codes), whose message names the output through the kind buffer and the location input through
// the name buffer. `kind` is a fixed text, or null for the output's own name. An output name too
// long for the kind buffer is reported with err_file_not_open and `role` instead, so that the
// message names it whole.
bool open_location_output(file_handle& h, char* output, int code, const char* kind,
                          const char* role, const char* input) {
  if (file_handle_open(h, output, "w")) return true;
  if (kind != nullptr)
    raise_file_error(code, kind, input);
  else if (strlen(output) < sizeof error_file_kind)
    raise_file_error(code, output, input);
  else
    raise_file_error(err_file_not_open, role, output);
  return false;
}

// Rows 1 to 4: the inputs every run reads and the outputs every run writes.
bool open_mandatory(model_state& ms) {
  run_file_names& n = ms.input.names;
  if (!open_file(ms.input.watershed_mask_file, n.watershed_mask, "r", "watershed mask"))
    return false;
  if (!open_file(ms.input.elevation_file, n.elevation, "r", "elevation data")) return false;
  if (!open_file(ms.output.summary_file, n.summary, "w", "output summary")) return false;
  // From here on every error message is also written into the summary.
  error_echo_file = &ms.output.summary_file;
  return open_file(ms.channel.outlet_hydro_file, n.outlet_hydro, "w", "output hydrograph");
}

// Rows 5 to 11: the saturated groundwater.
bool open_groundwater(model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  run_file_names& n = ms.input.names;
  if (!ss.gw_simulation) return true;
  subsurface_state& s = ms.subsurface;
  if (!open_file(s.gw_boundfile_file, n.gw_boundfile, "r", "groundwater boundary")) return false;
  if (ss.gw_well_level_on) {
    if (!open_file(ms.input.well_location_file, n.out_well_location, "r", "well location"))
      return false;
    if (!open_file(s.gw_well_level_file, n.gw_well_level, "w", "well level output")) return false;
  }
  if (ss.gw_hycond_map_on &&
      !open_file(s.gw_hycond_map_file, n.gw_hycond_map, "r", "groundwater hycond"))
    return false;
  if (ss.gw_porosity_map_on &&
      !open_file(s.gw_porosity_map_file, n.gw_porosity_map, "r", "groundwater porosity"))
    return false;
  if (!ss.inf_richards) {
    if (ss.water_table_on &&
        !open_file(ms.input.water_table_file, n.water_table, "r", "water table"))
      return false;
    if (!open_file(ms.input.aquifer_bottom_file, n.aquifer_bottom, "r", "aquifer bottom"))
      return false;
  }
  return true;
}

// Rows 12 to 16: the soil columns of the layered, Richards and redistribution schemes.
bool open_soil_columns(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  input_state& in = ms.input;
  run_file_names& n = in.names;
  if (!ss.inf_layered_soil && !ss.inf_richards && !ss.inf_redist) return true;
  // Without a SOIL_TYPE_MAP card the soil-type map is the index map of the Richards table of the
  // chosen form (RICHARDS_C_OPTION) in the mapping-table file, when that table is there.
  if (n.soil_type_map[0] == '\0')
    find_richards_map(n.mapping_table, ss.richards_c_option, n.soil_type_map,
                      sizeof n.soil_type_map);
  // The soil types may come from a Richards table of the mapping-table file instead.
  const bool soil_from_table = !ss.inf_richards || table_on(ms, table_richards_havercamp) ||
                               table_on(ms, table_richards_brooks);
  if (!open_file(in.soil_type_file, n.soil_type_map, "r", "soil type", soil_from_table))
    return false;
  if (!open_file(ss.multi_layer_soil_file, n.soil_layer_input_file, "r", "multi-layer soil table",
                 soil_from_table))
    return false;
  if (ss.water_table_on && !in.water_table_file.is_open() &&
      !open_file(in.water_table_file, n.water_table, "r", "water table"))
    return false;
  if (ss.gw_simulation && !in.aquifer_bottom_file.is_open() &&
      !open_file(in.aquifer_bottom_file, n.aquifer_bottom, "r", "aquifer bottom"))
    return false;

  copy_text(n.evap_out, sizeof n.evap_out, "evap_out");
  if (!open_file(ss.evap_out_file, n.evap_out, "w", "evaporation output")) return false;
  fprintf(ss.evap_out_file.fp,
          "yr/mo/day  hour     avg_theta    avg_pot      avgetrate    avgfav      avgbottomfav  "
          "CFGI         temp(C)  ");
  // The two-layer schemes: redistribution and layered soil.
  if (ss.inf_redist || ss.inf_layered_soil)
    fprintf(ss.evap_out_file.fp, " avg_theta_L1  avg_theta_L2");
  fprintf(ss.evap_out_file.fp, "\n");
  return true;
}

// Rows 17 to 22: the Green and Ampt parameter maps, each behind its table.
bool open_green_ampt(model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  input_state& in = ms.input;
  run_file_names& n = in.names;
  if (!ss.green_ampt && !ss.inf_redist) return true;
  const bool ga_table = table_on(ms, table_green_ampt);
  if (ss.moisture_on && !open_file(in.moisture_file, n.moisture, "r", "soil moisture",
                                   table_on(ms, table_initial_moisture)))
    return false;
  if (ss.conductivity_on && !open_file(in.conductivity_file, n.conductivity, "r", "Ks", ga_table))
    return false;
  if (ss.capillary_on && !open_file(in.capillary_file, n.capillary, "r", "Hc", ga_table))
    return false;
  if (ss.porosity_on && !open_file(in.porosity_file, n.porosity, "r", "soil porosity", ga_table))
    return false;
  if (!ss.inf_redist) return true;
  if (ss.pore_index_on &&
      !open_file(in.pore_index_file, n.pore_index, "r", "pore dist. index", ga_table))
    return false;
  return !ss.residual_sat_on ||
         open_file(in.residual_sat_file, n.residual_sat, "r", "residual saturation", ga_table);
}

// Rows 23 to 28: weather and evapotranspiration of the long-term run.
bool open_long_term(model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  input_state& in = ms.input;
  run_file_names& n = in.names;
  if (!ms.long_term) return true;
  if (!open_file(in.hmet_file, n.hmet_file, "r", "hydromet data")) return false;
  const bool et_table = table_on(ms, table_evapotranspiration);
  if (ss.albedo_on && !open_file(in.albedo_file, n.albedo, "r", "albedo", et_table)) return false;
  if (!ss.et_penman) return true;
  if (ss.vheight_on && !open_file(in.vheight_file, n.vheight, "r", "veg. height", et_table))
    return false;
  if (ss.tcoeff_on && !open_file(in.tcoeff_file, n.tcoeff, "r", "trans. coeff", et_table))
    return false;
  if (ss.canopy_on && !open_file(in.canopy_file, n.canopy, "r", "canopy resist.", et_table))
    return false;
  return !ss.wilting_point_on ||
         open_file(in.wilting_point_file, n.wilting_point, "r", "wilting point", et_table);
}

// Rows 29 to 43: rainfall, the overland plane, the channel and the hotstarts.
bool open_surface_and_channel(model_state& ms) {
  input_state& in = ms.input;
  run_file_names& n = in.names;
  channel_state& ch = ms.channel;
  const overland_state& ov = ms.overland;

  if (ov.precip_file_on && !open_file(in.raingage_file, n.precip_file, "r", "raingage data"))
    return false;
  if (ch.chan_explic &&
      !open_file(in.stream_cell_file, n.stream_cell, "r", "grid-stream connectivity"))
    return false;
  if (ov.interception_on) {
    const bool table = table_on(ms, table_interception);
    if (!open_file(in.interception_file, n.storage_capacity, "r", "interception storage", table))
      return false;
    if (!open_file(in.interception_coeff_file, n.interception_coeff, "r", "interception coeff.",
                   table))
      return false;
  }
  if (ov.overland_lake_map) {
    if (!open_file(in.overland_lake_map_file, n.overland_lake_map, "r", "overland lake map"))
      return false;
    if (!open_file(in.overland_lake_file, n.overland_lake_file, "r", "overland lake data"))
      return false;
  }
  if (ov.reten_depth_on && !open_file(in.retention_file, n.reten_depth, "r", "retention depth",
                                      table_on(ms, table_retention)))
    return false;
  if (ov.roughness_on && !open_file(in.roughness_file, n.roughness, "r", "Manning roughness",
                                    table_on(ms, table_roughness)))
    return false;
  if (ch.chan_explic) {
    if (!open_file(ch.channel_input_file, n.channel_input, "r", "channel input")) return false;
    if (ch.write_chan_hotstart_on) {
      if (!open_file(ch.dht_file, n.write_chan_depth, "w", "channel depth")) return false;
      if (!open_file(ch.qht_file, n.write_chan_discharge, "w", "channel discharge")) return false;
    }
  }

  // A missing hotstart input is reported, but the list goes on; the last failure is the one
  // reported.
  project_cards& c = ms.cards;
  if (c.ov_init_depth_given &&
      !file_handle_open(ms.output.read_ov_hotstart_file, c.ov_init_depth, "r"))
    raise_file_error(err_file_not_open, "overland hotstart", c.ov_init_depth);
  if (c.read_sm_hotstart_given &&
      !file_handle_open(ms.output.read_sm_hotstart_file, c.read_sm_hotstart, "r"))
    raise_file_error(err_file_not_open, "soil moisture hotstart", c.read_sm_hotstart);

  if (ch.chan_explic && ch.read_chan_hotstart_on) {
    // One file, read once for the depths and once for the discharges.
    if (!open_file(ch.read_chan_depth_file, n.read_chan_depth, "r", "channel depth")) return false;
    if (!open_file(ch.read_chan_discharge_file, n.read_chan_discharge, "r", "channel discharge"))
      return false;
  }
  return true;
}

// Rows 44 to 58: the output locations and their series, the pipe-network locations and the
// lake output.
bool open_locations(model_state& ms) {
  input_state& in = ms.input;
  run_file_names& n = in.names;
  output_state& out = ms.output;
  const channel_state& ch = ms.channel;
  const project_cards& c = ms.cards;

  if (out.hyd_location_on) {
    if (!open_file(in.in_hyd_location_file, n.in_hyd_location, "r", "hydrograph location"))
      return false;
    if (!open_location_output(in.out_hyd_location_file, n.out_hyd_location,
                              err_hydrograph_location_output_not_open, "out hydrograph file",
                              nullptr, n.in_hyd_location))
      return false;
  }
  if (out.gwflux_location_on) {
    if (!open_file(in.in_gwflux_location_file, n.in_gwflux_location, "r",
                   "groundwater flux location"))
      return false;
    if (!open_location_output(in.out_gwflux_location_file, n.out_gwflux_location,
                              err_hydrograph_location_output_not_open, "out groundwater flux file",
                              nullptr, n.in_gwflux_location))
      return false;
  }
  if (out.sig_outlet_hydro &&
      !open_file(out.sig_outlet_hydro_file, n.sig_outlet_hydro, "w", "optional 6 digit hydrograph"))
    return false;
  if (ch.superlink_junc_location_on &&
      !open_file(in.superlink_junc_location_file, n.superlink_junc_location, "r",
                 "superjunction location"))
    return false;
  if (ch.superlink_junc_flow_on &&
      !open_location_output(in.superlink_junc_flow_file, n.superlink_junc_flow,
                            err_hydrograph_location_output_not_open, nullptr,
                            "superjunction flow output", n.superlink_junc_location))
    return false;
  if (ch.superlink_node_location_on &&
      !open_file(in.superlink_node_location_file, n.superlink_node_location, "r",
                 "superlink node location"))
    return false;
  if (ch.superlink_node_flow_on &&
      !open_location_output(in.superlink_node_flow_file, n.superlink_node_flow,
                            err_hydrograph_location_output_not_open, nullptr,
                            "superlink node flow output", n.superlink_node_location))
    return false;
  if (out.lake_output && !open_file(out.lake_output_file, n.lake_output, "w", "lake output"))
    return false;
  if (out.dep_location_on && !open_location_output(in.out_dep_location_file, n.out_dep_location,
                                                   err_depth_location_output_not_open, nullptr,
                                                   "depth location output", n.in_hyd_location))
    return false;
  if (c.out_con_location_given &&
      !open_location_output(in.out_con_location_file, n.out_con_location,
                            err_concentration_location_output_not_open, nullptr,
                            "concentration location output", n.in_hyd_location))
    return false;
  if (c.out_mass_location_given &&
      !open_location_output(in.out_mass_location_file, n.out_mass_location,
                            err_concentration_location_output_not_open, nullptr,
                            "mass location output", n.in_hyd_location))
    return false;
  if (c.in_theta_location_given) {
    if (!open_file(in.in_theta_location_file, n.in_theta_location, "r", "in_theta location"))
      return false;
    if (!file_handle_open(in.out_theta_location_file, n.out_theta_location, "w")) {
      const std::string name =
          std::string(n.out_theta_location) + " (" + "out_theta_location_file" + ")";
      raise_file_error(err_theta_location_output_not_open, n.in_theta_location, name.c_str());
      return false;
    }
  }
  return true;
}

// The nutrient sub-model's channel outputs; false after the first that cannot be opened.
bool open_nutrient_outputs(model_state& ms) {
  project_cards& c = ms.cards;
  output_state& out = ms.output;
  if (c.total_chan_n_given &&
      !open_file(out.total_chan_n_file, c.total_chan_n, "w", "output total channel nitrogen"))
    return false;
  if (c.total_chan_kn_given && !open_file(out.total_chan_kn_file, c.total_chan_kn, "w",
                                          "output total channel Kjeldahl nitrogen"))
    return false;
  if (c.total_chan_p_given &&
      !open_file(out.total_chan_p_file, c.total_chan_p, "w", "output total channel phosphorus"))
    return false;

  nsm_model* nsm = ms.transport.nsm.get();
  if (nsm == nullptr) return true;
  for (int k = 0; k < nsm_species_count; ++k) {
    if (nsm->hyd_out[k].on != 1) continue;
    const std::string base = nsm->hyd_out[k].base_name;
    std::string name = base + ".conc";
    if (!file_handle_open(nsm->hyd_conc_file[k], name.c_str(), "w")) {
      printf(
          "Error opening nutrient concentration output file (hydrograph style )\nfor the %s "
          "hydrograph file. \nGiven filename: %s\n",
          nsm_water_column_names[k], name.c_str());
      raise_file_error(err_file_not_open, "nutrient concentration", name.c_str());
      return false;
    }
    name = base + ".mass";
    if (!file_handle_open(nsm->hyd_mass_file[k], name.c_str(), "w")) {
      printf(
          "Error opening nutrient mass output file (hydrograph style )\nfor the %s hydrograph "
          "file. \nGiven filename: %s\n",
          nsm_water_column_names[k], name.c_str());
      raise_file_error(err_file_not_open, "nutrient mass", name.c_str());
      return false;
    }
  }
  return true;
}

// Rows 59 to 69: the channel series outputs, the nutrient outputs, the pipe-network outputs
// and the initial contaminant map.
bool open_series_outputs(model_state& ms) {
  channel_state& ch = ms.channel;
  const output_state& out = ms.output;
  project_cards& c = ms.cards;

  if (out.chan_depth_on &&
      !open_file(ch.chan_depth_file, c.chan_depth, "w", "output channel depth"))
    return false;
  if (out.chan_discharge_on &&
      !open_file(ch.chan_discharge_file, c.chan_discharge, "w", "output channel discharge"))
    return false;
  if (out.chan_stage_on &&
      !open_file(ch.chan_stage_file, c.chan_stage, "w", "output channel stage"))
    return false;
  if (out.chan_velocity_on &&
      !open_file(ch.chan_velocity_file, c.chan_velocity, "w", "output channel velocity"))
    return false;
  if (out.flood_stream && !open_file(ch.flood_stream_file, ms.input.names.flood_stream, "w",
                                     "output flood stream stage"))
    return false;
  if (out.chan_sed_flux_on &&
      !open_file(ch.chan_sed_flux_file, c.chan_sed_flux, "w", "output stream_sed_flux"))
    return false;
  if (ms.transport.nutrients && !open_nutrient_outputs(ms)) return false;
  if (ch.storm_sewer) {
    if (c.pipe_head_given && !open_file(ch.pipe_head_file, c.pipe_head, "w", "superlink head"))
      return false;
    if (c.pipe_tile_given && !open_file(ch.pipe_tile_file, c.pipe_tile, "w", "superlink tile"))
      return false;
    if (c.pipe_flow_given && !open_file(ch.pipe_flow_file, c.pipe_flow, "w", "superlink flow"))
      return false;
  }
  return !ms.transport.contam_map_on ||
         open_file(ms.input.contam_map_file, ms.input.names.contam_map, "r", "contam");
}

// The hydrographs are read while the run goes on (by a user or a program following the
// discharges): each of their lines reaches the file whole, as soon as it is written.
void hydrographs_line_buffered(model_state& ms) {
  input_state& in = ms.input;
  for (file_handle* h :
       {&ms.channel.outlet_hydro_file, &ms.output.sig_outlet_hydro_file, &in.out_hyd_location_file,
        &in.out_gwflux_location_file, &in.out_dep_location_file, &in.out_con_location_file,
        &in.out_mass_location_file, &in.out_theta_location_file, &in.superlink_junc_flow_file,
        &in.superlink_node_flow_file})
    file_handle_line_buffered(*h);
}

}  // namespace

void open_run_files(model_state& ms) {
  if (open_mandatory(ms) && open_groundwater(ms) && open_soil_columns(ms) && open_green_ampt(ms) &&
      open_long_term(ms) && open_surface_and_channel(ms) && open_locations(ms))
    open_series_outputs(ms);
  hydrographs_line_buffered(ms);
}

void open_nsm_channel_outputs(model_state& ms) {
  open_nutrient_outputs(ms);
}
