// Stream mapping tables: finds a table of the stream mapping-table file and its index map, reads
// its rows and spreads the values over the links and nodes of the channel network. The check runs
// while the run parameters are copied; the readers run when the network's parameters are set up.
#include "input/stream_tables.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "input/mapping_tables.h"

namespace {

constexpr char table_file_header[] = "TORVA_STREAM_INDEX_MAP_TABLES";
constexpr char index_map_header[] = "STREAM_MAP";
// Table rows: the id in the first 6 characters, the values from column 87 on.
constexpr std::size_t row_id_width = 6;
constexpr std::size_t row_value_column = 86;  // zero-based position of column 87
// Labels of the check report are padded with dots to this width.
constexpr std::size_t check_label_width = 35;

// Keyword of each kind, the number of its characters that are compared, and its label.
struct kind_entry {
  int kind;
  const char* keyword;
  std::size_t compared;
  int values_per_row;
  const char* label;
};

// In the order stream_table_kind tests them; ROUGHNESS last, as readers test it on their own.
constexpr kind_entry kind_table[] = {
    {stream_table_nsm_n, "NSM_N", 5, 4, "NSM_N (Stream)"},
    {stream_table_nsm_p, "NSM_P", 5, 3, "NSM_P (Stream)"},
    {stream_table_nsm_oth, "NSM_OTH", 6, 3, "NSM_OTH (Stream)"},
    {stream_table_nsm_c, "NSM_C", 5, 2, "NSM_C (Stream)"},
    {stream_table_num_ids, "NUM_IDS", 7, 0, "NUM_IDS (Stream)"},
    {stream_table_index_map, "ST_INDEX_MAP", 9, 0, "ST_INDEX_MAP (Stream)"},
    {stream_table_dispersion, "DISPERSION", 5, 1, "DISPERSION (Stream)"},
    {stream_table_roughness, "ROUGHNESS", 9, 1, "ROUGHNESS (Stream)"},
};
constexpr std::size_t tested_kinds = 7;  // the entries before ROUGHNESS

const kind_entry* find_kind(int kind) {
  for (const kind_entry& e : kind_table)
    if (e.kind == kind) return &e;
  return nullptr;
}

bool starts_with(const std::string& line, const char* word, std::size_t n) {
  return line.size() >= n && std::memcmp(line.data(), word, n) == 0;
}

// Kind of a line as every reader takes it: ROUGHNESS first, then the other keywords.
int line_kind(const std::string& line) {
  return stream_line_is_roughness(line) ? stream_table_roughness : stream_table_kind(line);
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Prints a message of this reader's own to the console and the run's summary file.
__attribute__((format(printf, 1, 2))) void own_message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  error_print(error_echo_file, text.c_str());
}

// Words of a stream index map, read across lines (blanks and tabs separate them).
class word_reader {
 public:
  explicit word_reader(file_handle& file) : file_(file) {}
  bool next(std::string& word) {
    for (;;) {
      while (pos_ < line_.size() && is_blank(line_[pos_])) ++pos_;
      if (pos_ < line_.size()) break;
      if (read_text_line(line_, file_) == 0) return false;
      pos_ = 0;
    }
    const std::size_t start = pos_;
    while (pos_ < line_.size() && !is_blank(line_[pos_])) ++pos_;
    word.assign(line_, start, pos_ - start);
    return true;
  }

 private:
  file_handle& file_;
  std::string line_;
  std::size_t pos_ = 0;
};

// Checks that the network and the array the mode fills fit together, so that no write leaves
// the array; prints what does not fit.
bool index_map_arguments_fit(const char* file_name, int link_count, int max_nodes,
                             const raw_array1d<int>& nodes_per_link,
                             const raw_array2d<int>* index_table, const raw_array2d<double>* output,
                             int mode) {
  if (mode != 0 && mode != 2) {
    own_message("Error: stream map file %s: %d is not a mode of the stream map reader\n", file_name,
                mode);
    return false;
  }
  if (link_count < 0 || max_nodes < 0 || (link_count > 0 && nodes_per_link.count() < link_count)) {
    own_message(
        "Error: stream map file %s: the channel network of %d links with at most %d nodes "
        "per link has no node count for every link\n",
        file_name, link_count, max_nodes);
    return false;
  }
  for (int link = 1; link <= link_count; ++link) {
    if (nodes_per_link[link] < 0 || nodes_per_link[link] > max_nodes) {
      own_message(
          "Error: stream map file %s: link %d has %d nodes, outside 0 to the largest node "
          "count %d\n",
          file_name, link, nodes_per_link[link], max_nodes);
      return false;
    }
  }
  const bool fits = mode == 0
                        ? index_table != nullptr && !index_table->empty() &&
                              index_table->row_count() >= max_nodes &&
                              index_table->col_count() >= link_count
                        : output != nullptr && !output->empty() &&
                              output->row_count() >= link_count && output->col_count() >= max_nodes;
  if (!fits) {
    own_message(
        "Error: stream map file %s: the array to fill is smaller than the channel network "
        "(%d links, at most %d nodes per link)\n",
        file_name, link_count, max_nodes);
    return false;
  }
  return true;
}

// An output of read_stream_table must hold every node of every link: [link][node].
bool output_fits(const raw_array2d<double>* out, int link_count, int max_nodes) {
  return out == nullptr ||
         (!out->empty() && out->row_count() >= link_count && out->col_count() >= max_nodes);
}

}  // namespace

int stream_table_kind(const std::string& line) {
  for (std::size_t i = 0; i < tested_kinds; ++i) {
    const kind_entry& e = kind_table[i];
    if (starts_with(line, e.keyword, e.compared)) return e.kind;
  }
  return stream_table_none;
}

bool stream_line_is_roughness(const std::string& line) {
  return starts_with(line, "ROUGHNESS", 9);
}

int stream_values_per_row(int kind) {
  const kind_entry* e = find_kind(kind);
  return e != nullptr ? e->values_per_row : 0;
}

int stream_table_flag_index(int kind) {
  switch (kind) {
    case stream_table_roughness:
      return 0;
    case stream_table_nsm_n:
      return 1;
    case stream_table_nsm_p:
      return 2;
    case stream_table_nsm_oth:
      return 3;
    case stream_table_nsm_c:
      return 4;
    case stream_table_dispersion:
      return 5;
    default:
      return -1;
  }
}

void stream_table_label(int kind, char* buffer, std::size_t size) {
  const kind_entry* e = find_kind(kind);
  if (e != nullptr) copy_text(buffer, size, e->label);
}

int stream_table_find(file_handle& file, int kind, std::string& map_file) {
  map_file.clear();
  if (!file.is_open()) return 0;
  std::string line;
  if (read_text_line(line, file) == 0 ||
      !starts_with(line, table_file_header, sizeof table_file_header - 1))
    return 0;

  // The index map lines that directly follow line 1: file name and map name of each.
  struct index_map_line {
    std::string file_name;
    std::string map_name;
  };
  std::vector<index_map_line> maps;
  int have = read_text_line(line, file);
  while (have != 0 && line_kind(line) == stream_table_index_map) {
    std::string rest = line;
    std::string keyword;
    index_map_line entry;
    next_token(rest, keyword);
    next_token(rest, entry.file_name);
    entry.map_name = rest;
    maps.push_back(std::move(entry));
    have = read_text_line(line, file);
  }

  // The table's header line; its map name is the rest of the line after the keyword's word.
  while (have != 0 && line_kind(line) != kind) have = read_text_line(line, file);
  if (have == 0) return 0;
  const std::string map_name = skip_first_word(line.c_str());
  for (auto it = maps.rbegin(); it != maps.rend(); ++it) {
    if (it->map_name == map_name) {
      map_file = it->file_name;
      return 1;
    }
  }
  return 0;
}

int stream_table_read_num_ids(file_handle& file) {
  std::string line;
  if (read_text_line(line, file) == 0 || line_kind(line) != stream_table_num_ids) return 0;
  std::string word;
  int count = 0;
  next_token(line, word);
  next_token_int(line, count);
  return count;
}

table_row_status table_read_row_status(file_handle& file, int& id, int k, double* values) {
  id = 0;
  std::string line;
  if (read_text_line(line, file) == 0) return table_row_status::end_of_file;
  // The id is the first word of the first row_id_width columns, after any leading blanks; a
  // description may follow it within those columns once a blank separates them. The word must
  // be a whole number: "1.5" or "12ab" is no id.
  std::string_view id_text = std::string_view(line).substr(0, row_id_width);
  while (!id_text.empty() && is_blank(id_text.front())) id_text.remove_prefix(1);
  std::size_t id_end = 0;
  while (id_end < id_text.size() && !is_blank(id_text[id_end])) ++id_end;
  if (!parse_int(id_text.substr(0, id_end), id)) {
    id = 0;
    return table_row_status::no_id;
  }
  std::size_t pos = row_value_column;
  for (int i = 0; i < k; ++i) {
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    if (pos >= line.size()) return table_row_status::missing_values;
    const std::size_t start = pos;
    while (pos < line.size() && !is_blank(line[pos])) ++pos;
    double value = 0.0;
    if (!parse_double(std::string_view(line).substr(start, pos - start), value))
      return table_row_status::bad_value;
    values[i] = value;
  }
  return table_row_status::read;
}

int table_read_row(file_handle& file, int& id, int k, double* values) {
  return table_read_row_status(file, id, k, values) == table_row_status::read ? 1 : 0;
}

table_rows_status table_read_rows(file_handle& file, int n, int k, raw_array1d<int>& ids,
                                  raw_array2d<double>& data, int& largest_id, int& row, int& id) {
  ids.reset();
  data.reset();
  largest_id = 0;
  row = 0;
  id = 0;
  if (k < 0) k = 0;
  std::vector<int> row_ids;
  std::vector<double> row_values;
  std::vector<double> values(static_cast<std::size_t>(k) + 1, 0.0);
  for (row = 1; row <= n; ++row) {
    std::fill(values.begin(), values.end(), 0.0);  // what a short row does not hold stays 0.0
    switch (table_read_row_status(file, id, k, values.data())) {
      case table_row_status::read:
      case table_row_status::missing_values:
        break;
      case table_row_status::end_of_file:
        return table_rows_status::end_of_file;
      case table_row_status::no_id:
        return table_rows_status::no_id;
      case table_row_status::bad_value:
        return table_rows_status::bad_value;
    }
    if (id < 1) return table_rows_status::id_below_one;
    row_ids.push_back(id);
    row_values.insert(row_values.end(), values.begin(), values.begin() + k);
    if (id > largest_id) largest_id = id;
  }
  row = n < 0 ? 0 : n;
  if (n < 1) return table_rows_status::read;  // nothing to store

  if (!ids.allocate(n)) {
    raw_report_alloc_failure("Table IDs");
    return table_rows_status::no_memory;
  }
  if (!data.allocate(n, k)) {
    ids.reset();
    raw_report_alloc_failure("Table Data");
    return table_rows_status::no_memory;
  }
  for (int r = 1; r <= n; ++r) {
    const std::size_t first = static_cast<std::size_t>(r - 1) * static_cast<std::size_t>(k);
    ids[r] = row_ids[static_cast<std::size_t>(r - 1)];
    for (int c = 1; c <= k; ++c) data[r][c] = row_values[first + static_cast<std::size_t>(c - 1)];
  }
  return table_rows_status::read;
}

void table_store_row(const raw_array2d<double>& data, int n, int column,
                     const raw_array1d<int>& ids, int largest_id,
                     raw_array1d<double>& values_by_id) {
  if (values_by_id.empty()) return;
  const int top = largest_id < values_by_id.count() ? largest_id : values_by_id.count();
  for (int id = 1; id <= top; ++id) values_by_id[id] = 0.0;
  if (data.empty() || ids.empty() || column < 0 || column > data.col_count()) return;
  int rows = n < ids.count() ? n : ids.count();
  if (rows > data.row_count()) rows = data.row_count();
  for (int r = 1; r <= rows; ++r) {
    const int id = ids[r];
    if (id >= 1 && id <= top) values_by_id[id] = data[r][column];
  }
}

void stream_assign_values(raw_array2d<double>& output, const raw_array1d<double>& values_by_id,
                          const raw_array2d<int>& index_table, int link_count,
                          const raw_array1d<int>& nodes_per_link) {
  if (output.empty() || index_table.empty() || values_by_id.empty() || nodes_per_link.empty())
    return;
  int links = link_count;
  if (links > nodes_per_link.count()) links = nodes_per_link.count();
  if (links > output.row_count()) links = output.row_count();
  if (links > index_table.col_count()) links = index_table.col_count();
  for (int link = 1; link <= links; ++link) {
    int nodes = nodes_per_link[link];
    if (nodes > output.col_count()) nodes = output.col_count();
    if (nodes > index_table.row_count()) nodes = index_table.row_count();
    for (int node = 1; node <= nodes; ++node) {
      const int id = index_table[node][link];
      if (id >= 1 && id <= values_by_id.count()) output[link][node] = values_by_id[id];
    }
  }
}

int read_stream_index_map(const char* file_name, int link_count, int max_nodes,
                          const raw_array1d<int>& nodes_per_link, raw_array2d<int>* index_table,
                          raw_array2d<double>* output, int mode) {
  const char* name = file_name != nullptr ? file_name : "";
  if (!index_map_arguments_fit(name, link_count, max_nodes, nodes_per_link, index_table, output,
                               mode))
    return stream_map_bad_arguments;
  file_handle file;
  if (!file_handle_open(file, name, "r")) return stream_map_open_failed;
  std::string line;
  if (read_text_line(line, file) == 0 ||
      !starts_with(line, index_map_header, sizeof index_map_header - 1)) {
    file_handle_close(file);
    return stream_map_bad_header;
  }
  word_reader words(file);
  std::string word;
  int count = 0;
  if (!words.next(word) || !words.next(word) || !parse_int(word, count) || count != link_count) {
    file_handle_close(file);
    return stream_map_wrong_links;
  }
  for (int link = 1; link <= link_count; ++link) {
    bool ok = words.next(word);
    if (ok && mode == 0) {
      int id = 0;
      ok = parse_int(word, id);
      if (ok)
        for (int node = 1; node <= nodes_per_link[link]; ++node) (*index_table)[node][link] = id;
    } else if (ok) {
      double value = 0.0;
      ok = parse_double(word, value);
      if (ok)
        for (int node = 1; node <= nodes_per_link[link]; ++node) (*output)[link][node] = value;
    }
    if (!ok) {
      file_handle_close(file);
      return stream_map_bad_value;
    }
  }
  file_handle_close(file);
  return 0;
}

void report_stream_index_map_failure(int result, const char* file_name) {
  switch (result) {
    case stream_map_open_failed:
      report_file_error_now(err_stream_map_not_open, nullptr, file_name);
      break;
    case stream_map_bad_header:
      report_file_error_now(err_stream_map_header_wrong, nullptr, file_name);
      break;
    case stream_map_wrong_links:
      report_file_error_now(err_stream_map_size_mismatch, nullptr, file_name);
      break;
    case stream_map_bad_value:
      report_file_error_now(err_stream_map_data_short, nullptr, file_name);
      break;
    default:
      stop_now();
      break;
  }
}

int read_stream_table(const char* file_name, int kind, raw_array2d<double>* out1,
                      raw_array2d<double>* out2, raw_array2d<double>* out3,
                      raw_array2d<double>* out4, int link_count, int max_nodes,
                      const raw_array1d<int>& nodes_per_link) {
  const char* name = file_name != nullptr ? file_name : "";
  const int k = kind >= stream_table_roughness && kind <= stream_table_dispersion
                    ? stream_values_per_row(kind)
                    : 0;
  if (k == 0) {
    stop_with_message("Error: stream mapping table file %s: %d is not a kind of stream table\n",
                      name, kind);
    return 0;
  }
  char label[60] = {};
  stream_table_label(kind, label, sizeof label);
  raw_array2d<double>* outputs[4] = {out1, out2, out3, out4};
  for (int c = 1; c <= 4; ++c) {
    if (!output_fits(outputs[c - 1], link_count, max_nodes)) {
      stop_with_message(
          "Error: stream mapping table file %s: output %d of table %s is smaller than the "
          "channel network (%d links, at most %d nodes per link)\n",
          name, c, label, link_count, max_nodes);
      return 0;
    }
  }

  file_handle file;
  if (!file_handle_open(file, name, "r")) {
    report_file_error_now(err_mapping_table_not_open, nullptr, name);
    return 0;
  }
  std::string map_file;
  const int found = stream_table_find(file, kind, map_file);
  const int n = found != 0 ? stream_table_read_num_ids(file) : 0;
  if (n == 0) {
    report_file_error_now(err_mapping_table_empty, label, nullptr);
    return 0;
  }
  if (n < 0) {
    stop_with_message("Error: stream mapping table file %s: table %s has a negative NUM_IDS (%d)\n",
                      name, label, n);
    return 0;
  }

  // The column-header line, then the rows; a row whose values end early keeps 0.0 for the rest.
  map_table_skip(file);
  raw_array1d<int> ids;
  raw_array2d<double> data;
  int largest_id = 0;
  int row = 0;
  int row_id = 0;
  switch (table_read_rows(file, n, k, ids, data, largest_id, row, row_id)) {
    case table_rows_status::read:
      break;
    case table_rows_status::end_of_file:
      own_message("Error: stream mapping table file %s ends after %d of the %d rows of table %s\n",
                  name, row - 1, n, label);
      break;
    case table_rows_status::no_id:
      own_message(
          "Error: stream mapping table file %s: row %d of table %s has no table id in its "
          "first 6 characters\n",
          name, row, label);
      break;
    case table_rows_status::id_below_one:
      own_message(
          "Error: stream mapping table file %s: row %d of table %s has the table id %d; table "
          "ids begin at 1\n",
          name, row, label, row_id);
      break;
    case table_rows_status::bad_value:
      own_message(
          "Error: stream mapping table file %s: row %d (id %d) of table %s holds a value that is "
          "not a number (values from column 87 on)\n",
          name, row, row_id, label);
      break;
    case table_rows_status::no_memory:
      own_message("Error: stream mapping table file %s: no memory for the %d rows of table %s\n",
                  name, n, label);
      break;
  }
  if (ids.empty()) {
    stop_now();
    return 0;
  }

  if (map_file.empty()) {
    stop_with_message(
        "Error: stream mapping table file %s: the index map line of table %s names no file\n", name,
        label);
    return 0;
  }
  raw_array2d<int> index_table;
  if (!index_table.allocate(max_nodes, link_count)) {
    raw_report_alloc_failure("filedata");
    stop_now();
    return 0;
  }
  const int result = read_stream_index_map(map_file.c_str(), link_count, max_nodes, nodes_per_link,
                                           &index_table, nullptr, 0);
  if (result != 0) {
    report_stream_index_map_failure(result, map_file.c_str());
    return 0;
  }

  // The id of every link must lie in 0..the largest row id: a negative id or one beyond the
  // table has no value at all. An id within the table that has no row of its own reads 0.0, the
  // value table_store_row leaves under it.
  for (int link = 1; link <= link_count; ++link) {
    for (int node = 1; node <= nodes_per_link[link]; ++node) {
      const int id = index_table[node][link];
      if (id >= 0 && id <= largest_id) continue;
      stop_with_message(
          "Error: stream map file %s gives link %d the table id %d, outside the ids 1 to %d of "
          "table %s of the stream mapping table file %s\n",
          map_file.c_str(), link, id, largest_id, label, name);
      return 0;
    }
  }

  raw_array1d<double> values_by_id;
  if (!values_by_id.allocate(largest_id)) {
    raw_report_alloc_failure("values by id");
    stop_now();
    return 0;
  }
  for (int c = 1; c <= k && c <= 4; ++c) {
    if (outputs[c - 1] == nullptr) continue;
    table_store_row(data, n, c, ids, largest_id, values_by_id);
    stream_assign_values(*outputs[c - 1], values_by_id, index_table, link_count, nodes_per_link);
  }
  file_handle_close(file);
  return 1;
}

void stream_table_check_one(file_handle& file, int kind, const char* label, int& present) {
  present = 0;
  if (file.is_open()) {
    std::rewind(file.fp);
    std::string map_file;
    present = stream_table_find(file, kind, map_file);
    if (present != 0) {
      file_handle map;
      if (file_handle_open(map, map_file.c_str(), "r"))
        file_handle_close(map);
      else
        present = 0;
    }
  }
  const char* text = label != nullptr ? label : "";
  std::printf("  %s", text);
  for (std::size_t i = std::strlen(text); i < check_label_width; ++i) std::putchar('.');
  std::printf(present != 0 ? "Y\n" : "N\n");
}

void check_stream_table_file(const char* file_name, int (&present)[6]) {
  for (int& flag : present) flag = 0;
  const char* name = file_name != nullptr ? file_name : "";
  file_handle file;
  if (!file_handle_open(file, name, "r")) {
    report_file_error_now(err_mapping_table_not_open, nullptr, name);
    return;
  }
  // A file that does not begin with its keyword holds no table: each check finds none.
  std::printf("\nChecking stream mapping table file...\n");
  struct check_entry {
    int kind;
    const char* label;
  };
  constexpr check_entry checks[] = {
      {stream_table_roughness, "Roughness"},  {stream_table_nsm_n, "NSM Nitrogen"},
      {stream_table_nsm_p, "NSM Phosphorus"}, {stream_table_nsm_c, "NSM Carbon"},
      {stream_table_nsm_oth, "NSM Other"},    {stream_table_dispersion, "Dispersion"},
  };
  for (const check_entry& check : checks)
    stream_table_check_one(file, check.kind, check.label,
                           present[stream_table_flag_index(check.kind)]);
  file_handle_close(file);
}
