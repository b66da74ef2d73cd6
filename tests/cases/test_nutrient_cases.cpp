// The nutrient sub-model end to end, run by the real torva executable on a small ponded plane
// written by the tests: the species start in the water from cards, a mapping table and a map,
// the rain brings nitrogen species, the water infiltrates into a soil whose top layer holds
// nitrogen and phosphorus pools that release into the ponded water, and the species drain
// through the outlet. Nitrogen and phosphorus are conserved over water, soil and outlet; the
// outlet series, the maps and the inputs that stop the run are checked too. Every run is made on
// 1 and 8 threads, which must write the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>

#include "support/summary_reader.h"
#include "support/table_fixtures.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::number;
using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace nutrient_cases_tests {

constexpr int rows = 3, cols = 4;
constexpr double dx = 10.0;
constexpr double head = 10.05;  // m: the ponded water's level at the start

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

std::string table(const std::string& keyword, const std::string& values,
                  const std::string& precip = "") {
  return keyword + " Land\nNUM_IDS 1\n" + precip + torva_test::table_column_header +
         torva_test::table_row(1, values);
}

// The aquatic environment file: one environment, every cell of the id map in it.
std::string aquatic_env(int map_id) {
  write_file("case_env.idx", grid([=](int, int) { return map_id; }));
  return "AQUATIC_ENV_NSM10\nOV_MAP case_env.idx\nNUM_IDS 1\nID heading\n1\nDEFAULT\n";
}

// The plane of 3 x 4 cells of 10 m, falling 0.01 to the south and 0.001 to the east, ponded to
// 10.05 m (5 to 11 cm deep) under 20 mm/h of rain for the whole 30 minutes, on a Green and Ampt
// soil with a mixing layer of 10 cm, in steps of 5 s. NO3 starts at 200 g/m3 (card), NH4 and ON
// from the NSM_N table (50 and 100 g/m3, NO2 10), DP at 30 g/m3 from a map; the rain carries
// NO2 5, NO3 150 and NH4 40 g/m3. The soil's top layer holds, per cell, 2 kg of ammonium, 4 kg
// of nitrate and 1 kg of organic active nitrogen, 1 kg of solution phosphorus and 0.5 kg of
// organic active phosphorus, released at 5 per day. `extra` adds cards.
void write_case(const std::string& extra) {
  write_file("case_mask.asc", grid([](int, int) { return 1.0; }));
  write_file("case_elev.asc", grid(ground));
  write_file("case_soil.idx", grid([](int, int) { return 1.0; }));
  write_file("case_dp.asc", grid([](int, int) { return 30.0; }));
  write_file("case_env.txt", aquatic_env(1));
  write_file("case_tables.cmt", torva_test::table_file_magic + "INDEX_MAP case_soil.idx Land\n" +
                                    table("NSM_N", "10 250 50 100", "PRECIP_CONC 5 150 40 0\n") +
                                    table("NSM_SOIL_N", "2 4 1 0 0") +
                                    table("NSM_SOIL_P", "0 1 0 0.5 0 0"));
  const std::pair<const char*, double> soil[] = {
      {"CONDUCTIVITY", 0.05}, {"CAPILLARY", 16.7}, {"POROSITY", 0.486}, {"MOISTURE", 0.1458}};
  std::string t = "TORVAPROJECT\nWATERSHED_MASK case_mask.asc\nELEVATION case_elev.asc\n";
  t += "SUMMARY case_summary.out\nOUTLET_HYDRO case_outlet.out\n";
  t += "ROWS 3\nCOLS 4\nGRIDSIZE 10\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n";
  t += "TIMESTEP 5\nTOT_TIME 30\nOUTROW 3\nOUTCOL 1\nOUTSLOPE 0.01\n";
  t += "HYD_FREQ 1\nMANNING_N 0.05\nOVERTYPE explicit\nPRECIP_UNIF\n";
  t += "RAIN_INTENSITY 20\nRAIN_DURATION 30\nINIT_ELEV_HEAD " + number(head) + "\nGREEN_AMPT\n";
  for (const auto& [card, value] : soil) {
    const std::string file = std::string("case_") + card + ".asc";
    write_file(file, grid([v = value](int, int) { return v; }));
    t += std::string(card) + " " + file + "\n";
  }
  t += "MAPPING_TABLE case_tables.cmt\nSOIL_CON_TRANS\nMIXING_LAYER_DEPTH 0.1\n";
  t += "NUTRIENTS\nAQ_ENV case_env.txt\nWATER_TEMP 20\nCHAN_PH 7.5\nOV_UPTAKE_RATE 5\n";
  t += "OV_INIT_NO2\nOV_INIT_NO3 200\nOV_INIT_NH4\nOV_INIT_ON\nOV_INIT_DP case_dp.asc\n";
  t += "SOILS_NSM_N\nSOILS_NSM_P\n" + extra;
  write_file("case.prj", t);
}

std::string run_both(int status = 0) {
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "case.prj",
      [] {
        std::string all = read_file("case_summary.out");
        for (const char* f : {"no3_out.conc", "no3_out.mass", "total_n.dat", "nh4_ov.mass"})
          all += std::string("\n@@ ") + f + "\n" + read_file(f);
        return all;
      },
      status);
  return runs.outputs[1];
}

// The number after the first line of `text` from `after` on that starts with `label`.
double number_after(const std::string& text, const std::string& after, const std::string& label) {
  const std::size_t from = text.find(after);
  if (from == std::string::npos) return std::nan("");
  const std::size_t at = text.find("\n" + label, from);
  if (at == std::string::npos) return std::nan("");
  return summary_number(text.substr(at + 1), label);
}

// The water's initial mass of a species at concentration c (kg): c x depth x area per cell.
double initial_water_mass(double c) {
  double m = 0.0;
  for (int r = 1; r <= rows; ++r)
    for (int col = 1; col <= cols; ++col) m += c * (head - ground(r, col)) * dx * dx;
  return m / 1000.0;
}

TEST(NutrientCases, NitrogenAndPhosphorusAreConservedOverWaterSoilAndOutlet) {
  temp_dir dir;
  write_case(
      "OUT_HYD_NO3 no3_out\nOUT_OV_NH4 nh4_ov\nTOTAL_OV_N total_n.dat\nMAP_TYPE 1\n"
      "MAP_FREQ 10\n");
  const std::string s = run_both();

  const std::string n_books = "Nutrient nitrogen books";
  const std::string p_books = "Nutrient phosphorus books";
  struct element {
    const std::string& books;
    double water_init;  // kg, by hand
    double soil_init;   // kg, by hand
  };
  // Nitrogen: NO2 10, NO3 200, NH4 50, ON 100 g/m3 in the water; 7 kg per cell in the soil.
  // Phosphorus: DP 30 g/m3 in the water; 1.5 kg per cell in the soil.
  const element elements[] = {{n_books, initial_water_mass(10.0 + 200.0 + 50.0 + 100.0), 84.0},
                              {p_books, initial_water_mass(30.0), 18.0}};
  for (const element& e : elements) {
    const double water_init = number_after(s, e.books, "Initial mass in water");
    const double soil_init = number_after(s, e.books, "Initial mass in soil pools");
    const double rain = number_after(s, e.books, "Precipitation mass gain");
    const double restored = number_after(s, e.books, "Mass restored to emptied cells");
    const double out = number_after(s, e.books, "Outlet mass flux");
    const double water = number_after(s, e.books, "Final mass in water");
    const double soil = number_after(s, e.books, "Final mass in soil");
    EXPECT_NEAR(water_init, e.water_init, 1e-12 * e.water_init) << e.books;
    EXPECT_NEAR(soil_init, e.soil_init, 1e-12 * e.soil_init) << e.books;
    EXPECT_GT(out, 1e-4) << e.books;  // the outlet carried some away
    EXPECT_EQ(restored, 0.0) << e.books;
    // In = out + stored, to 1e-9 of what came in.
    const double in = water_init + soil_init + rain;
    EXPECT_NEAR(out + water + soil, in, 1e-9 * in) << s;
  }
  // The rain brought (5 + 150 + 40) g/m3 of nitrogen species on 20 mm/h for 30 minutes
  // over 1200 m2, and no phosphorus; the steps, kept as Julian days, are exact to some 1e-8 of
  // their length.
  const double rain_n = (5.0 + 150.0 + 40.0) * 0.010 * 1200.0 / 1000.0;
  EXPECT_NEAR(number_after(s, n_books, "Precipitation mass gain"), rain_n, 1e-7 * rain_n);
  EXPECT_EQ(number_after(s, p_books, "Precipitation mass gain"), 0.0);

  // The soil released into the water (ammonium, nitrate, organic N, both phosphorus forms), and
  // took back what infiltrated; each species' own overland books close.
  for (const char* species :
       {"Ammonium (NH4+)", "Nitrate (NO3-)", "Organic Nitrogen (Organic N)",
        "Organic Phosphorous (Organic P)", "Dissolved Phosphorous (Dissolved P)"}) {
    const std::string section =
        std::string("Overland Constituent Transport Summary for ") + species;
    EXPECT_GT(number_after(s, section, "Uptake from soil"), 0.0) << species;
    EXPECT_GT(number_after(s, section, "Mass loss to infiltration"), 0.0) << species;
    EXPECT_LT(std::fabs(number_after(s, section, "Contam mass balance error")), 1e-4) << species;
  }

  // The outlet series: one line a minute (31 with the start), its last mass the outlet flux
  // of the summary; the concentration is the outlet cell's.
  const std::string mass = read_file("no3_out.mass");
  EXPECT_EQ(std::count(mass.begin(), mass.end(), '\n'), 31) << mass.substr(0, 200);
  std::istringstream last(mass.substr(mass.rfind('\n', mass.size() - 2) + 1));
  double t = 0.0, m = 0.0;
  last >> t >> m;
  EXPECT_DOUBLE_EQ(t, 30.0);
  EXPECT_NEAR(
      m, number_after(s, "Constituent Transport Summary for Nitrate (NO3-)", "Outlet mass flux"),
      0.006);
  EXPECT_GT(m, 0.0);
  EXPECT_TRUE(contains(read_file("no3_out.conc"), "     30.00000000 "));

  // The maps: an ASCII dataset of total nitrogen (object 1055) and of the ammonium mass, a frame
  // every 10 minutes from the start (3) and the end mark.
  for (const char* f : {"total_n.dat", "nh4_ov.mass"}) {
    const std::string map = read_file(f);
    std::size_t frames = 0;
    for (std::size_t at = map.find("\nTS "); at != std::string::npos;
         at = map.find("\nTS ", at + 1))
      ++frames;
    EXPECT_EQ(frames, 3u) << f;
    EXPECT_EQ(map.substr(map.size() - 6), "ENDDS\n") << f;
  }
  EXPECT_TRUE(contains(read_file("total_n.dat"), "OBJID 1055\n"));
  EXPECT_TRUE(contains(read_file("nh4_ov.mass"), "OBJID 1031\n"));

  // The water's own balance still closes.
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6);
}

// The nutrient run with overland point sources stops at start-up naming the card: the sources'
// file has no defined format, so they would add no water.
TEST(NutrientCases, OverlandPointSourcesStopTheRunAtStartUp) {
  temp_dir dir;
  write_file("case_sources.txt", "");
  write_case("OV_POINT_SOURCE case_sources.txt\n");
  const torva_test::command_result r = torva_test::run_with_threads("case.prj", 1);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("(the OV_POINT_SOURCE card) is not supported by this version.\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Running...."), std::string::npos) << r.out;
}

// The plane of the first case in an event run over the soil that redistributes its water
// (INF_REDIST): the pools' layer takes the soil's surface water content, and nitrogen and
// phosphorus keep their books (in = out + stored to 1e-9) on 1 and 8 threads.
TEST(NutrientCases, AnEventOverTheRedistributionSoilKeepsNitrogenAndPhosphorus) {
  temp_dir dir;
  write_file("case_pore.asc", grid([](int, int) { return 0.25; }));
  write_file("case_res.asc", grid([](int, int) { return 0.05; }));
  write_case(
      "INF_REDIST\nPORE_INDEX case_pore.asc\nRESIDUAL_SAT case_res.asc\nSOIL_MOIST_DEPTH 0.6\n"
      "TOP_LAYER_DEPTH 0.2\n");
  std::string p = read_file("case.prj");
  p.replace(p.find("GREEN_AMPT\n"), 11, "");
  write_file("case.prj", p);
  const std::string s = run_both();
  for (const char* books : {"Nutrient nitrogen books", "Nutrient phosphorus books"}) {
    const double in = number_after(s, books, "Initial mass in water") +
                      number_after(s, books, "Initial mass in soil pools") +
                      number_after(s, books, "Precipitation mass gain");
    const double out = number_after(s, books, "Outlet mass flux");
    EXPECT_GT(out, 1e-4) << books;
    EXPECT_NEAR(out + number_after(s, books, "Final mass in water") +
                    number_after(s, books, "Final mass in soil"),
                in, 1e-9 * in)
        << books << "\n"
        << s;
  }
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << s;
}

// Inputs the sub-model cannot use stop the run at start-up with one clear message.
TEST(NutrientCases, BadNutrientInputsStopTheRunNamingWhatIsWrong) {
  temp_dir dir;
  struct row {
    const char* what;
    std::function<void()> spoil;
    std::string message;
  };
  const row rows[] = {
      {"no aquatic environment file", [] { std::remove("case_env.txt"); },
       "Error: unable to open the aquatic environment file case_env.txt."},
      {"an environment id beyond the file's", [] { write_file("case_env.txt", aquatic_env(2)); },
       "Error: the overland aquatic environment map case_env.idx gives cell 1 the environment id "
       "2; the aquatic environment file case_env.txt has ids 1 to 1."},
      {"a species from a mapping table that has no nitrogen table",
       [] {
         write_file("case_tables.cmt", torva_test::table_file_magic +
                                           "INDEX_MAP case_soil.idx Land\n" +
                                           table("NSM_SOIL_N", "0.002 0.004 0.001 0 0"));
       },
       "Error: Nutrient constituent to use mapping table for input value but no mapping table "
       "exists (Grid): Nitrite (NO2-)"},
      {"a negative uniform concentration",
       [] {
         std::string p = read_file("case.prj");
         p.replace(p.find("OV_INIT_NO3 200"), 15, "OV_INIT_NO3 -2");
         write_file("case.prj", p);
       },
       "Error: the nutrient input card gives cell 1 the Nitrate (NO3-) value -2; it must be a "
       "number of at least 0."},
      {"a concentration map that is not there", [] { std::remove("case_dp.asc"); },
       "Error opening initial condition continuous map file \nfor the grid Dissolved Phosphorous "
       "(Dissolved P) constituent. \nGiven filename: case_dp.asc"},
  };
  for (const row& r : rows) {
    write_case("");
    r.spoil();
    const torva_test::command_result run = torva_test::run_with_threads("case.prj", 1);
    EXPECT_NE(run.status, 0) << r.what;
    EXPECT_TRUE(contains(run.out, r.message)) << r.what << "\n" << run.out;
  }
}

// The nutrient example (examples/small_nutrient) on 1 and 8 threads: 108 cells of clay whose top
// 5 cm hold 2.85 kg of nitrogen and 1.07 kg of phosphorus pools each, under rain that brings
// nitrogen and dissolved phosphorus; the pools release into the ponded water, which drains
// through the outlet. Both elements are kept to 1e-9 of what came in, and the outlet series ends
// on the summary's outlet flux.
TEST(NutrientCases, ExampleKeepsItsNitrogenAndPhosphorus) {
  temp_dir dir;
  const std::filesystem::path example =
      std::filesystem::path(TORVA_SOURCE_DIR) / "examples" / "small_nutrient";
  for (const auto& e : std::filesystem::directory_iterator(example))
    if (e.is_regular_file())
      std::filesystem::copy_file(e.path(), e.path().filename(),
                                 std::filesystem::copy_options::overwrite_existing);
  const torva_test::thread_runs runs =
      torva_test::run_at_compared_thread_counts("nutrient.prj", [] {
        return read_file("nutrient_summary.out") + read_file("nutrient_no3_outlet.mass") +
               read_file("nutrient_total_n.dat");
      });
  const std::string s = read_file("nutrient_summary.out");
  const struct {
    const char* books;
    double soil_init;
  } elements[] = {{"Nutrient nitrogen books", 108 * 2.85},
                  {"Nutrient phosphorus books", 108 * 1.07}};
  for (const auto& e : elements) {
    const double soil_init = number_after(s, e.books, "Initial mass in soil pools");
    EXPECT_NEAR(soil_init, e.soil_init, 1e-12 * e.soil_init) << e.books;
    const double in = number_after(s, e.books, "Initial mass in water") + soil_init +
                      number_after(s, e.books, "Precipitation mass gain");
    const double out = number_after(s, e.books, "Outlet mass flux");
    EXPECT_GT(out, 0.1) << e.books;
    EXPECT_NEAR(out + number_after(s, e.books, "Final mass in water") +
                    number_after(s, e.books, "Final mass in soil"),
                in, 1e-9 * in)
        << s;
  }
  const std::string mass = read_file("nutrient_no3_outlet.mass");
  std::istringstream last(mass.substr(mass.rfind('\n', mass.size() - 2) + 1));
  double t = 0.0, m = 0.0;
  last >> t >> m;
  EXPECT_DOUBLE_EQ(t, 60.0);
  EXPECT_NEAR(
      m, number_after(s, "Constituent Transport Summary for Nitrate (NO3-)", "Outlet mass flux"),
      0.006);
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6);
}

}  // namespace nutrient_cases_tests
