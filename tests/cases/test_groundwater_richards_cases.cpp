// End-to-end cases of the aquifer under Richards soil columns, run by the real torva executable
// at 1 and 8 threads with the same outputs: four cells of one Brooks-Corey soil over a closed
// aquifer whose table lies inside the soil. A column at rest over its table stays at rest; rain
// on it soaks in, drains and lifts the table until the column is at rest again over the new
// table, by as much as the retention curve says; the books close, with a held head taking what
// reaches it; a table lifted to the ground gives the water above it to the surface.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::grid_header;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace groundwater_richards_cases_tests {

// Cells of 10 km make the summary's volumes (printed to 0.01 m3) fine enough for books to 1e-9
// of the stores.
constexpr double cell = 10000.0;  // m
constexpr double area = cell * cell;
constexpr double ground = 10.0;  // m
constexpr double bottom = 8.0;   // m, the aquifer's bottom

// One Brooks-Corey soil in three layers of 10, 10 and 80 cm with 2 cm nodes; the aquifer's
// porosity is the soil's saturated content.
constexpr double ks = 20.0;  // cm/h
constexpr double theta_s = 0.45, theta_r = 0.05, lambda = 0.5;
constexpr double bubbling = -20.0;  // cm
constexpr double node = 2.0;        // cm

// The soil's retention curve, h in cm (negative: suction): Brooks and Corey's power law below
// the transition head, where the effective saturation is 2 / (2 + lambda); above it a parabola
// in h that reaches saturation at h = 0 and meets the power law with its content and slope.
double theta_of(double h) {
  if (h >= 0.0) return theta_s;
  const double se_c = 2.0 / (2.0 + lambda);
  const double h_c = bubbling * std::pow(se_c, -1.0 / lambda);
  if (h <= h_c) return std::pow(bubbling / h, lambda) * (theta_s - theta_r) + theta_r;
  const double x = std::sqrt(1.0 - se_c) * (h / bubbling) / std::pow(se_c, -1.0 / lambda);
  return (1.0 - x * x) * (theta_s - theta_r) + theta_r;
}

// Water (cm) of a column at rest over a table z cm down: the content at each height y above the
// table is that of the head -y; Simpson's rule on 20000 intervals.
double water_at_rest(double z) {
  const int n = 20000;
  const double step = z / n;
  double sum = theta_of(0.0) + theta_of(-z);
  for (int i = 1; i < n; ++i) sum += (i % 2 ? 4.0 : 2.0) * theta_of(-i * step);
  return sum * step / 3.0;
}

// The same with the content of each 2 cm node at its centre, as a column of such nodes holds
// it; a table that cuts a node leaves its upper part a node of its own.
double water_at_rest_in_nodes(double z) {
  double sum = 0.0;
  for (double top = z; top > 1e-12; top -= node) {
    const double d = std::min(node, top);
    sum += theta_of(-(top - 0.5 * d)) * d;
  }
  return sum;
}

// The rise D (cm) of a table z cm down under rain R (cm) once all is at rest again: the aquifer
// gains the porosity times D, the column over the table loses what the layer it no longer
// spans held, W(z - D) - W(z), and together they hold the rain. Bisection.
template <class W>
double rise_at_rest(double z, double rain, W water) {
  double lo = 0.0, hi = z - 1e-6;
  const double before = water(z);
  for (int k = 0; k < 100; ++k) {
    const double d = 0.5 * (lo + hi);
    if (theta_s * d + water(z - d) - before - rain > 0.0)
      hi = d;
    else
      lo = d;
  }
  return 0.5 * (lo + hi);
}

std::string map(double a, double b, double c, double d) {
  std::ostringstream s;
  s.precision(10);
  s << grid_header(2, 2, cell) << a << " " << b << "\n" << c << " " << d << "\n";
  return s.str();
}
std::string map(double v) {
  return map(v, v, v, v);
}

struct richards_case {
  const char* name;
  double table;            // m, the initial head of every cell
  double rain;             // mm/h for the first hour (a trace of 1e-6 for a minute: none)
  double minutes;          // length of the run
  int held_cell = 0;       // 1..4: the cell whose head is held (0: none)
  double hycond = 3.6;     // the aquifer's conductivity card
  bool long_term = false;  // three days of warm, dry, sunny weather from 1 March 2005, the
                           // rain an hour on the first day
};

void write_case(const richards_case& k) {
  write_file("m.asc", map(1));
  write_file("e.asc", map(ground));
  write_file("soil.asc", map(3));
  write_file("wt.asc", map(k.table));
  write_file("bot.asc", map(bottom));
  double codes[4] = {1, 1, 1, 1};
  if (k.held_cell > 0) codes[k.held_cell - 1] = 2;
  write_file("bound.asc", map(codes[0], codes[1], codes[2], codes[3]));
  // Ks, saturated, residual and initial contents, wilting point, field capacity, thickness,
  // pore index, bubbling pressure, node thickness.
  std::ostringstream t;
  t << "1\n0\n3\n";
  for (double thick : {10.0, 10.0, 80.0})
    t << ks << " " << theta_s << " " << theta_r << " 0.25 0.10 0.25 " << thick << " " << lambda
      << " " << -bubbling << " " << node << "\n";
  std::string table = t.str();
  const bool trace = k.rain < 1e-3;
  std::ostringstream p;
  p << "TORVAPROJECT\nWATERSHED_MASK m.asc\nELEVATION e.asc\nSUMMARY s.out\n"
    << "OUTLET_HYDRO o.out\nROWS 2\nCOLS 2\nGRIDSIZE " << cell << "\n"
    << "OUTROW 2\nOUTCOL 2\nOUTSLOPE 0.001\nHYD_FREQ 60\nMANNING_N 0.05\nOVERTYPE explicit\n";
  if (k.long_term) {
    // A long-term run's table gives a line of four further values after the soil id.
    table.insert(std::string("1\n0\n3\n").size(), "0 0 0 0\n");
    write_file("albedo.asc", map(0.2));
    std::ostringstream weather;
    for (int hour = 0; hour < 72; ++hour)
      weather << "2005 3 " << 1 + hour / 24 << " " << hour % 24 << " 29.92 30 0 6 80 0.0 "
              << (hour % 24 >= 7 && hour % 24 <= 17 ? 600.0 : 0.0) << "\n";
    write_file("weather.txt", weather.str());
    std::ostringstream rain;
    rain << "EVENT \"storm\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nRATES 2005 3 1 2 0 " << k.rain
         << "\nRATES 2005 3 1 3 0 0.0\n"
         // A storm a month later keeps the run going until the weather runs out.
         << "EVENT \"later\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nRATES 2005 4 1 0 0 5.0\n"
         << "RATES 2005 4 1 1 0 0.0\n";
    write_file("rain.gag", rain.str());
    p << "TIMESTEP 300\nPRECIP_FILE rain.gag\nRAIN_INV_DISTANCE\nLONG_TERM\nHMET_OBU weather.txt\n"
      << "ALBEDO albedo.asc\nLATITUDE 40.0\nLONGITUDE 90.0\nGMT -6\nET_CALC_DEARDORFF\n";
  } else {
    p << "START_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 60\nTOT_TIME " << k.minutes
      << "\nPRECIP_UNIF\nRAIN_INTENSITY " << k.rain << "\nRAIN_DURATION " << (trace ? 1 : 60)
      << "\n";
  }
  write_file("table.txt", table);
  p << "INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP soil.asc\n"
    << "SOIL_LAYER_INPUT_FILE table.txt\nWATER_TABLE wt.asc\nGW_SIMULATION\n"
    << "AQUIFER_BOTTOM bot.asc\nGW_BOUNDFILE bound.asc\nGW_UNIF_POROSITY " << theta_s
    << "\nGW_UNIF_HYCOND " << k.hycond
    << "\nGW_LSOR_DIR 1\nGW_LSOR_CON 1e-10\nGW_TIMESTEP 900\nAQUIFER_DELTA_Z 0.1\n";
  write_file("r.prj", p.str());
}

std::string outputs() {
  return read_file("s.out") + read_file("hotstart_file");
}

std::vector<double> final_heads() {
  std::istringstream in(read_file("hotstart_file"));
  std::string line;
  for (int k = 0; k < 6; ++k) std::getline(in, line);
  std::vector<double> heads;
  double v = 0.0;
  while (in >> v) heads.push_back(v);
  EXPECT_EQ(heads.size(), 4u);
  return heads;
}

// The run's stores and flows from the end-of-run summary (m3).
struct books {
  double rain, soil_start, soil_end, gw_start, gw_end, head_flux, surface_end;
  double unbooked() const {
    return rain + head_flux - (soil_end - soil_start) - (gw_end - gw_start) - surface_end;
  }
};

books read_books(const std::string& s) {
  return {summary_number(s, "Total amount of precip="),
          summary_number(s, "Initial volume in soils="),
          summary_number(s, "Final volume in soils="),
          summary_number(s, "Initial volume in groundwater="),
          summary_number(s, "Final volume in groundwater="),
          summary_number(s, "Total flux of gw across bounds="),
          summary_number(s, "Final volume on surface=")};
}

// Runs the written case at 1 and 8 threads (the same bytes), and returns the summary.
std::string run_case() {
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("r.prj", outputs);
  const std::string summary = read_file("s.out");
  const summary_balance b = read_summary_balance(summary);
  EXPECT_TRUE(b.has_totals) << runs.run[0].out << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
  return summary;
}

// A column hydrostatic over the table 60 cm down, without rain: no face passes water, the
// table stays where it is and after a day neither the columns' water nor the aquifer's has
// changed by 1e-9 of itself, and the event counts the same soil nodes at its start and end.
TEST(GroundwaterRichardsCases, AColumnAtRestOverTheTableStaysAtRest) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_case({"at rest", ground - 0.6, 1e-6, 1440.0});
  const std::string summary = run_case();
  const books k = read_books(summary);
  ASSERT_GT(k.soil_start, 0.0) << summary;
  ASSERT_GT(k.gw_start, 0.0) << summary;
  EXPECT_LT(std::fabs(k.soil_end - k.soil_start), 1e-9 * k.soil_start) << summary;
  EXPECT_LT(std::fabs(k.gw_end - k.gw_start), 1e-9 * k.gw_start) << summary;
  for (double h : final_heads()) EXPECT_NEAR(h, ground - 0.6, 1e-6);
  // The event's soil nodes: 60 cm of 2 cm nodes over the table in each of the four columns, at
  // its start as at its end.
  EXPECT_EQ(summary_number(summary, "Number of cells at start of event"), 4 * 30) << summary;
  EXPECT_EQ(summary_number(summary, "Number of cells at end of event"), 4 * 30) << summary;
}

// Rain on columns at rest over the table, run to rest again: the table rises by D with
// theta_s D + W(z - D) - W(z) = rain (W the water of a column at rest, from the retention
// curve by quadrature), far more than rain / theta_s, since the soil the table rises into is
// already nearly saturated; most of all in the capillary fringe. The columns hold each 2 cm
// node's water at its centre's content: the rise that gives differs from the exact one by the
// midpoint rule's error over the nodes (computed here, below 0.05 mm for these columns), so the
// model's rise must lie within that error of the exact rise, with 0.02 mm to spare for the heads
// (printed to 1e-6 m) and what is left of the approach to rest. The run's books close to 1e-6 of
// the rain, and the event's column books to 1e-4 %.
TEST(GroundwaterRichardsCases, RainLiftsTheTableByWhatTheRetentionCurveGivesAtRest) {
  const richards_case cases[] = {
      {"table 60 cm down, 16 mm", ground - 0.6, 16.0, 1440.0},
      // The whole column lies where the retention curve is its parabola near saturation.
      {"table 30 cm down in the fringe, 2 mm", ground - 0.3, 2.0, 1440.0},
  };
  for (const richards_case& c : cases) {
    SCOPED_TRACE(c.name);
    torva_test::process_state_guard guard;
    temp_dir dir;
    write_case(c);
    const std::string summary = run_case();
    const double z = (ground - c.table) * 100.0;  // cm
    const double rain = c.rain / 10.0;            // cm in the hour
    const double exact = rise_at_rest(z, rain, water_at_rest) / 100.0;
    const double in_nodes = rise_at_rest(z, rain, water_at_rest_in_nodes) / 100.0;
    const double nodes_error = std::fabs(exact - in_nodes);
    ASSERT_LT(nodes_error, 1e-4);
    EXPECT_GT(exact, 2.0 * rain / 100.0 / theta_s);
    for (double h : final_heads()) EXPECT_NEAR(h - c.table, exact, nodes_error + 2e-5) << summary;
    const books k = read_books(summary);
    EXPECT_NEAR(k.rain, rain / 100.0 * 4.0 * area, 1.0) << summary;
    EXPECT_EQ(k.head_flux, 0.0) << summary;
    EXPECT_LT(std::fabs(k.unbooked()), 1e-6 * k.rain) << summary;
    // The event's column books: infiltration, drainage to the aquifer and the water the moving
    // table took from the columns make their storage change.
    EXPECT_LT(std::fabs(summary_number(summary, "Richard equation mass balance error")), 1e-4)
        << summary;
  }
}

// A held head in one cell takes what its neighbours' tables push into it and what its own
// column drains into it: the rain is the columns' and the aquifer's storage change plus the
// flux out through the head, to 1e-6 of the rain.
TEST(GroundwaterRichardsCases, TheBooksCloseWithAHeldHeadTakingWater) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  richards_case c{"held head", ground - 0.6, 16.0, 1440.0, 4, 1000.0};
  write_case(c);
  const std::string summary = run_case();
  const books k = read_books(summary);
  // The held cell's own column alone drains a quarter of the rain into the head.
  EXPECT_LT(k.head_flux, -0.25 * k.rain) << summary;
  EXPECT_LT(std::fabs(k.unbooked()), 1e-6 * k.rain) << summary;
  const std::vector<double> h = final_heads();
  ASSERT_EQ(h.size(), 4u);
  EXPECT_EQ(h[3], c.table);
  // The others lie above the held head, below where a closed aquifer would have put them.
  for (int i = 0; i < 3; ++i) {
    EXPECT_GT(h[i], c.table + 1e-4);
    EXPECT_LT(h[i], c.table + rise_at_rest(60.0, 1.6, water_at_rest) / 100.0);
  }
}

// Three warm, dry, sunny days after an hour's rain in a long-term run: the roots take the top
// layer's water and the column draws water up from the table, which falls below where it
// started; the rain is the columns' and the aquifer's storage change plus the evaporation, to
// 1e-6 of the evaporation.
TEST(GroundwaterRichardsCases, EvapotranspirationDrawsTheTableDownAndTheBooksClose) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  richards_case c{"dry days", ground - 0.6, 16.0, 0.0};
  c.long_term = true;
  write_case(c);
  const std::string summary = run_case();
  const books k = read_books(summary);
  const double evap = summary_number(summary, "Total amount of evaporation=");
  EXPECT_GT(evap, k.rain) << summary;
  EXPECT_LT(k.gw_end, k.gw_start) << summary;
  EXPECT_LT(std::fabs(k.unbooked() - evap), 1e-6 * evap) << summary;
  for (double h : final_heads()) EXPECT_LT(h, c.table - 0.01);
}

// Rain that lifts a table 3 cm down to the ground: the tables stop at the ground over columns
// saturated to the surface, and the rain the soil had no room for seeps onto the surface. The
// soil over the table at rest lacked theta_s z - W(z) of saturation (its 2 cm nodes holding
// the content at their centres), so of the rain R that much stays below the ground and
// R - theta_s z + W(z) stands on it or has left by the outlet at the end, the part of it that
// soaked in having come back up as exfiltration; the run's books close.
TEST(GroundwaterRichardsCases, ATableLiftedToTheGroundGivesTheWaterAboveItToTheSurface) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const double z = 3.0;  // cm
  write_case({"to the ground", ground - z / 100.0, 16.0, 180.0});
  const std::string summary = run_case();
  for (double h : final_heads()) EXPECT_EQ(h, ground) << summary;
  const books k = read_books(summary);
  const double rain = 1.6;  // cm
  EXPECT_NEAR(k.rain, rain / 100.0 * 4.0 * area, 1.0) << summary;
  const double room = theta_s * z - water_at_rest_in_nodes(z);  // cm
  ASSERT_GT(room, 0.0);
  ASSERT_LT(room, rain);
  const double out = summary_number(summary, "Total amount of discharge=");
  const double above = (rain - room) / 100.0 * 4.0 * area;  // m3
  EXPECT_NEAR(k.surface_end + out, above, 1e-3 * above) << summary;
  EXPECT_GT(k.surface_end, 0.0) << summary;
  // Of the rain that soaked in, all but that room came back up: the run's exfiltration.
  const double infiltrated = summary_number(summary, "Total amount of infiltration=");
  const double exfiltrated = summary_number(summary, "Total amount of exfiltration=");
  ASSERT_GT(infiltrated, 0.0) << summary;
  EXPECT_NEAR(exfiltrated, infiltrated - room / 100.0 * 4.0 * area, 1.0) << summary;
  // The aquifer holds its porosity's water up to the ground.
  EXPECT_NEAR(k.gw_end, theta_s * (ground - bottom) * 4.0 * area, 1.0) << summary;
}

}  // namespace groundwater_richards_cases_tests
