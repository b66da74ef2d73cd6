// Whole runs of the ADE overland schemes ("ade" and "ade-pc") by the torva executable on the
// small overland projects of tests/support/overland_cases.h: still water stays still (a pool at
// rest in a bowl, a bump on a level pool, a fixed stage filling a flat plane), flow gathering
// along the edge of a tilted plane converges with the time step and between the schemes without
// a sawtooth, and a plane with an overland lake in a pit keeps its step control. Every case runs
// on 1 and 8 threads (the NUM_THREADS card) with the same outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/overland_cases.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using namespace torva_test;

namespace {

// Runs a written case at 1 and 8 threads; expects both to end normally with the same depth
// frames, outlet hydrograph and summary, and leaves the outputs of the single-thread run. With
// `books`, the summary's balance of the surface closes (the cases whose water stays on the grid
// or leaves by the outlet alone).
void run_on_one_and_eight_threads(const overland_case_options& o,
                                  overland_case (*write)(const overland_case_options&),
                                  bool books = true) {
  std::string depth[2], outlet[2], summary[2];
  for (int t = 0; t < 2; ++t) {
    overland_case_options with = o;
    with.threads = t == 0 ? 8 : 1;  // the single-thread run last: its outputs stay
    const overland_case c = write(with);
    const command_result run = run_overland_case(c);
    ASSERT_EQ(run.status, 0) << o.scheme << " " << with.threads << " threads\n" << run.out;
    EXPECT_EQ(run.out.find("non-real"), std::string::npos) << run.out;
    if (c.map_minutes > 0.0) depth[t] = read_file(c.depth);
    outlet[t] = read_file(c.outlet);
    summary[t] = read_file(c.summary);
    const summary_balance b = read_summary_balance(summary[t]);
    ASSERT_TRUE(b.has_totals) << summary[t];
    if (books) {
      EXPECT_LT(std::fabs(b.run_surface_error), 1e-4) << o.scheme << "\n" << summary[t];
    }
  }
  // The summaries differ only in their lines of run time and threads.
  auto steady_lines = [](const std::string& text) {
    std::string kept, line;
    for (size_t at = 0; at < text.size();) {
      const size_t end = text.find('\n', at);
      line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
      at = end == std::string::npos ? text.size() : end + 1;
      if (line.find("time") == std::string::npos && line.find("thread") == std::string::npos)
        kept += line + "\n";
    }
    return kept;
  };
  EXPECT_EQ(steady_lines(summary[0]), steady_lines(summary[1])) << o.scheme;
  EXPECT_EQ(depth[0], depth[1]) << o.scheme << ": depth frames differ between thread counts";
  EXPECT_EQ(outlet[0], outlet[1]) << o.scheme << ": outlet differs between thread counts";
}

std::pair<double, double> lowest_and_highest(const std::vector<double>& v) {
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  return {*lo, *hi};
}

class AdeSchemeCases : public ::testing::TestWithParam<const char*> {};

// A level pool 1 to 1.6 m deep over a bowl, in steps of 10 s for a day: no water surface moves
// by 1 mm (the frames print depths to the micrometre).
TEST_P(AdeSchemeCases, APoolAtRestStaysAtRestForADay) {
  process_state_guard guard;
  temp_dir dir;
  overland_case_options o;
  o.scheme = GetParam();
  o.timestep = 10.0;
  ASSERT_NO_FATAL_FAILURE(run_on_one_and_eight_threads(o, write_bowl_pool_case));
  const overland_case c = write_bowl_pool_case(o);
  const std::vector<depth_frame> frames = read_depth_frames(c);
  ASSERT_GE(frames.size(), 24u);
  double moved = 0.0;
  for (const depth_frame& f : frames)
    for (double eta : water_surface(c, f)) moved = std::max(moved, std::fabs(eta - 1.6));
  EXPECT_LT(moved, 1e-3) << o.scheme;
}

// A flat bed under 1 m of water, one cell 1 cm higher, in steps of 10 s and of 1 s: from one
// minute to the next the highest surface never rises and the lowest never falls (no overshoot,
// no oscillation), the water stays on the grid, and after an hour the pool is level to 0.1 mm.
TEST_P(AdeSchemeCases, ABumpRelaxesToLevelWithoutOscillating) {
  process_state_guard guard;
  temp_dir dir;
  for (double step : {10.0, 1.0}) {
    overland_case_options o;
    o.scheme = GetParam();
    o.timestep = step;
    ASSERT_NO_FATAL_FAILURE(run_on_one_and_eight_threads(o, write_bump_case));
    const overland_case c = write_bump_case(o);
    const std::vector<depth_frame> frames = read_depth_frames(c);
    ASSERT_GE(frames.size(), 60u);
    const double printed = 1e-6;  // the frames' last digit
    double low = 1.0 - printed, high = 1.01 + printed;
    double water0 = 0.0;
    for (size_t k = 0; k < frames.size(); ++k) {
      const std::vector<double> eta = water_surface(c, frames[k]);
      const auto [lo, hi] = lowest_and_highest(eta);
      ASSERT_LE(hi, high + printed)
          << o.scheme << " " << step << " s, minute " << frames[k].minutes;
      ASSERT_GE(lo, low - printed) << o.scheme << " " << step << " s, minute " << frames[k].minutes;
      high = hi;
      low = lo;
      double water = 0.0;
      for (double h : eta) water += h;
      if (k == 0) water0 = water;
      // 224 cells each printed to 1e-6 m.
      EXPECT_NEAR(water, water0, 224 * printed) << o.scheme << " minute " << frames[k].minutes;
    }
    EXPECT_LT(high - low, 1e-4) << o.scheme << " " << step << " s";
  }
}

// A flat dry plane filled from a fixed stage of 0.3 m along its first column: after 150 minutes
// every cell stands at 0.3 m within 1 mm.
TEST_P(AdeSchemeCases, AFixedStageFillsAFlatPlaneToItsLevel) {
  process_state_guard guard;
  temp_dir dir;
  overland_case_options o;
  o.scheme = GetParam();
  o.timestep = 10.0;
  o.minutes = 151.0;  // a last depth frame just after 150 minutes
  // (The boundary's inflow is booked by the run's balance, not checked here.)
  ASSERT_NO_FATAL_FAILURE(run_on_one_and_eight_threads(o, write_fixed_stage_case, false));
  const overland_case c = write_fixed_stage_case(o);
  const std::vector<depth_frame> frames = read_depth_frames(c);
  ASSERT_FALSE(frames.empty());
  EXPECT_NEAR(frames.back().minutes, 150.0, 0.5);
  const auto [lo, hi] = lowest_and_highest(wet_depths(c, frames.back()));
  EXPECT_GT(lo, 0.299) << o.scheme;
  EXPECT_LT(hi, 0.301) << o.scheme;
}

INSTANTIATE_TEST_SUITE_P(Schemes, AdeSchemeCases, ::testing::Values("ade", "ade-pc"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "ade" ? std::string("Ade")
                                                                   : std::string("AdePc");
                         });

// A plane of 10 x 10 cells of 10 m falling 0.01 to the south and 0.005 to the west under
// 18 mm/h for two hours in steps of 5 s, the outlet at the south-west corner: in the last half
// hour it is at steady state, and every step reports the rain on the plane, 0.05 m3/s. The
// outlet of "ade-pc" drains after each direction's corrector, so one step's outflow depends on
// which direction went first; the discharge reported is that of the step and the one before
// it, one of each order (alone, the steps alternate 0.7 % either side).
TEST_P(AdeSchemeCases, AtSteadyStateEveryStepReportsTheRainOnThePlane) {
  process_state_guard guard;
  temp_dir dir;
  std::string mask = grid_header(10, 10, 10.0), elev = mask;
  for (int r = 1; r <= 10; ++r) {
    for (int k = 1; k <= 10; ++k) {
      mask += k > 1 ? " 1" : "1";
      elev += (k > 1 ? " " : "") + std::to_string(10.0 + 0.1 * (10 - r) + 0.05 * (k - 1));
    }
    mask += "\n";
    elev += "\n";
  }
  write_file("mask.asc", mask);
  write_file("elev.asc", elev);
  write_file("plane.prj",
             std::string("TORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\n") +
                 "SUMMARY plane_summary.out\nOUTLET_HYDRO plane_all.out\n"
                 "SIG_OUTLET_HYDRO plane_outlet.out\nROWS 10\nCOLS 10\nGRIDSIZE 10.0\n"
                 "START_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 5\nTOT_TIME 120\n"
                 "OUTROW 10\nOUTCOL 1\nOUTSLOPE 0.01\nHYD_FREQ 0.0833333333333\n"
                 "MANNING_N 0.05\nOVERTYPE " +
                 GetParam() +
                 "\nNUM_THREADS 1\nPRECIP_UNIF\nRAIN_INTENSITY 18\n"
                 "RAIN_DURATION 120\n");
  const command_result run = run_command(torva_exe(), {"plane.prj"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::istringstream lines(read_file("plane_outlet.out"));
  double minutes = 0.0, q = 0.0;
  int steady = 0;
  while (lines >> minutes >> q) {
    if (minutes < 90.0) continue;
    EXPECT_NEAR(q, 0.05, 1e-4 * 0.05) << GetParam() << " minute " << minutes;
    ++steady;
  }
  EXPECT_GE(steady, 360);
}

// How many times the depth along the row turns from rising to falling or back: a smooth
// profile turns once or twice, a two-cell sawtooth at almost every cell.
int turns_along_row(const overland_case& c, const depth_frame& f, int row) {
  int turns = 0;
  double last = 0.0;
  for (int k = 2; k <= c.cols; ++k) {
    const size_t at = static_cast<size_t>((row - 1) * c.cols + (k - 1));
    const double step = f.depth[at] - f.depth[at - 1];
    if (std::fabs(step) < 1e-6) continue;
    if (last != 0.0 && (step > 0.0) != (last > 0.0)) ++turns;
    last = step;
  }
  return turns;
}

// Flow gathering along the south edge of a tilted plane (64 x 40 cells of 10 m falling 0.01 to
// the south and 0.001 to the west, 50 mm/h for an hour: rain times area 3.5556 m3/s), by both
// schemes at steps of 5 s and 1 s: the outlet never passes more than the rain on the plane,
// each scheme's peak moves by less than 2 % between the steps, the schemes' peaks agree within
// 3 %, and the depth along the south row stays smooth (no two-cell sawtooth) in every frame.
// 1 and 8 threads route the first 15 minutes alike.
TEST(AdeConvergingPlane, ThePeakConvergesWithTheStepAndBetweenTheSchemesWithoutASawtooth) {
  process_state_guard guard;
  temp_dir dir;
  const double rain_on_plane = 50.0 / 3.6e6 * 64 * 40 * 100.0;
  double peaks[2][2] = {};
  const char* schemes[2] = {"ade", "ade-pc"};
  const double steps[2] = {5.0, 1.0};
  for (int s = 0; s < 2; ++s) {
    for (int k = 0; k < 2; ++k) {
      overland_case_options o;
      o.scheme = schemes[s];
      o.timestep = steps[k];
      if (k == 0) {
        // 1 and 8 threads over the first 15 minutes, while the flow gathers.
        overland_case_options start = o;
        start.minutes = 15.0;
        ASSERT_NO_FATAL_FAILURE(run_on_one_and_eight_threads(start, write_converging_plane_case));
      }
      const overland_case c = write_converging_plane_case(o);
      const command_result run = run_overland_case(c);
      ASSERT_EQ(run.status, 0) << run.out;
      for (const auto& [minutes, q] : read_outlet_hydrograph(c)) {
        ASSERT_LE(q, rain_on_plane) << o.scheme << " " << steps[k] << " s, minute " << minutes;
        peaks[s][k] = std::max(peaks[s][k], q);
      }
      for (const depth_frame& f : read_depth_frames(c))
        EXPECT_LE(turns_along_row(c, f, c.rows), 2)
            << o.scheme << " " << steps[k] << " s, minute " << f.minutes;
    }
    EXPECT_GT(peaks[s][1], 0.5 * rain_on_plane);
    EXPECT_NEAR(peaks[s][0], peaks[s][1], 0.02 * peaks[s][1]) << schemes[s];
  }
  for (int k = 0; k < 2; ++k)
    EXPECT_NEAR(peaks[0][k], peaks[1][k], 0.03 * peaks[0][k]) << steps[k] << " s";
}

// A plane of 24 x 12 cells with a pit 1 m deep under 50 mm/h in steps of 5 s, the pit an
// overland lake: the lake costs the rest of the grid none of its step control, so the run ends
// normally with real depths everywhere and the outlet never passes more than the rain on the
// plane, under both schemes and on 1 and 8 threads alike.
TEST(AdeLakeCase, APitLakeKeepsTheStepControlOfThePlane) {
  process_state_guard guard;
  temp_dir dir;
  const double rain_on_plane = 50.0 / 3.6e6 * 24 * 12 * 100.0;
  for (const char* scheme : {"ade", "ade-pc"}) {
    overland_case_options o;
    o.scheme = scheme;
    o.timestep = 5.0;
    // (The lake's own books are the lake's step's, not checked here.)
    ASSERT_NO_FATAL_FAILURE(run_on_one_and_eight_threads(
        o, [](const overland_case_options& w) { return write_pit_plane_case(w, true); }, false));
    const overland_case c = write_pit_plane_case(o, true);
    double drained = 0.0;
    const auto lines = read_outlet_hydrograph(c);
    ASSERT_FALSE(lines.empty());
    for (const auto& [minutes, q] : lines) {
      ASSERT_TRUE(std::isfinite(q)) << scheme << " minute " << minutes;
      ASSERT_LE(q, rain_on_plane) << scheme << " minute " << minutes;
      drained += q;
    }
    EXPECT_GT(drained, 0.0) << scheme;
    for (const depth_frame& f : read_depth_frames(c))
      for (double h : f.depth) ASSERT_TRUE(std::isfinite(h)) << scheme << " minute " << f.minutes;
  }
}

// Water that no sub-step down to the floor of 0.001 s can route without a negative depth stops
// the run with the floor's message and its remedy and a nonzero exit status, under both
// schemes: half a metre of water on a 1 m cell above a 100 m cliff, Manning n 0.001, which would
// pour over 3 m3 in a millisecond.
TEST(AdeFloorCase, TheSubStepFloorStopsTheRunNamingTheRemedy) {
  process_state_guard guard;
  temp_dir dir;
  write_file("mask.asc", grid_header(1, 2, 1.0) + "1 1\n");
  write_file("elev.asc", grid_header(1, 2, 1.0) + "100 0\n");
  write_file("depth.asc", grid_header(1, 2, 1.0) + "0.5 0\n");
  for (const char* scheme : {"ade", "ade-pc"}) {
    write_file("cliff.prj", std::string("TORVAPROJECT\nWATERSHED_MASK mask.asc\n") +
                                "ELEVATION elev.asc\nSUMMARY cliff_summary.out\n"
                                "OUTLET_HYDRO cliff_outlet.out\nROWS 1\nCOLS 2\nGRIDSIZE 1.0\n"
                                "START_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 1\nTOT_TIME 1\n"
                                "OUTROW 1\nOUTCOL 2\nOUTSLOPE 0.01\nHYD_FREQ 0.1\n"
                                "MANNING_N 0.001\nOVERTYPE " +
                                scheme +
                                "\nPRECIP_UNIF\nRAIN_INTENSITY 1e-6\nRAIN_DURATION 1\n"
                                "OV_INIT_DEPTH depth.asc\nNUM_THREADS 1\n");
    const command_result run = run_command(torva_exe(), {"cliff.prj"});
    EXPECT_NE(run.status, 0) << scheme;
    EXPECT_NE(run.out.find("The ADE overland routing time step is getting really small\n"
                           "less than 1/1000 of a second\n"
                           "Reduce the model time step by a factor of 2 and try again.\n"
                           "Program stopped.\n"),
              std::string::npos)
        << scheme << "\n"
        << run.out;
    EXPECT_EQ(run.out.find("finished event"), std::string::npos) << scheme;
  }
}

}  // namespace
