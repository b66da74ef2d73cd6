// The channel input file and the grid-stream file: a network of three links meeting at a
// junction read and checked, card words, structures with their series, lakes with their search
// cells, the bed averaged over each node's reach, and every fatal message of the readers from a
// small bad file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "channel/channel_input.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "input/elevation_series.h"
#include "input/time_series.h"
#include "support/table_fixtures.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// Links 1 and 2 (trapezoids) join at the head of link 3, a break-point link with one V-shaped
// section (10 m across per 2 m of depth on each side: area 5 y^2).
const std::string three_links =
    "TORVA_CHAN three links and a junction\n"
    "ALPHA 1.0\n"
    "BETA 1.0\n"
    "THETA 0.7\n"
    "LINKS 3\n"
    "MAXNODES 4\n"
    "CONNECT 1 3 0\n"
    "CONNECT 2 3 0\n"
    "CONNECT 3 0 2 1 2\n"
    "LINK 1\n"
    "NODES 3\n"
    "DX 30.0\n"
    "TRAPEZOID\n"
    "MANNINGS_N 0.035\n"
    "NODE 1\n"
    "ELEV 105.0\n"
    "X_Y 115.0 85.0\n"
    "NODE 2\n"
    "ELEV 104.0\n"
    "XSEC\n"
    "BOTTOM_WIDTH 2.0\n"
    "BANKFULL_DEPTH 1.0\n"
    "SIDE_SLOPE 1.5\n"
    "NODE 3\n"
    "ELEV 103.0\n"
    "\n"
    "LINK 2\n"
    "NODES 2\n"
    "DX 30.0\n"
    "trapezoid\n"
    "MANNINGS_N 0.04\n"
    "DISPERSION_COEFF 5.0\n"
    "NODE 1\n"
    "ELEV 104.0\n"
    "XSEC\n"
    "BOTTOM_WIDTH 1.0\n"
    "BANKFULL_DEPTH 0.5\n"
    "SIDE_SLOPE 2.0\n"
    "NODE 2\n"
    "ELEV 103.0\n"
    "LINK 3\n"
    "NODES 4\n"
    "DX 30.0\n"
    "BREAKPOINT\n"
    "MANNINGS_N 0.03\n"
    "NODE 1\n"
    "ELEV 103.0\n"
    "NPAIRS 3\n"
    "NUM_INTERP 10\n"
    "X1 0.0 102.0\n"
    "X1 10.0 100.0\n"
    "X1 20.0 102.0\n"
    "NODE 2\n"
    "ELEV 102.0\n"
    "NODE 3\n"
    "ELEV 101.0\n"
    "NODE 4\n"
    "ELEV 100.0\n";

// Three stream cells of the small watershed (cells 1 2 0 / 3 4 5): cell 1 holds node 1 of link
// 1, cell 2 three nodes of three links, cell 5 two nodes of link 3.
const std::string three_cells =
    "GRIDSTREAMFILE\n"
    "STREAMCELLS 3\n"
    "CELLIJ 1 1\n"
    "NUMNODES 1\n"
    "LINKNODE 1 1 1.0\n"
    "CELLIJ 1 2\n"
    "NUMNODES 3\n"
    "LINKNODE 1 2 0.5\n"
    "linknode 2 1 0.25\n"
    "LINKNODE 3 1 0.25\n"
    "CELLIJ 2 3\n"
    "NUMNODES 2\n"
    "LINKNODE 3 2 0.6\n"
    "LINKNODE 3 3 0.4\n";

// `text` with its first occurrence of `from` replaced by `to` (which must be there).
std::string with(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at == std::string::npos) return text;
  return text.substr(0, at) + to + text.substr(at + from.size());
}

class ChannelInputTest : public testing::Test {
 protected:
  void SetUp() override {
    torva_test::set_small_watershed(*ms_);
    ms_->gridsize = 30.0;
    ms_->cell_elev.allocate(ms_->cell_count);
    for (int c = 1; c <= ms_->cell_count; ++c) ms_->cell_elev[c] = 100.0 + c;
    ms_->cards.non_ortho_channels_given = 1;
  }

  // Writes the two files, opens them where the reader looks for them and reads the network;
  // returns what read_chan_input returned and what it printed.
  int read(const std::string& chan, const std::string& gst = three_cells) {
    write_file(dir_.file("net.chan"), chan);
    write_file(dir_.file("net.gst"), gst);
    EXPECT_TRUE(
        file_handle_open(ms_->channel.channel_input_file, dir_.file("net.chan").c_str(), "r"));
    EXPECT_TRUE(file_handle_open(ms_->input.stream_cell_file, dir_.file("net.gst").c_str(), "r"));
    stdout_capture capture;
    const int result = read_chan_input(*ms_);
    printed_ = capture.stop();
    return result;
  }

  bool stopped() const { return run_error.error_fatal != 0 || run_error.error_code != 0; }

  process_state_guard guard_;  // destroyed after the folder and the model state
  temp_dir dir_;
  std::unique_ptr<model_state> ms_ = std::make_unique<model_state>();
  std::string printed_;
};

using ChannelInput = ChannelInputTest;

TEST_F(ChannelInput, ThreeLinksMeetingAtAJunctionAreReadWithTheirSectionsAndCells) {
  ASSERT_EQ(read(three_links), 0);
  ASSERT_FALSE(stopped()) << printed_;
  const channel_state& ch = ms_->channel;
  EXPECT_FALSE(ch.channel_input_file.is_open());
  EXPECT_FALSE(ms_->input.stream_cell_file.is_open());
  EXPECT_DOUBLE_EQ(ch.theta, 0.7);
  ASSERT_EQ(ch.chan_link_count, 3);
  EXPECT_EQ(ch.max_nodes, 4);
  EXPECT_EQ(ch.node_extent_product, 4 * 5);

  // Connections: links 1 and 2 drain into link 3, the outlet link.
  EXPECT_EQ(ch.dslink[1], 3);
  EXPECT_EQ(ch.dslink[2], 3);
  EXPECT_EQ(ch.dslink[3], 0);
  EXPECT_EQ(ch.ndep[1], 0);
  EXPECT_EQ(ch.ndep[3], 2);
  EXPECT_EQ(ch.uslinks[3][1], 1);
  EXPECT_EQ(ch.uslinks[3][2], 2);

  // Kinds and node counts: sectioned links compute on all but their last node.
  const int ltype[] = {0, 4, 4, 8};
  const int nx1[] = {0, 3, 2, 4};
  for (int l = 1; l <= 3; ++l) {
    SCOPED_TRACE(l);
    EXPECT_EQ(ch.ltype[l], ltype[l]);
    EXPECT_EQ(ch.ldex[l], l);
    EXPECT_EQ(ch.nx1[l], nx1[l]);
    EXPECT_EQ(ch.nx[l], nx1[l] - 1);
    EXPECT_EQ(ch.og_nx1[l], nx1[l] - 1);
    EXPECT_DOUBLE_EQ(ch.dx[l], 30.0);
  }
  EXPECT_DOUBLE_EQ(ch.link_inv_n[1], 1.0 / 0.035);
  EXPECT_DOUBLE_EQ(ch.link_inv_n[3], 1.0 / 0.03);

  // A trapezoid's section, given at one node, holds at every node of the link.
  for (int n = 1; n <= 3; ++n) {
    EXPECT_DOUBLE_EQ(ch.bottom(1, n), 2.0);
    EXPECT_DOUBLE_EQ(ch.bankfull_dep(1, n), 1.0);
    EXPECT_DOUBLE_EQ(ch.sslope(1, n), 1.5);
  }
  EXPECT_DOUBLE_EQ(ch.sslope(2, 2), 2.0);
  EXPECT_DOUBLE_EQ(ch.lnx(1, 1), 115.0);
  EXPECT_DOUBLE_EQ(ch.lny(1, 1), 85.0);

  // Each computational node's bed is the mean over its reach; the water starts at the bed.
  EXPECT_DOUBLE_EQ(ch.bel(1, 1), 104.5);
  EXPECT_DOUBLE_EQ(ch.bel(1, 2), 103.5);
  EXPECT_DOUBLE_EQ(ch.bel(2, 1), 103.5);
  EXPECT_DOUBLE_EQ(ch.bel(3, 3), 100.5);
  EXPECT_DOUBLE_EQ(ch.yp(3, 3), 100.5);
  EXPECT_DOUBLE_EQ(ch.qp(3, 3), 0.0);

  // The break-point link's one section makes one table shared by all its nodes.
  EXPECT_EQ(ch.num_xsec_tables, 1);
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(ch.table_num(3, n), 1);
  EXPECT_DOUBLE_EQ(ch.ht_spc[1], 0.2);
  EXPECT_EQ(ch.numhts[1], 10);
  EXPECT_NEAR(ch.xarea(1, 10), 20.0, 1e-9);

  // The grid-stream tables.
  EXPECT_EQ(ch.gst_stream_cells, 3);
  EXPECT_EQ(ch.gst_width, 3);
  EXPECT_EQ(ch.gst_ncellsingrid[2], 3);
  const int links[] = {1, 2, 3};
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(ch.gst_link[2][k], links[k - 1]);
    EXPECT_EQ(ch.gst_gnum[2][k], 2);
  }
  EXPECT_EQ(ch.gst_node[2][1], 2);
  EXPECT_DOUBLE_EQ(ch.gst_pct[2][2], 0.25);
  EXPECT_EQ(ch.gst_gnum[3][2], 5);
  EXPECT_EQ(ch.gst_node[3][2], 3);

  // The summary.
  EXPECT_TRUE(contains(printed_, "\n\nChannel input data:\n"));
  EXPECT_TRUE(contains(printed_, "  max. number of u.s. dependencies:      2\n"));
  EXPECT_TRUE(contains(printed_, "  number of trapezoidal links:           2\n"));
  EXPECT_TRUE(contains(printed_, "  number of breakpoint links:            1\n"));
  EXPECT_TRUE(contains(printed_, "    max number of xsec pairs:              3\n"));
  EXPECT_TRUE(contains(printed_, "Finished reading non-orthogonal channel information"));
}

TEST_F(ChannelInput, SuperQuietRunPrintsNoSummary) {
  ms_->super_quiet = 1;
  ASSERT_EQ(read(three_links), 0);
  EXPECT_FALSE(contains(printed_, "Channel input data:"));
  EXPECT_FALSE(contains(printed_, "Finished reading"));
}

TEST_F(ChannelInput, CardWordsMatchInAnyCaseAndLeaveTheRestOfTheLine) {
  struct word_case {
    const char* line;
    int code;
    const char* rest;
  };
  const word_case cases[] = {
      {"LINKS 3", chan_card_links, " 3"},
      {"  \tmaxnodes\t4", chan_card_maxnodes, "\t4"},
      {"Trapezoid_Erode_Subsurface", chan_card_trapezoid_subsurface_erode, ""},
      {"K_RIVER 1e-6", chan_card_gw_bed_conductivity, " 1e-6"},
      {"XSEC", chan_card_xsec, ""},
      {"X1 0.0 1.0", chan_card_x1, " 0.0 1.0"},
      {"LINKNODE 1 2 0.5", chan_card_linknode, " 1 2 0.5"},
      {"LINKS3", chan_card_unknown, ""},
      {"NUM_OUTLETSX 1", chan_card_unknown, " 1"},
      {"", chan_card_unknown, ""},
      {"   ", chan_card_unknown, ""},
  };
  for (const word_case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string line = c.line;
    EXPECT_EQ(chan_input_card_code(line), c.code);
    EXPECT_EQ(line, c.rest);
  }
}

TEST_F(ChannelInput, StructureElementsTakeTheirCardsAndSeries) {
  elevation_series* rating = elev_series_new();
  std::strcpy(rating->name, "spillway_rating");
  // Link 2 becomes a structure link of three elements between link 1 and link 3.
  const std::string chan =
      with(with(three_links, "LINK 2\nNODES 2\nDX 30.0\ntrapezoid\nMANNINGS_N 0.04\n",
                "LINK 2\nSTRUCTURE\nNUMSTRUCTS 3\n"
                "UPINVERT 7.0\n"  // before any element: changes nothing
                "STRUCTTYPE Weirs\nCREST_LENGTH 4.0\nCREST_LOW_ELEV 103.2\n"
                "DISCHARGE_COEFF_FORWARD 0.6\nDISCHARGE_COEFF_REVERSE 0.5\n"
                "STRUCTTYPE RATING_CURVE spillway\n"
                "STRUCTTYPE sag_weir\nLENGTH 6.0\nA_VALUE 0.1\nB_VALUE 0.3\nCREST_LOW_LOC 2.5\n"
                "DISCHARGE_COEFF_FORWARD 0.6\n"),
           "XSEC\nBOTTOM_WIDTH 1.0\nBANKFULL_DEPTH 0.5\nSIDE_SLOPE 2.0\n", "");
  ASSERT_EQ(read(chan), 0);
  ASSERT_FALSE(stopped()) << printed_;
  const channel_state& ch = ms_->channel;
  EXPECT_EQ(ch.ltype[2], 64);
  EXPECT_EQ(ch.nx1[2], 2);
  EXPECT_EQ(ch.nx[2], 2);
  ASSERT_EQ(ch.structure_count, 3);
  EXPECT_EQ(ch.link_structures[2][0], 3);
  EXPECT_EQ(ch.link_structures[2][1], 1);
  EXPECT_EQ(ch.link_structures[2][2], 3);
  EXPECT_EQ(ch.link_structures[1][1], 10000);
  EXPECT_EQ(ch.link_structures[1][2], 0);
  const hydraulic_structure& weir = ch.structures[1];
  EXPECT_EQ(weir.structure_type, structure_weir);
  EXPECT_DOUBLE_EQ(weir.length, 4.0);
  EXPECT_DOUBLE_EQ(weir.upinvert, 103.2);
  EXPECT_DOUBLE_EQ(weir.inlet_disch_coeff, 0.6);
  EXPECT_DOUBLE_EQ(weir.rev_flow_disch_coeff, 0.5);
  EXPECT_EQ(ch.structures[2].structure_type, structure_rating_curve);
  EXPECT_EQ(ch.structures[2].es, rating);
  const hydraulic_structure& sag = ch.structures[3];
  EXPECT_EQ(sag.structure_type, structure_sag_weir);
  EXPECT_DOUBLE_EQ(sag.length, 6.0);
  EXPECT_DOUBLE_EQ(sag.shape1, 0.1);
  EXPECT_DOUBLE_EQ(sag.shape2, 0.3);
  EXPECT_DOUBLE_EQ(sag.crest_low_loc, 2.5);
  // The structure link's last node has no next node: it keeps its own bed.
  EXPECT_DOUBLE_EQ(ch.bel(2, 1), 103.5);
  EXPECT_DOUBLE_EQ(ch.bel(2, 2), 103.0);
}

TEST_F(ChannelInput, StructureSeriesThatAreMissingOrUnknownLeaveTheirCodes) {
  struct series_case {
    const char* type;
    int code;
  };
  const series_case cases[] = {
      {"RATING_CURVE", err_rating_curve_series_not_named},
      {"RATING_CURVE nothing", err_rating_curve_series_not_found},
      {"SCHEDULED_RELEASE", err_scheduled_release_series_not_named},
      {"SCHEDULED_RELEASE rule", err_scheduled_release_series_not_found},
      {"RULE_CURVE", err_rule_curve_series_not_named},
      {"RULE_CURVE release", err_rule_curve_series_not_found},
  };
  for (const series_case& c : cases) {
    SCOPED_TRACE(c.type);
    run_error = {};
    ms_ = std::make_unique<model_state>();  // frees the series of the case before
    SetUp();
    std::strcpy(elev_series_new()->name, "rule");
    std::strcpy(ts_create()->name, "release");
    const std::string chan =
        with(with(three_links, "LINK 2\nNODES 2\nDX 30.0\ntrapezoid\nMANNINGS_N 0.04\n",
                  std::string("LINK 2\nSTRUCTURE\nNUMSTRUCTS 1\nSTRUCTTYPE ") + c.type + "\n"),
             "XSEC\nBOTTOM_WIDTH 1.0\nBANKFULL_DEPTH 0.5\nSIDE_SLOPE 2.0\n", "");
    EXPECT_EQ(read(chan), 0);
    EXPECT_EQ(run_error.error_code, c.code);
    EXPECT_NE(run_error.error_fatal, 0);
    EXPECT_FALSE(ms_->channel.channel_input_file.is_open());
  }
}

TEST_F(ChannelInput, PointSourcesFindTheirSeries) {
  time_series* inflow = ts_create();
  std::strcpy(inflow->name, "mill_outfall");
  const std::string chan = with(three_links, "NODE 3\nELEV 101.0\n",
                                "NODE 3\nELEV 101.0\nPOINTSOURCE mill\nNODE 2\nPOINTSOURCE none\n");
  ASSERT_EQ(read(chan), 0);
  ASSERT_FALSE(stopped()) << printed_;
  EXPECT_EQ(ms_->channel.stream_pointsource(3, 3), inflow);
  EXPECT_EQ(ms_->channel.stream_pointsource(3, 2), nullptr);
  EXPECT_EQ(ms_->channel.stream_pointsource(1, 1), nullptr);
}

// A lake link draining into link 1: its lake covers the search cells lying more than 1 mm below
// its initial water surface.
TEST_F(ChannelInput, LakeCoversTheSearchCellsBelowItsInitialWaterSurface) {
  // Cells 1..5 lie at 101..105 m; a surface of 103.0005 m covers cells 1 and 2 (cell 3 lies
  // only half a millimetre below and stays dry). Ten search cells fill one line: the line after it
  // is passed over, so the MAXWSE card there is not read.
  const std::string chan = with(
      with(
          with(with(three_links, "LINKS 3\n", "LINKS 4\n"), "CONNECT 1 3 0\n", "CONNECT 1 3 1 4\n"),
          "CONNECT 3 0 2 1 2\n", "CONNECT 3 0 2 1 2\nCONNECT 4 1 0\n"),
      "LINK 1\n",
      "LINK 4\nLAKE\nMLAKE 2.0\nMINWSE 102.0\nINITWSE 103.0005\nMAXWSE 106.0\nNUMPTS 10\n"
      "1 1 1 2 2 1 2 2 2 3 1 1 1 2 2 1 2 2 2 3\n"
      "MAXWSE 999.0\n"
      "LINK 1\n");
  ms_->subsurface.gw_simulation = 1;
  ms_->subsurface.gwbound.allocate(ms_->cell_count);
  ASSERT_EQ(read(chan), 1);  // bed losses: an MLAKE card
  ASSERT_FALSE(stopped()) << printed_;
  const channel_state& ch = ms_->channel;
  ASSERT_EQ(ch.num_lakes, 1);
  EXPECT_EQ(ch.ltype[4], 32);
  EXPECT_EQ(ch.ldex[4], 1);
  EXPECT_EQ(ch.lake2link[4], 1);
  EXPECT_DOUBLE_EQ(ch.maxwse[1], 106.0);
  EXPECT_EQ(ch.numpts[1], 10);
  EXPECT_EQ(ch.lake_search[1][1][5], 2);
  EXPECT_EQ(ch.lake_search[1][2][5], 3);
  // Cells 1 and 2 are each counted twice (they are listed twice in the search order).
  EXPECT_EQ(ch.lake_cells[1], 4);
  EXPECT_NEAR(ch.lake_volume[1], 2 * (2.0005 + 1.0005) * 900.0, 1e-6);
  EXPECT_DOUBLE_EQ(ch.lake_area[1], 4 * 900.0);
  EXPECT_EQ(ch.lake_mask[1], 1);
  EXPECT_EQ(ch.lake_mask[2], 1);
  EXPECT_EQ(ch.lake_mask[3], 0);
  EXPECT_EQ(ms_->subsurface.gwbound[1], 7);
  EXPECT_EQ(ms_->subsurface.gwbound[3], 0);
  EXPECT_DOUBLE_EQ(ch.lake_elev[1], 103.0005);
  EXPECT_EQ(ch.og_dslink[4], 1);
  EXPECT_EQ(ch.og_uslinks[3][2], 2);
  EXPECT_TRUE(contains(printed_, "Initial Water Surface Elevation Lake #1: 103.00\n"));
  EXPECT_TRUE(contains(printed_, "Simulating Lake Losses for Lake #1, Bed Thickness: 2.0 m\n"));
}

// Every fatal condition of the two files: the reader prints its message, stops the run at once
// (the fatal flag is set), closes its file and returns 0.
TEST_F(ChannelInput, EveryBadFileStopsTheRunWithItsMessage) {
  struct bad_case {
    const char* name;
    std::string chan;
    std::string gst;
    const char* message;
  };
  const std::string trap2 = "XSEC\nBOTTOM_WIDTH 1.0\nBANKFULL_DEPTH 0.5\nSIDE_SLOPE 2.0\n";
  const std::string link2 = "LINK 2\nNODES 2\nDX 30.0\ntrapezoid\nMANNINGS_N 0.04\n";
  auto structure = [&](const std::string& cards) {
    return with(with(three_links, link2, "LINK 2\nSTRUCTURE\n" + cards), trap2, "");
  };
  const bad_case cases[] = {
      {"no keyword", with(three_links, "TORVA_CHAN", "CHANNELS"), three_cells,
       "does not begin with the TORVA_CHAN card"},
      {"header cut short", "torva_chan\nALPHA 1\nBETA 1\nDX 3\nLINKS 3\n", three_cells,
       "Premature end-of-file in the channel input file.\n"
       "The channel input file does not contain all the required parameter cards.\n"
       "These include: ALPHA, BETA, THETA, DX, LINKS, and MAXNODES.\n"},
      {"no link count", with(three_links, "LINKS 3\n", "ALPHA 2\n"), three_cells,
       "gives no LINKS card"},
      {"link count 0", with(three_links, "LINKS 3", "LINKS 0"), three_cells,
       "the LINKS card on line 5"},
      {"link count not a number", with(three_links, "LINKS 3", "LINKS three"), three_cells,
       "the LINKS card on line 5"},
      {"Manning's n of 0", with(three_links, "MANNINGS_N 0.04", "MANNINGS_N 0.0"), three_cells,
       "Error encountered when reading the channel input file, link 2:\n"
       "    Manning's Roughness is 0.000\n"},
      {"no Manning's n", with(three_links, "MANNINGS_N 0.04\n", ""), three_cells,
       "link 2:\n    Manning's Roughness is 0.000\n"},
      {"element count off", structure("NUMSTRUCTS 2\nSTRUCTTYPE weir\n"), three_cells,
       "\nThe sum of NUMSTRUCTS arguments is 2, while the total number\n"
       "of hydraulic structure element cards (e.g. WEIR, ROUND_CULVERT,\n"
       "etc.) is 1.  This inconstency is intolerable."},
      {"21 upstream links",
       with(three_links, "CONNECT 3 0 2 1 2",
            "CONNECT 3 0 21 1 2 1 2 1 2 1 2 1 2 1 2 1 2 1 2 1 2 1 2 1"),
       three_cells, "Whoa there pardner!  You mean to tell me that you have more than 20\n"},
      {"CONNECT cards missing", with(three_links, "CONNECT 2 3 0\n", ""), three_cells,
       "Your channel input file contains 3 links, and 2 CONNECT cards\n"
       "These two numbers must be equal."},
      {"trapezoid without a section", with(three_links, trap2, ""), three_cells,
       "Error: Cross section parameters not found for link 2.\n"},
      {"no NUM_INTERP", with(three_links, "NUM_INTERP 10\n", ""), three_cells,
       "Error: the number of interpolation points has not been specifiedfor any table."},
      {"too many X1", with(three_links, "X1 20.0 102.0\n", "X1 20.0 102.0\nX1 30.0 103.0\n"),
       three_cells,
       "\n\nError: There are more X1 cards than the NPAIRS card specifies \n"
       "for table 1 in link 3.\n"},
      {"too few X1", with(three_links, "X1 20.0 102.0\n", ""), three_cells,
       "table 1 in link 3 of the channel input file"},
      {"interpolation count too large", with(three_links, "NUM_INTERP 10", "NUM_INTERP 30001"),
       three_cells,
       "\n\nError: The number of interpolation points [30001] for table 1 in link 3 is invalid."},
      {"LINK beyond the links", with(three_links, "LINK 3\n", "LINK 4\n"), three_cells,
       "the LINK card on line 41 of the channel input file"},
      {"LINK 0", with(three_links, "LINK 2\n", "LINK 0\n"), three_cells,
       "gives 0: links are numbered 1 to 3"},
      {"NODES beyond MAXNODES", with(three_links, "\nNODES 4", "\nNODES 5"), three_cells,
       "gives 5: a link has 1 to MAXNODES (4) nodes"},
      {"NODE beyond the link's nodes",
       with(three_links, "NODE 3\nELEV 103.0", "NODE 4\nELEV 103.0"), three_cells,
       "gives 4: link 1 has nodes 1 to 3"},
      {"node card before NODE", with(three_links, "NODE 1\nELEV 105.0", "ELEV 105.0"), three_cells,
       "the ELEV card on line 15 of the channel input file"},
      {"card before LINK", with(three_links, "CONNECT 1 3 0\n", "CONNECT 1 3 0\nNODES 3\n"),
       three_cells, "the NODES card on line 8 of the channel input file"},
      {"downstream link beyond the links", with(three_links, "CONNECT 2 3 0", "CONNECT 2 7 0"),
       three_cells, "gives 7: a downstream link is 0 (none) or 1 to 3"},
      {"upstream link beyond the links",
       with(three_links, "CONNECT 3 0 2 1 2", "CONNECT 3 0 2 1 9"), three_cells,
       "gives 9: upstream links are numbered 1 to 3"},
      {"upstream link missing", with(three_links, "CONNECT 3 0 2 1 2", "CONNECT 3 0 2 1"),
       three_cells, "the CONNECT card on line 9 of the channel input file"},
      // The connection pass reads the CONNECT cards from the top of the file; the arrays are
      // sized from those after the required cards, which here give no upstream links.
      {"more upstream links than counted",
       with(with(three_links, "CONNECT 3 0 2 1 2", "CONNECT 3 0 0"), "ALPHA 1.0\n",
            "CONNECT 3 0 2 1 2\nALPHA 1.0\n"),
       three_cells, "gives 2: no CONNECT card after the required cards gives more than 0"},
      {"negative side slope", with(three_links, "SIDE_SLOPE 1.5", "SIDE_SLOPE -1.5"), three_cells,
       "gives -1.5: a section dimension cannot be negative"},
      {"unknown structure type", structure("NUMSTRUCTS 1\nSTRUCTTYPE gate\n"), three_cells,
       "names the structure type \"gate\""},
      {"element on a trapezoid",
       with(three_links, "DISPERSION_COEFF 5.0\n", "NUMSTRUCTS 1\nSTRUCTTYPE weir\n"), three_cells,
       "belongs to link 2,\nwhich is not a STRUCTURE link.\n"},
      {"sag weir with equal slopes",
       structure("NUMSTRUCTS 1\nSTRUCTTYPE SAG_WEIR\nLENGTH 5.0\nSTEEP_SLOPE 0.2\n"
                 "SHALLOW_SLOPE 0.2\n"),
       three_cells, "has two equal side slopes (0.2)"},
      {"sag weir without length",
       structure("NUMSTRUCTS 1\nSTRUCTTYPE SAG_WEIR\nSTEEP_SLOPE 0.1\nSHALLOW_SLOPE 0.2\n"),
       three_cells, "has a crest length of 0"},
      {"lake card before LAKE",
       with(with(three_links, "DISPERSION_COEFF 5.0\n", "LAKE\n"), "LINK 1\nNODES 3",
            "LINK 1\nMINWSE 3.0\nNODES 3"),
       three_cells, "the MINWSE card on line 11 of the channel input file"},
      {"break-point link without a section", with(three_links, "trapezoid\n", "BREAKPOINT\n"),
       three_cells, "Error: break-point link 2 of the channel input file has no cross-section"},
      {"erodible break-point link without a section",
       with(three_links, "trapezoid\n", "BREAK_ERODE\n"), three_cells,
       "Error: break-point link 2 of the channel input file has no cross-section"},
      {"pump flow type unknown",
       with(three_links, "NODE 4\nELEV 100.0\n", "NODE 4\nELEV 100.0\nPUMPTO 3 1 RATE pump\n"),
       three_cells,
       "\n\nError in the channel input file: Flow type for pump is incorrectly\n"
       "defined for link 3. Must be ELEV or TS.\n"},
      {"grid-stream keyword missing", three_links,
       with(three_cells, "GRIDSTREAMFILE", "gridstreamfile"),
       "does not begin with the GRIDSTREAMFILE card"},
      {"second card not STREAMCELLS", three_links, with(three_cells, "STREAMCELLS 3\n", ""),
       "The second card in the grid-stream file must be STREAMCELLS\n"
       "File format error, program terminating.\n"},
      {"no stream cells", three_links, with(three_cells, "STREAMCELLS 3", "STREAMCELLS 0"),
       "The number of STREAMCELLS in the grid-stream (.gst) file\n"
       "must be greater than 0.  File format error, program terminating\n"},
      // The declared count must be the count of CELLIJ cards, however large.
      {"more cells than STREAMCELLS", three_links,
       with(three_cells, "STREAMCELLS 3", "STREAMCELLS 2"),
       "net.gst declares 2 stream cells, but the file holds 3 CELLIJ cards.\n"},
      {"fewer cells than STREAMCELLS", three_links,
       with(three_cells, "STREAMCELLS 3", "STREAMCELLS 14"),
       "declares 14 stream cells, but the file holds 3 CELLIJ cards.\n"},
      {"STREAMCELLS far beyond the file", three_links,
       with(three_cells, "STREAMCELLS 3", "STREAMCELLS 50000000"),
       "declares 50000000 stream cells, but the file holds 3 CELLIJ cards.\n"},
      {"STREAMCELLS above the limit", three_links,
       with(three_cells, "STREAMCELLS 3", "STREAMCELLS 100000001"),
       "declares 100000001 stream cells; at most 100000000 are allowed.\n"},
      {"STREAMCELLS beyond an int", three_links,
       with(three_cells, "STREAMCELLS 3", "STREAMCELLS 99999999999"),
       "declares 99999999999 stream cells; at most 100000000 are allowed.\n"},
      {"STREAMCELLS not whole", three_links, with(three_cells, "STREAMCELLS 3", "STREAMCELLS 3.5"),
       "must be greater than 0."},
      {"row outside the grid", three_links, with(three_cells, "CELLIJ 2 3", "CELLIJ 3 3"),
       "the CELLIJ card on line 11 of the grid-stream file"},
      {"cell outside the watershed", three_links, with(three_cells, "CELLIJ 2 3", "CELLIJ 1 3"),
       "names row 1, column 3, which lies outside the watershed"},
      {"more entries than NUMNODES", three_links,
       with(three_cells, "LINKNODE 1 1 1.0\n", "LINKNODE 1 1 0.5\nLINKNODE 1 2 0.5\n"),
       "the stream cell holds more LINKNODE cards than its NUMNODES"},
      {"entry on a node beyond the link", three_links,
       with(three_cells, "linknode 2 1 0.25", "linknode 2 2 0.25"),
       "gives 2: link 2 has nodes 1 to 1"},
      {"entry on a link beyond the links", three_links,
       with(three_cells, "LINKNODE 3 1 0.25", "LINKNODE 4 1 0.25"),
       "gives 4: links are numbered 1 to 3"},
  };
  for (const bad_case& c : cases) {
    SCOPED_TRACE(c.name);
    run_error = {};
    ms_ = std::make_unique<model_state>();
    SetUp();
    EXPECT_EQ(read(c.chan, c.gst), 0);
    EXPECT_NE(run_error.error_fatal, 0) << printed_;
    EXPECT_TRUE(contains(printed_, c.message)) << printed_;
    EXPECT_FALSE(ms_->channel.channel_input_file.is_open());
  }
}

// The three links with a lake link 4 draining into link 1, its search cells given by `cells`.
std::string with_lake(const std::string& cells) {
  return with(with(with(with(three_links, "LINKS 3\n", "LINKS 4\n"), "CONNECT 1 3 0\n",
                        "CONNECT 1 3 1 4\n"),
                   "CONNECT 3 0 2 1 2\n", "CONNECT 3 0 2 1 2\nCONNECT 4 1 0\n"),
              "LINK 1\n", "LINK 4\nLAKE\nINITWSE 103.0\n" + cells + "LINK 1\n");
}

// A grid-stream file that stops the run stops the reader: the lakes after it are not set up.
TEST_F(ChannelInput, BadGridStreamFileStopsTheReadingBeforeTheLakes) {
  EXPECT_EQ(read(with_lake("NUMPTS 1\n1 1\n"), with(three_cells, "STREAMCELLS 3", "STREAMCELLS 0")),
            0);
  EXPECT_NE(run_error.error_fatal, 0);
  EXPECT_EQ(ms_->channel.num_lakes, 0);
  EXPECT_FALSE(contains(printed_, "Lake #1")) << printed_;
}

TEST_F(ChannelInput, SubsurfaceLinksTakeTheirBedAndOthersTheProjectDefaults) {
  ms_->cards.k_river = 2e-6;
  ms_->cards.m_river = 0.5;
  // Link 1 exchanges with the groundwater through its own bed; a second section card at its
  // last node replaces the first for the whole link.
  const std::string chan =
      with(with(three_links, "TRAPEZOID\nMANNINGS_N 0.035\n",
                "TRAPEZOID_SUBSURFACE\nMANNINGS_N 0.035\nGW_BED_CONDUCTIVITY 1e-5\n"
                "M_RIVER 0.3\n"),
           "NODE 3\nELEV 103.0\n", "NODE 3\nELEV 103.0\nXSEC\nBOTTOM_WIDTH 3.0\nSIDE_SLOPE 0.5\n");
  ASSERT_EQ(read(chan), 0);
  ASSERT_FALSE(stopped()) << printed_;
  const channel_state& ch = ms_->channel;
  EXPECT_EQ(ch.ltype[1], 5);
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    EXPECT_DOUBLE_EQ(ch.Krb(1, n), 1e-5);
    EXPECT_DOUBLE_EQ(ch.Mrb(1, n), 0.3);
    EXPECT_DOUBLE_EQ(ch.bottom(1, n), 3.0);
    EXPECT_DOUBLE_EQ(ch.sslope(1, n), 0.5);
    EXPECT_DOUBLE_EQ(ch.bankfull_dep(1, n), 0.0);  // not given at the last section's node
  }
  EXPECT_DOUBLE_EQ(ch.Krb(3, 2), 2e-6);
  EXPECT_DOUBLE_EQ(ch.Mrb(3, 2), 0.5);
  EXPECT_TRUE(contains(printed_, "    num w/ subsurface attribute:           1\n"));
  EXPECT_TRUE(contains(printed_, "  number of groundwater links:           1\n"));
  EXPECT_FALSE(contains(printed_, "===> Error"));
}

TEST_F(ChannelInput, SubsurfaceLinkWithoutItsBedIsReportedAndTheRunGoesOn) {
  const std::string chan = with(three_links, "TRAPEZOID\nMANNINGS_N 0.035\n",
                                "TRAPEZOID\nSUBSURFACE\nMANNINGS_N 0.035\n");
  ASSERT_EQ(read(chan), 0);
  EXPECT_FALSE(stopped()) << printed_;
  EXPECT_EQ(ms_->channel.ltype[1], 5);
  EXPECT_TRUE(contains(printed_,
                       " ===> Error: the number of specified subsurface links does not match the "
                       "number of subsurface \nparameters."));
}

TEST_F(ChannelInput, ErodibleBreakPointLinkKeepsASectionAndATablePerNode) {
  const std::string chan = with(three_links, "BREAKPOINT\n", "BREAKPOINT\nERODIBLE\n");
  ASSERT_EQ(read(chan), 0);
  ASSERT_FALSE(stopped()) << printed_;
  const channel_state& ch = ms_->channel;
  EXPECT_EQ(ch.ltype[3], 10);
  EXPECT_EQ(ch.bplink[3], 1);
  EXPECT_EQ(ch.erodible_bp_links, 1);
  EXPECT_EQ(ch.num_xsec_tables, 4);
  for (int n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(ch.table_num(3, n), n);
    EXPECT_DOUBLE_EQ(ch.xbp_lnn[1][n][3], 20.0);
    EXPECT_DOUBLE_EQ(ch.ybp_lnn[1][n][2], 100.0);
    EXPECT_NEAR(ch.xarea(n, 10), 20.0, 1e-9);
  }
  EXPECT_DOUBLE_EQ(ch.new_bel(3, 1), ch.bel(3, 1));
  EXPECT_TRUE(contains(printed_, "    num w/ erodible attribute:             1\n"));
}

TEST_F(ChannelInput, PumpsAreKeptAtTheirNodes) {
  std::strcpy(ts_create()->name, "pump_rate");
  const std::string chan =
      with(three_links, "NODE 4\nELEV 100.0\n", "NODE 4\nELEV 100.0\nPUMPTO 3 1 TS pump\n");
  ASSERT_EQ(read(chan), 0);
  ASSERT_FALSE(stopped()) << printed_;
  const pump_spec* pump = ms_->channel.stream_pumps(3, 4);
  ASSERT_NE(pump, nullptr);
  EXPECT_EQ(pump->flow_type, pump_flow_ts);
  EXPECT_NE(pump->series, nullptr);
  EXPECT_EQ(ms_->channel.stream_pumps(3, 3), nullptr);
}

// Lake search cells are grid positions: one outside the grid is refused before it is stored.
TEST_F(ChannelInput, LakeSearchCellOutsideTheGridIsRefused) {
  EXPECT_EQ(read(with_lake("NUMPTS 2\n1 1 3 1\n")), 0);
  EXPECT_NE(run_error.error_fatal, 0);
  EXPECT_TRUE(contains(printed_, "gives 3: search cell rows lie between 1 and 2")) << printed_;
}

// A lake's lowest water surface may not lie above its highest where both are given; equal ones
// are a fixed lake.
TEST_F(ChannelInput, LakeWithMinwseAboveMaxwseIsRefused) {
  EXPECT_EQ(read(with_lake("MINWSE 104.5\nMAXWSE 102\nNUMPTS 1\n1 1\n")), 0);
  EXPECT_NE(run_error.error_fatal, 0);
  EXPECT_TRUE(contains(printed_, "Error: lake 1 of the channel input file " +
                                     dir_.file("net.chan") +
                                     " has MINWSE 104.5 above its MAXWSE 102.\n"))
      << printed_;
  EXPECT_FALSE(contains(printed_, "Lake #1")) << printed_;

  for (const char* cards :
       {"MINWSE 100\nMAXWSE 102\nNUMPTS 1\n1 1\n", "MINWSE 102\nMAXWSE 102\nNUMPTS 1\n1 1\n",
        // A lake without a highest surface keeps the lowest it gives.
        "MINWSE 104.5\nNUMPTS 1\n1 1\n"}) {
    ms_ = std::make_unique<model_state>();
    run_error = error_state{};
    SetUp();
    read(with_lake(cards));
    EXPECT_EQ(run_error.error_fatal, 0) << cards << printed_;
    const bool highest = std::string(cards).find("MAXWSE") != std::string::npos;
    EXPECT_TRUE(contains(printed_, highest ? "Maximum Water Surface Elevation Lake #1: 102.00"
                                           : "Maximum Water Surface Elevation Lake #1: 0.00"))
        << printed_;
  }
}

}  // namespace
