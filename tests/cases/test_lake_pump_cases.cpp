// End-to-end runs of the torva executable with lake pumps (LAKE_PUMP) on the example
// watershed's channel lake. Two pumps draw steadily from the lake, one on a time series and one
// on a rating of the lake's surface: the summary books exactly their rates times the run's
// length, the lake's own books and the run's books close with the pumped water in them, and 1
// and 8 threads write the same outputs. A pump that asks far more than the lake holds empties it
// and takes no more than it held. A faulty pump file stops the run at start-up naming the file,
// the line and the value.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::command_result;
using torva_test::contains;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::run_command;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::torva_exe;
using torva_test::write_file;

namespace lake_pump_cases_tests {

const std::string example_dir = std::string(TORVA_SOURCE_DIR) + "/examples/lake";

// The example lake project in the working folder, with the series the pumps name: "steady"
// (0.002 m3/s over the whole run), "flat" (0.001 m3/s at every lake surface elevation) and
// "greedy" (nothing until 9:00, the last half hour of the run, then 100 m3/s), and the pump file
// `pumps`.
void write_pumped_lake(const std::string& pumps) {
  for (const char* name :
       {"lake.chn", "lake.gst", "lake_mask.asc", "lake_elev.asc", "lake_conductivity.asc",
        "lake_capillary.asc", "lake_porosity.asc", "lake_moisture.asc", "lake_hyd_locations.txt"})
    write_file(name, read_file(example_dir + "/" + name));
  write_file("pump.ts",
             "TORVA_TS\nsteady\nABSOLUTE\n2005 3 14 0 0 0.002\n2005 3 16 0 0 0.002\nEND_TS\n"
             "TORVA_TS\ngreedy\nABSOLUTE\n2005 3 14 0 0 0.0\n2005 3 14 9 0 0.0\n"
             "2005 3 14 9 0 100.0\n2005 3 16 0 0 100.0\nEND_TS\n");
  write_file("pump.es", "TORVA_ES\nflat\n0.0 0.001\n1000.0 0.001\nEND_ES\n");
  write_file("lake.prj", read_file(example_dir + "/lake.prj") +
                             "TIME_SERIES_FILE   pump.ts\nELEV_SERIES_FILE   pump.es\n"
                             "LAKE_PUMP          pumps.txt\n");
  write_file("pumps.txt", pumps);
}

// The lake's books as the summary prints them (m3, to 0.01): what it held at the start, what it
// took in and gave out, and what it holds at the end.
struct lake_books {
  double init = 0.0, precip = 0.0, in = 0.0, out = 0.0, evap = 0.0, pumped = 0.0, final = 0.0;
};

lake_books read_lake_books(const std::string& summary) {
  lake_books b;
  b.init = summary_number(summary, "Initial volume in perennial lakes");
  b.precip = summary_number(summary, "Volume precip to lakes=");
  b.in = summary_number(summary, "Volume of flow into lakes=");
  b.out = summary_number(summary, "Volume of flow from lakes=");
  b.evap = summary_number(summary, "Volume of lake evap=");
  b.pumped = summary_number(summary, "Volume of lake pumping=");
  b.final = summary_number(summary, "Final volume in perennial lakes");
  return b;
}

// Three hours at 0.002 + 0.001 m3/s: 0.003 x 10800 s = 32.4 m3 of a lake that starts with 90 m3
// and takes in the storm, so the pumps always find their water.
TEST(LakePumpCases, PumpsTakeTheirSeriesFromTheLakeAndTheBooksClose) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_pumped_lake("# the lake's pumps\nPUMP 1 TS steady\n\npump 1 elev flat\n");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "lake.prj", [] { return read_file("lake_outlet.out") + read_file("lake_summary.out"); });
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;

  const std::string summary = read_file("lake_summary.out");
  const summary_balance s = read_summary_balance(summary);
  ASSERT_TRUE(s.has_totals) << summary;
  const double pumped = (0.002 + 0.001) * 180.0 * 60.0;
  const lake_books b = read_lake_books(summary);
  EXPECT_NEAR(b.pumped, pumped, 0.01);
  EXPECT_NEAR(summary_number(summary, "volume taken by lake pumps:"), pumped, 0.1);
  EXPECT_GT(b.final, 10.0);
  // The lake is short of exactly what the pumps took.
  EXPECT_NEAR(b.init + b.precip + b.in - b.out - b.evap - b.pumped, b.final, 0.03);
  EXPECT_NEAR(summary_number(summary, "Perennial lake mass bal error m^3="), 0.0, 0.005);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
  EXPECT_LT(std::fabs(s.run_surface_error), 1e-6);
  EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
}

// From 9:00 on a pump asks 100 m3/s, a thousand cubic metres a step, of a lake of some hundred:
// it takes what the lake holds and no more, the lake ends nearly empty and never below empty,
// and the books still close.
TEST(LakePumpCases, APumpNeverTakesMoreThanTheLakeHolds) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_pumped_lake("PUMP 1 TS greedy\n");
  const command_result run = run_command(torva_exe(), {"lake.prj"});
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string summary = read_file("lake_summary.out");
  const summary_balance s = read_summary_balance(summary);
  ASSERT_TRUE(s.has_totals) << summary;
  const lake_books b = read_lake_books(summary);
  // It found water, but far less than the 180000 m3 it asked for in the last half hour.
  EXPECT_GT(b.pumped, 10.0);
  EXPECT_LT(b.pumped, b.init + b.precip + b.in);
  EXPECT_GE(b.final, 0.0);
  EXPECT_LT(b.final, 5.0);
  EXPECT_NEAR(b.init + b.precip + b.in - b.out - b.evap - b.pumped, b.final, 0.03);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
  EXPECT_LT(std::fabs(s.run_surface_error), 1e-6);
}

// Pump files with a fault: the run stops at start-up with the file, the line and the value
// named and a nonzero status.
TEST(LakePumpCases, AFaultyPumpFileStopsTheRunNamingTheLineAndValue) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_pumped_lake("");
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"PUMP 1 TS steady\nPUMP one TS steady\n",
       "line 2 of the lake pump file pumps.txt must give PUMP and a lake number as a whole "
       "number; \"one\" is not one."},
      {"PUMP 2 TS steady\n",
       "line 1 of the lake pump file pumps.txt places a pump in lake 2; the channel input "
       "defines 1 lake(s)."},
      {"PUMP 1 Q steady\n",
       "line 1 of the lake pump file pumps.txt gives the flow type \"Q\"; it must be TS"},
      {"\nPUMP 1 ELEV hourly\n",
       "line 2 of the lake pump file pumps.txt names the elevation series \"hourly\", which no "
       "ELEV_SERIES_FILE defines."},
      {"PUMP 1 TS\n", "line 1 of the lake pump file pumps.txt names no series for its pump."},
      {"WELL 1 TS steady\n",
       "line 1 of the lake pump file pumps.txt begins with \"WELL\"; each pump line begins with "
       "PUMP."},
      {"# no pumps\n", "the lake pump file pumps.txt (LAKE_PUMP card) defines no pump."},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.message);
    write_file("pumps.txt", k.text);
    const command_result run = run_command(torva_exe(), {"lake.prj"});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(contains(run.out, k.message)) << run.out;
  }
}

}  // namespace lake_pump_cases_tests
