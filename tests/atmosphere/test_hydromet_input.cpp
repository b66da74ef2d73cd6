// Hydrometeorological readers: the scan finds the span and count of each format's records; the
// hourly reads convert to model units and fill missing values with the last good one (of the
// same hour of the day where the quantity follows the sun); SAMSON's hour 24 is the next day's
// hour 0 by the leap rule; a Surface Airways day without direct radiation has none; and bad
// records stop with a message naming the file, the line and the field.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "atmosphere/hydromet_input.h"
#include "framework/core/error_state.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// Scans and then reads every record of `text` in `format`.
struct read_all {
  int scan = 0;
  hmet_span span;
  std::vector<hmet_record> records;
  int last_result = 0;
  int repairs = 0;
  std::string printed;
};

read_all read_text(const std::string& text, hmet_format format) {
  write_file("weather.txt", text);
  read_all r;
  FILE* fp = fopen("weather.txt", "r");
  hmet_reader_state rs;
  stdout_capture capture;
  r.scan = hmet_scan(fp, "weather.txt", format, rs, r.span, true);
  if (r.scan == 0) {
    hmet_record rec;
    while ((r.last_result = hmet_read(fp, "weather.txt", format, rs, rec, r.repairs)) == 1)
      r.records.push_back(rec);
  }
  r.printed = capture.stop();
  fclose(fp);
  return r;
}

class HmetInput : public ::testing::Test {
 protected:
  process_state_guard guard_;
  temp_dir dir_;
};

std::string obu_line(int day, int hour, const std::string& pressure, int rh, int sky, int wind,
                     int temp, const std::string& global) {
  std::ostringstream s;
  s << "2001 1 " << day << " " << hour << " " << pressure << " " << rh << " " << sky << " " << wind
    << " " << temp << " 100.0 " << global << "\n";
  return s.str();
}

TEST_F(HmetInput, ObuRecordsConvertAndFillMissingValuesFromTheSameHour) {
  std::string text;
  for (int k = 0; k < 26; ++k) {
    const int day = 1 + k / 24, hour = k % 24;
    std::string pressure = k == 24 ? "999.0" : "29.92";
    const int rh = k == 25 ? 999 : 50 + k;
    const int temp = k == 25 ? 999 : 50 + k;
    text += obu_line(day, hour, pressure, rh, 30, 10, temp, std::to_string(200 + k) + ".0");
  }
  const read_all r = read_text(text, hmet_format::obu);
  ASSERT_EQ(r.scan, 0) << r.printed;
  EXPECT_EQ(r.span.record_count, 26);
  EXPECT_EQ(r.span.first[2], 1);
  EXPECT_EQ(r.span.first[3], 0);
  EXPECT_EQ(r.span.last[2], 2);
  EXPECT_EQ(r.span.last[3], 1);
  ASSERT_EQ(r.records.size(), 26u);
  EXPECT_EQ(r.last_result, 0);
  const hmet_record& first = r.records[0];
  EXPECT_NEAR(first.temp, 10.0, 1e-12);  // 50 F
  EXPECT_NEAR(first.pressure, 1013.25, 1e-9);
  EXPECT_NEAR(first.wind, 5.14444, 1e-12);
  EXPECT_NEAR(first.sky, 3.0, 1e-12);
  EXPECT_EQ(first.global, 200.0);
  // Day 2 hour 0: the pressure is the last good one; hour 1: humidity and temperature are those
  // of hour 1 of day 1.
  EXPECT_NEAR(r.records[24].pressure, 1013.25, 1e-9);
  EXPECT_EQ(r.records[25].rh, 51.0);
  EXPECT_NEAR(r.records[25].temp, (51.0 - 32.0) * 5.0 / 9.0, 1e-12);
  EXPECT_EQ(r.records[25].global, 225.0);
  EXPECT_EQ(r.repairs, 3);
}

TEST_F(HmetInput, BadObuRecordsStopNamingTheFileLineAndField) {
  const struct {
    std::string third;  // the third line
    std::string shown;  // what the message must say
  } cases[] = {
      {"2001 1 1 2 29.92 50 30 10 50 100.0\n", "weather.txt, line 3, near parameter 11"},
      {"2001 1 1 2 29.92 50 x 10 50 100.0 200.0\n", "weather.txt, line 3, near parameter 7"},
      {"2001 1 1 2 29.92 50 30 10 50 100.0 200.0 7\n", "weather.txt, line 3: more than 11"},
      // Each field is read whole: a field that only begins with a number is the faulty one.
      {"2001 1 1 2 29.92 50.5 30 10 50 100.0 200.0\n", "weather.txt, line 3, near parameter 6"},
      {"2001 1 1 2 1e999 50 30 10 50 100.0 200.0\n", "weather.txt, line 3, near parameter 5"},
      {"2001 1 1 2 29.92 50 30 10 50 100.0 200.0abc\n", "weather.txt, line 3, near parameter 11"},
      {"2001 1 1 4 29.92 50 30 10 50 100.0 200.0\n",
       "line 3 of the hydrometeorological file weather.txt: the record of 2001/1/1 4:00 does not "
       "follow one hour"},
      {"2001 13 1 2 29.92 50 30 10 50 100.0 200.0\n",
       "line 3 of the hydrometeorological file "
       "weather.txt: the month"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.third);
    run_error = error_state{};
    const std::string text = obu_line(1, 0, "29.92", 50, 30, 10, 50, "200.0") +
                             obu_line(1, 1, "29.92", 50, 30, 10, 50, "200.0") + c.third;
    const read_all r = read_text(text, hmet_format::obu);
    EXPECT_EQ(r.scan, -1);
    EXPECT_EQ(run_error.error_code, 4000);
    EXPECT_TRUE(contains(r.printed, c.shown)) << r.printed;
  }
}

// A SAMSON data line with its fields right-aligned in their columns.
std::string samson_line(int yy, int mm, int dd, int hh, int direct, int global, int sky,
                        double temp, int rh, int pressure, double wind) {
  std::string line(86, ' ');
  auto put = [&](int last, const std::string& text) {
    line.replace(static_cast<std::size_t>(last + 1 - static_cast<int>(text.size())), text.size(),
                 text);
  };
  char t[32];
  put(2, std::to_string(yy));
  put(5, std::to_string(mm));
  put(8, std::to_string(dd));
  put(11, std::to_string(hh));
  put(36, std::to_string(direct));
  put(44, std::to_string(global));
  put(50, std::to_string(sky));
  snprintf(t, sizeof t, "%.1f", temp);
  put(59, t);
  put(69, std::to_string(rh));
  put(74, std::to_string(pressure));
  snprintf(t, sizeof t, "%.1f", wind);
  put(84, t);
  return line + "\n";
}

std::string samson_header() {
  std::string h(60, ' ');
  h.replace(7, 10, "MADISON WI");
  h.replace(39, 2, "43");
  h.replace(42, 2, "08");
  h.replace(47, 3, " 89");
  h.replace(51, 2, "20");
  return h + "\n~ column header line\n";
}

TEST_F(HmetInput, SamsonHour24IsHourZeroOfTheNextDayByTheLeapRule) {
  const struct {
    int yy;
    int month, day;  // of hour 24 on 28 February
  } cases[] = {{96, 2, 29}, {97, 3, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.yy);
    const std::string text = samson_header() +
                             samson_line(c.yy, 2, 28, 23, 0, 0, 5, -2.5, 80, 990, 3.1) +
                             samson_line(c.yy, 2, 28, 24, 9999, 9999, 99, 999.9, 999, 9999, 99.0);
    const read_all r = read_text(text, hmet_format::samson);
    ASSERT_EQ(r.scan, 0) << r.printed;
    EXPECT_EQ(r.span.record_count, 2);
    EXPECT_EQ(r.span.last[3], 24);
    EXPECT_NEAR(r.span.latitude, 43.0 + 8.0 / 60.0, 1e-12);
    EXPECT_NEAR(r.span.longitude, 89.0 + 20.0 / 60.0, 1e-12);
    EXPECT_EQ(std::string(r.span.station).substr(0, 10), "MADISON WI");
    ASSERT_EQ(r.records.size(), 2u);
    const hmet_record& h = r.records[1];
    EXPECT_EQ(h.year, 1900 + c.yy);
    EXPECT_EQ(h.month, c.month);
    EXPECT_EQ(h.day, c.day);
    EXPECT_EQ(h.hour, 0);
    // Every value of the second line is missing: the last good ones stand in.
    EXPECT_EQ(h.temp, -2.5);
    EXPECT_EQ(h.pressure, 990.0);
    EXPECT_EQ(h.wind, 3.1);
    EXPECT_EQ(h.sky, 5.0);
    EXPECT_EQ(r.repairs, 7);
  }
}

TEST_F(HmetInput, ShortSamsonLinesStopNamingTheFileLineAndField) {
  std::string good = samson_line(97, 5, 1, 1, 0, 0, 5, 12.0, 60, 1000, 2.0);
  const std::string text = samson_header() + good + good.substr(0, 61) + "\n";
  const read_all r = read_text(text, hmet_format::samson);
  EXPECT_EQ(r.scan, -1);
  EXPECT_EQ(run_error.error_code, 4000);
  EXPECT_TRUE(contains(r.printed,
                       "line 4 of the hydrometeorological file weather.txt is 61 "
                       "characters long: its wind speed field needs columns 80-85"))
      << r.printed;
}

// A Surface Airways element line of one day with the given values.
std::string sa_line(const char* code, int day, const std::vector<int>& values) {
  char head[40];
  snprintf(head, sizeof head, "99999999999%-4s  %04d%02d  %02d%03d", code, 2003, 7, day,
           static_cast<int>(values.size()));
  std::string line = head;
  for (std::size_t k = 0; k < values.size(); ++k) {
    char group[16];
    snprintf(group, sizeof group, "%04d %05d  ", static_cast<int>(k) * 100, values[k]);
    line += group;
  }
  return line + "\n";
}

std::string sa_day(int day, bool with_direct, int temp_f) {
  std::string text;
  if (with_direct) text += sa_line("DRAD", day, std::vector<int>(24, 1230));
  text += sa_line("GRAD", day, std::vector<int>(24, 4560));
  text += sa_line("PRES", day, std::vector<int>(24, 29920));
  text += sa_line("RHUM", day, std::vector<int>(24, 65));
  std::vector<int> temp(24, temp_f);
  if (day == 2) temp[5] = 99999;
  text += sa_line("TMPD", day, temp);
  std::vector<int> sky(24, 1007);
  if (day == 2) sky[3] = 99907;
  text += sa_line("TSKC", day, sky);
  text += sa_line("WIND", day, std::vector<int>(24, 27012));
  return text;
}

TEST_F(HmetInput, SurfaceAirwaysDaysFillTheirHoursAndADayWithoutDirectRadiationHasNone) {
  const read_all r =
      read_text(sa_day(1, false, 68) + sa_day(2, true, 77), hmet_format::surface_airways);
  ASSERT_EQ(r.scan, 0) << r.printed;
  EXPECT_EQ(r.span.record_count, 48);
  EXPECT_EQ(r.span.first[2], 1);
  EXPECT_EQ(r.span.last[2], 2);
  EXPECT_EQ(r.span.last[3], 23);
  ASSERT_EQ(r.records.size(), 48u) << r.printed;
  for (int k = 0; k < 24; ++k) {
    EXPECT_EQ(r.records[k].direct, 0.0) << k;
    EXPECT_EQ(r.records[24 + k].direct, 123.0) << k;
    EXPECT_EQ(r.records[24 + k].hour, k);
  }
  const hmet_record& h = r.records[0];
  EXPECT_EQ(h.global, 456.0);
  EXPECT_NEAR(h.pressure, 29920 * 33.86530748663101 / 1000.0, 1e-12);
  EXPECT_EQ(h.rh, 65.0);
  EXPECT_NEAR(h.temp, 20.0, 1e-12);
  EXPECT_EQ(h.sky, 7.0);
  EXPECT_NEAR(h.wind, 12 * 0.514444, 1e-12);
  // Day 2: hour 5's missing temperature is day 1's at hour 5; hour 3's missing sky the last.
  EXPECT_NEAR(r.records[24 + 5].temp, 20.0, 1e-12);
  EXPECT_NEAR(r.records[24 + 6].temp, 25.0, 1e-12);
  EXPECT_EQ(r.records[24 + 3].sky, 7.0);
  EXPECT_EQ(r.repairs, 2);
}

TEST_F(HmetInput, BadSurfaceAirwaysFilesStopWithTheirMessages) {
  std::string more = sa_line("TMPD", 1, std::vector<int>(25, 60));
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {sa_day(1, true, 60) + more,
       "line 8 of the hydrometeorological file weather.txt: the value count (columns 28-30) is 25; "
       "a day has at most 24 hourly values"},
      {sa_day(1, true, 60) + sa_line("TMPD", 2, std::vector<int>(24, 60)),
       "days of rel. humidity data than temperature data."},
      {sa_day(1, true, 60).substr(0, 100) + "\n",
       "line 1 of the hydrometeorological file weather.txt is 100 characters long: its 24 values"},
  };
  for (const auto& c : cases) {
    run_error = error_state{};
    const read_all r = read_text(c.text, hmet_format::surface_airways);
    EXPECT_EQ(r.scan, -1);
    EXPECT_EQ(run_error.error_code, 4000);
    EXPECT_TRUE(contains(r.printed, c.shown)) << r.printed;
  }
}

}  // namespace
