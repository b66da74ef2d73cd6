// Richards soil columns end to end, run by the real torva executable at 1 and 8 threads: a
// column under a steady rain below its saturated conductivity with free drainage settles at
// the saturation whose conductivity is the rain rate; the water the surface gives the columns
// is their storage change plus their drainage; a column hydrostatic over a water table stays
// at rest; a constant-flux wetting front in Havercamp's sand arrives where the published
// solution puts it; bad tables and options stop the run at start-up naming what is wrong.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "run/run_driver.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::command_result;
using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// A flat 2 x 2 grid of `cell` m cells under uniform rain of `rain_mm_h` for the whole run,
// with Richards columns of soil type 3 from table.txt, soil moisture of the listed nodes of
// cell (1, 1) every `hyd_minutes`.
struct column_case {
  double cell = 100.0;  // m
  double rain_mm_h = 20.0;
  double minutes = 1440.0;
  double rain_minutes = 0.0;  // how long it rains (0: the whole run)
  double timestep = 60.0;
  double hyd_minutes = 60.0;
  std::string form = "brooks";
  std::string table;        // the layered soil table
  std::string extra;        // further cards
  std::vector<int> nodes;   // nodes written by the soil moisture output
  std::string water_table;  // a water table map ("" none)
};

void write_column_case(const column_case& k) {
  const std::string header = torva_test::grid_header(2, 2, k.cell);
  write_file("m.asc", header + "1 1\n1 1\n");
  write_file("e.asc", header + "10 10\n10 10\n");
  write_file("soil.asc", header + "3 3\n3 3\n");
  write_file("table.txt", k.table);
  std::ostringstream where;
  where << "1 " << k.nodes.size() << "\n1 1 " << k.nodes.size() << "\n";
  for (int n : k.nodes) where << n << "\n";
  write_file("where.txt", where.str());
  std::ostringstream p;
  p << "TORVAPROJECT\nWATERSHED_MASK m.asc\nELEVATION e.asc\nSUMMARY s.out\n"
    << "OUTLET_HYDRO o.out\nROWS 2\nCOLS 2\nGRIDSIZE " << k.cell << "\n"
    << "START_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP " << k.timestep << "\nTOT_TIME "
    << k.minutes << "\nOUTROW 2\nOUTCOL 2\nOUTSLOPE 0.001\nHYD_FREQ " << k.hyd_minutes
    << "\nMANNING_N 0.05\nOVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY " << k.rain_mm_h
    << "\nRAIN_DURATION " << (k.rain_minutes > 0.0 ? k.rain_minutes : k.minutes)
    << "\nINF_RICHARDS\nRICHARDS_C_OPTION " << k.form
    << "\nSOIL_TYPE_MAP soil.asc\nSOIL_LAYER_INPUT_FILE table.txt\n"
    << "IN_THETA_LOCATION where.txt\nOUT_THETA_LOCATION theta.out\n";
  if (!k.water_table.empty()) {
    write_file("wt.asc", header + k.water_table);
    p << "WATER_TABLE wt.asc\n";
  }
  p << k.extra;
  write_file("r.prj", p.str());
}

// The rows of the soil moisture output: time, then the listed nodes' contents.
std::vector<std::vector<double>> theta_rows(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::vector<double> row;
    double v = 0.0;
    while (fields >> v) row.push_back(v);
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

// One Brooks-Corey soil type 3 of three layers of one material (Ks cm/h, porosity, residual,
// initial content, wilting point, field capacity, thickness cm, pore index, bubbling pressure cm,
// node thickness cm).
std::string brooks_table(double ks, double initial, double thick3, double node) {
  std::ostringstream t;
  for (double thick : {10.0, 10.0, thick3})
    t << ks << " 0.45 0.05 " << initial << " 0.10 0.25 " << thick << " 0.5 20 " << node << "\n";
  return "1\n0\n3\n" + t.str();
}

struct case_result {
  std::string summary;
  std::string theta;
};

// Runs the written case at 1 and 8 threads; both must end normally and write the same files.
bool run_both(case_result& out) {
  std::string summaries[2], thetas[2];
  for (int k = 0; k < 2; ++k) {
    const command_result run =
        torva_test::run_with_threads("r.prj", torva_test::compared_thread_counts[k]);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    if (run.status != 0) return false;
    summaries[k] = read_file("s.out");
    thetas[k] = read_file("theta.out");
  }
  EXPECT_EQ(thetas[0], thetas[1]);
  EXPECT_EQ(summaries[0].substr(summaries[0].find("EVENT")),
            summaries[1].substr(summaries[1].find("EVENT")));
  out = {summaries[1], thetas[1]};
  return true;
}

// Under a steady flux q below Ks with free drainage, the column settles where K(Se) = q: for
// Brooks-Corey K = Ks Se^(3 + 2/lambda), so Se = (q/Ks)^(1/(3 + 2/lambda)); lambda 0.5 and
// q = 0.1 Ks give Se = 0.1^(1/7) = 0.7197, a content of 0.05 + 0.40 x 0.7197 = 0.3379. The
// 50 cm column starts at 0.25 under 2 cm/h on Ks 20 cm/h; after a day every listed node holds
// that content within 1 % of its saturation.
TEST(RichardsCase, ASteadyFluxBelowKsSettlesAtTheSaturationWhoseConductivityIsTheFlux) {
  const double se = std::pow(0.1, 1.0 / (3.0 + 2.0 / 0.5));
  ASSERT_NEAR(se, 0.7197, 0.0001);
  temp_dir dir;
  column_case k;
  k.table = brooks_table(20.0, 0.25, 30.0, 2.0);
  k.nodes = {1, 5, 12, 18, 24};
  write_column_case(k);
  case_result r;
  ASSERT_TRUE(run_both(r));
  const std::vector<std::vector<double>> rows = theta_rows(r.theta);
  ASSERT_EQ(rows.size(), 25u);  // the start and every hour
  ASSERT_EQ(rows.back().size(), 6u);
  EXPECT_NEAR(rows.back()[0], 1440.0, 1e-6);
  for (std::size_t i = 1; i < rows.back().size(); ++i) {
    SCOPED_TRACE(k.nodes[i - 1]);
    EXPECT_EQ(rows.front()[i], 0.25);  // the table's initial content
    const double node_se = (rows.back()[i] - 0.05) / 0.40;
    EXPECT_NEAR(node_se, se, 0.01 * se);
  }
}

// The column's books: what entered at the surface is its storage change plus its drainage.
// Cells of 1 km make the printed volumes (0.1 m3) fine enough to hold that to 1e-6 of the
// infiltrated volume; the run's overall balance closes too.
TEST(RichardsCase, InfiltrationIsStorageChangePlusDrainage) {
  temp_dir dir;
  column_case k;
  k.cell = 1000.0;
  k.minutes = 360.0;
  k.table = brooks_table(20.0, 0.15, 30.0, 2.0);
  k.nodes = {1};
  write_column_case(k);
  case_result r;
  ASSERT_TRUE(run_both(r));
  const double in = summary_number(r.summary, "net vol infiltrated to soil (cu. m.):");
  const double drained = summary_number(r.summary, "vol groundwater recharge (cu. m):");
  const double start = summary_number(r.summary, "Initial volume in soils (cu. m.):");
  const double end = summary_number(r.summary, "Final volume in soils (cu. m.):");
  // 2 cm/h for 6 h over 4 km2 soaks in whole (no ponding at a tenth of Ks).
  EXPECT_NEAR(in, 0.02 * 6.0 * 4.0e6, 0.1);
  EXPECT_GT(drained, 0.0);
  EXPECT_GT(end, start);
  EXPECT_LT(std::fabs(in - (end - start) - drained), 1e-6 * in);
  const torva_test::summary_balance s = torva_test::read_summary_balance(r.summary);
  ASSERT_TRUE(s.has_totals);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
}

// A column hydrostatic over a water table 60 cm below the ground, without rain (a trace of
// 1e-6 mm/h for a minute, which the run needs), is at rest:
// its heads fall by the node spacing upward from the table, so no face passes water, and after
// a day its water has changed by less than 1e-9 of itself. Cells of 10 km make the end-of-run
// summary's soil volumes (printed to 0.01 m3) fine enough for that; the listed nodes keep
// their contents to the printed digit.
TEST(RichardsCase, AColumnHydrostaticOverAWaterTableStaysAtRest) {
  temp_dir dir;
  column_case k;
  k.cell = 10000.0;
  k.rain_mm_h = 1e-6;  // a trace for a minute: the run needs rain
  k.rain_minutes = 1.0;
  k.timestep = 60.0;
  k.table = brooks_table(20.0, 0.25, 30.0, 2.0);
  k.nodes = {1, 10, 20, 25};
  k.water_table = "9.4 9.4\n9.4 9.4\n";
  write_column_case(k);
  case_result r;
  ASSERT_TRUE(run_both(r));
  const double start = summary_number(r.summary, "Initial volume in soils=");
  const double end = summary_number(r.summary, "Final volume in soils=");
  ASSERT_GT(start, 0.0);
  EXPECT_LT(std::fabs(end - start), 1e-9 * start);
  const std::vector<std::vector<double>> rows = theta_rows(r.theta);
  ASSERT_GE(rows.size(), 2u);
  ASSERT_EQ(rows.front().size(), 5u);
  for (std::size_t i = 1; i < rows.front().size(); ++i) {
    EXPECT_EQ(rows.back()[i], rows.front()[i]) << k.nodes[i - 1];
    // Wetter towards the table: each listed node holds more than the one above it.
    if (i > 1) {
      EXPECT_GT(rows.front()[i], rows.front()[i - 1]);
    }
  }
  // The node just above the table (node 25 of 2 cm nodes ends 50 cm down) is near saturation.
  EXPECT_GT(rows.front()[4], 0.40);
}

// Constant-flux infiltration into Havercamp's sand: Haverkamp, Vauclin, Touma, Wierenga and
// Vachaud (1977), "A comparison of numerical simulation models for one-dimensional
// infiltration", Soil Sci. Soc. Am. J. 41: 285-294. Ks 34 cm/h, theta_s 0.287, theta_r 0.075,
// retention alpha 1.611e6 cm^beta with beta 3.96 (in this model's form alpha = 1.611e6^(1/3.96)
// = 36.93 cm), conductivity A 1.175e6, B 4.74; initial content 0.10; 13.69 cm/h for 0.8 h. The
// wetted zone carries the flux, so its content is where K = q: |h| = (A (Ks/q - 1))^(1/B) =
// 20.7 cm, theta = 0.2674 (the paper's surface content); and the front, sharp in this sand,
// lies where the water taken fills the wetted zone: z = (q - K_i) t / (0.2674 - 0.10) = 64.8 cm
// at 0.8 h, as the paper's profiles show. The model's top node holds the surface content to 1 %
// and its half-way content lies at that depth within 5 %.
TEST(RichardsCase, HavercampSandUnderConstantFluxWetsAsThePublishedProfile) {
  const double ks = 34.0, q = 13.69, A = 1.175e6, B = 4.74, ts = 0.287, tr = 0.075;
  const double alpha = std::pow(1.611e6, 1.0 / 3.96), beta = 3.96;
  const double h0 = std::pow(A * (ks / q - 1.0), 1.0 / B);
  const double theta0 = tr + (ts - tr) / (std::pow(h0 / alpha, beta) + 1.0);
  ASSERT_NEAR(h0, 20.7, 0.05);
  ASSERT_NEAR(theta0, 0.2674, 0.0005);
  const double ti = 0.10;
  const double hi = alpha * std::pow((ts - tr) / (ti - tr) - 1.0, 1.0 / beta);
  const double ki = ks * A / (A + std::pow(hi, B));
  const double front = (q - ki) * 0.8 / (theta0 - ti);
  ASSERT_NEAR(front, 64.8, 0.05);

  temp_dir dir;
  column_case k;
  k.form = "havercamp";
  k.rain_mm_h = q * 10.0;
  k.minutes = 48.0;
  k.timestep = 10.0;
  k.hyd_minutes = 48.0;
  std::ostringstream t;
  t << "1\n0\n3\n";
  for (double thick : {10.0, 10.0, 80.0})
    t << ks << " " << ts << " " << tr << " " << ti << " 0.08 0.2 " << thick << " " << alpha << " "
      << beta << " " << A << " " << B << " 1\n";
  k.table = t.str();
  for (int n = 1; n <= 100; ++n) k.nodes.push_back(n);
  write_column_case(k);
  case_result r;
  ASSERT_TRUE(run_both(r));
  const std::vector<std::vector<double>> rows = theta_rows(r.theta);
  ASSERT_EQ(rows.size(), 2u);
  const std::vector<double>& end = rows.back();
  ASSERT_EQ(end.size(), 101u);
  EXPECT_NEAR(end[0], 48.0, 1e-6);
  EXPECT_NEAR(end[1], theta0, 0.01 * theta0);
  // Depth (node centres at n - 0.5 cm) where the content falls through half-way.
  const double half = 0.5 * (theta0 + ti);
  double at = -1.0;
  for (int n = 1; n < 100 && at < 0.0; ++n)
    if (end[n] >= half && end[n + 1] < half)
      at = (n - 0.5) + (end[n] - half) / (end[n] - end[n + 1]);
  ASSERT_GT(at, 0.0);
  EXPECT_NEAR(at, front, 0.05 * front);
  // Below the front the sand is as it was.
  EXPECT_NEAR(end[100], ti, 1e-6);
}

// Tables and options the columns cannot run with stop the run at start-up with a message that
// names the file, the soil id, the field and the value (or the card), and no run goes on.
TEST(RichardsCase, BadTablesAndOptionsStopTheRunNamingWhatIsWrong) {
  const std::string good = "20 0.45 0.05 0.25 0.10 0.25 10 0.5 20 2\n";
  struct bad_case {
    const char* what;
    std::string table;
    std::string extra;
    std::vector<std::string> message;
  };
  const std::vector<bad_case> cases = {
      {"soil id not in the table",
       "1\n0\n4\n" + good + good + good,
       "",
       {"cell 1 has soil type 3", "table.txt"}},
      {"node spacing of zero",
       "1\n0\n3\n" + good + good + "20 0.45 0.05 0.25 0.10 0.25 30 0.5 20 0\n",
       "",
       {"soil id 3", "table.txt", "layer 3 node thickness of 0"}},
      {"porosity above 1",
       "1\n0\n3\n" + good + "20 1.45 0.05 0.25 0.10 0.25 10 0.5 20 2\n" + good,
       "",
       {"soil id 3", "table.txt", "layer 2 porosity of 1.45"}},
      {"pore index of zero",
       "1\n0\n3\n20 0.45 0.05 0.25 0.10 0.25 10 0 20 2\n" + good + good,
       "",
       {"soil id 3", "table.txt", "layer 1 pore distribution index of 0"}},
      {"bubbling pressure of zero",
       "1\n0\n3\n" + good + "20 0.45 0.05 0.25 0.10 0.25 10 0.5 0 2\n" + good,
       "",
       {"soil id 3", "table.txt", "layer 2 bubbling pressure of 0"}},
      {"residual at the porosity",
       "1\n0\n3\n" + good + good + "20 0.45 0.45 0.45 0.45 0.45 30 0.5 20 2\n",
       "",
       {"soil id 3", "table.txt", "layer 3 residual moisture of 0.45"}},
      {"no content change per sub-step",
       "1\n0\n3\n" + good + good + good,
       "RICHARDS_DTHETA_MAX 0\n",
       {"RICHARDS_DTHETA_MAX is 0"}},
      {"a moisture location below the column",
       "1\n0\n3\n" + good + good + good,
       "",
       {"where.txt lists node 40", "holds nodes 1 to 16"}},
  };
  for (const bad_case& b : cases) {
    SCOPED_TRACE(b.what);
    temp_dir dir;
    column_case k;
    k.minutes = 10.0;
    k.table = b.table;
    k.extra = b.extra;
    k.nodes = {b.message[0].find("node 40") != std::string::npos ? 40 : 1};
    write_column_case(k);
    const command_result run = torva_test::run_command(torva_test::torva_exe(), {"r.prj"});
    EXPECT_NE(run.status, 0) << run.out;
    EXPECT_TRUE(torva_test::contains(run.out, "Error")) << run.out;
    for (const std::string& m : b.message)
      EXPECT_TRUE(torva_test::contains(run.out, m)) << m << "\n" << run.out;
    EXPECT_FALSE(torva_test::contains(run.out, "elapsed time")) << run.out;
  }
}

// The columns' work space belongs to the run: runs in one process (as in a batch or a
// calibration) with columns of 26 and then 101 nodes, and then 26 again, each give the results
// of the same run alone, to the bit.
TEST(RichardsCase, RunsInOneProcessWithDifferentColumnsGiveEachItsOwnResults) {
  torva_test::process_state_guard guard;
  column_case small;
  small.minutes = 60.0;
  small.hyd_minutes = 10.0;
  small.table = brooks_table(20.0, 0.15, 30.0, 2.0);
  small.nodes = {1, 5, 20};
  column_case deep = small;
  deep.form = "havercamp";
  deep.rain_mm_h = 136.9;
  deep.table =
      "1\n0\n3\n34 0.287 0.075 0.10 0.08 0.2 10 36.93 3.96 1175000 4.74 1\n"
      "34 0.287 0.075 0.10 0.08 0.2 10 36.93 3.96 1175000 4.74 1\n"
      "34 0.287 0.075 0.10 0.08 0.2 80 36.93 3.96 1175000 4.74 1\n";
  deep.nodes = {1, 30, 60};
  temp_dir dir;
  auto run = [](const column_case& k) {
    write_column_case(k);
    torva_test::stdout_capture capture;
    run_project("r.prj", nullptr, default_run_steps());
    const std::string out = capture.stop();
    EXPECT_EQ(run_error.error_fatal, 0) << out;
    return read_file("theta.out");
  };
  const std::string first_small = run(small);
  const std::string first_deep = run(deep);
  const std::string second_small = run(small);
  const std::string second_deep = run(deep);
  EXPECT_EQ(theta_rows(first_small).size(), 7u);
  EXPECT_EQ(first_small, second_small);
  EXPECT_EQ(first_deep, second_deep);
  EXPECT_NE(first_small, first_deep);
}

// A long-term run over the Richards columns of brooks_table(0.2, 0.30, 30, 2) (Ks 0.2 cm/h,
// contents 0.05 to 0.45, field capacity 0.25, wilting point 0.10, starting at 0.30, layers of
// 10, 10 and 30 cm in 2 cm nodes) under free drainage on four cells of 100 km: `hours` hourly
// records from 1 March 2005 0:00 of one air (temperature in F, humidity and sky in percent,
// wind in knots, global radiation by the hour's sun when `sunny`), the only storm a month later.
constexpr double long_term_cell = 100000.0;
void write_long_term_columns(int temp_f, int rh, int sky, bool sunny, int hours,
                             const std::string& storm =
                                 "RATES 2005 4 1 0 0 5.0\n"
                                 "RATES 2005 4 1 1 0 0.0\n") {
  const std::string header = torva_test::grid_header(2, 2, long_term_cell);
  write_file("m.asc", header + "1 1\n1 1\n");
  write_file("e.asc", header + "10.2 10.1\n10.1 10.0\n");
  write_file("soil.asc", header + "3 3\n3 3\n");
  write_file("albedo.asc", header + "0.2 0.2\n0.2 0.2\n");
  // A long-term run's table gives a line of four further values after the soil id.
  std::string table = brooks_table(0.2, 0.30, 30.0, 2.0);
  table.insert(std::string("1\n0\n3\n").size(), "0 0 0 0\n");
  write_file("table.txt", table);
  std::ostringstream weather;
  for (int k = 0; k < hours; ++k) {
    const int hour = k % 24;
    weather << "2005 3 " << 1 + k / 24 << " " << hour << " 29.92 " << rh << " " << sky << " 6 "
            << temp_f << " 0.0 " << (sunny && hour >= 7 && hour <= 17 ? 600.0 : 0.0) << "\n";
  }
  write_file("weather.txt", weather.str());
  write_file("rain.gag", "EVENT \"storm\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n" + storm);
  std::ostringstream p;
  p << "TORVAPROJECT\nWATERSHED_MASK m.asc\nELEVATION e.asc\nSUMMARY s.out\n"
    << "OUTLET_HYDRO o.out\nROWS 2\nCOLS 2\nGRIDSIZE " << long_term_cell << "\nTIMESTEP 300\n"
    << "OUTROW 2\nOUTCOL 2\nOUTSLOPE 0.001\nHYD_FREQ 60\nMANNING_N 0.05\nOVERTYPE explicit\n"
    << "PRECIP_FILE rain.gag\nRAIN_INV_DISTANCE\nLONG_TERM\nHMET_OBU weather.txt\n"
    << "ALBEDO albedo.asc\nLATITUDE 40.0\nLONGITUDE 90.0\nGMT -6\nET_CALC_DEARDORFF\n"
    << "INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP soil.asc\n"
    << "SOIL_LAYER_INPUT_FILE table.txt\n";
  write_file("r.prj", p.str());
}

// The hourly report lines of evap_out, the numbers after the date and the hour: mean top-node
// content, potential and actual evapotranspiration, infiltration, recharge (cm/h), frozen-ground
// index, air temperature.
std::vector<std::vector<double>> report_rows(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string date, hour;
    std::vector<double> row;
    double v = 0.0;
    if (!(fields >> date >> hour)) continue;
    while (fields >> v) row.push_back(v);
    if (row.size() >= 7) rows.push_back(row);
  }
  return rows;
}

// The soil's books of a long-term run's summary.
struct soil_books {
  double start = 0.0, end = 0.0, evap = 0.0, down = 0.0;
};
soil_books read_soil_books(const std::string& summary) {
  return {summary_number(summary, "Initial volume in soils="),
          summary_number(summary, "Final volume in soils="),
          summary_number(summary, "Total amount of evaporation="),
          summary_number(summary, "Total downward flux from unsaturated zone=")};
}

std::string long_term_outputs() {
  return read_file("s.out") + read_file("evap_out");
}

// Three days of warm, dry, sunny hourly weather. The columns run hour by hour between events:
// the top layer (the root zone, 10 cm) gives the hour's evapotranspiration, fully while it is
// wetter than field capacity and less as it dries towards the wilting point, so the run's
// evaporation is at most the weather's demand and most of it; and the soil loses exactly what
// the books call evaporation and drainage. Cells of 100 km make the printed volumes (to
// 0.01 m3) fine enough to hold that to 1e-9 of the water lost.
TEST(RichardsCase, LongTermColumnsLoseToEvapotranspirationWhatTheBooksCallEvaporation) {
  temp_dir dir;
  const double area = 4 * long_term_cell * long_term_cell;
  const int hours = 72;
  // 77 F, 30 %, clear, the March sun at 40 degrees north from 7:00 to 17:00.
  write_long_term_columns(77, 30, 0, true, hours);
  const torva_test::thread_runs runs =
      torva_test::run_at_compared_thread_counts("r.prj", long_term_outputs);
  const std::string summary = read_file("s.out");
  const soil_books b = read_soil_books(summary);
  // The 50 cm of soil at 0.30 (the bottom node below it mirrors the one above it).
  EXPECT_NEAR(b.start, 0.30 * 0.50 * area, 1.0) << summary;
  // The weather's demand: the hourly lines' potential evapotranspiration (cm/h, per hour).
  const std::string lines = read_file("evap_out");
  double demand = 0.0;
  const std::vector<std::vector<double>> rows = report_rows(lines);
  for (const std::vector<double>& row : rows) demand += row[1] / 100.0 * area;
  EXPECT_EQ(rows.size(), static_cast<std::size_t>(hours)) << lines;
  ASSERT_GT(demand, 0.003 * area) << lines;  // some millimetres a day
  EXPECT_GT(b.evap, 0.5 * demand) << summary;
  EXPECT_LT(b.evap, 1.02 * demand) << summary;
  EXPECT_GT(b.down, 0.0) << summary;
  // The soil's loss is its evaporation and its drainage, nothing else.
  EXPECT_LT(std::fabs((b.start - b.end) - (b.evap + b.down)), 1e-9 * (b.start - b.end)) << summary;
  const torva_test::summary_balance s = torva_test::read_summary_balance(summary);
  ASSERT_TRUE(s.has_totals) << summary;
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6) << summary;
  EXPECT_TRUE(torva_test::contains(runs.run[0].out, "End of meteorology data reached."))
      << runs.run[0].out;
}

// Three days at -40 F without snow: the frozen-ground index grows by 40/24 degree-days an hour
// less its decay (I' = 0.99875 I + 40/24, checked on the hourly lines), passes 83 after about 52
// hours, and from then on the columns neither drain nor evaporate: the top node's content,
// falling every hour before, stays as it is; and the books still close.
TEST(RichardsCase, LongTermColumnsOfFrozenGroundStayAsTheyAre) {
  temp_dir dir;
  write_long_term_columns(-40, 50, 50, false, 72);
  torva_test::run_at_compared_thread_counts("r.prj", long_term_outputs);
  const std::string lines = read_file("evap_out");
  const std::vector<std::vector<double>> rows = report_rows(lines);
  ASSERT_EQ(rows.size(), 72u) << lines;
  int frozen = 0, thawed = 0;
  for (std::size_t k = 1; k < rows.size(); ++k) {
    SCOPED_TRACE(k);
    const double index = rows[k][5];
    EXPECT_NEAR(index, 0.99875 * rows[k - 1][5] + 40.0 / 24.0, 2e-6);
    if (index > 83.0) {
      ++frozen;
      EXPECT_EQ(rows[k][0], rows[k - 1][0]);
    } else if (k >= 2) {  // the columns first run at the end of the first hour
      ++thawed;
      EXPECT_LT(rows[k][0], rows[k - 1][0]);
    }
  }
  EXPECT_GT(frozen, 10) << lines;
  EXPECT_GT(thawed, 40) << lines;
  const std::string summary = read_file("s.out");
  const soil_books b = read_soil_books(summary);
  EXPECT_GT(b.down, 0.0) << summary;
  EXPECT_LT(std::fabs((b.start - b.end) - (b.evap + b.down)), 1e-9 * (b.start - b.end)) << summary;
}

// A storm on the second day ponds on the warm soil (20 mm in an hour on Ks 2 mm/h); after its
// event the pond soaks in and evaporates, between events, and a shower on the third evening
// makes a second event. The run's books and the surface's own close, and each event's column
// books (net intake = storage change + drainage, the intake net of the roots' uptake) close to
// the printed digit.
TEST(RichardsCase, LongTermColumnsUnderAPondThatSoaksInAndEvaporatesKeepTheSurfaceBooks) {
  temp_dir dir;
  write_long_term_columns(77, 30, 0, true, 72,
                          "RATES 2005 3 2 0 0 20.0\nRATES 2005 3 2 1 0 0.0\n"
                          "EVENT \"a shower\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
                          "RATES 2005 3 3 20 0 1.0\nRATES 2005 3 3 21 0 0.0\n");
  torva_test::run_at_compared_thread_counts("r.prj", long_term_outputs);
  const std::string summary = read_file("s.out");
  const double area = 4 * long_term_cell * long_term_cell;
  EXPECT_NEAR(summary_number(summary, "Total amount of precip="), 0.021 * area, 1.0) << summary;
  EXPECT_GT(summary_number(summary, "Total direct evaporation="), 0.0) << summary;
  EXPECT_GT(read_soil_books(summary).evap, 0.0) << summary;
  const torva_test::summary_balance s = torva_test::read_summary_balance(summary);
  ASSERT_TRUE(s.has_totals) << summary;
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6) << summary;
  EXPECT_LT(std::fabs(s.run_surface_error), 1e-6) << summary;
  const std::string label = "Richard equation mass balance error";
  int events = 0;
  for (std::size_t at = summary.find(label); at != std::string::npos;
       at = summary.find(label, at + 1)) {
    ++events;
    EXPECT_LT(std::fabs(std::stod(summary.substr(at + label.size()))), 1e-4) << summary;
  }
  EXPECT_EQ(events, 2) << summary;
}

}  // namespace

// The soil-moisture hotstart of a Richards run holds the content of the top node of every
// column at the run's end (what the hotstart reader gives back to the top node), and a run that
// reads it starts its top node there. Under 2 cm/h for six hours the top node is far wetter
// than the 0.15 the columns started from.
TEST(RichardsCase, TheSoilMoistureHotstartHoldsTheTopNodesAndStartsTheNextRunThere) {
  temp_dir dir;
  column_case k;
  k.minutes = 360.0;
  k.table = brooks_table(20.0, 0.15, 30.0, 2.0);
  k.nodes = {1};
  k.extra = "WRITE_SM_HOTSTART sm_end.asc\n";
  write_column_case(k);
  case_result first;
  ASSERT_TRUE(run_both(first));
  const std::vector<std::vector<double>> rows = theta_rows(first.theta);
  ASSERT_GE(rows.size(), 2u);
  ASSERT_EQ(rows.back().size(), 2u);
  EXPECT_NEAR(rows.back()[0], 360.0, 1e-6);
  const double top = rows.back()[1];
  EXPECT_GT(top, 0.15 + 0.1);
  std::istringstream map(read_file("sm_end.asc"));
  std::string line;
  for (int i = 0; i < 6; ++i) std::getline(map, line);
  std::vector<double> cells;
  double v = 0.0;
  while (map >> v) cells.push_back(v);
  ASSERT_EQ(cells.size(), 4u) << read_file("sm_end.asc");
  for (double c : cells) EXPECT_NEAR(c, top, 1e-6);

  k.minutes = 60.0;
  k.rain_mm_h = 1e-6;  // a trace for a minute: the run needs rain
  k.rain_minutes = 1.0;
  k.extra = "READ_SM_HOTSTART sm_end.asc\n";
  write_column_case(k);
  case_result second;
  ASSERT_TRUE(run_both(second));
  const std::vector<std::vector<double>> next = theta_rows(second.theta);
  ASSERT_FALSE(next.empty());
  ASSERT_EQ(next.front().size(), 2u);
  EXPECT_NEAR(next.front()[1], cells[0], 1e-6);
}
