// Error reporting: every coded message, the fatal/warning decision, the echo to the run's
// summary file, and faults found inside parallel loops reported after the loop.
#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>
#include <set>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;

namespace {

struct message_params {
  const char* kind;
  const char* name;
  int value1;
  int value2;
};

void set_params(const message_params& p) {
  set_error_file(p.kind, p.name);
  error_value1 = p.value1;
  error_value2 = p.value2;
}

// Reports `code` and returns what was printed on the console.
std::string report(int code) {
  run_error.error_code = code;
  stdout_capture capture;
  error_report(run_error);
  return capture.stop();
}

const std::set<int> warning_codes = {warn_xwin_channel_depth_without_routing,
                                     warn_xwin_infiltrated_depth_without_method,
                                     warn_xwin_surface_moisture_without_method,
                                     warn_gw_porosity_missing,
                                     warn_gw_hycond_missing,
                                     warn_hydrograph_interval_defaulted,
                                     warn_r7_segment_map_empty,
                                     warn_r7_flux_without_segments};

// Every test reports into the process-wide error state, which is kept and given back.
class ErrorReport : public ::testing::Test {
 protected:
  torva_test::process_state_guard process_state_;
};
using LoopFault = ErrorReport;

}  // namespace

TEST_F(ErrorReport, EveryCodeHasItsMessageAndFatalDecision) {
  set_params({"kind", "name", 1, 2});
  for (int code = 1; code <= error_code_last; ++code) {
    SCOPED_TRACE(code);
    run_error.error_fatal = warning_codes.count(code) ? 1 : 0;  // the opposite of what must come
    const std::string printed = report(code);
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed[0], '\n');
    if (code == 129) {  // the one code of the table without a message, and so without a name
      EXPECT_EQ(printed, "\n");
    } else {
      EXPECT_GT(printed.size(), 10u);
    }
    EXPECT_EQ(run_error.error_fatal, warning_codes.count(code) ? 0 : 1);
    EXPECT_EQ(run_error.error_code, 0);
    EXPECT_EQ(error_is_warning(code), warning_codes.count(code) == 1);
  }
}

TEST_F(ErrorReport, KindOfMessageDoesNotFollowItsFirstWord) {
  // A warning although its text does not begin "Warning: ", and two errors although theirs do
  // not begin "Error: ".
  EXPECT_EQ(
      report(warn_xwin_surface_moisture_without_method).rfind("\nX-Windows Graphics Warning:\n", 0),
      0u);
  EXPECT_EQ(run_error.error_fatal, 0);
  for (int code : {err_gw_porosity_map_and_uniform, err_gw_hycond_map_and_uniform}) {
    const std::string printed = report(code);
    EXPECT_EQ(printed.rfind("\nYou have specified both spatially-varied and uniform", 0), 0u);
    EXPECT_EQ(run_error.error_fatal, 1);
  }
}

TEST_F(ErrorReport, MessagesWithParameters) {
  struct row {
    int code;
    message_params params;
    const char* expected;
  };
  const row rows[] = {
      {err_file_not_open,
       {"output summary", "sum.out", 0, 0},
       "\nError: Unable to open output summary file.\n  (File: sum.out)\n"},
      {err_xwin_ordinates_too_many,
       {"", "", 120, 100},
       "\nError: The number of X-windows plot ordinates 120 is greater than the dimension of the "
       "array 100\n"},
      {err_time_step_not_divisor_of_a_minute,
       {"", "", 7, 0},
       "\nError: The time step (7) must be evenly divisible into 60 seconds.\n"},
      {warn_hydrograph_interval_defaulted,
       {"", "", 0, 0},
       "\nWarning: Write hydrograph time step not specified, defaulting to 1 hour.\n"},
      // A file name with a percent sign is printed as it is, never used as a format.
      {err_output_file_not_open,
       {"", "q%s%d%n.out", 0, 0},
       "\nError: Can't open output file: q%s%d%n.out\n"},
      {err_index_id_beyond_table,
       {"", "soil.asc", 3, 9},
       "\nIndex ID exceeds table limit, file: soil.asc [row 3:col 9]\n"},
      // Messages that end without a newline keep that.
      {err_zenf_grid_group_not_open,
       {"depth", "maps", 0, 0},
       "\nError: Unable to open output data set group maps for writing in the grid depth of the "
       "ZENF "
       "file."},
      {err_aquatic_env_header_invalid,
       {"AQUATIC_ENV_NSM10", "aq.env", 0, 0},
       "\nError: The header for the aquatic environment file is invalid or does not match \n the "
       "current version. \n The aquatic environment file specified is: aq.env\n The header should "
       "be : AQUATIC_ENV_NSM10"},
      {err_stream_head_series_not_found,
       {"HEAD_TS", "", 0, 0},
       "\nError: Stream head boundary time series (HEAD_TS) can not be found. Check project "
       "file.\n"},
      {err_observed_data_format,
       {"", "", 0, 0},
       "\nError: observed data file improperly formatted.\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.code);
    set_params(r.params);
    EXPECT_EQ(report(r.code), r.expected);
  }
}

TEST_F(ErrorReport, LongFileKindIsCutSafely) {
  const std::string kind(500, 'k');
  set_error_file(kind.c_str(), "x");
  EXPECT_EQ(strlen(error_file_kind), sizeof error_file_kind - 1);
  const std::string name(5000, 'n');
  set_error_file("k", name.c_str());
  EXPECT_EQ(strlen(error_file_name), sizeof error_file_name - 1);
}

TEST_F(ErrorReport, OwnMessageCodeAndZeroAndNegative) {
  run_error.error_fatal = 0;
  EXPECT_EQ(report(error_code_own_message), "\n");
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(run_error.error_code, 0);

  // A code of 0 or less prints nothing and leaves the fatal flag as it was.
  for (int fatal : {0, 1}) {
    for (int code : {0, -5}) {
      run_error.error_fatal = fatal;
      EXPECT_EQ(report(code), "");
      EXPECT_EQ(run_error.error_fatal, fatal);
      EXPECT_EQ(run_error.error_code, 0);
    }
  }
  // A code above the table prints the newline only and stops the run.
  run_error.error_fatal = 0;
  EXPECT_EQ(report(999), "\n");
  EXPECT_EQ(run_error.error_fatal, 1);
}

TEST_F(ErrorReport, EchoesToTheSummaryFileOnlyWhileItIsOpen) {
  temp_dir dir;
  file_handle summary;
  ASSERT_TRUE(file_handle_open(summary, "summary.out", "w"));
  error_echo_file = &summary;
  set_params({"", "", 0, 0});
  EXPECT_EQ(report(err_project_file_not_found),
            "\nError: The specified project file was not found.\n");
  file_handle_close(summary);  // closed: the next message goes to the console only
  EXPECT_EQ(report(err_time_step_zero), "\nError: Time step is 0 seconds.\n");
  error_echo_file = nullptr;
  EXPECT_EQ(report(err_albedo_missing).substr(0, 16), "\nError: Albedo v");
  EXPECT_EQ(read_file(dir.file("summary.out")),
            "\nError: The specified project file was not found.\n");
}

TEST_F(LoopFault, LowestIndexWinsWhateverTheThreadCount) {
  for (int threads : {1, 2, 4, 7}) {
    SCOPED_TRACE(threads);
    loop_fault fault;
#pragma omp parallel for schedule(static) num_threads(threads)
    for (long cell = 1; cell <= 100000; ++cell) {
      if (cell % 9973 == 0) fault.record(cell, err_tile_exchange_nan, static_cast<int>(cell), 7);
    }
    ASSERT_TRUE(fault.found());
    EXPECT_EQ(fault.index(), 9973);
    run_error = error_state{};
    EXPECT_TRUE(fault.raise());
    EXPECT_EQ(run_error.error_code, err_tile_exchange_nan);
    EXPECT_EQ(error_value1, 9973);
    EXPECT_EQ(error_value2, 7);
  }
  // A fault with a message of its own prints it on the main thread when raised.
  loop_fault own;
#pragma omp parallel for schedule(static) num_threads(4)
  for (long i = 1; i <= 1000; ++i) {
    if (i == 500 || i == 700)
      own.record(i, error_code_own_message, 0, 0, i == 500 ? "first\n" : "second\n");
  }
  stdout_capture capture;
  EXPECT_TRUE(own.raise());
  EXPECT_EQ(capture.stop(), "first\n");
  EXPECT_EQ(run_error.error_code, error_code_own_message);

  loop_fault none;
  run_error = error_state{};
  EXPECT_FALSE(none.raise());
  EXPECT_EQ(run_error.error_code, 0);
}

// ---- Names of the codes and the helpers that raise them ----

namespace {

// The helpers set the process-wide error state, which is kept and given back.
class ErrorRaising : public ::testing::Test {
 protected:
  torva_test::process_state_guard process_state_;
};

}  // namespace

#define NAMED_CODE(name, number) \
  { name, number, #name }

TEST_F(ErrorRaising, EveryMessageHasOneNameAndEveryNameItsMessageAndNumber) {
  struct named_code {
    int code;    // the name's value
    int number;  // the number users and stored projects know
    const char* name;
  };
  // The numbers are written out: a name that moved would break the projects that use it.
  const named_code named_codes[] = {
      NAMED_CODE(err_debug_file_not_open, 1),
      NAMED_CODE(err_project_file_not_given, 2),
      NAMED_CODE(err_project_file_not_found, 3),
      NAMED_CODE(err_file_not_open, 4),
      NAMED_CODE(err_zenf_not_compiled, 5),
      NAMED_CODE(err_roughness_map_and_uniform, 6),
      NAMED_CODE(err_et_penman_and_deardorff, 7),
      NAMED_CODE(err_hmet_formats_several, 8),
      NAMED_CODE(err_et_method_missing, 9),
      NAMED_CODE(err_rain_file_and_uniform, 10),
      NAMED_CODE(err_precipitation_missing, 11),
      NAMED_CODE(err_xwin_ordinates_too_many, 12),
      NAMED_CODE(err_xwin_nothing_to_plot, 13),
      NAMED_CODE(warn_xwin_channel_depth_without_routing, 14),
      NAMED_CODE(err_xwin_frequency_missing, 15),
      NAMED_CODE(warn_xwin_infiltrated_depth_without_method, 16),
      NAMED_CODE(warn_xwin_surface_moisture_without_method, 17),
      NAMED_CODE(err_xwin_infdep_and_xsurf, 18),
      NAMED_CODE(err_xwin_too_small, 19),
      NAMED_CODE(err_long_term_needs_redistribution, 20),
      NAMED_CODE(err_albedo_missing, 21),
      NAMED_CODE(err_vegetation_height_missing, 22),
      NAMED_CODE(err_transmission_coeff_missing, 23),
      NAMED_CODE(err_stomatal_resistance_missing, 24),
      NAMED_CODE(err_wilting_point_missing, 25),
      NAMED_CODE(err_green_ampt_and_layered_soil, 26),
      NAMED_CODE(err_redistribution_and_layered_soil, 27),
      NAMED_CODE(err_green_ampt_and_richards, 28),
      NAMED_CODE(err_green_ampt_and_richards_again, 29),
      NAMED_CODE(err_redistribution_and_richards, 30),
      NAMED_CODE(err_layered_soil_and_richards, 31),
      NAMED_CODE(err_aquifer_delta_z_missing, 32),
      NAMED_CODE(err_green_ampt_and_redistribution, 33),
      NAMED_CODE(err_channel_drain_and_backwater, 34),
      NAMED_CODE(err_channel_implicit_unsupported, 35),
      NAMED_CODE(err_channel_implicit_and_explicit, 36),
      NAMED_CODE(err_channel_explicit_and_mesh, 37),
      NAMED_CODE(err_gw_porosity_map_and_uniform, 38),
      NAMED_CODE(warn_gw_porosity_missing, 39),
      NAMED_CODE(err_gw_hycond_map_and_uniform, 40),
      NAMED_CODE(warn_gw_hycond_missing, 41),
      NAMED_CODE(err_groundwater_and_sacramento, 42),
      NAMED_CODE(err_tev_model_missing, 43),
      NAMED_CODE(err_tev_event_num_missing, 44),
      NAMED_CODE(err_tev_groundwater_unsupported, 45),
      NAMED_CODE(err_volp_without_tev, 46),
      NAMED_CODE(err_zenf_source_not_open, 47),
      NAMED_CODE(err_theta_location_output_not_open, 48),
      NAMED_CODE(err_concentration_location_output_not_open, 49),
      NAMED_CODE(err_depth_location_output_not_open, 50),
      NAMED_CODE(err_hydrograph_location_output_not_open, 51),
      NAMED_CODE(err_time_step_zero, 52),
      NAMED_CODE(err_time_step_over_a_minute, 53),
      NAMED_CODE(err_time_step_not_divisor_of_a_minute, 54),
      NAMED_CODE(warn_hydrograph_interval_defaulted, 55),
      NAMED_CODE(err_outlet_slope_missing, 56),
      NAMED_CODE(err_basin_centroid_missing, 57),
      NAMED_CODE(err_gmt_offset_missing, 58),
      NAMED_CODE(err_output_file_not_open, 59),
      NAMED_CODE(err_zenf_output_not_open, 60),
      NAMED_CODE(err_zenf_grid_group_not_open, 61),
      NAMED_CODE(err_zenf_map_not_created, 62),
      NAMED_CODE(err_zenf_stream_group_not_open, 63),
      NAMED_CODE(err_mapping_table_not_open, 64),
      NAMED_CODE(err_index_map_not_open, 65),
      NAMED_CODE(err_mapping_table_empty, 66),
      NAMED_CODE(err_wetland_id_count_mismatch, 67),
      NAMED_CODE(err_wetland_ids_too_many, 68),
      NAMED_CODE(err_contaminant_tables_unreadable, 69),
      NAMED_CODE(err_unexpected_end_of_file, 70),
      NAMED_CODE(err_index_id_beyond_table, 71),
      NAMED_CODE(err_map_rows_and_cols_wrong, 72),
      NAMED_CODE(err_map_rows_wrong, 73),
      NAMED_CODE(err_map_cols_wrong, 74),
      NAMED_CODE(err_nutrient_outputs_not_open, 75),
      NAMED_CODE(err_aquatic_env_not_open, 76),
      NAMED_CODE(err_aquatic_env_header_invalid, 77),
      NAMED_CODE(err_aquatic_env_index_beyond_ids, 78),
      NAMED_CODE(err_nutrients_card_late, 79),
      NAMED_CODE(err_nutrient_file_not_open, 80),
      NAMED_CODE(err_overland_aquatic_map_not_open, 81),
      NAMED_CODE(err_nutrient_summary_not_open, 82),
      NAMED_CODE(err_overland_pump_file_not_open, 83),
      NAMED_CODE(err_overland_boundary_table_missing, 84),
      NAMED_CODE(err_rating_curve_series_not_named, 85),
      NAMED_CODE(err_rating_curve_series_not_found, 86),
      NAMED_CODE(err_scheduled_release_series_not_named, 87),
      NAMED_CODE(err_scheduled_release_series_not_found, 88),
      NAMED_CODE(err_rule_curve_series_not_named, 89),
      NAMED_CODE(err_rule_curve_series_not_found, 90),
      NAMED_CODE(err_sediment_count_mismatch, 91),
      NAMED_CODE(err_sediment_table_missing, 92),
      NAMED_CODE(err_erosion_table_unreadable, 93),
      NAMED_CODE(err_roughness_zero, 94),
      NAMED_CODE(warn_r7_segment_map_empty, 95),
      NAMED_CODE(warn_r7_flux_without_segments, 96),
      NAMED_CODE(err_r7_flux_segment_invalid, 97),
      NAMED_CODE(err_r7_flux_output_not_open, 98),
      NAMED_CODE(err_superjunctions_too_many, 99),
      NAMED_CODE(err_superlink_nodes_too_many, 100),
      NAMED_CODE(err_superlinks_too_many, 101),
      NAMED_CODE(err_radar_mapping_failed, 102),
      NAMED_CODE(err_calib_comp_data_invalid, 103),
      NAMED_CODE(err_calib_obj_func_invalid, 104),
      NAMED_CODE(err_calib_settings_invalid, 105),
      NAMED_CODE(err_observed_data_not_open, 106),
      NAMED_CODE(err_observed_data_header_invalid, 107),
      NAMED_CODE(err_observed_data_locations_line_invalid, 108),
      NAMED_CODE(err_observed_data_points_line_invalid, 109),
      NAMED_CODE(err_observed_data_locations_mismatch, 110),
      NAMED_CODE(err_observed_data_line_invalid, 111),
      NAMED_CODE(err_observed_data_values_too_many, 112),
      NAMED_CODE(err_observed_data_location_invalid, 113),
      NAMED_CODE(err_observed_data_ends_early, 114),
      NAMED_CODE(err_stream_map_not_open, 115),
      NAMED_CODE(err_stream_map_header_wrong, 116),
      NAMED_CODE(err_stream_map_size_mismatch, 117),
      NAMED_CODE(err_stream_map_data_short, 118),
      NAMED_CODE(err_nutrient_grid_table_missing, 119),
      NAMED_CODE(err_nutrient_stream_table_missing, 120),
      NAMED_CODE(err_stream_aquatic_map_not_open, 121),
      NAMED_CODE(err_culvert_critical_depth_no_convergence, 122),
      NAMED_CODE(err_arch_culvert_unsupported, 123),
      NAMED_CODE(err_root_not_bracketed, 124),
      NAMED_CODE(err_contaminant_count_not_positive, 125),
      NAMED_CODE(err_groundwater_table_not_set_up, 126),
      NAMED_CODE(err_stream_head_series_not_found, 127),
      NAMED_CODE(err_nsm_bulk_density_table_missing, 128),
      NAMED_CODE(err_nutrient_summary_file_not_open, 130),
      NAMED_CODE(err_pipe_invert_below_aquifer, 131),
      NAMED_CODE(err_richards_soil_type_map_missing, 132),
      NAMED_CODE(err_tile_exchange_nan, 133),
      NAMED_CODE(err_superlink_update_failed, 134),
      NAMED_CODE(err_observed_data_format, 135),
  };
  std::set<int> named;
  std::set<std::string> spelled;
  char text[4096];
  for (const named_code& c : named_codes) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.code, c.number);
    EXPECT_TRUE(named.insert(c.number).second) << "two names for one number";
    EXPECT_TRUE(spelled.insert(c.name).second);
    EXPECT_STRNE(error_message_text(c.number, text, sizeof text), "") << "a name without a message";
    // Warnings, and only they, are named warn_.
    EXPECT_EQ(std::string(c.name).rfind("warn_", 0) == 0, error_is_warning(c.number));
    EXPECT_EQ(std::string(c.name).rfind(error_is_warning(c.number) ? "warn_" : "err_", 0), 0u);
  }
  set_params({"kind", "name", 1, 2});
  for (int number = 0; number <= error_code_last + 1; ++number) {
    SCOPED_TRACE(number);
    const bool has_message = error_message_text(number, text, sizeof text)[0] != '\0';
    EXPECT_EQ(has_message, named.count(number) == 1) << "a message without a name";
  }
  EXPECT_EQ(named.size(), 134u);  // 1 to 135 but the code without a message
  EXPECT_EQ(*named.rbegin(), error_code_last);
  EXPECT_EQ(error_code_own_message, 4000);
}

#undef NAMED_CODE

// The helpers every reader and step raises its faults through.

TEST_F(ErrorRaising, HelpersLeaveOrReportTheCodeWithItsFileAndPrintOnlyWhenReporting) {
  const std::string long_name(3000, 'n');
  struct helper_case {
    const char* what;
    void (*raise)(const std::string& long_name);
    int code_after;       // the code left for the driver, or 0 after a report
    int fatal_after;      // the fatal flag, starting from 0
    const char* kind;     // error_file_kind afterwards ("old kind" when the helper sets none)
    const char* name;     // error_file_name afterwards
    std::string printed;  // on the console and, while it is open, in the summary file
  };
  const helper_case cases[] = {
      {"raise_error leaves a fatal code with the fatal flag",
       [](const std::string&) { raise_error(err_time_step_zero); }, err_time_step_zero, 1,
       "old kind", "old name", ""},
      {"raise_error leaves a warning without it",
       [](const std::string&) { raise_error(warn_hydrograph_interval_defaulted); },
       warn_hydrograph_interval_defaulted, 0, "old kind", "old name", ""},
      {"raise_file_error names the file for the driver's report",
       [](const std::string&) { raise_file_error(err_file_not_open, "elevation data", "e.asc"); },
       err_file_not_open, 1, "elevation data", "e.asc", ""},
      {"raise_file_error without a kind clears it",
       [](const std::string&) { raise_file_error(err_nutrients_card_late, "AQ_ENV", nullptr); },
       err_nutrients_card_late, 1, "AQ_ENV", "", ""},
      {"raise_own_message leaves code 4000 and the flag to the driver",
       [](const std::string&) { raise_own_message(); }, error_code_own_message, 0, "old kind",
       "old name", ""},
      {"report_error_now prints the message and clears the code",
       [](const std::string&) { report_error_now(err_time_step_zero); }, 0, 1, "old kind",
       "old name", "\nError: Time step is 0 seconds.\n"},
      {"report_error_now of a warning lets the run go on",
       [](const std::string&) { report_error_now(warn_gw_porosity_missing); }, 0, 0, "old kind",
       "old name",
       "\nWarning: You have specified neither spatially-varied, uniform, or mapping table "
       "porosity for\ngroundwater soil without using both the gw_unif_porosity and\n"
       "gw_porosity_map project file cards. Groundwater porosities will be the.\nsame as those "
       "in the last layer of your soil input table.\n"},
      {"report_file_error_now names the file in the message",
       [](const std::string&) { report_file_error_now(err_index_map_not_open, nullptr, "s.idx"); },
       0, 1, "", "s.idx", "\nUnable to open index file s.idx\n"},
      {"report_file_error_now with the message values",
       [](const std::string&) {
         set_error_values(3, 9);
         report_file_error_now(err_index_id_beyond_table, nullptr, "soil.asc");
       },
       0, 1, "", "soil.asc", "\nIndex ID exceeds table limit, file: soil.asc [row 3:col 9]\n"},
      {"report_file_error_now of a table by its keyword",
       [](const std::string&) {
         report_file_error_now(err_mapping_table_empty, "ROUGHNESS", nullptr);
       },
       0, 1, "ROUGHNESS", "",
       "\nProblem reading mapping table file -- no entries found in table ROUGHNESS (NUM_IDS is "
       "0)\n"},
      {"stop_now closes an own message with the report's newline",
       [](const std::string&) { stop_now(); }, 0, 1, "old kind", "old name", "\n"},
      {"stop_with_message prints its text as a format, then the newline",
       [](const std::string&) { stop_with_message("Error: cell %d of %s\n", 7, "100%.asc"); }, 0, 1,
       "old kind", "old name", "Error: cell 7 of 100%.asc\n\n"},
      {"stop_with_message prints a long message whole",
       [](const std::string& name) { stop_with_message("Error: map %s\n", name.c_str()); }, 0, 1,
       "old kind", "old name", "Error: map " + long_name + "\n\n"},
  };
  for (const helper_case& c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir dir;
    file_handle summary;
    ASSERT_TRUE(file_handle_open(summary, "summary.out", "w"));
    error_echo_file = &summary;
    run_error = error_state{};
    set_params({"old kind", "old name", 0, 0});
    stdout_capture capture;
    c.raise(long_name);
    EXPECT_EQ(capture.stop(), c.printed);
    file_handle_close(summary);
    error_echo_file = nullptr;
    EXPECT_EQ(read_file(dir.file("summary.out")), c.printed);
    EXPECT_EQ(run_error.error_code, c.code_after);
    EXPECT_EQ(run_error.error_fatal, c.fatal_after);
    EXPECT_STREQ(error_file_kind, c.kind);
    EXPECT_STREQ(error_file_name, c.name);
  }
}
