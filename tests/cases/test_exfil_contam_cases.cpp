// Constituents carried up by groundwater seeping onto the surface, by the real torva executable on
// 1 and 8 threads with the same outputs. A strip aquifer fed by a held head seeps out where its
// last cell's ground lies below that head, under single-layer Green and Ampt soil; the water it
// gives the surface carries the groundwater concentration of the constituent table, straight up
// or through the soil column's mixing layer, whose pore water it pushes ahead of it. The books of
// soil, water and system close with what came up, computed by hand from the seeped volume.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
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

namespace exfil_contam_cases {

constexpr int cols = 6;
constexpr double cell = 100.0;  // m
constexpr double held = 15.0;   // m: head held along the first cell
constexpr double seep = 10.0;   // m: ground of the last cell

std::string row_grid(const std::vector<double>& values) {
  std::ostringstream out;
  out << grid_header(1, cols, cell);
  for (double v : values) out << number(v) << ' ';
  out << '\n';
  return out.str();
}

// One row of six cells of 100 m over an aquifer (K 1e-4 m/s, porosity 0.3, bottom at 0 m) held
// at 15 m in its first cell; the last cell's ground lies at 10 m, the others' at 100 m, and the
// heads start on the steady Dupuit profile between them. Ten hourly steps. Single-layer Green and
// Ampt soil of porosity 0.4 and moisture 0.1 that takes no water (Ks 0; the seeping cell takes
// none with the table at its ground). `tables` follow the index map in the mapping-table file,
// `cards` end the project.
void write_aquifer(const std::string& tables, const std::string& cards,
                   const std::string& index_map = "INDEX_MAP ex_soil.idx \"Soils\"\n") {
  std::vector<double> ones(cols, 1.0), ground(cols, 100.0), head(cols), code(cols, 1.0);
  ground[cols - 1] = seep;
  code[0] = 2.0;
  const double length = (cols - 1) * cell;
  for (int c = 0; c < cols; ++c)
    head[c] = std::sqrt(held * held - (held * held - seep * seep) * c * cell / length);
  write_file("ex_mask.asc", row_grid(ones));
  write_file("ex_soil.idx", row_grid(ones));
  write_file("ex_elev.asc", row_grid(ground));
  write_file("ex_head.asc", row_grid(head));
  write_file("ex_bound.asc", row_grid(code));
  write_file("ex_bottom.asc", row_grid(std::vector<double>(cols, 0.0)));
  write_file("ex_ks.asc", row_grid(std::vector<double>(cols, 0.0)));
  write_file("ex_hc.asc", row_grid(std::vector<double>(cols, 10.0)));
  write_file("ex_por.asc", row_grid(std::vector<double>(cols, 0.4)));
  write_file("ex_moist.asc", row_grid(std::vector<double>(cols, 0.1)));
  write_file("ex_tables.cmt", "TORVA_INDEX_MAP_TABLES\n" + index_map + tables);
  write_file("ex.prj",
             "TORVAPROJECT\nWATERSHED_MASK ex_mask.asc\nELEVATION ex_elev.asc\n"
             "SUMMARY ex_summary.out\nOUTLET_HYDRO ex_outlet.out\nROWS 1\nCOLS 6\n"
             "GRIDSIZE 100\nSTART_DATE 2005 3 14\nSTART_TIME 6 00\nTIMESTEP 3600\n"
             "TOT_TIME 600\nOUTROW 1\nOUTCOL 1\nOUTSLOPE 0.001\nHYD_FREQ 60\nMANNING_N 0.05\n"
             "OVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY 0.000001\nRAIN_DURATION 600\n"
             "WATER_TABLE ex_head.asc\nGW_SIMULATION\nAQUIFER_BOTTOM ex_bottom.asc\n"
             "GW_BOUNDFILE ex_bound.asc\nGW_UNIF_POROSITY 0.3\nGW_UNIF_HYCOND 36\n"
             "GW_LSOR_DIR 1\nGW_LSOR_CON 1e-10\nGREEN_AMPT\nCONDUCTIVITY ex_ks.asc\n"
             "CAPILLARY ex_hc.asc\nPOROSITY ex_por.asc\nMOISTURE ex_moist.asc\n"
             "MAPPING_TABLE ex_tables.cmt\n" +
                 cards);
}

// A table row of id 1 in its fixed columns.
std::string table_row(const std::string& values) {
  std::string row = "     1 soil";
  row.resize(86, ' ');
  return row + values + "\n";
}

// The tracer's table row: groundwater concentration `gw`, land load `load`, nothing else (no
// decay, exchange or sorption); `extra` adds cards.
void write_case(double gw, double load, const std::string& extra) {
  // Dispersion, decay per day, exchange rate, land load, groundwater concentration, initial
  // water concentration, soil partition coefficient, land concentration.
  write_aquifer(
      "CONTAMINANT_TRANSPORT Soils\nNUM_CONTAM 1\n\"tracer\" \"Soils\" \"tracer.out\"\n"
      "PRECIP_CONC 0\nPARTITION 0\nNUM_IDS 1\n"
      "ID    DESCRIPTION                                  VALUES\n" +
          table_row("0 0 0 " + number(load) + " " + number(gw) + " 0 0 0"),
      "OV_CON_TRANS\n" + extra);
}

TEST(ExfilContamCases, SeepingGroundwaterCarriesItsConcentrationUpAndTheBooksClose) {
  // With the soil column: a land load L in a mixing layer of 10 cm puts L x 0.1 m x 2.65 x (1 -
  // 0.4) g on each m2, and its pore water (moisture 0.1, no sorption) holds L x 2.65 x 0.6 / 0.1
  // g/m3. Groundwater at that concentration replaces what it pushes out: the layer keeps its
  // mass, and the seeped volume V carries that concentration times V up.
  const double load = 1e6;
  const double pore = load * 2.65 * 0.6 / 0.1;
  struct seep_case {
    const char* what;
    double gw;            // g/m3
    double load;          // land load
    const char* soil;     // soil transport cards
    bool redistribution;  // the redistribution soil over the aquifer instead of Green and Ampt
  };
  const seep_case cases[] = {
      {"straight onto the surface", 1e6, 0.0, "", false},
      {"through the mixing layer", pore, load, "SOIL_CON_TRANS\nMIXING_LAYER_DEPTH 0.1\n", false},
      {"straight onto the surface of the redistribution soil", 1e6, 0.0, "", true},
  };
  for (const seep_case& sc : cases) {
    SCOPED_TRACE(sc.what);
    temp_dir dir;
    write_case(sc.gw, sc.load, sc.soil);
    if (sc.redistribution) {
      write_file("ex_pore.asc", row_grid(std::vector<double>(cols, 0.25)));
      write_file("ex_res.asc", row_grid(std::vector<double>(cols, 0.05)));
      std::string p = read_file("ex.prj");
      p.replace(p.find("GREEN_AMPT\n"), 11,
                "INF_REDIST\nPORE_INDEX ex_pore.asc\nRESIDUAL_SAT ex_res.asc\n"
                "SOIL_MOIST_DEPTH 0.6\n");
      write_file("ex.prj", p);
    }
    torva_test::run_at_compared_thread_counts(
        "ex.prj", [] { return read_file("ex_summary.out") + read_file("ex_outlet.out"); });
    const std::string s = read_file("ex_summary.out");
    const double seeped = summary_number(s, "Total amount of exfiltration=");  // m3
    ASSERT_GT(seeped, 1.0) << s;
    // By hand: the seeped volume at the concentration it carries up (kg), the volume as printed
    // (to 0.005 m3).
    const double up = sc.gw * seeped / 1000.0;
    const double printed = sc.gw * 0.005 / 1000.0 + 0.01;
    const double gain = summary_number(s, "Exfiltration mass gain");
    EXPECT_NEAR(gain, up, printed) << s;
    // Nothing leaves the seeping cell (its neighbour's ground is 90 m higher): the water holds it.
    EXPECT_NEAR(summary_number(s, "Final Dissolved mass on ov"), gain, 0.01) << s;
    EXPECT_LT(std::fabs(summary_number(s, "Contam mass balance error")), 1e-6) << s;
    const double init = summary_number(s, "Total initial mass");
    const double final_mass = summary_number(s, "Total final Mass");
    if (*sc.soil != '\0') {
      // The layer gave what came up and took the groundwater's mass in its place.
      const double in = summary_number(s, "Mass seepage up from GW");
      EXPECT_NEAR(in, up, printed) << s;
      EXPECT_NEAR(summary_number(s, "Exfiltration mass loss"), gain, 0.01) << s;
      EXPECT_NEAR(summary_number(s, "Soil mass in from groundwater"), in, 0.01) << s;
      const double soil_init = summary_number(s, "Initial Mass in Soil Column");
      const double soil_final = summary_number(s, "Final Mass in Soil Column");
      EXPECT_NEAR(soil_init, 6 * load * 0.1 * cell * cell * 2.65 * 0.6 / 1000.0, 0.01);
      EXPECT_NEAR(soil_final, soil_init, 1e-9 * soil_init) << s;
      EXPECT_NEAR(final_mass, init + in, 1e-9 * (init + in)) << s;
    } else {
      EXPECT_EQ(init, 0.0);
      EXPECT_NEAR(final_mass, gain, 1e-9 * gain) << s;
    }
    const torva_test::summary_balance b = torva_test::read_summary_balance(s);
    ASSERT_TRUE(b.has_totals) << s;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << s;
  }
}

// The nutrients over the same aquifer: its water carries 1000 g/m3 of nitrate (the NSM_GW_N
// table) and nothing else; the mixing layer of each cell holds 2 kg of ammonium, 4 kg of nitrate,
// 1 kg of organic nitrogen and 1.5 kg of phosphorus pools, released into the seeped water at 5
// per day. The nitrogen books gain the seeped volume times 1000 g/m3, by hand; nitrogen and
// phosphorus are kept to 1e-9 of what came in.
TEST(ExfilContamCases, SeepingGroundwaterBringsItsNitrateAndTheNutrientBooksClose) {
  temp_dir dir;
  write_file("ex_env.txt",
             "AQUATIC_ENV_NSM10\nOV_MAP ex_soil.idx\nNUM_IDS 1\nID heading\n1\n"
             "DEFAULT\n");
  auto table = [](const char* keyword, const std::string& values) {
    return std::string(keyword) + " Soils\nNUM_IDS 1\n" +
           "ID    DESCRIPTION                                  VALUES\n" + table_row(values);
  };
  write_aquifer(table("NSM_GW_N", "0 1000 0 0") + table("NSM_SOIL_N", "2 4 1 0 0") +
                    table("NSM_SOIL_P", "0 1 0 0.5 0 0"),
                "SOIL_CON_TRANS\nMIXING_LAYER_DEPTH 0.1\nNUTRIENTS\nAQ_ENV ex_env.txt\n"
                "WATER_TEMP 20\nCHAN_PH 7.5\nOV_UPTAKE_RATE 5\nSOILS_NSM_N\nSOILS_NSM_P\n",
                "INDEX_MAP ex_soil.idx Soils\n");
  torva_test::run_at_compared_thread_counts(
      "ex.prj", [] { return read_file("ex_summary.out") + read_file("ex_outlet.out"); });
  const std::string s = read_file("ex_summary.out");
  const double seeped = summary_number(s, "Total amount of exfiltration=");  // m3
  ASSERT_GT(seeped, 1.0) << s;
  const struct {
    const char* books;
    double gw;         // g/m3 of the element in the aquifer's water
    double soil_init;  // kg, by hand: per cell 7 kg of nitrogen, 1.5 kg of phosphorus
  } elements[] = {{"Nutrient nitrogen books", 1000.0, 6 * 7.0},
                  {"Nutrient phosphorus books", 0.0, 6 * 1.5}};
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
  // The pools released into the seeped water.
  EXPECT_GT(summary_number(s.substr(s.find("Overland Constituent Transport Summary for Ammonium")),
                           "Uptake from soil"),
            0.0)
      << s;
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  ASSERT_TRUE(b.has_totals) << s;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << s;
}

// The same aquifer under the layered soil: layers of 5 and 10 cm (porosity 0.4, moisture 0.1,
// conducting 1 cm/h) and a mixing layer of 2 cm, three carrier layers. The seeping water rises
// through all three, each layer's pore water into the one above and the top one's onto the
// surface, and the aquifer's water at 1e6 g/m3 enters the bottom one. By hand from the seeped
// volume: what the aquifer brought into the column; the surface gained what the column gave up,
// and the books of soil, water and system close to 1e-9.
TEST(ExfilContamCases, SeepingGroundwaterRisesThroughTheLayeredSoilsCarriersAndTheBooksClose) {
  temp_dir dir;
  const double gw = 1e6, load = 1e6;
  write_case(gw, load, "SOIL_CON_TRANS\nMIXING_LAYER_DEPTH 0.02\n");
  write_file("ex_type.asc", row_grid(std::vector<double>(cols, 4.0)));
  // Columns: Ks (cm/h), pore index, capillary head (cm), porosity, field capacity, wilting
  // point, residual and initial contents, thickness (cm).
  write_file("ex_layers.txt",
             "1\n0\n4 layered loam\n1 0.25 10 0.4 0.3 0.1 0.05 0.1 5\n"
             "1 0.25 10 0.4 0.3 0.1 0.05 0.1 10\n1 0.25 10 0.4 0.3 0.1 0.05 0.1\n");
  std::string p = read_file("ex.prj");
  const std::string single =
      "GREEN_AMPT\nCONDUCTIVITY ex_ks.asc\nCAPILLARY ex_hc.asc\nPOROSITY ex_por.asc\n"
      "MOISTURE ex_moist.asc\n";
  ASSERT_NE(p.find(single), std::string::npos);
  p.replace(p.find(single), single.size(),
            "INF_LAYERED_SOIL\nSOIL_TYPE_MAP ex_type.asc\nSOIL_LAYER_INPUT_FILE ex_layers.txt\n");
  write_file("ex.prj", p);
  torva_test::run_at_compared_thread_counts(
      "ex.prj", [] { return read_file("ex_summary.out") + read_file("ex_outlet.out"); });
  const std::string s = read_file("ex_summary.out");
  const double seeped = summary_number(s, "Total amount of exfiltration=");  // m3
  ASSERT_GT(seeped, 1.0) << s;
  const double printed = gw * 0.005 / 1000.0 + 0.01;
  const double in = summary_number(s, "Mass seepage up from GW");
  EXPECT_NEAR(in, gw * seeped / 1000.0, printed) << s;
  EXPECT_NEAR(summary_number(s, "Soil mass in from groundwater"), in, 0.01) << s;
  // The mixing layer's pore water (load x 2.65 x 0.6 / 0.1 g/m3, 15.9 times the aquifer's)
  // came up first: the surface gained what the column gave up, more than the aquifer brought.
  const double gain = summary_number(s, "Exfiltration mass gain");
  EXPECT_NEAR(summary_number(s, "Exfiltration mass loss"), gain, 0.01) << s;
  EXPECT_GT(gain, in) << s;
  const double soil_init = summary_number(s, "Initial Mass in Soil Column");
  EXPECT_NEAR(soil_init, 6 * load * 0.02 * cell * cell * 2.65 * 0.6 / 1000.0, 0.01);
  const double soil_final = summary_number(s, "Final Mass in Soil Column");
  EXPECT_NEAR(soil_final + gain, soil_init + in, 1e-9 * (soil_init + in)) << s;
  const double init = summary_number(s, "Total initial mass");
  EXPECT_NEAR(summary_number(s, "Total final Mass"), init + in, 1e-9 * (init + in)) << s;
  EXPECT_LT(std::fabs(summary_number(s, "Contam mass balance error")), 1e-6) << s;
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  ASSERT_TRUE(b.has_totals) << s;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << s;
}

// Richards columns on a flat 2 x 2 grid of 10 km cells (ground 10 m, outlet in cell (2, 2)):
// one Brooks-Corey soil of 10, 10 and 80 cm layers in 2 cm nodes (Ks 20 cm/h, contents 0.45,
// 0.05, 0.25) over a closed aquifer (bottom 8 m, porosity 0.45) whose table lies 3 cm down.
// Rain of 16 mm/h for the first hour of three lifts the table to the ground, and what soaked in
// beyond the soil's room comes back up. `tables` follow the index map, `cards` end the project.
void write_columns(const std::string& tables, const std::string& cards,
                   const std::string& index_map = "INDEX_MAP r_idx.asc \"Soils\"\n") {
  constexpr double big = 10000.0;  // m
  auto map = [&](double v) {
    std::ostringstream s;
    s << grid_header(2, 2, big) << number(v) << ' ' << number(v) << '\n'
      << number(v) << ' ' << number(v) << '\n';
    return s.str();
  };
  write_file("r_mask.asc", map(1.0));
  write_file("r_elev.asc", map(10.0));
  write_file("r_soil.asc", map(3.0));
  write_file("r_idx.asc", map(1.0));
  write_file("r_table.asc", map(9.97));
  write_file("r_bottom.asc", map(8.0));
  write_file("r_bound.asc", map(1.0));
  std::ostringstream t;
  t << "1\n0\n3\n";
  for (double thick : {10.0, 10.0, 80.0})
    t << "20 0.45 0.05 0.25 0.10 0.25 " << thick << " 0.5 20 2\n";
  write_file("r_layers.txt", t.str());
  write_file("r_tables.cmt", "TORVA_INDEX_MAP_TABLES\n" + index_map + tables);
  std::ostringstream p;
  p << "TORVAPROJECT\nWATERSHED_MASK r_mask.asc\nELEVATION r_elev.asc\nSUMMARY ex_summary.out\n"
    << "OUTLET_HYDRO ex_outlet.out\nROWS 2\nCOLS 2\nGRIDSIZE " << big << "\n"
    << "START_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 60\nTOT_TIME 180\n"
    << "OUTROW 2\nOUTCOL 2\nOUTSLOPE 0.001\nHYD_FREQ 60\nMANNING_N 0.05\nOVERTYPE explicit\n"
    << "PRECIP_UNIF\nRAIN_INTENSITY 16\nRAIN_DURATION 60\n"
    << "INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP r_soil.asc\n"
    << "SOIL_LAYER_INPUT_FILE r_layers.txt\nWATER_TABLE r_table.asc\n"
    << "GW_SIMULATION\nAQUIFER_BOTTOM r_bottom.asc\nGW_BOUNDFILE r_bound.asc\n"
    << "GW_UNIF_POROSITY 0.45\nGW_UNIF_HYCOND 3.6\nGW_LSOR_DIR 1\nGW_LSOR_CON 1e-10\n"
    << "GW_TIMESTEP 900\nAQUIFER_DELTA_Z 0.1\n";
  p << "MAPPING_TABLE r_tables.cmt\n" << cards;
  write_file("ex.prj", p.str());
}

// The tracer's table: rain at `rain_conc`, groundwater at `gw` g/m3, nothing else.
std::string tracer_table(double rain_conc, double gw) {
  return "CONTAMINANT_TRANSPORT Soils\nNUM_CONTAM 1\n\"tracer\" \"Soils\" \"tracer.out\"\n"
         "PRECIP_CONC " +
         number(rain_conc) +
         "\nPARTITION 0\nNUM_IDS 1\n"
         "ID    DESCRIPTION                                  VALUES\n" +
         table_row("0 0 0 0 " + number(gw) + " 0 0 0");
}

// Without a soil column of constituents (no infiltration scheme, or Richards columns) the water
// an aquifer gives the surface carries the groundwater concentration straight up. By hand: the
// exfiltration mass is the groundwater concentration times the exfiltrated volume, the rain's
// mass its concentration times the rain; the overland and global books close to 1e-9 of what
// came in.
TEST(ExfilContamCases, WithoutConstituentSoilTheWaterATableGivesCarriesItsConcentration) {
  struct seep_case {
    const char* what;
    double rain_conc, gw;  // g/m3
    std::function<void(const std::string&)> write;
  };
  const seep_case cases[] = {
      // The strip aquifer with no infiltration scheme: the seeping cell's water holds it all.
      {"no infiltration scheme over an aquifer", 0.0, 1e6,
       [](const std::string& table) {
         write_aquifer(table, "OV_CON_TRANS\n");
         std::string p = read_file("ex.prj");
         const std::string soil =
             "GREEN_AMPT\nCONDUCTIVITY ex_ks.asc\nCAPILLARY ex_hc.asc\nPOROSITY ex_por.asc\n"
             "MOISTURE ex_moist.asc\n";
         p.erase(p.find(soil), soil.size());
         write_file("ex.prj", p);
       }},
      // Rain lifts a table 3 cm down to the ground; what soaked in beyond the soil's room
      // comes back up, at three times the rain's concentration.
      {"Richards columns over an aquifer", 1e5, 3e5,
       [](const std::string& table) { write_columns(table, "OV_CON_TRANS\n"); }},
  };
  for (const seep_case& sc : cases) {
    SCOPED_TRACE(sc.what);
    temp_dir dir;
    sc.write(tracer_table(sc.rain_conc, sc.gw));
    torva_test::run_at_compared_thread_counts(
        "ex.prj", [] { return read_file("ex_summary.out") + read_file("ex_outlet.out"); });
    const std::string s = read_file("ex_summary.out");
    const double seeped = summary_number(s, "Total amount of exfiltration=");  // m3
    ASSERT_GT(seeped, 1.0) << s;
    const double rain = summary_number(s, "Total amount of precip=");  // m3
    const double gain = summary_number(s, "Exfiltration mass gain");
    // The volume is printed to 0.005 m3, the mass to 0.005 kg.
    EXPECT_NEAR(gain, sc.gw * seeped / 1000.0, sc.gw * 0.005 / 1000.0 + 0.01) << s;
    const double precip = summary_number(s, "Precipitation mass gain");
    EXPECT_NEAR(precip, sc.rain_conc * rain / 1000.0, 1e-8 * sc.rain_conc * rain / 1000.0 + 0.01)
        << s;
    // The overland books: what came in is what is on the surface, left by the outlet or soaked
    // in.
    const double in = summary_number(s, "Initial Dissolved mass on ov") + precip + gain;
    const double out = summary_number(s, "Final Dissolved mass on ov") +
                       summary_number(s, "Outlet mass flux") +
                       summary_number(s, "Mass loss to infiltration");
    EXPECT_NEAR(out, in, 1e-9 * in + 0.01) << s;
    EXPECT_LT(std::fabs(summary_number(s, "Contam mass balance error")), 1e-6) << s;
    // The system's books: the aquifer's gain is an input, what soaked in left.
    const double g_in = summary_number(s, "Total initial mass") + precip + gain;
    EXPECT_NEAR(
        summary_number(s, "Total final Mass") + summary_number(s, "Total mass out of system"), g_in,
        1e-9 * g_in + 0.01)
        << s;
    const torva_test::summary_balance b = torva_test::read_summary_balance(s);
    ASSERT_TRUE(b.has_totals) << s;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << s;
  }
}

// The nutrient species over Richards columns lifted to their table by rain, as above: the
// aquifer's water carries 1000 g/m3 of nitrate (NSM_GW_N) and 500 g/m3 of phosphate
// (NSM_GW_P), the rain none. By hand, each element's exfiltration gain is its concentration
// times the exfiltrated volume; the nitrogen and phosphorus books close to 1e-9 of what came in.
TEST(ExfilContamCases, NutrientsComeUpWithTheWaterATableGivesRichardsColumns) {
  temp_dir dir;
  write_file("r_env.txt",
             "AQUATIC_ENV_NSM10\nOV_MAP r_idx.asc\nNUM_IDS 1\nID heading\n1\nDEFAULT\n");
  auto table = [](const char* keyword, const std::string& values) {
    return std::string(keyword) + " Soils\nNUM_IDS 1\n" +
           "ID    DESCRIPTION                                  VALUES\n" + table_row(values);
  };
  write_columns(table("NSM_GW_N", "0 1000 0 0") + table("NSM_GW_P", "500 0 0 0"),
                "NUTRIENTS\nAQ_ENV r_env.txt\nWATER_TEMP 20\nCHAN_PH 7.5\n",
                "INDEX_MAP r_idx.asc Soils\n");
  torva_test::run_at_compared_thread_counts(
      "ex.prj", [] { return read_file("ex_summary.out") + read_file("ex_outlet.out"); });
  const std::string s = read_file("ex_summary.out");
  const double seeped = summary_number(s, "Total amount of exfiltration=");  // m3
  ASSERT_GT(seeped, 1.0) << s;
  const struct {
    const char* books;
    double gw;  // g/m3 of the element in the aquifer's water
  } elements[] = {{"Nutrient nitrogen books", 1000.0}, {"Nutrient phosphorus books", 500.0}};
  for (const auto& e : elements) {
    SCOPED_TRACE(e.books);
    const std::size_t at = s.find(e.books);
    ASSERT_NE(at, std::string::npos) << s;
    const std::string books = s.substr(at);
    const double exfil = summary_number(books, "Exfiltration mass gain");
    EXPECT_NEAR(exfil, e.gw * seeped / 1000.0, e.gw * 0.005 / 1000.0 + 1e-9) << books;
    const double in = summary_number(books, "Initial mass in water") +
                      summary_number(books, "Precipitation mass gain") + exfil;
    EXPECT_NEAR(summary_number(books, "Outlet mass flux") +
                    summary_number(books, "Final mass in water") +
                    summary_number(books, "Final mass in soil"),
                in, 1e-9 * in)
        << books;
  }
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  ASSERT_TRUE(b.has_totals) << s;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << s;
}

}  // namespace exfil_contam_cases
