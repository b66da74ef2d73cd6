// Cell connectivity and bed slopes: the neighbours of cells at the grid's edges and beside holes
// of the watershed, the faces a dike closes, the checks of the dike low spots with their
// messages, the bed slopes against a hand computation (edge cells and the outlet included), and
// a run of the small watershed with a dike and its low spot, from the files to the exit status.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "overland/connectivity.h"
#include "overland/overland_steps.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::stdout_capture;

namespace {

class Connectivity : public ::testing::Test {
 protected:
  void SetUp() override { ms_ = std::make_unique<model_state>(); }

  // Sets the grid from rows of 0/1 (blank-separated) and numbers the active cells row by row,
  // as the watershed mask reader does; elevations (m) are given per cell in that order.
  void set_grid(const std::vector<std::string>& mask, const std::vector<double>& elev = {}) {
    ms_->rows = static_cast<int>(mask.size());
    std::vector<std::vector<int>> flags;
    for (const std::string& line : mask) {
      std::istringstream in(line);
      std::vector<int> row;
      for (int v = 0; in >> v;) row.push_back(v);
      flags.push_back(row);
    }
    ms_->cols = static_cast<int>(flags[0].size());
    alloc_2d_int_named(ms_->index_map, ms_->rows + 1, ms_->cols + 1, "mask");
    int k = 0;
    for (int r = 1; r <= ms_->rows; ++r)
      for (int c = 1; c <= ms_->cols; ++c)
        if (flags[r - 1][c - 1] != 0) ms_->index_map[r][c] = ++k;
    ms_->cell_count = k;
    alloc_1d_double(ms_->cell_elev, k, "elev");
    for (int i = 1; i <= k && i <= static_cast<int>(elev.size()); ++i)
      ms_->cell_elev[i] = elev[static_cast<std::size_t>(i) - 1];
  }
  // Dike side codes per cell (cell order) and the dike switch.
  void set_dikes(const std::vector<int>& codes) {
    overland_state& ov = ms_->overland;
    ov.dike_map_on = 1;
    alloc_1d_int(ov.dike_mask, ms_->cell_count, "dike_mask");
    for (int i = 1; i <= ms_->cell_count; ++i) ov.dike_mask[i] = codes[i - 1];
  }
  // The low spots of the run, each with a flow left from before.
  void set_lowspots(const std::vector<lowspot_record>& spots) {
    overland_state& ov = ms_->overland;
    ov.lowspot_on = 1;
    ov.num_lowspots = static_cast<int>(spots.size());
    ASSERT_TRUE(ov.lowspots.allocate(ov.num_lowspots));
    for (int k = 1; k <= ov.num_lowspots; ++k) {
      ov.lowspots[k] = spots[static_cast<std::size_t>(k) - 1];
      ov.lowspots[k].flow = 7.0;
    }
    snprintf(ms_->input.names.lowspot_file, sizeof ms_->input.names.lowspot_file, "spots.txt");
  }
  // Runs the connectivity set-up; its console output goes to out_.
  void connect() {
    stdout_capture capture;
    build_cell_connectivity(*ms_);
    out_ = capture.stop();
  }

  torva_test::process_state_guard process_state_;
  std::unique_ptr<model_state> ms_;
  std::string out_;
};

// The neighbours of every cell of a grid with holes, against the map drawn by hand:
//   1 2 . 3
//   4 . 5 6
//   7 8 9 .
TEST_F(Connectivity, NeighboursStopAtTheGridEdgeAndAtHolesOfTheWatershed) {
  set_grid({"1 1 0 1", "1 0 1 1", "1 1 1 0"});
  ASSERT_EQ(ms_->cell_count, 9);
  connect();
  EXPECT_EQ(out_, "building cell to cell connectivity information\n");
  EXPECT_EQ(run_error.error_fatal, 0);
  //                            cell: 1  2  3  4  5  6  7  8  9
  const int right[10] = {0, 2, 0, 0, 0, 6, 0, 8, 9, 0};
  const int left[10] = {0, 0, 1, 0, 0, 0, 5, 0, 7, 8};
  const int below[10] = {0, 4, 0, 6, 7, 9, 0, 0, 0, 0};
  const int above[10] = {0, 0, 0, 0, 1, 0, 3, 4, 0, 5};
  const overland_state& ov = ms_->overland;
  for (int i = 1; i <= 9; ++i) {
    EXPECT_EQ(ov.rightcon[i], right[i]) << "cell " << i;
    EXPECT_EQ(ov.leftcon[i], left[i]) << "cell " << i;
    EXPECT_EQ(ov.belowcon[i], below[i]) << "cell " << i;
    EXPECT_EQ(ov.abovecon[i], above[i]) << "cell " << i;
    // Without dikes a face is open exactly where the neighbour exists.
    EXPECT_EQ(ov.ov_face_open_x[i], right[i] != 0) << "cell " << i;
    EXPECT_EQ(ov.ov_face_open_y[i], below[i] != 0) << "cell " << i;
  }
}

TEST_F(Connectivity, SuperQuietRunBuildsTheSameNeighboursWithoutItsLine) {
  set_grid({"1 1", "1 1"});
  ms_->super_quiet = 1;
  connect();
  EXPECT_EQ(out_, "");
  const overland_state& ov = ms_->overland;
  EXPECT_EQ(ov.rightcon[1], 2);
  EXPECT_EQ(ov.belowcon[2], 4);
  EXPECT_EQ(ov.leftcon[4], 3);
  EXPECT_EQ(ov.abovecon[3], 1);
}

// A dike closes the right face of a cell with side code 2 and the lower face with code 4; a
// code on the top or left side closes none of the cell's own faces, and with the dike switch
// off no face is closed.
TEST_F(Connectivity, DikeSidesCloseTheCellsOwnRightAndLowerFaces) {
  set_grid({"1 1 1", "1 1 1"});
  // cell:    1  2  3  4  5  6
  set_dikes({2, 4, 6, 9, 15, 0});
  connect();
  const overland_state& ov = ms_->overland;
  const int open_x[7] = {0, 0, 1, 0, 1, 0, 0};
  const int open_y[7] = {0, 1, 0, 0, 0, 0, 0};
  for (int i = 1; i <= 6; ++i) {
    EXPECT_EQ(ov.ov_face_open_x[i], open_x[i]) << "cell " << i;
    EXPECT_EQ(ov.ov_face_open_y[i], open_y[i]) << "cell " << i;
  }
  ms_->overland.dike_map_on = 0;
  connect();
  EXPECT_EQ(ov.ov_face_open_x[1], 1);
  EXPECT_EQ(ov.ov_face_open_y[2], 1);
}

// One low-spot case: the dike codes and elevations of the four cells of a 2 x 2 grid
// (cells 1 2 / 3 4), the low spot, and the lines expected (empty: the low spot passes).
struct lowspot_case {
  const char* name;
  int dikes[4];
  double elev[4];
  lowspot_record spot;
  std::string message;
};

const std::string crest_lines =
    "\nThe elevation of the overland flow dike low spot you specified in the grid\n"
    "cell located at row 1 col 1 is 9.500000 m.  This elevation is lower than the\n";

const lowspot_case lowspot_cases[] = {
    {"a crest above both cells passes",
     {2, 8, 0, 0},
     {10, 10, 10, 10},
     {1, 1, 2, 0.5, 10.5, 0},
     ""},
    {"fraction 1.5 passes", {2, 8, 0, 0}, {10, 10, 10, 10}, {1, 1, 2, 1.5, 10.5, 0}, ""},
    {"a fraction of 0.0 passes", {4, 0, 1, 0}, {10, 10, 10, 10}, {1, 1, 4, 0.0, 10.5, 0}, ""},
    {"a crest at the cell's elevation passes",
     {2, 8, 0, 0},
     {10, 9, 9, 9},
     {1, 1, 2, 0.5, 10.0, 0},
     ""},
    {"a low spot on the left side", {2, 8, 0, 0}, {9, 9, 9, 9}, {1, 2, 8, 1.0, 9.0, 0}, ""},
    {"fraction above 1.5",
     {2, 8, 0, 0},
     {10, 10, 10, 10},
     {1, 1, 2, 1.51, 10.5, 0},
     "\nThe fraction of the grid-size specified for the lowspot in the grid at\n"
     "row 1 col 1 is unreasonable, with a value of 1.510000.  Acceptable\n"
     " values range from 0.0 to 1.5.  Change the value.  Program terminated.\n"},
    {"negative fraction",
     {2, 8, 0, 0},
     {10, 10, 10, 10},
     {2, 2, 2, -0.1, 10.5, 0},
     "\nThe fraction of the grid-size specified for the lowspot in the grid at\n"
     "row 2 col 2 is unreasonable, with a value of -0.100000.  Acceptable\n"
     " values range from 0.0 to 1.5.  Change the value.  Program terminated.\n"},
    {"side code 3",
     {2, 8, 0, 0},
     {10, 10, 10, 10},
     {1, 1, 3, 0.5, 10.5, 0},
     "\nThe low spot flow direction specified in row 1 col 1 in the file spots.txt\n"
     "is not valid.  The only possible directions are: 1- top boundary, 2- right\n"
     "boundary, 4- bottom boundary, or 8- left boundary.\n"
     "Edit your lowspot file and try again.  Program terminated.\n"},
    {"no dike on the cell",
     {2, 8, 0, 0},
     {10, 10, 10, 10},
     {2, 1, 2, 0.5, 10.5, 0},
     "\nYou have specified an overland flow dike in row 2 col 1\n"
     "There is no dike adjacent to this grid cell.  Program stopped.\n"},
    {"a side on the grid's edge",
     {2, 2, 0, 0},
     {10, 10, 10, 10},
     {1, 2, 2, 0.5, 10.5, 0},
     "\nYou have specified a low spot on the right boundary of the grid\n"
     "cell at row 1 col 2.  Either the side you have specified is not on\n"
     "an overland flow dike, or the cell on the other side is out of the\n"
     "watershed.  Check your low spot file.  Program terminated.\n"},
    {"no dike on the cell across",
     {6, 8, 0, 0},
     {10, 10, 10, 10},
     {1, 1, 4, 0.5, 10.5, 0},
     "\nYou have specified a low spot on the bottom boundary of the grid\n"
     "cell at row 1 col 1.  Either the side you have specified is not on\n"
     "an overland flow dike, or the cell on the other side is out of the\n"
     "watershed.  Check your low spot file.  Program terminated.\n"},
    {"a top side with no cell above",
     {1, 0, 0, 0},
     {10, 10, 10, 10},
     {1, 1, 1, 0.5, 10.5, 0},
     "\nYou have specified a low spot on the top boundary of the grid\n"
     "cell at row 1 col 1.  Either the side you have specified is not on\n"
     "an overland flow dike, or the cell on the other side is out of the\n"
     "watershed.  Check your low spot file.  Program terminated.\n"},
    {"crest below the cell",
     {2, 8, 0, 0},
     {10, 9, 9, 9},
     {1, 1, 2, 0.5, 9.5, 0},
     crest_lines +
         "elevation of the grid cell, which is 10.000000 m.  This situation is impossible.\n"
         "Please raise the low spot elevation to be greater than the grid cell elevation.\n"
         "Dike / low spot on right side of cell\n"
         "Program terminated\n"},
    {"crest below the cell across",
     {4, 0, 1, 0},
     {9, 9, 11, 9},
     {1, 1, 4, 0.5, 9.5, 0},
     crest_lines +
         "elevation of the grid cell on the other side of the dike, which is 11.000000 m.\n"
         "This situation is impossible.  Please raise the low spot elevation to be\n"
         "greater than the grid cell elevation.\n"
         "Dike / low spot on bottom side of cell\n"
         "Program terminated\n"},
    {"along the dike, right",
     {2, 4, 0, 0},
     {10, 10, 10, 10},
     {1, 1, 2, 0.5, 10.5, 0},
     "\nThe low spot you have specified in the grid at row 1  col 1 does not\n"
     "cross the dike.  Rather, it runs _along_ the dike.  You specified flow\n"
     "at this low spot across the right boundary of the cell, while the dike\n"
     "is running in a different direction than along the right side of the cell.\n"
     "Program terminated.\n"},
    {"along the dike, bottom",
     {4, 0, 2, 0},
     {10, 10, 10, 10},
     {1, 1, 4, 0.5, 10.5, 0},
     "\nThe low spot you have specified in the grid at row 1  col 1 does not\n"
     "cross the dike.  Rather, it runs _along_ the dike.  You specified flow\n"
     "at this low spot across the bottom boundary of the cell, while the dike\n"
     "is running in a different direction than along the bottom of the cell.\n"
     "Program terminated.\n"},
    {"along the dike, top",
     {2, 0, 1, 0},
     {10, 10, 10, 10},
     {2, 1, 1, 0.5, 10.5, 0},
     "\nThe low spot you have specified in the grid at row 2  col 1 does not\n"
     "cross the dike.  Rather, it runs _along_ the dike.  You specified flow\n"
     "at this low spot across the top boundary of the cell, while the dike\n"
     "is running in a different direction than along the top of the cell.\n"
     "Program terminated.\n"},
    {"along the dike, left",
     {1, 8, 0, 0},
     {10, 10, 10, 10},
     {1, 2, 8, 0.5, 10.5, 0},
     "\nThe low spot you have specified in the grid at row 1  col 2 does not\n"
     "cross the dike.  Rather, it runs _along_ the dike.  You specified flow\n"
     "at this low spot across the left boundary of the cell, while the dike\n"
     "is running in a different direction than along the left side of the cell.\n"
     "Program terminated.\n"},
};

TEST_F(Connectivity, EachLowSpotCheckPassesOrStopsTheRunWithItsMessage) {
  for (const lowspot_case& c : lowspot_cases) {
    SCOPED_TRACE(c.name);
    process_state_.reset();
    ms_ = std::make_unique<model_state>();
    set_grid({"1 1", "1 1"}, {c.elev[0], c.elev[1], c.elev[2], c.elev[3]});
    set_dikes({c.dikes[0], c.dikes[1], c.dikes[2], c.dikes[3]});
    set_lowspots({c.spot});
    connect();
    // The report of the stop closes the message with a newline.
    const std::string expected = "building cell to cell connectivity information\n" + c.message +
                                 (c.message.empty() ? "" : "\n");
    EXPECT_EQ(out_, expected);
    EXPECT_EQ(run_error.error_fatal, c.message.empty() ? 0 : 1);
    EXPECT_EQ(run_error.error_code, 0);  // reported at once
    EXPECT_EQ(ms_->overland.lowspots[1].flow, 0.0);
  }
}

// The low spots are checked in file order; the first that fails stops the checks, so the ones
// after it keep their flow, and no check runs without the low-spot file or the dike map.
TEST_F(Connectivity, LowSpotChecksStopAtTheFirstFailureAndNeedDikesAndLowSpots) {
  set_grid({"1 1", "1 1"}, {10, 10, 10, 10});
  set_dikes({2, 8, 0, 0});
  set_lowspots({{1, 1, 2, 0.5, 10.5, 0}, {1, 1, 2, 0.5, 9.0, 0}, {1, 1, 2, 9.0, 10.5, 0}});
  connect();
  EXPECT_TRUE(contains(out_, "is 9.000000 m.  This elevation is lower than the\n"));
  EXPECT_FALSE(contains(out_, "unreasonable"));
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(ms_->overland.lowspots[1].flow, 0.0);
  EXPECT_EQ(ms_->overland.lowspots[2].flow, 0.0);
  EXPECT_EQ(ms_->overland.lowspots[3].flow, 7.0);

  for (int off = 0; off < 2; ++off) {
    process_state_.reset();
    ms_->overland.dike_map_on = off == 0 ? 0 : 1;
    ms_->overland.lowspot_on = off == 0 ? 1 : 0;
    connect();
    EXPECT_EQ(out_, "building cell to cell connectivity information\n");
    EXPECT_EQ(run_error.error_fatal, 0);
  }
}

// Bed slopes of a grid with holes, with dx = 10 m, computed by hand:
//   1 2 .        z: 10.0  9.0   .
//   3 4 5           8.0   7.5  7.2
//   . 6 .            .    6.5   .
// x: cell 1 (10 - 9) / 10 = 0.1, cell 2 has no right neighbour and takes 0.1; cell 3
//    (8 - 7.5) / 10 = 0.05, cell 4 (7.5 - 7.2) / 10 = 0.03, cells 5 and 6 take 0.03.
// y: cell 1 (10 - 8) / 10 = 0.2, which cell 3 (nothing below) takes too; cell 2
//    (9 - 7.5) / 10 = 0.15; cell 4 (7.5 - 6.5) / 10 = 0.1, which cell 6 (the outlet on the
//    lower edge) takes too; cell 5 has no neighbour above or below and keeps 0.
TEST_F(Connectivity, BedSlopesMatchAHandComputationAtEdgesHolesAndTheOutlet) {
  set_grid({"1 1 0", "1 1 1", "0 1 0"}, {10.0, 9.0, 8.0, 7.5, 7.2, 6.5});
  ms_->gridsize = 10.0;
  connect();
  compute_overland_slopes(*ms_);
  const double sx[7] = {0, 0.1, 0.1, 0.05, 0.03, 0.03, 0.03};
  const double sy[7] = {0, 0.2, 0.15, 0.2, 0.1, 0.0, 0.1};
  const overland_state& ov = ms_->overland;
  ASSERT_EQ(ov.ov_slope_x.count(), 6);
  ASSERT_EQ(ov.ov_slope_y.count(), 6);
  for (int i = 1; i <= 6; ++i) {
    EXPECT_NEAR(ov.ov_slope_x[i], sx[i], 1e-12) << "cell " << i;
    EXPECT_NEAR(ov.ov_slope_y[i], sy[i], 1e-12) << "cell " << i;
  }
  // A second computation over the same arrays gives the same slopes.
  compute_bed_slopes(6, 10.0, ms_->cell_elev, ov.rightcon, ov.belowcon, ms_->overland.ov_slope_x,
                     ms_->overland.ov_slope_y);
  EXPECT_NEAR(ov.ov_slope_y[5], 0.0, 1e-12);
  EXPECT_NEAR(ov.ov_slope_x[2], 0.1, 1e-12);
}

// A watershed one cell wide: no cell has a right neighbour, so every x slope is that of
// cell 0 (0); the y slopes run down the column and the last cell takes the one above it.
TEST_F(Connectivity, OneCellWideColumnHasNoXSlopeAndItsLastCellTakesTheYSlopeAbove) {
  set_grid({"0 1 0", "0 1 0", "0 1 0"}, {5.0, 4.0, 2.0});
  ms_->gridsize = 2.0;
  connect();
  compute_overland_slopes(*ms_);
  const overland_state& ov = ms_->overland;
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(ov.rightcon[i], 0);
    EXPECT_EQ(ov.leftcon[i], 0);
    EXPECT_EQ(ov.ov_slope_x[i], 0.0);
  }
  EXPECT_DOUBLE_EQ(ov.ov_slope_y[1], 0.5);
  EXPECT_DOUBLE_EQ(ov.ov_slope_y[2], 1.0);
  EXPECT_DOUBLE_EQ(ov.ov_slope_y[3], 1.0);
}

// The small example watershed with a dike between columns 5 and 6 of row 5, read from its
// files by the real program: a crest above both cells runs to its end, a crest below the dike
// cell stops the run at start-up with the message and a nonzero exit status.
TEST(ConnectivityRun, SmallWatershedWithADikeLowSpotRunsOrStopsOnItsCrest) {
  torva_test::temp_dir dir;
  const std::string example = std::string(TORVA_SOURCE_DIR) + "/examples/small";
  for (const char* name :
       {"small.prj", "small_mask.asc", "small_elev.asc", "small_conductivity.asc",
        "small_capillary.asc", "small_porosity.asc", "small_moisture.asc"})
    torva_test::write_file(dir.file(name), torva_test::read_file(example + "/" + name));
  // The dike map: cell (5, 5) has a dike on its right side, cell (5, 6) on its left side.
  std::string dikes = torva_test::grid_header(10, 12, 1300.0, 1000.0, 2360.0, 2000.0);
  for (int r = 1; r <= 10; ++r) {
    for (int c = 1; c <= 12; ++c) {
      const int code = r == 5 && c == 5 ? 2 : r == 5 && c == 6 ? 8 : 0;
      dikes += std::to_string(code) + (c < 12 ? " " : "\n");
    }
  }
  torva_test::write_file(dir.file("dike.asc"), dikes);
  torva_test::write_file(dir.file("small.prj"), torva_test::read_file(dir.file("small.prj")) +
                                                    "DIKE_MAP           dike.asc\n"
                                                    "LOWSPOT_FILE       spots.txt\n");

  // Cell (5, 5) lies at 103.40 m, cell (5, 6) at 103.00 m.
  torva_test::write_file(dir.file("spots.txt"), "LOWSPOT\nSPOT 5 5 2 0.5 103.5\n");
  const torva_test::command_result good =
      torva_test::run_command(torva_test::torva_exe(), {"small.prj"});
  EXPECT_EQ(good.status, 0) << good.out << good.err;
  EXPECT_TRUE(contains(good.out, "building cell to cell connectivity information\n"));
  EXPECT_FALSE(contains(good.out, "Program terminated"));

  torva_test::write_file(dir.file("spots.txt"), "LOWSPOT\nSPOT 5 5 2 0.5 103.2\n");
  const torva_test::command_result bad =
      torva_test::run_command(torva_test::torva_exe(), {"small.prj"});
  EXPECT_NE(bad.status, 0);
  EXPECT_TRUE(contains(bad.out,
                       "cell located at row 5 col 5 is 103.200000 m.  This elevation is lower "
                       "than the\nelevation of the grid cell, which is 103.400000 m."))
      << bad.out << bad.err;
  EXPECT_FALSE(contains(bad.out, "Running....")) << bad.out;
}

}  // namespace
