// End-to-end channel-lake case, run by the real torva executable: the example watershed with a
// lake on its valley that takes the head link's water, the rain on it and the water running
// over its shores, spreads over its listed cells and empties through a culvert. The event's and
// the run's books close, the lake's own books close on the figures the summary prints, the depth
// maps show the lake's water over its cells, and 1 and 8 threads write the same outputs; the
// same books close when the ADE schemes route the overland water.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::command_result;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::run_command;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::torva_exe;
using torva_test::write_file;

namespace {

const std::string example_dir = std::string(TORVA_SOURCE_DIR) + "/examples/lake";

// The values of the cell at `cell` (1-based, row by row over the whole grid) in every frame of a
// grid dataset: each frame is "TS ..." then a flag per grid position, then a value per position.
std::vector<double> dataset_cell(const std::string& text, int positions, int cell) {
  std::vector<double> values;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("TS ", 0) != 0) continue;
    for (int k = 0; k < positions && std::getline(lines, line); ++k) {
    }
    for (int k = 1; k <= positions && std::getline(lines, line); ++k)
      if (k == cell) values.push_back(std::strtod(line.c_str(), nullptr));
  }
  return values;
}

TEST(LakeCases, TheExampleLakeFillsSpreadsAndEmptiesThroughItsCulvertWithItsBooksClosed) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  for (const char* name : {"lake.prj", "lake.chn", "lake.gst", "lake_mask.asc", "lake_elev.asc",
                           "lake_conductivity.asc", "lake_capillary.asc", "lake_porosity.asc",
                           "lake_moisture.asc", "lake_hyd_locations.txt"})
    write_file(name, read_file(example_dir + "/" + name));
  std::string outputs[2];
  std::string console;
  const int threads[2] = {1, 8};
  for (int i = 0; i < 2; ++i) {
    const command_result run = run_command(torva_exe(), {"lake.prj"}, "",
                                           {"OMP_NUM_THREADS=" + std::to_string(threads[i])});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    console = run.out;
    outputs[i] = read_file("lake_outlet.out") + read_file("lake_summary.out") +
                 read_file("lake_hyd_out.out") + read_file("lake_depth.dat");
  }
  EXPECT_EQ(outputs[1], outputs[0]) << "1 and 8 threads";

  // The lake spreads over the cells beside its first one as it rises.
  EXPECT_NE(console.find("Lake 1 is taking cell"), std::string::npos) << console;

  const std::string summary = read_file("lake_summary.out");
  const summary_balance s = read_summary_balance(summary);
  ASSERT_TRUE(s.has_event);
  ASSERT_TRUE(s.has_totals);
  EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
  EXPECT_LT(std::fabs(s.run_surface_error), 1e-6);
  EXPECT_GT(s.event_discharge, 0.0);

  // The lake's books: it starts with 0.1 m of water over one 30 m cell (90 m3), takes the rain
  // on its cells and the water flowing in, loses what the culvert and its shores carry away.
  const double init = summary_number(summary, "Initial volume in perennial lakes");
  const double final_volume = summary_number(summary, "Final volume in perennial lakes");
  const double precip = summary_number(summary, "Volume precip to lakes=");
  const double in = summary_number(summary, "Volume of flow into lakes=");
  const double out = summary_number(summary, "Volume of flow from lakes=");
  EXPECT_NEAR(init, 90.0, 0.005);
  EXPECT_GT(precip, 0.0);
  EXPECT_GT(in, 0.0);
  EXPECT_GT(out, 0.0);
  EXPECT_GT(final_volume, 0.0);
  EXPECT_NEAR(init + precip + in - out, final_volume, 0.02);  // printed to 0.01 m3
  EXPECT_NEAR(summary_number(summary, "Perennial lake mass bal error m^3="), 0.0, 0.005);
  EXPECT_NEAR(summary_number(summary, "initial volume in lakes"), 90.0, 0.05);

  // Cell (4, 6) lies under the lake all along: the depth maps show the lake's water there
  // (lake cells hold no overland depth of their own), above the 0.1 m it starts with once the
  // storm has run in.
  const std::vector<double> lake_cell = dataset_cell(read_file("lake_depth.dat"), 120, 3 * 12 + 6);
  ASSERT_GE(lake_cell.size(), 3u);
  for (double d : lake_cell) EXPECT_GT(d, 0.05);
  EXPECT_GT(lake_cell[2], 0.1);
}

// The same lake with the overland water routed by the ADE schemes: the water running over the
// lake's shores and spilling back is booked to the lake, so the run's and the lake's books
// close, and 1 and 8 threads write the same outputs.
TEST(LakeCases, TheExampleLakeKeepsItsBooksUnderTheAdeSchemes) {
  torva_test::process_state_guard guard;
  for (const char* scheme : {"ade", "ade-pc"}) {
    temp_dir dir;
    for (const char* name :
         {"lake.chn", "lake.gst", "lake_mask.asc", "lake_elev.asc", "lake_conductivity.asc",
          "lake_capillary.asc", "lake_porosity.asc", "lake_moisture.asc", "lake_hyd_locations.txt"})
      write_file(name, read_file(example_dir + "/" + name));
    std::string project = read_file(example_dir + "/lake.prj");
    const std::size_t at = project.find("OVERTYPE           explicit");
    ASSERT_NE(at, std::string::npos);
    project.replace(at, std::string("OVERTYPE           explicit").size(),
                    std::string("OVERTYPE ") + scheme);
    write_file("lake.prj", project);
    std::string outputs[2];
    for (int i = 0; i < 2; ++i) {
      const command_result run = run_command(torva_exe(), {"lake.prj"}, "",
                                             {i == 0 ? "OMP_NUM_THREADS=1" : "OMP_NUM_THREADS=8"});
      ASSERT_EQ(run.status, 0) << scheme << run.out << run.err;
      outputs[i] = read_file("lake_outlet.out") + read_file("lake_summary.out");
    }
    EXPECT_EQ(outputs[1], outputs[0]) << scheme << ": 1 and 8 threads";
    const std::string summary = read_file("lake_summary.out");
    const summary_balance s = read_summary_balance(summary);
    ASSERT_TRUE(s.has_totals) << scheme;
    EXPECT_LT(std::fabs(s.event_error_percent), 1e-6) << scheme;
    EXPECT_LT(std::fabs(s.run_overall_error), 1e-6) << scheme;
    EXPECT_LT(std::fabs(s.run_surface_error), 1e-6) << scheme;
    EXPECT_GT(summary_number(summary, "Volume of flow into lakes="), 0.0) << scheme;
    EXPECT_NEAR(summary_number(summary, "Perennial lake mass bal error m^3="), 0.0, 0.005)
        << scheme;
  }
}

}  // namespace
