// Project file and run-parameter records: the first-line check, every kind of card, the cards
// that change process-wide settings, the nutrient and XY cards, the project-folder pre-scan, and
// the construction, reset, defaults and release of the three records.
#include <gtest/gtest.h>
#include <omp.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/core/text_tokens.h"
#include "input/elevation_series.h"
#include "input/project_cards.h"
#include "input/project_file.h"
#include "input/replacement.h"
#include "input/time_series.h"
#include "run/entry.h"
#include "support/test_support.h"
#include "transport/nutrients/nsm_model_state.h"

using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// The three records as the model state holds them (on the heap: they are large).
struct records {
  std::unique_ptr<project_cards> cards = std::make_unique<project_cards>();
  grid_time_params grid;
  uniform_rain_params rain;
};

// What a read printed.
struct read_output {
  std::string out;  // standard output
  std::string err;  // standard error
};

// Keeps every process-wide setting that a project card can change and puts it back afterwards,
// and empties the per-run lists the cards fill.
class ProjectFileTest : public testing::Test {
 protected:
  // Reads `path` into `r` and returns what was printed.
  static read_output read_path(const std::string& path, records& r) {
    testing::internal::CaptureStderr();
    stdout_capture capture;
    read_project_file(path.c_str(), *r.cards, r.grid, r.rain);
    read_output printed;
    printed.out = capture.stop();
    printed.err = testing::internal::GetCapturedStderr();
    return printed;
  }

  // Writes a project with the accepted first line and `cards` below it, and reads it into `r`.
  read_output read_cards(const std::string& cards, records& r) {
    write_file(dir_.file("project.prj"), "TORVAPROJECT\n" + cards);
    return read_path(dir_.file("project.prj"), r);
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
};

using ProjectFileCards = ProjectFileTest;
using ProjectFileSettings = ProjectFileTest;
using ProjectFileNutrients = ProjectFileTest;
using ProjectFilePrescan = ProjectFileTest;
using ProjectFileRecords = ProjectFileTest;

// ---- First line -----------------------------------------------------------------------------

TEST_F(ProjectFileTest, FirstLineMustNameTheFormatExactly) {
  struct first_line_case {
    const char* text;
    bool accepted;
  };
  const first_line_case cases[] = {
      {"TORVAPROJECT\nROWS 3\n", true},
      {"BRENLOPROJECT\nROWS 3\n", true},
      {"TORVAPROJECT\r\nROWS 3\r\n", true},  // written on Windows
      {"TORVAPROJECT", true},                // no newline at all
      {"TORVAPROJECT \nROWS 3\n", false},    // trailing blank
      {"", false},                           // empty file
      {"torvaproject\nROWS 3\n", false},     // the word is case-sensitive
      {"TORVA PROJECT\nROWS 3\n", false},
      {"\nTORVAPROJECT\nROWS 3\n", false},
      {"ROWS 3\n", false},
  };
  for (const first_line_case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    run_error = error_state{};
    records r;
    write_file(dir_.file("p.prj"), c.text);
    const read_output printed = read_path(dir_.file("p.prj"), r);
    if (c.accepted) {
      EXPECT_EQ(printed.err, "");
      EXPECT_EQ(run_error.error_fatal, 0);
      // The records were reset: the constructor's latitude does not survive.
      EXPECT_EQ(r.grid.latitude, 0.0);
      EXPECT_EQ(r.grid.rows, std::string(c.text).find("ROWS") != std::string::npos ? 3 : 0);
    } else {
      // The three lines, then the report's newline, in order on standard output.
      EXPECT_EQ(printed.out,
                "File Does not Appear to be a Valid TORVA/BRENLO Project file\n"
                "Perhaps you Should Issue a 'dos2unix' Command if you are on a Unix machine?\n"
                "TORVA Terminating....\n\n");
      EXPECT_EQ(printed.err, "");
      // Reported at once: the run is stopped and the code is cleared.
      EXPECT_EQ(run_error.error_fatal, 1);
      EXPECT_EQ(run_error.error_code, 0);
      EXPECT_EQ(r.grid.latitude, 32.0);
      EXPECT_EQ(r.grid.rows, 0);
    }
    EXPECT_EQ(r.grid.project_open_failed, 0);
  }
}

TEST_F(ProjectFileTest, MissingFileSetsTheOpenFailureFlag) {
  records r;
  r.grid.project_open_failed = 0;
  const read_output printed = read_path("no_such.prj", r);
  EXPECT_NE(printed.out.find("Error opening project file named: no_such.prj\n"), std::string::npos)
      << printed.out;
  EXPECT_EQ(printed.err, "");
  EXPECT_EQ(r.grid.project_open_failed, 1);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(r.grid.latitude, 32.0);  // nothing was reset

  // A later successful read clears the flag.
  read_cards("ROWS 2\n", r);
  EXPECT_EQ(r.grid.project_open_failed, 0);
  EXPECT_EQ(r.grid.rows, 2);
}

// ---- Card words -----------------------------------------------------------------------------

TEST_F(ProjectFileTest, EveryKeywordGivesItsCodeInAnyCase) {
  int keywords = 0;
  for (const card_entry& e : project_card_table()) {
    ++keywords;
    std::string upper = e.keyword;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    std::string mixed = e.keyword;
    mixed[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(mixed[0])));
    for (const std::string& word : {std::string(e.keyword), upper, mixed}) {
      std::string line = "  " + word + "\t, arg1 arg2";
      stdout_capture capture;
      EXPECT_EQ(project_card_code(line), e.code) << word;
      EXPECT_EQ(capture.stop(), "") << word;
      EXPECT_EQ(line, "arg1 arg2") << word;  // the keyword and its separators are cut off
    }
  }
  EXPECT_EQ(keywords, 397);
}

TEST_F(ProjectFileTest, LinesThatAreNoCardGiveTheEmptyCode) {
  struct word_case {
    const char* line;
    const char* warning;  // printed warning, empty for none
  };
  const word_case cases[] = {
      {"", ""},
      {"   \t ", ""},
      {"# ROWS 3", ""},
      {"#ROWS 3", ""},
      {"VRO 1", ""},
      {"metric", ""},
      {"Simulation_Input x", ""},
      {"FOO 1", "Warning: unknown card found in the project file: foo\n"},
      {"ROWS10", "Warning: unknown card found in the project file: rows10\n"},
      {"Rows_", "Warning: unknown card found in the project file: rows_\n"},
  };
  for (const word_case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string line = c.line;
    stdout_capture capture;
    EXPECT_EQ(project_card_code(line), card_code_none);
    EXPECT_EQ(capture.stop(), c.warning);
  }
  // Only process rank 0 warns.
  process_info.process_rank = 1;
  std::string line = "FOO 1";
  stdout_capture capture;
  EXPECT_EQ(project_card_code(line), card_code_none);
  EXPECT_EQ(capture.stop(), "");
}

// ---- One table of cards per kind ------------------------------------------------------------

using record_check =
    std::function<void(const project_cards&, const grid_time_params&, const uniform_rain_params&)>;

struct card_case {
  const char* name;
  const char* cards;   // the lines after the first line
  const char* output;  // text the reading must print (a part of standard output), or null
  record_check check;
};

std::string long_word(char c, std::size_t n) {
  return std::string(n, c);
}

TEST_F(ProjectFileCards, EachKindOfCardFillsItsFields) {
  const std::string long_name = long_word('a', 3000);
  const std::string long_series = long_word('b', 300);
  const std::string long_cards = "SUMMARY " + long_name + "\nBOUND_TS " + long_series + "\n";
  const std::vector<card_case> cases = {
      // File names with a given-flag.
      {"file name with flag", "MAPPING_TABLE maps/table.cmt\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_STREQ(c.mapping_table, "maps/table.cmt");
         EXPECT_EQ(c.mapping_table_given, 1);
         EXPECT_EQ(c.albedo_given, 0);
       }},
      {"file name with flag, no argument", "ALBEDO\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_STREQ(c.albedo, "");
         EXPECT_EQ(c.albedo_given, 1);
       }},
      {"weather cards share one name", "HMET_SAMSON a.hmet\nHMET_OBU b.hmet\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_STREQ(c.hmet_file, "b.hmet");
         EXPECT_EQ(c.hmet_samson_given, 1);
         EXPECT_EQ(c.hmet_obu_given, 1);
         EXPECT_EQ(c.hmet_surfaways_given, 0);
       }},
      {"channel hotstart cards share two names",
       "EXPLIC_BACKWATER w.hot\nREAD_CHAN_HOTSTART r.hot\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_STREQ(c.write_chan_hotstart, "w.hot");
         EXPECT_EQ(c.explic_backwater_given, 1);
         EXPECT_EQ(c.write_chan_hotstart_given, 0);
         EXPECT_STREQ(c.read_chan_hotstart, "r.hot");
         EXPECT_EQ(c.read_chan_hotstart_given, 1);
         EXPECT_EQ(c.explic_hotstart_given, 0);
       }},
      {"precipitation file", "PRECIP_FILE gauges.gag\n", nullptr,
       [](auto&, auto&, auto& rain) {
         EXPECT_STREQ(rain.precip_file, "gauges.gag");
         EXPECT_EQ(rain.precip_source, 1);
       }},
      {"synonyms",
       "GW_FLUX_BOUNDTABLE flux.tbl\nEMBANKMENT dikes.map\nSACRAMENTO_PARS sac.txt\n"
       "READ_OV_HOTSTART ov.hot\n",
       nullptr,
       [](auto& c, auto& g, auto&) {
         EXPECT_STREQ(c.gw_fluxboundtable, "flux.tbl");
         EXPECT_EQ(g.gw_fluxboundtable_given, 1);
         EXPECT_STREQ(c.dike_map, "dikes.map");
         EXPECT_EQ(c.dike_map_given, 1);
         EXPECT_STREQ(c.sacramento, "sac.txt");
         EXPECT_EQ(c.sacramento_given, 1);
         EXPECT_STREQ(c.ov_init_depth, "ov.hot");
         EXPECT_EQ(c.ov_init_depth_given, 1);
       }},
      {"names longer than their field are cut", long_cards.c_str(), nullptr,
       [&](auto& c, auto&, auto&) {
         EXPECT_EQ(std::string(c.summary), long_name.substr(0, sizeof(card_name) - 1));
         EXPECT_EQ(c.bound_ts_given, 1);
         EXPECT_EQ(std::string(c.bound_ts), long_series.substr(0, series_name_size - 1));
       }},
      // File names without a flag.
      {"file names", "WATERSHED_MASK mask.msk\nCALIB_OBS_DATA obs.txt\nR7_SEGMENT_MAP seg.map\n",
       nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_STREQ(c.watershed_mask, "mask.msk");
         EXPECT_STREQ(c.calib_obs_data, "obs.txt");
         EXPECT_STREQ(c.r7_segment_map, "seg.map");
       }},
      // File names whose argument may be missing.
      {"MOISTURE without argument keeps the name", "MOISTURE m.map\nMOISTURE\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_STREQ(c.moisture, "m.map");
         EXPECT_EQ(c.moisture_given, 1);
       }},
      {"MOISTURE alone", "MOISTURE\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_STREQ(c.moisture, "");
         EXPECT_EQ(c.moisture_given, 1);
       }},
      {"AREA_REDUCTION without argument empties the name", "AREA_REDUCTION a.map\nAREA_REDUCTION\n",
       nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_STREQ(c.area_reduction, "");
         EXPECT_EQ(c.area_reduction_given, 1);
       }},
      {"GW_BOUNDFILE without argument does nothing", "GW_BOUNDFILE\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_STREQ(c.gw_boundfile, "");
         EXPECT_EQ(c.gw_boundfile_given, 0);
       }},
      {"GW_BOUNDFILE with argument", "GW_BOUNDFILE bound.txt\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_STREQ(c.gw_boundfile, "bound.txt");
         EXPECT_EQ(c.gw_boundfile_given, 1);
       }},
      // Numbers.
      {"numbers into the three records",
       "ROWS 12\nCOLS 7\nGRIDSIZE 30.5\nTOT_TIME 600\nTIMESTEP 10\nSTART_TIME 6 30\n"
       "LATITUDE 40.5\nLONGITUDE -105.25\nHYD_FREQ 15.5\nMAP_FREQ 60\nST_TIME_STEP 2.5\n"
       "RAIN_INTENSITY 25.4\nRAIN_DURATION 30\nK_RIVER 1e-6\nCHAN_PH 6.5\nRICHARDS_ITER_MAX 5\n"
       "X_FREQ 3\nM_RIVER 2.5\nM_LAKE 0.75\n",
       nullptr,
       [](auto& c, auto& g, auto& rain) {
         EXPECT_EQ(g.rows, 12);
         EXPECT_EQ(g.cols, 7);
         EXPECT_DOUBLE_EQ(g.gridsize, 30.5);
         EXPECT_EQ(g.tot_time, 600);
         EXPECT_DOUBLE_EQ(g.timestep, 10.0);
         EXPECT_EQ(g.start_hour, 6);
         EXPECT_EQ(g.start_minute, 30);
         EXPECT_DOUBLE_EQ(g.latitude, 40.5);
         EXPECT_DOUBLE_EQ(g.longitude, -105.25);
         EXPECT_DOUBLE_EQ(g.hyd_freq, 15.5);
         EXPECT_EQ(g.map_freq, 60);
         EXPECT_DOUBLE_EQ(g.st_time_step, 2.5);
         EXPECT_DOUBLE_EQ(rain.rain_intensity, 25.4);
         EXPECT_EQ(rain.rain_duration, 30);
         EXPECT_DOUBLE_EQ(c.k_river, 1e-6);
         EXPECT_DOUBLE_EQ(c.chan_ph, 6.5);
         EXPECT_EQ(c.richards_iter_max, 5);
         EXPECT_EQ(c.x_freq, 3);
         EXPECT_DOUBLE_EQ(c.m_river, 2.5);
         EXPECT_DOUBLE_EQ(c.m_lake, 0.75);
       }},
      {"missing or unreadable numbers are 0",
       "ROWS\nGRIDSIZE abc\nEVENT_MIN_Q\nCHAN_PH\nSTART_TIME 7\nX_FREQ\n", nullptr,
       [](auto& c, auto& g, auto&) {
         EXPECT_EQ(g.rows, 0);
         EXPECT_EQ(g.gridsize, 0.0);
         EXPECT_EQ(c.event_min_q, 0.0);  // its default 0.1 is overwritten
         EXPECT_EQ(c.chan_ph, 0.0);
         EXPECT_EQ(g.start_hour, 7);
         EXPECT_EQ(g.start_minute, 0);
         EXPECT_EQ(c.x_freq, 0);
       }},
      {"numbers with a flag",
       "MANNING_N 0.035\nGMT -6\nSOIL_EROSION\nFLUSH_BUFFER 100\nGW_UNIF_HYCOND 1e-4\n", nullptr,
       [](auto& c, auto& g, auto&) {
         EXPECT_DOUBLE_EQ(c.manning_n, 0.035);
         EXPECT_EQ(c.manning_n_given, 1);
         EXPECT_DOUBLE_EQ(g.gmt, -6.0);
         EXPECT_EQ(g.gmt_given, 1);
         EXPECT_EQ(c.soil_erosion, 0);  // absent value: its default 1 is overwritten
         EXPECT_EQ(c.soil_erosion_given, 1);
         EXPECT_EQ(c.flush_buffer, 100);
         EXPECT_EQ(c.flush_buffer_given, 1);
         EXPECT_DOUBLE_EQ(c.gw_unif_hycond, 1e-4);
         EXPECT_EQ(c.gw_unif_hycond_given, 1);
       }},
      // Flags.
      {"flags", "INTERCEPTION\nQOUT_CFS\nQUIET\nSOIL_CONTAM\nR7_FLUXES\nLONG_TERM extra words\n",
       nullptr,
       [](auto& c, auto& g, auto&) {
         EXPECT_EQ(c.interception_coeff_given, 1);
         EXPECT_EQ(c.storage_capacity_given, 1);
         EXPECT_STREQ(c.interception_coeff, "");
         EXPECT_EQ(g.qout_cfs, 1);
         EXPECT_EQ(g.quiet, 1);
         EXPECT_EQ(c.soil_con_trans_given, 1);
         EXPECT_EQ(c.r7_fluxes_given, 1);
         EXPECT_EQ(c.long_term_given, 1);
       }},
      // Method choices: the last card of a group wins.
      {"channel routing", "CHAN_PREISS\nDIFFUSIVE_WAVE\n", nullptr,
       [](auto& c, auto& g, auto&) {
         EXPECT_EQ(g.chan_scheme, 3);
         EXPECT_EQ(c.non_ortho_channels_given, 1);
       }},
      {"channel routing, last wins", "CHAN_EXPLIC\nCHAN_BACKWATER\n", nullptr,
       [](auto& c, auto& g, auto&) {
         EXPECT_EQ(g.chan_scheme, 5);
         EXPECT_EQ(c.non_ortho_channels_given, 1);  // set by CHAN_EXPLIC, not cleared
       }},
      {"infiltration", "INF_RICHARDS\nGREEN_AMPT\n", nullptr,
       [](auto&, auto& g, auto&) { EXPECT_EQ(g.inf_scheme, 1); }},
      {"precipitation source", "PRECIP_FILE g.gag\nPRECIP_UNIF\n", nullptr,
       [](auto&, auto&, auto& rain) {
         EXPECT_EQ(rain.precip_source, 0);
         EXPECT_STREQ(rain.precip_file, "g.gag");
       }},
      {"gauge interpolation", "RAIN_THIESSEN\n", nullptr,
       [](auto&, auto&, auto& rain) { EXPECT_EQ(rain.rain_interpolation, 1); }},
      {"gauge interpolation, last wins", "RAIN_THIESSEN\nRAIN_INV_DISTANCE\n", nullptr,
       [](auto&, auto&, auto& rain) { EXPECT_EQ(rain.rain_interpolation, 0); }},
      {"soil nutrient kinds", "SOILS_NSM_P\nSOILS_NSM_C\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_EQ(c.soils_nsm_p, 2);
         EXPECT_EQ(c.soils_nsm_c, 2);
         EXPECT_EQ(c.soils_nsm_n, 0);
       }},
      // Cards with their own handling.
      {"units", "UNITS 1\n", "Units flag = 1\n",
       [](auto&, auto& g, auto&) { EXPECT_EQ(g.units, 1); }},
      {"start date and end time", "START_DATE 2005 3 14\nEND_TIME 2006 1 2 3 4\n", nullptr,
       [](auto&, auto& g, auto&) {
         EXPECT_EQ(g.start_year, 2005);
         EXPECT_EQ(g.start_month, 3);
         EXPECT_EQ(g.start_day, 14);
         EXPECT_EQ(g.end_year, 2006);
         EXPECT_EQ(g.end_month, 1);
         EXPECT_EQ(g.end_day, 2);
         EXPECT_EQ(g.end_hour, 3);
         EXPECT_EQ(g.end_minute, 4);
       }},
      {"retention map", "RETEN_DEPTH ret.map\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_STREQ(c.reten_depth, "ret.map");
         EXPECT_EQ(c.reten_depth_given, 1);
         EXPECT_EQ(c.retention_given, 0);
       }},
      {"retention map without name", "RETEN_DEPTH\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_EQ(c.reten_depth_given, 1);
         EXPECT_EQ(c.retention_given, 0);
       }},
      {"retention depth written as RETEN_DEPTH", "RETEN_DEPTH 2.5\n",
       "Warning: Incorrect use of RETEN_DEPTH card\n  Usage: RETEN_DEPTH <filename>-or-\n"
       "RETENTION <value>  -or-\nRETEN_DEPTH \n  Using 2.500000 for the uniform retention "
       "depth\n\n",
       [](auto& c, auto&, auto&) {
         EXPECT_DOUBLE_EQ(c.retention, 2.5);
         EXPECT_EQ(c.retention_given, 1);
         EXPECT_EQ(c.reten_depth_given, 0);
       }},
      {"retention maps whose names begin like numbers stay maps",
       "RETEN_DEPTH infil.asc\nINIT_SWE_DEPTH 5yr_swe.asc\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_STREQ(c.reten_depth, "infil.asc");
         EXPECT_EQ(c.reten_depth_given, 1);
         EXPECT_EQ(c.retention_given, 0);
         EXPECT_STREQ(c.init_swe_map, "5yr_swe.asc");
         EXPECT_EQ(c.init_swe_kind, 1);
         EXPECT_EQ(c.init_swe_depth, 0.0);
       }},
      {"uniform snow water", "INIT_SWE_DEPTH 0.25\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_DOUBLE_EQ(c.init_swe_depth, 0.25);
         EXPECT_EQ(c.init_swe_kind, 3);
         EXPECT_STREQ(c.init_swe_map, "");
       }},
      {"TEV event number", "TEV_EVENT_NUM 4\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_EQ(c.tev_event_num, 4);
         EXPECT_EQ(c.tev_event_num_given, 1);
       }},
      {"TEV event number absent", "TEV_EVENT_NUM 4\nTEV_EVENT_NUM\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_EQ(c.tev_event_num, -1);
         EXPECT_EQ(c.tev_event_num_given, 1);
       }},
      {"TEV event number no number", "TEV_EVENT_NUM x\n", nullptr,
       [](auto& c, auto&, auto&) { EXPECT_EQ(c.tev_event_num, 0); }},
      {"values echoed and not kept", "ALPHA 0.5\nCHANNEL_DELTAT 10\nQ_MIN\n",
       "Alpha = 0.500000\nChannel time step = 10\nMinimum channel flow = 0.000000\n", nullptr},
      {"soil coefficients", "NO3_KM 0.5\nDP_KOC 12\n", nullptr,
       [](auto& c, auto&, auto&) {
         ASSERT_NE(c.nsm_soil_coeffs, nullptr);
         for (int slot = 0; slot < 12; ++slot) {
           const double expected = slot == 1 ? 0.5 : slot == 11 ? 12.0 : 0.0;
           EXPECT_EQ(c.nsm_soil_coeffs[slot], expected) << slot;
         }
       }},
      {"XY outputs",
       "XYBDYOUTPUT_PTS pts.txt\nXYBDYOUTPUT_MASK mask.asc\nXYBDYOUTPUT_OVDEP ov.xy\n"
       "XYBDYOUTPUT_GWHEAD gw.xy\nXYBDYOUTPUT_STFLOW st.xy\n",
       nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_EQ(c.xy_output_given, 1);
         EXPECT_EQ(c.xy_output.point_kind, 1);
         EXPECT_STREQ(c.xy_output.input_name, "mask.asc");
         EXPECT_STREQ(c.xy_output.ovdep_name, "ov.xy");
         EXPECT_STREQ(c.xy_output.gwhead_name, "gw.xy");
         EXPECT_STREQ(c.xy_output.stflow_name, "st.xy");
       }},
      {"XY output points", "XYBDYOUTPUT_PTS pts.txt\n", nullptr,
       [](auto& c, auto&, auto&) {
         EXPECT_EQ(c.xy_output.point_kind, 0);
         EXPECT_STREQ(c.xy_output.input_name, "pts.txt");
       }},
      {"XY boundary inputs that do not open are reported and skipped",
       "XYBDYINPUT_OVDEP ov.xy\nXYBDYINPUT_GWHEAD gw.xy\nXYBDYINPUT_STFLOW st.xy\n"
       "XYBDYINPUT_STTIMESERIES sts.xy\nROWS 2\n",
       "Error getting new filename from ov.xy\n"
       "Error: unable to open overland xy boundary input file.\n"
       "Error getting new filename from gw.xy\n"
       "Error: unable to open groundwater xy boundary input file.\n"
       "Error getting new filename from st.xy\n"
       "Error: unable to open stream xy boundary input file.\n"
       "Error getting new filename from sts.xy\n"
       "Error: unable to open stream xy boundary input file.\n",
       [](auto& c, auto& g, auto&) {
         EXPECT_EQ(c.xy_input.num_ovpts, 0);
         EXPECT_EQ(c.xy_input.ov_series, nullptr);
         EXPECT_TRUE(c.xy_input.ovpts.empty());
         EXPECT_EQ(g.rows, 2);
       }},
      // Recognised cards without effect.
      {"ignored cards", "LAKE lake.txt\nLAKES_MASK m\nNTR_SUM 3\nVRO\nROWS 2\n", nullptr,
       [](auto&, auto& g, auto&) { EXPECT_EQ(g.rows, 2); }},
  };
  for (const card_case& c : cases) {
    SCOPED_TRACE(c.name);
    records r;
    const read_output printed = read_cards(c.cards, r);
    EXPECT_EQ(run_error.error_code, 0);
    EXPECT_EQ(printed.err, "");
    if (c.output != nullptr) {
      EXPECT_EQ(printed.out, c.output);
    }
    if (c.check) c.check(*r.cards, r.grid, r.rain);
  }
}

TEST_F(ProjectFileCards, OptionWords) {
  struct option_case {
    const char* card;
    int project_cards::*field;
    int expected;
  };
  const option_case cases[] = {
      {"OVERTYPE explicit", &project_cards::overtype, 1},
      {"OVERTYPE ADE-PC", &project_cards::overtype, 3},
      {"OVERTYPE Ade", &project_cards::overtype, 2},
      {"OVERTYPE 1", &project_cards::overtype, 1},
      {"OVERTYPE 7", &project_cards::overtype, 7},
      {"OVERTYPE adex", &project_cards::overtype, 2},  // no word of the list: unchanged
      {"OVERTYPE", &project_cards::overtype, 2},
      {"RICHARDS_K_OPTION ARITHMETIC", &project_cards::richards_k_option, 1},
      {"RICHARDS_K_OPTION geom", &project_cards::richards_k_option, 2},
      {"RICHARDS_K_OPTION harmonic", &project_cards::richards_k_option, 2},  // unchanged
      {"RICHARDS_C_OPTION Brooks", &project_cards::richards_c_option, 1},
      {"RICHARDS_C_OPTION havercamp", &project_cards::richards_c_option, 2},
      {"RICHARDS_C_OPTION other", &project_cards::richards_c_option, 0},  // unchanged
      {"RICHARDS_UPPER_OPTION green_ampt", &project_cards::richards_upper_option, 2},
      {"RICHARDS_UPPER_OPTION AVERAGE", &project_cards::richards_upper_option, 3},
      {"RICHARDS_UPPER_OPTION flux", &project_cards::richards_upper_option, 0},  // not default
      {"CALIB_COMP_DATA DAILY", &project_cards::calib_comp_data, 0},
      {"CALIB_COMP_DATA EVENTS", &project_cards::calib_comp_data, 1},
      {"CALIB_OBJ_FUNC RMSE", &project_cards::calib_obj_func, 0},
      {"CALIB_OBJ_FUNC HMLE", &project_cards::calib_obj_func, 1},
  };
  for (const option_case& c : cases) {
    SCOPED_TRACE(c.card);
    records r;
    read_cards(std::string(c.card) + "\n", r);
    EXPECT_EQ((*r.cards).*c.field, c.expected);
    EXPECT_EQ(run_error.error_code, 0);
  }
}

TEST_F(ProjectFileCards, CalibrationWordsNotInTheListStopTheReading) {
  struct stop_case {
    const char* card;
    int project_cards::*field;
    int code;
  };
  const stop_case cases[] = {
      {"CALIB_COMP_DATA daily", &project_cards::calib_comp_data, err_calib_comp_data_invalid},
      {"CALIB_COMP_DATA", &project_cards::calib_comp_data, err_calib_comp_data_invalid},
      {"CALIB_COMP_DATA \"DAILY\"", &project_cards::calib_comp_data, err_calib_comp_data_invalid},
      {"CALIB_OBJ_FUNC RMSE ", &project_cards::calib_obj_func,
       err_calib_obj_func_invalid},  // trailing blank
      {"CALIB_OBJ_FUNC rmse", &project_cards::calib_obj_func, err_calib_obj_func_invalid},
      {"CALIB_OBJ_FUNC RMSEX", &project_cards::calib_obj_func, err_calib_obj_func_invalid},
  };
  for (const stop_case& c : cases) {
    SCOPED_TRACE(c.card);
    run_error = error_state{};
    records r;
    read_cards(std::string("ROWS 4\n") + c.card + "\nCOLS 5\n", r);
    EXPECT_EQ(run_error.error_code, c.code);
    EXPECT_EQ((*r.cards).*c.field, 2);
    EXPECT_EQ(r.grid.rows, 4);
    EXPECT_EQ(r.grid.cols, 0);  // the card after it was not read
  }
}

TEST_F(ProjectFileCards, QuotesCaseCommentsAndUnknownWords) {
  records r;
  const read_output printed = read_cards(
      "# a comment line\n"
      "\n"
      "   \t\n"
      "#ROWS 99\n"
      "MAPPING_TABLE \"my maps/table one.cmt\"\n"
      "summary \"run output.sum\" trailing\n"
      "rows 3\n"
      "CoLs 4\n"
      "FOO_CARD 12\n"
      "GRIDSIZE30\n"
      "Watershed_Mask,mask.msk\n",
      r);
  EXPECT_STREQ(r.cards->mapping_table, "my maps/table one.cmt");
  EXPECT_STREQ(r.cards->summary, "run output.sum");
  EXPECT_EQ(r.grid.rows, 3);
  EXPECT_EQ(r.grid.cols, 4);
  EXPECT_EQ(r.grid.gridsize, 0.0);
  EXPECT_STREQ(r.cards->watershed_mask, "mask.msk");
  EXPECT_EQ(printed.out,
            "Warning: unknown card found in the project file: foo_card\n"
            "Warning: unknown card found in the project file: gridsize30\n");
  EXPECT_EQ(run_error.error_code, 0);
}

// The value of one card field as text, for comparing two sets of records field by field.
std::string field_text(const card_field& f, records& r) {
  struct visitor {
    records& r;
    std::string operator()(std::monostate) const { return ""; }
    std::string operator()(int project_cards::*p) const { return std::to_string(*r.cards.*p); }
    std::string operator()(double project_cards::*p) const {
      return testing::PrintToString(*r.cards.*p);
    }
    std::string operator()(card_name project_cards::*p) const { return *r.cards.*p; }
    std::string operator()(char (project_cards::*p)[series_name_size]) const { return *r.cards.*p; }
    std::string operator()(int grid_time_params::*p) const { return std::to_string(r.grid.*p); }
    std::string operator()(double grid_time_params::*p) const {
      return testing::PrintToString(r.grid.*p);
    }
    std::string operator()(int uniform_rain_params::*p) const { return std::to_string(r.rain.*p); }
    std::string operator()(card_name uniform_rain_params::*p) const { return r.rain.*p; }
    std::string operator()(double uniform_rain_params::*p) const {
      return testing::PrintToString(r.rain.*p);
    }
  };
  return std::visit(visitor{r}, f);
}

TEST_F(ProjectFileCards, WindowsLineEndsReadLikeUnixOnes) {
  const std::string project =
      "TORVAPROJECT\n"
      "# written on Windows\n"
      "\n"
      "WATERSHED_MASK \"mask file.msk\"\n"
      "MAPPING_TABLE table.cmt\n"
      "ROWS 12\n"
      "GRIDSIZE 30.5\n"
      "START_TIME 6 30\n"
      "START_DATE 2005 3 14\n"
      "MOISTURE\n"
      "AREA_REDUCTION\n"
      "GW_BOUNDFILE\n"
      "TEV_EVENT_NUM\n"
      "RETEN_DEPTH\n"
      "INTERCEPTION\n"
      "CHAN_EXPLIC\n"
      "GREEN_AMPT\n"
      "RAIN_THIESSEN\n"
      "OVERTYPE ade-pc\n"
      "RICHARDS_UPPER_OPTION average\n"
      "CALIB_COMP_DATA EVENT\n"
      "CALIB_OBJ_FUNC RMSE\n"
      "INIT_SWE_DEPTH 0.25\n"
      "MANNING_N 0.035\n"
      "NUTRIENTS\n"
      "AQ_ENV env.txt\n"
      "OV_INIT_NO3 1.5\n"
      "ST_INIT_DO\n"
      "OUT_HYD_DO do_out\n"
      "XYBDYOUTPUT_MASK mask.asc\n"
      "SUMMARY run.sum";
  std::string windows;
  for (char c : project) {
    if (c == '\n') windows += '\r';
    windows += c;
  }
  records unix_records;
  records windows_records;
  write_file(dir_.file("unix.prj"), project);
  write_file(dir_.file("windows.prj"), windows);
  const read_output unix_printed = read_path(dir_.file("unix.prj"), unix_records);
  ASSERT_EQ(run_error.error_code, 0);
  const read_output windows_printed = read_path(dir_.file("windows.prj"), windows_records);
  ASSERT_EQ(run_error.error_code, 0);
  EXPECT_EQ(windows_printed.out, unix_printed.out);
  EXPECT_EQ(windows_printed.err, "");

  // Every field the cards reach holds the same value after both reads.
  for (const card_entry& e : project_card_table()) {
    EXPECT_EQ(field_text(e.field, windows_records), field_text(e.field, unix_records)) << e.keyword;
    EXPECT_EQ(field_text(e.flag, windows_records), field_text(e.flag, unix_records)) << e.keyword;
  }
  // Spot checks that the values are the intended ones, not merely equal.
  const project_cards& c = *windows_records.cards;
  EXPECT_STREQ(c.watershed_mask, "mask file.msk");
  EXPECT_STREQ(c.summary, "run.sum");
  EXPECT_EQ(windows_records.grid.rows, 12);
  EXPECT_EQ(windows_records.grid.start_minute, 30);
  EXPECT_EQ(c.gw_boundfile_given, 0);
  EXPECT_EQ(c.tev_event_num, -1);
  EXPECT_EQ(c.reten_depth_given, 1);
  EXPECT_EQ(c.overtype, 3);
  EXPECT_EQ(c.richards_upper_option, 3);
  EXPECT_EQ(c.calib_comp_data, 1);
  EXPECT_EQ(c.calib_obj_func, 0);
  EXPECT_EQ(windows_records.rain.rain_interpolation, 1);
  ASSERT_NE(c.nsm, nullptr);
  ASSERT_NE(unix_records.cards->nsm, nullptr);
  EXPECT_STREQ(c.nsm->aq_env_file, "env.txt");
  EXPECT_EQ(c.nsm->ov_init[1].mode, 3);
  EXPECT_EQ(c.nsm->st_init[8].mode, 2);
  EXPECT_STREQ(c.nsm->hyd_out[8].base_name, "do_out");
  EXPECT_STREQ(c.xy_output.input_name, "mask.asc");
}

// ---- Cards that act on process-wide settings ------------------------------------------------

TEST_F(ProjectFileSettings, ProjectFolderWithBackslashes) {
  records r;
  read_cards("PROJECT_FOLDER C:\\proj\\run1\n", r);
  EXPECT_STREQ(r.cards->project_folder, "C:\\proj\\run1");
  EXPECT_STREQ(project_dir, "C:/proj/run1/");

  records empty;
  project_dir[0] = '\0';
  read_cards("PROJECT_PATH\n", empty);
  EXPECT_STREQ(empty.cards->project_folder, "");
  EXPECT_STREQ(project_dir, "");
}

TEST_F(ProjectFileSettings, ProjectFolderAppliesToTheCardsBelowIt) {
  std::filesystem::create_directory(dir_.file("sub"));
  write_file(dir_.file("sub/flows.ts"),
             "TORVA_TS\ninflow\nABSOLUTE\n2005 3 14 0 0 1.5\n2005 3 14 1 0 2.5\nEND_TS\n");
  write_file(dir_.file("sub/rating.es"), "TORVA_ES\nrating\n0.0 0.0\n1.0 5.0\nEND_ES\n");
  records r;
  const read_output printed =
      read_cards("PROJECT_FOLDER sub\nTIME_SERIES_FILE flows.ts\nELEV_SERIES_FILE rating.es\n", r);
  EXPECT_STREQ(project_dir, "sub/");
  ASSERT_NE(ts_list_head, nullptr);
  EXPECT_STREQ(ts_list_head->name, "inflow");
  EXPECT_EQ(ts_list_head->count, 2);
  EXPECT_EQ(ts_list_head->next, nullptr);
  ASSERT_NE(elev_series_list_head, nullptr);
  EXPECT_STREQ(elev_series_list_head->name, "rating");
  EXPECT_EQ(elev_series_list_head->count, 2);
  EXPECT_NE(printed.out.find("1 time series read from file flows.ts"), std::string::npos)
      << printed.out;
}

TEST_F(ProjectFileSettings, OutputFolder) {
  records r;
  read_cards("OUTPUT_FOLDER results\n", r);
  EXPECT_EQ(output_dir_set, 1);
  EXPECT_STREQ(output_dir, "results/");
  output_dir_set = 0;
  read_cards("REPLACE_FOLDER\n", r);
  EXPECT_EQ(output_dir_set, 1);
  EXPECT_STREQ(output_dir, "");
}

TEST_F(ProjectFileSettings, ReplacementCardsSubstituteTheLinesBelowTheValues) {
  write_file(dir_.file("params.txt"), "2\n[NROWS] \"%d\"\n[MASK] \"%s\"\n");
  write_file(dir_.file("values.txt"), "25 first.msk\n40 second.msk\n");
  records r;
  read_cards(
      "REPLACE_PARAMS params.txt\n"
      "ELEVATION [MASK]\n"  // read before the values: not substituted
      "REPLACE_LINE 2\n"
      "REPLACE_VALS values.txt\n"
      "ROWS [NROWS]\n"
      "WATERSHED_MASK [MASK]\n",
      r);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(replace_line_index, 1);
  EXPECT_EQ(replace_active, 1);
  EXPECT_STREQ(r.cards->elevation, "[MASK]");
  EXPECT_EQ(r.grid.rows, 40);
  EXPECT_STREQ(r.cards->watershed_mask, "second.msk");

  read_cards("REPLACE_LINE\n", r);
  EXPECT_EQ(replace_line_index, -1);
}

TEST_F(ProjectFileSettings, ThreadCount) {
  const int before = omp_get_max_threads();
  const int wanted = before == 3 ? 2 : 3;
  records r;
  read_output printed = read_cards("NUM_THREADS " + std::to_string(wanted) + "\n", r);
  EXPECT_EQ(printed.out, "Setting the thread level to " + std::to_string(wanted) + ".\n");
  EXPECT_EQ(omp_get_max_threads(), wanted);
  // The process context tells the count the loops use (the run-time line follows it).
  EXPECT_EQ(process_info.num_threads, wanted);

  printed = read_cards("NUM_THREADS\nNUM_THREADS -2\n", r);
  EXPECT_EQ(printed.out,
            "Error: unable to set the thread level to 0.\n"
            "Error: unable to set the thread level to -2.\n");
  EXPECT_EQ(omp_get_max_threads(), wanted);
  EXPECT_EQ(process_info.num_threads, wanted);
}

TEST_F(ProjectFileSettings, SuperQuiet) {
  console_silent = false;
  records r;
  read_cards("SUPER_QUIET\n", r);
  EXPECT_TRUE(console_silent);
  EXPECT_EQ(r.cards->super_quiet_given, 1);
}

// ---- Nutrient cards -------------------------------------------------------------------------

TEST_F(ProjectFileNutrients, CardsBeforeNutrientsStopTheReading) {
  struct early_case {
    const char* card;
    const char* kind;
  };
  const early_case cases[] = {
      {"AQ_ENV env.txt", "AQ_ENV"},         {"OV_INIT_NO2 1", "OV_INIT_XXX"},
      {"OV_DISPERSION 2", "OV_INIT_XXX"},   {"ST_INIT_DO", "ST_INIT_XXX"},
      {"OUT_OV_NO2 no2", "OUT_OV_XXX"},     {"OUT_ST_ALG alg", "OUT_ST_XXX"},
      {"OUT_HYD_CBOD cbod", "OUT_HYD_XXX"},
  };
  for (const early_case& c : cases) {
    SCOPED_TRACE(c.card);
    run_error = error_state{};
    error_file_kind[0] = '\0';
    records r;
    read_cards(std::string(c.card) + "\nNUTRIENTS\nROWS 3\n", r);
    EXPECT_EQ(run_error.error_code, err_nutrients_card_late);
    EXPECT_STREQ(error_file_kind, c.kind);
    EXPECT_EQ(r.cards->nsm, nullptr);
    EXPECT_EQ(r.cards->nutrients_given, 0);
    EXPECT_EQ(r.grid.rows, 0);
  }
}

TEST_F(ProjectFileNutrients, CardsFillTheContainer) {
  records r;
  read_cards(
      "NUTRIENTS\n"
      "AQ_ENV env.txt\n"
      "OV_INIT_NO3 1.5\n"
      "OV_INIT_NH4 nh4.map\n"
      "OV_INIT_ON 2nd_on.map\n"
      "OV_DISPERSION\n"
      "ST_INIT_DO 8\n"
      "OUT_OV_NO2 no2\n"
      "OUT_ST_DO do\n"
      "OUT_HYD_CBOD cbod\n",
      r);
  ASSERT_EQ(run_error.error_code, 0);
  EXPECT_EQ(r.cards->nutrients_given, 1);
  nsm_model* nsm = r.cards->nsm;
  ASSERT_NE(nsm, nullptr);
  EXPECT_STREQ(nsm->aq_env_file, "env.txt");
  EXPECT_EQ(nsm->ov_init[1].mode, 3);
  EXPECT_DOUBLE_EQ(nsm->ov_init[1].value, 1.5);
  EXPECT_EQ(nsm->ov_init[2].mode, 1);
  EXPECT_STREQ(nsm->ov_init[2].map_file, "nh4.map");
  EXPECT_EQ(nsm->ov_init[3].mode, 1);
  EXPECT_STREQ(nsm->ov_init[3].map_file, "2nd_on.map");
  EXPECT_EQ(nsm->ov_init[11].mode, 2);
  EXPECT_EQ(nsm->ov_init[0].mode, 0);
  EXPECT_EQ(nsm->st_init[8].mode, 3);
  EXPECT_DOUBLE_EQ(nsm->st_init[8].value, 8.0);
  EXPECT_EQ(nsm->ov_out[0].on, 1);
  EXPECT_STREQ(nsm->ov_out[0].base_name, "no2");
  EXPECT_EQ(nsm->ov_out[1].on, 0);
  EXPECT_EQ(nsm->st_out[8].on, 1);
  EXPECT_STREQ(nsm->st_out[8].base_name, "do");
  EXPECT_EQ(nsm->hyd_out[7].on, 1);
  EXPECT_STREQ(nsm->hyd_out[7].base_name, "cbod");
}

TEST_F(ProjectFileNutrients, RepeatedNutrientsKeepsTheContainer) {
  records r;
  read_cards("NUTRIENTS\nAQ_ENV env.txt\nNUTRIENTS\n", r);
  ASSERT_NE(r.cards->nsm, nullptr);
  EXPECT_STREQ(r.cards->nsm->aq_env_file, "env.txt");
}

// ---- Project-folder pre-scan ----------------------------------------------------------------

TEST_F(ProjectFilePrescan, FolderFromTheFirstFolderCard) {
  write_file(dir_.file("p.prj"),
             "TORVAPROJECT\nROWS 3\nPROJECT_PATH D:\\runs\\a\nPROJECT_FOLDER other\n");
  stdout_capture capture;
  prescan_project_folder(dir_.file("p.prj").c_str());
  const std::string out = capture.stop();
  EXPECT_STREQ(project_dir, "D:/runs/a/");
  // The first line is passed to the card words like any other.
  EXPECT_EQ(out, "Warning: unknown card found in the project file: torvaproject\n");
}

TEST_F(ProjectFilePrescan, EmptyFolderCardChangesNothing) {
  write_file(dir_.file("p.prj"), "TORVAPROJECT\nPROJECT_FOLDER\nPROJECT_FOLDER late\n");
  copy_text(project_dir, sizeof project_dir, "kept/");
  stdout_capture capture;
  prescan_project_folder("p.prj");
  capture.stop();
  EXPECT_STREQ(project_dir, "kept/");
}

TEST_F(ProjectFilePrescan, FolderFromThePathWithoutACard) {
  std::filesystem::create_directory(dir_.file("runs"));
  write_file(dir_.file("runs/p.prj"), "TORVAPROJECT\nROWS 3\n");
  struct path_case {
    const char* path;
    const char* expected;
  };
  const path_case cases[] = {
      {"runs\\p.prj", "runs/"},
      {"runs/p.prj", "runs/"},
  };
  for (const path_case& c : cases) {
    SCOPED_TRACE(c.path);
    project_dir[0] = '\0';
    stdout_capture capture;
    prescan_project_folder(c.path);
    capture.stop();
    EXPECT_STREQ(project_dir, c.expected);
  }
  // A path without a folder leaves the project folder alone.
  write_file(dir_.file("here.prj"), "TORVAPROJECT\n");
  copy_text(project_dir, sizeof project_dir, "kept/");
  stdout_capture capture;
  prescan_project_folder("here.prj");
  capture.stop();
  EXPECT_STREQ(project_dir, "kept/");
}

TEST_F(ProjectFilePrescan, MissingFile) {
  copy_text(project_dir, sizeof project_dir, "kept/");
  testing::internal::CaptureStderr();
  stdout_capture capture;
  prescan_project_folder("absent.prj");
  const std::string out = capture.stop();
  EXPECT_NE(out.find("Error opening project file named: absent.prj\n"), std::string::npos) << out;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_STREQ(project_dir, "kept/");
}

// ---- The records ----------------------------------------------------------------------------

TEST_F(ProjectFileRecords, ConstructedValues) {
  records r;
  const project_cards& c = *r.cards;
  EXPECT_EQ(c.calib_comp_data, 1);
  EXPECT_EQ(c.calib_obj_func, 1);
  EXPECT_EQ(c.overtype, 0);
  EXPECT_EQ(c.nsm, nullptr);
  EXPECT_EQ(c.nsm_soil_coeffs, nullptr);
  EXPECT_STREQ(c.mapping_table, "");
  EXPECT_STREQ(c.xy_input.ovpts.array_name(), "xy_input::ovpts");
  EXPECT_STREQ(c.xy_input.gwpts.array_name(), "xy_input::gwpts");
  EXPECT_STREQ(c.xy_input.stpts.array_name(), "xy_input::stpts");
  EXPECT_TRUE(c.xy_input.ovpts.empty());
  EXPECT_EQ(c.xy_input.num_stpts, 0);
  EXPECT_STREQ(c.xy_output.input_name, "");
  EXPECT_EQ(r.grid.latitude, 32.0);
  EXPECT_EQ(r.grid.longitude, -90.0);
  EXPECT_EQ(r.grid.rows, 0);
  EXPECT_EQ(r.rain.precip_source, 0);
  EXPECT_EQ(r.rain.rain_interpolation, 1);
}

TEST_F(ProjectFileRecords, ReaderDefaultsAfterTheReset) {
  records r;
  // Values left by an earlier use of the records are all cleared.
  r.grid.rows = 9;
  r.rain.rain_intensity = 3.0;
  copy_text(r.cards->summary, sizeof r.cards->summary, "old.sum");
  r.cards->pipe_flow_given = 1;
  r.cards->xy_output_given = 1;
  read_cards("", r);
  const project_cards& c = *r.cards;
  struct double_default {
    const char* name;
    double project_cards::*field;
    double expected;
  };
  const double_default doubles[] = {
      {"k_river", &project_cards::k_river, 0.0},
      {"m_river", &project_cards::m_river, 1.0},
      {"m_lake", &project_cards::m_lake, 10.0},
      {"first_order_chan_q", &project_cards::first_order_chan_q, 0.0},
      {"event_min_q", &project_cards::event_min_q, 0.1},
      {"soil_moist_depth", &project_cards::soil_moist_depth, 0.4},
      {"max_courant_number", &project_cards::max_courant_number, 0.2},
      {"richards_weight", &project_cards::richards_weight, 1.0},
      {"richards_dtheta_max", &project_cards::richards_dtheta_max, 0.0025},
      {"aquifer_delta_z", &project_cards::aquifer_delta_z, -999.9},
      {"gw_timestep", &project_cards::gw_timestep, 1.0},
      {"gw_lsor_con", &project_cards::gw_lsor_con, 1e-5},
      {"single_unsat_sat", &project_cards::single_unsat_sat, 0.75},
      {"kinetics_timestep_factor", &project_cards::kinetics_timestep_factor, 1.0},
      {"ov_uptake_rate", &project_cards::ov_uptake_rate, 0.0},
      {"chan_ph", &project_cards::chan_ph, 7.2},
      {"manning_n", &project_cards::manning_n, 0.0},
  };
  for (const double_default& d : doubles) EXPECT_EQ(c.*d.field, d.expected) << d.name;
  struct int_default {
    const char* name;
    int project_cards::*field;
    int expected;
  };
  const int_default ints[] = {
      {"overtype", &project_cards::overtype, 2},
      {"richards_k_option", &project_cards::richards_k_option, 2},
      {"richards_c_option", &project_cards::richards_c_option, 0},
      {"richards_iter_max", &project_cards::richards_iter_max, 1},
      {"richards_upper_option", &project_cards::richards_upper_option, 1},
      {"soil_erosion", &project_cards::soil_erosion, 1},
      {"x_freq", &project_cards::x_freq, -1},
      {"xwin_width", &project_cards::xwin_width, 1000},
      {"xwin_height", &project_cards::xwin_height, 660},
      {"tev_event_num", &project_cards::tev_event_num, -1},
      {"calib_comp_data", &project_cards::calib_comp_data, 2},
      {"calib_obj_func", &project_cards::calib_obj_func, 2},
      {"pipe_flow_given", &project_cards::pipe_flow_given, 0},
      {"xy_output_given", &project_cards::xy_output_given, 0},
      {"init_swe_kind", &project_cards::init_swe_kind, 0},
  };
  for (const int_default& d : ints) EXPECT_EQ(c.*d.field, d.expected) << d.name;
  EXPECT_STREQ(c.summary, "");
  EXPECT_EQ(c.nsm_soil_coeffs, nullptr);
  EXPECT_EQ(r.grid.latitude, 0.0);
  EXPECT_EQ(r.grid.longitude, 0.0);
  EXPECT_EQ(r.grid.rows, 0);
  EXPECT_EQ(r.grid.inf_scheme, 0);
  EXPECT_EQ(r.grid.chan_scheme, 0);
  EXPECT_EQ(r.grid.gw_fluxboundtable_given, 0);
  EXPECT_EQ(r.rain.rain_interpolation, 0);
  EXPECT_EQ(r.rain.rain_intensity, 0.0);
}

TEST_F(ProjectFileRecords, OwnedObjectsAreReleased) {
  // A second read into the same records releases what the first one made (the sanitizer build
  // reports a leak otherwise).
  records r;
  read_cards("NUTRIENTS\nNO2_KM 1\n", r);
  ASSERT_NE(r.cards->nsm, nullptr);
  ASSERT_NE(r.cards->nsm_soil_coeffs, nullptr);
  read_cards("NUTRIENTS\nNO2_KOC 2\n", r);
  ASSERT_NE(r.cards->nsm, nullptr);
  EXPECT_EQ(r.cards->nsm_soil_coeffs[0], 0.0);
  EXPECT_EQ(r.cards->nsm_soil_coeffs[6], 2.0);

  // Records destroyed before the run took the container over release it themselves.
  records stopped;
  read_cards("NUTRIENTS\nAQ_ENV env.txt\nCALIB_OBJ_FUNC none\n", stopped);
  EXPECT_EQ(run_error.error_code, err_calib_obj_func_invalid);
  ASSERT_NE(stopped.cards->nsm, nullptr);
  stopped.cards.reset();

  // Once the run has taken it over, the container outlives the records.
  run_error = error_state{};
  records handed;
  read_cards("NUTRIENTS\nAQ_ENV kept.txt\n", handed);
  std::unique_ptr<nsm_model> taken(handed.cards->nsm);
  handed.cards->nsm = nullptr;
  handed.cards.reset();
  EXPECT_STREQ(taken->aq_env_file, "kept.txt");
}

}  // namespace
