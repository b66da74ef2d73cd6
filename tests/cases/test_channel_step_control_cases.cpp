// End-to-end cases of the channel routing's step control, run by the real torva executable at 1
// and 8 threads: a steady river stays at its Manning normal depth whatever the model time step,
// a junction passes the sum of its inflows, a wide weir passes what its law gives for the levels
// on its sides, and structures and sinks at the bed (a culvert or weir at the bed, a release
// larger than its feed, a sink at a dry node) run to the end passing at most the water at hand
// with the channel's books closed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

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

namespace channel_step_control_cases_tests {

std::string fixed(double v, int decimals = 4) {
  char text[64];
  snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// The river's trapezoid: bottom 5 m, side slopes of 2, n = 0.03, bed slope 0.001.
constexpr double bottom = 5.0, side_slope = 2.0, manning_n = 0.03, bed_slope = 0.001;

// Manning's normal depth of the trapezoid for a discharge q, by bisection on
// q = (1/n) A R^(2/3) S^(1/2), A = (b + z y) y, P = b + 2 y sqrt(1 + z^2).
double normal_depth(double q) {
  double lo = 0.0, hi = 20.0;
  for (int i = 0; i < 200; ++i) {
    const double y = 0.5 * (lo + hi);
    const double a = (bottom + side_slope * y) * y;
    const double p = bottom + 2.0 * y * std::sqrt(1.0 + side_slope * side_slope);
    const double flow = a * std::pow(a / p, 2.0 / 3.0) * std::sqrt(bed_slope) / manning_n;
    (flow < q ? lo : hi) = y;
  }
  return 0.5 * (lo + hi);
}

// One link of a network: an ordinary trapezoidal link of `nodes` computational nodes `dx` apart
// whose first edge lies at `top` m, with `card` under its first node; or a structure link with
// the element cards `structure`.
struct net_link {
  int nodes = 0;
  double dx = 30.0;
  double top = 110.0;
  std::string card;
  std::string structure;
};

net_link river(int nodes, double top = 110.0, const std::string& card = "", double dx = 30.0) {
  net_link l;
  l.nodes = nodes;
  l.dx = dx;
  l.top = top;
  l.card = card;
  return l;
}

net_link structure(const std::string& cards) {
  net_link l;
  l.structure = cards;
  return l;
}

// Writes the project "r.prj": each ordinary link under its own row of cells as wide as the node
// spacing, 3 m above the bed; no rain (a dry gauge); the series of `series` (TORVA_TS blocks);
// the depth, discharge and stage of every node written every half hour.
void write_network(const std::vector<net_link>& links, const std::vector<std::string>& connects,
                   double timestep, int minutes, const std::string& series,
                   const std::string& extra = "") {
  const double g = links[0].dx;
  int rows = 0, cols = 0;
  for (const net_link& l : links)
    if (l.structure.empty()) {
      ++rows;
      cols = std::max(cols, l.nodes);
    }
  std::vector<std::vector<double>> cell(rows + 1, std::vector<double>(cols + 1, 120.0));
  std::string chn = "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS " +
                    std::to_string(links.size()) + "\nMAXNODES " + std::to_string(cols + 1) + "\n";
  for (const std::string& c : connects) chn += c + "\n";
  chn += "\n";
  std::string gst;
  int entries = 0, row = 0, last_nodes = 0;
  for (std::size_t i = 0; i < links.size(); ++i) {
    const net_link& l = links[i];
    const std::string id = std::to_string(i + 1);
    if (!l.structure.empty()) {
      chn += "LINK " + id + "\nSTRUCTURE\nNUMSTRUCTS 1\n" + l.structure;
      continue;
    }
    ++row;
    last_nodes = l.nodes;
    chn += "LINK " + id + "\nNODES " + std::to_string(l.nodes + 1) + "\nDX " + fixed(l.dx, 1) +
           "\nTRAPEZOID\nMANNINGS_N 0.03\n";
    // Node elevations at the cell edges: each computational node's bed lies mid-cell.
    for (int n = 1; n <= l.nodes + 1; ++n) {
      chn += "NODE " + std::to_string(n) + "\nELEV " + fixed(l.top - bed_slope * l.dx * (n - 1)) +
             "\n";
      if (n == 1) chn += "XSEC\nBOTTOM_WIDTH 5.0\nSIDE_SLOPE 2.0\nBANKFULL_DEPTH 4.0\n" + l.card;
    }
    for (int j = 1; j <= l.nodes; ++j) {
      cell[row][j] = l.top - bed_slope * l.dx * (j - 0.5) + 3.0;
      gst += "CELLIJ " + std::to_string(row) + " " + std::to_string(j) + "\nNUMNODES 1\nLINKNODE " +
             id + " " + std::to_string(j) + " 1.0\n";
      ++entries;
    }
  }
  const std::string header =
      "north: " + fixed(1000.0 + rows * g, 1) + "\nsouth: 1000.0\neast: " + fixed(cols * g, 1) +
      "\nwest: 0.0\nrows: " + std::to_string(rows) + "\ncols: " + std::to_string(cols) + "\n";
  std::string mask = header, elev = header;
  for (int r = 1; r <= rows; ++r) {
    for (int c = 1; c <= cols; ++c) {
      mask += "1 ";
      elev += fixed(cell[r][c], 3) + " ";
    }
    mask += "\n";
    elev += "\n";
  }
  write_file("m.asc", mask);
  write_file("e.asc", elev);
  write_file("r.chn", chn);
  write_file("r.gst", "GRIDSTREAMFILE\nSTREAMCELLS " + std::to_string(entries) + "\n" + gst);
  write_file("feed.ts", series);
  write_file("dry.gag",
             "EVENT \"dry\"\nNRGAG 1\nNRPDS 2\nCOORD 20.0 1010.0\nRATES 2005 3 14 6 30 0.0\n"
             "RATES 2005 3 16 10 30 0.0\n");
  char timestep_text[32];
  snprintf(timestep_text, sizeof timestep_text, "%g", timestep);
  write_file("r.prj",
             "TORVAPROJECT\nWATERSHED_MASK m.asc\nELEVATION e.asc\nSUMMARY s.out\n"
             "OUTLET_HYDRO o.out\nROWS " +
                 std::to_string(rows) + "\nCOLS " + std::to_string(cols) + "\nGRIDSIZE " +
                 fixed(g, 1) + "\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP " +
                 timestep_text + "\nTOT_TIME " + std::to_string(minutes) + "\nOUTROW " +
                 std::to_string(rows) + "\nOUTCOL " + std::to_string(last_nodes) +
                 "\nOUTSLOPE 0.001\nMANNING_N 0.05\nHYD_FREQ 30\nOVERTYPE explicit\n"
                 "CHAN_EXPLIC\nCHANNEL_INPUT r.chn\nSTREAM_CELL r.gst\n"
                 "PRECIP_FILE dry.gag\nRAIN_THIESSEN\nTIME_SERIES_FILE feed.ts\n"
                 "CHAN_DEPTH d.out\nCHAN_DISCHARGE q.out\nCHAN_STAGE y.out\n" +
                 extra);
}

// A constant series named `name` of `value` m3/s over the whole run.
std::string constant_series(const std::string& name, double value) {
  const std::string v = fixed(value, 3);
  return "TORVA_TS\n" + name + "\nABSOLUTE\n2005 3 14 0 0 " + v + "\n2005 3 17 0 0 " + v +
         "\nEND_TS\n";
}

// Runs r.prj at 1 and then 8 threads (NUM_THREADS card); both must end normally and write the
// same outputs. Gives the standard output of the 1-thread run.
std::string run_at_1_and_8_threads() {
  const std::string project = read_file("r.prj");
  std::string outputs[2], out;
  const int threads[2] = {1, 8};
  for (int i = 0; i < 2; ++i) {
    write_file("r.prj", project + "NUM_THREADS " + std::to_string(threads[i]) + "\n");
    const command_result run = run_command(torva_exe(), {"r.prj"}, "");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    if (i == 0) out = run.out;
    outputs[i] = read_file("d.out") + read_file("q.out") + read_file("y.out") + read_file("o.out") +
                 read_file("s.out");
  }
  EXPECT_EQ(outputs[1], outputs[0]) << "1 and 8 threads";
  return out;
}

// The last record of a stream dataset: per link (structure links included) the node values.
std::vector<std::vector<double>> last_record(const std::string& text, int link_count) {
  std::vector<std::vector<double>> links;
  const std::size_t at = text.rfind("\nTS");
  if (at == std::string::npos) return links;
  std::istringstream lines(text.substr(at + 1));
  std::string line;
  std::getline(lines, line);  // "TS k"
  for (int l = 0; l < link_count && std::getline(lines, line); ++l) {
    std::istringstream fields(line);
    int count = 0;
    fields >> count;
    std::vector<double> values(1, 0.0);  // node 0 holds nothing
    int one = 0;
    double v = 0.0;
    while (fields >> one >> v) values.push_back(v);
    links.push_back(values);
  }
  return links;
}

// The channel's books: what it held at the start and took in from the sides and point inflows
// is what it holds at the end and passed through the outlet (the summary prints 0.1 m3), and
// the run's water balance closes.
void expect_channel_books_close(const summary_balance& s) {
  ASSERT_TRUE(s.has_event);
  ASSERT_TRUE(s.has_totals);
  EXPECT_NEAR(s.event_chan_init + s.event_stream_source + s.event_lateral,
              s.event_discharge + s.event_chan_final, 0.2);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
  EXPECT_LT(std::fabs(s.run_surface_error), 1e-6);
}

// One trapezoidal link of 100 nodes fed 10 m3/s at its head: at every model time step up to
// 30 s every node ends at the normal depth (1.3136 m) within 0.1 % and passes the 10 m3/s. The
// explicit scheme is stable only below the diffusion limit dx^2 T S / Q (0.92 s at 30 m, 10.3 s
// at 100 m, T the top width at normal depth), so the summary's count of sub-steps shows the
// routing held its sub-steps below it.
TEST(ChannelStepControlCases, ASteadyRiverSettlesAtTheNormalDepthAtEveryTimestep) {
  torva_test::process_state_guard guard;
  const double q = 10.0;
  const double yn = normal_depth(q);
  ASSERT_NEAR(yn, 1.3136, 5e-5);
  const double top_width = bottom + 2.0 * side_slope * yn;
  const struct {
    double dx, timestep;
    int minutes;
  } cases[] = {{30.0, 1.0, 240},  {30.0, 2.0, 240},   {30.0, 10.0, 240},
               {30.0, 30.0, 240}, {100.0, 10.0, 480}, {100.0, 30.0, 480}};
  for (const auto& c : cases) {
    SCOPED_TRACE("dx " + fixed(c.dx, 0) + " m, time step " + fixed(c.timestep, 0) + " s");
    temp_dir dir;
    write_network({river(100, 110.0, "POINTSOURCE feed\n", c.dx)}, {"CONNECT 1 0 0"}, c.timestep,
                  c.minutes, constant_series("feed", q));
    run_at_1_and_8_threads();
    const std::vector<std::vector<double>> depth = last_record(read_file("d.out"), 1);
    const std::vector<std::vector<double>> flow = last_record(read_file("q.out"), 1);
    ASSERT_EQ(depth.size(), 1u);
    ASSERT_EQ(flow.size(), 1u);
    ASSERT_GE(depth[0].size(), 101u);
    for (int node = 1; node <= 100; ++node) {
      ASSERT_NEAR(depth[0][node], yn, 0.001 * yn) << "node " << node;
      ASSERT_NEAR(flow[0][node], q, 0.001 * q) << "node " << node;
    }
    const std::string summary = read_file("s.out");
    const summary_balance s = read_summary_balance(summary);
    expect_channel_books_close(s);
    const double diffusion_limit = c.dx * c.dx * top_width * bed_slope / q;
    EXPECT_GE(summary_number(summary, "Channel routing sub-steps="),
              c.minutes * 60.0 / diffusion_limit);
  }
}

// Two head links fed 1 and 2 m3/s join a third: at steady state each link end passes its feed
// and every node of the joined link the 3 m3/s, at time steps of 5 and 30 s.
TEST(ChannelStepControlCases, AJunctionPassesTheSumOfItsInflows) {
  torva_test::process_state_guard guard;
  for (double timestep : {5.0, 30.0}) {
    SCOPED_TRACE("time step " + fixed(timestep, 0) + " s");
    temp_dir dir;
    write_network({river(20, 110.6, "POINTSOURCE feed1\n"), river(20, 110.6, "POINTSOURCE feed2\n"),
                   river(40)},
                  {"CONNECT 1 3 0", "CONNECT 2 3 0", "CONNECT 3 0 2 1 2"}, timestep, 240,
                  constant_series("feed1", 1.0) + constant_series("feed2", 2.0));
    run_at_1_and_8_threads();
    const std::vector<std::vector<double>> flow = last_record(read_file("q.out"), 3);
    ASSERT_EQ(flow.size(), 3u);
    EXPECT_NEAR(flow[0][20], 1.0, 1e-5);
    EXPECT_NEAR(flow[1][20], 2.0, 1e-5);
    for (int node = 1; node <= 40; ++node) ASSERT_NEAR(flow[2][node], 3.0, 1e-5) << node;
    expect_channel_books_close(read_summary_balance(read_file("s.out")));
  }
}

// A weir of a 200 m crest 1 m above the end of a river fed 10 m3/s. At steady state the levels
// written on its two sides give, through the weir's law (free flow, or submerged when the lower
// head is at least two thirds of the higher, linear in the level difference below 1 cm), the
// 10 m3/s the river brings, and every node passes them, at time steps of 0.5 to 30 s.
TEST(ChannelStepControlCases, AWideWeirPassesWhatItsLawGivesForTheLevels) {
  torva_test::process_state_guard guard;
  const double end_of_link = 110.0 - bed_slope * 30.0 * 20;
  const double crest = end_of_link + 1.0, length = 200.0, cd = 0.6;
  for (double timestep : {0.5, 10.0, 30.0}) {
    SCOPED_TRACE("time step " + fixed(timestep, 1) + " s");
    temp_dir dir;
    write_network({river(20, 110.0, "POINTSOURCE feed\n"),
                   structure("STRUCTTYPE weir\nCREST_LENGTH 200.0\nCREST_LOW_ELEV " + fixed(crest) +
                             "\nDISCHARGE_COEFF_FORWARD 0.6\nDISCHARGE_COEFF_REVERSE 0.6\n"),
                   river(20, end_of_link - 0.02)},
                  {"CONNECT 1 2 0", "CONNECT 2 3 1 1", "CONNECT 3 0 1 2"}, timestep, 240,
                  constant_series("feed", 10.0));
    run_at_1_and_8_threads();
    const std::vector<std::vector<double>> stage = last_record(read_file("y.out"), 3);
    const std::vector<std::vector<double>> flow = last_record(read_file("q.out"), 3);
    ASSERT_EQ(stage.size(), 3u);
    ASSERT_EQ(flow.size(), 3u);
    const double h1 = stage[0][20], h2 = stage[2][1];
    const double head = h1 - crest, low_head = h2 - crest, diff = h1 - h2;
    ASSERT_GT(diff, 0.0);
    double law = 0.0;
    if (low_head >= 2.0 / 3.0 * head)
      law = (diff < 0.01 ? std::sqrt(2.0 * 9.81 * 100.0) * diff : std::sqrt(2.0 * 9.81 * diff)) *
            cd * length * low_head;
    else
      law = 2.0 / 3.0 * cd * length * std::sqrt(2.0 * 9.81 / 3.0) * std::pow(head, 1.5);
    // The levels print to 1e-5 m; the level difference is some millimetres.
    EXPECT_NEAR(law, 10.0, 0.02 * 10.0) << "levels " << h1 << " and " << h2;
    for (int node = 1; node <= 20; ++node) {
      ASSERT_NEAR(flow[0][node], 10.0, 0.001 * 10.0) << "upstream node " << node;
      ASSERT_NEAR(flow[2][node], 10.0, 0.001 * 10.0) << "downstream node " << node;
    }
    expect_channel_books_close(read_summary_balance(read_file("s.out")));
  }
}

// Structures and a sink at the bed, an hour at time steps of 0.1 and 10 s: a culvert whose
// upstream invert is the link's last bed elevation, a weir whose crest is that elevation, a
// scheduled release of 5 m3/s fed 2 m3/s, and a sink of 1 m3/s at a node that is dry until the
// fed water reaches it. Each runs to the end, passes only the water it is given (nothing is
// made: the channel's books close), and the release and the sink take less than they ask for.
TEST(ChannelStepControlCases, StructuresAndSinksAtTheBedRunToTheEnd) {
  torva_test::process_state_guard guard;
  const double end_of_link = 110.0 - bed_slope * 30.0 * 20;
  const std::string bed = fixed(end_of_link);
  const struct {
    const char* name;
    std::string structure;
  } kinds[] = {
      {"culvert", "STRUCTTYPE round_culvert\nLENGTH 20.0\nDIAMETER 1.0\nUPINVERT " + bed +
                      "\nDOWNINVERT " + fixed(end_of_link - 0.02) +
                      "\nINLET_DISCH_COEFF 0.6\nREV_FLOW_DISCH_COEFF 0.6\nROUGH_COEFF 0.013\n"},
      {"weir", "STRUCTTYPE weir\nCREST_LENGTH 10.0\nCREST_LOW_ELEV " + bed +
                   "\nDISCHARGE_COEFF_FORWARD 0.6\nDISCHARGE_COEFF_REVERSE 0.6\n"},
      {"release", "STRUCTTYPE scheduled_release release\n"},
      {"sink", ""},
  };
  const double feed = 2.0, minutes = 60.0, fed = feed * minutes * 60.0;
  for (const auto& k : kinds) {
    for (double timestep : {0.1, 10.0}) {
      SCOPED_TRACE(std::string(k.name) + ", time step " + fixed(timestep, 1) + " s");
      temp_dir dir;
      const std::string series = constant_series("feed", feed) + constant_series("release", 5.0);
      if (k.structure.empty()) {
        write_network({river(40, 110.0, "POINTSOURCE feed\n")}, {"CONNECT 1 0 0"}, timestep, 60,
                      series, "CHAN_POINT_INPUT points.txt\n");
        write_file("points.txt", "NUMPT 1\nPOINT 30 1 -1.0\n");
      } else {
        write_network({river(20, 110.0, "POINTSOURCE feed\n"), structure(k.structure),
                       river(20, end_of_link - 0.02)},
                      {"CONNECT 1 2 0", "CONNECT 2 3 1 1", "CONNECT 3 0 1 2"}, timestep, 60,
                      series);
      }
      const std::string out = run_at_1_and_8_threads();
      EXPECT_FALSE(contains(out, "getting really small")) << out;
      const std::string summary = read_file("s.out");
      const summary_balance s = read_summary_balance(summary);
      expect_channel_books_close(s);
      EXPECT_GT(s.event_discharge, 0.0);  // the water went on down the network
      if (k.structure.empty()) {
        // The sink took water once the feed reached its node, less than its hour's 3600 m3.
        const double taken = fed - s.event_stream_source;
        EXPECT_GT(taken, 100.0);
        EXPECT_LT(taken, 0.9 * 3600.0);
      } else {
        EXPECT_NEAR(s.event_stream_source, fed, 0.1);
        EXPECT_LT(s.event_discharge, fed);
      }
    }
  }
}

}  // namespace channel_step_control_cases_tests
