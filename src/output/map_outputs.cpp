// Map outputs of the time loop: the derived maps (depth with lake water, discharge magnitude,
// incremental recharge, the sediment maps) are formed, then every enabled map is written as a
// dataset frame or as one grid file of its own, and the constituent maps through their output
// objects.
#include "output/map_outputs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "channel/channel_lake_steps.h"
#include "framework/core/error_state.h"
#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "output/grid_writer.h"
#include "output/map_output.h"
#include "output/nsm_outputs.h"

namespace {

// A map's source: the array when the run keeps it, else a map of zeros.
const double* source(const raw_array1d<double>& values, const raw_array1d<double>& zeros) {
  return values.empty() ? zeros.data() : values.data();
}

// The sediment maps of the overland sediment record: the flux of all classes x 1,000,000 into
// the record's flux map, the net sediment volume x 1000 / gridsize^2 and the first class's
// suspended sediment.
void form_sediment_maps(model_state& ms, map_outputs_state& mo) {
  ov_sediment_obj* sed = ms.transport.ov_sed.get();
  if (sed == nullptr || !ms.transport.sediment.soil_erosion) return;
  const int n = ms.cell_count;
  if (mo.dataset_on[dataset_sediment_flux] && !sed->ov_qsmax.empty() &&
      sed->ov_qsmax_total.count() >= n) {
    const int classes = std::min(sed->num_sed_classes, sed->ov_qsmax.col_count());
    for (int i = 1; i <= n && i <= sed->ov_qsmax.row_count(); ++i) {
      double total = 0.0;
      for (int k = 1; k <= classes; ++k) total += sed->ov_qsmax[i][k];
      sed->ov_qsmax_total[i] = total * 1000000.0;
    }
  }
  if (mo.dataset_on[dataset_sediment_volume] && sed->ov_net_sed.count() >= n && ms.gridsize > 0.0) {
    if (mo.net_sed_map.count() != n) mo.net_sed_map.allocate(n);
    for (int i = 1; i <= n; ++i)
      mo.net_sed_map[i] = sed->ov_net_sed[i] * 1000.0 / (ms.gridsize * ms.gridsize);
  }
  if (mo.dataset_on[dataset_suspended_sediment] && !sed->ov_qsconc.empty() &&
      sed->ov_qsconc.col_count() >= 1) {
    if (mo.suspended_map.count() != n) mo.suspended_map.allocate(n);
    for (int i = 1; i <= n; ++i)
      mo.suspended_map[i] = i <= sed->ov_qsconc.row_count() ? sed->ov_qsconc[i][1] : 0.0;
  }
}

// Forms the maps that are not kept by the steps themselves.
void form_derived_maps(model_state& ms, map_outputs_state& mo) {
  const int n = ms.cell_count;
  const output_state& out = ms.output;
  if (mo.dataset_on[dataset_depth]) {
    if (mo.depth_map.count() != n) mo.depth_map.allocate(n);
    const raw_array1d<double>& depth = ms.overland.ov_depth;
    // The cells of a channel lake show the lake's water over their ground.
    if (ms.perennial_lakes && depth.count() >= n)
      channel_lake_depths(ms, depth.data(), mo.depth_map.data());
    else
      for (int i = 1; i <= n; ++i) mo.depth_map[i] = depth.empty() ? 0.0 : depth[i];
  }
  if (mo.dataset_on[dataset_discharge]) {
    if (mo.discharge_map.count() != n) mo.discharge_map.allocate(n);
    const raw_array1d<double>& fx = ms.overland.ov_flux_x;
    const raw_array1d<double>& fy = ms.overland.ov_flux_y;
    const double g = ms.gridsize;
    for (int i = 1; i <= n; ++i) {
      // The face discharges are m3/s across a whole face: per unit width they are / gridsize.
      const double qx = fx.empty() || g <= 0.0 ? 0.0 : fx[i] / g;
      const double qy = fy.empty() || g <= 0.0 ? 0.0 : fy[i] / g;
      mo.discharge_map[i] = cell_discharge(g, qx, qy);
    }
  }
  if (mo.dataset_on[dataset_gw_recharge_inc] && out.map_gw_recharge_inc) {
    if (mo.recharge_prev.count() != n) mo.recharge_prev.allocate(n);
    if (mo.recharge_inc.count() != n) mo.recharge_inc.allocate(n);
    for (int i = 1; i <= n; ++i) {
      const double cum = mo.gw_recharge_cum.empty() ? 0.0 : mo.gw_recharge_cum[i];
      mo.recharge_inc[i] = cum - mo.recharge_prev[i];
      mo.recharge_prev[i] = cum;
    }
  }
  form_sediment_maps(ms, mo);
}

// One map of the run: its dataset kind, the word of its frame files, the name its card gave,
// its values and the message of a frame file that does not open.
struct map_entry {
  int kind;
  const char* word;
  const char* name;
  const double* values;
  const char* open_failure;
};

void write_grid_frames(model_state& ms, map_outputs_state& mo, const map_entry* maps, int count) {
  ++mo.map_frame_number;
  for (int k = 0; k < count; ++k) {
    const map_entry& m = maps[k];
    if (!mo.dataset_on[m.kind]) continue;
    const std::string name = map_frame_file_name(m.name, m.word, mo.map_frame_number);
    printf("opening file %s\n", name.c_str());
    // The frames go into the folder the map's card names, made when it is not there yet.
    file_handle frame;
    if (!make_output_folders(name.c_str()) || !file_handle_open(frame, name.c_str(), "w")) {
      // A map that cannot be written stops the run: its frames would be missing silently.
      mo.dataset_on[m.kind] = 0;
      stop_with_message(m.open_failure, name.c_str());
      return;
    }
    write_ascii_grid(frame, ms.index_map, ms.map_north, ms.map_south, ms.map_east, ms.map_west,
                     ms.map_rows, ms.map_cols, m.values, ms.gridsize);
    file_handle_close(frame);
    if (run_error.error_fatal) return;
  }
}

// The model's own maps, as frames of their datasets or one grid file per map and frame.
void write_model_maps(model_state& ms, map_outputs_state& mo, int map_type) {
  form_derived_maps(ms, mo);
  raw_array1d<double>& zeros = mo.zeros;
  if (zeros.count() != ms.cell_count) zeros.allocate(ms.cell_count);
  const project_cards& c = ms.cards;
  const subsurface_state& ss = ms.subsurface;
  const double* depth = source(mo.depth_map, zeros);
  const double* swe = source(ss.swe, zeros);
  const double* discharge = source(mo.discharge_map, zeros);
  const double* gw_head = source(ss.elevgw, zeros);
  const double* rain = source(ms.overland.rain_cell, zeros);
  const double* recharge_cum = source(mo.gw_recharge_cum, zeros);
  const double* recharge_inc = source(mo.recharge_inc, zeros);
  const double* inf_depth = source(ss.inf_depth_cum, zeros);
  const double* inf_rate = source(ss.inf_rate, zeros);
  const double* moisture = source(ss.surf_moist, zeros);
  // The overland concentration map shows the first constituent.
  const raw_array2d<double>& contam = ms.transport.ov_contam_conc;
  const double* contam_conc = contam.row_count() >= 1 ? contam[1] : zeros.data();
  const ov_sediment_obj* sed = ms.transport.ov_sed.get();
  const double* sed_flux = sed != nullptr ? source(sed->ov_qsmax_total, zeros) : zeros.data();
  const double* net_sed = source(mo.net_sed_map, zeros);
  const double* suspended = source(mo.suspended_map, zeros);
  const sediment_member& sm = ms.transport.sediment;

  if (map_type == 0) {
    const bool surf = c.surf_moist[0] != '\0' && std::string(c.surf_moist).back() == '\\';
    const map_entry maps[] = {
        {dataset_depth, "depth", c.depth, depth, "Can't open depth map for writing: %s\n"},
        {dataset_snow_water_equivalent, "swe", c.snow_swe_file, swe,
         "Can't open snow water equivalent map for writing: %s\n"},
        {dataset_discharge, "discharge", c.discharge, discharge,
         "Can't open discharge map for writing: %s\n"},
        {dataset_rain, "rain", c.dis_rain, rain, "Can't open rainfall map for writing: %s\n"},
        {dataset_infiltrated_depth, "infdep", c.inf_depth, inf_depth,
         "Can't open Cum. infilt. depth map for writing: %s\n"},
        {dataset_infiltration_rate, "infrate", c.rate_of_infil, inf_rate,
         "Can't open infiltration rate map for writing: %s\n"},
        {dataset_surface_moisture, surf ? "surf" : "smoist", c.surf_moist, moisture,
         "Can't open surface moisture content map for writing: %s\n"},
        {dataset_sediment_flux, "max_sed_flux", sm.output_name[sed_out_flux], sed_flux,
         "Can't open sediment flux map for writing: %s\n"},
        {dataset_groundwater_head, "gw_head", c.gw_output, gw_head,
         "Can't open groundwater head map for writing: %s\n"},
        {dataset_gw_recharge_cum, "gwrechargecum", c.gw_recharge_cum, recharge_cum,
         "Can't open cum gw recharge map for writing: %s\n"},
        {dataset_gw_recharge_inc, "gwrechargeinc", c.gw_recharge_inc, recharge_inc,
         "Can't open incremental groundwater recharge map for writing: %s\n"},
        {dataset_sediment_volume, "net_sed_volume", sm.output_name[sed_out_net_volume], net_sed,
         "Can't open net sediment volume map for writing: %s\n"},
        {dataset_contaminant_conc, "contam_conc", c.ov_con_map, contam_conc,
         "Can't open contaminant concentration map for writing: %s\n"},
    };
    write_grid_frames(ms, mo, maps, static_cast<int>(sizeof maps / sizeof maps[0]));
    return;
  }

  const bool binary = map_type == 2;
  // Under the third dataset format only the maps it can hold are written (always = 1).
  const struct {
    int kind;
    const double* values;
    int always;
  } frames[] = {
      {dataset_depth, depth, 0},
      {dataset_snow_water_equivalent, swe, 0},
      {dataset_discharge, discharge, 0},
      {dataset_groundwater_head, gw_head, 1},
      {dataset_rain, rain, 0},
      {dataset_gw_recharge_cum, recharge_cum, 0},
      {dataset_gw_recharge_inc, recharge_inc, 0},
      {dataset_infiltrated_depth, inf_depth, 0},
      {dataset_infiltration_rate, inf_rate, 0},
      {dataset_surface_moisture, moisture, 0},
      {dataset_sediment_flux, sed_flux, 1},
      {dataset_sediment_volume, net_sed, 0},
      {dataset_suspended_sediment, suspended, 0},
      {dataset_contaminant_conc, contam_conc, 0},
  };
  for (const auto& f : frames) {
    if (!mo.dataset_on[f.kind] || (map_type == 4 && !f.always)) continue;
    write_map_dataset_step(mo.dataset_file[f.kind], ms.elapsed_minutes, ms.map_rows, ms.map_cols,
                           ms.index_map, f.values, binary);
    // Each frame reaches its file whole before the next step; a failed write stops the run.
    if (!file_handle_write_check(mo.dataset_file[f.kind])) return;
  }
}

// The constituent maps: the concentration, then the mass map of every constituent with outputs.
void write_constituent_maps(model_state& ms) {
  output_state& out = ms.output;
  guarded_array2d<map_output>& objects = out.con_map_outputs;
  if (out.con_output_count <= 0 || objects.width() < 2) return;
  for (int k = 1; k <= out.con_output_count && k <= objects.row_count(); ++k) {
    write_map(objects[k][1], ms.elapsed_minutes);
    write_map(objects[k][2], ms.elapsed_minutes);
  }
}

}  // namespace

double cell_discharge(double gridsize, double qx, double qy) {
  return gridsize * std::sqrt(qx * qx + qy * qy);
}

std::string map_frame_file_name(const char* output_name, const char* word, int frame) {
  std::string name = output_name;
  if (name.empty() || name.back() != '\\') name.push_back('\\');
  char number[16];
  snprintf(number, sizeof number, ".%04d.asc", frame);
  return name + word + number;
}

void write_output_maps(model_state& ms) {
  if (ms.map_freq <= 0 || (ms.step_number - 1) % ms.map_freq != 0) return;
  if (process_info.process_index != 0) return;
  map_outputs_state& mo = ms.output.maps;
  const int map_type = ms.grid_params.map_type;
  if (ms.transport.nutrients) write_nsm_step_outputs(ms);
  if (map_type == 0 || map_type == 1 || map_type == 2 || map_type == 4)
    write_model_maps(ms, mo, map_type);
  write_constituent_maps(ms);
}

void open_map_dataset_kind(int kind, model_state& ms) {
  if (kind < 0 || kind >= map_dataset_kind_count) return;
  const project_cards& c = ms.cards;
  const char* const names[map_dataset_kind_count] = {
      c.depth,
      c.discharge,
      c.dis_rain,
      c.inf_depth,
      c.rate_of_infil,
      c.surf_moist,
      c.gw_output,
      ms.transport.sediment.output_name[sed_out_flux],
      ms.transport.sediment.output_name[sed_out_net_volume],
      ms.transport.sediment.output_name[sed_out_suspended],
      c.ov_con_map,
      ms.input.names.flood_grid,
      c.gw_recharge_cum,
      c.gw_recharge_inc,
      c.snow_swe_file,
  };
  map_outputs_state& mo = ms.output.maps;
  open_map_dataset(1010 + kind, names[kind], map_dataset_name(kind), mo.dataset_file[kind],
                   mo.dataset_on[kind], ms);
}

void open_map_datasets(model_state& ms) {
  const output_state& out = ms.output;
  map_outputs_state& mo = ms.output.maps;
  int* on = mo.dataset_on;
  on[dataset_depth] = out.map_depth;
  on[dataset_discharge] = out.map_discharge;
  on[dataset_rain] = out.map_rain;
  on[dataset_infiltrated_depth] = out.map_inf_depth;
  on[dataset_infiltration_rate] = out.map_infil_rate;
  on[dataset_surface_moisture] = out.map_surf_moist;
  on[dataset_groundwater_head] = ms.subsurface.gw_output_on;
  const transport_state& tr = ms.transport;
  const int erosion = tr.sediment.soil_erosion != 0;
  on[dataset_sediment_flux] = erosion && tr.max_sed_flux_on;
  on[dataset_sediment_volume] = erosion && tr.net_sed_volume_on;
  on[dataset_suspended_sediment] = erosion && tr.vol_sed_susp_on;
  on[dataset_contaminant_conc] = ms.transport.ov_con_trans && out.map_ov_conc;
  on[dataset_flood_grid] = out.flood_grid;
  on[dataset_gw_recharge_cum] = out.map_gw_recharge_cum;
  on[dataset_gw_recharge_inc] = out.map_gw_recharge_inc;
  on[dataset_snow_water_equivalent] = ms.cards.snow_swe_file_given;
  for (int kind : {0, 1, 2, 12, 13, 3, 4, 5, 6, 7, 8, 9, 10, 11, 14}) {
    if (!on[kind]) continue;
    open_map_dataset_kind(kind, ms);
    if (run_error.error_fatal) return;
  }
  if (ms.transport.nutrients) setup_nsm_total_maps(ms);
}
