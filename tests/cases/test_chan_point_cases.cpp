// End-to-end runs of the torva executable with a channel point-source file (CHAN_POINT_INPUT): a
// valley under a short light shower whose one channel is fed by a point source whose flow
// changes at dated records. The summary books exactly the integral of the flows as channel point
// sources and its water balance closes; 1 and 8 threads write the same outputs; a file that names a
// node outside the network stops the run with a message naming the file and line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::command_result;
using torva_test::contains;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::run_command;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::torva_exe;
using torva_test::write_file;

namespace chan_point_cases_tests {

std::string fixed(double v) {
  char text[64];
  snprintf(text, sizeof text, "%.3f", v);
  return text;
}

// A valley of six 200 m cells in one row, 3 m above the bed of one trapezoidal link (10 m wide,
// side slopes of 2, n = 0.03, bed slope 0.001) whose six computational nodes lie under the
// cells; 1 mm/h of rain falls for the first ten minutes. The project names the point-source file
// "points.txt" and runs `minutes`.
void write_valley(int minutes) {
  const int cols = 6;
  const double g = 200.0;
  const double slope = 0.001;
  const std::string header = "north: 1200.0\nsouth: 1000.0\neast: " + fixed(cols * g) +
                             "\nwest: 0.0\nrows: 1\ncols: " + std::to_string(cols) + "\n";
  std::string mask = header, elev = header;
  for (int j = 1; j <= cols; ++j) {
    mask += "1 ";
    elev += fixed(110.0 - slope * g * (j - 0.5) + 3.0) + " ";
  }
  write_file("pv_mask.asc", mask + "\n");
  write_file("pv_elev.asc", elev + "\n");
  std::string chn =
      "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES 7\nCONNECT 1 0 0\n\n"
      "LINK 1\nNODES 7\nDX 200.0\nTRAPEZOID\nMANNINGS_N 0.03\n";
  for (int n = 1; n <= cols + 1; ++n) {
    chn += "NODE " + std::to_string(n) + "\nELEV " + fixed(110.0 - slope * g * (n - 1)) + "\n";
    if (n == 1) chn += "XSEC\nBOTTOM_WIDTH 10.0\nSIDE_SLOPE 2.0\nBANKFULL_DEPTH 3.0\n";
  }
  write_file("pv.chn", chn);
  std::string gst = "GRIDSTREAMFILE\nSTREAMCELLS " + std::to_string(cols) + "\n";
  for (int j = 1; j <= cols; ++j)
    gst += "CELLIJ 1 " + std::to_string(j) + "\nNUMNODES 1\nLINKNODE 1 " + std::to_string(j) +
           " 1.0\n";
  write_file("pv.gst", gst);
  write_file("pv.prj",
             "TORVAPROJECT\nWATERSHED_MASK pv_mask.asc\nELEVATION pv_elev.asc\n"
             "SUMMARY pv_summary.out\nOUTLET_HYDRO pv_outlet.out\n"
             "ROWS 1\nCOLS 6\nGRIDSIZE 200.0\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n"
             "TIMESTEP 10.0\nTOT_TIME " +
                 std::to_string(minutes) +
                 "\nHYD_FREQ 10\nOUTROW 1\nOUTCOL 6\nOUTSLOPE 0.001\nMANNING_N 0.05\n"
                 "OVERTYPE explicit\nCHAN_EXPLIC\nCHANNEL_INPUT pv.chn\nSTREAM_CELL pv.gst\n"
                 "PRECIP_UNIF\nRAIN_INTENSITY 1.0\nRAIN_DURATION 10\nCHAN_DEPTH pv_depth.out\n"
                 "CHAN_POINT_INPUT points.txt\n");
}

// Four hours of a point source at the head node: 2 m3/s from the start, 5 m3/s from 7:30, then
// 1 m3/s from 8:30 to the end at 10:30. Its water
// is 2 x 3600 + 5 x 3600 + 1 x 7200 = 32,400 m3, which the summary books as channel point
// sources, to its printed 0.01 m3; what came in from the source and the cells is what left the
// outlet and what the channel holds at the end, and the books close.
TEST(ChanPointCases, APointSourceAddsExactlyItsVolumeToTheChannel) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_valley(240);
  write_file("points.txt",
             "Point inflows of the valley\n"
             "NUMPT 1\n"
             "point 1 1 2.0   the head node of link 1\n"
             "NRPDS 2\n"
             "INPUT 2005 3 14 7 30\n 5.0\n"
             "Input 2005 3 14 8 30\n 1.0\n");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("pv.prj", [] {
    return read_file("pv_depth.out") + read_file("pv_outlet.out") + read_file("pv_summary.out");
  });
  ASSERT_EQ(runs.run[1].status, 0);

  const std::string summary = read_file("pv_summary.out");
  const double expected = 2.0 * 3600 + 5.0 * 3600 + 1.0 * 7200;
  const summary_balance s = read_summary_balance(summary);
  ASSERT_TRUE(s.has_event) << summary;
  ASSERT_TRUE(s.has_totals) << summary;
  EXPECT_NEAR(s.event_stream_source, expected, 0.01);
  EXPECT_NEAR(summary_number(summary, "Total channel point sources="), expected, 0.01);
  EXPECT_GT(s.event_lateral, 0.0);
  EXPECT_LT(s.event_lateral, 0.01 * expected);
  EXPECT_NEAR(s.event_discharge + s.event_chan_final - s.event_chan_init,
              expected + s.event_lateral, 0.2);  // the summary prints volumes to 0.1 m3
  EXPECT_GT(s.event_discharge, 0.5 * expected);  // the water went down the channel
  EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
}

// A point-source file with a POINT card for a node the link does not have, and one whose record
// header is not INPUT: the run stops at start-up with the line named and a nonzero status.
TEST(ChanPointCases, AFaultyPointSourceFileStopsTheRunNamingTheLine) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_valley(60);
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"NUMPT 1\nPOINT 7 1 2.0\n",
       "the POINT card on line 2 of the channel point-source file points.txt names node 7 of "
       "link 1, which is not a node of that link (1 to 6)."},
      {"NUMPT 1\nPOINT 1 1 2.0\nNRPDS 1\nOUTPUT 2005 3 14 7 30\n5.0\n",
       "the timed record header on line 4 of the channel point-source file points.txt begins "
       "with \"OUTPUT\" instead of INPUT."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    write_file("points.txt", c.text);
    const command_result run = run_command(torva_exe(), {"pv.prj"});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(contains(run.out, c.message)) << run.out;
    EXPECT_TRUE(contains(read_file("pv_summary.out"), c.message));
  }
}

// The last discharge of the outlet hydrograph file (its last line's last number).
double last_outlet_q(const std::string& text) {
  const std::size_t end = text.find_last_not_of(" \n");
  const std::size_t start = text.find_last_of(" \t\n", end);
  return std::stod(text.substr(start + 1, end - start));
}

// A stream inflow at an x, y point (XYBDYINPUT_STTIMESERIES): with node coordinates every 200 m
// along the valley (NODE n at x = 200 (n - 1)), the point at x 690 lies nearest the middle of
// NODE cards 4 and 5, computational node 4. Ten hours after the shower, under a steady 2 m3/s
// point source at the head, the outlet carries 2 m3/s without the point and 7 m3/s with its
// 5 m3/s, and the summary books the point's water with the channel point sources.
TEST(ChanPointCases, AStreamInflowAtAnXYPointReachesItsNearestNodeAndTheOutlet) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const int minutes = 600;
  double outlet[2] = {0.0, 0.0};
  for (int with_point = 0; with_point <= 1; ++with_point) {
    SCOPED_TRACE(with_point);
    write_valley(minutes);
    std::string chn = read_file("pv.chn"), placed;
    for (int n = 1; n <= 7; ++n) {
      const std::string card = "NODE " + std::to_string(n) + "\n";
      const std::size_t at = chn.find(card);
      ASSERT_NE(at, std::string::npos);
      chn.insert(at + card.size(), "X_Y " + fixed(200.0 * (n - 1)) + " 1100.0\n");
    }
    write_file("pv.chn", chn);
    write_file("points.txt", "NUMPT 1\nPOINT 1 1 2.0\nNRPDS 0\n");
    if (with_point) {
      write_file("feed.ts",
                 "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 0 0 5.0\n2005 3 16 0 0 5.0\nEND_TS\n");
      write_file("inflow.xy",
                 "TORVA_XY_ST_BDY_TS\nTORVA_TS\nXY 690.0 1120.0\nTIMESERIES feed\nEND_TS\n");
      write_file("pv.prj", read_file("pv.prj") +
                               "TIME_SERIES_FILE feed.ts\nXYBDYINPUT_STTIMESERIES inflow.xy\n");
    }
    const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
        "pv.prj", [] { return read_file("pv_outlet.out") + read_file("pv_summary.out"); });
    ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;
    if (with_point) {
      EXPECT_TRUE(contains(runs.run[1].out, "Stream inflow point 1 enters link 1 node 4."))
          << runs.run[1].out;
    }
    outlet[with_point] = last_outlet_q(read_file("pv_outlet.out"));
    const std::string summary = read_file("pv_summary.out");
    const double sources = (2.0 + 5.0 * with_point) * minutes * 60.0;
    EXPECT_NEAR(summary_number(summary, "Total channel point sources="), sources, 0.01);
    EXPECT_LT(std::fabs(read_summary_balance(summary).run_overall_error), 1e-6);
  }
  EXPECT_NEAR(outlet[0], 2.0, 1e-3);
  EXPECT_NEAR(outlet[1] - outlet[0], 5.0, 1e-3);
}

}  // namespace chan_point_cases_tests
