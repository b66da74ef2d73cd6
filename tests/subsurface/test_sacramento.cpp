// The Sacramento basin alone: the land phase's water books and store limits, the topographic
// index against hand-computed values, the parameter file's cards, checks and warnings, and the
// channel weights and the channel's share of the basin's inflow.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "subsurface/sacramento.h"
#include "subsurface/sacramento_input.h"
#include "subsurface/sacramento_steps.h"
#include "subsurface/subsurface_steps.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// A basin with the capacities and rates of the whole-run cases.
sac_basin_params basin(double uztwc, double uzfwc, double lztwc, double lzfsc, double lzfpc) {
  sac_basin_params p;
  p.uztwm = 50, p.uzfwm = 40, p.uzk = 0.3, p.zperc = 40, p.rexp = 2;
  p.lztwm = 100, p.lzfsm = 30, p.lzfpm = 200, p.lzsk = 0.05, p.lzpk = 0.01, p.pfree = 0.2;
  p.uztwc = uztwc, p.uzfwc = uzfwc, p.lztwc = lztwc, p.lzfsc = lzfsc, p.lzfpc = lzfpc;
  p.pbase = p.lzfpm * p.lzpk + p.lzfsm * p.lzsk;
  return p;
}

double storage(const sac_basin_params& p) {
  return p.uztwc + p.uzfwc + p.lztwc + p.lzfsc + p.lzfpc;
}

void expect_within_capacities(const sac_basin_params& p, const std::string& what) {
  const double slack = 1e-9;
  EXPECT_GE(p.uztwc, -slack) << what;
  EXPECT_LE(p.uztwc, p.uztwm + slack) << what;
  EXPECT_GE(p.uzfwc, -slack) << what;
  EXPECT_LE(p.uzfwc, p.uzfwm + slack) << what;
  EXPECT_GE(p.lztwc, -slack) << what;
  EXPECT_LE(p.lztwc, p.lztwm + slack) << what;
  EXPECT_GE(p.lzfsc, -slack) << what;
  EXPECT_LE(p.lzfsc, p.lzfsm + slack) << what;
  EXPECT_GE(p.lzfpc, -slack) << what;
  EXPECT_LE(p.lzfpc, p.lzfpm + slack) << what;
}

// With no input, no demand and the upper zone empty, the step only drains the lower free
// stores: baseflow lzfpc lzpk + lzfsc lzsk and nothing else.
TEST(SacLandPhase, AStepWithoutInputOrDemandReturnsOnlyBaseflow) {
  sac_basin_params p = basin(0.0, 0.0, 100.0, 12.0, 80.0);
  double et = 0.0;
  const sac_phase_result r = sac_land_phase(p, et, 0.0);
  EXPECT_EQ(r.increments, 1);
  EXPECT_DOUBLE_EQ(r.baseflow, 80.0 * 0.01 + 12.0 * 0.05);
  EXPECT_EQ(r.surface, 0.0);
  EXPECT_EQ(r.interflow, 0.0);
  EXPECT_DOUBLE_EQ(r.total, r.baseflow);
  EXPECT_DOUBLE_EQ(p.lzfpc, 80.0 * 0.99);
  EXPECT_DOUBLE_EQ(p.lzfsc, 12.0 * 0.95);
  EXPECT_EQ(et, 0.0);
  EXPECT_DOUBLE_EQ(p.last_inflow, r.total);
  EXPECT_NEAR(p.residual, 0.0, 1e-12);
}

// Over a table of states, inputs and demands the step keeps its books: the stores change by the
// input less the evapotranspiration and the inflow, every store stays within 0 and its capacity,
// and the evapotranspiration never exceeds the demand.
TEST(SacLandPhase, EveryStepKeepsItsBooksAndItsStoresWithinTheirCapacities) {
  struct row {
    double uztwc, uzfwc, lztwc, lzfsc, lzfpc, input, demand;
  };
  const row rows[] = {
      {25, 10, 50, 5, 100, 0, 0},    {25, 10, 50, 5, 100, 3, 0.5},
      {0, 0, 0, 0, 0, 40, 0},        {50, 40, 100, 30, 200, 200, 0},
      {50, 0, 20, 30, 10, 12, 1},    {1, 39, 99, 30, 199, 75, 0},
      {2, 1, 10, 0, 0, 0, 80},       {49, 40, 0, 30, 0, 500, 3},
      {10, 35, 100, 30, 5, 20, 0.2}, {0, 40, 100, 29.9, 199.9, 1000, 0},
  };
  for (const row& w : rows) {
    const std::string what = std::to_string(w.input) + " mm on " + std::to_string(w.uztwc) + "/" +
                             std::to_string(w.uzfwc) + "/" + std::to_string(w.lztwc) + "/" +
                             std::to_string(w.lzfsc) + "/" + std::to_string(w.lzfpc);
    sac_basin_params p = basin(w.uztwc, w.uzfwc, w.lztwc, w.lzfsc, w.lzfpc);
    const double before = storage(p);
    double et = w.demand;
    const sac_phase_result r = sac_land_phase(p, et, w.input);
    EXPECT_NEAR(storage(p), before + w.input - et - r.total, 1e-9) << what;
    EXPECT_NEAR(p.residual, 0.0, 1e-9) << what;
    EXPECT_NEAR(r.total, r.surface + r.interflow + r.baseflow, 1e-12) << what;
    EXPECT_GE(r.surface, 0.0) << what;
    EXPECT_GE(r.interflow, 0.0) << what;
    EXPECT_LE(et, w.demand + 1e-12) << what;
    EXPECT_GE(et, 0.0) << what;
    expect_within_capacities(p, what);
  }
}

// Percolation into a lower zone whose supplementary store is full and whose primary store is
// large: the primary store's share by the deficits comes out above 1, yet percolation only ever
// adds to the free stores, so the full supplementary store stays full (it has no depletion here).
TEST(SacLandPhase, PercolationNeverTakesWaterOutOfAFreeStore) {
  sac_basin_params p = basin(50.0, 30.0, 100.0, 30.0, 20.0);
  p.lzsk = 0.0;
  p.pbase = p.lzfpm * p.lzpk;
  double et = 0.0;
  sac_land_phase(p, et, 10.0);
  EXPECT_DOUBLE_EQ(p.lzfsc, 30.0);
  EXPECT_GT(p.lzfpc, 20.0 * 0.99);  // the primary store gained percolation
  EXPECT_NEAR(p.residual, 0.0, 1e-9);
}

// A lower zone with less room than the upper free store holds, under a percolation demand that
// exceeds that store: the lower zone fills to its capacity and the rest stays above.
TEST(SacLandPhase, ALowerZoneNeverTakesMoreThanItsRoom) {
  sac_basin_params p = basin(50.0, 1.0, 100.0, 30.0, 199.5);
  p.lzpk = 0.001, p.lzsk = 0.001, p.zperc = 1e5, p.rexp = 1.0;
  p.pbase = p.lzfpm * p.lzpk + p.lzfsm * p.lzsk;
  double et = 0.0;
  sac_land_phase(p, et, 0.0);
  EXPECT_LE(p.lztwc + p.lzfsc + p.lzfpc, p.lztwm + p.lzfsm + p.lzfpm + 1e-9);
  expect_within_capacities(p, "full lower zone");
  EXPECT_NEAR(p.residual, 0.0, 1e-9);
}

// The grid of a topographic index case: rows x cols cells of dx metres, all inside, with the
// elevations row by row.
struct index_grid {
  int rows, cols;
  double dx;
  raw_array2d<int> index_map;
  raw_array1d<double> elev;
  raw_array1d<double> out;
  index_grid(int r, int c, double d) : rows(r), cols(c), dx(d) {
    index_map.allocate(r, c);
    elev.allocate(r * c);
    out.allocate(r * c);
    for (int i = 1; i <= r; ++i)
      for (int j = 1; j <= c; ++j) index_map[i][j] = (i - 1) * c + j;
  }
  topodex_status run() { return topodex(elev, index_map, rows, cols, dx, out); }
};

// A flat grid has no lower neighbour and no slope anywhere: every cell takes the flat index.
TEST(Topodex, AFlatGridTakesTheFlatIndexEverywhere) {
  index_grid g(3, 4, 30.0);
  for (int c = 1; c <= 12; ++c) g.elev[c] = 250.0;
  ASSERT_EQ(g.run(), topodex_status::ok);
  for (int c = 1; c <= 12; ++c) EXPECT_EQ(g.out[c], topodex_flat_index) << c;
}

// One column of 1,100 cells rising by dz per row towards the south: every cell drains to the
// cell above it, so the area gathers northwards against the order of the rows. A cell k rows
// from the top of the slope has drained k cells (A = k dx^2) through the flow width of one edge
// neighbour, w = dz / dx x dx / 2; the lowest cell, with no lower neighbour, takes its mean
// slope dz / dx up to its one neighbour: ln(A / (2 dx s)).
TEST(Topodex, AreaGathersAlongAFlowPathOfAnyLengthAndDirection) {
  const int n = 1100;
  const double dx = 10.0, dz = 0.5;
  index_grid g(n, 1, dx);
  for (int r = 1; r <= n; ++r) g.elev[r] = 100.0 + r * dz;
  ASSERT_EQ(g.run(), topodex_status::ok);
  for (int r = 2; r <= n; ++r) {
    const double area = (n - r + 1) * dx * dx;
    EXPECT_NEAR(g.out[r], std::log(area / (0.5 * dz)), 1e-9) << r;
  }
  EXPECT_NEAR(g.out[1], std::log(n * dx * dx / (2.0 * dx * (dz / dx))), 1e-9);
}

// A pit at the centre of a 3 x 3 grid: the eight cells around it, 1 m higher, each drain to the
// pit and to none other (their other neighbours are as high or higher), so the pit gathers all
// nine cells' area and takes the mean slope up to its neighbours; an edge cell sends everything
// through its one edge neighbour, a corner cell through its one corner neighbour.
TEST(Topodex, APitGathersItsNeighboursAndTakesItsMeanSlope) {
  const double dx = 10.0;
  index_grid g(3, 3, dx);
  for (int c = 1; c <= 9; ++c) g.elev[c] = 101.0;
  g.elev[5] = 100.0;
  ASSERT_EQ(g.run(), topodex_status::ok);
  const double a = dx * dx;
  const double edge_w = 1.0 / dx * 0.5 * dx;
  const double corner_w = 1.0 / (std::sqrt(2.0) * dx) * 0.25 * std::sqrt(2.0) * dx;
  EXPECT_NEAR(g.out[2], std::log(a / edge_w), 1e-12);
  EXPECT_NEAR(g.out[1], std::log(a / corner_w), 1e-12);
  const double s = (4.0 * (1.0 / dx) + 4.0 * (1.0 / (std::sqrt(2.0) * dx))) / 8.0;
  EXPECT_NEAR(g.out[5], std::log(9.0 * a / (2.0 * dx * s)), 1e-12);
}

// A grid where a cell's area is smaller than its flow width: the negative index is reported.
TEST(Topodex, ANegativeIndexIsReported) {
  index_grid g(1, 2, 10.0);
  g.elev[1] = 11.0;  // w = 1 / 10 x 5 = 0.5 m, A = 100 m2: ln(200) for the first cell, and
  g.elev[2] = 10.0;  // ln(200 / (2 x 10 x 0.1)) for the second
  EXPECT_EQ(g.run(), topodex_status::ok);
  EXPECT_NEAR(g.out[2], std::log(100.0), 1e-12);
  g.elev[1] = 500.0;  // w = 245 m: ln(100 / 245) < 0
  EXPECT_EQ(g.run(), topodex_status::negative_index);
}

TEST(SacramentoCards, KeywordsAreFoundWholeWithoutRegardToCase) {
  struct row {
    const char* line;
    int code;
    const char* rest;
  };
  const row rows[] = {
      {"UZTWM 50", 1, "50"},       {"pfree\t0.2", 11, "0.2"},
      {"LzFpC 0.5", 16, "0.5"},    {"NUM_BASINS 1", 17, "1"},
      {"basin 4", 18, "4"},        {"SAVED 3", 19, "3"},
      {"TORVA_SACRAMENTO", 0, ""}, {"uztw 5", 20, "5"},
      {"uztwmm 5", 20, "5"},       {"", 20, ""},
      {"# note", 20, "note"},
  };
  for (const row& r : rows) {
    std::string line = r.line;
    EXPECT_EQ(sacramento_card_code(line), r.code) << r.line;
    std::string rest;
    if (r.rest[0] != '\0') {
      ASSERT_TRUE(next_token(line, rest)) << r.line;
      EXPECT_EQ(rest, r.rest) << r.line;
    }
  }
}

// Reads `text` as the Sacramento parameter file of a run of 4 cells of 10 m.
struct read_result {
  std::unique_ptr<model_state> ms;
  std::string out;
};
read_result read_params(const std::string& text) {
  read_result r;
  r.ms = std::make_unique<model_state>();
  r.ms->cell_count = 4;
  r.ms->gridsize = 10.0;
  r.ms->subsurface.sacramento = 1;
  copy_text(r.ms->input.names.sacramento, sizeof r.ms->input.names.sacramento, "basin.par");
  write_file("basin.par", text);
  file_handle h;
  EXPECT_TRUE(file_handle_open(h, "basin.par", "r"));
  torva_test::stdout_capture capture;
  read_sacramento_input(*r.ms, h, 0);
  r.out = capture.stop();
  file_handle_close(h);
  return r;
}

const char* const good_cards =
    "TORVA_SACRAMENTO basin of the tests\n"
    "\n"
    "# capacities (mm) and rates\n"
    "UZTWM 50\nuzfwm 40\nUzk 1.5\nZPERC 40\nREXP 2\n"
    "\n"
    "# starting fractions\n"
    "LZTWM 100\nLZFSM 30\nLZFPM 200\nLZSK 0.05\nLZPK -0.2\nPFREE 0.2\n"
    "BASIN 1\nBASIN 1\nNUM_BASINS 1\n"
    "UZTWC 1.2\nUZFWC 0.25\nLZTWC 0.5\nLZFSC -0.1\nLZFPC 0.5\nSAVED 500\n"
    "UZTWM this line comes after the last card and is not read\n";

// Comments, blank lines and basin lines (however often) are passed over; starting fractions
// outside [0, 1] and rates outside [0, 1] are replaced; the fractions become depths; the kept
// free water cannot exceed the primary free water; the percolation base follows.
TEST(SacramentoInput, CardsAreReadCheckedAndTurnedIntoStores) {
  process_state_guard guard;
  temp_dir dir;
  const read_result r = read_params(good_cards);
  ASSERT_EQ(run_error.error_code, 0) << r.out;
  const sac_basin_params& p = r.ms->subsurface.sac_params;
  EXPECT_EQ(p.uztwm, 50.0);
  EXPECT_EQ(p.uzk, 0.5);    // 1.5 is above 1
  EXPECT_EQ(p.lzpk, 0.05);  // -0.2 is below 0
  EXPECT_DOUBLE_EQ(p.uztwc, 0.99 * 50.0);
  EXPECT_DOUBLE_EQ(p.uzfwc, 0.25 * 40.0);
  EXPECT_DOUBLE_EQ(p.lztwc, 0.5 * 100.0);
  EXPECT_DOUBLE_EQ(p.lzfsc, 0.01 * 30.0);
  EXPECT_DOUBLE_EQ(p.lzfpc, 0.5 * 200.0);
  EXPECT_DOUBLE_EQ(p.saved, p.lzfpc);
  EXPECT_DOUBLE_EQ(p.pbase, 200.0 * 0.05 + 30.0 * 0.05);
  EXPECT_DOUBLE_EQ(r.ms->subsurface.sac_basin_area, 4 * 100.0);
}

TEST(SacramentoInput, ABasinCountOtherThanOneOrAWordForANumberIsRefused) {
  const std::string cards = good_cards;
  struct row {
    std::string from, to, message;
  };
  const row rows[] = {
      {"NUM_BASINS 1", "NUM_BASINS 3", "basin.par, num_basins = 3: the model runs one basin"},
      {"NUM_BASINS 1", "NUM_BASINS one", "basin.par, num_basins needs a whole number, not \"one\""},
      {"REXP 2", "REXP 2mm", "basin.par, rexp needs a number, not \"2mm\""},
      {"REXP 2", "REXP nan", "basin.par, rexp needs a number, not \"nan\""},
      {"PFREE 0.2", "PFREE 1.2", "basin.par, pfree = 1.2 is out of range: it must be from 0 to 1"},
      {"LZFPM 200", "LZFPM 1e300", "basin.par, lzfpm = 1e+300 is out of range"},
      {"UZTWM 50", "UZTWM -5",
       "basin.par, uztwm = -5 is out of range: it must be above 0 and at most 10000 mm"},
  };
  for (const row& w : rows) {
    process_state_guard guard;
    temp_dir dir;
    std::string text = cards;
    text.replace(text.find(w.from), w.from.size(), w.to);
    const read_result r = read_params(text);
    EXPECT_EQ(run_error.error_code, error_code_own_message) << w.to;
    EXPECT_TRUE(contains(r.out, w.message)) << r.out;
  }
}

// A channel of two links over three cells: stream cell 1 (cell 1) holds half of link 1's first
// node (100 m apart) and the whole of link 2's first node (50 m apart), stream cell 2 (cell 3)
// the whole of link 1's second node: 50, 50 and 100 m of channel of 200.
struct weight_case {
  std::unique_ptr<model_state> ms = std::make_unique<model_state>();
  weight_case() {
    model_state& m = *ms;
    m.cell_count = 3;
    m.quiet = 1;
    subsurface_state& ss = m.subsurface;
    ss.sacramento = 1;
    ss.sac_cell_index.allocate(3);
    ss.topo_dex_values.allocate(3);
    channel_state& ch = m.channel;
    ch.chan_explic = 1;
    ch.chan_link_count = 2;
    ch.dx.allocate(2);
    ch.ltype.allocate(2);
    ch.dx[1] = 100.0, ch.dx[2] = 50.0;
    ch.ltype[1] = ch.ltype[2] = 4;
    const int nodes[3] = {0, 3, 2};
    ch.qlat.allocate(2, nodes);
    ch.gst_stream_cells = 2;
    ch.gst_width = 2;
    ch.gst_ncellsingrid.allocate(2);
    ch.gst_link.allocate(2, 2), ch.gst_node.allocate(2, 2), ch.gst_gnum.allocate(2, 2);
    ch.gst_pct.allocate(2, 2), ch.gst_sac_weight.allocate(2, 2);
    ch.gst_ncellsingrid[1] = 2, ch.gst_ncellsingrid[2] = 1;
    const int link[3][3] = {{}, {0, 1, 2}, {0, 1, 0}};
    const int node[3][3] = {{}, {0, 1, 1}, {0, 2, 0}};
    const int cell[3][3] = {{}, {0, 1, 1}, {0, 3, 0}};
    const double pct[3][3] = {{}, {0, 0.5, 1.0}, {0, 1.0, 0}};
    for (int c = 1; c <= 2; ++c)
      for (int k = 1; k <= 2; ++k) {
        ch.gst_link[c][k] = link[c][k], ch.gst_node[c][k] = node[c][k];
        ch.gst_gnum[c][k] = cell[c][k], ch.gst_pct[c][k] = pct[c][k];
      }
  }
};

// The weights follow the length of channel in each cell times the cell's share of the channel
// cells' indices: without TOPO_INDEX by length alone (50, 50, 100 of 200 m); with indices 2 and 6
// on cells 1 and 3, the raw weights 1/4 x 1/4, 1/4 x 1/4 and 1/2 x 3/4 normalised to 1/8, 1/8 and
// 3/4. The channel step then shares each step's part of the hour's inflow by them, and never
// gives more than the basin has released.
TEST(SacramentoWeights, LengthAndIndexShareTheInflowAmongTheNodes) {
  process_state_guard guard;
  weight_case w;
  channel_state& ch = w.ms->channel;
  subsurface_state& ss = w.ms->subsurface;
  init_sacramento_weights(*w.ms);
  ASSERT_EQ(run_error.error_code, 0);
  EXPECT_DOUBLE_EQ(ch.gst_sac_weight[1][1], 0.25);
  EXPECT_DOUBLE_EQ(ch.gst_sac_weight[1][2], 0.25);
  EXPECT_DOUBLE_EQ(ch.gst_sac_weight[2][1], 0.5);

  ss.topo_index = 1;
  ss.topo_dex_values[1] = 2.0, ss.topo_dex_values[2] = 99.0, ss.topo_dex_values[3] = 6.0;
  init_sacramento_weights(*w.ms);
  ASSERT_EQ(run_error.error_code, 0);
  EXPECT_DOUBLE_EQ(ss.sac_cell_index[1], 0.25);
  EXPECT_EQ(ss.sac_cell_index[2], 0.0);  // no channel in cell 2
  EXPECT_DOUBLE_EQ(ss.sac_cell_index[3], 0.75);
  EXPECT_DOUBLE_EQ(ch.gst_sac_weight[1][1], 0.125);
  EXPECT_DOUBLE_EQ(ch.gst_sac_weight[1][2], 0.125);
  EXPECT_DOUBLE_EQ(ch.gst_sac_weight[2][1], 0.75);

  ss.sac_discharge = 2.0;     // m3/s
  ss.sac_outflow_left = 100;  // m3 still to give
  EXPECT_DOUBLE_EQ(sacramento_channel_inflow(*w.ms, 30.0), 60.0);
  EXPECT_DOUBLE_EQ(ch.qlat(1, 1), 2.0 * 0.125 / 100.0);
  EXPECT_DOUBLE_EQ(ch.qlat(2, 1), 2.0 * 0.125 / 50.0);
  EXPECT_DOUBLE_EQ(ch.qlat(1, 2), 2.0 * 0.75 / 100.0);
  EXPECT_DOUBLE_EQ(sacramento_channel_inflow(*w.ms, 30.0), 40.0);  // all that is left
  EXPECT_EQ(ss.sac_outflow_left, 0.0);
  EXPECT_EQ(sacramento_channel_inflow(*w.ms, 30.0), 0.0);
  EXPECT_DOUBLE_EQ(ss.sac_vol_delivered, 100.0);
}

// An entry that holds no channel length in its cell (a share of 0) takes no part of the inflow;
// the others share it by their lengths. A table with no channel length at all stops the run.
TEST(SacramentoWeights, AnEntryWithoutChannelLengthTakesNoShare) {
  process_state_guard guard;
  weight_case w;
  channel_state& ch = w.ms->channel;
  ch.gst_pct[1][1] = 0.0;
  init_sacramento_weights(*w.ms);
  ASSERT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ch.gst_sac_weight[1][1], 0.0);
  EXPECT_DOUBLE_EQ(ch.gst_sac_weight[1][2], 50.0 / 150.0);
  EXPECT_DOUBLE_EQ(ch.gst_sac_weight[2][1], 100.0 / 150.0);

  ch.gst_pct[1][2] = ch.gst_pct[2][1] = 0.0;
  torva_test::stdout_capture capture;
  init_sacramento_weights(*w.ms);
  EXPECT_EQ(capture.stop(),
            "Problem, the channel cells of the grid-stream file hold no channel length\n"
            "Program terminated\n");
  EXPECT_EQ(run_error.error_code, error_code_own_message);
}

TEST(SacramentoWeights, ChannelCellsWithoutIndexStopTheRun) {
  process_state_guard guard;
  weight_case w;
  w.ms->subsurface.topo_index = 1;  // every index 0
  torva_test::stdout_capture capture;
  init_sacramento_weights(*w.ms);
  EXPECT_EQ(capture.stop(),
            "Problem, sum of the topographic indices in all channel-containing grids is <=0.0\n"
            "Program terminated\n");
  EXPECT_EQ(run_error.error_code, error_code_own_message);
}

}  // namespace
