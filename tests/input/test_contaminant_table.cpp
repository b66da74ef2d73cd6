// Contaminant transport table: each contaminant's names, coefficients and eight per-cell
// parameters through its own index map, the console lines of the read, and the faults of the
// count, the contaminant lines, the coefficient lines, the index maps and the rows.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/guarded_array.h"
#include "framework/core/raw_arrays.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/contaminant_table.h"
#include "support/table_fixtures.h"
#include "support/test_support.h"

using torva_test::small_index_map;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace contaminant_table_tests {

const std::string& magic = torva_test::table_file_magic;
const std::string& column_header = torva_test::table_column_header;

std::string row(int id, const std::string& values, const std::string& description = "soil group") {
  return torva_test::table_row(id, values, description);
}

// One contaminant's sub-table.
std::string contaminant(const std::string& description, const std::string& map_name,
                        const std::string& output, double precip, double partition,
                        const std::string& rows, int count) {
  char coefficients[128];
  std::snprintf(coefficients, sizeof coefficients, "PRECIP_CONC %g\nPARTITION %g\n", precip,
                partition);
  return "\"" + description + "\" \"" + map_name + "\" \"" + output + "\"\n" + coefficients +
         "NUM_IDS " + std::to_string(count) + "\n" + column_header + rows;
}

// Rows of ids 1 and 2 whose eight values are base + column (id 2: base + 100 + column).
std::string two_rows(int base) {
  std::string a;
  std::string b;
  for (int c = 1; c <= 8; ++c) {
    a += std::to_string(base + c) + " ";
    b += std::to_string(base + 100 + c) + " ";
  }
  return row(1, a) + row(2, b);
}

class ContaminantTable : public testing::Test {
 protected:
  void SetUp() override {
    // The watershed: 1 1 0 / 1 1 1, cells numbered row by row.
    ms_ = std::make_unique<model_state>();
    torva_test::set_small_watershed(*ms_);
    for (std::size_t c = 0; c < parameters_.size(); ++c) wanted_[c] = &parameters_[c];
  }
  int read(const std::string& text) {
    write_file(dir_.file("t.cmt"), text);
    stdout_capture capture;
    const int result = read_contam_table(
        *ms_, dir_.file("t.cmt").c_str(), 11, wanted_, ms_->transport.precip_conc,
        ms_->transport.water_soil_partition_coef, count_, descriptions_, output_names_);
    printed_ = capture.stop();
    return result;
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder and the state
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
  std::array<guarded_array2d<double>, 8> parameters_;
  contam_columns wanted_{};
  int count_ = -1;
  std::vector<std::string> descriptions_;
  std::vector<std::string> output_names_;
  std::string printed_;
};

TEST_F(ContaminantTable, TwoContaminantsEachThroughItsOwnIndexMap) {
  write_file(dir_.file("lead.idx"), small_index_map("1 2 0\n2 1 1\n"));
  write_file(dir_.file("zinc.idx"), small_index_map("2 2 9\n0 1 2\n"));
  wanted_[3] = nullptr;  // column 4 is not wanted
  const int result =
      read(magic + "INDEX_MAP lead.idx \"Lead map\"\nINDEX_MAP zinc.idx \"Zinc map\"\n" +
           "CONTAMINANT_TRANSPORT not used\nNUM_CONTAM 2\n" +
           contaminant("Lead", "Lead map", "lead.out", 0.5, 12, two_rows(0), 2) +
           contaminant("Dissolved zinc", "Zinc map", "zinc out.dat", 0.25, 3.5, two_rows(1000), 2));
  ASSERT_EQ(result, 1) << printed_;
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(count_, 2);
  ASSERT_EQ(descriptions_.size(), 3u);
  EXPECT_EQ(descriptions_[1], "Lead");
  EXPECT_EQ(descriptions_[2], "Dissolved zinc");
  EXPECT_EQ(output_names_[1], "lead.out");
  EXPECT_EQ(output_names_[2], "zinc out.dat");
  ASSERT_EQ(ms_->transport.precip_conc.upper(), 2);
  EXPECT_DOUBLE_EQ(ms_->transport.precip_conc[1], 0.5);
  EXPECT_DOUBLE_EQ(ms_->transport.precip_conc[2], 0.25);
  EXPECT_DOUBLE_EQ(ms_->transport.water_soil_partition_coef[1], 12.0);
  EXPECT_DOUBLE_EQ(ms_->transport.water_soil_partition_coef[2], 3.5);

  // Cell ids: lead 1 2 | 2 1 1, zinc 2 2 | 0 1 2 (cell 3 of zinc has id 0 and keeps 0).
  const int lead_ids[6] = {0, 1, 2, 2, 1, 1};
  const int zinc_ids[6] = {0, 2, 2, 0, 1, 2};
  for (int c = 1; c <= 8; ++c) {
    SCOPED_TRACE(c);
    const guarded_array2d<double>& p = parameters_[static_cast<std::size_t>(c - 1)];
    ASSERT_EQ(p.row_count(), c == 4 ? 0 : 2);
    if (c == 4) continue;
    EXPECT_EQ(p.width(), 5);
    for (int cell = 1; cell <= 5; ++cell) {
      const double lead = lead_ids[cell] == 1 ? c : 100 + c;
      const double zinc = zinc_ids[cell] == 0 ? 0.0 : (zinc_ids[cell] == 1 ? 1000 + c : 1100 + c);
      EXPECT_DOUBLE_EQ(p[1][cell], lead) << "cell " << cell;
      EXPECT_DOUBLE_EQ(p[2][cell], zinc) << "cell " << cell;
    }
  }
  // The console: the count, then one padded Checking line per contaminant.
  EXPECT_EQ(printed_.find("\nReading contaminant table...  2 contaminants found\n"), 0u)
      << printed_;
  EXPECT_NE(printed_.find("  Checking Lead" + std::string(31, '.') + "In map lead.idx"),
            std::string::npos)
      << printed_;
  EXPECT_NE(printed_.find("  Checking Dissolved zinc" + std::string(21, '.')), std::string::npos)
      << printed_;
  EXPECT_EQ(printed_.rfind("found and read index map\n"),
            printed_.size() - std::string("found and read index map\n").size());
  EXPECT_NE(printed_.find("found and read index map\n  Checking Dissolved"), std::string::npos)
      << printed_;
}

TEST_F(ContaminantTable, CountOfZeroIsASuccessWithNothingGrown) {
  const int result = read(magic + "CONTAMINANT_TRANSPORT\nNUM_CONTAM 0\n");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(count_, 0);
  EXPECT_EQ(printed_, "\nReading contaminant table...  0 contaminants found\n");
  EXPECT_TRUE(ms_->transport.precip_conc.empty());
  EXPECT_EQ(parameters_[0].row_count(), 0);
}

TEST_F(ContaminantTable, UnquotedIndexMapNameMatchesNoContaminant) {
  write_file(dir_.file("lead.idx"), small_index_map("1 1 0\n1 1 1\n"));
  write_file(dir_.file("zinc.idx"), small_index_map("2 2 0\n2 2 2\n"));
  // The first contaminant's map is named without quotes; its rows are read past, so the second
  // contaminant is still read whole.
  const int result = read(magic + "INDEX_MAP lead.idx Lead map\nINDEX_MAP zinc.idx \"Zinc map\"\n" +
                          "CONTAMINANT_TRANSPORT\nNUM_CONTAM 2\n" +
                          contaminant("Lead", "Lead map", "lead.out", 1, 2, two_rows(0), 2) +
                          contaminant("Zinc", "Zinc map", "zinc.out", 3, 4, two_rows(1000), 2));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(printed_.find("  Checking Lead" + std::string(31, '.') + "unable to match index map\n"),
            std::string::npos)
      << printed_;
  EXPECT_NE(printed_.find("Error reading the contaminant transport tables in the mapping table "
                          "file.\n"),
            std::string::npos)
      << printed_;
  EXPECT_DOUBLE_EQ(ms_->transport.precip_conc[2], 3.0);
  EXPECT_DOUBLE_EQ(parameters_[0][2][1], 1101.0);
  EXPECT_DOUBLE_EQ(parameters_[0][1][1], 0.0);
}

// A line in place of the PRECIP_CONC line is reported and one in place of the PARTITION line
// passed over; each coefficient keeps what it held, the line is consumed and reading goes on.
TEST_F(ContaminantTable, MissingCoefficientLinesKeepTheValueAndReadingGoesOn) {
  write_file(dir_.file("a.idx"), small_index_map("1 1 0\n1 1 1\n"));
  // The first contaminant's PRECIP_CONC line is replaced by a comment line, the second's
  // PARTITION line is misspelt.
  std::string first = contaminant("A", "A", "a.out", 9, 2, two_rows(0), 2);
  first.replace(first.find("PRECIP_CONC 9"), 13, "# no value");
  std::string second = contaminant("B", "A", "b.out", 0.75, 5, two_rows(1000), 2);
  second.replace(second.find("PARTITION 5"), 11, "PARTITON 5");
  const int result =
      read(magic + "INDEX_MAP a.idx \"A\"\nCONTAMINANT_TRANSPORT\nNUM_CONTAM 2\n" + first + second);
  ASSERT_EQ(result, 1) << printed_;
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_NE(printed_.find("Error in reading the precip concentration of constituent #1\n"),
            std::string::npos)
      << printed_;
  EXPECT_EQ(printed_.find("constituent #2"), std::string::npos) << printed_;
  EXPECT_DOUBLE_EQ(ms_->transport.precip_conc[1], 0.0);
  EXPECT_DOUBLE_EQ(ms_->transport.precip_conc[2], 0.75);
  EXPECT_DOUBLE_EQ(ms_->transport.water_soil_partition_coef[1], 2.0);
  EXPECT_DOUBLE_EQ(ms_->transport.water_soil_partition_coef[2], 0.0);
  // Both contaminants' rows were read in their places.
  EXPECT_DOUBLE_EQ(parameters_[0][1][1], 1.0);
  EXPECT_DOUBLE_EQ(parameters_[7][2][1], 1008.0);
}

// A row short of its eight values gives 0.0 for those it lacks.
TEST_F(ContaminantTable, RowsShortOfValuesGiveZeroForWhatTheyLack) {
  write_file(dir_.file("a.idx"), small_index_map("1 2 0\n2 1 1\n"));
  const int result =
      read(magic + "INDEX_MAP a.idx \"A\"\nCONTAMINANT_TRANSPORT\nNUM_CONTAM 1\n" +
           contaminant("A", "A", "a.out", 1, 2, row(1, "1 2 3 4 5 6 7") + row(2, "9"), 2));
  ASSERT_EQ(result, 1) << printed_;
  EXPECT_EQ(run_error.error_fatal, 0);
  const int ids[6] = {0, 1, 2, 2, 1, 1};
  for (int c = 1; c <= 8; ++c) {
    SCOPED_TRACE(c);
    for (int cell = 1; cell <= 5; ++cell) {
      const double expected = ids[cell] == 1 ? (c <= 7 ? c : 0.0) : (c == 1 ? 9.0 : 0.0);
      EXPECT_DOUBLE_EQ(parameters_[static_cast<std::size_t>(c - 1)][1][cell], expected)
          << "cell " << cell;
    }
  }
}

// An id of a contaminant's index map that has no row gives its cells 0.0 in all eight columns;
// the run goes on and the next contaminant is read as usual.
TEST_F(ContaminantTable, IdsWithoutARowReadZeroInEveryColumn) {
  // Contaminant 1 has rows 1 and 3: id 2 lies between them. Contaminant 2 has the row of id 2
  // alone: id 1 lies below it.
  write_file(dir_.file("a.idx"), small_index_map("2 1 0\n3 2 0\n"));
  write_file(dir_.file("b.idx"), small_index_map("1 2 0\n2 1 1\n"));
  std::string rows_1;
  std::string rows_3;
  for (int c = 1; c <= 8; ++c) {
    rows_1 += std::to_string(c) + " ";
    rows_3 += std::to_string(300 + c) + " ";
  }
  const int result = read(
      magic + "INDEX_MAP a.idx \"A\"\nINDEX_MAP b.idx \"B\"\nCONTAMINANT_TRANSPORT\n" +
      "NUM_CONTAM 2\n" + contaminant("A", "A", "a.out", 1, 2, row(1, rows_1) + row(3, rows_3), 2) +
      contaminant("B", "B", "b.out", 3, 4, row(2, rows_3), 1));
  ASSERT_EQ(result, 1) << printed_;
  EXPECT_EQ(run_error.error_fatal, 0) << printed_;
  EXPECT_NE(printed_.find("In map a.idx category 2 has 2 values\n"), std::string::npos) << printed_;
  EXPECT_NE(printed_.find("In map b.idx category 1 has 3 values\n"), std::string::npos) << printed_;
  // What each cell carries per contaminant: 0 no values, 1 the row of id 1, 3 the row of id 3
  // (contaminant 2: the row of id 2).
  struct cell_case {
    int cell;
    int row_of_a;
    int row_of_b;
  };
  const cell_case cases[] = {
      {1, 0, 0},  // a: id 2 (no row); b: id 1 (no row)
      {2, 1, 3},  // a: id 1; b: id 2
      {3, 3, 3},  // a: id 3; b: id 2
      {4, 0, 0},  // a: id 2 (no row); b: id 1 (no row)
      {5, 0, 0},  // a: id 0 (no id); b: id 1 (no row)
  };
  for (const cell_case& c : cases) {
    SCOPED_TRACE("cell " + std::to_string(c.cell));
    for (int column = 1; column <= 8; ++column) {
      const guarded_array2d<double>& p = parameters_[static_cast<std::size_t>(column - 1)];
      const double of_a = c.row_of_a == 0 ? 0.0 : (c.row_of_a == 1 ? column : 300 + column);
      const double of_b = c.row_of_b == 0 ? 0.0 : 300 + column;
      EXPECT_DOUBLE_EQ(p[1][c.cell], of_a) << "column " << column;
      EXPECT_DOUBLE_EQ(p[2][c.cell], of_b) << "column " << column;
    }
  }
  EXPECT_EQ(printed_.rfind("found and read index map\n"),
            printed_.size() - std::string("found and read index map\n").size());
}

TEST_F(ContaminantTable, FirstLineOtherThanTheMagicWordReadsNothingSilently) {
  EXPECT_EQ(read("SOMETHING_ELSE\nCONTAMINANT_TRANSPORT\nNUM_CONTAM 1\n"), 0);
  EXPECT_EQ(printed_, "");
  EXPECT_EQ(run_error.error_fatal, 0);
}

TEST_F(ContaminantTable, FaultsAreFatal) {
  write_file(dir_.file("a.idx"), small_index_map("1 1 0\n1 2 2\n"));
  const std::string head = magic + "INDEX_MAP a.idx \"A\"\nCONTAMINANT_TRANSPORT\n";
  const std::string good = contaminant("A", "A", "a.out", 1, 2, two_rows(0), 2);
  std::string no_partition_value = good;
  no_partition_value.replace(no_partition_value.find("PARTITION 2"), 11, "PARTITION");
  std::string no_precip_value = good;
  no_precip_value.replace(no_precip_value.find("PRECIP_CONC 1"), 13, "PRECIP_CONC x");
  // Values with text run into them are no numbers, though their digits begin as one.
  std::string precip_run_on = good;
  precip_run_on.replace(precip_run_on.find("PRECIP_CONC 1"), 13, "PRECIP_CONC 1abc");
  std::string partition_run_on = good;
  partition_run_on.replace(partition_run_on.find("PARTITION 2"), 11, "PARTITION 2.5e1x");
  struct fault {
    const char* label;
    std::string text;
    const char* message;
    const char* also = "";
  };
  const std::vector<fault> cases = {
      {"no table", magic + "INDEX_MAP a.idx \"A\"\n",
       "Error reading the contaminant transport tables"},
      {"negative count", head + "NUM_CONTAM -1\n" + good, "gives a contaminant count of"},
      {"more contaminants than lines", head + "NUM_CONTAM 3\n" + good,
       "gives 3 contaminants, but the"},
      {"a count beyond the contaminants present", head + "NUM_CONTAM 2\n" + good + "\n\n\n\n",
       "the line of contaminant 2 in table CONTAMINANT_TRANSPORT"},
      {"a contaminant line without its quoted names",
       head + "NUM_CONTAM 1\nA A a.out\nPRECIP_CONC 1\nPARTITION 2\nNUM_IDS 0\n",
       "does not hold its description, index map name and output file name"},
      {"a description too long",
       head + "NUM_CONTAM 1\n" + contaminant(std::string(301, 'x'), "A", "a.out", 1, 2, "", 0),
       "longer than 300 characters"},
      {"a PARTITION line without its number", head + "NUM_CONTAM 1\n" + no_partition_value,
       "Error in reading the partition coefficient of constituent #1\n",
       "Error reading the contaminant transport tables"},
      {"a PRECIP_CONC line without a number", head + "NUM_CONTAM 1\n" + no_precip_value,
       "Error in reading the precip concentration of constituent #1\n",
       "Error reading the contaminant transport tables"},
      {"a PRECIP_CONC value with text run into it", head + "NUM_CONTAM 1\n" + precip_run_on,
       "Error in reading the precip concentration of constituent #1\n",
       "Error reading the contaminant transport tables"},
      {"a PARTITION value with text run into it", head + "NUM_CONTAM 1\n" + partition_run_on,
       "Error in reading the partition coefficient of constituent #1\n",
       "Error reading the contaminant transport tables"},
      {"fewer rows than NUM_IDS",
       head + "NUM_CONTAM 1\n" + contaminant("A", "A", "a.out", 1, 2, two_rows(0), 3),
       "ends after 2 of its 3 rows"},
      {"a value that is not a number",
       head + "NUM_CONTAM 1\n" + contaminant("A", "A", "a.out", 1, 2, row(1, "1 2 3 4 5 6 7 -"), 1),
       "holds a value that is not a number"},
      {"an index map that does not open",
       magic + "INDEX_MAP absent.idx \"A\"\nCONTAMINANT_TRANSPORT\nNUM_CONTAM 1\n" + good,
       "unable to open index map file.\n", "Unable to open index file absent.idx"},
  };
  for (const fault& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    for (auto& p : parameters_) p.release();
    ms_->transport.precip_conc.release();
    ms_->transport.water_soil_partition_coef.release();
    EXPECT_EQ(read(c.text), 0);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_NE(printed_.find(c.message), std::string::npos) << printed_;
    EXPECT_NE(printed_.find(c.also), std::string::npos) << printed_;
  }
}

TEST_F(ContaminantTable, FileThatDoesNotOpenIsCode64) {
  stdout_capture capture;
  const int result = read_contam_table(
      *ms_, dir_.file("absent.cmt").c_str(), 11, wanted_, ms_->transport.precip_conc,
      ms_->transport.water_soil_partition_coef, count_, descriptions_, output_names_);
  const std::string printed = capture.stop();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(printed.find("Unable to open Mapping Table file: "), std::string::npos) << printed;
}

}  // namespace contaminant_table_tests
