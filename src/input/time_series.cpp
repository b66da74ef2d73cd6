// Named time series: the series-file reader of the TIME_SERIES_FILE card, the column table of
// the XY boundary readers, the lookups by name and by index, and the interpolating lookup that
// boundary cells, pumps, wells and structures call at every step of the time loop.
#include "input/time_series.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
#include "framework/core/linked_list.h"
#include "framework/core/text_tokens.h"

time_series* ts_list_head = nullptr;
ts_index_entry* ts_index_head = nullptr;
int ts_index_loaded = 0;

namespace {

// Julian date of year, month, day, hour and minute 0: the origin of RELATIVE row times.
constexpr double relative_origin = 1721028.5;

// Longest base name of a column table; the "_%04d" suffix follows it.
constexpr std::size_t column_base_max = 100;

// Report-only lookup faults inside a loop are recorded this far behind the loop index, so that
// any fatal fault of the same loop wins the lowest-index rule of loop_fault.
constexpr long report_only_rank = LONG_MAX / 2;

const char* path_of(const file_handle& h) {
  return h.path;
}

// The name line of a block: spaces cut from both ends, then one leading and one trailing double
// quote removed, cut to the name buffer.
void store_block_name(time_series& s, const std::string& line) {
  const std::size_t first = line.find_first_not_of(' ');
  std::string name;
  if (first != std::string::npos) name = line.substr(first, line.find_last_not_of(' ') - first + 1);
  str_strip_quotes(name);
  copy_text(s.name, sizeof s.name, name.c_str());
}

bool is_number_separator(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == '\n' || c == '\r';
}

// The next separated token of a row from `p`, moved past; empty when the row has no more.
std::string_view next_row_token(const char*& p) {
  while (*p != '\0' && is_number_separator(*p)) ++p;
  const char* begin = p;
  while (*p != '\0' && !is_number_separator(*p)) ++p;
  return {begin, static_cast<std::size_t>(p - begin)};
}

// The next number of a row, read whole by the strict readers: a token that is missing or is
// not wholly a finite number gives false.
bool scan_row_double(const char*& p, double& out) {
  return parse_double(next_row_token(p), out);
}
bool scan_row_int(const char*& p, int& out) {
  return parse_int(next_row_token(p), out);
}

// A dated row: year, month, day, hour, minute and value, each token a whole number of its kind.
// What follows the value is not read.
bool scan_dated_row(const std::string& line, int (&date)[5], double& value) {
  const char* p = line.c_str();
  for (int& field : date)
    if (!scan_row_int(p, field)) return false;
  return scan_row_double(p, value);
}

}  // namespace

time_series* ts_create() {
  auto* s = new time_series;
  list_append(ts_list_head, s);
  return s;
}

void ts_free_all() {
  list_free(ts_index_head);
  ts_index_loaded = 0;
  list_free(ts_list_head);
}

ts_index_entry* ts_index_add(int index, time_series* series) {
  auto* e = new ts_index_entry;
  e->index = index;
  e->series = series;
  e->next = ts_index_head;
  ts_index_head = e;
  return e;
}

int ts_keyword(const char* line) {
  if (line == nullptr) return 4;
  if (strncmp(line, "END_TS", 6) == 0) return 3;
  if (strncmp(line, "ABSOLUTE", 8) == 0) return 2;
  if (strncmp(line, "RELATIVE", 8) == 0) return 1;
  if (strncmp(line, "TORVA_TS", 8) == 0) return 0;
  return 4;
}

namespace {

// Reads one block; a malformed one has printed its message and set the code.
series_block read_block(file_handle& h) {
  if (h.fp == nullptr) return series_block::end_of_file;
  std::string line;
  do {
    if (read_text_line(line, h) == 0) return series_block::end_of_file;
  } while (ts_keyword(line.c_str()) != 0);

  time_series* s = ts_create();
  if (read_text_line(line, h) == 0) {
    printf("Error: time series block without a name at the end of file %s\n", path_of(h));
    raise_own_message();
    return series_block::malformed;
  }
  store_block_name(*s, line);
  if (read_text_line(line, h) == 0) {
    printf("Error: time series [%s] of file %s ends before its RELATIVE or ABSOLUTE line\n",
           s->name, path_of(h));
    raise_own_message();
    return series_block::malformed;
  }
  s->relative = ts_keyword(line.c_str()) == 1 ? 1 : 0;

  // Rows up to END_TS or the end of the file, read in one pass: the arrays hold exactly the
  // rows that were read. Blank lines hold no row.
  while (read_text_line(line, h) != 0 && ts_keyword(line.c_str()) != 3) {
    if (series_blank_line(line)) continue;
    int date[5];
    double value;
    if (!scan_dated_row(line, date, value)) {
      printf("Error: bad row %d in time series [%s] of file %s: %s\n", s->count + 1, s->name,
             path_of(h), line.c_str());
      printf("       A row holds year, month, day, hour, minute and value.\n");
      raise_own_message();
      return series_block::malformed;
    }
    // An ABSOLUTE row is a calendar date; a RELATIVE row a time after the start, whose fields
    // may pass their calendar range. Either must stay within what the day count can hold.
    const std::string outside =
        date_fields_outside(date, s->relative ? date_offset_limits : calendar_date_limits);
    if (!outside.empty()) {
      printf("Error: bad row %d in time series [%s] of file %s: %s\n", s->count + 1, s->name,
             path_of(h), line.c_str());
      printf("       %s.\n", outside.c_str());
      raise_own_message();
      return series_block::malformed;
    }
    double t = julian_from_date(date[0], date[1], date[2], date[3], date[4], 0.0);
    if (s->relative) t -= relative_origin;
    s->times.push_back(t);
    s->values.push_back(value);
    ++s->count;
  }
  printf("Read time series %s\n", s->name);
  return series_block::done;
}

}  // namespace

int ts_read_block(file_handle& h) {
  return read_block(h) == series_block::done ? 1 : 0;
}

void read_time_series_file(const char* name) {
  read_series_file(name, read_block, "Error: Time series file not found [%s]\n",
                   "%d time series read from file %s\n");
}

bool series_blank_line(const std::string& line) {
  for (char c : line)
    if (c != ' ' && c != '\t') return false;
  return true;
}

void read_series_file(const char* name, series_block (*read_block)(file_handle&),
                      const char* missing_format, const char* count_format) {
  if (name == nullptr) name = "";
  file_handle h;
  if (!file_handle_open(h, name, "r")) {
    printf(missing_format, name);
    file_handle_close(h);
    return;
  }
  int blocks = 0;
  series_block result;
  while ((result = read_block(h)) == series_block::done) ++blocks;
  // A malformed block has stopped the reading with its own message.
  if (result == series_block::end_of_file) printf(count_format, blocks, name);
  file_handle_close(h);
}

time_series* ts_read_columns(file_handle& h, int n, const char* base_name) {
  if (n <= 0) return nullptr;
  std::string base = base_name != nullptr ? base_name : "";
  if (base.size() > column_base_max) base.resize(column_base_max);

  time_series* first = nullptr;
  for (int i = 0; i < n; ++i) {
    time_series* s = ts_create();
    snprintf(s->name, sizeof s->name, "%s_%04d", base.c_str(), i);
    if (first == nullptr) first = s;
  }

  // Rows up to END_TS or the end of the file, one per line, whatever the line's length.
  std::string line;
  int row = 0;
  while (h.fp != nullptr && read_text_line(line, h) != 0 && ts_keyword(line.c_str()) != 3) {
    if (series_blank_line(line)) continue;
    ++row;
    const char* p = line.c_str();
    int date[5];
    bool dated = true;
    for (int& field : date) dated = scan_row_int(p, field) && dated;
    // The rows are calendar dates, as the XY outputs write them.
    const std::string outside = dated ? date_fields_outside(date, calendar_date_limits) : "";
    if (!outside.empty()) {
      printf("Error: bad row %d in time series [%s] of file %s: %s\n", row, first->name, path_of(h),
             outside.c_str());
      raise_own_message();
      return first;
    }
    const double t =
        dated ? julian_from_date(date[0], date[1], date[2], date[3], date[4], 0.0) : -1.0;
    time_series* s = first;
    for (int i = 0; i < n; ++i, s = s->next) {
      double value = 0.0;
      if (!scan_row_double(p, value)) {
        printf(
            "Error: bad row %d in time series [%s] of file %s: value %d of %d is missing or "
            "not a number\n",
            row, s->name, path_of(h), i + 1, n);
        raise_own_message();
        return first;
      }
      s->times.push_back(t);
      s->values.push_back(value);
      ++s->count;
    }
  }
  return first;
}

time_series* ts_find(const char* name) {
  if (name == nullptr || name[0] == '\0') return nullptr;
  // A query is compared as a stored name would be: cut to the name buffer.
  std::size_t len = strlen(name);
  if (len > ts_name_size - 1) len = ts_name_size - 1;
  for (time_series* s = ts_list_head; s != nullptr; s = s->next)
    if (strncmp(s->name, name, len) == 0) return s;
  return nullptr;
}

void series_lookup_fault(loop_fault* fault, long loop_index, bool fatal, const char* message) {
  if (fault != nullptr) {
    if (fatal) {
      fault->record(loop_index, error_code_own_message, 0, 0, message);
    } else {
      fault->record(loop_index + report_only_rank, 0, 0, 0, message);
    }
    return;
  }
  fputs(message, stdout);
  if (fatal) stop_now();
}

double ts_value(double t, time_series* s, loop_fault* fault, long loop_index) {
  // Messages are composed on the stack: the lookup allocates nothing.
  char message[400];
  if (s == nullptr) {
    series_lookup_fault(fault, loop_index, true,
                        "Error: attempting to extract a value from a time series that does not "
                        "exist.\n");
    return 0.0;
  }
  const int n = s->count;
  if (n <= 0) {
    snprintf(message, sizeof message,
             "Error: attempting to extract a value from a time series [%s] with no entries.\n",
             s->name);
    series_lookup_fault(fault, loop_index, true, message);
    return 0.0;
  }
  const double* times = s->times.data();
  const double* values = s->values.data();
  if (n == 1) return values[0];
  if (t < times[0]) return values[0];
  if (t >= times[n - 1]) return values[n - 1];

  // The bracket is the last row at or before t, limited to the last interval: rows that share
  // a time give way to the later one, and every interval used is longer than zero. The search
  // walks on from the cursor and, when the cursor is already past t, once from the first row;
  // the bracket found is the same whatever the cursor held.
  int i = s->cursor.load(std::memory_order_relaxed);
  if (i < 0 || i > n - 2 || !(times[i] <= t)) i = 0;
  while (i < n - 2 && times[i + 1] <= t) ++i;
  if (!(times[i] <= t && t < times[i + 1])) {
    // Only a time or row time that is not a number gets here.
    snprintf(message, sizeof message,
             "Error: something is really messed up with your time series [%s].\n", s->name);
    series_lookup_fault(fault, loop_index, false, message);
    return 0.0;
  }
  s->cursor.store(i, std::memory_order_relaxed);
  const double w = (t - times[i]) / (times[i + 1] - times[i]);
  return (1.0 - w) * values[i] + w * values[i + 1];
}

double ts_table_value(int index, double t, loop_fault* fault, long loop_index) {
  for (ts_index_entry* e = ts_index_head; e != nullptr; e = e->next)
    if (e->index == index) return ts_value(t, e->series, fault, loop_index);
  char message[400];
  snprintf(message, sizeof message,
           "Error: attempting to extract a value from an unknown time series in the time "
           "series table.    Check the mapping table file (.cmt). The specified time series "
           "index is %d, but the \nindex is not found in the time series index table.\n",
           index);
  series_lookup_fault(fault, loop_index, true, message);
  return 0.0;
}

void ts_shift_relative(double start_time) {
  for (time_series* s = ts_list_head; s != nullptr; s = s->next) {
    if (!s->relative) continue;
    for (double& t : s->times) t += start_time;
  }
}
