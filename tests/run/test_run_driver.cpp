// The run driver: the fixed order of the start-up and time-loop steps, the error check after
// each, the three ways out of a run (normal end, end after an error, fatal error) with their
// analyzer notifications, and the clean-up that every way out shares.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "calibration/run_result.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "input/replacement.h"
#include "input/time_series.h"
#include "output/analyzers/analyzer.h"
#include "run/entry.h"
#include "run/run_driver.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;

namespace {

std::vector<std::string> calls;
// Called by every recording step after it has recorded itself: the test's scenario.
std::function<void(model_state&, const std::string&)> scenario;

void record(model_state& ms, const std::string& name) {
  calls.push_back(name);
  if (scenario) scenario(ms, name);
}

class recording_analyzer : public analyzer {
 public:
  void on_event(model_state& ms, int bit) override { record(ms, "notify " + std::to_string(bit)); }
};

template <int I>
void loop_recorder(model_state& ms) {
  record(ms, default_run_steps().time_loop[I].name);
}

template <std::size_t... I>
void set_loop_recorders(run_steps& steps, std::index_sequence<I...>) {
  ((steps.time_loop[I].fn = loop_recorder<static_cast<int>(I)>), ...);
}

#define RECORDER(name) [](model_state& ms) { record(ms, #name); }

run_steps recording_steps() {
  run_steps steps = default_run_steps();
  steps.read_run_parameters = [](model_state& ms, const char*) {
    // Every run gets an analyzer that records the notifications it receives.
    ms.output.analyzer_list = new recording_analyzer;
    record(ms, "read_run_parameters");
  };
  steps.check_project_options = RECORDER(check_project_options);
  steps.open_run_files = RECORDER(open_run_files);
  steps.print_replace_values = RECORDER(print_replace_values);
  steps.set_time_parameters = RECORDER(set_time_parameters);
  steps.read_maps = RECORDER(read_maps);
  steps.open_map_datasets = RECORDER(open_map_datasets);
  steps.write_linknode_run_headers = RECORDER(write_linknode_run_headers);
  steps.setup_contam_map_outputs = RECORDER(setup_contam_map_outputs);
  steps.setup_contam_channel_outputs = RECORDER(setup_contam_channel_outputs);
  steps.build_cell_connectivity = RECORDER(build_cell_connectivity);
  steps.compute_overland_slopes = RECORDER(compute_overland_slopes);
  steps.scan_precip_events = RECORDER(scan_precip_events);
  steps.init_lake_and_soil_state = RECORDER(init_lake_and_soil_state);
  steps.init_channel_storage = RECORDER(init_channel_storage);
  steps.alloc_driver_results = RECORDER(alloc_driver_results);
  steps.read_volp_exchange_start = RECORDER(read_volp_exchange_start);
  steps.init_xy_output = RECORDER(init_xy_output);
  steps.compute_initial_overland_volume = RECORDER(compute_initial_overland_volume);
  steps.contam_soil_layer_init = RECORDER(contam_soil_layer_init);
  steps.init_simulation_clock = RECORDER(init_simulation_clock);
  steps.read_analyzer_file = [](model_state& ms, const char* file) {
    record(ms, std::string("read_analyzer_file ") + file);
  };
  steps.print_replace_usage = RECORDER(print_replace_usage);
  set_loop_recorders(steps, std::make_index_sequence<time_loop_step_count>());
  steps.write_run_summary = RECORDER(write_run_summary);
  return steps;
}

const std::vector<std::string> startup_order = {"read_run_parameters",
                                                "check_project_options",
                                                "open_run_files",
                                                "set_time_parameters",
                                                "read_maps",
                                                "open_map_datasets",
                                                "write_linknode_run_headers",
                                                "build_cell_connectivity",
                                                "compute_overland_slopes",
                                                "scan_precip_events",
                                                "init_lake_and_soil_state",
                                                "init_channel_storage",
                                                "alloc_driver_results",
                                                "read_volp_exchange_start",
                                                "init_xy_output",
                                                "compute_initial_overland_volume",
                                                "contam_soil_layer_init",
                                                "init_simulation_clock",
                                                "notify 8"};

const std::vector<std::string> loop_order = {"advance_time_step",
                                             "start_precip_event",
                                             "init_event",
                                             "update_precip_record",
                                             "apply_rainfall",
                                             "apply_overland_point_sources",
                                             "soil_et_step",
                                             "hydromet_et_step",
                                             "infiltration_step",
                                             "sacramento_step",
                                             "soil_contam_partition_step",
                                             "overland_flow_step",
                                             "superlink_step",
                                             "sed_contam_overland_step",
                                             "overland_contam_processes",
                                             "overland_contam_mass_update",
                                             "groundwater_step",
                                             "overland_lake_step",
                                             "channel_routing_step",
                                             "chan_point_input_step",
                                             "track_peaks",
                                             "channel_sed_contam_step",
                                             "channel_contam_sources",
                                             "channel_lake_contam_routing",
                                             "print_progress_line",
                                             "check_event_end",
                                             "write_volp_exchange_end",
                                             "finish_event_balance",
                                             "write_series_outputs",
                                             "write_output_maps"};

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class RunDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    scenario = nullptr;
  }
  void TearDown() override { scenario = nullptr; }
  // Runs the project with the recording steps; returns the console output.
  std::string run(run_result* holder = nullptr) {
    stdout_capture capture;
    result_ = run_project("proj.prj", holder, recording_steps());
    return capture.stop();
  }
  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
  int result_ = -1;
};

TEST_F(RunDriver, NormalRunCallsEveryStepInOrderAndNotifies8Then1Then16) {
  // The clock sets the run flag; the end-of-event decision drops it in the third pass.
  int passes = 0;
  scenario = [&](model_state& ms, const std::string& name) {
    if (name == "init_simulation_clock") ms.run_flag = 1;
    if (name == "check_event_end" && ++passes == 3) ms.run_flag = 0;
  };
  const std::string out = run();
  std::vector<std::string> pass = loop_order;
  pass.push_back("notify 1");
  EXPECT_EQ(calls, concat({startup_order, pass, pass, pass, {"write_run_summary", "notify 16"}}));
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_NE(out.find("total time to init(s): "), std::string::npos);
  EXPECT_NE(out.find("Running....\n"), std::string::npos);
  EXPECT_EQ(read_file(dir_.file("out_time.out")).rfind("total time (s): ", 0), 0u);
}

TEST_F(RunDriver, OptionalStartupStepsRunOnlyWhenTheirOptionIsOn) {
  replace_switch_on();
  scenario = [](model_state& ms, const std::string& name) {
    if (name != "read_run_parameters") return;
    ms.cards.analyzers_given = 1;
    snprintf(ms.cards.analyzers, sizeof ms.cards.analyzers, "%s", "watch.ana");
    ms.output.all_contam_output = 1;
    ms.transport.ov_con_trans = 1;
    ms.transport.chan_con_trans = 1;
  };
  run();
  auto at = [](const std::string& name) {
    for (size_t i = 0; i < calls.size(); ++i)
      if (calls[i] == name) return static_cast<int>(i);
    return -1;
  };
  EXPECT_EQ(at("print_replace_values"), at("open_run_files") + 1);
  EXPECT_EQ(at("setup_contam_map_outputs"), at("write_linknode_run_headers") + 1);
  EXPECT_EQ(at("setup_contam_channel_outputs"), at("setup_contam_map_outputs") + 1);
  EXPECT_EQ(at("read_analyzer_file watch.ana"), at("init_simulation_clock") + 1);
  EXPECT_EQ(at("notify 8"), at("read_analyzer_file watch.ana") + 1);
  EXPECT_EQ(at("print_replace_usage"), at("notify 8") + 1);
  EXPECT_EQ(at("advance_time_step"), at("print_replace_usage") + 1);

  // Without all_contam_output neither constituent output is set up.
  calls.clear();
  replace_active = 0;
  scenario = [](model_state& ms, const std::string& name) {
    if (name == "read_run_parameters") ms.transport.ov_con_trans = ms.transport.chan_con_trans = 1;
  };
  run();
  EXPECT_EQ(at("setup_contam_map_outputs"), -1);
  EXPECT_EQ(at("setup_contam_channel_outputs"), -1);
  EXPECT_EQ(at("print_replace_values"), -1);
}

TEST_F(RunDriver, FatalErrorInTheLoopSkipsTheRestOfThePassTheSummaryAndNotifications) {
  int passes = 0;
  scenario = [&](model_state& ms, const std::string& name) {
    if (name == "init_simulation_clock") ms.run_flag = 1;
    if (name == "overland_flow_step" && ++passes == 2) {
      printf("depth is not a number\n");
      run_error.error_code = error_code_own_message;
    }
  };
  const std::string out = run();
  std::vector<std::string> first = loop_order;
  first.push_back("notify 1");
  const std::vector<std::string> second(loop_order.begin(), loop_order.begin() + 12);
  EXPECT_EQ(calls, concat({startup_order, first, second}));
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(out.find("depth is not a number\n\n"), std::string::npos);
  EXPECT_NE(out.find("Run time: "), std::string::npos);
  EXPECT_EQ(read_file(dir_.file("out_time.out")).rfind("total time (s): ", 0), 0u);
}

TEST_F(RunDriver, FatalErrorAtStartupStopsAtOnceButStillRecordsTheTime) {
  scenario = [](model_state&, const std::string& name) {
    if (name == "read_run_parameters") run_error.error_code = err_project_file_not_found;
  };
  const std::string out = run();
  EXPECT_EQ(calls, std::vector<std::string>{"read_run_parameters"});
  EXPECT_NE(out.find("\nError: The specified project file was not found.\n"), std::string::npos);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(result_, 0);
  EXPECT_NE(out.find("Run time: "), std::string::npos);
  EXPECT_EQ(read_file(dir_.file("out_time.out")).rfind("total time (s): ", 0), 0u);
}

TEST_F(RunDriver, WarningAtStartupIsPrintedAndTheRunGoesOn) {
  scenario = [](model_state&, const std::string& name) {
    if (name == "set_time_parameters") run_error.error_code = warn_hydrograph_interval_defaulted;
  };
  const std::string out = run();
  EXPECT_NE(
      out.find("\nWarning: Write hydrograph time step not specified, defaulting to 1 hour.\n"),
      std::string::npos);
  EXPECT_EQ(calls.back(), "notify 16");
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(result_, 0);
}

TEST_F(RunDriver, CodeLeftPendingEndsTheRunAfterAnErrorAndIsReturned) {
  // A code set after the last check of a pass (here by an analyzer told of the step) ends the
  // run with notification 32 and no summary.
  scenario = [](model_state& ms, const std::string& name) {
    if (name == "init_simulation_clock") ms.run_flag = 1;
    if (name == "notify 1") run_error.error_code = err_unexpected_end_of_file;
  };
  run();
  std::vector<std::string> pass = loop_order;
  pass.push_back("notify 1");
  EXPECT_EQ(calls, concat({startup_order, pass, {"notify 32"}}));
  EXPECT_EQ(result_, err_unexpected_end_of_file);

  // The same at the end of start-up: a code set by a step without a check of its own.
  calls.clear();
  scenario = [](model_state&, const std::string& name) {
    if (name == "contam_soil_layer_init") run_error.error_fatal = 0;
    if (name == "notify 8") run_error.error_code = err_xwin_ordinates_too_many;
  };
  run();
  EXPECT_EQ(calls, concat({startup_order, {"notify 32"}}));
  EXPECT_EQ(result_, err_xwin_ordinates_too_many);
}

TEST_F(RunDriver, SummaryFileGetsStartupLinesAndMessagesWhileOpenOnly) {
  scenario = [](model_state& ms, const std::string& name) {
    if (name == "open_run_files") {
      ASSERT_TRUE(file_handle_open(ms.output.summary_file, "summary.out", "w"));
      error_echo_file = &ms.output.summary_file;
    }
    if (name == "read_maps") run_error.error_code = warn_gw_porosity_missing;  // echoed
  };
  run();
  const std::string start =
      "\n\n_________TORVA start-up information________\n"
      "Run parameters read from VRO project file: proj.prj\n"
      "\nWarning: You have specified neither spatially-varied, uniform";
  EXPECT_EQ(read_file(dir_.file("summary.out")).substr(0, start.size()), start);
  EXPECT_NE(read_file(dir_.file("summary.out")).find("Running.... \n\n"), std::string::npos);
  // The run's files are closed: a message after the run reaches the console only.
  EXPECT_EQ(error_echo_file, nullptr);
  run_error.error_code = err_project_file_not_found;
  stdout_capture capture;
  error_report(run_error);
  EXPECT_EQ(capture.stop(), "\nError: The specified project file was not found.\n");
}

TEST_F(RunDriver, SuperQuietKeepsTheSummaryLineAndTheRunTimeLine) {
  scenario = [](model_state& ms, const std::string& name) {
    if (name == "read_run_parameters") ms.super_quiet = 1;
    if (name == "open_run_files") {
      ASSERT_TRUE(file_handle_open(ms.output.summary_file, "summary.out", "w"));
    }
  };
  const std::string out = run();
  EXPECT_EQ(out.find("total time to init"), std::string::npos);
  EXPECT_EQ(out.find("Running....\n"), std::string::npos);
  EXPECT_NE(out.find("Run time: "), std::string::npos);
  EXPECT_NE(read_file(dir_.file("summary.out")).find("Running.... \n\n"), std::string::npos);
}

TEST_F(RunDriver, RunTimeLineCarriesTheRankWithMoreThanOneThread) {
  process_info.num_threads = 4;
  std::string out = run();
  EXPECT_NE(out.find("\n0: Run time: "), std::string::npos);
  process_info.num_threads = 1;
  out = run();
  EXPECT_NE(out.find("\nRun time: "), std::string::npos);
  EXPECT_EQ(out.find(": Run time: "), std::string::npos);
  // Every run appends its line.
  const std::string times = read_file(dir_.file("out_time.out"));
  EXPECT_EQ(std::count(times.begin(), times.end(), '\n'), 2);
}

TEST_F(RunDriver, ResultHolderTurnsOptimizeOnOverTheProjectSetting) {
  int seen = -1;
  scenario = [&](model_state& ms, const std::string& name) {
    if (name == "read_run_parameters") ms.calibration.optimize_on = 0;  // as read from the cards
    if (name == "check_project_options") seen = ms.calibration.optimize_on;
  };
  run_result holder;
  run(&holder);
  EXPECT_EQ(seen, 1);
  seen = -1;
  run(nullptr);
  EXPECT_EQ(seen, 0);
}

TEST_F(RunDriver, RelativeSeriesAreShiftedToTheStartOnceBetweenExchangeAndXyOutputs) {
  double before = 0, after = 0, fixed = 0;
  scenario = [&](model_state& ms, const std::string& name) {
    if (name == "read_run_parameters") {
      ms.current_time = 2450000.5;
      for (int relative : {1, 0}) {
        time_series* ts = ts_create();
        ts->relative = relative;
        ts->count = 2;
        ts->times = {0.25, 1.0};
        ts->values = {1.0, 2.0};
      }
    }
    // The list holds the relative series first, then the absolute one.
    if (name == "read_volp_exchange_start") before = ts_list_head->times[0];
    if (name == "init_xy_output") {
      after = ts_list_head->times[1];
      fixed = ts_list_head->next->times[1];
    }
  };
  run();
  EXPECT_DOUBLE_EQ(before, 0.25);
  EXPECT_DOUBLE_EQ(after, 2450001.5);
  EXPECT_DOUBLE_EQ(fixed, 1.0);
  EXPECT_EQ(ts_list_head, nullptr);  // the run's series are gone with the run
}

TEST_F(RunDriver, ModelStepsStopAProjectThatCannotBeReadButRecordTheTime) {
  stdout_capture capture;
  EXPECT_EQ(run_project("missing.prj", nullptr), 0);
  const std::string out = capture.stop();
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(out.find("\nError: The specified project file was not found.\n"), std::string::npos);
  EXPECT_EQ(out.find("Running...."), std::string::npos);
  EXPECT_EQ(read_file(dir_.file("out_time.out")).rfind("total time (s): ", 0), 0u);
}

TEST_F(RunDriver, ModelStepsRunAProjectStepByStepToItsEndTime) {
  const std::string header = torva_test::grid_header(2, 3, 60.0, 0.0, 90.0, 0.0);
  torva_test::write_file(dir_.file("mask.asc"), header + "1 1 1\n1 1 1\n");
  torva_test::write_file(dir_.file("elev.asc"), header + "10 9 8\n9 8 7\n");
  torva_test::write_file(
      dir_.file("p.prj"),
      "TORVAPROJECT\nROWS 2\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 60\nTOT_TIME 5\nHYD_FREQ 1\n"
      "OUTROW 2\nOUTCOL 3\nOUTSLOPE 0.01\nMANNING_N 0.05\nOVERTYPE explicit\nSTART_DATE 2005 3 14\n"
      "START_TIME 6 30\nPRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 3\n"
      "WATERSHED_MASK mask.asc\nELEVATION elev.asc\nSUMMARY sum.out\nOUTLET_HYDRO q.out\n");
  stdout_capture capture;
  EXPECT_EQ(run_project("p.prj", nullptr), 0);
  const std::string out = capture.stop();
  EXPECT_EQ(run_error.error_fatal, 0) << out;
  EXPECT_NE(out.find("Running....\n"), std::string::npos) << out;
  // Steps 0 to 5 of one minute each, one hydrograph line per step ("%8.2lf" minutes, then the
  // discharge), and none after the end.
  const std::string hydro = read_file(dir_.file("q.out"));
  std::vector<std::string> times;
  for (std::size_t at = 0; at < hydro.size(); at = hydro.find('\n', at) + 1) {
    times.push_back(hydro.substr(at, 8));
    if (hydro.find('\n', at) == std::string::npos) break;
  }
  EXPECT_EQ(times, (std::vector<std::string>{"    0.00", "    1.00", "    2.00", "    3.00",
                                             "    4.00", "    5.00"}))
      << hydro;
}

TEST_F(RunDriver, ModelStepsRefuseACardNotSupportedYetBeforeAnyFileIsOpened) {
  const std::string project =
      "TORVAPROJECT\nROWS 2\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 10\nTOT_TIME 60\nOUTSLOPE 0.01\n"
      "OVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 30\nWATERSHED_MASK "
      "mask.asc\n"
      "ELEVATION elev.asc\nSUMMARY sum.out\nOUTLET_HYDRO q.out\n";
  struct refused {
    std::string cards;
    const char* message;  // what the run prints
    bool not_supported;   // the message is that of a card not supported
  };
  const refused cases[] = {
      {"SOIL_EROSION 12\n",
       "Error: size classes carried as overland constituents (a value of 10 or more) (the "
       "SOIL_EROSION card) is not supported by this version.\n\n",
       true},
      // A card that needs another process: an input error saying what it needs.
      {"LAKE_PUMP pumps.txt\n",
       "Error: LAKE_PUMP needs channel routing (CHAN_EXPLIC): lake pumps draw from the lakes of "
       "the channel network.\n\n",
       false},
      // A conflict of the chosen options is reported before: its code's message alone.
      {"WATER_TABLE wt.asc\nGW_SIMULATION\nGW_UNIF_POROSITY 0.3\nGW_UNIF_HYCOND 1e-5\n"
       "SACRAMENTO s.txt\n",
       "\nError: You have specified both groundwater routing and Sacramento soil moisture\n",
       false},
  };
  for (const refused& r : cases) {
    torva_test::write_file(dir_.file("p.prj"), project + r.cards);
    stdout_capture capture;
    EXPECT_EQ(run_project("p.prj", nullptr), 0);
    const std::string out = capture.stop();
    EXPECT_EQ(run_error.error_fatal, 1) << r.cards;
    EXPECT_NE(out.find(r.message), std::string::npos) << out;
    EXPECT_EQ(out.find("is not supported") != std::string::npos, r.not_supported) << out;
    EXPECT_EQ(out.find("Running...."), std::string::npos) << out;
    EXPECT_FALSE(torva_test::file_exists(dir_.file("sum.out"))) << r.cards;
    EXPECT_FALSE(torva_test::file_exists(dir_.file("q.out"))) << r.cards;
  }
}

// The model's overland point-source step, and a leak after it: at the third step it takes half
// the water off every cell without booking it anywhere, as no process of the model may.
step_fn model_point_sources = nullptr;
int leak_calls = 0;
void point_sources_and_a_leak(model_state& ms) {
  model_point_sources(ms);
  if (++leak_calls != 3) return;
  for (int c = 1; c <= ms.cell_count; ++c) ms.overland.ov_depth[c] *= 0.5;
}

// A run ends normally with its summary either way; the run whose books do not close (the leak
// above loses far more than 1 % of its rain) ends with a warning on the console and leaves the
// exit status of unclosed books, distinct from a fatal error's; the same run without the leak
// closes and leaves status 0.
TEST_F(RunDriver, ARunWhoseBooksDoNotCloseEndsWithAWarningAndAStatusOfItsOwn) {
  const std::string header = torva_test::grid_header(2, 3, 60.0, 0.0, 90.0, 0.0);
  torva_test::write_file(dir_.file("mask.asc"), header + "1 1 1\n1 1 1\n");
  torva_test::write_file(dir_.file("elev.asc"), header + "10 9 8\n9 8 7\n");
  torva_test::write_file(
      dir_.file("p.prj"),
      "TORVAPROJECT\nROWS 2\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 60\nTOT_TIME 5\nHYD_FREQ 1\n"
      "OUTROW 2\nOUTCOL 3\nOUTSLOPE 0.01\nMANNING_N 0.05\nOVERTYPE explicit\nSTART_DATE 2005 3 14\n"
      "START_TIME 6 30\nPRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 3\n"
      "WATERSHED_MASK mask.asc\nELEVATION elev.asc\nSUMMARY sum.out\nOUTLET_HYDRO q.out\n");
  const char* warning = "Warning: the overall mass balance error of the run is ";
  for (const bool leak : {false, true}) {
    SCOPED_TRACE(leak ? "with the leak" : "without the leak");
    run_steps steps = default_run_steps();
    int replaced = 0;
    for (loop_step& step : steps.time_loop) {
      if (std::string(step.name) != "apply_overland_point_sources") continue;
      model_point_sources = step.fn;
      if (leak) step.fn = point_sources_and_a_leak;
      ++replaced;
    }
    ASSERT_EQ(replaced, 1);
    leak_calls = 0;
    stdout_capture capture;
    const int pending = run_project("p.prj", nullptr, steps);
    const std::string out = capture.stop();
    EXPECT_EQ(run_error.error_fatal, 0) << out;
    const std::string summary = read_file(dir_.file("sum.out"));
    const std::size_t at = summary.find("Overall mass balance error =");
    ASSERT_NE(at, std::string::npos) << summary;
    const double error = std::strtod(summary.c_str() + at + 28, nullptr);
    if (leak) {
      EXPECT_GT(error, 10.0) << summary;
      EXPECT_NE(out.find(warning), std::string::npos) << out;
      EXPECT_EQ(run_error.error_balance, 1);
      EXPECT_EQ(run_exit_status(pending, run_error), exit_status_water_balance);
      EXPECT_NE(exit_status_water_balance, 1);
      EXPECT_NE(exit_status_water_balance, 0);
    } else {
      EXPECT_LT(std::fabs(error), 1e-6) << summary;
      EXPECT_EQ(out.find(warning), std::string::npos) << out;
      EXPECT_EQ(run_error.error_balance, 0);
      EXPECT_EQ(run_exit_status(pending, run_error), 0);
    }
  }
}

}  // namespace
