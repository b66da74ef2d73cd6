// End-to-end cases of the Sacramento basin, run by the real torva executable at 1 and 8
// threads: a lower zone draining without rain loses (1 - lzpk) of its primary free water every
// hour, and that water reaches the outlet through the channel; rain that infiltrates enters the
// basin and every book of the run closes; TOPO_INDEX on a flat valley weighs every channel cell
// alike; a bad parameter file stops the run naming the file and the card.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace sacramento_cases_tests {

std::string fixed(double v, int decimals = 3) {
  char text[64];
  snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// The valley: one row of `cols` cells of 200 m (40,000 m2 each), a trapezoidal link of one
// computational node under each cell on a bed slope of 0.001, the cells 3 m above the bed, steps
// of 60 s. `extra` goes at the end of the project.
constexpr int valley_cols = 5;
constexpr double valley_cell = 200.0;
constexpr double valley_area = valley_cols * valley_cell * valley_cell;

void write_valley(const std::string& extra, bool flat_cells = false, bool channels = true) {
  const int cols = valley_cols;
  const double g = valley_cell;
  const double slope = 0.001;
  const std::string header = "north: " + fixed(1000.0 + g, 1) +
                             "\nsouth: 1000.0\neast: " + fixed(cols * g, 1) +
                             "\nwest: 0.0\nrows: 1\ncols: " + std::to_string(cols) + "\n";
  std::string mask = header, elev = header;
  for (int j = 1; j <= cols; ++j) {
    mask += "1 ";
    elev += fixed(flat_cells ? 113.0 : 110.0 - slope * g * (j - 0.5) + 3.0) + " ";
  }
  write_file("sac_mask.asc", mask + "\n");
  write_file("sac_elev.asc", elev + "\n");
  std::string chn = "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES " +
                    std::to_string(cols + 1) + "\nCONNECT 1 0 0\n\nLINK 1\nNODES " +
                    std::to_string(cols + 1) + "\nDX " + fixed(g, 1) +
                    "\nTRAPEZOID\nMANNINGS_N 0.03\n";
  for (int n = 1; n <= cols + 1; ++n) {
    chn += "NODE " + std::to_string(n) + "\nELEV " + fixed(110.0 - slope * g * (n - 1), 6) + "\n";
    if (n == 1) chn += "XSEC\nBOTTOM_WIDTH 2.0\nSIDE_SLOPE 2.0\nBANKFULL_DEPTH 3.0\n";
  }
  write_file("sac.chn", chn);
  std::string gst = "GRIDSTREAMFILE\nSTREAMCELLS " + std::to_string(cols) + "\n";
  for (int j = 1; j <= cols; ++j)
    gst += "CELLIJ 1 " + std::to_string(j) + "\nNUMNODES 1\nLINKNODE 1 " + std::to_string(j) +
           " 1.0\n";
  write_file("sac.gst", gst);
  write_file(
      "sac.prj",
      "TORVAPROJECT\nWATERSHED_MASK sac_mask.asc\nELEVATION sac_elev.asc\n"
      "SUMMARY sac_summary.out\nOUTLET_HYDRO sac_outlet.out\n"
      "ROWS 1\nCOLS " +
          std::to_string(cols) + "\nGRIDSIZE " + fixed(g, 1) +
          "\nSTART_DATE 2005 3 14\nSTART_TIME 6 00\nTIMESTEP 60.0\nOUTROW 1\nOUTCOL " +
          std::to_string(cols) +
          "\nOUTSLOPE 0.001\nMANNING_N 0.05\n"
          "OVERTYPE explicit\n" +
          std::string(channels ? "CHAN_EXPLIC\nCHANNEL_INPUT sac.chn\nSTREAM_CELL sac.gst\n" : "") +
          "SACRAMENTO sac.par\n" + extra);
}

// A parameter file: the capacities, rates and starting fractions of the cards in order.
struct sac_cards {
  double uztwm = 50.0, uzfwm = 40.0, uzk = 0.3, zperc = 40.0, rexp = 2.0;
  double lztwm = 100.0, lzfsm = 30.0, lzfpm = 200.0, lzsk = 0.05, lzpk = 0.01, pfree = 0.2;
  double uztwc = 0.0, uzfwc = 0.0, lztwc = 1.0, lzfsc = 0.0, lzfpc = 0.5, saved = 0.0;
};

std::string sac_file(const sac_cards& c) {
  return "TORVA_SACRAMENTO\nNUM_BASINS 1\nBASIN 1\nUZTWM " + fixed(c.uztwm) + "\nUZFWM " +
         fixed(c.uzfwm) + "\nUZK " + fixed(c.uzk) + "\nZPERC " + fixed(c.zperc) + "\nREXP " +
         fixed(c.rexp) + "\nLZTWM " + fixed(c.lztwm) + "\nLZFSM " + fixed(c.lzfsm) + "\nLZFPM " +
         fixed(c.lzfpm) + "\nLZSK " + fixed(c.lzsk) + "\nLZPK " + fixed(c.lzpk) + "\nPFREE " +
         fixed(c.pfree) + "\nUZTWC " + fixed(c.uztwc) + "\nUZFWC " + fixed(c.uzfwc) + "\nLZTWC " +
         fixed(c.lztwc) + "\nLZFSC " + fixed(c.lzfsc) + "\nLZFPC " + fixed(c.lzfpc) + "\nSAVED " +
         fixed(c.saved) + "\n";
}

// The storage (mm) of `store` among the final state values of the Sacramento check.
double final_store(const std::string& summary, const std::string& store) {
  const std::size_t at = summary.find("Final state variable values:");
  if (at == std::string::npos) return NAN;
  return summary_number(summary.substr(at), store + ":");
}

// Every book of a Sacramento run closes: the event's and the run's water balances, the
// surface components and the basin's own residual.
void expect_books_close(const std::string& summary) {
  const summary_balance s = read_summary_balance(summary);
  ASSERT_TRUE(s.has_event);
  ASSERT_TRUE(s.has_totals);
  EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
  EXPECT_LT(std::fabs(s.run_surface_error), 1e-6) << summary;
  const double residual =
      summary_number(summary, "Sacramento simulation total residual water balance:");
  EXPECT_LT(std::fabs(residual), 1e-9);
}

// Without rain on the basin, with the upper zone empty, the lower tension water full and no
// supplementary free water, each hourly step takes lzpk of the primary free water to the
// channel: after n steps lzfpc0 (1 - lzpk)^n is left, and what left the store is what the
// channel took in and passed to the outlet or still holds. Six steps (0 to 5 h) in a run of 359
// minutes: the channel takes each hour's water in the 60 steps of 60 s that follow it.
TEST(SacramentoCases, ALowerZoneWithoutRainDrainsByItsRateAndTheOutletCarriesIt) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const sac_cards c;
  write_file("sac.par", sac_file(c));
  // A trace of rain (the project needs some), far below every tolerance here.
  write_valley(
      "TOT_TIME 359\nHYD_FREQ 60\nPRECIP_UNIF\nRAIN_INTENSITY 0.000001\n"
      "RAIN_DURATION 1\n");
  torva_test::run_at_compared_thread_counts("sac.prj", [] { return read_file("sac_summary.out"); });
  const std::string summary = read_file("sac_summary.out");

  const int steps = 6;
  const double lzfpc0 = c.lzfpc * c.lzfpm;  // 100 mm
  const double left = lzfpc0 * std::pow(1.0 - c.lzpk, steps);
  EXPECT_NEAR(final_store(summary, "lzfpc"), left, 0.0006);
  EXPECT_NEAR(final_store(summary, "lztwc"), c.lztwm, 0.0006);
  EXPECT_NEAR(final_store(summary, "uzfwc"), 0.0, 0.0006);
  EXPECT_NEAR(final_store(summary, "lzfsc"), 0.0, 0.0006);

  const double drained = (lzfpc0 - left) / 1000.0 * valley_area;  // m3
  EXPECT_NEAR(summary_number(summary, "Subsurface runoff (mm):"), lzfpc0 - left, 0.0006);
  EXPECT_NEAR(summary_number(summary, "Total lateral inflow into channels="), drained, 0.02);
  const summary_balance s = read_summary_balance(summary);
  const double chan_init = summary_number(summary, "Initial volume in channels=");
  const double chan_final = summary_number(summary, "Final volume in channels=");
  EXPECT_NEAR(s.run_discharge + chan_final - chan_init, drained, 0.05);
  EXPECT_GT(s.run_discharge, 0.5 * drained);  // most of it has left through the outlet
  expect_books_close(summary);
}

// Without channels the basin's outflow leaves the watershed at the outlet, over the hour after
// the step that released it. The lower zone of the case above, drained by 1 - lzpk of its
// primary free water an hour, releases R(k) = lzpk x 100 mm x 0.99^k in its step k (k from 0)
// over the valley's 200,000 m2. The surface's first step comes a minute after the basin's
// first: at minute 0 nothing has left, the first hour's release leaves over 59 minutes and the
// sixtieth of it still on its way joins the second hour's (at minute 60 the outlet passes
// (R(0) / 60 + R(1)) / 3600 s); from then on each hour passes its own release, R(k) / 3600 s.
// What left the basin in the run's six hours left at the outlet, and every book closes.
TEST(SacramentoCases, WithoutChannelsTheBasinsOutflowLeavesAtTheOutlet) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const sac_cards c;
  write_file("sac.par", sac_file(c));
  write_valley(
      "TOT_TIME 359\nHYD_FREQ 60\nPRECIP_UNIF\nRAIN_INTENSITY 0.000001\n"
      "RAIN_DURATION 1\nSIG_OUTLET_HYDRO sac_sig.out\n",
      false, false);
  torva_test::run_at_compared_thread_counts(
      "sac.prj", [] { return read_file("sac_summary.out") + read_file("sac_sig.out"); });
  const std::string summary = read_file("sac_summary.out");
  const double lzfpc0 = c.lzfpc * c.lzfpm;  // 100 mm
  const auto released = [&](int k) {        // m3
    return c.lzpk * lzfpc0 * std::pow(1.0 - c.lzpk, k) / 1000.0 * valley_area;
  };
  std::istringstream lines(read_file("sac_sig.out"));
  double minutes = 0.0, q = 0.0;
  int hour = 0;
  while (lines >> minutes >> q) {
    ASSERT_NEAR(minutes, 60.0 * hour, 1e-6);
    double expected = 0.0;
    if (hour == 1) expected = (released(0) / 60.0 + released(1)) / 3600.0;
    if (hour > 1) expected = released(hour) / 3600.0;
    EXPECT_NEAR(q, expected, 2e-6) << "hour " << hour;
    ++hour;
  }
  EXPECT_EQ(hour, 6) << read_file("sac_sig.out");
  const double left = lzfpc0 * std::pow(1.0 - c.lzpk, 6);
  EXPECT_NEAR(final_store(summary, "lzfpc"), left, 0.0006);
  const double drained = (lzfpc0 - left) / 1000.0 * valley_area;  // m3
  const summary_balance s = read_summary_balance(summary);
  EXPECT_NEAR(s.run_discharge, drained, 0.05) << summary;
  expect_books_close(summary);
}

// The same basin without channels in a long-term run whose only storm falls a day after its
// start: from the run's first hour, through the dry day before the storm, the outlet passes
// each hour's release (the surface is stepped from the start to carry it, not from the storm),
// falling by the factor 1 - lzpk from hour to hour, and every book closes.
TEST(SacramentoCases, InALongTermRunWithoutChannelsTheOutletPassesTheBasinsOutflowEveryHour) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const sac_cards c;
  write_file("sac.par", sac_file(c));
  const char* names[] = {"lt_k.asc", "lt_h.asc", "lt_p.asc", "lt_pi.asc",
                         "lt_r.asc", "lt_m.asc", "lt_a.asc"};
  const double values[] = {0.65, 16.7, 0.45, 0.25, 0.05, 0.30, 0.2};
  for (int m = 0; m < 7; ++m) {
    std::string grid = "north: 1200.0\nsouth: 1000.0\neast: 1000.0\nwest: 0.0\nrows: 1\ncols: " +
                       std::to_string(valley_cols) + "\n";
    for (int j = 0; j < valley_cols; ++j) grid += fixed(values[m], 4) + " ";
    write_file(names[m], grid + "\n");
  }
  // 72 hours of cool, overcast, still weather from 14 March 2005, 6:00 (hardly any demand).
  std::string weather;
  for (int k = 0; k < 72; ++k) {
    const int hour = (6 + k) % 24;
    const int day = 14 + (6 + k) / 24;
    weather += "2005 3 " + std::to_string(day) + " " + std::to_string(hour) +
               " 29.92 90 100 0 40 0.0 0.0\n";
  }
  write_file("sac_weather.txt", weather);
  write_file("sac_rain.gag",
             "EVENT \"the storm\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
             "RATES 2005 3 15 6 0 5.0\nRATES 2005 3 15 7 0 0.0\n");
  write_valley(
      "HYD_FREQ 60\nPRECIP_FILE sac_rain.gag\nRAIN_INV_DISTANCE\nLONG_TERM\n"
      "HMET_OBU sac_weather.txt\nALBEDO lt_a.asc\nLATITUDE 40.0\nLONGITUDE 90.0\nGMT -6\n"
      "ET_CALC_DEARDORFF\nINF_REDIST\nCONDUCTIVITY lt_k.asc\nCAPILLARY lt_h.asc\n"
      "POROSITY lt_p.asc\nPORE_INDEX lt_pi.asc\nRESIDUAL_SAT lt_r.asc\nMOISTURE lt_m.asc\n"
      "SOIL_MOIST_DEPTH 0.6\nTOP_LAYER_DEPTH 0.2\nSTRICT_JULIAN_DATE\nSIG_OUTLET_HYDRO "
      "sac_sig.out\n",
      false, false);
  torva_test::run_at_compared_thread_counts(
      "sac.prj", [] { return read_file("sac_summary.out") + read_file("sac_sig.out"); });
  const std::string summary = read_file("sac_summary.out");
  std::istringstream lines(read_file("sac_sig.out"));
  std::vector<double> q;
  double t = 0.0, v = 0.0;
  while (lines >> t >> v) q.push_back(v);
  // The 24 hours before the storm: R(k) = lzpk x 100 mm x 0.99^k over 200,000 m2 in hour k.
  ASSERT_GE(q.size(), 25u) << read_file("sac_sig.out");
  const double lzfpc0 = c.lzfpc * c.lzfpm;
  for (int k = 0; k < 24; ++k)
    EXPECT_NEAR(q[k], c.lzpk * lzfpc0 * std::pow(1.0 - c.lzpk, k) / 1000.0 * valley_area / 3600.0,
                2e-6)
        << "hour " << k;
  expect_books_close(summary);
}

// Rain of 30 mm/h for an hour on a Green-Ampt soil: what infiltrates enters the basin, the
// basin drains to the channel, and the event's and the run's books close (an upper-zone rate of
// 1.5 is taken as 0.5, with a warning). The run ends half an hour after the basin's third step,
// with water infiltrated since that step and inflow the channel has not yet taken: both are
// still the basin's water. With TOPO_INDEX on
// flat cells every channel cell has the same index, so the run is the same to the last digit
// as without it.
TEST(SacramentoCases, InfiltratedRainEntersTheBasinAndEveryBookCloses) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  sac_cards c;
  c.uztwc = 0.3;
  c.uzfwc = 0.2;
  c.lztwc = 0.5;
  c.lzfsc = 0.4;
  c.uzk = 1.5;  // above 1: the run goes on with 0.5, and says so
  write_file("sac.par", sac_file(c));
  std::string maps[4] = {"ga_k.asc", "ga_h.asc", "ga_p.asc", "ga_m.asc"};
  const double values[4] = {0.65, 16.7, 0.486, 0.1458};
  for (int m = 0; m < 4; ++m) {
    std::string grid = "north: 1200.0\nsouth: 1000.0\neast: 1000.0\nwest: 0.0\nrows: 1\ncols: " +
                       std::to_string(valley_cols) + "\n";
    for (int j = 0; j < valley_cols; ++j) grid += fixed(values[m], 4) + " ";
    write_file(maps[m], grid + "\n");
  }
  const std::string cards =
      "TOT_TIME 150\nHYD_FREQ 60\nPRECIP_UNIF\nRAIN_INTENSITY 30.0\nRAIN_DURATION 60\n"
      "GREEN_AMPT\nCONDUCTIVITY ga_k.asc\nCAPILLARY ga_h.asc\nPOROSITY ga_p.asc\n"
      "MOISTURE ga_m.asc\n";
  write_valley(cards, true);
  torva_test::run_at_compared_thread_counts("sac.prj", [] { return read_file("sac_summary.out"); });
  const std::string summary = read_file("sac_summary.out");
  expect_books_close(summary);
  const double input_mm = summary_number(summary, "Input rainfall (mm):");
  const double infiltrated = summary_number(summary, "Total amount of infiltration=");
  EXPECT_GT(input_mm, 1.0);
  // The basin has taken the infiltration of every hour but the last.
  EXPECT_LE(input_mm / 1000.0 * valley_area, infiltrated + 0.01);
  const std::string outlet = read_file("sac_outlet.out");

  write_valley(cards + "TOPO_INDEX\n", true);
  const torva_test::command_result run = torva_test::run_with_threads("sac.prj", 1);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(contains(run.out, "Sac Weights: 1.000000\n")) << run.out;
  EXPECT_TRUE(contains(run.err, "WARNING:uzk changed!\n")) << run.err;
  EXPECT_EQ(read_file("sac_outlet.out"), outlet);
}

// A long-term day over the valley, with no storm in it: the hourly weather gives the basin its
// evaporation demand. Each hourly Sacramento step takes the mean potential evapotranspiration
// that the hydromet step of the same hour has just computed over the cells; the long-term
// report line prints the mean of the hour before. So the basin's demand is the sum of the
// report lines' PET (cm/h, 10 mm per cm) plus the last hour's, which is at most the largest
// hourly value. The tension water of the upper zone gives way to it and every book closes.
TEST(SacramentoCases, InALongTermRunTheBasinTakesItsDemandFromTheHourlyWeather) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  sac_cards c;
  c.uztwc = 0.5;  // 25 mm of upper tension water to evaporate
  write_file("sac.par", sac_file(c));
  const char* names[] = {"lt_k.asc", "lt_h.asc", "lt_p.asc", "lt_pi.asc",
                         "lt_r.asc", "lt_m.asc", "lt_a.asc"};
  const double values[] = {0.65, 16.7, 0.45, 0.25, 0.05, 0.30, 0.2};
  for (int m = 0; m < 7; ++m) {
    std::string grid = "north: 1200.0\nsouth: 1000.0\neast: 1000.0\nwest: 0.0\nrows: 1\ncols: " +
                       std::to_string(valley_cols) + "\n";
    for (int j = 0; j < valley_cols; ++j) grid += fixed(values[m], 4) + " ";
    write_file(names[m], grid + "\n");
  }
  // 24 hours of warm, dry, sunny weather from the run's start (14 March 2005, 6:00).
  std::string weather;
  for (int k = 0; k < 24; ++k) {
    const int hour = (6 + k) % 24;
    const int day = 14 + (6 + k) / 24;
    weather += "2005 3 " + std::to_string(day) + " " + std::to_string(hour) +
               " 29.92 30 0 6 77 0.0 " + (hour >= 7 && hour <= 17 ? "600.0" : "0.0") + "\n";
  }
  write_file("sac_weather.txt", weather);
  write_file("sac_rain.gag",
             "EVENT \"a month later\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
             "RATES 2005 4 14 0 0 5.0\nRATES 2005 4 14 1 0 0.0\n");
  write_valley(
      "HYD_FREQ 60\nPRECIP_FILE sac_rain.gag\nRAIN_INV_DISTANCE\nLONG_TERM\n"
      "HMET_OBU sac_weather.txt\nALBEDO lt_a.asc\nLATITUDE 40.0\nLONGITUDE 90.0\nGMT -6\n"
      "ET_CALC_DEARDORFF\nINF_REDIST\nCONDUCTIVITY lt_k.asc\nCAPILLARY lt_h.asc\n"
      "POROSITY lt_p.asc\nPORE_INDEX lt_pi.asc\nRESIDUAL_SAT lt_r.asc\nMOISTURE lt_m.asc\n"
      "SOIL_MOIST_DEPTH 0.6\nTOP_LAYER_DEPTH 0.2\n");
  torva_test::run_at_compared_thread_counts("sac.prj", [] { return read_file("sac_summary.out"); });
  const std::string summary = read_file("sac_summary.out");

  // The report lines: date, hour, theta, PET (cm/h), ...
  double reported = 0.0, largest = 0.0;
  int lines = 0;
  std::istringstream evap(read_file("evap_out"));
  std::string line;
  while (std::getline(evap, line)) {
    std::istringstream fields(line);
    std::string date, hour;
    double theta = 0.0, pet = 0.0;
    if (!(fields >> date >> hour >> theta >> pet)) continue;
    reported += pet * 10.0;
    largest = std::fmax(largest, pet * 10.0);
    ++lines;
  }
  ASSERT_GE(lines, 20) << read_file("evap_out");
  ASSERT_GT(largest, 0.01);
  const double demand = summary_number(summary, "PET calculated by TORVA (mm):");
  EXPECT_GE(demand, reported - 0.002) << summary;
  EXPECT_LE(demand, reported + largest + 0.002) << summary;
  const double taken = summary_number(summary, "AET calculated by Sacramento (mm):");
  EXPECT_GT(taken, 0.1 * demand);
  EXPECT_LE(taken, demand + 0.001);
  EXPECT_NEAR(final_store(summary, "uztwc"), c.uztwc * c.uztwm - taken, 0.01) << summary;
  // No storm falls in the run: the run's books and the basin's own close.
  const summary_balance b = read_summary_balance(summary);
  ASSERT_TRUE(b.has_totals) << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6);
  const double residual =
      summary_number(summary, "Sacramento simulation total residual water balance:");
  EXPECT_LT(std::fabs(residual), 1e-9);
}

// A bad parameter file stops the run at start-up with a message that names the file and what
// is wrong with it.
TEST(SacramentoCases, ABadParameterFileStopsTheRunNamingFileAndCard) {
  struct bad_file {
    std::string text;
    const char* message;  // in standard output or standard error
  };
  const std::string good = sac_file(sac_cards{});
  const std::string without_lzpk =
      good.substr(0, good.find("LZPK")) + good.substr(good.find("PFREE"));
  sac_cards no_room;
  no_room.lzfsm = 0.0;
  const bad_file cases[] = {
      {"SACRAMENTO\n" + good.substr(good.find('\n') + 1),
       "have the proper header: TORVA_SACRAMENTO \n"},
      {without_lzpk, "Only 16 parameters read.\nMissing from sac.par: lzpk\n"},
      {"TORVA_SACRAMENTO\nUZTWM 10\nuztwm 20\n", "(uztwm given twice in sac.par)\n"},
      {sac_file(no_room),
       "Error: in the Sacramento parameter file sac.par, lzfsm = 0 is out of range: it must be "
       "above 0 and at most 10000 mm.\n"},
      {"TORVA_SACRAMENTO\nUZTWM ten\n", "sac.par, uztwm needs a number, not \"ten\"."},
  };
  for (const bad_file& b : cases) {
    torva_test::process_state_guard guard;
    temp_dir dir;
    write_file("sac.par", b.text);
    write_valley("TOT_TIME 10\nPRECIP_UNIF\nRAIN_INTENSITY 1.0\nRAIN_DURATION 1\n");
    const torva_test::command_result run = torva_test::run_with_threads("sac.prj", 1);
    EXPECT_NE(run.status, 0) << b.text;
    EXPECT_TRUE(contains(run.out + run.err, b.message)) << run.out << run.err;
    EXPECT_FALSE(contains(run.out, "Running....")) << b.text;
  }
}

}  // namespace sacramento_cases_tests
