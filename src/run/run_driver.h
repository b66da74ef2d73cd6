// Run driver: runs one project from start to end. It builds the run's model_state, calls the
// start-up steps and then the thirty steps of the time loop in their fixed order, checks the
// error state after each, and leaves the run at a normal end, after an error, or on a fatal
// error; then it closes the run files, destroys the model state and records the run's time.
#pragma once

struct model_state;
struct run_result;

using step_fn = void (*)(model_state&);

// One step of the time loop.
struct loop_step {
  const char* name;  // the step's own name
  step_fn fn;
};

inline constexpr int time_loop_step_count = 30;

// The steps that run_project calls, in the order it calls them. The default table holds the
// model's own steps; tests put recording steps in their place.
struct run_steps {
  void (*read_run_parameters)(model_state& ms, const char* project_path);
  step_fn check_project_options;
  step_fn open_run_files;
  void (*print_replace_values)(model_state& ms);
  step_fn set_time_parameters;
  step_fn read_maps;
  step_fn open_map_datasets;
  step_fn write_linknode_run_headers;
  step_fn setup_contam_map_outputs;
  step_fn setup_contam_channel_outputs;
  step_fn build_cell_connectivity;
  step_fn compute_overland_slopes;
  step_fn scan_precip_events;
  step_fn init_lake_and_soil_state;
  step_fn init_channel_storage;
  step_fn alloc_driver_results;
  step_fn read_volp_exchange_start;
  step_fn init_xy_output;
  step_fn compute_initial_overland_volume;
  step_fn contam_soil_layer_init;
  step_fn init_simulation_clock;
  void (*read_analyzer_file)(model_state& ms, const char* file_name);
  void (*print_replace_usage)(model_state& ms);
  loop_step time_loop[time_loop_step_count];
  step_fn write_run_summary;
};

// The model's own steps.
const run_steps& default_run_steps();

// Runs one project. Returns the error code still pending after clean-up: 0 after a normal end
// and after every reported error. Whether the run ended on a fatal error is left in
// run_error.error_fatal until the next run starts.
int run_project(const char* project_path, run_result* result);
int run_project(const char* project_path, run_result* result, const run_steps& steps);

// Closes the run files of the model state and stops the echo of messages to its summary file.
void close_all_files(model_state& ms);
