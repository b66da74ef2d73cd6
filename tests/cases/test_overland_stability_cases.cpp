// Overland routing end to end, run by the real torva executable on the small projects of
// tests/support/overland_cases.h: still water stays still (a pool at rest in a bowl, a bump on a
// level pool, a fixed stage filling a flat plane), flow gathering along the edge of a tilted
// plane converges with the time step and never leaves faster than the rain falls, a pit that is
// an overland lake keeps the rest of the grid's step control, and a step too long for the scheme
// stops the run with a message instead of making water. Every case runs on 1 and 8 threads with
// the same outputs. The rows of each table name the overland schemes the case runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/overland_cases.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::command_result;
using torva_test::contains;
using torva_test::depth_frame;
using torva_test::overland_case;
using torva_test::overland_case_options;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::summary_balance;
using torva_test::temp_dir;

namespace overland_stability_cases_tests {

// A scheme and the time step (s) a case runs it at.
struct scheme_step {
  const char* scheme;
  double timestep;
};

// The outputs two runs of a case compare: the summary without its timing lines, the outlet
// hydrograph and the depth dataset.
std::string comparable_outputs(const overland_case& c) {
  std::string summary;
  const std::string text = read_file(c.summary);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (!contains(line, "thread") && !contains(line, "Run time") && !contains(line, "time to init"))
      summary += line + "\n";
    at = end + 1;
  }
  return summary + read_file(c.outlet) + (c.map_minutes > 0.0 ? read_file(c.depth) : "");
}

// Writes a case with `write` and runs it in the current folder on one thread, then, over the
// first `compared_minutes` of it (0: the whole run), on 1 and on 8 threads, which must write the
// same outputs (long runs on 8 threads are slow on a busy machine, and the threads share the
// same steps from the first on). Every run must end normally. Returns the full run's case and
// console.
template <class Writer>
overland_case run_on_one_and_eight_threads(overland_case_options o, Writer write,
                                           std::string& console, double compared_minutes = 0.0) {
  std::string outputs[2];
  const int threads[2] = {1, 8};
  const double full = o.minutes;
  for (int k = 0; k < 2; ++k) {
    o.threads = threads[k];
    o.minutes = compared_minutes > 0.0 ? compared_minutes : full;
    const overland_case c = write(o);
    const command_result run = torva_test::run_overland_case(c);
    EXPECT_EQ(run.status, 0) << threads[k] << " threads\n" << run.out << run.err;
    outputs[k] = comparable_outputs(c);
    if (compared_minutes == 0.0 && k == 1) {
      console = run.out;
      EXPECT_EQ(outputs[1], outputs[0]) << "1 and 8 threads";
      return c;
    }
  }
  EXPECT_EQ(outputs[1], outputs[0]) << "1 and 8 threads";
  o.threads = 1;
  o.minutes = full;
  const overland_case c = write(o);
  const command_result run = torva_test::run_overland_case(c);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  console = run.out;
  return c;
}

// The largest and smallest value of a frame's water surface.
std::pair<double, double> surface_range(const overland_case& c, const depth_frame& f) {
  const std::vector<double> eta = torva_test::water_surface(c, f);
  const auto [lo, hi] = std::minmax_element(eta.begin(), eta.end());
  return {*lo, *hi};
}

const scheme_step still_water_rows[] = {{"explicit", 10.0}};

// A level pool 1 to 1.6 m deep over a bowl, no rain and no outflow, for a day: the water surface
// stays at its 1.6 m everywhere to within a millimetre in every hourly frame, and the scheme
// never has to split its step. Manning's law in the square root of the slope has no rest state
// near a level surface; the face law's linear part and its cap on the surface difference a face
// may move keep the pool at rest.
TEST(OverlandStillWaterCases, APoolAtRestInABowlMovesLessThanAMillimetreInADay) {
  for (const scheme_step& row : still_water_rows) {
    SCOPED_TRACE(row.scheme);
    torva_test::process_state_guard guard;
    temp_dir dir;
    overland_case_options o;
    o.scheme = row.scheme;
    o.timestep = row.timestep;
    o.minutes = 1440.0;
    std::string console;
    const overland_case c =
        run_on_one_and_eight_threads(o, torva_test::write_bowl_pool_case, console, 120.0);
    EXPECT_FALSE(contains(console, "need to split")) << console.substr(0, 2000);
    // Hourly frames from the first step on: the last of the day is written at 1380 minutes.
    const std::vector<depth_frame> frames = torva_test::read_depth_frames(c);
    ASSERT_EQ(frames.size(), 24u);
    EXPECT_GT(frames.back().minutes, 1380.0);
    for (const depth_frame& f : frames) {
      const auto [lo, hi] = surface_range(c, f);
      EXPECT_LT(hi - 1.6, 1e-3) << "minute " << f.minutes;
      EXPECT_LT(1.6 - lo, 1e-3) << "minute " << f.minutes;
    }
    const summary_balance s = read_summary_balance(read_file(c.summary));
    ASSERT_TRUE(s.has_totals);
    EXPECT_NEAR(s.run_ov_final, s.run_ov_init, 1e-6 * s.run_ov_init);
  }
}

// A level pool 1 m deep on a flat bed with one cell 1 cm higher: the bump spreads and the pool
// settles. No frame's highest surface lies above the one before and no lowest below it (an
// oscillation would overshoot), after an hour the surface is level to a tenth of a millimetre,
// and it stands at the mean level the water makes: 1 m plus the bump's 1 cm x 100 m2 spread
// over the 224 cells of 100 m2 that hold it (the raised outlet cell stays dry).
TEST(OverlandStillWaterCases, ABumpOnALevelPoolRelaxesWithoutOscillating) {
  for (const scheme_step& row : still_water_rows) {
    SCOPED_TRACE(row.scheme);
    torva_test::process_state_guard guard;
    temp_dir dir;
    overland_case_options o;
    o.scheme = row.scheme;
    o.timestep = row.timestep;
    o.minutes = 60.0;
    std::string console;
    const overland_case c =
        run_on_one_and_eight_threads(o, torva_test::write_bump_case, console, 10.0);
    const std::vector<depth_frame> frames = torva_test::read_depth_frames(c);
    ASSERT_GE(frames.size(), 60u);
    const double mean_level = 1.0 + 0.01 / 224.0;
    std::pair<double, double> before = {1.0, 1.01};
    for (const depth_frame& f : frames) {
      const auto range = surface_range(c, f);
      EXPECT_LE(range.second, before.second + 1e-9) << "minute " << f.minutes;
      EXPECT_GE(range.first, before.first - 1e-9) << "minute " << f.minutes;
      before = range;
    }
    const auto [lo, hi] = surface_range(c, frames.back());
    EXPECT_LT(hi - lo, 1e-4);
    EXPECT_NEAR(0.5 * (hi + lo), mean_level, 1e-4);
  }
}

// A fixed stage of 0.3 m on the first column of a flat dry plane fills the plane to the stage:
// after 150 minutes every cell holds 0.3 m to within a millimetre.
TEST(OverlandStillWaterCases, AFixedStageFillsAFlatPlaneToItsLevel) {
  for (const scheme_step& row : still_water_rows) {
    SCOPED_TRACE(row.scheme);
    torva_test::process_state_guard guard;
    temp_dir dir;
    overland_case_options o;
    o.scheme = row.scheme;
    o.timestep = row.timestep;
    o.minutes = 151.0;  // a frame every 30 minutes from the first step: the last at 150 minutes
    std::string console;
    const overland_case c =
        run_on_one_and_eight_threads(o, torva_test::write_fixed_stage_case, console, 30.0);
    const std::vector<depth_frame> frames = torva_test::read_depth_frames(c);
    ASSERT_FALSE(frames.empty());
    EXPECT_GE(frames.back().minutes, 150.0);
    const std::vector<double> depths = torva_test::wet_depths(c, frames.back());
    const auto [lo, hi] = std::minmax_element(depths.begin(), depths.end());
    EXPECT_NEAR(*lo, 0.3, 1e-3);
    EXPECT_NEAR(*hi, 0.3, 1e-3);
    const summary_balance s = read_summary_balance(read_file(c.summary));
    ASSERT_TRUE(s.has_totals);
    // The water on the plane is what the stage cells started with and what came in through
    // them.
    EXPECT_NEAR(s.run_ov_final, s.run_ov_init + s.run_head_in - s.run_head_out, 0.02);
  }
}

const scheme_step converging_rows[] = {{"explicit", 5.0}};

// Flow gathering along the south edge of a plane tilted 0.01 to the south and 0.001 to the
// west: the outlet never gives more than the rain on the plane (3.5556 m3/s), its peak at 5 s
// steps lies within 2 % of the peak at 1 s steps, and the south row's depths run smoothly
// instead of alternating from cell to cell.
TEST(OverlandConvergenceCases, FlowGatheringAlongAnEdgeConvergesWithTheTimeStep) {
  const double rain_times_area = 50.0 / 3.6e6 * 64 * 40 * 100.0;
  ASSERT_NEAR(rain_times_area, 3.5556, 1e-4);
  for (const scheme_step& row : converging_rows) {
    SCOPED_TRACE(row.scheme);
    torva_test::process_state_guard guard;
    double peaks[2] = {0.0, 0.0};
    const double steps[2] = {row.timestep, 1.0};
    for (int k = 0; k < 2; ++k) {
      SCOPED_TRACE(steps[k]);
      temp_dir dir;
      overland_case_options o;
      o.scheme = row.scheme;
      o.timestep = steps[k];
      overland_case c;
      if (k == 0) {
        o.minutes = 90.0;
        std::string console;
        c = run_on_one_and_eight_threads(o, torva_test::write_converging_plane_case, console, 20.0);
      } else {
        c = torva_test::write_converging_plane_case(o);
        const command_result run = torva_test::run_overland_case(c);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
      }
      const auto lines = torva_test::read_outlet_hydrograph(c);
      ASSERT_GE(lines.size(), static_cast<std::size_t>(90 * 60 / steps[k]));
      for (const auto& [t, q] : lines) {
        EXPECT_LE(q, rain_times_area) << "minute " << t;
        peaks[k] = std::max(peaks[k], q);
      }
      // The south row, where the flow gathers, in every depth frame from 20 minutes on: its
      // depths run smoothly from the east end to the outlet, their steps from cell to cell
      // changing sign at most twice (a sawtooth changes sign at every cell).
      const std::vector<depth_frame> frames = torva_test::read_depth_frames(c);
      ASSERT_GE(frames.size(), 9u);
      for (const depth_frame& f : frames) {
        if (f.minutes < 20.0) continue;
        std::vector<double> steps;
        for (int col = 1; col < c.cols; ++col) {
          const std::size_t at = static_cast<std::size_t>((c.rows - 1) * c.cols + col - 1);
          steps.push_back(f.depth[at + 1] - f.depth[at]);
        }
        int turns = 0;
        for (std::size_t k = 1; k < steps.size(); ++k)
          if (steps[k] * steps[k - 1] < 0.0 && std::fabs(steps[k]) > 1e-6 &&
              std::fabs(steps[k - 1]) > 1e-6)
            ++turns;
        EXPECT_LE(turns, 2) << "south row at minute " << f.minutes;
      }
      const summary_balance s = read_summary_balance(read_file(c.summary));
      ASSERT_TRUE(s.has_totals);
      EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
    }
    EXPECT_GT(peaks[1], 0.5 * rain_times_area);
    EXPECT_NEAR(peaks[0], peaks[1], 0.02 * peaks[1]) << "peaks at " << row.timestep << " s and 1 s";
  }
}

const scheme_step pit_rows[] = {{"explicit", 5.0}};

// A plane with a pit 1 m deep, under 50 mm/h: whether the pit is plain cells or an overland lake,
// the run routes every step with its step control and ends normally, its water books closed, on
// 1 and 8 threads alike. (With the lake the pit takes the water of its shores; without it the
// pit's cells fill as any other cell.)
TEST(OverlandStepControlCases, APitThatIsAnOverlandLakeKeepsTheGridsStepControl) {
  for (const scheme_step& row : pit_rows) {
    for (const bool lake : {false, true}) {
      SCOPED_TRACE(std::string(row.scheme) + (lake ? " with the lake" : " plain cells"));
      torva_test::process_state_guard guard;
      temp_dir dir;
      overland_case_options o;
      o.scheme = row.scheme;
      o.timestep = row.timestep;
      o.minutes = 90.0;
      std::string console;
      const overland_case c = run_on_one_and_eight_threads(
          o,
          [lake](const overland_case_options& oo) {
            return torva_test::write_pit_plane_case(oo, lake);
          },
          console, 30.0);
      EXPECT_FALSE(contains(console, "non-real")) << console.substr(0, 2000);
      const summary_balance s = read_summary_balance(read_file(c.summary));
      ASSERT_TRUE(s.has_totals);
      EXPECT_NEAR(s.run_precip, 1440.0, 0.01);
      EXPECT_GT(s.run_discharge, 0.0);
      if (!lake) {
        EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
      }
    }
  }
}

// Three by three flat cells ponded 1 m deep, draining at a corner, at a TIMESTEP of 300 s: the
// outlet cell empties in the first step, and in the next the water running back into it moves
// more across a face than a sub-step of the scheme may, even at 300 / 3^5 s. The run stops with
// an error naming the time, the cell and the remedy, and a nonzero exit status, instead of going
// on and making water.
TEST(OverlandStepControlCases, AStepTooLongForTheExplicitSchemeStopsTheRunWithItsRemedy) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  overland_case_options o;
  o.timestep = 300.0;
  const overland_case c = torva_test::write_ponded_cells_case(o);
  const command_result run = torva_test::run_overland_case(c);
  EXPECT_NE(run.status, 0) << run.out;
  EXPECT_FALSE(contains(run.out, "continuing")) << run.out;
  const std::string message =
      "Error: the explicit overland scheme cannot route the overland step of 300.00 s that ends "
      "10.00 minutes into the run (2005-03-14 06:40): even at its shortest sub-step, 1.234568 "
      "s, the right face of cell 7 (row 3, column 1) towards cell 8 moves -0.125000 m of water";
  EXPECT_TRUE(contains(run.out, message)) << run.out;
  EXPECT_TRUE(contains(run.out, "run with a shorter TIMESTEP (now 300.00 s).")) << run.out;
  // The summary carries the message too.
  const std::string summary = read_file(c.summary);
  EXPECT_TRUE(contains(summary, message)) << summary;
}

}  // namespace overland_stability_cases_tests
