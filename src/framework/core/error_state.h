// Error state of a run: the process-wide `run_error` that every step sets when it meets a
// coded condition, and `error_report`, which the run driver calls after each step to print the
// code's message to the console and the run's summary file and decide whether the run stops.
#pragma once

#include <atomic>

struct file_handle;

// Code of a condition whose message the step has already printed itself.
inline constexpr int error_code_own_message = 4000;

// The coded conditions, one name per message of the message table, named after what the message
// says; warnings (the run goes on after them) begin with warn_. The numbers are those the run's
// users and stored projects know and never change.
enum error_code_name : int {
  err_debug_file_not_open = 1,
  err_project_file_not_given = 2,
  err_project_file_not_found = 3,
  err_file_not_open = 4,  // "Unable to open <kind> file", naming the file
  err_zenf_not_compiled = 5,
  // Options that conflict or are missing.
  err_roughness_map_and_uniform = 6,
  err_et_penman_and_deardorff = 7,
  err_hmet_formats_several = 8,
  err_et_method_missing = 9,
  err_rain_file_and_uniform = 10,
  err_precipitation_missing = 11,
  err_xwin_ordinates_too_many = 12,
  err_xwin_nothing_to_plot = 13,
  warn_xwin_channel_depth_without_routing = 14,
  err_xwin_frequency_missing = 15,
  warn_xwin_infiltrated_depth_without_method = 16,
  warn_xwin_surface_moisture_without_method = 17,
  err_xwin_infdep_and_xsurf = 18,
  err_xwin_too_small = 19,
  err_long_term_needs_redistribution = 20,
  err_albedo_missing = 21,
  err_vegetation_height_missing = 22,
  err_transmission_coeff_missing = 23,
  err_stomatal_resistance_missing = 24,
  err_wilting_point_missing = 25,
  err_green_ampt_and_layered_soil = 26,
  err_redistribution_and_layered_soil = 27,
  err_green_ampt_and_richards = 28,
  err_green_ampt_and_richards_again = 29,  // the same message as err_green_ampt_and_richards
  err_redistribution_and_richards = 30,
  err_layered_soil_and_richards = 31,
  err_aquifer_delta_z_missing = 32,
  err_green_ampt_and_redistribution = 33,
  err_channel_drain_and_backwater = 34,
  err_channel_implicit_unsupported = 35,
  err_channel_implicit_and_explicit = 36,
  err_channel_explicit_and_mesh = 37,
  err_gw_porosity_map_and_uniform = 38,
  warn_gw_porosity_missing = 39,
  err_gw_hycond_map_and_uniform = 40,
  warn_gw_hycond_missing = 41,
  err_groundwater_and_sacramento = 42,
  err_tev_model_missing = 43,
  err_tev_event_num_missing = 44,
  err_tev_groundwater_unsupported = 45,
  err_volp_without_tev = 46,
  // Files and outputs that cannot be opened.
  err_zenf_source_not_open = 47,
  err_theta_location_output_not_open = 48,
  err_concentration_location_output_not_open = 49,
  err_depth_location_output_not_open = 50,
  err_hydrograph_location_output_not_open = 51,
  // Time parameters.
  err_time_step_zero = 52,
  err_time_step_over_a_minute = 53,
  err_time_step_not_divisor_of_a_minute = 54,
  warn_hydrograph_interval_defaulted = 55,
  err_outlet_slope_missing = 56,
  err_basin_centroid_missing = 57,
  err_gmt_offset_missing = 58,
  err_output_file_not_open = 59,
  err_zenf_output_not_open = 60,
  err_zenf_grid_group_not_open = 61,
  err_zenf_map_not_created = 62,
  err_zenf_stream_group_not_open = 63,
  // Mapping tables and index maps.
  err_mapping_table_not_open = 64,
  err_index_map_not_open = 65,
  err_mapping_table_empty = 66,
  err_wetland_id_count_mismatch = 67,
  err_wetland_ids_too_many = 68,
  err_contaminant_tables_unreadable = 69,
  err_unexpected_end_of_file = 70,
  err_index_id_beyond_table = 71,
  err_map_rows_and_cols_wrong = 72,
  err_map_rows_wrong = 73,
  err_map_cols_wrong = 74,
  // Nutrients.
  err_nutrient_outputs_not_open = 75,
  err_aquatic_env_not_open = 76,
  err_aquatic_env_header_invalid = 77,
  err_aquatic_env_index_beyond_ids = 78,
  err_nutrients_card_late = 79,
  err_nutrient_file_not_open = 80,
  err_overland_aquatic_map_not_open = 81,
  err_nutrient_summary_not_open = 82,
  err_overland_pump_file_not_open = 83,
  err_overland_boundary_table_missing = 84,
  // Channel structures and their series.
  err_rating_curve_series_not_named = 85,
  err_rating_curve_series_not_found = 86,
  err_scheduled_release_series_not_named = 87,
  err_scheduled_release_series_not_found = 88,
  err_rule_curve_series_not_named = 89,
  err_rule_curve_series_not_found = 90,
  // Sediments, roughness, R7.
  err_sediment_count_mismatch = 91,
  err_sediment_table_missing = 92,
  err_erosion_table_unreadable = 93,
  err_roughness_zero = 94,
  warn_r7_segment_map_empty = 95,
  warn_r7_flux_without_segments = 96,
  err_r7_flux_segment_invalid = 97,
  err_r7_flux_output_not_open = 98,
  // Superlink network limits, radar.
  err_superjunctions_too_many = 99,
  err_superlink_nodes_too_many = 100,
  err_superlinks_too_many = 101,
  err_radar_mapping_failed = 102,
  // Calibration and its observed data file.
  err_calib_comp_data_invalid = 103,
  err_calib_obj_func_invalid = 104,
  err_calib_settings_invalid = 105,
  err_observed_data_not_open = 106,
  err_observed_data_header_invalid = 107,
  err_observed_data_locations_line_invalid = 108,
  err_observed_data_points_line_invalid = 109,
  err_observed_data_locations_mismatch = 110,
  err_observed_data_line_invalid = 111,
  err_observed_data_values_too_many = 112,
  err_observed_data_location_invalid = 113,
  err_observed_data_ends_early = 114,
  // Stream mapping tables.
  err_stream_map_not_open = 115,
  err_stream_map_header_wrong = 116,
  err_stream_map_size_mismatch = 117,
  err_stream_map_data_short = 118,
  err_nutrient_grid_table_missing = 119,
  err_nutrient_stream_table_missing = 120,
  err_stream_aquatic_map_not_open = 121,
  // Solvers and the rest. Code 129 has no message and so no name.
  err_culvert_critical_depth_no_convergence = 122,
  err_arch_culvert_unsupported = 123,
  err_root_not_bracketed = 124,
  err_contaminant_count_not_positive = 125,
  err_groundwater_table_not_set_up = 126,
  err_stream_head_series_not_found = 127,
  err_nsm_bulk_density_table_missing = 128,
  err_nutrient_summary_file_not_open = 130,  // the message of err_nutrient_summary_not_open
  err_pipe_invert_below_aquifer = 131,
  err_richards_soil_type_map_missing = 132,
  err_tile_exchange_nan = 133,
  err_superlink_update_failed = 134,
  err_observed_data_format = 135,
};

// The highest code of the message table.
inline constexpr int error_code_last = err_observed_data_format;

struct error_state {
  int error_code = 0;   // 0 none, a code of error_code_name, or error_code_own_message
  int error_fatal = 0;  // nonzero: the run must stop
  // Nonzero: the run ended normally, but its books do not close: its overall water balance
  // error is beyond the limit (or not a number). Set by the end-of-run balances.
  int error_balance = 0;
};

// The one error state of the process; cleared by run_project at the start of every run.
extern error_state run_error;

// Message parameters, set by the reporting step before it sets the code; read only by the
// messages that name them.
extern int error_value1;
extern int error_value2;
extern char error_file_kind[60];    // what the file is, e.g. "output summary"
extern char error_file_name[1024];  // the file's name

// Summary file of the current run, or null: every message is echoed to it while it is open.
// Set by the opening of the run files, cleared when the run's files are closed.
extern file_handle* error_echo_file;

// Copies `kind` and `name` into error_file_kind and error_file_name, cut safely to their size.
void set_error_file(const char* kind, const char* name);

// Sets error_value1 and error_value2 for the messages that name them.
void set_error_values(int value1, int value2);

// Who reports a fault. The run driver reports a pending code after every start-up step and every
// step of the time loop; a function reports a fault itself, at once, where the driver's report
// would come too late or in the wrong place. Every reader and step raises its faults through the
// helpers below, by this rule:
//
// Reported at once (report_error_now, report_file_error_now, stop_now, stop_with_message):
//  - a warning, wherever it is met: the step goes on after it, and a later code would replace a
//    warning left pending;
//  - a coded condition a reader meets in the file it reads (it cannot open the file, or its
//    header, counts, ids or length are wrong): the message follows the reader's own lines;
//  - a message of the function's own, inside read_maps and the time loop, and in a reader whose
//    step goes on after it: error_report's newline closes the message before anything else is
//    printed.
//  error_report sets the fatal flag, and every caller on the way up tests run_error.error_fatal
//  and returns without reading or printing more.
//
// Left for the driver (raise_error, raise_file_error, raise_own_message):
//  - a coded condition found by a step's check of the run's set-up: a card's value, options
//    that conflict, a run file that could not be opened or is not open, an input the options
//    need that the project does not give, a limit of the model. raise_error sets the fatal flag
//    with the code, so that callers that test it (read_maps and its readers) stop as well;
//  - a message of the function's own in the other start-up steps, which return to the driver as
//    soon as they meet it (the option checks, the clock, the event scan with the readers it
//    calls, the start-up state): the driver's check follows at once;
//  - whatever the project-file reader meets in a card, or in a file a card has it read: the
//    card loop stops at the new code, and read_run_parameters finishes copying the records read
//    so far before the driver reports it, after them.

// Leaves `code` for the driver: sets it and, unless it is a warning, the fatal flag.
void raise_error(int code);

// raise_error with the file kind and name that the code's message names (set_error_file).
void raise_file_error(int code, const char* kind, const char* name);

// Leaves code 4000 for the driver after the function's own message; the fatal flag is left to
// the driver's report.
void raise_own_message();

// Sets `code` and reports it at once (error_report).
void report_error_now(int code);

// report_error_now with the file kind and name that the code's message names (set_error_file).
void report_file_error_now(int code, const char* kind, const char* name);

// Reports code 4000 at once, after the function's own message.
void stop_now();

// Prints a message of the function's own where error_report prints (standard output, then the
// run's summary file while it is open) and reports code 4000 at once.
void stop_with_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints a line of the caller's own where error_report prints (standard output, then the run's
// summary file while it is open), without reporting anything.
void echo_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints the message of the code in `state` (console, then echo file), sets or clears the fatal
// flag and resets the code to 0. A code of 0 or less only sets the code to 0.
void error_report(error_state& state);

// Writes `text` as plain text to standard output and then, when `echo` is given and open, to it.
void error_print(file_handle* echo, const char* text);

// The message text of a code (1..error_code_last, 129 excepted) with its parameters filled in from
// the process-wide message parameters, or an empty string for a code without a message. Used by
// error_report; exposed so that the message table can be checked code by code.
const char* error_message_text(int code, char* buffer, unsigned long size);

// True for the codes whose message is a warning: the run goes on after it.
bool error_is_warning(int code);

// A fault found inside a parallel loop. Worker threads never touch run_error or print: they
// record the fault here (the lowest loop index wins, so the result does not depend on the thread
// count) and the step reports it on the main thread after the loop with raise().
class loop_fault {
 public:
  // Records a fault at loop index `index` with `code` and two message values, and optionally
  // the text of the step's own message (printed by raise(); cut to 511 characters). Thread safe;
  // allocates nothing and prints nothing.
  void record(long index, int code, int value1 = 0, int value2 = 0, const char* message = nullptr);
  bool found() const { return index_.load(std::memory_order_relaxed) != no_fault; }
  long index() const { return index_.load(std::memory_order_relaxed); }
  int code() const { return code_; }
  int value1() const { return value1_; }
  int value2() const { return value2_; }
  const char* message() const { return message_; }
  // Main thread, after the loop: when a fault was recorded, prints its own message (when one
  // was recorded), sets run_error.error_code and the message values, and returns true.
  bool raise();

 private:
  static constexpr long no_fault = -1;
  std::atomic<long> index_{no_fault};
  int code_ = 0;
  int value1_ = 0;
  int value2_ = 0;
  char message_[512] = {};
};
