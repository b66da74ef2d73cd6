// A held water table above the ground under the Richards columns, run by the real torva
// executable on 1 and 8 threads with the same outputs. A strip of three cells: the first two lie
// below the table and exchange water with it through the whole soil column by Darcy's law (the
// column's depth-weighted conductivity over its depth, no bound on the sign); the third, the
// outlet, lies above the table and above the water that can pool on the others. The exchanged
// volume is the formula integrated over the steps by hand, and the event's and the run's water
// books close with it. A tracer comes up with the table's water at its groundwater concentration
// and goes down with the surface water at the overland concentration, its books closing.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::grid_header;
using torva_test::number;
using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace richards_table_cases {

constexpr double cell = 100.0;  // m
constexpr double area = cell * cell;
constexpr double dt = 60.0;  // s
// Three layers of 10, 10 and 80 cm with Ks 36, 18 and 9 cm/h: the column's conductivity,
// weighted by the layers' depths, is (360 + 180 + 720) / 100 = 12.6 cm/h over 100 cm.
constexpr double avg_ks = 12.6;    // cm/h
constexpr double soil_cm = 100.0;  // cm

std::string row_grid(double low, double high) {
  std::ostringstream out;
  out << grid_header(1, 3, cell) << number(low) << ' ' << number(low) << ' ' << number(high)
      << '\n';
  return out.str();
}

// The strip with the table `above` m over the ground of the two low cells (10 m) and 1.5 m
// below the outlet's (12 m), whose deep column takes all the rain it gets; rain of `rain_mm_h` for
// `rain_minutes` of a run of `minutes`.
void write_strip(double above, double rain_mm_h, int rain_minutes, int minutes,
                 const std::string& cards = "") {
  write_file("rr_mask.asc", row_grid(1, 1));
  write_file("rr_elev.asc", row_grid(10.0, 12.0));
  write_file("rr_table.asc", row_grid(10.0 + above, 10.5));
  write_file("rr_soil.asc", row_grid(3, 3));
  // Ks cm/h, porosity, residual, initial content, wilting point, field capacity, thickness cm,
  // pore index, bubbling pressure cm, node thickness cm.
  std::ostringstream t;
  t << "1\n0\n3\n";
  const double layers[3][2] = {{36.0, 10.0}, {18.0, 10.0}, {9.0, 80.0}};
  for (const auto& l : layers)
    t << number(l[0]) << " 0.45 0.05 0.25 0.10 0.25 " << number(l[1]) << " 0.5 20 5\n";
  write_file("rr_layers.txt", t.str());
  write_file("rr.prj",
             "TORVAPROJECT\nWATERSHED_MASK rr_mask.asc\nELEVATION rr_elev.asc\n"
             "SUMMARY rr_summary.out\nOUTLET_HYDRO rr_outlet.out\nROWS 1\nCOLS 3\nGRIDSIZE 100\n"
             "START_DATE 2005 3 14\nSTART_TIME 6 00\nTIMESTEP 60\nTOT_TIME " +
                 std::to_string(minutes) +
                 "\nOUTROW 1\nOUTCOL 3\nOUTSLOPE 0.001\nHYD_FREQ 60\nMANNING_N 0.05\n"
                 "OVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY " +
                 number(rain_mm_h) + "\nRAIN_DURATION " + std::to_string(rain_minutes) +
                 "\nINF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP rr_soil.asc\n"
                 "SOIL_LAYER_INPUT_FILE rr_layers.txt\nWATER_TABLE rr_table.asc\n" +
                 cards);
}

std::string outputs() {
  return read_file("rr_summary.out") + read_file("rr_outlet.out");
}

// By hand, the water h (m) pooled on one low cell step by step: the rain of the step lands, then
// the table exchanges e = (H - h) Ks / D dt (m, Ks in cm/h over the column's depth D in cm, dt in
// hours), up while the pool is below the table and down while above. Returns the exchanged volume
// of the two low cells (m3) and the water left on them in `pooled`.
double exchanged_by_hand(double above, double rain_mm_h, int rain_minutes, int minutes,
                         double& pooled) {
  const double k = avg_ks / soil_cm * dt / 3600.0;
  double h = 0.0;
  double e_total = 0.0;
  for (int step = 1; step <= minutes; ++step) {
    if (step <= rain_minutes) h += rain_mm_h / 1000.0 * dt / 3600.0;
    const double e = (above - h) * k;
    h += e;
    e_total += e;
  }
  pooled = 2.0 * area * h;
  return 2.0 * area * e_total;
}

// A table 0.5 m above the ground, a trace of rain: the table gives the surface water until the
// pool nears its level. A table 5 cm above the ground under 100 mm/h of rain for an hour: the
// pool rises above the table and gives water back to it, more than the table gave, so the net
// exchange is negative. Both pool where they rose, nothing reaches the outlet, and the books close.
TEST(RichardsTableCases, AHeldTableExchangesWaterWithTheSurfaceByDarcysLawAndTheBooksClose) {
  const struct {
    const char* what;
    double above;  // m
    double rain_mm_h;
    int rain_minutes, minutes;
    bool net_down;
  } cases[] = {{"the table gives", 0.5, 0.000001, 600, 600, false},
               {"the ponded rain goes down", 0.05, 100.0, 60, 180, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir dir;
    write_strip(c.above, c.rain_mm_h, c.rain_minutes, c.minutes);
    torva_test::run_at_compared_thread_counts("rr.prj", outputs);
    const std::string s = read_file("rr_summary.out");
    double pooled = 0.0;
    const double hand = exchanged_by_hand(c.above, c.rain_mm_h, c.rain_minutes, c.minutes, pooled);
    if (c.net_down)
      EXPECT_LT(hand, -100.0);
    else
      EXPECT_GT(hand, 1000.0);
    const double exchanged = summary_number(s, "Total amount of exfiltration=");
    EXPECT_NEAR(exchanged, hand, 0.006) << s;
    EXPECT_NEAR(summary_number(s, "volume of water exfiltrated:"), hand, 0.06) << s;
    const torva_test::summary_balance b = torva_test::read_summary_balance(s);
    ASSERT_TRUE(b.has_totals && b.has_event) << s;
    // The outlet's column takes its rain; the low cells' saturated columns take none.
    EXPECT_NEAR(b.run_ov_final, pooled, 0.006) << s;
    EXPECT_NEAR(b.run_discharge, 0.0, 0.005) << s;
    EXPECT_LT(std::fabs(b.event_error_percent), 1e-4) << s;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-4) << s;
    EXPECT_LT(std::fabs(b.run_surface_error), 1e-4) << s;
  }
}

// A table row of id 1 in its fixed columns.
std::string table_row(const std::string& values) {
  std::string row = "     1 soil";
  row.resize(86, ' ');
  return row + values + "\n";
}

// The same two runs with a tracer in the table's water at `gw` g/m3 and in the rain at
// `rain_conc`. Where the table gives, its water pools at its concentration; where the ponded rain
// goes down, table and rain at the same concentration keep every drop on the low cells at it, so
// the net mass the table gave is its concentration times the net exchanged volume, negative. By
// hand: that mass, the rain's, and the pooled water's; the overland and the global books close to
// 1e-9 of what came in.
TEST(RichardsTableCases, ATracerComesUpAtTheTablesConcentrationAndGoesDownAtTheSurfaces) {
  const struct {
    const char* what;
    double above;  // m
    double rain_mm_h;
    int rain_minutes, minutes;
    double rain_conc, gw;  // g/m3
  } cases[] = {{"the table gives", 0.5, 0.000001, 600, 600, 0.0, 1e8},
               {"the ponded rain goes down", 0.05, 100.0, 60, 180, 1e8, 1e8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir dir;
    write_file("rr_tables.cmt",
               "TORVA_INDEX_MAP_TABLES\nINDEX_MAP rr_mask.asc \"Soils\"\n"
               "CONTAMINANT_TRANSPORT Soils\nNUM_CONTAM 1\n\"tracer\" \"Soils\" \"tracer.out\"\n"
               "PRECIP_CONC " +
                   number(c.rain_conc) +
                   "\nPARTITION 0\nNUM_IDS 1\n"
                   "ID    DESCRIPTION                                  VALUES\n" +
                   table_row("0 0 0 0 " + number(c.gw) + " 0 0 0"));
    write_strip(c.above, c.rain_mm_h, c.rain_minutes, c.minutes,
                "MAPPING_TABLE rr_tables.cmt\nOV_CON_TRANS\n");
    torva_test::run_at_compared_thread_counts("rr.prj", outputs);
    const std::string s = read_file("rr_summary.out");
    double pooled = 0.0;
    const double hand = exchanged_by_hand(c.above, c.rain_mm_h, c.rain_minutes, c.minutes, pooled);
    const double exchanged = summary_number(s, "Total amount of exfiltration=");  // m3
    EXPECT_NEAR(exchanged, hand, 0.006) << s;
    const double printed = c.gw * 0.005 / 1000.0 + 0.01;  // kg: the volume as printed
    const double gain = summary_number(s, "Exfiltration mass gain");
    EXPECT_NEAR(gain, c.gw * exchanged / 1000.0, printed) << s;
    const torva_test::summary_balance b = torva_test::read_summary_balance(s);
    ASSERT_TRUE(b.has_totals) << s;
    // The rain's mass: its concentration times the rain the water books took (printed to 0.01).
    const double precip = summary_number(s, "Precipitation mass gain");
    EXPECT_NEAR(precip, c.rain_conc * b.run_precip / 1000.0, c.rain_conc * 0.005 / 1000.0 + 0.01)
        << s;
    EXPECT_NEAR(summary_number(s, "Final Dissolved mass on ov"), c.gw * pooled / 1000.0,
                c.gw * 0.006 / 1000.0)
        << s;
    const double in = summary_number(s, "Total initial mass") + precip + gain;
    EXPECT_NEAR(
        summary_number(s, "Total final Mass") + summary_number(s, "Total mass out of system"), in,
        1e-9 * (precip + std::fabs(gain)))
        << s;
    EXPECT_LT(std::fabs(summary_number(s, "Contam mass balance error")), 1e-6) << s;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-4) << s;
  }
}

}  // namespace richards_table_cases
