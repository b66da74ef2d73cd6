// Julian dates of the model clock: known dates, round trips through the calendar (leap years,
// century years, noon, the 0.01 s shift, carries into the next day), the day of the year and
// the limits of the date fields that the readers check before converting.
#include <gtest/gtest.h>

#include <string>

#include "framework/core/julian_time.h"

namespace {

struct calendar_time {
  int year, month, day, hour, minute;
  double seconds;
};

TEST(JulianTime, KnownDatesHaveTheirJulianDates) {
  EXPECT_DOUBLE_EQ(julian_from_date(2000, 1, 1, 12, 0, 0.0), 2451545.0);
  EXPECT_DOUBLE_EQ(julian_from_date(2000, 1, 1, 0, 0, 0.0), 2451544.5);
  EXPECT_DOUBLE_EQ(julian_from_date(1858, 11, 17, 0, 0, 0.0), 2400000.5);
  // A quarter day before and after noon.
  EXPECT_DOUBLE_EQ(julian_from_date(2000, 1, 1, 6, 0, 0.0), 2451544.75);
  EXPECT_DOUBLE_EQ(julian_from_date(2000, 1, 1, 18, 0, 0.0), 2451545.25);
}

TEST(JulianTime, CalendarFollowsTheGregorianLeapYears) {
  // Day after 28 February: 29 February in 2000 and 2024, 1 March in 1900, 2001 and 2100.
  const struct {
    int year;
    double days_to_march;
  } cases[] = {{2000, 2.0}, {2024, 2.0}, {1900, 1.0}, {2001, 1.0}, {2100, 1.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.year);
    EXPECT_DOUBLE_EQ(
        julian_from_date(c.year, 3, 1, 0, 0, 0.0) - julian_from_date(c.year, 2, 28, 0, 0, 0.0),
        c.days_to_march);
  }
  // Days past the end of a month carry into the next one.
  EXPECT_EQ(julian_from_date(2001, 2, 29, 0, 0, 0.0), julian_from_date(2001, 3, 1, 0, 0, 0.0));
  EXPECT_EQ(julian_from_date(2001, 4, 31, 9, 0, 0.0), julian_from_date(2001, 5, 1, 9, 0, 0.0));
  // A whole year across a turn of the century: 365 days for 1999, 366 for 2000.
  EXPECT_DOUBLE_EQ(
      julian_from_date(2000, 1, 1, 0, 0, 0.0) - julian_from_date(1999, 1, 1, 0, 0, 0.0), 365.0);
  EXPECT_DOUBLE_EQ(
      julian_from_date(2001, 1, 1, 0, 0, 0.0) - julian_from_date(2000, 1, 1, 0, 0, 0.0), 366.0);
}

TEST(JulianTime, DatesComeBackFromTheirJulianDates) {
  // Each date goes to a Julian date and back; the seconds come back 0.01 s later (the shift
  // that keeps a time just below a whole second in that second).
  const struct {
    calendar_time in;
    calendar_time out;
  } cases[] = {
      {{2000, 1, 1, 12, 0, 0.0}, {2000, 1, 1, 12, 0, 0.01}},  // noon: the Julian day begins
      {{2000, 1, 1, 0, 0, 0.0}, {2000, 1, 1, 0, 0, 0.01}},
      {{1858, 11, 17, 0, 0, 0.0}, {1858, 11, 17, 0, 0, 0.01}},
      {{2000, 2, 29, 6, 30, 15.0}, {2000, 2, 29, 6, 30, 15.01}},
      {{2024, 2, 29, 18, 45, 30.5}, {2024, 2, 29, 18, 45, 30.51}},
      {{1900, 2, 29, 10, 0, 0.0}, {1900, 3, 1, 10, 0, 0.01}},  // no 29 February in 1900
      {{2001, 2, 29, 0, 0, 0.0}, {2001, 3, 1, 0, 0, 0.01}},
      {{2100, 2, 29, 13, 0, 0.0}, {2100, 3, 1, 13, 0, 0.01}},
      {{1999, 12, 31, 23, 59, 0.0}, {1999, 12, 31, 23, 59, 0.01}},
      {{2000, 12, 31, 11, 59, 59.995}, {2000, 12, 31, 12, 0, 0.005}},  // carries across noon
      {{1999, 12, 31, 23, 59, 59.995}, {2000, 1, 1, 0, 0, 0.005}},     // into the next century
      {{2100, 2, 28, 23, 59, 59.995}, {2100, 3, 1, 0, 0, 0.005}},
      {{2024, 2, 28, 23, 59, 59.995}, {2024, 2, 29, 0, 0, 0.005}},
      {{1970, 6, 15, 8, 7, 6.0}, {1970, 6, 15, 8, 7, 6.01}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.in.year << "-" << c.in.month << "-" << c.in.day << " "
                                    << c.in.hour << ":" << c.in.minute << ":" << c.in.seconds);
    const double jd =
        julian_from_date(c.in.year, c.in.month, c.in.day, c.in.hour, c.in.minute, c.in.seconds);
    calendar_time got{-1, -1, -1, -1, -1, -1.0};
    date_from_julian(jd, got.year, got.month, got.day, got.hour, got.minute, got.seconds);
    EXPECT_EQ(got.year, c.out.year);
    EXPECT_EQ(got.month, c.out.month);
    EXPECT_EQ(got.day, c.out.day);
    EXPECT_EQ(got.hour, c.out.hour);
    EXPECT_EQ(got.minute, c.out.minute);
    // A Julian date near 2.4e6 days resolves about 5e-5 s.
    EXPECT_NEAR(got.seconds, c.out.seconds, 1e-3);
  }
}

TEST(JulianTime, ShiftKeepsATimeJustBelowASecondInThatSecond) {
  // 0.004 s below 10:20:30 is read as 10:20:30, not 10:20:29.996.
  const double jd = julian_from_date(2010, 7, 4, 10, 20, 30.0) - 0.004 / 86400.0;
  int y, mo, d, h, mi;
  double s;
  date_from_julian(jd, y, mo, d, h, mi, s);
  EXPECT_EQ(h, 10);
  EXPECT_EQ(mi, 20);
  EXPECT_EQ(static_cast<int>(s), 30);
}

TEST(JulianTimeDayOfYear, CountsFebruaryAsLongInEveryFourthYear) {
  // The rule: every year divisible by 4 has a 29 February, century years included.
  const struct {
    int year, month, day, expected;
  } cases[] = {
      {2024, 1, 15, 15},   {2023, 2, 1, 32},    {2023, 3, 1, 60},    {2024, 3, 1, 61},
      {2100, 3, 1, 61},    {1900, 3, 1, 61},    {2023, 12, 31, 365}, {2024, 12, 31, 366},
      {2100, 12, 31, 366}, {2001, 12, 31, 365}, {2000, 2, 29, 60},   {2023, 7, 4, 185},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.year << "-" << c.month << "-" << c.day);
    EXPECT_EQ(day_of_year(c.year, c.month, c.day), c.expected);
  }
}

TEST(JulianTimeDayOfYear, FebruaryEntryIsSetForTheYearBeforeUse) {
  set_february_days(2023);
  EXPECT_EQ(month_days[2], 28);
  set_february_days(2100);
  EXPECT_EQ(month_days[2], 29);
  // A leap February left in the table does not lengthen a common year's count.
  EXPECT_EQ(day_of_year(2023, 3, 1), 60);
  EXPECT_EQ(month_days[2], 28);
  // The other months keep their lengths.
  const int lengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(month_days[m], lengths[m]) << m;
  // A month past December counts no more than the whole year.
  EXPECT_EQ(day_of_year(2023, 14, 1), 366);
}

TEST(JulianTimeLimits, NamesTheFirstFieldOutsideItsRange) {
  const struct {
    int date[5];
    const date_limits* limits;
    const char* expected;  // empty: inside
  } cases[] = {
      {{2001, 2, 31, 24, 59}, &calendar_date_limits, ""},  // carries into March, then a day
      {{0, 1, 1, 0, 0}, &calendar_date_limits, ""},
      {{9999, 12, 31, 0, 0}, &calendar_date_limits, ""},
      {{-1, 1, 1, 0, 0}, &calendar_date_limits, "year -1 is outside 0 to 9999"},
      {{2112000, 3, 14, 0, 0}, &calendar_date_limits, "year 2112000 is outside 0 to 9999"},
      {{2000, 0, 1, 0, 0}, &calendar_date_limits, "month 0 is outside 1 to 12"},
      {{2000, 13, 40, 0, 0}, &calendar_date_limits, "month 13 is outside 1 to 12"},
      {{2000, 1, 0, 0, 0}, &calendar_date_limits, "day 0 is outside 1 to 31"},
      {{2000, 1, 32, 0, 0}, &calendar_date_limits, "day 32 is outside 1 to 31"},
      {{2000, 1, 1, 25, 0}, &calendar_date_limits, "hour 25 is outside 0 to 24"},
      {{2000, 1, 1, -1, 0}, &calendar_date_limits, "hour -1 is outside 0 to 24"},
      {{2000, 1, 1, 0, 60}, &calendar_date_limits, "minute 60 is outside 0 to 59"},
      // Offsets after a start: hours past a day, minutes past an hour and negative offsets.
      {{0, 0, 1, 36, 90}, &date_offset_limits, ""},
      {{0, 0, -2, 0, -30}, &date_offset_limits, ""},
      {{0, 0, 0, 0, 35000001},
       &date_offset_limits,
       "minute 35000001 is outside -35000000 to "
       "35000000"},
      {{1500000, 0, 0, 0, 0}, &date_offset_limits, "year 1500000 is outside -10000 to 10000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(date_fields_outside(c.date, *c.limits), c.expected);
  }
  // Only the fields asked for are checked: the hour and minute of a time of day.
  const int time_only[5] = {0, 0, 0, 6, 75};
  EXPECT_EQ(date_fields_outside(time_only, calendar_date_limits, 3, 3), "");
  EXPECT_EQ(date_fields_outside(time_only, calendar_date_limits, 3, 4),
            "minute 75 is outside 0 to 59");
}

TEST(JulianTimeLimits, ADayPastTheEndOfItsMonthIsNamedWithTheMonthsLength) {
  const struct {
    int date[5];
    const char* expected;  // empty: the day exists
  } cases[] = {
      {{2005, 2, 28, 0, 0}, ""},
      {{2005, 2, 29, 0, 0}, "February 2005 has 28 days"},
      {{2005, 2, 30, 12, 0}, "February 2005 has 28 days"},
      {{2005, 2, 31, 0, 0}, "February 2005 has 28 days"},
      {{2004, 2, 29, 0, 0}, ""},
      {{2004, 2, 30, 0, 0}, "February 2004 has 29 days"},
      {{2000, 2, 29, 0, 0}, ""},                           // divisible by 400: a leap year
      {{1900, 2, 29, 0, 0}, "February 1900 has 28 days"},  // a century year: none
      {{2005, 4, 30, 24, 0}, ""},
      {{2005, 4, 31, 0, 0}, "April 2005 has 30 days"},
      {{2005, 6, 31, 0, 0}, "June 2005 has 30 days"},
      {{2005, 9, 31, 0, 0}, "September 2005 has 30 days"},
      {{2005, 11, 31, 0, 0}, "November 2005 has 30 days"},
      {{2005, 1, 31, 0, 0}, ""},
      {{2005, 12, 31, 0, 0}, ""},
  };
  for (const auto& c : cases) {
    const int* d = c.date;
    SCOPED_TRACE(std::to_string(d[0]) + "-" + std::to_string(d[1]) + "-" + std::to_string(d[2]));
    EXPECT_EQ(date_day_past_month_end(c.date), c.expected);
    // A day the check lets pass is one julian_from_date does not carry into the next month:
    // the Julian date comes back as the same calendar day.
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double seconds = 0.0;
    date_from_julian(julian_from_date(d[0], d[1], d[2], 12, 0, 0.0), year, month, day, hour, minute,
                     seconds);
    EXPECT_EQ(std::string(c.expected).empty(), month == d[1] && day == d[2]);
  }
  // Every month of a common and of a leap year, against the day after its last.
  int lengths = 0;
  for (int year : {2005, 2008})
    for (int m = 1; m <= 12; ++m) {
      const double last = julian_from_date(year, m, calendar_month_days(year, m), 0, 0, 0.0);
      const double next = m < 12 ? julian_from_date(year, m + 1, 1, 0, 0, 0.0)
                                 : julian_from_date(year + 1, 1, 1, 0, 0, 0.0);
      EXPECT_EQ(next - last, 1.0) << year << " " << m;
      lengths += calendar_month_days(year, m);
    }
  EXPECT_EQ(lengths, 365 + 366);
}

TEST(JulianTimeLimits, DatesAtTheLimitsConvertWithoutOverflow) {
  // The last calendar date: 9999-12-31 24:59 is 59 minutes into 10000-01-01.
  EXPECT_DOUBLE_EQ(julian_from_date(9999, 12, 31, 24, 59, 0.0), 5373484.5 + 59.0 / 1440.0);
  // Offsets at their limits, each against the day count it stands for; an overflow of the
  // integer arithmetic would wrap far away from it.
  const double origin = julian_from_date(0, 0, 0, 0, 0, 0.0);
  const date_limits& o = date_offset_limits;
  for (int side = 0; side < 2; ++side) {
    const int* edge = side == 0 ? o.low : o.high;
    SCOPED_TRACE(side == 0 ? "lowest" : "highest");
    EXPECT_DOUBLE_EQ(julian_from_date(0, 0, edge[2], 0, 0, 0.0) - origin, edge[2]);
    EXPECT_NEAR(julian_from_date(0, 0, 0, edge[3], 0, 0.0) - origin, edge[3] / 24.0, 1e-6);
    EXPECT_NEAR(julian_from_date(0, 0, 0, 0, edge[4], 0.0) - origin, edge[4] / 1440.0, 1e-6);
    EXPECT_NEAR(julian_from_date(0, 0, edge[2], edge[3], edge[4], 0.0) - origin,
                edge[2] + edge[3] / 24.0 + edge[4] / 1440.0, 1e-6);
  }
  // 10000 Gregorian years are 25 cycles of 146097 days.
  EXPECT_DOUBLE_EQ(
      julian_from_date(o.high[0], 3, 1, 0, 0, 0.0) - julian_from_date(0, 3, 1, 0, 0, 0.0),
      3652425.0);
}

}  // namespace
