// Groundwater into tile drains: the inflow of a pipe under a water table against Hooghoudt's
// formula worked out by hand with Moody's equivalent depth (both forms) and with the series
// form, the drain on the aquifer bottom, and the pipes that take nothing or stop the run.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "channel/pipe/tile_exchange.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "support/test_support.h"

using torva_test::stdout_capture;

namespace {

// One superlink of one 50 m pipe (D = 0.1 m, K = 2.5 cm/h, spacing 20 m) buried 1.2 m under
// cells of ground 10 m, half of it in cell 1 and half in cell 2, with 2 cm of water in it.
class TileExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    process_state_.reset();
    ms_ = std::make_unique<model_state>();
    channel_state& ch = ms_->channel;
    superlink_state& sl = ms_->superlink;
    ASSERT_TRUE(sl.num_nodes.allocate(1) && sl.nnodes.allocate(1));
    sl.num_nodes[1] = sl.nnodes[1] = 1;
    for (raw_array2d<double>* a : {&sl.slink_node_Zinv, &sl.slink_node_depth, &sl.diameter,
                                   &sl.superlink_pipe_conductivity, &sl.drain_spacing, &sl.dx})
      ASSERT_TRUE(a->allocate(2, 1));
    ASSERT_TRUE(sl.file_cnode.allocate(2, 1));
    sl.file_cnode[1][1] = 1;
    sl.file_cnode[2][1] = 2;
    ASSERT_TRUE(ch.superlink_node_gnum.allocate(2, 1));
    ASSERT_TRUE(ch.superlink_tile_flow.allocate(2, 1));
    ASSERT_TRUE(ch.Q_tile_grid.allocate(2));
    sl.slink_node_Zinv[1][1] = sl.slink_node_Zinv[2][1] = 8.8;
    sl.slink_node_depth[1][1] = sl.slink_node_depth[2][1] = 0.02;
    ch.superlink_node_gnum[1][1] = 1;
    ch.superlink_node_gnum[2][1] = 2;
    sl.diameter[1][1] = 0.1;
    sl.superlink_pipe_conductivity[1][1] = 2.5;
    sl.drain_spacing[1][1] = 20.0;
    sl.dx[1][1] = 50.0;
    sl.pipe_cell_count = 2;
    ASSERT_TRUE(sl.gpi_ncellsingrid.allocate(2));
    for (raw_array2d<int>* a : {&sl.gpi_link, &sl.gpi_node, &sl.gpi_gnum})
      ASSERT_TRUE(a->allocate(2, 1));
    ASSERT_TRUE(sl.gpi_pct.allocate(2, 1));
    for (int p = 1; p <= 2; ++p) {
      sl.gpi_ncellsingrid[p] = 1;
      sl.gpi_link[p][1] = 1;
      sl.gpi_node[p][1] = 1;
      sl.gpi_gnum[p][1] = p;
      sl.gpi_pct[p][1] = 0.5;
    }
  }
  int exchange(double head1, double head2, double bottom, bool drainmod) {
    elev_[1] = elev_[2] = 10.0;
    gw_[1] = head1;
    gw_[2] = head2;
    bottom_[1] = bottom_[2] = bottom;
    tile_ground ground{elev_, gw_, bottom_};
    stdout_capture capture;
    const int result = gw_tile_exchange(ms_->superlink, ms_->channel, ground, drainmod);
    out_ = capture.stop();
    return result;
  }
  torva_test::process_state_guard process_state_;
  std::unique_ptr<model_state> ms_;
  double elev_[3] = {}, gw_[3] = {}, bottom_[3] = {};
  std::string out_;
};

TEST_F(TileExchange, InflowFollowsHooghoudtsFormulaWorkedByHand) {
  // Pipe water level 8.82 m; head 9.5 m in cell 1 (h = 0.68 m), 8.5 m in cell 2 (below the pipe).
  // The drain lies d = 1.8 m above the bottom at 7.0 m; d / L = 0.09, r = 0.05 m.
  ASSERT_EQ(exchange(9.5, 8.5, 7.0, true), 1) << out_;
  const double K = 0.025, L = 20.0, h = 0.68, d = 1.8, D = 0.1;
  const double de =
      d / (1.0 + 0.09 * (8.0 / 3.14 * std::log(1.8 / 0.05) - (3.55 - 1.6 * 0.09 + 2.0 * 0.01)));
  EXPECT_NEAR(de, 1.8 / (1.0 + 0.09 * (2.5477707 * 3.5835189 - 3.426)), 1e-6);
  const double q = K * (8.0 * de * h + 4.0 * h * h) / (L * L) * 3.14 * D / 3600.0;
  const double Q = q * 0.5 * 50.0;
  EXPECT_NEAR(ms_->channel.Q_tile_grid[1], Q, 1e-15);
  EXPECT_EQ(ms_->channel.Q_tile_grid[2], 0.0);
  EXPECT_NEAR(ms_->channel.superlink_tile_flow[1][1], Q, 1e-15);

  // Far above the bottom (d / L >= 0.3): Moody's closed form.
  SetUp();
  ASSERT_EQ(exchange(9.5, 8.5, 0.0, true), 1);
  const double de_far = 3.14 * L / (8.0 * (std::log(L / 0.05) - 1.15));
  EXPECT_NEAR(ms_->channel.Q_tile_grid[1],
              K * (8.0 * de_far * h + 4.0 * h * h) / (L * L) * 3.14 * D / 3600.0 * 25.0, 1e-15);

  // The series form of the equivalent depth: L' = 10 m, x = 6.28 d / L'.
  SetUp();
  ASSERT_EQ(exchange(9.5, 8.5, 7.0, false), 1);
  const double x = 6.28 * 1.8 / 10.0;
  double F = 0.0;
  for (double k : {2.0, 6.0, 10.0}) F += 4.0 * std::exp(-k * x) / (1.0 - std::exp(-k * x));
  const double de_series = 3.14 * 0.125 * 10.0 / (std::log(10.0 / (3.14 * 0.05)) + F);
  EXPECT_NEAR(ms_->channel.Q_tile_grid[1],
              (2.0 * h * de_series + h * h) * (K / 10.0) * 2.0 / 3600.0 * 25.0, 1e-15);
}

TEST_F(TileExchange, DrainOnTheBottomBelowTheTableAndWithoutConductivity) {
  // On the aquifer bottom (d = 0) the equivalent depth is 0, not a number that is none.
  ASSERT_EQ(exchange(9.5, 9.5, 8.8, true), 1) << out_;
  const double q = 0.025 * 4.0 * 0.68 * 0.68 / 400.0 * 3.14 * 0.1 / 3600.0;
  EXPECT_NEAR(ms_->channel.Q_tile_grid[1], q * 25.0, 1e-15);
  EXPECT_NEAR(ms_->channel.superlink_tile_flow[1][1], q * 50.0, 1e-15);
  EXPECT_EQ(tile_equivalent_depth(0.0, 20.0, 0.05, true), 0.0);
  EXPECT_EQ(tile_equivalent_depth(0.0, 20.0, 0.05, false), 0.0);

  // A table at or below the pipe's water: nothing, and the flows are zeroed.
  EXPECT_EQ(exchange(8.82, 8.0, 7.0, true), 0);
  EXPECT_EQ(ms_->channel.superlink_tile_flow[1][1], 0.0);
  // No conductivity: nothing even under a high table.
  ms_->superlink.superlink_pipe_conductivity[1][1] = 0.0;
  ASSERT_EQ(exchange(9.9, 9.9, 7.0, true), 1);
  EXPECT_EQ(ms_->channel.superlink_tile_flow[1][1], 0.0);
  EXPECT_EQ(run_error.error_code, 0);

  // A pipe below the aquifer bottom stops the run.
  ms_->superlink.superlink_pipe_conductivity[1][1] = 2.5;
  ASSERT_EQ(exchange(9.9, 9.9, 9.0, true), 1);
  EXPECT_EQ(run_error.error_code, err_pipe_invert_below_aquifer);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(out_.find("Node elevation must be above bottom of groundwater media: Link 1 Node 1"),
            std::string::npos)
      << out_;
}

}  // namespace
