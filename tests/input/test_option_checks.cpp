// Option conflict checks: one small project per code, in the order of the checks; the warnings
// that let the run go on; the options that the chosen methods switch off; the cards of processes
// this version cannot run, refused by name; and a project whose grid or clock cannot run,
// refused before any output file is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/option_checks.h"
#include "input/run_parameters.h"
#include "run/entry.h"
#include "run/run_driver.h"
#include "support/test_support.h"

using torva_test::file_exists;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

const std::string grid_cards = "ROWS 2\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 10\nTOT_TIME 60\n";
const std::string rain_cards = "PRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 30\n";
const std::string base_cards = grid_cards + rain_cards + "OVERTYPE explicit\n";
// A long-term run that passes the long-term tests.
const std::string long_term_cards = "LONG_TERM\nET_CALC_DEARDORFF\nINF_REDIST\nALBEDO a.asc\n";
// Groundwater with uniform aquifer values.
const std::string groundwater_cards =
    "WATER_TABLE wt.asc\nGW_SIMULATION\nGW_UNIF_POROSITY 0.3\nGW_UNIF_HYCOND 1e-5\n";

const char* const message_39 =
    "Warning: You have specified neither spatially-varied, uniform, or "
    "mapping table porosity";
const char* const message_41 =
    "Warning: You have specified neither spatially-varied, uniform, or "
    "mapping table hydraulic";

class OptionChecks : public testing::Test {
 protected:
  // Reads a project of `cards` and checks its options; `out` gets what the check printed.
  std::unique_ptr<model_state> check(const std::string& cards, std::string* out = nullptr) {
    write_file(dir_.file("p.prj"), "TORVAPROJECT\n" + cards);
    auto ms = std::make_unique<model_state>();
    run_error = error_state{};
    {
      stdout_capture quiet;
      read_run_parameters(*ms, "p.prj");
    }
    EXPECT_EQ(run_error.error_code, 0) << cards;
    stdout_capture capture;
    check_project_options(*ms);
    const std::string printed = capture.stop();
    if (out != nullptr) *out = printed;
    return ms;
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
};

TEST_F(OptionChecks, EachConflictGivesItsCodeInTheOrderOfTheChecks) {
  struct row {
    std::string cards;
    int code;             // code left in run_error
    const char* printed;  // part of what the check printed, or ""
  };
  const row rows[] = {
      // Grid and clock the run cannot do without (a message of the check's own).
      {"COLS 3\nGRIDSIZE 30\nTIMESTEP 10\nTOT_TIME 60\n" + rain_cards +
           "MANNING_N 1\nROUGHNESS r\n",
       error_code_own_message,
       "Error: the project file gives no positive number of rows (ROWS).\n"},
      {"ROWS 2\nCOLS 0\nGRIDSIZE 30\nTIMESTEP 10\nTOT_TIME 60\n" + rain_cards,
       error_code_own_message,
       "Error: the project file gives no positive number of columns (COLS).\n"},
      {"ROWS 2\nCOLS 3\nGRIDSIZE -30\nTIMESTEP 10\nTOT_TIME 60\n" + rain_cards,
       error_code_own_message, "Error: the project file gives no positive cell size (GRIDSIZE).\n"},
      {"ROWS 2\nCOLS 3\nGRIDSIZE 30\nTOT_TIME 60\n" + rain_cards, error_code_own_message,
       "Error: the project file gives no positive time step (TIMESTEP).\n"},
      {"ROWS 2\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 10\nTOT_TIME 0\n" + rain_cards,
       error_code_own_message,
       "Error: the project file gives no positive simulation length in minutes (TOT_TIME).\n"},
      // A long-term run ends with its data: no TOT_TIME needed.
      {"ROWS 2\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 10\n" + rain_cards + long_term_cards, 0, ""},
      {base_cards + "MANNING_N 0.03\nROUGHNESS r.asc\n", err_roughness_map_and_uniform, ""},
      {base_cards + "LONG_TERM\nET_CALC_PENMAN\nET_CALC_DEARDORFF\n", err_et_penman_and_deardorff,
       ""},
      {base_cards + "HMET_SAMSON h.txt\nHMET_OBU h.txt\n", err_hmet_formats_several, ""},
      {base_cards + "HMET_SURFAWAYS h.txt\nHMET_SAMSON h.txt\nHMET_OBU h.txt\n",
       err_hmet_formats_several, ""},
      {base_cards + "LONG_TERM\n", err_et_method_missing, ""},
      // No precipitation card is uniform rainfall of intensity 0; negative values fail alike.
      {grid_cards, err_precipitation_missing, ""},
      {grid_cards + "PRECIP_UNIF\nRAIN_INTENSITY 0\nRAIN_DURATION 30\n", err_precipitation_missing,
       ""},
      {grid_cards + "PRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 0\n", err_precipitation_missing,
       ""},
      {grid_cards + "PRECIP_UNIF\nRAIN_INTENSITY -5\nRAIN_DURATION 30\n", err_precipitation_missing,
       ""},
      {grid_cards + "PRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION -30\n",
       err_precipitation_missing, ""},
      {grid_cards + "PRECIP_FILE rain.gag\n", 0, ""},
      {base_cards + "LONG_TERM\nET_CALC_DEARDORFF\nGREEN_AMPT\n",
       err_long_term_needs_redistribution, ""},
      {base_cards + "LONG_TERM\nET_CALC_DEARDORFF\nINF_REDIST\n", err_albedo_missing, ""},
      {base_cards + "LONG_TERM\nET_CALC_PENMAN\nINF_REDIST\nALBEDO a\n",
       err_vegetation_height_missing, ""},
      {base_cards + "LONG_TERM\nET_CALC_PENMAN\nINF_REDIST\nALBEDO a\nVHEIGHT v\n",
       err_transmission_coeff_missing, ""},
      {base_cards + "LONG_TERM\nET_CALC_PENMAN\nINF_LAYERED_SOIL\nALBEDO a\nVHEIGHT v\nTCOEFF t\n",
       err_stomatal_resistance_missing, ""},
      {base_cards + "LONG_TERM\nET_CALC_PENMAN\nINF_REDIST\nALBEDO a\nVHEIGHT v\nTCOEFF t\n"
                    "CANOPY c\n",
       err_wilting_point_missing, ""},
      {base_cards + "LONG_TERM\nET_CALC_PENMAN\nINF_REDIST\nALBEDO a\nVHEIGHT v\nTCOEFF t\n"
                    "CANOPY c\nWILTING_POINT w\n",
       0, ""},
      // Richards columns bring their own evapotranspiration parameters.
      {base_cards + "LONG_TERM\nET_CALC_PENMAN\nINF_RICHARDS\n", 0, ""},
      {base_cards + "INF_RICHARDS\n" + groundwater_cards, err_aquifer_delta_z_missing, ""},
      {base_cards + "INF_RICHARDS\n" + groundwater_cards + "AQUIFER_DELTA_Z 2\n", 0, ""},
      {base_cards + "CHAN_DRAIN\n", err_channel_implicit_unsupported, ""},
      {base_cards + "CHAN_BACKWATER\n", err_channel_implicit_unsupported, ""},
      {base_cards + "CHAN_PREISS\n", 0, ""},
      {base_cards + groundwater_cards + "GW_POROSITY_MAP p.asc\n", err_gw_porosity_map_and_uniform,
       ""},
      {base_cards + "WATER_TABLE wt.asc\nGW_SIMULATION\nGW_UNIF_HYCOND 1e-5\n", 0, message_39},
      {base_cards + groundwater_cards + "GW_HYCOND_MAP k.asc\n", err_gw_hycond_map_and_uniform, ""},
      {base_cards + "WATER_TABLE wt.asc\nGW_SIMULATION\nGW_UNIF_POROSITY 0.3\n", 0, message_41},
      {base_cards + "WATER_TABLE wt.asc\nGW_SIMULATION\nGW_UNIF_POROSITY 0.3\nSACRAMENTO s.txt\n",
       err_groundwater_and_sacramento, message_41},
      {base_cards + "TEV\n", err_tev_model_missing, "Running TORVA in TEV environment\n"},
      {base_cards + "TEV\nVOLP veg.txt\nTEV_EVENT_NUM\n", err_tev_event_num_missing, ""},
      {base_cards + "TEV\nVOLP veg.txt\n" + groundwater_cards, err_tev_groundwater_unsupported, ""},
      {base_cards + "VOLP veg.txt\n", err_volp_without_tev, ""},
      {base_cards, 0, ""},
  };
  for (const row& r : rows) {
    std::string out;
    check(r.cards, &out);
    EXPECT_EQ(run_error.error_code, r.code) << r.cards;
    EXPECT_NE(out.find(r.printed), std::string::npos) << r.cards << "\n" << out;
    if (r.code == 0 || r.code == error_code_own_message) {
      EXPECT_EQ(run_error.error_fatal, 0) << r.cards;
    }
  }
}

TEST_F(OptionChecks, WarningsAreReportedAtOnceAndTheChecksGoOn) {
  std::string out;
  check(base_cards + "WATER_TABLE wt.asc\nGW_SIMULATION\n", &out);
  // Both warnings, porosity first, and no error after them.
  const size_t porosity = out.find(message_39);
  const size_t conductivity = out.find(message_41);
  ASSERT_NE(porosity, std::string::npos) << out;
  ASSERT_NE(conductivity, std::string::npos) << out;
  EXPECT_LT(porosity, conductivity);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(run_error.error_fatal, 0);
}

TEST_F(OptionChecks, TevEnvironmentLines) {
  std::string out;
  check(base_cards + "TEV\nVOLP veg.txt\nTEV_EVENT_NUM 3\n", &out);
  EXPECT_EQ(out,
            "Running TORVA in TEV environment\n"
            "TORVA will share data with VOLP through file: exchange/veg.txt\n"
            "This is an event call of TORVA by TEV, tev_event_num=3\n");
  EXPECT_EQ(run_error.error_code, 0);
}

TEST_F(OptionChecks, MethodsSwitchOffTheOptionsTheyIgnore) {
  const std::string maps =
      "MOISTURE m.asc\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\nPORE_INDEX i.asc\n"
      "RESIDUAL_SAT r.asc\n";
  for (const char* method : {"INF_LAYERED_SOIL\n", "INF_RICHARDS\n"}) {
    auto ms = check(base_cards + method + maps);
    const subsurface_state& s = ms->subsurface;
    EXPECT_EQ(s.moisture_on + s.conductivity_on + s.capillary_on + s.porosity_on + s.pore_index_on +
                  s.residual_sat_on,
              0)
        << method;
  }
  auto redist = check(base_cards + "INF_REDIST\n" + maps);
  const subsurface_state& s = redist->subsurface;
  EXPECT_EQ(s.moisture_on + s.conductivity_on + s.capillary_on + s.porosity_on + s.pore_index_on +
                s.residual_sat_on,
            6);

  // Channel discharge output needs explicit channel routing; erosion with it carries sediment
  // into the channels.
  auto no_channel = check(base_cards + "CHAN_DISCHARGE q.out\nSOIL_EROSION\n");
  EXPECT_EQ(no_channel->output.map_chan_discharge, 0);
  EXPECT_EQ(no_channel->transport.chan_sediment, 0);
  auto channel = check(base_cards + "CHAN_EXPLIC\nCHAN_DISCHARGE q.out\nSOIL_EROSION\n");
  EXPECT_EQ(channel->output.map_chan_discharge, 1);
  EXPECT_EQ(channel->transport.chan_sediment, 1);
}

// Explicit channel routing runs, with lake pumps on its lakes, with its seepage to the soil and
// over a simulated aquifer; only the seepage of the resting channels of a long-term run waits.
// The aquifer runs under overland lakes too.
TEST_F(OptionChecks, ExplicitChannelRoutingIsAccepted) {
  for (const std::string& cards :
       {std::string("CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nSTREAM_CELL cells.txt\n"),
        std::string("DIFFUSIVE_WAVE\nCHANNEL_INPUT chan.txt\nOVERBANK_FLOW\n"),
        std::string("STREAM_LOSS\n"),
        std::string("CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nLAKE_PUMP pumps.txt\n"),
        std::string("CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nSTREAM_LOSS\n"),
        std::string("CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nSTREAM_LOSS\nWATER_TABLE wt.asc\n"),
        groundwater_cards + "CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\n",
        groundwater_cards + "OVERLAND_LAKE_MAP l.asc\nOVERLAND_LAKE_FILE l.txt\n"}) {
    auto ms = check(base_cards + cards);
    ASSERT_EQ(run_error.error_code, 0) << cards;
    stdout_capture capture;
    check_inputs_supported(*ms);
    EXPECT_EQ(capture.stop(), "") << cards;
    EXPECT_EQ(run_error.error_code, 0) << cards;
  }
}

// Long-term runs run, with snow, a Sacramento basin, a pipe network or Richards soil columns
// that take their demand from the weather; snow without the weather of a long-term run is
// refused above.
TEST_F(OptionChecks, LongTermRunsWithSnowOrASacramentoBasinAreAccepted) {
  for (const std::string& cards :
       {long_term_cards, long_term_cards + "INIT_SWE_DEPTH 0.2\n",
        long_term_cards + "STORM_SEWER pipes.txt\n",
        long_term_cards + "CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nSACRAMENTO sac.txt\n",
        std::string("LONG_TERM\nET_CALC_PENMAN\nINF_RICHARDS\n")}) {
    auto ms = check(base_cards + cards);
    ASSERT_EQ(run_error.error_code, 0) << cards;
    stdout_capture capture;
    check_inputs_supported(*ms);
    EXPECT_EQ(capture.stop(), "") << cards;
    EXPECT_EQ(run_error.error_code, 0) << cards;
  }
}

// The aquifer writes its well levels, and runs under the redistribution and the layered soil in
// a long-term run, whose soil account keeps the zones the table meets, and in an event run, and
// under Richards soil columns in any run; the stream beds pass water in a long-term run.
TEST_F(OptionChecks, WellLevelsTheSoilZonesAndStreamBedsOfALongTermRunAreAccepted) {
  for (const std::string& cards :
       {groundwater_cards + "GW_WELL_LEVEL wells.out\nOUT_WELL_LOCATION wells.txt\n",
        "CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nSTREAM_LOSS\n" + long_term_cards,
        long_term_cards + groundwater_cards,
        "LONG_TERM\nET_CALC_DEARDORFF\nINF_LAYERED_SOIL\nALBEDO a.asc\n" + groundwater_cards,
        groundwater_cards + "INF_RICHARDS\nAQUIFER_DELTA_Z 0.1\n",
        // An event run keeps the zones the table meets in the same books.
        groundwater_cards + "INF_REDIST\n", groundwater_cards + "INF_LAYERED_SOIL\n"}) {
    auto ms = check(base_cards + cards);
    ASSERT_EQ(run_error.error_code, 0) << cards;
    stdout_capture capture;
    check_inputs_supported(*ms);
    EXPECT_EQ(capture.stop(), "") << cards;
    EXPECT_EQ(run_error.error_code, 0) << cards;
  }
}

TEST_F(OptionChecks, CardsOfProcessesNotBuiltYetAreRefusedByName) {
  struct row {
    std::string cards;
    const char* card;  // the card the message names
  };
  const row rows[] = {
      // The size classes as overland constituents, from the lowest value that asks for them.
      {"SOIL_EROSION 10\n", "SOIL_EROSION"},
      {"SOIL_EROSION 12\n", "SOIL_EROSION"},
      // The Richards columns carry no constituent layers.
      {"INF_RICHARDS\nOV_CON_TRANS\nSOIL_CON_TRANS\n", "SOIL_CON_TRANS"},
      {"INF_RICHARDS\nNUTRIENTS\nSOIL_CON_TRANS\n", "SOIL_CON_TRANS"},
      {"OV_CON_TRANS\nSOIL_CON_TRANS\n", "SOIL_CON_TRANS"},
      // Overland point sources, with or without the constituents: no rate can be read.
      {"OV_POINT_SOURCE sources.txt\n", "OV_POINT_SOURCE"},
      {"OV_CON_TRANS\nOV_POINT_SOURCE sources.txt\n", "OV_POINT_SOURCE"},
      {"NUTRIENTS\nOV_POINT_SOURCE sources.txt\n", "OV_POINT_SOURCE"},
      // The first one of the list is named.
      {"SOIL_EROSION 12\nNUTRIENTS\nINF_REDIST\nPORE_INDEX i.asc\nRESIDUAL_SAT r.asc\n",
       "SOIL_EROSION"},
  };
  for (const row& r : rows) {
    auto ms = check(base_cards + r.cards);
    ASSERT_EQ(run_error.error_code, 0) << r.cards;
    stdout_capture capture;
    check_inputs_supported(*ms);
    const std::string out = capture.stop();
    EXPECT_EQ(run_error.error_code, error_code_own_message) << r.cards;
    const std::string named =
        std::string(" (the ") + r.card + " card) is not supported by this version.\n";
    EXPECT_EQ(out.rfind("Error: ", 0), 0u) << out;
    EXPECT_EQ(out.size() - out.find(named), named.size()) << r.cards << "\n" << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;  // one message
  }

  run_error = error_state{};
  auto ms = check(base_cards + "SOIL_EROSION 10\n");
  stdout_capture capture;
  check_inputs_supported(*ms);
  EXPECT_EQ(capture.stop(),
            "Error: size classes carried as overland constituents (a value of 10 or more) (the "
            "SOIL_EROSION card) is not supported by this version.\n");
}

// A card that means something only with another process stops the run with an input error that
// says what it needs and why, not as a card of a process not built.
TEST_F(OptionChecks, CardsNeedingAnotherProcessStopTheRunSayingWhatTheyNeed) {
  const std::string green_ampt =
      "GREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\nMOISTURE m.asc\n";
  const std::string layered =
      "INF_LAYERED_SOIL\nSOIL_TYPE_MAP s.asc\nSOIL_LAYER_INPUT_FILE l.txt\n";
  const char* const theta =
      "Error: IN_THETA_LOCATION needs a soil that keeps its moisture (INF_RICHARDS, INF_REDIST, "
      "or INF_LAYERED_SOIL in a long-term run): single-layer Green and Ampt, the layered soil of "
      "an event run and runs without infiltration keep no surface moisture to write.\n";
  const char* const stream_species =
      "Error: ST_INIT_<species> and OUT_ST_<species> need the nutrients carried in the channels "
      "(CHAN_CON_TRANS with CHAN_EXPLIC): the stream species are channel constituents.\n";
  const char* const channel_totals =
      "Error: TOTAL_CHAN_N, TOTAL_CHAN_KN and TOTAL_CHAN_P need the nutrients carried in the "
      "channels (CHAN_CON_TRANS with CHAN_EXPLIC): the totals add up the channel nodes' "
      "species.\n";
  const char* const sm_hotstart =
      "Error: WRITE_SM_HOTSTART needs a soil that keeps its moisture (INF_REDIST, "
      "INF_LAYERED_SOIL or INF_RICHARDS): single-layer Green and Ampt and runs without "
      "infiltration keep none to write.\n";
  const char* const swe =
      "Error: INIT_SWE_DEPTH needs a long-term run (LONG_TERM): snow melts by the hourly weather "
      "that only long-term runs read.\n";
  const char* const chan_without_overland =
      "Error: CHAN_CON_TRANS needs overland contaminant transport (OV_CON_TRANS or NUTRIENTS): "
      "the channels carry on the constituents the overland water brings them.\n";
  const char* const chan_without_channels =
      "Error: CHAN_CON_TRANS needs channel routing (CHAN_EXPLIC): the channel constituents move "
      "along the links of the channel network.\n";
  const char* const soil_without_overland =
      "Error: SOIL_CON_TRANS needs overland contaminant transport (OV_CON_TRANS or NUTRIENTS): "
      "the soil column takes in and gives back the constituents of the overland water.\n";
  const char* const bound_without_erosion =
      "Error: SEDIMENT_CONTAM needs overland erosion (SOIL_EROSION): the bound phase rides on the "
      "overland sediment.\n";
  const char* const bound_without_constituents =
      "Error: SEDIMENT_CONTAM needs overland and soil contaminant transport (OV_CON_TRANS and "
      "SOIL_CON_TRANS): the bound phase comes from the soil column's sorbed mass and joins the "
      "overland constituents.\n";
  struct row {
    std::string cards;
    const char* message;
  };
  const row rows[] = {
      {"INIT_SWE_DEPTH 0.2\n", swe},
      {"INIT_SWE_DEPTH swe.asc\n", swe},
      {"IN_THETA_LOCATION cells.txt\nOUT_THETA_LOCATION theta.out\n", theta},
      {green_ampt + "IN_THETA_LOCATION cells.txt\nOUT_THETA_LOCATION theta.out\n", theta},
      {layered + "IN_THETA_LOCATION cells.txt\nOUT_THETA_LOCATION theta.out\n", theta},
      {"WRITE_SM_HOTSTART sm_end.asc\n", sm_hotstart},
      {green_ampt + "WRITE_SM_HOTSTART sm_end.asc\n", sm_hotstart},
      {"OPTIMIZE plane.out\nOPTIMIZE_SED\n",
       "Error: OPTIMIZE_SED needs channel sediment routing (SOIL_EROSION with CHAN_EXPLIC): a "
       "sediment calibration scores the wash load the channels carry out of the outlet.\n"},
      // Overland erosion alone routes no wash load through channels.
      {"OPTIMIZE plane.out\nOPTIMIZE_SED\nSOIL_EROSION 2\n",
       "Error: OPTIMIZE_SED needs channel sediment routing (SOIL_EROSION with CHAN_EXPLIC): a "
       "sediment calibration scores the wash load the channels carry out of the outlet.\n"},
      {"LAKE_PUMP pumps.txt\n",
       "Error: LAKE_PUMP needs channel routing (CHAN_EXPLIC): lake pumps draw from the lakes of "
       "the channel network.\n"},
      {"XYBDYINPUT_STFLOW inflow.xy\n",
       "Error: XYBDYINPUT_STFLOW needs channel routing (CHAN_EXPLIC): a stream inflow enters the "
       "channel node nearest its point.\n"},
      {"XYBDYINPUT_STTIMESERIES inflow.xy\n",
       "Error: XYBDYINPUT_STTIMESERIES needs channel routing (CHAN_EXPLIC): a stream inflow "
       "enters the channel node it names.\n"},
      {"FLOOD_STREAM flood.out\n",
       "Error: FLOOD_STREAM needs channel routing (CHAN_EXPLIC): the stream flood depths are "
       "those of the channel nodes.\n"},
      // The stream species and their totals, without channels or in channels that carry no
      // constituents.
      {"NUTRIENTS\nST_INIT_NO3 2.5\n", stream_species},
      {"NUTRIENTS\nOUT_ST_DO do_chan\n", stream_species},
      {"NUTRIENTS\nCHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nST_INIT_NH4\n", stream_species},
      {"NUTRIENTS\nTOTAL_CHAN_KN tkn.out\n", channel_totals},
      {"NUTRIENTS\nCHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nTOTAL_CHAN_P tp.out\n", channel_totals},
      // Channel constituents without the overland constituents or nutrients that feed them,
      // and without the channel network that carries them; with both, the first need is named.
      {"CHAN_CON_TRANS\n", chan_without_overland},
      {"CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nCHAN_CON_TRANS\n", chan_without_overland},
      {"OV_CON_TRANS\nCHAN_CON_TRANS\n", chan_without_channels},
      {"NUTRIENTS\nCHAN_CON_TRANS\n", chan_without_channels},
      // The soil column without the overland water's constituents, under any soil (its older
      // card name included).
      {"SOIL_CONTAM\n", soil_without_overland},
      {green_ampt + "SOIL_CON_TRANS\n", soil_without_overland},
      // The bound phase without erosion, or without either transport it comes from and joins.
      {"SEDIMENT_CONTAM\n", bound_without_erosion},
      {"OV_CON_TRANS\nSOIL_CON_TRANS\nSEDIMENT_CONTAM\n", bound_without_erosion},
      {layered + "OV_CON_TRANS\nSOIL_CON_TRANS\nSEDIMENT_CONTAM\n", bound_without_erosion},
      {"SOIL_EROSION 2\nOV_CON_TRANS\nSEDIMENT_CONTAM\n", bound_without_constituents},
      {green_ampt + "SOIL_EROSION 2\nSOIL_CON_TRANS\nSEDIMENT_CONTAM\n", soil_without_overland},
      {green_ampt + "SOIL_EROSION 2\nNUTRIENTS\nSOIL_CON_TRANS\nSEDIMENT_CONTAM\n",
       bound_without_constituents},
  };
  for (const row& r : rows) {
    run_error = error_state{};
    auto ms = check(base_cards + r.cards);
    ASSERT_EQ(run_error.error_code, 0) << r.cards;
    stdout_capture capture;
    check_inputs_supported(*ms);
    EXPECT_EQ(capture.stop(), r.message) << r.cards;
    EXPECT_EQ(run_error.error_code, error_code_own_message) << r.cards;
  }
}

// Constituent cards that act only inside another process stop the run at the option checks,
// their message naming what they need (not a process missing from this version).
TEST_F(OptionChecks, ConstituentCardsWithoutTheirProcessSayWhatTheyNeed) {
  struct row {
    std::string cards;
    const char* message;
  };
  const row rows[] = {
      {"SOIL_STATIC_CONC\n",
       "Error: SOIL_STATIC_CONC holds the constituent concentrations of the soil column fixed; it "
       "needs soil constituent transport (SOIL_CON_TRANS), which keeps that column.\n"},
      {"OV_CON_TRANS\nSOIL_STATIC_CONC\n",
       "Error: SOIL_STATIC_CONC holds the constituent concentrations of the soil column fixed; it "
       "needs soil constituent transport (SOIL_CON_TRANS), which keeps that column.\n"},
      {"CONTAM_MAP c.asc\n",
       "Error: CONTAM_MAP gives the land load of the first overland constituent; it needs "
       "overland contaminant transport (OV_CON_TRANS).\n"},
      {"NUTRIENTS\nSOILS_NSM_P\n",
       "Error: SOILS_NSM_N, SOILS_NSM_P and SOILS_NSM_C fill the nutrient pools of the soil "
       "column; they need soil constituent transport (SOIL_CON_TRANS), which keeps that "
       "column.\n"},
      {"NUTRIENTS\nSOILS_NSM_C\nSOILS_NSM_N\n",
       "Error: SOILS_NSM_N, SOILS_NSM_P and SOILS_NSM_C fill the nutrient pools of the soil "
       "column; they need soil constituent transport (SOIL_CON_TRANS), which keeps that "
       "column.\n"},
  };
  for (const row& r : rows) {
    std::string out;
    check(base_cards + r.cards, &out);
    EXPECT_EQ(out, r.message) << r.cards;
    EXPECT_EQ(run_error.error_code, error_code_own_message) << r.cards;
  }
}

TEST_F(OptionChecks, CardsOfBuiltInputsAndInertCardsAreAccepted) {
  const std::string accepted[] = {
      "",
      "GREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\nMOISTURE m.asc\n",
      "INF_REDIST\nPORE_INDEX i.asc\nRESIDUAL_SAT r.asc\nREAD_SM_HOTSTART sm.asc\n"
      "WRITE_SM_HOTSTART sm_end.asc\n",
      "INF_LAYERED_SOIL\nSOIL_TYPE_MAP s.asc\nSOIL_LAYER_INPUT_FILE layers.txt\n",
      // The Sacramento basin without channels: its outflow leaves at the outlet.
      "SACRAMENTO sac.txt\n",
      // Soil moisture at listed cells and its hotstart map, from the soils that keep it.
      "INF_REDIST\nPORE_INDEX i.asc\nRESIDUAL_SAT r.asc\nIN_THETA_LOCATION cells.txt\n"
      "OUT_THETA_LOCATION theta.out\n",
      long_term_cards + "IN_THETA_LOCATION cells.txt\nOUT_THETA_LOCATION theta.out\n",
      "INF_LAYERED_SOIL\nSOIL_TYPE_MAP s.asc\nSOIL_LAYER_INPUT_FILE layers.txt\n"
      "WRITE_SM_HOTSTART sm_end.asc\n",
      "INF_RICHARDS\nIN_THETA_LOCATION cells.txt\nOUT_THETA_LOCATION theta.out\n"
      "WRITE_SM_HOTSTART sm_end.asc\n",
      "WATER_TABLE wt.asc\n",  // a water table without groundwater flow
      "INTERCEPTION\nSTORAGE_CAPACITY s.asc\nINTERCEPTION_COEFF i.asc\n",
      "DIKE_MAP d.asc\nLOWSPOT_FILE s.txt\n",
      "OVERLAND_LAKE_MAP l.asc\nOVERLAND_LAKE_FILE l.txt\n",
      "RETEN_DEPTH r.asc\nROUGHNESS n.asc\nREAD_OV_HOTSTART ov.asc\n",
      // Files written at the end of a run.
      "WRITE_OV_HOTSTART ov_end.asc\nADJUST_ELEV elev_end.asc\n",
      // The flood maxima: of the cells alone, of the cells and the channel nodes.
      "FLOOD_GRID flood.dat\n",
      "CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nFLOOD_GRID flood.dat\nFLOOD_STREAM flood.out\n",
      // The ADE overland schemes and overland boundary cells.
      "OVERTYPE ade\n",
      "OVERTYPE ade-pc\n",
      "OV_BOUNDARY\n",
      // Over the Richards columns the overland constituents and the nutrient species leave the
      // water with the depth the columns take in.
      "INF_RICHARDS\nOV_CON_TRANS\n",
      "INF_RICHARDS\nNUTRIENTS\n",
      // Overland and soil constituents and the nutrients over the layered soil, in event and
      // long-term runs.
      "INF_LAYERED_SOIL\nSOIL_TYPE_MAP s.asc\nSOIL_LAYER_INPUT_FILE layers.txt\nOV_CON_TRANS\n"
      "SOIL_CON_TRANS\nNUTRIENTS\n",
      "LONG_TERM\nET_CALC_DEARDORFF\nALBEDO a.asc\nINF_LAYERED_SOIL\nSOIL_TYPE_MAP s.asc\n"
      "SOIL_LAYER_INPUT_FILE layers.txt\nOV_CON_TRANS\nSOIL_CON_TRANS\n",
      // And over a held water table.
      "INF_LAYERED_SOIL\nSOIL_TYPE_MAP s.asc\nSOIL_LAYER_INPUT_FILE layers.txt\nOV_CON_TRANS\n"
      "SOIL_CON_TRANS\nNUTRIENTS\nWATER_TABLE wt.asc\n",
      // Overland and soil constituents over single-layer Green and Ampt soil.
      "OV_CON_TRANS\n",
      "GREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\nMOISTURE m.asc\n"
      "OV_CON_TRANS\nSOIL_CON_TRANS\n",
      "GREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\nMOISTURE m.asc\n"
      "OV_CON_TRANS\nSOIL_CON_TRANS\nSOIL_STATIC_CONC\n",
      // ... and in a long-term run over the Green and Ampt soil it keeps by redistribution.
      long_term_cards + "PORE_INDEX i.asc\nRESIDUAL_SAT r.asc\nOV_CON_TRANS\nSOIL_CON_TRANS\n",
      // A long-term run that starts with snow, whose melt enters the constituents' cells clean.
      base_cards + long_term_cards + "INIT_SWE_DEPTH 0.1\nOV_CON_TRANS\n",
      // Overland and soil constituents over a water table or an aquifer that seeps onto the
      // surface, under single-layer Green and Ampt.
      "GREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\nMOISTURE m.asc\n"
      "WATER_TABLE wt.asc\nOV_CON_TRANS\n",
      groundwater_cards +
          "GREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\nMOISTURE m.asc\n"
          "OV_CON_TRANS\nSOIL_CON_TRANS\n",
      groundwater_cards +
          "GREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\nMOISTURE m.asc\n"
          "SOIL_CON_TRANS\nNUTRIENTS\n",
      // ... and under the Richards columns or without an infiltration scheme, held or simulated,
      // where the water the table gives the surface carries the groundwater concentration.
      "WATER_TABLE wt.asc\nOV_CON_TRANS\n",
      "NUTRIENTS\nWATER_TABLE wt.asc\n",
      groundwater_cards + "OV_CON_TRANS\n",
      groundwater_cards + "NUTRIENTS\n",
      "INF_RICHARDS\nOV_CON_TRANS\nWATER_TABLE wt.asc\n",
      "INF_RICHARDS\nNUTRIENTS\nWATER_TABLE wt.asc\n",
      groundwater_cards + "INF_RICHARDS\nAQUIFER_DELTA_Z 0.1\nOV_CON_TRANS\nNUTRIENTS\n",
      // ... and under the redistribution soil over a simulated aquifer or a fixed table, in
      // event and long-term runs.
      long_term_cards + groundwater_cards + "OV_CON_TRANS\nSOIL_CON_TRANS\n",
      groundwater_cards + "INF_REDIST\nOV_CON_TRANS\n",
      long_term_cards + "WATER_TABLE wt.asc\nOV_CON_TRANS\n",
      long_term_cards +
          "PORE_INDEX i.asc\nRESIDUAL_SAT r.asc\nWATER_TABLE wt.asc\nOV_CON_TRANS\n"
          "SOIL_CON_TRANS\nNUTRIENTS\n",
      "INF_REDIST\nPORE_INDEX i.asc\nRESIDUAL_SAT r.asc\nWATER_TABLE wt.asc\nOV_CON_TRANS\n",
      "INF_REDIST\nPORE_INDEX i.asc\nRESIDUAL_SAT r.asc\nWATER_TABLE wt.asc\nNUTRIENTS\n",
      // ... and in an event run over the redistribution soil.
      "INF_REDIST\nPORE_INDEX i.asc\nRESIDUAL_SAT r.asc\nOV_CON_TRANS\nSOIL_CON_TRANS\n",
      "INF_REDIST\nPORE_INDEX i.asc\nRESIDUAL_SAT r.asc\nSOIL_CON_TRANS\nNUTRIENTS\n",
      // The nutrients with their soil pools, in a long-term run over the same soil.
      long_term_cards + "PORE_INDEX i.asc\nRESIDUAL_SAT r.asc\nSOIL_CON_TRANS\nNUTRIENTS\n",
      // The overland sediment step with its highest transport-capacity form.
      "SOIL_EROSION 6\n",
      // Constituents bound to the eroded overland sediment.
      "GREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\nMOISTURE m.asc\n"
      "SOIL_EROSION 2\nOV_CON_TRANS\nSOIL_CON_TRANS\nSEDIMENT_CONTAM\n",
      // ... and over the layered soil, whose first carrier layer the eroded soil comes from.
      "INF_LAYERED_SOIL\nSOIL_TYPE_MAP s.asc\nSOIL_LAYER_INPUT_FILE layers.txt\nSOIL_EROSION 2\n"
      "OV_CON_TRANS\nSOIL_CON_TRANS\nSEDIMENT_CONTAM\n",
      // Overland constituents and the nutrient species in overland lakes.
      "OVERLAND_LAKE_MAP l.asc\nOVERLAND_LAKE_FILE l.txt\nOV_CON_TRANS\n",
      "NUTRIENTS\nOVERLAND_LAKE_MAP l.asc\nOVERLAND_LAKE_FILE l.txt\n",
      // The nutrient species into channels that carry no constituents: lost to the stream.
      "NUTRIENTS\nCHAN_EXPLIC\nCHANNEL_INPUT chan.txt\n",
      "NUTRIENTS\nCHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nOUT_HYD_NO3 no3\nTOTAL_OV_N tn.dat\n",
      // Overland constituents into the channel network, carried on by the channel constituents.
      "CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nOV_CON_TRANS\nCHAN_CON_TRANS\nCHAN_DECAY_COEF 1\n",
      // ... and out through the stream beds.
      "CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nOV_CON_TRANS\nCHAN_CON_TRANS\nSTREAM_LOSS\n",
      // ... with the loads of the channel point sources.
      "CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nOV_CON_TRANS\nCHAN_CON_TRANS\n"
      "CHAN_POINT_INPUT points.txt\n",
      // ... and bound to the wash load the channels carry.
      "GREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\nMOISTURE m.asc\n"
      "SOIL_EROSION 2\nCHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nOV_CON_TRANS\nCHAN_CON_TRANS\n"
      "SOIL_CON_TRANS\nSEDIMENT_CONTAM\n",
      // Overland constituents handed to channels that carry none.
      "CHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nOV_CON_TRANS\n",
      // ... with the bound share the sediment hands them.
      "GREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\nMOISTURE m.asc\n"
      "SOIL_EROSION 2\nCHAN_EXPLIC\nCHANNEL_INPUT chan.txt\nOV_CON_TRANS\n"
      "SOIL_CON_TRANS\nSEDIMENT_CONTAM\n",
      // The constituent maps, link/node datasets and the overland concentration map.
      "OV_CON_TRANS\nALL_CONTAM_OUTPUT\nOV_CON_MAP conc.dat\n",
      // The analyzer file and the coupling with the reservoir model.
      "ANALYZERS watch.ana\n",
      "R7_INPUT r7.txt\nR7_FLUXES\nR7_SEGMENT_MAP seg.asc\nR7_NODES_TO_SEGS seg.txt\n",
      // One event at a time inside TEV, exchanged with VOLP.
      "TEV\nVOLP veg.txt\nTEV_EVENT_NUM 3\nVOLP_FIRST\nMOIST_FROM_VOLP m.asc\n",
      // Several events in one run, exchanged with VOLP in between.
      "TEV\nVOLP veg.txt\nMOIST_FROM_VOLP m.asc\nROUGH_FROM_VOLP r.asc\n",
      "TEV\nVOLP veg.txt\nGREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\n"
      "MOISTURE m.asc\nKSAT_FROM_VOLP k.asc\n",
      // ... with the redistribution soil, whose zones take VOLP's moisture, and with processes
      // that keep schedules of their own, for which the run steps the dry spell.
      "TEV\nVOLP veg.txt\nINF_REDIST\nPORE_INDEX i.asc\nRESIDUAL_SAT r.asc\nMOIST_FROM_VOLP "
      "m.asc\n",
      "TEV\nVOLP veg.txt\nGREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\n"
      "MOISTURE m.asc\nOV_CON_TRANS\nSOIL_CON_TRANS\n",
      "TEV\nVOLP veg.txt\nSOIL_EROSION 2\n",
      "TEV\nVOLP veg.txt\nINF_LAYERED_SOIL\nSOIL_TYPE_MAP s.asc\nSOIL_LAYER_INPUT_FILE layers.txt\n"
      "MOIST_FROM_VOLP m.asc\n",
      // ... and with the Richards columns, whose root zones take VOLP's moisture.
      "TEV\nVOLP veg.txt\nINF_RICHARDS\nSOIL_TYPE_MAP s.asc\nSOIL_LAYER_INPUT_FILE layers.txt\n"
      "MOIST_FROM_VOLP m.asc\n",
      // Groundwater with wells or a flux table, under a grid without channels.
      groundwater_cards + "USE_WELLS\n",
      groundwater_cards +
          "GREEN_AMPT\nCONDUCTIVITY k.asc\nCAPILLARY c.asc\nPOROSITY p.asc\n"
          "MOISTURE m.asc\n",
      // XY point outputs, from a point file or an inset mask.
      "XYBDYOUTPUT_PTS points.txt\nXYBDYOUTPUT_OVDEP ov.xy\n",
      "XYBDYOUTPUT_MASK inset.asc\nXYBDYOUTPUT_STFLOW st.xy\n",
      // Cards that only act together with a process refused above change nothing alone.
      "USE_WELLS\nHMET_SAMSON h.txt\nSUPERLINK_JUNC_LOCATION j.txt\nCHANNEL_INPUT chan.txt\n",
  };
  for (const std::string& cards : accepted) {
    auto ms = check(base_cards + cards);
    ASSERT_EQ(run_error.error_code, 0) << cards;
    stdout_capture capture;
    check_inputs_supported(*ms);
    EXPECT_EQ(capture.stop(), "") << cards;
    EXPECT_EQ(run_error.error_code, 0) << cards;
  }
  // A precipitation file instead of uniform rain.
  auto ms = check(grid_cards + "PRECIP_FILE rain.gag\nOVERTYPE explicit\n");
  check_inputs_supported(*ms);
  EXPECT_EQ(run_error.error_code, 0);
  // No OVERTYPE card chooses "ade", which runs.
  auto no_overtype = check(grid_cards + rain_cards);
  EXPECT_EQ(no_overtype->overland.ov_route_option, 2);
  check_inputs_supported(*no_overtype);
  EXPECT_EQ(run_error.error_code, 0);
}

// Both overland schemes route across the shores of channel lakes: a run with perennial lakes
// is not refused for its OVERTYPE.
TEST_F(OptionChecks, EveryOverlandSchemeRunsWithChannelLakes) {
  for (const char* scheme : {"explicit", "ade", "ade-pc"}) {
    auto ms = check(grid_cards + rain_cards + "OVERTYPE " + scheme + "\n");
    ASSERT_EQ(run_error.error_code, 0) << scheme;
    ms->perennial_lakes = 1;
    stdout_capture capture;
    check_inputs_supported(*ms);
    EXPECT_EQ(capture.stop(), "") << scheme;
    EXPECT_EQ(run_error.error_code, 0) << scheme;
  }
}

TEST_F(OptionChecks, GridFaultStopsTheRunBeforeAnyOutputIsWritten) {
  write_file(dir_.file("mask.asc"), "");
  write_file(dir_.file("elev.asc"), "");
  write_file(dir_.file("p.prj"), "TORVAPROJECT\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 10\nTOT_TIME 60\n" +
                                     rain_cards +
                                     "WATERSHED_MASK mask.asc\nELEVATION elev.asc\n"
                                     "SUMMARY sum.out\nOUTLET_HYDRO q.out\n");
  stdout_capture capture;
  run_project("p.prj", nullptr);
  const std::string out = capture.stop();
  EXPECT_NE(out.find("Error: the project file gives no positive number of rows (ROWS).\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_FALSE(file_exists(dir_.file("sum.out")));
  EXPECT_FALSE(file_exists(dir_.file("q.out")));
  EXPECT_EQ(out.find("Running...."), std::string::npos);
}

}  // namespace
