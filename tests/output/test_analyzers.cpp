// Analyzers: the control file read into analyzers (types, letters, operators, numbers and the
// faults of a line), the comparisons over channel tables and constituent rows, the report
// layouts the output letters choose, and the events an analyzer fires on (the timed event with
// its interval among them).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "output/analyzers/analyzer.h"
#include "output/analyzers/stream_analyzers.h"
#include "output/output_steps.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// A channel network of three links with 2, 3 and 1 nodes; its discharge, water surface, bed and
// flow area tables are allocated and zero.
std::unique_ptr<model_state> network_state() {
  auto ms = std::make_unique<model_state>();
  channel_state& ch = ms->channel;
  ch.chan_link_count = 3;
  EXPECT_TRUE(ch.nx1.allocate(3));
  ch.nx1[1] = 2;
  ch.nx1[2] = 3;
  ch.nx1[3] = 1;
  EXPECT_TRUE(ch.qp.allocate(3, ch.nx1.data()));
  EXPECT_TRUE(ch.yp.allocate(3, ch.nx1.data()));
  EXPECT_TRUE(ch.bel.allocate(3, ch.nx1.data()));
  EXPECT_TRUE(ch.area.allocate(3, ch.nx1.data()));
  ms->current_time = julian_from_date(2005, 3, 14, 6, 30, 0.0);
  ms->time_tolerance = 1.1574074074074074e-07;
  return ms;
}

// The analyzers of ms's list, in order.
std::vector<stream_analyzer*> analyzers_of(const model_state& ms) {
  std::vector<stream_analyzer*> list;
  for (analyzer* a = ms.output.analyzer_list; a != nullptr; a = a->next)
    list.push_back(dynamic_cast<stream_analyzer*>(a));
  return list;
}

// Reads `text` as the analyzer file of ms; returns the console.
std::string read_control(model_state& ms, const std::string& text) {
  write_file("watch.ana", text);
  stdout_capture capture;
  read_analyzer_file(ms, "watch.ana");
  return capture.stop();
}

class Analyzers : public ::testing::Test {
 protected:
  torva_test::process_state_guard guard;
  temp_dir dir;
};

}  // namespace

TEST_F(Analyzers, ControlLinesBecomeAnalyzersInFileOrderWithTheirLettersAndNumbers) {
  auto ms = network_state();
  const std::string out = read_control(*ms,
                                       "# depth above half a metre, timed\n"
                                       "2DS depth tes > 0.5 vsfcd 3600 deep.txt\n"
                                       "2DG grid S > 1 s\n"
                                       "NSM_OV x S > 1 s\n"
                                       "1DSX conc_1 S < 1 s\n"
                                       "2DSX FLOW S <= 2 vt\n"
                                       "2DS area c => 1 tv\n"
                                       "2DS flow E + 1 t\n"
                                       "2DS flow e\n");
  EXPECT_EQ(out,
            "Error: Setting up 1DS analyzer when no constituents are being modeled.\n"
            "Set up 6 analyzers...\n");
  const std::vector<stream_analyzer*> list = analyzers_of(*ms);
  ASSERT_EQ(list.size(), 6u);

  const stream_analyzer& deep = *list[0];
  ASSERT_NE(dynamic_cast<const stanalyzer_2dst*>(&deep), nullptr);
  EXPECT_EQ(deep.event_mask, 1u | 4u | 16u);
  EXPECT_EQ(deep.op_code, static_cast<unsigned>(op_greater));
  EXPECT_EQ(deep.threshold, 0.5);
  EXPECT_EQ(deep.output_flags, 2u | 4u | 8u | 16u | 32u);
  EXPECT_DOUBLE_EQ(deep.interval, 3600.0 / 86400.0);
  EXPECT_EQ(deep.next_time, ms->current_time);
  EXPECT_DOUBLE_EQ(deep.last_time, ms->current_time - 3600.0 / 86400.0);
  EXPECT_EQ(deep.model_time, &ms->current_time);
  EXPECT_EQ(deep.output_name, "deep.txt");
  EXPECT_TRUE(deep.output_file.is_open());
  // Depth is the water surface less the bed.
  const auto* deep2d = dynamic_cast<const stanalyzer_2dst*>(&deep);
  EXPECT_EQ(deep2d->target, &ms->channel.yp);
  ASSERT_NE(deep2d->op2d, nullptr);
  EXPECT_EQ(deep2d->op2d->operand_mode(), static_cast<unsigned>(op_subtract));

  // A type word that begins with 1DS is a 1DS analyzer; without constituents it tests nothing.
  ASSERT_NE(dynamic_cast<const stanalyzer_1dst*>(list[1]), nullptr);
  EXPECT_EQ(list[1]->op(), nullptr);
  EXPECT_EQ(list[1]->op_code, static_cast<unsigned>(op_less));

  // FLOW is lower-cased; "<=" is not "<"; "vt" chooses the list, "tv" the table.
  EXPECT_EQ(dynamic_cast<const stanalyzer_2dst*>(list[2])->target, &ms->channel.qp);
  EXPECT_EQ(list[2]->op_code, static_cast<unsigned>(op_less_equal));
  EXPECT_EQ(list[2]->output_flags, static_cast<unsigned>(out_list));
  EXPECT_EQ(list[3]->op_code, static_cast<unsigned>(op_none));
  EXPECT_EQ(list[3]->output_flags, static_cast<unsigned>(out_table));
  EXPECT_EQ(list[3]->event_mask, 32u);
  EXPECT_EQ(list[4]->op_code, static_cast<unsigned>(op_add));
  EXPECT_EQ(list[4]->event_mask, 2u);
  // Missing threshold and outputs: 0.0 and none.
  EXPECT_EQ(list[5]->threshold, 0.0);
  EXPECT_EQ(list[5]->output_flags, 0u);
  EXPECT_EQ(list[5]->event_mask, 4u);
}

TEST_F(Analyzers, OperatorAndTypeWordsAreReadByPrefixInTheirOrder) {
  const std::pair<const char*, unsigned> ops[] = {
      {"<=", 3}, {"<=x", 3}, {">=", 4}, {"==", 2}, {"<", 0},  {"<>", 0}, {">", 1},
      {"+", 5},  {"-", 6},   {"*", 7},  {"\\", 8}, {"=>", 9}, {"", 9},   {"lt", 9}};
  for (const auto& [token, code] : ops) EXPECT_EQ(analyzer_parse_operator(token), code) << token;
  const std::pair<const char*, int> types[] = {
      {"2DG", 0},    {"1DS", 1},    {"1DSX", 1},   {"2DS", 2},  {"2DS_depth", 2}, {"NSM_OV", 3},
      {"NSM_ST", 4}, {"NSM_SL", 5}, {"NSM_O", -1}, {"1ds", -1}, {"", -1},         {"3DS", -1}};
  for (const auto& [token, code] : types) EXPECT_EQ(analyzer_parse_type(token), code) << token;
}

TEST_F(Analyzers, AFileOfCommentsAndOtherTypesSetsUpNoneAndAMissingFileSaysNothing) {
  auto ms = network_state();
  EXPECT_EQ(read_control(*ms, "# nothing here\n2DG a\nNSM_OV b\nNSM_ST c\nNSM_SL d\n\n"),
            "Set up 0 analyzers...\n");
  EXPECT_EQ(ms->output.analyzer_list, nullptr);

  stdout_capture capture;
  read_analyzer_file(*ms, "absent.ana");
  EXPECT_EQ(capture.stop().find("Set up"), std::string::npos);
  EXPECT_EQ(ms->output.analyzer_list, nullptr);
  EXPECT_EQ(run_error.error_fatal, 0);

  // The last line is read once, with or without its newline, and a carriage return is dropped.
  auto last = network_state();
  EXPECT_EQ(read_control(*last, "2DS flow S > 1 s\r\n2DS area S > 1 s"), "Set up 2 analyzers...\n");
  EXPECT_EQ(analyzers_of(*last).size(), 2u);

  // SUPER_QUIET keeps the count off the console.
  auto quiet = network_state();
  quiet->super_quiet = 1;
  EXPECT_EQ(read_control(*quiet, "2DS flow S > 1 s\n"), "");
  EXPECT_EQ(analyzers_of(*quiet).size(), 1u);
}

TEST_F(Analyzers, AFaultyLineStopsTheRunNamingTheFileTheLineAndTheField) {
  struct bad_line {
    std::string line;
    std::string message;
  };
  // (The file handle says first that it found no file to open.)
  const bad_line cases[] = {
      {"2DS flow S > 0.5x s",
       "Error: the threshold on line 2 of the analyzer file watch.ana: \"0.5x\" is not a "
       "number.\n"},
      {"2DS flow t > 1 s 1h",
       "Error: the firing interval on line 2 of the analyzer file watch.ana: \"1h\" is not a "
       "whole number of seconds, 0 or more.\n"},
      {"2DS flow t > 1 s -60",
       "Error: the firing interval on line 2 of the analyzer file watch.ana: \"-60\" is not a "
       "whole number of seconds, 0 or more.\n"},
      {"2DS flow S > 1 sf",
       "Error: the output letter f on line 2 of the analyzer file watch.ana is not followed by "
       "an output file name.\n"},
      {"2DS flow S > 1 f no_such_folder/out.txt",
       "Error: unable to open the analyzer output file no_such_folder/out.txt named on line 2 "
       "of the analyzer file watch.ana.\n"},
  };
  for (const bad_line& c : cases) {
    SCOPED_TRACE(c.line);
    run_error = error_state{};
    auto ms = network_state();
    const std::string out =
        read_control(*ms, "# the next line is wrong\n" + c.line + "\n2DS flow S > 1 s\n");
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(out.find("Error: "), out.find(c.message)) << out;
    EXPECT_EQ(out.find("Set up"), std::string::npos) << out;
    EXPECT_EQ(run_error.error_fatal, 1);
    // The line after the faulty one is not read.
    EXPECT_EQ(analyzers_of(*ms).size(), 1u);
  }
}

TEST_F(Analyzers, ComparisonsFlagEveryNodeOfEveryLink) {
  auto ms = network_state();
  channel_state& ch = ms->channel;
  // Water surface and bed: depths 0.2 0.7 | 0.5 0.5 0.9 | 1.0.
  const double depth[4][4] = {{}, {0, 0.2, 0.7}, {0, 0.5, 0.5, 0.9}, {0, 1.0}};
  for (int link = 1; link <= 3; ++link)
    for (int node = 1; node <= ch.nx1[link]; ++node) {
      ch.bel(link, node) = 100.0 + link;
      ch.yp(link, node) = ch.bel(link, node) + depth[link][node];
    }
  stanalyzer_2dst a;
  std::string line = "depth S < 5 s";
  ASSERT_TRUE(a.configure(*ms, line, {"watch.ana", 1}));
  st2d_logical_OP& op = *a.op2d;

  EXPECT_TRUE(op.less(5.0));
  for (int link = 1; link <= 3; ++link)
    for (int node = 1; node <= ch.nx1[link]; ++node) EXPECT_TRUE(op.flag(link, node));
  EXPECT_STREQ(op.description(), "< 5.000000");
  EXPECT_EQ(op.test_time(), ms->current_time);

  // Exact equality only; the values compared are the depths (0.5 is exact in both tables).
  ch.yp(2, 1) = ch.bel(2, 1) + 0.5;
  EXPECT_TRUE(op.equal(0.5));
  EXPECT_TRUE(op.flag(2, 1));
  EXPECT_TRUE(op.flag(2, 2));
  EXPECT_FALSE(op.flag(1, 1));
  EXPECT_FALSE(op.flag(3, 1));
  EXPECT_FALSE(op.greater(1.0));
  EXPECT_TRUE(op.greater_equal(1.0));
  EXPECT_TRUE(op.flag(3, 1));
  EXPECT_FALSE(op.flag(2, 3));
  EXPECT_TRUE(op.less_equal(0.2 + 1e-12));
  EXPECT_TRUE(op.flag(1, 1));
  EXPECT_FALSE(op.flag(1, 2));
  op.greater(0.5);
  EXPECT_STREQ(op.description(), "> 0.500000");
  EXPECT_NEAR(op.shown_value(2, 3), 0.9, 1e-12);
  // An operator that is no comparison tests nothing.
  EXPECT_FALSE(op.compare(op_add, 0.0));

  // Division by an operand of 0.0 compares 9999.99.
  st2d_logical_OP divided;
  ASSERT_TRUE(divided.setup(&ch.qp, 3, ch.nx1.data(), &ms->current_time, "flow"));
  divided.set_operand(op_divide, &ch.area);
  ch.qp(1, 1) = 3.0;
  ch.area(1, 1) = 2.0;
  ch.qp(1, 2) = 3.0;  // area 0.0
  EXPECT_TRUE(divided.greater(1000.0));
  EXPECT_EQ(divided.shown_value(1, 1), 1.5);
  EXPECT_EQ(divided.shown_value(1, 2), 9999.99);
  EXPECT_FALSE(divided.flag(1, 1));
  EXPECT_TRUE(divided.flag(1, 2));
  const std::pair<unsigned, double> modes[] = {
      {op_add, 5.0}, {op_subtract, 1.0}, {op_multiply, 6.0}, {op_none, 3.0}};
  for (const auto& [mode, expected] : modes) {
    divided.set_operand(mode, &ch.area);
    EXPECT_EQ(divided.value_at(1, 1), expected) << mode;
  }
}

TEST_F(Analyzers, ReportLayoutsFollowTheOutputLetters) {
  auto ms = network_state();
  channel_state& ch = ms->channel;
  ch.qp(1, 1) = 0.2;
  ch.qp(1, 2) = 0.7;
  ch.qp(2, 1) = 0.1;
  ch.qp(2, 2) = 0.3;
  ch.qp(2, 3) = 0.9;
  ch.qp(3, 1) = 0.6;
  const std::string at = "03-14-2005, 6:30: 0";
  struct layout {
    const char* letters;
    int event;
    std::string text;
  };
  const layout cases[] = {
      {"ts", 1,
       "\n\nValues in the 2D stream array flow at " + at +
           ": \nLink   1, Node   2\nLink   2, Node   3\nLink   3, Node   1\n"},
      {"tcds", 4,
       "\n\nResults for logic test of the 2D stream array flow at the end of an event at " + at +
           ".  Nodes with values > 0.500000:\nLink   1, Node   2:        0.700000\n"
           "Link   2, Node   3:        0.900000\nLink   3, Node   1:        0.600000\n"
           "====> 3 out of 6 nodes passed the logic test.\n"},
      {"vcs", 16,
       "\n\nResults for logic test of the 2D stream array flow at the end of simulation at " + at +
           ".  Nodes with values > 0.500000:\n   1:[F, 0.2000][T, 0.7000]\n"
           "   2:[F, 0.1000][F, 0.3000][T, 0.9000]\n   3:[T, 0.6000]\n"
           "====> 3 out of 6 nodes passed the logic test.\n"},
      {"s", 8,
       "\n\nValues in the 2D stream array flow at the beginning of the simulation at " + at +
           ": \nFTFFTT"},
      {"ds", 32,
       "\n\nValues in the 2D stream array flow at the program crash point at " + at +
           ": \n[F, 0.2000][T, 0.7000][F, 0.1000][F, 0.3000][T, 0.9000][T, 0.6000]"},
      {"vs", 1,
       "\n\nValues in the 2D stream array flow at " + at + ": \n   1:FT\n   2:FFT\n   3:T\n"},
  };
  for (const layout& c : cases) {
    SCOPED_TRACE(c.letters);
    stanalyzer_2dst a;
    std::string line = std::string("flow tESesc > 0.5 ") + c.letters + " 0";
    ASSERT_TRUE(a.configure(*ms, line, {"watch.ana", 1}));
    stdout_capture capture;
    a.on_event(*ms, c.event);
    EXPECT_EQ(capture.stop(), c.text);
  }

  // The file takes the console's text; without s the console has nothing.
  stanalyzer_2dst filed;
  std::string line = "flow S > 0.5 vcf flow_report.txt";
  ASSERT_TRUE(filed.configure(*ms, line, {"watch.ana", 1}));
  stdout_capture capture;
  filed.on_event(*ms, analyzer_startup_done);
  EXPECT_EQ(capture.stop(), "");
  filed.close_output();
  EXPECT_EQ(read_file("flow_report.txt"),
            "\n\nResults for logic test of the 2D stream array flow at the beginning of the "
            "simulation at " +
                at +
                ".  Nodes with values > 0.500000:\n   1:[F, 0.2000][T, 0.7000]\n"
                "   2:[F, 0.1000][F, 0.3000][T, 0.9000]\n   3:[T, 0.6000]\n"
                "====> 3 out of 6 nodes passed the logic test.\n");
}

TEST_F(Analyzers, TheTimedEventFollowsItsFiringTimesAndOtherEventsFireWhenTheyCome) {
  auto ms = network_state();
  const double start = ms->current_time;
  const double dt = 900.0 / 86400.0;
  // Fires at start-up (S), at the first step, then at the first step at or after each hour
  // after the previous firing; E and letters the analyzer does not hold never fire.
  struct timing {
    const char* line;
    std::vector<int> fired;  // steps that fire (0: the start-up notice)
  };
  const timing cases[] = {
      {"flow tS > -1 s 3600", {0, 1, 5, 9}},
      {"flow t > -1 s 0", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {"flow t > -1 s 2700", {1, 4, 7, 10}},
      {"flow ES > -1 s", {0}},
      {"flow e > -1 s", {}},
      {"flow S >= 1 s", {0}},   // nothing passes: the report is still written
      {"flow tS + 1 s 0", {}},  // an operand code as operator never tests or writes
  };
  for (const timing& c : cases) {
    SCOPED_TRACE(c.line);
    ms->current_time = start;
    stanalyzer_2dst a;
    std::string line = c.line;
    ASSERT_TRUE(a.configure(*ms, line, {"watch.ana", 1}));
    std::vector<int> fired;
    const auto notice = [&](int step, int bit) {
      stdout_capture capture;
      a.on_event(*ms, bit);
      if (!capture.stop().empty()) fired.push_back(step);
    };
    notice(0, analyzer_startup_done);
    notice(0, analyzer_event_started);
    for (int step = 1; step <= 10; ++step) {
      ms->current_time += dt;
      notice(step, analyzer_step_done);
    }
    EXPECT_EQ(fired, c.fired);
  }
}

TEST_F(Analyzers, OneDimensionalRowsAreTestedByTheirLinkMajorIndex) {
  // Three links of 2, 3 and 1 nodes in rows of stride 4: element (link, node) at 4 link + node.
  const int nodes[4] = {0, 2, 3, 1};
  std::vector<double> row(4 * 4 + 4, 99.0);
  const double values[4][4] = {{}, {0, 0.1, 0.6}, {0, 0.2, 0.3, 0.8}, {0, 0.9}};
  for (int link = 1; link <= 3; ++link)
    for (int node = 1; node <= nodes[link]; ++node) row[4 * link + node] = values[link][node];
  double now = julian_from_date(2005, 3, 14, 6, 30, 0.0);
  st1d_logical_OP op;
  ASSERT_TRUE(op.setup(row.data(), static_cast<int>(row.size()), 3, nodes, 4, &now, "conc_1"));
  EXPECT_TRUE(op.less(1.0));
  for (int link = 1; link <= 3; ++link)
    for (int node = 1; node <= nodes[link]; ++node) EXPECT_TRUE(op.flag(link, node));
  EXPECT_TRUE(op.greater(0.5));
  file_handle none;
  stdout_capture capture;
  op.report(out_list | out_values | out_console, analyzer_step_done, none);
  EXPECT_EQ(capture.stop(),
            "\n\nValues in the 2D stream array conc_1 at 03-14-2005, 6:30: 0: \n"
            "Link   1, Node   2:        0.600000\nLink   2, Node   3:        0.800000\n"
            "Link   3, Node   1:        0.900000\n");
  // A row too short for the network is refused.
  st1d_logical_OP short_row;
  EXPECT_FALSE(short_row.setup(row.data(), 13, 3, nodes, 4, &now, "conc_1"));
}

TEST_F(Analyzers, OneDimensionalTargetsNameAConstituentInRange) {
  auto ms = network_state();
  transport_state& tr = ms->transport;
  tr.num_contaminants = 2;
  tr.con_node_stride = 3;
  ASSERT_TRUE(tr.chan_con_conc.allocate(2, 4 * 3 + 3));
  tr.chan_con_conc[2][3 * 2 + 3] = 7.0;  // link 2, node 3
  const std::string out = read_control(*ms,
                                       "1DS conc_0 S > 1 s\n"
                                       "1DS conc_3 S > 1 s\n"
                                       "1DS Conc_1 S > 1 s\n"
                                       "1DS qlatmass_1 S > 1 s\n"
                                       "1DS conc_2 S > 5 ts\n");
  EXPECT_EQ(out,
            "Error: 1DS Analyzer for conc with index 0 is out of range. Range for index is 1 to "
            "2.\n"
            "Error: 1DS Analyzer for conc with index 3 is out of range. Range for index is 1 to "
            "2.\n"
            "Error: unable to find 1DS array [Conc]\n"
            "Error: unable to find 1DS array [qlatmass]\n"
            "Set up 5 analyzers...\n");
  const std::vector<stream_analyzer*> list = analyzers_of(*ms);
  ASSERT_EQ(list.size(), 5u);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(list[k]->op(), nullptr) << k;
  const auto* conc = dynamic_cast<const stanalyzer_1dst*>(list[4]);
  ASSERT_NE(conc, nullptr);
  EXPECT_EQ(conc->target, tr.chan_con_conc[2]);
  stdout_capture capture;
  analyzers_notify(*ms, analyzer_startup_done);
  EXPECT_EQ(capture.stop(),
            "\n\nValues in the 2D stream array conc_2 at the beginning of the simulation at "
            "03-14-2005, 6:30: 0: \nLink   2, Node   3\n");
}
