// Long-term runs by the real torva executable, on 1 and 8 threads with the same outputs: three
// days of hourly weather over four cells of a redistribution soil, the only storm a month later.
// Under snow in mild air the snow water equivalent falls by the hourly melt of the energy
// balance worked by hand below, every hour of the run and no more, the melt stays on the surface
// and the run's books, snow included, close to 1e-6 percent. Without snow, under sun, the soil
// loses to evapotranspiration what the summary books as evaporation, by Deardorff's bulk
// evaporation and by Penman-Monteith. Weather files that end before the run or hold bad records
// stop it with a message naming the file and the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "channel/channel_steps.h"
#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "overland/overland_steps.h"
#include "run/run_driver.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::command_result;
using torva_test::contains;
using torva_test::grid_header;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

constexpr int hours = 72;       // hourly weather records
constexpr double cell = 100.0;  // m
constexpr double area = 4 * cell * cell;

std::string map(double value) {
  std::ostringstream s;
  s << grid_header(2, 2, cell) << value << " " << value << "\n" << value << " " << value << "\n";
  return s.str();
}

// OBU weather: `hours` records from 1 March 2005 0:00 of one air (temperature in F, sky in
// percent, wind in knots, global radiation by the hour's sun when `sunny`).
std::string weather(int temp_f, int rh, int sky, int wind, bool sunny, int records = hours) {
  std::ostringstream s;
  for (int k = 0; k < records; ++k) {
    const int hour = k % 24;
    const double global = sunny && hour >= 7 && hour <= 17 ? 600.0 : 0.0;
    s << "2005 3 " << 1 + k / 24 << " " << hour << " 29.92 " << rh << " " << sky << " " << wind
      << " " << temp_f << " 0.0 " << global << "\n";
  }
  return s.str();
}

constexpr const char* deardorff = "ET_CALC_DEARDORFF\n";
constexpr const char* penman =
    "ET_CALC_PENMAN\nVHEIGHT lt_vh.asc\nTCOEFF lt_tc.asc\nCANOPY lt_rs.asc\n"
    "WILTING_POINT lt_wp.asc\n";

void write_case(const std::string& weather_text, const std::string& extra_cards,
                const char* et_method = deardorff) {
  write_file("lt_mask.asc", map(1));
  std::ostringstream elev;
  elev << grid_header(2, 2, cell) << "10.2 10.1\n10.1 10.0\n";
  write_file("lt_elev.asc", elev.str());
  write_file("lt_ks.asc", map(0.65));
  write_file("lt_hc.asc", map(16.7));
  write_file("lt_por.asc", map(0.45));
  write_file("lt_pore.asc", map(0.25));
  write_file("lt_res.asc", map(0.05));
  write_file("lt_moist.asc", map(0.30));
  write_file("lt_albedo.asc", map(0.2));
  write_file("lt_vh.asc", map(0.3));   // grass 30 cm high
  write_file("lt_tc.asc", map(0.8));   // transmission coefficient
  write_file("lt_rs.asc", map(70.0));  // canopy resistance (s/m)
  write_file("lt_wp.asc", map(0.10));  // wilting point
  write_file("lt_weather.txt", weather_text);
  write_file("lt_rain.gag",
             "EVENT \"a month later\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
             "RATES 2005 4 1 0 0 5.0\nRATES 2005 4 1 1 0 0.0\n");
  write_file("lt.prj",
             "TORVAPROJECT\nWATERSHED_MASK lt_mask.asc\nELEVATION lt_elev.asc\n"
             "SUMMARY lt_summary.out\nOUTLET_HYDRO lt_outlet.out\nROWS 2\nCOLS 2\n"
             "GRIDSIZE 100.0\nTIMESTEP 300\nOUTROW 2\nOUTCOL 2\nOUTSLOPE 0.001\nHYD_FREQ 60\n"
             "MANNING_N 0.05\nOVERTYPE explicit\nPRECIP_FILE lt_rain.gag\nRAIN_INV_DISTANCE\n"
             "LONG_TERM\nHMET_OBU lt_weather.txt\nALBEDO lt_albedo.asc\n"
             "LATITUDE 40.0\nLONGITUDE 90.0\nGMT -6\nINF_REDIST\nCONDUCTIVITY lt_ks.asc\n"
             "CAPILLARY lt_hc.asc\nPOROSITY lt_por.asc\nPORE_INDEX lt_pore.asc\n"
             "RESIDUAL_SAT lt_res.asc\nMOISTURE lt_moist.asc\nSOIL_MOIST_DEPTH 0.6\n"
             "TOP_LAYER_DEPTH 0.2\n" +
                 std::string(et_method) + extra_cards);
}

std::string books() {
  return read_file("lt_summary.out") + read_file("lt_outlet.out");
}

TEST(LongTermCases, SnowMeltsByTheEnergyBalanceEveryHourOfTheRunAndTheBooksCloseWithIt) {
  temp_dir dir;
  // 41 F, 80 %, 8 knots, 29.92 inches of mercury: 5 C, 4.115552 m/s, 1013.25 mb.
  write_case(weather(41, 80, 50, 8, false), "INIT_SWE_DEPTH 0.2\n");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("lt.prj", books);
  // The melt of one hour, by hand, at T = 5 C, RH = 80 %, u = 4.115552 m/s, P = 1013.25 mb:
  //   wind function f = 4.115552 x 0.0002 / 1000 x 3600 = 0.00296320
  //   longwave  278.15^4 x 4.956e-9 - 27 = 5.985718e9 x 4.956e-9 - 27 = 2.66522
  //   vapour    (exp(-4278.6 / 247.8) x 2.749e8 x 0.8 - 6.11) x f x 600 = (6.97569 - 6.11)
  //   x 1.77792
  //             = 1.53912
  //   sensible  1013.25 x 0.00061 x 600 x f x 5 = 5.49450
  //   Q = 9.69884 langleys per hour; melt = Q / 80 cm = 1.212355e-3 m per hour.
  const double f = 4.115552 * 0.0002 / 1000.0 * 3600.0;
  const double q = std::pow(278.15, 4) * 4.956e-9 - 27.0 +
                   (std::exp(-4278.6 / 247.8) * 2.749e8 * 0.8 - 6.11) * f * 600.0 +
                   1013.25 * 0.00061 * 600.0 * f * 5.0;
  ASSERT_NEAR(q, 9.69884, 1e-5);
  const double melt_per_hour = q / 80.0 / 100.0;
  // The run starts with the first record and ends when the data run out, 72 hours later: 72
  // hours of melt.
  const double snow_final = (0.2 - hours * melt_per_hour) * area;
  const std::string summary = read_file("lt_summary.out");
  EXPECT_NEAR(summary_number(summary, "Initial volume of snow="), 0.2 * area, 0.01);
  EXPECT_NEAR(summary_number(summary, "Final volume of snow="), snow_final, 0.01) << summary;
  // The melt lies on the surface until the storm: nothing routes between storms.
  EXPECT_NEAR(summary_number(summary, "Final volume on surface="), 0.2 * area - snow_final, 0.01);
  const summary_balance b = read_summary_balance(summary);
  ASSERT_TRUE(b.has_totals) << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
  EXPECT_TRUE(contains(runs.run[0].out, "End of meteorology data reached.  TORVA terminated"))
      << runs.run[0].out;
}

TEST(LongTermCases, WithoutSnowTheSoilLosesToEvapotranspirationWhatTheBooksCallEvaporation) {
  for (const char* method : {deardorff, penman}) {
    SCOPED_TRACE(method);
    temp_dir dir;
    // 77 F, 30 %, clear, 6 knots, the March sun at 40 degrees north.
    write_case(weather(77, 30, 0, 6, true), "", method);
    const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("lt.prj", books);
    const std::string summary = read_file("lt_summary.out");
    const double soil_init =
        summary_number(summary, "Initial volume in soil over simple soil depth");
    const double soil_final =
        summary_number(summary, "Final volume in soil over simple soil depth");
    const double evap = summary_number(summary, "Total amount of evaporation=");
    const double down = summary_number(summary, "Total downward flux from unsaturated zone=");
    // 0.30 over the 60 cm soil of the four cells.
    EXPECT_NEAR(soil_init, 0.30 * 0.6 * area, 0.01);
    EXPECT_GT(evap, 1.0) << summary;
    // What the soil lost went down and up, nothing else (the printed volumes' rounding aside).
    EXPECT_NEAR(soil_init - soil_final, evap + down, 0.02) << summary;
    const summary_balance b = read_summary_balance(summary);
    ASSERT_TRUE(b.has_totals) << summary;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
    // The hourly report lines, one per hour of weather.
    const std::string evap_lines = read_file("evap_out");
    int lines = 0;
    for (char ch : evap_lines) lines += ch == '\n';
    EXPECT_EQ(lines, 1 + hours) << evap_lines;
  }
}

TEST(LongTermCases, TheDrySpellBetweenTwoStormsIsSkippedAheadAndTheBooksStillClose) {
  temp_dir dir;
  write_case(weather(77, 30, 0, 6, true), "");
  // Two one-hour storms of 30 mm/h, 34 hours apart: the surface of the first has drained or
  // soaked in well before the second, so the overland schedule jumps over the dry spell.
  write_file("lt_rain.gag",
             "EVENT \"first\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
             "RATES 2005 3 1 2 0 30.0\nRATES 2005 3 1 3 0 0.0\n"
             "EVENT \"second\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
             "RATES 2005 3 2 12 0 30.0\nRATES 2005 3 2 13 0 0.0\n");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("lt.prj", books);
  const std::string summary = read_file("lt_summary.out");
  // The jump is counted in the summary: once, over the spell between the storms (the spell
  // after the last storm has no next event to jump to).
  EXPECT_EQ(summary_number(summary, "Dry spells skipped ahead="), 1.0) << summary;
  // 30 mm on the four cells twice, all of it on the books.
  EXPECT_NEAR(summary_number(summary, "Total amount of precip="), 2 * 0.03 * area, 0.01);
  const summary_balance b = read_summary_balance(summary);
  ASSERT_TRUE(b.has_totals) << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
  EXPECT_GT(summary_number(summary, "Total amount of infiltration="), 0.5 * 2 * 0.03 * area);
  EXPECT_TRUE(contains(runs.run[0].out, "End of meteorology data reached.  TORVA terminated") ||
              contains(runs.run[0].out, "simulation ended normally"))
      << runs.run[0].out;
}

// Two storms whose ponded water the sun evaporates between them: what the surface loses to the
// weather in the gap is direct evaporation on the surface's books and not the soil's. Every book
// closes, on the redistribution soil and on the layered soil, with the dry spell skipped ahead
// (the executable at 1 and 8 threads) and with every step of it stepped (the run driven with the
// skip turned off).
constexpr const char* two_storms =
    "EVENT \"first\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
    "RATES 2005 3 1 2 0 30.0\nRATES 2005 3 1 3 0 0.0\n"
    "EVENT \"second\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
    "RATES 2005 3 2 12 0 30.0\nRATES 2005 3 2 13 0 0.0\n";

// The redistribution soil of write_case replaced by three layers of the same loam.
void use_layered_soil() {
  std::string project = read_file("lt.prj");
  const std::size_t from = project.find("INF_REDIST\n");
  const std::size_t to = project.find("TOP_LAYER_DEPTH");
  ASSERT_NE(from, std::string::npos);
  ASSERT_NE(to, std::string::npos);
  project.replace(from, project.find('\n', to) + 1 - from,
                  "INF_LAYERED_SOIL\nSOIL_TYPE_MAP lt_soil.asc\nSOIL_LAYER_INPUT_FILE "
                  "lt_layers.txt\n");
  write_file("lt.prj", project);
  std::ostringstream soil;
  soil << grid_header(2, 2, cell) << "7 7\n7 7\n";
  write_file("lt_soil.asc", soil.str());
  // Ks (cm/h), pore index, capillary head (cm), porosity, field capacity, wilting point,
  // residual and initial contents, thickness (cm).
  write_file("lt_layers.txt",
             "1\n0\n7 loam\n0.65 0.25 16.7 0.45 0.30 0.10 0.05 0.30 20.0\n"
             "0.65 0.25 16.7 0.45 0.30 0.10 0.05 0.30 40.0\n"
             "0.65 0.25 16.7 0.45 0.30 0.10 0.05 0.30\n");
}

// The start-up of the run with the skip ahead turned off.
void clock_without_skip(model_state& ms) {
  default_run_steps().init_simulation_clock(ms);
  ms.overland.dry_skip_off = 1;
}

// Every balance of the summary closes to 1e-6 percent, and the surface's by hand from its
// printed volumes (each rounded to 0.005 m3).
void expect_books_close(const std::string& summary) {
  const summary_balance b = read_summary_balance(summary);
  ASSERT_TRUE(b.has_totals) << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
  EXPECT_LT(std::fabs(b.run_surface_error), 1e-6) << summary;
  EXPECT_LT(std::fabs(summary_number(summary, "Simple soil moisture mass balance =")), 1e-6)
      << summary;
  const double direct = summary_number(summary, "Total direct evaporation=");
  EXPECT_NEAR(b.run_ov_init + b.run_precip,
              b.run_ov_final + b.run_infiltration + b.run_discharge + direct, 0.025)
      << summary;
  // The soil's own books: what it took in, less what went up from it and down out of it.
  const double soil_in = summary_number(summary, "Initial volume in soil over simple soil depth");
  const double soil_out = summary_number(summary, "Final volume in soil over simple soil depth");
  const double evap = summary_number(summary, "Total amount of evaporation=");
  const double down = summary_number(summary, "Total downward flux from unsaturated zone=");
  EXPECT_NEAR(soil_in + b.run_infiltration - (evap - direct) - down, soil_out, 0.03) << summary;
}

TEST(LongTermCases, OverTwoStormsTheWaterPondsLoseToTheSunIsOnTheSurfaceBooks) {
  for (const bool layered : {false, true}) {
    SCOPED_TRACE(layered ? "layered soil" : "redistribution soil");
    {
      temp_dir dir;
      write_case(weather(77, 30, 0, 6, true), "");
      write_file("lt_rain.gag", two_storms);
      if (layered) use_layered_soil();
      const torva_test::thread_runs runs =
          torva_test::run_at_compared_thread_counts("lt.prj", books);
      const std::string summary = read_file("lt_summary.out");
      EXPECT_EQ(summary_number(summary, "Dry spells skipped ahead="), 1.0) << summary;
      expect_books_close(summary);
      // Both storms leave ponds that the afternoon sun takes in part.
      EXPECT_GT(summary_number(summary, "Total direct evaporation="), 5.0) << summary;
    }
    std::string stepped[2];
    for (int k = 0; k < 2; ++k) {
      const int threads = torva_test::compared_thread_counts[k];
      SCOPED_TRACE(threads);
      temp_dir dir;
      write_case(weather(77, 30, 0, 6, true), "NUM_THREADS " + std::to_string(threads) + "\n");
      write_file("lt_rain.gag", two_storms);
      if (layered) use_layered_soil();
      run_steps steps = default_run_steps();
      steps.init_simulation_clock = clock_without_skip;
      torva_test::stdout_capture capture;
      run_project("lt.prj", nullptr, steps);
      const std::string out = capture.stop();
      ASSERT_EQ(run_error.error_fatal, 0) << out;
      stepped[k] = read_file("lt_summary.out");
      EXPECT_TRUE(std::isnan(summary_number(stepped[k], "Dry spells skipped ahead=")))
          << stepped[k];
      expect_books_close(stepped[k]);
    }
    EXPECT_EQ(stepped[0], stepped[1]);
  }
}

// The Julian days at which the infiltration ran in the last run driven by
// run_counting_infiltration.
std::vector<double> infiltration_runs;

void run_counting_infiltration(const std::string& project) {
  run_steps steps = default_run_steps();
  int replaced = 0;
  for (loop_step& step : steps.time_loop) {
    if (std::string(step.name) != "infiltration_step") continue;
    step.fn = [](model_state& ms) {
      const double last = ms.infil_clock.last;
      default_run_steps().time_loop[8].fn(ms);
      if (ms.infil_clock.last != last) infiltration_runs.push_back(ms.current_time);
    };
    ++replaced;
  }
  ASSERT_EQ(replaced, 1);
  ASSERT_STREQ(default_run_steps().time_loop[8].name, "infiltration_step");
  infiltration_runs.clear();
  torva_test::stdout_capture capture;
  run_project(project.c_str(), nullptr, steps);
  const std::string out = capture.stop();
  ASSERT_EQ(run_error.error_fatal, 0) << out;
}

// The first storm leaves ponds that lie still through the dry spell: the overland schedule jumps
// the spell, but the ponds go on soaking in, the infiltration following them through the spell
// once the rain is over, while the rain of a storm that soaks in whole leaves nothing to take
// between the storms.
TEST(LongTermCases, PondsLeftByAStormGoOnSoakingInThroughTheDrySpell) {
  const struct {
    double rate;  // mm/h for an hour
    bool ponds;   // the storm leaves water on the surface
  } storms[] = {{30.0, true}, {5.0, false}};
  for (const auto& storm : storms) {
    SCOPED_TRACE(storm.rate);
    torva_test::process_state_guard guard;
    temp_dir dir;
    write_case(weather(77, 30, 0, 6, true), "");
    std::ostringstream rain;
    rain << "EVENT \"first\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nRATES 2005 3 1 2 0 " << storm.rate
         << "\nRATES 2005 3 1 3 0 0.0\nEVENT \"second\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
         << "RATES 2005 3 2 12 0 " << storm.rate << "\nRATES 2005 3 2 13 0 0.0\n";
    write_file("lt_rain.gag", rain.str());
    run_counting_infiltration("lt.prj");
    // The spell: from six hours after the first storm to the second.
    const double spell_start = julian_from_date(2005, 3, 1, 9, 0, 0.0);
    const double spell_end = julian_from_date(2005, 3, 2, 12, 0, 0.0);
    int in_spell = 0;
    for (double t : infiltration_runs) in_spell += t > spell_start && t < spell_end;
    const std::string summary = read_file("lt_summary.out");
    EXPECT_EQ(summary_number(summary, "Dry spells skipped ahead="), 1.0) << summary;
    if (storm.ponds) {
      EXPECT_GT(in_spell, 27) << summary;  // 27 hours of spell
    } else {
      EXPECT_EQ(in_spell, 0);
      EXPECT_NEAR(summary_number(summary, "Total amount of infiltration="), 2 * 0.005 * area, 0.01)
          << summary;
    }
    expect_books_close(summary);
  }
}

TEST(LongTermCases, WeatherThatEndsBeforeTheRunOrHoldsBadRecordsStopsIt) {
  const struct {
    std::string weather;
    std::string cards;
    std::string message;
  } cases[] = {
      {weather(41, 80, 50, 8, false), "START_DATE 2005 3 9\nSTART_TIME 0 0\n",
       "Error: the hydrometeorological file lt_weather.txt ends before the run's start"},
      {weather(41, 80, 50, 8, false, 3) + "2005 3 1 3 29.92 80 50 8 41 0.0\n", "",
       "Error: Problem encountered in hmet_OBU file lt_weather.txt, line 4, near parameter 11"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    temp_dir dir;
    write_case(c.weather, c.cards);
    const command_result run = torva_test::run_with_threads("lt.prj", 1);
    EXPECT_NE(run.status, 0) << run.out;
    EXPECT_LT(run.status, 128) << run.err;
    EXPECT_TRUE(contains(run.out, c.message)) << run.out;
  }
}

// The values of every record of a one-superlink pipe output ("TS n", the count, then "1 value"
// per value), record after record.
std::vector<std::vector<double>> pipe_records(const std::string& text) {
  std::vector<std::vector<double>> records;
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    if (word != "TS") continue;
    int record = 0, count = 0;
    in >> record >> count;
    std::vector<double> values;
    for (int i = 0; i < count; ++i) {
      int one = 0;
      double v = 0.0;
      if (!(in >> one >> v)) break;
      values.push_back(v);
    }
    records.push_back(values);
  }
  return records;
}

constexpr const char* manhole_to_outfall =
    "A manhole under the lowest cell, one pipe to a free outfall\n"
    "CONNECT 1 1 2\n"
    "SJUNC 1 10.0 7.0 1.0 2 2 2 1.0 0.6\n"
    "SJUNC 2 9.5 6.5 0.0 888 2 2 0 0\n"
    "SLINK 1 1\n"
    "NODE 1 10.0 7.0 0 0 2 2 0 0\n"
    "NODE 2 9.5 6.5 0 0 2 2 0 0\n"
    "PIPE 1 1 0.3 0 0.005 0.012 100 0 0\n";

// Two storms over the four cells of write_case, whose water gathers in the lowest cell over a
// manhole with two grates; a 100 m pipe of 0.3 m carries it to a free outfall. The pipe runs in
// both storms and drains in the dry spell between them (its flow and depth in the hour before the
// second storm are those of an empty pipe) while the overland schedule skips the spell; the books
// of the surface, the pipes and the run close, and 1 and 8 threads write the same outputs.
TEST(LongTermCases, APipeNetworkDrainsBetweenTwoStormsAndItsBooksClose) {
  temp_dir dir;
  write_case(weather(77, 30, 0, 6, true),
             "STORM_SEWER lt_pipes.slk\nPIPE_FLOW lt_pipe_flow.out\nPIPE_HEAD lt_pipe_head.out\n");
  write_file("lt_rain.gag", two_storms);
  write_file("lt_pipes.slk", manhole_to_outfall);
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("lt.prj", [] {
    return books() + read_file("lt_pipe_flow.out") + read_file("lt_pipe_head.out");
  });
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;
  const std::string summary = read_file("lt_summary.out");

  // Hourly records from the start of the weather (1 March 0:00, record 0): the first storm
  // falls in hour 2, the second in hour 36; the run ends once the second has run off.
  const std::vector<std::vector<double>> flow = pipe_records(read_file("lt_pipe_flow.out"));
  const std::vector<std::vector<double>> head = pipe_records(read_file("lt_pipe_head.out"));
  ASSERT_GE(flow.size(), 38u);
  ASSERT_EQ(flow.size(), head.size());
  for (const std::vector<double>& h : head) ASSERT_EQ(h.size(), 2u);
  double first_storm = 0.0, second_storm = 0.0;
  std::size_t peak = 0;
  for (std::size_t k = 2; k < 10; ++k) {
    if (flow[k][0] > first_storm) peak = k;
    first_storm = std::max(first_storm, flow[k][0]);
  }
  for (std::size_t k = 36; k < flow.size(); ++k) second_storm = std::max(second_storm, flow[k][0]);
  EXPECT_GT(first_storm, 0.005) << summary;
  EXPECT_GT(second_storm, 0.005) << summary;
  // In the spell the pipe goes on draining, hour after hour, while the overland schedule has
  // skipped ahead: its water level falls from the first storm's peak to the film of 0.1 mm.
  EXPECT_EQ(summary_number(summary, "Dry spells skipped ahead="), 1.0) << summary;
  for (std::size_t k = peak + 1; k <= 35; ++k)
    EXPECT_LE(head[k][0], head[k - 1][0] + 1e-9) << "hour " << k;
  EXPECT_LT(head[peak + 2][0], head[peak + 1][0]);
  // The hour before the second storm: the pipe holds only its film and passes nothing.
  EXPECT_LT(std::fabs(flow[35][0]), 1e-6);
  EXPECT_LT(head[35][0] - 7.0, 0.001);
  EXPECT_LT(head[35][1] - 6.5, 0.001);

  // The pipes' books: what the grates took in the two storms is stored or left at the outfall.
  const double taken = summary_number(summary, "Volume of overland to subsurface drains");
  const double lost = summary_number(summary, "Volume of subsurface drains out of the system");
  const double held = summary_number(summary, "Final volume in drains=");
  EXPECT_GT(taken, 10.0) << summary;
  EXPECT_NEAR(taken, lost + held, 0.02) << summary;
  EXPECT_LT(held, 0.05 * taken) << summary;
  EXPECT_NEAR(summary_number(summary, "Subsurface drain mass bal error m^3="), 0.0, 0.01)
      << summary;
  const summary_balance b = read_summary_balance(summary);
  ASSERT_TRUE(b.has_totals) << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
  EXPECT_LT(std::fabs(b.run_surface_error), 1e-6) << summary;
  // The surface by hand: what fell is what stands, soaked in, ran off, evaporated or went down
  // the grates (each printed to 0.005 m3).
  const double direct = summary_number(summary, "Total direct evaporation=");
  EXPECT_NEAR(b.run_ov_init + b.run_precip,
              b.run_ov_final + b.run_infiltration + b.run_discharge + direct + taken, 0.03)
      << summary;
}

// The Julian days of the pipe network's solves in the last run driven by run_recording_pipes;
// with pipes_step_through the network is kept on its every-step schedule, as if it never waited.
std::vector<double> pipe_solves;
bool pipes_step_through = false;

void recording_superlink_step(model_state& ms) {
  const int calls = ms.superlink.call_count;
  superlink_step(ms);
  if (ms.superlink.call_count != calls) pipe_solves.push_back(ms.current_time);
  if (pipes_step_through && ms.superlink.parked) {
    ms.superlink.parked = 0;
    ms.superlink_clock.last = ms.current_time;
    ms.superlink_clock.next = ms.current_time + ms.superlink_clock.interval_days;
  }
}

// When nonzero, the Julian day at which the surface of the last run driven by run_recording_pipes
// is woken before its overland step, as water appearing on it in the spell (melt) wakes it.
double surface_wakes_at = 0.0;

void waking_overland_step(model_state& ms) {
  if (surface_wakes_at != 0.0 && std::fabs(ms.current_time - surface_wakes_at) < 1e-6)
    wake_surface_schedules(ms);
  overland_flow_step(ms);
}

void run_recording_pipes(const std::string& project) {
  run_steps steps = default_run_steps();
  int replaced = 0;
  for (loop_step& step : steps.time_loop) {
    if (std::string(step.name) == "superlink_step") {
      step.fn = recording_superlink_step;
      ++replaced;
    } else if (std::string(step.name) == "overland_flow_step") {
      step.fn = waking_overland_step;
      ++replaced;
    }
  }
  ASSERT_EQ(replaced, 2);
  pipe_solves.clear();
  torva_test::stdout_capture capture;
  run_project(project.c_str(), nullptr, steps);
  const std::string out = capture.stop();
  ASSERT_EQ(run_error.error_fatal, 0) << out;
}

// The pipe network of the case above comes to rest hours after the first storm. It then waits
// with the surface for the second storm rather than solving every 5 minutes through the spell,
// and takes up its steps again when the storm begins. It solves exactly as often as a network
// kept stepping outside the spell, and the books of the two agree: what the grates took, what
// left at the outfall and what the pipes hold at the end. The executable writes the same
// outputs at 1 and 8 threads, with one line of the pipes' flow file per solve.
TEST(LongTermCases, APipeNetworkAtRestWaitsOutTheDrySpellAndKeepsTheBooksOfOneThatSteps) {
  const double second_storm = julian_from_date(2005, 3, 2, 12, 0, 0.0);
  const double step = 300.0 / 86400.0;
  std::vector<double> solves[2];
  std::string summary[2];
  for (const bool stepping : {false, true}) {
    SCOPED_TRACE(stepping ? "stepping through" : "waiting");
    torva_test::process_state_guard guard;
    temp_dir dir;
    write_case(weather(77, 30, 0, 6, true), "STORM_SEWER lt_pipes.slk\n");
    write_file("lt_rain.gag", two_storms);
    write_file("lt_pipes.slk", manhole_to_outfall);
    pipes_step_through = stepping;
    run_recording_pipes("lt.prj");
    pipes_step_through = false;
    solves[stepping] = pipe_solves;
    summary[stepping] = read_file("lt_summary.out");
    const double taken =
        summary_number(summary[stepping], "Volume of overland to subsurface drains");
    EXPECT_GT(taken, 10.0) << summary[stepping];
    EXPECT_NEAR(summary_number(summary[stepping], "Subsurface drain mass bal error m^3="), 0.0,
                0.005)
        << summary[stepping];
    const summary_balance b = read_summary_balance(summary[stepping]);
    ASSERT_TRUE(b.has_totals) << summary[stepping];
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary[stepping];
  }

  // The waiting network: its last solve before the second storm comes hours before it, the next
  // at the storm's start.
  const std::vector<double>& waited = solves[0];
  const std::vector<double>& stepped = solves[1];
  const auto at_storm = std::find_if(waited.begin(), waited.end(),
                                     [&](double t) { return t > second_storm - 0.5 * step; });
  ASSERT_TRUE(at_storm != waited.end() && at_storm != waited.begin());
  EXPECT_NEAR(*at_storm, second_storm, 1e-6);
  const double rest = *(at_storm - 1);
  EXPECT_LT(rest, second_storm - 12.0 / 24.0);
  EXPECT_GT(rest, julian_from_date(2005, 3, 1, 3, 0, 0.0));
  // The stepping network solves at every step in between, and at the same times elsewhere.
  const auto gap = std::count_if(stepped.begin(), stepped.end(), [&](double t) {
    return t > rest + 0.5 * step && t < second_storm - 0.5 * step;
  });
  EXPECT_NEAR(static_cast<double>(gap), (second_storm - rest) / step - 1.0, 0.5);
  EXPECT_EQ(stepped.size(), waited.size() + static_cast<std::size_t>(gap));

  // The same books, to the 0.01 m3 they are printed to.
  for (const char* line :
       {"Volume of overland to subsurface drains", "Volume of subsurface drains out of the system",
        "Final volume in drains=", "Total amount of infiltration="})
    EXPECT_NEAR(summary_number(summary[0], line), summary_number(summary[1], line), 0.0101) << line;

  // Water appearing on the waiting surface at midnight wakes it, and the network with it: the
  // network solves at that pass, comes to rest again and waits for the storm.
  {
    torva_test::process_state_guard guard;
    temp_dir dir;
    write_case(weather(77, 30, 0, 6, true), "STORM_SEWER lt_pipes.slk\n");
    write_file("lt_rain.gag", two_storms);
    write_file("lt_pipes.slk", manhole_to_outfall);
    const double midnight = julian_from_date(2005, 3, 2, 0, 0, 0.0);
    surface_wakes_at = midnight;
    run_recording_pipes("lt.prj");
    surface_wakes_at = 0.0;
    std::vector<double> in_gap;
    for (const double t : pipe_solves)
      if (t > rest + 0.5 * step && t < second_storm - 0.5 * step) in_gap.push_back(t);
    ASSERT_EQ(in_gap.size(), 1u);
    EXPECT_NEAR(in_gap[0], midnight, 1e-6);
  }

  temp_dir dir;
  write_case(weather(77, 30, 0, 6, true), "STORM_SEWER lt_pipes.slk\n");
  write_file("lt_rain.gag", two_storms);
  write_file("lt_pipes.slk", manhole_to_outfall);
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "lt.prj", [] { return books() + read_file("superlink_flows.out"); });
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;
  // The header, then one line per solve.
  const std::string flows = read_file("superlink_flows.out");
  EXPECT_EQ(static_cast<std::size_t>(std::count(flows.begin(), flows.end(), '\n')),
            waited.size() + 1)
      << flows;
}

// A chamber under the lowest cell, with nine grates, drains slowly through a narrow, rough pipe
// to a manhole under the highest cell whose rim lies 0.4 m above its bottom: long after a storm
// the chamber still pushes water up the manhole and over its rim onto the highest cell.
constexpr const char* chamber_to_low_rim =
    "A chamber under the lowest cell drains slowly to a low-rimmed manhole under the highest\n"
    "CONNECT 1 1 2\n"
    "SJUNC 1 10.0 8.0 100.0 9 2 2 1.0 0.6\n"
    "SJUNC 2 6.9 6.5 1.0 1 1 1 1.0 0.6\n"
    "SLINK 1 1\n"
    "NODE 1 10.0 8.0 0 0 2 2 0 0\n"
    "NODE 2 6.9 6.5 0 0 1 1 0 0\n"
    "PIPE 1 1 0.1 0 0.015 0.05 100 0 0\n";

void write_spilling_case(const std::string& extra_cards) {
  write_case(weather(77, 30, 0, 6, true),
             "STORM_SEWER lt_pipes.slk\nHIGH_HEAD_RELEASE\n" + extra_cards);
  write_file("lt_rain.gag", two_storms);
  write_file("lt_ks.asc", map(0.001));  // a tight soil: the spilled water stands and runs off
  write_file("lt_pipes.slk", chamber_to_low_rim);
}

// In the dry spell of the last run driven with spill_watching_superlink_step (from the first skip
// ahead to the second storm): the water the pipes spilled onto the surface, the water on the two
// cells between the highest cell and the lowest when the spell began, and the most it rose above
// that.
double spell_spilled = 0.0;
double below_at_spell_start = -1.0;
double below_rise = 0.0;

void spill_watching_superlink_step(model_state& ms) {
  const double before = ms.output.totals.run_vol_drain_to_ov;
  superlink_step(ms);
  const double second_storm = julian_from_date(2005, 3, 2, 12, 0, 0.0);
  if (ms.overland.dry_skip_count < 1 || ms.current_time > second_storm - 1e-6) return;
  spell_spilled += ms.output.totals.run_vol_drain_to_ov - before;
  const double below = (ms.overland.ov_depth[2] + ms.overland.ov_depth[3]) * cell * cell;
  if (below_at_spell_start < 0.0) below_at_spell_start = below;
  below_rise = std::max(below_rise, below - below_at_spell_start);
}

// Hours after the first storm the pipes spill onto the highest cell, faster than its tight soil
// takes the water in, while the surface waits for the second storm. The spilled water runs off
// at once, down onto the cells below (the surface wakes for it), rather than standing where it
// fell until the storm; the books of the surface, the pipes and the run close, and the executable
// writes the same outputs at 1 and 8 threads.
TEST(LongTermCases, PipeWaterSpilledOntoTheSurfaceInADrySpellRunsOffAtOnce) {
  {
    torva_test::process_state_guard guard;
    temp_dir dir;
    write_spilling_case("");
    run_steps steps = default_run_steps();
    int replaced = 0;
    for (loop_step& step : steps.time_loop) {
      if (std::string(step.name) != "superlink_step") continue;
      step.fn = spill_watching_superlink_step;
      ++replaced;
    }
    ASSERT_EQ(replaced, 1);
    spell_spilled = 0.0;
    below_at_spell_start = -1.0;
    below_rise = 0.0;
    torva_test::stdout_capture capture;
    run_project("lt.prj", nullptr, steps);
    const std::string out = capture.stop();
    ASSERT_EQ(run_error.error_fatal, 0) << out;
    EXPECT_GT(spell_spilled, 50.0);
    EXPECT_EQ(below_at_spell_start, 0.0);
    EXPECT_GT(below_rise, 0.1);
  }

  temp_dir dir;
  write_spilling_case("");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("lt.prj", books);
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;
  const std::string summary = read_file("lt_summary.out");
  const double taken = summary_number(summary, "Volume of overland to subsurface drains");
  const double spilled = summary_number(summary, "Volume of subsurface drains to overland");
  const double held = summary_number(summary, "Final volume in drains=");
  EXPECT_GT(spilled, 100.0) << summary;
  EXPECT_NEAR(taken - spilled, held, 0.02) << summary;
  EXPECT_NEAR(summary_number(summary, "Subsurface drain mass bal error m^3="), 0.0, 0.01)
      << summary;
  const summary_balance b = read_summary_balance(summary);
  ASSERT_TRUE(b.has_totals) << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
  EXPECT_LT(std::fabs(b.run_surface_error), 1e-6) << summary;
  // The surface by hand: what fell and came back up the manhole is what stands, soaked in, ran
  // off, evaporated or went down the grates (each printed to 0.005 m3).
  const double direct = summary_number(summary, "Total direct evaporation=");
  EXPECT_NEAR(b.run_ov_init + b.run_precip + spilled,
              b.run_ov_final + b.run_infiltration + b.run_discharge + direct + taken, 0.04)
      << summary;
}

}  // namespace

// Soil moisture at listed cells in a long-term run over the redistribution soil: each line holds
// the upper zone's content (its water over the 20 cm top layer) and the lower zone's (its water
// over the rest of the 60 cm soil) of each cell. The run starts both at the map's 0.30; under
// three sunny days the soil dries (from 7,200 m3 to about 5,960), and at the run's end the zones
// of the four cells hold the soil water the summary books. The same over the layered soil.
TEST(LongTermCases, SoilMoistureAtListedCellsHoldsTheTwoZonesTheBooksCount) {
  for (const bool layered : {false, true}) {
    SCOPED_TRACE(layered ? "layered soil" : "redistribution soil");
    temp_dir dir;
    write_case(weather(77, 30, 0, 6, true),
               "IN_THETA_LOCATION lt_cells.txt\nOUT_THETA_LOCATION lt_theta.out\n"
               "WRITE_SM_HOTSTART lt_sm_end.asc\n");
    if (layered) use_layered_soil();
    write_file("lt_cells.txt", "4\n1 1\n1 2\n2 1\n2 2\n");
    const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
        "lt.prj", [] { return books() + read_file("lt_theta.out") + read_file("lt_sm_end.asc"); });
    ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;
    std::vector<std::vector<double>> lines;
    std::istringstream text(read_file("lt_theta.out"));
    std::string line;
    while (std::getline(text, line)) {
      std::istringstream fields(line);
      std::vector<double> values;
      double v = 0.0;
      while (fields >> v) values.push_back(v);
      if (!values.empty()) lines.push_back(values);
    }
    ASSERT_GE(lines.size(), static_cast<std::size_t>(hours)) << read_file("lt_theta.out");
    for (const std::vector<double>& l : lines) ASSERT_EQ(l.size(), 9u);  // time, 4 x 2 zones
    for (std::size_t k = 1; k < 9; ++k) EXPECT_NEAR(lines.front()[k], 0.30, 1e-6) << k;
    const std::vector<double>& last = lines.back();
    double water = 0.0;  // m3 in the four cells' 60 cm
    for (int c = 0; c < 4; ++c) {
      const double upper = last[1 + 2 * c], lower = last[2 + 2 * c];
      EXPECT_LT(upper, 0.30 - 0.005) << "cell " << c + 1;
      water += (upper * 0.2 + lower * 0.4) * cell * cell;
    }
    const std::string summary = read_file("lt_summary.out");
    const double soil_final =
        summary_number(summary, "Final volume in soil over simple soil depth");
    // The contents are printed to 1e-6 and the volume to 0.01 m3.
    EXPECT_NEAR(water, soil_final, 0.05) << summary;
    std::istringstream map(read_file("lt_sm_end.asc"));
    for (int k = 0; k < 6; ++k) std::getline(map, line);
    std::vector<double> top;
    double v = 0.0;
    while (map >> v) top.push_back(v);
    ASSERT_EQ(top.size(), 4u);
    // The soil-moisture hotstart holds each cell's upper zone (the map lists the cells row by
    // row, as the location file does), and a run that reads it starts its soil there.
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(top[c], last[1 + 2 * c], 1e-6) << "cell " << c + 1;
    write_case(weather(77, 30, 0, 6, true),
               "IN_THETA_LOCATION lt_cells.txt\nOUT_THETA_LOCATION lt_theta.out\n"
               "READ_SM_HOTSTART lt_sm_end.asc\n");
    if (layered) use_layered_soil();
    const torva_test::thread_runs next = torva_test::run_at_compared_thread_counts(
        "lt.prj", [] { return books() + read_file("lt_theta.out"); });
    ASSERT_EQ(next.run[1].status, 0) << next.run[1].out;
    std::istringstream restarted(read_file("lt_theta.out"));
    std::vector<double> first;
    std::getline(restarted, line);
    std::istringstream fields(line);
    while (fields >> v) first.push_back(v);
    ASSERT_EQ(first.size(), 9u) << line;
    // The layered soil gets the map back in its top layer only; the layers below start from the
    // soil table's 0.30.
    for (int c = 0; c < 4; ++c) {
      EXPECT_NEAR(first[1 + 2 * c], top[c], 1e-6) << "cell " << c + 1;
      EXPECT_NEAR(first[2 + 2 * c], layered ? 0.30 : top[c], 1e-6) << "cell " << c + 1;
    }
  }
}
