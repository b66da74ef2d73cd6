// Error state and error reporting: the process-wide run_error that the steps set, the message
// of every coded condition, and error_report, which prints the message to the console and the
// run's summary file, decides whether the run stops and clears the code.
#include "framework/core/error_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"

error_state run_error;
int error_value1 = 0;
int error_value2 = 0;
char error_file_kind[60] = {};
char error_file_name[1024] = {};
file_handle* error_echo_file = nullptr;

namespace {

// Markers for the message parameters inside a message's pieces.
const char p_kind[] = "<error_file_kind>";
const char p_name[] = "<error_file_name>";
const char p_value1[] = "<error_value1>";
const char p_value2[] = "<error_value2>";

constexpr int max_pieces = 8;

struct message_row {
  int code;
  bool warning;
  const char* pieces[max_pieces];  // literal texts and parameter markers, null-terminated
};

// Every coded condition with its message, in code order from 1 to error_code_last. Code 129
// has no message.
const message_row messages[] = {
    {err_debug_file_not_open, false, {"Error: Can't open file debug.out\n"}},
    {err_project_file_not_given,
     false,
     {"Error: You must give the name of a valid TORVA project file as a command "
      "line\nargument.\n"}},
    {err_project_file_not_found, false, {"Error: The specified project file was not found.\n"}},
    {err_file_not_open,
     false,
     {"Error: Unable to open ", p_kind, " file.\n  (File: ", p_name, ")\n"}},
    {err_zenf_not_compiled,
     false,
     {"Error: TORVA not compiled with ZENF, but ZENF file format specified\n"}},
    {err_roughness_map_and_uniform,
     false,
     {"Error: You have specified both spatially-varied and uniform Manning roughness\nusing both "
      "the ROUGHNESS and MANNING_N project file cards.  Only one of\nthese may be specified.  "
      "Select only one option.\n"}},
    {err_et_penman_and_deardorff,
     false,
     {"Error: You have specified both the Penman Montieth and Deardorff\nevapo-transpiration "
      "calculation methods.  Only one may be \nspecified for long-term simulations.  Select only "
      "one method.\n"}},
    {err_hmet_formats_several,
     false,
     {"Error: You have specified two of either the Surface Airways, SAMSON, or OBU\nhydromet. file "
      "input type.  Only one file type may be specified for LONG-\nterm simulations.  Select only "
      "one method.  Check your project file.\n"}},
    {err_et_method_missing,
     false,
     {"Error: You have specified neither the Penman Montieth or Deardorff\nevapo-transpiration "
      "calculation methods.  One method must be \nspecified for long-term simulations.  Select "
      "only one method.\n"}},
    {err_rain_file_and_uniform,
     false,
     {"Error: You have specified both a rain gage file, and uniform rainfall\noptions.  These "
      "options are mutually exclusive.  Please select\nonly one option.\n"}},
    {err_precipitation_missing,
     false,
     {"Error: You have an error in your input due to one of the following:\n\n - You have not "
      "specified a precipitation card in your project file.\n   One of either PRECIP_UNIF or "
      "PRECIP_FILE must be specified.\n   The PRECIP_FILE card must be followed by the name of the "
      "precipitation\n   input data file.  If PRECIP_UNIF is specified, then the RAIN_DURATION\n   "
      "and RAIN_INTENSITY cards must also be given, followed by the proper values\n - You have "
      "specified spatially-uniform rainfall with either a zero\n   rate or duration.  Please check "
      "that your rain rate in mm/h or\n   rain duration in minutes are both non-zero.\n"}},
    {err_xwin_ordinates_too_many,
     false,
     {"Error: The number of X-windows plot ordinates ", p_value1,
      " is greater than the dimension of the array ", p_value2, "\n"}},
    {err_xwin_nothing_to_plot,
     false,
     {"Error: The project file specifies X-Windows plotting, but does not specify what to "
      "plot.\nYou must include one or more of the following cards: XRAIN, XDEPTH, or XINFDEP\n"}},
    {warn_xwin_channel_depth_without_routing,
     true,
     {"Warning: X-Windows Graphics Warning:\nThe project file specifies X-Windows plotting of "
      "channel flow depth, but does\nnot specify a channel routing method card.  This plotting "
      "routine\ncan only plot channel flow depth when using channel routing.  Plotting of\nchannel "
      "flow depth disabled.\nYou must include the one of the following cards: CHAN_EXPLIC to "
      "enable\nplotting of channel flow depth in an X-window.\n\n"}},
    {err_xwin_frequency_missing,
     false,
     {"Error: The project file specifies X-Windows plotting, but does not specify how often to "
      "plot.\nYou must include the following card: X_FREQ  N, where N is the plotting "
      "frequency.\n"}},
    {warn_xwin_infiltrated_depth_without_method,
     true,
     {"Warning: X-Windows Graphics Warning:\nThe project file specifies X-Windows plotting of "
      "infiltrated depth, but does\nnot specify an infiltration method card.  This plotting "
      "routine\ncurrently only plots infiltrated depth when using the Green & Ampt or\nGreen & "
      "Ampt with redistribution methods.  Plotting of infiltrated depth\ndisabled.\nYou must "
      "include the one of the following cards: INF_REDIST or GREEN_AMPT\nto enable plotting of "
      "infiltrated depth in an X-window.\n\n"}},
    {warn_xwin_surface_moisture_without_method,
     true,
     {"X-Windows Graphics Warning:\nThe project file specifies X-Windows plotting of soil surface "
      "moisture, but\ndoes not specify an infiltration method card.  This plotting "
      "routine\ncurrently plots soil surface water content when using the Green & Ampt,\nGreen & "
      "Ampt with redistribution or Richards Equation.  Plotting of soil\nsurface water content "
      "disabled.\nYou must include the one of the following cards: INF_REDIST, GREEN_AMPT\nor "
      "INF_RICHARDS to enable plotting of surface water content in an X-window.\n\n"}},
    {err_xwin_infdep_and_xsurf,
     false,
     {"Error: The project file specifies both plotting of cumulative infiltrated depth via "
      "the\nXINFDEP card and plotting of soil surface water content via the XSURF card.\nOnly one "
      "of the cards may be present in the project, because they are drawn\nin the same region of "
      "the X-Window.  Remove one of the cards.\n"}},
    {err_xwin_too_small,
     false,
     {"Error: Either your XWIN_WIDTH is less than 750 or XWIN_HEIGHT is less than 500 "
      "pixels.\nThese are the minimum values that allow legible plotting in the X-Window.  "
      "Make\nthe values in your project file at least as large as these lower limits.\nAdvanced "
      "apologies to those executing this program on a Palm Pilot.\n"}},
    {err_long_term_needs_redistribution,
     false,
     {"Error: For long-term simulations, you must specify the redistribution form\nof the Green "
      "and Ampt infiltration equation.  Redistribution requires\nvalues of pore distribution index "
      "and residual saturation in addition\nto the 4 standard Green and Ampt parameters (hydraulic "
      "conductivity,\ncapillary head, porosity, and initial soil moisture content).\n\nChange the "
      "infiltration option to Green & Ampt with redistribution\nand specify the 6 required "
      "parameters.\n"}},
    {err_albedo_missing,
     false,
     {"Error: Albedo values not specified for long term simulation. Check project file.\n"}},
    {err_vegetation_height_missing,
     false,
     {"Error: Vegetation height values not specified for Penman-Montieth long term simulation.\n "
      "Check project file.\n"}},
    {err_transmission_coeff_missing,
     false,
     {"Error: Transmission coeff. values not specified for Penman-Montieth long term simulation.\n "
      "Check project file.\n"}},
    {err_stomatal_resistance_missing,
     false,
     {"Error: tomatal resistance values not specified for Penman-Montieth long term simulation.\n "
      "Check project file.\n"}},
    {err_wilting_point_missing,
     false,
     {"Error: Wilting point values not specified for Penman-Montieth long term simulation.\n Check "
      "project file.\n"}},
    {err_green_ampt_and_layered_soil,
     false,
     {"Error: You have specified both Green and Ampt and multi-layered\nsoil infiltration.  Please "
      "select only one in the \nproject file.\n"}},
    {err_redistribution_and_layered_soil,
     false,
     {"Error: You have specified both redistribution and multi-layered\nsoil infiltration.  Please "
      "select only one in the \nproject file. \n"}},
    {err_green_ampt_and_richards,
     false,
     {"Error: You have specified both Green and Ampt and Richards\nsoil infiltration.  Please "
      "select only one in the \nproject file. \n"}},
    {err_green_ampt_and_richards_again,
     false,
     {"Error: You have specified both Green and Ampt and Richards\nsoil infiltration.  Please "
      "select only one in the \nproject file. \n"}},
    {err_redistribution_and_richards,
     false,
     {"Error: You have specified both redistribution and Richards\nsoil infiltration.  Please "
      "select only one in the \nproject file. \n"}},
    {err_layered_soil_and_richards,
     false,
     {"Error: You have specified both Layered Soil and Richards\nsoil infiltration.  Please select "
      "only one in the \nproject file. \n"}},
    {err_aquifer_delta_z_missing,
     false,
     {"Error: Groundwater cell vertical grid size not specified in project file.\nIf you are "
      "simulating the influence of the water table on Richards\nequation, you must put the "
      "AQUIFER_DELTA_Z card in the project file.\n"}},
    {err_green_ampt_and_redistribution,
     false,
     {"Error: You have chosen both Green and Ampt and Redististribution\nChoose one or the other "
      "and try again\n"}},
    {err_channel_drain_and_backwater,
     false,
     {"Error: Both the drain and backwater channel initialization methods have been\nselected.  "
      "Only one method may be specified. \n"}},
    {err_channel_implicit_unsupported,
     false,
     {"Error: Preissmann implicit channel routing is not supported by TORVA.\nSelect explicit "
      "channel routing method. \n"}},
    {err_channel_implicit_and_explicit,
     false,
     {"Error: Both the implicit and explicit channel routing methods have been\nselected.  Only "
      "one method may be specified. \n"}},
    {err_channel_explicit_and_mesh,
     false,
     {"Error: Both the explicit and mesh channel routing methods have been\nselected.  Only one "
      "method may be specified.  Program terminated\n"}},
    {err_gw_porosity_map_and_uniform,
     false,
     {"You have specified both spatially-varied and uniform porosity for\ngroundwater soil using "
      "both the gw_unif_porosity and gw_porosity_map\nproject file cards. Only one of these may be "
      "specified.\nSelect only one option.\n"}},
    {warn_gw_porosity_missing,
     true,
     {"Warning: You have specified neither spatially-varied, uniform, or mapping table porosity "
      "for\ngroundwater soil without using both the gw_unif_porosity and\ngw_porosity_map project "
      "file cards. Groundwater porosities will be the.\nsame as those in the last layer of your "
      "soil input table.\n"}},
    {err_gw_hycond_map_and_uniform,
     false,
     {"You have specified both spatially-varied and uniform hydraulic\nconductivity for "
      "groundwater soil using both the gw_unif_hycond and\ngw_hycond_map project file cards. Only "
      "one of these may be specified.\nSelect only one option.\n"}},
    {warn_gw_hycond_missing,
     true,
     {"Warning: You have specified neither spatially-varied, uniform, or mapping table hydraulic "
      "\nconductivity for groundwater soil without using both the gw_unif_hycond\nand "
      "gw_hycond_map project file cards. Groundwater hydraulic conductivies \nwill be taken from "
      "the soil input table.\n"}},
    {err_groundwater_and_sacramento,
     false,
     {"Error: You have specified both groundwater routing and Sacramento soil "
      "moisture\naccounting.  These two methods are mutually-exclusive.  Use one or the other.\n"}},
    {err_tev_model_missing,
     false,
     {"Error: You have specified that TORVA is being run within TEV, but you did\nnot specify the "
      "model(s) that are being co-run.  The present options are:\nVOLP.  If you want to run with "
      "VOLP for instance, you must place the VOLP\nproject file card in the project file. \n"}},
    {err_tev_event_num_missing,
     false,
     {"Error: TORVA is running within TEV in event mode.  The TEV_EVENT_NUM card\nwas placed in "
      "the TORVA project file without an argument.  The\nTEV_EVENT_NUM card must be followed by a "
      "LONG int argument that specifies\nthe event number to be simulated.  If 'TEV_EVENT_NUM 0' "
      "is specified,\nthen TORVA writes out all available precip. events into the file "
      "named\nTEV_PRECIP.SUM, and terminates.  If the TEV_EVENT_NUM argument is greater than\n0, "
      "then that particular event is simulated.  Check the project file. \n"}},
    {err_tev_groundwater_unsupported,
     false,
     {"Error: Groundwater simulations in TORVA within the TEV environment\nare not yet supported. "
      "\n"}},
    {err_volp_without_tev,
     false,
     {"Error: You have specified that TORVA is being run with VOLP, but you did\nnot specify that "
      "TORVA is being run within the TEV environment.\nTORVA only runs with VOLP in the TEV "
      "environment.  You must place the\nTEV project file card in the project file, and pay close "
      "attention to\nstart-up conditions. (e.g. TEV_EVENT_NUM card). \n"}},
    {err_zenf_source_not_open,
     false,
     {"Error: Unable to open ZENF data source ", p_kind, ", ", p_name, ".\n"}},
    {err_theta_location_output_not_open,
     false,
     {"Error: Can't open theta location output file: ", p_name,
      "\nYou specify the name of the output file which will contain the soil moisture\nordinates "
      "at the points specified in the file ",
      p_kind, "\nThis is done by using the OUT_THETA_LOCATION card in the project file.\n"}},
    {err_concentration_location_output_not_open,
     false,
     {"Error: Can't open concentration location output file: ", p_kind,
      "\nYou specify the name of the output file which will contain the concentration\nordinates "
      "at the points specified in the file ",
      p_name, "\nThis is done by using the OUT_CON_LOCATION card in the project file.\n"}},
    {err_depth_location_output_not_open,
     false,
     {"Error: Can't open depth location output file: ", p_kind,
      "\nYou specify the name of the output file which will contain the depth\nordinates at the "
      "points specified in the file ",
      p_name, "\nThis is done by using the OUT_DEP_LOCATION card in the project file.\n"}},
    {err_hydrograph_location_output_not_open,
     false,
     {"Error: Can't open hydrograph location output file: ", p_kind,
      "\nYou specify the name of the output file which will contain the hydrograph\nordinates at "
      "the points specified in the file ",
      p_name, "\nThis is done by using the OUT_HYD_LOCATION card in the project file.\n"}},
    {err_time_step_zero, false, {"Error: Time step is 0 seconds.\n"}},
    {err_time_step_over_a_minute, false, {"Error: Time step is greater than 60 seconds.\n"}},
    {err_time_step_not_divisor_of_a_minute,
     false,
     {"Error: The time step (", p_value1, ") must be evenly divisible into 60 seconds.\n"}},
    {warn_hydrograph_interval_defaulted,
     true,
     {"Warning: Write hydrograph time step not specified, defaulting to 1 hour.\n"}},
    {err_outlet_slope_missing, false, {"Error: Outlet slope not specified.\n"}},
    {err_basin_centroid_missing,
     false,
     {"Error: Latitude and longitude of basin centroid required for long-term "
      "simulations.\nSpecify these in the project file using keywords 'latitude' and "
      "'longitude'\n"}},
    {err_gmt_offset_missing,
     false,
     {"Error: GMT time offset required for long-term simulations.\nSpecify the offset in the "
      "project file using keyword 'GMT'\n"}},
    {err_output_file_not_open, false, {"Error: Can't open output file: ", p_name, "\n"}},
    {err_zenf_output_not_open,
     false,
     {"Error: Unable to open the ZENF file ", p_name, " for output.\n"}},
    {err_zenf_grid_group_not_open,
     false,
     {"Error: Unable to open output data set group ", p_name, " for writing in the grid ", p_kind,
      " of the ZENF file."}},
    {err_zenf_map_not_created,
     false,
     {"Error: Unable to create ", p_name, " map in the ZENF file\n"}},
    {err_zenf_stream_group_not_open,
     false,
     {"Error: Unable to open output data set group ", p_name, " for writing in the stream ", p_kind,
      " of the ZENF file."}},
    {err_mapping_table_not_open, false, {"Unable to open Mapping Table file: ", p_name, "\n"}},
    {err_index_map_not_open, false, {"Unable to open index file ", p_name, "\n"}},
    {err_mapping_table_empty,
     false,
     {"Problem reading mapping table file -- no entries found in table ", p_kind,
      " (NUM_IDS is 0)\n"}},
    {err_wetland_id_count_mismatch,
     false,
     {"There is a problem with the wetlands index map.  It contains\n", p_value1,
      " ID's, while the mapping table file contains ", p_value2,
      " ID's.\nThe index map and mapping table file must have the same number\nof ID's. \n"}},
    {err_wetland_ids_too_many,
     false,
     {"The number of wetland ids specified in the master table file \nis over 300!  This is highly "
      "unusual.  I'm bombing... in a   \ndazed and confused state.  So many wetlands!\n"}},
    {err_contaminant_tables_unreadable,
     false,
     {"Error reading the contaminant transport tables in the mapping table file.\n"}},
    {err_unexpected_end_of_file, false, {"Unexpected end of file in file: ", p_name, "\n"}},
    {err_index_id_beyond_table,
     false,
     {"Index ID exceeds table limit, file: ", p_name, " [row ", p_value1, ":col ", p_value2,
      "]\n"}},
    {err_map_rows_and_cols_wrong,
     false,
     {"Incorrect number of rows and columns in map: ", p_name, "\n"}},
    {err_map_rows_wrong, false, {"Incorrect number of rows in map: ", p_name, "\n"}},
    {err_map_cols_wrong, false, {"Incorrect number of columns in map: ", p_name, "\n"}},
    {err_nutrient_outputs_not_open,
     false,
     {"Error: There were ", p_value1,
      " errors trying to open the nutrient output files.\nThe last error was: unable to open "
      "nutrient output file ",
      p_name, ".\n"}},
    {err_aquatic_env_not_open,
     false,
     {"Error: unable to open the aquatic environment file ", p_name, ".\n"}},
    {err_aquatic_env_header_invalid,
     false,
     {"Error: The header for the aquatic environment file is invalid or does not match \n the "
      "current version. \n The aquatic environment file specified is: ",
      p_name, "\n The header should be : ", p_kind}},
    {err_aquatic_env_index_beyond_ids,
     false,
     {"Error: An index [", p_value1,
      "] in the aquatic environment table is greater than the\nnumber of IDs specified [", p_value2,
      "]\n"}},
    {err_nutrients_card_late,
     false,
     {"Error: The NUTRIENTS card in the project file must be specified before the ", p_kind,
      " card\n"}},
    {err_nutrient_file_not_open, false, {"Error: Unable to open the nutrient file ", p_name, "\n"}},
    {err_overland_aquatic_map_not_open,
     false,
     {"Error: Unable to open the overland Aquatic Environment map.\n"}},
    {err_nutrient_summary_not_open, false, {"Error: Unable to open the nutrient summary file\n"}},
    {err_overland_pump_file_not_open, false, {"Error: Unable to open the overland pump file\n"}},
    {err_overland_boundary_table_missing,
     false,
     {"Error: The OV_BOUNDARY card has been specified in the project file but the \n       "
      "OVERLAND_BOUNDARY table was not found...\n"}},
    {err_rating_curve_series_not_named,
     false,
     {"Error: Incorrect usage of the RATING_CURVE card. It should be STRUCTTYPE RATING_CURVE "
      "\"elev series name\"\nThe elevation series is missing\n"}},
    {err_rating_curve_series_not_found,
     false,
     {"Error: The elevation series for a RATING_CURVE card is not found. Make sure that the "
      "elevation series\n file is in the project file before the channel input file and that the "
      "elevation series is defined."}},
    {err_scheduled_release_series_not_named,
     false,
     {"Error: Incorrect usage of the SCHEDULED_RELEASE card. It should be STRUCTTYPE "
      "SCHEDULED_RELEASE \"time series name\"\nThe time series is missing\n"}},
    {err_scheduled_release_series_not_found,
     false,
     {"Error: The time series for a SCHEDULED_RELEASE card is not found. Make sure that the time "
      "series\n file is in the project file before the channel input file and that the time series "
      "is defined."}},
    {err_rule_curve_series_not_named,
     false,
     {"Error: Incorrect usage of the RULE_CURVE card. It should be STRUCTTYPE RULE_CURVE \"elev "
      "series name\"\nThe elevation series is missing\n"}},
    {err_rule_curve_series_not_found,
     false,
     {"Error: The elevation series for a RULE_CURVE card is not found. Make sure that the "
      "elevation series\n file is in the project file before the channel input file and that the "
      "elevation series is defined."}},
    {err_sediment_count_mismatch,
     false,
     {"Error: The number of sediments specified in the SEDIMENTS table is ", p_value1,
      " while the number of sediments \nspecified in the SED_EROS_PROPS table is ", p_value2,
      ". The values must match.\n"}},
    {err_sediment_table_missing,
     false,
     {"Error: Sediment transport specified but sediments table missing in the .cmt file.\n"}},
    {err_erosion_table_unreadable,
     false,
     {"Error: Unable to read the soil erosion properties table from mapping table file\n"}},
    {err_roughness_zero,
     false,
     {"Error: 0.0 values for roughness found. Check the roughness map/table\n"}},
    {warn_r7_segment_map_empty, true, {"Warning: There are no segments in the R7 segment map.\n"}},
    {warn_r7_flux_without_segments,
     true,
     {"Warning: The TORVA to R7 internal segment flux option is turned on\nBut there are no "
      "segments in the R7 segment map or in the link-node to segment file.\n"}},
    {err_r7_flux_segment_invalid,
     false,
     {"Error: In the R7 internal stream flux to segment file, some link/node pairs \nrefer to a "
      "segment of 0 or a segment that is not in the segment map file.\n"}},
    {err_r7_flux_output_not_open,
     false,
     {"Error: Unable to open the R7 internal flux output file [", p_name, "].\n"}},
    {err_superjunctions_too_many,
     false,
     {"Too many super-junctions (>1000!) in superlink.  Your network is too large.\n"}},
    {err_superlink_nodes_too_many,
     false,
     {"Too many nodes (>50!) in one link in superlink.  Your network is too large.\n"}},
    {err_superlinks_too_many,
     false,
     {"Too many superlinks (>1000!) in superlink.  Your network is too large.\n"}},
    {err_radar_mapping_failed, false, {"Error in creating radar mapping to grid.\n"}},
    {err_calib_comp_data_invalid,
     false,
     {"Error: unable to read value for CALIB_COMP_DATA. Please provide one of DAILY, EVENT. \n"}},
    {err_calib_obj_func_invalid,
     false,
     {"Error: unable to read value for CALIB_OBJ_FUNC. Please provide one of RMSE, HMLE. \n"}},
    {err_calib_settings_invalid,
     false,
     {"Error: Calibration is turned on but one or more values for CALIB_COMP_DATA, CALIB_OBJ_FUNC "
      "are invalid.\n"}},
    {err_observed_data_not_open,
     false,
     {"Error: Unable to calibration observed data file (CALIB_OBS_DATA) : ", p_name, ".\n"}},
    {err_observed_data_header_invalid,
     false,
     {"Error: Invalid header line in the observed data file. Should be OBS_DATA_FILE.\n"}},
    {err_observed_data_locations_line_invalid,
     false,
     {"Error: Invalid NUM_LOCATIONS line in the observed data file. \nIt should be the second line "
      "in the file.\n"}},
    {err_observed_data_points_line_invalid,
     false,
     {"Error: Invalid NUM_DATA_POINTS line in the observed data file. \nIt should be the third "
      "line in the file.\n"}},
    {err_observed_data_locations_mismatch,
     false,
     {"Error: The number of output locations in the observed data file \ndoes not match the number "
      "of output locations in the outlet \nhydrograph file.\n"}},
    {err_observed_data_line_invalid,
     false,
     {"Error: Invalid data line in the observed data file. Check file.\n"}},
    {err_observed_data_values_too_many,
     false,
     {"Error: More event/daily values in the observed data file than specified by the "
      "NUM_DATA_POINTS value. Check file.\n"}},
    {err_observed_data_location_invalid,
     false,
     {"Error: A location number is not valid in the observed data file. Check file.\n"}},
    {err_observed_data_ends_early,
     false,
     {"Error: Reached end of observed data file before finding all of the data values. Check "
      "file.\n"}},
    {err_stream_map_not_open, false, {"Unable to open stream map file ", p_name, "\n"}},
    {err_stream_map_header_wrong,
     false,
     {"Stream map file does not use correct header (file: ", p_name, ")\n"}},
    {err_stream_map_size_mismatch,
     false,
     {"NLINKS or MAXNODES card in stream map file does not match channel input file (file: ",
      p_name, ")\n"}},
    {err_stream_map_data_short,
     false,
     {"Error reading data from stream map file. Check to make sure that the correct number of "
      "\ndata points exist for each link. (file: ",
      p_name, ")\n"}},
    {err_nutrient_grid_table_missing,
     false,
     {"Error: Nutrient constituent to use mapping table for input value but no mapping table "
      "exists (Grid): ",
      p_kind, "\n"}},
    {err_nutrient_stream_table_missing,
     false,
     {"Error: Nutrient constituent to use mapping table for input value but no mapping table "
      "exists (Stream): ",
      p_kind, "\n"}},
    {err_stream_aquatic_map_not_open,
     false,
     {"Error: Unable to open the stream Aquatic Environment map.\n"}},
    {err_culvert_critical_depth_no_convergence,
     false,
     {"no convergence in culvert critical depth routine\n"}},
    {err_arch_culvert_unsupported,
     false,
     {"arch culverts not yet supported in subroutine crit_calc() \n"}},
    {err_root_not_bracketed, false, {"Root must be bracketed in ZBRENT\n"}},
    {err_contaminant_count_not_positive,
     false,
     {"Error: The number of contaminants is not a positive value.\n"}},
    {err_groundwater_table_not_set_up,
     false,
     {"Error: the mapping table for the groundwater table is not set up correctly. Check index map "
      "file names.\n"}},
    {err_stream_head_series_not_found,
     false,
     {"Error: Stream head boundary time series (", p_kind,
      ") can not be found. Check project file.\n"}},
    {err_nsm_bulk_density_table_missing,
     false,
     {"You are trying to simulate NSM soil dynamics without specifying a soil bulk density "
      "table.\n"}},
    {129, false, {}},  // no message, no name
    {err_nutrient_summary_file_not_open,
     false,
     {"Error: unable to open the nutrient summary file.\n"}},
    {err_pipe_invert_below_aquifer,
     false,
     {"Error: Pipe invert must be above the bottom of the aquifer\n"}},
    {err_richards_soil_type_map_missing,
     false,
     {"You are trying to simulate Richardson's Equation soil dynamics but without using a valid "
      "soil type index map.\nIndex map filename = ",
      p_name, "\n"}},
    {err_tile_exchange_nan, false, {"Error: NaN error in groundwater tile exchange\n"}},
    {err_superlink_update_failed,
     false,
     {"TORVA crashed during an update of Superlink, Check your Superlink/Supernode "
      "network/numbering ",
      p_name, "\n"}},
    {err_observed_data_format, false, {"Error: observed data file improperly formatted.\n"}},
};

constexpr int message_count = static_cast<int>(sizeof messages / sizeof messages[0]);

const message_row* find_row(int code) {
  if (code < 1 || code > message_count || messages[code - 1].code != code) return nullptr;
  return &messages[code - 1];
}

std::string compose(const message_row& row) {
  std::string text;
  for (const char* piece : row.pieces) {
    if (piece == nullptr) break;
    if (piece == p_kind) {
      text += error_file_kind;
    } else if (piece == p_name) {
      text += error_file_name;
    } else if (piece == p_value1) {
      text += std::to_string(error_value1);
    } else if (piece == p_value2) {
      text += std::to_string(error_value2);
    } else {
      text += piece;
    }
  }
  return text;
}

}  // namespace

void set_error_file(const char* kind, const char* name) {
  copy_text(error_file_kind, sizeof error_file_kind, kind != nullptr ? kind : "");
  copy_text(error_file_name, sizeof error_file_name, name != nullptr ? name : "");
}

void set_error_values(int value1, int value2) {
  error_value1 = value1;
  error_value2 = value2;
}

void raise_error(int code) {
  run_error.error_code = code;
  if (!error_is_warning(code)) run_error.error_fatal = 1;
}

void raise_file_error(int code, const char* kind, const char* name) {
  set_error_file(kind, name);
  raise_error(code);
}

void raise_own_message() {
  run_error.error_code = error_code_own_message;
}

void report_error_now(int code) {
  run_error.error_code = code;
  error_report(run_error);
}

void report_file_error_now(int code, const char* kind, const char* name) {
  set_error_file(kind, name);
  report_error_now(code);
}

void stop_now() {
  report_error_now(error_code_own_message);
}

namespace {

void echo_message_v(const char* format, va_list args) {
  va_list sizing;
  va_copy(sizing, args);
  const int length = vsnprintf(nullptr, 0, format, sizing);
  va_end(sizing);
  if (length > 0) {
    std::string text(static_cast<std::size_t>(length), '\0');
    vsnprintf(text.data(), text.size() + 1, format, args);
    error_print(error_echo_file, text.c_str());
  }
}

}  // namespace

void echo_message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  echo_message_v(format, args);
  va_end(args);
}

void stop_with_message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  echo_message_v(format, args);
  va_end(args);
  stop_now();
}

bool error_is_warning(int code) {
  const message_row* row = find_row(code);
  return row != nullptr && row->warning;
}

const char* error_message_text(int code, char* buffer, unsigned long size) {
  const message_row* row = find_row(code);
  copy_text(buffer, size, row != nullptr ? compose(*row).c_str() : "");
  return buffer;
}

void error_print(file_handle* echo, const char* text) {
  fputs(text, stdout);
  if (echo != nullptr && echo->fp != nullptr) fputs(text, echo->fp);
}

void error_report(error_state& state) {
  if (state.error_code > 0) {
    error_print(error_echo_file, "\n");
    state.error_fatal = 1;
    const message_row* row = find_row(state.error_code);
    if (row != nullptr) {
      error_print(error_echo_file, compose(*row).c_str());
      if (row->warning) state.error_fatal = 0;
    }
    fflush(stdout);
  }
  state.error_code = 0;
}

void loop_fault::record(long index, int code, int value1, int value2, const char* message) {
#pragma omp critical(torva_loop_fault)
  {
    const long current = index_.load(std::memory_order_relaxed);
    if (current == no_fault || index < current) {
      index_.store(index, std::memory_order_relaxed);
      code_ = code;
      value1_ = value1;
      value2_ = value2;
      copy_text(message_, sizeof message_, message != nullptr ? message : "");
    }
  }
}

bool loop_fault::raise() {
  if (!found()) return false;
  if (message_[0] != '\0') fputs(message_, stdout);
  error_value1 = value1_;
  error_value2 = value2_;
  run_error.error_code = code_;
  return true;
}
