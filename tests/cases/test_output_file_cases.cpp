// Whole runs of the torva executable on the small watershed about what a run does to its files
// and what it makes of bad counts, lines and numbers in them:
// an output card that names an input or another output stops the run before anything is
// written; a write that fails stops the run with the file and the system's reason; a run
// interrupted by SIGTERM or SIGINT ends its outputs on whole lines and frames, says where it
// stopped and exits with the signal's conventional status; and the frames of MAP_TYPE 0 are
// written into the folder their card names, made when it is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/test_support.h"

extern char** environ;

using torva_test::command_result;
using torva_test::contains;
using torva_test::copy_small_case;
using torva_test::faulted;
using torva_test::file_exists;
using torva_test::read_file;
using torva_test::run_command;
using torva_test::small_case;
using torva_test::small_case_inputs;
using torva_test::temp_dir;
using torva_test::torva_exe;
using torva_test::write_file;

namespace {

// The steps a run took before it stopped: one console progress line per routed step.
int steps_taken_before_stop(const std::string& out) {
  int steps = 0;
  for (std::size_t at = out.find("elapsed time"); at != std::string::npos;
       at = out.find("elapsed time", at + 1))
    ++steps;
  return steps;
}

// The bound on a bad input's peak memory (kB). The peak a child reports holds the test program's
// own at the moment it starts the run, and a build with AddressSanitizer adds its shadow memory
// and quarantine to both, about 60 MB here: that build is held to 200 MB, which still catches a
// reader that allocates by a declared count (hundreds of MB).
#if defined(__SANITIZE_ADDRESS__)
constexpr long peak_limit_kb = 200 * 1024;
#else
constexpr long peak_limit_kb = 50 * 1024;
#endif

const std::string watershed_case = std::string(TORVA_SOURCE_DIR) + "/tests/cases/watershed";

// Copies every file of the watershed case (not its expected outputs) into the folder.
void copy_watershed_case(const temp_dir& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(watershed_case))
    if (entry.is_regular_file() && entry.path().filename() != "case.txt")
      write_file(dir.file(entry.path().filename().string()), read_file(entry.path().string()));
}

// Replaces the line of the project that holds `card` (and its arguments) by `line` (removes it
// when `line` is empty), or adds `line` when there is none.
void set_card(const temp_dir& dir, const std::string& card, const std::string& line,
              const std::string& project = "small.prj") {
  std::istringstream in(read_file(dir.file(project)));
  std::string text, current;
  bool found = false;
  while (std::getline(in, current)) {
    if (current == card || current.rfind(card + " ", 0) == 0) {
      found = true;
      if (!line.empty()) text += line + "\n";
      continue;
    }
    text += current + "\n";
  }
  if (!found) text += line + "\n";
  write_file(dir.file(project), text);
}

// The contents of every input of the small case in the folder.
std::map<std::string, std::string> inputs_of(const temp_dir& dir) {
  std::map<std::string, std::string> files;
  for (const std::string& name : small_case_inputs) files[name] = read_file(dir.file(name));
  return files;
}

// The lines of a text; false when the text does not end with a newline (its last line is cut).
bool whole_lines(const std::string& text, std::vector<std::string>& lines) {
  lines.clear();
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return text.empty() || text.back() == '\n';
}

TEST(OutputFileCases, AnOutputThatNamesAnInputOrAnotherOutputStopsTheRunWithNothingWritten) {
  struct clash_case {
    const char* what;
    std::vector<std::string> lines;  // cards replaced; "{dir}" is the run's folder
    const char* message;             // "{dir}" is the run's folder
  };
  const clash_case cases[] = {
      {"the hydrograph over the project file",
       {"OUTLET_HYDRO small.prj"},
       "Error: OUTLET_HYDRO small.prj names the project file small.prj: the output would "
       "destroy it.\n"},
      {"the summary over the elevation grid",
       {"SUMMARY small_elev.asc"},
       "Error: SUMMARY small_elev.asc names the same file as ELEVATION small_elev.asc: the "
       "output would destroy the input.\n"},
      {"the depth dataset over the elevation grid",
       {"DEPTH small_elev.asc"},
       "Error: DEPTH small_elev.asc names the same file as ELEVATION small_elev.asc: the output "
       "would destroy the input.\n"},
      // Two spellings of one file, one of them written on Windows, are one file.
      {"the depth dataset over the mask, spelled through a folder",
       {"DEPTH sub\\..\\small_mask.asc"},
       "Error: DEPTH sub\\..\\small_mask.asc names the same file as WATERSHED_MASK "
       "small_mask.asc: the output would destroy the input.\n"},
      {"the hydrograph over the moisture grid, named by its whole path",
       {"OUTLET_HYDRO {dir}/small_moisture.asc"},
       "Error: OUTLET_HYDRO {dir}/small_moisture.asc names the same file as MOISTURE "
       "small_moisture.asc: the output would destroy the input.\n"},
      // A series file is read with the project file, before any output is opened.
      {"the lake output over a series file",
       {"TIME_SERIES_FILE feed.ts", "LAKE_OUTPUT feed.ts"},
       "Error: LAKE_OUTPUT feed.ts names the same file as TIME_SERIES_FILE feed.ts: the output "
       "would destroy the input.\n"},
      {"the summary and the hydrograph on one name",
       {"SUMMARY both.out", "OUTLET_HYDRO ./both.out"},
       "Error: SUMMARY both.out and OUTLET_HYDRO ./both.out name the same output file.\n"},
  };
  for (const clash_case& c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir dir;
    copy_small_case(dir);
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0777), 0);
    write_file(dir.file("feed.ts"), "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 6 30 1.0\nEND_TS\n");
    auto in_dir = [&](std::string text) {
      const std::size_t at = text.find("{dir}");
      if (at != std::string::npos) text.replace(at, 5, dir.path());
      return text;
    };
    for (const std::string& line : c.lines)
      set_card(dir, line.substr(0, line.find(' ')), in_dir(line));
    const auto before = inputs_of(dir);
    const command_result run = run_command(torva_exe(), {"small.prj"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_FALSE(faulted(run)) << run.err;
    EXPECT_TRUE(contains(run.out, in_dir(c.message))) << run.out;
    // Refused at start-up: not one step was taken.
    EXPECT_EQ(steps_taken_before_stop(run.out), 0) << run.out;
    // Every input is as it was, and no output was made.
    for (const auto& [name, text] : inputs_of(dir))
      EXPECT_TRUE(text == before.at(name)) << name << " was changed";
    EXPECT_EQ(read_file(dir.file("feed.ts")),
              "TORVA_TS\nfeed\nABSOLUTE\n2005 3 14 6 30 1.0\nEND_TS\n");
    for (const char* output : {"small_summary.out", "small_outlet.out", "small_outlet_sig.out",
                               "small_depth.dat", "both.out", "maskmap"})
      EXPECT_FALSE(file_exists(dir.file(output))) << output;
  }
}

TEST(OutputFileCases, AFailedWriteStopsTheRunNamingTheFileAndTheReason) {
  // /dev/full takes every open and refuses every write with "No space left on device".
  if (!file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  struct full_case {
    const char* card;
    const char* line;
    bool watershed;  // the example watershed, with its channel locations, instead of the small one
  };
  const full_case cases[] = {
      {"SUMMARY", "SUMMARY /dev/full", false},
      {"OUTLET_HYDRO", "OUTLET_HYDRO /dev/full", false},
      {"SIG_OUTLET_HYDRO", "SIG_OUTLET_HYDRO /dev/full", false},
      {"OUT_HYD_LOCATION", "OUT_HYD_LOCATION /dev/full", true},
      {"DEPTH", "DEPTH /dev/full", false},
  };
  for (const full_case& c : cases) {
    SCOPED_TRACE(c.line);
    temp_dir dir;
    const std::string prj = c.watershed ? "watershed.prj" : "small.prj";
    if (c.watershed)
      copy_watershed_case(dir);
    else
      copy_small_case(dir);
    set_card(dir, c.card, c.line, prj);
    const command_result run = run_command(torva_exe(), {prj});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_FALSE(faulted(run)) << run.err;
    EXPECT_TRUE(
        contains(run.out, "Error: could not write the file /dev/full: No space left on device\n"))
        << run.out;
    // The run stops at its first failed write, within the first hydrograph interval (30 steps
    // of 10 s), not after the 720 steps or more of the whole run.
    EXPECT_LE(steps_taken_before_stop(run.out), 30) << run.out;
  }
}

// The example watershed run for a long time under steady rain with a hydrograph line every
// minute at the outlet and at its channel locations, started in the background; SIGTERM or SIGINT
// is sent once its hydrographs have a few hundred lines.
TEST(OutputFileCases, AnInterruptedRunEndsOnWholeLinesAndFramesAndSaysSo) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    temp_dir dir;
    copy_watershed_case(dir);
    const std::string prj = "watershed.prj";
    set_card(dir, "TOT_TIME", "TOT_TIME 5000000", prj);
    set_card(dir, "HYD_FREQ", "HYD_FREQ 1", prj);
    set_card(dir, "MAP_FREQ", "MAP_FREQ 1", prj);
    // Rain for as long as the run lasts, so that no event ends it early.
    set_card(dir, "RAIN_INV_DISTANCE", "", prj);
    set_card(dir, "PRECIP_FILE", "PRECIP_UNIF\nRAIN_INTENSITY 5.0\nRAIN_DURATION 5000000", prj);

    const std::string exe = torva_exe();
    std::vector<char*> argv = {const_cast<char*>(exe.c_str()), const_cast<char*>(prj.c_str()),
                               nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, dir.file("console.out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Read while the run goes on, the hydrographs end on a whole line. A read can still meet a
    // line while the kernel copies it in (a line that crosses a page is copied page by page),
    // rarely; a program that left half lines in its files (a full buffer written out wherever
    // it ends) would show them in nearly every read.
    const std::string outlet = dir.file("watershed_outlet.out");
    const std::string located = dir.file("watershed_hyd_out.out");
    std::vector<std::string> lines;
    const auto start = std::chrono::steady_clock::now();
    int reads = 0, cut_reads = 0;
    for (;;) {
      reads += 2;
      const std::string at_locations = file_exists(located) ? read_file(located) : "";
      if (!whole_lines(at_locations, lines)) ++cut_reads;
      const std::string at_outlet = file_exists(outlet) ? read_file(outlet) : "";
      if (!whole_lines(at_outlet, lines)) ++cut_reads;
      if (lines.size() >= 300) break;
      if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > 60.0)
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_LE(cut_reads * 20, reads) << cut_reads << " of " << reads << " reads met half a line";
    ASSERT_EQ(kill(pid, signal), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);

    // Both hydrographs: whole lines, one a minute from 0, the same minutes in both.
    std::vector<std::string> outlet_lines, location_lines;
    ASSERT_TRUE(whole_lines(read_file(outlet), outlet_lines));
    ASSERT_TRUE(whole_lines(read_file(located), location_lines));
    ASSERT_GE(outlet_lines.size(), 300u);
    EXPECT_EQ(location_lines.size(), outlet_lines.size());
    double last = -1.0;
    for (std::size_t i = 0; i < outlet_lines.size(); ++i) {
      double t = 0.0, q = 0.0;
      char rest = 0;
      ASSERT_EQ(sscanf(outlet_lines[i].c_str(), "%lf %lf %c", &t, &q, &rest), 2) << outlet_lines[i];
      EXPECT_EQ(t, static_cast<double>(i));
      last = t;
      if (i < location_lines.size()) {
        double tl = 0.0, q1 = 0.0, q2 = 0.0;
        ASSERT_EQ(sscanf(location_lines[i].c_str(), "%lf %lf %lf %c", &tl, &q1, &q2, &rest), 3)
            << location_lines[i];
        EXPECT_EQ(tl, t);
      }
    }
    // The depth dataset: its header and whole frames of a time line and two values per cell.
    std::vector<std::string> depth_lines;
    ASSERT_TRUE(whole_lines(read_file(dir.file("watershed_depth.dat")), depth_lines));
    ASSERT_GE(depth_lines.size(), 7u + 241u);
    EXPECT_EQ((depth_lines.size() - 7) % 241, 0u) << depth_lines.size();
    EXPECT_EQ(depth_lines[depth_lines.size() - 241].rfind("TS 1 ", 0), 0u);

    // The summary and the console say when the run stopped: at or after its last hydrograph
    // line and before the next.
    const std::string summary = read_file(dir.file("watershed_summary.out"));
    const std::string console = read_file(dir.file("console.out"));
    const std::string said = "The run was interrupted by signal " + std::to_string(signal) +
                             " at the simulated time of ";
    const std::size_t at = summary.find(said);
    ASSERT_NE(at, std::string::npos)
        << summary.substr(summary.size() > 500 ? summary.size() - 500 : 0);
    const double minutes = atof(summary.c_str() + at + said.size());
    EXPECT_GE(minutes, last);
    EXPECT_LT(minutes, last + 1.0);
    EXPECT_TRUE(contains(console, said))
        << console.substr(console.size() > 500 ? console.size() - 500 : 0);
  }
}

TEST(OutputFileCases, MapType0FramesGoIntoTheFolderTheirCardNames) {
  struct frame_case {
    const char* depth;   // the DEPTH card's name
    const char* folder;  // where the frames are
  };
  // A folder written with the backslash, one level and two, and one that already is there.
  const frame_case cases[] = {
      {"frames", "frames"},
      {"maps\\depth\\", "maps/depth"},
      {"sub", "sub"},
  };
  for (const frame_case& c : cases) {
    SCOPED_TRACE(c.depth);
    temp_dir dir;
    copy_small_case(dir);
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0777), 0);
    set_card(dir, "MAP_TYPE", "MAP_TYPE 0");
    set_card(dir, "DEPTH", std::string("DEPTH ") + c.depth);
    const command_result run = run_command(torva_exe(), {"small.prj"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    // 120 minutes of steps of 10 s, a frame every 60 minutes from the first step: 2 frames.
    for (int frame = 1; frame <= 2; ++frame) {
      char name[64];
      snprintf(name, sizeof name, "/depth.%04d.asc", frame);
      const std::string path = dir.file(std::string(c.folder) + name);
      ASSERT_TRUE(file_exists(path)) << path << "\n" << run.out;
      std::vector<std::string> lines;
      ASSERT_TRUE(whole_lines(read_file(path), lines));
      ASSERT_EQ(lines.size(), 6u + 10u) << path;  // the six header lines and ten rows
      EXPECT_EQ(lines[0], "ncols \t12");
      EXPECT_EQ(lines[1], "nrows \t10");
    }
    char third[64];
    snprintf(third, sizeof third, "/depth.%04d.asc", 3);
    EXPECT_FALSE(file_exists(dir.file(std::string(c.folder) + third)));
  }
}

TEST(OutputFileCases, AMapType0FrameThatCannotBeWrittenStopsTheRun) {
  temp_dir dir;
  copy_small_case(dir);
  // The frames' folder would be a file that is there: no folder can be made in its place.
  write_file(dir.file("taken"), "a file, not a folder\n");
  set_card(dir, "MAP_TYPE", "MAP_TYPE 0");
  set_card(dir, "DEPTH", "DEPTH taken");
  const command_result run = run_command(torva_exe(), {"small.prj"});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_FALSE(faulted(run)) << run.err;
  EXPECT_TRUE(contains(run.out, "Can't open depth map for writing: taken\\depth.0001.asc\n"))
      << run.out;
  EXPECT_EQ(read_file(dir.file("taken")), "a file, not a folder\n");
  // The first frame is due at the first step: the run stops there, not after its 720 steps.
  EXPECT_LE(steps_taken_before_stop(run.out), 2) << run.out;
}

}  // namespace

// Bad counts, lines and numbers in the inputs of the watershed case, each run by the program:
// every one stops with its message and a nonzero status, at once and in little memory, and
// leaves every input as it was.
TEST(OutputFileCases, BadCountsLinesAndNumbersStopTheRunAtOnce) {
  // A line far longer than any input holds, with no newline after it: appended to the file in
  // pieces, so that the test itself never holds it and the peak memory of the child (which
  // counts the memory of the process that started it) stays the child's.
  const std::string endless = "<9 MiB without a newline>";
  struct bad_case {
    const char* name;
    const char* file;      // the input changed
    std::string from, to;  // its first `from` replaced by `to`; an empty `from` appends `to`
    const char* message;
  };
  const bad_case cases[] = {
      {"STREAMCELLS far beyond its cells", "watershed.gst", "STREAMCELLS 14", "STREAMCELLS 5000000",
       "watershed.gst declares 5000000 stream cells, but the file holds 14 CELLIJ cards.\n"},
      {"STREAMCELLS above the limit", "watershed.gst", "STREAMCELLS 14", "STREAMCELLS 50000000000",
       "declares 50000000000 stream cells; at most 100000000 are"},
      {"grid-stream file cut after 3 cells", "watershed.gst", "CELLIJ 4 6", "",
       "watershed.gst declares 14 stream cells, but the file holds 3 CELLIJ cards.\n"},
      {"project line without end", "watershed.prj", "", endless,
       "watershed.prj is longer than 8388608 characters.\n"},
      {"channel line without end", "watershed.chn", "", endless,
       "watershed.chn is longer than 8388608 characters.\n"},
      {"TOT_TIME in floating form", "watershed.prj", "TOT_TIME           150", "TOT_TIME 1e12",
       "Error: the TOT_TIME card needs a whole number, and \"1e12\" is not one.\n"},
      {"TOT_TIME beyond an int", "watershed.prj", "TOT_TIME           150",
       "TOT_TIME 1000000000000",
       "Error: the TOT_TIME card needs a whole number, and \"1000000000000\" is not one.\n"},
      {"ROWS with letters", "watershed.prj", "ROWS               10", "ROWS 10abc",
       "Error: the ROWS card needs a whole number, and \"10abc\" is not one.\n"},
      {"ROWS with a fraction", "watershed.prj", "ROWS               10", "ROWS 10.9",
       "Error: the ROWS card needs a whole number, and \"10.9\" is not one.\n"},
      {"START_DATE past the month's end", "watershed.prj", "START_DATE         2005 3 14",
       "START_DATE 2005 2 30", "START_DATE 2005 2 30 in the project file"},
      {"START_TIME past the day's end", "watershed.prj", "START_TIME         6 30",
       "START_TIME 24 59", "minute 59 of hour 24 is past the end of the day.\n"},
      // Values no watershed has.
      {"elevation beyond any ground", "watershed_elev.asc", "0.00 0.00 106.60", "0.00 0.00 1e20",
       "Error: the elevation 1e+20 m in map watershed_elev.asc at row 1 column 3 lies outside "
       "-1000 to 10000 m.\n"},
      {"no-data elevation inside the watershed", "watershed_elev.asc", "0.00 0.00 106.60",
       "0.00 0.00 -9999", "elevation -9999 m in map watershed_elev.asc at row 1 column 3"},
      {"NaN capillary head", "watershed_capillary.asc", "31.63 31.63 31.63 31.63",
       "31.63 31.63 nan 31.63",
       "Error: bad value \"nan\" in map watershed_capillary.asc at row 1 "
       "column 3"},
      {"infinite porosity", "watershed_porosity.asc", "0.475 0.475 0.475", "0.475 0.475 inf",
       "Error: bad value \"inf\" in map watershed_porosity.asc at row 1 column 3"},
  };
  for (const bad_case& c : cases) {
    SCOPED_TRACE(c.name);
    temp_dir dir;
    copy_watershed_case(dir);
    if (c.to == endless) {
      std::FILE* f = std::fopen(dir.file(c.file).c_str(), "ab");
      ASSERT_NE(f, nullptr);
      const std::string piece(std::size_t{1} << 16, 'x');
      for (int k = 0; k < 144; ++k) std::fwrite(piece.data(), 1, piece.size(), f);
      std::fclose(f);
    } else {
      std::string text = read_file(dir.file(c.file));
      const std::size_t at = text.find(c.from);
      ASSERT_NE(at, std::string::npos) << c.from;
      // A cut file ends before the line that holds `from`.
      text = c.to.empty() ? text.substr(0, at) : text.replace(at, c.from.size(), c.to);
      write_file(dir.file(c.file), text);
    }
    // Every input, by its size and a hash of its contents.
    const auto fingerprint = [](const std::string& path) {
      std::pair<std::size_t, std::size_t> print{0, 0};
      std::FILE* f = std::fopen(path.c_str(), "rb");
      if (f == nullptr) return print;
      char piece[65536];
      for (std::size_t n; (n = std::fread(piece, 1, sizeof piece, f)) > 0;) {
        print.first += n;
        print.second = print.second * 1000003u ^ std::hash<std::string_view>{}({piece, n});
      }
      std::fclose(f);
      return print;
    };
    std::map<std::string, std::pair<std::size_t, std::size_t>> before;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      before[entry.path().filename().string()] = fingerprint(entry.path().string());

    const command_result r = run_command(torva_exe(), {"watershed.prj"});
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, c.message)) << r.out.substr(0, 4000);
    // Nothing is read past the fault.
    EXPECT_FALSE(contains(r.out, "Finished reading non-orthogonal")) << r.out.substr(0, 4000);
    EXPECT_LT(r.peak_kb, peak_limit_kb);
    for (const auto& [name, print] : before)
      EXPECT_TRUE(fingerprint(dir.file(name)) == print) << name << " was changed";
  }

  // A batch count below one run is a rejected command line: nothing runs.
  temp_dir dir;
  copy_watershed_case(dir);
  const command_result r = run_command(torva_exe(), {"-b-5", "watershed.prj"});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(contains(r.out, "Usage: torva")) << r.out;
  EXPECT_FALSE(contains(r.out, "running")) << r.out;
  EXPECT_FALSE(file_exists(dir.file("watershed_summary.out")));
}
