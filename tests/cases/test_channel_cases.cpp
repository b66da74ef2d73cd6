// End-to-end channel cases, run by the real torva executable (and, for the per-step books, in
// this process): a trapezoidal link fed a constant flow settles at its Manning normal depth, a
// level pool with no inflow stays at rest, the channel's water changes at every step by its
// inflows less its outflow, rain on the example watershed runs off the cells through its
// channels and out of the outlet with the event's water books closed, and a run whose runoff is
// complete ends early with its books closed; 1 and 8 threads write the same outputs.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "channel/channel_steps.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "run/run_driver.h"
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

namespace channel_cases_tests {

const std::string example_dir = std::string(TORVA_SOURCE_DIR) + "/examples/channel";

std::string fixed(double v, int decimals = 3) {
  char text[64];
  snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// The shape of a valley: `cols` cells of `cell` metres in one row, one computational node under
// each; a trapezoidal section, and the run's time step.
struct valley_shape {
  int cols = 21;
  double cell = 200.0;
  double bottom = 10.0;
  double side = 2.0;
  double timestep = 10.0;
};

// A single link of `shape.cols` computational nodes `shape.cell` apart down a valley of as many
// cells in one row, each node under its own cell, the cells 3 m above the bed. The trapezoid
// (10 m wide at the bottom with side slopes of 2 unless the shape says otherwise) has n = 0.03,
// its bed falling `bed_slope` per metre from 110 m. `node_card` goes under the first node's cards
// (a point source, say), `extra` at the end of the project.
void write_valley(double bed_slope, const std::string& node_card, const std::string& extra,
                  const valley_shape& shape = {}) {
  const int cols = shape.cols;
  const double g = shape.cell;
  std::string header = "north: " + fixed(1000.0 + g, 1) +
                       "\nsouth: 1000.0\neast: " + fixed(cols * g, 1) +
                       "\nwest: 0.0\nrows: 1\ncols: " + std::to_string(cols) + "\n";
  std::string mask = header, elev = header;
  for (int j = 1; j <= cols; ++j) {
    mask += "1 ";
    elev += fixed(110.0 - bed_slope * g * (j - 0.5) + 3.0) + " ";
  }
  write_file("valley_mask.asc", mask + "\n");
  write_file("valley_elev.asc", elev + "\n");
  // Node elevations at the cell edges: each computational node's averaged bed lies mid-cell.
  std::string chn = "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES " +
                    std::to_string(cols + 1) + "\nCONNECT 1 0 0\n\nLINK 1\nNODES " +
                    std::to_string(cols + 1) + "\nDX " + fixed(g, 1) +
                    "\nTRAPEZOID\nMANNINGS_N 0.03\n";
  for (int n = 1; n <= cols + 1; ++n) {
    chn +=
        "NODE " + std::to_string(n) + "\nELEV " + fixed(110.0 - bed_slope * g * (n - 1), 6) + "\n";
    if (n == 1)
      chn += "XSEC\nBOTTOM_WIDTH " + fixed(shape.bottom, 2) + "\nSIDE_SLOPE " +
             fixed(shape.side, 2) + "\nBANKFULL_DEPTH 3.0\n" + node_card;
  }
  write_file("valley.chn", chn);
  std::string gst = "GRIDSTREAMFILE\nSTREAMCELLS " + std::to_string(cols) + "\n";
  for (int j = 1; j <= cols; ++j)
    gst += "CELLIJ 1 " + std::to_string(j) + "\nNUMNODES 1\nLINKNODE 1 " + std::to_string(j) +
           " 1.0\n";
  write_file("valley.gst", gst);
  write_file("valley.prj",
             "TORVAPROJECT\nWATERSHED_MASK valley_mask.asc\nELEVATION valley_elev.asc\n"
             "SUMMARY valley_summary.out\nOUTLET_HYDRO valley_outlet.out\n"
             "SIG_OUTLET_HYDRO valley_outlet_sig.out\n"
             "ROWS 1\nCOLS " +
                 std::to_string(cols) + "\nGRIDSIZE " + fixed(g, 1) +
                 "\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n"
                 "TIMESTEP " +
                 fixed(shape.timestep, 2) + "\nOUTROW 1\nOUTCOL " + std::to_string(cols) +
                 "\nOUTSLOPE 0.001\nMANNING_N 0.05\n"
                 "OVERTYPE explicit\nCHAN_EXPLIC\nCHANNEL_INPUT valley.chn\n"
                 "STREAM_CELL valley.gst\nCHAN_DEPTH valley_depth.out\n" +
                 extra);
}

// The discharges (second column) of a hydrograph.
std::vector<double> hydrograph_flows(const std::string& text) {
  std::vector<double> q;
  std::istringstream in(text);
  double t = 0.0, v = 0.0;
  while (in >> t >> v) q.push_back(v);
  return q;
}

// Runs the project of the current folder on `threads` threads; the run must end normally.
command_result run_torva(const std::string& project, int threads) {
  command_result run = torva_test::run_with_threads(project, threads);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  return run;
}

// The event's books close: its error prints as 0 to six decimals of a percent, and the run's.
void expect_books_close(const summary_balance& s) {
  ASSERT_TRUE(s.has_event);
  ASSERT_TRUE(s.has_totals);
  EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
  EXPECT_LT(std::fabs(s.run_surface_error), 1e-6);
}

// A trapezoid 10 m wide with side slopes of 2, n = 0.03 on a bed slope of 0.001, fed 20 m3/s at
// its head for four hours: 20 = (1/n) A R^(2/3) S^(1/2) holds at the normal depth 1.394 m, which
// every node down the link reaches within 1 %; the outlet passes the 20 m3/s; the books close.
TEST(ChannelCases, ATrapezoidFedAConstantFlowSettlesAtTheNormalDepth) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_file("feed.ts",
             "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 0 0 20.0\n2005 3 16 0 0 20.0\nEND_TS\n");
  write_valley(0.001, "POINTSOURCE feed\n",
               "TOT_TIME 240\nHYD_FREQ 30\nPRECIP_UNIF\nRAIN_INTENSITY 1.0\nRAIN_DURATION 10\n"
               "TIME_SERIES_FILE feed.ts\n");
  torva_test::run_at_compared_thread_counts("valley.prj", [] {
    return read_file("valley_depth.out") + read_file("valley_outlet_sig.out") +
           read_file("valley_summary.out");
  });

  const std::vector<std::vector<double>> records =
      torva_test::first_link_records(read_file("valley_depth.out"));
  ASSERT_EQ(records.size(), 9u);  // the start and every half hour
  const std::vector<double>& last = records.back();
  ASSERT_EQ(last.size(), 23u);
  for (int node = 1; node <= 21; ++node) EXPECT_NEAR(last[node], 1.394, 0.01 * 1.394) << node;
  const std::vector<double> q = hydrograph_flows(read_file("valley_outlet_sig.out"));
  ASSERT_FALSE(q.empty());
  EXPECT_NEAR(q.back(), 20.0, 0.01 * 20.0);

  const summary_balance s = read_summary_balance(read_file("valley_summary.out"));
  expect_books_close(s);
  EXPECT_NEAR(s.event_stream_source, 20.0 * 4 * 3600.0, 1.0);
  EXPECT_GT(s.event_chan_final, 0.0);
}

// The valley of the held-outlet cases: 40 cells of 50 m, a trapezoid 5 m wide with side slopes
// of 2, n = 0.03, on a bed slope of 0.001, fed 10 m3/s at its head, in steps of half a second.
// Its normal depth, where 10 = (1/n) A R^(2/3) S^(1/2), is 1.3136 m.
const valley_shape held_valley{40, 50.0, 5.0, 2.0, 0.5};
constexpr double held_slope = 0.001;
constexpr double held_flow = 10.0;

// Conveyance (1/n) A R^(2/3) of the held valley's section at depth y.
double held_conveyance(double y) {
  const double a = (5.0 + 2.0 * y) * y;
  const double p = 5.0 + 2.0 * y * std::sqrt(5.0);
  return a * std::pow(a / p, 2.0 / 3.0) / 0.03;
}

// Bisection for f(y) = 0 on [lo, hi] where f changes sign.
template <class F>
double bisect(F f, double lo, double hi) {
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (lo + hi);
    if ((f(lo) < 0.0) == (f(mid) < 0.0))
      lo = mid;
    else
      hi = mid;
  }
  return 0.5 * (lo + hi);
}

// Writes the held valley with its outlet held by `boundary_cards` for `minutes` minutes.
void write_held_valley(const std::string& boundary_cards, int minutes) {
  write_file("feed.ts",
             "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 0 0 10.0\n2005 3 16 0 0 10.0\nEND_TS\n");
  write_valley(held_slope, "POINTSOURCE feed\n",
               "TOT_TIME " + std::to_string(minutes) +
                   "\nHYD_FREQ 30\nPRECIP_UNIF\nRAIN_INTENSITY 1.0\nRAIN_DURATION 10\n"
                   "TIME_SERIES_FILE feed.ts\nHEAD_BOUND\n" +
                   boundary_cards,
               held_valley);
}

// The outlet held 2.0 m deep, above the normal depth: at every output the outlet node (the last
// computational node) holds 2.0 m, and after five hours the water stands along the backwater
// curve that a standard step computes up the link from the outlet, node by node, with the mean
// of the two nodes' friction slopes (Q / K)^2 and no velocity head (the diffusive wave carries
// none): every node within 1 % of it, the upstream nodes back at the normal depth. Held at
// 1.0 m, below the normal depth, the outlet holds 1.0 m and the water draws down towards it.
// 1 and 8 threads write the same outputs, and the books close with the boundary's water booked
// at the outlet.
TEST(ChannelCases, AnOutletHeldAboveTheNormalDepthBacksTheWaterUpAlongTheStandardStepCurve) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const int nodes = held_valley.cols;
  const double dx = held_valley.cell;
  const double normal = bisect(
      [](double y) { return held_conveyance(y) * std::sqrt(held_slope) - held_flow; }, 0.1, 5.0);
  ASSERT_NEAR(normal, 1.3136, 1e-4);

  const auto outputs = [] {
    return read_file("valley_depth.out") + read_file("valley_outlet_sig.out") +
           read_file("valley_summary.out");
  };
  write_held_valley("BOUND_DEPTH 2.0\n", 300);
  torva_test::run_at_compared_thread_counts("valley.prj", outputs);

  const std::vector<std::vector<double>> records =
      torva_test::first_link_records(read_file("valley_depth.out"));
  ASSERT_EQ(records.size(), 11u);  // the start and every half hour
  for (const std::vector<double>& r : records) {
    ASSERT_GT(r.size(), static_cast<std::size_t>(nodes));
    EXPECT_NEAR(r[nodes], 2.0, 1e-9);
  }
  // Standard step from the outlet: bed falls held_slope * dx from node to node.
  std::vector<double> expected(nodes + 1, 0.0);
  expected[nodes] = 2.0;
  for (int j = nodes - 1; j >= 1; --j) {
    const double below = expected[j + 1];
    const double sf_below = std::pow(held_flow / held_conveyance(below), 2.0);
    expected[j] = bisect(
        [&](double y) {
          const double sf = std::pow(held_flow / held_conveyance(y), 2.0);
          return y + held_slope * dx - below - dx * 0.5 * (sf + sf_below);
        },
        0.5 * normal, 5.0);
  }
  ASSERT_GT(expected[nodes / 2], normal + 0.05) << "the curve reaches half-way up the link";
  ASSERT_LT(expected[1], normal * 1.01);
  const std::vector<double>& last = records.back();
  for (int node = 1; node <= nodes; ++node)
    EXPECT_NEAR(last[node], expected[node], 0.01 * expected[node]) << "node " << node;
  const std::vector<double> q = hydrograph_flows(read_file("valley_outlet_sig.out"));
  ASSERT_FALSE(q.empty());
  EXPECT_NEAR(q.back(), held_flow, 0.01 * held_flow);
  expect_books_close(read_summary_balance(read_file("valley_summary.out")));

  write_held_valley("BOUND_DEPTH 1.0\n", 120);
  run_torva("valley.prj", 1);
  const std::vector<std::vector<double>> low =
      torva_test::first_link_records(read_file("valley_depth.out"));
  ASSERT_EQ(low.size(), 5u);
  for (const std::vector<double>& r : low) EXPECT_NEAR(r[nodes], 1.0, 1e-9);
  EXPECT_LT(low.back()[nodes - 1], normal - 0.05) << "the water draws down to the outlet";
  EXPECT_GT(low.back()[nodes - 1], 1.0);
  expect_books_close(read_summary_balance(read_file("valley_summary.out")));
}

// A held outlet that follows its BOUND_TS series, rising from 1.0 m to 2.5 m over two hours and
// falling back to 1.5 m in the third: at every half-hourly output the outlet node holds the
// series' value at that time; the water the boundary gives the node as it rises and takes back
// as it falls is booked at the outlet, so the books close; 1 and 8 threads agree.
TEST(ChannelCases, AnOutletHeldByASeriesFollowsItAtEveryStep) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const int nodes = held_valley.cols;
  write_held_valley("BOUND_TS stage\n", 180);
  write_file("feed.ts",
             "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 0 0 10.0\n2005 3 16 0 0 10.0\nEND_TS\n"
             "TORVA_TS\nstage\nABSOLUTE\n2005 3 14 6 30 1.0\n2005 3 14 8 30 2.5\n"
             "2005 3 14 9 30 1.5\n2005 3 16 0 0 1.5\nEND_TS\n");
  torva_test::run_at_compared_thread_counts("valley.prj", [] {
    return read_file("valley_depth.out") + read_file("valley_outlet_sig.out") +
           read_file("valley_summary.out");
  });
  const std::vector<std::vector<double>> records =
      torva_test::first_link_records(read_file("valley_depth.out"));
  ASSERT_EQ(records.size(), 7u);
  // Half-hourly: 1.0, rising 0.375 m each half hour to 2.5 at two hours, then 0.5 m down.
  const double stage[7] = {1.0, 1.375, 1.75, 2.125, 2.5, 2.0, 1.5};
  for (int k = 0; k < 7; ++k) EXPECT_NEAR(records[k][nodes], stage[k], 1e-6) << "record " << k;
  expect_books_close(read_summary_balance(read_file("valley_summary.out")));
}

// A valley of 3,300 cells of 200 m in one row over one link of 33,001 nodes 20 m apart, ten
// under each cell (enough for the routing to share its nodes among threads), the trapezoid of
// the valley above, fed 2 m3/s at its head for an hour on a bed slope of 0.001 (and a light rain
// of ten minutes): the runs on 1 and 8 threads (the NUM_THREADS card) write the same bytes; the
// first half kilometre, which the flow has long reached, stands at the normal depth 0.3652 m of
// 2 = (1/n) A R^(2/3) S^(1/2) within 1 %, and the books close.
TEST(ChannelCases, ALongLinkRoutedOnManyThreadsGivesTheRunOfOneThread) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const int cols = 3300;
  const int per_cell = 10;
  const int nodes = cols * per_cell;
  const double g = 200.0;
  const double slope = 0.001;
  std::string header = "north: 1200.0\nsouth: 1000.0\neast: " + fixed(cols * g, 1) +
                       "\nwest: 0.0\nrows: 1\ncols: " + std::to_string(cols) + "\n";
  std::string mask = header, elev = header;
  for (int j = 1; j <= cols; ++j) {
    mask += "1 ";
    elev += fixed(110.0 - slope * g * (j - 0.5) + 3.0, 4) + " ";
  }
  write_file("long_mask.asc", mask + "\n");
  write_file("long_elev.asc", elev + "\n");
  std::string chn = "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES " +
                    std::to_string(nodes + 1) + "\nCONNECT 1 0 0\n\nLINK 1\nNODES " +
                    std::to_string(nodes + 1) + "\nDX 20.0\nTRAPEZOID\nMANNINGS_N 0.03\n";
  for (int n = 1; n <= nodes + 1; ++n) {
    chn +=
        "NODE " + std::to_string(n) + "\nELEV " + fixed(110.0 - slope * 20.0 * (n - 1), 4) + "\n";
    if (n == 1)
      chn += "XSEC\nBOTTOM_WIDTH 10.0\nSIDE_SLOPE 2.0\nBANKFULL_DEPTH 3.0\nPOINTSOURCE feed\n";
  }
  write_file("long.chn", chn);
  std::string gst = "GRIDSTREAMFILE\nSTREAMCELLS " + std::to_string(cols) + "\n";
  for (int j = 1; j <= cols; ++j) {
    gst += "CELLIJ 1 " + std::to_string(j) + "\nNUMNODES " + std::to_string(per_cell) + "\n";
    for (int k = 1; k <= per_cell; ++k)
      gst += "LINKNODE 1 " + std::to_string((j - 1) * per_cell + k) + " 1.0\n";
  }
  write_file("long.gst", gst);
  write_file("feed.ts", "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 0 0 2.0\n2005 3 16 0 0 2.0\nEND_TS\n");
  write_file("long.prj",
             "TORVAPROJECT\nWATERSHED_MASK long_mask.asc\nELEVATION long_elev.asc\n"
             "SUMMARY long_summary.out\nOUTLET_HYDRO long_outlet.out\n"
             "ROWS 1\nCOLS " +
                 std::to_string(cols) +
                 "\nGRIDSIZE 200.0\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n"
                 "TIMESTEP 10.0\nOUTROW 1\nOUTCOL " +
                 std::to_string(cols) +
                 "\nOUTSLOPE 0.001\nMANNING_N 0.05\n"
                 "OVERTYPE explicit\nCHAN_EXPLIC\nCHANNEL_INPUT long.chn\n"
                 "STREAM_CELL long.gst\nCHAN_DEPTH long_depth.out\nCHAN_DISCHARGE long_q.out\n"
                 "TOT_TIME 60\nHYD_FREQ 30\nPRECIP_UNIF\nRAIN_INTENSITY 1.0\nRAIN_DURATION 10\n"
                 "TIME_SERIES_FILE feed.ts\n");
  torva_test::run_at_compared_thread_counts("long.prj", [] {
    return read_file("long_depth.out") + read_file("long_q.out") + read_file("long_summary.out");
  });
  const std::vector<std::vector<double>> records =
      torva_test::first_link_records(read_file("long_depth.out"));
  ASSERT_FALSE(records.empty());
  const std::vector<double>& last = records.back();
  ASSERT_EQ(last.size(), static_cast<std::size_t>(nodes + 2));
  for (int node = 1; node <= 25; ++node) EXPECT_NEAR(last[node], 0.3652, 0.01 * 0.3652) << node;
  EXPECT_LT(last[nodes], 0.01);  // the front is still far from the outlet
  const summary_balance s = read_summary_balance(read_file("long_summary.out"));
  expect_books_close(s);
  EXPECT_NEAR(s.event_stream_source, 2.0 * 3600.0, 1.0);
}

// A level pool: a flat bed holding 1.2 m of still water from its hotstart, no inflow and no
// rain: four hours later every node holds its 1.2 m and nothing has left the outlet.
TEST(ChannelCases, ALevelPoolWithNoInflowStaysAtRest) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  std::string hotstart;
  for (int node = 1; node <= 21; ++node)
    hotstart += std::to_string(node) + " 1 111.200000\n";  // node, link, level
  write_file("pool.hot", hotstart);
  write_file("dry.gag",
             "EVENT \"dry\"\nNRGAG 1\nNRPDS 2\nCOORD 2000.0 1100.0\n"
             "RATES 2005 3 14 6 30 0.0\nRATES 2005 3 14 10 30 0.0\n");
  write_valley(0.0, "",
               "TOT_TIME 240\nHYD_FREQ 30\nPRECIP_FILE dry.gag\nRAIN_THIESSEN\n"
               "READ_CHAN_HOTSTART pool.hot\n");
  const command_result run = run_torva("valley.prj", 1);
  const std::vector<std::vector<double>> records =
      torva_test::first_link_records(read_file("valley_depth.out"));
  ASSERT_EQ(records.size(), 9u) << run.out;
  for (const std::vector<double>& r : records)
    for (int node = 1; node <= 21; ++node) ASSERT_NEAR(r[node], 1.2, 1e-9) << node;
  for (double q : hydrograph_flows(read_file("valley_outlet_sig.out"))) EXPECT_EQ(q, 0.0);
  const summary_balance s = read_summary_balance(read_file("valley_summary.out"));
  EXPECT_NEAR(s.event_chan_final, s.event_chan_init, 1e-6 * s.event_chan_init);
  EXPECT_GT(s.event_chan_init, 0.0);
  EXPECT_EQ(s.event_discharge, 0.0);
}

// The level pool of 1.2 m held in the channel by its hotstart, under 1 mm/h of rain for ten
// minutes: the pool's 62,496 m3 at the start are a store of the run, beside the 140 m3 of rain,
// so the run's books close, on its own at 1 and 8 threads and in a batch of two runs, and each
// ends with status 0.
TEST(ChannelCases, APoolInTheChannelAtTheStartIsAStoreOfTheRunsBooks) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  std::string hotstart;
  for (int node = 1; node <= 21; ++node)
    hotstart += std::to_string(node) + " 1 111.200000\n";  // node, link, level
  write_file("pool.hot", hotstart);
  write_valley(0.0, "",
               "TOT_TIME 240\nHYD_FREQ 30\nPRECIP_UNIF\nRAIN_INTENSITY 1.0\nRAIN_DURATION 10\n"
               "READ_CHAN_HOTSTART pool.hot\n");
  // The pool: 21 nodes of 200 m, 1.2 m deep in the 10 m trapezoid with side slopes of 2.
  const double pool = 21 * 200.0 * (10.0 + 2.0 * 1.2) * 1.2;
  ASSERT_NEAR(pool, 62496.0, 1e-9);
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("valley.prj", [] {
    return read_file("valley_outlet_sig.out") + read_file("valley_summary.out");
  });
  const std::string summary = read_file("valley_summary.out");
  const summary_balance s = read_summary_balance(summary);
  expect_books_close(s);
  EXPECT_NEAR(summary_number(summary, "Initial volume in channels="), pool, 0.005);
  EXPECT_NEAR(s.run_precip, 140.0, 0.005);  // 1 mm/h for 10 min on 21 cells of 200 m
  EXPECT_GT(summary_number(summary, "Final volume in channels="), pool);
  EXPECT_FALSE(contains(runs.run[1].out, "Warning: the overall mass balance error"));

  const command_result batch = run_command(torva_exe(), {"-b2", "valley.prj"});
  EXPECT_EQ(batch.status, 0) << batch.out << batch.err;
  EXPECT_TRUE(contains(batch.out, "running in batch mode, and is running 2 runs")) << batch.out;
  EXPECT_FALSE(contains(batch.out, "Warning: the overall mass balance error")) << batch.out;
}

// The channel's books of every step, taken right after the channel step.
struct channel_record {
  double minutes, stored, lateral, sources, outflow;
};
std::vector<channel_record> channel_log;

void channel_step_and_record(model_state& ms) {
  channel_routing_step(ms);
  const channel_state& ch = ms.channel;
  double stored = 0.0;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if (ch.ltype[link] & (32 | 64 | 128)) continue;
    for (int node = 1; node <= ch.nx[link]; ++node) stored += ch.area(link, node) * ch.dx[link];
  }
  const run_totals& t = ms.output.totals;
  channel_log.push_back(
      {ms.elapsed_minutes, stored, t.run_vol_lateral, t.run_vol_chan_source, t.run_vol_discharge});
}

// The valley under rain while its head is fed a flow that changes every ten minutes: at every
// step the water in the channel is what came in from the cells and the point source less what
// left the outlet.
TEST(ChannelCases, TheChannelsWaterChangesByItsInflowsLessItsOutflowAtEveryStep) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_file("feed.ts",
             "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 6 30 2.0\n2005 3 14 6 40 12.0\n"
             "2005 3 14 6 50 4.0\n2005 3 14 7 10 0.0\n2005 3 16 0 0 0.0\nEND_TS\n");
  write_valley(0.001, "POINTSOURCE feed\n",
               "TOT_TIME 90\nHYD_FREQ 5\nPRECIP_UNIF\nRAIN_INTENSITY 30.0\nRAIN_DURATION 30\n"
               "TIME_SERIES_FILE feed.ts\n");
  run_steps steps = default_run_steps();
  int replaced = 0;
  for (int i = 0; i < time_loop_step_count; ++i) {
    if (std::string(steps.time_loop[i].name) != "channel_routing_step") continue;
    steps.time_loop[i] = {"channel_step_and_record", channel_step_and_record};
    ++replaced;
  }
  ASSERT_EQ(replaced, 1);
  channel_log.clear();
  torva_test::stdout_capture capture;
  run_project("valley.prj", nullptr, steps);
  const std::string out = capture.stop();
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  ASSERT_EQ(channel_log.size(), 90u * 6 + 1);
  for (const channel_record& r : channel_log) {
    const double in = r.lateral + r.sources;
    ASSERT_NEAR(r.stored, in - r.outflow, 1e-9 * (in + 1.0)) << "minute " << r.minutes;
  }
  EXPECT_GT(channel_log.back().lateral, 0.0);
  EXPECT_GT(channel_log.back().outflow, 0.5 * channel_log.back().sources);
}

// Rain on the example watershed: 25 mm/h for half an hour on 108 cells of 30 m, a clay that
// takes part of it, three links to the outlet. The outlet hydrograph rises and falls, the
// event's rain is its infiltration, outflow and the water left on the cells and in the
// channels to 1e-6 of the rain, and 1 and 8 threads write the same outputs.
TEST(ChannelCases, RainOnTheExampleWatershedRunsOutThroughItsChannels) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  for (const char* name :
       {"channel.prj", "channel.chn", "channel.gst", "channel_mask.asc", "channel_elev.asc",
        "channel_conductivity.asc", "channel_capillary.asc", "channel_porosity.asc",
        "channel_moisture.asc", "channel_hyd_locations.txt"})
    write_file(name, read_file(example_dir + "/" + name));
  torva_test::run_at_compared_thread_counts("channel.prj", [] {
    return read_file("channel_outlet.out") + read_file("channel_summary.out");
  });

  const std::vector<double> q = hydrograph_flows(read_file("channel_outlet.out"));
  ASSERT_GT(q.size(), 3u);
  double peak = 0.0;
  for (double v : q) peak = std::fmax(peak, v);
  EXPECT_GT(peak, 0.1);
  EXPECT_LT(q.back(), 0.1 * peak);

  const summary_balance s = read_summary_balance(read_file("channel_summary.out"));
  expect_books_close(s);
  EXPECT_GT(s.event_discharge, 0.1 * s.event_rain);
  EXPECT_NEAR(s.event_rain,
              s.event_infiltrated + s.event_discharge + s.event_surface_final + s.event_chan_final,
              1e-6 * s.event_rain + 0.15);  // the summary prints volumes to 0.1 m3
}

// A plane of 10 x 5 cells of 30 m falling 0.01 to the south and 0.01 towards its middle column,
// on a sandy loam (saturated conductivity 1 cm/h, capillary head 11 cm, porosity 0.45, initial
// moisture 0.2), drained by one rectangular link 1 m wide of two computational nodes under the
// two lowest cells of the middle column; 60 mm/h for 30 minutes, `tot_time` minutes.
void write_drained_plane(int tot_time) {
  const int rows = 10, cols = 5;
  const std::string header =
      "north: 1300.00\nsouth: 1000.00\neast: 2150.00\nwest: 2000.00\nrows: 10\ncols: 5\n";
  std::string mask = header, elev = header;
  for (int r = 1; r <= rows; ++r) {
    for (int c = 1; c <= cols; ++c) {
      mask += "1 ";
      elev += fixed(100.0 - 0.3 * (r - 1) + 0.3 * std::abs(c - 3), 2) + " ";
    }
    mask += "\n";
    elev += "\n";
  }
  write_file("plane_mask.asc", mask);
  write_file("plane_elev.asc", elev);
  const char* soil[4][2] = {{"cond", "1.0"}, {"cap", "11.0"}, {"por", "0.45"}, {"moist", "0.2"}};
  for (const auto& s : soil) {
    std::string map = header;
    for (int r = 1; r <= rows; ++r) {
      for (int c = 1; c <= cols; ++c) map += std::string(s[1]) + " ";
      map += "\n";
    }
    write_file(std::string("plane_") + s[0] + ".asc", map);
  }
  // Beds 1 m below the land of row 9 (97.6 m) at the cell edges, falling 0.01.
  write_file("plane.chn",
             "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES 3\n"
             "CONNECT 1 0 0\n\nLINK 1\nNODES 3\nDX 30.0\nTRAPEZOID\nMANNINGS_N 0.035\n"
             "NODE 1\nELEV 96.75\nXSEC\nBOTTOM_WIDTH 1.0\nSIDE_SLOPE 0.0\nBANKFULL_DEPTH 1.0\n"
             "NODE 2\nELEV 96.45\nNODE 3\nELEV 96.15\n");
  write_file("plane.gst",
             "GRIDSTREAMFILE\nSTREAMCELLS 2\nCELLIJ 9 3\nNUMNODES 1\nLINKNODE 1 1 1.0\n"
             "CELLIJ 10 3\nNUMNODES 1\nLINKNODE 1 2 1.0\n");
  write_file("plane.prj",
             "TORVAPROJECT\nWATERSHED_MASK plane_mask.asc\nELEVATION plane_elev.asc\n"
             "SUMMARY plane_summary.out\nOUTLET_HYDRO plane_outlet.out\nROWS 10\nCOLS 5\n"
             "GRIDSIZE 30.0\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 10.0\nTOT_TIME " +
                 std::to_string(tot_time) +
                 "\nOUTROW 10\nOUTCOL 3\nOUTSLOPE 0.01\nHYD_FREQ 5\nMANNING_N 0.05\n"
                 "OVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY 60.0\nRAIN_DURATION 30\n"
                 "GREEN_AMPT\nCONDUCTIVITY plane_cond.asc\nCAPILLARY plane_cap.asc\n"
                 "POROSITY plane_por.asc\nMOISTURE plane_moist.asc\nCHAN_EXPLIC\n"
                 "CHANNEL_INPUT plane.chn\nSTREAM_CELL plane.gst\n");
}

// Occurrences of `part` in `text`.
int count_of(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The elapsed minutes of the last progress line.
double last_elapsed_minutes(const std::string& out) {
  const std::string label = "elapsed time";
  const std::size_t at = out.rfind(label);
  return at == std::string::npos ? -1.0 : std::strtod(out.c_str() + at + label.size(), nullptr);
}

// The storm on the drained plane: the sand takes the first minutes of rain whole, so the plane
// is dry while rain is still to come, and the run goes on; after the rain the plane's water
// soaks in or runs into the channel, the channel empties through the outlet, and once the cells
// are dry and the channel holds less than a ten-thousandth of the 1350 m3 of rain the run ends,
// long before its 300 minutes, with both lines of the end written once, the event's books closed
// once (one event summary, then the run totals) and the outlet hydrograph written up to the end.
TEST(ChannelCases, ARunWhoseRunoffIsCompleteEndsEarlyWithItsBooksClosed) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_drained_plane(300);
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "plane.prj", [] { return read_file("plane_outlet.out") + read_file("plane_summary.out"); });
  const std::string& out = runs.run[0].out;
  const std::string summary = read_file("plane_summary.out");

  EXPECT_EQ(count_of(out, "Rainfall for this event has ended.\n"), 1) << out;
  EXPECT_EQ(count_of(out, "finished event \n"), 1) << out;
  EXPECT_EQ(count_of(summary, "Rainfall for this event ended. Runoff is complete\n"), 1);
  EXPECT_EQ(count_of(summary, "TORVA EVENT RUNOFF SIMULATION SUMMARY"), 1);
  EXPECT_LT(summary.find("Runoff is complete"), summary.find("EVENT RUNOFF SIMULATION SUMMARY"));
  EXPECT_LT(summary.find("EVENT RUNOFF SIMULATION SUMMARY"), summary.find("SIMULATION TOTALS"));

  const double end_minutes = last_elapsed_minutes(out);
  EXPECT_GT(end_minutes, 30.0) << "the run must outlast its rain";
  EXPECT_LT(end_minutes, 150.0) << "the run must end well before its 300 minutes";
  std::vector<double> times;
  std::istringstream hydrograph(read_file("plane_outlet.out"));
  double t = 0.0, q = 0.0;
  while (hydrograph >> t >> q) times.push_back(t);
  ASSERT_FALSE(times.empty());
  EXPECT_LE(times.back(), end_minutes);
  EXPECT_GT(times.back(), end_minutes - 5.0) << "the hydrograph stops at the run's end";
  EXPECT_LT(q, 0.001) << "the outlet has stopped flowing";

  const summary_balance s = read_summary_balance(summary);
  expect_books_close(s);
  EXPECT_NEAR(s.event_rain, 1350.0, 0.05);  // 60 mm/h for half an hour on 45,000 m2
  EXPECT_GT(s.event_discharge, 0.1 * s.event_rain);
  EXPECT_EQ(s.event_surface_final, 0.0);
  EXPECT_LT(s.event_chan_final, 0.0001 * s.event_rain + 0.05);  // printed to 0.1 m3
  EXPECT_NEAR(s.event_rain, s.event_infiltrated + s.event_discharge + s.event_chan_final,
              1e-6 * s.event_rain + 0.15);
}

// The example watershed with the optimisation output on and a hydrograph line every step:
// the event volume the optimisation file gives at each hydrograph location is the water that
// passed the location, the integral of its written hydrograph (trapezoids of 10 s; the summary
// prints volumes to 0.1 m3), and the outlet link's location passes what the outlet does.
TEST(ChannelCases, TheOptimisationVolumeOfEveryLocationIsTheIntegralOfItsHydrograph) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const std::string watershed = std::string(TORVA_SOURCE_DIR) + "/examples/watershed";
  for (const char* name :
       {"watershed.chn", "watershed.gst", "watershed.gag", "watershed_mask.asc",
        "watershed_elev.asc", "watershed_conductivity.asc", "watershed_capillary.asc",
        "watershed_porosity.asc", "watershed_moisture.asc", "watershed_hyd_locations.txt"})
    write_file(name, read_file(watershed + "/" + name));
  std::string project = read_file(watershed + "/watershed.prj");
  const std::string every_5 = "HYD_FREQ           5\n";
  ASSERT_NE(project.find(every_5), std::string::npos);
  project.replace(project.find(every_5), every_5.size(), "HYD_FREQ 0.1666666666667\n");
  std::string optimize[2];
  const int threads[2] = {1, 8};
  for (int i = 0; i < 2; ++i) {
    write_file("watershed.prj",
               project + "OPTIMIZE optim.out\nNUM_THREADS " + std::to_string(threads[i]) + "\n");
    run_torva("watershed.prj", threads[i]);
    optimize[i] = read_file("optim.out") + read_file("watershed_hyd_out.out") +
                  read_file("watershed_summary.out");
  }
  EXPECT_EQ(optimize[1], optimize[0]) << "1 and 8 threads";

  // The location hydrograph: minutes, then the discharge at each of the two locations.
  std::vector<std::vector<double>> rows;
  {
    std::istringstream in(read_file("watershed_hyd_out.out"));
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::vector<double> row(3, 0.0);
      if (fields >> row[0] >> row[1] >> row[2]) rows.push_back(row);
    }
  }
  ASSERT_GT(rows.size(), 300u);  // a line every 10 s until the runoff is complete
  double integral[3] = {0.0, 0.0, 0.0};
  for (std::size_t i = 1; i < rows.size(); ++i)
    for (int k = 1; k <= 2; ++k)
      integral[k] += 0.5 * (rows[i][k] + rows[i - 1][k]) * 60.0 * (rows[i][0] - rows[i - 1][0]);

  // The event line: event, outlet peak and volume, then each location's peak and volume.
  std::istringstream line(read_file("optim.out"));
  int event = 0;
  double outlet_peak = 0.0, outlet_volume = 0.0, peak[3] = {}, volume[3] = {};
  ASSERT_TRUE(line >> event >> outlet_peak >> outlet_volume >> peak[1] >> volume[1] >> peak[2] >>
              volume[2]);
  EXPECT_EQ(event, 1);
  for (int k = 1; k <= 2; ++k) {
    SCOPED_TRACE(k);
    EXPECT_GT(integral[k], 50.0);
    EXPECT_NEAR(volume[k], integral[k], 2e-3 * integral[k] + 0.1);
  }
  // The outlet link's location, one node above the outlet, passes the outlet's water less what
  // the last 30 m of channel still hold.
  EXPECT_NEAR(volume[2], outlet_volume, 0.01 * outlet_volume);
}

// A run split in two at a channel hotstart: 20 m3/s fed into the dry valley link for 20 minutes,
// its state written, then read by a second run that goes on for 20 minutes more, gives the
// channel depths of one run of 40 minutes, to the printed precision, from the written state to
// the end (the wave is still on its way down the link when the run is split).
TEST(ChannelCases, ARunSplitAtAChannelHotstartGoesOnAsTheRunInOnePiece) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_file("feed.ts",
             "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 0 0 20.0\n2005 3 16 0 0 20.0\nEND_TS\n");
  // A dry gauge whose event begins with each run.
  const auto dry_gauge = [](const std::string& start) {
    return "EVENT \"dry\"\nNRGAG 1\nNRPDS 2\nCOORD 2000.0 1100.0\nRATES 2005 3 14 " + start +
           " 0.0\nRATES 2005 3 14 10 30 0.0\n";
  };
  const auto run_valley = [&](const std::string& start, int minutes, const std::string& cards,
                              int threads) {
    write_file("dry.gag", dry_gauge(start));
    write_valley(0.001, "POINTSOURCE feed\n",
                 "TOT_TIME " + std::to_string(minutes) +
                     "\nHYD_FREQ 5\nPRECIP_FILE dry.gag\nRAIN_THIESSEN\n"
                     "TIME_SERIES_FILE feed.ts\nNUM_THREADS " +
                     std::to_string(threads) + "\n" + cards);
    // The project's start time is the gauge's.
    std::string project = read_file("valley.prj");
    project.replace(project.find("START_TIME 6 30"), 15, "START_TIME " + start);
    write_file("valley.prj", project);
    run_torva("valley.prj", threads);
    return torva_test::first_link_records(read_file("valley_depth.out"));
  };
  std::vector<std::vector<double>> whole[2], second[2];
  std::string hotstart[2];
  const int threads[2] = {1, 8};
  for (int i = 0; i < 2; ++i) {
    whole[i] = run_valley("6 30", 40, "", threads[i]);
    run_valley("6 30", 20, "WRITE_CHAN_HOTSTART split\n", threads[i]);
    hotstart[i] = read_file("split.dht");
    second[i] = run_valley("6 50", 20, "READ_CHAN_HOTSTART split.dht\n", threads[i]);
  }
  EXPECT_EQ(hotstart[1], hotstart[0]) << "1 and 8 threads";
  EXPECT_EQ(whole[1], whole[0]) << "1 and 8 threads";
  EXPECT_EQ(second[1], second[0]) << "1 and 8 threads";

  // One line per computational node of the link: node, link, water-surface level.
  std::istringstream lines(hotstart[0]);
  int node = 0, link = 0, count = 0;
  double level = 0.0;
  while (lines >> node >> link >> level) {
    ++count;
    EXPECT_EQ(node, count);
    EXPECT_EQ(link, 1);
  }
  EXPECT_EQ(count, 21);
  EXPECT_FALSE(read_file("split.qht").empty());

  // Records every 5 minutes: 0 to 40 in one piece, 20 to 40 after the split.
  ASSERT_EQ(whole[0].size(), 9u);
  ASSERT_EQ(second[0].size(), 5u);
  double moving = 0.0;  // how far the depths still move in the second half
  for (std::size_t r = 0; r < second[0].size(); ++r) {
    const std::vector<double>& one = whole[0][r + 4];
    const std::vector<double>& split = second[0][r];
    ASSERT_EQ(split.size(), one.size());
    for (std::size_t n = 1; n < one.size(); ++n) {
      // Depths print to 1e-5 m; the hotstart's levels, written to 1e-6 m, may move the last
      // printed digit by one.
      EXPECT_NEAR(split[n], one[n], 1.01e-5) << "record " << r << " node " << n;
      moving = std::fmax(moving, std::fabs(one[n] - whole[0][4][n]));
    }
  }
  EXPECT_GT(moving, 0.1);  // the split falls in the middle of the wave, not at rest
}

// The stream flood output: 20 m3/s fed into the dry valley link for three hours, then none for
// an hour more. The one record written at the end holds for every node its deepest water of the
// run, the largest depth of the stream depth records written at every step; the link ran full for
// long enough that this is the Manning normal depth of 20 m3/s, worked out here by bisection,
// within 1 % (the Part's 1.394 m of the normal-depth case); the feed has stopped and the water has
// fallen since, so the record is not the end state. 1 and 8 threads write the same files.
TEST(ChannelCases, TheStreamFloodRecordHoldsEachNodesDeepestWaterOfTheRun) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_file("feed.ts",
             "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 6 30 20.0\n2005 3 14 9 30 20.0\n"
             "2005 3 14 9 31 0.0\n2005 3 16 0 0 0.0\nEND_TS\n");
  valley_shape minute_steps;
  minute_steps.timestep = 60.0;
  write_valley(0.001, "POINTSOURCE feed\n",
               "TOT_TIME 240\nHYD_FREQ 1\nPRECIP_UNIF\nRAIN_INTENSITY 1.0\nRAIN_DURATION 10\n"
               "TIME_SERIES_FILE feed.ts\nFLOOD_STREAM valley_flood.out\n",
               minute_steps);
  torva_test::run_at_compared_thread_counts("valley.prj", [] {
    return read_file("valley_depth.out") + read_file("valley_flood.out") +
           read_file("valley_outlet_sig.out");
  });

  const std::string text = read_file("valley_flood.out");
  EXPECT_EQ(text.rfind("TORVA_LINKNODE_FLOOD_STREAM_DEPTH\nNUM_LINKS     1\nTIME_STEP     1\n"
                       "NUM_TS        1\nSTART_TIME    14  3 2005  6 30  0\nTS    0\n",
                       0),
            0u)
      << text;
  const std::vector<std::vector<double>> flood = torva_test::first_link_records(text);
  const std::vector<std::vector<double>> records =
      torva_test::first_link_records(read_file("valley_depth.out"));
  ASSERT_EQ(flood.size(), 1u);
  ASSERT_EQ(records.size(), 241u);  // the start and every minute
  ASSERT_EQ(flood[0].size(), records[0].size());

  // Normal depth of 20 m3/s in the trapezoid 10 m wide, side slopes 2, n 0.03, slope 0.001.
  const double normal = bisect(
      [](double y) {
        const double a = (10.0 + 2.0 * y) * y;
        const double p = 10.0 + 2.0 * y * std::sqrt(5.0);
        return a * std::pow(a / p, 2.0 / 3.0) / 0.03 * std::sqrt(0.001) - 20.0;
      },
      0.1, 5.0);
  EXPECT_NEAR(normal, 1.394, 0.0005);
  for (std::size_t node = 1; node < flood[0].size(); ++node) {
    double deepest = 0.0;
    for (const std::vector<double>& r : records) deepest = std::fmax(deepest, r[node]);
    EXPECT_EQ(flood[0][node], deepest) << "node " << node;
    if (node >= 2 && node <= 20) {
      EXPECT_NEAR(flood[0][node], normal, 0.01 * normal) << node;
    }
  }
  EXPECT_LT(records.back()[2], 0.5 * flood[0][2]);  // the water has fallen since its peak
  expect_books_close(read_summary_balance(read_file("valley_summary.out")));
}

}  // namespace channel_cases_tests
