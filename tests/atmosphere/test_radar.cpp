// Radar rainfall: model cells mapped to the radar cells under their centres over every row and
// column of the grid, frames in inches per hour read into millimetres per hour (no-data values,
// clipping, grids that do not match the mapped one) and copied to the cells, against hand
// computations on small grids written by the tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "atmosphere/radar.h"
#include "framework/core/error_state.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// A radar grid file: its header, then its rows of values from the north.
std::string radar_text(int cols, int rows, double xll, double yll, double size,
                       const std::string& values, double nodata = -9999.0) {
  return "ncols " + std::to_string(cols) + "\nnrows " + std::to_string(rows) + "\nxllcorner " +
         std::to_string(xll) + "\nyllcorner " + std::to_string(yll) + "\ncellsize " +
         std::to_string(size) + "\nNODATA_value " + std::to_string(nodata) + "\n" + values;
}

// A model grid of rows x cols cells of 10 m, north-west corner at (0, 30), numbered row by row,
// with the cells listed in `holes` outside the watershed.
struct model_grid {
  raw_array2d<int> index_map;
  int cell_count = 0;
  model_grid(int rows, int cols, const std::vector<std::pair<int, int>>& holes = {}) {
    EXPECT_TRUE(index_map.allocate(rows, cols));
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c) {
        bool hole = false;
        for (const auto& h : holes) hole = hole || (h.first == r && h.second == c);
        index_map[r][c] = hole ? 0 : ++cell_count;
      }
  }
};

void model_side(radar_grid_record& radar, int rows, int cols) {
  radar.model_west = 0.0;
  radar.model_north = 30.0;
  radar.model_cell_size = 10.0;
  radar.model_rows = rows;
  radar.model_cols = cols;
}

class Radar : public ::testing::Test {
 protected:
  torva_test::process_state_guard process_state_;
  temp_dir dir_;
};

// A 3 x 4 model grid of 10 m cells under radar grids of two sizes. Cell centres lie at x = 5, 15,
// 25, 35 and y = 25, 15, 5; every cell maps to the radar cell under its centre, the cells of the
// last row and the last column included, and a hole of the watershed maps to nothing.
TEST_F(Radar, EveryCellOfEveryRowAndColumnTakesTheRadarCellUnderItsCentre) {
  struct mapping_case {
    const char* what;
    std::string file;
    std::vector<int> index;  // per cell 1..11: value index in the frame
  };
  const mapping_case cases[] = {
      // The radar grid is the model grid: radar cell (r, c) under model cell (r + 1, c + 1); the
      // hole at row 2, column 3 shifts the cell numbers after it.
      {"same grid",
       radar_text(4, 3, 0.0, 0.0, 10.0, "0 0 0 0\n0 0 0 0\n0 0 0 0\n"),
       {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12}},
      // 20 m radar cells, north edge 2 x 20 - 10 = 30: rows r = trunc((30 - y) / 20) = 0, 0, 1;
      // columns c = trunc(x / 20) = 0, 0, 1, 1; index 2r + c + 1.
      {"coarser radar",
       radar_text(2, 2, 0.0, -10.0, 20.0, "0 0\n0 0\n"),
       {1, 1, 2, 2, 1, 1, 2, 3, 3, 4, 4}},
      // A radar grid reaching past the model's north-west corner (north edge 5 x 10 - 10 = 40,
      // west edge -5): rows trunc((40 - y) / 10) = 1, 2, 3, columns trunc((x + 5) / 10) = 1 to
      // 4; index 5r + c + 1.
      {"radar beyond the model's north-west corner",
       radar_text(5, 5, -5.0, -10.0, 10.0, std::string(5, '\n')),
       {7, 8, 9, 10, 12, 13, 15, 17, 18, 19, 20}},
  };
  for (const mapping_case& c : cases) {
    SCOPED_TRACE(c.what);
    model_grid grid(3, 4, {{2, 3}});
    ASSERT_EQ(grid.cell_count, 11);
    write_file(dir_.file("frame.asc"), c.file);
    radar_grid_record radar;
    model_side(radar, 3, 4);
    std::vector<int> index(12, -1);
    stdout_capture capture;
    EXPECT_EQ(map_radar_cells(dir_.file("frame.asc").c_str(), radar, grid.index_map,
                              {index.data(), index.size()}),
              0);
    const std::string out = capture.stop();
    EXPECT_EQ(run_error.error_code, 0) << out;
    EXPECT_EQ(std::vector<int>(index.begin() + 1, index.end()), c.index);
    EXPECT_EQ(index[0], -1);  // no cell 0
  }
}

// A model cell north of the radar grid takes radar row 0; one south of it has no radar cell and
// stops the run with the mapping error; so has a header that cannot be read.
TEST_F(Radar, CellsOutsideTheRadarGridAndUnreadableHeaders) {
  model_grid grid(3, 4);
  radar_grid_record radar;
  model_side(radar, 3, 4);
  std::vector<int> index(13, 0);
  // Radar rows from y = 10 to 20 (north edge 20): the centres of row 1 (y = 25) lie north of it
  // and take row 0; those of row 3 (y = 5) lie south of it.
  write_file(dir_.file("south.asc"), radar_text(4, 1, 0.0, 10.0, 10.0, "0 0 0 0\n"));
  {
    stdout_capture capture;
    EXPECT_EQ(map_radar_cells(dir_.file("south.asc").c_str(), radar, grid.index_map,
                              {index.data(), index.size()}),
              -2);
    const std::string out = capture.stop();
    EXPECT_TRUE(contains(out, "Error!! p_I=1, p_J=0\n")) << out;
    EXPECT_TRUE(contains(out,
                         "model cell 9 (row 3, column 1) lies outside the radar grid of the "
                         "file " +
                             dir_.file("south.asc")))
        << out;
    EXPECT_TRUE(contains(out, "Error in creating radar mapping to grid.\n")) << out;
    EXPECT_EQ(run_error.error_fatal, 1);
    for (int cell = 1; cell <= 4; ++cell) EXPECT_EQ(index[cell], cell) << cell;  // row 0
  }
  process_state_.reset();
  {
    stdout_capture capture;
    EXPECT_EQ(map_radar_cells(dir_.file("none.asc").c_str(), radar, grid.index_map,
                              {index.data(), index.size()}),
              -1);
    const std::string out = capture.stop();
    EXPECT_TRUE(contains(out, "Error: unable to read radar header in file " +
                                  dir_.file("none.asc") + "\n       the file cannot be opened"))
        << out;
    EXPECT_EQ(run_error.error_fatal, 1);
  }
}

// A 2 x 3 frame in inches per hour: values become mm/h (x 25.4), the no-data value and values
// within 0.01 of it and values not above 0 become 0, and 4 in/h (101.6 mm/h) is clipped to 100.
TEST_F(Radar, AFrameInInchesPerHourBecomesMillimetresPerHourOnTheCells) {
  radar_grid_record radar;
  model_side(radar, 1, 3);
  write_file(dir_.file("f.asc"),
             radar_text(3, 2, 0.0, 10.0, 10.0, "0.5 -9999 -9998.995\n4.0 -0.2 2.0\n"));
  model_grid grid(1, 3);  // centres y = 25: radar row 0 of rows from y = 10 to 30
  std::vector<int> index(4, 0);
  stdout_capture capture;
  ASSERT_EQ(map_radar_cells(dir_.file("f.asc").c_str(), radar, grid.index_map,
                            {index.data(), index.size()}),
            0);
  std::string problem;
  ASSERT_EQ(read_radar_precip(dir_.file("f.asc").c_str(), radar, problem), 0) << problem;
  const std::vector<double> expected{0.5 * 25.4, 0.0, 0.0, 100.0, 0.0, 2.0 * 25.4};
  for (int k = 1; k <= 6; ++k) EXPECT_DOUBLE_EQ(radar.values[k], expected[k - 1]) << k;
  std::vector<double> rain(4, -1.0);
  EXPECT_EQ(report_radar_peak(radar, {index.data(), index.size()}, {rain.data(), rain.size()}, 3),
            0);
  const std::string out = capture.stop();
  EXPECT_EQ(rain, (std::vector<double>{-1.0, 12.7, 0.0, 0.0}));
  EXPECT_TRUE(contains(out,
                       "Warning: really big precip value (101.600000) in cell (1,0) from radar "
                       "rainfall.\n resetting value to 100.0\n"))
      << out;
  EXPECT_TRUE(contains(out, "Peak rainfall rate read: 100.000000 mm/hr\n")) << out;
  EXPECT_TRUE(contains(out, "Peak rainfall applied to watershed: 12.700000 mm/hr\n")) << out;
  EXPECT_EQ(run_error.error_code, 0);
}

// A frame that cannot be read, or that does not lie on the grid the cells were mapped to, is
// refused with what is wrong; an index outside the frame stops the copy.
TEST_F(Radar, FramesThatDoNotFitTheMappedGridAreRefused) {
  radar_grid_record radar;
  model_side(radar, 1, 2);
  write_file(dir_.file("first.asc"), radar_text(2, 1, 0.0, 20.0, 10.0, "1 1\n"));
  model_grid grid(1, 2);
  std::vector<int> index(3, 0);
  stdout_capture capture;
  ASSERT_EQ(map_radar_cells(dir_.file("first.asc").c_str(), radar, grid.index_map,
                            {index.data(), index.size()}),
            0);
  const struct {
    const char* what;
    std::string text;  // empty: no file
    const char* problem;
  } cases[] = {
      {"no file", "", "the file cannot be opened"},
      {"other size", radar_text(3, 1, 0.0, 20.0, 10.0, "1 1 1\n"),
       "its grid (3 columns, 1 rows, lower-left corner 0 20, cell size 10) is not the grid of "
       "the event's first radar file (2 columns, 1 rows"},
      {"other corner", radar_text(2, 1, 5.0, 20.0, 10.0, "1 1\n"), "lower-left corner 5 20"},
      {"other cell size", radar_text(2, 1, 0.0, 20.0, 5.0, "1 1\n"), "cell size 5)"},
      {"too few values", radar_text(2, 1, 0.0, 20.0, 10.0, "1\n"),
       "the file holds 1 values for the 2 cells of its grid"},
      {"a value that is no number", radar_text(2, 1, 0.0, 20.0, 10.0, "1 x\n"),
       "value 2 is no number"},
      // An intensity that is not finite is no number either: it would otherwise pass the
      // no-data test and reach the cells as the clip value (or as no rain at all).
      {"infinite value", radar_text(2, 1, 0.0, 20.0, 10.0, "1 inf\n"), "value 2 is no number"},
      {"value not a number", radar_text(2, 1, 0.0, 20.0, 10.0, "nan 1\n"), "value 1 is no number"},
      {"value out of range", radar_text(2, 1, 0.0, 20.0, 10.0, "1 1e999\n"),
       "value 2 is no number"},
      {"too many values", radar_text(2, 1, 0.0, 20.0, 10.0, "1 1\n1\n"),
       "value 3 is one more than its grid has cells"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = dir_.file(std::string("frame_") + std::to_string(&c - cases) + ".asc");
    if (!c.text.empty()) write_file(name, c.text);
    std::string problem;
    EXPECT_EQ(read_radar_precip(name.c_str(), radar, problem), -1);
    EXPECT_TRUE(contains(problem, c.problem)) << problem;
  }
  index[2] = 3;  // beyond the two cells of the frame
  std::vector<double> rain(3, 0.0);
  EXPECT_EQ(report_radar_peak(radar, {index.data(), index.size()}, {rain.data(), rain.size()}, 2),
            -1);
  EXPECT_TRUE(contains(capture.stop(), "Error: cellnum=2, totcells=2\n"));
}

}  // namespace
