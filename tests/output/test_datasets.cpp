// Dataset writers: an ASCII map dataset of two frames read back frame by frame; a binary map
// dataset checked byte by byte against bytes written by hand; link/node headers and records in
// their three value modes with lake, structure and short links; the run's link/node headers
// with a hydrograph interval shorter than a minute; a dataset file that does not open.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "output/datasets.h"
#include "output/series_outputs.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::temp_dir;

namespace {

// A 2 x 3 grid whose second position is outside the watershed: five cells.
void small_index(raw_array2d<int>& index) {
  index.allocate(2, 3);
  const int cells[2][3] = {{1, 0, 2}, {3, 4, 5}};
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) index[r][c] = cells[r - 1][c - 1];
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

TEST(MapDataset, AnAsciiDatasetOfTwoFramesReadsBackFrameByFrame) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  raw_array2d<int> index;
  small_index(index);
  raw_array1d<double> values;
  values.allocate(5);
  file_handle file;
  ASSERT_TRUE(write_ascii_dataset_header("depth.dat", file, 1010, "depth", 2, 3));
  for (int frame = 0; frame < 2; ++frame) {
    for (int i = 1; i <= 5; ++i) values[i] = 10.0 * frame + i + 0.25;
    write_map_dataset_step(file, 60.0 * (frame + 1), 2, 3, index, values.data(), false);
  }
  file_handle_close(file);

  const std::vector<std::string> w = words(read_file("depth.dat"));
  const std::vector<std::string> header = {"DATASET", "OBJTYPE", "grid2d", "BEGSCL",
                                           "OBJID",   "1010",    "ND",     "6",
                                           "NC",      "6",       "NAME",   "depth"};
  ASSERT_GE(w.size(), header.size());
  EXPECT_EQ(std::vector<std::string>(w.begin(), w.begin() + header.size()), header);
  std::size_t at = header.size();
  const int flags[6] = {1, 0, 1, 1, 1, 1};
  for (int frame = 0; frame < 2; ++frame) {
    ASSERT_LE(at + 3 + 12, w.size()) << "frame " << frame;
    EXPECT_EQ(w[at], "TS");
    EXPECT_EQ(w[at + 1], "1");
    EXPECT_DOUBLE_EQ(std::stod(w[at + 2]), 60.0 * (frame + 1));
    at += 3;
    for (int k = 0; k < 6; ++k) EXPECT_EQ(std::stoi(w[at + k]), flags[k]) << k;
    at += 6;
    int cell = 1;
    for (int k = 0; k < 6; ++k) {
      const double expected = flags[k] ? 10.0 * frame + cell++ + 0.25 : 0.0;
      EXPECT_DOUBLE_EQ(std::stod(w[at + k]), expected) << "frame " << frame << " position " << k;
    }
    at += 6;
  }
  EXPECT_EQ(at, w.size());
}

// Bytes of the file against bytes written out by hand: little-endian ints, 2-byte flags and
// 8-byte doubles.
TEST(MapDataset, ABinaryDatasetHasTheBytesWrittenByHand) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  raw_array2d<int> index;
  small_index(index);
  raw_array1d<double> values;
  values.allocate(5);
  const double v[6] = {0.0, 1.0, -2.0, 0.5, 3.0, 1.5};
  for (int i = 1; i <= 5; ++i) values[i] = v[i];
  file_handle file;
  ASSERT_TRUE(write_binary_dataset_header("rain.bin", file, 1012, "rain", 2, 3));
  write_map_dataset_step(file, 2.5, 2, 3, index, values.data(), true);
  file_handle_close(file);

  std::vector<unsigned char> expected = {
      0xB8, 0x0B, 0,   0,                     // 3000
      100,  0,    0,   0,  4,    0,    0, 0,  // card 100, 4
      110,  0,    0,   0,  8,    0,    0, 0,  // card 110, 8
      120,  0,    0,   0,  2,    0,    0, 0,  // card 120, 2
      130,  0,    0,   0,                     // card 130
      160,  0,    0,   0,  0xF4, 0x03, 0, 0,  // card 160, 1012
      170,  0,    0,   0,  6,    0,    0, 0,  // card 170, 6 values
      180,  0,    0,   0,  6,    0,    0, 0,  // card 180, 6 cells
      190,  0,    0,   0,                     // card 190
      'r',  'a',  'i', 'n'};
  expected.resize(expected.size() + 36, 0);  // the name is 40 bytes, zero-padded
  const unsigned char frame[] = {
      200, 0, 0, 0,                                // card 200
      1,   0,                                      // 2-byte 1
      0,   0, 0, 0, 0, 0, 0x04, 0x40,              // 2.5
      1,   0, 0, 0, 1, 0, 1,    0,    1, 0, 1, 0,  // flags
      0,   0, 0, 0, 0, 0, 0xF0, 0x3F,              // 1.0
      0,   0, 0, 0, 0, 0, 0,    0,                 // 0.0 outside
      0,   0, 0, 0, 0, 0, 0x00, 0xC0,              // -2.0
      0,   0, 0, 0, 0, 0, 0xE0, 0x3F,              // 0.5
      0,   0, 0, 0, 0, 0, 0x08, 0x40,              // 3.0
      0,   0, 0, 0, 0, 0, 0xF8, 0x3F,              // 1.5
  };
  expected.insert(expected.end(), std::begin(frame), std::end(frame));
  const std::string got = read_file("rain.bin");
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k)
    EXPECT_EQ(static_cast<unsigned char>(got[k]), expected[k]) << "byte " << k;
}

// A name of 40 bytes or more is cut to 40 in the binary header.
TEST(MapDataset, ABinaryNameIsCutToFortyBytes) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  file_handle file;
  const std::string name(50, 'x');
  ASSERT_TRUE(write_binary_dataset_header("long.bin", file, 1, name.c_str(), 1, 1));
  file_handle_close(file);
  const std::string got = read_file("long.bin");
  ASSERT_EQ(got.size(), 60u + 40u);
  EXPECT_EQ(got.substr(60), std::string(40, 'x'));
}

TEST(MapDataset, AFileThatDoesNotOpenLeavesItsCodeAndName) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  file_handle file;
  EXPECT_FALSE(write_ascii_dataset_header("no_such_dir/x/depth.dat", file, 1010, "depth", 2, 3));
  EXPECT_EQ(run_error.error_code, err_output_file_not_open);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(std::string(error_file_name).find("depth.dat"), std::string::npos);
  EXPECT_FALSE(file.is_open());
}

// Three links: a routed link of 2 nodes written with 3 entries, a lake link and a structure
// link; node tables [node][link].
struct linknode_fixture {
  raw_array2d<double> first, second;
  int node_count[4] = {0, 2, 0, 1};
  int written[4] = {0, 3, 0, 0};
  int ltype[4] = {0, 4, 32, 64};
  int link_lake[4] = {0, 0, 1, 0};
  double lake_values[2] = {0.0, 101.5};
  linknode_fixture() {
    first.allocate(3, 3);
    second.allocate(3, 3);
    first[1][1] = 5.0;
    second[1][1] = 2.0;
    first[2][1] = 1.0;
    second[2][1] = 5e-8;
    first[1][3] = 7.25;
  }
};

// The fields of the lines of a record after its "TS" line.
std::vector<std::vector<std::string>> record_lines(const std::string& text, std::string& ts) {
  std::istringstream in(text);
  std::string line;
  std::getline(in, ts);
  std::vector<std::vector<std::string>> out;
  while (std::getline(in, line)) out.push_back(words(line));
  return out;
}

TEST(LinknodeDataset, RecordsFormTheirValuesByModeAndMarkLakesStructuresAndMissingNodes) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  linknode_fixture f;
  struct mode_case {
    int mode;
    std::vector<std::vector<std::string>> lines;
  };
  const std::vector<mode_case> cases = {
      {linknode_plain,
       {{"3", "1", "5.00000", "1", "1.00000", "0", "-999.999"},
        {"0", "-999.999"},
        {"-2", "7.25000"},
        {}}},
      {linknode_difference,
       {{"3", "1", "3.00000", "1", "1.00000", "0", "-999.999"},
        {"-1", "101.50000"},
        {"0", "-999.999"},
        {}}},
      {linknode_ratio,
       {{"3", "1", "2.50000", "1", "0.00000", "0", "-999.999"},
        {"-1", "101.50000"},
        {"0", "-999.999"},
        {}}},
      // The output objects' records: plain node values, the lake link with its lake's value.
      {linknode_plain_lakes,
       {{"3", "1", "5.00000", "1", "1.00000", "0", "-999.999"},
        {"-1", "101.50000"},
        {"-2", "7.25000"},
        {}}},
  };
  for (const mode_case& c : cases) {
    file_handle file;
    ASSERT_TRUE(file_handle_open(file, "ln.out", "w"));
    write_linknode_step(file, 3, f.node_count, f.written, f.ltype, 7, f.first.row_table(),
                        f.second.row_table(), c.mode, f.link_lake, f.lake_values);
    file_handle_close(file);
    std::string ts;
    const auto lines = record_lines(read_file("ln.out"), ts);
    EXPECT_EQ(ts, "TS    7");
    EXPECT_EQ(lines, c.lines) << "mode " << c.mode;
  }
}

TEST(LinknodeDataset, ARecordWithoutLinksIsItsTsLineAndAnEmptyLine) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  file_handle file;
  ASSERT_TRUE(file_handle_open(file, "ln.out", "w"));
  write_linknode_step(file, 0, nullptr, nullptr, nullptr, 0, nullptr, nullptr, 0, nullptr, nullptr);
  file_handle_close(file);
  EXPECT_EQ(read_file("ln.out"), "TS    0\n\n");
}

// The run's headers: interval in whole minutes and the record count TOT_TIME / interval; an
// interval below a minute counts as one minute instead of dividing by zero.
TEST(LinknodeDataset, RunHeadersCountRecordsEvenForAnIntervalBelowAMinute) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  struct interval_case {
    int hyd_freq_steps;
    double timestep;
    int time_step, records;
  };
  const interval_case cases[] = {{6, 10.0, 1, 125}, {60, 35.0, 35, 3}, {1, 10.0, 1, 125}};
  for (const interval_case& c : cases) {
    auto ms = std::make_unique<model_state>();
    ms->hyd_freq_steps = c.hyd_freq_steps;
    ms->timestep = c.timestep;
    ms->tot_time = 125;
    ms->grid_params.start_day = 14;
    ms->grid_params.start_month = 3;
    ms->grid_params.start_year = 2005;
    ms->grid_params.start_hour = 6;
    ms->grid_params.start_minute = 30;
    ms->channel.chan_explic = 1;
    ms->channel.chan_link_count = 4;
    ms->output.chan_depth_on = 1;
    ASSERT_TRUE(file_handle_open(ms->channel.chan_depth_file, "depth.out", "w"));
    write_linknode_run_headers(*ms);
    file_handle_close(ms->channel.chan_depth_file);
    const std::vector<std::string> w = words(read_file("depth.out"));
    const std::vector<std::string> expected = {"TORVA_LINKNODE_STREAM_DEPTH",
                                               "NUM_LINKS",
                                               "4",
                                               "TIME_STEP",
                                               std::to_string(c.time_step),
                                               "NUM_TS",
                                               std::to_string(c.records),
                                               "START_TIME",
                                               "14",
                                               "3",
                                               "2005",
                                               "6",
                                               "30",
                                               "0"};
    EXPECT_EQ(w, expected) << c.hyd_freq_steps << " steps of " << c.timestep << " s";
  }
}

}  // namespace
