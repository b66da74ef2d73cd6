// Mapping-table file: keyword matching, the table search through the index-map lines, the count
// and column-header lines, the series index table and the check report. The check runs while
// read_run_parameters copies the cards; the searches serve every table reader of start-up.
#include "input/mapping_tables.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "input/time_series.h"

namespace {

struct keyword_row {
  const char* word;
  int id;
};

// Keywords in the order they are tried; the first whose characters begin the line wins.
constexpr keyword_row keyword_order[] = {
    {"INTERCEPTION", map_table_interception},
    {"RETENTION", map_table_retention},
    {"GREEN_AMPT_INFILTRATION", map_table_green_ampt},
    {"GREEN_AMPT_INITIAL_SOIL_MOISTURE", map_table_green_ampt_moisture},
    {"RICHARDS_EQN_INFILTRAIION_HAVERCAMP", map_table_richards_havercamp},
    {"RICHARDS_EQN_INFILTRATION_BROOKS", map_table_richards_brooks},
    {"EVAPOTRANSPIRATION", map_table_evapotranspiration},
    {"SEDIMENTS", map_table_sediments},
    {"SOIL_EROSION_PROPS", map_table_soil_erosion},
    {"MATERIAL_INDEX", map_table_material_index},
    {"NUM_IDS", map_key_num_ids},
    {"NUM_CONTAM", map_key_num_contam},
    {"NUM_SED", map_key_num_sed},
    {"MULTI_LAYER_SOIL", map_key_multi_layer_soil},
    {"INDEX_MAP", map_key_index_map},
    {"CONTAMINANT_TRANSPORT", map_table_contaminants},
    {"WETLAND_PROPERTIES", map_table_wetlands},
    {"OVERLAND_BOUNDARY", map_table_overland_boundary},
    {"GROUNDWATER_BOUNDARY", map_table_groundwater_boundary},
    {"TIME_SERIES_INDEX", map_table_time_series_index},
    {"WELL_TABLE", map_table_wells},
    {"GROUNDWATER", map_table_groundwater},
    {"AREA_REDUCTION", map_table_area_reduction},
    {"NSM_N", map_table_nsm_n},
    {"NSM_P", map_table_nsm_p},
    {"NSM_C", map_table_nsm_c},
    {"NSM_OTH", map_table_nsm_oth},
    {"DISPERSION", map_table_dispersion},
    {"PRECIP_CONC", map_key_precip_conc},
    {"PARTITION", map_key_partition},
    {"NSM_SOIL_C", map_table_nsm_soil_c},
    {"NSM_SOIL_N", map_table_nsm_soil_n},
    {"NSM_SOIL_P", map_table_nsm_soil_p},
    {"NSM_GW_N", map_table_nsm_gw_n},
    {"NSM_GW_P", map_table_nsm_gw_p},
    {"NSM_GW_OTH", map_table_nsm_gw_oth},
    {"NSM_SOIL_KM", map_table_nsm_soil_km},
    {"NSM_SOIL_KOC", map_table_nsm_soil_koc},
};

constexpr const char* roughness_word = "ROUGHNESS";

// Value columns per row, by table id - 1.
constexpr int value_counts[map_table_last] = {1, 2, 1, 7, 1, 9, 11, 4, 0, 5, 8, 7, 0, 2, 1, 3,
                                              2, 1, 1, 4, 3, 2, 3,  1, 2, 5, 6, 4, 4, 2, 6, 6};

// The tables of the check report, in its order (the index into table_present).
struct checked_table {
  int id;
  const char* display_name;
};
constexpr checked_table checked_tables[map_checked_tables] = {
    {1, "Roughness"},
    {2, "Interception"},
    {3, "Retention"},
    {4, "G&A Infiltration"},
    {5, "G&A Soil Moisture"},
    {6, "Richards Havercamp"},
    {7, "Richards Brooks"},
    {8, "Evapotranspiration"},
    {9, "Sediments"},
    {10, "Sediment Erosion Properties"},
    {11, "Contaminants"},
    {12, "Wetlands"},
    {14, "Overland Boundary"},
    {16, "Groundwater Wells"},
    {17, "Groundwater"},
    {18, "Groundwater Boundary"},
    {19, "Area Reduction"},
    {20, "NSM Nitrogen"},
    {21, "NSM Phosphorus"},
    {23, "NSM Other"},
    {22, "NSM Carbon"},
    {24, "NSM Dispersion"},
    {25, "NSM Soil Carbon"},
    {26, "NSM Soil Nitrogen"},
    {27, "NSM Soil Phosphorus"},
    {28, "NSM Groundwater Nitrogen"},
    {29, "NSM Groundwater Phosphorus"},
    {30, "NSM Groundwater Other"},
    {31, "NSM Soil Km"},
    {32, "NSM Soil Koc"},
};

// Width to which the report pads the display names with dots.
constexpr std::size_t report_width = 35;
// Longest part of an input line that a message quotes.
constexpr int quoted_line_chars = 80;

bool starts_with(const char* line, const char* word) {
  return strncmp(line, word, strlen(word)) == 0;
}

// The mapping-table file `name` cannot be opened, reported at once.
void report_cannot_open(const char* name) {
  report_file_error_now(err_mapping_table_not_open, nullptr, name);
}

bool is_c_space(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// "%d" on s: white space, an optional sign and at least one digit; a value beyond an int is held
// at its limit. False when nothing converts.
bool scan_int(const char* s, int& out) {
  while (is_c_space(*s)) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  if (!std::isdigit(static_cast<unsigned char>(*s))) return false;
  long long magnitude = 0;
  const long long limit = static_cast<long long>(INT_MAX) + 1;
  for (; std::isdigit(static_cast<unsigned char>(*s)); ++s)
    if (magnitude <= limit) magnitude = magnitude * 10 + (*s - '0');
  if (negative)
    out = magnitude >= limit ? INT_MIN : static_cast<int>(-magnitude);
  else
    out = magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
  return true;
}

// "%s %d" on a count line: the number after the line's first word; false when there is none.
bool scan_count(const std::string& line, int& out) {
  const char* p = line.c_str();
  while (is_c_space(*p)) ++p;
  if (*p == '\0') return false;
  while (*p != '\0' && !is_c_space(*p)) ++p;
  return scan_int(p, out);
}

// Reads one count line whose keyword id is `key`; see map_table_read_num_ids.
int read_count_line(file_handle& h, int key) {
  std::string line;
  if (read_text_line(line, h) == 0) return 0;
  if (map_line_id(line.c_str()) != key) return 0;
  int n = 0;
  if (!scan_count(line, n)) return 0;
  if (n < 0) {
    echo_message("Error: the count line \"%.*s\" of mapping table file %s gives a negative count\n",
                 quoted_line_chars, line.c_str(), h.path);
    return 0;
  }
  return n;
}

// Splits an index-map line into its file token and its map name.
index_map_entry parse_index_map_line(const std::string& line) {
  index_map_entry e;
  std::string rest = skip_first_word(line.c_str());
  next_token(rest, e.file_name);
  e.map_name = rest;
  return e;
}

// Ids that a search can look for: the parameter tables and the layered-soil table.
bool is_table_id(int id) {
  return (id >= 1 && id <= map_table_last) || id == map_key_multi_layer_soil;
}

// Reads the first line; true when it is a mapping-table file's.
bool read_magic_line(file_handle& h) {
  std::string line;
  return read_text_line(line, h) != 0 && starts_with(line.c_str(), map_table_magic);
}

}  // namespace

int map_table_value_count(int id) {
  return id >= 1 && id <= map_table_last ? value_counts[id - 1] : 0;
}

int map_table_id(const char* line) {
  if (line == nullptr) return 0;
  for (const keyword_row& k : keyword_order)
    if (starts_with(line, k.word)) return k.id;
  return 0;
}

int map_line_id(const char* line) {
  if (line == nullptr) return 0;
  if (starts_with(line, roughness_word)) return map_table_roughness;
  return map_table_id(line);
}

const char* map_table_keyword(int id) {
  if (id == map_table_roughness) return roughness_word;
  for (const keyword_row& k : keyword_order)
    if (k.id == id) return k.word;
  return nullptr;
}

void map_table_name(int id, char* buffer, std::size_t size) {
  const char* word = map_table_keyword(id);
  if (word != nullptr && buffer != nullptr) copy_text(buffer, size, word);
}

const index_map_entry* index_map_lookup(const index_map_list& maps, const std::string& map_name) {
  for (auto it = maps.rbegin(); it != maps.rend(); ++it)
    if (it->map_name == map_name) return &*it;
  return nullptr;
}

int map_table_locate(file_handle& h, int id, index_map_list& maps, std::string& header_map_name) {
  maps.clear();
  header_map_name.clear();
  if (h.fp == nullptr || !is_table_id(id)) return 0;
  if (!read_magic_line(h)) return 0;
  std::string line;
  if (read_text_line(line, h) == 0) return 0;
  // The index-map lines directly after the first line; a later INDEX_MAP line is ordinary.
  while (map_line_id(line.c_str()) == map_key_index_map) {
    maps.push_back(parse_index_map_line(line));
    if (read_text_line(line, h) == 0) return 0;
  }
  while (map_line_id(line.c_str()) != id) {
    if (read_text_line(line, h) == 0) return 0;
  }
  header_map_name = skip_first_word(line.c_str());
  return 1;
}

int map_table_find(file_handle& h, int id, std::string& index_file) {
  index_file.clear();
  index_map_list maps;
  std::string map_name;
  if (map_table_locate(h, id, maps, map_name) == 0) return 0;
  // These two tables carry no map name that is looked up.
  if (id == map_table_contaminants || id == map_table_time_series_index) return 1;
  const index_map_entry* e = index_map_lookup(maps, map_name);
  if (e == nullptr) return 0;
  index_file = e->file_name;
  return 1;
}

int map_table_find_sed(file_handle& h) {
  if (h.fp == nullptr || !read_magic_line(h)) return 0;
  std::string line;
  while (read_text_line(line, h) != 0)
    if (map_line_id(line.c_str()) == map_table_sediments) return 1;
  return 0;
}

int map_table_read_num_ids(file_handle& h) {
  return read_count_line(h, map_key_num_ids);
}

int map_table_read_num_sed(file_handle& h) {
  return read_count_line(h, map_key_num_sed);
}

int map_table_read_count(file_handle& h) {
  return read_count_line(h, map_key_num_contam);
}

int map_table_skip(file_handle& h) {
  std::string line;
  do {
    if (read_text_line(line, h) == 0) return 1;
  } while (map_line_id(line.c_str()) != 0);
  return 0;
}

void quote_extract(std::string& line, std::string& out) {
  out = "\"";
  const std::size_t first = line.find('"');
  if (first == std::string::npos) {
    line.clear();
    return;
  }
  const std::size_t second = line.find('"', first + 1);
  if (second == std::string::npos) {
    out.append(line, first + 1, std::string::npos);
    line.clear();
    return;
  }
  out.append(line, first + 1, second - first);  // the text and its closing quote
  const std::size_t third = line.find('"', second + 1);
  if (third == std::string::npos)
    line.clear();
  else
    line.erase(0, third);
}

void quote_strip(std::string& text) {
  std::erase(text, '"');
}

void quote_strip(char* text) {
  if (text == nullptr) return;
  char* out = text;
  for (const char* p = text; *p != '\0'; ++p)
    if (*p != '"') *out++ = *p;
  *out = '\0';
}

int map_table_link_series(const char* file_name) {
  ts_index_loaded = 1;
  file_handle h;
  if (!file_handle_open(h, file_name, "r")) {
    report_cannot_open(file_name);
    return 0;
  }
  std::string unused;
  if (map_table_find(h, map_table_time_series_index, unused) == 0) return 1;
  const int n = map_table_read_num_ids(h);
  if (n == 0) return 1;
  map_table_skip(h);

  const char* table = map_table_keyword(map_table_time_series_index);
  std::string line;
  for (int row = 1; row <= n; ++row) {
    if (read_text_line(line, h) == 0) {
      stop_with_message("Error: table %s of mapping table file %s ends after %d of its %d rows\n",
                        table, file_name, row - 1, n);
      return 0;
    }
    // The id stands in the first six characters, the series name from the seventh on.
    const std::string id_field = line.substr(0, 6);
    int id = 0;
    if (!scan_int(id_field.c_str(), id)) {
      stop_with_message(
          "Error: row %d of table %s in mapping table file %s has no id in its first six "
          "characters\n",
          row, table, file_name);
      return 0;
    }
    std::string rest = line.size() > 6 ? line.substr(6) : std::string();
    std::string name;
    if (next_token(rest, name) == 0) {
      stop_with_message(
          "Error: row %d (id %d) of table %s in mapping table file %s names no series\n", row, id,
          table, file_name);
      return 0;
    }
    printf("Adding table to list: %s... ", name.c_str());
    time_series* series = ts_find(name.c_str());
    ts_index_add(id, series);
    if (series != nullptr)
      printf("Success!\n");
    else
      printf("Failure, table not found.\n");
  }
  return 1;
}

int find_richards_map(const char* file_name, int form, char* buffer, std::size_t size) {
  int id = 0;
  if (form == 1) id = map_table_richards_brooks;
  if (form == 2) id = map_table_richards_havercamp;
  if (id == 0) return 0;
  file_handle h;
  if (!file_handle_open(h, file_name, "r")) return 0;
  std::string index_file;
  if (map_table_find(h, id, index_file) == 0) return 0;
  if (buffer == nullptr || index_file.size() >= size) {
    stop_with_message(
        "Error: the index map file name of table %s in mapping table file %s is longer than %zu "
        "characters\n",
        map_table_keyword(id), file_name, size > 0 ? size - 1 : 0);
    return 0;
  }
  copy_text(buffer, size, index_file.c_str());
  return 1;
}

void map_table_present(int& flag, int id, const char* file_name, const char* display_name) {
  flag = 0;
  file_handle h;
  if (file_handle_open(h, file_name, "r")) {
    std::string index_file;
    flag = map_table_find(h, id, index_file);
    if (flag != 0 && (id == map_table_contaminants || id == map_table_sediments)) {
      // The table counts only with a positive count on the line after its header.
      std::string line;
      if (read_text_line(line, h) != 0) {
        const char* word = id == map_table_contaminants ? "NUM_CONTAM" : "NUM_SED";
        std::string rest = line;
        std::string token;
        next_token(rest, token);
        if (starts_with(token.c_str(), word)) {
          int n = 0;
          flag = scan_count(line, n) && n > 0 ? 1 : 0;
        }
      }
    } else if (flag != 0) {
      file_handle index;
      flag = file_handle_open(index, index_file.c_str(), "r") ? 1 : 0;
    }
  }
  const char* name = display_name != nullptr ? display_name : "";
  std::string line = "  ";
  line += name;
  const std::size_t length = strlen(name);
  if (length < report_width) line.append(report_width - length, '.');
  line += flag != 0 ? "Y\n" : "N\n";
  fputs(line.c_str(), stdout);
}

void check_map_tables(const char* file_name, int (&table_present)[map_checked_tables]) {
  {
    file_handle h;
    if (!file_handle_open(h, file_name, "r")) {
      report_cannot_open(file_name);
      return;
    }
  }
  printf("\nChecking 2D grid mapping tables...\n");
  for (int i = 0; i < map_checked_tables; ++i)
    map_table_present(table_present[i], checked_tables[i].id, file_name,
                      checked_tables[i].display_name);
}
