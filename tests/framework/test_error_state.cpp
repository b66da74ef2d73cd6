// Error reporting: every coded message, the fatal/warning decision, the echo to the run's
// summary file, and faults found inside parallel loops reported after the loop.
#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>
#include <set>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;

namespace {

struct message_params {
  const char* kind;
  const char* name;
  int value1;
  int value2;
};

void set_params(const message_params& p) {
  set_error_file(p.kind, p.name);
  error_value1 = p.value1;
  error_value2 = p.value2;
}

// Reports `code` and returns what was printed on the console.
std::string report(int code) {
  run_error.error_code = code;
  stdout_capture capture;
  error_report(run_error);
  return capture.stop();
}

const std::set<int> warning_codes = {14, 16, 17, 39, 41, 55, 95, 96};

}  // namespace

TEST(ErrorReport, EveryCodeHasItsMessageAndFatalDecision) {
  set_params({"kind", "name", 1, 2});
  for (int code = 1; code <= 135; ++code) {
    SCOPED_TRACE(code);
    run_error.error_fatal = warning_codes.count(code) ? 1 : 0;  // the opposite of what must come
    const std::string printed = report(code);
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed[0], '\n');
    if (code == 129) {
      EXPECT_EQ(printed, "\n");
    } else {
      EXPECT_GT(printed.size(), 10u);
    }
    EXPECT_EQ(run_error.error_fatal, warning_codes.count(code) ? 0 : 1);
    EXPECT_EQ(run_error.error_code, 0);
    EXPECT_EQ(error_is_warning(code), warning_codes.count(code) == 1);
  }
}

TEST(ErrorReport, KindOfMessageDoesNotFollowItsFirstWord) {
  // 17 is a warning although its text does not begin "Warning: "; 38 and 40 are errors
  // although theirs do not begin "Error: ".
  EXPECT_EQ(report(17).rfind("\nX-Windows Graphics Warning:\n", 0), 0u);
  EXPECT_EQ(run_error.error_fatal, 0);
  for (int code : {38, 40}) {
    const std::string printed = report(code);
    EXPECT_EQ(printed.rfind("\nYou have specified both spatially-varied and uniform", 0), 0u);
    EXPECT_EQ(run_error.error_fatal, 1);
  }
}

TEST(ErrorReport, MessagesWithParameters) {
  struct row {
    int code;
    message_params params;
    const char* expected;
  };
  const row rows[] = {
      {4,
       {"output summary", "sum.out", 0, 0},
       "\nError: Unable to open output summary file.\n  (File: sum.out)\n"},
      {12,
       {"", "", 120, 100},
       "\nError: The number of X-windows plot ordinates 120 is greater than the dimension of the "
       "array 100\n"},
      {54,
       {"", "", 7, 0},
       "\nError: The time step (7) must be evenly divisible into 60 seconds.\n"},
      {55,
       {"", "", 0, 0},
       "\nWarning: Write hydrograph time step not specified, defaulting to 1 hour.\n"},
      // A file name with a percent sign is printed as it is, never used as a format.
      {59, {"", "q%s%d%n.out", 0, 0}, "\nError: Can't open output file: q%s%d%n.out\n"},
      {71,
       {"", "soil.asc", 3, 9},
       "\nIndex ID exceeds table limit, file: soil.asc [row 3:col 9]\n"},
      // Messages that end without a newline keep that.
      {61,
       {"depth", "maps", 0, 0},
       "\nError: Unable to open output data set group maps for writing in the grid depth of the "
       "ZENF "
       "file."},
      {77,
       {"AQUATIC_ENV_NSM10", "aq.env", 0, 0},
       "\nError: The header for the aquatic environment file is invalid or does not match \n the "
       "current version. \n The aquatic environment file specified is: aq.env\n The header should "
       "be : AQUATIC_ENV_NSM10"},
      {127,
       {"HEAD_TS", "", 0, 0},
       "\nError: Stream head boundary time series (HEAD_TS) can not be found. Check project "
       "file.\n"},
      {135, {"", "", 0, 0}, "\nError: observed data file improperly formatted.\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.code);
    set_params(r.params);
    EXPECT_EQ(report(r.code), r.expected);
  }
}

TEST(ErrorReport, LongFileKindIsCutSafely) {
  const std::string kind(500, 'k');
  set_error_file(kind.c_str(), "x");
  EXPECT_EQ(strlen(error_file_kind), sizeof error_file_kind - 1);
  const std::string name(5000, 'n');
  set_error_file("k", name.c_str());
  EXPECT_EQ(strlen(error_file_name), sizeof error_file_name - 1);
}

TEST(ErrorReport, OwnMessageCodeAndZeroAndNegative) {
  run_error.error_fatal = 0;
  EXPECT_EQ(report(error_code_own_message), "\n");
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(run_error.error_code, 0);

  // A code of 0 or less prints nothing and leaves the fatal flag as it was.
  for (int fatal : {0, 1}) {
    for (int code : {0, -5}) {
      run_error.error_fatal = fatal;
      EXPECT_EQ(report(code), "");
      EXPECT_EQ(run_error.error_fatal, fatal);
      EXPECT_EQ(run_error.error_code, 0);
    }
  }
  // A code above the table prints the newline only and stops the run.
  run_error.error_fatal = 0;
  EXPECT_EQ(report(999), "\n");
  EXPECT_EQ(run_error.error_fatal, 1);
}

TEST(ErrorReport, EchoesToTheSummaryFileOnlyWhileItIsOpen) {
  temp_dir dir;
  file_handle summary;
  ASSERT_TRUE(file_handle_open(summary, "summary.out", "w"));
  error_echo_file = &summary;
  set_params({"", "", 0, 0});
  EXPECT_EQ(report(3), "\nError: The specified project file was not found.\n");
  file_handle_close(summary);  // closed: the next message goes to the console only
  EXPECT_EQ(report(52), "\nError: Time step is 0 seconds.\n");
  error_echo_file = nullptr;
  EXPECT_EQ(report(21).substr(0, 16), "\nError: Albedo v");
  EXPECT_EQ(read_file(dir.file("summary.out")),
            "\nError: The specified project file was not found.\n");
}

TEST(LoopFault, LowestIndexWinsWhateverTheThreadCount) {
  for (int threads : {1, 2, 4, 7}) {
    SCOPED_TRACE(threads);
    loop_fault fault;
#pragma omp parallel for schedule(static) num_threads(threads)
    for (long cell = 1; cell <= 100000; ++cell) {
      if (cell % 9973 == 0) fault.record(cell, 133, static_cast<int>(cell), 7);
    }
    ASSERT_TRUE(fault.found());
    EXPECT_EQ(fault.index(), 9973);
    run_error = error_state{};
    EXPECT_TRUE(fault.raise());
    EXPECT_EQ(run_error.error_code, 133);
    EXPECT_EQ(error_value1, 9973);
    EXPECT_EQ(error_value2, 7);
  }
  // A fault with a message of its own prints it on the main thread when raised.
  loop_fault own;
#pragma omp parallel for schedule(static) num_threads(4)
  for (long i = 1; i <= 1000; ++i) {
    if (i == 500 || i == 700)
      own.record(i, error_code_own_message, 0, 0, i == 500 ? "first\n" : "second\n");
  }
  stdout_capture capture;
  EXPECT_TRUE(own.raise());
  EXPECT_EQ(capture.stop(), "first\n");
  EXPECT_EQ(run_error.error_code, error_code_own_message);

  loop_fault none;
  run_error = error_state{};
  EXPECT_FALSE(none.raise());
  EXPECT_EQ(run_error.error_code, 0);
}
