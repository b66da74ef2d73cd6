// Stream mapping tables: the keyword kinds, the start-up check report and its flags, the table
// reader that spreads a table over the links and nodes of a channel network through a stream
// index map, the index map reader in both modes, and the faults of the tables and maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/run_parameters.h"
#include "input/stream_tables.h"
#include "support/table_fixtures.h"
#include "support/test_support.h"

using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

const std::string file_header = "TORVA_STREAM_INDEX_MAP_TABLES\n";

std::string row(int id, const std::string& values, const std::string& description = "reach") {
  return torva_test::table_row(id, values, description);
}

// A table: its keyword line with the index map's name, the NUM_IDS line, the column header
// and the rows.
std::string table(const std::string& keyword, const std::string& map_name, int count,
                  const std::string& rows) {
  return keyword + " " + map_name + "\nNUM_IDS " + std::to_string(count) +
         "\nID    DESCRIPTION                                   VALUES\n" + rows;
}

std::string index_map(std::initializer_list<const char*> values, int links = -1) {
  std::string text = "STREAM_MAP\nNLINKS " +
                     std::to_string(links >= 0 ? links : static_cast<int>(values.size())) + "\n";
  for (const char* v : values) text += std::string(v) + "\n";
  return text;
}

std::string with_crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string dots(std::size_t n) {
  return std::string(n, '.');
}

// A channel network: the node count of each link and the largest node count.
struct network {
  int links = 0;
  int max_nodes = 0;
  raw_array1d<int> nodes;
  network(std::initializer_list<int> counts, int largest) : max_nodes(largest) {
    links = static_cast<int>(counts.size());
    nodes.allocate(links);
    int link = 0;
    for (int n : counts) nodes[++link] = n;
  }
};

// An output [link][node] of the network, every element -1 so that writes show.
std::unique_ptr<raw_array2d<double>> output_of(const network& net) {
  auto out = std::make_unique<raw_array2d<double>>();
  out->allocate(net.links, net.max_nodes);
  std::fill_n(out->data(), out->element_count(), -1.0);
  return out;
}

class StreamTables : public testing::Test {
 protected:
  // The guard leaves no echo file: messages go to the console only.
  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
};

TEST_F(StreamTables, KeywordKindsLabelsAndFlagPositions) {
  struct kind_case {
    const char* line;
    int kind;
  };
  const kind_case cases[] = {
      {"NSM_N reaches", stream_table_nsm_n},
      {"NSM_NITROGEN reaches", stream_table_nsm_n},  // 5 characters compared
      {"NSM_P reaches", stream_table_nsm_p},
      {"NSM_C reaches", stream_table_nsm_c},
      {"NSM_OTHER reaches", stream_table_nsm_oth},  // NSM_OT over 6
      {"NSM_OT", stream_table_nsm_oth},
      {"NUM_IDS 4", stream_table_num_ids},
      {"ST_INDEX_MAP a.map reaches", stream_table_index_map},
      {"ST_INDEX_ a.map", stream_table_index_map},
      {"DISPERSAL reaches", stream_table_dispersion},  // DISPE over 5
      {"DISP", stream_table_none},
      {"ROUGHNESS reaches", stream_table_none},  // readers test it on their own
      {"nsm_n reaches", stream_table_none},      // upper case only
      {"  NSM_N", stream_table_none},            // from the first character
      {"", stream_table_none},
  };
  for (const kind_case& c : cases) EXPECT_EQ(stream_table_kind(c.line), c.kind) << c.line;
  EXPECT_TRUE(stream_line_is_roughness("ROUGHNESS reaches"));
  EXPECT_FALSE(stream_line_is_roughness("ROUGHNES"));

  const int per_row[] = {0, 1, 4, 3, 2, 3, 1};
  for (int kind = 0; kind <= 6; ++kind) EXPECT_EQ(stream_values_per_row(kind), per_row[kind]);
  // The flags are kept as roughness, nitrogen, phosphorus, other, carbon, dispersion.
  const int flag[] = {-1, 0, 1, 2, 4, 3, 5};
  for (int kind = 0; kind <= 6; ++kind) EXPECT_EQ(stream_table_flag_index(kind), flag[kind]);

  char buffer[60] = "unchanged";
  stream_table_label(0, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "unchanged");
  stream_table_label(stream_table_nsm_oth, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "NSM_OTH (Stream)");
  char small[6];
  stream_table_label(stream_table_dispersion, small, sizeof small);
  EXPECT_STREQ(small, "DISPE");
}

TEST_F(StreamTables, CheckReportsEachTableAndSetsItsFlag) {
  write_file("reach.map", index_map({"1"}));
  write_file("disp.map", index_map({"1"}));
  write_file("st.cmt", file_header +
                           "ST_INDEX_MAP reach.map reaches\n"
                           "ST_INDEX_MAP gone.map missing\n"
                           "ST_INDEX_MAP disp.map dispersion map\n" +
                           table("ROUGHNESS", "reaches", 1, row(1, "0.035")) +
                           table("NSM_N", "missing", 1, row(1, "1 2 3 4")) +
                           table("NSM_C", "nowhere", 1, row(1, "1 2")) +
                           table("NSM_OTHER", "reaches", 1, row(1, "1 2 3")) +
                           table("DISPERSAL", "dispersion map", 1, row(1, "0.5")));
  int present[6] = {9, 9, 9, 9, 9, 9};
  stdout_capture capture;
  check_stream_table_file("st.cmt", present);
  const std::string out = capture.stop();

  // Nitrogen: its index map does not open (the file handle says so); carbon: no index map
  // line has its map name.
  const std::string report[] = {
      "\nChecking stream mapping table file...\n",
      "  Roughness" + dots(26) + "Y\n",
      "Error getting new filename from gone.map\n",
      "  NSM Nitrogen" + dots(23) + "N\n",
      "  NSM Phosphorus" + dots(21) + "N\n",
      "  NSM Carbon" + dots(25) + "N\n",
      "  NSM Other" + dots(26) + "Y\n",
      "  Dispersion" + dots(25) + "Y\n",
  };
  std::string expected_out;
  for (const std::string& line : report) expected_out += line;
  EXPECT_EQ(out, expected_out);
  const int expected[6] = {1, 0, 0, 1, 0, 1};  // roughness ... other, carbon, dispersion
  for (int i = 0; i < 6; ++i) EXPECT_EQ(present[i], expected[i]) << "flag " << i;
  EXPECT_EQ(run_error.error_fatal, 0);

  // A label of 35 characters or more gets no dots.
  file_handle file;
  ASSERT_TRUE(file_handle_open(file, "st.cmt", "r"));
  int flag = 0;
  const std::string long_label(40, 'L');
  stdout_capture again;
  stream_table_check_one(file, stream_table_roughness, long_label.c_str(), flag);
  EXPECT_EQ(again.stop(), "  " + long_label + "Y\n");
  EXPECT_EQ(flag, 1);
}

TEST_F(StreamTables, CheckStopsTheRunOnAMissingFileAndFindsNoTableInAForeignOne) {
  int present[6] = {1, 1, 1, 1, 1, 1};
  stdout_capture capture;
  check_stream_table_file("none.cmt", present);
  std::string out = capture.stop();
  EXPECT_NE(out.find("Unable to open Mapping Table file: none.cmt"), std::string::npos) << out;
  EXPECT_EQ(run_error.error_fatal, 1);
  for (int flag : present) EXPECT_EQ(flag, 0);

  // A file whose first line is not the stream keyword holds no table, however its tables and
  // index maps look: every table is reported absent and the run goes on.
  run_error = error_state{};
  write_file("reach.map", index_map({"1"}));
  write_file("map.cmt", "TORVA_INDEX_MAP_TABLES\nST_INDEX_MAP reach.map r\n" +
                            table("ROUGHNESS", "r", 1, row(1, "1")));
  for (int& flag : present) flag = 1;
  stdout_capture second;
  check_stream_table_file("map.cmt", present);
  out = second.stop();
  EXPECT_EQ(out,
            "\nChecking stream mapping table file...\n"
            "  Roughness" +
                dots(26) + "N\n" + "  NSM Nitrogen" + dots(23) + "N\n" + "  NSM Phosphorus" +
                dots(21) + "N\n" + "  NSM Carbon" + dots(25) + "N\n" + "  NSM Other" + dots(26) +
                "N\n" + "  Dispersion" + dots(25) + "N\n");
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(run_error.error_code, 0);
  for (int flag : present) EXPECT_EQ(flag, 0);
}

TEST_F(StreamTables, RunParametersCheckTheGivenFile) {
  write_file("reach.map", index_map({"1"}));
  write_file("st.cmt", file_header + "ST_INDEX_MAP reach.map reaches\n" +
                           table("NSM_P", "reaches", 1, row(1, "1 2 3")));
  write_file("p.prj",
             "TORVAPROJECT\nROWS 2\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 10\nTOT_TIME 60\n"
             "ST_MAPPING_TABLE st.cmt\n");
  auto ms = std::make_unique<model_state>();
  stdout_capture capture;
  read_run_parameters(*ms, "p.prj");
  const std::string out = capture.stop();
  EXPECT_NE(out.find("  NSM Phosphorus" + dots(21) + "Y\n"), std::string::npos) << out;
  const int expected[6] = {0, 0, 1, 0, 0, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ms->input.stream_table_present[i], expected[i]);

  // Without the card nothing is checked.
  write_file("q.prj", "TORVAPROJECT\nROWS 2\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 10\nTOT_TIME 60\n");
  auto plain = std::make_unique<model_state>();
  stdout_capture second;
  read_run_parameters(*plain, "q.prj");
  EXPECT_EQ(second.stop().find("Checking stream mapping table file"), std::string::npos);
}

// Three links of 2, 3 and 1 nodes. The map gives link 1 id 2, link 2 id 0 and link 3 id 1;
// id 1 has two rows and the later one holds. Of the two index map lines named "reaches" the
// later (reach.map) is used; old.map would give link 2 an id.
TEST_F(StreamTables, TableValuesGoToEveryNodeOfEachLink) {
  for (const bool crlf : {false, true}) {
    SCOPED_TRACE(crlf ? "CRLF lines" : "LF lines");
    temp_dir case_dir;
    const std::string tables =
        file_header +
        "ST_INDEX_MAP old.map reaches\n"
        "ST_INDEX_MAP rough.map rough\n"
        "ST_INDEX_MAP reach.map reaches\n" +
        table("ROUGHNESS", "rough", 1, row(1, "0.03")) +
        table("NSM_N", "reaches", 3,
              row(1, "0.1 0.2 0.3 0.4") + row(2, "1\t2 3  4") + row(1, "5 6 7 8"));
    write_file("st.cmt", crlf ? with_crlf(tables) : tables);
    write_file("reach.map",
               crlf ? with_crlf(index_map({"2", "0", "1"})) : index_map({"2", "0", "1"}));
    write_file("old.map", index_map({"1", "1", "1"}));
    write_file("rough.map", index_map({"1", "1", "1"}));

    network net({2, 3, 1}, 3);
    auto n1 = output_of(net);
    auto n2 = output_of(net);
    auto n3 = output_of(net);
    auto n4 = output_of(net);
    stdout_capture capture;
    const int result = read_stream_table("st.cmt", stream_table_nsm_n, n1.get(), n2.get(), nullptr,
                                         n4.get(), net.links, net.max_nodes, net.nodes);
    const std::string out = capture.stop();
    ASSERT_EQ(result, 1) << out;
    EXPECT_EQ(run_error.error_fatal, 0);

    const raw_array2d<double>* outs[] = {n1.get(), n2.get(), n3.get(), n4.get()};
    for (int c = 0; c < 4; ++c) {
      const raw_array2d<double>& a = *outs[c];
      const double id2 = c + 1.0;   // row 2: 1 2 3 4
      const double id1 = c + 5.0;   // the later row 1: 5 6 7 8
      const bool written = c != 2;  // the third output was not asked for
      SCOPED_TRACE("output " + std::to_string(c + 1));
      EXPECT_DOUBLE_EQ(a[1][1], written ? id2 : -1.0);
      EXPECT_DOUBLE_EQ(a[1][2], written ? id2 : -1.0);
      EXPECT_DOUBLE_EQ(a[1][3], -1.0);  // link 1 has two nodes
      for (int node = 1; node <= 3; ++node) EXPECT_DOUBLE_EQ(a[2][node], -1.0);  // id 0
      EXPECT_DOUBLE_EQ(a[3][1], written ? id1 : -1.0);
      EXPECT_DOUBLE_EQ(a[3][2], -1.0);
    }
  }
}

// A row whose values end early, even before column 87, keeps 0.0 for the values it lacks and the
// rows after it are read as usual.
TEST_F(StreamTables, RowsShortOfValuesGiveZeroForWhatTheyLack) {
  write_file("st.cmt",
             file_header + "ST_INDEX_MAP reach.map reaches\n" +
                 table("NSM_P", "reaches", 4,
                       row(1, "1 2") + "     2 no values\n" + row(3, "") + row(4, "7 8 9")));
  write_file("reach.map", index_map({"1", "2", "3", "4"}));
  network net({1, 1, 2, 1}, 2);
  auto c1 = output_of(net);
  auto c2 = output_of(net);
  auto c3 = output_of(net);
  stdout_capture capture;
  const int result = read_stream_table("st.cmt", stream_table_nsm_p, c1.get(), c2.get(), c3.get(),
                                       nullptr, net.links, net.max_nodes, net.nodes);
  const std::string out = capture.stop();
  ASSERT_EQ(result, 1) << out;
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(out, "");
  // Per link (each link's id is its number): the values of columns 1, 2 and 3.
  const double expected[5][3] = {{0, 0, 0}, {1, 2, 0}, {0, 0, 0}, {0, 0, 0}, {7, 8, 9}};
  const raw_array2d<double>* outs[] = {c1.get(), c2.get(), c3.get()};
  for (int link = 1; link <= 4; ++link)
    for (int c = 0; c < 3; ++c)
      for (int node = 1; node <= net.nodes[link]; ++node)
        EXPECT_DOUBLE_EQ((*outs[c])[link][node], expected[link][c])
            << "link " << link << " column " << c + 1;
}

// The column-header line after NUM_IDS is passed over as in every mapping table: a header that
// begins with a word of the overland tables is passed over together with the lines after it up
// to the first that begins with none, which is taken as the header (here the first row, so the
// second is read in its place); a header that begins with the stream index-map word is an
// ordinary header line.
TEST_F(StreamTables, ColumnHeaderLineIsPassedOverAsInTheOverlandTables) {
  struct header_case {
    const char* header;
    double value;  // the value that reaches the link
  };
  const header_case cases[] = {
      {"ST_INDEX_ID    DESCRIPTION    VALUE", 10.0},
      {"GROUNDWATER    DESCRIPTION    VALUE", 20.0},
  };
  for (const header_case& c : cases) {
    SCOPED_TRACE(c.header);
    temp_dir case_dir;
    write_file("st.cmt", file_header + "ST_INDEX_MAP reach.map reaches\n" +
                             "DISPERSION reaches\nNUM_IDS 1\n" + c.header + "\n" + row(1, "10") +
                             row(1, "20"));
    write_file("reach.map", index_map({"1"}));
    network net({2}, 2);
    auto out = output_of(net);
    stdout_capture capture;
    const int result = read_stream_table("st.cmt", stream_table_dispersion, out.get(), nullptr,
                                         nullptr, nullptr, net.links, net.max_nodes, net.nodes);
    const std::string printed = capture.stop();
    ASSERT_EQ(result, 1) << printed;
    EXPECT_DOUBLE_EQ((*out)[1][1], c.value);
    EXPECT_DOUBLE_EQ((*out)[1][2], c.value);
  }
}

// Names are compared whole: two long map names that differ only after 39 characters are two
// maps, and each table gets its own.
TEST_F(StreamTables, LongMapNamesAreComparedWhole) {
  const std::string upper = std::string(45, 'x') + "_upper";
  const std::string lower = std::string(45, 'x') + "_lower";
  write_file("st.cmt", file_header + "ST_INDEX_MAP upper.map " + upper + "\n" +
                           "ST_INDEX_MAP lower.map " + lower + "\n" +
                           table("DISPERSION", upper, 2, row(1, "10") + row(2, "20")));
  write_file("upper.map", index_map({"1", "2"}));
  write_file("lower.map", index_map({"2", "2"}));
  network net({1, 1}, 1);
  auto out = output_of(net);
  stdout_capture capture;
  const int result = read_stream_table("st.cmt", stream_table_dispersion, out.get(), nullptr,
                                       nullptr, nullptr, net.links, net.max_nodes, net.nodes);
  const std::string printed = capture.stop();
  ASSERT_EQ(result, 1) << printed;
  EXPECT_DOUBLE_EQ((*out)[1][1], 10.0);
  EXPECT_DOUBLE_EQ((*out)[2][1], 20.0);
}

// A link whose id lies within the table's ids but has no row of its own takes 0.0 on every
// node in every column; links of id 0 keep their values and the run goes on.
TEST_F(StreamTables, IdsWithoutARowGiveZeroOnEveryNode) {
  struct gap_case {
    const char* what;
    std::string rows;
    int count;
    std::vector<const char*> ids;  // per link 1..3
    double expected[4][3];         // [link][column]; -1: kept as it was
  };
  const gap_case cases[] = {
      {"an id between the rows",
       row(1, "1 2 3") + row(3, "7 8 9"),
       2,
       {"2", "0", "1"},
       {{}, {0, 0, 0}, {-1, -1, -1}, {1, 2, 3}}},
      {"an id below the first row",
       row(2, "4 5 6") + row(3, "7 8 9"),
       2,
       {"3", "1", "2"},
       {{}, {7, 8, 9}, {0, 0, 0}, {4, 5, 6}}},
  };
  for (const gap_case& c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir case_dir;
    run_error = error_state{};
    write_file("st.cmt", file_header + "ST_INDEX_MAP reach.map reaches\n" +
                             table("NSM_P", "reaches", c.count, c.rows));
    std::string map = "STREAM_MAP\nNLINKS 3\n";
    for (const char* id : c.ids) map += std::string(id) + "\n";
    write_file("reach.map", map);
    network net({2, 3, 1}, 3);
    auto c1 = output_of(net);
    auto c2 = output_of(net);
    auto c3 = output_of(net);
    stdout_capture capture;
    const int result = read_stream_table("st.cmt", stream_table_nsm_p, c1.get(), c2.get(), c3.get(),
                                         nullptr, net.links, net.max_nodes, net.nodes);
    const std::string out = capture.stop();
    ASSERT_EQ(result, 1) << out;
    EXPECT_EQ(run_error.error_fatal, 0) << out;
    EXPECT_EQ(out, "");
    const raw_array2d<double>* outs[] = {c1.get(), c2.get(), c3.get()};
    for (int link = 1; link <= 3; ++link)
      for (int column = 0; column < 3; ++column)
        for (int node = 1; node <= net.nodes[link]; ++node)
          EXPECT_DOUBLE_EQ((*outs[column])[link][node], c.expected[link][column])
              << "link " << link << " node " << node << " column " << column + 1;
  }
}

TEST_F(StreamTables, TableFaultsStopTheRunWithAMessageNamingTheFile) {
  const std::string index_lines = "ST_INDEX_MAP reach.map reaches\n";
  const std::string good_rows = row(1, "1 2 3") + row(2, "4 5 6");
  const std::string good_map = index_map({"2", "0", "1"});
  struct fault_case {
    const char* what;
    std::string tables;  // content of st.cmt; empty: not written
    std::string map;     // content of reach.map; empty: not written
    std::string expected;
  };
  const std::vector<fault_case> cases = {
      {"table file missing", "", good_map, "Unable to open Mapping Table file: st.cmt"},
      {"no table of the kind",
       file_header + index_lines + table("NSM_N", "reaches", 1, row(1, "1 2 3 4")), good_map,
       "no entries found in table NSM_P (Stream) (NUM_IDS is 0)"},
      {"map name without index map line",
       file_header + index_lines + table("NSM_P", "elsewhere", 2, good_rows), good_map,
       "no entries found in table NSM_P (Stream) (NUM_IDS is 0)"},
      {"NUM_IDS 0", file_header + index_lines + table("NSM_P", "reaches", 0, ""), good_map,
       "no entries found in table NSM_P (Stream) (NUM_IDS is 0)"},
      {"no NUM_IDS line", file_header + index_lines + "NSM_P reaches\nID DESCRIPTION\n" + good_rows,
       good_map, "no entries found in table NSM_P (Stream) (NUM_IDS is 0)"},
      {"negative NUM_IDS", file_header + index_lines + table("NSM_P", "reaches", -2, good_rows),
       good_map, "st.cmt: table NSM_P (Stream) has a negative NUM_IDS (-2)"},
      {"more rows counted than present",
       file_header + index_lines + table("NSM_P", "reaches", 3, good_rows), good_map,
       "stream mapping table file st.cmt ends after 2 of the 3 rows of table NSM_P (Stream)"},
      {"a count far beyond the rows present",
       file_header + index_lines + table("NSM_P", "reaches", 2000000000, good_rows), good_map,
       "stream mapping table file st.cmt ends after 2 of the 2000000000 rows of table NSM_P "
       "(Stream)"},
      {"value not a number",
       file_header + index_lines +
           table("NSM_P", "reaches", 2, row(1, "1 2 3") + row(2, "4 five 6")),
       good_map,
       "st.cmt: row 2 (id 2) of table NSM_P (Stream) holds a value that is not a number (values "
       "from column 87 on)"},
      {"row without an id",
       file_header + index_lines + table("NSM_P", "reaches", 2, row(1, "1 2 3") + "\n"), good_map,
       "st.cmt: row 2 of table NSM_P (Stream) has no table id in its first 6"},
      {"row id 0",
       file_header + index_lines + table("NSM_P", "reaches", 2, row(1, "1 2 3") + row(0, "4 5 6")),
       good_map, "st.cmt: row 2 of table NSM_P (Stream) has the table id 0"},
      {"index map line without a file",
       file_header + "ST_INDEX_MAP\n" + "NSM_P\nNUM_IDS 2\nID DESCRIPTION\n" + good_rows, good_map,
       "st.cmt: the index map line of table NSM_P (Stream) names no file"},
      {"map id above the largest",
       file_header + index_lines + table("NSM_P", "reaches", 2, good_rows),
       index_map({"1", "0", "7"}), "gives link 3 the table id 7"},
      {"negative map id", file_header + index_lines + table("NSM_P", "reaches", 2, good_rows),
       index_map({"-1", "0", "1"}), "gives link 1 the table id -1"},
      {"map missing", file_header + index_lines + table("NSM_P", "reaches", 2, good_rows), "",
       "Unable to open stream map file reach.map"},
      {"map header", file_header + index_lines + table("NSM_P", "reaches", 2, good_rows),
       "STREAM_MA\nNLINKS 3\n2\n0\n1\n",
       "Stream map file does not use correct header (file: reach.map)"},
      {"map link count", file_header + index_lines + table("NSM_P", "reaches", 2, good_rows),
       index_map({"2", "0", "1", "1"}),
       "NLINKS or MAXNODES card in stream map file does not match channel input file (file: "
       "reach.map)"},
      {"map short of values", file_header + index_lines + table("NSM_P", "reaches", 2, good_rows),
       index_map({"2", "0"}, 3),
       "Error reading data from stream map file. Check to make sure that the correct number of "
       "\ndata points exist for each link. (file: reach.map)"},
  };
  for (const fault_case& c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir case_dir;
    run_error = error_state{};
    if (!c.tables.empty()) write_file("st.cmt", c.tables);
    if (!c.map.empty()) write_file("reach.map", c.map);
    network net({2, 3, 1}, 3);
    auto out1 = output_of(net);
    auto out2 = output_of(net);
    stdout_capture capture;
    const int result = read_stream_table("st.cmt", stream_table_nsm_p, out1.get(), out2.get(),
                                         nullptr, nullptr, net.links, net.max_nodes, net.nodes);
    const std::string out = capture.stop();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_EQ(run_error.error_code, 0);  // reported
    EXPECT_NE(out.find(c.expected), std::string::npos) << out;
    for (int link = 1; link <= 3; ++link)
      for (int node = 1; node <= 3; ++node) {
        EXPECT_DOUBLE_EQ((*out1)[link][node], -1.0);
        EXPECT_DOUBLE_EQ((*out2)[link][node], -1.0);
      }
  }
}

TEST_F(StreamTables, IndexMapModesAndResults) {
  network net({2, 0, 3}, 3);
  struct map_case {
    const char* what;
    std::string text;  // empty: no file
    int mode;
    int result;
  };
  const std::vector<map_case> cases = {
      {"ids one per line", index_map({"4", "5", "6"}), 0, 0},
      {"values on shared lines", "STREAM_MAP extra words\nNLINKS 3 1.5\n-2.25e1\t3\n", 2, 0},
      {"no file", "", 0, stream_map_open_failed},
      {"empty file", "\n", 0, stream_map_bad_header},
      {"header in lower case", "stream_map\nNLINKS 3\n1\n2\n3\n", 0, stream_map_bad_header},
      {"more links than the network", index_map({"1", "2", "3", "4"}), 0, stream_map_wrong_links},
      {"fewer links than the network", index_map({"1", "2"}), 0, stream_map_wrong_links},
      {"no link count", "STREAM_MAP\nNLINKS\n", 0, stream_map_wrong_links},
      {"link count not a number", "STREAM_MAP\nNLINKS three\n1\n2\n3\n", 0, stream_map_wrong_links},
      {"too few values", index_map({"1", "2"}, 3), 0, stream_map_bad_value},
      {"id with a fraction", index_map({"1", "2.5", "3"}), 0, stream_map_bad_value},
      {"id not a number", index_map({"1", "x", "3"}), 0, stream_map_bad_value},
      {"value not a number", index_map({"1", "2", "nan"}), 2, stream_map_bad_value},
  };
  for (const map_case& c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir case_dir;
    if (!c.text.empty()) write_file("links.map", c.text);
    raw_array2d<int> ids;
    ids.allocate(net.max_nodes, net.links);
    auto values = output_of(net);
    stdout_capture capture;
    const int result = read_stream_index_map("links.map", net.links, net.max_nodes, net.nodes, &ids,
                                             values.get(), c.mode);
    // Only the file handle's own line about a name that resolves to no file is printed.
    const std::string printed = capture.stop();
    EXPECT_EQ(printed, c.result == stream_map_open_failed
                           ? "Error getting new filename from links.map\n"
                           : "");
    EXPECT_EQ(result, c.result);
    if (c.result != 0) continue;
    if (c.mode == 0) {
      // Every node of a link holds the link's id; values are untouched.
      EXPECT_EQ(ids[1][1], 4);
      EXPECT_EQ(ids[2][1], 4);
      EXPECT_EQ(ids[3][1], 0);
      for (int node = 1; node <= 3; ++node) EXPECT_EQ(ids[node][2], 0);  // no nodes
      for (int node = 1; node <= 3; ++node) EXPECT_EQ(ids[node][3], 6);
      EXPECT_DOUBLE_EQ((*values)[1][1], -1.0);
    } else {
      EXPECT_DOUBLE_EQ((*values)[1][1], 1.5);
      EXPECT_DOUBLE_EQ((*values)[1][2], 1.5);
      EXPECT_DOUBLE_EQ((*values)[1][3], -1.0);
      EXPECT_DOUBLE_EQ((*values)[2][1], -1.0);
      for (int node = 1; node <= 3; ++node) EXPECT_DOUBLE_EQ((*values)[3][node], 3.0);
      EXPECT_EQ(ids[1][1], 0);
    }
  }
}

// Calls whose network and arrays do not fit are refused before the file is read, so that no
// write can leave the arrays.
TEST_F(StreamTables, IndexMapRefusesANetworkThatDoesNotFitItsArrays) {
  write_file("links.map", index_map({"1", "1"}));
  network too_many_nodes({2, 4}, 3);
  network fits({2, 3}, 3);
  network no_counts({}, 3);
  raw_array2d<int> ids;
  ids.allocate(3, 2);
  raw_array2d<int> narrow_ids;
  narrow_ids.allocate(3, 1);
  raw_array2d<double> short_values;
  short_values.allocate(2, 2);
  struct arg_case {
    const char* what;
    const network* net;
    int links;
    raw_array2d<int>* ids;
    raw_array2d<double>* values;
    int mode;
    const char* expected;
  };
  const arg_case cases[] = {
      {"more nodes than the largest count", &too_many_nodes, 2, &ids, nullptr, 0,
       "link 2 has 4 nodes, outside 0 to the largest node count 3"},
      {"no node counts", &no_counts, 2, &ids, nullptr, 0, "has no node count for every link"},
      {"index table too narrow", &fits, 2, &narrow_ids, nullptr, 0,
       "the array to fill is smaller than the channel network"},
      {"no index table", &fits, 2, nullptr, nullptr, 0,
       "the array to fill is smaller than the channel network"},
      {"values too short", &fits, 2, nullptr, &short_values, 2,
       "the array to fill is smaller than the channel network"},
      {"unknown mode", &fits, 2, &ids, nullptr, 1, "1 is not a mode of the stream map reader"},
  };
  for (const arg_case& c : cases) {
    SCOPED_TRACE(c.what);
    stdout_capture capture;
    const int result = read_stream_index_map("links.map", c.links, c.net->max_nodes, c.net->nodes,
                                             c.ids, c.values, c.mode);
    const std::string out = capture.stop();
    EXPECT_EQ(result, stream_map_bad_arguments);
    EXPECT_NE(out.find("stream map file links.map"), std::string::npos) << out;
    EXPECT_NE(out.find(c.expected), std::string::npos) << out;
  }
  EXPECT_EQ(ids[1][1], 0);

  // The table reader refuses an output smaller than the network and a kind that is no table.
  write_file("st.cmt", file_header + "ST_INDEX_MAP links.map reaches\n" +
                           table("ROUGHNESS", "reaches", 1, row(1, "0.04")));
  stdout_capture capture;
  EXPECT_EQ(read_stream_table("st.cmt", stream_table_roughness, &short_values, nullptr, nullptr,
                              nullptr, fits.links, fits.max_nodes, fits.nodes),
            0);
  EXPECT_EQ(run_error.error_fatal, 1);
  run_error = error_state{};
  EXPECT_EQ(read_stream_table("st.cmt", stream_table_num_ids, nullptr, nullptr, nullptr, nullptr,
                              fits.links, fits.max_nodes, fits.nodes),
            0);
  EXPECT_EQ(run_error.error_fatal, 1);
  const std::string out = capture.stop();
  EXPECT_NE(out.find("output 1 of table ROUGHNESS (Stream) is smaller than the channel network"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("37 is not a kind of stream table"), std::string::npos) << out;
}

// The id is a whole number at the head of the first six columns; a value is a whole finite
// number word. Anything that merely begins with a number is refused rather than read in part.
TEST_F(StreamTables, RowIdsAndValuesAreWholeNumbersNotPrefixes) {
  const std::string values_at = std::string(80, ' ');  // columns 7 to 86: the description
  const struct {
    std::string head;    // the first six columns
    std::string values;  // from column 87 on
    table_row_status status;
    int id;
    double first;
  } cases[] = {
      {"    12", "1.5 2", table_row_status::read, 12, 1.5},
      {"  +3  ", "1 2", table_row_status::read, 3, 1.0},
      {"7 wood", "4 5", table_row_status::read, 7, 4.0},  // a description may follow a blank
      {"   7ab", "1 2", table_row_status::no_id, 0, -1.0},
      {"  1.5 ", "1 2", table_row_status::no_id, 0, -1.0},
      {"      ", "1 2", table_row_status::no_id, 0, -1.0},
      {"     4", "8e-1x 2", table_row_status::bad_value, 4, -1.0},
      {"     4", "1e999 2", table_row_status::bad_value, 4, -1.0},
      {"     4", "nan 2", table_row_status::bad_value, 4, -1.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.head + "|" + c.values);
    write_file("row.txt", c.head + values_at + c.values + "\n");
    file_handle file;
    ASSERT_TRUE(file_handle_open(file, "row.txt", "r"));
    int id = -1;
    double v[2] = {-1.0, -1.0};
    EXPECT_EQ(table_read_row_status(file, id, 2, v), c.status);
    EXPECT_EQ(id, c.id);
    EXPECT_DOUBLE_EQ(v[0], c.first);
    file_handle_close(file);
  }
}

TEST_F(StreamTables, RowHelpersReadFixedColumnsAndStoreByIdLaterRowWinning) {
  write_file("rows.txt", row(3, "1.5 2.5") + row(12, "7 8e-1 ignored") + row(4, "9 x") + "   ab" +
                             std::string(90, ' ') + "1 2\n" + row(5, "") + row(6, "1.25") +
                             "     7\n");
  file_handle file;
  ASSERT_TRUE(file_handle_open(file, "rows.txt", "r"));
  int id = -1;
  double v[2] = {0.0, 0.0};
  EXPECT_EQ(table_read_row(file, id, 2, v), 1);
  EXPECT_EQ(id, 3);
  EXPECT_DOUBLE_EQ(v[0], 1.5);
  EXPECT_DOUBLE_EQ(v[1], 2.5);
  EXPECT_EQ(table_read_row_status(file, id, 2, v), table_row_status::read);
  EXPECT_EQ(id, 12);
  EXPECT_DOUBLE_EQ(v[1], 0.8);
  // The second value does not scan: the first stays read.
  v[0] = v[1] = -1.0;
  EXPECT_EQ(table_read_row_status(file, id, 2, v), table_row_status::bad_value);
  EXPECT_EQ(id, 4);
  EXPECT_DOUBLE_EQ(v[0], 9.0);
  EXPECT_DOUBLE_EQ(v[1], -1.0);
  EXPECT_EQ(table_read_row_status(file, id, 2, v), table_row_status::no_id);
  // No values wanted: the id alone is the row.
  EXPECT_EQ(table_read_row_status(file, id, 0, v), table_row_status::read);
  EXPECT_EQ(id, 5);
  // The same row wanted with values: they are missing and left as they were.
  v[0] = v[1] = -1.0;
  EXPECT_EQ(table_read_row_status(file, id, 2, v), table_row_status::missing_values);
  EXPECT_EQ(id, 6);
  EXPECT_DOUBLE_EQ(v[0], 1.25);
  EXPECT_DOUBLE_EQ(v[1], -1.0);
  EXPECT_EQ(table_read_row(file, id, 2, v), 0);
  EXPECT_EQ(table_read_row_status(file, id, 2, v), table_row_status::end_of_file);
  EXPECT_EQ(table_read_row(file, id, 2, v), 0);

  // Rows 1..3 with ids 2, 4, 2: the later row of id 2 wins; ids 1 and 3 have no row and read
  // 0.0 whatever the array held.
  raw_array2d<double> data;
  data.allocate(3, 2);
  raw_array1d<int> ids;
  ids.allocate(3);
  const int row_ids[] = {0, 2, 4, 2};
  for (int r = 1; r <= 3; ++r) {
    ids[r] = row_ids[r];
    data[r][1] = 10.0 * r;
    data[r][2] = 100.0 * r;
  }
  raw_array1d<double> by_id;
  by_id.allocate(4);
  std::fill_n(by_id.data(), by_id.element_count(), 9.0);
  table_store_row(data, 3, 2, ids, 4, by_id);
  const double expected[] = {9.0, 0.0, 300.0, 0.0, 200.0};  // index 0 holds no id
  for (int i = 0; i <= 4; ++i) EXPECT_DOUBLE_EQ(by_id[i], expected[i]) << "id " << i;
}

}  // namespace
