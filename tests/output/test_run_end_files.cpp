// Files finished at the end of a run: the end marks of the map datasets, the optimisation file's
// run line, the adjusted elevation map and the hotstart maps that a later run reads back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "input/ascii_grid.h"
#include "output/datasets.h"
#include "output/output_steps.h"
#include "output/run_end_files.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::file_exists;
using torva_test::process_state_guard;
using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;

namespace {

// A 2 x 3 grid with four watershed cells:
//   1 2 0
//   0 3 4
std::unique_ptr<model_state> small_grid() {
  auto ms = std::make_unique<model_state>();
  ms->rows = ms->map_rows = ms->index_rows = 2;
  ms->cols = ms->map_cols = ms->index_cols = 3;
  ms->cell_count = 4;
  ms->gridsize = 10.0;
  ms->map_north = 1020.0;
  ms->map_south = 1000.0;
  ms->map_east = 530.0;
  ms->map_west = 500.0;
  ms->index_map.allocate(2, 3);
  const int cells[2][3] = {{1, 2, 0}, {0, 3, 4}};
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) ms->index_map[r][c] = cells[r - 1][c - 1];
  return ms;
}

void fill(raw_array1d<double>& a, std::initializer_list<double> values) {
  a.allocate(static_cast<int>(values.size()));
  int i = 1;
  for (double v : values) a[i++] = v;
}

// Reads a per-cell map back with the model's own grid reader.
raw_array1d<double> read_back(model_state& ms, const std::string& name) {
  file_handle h;
  EXPECT_TRUE(file_handle_open(h, name.c_str(), "r")) << name;
  raw_array1d<double> values;
  values.allocate(ms.cell_count);
  double north = 0, south = 0, east = 0, west = 0;
  int rows = 0, cols = 0;
  read_ascii_map(h, name.c_str(), map_store_cell_double, north, south, east, west, rows, cols,
                 ms.index_map, &values, nullptr, nullptr, ms.map_rows, ms.map_cols);
  EXPECT_EQ(run_error.error_code, 0) << name;
  EXPECT_DOUBLE_EQ(north, ms.map_north);
  EXPECT_DOUBLE_EQ(west, ms.map_west);
  return values;
}

}  // namespace

TEST(RunEndFiles, EnabledMapDatasetsEndWithTheMarkOfTheirFormat) {
  struct row {
    int map_type;
    const char* mark;  // the bytes after the last frame; null: nothing at all
    int mark_size;
  };
  const row rows[] = {
      {1, "ENDDS\n", 6},
      {2, "\xd2\x00\x00\x00", 4},  // 210 as a 4-byte little-endian integer
      {0, nullptr, 0},             // grid files per frame: no datasets to end
  };
  for (const row& r : rows) {
    process_state_guard guard;
    temp_dir dir;
    auto ms = small_grid();
    ms->grid_params.map_type = r.map_type;
    fill(ms->overland.ov_depth, {0.1, 0.2, 0.3, 0.4});
    const bool binary = r.map_type == 2;
    map_outputs_state& mo = ms->output.maps;
    // The depth dataset is on; the discharge dataset is open but switched off.
    for (int kind : {dataset_depth, dataset_discharge}) {
      const std::string name = std::string(map_dataset_name(kind)) + ".dat";
      ASSERT_TRUE(binary ? write_binary_dataset_header(name.c_str(), mo.dataset_file[kind],
                                                       1010 + kind, map_dataset_name(kind), 2, 3)
                         : write_ascii_dataset_header(name.c_str(), mo.dataset_file[kind],
                                                      1010 + kind, map_dataset_name(kind), 2, 3));
      write_map_dataset_step(mo.dataset_file[kind], 5.0, 2, 3, ms->index_map,
                             ms->overland.ov_depth.data(), binary);
      fflush(mo.dataset_file[kind].fp);
    }
    mo.dataset_on[dataset_depth] = 1;
    const std::string depth_before = read_file("depth.dat");
    const std::string discharge_before = read_file("discharge.dat");

    EXPECT_TRUE(write_run_end_maps(*ms));
    file_handle_close(mo.dataset_file[dataset_depth]);
    file_handle_close(mo.dataset_file[dataset_discharge]);

    const std::string depth = read_file("depth.dat");
    const std::string expected_mark = r.mark ? std::string(r.mark, r.mark_size) : std::string();
    ASSERT_EQ(depth.size(), depth_before.size() + expected_mark.size()) << r.map_type;
    EXPECT_EQ(depth.compare(0, depth_before.size(), depth_before), 0) << r.map_type;
    for (std::size_t i = 0; i < expected_mark.size(); ++i)
      EXPECT_EQ(static_cast<unsigned char>(depth[depth_before.size() + i]),
                static_cast<unsigned char>(expected_mark[i]))
          << "map type " << r.map_type << " byte " << i;
    EXPECT_EQ(read_file("discharge.dat"), discharge_before) << r.map_type;
  }
}

// Every map dataset that gets frames during the run gets its end mark, the snow water
// equivalent and the sediment maps too, each once.
TEST(RunEndFiles, EveryDatasetWithFramesIsClosedByItsEndMark) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = small_grid();
  ms->grid_params.map_type = 1;
  ms->transport.sediment.soil_erosion = 1;
  fill(ms->overland.ov_depth, {0.1, 0.2, 0.3, 0.4});
  map_outputs_state& mo = ms->output.maps;
  const int kinds[] = {dataset_depth,
                       dataset_snow_water_equivalent,
                       dataset_discharge,
                       dataset_groundwater_head,
                       dataset_rain,
                       dataset_gw_recharge_cum,
                       dataset_gw_recharge_inc,
                       dataset_infiltrated_depth,
                       dataset_infiltration_rate,
                       dataset_surface_moisture,
                       dataset_sediment_flux,
                       dataset_sediment_volume,
                       dataset_suspended_sediment};
  for (int kind : kinds) {
    const std::string name = std::string(map_dataset_name(kind)) + ".dat";
    ASSERT_TRUE(write_ascii_dataset_header(name.c_str(), mo.dataset_file[kind], 1010 + kind,
                                           map_dataset_name(kind), 2, 3));
    write_map_dataset_step(mo.dataset_file[kind], 5.0, 2, 3, ms->index_map,
                           ms->overland.ov_depth.data(), false);
    mo.dataset_on[kind] = 1;
  }
  EXPECT_TRUE(write_run_end_maps(*ms));
  for (int kind : kinds) {
    file_handle_close(mo.dataset_file[kind]);
    const std::string text = read_file(std::string(map_dataset_name(kind)) + ".dat");
    EXPECT_EQ(text.find("ENDDS\n"), text.size() - 6) << map_dataset_name(kind);
  }
}

TEST(RunEndFiles, TheOptimisationFileGetsTheRunTotalAndIsClosed) {
  struct row {
    int qout_cfs;
    const char* last_line;
  };
  const row rows[] = {
      {0, "3   1234.500000\n"}, {1, "3  43602.540000\n"},  // 1234.5 m3 x 35.32
  };
  for (const row& r : rows) {
    process_state_guard guard;
    temp_dir dir;
    auto ms = small_grid();
    ms->qout_cfs = r.qout_cfs;
    ms->event_number = 2;
    ms->output.totals.run_vol_discharge = 1234.5;
    ASSERT_TRUE(file_handle_open(ms->input.optimize_file, "optim.out", "w"));
    fputs("2    1.000 10.0\n", ms->input.optimize_file.fp);
    EXPECT_TRUE(write_run_end_maps(*ms));
    EXPECT_FALSE(ms->input.optimize_file.is_open());
    EXPECT_EQ(read_file("optim.out"), std::string("2    1.000 10.0\n") + r.last_line);
  }
}

TEST(RunEndFiles, HotstartMapsAreReadBackAsWrittenAndTheirInputsClosed) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = small_grid();
  fill(ms->overland.ov_depth, {0.125, 0.0, 2.5, 0.000125});
  fill(ms->subsurface.surf_moist, {0.31, 0.42, 0.275, 0.4});
  ms->cards.write_ov_hotstart_given = 1;
  snprintf(ms->cards.write_ov_hotstart, card_name_size, "ov_end.asc");
  ms->cards.write_sm_hotstart_given = 1;
  snprintf(ms->cards.write_sm_hotstart, card_name_size, "sm_end.asc");
  torva_test::write_file("ov_start.asc", "x");
  torva_test::write_file("sm_start.asc", "x");
  ASSERT_TRUE(file_handle_open(ms->output.read_ov_hotstart_file, "ov_start.asc", "r"));
  ASSERT_TRUE(file_handle_open(ms->output.read_sm_hotstart_file, "sm_start.asc", "r"));

  stdout_capture capture;
  write_run_end_hotstarts(*ms);
  EXPECT_EQ(capture.stop(), "");
  EXPECT_FALSE(ms->output.read_ov_hotstart_file.is_open());
  EXPECT_FALSE(ms->output.read_sm_hotstart_file.is_open());

  const raw_array1d<double> depth = read_back(*ms, "ov_end.asc");
  const raw_array1d<double> moisture = read_back(*ms, "sm_end.asc");
  for (int i = 1; i <= 4; ++i) {
    EXPECT_NEAR(depth[i], ms->overland.ov_depth[i], 5e-7) << i;
    EXPECT_NEAR(moisture[i], ms->subsurface.surf_moist[i], 5e-7) << i;
  }
  // The positions outside the watershed are written as zeros, the cells in row order.
  EXPECT_TRUE(contains(read_file("ov_end.asc"), "0.125000 0.000000 0.000000 \n"));
}

TEST(RunEndFiles, AHotstartMapThatDoesNotOpenIsReportedAndTheRunGoesOn) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = small_grid();
  fill(ms->overland.ov_depth, {0.1, 0.2, 0.3, 0.4});
  fill(ms->subsurface.surf_moist, {0.3, 0.3, 0.3, 0.3});
  ms->cards.write_ov_hotstart_given = 1;
  snprintf(ms->cards.write_ov_hotstart, card_name_size, "missing/ov_end.asc");
  ms->cards.write_sm_hotstart_given = 1;
  snprintf(ms->cards.write_sm_hotstart, card_name_size, "sm_end.asc");

  stdout_capture capture;
  write_run_end_hotstarts(*ms);
  const std::string out = capture.stop();
  EXPECT_TRUE(contains(out, "Can't open overland hotstart file for writing: missing/ov_end.asc\n"))
      << out;
  EXPECT_FALSE(file_exists("missing/ov_end.asc"));
  EXPECT_EQ(run_error.error_code, 0);
  // The soil-moisture hotstart after it is still written.
  EXPECT_TRUE(file_exists("sm_end.asc"));
}

TEST(RunEndFiles, TheAdjustedElevationMapIsWrittenOrItsFailureStopsTheSummary) {
  {
    process_state_guard guard;
    temp_dir dir;
    auto ms = small_grid();
    fill(ms->cell_elev, {101.5, 102.25, 99.0, 98.75});
    ms->cards.adjust_elev_given = 1;
    snprintf(ms->cards.adjust_elev, card_name_size, "elev_end.asc");
    EXPECT_TRUE(write_run_end_maps(*ms));
    const raw_array1d<double> elev = read_back(*ms, "elev_end.asc");
    for (int i = 1; i <= 4; ++i) EXPECT_DOUBLE_EQ(elev[i], ms->cell_elev[i]) << i;
  }
  {
    process_state_guard guard;
    temp_dir dir;
    auto ms = small_grid();
    fill(ms->cell_elev, {101.5, 102.25, 99.0, 98.75});
    ms->cards.adjust_elev_given = 1;
    snprintf(ms->cards.adjust_elev, card_name_size, "missing/elev_end.asc");
    ms->cards.write_ov_hotstart_given = 1;
    snprintf(ms->cards.write_ov_hotstart, card_name_size, "ov_end.asc");
    fill(ms->overland.ov_depth, {0.1, 0.2, 0.3, 0.4});
    stdout_capture capture;
    write_run_summary(*ms);
    const std::string out = capture.stop();
    EXPECT_TRUE(
        contains(out, "Can't open adjusted elevation map for writing: missing/elev_end.asc\n"))
        << out;
    EXPECT_TRUE(run_error.error_fatal);  // reported at once: the run stops
    EXPECT_FALSE(file_exists("missing/elev_end.asc"));
    EXPECT_FALSE(file_exists("ov_end.asc"));  // the summary stopped before the hotstarts
  }
}

// Under MAP_TYPE 0 the flood depth map is one grid file; when it cannot be made the run stops
// there with its message, before the files after it.
TEST(RunEndFiles, AFloodMapThatCannotBeWrittenStopsTheSummary) {
  process_state_guard guard;
  temp_dir dir;
  torva_test::write_file("plain", "a file, not a folder\n");
  auto ms = small_grid();
  ms->grid_params.map_type = 0;
  ms->output.flood_grid = 1;
  snprintf(ms->input.names.flood_grid, sizeof ms->input.names.flood_grid, "plain/flood.asc");
  fill(ms->overland.max_depth, {0.1, 0.2, 0.3, 0.4});
  ms->cards.write_ov_hotstart_given = 1;
  snprintf(ms->cards.write_ov_hotstart, card_name_size, "ov_end.asc");
  fill(ms->overland.ov_depth, {0.1, 0.2, 0.3, 0.4});
  stdout_capture capture;
  write_run_summary(*ms);
  const std::string out = capture.stop();
  EXPECT_TRUE(contains(out, "Can't open flood depth map for writing: plain/flood.asc\n")) << out;
  EXPECT_TRUE(run_error.error_fatal);
  EXPECT_FALSE(file_exists("ov_end.asc"));  // the summary stopped before the hotstarts
}
