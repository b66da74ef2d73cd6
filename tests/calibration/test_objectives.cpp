// Objective functions against hand computations on a short observed and simulated series: the
// cost and its file, RMSE, log error, the largest values, HMLE with its golden-section lambda,
// the no-data and negative cases, the observation file and its faults, and the results table.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "calibration/objectives.h"
#include "framework/core/error_state.h"
#include "framework/core/process_info.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::file_exists;
using torva_test::process_state_guard;
using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// Observed rows: (peak, peak weight, volume, volume weight).
objective observed(const std::vector<std::vector<double>>& rows) {
  objective o;
  o.obs_count = static_cast<int>(rows.size());
  o.obs_peak.assign(rows.size() + 1, 0.0);
  o.peak_weight = o.obs_volume = o.volume_weight = o.obs_peak;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    o.obs_peak[i + 1] = rows[i][0];
    o.peak_weight[i + 1] = rows[i][1];
    o.obs_volume[i + 1] = rows[i][2];
    o.volume_weight[i + 1] = rows[i][3];
  }
  return o;
}

struct simulated {
  std::vector<double> peaks, volumes;  // slot 0 unused
  simulated_values view() const {
    return simulated_values{peaks.data(), volumes.data(), static_cast<long>(peaks.size()) - 1};
  }
};

}  // namespace

class Objectives : public ::testing::Test {
 protected:
  process_state_guard guard;
  temp_dir dir;
  // Two rows: (10, 1, 5000, 1) and (20, 0, 8000, 1) against peaks 12, 18 and volumes 5500, 7000.
  objective two = observed({{10, 1, 5000, 1}, {20, 0, 8000, 1}});
  simulated sim{{0, 12, 18}, {0, 5500, 7000}};
};

TEST_F(Objectives, CostIsTheWeightedRelativeErrorAndItsFileShowsEachPoint) {
  const double cost = objective_cost(two, sim.view(), 0);
  EXPECT_NEAR(cost, 2.0 / 10 + 500.0 / 5000 + 1000.0 / 8000, 1e-15);  // 0.425
  const std::string one_run =
      "p:12.000000, 2.000000  v:5500.000000, 500.000000  \n"
      "v:7000.000000, -1000.000000  \n"
      "Total Points: 3\ncost: 0.425000\n" +
      std::string(79, '-') + "\n";
  EXPECT_EQ(read_file("0_cost.out"), one_run);
  // A second evaluation appends; another process rank writes its own file.
  objective_cost(two, sim.view(), 0);
  EXPECT_EQ(read_file("0_cost.out"), one_run + one_run);
  objective_cost(two, sim.view(), 3);
  EXPECT_EQ(read_file("3_cost.out"), one_run);
}

TEST_F(Objectives, RmseLogErrorAndLargestValuesByHand) {
  // Volume scale: largest observed peak / largest observed volume = 20 / 8000.
  const double s = 20.0 / 8000.0;
  EXPECT_NEAR(objective_rmse(two, sim.view()),
              std::sqrt(2.0 * 2.0 + (500 * s) * (500 * s) + (1000 * s) * (1000 * s)), 1e-12);
  EXPECT_DOUBLE_EQ(two.volume_scale, s);
  EXPECT_NEAR(objective_log_error(two, sim.view()),
              std::log(1.2) + std::log(1.1) + std::log(8.0 / 7.0), 1e-12);
  EXPECT_EQ(objective_max_peak(two, sim.view()), 12.0);  // row 2's peak is not weighted
  EXPECT_EQ(objective_max_volume(two, sim.view()), 7000.0);
}

TEST_F(Objectives, HmleOfEqualObservedPeaksIsTheMeanSquaredError) {
  // Equal q make d = 1 and f = 0 for every lambda: the search keeps a = 0.1, and the weights
  // cancel against exp(2 (lambda - 1) ybar), leaving the mean of the squared peak errors.
  objective o = observed({{10, 1, 100, 0}, {10, 1, 100, 0}, {10, 1, 100, 1}});
  simulated s{{0, 12, 7, 10.5}, {0, 100, 100, 90}};
  EXPECT_NEAR(objective_hmle(o, s.view()), (4.0 + 9.0 + 0.25) / 3.0, 1e-12);
}

TEST_F(Objectives, HmleLambdaIsTheRootOfItsEquation) {
  // Two peaks, 5 and 50, with errors 3 and 1. The lambda that makes
  // sum(w e^2) / sum(w e^2 d) = 1 (w = q^(2 (lambda - 1)), d = ln q / ybar) is found here by
  // bisection, and the HMLE worked from it.
  const std::vector<double> q{5.0, 50.0}, e{3.0, 1.0};
  const double ybar = (std::log(5.0) + std::log(50.0)) / 2.0;
  const auto f = [&](double lambda) {
    double top = 0, bottom = 0;
    for (int j = 0; j < 2; ++j) {
      const double w = std::pow(q[j], 2 * (lambda - 1));
      top += w * e[j] * e[j];
      bottom += w * e[j] * e[j] * std::log(q[j]) / ybar;
    }
    return top / bottom - 1.0;
  };
  double lo = 0.1, hi = 3.0;
  ASSERT_LT(f(lo) * f(hi), 0.0);
  for (int k = 0; k < 200; ++k) {
    const double mid = 0.5 * (lo + hi);
    (f(lo) * f(mid) <= 0.0 ? hi : lo) = mid;
  }
  const double root = 0.5 * (lo + hi);
  EXPECT_NEAR(hmle_lambda(q, e), root, 2e-6);

  objective o = observed({{5, 1, 1, 0}, {50, 1, 1, 0}});
  simulated s{{0, 2, 49}, {0, 1, 1}};
  const double expected =
      (std::pow(5.0, 2 * (root - 1)) * 9.0 + std::pow(50.0, 2 * (root - 1)) * 1.0) / 2.0 /
      std::exp(2 * (root - 1) * ybar);
  EXPECT_NEAR(objective_hmle(o, s.view()), expected, 1e-5 * expected);
}

TEST_F(Objectives, NoDataNegativesAndEmptyWeights) {
  // No simulated values (the run stopped before its holder was sized).
  simulated_values none;
  EXPECT_EQ(objective_hmle(two, none), 999999.99);
  EXPECT_EQ(objective_rmse(two, none), 999999.99);
  EXPECT_EQ(objective_cost(two, none, 0), 999999.99);
  EXPECT_EQ(objective_log_error(two, none), 999999.99);
  EXPECT_EQ(objective_max_peak(two, none), -99999.999);
  EXPECT_FALSE(file_exists("0_cost.out"));  // no cost file without values
  // Fewer slots than observation rows: the rows have nothing to be compared with.
  simulated_values short_run = sim.view();
  short_run.slots = 1;
  EXPECT_EQ(objective_cost(two, short_run, 0), 999999.99);
  EXPECT_EQ(objective_rmse(two, short_run), 999999.99);

  // A negative simulated peak in an unweighted row: cost and HMLE stand, RMSE and log error
  // are no-data.
  simulated neg{{0, 12, -1}, {0, 5500, 7000}};
  EXPECT_NEAR(objective_cost(two, neg.view(), 0), 0.425, 1e-12);
  EXPECT_NE(objective_hmle(two, neg.view()), 999999.99);
  EXPECT_EQ(objective_rmse(two, neg.view()), 999999.99);
  EXPECT_EQ(objective_log_error(two, neg.view()), 999999.99);
  // The largest peak stops its scan at the first negative peak.
  simulated first_negative{{0, -1, 18}, {0, 5500, 7000}};
  objective both = observed({{10, 1, 5000, 1}, {20, 1, 8000, 1}});
  EXPECT_EQ(objective_max_peak(both, first_negative.view()), -99999.999);
  EXPECT_EQ(objective_max_volume(both, first_negative.view()), 7000.0);

  // Every weight at or below 1e-6: HMLE and cost -1.
  objective light = observed({{10, 1e-6, 5000, 0}, {20, 0, 8000, 1e-7}});
  EXPECT_EQ(objective_hmle(light, sim.view()), -1.0);
  EXPECT_EQ(objective_cost(light, sim.view(), 0), -1.0);

  // An observed volume of 0 adds the absolute error, not a relative one.
  objective zero = observed({{10, 0, 0, 2}});
  simulated z{{0, 1}, {0, 3}};
  EXPECT_EQ(objective_cost(zero, z.view(), 0), 6.0);
}

TEST_F(Objectives, EvaluationLogsTheRunAndTheTableGainsOneLinePerRun) {
  const double params[3] = {0.0, 0.05, 1.25};
  EXPECT_NEAR(objective_eval(two, sim.view(), 0, 2, params), 0.425, 1e-12);
  EXPECT_NEAR(two.cost, 0.425, 1e-12);
  ASSERT_EQ(two.results.records.size(), 1u);
  EXPECT_EQ(two.results.records[0].params[2], 1.25);
  const std::string log = read_file("0_obs.log");
  EXPECT_TRUE(contains(log, std::string(55, '-') + "\nEvent\tWeight\tObs Peak   \t"));
  EXPECT_TRUE(contains(log,
                       "1    \t1.00  \t10.00       \t12.00       \t-2.00       \t1.00  \t"
                       "5000.00     \t5500.00     \t-500.00     \n"));
  EXPECT_TRUE(contains(log, "2    \t0.00  \t20.00       \t18.00       \t2.00        \t"));

  process_context one;
  write_results_all(two, one, 1, 1);
  EXPECT_TRUE(two.results.records.empty());
  objective_eval(two, sim.view(), 0, 2, params);
  write_results_all(two, one, 1, 1);
  const std::string table = read_file("results_all.out");
  const std::string header =
      "--Cost--\t----HMLE----\t----RMSE----\t-Log Error--\t--Max Peak--\t--Max Vol---\t: "
      "params\n";
  EXPECT_EQ(table.rfind(header, 0), 0u);
  EXPECT_EQ(table.find(header, 1), std::string::npos);  // one header for two runs
  EXPECT_TRUE(contains(table, "0.43    \t")) << table;
  EXPECT_TRUE(contains(table, "\t12.00       \t7000.00     \t: 0.0500  1.2500  \n"));
  int lines = 0;
  for (char c : table) lines += c == '\n';
  EXPECT_EQ(lines, 3);
}

TEST_F(Objectives, ObservationFileIsReadAndItsFaultsNameFileAndLine) {
  write_file("obs.txt", "2\n10, 1, 5000, 1\n20\t0 8000 1\n");
  objective o;
  EXPECT_EQ(objective_load(o, "obs.txt"), 1);
  EXPECT_EQ(o.obs_count, 2);
  EXPECT_EQ(o.obs_peak[2], 20.0);
  EXPECT_EQ(o.volume_weight[1], 1.0);
  EXPECT_EQ(o.obs_volume[2], 8000.0);

  struct bad_case {
    const char* text;
    const char* message;
    int code;
  };
  const bad_case cases[] = {
      {"0\n", "obs.txt, line 1: the first number must be the count", 0},
      {"two\n1 1 1 1\n", "obs.txt, line 1", 0},
      {"2\n10 1 5000 1\n20 0 8000\n", "obs.txt, line 3: a row needs four numbers", 135},
      {"2\n10 1 5000 1\n20 0 8000 1x\n", "obs.txt, line 3: a row needs four numbers", 135},
      {"3\n10 1 5000 1\n", "obs.txt ends after 1 of its 3 rows", 0},
      // A count far beyond the rows takes no memory for the rows that are not there.
      {"2000000000\n10 1 5000 1\n", "obs.txt ends after 1 of its 2000000000 rows", 0},
  };
  for (const bad_case& c : cases) {
    write_file("obs.txt", c.text);
    run_error.error_code = 0;
    objective b;
    stdout_capture out;
    EXPECT_EQ(objective_load(b, "obs.txt"), -1) << c.text;
    EXPECT_TRUE(contains(out.stop(), c.message)) << c.text;
    EXPECT_EQ(run_error.error_code, c.code) << c.text;
  }
  objective missing;
  stdout_capture out;
  EXPECT_EQ(objective_load(missing, "nothing.txt"), -1);
  EXPECT_TRUE(contains(out.stop(), "nothing.txt"));
}
