// Contaminant transport table: reads, per contaminant, its name, index map and output file, its
// concentration in precipitation, its water-soil partition coefficient and its eight per-cell
// parameters by id. Called at start-up by the overland contaminant set-up of read_maps.
#include "input/contaminant_table.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/mapping_tables.h"
#include "input/parameter_tables.h"
#include "input/stream_tables.h"

namespace {

constexpr const char* table_label = "CONTAMINANT_TRANSPORT";
// Value columns of a contaminant's rows.
constexpr int contam_value_columns = 8;
// Lines every contaminant takes at the least: its contaminant, PRECIP_CONC, PARTITION and
// NUM_IDS lines.
constexpr long lines_per_contaminant = 4;
// Width to which a contaminant's "Checking" line is padded with dots.
constexpr std::size_t checking_width = 35;

// The number after a keyword line's first word: the second word, whole, as a finite number;
// false when there is none or when the word is not wholly a number ("1.5abc"). Words after it
// are ignored.
bool scan_keyword_value(const std::string& line, double& out) {
  const std::string_view rest(skip_first_word(line.c_str()));
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  std::size_t first = 0;
  while (first < rest.size() && blank(rest[first])) ++first;
  std::size_t last = first;
  while (last < rest.size() && !blank(rest[last])) ++last;
  return parse_double(rest.substr(first, last - first), out);
}

// "%s %d" on a count line of `key`: the count, 0 when the line is no such line or holds no
// number, -1 for a negative count.
long scan_count_line(const std::string& line, int key) {
  if (map_line_id(line.c_str()) != key) return 0;
  const char* p = skip_first_word(line.c_str());
  errno = 0;
  char* end = nullptr;
  const long v = strtol(p, &end, 10);
  if (end == p) return 0;
  return v < 0 ? -1 : v;
}

// Lines left in the file from the handle's position; the position is kept.
long lines_left(file_handle& h) {
  const long here = ftell(h.fp);
  if (here < 0) return -1;
  long lines = 0;
  int last = '\n';
  for (int ch = fgetc(h.fp); ch != EOF; ch = fgetc(h.fp)) {
    if (ch == '\n') ++lines;
    last = ch;
  }
  if (last != '\n') ++lines;
  clearerr(h.fp);
  fseek(h.fp, here, SEEK_SET);
  return lines;
}

// The three double-quoted strings of a contaminant line: the description and output name
// without their quotes, the index-map name with them. False when the line does not hold three
// quoted strings.
bool split_contaminant_line(std::string line, std::string& description, std::string& map_name,
                            std::string& output_name) {
  long quotes = 0;
  for (char ch : line)
    if (ch == '"') ++quotes;
  if (quotes < 6) return false;
  quote_extract(line, description);
  quote_strip(description);
  quote_extract(line, map_name);
  quote_extract(line, output_name);
  quote_strip(output_name);
  return true;
}

}  // namespace

int read_contam_table(model_state& ms, const char* file_name, int table_id,
                      const contam_columns& parameters, guarded_array<double>& precip_conc,
                      guarded_array<double>& partition_coef, int& contam_count,
                      std::vector<std::string>& descriptions,
                      std::vector<std::string>& output_names) {
  file_handle h;
  if (!file_handle_open(h, file_name, "r")) {
    report_file_error_now(err_mapping_table_not_open, nullptr, file_name);
    return 0;
  }
  std::string line;
  if (read_text_line(line, h) == 0 ||
      strncmp(line.c_str(), map_table_magic, strlen(map_table_magic)) != 0)
    return 0;
  rewind(h.fp);

  index_map_list maps;
  std::string header_map_name;
  const int found = map_table_locate(h, table_id, maps, header_map_name);
  printf("\nReading contaminant table...  ");
  if (found == 0) {
    report_error_now(err_contaminant_tables_unreadable);
    return 0;
  }

  // The count line.
  long n = 0;
  if (read_text_line(line, h) != 0) n = scan_count_line(line, map_key_num_contam);
  if (n < 0 || n > INT_MAX) {
    stop_with_message("Error: table %s of mapping table file %s gives a contaminant count of %s\n",
                      table_label, file_name, line.c_str());
    return 0;
  }
  const long room = lines_left(h);
  if (room >= 0 && n > room / lines_per_contaminant) {
    stop_with_message(
        "Error: table %s of mapping table file %s gives %ld contaminants, but the %ld lines "
        "after it hold at most %ld\n",
        table_label, file_name, n, room, room / lines_per_contaminant);
    return 0;
  }
  contam_count = static_cast<int>(n);
  printf("%d contaminants found\n", contam_count);
  if (contam_count == 0) return 1;

  // Room for the contaminants: names, coefficients and a row of every given parameter array.
  const int cells = ms.cell_count;
  descriptions.assign(static_cast<std::size_t>(contam_count) + 1, std::string());
  output_names.assign(static_cast<std::size_t>(contam_count) + 1, std::string());
  std::vector<std::string> indexmapfilenames(static_cast<std::size_t>(contam_count) + 1);
  if (!precip_conc.grow(contam_count) || !partition_coef.grow(contam_count)) {
    stop_with_message("Error: the coefficients of %d contaminants cannot be stored\n",
                      contam_count);
    return 0;
  }
  for (guarded_array2d<double>* p : parameters) {
    if (p == nullptr) continue;
    if (p->add_rows(contam_count, cells) == 0) {
      stop_with_message("Error: the parameters of %d contaminants cannot be stored\n",
                        contam_count);
      return 0;
    }
  }

  bool failed = false;
  for (int i = 1; i <= contam_count; ++i) {
    const std::size_t at = static_cast<std::size_t>(i);
    // a. The contaminant line.
    if (read_text_line(line, h) == 0) {
      stop_with_message("Error: table %s of mapping table file %s ends before contaminant %d\n",
                        table_label, file_name, i);
      return 0;
    }
    std::string description;
    std::string map_name;
    std::string output_name;
    if (!split_contaminant_line(line, description, map_name, output_name)) {
      stop_with_message(
          "Error: the line of contaminant %d in table %s of mapping table file %s does not "
          "hold its description, index map name and output file name in double quotes\n",
          i, table_label, file_name);
      return 0;
    }
    if (description.size() > max_contam_name || map_name.size() > max_contam_name + 2 ||
        output_name.size() > max_contam_name) {
      stop_with_message(
          "Error: a name on the line of contaminant %d in table %s of mapping table file %s is "
          "longer than %d characters\n",
          i, table_label, file_name, max_contam_name);
      return 0;
    }
    descriptions[at] = description;
    output_names[at] = output_name;

    // b. and c. The precipitation concentration and the partition coefficient. A line that is
    // not the PRECIP_CONC line is reported and the concentration keeps what it held (0.0 when
    // grown here); a line other than the PARTITION line leaves the coefficient so, silently.
    // Either way the line is consumed. A keyword line without its number would give the
    // contaminant a value it was never given: it is reported and the read fails once every
    // contaminant has been gone through.
    double value = 0.0;
    read_text_line(line, h);
    if (map_line_id(line.c_str()) != map_key_precip_conc) {
      printf("Error in reading the precip concentration of constituent #%d\n", i);
    } else if (scan_keyword_value(line, value)) {
      precip_conc[i] = value;
    } else {
      printf("Error in reading the precip concentration of constituent #%d\n", i);
      failed = true;
    }
    read_text_line(line, h);
    if (map_line_id(line.c_str()) == map_key_partition) {
      if (scan_keyword_value(line, value)) {
        partition_coef[i] = value;
      } else {
        printf("Error in reading the partition coefficient of constituent #%d\n", i);
        failed = true;
      }
    }

    // d. The contaminant's progress line.
    printf("  Checking %s", description.c_str());
    for (std::size_t k = description.size(); k < checking_width; ++k) printf(".");

    // e. Its index map.
    const index_map_entry* e = index_map_lookup(maps, map_name);
    if (e == nullptr) {
      printf("unable to match index map\n");
      failed = true;
    } else {
      indexmapfilenames[at] = e->file_name;
    }

    // f. Its rows; those of a contaminant without an index map are read past.
    if (read_text_line(line, h) == 0) line.clear();
    const long m = scan_count_line(line, map_key_num_ids);
    if (m < 0) {
      stop_with_message(
          "Error: the NUM_IDS line of contaminant %d in table %s of mapping table "
          "file %s gives a negative count\n",
          i, table_label, file_name);
      return 0;
    }
    if (m == 0) continue;
    char label[64];
    snprintf(label, sizeof label, "%s (contaminant %d)", table_label, i);
    map_table_skip(h);
    raw_array1d<int> ids;
    raw_array2d<double> data;
    int largest_id = 0;
    if (map_table_read_rows(h, file_name, label, m > INT_MAX ? INT_MAX : static_cast<int>(m),
                            contam_value_columns, ids, data, largest_id) == 0)
      return 0;
    if (e == nullptr) continue;

    // h. The index map.
    file_handle index;
    if (!file_handle_open(index, e->file_name.c_str(), "r")) {
      printf("unable to open index map file.\n");
      report_file_error_now(err_index_map_not_open, nullptr, e->file_name.c_str());
      return 0;
    }
    raw_array2d<int> grid;
    const int map_read =
        map_read_category_values(ms, index, e->file_name.c_str(), grid, largest_id);
    file_handle_close(index);
    if (map_read == 0) return 0;
    // i. The value columns into row i of their arrays; an id without a row of its own gives its
    // cells 0.0.
    raw_array1d<double> values_by_id;
    if (!alloc_values_by_id(values_by_id, largest_id)) return 0;
    for (int column = 1; column <= contam_value_columns; ++column) {
      guarded_array2d<double>* p = parameters[static_cast<std::size_t>(column - 1)];
      if (p == nullptr) continue;
      table_store_row(data, static_cast<int>(m), column, ids, largest_id, values_by_id);
      if (map_gather_values(p->row(i), p->row(i) != nullptr ? p->width() : 0, values_by_id, grid,
                            ms.index_map, ms.rows, ms.cols) == 0)
        return 0;
    }
    printf("found and read index map\n");
  }

  if (failed) {
    report_error_now(err_contaminant_tables_unreadable);
    return 0;
  }
  return 1;
}
