// Calibration modes run by the real torva executable on a small tilted plane: a Monte Carlo trial
// writes the same outputs as a single run with the same parameter, SCE-UA recovers the Manning n
// that made an observed hydrograph, the Monte Carlo and sensitivity modes log every run and
// report the best, several processes (MPI) give the results of one, a calibration on sediment
// scores the wash load of the channel sediment series, and bad inputs stop with a message naming
// the file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::command_result;
using torva_test::contains;
using torva_test::file_exists;
using torva_test::grid_header;
using torva_test::number;
using torva_test::read_file;
using torva_test::run_command;
using torva_test::temp_dir;
using torva_test::torva_exe;
using torva_test::write_file;

namespace {

// A plane of `rows` x `cols` cells of 50 m falling 0.01 to the south and 0.002 to the west, its
// outlet at the south-west corner, 200 mm/h of rain for 10 minutes and a run of `minutes`; the
// Manning n is written as `manning` (a number or a bracketed parameter name).
void write_calibration_plane(const std::string& manning, int rows = 5, int cols = 6,
                             double minutes = 40.0, const std::string& extra = "") {
  const double dx = 50.0;
  std::string mask = grid_header(rows, cols, dx), elev = mask;
  for (int r = 1; r <= rows; ++r) {
    for (int k = 1; k <= cols; ++k) {
      mask += "1 ";
      elev += number(0.01 * dx * (rows - r) + 0.002 * dx * (k - 1)) + " ";
    }
    mask += "\n";
    elev += "\n";
  }
  write_file("plane_mask.asc", mask);
  write_file("plane_elev.asc", elev);
  write_file("plane.prj",
             "TORVAPROJECT\nWATERSHED_MASK plane_mask.asc\nELEVATION plane_elev.asc\n"
             "SUMMARY plane_summary.out\nOUTLET_HYDRO plane_outlet.out\n"
             "ROWS " +
                 std::to_string(rows) + "\nCOLS " + std::to_string(cols) +
                 "\nGRIDSIZE 50\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n"
                 "TIMESTEP 10\nTOT_TIME " +
                 number(minutes) + "\nOUTROW " + std::to_string(rows) +
                 "\nOUTCOL 1\nOUTSLOPE 0.01\nHYD_FREQ 1\nMANNING_N " + manning +
                 "\nOVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY 200\n"
                 "RAIN_DURATION 10\nOPTIMIZE plane_optim.out\n" +
                 extra);
}

void write_params() {
  write_file("params.txt", "1\n[MANNING] \"%8.6lf\"\n");
}

// The first event's peak and volume from an optimisation output line "event peak volume".
std::pair<double, double> optim_event(const std::string& file) {
  int event = 0;
  double peak = 0.0, volume = 0.0;
  std::istringstream in(read_file(file));
  in >> event >> peak >> volume;
  return {peak, volume};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The text of a file from the line that starts the run's own figures on (the lines before
// name the project's file and time of the run, which differ between runs).
std::string without_timing(const std::string& text) {
  std::string kept;
  for (const std::string& line : lines_of(text))
    if (!contains(line, "time") && !contains(line, "Time")) kept += line + "\n";
  return kept;
}

}  // namespace

TEST(CalibrationCases, AMonteCarloTrialWritesWhatASingleRunWrites) {
  temp_dir dir;
  write_params();
  write_file("obs.txt", "1\n1.0 1 1000 1\n");
  // A trial with n held at 0.043700 on 8 threads (each taking a share of a cell or more) ...
  const std::vector<std::string> shared = {"TORVA_CELLS_PER_THREAD=1"};
  write_calibration_plane("[MANNING]", 5, 6, 40.0, "NUM_THREADS 8\n");
  write_file("mc.in", "plane.prj\nparams.txt\nobs.txt\n1\n0.0437 # held\n");
  const command_result trial = run_command(torva_exe(), {"-m", "mc.in"}, "", shared);
  ASSERT_EQ(trial.status, 0) << trial.out;
  EXPECT_TRUE(contains(trial.out, "Setting the thread level to 8.")) << trial.out;
  // ... and a single run on one thread with the value written in the project.
  write_calibration_plane("0.043700", 5, 6, 40.0, "NUM_THREADS 1\n");
  const command_result single = run_command(torva_exe(), {"plane.prj"}, "", shared);
  ASSERT_EQ(single.status, 0) << single.out;
  const std::string hydro = read_file("plane_outlet.out");
  ASSERT_GT(lines_of(hydro).size(), 30u);
  EXPECT_EQ(read_file("0000_plane_outlet.out"), hydro);
  EXPECT_EQ(read_file("0000_plane_optim.out"), read_file("plane_optim.out"));
  // The summaries differ only in their timing lines and in the two replacement reports of the
  // trial: the values in use and whether each was used.
  std::string trial_summary = read_file("0000_plane_summary.out");
  for (const char* block :
       {"\nUsing replacement values:\n", "\nTotal times a value was replaced"}) {
    const std::size_t from = trial_summary.find(block);
    ASSERT_NE(from, std::string::npos) << block;
    const std::size_t to =
        trial_summary.find("\n\n", trial_summary.find(block[1] == 'U' ? ":\n" : "used?:\n", from));
    ASSERT_NE(to, std::string::npos) << block;
    trial_summary.erase(from, to + 2 - from);
  }
  EXPECT_EQ(without_timing(trial_summary), without_timing(read_file("plane_summary.out")));
  // The run's cost against the observation: one run, logged and tabled.
  EXPECT_TRUE(contains(read_file("0000_log_file_p0.log"), "Cost  \t[MANNING]\t\n"));
  EXPECT_EQ(lines_of(read_file("0000_results_all.out")).size(), 2u);
}

// Trials that write their files where the trial before wrote longer ones: the run's length is
// the parameter (TOT_TIME, whole minutes), so a trial's hydrograph and optimisation output are
// as long as its run. After the runs each file holds the last trial's outputs alone, byte for
// byte what a single run with the last trial's length writes, and the summary holds that run's
// totals.
TEST(CalibrationCases, ATrialAfterALongerOneWritesWhatASingleRunWrites) {
  temp_dir dir;
  write_file("params.txt", "1\n[MINUTES] \"%d\"\n");
  write_file("obs.txt", "1\n1.0 1 1000 1\n");
  write_calibration_plane("0.05", 3, 4, 0.0);
  std::string project = read_file("plane.prj");
  const std::string length = "TOT_TIME 0\n";
  ASSERT_NE(project.find(length), std::string::npos);
  project.replace(project.find(length), length.size(), "TOT_TIME [MINUTES]\n");
  write_file("plane.prj", project);
  write_file("mc.in", "plane.prj\nparams.txt\nobs.txt\n1\n10 60\n");
  const command_result mc = run_command(torva_exe(), {"-m4", "mc.in"}, "", {"TORVA_RANDOM_SEED=4"});
  ASSERT_EQ(mc.status, 0) << mc.out;
  // The runs' lengths, from the log: the last must be shorter than one before it.
  const std::vector<std::string> log = lines_of(read_file("0000_log_file_p0.log"));
  ASSERT_EQ(log.size(), 5u);
  std::vector<long> minutes;
  for (std::size_t k = 1; k < log.size(); ++k) {
    double cost = 0.0, drawn = 0.0;
    ASSERT_EQ(sscanf(log[k].c_str(), "%lf %lf", &cost, &drawn), 2) << log[k];
    minutes.push_back(std::lround(drawn));
  }
  ASSERT_LT(minutes.back(), *std::max_element(minutes.begin(), minutes.end() - 1));
  const std::string trial_outlet = read_file("0000_plane_outlet.out");
  const std::string trial_optim = read_file("0000_plane_optim.out");
  const std::string trial_summary = read_file("0000_plane_summary.out");

  write_calibration_plane("0.05", 3, 4, static_cast<double>(minutes.back()));
  const command_result single = run_command(torva_exe(), {"plane.prj"});
  ASSERT_EQ(single.status, 0) << single.out;
  const std::string outlet = read_file("plane_outlet.out");
  ASSERT_EQ(lines_of(outlet).size(), static_cast<std::size_t>(minutes.back()) + 1);
  EXPECT_EQ(trial_outlet, outlet);
  EXPECT_EQ(trial_optim, read_file("plane_optim.out"));
  const std::string totals = "SIMULATION TOTALS";
  const std::string single_summary = read_file("plane_summary.out");
  ASSERT_NE(single_summary.find(totals), std::string::npos);
  ASSERT_NE(trial_summary.find(totals), std::string::npos);
  EXPECT_EQ(without_timing(trial_summary.substr(trial_summary.find(totals))),
            without_timing(single_summary.substr(single_summary.find(totals))));
}

// Trials keep the inputs they read for the trials after them. A trial whose parameter changes
// what an input gives still writes byte for byte what a single run with its value writes: a
// card naming another elevation map by the parameter, and a value inside the elevation map.
TEST(CalibrationCases, TrialsThatChangeAKeptInputWriteWhatASingleRunWrites) {
  struct input_case {
    const char* what;
    const char* param;      // the parameter list's entry
    const char* bounds;     // its bounds in the Monte Carlo input file
    const char* elevation;  // the ELEVATION card's file; "%s" stands for the parameter
    bool tag_in_map;        // the north-west cell of plane_elev.asc holds the parameter
  };
  const input_case cases[] = {
      {"map named by the parameter", "[SHAPE] \"%d\"", "1 2", "plane_elev%s.asc", false},
      {"value in the map", "[TOP] \"%8.6lf\"", "1.0 1.6", "plane_elev.asc", true},
  };
  for (const input_case& c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir dir;
    const std::string tag = std::string(c.param).substr(0, std::string(c.param).find(' '));
    // The elevation maps: the plane, a plane three times as steep, and the plane whose
    // north-west cell is the parameter (or the value written in its place).
    write_calibration_plane("0.05", 3, 4, 40.0);
    const std::string plane = read_file("plane_elev.asc");
    ASSERT_NE(plane.find("\n1 "), std::string::npos);
    auto elevation_with = [&](const std::string& top) {
      std::string text = plane;
      text.replace(text.find("\n1 ") + 1, 1, top);
      return text;
    };
    std::string steep = grid_header(3, 4, 50.0);
    for (int r = 1; r <= 3; ++r) {
      for (int k = 1; k <= 4; ++k)
        steep += number(0.03 * 50.0 * (3 - r) + 0.006 * 50.0 * (k - 1)) + " ";
      steep += "\n";
    }
    write_file("plane_elev1.asc", plane);
    write_file("plane_elev2.asc", steep);
    if (c.tag_in_map) write_file("plane_elev.asc", elevation_with(tag));
    // The project, its ELEVATION card naming c.elevation with `value` for its "%s".
    const std::string project = read_file("plane.prj");
    const std::string card = "ELEVATION plane_elev.asc\n";
    ASSERT_NE(project.find(card), std::string::npos);
    auto write_project = [&](const std::string& value) {
      char named[64];
      snprintf(named, sizeof named, c.elevation, value.c_str());
      std::string text = project;
      text.replace(text.find(card), card.size(), "ELEVATION " + std::string(named) + "\n");
      write_file("plane.prj", text);
    };
    write_project(tag);
    write_file("params.txt", "1\n" + std::string(c.param) + "\n");
    write_file("obs.txt", "1\n1.0 1 1000 1\n");
    write_file("mc.in", "plane.prj\nparams.txt\nobs.txt\n1\n" + std::string(c.bounds) + "\n");
    // Inputs changed a moment before are read from the disk: these age first, so that the
    // trials after the first read them from what was kept.
    usleep(60'000);
    const command_result mc =
        run_command(torva_exe(), {"-m6", "mc.in"}, "", {"TORVA_RANDOM_SEED=7"});
    ASSERT_EQ(mc.status, 0) << mc.out;
    const std::vector<std::string> log = lines_of(read_file("0000_log_file_p0.log"));
    ASSERT_EQ(log.size(), 7u);
    std::vector<std::string> values;
    for (std::size_t k = 1; k < log.size(); ++k) {
      double cost = 0.0, drawn = 0.0;
      ASSERT_EQ(sscanf(log[k].c_str(), "%lf %lf", &cost, &drawn), 2) << log[k];
      char text[32];
      if (c.tag_in_map)
        snprintf(text, sizeof text, "%8.6lf", drawn);
      else
        snprintf(text, sizeof text, "%ld", std::lround(drawn));
      values.push_back(text);
    }
    // The last trial's value differs from one kept before it.
    ASSERT_NE(std::count(values.begin(), values.end(), values.back()),
              static_cast<long>(values.size()));
    const std::string trial_outlet = read_file("0000_plane_outlet.out");
    const std::string trial_optim = read_file("0000_plane_optim.out");

    // The single run with the last trial's value written in.
    write_project(values.back());
    if (c.tag_in_map) write_file("plane_elev.asc", elevation_with(values.back()));
    const command_result single = run_command(torva_exe(), {"plane.prj"});
    ASSERT_EQ(single.status, 0) << single.out;
    ASSERT_GT(lines_of(read_file("plane_outlet.out")).size(), 30u);
    EXPECT_EQ(trial_outlet, read_file("plane_outlet.out"));
    EXPECT_EQ(trial_optim, read_file("plane_optim.out"));
  }
}

// The check that no output destroys an input is made again for a trial whose replaced value
// names other files than the trial before: the trials whose hydrograph is the elevation map are
// refused, before and after the trials that pass it.
TEST(CalibrationCases, ATrialWhoseValueNamesAnInputAsOutputIsRefused) {
  temp_dir dir;
  write_calibration_plane("0.05", 3, 4, 20.0);
  // Outputs of the trials carry the run prefix: the map is named as they would name it.
  std::string project = read_file("plane.prj");
  for (const auto& [from, to] :
       {std::pair<std::string, std::string>{"ELEVATION plane_elev.asc\n",
                                            "ELEVATION 0000_plane_elev2.asc\n"},
        {"OUTLET_HYDRO plane_outlet.out\n", "OUTLET_HYDRO plane_elev[K].asc\n"}}) {
    ASSERT_NE(project.find(from), std::string::npos) << from;
    project.replace(project.find(from), from.size(), to);
  }
  write_file("plane.prj", project);
  write_file("0000_plane_elev2.asc", read_file("plane_elev.asc"));
  write_file("params.txt", "1\n[K] \"%d\"\n");
  write_file("obs.txt", "1\n1.0 1 1000 1\n");
  write_file("mc.in", "plane.prj\nparams.txt\nobs.txt\n1\n1 2\n");
  const std::string map = read_file("0000_plane_elev2.asc");
  const command_result mc = run_command(torva_exe(), {"-m6", "mc.in"}, "", {"TORVA_RANDOM_SEED=7"});
  const std::vector<std::string> log = lines_of(read_file("0000_log_file_p0.log"));
  ASSERT_EQ(log.size(), 7u) << mc.out;
  std::string order;
  for (std::size_t k = 1; k < log.size(); ++k) {
    double cost = 0.0, drawn = 0.0;
    ASSERT_EQ(sscanf(log[k].c_str(), "%lf %lf", &cost, &drawn), 2) << log[k];
    order += std::to_string(std::lround(drawn));
  }
  // A refused trial after one that passed, and one that passes after a refused one.
  ASSERT_NE(order.find("12"), std::string::npos) << order;
  ASSERT_NE(order.find("21"), std::string::npos) << order;
  const std::string refusal =
      "Error: OUTLET_HYDRO plane_elev2.asc names the same file as ELEVATION "
      "0000_plane_elev2.asc: the output would destroy the input.\n";
  std::size_t refused = 0;
  for (std::size_t at = mc.out.find(refusal); at != std::string::npos;
       at = mc.out.find(refusal, at + 1))
    ++refused;
  EXPECT_EQ(refused, static_cast<std::size_t>(std::count(order.begin(), order.end(), '2')))
      << order << "\n"
      << mc.out.substr(0, 3000);
  EXPECT_EQ(read_file("0000_plane_elev2.asc"), map);
  EXPECT_TRUE(file_exists("0000_plane_elev1.asc"));
}

TEST(CalibrationCases, SceRecoversTheManningNOfAnObservedHydrograph) {
  temp_dir dir;
  // The observed hydrograph: the plane's run with n = 0.05.
  write_calibration_plane("0.05", 5, 6, 40.0, "NUM_THREADS 1\n");
  ASSERT_EQ(run_command(torva_exe(), {"plane.prj"}).status, 0);
  const auto [peak, volume] = optim_event("plane_optim.out");
  ASSERT_GT(peak, 0.5);
  write_file("obs.txt", "1\n" + number(peak) + " 1 " + number(volume) + " 1\n");
  write_calibration_plane("[MANNING]", 5, 6, 40.0, "NUM_THREADS 1\n");
  write_params();
  // 200 trials at most, 3 complexes of 3 points, seed 5; n between 0.01 and 0.2.
  write_file("sce.in",
             "plane.prj\nparams.txt\nobs.txt\n"
             "200 5 0.0001 3 5 0 1\n0 0 0 0 0 0\n0.1 0.01 0.2\n");
  const command_result run = run_command(torva_exe(), {"-c", "sce.in"});
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string best = read_file("0000_sce_best.out");
  ASSERT_TRUE(contains(best, "The best results of the SCE calibration ")) << best;
  const double n = std::stod(lines_of(best).at(1));
  EXPECT_NEAR(n, 0.05, 0.02 * 0.05) << run.out;
  EXPECT_TRUE(contains(run.out, "The best results of the SCE calibration after "));
  // Every trial is in the log and in the results table.
  const std::size_t logged = lines_of(read_file("0000_sce_log_file.txt")).size() - 1;
  EXPECT_EQ(lines_of(read_file("0000_results_all.out")).size() - 1, logged);
  EXPECT_TRUE(contains(read_file("sce_output.out"), "ENTER THE SHUFFLED COMPLEX EVOLUTION"));
}

TEST(CalibrationCases, MonteCarloAndSensitivityLogEveryRunAndReportTheBest) {
  temp_dir dir;
  write_calibration_plane("[MANNING]", 1, 2, 3.0);
  write_params();
  write_file("obs.txt", "1\n0.05 1 10 0\n");
  write_file("mc.in", "plane.prj\nparams.txt\nobs.txt\n1\n0.02 0.2\n");
  const command_result mc = run_command(torva_exe(), {"-m4", "mc.in"});
  ASSERT_EQ(mc.status, 0) << mc.out;
  const std::vector<std::string> log = lines_of(read_file("0000_log_file_p0.log"));
  ASSERT_EQ(log.size(), 5u);
  // The best is the run of smallest absolute cost in the log.
  double best_cost = 1e300, best_n = 0.0;
  for (std::size_t k = 1; k < log.size(); ++k) {
    double cost = 0.0, n = 0.0;
    ASSERT_EQ(sscanf(log[k].c_str(), "%lf %lf", &cost, &n), 2) << log[k];
    EXPECT_GE(n, 0.02);
    EXPECT_LT(n, 0.2);
    if (std::abs(cost) < std::abs(best_cost)) best_cost = cost, best_n = n;
  }
  double reported_cost = 0.0, reported_n = 0.0;
  ASSERT_EQ(sscanf(read_file("0000_best.out").c_str(), "%lf: %lf", &reported_cost, &reported_n), 2);
  EXPECT_NEAR(reported_cost, best_cost, 1e-6);
  EXPECT_NEAR(reported_n, best_n, 1e-6 * best_n);
  EXPECT_EQ(lines_of(read_file("0000_results_all.out")).size(), 5u);

  // "-m" without a number makes one run, appended to the log and the table.
  ASSERT_EQ(run_command(torva_exe(), {"-m", "mc.in"}).status, 0);
  EXPECT_EQ(lines_of(read_file("0000_log_file_p0.log")).size(), 6u);
  EXPECT_EQ(lines_of(read_file("0000_results_all.out")).size(), 6u);

  // Sensitivity: 500 runs of the same kind of input file. Its project is missing, so that the
  // 500 runs stay quick: each run stops at once and scores the no-data cost, and each is still
  // drawn, logged and tabled.
  write_file("sens.in", "missing.prj\nparams.txt\nobs.txt\n1\n0.02 0.2\n");
  std::remove("0000_log_file_p0.log");
  std::remove("0000_results_all.out");
  const command_result sens = run_command(torva_exe(), {"-s", "sens.in"});
  ASSERT_EQ(sens.status, 0) << sens.out.substr(0, 2000);
  EXPECT_EQ(lines_of(read_file("0000_log_file_p0.log")).size(), 501u);
  EXPECT_EQ(lines_of(read_file("0000_results_all.out")).size(), 501u);
  EXPECT_TRUE(contains(sens.out, "Best objective function value: 999999.990000\n"));
}

// The numbers of each line of a text, the first `skip` lines left out.
std::vector<std::vector<double>> number_rows(const std::string& text, int skip) {
  std::istringstream in(text);
  std::string line;
  std::vector<std::vector<double>> rows;
  for (int n = 0; std::getline(in, line); ++n) {
    if (n < skip) continue;
    std::istringstream fields(line);
    std::vector<double> row;
    double v = 0;
    while (fields >> v) row.push_back(v);
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

// A calibration on sediment (OPTIMIZE_SED) of the sediment example, one Monte Carlo trial on 1
// and 8 threads: its slots hold, per event, the outlet's largest wash-load rate and wash-load
// volume, then those of each sediment location (the outlet node, then link 1 node 2). The series
// written at every 10 s step give them by hand: the largest rate, and the sum of rate x 10 s
// (the outlet series' column 2 is its one fine class; a location's volume counts its fine class
// and its peak is that class's largest rate). The cost is the sum of the relative errors of the
// five weighted values against the observation file.
TEST(CalibrationCases, ASedimentCalibrationScoresTheWashLoadOfTheChannelSeries) {
  temp_dir dir;
  const std::filesystem::path example =
      std::filesystem::path(TORVA_SOURCE_DIR) / "examples" / "watershed_sediment";
  for (const auto& e : std::filesystem::directory_iterator(example))
    if (e.is_regular_file()) std::filesystem::copy_file(e.path(), e.path().filename());
  std::string project = read_file("watershed.prj");
  for (const char* card : {"HYD_FREQ ", "MANNING_N "}) {
    const std::size_t at = project.find(card);
    ASSERT_NE(at, std::string::npos) << card;
    project.erase(at, project.find('\n', at) - at);
  }
  project +=
      "HYD_FREQ 0.1666666666667\nMANNING_N [MANNING]\nIN_SED_LOC sed_loc.txt\n"
      "OUT_SED_LOC sed_loc.out\nOPTIMIZE_SED\n";
  write_file("sed_loc.txt", "2\n3 6\n1 2\n");
  write_params();
  // Rows: the outlet, location 1 (the outlet node), location 2; the last row weighs its volume.
  const double observed[3][2] = {{1e-6, 1e-3}, {2e-6, 2e-3}, {1.0, 1e-4}};
  write_file("obs.txt", "3\n1e-6 1 1e-3 1\n2e-6 1 2e-3 1\n1 0 1e-4 1\n");
  write_file("mc.in", "watershed.prj\nparams.txt\nobs.txt\n1\n0.05 # held\n");
  std::string best[2], optim[2];
  for (int run = 0; run < 2; ++run) {
    write_file("watershed.prj", project + (run == 0 ? "NUM_THREADS 1\n" : "NUM_THREADS 8\n"));
    const command_result trial =
        run_command(torva_exe(), {"-m1", "mc.in"}, "", {"TORVA_CELLS_PER_THREAD=16"});
    ASSERT_EQ(trial.status, 0) << trial.out;
    best[run] = read_file("0000_best.out");
    optim[run] = read_file("0000_torva_optim.out");
  }
  EXPECT_EQ(best[1], best[0]);
  EXPECT_EQ(optim[1], optim[0]);

  // By hand from the series: [0] the outlet, [1] location 1, [2] location 2.
  double peak[3] = {0, 0, 0}, volume[3] = {0, 0, 0};
  const auto outlet = number_rows(read_file("0000_watershed_sed_outlet.out"), 0);
  const auto located = number_rows(read_file("0000_sed_loc.out"), 3);
  ASSERT_EQ(outlet.size(), 901u);  // 150 minutes of 10 s steps, and the start
  ASSERT_EQ(located.size(), outlet.size());
  for (std::size_t t = 0; t < outlet.size(); ++t) {
    ASSERT_EQ(outlet[t].size(), 4u) << t;
    ASSERT_EQ(located[t].size(), 7u) << t;
    const double rate[3] = {outlet[t][1], located[t][1], located[t][4]};
    for (int k = 0; k < 3; ++k) {
      peak[k] = std::max(peak[k], rate[k]);
      volume[k] += 10.0 * rate[k];
    }
  }
  ASSERT_GT(peak[0], 1e-7);
  ASSERT_GT(volume[2], 1e-6);
  // The optimisation line: event 1, then peak and volume of the outlet and of each location.
  const auto line = number_rows(optim[0], 0);
  ASSERT_EQ(line.size(), 2u) << optim[0];
  ASSERT_EQ(line[0].size(), 7u) << optim[0];
  EXPECT_EQ(line[0][0], 1.0);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(line[0][1 + 2 * k], peak[k], 1e-6) << k;
    EXPECT_NEAR(line[0][2 + 2 * k], volume[k], 1e-3) << k;
  }
  // The run's line: the wash load that left through the outlet.
  EXPECT_EQ(line[1][0], 2.0);
  EXPECT_NEAR(line[1][1], volume[0], 1e-6);
  // The cost from the holder's full values, against the hand computation from the series
  // (printed to 1e-10 m3/s: the volume of location 2 is good to about 1e-8 m3 of 1e-4).
  double hand = std::fabs(peak[0] - observed[0][0]) / observed[0][0] +
                std::fabs(volume[0] - observed[0][1]) / observed[0][1] +
                std::fabs(peak[1] - observed[1][0]) / observed[1][0] +
                std::fabs(volume[1] - observed[1][1]) / observed[1][1] +
                std::fabs(volume[2] - observed[2][1]) / observed[2][1];
  double cost = 0.0, n = 0.0;
  ASSERT_EQ(sscanf(best[0].c_str(), "%lf: %lf", &cost, &n), 2) << best[0];
  EXPECT_NEAR(cost, hand, 2e-3) << best[0];
  EXPECT_NEAR(n, 0.05, 1e-12);
}

TEST(CalibrationCases, BadCalibrationInputsStopWithAMessageNamingTheFile) {
  temp_dir dir;
  write_calibration_plane("[MANNING]", 1, 2, 3.0);
  write_params();
  write_file("obs.txt", "1\n0.05 1 10 0\n");
  struct bad_case {
    std::vector<std::string> args;
    std::string file, text, message;
  };
  const bad_case cases[] = {
      {{"-c", "sce.in"},
       "sce.in",
       "plane.prj\nparams.txt\nobs.txt\n60 3 0.001 2 5 0\n",
       "Error in your input file. The first line must have 7 parameters."},
      {{"-c", "sce.in"},
       "sce.in",
       "plane.prj\nparams.txt\nobs.txt\n60 3 0.001 2 5 0 1\n"
       "0 0 0 0 0 0\n0.1 0.2 0.01\n",
       "Lower bound is greater than upper bound for varialbe 1\n(SCE control file sce.in, line 6"},
      {{"-c", "sce.in"},
       "sce.in",
       "plane.prj\nparams.txt\nbad_obs.txt\n60 3 0.001 2 5 0 1\n"
       "0 0 0 0 0 0\n0.1 0.01 0.2\n",
       "bad_obs.txt, line 2: a row needs four numbers"},
      {{"-m2", "mc.in"},
       "mc.in",
       "plane.prj\nparams.txt\nobs.txt\n1\n0.02 x\n",
       "mc.in, line 5: the greatest value of parameter 1 is not a number: x"},
      {{"-m2", "mc.in"},
       "mc.in",
       "plane.prj\nunused.txt\nobs.txt\n2\n0.02 0.2\n1 2\n",
       "the calibration parameter [OTHER] (entry 2 of the replacement list unused.txt) appears "
       "in no input of the project"},
  };
  write_file("bad_obs.txt", "1\n0.05 1 10\n");
  write_file("unused.txt", "2\n[MANNING] \"%8.6lf\"\n[OTHER] \"%8.6lf\"\n");
  for (const bad_case& c : cases) {
    write_file(c.file, c.text);
    const command_result r = run_command(torva_exe(), c.args);
    EXPECT_NE(r.status, 0) << c.text;
    EXPECT_TRUE(contains(r.out, c.message)) << r.out;
  }
  // The unused parameter stopped the runs at the first.
  EXPECT_EQ(lines_of(read_file("0000_results_all.out")).size(), 2u);
}

TEST(CalibrationCases, FourProcessesWriteTheResultsOfOne) {
#ifndef TORVA_WITH_MPI
  GTEST_SKIP() << "built without MPI";
#endif
  temp_dir dir;
  if (!contains(run_command("/bin/sh", {"-c", "command -v mpirun"}).out, "mpirun"))
    GTEST_SKIP() << "no mpirun on this machine";
  write_calibration_plane("[MANNING]", 1, 2, 3.0);
  write_params();
  write_file("obs.txt", "1\n0.05 1 10 0\n");
  write_file("mc.in", "plane.prj\nparams.txt\nobs.txt\n1\n0.02 0.2\n");
  const std::vector<std::string> env = {"TORVA_RANDOM_SEED=4242"};
  const command_result alone = run_command(torva_exe(), {"-m8", "mc.in"}, "", env);
  ASSERT_EQ(alone.status, 0) << alone.out;
  const std::string one_best = read_file("0000_best.out");
  std::vector<std::string> one = lines_of(read_file("0000_results_all.out"));
  std::remove("0000_results_all.out");
  std::remove("0000_best.out");
  std::remove("0000_log_file_p0.log");
  const command_result four = run_command(
      "/bin/sh",
      {"-c", "mpirun --allow-run-as-root --oversubscribe --output-filename ranks -n 4 " +
                 torva_exe() + " -m8 mc.in"},
      "",
      {"TORVA_RANDOM_SEED=4242", "OMPI_ALLOW_RUN_AS_ROOT=1", "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1"});
  ASSERT_EQ(four.status, 0) << four.out << four.err;
  // The four processes share the machine's processors: each takes at most a quarter of them
  // (at least one) for its trials. Only the first shows its runs' progress: two runs of the
  // eight. (Each process's console is read from its own file: on the shared console the lines
  // of the processes cut into one another.)
  const long share = std::max(1L, sysconf(_SC_NPROCESSORS_ONLN) / 4);
  const auto progress_lines = [](const std::string& text) {
    int n = 0;
    for (const std::string& line : lines_of(text))
      if (contains(line, " elapsed time ")) ++n;
    return n;
  };
  ASSERT_GT(progress_lines(alone.out), 0) << alone.out;
  for (int p = 0; p < 4; ++p) {
    const std::string console = read_file("ranks/1/rank." + std::to_string(p) + "/stdout");
    int threads = 0;
    ASSERT_EQ(sscanf(console.c_str(), "Parallel version of TORVA (%*[^)]) with SCE (OpenMP), %d",
                     &threads),
              1)
        << p << ": " << console.substr(0, 200);
    EXPECT_GE(threads, 1) << p;
    EXPECT_LE(threads, share) << p;
    EXPECT_EQ(progress_lines(console), p == 0 ? progress_lines(alone.out) / 4 : 0) << p;
  }
  std::vector<std::string> many = lines_of(read_file("0000_results_all.out"));
  ASSERT_EQ(many.size(), 9u);
  std::sort(one.begin(), one.end());
  std::sort(many.begin(), many.end());
  EXPECT_EQ(many, one);
  EXPECT_EQ(read_file("0000_best.out"), one_best);
  // Fewer runs than processes: every process stops with the message, none runs.
  const command_result too_few = run_command(
      "/bin/sh",
      {"-c", "mpirun --allow-run-as-root --oversubscribe -n 4 " + torva_exe() + " -m3 mc.in"}, "",
      {"OMPI_ALLOW_RUN_AS_ROOT=1", "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1"});
  EXPECT_TRUE(contains(too_few.out, "Error: 3 runs cannot be shared among 4 processes"))
      << too_few.out;
  EXPECT_EQ(lines_of(read_file("0000_results_all.out")).size(), 9u);
  // Each process logged its own two runs.
  for (int p = 0; p < 4; ++p) {
    char name[64];
    snprintf(name, sizeof name, "%04d_log_file_p%d.log", p, p);
    EXPECT_EQ(lines_of(read_file(name)).size(), 3u) << name;
  }
}
