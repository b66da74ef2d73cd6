// Dissolved constituents in the channel network end to end, run by the real torva executable on
// a one-row valley written by the tests: a tracer the overland water of the top cell hands to a
// steady channel flow travels down the link in the time the water takes (the channel's volume
// over its discharge) with its mass intact, every gram in the overland, channel and global books;
// a still pool's tracer decays as exp(-k t); and inputs the channel constituents cannot carry stop
// the run at start-up naming the card. Every run is made on 1 and 8 threads, which must write the
// same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::number;
using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace chan_contam_cases_tests {

// The valley: `cols` cells of 100 m in one row, each 3 m above the bed of the link under it; one
// trapezoidal link (10 m wide at the bottom, side slopes of 2, n = 0.03) of one computational
// node per cell, its bed falling `slope` per metre from 110 m.
constexpr int cols = 21;
constexpr double cell = 100.0;
constexpr double bottom = 10.0;
constexpr double side = 2.0;

double bed(double slope, double x) {
  return 110.0 - slope * x;
}

double trapezoid_area(double y) {
  return (bottom + side * y) * y;
}

// Depth at which the trapezoid passes q on the slope by Manning (bisection).
double normal_depth(double q, double slope) {
  double lo = 0.01, hi = 10.0;
  for (int i = 0; i < 200; ++i) {
    const double y = 0.5 * (lo + hi);
    const double a = trapezoid_area(y);
    const double r = a / (bottom + 2.0 * y * std::sqrt(1.0 + side * side));
    const double flow = a * std::pow(r, 2.0 / 3.0) * std::sqrt(slope) / 0.03;
    (flow < q ? lo : hi) = y;
  }
  return 0.5 * (lo + hi);
}

std::string grid(const std::vector<double>& values) {
  std::string text = torva_test::grid_header(1, cols, cell);
  for (double v : values) text += number(v) + " ";
  return text + "\n";
}

// The whole project. `depth` m of water stands in the channel at the start (a hotstart), the
// feed brings `feed` m3/s of clean water into node 1, the top cell holds `pond` m of water at
// `pond_conc` g/m3 of the tracer; `extra` cards go at the end.
void write_valley(double slope, double depth, double feed, double pond, double pond_conc,
                  double minutes, const std::string& extra) {
  std::vector<double> ones(cols, 1.0), ground(cols), ponds(cols, 0.0), ids(cols, 2.0);
  for (int j = 1; j <= cols; ++j) ground[j - 1] = bed(slope, cell * (j - 0.5)) + 3.0;
  ponds[0] = pond;
  ids[0] = 1.0;
  write_file("valley_mask.asc", grid(ones));
  write_file("valley_elev.asc", grid(ground));
  write_file("valley_pond.asc", grid(ponds));
  write_file("valley_ids.idx", grid(ids));
  std::string chn = "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES " +
                    std::to_string(cols + 1) + "\nCONNECT 1 0 0\n\nLINK 1\nNODES " +
                    std::to_string(cols + 1) + "\nDX " + number(cell) +
                    "\nTRAPEZOID\nMANNINGS_N 0.03\n";
  for (int n = 1; n <= cols + 1; ++n) {
    chn += "NODE " + std::to_string(n) + "\nELEV " + number(bed(slope, cell * (n - 1))) + "\n";
    if (n == 1)
      chn += "XSEC\nBOTTOM_WIDTH 10.0\nSIDE_SLOPE 2.0\nBANKFULL_DEPTH 3.0\n" +
             std::string(feed > 0.0 ? "POINTSOURCE feed\n" : "");
  }
  write_file("valley.chn", chn);
  std::string gst = "GRIDSTREAMFILE\nSTREAMCELLS " + std::to_string(cols) + "\n";
  for (int j = 1; j <= cols; ++j)
    gst += "CELLIJ 1 " + std::to_string(j) + "\nNUMNODES 1\nLINKNODE 1 " + std::to_string(j) +
           " 1.0\n";
  write_file("valley.gst", gst);
  // Each computational node's bed lies mid-cell: "node link level" lines.
  std::string hot;
  for (int j = 1; j <= cols; ++j)
    hot += std::to_string(j) + " 1 " + number(bed(slope, cell * (j - 0.5)) + depth) + "\n";
  write_file("valley.hot", hot);
  write_file("feed.ts", "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 0 0 " + number(feed) +
                            "\n2005 3 16 0 0 " + number(feed) + "\nEND_TS\n");
  write_file("dry.gag",
             "EVENT \"dry\"\nNRGAG 1\nNRPDS 2\nCOORD 1000.0 1050.0\n"
             "RATES 2005 3 14 6 30 0.0\nRATES 2005 3 14 12 30 0.0\n");
  // The tracer: id 1 (the top cell) starts at pond_conc in its water, id 2 clean; no dispersion
  // or exchange with the land.
  std::string top = "     1 top", rest = "     2 rest";
  top.resize(86, ' ');
  rest.resize(86, ' ');
  write_file("valley.cmt",
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP valley_ids.idx \"Cells\"\n"
             "CONTAMINANT_TRANSPORT Cells\nNUM_CONTAM 1\n\"tracer\" \"Cells\" \"tracer.out\"\n"
             "PRECIP_CONC 0\nPARTITION 0\nNUM_IDS 2\n"
             "ID    DESCRIPTION                                  VALUES\n" +
                 top + "0 0 0 0 0 " + number(pond_conc) + " 0 0\n" + rest + "0 0 0 0 0 0 0 0\n");
  write_file("locations.txt", "2\n1 5\n1 " + std::to_string(cols) + "\n");
  write_file("valley.prj",
             "TORVAPROJECT\nWATERSHED_MASK valley_mask.asc\nELEVATION valley_elev.asc\n"
             "SUMMARY valley_summary.out\nOUTLET_HYDRO valley_outlet.out\n"
             "ROWS 1\nCOLS " +
                 std::to_string(cols) + "\nGRIDSIZE " + number(cell) +
                 "\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 5\nTOT_TIME " +
                 number(minutes) + "\nOUTROW 1\nOUTCOL " + std::to_string(cols) +
                 "\nOUTSLOPE 0.001\nMANNING_N 0.05\nOVERTYPE explicit\nCHAN_EXPLIC\n"
                 "CHANNEL_INPUT valley.chn\nSTREAM_CELL valley.gst\nREAD_CHAN_HOTSTART valley.hot\n"
                 "READ_OV_HOTSTART valley_pond.asc\nPRECIP_FILE dry.gag\nRAIN_THIESSEN\n"
                 "TIME_SERIES_FILE feed.ts\nHYD_FREQ 1\nIN_HYD_LOCATION locations.txt\n"
                 "OUT_HYD_LOCATION valley_hyd.out\n"
                 "OUT_CON_LOCATION valley_con.out\nMAPPING_TABLE valley.cmt\nOV_CON_TRANS\n"
                 "CHAN_CON_TRANS\n" +
                 extra);
}

// Runs valley.prj on 1 and 8 threads (the summary and the series must be the same bytes) and
// returns the summary.
std::string run_both() {
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "valley.prj", [] { return read_file("valley_summary.out") + read_file("valley_con.out"); });
  return read_file("valley_summary.out");
}

// The number after the first line at or after `section` that starts with `label`.
double after(const std::string& text, const std::string& section, const std::string& label) {
  const std::size_t at = text.find(section);
  if (at == std::string::npos) return std::nan("");
  return summary_number(text.substr(at), label);
}

// Centroid in time (minutes) of column `column` of the concentration series.
double centroid(const std::string& series, int column) {
  std::istringstream lines(series);
  std::string line;
  double sum = 0.0, weighted = 0.0;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    double t = 0.0, a = 0.0, b = 0.0;
    if (!(fields >> t >> a >> b)) continue;
    const double c = column == 1 ? a : b;
    sum += c;
    weighted += c * t;
  }
  return sum > 0.0 ? weighted / sum : std::nan("");
}

// A steady flow of 20 m3/s at its normal depth down a slope of 0.001; the top cell's 10 cm of
// water carries 1e6 g/m3 of the tracer (1e6 kg) into node 1 and the flow takes it down the
// link. The mean time of the tracer passing node 21 less that passing node 5 is the water's travel
// time between them, the volume of nodes 6 to 21 over the discharge (the mean residence time of a
// steady flow, whatever the mixing). Without decay every gram is booked: what the plane gave the
// stream, what left through the outlet and what is still in the channel. With decay at 50 per
// day the channel's books hold the decayed mass too, to 1e-9 of the input.
TEST(ChanContamCases, APulseTravelsWithTheWaterAndKeepsItsBooks) {
  torva_test::process_state_guard guard;
  const double slope = 0.001, q = 20.0, pond = 0.1;
  const double yn = normal_depth(q, slope);
  ASSERT_NEAR(yn, 1.394, 0.002);
  for (const double decay_per_day : {0.0, 50.0}) {
    SCOPED_TRACE(decay_per_day);
    temp_dir dir;
    write_valley(slope, yn, q, pond, 1e6, 120.0, "CHAN_DECAY_COEF " + number(decay_per_day) + "\n");
    const std::string s = run_both();
    const double ov_init = after(s, "Overland Constituent", "Initial Dissolved mass on ov");
    EXPECT_NEAR(ov_init, pond * cell * cell * 1e6 / 1000.0, 1e-9);  // 1e6 kg
    const double to_stream = after(s, "Overland Constituent", "Mass loss to stream");
    const double gained = after(s, "Channel Contaminant", "Mass gain from overland");
    const double out = after(s, "Channel Contaminant", "Outlet mass flux");
    const double final_chan = after(s, "Channel Contaminant", "Final Mass in Channels");
    const double decayed = after(s, "Channel Contaminant", "Mass decay loss");
    // The top cell gave almost all of its tracer, and the stream received what the plane gave.
    EXPECT_GT(to_stream, 0.99 * ov_init) << s;
    EXPECT_EQ(to_stream, gained);
    EXPECT_EQ(after(s, "Channel Contaminant", "Initial Mass in Channels"), 0.0);
    EXPECT_NEAR(gained, out + final_chan + decayed, 1e-9 * gained + 0.01) << s;
    EXPECT_NEAR(after(s, "Channel Contaminant", "Mass restored to emptied nodes"), 0.0, 1e-9);
    // The global books: in = out + stored (+ decayed).
    const double g_final = after(s, "Global Transport", "Total final Mass");
    const double g_out = after(s, "Global Transport", "Total mass out of system");
    const double g_decay = after(s, "Global Transport", "Mass decay loss");
    EXPECT_NEAR(after(s, "Global Transport", "Total initial mass"), ov_init, 1e-9);
    EXPECT_NEAR(g_final + g_out + g_decay, ov_init, 1e-9 * ov_init + 0.01) << s;
    if (decay_per_day == 0.0) {
      EXPECT_EQ(decayed, 0.0);
      // Nearly all of the tracer has left by the end.
      EXPECT_GT(out, 0.98 * gained);
      const std::string series = read_file("valley_con.out");
      const double travel = 16.0 * cell * trapezoid_area(yn) / q / 60.0;  // minutes
      EXPECT_NEAR(travel, 23.8, 0.1);
      EXPECT_NEAR(centroid(series, 2) - centroid(series, 1), travel, 0.02 * travel) << series;
    } else {
      // Some 0.058 per minute decays: much of the tracer is lost on the way.
      EXPECT_GT(decayed, 0.3 * gained);
    }
  }
}

// A level pool 1.2 m deep held by its hotstart, still (no feed, no rain, the plane dry), starts at
// 1e6 g/m3 of the tracer decaying at 1 per day: after four hours M0 exp(-k t) is left, within 0.1
// % (the decay of each 5 s step is taken from the mass the step starts with: (1 - k dt)^2880,
// within 1e-5 of exp(-k t)), and the decayed mass is booked.
TEST(ChanContamCases, AStillPoolDecaysAsExpOfMinusKt) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_valley(0.0, 1.2, 0.0, 0.0, 0.0, 240.0,
               "CHAN_DECAY_COEF 1\nINIT_CHAN_CONC 1e6\nALL_CONTAM_OUTPUT\nHYD_FREQ 30\n");
  const std::string s = run_both();
  const double m0 = cols * cell * trapezoid_area(1.2) * 1e6 / 1000.0;  // kg
  EXPECT_NEAR(after(s, "Channel Contaminant", "Initial Mass in Channels"), m0, 0.01);
  const double left = after(s, "Channel Contaminant", "Final Mass in Channels");
  const double k = 1.0 / 86400.0;
  EXPECT_NEAR(left, m0 * std::exp(-k * 240.0 * 60.0), 1e-3 * left) << s;
  EXPECT_NEAR(after(s, "Channel Contaminant", "Mass decay loss"), m0 - left, 0.02);
  EXPECT_EQ(after(s, "Channel Contaminant", "Outlet mass flux"), 0.0);

  // The constituent's link/node datasets: the first record holds 1e6 g/m3 at every node, each
  // later one (every 30 minutes, 360 steps of 5 s) (1 - k 5 s)^360 of the record before, and the
  // mass record that concentration times the node's water, 100 m x 17.28 m2.
  const std::vector<std::vector<double>> conc =
      torva_test::first_link_records(read_file("tracer.out.chan.conc"));
  const std::vector<std::vector<double>> mass =
      torva_test::first_link_records(read_file("tracer.out.chan.mass"));
  ASSERT_EQ(conc.size(), 9u);
  ASSERT_EQ(mass.size(), conc.size());
  for (std::size_t r = 0; r < conc.size(); ++r) {
    ASSERT_GE(conc[r].size(), static_cast<std::size_t>(cols + 1));
    const double expected = 1e6 * std::pow(1.0 - k * 5.0, 360.0 * static_cast<double>(r));
    for (int node = 1; node <= cols; ++node) {
      EXPECT_NEAR(conc[r][static_cast<std::size_t>(node)], expected, 1e-6 * expected) << r;
      EXPECT_NEAR(mass[r][static_cast<std::size_t>(node)], expected * cell * trapezoid_area(1.2),
                  1e-6 * expected * 1728.0)
          << r;
    }
  }
}

// The still pool of the case above without decay, seeping through its bed into the soil
// (STREAM_LOSS): the water that leaves takes the tracer at the pool's concentration, so every node
// keeps its 1e6 g/m3 while the pool drains, the channel and global books hold what the bed took,
// and that is 1e6 g/m3 times the volume the water balance says the channels lost to the ground.
TEST(ChanContamCases, AStillPoolSeepingThroughItsBedKeepsItsConcentration) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_valley(0.0, 1.2, 0.0, 0.0, 0.0, 240.0,
               "INIT_CHAN_CONC 1e6\nALL_CONTAM_OUTPUT\nHYD_FREQ 30\nSTREAM_LOSS\nK_RIVER 0.036\n"
               "M_RIVER 1.0\n");
  const std::string s = run_both();
  const double m0 = cols * cell * trapezoid_area(1.2) * 1e6 / 1000.0;  // kg
  EXPECT_NEAR(after(s, "Channel Contaminant", "Initial Mass in Channels"), m0, 0.01);
  const double left = after(s, "Channel Contaminant", "Final Mass in Channels");
  const double ground = after(s, "Channel Contaminant", "Groundwater mass gain/loss");
  // The water the channels lost to the ground (m3, printed to 0.01 m3).
  const double seeped = summary_number(s, "Total flux from river to gw=");
  EXPECT_GT(seeped, 10.0) << s;
  EXPECT_NEAR(-ground, 1e6 * seeped / 1000.0, 1e3 * 0.005 + 0.01) << s;
  EXPECT_NEAR(left - ground, m0, 0.02) << s;
  EXPECT_EQ(after(s, "Channel Contaminant", "Outlet mass flux"), 0.0);
  EXPECT_NEAR(after(s, "Channel Contaminant", "Dissolved mass balance error"), 0.0, 1e-6);
  EXPECT_EQ(after(s, "Global Transport", "Flux from GW to streams"), ground);
  EXPECT_EQ(after(s, "Global Transport", "Total mass out of system"), -ground);

  // Every record of the concentration dataset holds 1e6 g/m3 at every node.
  const std::vector<std::vector<double>> conc =
      torva_test::first_link_records(read_file("tracer.out.chan.conc"));
  ASSERT_EQ(conc.size(), 9u);
  for (std::size_t r = 0; r < conc.size(); ++r) {
    ASSERT_GE(conc[r].size(), static_cast<std::size_t>(cols + 1));
    for (int node = 1; node <= cols; ++node)
      EXPECT_NEAR(conc[r][static_cast<std::size_t>(node)], 1e6, 1e-6) << r << " " << node;
  }
}

// The example watershed with channels (two head links meeting above the outlet link) under 25
// mm/h of rain for 30 minutes that carries 1000 g/m3 of a tracer dispersing at 0.1 m2/s over the
// plane and 1 m2/s in the channels: the rain's tracer runs off the cells into the three links and
// out of the outlet; whatever it brought is out (through the outlet or with the infiltrating
// water) or still on the plane or in the channels, each set of books closing to 1e-9 of its
// input, and 1 and 8 threads write the same summary.
TEST(ChanContamCases, RainOnTheExampleNetworkCarriesItsTracerOutWithTheBooksClosed) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const std::string example = std::string(TORVA_SOURCE_DIR) + "/examples/channel/";
  for (const char* name :
       {"channel.chn", "channel.gst", "channel_mask.asc", "channel_elev.asc",
        "channel_conductivity.asc", "channel_capillary.asc", "channel_porosity.asc",
        "channel_moisture.asc", "channel_hyd_locations.txt"})
    write_file(name, read_file(example + name));
  std::string row = "     1 all";
  row.resize(86, ' ');
  write_file("channel.cmt",
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP channel_mask.asc \"Cells\"\n"
             "CONTAMINANT_TRANSPORT Cells\nNUM_CONTAM 1\n\"tracer\" \"Cells\" \"tracer.out\"\n"
             "PRECIP_CONC 1000\nPARTITION 0\nNUM_IDS 1\n"
             "ID    DESCRIPTION                                  VALUES\n" +
                 row + "0.1 0 0 0 0 0 0 0\n");
  write_file("channel.prj", read_file(example + "channel.prj") +
                                "MAPPING_TABLE channel.cmt\nOV_CON_TRANS\nCHAN_CON_TRANS\n"
                                "CHAN_DISP_COEF 1\n");
  torva_test::run_at_compared_thread_counts("channel.prj",
                                            [] { return read_file("channel_summary.out"); });
  const std::string s = read_file("channel_summary.out");
  const double rain = after(s, "Global Transport", "Precipitation inputs");
  EXPECT_NEAR(rain, 1000.0 * 0.025 * 0.5 * 30.0 * 30.0 * 108.0 / 1000.0, 0.01) << s;
  // The overland water: rain in; infiltration, the stream and what is left out.
  const double to_stream = after(s, "Overland Constituent", "Mass loss to stream");
  const double infiltrated = after(s, "Overland Constituent", "Mass loss to infiltration");
  const double ov_final = after(s, "Overland Constituent", "Final Dissolved mass on ov");
  const double left_on_land = after(s, "Overland Constituent", "Mass left on land by drying");
  EXPECT_GT(to_stream, 0.1 * rain);
  EXPECT_NEAR(rain, to_stream + infiltrated + ov_final + left_on_land, 1e-9 * rain + 0.02) << s;
  // The channels: what the plane gave is out of the outlet or still in the links.
  const double gained = after(s, "Channel Contaminant", "Mass gain from overland");
  const double out = after(s, "Channel Contaminant", "Outlet mass flux");
  const double chan_final = after(s, "Channel Contaminant", "Final Mass in Channels");
  EXPECT_EQ(gained, to_stream);
  EXPECT_GT(out, 0.0);
  EXPECT_GT(chan_final, 0.0);
  EXPECT_NEAR(gained, out + chan_final, 1e-9 * gained + 0.02) << s;
  EXPECT_NEAR(after(s, "Channel Contaminant", "Dissolved mass balance error"), 0.0, 1e-6);
  // The whole system.
  const double g_in = after(s, "Global Transport", "Total initial mass") + rain;
  EXPECT_NEAR(g_in,
              after(s, "Global Transport", "Total final Mass") +
                  after(s, "Global Transport", "Total mass out of system"),
              1e-9 * g_in + 0.02)
      << s;
  EXPECT_NEAR(after(s, "Global Transport", "Contam mass balance error"), 0.0, 1e-6);
  // And the water's own books.
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6);
}

// The valley's cells over two ordinary links with `weirs` weirs (1 or 2) in a row between them,
// written over the files of write_valley: link 1 under cells 1 to 10, the last link under cells
// 11 to 21, each node `depth` m deep at the start; the feed enters node 1 of link 1 when `feed`.
void write_weir_network(double depth, bool feed, int weirs) {
  const int last = 2 + weirs;
  std::string chn = "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS " + std::to_string(last) +
                    "\nMAXNODES 22\nCONNECT 1 2 0\n";
  for (int link = 2; link <= last; ++link)
    chn += "CONNECT " + std::to_string(link) + " " + std::to_string(link < last ? link + 1 : 0) +
           " 1 " + std::to_string(link - 1) + "\n";
  chn += "\n";
  std::string gst = "GRIDSTREAMFILE\nSTREAMCELLS " + std::to_string(cols) + "\n";
  std::string hot;
  for (const auto& [link, first, nodes] : {std::tuple{1, 1, 10}, std::tuple{last, 11, 11}}) {
    chn += "LINK " + std::to_string(link) + "\nNODES " + std::to_string(nodes + 1) +
           "\nDX 100\nTRAPEZOID\nMANNINGS_N 0.03\n";
    for (int n = 1; n <= nodes + 1; ++n) {
      chn += "NODE " + std::to_string(n) + "\nELEV " + number(bed(0.001, cell * (first + n - 2))) +
             "\n";
      if (n == 1)
        chn += "XSEC\nBOTTOM_WIDTH 10.0\nSIDE_SLOPE 2.0\nBANKFULL_DEPTH 3.0\n" +
               std::string(feed && link == 1 ? "POINTSOURCE feed\n" : "");
    }
    for (int j = 1; j <= nodes; ++j) {
      gst += "CELLIJ 1 " + std::to_string(first + j - 1) + "\nNUMNODES 1\nLINKNODE " +
             std::to_string(link) + " " + std::to_string(j) + " 1.0\n";
      hot += std::to_string(j) + " " + std::to_string(link) + " " +
             number(bed(0.001, cell * (first + j - 1.5)) + depth) + "\n";
    }
    if (link == 1)
      for (int w = 2; w < last; ++w)
        chn += "LINK " + std::to_string(w) +
               "\nSTRUCTURE\nNUMSTRUCTS 1\nSTRUCTTYPE weir\nCREST_LENGTH 10.0\n"
               "CREST_LOW_ELEV " +
               number(bed(0.001, cell * 10.0) + 0.5) +
               "\nDISCHARGE_COEFF_FORWARD 0.6\nDISCHARGE_COEFF_REVERSE 0.6\n";
  }
  write_file("valley.chn", chn);
  write_file("valley.gst", gst);
  write_file("valley.hot", hot);
  write_file("locations.txt", "2\n1 5\n" + std::to_string(last) + " 11\n");
}

// The pulse of the first case through a weir between two links: 20 m3/s come down link 1 over
// the weir into link 3 and the top cell's tracer with it. The weir holds no water, so every gram
// that left link 1 entered link 3: what the plane gave the stream is out of the outlet or still
// in the two links (in = out + stored, to 1e-9), most of it past the weir and out by the end,
// and the routing had to restore nothing.
TEST(ChanContamCases, APulsePassesAWeirWithItsMassIntact) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_valley(0.001, 1.4, 20.0, 0.1, 1e6, 75.0, "");
  write_weir_network(1.4, true, 1);
  const std::string s = run_both();
  const double gained = after(s, "Channel Contaminant", "Mass gain from overland");
  const double out = after(s, "Channel Contaminant", "Outlet mass flux");
  const double final_chan = after(s, "Channel Contaminant", "Final Mass in Channels");
  EXPECT_GT(gained, 0.99 * 1e6) << s;
  EXPECT_GT(out, 0.9 * gained) << s;
  EXPECT_NEAR(gained, out + final_chan, 1e-9 * gained) << s;
  // The tracer passed the outlet node (node 11 of link 3) at its concentrations: their sum over
  // the minutes times the steady 20 m3/s is the outlet's mass, within the unsteady start.
  std::istringstream lines(read_file("valley_con.out"));
  std::string line;
  double passed = 0.0;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    double t = 0.0, a = 0.0, b = 0.0;
    if (fields >> t >> a >> b) passed += b * 60.0 * 20.0 / 1000.0;
  }
  EXPECT_NEAR(passed, out, 0.1 * out);
  EXPECT_NEAR(after(s, "Channel Contaminant", "Mass restored to emptied nodes"), 0.0, 1e-9);
  EXPECT_NEAR(after(s, "Channel Contaminant", "Dissolved mass balance error"), 0.0, 1e-6);
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6);
}

// The pulse of the first case without CHAN_CON_TRANS: the channels carry no constituents, so the
// tracer the top cell's water hands its node leaves the books there, booked as lost to the
// stream on the plane and as out of the system in the global books; every gram of the 1e6 kg
// is either on the plane or handed to the stream, to 1e-9.
TEST(ChanContamCases, WithoutChannelConstituentsTheMassHandedToTheStreamLeavesTheBooks) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const double slope = 0.001, q = 20.0, pond = 0.1;
  write_valley(slope, normal_depth(q, slope), q, pond, 1e6, 120.0, "");
  std::string project = read_file("valley.prj");
  project.erase(project.find("CHAN_CON_TRANS\n"), std::string("CHAN_CON_TRANS\n").size());
  write_file("valley.prj", project);
  torva_test::run_at_compared_thread_counts("valley.prj",
                                            [] { return read_file("valley_summary.out"); });
  const std::string s = read_file("valley_summary.out");
  EXPECT_FALSE(contains(s, "Channel Contaminant")) << s;
  const double ov_init = after(s, "Overland Constituent", "Initial Dissolved mass on ov");
  EXPECT_NEAR(ov_init, pond * cell * cell * 1e6 / 1000.0, 1e-9);
  const double to_stream = after(s, "Overland Constituent", "Mass loss to stream");
  const double ov_final = after(s, "Overland Constituent", "Final Dissolved mass on ov");
  EXPECT_GT(to_stream, 0.99 * ov_init) << s;
  EXPECT_NEAR(ov_init,
              to_stream + ov_final +
                  after(s, "Overland Constituent", "Mass left on land by drying") +
                  after(s, "Overland Constituent", "Mass loss to infiltration"),
              1e-9 * ov_init)
      << s;
  EXPECT_NEAR(after(s, "Overland Constituent", "Contam mass balance error"), 0.0, 1e-7) << s;
  const double g_out = after(s, "Global Transport", "Total mass out of system");
  EXPECT_GE(g_out, to_stream) << s;
  EXPECT_NEAR(after(s, "Global Transport", "Total final Mass") + g_out, ov_init, 1e-9 * ov_init)
      << s;
  EXPECT_NEAR(after(s, "Global Transport", "Contam mass balance error"), 0.0, 1e-7) << s;
}

// The last value of column `column` (1 or 2) of the concentration series.
double last_value(const std::string& series, int column) {
  std::istringstream lines(series);
  std::string line;
  double value = std::nan("");
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    double t = 0.0, a = 0.0, b = 0.0;
    if (fields >> t >> a >> b) value = column == 1 ? a : b;
  }
  return value;
}

// A steady flow of 20 m3/s at its normal depth, 19 m3/s of clean water from the feed and 1 m3/s
// from a channel point source (CHAN_POINT_INPUT) at node 1 carrying 2e4 g/m3 of the tracer, no
// decay. After some four times the water's residence time in the link the tracer leaves the
// outlet at the load over the discharge, 1 x 2e4 / 20 = 1000 g/m3, and the point source brought
// exactly load x time, 1 m3/s x 2e4 g/m3 x 7200 s = 144,000 kg, every gram of it in the channel
// and global books. A second point at node 10 withdrawing 0.5 m3/s takes the water's tracer with
// it: the outlet sees the same 1000 g/m3 of 19.5 m3/s, and the point books hold the net load.
TEST(ChanContamCases, APointLoadReachesTheOutletAtLoadOverDischarge) {
  torva_test::process_state_guard guard;
  const double slope = 0.001, q = 20.0, load = 1.0 * 2e4;  // g/s
  const double yn = normal_depth(q, slope);
  struct point_case {
    const char* what;
    const char* file;
  };
  const point_case cases[] = {
      {"one inflow", "NUMPT 1\nPOINT 1 1 1.0 20000\nNRPDS 0\n"},
      {"an inflow and a withdrawal", "NUMPT 2\nPOINT 1 1 1.0 20000\nPOINT 10 1 -0.5 0\nNRPDS 0\n"},
  };
  for (const point_case& pc : cases) {
    SCOPED_TRACE(pc.what);
    temp_dir dir;
    write_valley(slope, yn, q - 1.0, 0.0, 0.0, 120.0, "CHAN_POINT_INPUT points.txt\n");
    write_file("points.txt", pc.file);
    const std::string s = run_both();
    const std::string series = read_file("valley_con.out");
    EXPECT_NEAR(last_value(series, 2), load / q, 1e-6 * load / q) << series;
    const double point = after(s, "Channel Contaminant", "Point source mass gain");
    const double out = after(s, "Channel Contaminant", "Outlet mass flux");
    const double final_chan = after(s, "Channel Contaminant", "Final Mass in Channels");
    const double brought = load * 7200.0 / 1000.0;  // kg
    if (std::string(pc.what) == "one inflow") {
      EXPECT_NEAR(point, brought, 0.01) << s;
      EXPECT_NEAR(after(s, "Global Transport", "Point source inputs"), brought, 0.01) << s;
    } else {
      // The withdrawal took about half a twentieth of what passed node 10 once the tracer
      // arrived there.
      EXPECT_LT(point, brought - 0.5 * brought / 20.0 * 0.7) << s;
      EXPECT_GT(point, brought - 0.5 * brought / 20.0) << s;
    }
    EXPECT_NEAR(point, out + final_chan, 1e-9 * point + 0.02) << s;
    EXPECT_NEAR(after(s, "Channel Contaminant", "Dissolved mass balance error"), 0.0, 1e-6);
    const double g_in = after(s, "Global Transport", "Total initial mass") +
                        after(s, "Global Transport", "Point source inputs");
    EXPECT_NEAR(g_in,
                after(s, "Global Transport", "Total final Mass") +
                    after(s, "Global Transport", "Total mass out of system"),
                1e-9 * g_in + 0.02)
        << s;
    const torva_test::summary_balance b = torva_test::read_summary_balance(s);
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6);
  }
}

// Channel inputs the constituents cannot be carried through stop the run at start-up with one
// message naming the card.
TEST(ChanContamCases, InputsTheChannelConstituentsCannotCarryStopTheRun) {
  torva_test::process_state_guard guard;
  struct bad_case {
    const char* what;
    const char* extra;
    int weirs;
    const char* message;
  };
  const bad_case cases[] = {
      {"two weirs in a row", "", 2,
       "Error: channel contaminant transport through a hydraulic structure that does not lie "
       "between two ordinary channel links (the CHAN_CON_TRANS card; link 2 of the channel file "
       "valley.chn) is not supported by this version."},
  };
  for (const bad_case& b : cases) {
    SCOPED_TRACE(b.what);
    temp_dir dir;
    write_valley(0.001, 0.5, 0.0, 0.0, 0.0, 10.0, b.extra);
    write_weir_network(0.5, false, b.weirs);
    const torva_test::command_result r = torva_test::run_with_threads("valley.prj", 1);
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(contains(r.out, b.message)) << r.out;
    EXPECT_FALSE(contains(r.out, "Running....")) << r.out;
  }
}

}  // namespace chan_contam_cases_tests
