// End-to-end cases of wells feeding a closed aquifer under the soils, run by the real torva
// executable at 1 and 8 threads with the same outputs. A table fed up to the ground gives the
// rest of the wells' water to the surface under every soil that lets the aquifer reach it, and
// the event summary's run-wide exfiltration is what the aquifer's own books say it gave; under
// Richards columns a lake cell's table gives it to the overland or channel lake over it; and a
// table fed fast enough to cross several column nodes in a step is solved in sub-steps that
// match a run on a short step.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::grid_header;
using torva_test::number;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace groundwater_fed_cases_tests {

constexpr double cell = 100.0;     // m
constexpr double ground = 10.0;    // m
constexpr double porosity = 0.45;  // the aquifer's (and the soils')

enum class soil { green_ampt, redistribution, layered, richards };

std::string map(double a, double b, double c, double d) {
  std::ostringstream s;
  s << grid_header(2, 2, cell) << number(a) << " " << number(b) << "\n"
    << number(c) << " " << number(d) << "\n";
  return s.str();
}
std::string map(double v) {
  return map(v, v, v, v);
}

// The overland lake over the last cell (row 2, column 2): 0.5 m deep at the start.
constexpr double lake_depth = 0.5;  // m

// The soil's files and cards.
std::string soil_cards(soil s) {
  switch (s) {
    case soil::green_ampt:
      write_file("ks.asc", map(1.0));
      write_file("hc.asc", map(10.0));
      write_file("por.asc", map(porosity));
      write_file("moist.asc", map(0.1));
      return "GREEN_AMPT\nCONDUCTIVITY ks.asc\nCAPILLARY hc.asc\nPOROSITY por.asc\n"
             "MOISTURE moist.asc\n";
    case soil::redistribution:
      write_file("ks.asc", map(1.0));
      write_file("hc.asc", map(16.7));
      write_file("por.asc", map(porosity));
      write_file("pore.asc", map(0.25));
      write_file("res.asc", map(0.05));
      write_file("moist.asc", map(0.25));
      return "INF_REDIST\nCONDUCTIVITY ks.asc\nCAPILLARY hc.asc\nPOROSITY por.asc\n"
             "PORE_INDEX pore.asc\nRESIDUAL_SAT res.asc\nMOISTURE moist.asc\n"
             "SOIL_MOIST_DEPTH 0.6\nTOP_LAYER_DEPTH 0.2\nSINGLE_UNSAT_SAT 0.5\n";
    case soil::layered: {
      write_file("soil.asc", map(7));
      std::ostringstream t;
      // Ks (cm/h), pore index, capillary head (cm), porosity, field capacity, wilting point,
      // residual and initial contents, thickness (cm).
      t << "1\n0\n7 loam\n"
        << "1.0 0.25 16.7 " << porosity << " 0.25 0.10 0.05 0.25 20\n"
        << "1.0 0.25 16.7 " << porosity << " 0.25 0.10 0.05 0.25 40\n"
        << "1.0 0.25 16.7 0.35 0.25 0.10 0.05 0.25\n";
      write_file("layers.txt", t.str());
      return "INF_LAYERED_SOIL\nSOIL_TYPE_MAP soil.asc\nSOIL_LAYER_INPUT_FILE layers.txt\n"
             "SINGLE_UNSAT_SAT 0.5\n";
    }
    case soil::richards: {
      write_file("soil.asc", map(3));
      // Ks, saturated, residual and initial contents, wilting point, field capacity, thickness,
      // pore index, bubbling pressure, node thickness.
      std::ostringstream t;
      t << "1\n0\n3\n";
      for (const char* thick : {"10", "10", "80"})
        t << "20 " << porosity << " 0.05 0.25 0.10 0.25 " << thick << " 0.5 20 2\n";
      write_file("layers.txt", t.str());
      return "INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP soil.asc\n"
             "SOIL_LAYER_INPUT_FILE layers.txt\nAQUIFER_DELTA_Z 0.1\n";
    }
  }
  return "";
}

std::string well_row(int id, double value) {
  char text[200];
  snprintf(text, sizeof text, "%6d %-79s 0 %.10g 0\n", id, "well", value);
  return text;
}

struct fed_case {
  soil s = soil::richards;
  double below = 0.05;     // m, the table's initial depth
  double fed = 0.10;       // m of water the wells put into each cell over the run
  double minutes = 120.0;  // length of the run
  double step_s = 60.0;    // the loop's time step (s), the soil's and the aquifer's interval
  // The last cell lies 1 m lower, under an overland lake, and only its well feeds the aquifer;
  // every table starts `below` that cell's ground.
  bool lake = false;
};

void write_case(const fed_case& k) {
  const bool lake = k.lake;
  const double low = lake ? ground - 1.0 : ground;
  write_file("mask.asc", map(1));
  write_file("elev.asc", map(ground, ground, ground, low));
  write_file("bottom.asc", map(low - 2.0));
  write_file("head.asc", map(low - k.below));
  write_file("bound.asc", map(1));
  write_file("wells.idx", lake ? map(0, 0, 0, 1) : map(1));
  // Every cell a well of the same id putting `fed` in over the run (negative: into the aquifer).
  write_file("table.cmt",
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP wells.idx Wells\nWELL_TABLE Wells\n"
             "NUM_IDS 1\nID    DESCRIPTION   VALUES\n" +
                 well_row(1, -k.fed * cell * cell / (k.minutes * 60.0)));
  std::string soil = soil_cards(k.s);
  if (lake) {
    write_file("lake.asc", map(0, 0, 0, 1));
    write_file("lake.txt", "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 " + number(low + lake_depth) + " " +
                               number(lake_depth * cell * cell) + "\n");
    soil += "OVERLAND_LAKE_MAP lake.asc\nOVERLAND_LAKE_FILE lake.txt\n";
  }
  write_file("x.prj",
             "TORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\n"
             "SUMMARY x.out\nOUTLET_HYDRO o.out\nROWS 2\nCOLS 2\nGRIDSIZE " +
                 number(cell) + "\nSTART_DATE 2005 3 14\nSTART_TIME 6 00\nTIMESTEP " +
                 number(k.step_s) + "\nTOT_TIME " + number(k.minutes) +
                 "\nOUTROW 1\nOUTCOL 1\nOUTSLOPE 0.001\nHYD_FREQ 60\nMANNING_N 0.05\n"
                 "OVERTYPE explicit\n"
                 // A trace of rain (the project needs some), far below every figure.
                 "PRECIP_UNIF\nRAIN_INTENSITY 0.000001\nRAIN_DURATION 15\n"
                 "WATER_TABLE head.asc\nGW_SIMULATION\nAQUIFER_BOTTOM bottom.asc\n"
                 "GW_BOUNDFILE bound.asc\nGW_UNIF_POROSITY " +
                 number(porosity) +
                 "\nGW_UNIF_HYCOND 3.6\nGW_LSOR_DIR 1\nGW_LSOR_CON 1e-10\n"
                 "MAPPING_TABLE table.cmt\nUSE_WELLS\n" +
                 soil);
}

// The event summary names the run's exfiltration so far; in a run of one event that is the
// water the aquifer gave the surface over the run: its storage at the start, plus what its
// sources put in, less its storage at the end. That is most of what the wells put in (the pores
// of the 5 cm the table rose take less than a quarter of it), and it is the event's seepage and
// the run's total too.
TEST(GroundwaterFedCases, TheEventSummaryGivesTheRunsExfiltrationUnderEverySoil) {
  struct soil_case {
    const char* name;
    soil s;
  };
  const soil_case cases[] = {{"single-layer Green and Ampt", soil::green_ampt},
                             {"redistribution soil", soil::redistribution},
                             {"layered soil", soil::layered},
                             {"Richards columns", soil::richards}};
  for (const soil_case& k : cases) {
    SCOPED_TRACE(k.name);
    torva_test::process_state_guard guard;
    temp_dir dir;
    fed_case c;
    c.s = k.s;
    write_case(c);
    torva_test::run_at_compared_thread_counts(
        "x.prj", [] { return read_file("x.out") + read_file("o.out"); });
    const std::string summary = read_file("x.out");
    const double by_aquifer = summary_number(summary, "GW volume start =") +
                              summary_number(summary, "Total inputs to groundwater=") +
                              summary_number(summary, "Flux across head boundaries=") -
                              summary_number(summary, "GW volume end =");
    const double wells = c.fed * 4.0 * cell * cell;
    EXPECT_GT(by_aquifer, 0.5 * wells) << summary;
    EXPECT_LT(by_aquifer, wells) << summary;
    // The event summary prints to 0.1 m3, the aquifer's books to 0.01 m3.
    const double run_line =
        summary_number(summary, "total vol of water exfiltrated this run (cu. m):");
    EXPECT_NEAR(run_line, by_aquifer, 0.1) << summary;
    EXPECT_NEAR(
        summary_number(summary, "volume of water directly to surface from groundwater (cu. m):"),
        by_aquifer, 0.1)
        << summary;
    EXPECT_NEAR(summary_number(summary, "Total amount of exfiltration="), by_aquifer, 0.05)
        << summary;
    const summary_balance b = read_summary_balance(summary);
    ASSERT_TRUE(b.has_totals) << summary;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
  }
}

// Under Richards columns an overland lake over a cell whose table reaches the ground takes the
// water its table gives beyond the column's full stores, as the other soils' lakes do. A well
// feeds the lake's cell, 1 m below its neighbours, whose tables stay below their ground: the
// run's exfiltration is the lake cell's, most of the well's water, and it is what the lake
// gained (with the trace of rain on it), booked as flow into the lake; the lake's, the aquifer's
// and the run's books close.
TEST(GroundwaterFedCases, ATableAtTheGroundUnderRichardsColumnsGivesTheLakeOverItsCell) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  fed_case c;
  c.lake = true;
  write_case(c);
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "x.prj", [] { return read_file("x.out") + read_file("o.out") + read_file("hotstart_file"); });
  const std::string summary = read_file("x.out");
  ASSERT_NE(summary.find("Final volume in overland lakes="), std::string::npos)
      << runs.run[0].out << summary;
  const double exfiltrated = summary_number(summary, "Total amount of exfiltration=");
  const double well = c.fed * cell * cell;
  EXPECT_GT(exfiltrated, 0.5 * well) << summary;
  EXPECT_LT(exfiltrated, well) << summary;
  const double lake_start = lake_depth * cell * cell;
  const double lake_gain = summary_number(summary, "Final volume in overland lakes=") - lake_start;
  EXPECT_NEAR(lake_gain, exfiltrated, 0.05) << summary;
  EXPECT_NEAR(summary_number(summary, "Volume of flow into overland lakes:"), lake_gain, 0.05)
      << summary;
  EXPECT_NEAR(summary_number(summary, "Volume of flow from overland lakes:"), 0.0, 0.01) << summary;
  EXPECT_NEAR(summary_number(summary, "Overland lake mass bal error m^3:"), 0.0, 0.01) << summary;
  const double by_aquifer = summary_number(summary, "GW volume start =") +
                            summary_number(summary, "Total inputs to groundwater=") -
                            summary_number(summary, "GW volume end =");
  EXPECT_NEAR(exfiltrated, by_aquifer, 0.05) << summary;
  EXPECT_NEAR(summary_number(summary, "Mass Balance error ="), 0.0, 1e-6) << summary;
  const summary_balance b = read_summary_balance(summary);
  ASSERT_TRUE(b.has_totals) << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
}

// A channel lake over the aquifer under Richards columns: the example lake (one cell of 30 m at
// row 4, column 6, ground 103.6 m) closed behind its culvert (its inlet raised to 104.5 m), no
// rain to speak of, for half an hour of 30 s steps. The aquifer is the lake's cell, whose table
// stands at its ground over a saturated column, and its western neighbour (ground 104 m), whose
// head is held at 103.9 m (K = 1e-4 m/s, bottom at 80 m; every other cell outside the aquifer). The
// lake cell passes the lake what the held head gives it, by Darcy's law with the Dupuit assumption
// between the two cell centres, L = 30 m apart: Q = K (h1^2 - h2^2) / (2 L) x dx with h1 = 23.9 m,
// h2 = 23.6 m, 7.125e-4 m3/s, 1.2825 m3 over the half hour, booked as groundwater into the
// lake. The lake's volume grows by that and the books close.
TEST(GroundwaterFedCases, AChannelLakeTakesTheWaterOfATableAtTheGroundUnderRichardsColumns) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const std::string example = std::string(TORVA_SOURCE_DIR) + "/examples/lake/";
  for (const char* name : {"lake.gst", "lake_mask.asc", "lake_elev.asc", "lake_hyd_locations.txt"})
    write_file(name, read_file(example + name));
  auto replace = [](std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, text.find('\n', at) - at, to);
  };
  std::string chn = read_file(example + "lake.chn");
  replace(chn, "UPINVERT 103.65", "UPINVERT 104.50");
  write_file("lake.chn", chn);
  std::string prj = read_file(example + "lake.prj");
  replace(prj, "RAIN_INTENSITY", "RAIN_INTENSITY     0.000001");
  replace(prj, "RAIN_DURATION", "RAIN_DURATION      30");
  replace(prj, "TOT_TIME", "TOT_TIME           30");
  replace(prj, "TIMESTEP", "TIMESTEP           30.0");
  // The Richards columns in place of the example's Green and Ampt soil.
  for (const char* card : {"GREEN_AMPT", "CONDUCTIVITY", "CAPILLARY", "POROSITY", "MOISTURE"})
    replace(prj, card, "");
  const double lake_ground = 103.6, held = 103.9, bottom = 80.0, k = 1e-4, dx = 30.0;
  auto lake_map = [&](double lake_cell, double west, double elsewhere) {
    std::string text = grid_header(10, 12, dx);
    for (int r = 1; r <= 10; ++r) {
      for (int c = 1; c <= 12; ++c)
        text += number(r == 4 && c == 6 ? lake_cell : r == 4 && c == 5 ? west : elsewhere) + " ";
      text += "\n";
    }
    return text;
  };
  write_file("gw_head.asc", lake_map(lake_ground, held, 90.0));
  write_file("gw_bottom.asc", lake_map(bottom, bottom, bottom));
  write_file("gw_bound.asc", lake_map(1, 2, 0));
  soil_cards(soil::richards);  // its soil table; the soil map is the lake watershed's
  write_file("soil.asc", lake_map(3, 3, 3));
  prj +=
      "INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP soil.asc\n"
      "SOIL_LAYER_INPUT_FILE layers.txt\nAQUIFER_DELTA_Z 0.1\n"
      "WATER_TABLE gw_head.asc\nGW_SIMULATION\nAQUIFER_BOTTOM gw_bottom.asc\n"
      "GW_BOUNDFILE gw_bound.asc\nGW_UNIF_POROSITY 0.45\nGW_UNIF_HYCOND 36.0\nGW_LSOR_DIR 1\n"
      "GW_LSOR_CON 1e-10\n";
  write_file("lake.prj", prj);
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "lake.prj", [] { return read_file("lake_summary.out"); });
  const std::string summary = read_file("lake_summary.out");
  ASSERT_NE(summary.find("Final volume in perennial lakes"), std::string::npos) << runs.run[0].out;

  const double h1 = held - bottom, h2 = lake_ground - bottom;
  const double by_darcy = k * (h1 * h1 - h2 * h2) / (2.0 * dx) * dx * 1800.0;
  const double lake_start = summary_number(summary, "Initial volume in perennial lakes");
  const double lake_end = summary_number(summary, "Final volume in perennial lakes");
  const double to_lake = summary_number(summary, "Total flux from gw to lakes=");
  EXPECT_NEAR(to_lake, by_darcy, 0.01 * by_darcy) << summary;
  EXPECT_NEAR(lake_end - lake_start, to_lake, 0.01) << summary;
  EXPECT_NEAR(summary_number(summary, "volume of gw to lakes:"), to_lake, 0.06);  // to 0.1 m3
  EXPECT_NEAR(summary_number(summary, "Perennial lake mass bal error m^3="), 0.0, 0.005);
  EXPECT_NEAR(summary_number(summary, "Flux across head boundaries="), to_lake, 0.01) << summary;
  EXPECT_NEAR(summary_number(summary, "Total amount of exfiltration="), 0.0, 0.005) << summary;
  EXPECT_NEAR(summary_number(summary, "Mass Balance error ="), 0.0, 1e-6) << summary;
  const summary_balance b = read_summary_balance(summary);
  ASSERT_TRUE(b.has_totals) << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
}

// The heads at the end of the run, from the hotstart file, row by row.
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

// Wells feed 8 cm of water in an hour into a table 95 cm down, under Richards columns at rest:
// the table rises into soil that already holds most of its pores' water. Each solve lifts it by
// the water it takes over the pores; the columns, rebuilt at the new table, leave the aquifer
// owed the water of the soil it rose into, which lifts it again. On a 15 min step the table would
// cross three 2 cm nodes of its column in a step: the step is cut into sub-steps, after each of
// which the columns follow the table and the rest of the step takes what the aquifer is owed. The
// heads at the end then match those of a run on a 1 min step (whose table crosses no more than a
// node a step) to 1 cm of a rise of over 50 cm (whole 15 min steps leave the table over 20 cm
// short, the water owed to the aquifer lagging a step behind), with the books of both closed.
TEST(GroundwaterFedCases, AStepWhoseTableWouldCrossManyNodesIsSubSteppedAndMatchesAShortStep) {
  std::vector<double> heads[2];
  const double steps[2] = {60.0, 900.0};
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(steps[k]);
    torva_test::process_state_guard guard;
    temp_dir dir;
    fed_case c;
    c.below = 0.95;
    c.fed = 0.08;
    c.minutes = 60.0;
    c.step_s = steps[k];
    write_case(c);
    torva_test::run_at_compared_thread_counts(
        "x.prj", [] { return read_file("x.out") + read_file("hotstart_file"); });
    const std::string summary = read_file("x.out");
    heads[k] = final_heads();
    ASSERT_EQ(heads[k].size(), 4u);
    // The table rose by more than the wells' water over the pores, and stayed below the ground.
    EXPECT_GT(heads[k][0], ground - c.below + c.fed / porosity) << summary;
    EXPECT_LT(heads[k][0], ground - 0.01) << summary;
    EXPECT_NEAR(summary_number(summary, "Mass Balance error ="), 0.0, 1e-6) << summary;
    const summary_balance b = read_summary_balance(summary);
    ASSERT_TRUE(b.has_totals) << summary;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
  }
  for (int c = 0; c < 4; ++c) EXPECT_NEAR(heads[1][c], heads[0][c], 0.01);
}

}  // namespace groundwater_fed_cases_tests
