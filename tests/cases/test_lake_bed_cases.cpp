// End-to-end cases of leaking channel-lake beds, run by the real torva executable: the example
// lake closed behind a raised culvert, with no water coming in, drains through its bed into a
// table deep below by the bed's law step after step, never below empty, and the lake's, the
// event's and the run's books close at 1 and 8 threads; the example lake with rain, inflow and
// its culvert runs with a leaking bed and keeps its books; a leaking bed without any
// conductivity stops the run at start-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::command_result;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::run_command;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::torva_exe;
using torva_test::write_file;

namespace lake_bed_cases_tests {

const std::string example_dir = std::string(TORVA_SOURCE_DIR) + "/examples/lake";

// Replaces the one line starting with `from` in `text` by `to` (an empty `to` drops the line).
void replace_line(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  const std::size_t end = text.find('\n', at);
  text.replace(at, end - at + 1, to.empty() ? "" : to + "\n");
}

// The example lake closed: the culvert's inlet raised to 104.5 m, above any level the lake
// reaches, so nothing leaves through it; rain of 1e-6 mm/h over the whole 180 minutes (it keeps
// the event open and brings the lake 2.7e-6 m3), its bed `mlake` thick (in centimetres) on the
// soil conductivity map, and the lake's level and volume written every 5 minutes. With
// `aquifer` the ground holds a simulated aquifer of the same conductivity (0.1 cm/h), porosity
// 0.3, its bottom at 80 m and its head at 90 m, far below the lake's ground.
void write_closed_lake(const std::string& mlake, bool with_soil_maps = true, bool aquifer = false) {
  for (const char* name :
       {"lake.gst", "lake_mask.asc", "lake_elev.asc", "lake_conductivity.asc", "lake_capillary.asc",
        "lake_porosity.asc", "lake_moisture.asc", "lake_hyd_locations.txt"})
    write_file(name, read_file(example_dir + "/" + name));
  std::string chn = read_file(example_dir + "/lake.chn");
  replace_line(chn, "UPINVERT 103.65", "UPINVERT 104.50");
  replace_line(chn, "MINWSE 103.6", "MLAKE " + mlake + "\nMINWSE 103.6");
  write_file("lake.chn", chn);
  std::string prj = read_file(example_dir + "/lake.prj");
  replace_line(prj, "RAIN_INTENSITY", "RAIN_INTENSITY     0.000001");
  replace_line(prj, "RAIN_DURATION", "RAIN_DURATION      180");
  if (!with_soil_maps)
    for (const char* card :
         {"GREEN_AMPT\n", "CONDUCTIVITY ", "CAPILLARY ", "POROSITY ", "MOISTURE "})
      replace_line(prj, card, "");
  prj += "LAKE_OUTPUT        lake_series.out\n";
  if (aquifer) {
    const std::string elev = read_file(example_dir + "/lake_elev.asc");
    std::size_t header = 0;
    for (int k = 0; k < 6; ++k) header = elev.find('\n', header) + 1;
    auto uniform = [&](const char* name, const char* value) {
      std::string text = elev.substr(0, header);
      for (int r = 0; r < 10; ++r) {
        for (int c = 0; c < 12; ++c) text += std::string(value) + " ";
        text += "\n";
      }
      write_file(name, text);
    };
    uniform("gw_head.asc", "90.0");
    uniform("gw_bottom.asc", "80.0");
    uniform("gw_bound.asc", "1");
    prj +=
        "WATER_TABLE gw_head.asc\nGW_SIMULATION\nAQUIFER_BOTTOM gw_bottom.asc\n"
        "GW_BOUNDFILE gw_bound.asc\nGW_UNIF_POROSITY 0.3\nGW_UNIF_HYCOND 0.1\nGW_LSOR_DIR 1\n"
        "GW_LSOR_CON 0.000001\n";
  }
  write_file("lake.prj", prj);
}

struct series_row {
  double minutes = 0.0, level = 0.0, volume = 0.0;
};

std::vector<series_row> read_series(const std::string& text) {
  std::vector<series_row> rows;
  std::istringstream in(text);
  series_row r;
  while (in >> r.minutes >> r.level >> r.volume) rows.push_back(r);
  return rows;
}

// The lake holds 0.1 m over its one cell (30 m, ground 103.6 m): 90 m3. Each 10 s channel step
// its bed passes (L - z) K / t over the cell's area, K = 0.1 cm/h from the soil conductivity map
// and t = MLAKE / 100 m, that is the lake's volume times a = K h / t; a step never takes more
// than the lake holds, so V(n) = V(n - 1) max(0, 1 - a), and the level is 103.6 + V / 900. The
// water leaves the run into the table deep below, booked as lake water to groundwater; over a
// simulated aquifer whose head stays below the lake's ground the same law holds and the water
// passed stays in the run, in the aquifer.
TEST(LakeBedCases, AClosedLakeDrainsThroughItsBedByTheBedsLawAndNeverBelowEmpty) {
  torva_test::process_state_guard guard;
  const std::string conductivity = read_file(example_dir + "/lake_conductivity.asc");
  std::istringstream grid(conductivity);
  std::string token;
  for (int k = 0; k < 12 + 3 * 12 + 6; ++k) grid >> token;  // header pairs, rows 1-3, row 4
  ASSERT_EQ(token, "0.1");                                  // the lake cell's, cm/h
  const double K = 0.1 / 100.0 / 3600.0;
  const double h = 10.0;
  struct lake_case {
    const char* mlake;  // bed thickness, cm
    double t;           // m
    bool aquifer;
  };
  for (const lake_case& c : {lake_case{"1.0", 0.01, false}, lake_case{"0.0001", 0.000001, false},
                             lake_case{"1.0", 0.01, true}}) {
    SCOPED_TRACE(std::string(c.mlake) + (c.aquifer ? " over an aquifer" : ""));
    temp_dir dir;
    write_closed_lake(c.mlake, true, c.aquifer);
    const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
        "lake.prj", [] { return read_file("lake_series.out") + read_file("lake_summary.out"); });
    ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;

    const double factor = std::max(0.0, 1.0 - K * h / c.t);
    const std::vector<series_row> rows = read_series(read_file("lake_series.out"));
    ASSERT_EQ(rows.size(), 37u);
    for (const series_row& r : rows) {
      const double steps = std::round(r.minutes * 60.0 / h);
      const double v = 90.0 * std::pow(factor, steps);
      EXPECT_NEAR(r.volume, v, 0.0015) << r.minutes;  // printed to 0.001 m3
      EXPECT_NEAR(r.level, 103.6 + v / 900.0, 0.0015) << r.minutes;
      EXPECT_GE(r.volume, 0.0) << r.minutes;
    }
    if (factor > 0.0) {
      // The same law in continuous time, V = 90 exp(-K T / t), lies within the explicit
      // step's error: 66.674 m3 after three hours against 66.671 m3 stepped.
      EXPECT_NEAR(rows.back().volume, 90.0 * std::exp(-K * 10800.0 / c.t), 0.005);
      EXPECT_LT(rows[1].volume, rows[0].volume);
    } else {
      EXPECT_EQ(rows[1].volume, 0.0);  // the bed took the whole lake and no more
    }
    const double final_volume = 90.0 * std::pow(factor, 1080.0);

    const std::string summary = read_file("lake_summary.out");
    const summary_balance s = read_summary_balance(summary);
    ASSERT_TRUE(s.has_event);
    ASSERT_TRUE(s.has_totals);
    EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
    EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
    EXPECT_LT(std::fabs(s.run_surface_error), 1e-6);
    EXPECT_NEAR(summary_number(summary, "Initial volume in perennial lakes"), 90.0, 0.005);
    EXPECT_NEAR(summary_number(summary, "Final volume in perennial lakes"), final_volume, 0.006);
    EXPECT_NEAR(summary_number(summary, "Total flux from lakes to gw="), 90.0 - final_volume,
                0.006);
    EXPECT_NEAR(summary_number(summary, "Total flux from gw to lakes="), 0.0, 0.005);
    EXPECT_NEAR(summary_number(summary, "Volume of flow from lakes="), 90.0 - final_volume, 0.006);
    EXPECT_NEAR(summary_number(summary, "volume of water from lakes to gw:"), 90.0 - final_volume,
                0.06);  // printed to 0.1 m3
    EXPECT_NEAR(summary_number(summary, "Perennial lake mass bal error m^3="), 0.0, 0.005);
    if (c.aquifer) {
      // 10 m of aquifer at porosity 0.3 under the 108 grid positions of 900 m2 at the start.
      const double start = summary_number(summary, "Initial volume in groundwater=");
      EXPECT_NEAR(start, 291600.0, 0.005);
      EXPECT_NEAR(summary_number(summary, "Final volume in groundwater=") - start,
                  90.0 - final_volume, 0.01);
    }
  }
}

// The example lake with a leaking bed under its storm: the MLAKE card runs, the bed passes some
// of the lake's water to the ground, and the lake's and the run's books still close.
TEST(LakeBedCases, TheExampleLakeWithALeakingBedRunsWithItsBooksClosed) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  for (const char* name :
       {"lake.prj", "lake.gst", "lake_mask.asc", "lake_elev.asc", "lake_conductivity.asc",
        "lake_capillary.asc", "lake_porosity.asc", "lake_moisture.asc", "lake_hyd_locations.txt"})
    write_file(name, read_file(example_dir + "/" + name));
  std::string chn = read_file(example_dir + "/lake.chn");
  replace_line(chn, "MINWSE 103.6", "MLAKE 50.0\nMINWSE 103.6");
  write_file("lake.chn", chn);
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "lake.prj", [] { return read_file("lake_outlet.out") + read_file("lake_summary.out"); });
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;
  EXPECT_NE(runs.run[1].out.find("Running...."), std::string::npos);
  const std::string summary = read_file("lake_summary.out");
  const summary_balance s = read_summary_balance(summary);
  ASSERT_TRUE(s.has_totals);
  EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
  EXPECT_LT(std::fabs(s.run_surface_error), 1e-6);
  EXPECT_GT(summary_number(summary, "Total flux from lakes to gw="), 0.0);
  EXPECT_NEAR(summary_number(summary, "Perennial lake mass bal error m^3="), 0.0, 0.005);
}

// A leaking bed needs a conductivity: without groundwater simulation and without a soil
// conductivity map the run stops at start-up naming the card and the file.
TEST(LakeBedCases, ALeakingBedWithoutAnyConductivityStopsTheRunAtStartUp) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_closed_lake("1.0", false);
  const command_result run = run_command(torva_exe(), {"lake.prj"});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.out.find("Error: the beds of the channel lakes leak (an MLAKE card of the channel "
                         "input file lake.chn), but no conductivity is given for them"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("Running...."), std::string::npos) << run.out;
}

}  // namespace lake_bed_cases_tests
