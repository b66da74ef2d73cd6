// Run parameters into the model state: what each card becomes in the working fields of the run,
// the derived names and values, the start of uniform rainfall, the hand-over of the nutrient
// container, the R7 inflow table and the failures of the step.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <set>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/run_parameters.h"
#include "run/entry.h"
#include "run/sim_clock.h"
#include "support/test_support.h"

using torva_test::file_exists;
using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace run_parameters_tests {

// A grid, a clock and uniform rainfall starting on 14 March 2005 at 06:30.
const std::string base_cards =
    "ROWS 2\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 10\nTOT_TIME 60\nPRECIP_UNIF\nRAIN_INTENSITY 12.5\n"
    "RAIN_DURATION 45\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n";

// Keeps the process-wide settings the step or the cards change and puts them back afterwards.
class RunParameters : public testing::Test {
 protected:
  // Writes a project of `cards` and reads it into a fresh model state; `out` gets what was
  // printed.
  std::unique_ptr<model_state> read(const std::string& cards, std::string* out = nullptr) {
    write_file(dir_.file("p.prj"), "TORVAPROJECT\n" + cards);
    auto ms = std::make_unique<model_state>();
    stdout_capture capture;
    read_run_parameters(*ms, "p.prj");
    const std::string printed = capture.stop();
    if (out != nullptr) *out = printed;
    return ms;
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
};

TEST_F(RunParameters, MissingProjectFileIsCode3AndLeavesTheConstructedValues) {
  auto ms = std::make_unique<model_state>();
  stdout_capture capture;
  testing::internal::CaptureStderr();
  read_run_parameters(*ms, "none.prj");
  testing::internal::GetCapturedStderr();
  const std::string out = capture.stop();
  EXPECT_EQ(out.rfind("reading run parameters from project file: none.prj\n", 0), 0u) << out;
  EXPECT_EQ(run_error.error_code, err_project_file_not_found);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(ms->output.flush_buffer, 5000);
  EXPECT_DOUBLE_EQ(ms->transport.soil_depth_cm, 40.0);
  EXPECT_EQ(ms->overland.ov_route_option, 1);
  EXPECT_EQ(ms->overland.uniform_rain, 0);
}

TEST_F(RunParameters, UniformRainfallStartsTheClockAtTheCardsDate) {
  std::string out;
  auto ms = read(base_cards + "END_TIME 2005 3 15 0 0\n", &out);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ms->overland.uniform_rain, 1);
  EXPECT_EQ(ms->overland.precip_file_on, 0);
  EXPECT_DOUBLE_EQ(ms->overland.rain_intensity, 12.5);
  EXPECT_DOUBLE_EQ(ms->overland.rain_duration, 45.0);
  EXPECT_EQ(ms->start_hhmm, 630);
  EXPECT_EQ(ms->start_yyyymmdd, 2005 * 10000 + 314);
  EXPECT_EQ(ms->start_from_cards, 1);
  EXPECT_EQ(ms->cur_year, 2005);
  EXPECT_EQ(ms->cur_month, 3);
  EXPECT_EQ(ms->cur_day, 14);
  EXPECT_EQ(ms->cur_hour, 6);
  EXPECT_EQ(ms->cur_minute, 30);
  const int scan[5] = {2005, 3, 14, 6, 30};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ms->scan_start_date[i], scan[i]) << i;
  // 1 January 2005 00:00 is Julian day 2453371.5; 14 March is 72 days later, 06:30 is 6.5 h.
  const double start = 2453371.5 + 72.0 + 6.5 / 24.0;
  EXPECT_NEAR(ms->current_time, start, 1e-9);
  EXPECT_DOUBLE_EQ(ms->hmet_start_jday, ms->current_time);
  EXPECT_DOUBLE_EQ(ms->event_start_jday[1], ms->current_time);
  EXPECT_EQ(ms->end_time_given, 1);
  EXPECT_NEAR(ms->end_time, 2453371.5 + 73.0, 1e-9);
  EXPECT_EQ(out,
            "reading run parameters from project file: p.prj\n\nfinished reading project file\n");

  // Without END_TIME there is no end time; with a precipitation file the start is the file's.
  auto file_run =
      read("ROWS 2\nCOLS 3\nPRECIP_FILE rain.gag\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\n");
  EXPECT_EQ(file_run->end_time_given, 0);
  EXPECT_EQ(file_run->overland.uniform_rain, 0);
  EXPECT_EQ(file_run->overland.precip_file_on, 1);
  EXPECT_EQ(file_run->start_from_cards, 0);
  EXPECT_EQ(file_run->overland.rain_inv_distance, 1);  // the reader's interpolation 0
  EXPECT_EQ(file_run->overland.rain_thiessen, 0);
  EXPECT_DOUBLE_EQ(file_run->current_time, 0.0);
  EXPECT_STREQ(file_run->input.names.precip_file, "rain.gag");
  auto thiessen = read("PRECIP_FILE rain.gag\nRAIN_THIESSEN\n");
  EXPECT_EQ(thiessen->overland.rain_inv_distance, 0);
  EXPECT_EQ(thiessen->overland.rain_thiessen, 1);
}

TEST_F(RunParameters, ClockCardsThatAreNoDatesStopTheRunBeforeTheClockIsSet) {
  const struct {
    const char* cards;  // after the base cards, so they win
    const char* message;
  } cases[] = {
      {"START_DATE 2112000 3 14\n",
       "Error: START_DATE 2112000 3 14 in the project file p.prj: year 2112000 is outside 0 to "
       "9999.\n"},
      {"START_DATE 2005 0 14\n", "START_DATE 2005 0 14 in the project file p.prj: month 0 is"},
      {"START_DATE 2005 3 32\n", "day 32 is outside 1 to 31.\n"},
      {"START_TIME 62222225\n",
       "Error: START_TIME 62222225 0 in the project file p.prj: hour 62222225 is outside 0 to "
       "24.\n"},
      {"START_TIME 6 60\n", "START_TIME 6 60 in the project file p.prj: minute 60 is outside"},
      {"END_TIME 2005 3 15 0 99999999\n",
       "Error: END_TIME 2005 3 15 0 99999999 in the project file p.prj: minute 99999999 is "
       "outside 0 to 59.\n"},
      {"END_TIME -4 13 1 0 0\n", "year -4 is outside 0 to 9999"},
      // Days a month does not have and minutes past the end of a day.
      {"START_DATE 2005 2 30\n",
       "Error: START_DATE 2005 2 30 in the project file p.prj: February 2005 has 28 days.\n"},
      {"START_DATE 2005 2 31\n", "START_DATE 2005 2 31 in the project file p.prj: February"},
      {"START_DATE 2005 4 31\n", "START_DATE 2005 4 31 in the project file p.prj: April"},
      {"START_TIME 24 59\n",
       "Error: START_TIME 24 59 in the project file p.prj: minute 59 of hour 24 is past the end "
       "of the day.\n"},
      {"END_TIME 2005 3 15 24 1\n", "END_TIME 2005 3 15 24 1 in the project file p.prj: minute"},
      {"END_TIME 2006 2 29 0 0\n", "END_TIME 2006 2 29 0 0 in the project file p.prj: February"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cards);
    run_error = error_state{};
    std::string out;
    auto ms = read(base_cards + c.cards, &out);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(run_error.error_code, error_code_own_message);
    EXPECT_EQ(ms->start_from_cards, 0);  // the clock was not set from the cards
    EXPECT_EQ(ms->end_time_given, 0);
  }

  // What the clock takes: a START_DATE of zeros (the card not given), the hour 24 that ends a
  // day, the last day of February in a leap year, and an END_TIME of year 0 (not given).
  const struct {
    const char* cards;
    double start;  // Julian date of the start
  } good[] = {
      {"START_DATE 0 0 0\nSTART_TIME 0 0\n", 1721028.5},
      {"START_TIME 24 0\n", 2453371.5 + 73.0},
      {"START_DATE 2004 2 29\nSTART_TIME 0 0\nEND_TIME 0 99 99 99 99\n", 2453005.5 + 59.0},
  };
  for (const auto& c : good) {
    SCOPED_TRACE(c.cards);
    run_error = error_state{};
    std::string out;
    auto ms = read(base_cards + c.cards, &out);
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
    EXPECT_EQ(run_error.error_code, 0);
    EXPECT_EQ(ms->start_from_cards, 1);
    EXPECT_NEAR(ms->current_time, c.start, 1e-9);
    EXPECT_EQ(ms->end_time_given, 0);
  }
}

TEST_F(RunParameters, OutputIntervalsMustCountInTheClocksSteps) {
  // With a 10 s step a minute is 6 steps: 357913941 minutes are 2147483646 steps, the most an
  // interval below 2^31 steps can be; one minute more cannot be counted.
  const struct {
    const char* cards;
    const char* message;
  } cases[] = {
      {"HYD_FREQ 357913942\n",
       "Error: HYD_FREQ 357913942 minutes in the project file p.prj counts 2147483652 time "
       "steps of 10 s; an output interval counts at most 2147483647 steps.\n"},
      {"HYD_FREQ 666666666\n", "HYD_FREQ 666666666 minutes in the project file p.prj counts"},
      {"HYD_FREQ nan\n", "HYD_FREQ nan minutes in the project file p.prj counts nan time steps"},
      {"HYD_FREQ 1e308\n", "HYD_FREQ 1e+308 minutes"},
      {"MAP_FREQ 357913942\n", "MAP_FREQ 357913942 minutes in the project file p.prj counts"},
      // The stream step, when smaller, is the step the clock counts.
      {"HYD_FREQ 60\nMAP_FREQ 60000000\nST_TIME_STEP 1\n",
       "MAP_FREQ 60000000 minutes in the project file p.prj counts 3600000000 time steps of 1 s"},
      {"TIMESTEP nan\n",
       "Error: TIMESTEP nan in the project file p.prj is not a number of seconds.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cards);
    run_error = error_state{};
    std::string out;
    auto ms = read(base_cards + c.cards, &out);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(run_error.error_code, error_code_own_message);
  }

  // Intervals that fit are counted by the clock as before; a negative map interval and an
  // unset one are left to it.
  const struct {
    const char* cards;
    int hyd_steps;
    int map_steps;
  } good[] = {
      {"HYD_FREQ 357913941\nMAP_FREQ 357913941\n", 2147483646, 2147483646},
      {"HYD_FREQ 1\nMAP_FREQ -5\n", 6, -5},
      {"HYD_FREQ 1\n", 6, 2160},
  };
  for (const auto& c : good) {
    SCOPED_TRACE(c.cards);
    run_error = error_state{};
    auto ms = read(base_cards + "OUTSLOPE 0.01\n" + c.cards);
    ASSERT_EQ(run_error.error_code, 0);
    stdout_capture capture;
    set_time_parameters(*ms);
    capture.stop();
    EXPECT_EQ(run_error.error_code, 0);
    EXPECT_EQ(ms->hyd_freq_steps, c.hyd_steps);
    EXPECT_EQ(ms->map_freq, c.map_steps);
  }
}

// The clock dates every step up to the last date a date card can give, 9999-12-31 24:59, and an
// event run counts its steps in an int. The base run starts on 14 March 2005 at 06:30 and lasts
// 60 minutes in steps of 10 s.
TEST_F(RunParameters, TheRunMustEndWithinTheClocksDatesAndSteps) {
  const std::string last_hour = "START_DATE 9999 12 31\nSTART_TIME 23 0\n";
  const struct {
    std::string cards;
    const char* message;
  } cases[] = {
      {"TIMESTEP inf\n",
       "Error: TIMESTEP inf in the project file p.prj is not a number of seconds.\n"},
      // A stream step does not hide an overland step that is no number.
      {"TIMESTEP -inf\nST_TIME_STEP 10\n",
       "Error: TIMESTEP -inf in the project file p.prj is not a number of seconds.\n"},
      {"TIMESTEP 1e15\n",
       "Error: TIMESTEP 1e+15 s in the project file p.prj takes the run's last step past "
       "9999-12-31 24:59, the latest date of the clock.\n"},
      // The last hour of the clock: the end at midnight, then one step of an hour past it.
      {last_hour + "TIMESTEP 3600\n",
       "Error: TIMESTEP 3600 s in the project file p.prj takes the run's last step past "
       "9999-12-31 24:59"},
      {last_hour + "TOT_TIME 120\n",
       "Error: TOT_TIME 120 minutes in the project file p.prj ends the run past 9999-12-31 "
       "24:59, the latest date of the clock.\n"},
      // A run of a precipitation file starts with its first event, read later: no earlier than
      // the first day of year 0, which a step of about 10140 years takes past year 9999.
      {"PRECIP_FILE rain.gag\nTIMESTEP 3.2e11\n", "Error: TIMESTEP 320000000000 s in the project"},
      // 357913942 minutes are 2147483652 steps of 10 s, one minute more than an int counts.
      {"TOT_TIME 357913942\n",
       "Error: TOT_TIME 357913942 minutes in the project file p.prj counts 2147483652 time steps "
       "of 10 s; a run counts at most 2147483646 steps.\n"},
      {"TOT_TIME 2147483647\n", "TOT_TIME 2147483647 minutes in the project file p.prj counts"},
      // The loop steps by the stream step when it is the smaller.
      {"TOT_TIME 60000000\nST_TIME_STEP 1\n",
       "TOT_TIME 60000000 minutes in the project file p.prj counts 3600000000 time steps of 1 s"},
      // An END_TIME before the end of TOT_TIME ends the run, and is then what is counted.
      {"TOT_TIME 2147483647\nEND_TIME 3005 3 14 6 30\n",
       "Error: END_TIME 3005 3 14 6 30 in the project file p.prj counts"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cards);
    run_error = error_state{};
    std::string out;
    auto ms = read(base_cards + c.cards, &out);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(run_error.error_code, error_code_own_message);
    EXPECT_EQ(ms->start_from_cards, 0);  // refused before anything was copied
  }

  // Sane clocks are kept: a day's step, the last hour of the clock in steps that stay inside
  // it, the most steps a run counts, a TOT_TIME that an earlier END_TIME cuts short, and the
  // TOT_TIME of a long-term run, which ends with its data and never reads it.
  const std::string good[] = {
      "TIMESTEP 86400\n",
      last_hour + "TIMESTEP 3500\n",
      last_hour + "TOT_TIME 110\nTIMESTEP 60\n",
      "TOT_TIME 357913941\n",
      "TOT_TIME 2147483647\nEND_TIME 2005 3 15 6 30\n",
      "LONG_TERM\nTOT_TIME 2147483647\nTIMESTEP 1\n",
  };
  for (const auto& cards : good) {
    SCOPED_TRACE(cards);
    run_error = error_state{};
    std::string out;
    auto ms = read(base_cards + cards, &out);
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
    EXPECT_EQ(run_error.error_code, 0);
    EXPECT_EQ(ms->start_from_cards, 1);
  }
}

// Uniform rainfall falls for RAIN_DURATION minutes, which the clock counts in steps of TIMESTEP
// in an int, at RAIN_INTENSITY millimetres per hour.
TEST_F(RunParameters, UniformRainfallMustBeANumberAndCountInSteps) {
  const struct {
    const char* cards;
    const char* message;
  } cases[] = {
      {"RAIN_INTENSITY inf\n",
       "Error: RAIN_INTENSITY inf in the project file p.prj is not a number of millimetres per "
       "hour.\n"},
      {"RAIN_INTENSITY nan\n", "Error: RAIN_INTENSITY nan in the project file p.prj"},
      {"RAIN_DURATION 357913942\n",
       "Error: RAIN_DURATION 357913942 minutes in the project file p.prj counts 2147483652 time "
       "steps of 10 s; a uniform rainfall counts at most 2147483647 steps.\n"},
      {"RAIN_DURATION 2147483647\nTIMESTEP 0.5\n",
       "RAIN_DURATION 2147483647 minutes in the project file p.prj counts 257698037640 time "
       "steps of 0.5 s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cards);
    run_error = error_state{};
    std::string out;
    auto ms = read(base_cards + c.cards, &out);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(run_error.error_code, error_code_own_message);
    EXPECT_EQ(ms->overland.uniform_rain, 0);
  }

  // The longest rainfall that counts, and a precipitation file's project, which does not read
  // the uniform rainfall cards.
  run_error = error_state{};
  auto longest = read(base_cards + "RAIN_DURATION 357913941\n");
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_DOUBLE_EQ(longest->overland.rain_duration, 357913941.0);
  auto from_file = read(base_cards + "PRECIP_FILE rain.gag\nRAIN_INTENSITY inf\n");
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(from_file->overland.precip_file_on, 1);
}

TEST_F(RunParameters, DerivedValuesAndNames) {
  auto ms = read(base_cards +
                 "EVENT_MIN_Q 0\nSOIL_MOIST_DEPTH 0.25\nTOP_LAYER_DEPTH 0.1\n"
                 "MIXING_LAYER_DEPTH 0.02\nCHAN_EXPLIC\nWRITE_CHAN_HOTSTART hot\n"
                 "READ_CHAN_HOTSTART old.hot\nVOLP veg.txt\nMOIST_TO_VOLP moist.grd\n"
                 "ET_DEMAND_FROM_VOLP et.grd\nRETENTION 2.5\nKINETICS_TIMESTEP_FACTOR 4\n");
  EXPECT_DOUBLE_EQ(ms->event_min_q, 0.05);
  EXPECT_DOUBLE_EQ(ms->transport.soil_depth_cm, 25.0);
  EXPECT_DOUBLE_EQ(ms->transport.layer2_depth_cm, 10.0);
  EXPECT_DOUBLE_EQ(ms->transport.layer1_depth_cm, 2.0);
  EXPECT_STREQ(ms->input.names.write_chan_discharge, "hot.qht");
  EXPECT_STREQ(ms->input.names.write_chan_depth, "hot.dht");
  EXPECT_EQ(ms->channel.write_chan_hotstart_on, 1);
  EXPECT_STREQ(ms->input.names.read_chan_depth, "old.hot");
  EXPECT_STREQ(ms->input.names.read_chan_discharge, "old.hot");
  EXPECT_EQ(ms->channel.read_chan_hotstart_on, 1);
  EXPECT_EQ(ms->output.volp, 1);
  EXPECT_STREQ(ms->output.volp_exchange_file, "exchange/veg.txt");
  EXPECT_EQ(ms->output.moist_to_volp, 1);
  EXPECT_STREQ(ms->output.moist_to_volp_file, "exchange/moist.grd");
  EXPECT_EQ(ms->output.et_demand_from_volp, 1);
  EXPECT_STREQ(ms->output.et_demand_from_volp_file, "exchange/et.grd");
  EXPECT_EQ(ms->overland.retention_on, 1);
  EXPECT_DOUBLE_EQ(ms->overland.uniform_retention, 2.5);
  EXPECT_DOUBLE_EQ(ms->transport.contam_factor, 4.0);
  EXPECT_STREQ(ms->input.names.data_file, "data1");
  EXPECT_DOUBLE_EQ(ms->input.soil_map_constant, 0.15);

  // A flow above the floor is kept; the reader's defaults give an event floor of 0.1 and
  // 40 cm of soil; no RETENTION gives no uniform retention.
  auto plain = read(base_cards + "EVENT_MIN_Q 0.5\n");
  EXPECT_DOUBLE_EQ(plain->event_min_q, 0.5);
  EXPECT_DOUBLE_EQ(read(base_cards)->event_min_q, 0.1);
  EXPECT_DOUBLE_EQ(plain->transport.soil_depth_cm, 40.0);
  EXPECT_DOUBLE_EQ(plain->overland.uniform_retention, 0.0);
  EXPECT_EQ(plain->overland.ov_route_option, 2);  // OVERTYPE default of the reader

  // The overland point-source card switches on the point sources the overland steps apply.
  EXPECT_EQ(plain->overland.ov_point_source, 0);
  EXPECT_EQ(read(base_cards + "OV_POINT_SOURCE sources.txt\n")->overland.ov_point_source, 1);
}

// Every card that names a file gives its own name, so that a name copied from the wrong card
// shows in the field that received it. The cards that switch the copies on (explicit channels,
// groundwater) come with them.
TEST_F(RunParameters, EveryFileNameCardLandsInItsOwnField) {
  // The name a card gives: its word in lower case and ".nm".
  auto name_of = [](std::string card) {
    for (char& ch : card) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return card + ".nm";
  };
  struct file_name_card {
    const char* card;
    char (run_file_names::*field)[1024];
    const char* ending;  // appended to the card's name
  };
  const file_name_card run_files[] = {
      {"ELEVATION", &run_file_names::elevation, ""},
      {"WATERSHED_MASK", &run_file_names::watershed_mask, ""},
      {"MOISTURE", &run_file_names::moisture, ""},
      {"CONDUCTIVITY", &run_file_names::conductivity, ""},
      {"CAPILLARY", &run_file_names::capillary, ""},
      {"POROSITY", &run_file_names::porosity, ""},
      {"PORE_INDEX", &run_file_names::pore_index, ""},
      {"RESIDUAL_SAT", &run_file_names::residual_sat, ""},
      {"ROUGHNESS", &run_file_names::roughness, ""},
      {"PRECIP_FILE", &run_file_names::precip_file, ""},
      {"LINKS", &run_file_names::links, ""},
      {"NODES", &run_file_names::nodes, ""},
      {"READ_CHAN_HOTSTART", &run_file_names::read_chan_depth, ""},
      {"READ_CHAN_HOTSTART", &run_file_names::read_chan_discharge, ""},
      {"WRITE_CHAN_HOTSTART", &run_file_names::write_chan_discharge, ".qht"},
      {"WRITE_CHAN_HOTSTART", &run_file_names::write_chan_depth, ".dht"},
      {"CHANNEL_INPUT", &run_file_names::channel_input, ""},
      {"SECTION_TABLE", &run_file_names::section_table, ""},
      {"SUMMARY", &run_file_names::summary, ""},
      {"OUTLET_HYDRO", &run_file_names::outlet_hydro, ""},
      {"SIG_OUTLET_HYDRO", &run_file_names::sig_outlet_hydro, ""},
      {"LAKE_OUTPUT", &run_file_names::lake_output, ""},
      {"VRO_HYDRO", &run_file_names::vro_hydro, ""},
      {"STORAGE_CAPACITY", &run_file_names::storage_capacity, ""},
      {"INTERCEPTION_COEFF", &run_file_names::interception_coeff, ""},
      {"RETEN_DEPTH", &run_file_names::reten_depth, ""},
      {"OUT_HYD_LOCATION", &run_file_names::out_hyd_location, ""},
      {"OUT_DEP_LOCATION", &run_file_names::out_dep_location, ""},
      {"OUT_CON_LOCATION", &run_file_names::out_con_location, ""},
      {"OUT_MASS_LOCATION", &run_file_names::out_mass_location, ""},
      {"CHAN_POINT_INPUT", &run_file_names::chan_point_input, ""},
      {"OV_POINT_SOURCE", &run_file_names::ov_point_source, ""},
      {"IN_THETA_LOCATION", &run_file_names::in_theta_location, ""},
      {"OUT_THETA_LOCATION", &run_file_names::out_theta_location, ""},
      {"CONTAM_MAP", &run_file_names::contam_map, ""},
      {"IN_HYD_LOCATION", &run_file_names::in_hyd_location, ""},
      {"IN_GWFLUX_LOCATION", &run_file_names::in_gwflux_location, ""},
      {"OUT_GWFLUX_LOCATION", &run_file_names::out_gwflux_location, ""},
      {"ALBEDO", &run_file_names::albedo, ""},
      {"VHEIGHT", &run_file_names::vheight, ""},
      {"TCOEFF", &run_file_names::tcoeff, ""},
      {"CANOPY", &run_file_names::canopy, ""},
      {"WILTING_POINT", &run_file_names::wilting_point, ""},
      {"MATERIALS", &run_file_names::materials, ""},
      {"SOIL_TYPE_MAP", &run_file_names::soil_type_map, ""},
      {"SOIL_LAYER_INPUT_FILE", &run_file_names::soil_layer_input_file, ""},
      {"MAPPING_TABLE", &run_file_names::mapping_table, ""},
      {"ST_MAPPING_TABLE", &run_file_names::st_mapping_table, ""},
      {"DIKE_MAP", &run_file_names::dike_map, ""},
      {"LOWSPOT_FILE", &run_file_names::lowspot_file, ""},
      {"OVERLAND_LAKE_MAP", &run_file_names::overland_lake_map, ""},
      {"OVERLAND_LAKE_FILE", &run_file_names::overland_lake_file, ""},
      {"STORM_SEWER", &run_file_names::storm_sewer, ""},
      {"GRID_PIPE", &run_file_names::grid_pipe, ""},
      {"SUPERLINK_JUNC_LOCATION", &run_file_names::superlink_junc_location, ""},
      {"SUPERLINK_NODE_LOCATION", &run_file_names::superlink_node_location, ""},
      {"SUPERLINK_JUNC_FLOW", &run_file_names::superlink_junc_flow, ""},
      {"SUPERLINK_NODE_FLOW", &run_file_names::superlink_node_flow, ""},
      {"HMET_SAMSON", &run_file_names::hmet_file, ""},
      {"STREAM_CELL", &run_file_names::stream_cell, ""},
      {"WATER_TABLE", &run_file_names::water_table, ""},
      {"GW_POROSITY_MAP", &run_file_names::gw_porosity_map, ""},
      {"GW_HYCOND_MAP", &run_file_names::gw_hycond_map, ""},
      {"GW_FLUXBOUNDTABLE", &run_file_names::gw_fluxboundtable, ""},
      {"GW_BOUNDFILE", &run_file_names::gw_boundfile, ""},
      {"GW_OUTPUT", &run_file_names::gw_output, ""},
      {"GW_WELL_LEVEL", &run_file_names::gw_well_level, ""},
      {"OUT_WELL_LOCATION", &run_file_names::out_well_location, ""},
      {"AQUIFER_BOTTOM", &run_file_names::aquifer_bottom, ""},
      {"SACRAMENTO", &run_file_names::sacramento, ""},
      {"FLOOD_GRID", &run_file_names::flood_grid, ""},
      {"FLOOD_STREAM", &run_file_names::flood_stream, ""},
      {"DAILY_OUTPUT", &run_file_names::daily_output, ""},
  };
  // The files exchanged with VOLP lie in its exchange folder.
  struct exchange_card {
    const char* card;
    char (output_state::*field)[1024];
  };
  const exchange_card exchange_files[] = {
      {"VOLP", &output_state::volp_exchange_file},
      {"MOIST_TO_VOLP", &output_state::moist_to_volp_file},
      {"KSAT_TO_VOLP", &output_state::ksat_to_volp_file},
      {"ROUGH_TO_VOLP", &output_state::rough_to_volp_file},
      {"POROS_TO_VOLP", &output_state::poros_to_volp_file},
      {"EROSIVITY_TO_VOLP", &output_state::erosivity_to_volp_file},
      {"CROP_FACT_TO_VOLP", &output_state::crop_fact_to_volp_file},
      {"NET_EROSION_TO_VOLP", &output_state::net_erosion_to_volp_file},
      {"MOIST_FROM_VOLP", &output_state::moist_from_volp_file},
      {"KSAT_FROM_VOLP", &output_state::ksat_from_volp_file},
      {"ROUGH_FROM_VOLP", &output_state::rough_from_volp_file},
      {"EROSIVITY_FROM_VOLP", &output_state::erosivity_from_volp_file},
      {"CROP_FACT_FROM_VOLP", &output_state::crop_fact_from_volp_file},
      {"ET_DEMAND_FROM_VOLP", &output_state::et_demand_from_volp_file},
  };

  std::string cards = base_cards + "CHAN_EXPLIC\nGW_SIMULATION\n";
  std::set<std::string> given;
  auto give = [&](const std::string& card) {
    if (given.insert(card).second) cards += card + " " + name_of(card) + "\n";
  };
  for (const file_name_card& f : run_files) give(f.card);
  for (const exchange_card& f : exchange_files) give(f.card);
  give("OPTIMIZE");
  give("BOUND_TS");

  std::unique_ptr<model_state> ms = read(cards);
  ASSERT_EQ(run_error.error_code, 0);
  for (const file_name_card& f : run_files)
    EXPECT_EQ(std::string(ms->input.names.*f.field), name_of(f.card) + f.ending) << f.card;
  for (const exchange_card& f : exchange_files)
    EXPECT_EQ(std::string(ms->output.*f.field), "exchange/" + name_of(f.card)) << f.card;
  EXPECT_EQ(std::string(ms->calibration.optimize_name), name_of("OPTIMIZE"));
  EXPECT_EQ(std::string(ms->channel.bound_ts), name_of("BOUND_TS"));
}

TEST_F(RunParameters, MethodCardsSetTheirSchemeFlags) {
  struct row {
    const char* cards;
    int green_ampt, inf_redist, inf_layered_soil, inf_richards, redistribution_on,
        continuous_redist;
  };
  const row infiltration[] = {
      {"", 0, 0, 0, 0, 0, 0},
      {"GREEN_AMPT\n", 1, 0, 0, 0, 0, 0},
      {"INF_REDIST\n", 0, 1, 0, 0, 1, 1},
      {"INF_REDIST\nNO_CONT_INF_REDIST\n", 0, 1, 0, 0, 1, 0},
      {"INF_LAYERED_SOIL\n", 0, 0, 1, 0, 1, 0},
      {"INF_RICHARDS\n", 0, 0, 0, 1, 0, 0},
      {"INF_RICHARDS\nGREEN_AMPT\n", 1, 0, 0, 0, 0, 0},  // the last card of the group wins
  };
  for (const row& r : infiltration) {
    auto ms = read(base_cards + r.cards);
    const subsurface_state& s = ms->subsurface;
    EXPECT_EQ(s.green_ampt, r.green_ampt) << r.cards;
    EXPECT_EQ(s.inf_redist, r.inf_redist) << r.cards;
    EXPECT_EQ(s.inf_layered_soil, r.inf_layered_soil) << r.cards;
    EXPECT_EQ(s.inf_richards, r.inf_richards) << r.cards;
    EXPECT_EQ(s.redistribution_on, r.redistribution_on) << r.cards;
    EXPECT_EQ(s.continuous_redist, r.continuous_redist) << r.cards;
  }

  struct channel_row {
    const char* cards;
    int explic, implicit, drain_init, mesh;
  };
  const channel_row channel[] = {
      {"", 0, 0, 0, 0},
      {"CHAN_PREISS\n", 0, 0, 0, 0},
      {"CHAN_DRAIN\n", 0, 1, 1, 0},
      {"CHAN_EXPLIC\n", 1, 0, 0, 0},
      {"DIFFUSIVE_WAVE\n", 1, 0, 0, 0},
      {"CHAN_MESH\n", 0, 0, 0, 1},
      {"CHAN_BACKWATER\n", 0, 1, 0, 0},
  };
  for (const channel_row& r : channel) {
    auto ms = read(base_cards + r.cards);
    EXPECT_EQ(ms->channel.chan_explic, r.explic) << r.cards;
    EXPECT_EQ(ms->channel.chan_implicit, r.implicit) << r.cards;
    EXPECT_EQ(ms->channel.chan_drain_init, r.drain_init) << r.cards;
    EXPECT_EQ(ms->channel.chan_mesh, r.mesh) << r.cards;
  }

  struct map_row {
    int map_type, ascii, dataset, alt;
  };
  for (const map_row& r :
       {map_row{0, 1, 0, 0}, map_row{1, 0, 1, 0}, map_row{2, 0, 1, 1}, map_row{3, 0, 0, 0}}) {
    auto ms = read(base_cards + "MAP_TYPE " + std::to_string(r.map_type) + "\n");
    EXPECT_EQ(ms->output.map_ascii, r.ascii) << r.map_type;
    EXPECT_EQ(ms->output.map_dataset, r.dataset) << r.map_type;
    EXPECT_EQ(ms->output.map_dataset_alt, r.alt) << r.map_type;
  }

  // The infiltration-rate maps need an infiltration scheme.
  EXPECT_EQ(read(base_cards + "RATE_OF_INFIL ri\n")->output.map_infil_rate, 0);
  EXPECT_EQ(read(base_cards + "RATE_OF_INFIL ri\nGREEN_AMPT\n")->output.map_infil_rate, 1);
}

TEST_F(RunParameters, ChannelOptionsTakeEffectOnlyWithExplicitRouting) {
  const std::string channel_cards =
      "OVERBANK_FLOW\nSTREAM_CELL sc.txt\nK_RIVER 1e-6\nM_RIVER 2.5\nM_LAKE 3\nBOUND_TS head\n"
      "CHAN_CON_TRANS\nOUT_CON_LOCATION con.out\nHOTSTART_IS_DEPTH\nCHAN_DECAY_COEF 0.3\n";
  auto without = read(base_cards + channel_cards);
  EXPECT_EQ(without->channel.overbank_flow, 0);
  EXPECT_EQ(without->channel.stream_cell_on, 0);
  EXPECT_STREQ(without->input.names.stream_cell, "");
  EXPECT_DOUBLE_EQ(without->channel.chan_gw_factor, 1.0);  // the constructor's value
  EXPECT_EQ(without->transport.chan_con_trans, 0);
  EXPECT_EQ(without->transport.con_active, 0);
  EXPECT_EQ(without->output.out_con_location_on, 0);

  auto with = read(base_cards + "CHAN_EXPLIC\n" + channel_cards);
  const channel_state& ch = with->channel;
  EXPECT_EQ(ch.overbank_flow, 1);
  EXPECT_EQ(ch.stream_cell_on, 1);
  EXPECT_STREQ(with->input.names.stream_cell, "sc.txt");
  EXPECT_DOUBLE_EQ(ch.k_river, 1e-6);
  EXPECT_DOUBLE_EQ(ch.chan_gw_factor, 2.5);
  EXPECT_DOUBLE_EQ(ch.m_lake, 3.0);
  EXPECT_EQ(ch.m_lake_flag, 0);
  EXPECT_EQ(ch.bound_ts_on, 1);
  EXPECT_STREQ(ch.bound_ts, "head");
  EXPECT_EQ(ch.hotstart_is_depth, 1);
  EXPECT_DOUBLE_EQ(ch.max_courant_number, 0.2);  // the reader's default
  EXPECT_EQ(with->transport.chan_con_trans, 1);
  EXPECT_EQ(with->transport.con_active, 1);
  EXPECT_DOUBLE_EQ(with->transport.chan_decay_coef, 0.3);
  EXPECT_EQ(with->output.out_con_location_on, 1);

  // Overland transport switches the constituent steps on by itself.
  auto overland = read(base_cards + "OV_CON_TRANS\n");
  EXPECT_EQ(overland->transport.ov_con_trans, 1);
  EXPECT_EQ(overland->transport.ov_con_active, 1);
  EXPECT_EQ(overland->transport.con_active, 1);
}

TEST_F(RunParameters, GroundwaterIsSimulatedOnlyWithAWaterTable) {
  auto no_table = read(base_cards + "GW_SIMULATION\nGW_UNIF_POROSITY 0.3\n");
  EXPECT_EQ(no_table->subsurface.gw_simulation, 0);
  EXPECT_EQ(no_table->subsurface.gw_unif_porosity_on, 0);
  EXPECT_EQ(no_table->channel.stream_loss, 0);

  auto ms = read(base_cards +
                 "WATER_TABLE wt.asc\nGW_SIMULATION\nGW_UNIF_POROSITY 0.3\nGW_HYCOND_MAP k.asc\n"
                 "GW_TIMESTEP 60\nGW_RELAX_COEFF 1.4\nAQUIFER_BOTTOM bot.asc\nGW_BOUNDFILE b.txt\n"
                 "GW_WELL_LEVEL wl.out\nOUT_WELL_LOCATION wells.txt\n");
  const subsurface_state& s = ms->subsurface;
  EXPECT_EQ(s.water_table_on, 1);
  EXPECT_EQ(s.gw_simulation, 1);
  EXPECT_EQ(ms->channel.stream_loss, 1);
  EXPECT_EQ(s.gw_unif_porosity_on, 1);
  EXPECT_DOUBLE_EQ(s.gw_unif_porosity, 0.3);
  EXPECT_EQ(s.gw_hycond_map_on, 1);
  EXPECT_DOUBLE_EQ(s.gw_time_step, 60.0);
  EXPECT_DOUBLE_EQ(s.gw_solve_factor, 1.4);
  EXPECT_DOUBLE_EQ(s.aquifer_delta_z, -999.9);  // the reader's "not given"
  EXPECT_DOUBLE_EQ(s.single_unsat_sat, 0.75);
  EXPECT_EQ(s.gw_well_level_on, 1);
  EXPECT_STREQ(ms->input.names.water_table, "wt.asc");
  EXPECT_STREQ(ms->input.names.gw_hycond_map, "k.asc");
  EXPECT_STREQ(ms->input.names.aquifer_bottom, "bot.asc");
  EXPECT_STREQ(ms->input.names.gw_boundfile, "b.txt");
  EXPECT_STREQ(ms->input.names.gw_well_level, "wl.out");
  EXPECT_STREQ(ms->input.names.out_well_location, "wells.txt");

  auto sacramento = read(base_cards + "SACRAMENTO sac.txt\n");
  EXPECT_EQ(sacramento->subsurface.sacramento, 1);
  EXPECT_EQ(sacramento->subsurface.topo_dex, 1);
  EXPECT_STREQ(sacramento->input.names.sacramento, "sac.txt");
  auto topo = read(base_cards + "SACRAMENTO sac.txt\nTOPO_INDEX\n");
  EXPECT_EQ(topo->subsurface.topo_dex, 0);
  EXPECT_EQ(topo->subsurface.topo_index, 1);
}

TEST_F(RunParameters, ParameterSourcesOfTheMapsAndTables) {
  auto ms = read(base_cards +
                 "MANNING_N 0.05\nROUGHNESS r.asc\nMAPPING_TABLE map.cmt\nALBEDO a.asc\n"
                 "INTERCEPTION\nCONDUCTIVITY k.asc\nST_MAPPING_TABLE st.cmt\n");
  EXPECT_EQ(ms->overland.manning_n_on, 1);
  EXPECT_DOUBLE_EQ(ms->overland.manning_n, 0.05);
  EXPECT_EQ(ms->overland.roughness_on, 1);  // both: the option checks refuse the pair
  EXPECT_EQ(ms->input.mapping_table_on, 1);
  EXPECT_STREQ(ms->input.names.mapping_table, "map.cmt");
  EXPECT_EQ(ms->input.st_mapping_table_on, 1);
  EXPECT_STREQ(ms->input.names.st_mapping_table, "st.cmt");
  EXPECT_EQ(ms->subsurface.moisture_on, 1);  // the mapping table may hold the moisture
  EXPECT_EQ(ms->subsurface.albedo_on, 1);
  EXPECT_EQ(ms->subsurface.vheight_on, 0);
  EXPECT_EQ(ms->subsurface.conductivity_on, 1);
  EXPECT_EQ(ms->subsurface.capillary_on, 0);
  EXPECT_EQ(ms->overland.interception_on, 1);
  for (int flag : ms->input.table_present) EXPECT_EQ(flag, 0);

  auto plain = read(base_cards);
  EXPECT_EQ(plain->overland.roughness_on, 0);
  EXPECT_EQ(plain->subsurface.moisture_on, 0);
  EXPECT_EQ(plain->overland.interception_on, 0);
}

TEST_F(RunParameters, NutrientContainerIsHandedToTheRun) {
  auto ms = read(base_cards + "NUTRIENTS\nOUT_HYD_NO3 no3\n");
  EXPECT_EQ(ms->transport.nutrients, 1);
  ASSERT_NE(ms->transport.nsm, nullptr);
  EXPECT_EQ(ms->cards.nsm, nullptr);
  EXPECT_EQ(ms->transport.nsm->hyd_out[1].on, 1);
  EXPECT_STREQ(ms->transport.nsm->hyd_out[1].base_name, "no3");

  auto none = read(base_cards);
  EXPECT_EQ(none->transport.nutrients, 0);
  EXPECT_EQ(none->transport.nsm, nullptr);
}

TEST_F(RunParameters, DatasetMapsAreRefusedWithCode5) {
  auto ms = read(base_cards + "NUTRIENTS\nMAP_TYPE 4\nR7_INPUT r7.txt\nGREEN_AMPT\n");
  EXPECT_EQ(run_error.error_code, err_zenf_not_compiled);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(ms->transport.nsm, nullptr);           // handed over before the refusal
  EXPECT_FALSE(file_exists(dir_.file("r7.txt")));  // no inflow table for a dataset run
  EXPECT_EQ(ms->subsurface.green_ampt, 0);         // nothing copied after the refusal
}

TEST_F(RunParameters, R7InflowTableGetsItsHeaderAndAFailedOpenIsReported) {
  auto ms = read(base_cards + "R7_INPUT r7.txt\n");
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ms->output.r7_input_flag, &ms->cards.r7_input_given);
  ASSERT_TRUE(r7_inflow_file.is_open());
  file_handle_close(r7_inflow_file);
  EXPECT_EQ(read_file(dir_.file("r7.txt")), "  output from TORVA\n\n    JDAY     QIN\n");

  // A second run writes a table of its own, without complaint about the first.
  std::string out;
  read(base_cards + "R7_INPUT r7.txt\n", &out);
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  file_handle_close(r7_inflow_file);

  auto fluxes = read(base_cards + "R7_FLUXES\n");
  EXPECT_EQ(fluxes->output.r7_input_flag, &fluxes->cards.r7_input_given);
  EXPECT_EQ(read(base_cards)->output.r7_input_flag, nullptr);

  auto failed = read(base_cards + "R7_INPUT nodir/r7.txt\n");
  EXPECT_EQ(run_error.error_code, err_file_not_open);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_STREQ(error_file_kind, "R7 inflow");
  EXPECT_STREQ(error_file_name, "nodir/r7.txt");
}

TEST_F(RunParameters, ProcessWideAndQuietCards) {
  pause_on_exit = 0;
  read(base_cards + "PAUSE\n");
  EXPECT_EQ(pause_on_exit, 1);
  read(base_cards);
  EXPECT_EQ(pause_on_exit, 1);  // stays set for the later runs of the process

  std::string out;
  auto quiet = read(base_cards + "SUPER_QUIET\n", &out);
  EXPECT_EQ(quiet->super_quiet, 1);
  EXPECT_EQ(out.find("finished reading project file"), std::string::npos);
  EXPECT_NE(out.find("reading run parameters from project file: p.prj\n"), std::string::npos);

  // FLUSH_BUFFER replaces the flush interval; FLOOD_GRID and FLOOD_STREAM their names.
  auto ms = read(base_cards + "FLUSH_BUFFER 20\nFLOOD_GRID fg.asc\nFLOOD_STREAM fs.out\n");
  EXPECT_EQ(ms->output.flush_buffer_on, 1);
  EXPECT_EQ(ms->output.flush_buffer, 20);
  EXPECT_EQ(ms->output.flood_grid, 1);
  EXPECT_STREQ(ms->input.names.flood_grid, "fg.asc");
  EXPECT_EQ(ms->output.flood_stream, 1);
  EXPECT_STREQ(ms->input.names.flood_stream, "fs.out");
}

}  // namespace run_parameters_tests
