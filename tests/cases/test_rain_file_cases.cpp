// End-to-end cases of rain from a precipitation file, run by the real torva executable: three
// gauges outside a grid of 3 x 8 cells of 5 km, their records 20, 10, 30 and 30 minutes apart,
// as rates (RATES), as depths per interval (GAGES) and as accumulated depths (ACCUM), spread by
// inverse distance and by nearest gauge, and a series of radar frames (RADAR). Each record holds
// from its own time to the next record's and the last record only closes the series, so the
// run's rain volume in the summary is the integral of the records over the cells, computed by
// hand below, to 1e-9 of the volume, at steps of 60 s and of 10 s, on 1 and 8 threads with the
// same outputs. An event of one record warns that it rains nothing; a record dated on a day its
// month does not have stops the run naming the file, the line and the date.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::command_result;
using torva_test::contains;
using torva_test::grid_header;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::summary_balance;
using torva_test::temp_dir;
using torva_test::write_file;

namespace rain_file_cases_tests {

constexpr int rows = 3;
constexpr int cols = 8;
constexpr double cell = 5000.0;  // m: large cells, so that the summary's 0.01 m3 is below 1e-9
constexpr double area = cell * cell;
constexpr double west = 500.0;                  // grid_header's west edge
constexpr double north = 1000.0 + rows * cell;  // and north edge
constexpr int gauges = 3;
constexpr int records = 5;
// The records' minutes after 6:00; every interval is a whole number of 60 s and of 10 s steps.
constexpr int record_minute[records] = {0, 20, 30, 60, 90};
// The gauges, all outside the grid, so that every cell weighs all three by distance.
constexpr double gauge_x[gauges] = {-15000.0, 56000.0, 20000.0};
constexpr double gauge_y[gauges] = {8000.0, 4000.0, 32000.0};

// The values of the gauges' records, [gauge][record]. The last record's values (and the first
// record's depth of a GAGES event, rain from before the series) must not fall.
struct gauge_series {
  const char* card;
  double values[gauges][records];
};
const gauge_series rates = {
    "RATES",  // mm/h
    {{30.0, 10.0, 0.0, 24.0, 99.0}, {5.0, 25.0, 40.0, 12.0, 99.0}, {0.0, 15.0, 20.0, 6.0, 99.0}}};
const gauge_series depths = {
    "GAGES",  // mm fallen since the record before
    {{7.0, 10.0, 2.0, 0.0, 12.0}, {7.0, 1.5, 4.0, 20.0, 6.0}, {7.0, 0.0, 2.5, 10.0, 3.0}}};
const gauge_series accumulated = {
    "ACCUM",  // mm fallen since some time before the series
    {{3.0, 13.0, 15.0, 15.0, 27.0}, {0.0, 1.5, 5.5, 25.5, 31.5}, {1.0, 1.0, 3.5, 13.5, 16.5}}};

double interval_hours(int k) {  // record k (0-based) to record k + 1
  return (record_minute[k + 1] - record_minute[k]) / 60.0;
}

// Depth (mm) each gauge records over the whole series, by its own format.
std::vector<double> gauge_depths(const gauge_series& s) {
  std::vector<double> d(gauges, 0.0);
  for (int g = 0; g < gauges; ++g) {
    const double* v = s.values[g];
    if (std::string(s.card) == "RATES")
      for (int k = 0; k + 1 < records; ++k) d[g] += v[k] * interval_hours(k);
    else if (std::string(s.card) == "GAGES")
      for (int k = 1; k < records; ++k) d[g] += v[k];
    else
      d[g] = v[records - 1] - v[0];
  }
  return d;
}

double centre_x(int c) {  // columns and rows from 1
  return west + (c - 0.5) * cell;
}
double centre_y(int r) {
  return north - (r - 0.5) * cell;
}
double gauge_distance(int g, int r, int c) {
  return std::hypot(gauge_x[g] - centre_x(c), gauge_y[g] - centre_y(r));
}

// Rain volume (m3) of the gauges' depths on the grid: each cell takes the inverse-distance-
// squared mean of the gauges' depths, or the depth of its nearest gauge. The weights do not
// change in time, so the mean of the depths is the depth of the means.
double gauge_volume(const std::vector<double>& depth, bool nearest) {
  double volume = 0.0;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) {
      double cell_depth = 0.0;
      if (nearest) {
        int best = 0;
        for (int g = 1; g < gauges; ++g)
          if (gauge_distance(g, r, c) < gauge_distance(best, r, c)) best = g;
        cell_depth = depth[best];
      } else {
        double weighted = 0.0, weights = 0.0;
        for (int g = 0; g < gauges; ++g) {
          const double w = 1.0 / (gauge_distance(g, r, c) * gauge_distance(g, r, c));
          weighted += w * depth[g];
          weights += w;
        }
        cell_depth = weighted / weights;
      }
      volume += cell_depth / 1000.0 * area;
    }
  return volume;
}

// Radar frame k (0-based) in inches per hour, row by row from the north: quarter inches that
// differ from cell to cell and frame to frame; the second frame has no data on one cell and the
// last, closing frame rains an inch an hour everywhere (it must not fall).
double frame_value(int k, int r, int c) {
  if (k == records - 1) return 1.0;
  if (k == 1 && r == 2 && c == 5) return -9999.0;
  return ((r * cols + c + 3 * k) % 5) * 0.25;
}

double radar_volume() {
  double volume = 0.0;
  for (int k = 0; k + 1 < records; ++k)
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c) {
        const double v = frame_value(k, r, c);
        const double mm_per_hour = v == -9999.0 ? 0.0 : v * 25.4;
        volume += mm_per_hour * interval_hours(k) / 1000.0 * area;
      }
  return volume;
}

std::string date_of(int k) {
  const int minutes = 6 * 60 + record_minute[k];
  return "2005 3 14 " + std::to_string(minutes / 60) + " " + std::to_string(minutes % 60);
}

std::string gauge_file(const gauge_series& s) {
  std::ostringstream f;
  f << "EVENT \"three gauges\"\nNRGAG " << gauges << "\nNRPDS " << records << "\n";
  for (int g = 0; g < gauges; ++g) f << "COORD " << gauge_x[g] << " " << gauge_y[g] << "\n";
  for (int k = 0; k < records; ++k) {
    f << s.card << " " << date_of(k);
    for (int g = 0; g < gauges; ++g) f << " " << s.values[g][k];
    f << "\n";
  }
  return f.str();
}

// Writes the radar frames into the current folder and returns the precipitation file naming
// them.
std::string radar_file() {
  std::ostringstream f;
  f << "EVENT \"radar\"\nNRGAG files\nNRPDS " << records << "\n";
  for (int k = 0; k < records; ++k) {
    const std::string name = "frame" + std::to_string(k + 1) + ".asc";
    std::ostringstream grid;
    grid << "ncols " << cols << "\nnrows " << rows << "\nxllcorner " << west << "\nyllcorner "
         << 1000.0 << "\ncellsize " << cell << "\nNODATA_value -9999\n";
    for (int r = 1; r <= rows; ++r) {
      for (int c = 1; c <= cols; ++c) grid << frame_value(k, r, c) << (c < cols ? " " : "\n");
    }
    write_file(name, grid.str());
    f << "RADAR " << date_of(k) << " " << name << "\n";
  }
  return f.str();
}

// The grid: every cell in the watershed, the ground falling gently south and west to the
// outlet in the south-west corner.
void write_grid() {
  std::string mask = grid_header(rows, cols, cell);
  std::string elev = mask;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) {
      mask += std::string("1") + (c < cols ? " " : "\n");
      elev += std::to_string(10.0 + 1.0 * (rows - r) + 0.5 * (c - 1)) + (c < cols ? " " : "\n");
    }
  write_file("rain_mask.asc", mask);
  write_file("rain_elev.asc", elev);
}

std::string project(double timestep, const char* interpolation) {
  char steps[64];
  snprintf(steps, sizeof steps, "TIMESTEP %g\n", timestep);
  return std::string(
             "TORVAPROJECT\nWATERSHED_MASK rain_mask.asc\nELEVATION rain_elev.asc\n"
             "SUMMARY rain_summary.out\nOUTLET_HYDRO rain_outlet.out\nROWS 3\nCOLS 8\n"
             "GRIDSIZE 5000.0\nSTART_DATE 2005 3 14\nSTART_TIME 6 0\n") +
         steps +
         "TOT_TIME 120\nOUTROW 3\nOUTCOL 1\nOUTSLOPE 0.001\nHYD_FREQ 5\nMAP_FREQ 60\n"
         "MANNING_N 0.05\nOVERTYPE explicit\nPRECIP_FILE rain.gag\n" +
         interpolation + "\n";
}

TEST(RainFileCases, TheRainOfEveryFormatIsTheIntegralOfItsRecordsAtAnyStepThatDividesThem) {
  struct rain_case {
    const char* what;
    const gauge_series* series;  // null: the radar frames
    const char* interpolation;
  };
  const rain_case cases[] = {
      {"RATES, inverse distance", &rates, "RAIN_INV_DISTANCE"},
      {"RATES, nearest gauge", &rates, "RAIN_THIESSEN"},
      {"GAGES, inverse distance", &depths, "RAIN_INV_DISTANCE"},
      {"GAGES, nearest gauge", &depths, "RAIN_THIESSEN"},
      {"ACCUM, inverse distance", &accumulated, "RAIN_INV_DISTANCE"},
      {"ACCUM, nearest gauge", &accumulated, "RAIN_THIESSEN"},
      {"RADAR", nullptr, "RAIN_INV_DISTANCE"},
  };
  // The nearest gauge of the 24 cells, row by row from the north (a check of the hand
  // computation's table):
  //   1 3 3 3 3 3 3 2
  //   1 1 3 3 3 3 2 2
  //   1 1 1 3 3 2 2 2
  const double cells_of_gauge[gauges] = {6.0, 6.0, 12.0};
  for (int g = 0; g < gauges; ++g) {
    std::vector<double> one(gauges, 0.0);
    one[g] = 1000.0;  // mm: a metre on the gauge's cells
    EXPECT_DOUBLE_EQ(gauge_volume(one, true), cells_of_gauge[g] * area) << g;
  }

  for (const rain_case& c : cases) {
    const double hand =
        c.series != nullptr
            ? gauge_volume(gauge_depths(*c.series), std::string(c.interpolation) == "RAIN_THIESSEN")
            : radar_volume();
    ASSERT_GT(hand, 1e7) << c.what;  // 0.01 m3 in the summary is below 1e-9 of it
    for (double timestep : {60.0, 10.0}) {
      SCOPED_TRACE(std::string(c.what) + ", TIMESTEP " + std::to_string(timestep));
      temp_dir dir;
      write_grid();
      write_file("rain.gag", c.series != nullptr ? gauge_file(*c.series) : radar_file());
      write_file("rain.prj", project(timestep, c.interpolation));
      const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
          "rain.prj", [] { return read_file("rain_summary.out") + read_file("rain_outlet.out"); });
      ASSERT_EQ(runs.run[1].status, 0);
      const std::string summary = read_file("rain_summary.out");
      const summary_balance s = read_summary_balance(summary);
      ASSERT_TRUE(s.has_totals) << summary;
      EXPECT_NEAR(s.run_precip, hand, 1e-9 * hand);
      // The water of the run is all rain: it is on the cells or has left through the outlet.
      EXPECT_NEAR(s.run_ov_final + s.run_discharge, s.run_precip, 1e-9 * hand);
      EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
    }
  }
}

TEST(RainFileCases, AnEventOfOneRecordWarnsThatItRainsNothingAndTheRunGoesOn) {
  for (const char* card : {"RATES", "GAGES"}) {
    SCOPED_TRACE(card);
    temp_dir dir;
    write_grid();
    write_file("rain.gag", std::string("EVENT \"a lone record\"\nNRGAG 1\nNRPDS 1\nCOORD 0 0\n") +
                               card + " 2005 3 14 6 0 25.0\n");
    write_file("rain.prj", project(60.0, "RAIN_INV_DISTANCE"));
    const command_result run = torva_test::run_with_threads("rain.prj", 1);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::string warning =
        "Warning: the event entitled:\n   \"a lone record\"\nin the precipitation file rain.gag "
        "has one record; a record's rain lasts until the next record's time, so the event rains "
        "nothing.\n";
    EXPECT_TRUE(contains(run.out, warning)) << run.out;
    const std::string summary = read_file("rain_summary.out");
    EXPECT_TRUE(contains(summary, warning)) << summary;
    const summary_balance s = read_summary_balance(summary);
    ASSERT_TRUE(s.has_totals) << summary;
    EXPECT_EQ(s.run_precip, 0.0);
  }
}

TEST(RainFileCases, ARecordDatedOnADayItsMonthDoesNotHaveStopsTheRun) {
  const struct {
    const char* date;  // of the second record
    const char* shown;
    const char* problem;
  } cases[] = {
      {"2005 2 31 6 0", "2/31/2005 6:00", "February 2005 has 28 days"},
      {"2005 2 30 6 0", "2/30/2005 6:00", "February 2005 has 28 days"},
      {"2005 4 31 0 0", "4/31/2005 0:00", "April 2005 has 30 days"},
      {"2005 2 29 6 0", "2/29/2005 6:00", "February 2005 has 28 days"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    temp_dir dir;
    write_grid();
    // The second record stands on line 7.
    write_file("rain.gag", std::string("EVENT \"month end\"\nNRGAG 1\nNRPDS 3\n\nCOORD 0 0\n"
                                       "RATES 2005 1 20 6 0 25.0\nRATES ") +
                               c.date + " 25.0\nRATES 2005 5 1 6 0 0.0\n");
    write_file("rain.prj", project(60.0, "RAIN_INV_DISTANCE"));
    const command_result run = torva_test::run_with_threads("rain.prj", 1);
    EXPECT_NE(run.status, 0) << run.out << run.err;
    EXPECT_LT(run.status, 128) << run.err;  // a refusal, not a crash
    EXPECT_TRUE(contains(run.out, std::string("The date of record 2 of the EVENT titled:\n "
                                              "\"month end\"\nin the precipitation file rain.gag, "
                                              "line 7, is ") +
                                      c.shown + ", a day that does not exist: " + c.problem +
                                      ".\n"))
        << run.out;
    EXPECT_FALSE(contains(run.out, "Running....")) << run.out;
  }
}

}  // namespace rain_file_cases_tests
