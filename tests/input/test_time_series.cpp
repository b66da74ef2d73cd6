// Named time series: the series-file reader (blocks, names, RELATIVE rows, malformed files), the
// column table of the XY boundary readers, the lookups by name and by index, and the value
// lookup at a time, also from inside a parallel loop.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "input/replacement.h"
#include "input/time_series.h"
#include "support/test_support.h"

using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

class TimeSeriesTest : public testing::Test {
 protected:
  // Reads `name` as the TIME_SERIES_FILE card does and returns what it printed.
  static std::string read_series_file(const char* name) {
    stdout_capture capture;
    read_time_series_file(name);
    return capture.stop();
  }

  static int list_length() {
    int n = 0;
    for (time_series* s = ts_list_head; s != nullptr; s = s->next) ++n;
    return n;
  }

  // A series made by hand on the list.
  static time_series* make_series(const char* name, std::vector<double> times,
                                  std::vector<double> values) {
    time_series* s = ts_create();
    strcpy(s->name, name);
    s->count = static_cast<int>(times.size());
    s->times = std::move(times);
    s->values = std::move(values);
    return s;
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
};

using TimeSeriesFile = TimeSeriesTest;
using TimeSeriesLookup = TimeSeriesTest;
using TimeSeriesColumns = TimeSeriesTest;
using TimeSeriesParallel = TimeSeriesTest;

TEST_F(TimeSeriesFile, ReadsEveryBlockInFileOrder) {
  // A header of the file's own, a RELATIVE block with a quoted name, and an ABSOLUTE block
  // written with Windows line ends.
  write_file(dir_.file("flows.ts"),
             "this file drives the inflows\n"
             "TORVA_TS\n"
             "  \"Inflow A\"  \n"
             "RELATIVE\n"
             "0 0 1 6 0 5.0\n"
             "0 0 2 0 30 7.5\n"
             "END_TS\n"
             "text between blocks\r\n"
             "TORVA_TS\r\n"
             "Q2\r\n"
             "ABSOLUTE\r\n"
             "2000 1 1 0 0 1.5\r\n"
             "\r\n"
             "2000 1 1 12 0 2.5\r\n"
             "END_TS\r\n");
  const std::string out = read_series_file("flows.ts");
  EXPECT_EQ(out,
            "Read time series Inflow A\n"
            "Read time series Q2\n"
            "2 time series read from file flows.ts\n");
  EXPECT_EQ(run_error.error_code, 0);
  ASSERT_EQ(list_length(), 2);

  time_series* a = ts_list_head;
  EXPECT_STREQ(a->name, "Inflow A");
  EXPECT_EQ(a->relative, 1);
  ASSERT_EQ(a->count, 2);
  EXPECT_DOUBLE_EQ(a->times[0], 1.25);  // 1 day 6 hours after the start
  // Row times are made from Julian dates near 1.7e6 days: about 1e-10 day of rounding.
  EXPECT_NEAR(a->times[1], 2.0 + 30.0 / 1440.0, 1e-9);
  EXPECT_EQ(a->values, (std::vector<double>{5.0, 7.5}));

  time_series* q = a->next;
  EXPECT_STREQ(q->name, "Q2");  // no carriage return left in the name
  EXPECT_EQ(q->relative, 0);
  ASSERT_EQ(q->count, 2);  // the blank line holds no row
  EXPECT_DOUBLE_EQ(q->times[0], 2451544.5);
  EXPECT_DOUBLE_EQ(q->times[1], 2451545.0);
  EXPECT_EQ(q->values, (std::vector<double>{1.5, 2.5}));

  // The start-up shift moves the relative rows to the run's start and leaves the rest.
  ts_shift_relative(2450000.5);
  EXPECT_DOUBLE_EQ(a->times[0], 2450001.75);
  EXPECT_DOUBLE_EQ(q->times[0], 2451544.5);
}

TEST_F(TimeSeriesFile, EmptyBlockAndBlockWithoutEndAreKept) {
  write_file(dir_.file("s.ts"),
             "TORVA_TS\nempty\nABSOLUTE\nEND_TS\n"
             "TORVA_TS\nopen\nABSOLUTE\n2001 3 1 0 0 4.0\n2001 3 2 0 0 8.0\n");
  const std::string out = read_series_file("s.ts");
  EXPECT_NE(out.find("2 time series read from file s.ts\n"), std::string::npos);
  ASSERT_EQ(list_length(), 2);
  time_series* empty = ts_list_head;
  EXPECT_EQ(empty->count, 0);
  EXPECT_TRUE(empty->times.empty());
  EXPECT_EQ(ts_list_head->next->count, 2);  // ends at the end of the file

  // A lookup on the empty series is fatal.
  stdout_capture capture;
  EXPECT_EQ(ts_value(2451545.0, empty), 0.0);
  EXPECT_NE(capture.stop().find("Error: attempting to extract a value from a time series [empty] "
                                "with no entries.\n"),
            std::string::npos);
  EXPECT_EQ(run_error.error_fatal, 1);
}

TEST_F(TimeSeriesFile, MissingFileIsReportedWithoutACode) {
  const std::string out = read_series_file("nowhere.ts");
  const std::string message = "Error: Time series file not found [nowhere.ts]\n";
  ASSERT_GE(out.size(), message.size());
  EXPECT_EQ(out.substr(out.size() - message.size()), message);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ts_list_head, nullptr);
}

TEST_F(TimeSeriesFile, MalformedBlocksStopTheRunNamingFileAndSeries) {
  // A good block after a bad one is not read.
  const std::string later = "TORVA_TS\nlater\nABSOLUTE\nEND_TS\n";
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"TORVA_TS\nQ\nABSOLUTE\n2000 1 1 0 0 1.0\n2000 1 1 0 0 abc\nEND_TS\n" + later,
       "Error: bad row 2 in time series [Q] of file bad.ts: 2000 1 1 0 0 abc\n"},
      {"TORVA_TS\nQ\nABSOLUTE\n2000 1 1 0\nEND_TS\n" + later,
       "Error: bad row 1 in time series [Q] of file bad.ts: 2000 1 1 0\n"},
      // Every field is read whole: a value that is no finite number, or a date field with
      // text run into it, is no row.
      {"TORVA_TS\nQ\nABSOLUTE\n2000 1 1 0 0 nan\nEND_TS\n" + later,
       "Error: bad row 1 in time series [Q] of file bad.ts: 2000 1 1 0 0 nan\n"},
      {"TORVA_TS\nQ\nABSOLUTE\n2000 1 1 0 0 1e999\nEND_TS\n" + later,
       "Error: bad row 1 in time series [Q] of file bad.ts: 2000 1 1 0 0 1e999\n"},
      {"TORVA_TS\nQ\nABSOLUTE\n2000 1 1 0 0 2.5mm\nEND_TS\n" + later,
       "Error: bad row 1 in time series [Q] of file bad.ts: 2000 1 1 0 0 2.5mm\n"},
      {"TORVA_TS\nQ\nABSOLUTE\n2000 1 1.5 0 0 2.5\nEND_TS\n" + later,
       "Error: bad row 1 in time series [Q] of file bad.ts: 2000 1 1.5 0 0 2.5\n"},
      // The END_TS of the first block is missing: the next block's keyword is no row.
      {"TORVA_TS\nQ\nABSOLUTE\n2000 1 1 0 0 1.0\n" + later,
       "Error: bad row 2 in time series [Q] of file bad.ts: TORVA_TS\n"},
      {"TORVA_TS\nQ\n",
       "Error: time series [Q] of file bad.ts ends before its RELATIVE or "
       "ABSOLUTE line\n"},
      {"TORVA_TS\n", "Error: time series block without a name at the end of file bad.ts\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ts_free_all();
    run_error = error_state{};
    write_file(dir_.file("bad.ts"), c.text);
    const std::string out = read_series_file("bad.ts");
    EXPECT_EQ(out.find(c.message), 0u) << out;
    EXPECT_EQ(out.find("time series read from file"), std::string::npos);
    EXPECT_EQ(run_error.error_code, error_code_own_message);
    EXPECT_EQ(ts_find("later"), nullptr);
  }
}

TEST_F(TimeSeriesFile, DateFieldsOutsideWhatTheRowKindAllowsStopTheRun) {
  // ABSOLUTE rows are calendar dates; RELATIVE rows are times after the start, whose fields
  // may run past their calendar range but not so far that the day count overflows.
  const std::string later = "TORVA_TS\nlater\nABSOLUTE\nEND_TS\n";
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"TORVA_TS\nQ\nABSOLUTE\n2000 13 1 0 0 1.0\nEND_TS\n" + later,
       "Error: bad row 1 in time series [Q] of file bad.ts: 2000 13 1 0 0 1.0\n"
       "       month 13 is outside 1 to 12.\n"},
      {"TORVA_TS\nQ\nABSOLUTE\n2000 1 1 0 0 1.0\n1500000 1 1 0 0 2.0\nEND_TS\n" + later,
       "Error: bad row 2 in time series [Q] of file bad.ts: 1500000 1 1 0 0 2.0\n"
       "       year 1500000 is outside 0 to 9999.\n"},
      {"TORVA_TS\nQ\nABSOLUTE\n2000 1 1 0 36000000 1.0\nEND_TS\n" + later,
       "       minute 36000000 is outside 0 to 59.\n"},
      {"TORVA_TS\nQ\nABSOLUTE\n2000 1 32 0 0 1.0\nEND_TS\n" + later,
       "       day 32 is outside 1 to 31.\n"},
      {"TORVA_TS\nR\nRELATIVE\n0 0 0 0 36000000 1.0\nEND_TS\n" + later,
       "Error: bad row 1 in time series [R] of file bad.ts: 0 0 0 0 36000000 1.0\n"
       "       minute 36000000 is outside -35000000 to 35000000.\n"},
      {"TORVA_TS\nR\nRELATIVE\n2147483647 0 0 0 0 1.0\nEND_TS\n" + later,
       "       year 2147483647 is outside -10000 to 10000.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ts_free_all();
    run_error = error_state{};
    write_file(dir_.file("bad.ts"), c.text);
    const std::string out = read_series_file("bad.ts");
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(out.find("time series read from file"), std::string::npos);
    EXPECT_EQ(run_error.error_code, error_code_own_message);
    EXPECT_EQ(ts_find("later"), nullptr);
  }
}

TEST_F(TimeSeriesFile, RowsKeepWhatTheirKindAllows) {
  write_file(dir_.file("ok.ts"),
             "TORVA_TS\nR\nRELATIVE\n0 0 -1 0 0 0.5\n0 0 0 36 90 1.0\nEND_TS\n"
             "TORVA_TS\nA\nABSOLUTE\n2001 2 31 24 0 3.0\nEND_TS\n");
  const std::string out = read_series_file("ok.ts");
  EXPECT_NE(out.find("2 time series read from file ok.ts\n"), std::string::npos) << out;
  EXPECT_EQ(run_error.error_code, 0);
  time_series* r = ts_find("R");
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->count, 2);
  EXPECT_NEAR(r->times[0], -1.0, 1e-9);  // a day before the start
  EXPECT_NEAR(r->times[1], 1.5 + 90.0 / 1440.0, 1e-9);
  time_series* a = ts_find("A");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->count, 1);
  // 31 February 2001 is 3 March, and 24:00 ends that day.
  EXPECT_DOUBLE_EQ(a->times[0], 2451972.5);
}

TEST_F(TimeSeriesFile, LongNamesAreCutToTheNameBuffer) {
  const std::string long_name(300, 'n');
  write_file(dir_.file("long.ts"),
             "TORVA_TS\n" + long_name + "\nABSOLUTE\n2000 1 1 0 0 3.0\nEND_TS\n");
  read_series_file("long.ts");
  ASSERT_NE(ts_list_head, nullptr);
  EXPECT_EQ(std::string(ts_list_head->name), long_name.substr(0, ts_name_size - 1));
  // The same long name finds the series it named.
  EXPECT_EQ(ts_find(long_name.c_str()), ts_list_head);
}

TEST_F(TimeSeriesFile, KeywordsAreMatchedAtTheStartOfTheLine) {
  const struct {
    const char* line;
    int expected;
  } cases[] = {{"END_TS", 3},   {"END_TS_X", 3}, {"ABSOLUTE", 2},  {"RELATIVE time", 1},
               {"TORVA_TS", 0}, {"torva_ts", 4}, {" TORVA_TS", 4}, {"END_T", 4},
               {"", 4},         {"RELATIV", 4}};
  for (const auto& c : cases) EXPECT_EQ(ts_keyword(c.line), c.expected) << c.line;
}

TEST_F(TimeSeriesLookup, FindTakesTheFirstNameThatBeginsWithTheQuery) {
  time_series* q10 = make_series("Q10", {0.0}, {1.0});
  make_series("Q1", {0.0}, {2.0});
  EXPECT_EQ(ts_find("Q1"), q10);  // compared over the query's length only
  EXPECT_EQ(ts_find("Q10"), q10);
  EXPECT_EQ(ts_find("Q"), q10);
  EXPECT_EQ(ts_find("Q2"), nullptr);
  // A missing name finds nothing, not the first series of the list.
  EXPECT_EQ(ts_find(""), nullptr);
  EXPECT_EQ(ts_find(nullptr), nullptr);
}

TEST_F(TimeSeriesLookup, InterpolatesBetweenRowsAndHoldsTheEnds) {
  time_series* s = make_series("s", {10.0, 11.0, 12.0, 14.0}, {0.0, 10.0, 30.0, 70.0});
  const struct {
    double t, expected;
  } cases[] = {{9.0, 0.0},   {10.0, 0.0},  {10.5, 5.0},  {11.0, 10.0}, {11.5, 20.0},
               {12.0, 30.0}, {13.0, 50.0}, {14.0, 70.0}, {20.0, 70.0}};
  // Rising, falling and mixed orders of lookup give the same values: the cursor only shortens
  // the search.
  const std::vector<std::vector<int>> orders = {
      {0, 1, 2, 3, 4, 5, 6, 7, 8}, {8, 7, 6, 5, 4, 3, 2, 1, 0}, {4, 0, 6, 2, 8, 1, 5, 3, 7}};
  for (const auto& order : orders) {
    for (int k : order) {
      EXPECT_NEAR(ts_value(cases[k].t, s), cases[k].expected, 1e-12) << "t = " << cases[k].t;
    }
  }
  // Whatever row the cursor holds, an inner row time gives that row's value.
  for (int cursor = 0; cursor <= 2; ++cursor) {
    s->cursor = cursor;
    EXPECT_DOUBLE_EQ(ts_value(12.0, s), 30.0) << "cursor " << cursor;
  }
  EXPECT_EQ(run_error.error_fatal, 0);

  time_series* one = make_series("one", {5.0}, {42.0});
  EXPECT_EQ(ts_value(-1.0, one), 42.0);
  EXPECT_EQ(ts_value(99.0, one), 42.0);
}

TEST_F(TimeSeriesLookup, RowsOfTheSameTimeGiveTheLaterRowsValue) {
  time_series* inner = make_series("inner", {0.0, 1.0, 1.0, 2.0}, {0.0, 10.0, 20.0, 30.0});
  time_series* first = make_series("first", {0.0, 0.0, 1.0}, {1.0, 2.0, 3.0});
  time_series* last = make_series("last", {0.0, 1.0, 1.0}, {1.0, 2.0, 3.0});
  time_series* pair = make_series("pair", {3.0, 3.0}, {1.0, 2.0});
  for (int cursor = 0; cursor <= 2; ++cursor) {
    inner->cursor = cursor;
    EXPECT_EQ(ts_value(1.0, inner), 20.0) << "cursor " << cursor;
  }
  EXPECT_DOUBLE_EQ(ts_value(0.5, inner), 5.0);
  EXPECT_DOUBLE_EQ(ts_value(1.5, inner), 25.0);
  EXPECT_EQ(ts_value(0.0, first), 2.0);
  EXPECT_DOUBLE_EQ(ts_value(0.5, first), 2.5);
  EXPECT_EQ(ts_value(1.0, last), 3.0);
  EXPECT_EQ(ts_value(2.9, pair), 1.0);
  EXPECT_EQ(ts_value(3.0, pair), 2.0);
  for (double t : {0.0, 0.25, 1.0, 1.75}) {
    EXPECT_FALSE(std::isnan(ts_value(t, inner)));
    EXPECT_FALSE(std::isnan(ts_value(t, first)));
  }
}

TEST_F(TimeSeriesLookup, MissingSeriesIsFatalAndAFailedSearchIsOnlyReported) {
  {
    stdout_capture capture;
    EXPECT_EQ(ts_value(1.0, nullptr), 0.0);
    EXPECT_EQ(capture.stop().find("Error: attempting to extract a value from a time series that "
                                  "does not exist.\n"),
              0u);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_EQ(run_error.error_code, 0);  // reported at once
  }
  run_error = error_state{};
  time_series* s = make_series("q", {0.0, 1.0}, {1.0, 2.0});
  stdout_capture capture;
  EXPECT_EQ(ts_value(std::numeric_limits<double>::quiet_NaN(), s), 0.0);
  EXPECT_EQ(capture.stop(), "Error: something is really messed up with your time series [q].\n");
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(run_error.error_code, 0);
}

TEST_F(TimeSeriesLookup, TableValueFollowsTheIndexList) {
  time_series* a = make_series("a", {0.0, 2.0}, {0.0, 4.0});
  time_series* b = make_series("b", {0.0}, {7.0});
  ts_index_add(3, a);
  ts_index_add(5, b);
  ts_index_add(9, nullptr);  // a table row whose series was not found
  ts_index_loaded = 1;
  EXPECT_DOUBLE_EQ(ts_table_value(3, 1.0), 2.0);
  EXPECT_EQ(ts_table_value(5, 1.0), 7.0);
  EXPECT_EQ(run_error.error_fatal, 0);

  {
    stdout_capture capture;
    EXPECT_EQ(ts_table_value(4, 1.0), 0.0);
    EXPECT_EQ(capture.stop().find(
                  "Error: attempting to extract a value from an unknown time series in the time "
                  "series table.    Check the mapping table file (.cmt). The specified time "
                  "series index is 4, but the \nindex is not found in the time series index "
                  "table.\n"),
              0u);
    EXPECT_EQ(run_error.error_fatal, 1);
  }
  run_error = error_state{};
  {
    stdout_capture capture;
    EXPECT_EQ(ts_table_value(9, 1.0), 0.0);
    EXPECT_NE(capture.stop().find("from a time series that does not exist"), std::string::npos);
    EXPECT_EQ(run_error.error_fatal, 1);
  }

  // The index list goes with the series at the end of the run.
  ts_free_all();
  EXPECT_EQ(ts_list_head, nullptr);
  EXPECT_EQ(ts_index_head, nullptr);
  EXPECT_EQ(ts_index_loaded, 0);
  ts_free_all();  // an empty list stays empty
  EXPECT_EQ(ts_list_head, nullptr);
}

// Opens `name` and skips `header_lines` lines, as the XY boundary readers do before the table.
void open_after_header(file_handle& h, const char* name, int header_lines) {
  ASSERT_TRUE(file_handle_open(h, name, "r"));
  for (int i = 0; i < header_lines; ++i) {
    char buffer[256];
    ASSERT_NE(fgets(buffer, sizeof buffer, h.fp), nullptr);
  }
}

TEST_F(TimeSeriesColumns, ReadsOneSeriesPerColumn) {
  write_file(dir_.file("xy.txt"),
             "XY_OV_DEPTH\n3\nDATE TIME 15 27 31\n"
             "2000 1 1 0 0 0.1 0.2 0.3\n"
             "2000 1 1 12 0 1.1\t1.2 1.3\n"
             "bad 1 1 0 0 2.1 2.2 2.3\n"
             "END_TS\n");
  file_handle h;
  open_after_header(h, "xy.txt", 3);
  time_series* first = ts_read_columns(h, 3, "pts");
  file_handle_close(h);
  ASSERT_EQ(first, ts_list_head);
  EXPECT_EQ(run_error.error_code, 0);
  const char* names[] = {"pts_0000", "pts_0001", "pts_0002"};
  time_series* s = first;
  for (int i = 0; i < 3; ++i, s = s->next) {
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->name, names[i]);
    EXPECT_EQ(s->relative, 0);
    ASSERT_EQ(s->count, 3);
    EXPECT_DOUBLE_EQ(s->times[0], 2451544.5);
    EXPECT_DOUBLE_EQ(s->times[1], 2451545.0);
    EXPECT_EQ(s->times[2], -1.0);  // the date does not scan
    EXPECT_DOUBLE_EQ(s->values[0], 0.1 * (i + 1));
    EXPECT_DOUBLE_EQ(s->values[1], 1.1 + 0.1 * i);
    EXPECT_DOUBLE_EQ(s->values[2], 2.1 + 0.1 * i);
  }
  EXPECT_EQ(s, nullptr);

  // No columns: no series.
  open_after_header(h, "xy.txt", 3);
  EXPECT_EQ(ts_read_columns(h, 0, "none"), nullptr);
  file_handle_close(h);
  EXPECT_EQ(list_length(), 3);
}

TEST_F(TimeSeriesColumns, LongLinesAndLongBaseNamesAreReadWhole) {
  // 2000 columns of 30-character values: far longer than 20 characters a column.
  const int n = 2000;
  std::string row = "2010 6 1 0 0";
  std::string row2 = "2010 6 2 0 0";
  for (int i = 0; i < n; ++i) {
    char value[64];
    snprintf(value, sizeof value, " %030d", i);
    row += value;
    snprintf(value, sizeof value, " %030d", 2 * i);
    row2 += value;
  }
  write_file(dir_.file("wide.txt"), row + "\n" + row2 + "\nEND_TS\n");
  const std::string base(150, 'b');
  file_handle h;
  open_after_header(h, "wide.txt", 0);
  time_series* first = ts_read_columns(h, n, base.c_str());
  file_handle_close(h);
  EXPECT_EQ(run_error.error_code, 0);
  ASSERT_EQ(list_length(), n);
  EXPECT_EQ(std::string(first->name), std::string(100, 'b') + "_0000");
  int i = 0;
  for (time_series* s = first; s != nullptr; s = s->next, ++i) {
    ASSERT_EQ(s->count, 2);
    ASSERT_EQ(s->values[0], i);
    ASSERT_EQ(s->values[1], 2 * i);
  }
}

TEST_F(TimeSeriesColumns, RowWithAMissingValueStopsTheRun) {
  write_file(dir_.file("short.txt"), "2000 1 1 0 0 1 2 3\n2000 1 2 0 0 1 2\nEND_TS\n");
  file_handle h;
  open_after_header(h, "short.txt", 0);
  stdout_capture capture;
  ts_read_columns(h, 3, "XY_GW_HEAD");
  const std::string out = capture.stop();
  file_handle_close(h);
  EXPECT_EQ(out,
            "Error: bad row 2 in time series [XY_GW_HEAD_0002] of file short.txt: value 3 of 3 "
            "is missing or not a number\n");
  EXPECT_EQ(run_error.error_code, error_code_own_message);
}

TEST_F(TimeSeriesColumns, RowWithADateOutsideTheCalendarStopsTheRun) {
  write_file(dir_.file("late.txt"), "2000 1 1 0 0 1 2\n2000 1 1 0 99999999 1 2\nEND_TS\n");
  file_handle h;
  open_after_header(h, "late.txt", 0);
  stdout_capture capture;
  ts_read_columns(h, 2, "XY_OV_DEPTH");
  const std::string out = capture.stop();
  file_handle_close(h);
  EXPECT_EQ(out,
            "Error: bad row 2 in time series [XY_OV_DEPTH_0000] of file late.txt: minute "
            "99999999 is outside 0 to 59\n");
  EXPECT_EQ(run_error.error_code, error_code_own_message);
}

TEST_F(TimeSeriesParallel, LookupsFromManyThreadsGiveTheSerialValues) {
  // value = 2 t + 1 on rows 0..999: every lookup has a known answer.
  std::vector<double> times(1000);
  std::vector<double> values(1000);
  for (int i = 0; i < 1000; ++i) {
    times[i] = i;
    values[i] = 2.0 * i + 1.0;
  }
  time_series* s = make_series("line", times, values);
  const int n = 200000;
  std::vector<double> got(n);
  loop_fault fault;
#pragma omp parallel for schedule(static) num_threads(4)
  for (int k = 0; k < n; ++k) {
    // Each thread's lookups rise, fall and jump across the whole series.
    const double t = (k % 3 == 0)   ? (k % 9990) * 0.1
                     : (k % 3 == 1) ? 999.0 - (k % 9990) * 0.1
                                    : (k * 7919 % 9990) * 0.1;
    got[k] = ts_value(t, s, &fault, k);
  }
  EXPECT_FALSE(fault.found());
  for (int k = 0; k < n; ++k) {
    const double t = (k % 3 == 0)   ? (k % 9990) * 0.1
                     : (k % 3 == 1) ? 999.0 - (k % 9990) * 0.1
                                    : (k * 7919 % 9990) * 0.1;
    ASSERT_NEAR(got[k], 2.0 * t + 1.0, 1e-9) << "k = " << k;
  }
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(run_error.error_fatal, 0);
}

TEST_F(TimeSeriesParallel, FaultInsideTheLoopIsRaisedAfterIt) {
  time_series* good = make_series("good", {0.0, 1.0}, {0.0, 1.0});
  time_series* empty = make_series("dry", {}, {});
  const int n = 10000;
  std::vector<double> got(n, -1.0);
  loop_fault fault;
  stdout_capture capture;
#pragma omp parallel for schedule(static) num_threads(4)
  for (int k = 0; k < n; ++k) {
    // A search that cannot succeed at 3 (report only), empty series from 7000 on, no series
    // from 5000 on.
    if (k == 3) {
      got[k] = ts_value(std::numeric_limits<double>::quiet_NaN(), good, &fault, k);
    } else if (k >= 7000) {
      got[k] = ts_value(0.5, empty, &fault, k);
    } else if (k >= 5000) {
      got[k] = ts_value(0.5, nullptr, &fault, k);
    } else {
      got[k] = ts_value(0.5, good, &fault, k);
    }
  }
  // Nothing was printed or reported inside the loop.
  EXPECT_EQ(capture.stop(), "");
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(run_error.error_fatal, 0);
  for (int k = 5000; k < n; ++k) ASSERT_EQ(got[k], 0.0);
  EXPECT_EQ(got[3], 0.0);
  EXPECT_EQ(got[4], 0.5);

  // The fatal fault of the lowest index wins over the report-only one.
  ASSERT_TRUE(fault.found());
  stdout_capture raised;
  EXPECT_TRUE(fault.raise());
  EXPECT_EQ(raised.stop(),
            "Error: attempting to extract a value from a time series that does not exist.\n");
  EXPECT_EQ(run_error.error_code, error_code_own_message);

  // A loop whose only fault is a failed search prints its message and sets no code.
  run_error = error_state{};
  loop_fault search;
#pragma omp parallel for schedule(static) num_threads(4)
  for (int k = 0; k < 100; ++k) {
    got[k] = ts_value(k == 42 ? std::numeric_limits<double>::quiet_NaN() : 0.5, good, &search, k);
  }
  stdout_capture reported;
  EXPECT_TRUE(search.raise());
  EXPECT_EQ(reported.stop(),
            "Error: something is really messed up with your time series [good].\n");
  EXPECT_EQ(run_error.error_code, 0);
}

}  // namespace
