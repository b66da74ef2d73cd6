// End-to-end cases of the maps written at the end of a run for a later run, run by the real
// torva executable at 1 and 8 threads: a run split in two at the overland hotstart map it writes,
// the second run starting its plane from that map, goes on as the run in one piece; the
// adjusted elevation map holds the ground the run ended on; the soil-moisture map holds the
// moisture the run ended with and is where the next run's soil starts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/overland_cases.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::overland_case;
using torva_test::read_file;
using torva_test::temp_dir;
using torva_test::write_file;

namespace hotstart_cases_tests {

constexpr int plane_rows = torva_test::small_tilted_plane_rows;
constexpr int plane_cols = torva_test::small_tilted_plane_cols;

// A plane of 5 rows by 4 columns of 10 m falling 0.01 to the south and 0.002 to the west, the
// outlet at its south-west corner, n 0.05, steps of 60 s, depth frames every step. It starts at
// `start` ("hour minute") and runs `minutes`; `rain` mm/h fall for its first 10 minutes (a
// trace of 1e-6 mm/h where it stays dry). `cards` go at the end.
overland_case write_drain_plane(const std::string& start, int minutes, double rain,
                                const std::string& cards) {
  torva_test::write_small_tilted_plane("drain_mask.asc", "drain_elev.asc");
  char rain_text[32];
  snprintf(rain_text, sizeof rain_text, "%g", rain);
  write_file(
      "drain.prj",
      "TORVAPROJECT\nWATERSHED_MASK drain_mask.asc\nELEVATION drain_elev.asc\n"
      "SUMMARY drain_summary.out\nOUTLET_HYDRO drain_outlet.out\nSIG_OUTLET_HYDRO drain_sig.out\n"
      "ROWS 5\nCOLS 4\nGRIDSIZE 10.0\nSTART_DATE 2005 3 14\nSTART_TIME " +
          start + "\nTIMESTEP 60.0\nTOT_TIME " + std::to_string(minutes) +
          "\nOUTROW 5\nOUTCOL 1\nOUTSLOPE 0.01\nHYD_FREQ 1\nMAP_FREQ 1\nMANNING_N 0.05\n"
          "OVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY " +
          rain_text + "\nRAIN_DURATION 10\nMAP_TYPE 1\nDEPTH drain_depth.dat\n" + cards);
  overland_case c;
  c.project = "drain.prj";
  c.rows = plane_rows;
  c.cols = plane_cols;
  c.dx = 10.0;
  c.depth = "drain_depth.dat";
  return c;
}

// The (minutes, discharge) lines of the outlet hydrograph of six significant digits.
std::vector<std::pair<double, double>> outlet_lines() {
  std::vector<std::pair<double, double>> lines;
  std::istringstream in(read_file("drain_sig.out"));
  double t = 0.0, q = 0.0;
  while (in >> t >> q) lines.emplace_back(t, q);
  return lines;
}

// The values of a GRASS grid written by the model (six header lines, then the values).
std::vector<double> grass_values(const std::string& name) {
  std::vector<double> v;
  std::istringstream in(read_file(name));
  std::string line;
  for (int k = 0; k < 6; ++k) std::getline(in, line);
  double d = 0.0;
  while (in >> d) v.push_back(d);
  return v;
}

struct plane_run {
  std::vector<torva_test::depth_frame> frames;
  std::vector<std::pair<double, double>> outlet;
  torva_test::summary_balance books;
};

// Runs the written plane at 1 and 8 threads (the two must write the same files) and reads the
// outputs of the run.
plane_run run_plane(const overland_case& c) {
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(c.project, [] {
    return read_file("drain_depth.dat") + read_file("drain_sig.out") + read_file("drain_end.asc");
  });
  plane_run r;
  r.frames = torva_test::read_depth_frames(c);
  r.outlet = outlet_lines();
  r.books = torva_test::read_summary_balance(read_file("drain_summary.out"));
  return r;
}

// 50 mm/h on the plane for 10 minutes, then 30 minutes of draining: run in one piece of 40
// minutes, or for 20 minutes writing its overland hotstart map and then for 20 minutes more from
// that map, the depths of every cell and the outlet discharge after the split are those of the
// run in one piece to the printed precision of the map (1e-6 m). The water is still moving
// when the run is split, and each run's books close with the hotstart's water as its initial
// store.
TEST(HotstartCases, ARunSplitAtItsOverlandHotstartGoesOnAsTheRunInOnePiece) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const plane_run whole = run_plane(write_drain_plane("6 30", 40, 50.0, ""));
  const plane_run first =
      run_plane(write_drain_plane("6 30", 20, 50.0, "WRITE_OV_HOTSTART drain_end.asc\n"));
  const plane_run second =
      run_plane(write_drain_plane("6 50", 20, 1e-6, "READ_OV_HOTSTART drain_end.asc\n"));
  ASSERT_EQ(whole.frames.size(), 41u);   // minutes 0 to 40
  ASSERT_EQ(second.frames.size(), 21u);  // minutes 0 to 20 after the split
  for (const plane_run* r : {&whole, &first, &second}) {
    ASSERT_TRUE(r->books.has_totals);
    EXPECT_LT(std::fabs(r->books.run_overall_error), 1e-6);
  }

  // The map holds the depths of the first run's last frame.
  const std::vector<double> start = grass_values("drain_end.asc");
  ASSERT_EQ(start.size(), first.frames.back().depth.size());
  double stored = 0.0;
  for (std::size_t k = 0; k < start.size(); ++k) {
    EXPECT_NEAR(start[k], first.frames.back().depth[k], 5e-7) << "cell " << k + 1;
    stored += start[k] * 100.0;
  }
  EXPECT_NEAR(second.books.run_ov_init, stored, 1e-3 * stored + 1e-3);

  double moving = 0.0;  // how far the depths move after the split
  for (std::size_t f = 0; f < second.frames.size(); ++f) {
    const torva_test::depth_frame& split = second.frames[f];
    const torva_test::depth_frame& one = whole.frames[f + 20];
    ASSERT_EQ(split.minutes + 20.0, one.minutes);
    for (std::size_t k = 0; k < one.depth.size(); ++k) {
      EXPECT_NEAR(split.depth[k], one.depth[k], 2e-6) << "minute " << one.minutes << " cell " << k;
      moving = std::fmax(moving, std::fabs(one.depth[k] - whole.frames[20].depth[k]));
    }
  }
  EXPECT_GT(moving, 1e-3);
  ASSERT_GE(whole.outlet.size(), 40u);
  ASSERT_GE(second.outlet.size(), 20u);
  for (const auto& [t, q] : second.outlet) {
    if (t <= 0.0) continue;
    for (const auto& [tw, qw] : whole.outlet) {
      if (tw != t + 20.0) continue;
      EXPECT_NEAR(q, qw, 1e-6 + 1e-4 * qw) << "minute " << tw;
    }
  }
}

// The adjusted elevation map written at the end of a run holds the ground every cell ended on:
// on a plane that neither erodes nor settles, the elevation map the run read, in its order.
TEST(HotstartCases, TheAdjustedElevationMapIsTheGroundTheRunEndedOn) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  run_plane(write_drain_plane("6 30", 5, 50.0, "ADJUST_ELEV drain_ground.asc\n"));
  const std::vector<double> ground = grass_values("drain_ground.asc");
  ASSERT_EQ(ground.size(), static_cast<std::size_t>(plane_rows * plane_cols));
  for (int r = 1; r <= plane_rows; ++r)
    for (int c = 1; c <= plane_cols; ++c)
      EXPECT_NEAR(ground[(r - 1) * plane_cols + (c - 1)],
                  torva_test::small_tilted_plane_ground(r, c), 5e-7)
          << "row " << r << " col " << c;
  const std::string text = read_file("drain_ground.asc");
  EXPECT_EQ(text.rfind("north:   1050.00\nsouth:   1000.00\neast:    540.00\nwest:    500.00\n"
                       "rows:     5\ncols:     4\n",
                       0),
            0u)
      << text;
}

// The Green and Ampt case of four silt-loam cells (tests/cases/green_ampt) copied into the
// current folder with the redistribution scheme (pore index 0.234, residual content 0.015, the
// silt loam's), its project running `minutes` under `rain` mm/h in steps of a minute, with a
// surface moisture frame every step; `cards` go at the end.
void write_soil_case(int minutes, double rain, const std::string& cards) {
  const std::string from = std::string(TORVA_SOURCE_DIR) + "/tests/cases/green_ampt/";
  for (const char* name : {"ga_mask.asc", "ga_elev.asc", "ga_conductivity.asc", "ga_capillary.asc",
                           "ga_porosity.asc", "ga_moisture.asc"})
    write_file(name, read_file(from + name));
  const std::string header = torva_test::grid_header(2, 2, 1200.0, 1000.0, 700.0, 500.0);
  write_file("ga_pore_index.asc", header + "0.234 0.234\n0.234 0.234\n");
  write_file("ga_residual.asc", header + "0.015 0.015\n0.015 0.015\n");
  std::string project = read_file(from + "green_ampt.prj");
  const auto replace = [&](const std::string& card, const std::string& line) {
    const std::size_t at = project.find("\n" + card + " ");
    ASSERT_NE(at, std::string::npos) << card;
    project.replace(at + 1, project.find('\n', at + 1) - at - 1, line);
  };
  char text[64];
  snprintf(text, sizeof text, "RAIN_INTENSITY %g", rain);
  replace("RAIN_INTENSITY", text);
  replace("TOT_TIME", "TOT_TIME " + std::to_string(minutes));
  replace("TIMESTEP", "TIMESTEP 60.0");
  replace("HYD_FREQ", "HYD_FREQ 1");
  project.replace(project.find("\nGREEN_AMPT\n"), 12, "\nINF_REDIST\n");
  write_file("green_ampt.prj", project +
                                   "PORE_INDEX ga_pore_index.asc\nRESIDUAL_SAT ga_residual.asc\n"
                                   "MAP_TYPE 1\nMAP_FREQ 1\nSURF_MOIST ga_moisture_frames.dat\n" +
                                   cards);
}

// The surface moisture of every cell in every frame of the case's moisture dataset.
std::vector<torva_test::depth_frame> moisture_frames() {
  overland_case c;
  c.rows = 2;
  c.cols = 2;
  c.depth = "ga_moisture_frames.dat";
  return torva_test::read_depth_frames(c);
}

// The soil-moisture hotstart map holds the surface moisture the run ended with (the soil under
// 50 mm/h for 20 minutes is wetter than its 0.1458 at the start), and a second run that reads
// the map starts its soil from it: its first moisture frame, with no rain, is the map.
TEST(HotstartCases, TheSoilMoistureHotstartHoldsTheRunsEndAndStartsTheNextRun) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_soil_case(20, 50.0, "WRITE_SM_HOTSTART ga_end.asc\n");
  torva_test::run_at_compared_thread_counts("green_ampt.prj", [] {
    return read_file("ga_moisture_frames.dat") + read_file("ga_end.asc");
  });
  const std::vector<torva_test::depth_frame> first = moisture_frames();
  ASSERT_GE(first.size(), 20u);
  EXPECT_NEAR(first.back().minutes, 20.0, 1e-6);  // the last frame is the run's end
  const std::vector<double> end = grass_values("ga_end.asc");
  ASSERT_EQ(end.size(), 4u);
  for (std::size_t k = 0; k < end.size(); ++k) {
    EXPECT_EQ(end[k], first.back().depth[k]) << "cell " << k + 1;
    EXPECT_GT(end[k], 0.1458 + 0.01) << "cell " << k + 1;
  }

  write_soil_case(2, 1e-6, "READ_SM_HOTSTART ga_end.asc\n");
  torva_test::run_at_compared_thread_counts("green_ampt.prj",
                                            [] { return read_file("ga_moisture_frames.dat"); });
  const std::vector<torva_test::depth_frame> second = moisture_frames();
  ASSERT_FALSE(second.empty());
  for (std::size_t k = 0; k < end.size(); ++k)
    EXPECT_EQ(second.front().depth[k], end[k]) << "cell " << k + 1;
}

// The redistribution soil's moisture at listed cells: each line of the location output holds
// the minutes and the surface moisture of the listed cells, the value the surface moisture
// frame of the same minute holds for them: the 0.1458 the soil starts from, then wetter under
// 50 mm/h.
TEST(HotstartCases, TheRedistributionSoilsMoistureIsWrittenAtListedCells) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_file("cells.txt", "2\n1 2\n2 1\n");
  write_soil_case(20, 50.0, "IN_THETA_LOCATION cells.txt\nOUT_THETA_LOCATION theta.out\n");
  torva_test::run_at_compared_thread_counts("green_ampt.prj", [] {
    return read_file("ga_moisture_frames.dat") + read_file("theta.out");
  });
  const std::vector<torva_test::depth_frame> frames = moisture_frames();
  std::istringstream in(read_file("theta.out"));
  std::vector<std::vector<double>> lines;
  double minutes = 0.0, a = 0.0, b = 0.0;
  while (in >> minutes >> a >> b) lines.push_back({minutes, a, b});
  ASSERT_GE(lines.size(), 20u) << read_file("theta.out");
  ASSERT_GE(frames.size(), lines.size());
  EXPECT_NEAR(lines.front()[1], 0.1458, 1e-6);
  EXPECT_GT(lines.back()[1], 0.1458 + 0.01);
  // Cells (1, 2) and (2, 1) are the second and third of the frames, row by row.
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const torva_test::depth_frame& f = frames[frames.size() - lines.size() + i];
    ASSERT_NEAR(f.minutes, lines[i][0], 1e-6) << i;
    EXPECT_NEAR(lines[i][1], f.depth[1], 1e-6) << "minute " << lines[i][0];
    EXPECT_NEAR(lines[i][2], f.depth[2], 1e-6) << "minute " << lines[i][0];
  }
}

}  // namespace hotstart_cases_tests
