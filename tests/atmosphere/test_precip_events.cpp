// Precipitation events on the grid: the gauge kernels (inverse-distance weighting, nearest gauge
// and its search) against hand computations, the record intervals and the conversion of depths
// into intensities, and the event and record cycle of the two time-loop steps on a small grid
// with precipitation files written by the tests.
#include <gtest/gtest.h>
#include <omp.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "atmosphere/atmosphere_steps.h"
#include "atmosphere/precip_events.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "overland/overland_steps.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

constexpr double tolerance_days = 1.1574074074074074e-07;

double jd(int y, int mo, int d, int h, int mi) {
  return julian_from_date(y, mo, d, h, mi, 0.0);
}

// A grid of rows x cols cells of side dx, north-west corner at (west, north), every cell active
// and numbered row by row except those cleared by the caller.
void make_grid(model_state& ms, int rows, int cols, double dx, double north, double west) {
  ms.rows = rows;
  ms.cols = cols;
  ms.gridsize = dx;
  ms.map_north = north;
  ms.map_west = west;
  ASSERT_TRUE(ms.index_map.allocate(rows, cols));
  int n = 0;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) ms.index_map[r][c] = ++n;
  ms.cell_count = n;
  ASSERT_TRUE(ms.overland.rain_cell.allocate(n));
}

std::span<const double> view(const std::vector<double>& v) {
  return {v.data(), v.size()};
}

// --- Kernels -----------------------------------------------------------------------------------

TEST(PrecipKernels, InverseDistanceWeightingMatchesAHandComputation) {
  // A 2 x 2 grid of 10 m cells, north edge 100, west edge 0: cell 1 has its centre at (5, 95).
  struct idw_case {
    const char* what;
    std::vector<double> x, y, value;  // one-based: element 0 unused
    double cell1;                     // expected intensity of cell 1 (mm/h)
  };
  const idw_case cases[] = {
      // d1 = 30, d2 = 40: (10/900 + 20/1600) / (1/900 + 1/1600) = (160 + 180) / (16 + 9).
      {"two gauges weighted", {0, 5, 45}, {0, 125, 95}, {0, 10, 20}, 340.0 / 25.0},
      // Two gauges 30 m from the centre, north and east of it: the mean of their values.
      {"two gauges at equal distance", {0, 5, 35}, {0, 125, 95}, {0, 10, 20}, 15.0},
      // A gauge exactly dx away is weighted, not taken: d1 = 10, d2 = 30.
      {"gauge at exactly dx", {0, 5, 5}, {0, 105, 65}, {0, 10, 20}, (90.0 + 20.0) / (9.0 + 1.0)},
      // Both gauges within dx: the lower-numbered one gives the value, though the other is on
      // the centre itself.
      {"two gauges within dx", {0, 8, 5}, {0, 95, 95}, {0, 7, 9}, 7.0},
      // A gauge closer than dx after one outside it: its value, unweighted.
      {"second gauge within dx", {0, 500, 5}, {0, 500, 99}, {0, 3, 4}, 4.0},
  };
  for (const idw_case& c : cases) {
    SCOPED_TRACE(c.what);
    model_state ms;
    make_grid(ms, 2, 2, 10.0, 100.0, 0.0);
    std::vector<double> rain(5, -1.0);
    precip_idw_parallel(10.0, ms.index_map, 2, 100.0, 0.0, view(c.x), view(c.y), view(c.value),
                        {rain.data(), rain.size()}, 2, 2);
    EXPECT_NEAR(rain[1], c.cell1, 1e-12);
    for (int i = 2; i <= 4; ++i) EXPECT_GE(rain[i], 0.0) << i;
  }
}

TEST(PrecipKernels, OneGaugeRainsItsValueOnEveryWatershedCellOnly) {
  model_state ms;
  make_grid(ms, 2, 3, 30.0, 1000.0, 500.0);
  ms.index_map[1][2] = 0;  // outside the watershed
  // Cells keep their numbers: 1 at (1,1), 3 at (1,3), ...; cell 2 has no place on the grid.
  std::vector<double> rain(7, -1.0);
  const std::vector<double> x{0, 1.0e5}, y{0, -1.0e5}, value{0, 6.5};
  precip_idw_parallel(30.0, ms.index_map, 1, 1000.0, 500.0, view(x), view(y), view(value),
                      {rain.data(), rain.size()}, 2, 3);
  for (int i : {1, 3, 4, 5, 6}) EXPECT_EQ(rain[i], 6.5) << i;
  EXPECT_EQ(rain[2], -1.0);
}

TEST(PrecipKernels, NearestGaugeSearchKeepsTheLowerNumberOnATie) {
  model_state ms;
  make_grid(ms, 1, 3, 10.0, 100.0, 0.0);  // centres (5, 95), (15, 95), (25, 95)
  // Gauges 1 and 2 lie 5 m either side of cell 2's centre; gauge 3 sits on cell 3's centre.
  const std::vector<double> x{0, 10, 20, 25}, y{0, 95, 95, 95};
  std::vector<int> nearest(4, 0);
  const int failures = find_neighbor_all(3, ms.index_map, view(x), view(y), 100.0, 0.0,
                                         {nearest.data(), nearest.size()}, 10.0, 1, 3);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(nearest[1], 1);
  EXPECT_EQ(nearest[2], 1);
  EXPECT_EQ(nearest[3], 3);

  // The values follow the table; with one gauge every cell takes gauge 1's.
  const std::vector<double> value{0, 1.5, 2.5, 3.5};
  std::vector<double> rain(4, 0.0);
  gage_values_to_cells(3, {nearest.data(), nearest.size()}, view(value), {rain.data(), rain.size()},
                       3);
  EXPECT_EQ(rain, (std::vector<double>{0, 1.5, 1.5, 3.5}));
  const std::vector<int> none(4, 0);
  gage_values_to_cells(1, {none.data(), none.size()}, view(value), {rain.data(), rain.size()}, 3);
  EXPECT_EQ(rain, (std::vector<double>{0, 1.5, 1.5, 1.5}));
}

TEST(PrecipKernels, AGaugeBeyond900000MapUnitsIsAFailure) {
  struct reach_case {
    double distance;
    int failures;
  };
  for (const reach_case& c : {reach_case{899999.0, 0}, reach_case{900001.0, 1}}) {
    SCOPED_TRACE(c.distance);
    model_state ms;
    make_grid(ms, 1, 1, 10.0, 100.0, 0.0);  // one cell, centre (5, 95)
    const std::vector<double> x{0, 5.0}, y{0, 95.0 + c.distance};
    std::vector<int> nearest(2, 0);
    EXPECT_EQ(find_neighbor_all(1, ms.index_map, view(x), view(y), 100.0, 0.0,
                                {nearest.data(), nearest.size()}, 10.0, 1, 1),
              c.failures);
    if (c.failures == 0) {
      EXPECT_EQ(nearest[1], 1);
    }
  }
}

TEST(PrecipKernels, OneAndEightThreadsGiveTheSameIntensities) {
  torva_test::process_state_guard guard;  // gives the thread count back
  model_state ms;
  make_grid(ms, 53, 61, 25.0, 5000.0, 1000.0);  // above the parallel threshold
  for (int r = 1; r <= 53; r += 5) ms.index_map[r][r % 61 + 1] = 0;
  const std::vector<double> x{0, 1100, 1900, 1500, 1010, 2000}, y{0, 4100, 4900, 4500, 4980, 4100};
  const std::vector<double> value{0, 4, 9, 1, 16, 25};
  auto run = [&](int threads) {
    omp_set_num_threads(threads);
    std::vector<double> idw(ms.cell_count + 1, 0.0), near(ms.cell_count + 1, 0.0);
    std::vector<int> nearest(ms.cell_count + 1, 0);
    precip_idw_parallel(25.0, ms.index_map, 5, 5000.0, 1000.0, view(x), view(y), view(value),
                        {idw.data(), idw.size()}, 53, 61);
    EXPECT_EQ(find_neighbor_all(5, ms.index_map, view(x), view(y), 5000.0, 1000.0,
                                {nearest.data(), nearest.size()}, 25.0, 53, 61),
              0);
    gage_values_to_cells(5, {nearest.data(), nearest.size()}, view(value),
                         {near.data(), near.size()}, ms.cell_count);
    idw.insert(idw.end(), near.begin(), near.end());
    return idw;
  };
  const std::vector<double> one = run(1);
  const std::vector<double> eight = run(8);
  EXPECT_EQ(one, eight);
  // Every active cell got a rain between the smallest and the largest gauge value.
  for (int r = 1; r <= 53; ++r)
    for (int c = 1; c <= 61; ++c) {
      const int i = (r - 1) * 61 + c;
      if (ms.index_map[r][c] == 0) continue;
      EXPECT_GE(one[i], 1.0) << i;
      EXPECT_LE(one[i], 25.0) << i;
    }
}

TEST(PrecipKernels, RecordIntervalsComeFromTheJulianTimesOfTheRecords) {
  struct interval_case {
    const char* what;
    int first[5], next[5];
    double seconds;
  };
  const interval_case cases[] = {
      {"same day", {2005, 3, 14, 6, 30}, {2005, 3, 14, 7, 0}, 1800.0},
      {"over midnight", {2005, 3, 14, 23, 0}, {2005, 3, 15, 1, 0}, 7200.0},
      // Records days apart are their whole interval apart, not a day and the hours.
      {"three days on", {2005, 3, 1, 6, 0}, {2005, 3, 4, 6, 0}, 3 * 86400.0},
      {"three days and 90 minutes on", {2005, 3, 1, 6, 0}, {2005, 3, 4, 7, 30}, 264600.0},
      {"month change", {2005, 1, 31, 23, 0}, {2005, 2, 1, 1, 0}, 7200.0},
      {"end of February, leap year", {2004, 2, 28, 12, 0}, {2004, 3, 1, 12, 0}, 172800.0},
      {"end of February", {2005, 2, 28, 12, 0}, {2005, 3, 1, 12, 0}, 86400.0},
      // 1900 was no leap year: its February has 28 days.
      {"end of February 1900", {1900, 2, 28, 12, 0}, {1900, 3, 1, 12, 0}, 86400.0},
      {"two months on", {2005, 1, 15, 0, 0}, {2005, 3, 15, 0, 0}, 59 * 86400.0},
      {"new year", {2004, 12, 31, 23, 30}, {2005, 1, 1, 0, 15}, 2700.0},
  };
  for (const interval_case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_DOUBLE_EQ(precip_interval_seconds(c.first, c.next), c.seconds);
  }
}

// --- The time-loop steps -----------------------------------------------------------------------

class PrecipEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    ms_ = std::make_unique<model_state>();
    make_grid(*ms_, 2, 2, 10.0, 100.0, 0.0);
  }

  // Writes the precipitation file and opens it as the run's rain-gauge file.
  void rain_file(const std::string& text) {
    write_file(dir_.file("rain.gag"), text);
    snprintf(ms_->input.names.precip_file, sizeof ms_->input.names.precip_file, "rain.gag");
    ASSERT_TRUE(file_handle_open(ms_->input.raingage_file, dir_.file("rain.gag").c_str(), "r"));
  }

  // The run as the event scan and the clock leave it: event k of the table starts at starts[k - 1]
  // and the clock at the first of them, in steps of `step_seconds`.
  void begin(const std::vector<double>& starts, double step_seconds, bool nearest = false) {
    model_state& ms = *ms_;
    ms.overland.precip_file_on = 1;
    ms.overland.rain_inv_distance = nearest ? 0 : 1;
    ms.overland.rain_thiessen = nearest ? 1 : 0;
    ms.overland.num_events = static_cast<int>(starts.size());
    for (std::size_t k = 0; k < starts.size(); ++k) ms.event_start_jday[k + 1] = starts[k];
    ms.time_tolerance = tolerance_days;
    ms.dt_days = step_seconds / 86400.0;
    ms.start_time_jday = ms.current_time = starts[0];
    ms.step_number = 0;
  }

  // One pass of the loop's precipitation steps at the current time, then the clock moves on a
  // step. The overland step is due at every pass: an event's initialisation starts its schedule
  // at the event's start (the rain of the first step falls after it), and the rain of each pass
  // falls on the step from the overland step's last update, which then moves to the pass's time.
  // What the steps printed is kept in out_.
  void pass() {
    model_state& ms = *ms_;
    stdout_capture capture;
    const int events = ms.event_number;
    start_precip_event(ms);
    if (ms.event_number != events) ms.ov_clock.last = ms.current_time;
    update_precip_record(ms);
    ms.ov_clock.last = ms.current_time;
    out_ += capture.stop();
    ms.step_number += 1;
    ms.current_time = ms.start_time_jday + ms.step_number * ms.dt_days;
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder and the state
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
  std::string out_;
};

TEST_F(PrecipEvents, EventsStartAtTheirTimeRainUntilTheirLastRecordAndTheFileThenEnds) {
  // One gauge. Event 1: GAGES every 10 minutes from 6:30 (the depth of 6:40 falls from 6:30 to
  // 6:40, that of 6:50 from 6:40 to 6:50, the last record closing the series). Event 2: RATES
  // from 8:00, its last record's time ending the rain. A third event in the table is missing
  // from the file. The intensity seen after the pass of minute m is the one of the step that
  // ends at m (the pass of an event's start sets the intensity of the step after it).
  rain_file(
      "EVENT first\nNRGAG 1\nNRPDS 3\nCOORD 5 95\n"
      "GAGES 2005 3 14 6 30 2.0\nGAGES 2005 3 14 6 40 3.0\nGAGES 2005 3 14 6 50 4.0\n"
      "EVENT second\nNRGAG 1\nNRPDS 2\nCOORD 5 95\n"
      "RATES 2005 3 14 8 0 12.0\nRATES 2005 3 14 8 10 0.0\n");
  begin({jd(2005, 3, 14, 6, 30), jd(2005, 3, 14, 8, 0), jd(2005, 3, 14, 9, 0)}, 60.0);
  model_state& ms = *ms_;
  overland_state& ov = ms.overland;

  struct seen {
    int state;
    double rain;
    int event;
  };
  std::vector<seen> by_minute;
  for (int minute = 0; minute <= 150; ++minute) {
    pass();
    by_minute.push_back({ov.rain_event_state, ov.rain_cell[4], ms.event_number});
  }
  ASSERT_EQ(run_error.error_fatal, 0) << out_;
  EXPECT_TRUE(contains(out_, "reading precip data from file: rain.gag\n")) << out_;

  // 3 mm in 10 minutes is 18 mm/h on every cell from 6:30 to 6:40, 4 mm 24 mm/h to 6:50.
  for (int m : {0, 5, 10, 11, 15, 20}) {
    EXPECT_EQ(by_minute[m].state, 1) << m;
    EXPECT_DOUBLE_EQ(by_minute[m].rain, m <= 10 ? 18.0 : 24.0) << m;
    EXPECT_EQ(by_minute[m].event, 1) << m;
  }
  for (int m : {21, 30, 89}) {
    EXPECT_EQ(by_minute[m].state, 0) << m;
    EXPECT_EQ(by_minute[m].rain, 0.0) << m;
  }
  for (int m : {90, 95, 100}) {
    EXPECT_EQ(by_minute[m].state, 1) << m;
    EXPECT_DOUBLE_EQ(by_minute[m].rain, 12.0) << m;
    EXPECT_EQ(by_minute[m].event, 2) << m;
  }
  EXPECT_EQ(by_minute[101].state, 0);
  EXPECT_EQ(by_minute[101].rain, 0.0);
  EXPECT_EQ(by_minute[149].state, 0);
  // No third event in the file: no further event, and no complaint after events were read.
  EXPECT_EQ(by_minute[150].state, 2);
  EXPECT_EQ(ms.event_number, 2);
  EXPECT_FALSE(contains(out_, "Data was not correctly read")) << out_;
  // The second event's times; the framework's event fields follow the event start.
  EXPECT_DOUBLE_EQ(ov.event_rain_start, jd(2005, 3, 14, 8, 0));
  EXPECT_DOUBLE_EQ(ov.event_rain_end, jd(2005, 3, 14, 8, 10));
  EXPECT_DOUBLE_EQ(ms.event_start_time, jd(2005, 3, 14, 8, 0));
  EXPECT_EQ(ms.event_active, 1);
  EXPECT_EQ(ov.precip_events_read, 3);
  // The RATES event read two records: no record time past them is taken (the table's third
  // entry still holds the first event's 6:50), its last record's time stays the next one.
  EXPECT_DOUBLE_EQ(ov.precip_next_time, jd(2005, 3, 14, 8, 10));
}

// The rain of an event is active from the event's start until its closing record, and again
// from the next event's start: a long-term run's infiltration rests only while it is not.
TEST_F(PrecipEvents, RainIsActiveFromAnEventsStartToItsClosingRecord) {
  rain_file(
      "EVENT first\nNRGAG 1\nNRPDS 2\nCOORD 5 95\n"
      "RATES 2005 3 14 6 30 10.0\nRATES 2005 3 14 6 40 0.0\n"
      "EVENT second\nNRGAG 1\nNRPDS 2\nCOORD 5 95\n"
      "RATES 2005 3 14 8 0 12.0\nRATES 2005 3 14 8 10 0.0\n");
  begin({jd(2005, 3, 14, 6, 30), jd(2005, 3, 14, 8, 0)}, 60.0);
  ms_->long_term = 1;
  std::vector<int> active;
  for (int minute = 0; minute <= 120; ++minute) {
    pass();
    active.push_back(ms_->overland.rain_active);
  }
  ASSERT_EQ(run_error.error_fatal, 0) << out_;
  const struct {
    int minute;
    int active;
  } seen[] = {{0, 1}, {9, 1}, {11, 0}, {60, 0}, {89, 0}, {90, 1}, {99, 1}, {101, 0}, {120, 0}};
  for (const auto& s : seen) EXPECT_EQ(active[s.minute], s.active) << s.minute;
}

TEST_F(PrecipEvents, GaugeDepthsAndAccumulationsBecomeIntensities) {
  struct convert_case {
    const char* what;
    std::string records;         // the data lines of a one-gauge event
    int nrpds;                   // records in the file
    int count;                   // records of the event once started
    std::vector<double> values;  // the gauge's values after the event start, records 1..nrpds
    bool long_delta;
  };
  const convert_case cases[] = {
      {"GAGES 6 mm in 30 minutes",
       "GAGES 2005 3 14 6 30 1.0\nGAGES 2005 3 14 7 0 6.0\nGAGES 2005 3 14 8 0 3.0\n",
       3,
       3,
       {12.0, 3.0, 3.0},
       false},
      {"ACCUM",
       "ACCUM 2005 3 14 6 30 2.0\nACCUM 2005 3 14 7 0 5.0\nACCUM 2005 3 14 8 30 11.0\n",
       3,
       3,
       {6.0, 4.0, 11.0},
       false},
      {"RATES as read, one record more",
       "RATES 2005 3 14 6 30 7.0\nRATES 2005 3 14 7 0 2.0\n",
       2,
       3,
       {7.0, 2.0},
       false},
      {"GAGES over a month change",
       "GAGES 2005 1 31 23 30 0.0\nGAGES 2005 2 1 0 30 5.0\n",
       2,
       2,
       {5.0, 5.0},
       false},
      // Two days and an hour: 49 hours, longer than a day.
      {"GAGES two days apart",
       "GAGES 2005 3 1 6 0 0.0\nGAGES 2005 3 3 7 0 49.0\n",
       2,
       2,
       {1.0, 49.0},
       true},
  };
  for (const convert_case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    rain_file("EVENT e\nNRGAG 1\nNRPDS " + std::to_string(c.nrpds) + "\nCOORD 5 95\n" + c.records);
    begin({0.0}, 60.0);  // the event is due at once
    stdout_capture capture;
    start_precip_event(*ms_);
    out_ = capture.stop();
    ASSERT_EQ(ms_->overland.rain_event_state, 1) << out_;
    EXPECT_EQ(ms_->overland.precip_record_count, c.count);
    for (std::size_t k = 0; k < c.values.size(); ++k)
      EXPECT_DOUBLE_EQ(ms_->overland.precip_values[1][k + 1], c.values[k]) << k + 1;
    EXPECT_EQ(contains(out_, "WARNING: you have a long delta t in your precip file\n"),
              c.long_delta)
        << out_;
  }
}

TEST_F(PrecipEvents, NearestGaugeEventsRainEachCellsGaugeValue) {
  // Gauge 1 on cell 1's centre, gauge 2 on cell 4's: cells 2 and 3 lie as far from both and keep
  // gauge 1.
  rain_file(
      "EVENT e\nNRGAG 2\nNRPDS 2\nCOORD 5 95\nCOORD 15 85\n"
      "RATES 2005 3 14 6 30 4.0 8.0\nRATES 2005 3 14 6 40 0.0 0.0\n");
  begin({jd(2005, 3, 14, 6, 30)}, 60.0, true);
  pass();
  ASSERT_EQ(run_error.error_fatal, 0) << out_;
  const overland_state& ov = ms_->overland;
  EXPECT_EQ(ov.nearest.count(), 4);
  EXPECT_EQ(std::vector<double>(ov.rain_cell.data() + 1, ov.rain_cell.data() + 5),
            (std::vector<double>{4.0, 4.0, 4.0, 8.0}));
}

TEST_F(PrecipEvents, FailuresStopTheRunWithTheirMessages) {
  struct failure_case {
    const char* what;
    std::string file;
    bool nearest;
    const char* message;
  };
  const failure_case cases[] = {
      {"end of the file inside the event",
       "EVENT e\nNRGAG 1\nNRPDS 3\nCOORD 5 95\n"
       "GAGES 2005 3 14 6 30 1.0\n",
       false,
       "Unexpected end of file in rain gauge data file.\nCheck the format of the data file.\n"
       "Program terminated."},
      {"gauges out of reach",
       "EVENT e\nNRGAG 2\nNRPDS 2\nCOORD 5 2000000\nCOORD 5 3000000\n"
       "RATES 2005 3 14 6 30 1.0 1.0\nRATES 2005 3 14 6 40 1.0 1.0\n",
       true,
       "Failure to identify closest raingauge in find_neighbor\n"
       "check rain gage data file, particularly gage coordinates\n"},
      {"two depth records at the same time",
       "EVENT e\nNRGAG 1\nNRPDS 3\nCOORD 5 95\n"
       "GAGES 2005 3 14 6 30 1.0\nGAGES 2005 3 14 6 40 2.0\nGAGES 2005 3 14 6 40 3.0\n",
       false,
       "Error: records 2 and 3 of the event entitled:\n   e\nin the precipitation file rain.gag "
       "are "
       "both dated 3/14/2005 6:40; a depth needs an interval of time to fall in.\n"},
      {"an event of no gauge",
       "EVENT e\nNRGAG 0\nNRPDS 2\nGAGES 2005 3 14 6 30\nGAGES 2005 3 14 6 40\n", false,
       "Error: the event entitled:\n   e\nin the precipitation file rain.gag has no gauge (NRGAG "
       "0); an event of gauge records needs at least one gauge.\n"},
  };
  for (const failure_case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    process_state_.reset();
    out_.clear();
    rain_file(c.file);
    begin({jd(2005, 3, 14, 6, 30)}, 60.0, c.nearest);
    pass();
    EXPECT_TRUE(contains(out_, c.message)) << out_;
    EXPECT_EQ(run_error.error_fatal, 1) << out_;
  }
}

// A radar grid file over the fixture's grid (2 x 2 cells of 10 m, north edge 100, west edge 0):
// the same cells, values in inches per hour.
std::string radar_frame(const std::string& values, int cols = 2) {
  return "ncols " + std::to_string(cols) +
         "\nnrows 2\nxllcorner 0\nyllcorner 80\ncellsize 10\nNODATA_value -9\n" + values;
}

TEST_F(PrecipEvents, RadarEventsRainEachFrameOnEveryCellFromItsRecordTime) {
  // Four records ten minutes apart: each frame rains from its record's time to the next
  // record's, and the last record only closes the event. The first three frames rain for ten
  // minutes each (the third, 9 in/h, clipped to 100 mm/h); the fourth is never read. The
  // intensity after the pass of minute m is the one of the step that ends at m.
  write_file(dir_.file("f1.asc"), radar_frame("1 2\n3 0.5\n"));
  write_file(dir_.file("f2.asc"), radar_frame("0.1 -9\n0 0.4\n"));
  write_file(dir_.file("f3.asc"), radar_frame("9 9\n9 9\n"));
  write_file(dir_.file("f4.asc"), radar_frame("9 9\n9 9\n"));
  rain_file("EVENT radar\nNRGAG files\nNRPDS 4\nRADAR 2005 3 14 6 30 " + dir_.file("f1.asc") +
            "\nRADAR 2005 3 14 6 40 " + dir_.file("f2.asc") + "\nRADAR 2005 3 14 6 50 " +
            dir_.file("f3.asc") + "\nRADAR 2005 3 14 7 0 " + dir_.file("f4.asc") + "\n");
  begin({jd(2005, 3, 14, 6, 30)}, 60.0);
  model_state& ms = *ms_;
  const overland_state& ov = ms.overland;
  auto rain = [&ov] {
    return std::vector<double>(ov.rain_cell.data() + 1, ov.rain_cell.data() + 5);
  };
  const std::vector<double> first{25.4, 50.8, 76.2, 12.7};  // row by row, x 25.4
  const std::vector<double> second{2.54, 0.0, 0.0, 0.4 * 25.4};
  const std::vector<double> third(4, 100.0);
  for (int minute = 0; minute <= 30; ++minute) {
    pass();
    ASSERT_EQ(run_error.error_fatal, 0) << out_;
    EXPECT_EQ(ov.rain_event_state, 1) << minute;
    const std::vector<double>& frame = minute <= 10 ? first : minute <= 20 ? second : third;
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(rain()[i], frame[i], 1e-12) << minute << " " << i;
  }
  pass();  // 7:01, the step from 7:00
  EXPECT_EQ(ov.rain_event_state, 0);
  EXPECT_EQ(rain(), std::vector<double>(4, 0.0));
  EXPECT_TRUE(contains(out_, "Reading radar precip file " + dir_.file("f1.asc") + ".\n")) << out_;
  EXPECT_TRUE(contains(out_, "Reading radar precip file " + dir_.file("f2.asc") + ".\n")) << out_;
  EXPECT_TRUE(contains(out_, "Reading radar precip file " + dir_.file("f3.asc") + ".\n")) << out_;
  EXPECT_FALSE(contains(out_, "Reading radar precip file " + dir_.file("f4.asc"))) << out_;
  EXPECT_TRUE(contains(out_, "Peak rainfall applied to watershed: 76.200000 mm/hr\n")) << out_;
  EXPECT_DOUBLE_EQ(ov.event_rain_start, jd(2005, 3, 14, 6, 30));
  EXPECT_DOUBLE_EQ(ov.event_rain_end, jd(2005, 3, 14, 7, 0));
}

// A frame that cannot be read when its time comes stops the run with a message naming its
// file; the cells are not given the previous frame again.
TEST_F(PrecipEvents, ARadarFrameThatCannotBeReadStopsTheRunNamingItsFile) {
  const struct {
    const char* what;
    std::string second;  // the second frame's file at its time; empty: removed
    std::string problem;
  } cases[] = {
      {"removed", "", "cannot be read: the file cannot be opened.\n"},
      {"another grid", radar_frame("1 1 1\n1 1 1\n", 3),
       "cannot be read: its grid (3 columns, 2 rows"},
      {"a value short", radar_frame("1 1\n1\n"),
       "cannot be read: the file holds 3 values for the 4 cells"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    process_state_.reset();
    out_.clear();
    const std::string f2 = dir_.file("f2.asc");
    write_file(dir_.file("f1.asc"), radar_frame("1 1\n1 1\n"));
    write_file(f2, radar_frame("2 2\n2 2\n"));
    rain_file("EVENT radar\nNRGAG files\nNRPDS 3\nRADAR 2005 3 14 6 30 " + dir_.file("f1.asc") +
              "\nRADAR 2005 3 14 6 31 " + f2 + "\nRADAR 2005 3 14 6 32 " + f2 + "\n");
    begin({jd(2005, 3, 14, 6, 30)}, 60.0);
    pass();  // 6:30
    pass();  // 6:31: the step from 6:30 still rains the first frame
    ASSERT_EQ(run_error.error_fatal, 0) << out_;
    EXPECT_DOUBLE_EQ(ms_->overland.rain_cell[1], 25.4);
    remove(f2.c_str());
    if (!c.second.empty()) write_file(f2, c.second);
    ms_->overland.rain_cell[1] = -1.0;
    pass();  // 6:32: the step from 6:31 needs the second frame
    EXPECT_EQ(run_error.error_fatal, 1) << out_;
    EXPECT_TRUE(contains(out_, "Error: the radar file " + f2 +
                                   " of record 2 of the event entitled:\n   radar\nin the "
                                   "precipitation file rain.gag " +
                                   c.problem))
        << out_;
    EXPECT_EQ(ms_->overland.precip_record, 2);
    EXPECT_NE(ms_->overland.rain_cell[1], 25.4);
  }
}

TEST_F(PrecipEvents, RecordTimesBetweenStepsApplyFromTheFirstStepThatStartsAfterThem) {
  // Steps of 7 minutes; GAGES records at 6:30, 6:40, 6:50 and 7:00: 1.0 mm falls from 6:30 to
  // 6:40 (6 mm/h), 2.0 mm from 6:40 to 6:50 (12 mm/h) and 3.0 mm from 6:50 to 7:00 (18 mm/h).
  // The 6:40 record falls inside the step from 6:37 to 6:44 and rains from the step that starts
  // at 6:44; the 6:50 record from the step that starts at 6:51; the closing record of 7:00 ends
  // the rain with the step that starts at 7:05.
  rain_file(
      "EVENT e\nNRGAG 1\nNRPDS 4\nCOORD 5 95\n"
      "GAGES 2005 3 14 6 30 0.0\nGAGES 2005 3 14 6 40 1.0\nGAGES 2005 3 14 6 50 2.0\n"
      "GAGES 2005 3 14 7 0 3.0\n");
  begin({jd(2005, 3, 14, 6, 30)}, 420.0);
  model_state& ms = *ms_;
  // Intensity of the step that ends at 6:30 (the event's start: of the step after it), 6:37,
  // 6:44, 6:51, 6:58, 7:05, 7:12.
  const double expected[] = {6.0, 6.0, 6.0, 12.0, 18.0, 18.0, 0.0};
  for (double rain : expected) {
    const double minute = (ms.current_time - jd(2005, 3, 14, 6, 30)) * 1440.0;
    pass();
    EXPECT_DOUBLE_EQ(ms.overland.rain_cell[1], rain) << "minute " << minute;
  }
  EXPECT_EQ(ms.overland.rain_event_state, 0) << out_;
  EXPECT_EQ(run_error.error_fatal, 0) << out_;
}

TEST_F(PrecipEvents, AnEventOfOneRecordWarnsNamingItAndItsFileAndRainsNothing) {
  for (const char* card : {"RATES", "GAGES", "ACCUM"}) {
    SCOPED_TRACE(card);
    SetUp();
    process_state_.reset();
    out_.clear();
    rain_file(std::string("EVENT lone\nNRGAG 1\nNRPDS 1\nCOORD 5 95\n") + card +
              " 2005 3 14 6 30 40.0\n");
    begin({jd(2005, 3, 14, 6, 30)}, 60.0);
    pass();  // the event starts
    EXPECT_TRUE(contains(out_,
                         "Warning: the event entitled:\n   lone\nin the precipitation file "
                         "rain.gag has one record; a record's rain lasts until the next record's "
                         "time, so the event rains nothing.\n"))
        << out_;
    pass();  // the step from the event's start: its only record closes the series
    EXPECT_EQ(run_error.error_fatal, 0) << out_;
    EXPECT_EQ(ms_->overland.rain_event_state, 0);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(ms_->overland.rain_cell[i], 0.0) << i;
  }
  // Two records are a series: no warning.
  SetUp();
  out_.clear();
  rain_file(
      "EVENT pair\nNRGAG 1\nNRPDS 2\nCOORD 5 95\nRATES 2005 3 14 6 30 40.0\n"
      "RATES 2005 3 14 6 40 0.0\n");
  begin({jd(2005, 3, 14, 6, 30)}, 60.0);
  pass();
  EXPECT_FALSE(contains(out_, "Warning")) << out_;
}

TEST_F(PrecipEvents, AFileWithoutTheFirstEventSaysSoAndHasNoFurtherEvent) {
  rain_file("nothing but notes\n");
  begin({jd(2005, 3, 14, 6, 30)}, 60.0);
  pass();
  EXPECT_EQ(ms_->overland.rain_event_state, 2);
  EXPECT_TRUE(contains(out_,
                       "\n**********************************\n"
                       "Data was not correctly read from the rainfall input file.\n"
                       "Verify the file format.\n"
                       "***********************************\n"))
      << out_;
  EXPECT_EQ(run_error.error_fatal, 0);
}

TEST_F(PrecipEvents, UniformRainFallsFromTheFirstStepForItsApplications) {
  model_state& ms = *ms_;
  overland_state& ov = ms.overland;
  ov.uniform_rain = 1;
  ov.rain_intensity = 25.0;
  ov.rain_event_state = 1;
  ov.precip_record_count = 3;  // three applications
  ms.time_tolerance = tolerance_days;
  update_precip_record(ms);
  EXPECT_EQ(ov.rain_active, 1);
  EXPECT_EQ(ov.ov_end_checks_off, 1);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(ov.rain_cell[i], 25.0) << i;
  // The rainfall step counts its applications; after the third the rain stops.
  for (int applied = 1; applied <= 3; ++applied) {
    EXPECT_EQ(ov.rain_event_state, 1) << applied;
    ov.uniform_rain_steps += 1;
    ms.step_number += 1;
    update_precip_record(ms);
  }
  EXPECT_EQ(ov.rain_event_state, 3);
  EXPECT_EQ(ov.rain_active, 0);
  EXPECT_EQ(ov.ov_end_checks_off, 0);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(ov.rain_cell[i], 0.0) << i;
}

}  // namespace
