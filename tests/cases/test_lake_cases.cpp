// End-to-end channel-lake case, run by the real torva executable: the example watershed with a
// lake on its valley that takes the head link's water, the rain on it and the water running
// over its shores, spreads over its listed cells and empties through a culvert. The event's and
// the run's books close, the lake's own books close on the figures the summary prints, the depth
// maps show the lake's water over its cells, and 1 and 8 threads write the same outputs; the
// same books close when the ADE schemes route the overland water. Overland lakes in pits of
// tilted planes fill to their rims and spill the rest as overland flow, their books close, and a
// lake drained below its starting surface stops the run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
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

namespace lake_cases_tests {

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
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("lake.prj", [] {
    return read_file("lake_outlet.out") + read_file("lake_summary.out") +
           read_file("lake_hyd_out.out") + read_file("lake_depth.dat");
  });
  ASSERT_EQ(runs.run[1].status, 0);
  const std::string& console = runs.run[1].out;

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
    SCOPED_TRACE(scheme);
    const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
        "lake.prj", [] { return read_file("lake_outlet.out") + read_file("lake_summary.out"); });
    ASSERT_EQ(runs.run[1].status, 0);
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

// A plane of rows x cols cells of 10 m falling 0.1 m a cell towards its south edge and 0.01 m a
// cell towards its west edge, its outlet in the south-west corner, with an overland lake map
// and lake file, 50 mm/h of rain for an hour, run at 1 s steps: the lake variant of the
// explicit routing takes the whole step in one pass, which stays stable at 1 s on these planes.
struct lake_plane {
  int rows = 0, cols = 0;
  std::vector<double> z;  // row by row from the north-west corner
  std::vector<int> lake;
  std::string lake_file;
  int minutes = 120;
  std::string extra;  // further project cards

  lake_plane(int r, int c) : rows(r), cols(c), z(r * c), lake(r * c, 0) {
    for (int row = 1; row <= r; ++row)
      for (int col = 1; col <= c; ++col)
        ground(row, col) = 10.0 + 0.1 * (r - row) + 0.01 * (col - 1);
  }
  double& ground(int row, int col) { return z[(row - 1) * cols + (col - 1)]; }
  int& lake_id(int row, int col) { return lake[(row - 1) * cols + (col - 1)]; }

  // Writes the project and its maps into the working folder.
  void write(int threads) const {
    const std::string header = torva_test::grid_header(rows, cols, 10.0);
    std::string mask = header, elev = header, lakes = header;
    char number[32];
    for (int row = 1; row <= rows; ++row) {
      for (int col = 1; col <= cols; ++col) {
        const char* sep = col < cols ? " " : "\n";
        mask += std::string("1") + sep;
        std::snprintf(number, sizeof number, "%.4f", z[(row - 1) * cols + (col - 1)]);
        elev += number + std::string(sep);
        lakes += std::to_string(lake[(row - 1) * cols + (col - 1)]) + sep;
      }
    }
    write_file("mask.asc", mask);
    write_file("elev.asc", elev);
    write_file("lake.asc", lakes);
    write_file("lake.txt", lake_file);
    write_file("plane.prj",
               "TORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\n"
               "SUMMARY plane_summary.out\nOUTLET_HYDRO plane_outlet.out\nROWS " +
                   std::to_string(rows) + "\nCOLS " + std::to_string(cols) +
                   "\nGRIDSIZE 10.0\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 1.0\n"
                   "TOT_TIME " +
                   std::to_string(minutes) + "\nOUTROW " + std::to_string(rows) +
                   "\nOUTCOL 1\nOUTSLOPE 0.01\nHYD_FREQ 60\nMANNING_N 0.05\nOVERTYPE explicit\n"
                   "PRECIP_UNIF\nRAIN_INTENSITY 50.0\nRAIN_DURATION 60\n"
                   "OVERLAND_LAKE_MAP lake.asc\nOVERLAND_LAKE_FILE lake.txt\nNUM_THREADS " +
                   std::to_string(threads) + "\n" + extra);
  }
};

// What the summary says of a finished lake run.
struct lake_run_books {
  double rain = 0.0, outlet = 0.0, surface = 0.0, lake_init = 0.0, lake_final = 0.0;
  double lake_error = 0.0, overall_error = 0.0;
  std::string summary;
};

// Runs the plane at 1 and 8 threads (NUM_THREADS card), checks that both write the same
// outlet hydrograph and summary, and returns the books of the summary.
lake_run_books run_lake_plane(const lake_plane& plane) {
  lake_run_books books;
  std::string outputs[2];
  const int threads[2] = {1, 8};
  for (int i = 0; i < 2; ++i) {
    plane.write(threads[i]);
    const command_result run = run_command(torva_exe(), {"plane.prj"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    if (run.status != 0) return books;
    outputs[i] = read_file("plane_outlet.out") + read_file("plane_summary.out");
  }
  EXPECT_EQ(outputs[1], outputs[0]) << "1 and 8 threads";
  books.summary = read_file("plane_summary.out");
  const summary_balance s = read_summary_balance(books.summary);
  EXPECT_TRUE(s.has_totals) << books.summary;
  books.rain = s.run_precip;
  books.outlet = s.run_discharge;
  books.surface = s.run_ov_final;
  books.overall_error = s.run_overall_error;
  books.lake_final = summary_number(books.summary, "Final volume in overland lakes=");
  books.lake_error = summary_number(books.summary, "Overland lake mass bal error m^3:");
  books.lake_init =
      books.lake_final + summary_number(books.summary, "Volume of flow from overland lakes:") -
      summary_number(books.summary, "Volume of flow into overland lakes:") + books.lake_error;
  return books;
}

// A 3 x 3 pit 1 m deep in a 24 x 12 plane, its floor flat at 10.3 m, with a lake over it whose
// surface starts 0.1 m below the pit's rim. The lowest ground around the pit is the cell south
// of its west column: 10 + 0.1 * (24 - 11) + 0.01 * 4 = 11.34 m, so the pit holds
// 9 * (11.34 - 10.3) * 100 = 936 m3 to its rim and starts with 9 * 0.94 * 100 = 846 m3. The
// rain on the pit and on the slope above it (about 150 m3) is more than the 90 m3 of room: the
// lake fills to its rim, no higher and no wider, and the rest runs on down the plane to the
// outlet. The 1440 m3 of rain (288 cells, 50 mm over 100 m2) are the outlet's, the plane's and
// the lake's gain.
TEST(LakeCases, AnOverlandLakeFillsItsPitToTheRimAndSpillsTheRestDownThePlane) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  lake_plane plane(24, 12);
  for (int row = 8; row <= 10; ++row)
    for (int col = 5; col <= 7; ++col) {
      plane.ground(row, col) = 10.3;
      plane.lake_id(row, col) = 1;
    }
  plane.lake_file = "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 11.24 846.0\n";
  const lake_run_books b = run_lake_plane(plane);
  ASSERT_FALSE(b.summary.empty());
  EXPECT_NEAR(b.rain, 1440.0, 0.01);
  EXPECT_NEAR(b.lake_init, 846.0, 0.01);
  // Full to the rim: the nine cells at 11.34 m hold 936 m3; a tenth cell or a higher surface
  // would hold more.
  EXPECT_NEAR(b.lake_final, 936.0, 0.01);
  EXPECT_NEAR(b.lake_error, 0.0, 0.005);
  EXPECT_NEAR(b.outlet + b.surface + (b.lake_final - b.lake_init), b.rain, 0.02);
  EXPECT_LT(std::fabs(b.overall_error), 1e-6);
}

// The lake of the pit above over an aquifer: a water table 5 m above its bottom, 5 m below the
// ground, that leaks 0.36 cm/h (1e-6 m/s) to a deeper aquifer. Nothing passes between the lake
// and the aquifer: the lake fills to its rim as above, and the table falls everywhere by
// 1e-6 m/s x 7200 s / Sy 0.2 = 0.036 m, the water the leakage took.
TEST(LakeCases, AnOverlandLakeOverAnAquiferKeepsItsBooksAndTheAquiferItsOwn) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  lake_plane plane(24, 12);
  for (int row = 8; row <= 10; ++row)
    for (int col = 5; col <= 7; ++col) {
      plane.ground(row, col) = 10.3;
      plane.lake_id(row, col) = 1;
    }
  plane.lake_file = "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 11.24 846.0\n";
  auto uniform = [&](const char* name, const char* value) {
    std::string map = torva_test::grid_header(plane.rows, plane.cols, 10.0);
    for (int row = 1; row <= plane.rows; ++row) {
      for (int col = 1; col <= plane.cols; ++col) map += std::string(value) + " ";
      map += "\n";
    }
    write_file(name, map);
  };
  uniform("head.asc", "5.0");
  uniform("bottom.asc", "0.0");
  uniform("bound.asc", "1");
  plane.extra =
      "WATER_TABLE head.asc\nGW_SIMULATION\nAQUIFER_BOTTOM bottom.asc\nGW_BOUNDFILE bound.asc\n"
      "GW_UNIF_POROSITY 0.2\nGW_UNIF_HYCOND 36.0\nGW_LSOR_DIR 1\nGW_LSOR_CON 0.000001\n"
      "GW_TIMESTEP 60\nGW_LEAKAGE_RATE 0.36\n";
  const lake_run_books b = run_lake_plane(plane);
  ASSERT_FALSE(b.summary.empty());
  EXPECT_NEAR(b.lake_init, 846.0, 0.01);
  EXPECT_NEAR(b.lake_final, 936.0, 0.01);
  EXPECT_NEAR(b.lake_error, 0.0, 0.005);
  EXPECT_NEAR(b.outlet + b.surface + (b.lake_final - b.lake_init), b.rain, 0.02);
  EXPECT_LT(std::fabs(b.overall_error), 1e-6);
  const double area = plane.rows * plane.cols * 100.0;
  const double leaked = 1e-6 * 7200.0 * area;
  EXPECT_NEAR(summary_number(b.summary, "Leakage to deep aquifer+"), leaked, 0.01);
  EXPECT_NEAR(
      summary_number(b.summary, "GW volume end =") - summary_number(b.summary, "GW volume start ="),
      -leaked, 0.03);
  std::istringstream heads(read_file("hotstart_file"));
  std::string line;
  for (int k = 0; k < 6; ++k) std::getline(heads, line);
  int count = 0;
  for (double h = 0.0; heads >> h; ++count) EXPECT_NEAR(h, 5.0 - 0.036, 1e-9) << count;
  EXPECT_EQ(count, plane.rows * plane.cols);
}

// A one-cell lake in a pit on the summit of the 24 x 12 plane (its north-east corner), its floor
// 0.15 m below the corner's ground, its surface starting 0.03 m above the floor. Its lowest
// neighbour is the cell south of it, 0.1 m below the corner, so the pit holds 0.05 * 100 = 5 m3
// to its rim and starts with 3 m3. The lake keeps what its cell holds to the rim, not the rain of
// the plane below it: the other 1440 m3 of rain run to the outlet or stay on the plane.
TEST(LakeCases, AOneCellLakeOnTheSummitKeepsNoMoreThanItsCellHoldsToTheRim) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  lake_plane plane(24, 12);
  const double corner = plane.ground(1, 12);
  plane.ground(1, 12) = corner - 0.15;
  plane.lake_id(1, 12) = 1;
  char card[96];
  std::snprintf(card, sizeof card, "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 %.4f 3.0\n", corner - 0.12);
  plane.lake_file = card;
  const lake_run_books b = run_lake_plane(plane);
  ASSERT_FALSE(b.summary.empty());
  EXPECT_NEAR(b.rain, 1440.0, 0.01);
  EXPECT_NEAR(b.lake_init, 3.0, 0.01);
  EXPECT_LE(b.lake_final, 5.0 + 0.005);
  EXPECT_NEAR(b.lake_error, 0.0, 0.005);
  EXPECT_NEAR(b.outlet + b.surface + (b.lake_final - b.lake_init), b.rain, 0.02);
  EXPECT_LT(std::fabs(b.overall_error), 1e-6);
}

// A one-cell lake in a shallow dip of the 24 x 12 plane whose starting surface, 0.3 m above the
// dip's floor, stands above every neighbour: the shore faces carry its water down the plane as
// soon as the rain wets them, and once the lake would fall below the surface it started from,
// the run stops with the message that says so, whatever the thread count.
TEST(LakeCases, ALakeDrainedBelowItsStartingSurfaceStopsTheRunWithItsMessage) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  lake_plane plane(24, 12);
  const double floor = plane.ground(8, 6) - 0.05;
  plane.ground(8, 6) = floor;
  plane.lake_id(8, 6) = 1;
  char card[96];
  std::snprintf(card, sizeof card, "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 %.4f 35.0\n", floor + 0.35);
  plane.lake_file = card;
  for (int threads : {1, 8}) {
    SCOPED_TRACE(threads);
    plane.write(threads);
    const command_result run = run_command(torva_exe(), {"plane.prj"});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.out.find("Lake 1 is being drained below its' original elevation.  This is not\n"
                           "allowed.  Re-size your initial lake. Program stopped.\n"),
              std::string::npos)
        << run.out << run.err;
  }
}

}  // namespace lake_cases_tests
