// End-to-end cases of the seepage through stream beds, run by the real torva executable at 1 and
// 8 threads: a still pool in a rectangular channel over a deep water table drains through its
// bed at the rate k y b, so its depth falls as exp(-k t), whether the water goes into a simulated
// aquifer or into the soil (STREAM_LOSS alone); a pool under a water table above its surface
// gains k (H - W) b until the two levels meet, the aquifer falling as the channel rises. The
// books close: what the channel lost is what the aquifer or the run's stream-loss total took. In
// a long-term run the pool goes on draining between events.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::grid_header;
using torva_test::number;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace stream_seepage_cases_tests {

// One row of `cols` cells of 200 m, ground at 103 m, a flat rectangular channel 10 m wide with
// its bed at 100 m under them (one node per cell), holding a pool 1.2 m deep from its hotstart.
// The bed passes K_RIVER 0.036 m/h over M_RIVER 1 m: k = 1e-5 1/s. Steps of a minute for a day.
constexpr int cols = 5;
constexpr double cell = 200.0;
constexpr double width = 10.0;
constexpr double bed = 100.0;
constexpr double pool = 1.2;
constexpr double k = 0.036 / 3600.0 / 1.0;
constexpr double seconds = 86400.0;
constexpr double porosity = 0.2;

enum class below { aquifer, static_table, soil };

struct reach {
  below ground = below::aquifer;
  double head = 50.0;  // initial water table (m)
};

void write_reach(const reach& r) {
  const std::string header = grid_header(1, cols, cell);
  auto row = [&](double v) {
    std::string line = header;
    for (int j = 1; j <= cols; ++j) line += number(v) + " ";
    return line + "\n";
  };
  write_file("reach_mask.asc", row(1.0));
  write_file("reach_elev.asc", row(103.0));
  std::string chn = "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES " +
                    std::to_string(cols + 1) + "\nCONNECT 1 0 0\n\nLINK 1\nNODES " +
                    std::to_string(cols + 1) + "\nDX " + number(cell) +
                    "\nTRAPEZOID\nMANNINGS_N 0.03\n";
  for (int n = 1; n <= cols + 1; ++n) {
    chn += "NODE " + std::to_string(n) + "\nELEV " + number(bed) + "\n";
    if (n == 1)
      chn += "XSEC\nBOTTOM_WIDTH " + number(width) + "\nSIDE_SLOPE 0.0\nBANKFULL_DEPTH 3.0\n";
  }
  write_file("reach.chn", chn);
  std::string gst = "GRIDSTREAMFILE\nSTREAMCELLS " + std::to_string(cols) + "\n";
  std::string hot;
  for (int j = 1; j <= cols; ++j) {
    gst += "CELLIJ 1 " + std::to_string(j) + "\nNUMNODES 1\nLINKNODE 1 " + std::to_string(j) +
           " 1.0\n";
    hot += std::to_string(j) + " 1 " + number(bed + pool) + "\n";  // node, link, level
  }
  write_file("reach.gst", gst);
  write_file("reach.hot", hot);
  std::string below_cards;
  if (r.ground != below::soil) {
    write_file("reach_head.asc", row(r.head));
    below_cards = "WATER_TABLE reach_head.asc\n";
  }
  if (r.ground == below::aquifer) {
    write_file("reach_bottom.asc", row(0.0));
    write_file("reach_bound.asc", row(4.0));
    below_cards +=
        "GW_SIMULATION\nAQUIFER_BOTTOM reach_bottom.asc\nGW_BOUNDFILE reach_bound.asc\n"
        "GW_UNIF_POROSITY " +
        number(porosity) +
        "\nGW_UNIF_HYCOND 36.0\nGW_LSOR_DIR 1\nGW_LSOR_CON 0.000001\nGW_TIMESTEP 60\n";
  } else {
    below_cards += "STREAM_LOSS\n";
  }
  write_file("reach.prj",
             "TORVAPROJECT\nWATERSHED_MASK reach_mask.asc\nELEVATION reach_elev.asc\n"
             "SUMMARY reach_summary.out\nOUTLET_HYDRO reach_outlet.out\n"
             "ROWS 1\nCOLS " +
                 std::to_string(cols) + "\nGRIDSIZE " + number(cell) +
                 "\nSTART_DATE 2005 3 14\nSTART_TIME 6 00\nTIMESTEP 60.0\nTOT_TIME 1440\n"
                 "OUTROW 1\nOUTCOL " +
                 std::to_string(cols) +
                 "\nOUTSLOPE 0.001\nHYD_FREQ 720\nMANNING_N 0.05\nOVERTYPE explicit\n"
                 // A trace of rain (the project needs some), far below every figure here.
                 "PRECIP_UNIF\nRAIN_INTENSITY 0.000001\nRAIN_DURATION 1440\n"
                 "CHAN_EXPLIC\nCHANNEL_INPUT reach.chn\nSTREAM_CELL reach.gst\n"
                 "READ_CHAN_HOTSTART reach.hot\nCHAN_DEPTH reach_depth.out\n"
                 "K_RIVER 0.036\nM_RIVER 1.0\n" +
                 below_cards);
}

// The node depths of the last record of the stream dataset, node k at [k].
std::vector<double> last_depths() {
  const std::vector<std::vector<double>> records =
      torva_test::first_link_records(read_file("reach_depth.out"));
  return records.empty() ? std::vector<double>{} : records.back();
}

// The groundwater heads of the hotstart map written at the end of the run.
std::vector<double> last_heads() {
  std::istringstream in(read_file("hotstart_file"));
  std::string line;
  for (int n = 0; n < 6; ++n) std::getline(in, line);
  std::vector<double> heads;
  double v = 0.0;
  while (in >> v) heads.push_back(v);
  return heads;
}

std::string outputs() {
  return read_file("reach_summary.out") + read_file("reach_depth.out");
}

// The run's books close; with the aquifer simulated its own books close too and its storage
// grew by `aquifer_gain` (m3).
void expect_books_close(const std::string& summary, below ground, double aquifer_gain) {
  const summary_balance s = read_summary_balance(summary);
  ASSERT_TRUE(s.has_totals) << summary;
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6) << summary;
  EXPECT_LT(std::fabs(s.run_surface_error), 1e-6) << summary;
  if (ground != below::aquifer) return;
  const double start = summary_number(summary, "GW volume start =");
  const double end = summary_number(summary, "GW volume end =");
  const double inputs = summary_number(summary, "Total inputs to groundwater=");
  EXPECT_NEAR(end - start, inputs, 0.03) << summary;
  EXPECT_NEAR(end - start, aquifer_gain, 0.002 * std::fabs(aquifer_gain)) << summary;
}

// Over a water table below the bed the loss per metre of channel is k y b: b dy/dt = -k y b,
// y(t) = y0 exp(-k t), 0.4215 y0 after a day; the channel loses b dx n (y0 - y) = 6942 m3.
TEST(StreamSeepageCases, APoolOverADeepWaterTableDrainsThroughItsBed) {
  const double y = pool * std::exp(-k * seconds);
  const double loss = width * cell * cols * (pool - y);
  for (below ground : {below::aquifer, below::soil}) {
    SCOPED_TRACE(ground == below::aquifer ? "into the aquifer" : "into the soil");
    torva_test::process_state_guard guard;
    temp_dir dir;
    write_reach({ground, 50.0});
    torva_test::run_at_compared_thread_counts("reach.prj", outputs);

    const std::vector<double> depths = last_depths();
    ASSERT_EQ(depths.size(), static_cast<std::size_t>(cols + 2));
    for (int n = 1; n <= cols; ++n) EXPECT_NEAR(depths[n], y, 0.002 * y) << n;
    const std::string summary = read_file("reach_summary.out");
    EXPECT_NEAR(summary_number(summary, "Total flux from river to gw="), loss, 0.002 * loss);
    EXPECT_NEAR(summary_number(summary, "volume of water from chan to gw:"), loss, 0.002 * loss);
    expect_books_close(summary, ground, loss);
    if (ground == below::aquifer) {
      // The table rose by the water it took, and stayed below the bed.
      for (double h : last_heads())
        EXPECT_NEAR(h, 50.0 + loss / cols / (cell * cell) / porosity, 1e-3);
    }
  }
}

// A water table 0.5 m above the pool's surface feeds it over the bed's width: with D = H - W,
// b dy/dt = k D b and, for an aquifer of storage Sy under each cell, A Sy dH/dt = -k D b dx, so
// D = D0 exp(-k (1 + r) t) with r = b dx / (A Sy) (0.25 here; 0 for a table that does not move).
// The channel gains b dx n (D0 - D) / (1 + r), the aquifer loses the same.
TEST(StreamSeepageCases, APoolUnderAHigherWaterTableGainsUntilTheLevelsMeet) {
  struct gain_case {
    below ground;
    double r;
  };
  const gain_case cases[] = {{below::aquifer, width * cell / (cell * cell * porosity)},
                             {below::static_table, 0.0}};
  const double d0 = 0.5;
  for (const gain_case& c : cases) {
    SCOPED_TRACE(c.ground == below::aquifer ? "simulated aquifer" : "static water table");
    torva_test::process_state_guard guard;
    temp_dir dir;
    write_reach({c.ground, bed + pool + d0});
    torva_test::run_at_compared_thread_counts("reach.prj", outputs);

    const double d = d0 * std::exp(-k * (1.0 + c.r) * seconds);
    const double rise = (d0 - d) / (1.0 + c.r);
    const double gain = width * cell * cols * rise;
    const std::vector<double> depths = last_depths();
    ASSERT_EQ(depths.size(), static_cast<std::size_t>(cols + 2));
    for (int n = 1; n <= cols; ++n) EXPECT_NEAR(depths[n], pool + rise, 0.002 * rise) << n;
    const std::string summary = read_file("reach_summary.out");
    EXPECT_NEAR(summary_number(summary, "Total flux from gw to river="), gain, 0.005 * gain);
    EXPECT_NEAR(summary_number(summary, "Total flux from river to gw="), 0.0, 1e-9);
    expect_books_close(summary, c.ground, -gain);
    if (c.ground == below::aquifer) {
      for (double h : last_heads())
        EXPECT_NEAR(h, bed + pool + d0 - c.r * rise, 0.005 * c.r * rise);
    }
  }
}

}  // namespace stream_seepage_cases_tests

namespace stream_seepage_cases_tests {

// The reach of write_reach in a long-term run over the soil (STREAM_LOSS alone, the cells of a
// redistribution soil): `hours` of hourly weather from the run's start, rain in its first hour
// (the only event before a second a month later), the run's outputs the same on 1 and 8
// threads and its books closed. Returns the summary.
std::string run_long_term_reach(double pool_depth, double rain_mm_h, int hours = 48) {
  write_reach({below::soil, 50.0});
  std::string hot;
  for (int j = 1; j <= cols; ++j)
    hot += std::to_string(j) + " 1 " + number(bed + pool_depth) + "\n";
  write_file("reach.hot", hot);
  std::string project = read_file("reach.prj");
  const std::string rain = "PRECIP_UNIF\nRAIN_INTENSITY 0.000001\nRAIN_DURATION 1440\n";
  const std::size_t at = project.find(rain);
  EXPECT_NE(at, std::string::npos);
  if (at == std::string::npos) return "";
  project.replace(at, rain.size(),
                  "PRECIP_FILE reach_rain.gag\nRAIN_INV_DISTANCE\nLONG_TERM\n"
                  "HMET_OBU reach_weather.txt\nALBEDO reach_albedo.asc\nLATITUDE 40.0\n"
                  "LONGITUDE 90.0\nGMT -6\nET_CALC_DEARDORFF\n"
                  // A long-term run takes the soil of Green and Ampt with redistribution.
                  "INF_REDIST\nCONDUCTIVITY reach_ks.asc\nCAPILLARY reach_hc.asc\n"
                  "POROSITY reach_por.asc\nPORE_INDEX reach_pore.asc\n"
                  "RESIDUAL_SAT reach_res.asc\nMOISTURE reach_moist.asc\nSOIL_MOIST_DEPTH 0.6\n");
  write_file("reach.prj", project);
  auto uniform = [](const char* name, double v) {
    std::string map = grid_header(1, cols, cell);
    for (int j = 1; j <= cols; ++j) map += number(v) + " ";
    write_file(name, map + "\n");
  };
  uniform("reach_albedo.asc", 0.2);
  uniform("reach_ks.asc", 0.65);
  uniform("reach_hc.asc", 16.7);
  uniform("reach_por.asc", 0.45);
  uniform("reach_pore.asc", 0.25);
  uniform("reach_res.asc", 0.05);
  uniform("reach_moist.asc", 0.30);
  std::ostringstream weather;
  for (int h = 0; h < hours; ++h)
    weather << "2005 3 " << 14 + (6 + h) / 24 << " " << (6 + h) % 24
            << " 29.92 90 100 1 40 0.0 0.0\n";
  write_file("reach_weather.txt", weather.str());
  write_file("reach_rain.gag",
             "EVENT \"first\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nRATES 2005 3 14 6 0 " +
                 number(rain_mm_h) +
                 "\nRATES 2005 3 14 7 0 0.0\nEVENT \"later\"\nNRGAG 1\nNRPDS 2\n"
                 "COORD 0 0\nRATES 2005 4 14 0 0 5.0\nRATES 2005 4 14 1 0 0.0\n");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "reach.prj", [] { return read_file("reach_summary.out"); });
  const std::string summary = read_file("reach_summary.out");
  const summary_balance b = read_summary_balance(summary);
  EXPECT_TRUE(b.has_totals) << runs.run[0].out << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
  return summary;
}

// Under a trace of rain the pool of 1.2 m drains as exp(-k t) over the whole run of 48 hours,
// not only over the event, and the books count the channel's water at the run's end.
TEST(StreamSeepageCases, InALongTermRunThePoolGoesOnDrainingBetweenEvents) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const std::string summary = run_long_term_reach(pool, 0.000001);
  const double y = pool * std::exp(-k * 48.0 * 3600.0);
  const double loss = width * cell * cols * (pool - y);
  EXPECT_NEAR(summary_number(summary, "Total flux from river to gw="), loss, 0.005 * loss)
      << summary;
  EXPECT_NEAR(summary_number(summary, "Final volume in channels="), width * cell * cols * y,
              0.005 * loss)
      << summary;
}

// A storm of 30 mm/h for an hour runs off into the channel, which cannot pass it on (its outlet
// passes nothing at these depths); the resting pool then loses k V through its bed, so between
// the ends of runs of 48 and 120 hours its water falls by exp(-k 72 h), also once it holds less
// than a hundredth of the storm's rain and the channel counts as nearly dry.
TEST(StreamSeepageCases, InALongTermRunANearlyDryChannelGoesOnLosingThroughItsBed) {
  double final_volume[2] = {};
  const int hours[2] = {48, 120};
  std::string summaries[2];
  for (int r = 0; r < 2; ++r) {
    SCOPED_TRACE(hours[r]);
    torva_test::process_state_guard guard;
    temp_dir dir;
    summaries[r] = run_long_term_reach(0.004, 30.0, hours[r]);
    final_volume[r] = summary_number(summaries[r], "Final volume in channels=");
  }
  const double rain = summary_number(summaries[1], "Total amount of precip=");
  ASSERT_GT(final_volume[0], 0.01 * rain) << summaries[0];
  EXPECT_LT(final_volume[1], 0.01 * rain) << summaries[1];
  EXPECT_NEAR(final_volume[1] / final_volume[0], std::exp(-k * 72.0 * 3600.0), 0.01 * 0.0749)
      << summaries[0] << summaries[1];
}

}  // namespace stream_seepage_cases_tests
