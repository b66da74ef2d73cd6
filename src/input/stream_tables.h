// Stream mapping tables: parameters of the channel network given per link and node through the
// stream mapping-table file (ST_MAPPING_TABLE) and its stream index maps. The start-up check is
// called while the run parameters are copied; the table readers by the nutrient and channel set-up.
#pragma once

#include <cstddef>
#include <string>

#include "framework/core/raw_arrays.h"

struct file_handle;

// Kind of a stream table (the keyword that opens it) and of the other keyword lines of the file.
enum stream_table_code : int {
  stream_table_none = 0,        // a line that opens no table
  stream_table_roughness = 1,   // ROUGHNESS: 1 value per row
  stream_table_nsm_n = 2,       // NSM_N: 4 values per row
  stream_table_nsm_p = 3,       // NSM_P: 3 values per row
  stream_table_nsm_c = 4,       // NSM_C: 2 values per row
  stream_table_nsm_oth = 5,     // NSM_OTH: 3 values per row
  stream_table_dispersion = 6,  // DISPERSION: 1 value per row
  stream_table_num_ids = 37,    // NUM_IDS: the row count of a table
  stream_table_index_map = 38,  // ST_INDEX_MAP: an index map's file and name
};

// Results of read_stream_index_map other than 0. The first four are reported by the caller with
// the stream-map codes err_stream_map_not_open to err_stream_map_data_short
// (report_stream_index_map_failure); the last has printed its own message.
inline constexpr int stream_map_open_failed = -1;    // the file does not open
inline constexpr int stream_map_bad_header = -2;     // line 1 does not begin with STREAM_MAP
inline constexpr int stream_map_wrong_links = -3;    // the link count differs from the network's
inline constexpr int stream_map_bad_value = -4;      // a link's value is missing or not a number
inline constexpr int stream_map_bad_arguments = -5;  // the network or arrays do not fit together

// Kind of the keyword that begins `line`, tested in the order NSM_N, NSM_P, NSM_OTH, NSM_C,
// NUM_IDS, ST_INDEX_MAP, DISPERSION, each over its own prefix length; 0 when none. ROUGHNESS is
// not among them: readers test a line for ROUGHNESS first (stream_line_is_roughness).
int stream_table_kind(const std::string& line);
// True when `line` begins with ROUGHNESS (9 characters).
bool stream_line_is_roughness(const std::string& line);
// Values per row of a table of `kind` (0 for kinds that are no table).
int stream_values_per_row(int kind);
// Position of a table kind's flag in input_state::stream_table_present (roughness, nitrogen,
// phosphorus, other, carbon, dispersion), or -1 for a kind that has none.
int stream_table_flag_index(int kind);
// Writes the label of `kind` ("NSM_N (Stream)", ...) into `buffer` (usually error_file_kind),
// cut to `size`; a kind without a label writes nothing.
void stream_table_label(int kind, char* buffer, std::size_t size);

// Searches the open table file from its start for the table of `kind` and the index map it
// names. Returns 1 with the index map's file name in `map_file` and the handle just after the
// table's header line; 0 when the file does not begin with "TORVA_STREAM_INDEX_MAP_TABLES", holds
// no such table, or no index map line (directly after line 1) has the table's map name. Of two
// index map lines with one name the later wins. `map_file` is cleared first.
int stream_table_find(file_handle& file, int kind, std::string& map_file);
// Reads the next line: the row count of a NUM_IDS line, else 0 (the line is consumed). A count
// that does not read gives 0; a negative count is returned as it stands.
int stream_table_read_num_ids(file_handle& file);

// Outcome of reading one row of a mapping table.
enum class table_row_status {
  read,            // id and every value read
  missing_values,  // id read; the line ends before the k-th value (the rest are left alone)
  end_of_file,     // no line left
  no_id,           // no number in the first 6 characters
  bad_value,       // a word from column 87 on is not a finite number
};

// Reads one row of a mapping table (stream or overland: the same fixed columns): the id with
// "%d" from the first 6 characters and `k` values with "%lf" from column 87 on, one per word
// (words separated by blanks and tabs), into values[0..k-1]. A line that ends first leaves the
// values it does not hold as they were; a word that is not a finite number stops the row there.
table_row_status table_read_row_status(file_handle& file, int& id, int k, double* values);
// The same as 1 (read) or 0 (the id or a value missing or unreadable).
int table_read_row(file_handle& file, int& id, int k, double* values);

// How the rows of a table were gathered by table_read_rows.
enum class table_rows_status {
  read,          // every row read
  end_of_file,   // the file ends before row `row`
  no_id,         // row `row` has no id in its first 6 characters
  id_below_one,  // row `row` has the id `id`, below 1
  bad_value,     // row `row` (id `id`) holds a word from column 87 on that is not a number
  no_memory,     // the rows cannot be stored; the allocation message has been printed
};

// Reads the n rows (n >= 1) of a table of k values per row, gathering them as they are read, and
// only then stores them in ids[1..n] ("Table IDs") and data[1..n][1..k] ("Table Data"): a count
// far beyond the rows present costs no memory before the table is found short. Values missing
// at the end of a row are 0.0. `largest_id` receives the largest row id. On any other outcome
// than read, `row` and `id` name the row where reading stopped and ids and data are left empty;
// nothing but the allocation message is printed, the caller reports the fault.
table_rows_status table_read_rows(file_handle& file, int n, int k, raw_array1d<int>& ids,
                                  raw_array2d<double>& data, int& largest_id, int& row, int& id);

// Values by id of one column: sets values_by_id[1..largest_id] to 0.0, then stores
// data[r][column] of rows r = 1..n under ids[r] (a later row with the same id wins). Rows whose
// id lies outside 1..largest_id, or outside values_by_id, are passed over: the readers refuse
// them before. Table data holds row r's values in columns 1..k.
void table_store_row(const raw_array2d<double>& data, int n, int column,
                     const raw_array1d<int>& ids, int largest_id,
                     raw_array1d<double>& values_by_id);

// Writes the value of each link's id into output[link][node] for nodes 1..nodes_per_link[link]
// of links 1..link_count; nodes whose id is 0 (or has no value) keep what they hold. The index
// table is [node][link].
void stream_assign_values(raw_array2d<double>& output, const raw_array1d<double>& values_by_id,
                          const raw_array2d<int>& index_table, int link_count,
                          const raw_array1d<int>& nodes_per_link);

// Reads a stream index map for a network of `link_count` links with at most `max_nodes` nodes
// (nodes_per_link[1..link_count]). Mode 0 writes each link's table id into index_table
// [node][link] (at least max_nodes x link_count) for every node of the link; mode 2 writes each
// link's value into output[link][node] (at least link_count x max_nodes). Returns 0, or one of
// the stream_map_ results above; only stream_map_bad_arguments prints a message.
int read_stream_index_map(const char* file_name, int link_count, int max_nodes,
                          const raw_array1d<int>& nodes_per_link, raw_array2d<int>* index_table,
                          raw_array2d<double>* output, int mode);
// Reports a failed read_stream_index_map of `file_name`: results -1 to -4 with
// err_stream_map_not_open, err_stream_map_header_wrong, err_stream_map_size_mismatch and
// err_stream_map_data_short (the file named), -5 with code 4000; reported at once, so the run
// stops.
void report_stream_index_map_failure(int result, const char* file_name);

// Reads the table of `kind` from the stream mapping-table file and its index map into the
// given outputs (output c takes value column c; null where not wanted), each [link][node] of
// at least link_count x max_nodes. Links whose id is 0 keep their values; a link whose id has no
// row of its own takes 0.0; a row whose values end early gives 0.0 for the values it lacks.
// Returns 1, or 0 after the failure was reported (the file not open, the table missing, the
// stream-map codes, or 4000 after a message of its own: a row without its id or with an id below 1,
// a value that is not a number, the file ending before the last row, a link id that is negative or
// beyond the largest row id).
int read_stream_table(const char* file_name, int kind, raw_array2d<double>* out1,
                      raw_array2d<double>* out2, raw_array2d<double>* out3,
                      raw_array2d<double>* out4, int link_count, int max_nodes,
                      const raw_array1d<int>& nodes_per_link);

// One line of the start-up check: `present` becomes 1 when the open table file holds a table of
// `kind` whose index map opens, else 0; prints "  " + label, dots up to 35 characters, Y or N.
void stream_table_check_one(file_handle& file, int kind, const char* label, int& present);
// Start-up check of the stream mapping-table file: fills the six present flags (roughness,
// nitrogen, phosphorus, other, carbon, dispersion) and prints the check report. A file that
// does not open is err_mapping_table_not_open, reported at once. A file that does not begin with
// "TORVA_STREAM_INDEX_MAP_TABLES" holds no table: every line of the report says N and the run
// goes on.
void check_stream_table_file(const char* file_name, int (&present)[6]);
