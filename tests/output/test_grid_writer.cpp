// Grid writers: a GRASS grid read back by the model's own grid reader gives the values written,
// holes of the watershed included; the ESRI form places its lower-left centre from the smaller
// edges whatever their order, writes the no-data value outside and nothing after the header of
// a grid without rows; the fixed-point formatting matches printf.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "input/ascii_grid.h"
#include "output/grid_writer.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::temp_dir;

namespace {

// A rows x cols index map with the listed positions (row-major index from 0) outside.
void make_index(raw_array2d<int>& index, int rows, int cols, const std::vector<int>& holes,
                int& cells) {
  index.allocate(rows, cols);
  cells = 0;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) {
      bool hole = false;
      for (int h : holes) hole = hole || h == (r - 1) * cols + (c - 1);
      index[r][c] = hole ? 0 : ++cells;
    }
}

TEST(GridWriter, AGrassGridReadBackByTheGridReaderGivesTheValuesWritten) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  raw_array2d<int> index;
  int cells = 0;
  make_index(index, 3, 4, {1, 6, 11}, cells);
  ASSERT_EQ(cells, 9);
  raw_array1d<double> values;
  values.allocate(cells);
  const double written[] = {0.0, 1.25, -3.5, 1234.567891, 1e-6, 42.0, 0.001, -0.5, 7.0, 99.875};
  for (int i = 1; i <= cells; ++i) values[i] = written[i];
  {
    file_handle out;
    ASSERT_TRUE(file_handle_open(out, "grid.asc", "w"));
    write_grass_grid(out, index, 1200.0, 1110.0, 620.0, 500.0, 3, 4, values.data());
    file_handle_close(out);
  }
  file_handle in;
  ASSERT_TRUE(file_handle_open(in, "grid.asc", "r"));
  double north = 0, south = 0, east = 0, west = 0;
  int rows = 0, cols = 0;
  raw_array1d<double> back;
  back.allocate(cells);
  read_ascii_map(in, "grid.asc", map_store_cell_double, north, south, east, west, rows, cols, index,
                 &back, nullptr, nullptr, 3, 4);
  file_handle_close(in);
  ASSERT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(north, 1200.0);
  EXPECT_EQ(south, 1110.0);
  EXPECT_EQ(east, 620.0);
  EXPECT_EQ(west, 500.0);
  // "%lf" keeps six decimals.
  for (int i = 1; i <= cells; ++i) EXPECT_NEAR(back[i], values[i], 5e-7) << "cell " << i;
  // Inactive positions are written as zero: the second field of the first row is a hole.
  std::istringstream text(read_file("grid.asc"));
  std::string line;
  for (int k = 0; k < 7; ++k) std::getline(text, line);
  std::istringstream row(line);
  double a = -1, b = -1;
  row >> a >> b;
  EXPECT_EQ(a, 1.25);
  EXPECT_EQ(b, 0.0);
}

// The ESRI header's lower-left centre from the smaller edge plus half a cell, whichever order the
// edges come in; every field of an inactive position is the no-data value.
TEST(GridWriter, AnEsriGridPlacesItsCornerFromTheSmallerEdgesAndMarksHoles) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  struct extent {
    double north, south, east, west;
  };
  const extent extents[] = {{1090.0, 1000.0, 620.0, 500.0}, {1000.0, 1090.0, 500.0, 620.0}};
  raw_array2d<int> index;
  int cells = 0;
  make_index(index, 3, 4, {0, 5}, cells);
  raw_array1d<double> values;
  values.allocate(cells);
  for (int i = 1; i <= cells; ++i) values[i] = 0.5 * i;
  for (const extent& e : extents) {
    file_handle out;
    ASSERT_TRUE(file_handle_open(out, "esri.asc", "w"));
    write_ascii_grid(out, index, e.north, e.south, e.east, e.west, 3, 4, values.data(), 30.0);
    file_handle_close(out);
    std::istringstream text(read_file("esri.asc"));
    std::string word;
    double ncols = 0, nrows = 0, x = 0, y = 0, size = 0, nodata = 0;
    text >> word >> ncols >> word >> nrows >> word >> x >> word >> y >> word >> size >> word >>
        nodata;
    EXPECT_EQ(ncols, 4);
    EXPECT_EQ(nrows, 3);
    EXPECT_DOUBLE_EQ(x, 515.0);
    EXPECT_DOUBLE_EQ(y, 1015.0);
    EXPECT_EQ(size, 30.0);
    EXPECT_DOUBLE_EQ(nodata, -9999.99);
    std::vector<double> fields;
    double v = 0;
    while (text >> v) fields.push_back(v);
    ASSERT_EQ(fields.size(), 12u);
    int next = 1;
    for (int k = 0; k < 12; ++k) {
      if (k == 0 || k == 5)
        EXPECT_DOUBLE_EQ(fields[k], -9999.99) << k;
      else
        EXPECT_DOUBLE_EQ(fields[k], 0.5 * next++) << k;
    }
  }
}

TEST(GridWriter, AGridWithoutRowsHasOnlyItsHeader) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  raw_array2d<int> index;
  index.allocate(1, 1);
  file_handle out;
  ASSERT_TRUE(file_handle_open(out, "none.asc", "w"));
  write_ascii_grid(out, index, 10.0, 0.0, 10.0, 0.0, 0, 1, nullptr, 10.0);
  write_grass_grid(out, index, 10.0, 0.0, 10.0, 0.0, 0, 1, nullptr);
  file_handle_close(out);
  const std::string text = read_file("none.asc");
  int lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 12);
}

// The fast formatting gives printf's text for every width and precision the writers use.
TEST(GridWriter, FixedFormattingMatchesPrintf) {
  const double samples[] = {0.0,          -0.0,     1.0,  -1.0,  0.00005,   0.00015,   2.5e-7,
                            123456.78949, -9999.99, 1e20, 0.125, 1.0 / 3.0, -2.0 / 3.0};
  const int forms[][2] = {{6, 4}, {0, 6}, {6, 5}, {12, 6}, {14, 8}, {16, 8}};
  for (double v : samples)
    for (const auto& f : forms) {
      char expected[400];
      snprintf(expected, sizeof expected, "%*.*f", f[0], f[1], v);
      std::string got;
      append_fixed(got, v, f[0], f[1]);
      EXPECT_EQ(got, expected) << v << " %" << f[0] << "." << f[1];
    }
}

}  // namespace
