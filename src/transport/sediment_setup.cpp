// Overland sediment set-up, called by read_maps after the soil maps: copies the sediment cards,
// works out the viscosity of the water, opens the sediment outputs, reads the size classes and the
// soil erosion properties, allocates the overland sediment record and gives every class its
// settling velocity, particle density and its place among the fine and the sand classes.
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "input/input_steps.h"
#include "transport/sediment_kernels.h"
#include "transport/sediment_lanes.h"
#include "transport/sediment_sweep.h"
#include "transport/transport_steps.h"

namespace {

void copy_name(char* to, const char* from) {
  std::snprintf(to, 1024, "%s", from);
}

// Opens one sediment output for writing; a failure is error 4 with the output's role.
bool open_output(file_handle& h, const char* name, const char* role) {
  if (file_handle_open(h, name, "w")) return true;
  raise_file_error(err_file_not_open, role, name);
  return false;
}

// The sediment outputs this step owns: the outlet sediment series always, the outlet TSS series
// when asked, and with IN_SED_LOC and channel sediment routing the sediment series at the listed
// channel locations (OUT_SED_LOC) and their TSS (OUT_TSS_LOC). The list itself is read with the
// channel network. The three sediment maps are datasets opened with the other maps.
bool open_sediment_output_files(model_state& ms) {
  transport_state& tr = ms.transport;
  sediment_member& sm = tr.sediment;
  if (!open_output(sm.output_file[sed_out_outlet], sm.output_name[sed_out_outlet],
                   "outlet sediment hydrograph"))
    return false;
  if (ms.transport.outlet_sed_tss_on &&
      !open_output(sm.output_file[sed_out_outlet_tss], sm.output_name[sed_out_outlet_tss],
                   "outlet sediment tss file"))
    return false;
  const project_cards& c = ms.cards;
  if (!c.in_sed_loc_given || !tr.chan_sediment) return true;
  if (!open_output(tr.out_sed_loc_file, c.out_sed_loc, "output sed. hydrograph locations"))
    return false;
  tr.sed_locations_on = 1;
  if (c.out_tss_loc_given) {
    if (!open_output(sm.output_file[sed_out_tss_locations], sm.output_name[sed_out_tss_locations],
                     "output sediment tss hydrograph locations"))
      return false;
    tr.out_tss_loc_on = 1;
  }
  return true;
}

// Prints a line of the set-up to the console (unless quiet) and to the summary file.
void announce(const model_state& ms, const char* text) {
  if (!ms.quiet) fputs(text, stdout);
  if (ms.output.summary_file.fp != nullptr) fputs(text, ms.output.summary_file.fp);
}

bool allocate_cell_class(raw_array2d<double>& a, int cells, int classes, const char* name) {
  if (a.allocate(cells, classes)) return true;
  std::printf("Error allocating memory for variable %s\n", name);
  return false;
}

template <class T>
bool allocate_count(raw_array1d<T>& a, int n, const char* name) {
  if (a.allocate(n)) return true;
  std::printf("Error allocating memory for variable %s\n", name);
  return false;
}

}  // namespace

void init_sediment_overland(model_state& ms) {
  transport_state& tr = ms.transport;
  sediment_member& sm = tr.sediment;
  if (!sm.soil_erosion) return;
  const project_cards& c = ms.cards;
  tr.ov_sed = std::make_unique<ov_sediment_obj>();
  ov_sediment_obj& sed = *tr.ov_sed;
  sm.sed_option = 4;
  sm.sed_constituents = c.soil_erosion >= 10 ? 2 : 1;
  sm.erosion_method = c.soil_erosion >= 10 ? c.soil_erosion - 10 : c.soil_erosion;
  tr.net_sed_volume_on = c.net_sed_volume_given;
  tr.max_sed_flux_on = c.max_sed_flux_given;
  tr.vol_sed_susp_on = c.vol_sed_susp_given;
  tr.outlet_sed_tss_on = c.outlet_sed_tss_given;
  sm.adjust_elev = c.adjust_elev_given;
  copy_name(sm.output_name[sed_out_suspended], c.vol_sed_susp);
  copy_name(sm.output_name[sed_out_flux], c.max_sed_flux);
  copy_name(sm.output_name[sed_out_net_volume], c.net_sed_volume);
  copy_name(sm.output_name[sed_out_outlet], c.outlet_sed_flux);
  copy_name(sm.output_name[sed_out_outlet_tss], c.outlet_sed_tss);
  copy_name(sm.output_name[sed_out_tss_locations], c.out_tss_loc);
  sm.sand_size = c.sand_size;
  sm.water_temp = c.water_temp < 0.0 ? 0.0 : c.water_temp;
  sm.sed_porosity = c.sed_porosity;
  sm.kin_viscosity = kinematic_viscosity(sm.water_temp);
  if (sm.erosion_method < 1 || sm.erosion_method > 6) {
    stop_with_message(
        "Error: SOIL_EROSION %d selects no transport-capacity form: give 1 to 6 (or 11 to 16)\n",
        c.soil_erosion);
    return;
  }

  if (!open_sediment_output_files(ms)) return;

  announce(ms, "Reading sediments table from mapping table file\n");
  const char* table_file = ms.input.names.mapping_table;
  if (!ms.input.mapping_table_on || table_file[0] == '\0') {
    report_error_now(err_sediment_table_missing);
    return;
  }
  int classes = 0;
  if (!read_sed_table(table_file, classes, sed.spec_grav, sed.part_diam, sed.output_filename,
                      sed.f_bind))
    return;
  if (classes <= 0) {
    report_error_now(err_sediment_table_missing);
    return;
  }
  sm.num_sed_classes = classes;
  sed.num_sed_classes = classes;

  const int n = ms.cell_count;
  const bool ok =
      (!tr.max_sed_flux_on || (allocate_cell_class(sed.ov_qsmax, n, classes, "ov_qsmax") &&
                               allocate_count(sed.ov_qsmax_total, n, "ov_qsmax_total"))) &&
      (!tr.net_sed_volume_on || allocate_count(sed.ov_net_sed, n, "ov_net_sed")) &&
      (!tr.vol_sed_susp_on || (allocate_cell_class(sed.ov_qsconc, n, classes, "ov_qsconc") &&
                               allocate_count(sed.ov_conc, n, "ov_conc"))) &&
      allocate_count(sed.qsx, n, "qsx") && allocate_count(sed.qsy, n, "qsy") &&
      allocate_count(sed.splash_K, n, "splash_K") &&
      allocate_count(sed.detach_coef, n, "detach_coef") &&
      allocate_count(sed.detach_exp, n, "detach_exp") &&
      allocate_count(sed.detach_crit, n, "detach_crit") && allocate_count(sed.sed_K, n, "sed_K") &&
      sed.vol_sed.allocate(n, classes, 4) &&
      sed.sed_fract.allocate(n, classes, sed_fract_slot_count - 1) &&
      allocate_count(sed.sed_class, classes, "sed_class") &&
      allocate_count(sed.sand, classes, "sand") &&
      allocate_count(sed.class_log_diam, classes, "class_log_diam") &&
      allocate_count(sed.class_log_step, classes, "class_log_step") &&
      allocate_count(sed.settling_vel, classes, "settling_vel") &&
      allocate_count(sed.particle_density, classes, "particle_density") &&
      allocate_cell_class(sed.sed_vol_eroded, n, classes, "ov_sed_vol_eroded") &&
      allocate_cell_class(sed.sed_vol_deposited, n, classes, "ov_sed_vol_deposited") &&
      allocate_cell_class(sed.ov_qsvol, n, classes, "ov_qsvol") &&
      allocate_count(sed.slope_x, n, "slope_x") && allocate_count(sed.slope_y, n, "slope_y") &&
      allocate_count(sed.cell_discharge, n, "cell_discharge") &&
      allocate_count(sed.trap_fraction, classes, "trap_fraction") &&
      sed_water_pass_allocate(sed, n, classes) &&
      allocate_count(sed.channel_cells, n, "channel_cells");
  if (!ok) {
    stop_with_message("Error: no memory for the sediment of %d cells and %d size classes\n", n,
                      classes);
    return;
  }
  // The overland lakes hold, pass on and settle what the plane hands them.
  const int olakes = ms.overland.overland_lake_map ? ms.overland.olake_count : 0;
  if (olakes >= 1 &&
      !(allocate_cell_class(tr.olake_sed, olakes, classes, "olake_sed") &&
        allocate_cell_class(tr.olake_sed_in, olakes, classes, "olake_sed_in") &&
        allocate_cell_class(tr.olake_sed_settled, olakes, classes, "olake_sed_settled"))) {
    stop_with_message("Error: no memory for the sediment of %d overland lakes\n", olakes);
    return;
  }

  announce(ms, "Reading soil erosion properties table from mapping table file\n");
  const erosion_columns columns = {&sed.splash_K, &sed.detach_coef, &sed.detach_exp,
                                   &sed.detach_crit, &sed.sed_K};
  if (!read_erosion_table(ms, table_file, columns, sed.sed_fract, classes)) {
    if (run_error.error_code == 0) report_error_now(err_erosion_table_unreadable);
    return;
  }

  const double nu = sm.kin_viscosity;
  tr.num_fine_classes = 0;
  tr.num_sand_classes = 0;
  for (int k = 1; k <= classes; ++k) {
    sed.particle_density[k] = sed.spec_grav[k] * 998.2 * 1000.0;
    sed.settling_vel[k] = settling_velocity(sed.spec_grav[k], sed.part_diam[k], nu);
    sed.sand[k] = sed.part_diam[k] < sm.sand_size ? 0 : 1;
    if (sed.sand[k])
      ++tr.num_sand_classes;
    else
      ++tr.num_fine_classes;
  }
  int position = 0;
  for (int want : {0, 1})
    for (int k = 1; k <= classes; ++k)
      if (sed.sand[k] == want) sed.sed_class[++position] = k;
  sediment_class_logs(classes, sed.part_diam.data(), sed.class_log_diam.data(),
                      sed.class_log_step.data());
  // The tiles of the cell-to-cell transport; without them the step makes its single pass.
  build_sediment_sweep(sed.sweep, ms.index_map, ms.rows, ms.cols, n);
}
