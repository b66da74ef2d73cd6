// End-to-end runs of the torva executable with overland pumps (OV_PUMP): a still pool in a bowl
// is pumped from its deepest cell at a steady rate while a second pump, on a cell that stays
// dry, asks for more water than it will ever hold. The summary books the pumped water, which is
// the rate times the run's length, the pool loses exactly that, the books close, and 1 and 8
// threads write the same outputs. A faulty pump file stops the run at start-up naming the file,
// the line and the value.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/overland_cases.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::command_result;
using torva_test::contains;
using torva_test::overland_case;
using torva_test::overland_case_options;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::run_command;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::torva_exe;
using torva_test::write_file;

namespace {

// The bowl's pool, run for `minutes`, with the project's cards for the pump file and the two
// series the pumps name: "steady" (0.5 m3/s over the whole run) and "greedy" (2 m3/s at any
// depth).
overland_case write_pumped_bowl(double minutes) {
  overland_case_options o;
  o.minutes = minutes;
  overland_case c = torva_test::write_bowl_pool_case(o);
  write_file("pump.ts",
             "TORVA_TS\nsteady\nABSOLUTE\n2005 3 14 0 0 0.5\n2005 3 16 0 0 0.5\nEND_TS\n");
  write_file("pump.es", "TORVA_ES\ngreedy\n0.0 2.0\n10.0 2.0\nEND_ES\n");
  write_file(c.project, read_file(c.project) +
                            "TIME_SERIES_FILE   pump.ts\nELEV_SERIES_FILE   pump.es\n"
                            "OV_PUMP            pumps.txt\n");
  return c;
}

// Two hours of pumping at 0.5 m3/s from the bowl's deepest cell: 0.5 x 7200 = 3600 m3 of a pool
// of some 33,000 m3, which feeds the cell far faster than the pump drains it, so the pump always
// has its water. The dry corner's pump finds nothing to take however much it asks for.
TEST(PumpCases, PumpsTakeTheirSeriesFromThePoolAndNeverMoreThanACellHolds) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const double minutes = 120.0;
  const overland_case c = write_pumped_bowl(minutes);
  write_file("pumps.txt", "# the pool's pumps\nPUMP 8 8 TS steady\n\npump " +
                              std::to_string(c.dry_row) + " " + std::to_string(c.dry_col) +
                              " elev greedy\n");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      c.project, [&] { return read_file(c.summary) + read_file(c.outlet); });
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;

  const std::string summary = read_file(c.summary);
  const summary_balance s = read_summary_balance(summary);
  ASSERT_TRUE(s.has_totals) << summary;
  const double pumped = 0.5 * minutes * 60.0;
  EXPECT_NEAR(summary_number(summary, "Total overland pumping="), pumped, 0.01);
  EXPECT_NEAR(summary_number(summary, "volume taken by overland pumps:"), pumped, 0.1);
  EXPECT_GT(s.run_ov_init, 30000.0);
  // Nothing leaves but through the pumps: the pool is short of exactly what they took.
  EXPECT_NEAR(s.run_discharge, 0.0, 1e-9);
  EXPECT_NEAR(s.run_ov_init + s.run_precip - s.run_ov_final, pumped, 0.02);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
  EXPECT_LT(std::fabs(s.run_surface_error), 1e-6);
  EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
}

// Pump files with a fault: the run stops at start-up with the file, the line and the value
// named and a nonzero status.
TEST(PumpCases, AFaultyPumpFileStopsTheRunNamingTheLineAndValue) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const overland_case c = write_pumped_bowl(10.0);
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"PUMP 8 8 TS steady\nPUMP 8 x TS steady\n",
       "line 2 of the overland pump file pumps.txt must give PUMP, a row and a column as whole "
       "numbers; \"x\" is not one."},
      {"PUMP 17 8 TS steady\n",
       "line 1 of the overland pump file pumps.txt places a pump at row 17, column 8, which is "
       "not a cell of the watershed."},
      {"PUMP 8 8 Q steady\n",
       "line 1 of the overland pump file pumps.txt gives the flow type \"Q\"; it must be TS"},
      {"\nPUMP 8 8 TS hourly\n",
       "line 2 of the overland pump file pumps.txt names the time series \"hourly\", which no "
       "TIME_SERIES_FILE defines."},
      {"WELL 8 8 TS steady\n",
       "line 1 of the overland pump file pumps.txt begins with \"WELL\"; each pump line begins "
       "with PUMP."},
      {"# no pumps\n", "the overland pump file pumps.txt (OV_PUMP card) defines no pump."},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.message);
    write_file("pumps.txt", k.text);
    const command_result run = run_command(torva_exe(), {c.project});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(contains(run.out, k.message)) << run.out;
  }
}

}  // namespace
