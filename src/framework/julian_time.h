// Julian dates of the model clock: conversions between calendar dates and astronomical Julian
// dates (days beginning at noon), and the month-length table with its February rule. Used by
// the clock of the time loop, the series readers and the dated outputs.
#pragma once

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
