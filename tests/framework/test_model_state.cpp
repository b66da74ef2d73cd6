// The run's model state: what a fresh record holds, and what its destruction releases, closes
// and empties, so that a second run in the same process sees nothing of the first.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "calibration/run_result.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "input/elevation_series.h"
#include "input/replacement.h"
#include "input/time_series.h"
#include "run/run_driver.h"
#include "subsurface/wells.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// Runs build and destroy model states, report errors and read series: the process-wide state
// is kept and given back.
class ModelState : public ::testing::Test {
 protected:
  torva_test::process_state_guard process_state_;
};

}  // namespace

TEST_F(ModelState, FreshRecordHoldsItsDefaultsAndNothingElse) {
  auto ms = std::make_unique<model_state>();
  struct double_default {
    const char* name;
    double value;
    double expected;
  };
  const double_default doubles[] = {
      {"cfs_factor", ms->cfs_factor, 35.314667},
      {"layer1_depth_cm", ms->transport.layer1_depth_cm, 40.0},
      {"layer2_depth_cm", ms->transport.layer2_depth_cm, 40.0},
      {"soil_depth_cm", ms->transport.soil_depth_cm, 40.0},
      {"contam_factor", ms->transport.contam_factor, 1.0},
      {"snow_param_a", ms->subsurface.snow_param_a, 27.0},
      {"snow_param_b", ms->subsurface.snow_param_b, 80.0},
      {"gw_solve_factor", ms->subsurface.gw_solve_factor, 1.0},
      {"chan_gw_factor", ms->channel.chan_gw_factor, 1.0},
      {"latitude", ms->grid_params.latitude, 32.0},
      {"longitude", ms->grid_params.longitude, -90.0},
      {"current_time", ms->current_time, 0.0},
  };
  for (const auto& d : doubles) EXPECT_EQ(d.value, d.expected) << d.name;
  struct int_default {
    const char* name;
    int value;
    int expected;
  };
  const int_default ints[] = {
      {"float_grass_maps", ms->float_grass_maps, 1},
      {"ov_route_option", ms->overland.ov_route_option, 1},
      {"ov_sweep_parity", ms->overland.ov_sweep_parity, 1},
      {"ov_contam_sweep_parity", ms->transport.ov_contam_sweep_parity, 1},
      {"chan_option", ms->channel.chan_option, 2},
      {"lake_option", ms->channel.lake_option, 1},
      {"cur_event", ms->overland.cur_event, 1},
      {"sed_option", ms->transport.sediment.sed_option, 4},
      {"gw_sweep_parity", ms->subsurface.gw_sweep_parity, 1},
      {"gw_summary_flag", ms->subsurface.gw_summary_flag, 1},
      {"contam_uniform_pending", ms->transport.contam_uniform_pending, -1},
      {"flush_buffer", ms->output.flush_buffer, 5000},
      {"layer_index", ms->transport.layer_work.layer_index, -1},
      {"rain_interpolation", ms->rain_params.rain_interpolation, 1},
      {"map frame", ms->output.rain_map.frame_counter, 1},
      {"map enabled", ms->output.depth_map.enabled, 1},
      {"run_flag", ms->run_flag, 0},
      {"cell_count", ms->cell_count, 0},
      {"rain_event_state", ms->overland.rain_event_state, 0},
  };
  for (const auto& d : ints) EXPECT_EQ(d.value, d.expected) << d.name;
  EXPECT_STREQ(ms->transport.con_output_name, "con_output");

  // Files closed, arrays empty, objects made on demand absent.
  for (const file_handle* h :
       {&ms->output.summary_file, &ms->input.elevation_file, &ms->channel.outlet_hydro_file,
        &ms->transport.con_output_file, &ms->output.daily.daily_file}) {
    EXPECT_EQ(h->fp, nullptr);
    EXPECT_EQ(h->fp_check, nullptr);
    EXPECT_STREQ(h->path, "");
    EXPECT_STREQ(h->mode, "");
  }
  EXPECT_TRUE(ms->index_map.empty());
  EXPECT_TRUE(ms->overland.ov_depth.empty());
  EXPECT_EQ(ms->transport.ov_sed, nullptr);
  EXPECT_EQ(ms->transport.nsm, nullptr);
  EXPECT_EQ(ms->output.r7, nullptr);
  EXPECT_EQ(ms->calibration.driver_result, nullptr);
  EXPECT_EQ(ms->output.analyzer_list, nullptr);

  // The named mass-balance arrays carry their names, empty.
  EXPECT_STREQ(ms->transport.precip_conc.array_name(), "precip_conc");
  EXPECT_STREQ(ms->transport.GLOBAL_GW_MASS.array_name(), "GLOBAL_GW_MASS");
  EXPECT_STREQ(ms->transport.water_soil_partition_coef.array_name(), "water_soil_partition_coef");
  EXPECT_EQ(ms->transport.OV_MASS_INIT.upper(), 0);

  // Every soil type and precipitation record is zero; ids 0..9999 address their own record.
  for (int id : {0, 1, 5000, max_soil_types - 1}) {
    const soil_table_record& r = ms->subsurface.soil_types[id];
    for (int slot = 0; slot < 50; ++slot) EXPECT_EQ((&r.layer_capillary_head[0])[slot], 0.0);
  }
  EXPECT_NE(&ms->subsurface.soil_types[1], &ms->subsurface.soil_types[0]);
  for (int i : {0, 1, max_rain_records}) EXPECT_EQ(ms->overland.rain_events[i].value[5], 0);
}

TEST_F(ModelState, DestroyedStraightAfterConstructionPrintsNothing) {
  stdout_capture capture;
  { auto ms = std::make_unique<model_state>(); }
  EXPECT_EQ(capture.stop(), "");
}

TEST_F(ModelState, DestructionClosesWhatTheRunLeftOpenOnce) {
  temp_dir dir;
  stdout_capture capture;
  {
    auto ms = std::make_unique<model_state>();
    ASSERT_TRUE(file_handle_open(ms->output.summary_file, "left_open.out", "w"));
    fputs("summary line\n", ms->output.summary_file.fp);
    ASSERT_TRUE(file_handle_open(ms->channel.outlet_hydro_file, "closed.out", "w"));
    file_handle_close(ms->channel.outlet_hydro_file);
    ms->overland.ov_depth.allocate(100);
    ms->index_map.allocate(20, 30);
  }
  EXPECT_EQ(capture.stop(), "");
  EXPECT_EQ(read_file(dir.file("left_open.out")), "summary line\n");
}

TEST_F(ModelState, MessagesAfterTheRecordIsGoneReachTheConsoleOnly) {
  temp_dir dir;
  {
    auto ms = std::make_unique<model_state>();
    ASSERT_TRUE(file_handle_open(ms->output.summary_file, "summary.out", "w"));
    error_echo_file = &ms->output.summary_file;
  }
  EXPECT_EQ(error_echo_file, nullptr);
  run_error.error_code = err_time_step_zero;
  stdout_capture capture;
  error_report(run_error);
  EXPECT_EQ(capture.stop(), "\nError: Time step is 0 seconds.\n");
  EXPECT_EQ(read_file(dir.file("summary.out")), "");
}

TEST_F(ModelState, CalibrationHolderKeepsItsEventArraysButLosesItsLocationArrays) {
  run_result holder;
  holder.peaks = new double[4]{0, 1, 2, 3};
  holder.loc_peaks = new double[10]();
  holder.loc_volumes = new double[10]();
  {
    auto ms = std::make_unique<model_state>();
    ms->calibration.driver_result = &holder;
  }
  EXPECT_EQ(holder.loc_peaks, nullptr);
  EXPECT_EQ(holder.loc_volumes, nullptr);
  ASSERT_NE(holder.peaks, nullptr);
  EXPECT_EQ(holder.peaks[3], 3.0);
  delete[] holder.peaks;
}

namespace {

// The series file each run reads, set by the test before the run.
std::string series_file_of_run;

void read_series_of_run(model_state&, const char*) {
  read_time_series_file(series_file_of_run.c_str());
  read_elev_series_file(series_file_of_run.c_str());
  active_well_list = new well_record{7, 1, 0.5, 0, active_well_list};
}

}  // namespace

TEST_F(ModelState, SecondRunSeesNothingOfTheFirst) {
  temp_dir dir;
  write_file(dir.file("first.ts"),
             "TORVA_TS\nInflowA\nABSOLUTE\n2000 1 1 0 0 5.0\nEND_TS\n"
             "TORVA_ES\nRatingA\n0 0\n1 10\nEND_ES\n");
  write_file(dir.file("second.ts"),
             "TORVA_TS\nInflowB\nABSOLUTE\n2000 1 1 0 0 7.0\nEND_TS\n"
             "TORVA_ES\nRatingB\n0 0\n2 10\nEND_ES\n");
  run_steps steps = torva_test::no_op_steps();
  steps.read_run_parameters = read_series_of_run;
  // What the run's first step after the project file can look up by name.
  static bool found_a = false, found_b = false, found_rating_a = false;
  steps.check_project_options = [](model_state&) {
    found_a = ts_find("InflowA") != nullptr;
    found_b = ts_find("InflowB") != nullptr;
    found_rating_a = elev_series_find("RatingA") != nullptr;
  };

  stdout_capture capture;
  series_file_of_run = "first.ts";
  run_project("p.prj", nullptr, steps);
  EXPECT_TRUE(found_a);
  EXPECT_FALSE(found_b);
  EXPECT_TRUE(found_rating_a);
  EXPECT_EQ(ts_list_head, nullptr);
  EXPECT_EQ(elev_series_list_head, nullptr);
  EXPECT_EQ(chan_pump_list_head, nullptr);
  EXPECT_EQ(active_well_list, nullptr);
  EXPECT_EQ(replace_list, nullptr);

  series_file_of_run = "second.ts";
  run_project("p.prj", nullptr, steps);
  capture.stop();
  EXPECT_FALSE(found_a);
  EXPECT_TRUE(found_b);
  EXPECT_FALSE(found_rating_a);
  EXPECT_EQ(ts_list_head, nullptr);
  EXPECT_EQ(active_well_list, nullptr);
  EXPECT_EQ(run_error.error_fatal, 0);
}
