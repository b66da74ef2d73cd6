// Channel network set-up: a network of three links with a junction read from its channel input
// and grid-stream files and set up, the grid-stream tables tied to the grid, the diagnostics
// files, the checks of node spacing and grid-stream entries, and the orthogonal cell table.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "channel/channel_steps.h"
#include "channel/network_setup.h"
#include "channel_fixture.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "input/read_maps.h"
#include "input/run_files.h"
#include "input/run_parameters.h"
#include "run/sim_clock.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

class NetworkSetupTest : public testing::Test {
 protected:
  void SetUp() override {
    ms_ = std::make_unique<model_state>();
    torva_test::set_channel_watershed(*ms_);
  }

  // Sets the network up from the given files; returns what it printed.
  std::string set_up(const std::string& network = torva_test::channel_network_file,
                     const std::string& grid_stream = torva_test::channel_grid_stream_file) {
    torva_test::open_channel_network(*ms_, dir_, network, grid_stream);
    stdout_capture out;
    setup_channel_network(*ms_);
    return out.stop();
  }

  process_state_guard guard_;
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
};

TEST_F(NetworkSetupTest, ThreeLinksWithAJunctionAreSetUp) {
  const std::string text = set_up();
  ASSERT_EQ(run_error.error_code, 0) << text;
  EXPECT_TRUE(contains(text, "reading channel input data from file net.chn\n"));
  EXPECT_TRUE(contains(text, "Setting up the grid-stream data... done.\n"));
  const channel_state& ch = ms_->channel;
  ASSERT_EQ(ch.chan_link_count, 3);
  EXPECT_EQ(ch.head_link_count, 2);  // links 1 and 2 have no upstream links
  EXPECT_EQ(ch.ndep[3], 2);
  // The state arrays hold every node of every link, zeroed; the channel starts at its bed.
  for (int link = 1; link <= 3; ++link)
    for (int node = 1; node <= ch.nx[link]; ++node) {
      for (const link_node_array<double>* a :
           {&ch.area, &ch.area_old, &ch.conv, &ch.dconv, &ch.topw, &ch.qlat, &ch.chan_depth,
            &ch.yp_max_flood, &ch.stdummy}) {
        ASSERT_TRUE(a->has(link, node));
        EXPECT_EQ((*a)(link, node), 0.0);
      }
      EXPECT_TRUE(ch.con_vect.has(link, node));
      EXPECT_EQ(ch.yp(link, node), ch.bel(link, node));
    }
  EXPECT_EQ(ch.chan_water_on, 0);
  // Grid-stream tables: every entry's cell number and its row and column back in the grid.
  ASSERT_EQ(ch.gst_stream_cells, 5);
  const int rows[] = {0, 1, 2, 1, 3, 3};
  const int cols[] = {0, 1, 1, 3, 1, 2};
  for (int c = 1; c <= 5; ++c)
    for (int k = 1; k <= ch.gst_ncellsingrid[c]; ++k) {
      SCOPED_TRACE("stream cell " + std::to_string(c) + " entry " + std::to_string(k));
      EXPECT_EQ(ch.gst_row[c][k], rows[c]);
      EXPECT_EQ(ch.gst_col[c][k], cols[c]);
      EXPECT_EQ(ch.gst_gnum[c][k], (rows[c] - 1) * 3 + cols[c]);
    }
  EXPECT_EQ(ch.gst_ncellsingrid[5], 3);
  EXPECT_EQ(ch.gst_link[5][3], 2);
  EXPECT_EQ(ch.gst_gnum[5][3], 8);
}

TEST_F(NetworkSetupTest, DiagnosticsFilesListShortLinksAndBedsAboveTheirCells) {
  set_up();
  ASSERT_EQ(run_error.error_code, 0);
  EXPECT_EQ(read_file(dir_.file("short_links.out")), "Links with 1 node:\n2\n");
  // Cell 8 (99.6 m) lies below link 3 node 2 (averaged bed 99.7 m) and link 2 node 1 (100.6 m),
  // in table order; link 3 node 3 (99.5 m) is below its cell.
  EXPECT_EQ(read_file(dir_.file("bad_thalweg.out")),
            "Problem    link    node    thalweg     cell    elev\n"
            "--> problem codes: 0=thalweg>cell elev, 1= difference <0.5, 2= difference<1.0, "
            "3=difference>3.5\n"
            "0        3       2   99.700000   8   99.600000\n"
            "0        2       1   100.600000   8   99.600000\n");
}

TEST_F(NetworkSetupTest, BadThalwegHoldsOnlyItsHeaderWhenEveryBedIsBelowItsCell) {
  ms_->cell_elev[8] = 101.0;
  set_up();
  ASSERT_EQ(run_error.error_code, 0);
  EXPECT_EQ(read_file(dir_.file("bad_thalweg.out")),
            "Problem    link    node    thalweg     cell    elev\n"
            "--> problem codes: 0=thalweg>cell elev, 1= difference <0.5, 2= difference<1.0, "
            "3=difference>3.5\n");
}

TEST_F(NetworkSetupTest, NothingIsSetUpWithoutExplicitRouting) {
  stdout_capture out;
  setup_channel_network(*ms_);
  EXPECT_EQ(out.stop(), "");
  EXPECT_EQ(ms_->channel.chan_link_count, 0);
  EXPECT_TRUE(ms_->channel.area.empty());
}

// The grid-stream tables filled directly (as the reader leaves them), then completed.
class GridStreamTest : public testing::Test {
 protected:
  void SetUp() override {
    ms_ = std::make_unique<model_state>();
    torva_test::set_channel_watershed(*ms_);
    channel_state& ch = ms_->channel;
    ch.stream_cell_on = 1;
    ch.chan_link_count = 3;
    ch.ltype.allocate(3);
    ch.dx.allocate(3);
    ch.nx.allocate(3);
    ch.nx1.allocate(3);
    for (int l = 1; l <= 3; ++l) {
      ch.ltype[l] = 4;
      ch.dx[l] = 30.0;
      ch.nx[l] = 2;
      ch.nx1[l] = 3;
    }
    ch.gst_stream_cells = 2;
    ch.gst_width = 2;
    ch.gst_ncellsingrid.allocate(2);
    ch.gst_link.allocate(2, 2);
    ch.gst_node.allocate(2, 2);
    ch.gst_gnum.allocate(2, 2);
    ch.gst_ncellsingrid[1] = 1;
    ch.gst_ncellsingrid[2] = 2;
    const int entries[][3] = {{1, 1, 5}, {2, 2, 9}, {3, 1, 9}};  // link, node, cell
    const int where[][2] = {{1, 1}, {2, 1}, {2, 2}};             // stream cell, entry
    for (int e = 0; e < 3; ++e) {
      ch.gst_link[where[e][0]][where[e][1]] = entries[e][0];
      ch.gst_node[where[e][0]][where[e][1]] = entries[e][1];
      ch.gst_gnum[where[e][0]][where[e][1]] = entries[e][2];
    }
  }

  std::string run_init() {
    stdout_capture out;
    init_grid_stream(*ms_);
    return out.stop();
  }

  process_state_guard guard_;
  std::unique_ptr<model_state> ms_;
};

TEST_F(GridStreamTest, EntriesGetTheRowAndColumnOfTheirCell) {
  ms_->channel.stream_loss = 1;  // the exchange tables come with stream loss
  run_init();
  const channel_state& ch = ms_->channel;
  ASSERT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ch.gst_row[1][1], 2);
  EXPECT_EQ(ch.gst_col[1][1], 2);
  EXPECT_EQ(ch.gst_row[2][2], 3);
  EXPECT_EQ(ch.gst_col[2][2], 3);
  EXPECT_FALSE(ch.gst_qriv.empty());
  EXPECT_FALSE(ch.gst_qriv_vol.empty());
}

TEST_F(GridStreamTest, NodeSpacingMustBeRealisticExceptForStructuresAndLakes) {
  channel_state& ch = ms_->channel;
  ch.dx[2] = 0.0;
  ch.ltype[2] = 64;  // a structure
  ch.dx[3] = 0.0;
  ch.ltype[3] = 32;  // a lake
  run_init();
  EXPECT_EQ(run_error.error_code, 0);
  ch.ltype[3] = 4;
  ch.dx[3] = 0.00009;
  const std::string text = run_init();
  EXPECT_TRUE(contains(text,
                       "\nYour channel node spacing is 0.000090 in link 3\nYou must specify "
                       "a realistic value.  Program terminated.\n"))
      << text;
  EXPECT_EQ(run_error.error_fatal, 1);
}

TEST_F(GridStreamTest, EntriesOutsideTheNetworkOrTheWatershedStopTheRun) {
  struct bad_entry {
    const char* name;
    int link, node, cell;
    const char* message;
  };
  const bad_entry cases[] = {
      {"link beyond the network", 4, 1, 9, "is LINKNODE 4 1, a link or node"},
      {"node beyond its link", 3, 4, 9, "is LINKNODE 3 4, a link or node"},
      {"no cell", 3, 1, 0, "stream cell 2 lies outside the watershed"},
      {"cell beyond the grid", 3, 1, 10, "stream cell 2 lies outside the watershed"},
  };
  for (const bad_entry& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    guard_.reset();
    channel_state& ch = ms_->channel;
    ch.gst_link[2][2] = c.link;
    ch.gst_node[2][2] = c.node;
    ch.gst_gnum[2][2] = c.cell;
    const std::string text = run_init();
    EXPECT_TRUE(contains(text, c.message)) << text;
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_TRUE(ch.gst_row.empty());
  }
}

// The cell table holds (link, node) for networks of more links than nodes per link: the link
// index never runs into the node extent.
TEST(CellTable, EveryCellWithANodeIsStoredAtItsLinkAndNode) {
  process_state_guard guard;
  raw_array2d<int> index_map;
  index_map.allocate(2, 3);
  const int cells[2][3] = {{1, 2, 3}, {4, 5, 7}};  // 7 lies beyond the 6 cells
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) index_map[r][c] = cells[r - 1][c - 1];
  raw_array1d<int> cell_link;
  raw_array1d<int> cell_node;
  cell_link.allocate(6);
  cell_node.allocate(6);
  // Six links of one node each: cells 1..5 carry node 1 of links 2..6.
  for (int cell = 1; cell <= 5; ++cell) {
    cell_link[cell] = cell + 1;
    cell_node[cell] = 1;
  }
  link_node_array<int> con_vect;
  ASSERT_TRUE(con_vect.allocate_uniform(6, 1));
  stdout_capture out;
  cconnect(6, 2, 3, index_map, cell_node, cell_link, con_vect);
  EXPECT_EQ(out.stop(), "Warning in cconnect, vect>GNUM\n");
  EXPECT_EQ(con_vect(1, 1), 0);
  for (int link = 2; link <= 6; ++link) EXPECT_EQ(con_vect(link, 1), link - 1);
}

// The example watershed's channel network, read and set up as a run reads it: the project, its
// run files, its time parameters and its maps (the set-up is part of the map reading), then the
// initial storage.
TEST(ExampleChannelNetwork, IsReadAndSetUpFromItsProject) {
  process_state_guard guard;
  temp_dir dir;
  const std::string example = std::string(TORVA_SOURCE_DIR) + "/examples/channel/";
  for (const char* name : {"channel.prj", "channel.chn", "channel.gst", "channel_hyd_locations.txt",
                           "channel_mask.asc", "channel_elev.asc", "channel_conductivity.asc",
                           "channel_capillary.asc", "channel_porosity.asc", "channel_moisture.asc"})
    write_file(dir.file(name), read_file(example + name));
  auto ms = std::make_unique<model_state>();
  stdout_capture out;
  read_run_parameters(*ms, "channel.prj");
  ASSERT_EQ(run_error.error_code, 0);
  open_run_files(*ms);
  ASSERT_EQ(run_error.error_code, 0);
  set_time_parameters(*ms);
  ASSERT_EQ(run_error.error_code, 0);
  read_maps(*ms);
  ASSERT_EQ(run_error.error_code, 0);
  init_channel_storage(*ms);
  const std::string text = out.stop();
  ASSERT_EQ(run_error.error_code, 0) << text;
  EXPECT_TRUE(contains(text, "Channel input data:")) << text;
  EXPECT_TRUE(contains(text, "Setting up the grid-stream data... done.\n"));

  const channel_state& ch = ms->channel;
  ASSERT_EQ(ch.chan_link_count, 3);
  EXPECT_EQ(ch.nx[1], 4);
  EXPECT_EQ(ch.nx[2], 4);
  EXPECT_EQ(ch.nx[3], 6);
  EXPECT_EQ(ch.ndep[3], 2);
  EXPECT_EQ(ch.dslink[1], 3);
  EXPECT_EQ(ch.dslink[2], 3);
  EXPECT_EQ(ch.head_link_count, 2);
  EXPECT_EQ(ch.ltype[3], 8);
  // Every computational node lies under its own cell, 1 m below the land.
  ASSERT_EQ(ch.gst_stream_cells, 14);
  for (int c = 1; c <= 14; ++c) {
    ASSERT_EQ(ch.gst_ncellsingrid[c], 1);
    const int link = ch.gst_link[c][1];
    const int node = ch.gst_node[c][1];
    EXPECT_NEAR(ms->cell_elev[ch.gst_gnum[c][1]] - ch.bel(link, node), 1.0, 1e-9)
        << "link " << link << " node " << node;
  }
  // The outlet node lies under the outlet cell (row 10, column 6).
  EXPECT_EQ(ch.gst_row[14][1], 10);
  EXPECT_EQ(ch.gst_col[14][1], 6);
  EXPECT_EQ(ch.gst_link[14][1], 3);
  EXPECT_EQ(ch.gst_node[14][1], 6);
  // Hydrograph locations, no short link, no bed above its cell; a dry channel at start-up.
  ASSERT_EQ(ch.hyd_location_count, 2);
  EXPECT_EQ(ch.hlink[2], 3);
  EXPECT_EQ(ch.hnode[2], 6);
  EXPECT_EQ(read_file(dir.file("short_links.out")), "Links with 1 node:\n");
  EXPECT_EQ(torva_test::read_file(dir.file("bad_thalweg.out")).find("\n0 "), std::string::npos);
  EXPECT_EQ(ch.chan_vol_initial, 0.0);
  EXPECT_EQ(ch.chan_water_on, 0);
}

}  // namespace
