// Mapping tables with a layout of their own: reads the sediment classes, the soil erosion
// properties per class, the well table, the wetland table and the soil-column tables of the
// mapping-table file. Called at start-up by the sediment set-up and the readers of read_maps.
#include "input/special_tables.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/linked_list.h"
#include "framework/core/text_tokens.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "input/ascii_grid.h"
#include "input/mapping_tables.h"
#include "input/parameter_tables.h"
#include "input/stream_tables.h"
#include "input/time_series.h"
#include "subsurface/soil_table_state.h"
#include "subsurface/subsurface_steps.h"
#include "transport/transport_records_state.h"

namespace {

// Values of a SEDIMENTS row begin at this character (one-based).
constexpr std::size_t sed_value_column = 41;
// Longest output file name of a sediment class.
constexpr std::size_t max_sed_file_name = 1023;
// Value columns of the tables read here.
constexpr int erosion_fixed_columns = 5;
// How far the size-class fractions of one soil may sum away from 1.
constexpr double sed_fraction_tolerance = 0.001;
constexpr int well_columns = 3;
constexpr int wetland_columns = 7;

// The table of `id` is missing or empty (err_mapping_table_empty), reported at once.
void report_missing_table(int id) {
  report_file_error_now(err_mapping_table_empty, map_table_keyword(id), nullptr);
}

// A table value truncated to an int, as the well table takes its mode and series index; false
// for a value outside the int range.
bool truncate_to_int(double v, int& out) {
  if (!(v > static_cast<double>(INT_MIN) - 1.0 && v < static_cast<double>(INT_MAX) + 1.0))
    return false;
  out = static_cast<int>(v);
  return true;
}

// Reads one count line of `key` ("%s %d"). Returns the count; 0 when the line is no such line
// or holds no number (the line is consumed either way); -1 after a reported fault: a negative
// count.
int read_count_line(file_handle& h, int key, const char* file_name, const char* table) {
  std::string line;
  if (read_text_line(line, h) == 0) return 0;
  if (map_line_id(line.c_str()) != key) return 0;
  const char* p = skip_first_word(line.c_str());
  errno = 0;
  char* end = nullptr;
  const long v = strtol(p, &end, 10);
  if (end == p) return 0;
  if (v < 0) {
    stop_with_message("Error: the count line of table %s in mapping table file %s gives %ld rows\n",
                      table, file_name, v);
    return -1;
  }
  return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

// A table read by id: its rows and its index map.
struct id_table {
  int n = 0;                 // rows 1..n
  int largest_id = 0;        // largest row id
  raw_array1d<int> ids;      // per row: id
  raw_array2d<double> data;  // [row][value column]
  raw_array2d<int> grid;     // [row][col]: id of each watershed cell, 0 elsewhere
  std::string index_file;    // the index map's file name
};

// After the count line: passes the column-header line, reads the n rows of k values and the
// index map. True when read; false after a reported fault.
bool read_rows_and_map(model_state& ms, file_handle& h, const char* file_name, int table_id, int k,
                       id_table& t) {
  const char* keyword = map_table_keyword(table_id);
  map_table_skip(h);
  if (map_table_read_rows(h, file_name, keyword, t.n, k, t.ids, t.data, t.largest_id) == 0)
    return false;
  file_handle index;
  if (!file_handle_open(index, t.index_file.c_str(), "r")) {
    report_file_error_now(err_index_map_not_open, nullptr, t.index_file.c_str());
    return false;
  }
  // A well outside the watershed would pump from no cell: the well map keeps every id for the
  // placement to refuse.
  const int read = map_read_category_values(ms, index, t.index_file.c_str(), t.grid, t.largest_id,
                                            table_id == map_table_wells);
  file_handle_close(index);
  return read != 0;
}

// Finds table `table_id` and its count (err_mapping_table_empty when missing or empty). True when
// found with a positive count; false after a reported fault.
bool find_table(file_handle& h, const char* file_name, int table_id, id_table& t) {
  if (map_table_find(h, table_id, t.index_file) == 0) {
    report_missing_table(table_id);
    return false;
  }
  t.n = read_count_line(h, map_key_num_ids, file_name, map_table_keyword(table_id));
  if (t.n < 0) return false;
  if (t.n == 0) {
    report_missing_table(table_id);
    return false;
  }
  return true;
}

// Opens the soil-type index map of a soil-column table (found by map_table_locate) and reads it
// in category mode into soil_type, refusing ids beyond the soil-type table. False after a
// reported fault.
bool read_soil_index_map(model_state& ms, const char* file_name, int table_id,
                         const index_map_list& maps, const std::string& header_map_name,
                         raw_array1d<int>& soil_type) {
  const index_map_entry* e = index_map_lookup(maps, header_map_name);
  const std::string index_file = e != nullptr ? e->file_name : header_map_name;
  file_handle index;
  if (e == nullptr || !file_handle_open(index, index_file.c_str(), "r")) {
    report_file_error_now(err_richards_soil_type_map_missing, nullptr, index_file.c_str());
    return false;
  }
  read_ascii_map(index, index_file.c_str(), map_store_cell_category, ms.map_north, ms.map_south,
                 ms.map_east, ms.map_west, ms.map_rows, ms.map_cols, ms.index_map, nullptr, nullptr,
                 &soil_type, ms.rows, ms.cols);
  file_handle_close(index);
  if (run_error.error_fatal != 0) return false;
  const int cells = ms.cell_count < soil_type.count() ? ms.cell_count : soil_type.count();
  for (int cell = 1; cell <= cells; ++cell) {
    if (soil_type[cell] < max_soil_types) continue;
    stop_with_message(
        "Error: cell %d has the soil type id %d in index map %s of table %s (mapping table "
        "file %s); soil type ids go up to %d\n",
        cell, soil_type[cell], index_file.c_str(), map_table_keyword(table_id), file_name,
        max_soil_types - 1);
    return false;
  }
  return true;
}

// Opens the mapping-table file and places it at the soil-column table `table_id`, with the
// table's index maps. A file that does not open, or holds no such table (and so no soil-type
// index map), is reported at once; false then.
bool open_soil_column_table(const char* file_name, int table_id, file_handle& h,
                            index_map_list& maps, std::string& header_map_name) {
  if (!file_handle_open(h, file_name, "r")) {
    report_file_error_now(err_mapping_table_not_open, nullptr, file_name);
    return false;
  }
  if (map_table_locate(h, table_id, maps, header_map_name) == 0) {
    report_file_error_now(err_richards_soil_type_map_missing, nullptr, "");
    return false;
  }
  return true;
}

}  // namespace

int read_sed_table(const char* file_name, int& class_count, raw_array1d<double>& spec_grav,
                   raw_array1d<double>& part_diam, std::vector<std::string>& output_filename,
                   raw_array1d<double>& f_bind) {
  class_count = 0;
  file_handle h;
  if (!file_handle_open(h, file_name, "r")) {
    report_file_error_now(err_mapping_table_not_open, nullptr, file_name);
    return 0;
  }
  if (map_table_find_sed(h) == 0) return 1;
  const int n = read_count_line(h, map_key_num_sed, file_name, "SEDIMENTS");
  if (n < 0) return 0;
  if (n == 0) return 1;

  std::string line;
  read_text_line(line, h);  // the column-header line
  // The rows are gathered as they are read, so that a count beyond the rows present costs no
  // memory before the table is found short.
  std::vector<double> values;
  std::vector<std::string> names(1);
  for (int s = 1; s <= n; ++s) {
    if (read_text_line(line, h) == 0) {
      stop_with_message(
          "Error: table SEDIMENTS of mapping table file %s ends after %d of its %d rows\n",
          file_name, s - 1, n);
      return 0;
    }
    std::string rest = line.size() >= sed_value_column ? line.substr(sed_value_column - 1) : "";
    std::string token;
    for (int v = 1; v <= 3; ++v) {
      double value = 0.0;
      if (next_token(rest, token) == 0 || !parse_double(token, value)) {
        stop_with_message(
            "Error: row %d of table SEDIMENTS in mapping table file %s needs a specific gravity, "
            "a particle diameter and a binding fraction from character 41 on\n",
            s, file_name);
        return 0;
      }
      values.push_back(value);
    }
    // A class needs a grain that exists and is heavier than water: settling velocities and
    // capacities divide by the diameter and by the submerged weight.
    const double gravity = values[values.size() - 3], diameter = values[values.size() - 2];
    if (!(gravity > 1.0) || !(diameter > 0.0)) {
      stop_with_message(
          "Error: size class %d of table SEDIMENTS in mapping table file %s has %s %g; it must "
          "be above %s\n",
          s, file_name, gravity > 1.0 ? "the particle diameter" : "the specific gravity",
          gravity > 1.0 ? diameter : gravity, gravity > 1.0 ? "0 mm" : "1");
      return 0;
    }
    if (next_token(rest, token) == 0 || token.size() > max_sed_file_name) {
      stop_with_message(
          "Error: row %d of table SEDIMENTS in mapping table file %s needs an output file name "
          "of at most %zu characters after its three values\n",
          s, file_name, max_sed_file_name);
      return 0;
    }
    names.push_back(token);
  }

  alloc_1d_double(spec_grav, n, "spec_grav");
  alloc_1d_double(part_diam, n, "part_diam");
  alloc_1d_double(f_bind, n, "f_bind");
  if (spec_grav.empty() || part_diam.empty() || f_bind.empty()) {
    stop_with_message("Error: no memory for the %d sediment classes of mapping table file %s\n", n,
                      file_name);
    return 0;
  }
  for (int s = 1; s <= n; ++s) {
    const std::size_t first = static_cast<std::size_t>(s - 1) * 3;
    spec_grav[s] = values[first];
    part_diam[s] = values[first + 1];
    f_bind[s] = values[first + 2];
  }
  output_filename = std::move(names);
  class_count = n;
  return 1;
}

int read_erosion_table(model_state& ms, const char* file_name, const erosion_columns& outputs,
                       raw_array3d<double>& sed_fract, int class_count) {
  if (ts_index_loaded == 0 && map_table_link_series(file_name) == 0) return 0;
  file_handle h;
  if (!file_handle_open(h, file_name, "r")) {
    report_file_error_now(err_mapping_table_not_open, nullptr, file_name);
    return 0;
  }
  id_table t;
  if (!find_table(h, file_name, map_table_soil_erosion, t)) return 0;
  const int sed_count = read_count_line(h, map_key_num_sed, file_name, "SOIL_EROSION_PROPS");
  if (sed_count < 0) return 0;
  if (sed_count != class_count) {
    set_error_values(class_count, sed_count);
    report_error_now(err_sediment_count_mismatch);
    return 0;
  }
  const int cells = ms.cell_count;
  // Every cell and class needs its entry of five slots.
  if (class_count > 0 && (sed_fract.plane_count() < cells || sed_fract.row_count() < class_count ||
                          sed_fract.col_count() < sed_fract_slot_count - 1)) {
    stop_with_message(
        "Error: the sediment fractions of %d cells and %d classes (%d slots each) cannot take "
        "table SOIL_EROSION_PROPS of %d cells and %d classes\n",
        sed_fract.plane_count(), sed_fract.row_count(),
        sed_fract.empty() ? 0 : sed_fract.col_count() + 1, cells, class_count);
    return 0;
  }
  if (!read_rows_and_map(ms, h, file_name, map_table_soil_erosion,
                         erosion_fixed_columns + class_count, t))
    return 0;

  // The soil of every id is shared out among the size classes: its fractions sum to 1.
  for (int row = 1; row <= t.n; ++row) {
    double sum = 0.0;
    for (int s = 1; s <= class_count; ++s) sum += t.data[row][erosion_fixed_columns + s];
    if (class_count > 0 && !(std::fabs(sum - 1.0) <= sed_fraction_tolerance)) {
      stop_with_message(
          "Error: the size-class fractions of id %d in table SOIL_EROSION_PROPS of mapping table "
          "file %s sum to %g; they must sum to 1 within %g\n",
          t.ids[row], file_name, sum, sed_fraction_tolerance);
      return 0;
    }
  }
  raw_array1d<double> values_by_id;
  if (!alloc_values_by_id(values_by_id, t.largest_id)) return 0;
  for (int column = 1; column <= erosion_fixed_columns; ++column) {
    raw_array1d<double>* out = outputs[static_cast<std::size_t>(column - 1)];
    if (out == nullptr) continue;
    table_store_row(t.data, t.n, column, t.ids, t.largest_id, values_by_id);
    if (map_gather_values(*out, values_by_id, t.grid, ms.index_map, ms.rows, ms.cols) == 0)
      return 0;
  }
  // Soil fractions per class, in their slot of each cell's entry: the k-th watershed cell, row by
  // row, is cell k; a cell of id 0 has no fraction in any class, and an id without a row of its
  // own reads 0.0 in every column and class, as in every table read by id.
  for (int s = 1; s <= class_count; ++s) {
    table_store_row(t.data, t.n, erosion_fixed_columns + s, t.ids, t.largest_id, values_by_id);
    int k = 0;
    for (int r = 1; r <= ms.rows; ++r) {
      for (int c = 1; c <= ms.cols; ++c) {
        if (ms.index_map[r][c] == 0) continue;
        if (++k > cells) break;
        const int id = t.grid[r][c];
        sed_fract[k][s][sed_fract_soil_slot] = id >= 1 ? values_by_id[id] : 0.0;
      }
    }
  }
  return 1;
}

int make_well_list(const char* file_name, const raw_array1d<int>& ids,
                   const raw_array2d<double>& data, int n, well_record*& head) {
  for (int row = 1; row <= n; ++row) {
    int mode = 0;
    int series = 0;
    const bool constant = data[row][1] == 0.0;
    if (!truncate_to_int(data[row][1], mode) ||
        (!constant && !truncate_to_int(data[row][2], series))) {
      list_free(head);
      stop_with_message(
          "Error: row %d (well %d) of table WELL_TABLE in mapping table file %s has a mode or "
          "series index beyond the range of whole numbers\n",
          row, ids[row], file_name);
      return 0;
    }
    well_record* w = new well_record;
    w->id = ids[row];
    w->mode = mode;
    w->rate = constant ? data[row][2] : 0.0;
    w->ts_index = constant ? 0 : series;
    w->next = head;
    head = w;
  }
  return 1;
}

int read_well_table(model_state& ms, const char* file_name) {
  if (ts_index_loaded == 0 && map_table_link_series(file_name) == 0) return 0;
  file_handle h;
  if (!file_handle_open(h, file_name, "r")) {
    report_file_error_now(err_mapping_table_not_open, nullptr, file_name);
    return 0;
  }
  id_table t;
  if (!find_table(h, file_name, map_table_wells, t)) return 0;
  if (!read_rows_and_map(ms, h, file_name, map_table_wells, well_columns, t)) return 0;
  well_record* table_wells = nullptr;
  if (make_well_list(file_name, t.ids, t.data, t.n, table_wells) == 0) return 0;
  wells_from_index_map(ms, t.grid, table_wells);
  list_free(table_wells);  // the placement frees it; this only guards the list's release
  return 1;
}

int read_wetland_table(model_state& ms, const char* file_name, int& wetland_count,
                       raw_array1d<wetland_record>& wetlands, raw_array1d<int>& wetland_mask) {
  file_handle h;
  if (!file_handle_open(h, file_name, "r")) {
    report_file_error_now(err_mapping_table_not_open, nullptr, file_name);
    return 0;
  }
  id_table t;
  if (!find_table(h, file_name, map_table_wetlands, t)) return 0;
  if (!read_rows_and_map(ms, h, file_name, map_table_wetlands, wetland_columns, t)) return 0;

  // Compact numbers by id, in the order the ids are met row by row.
  raw_array1d<int> compact;
  if (!compact.allocate(t.largest_id)) {
    raw_report_alloc_failure("wetland numbers");
    stop_with_message("Error: no memory for the wetland ids of mapping table file %s\n", file_name);
    return 0;
  }
  int distinct = 0;
  int largest_map_id = 0;
  for (int r = 1; r <= ms.rows; ++r) {
    for (int c = 1; c <= ms.cols; ++c) {
      const int id = t.grid[r][c];
      if (id < 1) continue;
      if (id > largest_map_id) largest_map_id = id;
      if (compact[id] == 0) compact[id] = ++distinct;
    }
  }
  if (distinct != t.n) {
    set_error_values(distinct, t.n);
    report_error_now(err_wetland_id_count_mismatch);
    return 0;
  }
  if (largest_map_id > max_wetland_ids) {
    report_error_now(err_wetland_ids_too_many);
    return 0;
  }
  if (wetland_mask.count() < ms.cell_count) {
    alloc_1d_int(wetland_mask, ms.cell_count, "wetland_mask");
    if (wetland_mask.empty() && ms.cell_count > 0) {
      stop_with_message("Error: no memory for the wetland mask of %d cells\n", ms.cell_count);
      return 0;
    }
  }

  struct_alloc(largest_map_id, wetlands);
  if (wetlands.empty()) {
    stop_with_message("Error: no memory for the %d wetlands of mapping table file %s\n", t.n,
                      file_name);
    return 0;
  }
  // A map id without a row keeps its compact number: its cells are that wetland, whose
  // properties stay 0.0.
  wetland_count = t.n;
  for (int row = 1; row <= t.n; ++row) {
    const int number = compact[t.ids[row]];
    if (number == 0) continue;  // an id the map does not use
    const double* v = t.data[row];
    double* slot = wetlands[number].slot;
    slot[0] = v[1] / 1000.0;
    slot[1] = v[2] / 1000.0;
    slot[2] = v[3] / seconds_per_day;
    slot[3] = v[4] / 1000.0;
    slot[4] = v[5] / seconds_per_day;
    slot[5] = 0.0;
    slot[6] = v[6];
    slot[7] = v[7] / 1000.0;
  }
  for (int r = 1; r <= ms.rows; ++r) {
    for (int c = 1; c <= ms.cols; ++c) {
      const int cell = ms.index_map[r][c];
      if (cell < 1 || cell > wetland_mask.count()) continue;
      const int id = t.grid[r][c];
      wetland_mask[cell] = id >= 1 ? compact[id] : 0;
    }
  }
  return 1;
}

int read_richards_soil_table(model_state& ms, const char* file_name, int form,
                             raw_array1d<int>& soil_type) {
  int table_id = 0;
  if (form == 1) table_id = map_table_richards_brooks;
  if (form == 2) table_id = map_table_richards_havercamp;
  if (table_id == 0) return 0;
  file_handle h;
  index_map_list maps;
  std::string header_map_name;
  if (!open_soil_column_table(file_name, table_id, h, maps, header_map_name)) return -1;
  if (!read_soil_index_map(ms, file_name, table_id, maps, header_map_name, soil_type)) return -1;
  return read_layered_soil_table(ms, h, form);
}

int read_multilayer_table(model_state& ms, const char* file_name, soil_table_record* soil_types,
                          raw_array1d<int>& soil_type) {
  file_handle h;
  index_map_list maps;
  std::string header_map_name;
  if (!open_soil_column_table(file_name, map_key_multi_layer_soil, h, maps, header_map_name))
    return -1;
  if (soil_types == nullptr) {
    stop_with_message("Error: no soil-type table to take table MULTI_LAYER_SOIL of %s\n",
                      file_name);
    return -1;
  }
  if (!read_soil_index_map(ms, file_name, map_key_multi_layer_soil, maps, header_map_name,
                           soil_type))
    return -1;
  return read_multilayer_soil_block(ms, h, soil_types);
}
