// Named time series: tables of (Julian time, value) rows that drive boundary conditions and
// sources, read from series files onto one process-wide list at start-up and looked up by
// name, by mapping-table index and by time at every step of the time loop.
#pragma once

#include <atomic>
#include <string>
#include <vector>

struct file_handle;
class loop_fault;

// Size of a series name buffer: at most 149 characters and the terminator; longer names are
// cut to fit.
inline constexpr int ts_name_size = 150;

struct time_series {
  std::vector<double> times;     // Julian days of rows 0..count-1; a RELATIVE series holds days
                                 // from the run's start until ts_shift_relative
  std::vector<double> values;    // value of rows 0..count-1, in the unit of the series' user
  int relative = 0;              // 1 when the block said RELATIVE, else 0
  time_series* next = nullptr;   // next series of the process-wide list, null at the tail
  char name[ts_name_size] = {};  // series name
  int count = 0;                 // number of rows
  std::atomic<int> cursor{0};    // row that began the last bracket found by ts_value, 0..count-2
};

// One row of the mapping table that ties a table index to a named series.
struct ts_index_entry {
  int index = 0;                  // series index used in the mapping tables
  time_series* series = nullptr;  // the series of that name, null when none was found
  ts_index_entry* next = nullptr;
};

// Head of the process-wide list of the run's series, in reading order; null when empty.
extern time_series* ts_list_head;
// Head of the process-wide series index list; null when empty.
extern ts_index_entry* ts_index_head;
// 1 once the run's series index table has been read.
extern int ts_index_loaded;

// A new empty series (no rows, empty name), appended at the tail of the list, which owns it.
time_series* ts_create();
// Frees every series and clears the head; frees the index list, clears its head and clears
// ts_index_loaded. Called at the end of every run.
void ts_free_all();
// A new index entry for `index` and `series` (null allowed), put at the front of the index list,
// which owns it.
ts_index_entry* ts_index_add(int index, time_series* series);

// Keyword at the start of a series-file line: 3 END_TS, 2 ABSOLUTE, 1 RELATIVE, 0 TORVA_TS,
// 4 anything else.
int ts_keyword(const char* line);

// Reads the next block of an open series file onto the list. Returns 1 when a block was read,
// 0 at the end of the file or when the block is malformed; a malformed block has printed a
// message naming the file and the series and set run_error's code to 4000. A row whose date
// fields lie outside calendar_date_limits (ABSOLUTE) or date_offset_limits (RELATIVE) is
// malformed.
int ts_read_block(file_handle& h);
// Reads every block of the series file `name` (TIME_SERIES_FILE card). A file that does not
// open is reported and the run goes on.
void read_time_series_file(const char* name);
// Reads a table of `n` series columns from an open file, up to a line beginning with END_TS or
// the end of the file: each row holds year, month, day, hour, minute and n values. Creates n
// series named "<base>_0000" onwards (the base cut to 100 characters) and returns the first,
// or null when n is 0 or less. A row whose date does not scan gets the time -1.0; a row whose
// date is no calendar date (calendar_date_limits) or with a missing or unreadable value
// prints a message naming the file and sets code 4000.
time_series* ts_read_columns(file_handle& h, int n, const char* base_name);

// The first series of the list whose name begins with `name` (compared over the length of
// `name`, cut as stored names are); null for an empty or null name or when none matches.
// Shared by the readers of series files (time series and elevation series).
// Outcome of reading one block of a series file.
enum class series_block { done, end_of_file, malformed };
// True for a line of blanks and tabs only.
bool series_blank_line(const std::string& line);
// Reads every block of the series file `name` with `read_block`. When the file does not open,
// prints `missing_format` with the name; after the last block prints `count_format` with the
// number of blocks and the name, unless a malformed block stopped the reading (it has printed
// its own message and set the run's error code).
void read_series_file(const char* name, series_block (*read_block)(file_handle&),
                      const char* missing_format, const char* count_format);

time_series* ts_find(const char* name);

// Faults of the series lookups. Outside a parallel loop (`fault` null) a fatal fault prints its
// message, sets run_error's code 4000 and reports it; a report-only fault prints its message.
// Inside a loop (`fault` given) the fault is recorded in `fault` under the loop index
// `loop_index` instead, with its message, for the step to raise after the loop; a report-only
// fault there ranks behind every fatal one, so it never hides a fault that stops the run.
void series_lookup_fault(loop_fault* fault, long loop_index, bool fatal, const char* message);

// Value of `s` at Julian time `t`: linear between the two rows around t, the first value before
// the first row and the last value from the last row on; where rows share a time the later
// row's value holds at that time. The result does not depend on the search cursor, and the
// lookup allocates nothing; it may be called from parallel loops with `fault` given (above).
// A null or empty series is fatal and gives 0.0.
double ts_value(double t, time_series* s, loop_fault* fault = nullptr, long loop_index = 0);
// ts_value at `t` of the series registered under `index` in the index list; an unknown index is
// fatal and gives 0.0.
double ts_table_value(int index, double t, loop_fault* fault = nullptr, long loop_index = 0);

// Adds `start_time` to every row time of every RELATIVE series, turning them into Julian times.
// Called once by the run driver at start-up.
void ts_shift_relative(double start_time);
