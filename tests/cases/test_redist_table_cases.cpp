// A fixed water table above the ground under the Green and Ampt soil with redistribution, run by
// the real torva executable on 1 and 8 threads with the same outputs. A strip of three cells: the
// first two lie 0.5 m below a held table and take its water through the soil-moisture depth by
// Darcy's law; the third, the outlet, lies 2 m above them with its table below the soil, so
// the water pools where it rises. The exfiltrated volume is checked by hand, the water books of
// the event and of the run close with it, and the constituents (a tracer, the nutrient species)
// that come up with the water keep their books. A long-term run over a square of four cells keeps
// the books of its water, its soil account and its tracer.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::grid_header;
using torva_test::number;
using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace redist_table_cases {

constexpr double cell = 100.0;  // m
constexpr double area = cell * cell;
constexpr double above = 0.5;  // m: the table above the ground of the two low cells
constexpr double ks = 0.36;    // cm/h, 1e-6 m/s
constexpr double dt = 60.0;    // s
constexpr int steps = 600;     // ten hours of one-minute steps

std::string row_grid(double low, double high) {
  std::ostringstream out;
  out << grid_header(1, 3, cell) << number(low) << ' ' << number(low) << ' ' << number(high)
      << '\n';
  return out.str();
}

// The strip under the redistribution soil with a soil-moisture depth of `depth` m; `tables` and
// `index_map` make the mapping-table file, `cards` end the project.
void write_strip(double depth, const std::string& cards, const std::string& tables = "",
                 const std::string& index_map = "") {
  write_file("rt_mask.asc", row_grid(1, 1));
  write_file("rt_soil.idx", row_grid(1, 1));
  write_file("rt_elev.asc", row_grid(10.0, 12.0));
  write_file("rt_table.asc", row_grid(10.0 + above, 10.0 + above));
  write_file("rt_ks.asc", row_grid(ks, ks));
  write_file("rt_hc.asc", row_grid(10, 10));
  write_file("rt_por.asc", row_grid(0.4, 0.4));
  write_file("rt_pore.asc", row_grid(0.25, 0.25));
  write_file("rt_res.asc", row_grid(0.05, 0.05));
  write_file("rt_moist.asc", row_grid(0.2, 0.2));
  std::string project =
      "TORVAPROJECT\nWATERSHED_MASK rt_mask.asc\nELEVATION rt_elev.asc\n"
      "SUMMARY rt_summary.out\nOUTLET_HYDRO rt_outlet.out\nROWS 1\nCOLS 3\nGRIDSIZE 100\n"
      "START_DATE 2005 3 14\nSTART_TIME 6 00\nTIMESTEP 60\nTOT_TIME 600\nOUTROW 1\nOUTCOL 3\n"
      "OUTSLOPE 0.001\nHYD_FREQ 60\nMANNING_N 0.05\nOVERTYPE explicit\nPRECIP_UNIF\n"
      "RAIN_INTENSITY 0.000001\nRAIN_DURATION 600\nWATER_TABLE rt_table.asc\nINF_REDIST\n"
      "CONDUCTIVITY rt_ks.asc\nCAPILLARY rt_hc.asc\nPOROSITY rt_por.asc\n"
      "PORE_INDEX rt_pore.asc\nRESIDUAL_SAT rt_res.asc\nMOISTURE rt_moist.asc\n"
      "SOIL_MOIST_DEPTH " +
      number(depth) + "\n";
  if (!tables.empty()) {
    write_file("rt_tables.cmt", "TORVA_INDEX_MAP_TABLES\n" + index_map + tables);
    project += "MAPPING_TABLE rt_tables.cmt\n";
  }
  write_file("rt.prj", project + cards);
}

std::string outputs() {
  return read_file("rt_summary.out") + read_file("rt_outlet.out");
}

// By hand: each step the two low cells take e = (H - h) Ks / D dt of the table's water, h being
// the water already pooled on them: h after n steps is H (1 - (1 - Ks dt / D)^n).
double darcy_volume(double depth) {
  const double rate = ks / 360000.0 * dt / depth;
  return 2.0 * area * above * (1.0 - std::pow(1.0 - rate, steps));
}

// A table row of id 1 in its fixed columns.
std::string table_row(const std::string& values) {
  std::string row = "     1 soil";
  row.resize(86, ' ');
  return row + values + "\n";
}

// The table pushes its water up through the soil-moisture depth: halving the depth doubles the
// gradient. The pooled water is the exfiltrated volume by hand (to the 0.005 m3 printed), and
// the event's and the run's water books close with it.
TEST(RedistTableCases, ATableAboveTheGroundRisesThroughTheSoilByDarcysLawAndTheBooksClose) {
  for (const double depth : {0.5, 0.25}) {
    SCOPED_TRACE(depth);
    temp_dir dir;
    write_strip(depth, "");
    torva_test::run_at_compared_thread_counts("rt.prj", outputs);
    const std::string s = read_file("rt_summary.out");
    const double hand = darcy_volume(depth);
    EXPECT_NEAR(summary_number(s, "Total amount of exfiltration="), hand, 0.006) << s;
    EXPECT_NEAR(summary_number(s, "volume of water exfiltrated:"), hand, 0.06) << s;
    const torva_test::summary_balance b = torva_test::read_summary_balance(s);
    ASSERT_TRUE(b.has_totals && b.has_event) << s;
    // It pools where it rose: nothing reached the outlet's higher ground.
    EXPECT_NEAR(b.run_ov_final, hand, 0.006) << s;
    EXPECT_NEAR(b.run_discharge, 0.0, 0.005) << s;
    EXPECT_LT(std::fabs(b.event_error_percent), 1e-4) << s;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-4) << s;
    EXPECT_LT(std::fabs(b.run_surface_error), 1e-4) << s;
  }
}

// A tracer in the table's water at 1e8 g/m3 comes up with it: straight onto the surface, or
// through the mixing layer of 10 cm (starting clean, no sorption), which takes the table's water
// and gives the surface its pore water. The table's mass is the exfiltrated volume times its
// concentration, by hand; in = out + stored to 1e-9 for the soil, the surface and the system
// (the concentration makes the 0.01 kg the summary prints finer than that).
TEST(RedistTableCases, ATracerInTheTablesWaterComesUpWithItAndTheBooksClose) {
  const double gw = 1e8;  // g/m3
  const struct {
    const char* what;
    const char* cards;
    bool soil;
  } cases[] = {
      {"straight onto the surface", "OV_CON_TRANS\n", false},
      {"through the mixing layer", "OV_CON_TRANS\nSOIL_CON_TRANS\nMIXING_LAYER_DEPTH 0.1\n", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir dir;
    // Dispersion, decay per day, exchange rate, land load, groundwater concentration, initial
    // water concentration, soil partition coefficient, land concentration.
    write_strip(0.5, c.cards,
                "CONTAMINANT_TRANSPORT Soils\nNUM_CONTAM 1\n\"tracer\" \"Soils\" \"tracer.out\"\n"
                "PRECIP_CONC 0\nPARTITION 0\nNUM_IDS 1\n"
                "ID    DESCRIPTION                                  VALUES\n" +
                    table_row("0 0 0 0 " + number(gw) + " 0 0 0"),
                "INDEX_MAP rt_soil.idx \"Soils\"\n");
    torva_test::run_at_compared_thread_counts("rt.prj", outputs);
    const std::string s = read_file("rt_summary.out");
    const double seeped = summary_number(s, "Total amount of exfiltration=");  // m3
    EXPECT_NEAR(seeped, darcy_volume(0.5), 0.006) << s;
    const double printed = gw * 0.005 / 1000.0 + 0.01;  // kg: the volume as printed
    const double up = gw * seeped / 1000.0;             // kg the table's water carried
    const double gain = summary_number(s, "Exfiltration mass gain");
    const double init = summary_number(s, "Total initial mass");
    const double final_mass = summary_number(s, "Total final Mass");
    EXPECT_EQ(init, 0.0) << s;
    // Nothing leaves the pooled water: it holds what came up.
    EXPECT_NEAR(summary_number(s, "Final Dissolved mass on ov"), gain, 0.01) << s;
    if (c.soil) {
      const double in = summary_number(s, "Mass seepage up from GW");
      EXPECT_NEAR(in, up, printed) << s;
      EXPECT_NEAR(summary_number(s, "Exfiltration mass loss"), gain, 0.01) << s;
      // The clean layer gave up less than it took in.
      EXPECT_GT(gain, 0.0) << s;
      EXPECT_LT(gain, in) << s;
      const double soil_final = summary_number(s, "Final Mass in Soil Column");
      EXPECT_NEAR(soil_final + gain, summary_number(s, "Initial Mass in Soil Column") + in,
                  1e-9 * in)
          << s;
      EXPECT_NEAR(final_mass, init + in, 1e-9 * in) << s;
    } else {
      EXPECT_NEAR(gain, up, printed) << s;
      EXPECT_NEAR(final_mass, gain, 1e-9 * gain) << s;
    }
    EXPECT_LT(std::fabs(summary_number(s, "Contam mass balance error")), 1e-6) << s;
    const torva_test::summary_balance b = torva_test::read_summary_balance(s);
    ASSERT_TRUE(b.has_totals) << s;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-4) << s;
  }
}

// The nutrients over the same table: its water carries 1000 g/m3 of nitrate (the NSM_GW_N table)
// and nothing else; the mixing layer of each cell holds 2 kg of ammonium, 4 kg of nitrate, 1 kg
// of organic nitrogen and 1.5 kg of phosphorus pools. The nitrogen books gain the exfiltrated
// volume times 1000 g/m3, by hand; nitrogen and phosphorus are kept to 1e-9 of what came in.
TEST(RedistTableCases, TheTablesNitrateComesUpAndTheNutrientBooksClose) {
  temp_dir dir;
  write_file("rt_env.txt",
             "AQUATIC_ENV_NSM10\nOV_MAP rt_soil.idx\nNUM_IDS 1\nID heading\n1\n"
             "DEFAULT\n");
  auto table = [](const char* keyword, const std::string& values) {
    return std::string(keyword) + " Soils\nNUM_IDS 1\n" +
           "ID    DESCRIPTION                                  VALUES\n" + table_row(values);
  };
  write_strip(0.5,
              "SOIL_CON_TRANS\nMIXING_LAYER_DEPTH 0.1\nNUTRIENTS\nAQ_ENV rt_env.txt\n"
              "WATER_TEMP 20\nCHAN_PH 7.5\nOV_UPTAKE_RATE 5\nSOILS_NSM_N\nSOILS_NSM_P\n",
              table("NSM_GW_N", "0 1000 0 0") + table("NSM_SOIL_N", "2 4 1 0 0") +
                  table("NSM_SOIL_P", "0 1 0 0.5 0 0"),
              "INDEX_MAP rt_soil.idx Soils\n");
  torva_test::run_at_compared_thread_counts("rt.prj", outputs);
  const std::string s = read_file("rt_summary.out");
  const double seeped = summary_number(s, "Total amount of exfiltration=");  // m3
  EXPECT_NEAR(seeped, darcy_volume(0.5), 0.006) << s;
  const struct {
    const char* books;
    double gw;         // g/m3 of the element in the table's water
    double soil_init;  // kg, by hand: per cell 7 kg of nitrogen, 1.5 kg of phosphorus
  } elements[] = {{"Nutrient nitrogen books", 1000.0, 3 * 7.0},
                  {"Nutrient phosphorus books", 0.0, 3 * 1.5}};
  for (const auto& e : elements) {
    SCOPED_TRACE(e.books);
    const std::size_t at = s.find(e.books);
    ASSERT_NE(at, std::string::npos) << s;
    const std::string books = s.substr(at);
    const double exfil = summary_number(books, "Exfiltration mass gain");
    EXPECT_NEAR(exfil, e.gw * seeped / 1000.0, e.gw * 0.005 / 1000.0 + 1e-9) << books;
    const double soil_init = summary_number(books, "Initial mass in soil pools");
    EXPECT_NEAR(soil_init, e.soil_init, 1e-9 * e.soil_init);
    const double in = summary_number(books, "Initial mass in water") + soil_init + exfil;
    EXPECT_NEAR(summary_number(books, "Outlet mass flux") +
                    summary_number(books, "Final mass in water") +
                    summary_number(books, "Final mass in soil"),
                in, 1e-9 * in)
        << books;
  }
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  ASSERT_TRUE(b.has_totals) << s;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-4) << s;
}

// A long-term run of three days on a square of four cells of 100 m under the redistribution soil
// (SOIL_MOIST_DEPTH 0.6 m, Ks 2 cm/h): the table stands 0.3 m above the ground of the first row
// and 1 m below the second, whose cells take in what flows over to them. A tracer at 1e8 g/m3 in
// the table's water comes up through the mixing layer. The water books of the run and of the soil
// account close with the exfiltrated water; what the table's water brought is its volume times
// its concentration, by hand, and the system holds it to 1e-9.
TEST(RedistTableCases, OverALongTermRunTheTablesWaterAndItsTracerKeepTheirBooks) {
  temp_dir dir;
  const double gw = 1e8;  // g/m3
  auto square = [](double a, double b, double c, double d) {
    return grid_header(2, 2, cell) + number(a) + ' ' + number(b) + '\n' + number(c) + ' ' +
           number(d) + '\n';
  };
  write_file("lt_mask.asc", square(1, 1, 1, 1));
  write_file("lt_elev.asc", square(10, 10, 10, 10.5));
  write_file("lt_table.asc", square(10.3, 10.3, 9, 9));
  write_file("lt_albedo.asc", square(0.2, 0.2, 0.2, 0.2));
  const struct {
    const char* card;
    double value;
  } soil[] = {{"CONDUCTIVITY", 2.0}, {"CAPILLARY", 16.7},    {"POROSITY", 0.4},
              {"PORE_INDEX", 0.25},  {"RESIDUAL_SAT", 0.05}, {"MOISTURE", 0.2}};
  std::string soil_cards;
  for (const auto& s : soil) {
    const std::string file = std::string("lt_") + s.card + ".asc";
    write_file(file, square(s.value, s.value, s.value, s.value));
    soil_cards += std::string(s.card) + ' ' + file + '\n';
  }
  // Cool, overcast, calm hours from 1 March 2005.
  std::ostringstream weather;
  for (int k = 0; k < 72; ++k)
    weather << "2005 3 " << 1 + k / 24 << " " << k % 24 << " 29.92 90 100 1 40 0.0 0.0\n";
  write_file("lt_weather.txt", weather.str());
  write_file("lt_rain.gag",
             "EVENT \"storm\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nRATES 2005 3 1 2 0 5.0\n"
             "RATES 2005 3 1 3 0 0.0\nEVENT \"later\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
             "RATES 2005 4 1 0 0 5.0\nRATES 2005 4 1 1 0 0.0\n");
  write_file("lt_tables.cmt",
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP lt_mask.asc \"Soils\"\n"
             "CONTAMINANT_TRANSPORT Soils\nNUM_CONTAM 1\n\"tracer\" \"Soils\" \"tracer.out\"\n"
             "PRECIP_CONC 0\nPARTITION 0\nNUM_IDS 1\n"
             "ID    DESCRIPTION                                  VALUES\n" +
                 table_row("0 0 0 0 " + number(gw) + " 0 0 0"));
  write_file("lt.prj",
             "TORVAPROJECT\nWATERSHED_MASK lt_mask.asc\nELEVATION lt_elev.asc\n"
             "SUMMARY lt_summary.out\nOUTLET_HYDRO lt_outlet.out\nROWS 2\nCOLS 2\n"
             "GRIDSIZE 100.0\nTIMESTEP 300\nOUTROW 2\nOUTCOL 2\nOUTSLOPE 0.001\nHYD_FREQ 60\n"
             "MANNING_N 0.05\nOVERTYPE explicit\nPRECIP_FILE lt_rain.gag\nRAIN_INV_DISTANCE\n"
             "LONG_TERM\nHMET_OBU lt_weather.txt\nALBEDO lt_albedo.asc\nLATITUDE 40.0\n"
             "LONGITUDE 90.0\nGMT -6\nET_CALC_DEARDORFF\nINF_REDIST\n" +
                 soil_cards +
                 "SOIL_MOIST_DEPTH 0.6\nTOP_LAYER_DEPTH 0.2\nWATER_TABLE lt_table.asc\n"
                 "MAPPING_TABLE lt_tables.cmt\nOV_CON_TRANS\nSOIL_CON_TRANS\n"
                 "MIXING_LAYER_DEPTH 0.1\n");
  torva_test::run_at_compared_thread_counts(
      "lt.prj", [] { return read_file("lt_summary.out") + read_file("lt_outlet.out"); });
  const std::string s = read_file("lt_summary.out");
  const double seeped = summary_number(s, "Total amount of exfiltration=");  // m3
  ASSERT_GT(seeped, 1000.0) << s;
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  ASSERT_TRUE(b.has_totals) << s;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-4) << s;
  EXPECT_LT(std::fabs(b.run_surface_error), 1e-4) << s;
  EXPECT_LT(std::fabs(summary_number(s, "Simple soil moisture mass balance =")), 1e-4) << s;
  const double in = summary_number(s, "Mass seepage up from GW");
  EXPECT_NEAR(in, gw * seeped / 1000.0, gw * 0.005 / 1000.0 + 0.01) << s;
  EXPECT_NEAR(summary_number(s, "Soil mass in from groundwater"), in, 0.01) << s;
  const double init = summary_number(s, "Total initial mass");
  EXPECT_NEAR(summary_number(s, "Total final Mass"), init + in, 1e-9 * (init + in)) << s;
}

}  // namespace redist_table_cases
