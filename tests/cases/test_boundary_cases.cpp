// Overland boundary cells end to end, run by the real torva executable on the plane of
// tests/cases/boundary_plane: 20 rows by 120 columns of 10 m cells (n 0.05) falling 0.01 to the
// south. Its lower edge drains at normal depth at the Manning rate of its cells, its upper edge
// adds exactly the volume of its inflow series, a stage held on the lower edge fills the plane
// up to its level and stays there, for the explicit and both ADE schemes, with the same outputs
// on 1 and 8 threads; a boundary that cannot run stops the run at start-up with its message.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using torva_test::command_result;
using torva_test::contains;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::run_command;
using torva_test::summary_balance;
using torva_test::temp_dir;
using torva_test::torva_exe;
using torva_test::write_file;

namespace boundary_cases_tests {

const fs::path case_dir = fs::path(TORVA_SOURCE_DIR) / "tests" / "cases" / "boundary_plane";

// The plane of the case.
constexpr int rows = 20, cols = 120;
constexpr double dx = 10.0;            // m
constexpr double slope = 0.01;         // bed slope to the south, also the lower edge's slope
constexpr double manning = 0.05;       // n
constexpr double rain = 36.0 / 3.6e6;  // m/s
constexpr double step = 10.0;          // s
constexpr double cms_per_cfs = 0.0283168466;
// The upper edge's inflow: 0.001 m3/s into each of its first 119 cells, 0.05 ft3/s into the last.
constexpr double inflow_cms = 0.001, inflow_cfs = 0.05;

// Replaces the first `from` in the text by `to`; the text must hold it.
std::string edited(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// Copies the case's input files into the current folder.
void copy_case() {
  for (const fs::directory_entry& e : fs::directory_iterator(case_dir))
    if (e.is_regular_file() && e.path().filename() != "case.txt")
      fs::copy_file(e.path(), e.path().filename(), fs::copy_options::overwrite_existing);
}

// Runs the project of the current folder on `threads` threads, the project's cards edited by
// `edits` (pairs of old and new text) first.
command_result run_plane(const std::vector<std::pair<std::string, std::string>>& edits,
                         int threads) {
  std::string project = read_file("boundary_plane.prj");
  for (const auto& [from, to] : edits) project = edited(project, from, to);
  write_file("boundary_plane.prj", project);
  return torva_test::run_with_threads("boundary_plane.prj", threads);
}

// The depths (m) of the frame of the ASCII depth dataset written at `minutes`, row by row;
// empty when there is no such frame.
std::vector<double> depth_frame(const std::string& dataset, double minutes) {
  std::istringstream in(dataset);
  std::string line;
  while (std::getline(in, line)) {
    double t = 0.0;
    if (std::sscanf(line.c_str(), "TS 1 %lf", &t) != 1 || std::fabs(t - minutes) > 1e-3) continue;
    for (int k = 0; k < rows * cols; ++k) std::getline(in, line);  // the active-cell flags
    std::vector<double> depths(rows * cols);
    for (double& h : depths)
      if (!(in >> h)) return {};
    return depths;
  }
  return {};
}

// The six header lines of an ASCII grid map.
std::string map_header(const std::string& map) {
  std::size_t end = 0;
  for (int k = 0; k < 6 && end != std::string::npos; ++k) end = map.find('\n', end) + 1;
  return map.substr(0, end);
}

double depth_at(const std::vector<double>& frame, int row, int col) {
  return frame[static_cast<std::size_t>((row - 1) * cols + (col - 1))];
}

// The discharges of the "minutes discharge" lines of a hydrograph.
std::vector<std::pair<double, double>> hydrograph(const std::string& text) {
  std::vector<std::pair<double, double>> lines;
  std::istringstream in(text);
  double t = 0.0, q = 0.0;
  while (in >> t >> q) lines.emplace_back(t, q);
  return lines;
}

// Manning's discharge (m3/s) out of a cell of depth h across one side of dx at the given slope.
double manning_rate(double h, double s) {
  return dx * std::pow(h, 5.0 / 3.0) * std::sqrt(s) / manning;
}

const char* const schemes[] = {"explicit", "ade", "ade-pc"};

// Forty minutes into the storm the plane is at equilibrium: each column of 20 cells passes the
// rain on it, i x 200 m x 10 m = 0.02 m3/s, plus the inflow into its top cell, through its cell
// on the lower edge. That cell drains h^(5/3) sqrt(0.01) dx / n from its depth as the step's rain
// leaves it (the rain falls before the boundary drains; the depth map is written after routing),
// and the outlet, the first cell of the edge, at the same rate from its outlet slope of 0.01.
// Neighbouring columns trade a little water sideways from step to step, so each edge cell is
// held to 3 % and their sum to 0.5 %. Over the run the inflow series add exactly their rate
// times the 70 minutes, and rain plus inflow is the outflow through the edge and the outlet plus
// the water left on the plane.
TEST(BoundaryPlaneCase, ALowerEdgeAtNormalDepthDrainsTheStormAtTheManningRateOfItsCells) {
  const double column_rain = rain * rows * dx * dx;  // m3/s
  ASSERT_NEAR(column_rain, 0.02, 1e-12);
  const double run_seconds = 70 * 60.0;
  const double inflow_volume = ((cols - 1) * inflow_cms + inflow_cfs * cms_per_cfs) * run_seconds;
  const double rain_volume = rain * 50 * 60.0 * rows * cols * dx * dx;
  ASSERT_NEAR(inflow_volume, 505.746, 0.001);
  ASSERT_NEAR(rain_volume, 7200.0, 1e-9);

  for (const char* scheme : schemes) {
    SCOPED_TRACE(scheme);
    temp_dir dir;
    copy_case();
    const command_result run = run_plane(
        {{"OVERTYPE           explicit", std::string("OVERTYPE           ") + scheme}}, 1);
    ASSERT_EQ(run.status, 0) << run.out << run.err;

    const std::vector<double> frame = depth_frame(read_file("bdy_depth.dat"), 40.0 + 10.0 / 60.0);
    ASSERT_EQ(frame.size(), static_cast<std::size_t>(rows * cols));
    double edge_sum = 0.0, expected_sum = 0.0;
    for (int c = 2; c <= cols; ++c) {
      const double inflow = c < cols ? inflow_cms : inflow_cfs * cms_per_cfs;
      const double expected = column_rain + inflow;
      const double drained = manning_rate(depth_at(frame, rows, c) + rain * step, slope);
      EXPECT_NEAR(drained, expected, 0.03 * expected) << "edge cell in column " << c;
      edge_sum += drained;
      expected_sum += expected;
    }
    EXPECT_NEAR(edge_sum, expected_sum, 0.005 * expected_sum);

    // The outlet's discharge at the same time, as the mean of that step and the one before
    // ("ade-pc" alternates its outlet from step to step about that mean).
    const auto outlet = hydrograph(read_file("bdy_outlet_sig.out"));
    ASSERT_EQ(outlet.size(), 421u);
    std::size_t k = 0;
    while (k < outlet.size() && std::fabs(outlet[k].first - 40.17) > 0.004) ++k;
    ASSERT_TRUE(k > 0 && k < outlet.size());
    const double outlet_q = 0.5 * (outlet[k - 1].second + outlet[k].second);
    if (std::string(scheme) != "ade-pc") {
      EXPECT_NEAR(outlet_q, column_rain + inflow_cms, 0.01 * (column_rain + inflow_cms));
    } else {
      // "ade-pc" cuts its sub-step at the outlet's faces, so the outlet drains all through the
      // step while the edge cell beside it drains once a step: at 10 s steps about 3.4 % of the
      // outlet column's water leaves through that neighbour instead (the edge's sum above holds
      // it). The outlet never passes more than its column brings, and the split closes as the
      // step shortens (TheAdePcOutletPassesItsColumnsWaterAtShortSteps).
      EXPECT_LT(outlet_q, 1.01 * (column_rain + inflow_cms));
      EXPECT_GT(outlet_q, 0.95 * (column_rain + inflow_cms));
    }

    const summary_balance s = read_summary_balance(read_file("bdy_summary.out"));
    ASSERT_TRUE(s.has_totals);
    EXPECT_NEAR(s.run_precip, rain_volume, 0.005);
    EXPECT_NEAR(s.run_head_in, inflow_volume, 0.006);
    EXPECT_EQ(s.run_head_out, 0.0);
    // Nearly all of the water leaves through the lower edge, the outlet taking one column's.
    EXPECT_GT(s.run_slope_out, 0.8 * (rain_volume + inflow_volume));
    EXPECT_NEAR(s.run_discharge, s.run_slope_out / (cols - 1), 0.05 * s.run_discharge);
    EXPECT_NEAR(s.run_precip + s.run_head_in, s.run_discharge + s.run_slope_out + s.run_ov_final,
                0.02);
    EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
    EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
  }
}

// The outlet of "ade-pc" passes its own column's water once the step is short enough for the
// boundary cells beside it, drained once a step, to keep pace with it: at 2 s steps within 1 %.
TEST(BoundaryPlaneCase, TheAdePcOutletPassesItsColumnsWaterAtShortSteps) {
  temp_dir dir;
  copy_case();
  const command_result run =
      run_plane({{"OVERTYPE           explicit", "OVERTYPE           ade-pc"},
                 {"TIMESTEP           10.0", "TIMESTEP           2.0"}},
                1);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto outlet = hydrograph(read_file("bdy_outlet_sig.out"));
  std::size_t k = 0;
  while (k < outlet.size() && std::fabs(outlet[k].first - 40.17) > 0.004) ++k;
  ASSERT_TRUE(k > 0 && k < outlet.size());
  const double outlet_q = 0.5 * (outlet[k - 1].second + outlet[k].second);
  const double column = rain * rows * dx * dx + inflow_cms;
  EXPECT_NEAR(outlet_q, column, 0.01 * column);
}

// The boundary cells sum their volumes over fixed blocks of cells, and both ADE schemes route
// the 2400 cells in parallel loops: the first 10 minutes of the storm on 1 and on 8 threads write
// the same depth maps, hydrograph and summary. (The case folder runs the explicit scheme on 1
// and 8 threads.)
TEST(BoundaryPlaneCase, TheAdeSchemesWriteTheSameOutputsOnOneAndEightThreads) {
  for (const char* scheme : {"ade", "ade-pc"}) {
    SCOPED_TRACE(scheme);
    std::string outputs[2];
    const int threads[2] = {1, 8};
    for (int t = 0; t < 2; ++t) {
      temp_dir dir;
      copy_case();
      const command_result run =
          run_plane({{"OVERTYPE           explicit", std::string("OVERTYPE           ") + scheme},
                     {"TOT_TIME           70", "TOT_TIME           10"},
                     {"MAP_FREQ           20", "MAP_FREQ           5"}},
                    threads[t]);
      ASSERT_EQ(run.status, 0) << run.out << run.err;
      std::string summary;
      std::istringstream in(read_file("bdy_summary.out"));
      for (std::string line; std::getline(in, line);)
        if (!contains(line, "thread") && !contains(line, "Run time") &&
            !contains(line, "time to init"))
          summary += line + "\n";
      outputs[t] = read_file("bdy_depth.dat") + read_file("bdy_outlet_sig.out") + summary;
      ASSERT_TRUE(contains(summary, "Volume lost to specified slope boundary:")) << summary;
    }
    EXPECT_TRUE(outputs[0] == outputs[1]) << "1 and 8 threads differ";
  }
}

// A stage held on the lower edge of the plane at a tenth of the case's slope (rows 0.01 m
// apart, the lowest bed at 10 m), with no rain and the outlet on the dry upper edge: whether
// fixed at 10.025 m or taken from a series that rises from 10.005 m to 10.025 m over the first
// 20 minutes, the stage pushes water up the plane until every cell below it stands at its level
// (0.025, 0.015 and 0.005 m on the three lowest rows, 540 m3 in all) and the cells above it stay
// dry; an hour on the edge cells still hold the stage's depth, and the water the stage brought
// in less the water it took back is the water on the plane.
TEST(BoundaryPlaneCase, AStageOnTheLowerEdgeFillsThePlaneUpToItsLevelAndHoldsIt) {
  const double stage = 10.025;
  auto bed = [](int row) { return 10.0 + 0.01 * (rows - row); };
  ASSERT_NEAR(
      cols * dx * dx * ((stage - bed(rows)) + (stage - bed(rows - 1)) + (stage - bed(rows - 2))),
      540.0, 1e-9);
  const struct {
    const char* what;
    const char* edge_row;  // type and value of the lower edge's table row
  } stages[] = {{"fixed stage", "2 10.025"}, {"stage series", "3 3"}};

  for (const auto& st : stages) {
    for (const char* scheme : schemes) {
      SCOPED_TRACE(std::string(st.what) + ", " + scheme);
      temp_dir dir;
      copy_case();
      // The gentler plane; every cell of the lower edge is a stage cell, the outlet's too.
      std::string elev = map_header(read_file("bdy_elev.asc"));
      for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) elev += (c > 1 ? " " : "") + std::to_string(bed(r));
        elev += "\n";
      }
      write_file("bdy_elev.asc", elev);
      std::string index = read_file("bdy_edges.idx");
      const std::size_t last_row = index.rfind("\n1 2 2", index.size() - 2);
      ASSERT_NE(last_row, std::string::npos);
      index[last_row + 1] = '2';
      write_file("bdy_edges.idx", index);
      std::string table = read_file("bdy_boundary.cmt");
      table = edited(table, "1 0.01\n", std::string(st.edge_row) + "\n");
      table = edited(table, "5 1\n", "0 0\n");
      table = edited(table, "4 2\n", "0 0\n");
      table = edited(table, "NUM_IDS 2\n", "NUM_IDS 3\n") + "     3 stage\n";
      write_file("bdy_boundary.cmt", table);
      write_file("bdy_inflow.ts", read_file("bdy_inflow.ts") +
                                      "TORVA_TS\nstage\nABSOLUTE\n2005 3 14 6 30 10.005\n"
                                      "2005 3 14 6 50 10.025\n2005 3 15 0 0 10.025\nEND_TS\n");
      write_file("dry.gag",
                 "EVENT \"dry\"\nNRGAG 1\nNRPDS 2\nCOORD 1000.0 1100.0\n"
                 "RATES 2005 3 14 6 30 0.0\nRATES 2005 3 14 7 40 0.0\n");
      const command_result run =
          run_plane({{"OVERTYPE           explicit", std::string("OVERTYPE           ") + scheme},
                     {"OUTROW             20", "OUTROW             1"},
                     {"PRECIP_UNIF\nRAIN_INTENSITY     36.0\nRAIN_DURATION      50\n",
                      "PRECIP_FILE        dry.gag\nRAIN_THIESSEN\n"}},
                    1);
      ASSERT_EQ(run.status, 0) << run.out << run.err;

      const std::vector<double> frame = depth_frame(read_file("bdy_depth.dat"), 60.0 + 10.0 / 60.0);
      ASSERT_EQ(frame.size(), static_cast<std::size_t>(rows * cols));
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c)
          ASSERT_NEAR(depth_at(frame, r, c), std::fmax(0.0, stage - bed(r)), 0.00025)
              << "row " << r << " column " << c;

      const summary_balance s = read_summary_balance(read_file("bdy_summary.out"));
      ASSERT_TRUE(s.has_totals);
      EXPECT_NEAR(s.run_ov_final, 540.0, 0.01 * 540.0);
      EXPECT_NEAR(s.run_head_in - s.run_head_out, s.run_ov_final, 0.02);
      EXPECT_EQ(s.run_slope_out, 0.0);
      EXPECT_EQ(s.run_discharge, 0.0);
      EXPECT_EQ(s.run_precip, 0.0);
    }
  }
}

// A boundary that cannot run stops the run at start-up, before the first step, with a message
// naming what is wrong.
TEST(BoundaryPlaneCase, ABoundaryThatCannotRunStopsTheRunAtStartUp) {
  const struct {
    const char* what;
    const char* from;  // text of the case's mapping table
    const char* to;
    const char* message;
  } cases[] = {
      {"a negative slope", "1 0.01\n", "1 -0.01\n",
       "Error: the normal-depth overland boundary of cell 2282 has the slope -0.01; the slope "
       "must be a number of at least 0.\n"},
      {"a series name the series file does not hold", "     2 inflow_cfs", "     2 inflow_ft3",
       "Error: the overland boundary of cell 120 takes its values from time series 2, which is "
       "not a series with rows in the time series table.\n"},
      {"a series number the index does not hold", "4 2\n", "4 9\n",
       "takes its values from time series 9, which is not a series with rows"},
      {"a boundary type beyond 5", "4 2\n", "7 2\n",
       "gives grid cell 120 the boundary type 7; the types are 0 to 5.\n"},
      {"a slope that is not a number", "1 0.01\n", "1 nan\n",
       "row 2 (id 2) of table OVERLAND_BOUNDARY in mapping table file bdy_boundary.cmt holds a "
       "value that is not a number"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    temp_dir dir;
    copy_case();
    write_file("bdy_boundary.cmt", edited(read_file("bdy_boundary.cmt"), k.from, k.to));
    const command_result run = run_plane({}, 1);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, k.message)) << run.out;
    EXPECT_FALSE(contains(run.out, "Running....")) << run.out;
    EXPECT_TRUE(contains(run.out, "Run time: ")) << run.out;
  }
}

}  // namespace boundary_cases_tests
