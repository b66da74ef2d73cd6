// Mapping-table file: the file of parameter tables keyed by small integer ids, with the index
// maps that give every cell its id. Finds tables by keyword, reads their count and column-header
// lines, ties TIME_SERIES_INDEX ids to named series, and prints the check report with which
// read_run_parameters records at start-up the tables the file holds.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct file_handle;

// map_table_code: ids of the parameter tables of the mapping-table file.
inline constexpr int map_table_roughness = 1;
inline constexpr int map_table_interception = 2;
inline constexpr int map_table_retention = 3;
inline constexpr int map_table_green_ampt = 4;
inline constexpr int map_table_green_ampt_moisture = 5;
inline constexpr int map_table_richards_havercamp = 6;
inline constexpr int map_table_richards_brooks = 7;
inline constexpr int map_table_evapotranspiration = 8;
inline constexpr int map_table_sediments = 9;
inline constexpr int map_table_soil_erosion = 10;
inline constexpr int map_table_contaminants = 11;
inline constexpr int map_table_wetlands = 12;
inline constexpr int map_table_material_index = 13;
inline constexpr int map_table_overland_boundary = 14;
inline constexpr int map_table_time_series_index = 15;
inline constexpr int map_table_wells = 16;
inline constexpr int map_table_groundwater = 17;
inline constexpr int map_table_groundwater_boundary = 18;
inline constexpr int map_table_area_reduction = 19;
inline constexpr int map_table_nsm_n = 20;
inline constexpr int map_table_nsm_p = 21;
inline constexpr int map_table_nsm_c = 22;
inline constexpr int map_table_nsm_oth = 23;
inline constexpr int map_table_dispersion = 24;
inline constexpr int map_table_nsm_soil_c = 25;
inline constexpr int map_table_nsm_soil_n = 26;
inline constexpr int map_table_nsm_soil_p = 27;
inline constexpr int map_table_nsm_gw_n = 28;
inline constexpr int map_table_nsm_gw_p = 29;
inline constexpr int map_table_nsm_gw_oth = 30;
inline constexpr int map_table_nsm_soil_km = 31;
inline constexpr int map_table_nsm_soil_koc = 32;
inline constexpr int map_table_last = 32;  // highest parameter-table id

// Keywords of the file's structural lines (0: the line begins with no keyword).
inline constexpr int map_key_num_ids = 137;
inline constexpr int map_key_index_map = 138;
inline constexpr int map_key_num_contam = 139;
inline constexpr int map_key_num_sed = 140;
inline constexpr int map_key_multi_layer_soil = 201;  // the layered-soil table, found like a table
inline constexpr int map_key_precip_conc = 50000;
inline constexpr int map_key_partition = 60000;

// Number of tables of the check report: the size of input_state::table_present.
inline constexpr int map_checked_tables = 30;

// The first characters of every mapping-table file.
inline constexpr const char* map_table_magic = "TORVA_INDEX_MAP_TABLES";

// Number of value columns of a row of table `id` (1..32); 0 for any other id.
int map_table_value_count(int id);

// Id of the keyword that begins `line` (each keyword compared over its own length, in a fixed
// order that lets GROUNDWATER_BOUNDARY win over GROUNDWATER); 0 when none. ROUGHNESS is not
// among its keywords: see map_line_id.
int map_table_id(const char* line);
// The id of a line as every reader takes it: 1 when the line begins with "ROUGHNESS", else
// map_table_id.
int map_line_id(const char* line);

// The keyword of `id` (1..32, 137..140, 201, 50000, 60000), or null for an id without one.
const char* map_table_keyword(int id);
// Writes the keyword of `id` into buffer (size bytes, cut safely); an id without a keyword
// leaves the buffer unchanged.
void map_table_name(int id, char* buffer, std::size_t size);

// One index-map line: the map's name (the rest of the line after the file token, byte for
// byte) and its file name. Names are held whole, however long.
struct index_map_entry {
  std::string map_name;
  std::string file_name;
};
// The index-map lines of a file in file order; lookups go from the last line to the first.
using index_map_list = std::vector<index_map_entry>;

// The entry of the last index-map line whose map name equals `map_name` byte for byte, or null.
const index_map_entry* index_map_lookup(const index_map_list& maps, const std::string& map_name);

// The search that every table reader starts with, from the file's start: checks the first line,
// collects the index-map lines that follow it directly into `maps`, then reads up to the first
// header line of table `id` (1..32 or 201). Returns 1 when the header was found: the handle is
// just after it and `header_map_name` holds the header's text from its second word on. Returns
// 0 (nothing printed) for another first line, a file that ends first, a closed handle or an id
// that is no table.
int map_table_locate(file_handle& h, int id, index_map_list& maps, std::string& header_map_name);

// map_table_locate followed by the lookup of the header's map name among the index-map lines.
// Returns 1 when the table was found: for tables other than 11 and 15 `index_file` receives the
// file name of the index map (empty otherwise). A header whose map name matches no index-map
// line gives 0. The handle is left just after the header line.
int map_table_find(file_handle& h, int id, std::string& index_file);
// 1 when the file (read from its start) holds a SEDIMENTS header, which is found without a map
// name lookup; the handle is left after it. 0 otherwise.
int map_table_find_sed(file_handle& h);

// Count lines: each reads one line and returns its number when the line is a NUM_IDS,
// NUM_SED or NUM_CONTAM line respectively ("%s %d"), else 0; the line is consumed either way.
// A negative count prints a line naming the file and gives 0.
int map_table_read_num_ids(file_handle& h);
int map_table_read_num_sed(file_handle& h);
int map_table_read_count(file_handle& h);

// Consumes the column-header line of a table: the first line that begins with no keyword,
// passing over the keyword lines before it. Returns 1 when the file ended first, else 0.
int map_table_skip(file_handle& h);

// Moves the first double-quoted string of `line`, both quotes included, into `out` (a string
// without its closing quote runs to the end of the line) and cuts `line` down to its text from
// its third double quote on (empty when there is none). A line without a quote gives an empty
// line and an `out` of one double quote.
void quote_extract(std::string& line, std::string& out);
// Removes every double-quote character in place.
void quote_strip(std::string& text);
void quote_strip(char* text);

// Reads the TIME_SERIES_INDEX table of the mapping-table file `file_name` into the run's series
// index list (ts_index_add), each row's series looked up by name with ts_find; sets
// ts_index_loaded first. A row whose series is not found is kept with a null series and only
// reported. Returns 1 when done (also without such a table), 0 after a reported fault: the file
// cannot be opened (err_mapping_table_not_open) or a row is missing, has no id or names no series
// (own message, code 4000). Faults are reported at once through error_report.
int map_table_link_series(const char* file_name);

// Writes the index-map file name of the Richards table of `form` (1 Brooks-Corey: table 7,
// 2 Havercamp: table 6) into buffer. Returns 1 when written; 0, with the buffer unchanged, for
// another form, a file that does not open or a missing table. A name that does not fit in
// `size` is reported (own message naming the file and the table, code 4000) and gives 0.
int find_richards_map(const char* file_name, int form, char* buffer, std::size_t size);

// The start-up check of the mapping-table file: prints the report, one line per table, and sets
// table_present[0..29] in the report's order. A file that cannot be opened is reported at once
// as err_mapping_table_not_open and leaves the flags as they are.
void check_map_tables(const char* file_name, int (&table_present)[map_checked_tables]);
// Checks one table (found, with an index map that opens; for 9 and 11 a positive count) and
// prints its report line: two blanks, the display name padded with dots to 35 characters, and
// "Y" or "N".
void map_table_present(int& flag, int id, const char* file_name, const char* display_name);
