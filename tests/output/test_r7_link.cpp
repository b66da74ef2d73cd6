// The reservoir-model coupling: the segment map and the link/node-to-segment file read at
// start-up (their warnings, errors and malformed lines), the header of the segment-flux file,
// the means written at each output time, and what the run refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "output/r7_link.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// A grid of 2 rows by 3 columns, every position a cell (1..6 row by row), with the R7 cards
// naming seg.asc, seg.txt and flux.txt; one channel link of 4 nodes.
std::unique_ptr<model_state> r7_state() {
  auto ms = std::make_unique<model_state>();
  ms->rows = 2;
  ms->cols = 3;
  ms->cell_count = 6;
  EXPECT_TRUE(ms->index_map.allocate(2, 3));
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) ms->index_map[r][c] = (r - 1) * 3 + c;
  project_cards& cards = ms->cards;
  cards.r7_fluxes_given = 1;
  std::strcpy(cards.r7_segment_map, "seg.asc");
  std::strcpy(cards.r7_nodes_to_segs, "seg.txt");
  std::strcpy(cards.r7_segment_fluxes, "flux.txt");
  channel_state& ch = ms->channel;
  ch.chan_explic = 1;
  ch.chan_link_count = 1;
  EXPECT_TRUE(ch.nx1.allocate(1));
  ch.nx1[1] = 4;
  EXPECT_TRUE(ch.qp.allocate(1, ch.nx1.data()));
  return ms;
}

std::string segment_map(const std::string& values) {
  return "north: 60.0\nsouth: 0.0\neast: 90.0\nwest: 0.0\nrows: 2\ncols: 3\n" + values;
}

// The flows of a step of ms: its overland face discharges and neighbours, its channel table.
r7_step_flows flows(const model_state& ms, bool chan_explic) {
  const overland_state& ov = ms.overland;
  return {ov.ov_flux_x,  ov.ov_flux_y, ov.rightcon,  ov.belowcon,
          ms.cell_count, chan_explic,  ms.channel.qp};
}

// Runs the set-up on ms; returns the console.
std::string set_up(model_state& ms) {
  stdout_capture capture;
  set_up_r7_link(ms);
  return capture.stop();
}

class R7Link : public ::testing::Test {
 protected:
  torva_test::process_state_guard guard;
  temp_dir dir;
};

}  // namespace

TEST_F(R7Link, SegmentsTwoAndFiveGiveTwoColumnsOfMeanFlows) {
  auto ms = r7_state();
  write_file("seg.asc", segment_map("2 2 2\n5 5 5\n"));
  write_file("seg.txt", "2\n1 2 2\n1 4 5\n");
  EXPECT_EQ(set_up(*ms), "");
  ASSERT_EQ(run_error.error_fatal, 0);
  r7_data& r7 = *ms->output.r7;
  EXPECT_EQ(r7.num_segments, 5);
  EXPECT_EQ(r7.num_triples, 2);
  for (int s = 1; s <= 5; ++s) EXPECT_EQ(r7.segment_active[s], s == 2 || s == 5) << s;

  // Four steps summed, then their means; a negative discharge counts by its size.
  const double q2[4] = {1.0, 2.0, 3.0, 6.0};
  const double q4[4] = {-4.0, 4.0, 8.0, 8.0};
  for (int k = 0; k < 4; ++k) {
    ms->channel.qp(1, 2) = q2[k];
    ms->channel.qp(1, 4) = q4[k];
    r7_accumulate_flows(r7, flows(*ms, true));
  }
  r7_write_flows(r7, 73.25);
  r7_write_flows(r7, 73.5);  // nothing summed since: no line
  r7_accumulate_flows(r7, flows(*ms, true));
  r7_write_flows(r7, 73.5);
  // Without channel routing the steps count but take no flow.
  r7_accumulate_flows(r7, flows(*ms, false));
  r7_write_flows(r7, 73.75);
  file_handle_close(r7.segment_flow_file);
  EXPECT_EQ(read_file("flux.txt"),
            "   jday   2         5         \n"
            "1.000     3.00      6.00      \n"
            "1.250     6.00      8.00      \n"
            "1.500     0.00      0.00      \n");
}

TEST_F(R7Link, EmptyMapsWarnAndBadTriplesStopTheRun) {
  // Only zeros, no triples: warnings 95 and 96, nothing accumulated, no file.
  {
    auto ms = r7_state();
    write_file("seg.asc", segment_map("0 0 0\n0 0 0\n"));
    const std::string out = set_up(*ms);
    EXPECT_NE(out.find("Warning: There are no segments in the R7 segment map.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Warning: The TORVA to R7 internal segment flux option is turned on\nBut "
                       "there are no segments in the R7 segment map or in the link-node to "
                       "segment file.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(run_error.error_fatal, 0);
    EXPECT_EQ(ms->output.r7->num_segments, 0);
    r7_accumulate_flows(*ms->output.r7, flows(*ms, true));
    EXPECT_EQ(ms->output.r7->step_count, 0);
    EXPECT_FALSE(torva_test::file_exists("flux.txt"));
  }
  struct bad_case {
    const char* map;
    const char* triples;
    const char* fluxes;  // the segment-flux file name
    const char* message;
  };
  const bad_case cases[] = {
      {"2 2 2\n5 5 5\n", "1\n1 2 0\n", "flux.txt",
       "Error: In the R7 internal stream flux to segment file, some link/node pairs \nrefer to a "
       "segment of 0 or a segment that is not in the segment map file.\n"},
      {"2 2 2\n5 5 5\n", "1\n1 2 3\n", "flux.txt", "refer to a segment of 0"},
      {"2 2 2\n5 5 5\n", "1\n1 2 6\n", "flux.txt", "refer to a segment of 0"},
      {"2 2 2\n5 5 5\n", "1\n1 2 2\n", "no_folder/flux.txt",
       "Error: Unable to open the R7 internal flux output file [no_folder/flux.txt].\n"},
      {"2 2 2\n5 5 5\n", "two\n1 2 2\n", "flux.txt",
       "Error: the triple count on line 1 of the R7 link/node to segment file seg.txt: \"two\" "
       "is not a whole number.\n"},
      {"2 2 2\n5 5 5\n", "2\n1 2 2\n1 x 5\n", "flux.txt",
       "Error: the node on line 3 of the R7 link/node to segment file seg.txt: \"x\" is not a "
       "whole number.\n"},
      {"2 2 2\n5 5 5\n", "2\n1 2 2\n", "flux.txt",
       "Error: the R7 link/node to segment file seg.txt ends after 1 of its 2 link/node/segment "
       "lines.\n"},
      {"2 2 2.5\n5 5 5\n", "1\n1 2 2\n", "flux.txt",
       "Error: cell 3 of the R7 segment map seg.asc holds 2.5, which is not a segment number (a "
       "whole number from 0 to 1000000).\n"},
      {"2 2 2\n5 5 -5\n", "1\n1 2 2\n", "flux.txt",
       "cell 6 of the R7 segment map seg.asc holds -5"},
      // A node that the channel network does not have.
      {"2 2 2\n5 5 5\n", "1\n1 5 2\n", "flux.txt",
       "Error: line 2 of the R7 link/node to segment file seg.txt names link 1, node 5, which is "
       "not a node of the channel network.\n"},
      {"2 2 2\n5 5 5\n", "1\n2 1 2\n", "flux.txt", "names link 2, node 1"},
  };
  for (const bad_case& c : cases) {
    SCOPED_TRACE(std::string(c.map) + c.triples);
    run_error = error_state{};
    auto ms = r7_state();
    std::strcpy(ms->cards.r7_segment_fluxes, c.fluxes);
    write_file("seg.asc", segment_map(c.map));
    write_file("seg.txt", c.triples);
    const std::string out = set_up(*ms);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(run_error.error_fatal, 1) << out;
  }
}

// Overland flow counts where it crosses a segment's edge with the cells of no segment, in
// either direction and by its size; between two segments, or between two cells of no segment,
// it does not.
TEST_F(R7Link, OverlandFlowCountsAcrossTheEdgesOfTheSegments) {
  auto ms = r7_state();
  // Segments:   3 0 3
  //             0 4 4
  write_file("seg.asc", segment_map("3 0 3\n0 4 4\n"));
  write_file("seg.txt", "0\n");
  // (The grid reader notes the cells of no segment.)
  EXPECT_EQ(set_up(*ms), "Warning: Map contains 2 cells with zero values. Map: seg.asc\n");
  ASSERT_EQ(run_error.error_fatal, 0);
  overland_state& ov = ms->overland;
  for (raw_array1d<int>* a : {&ov.rightcon, &ov.belowcon}) ASSERT_TRUE(a->allocate(6));
  for (raw_array1d<double>* a : {&ov.ov_flux_x, &ov.ov_flux_y}) ASSERT_TRUE(a->allocate(6));
  for (int c : {1, 2, 4, 5}) ov.rightcon[c] = c + 1;
  for (int c : {1, 2, 3}) ov.belowcon[c] = c + 3;
  // Right faces: 1|2 (3 to none), 2|3 (none to 3), 4|5 (none to 4), 5|6 (4 to 4, not counted).
  ov.ov_flux_x[1] = 0.5;
  ov.ov_flux_x[2] = -0.25;
  ov.ov_flux_x[4] = 2.0;
  ov.ov_flux_x[5] = 100.0;
  // Lower faces: 1/4 (3 to none), 2/5 (none to 4), 3/6 (3 to 4, not counted).
  ov.ov_flux_y[1] = -1.0;
  ov.ov_flux_y[2] = 4.0;
  ov.ov_flux_y[3] = 100.0;
  r7_data& r7 = *ms->output.r7;
  r7_accumulate_flows(r7, flows(*ms, true));
  r7_accumulate_flows(r7, flows(*ms, true));
  r7_write_flows(r7, 10.0);
  file_handle_close(r7.segment_flow_file);
  // Segment 3: 0.5 + 0.25 + 1.0; segment 4: 2.0 + 4.0; each the mean of two equal steps.
  EXPECT_EQ(read_file("flux.txt"),
            "   jday   3         4         \n1.000     1.75      6.00      \n");
}
