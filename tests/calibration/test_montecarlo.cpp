// Monte Carlo and sensitivity runs: the input file and its faults, parameters held fixed, the
// draws between the bounds, the best run by absolute cost, the run log and "best.out".
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "calibration/calibration_drivers.h"
#include "framework/core/process_info.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// Costs handed out run by run, and the parameters each run was given.
std::vector<double>& costs() {
  static std::vector<double> c;
  return c;
}
std::vector<std::vector<double>>& given() {
  static std::vector<std::vector<double>> g;
  return g;
}

double scripted(const char*, const char*, const double* p, objective*, int n) {
  given().emplace_back(p, p + n + 1);
  const double c = costs()[(given().size() - 1) % costs().size()];
  return c;
}

}  // namespace

class MonteCarlo : public ::testing::Test {
 protected:
  process_state_guard guard;
  temp_dir dir;
  process_context info;
  void SetUp() override {
    costs().clear();
    given().clear();
    write_file("params.txt", "3\n[A] \"%6.3lf\"\n[B] \"%6.3lf\"\n[C] \"%6.3lf\"\n");
    write_file("obs.txt", "1\n1 1 1 1\n");
  }
};

TEST_F(MonteCarlo, DrawsBetweenBoundsHoldsFixedParametersAndKeepsTheBestByAbsoluteCost) {
  write_file("mc.in", "case.prj\nparams.txt\nobs.txt\n3\n0.01 0.1\n2.5 # held\n7\n");
  costs() = {-3.0, 2.0, -2.0, 5.0};
  montecarlo mc(4, "mc.in", info);
  ASSERT_EQ(mc.loaded, 1);
  EXPECT_EQ(mc.project_file, "case.prj");
  mc.run_model = scripted;
  stdout_capture out;
  EXPECT_EQ(mc.run(), 1);
  mc.report_best();
  const std::string text = out.stop();
  ASSERT_EQ(given().size(), 4u);
  for (const auto& p : given()) {
    EXPECT_EQ(p[0], 0.0);
    EXPECT_GE(p[1], 0.01);
    EXPECT_LT(p[1], 0.1);
    EXPECT_EQ(p[2], 2.5);
    EXPECT_EQ(p[3], 7.0);
  }
  // |2| < |-3| makes run 2 the best; run 3's |-2| equals it and the earlier run stays.
  EXPECT_EQ(mc.best_cost, 2.0);
  EXPECT_EQ(mc.best[1], given()[1][1]);
  EXPECT_TRUE(contains(text, "\n\nBest objective function value: 2.000000\nParameters:\n "));
  EXPECT_EQ(read_file("best.out").rfind("2.000000:  ", 0), 0u);
  // The log: its header names the parameters, then one line per run.
  const std::string log = read_file("log_file_p0.log");
  EXPECT_EQ(log.rfind("Cost  \t[A]\t[B]\t[C]\t\n-3.000000\t", 0), 0u);
  int lines = 0;
  for (char c : log) lines += c == '\n';
  EXPECT_EQ(lines, 5);
}

TEST_F(MonteCarlo, TheSameSeedGivesTheSameDrawsAndASecondDriverAppendsToTheLog) {
  write_file("mc.in", "case.prj\nparams.txt\nobs.txt\n2\n0 1\n10 20\n");
  costs() = {1.0};
  setenv("TORVA_RANDOM_SEED", "777", 1);
  {
    montecarlo mc(3, "mc.in", info);
    mc.run_model = scripted;
    stdout_capture out;
    mc.run();
  }
  {
    montecarlo mc(3, "mc.in", info);
    mc.run_model = scripted;
    stdout_capture out;
    mc.run();
  }
  unsetenv("TORVA_RANDOM_SEED");
  ASSERT_EQ(given().size(), 6u);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(given()[k], given()[k + 3]);
  EXPECT_NE(given()[0], given()[1]);
  // Second driver in the same folder: no second header.
  const std::string log = read_file("log_file_p0.log");
  EXPECT_EQ(log.find("Cost"), 0u);
  EXPECT_EQ(log.find("Cost", 1), std::string::npos);
}

TEST_F(MonteCarlo, TheSecondOfTwoProcessesTakesTheSecondShareOfTheDraws) {
  write_file("mc.in", "case.prj\nparams.txt\nobs.txt\n1\n0 1\n");
  costs() = {1.0};
  setenv("TORVA_RANDOM_SEED", "99", 1);
  {
    montecarlo all(4, "mc.in", info);
    all.run_model = scripted;
    stdout_capture out;
    all.run();
  }
  process_context second;
  second.process_rank = 1;
  second.num_processes = 2;
  {
    montecarlo half(2, "mc.in", second);
    half.run_model = scripted;
    stdout_capture out;
    half.run();
  }
  unsetenv("TORVA_RANDOM_SEED");
  ASSERT_EQ(given().size(), 6u);
  EXPECT_EQ(given()[4], given()[2]);
  EXPECT_EQ(given()[5], given()[3]);
}

TEST_F(MonteCarlo, InputFileFaultsNameFileAndLine) {
  struct bad_case {
    const char* text;
    const char* message;
  };
  const bad_case cases[] = {
      {"case.prj\nparams.txt\n", "ends before the observation file name (line 3)"},
      {"case.prj\nparams.txt\nobs.txt\nthree\n", "mc.in, line 4: the number of parameters"},
      {"case.prj\nparams.txt\nobs.txt\n0\n", "mc.in, line 4: the number of parameters"},
      {"case.prj\nparams.txt\nobs.txt\n2\n0 1\n", "ends after 1 of its 2 parameter lines"},
      {"case.prj\nparams.txt\nobs.txt\n2000000000\n0 1\n",
       "ends after 1 of its 2000000000 parameter lines"},
      {"case.prj\nparams.txt\nobs.txt\n1\nlow 1\n", "mc.in, line 5: parameter 1 needs its least"},
      {"case.prj\nparams.txt\nobs.txt\n1\n0 high\n",
       "mc.in, line 5: the greatest value of "
       "parameter 1 is not a number: high"},
      {"case.prj\nparams.txt\nobs.txt\n1\n2 1\n",
       "mc.in, line 5: the greatest value of "
       "parameter 1 (1) is below its least value (2)"},
      {"case.prj\n\nobs.txt\n1\n0 1\n",
       "mc.in, line 2: the replacement parameter file name is "
       "missing"},
  };
  for (const bad_case& c : cases) {
    write_file("mc.in", c.text);
    stdout_capture out;
    montecarlo mc(1, "mc.in", info);
    mc.run_model = scripted;
    EXPECT_EQ(mc.run(), 0);
    const std::string text = out.stop();
    EXPECT_TRUE(contains(text, c.message)) << text;
    EXPECT_TRUE(contains(text, "Error: unable to read the input monte carlo file.\n")) << text;
  }
  EXPECT_TRUE(given().empty());
}
