// The series of a pump line, shared by the overland and lake pump files.
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "input/elevation_series.h"
#include "input/input_steps.h"
#include "input/time_series.h"

bool read_pump_series(std::string& rest, const char* kind, const char* file, long line_no,
                      time_series*& series, elevation_series*& rating) {
  series = nullptr;
  rating = nullptr;
  std::string type, name;
  const bool has_type = next_token(rest, type) != 0;
  const bool has_name = has_type && next_token(rest, name) != 0;
  const bool is_ts = has_type && card_match(type, "TS") != 0;
  const bool is_elev = has_type && card_match(type, "ELEV") != 0;
  if (!is_ts && !is_elev) {
    printf(
        "Error: line %ld of the %s file %s gives the flow type \"%s\"; it must be TS "
        "(a time series) or ELEV (an elevation series).\n",
        line_no, kind, file, type.c_str());
    return false;
  }
  if (!has_name) {
    printf("Error: line %ld of the %s file %s names no series for its pump.\n", line_no, kind,
           file);
    return false;
  }
  if (is_ts) series = ts_find(name.c_str());
  if (is_elev) rating = elev_series_find(name.c_str());
  if (series == nullptr && rating == nullptr) {
    printf("Error: line %ld of the %s file %s names the %s \"%s\", which no %s defines.\n", line_no,
           kind, file, is_ts ? "time series" : "elevation series", name.c_str(),
           is_ts ? "TIME_SERIES_FILE" : "ELEV_SERIES_FILE");
    return false;
  }
  return true;
}

bool read_pump_file(const char* file, const char* kind, const char* card,
                    const std::function<bool(std::string& rest, long line_no)>& read_line) {
  file_handle h;
  char name[sizeof h.path];
  snprintf(name, sizeof name, "%s", file);
  if (!file_handle_open(h, name, "r")) {
    stop_with_message("Error: the %s file %s (%s card) could not be opened.\n", kind, file, card);
    return false;
  }
  std::string line;
  long line_no = 0;
  int pumps = 0;
  while (read_text_line(line, h) != 0) {
    ++line_no;
    std::string rest = line;
    std::string word;
    if (next_token(rest, word) == 0 || word[0] == '#') continue;
    if (card_match(word, "PUMP") == 0) {
      printf(
          "Error: line %ld of the %s file %s begins with \"%s\"; each pump line begins with "
          "PUMP.\n",
          line_no, kind, file, word.c_str());
      stop_now();
      return false;
    }
    if (!read_line(rest, line_no)) {
      stop_now();
      return false;
    }
    ++pumps;
  }
  if (run_error.error_fatal) return false;
  if (pumps == 0) {
    stop_with_message("Error: the %s file %s (%s card) defines no pump.\n", kind, file, card);
    return false;
  }
  return true;
}
