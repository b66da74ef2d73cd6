// The ASCII grid map reader: the header and its size checks, the four storage modes, the
// zero-value warnings and category counts, and the faults of a bad map (a value that is no
// number, a short row, an early end, a category outside the table), each stopping with its
// message and the fatal flag, never with a wrong value.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "input/ascii_grid.h"
#include "input/replacement.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// The header of a map of `rows` x `cols` cells between north 100, south 0, east 200 and west 0,
// its first line opened by `north_word`.
std::string header(int rows, int cols, const std::string& north_word = "north:") {
  return north_word + torva_test::grid_header(rows, cols, 100.0, 0.0, 200.0, 0.0).substr(6);
}

class AsciiGrid : public ::testing::Test {
 protected:
  // An index grid of rows x cols (with the zero border) whose non-zero positions are the given
  // ones, numbered row by row, one text row per grid row ("1 0 1").
  void set_mask(const std::vector<std::string>& rows) {
    const int nr = static_cast<int>(rows.size());
    int nc = 0;
    for (char ch : rows[0])
      if (ch != ' ') ++nc;
    ASSERT_TRUE(grid_.allocate(nr + 1, nc + 1));
    int number = 0;
    for (int r = 1; r <= nr; ++r) {
      int c = 1;
      for (char ch : rows[static_cast<std::size_t>(r - 1)]) {
        if (ch == ' ') continue;
        grid_[r][c++] = ch == '0' ? 0 : ++number;
      }
    }
  }

  // Writes `text` as map.asc, reads it in `mode` against the expected size and returns what
  // the reader printed.
  std::string read(const std::string& text, int mode, int expected_rows, int expected_cols) {
    write_file(dir_.file("map.asc"), text);
    file_handle h;
    EXPECT_TRUE(file_handle_open(h, dir_.file("map.asc").c_str(), "r"));
    stdout_capture capture;
    read_ascii_map(h, "map.asc", mode, north_, south_, east_, west_, rows_, cols_, grid_, &first_,
                   &second_, &ids_, expected_rows, expected_cols);
    return capture.stop();
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
  raw_array2d<int> grid_;
  raw_array1d<double> first_;
  raw_array1d<double> second_;
  raw_array1d<int> ids_;
  double north_ = -1.0, south_ = -1.0, east_ = -1.0, west_ = -1.0;
  int rows_ = -1, cols_ = -1;
};

TEST_F(AsciiGrid, ModesOneAndThreeStoreTheWatershedCellsInRowOrder) {
  set_mask({"1 0 1", "0 1 1"});  // 4 watershed cells of 6 positions
  for (int mode : {1, 3}) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(first_.allocate(4));
    ASSERT_TRUE(second_.allocate(4));
    const std::string out = read(header(2, 3) + "1.5 -2 3e2\n4 0.25 +6\n", mode, 2, 3);
    EXPECT_EQ(run_error.error_fatal, 0);
    EXPECT_EQ(out, "");
    EXPECT_DOUBLE_EQ(north_, 100.0);
    EXPECT_DOUBLE_EQ(south_, 0.0);
    EXPECT_DOUBLE_EQ(east_, 200.0);
    EXPECT_DOUBLE_EQ(west_, 0.0);
    EXPECT_EQ(rows_, 2);
    EXPECT_EQ(cols_, 3);
    const raw_array1d<double>& filled = mode == 1 ? first_ : second_;
    const raw_array1d<double>& untouched = mode == 1 ? second_ : first_;
    const double expected[] = {1.5, 300.0, 0.25, 6.0};
    for (int k = 1; k <= 4; ++k) {
      EXPECT_DOUBLE_EQ(filled[k], expected[k - 1]) << k;
      EXPECT_DOUBLE_EQ(untouched[k], 0.0) << k;
    }
  }
}

TEST_F(AsciiGrid, ModeTwoStoresEveryPositionFreeFormAndModeFourCountsCategories) {
  set_mask({"1 0 1", "0 1 1"});
  // Mode 2: the line layout does not matter; every position is stored, the border stays 0.
  std::string out = read(header(2, 3) + "7 0\n-9999\n3\n\n 4 5\n", 2, 2, 3);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(out, "");
  const int grid[3][4] = {{0, 0, 0, 0}, {0, 7, 0, -9999}, {0, 3, 4, 5}};
  for (int r = 0; r <= 2; ++r)
    for (int c = 0; c <= 3; ++c) EXPECT_EQ(grid_[r][c], grid[r][c]) << r << "," << c;
  EXPECT_EQ(grid_[3][4], 0);

  // Mode 4 against a mask: only the watershed cells are stored and counted; the value outside
  // the watershed (-9999) is not a category.
  set_mask({"1 0 1", "0 1 1"});
  ASSERT_TRUE(ids_.allocate(4));
  out = read(header(2, 3) + "2 -9999 10000\n0 2 2\n", 4, 2, 3);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(ids_[1], 2);
  EXPECT_EQ(ids_[2], 10000);
  EXPECT_EQ(ids_[3], 2);
  EXPECT_EQ(ids_[4], 2);
  EXPECT_EQ(out,
            "In map map.asc category 2 has 3 values\n"
            "In map map.asc category 10000 has 1 values\n");

  // A second map reports only its own counts.
  out = read(header(2, 3) + "5 0 5\n0 0 1\n", 4, 2, 3);
  EXPECT_EQ(out,
            "In map map.asc category 1 has 1 values\n"
            "In map map.asc category 5 has 2 values\n");
}

TEST_F(AsciiGrid, HeaderWordsAreNotTestedAndWindowsLineEndsRead) {
  set_mask({"1 1"});
  ASSERT_TRUE(first_.allocate(2));
  std::string out = read(header(1, 2, "NORTH") + "1 2\n", 1, 1, 2);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_DOUBLE_EQ(north_, 100.0);
  EXPECT_DOUBLE_EQ(first_[2], 2.0);

  out = read("north: 5\r\nsouth: 0\r\neast: 5\r\nwest: 0\r\nrows: 1\r\ncols: 2\r\n8.5 9.5\r\n", 1,
             1, 2);
  EXPECT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_DOUBLE_EQ(first_[1], 8.5);
  EXPECT_DOUBLE_EQ(first_[2], 9.5);
  out =
      read("north: 5\r\nsouth: 0\r\neast: 5\r\nwest: 0\r\nrows: 1\r\ncols: 2\r\n1 0\r\n", 2, 1, 2);
  EXPECT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(grid_[1][1], 1);
  EXPECT_EQ(grid_[1][2], 0);
}

TEST_F(AsciiGrid, SizeFaultsStopBeforeAnyValueIsStored) {
  struct size_case {
    const char* what;
    int rows, cols;  // of the header; the project has 2 x 3
    const char* message;
  };
  const size_case cases[] = {
      {"rows", 3, 3, "Incorrect number of rows in map: map.asc\n"},
      {"cols", 2, 4, "Incorrect number of columns in map: map.asc\n"},
      {"both", 11, 4, "Incorrect number of rows and columns in map: map.asc\n"},
  };
  for (const size_case& sc : cases) {
    SCOPED_TRACE(sc.what);
    run_error = error_state{};
    set_mask({"1 1 1", "1 1 1"});
    ASSERT_TRUE(first_.allocate(6));
    std::fill_n(first_.data(), first_.element_count(), -1.0);
    std::string values;
    for (int i = 0; i < sc.rows; ++i) values += "1 2 3 4\n";
    const std::string out = read(header(sc.rows, sc.cols) + values, 1, 2, 3);
    EXPECT_EQ(out, std::string(sc.message) + "\n");
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_EQ(run_error.error_code, 0);  // reported at once
    for (int k = 1; k <= 6; ++k) EXPECT_DOUBLE_EQ(first_[k], -1.0);
  }

  // A header of no rows (or negative columns) is no grid, even where the project says so.
  for (const auto& [rows, cols] : {std::pair{0, 3}, std::pair{2, -3}}) {
    run_error = error_state{};
    set_mask({"1 1 1", "1 1 1"});
    const std::string out = read(header(rows, cols), 2, rows, cols);
    EXPECT_TRUE(contains(out, "a map needs at least one of each")) << out;
    EXPECT_EQ(run_error.error_fatal, 1);
  }
}

TEST_F(AsciiGrid, UnreadableHeaderLinesAndEmptyFilesStop) {
  set_mask({"1 1"});
  std::string out =
      read("north: 1\nsouth: 0\neast: 1\nwest: 0\nrows: many\ncols: 2\n1 1\n", 2, 1, 2);
  EXPECT_EQ(out, "Error: unreadable header line 5 in map map.asc\n\n");
  EXPECT_EQ(run_error.error_fatal, 1);

  run_error = error_state{};
  out = read("", 2, 1, 2);
  EXPECT_EQ(out, "Unexpected end of file in file: map.asc\n\n");
  EXPECT_EQ(run_error.error_fatal, 1);
}

TEST_F(AsciiGrid, AValueThatIsNoNumberIsAnErrorNamingItsPlace) {
  struct bad_case {
    int mode;
    const char* values;  // 2 x 3
    const char* message;
  };
  const bad_case cases[] = {
      {1, "1 2 3\n4 abc 6\n", "Error: bad value \"abc\" in map map.asc at row 2 column 2\n"},
      {1, "1 2 3.5x\n4 5 6\n", "Error: bad value \"3.5x\" in map map.asc at row 1 column 3\n"},
      {3, "1 2 3\n4 5 1e\n", "Error: bad value \"1e\" in map map.asc at row 2 column 3\n"},
      {2, "1 0 1\n1.0 1 1\n", "Error: bad value \"1.0\" in map map.asc at row 2 column 1\n"},
      {2, "1 0 x\n1 1 1\n", "Error: bad value \"x\" in map map.asc at row 1 column 3\n"},
      {4, "1 2 3\n4 5 99999999999\n",
       "Error: bad value \"99999999999\" in map map.asc at row 2 column 3\n"},
  };
  for (const bad_case& bc : cases) {
    SCOPED_TRACE(bc.values);
    run_error = error_state{};
    set_mask({"1 1 1", "1 1 1"});
    ASSERT_TRUE(first_.allocate(6));
    ASSERT_TRUE(second_.allocate(6));
    ASSERT_TRUE(ids_.allocate(6));
    const std::string out = read(header(2, 3) + bc.values, bc.mode, 2, 3);
    EXPECT_EQ(out, std::string(bc.message) + "\n");
    EXPECT_EQ(run_error.error_fatal, 1);
  }
  // The values before the fault stay stored; nothing after it is invented.
  EXPECT_EQ(ids_[5], 5);
  EXPECT_EQ(ids_[6], 0);
}

TEST_F(AsciiGrid, ShortRowsAndEarlyEndsAreErrors) {
  struct end_case {
    int mode;
    const char* values;  // 2 x 3
    const char* message;
  };
  const end_case cases[] = {
      // A row of doubles split over two lines is short; the next line does not complete it.
      {1, "1 2\n3\n4 5 6\n", "Error: row 1 of map map.asc holds 2 values where 3 are expected\n"},
      {3, "1 2 3\n\n4 5 6\n", "Error: row 2 of map map.asc holds 0 values where 3 are expected\n"},
      // The last row missing, with and without a newline after the row before it.
      {1, "1 2 3\n", "Unexpected end of file in file: map.asc\n"},
      {1, "1 2 3", "Unexpected end of file in file: map.asc\n"},
      {2, "1 2 3\n4 5\n", "Unexpected end of file in file: map.asc\n"},
      {4, "1 2 3\n", "Unexpected end of file in file: map.asc\n"},
  };
  for (const end_case& ec : cases) {
    SCOPED_TRACE(ec.values);
    run_error = error_state{};
    set_mask({"1 1 1", "1 1 1"});
    ASSERT_TRUE(first_.allocate(6));
    ASSERT_TRUE(second_.allocate(6));
    ASSERT_TRUE(ids_.allocate(6));
    const std::string out = read(header(2, 3) + ec.values, ec.mode, 2, 3);
    EXPECT_EQ(out, std::string(ec.message) + "\n");
    EXPECT_EQ(run_error.error_fatal, 1);
  }
}

TEST_F(AsciiGrid, CategoriesOutsideTheTableAreErrorsInsideTheWatershed) {
  for (const char* id : {"10001", "-1"}) {
    SCOPED_TRACE(id);
    run_error = error_state{};
    set_mask({"1 1", "0 1"});
    ASSERT_TRUE(ids_.allocate(3));
    const std::string out = read(header(2, 2) + "1 " + id + "\n" + id + " 1\n", 4, 2, 2);
    EXPECT_EQ(out, "Error: category " + std::string(id) +
                       " in map map.asc at row 1 column 2 is outside 0 to 10000\n\n");
    EXPECT_EQ(run_error.error_fatal, 1);
  }
}

TEST_F(AsciiGrid, ZeroValueWarnings) {
  set_mask({"1 0", "1 1"});
  ASSERT_TRUE(first_.allocate(3));
  std::string out = read(header(2, 2) + "0 0\n0.0 -0\n", 1, 2, 2);
  EXPECT_EQ(out,
            "Warning: Map contains only zero values. Map: map.asc\n"
            "Warning: Map contains 3 cells with zero values. Map: map.asc\n");
  EXPECT_EQ(run_error.error_fatal, 0);

  // A non-zero value outside the watershed still counts as one; the zero cells are counted.
  out = read(header(2, 2) + "0 5\n1 0\n", 1, 2, 2);
  EXPECT_EQ(out, "Warning: Map contains 2 cells with zero values. Map: map.asc\n");

  // Integer maps warn of only zeros but count no zero cells.
  out = read(header(2, 2) + "0 0 0 0\n", 2, 2, 2);
  EXPECT_EQ(out, "Warning: Map contains only zero values. Map: map.asc\n");
}

TEST_F(AsciiGrid, RowsOfThousandsOfColumnsReadExactly) {
  const int cols = 5000;
  ASSERT_TRUE(grid_.allocate(2, cols + 1));
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= cols; ++c) grid_[r][c] = (r - 1) * cols + c;
  ASSERT_TRUE(first_.allocate(2 * cols));

  // Values of many digits and forms, the row far longer than any fixed line buffer.
  std::string text = header(2, cols);
  std::vector<std::string> tokens;
  for (int r = 1; r <= 2; ++r) {
    for (int c = 1; c <= cols; ++c) {
      char token[64];
      const double v = (c % 7 == 0 ? -1.0 : 1.0) * (1234.56789012345 + c * 0.001953125 + r) /
                       (c % 3 == 0 ? 1e6 : 1.0);
      snprintf(token, sizeof token, c % 5 == 0 ? "%.17g" : (c % 5 == 1 ? "%+.9e" : "%.6f"), v);
      tokens.push_back(token);
      text += token;
      text += c % 11 == 0 ? "," : (c % 13 == 0 ? "\t" : " ");
    }
    text += "\n";
  }
  ASSERT_GT(text.size(), 2u * 60000u);
  const std::string out = read(text, 1, 2, cols);
  EXPECT_EQ(out, "");
  ASSERT_EQ(run_error.error_fatal, 0);
  for (int k = 1; k <= 2 * cols; ++k) {
    const double expected = strtod(tokens[static_cast<std::size_t>(k - 1)].c_str(), nullptr);
    ASSERT_EQ(first_[k], expected) << "cell " << k << " token " << tokens[k - 1];
  }
}

TEST_F(AsciiGrid, ReplacementAppliesToMapsOfDoublesOnly) {
  {
    stdout_capture quiet;
    ASSERT_EQ(parse_replace_param_line("[KS] \"%4.1lf\""), 0);
  }
  replace_list->param_dvalue = 2.5;
  replace_switch_on();
  set_mask({"1 1"});
  ASSERT_TRUE(first_.allocate(2));
  std::string out = read(header(1, 2) + "[KS] 1\n", 1, 1, 2);
  EXPECT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_DOUBLE_EQ(first_[1], 2.5);
  EXPECT_DOUBLE_EQ(first_[2], 1.0);

  // Mode 2 reads no replacement: the tag is a bad value there.
  out = read(header(1, 2) + "[KS] 1\n", 2, 1, 2);
  EXPECT_TRUE(contains(out, "Error: bad value \"[KS]\" in map map.asc at row 1 column 1\n")) << out;
  EXPECT_EQ(run_error.error_fatal, 1);
}

TEST_F(AsciiGrid, MissingHandlesAndSmallDestinationsStopWithoutAWrite) {
  set_mask({"1 1", "1 1"});
  file_handle closed;
  {
    stdout_capture capture;
    read_ascii_map(closed, "gone.asc", 1, north_, south_, east_, west_, rows_, cols_, grid_,
                   &first_, nullptr, nullptr, 2, 2);
    EXPECT_EQ(capture.stop(), "Error: map gone.asc is not open for reading\n\n");
  }
  EXPECT_EQ(run_error.error_fatal, 1);

  // Four watershed cells against a destination of three; a missing destination alike.
  run_error = error_state{};
  ASSERT_TRUE(first_.allocate(3));
  std::fill_n(first_.data(), first_.element_count(), -1.0);
  std::string out = read(header(2, 2) + "1 2\n3 4\n", 1, 2, 2);
  EXPECT_EQ(out, "Error: map map.asc has 4 watershed cells but its destination holds 3\n\n");
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_DOUBLE_EQ(first_[3], -1.0);

  run_error = error_state{};
  write_file(dir_.file("map.asc"), header(2, 2) + "1 2\n3 4\n");
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, dir_.file("map.asc").c_str(), "r"));
  {
    stdout_capture capture;
    read_ascii_map(h, "map.asc", 4, north_, south_, east_, west_, rows_, cols_, grid_, nullptr,
                   nullptr, nullptr, 2, 2);
    EXPECT_EQ(capture.stop(),
              "Error: map map.asc has 4 watershed cells but its destination holds 0\n\n");
  }
  EXPECT_EQ(run_error.error_fatal, 1);

  // A grid without watershed cells needs no destination: the map is read and nothing stored.
  run_error = error_state{};
  set_mask({"0 0", "0 0"});
  file_handle none;
  ASSERT_TRUE(file_handle_open(none, dir_.file("map.asc").c_str(), "r"));
  {
    stdout_capture capture;
    read_ascii_map(none, "map.asc", 1, north_, south_, east_, west_, rows_, cols_, grid_, nullptr,
                   nullptr, nullptr, 2, 2);
    EXPECT_EQ(capture.stop(), "");
  }
  EXPECT_EQ(run_error.error_fatal, 0);
}

}  // namespace
