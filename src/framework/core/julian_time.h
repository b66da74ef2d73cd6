// Julian dates of the model clock: conversions between calendar dates and astronomical Julian
// dates (days beginning at noon), and the month-length table with its February rule. Used by
// the clock of the time loop, the series readers and the dated outputs.
#pragma once

#include <string>

// Month lengths, entries 1..12 (entry 0 is 0 and never read). February's entry is rewritten
// by set_february_days before every use.
extern int month_days[13];

// Julian date of a calendar date and time (Gregorian calendar). Days past the end of a month
// carry into the next one: 29 February 2001 gives the same date as 1 March 2001. No checks.
double julian_from_date(int year, int month, int day, int hour, int minute, double seconds);

// Calendar date and time of a Julian date. The date is first moved on by 0.01 s so that a time
// a hair below a whole second is not split into the previous second; `seconds` therefore
// carries that 0.01 s. No checks.
void date_from_julian(double jd, int& year, int& month, int& day, int& hour, int& minute,
                      double& seconds);

// Sets month_days[2] for `year`: 29 in every year divisible by 4 (no century exception), else
// 28.
void set_february_days(int year);

// Day of the year, 1 for 1 January: in January the day, otherwise the lengths of the months
// before `month` (February by set_february_days) plus the day.
int day_of_year(int year, int month, int day);

// Ranges of the five fields of a date read from an input (year, month, day, hour, minute),
// checked before the date reaches julian_from_date: a field far outside them would overflow the
// integer day count.
struct date_limits {
  int low[5];
  int high[5];
};

// A calendar date: years 0 to 9999, months 1 to 12, days 1 to 31 (a day past the end of a
// shorter month carries into the next one), hours 0 to 24 (24:00 is the midnight that ends the
// day) and minutes 0 to 59.
inline constexpr date_limits calendar_date_limits = {{0, 1, 1, 0, 0}, {9999, 12, 31, 24, 59}};

// A time after a start, as the rows of a RELATIVE series give it: any field may pass its
// calendar range (hour 36, minute 90) or be negative. Each field on its own reaches about 10000
// years either way in its own unit, except minutes, which stop at about 66 years: the minutes
// are turned into seconds in a 32-bit int.
inline constexpr date_limits date_offset_limits = {
    {-10000, -120000, -3660000, -87840000, -35000000},
    {10000, 120000, 3660000, 87840000, 35000000}};

// Days in `month` (1..12) of `year` in the calendar of julian_from_date, the Gregorian one:
// February has 29 days in years divisible by 4, except the century years not divisible by 400.
int calendar_month_days(int year, int month);

// A date read as a calendar date names a day its month has: julian_from_date carries a day past
// the month's end (31 April) into the next month, and a dated series read with it would jump.
// Returns an empty text when the day (field 2) of `date` (fields inside calendar_date_limits, the
// year as written) exists in its month and year; otherwise a text naming the month and its length,
// for example "February 2005 has 28 days".
std::string date_day_past_month_end(const int date[5]);

// Checks the fields `first` to `last` (0 year, 1 month, 2 day, 3 hour, 4 minute) of `date`
// against `limits`. Returns an empty text when they all lie inside; otherwise a text that names
// the first field outside with its value and range, for example "month 13 is outside 1 to 12".
std::string date_fields_outside(const int date[5], const date_limits& limits, int first = 0,
                                int last = 4);
