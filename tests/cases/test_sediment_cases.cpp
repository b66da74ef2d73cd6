// Overland erosion end to end, run by the real torva executable on small planes written by the
// tests: rain splash on still shallow water erodes exactly the hand-computed volume, a rained-on
// tilted plane erodes, carries and settles two size classes and routes part of them out through
// the outlet with books that close per class, the outlet sediment series adds up to the volume the
// summary reports, 1 and 8 threads give the same bytes, and bad sediment tables stop the run at
// start-up naming the file, the class and the value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

using torva_test::command_result;
using torva_test::number;
using torva_test::read_file;
using torva_test::temp_dir;
using torva_test::write_file;

namespace sediment_cases_tests {

// A plane of rows x cols cells of dx m whose ground is ground(row, col), with its mask, elevation
// and soil index maps (every cell soil id 1).
struct plane {
  int rows = 0, cols = 0;
  double dx = 10.0;
};

template <class F>
std::string grid(const plane& p, F f) {
  std::string text = torva_test::grid_header(p.rows, p.cols, p.dx);
  for (int r = 1; r <= p.rows; ++r) {
    for (int c = 1; c <= p.cols; ++c) text += (c > 1 ? " " : "") + number(f(r, c));
    text += "\n";
  }
  return text;
}

// A SEDIMENTS row: description in the first 40 characters, then the values.
std::string sed_row(const std::string& name, const std::string& values) {
  std::string line = name;
  line.resize(40, ' ');
  return line + values + "\n";
}

// A table row: the id in 6 characters, a description to character 86, then the values.
std::string id_row(int id, const std::string& values) {
  char text[16];
  std::snprintf(text, sizeof text, "%6d", id);
  std::string line = std::string(text) + " soil";
  line.resize(86, ' ');
  return line + values + "\n";
}

// The mapping-table file: the size classes (specific gravity, diameter in mm) and one soil of
// the given erosion columns (splash K, detachment coefficient, exponent, critical shear, sed_K)
// and class fractions.
void write_tables(const std::vector<std::pair<double, double>>& classes, const std::string& erosion,
                  const std::string& fractions) {
  std::string t = "TORVA_INDEX_MAP_TABLES\nINDEX_MAP case_soil.idx Soils\n";
  t += "SEDIMENTS\nNUM_SED " + std::to_string(classes.size()) + "\n";
  t += "CLASS                                   SG   DIAM FBIND FILE\n";
  for (std::size_t k = 0; k < classes.size(); ++k)
    t += sed_row("class " + std::to_string(k + 1), number(classes[k].first) + " " +
                                                       number(classes[k].second) + " 0.0 c" +
                                                       std::to_string(k + 1) + ".out");
  t += "SOIL_EROSION_PROPS Soils\nNUM_IDS 1\nNUM_SED " + std::to_string(classes.size()) + "\n";
  t += "ID    DESCRIPTION                                  VALUES\n";
  t += id_row(1, erosion + " " + fractions);
  write_file("case_tables.cmt", t);
}

// The project: `method` the SOIL_EROSION form, rain of rain_mmh for rain_min minutes.
template <class F>
void write_project(const plane& p, F ground, int method, double rain_mmh, double rain_min,
                   double minutes, double step, const std::string& extra = "") {
  write_file("case_mask.asc", grid(p, [](int, int) { return 1.0; }));
  write_file("case_elev.asc", grid(p, ground));
  write_file("case_soil.idx", grid(p, [](int, int) { return 1.0; }));
  std::string t = "TORVAPROJECT\n";
  t += "WATERSHED_MASK     case_mask.asc\nELEVATION          case_elev.asc\n";
  t += "SUMMARY            case_summary.out\nOUTLET_HYDRO       case_outlet.out\n";
  t += "ROWS " + std::to_string(p.rows) + "\nCOLS " + std::to_string(p.cols) + "\n";
  t += "GRIDSIZE " + number(p.dx) + "\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n";
  t += "TIMESTEP " + number(step) + "\nTOT_TIME " + number(minutes) + "\n";
  t += "OUTROW " + std::to_string(p.rows) + "\nOUTCOL 1\nOUTSLOPE 0.01\n";
  t += "HYD_FREQ " + number(step / 60.0) + "\nMANNING_N 0.05\nOVERTYPE explicit\n";
  t += "PRECIP_UNIF\nRAIN_INTENSITY " + number(rain_mmh) + "\nRAIN_DURATION " + number(rain_min) +
       "\n";
  t += "MAPPING_TABLE      case_tables.cmt\n";
  t += "SOIL_EROSION " + std::to_string(method) + "\n";
  t += "OUTLET_SED_FLUX    case_sed_outlet.out\nSAND_SIZE 0.0625\nWATER_TEMP 20\n";
  t += extra;
  write_file("case.prj", t);
}

// Per class, the five numbers of the overland sediment summary at the end of the run (the last
// block of the summary file).
struct class_books {
  double eroded = 0, deposited = 0, suspended = 0, out = 0, error = 0;
};
std::map<int, class_books> read_books(const std::string& summary) {
  std::map<int, class_books> books;
  std::istringstream in(summary);
  std::string line;
  while (std::getline(in, line)) {
    long k = 0;
    double v = 0;
    if (std::sscanf(line.c_str(), "Total sediment %ld eroded from surface: %lf", &k, &v) == 2)
      books[k].eroded = v;
    else if (std::sscanf(line.c_str(), "Total sediment %ld deposited on surface: %lf", &k, &v) == 2)
      books[k].deposited = v;
    else if (std::sscanf(line.c_str(), "Total sediment %ld remaining in suspension: %lf", &k, &v) ==
             2)
      books[k].suspended = v;
    else if (std::sscanf(line.c_str(), "Total sediment %ld routed through outlet %lf", &k, &v) == 2)
      books[k].out = v;
    else if (std::sscanf(line.c_str(), "Mass balance error for sediment %ld %lf", &k, &v) == 2)
      books[k].error = v;
  }
  return books;
}

// Splash on still water thinner than the raindrops: the first step with rain detaches from the
// parent soil of every cell K a R^b dt dx^2 / 2645.23 (R 50 mm/h: a 6.12e-8, b 1.4242); every
// later step splashes up no more than the loose deposit the last one left, which settles again
// (nothing flows fast enough to carry it, and the erodibility sed_K of 0 gives no capacity), so
// the run erodes exactly that volume, shared by the soil fractions.
TEST(SedimentCases, SplashOnStillWaterErodesTheHandComputedVolume) {
  temp_dir dir;
  const plane p{6, 8, 10.0};
  write_tables({{2.65, 0.01}, {2.65, 0.3}}, "60 2e-5 1 1e6 0", "0.4 0.6");
  const double step = 30.0, rain = 50.0;
  // 4 minutes of rain is 3.3 mm, below the 2.5 mm drop diameter only at first: the run ends
  // after 2 minutes (1.7 mm).
  write_project(
      p, [](int, int) { return 100.0; }, 2, rain, 2.0, 2.0, step);
  const command_result r = torva_test::run_with_threads("case.prj", 1);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::map<int, class_books> books = read_books(read_file("case_summary.out"));
  ASSERT_EQ(books.size(), 2u) << read_file("case_summary.out");
  const double per_cell = 60.0 * 6.12e-8 * std::pow(rain, 1.4242) * step * p.dx * p.dx / 2645.23;
  const double total = per_cell * p.rows * p.cols;
  EXPECT_NEAR(books.at(1).eroded, 0.4 * total, 1e-7 * total);
  EXPECT_NEAR(books.at(2).eroded, 0.6 * total, 1e-7 * total);
  for (const auto& [k, b] : books) {
    EXPECT_NEAR(b.deposited + b.suspended + b.out, b.eroded, 1e-6 * b.eroded) << k;
    EXPECT_EQ(b.out, 0.0) << k;
  }
}

// A tilted plane under an hour of rain: every class is eroded, part of it leaves through the
// outlet, the books of each class close, the outlet series adds up to what the summary says left,
// and the runs on 1 and 8 threads write the same bytes.
TEST(SedimentCases, TiltedPlaneErodesCarriesAndSettlesBothClasses) {
  temp_dir dir;
  const plane p{12, 8, 10.0};
  write_tables({{2.65, 0.01}, {2.65, 0.3}}, "60 2e-5 1 0.5 1", "0.3 0.7");
  const double step = 10.0;
  for (int method : {1, 2, 3, 4, 5, 6}) {
    write_project(
        p, [&](int r, int c) { return 0.02 * p.dx * (p.rows - r) + 0.002 * p.dx * (c - 1); },
        method, 80.0, 30.0, 40.0, step);
    const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("case.prj", [] {
      return read_file("case_summary.out") + read_file("case_sed_outlet.out");
    });
    const std::map<int, class_books> books = read_books(read_file("case_summary.out"));
    ASSERT_EQ(books.size(), 2u) << method;
    double routed = 0.0;
    for (const auto& [k, b] : books) {
      EXPECT_GT(b.eroded, 0.0) << "form " << method << " class " << k;
      EXPECT_NEAR(b.deposited + b.suspended + b.out, b.eroded, 1e-6 * b.eroded)
          << "form " << method << " class " << k;
      EXPECT_LT(std::fabs(b.error), 1e-4) << "form " << method << " class " << k;
      routed += b.out;
    }
    EXPECT_GT(routed, 0.0) << "form " << method;
    // The outlet series: a line at the start, then one per step with the step's outlet volume
    // as a rate. Its rates are printed to 1e-10 m3/s, so its 240 steps of 10 s add up to the
    // summary's volume (printed to 1e-8 m3 per class) within 240 x 0.5e-10 x 10 + 2 x 0.5e-8.
    std::istringstream series(read_file("case_sed_outlet.out"));
    double t = 0, rate = 0, sum = 0;
    int lines = 0;
    while (series >> t >> rate) {
      if (lines == 0) {
        EXPECT_EQ(t, 0.0);
      }
      sum += rate * step;
      ++lines;
    }
    EXPECT_EQ(lines, 241) << method;
    EXPECT_NEAR(sum, routed, 1.3e-7) << "form " << method;
  }
}

// A plane of several tiles of the cell-to-cell transport (18 rows, 60 columns) whose ground
// falls to the south and from both sides to a middle column, so sediment crosses faces in every
// direction and between tiles: the run on 8 threads, which moves the sediment tile by tile,
// writes the same bytes as the single pass on 1 thread, and the books of each class close.
TEST(SedimentCases, APlaneOfManyTilesMovesItsSedimentAsTheSinglePassDoes) {
  temp_dir dir;
  const plane p{18, 60, 10.0};
  write_tables({{2.65, 0.01}, {2.65, 0.3}}, "60 2e-5 1 0.5 1", "0.3 0.7");
  write_project(
      p, [&](int r, int c) { return 0.02 * p.dx * (p.rows - r) + 0.004 * p.dx * std::abs(c - 30); },
      3, 80.0, 3.0, 3.0, 10.0);
  torva_test::run_at_compared_thread_counts(
      "case.prj", [] { return read_file("case_summary.out") + read_file("case_sed_outlet.out"); });
  const std::map<int, class_books> books = read_books(read_file("case_summary.out"));
  ASSERT_EQ(books.size(), 2u);
  for (const auto& [k, b] : books) {
    EXPECT_GT(b.eroded, 0.0) << "class " << k;
    EXPECT_GT(b.deposited, 0.0) << "class " << k;
    EXPECT_NEAR(b.deposited + b.suspended + b.out, b.eroded, 1e-6 * b.eroded) << "class " << k;
  }
}

// The grid values of an ASCII map, row by row after its six header lines.
std::vector<double> map_values(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  for (int k = 0; k < 6 && std::getline(in, line); ++k) {
  }
  std::vector<double> values;
  double v = 0;
  while (in >> v) values.push_back(v);
  return values;
}

// ADJUST_ELEV on the tilted plane (a more erodible soil under 150 mm/h), 1 and 8 threads: the
// ground follows the sediment (about 0.0145 m3 leave the plane or stay suspended). Summed over
// the plane, the rise of the ground times the cell area is what the run left on it less what it
// took up, deposited - eroded = -(suspended + routed out) per the books of every class. The
// adjusted map prints 6 decimals: 96 cells of 100 m2 are good to 96 x 0.5e-6 x 100 m3.
TEST(SedimentCases, GroundElevationsFollowErosionAndDepositionWithAdjustElev) {
  temp_dir dir;
  const plane p{12, 8, 10.0};
  write_tables({{2.65, 0.01}, {2.65, 0.3}}, "60 2e-3 1 0 1", "0.3 0.7");
  write_project(
      p, [&](int r, int c) { return 0.02 * p.dx * (p.rows - r) + 0.002 * p.dx * (c - 1); }, 3,
      150.0, 30.0, 40.0, 10.0, "ADJUST_ELEV        case_adjusted.asc\n");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "case.prj", [] { return read_file("case_summary.out") + read_file("case_adjusted.asc"); });
  const std::vector<double> before = map_values(read_file("case_elev.asc"));
  const std::vector<double> after = map_values(read_file("case_adjusted.asc"));
  ASSERT_EQ(before.size(), 96u);
  ASSERT_EQ(after.size(), 96u);
  double change = 0.0;
  int raised = 0, lowered = 0;
  for (std::size_t c = 0; c < before.size(); ++c) {
    const double dz = after[c] - before[c];
    change += dz * p.dx * p.dx;
    raised += dz > 1e-6 ? 1 : 0;
    lowered += dz < -1e-6 ? 1 : 0;
  }
  double left = 0.0;
  for (const auto& [k, b] : read_books(read_file("case_summary.out"))) left += b.suspended + b.out;
  ASSERT_GT(left, 0.0);
  EXPECT_NEAR(change, -left, 96 * 0.5e-6 * 100.0 + 1e-7);
  EXPECT_GT(raised, 0);
  EXPECT_GT(lowered, 0);
}

// The sediment example (examples/watershed_sediment): the example watershed with a silt and a
// sand class eroded overland and carried through three erodible trapezoidal links with 0.3 m of
// sand under each bed.
const std::filesystem::path example_dir =
    std::filesystem::path(TORVA_SOURCE_DIR) / "examples" / "watershed_sediment";

void copy_example() {
  for (const auto& e : std::filesystem::directory_iterator(example_dir))
    if (e.is_regular_file())
      std::filesystem::copy_file(e.path(), e.path().filename(),
                                 std::filesystem::copy_options::overwrite_existing);
}

// A number after `label` on its line of the text (the last such line), NaN when absent.
double number_after(const std::string& text, const std::string& label) {
  const std::size_t at = text.rfind(label);
  if (at == std::string::npos) return std::nan("");
  return std::strtod(text.c_str() + at + label.size(), nullptr);
}

// Per node the bed elevation now and at the start, from "new_bed_elevations.txt".
std::vector<std::pair<double, double>> read_beds() {
  std::istringstream in(read_file("new_bed_elevations.txt"));
  std::string line;
  std::getline(in, line);  // heading
  std::vector<std::pair<double, double>> beds;
  long link = 0, node = 0, flag = 0;
  double now = 0, before = 0;
  while (std::getline(in, line))
    if (std::sscanf(line.c_str(), "%ld %ld %lf %lf %ld", &link, &node, &now, &before, &flag) == 5)
      beds.emplace_back(now, before);
  return beds;
}

// The sediment example end to end on 1 and 8 threads: overland books close per class with what
// went into the channels, the channel sand and wash-load books close (sand handed to a node
// without water and wash load in a node without water stay on them), the outlet series carries
// both, and the beds of its 14 computational nodes moved.
TEST(SedimentCases, ExampleCarriesSandAndWashLoadThroughItsChannels) {
  temp_dir dir;
  copy_example();
  const torva_test::thread_runs runs =
      torva_test::run_at_compared_thread_counts("watershed.prj", [] {
        return read_file("watershed_summary.out") + read_file("watershed_sed_outlet.out") +
               read_file("new_bed_elevations.txt");
      });
  const std::string summary = read_file("watershed_summary.out");
  const std::map<int, class_books> books = read_books(summary);
  ASSERT_EQ(books.size(), 2u) << summary;
  double into_channels = 0.0;
  for (int k = 1; k <= 2; ++k) {
    const double to_chan = number_after(
        summary, "Total sediment " + std::to_string(k) + " transported into channels:");
    const class_books& b = books.at(k);
    EXPECT_GT(b.eroded, 0.0) << k;
    EXPECT_GT(to_chan, 0.0) << k;
    EXPECT_NEAR(b.deposited + b.suspended + to_chan, b.eroded, 1e-6 * b.eroded + 1.5e-8) << k;
    into_channels += to_chan;
  }
  const double sand0 = number_after(summary, "Initial volume of sand in channels:");
  const double sand_in = number_after(summary, "Total sand to chan from overland:");
  const double sand_out = number_after(summary, "Total sand outlet discharge:");
  const double sand_end = number_after(summary, "Final sand in channels:");
  const double wash_in = number_after(summary, "Total wash-load to chan from overland:");
  const double wash_out = number_after(summary, "Total wash-load outlet discharge:");
  const double wash_end = number_after(summary, "Final wash-load remaining in suspension:");
  // 0.3 m of sand under beds 1.5, 1.0 and 3.0 m wide, 4, 4 and 6 computational nodes of 30 m
  // (one fewer than the nodes given), porosity 0.4.
  EXPECT_NEAR(sand0, 0.6 * 0.3 * 30.0 * (4 * 1.5 + 4 * 1.0 + 6 * 3.0), 1e-6);
  // The summary prints volumes to 1e-8 m3: a sum of three is good to 1.5e-8.
  EXPECT_NEAR(sand_in + wash_in, into_channels, 2e-8);
  EXPECT_NEAR(sand0 + sand_in, sand_out + sand_end, 1e-6 * (sand0 + sand_in) + 1.5e-8);
  EXPECT_NEAR(wash_in, wash_out + wash_end, 1e-6 * wash_in + 1.5e-8);
  EXPECT_GT(sand_out, 0.0);
  EXPECT_GT(wash_out, 0.0);
  EXPECT_LT(std::fabs(number_after(summary, "Overall channel sediment mass cons. error:")), 1e-6);
  const std::vector<std::pair<double, double>> beds = read_beds();
  ASSERT_EQ(beds.size(), 14u);
  int moved = 0;
  for (const auto& [now, before] : beds) {
    EXPECT_GE(now, before - 0.3 - 1e-9);  // never below the erodible depth
    if (now != before) ++moved;
  }
  EXPECT_GT(moved, 0);
}

// Where no sand moves the beds stay where they were: a grain of 50 mm is too heavy for the flow
// of the example, so the sand stock under each bed is never touched (and both size classes,
// finer than it, travel as wash load).
TEST(SedimentCases, UntouchedSandStockLeavesTheBedsInPlace) {
  temp_dir dir;
  copy_example();
  std::string project = read_file("watershed.prj");
  const std::size_t at = project.find("SAND_SIZE          0.0625");
  ASSERT_NE(at, std::string::npos);
  project.replace(at, 25, "SAND_SIZE          50");
  write_file("watershed.prj", project);
  const command_result r = torva_test::run_with_threads("watershed.prj", 1);
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string summary = read_file("watershed_summary.out");
  EXPECT_EQ(number_after(summary, "Total sand outlet discharge:"), 0.0);
  EXPECT_GT(number_after(summary, "Total wash-load outlet discharge:"), 0.0);
  const std::vector<std::pair<double, double>> beds = read_beds();
  ASSERT_EQ(beds.size(), 14u);
  for (const auto& [now, before] : beds) EXPECT_EQ(now, before);
}

// The lake example with sediment: the example's lake, fed by the erodible valley head link and
// by the water running over its shores, empties through its culvert into the outlet link, here
// an erodible trapezoid 3 m wide (or the example's surveyed break-point section when
// `surveyed_outlet`); the soils, size classes and cards of the sediment example.
void write_lake_sediment_case(bool surveyed_outlet = false) {
  const std::string lake_dir = std::string(TORVA_SOURCE_DIR) + "/examples/lake/";
  for (const char* name : {"lake.prj", "lake.chn", "lake.gst", "lake_mask.asc", "lake_elev.asc",
                           "lake_conductivity.asc", "lake_capillary.asc", "lake_porosity.asc",
                           "lake_moisture.asc", "lake_hyd_locations.txt"})
    write_file(name, read_file(lake_dir + name));
  for (const char* name : {"watershed.cmt", "watershed_soil.idx"})
    write_file(name, read_file((example_dir / name).string()));
  std::string chn = read_file("lake.chn");
  auto replace = [&](const std::string& from, const std::string& to) {
    const std::size_t at = chn.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    chn.replace(at, from.size(), to);
  };
  replace("LINK 1\nNODES 3\nDX 30.0\nTRAPEZOID\n",
          "LINK 1\nNODES 3\nDX 30.0\nTRAPEZOID\nERODIBLE\n");
  replace("BOTTOM_WIDTH 1.5\nSIDE_SLOPE 1.5\n",
          "BOTTOM_WIDTH 1.5\nSIDE_SLOPE 1.5\nMAX_EROSION 0.3\n");
  if (surveyed_outlet) {
    // The surveyed outlet link erodes: 0.3 m of bed material under each of its sections.
    replace("BREAKPOINT\n", "BREAKPOINT\nERODIBLE\n");
    for (const char* elev : {"ELEV 102.30\n", "ELEV 101.70\n", "ELEV 101.10\n", "ELEV 100.50\n",
                             "ELEV 99.90\n", "ELEV 99.30\n"})
      replace(elev, std::string(elev) + "MAX_EROSION 0.3\n");
  } else {
    replace("BREAKPOINT\n", "TRAPEZOID\nERODIBLE\n");
    const std::size_t from = chn.find("NPAIRS 6\n"), to = chn.find("X1 14.0 2.5\n");
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos);
    chn.replace(from, to + 12 - from, "XSEC\nBOTTOM_WIDTH 3.0\nSIDE_SLOPE 1.0\nMAX_EROSION 0.3\n");
  }
  write_file("lake.chn", chn);
  write_file("lake.prj", read_file("lake.prj") +
                             "SOIL_EROSION       3\nMAPPING_TABLE      watershed.cmt\n"
                             "SAND_SIZE          0.0625\nWATER_TEMP         15\n"
                             "SED_POROSITY       0.4\nOUTLET_SED_FLUX    lake_sed_outlet.out\n");
}

// The sediment example's lake end to end on 1 and 8 threads: the silt the overland plane and the
// valley head link carry into the lake settles there or leaves through the culvert, the sand
// the head link moves settles on the lake bed, and every book closes: per class overland
// (eroded = deposited + suspended + into channels + into the lake), the channels' sand and wash
// load with what they exchanged with the lake, and the lake's own (in = out + settled + held).
TEST(SedimentCases, TheLakeSettlesItsWashLoadAndPassesTheRestThroughItsCulvert) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_lake_sediment_case();
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("lake.prj", [] {
    return read_file("lake_summary.out") + read_file("lake_sed_outlet.out") +
           read_file("new_bed_elevations.txt");
  });
  const std::string summary = read_file("lake_summary.out");
  const std::map<int, class_books> books = read_books(summary);
  ASSERT_EQ(books.size(), 2u) << summary;
  double to_lake_silt = 0.0;
  for (int k = 1; k <= 2; ++k) {
    const std::string cls = std::to_string(k);
    const double to_chan =
        number_after(summary, "Total sediment " + cls + " transported into channels:");
    const double to_lake =
        number_after(summary, "Total sediment " + cls + " transported into lakes:");
    const class_books& b = books.at(k);
    EXPECT_GT(b.eroded, 0.0) << k;
    EXPECT_NEAR(b.deposited + b.suspended + to_chan + to_lake, b.eroded, 1e-6 * b.eroded + 2e-8)
        << k;
    if (k == 1)
      to_lake_silt = to_lake;
    else
      EXPECT_EQ(to_lake, 0.0);  // sand settles on the shore cells: it stays on the plane
  }
  EXPECT_GT(to_lake_silt, 0.0);
  const double sand0 = number_after(summary, "Initial volume of sand in channels:");
  const double sand_in = number_after(summary, "Total sand to chan from overland:");
  const double sand_lake = number_after(summary, "Total sand from chan to lakes:");
  const double sand_out = number_after(summary, "Total sand outlet discharge:");
  const double sand_end = number_after(summary, "Final sand in channels:");
  const double wash_in = number_after(summary, "Total wash-load to chan from overland:");
  const double wash_to_lake = number_after(summary, "Total wash-load from chan to lakes :");
  const double wash_from_lake = number_after(summary, "Total wash-load from lake to chan:");
  const double wash_out = number_after(summary, "Total wash-load outlet discharge:");
  const double wash_end = number_after(summary, "Final wash-load remaining in suspension:");
  EXPECT_NEAR(sand0 + sand_in, sand_out + sand_end + sand_lake, 1e-6 * (sand0 + sand_in) + 2e-8);
  EXPECT_NEAR(wash_in + wash_from_lake, wash_out + wash_end + wash_to_lake,
              1e-6 * (wash_in + wash_from_lake) + 2e-8);
  EXPECT_GT(wash_to_lake, 0.0);
  EXPECT_GT(wash_from_lake, 0.0);  // through the culvert into the outlet link
  EXPECT_GT(wash_out, 0.0);
  EXPECT_LT(std::fabs(number_after(summary, "Overall channel sediment mass cons. error:")), 1e-6);
  // The lake's own books.
  const double from_chan = number_after(summary, "Total vol of SS from chan to lake");
  const double to_chan = number_after(summary, "Total vol of SS from lake to chan");
  const double from_land = number_after(summary, "Total net vol of SS from overland to lake");
  const double settled = number_after(summary, "Total vol of SS settled in lake");
  const double held = number_after(summary, "Total Suspended Sediment in lake");
  EXPECT_NEAR(from_chan, wash_to_lake, 1e-8);
  EXPECT_NEAR(to_chan, wash_from_lake, 1e-8);
  EXPECT_NEAR(from_land, to_lake_silt, 1e-8);
  EXPECT_GT(settled, 0.0);
  EXPECT_NEAR(from_chan + from_land, to_chan + settled + held,
              1e-6 * (from_chan + from_land) + 3e-8);
  EXPECT_NEAR(number_after(summary, "Total sand settled into lake bottom:"), sand_lake, 1e-8);
  // The bed file names the lake link and no node of it.
  EXPECT_NE(read_file("new_bed_elevations.txt").find("Link     3 is a lake     2"),
            std::string::npos);
}

// A still lake settles its silt as the settling law says. The lake case with its culvert set
// above the lake's reach: after an hour of rain the lake fills to 939.64 m3 and, 40 minutes on,
// stands still (the books show nothing coming in or going out between minutes 100 and 110).
// Each channel step of 10 s then settles the share w dt A / V of the silt the lake holds, with w
// the Stokes velocity of a quartz grain of 0.02 mm in water at 15 degrees and A the four cells
// the lake covers (3600 m2): after 60 steps the lake holds (1 - w dt A / V)^60 of it.
TEST(SedimentCases, AStillLakeSettlesItsSiltAsTheSettlingLawSays) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_lake_sediment_case();
  std::string chn = read_file("lake.chn");
  const std::size_t culvert = chn.find("UPINVERT 103.65");
  ASSERT_NE(culvert, std::string::npos);
  chn.replace(culvert, 15, "UPINVERT 106.00");
  write_file("lake.chn", chn);
  const std::string project = read_file("lake.prj");
  const std::size_t at = project.find("TOT_TIME           180");
  ASSERT_NE(at, std::string::npos);
  struct lake_books {
    double volume, from_chan, to_chan, from_land, settled, held;
  };
  auto run_to = [&](int minutes, bool both_thread_counts) {
    std::string p = project;
    p.replace(at, 22, "TOT_TIME           " + std::to_string(minutes));
    write_file("lake.prj", p);
    if (both_thread_counts) {
      torva_test::run_at_compared_thread_counts("lake.prj",
                                                [] { return read_file("lake_summary.out"); });
    } else {
      const command_result r = torva_test::run_with_threads("lake.prj", 1);
      EXPECT_EQ(r.status, 0) << r.out;
    }
    const std::string summary = read_file("lake_summary.out");
    return lake_books{number_after(summary, "Final volume in perennial lakes"),
                      number_after(summary, "Total vol of SS from chan to lake"),
                      number_after(summary, "Total vol of SS from lake to chan"),
                      number_after(summary, "Total net vol of SS from overland to lake"),
                      number_after(summary, "Total vol of SS settled in lake"),
                      number_after(summary, "Total Suspended Sediment in lake")};
  };
  const lake_books before = run_to(100, false);
  const lake_books after = run_to(110, true);
  // Still: the same water, nothing in or out of the lake in the window.
  ASSERT_NEAR(before.volume, 939.64, 0.005);
  EXPECT_EQ(after.volume, before.volume);
  EXPECT_EQ(after.from_chan, before.from_chan);
  EXPECT_EQ(after.from_land, before.from_land);
  EXPECT_EQ(after.to_chan, 0.0);
  ASSERT_GT(before.held, 1e-4);
  const double t = 15.0;
  const double nu = 7.125025025025025e-10 * std::pow((6005.52 + t) / (t + 45.28), 1.6012);
  const double d = 0.02e-3;
  const double w = 1.65 * 9.81 * d * d / (18.0 * nu);  // 3.174e-4 m/s
  const double share = w * 10.0 * 3600.0 / before.volume;
  const double expected = before.held * std::pow(1.0 - share, 60);  // about 0.48 of it
  // The summary prints the volumes to 1e-8 m3.
  EXPECT_NEAR(after.held, expected, 1.5e-8);
  EXPECT_NEAR(after.settled - before.settled, before.held - after.held, 2e-8);
}

// Sand through the surveyed sections of an erodible outlet link, 1 and 8 threads, with the beds
// following or not: the bed stock is the 0.3 m erodible layer under the 14 m span of each of its
// six computational sections (and under the 1.5 m bed of the two nodes of the trapezoidal head
// link), porosity 0.4; the steep outlet link (2 %) wears its beds down, the books close, and
// with ADJUST_CHANNEL_BED the routing follows the worn sections.
TEST(SedimentCases, SandWearsDownTheSurveyedSectionsOfAnErodibleLink) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_lake_sediment_case(true);
  const std::string project = read_file("lake.prj");
  for (const bool adjust : {false, true}) {
    SCOPED_TRACE(adjust);
    write_file("lake.prj", project + (adjust ? "ADJUST_CHANNEL_BED\n" : ""));
    const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("lake.prj", [] {
      return read_file("lake_summary.out") + read_file("new_bed_elevations.txt");
    });
    const std::string summary = read_file("lake_summary.out");
    const double sand0 = number_after(summary, "Initial volume of sand in channels:");
    const double sand_in = number_after(summary, "Total sand to chan from overland:");
    const double sand_lake = number_after(summary, "Total sand from chan to lakes:");
    const double sand_out = number_after(summary, "Total sand outlet discharge:");
    const double sand_end = number_after(summary, "Final sand in channels:");
    EXPECT_NEAR(sand0, 0.6 * 0.3 * 30.0 * (6 * 14.0 + 2 * 1.5), 1e-6);
    EXPECT_NEAR(sand0 + sand_in, sand_out + sand_end + sand_lake, 1e-6 * (sand0 + sand_in) + 2e-8);
    EXPECT_GT(sand_out, 0.0);
    EXPECT_LT(std::fabs(number_after(summary, "Overall channel sediment mass cons. error:")), 1e-6);
    // The beds of the surveyed link (the lines "5 j now before"): every one wore down.
    std::istringstream in(read_file("new_bed_elevations.txt"));
    std::string line;
    int worn = 0;
    while (std::getline(in, line)) {
      long link = 0, node = 0;
      double now = 0, before = 0;
      if (std::sscanf(line.c_str(), "%ld %ld %lf %lf", &link, &node, &now, &before) != 4 ||
          link != 5)
        continue;
      EXPECT_LT(now, before) << line;
      ++worn;
    }
    EXPECT_EQ(worn, 6);
  }
}

// ADJUST_CHANNEL_BED on the sediment example, 1 and 8 threads: the beds the channel routes over
// follow the sand (the bed file gives the channel's own beds, and some moved, never below their
// erodible depth), and the channel books still close.
TEST(SedimentCases, ChannelBedsFollowTheSandWithAdjustChannelBed) {
  temp_dir dir;
  copy_example();
  write_file("watershed.prj", read_file("watershed.prj") + "ADJUST_CHANNEL_BED\n");
  const torva_test::thread_runs runs =
      torva_test::run_at_compared_thread_counts("watershed.prj", [] {
        return read_file("watershed_summary.out") + read_file("watershed_sed_outlet.out") +
               read_file("new_bed_elevations.txt");
      });
  const std::string summary = read_file("watershed_summary.out");
  const double sand0 = number_after(summary, "Initial volume of sand in channels:");
  const double sand_in = number_after(summary, "Total sand to chan from overland:");
  const double sand_out = number_after(summary, "Total sand outlet discharge:");
  const double sand_end = number_after(summary, "Final sand in channels:");
  const double wash_in = number_after(summary, "Total wash-load to chan from overland:");
  const double wash_out = number_after(summary, "Total wash-load outlet discharge:");
  const double wash_end = number_after(summary, "Final wash-load remaining in suspension:");
  EXPECT_NEAR(sand0 + sand_in, sand_out + sand_end, 1e-6 * (sand0 + sand_in) + 1.5e-8);
  EXPECT_NEAR(wash_in, wash_out + wash_end, 1e-6 * wash_in + 1.5e-8);
  EXPECT_GT(sand_out, 0.0);
  const std::string beds_text = read_file("new_bed_elevations.txt");
  // With the beds adjusted the flag follows after one blank.
  EXPECT_NE(beds_text.find("\n1 1 "), std::string::npos);
  EXPECT_EQ(beds_text.find("  0 \n"), std::string::npos) << beds_text;
  const std::vector<std::pair<double, double>> beds = read_beds();
  ASSERT_EQ(beds.size(), 14u);
  int moved = 0;
  for (const auto& [now, before] : beds) {
    EXPECT_GE(now, before - 0.3 - 1e-9);
    if (now != before) ++moved;
  }
  EXPECT_GT(moved, 0);
}

// The numbers of each line of a text, the first `skip` lines left out.
std::vector<std::vector<double>> number_lines(const std::string& text, int skip) {
  std::istringstream in(text);
  std::string line;
  std::vector<std::vector<double>> rows;
  for (int n = 0; std::getline(in, line); ++n) {
    if (n < skip) continue;
    std::istringstream fields(line);
    std::vector<double> row;
    double v = 0;
    while (fields >> v) row.push_back(v);
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

// Sediment series at listed channel locations (IN_SED_LOC) on the sediment example, 1 and 8
// threads: the file opens with the list as read, then one line per output time with, per
// location, the flux of the wash-load class, of the sand class and of the bed stock. At the
// outlet node (link 3, node 6) those are the outlet sediment series' own values, and the TSS
// there is the outlet TSS series'.
TEST(SedimentCases, SedimentSeriesAtChannelLocationsMatchTheOutletSeries) {
  temp_dir dir;
  copy_example();
  write_file("sed_loc.txt", "2\n3 6\n1 2\n");
  write_file("watershed.prj", read_file("watershed.prj") +
                                  "IN_SED_LOC         sed_loc.txt\nOUT_SED_LOC        sed_loc.out\n"
                                  "OUT_TSS_LOC        tss_loc.out\n"
                                  "OUTLET_SED_TSS     outlet_tss.out\n");
  const torva_test::thread_runs runs =
      torva_test::run_at_compared_thread_counts("watershed.prj", [] {
        return read_file("sed_loc.out") + read_file("tss_loc.out") + read_file("outlet_tss.out");
      });
  const std::string located = read_file("sed_loc.out");
  EXPECT_EQ(located.rfind("2\n   3    6\n   1    2\n", 0), 0u) << located.substr(0, 40);
  const auto at = number_lines(located, 3);
  const auto outlet = number_lines(read_file("watershed_sed_outlet.out"), 0);
  const auto tss_at = number_lines(read_file("tss_loc.out"), 0);
  const auto tss_outlet = number_lines(read_file("outlet_tss.out"), 0);
  ASSERT_EQ(at.size(), 31u);  // 150 minutes every 5, and the start
  ASSERT_EQ(outlet.size(), at.size());
  ASSERT_EQ(tss_at.size(), at.size());
  ASSERT_EQ(tss_outlet.size(), at.size());
  double moving = 0.0;
  for (std::size_t t = 0; t < at.size(); ++t) {
    ASSERT_EQ(at[t].size(), 7u) << t;  // the time, then 3 values per location
    ASSERT_EQ(outlet[t].size(), 4u) << t;
    EXPECT_EQ(at[t][0], outlet[t][0]);
    for (int k = 1; k <= 3; ++k) EXPECT_EQ(at[t][k], outlet[t][k]) << "time " << t << " " << k;
    for (int k = 1; k <= 6; ++k) moving += at[t][k];
    ASSERT_EQ(tss_at[t].size(), 3u);
    EXPECT_EQ(tss_at[t][1], tss_outlet[t][1]) << t;
  }
  EXPECT_GT(moving, 0.0);
}

// Bad sediment tables stop the run at start-up with a message naming the file and what is wrong.
TEST(SedimentCases, BadSedimentTablesStopTheRunNamingFileClassAndValue) {
  temp_dir dir;
  const plane p{3, 3, 10.0};
  struct {
    std::vector<std::pair<double, double>> classes;
    std::string fractions;
    std::vector<std::string> said;
  } cases[] = {
      {{{2.65, 0.01}, {2.65, 0.0}}, "0.5 0.5", {"size class 2", "particle diameter 0"}},
      {{{2.65, -0.1}}, "1", {"size class 1", "particle diameter -0.1"}},
      {{{1.0, 0.01}, {2.65, 0.3}}, "0.5 0.5", {"size class 1", "specific gravity 1;"}},
      {{{0.9, 0.01}}, "1", {"size class 1", "specific gravity 0.9"}},
      {{{2.65, 0.01}, {2.65, 0.3}}, "0.5 0.6", {"id 1", "sum to 1.1"}},
  };
  for (const auto& c : cases) {
    write_tables(c.classes, "60 2e-5 1 0 1", c.fractions);
    write_project(
        p, [](int, int) { return 1.0; }, 2, 10.0, 1.0, 2.0, 30.0);
    const command_result r = torva_test::run_with_threads("case.prj", 1);
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("case_tables.cmt"), std::string::npos) << r.out;
    for (const std::string& s : c.said) EXPECT_NE(r.out.find(s), std::string::npos) << r.out;
  }
  // A form that does not exist is refused too, naming the card.
  write_tables({{2.65, 0.01}}, "60 2e-5 1 0 1", "1");
  write_project(
      p, [](int, int) { return 1.0; }, 7, 10.0, 1.0, 2.0, 30.0);
  const command_result r = torva_test::run_with_threads("case.prj", 1);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("SOIL_EROSION 7"), std::string::npos) << r.out;
}

// The books of an overland lake at the end of a run, for one class, and the lake's water.
struct olake_books {
  double volume = 0, in = 0, settled = 0, held = 0;
};
olake_books read_olake_books(const std::string& summary, int k) {
  const std::string cls = "Sediment " + std::to_string(k);
  return {number_after(summary, "Final volume in overland lakes="),
          number_after(summary, cls + " into the lake from overland (net):"),
          number_after(summary, cls + " settled on the lake bed:"),
          number_after(summary, cls + " remaining in lake suspension:")};
}

// A tilted plane with an overland lake in a pit 1.5 m deep (four cells, its surface 0.5 m above
// the floor): ten minutes of rain erode silt and sand that the flow carries into the lake, which
// takes every class into its water and settles it on its bed, 1 and 8 threads alike. The books
// close per class: eroded = deposited + suspended + out + into the lake, and the lake's own
// in = settled + held. Once the plane has drained the lake stands nearly still, and each
// overland step of 10 s settles the share w dt A / V of the silt it holds (w the Stokes velocity
// of a quartz grain of 0.01 mm in water at 20 degrees, A the lake's four cells of 100 m2): 60
// steps later it holds (1 - w dt A / V)^60 of it.
TEST(SedimentCases, AnOverlandLakeTakesWhatThePlaneBringsAndSettlesItOnItsBed) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const plane p{10, 6, 10.0};
  write_tables({{2.65, 0.01}, {2.65, 0.3}}, "60 2e-5 1 0.5 1", "0.3 0.7");
  auto in_pit = [](int r, int c) { return (r == 7 || r == 8) && (c == 3 || c == 4); };
  std::string lake_map = torva_test::grid_header(p.rows, p.cols, p.dx);
  for (int r = 1; r <= p.rows; ++r) {
    for (int c = 1; c <= p.cols; ++c)
      lake_map += (c > 1 ? " " : "") + std::string(in_pit(r, c) ? "1" : "0");
    lake_map += "\n";
  }
  write_file("case_lake.asc", lake_map);
  write_file("case_lake.txt", "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 9.5 200.0\n");
  auto run_to = [&](double minutes, bool both_thread_counts) {
    write_project(
        p,
        [&](int r, int c) {
          return in_pit(r, c) ? 9.0 : 10.0 + 0.02 * p.dx * (p.rows - r) + 0.002 * p.dx * (c - 1);
        },
        3, 80.0, 10.0, minutes, 10.0,
        "OVERLAND_LAKE_MAP  case_lake.asc\nOVERLAND_LAKE_FILE case_lake.txt\n");
    if (both_thread_counts) {
      torva_test::run_at_compared_thread_counts("case.prj", [] {
        return read_file("case_summary.out") + read_file("case_sed_outlet.out");
      });
    } else {
      const command_result r = torva_test::run_with_threads("case.prj", 1);
      EXPECT_EQ(r.status, 0) << r.out;
    }
    return read_file("case_summary.out");
  };
  const std::string summary = run_to(120.0, true);
  const std::map<int, class_books> books = read_books(summary);
  ASSERT_EQ(books.size(), 2u) << summary;
  for (int k = 1; k <= 2; ++k) {
    const class_books& b = books.at(k);
    const double to_lake =
        number_after(summary, "Total sediment " + std::to_string(k) + " transported into lakes:");
    const olake_books lake = read_olake_books(summary, k);
    EXPECT_GT(b.eroded, 0.0) << k;
    EXPECT_GT(to_lake, 0.0) << k;
    EXPECT_NEAR(to_lake, lake.in, 1e-8) << k;
    EXPECT_NEAR(b.deposited + b.suspended + b.out + to_lake, b.eroded, 1e-6 * b.eroded + 2e-8) << k;
    EXPECT_GT(lake.settled, 0.0) << k;
    EXPECT_NEAR(lake.settled + lake.held, lake.in, 1e-6 * lake.in + 2e-8) << k;
  }
  // The nearly still lake.
  const olake_books before = read_olake_books(run_to(160.0, false), 1);
  const olake_books after = read_olake_books(run_to(170.0, true), 1);
  // The last of the plane's water still trickles in (a few hundredths of a m3 in the window),
  // and with it a trace of silt: both are taken as an even inflow over the window's 60 steps,
  // the silt joining the lake before it settles.
  ASSERT_NEAR(after.volume, before.volume, 0.05);
  const double trickle = after.in - before.in;
  EXPECT_GE(trickle, 0.0);
  EXPECT_LT(trickle, 1e-4 * before.held);
  ASSERT_GT(before.held, 1e-4);
  const double nu = 7.125025025025025e-10 * std::pow((6005.52 + 20.0) / (20.0 + 45.28), 1.6012);
  const double d = 0.01e-3;
  const double w = 1.65 * 9.81 * d * d / (18.0 * nu);
  double expected = before.held;
  for (int i = 0; i < 60; ++i) {
    const double volume = before.volume + (after.volume - before.volume) * (i + 0.5) / 60.0;
    expected = (expected + trickle / 60.0) * (1.0 - w * 10.0 * 400.0 / volume);
  }
  ASSERT_LT(expected, 0.95 * before.held);  // the window settles a share worth testing
  // The summary prints the volumes to 1e-8 m3 and the lake's water to 0.01 m3 (2e-5 of it).
  EXPECT_NEAR(after.held, expected, 2e-6 * before.held + 1.5e-8);
  EXPECT_NEAR(after.settled - before.settled, before.held + trickle - after.held, 2e-8);
}

}  // namespace sediment_cases_tests
