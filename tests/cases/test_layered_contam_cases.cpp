// Constituents over the layered soil end to end, run by the real torva executable on small grids
// written by the tests: a tracer rained and ponded onto a plane whose wetting front passes the
// soil's two layers, so that the draining water carries it from the mixing layer down through
// the carrier layers and out of the column, keeps every gram in the books; the mixing depth
// chooses two or three carrier layers per cell, which the soil's initial mass shows; and the
// nutrient species and pools over the layered soil keep their nitrogen and phosphorus; over
// Richards columns, which carry no constituent layers, the overland tracer leaves the water with
// the depth the columns take in. Every run is made on 1 and 8 threads, which must write the same
// bytes.
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

constexpr double phi1 = 0.45;  // porosity of the soil's layer 1
constexpr double phi2 = 0.40;  // and of its layer 2

// A plane of rows x cols cells of dx m falling 0.01 to the south and 0.001 to the east, ponded
// to `head` m, under `rain` mm/h for the whole run of `minutes` in steps of `step` s, on a
// layered soil of one type: layers 1 and 2 of `h1` and `h2` cm with the porosities phi1 and
// phi2, conducting `ks` cm/h, with a capillary head of 10 cm and a water content of 0.15 at the
// start. `extra` adds cards.
struct plane {
  int rows = 2, cols = 3;
  double dx = 10.0;
  double head = 10.05;
  double rain = 20.0;
  double minutes = 20.0;
  double step = 5.0;
  double h1 = 3.0, h2 = 4.0;
  double ks = 5.0;
  double p2 = phi2;
  std::string outlet_cards = "OUTSLOPE 0.01\nMANNING_N 0.05\n";

  double ground(int r, int c) const { return 10.0 - 0.01 * dx * r - 0.001 * dx * c; }

  std::string grid(const std::function<double(int, int)>& f) const {
    std::string text = torva_test::grid_header(rows, cols, dx);
    for (int r = 1; r <= rows; ++r) {
      for (int c = 1; c <= cols; ++c) text += (c > 1 ? " " : "") + number(f(r, c));
      text += "\n";
    }
    return text;
  }

  void write(const std::string& extra) const {
    write_file("lc_mask.asc", grid([](int, int) { return 1.0; }));
    write_file("lc_elev.asc", grid([this](int r, int c) { return ground(r, c); }));
    write_file("lc_soil.idx", grid([](int, int) { return 1.0; }));
    write_file("lc_type.asc", grid([](int, int) { return 4.0; }));
    // Columns: Ks (cm/h), pore index, capillary head (cm), porosity, field capacity, wilting
    // point, residual and initial contents, thickness (cm).
    const std::string k = number(ks) + " 0.22 10 ";
    write_file("lc_layers.txt", "1\n0\n4 layered loam\n" + k + number(phi1) +
                                    " 0.3 0.1 0.03 0.15 " + number(h1) + "\n" + k + number(p2) +
                                    " 0.3 0.1 0.03 0.15 " + number(h2) + "\n" + k + number(p2) +
                                    " 0.3 0.1 0.03 0.15\n");
    std::string t = "TORVAPROJECT\nWATERSHED_MASK lc_mask.asc\nELEVATION lc_elev.asc\n";
    t += "SUMMARY lc_summary.out\nOUTLET_HYDRO lc_outlet.out\n";
    t += "ROWS " + std::to_string(rows) + "\nCOLS " + std::to_string(cols) + "\n";
    t += "GRIDSIZE " + number(dx) + "\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n";
    t += "TIMESTEP " + number(step) + "\nTOT_TIME " + number(minutes) + "\n";
    t += "OUTROW " + std::to_string(rows) + "\nOUTCOL 1\n" + outlet_cards;
    t += "HYD_FREQ 1\nOVERTYPE explicit\nPRECIP_UNIF\n";
    t += "RAIN_INTENSITY " + number(rain) + "\nRAIN_DURATION " + number(minutes) + "\n";
    t += "INIT_ELEV_HEAD " + number(head) + "\n";
    t += "INF_LAYERED_SOIL\nSOIL_TYPE_MAP lc_type.asc\nSOIL_LAYER_INPUT_FILE lc_layers.txt\n";
    t += "MAPPING_TABLE lc_tables.cmt\nOV_CON_TRANS\nSOIL_CON_TRANS\n" + extra;
    write_file("lc.prj", t);
  }
};

// The mapping-table file with the CONTAMINANT_TRANSPORT table of one tracer: rain
// concentration 1e9 g/m3, and for id 1 the dispersion 0.5 m2/s, no decay, the water-soil
// exchange rate `uptake` per day, the land load `load` (g/kg x 1000), no groundwater
// concentration, the water's initial `water_conc` g/m3, the soil partition coefficient `kd` L/kg
// and no land concentration.
void write_tracer_table(double load, double kd, double uptake = 1.0, double water_conc = 1e9) {
  std::string row = "     1 soil";
  row.resize(86, ' ');
  write_file("lc_tables.cmt",
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP lc_soil.idx \"Soils\"\n"
             "CONTAMINANT_TRANSPORT Soils\nNUM_CONTAM 1\n\"tracer\" \"Soils\" \"tracer.out\"\n"
             "PRECIP_CONC 1e9\nPARTITION 1\nNUM_IDS 1\n"
             "ID    DESCRIPTION                                  VALUES\n" +
                 row + "0.5 0 " + number(uptake) + " " + number(load) + " 0 " + number(water_conc) +
                 " " + number(kd) + " 0\n");
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
  plane().write("MIXING_LAYER_DEPTH 0.01\n");
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

// The mixing depth chooses the carrier layers of each cell: three, with the mixing layer on top,
// when it is above 0 and thinner than the soil type's layer 1; else two, the soil's own layers,
// with layer 1 whole on top. The soil's initial mass is the land load in the top carrier:
// load x thickness x area x 2650 kg/m3 x (1 - porosity of layer 1), by hand.
TEST(LayeredContamCases, TheMixingDepthChoosesTwoOrThreeCarrierLayers) {
  struct row {
    const char* what;
    const char* cards;
    double h1;     // cm: the soil type's layer 1
    double top_m;  // the top carrier's thickness by hand
  };
  const row rows[] = {
      {"a mixing layer inside layer 1: three carriers", "MIXING_LAYER_DEPTH 0.01\n", 3.0, 0.01},
      {"no mixing depth: the soil's two layers", "", 3.0, 0.03},
      {"a mixing layer as deep as layer 1: two", "MIXING_LAYER_DEPTH 0.03\n", 3.0, 0.03},
      {"a mixing layer below layer 1: two", "MIXING_LAYER_DEPTH 0.05\n", 3.0, 0.03},
  };
  const double load = 1e6;
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    temp_dir dir;
    write_tracer_table(load, 0.5);
    plane p;
    p.minutes = 1.0;
    p.h1 = r.h1;
    p.write(r.cards);
    const std::string s = run_both();
    const double cells = 6.0, area = 100.0;
    const double by_hand = cells * load * r.top_m * area * 2650.0 * (1.0 - phi1) / 1e6;  // kg
    EXPECT_NEAR(last_number(s, "Initial Mass in Soil Column"), by_hand, 1e-9 * by_hand) << s;
    EXPECT_LT(std::fabs(last_number(s, "Soil mass balance error")), 1e-6) << s;
  }

  // A soil type whose layer 1 has no depth leaves no carrier on top: the run stops at start-up
  // naming the file, the soil and the layer.
  temp_dir dir;
  write_tracer_table(load, 0.5);
  plane p;
  p.minutes = 1.0;
  p.h1 = 0.0;
  p.write("MIXING_LAYER_DEPTH 0.01\n");
  const torva_test::command_result r = torva_test::run_with_threads("lc.prj", 1);
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(torva_test::contains(r.out,
                                   "Error: soil id 4 of the soil layer file in lc_layers.txt "
                                   "(line 4) has a layer 1 thickness of 0; a layer thickness "
                                   "must be above 0\n"))
      << r.out;
}

// One cell of 100 m ponded 1 m deep (held by an outlet of almost no slope) over a soil whose
// layers are alike, two of 0.5 cm over the rest, of porosity 0.45 and water content 0.15
// (deficit 0.30), conducting 5 cm/h with a capillary head of 10 cm, without a mixing depth: two
// carrier layers, the soil's own. Only layer 1 holds the tracer at the start; nothing comes from
// the water (no tracer in it, no exchange, next to no rain). Two infiltration steps of 30 s:
// the water fills the layers' deficits from the top, and what layer 1 cannot hold drains into
// layer 2 and carries layer 1's pore water with it; in the second step water drains out of
// layer 2 too, with the tracer it received. By hand: each step's Green and Ampt depth Fn from
// Fn - F - M ln((M + Fn)/(M + F)) = K dt (M = deficit x capillary head), the depth taken in
// F += (M / Fn + 1) K dt, the drainage out of layer 1 F - 0.5 x 0.30 and out of layer 2
// F - 1.0 x 0.30 (cm, since the run began), the layers' water contents (layer 2 not yet full
// after the first step), the share in the pore water fd = theta / (theta + (1 - theta) x Kd x
// 2.65), and each layer gives mass x fd x its drained water / its water.
TEST(LayeredContamCases, DrainageCarriesTheTopLayersPoreWaterIntoTheLayerBelowByHand) {
  temp_dir dir;
  const double load = 1e6, kd = 5.0;
  write_tracer_table(load, kd, 0.0, 0.0);
  plane p;
  p.rows = p.cols = 1;
  p.dx = 100.0;
  p.head = p.ground(1, 1) + 1.0;
  p.rain = 1e-6;  // a run needs rain: this brings a few micrograms of the tracer
  p.minutes = 1.0;
  p.step = 30.0;
  p.h1 = p.h2 = 0.5;
  p.p2 = phi1;
  p.outlet_cards = "OUTSLOPE 0.000001\nMANNING_N 0.5\n";
  p.write("");
  const std::string s = run_both();

  // The depths taken in by the two steps (cm); the Green and Ampt relation by bisection.
  const double deficit = phi1 - 0.15, M = deficit * 10.0, kdt = 5.0 * 30.0 / 3600.0;
  auto step = [&](double F) {
    double lo = F, hi = F + 10.0;
    for (int i = 0; i < 200; ++i) {
      const double f = 0.5 * (lo + hi);
      (f - F - M * std::log((M + f) / (M + F)) > kdt ? hi : lo) = f;
    }
    return F + (M / (0.5 * (lo + hi)) + 1.0) * kdt;
  };
  const double F1 = step(0.0), F2 = step(F1);
  const double room = 0.5 * deficit;  // cm: what each layer takes in
  ASSERT_GT(F1, room);
  ASSERT_LT(F1, 2.0 * room);  // after the first step layer 2 is not full yet
  ASSERT_GT(F2, 2.0 * room);  // in the second water drains out of it
  const double area = 1e4;
  const double infiltrated = last_number(s, "Total amount of infiltration=");
  EXPECT_NEAR(infiltrated, F2 / 100.0 * area, 1e-3 * infiltrated) << s;

  auto fd = [&](double theta) { return theta / (theta + (1.0 - theta) * kd * 2.65); };
  const double full = phi1 * 0.5;                               // cm of water in a full layer
  const double m0 = load * 0.005 * area * 2.65 * (1.0 - phi1);  // g in layer 1
  // Step 1: layer 1 (full) drains F1 - room into layer 2, which holds nothing yet.
  const double down1 = m0 * fd(phi1) * (F1 - room) / full;
  double layer1 = m0 - down1, layer2 = down1;
  // Step 2: F2 - F1 drains out of layer 1 and F2 - 2 room out of layer 2, both full now.
  const double down2 = layer1 * fd(phi1) * (F2 - F1) / full;
  const double out2 = layer2 * fd(phi1) * (F2 - 2.0 * room) / full;
  layer1 -= down2;
  layer2 += down2 - out2;
  EXPECT_GT(down1, 0.01 * m0);
  EXPECT_GT(out2, 1e-4 * m0);
  const double seep = out2 / 1000.0, soil = (layer1 + layer2) / 1000.0;  // kg
  EXPECT_NEAR(last_number(s, "Mass seepage down to GW"), seep, 2e-3 * seep) << s;
  EXPECT_NEAR(last_number(s, "Final Mass in Soil Column"), soil, 1e-5 * soil) << s;
  EXPECT_NEAR(last_number(s, "Initial Mass in Soil Column"), m0 / 1000.0, 1e-9 * m0 / 1000.0);
}

// The number after the first line of `text` from `after` on that starts with `label`.
double number_after(const std::string& text, const std::string& after, const std::string& label) {
  const std::size_t from = text.find(after);
  if (from == std::string::npos) return std::nan("");
  const std::size_t at = text.find("\n" + label, from);
  if (at == std::string::npos) return std::nan("");
  return summary_number(text.substr(at + 1), label);
}

// The nutrient species and pools over the rained-on plane of the first case with its three
// carrier layers: NO3 starts at 200 g/m3 in the water, NH4 and ON at 50 and 100, NO2 at 10, DP at
// 30; the rain brings NO2 5, NO3 150 and NH4 40 g/m3; the soil's top layer holds, per cell,
// 2 kg of ammonium, 4 kg of nitrate and 1 kg of organic active nitrogen, 1 kg of solution
// phosphorus and 0.5 kg of organic active phosphorus, released into the water at 5 per day, and
// takes what infiltrates. Nothing transforms the species, so nitrogen and phosphorus keep their
// books: in = out + stored to 1e-9, with the soil's initial pools as given by hand.
TEST(LayeredContamCases, NutrientsOverTheLayeredSoilKeepTheirNitrogenAndPhosphorus) {
  temp_dir dir;
  const plane p;
  write_file("lc_env.idx", p.grid([](int, int) { return 1.0; }));
  write_file("lc_env.txt",
             "AQUATIC_ENV_NSM10\nOV_MAP lc_env.idx\nNUM_IDS 1\nID heading\n1\nDEFAULT\n");
  auto table = [](const std::string& keyword, const std::string& values,
                  const std::string& precip = "") {
    return keyword + " Land\nNUM_IDS 1\n" + precip + torva_test::table_column_header +
           torva_test::table_row(1, values);
  };
  write_file("lc_tables.cmt", torva_test::table_file_magic + "INDEX_MAP lc_soil.idx Land\n" +
                                  table("NSM_N", "10 250 50 100", "PRECIP_CONC 5 150 40 0\n") +
                                  table("NSM_SOIL_N", "2 4 1 0 0") +
                                  table("NSM_SOIL_P", "0 1 0 0.5 0 0"));
  p.write(
      "MIXING_LAYER_DEPTH 0.01\nNUTRIENTS\nAQ_ENV lc_env.txt\nWATER_TEMP 20\nCHAN_PH 7.5\n"
      "OV_UPTAKE_RATE 5\nOV_INIT_NO2\nOV_INIT_NO3 200\nOV_INIT_NH4\nOV_INIT_ON\nOV_INIT_DP 30\n"
      "SOILS_NSM_N\nSOILS_NSM_P\n");
  // The nutrient sub-model carries its species without the constituent card.
  std::string project = read_file("lc.prj");
  project.erase(project.find("OV_CON_TRANS\n"), 13);
  write_file("lc.prj", project);
  const std::string s = run_both();
  struct element {
    const char* books;
    double soil_init;  // kg, by hand: per cell 7 kg of nitrogen, 1.5 kg of phosphorus
  };
  const element elements[] = {{"Nutrient nitrogen books", 6 * 7.0},
                              {"Nutrient phosphorus books", 6 * 1.5}};
  for (const element& e : elements) {
    SCOPED_TRACE(e.books);
    const double water_init = number_after(s, e.books, "Initial mass in water");
    const double soil_init = number_after(s, e.books, "Initial mass in soil pools");
    const double rain = number_after(s, e.books, "Precipitation mass gain");
    const double restored = number_after(s, e.books, "Mass restored to emptied cells");
    const double out = number_after(s, e.books, "Outlet mass flux");
    const double water = number_after(s, e.books, "Final mass in water");
    const double soil = number_after(s, e.books, "Final mass in soil");
    EXPECT_NEAR(soil_init, e.soil_init, 1e-12 * e.soil_init);
    EXPECT_GT(water_init, 0.0);
    EXPECT_GT(out, 1e-4);
    const double in = water_init + soil_init + rain + restored;
    EXPECT_NEAR(out + water + soil, in, 1e-9 * in) << s;
  }
  // The soil released into the water and took back what infiltrated.
  for (const char* species : {"Ammonium (NH4+)", "Nitrate (NO3-)", "Dissolved Phosphorous"}) {
    const std::string section =
        std::string("Overland Constituent Transport Summary for ") + species;
    EXPECT_GT(number_after(s, section, "Uptake from soil"), 0.0) << species;
    EXPECT_GT(number_after(s, section, "Mass loss to infiltration"), 0.0) << species;
  }
}

// The rained-on plane of the first case over Richards columns (three layers of 10, 10 and 30 cm,
// Ks 20 cm/h, nodes every 2 cm) with the overland tracer alone: the columns carry no constituent
// layers, so what the water takes in carries the tracer out of the system at the water's
// concentration. In = out + stored to 1e-9, and the water's books close on their own with what
// infiltrated on the output side.
TEST(LayeredContamCases, OverRichardsColumnsTheTracerLeavesWithTheInfiltratedWater) {
  temp_dir dir;
  write_tracer_table(0.0, 0.5);
  plane p;
  std::string columns = "1\n0\n4\n";
  for (const char* thick : {"10", "10", "30"})
    columns += std::string("20 0.45 0.05 0.15 0.10 0.25 ") + thick + " 0.5 20 2\n";
  write_file("lc_columns.txt", columns);
  p.write("");
  // The layered soil's cards give way to the columns'.
  std::string project = read_file("lc.prj");
  const std::string layered =
      "INF_LAYERED_SOIL\nSOIL_TYPE_MAP lc_type.asc\nSOIL_LAYER_INPUT_FILE lc_layers.txt\n";
  ASSERT_NE(project.find(layered), std::string::npos);
  project.replace(project.find(layered), layered.size(),
                  "INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP lc_type.asc\n"
                  "SOIL_LAYER_INPUT_FILE lc_columns.txt\n");
  project.replace(project.find("SOIL_CON_TRANS\n"), 15, "");
  write_file("lc.prj", project);
  const std::string s = run_both();

  const double init = last_number(s, "Total initial mass");
  const double rain = last_number(s, "Precipitation inputs");
  const double out = last_number(s, "Total mass out of system");
  const double infiltrated = last_number(s, "Mass loss to infiltration");
  const double restored = last_number(s, "Mass restored to emptied cells");
  EXPECT_GT(infiltrated, 1e-3 * (init + rain)) << s;
  EXPECT_GE(out, infiltrated);  // without a soil column what infiltrates leaves the system
  const double in = init + rain + restored;
  EXPECT_NEAR(last_number(s, "Total final Mass") + out, in, 1e-9 * in) << s;
  const double ov_in = last_number(s, "Initial Dissolved mass on ov") +
                       last_number(s, "Precipitation mass gain") + restored;
  EXPECT_NEAR(ov_in,
              last_number(s, "Final Dissolved mass on ov") + infiltrated +
                  last_number(s, "Outlet mass flux"),
              1e-9 * ov_in)
      << s;
  // The columns took in water, and the water's own balance closes.
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  EXPECT_GT(b.run_infiltration, 1.0);
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6);
}

// A long-term run over the layered soil: three days of hourly warm dry weather over four cells of
// 100 m, two one-hour storms of 30 mm/h 34 hours apart carrying the tracer at 1e9 g/m3, decaying
// at 1 per day in the water and the soil, without sorption. The soil account drains the water
// the storms put into the soil's layer 1 (10 cm, porosity 0.45, field capacity 0.25, starting at
// 0.40) down into layer 2 (20 cm) and on out, and the carrier layers follow it. Every gram is on
// the books: in = out + stored + decayed to 1e-9, the soil's books on their own too.
TEST(LayeredContamCases, ALongTermRunOverTheLayeredSoilKeepsItsBooks) {
  temp_dir dir;
  constexpr double cell = 100.0;
  auto map = [&](double v) {
    const std::string n = number(v);
    return torva_test::grid_header(2, 2, cell) + n + " " + n + "\n" + n + " " + n + "\n";
  };
  write_file("lt_mask.asc", map(1));
  write_file("lt_soil.idx", map(1));
  write_file("lt_type.asc", map(4));
  write_file("lt_elev.asc", torva_test::grid_header(2, 2, cell) + "10.2 10.1\n10.1 10.0\n");
  write_file("lt_albedo.asc", map(0.2));
  // Columns: Ks (cm/h), pore index, capillary head (cm), porosity, field capacity, wilting
  // point, residual and initial contents, thickness (cm).
  write_file("lt_layers.txt",
             "1\n0\n4 layered loam\n3 0.25 16.7 0.45 0.25 0.1 0.05 0.40 10\n"
             "3 0.25 16.7 0.45 0.25 0.1 0.05 0.40 20\n3 0.25 16.7 0.45 0.25 0.1 0.05 0.40\n");
  std::string weather;
  for (int k = 0; k < 72; ++k) {
    const int hour = k % 24;
    weather += "2005 3 " + std::to_string(1 + k / 24) + " " + std::to_string(hour) +
               " 29.92 30 0 6 77 0.0 " + (hour >= 7 && hour <= 17 ? "600" : "0") + "\n";
  }
  write_file("lt_weather.txt", weather);
  write_file("lt_rain.gag",
             "EVENT \"first\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nRATES 2005 3 1 2 0 30\n"
             "RATES 2005 3 1 3 0 0.0\nEVENT \"second\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
             "RATES 2005 3 2 12 0 30\nRATES 2005 3 2 13 0 0.0\n");
  std::string row = "     1 soil";
  row.resize(86, ' ');
  write_file("lt_tables.cmt",
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP lt_soil.idx \"Soils\"\n"
             "CONTAMINANT_TRANSPORT Soils\nNUM_CONTAM 1\n\"tracer\" \"Soils\" \"tracer.out\"\n"
             "PRECIP_CONC 1e9\nPARTITION 0\nNUM_IDS 1\n"
             "ID    DESCRIPTION                                  VALUES\n" +
                 row + "0 1.0 0 0 0 0 0 0\n");
  write_file(
      "lt.prj",
      "TORVAPROJECT\nWATERSHED_MASK lt_mask.asc\nELEVATION lt_elev.asc\n"
      "SUMMARY lt_summary.out\nOUTLET_HYDRO lt_outlet.out\nROWS 2\nCOLS 2\n"
      "GRIDSIZE 100.0\nTIMESTEP 30\nOUTROW 2\nOUTCOL 2\nOUTSLOPE 0.001\nHYD_FREQ 60\n"
      "MANNING_N 0.05\nOVERTYPE explicit\nPRECIP_FILE lt_rain.gag\nRAIN_INV_DISTANCE\n"
      "LONG_TERM\nHMET_OBU lt_weather.txt\nALBEDO lt_albedo.asc\nLATITUDE 40.0\n"
      "LONGITUDE 90.0\nGMT -6\nINF_LAYERED_SOIL\nSOIL_TYPE_MAP lt_type.asc\n"
      "SOIL_LAYER_INPUT_FILE lt_layers.txt\nET_CALC_DEARDORFF\n"
      "MAPPING_TABLE lt_tables.cmt\nOV_CON_TRANS\nSOIL_CON_TRANS\nMIXING_LAYER_DEPTH 0.02\n");
  torva_test::run_at_compared_thread_counts(
      "lt.prj", [] { return read_file("lt_summary.out") + read_file("lt_outlet.out"); });
  const std::string s = read_file("lt_summary.out");
  const double rain = last_number(s, "Precipitation inputs");
  EXPECT_NEAR(rain, 2 * 0.030 * 4 * cell * cell * 1e9 / 1000.0, 1e-6 * rain);
  const double final_mass = last_number(s, "Total final Mass");
  const double out = last_number(s, "Total mass out of system");
  const double decayed = last_number(s, "Mass decay loss");
  const double seep = last_number(s, "Mass seepage down to GW");
  EXPECT_GT(decayed, 0.1 * rain);
  EXPECT_GT(seep, 1e-4 * rain) << s;  // the account's drainage carried tracer out of layer 2
  EXPECT_NEAR(final_mass + out + decayed, rain, 1e-9 * rain) << s;
  const double soil_in = last_number(s, "Mass added by infiltration");
  EXPECT_GT(soil_in, 0.1 * rain);
  EXPECT_NEAR(soil_in,
              last_number(s, "Final Mass in Soil Column") + last_number(s, "Uptake from soil") +
                  last_number(s, "Soil decay mass") + seep,
              1e-9 * soil_in)
      << s;
}

}  // namespace layered_contam_cases_tests
