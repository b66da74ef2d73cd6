// Map outputs: maps at steps 1, 1 + interval, ... as dataset frames; the discharge magnitude;
// the names of the frame files; a frame file that does not open is reported once and its map
// switched off; an output object's frame files are numbered from 0001.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "output/map_output.h"
#include "output/map_outputs.h"
#include "support/test_support.h"

using torva_test::file_exists;
using torva_test::read_file;
using torva_test::temp_dir;

namespace {

// A 2 x 2 grid with three cells under MAP_TYPE map_type and a depth card.
std::unique_ptr<model_state> small_run(int map_type, const char* depth_name) {
  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  m.grid_params.map_type = map_type;
  m.map_rows = m.map_cols = 2;
  m.cell_count = 3;
  m.gridsize = 10.0;
  m.map_north = 20.0, m.map_south = 0.0, m.map_east = 20.0, m.map_west = 0.0;
  m.index_map.allocate(2, 2);
  m.index_map[1][1] = 1, m.index_map[1][2] = 0, m.index_map[2][1] = 2, m.index_map[2][2] = 3;
  m.overland.ov_depth.allocate(3);
  m.map_freq = 4;
  m.output.map_depth = 1;
  snprintf(m.cards.depth, sizeof m.cards.depth, "%s", depth_name);
  return ms;
}

TEST(MapOutputs, DepthFramesAreWrittenAtStepsOneFiveNine) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  auto ms = small_run(1, "depth.dat");
  open_map_datasets(*ms);
  ASSERT_EQ(run_error.error_code, 0);
  for (int step = 1; step <= 9; ++step) {
    ms->step_number = step;
    ms->elapsed_minutes = step;
    for (int i = 1; i <= 3; ++i) ms->overland.ov_depth[i] = step + 0.1 * i;
    write_output_maps(*ms);
  }
  file_handle_close(ms->output.maps.dataset_file[dataset_depth]);
  std::istringstream in(read_file("depth.dat"));
  std::string w;
  std::vector<double> times;
  std::vector<std::vector<double>> values;
  while (in >> w) {
    if (w != "TS") continue;
    double one = 0, t = 0;
    in >> one >> t;
    times.push_back(t);
    int flag = 0;
    for (int k = 0; k < 4; ++k) in >> flag;
    std::vector<double> v(4);
    for (double& x : v) in >> x;
    values.push_back(v);
  }
  EXPECT_EQ(times, (std::vector<double>{1, 5, 9}));
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[1], (std::vector<double>{5.1, 0.0, 5.2, 5.3}));
}

TEST(MapOutputs, DischargeIsGridsizeTimesTheMagnitudeOfTheUnitDischarge) {
  EXPECT_DOUBLE_EQ(cell_discharge(10.0, 3.0, 4.0), 50.0);
  EXPECT_DOUBLE_EQ(cell_discharge(10.0, -3.0, 4.0), 50.0);
  EXPECT_DOUBLE_EQ(cell_discharge(5.0, 0.0, 0.0), 0.0);
}

TEST(MapOutputs, FrameFileNamesHaveOneSeparatorAndFourDigits) {
  EXPECT_EQ(map_frame_file_name("out", "depth", 2), "out\\depth.0002.asc");
  EXPECT_EQ(map_frame_file_name("out\\", "surf", 1), "out\\surf.0001.asc");
  EXPECT_EQ(map_frame_file_name("maps", "gw_head", 123), "maps\\gw_head.0123.asc");
}

// One grid file per frame in a folder that exists; a folder that does not makes the frame
// file fail once: one message, the map switched off, no code left for the driver.
TEST(MapOutputs, GridPerFrameWritesFilesAndReportsAFailedOpenOnce) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  ASSERT_EQ(system("mkdir -p maps"), 0);
  auto ms = small_run(0, "maps");
  open_map_datasets(*ms);
  for (int step = 1; step <= 5; step += 4) {
    ms->step_number = step;
    write_output_maps(*ms);
  }
  EXPECT_TRUE(file_exists("maps/depth.0001.asc"));
  EXPECT_TRUE(file_exists("maps/depth.0002.asc"));

  auto bad = small_run(0, "no_such_folder");
  open_map_datasets(*bad);
  torva_test::stdout_capture capture;
  for (int step = 1; step <= 9; step += 4) {
    bad->step_number = step;
    write_output_maps(*bad);
  }
  const std::string out = capture.stop();
  std::size_t reports = 0;
  for (std::size_t at = out.find("Can't open depth map"); at != std::string::npos;
       at = out.find("Can't open depth map", at + 1))
    ++reports;
  EXPECT_EQ(reports, 1u) << out;
  EXPECT_EQ(bad->output.maps.dataset_on[dataset_depth], 0);
  EXPECT_EQ(run_error.error_code, 0);
}

TEST(MapOutputObject, FrameFilesStartAtOneAndNeedNoSecondSeparator) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  ASSERT_EQ(system("mkdir -p out"), 0);
  raw_array2d<int> index;
  index.allocate(1, 2);
  index[1][1] = 1;
  index[1][2] = 2;
  double values[3] = {0.0, 1.5, 2.5};
  for (const char* base : {"out", "out\\"}) {
    map_output m;
    m.index_map = &index;
    m.rows = 1, m.cols = 2, m.cell_size = 1.0, m.north = 1.0, m.east = 2.0;
    m.values = values;
    map_output_open(m, map_output_grid_per_frame, base, ".conc", 5000, "conc_01");
    write_map(m, 0.0);
    write_map(m, 1.0);
    EXPECT_EQ(m.frame_counter, 3);
    EXPECT_TRUE(file_exists("out/conc_01.conc.0001.asc"));
    EXPECT_TRUE(file_exists("out/conc_01.conc.0002.asc"));
    ASSERT_EQ(system("rm -f out/*"), 0);
  }
}

}  // namespace
