// Analyzers in whole runs of the torva executable: on the channel example a discharge analyzer
// fires at every step from the moment the outlet hydrograph crosses its threshold, reporting
// the outlet discharge the hydrograph shows, and one whose threshold lies above the peak never
// fires; 1 and 8 threads write the same reports, and the run's books close. A faulty control
// line stops the run before its first step.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

const std::filesystem::path example_dir =
    std::filesystem::path(TORVA_SOURCE_DIR) / "examples" / "channel";

void copy_example() {
  for (const auto& e : std::filesystem::directory_iterator(example_dir))
    if (e.is_regular_file())
      std::filesystem::copy_file(e.path(), e.path().filename(),
                                 std::filesystem::copy_options::overwrite_existing);
}

// One firing of a list-layout report with values: its time (minutes after the start at 6:30)
// and the value of every (link, node) that passed, as written.
struct firing {
  double minutes = 0.0;
  std::map<std::pair<int, int>, std::string> passed;
};

std::vector<firing> read_firings(const std::string& text) {
  std::vector<firing> firings;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, link = 0, node = 0;
    double seconds = 0.0;
    char value[64] = {};
    if (std::sscanf(line.c_str(), "Values in the 2D stream array %*s at %d-%d-%d, %d:%d:%lf",
                    &month, &day, &year, &hour, &minute, &seconds) == 6) {
      firings.push_back({(hour - 6) * 60.0 + minute - 30.0 + seconds / 60.0, {}});
    } else if (std::sscanf(line.c_str(), "Link %d, Node %d: %63s", &link, &node, value) == 3) {
      EXPECT_FALSE(firings.empty()) << line;
      if (!firings.empty()) firings.back().passed[{link, node}] = value;
    }
  }
  return firings;
}

// The (minutes, discharge as written) lines of a hydrograph.
std::vector<std::pair<double, std::string>> read_hydrograph(const std::string& text) {
  std::vector<std::pair<double, std::string>> lines;
  std::istringstream in(text);
  double t = 0.0;
  std::string q;
  while (in >> t >> q) lines.emplace_back(t, q);
  return lines;
}

}  // namespace

TEST(AnalyzerCases, ADischargeAnalyzerFiresWhenTheOutletHydrographCrossesItsThreshold) {
  temp_dir dir;
  copy_example();
  std::string project = read_file("channel.prj");
  const std::string every_five = "HYD_FREQ           5";
  ASSERT_NE(project.find(every_five), std::string::npos);
  project.replace(project.find(every_five), every_five.size(), "HYD_FREQ           1");
  write_file("channel.prj",
             project + "SIG_OUTLET_HYDRO   channel_outlet_sig.out\nANALYZERS          watch.ana\n");
  // Every step: the nodes whose discharge is above 0.2 m3/s, and above 1 m3/s (more than the
  // peak of about 0.31 m3/s), with their values, each in its own file.
  write_file("watch.ana",
             "# discharge thresholds at every step\n"
             "2DS flow t > 0.2 tfd 0 rising.txt\n"
             "2DS FLOW t > 1 tfd 0 never.txt\n");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("channel.prj", [] {
    return read_file("rising.txt") + read_file("never.txt") + read_file("channel_outlet_sig.out") +
           read_file("channel_summary.out");
  });
  EXPECT_TRUE(torva_test::contains(runs.run[1].out, "Set up 2 analyzers...\n")) << runs.run[1].out;

  const std::vector<std::pair<double, std::string>> hydro =
      read_hydrograph(read_file("channel_outlet_sig.out"));
  const std::vector<firing> rising = read_firings(read_file("rising.txt"));
  ASSERT_GT(hydro.size(), 60u);
  // One firing per step of 10 s, the first at the start.
  ASSERT_GT(rising.size(), 6 * (hydro.size() - 1));
  EXPECT_NEAR(rising.front().minutes, 0.0, 1e-9);
  for (std::size_t k = 1; k < rising.size(); ++k)
    ASSERT_NEAR(rising[k].minutes - rising[k - 1].minutes, 10.0 / 60.0, 1e-6) << k;

  // The outlet is the last computational node of the last link (link 3, a break-point section
  // of 7 nodes, 6 computational). At every hydrograph time the analyzer's firing at that time
  // lists the outlet exactly when the hydrograph's discharge is above 0.2, with the same value.
  const std::pair<int, int> outlet{3, 6};
  std::map<long, const firing*> by_tenth;  // firings by the tenth of a second
  for (const firing& f : rising) by_tenth[std::lround(f.minutes * 600.0)] = &f;
  int above = 0;
  double first_above = -1.0;
  for (const auto& [minutes, q] : hydro) {
    const auto it = by_tenth.find(std::lround(minutes * 600.0));
    ASSERT_NE(it, by_tenth.end()) << minutes;
    const firing& f = *it->second;
    const bool over = std::stod(q) > 0.2;
    const auto listed = f.passed.find(outlet);
    EXPECT_EQ(listed != f.passed.end(), over) << minutes << " " << q;
    if (listed != f.passed.end()) {
      EXPECT_EQ(listed->second, q) << minutes;
    }
    if (over && first_above < 0.0) first_above = minutes;
    above += over;
  }
  ASSERT_GT(above, 5);
  // The first firing that lists the outlet lies within the minute before the first hydrograph
  // line above the threshold, and every firing until then lists nothing at the outlet.
  double first_fired = -1.0;
  for (const firing& f : rising)
    if (f.passed.count(outlet) != 0) {
      first_fired = f.minutes;
      break;
    }
  EXPECT_GT(first_fired, first_above - 1.0 - 1e-9);
  EXPECT_LE(first_fired, first_above + 1e-9);
  EXPECT_GT(first_fired, 10.0);

  // Above the peak: the same firings, and not one node listed.
  const std::vector<firing> never = read_firings(read_file("never.txt"));
  EXPECT_EQ(never.size(), rising.size());
  for (const firing& f : never) EXPECT_TRUE(f.passed.empty()) << f.minutes;

  const torva_test::summary_balance s =
      torva_test::read_summary_balance(read_file("channel_summary.out"));
  ASSERT_TRUE(s.has_event);
  ASSERT_TRUE(s.has_totals);
  EXPECT_LT(std::fabs(s.event_error_percent), 1e-6);
  EXPECT_LT(std::fabs(s.run_overall_error), 1e-6);
}

// A faulty control line stops the run at start-up with its message: nothing of the time loop
// runs, and the exit status says the run failed.
TEST(AnalyzerCases, AFaultyControlLineStopsTheRunBeforeItsFirstStep) {
  temp_dir dir;
  copy_example();
  write_file("channel.prj", read_file("channel.prj") + "ANALYZERS          watch.ana\n");
  write_file("watch.ana", "2DS flow t > 0.2 tfd 10min rising.txt\n");
  const torva_test::command_result run = torva_test::run_with_threads("channel.prj", 1);
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_TRUE(torva_test::contains(run.out,
                                   "Error: the firing interval on line 1 of the analyzer file "
                                   "watch.ana: \"10min\" is not a whole number of seconds, 0 or "
                                   "more.\n"))
      << run.out;
  EXPECT_FALSE(torva_test::contains(run.out, "Running....")) << run.out;
  EXPECT_FALSE(torva_test::contains(run.out, "elapsed time")) << run.out;
}
