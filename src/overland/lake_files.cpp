// Lake and low-spot files: reads the overland lake file and the embankment low-spot file, and
// the two surface-input readers of read_maps that use them: read_dike_mask (the dike map, then
// its low spots) and read_lake_map (the lake map, its lake file and the starting lake volumes).
#include "overland/lake_files.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/input_steps.h"
#include "overland/overland_steps.h"

namespace {

bool is_word_sep(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

// Cuts the first word (up to a blank, tab or newline) off `line` and returns it lower-cased;
// empty for a blank line.
std::string cut_first_word(std::string& line) {
  std::size_t start = 0;
  while (start < line.size() && is_word_sep(line[start])) ++start;
  std::size_t end = start;
  while (end < line.size() && !is_word_sep(line[end])) ++end;
  std::string word = line.substr(start, end - start);
  line.erase(0, end);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

// The header test of both files: the first word of the line, lower-cased, must be a leading
// part of `keyword` (a blank first line passes, as an empty word is a leading part of any).
bool header_matches(const std::string& line, const char* keyword) {
  std::string copy = line;
  const std::string word = cut_first_word(copy);
  return word.size() <= std::strlen(keyword) &&
         std::strncmp(word.c_str(), keyword, word.size()) == 0;
}

// A per-cell int array of cell_count + 1 zeroed elements, kept when it already has that size.
bool ensure_cell_ints(raw_array1d<int>& array, int cell_count, const char* name) {
  if (!array.empty() && array.count() == cell_count) return true;
  alloc_1d_int(array, cell_count, name);
  return !array.empty();
}

}  // namespace

int is_lake_card(std::string& line) {
  return cut_first_word(line) == "lake" ? 0 : 1;
}

int is_spot_card(std::string& line) {
  return cut_first_word(line) == "spot" ? 0 : 1;
}

void read_lake_file(file_handle& h, int expected, raw_array1d<lake_record>& lakes) {
  const char* name = h.path;
  std::string line;
  read_text_line(line, h);
  if (!header_matches(line, "torva_overland_lake_file")) {
    fputs("The overland lake input data file doesn't start with\n", stderr);
    fputs(" TORVA_OVERLAND_LAKE_FILE card.\n", stderr);
    fputs("The file format is invalid.  Program terminated.\n", stderr);
    stop_now();
    return;
  }

  // Lake ids index the records directly: only ids the array has a slot for are taken.
  const int last_id = expected < lakes.count() ? expected : lakes.count();
  int cards = 0;
  int line_number = 1;
  bool any_line = false;
  while (read_text_line(line, h) != 0) {
    ++line_number;
    any_line = true;
    std::string rest = line;
    if (is_lake_card(rest) != 0) continue;
    ++cards;
    int id = 0;
    double elevation = 0.0;
    double volume = 0.0;
    if (!take_int(rest, id) || !take_double(rest, elevation) || !take_double(rest, volume)) {
      fprintf(stderr, "Error: bad LAKE card on line %d of the overland lake input data file %s:\n",
              line_number, name);
      fprintf(stderr, "       %s\n", line.c_str());
      fputs("       A LAKE card holds the lake id, the water-surface elevation and the volume.\n",
            stderr);
      stop_now();
      return;
    }
    if (id < 1 || id > last_id) {
      fprintf(stderr,
              "Error: the LAKE card on line %d of the overland lake input data file %s names "
              "lake %d,\n",
              line_number, name, id);
      fprintf(stderr, "       but the lake map holds lake ids 1 to %d only.\n", last_id);
      stop_now();
      return;
    }
    lake_record& lake = lakes[id];
    lake.surface_elev = elevation;
    lake.card_elev = elevation;
    lake.volume = volume;
    printf("%d   Elev: %.2lf   Volume: %.2lf\n", cards, elevation, volume);
  }

  if (any_line && cards == expected) return;
  if (any_line && cards != 0) {
    fputs("Incorrect number of LAKE cards in the overland lake input data file.\n", stderr);
    fprintf(stderr, "Expected %d LAKE cards, read %d\n", expected, cards);
    fputs("Program terminated.\n", stderr);
    stop_now();
    return;
  }
  fputs("Premature end-of-file in the overland lake input data file.\n", stderr);
  fputs("No LAKE cards encountered before end of file.\n", stderr);
  fputs("Program terminated.\n", stderr);
  stop_now();
}

void read_lowspot_file(file_handle& h, const char* name, int& count,
                       raw_array1d<lowspot_record>& records) {
  if (name == nullptr) name = "";
  count = 0;
  records.reset();
  std::string line;
  read_text_line(line, h);
  if (!header_matches(line, "lowspot")) {
    fprintf(stderr, "The lowspot input file: %s does not start with the LOWSPOT card.\n", name);
    fputs("The file format is invalid.  Program terminated.\n", stderr);
    stop_now();
    return;
  }

  // One pass over the file: the cards are collected, then moved into an array of their number.
  std::vector<lowspot_record> spots;
  int line_number = 1;
  while (read_text_line(line, h) != 0) {
    ++line_number;
    std::string rest = line;
    if (is_spot_card(rest) != 0) continue;
    lowspot_record spot{};
    if (!take_int(rest, spot.row) || !take_int(rest, spot.col) || !take_int(rest, spot.side) ||
        !take_double(rest, spot.fraction) || !take_double(rest, spot.elevation)) {
      fprintf(stderr, "Error: bad SPOT card on line %d of the lowspot input file %s:\n",
              line_number, name);
      fprintf(stderr, "       %s\n", line.c_str());
      fputs("       A SPOT card holds row, col, side, fraction and elevation.\n", stderr);
      stop_now();
      return;
    }
    spots.push_back(spot);
  }

  if (spots.empty()) {
    fputs("Premature end-of-file in the lowspot input file.\n", stderr);
    fputs("No SPOT cards encountered before end of file.\n", stderr);
    fputs("Program terminated.\n", stderr);
    stop_now();
    return;
  }
  if (spots.size() > static_cast<std::size_t>(INT_MAX - 1) ||
      !records.allocate(static_cast<int>(spots.size()))) {
    raw_report_alloc_failure("lowspots");
    stop_now();
    return;
  }
  for (std::size_t k = 0; k < spots.size(); ++k)
    records[static_cast<std::ptrdiff_t>(k) + 1] = spots[k];
  count = static_cast<int>(spots.size());
}

bool check_lowspot_cells(const raw_array1d<lowspot_record>& records, int count, int rows, int cols,
                         const char* name) {
  if (name == nullptr) name = "";
  const int last = count < records.count() ? count : records.count();
  for (int k = 1; k <= last; ++k) {
    const lowspot_record& spot = records[k];
    if (spot.row >= 1 && spot.row <= rows && spot.col >= 1 && spot.col <= cols) continue;
    fprintf(stderr,
            "Error: low spot %d of the lowspot input file %s is at row %d col %d, outside the "
            "grid of %d rows and %d columns.\n",
            k, name, spot.row, spot.col, rows, cols);
    return false;
  }
  return true;
}

void read_dike_mask(model_state& ms) {
  overland_state& ov = ms.overland;
  if (!ov.dike_map_on) return;
  const char* map_name = ms.input.names.dike_map;
  file_handle map;
  if (!file_handle_open(map, map_name, "r")) {
    printf("Can't open input dike mask file named: %s\n", map_name);
    stop_now();
    return;
  }
  alloc_1d_int(ov.dike_mask, ms.cell_count, "dike_mask");
  if (ov.dike_mask.empty()) {
    stop_now();
    return;
  }
  input_reading_line(ms, "reading overland flow dike map from file: %s\n", map_name);
  read_ascii_map(map, map_name, map_store_cell_category, ms.map_north, ms.map_south, ms.map_east,
                 ms.map_west, ms.map_rows, ms.map_cols, ms.index_map, nullptr, nullptr,
                 &ov.dike_mask, ms.rows, ms.cols);
  file_handle_close(map);
  if (run_error.error_fatal != 0 || !ov.lowspot_on) return;

  const char* spot_name = ms.input.names.lowspot_file;
  file_handle spots;
  if (!file_handle_open(spots, spot_name, "r")) {
    printf("Can't open input dike mask file named: %s\n", spot_name);
    stop_now();
    return;
  }
  read_lowspot_file(spots, spot_name, ov.num_lowspots, ov.lowspots);
  file_handle_close(spots);
  if (run_error.error_fatal != 0) return;
  // The connectivity set-up reads the index map at each low spot's row and column.
  if (!check_lowspot_cells(ov.lowspots, ov.num_lowspots, ms.rows, ms.cols, spot_name)) stop_now();
}

void read_lake_map(model_state& ms) {
  overland_state& ov = ms.overland;
  if (!ov.overland_lake_map) return;
  const char* map_name = ms.input.names.overland_lake_map;
  input_reading_line(ms, "reading overland lake map from file: %s\n", map_name);
  if (!ms.input.overland_lake_map_file.is_open()) {
    raise_file_error(err_file_not_open, "overland lake map", map_name);
    return;
  }
  if (!ensure_cell_ints(ov.oland_lake_mask, ms.cell_count, "oland_lake_mask") ||
      !ensure_cell_ints(ov.oland_lake_new, ms.cell_count, "oland_lake_new")) {
    stop_now();
    return;
  }
  read_ascii_map(ms.input.overland_lake_map_file, map_name, map_store_cell_category, ms.map_north,
                 ms.map_south, ms.map_east, ms.map_west, ms.map_rows, ms.map_cols, ms.index_map,
                 nullptr, nullptr, &ov.oland_lake_mask, ms.rows, ms.cols);
  file_handle_close(ms.input.overland_lake_map_file);
  if (run_error.error_fatal != 0) return;

  // The map reader keeps every id within 0..max_map_category.
  int lake_count = 0;
  for (int c = 1; c <= ms.cell_count; ++c) {
    ov.oland_lake_new[c] = ov.oland_lake_mask[c];
    if (ov.oland_lake_mask[c] > lake_count) lake_count = ov.oland_lake_mask[c];
  }
  ov.olake_count = lake_count;
  if (!ov.ov_lakes.allocate(lake_count)) {
    raw_report_alloc_failure("ov_lakes");
    stop_now();
    return;
  }

  const char* lake_file_name = ms.input.names.overland_lake_file;
  if (!ms.input.overland_lake_file.is_open()) {
    raise_file_error(err_file_not_open, "overland lake data", lake_file_name);
    return;
  }
  read_lake_file(ms.input.overland_lake_file, lake_count, ov.ov_lakes);
  file_handle_close(ms.input.overland_lake_file);
  if (run_error.error_fatal != 0) return;

  // The starting volume of each lake is the water between its surface and its cells.
  for (int lake = 1; lake <= lake_count; ++lake) {
    ov.ov_lakes[lake].num_cells = 0;
    ov.ov_lakes[lake].volume = 0.0;
  }
  const double cell_area = ms.gridsize * ms.gridsize;
  for (int c = 1; c <= ms.cell_count; ++c) {
    const int lake = ov.oland_lake_mask[c];
    if (lake <= 0) continue;
    lake_record& record = ov.ov_lakes[lake];
    ++record.num_cells;
    if (ms.cell_elev[c] <= record.surface_elev) {
      record.volume += (record.surface_elev - ms.cell_elev[c]) * cell_area;
      continue;
    }
    printf("There is a lake cell in lake %d that is above the initial lake water surface\n", lake);
    printf("elevation in that lake, which is specified as %f.  This situation is not\n",
           record.surface_elev);
    printf("physically realistic.  Check your lake map.  Program terminated.\n");
    stop_now();
    return;
  }
}
