// Julian dates of the model clock: calendar date <-> astronomical Julian date, and the day of
// the year with the model's February rule. Called by the clock at every step, by the event and
// series readers for their row times and by the dated outputs.
#include "framework/core/julian_time.h"

#include "framework/core/units.h"

int month_days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

namespace {

// Julian day number of the day before 1 March of year 0: the origin of the day count, whose
// years begin on 1 March.
constexpr int day_count_origin = 1721119;

// 0.01 s in days: the shift that keeps a time just below a whole second in that second.
constexpr double second_shift_days = 1.1574074074074074e-07;

// Names of the five date fields in the order they are read: year, month, day, hour, minute.
constexpr const char* date_field_names[5] = {"year", "month", "day", "hour", "minute"};

// Month names, entries 1..12.
constexpr const char* month_names[13] = {"",        "January",  "February", "March",  "April",
                                         "May",     "June",     "July",     "August", "September",
                                         "October", "November", "December"};

}  // namespace

double julian_from_date(int year, int month, int day, int hour, int minute, double seconds) {
  const double s = (minute * 60) + hour * seconds_per_hour + seconds;
  // Years are counted from 1 March so that February, with its variable length, ends the year.
  int m;
  int y;
  if (month > 2) {
    m = month - 3;
    y = year;
  } else {
    m = month + 9;
    y = year - 1;
  }
  const int c = y / 100;
  const int ya = y - 100 * c;
  const int n = (146097 * c) / 4 + (153 * m + 2) / 5 + day + (1461 * ya) / 4 + day_count_origin;
  // n numbers the Julian day that begins at noon of the calendar date.
  if (s < 43200.0) return (s + 43200.0) / seconds_per_hour / 24.0 + (n - 1);
  return (s - 43200.0) / seconds_per_hour / 24.0 + n;
}

void date_from_julian(double jd, int& year, int& month, int& day, int& hour, int& minute,
                      double& seconds) {
  const double t = jd + second_shift_days;
  int n = static_cast<int>(t);
  double f = t - n;
  // Move from days beginning at noon to civil days beginning at midnight.
  if (f >= 0.5) {
    n = n + 1;
    f = f - 0.5;
  } else {
    f = f + 0.5;
  }
  const int j = n - day_count_origin;
  const int y = (4 * j - 1) / 146097;
  int d = (4 * j - 1 - 146097 * y) / 4;
  const int a = (4 * d + 3) / 1461;
  d = (4 * d + 3 - 1461 * a + 4) / 4;
  const int m = (5 * d - 3) / 153;
  day = (5 * d - 3 - 153 * m + 5) / 5;
  year = 100 * y + a;
  if (m < 10) {
    month = m + 3;
  } else {
    month = m - 9;
    year = year + 1;
  }
  double secs = f * 24.0 * seconds_per_hour;
  hour = static_cast<int>(secs / seconds_per_hour);
  secs = secs - hour * seconds_per_hour;
  minute = static_cast<int>(secs / 60.0);
  secs = secs - minute * 60.0;
  seconds = secs;
}

void set_february_days(int year) {
  month_days[2] = (year % 4 == 0) ? 29 : 28;
}

int day_of_year(int year, int month, int day) {
  if (month <= 1) return day;
  set_february_days(year);
  // The table has twelve months; a month past December adds no more than a whole year.
  const int last = month - 1 < 12 ? month - 1 : 12;
  int total = day;
  for (int i = 1; i <= last; ++i) total += month_days[i];
  return total;
}

int calendar_month_days(int year, int month) {
  constexpr int lengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month != 2) return lengths[month];
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return leap ? 29 : 28;
}

std::string date_day_past_month_end(const int date[5]) {
  const int days = calendar_month_days(date[0], date[1]);
  if (days == 0 || date[2] <= days) return std::string();
  return std::string(month_names[date[1]]) + " " + std::to_string(date[0]) + " has " +
         std::to_string(days) + " days";
}

std::string date_fields_outside(const int date[5], const date_limits& limits, int first, int last) {
  for (int i = first < 0 ? 0 : first; i <= last && i < 5; ++i) {
    if (date[i] >= limits.low[i] && date[i] <= limits.high[i]) continue;
    return std::string(date_field_names[i]) + " " + std::to_string(date[i]) + " is outside " +
           std::to_string(limits.low[i]) + " to " + std::to_string(limits.high[i]);
  }
  return std::string();
}
