// The pipe network's readers: the superlink network file with its record checks, the division
// of single pipes into computational segments, the grid-pipe file of the tile drains, and the
// ties of the outlets to channel nodes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "channel/channel_steps.h"
#include "channel/pipe/superlink_input.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// Two superlinks in a row: junction 1 -> 2 (two pipes) and 2 -> 3 (one pipe), 3 an outfall
// that leaves the system. Records are given out of order on purpose.
const std::string two_superlinks =
    "Network of two superlinks\n"
    "CONNECT 2 2 3\n"
    "CONNECT 1 1 2\n"
    "SJUNC 2 9.0 6.5 1.5 0 1 2 0 0\n"
    "SJUNC 1 10.0 8.5 1.0 2 1 1 0.6 0.4\n"
    "SJUNCX 1 99 99 99 0 1 1 0 0\n"
    "sjunc 3 8.0 5.0 0.0 888 2 2 0 0\n"
    "SLINK 1 2\n"
    "NODE 1 10.0 8.5 0 0 1 1 0 0\n"
    "NODE 2 9.5 7.5 0.8 3 1 1 0.5 0.2\n"
    "NODE 3 9.0 6.5 0 0 1 2 0 0\n"
    "PIPE 1 1 0.6 0 0.01 0.013 100 0 0\n"
    "PIPE 2 3 0.5 0.8 -0.01 0.015 100 0 0\n"
    "SLINK 2 1\n"
    "NODE 2 8.0 5.0 0 0 2 2 0 0\n"
    "NODE 1 9.0 6.5 0 0 1 2 0 0\n"
    "PIPE 1 1 0.6 0 0.015 0.013 100 0 0\n";

class SuperlinkInput : public ::testing::Test {
 protected:
  void SetUp() override {
    process_state_.reset();
    ms_ = std::make_unique<model_state>();
    ms_->rows = 2;
    ms_->cols = 2;
    ASSERT_TRUE(ms_->index_map.allocate(2, 2));
    int cell = 0;
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 2; ++c) ms_->index_map[r][c] = ++cell;
    ms_->cell_count = 4;
  }
  // Reads `network` (and `grid_pipe` when given) and returns what was printed.
  std::string read(const std::string& network, const std::string* grid_pipe = nullptr) {
    write_file(dir_.file("net.slk"), network);
    file_handle net, gpi;
    EXPECT_TRUE(file_handle_open(net, "net.slk", "r"));
    if (grid_pipe != nullptr) {
      write_file(dir_.file("net.gpi"), *grid_pipe);
      EXPECT_TRUE(file_handle_open(gpi, "net.gpi", "r"));
    }
    copy_text(ms_->input.names.grid_pipe, 1024, "net.gpi");
    stdout_capture capture;
    result_ = read_superlink_file(*ms_, net, gpi);
    if (run_error.error_code > 0) error_report(run_error);
    file_handle_close(net);
    file_handle_close(gpi);
    return capture.stop();
  }
  torva_test::process_state_guard process_state_;
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
  int result_ = 0;
};

TEST_F(SuperlinkInput, RecordsFillTheirNumberedJunctionsSuperlinksNodesAndPipes) {
  const std::string out = read(two_superlinks);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(result_, 0);
  const channel_state& ch = ms_->channel;
  const superlink_state& sl = ms_->superlink;
  EXPECT_EQ(ch.superlink_junction_count, 3);  // SJUNCX is no SJUNC record; sjunc is one
  EXPECT_EQ(ch.superlink_count, 2);
  EXPECT_EQ(ch.superlink_max_nodes, 2);
  EXPECT_EQ(ch.superlink_dim, 5);
  EXPECT_EQ(ch.superlink_leaky, 0);
  EXPECT_EQ(sl.us_sjunc[1], 1);
  EXPECT_EQ(sl.ds_sjunc[1], 2);
  EXPECT_EQ(sl.us_sjunc[2], 2);
  EXPECT_EQ(sl.ds_sjunc[2], 3);
  EXPECT_DOUBLE_EQ(sl.junc_bottom[1], 8.5);
  EXPECT_DOUBLE_EQ(sl.As_sjunc[2], 1.5);
  EXPECT_DOUBLE_EQ(sl.grate_sidelength_sjunc[1], 0.6);
  EXPECT_EQ(ch.inlet_type[0][1], 2);
  EXPECT_EQ(ch.inlet_type[0][3], 888);
  EXPECT_EQ(sl.bound[1], 0);
  EXPECT_EQ(sl.bound[3], 1);
  EXPECT_EQ(ch.superjunct_i[3], 2);
  // Nodes and pipes by their own numbers, whatever their order in the block.
  EXPECT_EQ(sl.num_nodes[1], 2);
  EXPECT_EQ(ch.superlink_cnodes[2], 1);
  EXPECT_DOUBLE_EQ(sl.slink_node_Zinv[2][1], 7.5);
  EXPECT_DOUBLE_EQ(sl.As[2][1], 0.8);
  EXPECT_EQ(ch.inlet_type[2][1], 3);
  EXPECT_DOUBLE_EQ(sl.slink_node_Zinv[1][2], 6.5);
  EXPECT_DOUBLE_EQ(sl.slink_node_Zinv[2][2], 5.0);
  EXPECT_EQ(sl.sec_type[2][1], 3);
  EXPECT_DOUBLE_EQ(sl.width[2][1], 0.8);
  EXPECT_DOUBLE_EQ(sl.S0[2][1], -0.01);
  EXPECT_DOUBLE_EQ(sl.M_n[2][1], 0.015);
  EXPECT_DOUBLE_EQ(sl.dxc[1][2], 100.0);
  EXPECT_DOUBLE_EQ(sl.us_Zinv[2], 6.5);
  EXPECT_DOUBLE_EQ(sl.ds_Zinv[1], 6.5);
  // Warnings only: a junction whose ground lies less than 2 m above its bottom, a negative slope.
  EXPECT_TRUE(contains(out,
                       "Warning: ground elevation less than 2.0m above node bottom. "
                       "superjunction 1\n"))
      << out;
  EXPECT_TRUE(contains(out, "Warning: pipe slope is negative: node 2 link 1\n")) << out;
  EXPECT_FALSE(contains(out, "superjunction 3\n")) << out;  // 3 m: no warning
}

TEST_F(SuperlinkInput, BadRecordsStopTheRunNamingTheFileAndTheFault) {
  const std::string head = "CONNECT 1 1 2\nSJUNC 1 10 7 1 0 1 1 0 0\nSJUNC 2 9 6 1 888 1 2 0 0\n";
  const std::string nodes = "NODE 1 10 7 0 0 1 1 0 0\nNODE 2 9 6 0 0 1 2 0 0\n";
  const std::string pipe = "PIPE 1 1 0.5 0 0.01 0.013 100 0 0\n";
  struct bad_case {
    std::string file;
    std::string message;
  };
  const std::vector<bad_case> cases = {
      {"Network without records\n",
       "the superlink network file net.slk holds 0 superjunctions (SJUNC) and 0 superlinks"},
      {"CONNECT 2 1 2\nSJUNC 1 10 7 1 0 1 1 0 0\nSJUNC 2 9 6 1 888 1 2 0 0\n",
       "line 1: the CONNECT record names superlink 2, outside 1..1"},
      {"CONNECT 1 1 3\nSJUNC 1 10 7 1 0 1 1 0 0\nSJUNC 2 9 6 1 888 1 2 0 0\n",
       "the CONNECT record names superjunction 3, outside 1..2"},
      {"CONNECT 1 1 2\nSJUNC 1 10 7 1 0 1 1 0 0\nSJUNC 3 9 6 1 888 1 2 0 0\n",
       "line 3: the SJUNC record names superjunction 3, outside 1..2"},
      {"CONNECT 1 1 2\nSJUNC 1 10 7 1 0 1 1 0 0\nSJUNC 1 9 6 1 888 1 2 0 0\n",
       "the SJUNC record repeats a superjunction already given"},
      {"CONNECT 1 1 2\nSJUNC 1 10 7 1 0 1 1 0 0\nSJUNC 2 9 6 1 888 1 2x 0 0\n",
       "the SJUNC record needs its number, ground and bottom elevations"},
      {head + "SLINK 1 1\nNODE 3 10 7 0 0 1 1 0 0\n" + pipe,
       "the NODE record names node 3, outside 1..2"},
      {head + "SLINK 1 1\n" + nodes + "PIPE 2 1 0.5 0 0.01 0.013 100 0 0\n",
       "the PIPE record names pipe 2, outside 1..1"},
      {head + "SLINK 1 1\n" + nodes + "PIPE 1 4 0.5 0 0.01 0.013 100 0 0\n",
       "Error: pipe cross-section type not valid: node 1 link 1.\n"},
      {head + "SLINK 1 1\n" + nodes + "PIPE 1 1 0.5 0 0.01 0 100 0 0\n",
       "Error: pipe roughness value not valid: node 1 link 1.\n"},
      {head + "SLINK 1 1\n" + nodes + "PIPE 1 1 0.5 0 0.01 0.013 100 1 0\n",
       "Error: drain spacing cannot be zero if pipe conductivity greater than zero: node 1 link "
       "1.\n"},
      {head + "SLINK 1 1\n" + nodes + "PIPE 1 1 0.5 0 0.01 0.013 0 0 0\n",
       "Error: pipe length is zero or negative: node 1 link 1.\n"},
      {head + "SLINK 1 1\n" + nodes + "PIPE 1 3 0.5 0 0.01 0.013 100 0 0\n",
       "needs a diameter above 0, a width above 0 for arch and box sections"},
      {head + "SLINK 1 1\nNODE 1 10 7 0 0 1 1 0 0\n" + pipe,
       "gives no NODE record for node 2 of superlink 1"},
      {head + "SLINK 1 1\n" + nodes + "Comment\n" + pipe,
       "gives no PIPE record for pipe 1 of superlink 1"},
      {head, "gives no SLINK record for superlink 1"},
      {"CONNECT 1 1 2\nSJUNC 1 10 7 1 0 1 1 0 0\nSJUNC 2 9 6 1 999 1 2 0 0\nSLINK 1 1\n" + nodes +
           pipe,
       "is an outlet onto the channel network (inlet type 999), but the project routes no "
       "channels"},
  };
  for (const bad_case& k : cases) {
    SetUp();
    const std::string out = read(k.file);
    EXPECT_EQ(run_error.error_fatal, 1) << k.file;
    EXPECT_NE(result_, 0) << k.file;
    EXPECT_TRUE(contains(out, k.message)) << k.file << "\n--- printed:\n" << out;
  }
}

TEST(PipeSegments, SinglePipesDivideSymmetricallyInStagesFromBothEnds) {
  struct length_case {
    double length;
    std::vector<double> segments;
  };
  const std::vector<length_case> cases = {
      {8.0, {8.0}},
      {15.0, {7.5, 7.5}},
      {25.0, {12.5, 12.5}},
      {35.0, {10.0, 15.0, 10.0}},
      {60.0, {10.0, 20.0, 20.0, 10.0}},
      {70.0, {10.0, 25.0, 25.0, 10.0}},
      {150.0, {10.0, 20.0, 90.0, 20.0, 10.0}},
      {300.0, {10.0, 20.0, 50.0, 140.0, 50.0, 20.0, 10.0}},
      // After two 100 m segments 60 m remain: the two share them.
      {420.0, {10.0, 20.0, 50.0, 130.0, 130.0, 50.0, 20.0, 10.0}},
      {1000.0,
       {10.0, 20.0, 50.0, 100.0, 100.0, 100.0, 100.0, 100.0, 100.0, 140.0, 100.0, 50.0, 20.0,
        10.0}},
  };
  for (const length_case& k : cases) {
    std::vector<double> got = pipe_segment_lengths(k.length);
    double sum = 0.0;
    for (double s : got) sum += s;
    EXPECT_NEAR(sum, k.length, 1e-9) << k.length;
    EXPECT_EQ(got, k.segments) << k.length;
  }
}

TEST_F(SuperlinkInput, DividedPipeLaysItsInteriorNodesAlongThePipe) {
  ms_->channel.superlink_c_opt = 1;
  const std::string out = read(
      "CONNECT 1 1 2\nSJUNC 1 12 10 1 0 1 1 0 0\nSJUNC 2 11 4 1 888 1 2 0 0\n"
      "SLINK 1 1\nNODE 1 12 10 0.5 0 1 1 0 0\nNODE 2 11 4 0.7 0 1 2 0 0\n"
      "PIPE 1 1 0.5 0 0.1 0.013 60 0 0\n");
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  const superlink_state& sl = ms_->superlink;
  EXPECT_EQ(sl.num_nodes[1], 4);
  EXPECT_EQ(ms_->channel.superlink_max_nodes, 4);
  const double along[] = {0.0, 10.0, 30.0, 50.0, 60.0};
  for (int i = 1; i <= 5; ++i)
    EXPECT_NEAR(sl.slink_node_Zinv[i][1], 10.0 - 6.0 * along[i - 1] / 60.0, 1e-12) << i;
  EXPECT_DOUBLE_EQ(sl.dxc[2][1], 20.0);
  EXPECT_DOUBLE_EQ(sl.dx[1][1], 60.0);
  EXPECT_DOUBLE_EQ(sl.diameter[3][1], 0.5);
  EXPECT_DOUBLE_EQ(sl.As[5][1], 0.7);  // the last node takes the second file node's data
  EXPECT_DOUBLE_EQ(sl.As[3][1], 0.0);
  EXPECT_EQ(ms_->channel.superlink_node_j[5][1], 2);
  EXPECT_DOUBLE_EQ(sl.ds_Zinv[1], 4.0);

  // A superlink of several pipes: each pipe is divided on its own (100 m: 10, 20, 40, 20, 10),
  // its file nodes keep their data at their computational nodes, every segment takes its own
  // pipe's section and the interior nodes lie along their pipe.
  SetUp();
  ms_->channel.superlink_c_opt = 1;
  const std::string several = read(two_superlinks);
  ASSERT_EQ(run_error.error_fatal, 0) << several;
  const superlink_state& m = ms_->superlink;
  EXPECT_EQ(m.num_nodes[1], 10);
  EXPECT_EQ(m.num_nodes[2], 5);
  EXPECT_EQ(ms_->channel.superlink_cnodes[1], 10);
  EXPECT_EQ(ms_->channel.superlink_max_nodes, 10);
  const int file_nodes[] = {1, 6, 11};
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(m.file_cnode[k][1], file_nodes[k - 1]) << k;
  const double lengths[] = {10.0, 20.0, 40.0, 20.0, 10.0};
  for (int i = 1; i <= 10; ++i) {
    SCOPED_TRACE(i);
    EXPECT_DOUBLE_EQ(m.dxc[i][1], lengths[(i - 1) % 5]);
    EXPECT_DOUBLE_EQ(m.diameter[i][1], i <= 5 ? 0.6 : 0.5);
    EXPECT_EQ(m.sec_type[i][1], i <= 5 ? 1 : 3);
    EXPECT_DOUBLE_EQ(m.S0[i][1], i <= 5 ? 0.01 : -0.01);
  }
  // Inverts: 8.5 at the first file node, 7.5 at the second (node 6), 6.5 at the last.
  const double invert[] = {8.5, 8.4, 8.2, 7.8, 7.6, 7.5, 7.4, 7.2, 6.8, 6.6, 6.5};
  for (int i = 1; i <= 11; ++i) EXPECT_NEAR(m.slink_node_Zinv[i][1], invert[i - 1], 1e-12) << i;
  EXPECT_DOUBLE_EQ(m.As[6][1], 0.8);
  EXPECT_EQ(ms_->channel.inlet_type[6][1], 3);
  EXPECT_DOUBLE_EQ(m.grate_sidelength_node[6][1], 0.5);
  EXPECT_DOUBLE_EQ(m.As[4][1], 0.0);
  EXPECT_EQ(ms_->channel.inlet_type[8][1], 0);
  EXPECT_DOUBLE_EQ(m.ds_Zinv[1], 6.5);
  EXPECT_DOUBLE_EQ(m.dx[2][1], 100.0);
}

TEST(GridPipeCards, TheFirstWordIsClassifiedAndRemoved) {
  struct card_case {
    std::string line;
    int code;
    std::string rest;
  };
  const std::vector<card_case> cases = {{"  SPipe 3 2 0.5", 3, " 3 2 0.5"},
                                        {"PIPECELLS 4", 0, " 4"},
                                        {"\tcellij 1 2", 1, " 1 2"},
                                        {"NumPipes 2", 2, " 2"},
                                        {"pipecellsx 1", 4, " 1"},
                                        {"   ", 4, ""},
                                        {"", 4, ""}};
  for (const card_case& k : cases) {
    std::string line = k.line;
    EXPECT_EQ(grid_pipe_card_code(line), k.code) << k.line;
    EXPECT_EQ(line, k.rest) << k.line;
  }
}

const std::string leaky_network =
    "CONNECT 1 1 2\nSJUNC 1 10 7 1 0 1 1 0 0\nSJUNC 2 9 6 1 888 1 2 0 0\n"
    "SLINK 1 1\nNODE 1 10 7 0 0 1 1 0 0\nNODE 2 9 6 0 0 1 2 0 0\n"
    "PIPE 1 1 0.1 0 0.01 0.013 100 2.5 20\n";

TEST_F(SuperlinkInput, TileDrainsAreLaidIntoTheirCellsByTheGridPipeFile) {
  const std::string gpi =
      "GRIDPIPEFILE\nPIPECELLS 2\nCELLIJ 1 1\nNUMPIPES 1\nSPIPE 1 1 0.4\n"
      "CELLIJ 2 2\nNUMPIPES 1\nspipe 1 1 0.6\n";
  const std::string out = read(leaky_network, &gpi);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  const superlink_state& sl = ms_->superlink;
  EXPECT_EQ(ms_->channel.superlink_leaky, 1);
  EXPECT_EQ(sl.pipe_cell_count, 2);
  EXPECT_EQ(sl.pipe_cell_max_pipes, 1);
  EXPECT_EQ(sl.gpi_gnum[1][1], 1);
  EXPECT_EQ(sl.gpi_gnum[2][1], 4);
  EXPECT_EQ(sl.gpi_link[2][1], 1);
  EXPECT_EQ(sl.gpi_node[2][1], 1);
  EXPECT_DOUBLE_EQ(sl.gpi_pct[2][1], 0.6);
  EXPECT_TRUE(contains(out, "Finished reading gridpipe file.\n")) << out;

  struct bad_case {
    std::string gpi;
    std::string message;
  };
  const std::vector<bad_case> cases = {
      {"GRIDPIPE\nPIPECELLS 1\n", "The gridpipe file format is invalid\n"},
      {"GRIDPIPEFILE\nCELLIJ 1 1\n", "The second card in the grid-pipe file must be PIPECELLS\n"},
      {"GRIDPIPEFILE\nPIPECELLS 0\n", "The number of PIPECELLS in the gridpipe (.gpi) file\n"},
      {"GRIDPIPEFILE\nPIPECELLS 2\nCELLIJ 1 1\nNUMPIPES 1\nSPIPE 1 1 1\n",
       "names 2 pipe cells in PIPECELLS but gives 1 CELLIJ records"},
      {"GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 1 1\nNUMPIPES 2\nSPIPE 1 1 1\n",
       "declares 2 pipes in NUMPIPES but gives 1 SPIPE records"},
      {"GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 3 1\n", "line 3: a CELLIJ record names a grid position"},
      {"GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 1 1\nNUMPIPES 1\nSPIPE 2 1 1\n",
       "line 5: an SPIPE record names a superlink the network does not hold"},
      {"GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 1 1\nNUMPIPES 1\nSPIPE 1 2 1\n",
       "an SPIPE record names a pipe its superlink does not hold"},
      {"GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 1 1\nNUMPIPES 1\nSPIPE 1 1 1.5\n",
       "an SPIPE record gives a share of the pipe outside 0..1"},
  };
  for (const bad_case& k : cases) {
    SetUp();
    const std::string printed = read(leaky_network, &k.gpi);
    EXPECT_EQ(run_error.error_fatal, 1) << k.gpi;
    EXPECT_TRUE(contains(printed, k.message)) << k.gpi << "\n--- printed:\n" << printed;
  }

  // Leaky pipes need the grid-pipe file.
  SetUp();
  const std::string missing = read(leaky_network);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(contains(missing, "you must include the GRID_PIPE card")) << missing;
  EXPECT_TRUE(contains(missing, "tile drain grid pipe")) << missing;
}

TEST_F(SuperlinkInput, OutletsAreTiedToChannelNodesThatExist) {
  ms_->channel.chan_explic = 1;
  const std::string net =
      "CONNECT 1 1 2\nSJUNC 1 10 7 1 0 1 1 0 0\nSJUNC 2 9 6 1 999 2 3 0 0\n"
      "SLINK 1 1\nNODE 1 10 7 0 0 1 1 0 0\nNODE 2 9 6 0 0 1 2 0 0\n"
      "PIPE 1 1 0.5 0 0.01 0.013 100 0 0\n";
  auto tie = [&](int links, int nodes) {
    channel_state& ch = ms_->channel;
    ch.storm_sewer = 1;
    ch.chan_link_count = links;
    EXPECT_TRUE(ch.nx.allocate(links));
    for (int l = 1; l <= links; ++l) ch.nx[l] = nodes;
    stdout_capture capture;
    init_superlink_channel_connection(*ms_);
    if (run_error.error_code > 0) error_report(run_error);
    return capture.stop();
  };
  std::string out = read(net);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  out = tie(2, 3);
  ASSERT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(ms_->superlink.superlink_chan_con_link[2], 2);
  EXPECT_EQ(ms_->superlink.superlink_chan_con_node[2], 3);
  EXPECT_EQ(ms_->superlink.superlink_chan_con_link[1], 0);

  SetUp();
  ms_->channel.chan_explic = 1;
  read(net);
  out = tie(2, 2);  // node 3 of link 2 does not exist
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(contains(out, "Superlink outlet channel node not found, at superjunction 2\n"))
      << out;
  EXPECT_FALSE(contains(out, "channel link not found")) << out;
  EXPECT_TRUE(contains(out,
                       "Check your superlink input file to insure that superlink outlets\n"
                       "terminate on stream arcs.\n"))
      << out;
}

}  // namespace
