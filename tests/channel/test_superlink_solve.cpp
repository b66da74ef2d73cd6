// The implicit network solve: its volume balance closes at every step on a network of two
// superlinks filling up, a single pipe at steady inflow settles at Manning's normal depth
// (computed here by bisection, independently of the solve) whatever its segment length, on mild
// and on steep beds, a grate inlet never takes more than the water on its cell, and the sparse
// solve of the junction system gives the heads a dense LU gives.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "channel/channel_steps.h"
#include "channel/pipe/pipe_sections.h"
#include "channel/pipe/superlink_solve.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/solvers.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/surface_inputs.h"
#include "support/test_support.h"

using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// Manning's normal depth of a circular pipe, by bisection on the circular segment.
double manning_normal_depth(double D, double n, double S, double Q) {
  double lo = 0.0, hi = D;
  for (int i = 0; i < 200; ++i) {
    const double y = 0.5 * (lo + hi);
    const double theta = std::acos(1.0 - 2.0 * y / D);  // half the wetted angle
    const double A = 0.25 * D * D * (theta - std::sin(theta) * std::cos(theta));
    const double P = theta * D;
    const double q = A * std::pow(A / P, 2.0 / 3.0) * std::sqrt(S) / n;
    (q > Q ? hi : lo) = y;
  }
  return 0.5 * (lo + hi);
}

class SuperlinkSolve : public ::testing::Test {
 protected:
  void SetUp() override {
    process_state_.reset();
    ms_ = std::make_unique<model_state>();
    ms_->rows = ms_->cols = 1;
    ASSERT_TRUE(ms_->index_map.allocate(1, 1));
    ms_->index_map[1][1] = 1;
    ms_->cell_count = 1;
    ASSERT_TRUE(depth_.allocate(1));
  }
  // Reads the network and sets up its solve; the first superlink's first pipe is fed `feed`
  // m3/s as tile inflow at its upstream junction.
  void build(const std::string& network, double feed) {
    write_file(dir_.file("net.slk"), network);
    file_handle net, none;
    ASSERT_TRUE(file_handle_open(net, "net.slk", "r"));
    stdout_capture capture;
    ASSERT_EQ(read_superlink_file(*ms_, net, none), 0);
    file_handle_close(net);
    channel_state& ch = ms_->channel;
    ASSERT_TRUE(ch.superlink_tile_flow.allocate(ms_->superlink.node_rows, ch.superlink_count));
    ch.superlink_leaky = 1;
    ch.superlink_tile_flow[1][1] = feed;
    ASSERT_TRUE(superlink_solve_init(ms_->superlink, ch));
    capture.stop();
  }
  // One step of dt seconds; the step's storage change must be its net inflow to round-off.
  void step(double dt) {
    superlink_surface surface;
    surface.ov_depth = depth_.data();
    surface.cell_area = 900.0;
    double spilled = 0.0;
    ASSERT_EQ(superlink_solve(ms_->superlink, ms_->channel, surface, dt, spilled), 0);
    const superlink_state& sl = ms_->superlink;
    ASSERT_NEAR(sl.call_balance_error, 0.0, 1e-9 + 1e-12 * sl.storage)
        << "storage " << sl.storage << " in " << sl.call_inflow << " out " << sl.call_outflow;
    // The sweeps and the junction system solve the linearised equations exactly.
    ASSERT_LT(sl.sweep_residual, 1e-12) << "storage " << sl.storage;
    inflow_ += sl.call_inflow;
    outflow_ += sl.call_outflow;
  }
  torva_test::process_state_guard process_state_;
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
  raw_array1d<double> depth_;
  double inflow_ = 0.0, outflow_ = 0.0;
};

// Two superlinks fed 0.05 m3/s at the head of the first, through a manhole into the second,
// out at a free outfall. The water stored in the pipes, the end half-segments with it, is what
// came in less what left, at every step and over the run.
TEST_F(SuperlinkSolve, NetworkVolumeBalanceClosesAtEveryStep) {
  build(
      "CONNECT 1 1 2\nCONNECT 2 2 3\n"
      "SJUNC 1 13 10 1.0 0 1 1 0 0\nSJUNC 2 12 9.4 1.5 0 1 1 0 0\nSJUNC 3 11 8.8 0 888 1 1 0 0\n"
      "SLINK 1 2\nNODE 1 13 10 0 0 1 1 0 0\nNODE 2 12.5 9.7 0 0 1 1 0 0\n"
      "NODE 3 12 9.4 0 0 1 1 0 0\n"
      "PIPE 1 1 0.4 0 0.003 0.013 100 0 0\nPIPE 2 1 0.4 0 0.003 0.013 100 0 0\n"
      "SLINK 2 3\nNODE 1 12 9.4 0 0 1 1 0 0\nNODE 2 11.8 9.2 0 0 1 1 0 0\n"
      "NODE 3 11.4 9.0 0 0 1 1 0 0\nNODE 4 11 8.8 0 0 1 1 0 0\n"
      "PIPE 1 1 0.5 0 0.002 0.013 100 0 0\nPIPE 2 1 0.5 0 0.002 0.013 100 0 0\n"
      "PIPE 3 3 0.5 0.6 0.002 0.013 100 0 0\n",
      0.05);
  const double start = ms_->superlink.storage;
  for (int k = 0; k < 120; ++k) step(30.0);
  const superlink_state& sl = ms_->superlink;
  EXPECT_GT(sl.storage - start, 10.0);  // the pipes filled
  EXPECT_GT(outflow_, 0.0);             // and spill at the outfall
  EXPECT_NEAR(inflow_, 0.05 * 30.0 * 120, 1e-9);
  EXPECT_NEAR(sl.storage - start, inflow_ - outflow_ + sl.clip_volume, 1e-8);
}

// One mild pipe of 800 m in eight 100 m segments, or forty of 20 m, at a steady inflow: upstream
// of the drawdown at the outfall the depth is Manning's normal depth, the flow the inflow.
TEST_F(SuperlinkSolve, SinglePipeAtSteadyInflowReachesNormalDepth) {
  struct pipe_case {
    int segments;
    double slope;
    double n;
  };
  const pipe_case cases[] = {{8, 0.002, 0.011}, {8, 0.003, 0.013}, {40, 0.001, 0.010}};
  for (const pipe_case& k : cases) {
    SetUp();
    const double length = 800.0 / k.segments;
    std::string net = "CONNECT 1 1 2\nSJUNC 1 20 10 2.0 0 1 1 0 0\n";
    const double bottom = 10.0 - 800.0 * k.slope;
    net += "SJUNC 2 15 " + std::to_string(bottom) + " 0 888 1 1 0 0\n";
    net += "SLINK 1 " + std::to_string(k.segments) + "\n";
    for (int i = 1; i <= k.segments + 1; ++i)
      net += "NODE " + std::to_string(i) + " 20 " +
             std::to_string(10.0 - (i - 1) * length * k.slope) + " 0 0 1 1 0 0\n";
    for (int i = 1; i <= k.segments; ++i)
      net += "PIPE " + std::to_string(i) + " 1 0.3 0 " + std::to_string(k.slope) + " " +
             std::to_string(k.n) + " " + std::to_string(length) + " 0 0\n";
    const double Q = 0.03;
    build(net, Q);
    for (int s = 0; s < 400; ++s) step(60.0);
    const superlink_state& sl = ms_->superlink;
    const double yn = manning_normal_depth(0.3, k.n, k.slope, Q);
    // The upper three eighths of the pipe: the outfall's drawdown, which fades from segment to
    // segment upstream, does not reach them.
    for (int i = 1; i <= k.segments * 3 / 8; ++i) {
      EXPECT_NEAR(sl.Q[i][1], Q, 1e-6 * Q) << k.segments << " segment " << i;
      EXPECT_NEAR(sl.slink_node_depth[i][1], yn, 0.005 * yn)
          << k.segments << " segments, slope " << k.slope << ", node " << i;
    }
  }
}

// A grate takes at most the water on its cell in one step, and nothing from a dry cell.
TEST_F(SuperlinkSolve, GrateInletTakesAtMostTheWaterOnItsCell) {
  build(
      "CONNECT 1 1 2\nSJUNC 1 13 10 1.0 3 1 1 2.0 1.0\nSJUNC 2 11 8.8 0 888 1 1 0 0\n"
      "SLINK 1 1\nNODE 1 13 10 0 0 1 1 0 0\nNODE 2 11 8.8 0 0 1 1 0 0\n"
      "PIPE 1 1 0.6 0 0.012 0.013 100 0 0\n",
      0.0);
  ms_->channel.superlink_junc_gnum.allocate(2);
  ms_->channel.superlink_junc_gnum[1] = 1;
  // 0.3 m on a 900 m2 cell: three large grates could take far more than its 270 m3 in 600 s.
  depth_[1] = 0.3;
  step(600.0);
  EXPECT_NEAR(inflow_, 270.0, 1e-9);
  EXPECT_NEAR(depth_[1], 0.0, 1e-12);
  // A film of 1e-8 m or less is left alone.
  depth_[1] = 1e-8;
  const double before = inflow_;
  step(60.0);
  EXPECT_EQ(inflow_, before);
  EXPECT_EQ(depth_[1], 1e-8);
  // Between, the weir flow of three grates: 0.05 m of water, h = 0.164 ft.
  depth_[1] = 0.05;
  step(1.0);
  const double h = 3.28 * 0.05;
  const double weir = 3.0 * (3.0 * 3.28 * 2.0) * std::pow(h, 1.5);
  EXPECT_NEAR(inflow_ - before, 0.02832 * weir * 3.0, 1e-12);
}

}  // namespace

namespace {

// With HIGH_HEAD_RELEASE a junction whose head stands above the ground spills the water above
// it onto its cell, and the network's books count it as returned to the surface. Tile water fed
// to that junction still enters the network: the aquifer has already given it up.
TEST_F(SuperlinkSolve, HeadAboveTheGroundSpillsOntoTheCellWithHighHeadRelease) {
  for (const double feed : {0.0, 0.05}) {
    SCOPED_TRACE(feed);
    SetUp();
    build(
        "CONNECT 1 1 2\nSJUNC 1 13 10 1.5 1 1 1 0.5 0.3\nSJUNC 2 11 8.8 0 888 1 1 0 0\n"
        "SLINK 1 1\nNODE 1 13 10 0 0 1 1 0 0\nNODE 2 11 8.8 0 0 1 1 0 0\n"
        "PIPE 1 1 0.6 0 0.012 0.013 100 0 0\n",
        feed);
    ASSERT_TRUE(ms_->channel.superlink_junc_gnum.allocate(2));
    ms_->channel.superlink_junc_gnum[1] = 1;
    superlink_state& sl = ms_->superlink;
    sl.sjunc_head[1] = 13.4;  // 0.4 m above the ground: 0.6 m3 over the manhole's 1.5 m2
    superlink_surface surface;
    surface.ov_depth = depth_.data();
    surface.cell_area = 900.0;
    surface.high_head_release = 1;
    double spilled = 0.0;
    ASSERT_EQ(superlink_solve(sl, ms_->channel, surface, 10.0, spilled), 0);
    EXPECT_NEAR(spilled, 0.6, 1e-12);
    EXPECT_NEAR(depth_[1], 0.6 / 900.0, 1e-15);
    EXPECT_NEAR(sl.call_tile_inflow, feed * 10.0, 1e-12);
    EXPECT_NEAR(sl.call_balance_error, 0.0, 1e-9);
    EXPECT_LT(sl.sjunc_head[1], 13.0);
  }
}

// Leaky pipes under the simulated groundwater: the step lets the water table drain into the
// tile, and the aquifer pays for what the pipes took: a free cell through the sink of its next
// groundwater step, a cell whose head is held through its held head at once.
TEST_F(SuperlinkSolve, TileDrainsUnderSimulatedGroundwaterTakeTheirWaterFromTheAquifer) {
  write_file(dir_.file("net.slk"),
             "CONNECT 1 1 2\nSJUNC 1 10 7 1 0 1 1 0 0\nSJUNC 2 9 6 1 888 1 1 0 0\n"
             "SLINK 1 1\nNODE 1 10 7 0 0 1 1 0 0\nNODE 2 9 6 0 0 1 1 0 0\n"
             "PIPE 1 1 0.1 0 0.01 0.013 100 2.5 20\n");
  write_file(dir_.file("net.gpi"),
             "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 1 1\nNUMPIPES 1\nSPIPE 1 1 1.0\n");
  for (const unsigned char held : {0, 1}) {
    SCOPED_TRACE(static_cast<int>(held));
    SetUp();
    file_handle net, gpi;
    ASSERT_TRUE(file_handle_open(net, "net.slk", "r"));
    ASSERT_TRUE(file_handle_open(gpi, "net.gpi", "r"));
    model_state& ms = *ms_;
    copy_text(ms.input.names.storm_sewer, 1024, "net.slk");
    ms.channel.storm_sewer = 1;
    ms.subsurface.gw_simulation = 1;
    ms.gridsize = 30.0;
    ASSERT_TRUE(ms.cell_elev.allocate(1));
    ASSERT_TRUE(ms.subsurface.elevgw.allocate(1));
    ASSERT_TRUE(ms.subsurface.bottom_elev.allocate(1));
    ASSERT_TRUE(ms.groundwater.held.allocate(1));
    ASSERT_TRUE(ms.groundwater.extra_sink.allocate(1));
    ASSERT_TRUE(ms.overland.ov_depth.allocate(1));
    ms.cell_elev[1] = 10.0;
    ms.subsurface.elevgw[1] = 9.0;  // 2.5 m above the pipe's mean invert
    ms.subsurface.bottom_elev[1] = 0.0;
    ms.groundwater.held[1] = held;
    ms.groundwater.ready = 1;
    stdout_capture capture;
    ASSERT_EQ(read_superlink_file(ms, net, gpi), 0);
    map_tile_pipe_grid(ms);
    superlink_setup(ms);
    ms.current_time = 100.0;
    ms.time_tolerance = 1e-8;
    ms.superlink_clock.last = 100.0 - 60.0 / 86400.0;
    ms.superlink_clock.next = 100.0;
    superlink_step(ms);
    const std::string out = capture.stop();
    ASSERT_EQ(run_error.error_fatal, 0) << out;

    const run_totals& t = ms.output.totals;
    const double drained = t.run_vol_gw_to_tile;
    EXPECT_GT(drained, 0.0);
    EXPECT_NEAR(ms.channel.vol_tile_grid[1], drained, 1e-12 * drained);
    EXPECT_EQ(ms.channel.Q_tile_grid[1], 0.0);
    if (held) {
      EXPECT_EQ(ms.groundwater.extra_sink[1], 0.0);
      EXPECT_NEAR(t.run_vol_gw_head_flux, drained, 1e-12 * drained);
      EXPECT_NEAR(t.run_vol_gw_inputs, -drained, 1e-12 * drained);
    } else {
      EXPECT_NEAR(ms.groundwater.extra_sink[1] * 900.0, drained, 1e-12 * drained);
      EXPECT_EQ(t.run_vol_gw_head_flux, 0.0);
      EXPECT_EQ(t.run_vol_gw_inputs, 0.0);
    }
    // The pipes hold or have passed on what the tile took.
    const superlink_state& sl = ms.superlink;
    EXPECT_NEAR(sl.storage - sl.init_storage + t.run_vol_drain_lost, drained + t.run_vol_drain_made,
                1e-9);
  }
}

}  // namespace

namespace {

// Still water stays still: a level pipe whose file gives a slope of 1 % (the pipe's own
// inverts say 0) under a level water surface neither starts to flow nor moves its water.
TEST_F(SuperlinkSolve, LevelWaterInALevelPipeStaysStillWhateverTheSlopeOnFile) {
  build(
      "CONNECT 1 1 2\nSJUNC 1 13 10 1.0 0 1 1 0 0\nSJUNC 2 13 10 1.0 0 1 1 0 0\n"
      "SLINK 1 2\nNODE 1 13 10 0 0 1 1 0 0\nNODE 2 13 10 0 0 1 1 0 0\nNODE 3 13 10 0 0 1 1 0 0\n"
      "PIPE 1 1 0.4 0 0.01 0.013 100 0 0\nPIPE 2 1 0.4 0 0.01 0.013 100 0 0\n",
      0.0);
  superlink_state& sl = ms_->superlink;
  sl.sjunc_head[1] = sl.sjunc_head[2] = 10.2;
  for (int i = 1; i <= 3; ++i) sl.slink_node_depth[i][1] = 0.2;
  const double start = superlink_stored_volume(sl, ms_->channel);
  for (int k = 0; k < 10; ++k) step(60.0);
  for (int i = 1; i <= 2; ++i) EXPECT_NEAR(sl.Q[i][1], 0.0, 1e-12) << i;
  for (int i = 1; i <= 3; ++i) EXPECT_NEAR(sl.slink_node_depth[i][1], 0.2, 1e-12) << i;
  EXPECT_NEAR(sl.sjunc_head[1], 10.2, 1e-12);
  EXPECT_NEAR(sl.storage, start, 1e-9);
}

}  // namespace

namespace {

// A random network of `junctions` superjunctions: each junction but the first drains into a
// random junction nearer the outfall, some junctions also into a second one (loops), the first
// into a free outfall. Every superlink is two or three circular pipes of random size falling
// 1.5 m per level of the tree.
std::string random_network(int junctions, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<int> level(junctions + 2, 0);
  std::vector<std::pair<int, int>> links;  // (upstream, downstream)
  for (int j = 2; j <= junctions; ++j) {
    const int parent = 1 + static_cast<int>(rng() % static_cast<unsigned>(j - 1));
    level[j] = level[parent] + 1;
    links.emplace_back(j, parent);
  }
  for (int j = 3; j <= junctions; ++j) {
    if (rng() % 4 != 0) continue;
    const int other = 1 + static_cast<int>(rng() % static_cast<unsigned>(j - 1));
    if (level[other] < level[j] && other != links[j - 2].second) links.emplace_back(j, other);
  }
  const int outfall = junctions + 1;
  links.emplace_back(1, outfall);
  auto bottom = [&](int j) { return j == outfall ? 0.0 : 2.0 + 1.5 * level[j]; };
  std::string t;
  char line[256];
  for (std::size_t s = 0; s < links.size(); ++s) {
    std::snprintf(line, sizeof line, "CONNECT %zu %d %d\n", s + 1, links[s].first, links[s].second);
    t += line;
  }
  for (int j = 1; j <= outfall; ++j) {
    std::snprintf(line, sizeof line, "SJUNC %d %.3f %.3f %.2f %d 1 1 0 0\n", j, bottom(j) + 3.0,
                  bottom(j), j == outfall ? 0.0 : 0.5 + 0.1 * static_cast<double>(rng() % 20),
                  j == outfall ? 888 : 0);
    t += line;
  }
  for (std::size_t s = 0; s < links.size(); ++s) {
    const int pipes = 2 + static_cast<int>(rng() % 2);
    const double top = bottom(links[s].first), low = bottom(links[s].second);
    const double length = 40.0 + static_cast<double>(rng() % 60);
    const double diameter = 0.3 + 0.1 * static_cast<double>(rng() % 5);
    std::snprintf(line, sizeof line, "SLINK %zu %d\n", s + 1, pipes);
    t += line;
    for (int k = 1; k <= pipes + 1; ++k) {
      const double z = top + (low - top) * (k - 1) / pipes;
      std::snprintf(line, sizeof line, "NODE %d %.4f %.4f 0 0 1 1 0 0\n", k, z + 3.0, z);
      t += line;
    }
    for (int k = 1; k <= pipes; ++k) {
      std::snprintf(line, sizeof line, "PIPE %d 1 %.2f 0 %.6f 0.013 %.1f 0 0\n", k, diameter,
                    (top - low) / (pipes * length), length);
      t += line;
    }
  }
  return t;
}

// The sparse junction solve gives the heads a dense LU with partial pivoting gives for the same
// system, to round-off, at every step of a random looped network filling and draining.
TEST_F(SuperlinkSolve, SparseJunctionSolveMatchesADenseSolve) {
  for (unsigned seed : {7u, 2024u}) {
    SetUp();
    build(random_network(60, seed), 0.0);
    superlink_state& sl = ms_->superlink;
    channel_state& ch = ms_->channel;
    const int J = ch.superlink_junction_count;
    ASSERT_GT(sl.jsys_entries, J);  // the junctions are coupled
    for (int s = 1; s <= ch.superlink_count; s += 3) ch.superlink_tile_flow[1][s] = 0.004;
    nr_matrix dense(J, J);
    std::vector<int> perm(J + 1);
    std::vector<double> heads(J + 1);
    double worst = 0.0;
    for (int k = 0; k < 40; ++k) {
      if (k == 25)  // the feed stops: the network drains
        for (int s = 1; s <= ch.superlink_count; ++s) ch.superlink_tile_flow[1][s] = 0.0;
      step(30.0);
      for (int i = 1; i <= J; ++i)
        for (int j = 1; j <= J; ++j) dense[i][j] = 0.0;
      for (int col = 0; col < J; ++col)
        for (int e = sl.jsys_start[col]; e < sl.jsys_start[col + 1]; ++e)
          dense[sl.jsys_row[e] + 1][col + 1] = sl.jsys_value[e];
      for (int j = 1; j <= J; ++j) heads[j] = sl.rhs[j];
      double parity = 0.0;
      ASSERT_EQ(ludcmp(dense.rows(), J, perm.data(), parity), 0);
      lubksb(dense.rows(), J, perm.data(), heads.data());
      for (int j = 1; j <= J; ++j) {
        ASSERT_NEAR(sl.H_new[j], heads[j], 1e-10 * (1.0 + std::fabs(heads[j])))
            << "seed " << seed << " step " << k << " junction " << j;
        worst = std::fmax(worst, std::fabs(sl.H_new[j] - heads[j]));
      }
    }
    // The heads rose above the bottoms: the comparison saw a working network.
    double above = 0.0;
    for (int j = 1; j <= J; ++j) above = std::fmax(above, sl.sjunc_head[j] - sl.junc_bottom[j]);
    EXPECT_GT(above, 0.01) << "seed " << seed;
    EXPECT_GT(outflow_, 0.0);
  }
}

}  // namespace

namespace {

// Steep pipes: the normal depth lies below the critical depth, the flow is supercritical and the
// free outfall holds the last node at the normal depth. At a steady inflow the pipe settles at
// Manning's normal depth along its length, flows equal to the inflow, whatever its segments.
TEST_F(SuperlinkSolve, SteepPipeAtSteadyInflowSettlesAtNormalDepth) {
  struct pipe_case {
    int segments;
    double slope;
    double n;
    double Q;
  };
  const pipe_case cases[] = {{8, 0.02, 0.013, 0.03},
                             {8, 0.05, 0.011, 0.05},
                             {40, 0.01, 0.010, 0.03},
                             {4, 0.08, 0.013, 0.08}};
  for (const pipe_case& k : cases) {
    SetUp();
    const double length = 800.0 / k.segments;
    const double top = 10.0 + 800.0 * k.slope;
    std::string net = "CONNECT 1 1 2\nSJUNC 1 " + std::to_string(top + 10.0) + " " +
                      std::to_string(top) + " 2.0 0 1 1 0 0\n";
    net += "SJUNC 2 15 10 0 888 1 1 0 0\n";
    net += "SLINK 1 " + std::to_string(k.segments) + "\n";
    for (int i = 1; i <= k.segments + 1; ++i)
      net += "NODE " + std::to_string(i) + " " + std::to_string(top + 10.0) + " " +
             std::to_string(top - (i - 1) * length * k.slope) + " 0 0 1 1 0 0\n";
    for (int i = 1; i <= k.segments; ++i)
      net += "PIPE " + std::to_string(i) + " 1 0.3 0 " + std::to_string(k.slope) + " " +
             std::to_string(k.n) + " " + std::to_string(length) + " 0 0\n";
    build(net, k.Q);
    for (int s = 0; s < 400; ++s) step(60.0);
    const superlink_state& sl = ms_->superlink;
    const double yn = manning_normal_depth(0.3, k.n, k.slope, k.Q);
    // Every node, the outfall's with them, at the normal depth; every segment carries the inflow.
    for (int i = 1; i <= k.segments + 1; ++i)
      EXPECT_NEAR(sl.slink_node_depth[i][1], yn, 0.005 * yn)
          << k.segments << " segments, slope " << k.slope << ", node " << i;
    for (int i = 1; i <= k.segments; ++i)
      EXPECT_NEAR(sl.Q[i][1], k.Q, 1e-6 * k.Q) << k.segments << " segment " << i;
    // The flow is supercritical: the normal depth lies below the critical depth.
    double yc = 0.0;
    ASSERT_EQ(superlink_crit_calc(pipe_circular, 0.3, 0.0, k.Q, yc), 0);
    EXPECT_LT(yn, 0.9 * yc) << k.slope;
  }
}

}  // namespace
