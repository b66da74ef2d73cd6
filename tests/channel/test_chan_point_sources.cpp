// Channel point sources: the point-source file read at channel start-up on the three-link network
// (its cards in any case, counts, dates and the faults it refuses), the time-loop step that
// changes the flows when a record's date comes, and the routing that adds the flows to their
// nodes and books them.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "channel/chan_point_sources.h"
#include "channel/channel_routing.h"
#include "channel/channel_steps.h"
#include "channel/link_flows.h"
#include "channel/routing_network.h"
#include "channel_fixture.h"
#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// The network of the channel fixture: link 1 with computational nodes 1..2, link 2 with node 1,
// link 3 with nodes 1..3; MAXNODES 4, so node n of link l has the address 5 l + n.
int address(int link, int node) {
  return link * 5 + node;
}

class ChanPointTest : public testing::Test {
 protected:
  void SetUp() override {
    ms_ = std::make_unique<model_state>();
    torva_test::set_channel_watershed(*ms_);
    torva_test::open_channel_network(*ms_, dir_);
    stdout_capture out;
    setup_channel_network(*ms_);
    const std::string text = out.stop();
    ASSERT_EQ(run_error.error_code, 0) << text;
    ms_->time_tolerance = 1.1574e-07;
  }

  // Writes `text` as the point-source file the project names and runs the channel start-up;
  // returns what it printed.
  std::string start(const std::string& text) {
    write_file(dir_.file("points.txt"), text);
    snprintf(ms_->input.names.chan_point_input, sizeof ms_->input.names.chan_point_input, "%s",
             "points.txt");
    stdout_capture out;
    init_channel_storage(*ms_);
    return out.stop();
  }

  // Runs the point-source step at the given date.
  std::string step_at(int year, int month, int day, int hour, int minute) {
    ms_->current_time = julian_from_date(year, month, day, hour, minute, 0.0);
    stdout_capture out;
    chan_point_input_step(*ms_);
    return out.stop();
  }

  double flow(int link, int node) const {
    return ms_->channel.points.chan_point_flow[address(link, node)];
  }

  process_state_guard guard_;
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
};

// Files the reader takes: what it stores and when the first timed record falls due.
TEST_F(ChanPointTest, TheFileHeadIsReadIntoFlowsCountsAndTheFirstRecordDate) {
  ASSERT_EQ(ms_->channel.nx[1], 2);
  ASSERT_EQ(ms_->channel.nx[2], 1);
  ASSERT_EQ(ms_->channel.nx[3], 3);
  struct read_case {
    const char* name;
    std::string text;
    int points;
    int records;
    double first_record;  // Julian day of the first record, 0 when none falls due
    std::vector<int> addresses;
    std::vector<double> flows;
  };
  const std::string long_word(5000, 'x');
  const read_case cases[] = {
      {"no point sources", "NUMPT 0\nNRPDS 0\n", 0, 0, 0.0, {}, {}},
      {"no timed records", "NUMPT 1\nPOINT 2 3 4.5\nNRPDS 0\n", 1, 0, 0.0, {address(3, 2)}, {4.5}},
      {"the file ends before NRPDS",
       "NUMPT 2\nPOINT 1 2 0.25\nPOINT 3 3 1.75\n",
       2,
       0,
       0.0,
       {address(2, 1), address(3, 3)},
       {0.25, 1.75}},
      {"a two-digit year is in the 1900s",
       "NUMPT 1\nPOINT 1 1 2.0\nNRPDS 1\nINPUT 99 12 31 23 30\n3.0\n",
       1,
       1,
       julian_from_date(1999, 12, 31, 23, 30, 0.0),
       {address(1, 1)},
       {2.0}},
      {"a four-digit year stays",
       "NUMPT 1\nPOINT 1 1 2.0\nNRPDS 3\nINPUT 2005 3 14 7 0\n3.0\n",
       1,
       3,
       julian_from_date(2005, 3, 14, 7, 0, 0.0),
       {address(1, 1)},
       {2.0}},
      {"card words in any case, other words passed over",
       "Point sources of the test reach\n" + long_word +
           "\nnumpt 2\nthe first: Point 2 1 1.5\n"
           "and the second:\tPOINTSOURCE 1 2 -0.5\nNrpds 1\ninput 2010 6 1 0 0 9.0 9.0\n",
       2,
       1,
       julian_from_date(2010, 6, 1, 0, 0, 0.0),
       {address(1, 2), address(2, 1)},
       {1.5, -0.5}},
      {"Windows line ends",
       "NUMPT 1\r\nPOINT 3 3 6.0\r\nNRPDS 0\r\n",
       1,
       0,
       0.0,
       {address(3, 3)},
       {6.0}},
  };
  for (const read_case& c : cases) {
    SCOPED_TRACE(c.name);
    guard_.reset();
    SetUp();
    const std::string text = start(c.text);
    ASSERT_EQ(run_error.error_code, 0) << text;
    const chan_point_state& p = ms_->channel.points;
    ASSERT_EQ(p.chan_point_on, 1) << text;
    EXPECT_EQ(ms_->channel.chan_water_on, 1);
    EXPECT_EQ(p.chan_point_count, c.points);
    EXPECT_EQ(p.chan_point_records, c.records);
    EXPECT_DOUBLE_EQ(p.chan_point_next_time, c.first_record);
    double total = 0.0;
    for (std::size_t k = 0; k < c.addresses.size(); ++k) {
      EXPECT_EQ(p.chan_point_address[static_cast<int>(k) + 1], c.addresses[k]);
      EXPECT_EQ(p.chan_point_flow[c.addresses[k]], c.flows[k]);
      total += std::fabs(c.flows[k]);
    }
    double stored = 0.0;
    for (int a = 0; a <= ms_->channel.node_extent_product; ++a)
      stored += std::fabs(p.chan_point_flow[a]);
    EXPECT_EQ(stored, total) << "no flow outside the named nodes";
  }
}

// `n` words that are no card, on lines of ten.
std::string words(int n) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += i % 10 == 0 ? "word\n" : "word ";
  return s;
}

// Files the reader refuses: the run stops with a message that names the fault, the file and the
// line, and no flow is written outside the network.
TEST_F(ChanPointTest, FaultsOfTheFileStopTheRunNamingTheLine) {
  struct fault_case {
    const char* name;
    std::string text;
    std::string message;
  };
  const fault_case cases[] = {
      {"header not INPUT", "NUMPT 1\nPOINT 1 1 1.0\nNRPDS 2\nOUTPUT 2005 3 14 7 0\n2.0\n",
       "the timed record header on line 4 of the channel point-source file"},
      {"link above the links", "NUMPT 1\nPOINT 1 4 1.0\n",
       "POINT card on line 2 of the channel point-source file points.txt"
       " names link 4, which is not a link of the channel network (1 to 3)."},
      {"link 0", "NUMPT 1\n\nPOINT 1 0 1.0\n", "line 3 of the channel point-source file"},
      {"node past the link's nodes", "NUMPT 1\nPOINT 3 1 1.0\n",
       "names node 3 of link 1, which is not a node of that link (1 to 2)."},
      {"node 0", "NUMPT 1\nPOINT 0 3 1.0\n", "names node 0 of link 3"},
      {"node far past MAXNODES", "NUMPT 1\nPOINT 2000000000 3 1.0\n", "names node 2000000000"},
      {"the same node twice", "NUMPT 2\nPOINT 2 3 1.0\nPOINT 2 3 5.0\n",
       "names node 2 of link 3, which point source 1 already names."},
      {"negative NUMPT", "NUMPT -1\n",
       "gives -1 point sources: the count must lie between 0 and 6"},
      {"NUMPT beyond the nodes", "NUMPT 2000000\n", "gives 2000000 point sources"},
      {"negative NRPDS", "NUMPT 0\nNRPDS -3\n", "gives -3 timed records"},
      {"flow not a number", "NUMPT 1\nPOINT 1 1 lots\n", "\"lots\" is not a flow"},
      {"node not a number", "NUMPT 1\nPOINT one 1 1.0\n", "\"one\" is not a whole number"},
      {"month 13", "NUMPT 1\nPOINT 1 1 1.0\nNRPDS 1\nINPUT 2005 13 1 0 0\n",
       "line 4 of the channel point-source file points.txt"
       " gives a date whose month 13 is outside 1 to 12."},
      {"no NUMPT in the first 10000 words", words(10000) + "NUMPT 0\n",
       "There is a problem with your channel source input file.  TORVA cannot\n"
       "find the first card.  Check the format of your channel source file\n\n"},
      {"a POINT card missing", "NUMPT 2\nPOINT 1 1 1.0\n" + words(10000) + "POINT 2 3 1.0\n",
       "find the point source location card.  Check the format of your channel source file"},
      {"no NRPDS in the first 10000 words", "NUMPT 0\n" + words(10000) + "NRPDS 0\n",
       "find the number of timed changes to your point inputs."},
  };
  for (const fault_case& c : cases) {
    SCOPED_TRACE(c.name);
    guard_.reset();
    SetUp();
    const std::string text = start(c.text);
    EXPECT_TRUE(contains(text, c.message)) << text;
    EXPECT_EQ(run_error.error_fatal, 1);
  }
}

// The file ends where a value is due: the messages of the model, exactly; and a later record
// header that is not INPUT stops the run in the time loop.
TEST_F(ChanPointTest, AnUnexpectedEndOfTheFileStopsTheRunWithItsMessages) {
  const std::string tail =
      "Unexpected end of file in chan point data file.\nCheck the format of the data file.\n"
      "Program terminated.";
  const struct {
    const char* name;
    const char* text;
    std::string message;
  } cases[] = {
      {"empty file", "", tail},
      {"ends inside a POINT card", "NUMPT 1\nPOINT 1 1\n", tail},
      {"ends before the first header", "NUMPT 1\nPOINT 1 1 2.0\nNRPDS 1\n",
       "\n last year 0 last month 0 last day 0 last hour 0 last minute 0 \n" + tail},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    guard_.reset();
    SetUp();
    const std::string text = start(c.text);
    EXPECT_TRUE(contains(text, c.message)) << text;
    EXPECT_EQ(run_error.error_fatal, 1);
  }

  // In the time loop, at the first record's date: the second record's header is missing, or it
  // is not an INPUT header.
  const struct {
    const char* name;
    const char* text;
    const char* message;
  } in_loop[] = {
      {"second header missing", "NUMPT 1\nPOINT 1 1 2.0\nNRPDS 2\nINPUT 2005 3 14 7 0\n3.0\n",
       "\n last year 2005 last month 3 last day 14 last hour 7 last minute 0 \n"
       "Unexpected end of file in chan point input data file.\n"
       "Check the format of the data file.\nProgram terminated."},
      {"second header not INPUT",
       "NUMPT 1\nPOINT 1 1 2.0\nNRPDS 2\nINPUT 2005 3 14 7 0\n3.0\nINPT 2005 3 14 8 0\n4.0\n",
       "the timed record header on line 6 of the channel point-source file points.txt begins "
       "with \"INPT\" instead of INPUT."},
  };
  for (const auto& c : in_loop) {
    SCOPED_TRACE(c.name);
    guard_.reset();
    SetUp();
    const std::string head = start(c.text);
    ASSERT_EQ(run_error.error_code, 0) << head;
    const std::string text = step_at(2005, 3, 14, 7, 0);
    EXPECT_TRUE(contains(text, c.message)) << text;
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_EQ(flow(1, 1), 3.0);  // the record was read before its successor's header
  }
}

// A file that cannot be opened is reported, and the run goes on without point inputs.
TEST_F(ChanPointTest, AFileThatCannotBeOpenedLeavesThePointInputsOff) {
  snprintf(ms_->input.names.chan_point_input, sizeof ms_->input.names.chan_point_input, "%s",
           "missing.txt");
  stdout_capture out;
  init_channel_storage(*ms_);
  const std::string text = out.stop();
  EXPECT_TRUE(contains(text,
                       "Can't open missing.txt to read channel point source input file \n"
                       "There will be no point inputs to the channel file \n"))
      << text;
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ms_->channel.points.chan_point_on, 0);
}

// The flows of a record take over when its date comes and stay after the last record; before
// the first record the POINT flows hold.
TEST_F(ChanPointTest, TheStepChangesTheFlowsWhenARecordsDateComes) {
  const std::string text = start(
      "NUMPT 2\nPOINT 1 1 1.0\nPOINT 2 3 2.0\nNRPDS 2\n"
      "INPUT 2005 3 14 7 0\n5.0 6.0\n"
      "INPUT 2005 3 14 8 0\n7.0\n0.0\n");
  ASSERT_EQ(run_error.error_code, 0) << text;
  const chan_point_state& p = ms_->channel.points;
  const struct {
    int hour, minute;
    double q1, q2;
    int read;
  } steps[] = {
      {6, 59, 1.0, 2.0, 0},                       // before the first record
      {7, 0, 5.0, 6.0, 1},                        // the first record's date
      {7, 1, 5.0, 6.0, 1},  {8, 0, 7.0, 0.0, 2},  // the last record
      {9, 0, 7.0, 0.0, 2},                        // and it stays
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(std::to_string(s.hour) + ":" + std::to_string(s.minute));
    const std::string out = step_at(2005, 3, 14, s.hour, s.minute);
    ASSERT_EQ(run_error.error_code, 0) << out;
    EXPECT_EQ(flow(1, 1), s.q1);
    EXPECT_EQ(flow(3, 2), s.q2);
    EXPECT_EQ(p.chan_point_records_read, s.read);
  }
  EXPECT_EQ(p.chan_point_next_time, 0.0);
}

// A record dated between two steps acts at the first step after its date, and records whose
// dates have all passed are read together, the last one staying in force.
TEST_F(ChanPointTest, ARecordBetweenStepsActsAtTheNextStep) {
  const std::string text = start(
      "NUMPT 1\nPOINT 3 3 1.0\nNRPDS 3\n"
      "INPUT 2005 3 14 7 1\n2.0\n"
      "INPUT 2005 3 14 7 2\n3.0\n"
      "INPUT 2005 3 14 7 3\n4.0\n");
  ASSERT_EQ(run_error.error_code, 0) << text;
  step_at(2005, 3, 14, 7, 0);
  EXPECT_EQ(flow(3, 3), 1.0);
  step_at(2005, 3, 14, 7, 2);  // the records of 7:01 and 7:02 have come
  EXPECT_EQ(flow(3, 3), 3.0);
  EXPECT_EQ(ms_->channel.points.chan_point_records_read, 2);
  step_at(2005, 3, 14, 7, 4);
  EXPECT_EQ(flow(3, 3), 4.0);
  EXPECT_EQ(run_error.error_code, 0);
}

// A point inflow adds exactly its volume to the channel at every routing step: the water held
// changes by the inflow less the outflow, and the routing books the inflow. With a head boundary
// a point inflow at the outlet node passes through with the outlet flow and leaves the held
// node's water as it is.
TEST(ChanPointRouting, PointInflowsAddExactlyTheirVolume) {
  for (int head_bound = 0; head_bound <= 1; ++head_bound) {
    SCOPED_TRACE(head_bound ? "head boundary" : "normal-flow outlet");
    process_state_guard guard;
    auto ms = std::make_unique<model_state>();
    channel_state& ch = ms->channel;
    routing_test::build_network(*ms, {{.nodes = 3, .downstream = 2}, {.nodes = 4, .up = {1}}});
    for (int l = 1; l <= 2; ++l)
      for (int j = 1; j <= ch.nx[l]; ++j) routing_test::set_depth(*ms, l, j, 0.3);
    ch.head_bound = head_bound;
    chan_point_state& p = ch.points;
    p.node_stride = 10;
    ASSERT_TRUE(p.chan_point_flow.allocate(3 * 10));
    p.chan_point_flow[1 * 10 + 2] = 2.0;  // link 1 node 2
    p.chan_point_flow[2 * 10 + 4] = 1.5;  // the outlet node
    p.chan_point_on = 1;
    const double outlet_area = ch.area(2, 4);
    for (int step = 0; step < 10; ++step) {
      const double before = routing_test::network_volume(*ms);
      double pipe = 0.0;
      ASSERT_EQ(ex_flow_route(*ms, 30.0, pipe), 0) << step;
      EXPECT_NEAR(ch.chan_source_volume, 30.0 * 3.5, 1e-9);
      EXPECT_NEAR(routing_test::network_volume(*ms) - before, 105.0 - ch.chan_outlet_volume, 1e-9);
      if (head_bound) {
        EXPECT_EQ(ch.area(2, 4), outlet_area);
        EXPECT_DOUBLE_EQ(ch.qp(2, 4), ch.qp(2, 3) + 1.5);
      }
    }
  }
}

}  // namespace
