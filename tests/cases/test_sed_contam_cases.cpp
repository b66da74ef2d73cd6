// Constituents bound to the overland sediment (SEDIMENT_CONTAM) end to end, run by the real
// torva executable on a small rained-on plane written by the test: erosion takes the sorbed
// tracer of the soil column with the fine sediment, the sediment carries it from cell to cell and
// out through the outlet, settling gives it back to the soil, the water and the sediment share it
// by linear partitioning, and every set of books (soil, water, bound phase, whole system) closes
// to 1e-9 of what came in. Every run is made on 1 and 8 threads, which must write the same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::number;
using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace sed_contam_cases_tests {

std::string grid(int rows, int cols, double dx, const std::function<double(int, int)>& f) {
  std::string text = torva_test::grid_header(rows, cols, dx);
  for (int r = 1; r <= rows; ++r) {
    for (int c = 1; c <= cols; ++c) text += (c > 1 ? " " : "") + number(f(r, c));
    text += "\n";
  }
  return text;
}

// A table row: the id in 6 characters, a description to character 86, then the values.
std::string id_row(const std::string& values) {
  std::string line = "     1 soil";
  line.resize(86, ' ');
  return line + values + "\n";
}

// The mapping-table file: a fine class (clay, 0.01 mm) and a sand class (0.3 mm), a soil of 30 %
// clay that the flow erodes, and the tracer: partition coefficient `kd` (L/kg) between the water
// and the suspended sediment, no dispersion, decay or exchange, the soil's mixing layer loaded
// with 1e11 (g/kg x 1000), a soil partition coefficient of `soil_kd` L/kg.
void write_tables(double kd, double soil_kd = 1.0) {
  std::string t = "TORVA_INDEX_MAP_TABLES\nINDEX_MAP case_soil.idx \"Soils\"\n";
  std::string clay = "clay", sand = "sand";
  clay.resize(40, ' ');
  sand.resize(40, ' ');
  t += "SEDIMENTS\nNUM_SED 2\nCLASS                                   SG   DIAM FBIND FILE\n";
  t += clay + "2.65 0.01 0.0 c1.out\n" + sand + "2.65 0.3 0.0 c2.out\n";
  t += "SOIL_EROSION_PROPS \"Soils\"\nNUM_IDS 1\nNUM_SED 2\n";
  t += "ID    DESCRIPTION                                  VALUES\n";
  t += id_row("60 2e-3 1 0 1 0.3 0.7");
  t += "CONTAMINANT_TRANSPORT Soils\nNUM_CONTAM 1\n\"tracer\" \"Soils\" \"tracer.out\"\n";
  t += "PRECIP_CONC 0\nPARTITION " + number(kd) + "\nNUM_IDS 1\n";
  t += "ID    DESCRIPTION                                  VALUES\n";
  t += id_row("0 0 0 1e11 0 0 " + number(soil_kd) + " 0");
  write_file("case_tables.cmt", t);
}

// A plane of 6 x 4 cells of 10 m falling 0.02 to the south and 0.002 to the east, under 120 mm/h
// for the whole 15 minutes, in steps of 5 s, on a Green and Ampt soil with a mixing layer of
// 10 cm carrying the tracer; `extra` cards are added. With `layered` the soil is instead a
// layered soil whose layer 1 (6 cm, porosity 0.43) is thinner than the mixing layer, so the
// tracer's top carrier is that layer, over a layer 2 of 20 cm (porosity 0.4).
void write_project(const std::string& extra, bool layered = false) {
  const int rows = 6, cols = 4;
  const double dx = 10.0;
  write_file("case_mask.asc", grid(rows, cols, dx, [](int, int) { return 1.0; }));
  write_file("case_elev.asc", grid(rows, cols, dx, [&](int r, int c) {
               return 10.0 + 0.02 * dx * (rows - r) + 0.002 * dx * (c - 1);
             }));
  write_file("case_soil.idx", grid(rows, cols, dx, [](int, int) { return 1.0; }));
  std::string t = "TORVAPROJECT\nWATERSHED_MASK case_mask.asc\nELEVATION case_elev.asc\n";
  t += "SUMMARY case_summary.out\nOUTLET_HYDRO case_outlet.out\n";
  t += "ROWS 6\nCOLS 4\nGRIDSIZE 10\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n";
  t += "TIMESTEP 5\nTOT_TIME 15\nOUTROW 6\nOUTCOL 1\nOUTSLOPE 0.02\n";
  t += "HYD_FREQ 1\nMANNING_N 0.05\nOVERTYPE explicit\nPRECIP_UNIF\n";
  t += "RAIN_INTENSITY 120\nRAIN_DURATION 15\n";
  t += "MAPPING_TABLE case_tables.cmt\nSOIL_EROSION 3\nSAND_SIZE 0.0625\nWATER_TEMP 20\n";
  t += "OUTLET_SED_FLUX case_sed_outlet.out\n";
  t += "OV_CON_TRANS\nSOIL_CON_TRANS\nMIXING_LAYER_DEPTH 0.1\nSEDIMENT_CONTAM\n";
  if (layered) {
    write_file("case_type.asc", grid(rows, cols, dx, [](int, int) { return 4.0; }));
    // Ks (cm/h), pore index, capillary head (cm), porosity, field capacity, wilting point,
    // residual and initial contents, thickness (cm).
    write_file("case_layers.txt",
               "1\n0\n4 layered loam\n0.05 0.22 16.7 0.43 0.3 0.1 0.03 0.15 6\n"
               "0.05 0.22 16.7 0.4 0.3 0.1 0.03 0.15 20\n0.05 0.22 16.7 0.4 0.3 0.1 0.03 0.15\n");
    write_file("case.prj", t +
                               "INF_LAYERED_SOIL\nSOIL_TYPE_MAP case_type.asc\n"
                               "SOIL_LAYER_INPUT_FILE case_layers.txt\n" +
                               extra);
    return;
  }
  t += "GREEN_AMPT\n";
  const std::pair<const char*, double> maps[] = {
      {"CONDUCTIVITY", 0.05}, {"CAPILLARY", 16.7}, {"POROSITY", 0.486}, {"MOISTURE", 0.1458}};
  for (const auto& [card, value] : maps) {
    const std::string file = std::string("case_") + card + ".asc";
    write_file(file, grid(rows, cols, dx, [v = value](int, int) { return v; }));
    t += std::string(card) + " " + file + "\n";
  }
  write_file("case.prj", t + extra);
}

// The number after the last line of the summary that starts with `label`.
double last_number(const std::string& text, const std::string& label) {
  const std::size_t at = text.rfind("\n" + label);
  if (at == std::string::npos) return std::nan("");
  return summary_number(text.substr(at + 1), label);
}

// The books of the run of the plane with the water-sediment partition coefficient kd.
struct books {
  double soil_init, soil_final, soil_infil, soil_uptake, soil_net;  // net: deposited - eroded
  double soil_seep;  // down to the groundwater (the layered soil's books only)
  double ov_init, ov_final, ov_precip, ov_uptake, ov_source, ov_infil, ov_out, ov_land;
  double attached, attached_out;
  double init, final_mass, rain, out;
};

books run_plane(double kd, const std::string& extra = "", bool layered = false) {
  write_tables(kd);
  write_project(extra, layered);
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "case.prj", [] { return read_file("case_summary.out"); });
  const std::string s = runs.outputs[1];
  books b{};
  b.soil_init = last_number(s, "Initial Mass in Soil Column");
  b.soil_final = last_number(s, "Final Mass in Soil Column");
  b.soil_infil = last_number(s, "Mass added by infiltration");
  b.soil_uptake = last_number(s, "Uptake from soil");
  b.soil_net = last_number(s, "Sediment eroded(-)/deposited");
  b.soil_seep = layered ? last_number(s, "Mass seepage down to GW") : 0.0;
  b.ov_init = last_number(s, "Initial Dissolved mass on ov");
  b.ov_final = last_number(s, "Final Dissolved mass on ov");
  b.ov_precip = last_number(s, "Precipitation mass gain");
  b.ov_uptake = last_number(s, "Uptake from soil");
  b.ov_source = last_number(s, "Sediment source");
  b.ov_infil = last_number(s, "Mass loss to infiltration");
  b.ov_out = last_number(s, "Outlet mass flux");
  b.ov_land = last_number(s, "Mass left on land by drying");
  b.attached = last_number(s, "Attached to susp sediments");
  b.attached_out = last_number(s, "Attached exiting watershed");
  b.init = last_number(s, "Total initial mass");
  b.final_mass = last_number(s, "Total final Mass");
  b.rain = last_number(s, "Precipitation inputs");
  b.out = last_number(s, "Total mass out of system");
  EXPECT_LT(std::fabs(last_number(s, "Soil mass balance error")), 1e-7) << s;
  return b;
}

// The tracer starts only in the soil (some 1e9 kg, printed to 0.01 kg): the flow erodes the clay
// with its sorbed share, carries it and lets part of it settle, the sediment leaving the outlet
// takes its bound tracer out of the system. Each set of books closes to the printed digits (some
// 1e-12 of the soil's initial mass): the soil (initial + infiltrated + deposited = final + taken up
// + eroded), the bound phase (eroded = deposited + attached now + attached out + what it gave the
// water), the water (initial + rain + what the soil and the sediment gave = final + infiltrated +
// out) and the whole system (initial = final + out). A larger partition coefficient keeps more of
// the tracer on the sediment; with none the sediment keeps nothing in the water it leaves behind.
TEST(SedContamCases, ErodedSoilCarriesItsSorbedTracerAndTheBooksClose) {
  temp_dir dir;
  double attached_share[2] = {};
  const double kds[] = {0.0, 2e5};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE("Kd " + number(kds[i]));
    const books b = run_plane(kds[i]);
    // Every figure is printed to 0.01 kg: a sum of up to six of them is good to 0.03 kg, some
    // 1e-12 of the soil's initial mass.
    const double tol = 0.03;
    EXPECT_GT(b.soil_init, 1e8);
    EXPECT_EQ(b.ov_init, 0.0);
    EXPECT_EQ(b.rain, 0.0);
    // Erosion took tracer with the sediment; part of it settled, part left with the sediment.
    const double eroded_minus_deposited = -b.soil_net;
    EXPECT_GT(eroded_minus_deposited, 1e3);
    EXPECT_GT(b.ov_source, 1e3);

    EXPECT_NEAR(b.soil_init + b.soil_infil + b.soil_net, b.soil_final + b.soil_uptake, tol);
    EXPECT_NEAR(eroded_minus_deposited, b.attached + b.attached_out + b.ov_source, tol);
    const double uptake = b.ov_uptake > 0.0 ? b.ov_uptake : 0.0;
    EXPECT_NEAR(b.ov_init + b.ov_precip + uptake + b.ov_source,
                b.ov_final + b.ov_infil + b.ov_out + b.ov_land + (uptake - b.ov_uptake), tol);
    EXPECT_NEAR(b.init + b.rain, b.final_mass + b.out, tol);
    EXPECT_NEAR(b.out, b.ov_out + b.attached_out, 0.011);
    attached_share[i] = b.attached / (b.attached + b.ov_final);
  }
  // Without sorption the water takes every gram the sediment brought (the last step's partition
  // leaves nothing on the sediment of the wet plane); with it a share stays bound.
  EXPECT_EQ(attached_share[0], 0.0);
  EXPECT_GT(attached_share[1], 0.01);
}

// The same plane over the layered soil: erosion takes the sorbed tracer of each cell's first
// carrier layer, the soil's 6 cm layer 1 of porosity 0.43, whose solids hold the load: 1e8 g/kg
// x 2650 kg/m3 x 0.06 m x 100 m2 x 0.57 x 24 cells = 2.17512e10 kg at the start. With and without
// partitioning onto the suspended sediment the books close as over the single-layer soil, the
// soil's with what its water carries down to the groundwater: initial + infiltrated + deposited
// = final + taken up + seeped + eroded, the bound phase's eroded = deposited + attached now +
// attached out + what it gave the water, and the whole system's initial = final + out.
TEST(SedContamCases, OverTheLayeredSoilTheErodedTopLayerCarriesItsTracerAndTheBooksClose) {
  temp_dir dir;
  const double kds[] = {0.0, 2e5};
  for (const double kd : kds) {
    SCOPED_TRACE("Kd " + number(kd));
    const books b = run_plane(kd, "", true);
    const double tol = 0.03;  // up to six figures printed to 0.01 kg
    EXPECT_NEAR(b.soil_init, 1e8 * 2650.0 * 0.06 * 100.0 * 0.57 * 24.0 / 1000.0, 0.01);
    EXPECT_EQ(b.ov_init, 0.0);
    EXPECT_EQ(b.rain, 0.0);
    const double eroded_minus_deposited = -b.soil_net;
    EXPECT_GT(eroded_minus_deposited, 1e3);
    EXPECT_GT(b.ov_source, 1e3);
    EXPECT_GE(b.soil_seep, 0.0);

    EXPECT_NEAR(b.soil_init + b.soil_infil + b.soil_net, b.soil_final + b.soil_uptake + b.soil_seep,
                tol);
    EXPECT_NEAR(eroded_minus_deposited, b.attached + b.attached_out + b.ov_source, tol);
    EXPECT_NEAR(b.init + b.rain, b.final_mass + b.out, tol);
  }
}

// What the soil loses per m3 of eroded clay, by hand. The single-layer soil's mixing layer
// (0.1 m, porosity 0.486, moisture 0.1458) holds M0 = 1e8 g/kg x 2650 kg/m3 x 0.1 m x 100 m2 x
// 0.514 = 1.3621e9 kg; with a soil partition coefficient Kd its water holds 0.1458 / (0.1458 +
// 0.8542 x 2.65 Kd) of it and its solids the rest, s (0.939488 at 1 L/kg, 0 at 0 L/kg), all on
// the layer's fine solids V = 0.1 x 100 x 0.514 x 0.3 = 1.542 m3. A m3 of clay taken up thus
// takes s M / V from the soil. On a single cell no face carries water, so every grain the outlet
// does not carry away settles in its step with its load (whatever the water's partition
// coefficient), and the soil keeps all but what the clay routed out took: M falls by s M / V per
// m3 out, so M0 (1 - exp(-s Vout / V)) leaves it, as the sediment's bound tracer out of the
// outlet. Over the plane of the cases above the soil loses several times s M / V per m3 of clay
// the parent soil lost, as it should: clay that settles is part of the layer again, and each time
// the flow lifts it, it takes the layer's share; when the water takes its load (Kd 0 on the plane)
// it settles clean and its next rise takes a fresh load.
TEST(SedContamCases, TheSoilLosesItsSorbedShareWithTheClayRoutedOut) {
  struct row {
    const char* what;
    double water_kd, soil_kd;
    double sorbed;  // s, by hand
  };
  const row rows[] = {
      {"no sorption in the water", 0.0, 1.0, 1.0 - 0.1458 / (0.1458 + 0.8542 * 2.65)},
      {"strong sorption in the water", 2e5, 1.0, 1.0 - 0.1458 / (0.1458 + 0.8542 * 2.65)},
      {"no sorption in the soil", 0.0, 0.0, 0.0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    temp_dir dir;
    write_tables(r.water_kd, r.soil_kd);
    const std::string one = grid(1, 1, 10.0, [](int, int) { return 1.0; });
    write_file("cell_mask.asc", one);
    write_file("case_soil.idx", one);
    write_file("cell_elev.asc", grid(1, 1, 10.0, [](int, int) { return 10.0; }));
    std::string t = "TORVAPROJECT\nWATERSHED_MASK cell_mask.asc\nELEVATION cell_elev.asc\n";
    t += "SUMMARY case_summary.out\nOUTLET_HYDRO case_outlet.out\nROWS 1\nCOLS 1\nGRIDSIZE 10\n";
    t += "START_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 5\nTOT_TIME 15\nOUTROW 1\nOUTCOL 1\n";
    t += "OUTSLOPE 0.05\nHYD_FREQ 1\nMANNING_N 0.05\nOVERTYPE explicit\nPRECIP_UNIF\n";
    t += "RAIN_INTENSITY 200\nRAIN_DURATION 15\nMAPPING_TABLE case_tables.cmt\nSOIL_EROSION 3\n";
    t += "SAND_SIZE 0.0625\nWATER_TEMP 20\nOUTLET_SED_FLUX case_sed_outlet.out\nOV_CON_TRANS\n";
    t += "SOIL_CON_TRANS\nMIXING_LAYER_DEPTH 0.1\nSEDIMENT_CONTAM\nGREEN_AMPT\n";
    const std::pair<const char*, double> maps[] = {
        {"CONDUCTIVITY", 0.05}, {"CAPILLARY", 16.7}, {"POROSITY", 0.486}, {"MOISTURE", 0.1458}};
    for (const auto& [card, value] : maps) {
      const std::string file = std::string("cell_") + card + ".asc";
      write_file(file, grid(1, 1, 10.0, [v = value](int, int) { return v; }));
      t += std::string(card) + " " + file + "\n";
    }
    write_file("cell.prj", t);
    const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
        "cell.prj", [] { return read_file("case_summary.out"); });
    const std::string s = runs.outputs[1];

    const double m0 = 1e8 * 2650.0 * 0.1 * 100.0 * 0.514 / 1000.0;  // kg
    const double fine_solids = 0.1 * 100.0 * 0.514 * 0.3;           // m3
    EXPECT_NEAR(last_number(s, "Initial Mass in Soil Column"), m0, 0.01);
    const double clay_out = last_number(s, "Total sediment 1 routed through outlet");
    EXPECT_GT(clay_out, 5e-4) << s;
    EXPECT_EQ(last_number(s, "Total sediment 1 remaining in suspension"), 0.0);
    const double lost =
        last_number(s, "Initial Mass in Soil Column") - last_number(s, "Final Mass in Soil Column");
    const double by_hand = m0 * (1.0 - std::exp(-r.sorbed * clay_out / fine_solids));
    // The clay out is printed to 1e-8 m3 (5e-6 of it) and the soil falls step by step rather
    // than continuously (some 2e-6 of the loss here).
    const double tol = 1e-5 * by_hand + 0.02;
    EXPECT_NEAR(lost, by_hand, tol) << s;
    EXPECT_NEAR(-last_number(s, "Sediment eroded(-)/deposited"), lost, 0.02);
    EXPECT_NEAR(last_number(s, "Attached exiting watershed"), lost, 0.02);
    if (r.sorbed > 0.0) {
      EXPECT_GT(lost, 1e5);
    }
    EXPECT_LT(std::fabs(last_number(s, "Soil mass balance error")), 1e-7) << s;
  }
}

// The frames of a binary map dataset of `positions` positions: the header of 15 integers and a
// 40-character name, then per frame the marker 200, the status flag, the time in minutes, a
// status per position and a double per position.
struct map_frame {
  double minutes = 0.0;
  std::vector<double> values;
};
std::vector<map_frame> binary_frames(const std::string& bytes, int positions) {
  std::vector<map_frame> frames;
  std::size_t at = 15 * 4 + 40;
  const std::size_t frame_size = 4 + 2 + 8 + 2 * positions + 8 * positions;
  while (at + frame_size <= bytes.size()) {
    map_frame f;
    std::memcpy(&f.minutes, bytes.data() + at + 6, 8);
    const char* v = bytes.data() + at + 14 + 2 * positions;
    f.values.resize(positions);
    for (int k = 0; k < positions; ++k) std::memcpy(&f.values[k], v + 8 * k, 8);
    frames.push_back(f);
    at += frame_size;
  }
  return frames;
}

// Linear equilibrium at the end of the run, by hand from the maps of the last step: every cell's
// bound tracer is K Cs times its dissolved mass, K = Kd / 1e6 and Cs = 2.65 x 998.2 x 1000 g/m3 x
// its suspended clay volume V over its water W, so the plane holds K x 2645230 x sum(V c) g on its
// sediment, c the cell's dissolved concentration. The maps hold V (VOL_SED_SUSP, the first
// class) and c (the tracer's concentration map) as doubles; the summary prints the bound mass
// ("Attached to susp sediments") to 0.01 kg. Steps of 60 s put the last map frame (every minute
// after the first step) at the end of the run.
TEST(SedContamCases, TheSedimentHoldsTheKdEquilibriumShareOfEachCellsTracer) {
  temp_dir dir;
  const double kd = 2e5;
  const books b = run_plane(
      kd, "ALL_CONTAM_OUTPUT\nVOL_SED_SUSP case_susp\nMAP_FREQ 1\nMAP_TYPE 2\nTIMESTEP 60\n");
  const std::vector<map_frame> suspended = binary_frames(read_file("case_susp"), 24);
  const std::vector<map_frame> conc = binary_frames(read_file("tracer.out.conc"), 24);
  ASSERT_EQ(suspended.size(), 16u);  // minutes 0 to 15
  ASSERT_EQ(conc.size(), suspended.size());
  ASSERT_EQ(conc.back().minutes, 15.0);
  double sum = 0.0;
  int carrying = 0;
  for (int k = 0; k < 24; ++k) {
    sum += suspended.back().values[k] * conc.back().values[k];
    if (suspended.back().values[k] > 0.0 && conc.back().values[k] > 0.0) ++carrying;
  }
  EXPECT_GT(carrying, 12);
  const double by_hand = kd / 1e6 * 2.65 * 998.2 * 1000.0 * sum / 1000.0;  // kg
  EXPECT_GT(by_hand, 1e3);
  EXPECT_NEAR(b.attached, by_hand, 0.005 + 1e-12 * by_hand);
}

// A channel under the plane's first column: one trapezoidal link (1 m wide at the bottom, side
// slopes of 1, n = 0.03) of one node per cell, its bed 0.3 m under the ground, falling south
// with the plane to the outlet cell; every node starts 5 cm deep.
std::string write_channel() {
  const int rows = 6;
  auto ground = [](int r) { return 10.0 + 0.02 * 10.0 * (rows - r); };
  std::string chn =
      "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES 7\nCONNECT 1 0 0\n\n"
      "LINK 1\nNODES 7\nDX 10\nTRAPEZOID\nMANNINGS_N 0.03\n";
  for (int n = 1; n <= rows + 1; ++n) {
    chn += "NODE " + std::to_string(n) + "\nELEV " + number(ground(n) + 0.1 - 0.3) + "\n";
    if (n == 1) chn += "XSEC\nBOTTOM_WIDTH 1.0\nSIDE_SLOPE 1.0\nBANKFULL_DEPTH 0.5\n";
  }
  write_file("case.chn", chn);
  std::string gst = "GRIDSTREAMFILE\nSTREAMCELLS " + std::to_string(rows) + "\n";
  std::string hot;
  for (int r = 1; r <= rows; ++r) {
    gst += "CELLIJ " + std::to_string(r) + " 1\nNUMNODES 1\nLINKNODE 1 " + std::to_string(r) +
           " 1.0\n";
    hot += std::to_string(r) + " 1 " + number(ground(r) - 0.3 + 0.05) + "\n";
  }
  write_file("case.gst", gst);
  write_file("case.hot", hot);
  return "CHAN_EXPLIC\nCHANNEL_INPUT case.chn\nSTREAM_CELL case.gst\nREAD_CHAN_HOTSTART case.hot\n"
         "CHAN_CON_TRANS\n";
}

// The plane of the first case drains into the channel: the stream cells hand their suspended
// clay with its bound tracer to their nodes, the wash load carries it down the link and out of
// the outlet node, and the nodes share it between their water and their wash load (0.5 L/kg).
// Every set of books closes to the printed digits: the plane's bound phase (eroded = deposited +
// attached now + attached out + given to the water + handed to the channels), the channels'
// bound phase (handed over = attached now + out + given to the channel water), the channels'
// water and the whole system (initial = final + out); 1 and 8 threads write the same bytes.
TEST(SedContamCases, TheWashLoadCarriesTheBoundTracerThroughTheChannels) {
  temp_dir dir;
  const books b = run_plane(2e5, write_channel());
  const std::string s = read_file("case_summary.out");
  const double tol = 0.03;
  const double handed = last_number(s, "Attached handed to channels");
  const double from_overland = last_number(s, "Attached from overland");
  const double in_channels = last_number(s, "Attached to channel sediments");
  const double out = last_number(s, "Attached exiting at outlet");
  const double released = last_number(s, "Released to channel water");
  EXPECT_GT(handed, 1e3) << s;
  EXPECT_EQ(handed, from_overland);
  EXPECT_GT(out + released, 0.5 * handed) << s;
  EXPECT_GT(out, 0.1 * handed) << s;  // the wash load carried some out of the outlet node
  EXPECT_NEAR(handed, in_channels + out + released, tol) << s;
  EXPECT_LT(std::fabs(last_number(s, "Attached mass balance error")), 1e-7) << s;
  EXPECT_NEAR(-b.soil_net, b.attached + b.attached_out + b.ov_source + handed, tol) << s;
  // The channel water took what the wash load released with the rest of its books.
  EXPECT_EQ(last_number(s, "Gain from channel sediments"), released);
  EXPECT_LT(std::fabs(last_number(s, "Dissolved mass balance error")), 1e-7) << s;
  EXPECT_NEAR(b.init + b.rain, b.final_mass + b.out, tol) << s;
  const torva_test::summary_balance w = torva_test::read_summary_balance(s);
  EXPECT_LT(std::fabs(w.run_overall_error), 1e-6);
}

// The same plane and channel without channel constituents: the channels carry none, so the bound
// tracer the stream cells' suspended clay hands them leaves the books there, as the dissolved
// tracer the water hands them does. The plane's bound phase closes with what it handed over
// (eroded = deposited + attached now + attached out + given to the water + handed to the
// channels), the whole system counts both hand-offs as gone out (initial + rain = final + out,
// the out made of the outlet's dissolved and bound flux and the two losses to the stream), and
// no channel books are written.
TEST(SedContamCases, WithoutChannelConstituentsTheBoundTracerIsLostToTheStream) {
  temp_dir dir;
  std::string cards = write_channel();
  const std::size_t at = cards.find("CHAN_CON_TRANS\n");
  ASSERT_NE(at, std::string::npos);
  cards.erase(at);
  const books b = run_plane(2e5, cards);
  const std::string s = read_file("case_summary.out");
  const double tol = 0.03;
  const double handed = last_number(s, "Attached handed to channels");
  const double to_stream = last_number(s, "Mass loss to stream");
  EXPECT_GT(handed, 1e3) << s;
  EXPECT_GT(to_stream, 0.0) << s;
  EXPECT_FALSE(contains(s, "Channel Contaminant Transport Summary")) << s;
  EXPECT_NEAR(-b.soil_net, b.attached + b.attached_out + b.ov_source + handed, tol) << s;
  EXPECT_NEAR(b.out, b.ov_out + b.attached_out + handed + to_stream, tol) << s;
  EXPECT_NEAR(b.init + b.rain, b.final_mass + b.out, tol) << s;
  EXPECT_LT(std::fabs(last_number(s, "Contam mass balance error")), 1e-7) << s;
}

// A pit of 2 x 2 cells (rows 3 and 4, columns 2 and 3) 0.4 m and more below the plane, its floor
// at 10.0 m, holds an overland lake whose surface starts at 10.1 m (40 m3). The eroded clay from
// the slope above runs into the lake with its bound tracer; the lake holds it in suspension,
// settles part of it onto its bed with its bound share, and shares its tracer between its water
// and its clay. Every set of books closes to the printed digits: the plane's bound phase (eroded =
// deposited + attached now + attached out + given to the water + handed to the lake), the lake's
// bound phase (handed over = attached now + settled + given to the lake's water), the lake's
// water and the whole system (initial = final + out).
TEST(SedContamCases, AnOverlandLakeHoldsAndSettlesTheBoundTracerItsSedimentBrings) {
  temp_dir dir;
  const int rows = 6, cols = 4;
  auto pit = [](int r, int c) { return r >= 3 && r <= 4 && c >= 2 && c <= 3; };
  write_file("case_lake.asc",
             grid(rows, cols, 10.0, [&](int r, int c) { return pit(r, c) ? 1.0 : 0.0; }));
  write_file("case_lake.txt", "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 10.1 40.0\n");
  write_tables(2e5);
  write_project("OVERLAND_LAKE_MAP case_lake.asc\nOVERLAND_LAKE_FILE case_lake.txt\n");
  std::string elev = read_file("case_elev.asc");
  write_file("case_elev.asc", grid(rows, cols, 10.0, [&](int r, int c) {
               return pit(r, c) ? 10.0 : 10.0 + 0.02 * 10.0 * (rows - r) + 0.002 * 10.0 * (c - 1);
             }));
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "case.prj", [] { return read_file("case_summary.out"); });
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;
  const std::string s = runs.outputs[1];
  const double tol = 0.03;
  const double eroded_net = -last_number(s, "Sediment eroded(-)/deposited");
  const double handed = last_number(s, "Attached handed to ov lakes");
  const double from_overland = last_number(s, "Attached from overland");
  const double in_lake = last_number(s, "Attached to lake sediments");
  const double settled = last_number(s, "Attached settled in lakes");
  const double released = last_number(s, "Gain from lake sediments");
  EXPECT_GT(eroded_net, 1e3) << s;
  EXPECT_GT(handed, 1e3) << s;
  EXPECT_EQ(handed, from_overland);
  EXPECT_GT(settled, 0.01 * handed) << s;
  EXPECT_GT(in_lake, 0.01 * handed) << s;
  EXPECT_NEAR(handed, in_lake + settled + released, tol) << s;
  EXPECT_NEAR(eroded_net,
              last_number(s, "Attached to susp sediments") +
                  last_number(s, "Attached exiting watershed") + last_number(s, "Sediment source") +
                  handed,
              tol)
      << s;
  EXPECT_LT(std::fabs(last_number(s, "Overland lake mass balance error")), 1e-7) << s;
  EXPECT_LT(std::fabs(last_number(s, "Soil mass balance error")), 1e-7) << s;
  EXPECT_NEAR(last_number(s, "Total initial mass") + last_number(s, "Precipitation inputs"),
              last_number(s, "Total final Mass") + last_number(s, "Total mass out of system"), tol)
      << s;
  EXPECT_LT(std::fabs(last_number(s, "Contam mass balance error")), 1e-7) << s;
}

// The lake example (a valley head link into a channel lake that empties through a culvert into
// the outlet link; 10 x 12 cells of 30 m) under its storm of 50 mm/h for 20 minutes, its soil
// eroding with the sorbed tracer of the first case (Kd 2e5 L/kg on the sediment): the head link's
// wash load and the clay running over the lake's shores bring their bound tracer into the lake,
// which holds it on its wash load, settles part of it with that onto its bed, shares the rest
// with its water and passes some on through the culvert. Every set of books closes to the printed
// digits: the plane's bound phase (eroded = deposited + attached now + attached out + given to
// the water + handed to the channels and to the lake), the channels' and the lake's bound phase
// together (handed over = attached in channels and lake + out + settled + given to their water),
// the lake's water and the whole system (initial = final + out).
TEST(SedContamCases, AChannelLakeHoldsSettlesAndPassesOnTheBoundTracer) {
  temp_dir dir;
  const std::string example = std::string(TORVA_SOURCE_DIR) + "/examples/lake";
  for (const char* name :
       {"lake.chn", "lake.gst", "lake_mask.asc", "lake_elev.asc", "lake_conductivity.asc",
        "lake_capillary.asc", "lake_porosity.asc", "lake_moisture.asc", "lake_hyd_locations.txt"})
    write_file(name, read_file(example + "/" + name));
  write_file("case_soil.idx", grid(10, 12, 30.0, [](int, int) { return 1.0; }));
  write_tables(2e5);
  std::string prj = read_file(example + "/lake.prj");
  for (const auto& [from, to] :
       {std::pair<std::string, std::string>{"TOT_TIME           180", "TOT_TIME           20"},
        std::pair<std::string, std::string>{"MAP_TYPE           1\n", ""}}) {
    const std::size_t at = prj.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    prj.replace(at, from.size(), to);
  }
  write_file("lake.prj",
             prj +
                 "MAPPING_TABLE case_tables.cmt\nSOIL_EROSION 3\nSAND_SIZE 0.0625\n"
                 "WATER_TEMP 20\nOV_CON_TRANS\nSOIL_CON_TRANS\nMIXING_LAYER_DEPTH 0.1\n"
                 "SEDIMENT_CONTAM\nCHAN_CON_TRANS\nOUTLET_SED_FLUX lake_sed_outlet.out\n");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "lake.prj", [] { return read_file("lake_summary.out"); });
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;
  const std::string s = runs.outputs[1];
  const double tol = 0.05;
  const double eroded_net = -last_number(s, "Sediment eroded(-)/deposited");
  const double to_channels = last_number(s, "Attached handed to channels");
  const double to_lakes = last_number(s, "Attached handed to lakes");
  const double in_channels = last_number(s, "Attached to channel sediments");
  const double out = last_number(s, "Attached exiting at outlet");
  const double released = last_number(s, "Released to channel water");
  const double in_lake = last_number(s, "Attached to lake sediments");
  const double settled = last_number(s, "Attached settled in lakes");
  const double lake_released = last_number(s, "Released to lake water");
  EXPECT_GT(eroded_net, 1e3) << s;
  EXPECT_GT(to_channels, 0.0) << s;
  EXPECT_GT(to_lakes, 0.0) << s;
  EXPECT_EQ(last_number(s, "Attached from overland to lakes"), to_lakes);
  EXPECT_GT(settled, 0.0) << s;
  EXPECT_GT(in_lake, 0.0) << s;
  EXPECT_EQ(last_number(s, "Gain from lake sediments"), lake_released);
  EXPECT_NEAR(eroded_net,
              last_number(s, "Attached to susp sediments") +
                  last_number(s, "Attached exiting watershed") + last_number(s, "Sediment source") +
                  to_channels + to_lakes,
              tol)
      << s;
  EXPECT_NEAR(to_channels + to_lakes,
              in_channels + out + released + in_lake + settled + lake_released, tol)
      << s;
  EXPECT_LT(std::fabs(last_number(s, "Attached mass balance error")), 1e-7) << s;
  EXPECT_LT(std::fabs(last_number(s, "Lake mass balance error")), 1e-7) << s;
  EXPECT_LT(std::fabs(last_number(s, "Dissolved mass balance error")), 1e-7) << s;
  EXPECT_NEAR(last_number(s, "Total initial mass") + last_number(s, "Precipitation inputs"),
              last_number(s, "Total final Mass") + last_number(s, "Total mass out of system"), tol)
      << s;
  EXPECT_LT(std::fabs(last_number(s, "Contam mass balance error")), 1e-7) << s;
  // The run is one event: the event summary's lake books give the run's lake figures, the
  // bound phase's share of the lakes included, and its printed lines close.
  const torva_test::lake_event_section e = torva_test::read_lake_event_section(s, "tracer");
  ASSERT_TRUE(e.found) << s;
  EXPECT_NEAR(e.init, last_number(s, "Initial Mass in Lakes"), 0.01) << s;
  EXPECT_NEAR(e.final_mass, last_number(s, "Final Mass in Lakes"), 0.01) << s;
  EXPECT_NEAR(e.with_attached, lake_released, 0.01) << s;
  EXPECT_NEAR(e.with_dissolved, -lake_released, 0.01) << s;
  EXPECT_NEAR(e.attached_in, to_lakes, 0.01) << s;
  EXPECT_NEAR(e.attached_final, in_lake, 0.01) << s;
  EXPECT_NEAR(e.settled, settled, 0.01) << s;
  EXPECT_NEAR(torva_test::lake_event_imbalance(e), 0.0, tol) << s;
  EXPECT_LT(std::fabs(e.error), 1e-7) << s;
  // The lake's own bound books name what the channels' wash load carried in (the head link's,
  // net of what the culvert passed on: here the culvert passes on more than the link brings, as
  // the lake also holds what its shores took in): the run's and the event's figures agree, and
  // with it the lake's bound phase closes by itself (initial + from the plane + from the
  // channels = attached now + settled + given to the water), and so do the channels' (handed
  // over by the plane = attached now + out + given to the water + handed to the lake).
  const double from_channels = last_number(s, "Attached from channels");
  EXPECT_GT(std::fabs(from_channels), 1.0) << s;
  EXPECT_NEAR(e.attached_from_channels, from_channels, 0.01) << s;
  EXPECT_NEAR(e.attached_init + e.attached_in + e.attached_from_channels,
              e.attached_final + e.settled - e.with_dissolved, tol)
      << s;
  EXPECT_NEAR(to_channels, in_channels + out + released + from_channels, tol) << s;
}

// The bound phase needs what carries it: the run stops at start-up saying what the card needs
// when the soil column, the erosion or the overland transport is missing.
TEST(SedContamCases, SedimentBoundTracerWithoutWhatCarriesItStopsTheRun) {
  struct bad_case {
    const char* what;
    const char* remove;  // the card taken out of the project
    const char* message;
  };
  const bad_case cases[] = {
      {"no erosion", "SOIL_EROSION 3\n",
       "Error: SEDIMENT_CONTAM needs overland erosion (SOIL_EROSION): the bound phase rides on the "
       "overland sediment.\n"},
      {"no soil column", "SOIL_CON_TRANS\n",
       "Error: SEDIMENT_CONTAM needs overland and soil contaminant transport (OV_CON_TRANS and "
       "SOIL_CON_TRANS): the bound phase comes from the soil column's sorbed mass and joins the "
       "overland constituents.\n"},
  };
  for (const bad_case& b : cases) {
    SCOPED_TRACE(b.what);
    temp_dir dir;
    write_tables(10.0);
    write_project("");
    std::string prj = read_file("case.prj");
    const std::size_t at = prj.find(b.remove);
    ASSERT_NE(at, std::string::npos);
    prj.erase(at, std::string(b.remove).size());
    write_file("case.prj", prj);
    const torva_test::command_result r = torva_test::run_with_threads("case.prj", 1);
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(contains(r.out, b.message)) << r.out;
    EXPECT_FALSE(contains(r.out, "is not supported")) << r.out;
    EXPECT_FALSE(contains(r.out, "Running....")) << r.out;
  }
}

}  // namespace sed_contam_cases_tests
