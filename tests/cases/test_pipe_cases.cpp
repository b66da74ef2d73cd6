// End-to-end cases of the pipe network, run by the real torva executable: a cell under steady
// rain drains through a grate into one pipe of eight 100 m segments that falls freely into an
// outfall; once steady, the pipe runs at Manning's normal depth for its flow (computed here by
// bisection) upstream of the outfall's drawdown, the pipes' water books close, and 1 and 8
// threads write the same outputs. A tile drain under a water table fed by fixed heads reaches
// the steady state where Darcy's inflow from the heads equals Hooghoudt's drain inflow, with the
// books of the aquifer, the pipes, the run and the event's surface closing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::grid_header;
using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// Manning's normal depth of a circular pipe, by bisection on the circular segment.
double manning_normal_depth(double D, double n, double S, double Q) {
  double lo = 0.0, hi = D;
  for (int i = 0; i < 200; ++i) {
    const double y = 0.5 * (lo + hi);
    const double theta = std::acos(1.0 - 2.0 * y / D);
    const double A = 0.25 * D * D * (theta - std::sin(theta) * std::cos(theta));
    const double q = A * std::pow(A / (theta * D), 2.0 / 3.0) * std::sqrt(S) / n;
    (q > Q ? hi : lo) = y;
  }
  return 0.5 * (lo + hi);
}

// The values of the last record of a one-superlink pipe output ("TS n", the count, then
// "1 value" per value).
std::vector<double> last_record(const std::string& text) {
  const std::size_t at = text.rfind("TS ");
  std::vector<double> values;
  if (at == std::string::npos) return values;
  std::istringstream in(text.substr(at + 3));
  int record = 0, count = 0;
  in >> record >> count;
  for (int i = 0; i < count; ++i) {
    int one = 0;
    double v = 0.0;
    if (!(in >> one >> v)) break;
    values.push_back(v);
  }
  return values;
}

const std::string one_pipe =
    "One pipe of eight 100 m segments from the manhole under the cell to a free outfall\n"
    "CONNECT 1 1 2\n"
    "SJUNC 1 13.0 10.0 1.0 1 1 1 2.0 0.6\n"
    "SJUNC 2 12.0 8.4 0.0 888 1 1 0 0\n"
    "SLINK 1 8\n"
    "NODE 1 13.0 10.0 0 0 1 1 0 0\nNODE 2 12.8 9.8 0 0 1 1 0 0\nNODE 3 12.6 9.6 0 0 1 1 0 0\n"
    "NODE 4 12.4 9.4 0 0 1 1 0 0\nNODE 5 12.2 9.2 0 0 1 1 0 0\nNODE 6 12.0 9.0 0 0 1 1 0 0\n"
    "NODE 7 11.8 8.8 0 0 1 1 0 0\nNODE 8 11.6 8.6 0 0 1 1 0 0\nNODE 9 11.4 8.4 0 0 1 1 0 0\n"
    "PIPE 1 1 0.3 0 0.002 0.012 100 0 0\nPIPE 2 1 0.3 0 0.002 0.012 100 0 0\n"
    "PIPE 3 1 0.3 0 0.002 0.012 100 0 0\nPIPE 4 1 0.3 0 0.002 0.012 100 0 0\n"
    "PIPE 5 1 0.3 0 0.002 0.012 100 0 0\nPIPE 6 1 0.3 0 0.002 0.012 100 0 0\n"
    "PIPE 7 1 0.3 0 0.002 0.012 100 0 0\nPIPE 8 1 0.3 0 0.002 0.012 100 0 0\n";

const std::string pipe_project =
    "TORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nSUMMARY pipe_summary.out\n"
    "OUTLET_HYDRO outlet.out\nROWS 1\nCOLS 1\nGRIDSIZE 30.0\nSTART_DATE 2005 3 14\n"
    "START_TIME 6 30\nTIMESTEP 30.0\nTOT_TIME 240\nOUTROW 1\nOUTCOL 1\nOUTSLOPE 0.0001\n"
    "HYD_FREQ 60\nMANNING_N 0.05\nOVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY 100.0\n"
    "RAIN_DURATION 240\nSTORM_SEWER pipes.slk\nPIPE_FLOW pipe_flow.out\n"
    "PIPE_HEAD pipe_head.out\n";

// Runs the one-cell project (with the further `cards`) over the pipe network `network` (eight
// 100 m pipes of 0.3 m on `slope` from the invert `top`, Manning's n 0.012, each computed as
// the segments `pieces`) at 1 and 8 threads and checks the steady state: the flow in every
// segment, the normal depth of that flow at every node within `normal_to` metres of the manhole
// within 0.5 %, and the books of the pipes and of the event.
void check_steady_pipe_run(const std::string& network, double top, double slope, double normal_to,
                           const std::string& cards = "",
                           const std::vector<double>& pieces = {100.0}) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const std::string header =
      "north: 1030.0\nsouth: 1000.0\neast: 530.0\nwest: 500.0\nrows: 1\ncols: 1\n";
  write_file("mask.asc", header + "1\n");
  write_file("elev.asc", header + "13.0\n");
  write_file("pipes.slk", network);
  write_file("pipe.prj", pipe_project + cards);
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "pipe.prj", [] { return read_file("pipe_flow.out") + read_file("pipe_head.out"); });
  const std::string& out = runs.run[1].out;
  ASSERT_EQ(runs.run[1].status, 0) << out;

  // Steady: every segment carries the same flow, the rain the cell's grate takes while the rest
  // runs off at the outlet.
  const std::vector<double> flow = last_record(read_file("pipe_flow.out"));
  std::istringstream outlet(read_file("outlet.out"));
  double time = 0.0, q = 0.0, runoff = -1.0;
  while (outlet >> time >> q) runoff = q;
  const std::vector<double> head = last_record(read_file("pipe_head.out"));
  std::vector<double> x = {0.0};  // each node's distance from the manhole (m)
  for (int pipe = 0; pipe < 8; ++pipe)
    for (double piece : pieces) x.push_back(x.back() + piece);
  ASSERT_EQ(flow.size(), x.size() - 1);
  ASSERT_EQ(head.size(), x.size());
  const double rain = 0.1 / 3600.0 * 900.0;  // 100 mm/h on 900 m2
  const double Q = flow[0];
  EXPECT_NEAR(Q + runoff, rain, 0.01 * rain);
  EXPECT_GT(Q, 0.5 * rain);
  for (double f : flow) EXPECT_NEAR(f, Q, 2e-5);
  // Upstream of the drawdown the depth is the normal depth of that flow within 0.5 %.
  const double yn = manning_normal_depth(0.3, 0.012, slope, Q);
  for (std::size_t i = 0; i < x.size() && x[i] <= normal_to + 1e-9; ++i)
    EXPECT_NEAR(head[i] - (top - slope * x[i]), yn, 0.005 * yn) << "node " << i + 1;
  if (normal_to < 800.0) {
    // The outfall draws the water down towards the critical depth.
    EXPECT_LT(head.back() - (top - 800.0 * slope), yn);
  }

  // The pipes' books: what the grate took is stored or left at the outfall.
  const std::string summary = read_file("pipe_summary.out");
  const double taken = summary_number(summary, "Volume of overland to subsurface drains");
  const double lost = summary_number(summary, "Volume of subsurface drains out of the system");
  EXPECT_GT(taken, 0.5 * rain * 240.0 * 60.0) << summary;
  EXPECT_GT(lost, 0.8 * taken) << summary;
  EXPECT_NEAR(summary_number(summary, "Subsurface drain mass bal error m^3="), 0.0, 0.01)
      << summary;
  EXPECT_NEAR(summary_number(summary, "Overall mass balance error ="), 0.0, 1e-4) << summary;
  // The event's books take the pipes' water as having left the surface.
  const torva_test::summary_balance event = torva_test::read_summary_balance(summary);
  ASSERT_TRUE(event.has_event) << summary;
  EXPECT_NEAR(event.event_error_percent, 0.0, 1e-4) << summary;
  EXPECT_NEAR(summary_number(summary, "overland inputs to superlink:"), taken, 0.1) << summary;
}

TEST(PipeCases, SinglePipeAtSteadyInflowRunsAtNormalDepthAndItsBooksClose) {
  check_steady_pipe_run(one_pipe, 10.0, 0.002, 200.0);
}

// The same pipe on a steep bed (3 %): its normal depth lies below the critical depth, so the
// supercritical flow runs at the normal depth from the manhole down to the outfall.
std::string steep_pipe() {
  std::string t = "One steep pipe of eight 100 m segments from the manhole to a free outfall\n";
  t += "CONNECT 1 1 2\nSJUNC 1 37.0 34.0 1.0 1 1 1 2.0 0.6\nSJUNC 2 12.0 10.0 0.0 888 1 1 0 0\n";
  t += "SLINK 1 8\n";
  char line[128];
  for (int i = 1; i <= 9; ++i) {
    const double invert = 34.0 - 3.0 * (i - 1);
    std::snprintf(line, sizeof line, "NODE %d %.1f %.1f 0 0 1 1 0 0\n", i, invert + 3.0, invert);
    t += line;
  }
  for (int i = 1; i <= 8; ++i) {
    std::snprintf(line, sizeof line, "PIPE %d 1 0.3 0 0.03 0.012 100 0 0\n", i);
    t += line;
  }
  return t;
}

TEST(PipeCases, SteepPipeAtSteadyInflowRunsAtNormalDepthAlongItsLength) {
  check_steady_pipe_run(steep_pipe(), 34.0, 0.03, 800.0);
}

// The same superlinks of eight pipes with SUPERLINK_C_OPT: every 100 m pipe is computed as
// segments of 10, 20, 40, 20 and 10 m, and the flow still settles at the normal depth.
TEST(PipeCases, PipesDividedIntoSegmentsRunAtNormalDepthAtSteadyInflow) {
  const std::vector<double> pieces = {10.0, 20.0, 40.0, 20.0, 10.0};
  {
    SCOPED_TRACE("mild");
    check_steady_pipe_run(one_pipe, 10.0, 0.002, 200.0, "SUPERLINK_C_OPT\n", pieces);
  }
  {
    SCOPED_TRACE("steep");
    check_steady_pipe_run(steep_pipe(), 34.0, 0.03, 800.0, "SUPERLINK_C_OPT\n", pieces);
  }
}

// A strip of three 50 m cells, ground at 20 m over an aquifer on a bottom at 0 m, K = 1e-4 m/s
// (36 cm/h): the outer cells hold the head at 10 m, the middle cell has 50 m of tile drain (0.1 m
// pipe, invert 6.0 m falling to 5.95 m, conductivity 36 cm/h, spacing 20 m) that runs to an
// outfall: one pipe, or two of 25 m divided into computational segments (SUPERLINK_C_OPT). At
// steady state the middle cell's head hc balances the inflow of the two held heads through the
// harmonic transmissivities with Hooghoudt's drain inflow of each pipe for the head hc - P above
// its water level P (the mean of its two end nodes' levels), in the series form of the
// equivalent depth; hc is found here by bisection from the P alone and the run's head and tile
// flows must match it.
TEST(PipeCases, TileDrainUnderAHeldWaterTableTakesHooghoudtsSteadyInflow) {
  struct layout {
    const char* name;
    std::string network;     // the superlink network file
    std::string grid_pipes;  // the grid-pipe file
    std::string cards;       // further project cards
    int pipes;               // pipes of 50 / pipes metres
    int pieces;              // computational segments of each pipe
  };
  const layout layouts[] = {
      {"one pipe",
       "CONNECT 1 1 2\nSJUNC 1 20.0 6.0 1.0 0 1 2 0 0\nSJUNC 2 20.0 5.9 0.0 888 1 2 0 0\n"
       "SLINK 1 1\nNODE 1 20.0 6.0 0 0 1 2 0 0\nNODE 2 20.0 5.95 0 0 1 2 0 0\n"
       "PIPE 1 1 0.1 0 0.001 0.012 50 36.0 20.0\n",
       "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 1 2\nNUMPIPES 1\nSPIPE 1 1 1.0\n", "", 1, 1},
      {"two divided pipes",
       "CONNECT 1 1 2\nSJUNC 1 20.0 6.0 1.0 0 1 2 0 0\nSJUNC 2 20.0 5.9 0.0 888 1 2 0 0\n"
       "SLINK 1 2\nNODE 1 20.0 6.0 0 0 1 2 0 0\nNODE 2 20.0 5.975 0 0 1 2 0 0\n"
       "NODE 3 20.0 5.95 0 0 1 2 0 0\n"
       "PIPE 1 1 0.1 0 0.001 0.012 25 36.0 20.0\nPIPE 2 1 0.1 0 0.001 0.012 25 36.0 20.0\n",
       "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 1 2\nNUMPIPES 2\nSPIPE 1 1 1.0\nSPIPE 1 2 1.0\n",
       "SUPERLINK_C_OPT\n", 2, 2},
  };
  for (const layout& l : layouts) {
    SCOPED_TRACE(l.name);
    torva_test::process_state_guard guard;
    temp_dir dir;
    const std::string header = grid_header(1, 3, 50.0);
    write_file("mask.asc", header + "1 1 1\n");
    write_file("elev.asc", header + "20 20 20\n");
    write_file("bottom.asc", header + "0 0 0\n");
    write_file("head.asc", header + "10 10 10\n");
    write_file("bound.asc", header + "2 1 2\n");
    write_file("tiles.slk", "Tile drain from the middle cell to an outfall\n" + l.network);
    write_file("tiles.gpi", l.grid_pipes);
    write_file("tile.prj",
               "TORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\n"
               "SUMMARY tile_summary.out\nOUTLET_HYDRO outlet.out\nROWS 1\nCOLS 3\n"
               "GRIDSIZE 50.0\nSTART_DATE 2005 3 14\nSTART_TIME 6 00\nTIMESTEP 120.0\n"
               "TOT_TIME 2880\nOUTROW 1\nOUTCOL 1\nOUTSLOPE 0.001\nHYD_FREQ 1440\n"
               "MANNING_N 0.05\nOVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY 1.0\n"
               "RAIN_DURATION 60\nWATER_TABLE head.asc\nGW_SIMULATION\n"
               "AQUIFER_BOTTOM bottom.asc\nGW_BOUNDFILE bound.asc\nGW_UNIF_POROSITY 0.01\n"
               "GW_UNIF_HYCOND 36.0\nGW_LSOR_DIR 1\nGW_LSOR_CON 1e-10\n"
               "STORM_SEWER tiles.slk\nGRID_PIPE tiles.gpi\nPIPE_TILE tile_flow.out\n"
               "PIPE_HEAD tile_head.out\n" +
                   l.cards);
    const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("tile.prj", [] {
      return read_file("tile_summary.out") + read_file("tile_flow.out") +
             read_file("tile_head.out") + read_file("hotstart_file");
    });
    ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;

    // The tile flow of each pipe, and the level of each computational node.
    const std::vector<double> tile = last_record(read_file("tile_flow.out"));
    const std::vector<double> pipe_head = last_record(read_file("tile_head.out"));
    ASSERT_GE(tile.size(), static_cast<std::size_t>(l.pipes));
    ASSERT_EQ(pipe_head.size(), static_cast<std::size_t>(l.pipes * l.pieces + 1));
    std::istringstream heads(read_file("hotstart_file"));
    std::string line;
    for (int k = 0; k < 6; ++k) std::getline(heads, line);
    double h1 = 0.0, hc = 0.0, h3 = 0.0;
    ASSERT_TRUE(heads >> h1 >> hc >> h3);
    EXPECT_EQ(h1, 10.0);
    EXPECT_EQ(h3, 10.0);

    // Hooghoudt by hand, per pipe: half spacing L' = 10 m, radius 0.05 m, K = 0.36 m/h, the
    // drain d above the bottom at the mean of its two inverts, water level P.
    const double k_aquifer = 1e-4, k_tile = 0.36, half = 10.0, r = 0.05;
    const double length = 50.0 / l.pipes;
    std::vector<double> level(l.pipes), de(l.pipes);
    for (int k = 0; k < l.pipes; ++k) {
      level[k] = 0.5 * (pipe_head[k * l.pieces] + pipe_head[(k + 1) * l.pieces]);
      const double d = 6.0 - 0.05 * (k + 0.5) / l.pipes;
      const double x = 2.0 * 3.14 * d / half;
      double F = 0.0;
      for (double m : {2.0, 6.0, 10.0}) F += 4.0 * std::exp(-m * x) / (1.0 - std::exp(-m * x));
      de[k] = 3.14 * half / 8.0 / (std::log(half / (3.14 * r)) + F);
    }
    auto hooghoudt = [&](int k, double head) {  // m3/s into pipe k
      const double h = head - level[k];
      return (2.0 * h * de[k] + h * h) * (k_tile / half) * 2.0 / 3600.0 * length;
    };
    auto drained = [&](double head) {
      double q = 0.0;
      for (int k = 0; k < l.pipes; ++k) q += hooghoudt(k, head);
      return q;
    };
    // Darcy from the two held heads: each face passes 2 Ta Tc / (Ta + Tc) (10 - hc).
    auto darcy = [&](double h) {
      const double ta = k_aquifer * 10.0, tc = k_aquifer * h;
      return 2.0 * 2.0 * ta * tc / (ta + tc) * (10.0 - h);
    };
    double lo = *std::max_element(level.begin(), level.end()), hi = 10.0;
    for (int i = 0; i < 200; ++i) {
      const double mid = 0.5 * (lo + hi);
      (drained(mid) > darcy(mid) ? hi : lo) = mid;
    }
    const double steady = 0.5 * (lo + hi);
    EXPECT_NEAR(hc, steady, 0.002) << "run head " << hc << ", hand " << steady;
    for (int k = 0; k < l.pipes; ++k) {
      const double inflow = hooghoudt(k, steady);
      EXPECT_NEAR(tile[k], inflow, 0.005 * inflow) << "pipe " << k + 1;
      EXPECT_NEAR(tile[k], hooghoudt(k, hc), 0.005 * inflow) << "pipe " << k + 1;
    }
    EXPECT_GT(hc - level[0], 1.0);

    // The books: the aquifer's storage change is what the held heads gave less what the tiles
    // took; the pipes pass on what they took; the run's water closes.
    const std::string summary = read_file("tile_summary.out");
    const double start = summary_number(summary, "GW volume start =");
    const double end = summary_number(summary, "GW volume end =");
    const double inputs = summary_number(summary, "Total inputs to groundwater=");
    const double bounds = summary_number(summary, "Flux across head boundaries=");
    const double to_tile = summary_number(summary, "To tile drains");
    EXPECT_NEAR(end - start, inputs + bounds, 0.05) << summary;
    EXPECT_GT(to_tile, 0.5 * drained(steady) * 2.0 * 86400.0) << summary;
    EXPECT_NEAR(inputs, -to_tile, 0.01 + 1e-6 * to_tile) << summary;
    EXPECT_NEAR(summary_number(summary, "Volume of groundwater to tile drains"), to_tile, 0.01)
        << summary;
    EXPECT_NEAR(summary_number(summary, "Subsurface drain mass bal error m^3="), 0.0, 0.01)
        << summary;
    EXPECT_NEAR(summary_number(summary, "Overall mass balance error ="), 0.0, 1e-4) << summary;
    // The event's surface books hold the rain on the cells; the tiles' water is not theirs.
    const torva_test::summary_balance event = torva_test::read_summary_balance(summary);
    ASSERT_TRUE(event.has_event) << summary;
    EXPECT_NEAR(event.event_error_percent, 0.0, 1e-3) << summary;
  }
}

}  // namespace

// Two storms two hours apart inside TEV, exchanged with VOLP between them: the cell's grate
// takes its share of 100 mm/h for 30 minutes each time and the pipe drains through the dry
// spell between them, which the run steps on the pipes' own schedule. The pipes' books, the
// surface's and the run's close over both storms.
TEST(PipeCases, PipesDrainThroughTheDrySpellBetweenTwoStormsExchangedWithVolp) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const std::string header =
      "north: 1030.0\nsouth: 1000.0\neast: 530.0\nwest: 500.0\nrows: 1\ncols: 1\n";
  write_file("mask.asc", header + "1\n");
  write_file("elev.asc", header + "13.0\n");
  write_file("pipes.slk", one_pipe);
  std::string project = pipe_project;
  for (const char* card : {"PRECIP_UNIF\n", "RAIN_INTENSITY 100.0\n", "RAIN_DURATION 240\n"})
    project.erase(project.find(card), std::string(card).size());
  write_file("pipe.prj", project +
                             "PRECIP_FILE storms.gag\nTEV\nVOLP volp.txt\n"
                             "ROUGH_TO_VOLP rough.asc\nROUGH_FROM_VOLP rough_in.asc\n");
  write_file("storms.gag",
             "EVENT \"first\"\nNRGAG 1\nNRPDS 2\nCOORD 515.0 1015.0\n"
             "RATES 2005 3 14 6 30 100.0\nRATES 2005 3 14 7 0 0.0\n\n"
             "EVENT \"second\"\nNRGAG 1\nNRPDS 2\nCOORD 515.0 1015.0\n"
             "RATES 2005 3 14 9 0 100.0\nRATES 2005 3 14 9 30 0.0\n");
  std::filesystem::create_directory("exchange");
  write_file("exchange/rough_in.asc", header + "0.05\n");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "pipe.prj", [] { return read_file("pipe_flow.out") + read_file("pipe_summary.out"); });
  const std::string& out = runs.run[1].out;
  ASSERT_NE(out.find("reading VOLP exchange maps\n"), std::string::npos) << out;
  EXPECT_EQ(read_file("exchange/volp.txt"), "999 999\n");

  const std::string summary = read_file("pipe_summary.out");
  const double rain = 2.0 * 0.1 * 0.5 * 900.0;  // 90 m3
  const torva_test::summary_balance s = torva_test::read_summary_balance(summary);
  EXPECT_NEAR(s.run_precip, rain, 1e-6);
  const double taken = summary_number(summary, "Volume of overland to subsurface drains");
  const double lost = summary_number(summary, "Volume of subsurface drains out of the system");
  const double in_drains = summary_number(summary, "Final volume in drains=");
  EXPECT_GT(taken, 0.5 * rain) << summary;
  // What the grate took is in the pipes or left at the outfall.
  EXPECT_NEAR(taken + summary_number(summary, "Volume added by the drains' least depths"),
              lost + in_drains, 0.01)
      << summary;
  EXPECT_NEAR(summary_number(summary, "Subsurface drain mass bal error m^3="), 0.0, 0.01);
  // The rain ran off at the outlet, went down the grate or stands on the cell.
  EXPECT_NEAR(s.run_discharge + taken + s.run_ov_final, rain, 1e-3 * rain) << summary;
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-4) << summary;
}
