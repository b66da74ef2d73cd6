// Constituents over the layered soil end to end, run by the real torva executable on small grids
// written by the tests: a tracer rained and ponded onto a plane whose wetting front passes the
// soil's two layers, so that the draining water carries it from the mixing layer down through
// the carrier layers and out of the column, keeps every gram in the books; the mixing depth
// chooses two or three carrier layers per cell, which the soil's initial mass shows; and the
// nutrient species and pools over the layered soil keep their nitrogen and phosphorus. Every run
// is made on 1 and 8 threads, which must write the same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "support/summary_reader.h"
#include "support/table_fixtures.h"
#include "support/test_support.h"

using torva_test::number;
using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace layered_contam_cases_tests {

constexpr int rows = 2, cols = 3;
constexpr double dx = 10.0;
constexpr double head = 10.05;  // m: the ponded water's level at the start
constexpr double phi1 = 0.45;   // porosity of the soil's layer 1
constexpr double phi2 = 0.40;   // and of its layer 2

double ground(int r, int c) {
  return 10.0 - 0.01 * dx * r - 0.001 * dx * c;
}

std::string grid(const std::function<double(int, int)>& f) {
  std::string text = torva_test::grid_header(rows, cols, dx);
  for (int r = 1; r <= rows; ++r) {
    for (int c = 1; c <= cols; ++c) text += (c > 1 ? " " : "") + number(f(r, c));
    text += "\n";
  }
  return text;
}

// The plane of 2 x 3 cells of 10 m ponded to 10.05 m (about 5 to 8 cm deep) under 20 mm/h of
// rain for the whole 20 minutes, in steps of 5 s, on a layered soil of one type: layer 1 of
// `h1` cm and layer 2 of 4 cm, both conducting 5 cm/h and starting at a water content of
// 0.15 (deficits 0.30 and 0.25), so that the wetting front passes both within the run. `extra`
// adds cards.
void write_case(double h1, const std::string& extra) {
  write_file("lc_mask.asc", grid([](int, int) { return 1.0; }));
  write_file("lc_elev.asc", grid(ground));
  write_file("lc_soil.idx", grid([](int, int) { return 1.0; }));
  write_file("lc_type.asc", grid([](int, int) { return 4.0; }));
  // Columns: Ks (cm/h), pore index, capillary head (cm), porosity, field capacity, wilting
  // point, residual and initial contents, thickness (cm).
  write_file("lc_layers.txt", "1\n0\n4 layered loam\n5 0.22 10 " + number(phi1) +
                                  " 0.3 0.1 0.03 0.15 " + number(h1) + "\n5 0.22 10 " +
                                  number(phi2) +
                                  " 0.3 0.1 0.03 0.15 4\n"
                                  "5 0.22 10 0.4 0.3 0.1 0.03 0.15\n");
  std::string t = "TORVAPROJECT\nWATERSHED_MASK lc_mask.asc\nELEVATION lc_elev.asc\n";
  t += "SUMMARY lc_summary.out\nOUTLET_HYDRO lc_outlet.out\n";
  t += "ROWS 2\nCOLS 3\nGRIDSIZE 10\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n";
  t += "TIMESTEP 5\nTOT_TIME 20\nOUTROW 2\nOUTCOL 1\nOUTSLOPE 0.01\n";
  t += "HYD_FREQ 1\nMANNING_N 0.05\nOVERTYPE explicit\nPRECIP_UNIF\n";
  t += "RAIN_INTENSITY 20\nRAIN_DURATION 20\nINIT_ELEV_HEAD " + number(head) + "\n";
  t += "INF_LAYERED_SOIL\nSOIL_TYPE_MAP lc_type.asc\nSOIL_LAYER_INPUT_FILE lc_layers.txt\n";
  t += "MAPPING_TABLE lc_tables.cmt\nOV_CON_TRANS\nSOIL_CON_TRANS\n" + extra;
  write_file("lc.prj", t);
}

// The mapping-table file with the CONTAMINANT_TRANSPORT table of one tracer: rain
// concentration 1e9 g/m3, and for id 1 the dispersion 0.5 m2/s, no decay, exchange 1 per day, the
// land load `load`, no groundwater concentration, the water's initial 1e9 g/m3, the soil
// partition coefficient `kd` L/kg and no land concentration.
void write_tracer_table(double load, double kd) {
  std::string row = "     1 soil";
  row.resize(86, ' ');
  write_file("lc_tables.cmt",
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP lc_soil.idx \"Soils\"\n"
             "CONTAMINANT_TRANSPORT Soils\nNUM_CONTAM 1\n\"tracer\" \"Soils\" \"tracer.out\"\n"
             "PRECIP_CONC 1e9\nPARTITION 1\nNUM_IDS 1\n"
             "ID    DESCRIPTION                                  VALUES\n" +
                 row + "0.5 0 1.0 " + number(load) + " 0 1e9 " + number(kd) + " 0\n");
}

std::string run_both(int status = 0) {
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "lc.prj", [] { return read_file("lc_summary.out"); }, status);
  return runs.outputs[1];
}

// The number after the last line of the summary that starts with `label`.
double last_number(const std::string& text, const std::string& label) {
  const std::size_t at = text.rfind("\n" + label);
  if (at == std::string::npos) return std::nan("");
  return summary_number(text.substr(at + 1), label);
}

// A tracer in the water, the rain and a mixing layer of 1 cm in a layer 1 of 3 cm: three carrier
// layers, between which the draining water moves the tracer down and out of the column to the
// groundwater. In = out + stored to 1e-9 over water, soil and system, and the soil's and the
// water's books each close on their own.
TEST(LayeredContamCases, ATracerDrainingThroughTheLayersKeepsItsBooks) {
  temp_dir dir;
  write_tracer_table(1e8, 0.5);
  write_case(3.0, "MIXING_LAYER_DEPTH 0.01\n");
  const std::string s = run_both();

  const double init = last_number(s, "Total initial mass");
  const double rain = last_number(s, "Precipitation inputs");
  const double out = last_number(s, "Total mass out of system");
  const double restored = last_number(s, "Mass restored to emptied cells");
  const double seep = last_number(s, "Mass seepage down to GW");
  const double soil_in = last_number(s, "Mass added by infiltration");
  EXPECT_GT(rain, 1e6);
  EXPECT_GT(soil_in, 1e6);
  // The draining water carried tracer out of the bottom of the column; it left the system.
  EXPECT_GT(seep, 1e4) << s;
  EXPECT_GE(out, seep);
  EXPECT_LT(restored, 1e-5 * (init + rain));
  const double in = init + rain + restored;
  EXPECT_NEAR(last_number(s, "Total final Mass") + out, in, 1e-9 * in) << s;

  const double soil_init = last_number(s, "Initial Mass in Soil Column");
  const double soil_given = last_number(s, "Uptake from soil");
  EXPECT_GT(soil_init, 1e5);
  EXPECT_NEAR(soil_init + soil_in, last_number(s, "Final Mass in Soil Column") + soil_given + seep,
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

}  // namespace layered_contam_cases_tests
