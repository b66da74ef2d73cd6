// Time-series outputs: the outlet hydrograph and its six-digit twin in their time and unit forms
// at the steps of the interval; the hydrograph and groundwater-flux location series each walk
// their own list; stream datasets number their records per file; a link/node output whose file
// did not open is reported once and skipped; and the six-digit hydrograph of a run of the plane
// at equilibrium shows i x A.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "output/map_output.h"
#include "output/series_outputs.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

std::vector<std::vector<double>> number_lines(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::vector<double>> out;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<double> row;
    double v = 0;
    while (fields >> v) row.push_back(v);
    out.push_back(row);
  }
  return out;
}

TEST(OutletHydrograph, EachTimeAndUnitFormWritesItsTimeAndDischarge) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  struct form {
    int long_term, strict, cfs;
    double time, q, sig_q;
  };
  const double q = 0.123456;
  const double cfs = q * 35.314667;
  const double stamp = 2005 + (73 * 1440.0 + 6 * 60.0 + 40) / 525600.0;
  const form forms[] = {
      {0, 0, 0, 10.0, q, q},
      {0, 1, 0, 2453443.77777778, q, q},
      {0, 0, 1, 10.0, cfs, cfs},
      {0, 1, 1, 2453443.77777778, cfs, cfs},
      {1, 0, 0, stamp, q, q},
      {1, 0, 1, stamp, cfs, cfs},
      {1, 1, 1, 2453443.77777778, cfs, cfs},
  };
  for (const form& f : forms) {
    auto ms = std::make_unique<model_state>();
    ms->hyd_freq_steps = 4;
    ms->long_term = f.long_term;
    ms->strict_julian_date = f.strict;
    ms->qout_cfs = f.cfs;
    ms->outlet_q = q;
    ms->current_time = 2453443.77777778;
    ms->cur_year = 2005;
    ms->day_of_year = 73;
    ms->cur_hour = 6;
    ms->cur_minute = 40;
    ms->output.sig_outlet_hydro = 1;
    ASSERT_TRUE(file_handle_open(ms->channel.outlet_hydro_file, "outlet.out", "w"));
    ASSERT_TRUE(file_handle_open(ms->output.sig_outlet_hydro_file, "sig.out", "w"));
    for (int step = 1; step <= 9; ++step) {
      ms->step_number = step;
      ms->elapsed_minutes = step * 2.5;
      write_series_outputs(*ms);
    }
    file_handle_close(ms->channel.outlet_hydro_file);
    file_handle_close(ms->output.sig_outlet_hydro_file);
    const auto outlet = number_lines(read_file("outlet.out"));
    const auto sig = number_lines(read_file("sig.out"));
    ASSERT_EQ(outlet.size(), 2u) << "steps 4 and 8";
    ASSERT_EQ(sig.size(), 2u);
    EXPECT_EQ(ms->output.hydro_line_count, 2);
    const double tolerance = f.long_term ? 1e-4 : 1e-3;
    const double time = f.long_term || f.strict ? f.time : 10.0;
    EXPECT_NEAR(outlet[0][0], time, f.long_term || f.strict ? 1e-7 : 0.005);
    EXPECT_NEAR(outlet[0][1], f.q, tolerance);
    EXPECT_NEAR(outlet[1][0] - outlet[0][0], f.long_term || f.strict ? 0.0 : 10.0, 1e-6);
    EXPECT_NEAR(sig[0][0], time, 0.005);
    EXPECT_NEAR(sig[0][1], f.sig_q, 1e-6);
  }
}

// Two hydrograph locations and three groundwater-flux locations: each series has one field per
// location of its own list, with the value at that location.
TEST(LocationSeries, HydrographAndGroundwaterFluxLocationsWalkTheirOwnLists) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  m.hyd_freq_steps = 1;
  m.step_number = 1;
  m.elapsed_minutes = 1.5;
  channel_state& ch = m.channel;
  ch.qp.allocate_uniform(2, 3);
  ch.chan_depth.allocate_uniform(2, 3);
  for (int n = 1; n <= 3; ++n)
    for (int l = 1; l <= 2; ++l) {
      ch.qp(l, n) = 10.0 * l + n;
      ch.chan_depth(l, n) = 0.1 * n + l;
    }
  ch.hyd_location_count = 2;
  ch.hlink.allocate(2);
  ch.hnode.allocate(2);
  ch.hlink[1] = 1, ch.hnode[1] = 2;
  ch.hlink[2] = 2, ch.hnode[2] = 3;
  series_outputs_state& so = m.output.series;
  so.gwflux_location_count = 3;
  so.gwflux_link.allocate(3);
  so.gwflux_node.allocate(3);
  so.stream_gw_exchange.allocate_uniform(2, 3);
  const int gw[3][2] = {{1, 1}, {2, 3}, {1, 3}};
  for (int i = 1; i <= 3; ++i) {
    so.gwflux_link[i] = gw[i - 1][0];
    so.gwflux_node[i] = gw[i - 1][1];
    so.stream_gw_exchange(gw[i - 1][0], gw[i - 1][1]) = -0.5 * i;
  }
  m.output.hyd_location_on = m.output.gwflux_location_on = m.output.dep_location_on = 1;
  ASSERT_TRUE(file_handle_open(m.input.out_hyd_location_file, "hyd.out", "w"));
  ASSERT_TRUE(file_handle_open(m.input.out_gwflux_location_file, "gw.out", "w"));
  ASSERT_TRUE(file_handle_open(m.input.out_dep_location_file, "dep.out", "w"));
  write_series_outputs(m);
  file_handle_close(m.input.out_hyd_location_file);
  file_handle_close(m.input.out_gwflux_location_file);
  file_handle_close(m.input.out_dep_location_file);
  const auto hyd = number_lines(read_file("hyd.out"));
  const auto gwl = number_lines(read_file("gw.out"));
  const auto dep = number_lines(read_file("dep.out"));
  ASSERT_EQ(hyd.size(), 1u);
  ASSERT_EQ(gwl.size(), 1u);
  ASSERT_EQ(dep.size(), 1u);
  EXPECT_EQ(hyd[0], (std::vector<double>{1.5, 12.0, 23.0}));
  EXPECT_EQ(gwl[0], (std::vector<double>{1.5, -0.5, -1.0, -1.5}));
  EXPECT_EQ(dep[0], (std::vector<double>{1.5, 1.2, 2.3}));
}

// Depth and stage files each number their records from 0 on the steps of the interval.
TEST(StreamRecords, EachStreamFileNumbersItsOwnRecords) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  m.hyd_freq_steps = 2;
  channel_state& ch = m.channel;
  ch.chan_explic = 1;
  ch.chan_link_count = 1;
  ch.ltype.allocate(1);
  ch.ltype[1] = 4;
  ch.nx1.allocate(1);
  ch.nx1[1] = 2;
  ch.yp.allocate_uniform(1, 2);
  ch.bel.allocate_uniform(1, 2);
  ch.yp(1, 1) = 3.5, ch.yp(1, 2) = 3.0;
  ch.bel(1, 1) = 3.0, ch.bel(1, 2) = 2.75;
  m.output.chan_depth_on = m.output.chan_stage_on = 1;
  ASSERT_TRUE(file_handle_open(ch.chan_depth_file, "depth.out", "w"));
  ASSERT_TRUE(file_handle_open(ch.chan_stage_file, "stage.out", "w"));
  for (int step = 1; step <= 5; ++step) {
    m.step_number = step;
    write_series_outputs(m);
  }
  file_handle_close(ch.chan_depth_file);
  file_handle_close(ch.chan_stage_file);
  EXPECT_EQ(
      read_file("depth.out"),
      "TS    0\n2   1  0.50000   1  0.25000   \n\nTS    1\n2   1  0.50000   1  0.25000   \n\n");
  const std::string stage = read_file("stage.out");
  EXPECT_EQ(stage.find("TS    0\n"), 0u);
  EXPECT_NE(stage.find("\n\nTS    1\n"), std::string::npos);
  const auto stage_lines = number_lines(stage);
  ASSERT_EQ(stage_lines.size(), 6u);
  EXPECT_EQ(stage_lines[4], (std::vector<double>{2, 1, 3.5, 1, 3.0}));
}

// A link/node output whose file did not open says so once; its steps write nothing, print
// nothing more and still advance the record number.
TEST(LinknodeOutput, AFileThatDidNotOpenIsReportedOnceAndSkipped) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  raw_array2d<double> table;
  table.allocate(2, 1);
  const int nodes[2] = {0, 2};
  const int types[2] = {0, 4};
  linknode_output o;
  linknode_output_init_table(o, 27, table.row_table(), nodes, nodes, types, nullptr, nullptr,
                             nullptr, 0, 1, 2);
  torva_test::stdout_capture capture;
  linknode_output_open(o, "no_such_dir/", "x/", "conc.out", 1.0);
  for (int k = 0; k < 3; ++k) linknode_output_write_step(o);
  const std::string out = capture.stop();
  EXPECT_EQ(o.record_number, 3);
  std::size_t reports = 0;
  for (std::size_t at = out.find("unable to open file"); at != std::string::npos;
       at = out.find("unable to open file", at + 1))
    ++reports;
  EXPECT_EQ(reports, 1u) << out;
  EXPECT_NE(out.find("Error: unable to open file no_such_dir/x/conc.out"), std::string::npos);
  EXPECT_EQ(out.find("Error writing"), std::string::npos) << out;
}

// A plane one cell wide under steady rain: at equilibrium the six-digit hydrograph's discharge
// is the rain on the plane, i x A = 36 mm/h x 20 x 25 m2 = 0.005 m3/s.
TEST(OutletHydrograph, ThePlaneAtEquilibriumShowsRainTimesAreaInTheSixDigitTwin) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  std::string mask = torva_test::grid_header(20, 1, 5.0), elev = mask;
  for (int r = 0; r < 20; ++r) {
    mask += "1\n";
    elev += std::to_string(10.0 - 0.02 * 5.0 * r) + "\n";
  }
  write_file("plane_mask.asc", mask);
  write_file("plane_elev.asc", elev);
  write_file("plane.prj",
             "TORVAPROJECT\nWATERSHED_MASK plane_mask.asc\nELEVATION plane_elev.asc\n"
             "SUMMARY plane_summary.out\nOUTLET_HYDRO plane_outlet.out\n"
             "SIG_OUTLET_HYDRO plane_sig.out\nROWS 20\nCOLS 1\nGRIDSIZE 5.0\n"
             "START_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 5.0\nTOT_TIME 30\n"
             "OUTROW 20\nOUTCOL 1\nOUTSLOPE 0.02\nHYD_FREQ 5\nMANNING_N 0.05\n"
             "OVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY 36\nRAIN_DURATION 30\n");
  const torva_test::command_result run =
      torva_test::run_command(torva_test::torva_exe(), {"plane.prj"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto sig = number_lines(read_file("plane_sig.out"));
  // Lines every 5 minutes from the start (step 0) to the end; the plane is at equilibrium
  // (about 14 minutes) from 25 minutes on.
  ASSERT_EQ(sig.size(), 7u);
  for (std::size_t k = 0; k < sig.size(); ++k) {
    ASSERT_EQ(sig[k].size(), 2u);
    EXPECT_NEAR(sig[k][0], 5.0 * k, 1e-9);
  }
  EXPECT_NEAR(sig[5][1], 0.005, 0.00001);
  EXPECT_NEAR(sig[6][1], 0.005, 0.00001);
  EXPECT_LT(sig[1][1], 0.5 * 0.005);
  // The three-decimal hydrograph has the same lines.
  EXPECT_EQ(number_lines(read_file("plane_outlet.out")).size(), 7u);
}

}  // namespace
