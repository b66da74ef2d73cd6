// Surface inputs, hotstarts and the tile-drain grid: the readers that read_maps calls at start-up
// for the wetlands, overland boundaries, interception, retention and roughness, the snow,
// overland and soil-moisture hotstarts with the initial head, and the pipe network on the grid.
// Each per-cell parameter comes from its own grid map when its file is open, else from its table
// in the mapping-table file; every value is checked before the run may use it.
#include "input/surface_inputs.h"

#include <cmath>
#include <cstdio>

#include "channel/channel_steps.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "framework/model_state.h"
#include "input/ascii_grid.h"
#include "input/mapping_tables.h"
#include "input/parameter_tables.h"
#include "input/special_tables.h"
#include "overland/overland_steps.h"
#include "subsurface/subsurface_steps.h"

namespace {

// Positions of the surface tables in input_state::table_present (the check report's order).
constexpr int present_roughness = 0;
constexpr int present_interception = 1;
constexpr int present_retention = 2;
constexpr int present_overland_boundary = 12;

// Overland boundary types a cell may carry: 0 none, 1 normal depth .. 5 inflow series (m3/s).
constexpr int max_boundary_type = 5;

// Grate inlets take water from the cell above them; larger types are outfalls and boundaries.
constexpr int last_grate_inlet_type = 10;

bool stopped() {
  return run_error.error_fatal != 0;
}

bool table_on(const model_state& ms, int present_index) {
  return ms.input.mapping_table_on != 0 && ms.input.table_present[present_index] != 0;
}

// A per-cell double array of at least cell_count + 1 zeroed elements; one already that large
// (allocated by the per-cell set-up) is kept with its values. False after the allocation
// message and a code 4000 report.
bool ensure_cell_doubles(raw_array1d<double>& array, int cell_count, const char* name) {
  if (!array.empty() && array.count() >= cell_count) return true;
  alloc_1d_double(array, cell_count, name);
  if (cell_count <= 0 || !array.empty()) return true;
  stop_now();
  return false;
}

bool ensure_cell_ints(raw_array1d<int>& array, int cell_count, const char* name) {
  if (!array.empty() && array.count() >= cell_count) return true;
  alloc_1d_int(array, cell_count, name);
  if (cell_count <= 0 || !array.empty()) return true;
  stop_now();
  return false;
}

// Reads one double per watershed cell from the open map `h` into dest and closes the map.
// False when the map reader stopped the run.
bool read_cell_map(model_state& ms, file_handle& h, const char* name, raw_array1d<double>& dest) {
  read_ascii_map(h, name, map_store_cell_double, ms.map_north, ms.map_south, ms.map_east,
                 ms.map_west, ms.map_rows, ms.map_cols, ms.index_map, &dest, nullptr, nullptr,
                 ms.rows, ms.cols);
  file_handle_close(h);
  return !stopped();
}

// Step 2 of the map-or-table pattern for one parameter: its grid map when the file is open
// (the map's values replace the table's), else the table that step 1 read. `source` receives
// the name of the file the values came from. False when the run stops.
bool map_or_table(model_state& ms, file_handle& h, const char* file_name, const char* role,
                  const char* file_line, const char* table_line, bool table_read,
                  raw_array1d<double>& dest, const char*& source) {
  if (h.is_open()) {
    input_reading_line(ms, file_line, file_name);
    source = file_name;
    return read_cell_map(ms, h, file_name, dest);
  }
  if (!table_read) {
    raise_file_error(err_file_not_open, role, file_name);
    return false;
  }
  input_reading_line(ms, "%s", table_line);
  source = ms.input.names.mapping_table;
  return true;
}

// The first cell 1..cell_count whose value fails `ok`, or 0 when every value passes.
template <class Ok>
int first_bad_cell(const raw_array1d<double>& values, int cell_count, Ok ok) {
  for (int c = 1; c <= cell_count; ++c)
    if (!ok(values[c])) return c;
  return 0;
}

bool non_negative(double v) {
  return std::isfinite(v) && v >= 0.0;
}

// Rejects (code 4000) a per-cell value that is negative or not a number; `what` names the
// parameter with its unit, `source` the file it came from.
bool check_non_negative(const raw_array1d<double>& values, int cell_count, const char* what,
                        const char* source) {
  const int bad = first_bad_cell(values, cell_count, non_negative);
  if (bad == 0) return true;
  stop_with_message("Error: %s %g at grid cell %d is negative or not a number (from %s).\n", what,
                    values[bad], bad, source);
  return false;
}

// The Richards or layered-soil water-content grid [cell][node] holds the first node of every
// cell.
bool has_first_node(const raw_array2d<double>& theta, int cell_count) {
  return !theta.empty() && theta.row_count() >= cell_count && theta.col_count() >= 1;
}

// The cell of the grid position (row, col): index_map's number (0 outside the watershed), or -1
// off the grid.
int cell_at(const model_state& ms, int row, int col) {
  if (row < 1 || row > ms.rows || col < 1 || col > ms.cols || ms.index_map.empty()) return -1;
  return ms.index_map[row][col];
}

bool grate_inlet(int inlet_type) {
  return inlet_type >= 1 && inlet_type <= last_grate_inlet_type;
}

}  // namespace

void read_wetland_mask(model_state& ms) {
  if (!ms.input.wetland_table_on) return;
  overland_state& ov = ms.overland;
  alloc_1d_int(ov.wetland_mask, ms.cell_count, "wetland_mask");
  if (ms.cell_count > 0 && ov.wetland_mask.empty()) {
    stop_now();
    return;
  }
  if (read_wetland_table(ms, ms.input.names.mapping_table, ov.wetland_count, ov.wetlands,
                         ov.wetland_mask) == 0) {
    // The table reader has reported its fault; the run must not go on without the wetlands.
    run_error.error_fatal = 1;
    return;
  }
  if (input_console_on(ms)) printf("Simulating wetlands\n");
}

void read_overland_boundary(model_state& ms) {
  overland_state& ov = ms.overland;
  if (!ov.ov_boundary) return;
  if (!ensure_cell_doubles(ov.boundary_value, ms.cell_count, "boundary_value") ||
      !ensure_cell_doubles(ov.boundary_param, ms.cell_count, "boundary_param") ||
      !ensure_cell_ints(ov.boundary_type, ms.cell_count, "boundary_type"))
    return;
  if (!table_on(ms, present_overland_boundary)) {
    raise_error(err_overland_boundary_table_missing);
    return;
  }
  table_columns columns{};
  columns[0] = &ov.boundary_value;
  columns[1] = &ov.boundary_param;
  read_map_table(ms, map_table_overland_boundary, columns);
  if (stopped()) return;
  // The type is the first value truncated toward zero; a type the boundary step does not know
  // would leave the cell silently without its boundary.
  const int bad = first_bad_cell(ov.boundary_value, ms.cell_count, [](double v) {
    return std::isfinite(v) && v >= 0.0 && v < max_boundary_type + 1.0;
  });
  if (bad != 0) {
    stop_with_message(
        "Error: the OVERLAND_BOUNDARY table of %s gives grid cell %d the boundary type %g; "
        "the types are 0 to %d.\n",
        ms.input.names.mapping_table, bad, ov.boundary_value[bad], max_boundary_type);
    return;
  }
  for (int c = 1; c <= ms.cell_count; ++c)
    ov.boundary_type[c] = static_cast<int>(ov.boundary_value[c]);
}

void read_interception_maps(model_state& ms) {
  overland_state& ov = ms.overland;
  if (!ov.interception_on) return;
  input_state& in = ms.input;
  if (!ensure_cell_doubles(ov.interception_capacity, ms.cell_count, "interception_capacity") ||
      !ensure_cell_doubles(ov.interception_coeff, ms.cell_count, "interception_coeff"))
    return;
  const bool table = table_on(ms, present_interception);
  if (table) {
    table_columns columns{};
    columns[0] = &ov.interception_capacity;
    columns[1] = &ov.interception_coeff;
    read_map_table(ms, map_table_interception, columns);
    if (stopped()) return;
  }
  const char* capacity_source = nullptr;
  if (!map_or_table(ms, in.interception_file, in.names.storage_capacity, "interception storage",
                    "reading interception storage from file: %s\n",
                    "reading interception storage table and map from master table file\n", table,
                    ov.interception_capacity, capacity_source))
    return;
  const char* coeff_source = nullptr;
  if (!map_or_table(ms, in.interception_coeff_file, in.names.interception_coeff,
                    "interception coeff.", "reading interception coeff. from file: %s\n",
                    "reading interception coeff. table and map from the master table file\n", table,
                    ov.interception_coeff, coeff_source))
    return;

  if (!check_non_negative(ov.interception_capacity, ms.cell_count,
                          "interception storage capacity (mm)", capacity_source))
    return;
  // The coefficient is the share of the rain held once the storage is full: above 1 the net
  // rain would turn negative.
  const int bad = first_bad_cell(ov.interception_coeff, ms.cell_count,
                                 [](double v) { return non_negative(v) && v <= 1.0; });
  if (bad != 0)
    stop_with_message(
        "Error: interception coefficient %g at grid cell %d is not between 0 and 1 "
        "(from %s).\n",
        ov.interception_coeff[bad], bad, coeff_source);
}

void read_retention_map(model_state& ms) {
  overland_state& ov = ms.overland;
  input_state& in = ms.input;
  if (!ensure_cell_doubles(ov.ov_retention, ms.cell_count, "ov_retention")) return;

  const bool table = table_on(ms, present_retention);
  bool per_cell = false;  // the depths come from the map or the table (mm)
  const char* source = nullptr;
  if (table) {
    table_columns columns{};
    columns[0] = &ov.ov_retention;
    read_map_table(ms, map_table_retention, columns);
    if (stopped()) return;
    per_cell = true;
    source = in.names.mapping_table;
  }
  if (ov.reten_depth_on && in.retention_file.is_open()) {
    input_reading_line(ms, "reading retention storage map from file: %s\n", in.names.reten_depth);
    source = in.names.reten_depth;
    if (!read_cell_map(ms, in.retention_file, in.names.reten_depth, ov.ov_retention)) return;
    per_cell = true;
  } else if (table) {
    input_reading_line(ms, "reading retention storage table and map from master table file\n");
  } else if (ov.reten_depth_on) {
    raise_file_error(err_file_not_open, "retention depth", in.names.reten_depth);
    return;
  }

  if (per_cell) {
    if (!check_non_negative(ov.ov_retention, ms.cell_count, "retention depth (mm)", source)) return;
    for (int c = 1; c <= ms.cell_count; ++c) ov.ov_retention[c] /= 1000.0;
    return;
  }
  const double depth_mm = ov.retention_on ? ov.uniform_retention : 0.0;
  if (!non_negative(depth_mm)) {
    stop_with_message(
        "Error: the uniform retention depth %g mm of the RETENTION card is negative or "
        "not a number.\n",
        depth_mm);
    return;
  }
  for (int c = 1; c <= ms.cell_count; ++c) ov.ov_retention[c] = depth_mm / 1000.0;
}

void read_roughness_map(model_state& ms) {
  overland_state& ov = ms.overland;
  input_state& in = ms.input;
  if (!ensure_cell_doubles(ov.ov_roughness, ms.cell_count, "ov_roughness")) return;

  if (!ov.roughness_on) {
    // One roughness for every cell; the overland flow divides by it.
    if (!(ov.manning_n > 1e-6) || !std::isfinite(ov.manning_n)) {
      printf("\nInvalid spatially uniform overland flow Manning n value=%lf\n", ov.manning_n);
      printf("TORVA exiting.\n");
      stop_now();
      return;
    }
    for (int c = 1; c <= ms.cell_count; ++c) ov.ov_roughness[c] = ov.manning_n;
    return;
  }

  const bool table = table_on(ms, present_roughness);
  if (table) {
    table_columns columns{};
    columns[0] = &ov.ov_roughness;
    read_map_table(ms, map_table_roughness, columns);
    if (stopped()) return;
  }
  const char* source = nullptr;
  if (!map_or_table(ms, in.roughness_file, in.names.roughness, "Manning roughness",
                    "reading roughness map from file: %s\n",
                    "reading roughness table and map from master table file\n", table,
                    ov.ov_roughness, source))
    return;
  const int bad = first_bad_cell(ov.ov_roughness, ms.cell_count,
                                 [](double n) { return std::isfinite(n) && n > 0.0; });
  if (bad == 0) return;
  if (ov.ov_roughness[bad] == 0.0)
    printf("Overland Manning n=0 at grid cell %d.  Program terminating.\n", bad);
  else
    printf(
        "Overland Manning n=%g at grid cell %d is not a positive number (from %s).  Program "
        "terminating.\n",
        ov.ov_roughness[bad], bad, source);
  stop_now();
}

void read_hotstart_maps(model_state& ms) {
  overland_state& ov = ms.overland;
  project_cards& c = ms.cards;

  if (c.init_swe_kind == 1) {
    subsurface_state& ss = ms.subsurface;
    if (!ensure_cell_doubles(ss.swe, ms.cell_count, "swe")) return;
    input_reading_line(ms, "reading initial snow swe map from file: %s\n", c.init_swe_map);
    file_handle swe_file;
    if (!file_handle_open(swe_file, static_cast<const char*>(c.init_swe_map), "r")) {
      raise_file_error(err_file_not_open, "initial snow swe", c.init_swe_map);
      return;
    }
    if (!read_cell_map(ms, swe_file, c.init_swe_map, ss.swe)) return;
    if (!check_non_negative(ss.swe, ms.cell_count, "initial snow water equivalent (m)",
                            c.init_swe_map))
      return;
  }

  const bool hotstart = c.ov_init_depth_given != 0;
  const bool head = c.init_elev_head_given != 0;
  if (hotstart || head) {
    if (!ensure_cell_doubles(ov.ov_depth, ms.cell_count, "ov_depth") ||
        !ensure_cell_doubles(ov.ov_depth_prev, ms.cell_count, "ov_depth_prev"))
      return;
  }
  if (hotstart) {
    input_reading_line(ms, "reading overland hotstart map from file: %s\n", c.ov_init_depth);
    file_handle& h = ms.output.read_ov_hotstart_file;
    if (!h.is_open()) {
      raise_file_error(err_file_not_open, "overland hotstart", c.ov_init_depth);
      return;
    }
    if (!read_cell_map(ms, h, c.ov_init_depth, ov.ov_depth)) return;
    if (!check_non_negative(ov.ov_depth, ms.cell_count, "overland hotstart depth (m)",
                            c.ov_init_depth))
      return;
    for (int i = 1; i <= ms.cell_count; ++i) ov.ov_depth_prev[i] = ov.ov_depth[i];
  }
  if (head) {
    // Every cell below the head elevation starts flooded up to it.
    const double level = c.init_elev_head;
    for (int i = 1; i <= ms.cell_count; ++i) {
      if (ms.cell_elev[i] < level) {
        ov.ov_depth[i] = level - ms.cell_elev[i];
        ov.ov_depth_prev[i] = ov.ov_depth[i];
      }
    }
  }
  if (ov.ov_depth.count() < ms.cell_count) return;
  for (int i = 1; i <= ms.cell_count; ++i) {
    if (ov.ov_depth[i] > 1e-16) {
      ms.ov_water_present = 1;
      break;
    }
  }
}

void read_soil_moisture_hotstart(model_state& ms) {
  project_cards& c = ms.cards;
  if (!c.read_sm_hotstart_given) return;
  subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  if (!ensure_cell_doubles(ss.theta_work, n, "theta_work")) return;
  input_reading_line(ms, "reading soil moisture hotstart map from file: %s\n", c.read_sm_hotstart);
  file_handle& h = ms.output.read_sm_hotstart_file;
  if (!h.is_open()) {
    raise_file_error(err_file_not_open, "soil moisture hotstart", c.read_sm_hotstart);
    return;
  }
  if (!read_cell_map(ms, h, c.read_sm_hotstart, ss.theta_work)) return;
  // A volumetric water content is a fraction of the soil volume.
  const int bad =
      first_bad_cell(ss.theta_work, n, [](double v) { return non_negative(v) && v <= 1.0; });
  if (bad != 0) {
    stop_with_message(
        "Error: soil moisture %g at grid cell %d of the soil moisture hotstart map %s "
        "is not a water content between 0 and 1.\n",
        ss.theta_work[bad], bad, c.read_sm_hotstart);
    return;
  }

  if (ss.inf_richards) {
    if (!has_first_node(ss.THETA, n)) {
      stop_with_message(
          "Error: the Richards soil columns are not set up, so the soil moisture "
          "hotstart map %s cannot be applied.\n",
          c.read_sm_hotstart);
      return;
    }
    for (int i = 1; i <= n; ++i) ss.THETA[i][1] = ss.theta_work[i];
  }
  if (ss.green_ampt || ss.inf_redist) {
    if (!ensure_cell_doubles(ss.theta_init, n, "theta_init")) return;
    for (int i = 1; i <= n; ++i) ss.theta_init[i] = ss.theta_work[i];
  }
  if (ss.inf_redist) {
    if (!ensure_cell_doubles(ss.redist_front_theta, n, "redist_front_theta") ||
        !ensure_cell_doubles(ss.surf_moist, n, "surf_moist"))
      return;
    for (int i = 1; i <= n; ++i) {
      ss.redist_front_theta[i] = ss.theta_work[i];
      ss.surf_moist[i] = ss.theta_work[i];
    }
  }
  if (ss.inf_layered_soil) {
    if (!has_first_node(ss.THETA_ML, n)) {
      stop_with_message(
          "Error: the layered soil columns are not set up, so the soil moisture "
          "hotstart map %s cannot be applied.\n",
          c.read_sm_hotstart);
      return;
    }
    for (int i = 1; i <= n; ++i) ss.THETA_ML[i][1] = ss.theta_work[i];
  }
}

void init_tile_pipe_grid(model_state& ms) {
  channel_state& ch = ms.channel;
  if (!ch.storm_sewer) return;
  input_state& in = ms.input;

  file_handle network;
  if (!file_handle_open(network, static_cast<const char*>(in.names.storm_sewer), "r")) {
    raise_file_error(err_file_not_open, "superlink input file", in.names.storm_sewer);
    return;
  }
  if (!file_handle_open(ch.grid_pipe_file, static_cast<const char*>(in.names.grid_pipe), "r"))
    printf("\n No grid pipe file found");
  const int result = read_superlink_file(ms, network, ch.grid_pipe_file);
  if (input_console_on(ms))
    printf("read superlink pipe file, %d junctions, %d links\n", ch.superlink_junction_count,
           ch.superlink_count);
  file_handle_close(network);
  file_handle_close(ch.grid_pipe_file);

  if (stopped()) return;
  if (run_error.error_code != 0) {
    // A condition the reader left for the driver (a leaky network without its grid-pipe file).
    run_error.error_fatal = 1;
    return;
  }
  if (result != 0) {
    // The reader has printed what is wrong; a network read only in part cannot be routed.
    stop_with_message(
        "Error: the superlink pipe network in %s could not be read (reader result "
        "%d).\n",
        in.names.storm_sewer, result);
    return;
  }
  map_tile_pipe_grid(ms);
  if (!stopped()) superlink_setup(ms);
}

void map_tile_pipe_grid(model_state& ms) {
  channel_state& ch = ms.channel;
  if (ch.superlink_junction_count > max_superjunctions) {
    raise_error(err_superjunctions_too_many);
    return;
  }
  if (ch.superlink_max_nodes > max_superlink_nodes) {
    raise_error(err_superlink_nodes_too_many);
    return;
  }
  if (ch.superlink_count > max_superlinks) {
    raise_error(err_superlinks_too_many);
    return;
  }
  const int junctions = ch.superlink_junction_count < 0 ? 0 : ch.superlink_junction_count;
  if (ch.superjunct_i.count() < junctions || ch.superjunct_j.count() < junctions) {
    stop_with_message(
        "Error: the superlink pipe network in %s holds %d superjunctions but the "
        "grid positions of only %d.\n",
        ms.input.names.storm_sewer, junctions,
        ch.superjunct_i.count() < ch.superjunct_j.count() ? ch.superjunct_i.count()
                                                          : ch.superjunct_j.count());
    return;
  }

  // The node arrays take the shape of the node positions the reader filled.
  const int node_rows = ch.superlink_node_i.empty() ? 0 : ch.superlink_node_i.row_count();
  const int link_cols = ch.superlink_node_i.empty() ? 0 : ch.superlink_node_i.col_count();
  const int n = ms.cell_count;
  struct per_cell {
    raw_array1d<double>& array;
    const char* name;
  };
  const per_cell cell_arrays[] = {{ch.Q_tile_grid, "Q_tile_grid"},
                                  {ch.vol_tile_grid, "vol_tile_grid"},
                                  {ch.tilerecharge_to_gw, "tilerecharge_to_gw"},
                                  {ch.flow_to_superlink, "flow_to_superlink"}};
  bool allocated = ch.superlink_tile_flow.allocate(node_rows, link_cols);
  if (!allocated) raw_report_alloc_failure("superlink_tile_flow");
  for (const per_cell& a : cell_arrays) {
    if (allocated && !a.array.allocate(n < 0 ? 0 : n)) {
      raw_report_alloc_failure(a.name);
      allocated = false;
    }
  }
  if (allocated && !ch.superlink_junc_gnum.allocate(junctions)) {
    raw_report_alloc_failure("superlink_junc_gnum");
    allocated = false;
  }
  if (allocated && !ch.superlink_node_gnum.allocate(node_rows, link_cols)) {
    raw_report_alloc_failure("superlink_node_gnum");
    allocated = false;
  }
  if (!allocated) {
    stop_now();
    return;
  }

  auto inlet_of = [&ch](int node, int link) {
    const raw_array2d<int>& t = ch.inlet_type;
    if (t.empty() || node > t.row_count() || link > t.col_count()) return 0;
    return t[node][link];
  };
  for (int j = 1; j <= junctions; ++j) {
    const int row = ch.superjunct_i[j];
    const int col = ch.superjunct_j[j];
    const int cell = cell_at(ms, row, col);
    // An outfall keeps its channel link and node in these fields: it has no cell above it.
    if (cell < 0 && grate_inlet(inlet_of(0, j))) {
      stop_with_message(
          "Error: superjunction %d of the superlink pipe network in %s has a grate "
          "inlet at grid row %d, column %d, outside the %d by %d grid.\n",
          j, ms.input.names.storm_sewer, row, col, ms.rows, ms.cols);
      return;
    }
    ch.superlink_junc_gnum[j] = cell < 0 ? 0 : cell;
  }
  if (ch.superlink_node_j.row_count() < node_rows || ch.superlink_node_j.col_count() < link_cols) {
    stop_with_message(
        "Error: the superlink pipe network in %s holds node rows without node "
        "columns.\n",
        ms.input.names.storm_sewer);
    return;
  }
  for (int link = 1; link <= link_cols; ++link) {
    for (int node = 1; node <= node_rows; ++node) {
      const int row = ch.superlink_node_i[node][link];
      const int col = ch.superlink_node_j[node][link];
      const int cell = cell_at(ms, row, col);
      if (cell < 0 && grate_inlet(inlet_of(node, link))) {
        stop_with_message(
            "Error: node %d of superlink %d of the superlink pipe network in %s has "
            "a grate inlet at grid row %d, column %d, outside the %d by %d grid.\n",
            node, link, ms.input.names.storm_sewer, row, col, ms.rows, ms.cols);
        return;
      }
      ch.superlink_node_gnum[node][link] = cell < 0 ? 0 : cell;
    }
  }
}
