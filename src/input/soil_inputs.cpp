// Soil, infiltration and groundwater inputs of read_maps: allocates the run's per-cell arrays,
// then reads the Green and Ampt, area-reduction, evapotranspiration, water-table, Richards soil,
// groundwater boundary, well, aquifer and Sacramento inputs from their maps or mapping tables.
#include "input/soil_inputs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "framework/core/text_tokens.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "input/ascii_grid.h"
#include "input/mapping_tables.h"
#include "input/parameter_tables.h"
#include "input/special_tables.h"
#include "subsurface/subsurface_steps.h"

namespace {

// Positions of the tables these readers use in input_state::table_present (check-report order).
constexpr int present_green_ampt = 3;
constexpr int present_initial_moisture = 4;
constexpr int present_evapotranspiration = 7;
constexpr int present_groundwater = 14;
constexpr int present_groundwater_boundary = 15;
constexpr int present_area_reduction = 16;

// Work counts of the Richards column solver.
constexpr int richards_work_counts = 151;

bool stopped() {
  return run_error.error_fatal != 0;
}

bool table_on(const model_state& ms, int position) {
  return ms.input.mapping_table_on != 0 && ms.input.table_present[position] != 0;
}

// A destination of a table column: null for an array the run does not hold.
raw_array1d<double>* column(raw_array1d<double>& a) {
  return a.empty() ? nullptr : &a;
}

// The cells 1..cell_count that the array holds.
int cells_held(const model_state& ms, const raw_array1d<double>& a) {
  return a.count() < ms.cell_count ? a.count() : ms.cell_count;
}

// Opens `h` on `name` unless it is open already. False after "Can't open <what> file named: %s".
bool ensure_open(file_handle& h, const char* name, const char* what) {
  if (h.is_open()) return true;
  if (file_handle_open(h, name, "r")) return true;
  stop_with_message("Can't open %s file named: %s\n", what, name);
  return false;
}

// Reads one per-cell double map from the open handle (mode 1 or 3) into `dest` and closes it.
bool read_cell_map(model_state& ms, file_handle& h, const char* name, int mode,
                   raw_array1d<double>& dest) {
  raw_array1d<double>* first = mode == map_store_cell_double ? &dest : nullptr;
  raw_array1d<double>* second = mode == map_store_cell_double ? nullptr : &dest;
  read_ascii_map(h, name, mode, ms.map_north, ms.map_south, ms.map_east, ms.map_west, ms.map_rows,
                 ms.map_cols, ms.index_map, first, second, nullptr, ms.rows, ms.cols);
  file_handle_close(h);
  return !stopped();
}

// One map-or-table parameter: with its card on, read from its file when the handle is open,
// else announce that the values came from the table (read before by the table call). A card on
// whose handle is closed while the table is absent leaves no source: that stops the run.
// `source` receives the file name or a mention of the mapping table, for later messages.
bool read_param_map(model_state& ms, file_handle& h, const char* name, bool table,
                    const char* file_line, const char* table_line, const char* what,
                    raw_array1d<double>& dest, std::string& source) {
  if (h.is_open()) {
    input_reading_line(ms, file_line, name);
    source = name;
    return read_cell_map(ms, h, name, map_store_cell_double, dest);
  }
  if (table) {
    input_reading_line(ms, "%s", table_line);
    source = "the mapping table file";
    return true;
  }
  stop_with_message(
      "Error: the %s map %s could not be opened and the mapping table file holds no table for "
      "it\n",
      what, name);
  return false;
}

// A parameter the redistribution scheme cannot do without: from its map when its card is on and
// the file opened, else from the table; with neither, `missing_line` stops the run. Both lines
// of the message go where error_report writes, so that they stay in order with its output.
bool read_redist_param(model_state& ms, int card_on, file_handle& h, const char* name, bool table,
                       const char* file_line, const char* table_line, const char* missing_line,
                       const char* what, raw_array1d<double>& dest, std::string& source) {
  if ((card_on && h.is_open()) || table)
    return read_param_map(ms, h, name, table, file_line, table_line, what, dest, source);
  error_print(error_echo_file, missing_line);
  error_print(error_echo_file, "Program stopped.\n");
  stop_now();
  return false;
}

// A conductivity below zero cannot be used by any flow law: it stops the run.
bool check_not_negative(const model_state& ms, const raw_array1d<double>& a, const char* what,
                        const std::string& source) {
  const int n = cells_held(ms, a);
  for (int c = 1; c <= n; ++c) {
    if (a[c] < 0.0 || std::isnan(a[c])) {
      stop_with_message("Error: the %s %g of cell %d read from %s is negative or not a number\n",
                        what, a[c], c, source.c_str());
      return false;
    }
  }
  return true;
}

// --- Physical ranges of the soil values ---------------------------------------------------

// The values a soil parameter can physically take, in the units it is read in: from `low` (above
// it when `low_open`) up to `high`. Bounds that depend on another parameter of the same soil
// (a water content cannot exceed the porosity) are checked where both are known.
struct soil_range {
  const char* field;
  double low;
  bool low_open;
  double high;
};
constexpr double unbounded = HUGE_VAL;

constexpr soil_range ks_range = {"saturated hydraulic conductivity", 0.0, false, unbounded};
constexpr soil_range hc_range = {"capillary head", 0.0, false, unbounded};
constexpr soil_range porosity_range = {"porosity", 0.0, true, 1.0};
constexpr soil_range pore_index_range = {"pore distribution index", 0.0, true, unbounded};
constexpr soil_range residual_range = {"residual saturation", 0.0, false, 1.0};
constexpr soil_range field_capacity_range = {"field capacity", 0.0, false, 1.0};
constexpr soil_range wilting_point_range = {"wilting point", 0.0, false, 1.0};
constexpr soil_range moisture_range = {"initial moisture", 0.0, false, 1.0};

bool within(double v, const soil_range& r) {
  if (std::isnan(v) || v > r.high) return false;
  return r.low_open ? v > r.low : v >= r.low;
}

// "at least 0", "above 0 and at most 1", "from 0 to 1".
std::string range_text(const soil_range& r) {
  char text[96];
  if (r.high == unbounded)
    snprintf(text, sizeof text, "%s %g", r.low_open ? "above" : "at least", r.low);
  else if (r.low_open)
    snprintf(text, sizeof text, "above %g and at most %g", r.low, r.high);
  else
    snprintf(text, sizeof text, "from %g to %g", r.low, r.high);
  return text;
}

// Row and column of cell `c` in the index map, for messages; 0 and 0 when not found.
void cell_place(const model_state& ms, int c, int& row, int& col) {
  row = col = 0;
  for (int r = 1; r <= ms.rows && r <= ms.index_map.row_count(); ++r)
    for (int k = 1; k <= ms.cols && k <= ms.index_map.col_count(); ++k)
      if (ms.index_map[r][k] == c) {
        row = r;
        col = k;
        return;
      }
}

// Every cell's value of one parameter, as read (before any change of units), must lie within
// its physical range; the first that does not stops the run, named with its cell and source.
bool check_cells_within(const model_state& ms, const raw_array1d<double>& a, const soil_range& r,
                        const std::string& source) {
  const int n = cells_held(ms, a);
  for (int c = 1; c <= n; ++c) {
    if (within(a[c], r)) continue;
    int row = 0;
    int col = 0;
    cell_place(ms, c, row, col);
    stop_with_message(
        "Error: the %s %g of cell %d (row %d, column %d) read from %s is physically impossible: "
        "it must be %s\n",
        r.field, a[c], c, row, col, source.c_str(), range_text(r).c_str());
    return false;
  }
  return true;
}

// A water content of every cell may not exceed (or, with `strict`, reach) the cell's porosity.
bool check_cells_below_porosity(const model_state& ms, const raw_array1d<double>& a,
                                const char* field, const std::string& source,
                                const char* porosity_source, bool strict) {
  const raw_array1d<double>& phi = ms.subsurface.porosity_cell;
  const int n = std::min(cells_held(ms, a), cells_held(ms, phi));
  for (int c = 1; c <= n; ++c) {
    if (strict ? a[c] < phi[c] : a[c] <= phi[c]) continue;
    int row = 0;
    int col = 0;
    cell_place(ms, c, row, col);
    stop_with_message(
        "Error: the %s %g of cell %d (row %d, column %d) read from %s %s the porosity %g read "
        "from %s\n",
        field, a[c], c, row, col, source.c_str(), strict ? "is not below" : "exceeds", phi[c],
        porosity_source);
    return false;
  }
  return true;
}

// The rows of the GREEN_AMPT_INFILTRATION and soil-moisture tables: each value the run uses
// within its range, and the water contents of a soil within its porosity.
bool green_ampt_row_ok(const char* file_name, const char* keyword, int id, const double* v, int k,
                       const table_columns& used) {
  const bool moisture_table = k == 1;
  static constexpr const soil_range* green_ampt_columns[7] = {
      &ks_range,           &hc_range,       &porosity_range,
      &pore_index_range,   &residual_range, &field_capacity_range,
      &wilting_point_range};
  for (int col = 1; col <= k && col <= 7; ++col) {
    if (used[static_cast<std::size_t>(col - 1)] == nullptr) continue;
    const soil_range& r = moisture_table ? moisture_range : *green_ampt_columns[col - 1];
    if (within(v[col], r)) continue;
    stop_with_message(
        "Error: the %s %g of soil id %d in table %s of mapping table file %s is physically "
        "impossible: it must be %s\n",
        r.field, v[col], id, keyword, file_name, range_text(r).c_str());
    return false;
  }
  if (moisture_table || k < 3 || used[2] == nullptr) return true;
  // Water contents of the soil against its porosity: the residual content below it (a soil
  // holding all its pores' water as residual could not drain), the others at most equal to it.
  for (int col = 5; col <= k && col <= 7; ++col) {
    if (used[static_cast<std::size_t>(col - 1)] == nullptr) continue;
    const bool strict = col == 5;
    if (strict ? v[col] < v[3] : v[col] <= v[3]) continue;
    stop_with_message(
        "Error: the %s %g of soil id %d in table %s of mapping table file %s %s its porosity "
        "%g\n",
        green_ampt_columns[col - 1]->field, v[col], id, keyword, file_name,
        strict ? "is not below" : "exceeds", v[3]);
    return false;
  }
  return true;
}

void scale_cells(const model_state& ms, raw_array1d<double>& a, double divisor) {
  const int n = cells_held(ms, a);
  for (int c = 1; c <= n; ++c) a[c] /= divisor;
}

void copy_cells(const model_state& ms, const raw_array1d<double>& from, raw_array1d<double>& to) {
  if (from.empty() || to.empty()) return;
  const int n =
      cells_held(ms, from) < cells_held(ms, to) ? cells_held(ms, from) : cells_held(ms, to);
  for (int c = 1; c <= n; ++c) to[c] = from[c];
}

// --- Allocation ---------------------------------------------------------------------------

// Allocates per-cell arrays of `n` elements (one spare), zero-filled, each at most once; the
// first failure is reported (the allocation message, then code 4000).
class cell_allocator {
 public:
  explicit cell_allocator(int n) : n_(n) {}
  bool ok() const { return ok_; }
  void dbl(raw_array1d<double>& a, const char* name, int n = -1) {
    if (!ok_ || !a.empty()) return;
    const int size = n < 0 ? n_ : n;
    alloc_1d_double(a, size, name);
    if (size > 0 && a.empty()) fail();
  }
  void integer(raw_array1d<int>& a, const char* name, int n = -1) {
    if (!ok_ || !a.empty()) return;
    const int size = n < 0 ? n_ : n;
    alloc_1d_int(a, size, name);
    if (size > 0 && a.empty()) fail();
  }
  void grid(raw_array2d<double>& a, int columns, const char* name) {
    if (!ok_ || !a.empty() || n_ <= 0) return;
    alloc_2d_double_named(n_, columns, a, name);
    if (a.empty()) fail();
  }

 private:
  void fail() {
    ok_ = false;
    stop_now();
  }
  int n_;
  bool ok_ = true;
};

// --- Green and Ampt and the layered soil --------------------------------------------------

// Copies each cell's initial moisture into the working moisture array; with redistribution also
// into the front and surface moisture of the scheme.
void hand_over_moisture(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  copy_cells(ms, ss.theta_init, ss.theta_work);
  if (!ss.inf_redist) return;
  copy_cells(ms, ss.theta_init, ss.redist_front_theta);
  copy_cells(ms, ss.theta_init, ss.surf_moist);
}

// The saturated conductivity, capillary head and porosity, then (with redistribution) the pore
// index and residual saturation.
bool read_green_ampt_maps(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  input_state& in = ms.input;
  run_file_names& n = in.names;
  const bool table = table_on(ms, present_green_ampt);
  if (table) {
    const table_columns cols = {column(ss.ks_cell),       column(ss.hc_cell),
                                column(ss.porosity_cell), column(ss.pore_index_cell),
                                column(ss.residual_cell), column(ss.theta_fc_cell),
                                column(ss.theta_wp_cell)};
    read_map_table(ms, map_table_green_ampt, cols, 0, nullptr, green_ampt_row_ok);
    if (stopped()) return false;
  }
  std::string source;
  if (ss.conductivity_on) {
    if (!read_param_map(ms, in.conductivity_file, n.conductivity, table,
                        "reading saturated hydraulic conductivity map from file: %s\n",
                        "reading saturated hydraulic conductivity table and map from the master "
                        "table file\n",
                        "saturated hydraulic conductivity", ss.ks_cell, source))
      return false;
    if (!check_cells_within(ms, ss.ks_cell, ks_range, source)) return false;
    scale_cells(ms, ss.ks_cell, cm_per_h_in_m_per_s);  // cm/h to m/s
  }
  if (ss.capillary_on) {
    if (!read_param_map(ms, in.capillary_file, n.capillary, table,
                        "reading capillary drive map from file: %s\n",
                        "reading capillary drive map from the master table file\n",
                        "capillary drive", ss.hc_cell, source) ||
        !check_cells_within(ms, ss.hc_cell, hc_range, source))
      return false;
    scale_cells(ms, ss.hc_cell, 100.0);  // cm to m
  }
  if (ss.porosity_on &&
      (!read_param_map(ms, in.porosity_file, n.porosity, table,
                       "reading porosity map from file: %s\n",
                       "reading porosity table and map from the master table file\n", "porosity",
                       ss.porosity_cell, source) ||
       !check_cells_within(ms, ss.porosity_cell, porosity_range, source)))
    return false;
  copy_text(in.porosity_source, sizeof in.porosity_source, source.c_str());
  if (!ss.inf_redist) return true;

  if (!read_redist_param(ms, ss.pore_index_on, in.pore_index_file, n.pore_index, table,
                         "reading pore distribution index map from file: %s\n",
                         "reading pore distribution index map from master table file\n",
                         "For infiltration redistribution, pore index map must be specified\n",
                         "pore distribution index", ss.pore_index_cell, source) ||
      !check_cells_within(ms, ss.pore_index_cell, pore_index_range, source) ||
      !read_redist_param(ms, ss.residual_sat_on, in.residual_sat_file, n.residual_sat, table,
                         "reading residual saturation map from file: %s\n",
                         "reading residual saturation map from the master table file\n",
                         "For infiltration redistribution, the pore index map must be specified\n",
                         "residual saturation", ss.residual_cell, source) ||
      !check_cells_within(ms, ss.residual_cell, residual_range, source) ||
      !check_cells_below_porosity(ms, ss.residual_cell, residual_range.field, source,
                                  in.porosity_source, true))
    return false;
  return true;
}

// The soil type of every cell of the layered-soil scheme, from its map or the MULTI_LAYER_SOIL
// table, then the layer table and each cell's starting layer moisture.
// The soil type of every cell from the open soil-type map.
bool read_soil_type_map(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  input_state& in = ms.input;
  {
    const char* name = in.names.soil_type_map;
    input_reading_line(ms, "reading soil map from file: %s\n", name);
    read_ascii_map(in.soil_type_file, name, map_store_grid_int, ms.map_north, ms.map_south,
                   ms.map_east, ms.map_west, ms.map_rows, ms.map_cols, ss.soil_type_grid, nullptr,
                   nullptr, nullptr, ms.rows, ms.cols);
    file_handle_close(in.soil_type_file);
    if (stopped()) return false;
    for (int r = 1; r <= ms.rows; ++r) {
      for (int c = 1; c <= ms.cols; ++c) {
        const int cell = ms.index_map[r][c];
        if (cell <= 0 || cell > ss.soiltype.count()) continue;
        const int id = ss.soil_type_grid[r][c];
        if (id < 0 || id >= max_soil_types) {
          stop_with_message(
              "Error: soil type %d at row %d column %d of soil map %s lies outside 0 to %d\n", id,
              r, c, name, max_soil_types - 1);
          return false;
        }
        ss.soiltype[cell] = id;
      }
    }
  }
  return true;
}

bool read_layered_soil_types(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  input_state& in = ms.input;
  if (in.soil_type_file.is_open()) {
    if (!read_soil_type_map(ms)) return false;
  } else if (read_multilayer_table(ms, in.names.mapping_table, ss.soil_types, ss.soiltype) < 0 ||
             stopped()) {
    if (!stopped()) stop_now();
    return false;
  }
  if (ss.multi_layer_soil_file.is_open()) {
    read_soil_layer_file(ms, ss.multi_layer_soil_file, ss.soil_types);
    if (stopped()) return false;
  }
  // Each cell starts with the moisture of its soil type's layers.
  if (ss.THETA_ML.empty() || ss.soiltype.empty()) return true;
  const int n =
      ss.THETA_ML.row_count() < ss.soiltype.count() ? ss.THETA_ML.row_count() : ss.soiltype.count();
  for (int c = 1; c <= n && c <= ms.cell_count; ++c) {
    const int id = ss.soiltype[c];
    if (id < 0 || id >= max_soil_types) {
      stop_with_message("Error: cell %d has soil type %d, outside 0 to %d\n", c, id,
                        max_soil_types - 1);
      return false;
    }
    for (int k = 1; k <= 3 && k <= ss.THETA_ML.col_count(); ++k)
      ss.THETA_ML[c][k] = ss.soil_types[id].layer_init_moisture[k - 1];
  }
  return true;
}

// --- Static-flux wells ----------------------------------------------------------------------

// The whole token as an int or a double; false for anything else.
bool token_int(const std::string& token, long& out) {
  int value = 0;
  if (!parse_int(token, value)) return false;
  out = value;
  return true;
}
bool token_double(const std::string& token, double& out) {
  return parse_double(token, out);
}

// The next line that holds a token; false at the end of the file.
bool next_data_line(file_handle& h, std::string& line) {
  while (read_text_line(line, h) != 0) {
    std::string probe = line;
    std::string token;
    if (next_token(probe, token) != 0) return true;
  }
  return false;
}

// The static-flux table: the well count, then per well its row, column and flux (m3/day),
// stored per unit area (m/s) at the well's cell.
bool read_static_flux_table(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  const char* name = ms.input.names.gw_fluxboundtable;
  file_handle h;
  if (!file_handle_open(h, name, "r")) {
    stop_with_message("Can't open static flux table file: %s\n", name);
    return false;
  }
  std::string line;
  std::string token;
  long count = 0;
  if (!next_data_line(h, line) || next_token(line, token) == 0 || !token_int(token, count) ||
      count < 0) {
    stop_with_message("Error: static flux table %s must begin with a well count of 0 or more\n",
                      name);
    return false;
  }
  ss.static_well_count = static_cast<int>(count);
  if (count > 0 && !(ms.gridsize > 0.0)) {
    stop_with_message("Error: the static fluxes of %s need a grid size above 0 (it is %g)\n", name,
                      ms.gridsize);
    return false;
  }
  const double area = ms.gridsize * ms.gridsize;
  for (long w = 1; w <= count; ++w) {
    if (!next_data_line(h, line)) {
      stop_with_message("Error: static flux table %s ends after %ld of its %ld wells\n", name,
                        w - 1, count);
      return false;
    }
    const std::string text = line;
    long row = 0;
    long col = 0;
    double flux = 0.0;
    std::string t1, t2, t3;
    next_token(line, t1);
    next_token(line, t2);
    next_token(line, t3);
    if (!token_int(t1, row) || !token_int(t2, col) || !token_double(t3, flux)) {
      stop_with_message(
          "Error: well %ld of static flux table %s needs a row, a column and a flux: %s\n", w, name,
          text.c_str());
      return false;
    }
    if (row < 1 || row > ms.rows || col < 1 || col > ms.cols) {
      stop_with_message(
          "Error: well %ld of static flux table %s is at row %ld column %ld, outside the grid of "
          "%d rows and %d columns\n",
          w, name, row, col, ms.rows, ms.cols);
      return false;
    }
    const int cell = ms.index_map[row][col];
    if (cell <= 0) {
      stop_with_message(
          "Error: well %ld of static flux table %s is at row %ld column %ld, outside the "
          "watershed\n",
          w, name, row, col);
      return false;
    }
    if (cell <= ss.gw_static_flux.count()) ss.gw_static_flux[cell] = flux / seconds_per_day / area;
  }
  return true;
}

// --- Groundwater ------------------------------------------------------------------------------

bool read_gw_boundary(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  const char* name = ms.input.names.gw_boundfile;
  if (ss.gw_boundfile_file.is_open()) {
    input_reading_line(ms, "reading the groundwater boundary file: %s\n", name);
    read_ascii_map(ss.gw_boundfile_file, name, map_store_cell_category, ms.map_north, ms.map_south,
                   ms.map_east, ms.map_west, ms.map_rows, ms.map_cols, ms.index_map, nullptr,
                   nullptr, &ss.gwbound, ms.rows, ms.cols);
    file_handle_close(ss.gw_boundfile_file);
    return !stopped();
  }
  if (!table_on(ms, present_groundwater_boundary)) {
    stop_with_message(
        "Error: the groundwater boundary map %s could not be opened and the mapping table file "
        "holds no GROUNDWATER_BOUNDARY table\n",
        name);
    return false;
  }
  input_reading_line(ms, "reading the groundwater boundary file from the mapping table\n");
  raw_array1d<double> types;
  if (ms.cell_count > 0 && !types.allocate(ms.cell_count)) {
    raw_report_alloc_failure("gwbound");
    stop_now();
    return false;
  }
  const table_columns cols = {column(types)};
  read_map_table(ms, map_table_groundwater_boundary, cols);
  if (stopped()) return false;
  const int n = ss.gwbound.count() < ms.cell_count ? ss.gwbound.count() : ms.cell_count;
  for (int c = 1; c <= n; ++c) {
    if (!(types[c] >= 0.0 && types[c] < static_cast<double>(INT_MAX))) {
      stop_with_message(
          "Error: the GROUNDWATER_BOUNDARY table gives cell %d the boundary type %g; types are "
          "whole numbers of 0 or more\n",
          c, types[c]);
      return false;
    }
    ss.gwbound[c] = static_cast<int>(types[c]);  // truncated toward zero
  }
  return true;
}

bool read_wells(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  if (ms.cards.use_wells_given) {
    input_reading_line(ms, "reading well map from the master table file\n");
    const int ok = read_well_table(ms, ms.input.names.mapping_table);
    if (stopped()) return false;
    if (ok == 0) {
      stop_now();
      return false;
    }
    return true;
  }
  int static_cells = 0;
  int dynamic_cells = 0;
  const int n = ss.gwbound.count() < ms.cell_count ? ss.gwbound.count() : ms.cell_count;
  for (int c = 1; c <= n; ++c) {
    if (ss.gwbound[c] == 6) ++static_cells;
    if (ss.gwbound[c] == 3) ++dynamic_cells;
  }
  ss.static_well_count = static_cells;
  ss.dynamic_well_count = dynamic_cells;
  if (static_cells > 0 || ms.grid_params.gw_fluxboundtable_given || ss.gw_fluxboundtable) {
    if (!read_static_flux_table(ms)) return false;
  }
  if (dynamic_cells > 0)
    printf(
        "You can't have a dynamic wells in the groundwater boundary map. You must use the\n"
        "WELL_TABLE table in the mapping table file\n");
  return true;
}

bool read_gw_conductivity(model_state& ms, bool table) {
  subsurface_state& ss = ms.subsurface;
  const char* name = ms.input.names.gw_hycond_map;
  std::string source;
  if (ss.gw_hycond_map_on && ss.gw_hycond_map_file.is_open()) {
    input_reading_line(ms, "reading ground water hydraulic conductivity map from file: %s\n", name);
    source = name;
    if (!read_cell_map(ms, ss.gw_hycond_map_file, name, map_store_cell_double_2, ss.gw_cond_x))
      return false;
  } else if (table) {
    input_reading_line(ms,
                       "reading ground water hydraulic conductivity map from the master table "
                       "file\n");
    source = "the GROUNDWATER table";
  } else if (ss.gw_unif_hycond_on) {
    source = "GW_UNIF_HYCOND";
    const int n = cells_held(ms, ss.gw_cond_x);
    for (int c = 1; c <= n; ++c) ss.gw_cond_x[c] = ss.gw_unif_hycond;
  } else {
    raise_error(err_groundwater_table_not_set_up);
    return false;
  }
  if (!check_not_negative(ms, ss.gw_cond_x, "groundwater hydraulic conductivity", source))
    return false;
  const int n = cells_held(ms, ss.gw_cond_x);
  for (int c = 1; c <= n; ++c) {
    ss.gw_cond_x[c] = ss.gw_cond_x[c] / 100.0 / seconds_per_hour;  // cm/h to m/s
    if (c <= ss.gw_cond_y.count()) ss.gw_cond_y[c] = ss.gw_cond_x[c];
  }
  return true;
}

bool read_gw_porosity(model_state& ms, bool table) {
  subsurface_state& ss = ms.subsurface;
  const char* name = ms.input.names.gw_porosity_map;
  std::string source;
  const int n = cells_held(ms, ss.gw_porosity);
  if (ss.gw_porosity_map_on && ss.gw_porosity_map_file.is_open()) {
    input_reading_line(ms, "reading ground water porosity map from file: %s\n", name);
    source = name;
    if (!read_cell_map(ms, ss.gw_porosity_map_file, name, map_store_cell_double_2, ss.gw_porosity))
      return false;
  } else if (table) {
    input_reading_line(ms, "reading ground water porosity map from the master table file\n");
    source = "the GROUNDWATER table";
  } else if (ss.gw_unif_porosity_on) {
    source = "GW_UNIF_POROSITY";
    for (int c = 1; c <= n; ++c) ss.gw_porosity[c] = ss.gw_unif_porosity;
  } else {
    // The porosity of each cell's soil column: the Green and Ampt porosity, or the saturated
    // water content of the deepest Richards node.
    source = "the soil columns";
    const int nodes = ss.richards_node_count;
    for (int c = 1; c <= n; ++c) {
      if (c <= ss.porosity_cell.count() && !ss.porosity_cell.empty())
        ss.gw_porosity[c] = ss.porosity_cell[c];
      else if (!ss.THETAS.empty() && c <= ss.THETAS.row_count() && nodes >= 1 &&
               nodes <= ss.THETAS.col_count())
        ss.gw_porosity[c] = ss.THETAS[c][nodes];
    }
  }
  for (int c = 1; c <= n; ++c) {
    const double phi = ss.gw_porosity[c];
    if (!(phi > 0.0 && phi <= 1.0)) {
      stop_with_message(
          "Error: the groundwater porosity %g of cell %d taken from %s must lie above 0 and at "
          "most 1\n",
          phi, c, source.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

// --- Readers called by read_maps ------------------------------------------------------------

void alloc_grid_arrays(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  cell_allocator a(n);
  if (n > 0) {
    a.dbl(ov.ov_depth, "ov_depth");
    a.dbl(ov.ov_depth_prev, "ov_depth_prev");
    a.dbl(ov.ov_depth_change, "ov_depth_change");
    a.dbl(ov.rain_cell, "rain_cell");
  }
  if (ov.ov_point_source) a.dbl(ov.ov_point_rate, "ov_point_rate");
  a.integer(ov.belowcon, "belowcon");
  a.integer(ov.rightcon, "rightcon");
  a.integer(ov.abovecon, "abovecon");
  a.integer(ov.leftcon, "leftcon");
  a.integer(ss.yes_exfil, "yes_exfil");

  if (ss.conductivity_on) a.dbl(ss.ks_cell, "ks_cell");
  if (ss.capillary_on) a.dbl(ss.hc_cell, "hc_cell");
  if (ss.porosity_on) a.dbl(ss.porosity_cell, "porosity_cell");
  if (ss.pore_index_on) a.dbl(ss.pore_index_cell, "pore_index_cell");
  if (ss.residual_sat_on) a.dbl(ss.residual_cell, "residual_cell");
  if (ov.area_reduction) a.dbl(ov.area_reduction_cell, "area_reduction_cell");

  const bool any_scheme = ss.green_ampt || ss.inf_redist || ss.inf_layered_soil || ss.inf_richards;
  if (any_scheme) {
    a.dbl(ss.theta_init, "theta_init");
    a.dbl(ss.theta_work, "theta_work");
    a.dbl(ss.inf_depth_cum, "inf_depth_cum");
    a.dbl(ss.inf_depth_prev, "inf_depth_prev");
    a.dbl(ss.inf_rate, "inf_rate");
    a.dbl(ss.inf_depth_total, "inf_depth_total");
    a.dbl(ss.inf_depth_longterm, "inf_depth_longterm");
    a.dbl(ss.exfil_cum, "exfil_cum");
    a.dbl(ss.redist_front_theta, "redist_front_theta");
    a.dbl(ss.redist_front_depth, "redist_front_depth");
    a.dbl(ss.surf_moist, "surf_moist");
  } else if (ss.gw_simulation) {
    // Without a soil the aquifer still gives the surface the water its table raises above the
    // ground: the constituents count it by cell.
    a.dbl(ss.exfil_cum, "exfil_cum");
  }
  if (ss.inf_redist) {
    a.integer(ss.iter_pond_1, "iter_pond_1");
    a.integer(ss.iter_n, "iter_n");
    a.integer(ss.no_wat_prof, "no_wat_prof");
    a.integer(ss.iter_i_less_k, "iter_i_less_k");
  }
  if (ss.inf_redist || ss.inf_layered_soil) {
    a.dbl(ss.zone_water_upper, "zone_water_upper");
    a.dbl(ss.zone_water_lower, "zone_water_lower");
    a.dbl(ss.soil_water_total, "soil_water_total");
    a.dbl(ss.wt_depth_cm, "wt_depth_cm");
    a.dbl(ss.recharge_inc, "recharge_inc");
    a.dbl(ss.et_cum_cell, "et_cum_cell");
    if (ss.gw_simulation) {
      a.dbl(ss.gw_inf_redist_theta, "gw_inf_redist_theta");
      a.dbl(ss.sm_bottom_loss, "sm_bottom_loss");
      // What the zones give the aquifer (or take from it) as the table moves, in any run.
      a.dbl(ss.recharge_cum, "recharge_cum");
    }
  }
  if (ss.sacramento) {
    a.dbl(ss.topo_dex_values, "topo_dex");
    a.dbl(ss.sac_inf_depth, "sac_inf_depth");
    a.dbl(ss.sac_cell_index, "sac_cell_index");
  }
  if (ss.inf_layered_soil || ss.inf_richards) a.integer(ss.soiltype, "soiltype");
  if (ss.inf_layered_soil) {
    a.dbl(ss.wetdep, "wetdep");
    a.grid(ss.THETA_ML, 4, "THETA_ML");
  }
  if (ss.inf_richards) {
    a.dbl(ss.VOLCHANGE, "VOLCHANGE");
    a.dbl(ss.MASSERROR, "MASSERROR");
    a.dbl(ss.dtr, "dtr");
    a.dbl(ss.avgks, "avgks");
    a.dbl(ss.totaldz, "totaldz");
    a.integer(ss.num1, "num1", richards_work_counts);
    a.integer(ss.num2, "num2");
    a.integer(ss.num3, "num3");
    a.integer(ss.numcells, "numcells");
    a.integer(ss.numtot, "numtot");
    a.integer(ss.bound_type, "bound_type");
    a.dbl(ss.elevgw, "elevgw");
    a.dbl(ss.gw_flux, "gw_flux");
    a.dbl(ss.bottom_elev, "bottom_elev");
    a.dbl(ss.inf_rich, "inf_rich");
    a.dbl(ss.rich_et_step, "rich_et_step");
    a.dbl(ss.surf_theta, "surf_theta");
    a.dbl(ss.recharge_inc, "recharge_inc");
    a.dbl(ss.recharge_cum, "recharge_cum");
    a.dbl(ss.et_cum_cell, "et_cum_cell");
  }
  const transport_state& tr = ms.transport;
  if (ss.water_table_on || ms.channel.stream_loss || tr.chan_con_trans || tr.sediment.soil_erosion)
    a.integer(ss.gwbound, "gwbound");
  const bool contaminants = tr.ov_con_trans || tr.chan_con_trans || tr.soil_con_trans;
  if (ss.gw_simulation || contaminants || tr.nutrients || ss.inf_richards) {
    a.dbl(ss.elevgw, "elevgw");
    a.dbl(ss.bottom_elev, "bottom_elev");
    a.dbl(ss.gw_flux, "gw_flux");
    a.dbl(ss.gw_porosity, "gw_porosity");
    a.dbl(ss.gw_cond_x, "gw_cond_x");
    a.dbl(ss.gw_cond_y, "gw_cond_y");
    a.dbl(ss.gw_static_flux, "gw_static_flux");
  } else if (ss.water_table_on && ((ms.channel.chan_explic && ms.channel.stream_loss) ||
                                   ss.inf_redist || ss.inf_layered_soil)) {
    // The stream beds exchange with a water table that stays where its map puts it; the soils
    // that keep their moisture end on it and take its water where it stands above the ground,
    // whether or not constituents come up with that water.
    a.dbl(ss.elevgw, "elevgw");
    a.dbl(ss.bottom_elev, "bottom_elev");
  }
  if (ss.gw_simulation) a.integer(ss.num_unsat_cells, "num_unsat_cells");
  if (ms.long_term) {
    a.dbl(ss.albedo_cell, "albedo_cell");
    a.dbl(ss.vheight_cell, "vheight_cell");
    a.dbl(ss.tcoeff_cell, "tcoeff_cell");
    a.dbl(ss.canopy_cell, "canopy_cell");
    a.dbl(ss.theta_wp_cell, "theta_wp_cell");
    a.dbl(ss.theta_fc_cell, "theta_fc_cell");
    a.dbl(ss.et_rate_water, "et_rate_water");
    a.dbl(ss.et_rate_soil, "et_rate_soil");
    a.dbl(ss.et_cum_cell, "et_cum_cell");
    a.dbl(ss.recharge_inc, "recharge_inc");
  }
  if (ov.interception_on) {
    a.dbl(ov.interception_storage, "interception_storage");
    a.dbl(ov.interception_capacity, "interception_capacity");
    a.dbl(ov.interception_coeff, "interception_coeff");
    a.dbl(ov.net_rain_cell, "net_rain_cell");
  }
  if (ov.overland_lake_map) {
    a.integer(ov.oland_lake_mask, "oland_lake_mask");
    a.integer(ov.oland_lake_new, "oland_lake_new");
  }
}

void read_area_reduction_map(model_state& ms) {
  overland_state& ov = ms.overland;
  if (!ov.area_reduction) return;
  char* name = ms.cards.area_reduction;
  std::string source;
  if (name[0] != '\0') {
    file_handle& h = ms.input.area_reduction_file;
    if (!file_handle_open(h, name, "r")) {
      stop_with_message("Can't open area reduction file named: %s\n", name);
      return;
    }
    input_reading_line(ms, "reading area reduction map from file: %s\n", name);
    source = name;
    if (!read_cell_map(ms, h, name, map_store_cell_double_2, ov.area_reduction_cell)) return;
  } else if (table_on(ms, present_area_reduction)) {
    input_reading_line(ms, "reading area reduction map from the mapping table file.\n");
    source = "the AREA_REDUCTION table";
    const table_columns cols = {column(ov.area_reduction_cell)};
    read_map_table(ms, map_table_area_reduction, cols);
    if (stopped()) return;
  } else {
    stop_with_message(
        "Error: AREA_REDUCTION names no map file and the mapping table file holds no "
        "AREA_REDUCTION table\n");
    return;
  }
  const int n = cells_held(ms, ov.area_reduction_cell);
  for (int c = 1; c <= n; ++c) {
    const double v = ov.area_reduction_cell[c];
    if (!(v >= 0.0 && v <= 1.0)) {
      stop_with_message(
          "Error: the area reduction %g of cell %d read from %s must lie from 0 to 1\n", v, c,
          source.c_str());
      return;
    }
    ov.area_reduction_cell[c] = 1.0 - v;
  }
}

void read_et_param_maps(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  input_state& in = ms.input;
  run_file_names& n = in.names;
  std::string source;
  if (ms.long_term) {
    const bool table = table_on(ms, present_evapotranspiration);
    if (table) {
      const table_columns cols = {column(ss.albedo_cell), column(ss.vheight_cell),
                                  column(ss.tcoeff_cell), column(ss.canopy_cell)};
      read_map_table(ms, map_table_evapotranspiration, cols);
      if (stopped()) return;
    }
    if (ss.albedo_on &&
        !read_param_map(ms, in.albedo_file, n.albedo, table, "reading albedo map from file: %s\n",
                        "reading albedo table and map from the master table file\n", "albedo",
                        ss.albedo_cell, source))
      return;
    if (ss.et_penman) {
      struct et_map {
        int on;
        file_handle& h;
        char* name;
        const char* file_line;
        const char* table_line;
        const char* what;
        raw_array1d<double>& dest;
      };
      et_map maps[] = {
          {ss.vheight_on, in.vheight_file, n.vheight,
           "reading vegetation-height map from file: %s\n",
           "reading vegetation-height table and map from the master table file\n",
           "vegetation-height", ss.vheight_cell},
          {ss.tcoeff_on, in.tcoeff_file, n.tcoeff,
           "reading transmission-coefficient map from file: %s\n",
           "reading transmission-coefficient table and map from the master table file\n",
           "transmission-coefficient", ss.tcoeff_cell},
          {ss.canopy_on, in.canopy_file, n.canopy, "reading canopy resistance map from file: %s\n",
           "reading canopy resistance table and map from the master table file\n",
           "canopy resistance", ss.canopy_cell},
          {ss.wilting_point_on, in.wilting_point_file, n.wilting_point,
           "reading wilting point map from file: %s\n",
           "reading wilting point table and map from the master table file\n", "wilting point",
           ss.theta_wp_cell},
      };
      for (et_map& m : maps) {
        if (m.on && !read_param_map(ms, m.h, m.name, table, m.file_line, m.table_line, m.what,
                                    m.dest, source))
          return;
      }
    }
  }
  if (!ss.moisture_on || ss.theta_init.empty()) return;
  const bool table = table_on(ms, present_initial_moisture);
  if (table && !in.moisture_file.is_open()) {
    const table_columns cols = {column(ss.theta_init)};
    read_map_table(ms, map_table_green_ampt_moisture, cols, 0, nullptr, green_ampt_row_ok);
    if (stopped()) return;
  }
  if (!read_param_map(ms, in.moisture_file, n.moisture, table,
                      "reading soil moisture map from file: %s\n",
                      "reading soil moisture table and map from the master table file\n",
                      "soil moisture", ss.theta_init, source))
    return;
  // The initial moisture lies between 0 and the cell's porosity.
  if (!check_cells_within(ms, ss.theta_init, moisture_range, source)) return;
  if ((ss.green_ampt || ss.inf_redist) && ss.porosity_on)
    check_cells_below_porosity(ms, ss.theta_init, moisture_range.field, source, in.porosity_source,
                               false);
}

void read_water_table_maps(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  input_state& in = ms.input;
  if (!ss.water_table_on) return;
  if (ss.elevgw.empty() || ss.bottom_elev.empty()) {
    // Only groundwater, the soils that keep their moisture, Richards infiltration and the
    // stream beds use a groundwater head.
    if (ms.cell_count > 0)
      printf(
          "Warning: the water table map %s is not read: only groundwater simulation, the "
          "INF_REDIST, INF_LAYERED_SOIL and Richards soils and the stream beds use it\n",
          in.names.water_table);
    return;
  }
  const char* name = in.names.water_table;
  if (!ensure_open(in.water_table_file, name, "water table map")) return;
  input_reading_line(ms, "reading water table map from file: %s\n", name);
  if (!read_cell_map(ms, in.water_table_file, name, map_store_cell_double_2, ss.elevgw)) return;

  const int n = cells_held(ms, ss.bottom_elev);
  if (ss.gw_simulation) {
    const char* bottom = in.names.aquifer_bottom;
    if (!ensure_open(in.aquifer_bottom_file, bottom, "aquifer bottom map")) return;
    input_reading_line(ms, "reading aquifer bottom map from file: %s\n", bottom);
    if (!read_cell_map(ms, in.aquifer_bottom_file, bottom, map_store_cell_double_2, ss.bottom_elev))
      return;
  } else if (ss.inf_richards) {
    // The Richards columns end on a thin aquifer just below the water table.
    for (int c = 1; c <= n && c <= ss.elevgw.count(); ++c) ss.bottom_elev[c] = ss.elevgw[c] - 0.1;
    ss.aquifer_delta_z = 0.1;
  } else {
    return;
  }
  for (int c = 1; c <= n && c <= ms.cell_elev.count(); ++c) {
    if (ss.bottom_elev[c] >= ms.cell_elev[c]) {
      printf(
          "Aquifer bottom elevation %lf for cell %d is at or above ground surface elevation %lf \n",
          ss.bottom_elev[c], c, ms.cell_elev[c]);
      printf("Aquifer bottom elevation set to ground elevation \n");
      ss.bottom_elev[c] = ms.cell_elev[c];
    }
  }
}

void read_soil_table(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  if (ss.inf_richards != 1) return;
  printf("Reading Soil Table");
  int nodes = 0;
  if (ss.multi_layer_soil_file.is_open()) {
    if (!ms.input.soil_type_file.is_open()) {
      stop_with_message(
          "\nError: the Richards soil table %s needs the soil type of every cell: give its map "
          "with SOIL_TYPE_MAP\n",
          ss.multi_layer_soil_file.path);
      return;
    }
    printf("\n");
    if (!read_soil_type_map(ms)) return;
    nodes = read_layered_soil_table(ms, ss.multi_layer_soil_file, ss.richards_c_option, false);
  } else
    nodes = read_richards_soil_table(ms, ms.input.names.mapping_table, ss.richards_c_option,
                                     ss.soiltype);
  if (stopped()) return;
  if (nodes <= 0) {
    stop_with_message(
        "\nError: the Richards soil table gives no soil nodes (form %d); Richards infiltration "
        "needs a soil table with nodes in every column\n",
        ss.richards_c_option);
    return;
  }
  ss.richards_node_count = nodes;
  cell_allocator a(ms.cell_count);
  struct node_grid {
    raw_array2d<double>& grid;
    const char* name;
  };
  const node_grid grids[] = {
      {ss.PHEAD, "PHEAD"},
      {ss.KHEAD, "KHEAD"},
      {ss.THETA, "THETA"},
      {ss.WATCAP, "WATCAP"},
      {ss.WATFLUX, "WATFLUX"},
      {ss.SOURCE, "SOURCE"},
      {ss.THETAS, "THETAS"},
      {ss.THETAR, "THETAR"},
      {ss.THETAWP, "THETAWP"},
      {ss.THETAFC, "THETAFC"},
      {ss.thehac, "thehac"},
      {ss.BChc, "BChc"},
      {ss.root_depth, "root_depth"},
      {ss.AHAV, "AHAV"},
      {ss.BHAV, "BHAV"},
      {ss.ALPHA, "ALPHA"},
      {ss.BETA, "BETA"},
      {ss.DZ, "DZ"},
      {ss.KS, "KS"},
      {ss.BP, "BP"},
      {ss.LAM, "LAM"},
  };
  for (const node_grid& g : grids) {
    g.grid.reset();
    a.grid(g.grid, nodes, g.name);
    if (!a.ok()) return;
  }
  printf("   Done\n");
  printf("Initialize Richards Params");
  richards_init_soil_columns(ms);
}

void read_soil_maps(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  if (!(ss.green_ampt == 1 || ss.inf_redist == 1 || ss.inf_layered_soil || ss.inf_richards)) return;
  read_area_reduction_map(ms);
  if (stopped()) return;
  if ((ss.green_ampt || ss.inf_redist) && !read_green_ampt_maps(ms)) return;
  if (ss.inf_layered_soil && !read_layered_soil_types(ms)) return;
  read_et_param_maps(ms);
  if (stopped()) return;
  // The initial moisture is final once MOISTURE is read and checked.
  if (ss.green_ampt || ss.inf_redist) hand_over_moisture(ms);
  read_water_table_maps(ms);
  if (stopped()) return;
  read_soil_table(ms);
  if (stopped()) return;
  infiltration_setup(ms);
}

void read_aquifer_start_maps(model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  // The soil maps read the water table for the infiltration schemes; without one the aquifer
  // still starts from its water table and bottom, and the stream beds see the water table.
  const bool stream_beds = ss.water_table_on && ms.channel.chan_explic && ms.channel.stream_loss;
  if ((ss.gw_simulation != 1 && !stream_beds) || ss.green_ampt == 1 || ss.inf_redist == 1 ||
      ss.inf_layered_soil || ss.inf_richards)
    return;
  read_water_table_maps(ms);
}

void read_gw_maps(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  if (ss.gw_simulation != 1) return;
  if (!read_gw_boundary(ms)) return;
  if (!read_wells(ms)) return;
  const bool table = table_on(ms, present_groundwater);
  if (table) {
    const table_columns cols = {column(ss.gw_cond_x), column(ss.gw_porosity)};
    read_map_table(ms, map_table_groundwater, cols);
    if (stopped()) return;
  }
  if (!read_gw_conductivity(ms, table)) return;
  read_gw_porosity(ms, table);
  if (stopped()) return;
  if (!groundwater_setup(ms)) stop_now();
}

void open_sacramento_params(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  if (ss.sacramento != 1) return;
  const char* name = ms.input.names.sacramento;
  file_handle h;
  if (!file_handle_open(h, name, "r")) {
    stop_with_message("Cannot open Sacramento input parameter file: %s\n", name);
    return;
  }
  read_sacramento_input(ms, h, ss.topo_index);
  file_handle_close(h);
}
