// End-to-end runs of the torva executable with overland pumps (OV_PUMP): a still, shallow pool
// on a flat bed is pumped from its centre cell at a steady rate while a second pump, on a cell
// that stays dry, asks for more water than it will ever hold. The summary books the pumped
// water, which is the rate times the run's length, the pool loses exactly that, the books
// close, and 1 and 8 threads write the same outputs. A pump that draws its cell down faster than
// the pool refills it routes to the same bits and the same sub-steps on every instruction set
// of the vector kernels and thread count. A faulty pump file stops the run at start-up naming
// the file, the line and the value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "framework/core/vector_targets.h"
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

// The shallow pool, run for `minutes`, with the project's cards for the pump file and the two
// series the pumps name: "steady" (`rate` m3/s over the whole run) and "greedy" (2 m3/s at any
// depth).
overland_case write_pumped_pool(double minutes, double rate = 0.01) {
  overland_case_options o;
  o.minutes = minutes;
  overland_case c = torva_test::write_shallow_pool_case(o);
  char ts[160];
  std::snprintf(ts, sizeof ts,
                "TORVA_TS\nsteady\nABSOLUTE\n2005 3 14 0 0 %.6g\n2005 3 16 0 0 %.6g\nEND_TS\n",
                rate, rate);
  write_file("pump.ts", ts);
  write_file("pump.es", "TORVA_ES\ngreedy\n0.0 2.0\n10.0 2.0\nEND_ES\n");
  write_file(c.project, read_file(c.project) +
                            "TIME_SERIES_FILE   pump.ts\nELEV_SERIES_FILE   pump.es\n"
                            "OV_PUMP            pumps.txt\n");
  write_file("pumps.txt", "# the pool's pumps\nPUMP 8 8 TS steady\n\npump " +
                              std::to_string(c.dry_row) + " " + std::to_string(c.dry_col) +
                              " elev greedy\n");
  return c;
}

// Two hours of pumping at 0.01 m3/s from the pool's centre cell: 0.01 x 7200 = 72 m3 of a pool
// of 255 wet cells x 100 m2 x 0.02 m = 510 m3, which takes 1 mm a step from a cell of 2 cm that
// its neighbours refill, so the pump always has its water. The dry corner's pump finds nothing
// to take however much it asks for.
TEST(PumpCases, PumpsTakeTheirSeriesFromThePoolAndNeverMoreThanACellHolds) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const double minutes = 120.0;
  const overland_case c = write_pumped_pool(minutes);
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      c.project, [&] { return read_file(c.summary) + read_file(c.outlet); });
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;

  const std::string summary = read_file(c.summary);
  const summary_balance s = read_summary_balance(summary);
  ASSERT_TRUE(s.has_totals) << summary;
  const double pumped = 0.01 * minutes * 60.0;
  EXPECT_NEAR(summary_number(summary, "Total overland pumping="), pumped, 0.01);
  EXPECT_NEAR(summary_number(summary, "volume taken by overland pumps:"), pumped, 0.1);
  EXPECT_NEAR(s.run_ov_init, 255 * 100.0 * 0.02, 0.01);
  // Nothing leaves but through the pumps: the pool is short of exactly what they took.
  EXPECT_NEAR(s.run_discharge, 0.0, 1e-9);
  EXPECT_NEAR(s.run_ov_init + s.run_precip - s.run_ov_final, pumped, 0.02);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
  EXPECT_LT(std::fabs(s.run_surface_error), 1e-6);
  EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
}

// The console lines of the explicit scheme's sub-step control, in order.
std::string substep_lines(const std::string& console) {
  std::istringstream in(console);
  std::string lines;
  for (std::string line; std::getline(in, line);)
    if (contains(line, "overland time step") || contains(line, "Time step to small") ||
        contains(line, "need to split"))
      lines += line + "\n";
  return lines;
}

// A pump asking 0.05 m3/s of a 2 cm cell (5 mm a step) draws it down faster than its neighbours
// refill it, so its cell runs dry and the water around it moves fast enough to cut the
// sub-step. Every instruction set of the vector kernels this processor runs (TORVA_VECTOR_TARGET)
// at 1 and 8 threads writes the same depths, hydrograph and summary and takes the same sub-steps
// as the best one on one thread.
TEST(PumpCases, APumpedDryCellRoutesAlikeOnEveryInstructionSetAndThreadCount) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const double minutes = 10.0, rate = 0.05;
  const overland_case c = write_pumped_pool(minutes, rate);
  std::vector<std::string> targets;
  for (const char* name : {"avx3", "avx2", "sse4", "neon", "sve", "scalar"})
    if (use_vector_target(name)) targets.push_back(name);
  std::string message;
  use_vector_target_from_environment(message);
  ASSERT_GE(targets.size(), 2u) << "no vector instruction set beside the one-lane path";
  ASSERT_EQ(targets.back(), "scalar");

  std::string first_outputs, first_substeps;
  for (const std::string& target : targets) {
    for (const int threads : torva_test::compared_thread_counts) {
      SCOPED_TRACE(target + ", NUM_THREADS " + std::to_string(threads));
      const command_result run =
          torva_test::run_with_threads(c.project, threads, {"TORVA_VECTOR_TARGET=" + target});
      ASSERT_EQ(run.status, 0) << run.out << run.err;
      const std::string outputs = read_file(c.depth) + read_file(c.outlet) + read_file(c.summary);
      const std::string substeps = substep_lines(run.out);
      if (first_outputs.empty()) {
        first_outputs = outputs;
        first_substeps = substeps;
        // The case does what it is for: the cell ran short of the rate, the sub-step was cut.
        const double taken = summary_number(read_file(c.summary), "Total overland pumping=");
        EXPECT_GT(taken, 1.0);
        EXPECT_LT(taken, 0.9 * rate * minutes * 60.0);
        EXPECT_TRUE(contains(substeps, "Changing overland time step")) << run.out;
        continue;
      }
      EXPECT_TRUE(outputs == first_outputs)
          << "the outputs differ from " << targets[0] << " on 1 thread";
      EXPECT_EQ(substeps, first_substeps);
    }
  }
}

// Pump files with a fault: the run stops at start-up with the file, the line and the value
// named and a nonzero status.
TEST(PumpCases, AFaultyPumpFileStopsTheRunNamingTheLineAndValue) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const overland_case c = write_pumped_pool(10.0);
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
