// End-to-end cases of the saturated groundwater, run by the real torva executable at 1 and 8
// threads: a strip aquifer under uniform recharge between two fixed heads reaches the steady
// Dupuit mound; a well pumping a square aquifer inside a ring of fixed heads gives the
// Dupuit-Thiem drawdown between two radii; a well on a pumping schedule drains an aquifer whose
// storage change is the pumped water plus what the fixed heads gave, and the fixed heads stay
// fixed; the well level file follows the heads at its listed cells. Bad solver cards, bad wells
// and bad well lists stop the run at start-up naming what is wrong.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::grid_header;
using torva_test::number;
using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace groundwater_cases_tests {

// A flat watershed of rows x cols cells of `cell` metres, ground at 100 m over an aquifer whose
// bottom lies at 0 m, with an initial head, a boundary code and a well id per cell (row-major).
struct aquifer {
  int rows = 1;
  int cols = 1;
  double cell = 50.0;
  std::vector<double> head;    // initial head (m)
  std::vector<int> code;       // groundwater boundary code: 1 active, 2 fixed head
  std::vector<int> well;       // well id, 0 none
  std::vector<int> mask;       // 1 inside the watershed (all when empty)
  std::vector<double> ground;  // ground elevation (m), 100 m everywhere when empty
  double porosity = 0.001;
  double k_cm_h = 36.0;         // 1e-4 m/s
  int steps = 30;               // days of the run
  int minutes = 0;              // length of the run in minutes instead, when above 0
  double rain_mm_h = 0.000001;  // uniform rain (a trace: the project needs some)
  int rain_min = 1440;          // its duration
  double step_s = 86400.0;      // the time step and groundwater step (s)
  std::string wells;            // rows of the WELL_TABLE (id, mode, value)
  std::string series;           // time-series file, with its TIME_SERIES_INDEX rows in `index_rows`
  std::string index_rows;
  std::string extra;                              // further project cards
  std::string solver = "GW_LSOR_CON 0.000001\n";  // the line solver's cards

  int at(int r, int c) const { return (r - 1) * cols + (c - 1); }
};

template <class T>
std::string grid(const aquifer& a, const std::vector<T>& values) {
  std::ostringstream out;
  out << grid_header(a.rows, a.cols, a.cell);
  for (int r = 1; r <= a.rows; ++r) {
    for (int c = 1; c <= a.cols; ++c) out << number(values[a.at(r, c)]) << ' ';
    out << '\n';
  }
  return out.str();
}

// A well-table row: the id in columns 1-6, a description to column 86, the values after it.
std::string well_row(int id, int mode, double value) {
  char text[200];
  snprintf(text, sizeof text, "%6d %-79s %d %.10g 0\n", id, "well", mode, value);
  return text;
}

void write_aquifer(const aquifer& a) {
  const int n = a.rows * a.cols;
  const std::vector<int> mask = a.mask.empty() ? std::vector<int>(n, 1) : a.mask;
  write_file("gw_mask.asc", grid(a, mask));
  write_file("gw_elev.asc", grid(a, a.ground.empty() ? std::vector<double>(n, 100.0) : a.ground));
  write_file("gw_bottom.asc", grid(a, std::vector<double>(n, 0.0)));
  write_file("gw_head.asc", grid(a, a.head));
  write_file("gw_bound.asc", grid(a, a.code));
  std::string cards;
  if (!a.wells.empty()) {
    write_file("gw_wells.idx", grid(a, a.well));
    std::string table = "TORVA_INDEX_MAP_TABLES\nINDEX_MAP gw_wells.idx Wells\nWELL_TABLE Wells\n";
    int count = 0;
    for (char ch : a.wells) count += ch == '\n';
    table += "NUM_IDS " + std::to_string(count) + "\nID    DESCRIPTION   VALUES\n" + a.wells;
    if (!a.index_rows.empty()) {
      int rows = 0;
      for (char ch : a.index_rows) rows += ch == '\n';
      table += "TIME_SERIES_INDEX Wells\nNUM_IDS " + std::to_string(rows) + "\nID    NAME\n" +
               a.index_rows;
    }
    write_file("gw_table.cmt", table);
    cards += "MAPPING_TABLE gw_table.cmt\nUSE_WELLS\n";
  }
  if (!a.series.empty()) {
    write_file("gw_series.ts", a.series);
    cards = "TIME_SERIES_FILE gw_series.ts\n" + cards;
  }
  write_file("gw.prj",
             "TORVAPROJECT\nWATERSHED_MASK gw_mask.asc\nELEVATION gw_elev.asc\n"
             "SUMMARY gw_summary.out\nOUTLET_HYDRO gw_outlet.out\nROWS " +
                 std::to_string(a.rows) + "\nCOLS " + std::to_string(a.cols) + "\nGRIDSIZE " +
                 number(a.cell) + "\nSTART_DATE 2005 3 14\nSTART_TIME 6 00\nTIMESTEP " +
                 number(a.step_s) + "\nTOT_TIME " +
                 std::to_string(a.minutes > 0 ? a.minutes : a.steps * 1440) +
                 "\nOUTROW 1\nOUTCOL 1\nOUTSLOPE 0.001\nHYD_FREQ 1440\nMANNING_N 0.05\n"
                 "OVERTYPE explicit\n"
                 "PRECIP_UNIF\nRAIN_INTENSITY " +
                 number(a.rain_mm_h) + "\nRAIN_DURATION " + std::to_string(a.rain_min) +
                 "\nWATER_TABLE gw_head.asc\nGW_SIMULATION\nAQUIFER_BOTTOM gw_bottom.asc\n"
                 "GW_BOUNDFILE gw_bound.asc\nGW_UNIF_POROSITY " +
                 number(a.porosity) + "\nGW_UNIF_HYCOND " + number(a.k_cm_h) + "\nGW_LSOR_DIR 1\n" +
                 a.solver + cards + a.extra);
}

// The heads of the groundwater hotstart map written at the end of the run, row-major.
std::vector<double> final_heads(const aquifer& a) {
  std::istringstream in(read_file("hotstart_file"));
  std::string line;
  for (int k = 0; k < 6; ++k) std::getline(in, line);
  std::vector<double> heads;
  double v = 0.0;
  while (in >> v) heads.push_back(v);
  EXPECT_EQ(heads.size(), static_cast<std::size_t>(a.rows * a.cols));
  return heads;
}

std::string outputs() {
  return read_file("gw_summary.out") + read_file("hotstart_file");
}

// The aquifer's own books: its storage change is the water the sources put in plus what the
// fixed heads gave, to the printed cent.
void expect_aquifer_books_close(const std::string& summary) {
  const double start = summary_number(summary, "GW volume start =");
  const double end = summary_number(summary, "GW volume end =");
  const double inputs = summary_number(summary, "Total inputs to groundwater=");
  const double bounds = summary_number(summary, "Flux across head boundaries=");
  EXPECT_NEAR(end - start, inputs + bounds, 0.03 + 1e-7 * std::fabs(end)) << summary;
}

// L = 1000 m between two fixed heads h0 = 10 m (cell centres at x = 0 and x = L, cells of 50 m,
// three rows), recharge N = 1e-8 m/s on every other cell (a well injecting N dx^2 each),
// K = 1e-4 m/s: the steady mound is h(x)^2 = h0^2 + (N/K) x (L - x), h(500 m) = 11.180 m. Both
// codes of a held head (2, and 5) hold it and book what it passes.
TEST(GroundwaterCases, AStripAquiferUnderRechargeReachesTheDupuitMound) {
  for (int held : {2, 5}) {
    SCOPED_TRACE(held);
    torva_test::process_state_guard guard;
    temp_dir dir;
    aquifer a;
    a.rows = 3;
    a.cols = 21;
    a.cell = 50.0;
    const int n = a.rows * a.cols;
    a.head.assign(n, 10.0);
    a.code.assign(n, 1);
    a.well.assign(n, 1);
    for (int r = 1; r <= a.rows; ++r) {
      for (int c : {1, a.cols}) {
        a.code[a.at(r, c)] = held;
        a.well[a.at(r, c)] = 0;
      }
    }
    const double recharge = 1e-8;
    a.wells = well_row(1, 0, -recharge * a.cell * a.cell);
    a.solver = "GW_LSOR_CON 1e-10\n";
    write_aquifer(a);
    torva_test::run_at_compared_thread_counts("gw.prj", outputs);

    const std::vector<double> h = final_heads(a);
    const double k = 1e-4;
    const double length = 1000.0;
    for (int c = 1; c <= a.cols; ++c) {
      const double x = (c - 1) * a.cell;
      const double exact = std::sqrt(10.0 * 10.0 + recharge / k * x * (length - x));
      for (int r = 1; r <= a.rows; ++r)
        EXPECT_NEAR(h[a.at(r, c)], exact, 0.01 * exact) << "row " << r << " column " << c;
    }
    EXPECT_NEAR(h[a.at(2, 11)], 11.180, 0.01 * 11.180);
    // The fixed heads stay fixed to the printed digit.
    for (int r = 1; r <= a.rows; ++r) {
      EXPECT_EQ(h[a.at(r, 1)], 10.0);
      EXPECT_EQ(h[a.at(r, a.cols)], 10.0);
    }
    // The recharge of the run went out through the fixed heads or into storage.
    const std::string summary = read_file("gw_summary.out");
    expect_aquifer_books_close(summary);
    const double injected = recharge * a.cell * a.cell * (n - 2 * a.rows) * 86400.0 * a.steps;
    EXPECT_NEAR(summary_number(summary, "Total inputs to groundwater="), injected, 1e-6 * injected);
    EXPECT_NEAR(summary_number(summary, "Total pumping from groundwater="), -injected,
                1e-6 * injected + 0.01);
    EXPECT_LT(summary_number(summary, "Flux across head boundaries="), -0.5 * injected);
  }
}

// A well pumping Q = 0.01 m3/s at the centre of a square of 41 x 41 cells of 10 m inside a ring
// of fixed heads of 20 m, K = 1e-4 m/s: between r1 = 20 m and r2 = 60 m the steady heads follow
// Dupuit-Thiem, h2^2 - h1^2 = Q / (pi K) ln(r2 / r1), along the row and the column of the well.
TEST(GroundwaterCases, AWellInASquareAquiferGivesTheDupuitThiemDrawdown) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  aquifer a;
  a.rows = 41;
  a.cols = 41;
  a.cell = 10.0;
  a.steps = 3;
  a.solver = "GW_LSOR_CON 1e-10\nGW_RELAX_COEFF 1.8\n";
  const int n = a.rows * a.cols;
  a.head.assign(n, 20.0);
  a.code.assign(n, 1);
  a.well.assign(n, 0);
  for (int r = 1; r <= a.rows; ++r) {
    for (int c = 1; c <= a.cols; ++c)
      if (r == 1 || c == 1 || r == a.rows || c == a.cols) a.code[a.at(r, c)] = 2;
  }
  const int mid = 21;
  a.well[a.at(mid, mid)] = 7;
  const double q = 0.01;
  a.wells = well_row(7, 0, q);
  write_aquifer(a);
  torva_test::run_at_compared_thread_counts("gw.prj", outputs);

  const std::vector<double> h = final_heads(a);
  const double k = 1e-4;
  const double pi = 3.14159265358979;
  const double exact = q / (pi * k) * std::log(60.0 / 20.0);
  const int ways[4][2] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}};
  for (const auto& w : ways) {
    const double h1 = h[a.at(mid + 2 * w[0], mid + 2 * w[1])];
    const double h2 = h[a.at(mid + 6 * w[0], mid + 6 * w[1])];
    EXPECT_NEAR(h2 * h2 - h1 * h1, exact, 0.03 * exact) << w[0] << " " << w[1];
  }
  for (int c = 1; c <= a.cols; ++c) {
    EXPECT_EQ(h[a.at(1, c)], 20.0);
    EXPECT_EQ(h[a.at(a.rows, c)], 20.0);
  }
  // At steady state the ring gives what the well takes.
  const std::string summary = read_file("gw_summary.out");
  expect_aquifer_books_close(summary);
  const double pumped = q * 86400.0 * a.steps;
  EXPECT_NEAR(summary_number(summary, "Total pumping from groundwater="), pumped, 1e-6 * pumped);
  EXPECT_NEAR(summary_number(summary, "Total inputs to groundwater="), -pumped, 1e-6 * pumped);
  // The first day drew on the storage; the ring gave the rest.
  EXPECT_GT(summary_number(summary, "Flux across head boundaries="), 0.95 * pumped);
  EXPECT_LT(summary_number(summary, "Flux across head boundaries="), pumped);
}

// A well on a pumping schedule (a series of 0.002 m3/s rising to 0.006 m3/s over the run) and
// deep leakage of 0.01 cm/h in a rectangle whose left column holds its head: while the heads fall
// the aquifer's storage change is the pumped water plus what the fixed column gave, step by step to
// the solver's tolerance, and the pumped water is the schedule taken at every step. Before the
// schedule's first row the well takes the first value.
TEST(GroundwaterCases, AScheduledWellDrainsStorageAndTheBooksClose) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  aquifer a;
  a.rows = 9;
  a.cols = 14;
  a.cell = 20.0;
  a.steps = 5;
  a.porosity = 0.2;
  const int n = a.rows * a.cols;
  a.head.assign(n, 15.0);
  a.code.assign(n, 1);
  a.well.assign(n, 0);
  for (int r = 1; r <= a.rows; ++r) a.code[a.at(r, 1)] = 2;
  a.well[a.at(5, 10)] = 3;
  a.wells = well_row(3, 1, 4);
  a.index_rows = "     4 pumping\n";
  a.extra = "GW_LEAKAGE_RATE 0.01\n";  // cm/h through the aquifer bottom
  // Rows from a day after the start: the first step takes the first value.
  a.series = "TORVA_TS\npumping\nABSOLUTE\n2005 3 15 6 0 0.002\n2005 3 19 6 0 0.006\nEND_TS\n";
  write_aquifer(a);
  torva_test::run_at_compared_thread_counts("gw.prj", outputs);

  const std::string summary = read_file("gw_summary.out");
  expect_aquifer_books_close(summary);
  // The steps come at 1 to 5 days after the start: 0.002 at day 1 and before, then rising by
  // 0.001 a day.
  double pumped = 0.0;
  for (int day = 1; day <= a.steps; ++day)
    pumped += (0.002 + 0.001 * std::max(0, day - 1)) * 86400.0;
  EXPECT_NEAR(summary_number(summary, "Total pumping from groundwater="), pumped, 1e-6 * pumped);
  // 0.01 cm/h under every cell but the fixed column, the whole run long.
  const double leaked = 0.01 / 100.0 / 3600.0 * 86400.0 * a.steps * a.cell * a.cell * (n - a.rows);
  EXPECT_NEAR(summary_number(summary, "Leakage to deep aquifer+"), leaked, 1e-6 * leaked + 0.01);
  EXPECT_NEAR(summary_number(summary, "Total inputs to groundwater="), -(pumped + leaked),
              1e-6 * (pumped + leaked) + 0.01);
  const double start = summary_number(summary, "GW volume start =");
  const double end = summary_number(summary, "GW volume end =");
  EXPECT_LT(end, start);  // the fixed column cannot give all the well takes
  EXPECT_GT(summary_number(summary, "Flux across head boundaries="), 0.0);
  const std::vector<double> h = final_heads(a);
  for (int r = 1; r <= a.rows; ++r) EXPECT_EQ(h[a.at(r, 1)], 15.0);
  EXPECT_LT(h[a.at(5, 10)], h[a.at(5, 2)]);
}

// One closed cell of 50 m, its table 1 m over the bottom, drawn on for a day by far more than it
// holds: a well or the deep leakage asks 2 m of water. The draw is cut back to what the cell
// holds above its least saturated thickness of 1 mm, and where the aquifer's porosity is below
// 1 the cut draw would drain the cell far below its bottom: it is raised back to 1 mm, with water
// the draw gives up. By hand the aquifer gives porosity x (1 m - 1 mm) x 2500 m2, all of it
// booked as the draw; no further draw comes from a dry cell, and every book closes.
TEST(GroundwaterCases, ADrawOnANearlyDryCellBooksOnlyTheWaterTheCellGives) {
  struct draw_case {
    const char* name;
    double porosity;
    bool well;          // a well, else the deep leakage
    const char* total;  // the summary line of the draw's total
  };
  const draw_case cases[] = {
      {"a well, the table falls by the water", 1.0, true, "Total pumping from groundwater="},
      {"a well, the cut draw would drain below the bottom", 0.25, true,
       "Total pumping from groundwater="},
      {"deep leakage, the cut draw would drain below the bottom", 0.25, false,
       "Leakage to deep aquifer+"},
  };
  for (const draw_case& d : cases) {
    SCOPED_TRACE(d.name);
    torva_test::process_state_guard guard;
    temp_dir dir;
    aquifer a;
    a.steps = 3;
    a.porosity = d.porosity;
    a.head = {1.0};
    a.code = {1};
    a.well = {d.well ? 1 : 0};
    const double area = a.cell * a.cell;
    const double asked = 2.0 / 86400.0;  // m/s of water over the cell
    if (d.well)
      a.wells = well_row(1, 0, asked * area);
    else
      a.extra = "GW_LEAKAGE_RATE " + number(asked * 100.0 * 3600.0) + "\n";  // cm/h
    write_aquifer(a);
    torva_test::run_at_compared_thread_counts("gw.prj", outputs);

    const std::string summary = read_file("gw_summary.out");
    const double given = d.porosity * (1.0 - 0.001) * area;
    EXPECT_NEAR(summary_number(summary, d.total), given, 0.01) << summary;
    const double start = summary_number(summary, "GW volume start =");
    const double end = summary_number(summary, "GW volume end =");
    EXPECT_NEAR(start - end, given, 0.01) << summary;
    EXPECT_NEAR(summary_number(summary, "Total inputs to groundwater="), -given, 0.01) << summary;
    expect_aquifer_books_close(summary);
    EXPECT_LT(std::fabs(summary_number(summary, "Overall mass balance error =")), 1e-4) << summary;
    EXPECT_NEAR(final_heads(a)[0], 0.001, 1e-9);
  }
}

// An XY head point at the first cell of a closed strip (no held heads, no wells) sets that
// cell's head to 12 m at every step; the water it takes to do so is the aquifer's only gain,
// and the heads rise from the point down the strip.
TEST(GroundwaterCases, AnXyHeadPointFeedsAClosedAquiferAndItsGainIsBooked) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  aquifer a;
  a.rows = 2;
  a.cols = 11;
  a.cell = 20.0;
  a.steps = 4;
  a.porosity = 0.01;
  const int n = a.rows * a.cols;
  a.head.assign(n, 10.0);
  a.code.assign(n, 1);
  write_file("gw_points.xy",
             "XY_GW_HEAD\n1\nDATE       TIME \t            1\n2005 03 14 00 00\t      12.0000\n"
             "2005 04 14 00 00\t      12.0000\nEND_TS\n");
  a.extra = "XYBDYINPUT_GWHEAD gw_points.xy\n";
  write_aquifer(a);
  torva_test::run_at_compared_thread_counts("gw.prj", outputs);

  const std::string summary = read_file("gw_summary.out");
  const double start = summary_number(summary, "GW volume start =");
  const double end = summary_number(summary, "GW volume end =");
  const double gain = summary_number(summary, "Gain from XY boundaries");
  EXPECT_GT(gain, 1.0);
  EXPECT_NEAR(summary_number(summary, "Loss to XY boundaries"), 0.0, 1e-9);
  EXPECT_NEAR(summary_number(summary, "Total inputs to groundwater="), 0.0, 0.005);
  EXPECT_NEAR(summary_number(summary, "Flux across head boundaries="), 0.0, 0.005);
  EXPECT_NEAR(end - start, gain, 0.03 + 1e-7 * end) << summary;
  const std::vector<double> h = final_heads(a);
  for (int c = 2; c <= a.cols; ++c) {
    EXPECT_LT(h[a.at(1, c)], h[a.at(1, c - 1)]) << c;
    EXPECT_GT(h[a.at(1, c)], 10.0) << c;
  }
  EXPECT_LT(h[a.at(1, 1)], 12.0);  // the point's head is set before the step's solve
}

// The rows of the well level file: the header's words, then per line the hours and the heads.
std::vector<std::vector<double>> level_rows(const std::string& text, std::string& header) {
  std::istringstream lines(text);
  std::getline(lines, header);
  std::vector<std::vector<double>> rows;
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::vector<double> row;
    double v = 0.0;
    while (fields >> v) row.push_back(v);
    rows.push_back(row);
  }
  return rows;
}

// A well pumping at row 2, column 4 of a strip held at 10 m in its first column: the level file
// has a line per groundwater step (a day) with the heads of the listed cells, the held one at
// 10 m throughout, the pumped one falling step by step to the head the hotstart map ends with.
TEST(GroundwaterCases, WellLevelsAreWrittenAtTheListedCellsEveryStep) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  aquifer a;
  a.rows = 3;
  a.cols = 5;
  a.cell = 20.0;
  a.steps = 4;
  a.porosity = 0.2;
  const int n = a.rows * a.cols;
  a.head.assign(n, 10.0);
  a.code.assign(n, 1);
  a.well.assign(n, 0);
  for (int r = 1; r <= a.rows; ++r) a.code[a.at(r, 1)] = 2;
  a.well[a.at(2, 4)] = 1;
  a.wells = well_row(1, 0, 0.0005);
  write_file("gw_levels.txt", "2\n2 4\n1 1\n");
  a.extra = "GW_WELL_LEVEL gw_levels.out\nOUT_WELL_LOCATION gw_levels.txt\n";
  write_aquifer(a);
  torva_test::run_at_compared_thread_counts("gw.prj",
                                            [] { return outputs() + read_file("gw_levels.out"); });

  std::string header;
  const std::vector<std::vector<double>> rows = level_rows(read_file("gw_levels.out"), header);
  EXPECT_EQ(header, "       hours      well(2,4)      well(1,1)");
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(a.steps));
  const std::vector<double> h = final_heads(a);
  for (std::size_t k = 0; k < rows.size(); ++k) {
    ASSERT_EQ(rows[k].size(), 3u) << k;
    EXPECT_NEAR(rows[k][0], 24.0 * (k + 1), 1e-9) << k;
    EXPECT_EQ(rows[k][2], 10.0) << k;
    EXPECT_LT(rows[k][1], k == 0 ? 10.0 : rows[k - 1][1]) << k;
  }
  EXPECT_NEAR(rows.back()[1], h[a.at(2, 4)], 1e-6);
}

// A well list that is not a list of cells in the watershed stops the run at start-up naming
// the file, the line and what is wrong.
TEST(GroundwaterCases, ABadWellLevelListStopsTheRunNamingTheLine) {
  const struct {
    const char* list;
    const char* message;
  } cases[] = {
      {"", "line 1: the file is empty"},
      {"two\n2 2\n", "line 1: the first line must hold the number of wells"},
      {"0\n", "line 1: the first line must hold the number of wells"},
      {"2\n2 2\n", "line 3: the file ends after 1 of its 2 wells"},
      {"1\n2 x\n", "line 2: a well's line must hold its grid row and column"},
      {"1\n2 2 7\n", "line 2: a well's line must hold its grid row and column"},
      {"1\n4 2\n", "line 2: row 4, column 2 lies outside the grid of 3 rows and 4 columns"},
      {"1\n1 4\n", "line 2: row 1, column 4 lies outside the watershed"},
  };
  for (const auto& b : cases) {
    SCOPED_TRACE(b.list);
    torva_test::process_state_guard guard;
    temp_dir dir;
    aquifer a;
    a.rows = 3;
    a.cols = 4;
    a.steps = 2;
    const int n = a.rows * a.cols;
    a.head.assign(n, 10.0);
    a.code.assign(n, 1);
    a.mask.assign(n, 1);
    a.mask[a.at(1, 4)] = 0;
    a.code[a.at(1, 4)] = 0;
    write_file("gw_levels.txt", b.list);
    a.extra = "GW_WELL_LEVEL gw_levels.out\nOUT_WELL_LOCATION gw_levels.txt\n";
    write_aquifer(a);
    const torva_test::command_result run = torva_test::run_with_threads("gw.prj", 1);
    EXPECT_NE(run.status, 0) << run.out;
    EXPECT_TRUE(contains(run.out + run.err, "Error: the well location file ")) << run.out;
    EXPECT_TRUE(contains(run.out + run.err, b.message)) << run.out << run.err;
    EXPECT_FALSE(contains(run.out, "Running....")) << run.out;
  }
}

// Bad solver cards and bad wells stop the run at start-up with one message naming the card or
// the well; a solve whose line sweeps cannot meet their tolerance stops the run with its message
// instead of sweeping on.
TEST(GroundwaterCases, BadSolverCardsAndBadWellsStopTheRunWithTheirMessage) {
  struct bad_case {
    std::string extra;          // further cards
    bool well_outside = false;  // the well map names a well outside the watershed
    std::string wells;          // table rows (default: well 1, constant)
    std::string index_rows;
    const char* message;
    bool at_start = true;       // stops before "Running...."
    double well_rate = 0.0001;  // m3/s of the default well
  };
  const bad_case cases[] = {
      {"GW_RELAX_COEFF 0\n", false, "", "",
       "Error: the relaxation factor of the groundwater solver (GW_RELAX_COEFF) is 0; it must lie "
       "above 0 and below 2.\n"},
      {"GW_RELAX_COEFF 2.0\n", false, "", "", "(GW_RELAX_COEFF) is 2; it must lie above 0"},
      {"GW_RELAX_COEFF -0.5\n", false, "", "", "(GW_RELAX_COEFF) is -0.5; it must lie above 0"},
      {"GW_LSOR_CON 0\n", false, "", "",
       "Error: the convergence limit of the groundwater solver (GW_LSOR_CON) is 0 m; it must be "
       "above 0.\n"},
      {"", true, "", "",
       "Error: the well map places well 1 at row 1, column 4, outside the watershed; wells lie in "
       "cells of the watershed mask.\n"},
      {"", false, well_row(2, 0, 0.001), "",
       "Error: A well was found in the index map (cell [2,2]) that \n  was not found in the well "
       "table.\n"},
      {"", false, well_row(1, 1, 9), "     4 pumping\n",
       "The specified time series index is 9, but the \nindex is not found in the time series "
       "index table.\n"},
      // A relaxation factor of 0.0001 moves each head a ten-thousandth of the way at a sweep.
      {"GW_RELAX_COEFF 0.0001\n", false, "", "",
       "Error: the groundwater line solver made 50000 sweeps without the largest head change of "
       "a sweep falling below GW_LSOR_CON (1e-06 m)",
       false},
  };
  for (const bad_case& b : cases) {
    torva_test::process_state_guard guard;
    temp_dir dir;
    aquifer a;
    a.rows = 3;
    a.cols = 4;
    a.steps = 2;
    const int n = a.rows * a.cols;
    a.head.assign(n, 10.0);
    a.code.assign(n, 1);
    a.well.assign(n, 0);
    a.mask.assign(n, 1);
    a.code[a.at(1, 1)] = 2;
    a.head[a.at(1, 1)] = 12.0;
    a.mask[a.at(1, 4)] = 0;
    a.code[a.at(1, 4)] = 0;
    a.well[b.well_outside ? a.at(1, 4) : a.at(2, 2)] = 1;
    a.wells = b.wells.empty() ? well_row(1, 0, b.well_rate) : b.wells;
    a.index_rows = b.index_rows;
    if (!b.index_rows.empty())
      a.series = "TORVA_TS\npumping\nABSOLUTE\n2005 3 15 6 0 0.002\nEND_TS\n";
    a.extra = b.extra;
    write_aquifer(a);
    const torva_test::command_result run = torva_test::run_with_threads("gw.prj", 1);
    EXPECT_NE(run.status, 0) << b.extra << run.out;
    EXPECT_TRUE(contains(run.out + run.err, b.message)) << b.extra << run.out << run.err;
    EXPECT_EQ(contains(run.out, "Running...."), !b.at_start) << b.extra << run.out;
  }
}

// Groundwater that reaches the ground seeps onto the surface. A strip aquifer of 3 rows of 21
// cells of 100 m (K = 1e-4 m/s, porosity 0.3, bottom at 0 m) is fed by a held head H = 15 m
// along its first column; the ground of its last column lies at hg = 10 m, below that head, and
// 100 m everywhere else. At steady state the table stands at the ground in the last column and
// Darcy's law with the Dupuit assumption gives the seepage of each row between the held head and
// the seeping cell, L = 2000 m apart: Q = K (H^2 - hg^2) / (2 L) x dx = 3.125e-4 m3/s, 81 m3 a
// day over the three rows. The heads start on the steady profile h^2 = H^2 - (H^2 - hg^2) x / L.
// The seeping cells lie under single-layer Green and Ampt soil that would take the seepage in
// a step (Ks 10 cm/h): with the table at the ground they take none, so the surface keeps it all.
// The soil of the other cells takes nothing (Ks 0), so the run's books hold every drop.
TEST(GroundwaterCases, AHeldHeadAboveTheGroundSeepsOntoTheSurfaceByDarcysLaw) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  aquifer a;
  a.rows = 3;
  a.cols = 21;
  a.cell = 100.0;
  a.porosity = 0.3;
  a.steps = 10;
  // Hourly steps: the seeping cell's table, solved with the storage of the aquifer, rises over
  // the ground within a step by the step's seepage over its porosity (0.4 mm), a small part of
  // the head drop to it from its neighbour (0.3 m), before the surface takes the water.
  a.step_s = 3600.0;
  const int n = a.rows * a.cols;
  const double held = 15.0, seep = 10.0, length = 2000.0, k = 1e-4;
  a.head.assign(n, 0.0);
  a.code.assign(n, 1);
  a.ground.assign(n, 100.0);
  for (int r = 1; r <= a.rows; ++r) {
    for (int c = 1; c <= a.cols; ++c) {
      const double x = (c - 1) * a.cell;
      a.head[a.at(r, c)] = std::sqrt(held * held - (held * held - seep * seep) * x / length);
    }
    a.code[a.at(r, 1)] = 2;
    a.ground[a.at(r, a.cols)] = seep;
  }
  a.solver = "GW_LSOR_CON 1e-10\n";
  // Single-layer Green and Ampt everywhere.
  std::vector<double> ks(n, 0.0), hc(n, 10.0), por(n, 0.4), moist(n, 0.1);
  for (int r = 1; r <= a.rows; ++r) ks[a.at(r, a.cols)] = 10.0;
  write_file("ga_ks.asc", grid(a, ks));
  write_file("ga_hc.asc", grid(a, hc));
  write_file("ga_por.asc", grid(a, por));
  write_file("ga_moist.asc", grid(a, moist));
  a.extra =
      "GREEN_AMPT\nCONDUCTIVITY ga_ks.asc\nCAPILLARY ga_hc.asc\nPOROSITY ga_por.asc\n"
      "MOISTURE ga_moist.asc\n";
  write_aquifer(a);
  torva_test::run_at_compared_thread_counts("gw.prj", outputs);
  const std::string summary = read_file("gw_summary.out");

  // The seepage by hand, over the run.
  const double per_row = k * (held * held - seep * seep) / (2.0 * length) * a.cell;
  const double by_darcy = per_row * a.rows * 86400.0 * a.steps;
  const double exfiltrated = summary_number(summary, "Total amount of exfiltration=");
  EXPECT_NEAR(exfiltrated, by_darcy, 0.01 * by_darcy) << summary;
  EXPECT_NEAR(summary_number(summary, "Exfiltration back on overland ="), exfiltrated, 0.01);

  // The aquifer's books: what the held heads gave is what seeped out plus the storage change.
  const double start = summary_number(summary, "GW volume start =");
  const double end = summary_number(summary, "GW volume end =");
  const double inputs = summary_number(summary, "Total inputs to groundwater=");
  const double bounds = summary_number(summary, "Flux across head boundaries=");
  EXPECT_GT(bounds, 0.99 * by_darcy) << summary;
  EXPECT_NEAR(end - start, inputs + bounds - exfiltrated, 0.03 + 1e-8 * end) << summary;
  EXPECT_NEAR(summary_number(summary, "Mass Balance error ="), 0.0, 1e-6) << summary;

  // The run's and the surface's books: the seepage is surface water the soil did not take.
  const summary_balance b = read_summary_balance(summary);
  ASSERT_TRUE(b.has_totals) << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
  EXPECT_LT(std::fabs(b.run_surface_error), 1e-6) << summary;
  EXPECT_EQ(b.run_infiltration, 0.0) << summary;
  EXPECT_NEAR(b.run_ov_final, b.run_precip + exfiltrated, 0.01) << summary;

  // The seeping cells end at the ground, the held heads where they were held.
  const std::vector<double> h = final_heads(a);
  for (int r = 1; r <= a.rows; ++r) {
    EXPECT_EQ(h[a.at(r, 1)], held);
    EXPECT_EQ(h[a.at(r, a.cols)], seep);
  }
}

// Single-layer Green and Ampt over the aquifer: the soil keeps what it takes in (the aquifer's
// soil coupling is that of the soils of zones and the Richards columns), so an hour of rain on
// a 3 x 3 plot is the surface's water, the outlet's, the soil's and nothing else, to 1e-6 of
// the rain, while a held head in a corner feeds the aquifer and the aquifer's books close on
// their own. The soil's infiltration interval is the loop's step (60 s): the groundwater,
// asked to run every 900 s, runs at that interval instead, a line per loop step in the
// well-level file.
TEST(GroundwaterCases, GreenAndAmptSoilKeepsItsWaterAndTheRunsBooksClose) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  aquifer a;
  a.rows = 3;
  a.cols = 3;
  a.cell = 100.0;
  a.porosity = 0.2;
  a.step_s = 60.0;
  a.minutes = 180;
  a.rain_mm_h = 30.0;
  a.rain_min = 60;
  const int n = a.rows * a.cols;
  a.head.assign(n, 10.0);
  a.code.assign(n, 1);
  a.code[a.at(3, 3)] = 2;
  a.head[a.at(3, 3)] = 12.0;
  // Ks 1 cm/h, capillary head 10 cm, porosity 0.4, initial content 0.1.
  write_file("ga_ks.asc", grid(a, std::vector<double>(n, 1.0)));
  write_file("ga_hc.asc", grid(a, std::vector<double>(n, 10.0)));
  write_file("ga_por.asc", grid(a, std::vector<double>(n, 0.4)));
  write_file("ga_moist.asc", grid(a, std::vector<double>(n, 0.1)));
  write_file("gw_levels.txt", "1\n1 1\n");
  a.extra =
      "GREEN_AMPT\nCONDUCTIVITY ga_ks.asc\nCAPILLARY ga_hc.asc\nPOROSITY ga_por.asc\n"
      "MOISTURE ga_moist.asc\nGW_TIMESTEP 900\nGW_WELL_LEVEL gw_levels.out\n"
      "OUT_WELL_LOCATION gw_levels.txt\n";
  write_aquifer(a);
  torva_test::run_at_compared_thread_counts("gw.prj",
                                            [] { return outputs() + read_file("gw_levels.out"); });
  const std::string summary = read_file("gw_summary.out");
  const summary_balance b = read_summary_balance(summary);
  ASSERT_TRUE(b.has_totals) << summary;
  const double rain = 0.030 * n * a.cell * a.cell;
  EXPECT_NEAR(b.run_precip, rain, 1e-6 * rain) << summary;
  // More than an hour at Ks soaks in.
  EXPECT_GT(b.run_infiltration, 0.01 * n * a.cell * a.cell) << summary;
  EXPECT_LT(b.run_infiltration, rain) << summary;
  // rain = surface + outlet + soil, to 1e-6 of the rain; the run's books say the same.
  EXPECT_NEAR(b.run_ov_final + b.run_discharge + b.run_infiltration, rain, 1e-6 * rain + 0.01)
      << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
  EXPECT_LT(std::fabs(b.run_surface_error), 1e-6) << summary;
  // The soil gives the aquifer nothing; the held head gave it water, which is its storage gain.
  EXPECT_EQ(summary_number(summary, "Total recharge inputs to groundwater="), 0.0) << summary;
  const double bounds = summary_number(summary, "Flux across head boundaries=");
  EXPECT_GT(bounds, 1.0) << summary;
  expect_aquifer_books_close(summary);
  EXPECT_EQ(final_heads(a)[a.at(3, 3)], 12.0);
  // A groundwater step at every loop step: 180 lines, the first at 1/60 h.
  std::string header;
  const std::vector<std::vector<double>> rows = level_rows(read_file("gw_levels.out"), header);
  ASSERT_EQ(rows.size(), 180u);
  EXPECT_NEAR(rows[0][0], 1.0 / 60.0, 1e-4);
}

}  // namespace groundwater_cases_tests
