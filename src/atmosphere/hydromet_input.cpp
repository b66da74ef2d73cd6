// Readers of the hourly hydrometeorological file: the start-up scan finds the first and last
// record dates and the number of hourly records; the hydromet step then reads one record per
// hour, replacing each missing value by the last good one (of the same hour of the day where the
// quantity follows the sun) and converting to model units.
#include "atmosphere/hydromet_input.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"

namespace {

constexpr int longest_line = 800;  // characters of a weather line, its newline not counted
constexpr int line_buffer = 832;

// Prints a fault of the weather file where error_report prints and raises code 4000.
void __attribute__((format(printf, 1, 2))) fail(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  echo_message("%s", text);
  raise_own_message();
}

// Reads one line into `buf` without its line end (a carriage return before the newline is
// dropped). Returns 1 with a line, 0 at the end of the file, -1 for a line longer than
// longest_line (message printed).
int next_line(FILE* fp, const char* name, hmet_reader_state& rs, char* buf) {
  if (fgets(buf, line_buffer, fp) == nullptr) return 0;
  rs.line += 1;
  std::size_t n = strlen(buf);
  const bool whole = n > 0 && buf[n - 1] == '\n';
  if (whole) buf[--n] = '\0';
  if (n > 0 && buf[n - 1] == '\r') buf[--n] = '\0';
  if (n > static_cast<std::size_t>(longest_line) || (!whole && !feof(fp))) {
    fail("Error: line %d of the hydrometeorological file %s is longer than %d characters\n",
         rs.line, name, longest_line);
    return -1;
  }
  return 1;
}

bool blank(const char* s) {
  for (; *s != '\0'; ++s)
    if (*s != ' ' && *s != '\t') return false;
  return true;
}

// The number in columns first..last (0-based, inclusive) of a fixed-column line. False (message
// printed naming the file, line and field) when the line is too short or the text is no number.
bool column_number(const char* line, const char* name, int line_no, int first, int last,
                   const char* field, double& out) {
  const int length = static_cast<int>(strlen(line));
  if (length <= last) {
    fail(
        "Error: line %d of the hydrometeorological file %s is %d characters long: its %s "
        "field needs columns %d-%d\n",
        line_no, name, length, field, first + 1, last + 1);
    return false;
  }
  char text[32];
  const int n = last - first + 1;
  memcpy(text, line + first, static_cast<std::size_t>(n));
  text[n] = '\0';
  // The field is right- or left-aligned in its columns: blanks around the number are padding.
  std::string_view field_text(text, static_cast<std::size_t>(n));
  while (!field_text.empty() && (field_text.front() == ' ' || field_text.front() == '\t'))
    field_text.remove_prefix(1);
  while (!field_text.empty() && (field_text.back() == ' ' || field_text.back() == '\t'))
    field_text.remove_suffix(1);
  double v = 0.0;
  if (!parse_double(field_text, v)) {
    fail(
        "Error: line %d of the hydrometeorological file %s: the %s field (columns %d-%d) "
        "\"%s\" is not a number\n",
        line_no, name, field, first + 1, last + 1, text);
    return false;
  }
  out = v;
  return true;
}

bool column_int(const char* line, const char* name, int line_no, int first, int last,
                const char* field, int& out) {
  double v = 0.0;
  if (!column_number(line, name, line_no, first, last, field, v)) return false;
  if (v != std::floor(v) || std::fabs(v) > 1e9) {
    fail(
        "Error: line %d of the hydrometeorological file %s: the %s field (columns %d-%d) is "
        "not a whole number\n",
        line_no, name, field, first + 1, last + 1);
    return false;
  }
  out = static_cast<int>(v);
  return true;
}

// A record's date must name a real hour: months 1-12, the day within its month, hours 0-24.
bool date_ok(const char* name, int line_no, int year, int month, int day, int hour) {
  const char* bad = nullptr;
  if (year < 0 || year > 9999)
    bad = "year";
  else if (month < 1 || month > 12)
    bad = "month";
  else if (day < 1 || day > calendar_month_days(year, month))
    bad = "day";
  else if (hour < 0 || hour > 24)
    bad = "hour";
  if (bad == nullptr) return true;
  fail(
      "Error: line %d of the hydrometeorological file %s: the %s of the date %d/%d/%d %d:00 is "
      "outside its range\n",
      line_no, name, bad, year, month, day, hour);
  return false;
}

// Hour 24 becomes hour 0 of the next day.
void carry_hour(int& year, int& month, int& day, int& hour) {
  if (hour != 24) return;
  hour = 0;
  day += 1;
  if (day > calendar_month_days(year, month)) {
    day = 1;
    if (++month > 12) {
      month = 1;
      ++year;
    }
  }
}

double hour_jday(int year, int month, int day, int hour) {
  int y = year, m = month, d = day, h = hour;
  carry_hour(y, m, d, h);
  return julian_from_date(y, m, d, h, 0, 0.0);
}

// Records after the first must follow one hour after the one before.
bool next_hour_ok(const char* name, int line_no, double& previous, int year, int month, int day,
                  int hour) {
  const double t = hour_jday(year, month, day, hour);
  if (previous != 0.0 && std::fabs(t - previous - 1.0 / 24.0) > 1e-6) {
    fail(
        "Error: line %d of the hydrometeorological file %s: the record of %d/%d/%d %d:00 does "
        "not follow one hour after the record before it\n",
        line_no, name, year, month, day, hour);
    return false;
  }
  previous = t;
  return true;
}

// ---- OBU: whitespace records of 11 fields.

struct obu_fields {
  int year, month, day, hour;
  double pressure;
  int rh, sky, wind, temp;
  double direct, global;
};

// Parses one OBU line field by field, each the whole token: the four date fields, relative
// humidity, sky cover, wind and temperature are whole numbers, pressure and the two radiations
// finite numbers. Returns the fields read before the first that is missing or not such a number
// (11 for a whole record); a line with more text after its eleventh field counts as 12.
int obu_parse(const char* line, obu_fields& f) {
  std::string rest(line);
  int* const whole[] = {&f.year, &f.month, &f.day,  &f.hour, nullptr, &f.rh,
                        &f.sky,  &f.wind,  &f.temp, nullptr, nullptr};
  double* const real[] = {nullptr, nullptr, nullptr, nullptr,   &f.pressure, nullptr,
                          nullptr, nullptr, nullptr, &f.direct, &f.global};
  for (int k = 0; k < 11; ++k) {
    const bool taken =
        whole[k] != nullptr ? take_int(rest, *whole[k]) : take_double(rest, *real[k]);
    if (!taken) return k;
  }
  std::string extra;
  return next_token(rest, extra) != 0 ? 12 : 11;
}

void obu_format_help() {
  echo_message(
      "Make sure your file is in the correct format, including making sure\nall input data are "
      "listed as floats or ints as specified in the following\nformat table:\n");
  echo_message(
      " Format:\n1   2   3   4    5     6           7        8         9    10        11  \nYr  Mo "
      " Day Hr  Press. RelHumidity SkyCover WindSpeed Temp DirectRad GlobalRad\nint int int int "
      "float  int         int      int       int  float     float\n\n");
}

bool obu_line(const char* name, int line_no, const char* line, obu_fields& f) {
  const int n = obu_parse(line, f);
  if (n == 11) return date_ok(name, line_no, f.year, f.month, f.day, f.hour);
  if (n == 12) {
    echo_message("Error: Problem encountered in hmet_OBU file %s, line %d: more than 11 fields\n\n",
                 name, line_no);
  } else {
    echo_message("Error: Problem encountered in hmet_OBU file %s, line %d, near parameter %d\n\n",
                 name, line_no, n + 1);
  }
  obu_format_help();
  raise_own_message();
  return false;
}

int obu_scan(FILE* fp, const char* name, hmet_reader_state& rs, hmet_span& span, bool quiet) {
  char line[line_buffer];
  int records = 0;
  double previous = 0.0;
  obu_fields f{};
  for (;;) {
    const int got = next_line(fp, name, rs, line);
    if (got < 0) return -1;
    if (got == 0) break;
    if (blank(line)) continue;
    if (!obu_line(name, rs.line, line, f)) return -1;
    if (!next_hour_ok(name, rs.line, previous, f.year, f.month, f.day, f.hour)) return -1;
    const int date[4] = {f.year, f.month, f.day, f.hour};
    if (records == 0) memcpy(span.first, date, sizeof date);
    memcpy(span.last, date, sizeof date);
    ++records;
  }
  span.record_count = records;
  if (!quiet) printf("End of hmet_OBU file encountered after %d lines\n", rs.line);
  return 0;
}

// A missing value takes the last good one (`good`, kept per hour of the day or once for the
// file) and counts as a repair; a good value becomes the last good one.
void fill_missing(double& v, bool missing, double& good, int& repairs) {
  if (missing) {
    v = good;
    ++repairs;
  } else {
    good = v;
  }
}

int obu_read(FILE* fp, const char* name, hmet_reader_state& rs, hmet_record& r, int& repairs) {
  char line[line_buffer];
  int got = 0;
  do {
    got = next_line(fp, name, rs, line);
    if (got <= 0) return got;
  } while (blank(line));
  obu_fields f{};
  if (!obu_line(name, rs.line, line, f)) return -1;
  // Before the first good pressure a missing one is the standard atmosphere (inches of mercury).
  if (rs.good_pressure < 0.0) rs.good_pressure = 29.92;
  const int h = f.hour % 24;
  double direct = f.direct, global = f.global, pressure = f.pressure;
  double rh = f.rh, sky = f.sky, wind = f.wind, temp = f.temp;
  auto per_hour = [&](double& v, bool missing, double* table) {
    fill_missing(v, missing, table[h], repairs);
  };
  auto single = [&](double& v, bool missing, double& last) {
    fill_missing(v, missing, last, repairs);
  };
  per_hour(direct, direct > 9999.9, rs.good_direct);
  per_hour(global, global > 9999.9, rs.good_global);
  single(pressure, pressure == 999.0, rs.good_pressure);
  per_hour(rh, f.rh == 999, rs.good_rh);
  single(sky, f.sky == 999, rs.good_sky);
  single(wind, f.wind == 999, rs.good_wind);
  per_hour(temp, f.temp == 999, rs.good_temp);
  r.year = f.year;
  r.month = f.month;
  r.day = f.day;
  r.hour = f.hour;
  r.direct = direct;
  r.global = global;
  r.sky = sky / 10.0;
  r.temp = (temp - 32.0) * 0.5555555555555556;
  r.rh = rh;
  r.pressure = pressure * 1013.25 / 29.92;
  r.wind = wind * 0.514444;
  return 1;
}

// ---- SAMSON: two header lines, then fixed-column hourly lines.

struct samson_date {
  int year, month, day, hour;
};

bool samson_date_of(const char* line, const char* name, int line_no, samson_date& d) {
  if (!column_int(line, name, line_no, 1, 2, "year", d.year) ||
      !column_int(line, name, line_no, 4, 5, "month", d.month) ||
      !column_int(line, name, line_no, 7, 8, "day", d.day) ||
      !column_int(line, name, line_no, 10, 11, "hour", d.hour))
    return false;
  if (d.year < 100) d.year += 1900;
  return date_ok(name, line_no, d.year, d.month, d.day, d.hour);
}

// The last column a SAMSON data line must reach (the wind speed's).
constexpr int samson_last_column = 84;

bool samson_headers(FILE* fp, const char* name, hmet_reader_state& rs, char* line) {
  for (int k = 0; k < 2; ++k) {
    const int got = next_line(fp, name, rs, line);
    if (got < 0) return false;
    if (got == 0) {
      fail("Error: the SAMSON hydrometeorological file %s ends within its two header lines\n",
           name);
      return false;
    }
  }
  return true;
}

int samson_scan(FILE* fp, const char* name, hmet_reader_state& rs, hmet_span& span) {
  char line[line_buffer];
  const int got = next_line(fp, name, rs, line);
  if (got <= 0) {
    if (got == 0)
      fail("Error: the SAMSON hydrometeorological file %s ends within its two header lines\n",
           name);
    return -1;
  }
  // The station header: its text and the station's position.
  const int length = static_cast<int>(strlen(line));
  for (int k = 0; k < 22; ++k) span.station[k] = 7 + k < length ? line[7 + k] : ' ';
  span.station[22] = '\0';
  double lat_d = 0.0, lat_m = 0.0, lon_d = 0.0, lon_m = 0.0;
  if (!column_number(line, name, 1, 39, 40, "latitude degrees", lat_d) ||
      !column_number(line, name, 1, 42, 43, "latitude minutes", lat_m) ||
      !column_number(line, name, 1, 47, 49, "longitude degrees", lon_d) ||
      !column_number(line, name, 1, 51, 52, "longitude minutes", lon_m))
    return -1;
  span.latitude = lat_d + lat_m / 60.0;
  span.longitude = lon_d + lon_m / 60.0;
  const int second = next_line(fp, name, rs, line);
  if (second < 0) return -1;
  if (second == 0) {
    fail("Error: the SAMSON hydrometeorological file %s ends within its two header lines\n", name);
    return -1;
  }
  int records = 0;
  double previous = 0.0;
  for (;;) {
    const int r = next_line(fp, name, rs, line);
    if (r < 0) return -1;
    if (r == 0) break;
    if (blank(line)) continue;
    samson_date d{};
    if (!samson_date_of(line, name, rs.line, d)) return -1;
    if (static_cast<int>(strlen(line)) <= samson_last_column) {
      fail(
          "Error: line %d of the hydrometeorological file %s is %d characters long: its wind "
          "speed field needs columns 80-85\n",
          rs.line, name, static_cast<int>(strlen(line)));
      return -1;
    }
    if (!next_hour_ok(name, rs.line, previous, d.year, d.month, d.day, d.hour)) return -1;
    const int date[4] = {d.year, d.month, d.day, d.hour};
    if (records == 0) memcpy(span.first, date, sizeof date);
    memcpy(span.last, date, sizeof date);
    ++records;
  }
  span.record_count = records;
  return 0;
}

int samson_read(FILE* fp, const char* name, hmet_reader_state& rs, hmet_record& r, int& repairs) {
  char line[line_buffer];
  if (rs.data_reads == 0 && !samson_headers(fp, name, rs, line)) return -1;
  int got = 0;
  do {
    got = next_line(fp, name, rs, line);
    if (got <= 0) return got;
  } while (blank(line));
  rs.data_reads += 1;
  samson_date d{};
  if (!samson_date_of(line, name, rs.line, d)) return -1;
  double direct = 0.0, global = 0.0, sky = 0.0, temp = 0.0, rh = 0.0, pressure = 0.0, wind = 0.0;
  const int n = rs.line;
  if (!column_number(line, name, n, 33, 36, "direct radiation", direct) ||
      !column_number(line, name, n, 41, 44, "global radiation", global) ||
      !column_number(line, name, n, 49, 50, "sky cover", sky) ||
      !column_number(line, name, n, 55, 59, "temperature", temp) ||
      !column_number(line, name, n, 67, 69, "relative humidity", rh) ||
      !column_number(line, name, n, 71, 74, "pressure", pressure) ||
      !column_number(line, name, n, 79, 84, "wind speed", wind))
    return -1;
  if (rs.good_pressure < 0.0) rs.good_pressure = 1013.25;  // standard atmosphere (millibars)
  const int h = d.hour % 24;
  auto per_hour = [&](double& v, bool missing, double* table) {
    fill_missing(v, missing, table[h], repairs);
  };
  auto single = [&](double& v, bool missing, double& last) {
    fill_missing(v, missing, last, repairs);
  };
  per_hour(direct, direct == 9999.0, rs.good_direct);
  per_hour(global, global == 9999.0, rs.good_global);
  single(sky, sky == 99.0, rs.good_sky);
  single(temp, std::lround(temp * 10.0) == 9999, rs.good_temp[0]);
  per_hour(rh, rh == 999.0, rs.good_rh);
  single(pressure, pressure == 9999.0, rs.good_pressure);
  single(wind, wind == 99.0 || wind == 9999.0, rs.good_wind);
  carry_hour(d.year, d.month, d.day, d.hour);
  r.year = d.year;
  r.month = d.month;
  r.day = d.day;
  r.hour = d.hour;
  r.direct = direct;
  r.global = global;
  r.sky = sky;
  r.temp = temp;
  r.rh = rh;
  r.pressure = pressure;
  r.wind = wind;
  return 1;
}

// ---- Surface Airways: element lines of one day, up to 24 hourly values each.

enum sa_element { sa_dr, sa_gr, sa_pr, sa_rh, sa_tm, sa_ts, sa_wi, sa_count, sa_other = -1 };

sa_element sa_element_of(const char* line) {
  static const char* const codes[sa_count] = {"DR", "GR", "PR", "RH", "TM", "TS", "WI"};
  if (strlen(line) < 13) return sa_other;
  for (int k = 0; k < sa_count; ++k)
    if (line[11] == codes[k][0] && line[12] == codes[k][1]) return static_cast<sa_element>(k);
  return sa_other;
}

// The date and value count of an element line.
struct sa_head {
  int year, month, day, count;
};

bool sa_head_of(const char* line, const char* name, int line_no, sa_head& h) {
  if (!column_int(line, name, line_no, 17, 20, "year", h.year) ||
      !column_int(line, name, line_no, 21, 22, "month", h.month) ||
      !column_int(line, name, line_no, 25, 26, "day", h.day) ||
      !column_int(line, name, line_no, 27, 29, "value count", h.count))
    return false;
  if (!date_ok(name, line_no, h.year, h.month, h.day, 0)) return false;
  if (h.count < 0 || h.count > 24) {
    fail(
        "Error: line %d of the hydrometeorological file %s: the value count (columns 28-30) is "
        "%d; a day has at most 24 hourly values\n",
        line_no, name, h.count);
    return false;
  }
  const int needs = h.count == 0 ? 29 : 30 + 12 * (h.count - 1) + 9;
  const int length = static_cast<int>(strlen(line));
  if (length <= needs) {
    fail(
        "Error: line %d of the hydrometeorological file %s is %d characters long: its %d values "
        "need columns up to %d\n",
        line_no, name, length, h.count, needs + 1);
    return false;
  }
  return true;
}

bool same_day(const sa_head& h, const int date[3]) {
  return h.year == date[0] && h.month == date[1] && h.day == date[2];
}

int sa_scan(FILE* fp, const char* name, hmet_reader_state& rs, hmet_span& span, bool quiet) {
  char line[line_buffer];
  int counts[sa_count] = {};
  int days = 0;
  int date[3] = {};
  for (;;) {
    const int got = next_line(fp, name, rs, line);
    if (got < 0) return -1;
    if (got == 0) break;
    if (blank(line)) continue;
    sa_head h{};
    if (!sa_head_of(line, name, rs.line, h)) return -1;
    const sa_element e = sa_element_of(line);
    if (e != sa_other) counts[e] += 1;
    if (days == 0 || !same_day(h, date)) {
      if (days > 0) {
        const double step = julian_from_date(h.year, h.month, h.day, 0, 0, 0.0) -
                            julian_from_date(date[0], date[1], date[2], 0, 0, 0.0);
        if (std::fabs(step - 1.0) > 1e-6) {
          fail(
              "Error: line %d of the hydrometeorological file %s: the day %d/%d/%d does not "
              "follow the day %d/%d/%d before it\n",
              rs.line, name, h.year, h.month, h.day, date[0], date[1], date[2]);
          return -1;
        }
      }
      date[0] = h.year;
      date[1] = h.month;
      date[2] = h.day;
      if (days == 0) {
        span.first[0] = h.year;
        span.first[1] = h.month;
        span.first[2] = h.day;
        span.first[3] = 0;
      }
      ++days;
    }
  }
  if (days > 0) {
    span.last[0] = date[0];
    span.last[1] = date[1];
    span.last[2] = date[2];
    span.last[3] = 23;
  }
  span.record_count = 24 * days;
  if (!quiet) {
    printf("End of hmet_NCDC file encountered after %ld lines\n", static_cast<long>(rs.line));
    printf("DRAD GRAD PRES RHUM TMPD TSKC WIND\n");
    printf(" %d  %d  %d  %d  %d  %d  %d\n", counts[sa_dr], counts[sa_gr], counts[sa_pr],
           counts[sa_rh], counts[sa_tm], counts[sa_ts], counts[sa_wi]);
  }
  const char* first = "There is an error in the Surface Airways hydrometeorology\n";
  if (counts[sa_rh] != counts[sa_tm]) {
    echo_message("%s", first);
    echo_message("data file.  There appears to be a different number of \n");
    echo_message("days of rel. humidity data than temperature data.  Rel. hum.\n");
    echo_message("data is required for each day.  Examine the file and supply\n");
    echo_message("the missing data.  Program terminating\n\n");
    raise_own_message();
    return -1;
  }
  const char* tail1 = "required for each day.  Examine the file and supply the \n";
  const char* tail2 = "missing data.  Program terminating\n\n";
  if (counts[sa_ts] != counts[sa_tm]) {
    echo_message("%s", first);
    echo_message("data file.  There appear to be a different number of days\n");
    echo_message("of cloud cover data than temperature data.  Clouds data is\n");
    echo_message("%s", tail1);
    echo_message("%s", tail2);
    raise_own_message();
    return -1;
  }
  if (counts[sa_wi] != counts[sa_tm]) {
    echo_message("%s", first);
    echo_message("data file.  There appear to be different number of days of ");
    echo_message("wind data than temperature data.  Wind speed data is\n");
    echo_message("%s", tail1);
    echo_message("%s", tail2);
    raise_own_message();
    return -1;
  }
  return 0;
}

// Puts one element line's values into the day's tables.
bool sa_take_line(const char* line, const char* name, int line_no, const sa_head& h,
                  hmet_reader_state& rs, int& repairs) {
  const sa_element e = sa_element_of(line);
  if (e == sa_other) return true;
  for (int k = 0; k < h.count; ++k) {
    int raw = 0;
    char field[40];
    snprintf(field, sizeof field, "value %d", k + 1);
    if (!column_int(line, name, line_no, 35 + 12 * k, 39 + 12 * k, field, raw)) return false;
    const int hour = k;
    auto per_hour = [&](double* day, double* good, double value) {
      if (raw == 99999) {
        day[hour] = good[hour];
        ++repairs;
      } else {
        day[hour] = good[hour] = value;
      }
    };
    switch (e) {
      case sa_dr:
        per_hour(rs.day_direct, rs.good_direct, raw / 10.0);
        break;
      case sa_gr:
        per_hour(rs.day_global, rs.good_global, raw / 10.0);
        break;
      case sa_rh:
        per_hour(rs.day_rh, rs.good_rh, raw);
        break;
      case sa_tm:
        per_hour(rs.day_temp, rs.good_temp, (raw - 32) * 0.5555555555555556);
        break;
      case sa_pr:
        if (raw == 99999) {
          rs.day_pressure[hour] = rs.good_pressure;
          ++repairs;
        } else {
          rs.day_pressure[hour] = rs.good_pressure = raw * 33.86530748663101 / 1000.0;
        }
        break;
      case sa_ts:
        if (raw / 100 == 999) {
          rs.day_sky[hour] = rs.good_sky;
          ++repairs;
        } else {
          rs.day_sky[hour] = rs.good_sky = raw % 100;
        }
        break;
      case sa_wi:
        if (raw % 1000 == 999) {
          rs.day_wind[hour] = rs.good_wind;
          ++repairs;
        } else {
          rs.day_wind[hour] = rs.good_wind = (raw % 1000) * 0.514444;
        }
        break;
      default:
        break;
    }
  }
  if (e == sa_dr) rs.day_has_direct = 1;
  if (e == sa_gr) rs.day_has_global = 1;
  return true;
}

// Loads the next day's element lines. Returns 1 with a day, 0 at the end, -1 after a fault.
int sa_load_day(FILE* fp, const char* name, hmet_reader_state& rs, int& repairs) {
  char line[line_buffer];
  int line_no = 0;
  if (rs.held_line[0] != '\0') {
    snprintf(line, sizeof line, "%s", rs.held_line);
    line_no = rs.held_line_number;
    rs.held_line[0] = '\0';
  } else {
    int got = 0;
    do {
      got = next_line(fp, name, rs, line);
      if (got <= 0) return got;
    } while (blank(line));
    line_no = rs.line;
  }
  sa_head h{};
  if (!sa_head_of(line, name, line_no, h)) return -1;
  rs.day_date[0] = h.year;
  rs.day_date[1] = h.month;
  rs.day_date[2] = h.day;
  rs.day_has_direct = rs.day_has_global = 0;
  if (rs.good_pressure < 0.0) rs.good_pressure = 1013.25;  // standard atmosphere (millibars)
  // Hours without a value keep the last good one.
  for (int k = 0; k < 24; ++k) {
    rs.day_rh[k] = rs.good_rh[k];
    rs.day_temp[k] = rs.good_temp[k];
    rs.day_pressure[k] = rs.good_pressure;
    rs.day_sky[k] = rs.good_sky;
    rs.day_wind[k] = rs.good_wind;
    rs.day_direct[k] = rs.good_direct[k];
    rs.day_global[k] = rs.good_global[k];
  }
  if (!sa_take_line(line, name, line_no, h, rs, repairs)) return -1;
  for (;;) {
    const int got = next_line(fp, name, rs, line);
    if (got < 0) return -1;
    if (got == 0) break;
    if (blank(line)) continue;
    sa_head next{};
    if (!sa_head_of(line, name, rs.line, next)) return -1;
    if (!same_day(next, rs.day_date)) {
      snprintf(rs.held_line, sizeof rs.held_line, "%s", line);
      rs.held_line_number = rs.line;
      break;
    }
    if (!sa_take_line(line, name, rs.line, next, rs, repairs)) return -1;
  }
  // A day without radiation lines has none.
  for (int k = 0; k < 24; ++k) {
    if (!rs.day_has_direct) rs.day_direct[k] = 0.0;
    if (!rs.day_has_global) rs.day_global[k] = 0.0;
  }
  return 1;
}

int sa_read(FILE* fp, const char* name, hmet_reader_state& rs, hmet_record& r, int& repairs) {
  if (rs.day_hour >= 24) {
    const int got = sa_load_day(fp, name, rs, repairs);
    if (got <= 0) return got;
    rs.day_hour = 0;
  }
  const int h = rs.day_hour++;
  r.year = rs.day_date[0];
  r.month = rs.day_date[1];
  r.day = rs.day_date[2];
  r.hour = h;
  r.direct = rs.day_direct[h];
  r.global = rs.day_global[h];
  r.sky = rs.day_sky[h];
  r.temp = rs.day_temp[h];
  r.rh = rs.day_rh[h];
  r.pressure = rs.day_pressure[h];
  r.wind = rs.day_wind[h];
  return 1;
}

}  // namespace

int hmet_scan(FILE* fp, const char* name, hmet_format format, hmet_reader_state& rs,
              hmet_span& span, bool quiet) {
  rs = hmet_reader_state{};
  span = hmet_span{};
  int result = -1;
  switch (format) {
    case hmet_format::obu:
      result = obu_scan(fp, name, rs, span, quiet);
      break;
    case hmet_format::samson:
      result = samson_scan(fp, name, rs, span);
      break;
    case hmet_format::surface_airways:
      result = sa_scan(fp, name, rs, span, quiet);
      break;
  }
  if (result != 0) return -1;
  if (span.record_count == 0) {
    fail("Error: the hydrometeorological file %s holds no hourly records\n", name);
    return -1;
  }
  rewind(fp);
  rs = hmet_reader_state{};
  rs.scanned = 1;
  return 0;
}

int hmet_read(FILE* fp, const char* name, hmet_format format, hmet_reader_state& rs,
              hmet_record& record, int& repair_count) {
  if (rs.at_end) return 0;
  int got = -1;
  switch (format) {
    case hmet_format::obu:
      got = obu_read(fp, name, rs, record, repair_count);
      break;
    case hmet_format::samson:
      got = samson_read(fp, name, rs, record, repair_count);
      break;
    case hmet_format::surface_airways:
      got = sa_read(fp, name, rs, record, repair_count);
      break;
  }
  if (got == 0) rs.at_end = 1;
  return got;
}

hmet_format hmet_format_of(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  if (ss.hmet_samson) return hmet_format::samson;
  if (ss.hmet_surfaways) return hmet_format::surface_airways;
  return hmet_format::obu;
}

int read_hmet_record(model_state& ms, int mode) {
  file_handle& h = ms.input.hmet_file;
  const char* name = ms.input.names.hmet_file;
  if (h.fp == nullptr) {
    fail("Error: the hydrometeorological file %s is not open\n", name);
    return mode == 1 ? -1 : -2;
  }
  weather_state& w = ms.weather;
  const hmet_format format = hmet_format_of(ms);
  if (mode == 1) {
    hmet_span span;
    if (hmet_scan(h.fp, name, format, w.reader, span, ms.quiet != 0) != 0) return -1;
    memcpy(ms.hmet_first_date, span.first, sizeof span.first);
    memcpy(ms.hmet_last_date, span.last, sizeof span.last);
    w.record_count = span.record_count;
    w.year = span.first[0];
    w.month = span.first[1];
    w.day = span.first[2];
    w.hour = span.first[3];
    if (format == hmet_format::samson) {
      memcpy(ms.subsurface.hmet_station, span.station, sizeof span.station);
      w.station_lat = span.latitude;
      w.station_lon = span.longitude;
    }
    return 0;
  }
  hmet_record r;
  const int got = hmet_read(h.fp, name, format, w.reader, r, ms.subsurface.hmet_repair_count);
  if (got < 0) return -2;
  if (got == 0) return -1;
  w.year = r.year;
  w.month = r.month;
  w.day = r.day;
  w.hour = r.hour;
  w.direct_rad = r.direct;
  w.global_rad = r.global;
  w.sky_cover = r.sky;
  w.air_temp = r.temp;
  w.rel_humidity = r.rh;
  w.pressure = r.pressure;
  w.wind_speed = r.wind;
  ms.air_temp = r.temp;
  return 1;
}
