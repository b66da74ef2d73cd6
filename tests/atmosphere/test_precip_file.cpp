// The precipitation file reader: events of gauge and radar-file records, the data-card and date
// checks, the counts the event table can hold, and the ends of the file inside and between
// events.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "atmosphere/precip_file.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "support/test_support.h"

using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

class PrecipFile : public ::testing::Test {
 protected:
  void SetUp() override { ms_ = std::make_unique<model_state>(); }

  // Writes the precipitation file and opens it as the run's rain-gauge file.
  void open(const std::string& text) {
    write_file(dir_.file("rain.gag"), text);
    snprintf(ms_->input.names.precip_file, sizeof ms_->input.names.precip_file, "rain.gag");
    ASSERT_TRUE(file_handle_open(ms_->input.raingage_file, dir_.file("rain.gag").c_str(), "r"));
  }
  // Reads one event; the console output is kept in out_.
  int read() {
    stdout_capture capture;
    const int result = read_precip_event(*ms_, ms_->input.raingage_file);
    out_ = capture.stop();
    return result;
  }
  const int* date(int k) const { return ms_->overland.rain_events[k].value; }

  torva_test::process_state_guard process_state_;  // destroyed after the folder and the state
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
  std::string out_;
};

TEST_F(PrecipFile, ReadsGaugeEventsOneAfterAnotherThenTheEndOfTheFile) {
  open(
      "EVENT \"Storm of May\"\r\n"
      "NRPDS 3\nNRGAG 2\n"
      "COORD 100.5 200.0 gauge one\n"
      "COORD 300.0 400.25\n"
      "GAGES 99 5 1 10 00  1.0 2.0\n"
      "GAGES 1999 5 1 10 30  3.0 4.0\n"
      "GAGES 2000 1 2 0 0  5.0 6.0\n"
      "\n# notes between storms are passed over\n"
      "EVENT second\nNRGAG 1 NRPDS 2\nCOORD 0 0\n"
      "RATES 2001 6 1 0 0 12.5\nRATES 2001 6 1 1 0 0.0\n");
  overland_state& ov = ms_->overland;
  ASSERT_EQ(read(), 1);
  EXPECT_EQ(ov.precip_event_title, "\"Storm of May\"");
  EXPECT_EQ(ov.precip_gage_count, 2);
  EXPECT_EQ(ov.precip_record_count, 3);
  EXPECT_EQ(ov.precip_gages, 1);
  EXPECT_EQ(ov.precip_rates + ov.precip_accum + ov.precip_radar, 0);
  EXPECT_DOUBLE_EQ(ov.precip_gage_x[1], 100.5);
  EXPECT_DOUBLE_EQ(ov.precip_gage_y[2], 400.25);
  EXPECT_DOUBLE_EQ(ov.precip_values[1][1], 1.0);
  EXPECT_DOUBLE_EQ(ov.precip_values[2][2], 4.0);
  EXPECT_DOUBLE_EQ(ov.precip_values[2][3], 6.0);
  // A two-digit year is in the 1900s.
  const int first[5] = {1999, 5, 1, 10, 0};
  const int third[5] = {2000, 1, 2, 0, 0};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(date(1)[i], first[i]);
    EXPECT_EQ(date(3)[i], third[i]);
  }

  ASSERT_EQ(read(), 1);
  EXPECT_EQ(ov.precip_event_title, "second");
  EXPECT_EQ(ov.precip_gage_count, 1);
  EXPECT_EQ(ov.precip_record_count, 2);
  EXPECT_EQ(ov.precip_rates, 1);
  EXPECT_EQ(ov.precip_gages, 0);  // the flags start afresh with each event
  EXPECT_DOUBLE_EQ(ov.precip_values[1][1], 12.5);
  EXPECT_EQ(date(2)[3], 1);
  EXPECT_EQ(ov.precip_event_count, 2);

  EXPECT_EQ(read(), 0);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(run_error.error_code, 0);
}

// A radar grid file of 4 columns and 3 rows with the given header.
std::string radar_file(const std::string& header =
                           "ncols 4\nnrows 3\nxllcorner 1000.0\nyllcorner 2000.0\n"
                           "cellsize 50.0\nNODATA_value -9999\n") {
  return header + "0 0 0 0\n0 0 0 0\n0 0 0 0\n";
}

TEST_F(PrecipFile, RadarFileEventsKeepOneFileNamePerRecordAndReadTheFirstHeader) {
  write_file(dir_.file("r1.asc"), radar_file());
  write_file(dir_.file("r2.asc"), radar_file());
  open(
      "EVENT radar\nNRGAG FiLeS\nNRPDS 2\n"
      "RADAR 2003 7 4 12 0 " +
      dir_.file("r1.asc") + "\r\nRADAR 2003 7 4 12 15 " + dir_.file("r2.asc") + "\n");
  overland_state& ov = ms_->overland;
  ASSERT_EQ(read(), 1);
  EXPECT_EQ(ov.precip_radar, 2);
  EXPECT_EQ(ov.precip_gage_count, 1);
  ASSERT_EQ(ov.radar_filenames.size(), 4u);
  EXPECT_EQ(ov.radar_filenames[1], dir_.file("r1.asc"));
  EXPECT_EQ(ov.radar_filenames[2], dir_.file("r2.asc"));
  EXPECT_EQ(ov.radar_filenames[3], dir_.file("r2.asc"));  // the last name once more
  EXPECT_EQ(date(2)[4], 15);
  const radar_grid_record& radar = ov.radar_grid;
  EXPECT_EQ(radar.cols, 4);
  EXPECT_EQ(radar.rows, 3);
  EXPECT_DOUBLE_EQ(radar.west_edge, 1000.0);
  EXPECT_DOUBLE_EQ(radar.north_edge, 3 * 50.0 + 2000.0);
  EXPECT_DOUBLE_EQ(radar.nodata, -9999.0);
  EXPECT_EQ(radar.values.count(), 12);
}

TEST_F(PrecipFile, RadarHeaderOfAMissingOrShortFileIsRefused) {
  radar_grid_record radar;
  stdout_capture capture;
  EXPECT_EQ(read_radar_header(radar, dir_.file("none.asc").c_str()), -1);
  write_file(dir_.file("short.asc"), "ncols 4\nnrows 3\n");
  EXPECT_EQ(read_radar_header(radar, dir_.file("short.asc").c_str()), -1);
  EXPECT_TRUE(radar.values.empty());
}

// Header values that cannot size or place a radar grid are refused before they are used, and
// what is wrong is told by line.
TEST_F(PrecipFile, RadarHeaderValuesThatAreNoGridAreRefused) {
  const std::string tail = "xllcorner 1000.0\nyllcorner 2000.0\ncellsize 50.0\nNODATA_value -9\n";
  const struct {
    std::string header;
    const char* problem;
  } cases[] = {
      {"ncols 4\nnrows 2e14\n" + tail,
       "line 2 (nrows 2e+14): the columns and rows of a radar grid are whole numbers from 1, "
       "at most 20000000 cells in all"},
      {"ncols nan\nnrows 3\n" + tail, "line 1 (ncols nan): the columns and rows"},
      {"ncols 4.5\nnrows 3\n" + tail, "line 1 (ncols 4.5): the columns and rows"},
      {"ncols 0\nnrows 3\n" + tail, "line 1 (ncols 0): the columns and rows"},
      {"ncols 5000\nnrows 5000\n" + tail, "at most 20000000 cells in all"},
      {"ncols 4\nnrows 3\nxllcorner inf\nyllcorner 2000\ncellsize 50\nNODATA_value -9\n",
       "line 3 (xllcorner inf): not a finite number"},
      {"ncols 4\nnrows 3\nxllcorner 1\nyllcorner 2\ncellsize 0\nNODATA_value -9\n",
       "line 5 (cellsize 0): the cell size of a radar grid is a number above 0"},
      {"ncols 4\nnrows 3\nxllcorner 1\nyllcorner 2\ncellsize 50\nNODATA_value\n",
       "line 6 does not hold a keyword and a number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    radar_grid_record radar;
    write_file(dir_.file("bad.asc"), radar_file(c.header));
    std::string problem;
    EXPECT_EQ(read_radar_header(radar, dir_.file("bad.asc").c_str(), &problem), -1);
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    EXPECT_TRUE(radar.values.empty());
    EXPECT_EQ(radar.rows, 0);
  }
  std::string problem;
  radar_grid_record radar;
  EXPECT_EQ(read_radar_header(radar, dir_.file("none.asc").c_str(), &problem), -1);
  EXPECT_EQ(problem, "the file cannot be opened");
}

// A radar event stops at the scan when its grids cannot be read: a file that is not there, or a
// first file whose header does not read.
TEST_F(PrecipFile, RadarEventsWhoseFilesCannotBeReadStopTheRun) {
  const std::string head = "EVENT radar storm\nNRGAG files\nNRPDS 2\n";
  const std::string r1 = dir_.file("r1.asc");
  const std::string r2 = dir_.file("r2.asc");
  const struct {
    const char* name;
    std::string first;   // contents of r1.asc; empty: no such file
    std::string second;  // contents of r2.asc
    std::string message;
  } cases[] = {
      {"second file missing", radar_file(), "",
       "Error: the radar file " + r2 +
           " of record 2 of the EVENT titled:\n radar storm\nin the precipitation file "
           "rain.gag cannot be opened.\n"},
      {"first file missing", "", radar_file(), "Error: the radar file " + r1 + " of record 1"},
      {"first header short", "ncols 4\nnrows 3\n", radar_file(),
       "Error: unable to read radar header in file " + r1 +
           "\n       line 3 does not hold a keyword and a number"},
      {"first header of absurd size",
       radar_file("ncols 4\nnrows 2e14\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value 0\n"),
       radar_file(),
       "Error: unable to read radar header in file " + r1 + "\n       line 2 (nrows 2e+14)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    run_error = error_state{};
    ms_ = std::make_unique<model_state>();
    remove(r1.c_str());
    remove(r2.c_str());
    if (!c.first.empty()) write_file(r1, c.first);
    if (!c.second.empty()) write_file(r2, c.second);
    open(head + "RADAR 2003 7 4 12 0 " + r1 + "\nRADAR 2003 7 4 12 15 " + r2 + "\n");
    EXPECT_EQ(read(), 0);
    EXPECT_NE(out_.find(c.message), std::string::npos) << out_;
    EXPECT_EQ(run_error.error_code, error_code_own_message);
  }
}

// Format errors: each prints its lines, sets code 4000 and returns 0.
TEST_F(PrecipFile, FormatErrorsStopWithTheirMessages) {
  struct error_case {
    const char* name;
    std::string text;
    const char* message;
  };
  const std::string head = "EVENT bad one\nNRGAG 1\nNRPDS 3\nCOORD 0 0\n";
  std::string many_words;
  for (int i = 0; i < 10001; ++i) many_words += "word ";
  const error_case cases[] = {
      {"two data cards",
       head + "RATES 2001 1 1 0 0 1\nGAGES 2001 1 1 0 5 1\nRATES 2001 1 1 0 9 1\n",
       "More than one precipitation data card type has been specified.\n"},
      {"no data card", head + "FOO 2001 1 1 0 0 1\n",
       "At least one precipitation data card type must be specified."},
      {"earlier record",
       head + "RATES 2001 1 1 0 5 1\nRATES 2001 1 1 0 5 2\nRATES 2001 1 1 0 4 3\n",
       "On line no. 3, the given time of the recorded data is:    1/1/2001 0:04\n"
       "Which is earlier than the date/time on the previous line:  1/1/2001 0:05\n"},
      {"accumulation falls",
       head + "ACCUM 2001 1 1 0 0 1.0\nACCUM 2001 1 1 0 5 3.0\nACCUM 2001 1 1 0 9 2.5\n",
       "On line no. 3, the accumulated precip. for gage number 1 is:  2.50000 mm\n"
       "Which is less than the accumulated precip. on the previous line:  3.00000 mm\n"},
      {"no coordinates", "EVENT nc\nNRGAG 1\nNRPDS 1\nGAGES 2001 1 1 0 0 1\n",
       "\nCannot find gage coordinate card in rainfall input file for event entitled:\n"
       "       nc\n\n"},
      {"records beyond the table", "EVENT big\nNRGAG 1\nNRPDS 100001\nCOORD 0 0\n",
       "has 100001 records (NRPDS); an event holds 1 to 100000 records."},
      {"no records", "EVENT none\nNRGAG 1\nNRPDS 0\nCOORD 0 0\n",
       "has 0 records (NRPDS); an event holds 1 to 100000 records."},
      {"too many gauge values", "EVENT wide\nNRGAG 1000000\nNRPDS 100000\n",
       "an event holds at most 20000000 gauge values."},
      {"no counts", "EVENT lost\n" + many_words + "\n",
       "find the NRPDS or NRGAG card for the event entitled:\n   lost\n"},
      // Dates that are no calendar dates, and gauge values that are no rainfall.
      {"month outside the calendar", head + "RATES 2001 13 1 0 0 1\n",
       "The date of record 1 of the EVENT titled:\n bad one\nin the precipitation file "
       "rain.gag is no calendar date: month 13 is outside 1 to 12.\n"},
      {"year past the day count", head + "RATES 2001 1 1 0 0 1\nRATES 1500000 1 1 0 0 1\n",
       "The date of record 2 of the EVENT titled:\n bad one\nin the precipitation file "
       "rain.gag is no calendar date: year 1500000 is outside 0 to 9999.\n"},
      {"minute past the day count", head + "RATES 2001 1 1 0 40000000 1\n",
       "minute 40000000 is outside 0 to 59.\n"},
      // Days past the end of their month, which would carry into the next one: the file's line
      // (blank lines and notes counted) and the date are named.
      {"31 February", head + "RATES 2005 1 31 6 0 1\n\n  RATES 2005 2 31 6 0 1\n",
       "The date of record 2 of the EVENT titled:\n bad one\nin the precipitation file "
       "rain.gag, line 7, is 2/31/2005 6:00, a day that does not exist: February 2005 has 28 "
       "days.\n"},
      {"30 February", head + "GAGES 2004 2 30 23 59 1\n",
       "line 5, is 2/30/2004 23:59, a day that does not exist: February 2004 has 29 days.\n"},
      {"31 April", head + "ACCUM 2005 4 1 0 0 1\nACCUM 2005 4 31 0 0 1\n",
       "line 6, is 4/31/2005 0:00, a day that does not exist: April 2005 has 30 days.\n"},
      {"29 February of a common year, two-digit year",
       head + "RATES 2001 1 1 0 0 1\nRATES 2001 1 1 0 5 1\nRATES 99 2 29 0 0 1\n",
       "line 7, is 2/29/1999 0:00, a day that does not exist: February 1999 has 28 days.\n"},
      {"29 February of a century year",
       "EVENT r\nNRGAG files\nNRPDS 1\nRADAR 1900 2 29 12 0 frame.asc\n",
       "line 4, is 2/29/1900 12:00, a day that does not exist: February 1900 has 28 days.\n"},
      {"negative gauge value", head + "RATES 2001 1 1 0 0 -1.5\n",
       "Gage 1 of record 1 of the EVENT titled:\n bad one\nin the precipitation file rain.gag "
       "reads -1.5; a gauge value is a rainfall rate or depth of 0 or more.\n"},
      {"gauge value not a number", head + "GAGES 2001 1 1 0 0 1\nGAGES 2001 1 1 0 5 nan\n",
       "Gage 1 of record 2 of the EVENT titled:\n bad one\nin the precipitation file rain.gag "
       "reads nan;"},
      {"gauge value infinite", head + "ACCUM 2001 1 1 0 0 inf\n", "reads inf;"},
      // Gauge coordinates that are no place: the second gauge of the event is named.
      {"gauge easting not a number",
       "EVENT bad one\nNRGAG 2\nNRPDS 1\nCOORD 0 0\nCOORD nan 200\nRATES 2001 1 1 0 0 1 1\n",
       "The coordinates of gage 2 of the EVENT titled:\n bad one\nin the precipitation file "
       "rain.gag read nan 200; a gauge stands at a finite easting and northing.\n"},
      {"gauge northing infinite", "EVENT bad one\nNRGAG 1\nNRPDS 1\nCOORD 10 -inf\n",
       "The coordinates of gage 1 of the EVENT titled:\n bad one\nin the precipitation file "
       "rain.gag read 10 -inf;"},
  };
  for (const error_case& c : cases) {
    SCOPED_TRACE(c.name);
    run_error = error_state{};
    ms_ = std::make_unique<model_state>();
    open(c.text);
    EXPECT_EQ(read(), 0);
    EXPECT_NE(out_.find(c.message), std::string::npos) << out_;
    EXPECT_EQ(run_error.error_code, error_code_own_message);
  }
}

TEST_F(PrecipFile, TheLastDayOfEveryMonthIsADate) {
  open(
      "EVENT ends\nNRGAG 1\nNRPDS 4\nCOORD 0 0\nRATES 2000 2 29 0 0 1\nRATES 2004 2 29 0 0 1\n"
      "RATES 2005 4 30 24 0 1\nRATES 2005 12 31 23 59 1\n");
  EXPECT_EQ(read(), 1) << out_;
  EXPECT_EQ(date(3)[2], 30);
  EXPECT_EQ(date(3)[3], 24);
}

TEST_F(PrecipFile, RecordsOfTheSameTimeAreAccepted) {
  open("EVENT same\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nGAGES 2001 1 1 0 5 1\nGAGES 2001 1 1 0 5 2\n");
  EXPECT_EQ(read(), 1);
  EXPECT_DOUBLE_EQ(ms_->overland.precip_values[1][2], 2.0);
}

TEST_F(PrecipFile, AFileWithoutAnEventCardIsReportedAfterTenThousandWords) {
  std::string words;
  for (int i = 0; i < 10001; ++i) words += "word ";
  open(words);
  EXPECT_EQ(read(), 0);
  EXPECT_NE(out_.find("find the first event card."), std::string::npos);
  // Left for the driver, like every fault of the file: the event scan returns to it at once.
  EXPECT_EQ(run_error.error_code, error_code_own_message);
  EXPECT_EQ(run_error.error_fatal, 0);
}

TEST_F(PrecipFile, AnEndOfTheFileInsideAnEventIsMinusOne) {
  struct end_case {
    const char* name;
    const char* text;
    const char* message;
  };
  const end_case cases[] = {
      {"in the counts", "EVENT cut\nNRGAG 2\n", ""},
      {"in the coordinates", "EVENT cut\nNRGAG 2\nNRPDS 2\nCOORD 1 1\n", ""},
      {"in the records", "EVENT cut\nNRGAG 1\nNRPDS 3\nCOORD 1 1\nRATES 2001 2 3 4 5 1.0\n",
       "\n last year 2001 last month 2 last day 3 last hour 4 last minute 5 \n"},
      {"in a gauge value",
       "EVENT cut\nNRGAG 2\nNRPDS 1\nCOORD 1 1\nCOORD 2 2\nRATES 2001 2 3 4 5 1.0\n",
       "\n check out gage input for precip record 1\n look at gage 2 \n"},
  };
  for (const end_case& c : cases) {
    SCOPED_TRACE(c.name);
    ms_ = std::make_unique<model_state>();
    open(c.text);
    EXPECT_EQ(read(), -1);
    EXPECT_NE(out_.find(c.message), std::string::npos) << out_;
    EXPECT_EQ(run_error.error_code, 0);
  }
}

TEST_F(PrecipFile, ALongTitleIsCutTo255Characters) {
  open("EVENT " + std::string(400, 't') + "\nNRGAG 1\nNRPDS 1\nCOORD 0 0\nRATES 2001 1 1 0 0 1\n");
  ASSERT_EQ(read(), 1);
  EXPECT_EQ(ms_->overland.precip_event_title, std::string(255, 't'));
}

}  // namespace
