// Map outputs: maps at steps 1, 1 + interval, ... as dataset frames; the discharge magnitude;
// the names of the frame files; a frame file that does not open is reported once and its map
// switched off; an output object's frame files are numbered from 0001; the sediment maps and
// the constituent maps show the values the tests set.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <utility>
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
using torva_test::write_file;

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

// One grid file per frame in a folder that exists, or in one made for it when it does not; a
// frame that cannot be written (a file stands where its folder would be) is reported once and
// stops the run.
TEST(MapOutputs, GridPerFrameWritesFilesAndStopsTheRunOnAFrameItCannotWrite) {
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

  auto made = small_run(0, "new_folder");
  open_map_datasets(*made);
  made->step_number = 1;
  write_output_maps(*made);
  EXPECT_TRUE(file_exists("new_folder/depth.0001.asc"));
  EXPECT_EQ(run_error.error_fatal, 0);

  write_file(dir.file("taken"), "a file\n");
  auto bad = small_run(0, "taken");
  open_map_datasets(*bad);
  torva_test::stdout_capture capture;
  for (int step = 1; step <= 9 && run_error.error_fatal == 0; step += 4) {
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
  EXPECT_NE(run_error.error_fatal, 0);
  EXPECT_EQ(read_file(dir.file("taken")), "a file\n");
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

// The frames of an ASCII map dataset of a 2 x 2 grid: per frame its time and its four values.
std::vector<std::pair<double, std::vector<double>>> dataset_frames(const std::string& text) {
  std::istringstream in(text);
  std::string w;
  std::vector<std::pair<double, std::vector<double>>> frames;
  while (in >> w) {
    if (w != "TS") continue;
    double one = 0, t = 0;
    in >> one >> t;
    int flag = 0;
    for (int k = 0; k < 4; ++k) in >> flag;
    std::vector<double> v(4);
    for (double& x : v) in >> x;
    frames.emplace_back(t, v);
  }
  return frames;
}

// The values of the active cells 1, 2, 3 of a 2 x 2 grid file (its last four numbers).
std::vector<double> grid_cells(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  std::string w;
  while (in >> w) words.push_back(w);
  if (words.size() < 4) return {};
  const std::size_t at = words.size() - 4;
  return {std::stod(words[at]), std::stod(words[at + 2]), std::stod(words[at + 3])};
}

// An overland sediment record of two classes on the small grid: flux per class, net volume and
// suspended sediment of class 1 set by the test.
void set_sediment(model_state& m) {
  transport_state& tr = m.transport;
  tr.sediment.soil_erosion = 1;
  tr.max_sed_flux_on = tr.net_sed_volume_on = tr.vol_sed_susp_on = 1;
  tr.ov_sed = std::make_unique<ov_sediment_obj>();
  ov_sediment_obj& sed = *tr.ov_sed;
  sed.num_sed_classes = 2;
  sed.ov_qsmax.allocate(3, 2);
  sed.ov_qsmax_total.allocate(3);
  sed.ov_net_sed.allocate(3);
  sed.ov_qsconc.allocate(3, 2);
  for (int c = 1; c <= 3; ++c) {
    sed.ov_qsmax[c][1] = 1e-6 * c;
    sed.ov_qsmax[c][2] = 2e-6 * c;
    sed.ov_net_sed[c] = -0.5 * c;
    sed.ov_qsconc[c][0] = 9.0;
    sed.ov_qsconc[c][1] = 0.25 * c;
    sed.ov_qsconc[c][2] = 7.0;
  }
}

// The three sediment maps as dataset frames: the flux of all classes x 1,000,000, the net volume
// x 1000 / gridsize^2 and the first class's suspended sediment.
TEST(MapOutputs, SedimentMapsAreFramesOfTheirDatasets) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  auto ms = small_run(1, "depth.dat");
  model_state& m = *ms;
  m.output.map_depth = 0;
  set_sediment(m);
  sediment_member& sm = m.transport.sediment;
  snprintf(sm.output_name[sed_out_flux], sizeof sm.output_name[0], "%s", "flux");
  snprintf(sm.output_name[sed_out_net_volume], sizeof sm.output_name[0], "%s", "net");
  snprintf(sm.output_name[sed_out_suspended], sizeof sm.output_name[0], "%s", "susp");
  open_map_datasets(m);
  ASSERT_EQ(run_error.error_code, 0);
  m.step_number = 1;
  m.elapsed_minutes = 2.0;
  write_output_maps(m);
  map_outputs_state& mo = m.output.maps;
  const int kinds[3] = {dataset_sediment_flux, dataset_sediment_volume, dataset_suspended_sediment};
  for (int kind : kinds) {
    ASSERT_TRUE(mo.dataset_file[kind].is_open()) << kind;
    const std::string path = mo.dataset_file[kind].path;
    file_handle_close(mo.dataset_file[kind]);
    const auto frames = dataset_frames(read_file(path));
    ASSERT_EQ(frames.size(), 1u) << path;
    EXPECT_EQ(frames[0].first, 2.0);
    const std::vector<double>& v = frames[0].second;
    // Grid positions (1,1), (1,2), (2,1), (2,2) hold cells 1, none, 2, 3.
    const int cells[4] = {1, 0, 2, 3};
    for (int k = 0; k < 4; ++k) {
      const int c = cells[k];
      double expected = 0.0;
      if (c != 0 && kind == dataset_sediment_flux) expected = 3e-6 * c * 1e6;
      if (c != 0 && kind == dataset_sediment_volume) expected = -0.5 * c * 1000.0 / 100.0;
      if (c != 0 && kind == dataset_suspended_sediment) expected = 0.25 * c;
      EXPECT_NEAR(v[k], expected, 1e-6) << path << " position " << k;
    }
  }
}

// One grid file per frame: the sediment-flux map as max_sed_flux and the net volume as
// net_sed_volume, in the folders their cards name.
TEST(MapOutputs, SedimentMapsAsOneGridPerFrame) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  ASSERT_EQ(system("mkdir -p flux net"), 0);
  auto ms = small_run(0, "");
  model_state& m = *ms;
  m.output.map_depth = 0;
  set_sediment(m);
  sediment_member& sm = m.transport.sediment;
  snprintf(sm.output_name[sed_out_flux], sizeof sm.output_name[0], "%s", "flux");
  snprintf(sm.output_name[sed_out_net_volume], sizeof sm.output_name[0], "%s", "net");
  m.transport.vol_sed_susp_on = 0;
  open_map_datasets(m);
  m.step_number = 1;
  write_output_maps(m);
  ASSERT_TRUE(file_exists("flux/max_sed_flux.0001.asc"));
  ASSERT_TRUE(file_exists("net/net_sed_volume.0001.asc"));
  const std::vector<double> flux = grid_cells(read_file("flux/max_sed_flux.0001.asc"));
  const std::vector<double> net = grid_cells(read_file("net/net_sed_volume.0001.asc"));
  ASSERT_EQ(flux.size(), 3u);
  ASSERT_EQ(net.size(), 3u);
  for (int c = 1; c <= 3; ++c) {
    EXPECT_NEAR(flux[c - 1], 3.0 * c, 1e-3);
    EXPECT_NEAR(net[c - 1], -5.0 * c, 1e-3);
  }
}

// The constituent maps are written through their output objects, concentration then mass, at
// every map step, whatever the model's own map format (here one it does not write).
TEST(MapOutputs, ConstituentMapsAreWrittenThroughTheirOutputObjects) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  ASSERT_EQ(system("mkdir -p con"), 0);
  auto ms = small_run(3, "");
  model_state& m = *ms;
  m.output.map_depth = 0;
  double conc[4] = {0.0, 1.25, 2.5, 3.75};
  double mass[4] = {0.0, 10.0, 20.0, 30.0};
  output_state& out = m.output;
  out.con_output_count = 1;
  ASSERT_EQ(out.con_map_outputs.add_rows(1, 2), 1);
  const char* titles[2] = {"conc_01", "mass_01"};
  const char* extensions[2] = {".conc", ".mass"};
  const double* sources[2] = {conc, mass};
  for (int k = 1; k <= 2; ++k) {
    map_output& o = out.con_map_outputs[1][k];
    o.index_map = &m.index_map;
    o.rows = o.cols = 2;
    o.cell_size = 10.0;
    o.north = 20.0, o.east = 20.0;
    o.values = sources[k - 1];
    map_output_open(o, map_output_grid_per_frame, "con", extensions[k - 1], 5000 + k - 1,
                    titles[k - 1]);
  }
  for (int step = 1; step <= 5; step += 4) {
    m.step_number = step;
    write_output_maps(m);
  }
  EXPECT_TRUE(file_exists("con/conc_01.conc.0002.asc"));
  EXPECT_TRUE(file_exists("con/mass_01.mass.0002.asc"));
  EXPECT_EQ(grid_cells(read_file("con/conc_01.conc.0001.asc")),
            (std::vector<double>{1.25, 2.5, 3.75}));
  EXPECT_EQ(grid_cells(read_file("con/mass_01.mass.0002.asc")),
            (std::vector<double>{10.0, 20.0, 30.0}));
}

}  // namespace
