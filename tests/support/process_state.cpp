// Shared test helpers that touch the model's own state: the guard of the process-wide state of
// a run, and a run-step table whose steps do nothing.
#include <omp.h>

#include <cstring>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/core/text_tokens.h"
#include "input/elevation_series.h"
#include "input/replacement.h"
#include "input/run_parameters.h"
#include "input/time_series.h"
#include "run/entry.h"
#include "run/run_driver.h"
#include "subsurface/wells.h"
#include "support/test_support.h"

namespace torva_test {

namespace {

// Empties the lists that hold one run's data and closes the inflow table of the reservoir model.
void empty_run_lists() {
  ts_free_all();
  free_elev_series_and_pumps();
  wells_free_all();
  replace_free_all();
  file_handle_close(r7_inflow_file);
}

}  // namespace

process_state_guard::process_state_guard()
    : project_dir_(project_dir),
      output_dir_(output_dir),
      output_dir_set_(output_dir_set),
      run_prefix_on_(run_prefix_on),
      run_number_(run_number),
      console_silent_(console_silent),
      replace_list_(replace_list),
      replace_active_(replace_active),
      replace_count_(replace_count),
      replace_line_index_(replace_line_index),
      run_error_(run_error),
      error_echo_file_(error_echo_file),
      pause_on_exit_(pause_on_exit),
      threads_(omp_get_max_threads()),
      process_threads_(process_info.num_threads),
      process_rank_(process_info.process_rank) {
  replace_list = nullptr;  // set aside: put back by the destructor
  reset();
}

void process_state_guard::reset() {
  empty_run_lists();
  project_dir[0] = '\0';
  output_dir[0] = '\0';
  output_dir_set = 0;
  run_prefix_on = 0;
  run_number = 0;
  console_silent = false;
  replace_active = 0;
  replace_count = 0;
  replace_line_index = 0;
  run_error = error_state{};
  error_echo_file = nullptr;
  pause_on_exit = 0;
  process_info.process_rank = 0;
}

process_state_guard::~process_state_guard() {
  empty_run_lists();
  copy_text(project_dir, sizeof project_dir, project_dir_.c_str());
  copy_text(output_dir, sizeof output_dir, output_dir_.c_str());
  output_dir_set = output_dir_set_;
  run_prefix_on = run_prefix_on_;
  run_number = run_number_;
  console_silent = console_silent_;
  replace_list = replace_list_;
  replace_active = replace_active_;
  replace_count = replace_count_;
  replace_line_index = replace_line_index_;
  run_error = run_error_;
  error_echo_file = error_echo_file_;
  pause_on_exit = pause_on_exit_;
  omp_set_num_threads(threads_);
  process_info.num_threads = process_threads_;
  process_info.process_rank = process_rank_;
}

run_steps no_op_steps() {
  run_steps steps = default_run_steps();
  const step_fn none = [](model_state&) {};
  steps.read_run_parameters = [](model_state&, const char*) {};
  for (step_fn* fn : {&steps.check_project_options,
                      &steps.open_run_files,
                      &steps.print_replace_values,
                      &steps.set_time_parameters,
                      &steps.read_maps,
                      &steps.open_map_datasets,
                      &steps.write_linknode_run_headers,
                      &steps.setup_contam_map_outputs,
                      &steps.setup_contam_channel_outputs,
                      &steps.build_cell_connectivity,
                      &steps.compute_overland_slopes,
                      &steps.scan_precip_events,
                      &steps.init_lake_and_soil_state,
                      &steps.init_channel_storage,
                      &steps.alloc_driver_results,
                      &steps.read_volp_exchange_start,
                      &steps.init_xy_output,
                      &steps.compute_initial_overland_volume,
                      &steps.contam_soil_layer_init,
                      &steps.init_simulation_clock,
                      &steps.print_replace_usage,
                      &steps.write_run_summary})
    *fn = none;
  steps.read_analyzer_file = [](model_state&, const char*) {};
  for (loop_step& step : steps.time_loop) step.fn = none;
  return steps;
}

}  // namespace torva_test
