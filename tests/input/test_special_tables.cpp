// Mapping tables with a layout of their own: the sediment classes, the erosion properties per
// class, the well rows, the wetland numbering and conversions, and the soil-type index maps of
// the soil-column tables, with the faults of their counts, rows and index maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/linked_list.h"
#include "framework/core/raw_arrays.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/special_tables.h"
#include "input/time_series.h"
#include "subsurface/wells.h"
#include "support/table_fixtures.h"
#include "support/test_support.h"
#include "transport/transport_records_state.h"

using torva_test::small_index_map;
using torva_test::stdout_capture;
using torva_test::table_row;
using torva_test::temp_dir;
using torva_test::write_file;

namespace special_tables_tests {

const std::string& magic = torva_test::table_file_magic;
const std::string& column_header = torva_test::table_column_header;

// A SEDIMENTS row: free text in characters 1 to 40, the values from character 41 on.
std::string sed_row(const std::string& name, const std::string& values) {
  std::string line = name;
  line.resize(40, ' ');
  return line + values + "\n";
}

class SpecialTables : public testing::Test {
 protected:
  void SetUp() override {
    // The watershed: 1 1 0 / 1 1 1, cells numbered row by row.
    ms_ = std::make_unique<model_state>();
    torva_test::set_small_watershed(*ms_);
  }
  torva_test::process_state_guard process_state_;  // destroyed after the folder and the state
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
};

// ---------------------------------------------------------------------------------------------
// SEDIMENTS

struct sed_result {
  int result = -1;
  int count = -1;
  raw_array1d<double> spec_grav, part_diam, f_bind;
  std::vector<std::string> names;
  std::string printed;
};

void read_sed(const std::string& path, sed_result& r) {
  stdout_capture capture;
  r.result = read_sed_table(path.c_str(), r.count, r.spec_grav, r.part_diam, r.names, r.f_bind);
  r.printed = capture.stop();
}

TEST_F(SpecialTables, SedimentClassesReadFromCharacter41) {
  // The first class name holds blanks and digits in its 40 free characters.
  write_file(dir_.file("t.cmt"),
             magic + "INDEX_MAP lu.idx Land use\nROUGHNESS Land use\nNUM_IDS 0\n" +
                 "SEDIMENTS\nNUM_SED 2\n" + "CLASS        SPEC_GRAV  DIAM  FBIND  FILE\n" +
                 sed_row("fine sand 0.1 2.0 9 9", "2.65 0.125 0.5 sand.out") +
                 sed_row("clay", "2.6\t0.002  1.0 \"clay out.dat\""));
  sed_result r;
  read_sed(dir_.file("t.cmt"), r);
  ASSERT_EQ(r.result, 1) << r.printed;
  EXPECT_EQ(run_error.error_fatal, 0);
  ASSERT_EQ(r.count, 2);
  EXPECT_DOUBLE_EQ(r.spec_grav[1], 2.65);
  EXPECT_DOUBLE_EQ(r.part_diam[1], 0.125);
  EXPECT_DOUBLE_EQ(r.f_bind[1], 0.5);
  EXPECT_DOUBLE_EQ(r.spec_grav[2], 2.6);
  EXPECT_DOUBLE_EQ(r.part_diam[2], 0.002);
  EXPECT_DOUBLE_EQ(r.f_bind[2], 1.0);
  ASSERT_EQ(r.names.size(), 3u);
  EXPECT_EQ(r.names[1], "sand.out");
  EXPECT_EQ(r.names[2], "clay out.dat");
}

TEST_F(SpecialTables, SedimentTableMissingOrEmptyGivesNoClasses) {
  struct no_classes {
    const char* label;
    std::string text;
  };
  const std::vector<no_classes> cases = {
      {"no SEDIMENTS table", magic + "INDEX_MAP lu.idx Land use\nROUGHNESS Land use\n"},
      {"NUM_SED 0", magic + "SEDIMENTS\nNUM_SED 0\n" + column_header},
  };
  for (const no_classes& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    write_file(dir_.file("t.cmt"), c.text);
    sed_result r;
    read_sed(dir_.file("t.cmt"), r);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(run_error.error_fatal, 0);
    EXPECT_TRUE(r.spec_grav.empty());
  }
}

TEST_F(SpecialTables, SedimentTableFaultsAreFatalAndNameTheFile) {
  struct fault {
    const char* label;
    std::string rows;
    const char* message;
  };
  const std::string good = sed_row("silt", "2.65 0.01 0.2 silt.out");
  const std::vector<fault> cases = {
      {"more classes than rows", "NUM_SED 3\n" + column_header + good + good,
       "ends after 2 of its 3"},
      {"negative count", "NUM_SED -2\n" + column_header + good, "gives -2 rows"},
      {"too few values", "NUM_SED 1\n" + column_header + sed_row("silt", "2.65 0.01"),
       "needs a specific gravity"},
      {"a value that is no number", "NUM_SED 1\n" + column_header + sed_row("silt", "2.65 x 0.2 f"),
       "needs a specific gravity"},
      {"a row shorter than 41 characters", "NUM_SED 1\n" + column_header + "silt 2.65 0.01 0.2 f\n",
       "needs a specific gravity"},
      {"no file name", "NUM_SED 1\n" + column_header + sed_row("silt", "2.65 0.01 0.2"),
       "needs an output file name"},
      {"a file name too long",
       "NUM_SED 1\n" + column_header + sed_row("silt", "2.65 0.01 0.2 " + std::string(1024, 'f')),
       "needs an output file name of at most 1023"},
  };
  for (const fault& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    write_file(dir_.file("t.cmt"), magic + "SEDIMENTS\n" + c.rows);
    sed_result r;
    read_sed(dir_.file("t.cmt"), r);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_NE(r.printed.find(c.message), std::string::npos) << r.printed;
    EXPECT_NE(r.printed.find("t.cmt"), std::string::npos) << r.printed;
  }
}

TEST_F(SpecialTables, SedimentFileThatDoesNotOpenIsCode64) {
  sed_result r;
  read_sed(dir_.file("absent.cmt"), r);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(r.printed.find("Unable to open Mapping Table file: "), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// SOIL_EROSION_PROPS

std::string erosion_file(int num_sed, const std::string& rows, int num_ids = 3) {
  return magic + "INDEX_MAP ero.idx Erosion\nSOIL_EROSION_PROPS Erosion\nNUM_IDS " +
         std::to_string(num_ids) + "\nNUM_SED " + std::to_string(num_sed) + "\n" + column_header +
         rows;
}

struct erosion_outputs {
  raw_array1d<double> column[5];
  raw_array3d<double> sed_fract;  // [cell][class][slot], every slot -1 so that writes show
  erosion_outputs(int cells, int classes) {
    for (auto& c : column) {
      c.allocate(cells);
      std::fill_n(c.data(), c.element_count(), -1.0);
    }
    sed_fract.allocate(cells, classes, sed_fract_slot_count - 1);
    std::fill_n(sed_fract.data(), sed_fract.element_count(), -1.0);
  }
};

TEST_F(SpecialTables, ErosionColumnsAndClassFractionsReachTheCells) {
  write_file(dir_.file("t.cmt"), erosion_file(2, table_row(1, "1 2 3 4 5 0.25 0.75") +
                                                     table_row(2, "10 20 30 40 50 0.6 0.4") +
                                                     table_row(3, "7 7 7 7 7 1 0")));
  // Cell 3 (row 2, column 1) has id 0: it keeps its columns and has no fraction in any class.
  write_file(dir_.file("ero.idx"), small_index_map("1 2 3\n0 2 1\n"));
  erosion_outputs out(5, 2);
  // Column 3 is not wanted.
  const erosion_columns wanted{&out.column[0], &out.column[1], nullptr, &out.column[3],
                               &out.column[4]};
  stdout_capture capture;
  const int result = read_erosion_table(*ms_, dir_.file("t.cmt").c_str(), wanted, out.sed_fract, 2);
  const std::string printed = capture.stop();
  ASSERT_EQ(result, 1) << printed;
  EXPECT_EQ(run_error.error_fatal, 0);
  const double expect_c1[6] = {0, 1, 10, -1, 10, 1};
  const double expect_c2[6] = {0, 2, 20, -1, 20, 2};
  const double expect_c5[6] = {0, 5, 50, -1, 50, 5};
  for (int cell = 1; cell <= 5; ++cell) {
    SCOPED_TRACE(cell);
    EXPECT_DOUBLE_EQ(out.column[0][cell], expect_c1[cell]);
    EXPECT_DOUBLE_EQ(out.column[1][cell], expect_c2[cell]);
    EXPECT_DOUBLE_EQ(out.column[2][cell], -1.0);
    EXPECT_DOUBLE_EQ(out.column[4][cell], expect_c5[cell]);
  }
  // The soil fraction of each class goes to slot 1 of the cell's entry of five; the other
  // slots belong to the sediment step and are left alone.
  ASSERT_EQ(sed_fract_slot_count, 5);
  ASSERT_EQ(sed_fract_soil_slot, 1);
  const double fract[3][6] = {{}, {0, 0.25, 0.6, 0.0, 0.6, 0.25}, {0, 0.75, 0.4, 0.0, 0.4, 0.75}};
  for (int cell = 1; cell <= 5; ++cell) {
    for (int s = 1; s <= 2; ++s) {
      SCOPED_TRACE("cell " + std::to_string(cell) + " class " + std::to_string(s));
      for (int slot = 0; slot <= 4; ++slot)
        EXPECT_DOUBLE_EQ(out.sed_fract[cell][s][slot], slot == 1 ? fract[s][cell] : -1.0)
            << "slot " << slot;
    }
  }
  // The index map's header is kept in the model state.
  EXPECT_EQ(ms_->map_rows, 2);
  EXPECT_DOUBLE_EQ(ms_->map_north, 100.0);
}

// An id of the index map that has no row (below the first row id or between two) gives its
// cells 0.0 in every column and a soil fraction of 0.0 in every class; the run goes on.
TEST_F(SpecialTables, ErosionIdsWithoutARowReadZero) {
  write_file(
      dir_.file("t.cmt"),
      erosion_file(2, table_row(2, "10 20 30 40 50 0.6 0.4") + table_row(4, "1 2 3 4 5 0.25 0.75"),
                   2));
  // Cells 1..5 carry the ids 1, 2, 3, 4, 3: ids 1 and 3 have no row.
  write_file(dir_.file("ero.idx"), small_index_map("1 2 0\n3 4 3\n"));
  erosion_outputs out(5, 2);
  const erosion_columns wanted{&out.column[0], &out.column[1], &out.column[2], &out.column[3],
                               &out.column[4]};
  stdout_capture capture;
  const int result = read_erosion_table(*ms_, dir_.file("t.cmt").c_str(), wanted, out.sed_fract, 2);
  const std::string printed = capture.stop();
  ASSERT_EQ(result, 1) << printed;
  EXPECT_EQ(run_error.error_fatal, 0) << printed;
  EXPECT_NE(printed.find("In map ero.idx category 3 has 2 values\n"), std::string::npos) << printed;
  struct cell_case {
    int cell;
    double columns[5];
    double fractions[2];
  };
  const cell_case cases[] = {
      {1, {0, 0, 0, 0, 0}, {0, 0}},           // id 1: below the first row
      {2, {10, 20, 30, 40, 50}, {0.6, 0.4}},  // id 2
      {3, {0, 0, 0, 0, 0}, {0, 0}},           // id 3: between the rows
      {4, {1, 2, 3, 4, 5}, {0.25, 0.75}},     // id 4
      {5, {0, 0, 0, 0, 0}, {0, 0}},           // id 3
  };
  for (const cell_case& c : cases) {
    SCOPED_TRACE("cell " + std::to_string(c.cell));
    for (int column = 1; column <= 5; ++column)
      EXPECT_DOUBLE_EQ(out.column[column - 1][c.cell], c.columns[column - 1]) << column;
    for (int s = 1; s <= 2; ++s) {
      EXPECT_DOUBLE_EQ(out.sed_fract[c.cell][s][sed_fract_soil_slot], c.fractions[s - 1]) << s;
      EXPECT_DOUBLE_EQ(out.sed_fract[c.cell][s][0], -1.0);  // the sediment step's slots
    }
  }
}

TEST_F(SpecialTables, ErosionClassCountMustMatchTheSedimentTable) {
  write_file(dir_.file("t.cmt"), erosion_file(2, table_row(1, "1 2 3 4 5 0.25 0.75")));
  write_file(dir_.file("ero.idx"), small_index_map("1 1 1\n1 1 1\n"));
  erosion_outputs out(5, 3);
  const erosion_columns wanted{};
  stdout_capture capture;
  const int result = read_erosion_table(*ms_, dir_.file("t.cmt").c_str(), wanted, out.sed_fract, 3);
  const std::string printed = capture.stop();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(printed.find("SEDIMENTS table is 3 while"), std::string::npos) << printed;
  EXPECT_NE(printed.find("SED_EROS_PROPS table is 2. The values must match."), std::string::npos)
      << printed;
}

TEST_F(SpecialTables, ErosionTableFaults) {
  struct fault {
    const char* label;
    std::string table;
    std::string map;
    int fract_cells;
    const char* message;
    int fract_slots = sed_fract_slot_count;  // doubles of each cell's and class's entry
  };
  const std::string rows = table_row(1, "1 2 3 4 5 0.5") + table_row(2, "1 2 3 4 5 0.5");
  const std::vector<fault> cases = {
      {"no table", magic + "INDEX_MAP ero.idx Erosion\n", small_index_map("1 1 1\n1 1 1\n"), 5,
       "no entries found in table SOIL_EROSION_PROPS"},
      {"NUM_IDS 0", erosion_file(1, "", 0), small_index_map("1 1 1\n1 1 1\n"), 5,
       "no entries found in table SOIL_EROSION_PROPS"},
      {"more rows counted than present", erosion_file(1, rows, 3),
       small_index_map("1 1 1\n1 1 1\n"), 5, "ends after 2 of its 3 rows"},
      {"a value that is not a number", erosion_file(1, table_row(1, "1 2 3 4 5 half"), 1),
       small_index_map("1 1 1\n1 1 1\n"), 5, "holds a value that is not a number"},
      {"a watershed id above the rows", erosion_file(1, rows, 2), small_index_map("1 2 0\n1 3 1\n"),
       5, "Index ID exceeds table limit"},
      {"sediment fractions for too few cells", erosion_file(1, rows, 2),
       small_index_map("1 1 1\n1 1 1\n"), 4,
       "of 4 cells and 1 classes (5 slots each) cannot take table"},
      {"sediment fractions of two slots", erosion_file(1, rows, 2),
       small_index_map("1 1 1\n1 1 1\n"), 5,
       "of 5 cells and 1 classes (2 slots each) cannot take table SOIL_EROSION_PROPS", 2},
      {"index map missing", erosion_file(1, rows, 2), "", 5, "Unable to open index file"},
  };
  for (const fault& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    write_file(dir_.file("t.cmt"), c.table);
    std::remove(dir_.file("ero.idx").c_str());
    if (!c.map.empty()) write_file(dir_.file("ero.idx"), c.map);
    erosion_outputs out(5, 1);
    out.sed_fract.allocate(c.fract_cells, 1, c.fract_slots - 1);
    const erosion_columns wanted{&out.column[0]};
    stdout_capture capture;
    const int result =
        read_erosion_table(*ms_, dir_.file("t.cmt").c_str(), wanted, out.sed_fract, 1);
    const std::string printed = capture.stop();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
  }
}

// ---------------------------------------------------------------------------------------------
// WELL_TABLE

TEST_F(SpecialTables, WellRowsGiveConstantOrSeriesWellsNewestFirst) {
  raw_array1d<int> ids;
  raw_array2d<double> data;
  ids.allocate(3);
  data.allocate(3, 3);
  const double rows[3][3] = {{0.0, 0.5, 99.0}, {2.0, 7.0, 0.0}, {1.9, 3.7, 0.0}};
  for (int r = 1; r <= 3; ++r) {
    ids[r] = 10 * r;
    for (int c = 1; c <= 3; ++c) data[r][c] = rows[r - 1][c - 1];
  }
  well_record* head = nullptr;
  ASSERT_EQ(make_well_list("t.cmt", ids, data, 3, head), 1);
  std::vector<well_record> got;
  for (well_record* w = head; w != nullptr; w = w->next) got.push_back(*w);
  list_free(head);
  ASSERT_EQ(got.size(), 3u);
  // Newest row first; a mode of 1.9 is truncated to 1 and its series index 3.7 to 3.
  EXPECT_EQ(got[0].id, 30);
  EXPECT_EQ(got[0].mode, 1);
  EXPECT_EQ(got[0].ts_index, 3);
  EXPECT_DOUBLE_EQ(got[0].rate, 0.0);
  EXPECT_EQ(got[1].id, 20);
  EXPECT_EQ(got[1].mode, 2);
  EXPECT_EQ(got[1].ts_index, 7);
  EXPECT_DOUBLE_EQ(got[1].rate, 0.0);
  EXPECT_EQ(got[2].id, 10);
  EXPECT_EQ(got[2].mode, 0);
  EXPECT_EQ(got[2].ts_index, 0);
  EXPECT_DOUBLE_EQ(got[2].rate, 0.5);
}

TEST_F(SpecialTables, WellModeBeyondWholeNumbersIsRefusedAndTheListFreed) {
  raw_array1d<int> ids;
  raw_array2d<double> data;
  ids.allocate(2);
  data.allocate(2, 3);
  ids[1] = 1;
  ids[2] = 2;
  data[1][1] = 0.0;
  data[1][2] = 1.0;
  data[2][1] = 3.0;
  data[2][2] = 1e12;  // a series index no int can hold
  well_record* head = nullptr;
  stdout_capture capture;
  EXPECT_EQ(make_well_list("t.cmt", ids, data, 2, head), 0);
  const std::string printed = capture.stop();
  EXPECT_EQ(head, nullptr);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(printed.find("row 2 (well 2) of table WELL_TABLE in mapping table file t.cmt"),
            std::string::npos)
      << printed;
}

TEST_F(SpecialTables, WellTableIsReadAndItsFaultsReported) {
  const std::string head = magic + "INDEX_MAP wells.idx Wells\nWELL_TABLE Wells\n";
  write_file(dir_.file("wells.idx"), small_index_map("0 3 0\n0 0 0\n"));
  struct well_case {
    const char* label;
    std::string table;
    int result;
    const char* message;
  };
  const std::vector<well_case> cases = {
      {"a good table", head + "NUM_IDS 1\n" + column_header + table_row(3, "0 0.25 0"), 1, ""},
      {"no table", magic + "INDEX_MAP wells.idx Wells\n", 0,
       "no entries found in table WELL_TABLE"},
      {"NUM_IDS 0", head + "NUM_IDS 0\n" + column_header, 0,
       "no entries found in table WELL_TABLE"},
      {"a row short of its unused third value",
       head + "NUM_IDS 1\n" + column_header + table_row(3, "0 0.25"), 1, ""},
      {"a value that is not a number",
       head + "NUM_IDS 1\n" + column_header + table_row(3, "0 fast 0"), 0,
       "holds a value that is not a number"},
      {"map id above the table", head + "NUM_IDS 1\n" + column_header + table_row(2, "0 1 0"), 0,
       "Index ID exceeds table limit"},
  };
  for (const well_case& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    write_file(dir_.file("t.cmt"), c.table);
    stdout_capture capture;
    const int result = read_well_table(*ms_, dir_.file("t.cmt").c_str());
    const std::string printed = capture.stop();
    EXPECT_EQ(result, c.result) << printed;
    EXPECT_EQ(run_error.error_fatal, c.result == 1 ? 0 : 1);
    EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
  }
}

// ---------------------------------------------------------------------------------------------
// WETLAND_PROPERTIES

struct wetland_read {
  int result = -1;
  int count = -1;
  raw_array1d<wetland_record> wetlands;
  raw_array1d<int> mask;
  std::string printed;
};

void read_wetlands(model_state& ms, const std::string& path, wetland_read& w) {
  stdout_capture capture;
  w.result = read_wetland_table(ms, path.c_str(), w.count, w.wetlands, w.mask);
  w.printed = capture.stop();
}

std::string wetland_file(int count, const std::string& rows) {
  return magic + "INDEX_MAP wet.idx Wetlands\nWETLAND_PROPERTIES Wetlands\nNUM_IDS " +
         std::to_string(count) + "\n" + column_header + rows;
}

TEST_F(SpecialTables, WetlandsAreNumberedInTheOrderTheirIdsAreMet) {
  // Id 4 is met first row by row: it becomes wetland 1, id 9 wetland 2. The table lists 9 first.
  write_file(dir_.file("t.cmt"),
             wetland_file(2, table_row(9, "100 200 8640 400 86400 6.5 700") +
                                 table_row(4, "1000 2000 86400 4000 43200 0.5 250")));
  write_file(dir_.file("wet.idx"), small_index_map("0 4 9\n9 0 4\n"));
  wetland_read w;
  read_wetlands(*ms_, dir_.file("t.cmt"), w);
  ASSERT_EQ(w.result, 1) << w.printed;
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(w.count, 2);
  // Millimetres to metres, per day to per second.
  const double first[8] = {1.0, 2.0, 1.0, 4.0, 0.5, 0.0, 0.5, 0.25};
  const double second[8] = {0.1, 0.2, 0.1, 0.4, 1.0, 0.0, 6.5, 0.7};
  for (int s = 0; s < 8; ++s) {
    SCOPED_TRACE(s);
    EXPECT_DOUBLE_EQ(w.wetlands[1].slot[s], first[s]);
    EXPECT_DOUBLE_EQ(w.wetlands[2].slot[s], second[s]);
  }
  // Cells 1..5: (1,1) id 0, (1,2) id 4, (2,1) id 9, (2,2) id 0, (2,3) id 4; (1,3) is outside.
  const int mask[6] = {0, 0, 1, 2, 0, 1};
  ASSERT_GE(w.mask.count(), 5);
  for (int cell = 1; cell <= 5; ++cell) EXPECT_EQ(w.mask[cell], mask[cell]) << cell;
}

// A map id without a table row is numbered like any other id met in the map: its cells become
// that wetland, whose properties are all 0.0, and the run goes on. A row whose id the map does
// not use is passed over.
TEST_F(SpecialTables, WetlandIdWithoutARowIsAWetlandOfZeroProperties) {
  const std::string table = wetland_file(
      2, table_row(4, "1000 2000 86400 4000 43200 0.5 250") + table_row(9, "1 1 1 1 1 1 1"));
  const double row_4[8] = {1.0, 2.0, 1.0, 4.0, 0.5, 0.0, 0.5, 0.25};
  struct gap_case {
    const char* what;
    const char* ids;  // index map rows; id 7 has no row
    int number_of_4;  // the compact numbers of ids 4 and 7
    int number_of_7;
    int mask[6];  // cells 1..5
  };
  const gap_case cases[] = {
      {"the id without a row met last", "4 7 0\n4 4 0\n", 1, 2, {0, 1, 2, 1, 1, 0}},
      {"the id without a row met first", "7 4 0\n0 7 4\n", 2, 1, {0, 1, 2, 0, 1, 2}},
  };
  for (const gap_case& c : cases) {
    SCOPED_TRACE(c.what);
    run_error = error_state{};
    write_file(dir_.file("t.cmt"), table);
    write_file(dir_.file("wet.idx"), small_index_map(c.ids));
    wetland_read w;
    read_wetlands(*ms_, dir_.file("t.cmt"), w);
    ASSERT_EQ(w.result, 1) << w.printed;
    EXPECT_EQ(run_error.error_fatal, 0) << w.printed;
    EXPECT_EQ(w.count, 2);
    ASSERT_GE(w.wetlands.count(), 2);
    for (int s = 0; s < 8; ++s) {
      SCOPED_TRACE(s);
      EXPECT_DOUBLE_EQ(w.wetlands[c.number_of_4].slot[s], row_4[s]);
      EXPECT_DOUBLE_EQ(w.wetlands[c.number_of_7].slot[s], 0.0);
    }
    ASSERT_GE(w.mask.count(), 5);
    for (int cell = 1; cell <= 5; ++cell) EXPECT_EQ(w.mask[cell], c.mask[cell]) << cell;
  }
}

TEST_F(SpecialTables, WetlandTableFaults) {
  struct fault {
    const char* label;
    std::string table;
    std::string map;
    const char* message;
  };
  const std::vector<fault> cases = {
      {"three rows, two ids in the map",
       wetland_file(3, table_row(4, "1 1 1 1 1 1 1") + table_row(9, "1 1 1 1 1 1 1") +
                           table_row(12, "1 1 1 1 1 1 1")),
       small_index_map("4 9 0\n9 4 4\n"),
       "It contains\n2 ID's, while the mapping table file contains 3 ID's."},
      {"an id above 300",
       wetland_file(2, table_row(4, "1 1 1 1 1 1 1") + table_row(301, "1 1 1 1 1 1 1")),
       small_index_map("4 301 0\n4 4 4\n"), "is over 300!"},
      {"no table", magic + "INDEX_MAP wet.idx Wetlands\n", small_index_map("4 4 0\n4 4 4\n"),
       "no entries found in table WETLAND_PROPERTIES"},
      {"a count beyond the rows", wetland_file(5, table_row(4, "1 1 1 1 1 1 1")),
       small_index_map("4 4 0\n4 4 4\n"), "ends after 1 of its 5 rows"},
      {"a map of the wrong size", wetland_file(1, table_row(4, "1 1 1 1 1 1 1")),
       torva_test::grid_header(3, 3, 1.0, 0.0, 1.0, 0.0) + "4 4 4\n4 4 4\n4 4 4\n",
       "Incorrect number of rows in map"},
  };
  for (const fault& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    write_file(dir_.file("t.cmt"), c.table);
    write_file(dir_.file("wet.idx"), c.map);
    wetland_read w;
    read_wetlands(*ms_, dir_.file("t.cmt"), w);
    EXPECT_EQ(w.result, 0);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_NE(w.printed.find(c.message), std::string::npos) << w.printed;
    EXPECT_TRUE(w.wetlands.empty());
  }
}

// ---------------------------------------------------------------------------------------------
// Soil-column tables

TEST_F(SpecialTables, SoilColumnTablesReadTheirSoilTypeMap) {
  struct soil_case {
    const char* label;
    std::string table;
    int form;  // 0: the layered-soil table
  };
  const std::string maps = magic + "INDEX_MAP soil.idx Soils\n";
  const std::vector<soil_case> cases = {
      {"Brooks-Corey", maps + "RICHARDS_EQN_INFILTRATION_BROOKS Soils\nNUM_IDS 0\nNUM_X 3\nID\n",
       1},
      {"Havercamp", maps + "RICHARDS_EQN_INFILTRAIION_HAVERCAMP Soils\nNUM_IDS 0\nNUM_X 3\nID\n",
       2},
      {"layered soil", maps + "MULTI_LAYER_SOIL Soils\nNUM_IDS 0\nNUM_SOIL_LAYERS 3\nID\n", 0},
  };
  write_file(dir_.file("soil.idx"), small_index_map("3 9999 77\n0 1 3\n"));
  for (const soil_case& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    write_file(dir_.file("t.cmt"), c.table);
    raw_array1d<int> soil_type;
    soil_type.allocate(5);
    std::fill_n(soil_type.data(), soil_type.element_count(), -1);
    stdout_capture capture;
    const int result =
        c.form == 0 ? read_multilayer_table(*ms_, dir_.file("t.cmt").c_str(),
                                            ms_->subsurface.soil_types, soil_type)
                    : read_richards_soil_table(*ms_, dir_.file("t.cmt").c_str(), c.form, soil_type);
    const std::string printed = capture.stop();
    EXPECT_GE(result, 0) << printed;
    EXPECT_EQ(run_error.error_fatal, 0);
    const int expected[6] = {0, 3, 9999, 0, 1, 3};
    for (int cell = 1; cell <= 5; ++cell) EXPECT_EQ(soil_type[cell], expected[cell]) << cell;
  }
}

TEST_F(SpecialTables, RichardsTableOfAnotherFormReadsNothing) {
  write_file(dir_.file("t.cmt"), magic + "INDEX_MAP soil.idx Soils\n");
  raw_array1d<int> soil_type;
  soil_type.allocate(5);
  EXPECT_EQ(read_richards_soil_table(*ms_, dir_.file("t.cmt").c_str(), 3, soil_type), 0);
  EXPECT_EQ(run_error.error_fatal, 0);
}

TEST_F(SpecialTables, SoilColumnTableFaults) {
  struct fault {
    const char* label;
    std::string table;
    std::string map;
    int form;
    const char* message;
  };
  const std::string maps = magic + "INDEX_MAP soil.idx Soils\n";
  const std::string brooks = maps + "RICHARDS_EQN_INFILTRATION_BROOKS Soils\n";
  const std::string good_map = small_index_map("1 2 0\n1 1 1\n");
  const std::vector<fault> cases = {
      {"index map missing", brooks, "", 1,
       "valid soil type index map.\nIndex map filename = soil.idx"},
      {"map name not among the index maps", maps + "RICHARDS_EQN_INFILTRATION_BROOKS Other\n",
       good_map, 1, "Index map filename = Other"},
      {"no Havercamp table", brooks, good_map, 2,
       "valid soil type index map.\nIndex map filename = \n"},
      {"no layered-soil table", brooks, good_map, 0,
       "valid soil type index map.\nIndex map filename = \n"},
      {"not a mapping-table file", "RICHARDS_EQN_INFILTRATION_BROOKS Soils\n", good_map, 1,
       "valid soil type index map.\nIndex map filename = \n"},
      {"a soil id above 9999", brooks, small_index_map("1 10000 0\n1 1 1\n"), 1,
       "soil type id 10000 in index map soil.idx"},
      {"a layered soil id above 9999", maps + "MULTI_LAYER_SOIL Soils\n",
       small_index_map("1 1 0\n1 1 10000\n"), 0, "cell 5 has the soil type id 10000"},
  };
  for (const fault& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    write_file(dir_.file("t.cmt"), c.table);
    std::remove(dir_.file("soil.idx").c_str());
    if (!c.map.empty()) write_file(dir_.file("soil.idx"), c.map);
    raw_array1d<int> soil_type;
    soil_type.allocate(5);
    stdout_capture capture;
    const int result =
        c.form == 0 ? read_multilayer_table(*ms_, dir_.file("t.cmt").c_str(),
                                            ms_->subsurface.soil_types, soil_type)
                    : read_richards_soil_table(*ms_, dir_.file("t.cmt").c_str(), c.form, soil_type);
    const std::string printed = capture.stop();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
  }
}

TEST_F(SpecialTables, SoilColumnTableFileThatDoesNotOpenIsCode64) {
  raw_array1d<int> soil_type;
  soil_type.allocate(5);
  stdout_capture capture;
  EXPECT_EQ(read_richards_soil_table(*ms_, dir_.file("absent.cmt").c_str(), 1, soil_type), -1);
  EXPECT_EQ(read_multilayer_table(*ms_, dir_.file("absent.cmt").c_str(), ms_->subsurface.soil_types,
                                  soil_type),
            -1);
  const std::string printed = capture.stop();
  EXPECT_NE(printed.find("Unable to open Mapping Table file: "), std::string::npos) << printed;
  EXPECT_EQ(run_error.error_fatal, 1);
}

}  // namespace special_tables_tests
