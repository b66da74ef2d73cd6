// Dissolved constituents in long-term runs, by the real torva executable on 1 and 8 threads with
// the same outputs: three days of hourly weather over four cells of a redistribution soil, two
// one-hour storms 34 hours apart whose rain carries a tracer. The dry spell between the storms is
// skipped ahead with the constituents' schedules; the tracer that soaked into the soil in the
// first storm decays through the whole spell as exp(-k t), and over both storms every gram is on
// the books: what the rain brought is out at the outlet, still in the water or the soil, or
// decayed.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace longterm_contam_cases {

constexpr double cell = 100.0;  // m
constexpr double area = 4 * cell * cell;
constexpr double decay_per_day = 1.0;
constexpr double rain_conc = 1e9;  // g/m3

std::string map(double value) {
  std::ostringstream s;
  s << torva_test::grid_header(2, 2, cell) << value << " " << value << "\n"
    << value << " " << value << "\n";
  return s.str();
}

// Warm dry sunny weather, hourly from 1 March 2005 0:00 for three days; the first day's air at
// `first_day_f` degrees Fahrenheit.
std::string weather(int first_day_f = 77) {
  std::ostringstream s;
  for (int k = 0; k < 72; ++k) {
    const int hour = k % 24;
    s << "2005 3 " << 1 + k / 24 << " " << hour << " 29.92 30 0 6 " << (k < 24 ? first_day_f : 77)
      << " 0.0 " << (hour >= 7 && hour <= 17 ? 600.0 : 0.0) << "\n";
  }
  return s.str();
}

// The project: a redistribution soil conducting 3 cm/h, storms of `rain_mm_h` at 2:00 on the
// first day and 12:00 on the second, the tracer decaying at 1 per day in the water and the soil,
// without sorption (Kd 0), nothing of it in the water or the soil at the start.
void write_case(double rain_mm_h, const std::string& extra = "", int first_day_f = 77) {
  write_file("lc_mask.asc", map(1));
  write_file("lc_soil.idx", map(1));
  std::ostringstream elev;
  elev << torva_test::grid_header(2, 2, cell) << "10.2 10.1\n10.1 10.0\n";
  write_file("lc_elev.asc", elev.str());
  write_file("lc_ks.asc", map(3.0));
  write_file("lc_hc.asc", map(16.7));
  write_file("lc_por.asc", map(0.45));
  write_file("lc_pore.asc", map(0.25));
  write_file("lc_res.asc", map(0.05));
  write_file("lc_moist.asc", map(0.30));
  write_file("lc_albedo.asc", map(0.2));
  write_file("lc_weather.txt", weather(first_day_f));
  std::ostringstream rain;
  rain << "EVENT \"first\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nRATES 2005 3 1 2 0 " << rain_mm_h
       << "\nRATES 2005 3 1 3 0 0.0\nEVENT \"second\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
       << "RATES 2005 3 2 12 0 " << rain_mm_h << "\nRATES 2005 3 2 13 0 0.0\n";
  write_file("lc_rain.gag", rain.str());
  std::string row = "     1 soil";
  row.resize(86, ' ');
  // Dispersion, decay per day, exchange rate, land load, groundwater concentration, initial
  // water concentration, soil partition coefficient, land concentration.
  write_file("lc_tables.cmt",
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP lc_soil.idx \"Soils\"\n"
             "CONTAMINANT_TRANSPORT Soils\nNUM_CONTAM 1\n\"tracer\" \"Soils\" \"tracer.out\"\n"
             "PRECIP_CONC 1e9\nPARTITION 0\nNUM_IDS 1\n"
             "ID    DESCRIPTION                                  VALUES\n" +
                 row + "0 1.0 0 0 0 0 0 0\n");
  write_file("lc.prj",
             "TORVAPROJECT\nWATERSHED_MASK lc_mask.asc\nELEVATION lc_elev.asc\n"
             "SUMMARY lc_summary.out\nOUTLET_HYDRO lc_outlet.out\nROWS 2\nCOLS 2\n"
             "GRIDSIZE 100.0\nTIMESTEP 30\nOUTROW 2\nOUTCOL 2\nOUTSLOPE 0.001\nHYD_FREQ 60\n"
             "MANNING_N 0.05\nOVERTYPE explicit\nPRECIP_FILE lc_rain.gag\nRAIN_INV_DISTANCE\n"
             "LONG_TERM\nHMET_OBU lc_weather.txt\nALBEDO lc_albedo.asc\nLATITUDE 40.0\n"
             "LONGITUDE 90.0\nGMT -6\nINF_REDIST\nCONDUCTIVITY lc_ks.asc\nCAPILLARY lc_hc.asc\n"
             "POROSITY lc_por.asc\nPORE_INDEX lc_pore.asc\nRESIDUAL_SAT lc_res.asc\n"
             "MOISTURE lc_moist.asc\nSOIL_MOIST_DEPTH 0.6\nTOP_LAYER_DEPTH 0.2\n"
             "ET_CALC_DEARDORFF\nMAPPING_TABLE lc_tables.cmt\nOV_CON_TRANS\nSOIL_CON_TRANS\n"
             "MIXING_LAYER_DEPTH 0.1\n" +
                 extra);
}

// The number after the first (or last) line of the summary that starts with `label`.
double first_number(const std::string& text, const std::string& label) {
  return summary_number(text, label);
}
double last_number(const std::string& text, const std::string& label) {
  const std::size_t at = text.rfind("\n" + label);
  if (at == std::string::npos) return std::nan("");
  return summary_number(text.substr(at + 1), label);
}

TEST(LongTermContamCases, ATracerDecaysThroughTheSkippedDrySpellAndItsBooksCloseOverTwoStorms) {
  struct storm_case {
    const char* what;
    double rain_mm_h;
    bool soaks_in;  // the soil takes all the rain: nothing runs off or stands on the surface
  };
  const storm_case cases[] = {
      {"rain the soil takes whole", 10.0, true},
      {"rain that ponds and runs off", 60.0, false},
  };
  for (const storm_case& sc : cases) {
    SCOPED_TRACE(sc.what);
    temp_dir dir;
    write_case(sc.rain_mm_h);
    const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
        "lc.prj", [] { return read_file("lc_summary.out") + read_file("lc_outlet.out"); });
    const std::string s = read_file("lc_summary.out");

    // The surface's schedules, the constituents' with them, jumped the spell between the storms.
    EXPECT_EQ(summary_number(s, "Dry spells skipped ahead="), 1.0) << s;

    // The rain's load: the rain of both storms on the four cells at 1e9 g/m3 (kg).
    const double rain = last_number(s, "Precipitation inputs");
    EXPECT_NEAR(rain, 2 * sc.rain_mm_h / 1000.0 * area * rain_conc / 1000.0, 1e-6 * rain);

    // In = out + stored + decayed, to 1e-9 of the input (printed to 0.01 kg of some 1e9 kg).
    const double init = last_number(s, "Total initial mass");
    const double final_mass = last_number(s, "Total final Mass");
    const double out = last_number(s, "Total mass out of system");
    const double decayed = last_number(s, "Mass decay loss");
    EXPECT_EQ(init, 0.0);
    EXPECT_GT(decayed, 0.1 * rain);
    EXPECT_NEAR(final_mass + out + decayed, init + rain, 1e-9 * rain) << s;
    // The soil's and the water's books each close on their own.
    const double soil_in = last_number(s, "Mass added by infiltration");
    EXPECT_NEAR(last_number(s, "Initial Mass in Soil Column") + soil_in,
                last_number(s, "Final Mass in Soil Column") + last_number(s, "Uptake from soil") +
                    last_number(s, "Soil decay mass"),
                1e-9 * rain)
        << s;
    EXPECT_NEAR(
        last_number(s, "Initial Dissolved mass on ov") + last_number(s, "Precipitation mass gain"),
        last_number(s, "Final Dissolved mass on ov") + soil_in +
            last_number(s, "Outlet mass flux") + last_number(s, "Mass decay loss on overland") +
            last_number(s, "Mass left on land by drying"),
        1e-9 * rain)
        << s;
    // And the water's.
    const torva_test::summary_balance b = torva_test::read_summary_balance(s);
    ASSERT_TRUE(b.has_totals) << s;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << s;

    if (sc.soaks_in) {
      // Nothing left the plane; the tracer of each storm entered the soil evenly over the storm's
      // hour h and decays from then on at k. The run ends with the second event. By hand, the
      // load L of a storm ending at t_e is, at the end T,
      //   L x (1 - exp(-k h)) / (k h) x exp(-k (T - t_e)),
      // the first storm's through the whole dry spell between the two.
      EXPECT_EQ(out, 0.0);
      const double h = 1.0 / 24.0;  // days
      const double first_end = first_number(s, "Event began on strict Julian date:") + h;
      const double second_end = last_number(s, "Event began on strict Julian date:") + h;
      const double end = last_number(s, "Event ended on strict Julian date:");
      ASSERT_GT(second_end - first_end, 1.3);  // the spell between the storms, days
      const double k = decay_per_day;
      const double spread = (1.0 - std::exp(-k * h)) / (k * h);
      const double storm_load = rain / 2.0;
      const double by_hand = storm_load * spread *
                             (std::exp(-k * (end - first_end)) + std::exp(-k * (end - second_end)));
      EXPECT_NEAR(final_mass, by_hand, 1e-3 * by_hand) << s;
    } else {
      // Water stood on the surface and ran off: the tracer decayed in it and left with it.
      EXPECT_GT(out, 0.0);
      EXPECT_GT(last_number(s, "Mass decay loss on overland"), 0.0);
    }
  }
}

// The two storms of the case above on cells that start under 5 cm of snow, which the warm air
// melts. No card gives the snow a concentration, so its melt enters the cells clean: the tracer's
// only input is the rain's load, by hand, and every gram of it is out, stored or decayed, to 1e-9
// of it, with the melt water on the run's books.
TEST(LongTermContamCases, SnowMeltsCleanIntoTheConstituentsCells) {
  temp_dir dir;
  write_case(60.0, "INIT_SWE_DEPTH 0.05\n");
  torva_test::run_at_compared_thread_counts(
      "lc.prj", [] { return read_file("lc_summary.out") + read_file("lc_outlet.out"); });
  const std::string s = read_file("lc_summary.out");
  const double snow_init = summary_number(s, "Initial volume of snow=");
  EXPECT_NEAR(snow_init, 0.05 * area, 0.01);
  EXPECT_LT(summary_number(s, "Final volume of snow="), 0.5 * snow_init) << s;
  const double rain = last_number(s, "Precipitation inputs");
  EXPECT_NEAR(rain, 2 * 60.0 / 1000.0 * area * rain_conc / 1000.0, 1e-6 * rain);
  const double init = last_number(s, "Total initial mass");
  const double out = last_number(s, "Total mass out of system");
  EXPECT_EQ(init, 0.0);
  EXPECT_GT(out, 0.0);
  // What the transport scheme had to give back to cells it left below empty is on the books too,
  // and small.
  const double restored = last_number(s, "Mass restored to emptied cells");
  EXPECT_LT(restored, 1e-4 * rain);
  EXPECT_NEAR(last_number(s, "Total final Mass") + out + last_number(s, "Mass decay loss"),
              rain + restored, 1e-9 * rain)
      << s;
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  ASSERT_TRUE(b.has_totals) << s;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << s;
}

// The two storms of the first case with the first day's air below freezing (14 F): the first
// storm falls as snow, which no card gives a concentration, so it brings no load; the second
// falls as rain on the second day, warm, and melts the snow. The tracer's only input is the
// second storm's rain load, by hand, and every gram of it is out, stored or decayed, to 1e-9.
TEST(LongTermContamCases, PrecipitationFallingAsSnowBringsNoLoad) {
  temp_dir dir;
  write_case(60.0, "", 14);
  torva_test::run_at_compared_thread_counts(
      "lc.prj", [] { return read_file("lc_summary.out") + read_file("lc_outlet.out"); });
  const std::string s = read_file("lc_summary.out");
  // Both storms' water is on the run's books, the first's as snow.
  EXPECT_NEAR(summary_number(s, "Total amount of precip="), 2 * 0.06 * area, 0.01) << s;
  const double rain = last_number(s, "Precipitation inputs");
  const double by_hand = 60.0 / 1000.0 * area * rain_conc / 1000.0;
  EXPECT_NEAR(rain, by_hand, 1e-6 * by_hand) << s;
  const double restored = last_number(s, "Mass restored to emptied cells");
  EXPECT_NEAR(last_number(s, "Total final Mass") + last_number(s, "Total mass out of system") +
                  last_number(s, "Mass decay loss"),
              rain + restored, 1e-9 * rain)
      << s;
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  ASSERT_TRUE(b.has_totals) << s;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << s;
}

}  // namespace longterm_contam_cases
