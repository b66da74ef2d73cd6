// End-to-end runs of the torva executable with XY point outputs: a still pool over a bowl is
// watched at a point between four cells, whose series value at every output
// time is the inverse-square-distance mean of the four cells' depths in the depth map of the
// same time, worked out here by hand; the edge cells of an inset mask give a point at each edge
// cell's centre, valued as the model cell under it. Both files end with END_TS, and 1 and 8
// threads write the same series.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/overland_cases.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::overland_case;
using torva_test::overland_case_options;
using torva_test::read_file;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// The rows of an XY series file: minutes after the run's start (06:30) and the values.
std::map<int, std::vector<double>> xy_rows(const std::string& text) {
  std::map<int, std::vector<double>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, used = 0;
    if (std::sscanf(line.c_str(), "%d %d %d %d %d%n", &y, &mo, &d, &h, &mi, &used) != 5 ||
        y != 2005)
      continue;
    std::istringstream values(line.substr(static_cast<std::size_t>(used)));
    std::vector<double> v;
    for (double x = 0.0; values >> x;) v.push_back(x);
    rows[h * 60 + mi - (6 * 60 + 30)] = v;
  }
  return rows;
}

// The still pool over a bowl (its depth 1.6 m less the ground, which rises from the centre),
// 40 minutes with depth frames and series every 10 minutes, with the XY cards.
overland_case write_watched_bowl(const std::string& xy_cards) {
  overland_case_options o;
  o.minutes = 40.0;
  overland_case c = torva_test::write_bowl_pool_case(o);
  std::string project = read_file(c.project);
  for (const std::string card : {"MAP_FREQ           ", "HYD_FREQ           "}) {
    const std::size_t at = project.find(card + "60\n");
    EXPECT_NE(at, std::string::npos) << card;
    if (at != std::string::npos) project.replace(at + card.size(), 2, "10");
  }
  c.map_minutes = c.hyd_minutes = 10.0;
  write_file(c.project, project + xy_cards);
  return c;
}

// The depth (m) of grid cell (row, col) in a frame.
double depth_at(const overland_case& c, const torva_test::depth_frame& f, int row, int col) {
  return f.depth[static_cast<std::size_t>((row - 1) * c.cols + (col - 1))];
}

// The grid's north-west corner is (500, 1160) and its cells 10 m wide: cell (4, 4) spans
// x 530-540 and y 1120-1130. The point (537, 1122) lies in its lower-right quarter, so it takes
// cells (4, 4), (4, 5), (5, 4) and (5, 5), whose centres lie sqrt(13), sqrt(73), sqrt(53) and
// sqrt(113) m away.
TEST(XyOutputCases, APointBetweenFourCellsTakesTheirInverseSquareDistanceMean) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_file("points.txt", "1\n537.0 1122.0 42\n");
  const overland_case c =
      write_watched_bowl("XYBDYOUTPUT_PTS    points.txt\nXYBDYOUTPUT_OVDEP  point_depth.xy\n");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      c.project, [] { return read_file("point_depth.xy"); });
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;

  const std::string text = read_file("point_depth.xy");
  EXPECT_EQ(text.rfind("XY_OV_DEPTH\n1\nDATE       TIME \t             42\n", 0), 0u) << text;
  EXPECT_EQ(text.size() - text.rfind("END_TS\n"), 7u) << text;
  const std::map<int, std::vector<double>> rows = xy_rows(text);
  const std::vector<torva_test::depth_frame> frames = torva_test::read_depth_frames(c);
  ASSERT_GE(frames.size(), 3u);
  int checked = 0;
  for (const torva_test::depth_frame& f : frames) {
    const int minute = static_cast<int>(std::lround(f.minutes));
    const auto row = rows.find(minute);
    if (minute < 1 || row == rows.end()) continue;
    ASSERT_EQ(row->second.size(), 1u);
    const double by_hand = (depth_at(c, f, 4, 4) / 13.0 + depth_at(c, f, 4, 5) / 73.0 +
                            depth_at(c, f, 5, 4) / 53.0 + depth_at(c, f, 5, 5) / 113.0) /
                           (1.0 / 13.0 + 1.0 / 73.0 + 1.0 / 53.0 + 1.0 / 113.0);
    EXPECT_NEAR(row->second[0], by_hand, 2e-6) << "minute " << minute;
    // The point's value is no single cell's: the pool deepens towards the bowl's centre.
    EXPECT_GT(std::fabs(by_hand - depth_at(c, f, 4, 4)), 1e-3) << "minute " << minute;
    ++checked;
  }
  EXPECT_GE(checked, 3);
}

// An inset mask of 3 x 3 cells of 10 m over model cells (7..9, 7..9) of the bowl, where the
// depths differ by centimetres: its eight edge cells (all but the middle one) give points at
// their centres, numbered among the mask's inside cells, and each point's value is the depth of
// the model cell under it.
TEST(XyOutputCases, TheEdgeCellsOfAnInsetMaskGivePointsValuedAsTheCellsUnderThem) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_file("inset.asc",
             "north: 1100\nsouth: 1070\neast: 590\nwest: 560\nrows: 3\ncols: 3\n"
             "1 1 1\n1 1 1\n1 1 1\n");
  const overland_case c =
      write_watched_bowl("XYBDYOUTPUT_MASK   inset.asc\nXYBDYOUTPUT_OVDEP  edge_depth.xy\n");
  const torva_test::command_result run = torva_test::run_overland_case(c);
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string text = read_file("edge_depth.xy");
  std::string header = "XY_OV_DEPTH\n8\nDATE       TIME \t";
  for (int id : {1, 2, 3, 4, 6, 7, 8, 9}) {
    char number[32];
    std::snprintf(number, sizeof number, "   %12d", id);
    header += number;
  }
  EXPECT_EQ(text.rfind(header + "\n", 0), 0u) << text;
  EXPECT_EQ(text.size() - text.rfind("END_TS\n"), 7u);

  const std::map<int, std::vector<double>> rows = xy_rows(text);
  const std::vector<torva_test::depth_frame> frames = torva_test::read_depth_frames(c);
  const int cells[8][2] = {{7, 7}, {7, 8}, {7, 9}, {8, 7}, {8, 9}, {9, 7}, {9, 8}, {9, 9}};
  int checked = 0;
  for (const torva_test::depth_frame& f : frames) {
    const auto row = rows.find(static_cast<int>(std::lround(f.minutes)));
    if (f.minutes < 0.5 || row == rows.end()) continue;
    ASSERT_EQ(row->second.size(), 8u);
    for (int k = 0; k < 8; ++k)
      EXPECT_NEAR(row->second[k], depth_at(c, f, cells[k][0], cells[k][1]), 2e-6)
          << "point " << k << " minute " << f.minutes;
    // The points' cells hold different depths.
    EXPECT_GT(std::fabs(row->second[0] - row->second[1]), 1e-3);
    ++checked;
  }
  EXPECT_GE(checked, 3);
}

// A point file or mask that is not there, or a point file with a fault, stops the run at
// start-up naming it.
TEST(XyOutputCases, AMissingOrFaultyPointFileStopsTheRun) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const struct {
    const char* cards;
    const char* points;
    const char* message;
  } cases[] = {
      {"XYBDYOUTPUT_PTS    nowhere.txt\nXYBDYOUTPUT_OVDEP  p.xy\n", nullptr,
       "Error: the XY output point file nowhere.txt (XYBDYOUTPUT_PTS card) could not be opened."},
      {"XYBDYOUTPUT_MASK   nowhere.asc\nXYBDYOUTPUT_OVDEP  p.xy\n", nullptr,
       "Error: the XY output mask nowhere.asc (XYBDYOUTPUT_MASK card) could not be opened."},
      {"XYBDYOUTPUT_PTS    points.txt\nXYBDYOUTPUT_OVDEP  p.xy\n", "2\n537 1122 1\n537 y 2\n",
       "line 3 of the XY output point file points.txt must give a point's x, y and id; its y "
       "\"y\" is not a number."},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.message);
    if (k.points != nullptr) write_file("points.txt", k.points);
    const overland_case c = write_watched_bowl(k.cards);
    const torva_test::command_result run = torva_test::run_overland_case(c);
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(contains(run.out, k.message)) << run.out;
  }
}

}  // namespace
