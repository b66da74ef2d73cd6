// Parameter tables and index maps: reads a table's rows by id and its index map, checks the map
// against the project grid and the table, and gives every watershed cell the values of its id.
// Called at start-up by the grid-input readers of read_maps and by the nutrient set-up.
#include "input/parameter_tables.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/mapping_tables.h"
#include "input/stream_tables.h"
#include "input/time_series.h"

namespace {

// Room for one token of an index map; a token that fills it is no id.
constexpr std::size_t id_token_size = 64;

// "%lf" on the text at p: true and the value when a finite number begins there.
bool scan_double(const char* p, double& out) {
  char* end = nullptr;
  const double v = strtod(p, &end);
  if (end == p || !std::isfinite(v)) return false;
  out = v;
  return true;
}

// The next whitespace-separated token of an index map into `token`; false at the end of the
// file. `length` is its length, which may fill the buffer when the token is longer.
bool next_map_token(FILE* fp, char (&token)[id_token_size], std::size_t& length) {
  if (fscanf(fp, "%63s", token) != 1) return false;
  length = strlen(token);
  return true;
}

// The whole token as an int; false for anything else (a fraction, a word, a value beyond int).
bool parse_id(const char* token, std::size_t length, int& out) {
  if (length == 0 || length >= id_token_size - 1) return false;
  errno = 0;
  char* end = nullptr;
  const long v = strtol(token, &end, 10);
  if (end == token || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  out = static_cast<int>(v);
  return true;
}

// The six header lines of an index map; false after a reported fault.
bool read_index_header(model_state& ms, FILE* fp, const char* name) {
  char word[8];
  for (int line = 1; line <= 6; ++line) {
    int result = 0;
    switch (line) {
      case 1:
        result = fscanf(fp, "%6s %lf", word, &ms.map_north);
        break;
      case 2:
        result = fscanf(fp, "%6s %lf", word, &ms.map_south);
        break;
      case 3:
        result = fscanf(fp, "%5s %lf", word, &ms.map_east);
        break;
      case 4:
        result = fscanf(fp, "%5s %lf", word, &ms.map_west);
        break;
      case 5:
        result = fscanf(fp, "%5s %d", word, &ms.map_rows);
        break;
      default:
        result = fscanf(fp, "%5s %d", word, &ms.map_cols);
        break;
    }
    if (result == 2) continue;
    if (result == EOF && feof(fp)) {
      report_file_error_now(err_unexpected_end_of_file, nullptr, name);
    } else {
      stop_with_message("Error: line %d of the header of index map %s cannot be read\n", line,
                        name);
    }
    return false;
  }
  return true;
}

}  // namespace

int map_table_read_rows(file_handle& h, const char* file_name, const char* table_label, int n,
                        int k, raw_array1d<int>& ids, raw_array2d<double>& data, int& largest_id) {
  largest_id = 0;
  if (n < 1 || k < 0) {
    stop_with_message("Error: table %s of mapping table file %s has %d rows of %d values\n",
                      table_label, file_name, n, k);
    return 0;
  }
  int row = 0;
  int id = 0;
  switch (table_read_rows(h, n, k, ids, data, largest_id, row, id)) {
    case table_rows_status::read:
      return 1;
    case table_rows_status::end_of_file:
      stop_with_message("Error: table %s of mapping table file %s ends after %d of its %d rows\n",
                        table_label, file_name, row - 1, n);
      return 0;
    case table_rows_status::no_id:
      stop_with_message(
          "Error: row %d of table %s in mapping table file %s has no id in its first six "
          "characters\n",
          row, table_label, file_name);
      return 0;
    case table_rows_status::id_below_one:
      stop_with_message(
          "Error: row %d of table %s in mapping table file %s has the id %d; ids are 1 or more\n",
          row, table_label, file_name, id);
      return 0;
    case table_rows_status::bad_value:
      stop_with_message(
          "Error: row %d (id %d) of table %s in mapping table file %s holds a value that is not "
          "a number (values from character 87 on)\n",
          row, id, table_label, file_name);
      return 0;
    case table_rows_status::no_memory:
      break;
  }
  stop_with_message("Error: table %s of mapping table file %s: no memory for its %d rows\n",
                    table_label, file_name, n);
  return 0;
}

bool alloc_values_by_id(raw_array1d<double>& values_by_id, int largest_id) {
  if (largest_id >= 0 && values_by_id.allocate(largest_id)) return true;
  raw_report_alloc_failure("Values by ID");
  stop_with_message("Error: no memory for the values of %d table ids\n", largest_id);
  return false;
}

int map_read_category_values(model_state& ms, file_handle& index_file, const char* index_file_name,
                             raw_array2d<int>& index_grid, int largest_id, bool keep_outside) {
  const char* name = index_file_name != nullptr ? index_file_name : "";
  const int rows = ms.rows;
  const int cols = ms.cols;
  index_grid.reset();
  if (index_file.fp == nullptr) {
    stop_with_message("Error: index map %s is not open for reading\n", name);
    return 0;
  }
  if (rows <= 0 || cols <= 0 || ms.index_map.empty() || ms.index_map.row_count() < rows ||
      ms.index_map.col_count() < cols) {
    stop_with_message(
        "Error: index map %s cannot be read before the watershed mask of %d rows and "
        "%d columns\n",
        name, rows, cols);
    return 0;
  }
  if (!index_grid.allocate(rows, cols)) {
    raw_report_alloc_failure("Index File Data");
    stop_with_message("Error: no memory for index map %s\n", name);
    return 0;
  }
  raw_array1d<int> counts;
  if (largest_id < 0 || !counts.allocate(largest_id)) {
    raw_report_alloc_failure("Category counts");
    stop_with_message("Error: no memory for the category counts of index map %s\n", name);
    return 0;
  }

  FILE* fp = index_file.fp;
  if (!read_index_header(ms, fp, name)) return 0;
  if (ms.map_rows != rows || ms.map_cols != cols) {
    int code = err_map_cols_wrong;
    if (ms.map_rows != rows && ms.map_cols != cols)
      code = err_map_rows_and_cols_wrong;
    else if (ms.map_rows != rows)
      code = err_map_rows_wrong;
    report_file_error_now(code, nullptr, name);
    return 0;
  }

  char token[id_token_size];
  for (int r = 1; r <= rows; ++r) {
    const int* mask_row = ms.index_map[r];
    int* grid_row = index_grid[r];
    for (int c = 1; c <= cols; ++c) {
      std::size_t length = 0;
      if (!next_map_token(fp, token, length)) {
        report_file_error_now(err_unexpected_end_of_file, nullptr, name);
        return 0;
      }
      int id = 0;
      if (!parse_id(token, length, id)) {
        stop_with_message("Error: \"%.*s\" at row %d column %d of index map %s is not an id\n",
                          static_cast<int>(length), token, r, c, name);
        return 0;
      }
      if (mask_row[c] == 0 && !keep_outside) continue;  // outside the watershed: read, ignored
      if (id > largest_id) {
        set_error_values(r, c);
        report_file_error_now(err_index_id_beyond_table, nullptr, name);
        return 0;
      }
      if (id < 0) {
        stop_with_message(
            "Error: the watershed cell at row %d column %d of index map %s has the "
            "negative id %d\n",
            r, c, name, id);
        return 0;
      }
      grid_row[c] = id;
      if (id > 0) ++counts[id];
    }
  }

  file_handle& summary = ms.output.summary_file;
  for (int id = 1; id <= largest_id; ++id) {
    if (counts[id] <= 0) continue;
    printf("In map %s category %d has %d values\n", name, id, counts[id]);
    if (summary.fp != nullptr)
      fprintf(summary.fp, "In map %s category %d has %d values\n", name, id, counts[id]);
  }
  return 1;
}

int map_gather_values(double* out, int out_highest, const raw_array1d<double>& values_by_id,
                      const raw_array2d<int>& index_grid, const raw_array2d<int>& index_map,
                      int rows, int cols) {
  if (index_grid.empty() || index_map.empty()) return 1;
  if (rows > index_grid.row_count()) rows = index_grid.row_count();
  if (cols > index_grid.col_count()) cols = index_grid.col_count();
  if (rows > index_map.row_count()) rows = index_map.row_count();
  if (cols > index_map.col_count()) cols = index_map.col_count();
  // Every cell number must have its element before anything is written.
  int largest_cell = 0;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c)
      if (index_map[r][c] > largest_cell) largest_cell = index_map[r][c];
  if (out == nullptr || largest_cell > out_highest) {
    stop_with_message("Error: a per-cell parameter array of %d cells cannot take cell %d\n",
                      out == nullptr ? 0 : out_highest, largest_cell);
    return 0;
  }
  const int top = values_by_id.empty() ? 0 : values_by_id.count();
  for (int r = 1; r <= rows; ++r) {
    const int* grid_row = index_grid[r];
    const int* mask_row = index_map[r];
    for (int c = 1; c <= cols; ++c) {
      const int cell = mask_row[c];
      const int id = grid_row[c];
      if (cell > 0 && id >= 1 && id <= top) out[cell] = values_by_id[id];
    }
  }
  return 1;
}

int map_gather_values(raw_array1d<double>& out, const raw_array1d<double>& values_by_id,
                      const raw_array2d<int>& index_grid, const raw_array2d<int>& index_map,
                      int rows, int cols) {
  return map_gather_values(out.data(), out.count(), values_by_id, index_grid, index_map, rows,
                           cols);
}

int map_table_read_precip_conc(file_handle& h, int k, double* values) {
  std::string line;
  if (read_text_line(line, h) == 0) return 1;
  if (map_line_id(line.c_str()) != map_key_precip_conc) return 1;  // it was the column header
  std::string rest = line;
  std::string token;
  next_token(rest, token);  // the keyword
  int result = 1;
  for (int i = 1; i <= k; ++i) {
    double v = 0.0;  // a number the line lacks reads as 0.0
    if (next_token(rest, token) != 0 && !scan_double(token.c_str(), v)) {
      result = 0;
      break;
    }
    if (values != nullptr) values[i] = v;
  }
  read_text_line(line, h);  // the column-header line
  return result;
}

int read_map_table(model_state& ms, int table_id, const table_columns& outputs, int precip_count,
                   double* precip_values, table_row_check check) {
  const char* file_name = ms.input.names.mapping_table;
  if (table_id < 1 || table_id > map_table_last) {
    stop_with_message("Error: %d is not a table id of the mapping table file %s\n", table_id,
                      file_name);
    return 0;
  }
  const char* keyword = map_table_keyword(table_id);
  if (ts_index_loaded == 0 && map_table_link_series(file_name) == 0) return 0;

  file_handle h;
  if (!file_handle_open(h, file_name, "r")) {
    report_file_error_now(err_mapping_table_not_open, nullptr, file_name);
    return 0;
  }
  std::string index_file;
  int n = 0;
  if (map_table_find(h, table_id, index_file) != 0) n = map_table_read_num_ids(h);
  if (n <= 0) {
    report_file_error_now(err_mapping_table_empty, keyword, nullptr);
    return 0;
  }
  if (precip_count >= 1 && precip_values != nullptr) {
    if (map_table_read_precip_conc(h, precip_count, precip_values) == 0) {
      stop_with_message(
          "Error: the PRECIP_CONC line of table %s in mapping table file %s holds a value that "
          "is not a number\n",
          keyword, file_name);
      return 0;
    }
  } else {
    map_table_skip(h);
  }

  const int k = map_table_value_count(table_id);
  raw_array1d<int> ids;
  raw_array2d<double> data;
  int largest_id = 0;
  if (map_table_read_rows(h, file_name, keyword, n, k, ids, data, largest_id) == 0) return 0;
  if (check != nullptr) {
    for (int row = 1; row <= n; ++row)
      if (!check(file_name, keyword, ids[row], data[row], k, outputs)) return 0;
  }

  file_handle index;
  if (!file_handle_open(index, index_file.c_str(), "r")) {
    report_file_error_now(err_index_map_not_open, nullptr, index_file.c_str());
    return 0;
  }
  raw_array2d<int> grid;
  const int map_read = map_read_category_values(ms, index, index_file.c_str(), grid, largest_id);
  file_handle_close(index);
  if (grid.empty()) return 0;

  if (map_read != 0) {
    // Every watershed cell needs an id: a cell of id 0 would take no value and break the
    // cell-by-cell order of the values. An id without a row of its own reads 0.0, the value
    // table_store_row leaves under it.
    for (int r = 1; r <= ms.rows; ++r) {
      for (int c = 1; c <= ms.cols; ++c) {
        if (ms.index_map[r][c] == 0 || grid[r][c] >= 1) continue;
        stop_with_message(
            "Error: the watershed cell at row %d column %d of index map %s has the id %d; the ids "
            "of table %s in mapping table file %s begin at 1\n",
            r, c, index_file.c_str(), grid[r][c], keyword, file_name);
        return 0;
      }
    }
  }

  raw_array1d<double> values_by_id;
  if (!alloc_values_by_id(values_by_id, largest_id)) return 0;
  const int columns = k < static_cast<int>(outputs.size()) ? k : static_cast<int>(outputs.size());
  for (int column = 1; column <= columns; ++column) {
    raw_array1d<double>* out = outputs[static_cast<std::size_t>(column - 1)];
    if (out == nullptr) continue;
    table_store_row(data, n, column, ids, largest_id, values_by_id);
    if (map_gather_values(*out, values_by_id, grid, ms.index_map, ms.rows, ms.cols) == 0) return 0;
  }
  return 1;
}
