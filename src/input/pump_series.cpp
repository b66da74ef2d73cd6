// The series of a pump line, shared by the overland and lake pump files.
#include <cstdio>

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
