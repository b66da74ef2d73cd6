// Parameter tables and index maps: turns a table of the mapping-table file and its index map
// into per-cell parameter arrays. read_map_table serves the grid-input readers of read_maps and
// the nutrient set-up; its row, index-map and gathering operations serve the readers of the
// tables with a layout of their own and the stream tables.
#pragma once

#include <array>

#include "framework/core/raw_arrays.h"

struct file_handle;
struct model_state;

// Per-cell destinations of value columns 1..7 of a table; a null entry leaves its column out.
using table_columns = std::array<raw_array1d<double>*, 7>;

// A check of one row of a table before its values reach the cells: the mapping-table file's
// name, the table's keyword, the row's id, its values[1..k] and the destinations the caller
// gave (a column without one is not used by the run). False after it has reported the fault.
using table_row_check = bool (*)(const char* file_name, const char* keyword, int id,
                                 const double* values, int k, const table_columns& used);

// Reads table `table_id` (1..32) of the run's mapping-table file (input_state::names
// .mapping_table) and its index map, and writes value column c of each watershed cell's id into
// *outputs[c - 1] (element = cell number) for every column the table has and the caller gives.
// With precip_count >= 1 and precip_values given, a PRECIP_CONC line after the count line is
// read into precip_values[1..precip_count] (left alone when the table has none).
// The index map's header goes to map_north..map_cols of the model state. Every watershed cell
// must carry an id of 1 or more; an id up to the table's largest that has no row of its own gives
// its cells 0.0 in every column.
// Returns 1 when the table and its index map were read; a fault in the index map's contents
// (the index-map codes: an early end, an id beyond the table, rows or columns wrong; an
// unreadable header, an id that is no number or is negative) has been
// reported and still gives 1, with the values read so far assigned. Returns 0 after any other
// reported fault: err_mapping_table_not_open, err_index_map_not_open, err_mapping_table_empty
// (table missing or empty), or code 4000 after a message of its own (rows missing, without an id or
// with an id below 1; a value of a row or of the PRECIP_CONC line that is not a number; a watershed
// cell of id 0; a destination too small). A row or PRECIP_CONC line whose values end early gives
// 0.0 for the values it lacks and reading goes on. Every fault is reported through error_report
// at once: callers test run_error.error_fatal.
// With `check` given, every row is shown to it before any value reaches a cell; a false answer
// (after the check has reported the row's fault) gives 0.
int read_map_table(model_state& ms, int table_id, const table_columns& outputs,
                   int precip_count = 0, double* precip_values = nullptr,
                   table_row_check check = nullptr);

// Reads the n rows of a table with table_read_rows (stream_tables.h, which also holds the
// table_read_row and table_store_row that the table readers share) into ids[1..n] ("Table IDs")
// and data[1..n][1..k] ("Table Data"), allocated once every row is read. Every row must be there
// with an id of 1 or more in its first six characters; values missing at the end of a row are
// 0.0, a value that is not a number is a fault. `largest_id` receives the largest row id. A
// fault prints a message naming `file_name`, `table_label` and the row, is reported as code 4000
// and gives 0; else 1.
int map_table_read_rows(file_handle& h, const char* file_name, const char* table_label, int n,
                        int k, raw_array1d<int>& ids, raw_array2d<double>& data, int& largest_id);

// Allocates values_by_id[0..largest_id] ("Values by ID"), zeroed. False after the allocation
// message and a code 4000 report.
bool alloc_values_by_id(raw_array1d<double>& values_by_id, int largest_id);

// Reads the open index map `index_file` (named `index_file_name`): its six-line header into
// map_north..map_cols of the model state, checked against the project's rows and columns
// (err_map_rows_and_cols_wrong, err_map_rows_wrong, err_map_cols_wrong), then one id per grid
// position into index_grid, which is allocated here to the project's rows and columns ("Index File
// Data") and zeroed. Ids at watershed cells must lie in 0..largest_id (above:
// err_index_id_beyond_table with the row and column; negative: own message); ids elsewhere are read
// and ignored. Prints "In map %s category %d has %d values\n" for every id 1..largest_id that
// watershed cells carry, to the console and the summary file. An early end of the map is
// err_unexpected_end_of_file. Returns 1 when read whole; 0 after a fault, reported at once (the ids
// read so far stay in the grid). With keep_outside the ids outside the watershed are checked and
// kept like the others (a map whose every non-zero id must lie in the watershed, the well map).
int map_read_category_values(model_state& ms, file_handle& index_file, const char* index_file_name,
                             raw_array2d<int>& index_grid, int largest_id,
                             bool keep_outside = false);

// Writes, for every watershed cell (index_map non-zero) whose grid id lies in 1..the highest
// index of values_by_id, that id's value into out[cell number]; other elements keep what they
// held. `out_highest` is the highest index of out. A cell number beyond it is reported (own
// message, code 4000) before anything is written, and gives 0; else 1.
int map_gather_values(double* out, int out_highest, const raw_array1d<double>& values_by_id,
                      const raw_array2d<int>& index_grid, const raw_array2d<int>& index_map,
                      int rows, int cols);
int map_gather_values(raw_array1d<double>& out, const raw_array1d<double>& values_by_id,
                      const raw_array2d<int>& index_grid, const raw_array2d<int>& index_map,
                      int rows, int cols);

// Reads the line after a count line: when it is a PRECIP_CONC line, its k numbers go to
// values[1..k] (0.0 for each number the line lacks) and the column-header line after it is
// consumed as well; otherwise the line read was the column-header line. Returns 0 when a value
// of the PRECIP_CONC line is not a number (those before it stay), else 1. Prints nothing.
int map_table_read_precip_conc(file_handle& h, int k, double* values);
