// The input-reading driver with the watershed mask and the elevation: the cells numbered row by
// row into index_map, "maskmap", the grid-size check, the outlet cell, the reading lines, the
// per-process arrays, and every bad grid stopping the run with its message and the fatal flag.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/read_maps.h"
#include "input/watershed_mask.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::file_exists;
using torva_test::grid_header;
using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// 3 x 4 with 5 watershed cells.
const char* const mask_values =
    "0 1 1 0\n"
    "0 1 0 0\n"
    "1 0 0 1\n";
const char* const elevation_values =
    "9 10.5 11 9\n"
    "9 10 9 9\n"
    "8.25 9 9 7\n";

class ReadMapsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    process_state_.reset();  // a test that starts over calls SetUp again
    ms_ = std::make_unique<model_state>();
    ms_->rows = 3;
    ms_->cols = 4;
    ms_->gridsize = 30.0;
    ms_->grid_params.outrow = 3;
    ms_->grid_params.outcol = 4;
    ms_->overland.manning_n = 0.05;  // the roughness reader needs one for every run
    copy_text(ms_->input.names.watershed_mask, sizeof ms_->input.names.watershed_mask, "mask.asc");
    copy_text(ms_->input.names.elevation, sizeof ms_->input.names.elevation, "elev.asc");
    write_file(dir_.file("mask.asc"), grid_header(3, 4) + mask_values);
    write_file(dir_.file("elev.asc"), grid_header(3, 4) + elevation_values);
  }
  // Opens the mask, the elevation and the summary file, as the opening of the run files does.
  void open_files() {
    ASSERT_TRUE(file_handle_open(ms_->input.watershed_mask_file, "mask.asc", "r"));
    if (file_exists(dir_.file("elev.asc"))) {
      ASSERT_TRUE(file_handle_open(ms_->input.elevation_file, "elev.asc", "r"));
    }
    ASSERT_TRUE(file_handle_open(ms_->output.summary_file, "summary.out", "w"));
  }
  // Runs read_maps and then the driver's check; returns the console output.
  std::string run_read_maps() {
    open_files();
    stdout_capture capture;
    read_maps(*ms_);
    if (run_error.error_code > 0) error_report(run_error);
    return capture.stop();
  }
  // A groundwater run: uniform aquifer values and a boundary map without boundary cells.
  void groundwater_run() {
    subsurface_state& ss = ms_->subsurface;
    ss.gw_simulation = 1;  // comes with the initial water table, as the project copy sets it
    ss.water_table_on = 1;
    write_file(dir_.file("bound.asc"), grid_header(3, 4) + "0 0 0 0\n0 0 0 0\n0 0 0 0\n");
    copy_text(ms_->input.names.gw_boundfile, sizeof ms_->input.names.gw_boundfile, "bound.asc");
    ASSERT_TRUE(file_handle_open(ss.gw_boundfile_file, "bound.asc", "r"));
    ss.gw_unif_hycond_on = 1;
    ss.gw_unif_hycond = 3.6;
    ss.gw_unif_porosity_on = 1;
    ss.gw_unif_porosity = 0.3;
    // The initial water table and the aquifer bottom.
    write_file(dir_.file("wt.asc"), grid_header(3, 4) + "9 9 9 9\n9 9 9 9\n9 9 9 9\n");
    write_file(dir_.file("bottom.asc"), grid_header(3, 4) + "1 1 1 1\n1 1 1 1\n1 1 1 1\n");
    copy_text(ms_->input.names.water_table, sizeof ms_->input.names.water_table, "wt.asc");
    copy_text(ms_->input.names.aquifer_bottom, sizeof ms_->input.names.aquifer_bottom,
              "bottom.asc");
  }
  std::string summary() {
    file_handle_close(ms_->output.summary_file);
    return read_file(dir_.file("summary.out"));
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder and the model state
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
};

using WatershedMask = ReadMapsTest;
using ReadMaps = ReadMapsTest;

TEST_F(WatershedMask, NumbersTheCellsRowByRowAndWritesMaskmap) {
  const std::string out = run_read_maps();
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(ms_->cell_count, 5);
  const int numbered[5][6] = {{0, 0, 0, 0, 0, 0},
                              {0, 0, 1, 2, 0, 0},
                              {0, 0, 3, 0, 0, 0},
                              {0, 4, 0, 0, 5, 0},
                              {0, 0, 0, 0, 0, 0}};
  for (int r = 0; r <= 4; ++r)
    for (int c = 0; c <= 5; ++c) EXPECT_EQ(ms_->index_map[r][c], numbered[r][c]) << r << c;
  EXPECT_DOUBLE_EQ(ms_->watershed_area, 5 * 900.0);
  EXPECT_EQ(ms_->map_rows, 3);
  EXPECT_EQ(ms_->map_cols, 4);
  EXPECT_DOUBLE_EQ(ms_->map_north, 1090.0);

  EXPECT_EQ(read_file(dir_.file("maskmap")),
            "north:   1090.00\nsouth:   1000.00\neast:    620.00\nwest:    500.00\n"
            "rows:     3\ncols:     4\n"
            "0 1 2 0 \n0 3 0 0 \n4 0 0 5 \n");

  // The elevations of the five cells in cell order, and the outlet at row 3, column 4.
  const double elev[] = {10.5, 11.0, 10.0, 8.25, 7.0};
  for (int k = 1; k <= 5; ++k) EXPECT_DOUBLE_EQ(ms_->cell_elev[k], elev[k - 1]);
  EXPECT_EQ(ms_->outlet_cell, 5);

  const std::string lines =
      "reading watershed mask from file: mask.asc\n"
      "number of grid cells in watershed: 5\n"
      "reading elevation map from file: elev.asc\n"
      "outlet is in grid cell: 5\n";
  EXPECT_EQ(out, lines);
  EXPECT_EQ(summary(), lines);
}

TEST_F(WatershedMask, SuperQuietKeepsTheReadingLinesInTheSummaryOnly) {
  ms_->super_quiet = 1;
  const std::string out = run_read_maps();
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(out, "");
  EXPECT_TRUE(contains(summary(), "number of grid cells in watershed: 5\n"));
}

TEST_F(WatershedMask, GridSizeMustAgreeToATenthOfAMetre) {
  struct size_case {
    double ns, ew;    // cell sizes of the header against a GRIDSIZE of 30
    const char* dim;  // the dimension reported, or none when the sizes agree
  };
  const size_case cases[] = {
      {30.04, 30.04, nullptr},       // 300.41 and 300.01 both truncate to 300
      {30.0, 30.098, nullptr},       // 300.99 truncates to 300
      {29.95, 30.0, "north-south"},  // 299.51 truncates to 299
      {30.1, 31.0, "north-south"},   // north-south is tested first
      {30.0, 30.1, "east-west"},
  };
  for (const size_case& sc : cases) {
    SCOPED_TRACE(sc.ns);
    SetUp();
    write_file(dir_.file("mask.asc"), grid_header(3, 4, sc.ns, sc.ew) + mask_values);
    write_file(dir_.file("elev.asc"), grid_header(3, 4, sc.ns, sc.ew) + elevation_values);
    const std::string out = run_read_maps();
    if (sc.dim == nullptr) {
      EXPECT_EQ(run_error.error_fatal, 0) << out;
      EXPECT_EQ(ms_->cell_count, 5);
      continue;
    }
    char expected[512];
    snprintf(expected, sizeof expected,
             "\nThe grid size specified in the project file: %7.4f m differs from\n"
             "the %s dimension of the raster grid cells %7.4f m as calculated\n"
             "from the WATERSHED_MASK header.  Check your data to make sure they agree.\n"
             "TORVA terminating.\n\n\n",
             30.0, sc.dim, sc.dim[0] == 'n' ? sc.ns : sc.ew);
    EXPECT_TRUE(contains(out, expected)) << out;
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_FALSE(contains(out, "reading elevation map"));
  }

  // The lines are console lines under the quiet rule; the error stands in every case.
  SetUp();
  ms_->super_quiet = 1;
  write_file(dir_.file("mask.asc"), grid_header(3, 4, 31.0) + mask_values);
  const std::string out = run_read_maps();
  EXPECT_FALSE(contains(out, "grid size")) << out;
  EXPECT_EQ(run_error.error_fatal, 1);
}

TEST_F(WatershedMask, OutletOutsideTheMaskStopsUnlessChannelsAreExplicit) {
  const int positions[][2] = {{1, 1}, {0, 0}, {99, 2}, {2, -5}};
  for (const auto& pos : positions) {
    SCOPED_TRACE(pos[0]);
    SetUp();
    ms_->grid_params.outrow = pos[0];
    ms_->grid_params.outcol = pos[1];
    const std::string out = run_read_maps();
    EXPECT_TRUE(contains(out,
                         "\nThe outlet row and column you specified in the project file are not\n"
                         "inside the watershed mask.  Check the outlet row and column again, and\n"
                         "make sure they are correctly specified in the project file using the\n"
                         "OUTROW and OUTCOL project file cards.  TORVA terminating.\n\n"))
        << out;
    EXPECT_EQ(run_error.error_fatal, 1);
  }

  SetUp();
  ms_->grid_params.outrow = 1;
  ms_->grid_params.outcol = 1;
  // Explicit channels come with their network: one link of one computational node on cell 1.
  ms_->channel.chan_explic = 1;
  ms_->channel.stream_cell_on = 1;
  ms_->cards.non_ortho_channels_given = 1;
  write_file(dir_.file("c.chn"),
             "TORVA_CHAN\nALPHA 1\nBETA 1\nTHETA 1\nLINKS 1\nMAXNODES 2\nCONNECT 1 0 0\n"
             "LINK 1\nNODES 2\nDX 30\nTRAPEZOID\nMANNINGS_N 0.03\n"
             "NODE 1\nELEV 9.5\nXSEC\nBOTTOM_WIDTH 1\nSIDE_SLOPE 1\nNODE 2\nELEV 9.4\n");
  write_file(dir_.file("c.gst"),
             "GRIDSTREAMFILE\nSTREAMCELLS 1\nCELLIJ 1 2\nNUMNODES 1\nLINKNODE 1 1 1.0\n");
  ASSERT_TRUE(file_handle_open(ms_->channel.channel_input_file, "c.chn", "r"));
  ASSERT_TRUE(file_handle_open(ms_->input.stream_cell_file, "c.gst", "r"));
  const std::string out = run_read_maps();
  EXPECT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(ms_->outlet_cell, 0);
  EXPECT_TRUE(contains(out, "outlet is in grid cell: 0\n"));
}

TEST_F(WatershedMask, AMaskWithoutWatershedCellsStops) {
  write_file(dir_.file("mask.asc"), grid_header(3, 4) + "0 0 0 0\n0 0 0 0\n0 0 0 0\n");
  const std::string out = run_read_maps();
  EXPECT_TRUE(contains(out, "Warning: Map contains only zero values. Map: mask.asc\n"));
  EXPECT_TRUE(contains(out, "Error: the watershed mask mask.asc holds no watershed cell"));
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(ms_->cell_count, 0);
  EXPECT_FALSE(file_exists(dir_.file("maskmap")));
}

TEST_F(ReadMaps, BadGridsStopWithTheirMessage) {
  struct bad_case {
    const char* what;
    std::string mask;       // empty: the good mask
    std::string elevation;  // empty: the good elevation; "-": no file
    const char* message;
  };
  const bad_case cases[] = {
      {"mask rows", grid_header(4, 4) + mask_values + "0 0 0 0\n", "",
       "Incorrect number of rows in map: mask.asc\n"},
      {"elevation cols", "", grid_header(3, 5) + "1 2 3 4 5\n1 2 3 4 5\n1 2 3 4 5\n",
       "Incorrect number of columns in map: elev.asc\n"},
      {"grid size", grid_header(3, 4, 10.0) + mask_values, "",
       "the north-south dimension of the raster grid cells 10.0000 m"},
      {"non-numeric", "", grid_header(3, 4) + "9 10 11 9\n9 ten 9 9\n8 9 9 7\n",
       "Error: bad value \"ten\" in map elev.asc at row 2 column 2\n"},
      {"non-numeric mask", grid_header(3, 4) + "0 1 1 0\n0 y 0 0\n1 0 0 1\n", "",
       "Error: bad value \"y\" in map mask.asc at row 2 column 2\n"},
      {"short row", "", grid_header(3, 4) + "9 10 11 9\n9 10 9\n8 9 9 7\n",
       "Error: row 2 of map elev.asc holds 3 values where 4 are expected\n"},
      {"ends early", "", grid_header(3, 4) + "9 10 11 9\n9 10 9 9\n",
       "Unexpected end of file in file: elev.asc\n"},
      {"missing elevation", "", "-",
       "Error: Unable to open elevation data file.\n  (File: elev.asc)\n"},
  };
  for (const bad_case& bc : cases) {
    SCOPED_TRACE(bc.what);
    SetUp();
    if (!bc.mask.empty()) write_file(dir_.file("mask.asc"), bc.mask);
    if (bc.elevation == "-")
      std::remove(dir_.file("elev.asc").c_str());
    else if (!bc.elevation.empty())
      write_file(dir_.file("elev.asc"), bc.elevation);
    const std::string out = run_read_maps();
    EXPECT_TRUE(contains(out, bc.message)) << out;
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_EQ(run_error.error_code, 0);
    EXPECT_FALSE(contains(out, "outlet is in grid cell"));
  }
}

TEST_F(ReadMaps, AFailedMaskStopsBeforeTheElevation) {
  write_file(dir_.file("mask.asc"), grid_header(3, 4) + "0 1 1 0\n0 1 0 0\n");
  const std::string out = run_read_maps();
  EXPECT_TRUE(contains(out, "Unexpected end of file in file: mask.asc\n"));
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_FALSE(contains(out, "reading elevation map"));
  EXPECT_FALSE(file_exists(dir_.file("maskmap")));
  EXPECT_TRUE(ms_->cell_elev.empty());
}

TEST_F(ReadMaps, AProjectGridWithoutRowsOrColumnsStops) {
  for (const auto& [rows, cols] : {std::pair{0, 4}, std::pair{3, -1}}) {
    SetUp();
    ms_->rows = rows;
    ms_->cols = cols;
    const std::string out = run_read_maps();
    EXPECT_TRUE(contains(out, "ROWS and COLS must both be positive")) << out;
    EXPECT_EQ(run_error.error_fatal, 1);
  }
}

TEST_F(ReadMaps, ALongFileNameOfAMissingMapIsReportedWhole) {
  const std::string long_name = std::string(1000, 'e') + ".asc";
  copy_text(ms_->input.names.elevation, sizeof ms_->input.names.elevation, long_name.c_str());
  std::remove(dir_.file("elev.asc").c_str());
  const std::string out = run_read_maps();
  EXPECT_TRUE(
      contains(out, "Error: Unable to open elevation data file.\n  (File: " + long_name + ")\n"))
      << out.substr(0, 200);
  EXPECT_EQ(run_error.error_fatal, 1);
}

TEST_F(ReadMaps, PerProcessArraysFollowTheOptions) {
  // Without Richards, groundwater or explicit channels: no previous-head array, no R7 link.
  std::string out = run_read_maps();
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_TRUE(ms_->subsurface.PHEADOLD.empty());
  EXPECT_EQ(ms_->output.r7, nullptr);
  EXPECT_EQ(ms_->cell_elev.count(), 5);
  EXPECT_EQ(ms_->output.volp_scratch.count(), 5);
  EXPECT_EQ(ms_->subsurface.soil_type_grid.row_count(), 4);
  EXPECT_EQ(ms_->subsurface.soil_type_grid.col_count(), 5);
  EXPECT_EQ(ms_->transport.ov_con_trans, 0);

  // Groundwater: the previous heads of the five cells (no channel network, no Richards nodes).
  SetUp();
  groundwater_run();
  ms_->cards.r7_fluxes_given = 1;
  out = run_read_maps();
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(ms_->subsurface.PHEADOLD.count(), 5);
  ASSERT_NE(ms_->output.r7, nullptr);
  EXPECT_EQ(ms_->output.r7->num_segments, 0);

  // The nutrient sub-model switches overland constituent transport and the global transport
  // summaries on; channel constituent transport stays as the project set it.
  SetUp();
  ms_->transport.nutrients = 1;
  out = run_read_maps();
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(ms_->transport.ov_con_trans, 1);
  EXPECT_EQ(ms_->transport.con_active, 1);
  EXPECT_EQ(ms_->transport.chan_con_trans, 0);
}

TEST_F(ReadMaps, PreviousHeadsAreSizedOnlyOnceTheChannelNetworkIsSetUp) {
  // A run that stops at its overland hotstart, before the channel network is read, has no
  // channel node total yet and so no previous-head array either.
  groundwater_run();
  ms_->cards.ov_init_depth_given = 1;
  copy_text(ms_->cards.ov_init_depth, sizeof ms_->cards.ov_init_depth, "depth.asc");
  const std::string out = run_read_maps();
  ASSERT_TRUE(contains(out, "reading overland hotstart map from file: depth.asc\n")) << out;
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(ms_->subsurface.PHEADOLD.empty());
}

TEST_F(ReadMaps, PreviousHeadsHoldTheLargestOfTheCellChannelAndRichardsCounts) {
  struct size_case {
    const char* what;
    int richards, groundwater, channels;
    int chan_nodes, richards_nodes;
    int expected;  // 0: no array
  };
  const size_case cases[] = {
      {"cells", 0, 1, 0, 0, 0, 5},
      {"channel nodes", 0, 0, 1, 12, 7, 12},
      {"Richards nodes", 1, 0, 0, 3, 9, 9},
      {"none of the schemes", 0, 0, 0, 12, 9, 0},
  };
  for (const size_case& sc : cases) {
    SCOPED_TRACE(sc.what);
    SetUp();
    ms_->cell_count = 5;
    ms_->subsurface.inf_richards = sc.richards;
    ms_->subsurface.gw_simulation = sc.groundwater;
    ms_->channel.chan_explic = sc.channels;
    ms_->channel.chan_node_total = sc.chan_nodes;
    ms_->subsurface.richards_node_count = sc.richards_nodes;
    size_phead_old(*ms_);
    EXPECT_EQ(run_error.error_fatal, 0);
    if (sc.expected == 0) {
      EXPECT_TRUE(ms_->subsurface.PHEADOLD.empty());
    } else {
      ASSERT_EQ(ms_->subsurface.PHEADOLD.count(), sc.expected);
      EXPECT_DOUBLE_EQ(ms_->subsurface.PHEADOLD[sc.expected], 0.0);
    }
  }
}

TEST_F(ReadMaps, GreenAmptCellsStartFromTheMoistureMap) {
  // The working moisture (and the front and surface moisture of redistribution) are the values
  // of the MOISTURE map, which is read after the Green and Ampt parameters.
  const char* const moisture_values =
      "0 0.21 0.22 0\n"
      "0 0.23 0 0\n"
      "0.24 0 0 0.25\n";
  for (const int redistribution : {0, 1}) {
    SCOPED_TRACE(redistribution);
    SetUp();
    subsurface_state& ss = ms_->subsurface;
    input_state& in = ms_->input;
    (redistribution ? ss.inf_redist : ss.green_ampt) = 1;
    ss.moisture_on = 1;
    write_file(dir_.file("moist.asc"), grid_header(3, 4) + moisture_values);
    copy_text(in.names.moisture, sizeof in.names.moisture, "moist.asc");
    ASSERT_TRUE(file_handle_open(in.moisture_file, "moist.asc", "r"));
    if (redistribution) {
      ss.pore_index_on = 1;
      ss.residual_sat_on = 1;
      write_file(dir_.file("pore.asc"),
                 grid_header(3, 4) + "0 0.3 0.3 0\n0 0.3 0 0\n0.3 0 0 0.3\n");
      write_file(dir_.file("resid.asc"),
                 grid_header(3, 4) + "0 0.05 0.05 0\n0 0.05 0 0\n0.05 0 0 0.05\n");
      copy_text(in.names.pore_index, sizeof in.names.pore_index, "pore.asc");
      copy_text(in.names.residual_sat, sizeof in.names.residual_sat, "resid.asc");
      ASSERT_TRUE(file_handle_open(in.pore_index_file, "pore.asc", "r"));
      ASSERT_TRUE(file_handle_open(in.residual_sat_file, "resid.asc", "r"));
    }
    const std::string out = run_read_maps();
    ASSERT_EQ(run_error.error_fatal, 0) << out;
    ASSERT_TRUE(contains(out, "reading soil moisture map from file: moist.asc\n")) << out;
    for (int c = 1; c <= 5; ++c) {
      const double theta = 0.20 + 0.01 * c;
      EXPECT_DOUBLE_EQ(ss.theta_init[c], theta) << c;
      EXPECT_DOUBLE_EQ(ss.theta_work[c], theta) << c;
      if (!redistribution) continue;
      EXPECT_DOUBLE_EQ(ss.redist_front_theta[c], theta) << c;
      EXPECT_DOUBLE_EQ(ss.surf_moist[c], theta) << c;
    }
  }
}

}  // namespace
