// Elevation series and channel pumps: the elevation-series file reader (blocks, names,
// malformed files, a second run), the linear and step lookups with their faults, also from a
// parallel loop, and the PUMPTO card parser.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "input/elevation_series.h"
#include "input/replacement.h"
#include "input/time_series.h"
#include "support/test_support.h"

using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

class ElevationSeriesTest : public testing::Test {
 protected:
  static std::string read_file_printing(const char* name) {
    stdout_capture capture;
    read_elev_series_file(name);
    return capture.stop();
  }

  static elevation_series* make_series(const char* name, std::vector<double> x,
                                       std::vector<double> y) {
    elevation_series* s = elev_series_new();
    strcpy(s->name, name);
    s->count = static_cast<int>(x.size());
    s->x = std::move(x);
    s->y = std::move(y);
    return s;
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
};

using ElevationSeriesFile = ElevationSeriesTest;
using ElevationSeriesLookup = ElevationSeriesTest;
using PumpSpec = ElevationSeriesTest;

TEST_F(ElevationSeriesFile, ReadsEveryBlockInFileOrder) {
  write_file(dir_.file("rating.es"),
             "rating curves of the weirs\n"
             "TORVA_ES\n"
             "\"Weir rating\" 2015\n"
             "0 0\n"
             "1 10\n"
             "\n"
             "2 30\n"
             "END_ES\n"
             "TORVA_ES\r\n"
             "rule,curve\r\n"
             "100.5 1.25\r\n");  // no END_ES: the block ends at the end of the file
  EXPECT_EQ(read_file_printing("rating.es"), "2 elevation series read from file rating.es\n");
  EXPECT_EQ(run_error.error_code, 0);
  elevation_series* weir = elev_series_list_head;
  ASSERT_NE(weir, nullptr);
  EXPECT_STREQ(weir->name, "Weir rating");  // quotes gone, blanks kept
  ASSERT_EQ(weir->count, 3);                // the blank line holds no pair
  EXPECT_EQ(weir->x, (std::vector<double>{0.0, 1.0, 2.0}));
  EXPECT_EQ(weir->y, (std::vector<double>{0.0, 10.0, 30.0}));
  elevation_series* rule = weir->next;
  ASSERT_NE(rule, nullptr);
  EXPECT_STREQ(rule->name, "rule");  // the first token of the name line
  ASSERT_EQ(rule->count, 1);
  EXPECT_EQ(rule->x[0], 100.5);
  EXPECT_EQ(rule->y[0], 1.25);
  EXPECT_EQ(rule->next, nullptr);
}

TEST_F(ElevationSeriesFile, MissingFileIsReportedWithoutACode) {
  const std::string out = read_file_printing("absent.es");
  const std::string message = "Error: Elevation series file not found [absent.es]\n";
  ASSERT_GE(out.size(), message.size());
  EXPECT_EQ(out.substr(out.size() - message.size()), message);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(elev_series_list_head, nullptr);
}

TEST_F(ElevationSeriesFile, MalformedBlocksStopTheRunNamingFileAndSeries) {
  const std::string later = "TORVA_ES\nlater\n1 1\nEND_ES\n";
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"TORVA_ES\nweir\n0 0\n1 x\nEND_ES\n" + later,
       "Error: bad pair 2 in elevation series [weir] of file bad.es: 1 x\n"},
      {"TORVA_ES\nweir\n5\nEND_ES\n" + later,
       "Error: bad pair 1 in elevation series [weir] of file bad.es: 5\n"},
      // Both numbers are read whole and finite.
      {"TORVA_ES\nweir\n0 0\n1 nan\nEND_ES\n" + later,
       "Error: bad pair 2 in elevation series [weir] of file bad.es: 1 nan\n"},
      {"TORVA_ES\nweir\n2m 3\nEND_ES\n" + later,
       "Error: bad pair 1 in elevation series [weir] of file bad.es: 2m 3\n"},
      {"TORVA_ES\n", "Error: elevation series block without a name at the end of file bad.es\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    free_elev_series_and_pumps();
    run_error = error_state{};
    write_file(dir_.file("bad.es"), c.text);
    const std::string out = read_file_printing("bad.es");
    EXPECT_EQ(out.find(c.message), 0u) << out;
    EXPECT_EQ(out.find("elevation series read from file"), std::string::npos);
    EXPECT_EQ(run_error.error_code, error_code_own_message);
    EXPECT_EQ(elev_series_find("later"), nullptr);
  }
}

TEST_F(ElevationSeriesFile, NextRunReadsTheChangedFileAfreshAndLongNamesAreCut) {
  const std::string long_name(200, 'w');
  write_file(dir_.file("e.es"), "TORVA_ES\n" + long_name + "\n0 1\n1 2\nEND_ES\n");
  read_file_printing("e.es");
  ASSERT_NE(elev_series_find(long_name.c_str()), nullptr);
  EXPECT_EQ(std::string(elev_series_list_head->name), long_name.substr(0, ts_name_size - 1));
  EXPECT_DOUBLE_EQ(elev_series_interp(0.5, elev_series_find("www")), 1.5);

  // End of the run, a changed file, the next run.
  free_elev_series_and_pumps();
  EXPECT_EQ(elev_series_list_head, nullptr);
  write_file(dir_.file("e.es"), "TORVA_ES\n" + long_name + "\n0 5\n1 7\nEND_ES\n");
  read_file_printing("e.es");
  EXPECT_DOUBLE_EQ(elev_series_interp(0.5, elev_series_find("www")), 6.0);
  EXPECT_EQ(elev_series_list_head->next, nullptr);
}

TEST_F(ElevationSeriesLookup, LinearAndStepLookups) {
  elevation_series* s = make_series("s", {0.0, 1.0, 2.0}, {0.0, 10.0, 30.0});
  const struct {
    double x, interp, step;
  } cases[] = {{-1.0, 0.0, 0.0},  {0.0, 0.0, 0.0},   {0.5, 5.0, 0.0},  {1.0, 10.0, 0.0},
               {1.5, 20.0, 10.0}, {2.0, 30.0, 30.0}, {3.0, 30.0, 30.0}};
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(elev_series_interp(c.x, s), c.interp) << "x = " << c.x;
    EXPECT_DOUBLE_EQ(elev_series_step(c.x, s), c.step) << "x = " << c.x;
  }
  elevation_series* one = make_series("one", {4.0}, {9.0});
  for (double x : {-5.0, 4.0, 50.0}) {
    EXPECT_EQ(elev_series_interp(x, one), 9.0);
    EXPECT_EQ(elev_series_step(x, one), 9.0);
  }
  EXPECT_EQ(run_error.error_fatal, 0);
}

TEST_F(ElevationSeriesLookup, PairsOfTheSameXGiveTheLaterPairsValue) {
  elevation_series* inner = make_series("inner", {0.0, 1.0, 1.0, 2.0}, {0.0, 10.0, 20.0, 30.0});
  elevation_series* first = make_series("first", {0.0, 0.0, 1.0}, {1.0, 2.0, 3.0});
  elevation_series* pair = make_series("pair", {3.0, 3.0}, {1.0, 2.0});
  EXPECT_EQ(elev_series_interp(1.0, inner), 20.0);
  EXPECT_DOUBLE_EQ(elev_series_interp(1.5, inner), 25.0);
  EXPECT_EQ(elev_series_interp(0.0, first), 2.0);
  EXPECT_EQ(elev_series_interp(3.0, pair), 2.0);
  EXPECT_EQ(elev_series_step(1.5, inner), 20.0);
  EXPECT_EQ(elev_series_step(1.0, inner), 0.0);  // the lower bracket, as at any inner x
  EXPECT_EQ(elev_series_step(0.5, first), 2.0);
  for (double x : {0.0, 0.5, 1.0, 1.5, 2.0}) {
    EXPECT_FALSE(std::isnan(elev_series_interp(x, inner)));
    EXPECT_FALSE(std::isnan(elev_series_interp(x, first)));
    EXPECT_FALSE(std::isnan(elev_series_step(x, inner)));
  }
  EXPECT_EQ(run_error.error_fatal, 0);
}

TEST_F(ElevationSeriesLookup, MissingOrEmptySeriesIsFatalAndAFailedSearchIsOnlyReported) {
  elevation_series* empty = make_series("dry", {}, {});
  elevation_series* s = make_series("s", {0.0, 1.0}, {0.0, 1.0});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    elevation_series* series;
    double x;
    const char* message;
    int fatal;
  } cases[] = {
      {nullptr, 1.0,
       "Error: attempting to extract a value from an elevation series that does not exist.\n", 1},
      {empty, 1.0,
       "Error: attempting to extract a value from an elevation series [dry] with no entries.\n", 1},
      {s, nan, "Error: something is really messed up with your elevation series [s].\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    for (bool step : {false, true}) {
      run_error = error_state{};
      stdout_capture capture;
      const double v = step ? elev_series_step(c.x, c.series) : elev_series_interp(c.x, c.series);
      EXPECT_EQ(v, 0.0);
      EXPECT_EQ(capture.stop().find(c.message), 0u);
      EXPECT_EQ(run_error.error_fatal, c.fatal);
      EXPECT_EQ(run_error.error_code, 0);
    }
  }
}

TEST_F(ElevationSeriesLookup, FaultInsideAParallelLoopIsRaisedAfterIt) {
  elevation_series* s = make_series("curve", {0.0, 10.0}, {0.0, 100.0});
  elevation_series* empty = make_series("dry", {}, {});
  const int n = 20000;
  std::vector<double> got(n, -1.0);
  loop_fault fault;
  stdout_capture capture;
#pragma omp parallel for schedule(static) num_threads(4)
  for (int k = 0; k < n; ++k) {
    const double x = (k % 1000) * 0.01;
    if (k == 17) {
      got[k] = elev_series_interp(std::numeric_limits<double>::quiet_NaN(), s, &fault, k);
    } else if (k >= 12000) {
      got[k] = elev_series_step(x, empty, &fault, k);
    } else {
      got[k] = k % 2 == 0 ? elev_series_interp(x, s, &fault, k) : elev_series_step(x, s, &fault, k);
    }
  }
  EXPECT_EQ(capture.stop(), "");
  EXPECT_EQ(run_error.error_code, 0);
  for (int k = 0; k < 12000; ++k) {
    if (k == 17) continue;
    const double x = (k % 1000) * 0.01;
    ASSERT_NEAR(got[k], k % 2 == 0 ? 10.0 * x : 0.0, 1e-9) << "k = " << k;
  }
  ASSERT_TRUE(fault.found());
  EXPECT_EQ(fault.index(), 12000);  // the fatal fault, not the earlier report-only one
  stdout_capture raised;
  EXPECT_TRUE(fault.raise());
  EXPECT_EQ(raised.stop(),
            "Error: attempting to extract a value from an elevation series [dry] with no "
            "entries.\n");
  EXPECT_EQ(run_error.error_code, error_code_own_message);
}

TEST_F(ElevationSeriesLookup, FindTakesTheFirstNameThatBeginsWithTheQuery) {
  elevation_series* weir10 = make_series("weir10", {0.0}, {1.0});
  make_series("weir1", {0.0}, {2.0});
  EXPECT_EQ(elev_series_find("weir1"), weir10);
  EXPECT_EQ(elev_series_find("weir2"), nullptr);
  EXPECT_EQ(elev_series_find(""), nullptr);
  EXPECT_EQ(elev_series_find(nullptr), nullptr);
}

TEST_F(PumpSpec, ParsesTheCardAndFindsItsSeries) {
  elevation_series* rating = make_series("pump curve", {0.0, 1.0}, {0.0, 2.0});
  time_series* q10 = ts_create();
  strcpy(q10->name, "Q10");
  const struct {
    const char* rest;
    int link_type;
    int a, b, flow_type;
    bool has_series, has_rating;
  } cases[] = {
      {"3 7 TSX Q1", 1, 3, 7, pump_flow_ts, true, false},
      {"4 0 ELEVATION \"pump curve\"", 2, 4, 0, pump_flow_elev, false, true},
      {"5 9 TS Q10", 4, 5, 1, pump_flow_ts, true, false},  // type 4 pumps to the second end
      {"6,2,ELEV,pump", 1, 6, 2, pump_flow_elev, false, true},
      {"1 2 TS nothing", 1, 1, 2, pump_flow_ts, false, false},
      // No series name: no series, not the first of the list.
      {"1 2 TS", 1, 1, 2, pump_flow_ts, false, false},
      {"1 2 ELEV", 1, 1, 2, pump_flow_elev, false, false},
  };
  int made = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rest);
    pump_spec* p = read_pump_spec(c.rest, 12, c.link_type);
    ASSERT_NE(p, nullptr);
    ++made;
    EXPECT_EQ(chan_pump_list_head, p);  // new pumps go to the front
    EXPECT_EQ(p->pumpto_a, c.a);
    EXPECT_EQ(p->pumpto_b, c.b);
    EXPECT_EQ(p->flow_type, c.flow_type);
    EXPECT_EQ(p->series, c.has_series ? q10 : nullptr);
    EXPECT_EQ(p->rating, c.has_rating ? rating : nullptr);
  }
  EXPECT_EQ(run_error.error_fatal, 0);
  int listed = 0;
  for (pump_spec* p = chan_pump_list_head; p != nullptr; p = p->next) ++listed;
  EXPECT_EQ(listed, made);

  free_elev_series_and_pumps();
  EXPECT_EQ(chan_pump_list_head, nullptr);
  EXPECT_EQ(elev_series_list_head, nullptr);
}

TEST_F(PumpSpec, UnknownFlowTypeIsAnErrorNamingTheLink) {
  stdout_capture capture;
  EXPECT_EQ(read_pump_spec("1 2 Q curve", 37, 1), nullptr);
  EXPECT_EQ(capture.stop().find("\n\nError in the channel input file: Flow type for pump is "
                                "incorrectly\ndefined for link 37. Must be ELEV or TS.\n"),
            0u);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(chan_pump_list_head, nullptr);
  run_error = error_state{};
  // The words are compared in upper case.
  stdout_capture lower;
  EXPECT_EQ(read_pump_spec("1 2 ts curve", 38, 1), nullptr);
  EXPECT_NE(lower.stop().find("defined for link 38."), std::string::npos);
  EXPECT_EQ(run_error.error_fatal, 1);
}

}  // namespace
