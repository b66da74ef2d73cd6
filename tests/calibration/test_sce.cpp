// The SCE calibration driver and optimiser: the control file and its faults, the checks and
// defaults of the control values, and the SCE-UA search itself on a cost known in closed form
// (a bowl whose lowest point is known), its stop tests, its log and its repeatability.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "calibration/calibration_drivers.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// The points the optimiser asked for, in order.
std::vector<std::vector<double>>& trials() {
  static std::vector<std::vector<double>> t;
  return t;
}

// A bowl with its lowest point 0.5 at (0.3, -0.2): cost = 0.5 + 10 (p1 - 0.3)^2 + (p2 + 0.2)^2.
double bowl(const char*, const char*, const double* p, objective*, int n) {
  trials().emplace_back(p + 1, p + 1 + n);
  return 0.5 + 10.0 * (p[1] - 0.3) * (p[1] - 0.3) + (p[2] + 0.2) * (p[2] + 0.2);
}

void bowl_object(sce_object& s, process_context& info, objective& obj) {
  s.process = &info;
  s.obj = &obj;
  s.run_model = bowl;
  s.setup_ok = 1;
  s.nopt = 2;
  s.maxn = 3000;
  s.kstop = 5;
  s.pcento = 1e-6;
  s.ngs = 3;
  s.iseed = 1969;
  s.initial = {0.0, 0.9, 0.9};
  s.lower = {0.0, -1.0, -1.0};
  s.upper = {0.0, 1.0, 1.0};
  sce_check_params(s);
}

}  // namespace

class Sce : public ::testing::Test {
 protected:
  process_state_guard guard;
  temp_dir dir;
  process_context info;
  objective obj;
  void SetUp() override { trials().clear(); }
};

TEST_F(Sce, ChecksDefaultAndReplaceTheControlValues) {
  struct check_case {
    int ideflt, nopt, ngs, npg, nps, nspl, mings, kstop;
    int warnings;  // -1: refused
    int want_npg, want_nps, want_nspl, want_mings, want_kstop;
  };
  const check_case cases[] = {
      // Defaults from nopt 4 and ngs 3, no warning.
      {0, 4, 3, 0, 0, 0, 0, 5, 0, 9, 5, 9, 3, 5},
      // npg 500 with ngs 3 is beyond 1320 / 3 = 440: back to 2 nopt + 1.
      {1, 4, 3, 500, 5, 9, 3, 5, 1, 9, 5, 9, 3, 5},
      // kstop 15 stands; 20 and -1 become 5.
      {0, 2, 2, 0, 0, 0, 0, 15, 0, 5, 3, 5, 2, 15},
      {0, 2, 2, 0, 0, 0, 0, 20, 1, 5, 3, 5, 2, 5},
      {0, 2, 2, 0, 0, 0, 0, -1, 1, 5, 3, 5, 2, 5},
      // Every secondary value out of range: mings, npg, nps and nspl take their defaults.
      {1, 3, 2, 1, 60, 0, 9, 5, 4, 7, 4, 7, 2, 5},
      // A sub-complex defaulted to nopt + 1 beyond a given complex of 3 is cut to the complex.
      {1, 4, 2, 3, 1, 3, 2, 5, 2, 3, 3, 3, 2, 5},
      // The number of complexes must be 1 to 1319.
      {0, 2, 0, 0, 0, 0, 0, 5, -1, 0, 0, 0, 0, 0},
      {0, 2, 1320, 0, 0, 0, 0, 5, -1, 0, 0, 0, 0, 0},
  };
  for (const check_case& c : cases) {
    sce_object s;
    s.ideflt = c.ideflt;
    s.nopt = c.nopt;
    s.ngs = c.ngs;
    s.npg = c.npg;
    s.nps = c.nps;
    s.nspl = c.nspl;
    s.mings = c.mings;
    s.kstop = c.kstop;
    stdout_capture out;
    const int warnings = sce_check_params(s);
    const std::string text = out.stop();
    SCOPED_TRACE(text);
    EXPECT_EQ(warnings, c.warnings);
    if (c.warnings < 0) {
      EXPECT_TRUE(contains(text, "IS NOT A VALID CHOICE"));
      continue;
    }
    EXPECT_EQ(s.npg, c.want_npg);
    EXPECT_EQ(s.nps, c.want_nps);
    EXPECT_EQ(s.nspl, c.want_nspl);
    EXPECT_EQ(s.mings, c.want_mings);
    EXPECT_EQ(s.kstop, c.want_kstop);
    if (c.warnings > 0) {
      EXPECT_TRUE(contains(
          text, " *** TOTAL NUMBER OF WARNING MESSAGES IS " + std::to_string(c.warnings) + "\n"));
    }
  }
}

TEST_F(Sce, ControlFileIsReadAndItsFaultsNameFileAndLine) {
  write_file("good.ctl",
             "case.prj\nparams.txt\nobs.txt\n"
             "200 5 0.01 2 0 1 2\n"
             "5 3 5 2 1 0\n"
             "0.05 0.01 0.2\n"
             "1.5  1.0  2.0\n");
  sce_object s;
  sce_setup(s, "good.ctl", "sce_output.out");
  EXPECT_EQ(s.setup_ok, 1);
  EXPECT_EQ(s.replace_file, "params.txt");
  EXPECT_EQ(s.observation_file, "obs.txt");
  EXPECT_EQ(s.maxn, 200);
  EXPECT_EQ(s.iseed, 3737);  // seed 0
  EXPECT_EQ(s.pcento, 0.01);
  EXPECT_EQ(s.npg, 5);
  EXPECT_EQ(s.iniflg, 1);
  EXPECT_EQ(s.upper[2], 2.0);
  EXPECT_TRUE(s.output_file.is_open());

  struct bad_case {
    const char* numbers;
    const char* message;
  };
  const bad_case cases[] = {
      {"200 5 0.01 2 0 1\n", "The first line must have 7 parameters"},
      {"200 5 0.01 2 0 1 x\n", "line 4: nopt must be a whole number, not x"},
      {"200 5 0.01 2 0 1 0\n", "nopt is 0; it must be 1 to 100"},
      {"200 5 0.01 2 0 1 101\n", "nopt is 101; it must be 1 to 100"},
      {"200 5 0.01 2 0 1 1\n5 3 5 2\n", "ends before iniflg"},
      {"200 5 0.01 2 0 1 1\n5 3 5 2 1 0\n0.05 0.2 0.01\n",
       "Lower bound is greater than upper bound for varialbe 1\n(SCE control file bad.ctl, line "
       "6.)"},
      {"200 5 0.01 2 0 1 1\n5 3 5 2 1 0\n0.05 0.2 0.2\n", "varialbe 1"},
      {"200 5 0.01 2 0 1 2\n5 3 5 2 1 0\n0.05 0.01 0.2\n",
       "ends before the initial value of "
       "parameter 2"},
  };
  for (const bad_case& c : cases) {
    write_file("bad.ctl", std::string("case.prj\nparams.txt\nobs.txt\n") + c.numbers);
    sce_object b;
    stdout_capture out;
    sce_setup(b, "bad.ctl", "sce_output.out");
    const std::string text = out.stop();
    EXPECT_EQ(b.setup_ok, 0) << c.numbers;
    EXPECT_TRUE(contains(text, c.message)) << text;
  }
  sce_object missing;
  stdout_capture out;
  sce_setup(missing, "none.ctl", "sce_output.out");
  EXPECT_EQ(missing.setup_ok, 0);
  EXPECT_TRUE(contains(out.stop(), "Can't open SCE input file none.ctl\n"));
}

TEST_F(Sce, FindsTheLowestPointOfABowlAndRepeatsItsTrials) {
  sce_object s;
  bowl_object(s, info, obj);
  file_handle_open(s.output_file, "sce_output.out", "w");
  s.output_open = 1;
  stdout_capture out;
  const int runs = sceua(s);
  out.stop();
  ASSERT_GT(runs, 1);
  EXPECT_NEAR(s.best[1], 0.3, 2e-3);
  EXPECT_NEAR(s.best[2], -0.2, 6e-3);
  // The run counter is one more than the trials made.
  EXPECT_EQ(static_cast<std::size_t>(runs), trials().size() + 1);
  const std::vector<std::vector<double>> first = trials();
  // The same control values give the same sequence of trials.
  trials().clear();
  sce_object again;
  bowl_object(again, info, obj);
  stdout_capture quiet;
  EXPECT_EQ(sceua(again), runs);
  quiet.stop();
  EXPECT_EQ(trials(), first);
  // Every trial inside the box.
  for (const auto& p : first) {
    EXPECT_GE(p[0], -1.0);
    EXPECT_LE(p[0], 1.0);
  }
  file_handle_close(s.output_file);
  const std::string report = read_file("sce_output.out");
  EXPECT_TRUE(contains(report, "ENTER THE SHUFFLED COMPLEX EVOLUTION GLOBAL SEARCH\n"));
  EXPECT_TRUE(contains(report, "OPTIMIZATION TERMINATED BECAUSE"));
  // The log: a header and one line per trial, numbered from 1.
  file_handle_close(s.log_file);
  const std::string log = read_file("sce_log_file.txt");
  EXPECT_EQ(log.rfind("Sim No.   Cost     Minimum Cost:  Parameter Values\n1    ", 0), 0u);
  int lines = 0;
  for (char c : log) lines += c == '\n';
  EXPECT_EQ(static_cast<std::size_t>(lines), first.size() + 1);
}

TEST_F(Sce, StopsAtTheTrialLimitAndStartsFromTheInitialPoint) {
  // maxn = npt + 1: the search ends after the initial population, returning npt + 1.
  sce_object s;
  bowl_object(s, info, obj);
  s.iniflg = 1;
  s.maxn = s.ngs * s.npg + 1;
  stdout_capture out;
  EXPECT_EQ(sceua(s), s.ngs * s.npg + 1);
  out.stop();
  ASSERT_EQ(trials().size(), static_cast<std::size_t>(s.ngs * s.npg));
  EXPECT_EQ(trials()[0], (std::vector<double>{0.9, 0.9}));  // the initial point first

  // Fewer trials allowed than the population holds: no trial at all.
  trials().clear();
  sce_object few;
  bowl_object(few, info, obj);
  few.maxn = few.ngs * few.npg - 1;
  stdout_capture out2;
  EXPECT_EQ(sceua(few), -1);
  EXPECT_TRUE(contains(out2.stop(),
                       "Error: maximum number of function calls less than the number of "
                       "points\n"));
  EXPECT_TRUE(trials().empty());

  // kstop 0 with a positive pcento compares the best value with itself: one loop.
  sce_object once;
  bowl_object(once, info, obj);
  once.kstop = 0;
  stdout_capture out3;
  sceua(once);
  const std::string text = out3.stop();
  EXPECT_TRUE(contains(text, "Evolution Loop Number 1\n"));
  EXPECT_FALSE(contains(text, "Evolution Loop Number 2\n"));

  // A set-up that failed runs nothing.
  sce_object failed;
  stdout_capture out4;
  EXPECT_EQ(sceua(failed), -1);
  EXPECT_TRUE(
      contains(out4.stop(), "Error: unable to successufully setup SCE-UA. Unable to run.\n"));
}
