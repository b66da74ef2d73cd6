// Files finished when a run ends normally. The map datasets get their end marks in a fixed order
// of kinds, so that a reader of several datasets of one run finds them closed alike.
#include "output/run_end_files.h"

#include <algorithm>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "output/datasets.h"
#include "output/flood_outputs.h"
#include "output/grid_writer.h"

namespace {

// Adds the run's total to the optimisation file and closes it: the number after the last event
// and the water (or, for a sediment calibration, the wash load) that left at the outlet.
void finish_optimize_file(model_state& ms) {
  file_handle& file = ms.input.optimize_file;
  if (!file.is_open()) return;
  double total = ms.output.totals.run_vol_discharge * (ms.qout_cfs ? 35.32 : 1.0);
  if (ms.calibration.optimize_sed) {
    // The wash load of every class that left through the outlet, m3.
    const raw_array1d<double>& out = ms.transport.wash_out;
    total = 0.0;
    for (int k = 1; k <= out.count(); ++k) total += out[k];
  }
  fprintf(file.fp, "%d %13lf\n", ms.event_number + 1, total);
  fflush(file.fp);
  file_handle_close(file);
}

void end_map_datasets(model_state& ms) {
  const int map_type = ms.grid_params.map_type;
  if (map_type != 1 && map_type != 2) return;  // no datasets: grid files per frame, or none
  if (ms.channel.chan_drain_init) return;      // a drain initialisation run writes no maps
  map_outputs_state& mo = ms.output.maps;
  const bool binary = map_type == 2;
  const auto end = [&](int kind) {
    if (mo.dataset_on[kind]) write_dataset_end_mark(mo.dataset_file[kind], binary);
  };
  // The snow water equivalent gets frames like the others, so it is closed like them.
  for (int kind :
       {dataset_depth, dataset_discharge, dataset_groundwater_head, dataset_rain,
        dataset_gw_recharge_cum, dataset_gw_recharge_inc, dataset_infiltrated_depth,
        dataset_infiltration_rate, dataset_surface_moisture, dataset_snow_water_equivalent})
    end(kind);
  if (ms.transport.sediment.soil_erosion)
    for (int kind : {dataset_sediment_volume, dataset_sediment_flux, dataset_suspended_sediment})
      end(kind);
  if (ms.transport.ov_con_trans && ms.output.map_ov_conc) end(dataset_contaminant_conc);
  // The nutrient map datasets that were opened.
  for (auto& species : ms.output.nsm_species_maps)
    for (map_output& m : species) write_dataset_end_mark(m.file, binary);
  for (map_output& m : ms.output.nsm_total_maps) write_dataset_end_mark(m.file, binary);
}

// The channel hotstart a later run starts its channels from: for every link whose nodes hold
// channel water of their own (not a structure, a lake or a sectioned link a lake has taken
// over) and its nodes 1..nx, the node's water-surface level (m) to the depth file and its
// discharge (m3/s) to the discharge file, node first, in the order the channel start-up reads.
void write_channel_hotstart(model_state& ms) {
  channel_state& ch = ms.channel;
  if (!ch.write_chan_hotstart_on) return;
  FILE* levels = ch.dht_file.fp;
  FILE* flows = ch.qht_file.fp;
  if (levels == nullptr && flows == nullptr) return;
  for (int link = 1; link <= ch.chan_link_count && link <= ch.ltype.count(); ++link) {
    const int type = ch.ltype[link];
    const bool structure = (type & 64) != 0;
    const bool lake = (type & 32) != 0;
    const bool captured = (type & 128) != 0 && (type & (4 | 8 | 16)) != 0;
    if (structure || lake || captured) continue;
    for (int node = 1; node <= ch.nx[link]; ++node) {
      if (!ch.yp.has(link, node)) continue;
      if (levels != nullptr) fprintf(levels, "%d %d %lf \n", node, link, ch.yp(link, node));
      if (flows != nullptr && ch.qp.has(link, node))
        fprintf(flows, "%d %d %lf\n", node, link, ch.qp(link, node));
    }
  }
  file_handle_close(ch.dht_file);
  file_handle_close(ch.qht_file);
}

// Writes one per-cell map as a GRASS grid under the map header of the run. False when the file
// does not open.
bool write_cell_map(model_state& ms, const char* name, const raw_array1d<double>& values) {
  if (values.count() < ms.cell_count) return true;  // nothing kept to write
  file_handle file;
  if (!file_handle_open(file, name, "w")) return false;
  write_grass_grid(file, ms.index_map, ms.map_north, ms.map_south, ms.map_east, ms.map_west,
                   ms.map_rows, ms.map_cols, values.data());
  file_handle_close(file);
  return true;
}

// The surface soil moisture a soil-moisture hotstart holds, per cell, in `map`: what the
// hotstart reader puts back at the start of a later run. The upper zone of a long-term run's
// soil account; else the top node of a Richards column, the top layer of the layered soil or
// the redistribution soil's surface moisture. False when the soil keeps none.
// In a long-term run the redistribution and layered soils keep their water between storms in
// the soil account's two zones: the surface moisture is the upper zone's water over the upper
// zone, or over the unsaturated depth where that is shallower (a soil without unsaturated depth
// is saturated), as an event's start derives it.
double upper_zone_moisture(const subsurface_state& ss, int cell) {
  const auto at = [cell](const raw_array1d<double>& a) {
    return !a.empty() && cell <= a.count() ? a[cell] : 0.0;
  };
  double top_depth = ss.zone_depth_upper;
  double porosity = at(ss.porosity_cell);
  if (ss.inf_layered_soil) {
    const int id = !ss.soiltype.empty() && cell <= ss.soiltype.count() ? ss.soiltype[cell] : -1;
    top_depth = id >= 0 && id < max_soil_types ? ss.soil_types[id].layer_depth[0] : 0.0;
    porosity = id >= 0 && id < max_soil_types ? ss.soil_types[id].layer_porosity[0] : 0.0;
  }
  const double unsaturated = at(ss.wt_depth_cm);
  if (!(unsaturated > 1e-16)) return porosity;
  const double depth = std::min(unsaturated, top_depth);
  return depth > 0.0 ? at(ss.zone_water_upper) / depth : porosity;
}

bool surface_moisture_map(model_state& ms, raw_array1d<double>& map) {
  subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  if (ms.long_term && (ss.inf_redist || ss.inf_layered_soil)) {
    for (int c = 1; c <= n; ++c) map[c] = upper_zone_moisture(ss, c);
    return true;
  }
  const raw_array2d<double>* columns = nullptr;
  if (ss.inf_richards)
    columns = &ss.THETA;
  else if (ss.inf_layered_soil)
    columns = &ss.THETA_ML;
  if (columns == nullptr) {
    if (ss.surf_moist.count() < n) return false;
    std::copy(ss.surf_moist.data() + 1, ss.surf_moist.data() + n + 1, map.data() + 1);
    return true;
  }
  if (columns->row_count() < n || columns->col_count() < 1) return false;
  for (int c = 1; c <= n; ++c) map[c] = (*columns)[c][1];
  return true;
}

void hotstart_open_failure(const char* name) {
  char text[1200];
  snprintf(text, sizeof text, "Can't open overland hotstart file for writing: %s\n", name);
  error_print(error_echo_file, text);
}

}  // namespace

void write_dataset_end_mark(file_handle& file, bool binary) {
  if (!file.is_open()) return;
  if (binary) {
    const unsigned char mark[4] = {210, 0, 0, 0};  // 210 as a little-endian 4-byte integer
    fwrite(mark, 1, sizeof mark, file.fp);
  } else {
    fputs("ENDDS\n", file.fp);
  }
  file_handle_write_check(file);
}

bool write_run_end_maps(model_state& ms) {
  finish_optimize_file(ms);
  if (!write_flood_outputs(ms)) return false;
  end_map_datasets(ms);
  write_channel_hotstart(ms);
  const project_cards& c = ms.cards;
  if (c.adjust_elev_given && !write_cell_map(ms, c.adjust_elev, ms.cell_elev)) {
    stop_with_message("Can't open adjusted elevation map for writing: %s\n", c.adjust_elev);
    return false;
  }
  return true;
}

void write_run_end_hotstarts(model_state& ms) {
  output_state& out = ms.output;
  const project_cards& c = ms.cards;
  file_handle_release(out.read_ov_hotstart_file);
  if (c.write_ov_hotstart_given && !write_cell_map(ms, c.write_ov_hotstart, ms.overland.ov_depth))
    hotstart_open_failure(c.write_ov_hotstart);
  file_handle_release(out.read_sm_hotstart_file);
  if (c.write_sm_hotstart_given) {
    raw_array1d<double> map;
    if (map.allocate(ms.cell_count) && surface_moisture_map(ms, map) &&
        !write_cell_map(ms, c.write_sm_hotstart, map))
      hotstart_open_failure(c.write_sm_hotstart);
  }
  // The groundwater heads a later run can start its water table from.
  const char* gw_hotstart = "hotstart_file";
  if (ms.subsurface.gw_simulation && !write_cell_map(ms, gw_hotstart, ms.subsurface.elevgw))
    stop_with_message("Can't open gw hot start map for writing out hotstart info: %s\n",
                      gw_hotstart);
}
