// End-to-end cases: the real torva executable run on the projects of tests/cases/, each copied
// into a fresh folder. The small watershed runs to a normal end with its numbered mask, its
// summary start-up lines and its run time; each bad grid stops the run with its message and a
// nonzero exit status, never with a crash.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/test_support.h"

using torva_test::command_result;
using torva_test::file_exists;
using torva_test::read_file;
using torva_test::run_command;
using torva_test::temp_dir;
using torva_test::torva_exe;
using torva_test::write_file;

namespace {

const std::string small_case = std::string(TORVA_SOURCE_DIR) + "/tests/cases/small";

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A run that ended in a memory or undefined-behaviour fault (reported by the sanitizers of a
// checking build, which exit with status 1 as a fatal run does).
bool faulted(const command_result& run) {
  return run.status >= 128 || contains(run.err, "Sanitizer") || contains(run.err, "runtime error");
}

// Copies the small case's input files into the current folder.
void copy_small_case(const temp_dir& dir) {
  for (const char* name : {"small.prj", "small_mask.asc", "small_elev.asc"})
    write_file(dir.file(name), read_file(small_case + "/" + name));
}

// Replaces the first `from` in the file by `to`.
void edit_file(const std::string& path, const std::string& from, const std::string& to) {
  std::string text = read_file(path);
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  write_file(path, text);
}

TEST(SmallCase, RunsToANormalEndWithItsMaskAndStartUpLines) {
  temp_dir dir;
  copy_small_case(dir);
  const command_result run = run_command(torva_exe(), {"small.prj"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_FALSE(faulted(run)) << run.err;

  EXPECT_EQ(read_file(dir.file("maskmap")), read_file(small_case + "/expected/maskmap"));

  const std::string summary = read_file(dir.file("small_summary.out"));
  const std::string start_up =
      "_________TORVA start-up information________\n"
      "Run parameters read from VRO project file: small.prj\n";
  EXPECT_TRUE(contains(summary, start_up)) << summary;
  const std::string reading =
      "reading watershed mask from file: small_mask.asc\n"
      "number of grid cells in watershed: 108\n"
      "reading elevation map from file: small_elev.asc\n"
      "outlet is in grid cell: 104\n";
  EXPECT_TRUE(contains(summary, reading)) << summary;
  EXPECT_TRUE(contains(run.out, reading)) << run.out;

  const std::string times = read_file(dir.file("out_time.out"));
  EXPECT_EQ(times.rfind("total time (s): ", 0), 0u) << times;
  EXPECT_EQ(times.back(), '\n');
}

TEST(SmallCase, BadGridsStopTheRunWithTheirMessage) {
  struct bad_case {
    const char* what;
    const char* file;  // edited file of the case
    std::string from, to;
    const char* message;
  };
  const bad_case cases[] = {
      {"mask rows", "small_mask.asc", "rows: 10", "rows: 11",
       "Incorrect number of rows in map: small_mask.asc\n"},
      {"elevation cols", "small_elev.asc", "cols: 12", "cols: 13",
       "Incorrect number of columns in map: small_elev.asc\n"},
      {"cell size", "small.prj", "GRIDSIZE           30.0", "GRIDSIZE           25.0",
       "the north-south dimension of the raster grid cells 30.0000 m as calculated\n"},
      {"non-numeric value", "small_elev.asc", "104.20 104.60", "104.20 1O4.60",
       "Error: bad value \"1O4.60\" in map small_elev.asc at row 3 column 7\n"},
      {"short row", "small_elev.asc", "107.00 0.00 0.00\n", "0.00\n",
       "Error: row 1 of map small_elev.asc holds 10 values where 12 are expected\n"},
      {"outlet outside", "small.prj", "OUTCOL             6", "OUTCOL             12",
       "OUTROW and OUTCOL project file cards.  TORVA terminating.\n"},
      {"missing elevation", "small.prj", "small_elev.asc", "no_such_elev.asc",
       "Error: Unable to open elevation data file.\n  (File: no_such_elev.asc)\n"},
  };
  for (const bad_case& bc : cases) {
    SCOPED_TRACE(bc.what);
    temp_dir dir;
    copy_small_case(dir);
    edit_file(dir.file(bc.file), bc.from, bc.to);
    const command_result run = run_command(torva_exe(), {"small.prj"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_FALSE(faulted(run)) << run.err;
    EXPECT_TRUE(contains(run.out, bc.message)) << run.out << run.err;
    EXPECT_FALSE(contains(run.out, "Running....")) << run.out;
  }
}

}  // namespace
