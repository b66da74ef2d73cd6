// The overland lake file and the embankment low-spot file: their header and card words, the
// records they fill, every malformed file stopping the run with its message, and the dike-map
// and lake-map readers of read_maps that read them (starting lake volumes computed by hand).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/read_maps.h"
#include "input/replacement.h"
#include "overland/lake_files.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::grid_header;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// What a reader printed on standard output and on the error stream.
struct printed {
  std::string out;
  std::string err;
};

class LakeFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    process_state_.reset();  // a test that starts over calls TearDown and SetUp again
  }

  // Writes `text` as lakes.txt and reads it with room for lakes 1..slots.
  printed read_lakes(const std::string& text, int expected, int slots) {
    write_file(dir_.file("lakes.txt"), text);
    lakes_.allocate(slots);
    file_handle h;
    EXPECT_TRUE(file_handle_open(h, "lakes.txt", "r"));
    testing::internal::CaptureStderr();
    stdout_capture capture;
    read_lake_file(h, expected, lakes_);
    printed p;
    p.out = capture.stop();
    p.err = testing::internal::GetCapturedStderr();
    return p;
  }

  // Writes `text` as spots.txt and reads it.
  printed read_spots(const std::string& text) {
    write_file(dir_.file("spots.txt"), text);
    file_handle h;
    EXPECT_TRUE(file_handle_open(h, "spots.txt", "r"));
    testing::internal::CaptureStderr();
    stdout_capture capture;
    read_lowspot_file(h, "spots.txt", spot_count_, spots_);
    printed p;
    p.out = capture.stop();
    p.err = testing::internal::GetCapturedStderr();
    return p;
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
  raw_array1d<lake_record> lakes_;
  raw_array1d<lowspot_record> spots_;
  int spot_count_ = -1;
};

using LakeFiles = LakeFilesTest;
using LowSpot = LakeFilesTest;

const char* const premature_lake_lines =
    "Premature end-of-file in the overland lake input data file.\n"
    "No LAKE cards encountered before end of file.\n"
    "Program terminated.\n";

TEST_F(LakeFiles, CardWordsAreWholeFirstWordsInAnyCase) {
  struct word_case {
    const char* line;
    int lake;          // is_lake_card
    int spot;          // is_spot_card
    const char* rest;  // the line after the card test
  };
  const word_case cases[] = {
      {"LAKE 1 2 3", 0, 1, " 1 2 3"},
      {"  \tLake, 2", 1, 1, " 2"},  // the comma belongs to the word
      {"lake", 0, 1, ""},
      {"LAKE_2 5 5 5", 1, 1, " 5 5 5"},
      {"LAKES 1", 1, 1, " 1"},
      {"Spot 1 2", 1, 0, " 1 2"},
      {"", 1, 1, ""},
      {"   ", 1, 1, ""},
  };
  for (const word_case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string lake_line = c.line;
    std::string spot_line = c.line;
    EXPECT_EQ(is_lake_card(lake_line), c.lake);
    EXPECT_EQ(is_spot_card(spot_line), c.spot);
    EXPECT_EQ(lake_line, c.rest);
    EXPECT_EQ(spot_line, c.rest);
  }
}

TEST_F(LakeFiles, LakeCardsFillTheRecordOfTheirId) {
  const printed p = read_lakes(
      "torva_overland_lake_file\n"
      "# lakes of the north basin\n"
      "Lake 2, 101.5, 3000\n"
      "LAKE_2 5 5 5\n"
      "\n"
      "LAKE 1 99.25 12.5\n",
      2, 2);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(p.err, "");
  // The count of the card, not the lake id, leads each line.
  EXPECT_EQ(p.out,
            "1   Elev: 101.50   Volume: 3000.00\n"
            "2   Elev: 99.25   Volume: 12.50\n");
  EXPECT_DOUBLE_EQ(lakes_[2].surface_elev, 101.5);
  EXPECT_DOUBLE_EQ(lakes_[2].card_elev, 101.5);
  EXPECT_DOUBLE_EQ(lakes_[2].volume, 3000.0);
  EXPECT_DOUBLE_EQ(lakes_[1].surface_elev, 99.25);
  EXPECT_DOUBLE_EQ(lakes_[1].volume, 12.5);
  EXPECT_DOUBLE_EQ(lakes_[0].surface_elev, 0.0);
  EXPECT_DOUBLE_EQ(lakes_[0].volume, 0.0);
}

TEST_F(LakeFiles, HeaderIsALeadingPartOfTheFileWord) {
  struct header_case {
    const char* first_line;
    bool accepted;
  };
  const header_case cases[] = {
      {"TORVA_OVERLAND_LAKE_FILE", true},
      {"Torva_Overland_Lake_File  north basin", true},
      {"", true},  // an empty word compares equal over its length
      {"TORVA", true},
      {"LAKES", false},
      {"TORVA_OVERLAND_LAKE_FILES", false},
  };
  for (const header_case& c : cases) {
    SCOPED_TRACE(c.first_line);
    run_error = error_state{};
    const printed p = read_lakes(std::string(c.first_line) + "\nLAKE 1 10 0\n", 1, 1);
    if (c.accepted) {
      EXPECT_EQ(run_error.error_fatal, 0);
      EXPECT_EQ(p.err, "");
      EXPECT_DOUBLE_EQ(lakes_[1].surface_elev, 10.0);
      continue;
    }
    EXPECT_EQ(p.err,
              "The overland lake input data file doesn't start with\n"
              " TORVA_OVERLAND_LAKE_FILE card.\n"
              "The file format is invalid.  Program terminated.\n");
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_EQ(run_error.error_code, 0);  // reported at once
    EXPECT_DOUBLE_EQ(lakes_[1].surface_elev, 0.0);
  }
}

TEST_F(LakeFiles, TheNumberOfCardsMustBeTheNumberOfLakes) {
  struct count_case {
    const char* name;
    const char* text;
    int expected;
    const char* err;  // null: accepted
  };
  const count_case cases[] = {
      {"three cards for four lakes",
       "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 1 1\nLAKE 2 2 2\nLAKE 3 3 3\n", 4,
       "Incorrect number of LAKE cards in the overland lake input data file.\n"
       "Expected 4 LAKE cards, read 3\n"
       "Program terminated.\n"},
      {"header only", "TORVA_OVERLAND_LAKE_FILE\n", 2, premature_lake_lines},
      {"lines without a card", "TORVA_OVERLAND_LAKE_FILE\nlakes follow\n\n", 2,
       premature_lake_lines},
      {"empty file", "", 1, premature_lake_lines},
      // Repeated ids are taken as long as the number of cards is right.
      {"a repeated id", "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 5 0\nLAKE 1 6 0\n", 2, nullptr},
  };
  for (const count_case& c : cases) {
    SCOPED_TRACE(c.name);
    run_error = error_state{};
    const printed p = read_lakes(c.text, c.expected, c.expected);
    if (c.err == nullptr) {
      EXPECT_EQ(run_error.error_fatal, 0);
      EXPECT_EQ(p.err, "");
      continue;
    }
    EXPECT_EQ(p.err, c.err);
    EXPECT_EQ(run_error.error_fatal, 1);
  }
  // The last card of a repeated id holds; the lake without a card stays empty.
  EXPECT_DOUBLE_EQ(lakes_[1].surface_elev, 6.0);
  EXPECT_DOUBLE_EQ(lakes_[2].surface_elev, 0.0);
}

TEST_F(LakeFiles, BadCardsAndIdsOutsideTheLakeMapStopTheRun) {
  struct bad_case {
    const char* card;
    const char* message;
  };
  const bad_case cases[] = {
      {"LAKE 3 100 0", "names lake 3,\n       but the lake map holds lake ids 1 to 2 only.\n"},
      {"LAKE 0 100 0", "names lake 0,"},
      {"LAKE -1 100 0", "names lake -1,"},
      {"LAKE 1 100", "bad LAKE card on line 3"},
      {"LAKE 1 abc 0", "bad LAKE card on line 3"},
      {"LAKE 1.5 100 0", "bad LAKE card on line 3"},
      {"LAKE 99999999999 100 0", "bad LAKE card on line 3"},
      {"LAKE 1 nan 0", "bad LAKE card on line 3"},
  };
  for (const bad_case& c : cases) {
    SCOPED_TRACE(c.card);
    run_error = error_state{};
    const printed p =
        read_lakes(std::string("TORVA_OVERLAND_LAKE_FILE\nLAKE 2 50 0\n") + c.card + "\n", 2, 2);
    EXPECT_TRUE(contains(p.err, c.message)) << p.err;
    EXPECT_TRUE(contains(p.err, "overland lake input data file lakes.txt")) << p.err;
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_DOUBLE_EQ(lakes_[1].surface_elev, 0.0);
  }
  // An array smaller than the lake count takes only the ids it has a slot for.
  run_error = error_state{};
  const printed p = read_lakes("TORVA_OVERLAND_LAKE_FILE\nLAKE 2 50 0\n", 2, 1);
  EXPECT_TRUE(contains(p.err, "names lake 2,")) << p.err;
  EXPECT_EQ(run_error.error_fatal, 1);
}

TEST_F(LowSpot, SpotCardsFillTheRecordsInFileOrder) {
  const printed p = read_spots(
      "LOWSPOT\n"
      "SPOT 2 3 4 0.5 101.25\n"
      "spots along the east levee\n"
      "spot 5,6,\t8, 1.0,99\n");
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(p.err, "");
  ASSERT_EQ(spot_count_, 2);
  ASSERT_EQ(spots_.count(), 2);
  const lowspot_record& a = spots_[1];
  EXPECT_EQ(a.row, 2);
  EXPECT_EQ(a.col, 3);
  EXPECT_EQ(a.side, 4);
  EXPECT_DOUBLE_EQ(a.fraction, 0.5);
  EXPECT_DOUBLE_EQ(a.elevation, 101.25);
  const lowspot_record& b = spots_[2];
  EXPECT_EQ(b.row, 5);
  EXPECT_EQ(b.col, 6);
  EXPECT_EQ(b.side, 8);
  EXPECT_DOUBLE_EQ(b.fraction, 1.0);
  EXPECT_DOUBLE_EQ(b.elevation, 99.0);
  EXPECT_EQ(spots_[0].row, 0);
  EXPECT_DOUBLE_EQ(spots_[0].elevation, 0.0);
}

TEST_F(LowSpot, MalformedFilesStopTheRunWithTheirMessage) {
  struct spot_case {
    const char* name;
    const char* text;
    const char* err;  // the whole error stream, or the part of it that names the fault
  };
  const spot_case cases[] = {
      {"other header", "LOWSPOTS\nSPOT 1 1 1 0.5 10\n",
       "The lowspot input file: spots.txt does not start with the LOWSPOT card.\n"
       "The file format is invalid.  Program terminated.\n"},
      {"header only", "LOWSPOT\n",
       "Premature end-of-file in the lowspot input file.\n"
       "No SPOT cards encountered before end of file.\n"
       "Program terminated.\n"},
      {"no SPOT card", "lowspot\nSPOTS 1 1 1 0.5 10\n",
       "Premature end-of-file in the lowspot input file.\n"
       "No SPOT cards encountered before end of file.\n"
       "Program terminated.\n"},
      {"missing elevation", "LOWSPOT\nSPOT 1 1 1 0.5 10\nSPOT 2 2 2 0.5\n",
       "Error: bad SPOT card on line 3 of the lowspot input file spots.txt:\n"
       "       SPOT 2 2 2 0.5\n"
       "       A SPOT card holds row, col, side, fraction and elevation.\n"},
      {"side not a number", "LOWSPOT\nSPOT 2 2 top 0.5 10\n", "bad SPOT card on line 2"},
  };
  for (const spot_case& c : cases) {
    SCOPED_TRACE(c.name);
    run_error = error_state{};
    const printed p = read_spots(c.text);
    EXPECT_TRUE(contains(p.err, c.err)) << p.err;
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_EQ(spot_count_, 0);
    EXPECT_TRUE(spots_.empty());
  }
}

TEST_F(LowSpot, LowSpotsMustLieOnTheGrid) {
  struct cell_case {
    int row, col;
    bool on_grid;  // on a grid of 3 rows and 4 columns
  };
  const cell_case cases[] = {{1, 1, true},  {3, 4, true},  {0, 2, false}, {4, 2, false},
                             {2, 0, false}, {2, 5, false}, {-7, 1, false}};
  for (const cell_case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.row << " " << c.col);
    raw_array1d<lowspot_record> spots;
    ASSERT_TRUE(spots.allocate(2));
    spots[1].row = 2;
    spots[1].col = 2;
    spots[2].row = c.row;
    spots[2].col = c.col;
    testing::internal::CaptureStderr();
    const bool ok = check_lowspot_cells(spots, 2, 3, 4, "spots.txt");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, c.on_grid);
    if (c.on_grid) {
      EXPECT_EQ(err, "");
    } else {
      char expected[256];
      snprintf(expected, sizeof expected,
               "Error: low spot 2 of the lowspot input file spots.txt is at row %d col %d, "
               "outside the grid of 3 rows and 4 columns.\n",
               c.row, c.col);
      EXPECT_EQ(err, expected);
    }
  }
}

// ---- The dike-map and lake-map readers of read_maps ----------------------------------------

// 3 x 4 with 5 watershed cells: 1 (1,2), 2 (1,3), 3 (2,2), 4 (3,1), 5 (3,4).
const char* const mask_values = "0 1 1 0\n0 1 0 0\n1 0 0 1\n";
// Cell elevations 10.5, 11, 10, 8.25, 7.
const char* const elevation_values = "9 10.5 11 9\n9 10 9 9\n8.25 9 9 7\n";

class SurfaceInputsTest : public LakeFilesTest {
 protected:
  void SetUp() override {
    LakeFilesTest::SetUp();
    ms_ = std::make_unique<model_state>();
    ms_->rows = 3;
    ms_->cols = 4;
    ms_->gridsize = 30.0;
    ms_->grid_params.outrow = 3;
    ms_->grid_params.outcol = 4;
    ms_->overland.manning_n = 0.05;  // the roughness reader needs one for every run
    ms_->super_quiet = 1;
    set_name(ms_->input.names.watershed_mask, "mask.asc");
    set_name(ms_->input.names.elevation, "elev.asc");
    write_file(dir_.file("mask.asc"), grid_header(3, 4) + mask_values);
    write_file(dir_.file("elev.asc"), grid_header(3, 4) + elevation_values);
  }
  void TearDown() override {
    ms_.reset();
    LakeFilesTest::TearDown();
  }

  static void set_name(char (&field)[1024], const char* name) {
    copy_text(field, sizeof field, name);
  }

  // The lake map (values per grid position) and the lake file, opened as the run files are.
  void give_lakes(const std::string& map_values, const std::string& lake_text) {
    ms_->overland.overland_lake_map = 1;
    set_name(ms_->input.names.overland_lake_map, "lakes.asc");
    set_name(ms_->input.names.overland_lake_file, "lakes.txt");
    write_file(dir_.file("lakes.asc"), grid_header(3, 4) + map_values);
    write_file(dir_.file("lakes.txt"), lake_text);
    ASSERT_TRUE(file_handle_open(ms_->input.overland_lake_map_file, "lakes.asc", "r"));
    ASSERT_TRUE(file_handle_open(ms_->input.overland_lake_file, "lakes.txt", "r"));
  }

  // Runs read_maps and the driver's report; returns standard output and the error stream.
  printed run_read_maps() {
    EXPECT_TRUE(file_handle_open(ms_->input.watershed_mask_file, "mask.asc", "r"));
    EXPECT_TRUE(file_handle_open(ms_->input.elevation_file, "elev.asc", "r"));
    testing::internal::CaptureStderr();
    stdout_capture capture;
    read_maps(*ms_);
    if (run_error.error_code > 0) error_report(run_error);
    printed p;
    p.out = capture.stop();
    p.err = testing::internal::GetCapturedStderr();
    return p;
  }

  std::unique_ptr<model_state> ms_;
};

using LakeMap = SurfaceInputsTest;
using DikeMap = SurfaceInputsTest;

TEST_F(LakeMap, CountsTheLakeCellsAndTheirStartingVolumes) {
  // Lake 1 holds cells 1 and 3, lake 2 cells 4 and 5; cell 2 is dry land.
  give_lakes("0 1 0 0\n0 1 0 0\n2 0 0 2\n",
             "TORVA_OVERLAND_LAKE_FILE\nLAKE 2 9.0 1\nLAKE 1 11.0 1\n");
  const printed p = run_read_maps();
  ASSERT_EQ(run_error.error_fatal, 0) << p.out << p.err;
  const overland_state& ov = ms_->overland;
  EXPECT_EQ(ov.olake_count, 2);
  const int ids[] = {0, 1, 0, 1, 2, 2};
  for (int c = 1; c <= 5; ++c) {
    EXPECT_EQ(ov.oland_lake_mask[c], ids[c]) << c;
    EXPECT_EQ(ov.oland_lake_new[c], ids[c]) << c;
  }
  // The card volumes are replaced by the water above each cell over 900 m2:
  // lake 1: (11 - 10.5) + (11 - 10) = 1.5 m; lake 2: (9 - 8.25) + (9 - 7) = 2.75 m.
  EXPECT_EQ(ov.ov_lakes[1].num_cells, 2);
  EXPECT_DOUBLE_EQ(ov.ov_lakes[1].volume, 1.5 * 900.0);
  EXPECT_DOUBLE_EQ(ov.ov_lakes[1].surface_elev, 11.0);
  EXPECT_EQ(ov.ov_lakes[2].num_cells, 2);
  EXPECT_DOUBLE_EQ(ov.ov_lakes[2].volume, 2.75 * 900.0);
  EXPECT_DOUBLE_EQ(ov.ov_lakes[2].card_elev, 9.0);
  EXPECT_TRUE(contains(p.out, "1   Elev: 9.00   Volume: 1.00\n2   Elev: 11.00   Volume: 1.00\n"))
      << p.out;
  EXPECT_FALSE(ms_->input.overland_lake_map_file.is_open());
  EXPECT_FALSE(ms_->input.overland_lake_file.is_open());
}

TEST_F(LakeMap, LakeFileFaultsStopTheReadingOfTheMaps) {
  struct lake_case {
    const char* name;
    const char* lake_text;
    const char* out;  // part of standard output, or null
    const char* err;  // part of the error stream, or null
  };
  const lake_case cases[] = {
      {"a cell above its lake's surface", "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 10.2 0\nLAKE 2 9 0\n",
       "There is a lake cell in lake 1 that is above the initial lake water surface\n"
       "elevation in that lake, which is specified as 10.200000.  This situation is not\n"
       "physically realistic.  Check your lake map.  Program terminated.\n",
       nullptr},
      {"a missing LAKE card", "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 11 0\n", nullptr,
       "Expected 2 LAKE cards, read 1\n"},
      {"a lake the map does not hold", "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 11 0\nLAKE 7 9 0\n",
       nullptr, "names lake 7,"},
  };
  for (const lake_case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    give_lakes("0 1 0 0\n0 1 0 0\n2 0 0 2\n", c.lake_text);
    const printed p = run_read_maps();
    if (c.out != nullptr) {
      EXPECT_TRUE(contains(p.out, c.out)) << p.out;
    }
    if (c.err != nullptr) {
      EXPECT_TRUE(contains(p.err, c.err)) << p.err;
    }
    EXPECT_EQ(run_error.error_fatal, 1);
  }
}

TEST_F(DikeMap, ReadsTheDikeCodesAndThenTheLowSpots) {
  ms_->overland.dike_map_on = 1;
  ms_->overland.lowspot_on = 1;
  set_name(ms_->input.names.dike_map, "dikes.asc");
  set_name(ms_->input.names.lowspot_file, "spots.txt");
  write_file(dir_.file("dikes.asc"), grid_header(3, 4) + "0 2 8 0\n0 4 0 0\n0 0 0 0\n");
  write_file(dir_.file("spots.txt"), "LOWSPOT\nSPOT 1 2 2 0.5 12.0\n");
  const printed p = run_read_maps();
  ASSERT_EQ(run_error.error_fatal, 0) << p.out << p.err;
  const overland_state& ov = ms_->overland;
  const int codes[] = {0, 2, 8, 4, 0, 0};
  for (int c = 1; c <= 5; ++c) EXPECT_EQ(ov.dike_mask[c], codes[c]) << c;
  ASSERT_EQ(ov.num_lowspots, 1);
  EXPECT_EQ(ov.lowspots[1].row, 1);
  EXPECT_EQ(ov.lowspots[1].col, 2);
  EXPECT_EQ(ov.lowspots[1].side, 2);
  EXPECT_DOUBLE_EQ(ov.lowspots[1].elevation, 12.0);

  // Without the LOWSPOT_FILE card the low-spot file is not read.
  TearDown();
  SetUp();
  ms_->overland.dike_map_on = 1;
  set_name(ms_->input.names.dike_map, "dikes.asc");
  set_name(ms_->input.names.lowspot_file, "spots.txt");
  run_read_maps();
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(ms_->overland.num_lowspots, 0);
  EXPECT_TRUE(ms_->overland.lowspots.empty());
}

TEST_F(DikeMap, MissingFilesAndSpotsOffTheGridStopTheRun) {
  struct dike_case {
    const char* name;
    bool dike_file;       // the dike map exists
    const char* spots;    // the low-spot file's text, or null when it does not exist
    const char* message;  // part of what is printed
  };
  const dike_case cases[] = {
      {"no dike map", false, "LOWSPOT\nSPOT 1 2 2 0.5 12\n",
       "Can't open input dike mask file named: dikes.asc\n"},
      {"no low-spot file", true, nullptr, "Can't open input dike mask file named: spots.txt\n"},
      {"a low spot below the grid", true, "LOWSPOT\nSPOT 1 2 2 0.5 12\nSPOT 4 2 1 0.5 12\n",
       "Error: low spot 2 of the lowspot input file spots.txt is at row 4 col 2, outside the "
       "grid of 3 rows and 4 columns.\n"},
  };
  for (const dike_case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    std::remove(dir_.file("dikes.asc").c_str());
    std::remove(dir_.file("spots.txt").c_str());
    ms_->overland.dike_map_on = 1;
    ms_->overland.lowspot_on = 1;
    set_name(ms_->input.names.dike_map, "dikes.asc");
    set_name(ms_->input.names.lowspot_file, "spots.txt");
    if (c.dike_file)
      write_file(dir_.file("dikes.asc"), grid_header(3, 4) + "0 2 8 0\n0 4 0 0\n0 0 0 0\n");
    if (c.spots != nullptr) write_file(dir_.file("spots.txt"), c.spots);
    const printed p = run_read_maps();
    EXPECT_TRUE(contains(p.out + p.err, c.message)) << p.out << p.err;
    EXPECT_EQ(run_error.error_fatal, 1);
  }
}

}  // namespace
