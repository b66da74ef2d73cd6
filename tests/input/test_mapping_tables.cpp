// Mapping-table file: keyword ids and names, the table search through the index-map lines, the
// count and column-header lines, the quoted strings of the contaminant lines, the series index
// table, the Richards map lookup and the start-up check report with its flags.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/mapping_tables.h"
#include "input/run_parameters.h"
#include "input/time_series.h"
#include "support/test_support.h"

using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace mapping_tables_tests {

const std::string magic = "TORVA_INDEX_MAP_TABLES\n";

std::string dots(std::size_t n) {
  return std::string(n, '.');
}

class MappingTables : public testing::Test {
 protected:
  // Writes `text` as the mapping-table file "t.cmt" and opens it in `h`.
  void open_table_file(file_handle& h, const std::string& text) {
    write_file(dir_.file("t.cmt"), text);
    ASSERT_TRUE(file_handle_open(h, "t.cmt", "r"));
  }

  // The next line of `h`, or "<eof>".
  static std::string next_line(file_handle& h) {
    std::string line;
    return read_text_line(line, h) != 0 ? line : "<eof>";
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
};

TEST_F(MappingTables, KeywordIdsNamesAndValueCounts) {
  struct id_case {
    const char* line;
    int table_id;  // map_table_id
    int line_id;   // map_line_id, ROUGHNESS first
  };
  const id_case cases[] = {
      {"ROUGHNESS land use", 0, 1},
      {"ROUGHNESSX", 0, 1},
      {"roughness land use", 0, 0},  // upper case only
      {" ROUGHNESS", 0, 0},          // at the start of the line only
      {"GROUNDWATER_BOUNDARY soils", 18, 18},
      {"GROUNDWATER soils", 17, 17},
      {"NUM_IDSX 4", 137, 137},
      {"INDEX_MAP a.idx soils", 138, 138},
      {"NUM_CONTAM 2", 139, 139},
      {"NUM_SED 3", 140, 140},
      {"MULTI_LAYER_SOIL soils", 201, 201},
      {"RICHARDS_EQN_INFILTRAIION_HAVERCAMP soils", 6, 6},
      {"RICHARDS_EQN_INFILTRATION_HAVERCAMP soils", 0, 0},  // only the file spelling counts
      {"RICHARDS_EQN_INFILTRATION_BROOKS soils", 7, 7},
      {"GREEN_AMPT_INITIAL_SOIL_MOISTURE soils", 5, 5},
      {"GREEN_AMPT_INFILTRATION soils", 4, 4},
      {"NSM_OTHER soils", 23, 23},
      {"NSM_SOIL_KOC soils", 32, 32},
      {"NSM_SOIL_KM soils", 31, 31},
      {"NSM_GW_OTH soils", 30, 30},
      {"PRECIP_CONC 1 2", 50000, 50000},
      {"PARTITION 0.5", 60000, 60000},
      {"ID  DESCRIPTION  VALUE", 0, 0},
      {"", 0, 0},
  };
  for (const id_case& c : cases) {
    EXPECT_EQ(map_table_id(c.line), c.table_id) << c.line;
    EXPECT_EQ(map_line_id(c.line), c.line_id) << c.line;
  }

  // The name of every keyword id gives that id back.
  std::vector<int> ids;
  for (int id = 1; id <= map_table_last; ++id) ids.push_back(id);
  for (int id : {137, 138, 139, 140, 50000, 60000}) ids.push_back(id);
  for (int id : ids) {
    char name[60] = "unchanged";
    map_table_name(id, name, sizeof name);
    EXPECT_EQ(map_line_id(name), id) << name;
  }
  char name[60] = "unchanged";
  map_table_name(0, name, sizeof name);
  map_table_name(33, name, sizeof name);
  EXPECT_STREQ(name, "unchanged");
  char small[6] = {};
  map_table_name(map_table_evapotranspiration, small, sizeof small);
  EXPECT_STREQ(small, "EVAPO");  // cut to the buffer

  const int counts[][2] = {{1, 1},  {2, 2},  {4, 7},  {6, 9},  {7, 11}, {9, 0}, {11, 8},
                           {13, 0}, {16, 3}, {26, 5}, {32, 6}, {0, 0},  {33, 0}};
  for (const auto& c : counts) EXPECT_EQ(map_table_value_count(c[0]), c[1]) << c[0];
}

TEST_F(MappingTables, TableSearchThroughTheIndexMapLines) {
  struct find_case {
    const char* what;
    std::string text;
    int id;
    int found;
    const char* index_file;
  };
  const find_case cases[] = {
      {"a table and its index map", magic + "INDEX_MAP lu.idx Land use\nROUGHNESS Land use\n", 1, 1,
       "lu.idx"},
      {"two blanks after the file token",
       magic + "INDEX_MAP lu.idx  Land use\nROUGHNESS Land use\n", 1, 1, "lu.idx"},
      {"a trailing blank on the index-map line",
       magic + "INDEX_MAP lu.idx Land use \nROUGHNESS Land use\n", 1, 0, ""},
      {"a quoted file name with blanks",
       magic + "INDEX_MAP \"my maps/lu one.idx\" Land use\nINTERCEPTION Land use\n", 2, 1,
       "my maps/lu one.idx"},
      {"a blank line before the index-map lines",
       magic + "\nINDEX_MAP lu.idx Land use\nROUGHNESS Land use\n", 1, 0, ""},
      {"the later of two index-map lines of one name",
       magic + "INDEX_MAP a.idx soils\nINDEX_MAP b.idx soils\nRETENTION soils\n", 3, 1, "b.idx"},
      {"the first of two headers decides",
       magic + "INDEX_MAP a.idx soils\nRETENTION other\nRETENTION soils\n", 3, 0, ""},
      {"other tables and comments before the header",
       magic + "INDEX_MAP a.idx soils\nINDEX_MAP b.idx land\n# comment\nROUGHNESS land\n"
               "NUM_IDS 1\n\nGROUNDWATER soils\n",
       17, 1, "a.idx"},
      {"an INDEX_MAP line after the run is ordinary",
       magic + "INDEX_MAP a.idx soils\n\nINDEX_MAP b.idx land\nROUGHNESS land\n", 1, 0, ""},
      {"GROUNDWATER_BOUNDARY is no GROUNDWATER header",
       magic + "INDEX_MAP a.idx soils\nGROUNDWATER_BOUNDARY soils\n", 17, 0, ""},
      {"no table", magic + "INDEX_MAP a.idx soils\nROUGHNESS soils\n", 2, 0, ""},
      {"another first line", "INDEX_MAP_TABLES\nINDEX_MAP a.idx soils\nROUGHNESS soils\n", 1, 0,
       ""},
      {"an empty file", "", 1, 0, ""},
      {"the file ends within the index-map lines", magic + "INDEX_MAP a.idx soils\n", 1, 0, ""},
      {"the contaminant table is not looked up",
       magic + "CONTAMINANT_TRANSPORT whatever\nNUM_CONTAM 1\n", 11, 1, ""},
      {"the series index table is not looked up", magic + "TIME_SERIES_INDEX x\nNUM_IDS 1\n", 15, 1,
       ""},
      {"an id that is no table", magic + "INDEX_MAP a.idx soils\nnothing\n", 0, 0, ""},
  };
  for (const find_case& c : cases) {
    file_handle h;
    open_table_file(h, c.text);
    std::string index_file = "stale";
    EXPECT_EQ(map_table_find(h, c.id, index_file), c.found) << c.what;
    EXPECT_EQ(index_file, c.index_file) << c.what;
  }

  // The handle is left just after the header; the search keeps the index-map list.
  file_handle h;
  open_table_file(h, magic +
                         "INDEX_MAP a.idx soils\nINDEX_MAP b.idx soils\nINDEX_MAP c.idx land\n"
                         "WELL_TABLE \"soils\" x\nNUM_IDS 2\n");
  index_map_list maps;
  std::string header;
  ASSERT_EQ(map_table_locate(h, map_table_wells, maps, header), 1);
  EXPECT_EQ(header, "\"soils\" x");
  ASSERT_EQ(maps.size(), 3u);
  EXPECT_EQ(index_map_lookup(maps, "soils")->file_name, "b.idx");
  EXPECT_EQ(index_map_lookup(maps, "land")->file_name, "c.idx");
  EXPECT_EQ(index_map_lookup(maps, "soil"), nullptr);
  EXPECT_EQ(map_table_read_num_ids(h), 2);

  // A map name far beyond 39 characters and a long file name are held whole.
  const std::string long_name(300, 'n');
  const std::string long_file(400, 'f');
  file_handle g;
  open_table_file(g, magic + "INDEX_MAP " + long_file + " " + long_name + "x\nINDEX_MAP " +
                         long_file + "2 " + long_name + "\nROUGHNESS " + long_name + "\n");
  std::string index_file;
  EXPECT_EQ(map_table_find(g, map_table_roughness, index_file), 1);
  EXPECT_EQ(index_file, long_file + "2");
}

TEST_F(MappingTables, SedimentHeaderIsFoundWithoutItsMapName) {
  file_handle h;
  open_table_file(h, magic +
                         "INDEX_MAP a.idx soils\nROUGHNESS soils\nSEDIMENTS no such map\n"
                         "NUM_SED 3\n");
  EXPECT_EQ(map_table_find_sed(h), 1);
  EXPECT_EQ(map_table_read_num_sed(h), 3);

  file_handle none;
  open_table_file(none, magic + "ROUGHNESS soils\nNUM_IDS 1\n");
  EXPECT_EQ(map_table_find_sed(none), 0);
  file_handle other;
  open_table_file(other, "something else\nSEDIMENTS x\n");
  EXPECT_EQ(map_table_find_sed(other), 0);
}

TEST_F(MappingTables, CountLinesAndTheColumnHeaderLine) {
  // Each count reader takes only its own keyword; every line is consumed.
  file_handle h;
  open_table_file(h,
                  "NUM_IDS 5\nNUM_IDSX 4\nNUM_SED 3\nNUM_SED 3\nNUM_CONTAM 2\nNUM_IDS\n"
                  "NUM_IDS x\nROUGHNESS 7\nNUM_IDS -2\nNUM_IDS 6\n");
  EXPECT_EQ(map_table_read_num_ids(h), 5);
  EXPECT_EQ(map_table_read_num_ids(h), 4);
  EXPECT_EQ(map_table_read_num_ids(h), 0);  // a NUM_SED line
  EXPECT_EQ(map_table_read_num_sed(h), 3);
  EXPECT_EQ(map_table_read_count(h), 2);
  EXPECT_EQ(map_table_read_num_ids(h), 0);  // no number
  EXPECT_EQ(map_table_read_num_ids(h), 0);  // not a number
  EXPECT_EQ(map_table_read_num_ids(h), 0);  // a ROUGHNESS line
  {
    stdout_capture capture;
    EXPECT_EQ(map_table_read_num_ids(h), 0);  // a negative count
    const std::string out = capture.stop();
    EXPECT_NE(out.find("NUM_IDS -2"), std::string::npos) << out;
    EXPECT_NE(out.find("negative count"), std::string::npos) << out;
  }
  EXPECT_EQ(map_table_read_num_ids(h), 6);
  EXPECT_EQ(map_table_read_num_ids(h), 0);  // end of the file

  // The column-header line is consumed; keyword lines before it are passed over with it.
  struct skip_case {
    const char* what;
    std::string text;
    int at_end;
    const char* next;
  };
  const skip_case cases[] = {
      {"a plain column header", "ID DESCRIPTION VALUE\n     1 row\n", 0, "     1 row"},
      {"a header that begins with a keyword loses the first row",
       "ROUGHNESS VALUES\n     1 first row\n     2 second row\n", 0, "     2 second row"},
      {"keyword lines before the header", "PRECIP_CONC 1 2\nNUM_IDS 3\nID\n     1 row\n", 0,
       "     1 row"},
      {"the file ends on keyword lines", "NUM_IDS 3\nPARTITION 2\n", 1, "<eof>"},
      {"the file is at its end", "", 1, "<eof>"},
  };
  for (const skip_case& c : cases) {
    file_handle s;
    open_table_file(s, c.text);
    EXPECT_EQ(map_table_skip(s), c.at_end) << c.what;
    EXPECT_EQ(next_line(s), c.next) << c.what;
  }
}

TEST_F(MappingTables, QuotedStringsOfAContaminantLine) {
  std::string line = "  \"Lead, dissolved\"  \"lead map\"  \"out/lead.out\"";
  std::string out;
  quote_extract(line, out);
  EXPECT_EQ(out, "\"Lead, dissolved\"");
  EXPECT_EQ(line, "\"lead map\"  \"out/lead.out\"");
  quote_extract(line, out);
  EXPECT_EQ(out, "\"lead map\"");  // the index-map name keeps its quotes
  EXPECT_EQ(line, "\"out/lead.out\"");
  quote_extract(line, out);
  EXPECT_EQ(out, "\"out/lead.out\"");
  EXPECT_EQ(line, "");
  quote_strip(out);
  EXPECT_EQ(out, "out/lead.out");

  std::string empty;
  quote_extract(empty, out);
  EXPECT_EQ(out, "\"");
  EXPECT_EQ(empty, "");
  std::string unclosed = "x \"open text";
  quote_extract(unclosed, out);
  EXPECT_EQ(out, "\"open text");
  EXPECT_EQ(unclosed, "");

  char text[] = "\"a\"b\"\"c\"";
  quote_strip(text);
  EXPECT_STREQ(text, "abc");
}

// Adds a series of one row named `name` to the run's list.
time_series* add_series(const char* name, double value) {
  time_series* s = ts_create();
  copy_text(s->name, sizeof s->name, name);
  s->times = {0.0};
  s->values = {value};
  s->count = 1;
  return s;
}

TEST_F(MappingTables, SeriesIndexTableTiesIdsToSeries) {
  time_series* inflow = add_series("inflow_north", 1.0);
  time_series* stage = add_series("stage", 2.0);
  write_file(dir_.file("t.cmt"), magic +
                                     "INDEX_MAP a.idx soils\nROUGHNESS soils\nNUM_IDS 1\n"
                                     "TIME_SERIES_INDEX whatever\nNUM_IDS 5\nID  NAME\n"
                                     "     3inflow\n"  // digit in the sixth character
                                     "    12 stage extra words\n"
                                     "     4 missing\n"
                                     "     7 \"stage\"\n"
                                     "     7 inflow_north\n");
  stdout_capture capture;
  EXPECT_EQ(map_table_link_series("t.cmt"), 1);
  const std::string out = capture.stop();
  EXPECT_EQ(ts_index_loaded, 1);
  EXPECT_NE(out.find("Adding table to list: inflow... Success!\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Adding table to list: missing... Failure, table not found.\n"),
            std::string::npos)
      << out;

  // Newest first: the last row of a repeated index comes first.
  std::vector<std::pair<int, time_series*>> entries;
  for (ts_index_entry* e = ts_index_head; e != nullptr; e = e->next)
    entries.emplace_back(e->index, e->series);
  const std::vector<std::pair<int, time_series*>> expected = {
      {7, inflow}, {7, stage}, {4, nullptr}, {12, stage}, {3, inflow}};
  EXPECT_EQ(entries, expected);
  EXPECT_DOUBLE_EQ(ts_table_value(7, 0.0), 1.0);
  EXPECT_EQ(run_error.error_fatal, 0);

  // Without the table nothing is added and the reading succeeds.
  ts_free_all();
  write_file(dir_.file("none.cmt"), magic + "ROUGHNESS soils\n");
  EXPECT_EQ(map_table_link_series("none.cmt"), 1);
  EXPECT_EQ(ts_index_head, nullptr);
  EXPECT_EQ(ts_index_loaded, 1);
}

TEST_F(MappingTables, SeriesIndexTableFaultsStopTheRun) {
  add_series("flow", 1.0);
  struct fault_case {
    const char* what;
    std::string rows;  // NUM_IDS line and rows
    const char* message;
  };
  const fault_case cases[] = {
      {"fewer rows than the count", "NUM_IDS 3\nID NAME\n     1 flow\n     2 flow\n",
       "Error: table TIME_SERIES_INDEX of mapping table file t.cmt ends after 2 of its 3 rows\n"},
      {"a row without an id", "NUM_IDS 2\nID NAME\n     1 flow\n  x   flow\n",
       "Error: row 2 of table TIME_SERIES_INDEX in mapping table file t.cmt has no id in its "
       "first six characters\n"},
      {"a row without a name", "NUM_IDS 1\nID NAME\n     5\n",
       "Error: row 1 (id 5) of table TIME_SERIES_INDEX in mapping table file t.cmt names no "
       "series\n"},
  };
  for (const fault_case& c : cases) {
    run_error = error_state{};
    write_file(dir_.file("t.cmt"), magic + "TIME_SERIES_INDEX x\n" + c.rows);
    stdout_capture capture;
    EXPECT_EQ(map_table_link_series("t.cmt"), 0) << c.what;
    const std::string out = capture.stop();
    EXPECT_NE(out.find(c.message), std::string::npos) << c.what << "\n" << out;
    EXPECT_EQ(run_error.error_fatal, 1) << c.what;
    EXPECT_EQ(run_error.error_code, 0) << c.what;  // reported at once
    ts_free_all();
  }

  run_error = error_state{};
  stdout_capture capture;
  EXPECT_EQ(map_table_link_series("absent.cmt"), 0);
  const std::string out = capture.stop();
  EXPECT_NE(out.find("Unable to open Mapping Table file: absent.cmt\n"), std::string::npos) << out;
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(ts_index_loaded, 1);
}

TEST_F(MappingTables, RichardsMapOfEachForm) {
  write_file(dir_.file("t.cmt"), magic +
                                     "INDEX_MAP brooks.idx soils\nINDEX_MAP haver.idx soils2\n"
                                     "RICHARDS_EQN_INFILTRATION_BROOKS soils\n"
                                     "RICHARDS_EQN_INFILTRAIION_HAVERCAMP soils2\n");
  char name[1024] = "unchanged";
  EXPECT_EQ(find_richards_map("t.cmt", 1, name, sizeof name), 1);
  EXPECT_STREQ(name, "brooks.idx");
  EXPECT_EQ(find_richards_map("t.cmt", 2, name, sizeof name), 1);
  EXPECT_STREQ(name, "haver.idx");
  copy_text(name, sizeof name, "unchanged");
  EXPECT_EQ(find_richards_map("t.cmt", 3, name, sizeof name), 0);
  {
    stdout_capture quiet;
    EXPECT_EQ(find_richards_map("absent.cmt", 1, name, sizeof name), 0);
  }
  write_file(dir_.file("none.cmt"), magic + "INDEX_MAP a.idx soils\nROUGHNESS soils\n");
  EXPECT_EQ(find_richards_map("none.cmt", 2, name, sizeof name), 0);
  EXPECT_STREQ(name, "unchanged");
  EXPECT_EQ(run_error.error_fatal, 0);

  // A file name that does not fit the caller's buffer is refused, not cut.
  char small[8] = "keep";
  stdout_capture capture;
  EXPECT_EQ(find_richards_map("t.cmt", 1, small, sizeof small), 0);
  const std::string out = capture.stop();
  EXPECT_STREQ(small, "keep");
  EXPECT_NE(out.find("Error: the index map file name of table RICHARDS_EQN_INFILTRATION_BROOKS "
                     "in mapping table file t.cmt is longer than 7 characters\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(run_error.error_fatal, 1);
}

TEST_F(MappingTables, CheckReportRecordsTheTablesPresent) {
  write_file(dir_.file("lu.idx"), "index map\n");
  write_file(dir_.file("gw.idx"), "index map\n");
  write_file(dir_.file("t.cmt"),
             magic +
                 "INDEX_MAP lu.idx land\nINDEX_MAP gw.idx aquifer\nINDEX_MAP gone.idx lost\n"
                 "ROUGHNESS land\nNUM_IDS 1\n"
                 "INTERCEPTION lost\nNUM_IDS 1\n"             // its index map is missing
                 "RETENTION nowhere\nNUM_IDS 1\n"             // no index-map line
                 "SEDIMENTS sediment classes\nNUM_SED 2\n"    // map name unmatched
                 "CONTAMINANT_TRANSPORT x\nNUM_CONTAM 0\n"    // a count of 0
                 "GROUNDWATER_BOUNDARY aquifer\nNUM_IDS 1\n"  // not GROUNDWATER
                 "WETLAND_PROPERTIES land\nNUM_IDS 2\n"
                 "NSM_SOIL_KOC aquifer\nNUM_IDS 1\n");
  int flags[map_checked_tables];
  for (int& f : flags) f = 7;
  stdout_capture capture;
  check_map_tables("t.cmt", flags);
  const std::string out = capture.stop();

  const int present[] = {0, 11, 15, 29};  // roughness, wetlands, groundwater boundary, soil Koc
  for (int i = 0; i < map_checked_tables; ++i) {
    const bool expected = std::find(std::begin(present), std::end(present), i) != std::end(present);
    EXPECT_EQ(flags[i], expected ? 1 : 0) << "table " << i;
  }
  EXPECT_EQ(out.rfind("\nChecking 2D grid mapping tables...\n  Roughness" + dots(26) + "Y\n", 0),
            0u)
      << out;
  const std::string lines[] = {
      "  Interception" + dots(23) + "N\n",
      "  Sediments" + dots(26) + "N\n",
      "  Contaminants" + dots(23) + "N\n",
      "  Wetlands" + dots(27) + "Y\n",
      "  Groundwater" + dots(24) + "N\n  Groundwater Boundary" + dots(15) + "Y\n",
      "  NSM Other" + dots(26) + "N\n  NSM Carbon" + dots(25) + "N\n",
      "  NSM Soil Koc" + dots(23) + "Y\n",
  };
  for (const std::string& l : lines) EXPECT_NE(out.find(l), std::string::npos) << l << out;
  EXPECT_EQ(out.find("Richards Havercamp" + dots(17) + "N\n"), out.find("Richards Havercamp"));

  // A positive count makes the contaminant and sediment tables count.
  write_file(dir_.file("c.cmt"), magic +
                                     "INDEX_MAP lu.idx land\nCONTAMINANT_TRANSPORT x\n"
                                     "NUM_CONTAM 2\nSEDIMENTS land\nNUM_SED 3\n");
  stdout_capture again;
  check_map_tables("c.cmt", flags);
  again.stop();
  EXPECT_EQ(flags[10], 1);
  EXPECT_EQ(flags[8], 1);
  EXPECT_EQ(flags[0], 0);

  // A display name of 35 characters or more gets no dots.
  int flag = 0;
  stdout_capture one;
  map_table_present(flag, map_table_roughness, "t.cmt", std::string(36, 'R').c_str());
  EXPECT_EQ(one.stop(), "  " + std::string(36, 'R') + "Y\n");
  EXPECT_EQ(flag, 1);
}

TEST_F(MappingTables, CheckOfAFileThatDoesNotOpenIsCode64) {
  int flags[map_checked_tables];
  for (int& f : flags) f = 7;
  stdout_capture capture;
  check_map_tables("absent.cmt", flags);
  const std::string out = capture.stop();
  EXPECT_NE(out.find("Unable to open Mapping Table file: absent.cmt\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Checking"), std::string::npos) << out;
  EXPECT_EQ(run_error.error_fatal, 1);
  for (int f : flags) EXPECT_EQ(f, 7);
}

TEST_F(MappingTables, RunParametersCheckTheMappingTableFile) {
  write_file(dir_.file("lu.idx"), "index map\n");
  write_file(dir_.file("t.cmt"), magic +
                                     "INDEX_MAP lu.idx land\nROUGHNESS land\nNUM_IDS 1\n"
                                     "WETLAND_PROPERTIES land\nNUM_IDS 1\n"
                                     "EVAPOTRANSPIRATION land\nNUM_IDS 1\n");
  write_file(dir_.file("p.prj"),
             "TORVAPROJECT\nROWS 2\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 10\nTOT_TIME 60\n"
             "PRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 30\nMAPPING_TABLE t.cmt\n");
  auto ms = std::make_unique<model_state>();
  stdout_capture capture;
  read_run_parameters(*ms, "p.prj");
  const std::string out = capture.stop();
  EXPECT_NE(out.find("Checking 2D grid mapping tables...\n"), std::string::npos) << out;
  EXPECT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_EQ(ms->input.table_present[0], 1);
  EXPECT_EQ(ms->input.table_present[7], 1);
  EXPECT_EQ(ms->input.table_present[11], 1);
  EXPECT_EQ(ms->input.table_present[1], 0);
  // The choices that read the flags see them.
  EXPECT_EQ(ms->overland.roughness_on, 1);
  EXPECT_EQ(ms->input.wetland_table_on, 1);
  EXPECT_EQ(ms->subsurface.albedo_on, 1);

  // Without the card the file is not checked.
  write_file(dir_.file("p.prj"),
             "TORVAPROJECT\nROWS 2\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 10\nTOT_TIME 60\n"
             "PRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 30\n");
  auto plain = std::make_unique<model_state>();
  stdout_capture quiet;
  read_run_parameters(*plain, "p.prj");
  EXPECT_EQ(quiet.stop().find("Checking 2D"), std::string::npos);
  EXPECT_EQ(plain->overland.roughness_on, 0);
  EXPECT_EQ(plain->input.wetland_table_on, 0);
}

}  // namespace mapping_tables_tests
