// Program entry: the command line and its modes, the exit status, the version texts, the batch
// loop with its run prefix, and the web variant chosen by the program's own file name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/thread_waiting.h"
#include "run/entry.h"
#include "support/test_support.h"

using torva_test::file_exists;
using torva_test::read_file;
using torva_test::run_command;
using torva_test::run_command_own_waiting;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::torva_exe;

namespace {

const char start_line[] = "Parallel version of TORVA (5.7a) with SCE (OpenMP), ";
const char usage_start[] = "\nUsage: torva [-option] [inputfile]\n\n where -option is one of:\n";

struct parse_case {
  std::vector<std::string> args;  // after the program name
  int count;                      // result of parse_command_line
  int mode;
  const char* file;
  bool usage;  // the usage text is printed
};

}  // namespace

TEST(CommandLine, ModesCountsAndFileNames) {
  const parse_case cases[] = {
      {{}, -1, 0, "", true},
      {{"proj.prj"}, 1, 1, "proj.prj", false},
      {{"-v"}, 1, 1, "-v", false},  // one argument is always the project file
      {{"-h"}, 1, 1, "-h", false},
      {{"-sens", "s.in"}, 1, 7, "s.in", false},
      {{"-c", "sce.in", "ignored"}, 1, 2, "sce.in", false},
      {{"-b", "p.prj"}, 1, 3, "p.prj", false},
      {{"-b3", "p.prj"}, 3, 3, "p.prj", false},
      {{"-b2.0", "p.prj"}, 2, 3, "p.prj", false},
      {{"-b0", "p.prj"}, -1, 0, "", true},  // a count must be a whole number of runs
      {{"-b-1", "p.prj"}, -1, 0, "", true},
      {{"-b-5", "p.prj"}, -1, 0, "", true},
      {{"-m-5", "mc.in"}, -1, 0, "", true},
      {{"-b3x", "p.prj"}, -1, 0, "", true},
      {{"-b2.5", "p.prj"}, -1, 0, "", true},
      {{"-bx", "p.prj"}, 1, 3, "p.prj", false},
      {{"-m25", "mc.in"}, 25, 6, "mc.in", false},
      {{"-h", "p.prj"}, 1, 5, "p.prj", false},
      {{"-v", "p.prj"}, 1, 4, "", false},
      {{"-t", "p.prj"}, -1, 0, "", true},
      {{"-x", "p.prj"}, -1, 0, "", true},
      {{"p.prj", "second"}, -1, 0, "", true},
      {{"-b99999999999", "p.prj"}, -1, 0, "", true},
  };
  for (const parse_case& c : cases) {
    std::string label;
    for (const auto& a : c.args) label += a + " ";
    SCOPED_TRACE(label);
    std::vector<std::string> text{"torva"};
    text.insert(text.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (auto& t : text) argv.push_back(t.data());
    run_request req;
    req.mode = 99;
    stdout_capture capture;
    const int count = parse_command_line(static_cast<int>(argv.size()), argv.data(), req);
    const std::string out = capture.stop();
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(req.mode, c.mode);
    EXPECT_STREQ(req.file_name, c.file);
    EXPECT_EQ(out.rfind(usage_start, 0) == 0, c.usage);
    if (!c.usage) {
      EXPECT_EQ(out, "");
    }
  }
}

TEST(CommandLine, FileNameLongerThanItsBufferIsRefusedNotCut) {
  std::string name(2000, 'p');
  std::vector<std::string> text{"torva", name};
  std::vector<char*> argv{text[0].data(), text[1].data()};
  run_request req;
  stdout_capture capture;
  EXPECT_EQ(parse_command_line(2, argv.data(), req), -1);
  EXPECT_NE(capture.stop().find(usage_start), std::string::npos);
  EXPECT_EQ(req.mode, 0);
  EXPECT_STREQ(req.file_name, "");
}

TEST(ExitStatus, FatalRunsAndPendingCodesAreNotSuccess) {
  struct row {
    int pending;
    int fatal;
    int status;
  };
  const row rows[] = {{0, 0, 0},
                      {0, 1, 1},
                      {err_unexpected_end_of_file, 0, err_unexpected_end_of_file},
                      {err_unexpected_end_of_file, 1, err_unexpected_end_of_file},
                      {error_code_own_message, 0, 1},
                      {256, 0, 1}};
  for (const row& r : rows) {
    error_state state;
    state.error_fatal = r.fatal;
    EXPECT_EQ(run_exit_status(r.pending, state), r.status) << r.pending << " " << r.fatal;
  }
}

// A run that ended normally with books that do not close has a status of its own, which no
// error code of the message table shares; a fatal error or a pending code comes first. A batch
// reports a failed run before unclosed books, and unclosed books before success.
TEST(ExitStatus, UnclosedBooksHaveAStatusOfTheirOwn) {
  const struct {
    int pending, fatal, balance, status;
  } rows[] = {{0, 0, 1, exit_status_water_balance},
              {0, 1, 1, 1},
              {err_unexpected_end_of_file, 0, 1, err_unexpected_end_of_file},
              {0, 0, 0, 0}};
  for (const auto& r : rows) {
    error_state state;
    state.error_fatal = r.fatal;
    state.error_balance = r.balance;
    EXPECT_EQ(run_exit_status(r.pending, state), r.status)
        << r.pending << " " << r.fatal << " " << r.balance;
  }
  EXPECT_GT(exit_status_water_balance, error_code_last);
  EXPECT_LT(exit_status_water_balance, 256);
  char text[256];
  EXPECT_STREQ(error_message_text(exit_status_water_balance, text, sizeof text), "");

  const struct {
    std::vector<int> runs;
    int status;
  } batches[] = {{{0, 0, 0}, 0},
                 {{0, exit_status_water_balance, 0}, exit_status_water_balance},
                 {{exit_status_water_balance, 1, 0}, 1},
                 {{1, exit_status_water_balance}, 1},
                 {{0, err_unexpected_end_of_file, exit_status_water_balance}, 1}};
  for (const auto& b : batches) {
    int status = 0;
    for (int run : b.runs) status = batch_exit_status(status, run);
    EXPECT_EQ(status, b.status) << b.runs.size();
  }
}

TEST(WebVariant, OnlyTheProgramsOwnFileNameCounts) {
  EXPECT_TRUE(program_is_web("torva_web"));
  EXPECT_TRUE(program_is_web("/opt/cgi/webtorva"));
  EXPECT_TRUE(program_is_web("C:\\cgi\\torva-web.exe"));
  EXPECT_FALSE(program_is_web("/srv/web/torva"));
  EXPECT_FALSE(program_is_web("C:\\web\\torva.exe"));
  EXPECT_FALSE(program_is_web(""));
}

TEST(Program, VersionBannerHelpAndRejectedCommandLine) {
  temp_dir dir;
  auto r = run_command(torva_exe(), {"-v", "ignored.prj"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind(start_line, 0), 0u);
  EXPECT_NE(r.out.find("\n    -- TORVA version 5.70a --\n \n"), std::string::npos);
  EXPECT_NE(r.out.find("Intended for use with VRO Version 8.0 or higher\n \n"), std::string::npos);
  EXPECT_FALSE(file_exists(dir.file("out_time.out")));  // nothing ran

  r = run_command(torva_exe(), {"-h", "p.prj"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1);  // the start-up line alone
  EXPECT_EQ(r.out.rfind(start_line, 0), 0u);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"-x", "p.prj"}, {"p.prj", "more"}}) {
    r = run_command(torva_exe(), args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find(usage_start), std::string::npos);
  }
  // A run count that is no count of runs is a rejected command line: nothing runs.
  for (const char* option : {"-b-1", "-b-5", "-b0"}) {
    r = run_command(torva_exe(), {option, "p.prj"});
    EXPECT_NE(r.status, 0) << option;
    EXPECT_NE(r.out.find(usage_start), std::string::npos) << option;
    EXPECT_EQ(r.out.find("running"), std::string::npos) << option;
  }
}

namespace {

// The spin count of the OpenMP runtime that ran the program's own work, as the runtime shows
// its settings on standard error at its start (OMP_DISPLAY_ENV=verbose): the last display, since
// a program that starts itself again shows one per start. Empty when there is none.
std::string spin_count_in_force(const std::string& err) {
  const std::string key = "GOMP_SPINCOUNT = '";
  const std::size_t at = err.rfind(key);
  if (at == std::string::npos) return "";
  const std::size_t from = at + key.size();
  const std::size_t end = err.find('\'', from);
  return end == std::string::npos ? "" : err.substr(from, end - from);
}

}  // namespace

TEST(Program, ThreadsSpinBrieflyUnlessTheUserSetsTheirWaiting) {
  // The runtime's own default spins 300,000 times at every barrier; the program bounds that
  // itself, whatever environment it is started from, and keeps a user's explicit setting.
  ASSERT_STRNE(bounded_spin_count, "300000");
  struct wait_case {
    std::vector<std::string> env;
    std::string spin;
  };
  const wait_case cases[] = {
      {{}, bounded_spin_count},
      {{"GOMP_SPINCOUNT=12345"}, "12345"},
      {{"OMP_WAIT_POLICY=passive"}, "0"},
      {{"OMP_WAIT_POLICY=passive", "GOMP_SPINCOUNT=777"}, "777"},
  };
  for (const wait_case& c : cases) {
    std::vector<std::string> env = c.env;
    env.push_back("OMP_DISPLAY_ENV=verbose");
    const auto r = run_command_own_waiting(torva_exe(), {"-v", "p.prj"}, "", env);
    const std::string shown = c.env.empty() ? "none" : c.env[0];
    EXPECT_EQ(r.status, 0) << shown;
    EXPECT_EQ(spin_count_in_force(r.err), c.spin) << shown << "\n" << r.err;
    // The program's own work ran once: one start-up line, one version text.
    EXPECT_EQ(r.out.rfind(start_line, 0), 0u) << shown;
    EXPECT_EQ(r.out.find(start_line, 1), std::string::npos) << shown;
  }
}

TEST(Program, BatchMakesEachRunWithItsOwnPrefixAndFailsWhenARunFails) {
  // The project does not exist: every run stops on its fatal error, but each still records its
  // time under its own prefix, and the batch reports the failure in its exit status.
  temp_dir dir;
  auto r = run_command(torva_exe(), {"-b3", "p.prj"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("TORVA is running in batch mode, and is running 3 runs...\n"),
            std::string::npos);
  for (const char* name : {"0000_out_time.out", "0001_out_time.out", "0002_out_time.out"}) {
    EXPECT_EQ(read_file(dir.file(name)).rfind("total time (s): ", 0), 0u) << name;
  }
  EXPECT_FALSE(file_exists(dir.file("0003_out_time.out")));
  EXPECT_FALSE(file_exists(dir.file("out_time.out")));

  // A single run of a missing project fails too.
  r = run_command(torva_exe(), {"p.prj"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error: The specified project file was not found.\n"), std::string::npos);
}

TEST(Program, CalibrationModesStopWithAMessageAndFailOnAControlFileTheyCannotUse) {
  // A control file that names only a project: no mode may end as if it had run.
  temp_dir dir;
  torva_test::write_file(dir.file("control.txt"), "p.prj\n");
  struct mode_case {
    std::vector<std::string> args;
    const char* message;
  };
  const mode_case cases[] = {
      {{"-c", "control.txt"},
       "Error: unable to open the observation file for reading or problem while reading it.\n"},
      {{"-m5", "control.txt"}, "Error: unable to read the input monte carlo file.\n"},
      {{"-sens", "control.txt"}, "Error: unable to read the input monte carlo file.\n"},
  };
  for (const mode_case& c : cases) {
    const auto r = run_command(torva_exe(), c.args);
    EXPECT_EQ(r.status, 1) << c.args[0];
    EXPECT_EQ(r.out.rfind(start_line, 0), 0u) << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("control.txt"), std::string::npos) << r.out;
    EXPECT_FALSE(file_exists(dir.file("out_time.out")));  // no run was made
  }
}

TEST(Program, WebVariantFramesThePage) {
  temp_dir dir;
  const std::string web = dir.file("torva-web");
  ASSERT_EQ(symlink(torva_exe().c_str(), web.c_str()), 0);
  const std::string head =
      "Content-Type:text/text;charset=iso-8859-1\r\n\n"
      "<title>TORVA Test Case</title><body><P> Web version of TORVA (5.7a) with SCE "
      "starting...</P><P>";

  auto r = run_command(web, {"-v", "x"}, "a=1&b=2\nrest", {"CONTENT_LENGTH=7"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind(head + "a=1&b=2", 0), 0u) << r.out;
  EXPECT_EQ(r.out.find("Parallel version"), std::string::npos);
  EXPECT_NE(r.out.find("-- TORVA version 5.70a --"), std::string::npos);
  EXPECT_EQ(r.out.substr(r.out.size() - 12), "</P></body>\n");

  // Form data ends at its newline.
  r = run_command(web, {"-h", "x"}, "a=1\nb=2", {"CONTENT_LENGTH=7"});
  EXPECT_EQ(r.out, head + "a=1\n</P></body>\n");

  for (const char* length : {"CONTENT_LENGTH=abc", "CONTENT_LENGTH=5000", "CONTENT_LENGTH=-3"}) {
    r = run_command(web, {"-h", "x"}, "a=1", {length});
    EXPECT_EQ(r.out, head + "<P>Error in invocation - wrong FORM probably.</P></body>\n") << length;
  }
  r = run_command(web, {"-h", "x"}, "a=1");
  EXPECT_EQ(r.out, head + "<P>Error in invocation - wrong FORM probably.</P></body>\n");

  // A rejected command line still closes the page, and fails.
  r = run_command(web, {"-x", "y"}, "", {"CONTENT_LENGTH=0"});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out.substr(r.out.size() - 12), "</P></body>\n");

  // A folder named web does not make the program the web variant.
  std::filesystem::create_directory(dir.file("web"));
  const std::string plain = dir.file("web/torva");
  ASSERT_EQ(symlink(torva_exe().c_str(), plain.c_str()), 0);
  r = run_command(plain, {"-h", "x"});
  EXPECT_EQ(r.out.rfind(start_line, 0), 0u);
}

TEST(LogPrintf, SilentWhileConsoleSilentIsSet) {
  torva_test::process_state_guard process_state;  // the console is silent only for this test
  stdout_capture capture;
  EXPECT_EQ(log_printf("%s=%d\n", "a", 5), 4);
  console_silent = true;
  EXPECT_EQ(log_printf("%s=%d\n", "b", 6), 0);
  EXPECT_EQ(capture.stop(), "a=5\n");
}
