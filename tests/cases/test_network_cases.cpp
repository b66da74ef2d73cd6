// End-to-end cases of the channel network's shape and its outlet, run by the real torva
// executable: a malformed network is refused at start-up with a message naming the file, the
// link and the fault, while the well-formed one runs; an outlet held at a depth by the head
// boundary keeps that depth (or its series' value) at every output, and a held depth above the
// normal depth backs the water up along the standard-step profile; 1 and 8 threads agree.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::command_result;
using torva_test::contains;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::summary_balance;
using torva_test::temp_dir;
using torva_test::torva_exe;
using torva_test::write_file;

namespace {

// Replaces the one occurrence of `from` in `text` by `to`; the test fails when it is missing.
std::string replaced(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at == std::string::npos) return text;
  return text.substr(0, at) + to + text.substr(at + from.size());
}

// Writes the project and runs it on one thread (the NUM_THREADS card).
command_result run_project_file(const std::string& project, const std::string& text) {
  write_file(project, text);
  return torva_test::run_with_threads(project, 1);
}

// ---------------------------------------------------------------------------------------------
// A malformed network.

// Six cells of 100 m in one row. Link 1, a trapezoid of two computational nodes under cells 1
// and 2, spills over a weir (link 2) into link 3, a break-point V of three computational nodes
// under cells 3 to 5 that ends at the outlet. The head of link 1 is fed 2 m3/s.
const std::string net_chn =
    "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 3\nMAXNODES 4\n"
    "CONNECT 1 2 0\nCONNECT 2 3 1 1\nCONNECT 3 0 1 2\n"
    "LINK 1\nNODES 3\nDX 100.0\nTRAPEZOID\nMANNINGS_N 0.035\n"
    "NODE 1\nELEV 99.0\nXSEC\nBOTTOM_WIDTH 2.0\nSIDE_SLOPE 1.0\nPOINTSOURCE feed\n"
    "NODE 2\nELEV 98.9\nNODE 3\nELEV 98.8\n"
    "LINK 2\nSTRUCTURE\nNUMSTRUCTS 1\n"
    "STRUCTTYPE WEIR\nCREST_LENGTH 5.0\nCREST_LOW_ELEV 99.0\n"
    "DISCHARGE_COEFF_FORWARD 0.6\nDISCHARGE_COEFF_REVERSE 0.6\n"
    "LINK 3\nNODES 4\nDX 100.0\nBREAKPOINT\nMANNINGS_N 0.03\n"
    "NODE 1\nELEV 98.5\nNPAIRS 3\nNUM_INTERP 20\nX1 0.0 100.5\nX1 4.0 98.5\nX1 8.0 100.5\n"
    "NODE 2\nELEV 98.4\nNODE 3\nELEV 98.3\nNODE 4\nELEV 98.2\n";

const std::string net_gst =
    "GRIDSTREAMFILE\nSTREAMCELLS 5\n"
    "CELLIJ 1 1\nNUMNODES 1\nLINKNODE 1 1 1.0\n"
    "CELLIJ 1 2\nNUMNODES 1\nLINKNODE 1 2 1.0\n"
    "CELLIJ 1 3\nNUMNODES 1\nLINKNODE 3 1 1.0\n"
    "CELLIJ 1 4\nNUMNODES 1\nLINKNODE 3 2 1.0\n"
    "CELLIJ 1 5\nNUMNODES 1\nLINKNODE 3 3 1.0\n";

void write_net_inputs() {
  const std::string header =
      "north: 1100.0\nsouth: 1000.0\neast: 600.0\nwest: 0.0\nrows: 1\ncols: 6\n";
  write_file("net_mask.asc", header + "1 1 1 1 1 1\n");
  write_file("net_elev.asc", header + "101.0 100.9 100.5 100.4 100.3 100.2\n");
  write_file("feed.ts", "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 0 0 2.0\n2005 3 16 0 0 2.0\nEND_TS\n");
}

const std::string net_project =
    "TORVAPROJECT\nWATERSHED_MASK net_mask.asc\nELEVATION net_elev.asc\n"
    "SUMMARY net_summary.out\nOUTLET_HYDRO net_outlet.out\nROWS 1\nCOLS 6\nGRIDSIZE 100.0\n"
    "START_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 2.0\nTOT_TIME 60\nHYD_FREQ 10\n"
    "OUTROW 1\nOUTCOL 6\nOUTSLOPE 0.001\nMANNING_N 0.05\nOVERTYPE explicit\n"
    "PRECIP_UNIF\nRAIN_INTENSITY 1.0\nRAIN_DURATION 10\nTIME_SERIES_FILE feed.ts\n"
    "CHAN_EXPLIC\nCHANNEL_INPUT net.chn\nSTREAM_CELL net.gst\n";

struct malformed_case {
  const char* name;
  std::string chn;
  std::string gst;
  const char* file;                // the file the message must name
  const char* link;                // the link it must name ("link 3"), or the card's node and link
  std::vector<const char*> fault;  // words that say what is wrong
};

std::vector<malformed_case> malformed_cases() {
  const std::string weir =
      "STRUCTTYPE WEIR\nCREST_LENGTH 5.0\nCREST_LOW_ELEV 99.0\n"
      "DISCHARGE_COEFF_FORWARD 0.6\nDISCHARGE_COEFF_REVERSE 0.6\n";
  const std::string link1 =
      "LINK 1\nNODES 3\nDX 100.0\nTRAPEZOID\nMANNINGS_N 0.035\n"
      "NODE 1\nELEV 99.0\nXSEC\nBOTTOM_WIDTH 2.0\nSIDE_SLOPE 1.0\nPOINTSOURCE feed\n"
      "NODE 2\nELEV 98.9\nNODE 3\nELEV 98.8\n";
  const std::string two_link_head =
      "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 2\nMAXNODES 4\n";
  const std::string two_link_body = link1 +
                                    "LINK 2\nNODES 4\nDX 100.0\nTRAPEZOID\nMANNINGS_N 0.03\n" +
                                    "NODE 1\nELEV 98.7\nXSEC\nBOTTOM_WIDTH 2.0\nSIDE_SLOPE 1.0\n"
                                    "NODE 2\nELEV 98.6\nNODE 3\nELEV 98.5\nNODE 4\nELEV 98.4\n";
  const std::string two_link_gst =
      "GRIDSTREAMFILE\nSTREAMCELLS 5\n"
      "CELLIJ 1 1\nNUMNODES 1\nLINKNODE 1 1 1.0\nCELLIJ 1 2\nNUMNODES 1\nLINKNODE 1 2 1.0\n"
      "CELLIJ 1 3\nNUMNODES 1\nLINKNODE 2 1 1.0\nCELLIJ 1 4\nNUMNODES 1\nLINKNODE 2 2 1.0\n"
      "CELLIJ 1 5\nNUMNODES 1\nLINKNODE 2 3 1.0\n";
  const std::string& c = net_chn;
  const std::string& g = net_gst;
  return {
      {"a cycle of two links",
       two_link_head + "CONNECT 1 2 1 2\nCONNECT 2 1 1 1\n" + two_link_body,
       two_link_gst,
       "net.chn",
       "link 1",
       {"loop"}},
      {"a link draining into itself",
       replaced(c, "CONNECT 1 2 0", "CONNECT 1 1 0"),
       g,
       "net.chn",
       "link 1",
       {"itself"}},
      {"a downstream link that does not list its upstream link",
       replaced(c, "CONNECT 3 0 1 2", "CONNECT 3 0 0"),
       g,
       "net.chn",
       "link 2",
       {"does not list link 2"}},
      {"a node without ELEV",
       replaced(c, "NODE 2\nELEV 98.9\n", "NODE 2\n"),
       g,
       "net.chn",
       "node 2 of link 1",
       {"no ELEV"}},
      {"a last node without ELEV",
       replaced(c, "NODE 4\nELEV 98.2\n", "NODE 4\n"),
       g,
       "net.chn",
       "node 4 of link 3",
       {"no ELEV"}},
      {"a section of bottom width 0 and side slope 0",
       replaced(c, "BOTTOM_WIDTH 2.0\nSIDE_SLOPE 1.0", "BOTTOM_WIDTH 0.0\nSIDE_SLOPE 0.0"),
       g,
       "net.chn",
       "link 1",
       {"bottom width of 0", "side slope of 0"}},
      {"a weir without CREST_LENGTH",
       replaced(c, "CREST_LENGTH 5.0\n", ""),
       g,
       "net.chn",
       "link 2",
       {"WEIR", "crest length"}},
      {"a weir without a discharge coefficient",
       replaced(c, "DISCHARGE_COEFF_FORWARD 0.6\n", ""),
       g,
       "net.chn",
       "link 2",
       {"WEIR", "discharge coefficient"}},
      {"a culvert of DIAMETER 0",
       replaced(c, weir,
                "STRUCTTYPE ROUND_CULVERT\nLENGTH 10.0\nUPINVERT 98.8\nDOWNINVERT 98.6\n"
                "DIAMETER 0.0\nINLET_DISCH_COEFF 0.6\nREV_FLOW_DISCH_COEFF 0.6\n"
                "ROUGH_COEFF 0.015\n"),
       g,
       "net.chn",
       "link 2",
       {"ROUND_CULVERT", "barrel of size 0"}},
      {"a sag weir whose first slope exceeds its second",
       replaced(c, weir,
                "STRUCTTYPE SAG_WEIR\nLENGTH 6.0\nCREST_LOW_ELEV 99.0\nSTEEP_SLOPE 0.3\n"
                "SHALLOW_SLOPE 0.1\nDISCHARGE_COEFF_FORWARD 0.6\nDISCHARGE_COEFF_REVERSE 0.6\n"),
       g,
       "net.chn",
       "link 2",
       {"SAG_WEIR", "first slope", "above its second"}},
      {"a repeated LINK block", c + link1, g, "net.chn", "link 1", {"second LINK block"}},
      {"X1 stations out of order",
       replaced(c, "X1 4.0 98.5", "X1 -4.0 98.5"),
       g,
       "net.chn",
       "link 3",
       {"station -4 after station 0", "must not decrease"}},
      {"a LINKNODE share above 1",
       c,
       replaced(g, "LINKNODE 3 2 1.0", "LINKNODE 3 2 1.5"),
       "net.gst",
       "link 3",
       {"share of 1.5", "between 0 and 1"}},
      {"a negative LINKNODE share",
       c,
       replaced(g, "LINKNODE 1 2 1.0", "LINKNODE 1 2 -0.5"),
       "net.gst",
       "link 1",
       {"share of -0.5", "between 0 and 1"}},
  };
}

// Each malformed network stops the run at start-up with a nonzero exit status and a message
// that names the file, the link and the fault, and says nothing about the time step; the
// well-formed network they are made from runs to its end.
TEST(NetworkCases, AMalformedNetworkIsRefusedNamingTheFileTheLinkAndTheFault) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_net_inputs();
  write_file("net.chn", net_chn);
  write_file("net.gst", net_gst);
  const command_result good = run_project_file("net.prj", net_project);
  ASSERT_EQ(good.status, 0) << "the well-formed network\n" << good.out << good.err;
  const summary_balance s = read_summary_balance(read_file("net_summary.out"));
  EXPECT_GT(s.event_discharge, 0.0) << "the weir passes water to the outlet";

  for (const malformed_case& m : malformed_cases()) {
    SCOPED_TRACE(m.name);
    write_file("net.chn", m.chn);
    write_file("net.gst", m.gst);
    const command_result run = run_project_file("net.prj", net_project);
    const std::string text = run.out + run.err;
    EXPECT_NE(run.status, 0) << text;
    EXPECT_TRUE(contains(text, m.file)) << text;
    EXPECT_TRUE(contains(text, m.link)) << text;
    for (const char* word : m.fault) EXPECT_TRUE(contains(text, word)) << word << "\n" << text;
    EXPECT_FALSE(contains(text, "Reduce the model time step")) << text;
    EXPECT_FALSE(contains(text, "area is not a number")) << text;
  }
}

}  // namespace
