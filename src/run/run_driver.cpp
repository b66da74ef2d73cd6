// Run driver: one call of run_project is one run of a project, from the construction of its
// model_state through start-up and the time loop to the closing of its files. Called by the
// program entry for single and batch runs and by the calibration callback once per trial.
#include "run/run_driver.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

#include "atmosphere/atmosphere_steps.h"
#include "calibration/calibration_drivers.h"
#include "channel/channel_steps.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/core/run_interrupt.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/option_checks.h"
#include "input/read_maps.h"
#include "input/replacement.h"
#include "input/run_files.h"
#include "input/run_parameters.h"
#include "input/time_series.h"
#include "output/analyzers/analyzer.h"
#include "output/output_steps.h"
#include "overland/overland_steps.h"
#include "run/event_control.h"
#include "run/sim_clock.h"
#include "subsurface/subsurface_steps.h"
#include "transport/transport_steps.h"

namespace {

const run_steps model_steps = {
    read_run_parameters,
    // The conflicts of the chosen options, then the cards this version cannot run yet: both
    // stop the run before any file is opened.
    [](model_state& ms) {
      check_project_options(ms);
      if (run_error.error_code == 0) check_inputs_supported(ms);
    },
    open_run_files,
    [](model_state& ms) { print_replace_values(ms.output.summary_file); },
    set_time_parameters,
    read_maps,
    open_map_datasets,
    write_linknode_run_headers,
    setup_contam_map_outputs,
    setup_contam_channel_outputs,
    build_cell_connectivity,
    compute_overland_slopes,
    scan_precip_events,
    init_lake_and_soil_state,
    init_channel_storage,
    alloc_driver_results,
    read_volp_exchange_start,
    init_xy_output,
    compute_initial_overland_volume,
    contam_soil_layer_init,
    init_simulation_clock,
    read_analyzer_file,
    [](model_state& ms) { print_replace_usage(ms.output.summary_file); },
    {
        {"advance_time_step", advance_time_step},
        {"start_precip_event", start_precip_event},
        {"init_event", init_event},
        {"update_precip_record", update_precip_record},
        {"apply_rainfall", apply_rainfall},
        {"apply_overland_point_sources", apply_overland_point_sources},
        {"soil_et_step", soil_et_step},
        {"hydromet_et_step", hydromet_et_step},
        {"infiltration_step", infiltration_step},
        {"sacramento_step", sacramento_step},
        {"soil_contam_partition_step", soil_contam_partition_step},
        {"overland_flow_step", overland_flow_step},
        {"superlink_step", superlink_step},
        {"sed_contam_overland_step", sed_contam_overland_step},
        {"overland_contam_processes", overland_contam_processes},
        {"overland_contam_mass_update", overland_contam_mass_update},
        {"groundwater_step", groundwater_step},
        {"overland_lake_step", overland_lake_step},
        {"channel_routing_step", channel_routing_step},
        {"chan_point_input_step", chan_point_input_step},
        {"track_peaks", track_peaks},
        {"channel_sed_contam_step", channel_sed_contam_step},
        {"channel_contam_sources", channel_contam_sources},
        {"channel_lake_contam_routing", channel_lake_contam_routing},
        {"print_progress_line", print_progress_line},
        {"check_event_end", check_event_end},
        {"write_volp_exchange_end", write_volp_exchange_end},
        {"finish_event_balance", finish_event_balance},
        {"write_series_outputs", write_series_outputs},
        {"write_output_maps", write_output_maps},
    },
    // The constituents take up what the aquifer gave the surface in the last step (the
    // groundwater step runs after them) before the books are written.
    [](model_state& ms) {
      exfiltration_mass(ms);
      write_run_summary(ms);
    },
};

// How a run leaves start-up or the time loop.
enum class run_end { normal, after_error, fatal, interrupted };

// The error check after a step: a pending code is reported; true when the run must stop.
bool check_fatal() {
  if (run_error.error_code > 0) error_report(run_error);
  return run_error.error_fatal != 0;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void summary_write(model_state& ms, const char* text) {
  if (ms.output.summary_file.fp != nullptr) fputs(text, ms.output.summary_file.fp);
}

run_end start_up(model_state& ms, const run_steps& steps,
                 std::chrono::steady_clock::time_point start) {
  steps.read_run_parameters(ms, ms.project_path);
  if (check_fatal()) return run_end::fatal;
  if (ms.calibration.driver_result != nullptr) ms.calibration.optimize_on = 1;
  steps.check_project_options(ms);
  if (check_fatal()) return run_end::fatal;
  steps.open_run_files(ms);
  if (check_fatal()) return run_end::fatal;

  if (ms.output.summary_file.fp != nullptr) {
    fprintf(ms.output.summary_file.fp, "\n\n");
    fprintf(ms.output.summary_file.fp, "_________TORVA start-up information________\n");
    fprintf(ms.output.summary_file.fp, "Run parameters read from VRO project file: %s\n",
            ms.project_path);
  }
  if (replace_active) steps.print_replace_values(ms);

  const step_fn before_events[] = {steps.set_time_parameters, steps.read_maps,
                                   steps.open_map_datasets, steps.write_linknode_run_headers};
  for (step_fn fn : before_events) {
    fn(ms);
    if (check_fatal()) return run_end::fatal;
  }
  if (ms.output.all_contam_output) {
    if (ms.transport.ov_con_trans) steps.setup_contam_map_outputs(ms);
    if (ms.transport.chan_con_trans) steps.setup_contam_channel_outputs(ms);
  }
  if (check_fatal()) return run_end::fatal;

  const step_fn set_up[] = {steps.build_cell_connectivity, steps.compute_overland_slopes,
                            steps.scan_precip_events, steps.init_lake_and_soil_state,
                            steps.init_channel_storage};
  for (step_fn fn : set_up) {
    fn(ms);
    if (check_fatal()) return run_end::fatal;
  }
  steps.alloc_driver_results(ms);
  steps.read_volp_exchange_start(ms);
  if (check_fatal()) return run_end::fatal;

  // Series given relative to the start become Julian times, once per run.
  ts_shift_relative(ms.current_time);

  steps.init_xy_output(ms);
  if (check_fatal()) return run_end::fatal;
  steps.compute_initial_overland_volume(ms);
  steps.contam_soil_layer_init(ms);
  steps.init_simulation_clock(ms);
  if (check_fatal()) return run_end::fatal;

  if (ms.cards.analyzers_given) steps.read_analyzer_file(ms, ms.cards.analyzers);
  if (check_fatal()) return run_end::fatal;
  analyzers_notify(ms, analyzer_startup_done);

  const double init_seconds = seconds_since(start);
  if (replace_active) steps.print_replace_usage(ms);
  if (replace_active && !check_calibration_replacement(ms) && check_fatal()) return run_end::fatal;
  if (!ms.super_quiet) printf("total time to init(s): %8.1lf\n", init_seconds);
  if (run_error.error_code != 0) return run_end::after_error;
  if (!ms.super_quiet) printf("Running....\n");
  summary_write(ms, "Running.... \n\n");
  return run_end::normal;
}

run_end time_loop(model_state& ms, const run_steps& steps) {
  for (;;) {
    for (const loop_step& step : steps.time_loop) {
      step.fn(ms);
      if (check_fatal()) return run_end::fatal;
    }
    analyzers_notify(ms, analyzer_step_done);
    if (run_error.error_code != 0) return run_end::after_error;
    if (interrupt_signal != 0) return run_end::interrupted;
    if (ms.run_flag == 0) break;
  }
  steps.write_run_summary(ms);
  if (check_fatal()) return run_end::fatal;
  analyzers_notify(ms, analyzer_normal_end);
  return run_end::normal;
}

}  // namespace

const run_steps& default_run_steps() {
  return model_steps;
}

int run_project(const char* project_path, run_result* result) {
  return run_project(project_path, result, model_steps);
}

int run_project(const char* project_path, run_result* result, const run_steps& steps) {
  const auto start = std::chrono::steady_clock::now();
  model_state* ms = new (std::nothrow) model_state;
  run_error.error_code = 0;
  run_error.error_fatal = 0;
  run_error.error_balance = 0;
  if (ms == nullptr) {
    printf("\nError: not enough memory to hold the model state of the run.\n");
    run_error.error_fatal = 1;
    return 0;
  }
  if (result != nullptr) {
    ms->calibration.optimize_on = 1;
    ms->calibration.driver_result = result;
  }
  copy_text(ms->project_path, sizeof ms->project_path, project_path);

  // A path that does not fit the record is refused rather than read under a cut name.
  run_end end = run_end::fatal;
  if (strlen(project_path) >= sizeof ms->project_path) {
    printf("Error: the project file path is longer than %d characters: %s\n",
           static_cast<int>(sizeof ms->project_path) - 1, project_path);
    raise_own_message();
    check_fatal();
  } else {
    end = start_up(*ms, steps, start);
    if (end == run_end::normal)
      end = interrupt_signal != 0 ? run_end::interrupted : time_loop(*ms, steps);
  }
  if (end == run_end::interrupted) {
    // The step's outputs are whole; the summary and the console say where the run stopped.
    echo_message(
        "\nThe run was interrupted by signal %d at the simulated time of %.4lf minutes "
        "(%04d-%02d-%02d %02d:%02d:%02d).\n",
        static_cast<int>(interrupt_signal), ms->elapsed_minutes, ms->cur_year, ms->cur_month,
        ms->cur_day, ms->cur_hour, ms->cur_minute, ms->cur_second);
  }
  if (end == run_end::after_error || end == run_end::interrupted)
    analyzers_notify(*ms, analyzer_error_end);

  close_all_files(*ms);
  fflush(stdout);
  fflush(stderr);
  delete ms;

  const double total_seconds = seconds_since(start);
  file_handle time_file;
  if (file_handle_open(time_file, "out_time.out", "a"))
    fprintf(time_file.fp, "total time (s): %8.2lf\n", total_seconds);
  if (process_info.num_threads > 1)
    printf("%d: Run time: %6.2lf(s) \n", process_info.process_rank, total_seconds);
  else
    printf("Run time: %6.2lf(s) \n", total_seconds);
  fflush(stdout);
  file_handle_close(time_file);
  return run_error.error_code;
}

void close_all_files(model_state& ms) {
  // Messages after the run go to the console only: the summary file is about to close.
  error_echo_file = nullptr;
  file_handle_close(ms.output.summary_file);
}
