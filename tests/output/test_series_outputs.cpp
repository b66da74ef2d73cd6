// Time-series outputs: the outlet hydrograph and its six-digit twin in their time and unit forms
// at the steps of the interval; the hydrograph and groundwater-flux location series each walk
// their own list; stream datasets number their records per file; a link/node output whose file
// did not open is reported once and skipped; the six-digit hydrograph of a run of the plane at
// equilibrium shows i x A; and the sediment, pipe, constituent and reservoir-inflow series write
// the values the tests set in their arrays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
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

// A link/node output's lake link shows its lake's value in the unit of the record's node
// values: a flat source's values are divided by the factor (2000 g / 1000 = 2 kg) and a node
// table's multiplied by it (0.002 x 1000 = 2), the lake's value likewise; the node of the
// ordinary link beside it shows its own value the same way.
TEST(LinknodeOutput, ALakeLinkShowsItsLakesValueInTheUnitOfTheNodes) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const int nodes[3] = {0, 2, 0};
  const int types[3] = {0, 4, 32};
  const int link_lake[3] = {0, 0, 1};
  struct source_case {
    const char* what;
    bool table;
    double node_value, lake_value;
  };
  const source_case cases[] = {{"flat source", false, 3000.0, 2000.0},
                               {"node table", true, 0.003, 0.002}};
  for (const source_case& c : cases) {
    SCOPED_TRACE(c.what);
    raw_array2d<double> table;
    table.allocate(2, 2);
    table[1][1] = c.node_value;
    double flat[8] = {0.0, 0.0, 0.0, c.node_value, 0.0, 0.0, 0.0, 0.0};  // [2 x link + node]
    const double lake[2] = {0.0, c.lake_value};
    linknode_output o;
    if (c.table)
      linknode_output_init_table(o, 28, table.row_table(), nodes, nodes, types, nullptr, link_lake,
                                 lake, 1, 2, 2);
    else
      linknode_output_init_flat(o, 26, flat, nodes, nodes, types, nullptr, link_lake, lake, 1, 2,
                                2);
    linknode_output_open(o, "", "", "lake.out", 1000.0);
    linknode_output_write_step(o);
    file_handle_close(o.file);
    const std::string text = read_file("lake.out");
    const std::size_t ts = text.find("TS    0\n");
    ASSERT_NE(ts, std::string::npos) << text;
    EXPECT_EQ(text.substr(ts), "TS    0\n2   1  3.00000   1  0.00000   \n-1 2.00000   \n\n")
        << text;
  }
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

// The outlet sediment series in its two forms. With channel sediment routing: the time, the wash
// load of every fine class, then the sand of every sand class and the bed stock, x 35.314667
// under QOUT_CFS; the TSS of the outlet node (the last node of the last link) to its own file.
// Without it: the overland step's outlet volume divided by the step.
TEST(OutletSediment, ChannelAndOverlandFormsWriteTheOutletValues) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  struct form {
    int channel, cfs, strict;
    std::vector<double> expected;
  };
  const double f = 35.314667;
  const form forms[] = {
      {1, 0, 0, {12.5, 0.001, 0.002, 0.0005, 0.0001}},
      {1, 1, 0, {12.5, 0.001 * f, 0.002 * f, 0.0005 * f, 0.0001 * f}},
      {1, 1, 1, {2453443.5, 0.001 * f, 0.002 * f, 0.0005 * f, 0.0001 * f}},
      {0, 0, 0, {12.5, 0.03 / 30.0}},
      {0, 1, 0, {12.5, 0.03 / 30.0 * f}},
  };
  for (const form& fm : forms) {
    auto ms = std::make_unique<model_state>();
    model_state& m = *ms;
    m.hyd_freq_steps = 1;
    m.step_number = 5;
    m.elapsed_minutes = 12.5;
    m.current_time = 2453443.5;
    m.timestep = 30.0;
    m.qout_cfs = fm.cfs;
    m.strict_julian_date = fm.strict;
    transport_state& tr = m.transport;
    tr.sediment.soil_erosion = 1;
    tr.chan_sediment = fm.channel;
    tr.num_fine_classes = 2;
    tr.num_sand_classes = 1;
    tr.outlet_wash_flux.allocate(2);
    tr.outlet_wash_flux[0] = 0.003;
    tr.outlet_wash_flux[1] = 0.001;
    tr.outlet_wash_flux[2] = 0.002;
    tr.outlet_sand_flux.allocate(2);
    tr.outlet_sand_flux[1] = 0.0005;
    tr.outlet_sand_flux[2] = 0.0001;
    tr.ov_outlet_sed_vol = 0.03;
    // Two links of 3 and 2 computational nodes (4 and 3 as read): the outlet node is node 2 of
    // link 2, flat index 2 x 3 + 2; the node past it, as read, is not a computational node.
    channel_state& ch = m.channel;
    ch.chan_link_count = 2;
    ch.nx1.allocate(2);
    ch.nx1[1] = 4, ch.nx1[2] = 3;
    ch.nx.allocate(2);
    ch.nx[1] = 3, ch.nx[2] = 2;
    tr.sed_node_stride = 3;
    tr.chan_sed_conc.allocate(9, 3);
    tr.chan_sed_conc[8][0] = 412.25;
    tr.chan_sed_conc[7][0] = 99.0;
    tr.chan_sed_conc[9][0] = 55.0;
    tr.outlet_sed_tss_on = 1;
    ASSERT_TRUE(file_handle_open(tr.sediment.output_file[sed_out_outlet], "sed.out", "w"));
    ASSERT_TRUE(file_handle_open(tr.sediment.output_file[sed_out_outlet_tss], "tss.out", "w"));
    write_series_outputs(m);
    file_handle_close(tr.sediment.output_file[sed_out_outlet]);
    file_handle_close(tr.sediment.output_file[sed_out_outlet_tss]);
    const auto sed = number_lines(read_file("sed.out"));
    ASSERT_EQ(sed.size(), 1u);
    ASSERT_EQ(sed[0].size(), fm.expected.size()) << read_file("sed.out");
    for (std::size_t k = 0; k < sed[0].size(); ++k)
      EXPECT_NEAR(sed[0][k], fm.expected[k], 1e-8 * std::max(1.0, fm.expected[k])) << k;
    const auto tss = number_lines(read_file("tss.out"));
    if (fm.channel) {
      ASSERT_EQ(tss.size(), 1u);
      EXPECT_EQ(tss[0], (std::vector<double>{fm.strict ? 2453443.5 : 12.5, 412.25}));
    } else {
      EXPECT_TRUE(tss.empty());
    }
  }
}

// Pipe-network series: a superjunction's flow at each listed junction, and a superlink's node
// flow at each listed (superlink, node) pair, whose first number names a junction when the
// junction-to-superlink table is set.
TEST(LocationSeries, SuperjunctionAndSuperlinkNodeFlowsAtTheirLocations) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  for (const bool by_junction : {false, true}) {
    auto ms = std::make_unique<model_state>();
    model_state& m = *ms;
    m.hyd_freq_steps = 1;
    m.step_number = 1;
    m.elapsed_minutes = 2.0;
    channel_state& ch = m.channel;
    series_outputs_state& so = m.output.series;
    ch.superlink_junc_flow_on = ch.superlink_node_flow_on = 1;
    so.superjunction_flow.allocate(3);
    so.superjunction_flow[1] = 0.5, so.superjunction_flow[2] = -0.25, so.superjunction_flow[3] = 2;
    ch.sjunc_location_count = 2;
    ch.sjunc.allocate(2);
    ch.sjunc[1] = 3, ch.sjunc[2] = 2;
    so.superlink_flow.allocate(4, 2);  // [node][superlink]
    for (int n = 1; n <= 4; ++n)
      for (int s = 1; s <= 2; ++s) so.superlink_flow[n][s] = 10.0 * s + n;
    ch.sl_location_count = 2;
    ch.sl_link.allocate(2);
    ch.sl_node.allocate(2);
    ch.sl_link[1] = 1, ch.sl_node[1] = 4;
    ch.sl_link[2] = 3, ch.sl_node[2] = 2;
    if (by_junction) {
      so.junction_superlink.allocate(3);
      so.junction_superlink[1] = 2, so.junction_superlink[3] = 1;
    }
    ASSERT_TRUE(file_handle_open(m.input.superlink_junc_flow_file, "junc.out", "w"));
    ASSERT_TRUE(file_handle_open(m.input.superlink_node_flow_file, "node.out", "w"));
    write_series_outputs(m);
    file_handle_close(m.input.superlink_junc_flow_file);
    file_handle_close(m.input.superlink_node_flow_file);
    EXPECT_EQ(number_lines(read_file("junc.out")),
              (std::vector<std::vector<double>>{{2.0, 2.0, -0.25}}));
    // Without the table the second pair names superlink 3, which the flows do not reach.
    const std::vector<double> node =
        by_junction ? std::vector<double>{2.0, 24.0, 12.0} : std::vector<double>{2.0, 14.0, 0.0};
    EXPECT_EQ(number_lines(read_file("node.out")), (std::vector<std::vector<double>>{node}));
  }
}

// Constituents at the hydrograph locations: the concentration of every constituent, and its
// mass followed by its sediment-bound mass when sediment-bound contaminants are simulated.
TEST(LocationSeries, ConstituentConcentrationAndMassAtTheLocations) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  for (const int bound : {0, 1}) {
    auto ms = std::make_unique<model_state>();
    model_state& m = *ms;
    m.hyd_freq_steps = 2;
    m.step_number = 2;
    m.elapsed_minutes = 4.0;
    channel_state& ch = m.channel;
    ch.hyd_location_count = 2;
    ch.hlink.allocate(2);
    ch.hnode.allocate(2);
    ch.hlink[1] = 1, ch.hnode[1] = 2;
    ch.hlink[2] = 2, ch.hnode[2] = 1;
    transport_state& tr = m.transport;
    tr.num_contaminants = 2;
    tr.sediment_contam = bound;
    tr.con_node_stride = 3;
    tr.chan_con_conc.allocate(2, 9);
    tr.chan_con_mass.allocate(2, 9);
    tr.chan_bound_mass.allocate(2, 9);
    // Node 2 of link 1 is flat index 5, node 1 of link 2 flat index 7.
    for (int k = 1; k <= 2; ++k) {
      tr.chan_con_conc[k][5] = 1.5 * k, tr.chan_con_conc[k][7] = 2.5 * k;
      tr.chan_con_mass[k][5] = 10.0 * k, tr.chan_con_mass[k][7] = 20.0 * k;
      tr.chan_bound_mass[k][5] = 0.125 * k, tr.chan_bound_mass[k][7] = 0.25 * k;
    }
    m.output.out_con_location_on = m.output.out_mass_location_on = 1;
    ASSERT_TRUE(file_handle_open(m.input.out_con_location_file, "con.out", "w"));
    ASSERT_TRUE(file_handle_open(m.input.out_mass_location_file, "mass.out", "w"));
    write_series_outputs(m);
    file_handle_close(m.input.out_con_location_file);
    file_handle_close(m.input.out_mass_location_file);
    EXPECT_EQ(number_lines(read_file("con.out")),
              (std::vector<std::vector<double>>{{4.0, 1.5, 3.0, 2.5, 5.0}}));
    const std::vector<double> mass =
        bound ? std::vector<double>{4.0, 10, 0.125, 20, 0.25, 20, 0.25, 40, 0.5}
              : std::vector<double>{4.0, 10, 20, 20, 40};
    EXPECT_EQ(number_lines(read_file("mass.out")), (std::vector<std::vector<double>>{mass}));
  }
}

// A channel network of one link of three nodes whose sediment fluxes the test sets: two fine
// classes, one sand class and the bed stock (positions 1..4, flat index of node n being 3 + n).
struct sediment_channel {
  std::unique_ptr<model_state> ms = std::make_unique<model_state>();
  sediment_channel() {
    model_state& m = *ms;
    m.hyd_freq_steps = 1;
    channel_state& ch = m.channel;
    ch.chan_explic = 1;
    ch.chan_link_count = 1;
    ch.ltype.allocate(1);
    ch.ltype[1] = 4 | 2;
    ch.nx1.allocate(1);
    ch.nx1[1] = 3;
    transport_state& tr = m.transport;
    tr.sediment.soil_erosion = 1;
    tr.chan_sediment = 1;
    tr.num_fine_classes = 2;
    tr.num_sand_classes = 1;
    tr.sed_node_stride = 3;
    tr.qsmax.allocate(6, 4);
    tr.chan_sed_conc.allocate(6, 3);
    for (int n = 1; n <= 3; ++n) {
      for (int p = 1; p <= 4; ++p) tr.qsmax[3 + n][p] = 1e-6 * (10 * n + p);
      tr.chan_sed_conc[3 + n][0] = 100.0 * n + 0.5;
    }
  }
};

// Sediment at the IN_SED_LOC locations: every flux position of the node (x 35.314667 under
// QOUT_CFS), and the TSS at the locations in its own file.
TEST(SedimentLocations, FluxOfEveryPositionAndTheTssAtTheLocations) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  for (const int cfs : {0, 1}) {
    sediment_channel net;
    model_state& m = *net.ms;
    m.qout_cfs = cfs;
    m.step_number = 3;
    m.elapsed_minutes = 6.0;
    channel_state& ch = m.channel;
    ch.sed_location_count = 2;
    ch.slink.allocate(2);
    ch.snode.allocate(2);
    ch.slink[1] = 1, ch.snode[1] = 3;
    ch.slink[2] = 1, ch.snode[2] = 1;
    transport_state& tr = m.transport;
    tr.sed_locations_on = tr.out_tss_loc_on = 1;
    ASSERT_TRUE(file_handle_open(tr.out_sed_loc_file, "sedloc.out", "w"));
    ASSERT_TRUE(
        file_handle_open(tr.sediment.output_file[sed_out_tss_locations], "tssloc.out", "w"));
    write_series_outputs(m);
    file_handle_close(tr.out_sed_loc_file);
    file_handle_close(tr.sediment.output_file[sed_out_tss_locations]);
    const auto sed = number_lines(read_file("sedloc.out"));
    ASSERT_EQ(sed.size(), 1u);
    ASSERT_EQ(sed[0].size(), 9u);
    EXPECT_EQ(sed[0][0], 6.0);
    const double f = cfs ? 35.314667 : 1.0;
    const int nodes[2] = {3, 1};
    for (int i = 0; i < 2; ++i)
      for (int p = 1; p <= 4; ++p)
        EXPECT_NEAR(sed[0][1 + 4 * i + (p - 1)], 1e-6 * (10 * nodes[i] + p) * f, 1e-10);
    // "%16.4lf" fields without a separator: each is 16 characters wide.
    const std::string tss = read_file("tssloc.out");
    ASSERT_EQ(tss.size(), 15u + 16u * 2 + 1u) << tss;
    EXPECT_DOUBLE_EQ(std::stod(tss.substr(15, 16)), 300.5);
    EXPECT_DOUBLE_EQ(std::stod(tss.substr(31, 16)), 100.5);
  }
}

// CHAN_SED_FLUX: per node the flux of all positions x 1,000,000; with CHAN_DEPTH on as well
// each file numbers its own records 0, 1, 2, and the sums start afresh at every record.
TEST(StreamRecords, SedimentFluxRecordsSumThePositionsAndNumberTheirOwnRecords) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  sediment_channel net;
  model_state& m = *net.ms;
  channel_state& ch = m.channel;
  ch.yp.allocate_uniform(1, 3);
  ch.bel.allocate_uniform(1, 3);
  transport_state& tr = m.transport;
  tr.qsmax_total.allocate_uniform(1, 3);
  m.output.chan_depth_on = m.output.chan_sed_flux_on = 1;
  ASSERT_TRUE(file_handle_open(ch.chan_depth_file, "depth.out", "w"));
  ASSERT_TRUE(file_handle_open(ch.chan_sed_flux_file, "sedflux.out", "w"));
  for (int step = 1; step <= 3; ++step) {
    m.step_number = step;
    if (step == 3) tr.qsmax[5][1] += 5e-6;  // node 2 carries 5 more of position 1
    write_series_outputs(m);
  }
  file_handle_close(ch.chan_depth_file);
  file_handle_close(ch.chan_sed_flux_file);
  const std::string text = read_file("sedflux.out");
  for (int r = 0; r < 3; ++r)
    EXPECT_NE(text.find("TS    " + std::to_string(r) + "\n"), std::string::npos) << text;
  EXPECT_NE(read_file("depth.out").find("TS    2\n"), std::string::npos);
  const auto lines = number_lines(text);
  // Per record: its TS line, the link's line and an empty line.
  ASSERT_EQ(lines.size(), 9u);
  for (int r = 0; r < 3; ++r) {
    const std::vector<double>& link = lines[3 * r + 1];
    ASSERT_EQ(link.size(), 7u);
    EXPECT_EQ(link[0], 3);
    for (int n = 1; n <= 3; ++n) {
      double expected = 0.0;
      for (int p = 1; p <= 4; ++p) expected += 10 * n + p;
      if (r == 2 && n == 2) expected += 5.0;
      EXPECT_NEAR(link[2 * n], expected, 1e-5) << "record " << r << " node " << n;
    }
  }
  EXPECT_EQ(tr.qsmax_total(1, 2), 0.0) << "cleared once written";
}

// Both link/node outputs of every constituent with outputs write a record per output step.
TEST(StreamRecords, ConstituentLinknodeOutputsWriteTheirRecords) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  m.hyd_freq_steps = 1;
  m.transport.chan_con_trans = 1;
  const int nodes[2] = {0, 2};
  const int types[2] = {0, 4};
  // Flat sources, node n of link 1 at [2 x 1 + n]; node 2, not below the link's node count,
  // carries no value.
  const double conc[5] = {0, 0, 3.5, 4.5, 0};
  const double mass[5] = {0, 0, 7.0, 9.0, 0};
  output_state& out = m.output;
  out.con_output_count = 1;
  ASSERT_EQ(out.con_linknode_outputs.add_rows(1, 2), 1);
  linknode_output& c = out.con_linknode_outputs[1][1];
  linknode_output& k = out.con_linknode_outputs[1][2];
  linknode_output_init_flat(c, 27, conc, nodes, nodes, types, nullptr, nullptr, nullptr, 0, 1, 2);
  linknode_output_init_flat(k, 26, mass, nodes, nodes, types, nullptr, nullptr, nullptr, 0, 1, 2);
  linknode_output_open(c, "", "", "con.chan.conc", 1.0);
  linknode_output_open(k, "", "", "con.chan.mass", 1.0);
  for (int step = 1; step <= 2; ++step) {
    m.step_number = step;
    write_series_outputs(m);
  }
  file_handle_close(c.file);
  file_handle_close(k.file);
  EXPECT_EQ(c.record_number, 2);
  EXPECT_EQ(k.record_number, 2);
  const std::string ctext = read_file("con.chan.conc");
  const std::string ktext = read_file("con.chan.mass");
  EXPECT_NE(ctext.find("TS    1\n"), std::string::npos);
  EXPECT_NE(ctext.find("TS    1\n2   1  4.50000   1  0.00000"), std::string::npos) << ctext;
  EXPECT_NE(ktext.find("TS    1\n2   1  9.00000   1  0.00000"), std::string::npos) << ktext;
}

// The reservoir model's inflow line: the day of the year with its fraction and the outlet
// discharge, at every output step while the coupling is on.
TEST(ReservoirInflow, EachOutputStepWritesTheDayAndTheOutletDischarge) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  m.hyd_freq_steps = 1;
  m.step_number = 1;
  m.day_of_year = 73;
  m.cur_hour = 12;
  m.cur_minute = 0;
  m.outlet_q = 4.25;
  const int on = 1;
  m.output.r7_input_flag = &on;
  ASSERT_TRUE(file_handle_open(r7_inflow_file, "r7.out", "w"));
  write_series_outputs(m);
  m.output.r7_input_flag = nullptr;  // the coupling off: nothing more
  write_series_outputs(m);
  file_handle_close(r7_inflow_file);
  EXPECT_EQ(number_lines(read_file("r7.out")), (std::vector<std::vector<double>>{{73.5, 4.2}}));
}

// Pipe records: per superlink its n segment flows, its n + 1 junction heads and, with tile
// drains, its n tile flows, each file numbering its own records.
TEST(StreamRecords, SuperlinkRecordsWriteFlowsHeadsAndTileFlowsPerSuperlink) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  m.hyd_freq_steps = 1;
  channel_state& ch = m.channel;
  series_outputs_state& so = m.output.series;
  ch.storm_sewer = 1;
  ch.superlink_leaky = 1;
  ch.superlink_count = 2;
  so.superlink_segments.allocate(2);
  so.superlink_segments[1] = 2, so.superlink_segments[2] = 1;
  so.superlink_flow.allocate(3, 2);
  so.superlink_head.allocate(3, 2);
  ch.superlink_tile_flow.allocate(3, 2);
  for (int k = 1; k <= 3; ++k)
    for (int s = 1; s <= 2; ++s) {
      so.superlink_flow[k][s] = 0.1 * s + 0.01 * k;
      so.superlink_head[k][s] = 10.0 * s + k;
      ch.superlink_tile_flow[k][s] = 0.001 * (10 * s + k);
    }
  ASSERT_TRUE(file_handle_open(ch.pipe_flow_file, "flow.out", "w"));
  ASSERT_TRUE(file_handle_open(ch.pipe_head_file, "head.out", "w"));
  ASSERT_TRUE(file_handle_open(ch.pipe_tile_file, "tile.out", "w"));
  for (int step = 1; step <= 2; ++step) {
    m.step_number = step;
    write_series_outputs(m);
  }
  file_handle_close(ch.pipe_flow_file);
  file_handle_close(ch.pipe_head_file);
  file_handle_close(ch.pipe_tile_file);
  // Per record: "TS n", one line per superlink (count, then "1 value" per value), an empty line.
  const auto flow = number_lines(read_file("flow.out"));
  const auto head = number_lines(read_file("head.out"));
  const auto tile = number_lines(read_file("tile.out"));
  ASSERT_EQ(flow.size(), 8u);
  ASSERT_EQ(head.size(), 8u);
  ASSERT_EQ(tile.size(), 8u);
  EXPECT_NE(read_file("head.out").find("TS    1\n"), std::string::npos);
  EXPECT_EQ(flow[5], (std::vector<double>{2, 1, 0.11, 1, 0.12}));
  EXPECT_EQ(flow[6], (std::vector<double>{1, 1, 0.21}));
  EXPECT_EQ(head[1], (std::vector<double>{3, 1, 11, 1, 12, 1, 13}));
  EXPECT_EQ(head[2], (std::vector<double>{2, 1, 21, 1, 22}));
  EXPECT_EQ(tile[1], (std::vector<double>{2, 1, 0.011, 1, 0.012}));
  EXPECT_EQ(tile[2], (std::vector<double>{1, 1, 0.021}));
}

}  // namespace

// Soil moisture at the cells of the location list (read from its file by row and column). A
// long-term run with a two-zone soil writes two values per cell: the upper zone's water over its
// depth and the lower zone's over the rest of the soil above the table, 999.99 where the soil
// has no lower zone; a cell whose table is at the surface is saturated (its porosity). Layered
// soil takes the upper zone's depth from layer 1 of the cell's soil type. Event runs write the
// surface moisture.
TEST(SoilMoistureLocations, TwoZoneSoilsWriteBothZonesInLongTermRuns) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  m.hyd_freq_steps = 1;
  m.step_number = 3;
  m.elapsed_minutes = 30.0;
  m.cell_count = 4;
  m.index_map.allocate(2, 2);
  m.index_map[1][1] = 1, m.index_map[1][2] = 2, m.index_map[2][1] = 3, m.index_map[2][2] = 4;
  write_file("theta_in.txt", "4\n2 2\n1 1\n1 2\n2 1\n");
  m.cards.in_theta_location_given = 1;
  snprintf(m.input.names.in_theta_location, sizeof m.input.names.in_theta_location, "%s",
           "theta_in.txt");
  ASSERT_TRUE(file_handle_open(m.input.in_theta_location_file, "theta_in.txt", "r"));
  read_theta_locations(m);
  file_handle_close(m.input.in_theta_location_file);
  ASSERT_EQ(m.output.series.theta_locations, 4);

  subsurface_state& ss = m.subsurface;
  ss.inf_redist = 1;
  ss.zone_depth_upper = 30.0;
  ss.porosity_cell.allocate(4);
  ss.surf_moist.allocate(4);
  ss.wt_depth_cm.allocate(4);
  ss.zone_water_upper.allocate(4);
  ss.zone_water_lower.allocate(4);
  for (int c = 1; c <= 4; ++c) ss.porosity_cell[c] = 0.45, ss.surf_moist[c] = 0.1 * c;
  // Cell 4: both zones, 9 cm over 30 cm and 10 cm over 50 cm. Cell 1: one zone of 20 cm.
  // Cell 2: the table at the surface. Cell 3: a table exactly at the upper zone's bottom.
  ss.wt_depth_cm[4] = 80.0, ss.zone_water_upper[4] = 9.0, ss.zone_water_lower[4] = 10.0;
  ss.wt_depth_cm[1] = 20.0, ss.zone_water_upper[1] = 5.0;
  ss.wt_depth_cm[3] = 30.0, ss.zone_water_upper[3] = 6.0;
  m.output.map_theta_locations = 1;
  ASSERT_TRUE(file_handle_open(m.input.out_theta_location_file, "theta_event.out", "w"));
  write_series_outputs(m);
  file_handle_close(m.input.out_theta_location_file);

  m.long_term = 1;
  m.cur_year = 2001;
  m.day_of_year = 0;
  m.cur_hour = 12;
  ASSERT_TRUE(file_handle_open(m.input.out_theta_location_file, "theta_long.out", "w"));
  write_series_outputs(m);
  ss.inf_redist = 0;  // layered soil: layer 1 of 40 cm
  ss.inf_layered_soil = 1;
  ss.soil_types[2].layer_depth[0] = 40.0;
  ss.soil_types[2].layer_porosity[0] = 0.35;
  ss.soiltype.allocate(4);
  for (int c = 1; c <= 4; ++c) ss.soiltype[c] = 2;
  ss.wt_depth_cm[4] = 100.0, ss.zone_water_upper[4] = 8.0, ss.zone_water_lower[4] = 12.0;
  write_series_outputs(m);
  file_handle_close(m.input.out_theta_location_file);

  const auto event = number_lines(read_file("theta_event.out"));
  ASSERT_EQ(event.size(), 1u);
  EXPECT_EQ(event[0], (std::vector<double>{30.0, 0.4, 0.1, 0.2, 0.3}));
  const auto lines = number_lines(read_file("theta_long.out"));
  ASSERT_EQ(lines.size(), 2u);
  ASSERT_EQ(lines[0].size(), 9u);
  const double stamp = 2001.0 + 720.0 / 525600.0;
  EXPECT_NEAR(lines[0][0], stamp, 1e-8);
  const std::vector<double> redist = {0.3, 0.2, 0.25, 999.99, 0.45, 999.99, 0.2, 999.99};
  for (std::size_t k = 0; k < redist.size(); ++k)
    EXPECT_NEAR(lines[0][k + 1], redist[k], 1e-6) << k;
  ASSERT_EQ(lines[1].size(), 9u);
  // Cell 4: 8 cm over 40 cm and 12 cm over 60 cm; cells 1 and 3 lie within layer 1; cell 2 is
  // saturated at layer 1's porosity.
  const std::vector<double> layered = {0.2, 0.2, 0.25, 999.99, 0.35, 999.99, 0.2, 999.99};
  for (std::size_t k = 0; k < layered.size(); ++k)
    EXPECT_NEAR(lines[1][k + 1], layered[k], 1e-6) << k;
}

// The lake series gives each channel lake's water-surface elevation and volume from the lakes'
// own arrays, after the elapsed minutes (event runs) or the calendar date (long-term runs).
TEST(LakeSeries, EachLakesSurfaceAndVolumeFollowTheTime) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  m.hyd_freq_steps = 2;
  m.step_number = 4;
  m.elapsed_minutes = 20.0;
  m.perennial_lakes = 1;
  m.output.lake_output = 1;
  channel_state& ch = m.channel;
  ch.num_lakes = 2;
  ch.lake_elev.allocate(2);
  ch.lake_volume.allocate(2);
  ch.lake_elev[1] = 101.25, ch.lake_volume[1] = 5300.5;
  ch.lake_elev[2] = 98.5, ch.lake_volume[2] = 120.0;
  ASSERT_TRUE(file_handle_open(m.output.lake_output_file, "lakes.out", "w"));
  write_series_outputs(m);
  m.step_number = 5;  // not an output step
  write_series_outputs(m);
  m.step_number = 6;
  m.long_term = 1;
  m.current_time = julian_from_date(2003, 7, 9, 14, 30, 0.0);
  ch.lake_volume[2] = 0.0;
  write_series_outputs(m);
  file_handle_close(m.output.lake_output_file);
  const auto lines = number_lines(read_file("lakes.out"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], (std::vector<double>{20.0, 101.25, 5300.5, 98.5, 120.0}));
  EXPECT_EQ(lines[1], (std::vector<double>{2003, 7, 9, 14, 30, 101.25, 5300.5, 98.5, 0.0}));

  // A lake link of the stream depth records shows its lake's water-surface elevation.
  ch.chan_explic = 1;
  ch.chan_link_count = 1;
  ch.ltype.allocate(1);
  ch.ltype[1] = 32;
  ch.nx1.allocate(1);
  ch.nx1[1] = 1;
  ch.lake2link.allocate(1);
  ch.lake2link[1] = 2;
  ch.yp.allocate_uniform(1, 1);
  ch.bel.allocate_uniform(1, 1);
  m.output.chan_depth_on = 1;
  ASSERT_TRUE(file_handle_open(ch.chan_depth_file, "depth.out", "w"));
  write_series_outputs(m);
  file_handle_close(ch.chan_depth_file);
  const std::string record = read_file("depth.out");
  EXPECT_EQ(record.rfind("TS    0\n-1 98.50000", 0), 0u) << record;
}

// With Richards columns the location list names the layers of each cell, and the series writes
// the column's water content at each of them. A location that lists more layers than the list's
// head allows keeps the first ones and the next location is still read from its own numbers.
TEST(SoilMoistureLocations, RichardsColumnsWriteTheListedLayers) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  m.hyd_freq_steps = 1;
  m.step_number = 1;
  m.elapsed_minutes = 5.0;
  m.cell_count = 4;
  m.grid_params.inf_scheme = 4;
  m.index_map.allocate(2, 2);
  m.index_map[1][1] = 1, m.index_map[1][2] = 2, m.index_map[2][1] = 3, m.index_map[2][2] = 4;
  write_file("theta_in.txt", "2 2\n1 2 3\n1 \n3 \n2 \n2 1 1\n2 \n");
  m.cards.in_theta_location_given = 1;
  snprintf(m.input.names.in_theta_location, sizeof m.input.names.in_theta_location, "%s",
           "theta_in.txt");
  ASSERT_TRUE(file_handle_open(m.input.in_theta_location_file, "theta_in.txt", "r"));
  read_theta_locations(m);
  file_handle_close(m.input.in_theta_location_file);
  ASSERT_EQ(m.output.series.theta_locations, 2);
  subsurface_state& ss = m.subsurface;
  ss.inf_richards = 1;
  ss.THETA.allocate(4, 3);
  for (int c = 1; c <= 4; ++c)
    for (int n = 1; n <= 3; ++n) ss.THETA[c][n] = 0.1 * c + 0.01 * n;
  m.output.map_theta_locations = 1;
  ASSERT_TRUE(file_handle_open(m.input.out_theta_location_file, "theta.out", "w"));
  write_series_outputs(m);
  file_handle_close(m.input.out_theta_location_file);
  const auto lines = number_lines(read_file("theta.out"));
  ASSERT_EQ(lines.size(), 1u);
  // Cell 2, layers 1 and 3; cell 3, layer 2.
  const std::vector<double> expected = {5.0, 0.21, 0.23, 0.32};
  ASSERT_EQ(lines[0].size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) EXPECT_NEAR(lines[0][k], expected[k], 1e-9);
}

// A soil-moisture location outside the watershed, or a list that ends early, stops the run with
// a message naming the file.
TEST(SoilMoistureLocations, ABadLocationListStopsTheRunNamingTheFile) {
  struct list_case {
    const char* text;
    const char* message;
  };
  const list_case cases[] = {
      {"2\n1 1\n3 1\n",
       "Error: soil moisture location 2 (row 3, column 1) of file theta_in.txt lies outside the "
       "watershed.\n"},
      {"2\n1 1\n2 2\n", "Error: soil moisture location 2 (row 2, column 2) of file theta_in.txt"},
      {"3\n1 1\n1 2\n", "End of file reached in file theta_in.txt, exiting\n"}};
  for (const list_case& lc : cases) {
    SCOPED_TRACE(lc.text);
    torva_test::process_state_guard guard;
    temp_dir dir;
    auto ms = std::make_unique<model_state>();
    model_state& m = *ms;
    m.cell_count = 3;
    m.index_map.allocate(2, 2);
    m.index_map[1][1] = 1, m.index_map[1][2] = 2, m.index_map[2][1] = 3;  // (2, 2) outside
    write_file("theta_in.txt", lc.text);
    m.cards.in_theta_location_given = 1;
    snprintf(m.input.names.in_theta_location, sizeof m.input.names.in_theta_location, "%s",
             "theta_in.txt");
    ASSERT_TRUE(file_handle_open(m.input.in_theta_location_file, "theta_in.txt", "r"));
    torva_test::stdout_capture capture;
    read_theta_locations(m);
    const std::string console = capture.stop();
    file_handle_close(m.input.in_theta_location_file);
    EXPECT_NE(console.find(lc.message), std::string::npos) << console;
    EXPECT_TRUE(run_error.error_fatal);
  }
}
