// XY output points: the point file and inset mask readers with their faults, the weights of the
// cells around a point (at a cell's centre, in a corner of the grid, in an inactive cell and in
// the middle of four cells, checked by hand), the mask's edge points and boundary, and the
// crossings of channel links with that boundary.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "output/xy_points.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace xy_points_tests {

// Reads `text` as a point file; the console output in `out`.
bool read_points(const std::string& text, std::vector<xy_out_point>& points, std::string& out) {
  write_file("points.txt", text);
  file_handle h;
  EXPECT_TRUE(file_handle_open(h, "points.txt", "r"));
  stdout_capture capture;
  const bool ok = read_xy_out_points(h, "points.txt", points);
  out = capture.stop();
  return ok;
}

TEST(XyPointFile, ReadsThePointsInFileOrderAndWarnsOnceWhenShort) {
  process_state_guard guard;
  temp_dir dir;
  std::vector<xy_out_point> points;
  std::string out;
  ASSERT_TRUE(read_points("3\n505.5 1055.25 7\n\n-12 3e2 9\n1 2 4\n9 9 9\n", points, out));
  EXPECT_EQ(out, "");
  ASSERT_EQ(points.size(), 3u);  // the fourth line is past the count
  EXPECT_DOUBLE_EQ(points[0].x, 505.5);
  EXPECT_DOUBLE_EQ(points[0].y, 1055.25);
  EXPECT_EQ(points[0].id, 7);
  EXPECT_DOUBLE_EQ(points[1].x, -12.0);
  EXPECT_DOUBLE_EQ(points[1].y, 300.0);
  EXPECT_EQ(points[2].id, 4);

  ASSERT_TRUE(read_points("3\n1 2 3\n", points, out));
  EXPECT_EQ(points.size(), 1u);
  EXPECT_EQ(out,
            "Warning!!! The number of points specified in the xy output file is more than the "
            "actual points in the file.\n");
}

TEST(XyPointFile, AFaultNamesTheLineAndTheValue) {
  process_state_guard guard;
  temp_dir dir;
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "the XY output point file points.txt holds no number of points."},
      {"two\n1 2 3\n",
       "line 1 of the XY output point file points.txt must give the number of "
       "points as a whole number not below 0; \"two\" is not one."},
      {"-1\n", "\"-1\" is not one."},
      {"2\n1 2 3\n4 north 5\n",
       "line 3 of the XY output point file points.txt must give a point's x, y and id; its y "
       "\"north\" is not a number."},
      {"1\n\n1.5x 2 3\n",
       "line 3 of the XY output point file points.txt must give a point's x, "
       "y and id; its x \"1.5x\" is not a number."},
      {"1\n1 2 3.5\n", "its id \"3.5\" is not a whole number."},
      {"1\n1 2\n", "its id \"\" is not a whole number."},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    std::vector<xy_out_point> points;
    std::string out;
    EXPECT_FALSE(read_points(k.text, points, out));
    EXPECT_TRUE(contains(out, k.message)) << out;
  }
}

// A grid of 6 rows by 5 columns of 10 m, north-west corner at (500, 1060), with the first cell
// inactive; cells numbered row by row from 1.
struct small_grid {
  raw_array2d<int> index_map;
  xy_grid grid;
  small_grid() {
    EXPECT_TRUE(index_map.allocate(6, 5));
    int cell = 0;
    for (int row = 1; row <= 6; ++row)
      for (int col = 1; col <= 5; ++col) index_map[row][col] = row == 1 && col == 1 ? 0 : ++cell;
    grid = xy_grid{1060.0, 500.0, 10.0, 6, 5, &index_map};
  }
  int cell(int row, int col) const { return index_map[row][col]; }
};

TEST(XyPointWeights, FourCellsAroundAPointWeighByInverseSquareDistance) {
  process_state_guard guard;
  small_grid g;
  // In the lower-right quarter of cell (3, 2), whose centre is (515, 1035): the block is rows 3
  // and 4, columns 2 and 3, at distances sqrt(2^2 + 3^2), sqrt(8^2 + 3^2), sqrt(2^2 + 7^2) and
  // sqrt(8^2 + 7^2).
  std::vector<xy_out_point> points(1);
  points[0].x = 517.0;
  points[0].y = 1032.0;
  xy_points_weights(g.grid, points);
  const xy_out_point& p = points[0];
  ASSERT_EQ(p.neighbour_count, 4);
  const int cells[4] = {g.cell(3, 2), g.cell(3, 3), g.cell(4, 2), g.cell(4, 3)};
  const double weights[4] = {1.0 / 13.0, 1.0 / 73.0, 1.0 / 53.0, 1.0 / 113.0};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(p.neighbours[k], cells[k]) << k;
    EXPECT_NEAR(p.weights[k], weights[k], 1e-15) << k;
  }
  std::vector<double> depth(31, 0.0);
  depth[cells[0]] = 0.1;
  depth[cells[1]] = 0.2;
  depth[cells[2]] = 0.4;
  depth[cells[3]] = 0.8;
  const double by_hand =
      (0.1 / 13 + 0.2 / 73 + 0.4 / 53 + 0.8 / 113) / (1.0 / 13 + 1.0 / 73 + 1.0 / 53 + 1.0 / 113);
  EXPECT_NEAR(xy_point_value(p, depth.data()), by_hand, 1e-15);
}

TEST(XyPointWeights, CentresCornersAndInactiveCells) {
  process_state_guard guard;
  small_grid g;
  std::vector<xy_out_point> points(4);
  points[0].x = 535.0;  // the centre of cell (3, 4), which counts as its lower-right quarter
  points[0].y = 1035.0;
  points[1].x = 541.0;  // upper-left quarter of the last column's first-row cell (1, 5)
  points[1].y = 1059.0;
  points[2].x = 503.0;  // in the inactive cell (1, 1), nearest to the centre of (2, 1)
  points[2].y = 1052.0;
  points[3].x = 551.0;  // off the grid to the east, nearest to (2, 5)
  points[3].y = 1045.0;
  points.resize(5);
  // So far south-west that its row and column lie beyond the range of an int: nearest (6, 1).
  points[4].x = 500.0 - 3e10;
  points[4].y = 1000.0 - 3e10;
  stdout_capture capture;
  xy_points_weights(g.grid, points);
  const std::string out = capture.stop();

  ASSERT_EQ(points[0].neighbour_count, 4);
  EXPECT_EQ(points[0].neighbours[0], g.cell(3, 4));
  EXPECT_DOUBLE_EQ(points[0].weights[0], 1e8);  // distance 0 counts as 0.0001 m
  EXPECT_EQ(points[0].neighbours[3], g.cell(4, 5));
  EXPECT_NEAR(points[0].weights[3], 1.0 / 200.0, 1e-15);
  std::vector<double> depth(31, 0.0);
  depth[g.cell(3, 4)] = 0.25;
  depth[g.cell(3, 5)] = 1.0;  // 10 m away: a share of 1e-10
  EXPECT_NEAR(xy_point_value(points[0], depth.data()), 0.25, 1e-7);

  // Rows 0 and 1, columns 4 and 5: only (1, 4) and (1, 5) lie on the grid.
  ASSERT_EQ(points[1].neighbour_count, 2);
  EXPECT_EQ(points[1].neighbours[0], g.cell(1, 4));
  EXPECT_EQ(points[1].neighbours[1], g.cell(1, 5));

  for (int k : {2, 3, 4}) {
    ASSERT_EQ(points[k].neighbour_count, 1) << k;
    EXPECT_DOUBLE_EQ(points[k].weights[0], 1.0);
    EXPECT_DOUBLE_EQ(points[k].weight_sum, 1.0);
  }
  EXPECT_EQ(points[2].neighbours[0], g.cell(2, 1));
  EXPECT_EQ(points[3].neighbours[0], g.cell(2, 5));
  EXPECT_EQ(points[4].neighbours[0], g.cell(6, 1));
  EXPECT_TRUE(contains(out,
                       "Warning... an XY output point (x=  503.00, y= 1052.00) is not located in "
                       "an active cell. \n    The result will be the value of the single nearest "
                       "neighbor.\n"))
      << out;
}

// A mask of 4 rows by 4 columns of 10 m, north-west corner at (510, 1050):
//   0 1 1 0
//   1 1 1 1
//   1 1 1 1
//   0 1 1 0
const char* const inset_text =
    "north: 1050\nsouth: 1010\neast: 550\nwest: 510\nrows: 4\ncols: 4\n"
    "0 1 1 0\n1 1 1 1\n1 1 1 1\n0 1 1 0\n";

TEST(XyInsetMask, EdgeCellsGivePointsAndTheBoundaryEnclosesTheInside) {
  process_state_guard guard;
  temp_dir dir;
  write_file("inset.asc", inset_text);
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, "inset.asc", "r"));
  inset_mask m;
  ASSERT_TRUE(read_xy_out_mask(h, "inset.asc", m));
  EXPECT_DOUBLE_EQ(m.cell_size, 10.0);
  // Every inside cell but the two in the middle of rows 2 and 3 lies on the edge (row 1 always).
  const std::vector<xy_out_point> points = inset_edge_points(m);
  ASSERT_EQ(points.size(), 8u);
  EXPECT_EQ(points[0].id, 1);
  EXPECT_DOUBLE_EQ(points[0].x, 525.0);
  EXPECT_DOUBLE_EQ(points[0].y, 1045.0);
  EXPECT_EQ(points[2].id, 3);  // (2, 1)
  EXPECT_EQ(points[3].id, 6);  // (2, 4): (2, 2) and (2, 3) are inside
  EXPECT_EQ(points.back().id, 12);

  // The boundary is closed: 16 unit sides of 10 m around the 12 cells, whose signed area by the
  // shoelace formula is the inside's 1200 m2, clockwise.
  const std::vector<xy_segment> b = inset_boundary(m);
  ASSERT_EQ(b.size(), 16u);
  double twice_area = 0.0, length = 0.0;
  for (const xy_segment& s : b) {
    twice_area += s.x1 * s.y2 - s.x2 * s.y1;
    length += s.length;
    EXPECT_NEAR(std::hypot(s.dx, s.dy), 1.0, 1e-12);
  }
  EXPECT_NEAR(twice_area, -2400.0, 1e-6);
  EXPECT_NEAR(length, 160.0, 1e-9);
}

TEST(XyInsetMask, AFaultNamesTheLineAndTheValue) {
  process_state_guard guard;
  temp_dir dir;
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"north: 1050\nsouth: x\n",
       "line 2 of the XY output mask inset.asc must give the south of "
       "the mask as a number; \"x\" is not one."},
      {"north: 1050\nsouth: 1010\neast: 550\nwest: 510\nrows: 0\ncols: 4\n",
       "line 5 of the XY output mask inset.asc must give the rows of the mask as a whole number "
       "above 0; \"0\" is not one."},
      {"north: 1010\nsouth: 1050\neast: 550\nwest: 510\nrows: 4\ncols: 4\n", "enclose no area."},
      {"north: 1050\nsouth: 1010\neast: 550\nwest: 510\nrows: 4\ncols: 4\n0 1 1 0\n1 1 a 1\n",
       "line 8 of the XY output mask inset.asc holds \"a\", which is not a whole number."},
      {"north: 1050\nsouth: 1010\neast: 550\nwest: 510\nrows: 4\ncols: 4\n0 1 1 0\n",
       "the XY output mask inset.asc ends after 4 of its 16 values."},
      {"north: 1050\nsouth: 1010\neast: 550\nwest: 510\nrows: 100000\ncols: 100000\n",
       "more cells than"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    write_file("inset.asc", k.text);
    file_handle h;
    ASSERT_TRUE(file_handle_open(h, "inset.asc", "r"));
    inset_mask m;
    stdout_capture capture;
    EXPECT_FALSE(read_xy_out_mask(h, "inset.asc", m));
    const std::string out = capture.stop();
    EXPECT_TRUE(contains(out, k.message)) << out;
  }
}

TEST(XyStreamCrossings, ALinkCrossingTwiceKeepsItsHigherNode) {
  process_state_guard guard;
  temp_dir dir;
  write_file("inset.asc", inset_text);
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, "inset.asc", "r"));
  inset_mask m;
  ASSERT_TRUE(read_xy_out_mask(h, "inset.asc", m));
  // Link 1 enters the mask from the north between nodes 1 and 2 and leaves it to the south
  // between nodes 3 and 4. Link 2 stays outside. Link 3 crosses the west edge between its
  // nodes 1 and 2 through the middle of row 2.
  write_file("chan.txt",
             "TORVA_CHAN\nLINKS 3\nLINK 1\nNODES 4\nNODE 1\nX_Y 535 1060\nNODE 2\nX_Y 535 1040\n"
             "NODE 3\nX_Y 535 1020\nNODE 4\nX_Y 535 1000\n"
             "LINK 2\nNODE 1\nX_Y 600 1060\nNODE 2\nX_Y 600 1000\n"
             "LINK 3\nNODE 1\nX_Y 500 1035\nNODE 2\nX_Y 520 1035\n");
  file_handle chan;
  ASSERT_TRUE(file_handle_open(chan, "chan.txt", "r"));
  const std::vector<xy_out_point> s = xy_stream_crossings(chan, inset_boundary(m));
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].link, 1);
  EXPECT_EQ(s[0].node, 4);
  EXPECT_EQ(s[0].priority, 3);
  EXPECT_DOUBLE_EQ(s[0].x, 535.0);
  EXPECT_DOUBLE_EQ(s[0].y, 1010.0);
  EXPECT_EQ(s[1].link, 3);
  EXPECT_EQ(s[1].node, 2);
  EXPECT_DOUBLE_EQ(s[1].x, 510.0);
  EXPECT_DOUBLE_EQ(s[1].y, 1035.0);
}

}  // namespace xy_points_tests
