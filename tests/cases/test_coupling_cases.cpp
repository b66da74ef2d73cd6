// The model couplings in whole runs of the torva executable. Reservoir model: a valley channel
// fed a rising flow hands the R7 segments the mean of its node discharges over each output
// interval (checked against the link/node discharge output of a run that writes every step),
// and the inflow table carries the outlet hydrograph. VOLP inside TEV: two events run one at a
// time, the first writing its grids and event file, the second reading grids written by hand;
// 1 and 8 threads write the same files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

std::string fixed(double v, int decimals = 3) {
  char text[64];
  snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// A valley of 10 cells of 100 m in one row over one trapezoidal link of 11 nodes 100 m apart
// (bed slope 0.001, 10 m wide, side slopes 2, n = 0.03), fed at its head by a flow rising from
// 0 to 30 m3/s over the first hour; steps of 60 s, outputs every `output_minutes` minutes, the
// discharge of every node written as a link/node dataset. The R7 segments: cells 1-5 are
// segment 2, cells 6-10 segment 5; nodes 3 of segment 2, nodes 8 and 10 of segment 5.
void write_r7_valley(int output_minutes) {
  const int cols = 10;
  const std::string header =
      "north: 1100.0\nsouth: 1000.0\neast: 1000.0\nwest: 0.0\nrows: 1\ncols: 10\n";
  std::string mask = header, elev = header, segments = header;
  for (int j = 1; j <= cols; ++j) {
    mask += "1 ";
    elev += fixed(110.0 - 0.001 * 100.0 * (j - 0.5) + 3.0) + " ";
    segments += j <= 5 ? "2 " : "5 ";
  }
  write_file("valley_mask.asc", mask + "\n");
  write_file("valley_elev.asc", elev + "\n");
  write_file("valley_segments.asc", segments + "\n");
  std::string chn =
      "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES 11\nCONNECT 1 0 0\n\n"
      "LINK 1\nNODES 11\nDX 100.0\nTRAPEZOID\nMANNINGS_N 0.03\n";
  for (int n = 1; n <= cols + 1; ++n) {
    chn += "NODE " + std::to_string(n) + "\nELEV " + fixed(110.0 - 0.1 * (n - 1), 6) + "\n";
    if (n == 1)
      chn += "XSEC\nBOTTOM_WIDTH 10.0\nSIDE_SLOPE 2.0\nBANKFULL_DEPTH 3.0\nPOINTSOURCE feed\n";
  }
  write_file("valley.chn", chn);
  std::string gst = "GRIDSTREAMFILE\nSTREAMCELLS 10\n";
  for (int j = 1; j <= cols; ++j)
    gst += "CELLIJ 1 " + std::to_string(j) + "\nNUMNODES 1\nLINKNODE 1 " + std::to_string(j) +
           " 1.0\n";
  write_file("valley.gst", gst);
  write_file("feed.ts",
             "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 6 30 0.0\n2005 3 14 7 30 30.0\n"
             "2005 3 16 0 0 30.0\nEND_TS\n");
  write_file("valley.seg", "3\n1 3 2\n1 8 5\n1 10 5\n");
  write_file("valley.prj",
             "TORVAPROJECT\nWATERSHED_MASK valley_mask.asc\nELEVATION valley_elev.asc\n"
             "SUMMARY valley_summary.out\nOUTLET_HYDRO valley_outlet.out\n"
             "ROWS 1\nCOLS 10\nGRIDSIZE 100.0\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n"
             "TIMESTEP 60.0\nTOT_TIME 120\nHYD_FREQ " +
                 std::to_string(output_minutes) +
                 "\nOUTROW 1\nOUTCOL 10\nOUTSLOPE 0.001\nMANNING_N 0.05\n"
                 "OVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY 1.0\nRAIN_DURATION 10\n"
                 "CHAN_EXPLIC\nCHANNEL_INPUT valley.chn\nSTREAM_CELL valley.gst\n"
                 "TIME_SERIES_FILE feed.ts\nCHAN_DISCHARGE valley_q.out\n"
                 "R7_INPUT valley_r7_inflow.txt\nR7_FLUXES\nR7_SEGMENT_MAP valley_segments.asc\n"
                 "R7_NODES_TO_SEGS valley.seg\nR7_SEGMENT_FLUXES valley_r7_segments.txt\n");
}

// The rows of a whitespace-separated table of numbers after `skip` heading lines.
std::vector<std::vector<double>> table_rows(const std::string& text, int skip) {
  std::vector<std::vector<double>> rows;
  std::istringstream lines(text);
  std::string line;
  for (int k = 0; k < skip && std::getline(lines, line); ++k) {
  }
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::vector<double> row;
    double v = 0.0;
    while (fields >> v) row.push_back(v);
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

}  // namespace

TEST(CouplingCases, TheR7SegmentsTakeTheMeanOfTheirNodesDischargesOverEachOutputInterval) {
  temp_dir dir;
  // Every step: the node discharges, one by one.
  write_r7_valley(1);
  torva_test::run_at_compared_thread_counts("valley.prj", [] {
    return read_file("valley_q.out") + read_file("valley_r7_segments.txt") +
           read_file("valley_r7_inflow.txt") + read_file("valley_summary.out");
  });
  const std::vector<std::vector<double>> q =
      torva_test::first_link_records(read_file("valley_q.out"));
  ASSERT_EQ(q.size(), 121u);  // the start and every minute for two hours
  for (const std::vector<double>& r : q) ASSERT_EQ(r.size(), 12u);

  // Every fourth step: the segment file holds the means of the four steps each line closes.
  write_r7_valley(4);
  torva_test::run_at_compared_thread_counts("valley.prj", [] {
    return read_file("valley_q.out") + read_file("valley_r7_segments.txt") +
           read_file("valley_r7_inflow.txt") + read_file("valley_summary.out");
  });
  const std::string segments = read_file("valley_r7_segments.txt");
  EXPECT_EQ(segments.substr(0, segments.find('\n') + 1), "   jday   2         5         \n");
  const std::vector<std::vector<double>> lines = table_rows(segments, 1);
  ASSERT_EQ(lines.size(), 31u);  // the start and every 4 minutes
  double largest = 0.0;
  for (std::size_t j = 0; j < lines.size(); ++j) {
    ASSERT_EQ(lines[j].size(), 3u) << j;
    // Day 1 at the first line, then 4 minutes a line.
    EXPECT_NEAR(lines[j][0], 1.0 + j * 4.0 / 1440.0, 0.0005 + 1e-9) << j;
    // The first line closes the start alone, every later one the four steps before it.
    const std::size_t first = j == 0 ? 0 : 4 * j - 3;
    double seg2 = 0.0, seg5 = 0.0;
    for (std::size_t k = first; k <= 4 * j; ++k) {
      seg2 += std::fabs(q[k][3]);
      seg5 += std::fabs(q[k][8]) + std::fabs(q[k][10]);
    }
    const double steps = static_cast<double>(4 * j - first + 1);
    EXPECT_NEAR(lines[j][1], seg2 / steps, 0.005 + 1e-4) << j;
    EXPECT_NEAR(lines[j][2], seg5 / steps, 0.005 + 1e-4) << j;
    largest = std::max(largest, lines[j][2]);
  }
  EXPECT_GT(largest, 20.0);  // the flow reached the lower nodes

  // The inflow table: its header, then the outlet discharge at every output time.
  const std::string inflow = read_file("valley_r7_inflow.txt");
  EXPECT_EQ(inflow.substr(0, 38), "  output from TORVA\n\n    JDAY     QIN\n");
  const std::vector<std::vector<double>> in_rows = table_rows(inflow, 3);
  const std::vector<std::vector<double>> outlet = table_rows(read_file("valley_outlet.out"), 0);
  ASSERT_EQ(in_rows.size(), outlet.size());
  for (std::size_t j = 0; j < in_rows.size(); ++j) {
    ASSERT_EQ(in_rows[j].size(), 2u);
    EXPECT_NEAR(in_rows[j][0], 73.0 + (6.5 + 4.0 * j / 60.0) / 24.0, 0.05 + 1e-9) << j;
    EXPECT_NEAR(in_rows[j][1], outlet[j][1], 0.05 + 1e-3) << j;
  }

  const torva_test::summary_balance s =
      torva_test::read_summary_balance(read_file("valley_summary.out"));
  ASSERT_TRUE(s.has_event);
  EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
}

namespace {

const std::filesystem::path small_example =
    std::filesystem::path(TORVA_SOURCE_DIR) / "examples" / "small";

// The small example (108 cells of 30 m, Green and Ampt, Manning n 0.05) run inside TEV with
// VOLP: two rain events six days apart from one gauge, the event TEV asks for (none: both in one
// run), the four grids written to VOLP at each event's end and `extra` cards.
void write_tev_project(int event, const std::string& extra) {
  for (const auto& e : std::filesystem::directory_iterator(small_example))
    if (e.is_regular_file())
      std::filesystem::copy_file(e.path(), e.path().filename(),
                                 std::filesystem::copy_options::overwrite_existing);
  std::filesystem::create_directory("exchange");
  std::string prj = read_file("small.prj");
  for (const char* card : {"PRECIP_UNIF", "RAIN_INTENSITY", "RAIN_DURATION"}) {
    const std::size_t at = prj.find(std::string("\n") + card);
    ASSERT_NE(at, std::string::npos) << card;
    prj.erase(at + 1, prj.find('\n', at + 1) - at);
  }
  const std::string event_card =
      event > 0 ? "TEV_EVENT_NUM " + std::to_string(event) + "\n" : std::string();
  write_file("small.prj", prj + "PRECIP_FILE tev.gag\nTEV\nVOLP volp.txt\n" + event_card +
                              "MOIST_TO_VOLP moist.asc\nROUGH_TO_VOLP rough.asc\n"
                              "KSAT_TO_VOLP ksat.asc\nPOROS_TO_VOLP poros.asc\n" +
                              extra);
  write_file("tev.gag",
             "EVENT \"first\"\nNRGAG 1\nNRPDS 3\nCOORD 2090.0 1150.0\n"
             "RATES 2005 3 14 6 30 40.0\nRATES 2005 3 14 7 0 20.0\nRATES 2005 3 14 7 10 0.0\n\n"
             "EVENT \"second\"\nNRGAG 1\nNRPDS 3\nCOORD 2090.0 1150.0\n"
             "RATES 2005 3 20 12 0 40.0\nRATES 2005 3 20 12 30 20.0\nRATES 2005 3 20 12 40 0.0\n");
}

// The values of a grid file after its six header lines, row by row.
std::vector<double> grid_values(const std::string& text) {
  const std::vector<std::vector<double>> rows = table_rows(text, 6);
  std::vector<double> all;
  for (const std::vector<double>& r : rows) all.insert(all.end(), r.begin(), r.end());
  return all;
}

// A grid of the small example's header with every cell `value` (0 outside the watershed).
std::string uniform_grid(double value) {
  const std::vector<double> mask = grid_values(read_file("small_mask.asc"));
  std::string text;
  std::istringstream in(read_file("small_mask.asc"));
  std::string line;
  for (int k = 0; k < 6 && std::getline(in, line); ++k) text += line + "\n";
  for (std::size_t i = 0; i < mask.size(); ++i)
    text += (mask[i] != 0.0 ? fixed(value, 6) : std::string("0.0")) + ((i + 1) % 12 ? " " : "\n");
  return text;
}

std::string exchange_outputs() {
  return read_file("exchange/volp.txt") + read_file("exchange/moist.asc") +
         read_file("exchange/rough.asc") + read_file("exchange/ksat.asc") +
         read_file("exchange/poros.asc") + read_file("small_outlet.out") +
         read_file("small_summary.out");
}

}  // namespace

TEST(CouplingCases, TwoTevEventsExchangeTheirGridsWithVolpThroughFiles) {
  temp_dir dir;
  // Event 1: at its end the grids and the event file go to VOLP and the run ends.
  write_tev_project(1, "");
  const torva_test::thread_runs first =
      torva_test::run_at_compared_thread_counts("small.prj", exchange_outputs);
  EXPECT_TRUE(torva_test::contains(first.run[1].out, "End of TEV event 1\n")) << first.run[1].out;
  // Ended on 14 March (day 73 after 31 December 01:00), the next starts on 20 March at noon.
  EXPECT_EQ(read_file("exchange/volp.txt"), " 73  79\n");
  const std::vector<double> mask = grid_values(read_file("small_mask.asc"));
  const std::vector<double> ks_map = grid_values(read_file("small_conductivity.asc"));
  const std::vector<double> porosity = grid_values(read_file("small_porosity.asc"));
  const std::vector<double> moisture = grid_values(read_file("small_moisture.asc"));
  const std::vector<double> ks_out = grid_values(read_file("exchange/ksat.asc"));
  const std::vector<double> poros_out = grid_values(read_file("exchange/poros.asc"));
  const std::vector<double> moist_out = grid_values(read_file("exchange/moist.asc"));
  const std::vector<double> rough_out = grid_values(read_file("exchange/rough.asc"));
  ASSERT_EQ(mask.size(), 120u);
  for (const std::vector<double>* g :
       {&ks_map, &porosity, &moisture, &ks_out, &poros_out, &moist_out, &rough_out})
    ASSERT_EQ(g->size(), 120u);
  EXPECT_EQ(read_file("exchange/ksat.asc").substr(0, 17), "north:   1300.00\n");
  for (std::size_t i = 0; i < mask.size(); ++i) {
    const bool in = mask[i] != 0.0;
    // The conductivity map is in cm/h, as the exchange file; the model holds m/s.
    EXPECT_NEAR(ks_out[i], in ? ks_map[i] : 0.0, 1e-6) << i;
    EXPECT_NEAR(poros_out[i], in ? porosity[i] : 0.0, 1e-6) << i;
    EXPECT_NEAR(moist_out[i], in ? moisture[i] : 0.0, 1e-6) << i;
    EXPECT_NEAR(rough_out[i], in ? 0.05 : 0.0, 1e-9) << i;
  }
  const torva_test::summary_balance s1 =
      torva_test::read_summary_balance(read_file("small_summary.out"));
  ASSERT_TRUE(s1.has_event);
  EXPECT_GT(s1.event_infiltrated, 100.0);
  EXPECT_GT(s1.event_discharge, 100.0);
  EXPECT_LT(std::fabs(s1.event_error_percent), 1e-6);

  // VOLP's answer, written by hand: a soil that takes no water, rougher ground, saturated soil.
  write_file("exchange/ksat_in.asc", uniform_grid(0.0));
  write_file("exchange/rough_in.asc", uniform_grid(0.2));
  write_file("exchange/moist_in.asc", uniform_grid(0.35));
  // Event 2 reads them at start-up: no water infiltrates, all the rain runs off or stays on the
  // ground; the grids it writes at its end carry what it read; after the last event the event
  // file holds 999 999.
  write_tev_project(2,
                    "VOLP_FIRST\nMOIST_FROM_VOLP moist_in.asc\nROUGH_FROM_VOLP rough_in.asc\n"
                    "KSAT_FROM_VOLP ksat_in.asc\n");
  const torva_test::thread_runs second =
      torva_test::run_at_compared_thread_counts("small.prj", exchange_outputs);
  EXPECT_TRUE(torva_test::contains(second.run[1].out, "End of TEV event 2\n")) << second.run[1].out;
  EXPECT_EQ(read_file("exchange/volp.txt"), "999 999\n");
  const std::vector<double> ks2 = grid_values(read_file("exchange/ksat.asc"));
  const std::vector<double> rough2 = grid_values(read_file("exchange/rough.asc"));
  const std::vector<double> moist2 = grid_values(read_file("exchange/moist.asc"));
  for (std::size_t i = 0; i < mask.size(); ++i) {
    const bool in = mask[i] != 0.0;
    EXPECT_EQ(ks2[i], 0.0) << i;
    EXPECT_NEAR(rough2[i], in ? 0.2 : 0.0, 1e-9) << i;
    EXPECT_NEAR(moist2[i], in ? 0.35 : 0.0, 1e-9) << i;
  }
  const torva_test::summary_balance s2 =
      torva_test::read_summary_balance(read_file("small_summary.out"));
  ASSERT_TRUE(s2.has_event);
  EXPECT_EQ(s2.event_infiltrated, 0.0);
  // The same rain as event 1 (40 mm/h for 30 minutes, 20 mm/h for 10) on 108 cells of 900 m2.
  EXPECT_NEAR(s2.event_rain, (0.040 * 0.5 + 0.020 / 6.0) * 108 * 900.0, 0.1);
  EXPECT_NEAR(s2.event_discharge + s2.event_surface_final, s2.event_rain, 1e-6 * s2.event_rain);
  EXPECT_LT(std::fabs(s2.event_error_percent), 1e-6);
}

namespace {

// The outlet series' lines, time and discharge.
std::vector<std::vector<double>> outlet_rows() {
  return table_rows(read_file("small_outlet.out"), 0);
}

}  // namespace

// Both events in one run: at the end of the first the grids go to VOLP and VOLP's answer, written
// here by hand, comes back bounded to the soil's range; the clock then jumps the six dry days to
// the second event's start, which runs on the soil VOLP returned, and the books hold over both.
TEST(CouplingCases, TwoEventsInOneRunReadVolpsGridsBackAndJumpTheDrySpell) {
  temp_dir dir;
  write_tev_project(1, "");
  torva_test::command_result single = torva_test::run_with_threads("small.prj", 1);
  ASSERT_EQ(single.status, 0) << single.out;
  const std::vector<std::vector<double>> first_event_alone = outlet_rows();

  // VOLP's answer: a soil that takes no water, a roughness of none (the default follows) and a
  // moisture above the porosity (99 % of the porosity follows: the small soils keep no residual).
  write_file("exchange/ksat_in.asc", uniform_grid(0.0));
  write_file("exchange/rough_in.asc", uniform_grid(0.0));
  write_file("exchange/moist_in.asc", uniform_grid(0.6));
  write_tev_project(0,
                    "MOIST_FROM_VOLP moist_in.asc\nROUGH_FROM_VOLP rough_in.asc\n"
                    "KSAT_FROM_VOLP ksat_in.asc\n");
  const torva_test::thread_runs both =
      torva_test::run_at_compared_thread_counts("small.prj", exchange_outputs);
  const std::string& out = both.run[1].out;
  EXPECT_EQ(out.find("End of TEV event"), std::string::npos) << out;
  const std::size_t read_back = out.find("reading VOLP exchange maps\n");
  ASSERT_NE(read_back, std::string::npos) << out;
  EXPECT_EQ(out.find("reading VOLP exchange maps\n", read_back + 1), std::string::npos) << out;
  // The last event wrote the closing event file and the grids of the soil VOLP returned.
  EXPECT_EQ(read_file("exchange/volp.txt"), "999 999\n");
  const std::vector<double> mask = grid_values(read_file("small_mask.asc"));
  const std::vector<double> porosity = grid_values(read_file("small_porosity.asc"));
  const std::vector<double> moist = grid_values(read_file("exchange/moist.asc"));
  const std::vector<double> rough = grid_values(read_file("exchange/rough.asc"));
  const std::vector<double> ks = grid_values(read_file("exchange/ksat.asc"));
  ASSERT_EQ(moist.size(), mask.size());
  ASSERT_EQ(rough.size(), mask.size());
  ASSERT_EQ(ks.size(), mask.size());
  for (std::size_t i = 0; i < mask.size(); ++i) {
    const bool in = mask[i] != 0.0;
    EXPECT_NEAR(moist[i], in ? 0.99 * porosity[i] : 0.0, 1e-6) << i;
    EXPECT_NEAR(rough[i], in ? 0.04 : 0.0, 1e-9) << i;
    EXPECT_EQ(ks[i], 0.0) << i;
  }

  // The series: the first event's lines as the run of that event alone wrote them, then none
  // until the second event's start, 6 days 5.5 hours (8970 minutes) after the first's.
  const std::vector<std::vector<double>> rows = outlet_rows();
  ASSERT_GT(rows.size(), first_event_alone.size() + 5);
  for (std::size_t j = 0; j < first_event_alone.size(); ++j)
    EXPECT_EQ(rows[j], first_event_alone[j]) << j;
  const double last_of_first = rows[first_event_alone.size() - 1][0];
  EXPECT_LT(last_of_first, 200.0);
  EXPECT_EQ(rows[first_event_alone.size()][0], 8970.0);

  // The second event: no water soaks in; what was left on the ground and the rain are drained
  // or still on it; the run's books close.
  const torva_test::summary_balance s =
      torva_test::read_summary_balance(read_file("small_summary.out"));
  ASSERT_TRUE(s.has_event);
  ASSERT_TRUE(s.has_totals);
  EXPECT_EQ(s.event_infiltrated, 0.0);
  EXPECT_NEAR(s.event_rain, (0.040 * 0.5 + 0.020 / 6.0) * 108 * 900.0, 0.1);
  EXPECT_GT(s.event_ov_init, 1.0);
  EXPECT_NEAR(s.event_discharge + s.event_surface_final, s.event_rain + s.event_ov_init, 0.2);
  EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
  EXPECT_NEAR(s.run_precip, 2.0 * s.event_rain, 0.2);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
  EXPECT_LT(std::fabs(s.run_surface_error), 1e-6);
}

// What VOLP returns between the events must be there and must make sense: a missing grid and a
// negative conductivity stop the run with a message naming the file.
TEST(CouplingCases, VolpGridsReadBackMissingOrNegativeStopTheRun) {
  temp_dir dir;
  write_tev_project(0, "KSAT_FROM_VOLP ksat_in.asc\n");
  torva_test::command_result missing = torva_test::run_with_threads("small.prj", 1);
  EXPECT_NE(missing.status, 0);
  EXPECT_TRUE(torva_test::contains(
      missing.out, "2 Can't open Ksat exchange file exchange/ksat_in.asc for reading\n"))
      << missing.out;

  write_file("exchange/ksat_in.asc", uniform_grid(-0.5));
  torva_test::command_result negative = torva_test::run_with_threads("small.prj", 1);
  EXPECT_NE(negative.status, 0);
  EXPECT_TRUE(torva_test::contains(negative.out, "exchange/ksat_in.asc gives cell"))
      << negative.out;
  EXPECT_TRUE(torva_test::contains(negative.out, "it must be 0 or more")) << negative.out;
  // The run stopped at the first event's end: the second event never started.
  EXPECT_EQ(read_file("exchange/volp.txt"), " 73  79\n");
}

namespace {

// The small TEV project of both events with the redistribution soil (pore index 0.234, residual
// content 0.05) and a conductivity of 10 cm/h, above the heaviest rain (4 cm/h): every drop of
// rain soaks in where it falls. Steps of 30 s carry the soil through the dry spell.
void write_redistribution_tev_project(const std::string& extra) {
  write_tev_project(0, extra);
  std::string prj = read_file("small.prj");
  const std::size_t ga = prj.find("\nGREEN_AMPT\n");
  ASSERT_NE(ga, std::string::npos);
  prj.replace(ga, 12, "\nINF_REDIST\n");
  const std::size_t step = prj.find("\nTIMESTEP ");
  ASSERT_NE(step, std::string::npos);
  prj.replace(step + 1, prj.find('\n', step + 1) - step - 1, "TIMESTEP 30.0");
  write_file("small.prj",
             prj + "PORE_INDEX small_pore_index.asc\nRESIDUAL_SAT small_residual.asc\n");
  write_file("small_pore_index.asc", uniform_grid(0.234));
  write_file("small_residual.asc", uniform_grid(0.05));
  write_file("small_conductivity.asc", uniform_grid(10.0));
  // The second storm the same day, at 12:00, so that the dry spell takes few steps.
  std::string gauge = read_file("tev.gag");
  const std::size_t second = gauge.find("RATES 2005 3 20 ");
  ASSERT_NE(second, std::string::npos);
  gauge = gauge.substr(0, second) +
          "RATES 2005 3 14 12 0 40.0\nRATES 2005 3 14 12 30 20.0\nRATES 2005 3 14 12 40 0.0\n";
  write_file("tev.gag", gauge);
}

}  // namespace

// The redistribution soil keeps its water between the events; VOLP hands back the soil whole.
// Its moisture (0.30, inside the soil's range, below the 0.35 the run started on) becomes the
// soil's: the water the wetting front took in during the first event, all of its rain, goes to
// VOLP in the books, and the second event starts on VOLP's soil as the run started on its map.
TEST(CouplingCases, TwoEventsUnderTheRedistributionSoilHandTheFrontsWaterToVolp) {
  temp_dir dir;
  write_redistribution_tev_project("MOIST_FROM_VOLP moist_in.asc\n");
  write_file("exchange/moist_in.asc", uniform_grid(0.30));
  const torva_test::thread_runs both =
      torva_test::run_at_compared_thread_counts("small.prj", exchange_outputs);
  const std::string& out = both.run[1].out;
  ASSERT_NE(out.find("reading VOLP exchange maps\n"), std::string::npos) << out;
  EXPECT_EQ(read_file("exchange/volp.txt"), "999 999\n");

  // Each event's rain: 40 mm/h for 30 minutes, 20 mm/h for 10, on 108 cells of 900 m2.
  const double event_rain = (0.040 * 0.5 + 0.020 / 6.0) * 108 * 900.0;  // 2268 m3
  const std::string summary = read_file("small_summary.out");
  const torva_test::summary_balance s = torva_test::read_summary_balance(summary);
  ASSERT_TRUE(s.has_totals);
  EXPECT_NEAR(s.run_precip, 2.0 * event_rain, 0.1);
  EXPECT_NEAR(s.run_infiltration, 2.0 * event_rain, 0.1);
  EXPECT_NEAR(torva_test::summary_number(summary, "Soil water exchanged with VOLP="), -event_rain,
              0.1);
  // The soil ends with the second event's rain: the first's went to VOLP.
  EXPECT_NEAR(torva_test::summary_number(summary, "Final volume in soil over simple soil depth"),
              event_rain, 0.1);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);

  // The surface moisture of the soil at the second event's end is VOLP's (the front soaks the
  // rain in at the moisture below it).
  const std::vector<double> mask = grid_values(read_file("small_mask.asc"));
  const std::vector<double> moist = grid_values(read_file("exchange/moist.asc"));
  ASSERT_EQ(moist.size(), mask.size());
  for (std::size_t i = 0; i < mask.size(); ++i)
    EXPECT_NEAR(moist[i], mask[i] != 0.0 ? 0.30 : 0.0, 1e-9) << i;
}

namespace {

// The four flat silt-loam cells of the green_ampt case under the layered soil (layers of 10 and
// 20 cm and below, moisture 0.1458), two storms of 50 mm/h for 30 minutes three and a half hours
// apart, inside TEV with VOLP, the moisture written to VOLP at each event's end and `extra`
// cards.
void write_layered_tev_project(const std::string& extra) {
  const std::string folder = std::string(TORVA_SOURCE_DIR) + "/tests/cases/green_ampt/";
  for (const char* name : {"ga_mask.asc", "ga_elev.asc"})
    write_file(name, read_file(folder + name));
  const std::string header = torva_test::grid_header(2, 2, 100.0);
  write_file("ga_soil.asc", header + "7 7\n7 7\n");
  write_file("layers.txt",
             "1\n0\n7 silt loam\n"
             "0.65 0.22 16.7 0.486 0.33 0.13 0.027 0.1458 10.0\n"
             "0.65 0.22 16.7 0.486 0.33 0.13 0.027 0.1458 20.0\n"
             "0.65 0.22 16.7 0.486 0.33 0.13 0.027 0.1458\n");
  std::string project = read_file(folder + "green_ampt.prj");
  project =
      project.substr(0, project.find("TOT_TIME")) +
      project.substr(project.find("OUTROW"), project.find("PRECIP_UNIF") - project.find("OUTROW"));
  write_file("ga.prj", project +
                           "INF_LAYERED_SOIL\nSOIL_TYPE_MAP ga_soil.asc\nSOIL_LAYER_INPUT_FILE "
                           "layers.txt\nPRECIP_FILE storms.gag\nTEV\nVOLP volp.txt\n"
                           "MOIST_TO_VOLP moist.asc\n" +
                           extra);
  write_file("storms.gag",
             "EVENT \"first\"\nNRGAG 1\nNRPDS 2\nCOORD 600.0 1100.0\n"
             "RATES 2005 3 14 6 30 50.0\nRATES 2005 3 14 7 0 0.0\n\n"
             "EVENT \"second\"\nNRGAG 1\nNRPDS 2\nCOORD 600.0 1100.0\n"
             "RATES 2005 3 14 10 0 50.0\nRATES 2005 3 14 10 30 0.0\n");
  std::filesystem::create_directory("exchange");
}

}  // namespace

// The layered soil keeps its layers' moisture between the events. VOLP hands back a top layer at
// 0.30: the upper zone gains (0.30 - 0.1458) x 10 cm over the 4 x 10000 m2, 616.8 m3, which the
// books show as water exchanged with VOLP; the soil ends with its start, all that soaked in and
// that gain.
TEST(CouplingCases, TwoEventsUnderTheLayeredSoilTakeVolpsTopLayerMoistureIntoTheBooks) {
  temp_dir dir;
  write_layered_tev_project("MOIST_FROM_VOLP moist_in.asc\n");
  write_file("exchange/moist_in.asc",
             torva_test::grid_header(2, 2, 100.0) + "0.30 0.30\n0.30 0.30\n");
  const torva_test::thread_runs both = torva_test::run_at_compared_thread_counts(
      "ga.prj", [] { return read_file("ga_summary.out") + read_file("exchange/moist.asc"); });
  const std::string& out = both.run[1].out;
  ASSERT_NE(out.find("reading VOLP exchange maps\n"), std::string::npos) << out;
  EXPECT_EQ(read_file("exchange/volp.txt"), "999 999\n");

  const std::string summary = read_file("ga_summary.out");
  const torva_test::summary_balance s = torva_test::read_summary_balance(summary);
  ASSERT_TRUE(s.has_totals) << summary;
  EXPECT_NEAR(s.run_precip, 2.0 * 0.05 * 0.5 * 4 * 10000.0, 0.1);
  EXPECT_GT(s.run_infiltration, 100.0);
  const double gained = (0.30 - 0.1458) * 0.10 * 4 * 10000.0;  // 616.8 m3
  EXPECT_NEAR(torva_test::summary_number(summary, "Soil water exchanged with VOLP="), gained, 0.01);
  // The zones started with 0.1458 over the 30 cm of the top two layers.
  const double start = 0.1458 * 0.30 * 4 * 10000.0;  // 1749.6 m3
  EXPECT_NEAR(torva_test::summary_number(summary, "Initial volume in soil over simple soil depth"),
              start, 0.01);
  EXPECT_NEAR(torva_test::summary_number(summary, "Final volume in soil over simple soil depth"),
              start + s.run_infiltration + gained, 0.02);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6) << summary;
  EXPECT_LT(std::fabs(torva_test::summary_number(summary, "Simple soil moisture mass balance =")),
            1e-6)
      << summary;
  // The top layer the second event ends with is VOLP's.
  const std::vector<double> moist = grid_values(read_file("exchange/moist.asc"));
  ASSERT_EQ(moist.size(), 4u);
  for (double m : moist) EXPECT_NEAR(m, 0.30, 1e-9);
}

namespace {

// Four flat cells of 100 m over Richards columns of one Brooks-Corey soil (Ks 20 cm/h, porosity
// 0.45, residual 0.05, pore index 0.5, bubbling pressure 20 cm, nodes of 2 cm; layers of 10, 10
// and 30 cm, the top one at 0.06 and the others at 0.08, so dry that they pass no water worth
// the name): the root zone is the top layer, nodes 1 to 5. A first event of a trace of rain for
// a minute from 06:30 and a second of 20 mm/h for 30 minutes from 07:00; steps of a minute, the
// moisture of nodes 1, 5 and 6 of every cell every minute.
void write_richards_tev_project(const std::string& extra) {
  const std::string header = torva_test::grid_header(2, 2, 100.0);
  write_file("m.asc", header + "1 1\n1 1\n");
  write_file("e.asc", header + "10 10\n10 10\n");
  write_file("soil.asc", header + "3 3\n3 3\n");
  std::string table = "1\n0\n3\n";
  for (const char* layer : {"0.06 0.055 0.25 10", "0.08 0.055 0.25 10", "0.08 0.055 0.25 30"})
    table += std::string("20 0.45 0.05 ") + layer + " 0.5 20 2\n";
  write_file("table.txt", table);
  std::string where = "4 3\n";
  for (const char* cell : {"1 1", "1 2", "2 1", "2 2"}) where += std::string(cell) + " 3 1 5 6\n";
  write_file("where.txt", where);
  write_file("storms.gag",
             "EVENT \"trace\"\nNRGAG 1\nNRPDS 2\nCOORD 600.0 1100.0\n"
             "RATES 2005 3 14 6 30 0.000001\nRATES 2005 3 14 6 31 0.0\n\n"
             "EVENT \"storm\"\nNRGAG 1\nNRPDS 2\nCOORD 600.0 1100.0\n"
             "RATES 2005 3 14 7 0 20.0\nRATES 2005 3 14 7 30 0.0\n");
  std::filesystem::create_directory("exchange");
  write_file("r.prj",
             "TORVAPROJECT\nWATERSHED_MASK m.asc\nELEVATION e.asc\nSUMMARY s.out\n"
             "OUTLET_HYDRO o.out\nROWS 2\nCOLS 2\nGRIDSIZE 100.0\nSTART_DATE 2005 3 14\n"
             "START_TIME 6 30\nTIMESTEP 60.0\nOUTROW 2\nOUTCOL 2\nOUTSLOPE 0.001\nHYD_FREQ 1\n"
             "MANNING_N 0.05\nOVERTYPE explicit\nINF_RICHARDS\nRICHARDS_C_OPTION brooks\n"
             "SOIL_TYPE_MAP soil.asc\nSOIL_LAYER_INPUT_FILE table.txt\n"
             "IN_THETA_LOCATION where.txt\nOUT_THETA_LOCATION theta.out\n"
             "PRECIP_FILE storms.gag\nTEV\nVOLP volp.txt\nMOIST_TO_VOLP moist.asc\n" +
                 extra);
}

}  // namespace

// The Richards columns keep their water between the events; VOLP's moisture is that of their
// root zones. Alone, the first event hands VOLP its root zones' 0.06 (not the 0.08 below them).
// With both events in one run VOLP hands back 0.15, 0.30, 0.60 and 0.02: the last two outside
// the soil's range become 0.05 + 0.99 x 0.40 = 0.446 and 0.05 + 0.01 x 0.40 = 0.054. The row
// written at the first event's end shows every root zone at its moisture and the layer below
// unchanged; the root zones gained (0.09 + 0.24 + 0.386 - 0.006) x 10 cm over 10000 m2, 710 m3,
// which the books show as water exchanged with VOLP, and they close.
TEST(CouplingCases, TwoEventsOverRichardsColumnsSetTheRootZonesToVolpsMoisture) {
  temp_dir dir;
  write_richards_tev_project("TEV_EVENT_NUM 1\n");
  const torva_test::thread_runs alone = torva_test::run_at_compared_thread_counts(
      "r.prj", [] { return read_file("exchange/moist.asc") + read_file("theta.out"); });
  ASSERT_TRUE(torva_test::contains(alone.run[1].out, "End of TEV event 1\n")) << alone.run[1].out;
  const std::vector<double> handed = grid_values(read_file("exchange/moist.asc"));
  ASSERT_EQ(handed.size(), 4u);
  for (double m : handed) EXPECT_NEAR(m, 0.06, 1e-6);

  write_richards_tev_project("MOIST_FROM_VOLP moist_in.asc\n");
  write_file("exchange/moist_in.asc",
             torva_test::grid_header(2, 2, 100.0) + "0.15 0.30\n0.60 0.02\n");
  const torva_test::thread_runs both = torva_test::run_at_compared_thread_counts("r.prj", [] {
    return read_file("s.out") + read_file("theta.out") + read_file("exchange/moist.asc");
  });
  const std::string& out = both.run[1].out;
  const std::size_t read_back = out.find("reading VOLP exchange maps\n");
  ASSERT_NE(read_back, std::string::npos) << out;
  EXPECT_EQ(out.find("reading VOLP exchange maps\n", read_back + 1), std::string::npos) << out;
  EXPECT_EQ(read_file("exchange/volp.txt"), "999 999\n");

  const double volp[] = {0.15, 0.30, 0.05 + 0.99 * 0.40, 0.05 + 0.01 * 0.40};
  const std::vector<std::vector<double>> rows = table_rows(read_file("theta.out"), 0);
  std::size_t at = 0;
  while (at < rows.size() && rows[at].size() == 13 && std::fabs(rows[at][1] - 0.06) < 1e-5) ++at;
  ASSERT_GT(at, 0u);
  ASSERT_LT(at, rows.size());
  ASSERT_EQ(rows[at].size(), 13u);
  // Read back between the events: the second starts 30 minutes into the run.
  EXPECT_LT(rows[at][0], 30.0);
  for (int c = 0; c < 4; ++c) {
    SCOPED_TRACE(c + 1);
    EXPECT_NEAR(rows[at - 1][1 + 3 * c], 0.06, 1e-5);
    EXPECT_NEAR(rows[at][1 + 3 * c], volp[c], 5e-7);
    EXPECT_NEAR(rows[at][2 + 3 * c], volp[c], 5e-7);
    EXPECT_NEAR(rows[at][3 + 3 * c], 0.08, 1e-5);
  }

  const std::string summary = read_file("s.out");
  const torva_test::summary_balance s = torva_test::read_summary_balance(summary);
  ASSERT_TRUE(s.has_totals) << summary;
  // The storm's 1 cm over the four cells soaks in, runs off or stays on the ground.
  EXPECT_NEAR(s.run_precip, 0.01 * 4 * 10000.0, 0.01);
  EXPECT_GT(s.run_infiltration, 200.0);
  EXPECT_NEAR(s.run_infiltration + s.run_discharge + s.run_ov_final, s.run_precip, 0.02);
  const double gained = (0.09 + 0.24 + 0.386 - 0.006) * 0.10 * 10000.0;  // 710 m3
  const double exchanged = torva_test::summary_number(summary, "Soil water exchanged with VOLP=");
  EXPECT_NEAR(exchanged, gained, 0.01);
  const double start = torva_test::summary_number(summary, "Initial volume in soils=");
  const double end = torva_test::summary_number(summary, "Final volume in soils=");
  const double drained =
      torva_test::summary_number(summary, "Total downward flux from unsaturated zone=");
  EXPECT_NEAR(end, start + s.run_infiltration + exchanged - drained, 0.02);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6) << summary;
  // Each event's books of the columns close, the first's with the water VOLP's moisture gave at
  // its end.
  EXPECT_NEAR(torva_test::summary_number(summary, "vol exchanged with VOLP (cu. m.):"), gained,
              0.05);
  const std::string label = "Richard equation mass balance error";
  int events = 0;
  for (std::size_t at_label = summary.find(label); at_label != std::string::npos;
       at_label = summary.find(label, at_label + 1), ++events)
    EXPECT_LT(std::fabs(torva_test::summary_number(summary.substr(at_label), label)), 1e-4)
        << events;
  EXPECT_EQ(events, 2);
}

// VOLP_FIRST: the moisture VOLP hands over before a run of one event is where every soil starts,
// counted in the soil's starting water, and the books close. The Green and Ampt and redistribution
// soils start from the moisture map, which VOLP's grid replaces (the redistribution soil hands
// VOLP back the moisture below its front); the layered soil's top layer takes it, so its zones
// start with 0.30 x 10 cm and 0.1458 x 20 cm over the 4 x 10000 m2, 2366.4 m3; the Richards
// root zones (nodes 1 to 5) take it, the node below keeps the table's 0.08.
TEST(CouplingCases, VolpsFirstMoistureIsWhereEverySoilStarts) {
  struct soil_case {
    const char* name;
    void (*write)(const std::string& extra);
    const char* project;
    const char* summary;
    std::string (*volp_grid)();  // VOLP's moisture, written once the project is
    void (*check)(const std::string& summary);
  };
  const soil_case cases[] = {
      {"Green and Ampt", [](const std::string& extra) { write_tev_project(1, extra); }, "small.prj",
       "small_summary.out", [] { return uniform_grid(0.25); },
       [](const std::string&) {
         const std::vector<double> mask = grid_values(read_file("small_mask.asc"));
         const std::vector<double> moist = grid_values(read_file("exchange/moist.asc"));
         ASSERT_EQ(moist.size(), mask.size());
         for (std::size_t i = 0; i < mask.size(); ++i)
           EXPECT_NEAR(moist[i], mask[i] != 0.0 ? 0.25 : 0.0, 1e-9) << i;
       }},
      {"redistribution",
       [](const std::string& extra) {
         write_redistribution_tev_project("TEV_EVENT_NUM 1\n" + extra);
       },
       "small.prj", "small_summary.out", [] { return uniform_grid(0.20); },
       [](const std::string&) {
         const std::vector<double> mask = grid_values(read_file("small_mask.asc"));
         const std::vector<double> moist = grid_values(read_file("exchange/moist.asc"));
         ASSERT_EQ(moist.size(), mask.size());
         for (std::size_t i = 0; i < mask.size(); ++i)
           EXPECT_NEAR(moist[i], mask[i] != 0.0 ? 0.20 : 0.0, 1e-9) << i;
       }},
      {"layered",
       [](const std::string& extra) { write_layered_tev_project("TEV_EVENT_NUM 1\n" + extra); },
       "ga.prj", "ga_summary.out",
       [] { return torva_test::grid_header(2, 2, 100.0) + "0.30 0.30\n0.30 0.30\n"; },
       [](const std::string& summary) {
         const double start = (0.30 * 0.10 + 0.1458 * 0.20) * 4 * 10000.0;  // 2366.4 m3
         EXPECT_NEAR(
             torva_test::summary_number(summary, "Initial volume in soil over simple soil depth"),
             start, 0.01);
         const torva_test::summary_balance s = torva_test::read_summary_balance(summary);
         EXPECT_GT(s.run_infiltration, 100.0);
         EXPECT_NEAR(
             torva_test::summary_number(summary, "Final volume in soil over simple soil depth"),
             start + s.run_infiltration, 0.02);
         EXPECT_LT(
             std::fabs(torva_test::summary_number(summary, "Simple soil moisture mass balance =")),
             1e-6);
         const std::vector<double> moist = grid_values(read_file("exchange/moist.asc"));
         ASSERT_EQ(moist.size(), 4u);
         for (double m : moist) EXPECT_NEAR(m, 0.30, 1e-9);
       }},
      {"Richards",
       [](const std::string& extra) { write_richards_tev_project("TEV_EVENT_NUM 1\n" + extra); },
       "r.prj", "s.out",
       [] { return torva_test::grid_header(2, 2, 100.0) + "0.15 0.30\n0.20 0.10\n"; },
       [](const std::string& summary) {
         const double volp[] = {0.15, 0.30, 0.20, 0.10};
         const std::vector<std::vector<double>> rows = table_rows(read_file("theta.out"), 0);
         ASSERT_FALSE(rows.empty());
         ASSERT_EQ(rows[0].size(), 13u);
         for (int c = 0; c < 4; ++c) {
           SCOPED_TRACE(c + 1);
           EXPECT_NEAR(rows[0][1 + 3 * c], volp[c], 1e-6);
           EXPECT_NEAR(rows[0][2 + 3 * c], volp[c], 1e-6);
           EXPECT_NEAR(rows[0][3 + 3 * c], 0.08, 1e-6);
         }
         const torva_test::summary_balance s = torva_test::read_summary_balance(summary);
         const double start = torva_test::summary_number(summary, "Initial volume in soils=");
         const double end = torva_test::summary_number(summary, "Final volume in soils=");
         const double drained =
             torva_test::summary_number(summary, "Total downward flux from unsaturated zone=");
         EXPECT_NEAR(end, start + s.run_infiltration - drained, 0.02);
       }},
  };
  for (const soil_case& sc : cases) {
    SCOPED_TRACE(sc.name);
    temp_dir dir;
    sc.write("VOLP_FIRST\nMOIST_FROM_VOLP moist_in.asc\n");
    write_file("exchange/moist_in.asc", sc.volp_grid());
    const std::string summary_name = sc.summary;
    const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
        sc.project,
        [summary_name] { return read_file(summary_name) + read_file("exchange/moist.asc"); });
    EXPECT_TRUE(torva_test::contains(runs.run[1].out, "End of TEV event 1\n")) << runs.run[1].out;
    const std::string summary = read_file(sc.summary);
    sc.check(summary);
    const torva_test::summary_balance s = torva_test::read_summary_balance(summary);
    ASSERT_TRUE(s.has_event) << summary;
    EXPECT_LT(std::fabs(s.event_error_percent), 1e-6) << summary;
    ASSERT_TRUE(s.has_totals) << summary;
    EXPECT_LT(std::fabs(s.run_overall_error), 1e-6) << summary;
  }
}

// VOLP_FIRST's moisture grid must be there: under the Richards columns a missing one stops the
// run at start-up with a message naming the file, before any step.
TEST(CouplingCases, VolpsFirstMoistureMissingStopsTheRunAtStartUp) {
  temp_dir dir;
  write_richards_tev_project("TEV_EVENT_NUM 1\nVOLP_FIRST\nMOIST_FROM_VOLP moist_in.asc\n");
  const torva_test::command_result run = torva_test::run_with_threads("r.prj", 1);
  EXPECT_NE(run.status, 0);
  EXPECT_TRUE(torva_test::contains(
      run.out, "1 Can't open soil moisture exchange file exchange/moist_in.asc for reading\n"))
      << run.out;
  EXPECT_FALSE(torva_test::contains(run.out, "Running....")) << run.out;
}
