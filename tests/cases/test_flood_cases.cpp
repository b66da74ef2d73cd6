// End-to-end cases of the flood depth map, run by the real torva executable at 1 and 8 threads:
// rain on a small tilted plane passes and drains away, and the map written at the end of the
// run holds for every cell the deepest water of the depth frames written at every step, in each
// map format (ASCII and binary datasets, one grid file).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/overland_cases.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::overland_case;
using torva_test::read_file;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

constexpr int plane_rows = torva_test::small_tilted_plane_rows;
constexpr int plane_cols = torva_test::small_tilted_plane_cols;
constexpr double plane_minutes = 40.0;

// A plane of 5 rows by 4 columns of 10 m falling 0.01 to the south and 0.002 to the west, the
// outlet at its south-west corner, n 0.05, 50 mm/h of rain for the first 20 of 40 minutes, steps
// of 60 s. MAP_TYPE `map_type`; with `depth_frames` the depth dataset gets a frame every step.
overland_case write_flood_plane(int map_type, bool depth_frames) {
  torva_test::write_small_tilted_plane("flood_mask.asc", "flood_elev.asc");
  write_file("flood.prj",
             "TORVAPROJECT\nWATERSHED_MASK flood_mask.asc\nELEVATION flood_elev.asc\n"
             "SUMMARY flood_summary.out\nOUTLET_HYDRO flood_outlet.out\n"
             "ROWS 5\nCOLS 4\nGRIDSIZE 10.0\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n"
             "TIMESTEP 60.0\nTOT_TIME 40\nOUTROW 5\nOUTCOL 1\nOUTSLOPE 0.01\nHYD_FREQ 1\n"
             "MAP_FREQ 1\nMANNING_N 0.05\nOVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY 50\n"
             "RAIN_DURATION 20\nMAP_TYPE " +
                 std::to_string(map_type) + "\nFLOOD_GRID flood_max.dat\n" +
                 (depth_frames ? "DEPTH flood_depth.dat\n" : ""));
  overland_case c;
  c.project = "flood.prj";
  c.rows = plane_rows;
  c.cols = plane_cols;
  c.dx = 10.0;
  c.summary = "flood_summary.out";
  c.depth = "flood_depth.dat";
  return c;
}

// What a run writes that must not depend on its thread count.
std::string map_outputs() {
  return read_file("flood_depth.dat") + read_file("flood_max.dat") + read_file("flood_outlet.out");
}

// The frame of the binary flood dataset: its time and values, read back from the end of the file
// (after them the 4-byte end mark 210). False when the file is too short or not so closed.
bool read_binary_flood_frame(double& minutes, std::vector<double>& values) {
  const std::string bytes = read_file("flood_max.dat");
  const std::size_t n = plane_rows * plane_cols;
  const std::size_t frame = 4 + 2 + 8 + 2 * n + 8 * n;
  if (bytes.size() < frame + 4) return false;
  int32_t mark = 0, card = 0;
  std::memcpy(&mark, bytes.data() + bytes.size() - 4, 4);
  const std::size_t start = bytes.size() - 4 - frame;
  std::memcpy(&card, bytes.data() + start, 4);
  if (mark != 210 || card != 200) return false;
  std::memcpy(&minutes, bytes.data() + start + 6, 8);
  values.resize(n);
  std::memcpy(values.data(), bytes.data() + start + 14 + 2 * n, 8 * n);
  return true;
}

// The values of the ESRI grid (six header lines, then rows of values).
std::vector<double> read_grid_values(const std::string& name) {
  std::istringstream in(read_file(name));
  std::string line;
  for (int k = 0; k < 6; ++k) std::getline(in, line);
  std::vector<double> values;
  double v = 0.0;
  while (in >> v) values.push_back(v);
  return values;
}

// The flood map of the ASCII dataset is, cell by cell, the deepest water of the depth frames of
// every step; the rain has stopped and the plane drained, so the map is not the last frame.
TEST(FloodCases, TheFloodMapHoldsEachCellsDeepestDepthOfTheRun) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const overland_case c = write_flood_plane(1, true);
  const torva_test::thread_runs runs =
      torva_test::run_at_compared_thread_counts(c.project, map_outputs);
  ASSERT_EQ(runs.run[1].status, 0);

  const std::vector<torva_test::depth_frame> frames = torva_test::read_depth_frames(c);
  ASSERT_GE(frames.size(), 40u);  // a frame at every step of the 40 minutes
  overland_case flood = c;
  flood.depth = "flood_max.dat";
  const std::vector<torva_test::depth_frame> max_frames = torva_test::read_depth_frames(flood);
  ASSERT_EQ(max_frames.size(), 1u);
  EXPECT_EQ(max_frames[0].minutes, plane_minutes);
  const std::string text = read_file("flood_max.dat");
  EXPECT_EQ(text.rfind("OBJID 1021\n"), text.find("OBJID"));
  EXPECT_TRUE(contains(text, "NAME flood_grid\n"));
  EXPECT_EQ(text.size() - text.rfind("ENDDS\n"), 6u);

  const std::size_t n = plane_rows * plane_cols;
  double passed = 0.0;  // how far the deepest water lies above the last frame's
  for (std::size_t k = 0; k < n; ++k) {
    double deepest = 0.0;
    for (const torva_test::depth_frame& f : frames) deepest = std::max(deepest, f.depth[k]);
    EXPECT_EQ(max_frames[0].depth[k], deepest) << "cell " << k + 1;
    passed = std::max(passed, deepest - frames.back().depth[k]);
  }
  EXPECT_GT(passed, 1e-3);  // the map is the peak of the run, not its end

  const torva_test::summary_balance books =
      torva_test::read_summary_balance(read_file("flood_summary.out"));
  ASSERT_TRUE(books.has_totals);
  EXPECT_LT(std::fabs(books.run_overall_error), 1e-6);
}

// The binary dataset and the single grid file hold the flood map of the ASCII dataset, each
// closed as its format is (the end mark 210 after the binary frame).
TEST(FloodCases, EveryMapFormatHoldsTheSameFloodMap) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_flood_plane(1, false);
  ASSERT_EQ(torva_test::run_with_threads("flood.prj", 1).status, 0);
  overland_case ascii;
  ascii.rows = plane_rows;
  ascii.cols = plane_cols;
  ascii.depth = "flood_max.dat";
  const std::vector<torva_test::depth_frame> reference = torva_test::read_depth_frames(ascii);
  ASSERT_EQ(reference.size(), 1u);
  EXPECT_GT(*std::max_element(reference[0].depth.begin(), reference[0].depth.end()), 1e-3);

  struct format_case {
    int map_type;
    double tolerance;  // the printed precision of the ASCII dataset or of the grid
  };
  for (const format_case& fc : {format_case{2, 5e-7}, format_case{0, 5e-5 + 5e-7}}) {
    SCOPED_TRACE(fc.map_type);
    write_flood_plane(fc.map_type, false);
    std::remove("flood_max.dat");
    const torva_test::thread_runs runs =
        torva_test::run_at_compared_thread_counts("flood.prj", map_outputs);
    ASSERT_EQ(runs.run[1].status, 0);
    std::vector<double> values;
    if (fc.map_type == 2) {
      double minutes = 0.0;
      ASSERT_TRUE(read_binary_flood_frame(minutes, values));
      EXPECT_EQ(minutes, plane_minutes);
    } else {
      values = read_grid_values("flood_max.dat");
    }
    ASSERT_EQ(values.size(), reference[0].depth.size());
    for (std::size_t k = 0; k < values.size(); ++k)
      EXPECT_NEAR(values[k], reference[0].depth[k], fc.tolerance) << "cell " << k + 1;
  }
}

}  // namespace
