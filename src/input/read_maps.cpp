// Input-reading driver: the start-up step of run_project that reads every grid map, table and
// per-process input of a run in its fixed order (the mask first, since it numbers the cells),
// and returns at the first fatal failure for the driver to report.
#include "input/read_maps.h"

#include <climits>
#include <cstdio>
#include <memory>
#include <new>

#include "channel/channel_steps.h"
#include "framework/core/error_state.h"
#include "framework/core/raw_arrays.h"
#include "framework/model_state.h"
#include "input/soil_inputs.h"
#include "input/surface_inputs.h"
#include "input/watershed_mask.h"
#include "input/xy_boundary.h"
#include "output/output_steps.h"
#include "overland/overland_steps.h"
#include "subsurface/subsurface_steps.h"
#include "transport/transport_steps.h"

namespace {

bool stopped() {
  return run_error.error_fatal != 0;
}

// A per-cell double array of cell_count + 1 zeroed elements; none for no cells. False, after
// the allocation message, when the memory cannot be had.
bool alloc_cell_doubles(raw_array1d<double>& array, int cell_count, const char* name) {
  array.reset();
  if (cell_count <= 0) return true;
  if (array.allocate(cell_count)) return true;
  raw_report_alloc_failure(name);
  return false;
}

// Step 1: the index map and the soil-type grid, rows 0..rows + 1 by columns 0..cols + 1, so
// that a border of zeros surrounds the grid.
bool alloc_index_grids(model_state& ms) {
  if (ms.rows <= 0 || ms.cols <= 0 || ms.rows > INT_MAX - 2 || ms.cols > INT_MAX - 2) {
    printf(
        "Error: the project grid has %d rows and %d columns; ROWS and COLS must both be "
        "positive\n",
        ms.rows, ms.cols);
    return false;
  }
  alloc_2d_int_named(ms.index_map, ms.rows + 1, ms.cols + 1, "mask");
  if (ms.index_map.empty()) return false;
  alloc_2d_int_named(ms.subsurface.soil_type_grid, ms.rows + 1, ms.cols + 1, "data");
  return !ms.subsurface.soil_type_grid.empty();
}

// Step 22: the nutrient sub-model set-up. False when read_maps must return.
bool set_up_nutrients(model_state& ms) {
  read_aquatic_env(ms);
  // A code left by the aquatic environment, fatal or not, ends the reading.
  if (run_error.error_code != 0) return false;
  nsm_overland_alloc(ms);
  contam_alloc(ms, 9, ms.cell_count, 1, 0);
  nsm_assign_grid_constituents(ms);
  if (stopped()) return false;
  nsm_assign_gw_tables(ms);
  nsm_overland_set_params(ms);
  ms.transport.ov_con_trans = 1;
  // The nutrients join the global transport summaries of the end-of-run summary.
  ms.transport.con_active = 1;
  return true;
}

}  // namespace

void size_phead_old(model_state& ms) {
  if (!ms.subsurface.inf_richards && !ms.subsurface.gw_simulation && !ms.channel.chan_explic)
    return;
  int n = ms.cell_count;
  if (ms.channel.chan_node_total > n) n = ms.channel.chan_node_total;
  if (ms.subsurface.richards_node_count > n) n = ms.subsurface.richards_node_count;
  alloc_1d_double(ms.subsurface.PHEADOLD, n, "PHEADOLD");
  if (n > 0 && ms.subsurface.PHEADOLD.empty()) stop_now();
}

void read_maps(model_state& ms) {
  if (!alloc_index_grids(ms)) {
    stop_now();
    return;
  }
  read_watershed_mask(ms);
  // Without a readable mask there are no cells to size or read the per-cell inputs by.
  if (stopped()) return;
  // The XY boundary points, read with the project file, must name cells of this watershed.
  if (!check_xy_bdy_cells(ms.cards.xy_input, ms.cell_count)) {
    stop_now();
    return;
  }

  if (!alloc_cell_doubles(ms.cell_elev, ms.cell_count, "cell_elev") ||
      !alloc_cell_doubles(ms.output.volp_scratch, ms.cell_count, "volp_scratch")) {
    stop_now();
    return;
  }
  read_elevation_map(ms);
  if (stopped()) return;

  using step = void (*)(model_state&);
  const step before_hotstarts[] = {alloc_grid_arrays,      read_dike_mask,
                                   read_wetland_mask,      read_overland_boundary,
                                   read_soil_maps,         read_aquifer_start_maps,
                                   read_gw_maps,           open_sacramento_params,
                                   read_interception_maps, read_lake_map,
                                   read_retention_map,     read_roughness_map,
                                   init_sediment_overland, init_contaminant_overland,
                                   read_theta_locations,   read_overland_pumps};
  for (step fn : before_hotstarts) {
    fn(ms);
    if (stopped()) return;
  }

  read_hotstart_maps(ms);
  if (stopped()) return;
  read_soil_moisture_hotstart(ms);
  if (stopped()) return;

  if (ms.transport.nutrients && !set_up_nutrients(ms)) return;

  setup_channel_network(ms);
  if (stopped()) return;
  alloc_channel_sediment(ms);
  if (stopped()) return;
  // The channel node total is known only now.
  size_phead_old(ms);
  if (stopped()) return;
  init_tile_pipe_grid(ms);
  if (stopped()) return;
  if (ms.channel.chan_explic) init_superlink_channel_connection(ms);
  if (ms.transport.nutrients && ms.transport.soil_con_trans) nsm_assign_mapped_params(ms);
  if (ms.cards.r7_fluxes_given) set_up_r7_link(ms);
}
