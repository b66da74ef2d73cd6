// Parameter tables and index maps: a table's values reach the watershed cells through the ids of
// its index map (ids without a row reading 0.0), the PRECIP_CONC line of the nutrient tables, the
// category counts, the checks of the index map against the project grid and the table, and the
// faults of the table's rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/mapping_tables.h"
#include "input/parameter_tables.h"
#include "input/stream_tables.h"
#include "input/time_series.h"
#include "support/table_fixtures.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::small_index_map;
using torva_test::stdout_capture;
using torva_test::table_file;
using torva_test::table_row;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

const std::string& magic = torva_test::table_file_magic;
const std::string& column_header = torva_test::table_column_header;

class ParameterTables : public testing::Test {
 protected:
  void SetUp() override {
    // The watershed: 1 1 0 / 1 1 1, cells numbered row by row.
    ms_ = std::make_unique<model_state>();
    torva_test::set_small_watershed(*ms_);
    copy_text(ms_->input.names.mapping_table, sizeof ms_->input.names.mapping_table, "t.cmt");
    for (auto& out : outputs_) {
      out.allocate(5);
      std::fill_n(out.data(), out.element_count(), -1.0);  // so that every write shows
    }
  }
  // read_map_table of `id` into the outputs of the listed columns; `out` gets what was printed.
  int read(int id, const std::vector<int>& columns, std::string* out = nullptr, int k = 0,
           double* precip = nullptr) {
    table_columns wanted{};
    for (int c : columns) wanted[static_cast<std::size_t>(c - 1)] = &outputs_[c - 1];
    stdout_capture capture;
    const int result = read_map_table(*ms_, id, wanted, k, precip);
    const std::string printed = capture.stop();
    if (out != nullptr) *out = printed;
    return result;
  }

  std::vector<double> column(int c) const {
    const raw_array1d<double>& a = outputs_[c - 1];
    return std::vector<double>(a.data() + 1, a.data() + 6);
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder and the state
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
  raw_array1d<double> outputs_[7];
};

using values = std::vector<double>;

TEST_F(ParameterTables, ValuesReachTheCellsThroughTheirIds) {
  write_file(
      dir_.file("t.cmt"),
      table_file("INTERCEPTION", 4,
                 table_row(1, "1.5 10") + table_row(2, "2.5\t20") + table_row(5, "5.5 50 ignored") +
                     table_row(2, "2.75 22", "repeated id: the later row wins")));
  // Outside the watershed (row 1, column 3) any id is read and ignored.
  write_file(dir_.file("lu.idx"), small_index_map("5 2 999\n1 1 2\n"));
  file_handle summary;
  ASSERT_TRUE(file_handle_open(summary, "sum.out", "w"));
  ms_->output.summary_file.fp = summary.fp;
  std::string out;
  ASSERT_EQ(read(map_table_interception, {1, 2}, &out), 1) << out;
  ms_->output.summary_file.fp = nullptr;
  file_handle_close(summary);

  EXPECT_EQ(column(1), (values{5.5, 2.75, 1.5, 1.5, 2.75}));
  EXPECT_EQ(column(2), (values{50, 22, 10, 10, 22}));
  EXPECT_EQ(outputs_[0][0], -1.0);  // element 0 is no cell
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_DOUBLE_EQ(ms_->map_north, 100.0);
  EXPECT_DOUBLE_EQ(ms_->map_south, 40.0);
  EXPECT_DOUBLE_EQ(ms_->map_east, 190.0);
  EXPECT_DOUBLE_EQ(ms_->map_west, 100.0);
  EXPECT_EQ(ms_->map_rows, 2);
  EXPECT_EQ(ms_->map_cols, 3);

  const std::string counts =
      "In map lu.idx category 1 has 2 values\nIn map lu.idx category 2 has 2 values\n"
      "In map lu.idx category 5 has 1 values\n";
  EXPECT_NE(out.find(counts), std::string::npos) << out;
  EXPECT_NE(read_file(dir_.file("sum.out")).find(counts), std::string::npos);
  EXPECT_EQ(ts_index_loaded, 1);  // the series index was looked for first

  // Only the columns asked for are written.
  for (auto& o : outputs_) std::fill_n(o.data(), o.element_count(), -1.0);
  ASSERT_EQ(read(map_table_interception, {2}), 1);
  EXPECT_EQ(column(1), (values(5, -1.0)));
  EXPECT_EQ(column(2), (values{50, 22, 10, 10, 22}));
}

TEST_F(ParameterTables, EveryColumnOfAWideTable) {
  std::string rows;
  for (int id = 1; id <= 2; ++id) {
    std::string v;
    for (int c = 1; c <= 7; ++c) v += std::to_string(id * 10 + c) + " ";
    rows += table_row(id, v);
  }
  write_file(dir_.file("t.cmt"), table_file("GREEN_AMPT_INFILTRATION", 2, rows));
  write_file(dir_.file("lu.idx"), small_index_map("1 2 0\n2 2 1\n"));
  ASSERT_EQ(read(map_table_green_ampt, {1, 2, 3, 4, 5, 6, 7}), 1);
  for (int c = 1; c <= 7; ++c) {
    const double a = 10 + c;
    const double b = 20 + c;
    EXPECT_EQ(column(c), (values{a, b, b, b, a})) << "column " << c;
  }
}

TEST_F(ParameterTables, PrecipitationConcentrationsOfANutrientTable) {
  write_file(dir_.file("lu.idx"), small_index_map("1 1 1\n2 2 2\n"));
  const std::string rows = table_row(1, "1 2 3 4") + table_row(2, "5 6 7 8");
  double precip[5] = {-1, -1, -1, -1, -1};

  write_file(dir_.file("t.cmt"),
             table_file("NSM_N", 2, rows, "PRECIP_CONC 0.5 1.5 2.5 3.5\n" + column_header));
  ASSERT_EQ(read(map_table_nsm_n, {1, 4}, nullptr, 4, precip), 1);
  EXPECT_EQ((values(precip, precip + 5)), (values{-1, 0.5, 1.5, 2.5, 3.5}));
  EXPECT_EQ(column(1), (values{1, 1, 5, 5, 5}));
  EXPECT_EQ(column(4), (values{4, 4, 8, 8, 8}));

  // Without the line the array is left alone and the rows are read as usual.
  double untouched[5] = {-1, -1, -1, -1, -1};
  write_file(dir_.file("t.cmt"), table_file("NSM_N", 2, rows));
  ASSERT_EQ(read(map_table_nsm_n, {4}, nullptr, 4, untouched), 1);
  EXPECT_EQ((values(untouched, untouched + 5)), (values(5, -1.0)));
  EXPECT_EQ(column(4), (values{4, 4, 8, 8, 8}));

  // A line with fewer numbers than asked for gives 0.0 for those it lacks; the rows follow.
  double short_line[5] = {-1, -1, -1, -1, -1};
  write_file(dir_.file("t.cmt"),
             table_file("NSM_N", 2, rows, "PRECIP_CONC 0.5 1.5\n" + column_header));
  std::string out;
  ASSERT_EQ(read(map_table_nsm_n, {2}, &out, 4, short_line), 1) << out;
  EXPECT_EQ((values(short_line, short_line + 5)), (values{-1, 0.5, 1.5, 0, 0}));
  EXPECT_EQ(column(2), (values{2, 2, 6, 6, 6}));
  EXPECT_EQ(run_error.error_fatal, 0);

  // A value that is not a number stops the run.
  write_file(dir_.file("t.cmt"),
             table_file("NSM_N", 2, rows, "PRECIP_CONC 0.5 1.5 x\n" + column_header));
  EXPECT_EQ(read(map_table_nsm_n, {1}, &out, 4, precip), 0);
  EXPECT_NE(out.find("Error: the PRECIP_CONC line of table NSM_N in mapping table file t.cmt "
                     "holds a value that is not a number\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(run_error.error_fatal, 1);
}

// A row whose values end early, even one that ends before character 87, gives 0.0 for the values
// it lacks; the rows after it are read as usual.
TEST_F(ParameterTables, RowsShortOfValuesGiveZeroForWhatTheyLack) {
  write_file(dir_.file("t.cmt"), table_file("INTERCEPTION", 4,
                                            table_row(1, "1.5") + "     2 no values here\n" +
                                                table_row(3, "") + table_row(4, "4.5 40")));
  write_file(dir_.file("lu.idx"), small_index_map("1 2 0\n3 4 4\n"));
  std::string out;
  ASSERT_EQ(read(map_table_interception, {1, 2}, &out), 1) << out;
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(column(1), (values{1.5, 0, 0, 4.5, 4.5}));
  EXPECT_EQ(column(2), (values{0, 0, 0, 40, 40}));
}

TEST_F(ParameterTables, FaultsOfTheFileAndTheTableStopTheRun) {
  const std::string good_rows = table_row(1, "0.1") + table_row(2, "0.2") + table_row(5, "0.5");
  struct fault_case {
    const char* what;
    std::string table;  // mapping-table file text; empty: no file
    std::string index;  // index map text; empty: no file
    const char* message;
  };
  const fault_case cases[] = {
      {"no mapping-table file", "", small_index_map("1 1 1\n1 1 1\n"),
       "Unable to open Mapping Table file: t.cmt\n"},
      {"no such table", magic + "INDEX_MAP lu.idx Land use\nRETENTION Land use\nNUM_IDS 1\n",
       small_index_map("1 1 1\n1 1 1\n"),
       "Problem reading mapping table file -- no entries found in table ROUGHNESS (NUM_IDS is "
       "0)\n"},
      {"a header without its index-map line",
       magic + "INDEX_MAP lu.idx Land\nROUGHNESS Land use\nNUM_IDS 3\n" + column_header + good_rows,
       small_index_map("1 1 1\n1 1 1\n"), "no entries found in table ROUGHNESS (NUM_IDS is 0)\n"},
      {"a count of 0", table_file("ROUGHNESS", 0, good_rows), small_index_map("1 1 1\n1 1 1\n"),
       "no entries found in table ROUGHNESS (NUM_IDS is 0)\n"},
      {"no count line",
       magic + "INDEX_MAP lu.idx Land use\nROUGHNESS Land use\n" + column_header + good_rows,
       small_index_map("1 1 1\n1 1 1\n"), "no entries found in table ROUGHNESS (NUM_IDS is 0)\n"},
      {"fewer rows than the count", table_file("ROUGHNESS", 4, good_rows),
       small_index_map("1 1 1\n1 1 1\n"),
       "Error: table ROUGHNESS of mapping table file t.cmt ends after 3 of its 4 rows\n"},
      {"a count far beyond the rows present", table_file("ROUGHNESS", 2000000000, good_rows),
       small_index_map("1 1 1\n1 1 1\n"),
       "Error: table ROUGHNESS of mapping table file t.cmt ends after 3 of its 2000000000 rows\n"},
      {"the next table where a row should be",
       table_file("ROUGHNESS", 4, good_rows + "RETENTION Land use\nNUM_IDS 1\n"),
       small_index_map("1 1 1\n1 1 1\n"),
       "Error: row 4 of table ROUGHNESS in mapping table file t.cmt has no id in its first six "
       "characters\n"},
      {"a row with the id 0",
       table_file("ROUGHNESS", 3, table_row(1, "0.1") + table_row(0, "0.2") + table_row(5, "0.5")),
       small_index_map("1 1 1\n1 1 1\n"),
       "Error: row 2 of table ROUGHNESS in mapping table file t.cmt has the id 0; ids are 1 or "
       "more\n"},
      {"a negative row id", table_file("ROUGHNESS", 1, table_row(-3, "0.1")),
       small_index_map("1 1 1\n1 1 1\n"), "has the id -3; ids are 1 or more\n"},
      {"a value that is not a number",
       table_file("ROUGHNESS", 2, table_row(1, "0.1") + table_row(2, "n/a")),
       small_index_map("1 1 1\n1 1 1\n"),
       "Error: row 2 (id 2) of table ROUGHNESS in mapping table file t.cmt holds a value that is "
       "not a number (values from character 87 on)\n"},
      {"no index map", table_file("ROUGHNESS", 3, good_rows), "",
       "Unable to open index file lu.idx\n"},
      {"a watershed cell without an id", table_file("ROUGHNESS", 3, good_rows),
       small_index_map("1 0 1\n1 1 1\n"),
       "Error: the watershed cell at row 1 column 2 of index map lu.idx has the id 0; the ids of "
       "table ROUGHNESS in mapping table file t.cmt begin at 1\n"},
  };
  for (const fault_case& c : cases) {
    run_error = error_state{};
    ts_free_all();
    std::remove(dir_.file("t.cmt").c_str());
    std::remove(dir_.file("lu.idx").c_str());
    if (!c.table.empty()) write_file(dir_.file("t.cmt"), c.table);
    if (!c.index.empty()) write_file(dir_.file("lu.idx"), c.index);
    for (auto& o : outputs_) std::fill_n(o.data(), o.element_count(), -1.0);
    std::string out;
    EXPECT_EQ(read(map_table_roughness, {1}, &out), 0) << c.what;
    EXPECT_NE(out.find(c.message), std::string::npos) << c.what << "\n" << out;
    EXPECT_EQ(run_error.error_fatal, 1) << c.what;
    EXPECT_EQ(run_error.error_code, 0) << c.what;       // reported at once
    EXPECT_EQ(column(1), (values(5, -1.0))) << c.what;  // nothing assigned
  }
}

// A watershed cell whose id has no row of its own (below the first row id or between two) reads
// 0.0 in every column; its category count is printed as any other and the run goes on.
TEST_F(ParameterTables, IdsWithoutARowReadZeroInEveryColumn) {
  struct gap_case {
    const char* what;
    const char* keyword;
    int table_id;
    std::string rows;
    int count;
    std::string ids;               // index map rows of the small grid
    std::vector<int> columns;      // the columns asked for
    std::vector<values> expected;  // per column asked for: cells 1..5
    const char* category;          // the count line of the id without a row
  };
  const gap_case cases[] = {
      {"an id between the rows",
       "ROUGHNESS",
       map_table_roughness,
       table_row(1, "0.1") + table_row(2, "0.2") + table_row(5, "0.5"),
       3,
       "1 2 0\n3 5 5\n",
       {1},
       {values{0.1, 0.2, 0.0, 0.5, 0.5}},
       "In map lu.idx category 3 has 1 values\n"},
      {"an id below the first row",
       "RETENTION",
       map_table_retention,
       table_row(2, "7.5") + table_row(4, "9.5"),
       2,
       "2 1 8\n1 4 2\n",
       {1},
       {values{7.5, 0.0, 0.0, 9.5, 7.5}},
       "In map lu.idx category 1 has 2 values\n"},
      {"every column of a two-column table",
       "INTERCEPTION",
       map_table_interception,
       table_row(1, "1.5 10") + table_row(5, "5.5 50"),
       2,
       "3 1 0\n5 3 3\n",
       {1, 2},
       {values{0.0, 1.5, 5.5, 0.0, 0.0}, values{0.0, 10, 50, 0.0, 0.0}},
       "In map lu.idx category 3 has 3 values\n"},
      {"the last column of a seven-column table",
       "GREEN_AMPT_INFILTRATION",
       map_table_green_ampt,
       table_row(4, "1 2 3 4 5 6 7"),
       1,
       "4 2 0\n4 4 3\n",
       {7},
       {values{7, 0.0, 7, 7, 0.0}},
       "In map lu.idx category 2 has 1 values\n"},
  };
  for (const gap_case& c : cases) {
    SCOPED_TRACE(c.what);
    run_error = error_state{};
    ts_free_all();
    write_file(dir_.file("t.cmt"), table_file(c.keyword, c.count, c.rows));
    write_file(dir_.file("lu.idx"), small_index_map(c.ids));
    for (auto& o : outputs_) std::fill_n(o.data(), o.element_count(), -1.0);
    std::string out;
    ASSERT_EQ(read(c.table_id, c.columns, &out), 1) << out;
    EXPECT_EQ(run_error.error_fatal, 0) << out;
    EXPECT_NE(out.find(c.category), std::string::npos) << out;
    std::size_t i = 0;
    for (int col : c.columns) EXPECT_EQ(column(col), c.expected[i++]) << "column " << col;
  }
}

TEST_F(ParameterTables, IndexMapFaultsKeepTheValuesReadSoFar) {
  write_file(
      dir_.file("t.cmt"),
      table_file("ROUGHNESS", 3, table_row(1, "0.1") + table_row(2, "0.2") + table_row(5, "0.5")));
  struct map_case {
    const char* what;
    std::string index;
    const char* message;
    values assigned;
    int value1;
    int value2;
  };
  const map_case cases[] = {
      {"an id above the table's largest", small_index_map("2 1 0\n5 6 1\n"),
       "Index ID exceeds table limit, file: lu.idx [row 2:col 2]\n", values{0.2, 0.1, 0.5, -1, -1},
       2, 2},
      {"the map ends early", small_index_map("1 2 9\n5"),
       "Unexpected end of file in file: lu.idx\n", values{0.1, 0.2, 0.5, -1, -1}, 0, 0},
      {"another row count", small_index_map("1 1 1\n1 1 1\n1 1 1\n", 3, 3),
       "Incorrect number of rows in map: lu.idx\n", values(5, -1.0), 0, 0},
      {"another column count", small_index_map("1 1\n1 1\n", 2, 2),
       "Incorrect number of columns in map: lu.idx\n", values(5, -1.0), 0, 0},
      {"another size", small_index_map("1\n", 1, 1),
       "Incorrect number of rows and columns in map: lu.idx\n", values(5, -1.0), 0, 0},
      {"a negative watershed id", small_index_map("1 1 1\n-1 1 1\n"),
       "Error: the watershed cell at row 2 column 1 of index map lu.idx has the negative id -1\n",
       values{0.1, 0.1, -1, -1, -1}, 0, 0},
      {"an id that is not a number", small_index_map("1 1 1\n1 1.5 1\n"),
       "Error: \"1.5\" at row 2 column 2 of index map lu.idx is not an id\n",
       values{0.1, 0.1, 0.1, -1, -1}, 0, 0},
      {"an unreadable header", "north: 1\nsouth: 0\neast: x\n",
       "Error: line 3 of the header of index map lu.idx cannot be read\n", values(5, -1.0), 0, 0},
      {"a header that ends early", "north: 1\nsouth: 0\n",
       "Unexpected end of file in file: lu.idx\n", values(5, -1.0), 0, 0},
  };
  for (const map_case& c : cases) {
    run_error = error_state{};
    error_value1 = error_value2 = 0;
    write_file(dir_.file("lu.idx"), c.index);
    for (auto& o : outputs_) std::fill_n(o.data(), o.element_count(), -1.0);
    std::string out;
    EXPECT_EQ(read(map_table_roughness, {1}, &out), 1) << c.what;
    EXPECT_NE(out.find(c.message), std::string::npos) << c.what << "\n" << out;
    EXPECT_EQ(out.find("category"), std::string::npos) << c.what;  // no counts after a fault
    EXPECT_EQ(run_error.error_fatal, 1) << c.what;
    EXPECT_EQ(column(1), c.assigned) << c.what;
    EXPECT_EQ(error_value1, c.value1) << c.what;
    EXPECT_EQ(error_value2, c.value2) << c.what;
  }
  // The same id outside the watershed is accepted.
  run_error = error_state{};
  write_file(dir_.file("lu.idx"), small_index_map("2 1 6\n5 5 1\n"));
  EXPECT_EQ(read(map_table_roughness, {1}), 1);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(column(1), (values{0.2, 0.1, 0.5, 0.5, 0.1}));
}

TEST_F(ParameterTables, WindowsLineEndsAndTheSeriesIndexOfTheSameFile) {
  time_series* s = ts_create();
  copy_text(s->name, sizeof s->name, "gate");
  std::string text = table_file("OVERLAND_BOUNDARY", 2, table_row(1, "0 0") + table_row(2, "3 1")) +
                     "TIME_SERIES_INDEX x\nNUM_IDS 1\nID NAME\n     1 gate\n";
  std::string crlf;
  for (char ch : text) {
    if (ch == '\n') crlf += '\r';
    crlf += ch;
  }
  write_file(dir_.file("t.cmt"), crlf);
  write_file(dir_.file("lu.idx"),
             "north: 1\r\nsouth: 0\r\neast: 1\r\nwest: 0\r\nrows: 2\r\n"
             "cols: 3\r\n1 1 2\r\n1 2 2\r\n");
  std::string out;
  ASSERT_EQ(read(map_table_overland_boundary, {1, 2}, &out), 1) << out;
  EXPECT_EQ(column(1), (values{0, 0, 0, 3, 3}));
  EXPECT_EQ(column(2), (values{0, 0, 0, 1, 1}));
  ASSERT_NE(ts_index_head, nullptr);
  EXPECT_EQ(ts_index_head->index, 1);
  EXPECT_EQ(ts_index_head->series, s);

  // Once loaded the index is not read again.
  ASSERT_EQ(read(map_table_overland_boundary, {1}), 1);
  EXPECT_EQ(ts_index_head->next, nullptr);
}

TEST_F(ParameterTables, GatheringWritesOnlyCellsWithAnIdAndRefusesSmallArrays) {
  raw_array2d<int> grid;
  grid.allocate(2, 3);
  grid[1][1] = 2;  // cell 1
  grid[2][2] = 1;  // cell 4; cells 2, 3 and 5 have id 0
  raw_array1d<double> by_id;
  by_id.allocate(2);
  by_id[1] = 10.0;
  by_id[2] = 20.0;
  raw_array1d<double>& out = outputs_[0];
  EXPECT_EQ(map_gather_values(out, by_id, grid, ms_->index_map, 2, 3), 1);
  EXPECT_EQ(column(1), (values{20, -1, -1, 10, -1}));

  raw_array1d<double> small;
  small.allocate(4);
  std::fill_n(small.data(), small.element_count(), -1.0);
  stdout_capture capture;
  EXPECT_EQ(map_gather_values(small, by_id, grid, ms_->index_map, 2, 3), 0);
  const std::string printed = capture.stop();
  EXPECT_NE(printed.find("Error: a per-cell parameter array of 4 cells cannot take cell 5\n"),
            std::string::npos)
      << printed;
  EXPECT_EQ(small[1], -1.0);  // nothing written before the refusal
  EXPECT_EQ(run_error.error_fatal, 1);
}

TEST_F(ParameterTables, RowsAreStoredByIdTheLaterRowWinning) {
  write_file(dir_.file("rows.txt"),
             column_header + table_row(4, "1 2") + table_row(2, "3 4") + table_row(4, "5 6"));
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, "rows.txt", "r"));
  map_table_skip(h);
  raw_array1d<int> ids;
  raw_array2d<double> data;
  int largest = -1;
  ASSERT_EQ(map_table_read_rows(h, "rows.txt", "TEST", 3, 2, ids, data, largest), 1);
  EXPECT_EQ(largest, 4);
  raw_array1d<double> by_id;
  ASSERT_TRUE(alloc_values_by_id(by_id, largest));
  std::fill_n(by_id.data(), by_id.element_count(), -1.0);
  table_store_row(data, 3, 2, ids, largest, by_id);
  EXPECT_EQ((values(by_id.data() + 1, by_id.data() + 5)), (values{0, 4, 0, 6}));
}

}  // namespace
