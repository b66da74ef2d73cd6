// The surface-input readers of read_maps: roughness, retention and interception from their maps
// or the mapping table with every bad value stopping the run, the overland boundary table, the
// wetlands, the snow, overland and soil-moisture hotstarts with the initial head, and the pipe
// network tied to the grid with its capacity limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "channel/channel_steps.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/surface_inputs.h"
#include "overland/overland_steps.h"
#include "subsurface/subsurface_steps.h"
#include "support/table_fixtures.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::grid_header;
using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::table_file;
using torva_test::table_row;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

using values = std::vector<double>;

// A 3 x 4 grid map: the values of its rows, the five watershed cells at (1,2) (1,3) (2,2)
// (3,1) (3,4), numbered 1..5 row by row.
std::string grid(const std::string& rows) {
  return grid_header(3, 4) + rows;
}
// A grid whose five watershed cells hold a..e (the other positions 0).
std::string cells(const std::string& a, const std::string& b, const std::string& c,
                  const std::string& d, const std::string& e) {
  return grid("0 " + a + " " + b + " 0\n0 " + c + " 0 0\n" + d + " 0 0 " + e + "\n");
}

// Cells 1, 2, 5 carry id 1, cells 3 and 4 id 2.
const std::string index_ids = grid("0 1 1 0\n0 2 0 0\n2 0 0 1\n");

class SurfaceInputsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    process_state_.reset();  // a test that starts over calls SetUp again
    ms_ = std::make_unique<model_state>();
    model_state& ms = *ms_;
    ms.rows = 3;
    ms.cols = 4;
    ms.gridsize = 30.0;
    ASSERT_TRUE(ms.index_map.allocate(4, 5));
    const int positions[5][2] = {{1, 2}, {1, 3}, {2, 2}, {3, 1}, {3, 4}};
    for (int c = 0; c < 5; ++c) ms.index_map[positions[c][0]][positions[c][1]] = c + 1;
    ms.cell_count = 5;
    ASSERT_TRUE(ms.cell_elev.allocate(5));
    const double elev[] = {10.5, 11.0, 10.0, 8.25, 7.0};
    for (int c = 1; c <= 5; ++c) ms.cell_elev[c] = elev[c - 1];
    write_file(dir_.file("lu.idx"), index_ids);
  }

  // Runs one reader, capturing the console, then lets the driver report a pending code.
  std::string run(void (*reader)(model_state&)) {
    stdout_capture capture;
    reader(*ms_);
    if (run_error.error_code > 0) error_report(run_error);
    return capture.stop();
  }
  // Writes `text` as `name` and opens it into `h` as the opening of the run files does.
  void open_map(file_handle& h, char* name_field, const char* name, const std::string& text) {
    write_file(dir_.file(name), text);
    copy_text(name_field, 1024, name);
    ASSERT_TRUE(file_handle_open(h, name, "r"));
  }
  void use_table(int present_index, const std::string& keyword, const std::string& rows) {
    write_file(dir_.file("map.cmt"), table_file(keyword, 2, rows));
    copy_text(ms_->input.names.mapping_table, 1024, "map.cmt");
    ms_->input.mapping_table_on = 1;
    ms_->input.table_present[present_index] = 1;
  }
  static values cells_of(const raw_array1d<double>& a) {
    values v;
    for (int c = 1; c <= a.count(); ++c) v.push_back(a[c]);
    return v;
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder and the model state
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
};

using SurfaceInputsRoughness = SurfaceInputsTest;
using SurfaceInputsRetention = SurfaceInputsTest;
using SurfaceInputsInterception = SurfaceInputsTest;
using SurfaceInputsBoundary = SurfaceInputsTest;
using SurfaceInputsWetlands = SurfaceInputsTest;
using SurfaceInputsHotstart = SurfaceInputsTest;
using SurfaceInputsSoilHotstart = SurfaceInputsTest;
using SurfaceInputsTileGrid = SurfaceInputsTest;

// ---------------------------------------------------------------- roughness

TEST_F(SurfaceInputsRoughness, MapValuesGoToTheirCellsWithTheReadingLineInTheSummary) {
  ms_->overland.roughness_on = 1;
  open_map(ms_->input.roughness_file, ms_->input.names.roughness, "n.asc",
           cells("0.1", "0.2", "0.03", "0.04", "0.05"));
  ASSERT_TRUE(file_handle_open(ms_->output.summary_file, "summary.out", "w"));
  const std::string out = run(read_roughness_map);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(cells_of(ms_->overland.ov_roughness), (values{0.1, 0.2, 0.03, 0.04, 0.05}));
  EXPECT_TRUE(contains(out, "reading roughness map from file: n.asc\n")) << out;
  EXPECT_FALSE(ms_->input.roughness_file.is_open());  // closed once read
  file_handle_close(ms_->output.summary_file);
  EXPECT_TRUE(
      contains(read_file(dir_.file("summary.out")), "reading roughness map from file: n.asc\n"));
}

TEST_F(SurfaceInputsRoughness, TableWhenTheMapFileIsNotOpen) {
  ms_->overland.roughness_on = 1;
  use_table(0, "ROUGHNESS", table_row(1, "0.035") + table_row(2, "0.12"));
  const std::string out = run(read_roughness_map);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(cells_of(ms_->overland.ov_roughness), (values{0.035, 0.035, 0.12, 0.12, 0.035}));
  EXPECT_TRUE(contains(out, "reading roughness table and map from master table file\n")) << out;
}

TEST_F(SurfaceInputsRoughness, UniformValueFillsEveryCell) {
  ms_->overland.manning_n = 0.045;
  const std::string out = run(read_roughness_map);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(cells_of(ms_->overland.ov_roughness), values(5, 0.045));
}

TEST_F(SurfaceInputsRoughness, ZeroNegativeOrMissingRoughnessStopsTheRun) {
  struct bad_case {
    const char* label;
    bool map;          // from a map, else the uniform value
    const char* cell;  // the map value of cell 3
    double uniform;
    const char* expected;
  };
  const bad_case cases[] = {
      {"uniform zero", false, "", 0.0,
       "\nInvalid spatially uniform overland flow Manning n value=0.000000\nTORVA exiting.\n"},
      {"uniform at the limit", false, "", 1e-6,
       "Invalid spatially uniform overland flow Manning n value=0.000001\n"},
      {"uniform negative", false, "", -0.03,
       "Invalid spatially uniform overland flow Manning n value=-0.030000\n"},
      {"map zero", true, "0.0", 0.0,
       "Overland Manning n=0 at grid cell 3.  Program terminating.\n"},
      {"map negative", true, "-0.02", 0.0,
       "Overland Manning n=-0.02 at grid cell 3 is not a positive number (from n.asc)."},
  };
  for (const bad_case& k : cases) {
    SCOPED_TRACE(k.label);
    SetUp();
    if (k.map) {
      ms_->overland.roughness_on = 1;
      open_map(ms_->input.roughness_file, ms_->input.names.roughness, "n.asc",
               cells("0.1", "0.2", k.cell, "0.04", "0.05"));
    } else {
      ms_->overland.manning_n = k.uniform;
    }
    const std::string out = run(read_roughness_map);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_TRUE(contains(out, k.expected)) << out;
  }
}

TEST_F(SurfaceInputsRoughness, MapFileNeitherOpenNorInTheTableIsAMissingRunFile) {
  ms_->overland.roughness_on = 1;
  copy_text(ms_->input.names.roughness, 1024, "gone.asc");
  const std::string out = run(read_roughness_map);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(contains(out, "Unable to open Manning roughness file")) << out;
  EXPECT_TRUE(contains(out, "gone.asc")) << out;
}

// ---------------------------------------------------------------- retention

TEST_F(SurfaceInputsRetention, DepthsInMillimetresBecomeMetresFromEverySource) {
  // Map.
  ms_->overland.reten_depth_on = 1;
  open_map(ms_->input.retention_file, ms_->input.names.reten_depth, "r.asc",
           cells("1", "2", "3", "4", "5"));
  std::string out = run(read_retention_map);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(cells_of(ms_->overland.ov_retention), (values{0.001, 0.002, 0.003, 0.004, 0.005}));
  EXPECT_TRUE(contains(out, "reading retention storage map from file: r.asc\n")) << out;

  // Table.
  SetUp();
  ms_->overland.reten_depth_on = 1;
  use_table(2, "RETENTION", table_row(1, "2.5") + table_row(2, "10"));
  out = run(read_retention_map);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(cells_of(ms_->overland.ov_retention), (values{0.0025, 0.0025, 0.01, 0.01, 0.0025}));
  EXPECT_TRUE(contains(out, "reading retention storage table and map from master table file\n"));

  // Uniform RETENTION value.
  SetUp();
  ms_->overland.retention_on = 1;
  ms_->overland.uniform_retention = 4.0;
  out = run(read_retention_map);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(cells_of(ms_->overland.ov_retention), values(5, 0.004));

  // Nothing given: no retention anywhere.
  SetUp();
  out = run(read_retention_map);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(cells_of(ms_->overland.ov_retention), values(5, 0.0));
}

TEST_F(SurfaceInputsRetention, NegativeDepthStopsTheRun) {
  ms_->overland.reten_depth_on = 1;
  open_map(ms_->input.retention_file, ms_->input.names.reten_depth, "r.asc",
           cells("1", "2", "3", "-4", "5"));
  std::string out = run(read_retention_map);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(contains(out, "retention depth (mm) -4 at grid cell 4 is negative")) << out;
  EXPECT_TRUE(contains(out, "r.asc")) << out;

  SetUp();
  ms_->overland.retention_on = 1;
  ms_->overland.uniform_retention = -1.0;
  out = run(read_retention_map);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(contains(out, "uniform retention depth -1 mm")) << out;
}

// ---------------------------------------------------------------- interception

TEST_F(SurfaceInputsInterception, MapsOrTheTableFillCapacityAndCoefficient) {
  ms_->overland.interception_on = 1;
  open_map(ms_->input.interception_file, ms_->input.names.storage_capacity, "cap.asc",
           cells("1", "2", "3", "4", "5"));
  open_map(ms_->input.interception_coeff_file, ms_->input.names.interception_coeff, "k.asc",
           cells("0", "0.1", "0.2", "0.3", "1"));
  std::string out = run(read_interception_maps);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(cells_of(ms_->overland.interception_capacity), (values{1, 2, 3, 4, 5}));
  EXPECT_EQ(cells_of(ms_->overland.interception_coeff), (values{0, 0.1, 0.2, 0.3, 1}));
  EXPECT_TRUE(contains(out, "reading interception storage from file: cap.asc\n"));
  EXPECT_TRUE(contains(out, "reading interception coeff. from file: k.asc\n"));

  // The table gives both columns; a map that is open replaces its own column only.
  SetUp();
  ms_->overland.interception_on = 1;
  use_table(1, "INTERCEPTION", table_row(1, "1.5 0.25") + table_row(2, "3 0.5"));
  open_map(ms_->input.interception_file, ms_->input.names.storage_capacity, "cap.asc",
           cells("1", "2", "3", "4", "5"));
  out = run(read_interception_maps);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(cells_of(ms_->overland.interception_capacity), (values{1, 2, 3, 4, 5}));
  EXPECT_EQ(cells_of(ms_->overland.interception_coeff), (values{0.25, 0.25, 0.5, 0.5, 0.25}));
  EXPECT_TRUE(
      contains(out, "reading interception coeff. table and map from the master table file\n"));
}

TEST_F(SurfaceInputsInterception, CoefficientAboveOneOrNegativeCapacityStopsTheRun) {
  struct bad_case {
    const char* capacity;
    const char* coeff;
    const char* expected;
  };
  const bad_case cases[] = {
      {"2", "1.5", "interception coefficient 1.5 at grid cell 2 is not between 0 and 1"},
      {"2", "-0.1", "interception coefficient -0.1 at grid cell 2 is not between 0 and 1"},
      {"-2", "0.5", "interception storage capacity (mm) -2 at grid cell 2 is negative"},
  };
  for (const bad_case& k : cases) {
    SCOPED_TRACE(k.expected);
    SetUp();
    ms_->overland.interception_on = 1;
    open_map(ms_->input.interception_file, ms_->input.names.storage_capacity, "cap.asc",
             cells("1", k.capacity, "3", "4", "5"));
    open_map(ms_->input.interception_coeff_file, ms_->input.names.interception_coeff, "k.asc",
             cells("0", k.coeff, "0.2", "0.3", "1"));
    const std::string out = run(read_interception_maps);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_TRUE(contains(out, k.expected)) << out;
  }
}

// ---------------------------------------------------------------- overland boundary

TEST_F(SurfaceInputsBoundary, WithoutTheTableError84AfterTheArraysAreAllocated) {
  ms_->overland.ov_boundary = 1;
  ms_->input.mapping_table_on = 1;
  stdout_capture capture;
  read_overland_boundary(*ms_);
  EXPECT_EQ(run_error.error_code, err_overland_boundary_table_missing);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(ms_->overland.boundary_type.count(), 5);
  EXPECT_EQ(ms_->overland.boundary_value.count(), 5);
  EXPECT_EQ(ms_->overland.boundary_param.count(), 5);
  error_report(run_error);
  EXPECT_TRUE(contains(capture.stop(), "OVERLAND_BOUNDARY table was not found"));
}

TEST_F(SurfaceInputsBoundary, TypeIsTheFirstValueTruncatedAndTheParameterTheSecond) {
  ms_->overland.ov_boundary = 1;
  use_table(12, "OVERLAND_BOUNDARY", table_row(1, "0 0") + table_row(2, "2.9 104.5"));
  const std::string out = run(read_overland_boundary);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  const int types[] = {0, 0, 2, 2, 0};
  for (int c = 1; c <= 5; ++c) EXPECT_EQ(ms_->overland.boundary_type[c], types[c - 1]) << c;
  EXPECT_EQ(cells_of(ms_->overland.boundary_param), (values{0, 0, 104.5, 104.5, 0}));
  EXPECT_EQ(cells_of(ms_->overland.boundary_value), (values{0, 0, 2.9, 2.9, 0}));
}

TEST_F(SurfaceInputsBoundary, UnknownTypeStopsTheRun) {
  for (const char* type : {"6", "-1"}) {
    SCOPED_TRACE(type);
    SetUp();
    ms_->overland.ov_boundary = 1;
    use_table(12, "OVERLAND_BOUNDARY",
              table_row(1, "1 0.01") + table_row(2, std::string(type) + " 3"));
    const std::string out = run(read_overland_boundary);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_TRUE(contains(
        out, "gives grid cell 3 the boundary type " + std::string(type) + "; the types are 0 to 5"))
        << out;
  }
}

// ---------------------------------------------------------------- wetlands

TEST_F(SurfaceInputsWetlands, TableAndIndexMapNumberTheWetlandCells) {
  write_file(dir_.file("map.cmt"), table_file("WETLAND_PROPERTIES", 2,
                                              table_row(4, "100 200 8640 300 86400 7 50") +
                                                  table_row(9, "10 20 864 30 8640 1 5")));
  write_file(dir_.file("lu.idx"), grid("0 9 0 0\n0 4 0 0\n9 0 0 0\n"));
  copy_text(ms_->input.names.mapping_table, 1024, "map.cmt");
  ms_->input.mapping_table_on = 1;
  ms_->input.wetland_table_on = 1;
  const std::string out = run(read_wetland_mask);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_TRUE(contains(out, "Simulating wetlands\n")) << out;
  EXPECT_EQ(ms_->overland.wetland_count, 2);
  const int numbers[] = {1, 0, 2, 1, 0};  // id 9 met first
  for (int c = 1; c <= 5; ++c) EXPECT_EQ(ms_->overland.wetland_mask[c], numbers[c - 1]) << c;
  EXPECT_DOUBLE_EQ(ms_->overland.wetlands[2].slot[0], 0.1);  // id 4: 100 mm
}

TEST_F(SurfaceInputsWetlands, NoTableNoWetlands) {
  const std::string out = run(read_wetland_mask);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_TRUE(ms_->overland.wetland_mask.empty());
  EXPECT_FALSE(contains(out, "Simulating wetlands"));
}

// ---------------------------------------------------------------- hotstarts

TEST_F(SurfaceInputsHotstart, OverlandHotstartFillsBothDepthsAndMarksWater) {
  ms_->cards.ov_init_depth_given = 1;
  open_map(ms_->output.read_ov_hotstart_file, ms_->cards.ov_init_depth, "ov.asc",
           cells("0", "0.25", "0", "1e-17", "0.5"));
  const std::string out = run(read_hotstart_maps);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_TRUE(contains(out, "reading overland hotstart map from file: ov.asc\n")) << out;
  EXPECT_EQ(cells_of(ms_->overland.ov_depth), (values{0, 0.25, 0, 1e-17, 0.5}));
  EXPECT_EQ(cells_of(ms_->overland.ov_depth_prev), (values{0, 0.25, 0, 1e-17, 0.5}));
  EXPECT_EQ(ms_->ov_water_present, 1);
}

TEST_F(SurfaceInputsHotstart, InitialHeadFloodsTheCellsBelowIt) {
  // Elevations 10.5 11 10 8.25 7: a head of 10.25 floods cells 3, 4 and 5.
  ms_->cards.init_elev_head_given = 1;
  ms_->cards.init_elev_head = 10.25;
  std::string out = run(read_hotstart_maps);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(cells_of(ms_->overland.ov_depth), (values{0, 0, 0.25, 2.0, 3.25}));
  EXPECT_EQ(cells_of(ms_->overland.ov_depth_prev), (values{0, 0, 0.25, 2.0, 3.25}));
  EXPECT_EQ(ms_->ov_water_present, 1);

  // Below every cell: all dry, no water flagged.
  SetUp();
  ms_->cards.init_elev_head_given = 1;
  ms_->cards.init_elev_head = 7.0;
  out = run(read_hotstart_maps);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(cells_of(ms_->overland.ov_depth), values(5, 0.0));
  EXPECT_EQ(ms_->ov_water_present, 0);
}

TEST_F(SurfaceInputsHotstart, SnowMapIsReadFromItsOwnFile) {
  ms_->cards.init_swe_kind = 1;
  copy_text(ms_->cards.init_swe_map, 1024, "swe.asc");
  write_file(dir_.file("swe.asc"), cells("0.1", "0", "0.2", "0", "0.05"));
  std::string out = run(read_hotstart_maps);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_TRUE(contains(out, "reading initial snow swe map from file: swe.asc\n")) << out;
  EXPECT_EQ(cells_of(ms_->subsurface.swe), (values{0.1, 0, 0.2, 0, 0.05}));
  EXPECT_EQ(ms_->ov_water_present, 0);  // snow is no overland water

  // A snow map that does not open is a missing input file.
  SetUp();
  ms_->cards.init_swe_kind = 1;
  copy_text(ms_->cards.init_swe_map, 1024, "nosnow.asc");
  out = run(read_hotstart_maps);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(contains(out, "Error: Unable to open initial snow swe file.")) << out;
}

TEST_F(SurfaceInputsHotstart, BadHotstartMapsStopTheRun) {
  struct bad_case {
    const char* label;
    std::string text;
    const char* expected;
  };
  const bad_case cases[] = {
      {"negative depth", cells("0", "0.25", "-0.1", "0", "0"),
       "overland hotstart depth (m) -0.1 at grid cell 3 is negative or not a number (from "
       "ov.asc)"},
      {"wrong size", grid_header(2, 4) + "0 1 1 0\n0 1 0 0\n", "ov.asc"},
      {"short file", grid("0 1 1 0\n0 1 0 0\n"), "ov.asc"},
  };
  for (const bad_case& k : cases) {
    SCOPED_TRACE(k.label);
    SetUp();
    ms_->cards.ov_init_depth_given = 1;
    open_map(ms_->output.read_ov_hotstart_file, ms_->cards.ov_init_depth, "ov.asc", k.text);
    const std::string out = run(read_hotstart_maps);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_TRUE(contains(out, k.expected)) << out;
  }
}

// ---------------------------------------------------------------- soil moisture hotstart

TEST_F(SurfaceInputsSoilHotstart, MoistureGoesToTheArraysOfTheScheme) {
  const std::string map = cells("0.1", "0.2", "0.3", "0.4", "0.45");
  const values expected{0.1, 0.2, 0.3, 0.4, 0.45};

  // Green and Ampt: the initial moisture.
  ms_->cards.read_sm_hotstart_given = 1;
  ms_->subsurface.green_ampt = 1;
  open_map(ms_->output.read_sm_hotstart_file, ms_->cards.read_sm_hotstart, "sm.asc", map);
  std::string out = run(read_soil_moisture_hotstart);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_TRUE(contains(out, "reading soil moisture hotstart map from file: sm.asc\n")) << out;
  EXPECT_EQ(cells_of(ms_->subsurface.theta_init), expected);
  EXPECT_TRUE(ms_->subsurface.redist_front_theta.empty());

  // Redistribution: the initial moisture and both moisture arrays of the scheme.
  SetUp();
  ms_->cards.read_sm_hotstart_given = 1;
  ms_->subsurface.inf_redist = 1;
  open_map(ms_->output.read_sm_hotstart_file, ms_->cards.read_sm_hotstart, "sm.asc", map);
  out = run(read_soil_moisture_hotstart);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(cells_of(ms_->subsurface.theta_init), expected);
  EXPECT_EQ(cells_of(ms_->subsurface.redist_front_theta), expected);
  EXPECT_EQ(cells_of(ms_->subsurface.surf_moist), expected);

  // Richards and layered soil: the first node or layer of each cell, the others untouched.
  SetUp();
  ms_->cards.read_sm_hotstart_given = 1;
  ms_->subsurface.inf_richards = 1;
  ms_->subsurface.inf_layered_soil = 1;
  ASSERT_TRUE(ms_->subsurface.THETA.allocate(5, 3));
  ASSERT_TRUE(ms_->subsurface.THETA_ML.allocate(5, 3));
  std::fill_n(ms_->subsurface.THETA.data(), ms_->subsurface.THETA.element_count(), -1.0);
  open_map(ms_->output.read_sm_hotstart_file, ms_->cards.read_sm_hotstart, "sm.asc", map);
  out = run(read_soil_moisture_hotstart);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  for (int c = 1; c <= 5; ++c) {
    EXPECT_EQ(ms_->subsurface.THETA[c][1], expected[c - 1]);
    EXPECT_EQ(ms_->subsurface.THETA[c][2], -1.0);
    EXPECT_EQ(ms_->subsurface.THETA_ML[c][1], expected[c - 1]);
  }
}

TEST_F(SurfaceInputsSoilHotstart, ImpossibleContentOrMissingColumnsStopTheRun) {
  ms_->cards.read_sm_hotstart_given = 1;
  ms_->subsurface.green_ampt = 1;
  open_map(ms_->output.read_sm_hotstart_file, ms_->cards.read_sm_hotstart, "sm.asc",
           cells("0.1", "1.2", "0.3", "0.4", "0.45"));
  std::string out = run(read_soil_moisture_hotstart);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(contains(out,
                       "soil moisture 1.2 at grid cell 2 of the soil moisture hotstart map "
                       "sm.asc is not a water content between 0 and 1"))
      << out;

  // Richards on but its soil columns never made: nothing to write into.
  SetUp();
  ms_->cards.read_sm_hotstart_given = 1;
  ms_->subsurface.inf_richards = 1;
  open_map(ms_->output.read_sm_hotstart_file, ms_->cards.read_sm_hotstart, "sm.asc",
           cells("0.1", "0.2", "0.3", "0.4", "0.45"));
  out = run(read_soil_moisture_hotstart);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(contains(out, "the Richards soil columns are not set up")) << out;
}

// ---------------------------------------------------------------- tile-drain pipe grid

TEST_F(SurfaceInputsTileGrid, NetworkLimitsAreCheckedInOrder) {
  struct limit_case {
    int junctions;
    int max_nodes;
    int links;
    int code;  // 0: accepted
  };
  const limit_case cases[] = {
      {1000, 1000, 1000, 0},
      {1001, 1, 1, err_superjunctions_too_many},
      {1, 1001, 1, err_superlink_nodes_too_many},
      {1, 1, 1001, err_superlinks_too_many},
      {1001, 1001, 1001, err_superjunctions_too_many},
      {1, 1001, 1001, err_superlink_nodes_too_many},
  };
  for (const limit_case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.junctions << " " << k.max_nodes << " " << k.links);
    SetUp();
    channel_state& ch = ms_->channel;
    ch.superlink_junction_count = k.junctions;
    ch.superlink_max_nodes = k.max_nodes;
    ch.superlink_count = k.links;
    ASSERT_TRUE(ch.superjunct_i.allocate(k.junctions));
    ASSERT_TRUE(ch.superjunct_j.allocate(k.junctions));
    map_tile_pipe_grid(*ms_);
    EXPECT_EQ(run_error.error_code, k.code);
    EXPECT_EQ(run_error.error_fatal, k.code == 0 ? 0 : 1);
    EXPECT_EQ(ch.superlink_junc_gnum.empty(), k.code != 0);
    if (k.code == 0) {
      EXPECT_EQ(ch.superlink_junc_gnum.count(), 1000);
    }
  }
}

TEST_F(SurfaceInputsTileGrid, JunctionsAndNodesTakeTheCellAboveThem) {
  channel_state& ch = ms_->channel;
  ch.superlink_junction_count = 3;
  ch.superlink_count = 2;
  ch.superlink_max_nodes = 2;
  ASSERT_TRUE(ch.superjunct_i.allocate(3));
  ASSERT_TRUE(ch.superjunct_j.allocate(3));
  ASSERT_TRUE(ch.inlet_type.allocate(3, 3));
  // Junction 1 at (3,4) = cell 5; junction 2 at (1,1), on the grid but off the watershed;
  // junction 3 an outfall holding channel link 7 and node 12, off the grid.
  const int junctions[3][3] = {{3, 4, 1}, {1, 1, 2}, {7, 12, 999}};
  for (int j = 1; j <= 3; ++j) {
    ch.superjunct_i[j] = junctions[j - 1][0];
    ch.superjunct_j[j] = junctions[j - 1][1];
    ch.inlet_type[0][j] = junctions[j - 1][2];
  }
  ASSERT_TRUE(ch.superlink_node_i.allocate(2, 2));
  ASSERT_TRUE(ch.superlink_node_j.allocate(2, 2));
  ch.superlink_node_i[1][1] = 1;  // (1,2) = cell 1
  ch.superlink_node_j[1][1] = 2;
  ch.superlink_node_i[2][1] = 2;  // (2,2) = cell 3
  ch.superlink_node_j[2][1] = 2;
  ch.superlink_node_i[1][2] = 1;  // (1,3) = cell 2
  ch.superlink_node_j[1][2] = 3;  // node 2 of link 2 left at (0,0): no cell
  ms_->cell_count = 5;
  map_tile_pipe_grid(*ms_);
  ASSERT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(ch.superlink_junc_gnum[1], 5);
  EXPECT_EQ(ch.superlink_junc_gnum[2], 0);
  EXPECT_EQ(ch.superlink_junc_gnum[3], 0);
  EXPECT_EQ(ch.superlink_node_gnum[1][1], 1);
  EXPECT_EQ(ch.superlink_node_gnum[2][1], 3);
  EXPECT_EQ(ch.superlink_node_gnum[1][2], 2);
  EXPECT_EQ(ch.superlink_node_gnum[2][2], 0);
  EXPECT_EQ(ch.superlink_tile_flow.row_count(), 2);
  EXPECT_EQ(ch.superlink_tile_flow.col_count(), 2);
  for (auto* a :
       {&ch.Q_tile_grid, &ch.vol_tile_grid, &ch.tilerecharge_to_gw, &ch.flow_to_superlink})
    EXPECT_EQ(a->count(), 5);
}

TEST_F(SurfaceInputsTileGrid, GrateInletOffTheGridStopsTheRun) {
  channel_state& ch = ms_->channel;
  ch.superlink_junction_count = 1;
  ch.superlink_count = 1;
  ASSERT_TRUE(ch.superjunct_i.allocate(1));
  ASSERT_TRUE(ch.superjunct_j.allocate(1));
  ASSERT_TRUE(ch.inlet_type.allocate(2, 1));
  ASSERT_TRUE(ch.superlink_node_i.allocate(2, 1));
  ASSERT_TRUE(ch.superlink_node_j.allocate(2, 1));
  ch.superjunct_i[1] = 2;
  ch.superjunct_j[1] = 2;
  ch.superlink_node_i[2][1] = 4;  // row 4 of a 3-row grid
  ch.superlink_node_j[2][1] = 1;
  ch.inlet_type[2][1] = 2;
  copy_text(ms_->input.names.storm_sewer, 1024, "net.slk");
  stdout_capture capture;
  map_tile_pipe_grid(*ms_);
  const std::string out = capture.stop();
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(contains(out,
                       "node 2 of superlink 1 of the superlink pipe network in net.slk has a "
                       "grate inlet at grid row 4, column 1, outside the 3 by 4 grid"))
      << out;
}

TEST_F(SurfaceInputsTileGrid, InitOpensTheNetworkAndGoesOnWithoutTheGridPipeFile) {
  ms_->channel.storm_sewer = 1;
  copy_text(ms_->input.names.storm_sewer, 1024, "net.slk");
  copy_text(ms_->input.names.grid_pipe, 1024, "none.gpi");
  // Two manholes at cells (1,2) and (2,2) joined by one sealed pipe: no tile drains, so no
  // grid-pipe file is needed.
  write_file(dir_.file("net.slk"),
             "CONNECT 1 1 2\n"
             "SJUNC 1 10 7 1 1 1 2 0.5 0.3\n"
             "SJUNC 2 9 6 1 0 2 2 0 0\n"
             "SLINK 1 1\n"
             "NODE 1 10 7 0 0 1 2 0 0\n"
             "NODE 2 9 6 0 0 2 2 0 0\n"
             "PIPE 1 1 0.5 0 0.01 0.013 100 0 0\n");
  std::string out = run(init_tile_pipe_grid);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_TRUE(contains(out, "\n No grid pipe file found")) << out;
  EXPECT_TRUE(contains(out, "read superlink pipe file, 2 junctions, 1 links\n")) << out;
  EXPECT_EQ(ms_->channel.Q_tile_grid.count(), 5);
  EXPECT_EQ(ms_->channel.superlink_junc_gnum[1], 1);
  EXPECT_EQ(ms_->channel.superlink_junc_gnum[2], 3);
  EXPECT_FALSE(ms_->channel.grid_pipe_file.is_open());

  // A file without records is no network: the run stops naming the file.
  SetUp();
  ms_->channel.storm_sewer = 1;
  copy_text(ms_->input.names.storm_sewer, 1024, "net.slk");
  write_file(dir_.file("net.slk"), "NETWORK\n");
  out = run(init_tile_pipe_grid);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(contains(out, "the superlink network file net.slk holds 0 superjunctions")) << out;

  // Without the network file: error 4 naming it.
  SetUp();
  ms_->channel.storm_sewer = 1;
  copy_text(ms_->input.names.storm_sewer, 1024, "missing.slk");
  out = run(init_tile_pipe_grid);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(contains(out, "Error: Unable to open superlink input file file.")) << out;
  EXPECT_TRUE(contains(out, "missing.slk")) << out;
  EXPECT_TRUE(ms_->channel.Q_tile_grid.empty());
}

TEST_F(SurfaceInputsTileGrid, NoStormSewerNoPipeGrid) {
  const std::string out = run(init_tile_pipe_grid);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_TRUE(out.empty()) << out;
  EXPECT_TRUE(ms_->channel.Q_tile_grid.empty());
}

}  // namespace
