// The nutrient sub-model in long-term runs, by the real torva executable on 1 and 8 threads with
// the same outputs: three days of hourly weather over four cells of a redistribution soil whose
// mixing layer holds nitrogen and phosphorus pools, two one-hour storms 34 hours apart whose rain
// carries nitrogen species. The pools release into the water that stands on the cells, the water
// runs off and soaks in, the dry spell between the storms is skipped ahead, and nitrogen and
// phosphorus are on the books over both storms: what came in is out at the outlet, in the water
// or in the soil.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "support/summary_reader.h"
#include "support/table_fixtures.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace longterm_nutrient_cases {

constexpr double cell = 100.0;  // m
constexpr double area = 4 * cell * cell;

std::string map(double value) {
  std::ostringstream s;
  s << torva_test::grid_header(2, 2, cell) << value << " " << value << "\n"
    << value << " " << value << "\n";
  return s.str();
}

// Warm dry sunny weather, hourly from 1 March 2005 0:00 for three days.
std::string weather() {
  std::ostringstream s;
  for (int k = 0; k < 72; ++k) {
    const int hour = k % 24;
    s << "2005 3 " << 1 + k / 24 << " " << hour << " 29.92 30 0 6 77 0.0 "
      << (hour >= 7 && hour <= 17 ? 600.0 : 0.0) << "\n";
  }
  return s.str();
}

std::string table(const std::string& keyword, const std::string& values,
                  const std::string& precip = "") {
  return keyword + " Soils\nNUM_IDS 1\n" + precip + torva_test::table_column_header +
         torva_test::table_row(1, values);
}

// The project: a redistribution soil conducting 3 cm/h under storms of `rain_mm_h` at 2:00 on the
// first day and 12:00 on the second. The rain carries NO2 5, NO3 150 and NH4 40 g/m3; the
// mixing layer of each cell holds 2 kg of ammonium, 4 kg of nitrate and 1 kg of organic active
// nitrogen, 1 kg of solution phosphorus and 0.5 kg of organic active phosphorus, released into
// standing water at 5 per day. No water and no species on the surface at the start.
void write_case(double rain_mm_h) {
  write_file("ln_mask.asc", map(1));
  write_file("ln_soil.idx", map(1));
  std::ostringstream elev;
  elev << torva_test::grid_header(2, 2, cell) << "10.2 10.1\n10.1 10.0\n";
  write_file("ln_elev.asc", elev.str());
  write_file("ln_ks.asc", map(3.0));
  write_file("ln_hc.asc", map(16.7));
  write_file("ln_por.asc", map(0.45));
  write_file("ln_pore.asc", map(0.25));
  write_file("ln_res.asc", map(0.05));
  write_file("ln_moist.asc", map(0.30));
  write_file("ln_albedo.asc", map(0.2));
  write_file("ln_env.idx", map(1));
  write_file("ln_env.txt",
             "AQUATIC_ENV_NSM10\nOV_MAP ln_env.idx\nNUM_IDS 1\nID heading\n1\n"
             "DEFAULT\n");
  write_file("ln_weather.txt", weather());
  std::ostringstream rain;
  rain << "EVENT \"first\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nRATES 2005 3 1 2 0 " << rain_mm_h
       << "\nRATES 2005 3 1 3 0 0.0\nEVENT \"second\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
       << "RATES 2005 3 2 12 0 " << rain_mm_h << "\nRATES 2005 3 2 13 0 0.0\n";
  write_file("ln_rain.gag", rain.str());
  write_file("ln_tables.cmt", torva_test::table_file_magic + "INDEX_MAP ln_soil.idx Soils\n" +
                                  table("NSM_N", "0 0 0 0", "PRECIP_CONC 5 150 40 0\n") +
                                  table("NSM_SOIL_N", "2 4 1 0 0") +
                                  table("NSM_SOIL_P", "0 1 0 0.5 0 0"));
  write_file("ln.prj",
             "TORVAPROJECT\nWATERSHED_MASK ln_mask.asc\nELEVATION ln_elev.asc\n"
             "SUMMARY ln_summary.out\nOUTLET_HYDRO ln_outlet.out\nROWS 2\nCOLS 2\n"
             "GRIDSIZE 100.0\nTIMESTEP 30\nOUTROW 2\nOUTCOL 2\nOUTSLOPE 0.001\nHYD_FREQ 60\n"
             "MANNING_N 0.05\nOVERTYPE explicit\nPRECIP_FILE ln_rain.gag\nRAIN_INV_DISTANCE\n"
             "LONG_TERM\nHMET_OBU ln_weather.txt\nALBEDO ln_albedo.asc\nLATITUDE 40.0\n"
             "LONGITUDE 90.0\nGMT -6\nINF_REDIST\nCONDUCTIVITY ln_ks.asc\nCAPILLARY ln_hc.asc\n"
             "POROSITY ln_por.asc\nPORE_INDEX ln_pore.asc\nRESIDUAL_SAT ln_res.asc\n"
             "MOISTURE ln_moist.asc\nSOIL_MOIST_DEPTH 0.6\nTOP_LAYER_DEPTH 0.2\n"
             "ET_CALC_DEARDORFF\nMAPPING_TABLE ln_tables.cmt\nSOIL_CON_TRANS\n"
             "MIXING_LAYER_DEPTH 0.1\nNUTRIENTS\nAQ_ENV ln_env.txt\nWATER_TEMP 20\nCHAN_PH 7.5\n"
             "OV_UPTAKE_RATE 5\nOV_INIT_NO2\nOV_INIT_NO3\nOV_INIT_NH4\nOV_INIT_ON\n"
             "SOILS_NSM_N\nSOILS_NSM_P\n");
}

// The number after the first line of `text` from `after` on that starts with `label`.
double number_after(const std::string& text, const std::string& after, const std::string& label) {
  const std::size_t from = text.find(after);
  if (from == std::string::npos) return std::nan("");
  const std::size_t at = text.find("\n" + label, from);
  if (at == std::string::npos) return std::nan("");
  return summary_number(text.substr(at + 1), label);
}

TEST(LongTermNutrientCases, NitrogenAndPhosphorusAreKeptOverTwoStormsAndTheSkippedSpell) {
  struct storm_case {
    const char* what;
    double rain_mm_h;
    bool runs_off;  // water stands on the cells and leaves through the outlet
  };
  const storm_case cases[] = {
      {"rain the soil takes whole", 10.0, false},
      {"rain that ponds and runs off", 60.0, true},
  };
  for (const storm_case& sc : cases) {
    SCOPED_TRACE(sc.what);
    temp_dir dir;
    write_case(sc.rain_mm_h);
    torva_test::run_at_compared_thread_counts(
        "ln.prj", [] { return read_file("ln_summary.out") + read_file("ln_outlet.out"); });
    const std::string s = read_file("ln_summary.out");

    // The surface's schedules, the nutrients' with them, jumped the spell between the storms.
    EXPECT_EQ(summary_number(s, "Dry spells skipped ahead="), 1.0) << s;

    const struct {
      const char* books;
      double soil_init;  // kg, by hand: per cell 7 kg of nitrogen and 1.5 kg of phosphorus
      double rain;       // kg, by hand: (5 + 150 + 40) g/m3 of the rain of both storms
    } elements[] = {
        {"Nutrient nitrogen books", 4 * 7.0,
         (5.0 + 150.0 + 40.0) * 2 * sc.rain_mm_h / 1000.0 * area / 1000.0},
        {"Nutrient phosphorus books", 4 * 1.5, 0.0},
    };
    for (const auto& e : elements) {
      SCOPED_TRACE(e.books);
      const double water_init = number_after(s, e.books, "Initial mass in water");
      const double soil_init = number_after(s, e.books, "Initial mass in soil pools");
      const double rain = number_after(s, e.books, "Precipitation mass gain");
      const double out = number_after(s, e.books, "Outlet mass flux");
      const double water = number_after(s, e.books, "Final mass in water");
      const double soil = number_after(s, e.books, "Final mass in soil");
      EXPECT_EQ(water_init, 0.0);
      EXPECT_NEAR(soil_init, e.soil_init, 1e-12 * e.soil_init);
      EXPECT_NEAR(rain, e.rain, 1e-6 * e.rain + 1e-12);
      EXPECT_EQ(number_after(s, e.books, "Mass restored to emptied cells"), 0.0);
      // In = out + stored, to 1e-9 of what came in.
      const double in = water_init + soil_init + rain;
      EXPECT_NEAR(out + water + soil, in, 1e-9 * in) << s;
      if (sc.runs_off)
        EXPECT_GT(out, 1e-3);  // the pools released into water that reached the outlet
      else
        EXPECT_EQ(out, 0.0);
    }
    const torva_test::summary_balance b = torva_test::read_summary_balance(s);
    ASSERT_TRUE(b.has_totals) << s;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << s;
  }
}

}  // namespace longterm_nutrient_cases
