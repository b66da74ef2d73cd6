// Dissolved constituents end to end, run by the real torva executable on small grids written by
// the tests: a tracer in a ponded, rained-on plane with infiltration, a soil column and exchange
// between soil and water keeps every gram in the books (in = out + stored), a still pond decays
// step by step from the first step on, and inputs the model cannot carry stop the run at
// start-up naming the card, the file, the constituent and the value. Every run is made on 1 and
// 8 threads, which must write the same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::number;
using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace contam_cases_tests {

// A grid of rows x cols cells of dx m with the value f(row, col) in each.
std::string grid(int rows, int cols, double dx, const std::function<double(int, int)>& f) {
  std::string text = torva_test::grid_header(rows, cols, dx);
  for (int r = 1; r <= rows; ++r) {
    for (int c = 1; c <= cols; ++c) text += (c > 1 ? " " : "") + number(f(r, c));
    text += "\n";
  }
  return text;
}

// The mapping-table file with one index map (every cell id 1) and the CONTAMINANT_TRANSPORT
// table of one constituent: its rain concentration, partition coefficient and the eight values
// of id 1 (dispersion m2/s, decay per day, exchange rate per day, land load, groundwater
// concentration, initial water concentration g/m3, soil partition coefficient, land
// concentration).
void write_table(double precip_conc, double partition, const std::string& values) {
  std::string row = "     1 soil";
  row.resize(86, ' ');
  write_file("case_tables.cmt",
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP case_soil.idx \"Soils\"\n"
             "CONTAMINANT_TRANSPORT Soils\nNUM_CONTAM 1\n\"tracer\" \"Soils\" \"tracer.out\"\n"
             "PRECIP_CONC " +
                 number(precip_conc) + "\nPARTITION " + number(partition) +
                 "\nNUM_IDS 1\nID    DESCRIPTION                                  VALUES\n" + row +
                 values + "\n");
}

// The project: grid maps, the clock and outlet, the water's start and rain, and `extra` cards.
void write_project(int rows, int cols, double dx, const std::function<double(int, int)>& ground,
                   double step, double minutes, const std::string& extra) {
  write_file("case_mask.asc", grid(rows, cols, dx, [](int, int) { return 1.0; }));
  write_file("case_elev.asc", grid(rows, cols, dx, ground));
  write_file("case_soil.idx", grid(rows, cols, dx, [](int, int) { return 1.0; }));
  std::string t = "TORVAPROJECT\n";
  t += "WATERSHED_MASK case_mask.asc\nELEVATION case_elev.asc\n";
  t += "SUMMARY case_summary.out\nOUTLET_HYDRO case_outlet.out\n";
  t += "ROWS " + std::to_string(rows) + "\nCOLS " + std::to_string(cols) + "\n";
  t += "GRIDSIZE " + number(dx) + "\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n";
  t += "TIMESTEP " + number(step) + "\nTOT_TIME " + number(minutes) + "\n";
  t += "OUTROW " + std::to_string(rows) + "\nOUTCOL 1\nOUTSLOPE 0.01\n";
  t += "HYD_FREQ 1\nMANNING_N 0.05\nOVERTYPE explicit\nPRECIP_UNIF\n";
  t += "MAPPING_TABLE case_tables.cmt\nOV_CON_TRANS\n" + extra;
  write_file("case.prj", t);
}

// The Green and Ampt soil of every cell (Ks cm/h, capillary head cm, porosity, moisture).
std::string green_ampt_cards(int rows, int cols, double dx) {
  const std::pair<const char*, double> maps[] = {
      {"CONDUCTIVITY", 0.05}, {"CAPILLARY", 16.7}, {"POROSITY", 0.486}, {"MOISTURE", 0.1458}};
  std::string cards = "GREEN_AMPT\n";
  for (const auto& [card, value] : maps) {
    const std::string file = std::string("case_") + card + ".asc";
    write_file(file, grid(rows, cols, dx, [v = value](int, int) { return v; }));
    cards += std::string(card) + " " + file + "\n";
  }
  return cards;
}

// Runs case.prj on 1 and 8 threads and returns the summary of the last run.
std::string run_both(int status = 0) {
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "case.prj", [] { return read_file("case_summary.out"); }, status);
  return runs.outputs[1];
}

// The number after the last line of the summary that starts with `label`.
double last_number(const std::string& text, const std::string& label) {
  const std::size_t at = text.rfind("\n" + label);
  if (at == std::string::npos) return std::nan("");
  return summary_number(text.substr(at + 1), label);
}

// A plane of 3 x 4 cells of 10 m falling 0.01 to the south and 0.001 to the east, ponded to
// 10.05 m (5 to 11 cm deep) with the tracer at 1e9 g/m3, under 20 mm/h of rain carrying 1e9
// g/m3 for the whole 30 minutes; the water infiltrates into a soil whose mixing layer of 10 cm
// starts with 1e8 (g/kg x 1000) of the tracer, the soil and the water exchange at 1 per day
// with a partition coefficient of 1 L/kg, and the tracer drains through the outlet cell, in steps
// of 5 s. Nothing decays: whatever came in (the water's and the soil's initial mass, the rain's
// load) is out through the outlet or still in the water or the soil, to the last printed digit, and
// each of the three sets of books closes on its own.
TEST(ContamCases, TracerInRainWaterAndSoilKeepsItsBooks) {
  temp_dir dir;
  const int rows = 3, cols = 4;
  const double dx = 10.0;
  write_table(1e9, 1.0, "0.5 0 1.0 1e8 0 1e9 1.0 0");
  write_project(
      rows, cols, dx, [&](int r, int c) { return 10.0 - 0.01 * dx * r - 0.001 * dx * c; }, 5.0,
      30.0,
      "RAIN_INTENSITY 20\nRAIN_DURATION 30\nINIT_ELEV_HEAD 10.05\nSOIL_CON_TRANS\n"
      "MIXING_LAYER_DEPTH 0.1\n" +
          green_ampt_cards(rows, cols, dx));
  const std::string s = run_both();

  // Every path carried mass: rain, infiltration, the outlet, the exchange with the soil.
  const double init = last_number(s, "Total initial mass");
  const double final_mass = last_number(s, "Total final Mass");
  const double rain = last_number(s, "Precipitation inputs");
  const double out = last_number(s, "Total mass out of system");
  const double restored = last_number(s, "Mass restored to emptied cells");
  EXPECT_GT(rain, 1e6);
  EXPECT_GT(out, 1e6);
  EXPECT_GT(last_number(s, "Mass loss to infiltration"), 1e5);
  EXPECT_NE(last_number(s, "Uptake from soil"), 0.0);
  // The scheme never had to make up mass for a cell it emptied.
  EXPECT_EQ(restored, 0.0);
  // In = out + stored, to 1e-9 of the input (the sums are printed to 0.01 kg of some 1e9 kg).
  const double in = init + rain;
  EXPECT_NEAR(final_mass + out, in, 1e-9 * in) << s;

  // The soil column's books: its initial mass plus what infiltrated equals its final mass plus
  // what it gave to the water (negative when it took from the water).
  const double soil_init = last_number(s, "Initial Mass in Soil Column");
  const double soil_final = last_number(s, "Final Mass in Soil Column");
  const double soil_in = last_number(s, "Mass added by infiltration");
  const double soil_given = last_number(s, "Uptake from soil");
  EXPECT_GT(soil_init, 1e6);
  EXPECT_NEAR(soil_init + soil_in, soil_final + soil_given, 1e-9 * (soil_init + soil_in));

  // The water's books: what it held and what the rain and the soil gave it equals what it
  // holds, what infiltrated and what left through the outlet.
  const double ov_in = last_number(s, "Initial Dissolved mass on ov") +
                       last_number(s, "Precipitation mass gain") + soil_given;
  const double ov_out = last_number(s, "Final Dissolved mass on ov") +
                        last_number(s, "Mass loss to infiltration") +
                        last_number(s, "Outlet mass flux");
  EXPECT_NEAR(ov_in, ov_out, 1e-9 * ov_in);

  // And the water's own balance still closes.
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6);
}

// The rained-on plane of the first case over the soil that redistributes its water (INF_REDIST)
// in an event run: the mixing layer takes the soil's surface water content, and every gram is
// on the books as before: in = out + stored to 1e-9 over water, soil and system, the soil's and
// the water's books each closing on their own, on 1 and 8 threads alike.
TEST(ContamCases, AnEventOverTheRedistributionSoilKeepsItsBooks) {
  temp_dir dir;
  const int rows = 3, cols = 4;
  const double dx = 10.0;
  write_table(1e9, 1.0, "0.5 0 1.0 1e8 0 1e9 1.0 0");
  std::string soil = "INF_REDIST\nSOIL_MOIST_DEPTH 0.6\nTOP_LAYER_DEPTH 0.2\n";
  const std::pair<const char*, double> maps[] = {{"CONDUCTIVITY", 0.5}, {"CAPILLARY", 16.7},
                                                 {"POROSITY", 0.486},   {"MOISTURE", 0.1458},
                                                 {"PORE_INDEX", 0.25},  {"RESIDUAL_SAT", 0.05}};
  for (const auto& [card, value] : maps) {
    const std::string file = std::string("case_") + card + ".asc";
    write_file(file, grid(rows, cols, dx, [v = value](int, int) { return v; }));
    soil += std::string(card) + " " + file + "\n";
  }
  write_project(
      rows, cols, dx, [&](int r, int c) { return 10.0 - 0.01 * dx * r - 0.001 * dx * c; }, 5.0,
      30.0,
      "RAIN_INTENSITY 20\nRAIN_DURATION 30\nINIT_ELEV_HEAD 10.05\nSOIL_CON_TRANS\n"
      "MIXING_LAYER_DEPTH 0.1\n" +
          soil);
  const std::string s = run_both();
  const double init = last_number(s, "Total initial mass");
  const double rain = last_number(s, "Precipitation inputs");
  const double out = last_number(s, "Total mass out of system");
  EXPECT_NEAR(rain, 0.010 * 1200.0 * 1e9 / 1000.0, 1e-6 * rain);
  EXPECT_GT(out, 1e6);
  const double soil_in = last_number(s, "Mass added by infiltration");
  EXPECT_GT(soil_in, 1e5);
  // What the transport scheme gave back to cells it left below empty is booked as an input,
  // and small.
  const double restored = last_number(s, "Mass restored to emptied cells");
  EXPECT_LT(restored, 1e-5 * (init + rain));
  EXPECT_NEAR(last_number(s, "Total final Mass") + out, init + rain + restored,
              1e-9 * (init + rain))
      << s;
  const double soil_init = last_number(s, "Initial Mass in Soil Column");
  const double soil_given = last_number(s, "Uptake from soil");
  EXPECT_NEAR(soil_init + soil_in, last_number(s, "Final Mass in Soil Column") + soil_given,
              1e-9 * (soil_init + soil_in))
      << s;
  const double ov_in = last_number(s, "Initial Dissolved mass on ov") +
                       last_number(s, "Precipitation mass gain") + soil_given + restored;
  EXPECT_NEAR(
      ov_in,
      last_number(s, "Final Dissolved mass on ov") + soil_in + last_number(s, "Outlet mass flux"),
      1e-9 * ov_in)
      << s;
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6);
}

// The plane of the first case, ponded and rained on at one concentration (1e9 g/m3 in both),
// without soil transport, exchange, dispersion or decay, draining fast enough that the explicit
// scheme cuts its 5 s steps into sub-steps. Every gram must then move with its water: the mass
// booked as infiltrated, left on the plane and let out at the outlet is 1e9 g/m3 (1e6 kg/m3)
// times the water's volume of each. The faces must carry the water they moved over the whole
// step: with the discharges of a step's last sub-step the concentration drifts up, and the
// infiltrated mass comes out 19 % too high. The two directional passes each divide by the
// step's final depth, which keeps one concentration only to within some 2 % in this draining
// flow; the bounds leave room for that and not for the faces' error.
TEST(ContamCases, AUniformConcentrationMovesWithItsWater) {
  temp_dir dir;
  const int rows = 3, cols = 4;
  const double dx = 10.0;
  write_table(1e9, 1.0, "0 0 0 0 0 1e9 1.0 0");
  write_project(
      rows, cols, dx, [&](int r, int c) { return 10.0 - 0.01 * dx * r - 0.001 * dx * c; }, 5.0,
      30.0,
      "RAIN_INTENSITY 20\nRAIN_DURATION 30\nINIT_ELEV_HEAD 10.05\n" +
          green_ampt_cards(rows, cols, dx));
  const std::string s = run_both();
  const double kg_per_m3 = 1e9 / 1000.0;
  struct path {
    const char* mass;    // kg
    const char* volume;  // m3
    double bound;        // relative
  };
  const path paths[] = {{"Mass loss to infiltration", "Total amount of infiltration=", 0.03},
                        {"Final Dissolved mass on ov", "Final volume on surface=", 0.03},
                        {"Outlet mass flux", "volume of discharge:", 0.005}};
  for (const path& p : paths) {
    const double volume = last_number(s, p.volume);
    const double mass = last_number(s, p.mass);
    EXPECT_GT(volume, 1.0) << p.volume;
    EXPECT_NEAR(mass, kg_per_m3 * volume, p.bound * kg_per_m3 * volume) << p.mass << "\n" << s;
  }
}

// Overland point sources have no rates to add (their file has no defined format): the run with
// the constituents stops at start-up naming the card, before any step, instead of going on
// without the sources' water.
TEST(ContamCases, OverlandPointSourcesStopTheRunAtStartUp) {
  temp_dir dir;
  const int rows = 3, cols = 4;
  const double dx = 10.0;
  write_table(1e9, 1.0, "0.5 0 1.0 1e8 0 1e9 1.0 0");
  write_file("case_sources.txt", "");
  write_project(
      rows, cols, dx, [&](int r, int c) { return 10.0 - 0.01 * dx * r - 0.001 * dx * c; }, 5.0,
      30.0,
      "RAIN_INTENSITY 20\nRAIN_DURATION 30\nINIT_ELEV_HEAD 10.05\nSOIL_CON_TRANS\n"
      "MIXING_LAYER_DEPTH 0.1\nOV_POINT_SOURCE case_sources.txt\n" +
          green_ampt_cards(rows, cols, dx));
  const torva_test::command_result r = torva_test::run_with_threads("case.prj", 1);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("Error: overland point sources (their file has no defined format, so no "
                       "rate can be read from it) (the OV_POINT_SOURCE card) is not supported by "
                       "this version.\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Running...."), std::string::npos) << r.out;
}

// The rained-on plane of the case above with the soil's concentrations held fixed
// (SOIL_STATIC_CONC) and the soil's tracer decaying at 5 per day: the mixing layer ends with the
// mass it started with, whatever infiltrated, decayed or went up into the water; those are booked,
// so the soil's balance error is the mass the fixed concentrations implied, (in - out - final) /
// in by hand from the printed figures, and the summary says so. The water's books close as
// before.
TEST(ContamCases, FixedSoilConcentrationsKeepTheLayersMassAndBookWhatMoved) {
  temp_dir dir;
  const int rows = 3, cols = 4;
  const double dx = 10.0;
  write_table(1e9, 1.0, "0.5 5 1.0 1e8 0 1e9 1.0 0");
  write_project(
      rows, cols, dx, [&](int r, int c) { return 10.0 - 0.01 * dx * r - 0.001 * dx * c; }, 5.0,
      30.0,
      "RAIN_INTENSITY 20\nRAIN_DURATION 30\nINIT_ELEV_HEAD 10.05\nSOIL_CON_TRANS\n"
      "MIXING_LAYER_DEPTH 0.1\nSOIL_STATIC_CONC\n" +
          green_ampt_cards(rows, cols, dx));
  const std::string s = run_both();
  const double soil_init = last_number(s, "Initial Mass in Soil Column");
  const double soil_final = last_number(s, "Final Mass in Soil Column");
  const double soil_in = last_number(s, "Mass added by infiltration");
  const double soil_given = last_number(s, "Uptake from soil");
  const double soil_decay = last_number(s, "Soil decay mass");
  EXPECT_GT(soil_init, 1e6);
  EXPECT_NEAR(soil_final, soil_init, 0.005) << s;
  EXPECT_GT(soil_in, 1e5);
  EXPECT_GT(soil_decay, 1e3);
  const double implied =
      (soil_init + soil_in - soil_final - soil_decay - soil_given) / (soil_init + soil_in) * 100.0;
  EXPECT_GT(std::fabs(implied), 1e-3);
  EXPECT_NEAR(last_number(s, "Soil mass balance error"), implied, 2e-4) << s;
  EXPECT_TRUE(contains(s,
                       "When using static soil concentrations, mass balance errors represent "
                       "implied additions to soil top layer \n"));
  // The water's books: what it held, the rain and the soil gave it against what it holds, what
  // infiltrated, decayed and left.
  const double ov_in = last_number(s, "Initial Dissolved mass on ov") +
                       last_number(s, "Precipitation mass gain") + soil_given;
  const double ov_out =
      last_number(s, "Final Dissolved mass on ov") + last_number(s, "Mass loss to infiltration") +
      last_number(s, "Outlet mass flux") + last_number(s, "Mass decay loss on overland");
  EXPECT_NEAR(ov_in, ov_out, 1e-9 * ov_in);
}

// Eight cells of a flat pond 1 m deep (the ninth, the outlet corner, raised 3 m and dry) hold the
// tracer at 1e9 g/m3, decaying at 86.4 per day (0.001 per second), in steps of 10 s for 10
// minutes. Each step decays the mass held over the step: M0 (1 - 0.01)^60 is left, the first
// step included. (Started from a depth of 0, the first step's decay would be capped to nothing
// and M0 (1 - 0.01)^59, 1 % more, would be left.)
TEST(ContamCases, StillPondDecaysFromTheFirstStep) {
  temp_dir dir;
  const double dx = 10.0;
  write_table(0.0, 0.0, "0 86.4 0 0 0 1e9 0 0");
  write_project(
      3, 3, dx, [](int r, int c) { return r == 3 && c == 1 ? 13.0 : 10.0; }, 10.0, 10.0,
      "RAIN_INTENSITY 0.000001\nRAIN_DURATION 1\nINIT_ELEV_HEAD 11\n");
  const std::string s = run_both();
  const double m0 = 8.0 * dx * dx * 1.0 * 1e9 / 1000.0;  // kg
  EXPECT_DOUBLE_EQ(last_number(s, "Initial Dissolved mass on ov"), m0);
  const double left = last_number(s, "Final Dissolved mass on ov");
  // Steps of Julian days are exact to some 1e-5 s, so each k dt to some 1e-6 of its value.
  EXPECT_NEAR(left, m0 * std::pow(0.99, 60), 1e-7 * m0) << s;
  EXPECT_NEAR(last_number(s, "Mass decay loss on overland"), m0 - left, 0.02);
  EXPECT_EQ(last_number(s, "Outlet mass flux"), 0.0);
}

// Every frame of an ASCII map dataset: its time and the value of each grid position.
struct map_frame {
  double minutes = 0.0;
  std::vector<double> values;
};
std::vector<map_frame> dataset_frames(const std::string& text, int positions) {
  std::vector<map_frame> frames;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("TS 1 ", 0) != 0) continue;
    map_frame f;
    f.minutes = std::strtod(line.c_str() + 5, nullptr);
    for (int k = 0; k < positions && std::getline(lines, line); ++k) {
    }
    for (int k = 0; k < positions && std::getline(lines, line); ++k)
      f.values.push_back(std::strtod(line.c_str(), nullptr));
    frames.push_back(f);
  }
  return frames;
}

// The still pond of the case above with its maps written every minute: the constituent's
// concentration map (and the overland concentration map, which shows the first constituent)
// holds in a pond cell 0.99 of the starting 1e9 g/m3 after the first step and 0.99 of the last
// value for each 10 s step between two frames, and the mass map that concentration times the cell's
// 1 m x 100 m2 of water.
TEST(ContamCases, TheConstituentMapsShowTheStillPondsDecay) {
  temp_dir dir;
  write_table(0.0, 0.0, "0 86.4 0 0 0 1e9 0 0");
  write_project(
      3, 3, 10.0, [](int r, int c) { return r == 3 && c == 1 ? 13.0 : 10.0; }, 10.0, 5.0,
      "RAIN_INTENSITY 0.000001\nRAIN_DURATION 1\nINIT_ELEV_HEAD 11\nALL_CONTAM_OUTPUT\n"
      "OV_CON_MAP case_conc.dat\nMAP_FREQ 1\nMAP_TYPE 1\n");
  torva_test::run_at_compared_thread_counts("case.prj", [] {
    return read_file("tracer.out.conc") + read_file("tracer.out.mass") + read_file("case_conc.dat");
  });
  const std::vector<map_frame> conc = dataset_frames(read_file("tracer.out.conc"), 9);
  const std::vector<map_frame> mass = dataset_frames(read_file("tracer.out.mass"), 9);
  const std::vector<map_frame> map = dataset_frames(read_file("case_conc.dat"), 9);
  ASSERT_GE(conc.size(), 4u);
  ASSERT_EQ(mass.size(), conc.size());
  ASSERT_EQ(map.size(), conc.size());
  // The first frame follows the first step: 0.99 of the starting 1e9 g/m3 (to the some 1e-8 that
  // steps of Julian days leave on k dt).
  EXPECT_NEAR(conc[0].values[0], 0.99e9, 1e-7 * 1e9) << conc[0].minutes;
  for (std::size_t f = 0; f < conc.size(); ++f) {
    ASSERT_EQ(conc[f].values.size(), 9u);
    EXPECT_EQ(map[f].values, conc[f].values) << f;
    // Cell (1, 1): 1 m deep over 10 m x 10 m.
    EXPECT_NEAR(mass[f].values[0], conc[f].values[0] * 100.0, 1e-9 * mass[f].values[0]) << f;
    EXPECT_EQ(conc[f].values[6], 0.0);  // the dry outlet corner
    if (f == 0) continue;
    const double steps = std::round((conc[f].minutes - conc[f - 1].minutes) * 6.0);
    EXPECT_GE(steps, 1.0);
    EXPECT_NEAR(conc[f].values[0] / conc[f - 1].values[0], std::pow(0.99, steps), 1e-6) << f;
  }
}

// Two cells of 10 m in a row, the upper one (10 cm higher) holding the tracer at 1e6 g/m3, the
// outlet cell clean and draining so steeply (OUTSLOPE 100, n 0.01) that it runs dry in every
// step: the tracer the upper cell's water carries into it stays behind when its water leaves and
// goes to the land. The overland books hold that hand-off, so they close: what the water held at
// the start is what it holds, what left through the outlet and what the drying left on the land,
// which is the land's gain.
TEST(ContamCases, ACellThatRunsDryLeavesItsMassOnTheLandInTheBooks) {
  temp_dir dir;
  write_file("case_mask.asc", grid(1, 2, 10.0, [](int, int) { return 1.0; }));
  write_file("case_elev.asc", grid(1, 2, 10.0, [](int, int c) { return c == 1 ? 10.1 : 10.0; }));
  write_file("case_soil.idx", grid(1, 2, 10.0, [](int, int c) { return c; }));
  std::string upper = "     1 upper", outlet = "     2 outlet";
  upper.resize(86, ' ');
  outlet.resize(86, ' ');
  write_file("case_tables.cmt",
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP case_soil.idx \"Soils\"\n"
             "CONTAMINANT_TRANSPORT Soils\nNUM_CONTAM 1\n\"tracer\" \"Soils\" \"tracer.out\"\n"
             "PRECIP_CONC 0\nPARTITION 0\nNUM_IDS 2\n"
             "ID    DESCRIPTION                                  VALUES\n" +
                 upper + "0 0 0 0 0 1e6 0 0\n" + outlet + "0 0 0 0 0 0 0 0\n");
  write_file("case.prj",
             "TORVAPROJECT\nWATERSHED_MASK case_mask.asc\nELEVATION case_elev.asc\n"
             "SUMMARY case_summary.out\nOUTLET_HYDRO case_outlet.out\nROWS 1\nCOLS 2\n"
             "GRIDSIZE 10\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 10\nTOT_TIME 10\n"
             "OUTROW 1\nOUTCOL 2\nOUTSLOPE 100\nHYD_FREQ 1\nMANNING_N 0.01\n"
             "OVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY 0.000001\nRAIN_DURATION 1\n"
             "INIT_ELEV_HEAD 10.15\nMAPPING_TABLE case_tables.cmt\nOV_CON_TRANS\n");
  const std::string s = run_both();
  const double init = last_number(s, "Initial Dissolved mass on ov");
  const double dried = last_number(s, "Mass left on land by drying");
  EXPECT_DOUBLE_EQ(init, 0.05 * 100.0 * 1e6 / 1000.0);
  EXPECT_GT(dried, 0.5 * init);
  EXPECT_NEAR(last_number(s, "Final undissolved mass") - last_number(s, "Initial undissolved mass"),
              dried, 0.01);
  EXPECT_NEAR(
      init,
      last_number(s, "Final Dissolved mass on ov") + last_number(s, "Outlet mass flux") + dried,
      0.02);
  // The overland section's own error line.
  const std::string overland = s.substr(0, s.find("Global Transport Summaries"));
  EXPECT_LT(std::fabs(last_number(overland, "Contam mass balance error")), 1e-4) << overland;
}

// A CONTAM_MAP grid gives the first constituent's land load cell by cell (here 1 to 9, row by
// row): the land starts with their sum, 45 kg, and, with no exchange, ends with it; a negative
// load stops the run naming the map, the cell and the value.
TEST(ContamCases, ContaminantMapGivesTheLandLoadOfEachCell) {
  temp_dir dir;
  write_table(0.0, 0.0, "0 0 0 0 0 1e3 0 0");
  write_file("case_load.asc", grid(3, 3, 10.0, [](int r, int c) { return (r - 1) * 3 + c; }));
  write_project(
      3, 3, 10.0, [](int r, int c) { return r == 3 && c == 1 ? 13.0 : 10.0; }, 10.0, 2.0,
      "RAIN_INTENSITY 0.000001\nRAIN_DURATION 1\nINIT_ELEV_HEAD 11\nCONTAM_MAP case_load.asc\n");
  const std::string s = run_both();
  EXPECT_TRUE(contains(s, "reading contaminant load map from file: case_load.asc\n")) << s;
  EXPECT_DOUBLE_EQ(last_number(s, "Initial undissolved mass"), 45.0);
  EXPECT_DOUBLE_EQ(last_number(s, "Final undissolved mass"), 45.0);
  EXPECT_DOUBLE_EQ(last_number(s, "Total initial mass"), 45.0 + 8.0 * 100.0 * 1e3 / 1000.0);

  write_file("case_load.asc",
             grid(3, 3, 10.0, [](int r, int c) { return r == 2 && c == 2 ? -4 : 1; }));
  const torva_test::command_result r = torva_test::run_with_threads("case.prj", 1);
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(contains(r.out,
                       "Error: the contaminant load map case_load.asc gives cell 5 the load -4; "
                       "it must be a number of at least 0."))
      << r.out;
}

// The contaminant example (examples/small_contaminant) on 1 and 8 threads: the rain's tracer
// ends in the soil, the water and the outlet; the soil's pesticide is taken up by the ponded
// water, decays in both and partly leaves through the outlet. Every book of each constituent
// closes within the rounding of its printed terms (0.005 kg each).
TEST(ContamCases, ExampleCarriesATracerAndAPesticide) {
  temp_dir dir;
  const std::filesystem::path example =
      std::filesystem::path(TORVA_SOURCE_DIR) / "examples" / "small_contaminant";
  for (const auto& e : std::filesystem::directory_iterator(example))
    if (e.is_regular_file())
      std::filesystem::copy_file(e.path(), e.path().filename(),
                                 std::filesystem::copy_options::overwrite_existing);
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "contam.prj", [] { return read_file("contam_summary.out"); });
  const std::string s = runs.outputs[1];
  // Each constituent's blocks: soil, overland, global, in that order.
  for (const char* name : {"Tracer", "Pesticide"}) {
    SCOPED_TRACE(name);
    const std::size_t soil = s.find(std::string("Soil Constituent Transport Summary for ") + name);
    const std::size_t ov = s.find(std::string(" (") + name + ")\n");
    ASSERT_NE(soil, std::string::npos) << s;
    ASSERT_NE(ov, std::string::npos) << s;
    const int k = std::string(name) == "Tracer" ? 1 : 2;
    const std::size_t global =
        s.find("Contaminant Transport Global Summary for Contaminant     " + std::to_string(k));
    ASSERT_NE(global, std::string::npos) << s;
    const std::string soil_block = s.substr(soil);
    const std::string ov_block = s.substr(ov);
    const std::string global_block = s.substr(global);
    auto at = [](const std::string& block, const char* label) {
      return summary_number(block, label);
    };
    const double given = at(soil_block, "Uptake from soil");
    EXPECT_NEAR(
        at(soil_block, "Initial Mass in Soil Column") +
            at(soil_block, "Mass added by infiltration"),
        at(soil_block, "Final Mass in Soil Column") + at(soil_block, "Soil decay mass") + given,
        0.03);
    EXPECT_NEAR(at(ov_block, "Precipitation mass gain") + at(ov_block, "Uptake from soil"),
                at(ov_block, "Final Dissolved mass on ov") +
                    at(ov_block, "Mass loss to infiltration") + at(ov_block, "Outlet mass flux") +
                    at(ov_block, "Mass decay loss on overland"),
                0.03);
    EXPECT_NEAR(at(global_block, "Total initial mass") + at(global_block, "Precipitation inputs") +
                    at(global_block, "Mass restored to emptied cells"),
                at(global_block, "Total final Mass") +
                    at(global_block, "Total mass out of system") +
                    at(global_block, "Mass decay loss"),
                0.03);
    EXPECT_GT(at(ov_block, "Outlet mass flux"), 1.0);
    if (k == 1) {
      EXPECT_NEAR(at(global_block, "Precipitation inputs"), 1215.0, 0.01);  // 25 mm/h x 30 min
      EXPECT_GT(at(soil_block, "Final Mass in Soil Column"), 100.0);
    } else {
      EXPECT_GT(given, 1.0);
      EXPECT_GT(at(soil_block, "Soil decay mass"), 0.0);
      EXPECT_GT(at(ov_block, "Mass decay loss on overland"), 0.0);
    }
  }
}

// Inputs the model cannot carry stop the run at start-up with one message naming the card, or
// the file, the constituent and the value.
TEST(ContamCases, InputsThatCannotBeCarriedStopTheRunAtStartUp) {
  struct bad_case {
    const char* what;
    const char* values;  // the table's eight values for id 1; empty: no table in the file
    const char* extra;   // more cards
    const char* message;
  };
  const bad_case cases[] = {
      {"negative decay", "0 -2 0 0 0 1 0 0", "",
       "gives cell 1 the decay rate -2; it must be a number of at least 0"},
      {"negative partition coefficient", "0 0 0 0 0 1 -3 0", "",
       "gives cell 1 the partition coefficient -3; it must be a number of at least 0"},
      {"no table", "", "", "Error: The number of contaminants is not a positive value."},
      {"soil without Green and Ampt", "0 0 0 0 0 1 0 0", "SOIL_CON_TRANS\n",
       "soil contaminant transport without a Green and Ampt soil (GREEN_AMPT, INF_REDIST or "
       "INF_LAYERED_SOIL; the model's definition gives Richards columns no constituent layers) "
       "(the SOIL_CON_TRANS card) is not supported"},
      {"channel constituents", "0 0 0 0 0 1 0 0", "CHAN_CON_TRANS\n",
       "Error: CHAN_CON_TRANS needs channel routing (CHAN_EXPLIC): the channel constituents move "
       "along the links of the channel network.\n"},
      {"sediment-bound constituents", "0 0 0 0 0 1 0 0", "SEDIMENT_CONTAM\n",
       "Error: SEDIMENT_CONTAM needs overland erosion (SOIL_EROSION): the bound phase rides on the "
       "overland sediment.\n"},
  };
  for (const bad_case& b : cases) {
    SCOPED_TRACE(b.what);
    temp_dir dir;
    if (b.values[0] != '\0')
      write_table(0.0, 0.0, b.values);
    else
      write_file("case_tables.cmt", "TORVA_INDEX_MAP_TABLES\nINDEX_MAP case_soil.idx \"Soils\"\n");
    write_project(
        2, 2, 10.0, [](int, int) { return 10.0; }, 10.0, 1.0,
        std::string("RAIN_INTENSITY 1\nRAIN_DURATION 1\n") + b.extra);
    const torva_test::command_result r = torva_test::run_with_threads("case.prj", 1);
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(contains(r.out, b.message)) << r.out;
    if (std::string(b.what).find("negative") != std::string::npos) {
      EXPECT_TRUE(contains(r.out,
                           "contaminant 1 (tracer) of the CONTAMINANT_TRANSPORT table in "
                           "case_tables.cmt"))
          << r.out;
    }
    EXPECT_FALSE(contains(r.out, "Running....")) << r.out;
  }
}

}  // namespace contam_cases_tests

namespace contam_cases_tests {

// Two storms a day apart inside TEV, exchanged with VOLP between them (its soil moisture written
// here by hand): the plane of the first case, ponded with the tracer at the start, under 20 mm/h
// carrying 1e9 g/m3 for 20 minutes at 06:30 and again at 06:30 the next day; the tracer decays
// at 1 per day in the water and the soil. The run steps the day between the storms, the soil's
// and the water's tracer decaying and moving on their own schedules: whatever came in is out,
// stored or decayed, over both storms.
TEST(ContamCases, ATracerKeepsItsBooksOverTwoStormsExchangedWithVolp) {
  temp_dir dir;
  const int rows = 3, cols = 4;
  const double dx = 10.0;
  write_table(1e9, 1.0, "0.5 1.0 1.0 1e8 0 1e9 1.0 0");
  write_project(
      rows, cols, dx, [&](int r, int c) { return 10.0 - 0.01 * dx * r - 0.001 * dx * c; }, 5.0,
      30.0,
      "INIT_ELEV_HEAD 10.05\nSOIL_CON_TRANS\nMIXING_LAYER_DEPTH 0.1\n" +
          green_ampt_cards(rows, cols, dx) +
          "PRECIP_FILE storms.gag\nTEV\nVOLP volp.txt\nMOIST_TO_VOLP moist.asc\n"
          "MOIST_FROM_VOLP moist_in.asc\n");
  std::string prj = read_file("case.prj");
  prj.erase(prj.find("PRECIP_UNIF\n"), 12);
  write_file("case.prj", prj);
  write_file("storms.gag",
             "EVENT \"first\"\nNRGAG 1\nNRPDS 2\nCOORD 20.0 15.0\n"
             "RATES 2005 3 14 6 30 20.0\nRATES 2005 3 14 6 50 0.0\n\n"
             "EVENT \"second\"\nNRGAG 1\nNRPDS 2\nCOORD 20.0 15.0\n"
             "RATES 2005 3 15 6 30 20.0\nRATES 2005 3 15 6 50 0.0\n");
  std::filesystem::create_directory("exchange");
  write_file("exchange/moist_in.asc", grid(rows, cols, dx, [](int, int) { return 0.3; }));
  const std::string s = run_both();

  // Both storms ran, with VOLP's answer read in between.
  EXPECT_EQ(read_file("exchange/volp.txt"), "999 999\n");
  const double rain = last_number(s, "Precipitation inputs");
  EXPECT_NEAR(rain, 2.0 * 0.020 / 3.0 * rows * cols * dx * dx * 1e9 / 1000.0, 1e-6 * rain) << s;
  const double init = last_number(s, "Total initial mass");
  const double final_mass = last_number(s, "Total final Mass");
  const double out = last_number(s, "Total mass out of system");
  const double decayed = last_number(s, "Mass decay loss");
  EXPECT_GT(out, 1e6);
  EXPECT_GT(decayed, 1e6);
  // The mass a cell's last water leaves on the land as the ground dries in the dry spell comes
  // back with its next water: restored, in the books.
  const double restored = last_number(s, "Mass restored to emptied cells");
  // In = out + stored + decayed, to 1e-9 of the input.
  const double in = init + rain + restored;
  EXPECT_NEAR(final_mass + out + decayed, in, 1e-9 * in) << s;
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6);
}

}  // namespace contam_cases_tests
