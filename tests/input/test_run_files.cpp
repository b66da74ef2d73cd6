// Opening the run files: the files a small project opens, the messages of the files that cannot
// be opened (role and name), the summary receiving the messages once it is open, the map-or-table
// rule, the hotstart inputs that let the list go on, the location outputs, the soil-type map
// taken from the mapping-table file, the evaporation log and the nutrient outputs.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/run_files.h"
#include "input/run_parameters.h"
#include "run/entry.h"
#include "support/test_support.h"

using torva_test::file_exists;
using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

const std::string mandatory_cards =
    "ROWS 2\nCOLS 3\nGRIDSIZE 30\nTIMESTEP 10\nTOT_TIME 60\nPRECIP_UNIF\nRAIN_INTENSITY 10\n"
    "RAIN_DURATION 30\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nSUMMARY sum.out\n"
    "OUTLET_HYDRO q.out\n";

// Positions of some checked tables in input_state::table_present.
constexpr int table_roughness = 0;
constexpr int table_green_ampt = 3;
constexpr int table_initial_moisture = 4;
constexpr int table_richards_havercamp = 5;

int open_descriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

class RunFiles : public testing::Test {
 protected:
  void SetUp() override {
    write_file(dir_.file("mask.asc"), "mask\n");
    write_file(dir_.file("elev.asc"), "elevation\n");
  }
  // Reads a project of `cards` into a fresh model state; `tables` are the table-present flags
  // to set (as the mapping-table check would) before the run files are opened.
  std::unique_ptr<model_state> read(const std::string& cards) {
    write_file(dir_.file("p.prj"), "TORVAPROJECT\n" + cards);
    auto ms = std::make_unique<model_state>();
    stdout_capture quiet;
    read_run_parameters(*ms, "p.prj");
    EXPECT_EQ(run_error.error_code, 0) << cards;
    return ms;
  }

  // Opens the run files of `ms`; returns what was printed.
  static std::string open(model_state& ms) {
    stdout_capture capture;
    open_run_files(ms);
    return capture.stop();
  }

  // Reads and opens the run files of a project of `cards`.
  std::unique_ptr<model_state> read_and_open(const std::string& cards, std::string* out = nullptr) {
    auto ms = read(cards);
    const std::string printed = open(*ms);
    if (out != nullptr) *out = printed;
    return ms;
  }

  static void expect_failure(int code, const char* kind, const char* name,
                             const std::string& context) {
    EXPECT_EQ(run_error.error_code, code) << context;
    EXPECT_EQ(run_error.error_fatal, 1) << context;
    EXPECT_STREQ(error_file_kind, kind) << context;
    EXPECT_STREQ(error_file_name, name) << context;
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
};

TEST_F(RunFiles, MandatoryProjectOpensExactlyFourFiles) {
  auto ms = read(mandatory_cards);
  const int before = open_descriptors();
  open(*ms);
  EXPECT_EQ(open_descriptors() - before, 4);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_TRUE(ms->input.watershed_mask_file.is_open());
  EXPECT_TRUE(ms->input.elevation_file.is_open());
  EXPECT_TRUE(ms->output.summary_file.is_open());
  EXPECT_TRUE(ms->channel.outlet_hydro_file.is_open());
  EXPECT_EQ(error_echo_file, &ms->output.summary_file);
  EXPECT_STREQ(ms->input.watershed_mask_file.mode, "r");
  EXPECT_STREQ(ms->output.summary_file.mode, "w");
  EXPECT_TRUE(file_exists(dir_.file("sum.out")));
  EXPECT_TRUE(file_exists(dir_.file("q.out")));
  EXPECT_FALSE(file_exists(dir_.file("evap_out")));
}

TEST_F(RunFiles, FilesThatCannotBeOpenedAreNamedWithTheirRole) {
  struct row {
    std::string extra;  // cards after the mandatory ones (a later card replaces a name)
    const char* kind;
    const char* name;
  };
  const row rows[] = {
      {"WATERSHED_MASK none.asc\n", "watershed mask", "none.asc"},
      {"ELEVATION none.asc\n", "elevation data", "none.asc"},
      {"SUMMARY nodir/sum.out\n", "output summary", "nodir/sum.out"},
      {"OUTLET_HYDRO nodir/q.out\n", "output hydrograph", "nodir/q.out"},
      {"PRECIP_FILE none.gag\n", "raingage data", "none.gag"},
      {"LONG_TERM\nET_CALC_DEARDORFF\nINF_REDIST\nHMET_SAMSON none.met\n", "hydromet data",
       "none.met"},
      {"LAKE_OUTPUT\n", "lake output", ""},  // a card that names no file fails its open
      {"CHAN_EXPLIC\nSTREAM_CELL none.txt\n", "grid-stream connectivity", "none.txt"},
      {"WATER_TABLE wt.asc\nGW_SIMULATION\nGW_BOUNDFILE none.txt\n", "groundwater boundary",
       "none.txt"},
      {"CHAN_DEPTH nodir/d.out\n", "output channel depth", "nodir/d.out"},
      {"FLOOD_STREAM nodir/f.out\n", "output flood stream stage", "nodir/f.out"},
      {"STORM_SEWER s.txt\nPIPE_FLOW nodir/p.out\n", "superlink flow", "nodir/p.out"},
      {"CONTAM_MAP none.asc\n", "contam", "none.asc"},
  };
  for (const row& r : rows) {
    run_error = error_state{};
    error_echo_file = nullptr;
    auto ms = read_and_open(mandatory_cards + r.extra);
    expect_failure(err_file_not_open, r.kind, r.name, r.extra);
  }
}

TEST_F(RunFiles, SummaryReceivesTheMessagesFromTheMomentItIsOpen) {
  // Elevation is opened before the summary: its failure goes to the console only.
  auto early = read_and_open(mandatory_cards + "ELEVATION none.asc\n");
  EXPECT_EQ(error_echo_file, nullptr);
  stdout_capture capture;
  error_report(run_error);
  EXPECT_EQ(capture.stop(), "\nError: Unable to open elevation data file.\n  (File: none.asc)\n");
  EXPECT_FALSE(file_exists(dir_.file("sum.out")));

  // The outlet hydrograph comes after it: console and summary.
  run_error = error_state{};
  auto late = read_and_open(mandatory_cards + "OUTLET_HYDRO nodir/q.out\n");
  ASSERT_EQ(error_echo_file, &late->output.summary_file);
  stdout_capture console;
  error_report(run_error);
  const std::string message =
      "\nError: Unable to open output hydrograph file.\n  (File: nodir/q.out)\n";
  EXPECT_EQ(console.stop(), message);
  error_echo_file = nullptr;
  file_handle_close(late->output.summary_file);
  EXPECT_EQ(read_file(dir_.file("sum.out")), message);
}

TEST_F(RunFiles, MapOrTableRule) {
  struct row {
    std::string cards;
    int table;         // table that could give the parameter
    const char* kind;  // role of the map when the table is absent
    const char* name;
  };
  const row rows[] = {
      {"GREEN_AMPT\nCONDUCTIVITY none.asc\n", table_green_ampt, "Ks", "none.asc"},
      {"INF_REDIST\nPORE_INDEX none.asc\n", table_green_ampt, "pore dist. index", "none.asc"},
      {"ROUGHNESS none.asc\n", table_roughness, "Manning roughness", "none.asc"},
      {"INTERCEPTION\n", 1, "interception storage", ""},
      {"RETEN_DEPTH\n", 2, "retention depth", ""},
      {"INF_RICHARDS\nSOIL_TYPE_MAP none.asc\n", table_richards_havercamp, "soil type", "none.asc"},
  };
  for (const row& r : rows) {
    for (int present = 0; present <= 1; ++present) {
      run_error = error_state{};
      error_echo_file = nullptr;
      auto ms = read(mandatory_cards + "MAPPING_TABLE map.cmt\n" + r.cards);
      // The mapping table forces the moisture map on; its table is there in every case.
      ms->input.table_present[table_initial_moisture] = 1;
      ms->input.table_present[r.table] = present;
      open(*ms);
      if (present) {
        EXPECT_EQ(run_error.error_code, 0) << r.cards;
      } else {
        expect_failure(err_file_not_open, r.kind, r.name, r.cards);
      }
    }
  }

  // A map that opens is used even when its table is there.
  write_file(dir_.file("k.asc"), "k\n");
  auto ms = read(mandatory_cards + "MAPPING_TABLE map.cmt\nGREEN_AMPT\nCONDUCTIVITY k.asc\n");
  ms->input.table_present[table_green_ampt] = 1;
  ms->input.table_present[table_initial_moisture] = 1;
  open(*ms);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_TRUE(ms->input.conductivity_file.is_open());
  EXPECT_FALSE(ms->input.moisture_file.is_open());  // no map named: the table gives it
}

TEST_F(RunFiles, MissingHotstartsLetTheListGoOnAndTheLastIsReported) {
  auto ms = read_and_open(
      mandatory_cards + "READ_OV_HOTSTART ov.hot\nREAD_SM_HOTSTART sm.hot\nLAKE_OUTPUT lake.out\n");
  expect_failure(err_file_not_open, "soil moisture hotstart", "sm.hot", "both hotstarts");
  EXPECT_TRUE(ms->output.lake_output_file.is_open());  // a later row of the list

  run_error = error_state{};
  write_file(dir_.file("sm.hot"), "0.3\n");
  auto one = read_and_open(mandatory_cards + "READ_OV_HOTSTART ov.hot\nREAD_SM_HOTSTART sm.hot\n");
  expect_failure(err_file_not_open, "overland hotstart", "ov.hot", "overland hotstart");
  EXPECT_TRUE(one->output.read_sm_hotstart_file.is_open());
}

TEST_F(RunFiles, LocationOutputsAreReportedWithTheirCodeKindAndInput) {
  write_file(dir_.file("in.loc"), "1\n1 1\n");
  write_file(dir_.file("junc.loc"), "1\n1\n");
  write_file(dir_.file("node.loc"), "1\n1 1\n");
  const std::string long_name = "nodir/" + std::string(60, 'x') + ".out";
  const std::string hyd = "IN_HYD_LOCATION in.loc\nOUT_HYD_LOCATION h.out\n";
  struct row {
    std::string cards;
    int code;
    std::string kind;  // the output as its message names it
    std::string name;  // the location input (the output for a file not open and for theta)
  };
  const row rows[] = {
      // The hydrograph and groundwater-flux outputs are named by a fixed kind text.
      {"IN_HYD_LOCATION in.loc\nOUT_HYD_LOCATION nodir/h.out\n",
       err_hydrograph_location_output_not_open, "out hydrograph file", "in.loc"},
      {"IN_HYD_LOCATION in.loc\nOUT_HYD_LOCATION " + long_name + "\n",
       err_hydrograph_location_output_not_open, "out hydrograph file", "in.loc"},
      {"IN_GWFLUX_LOCATION in.loc\nOUT_GWFLUX_LOCATION nodir/g.out\n",
       err_hydrograph_location_output_not_open, "out groundwater flux file", "in.loc"},
      // The others by their own name, with the location input that lists their points.
      {"SUPERLINK_JUNC_LOCATION junc.loc\nSUPERLINK_JUNC_FLOW nodir/j.out\n",
       err_hydrograph_location_output_not_open, "nodir/j.out", "junc.loc"},
      {"SUPERLINK_NODE_LOCATION node.loc\nSUPERLINK_NODE_FLOW nodir/n.out\n",
       err_hydrograph_location_output_not_open, "nodir/n.out", "node.loc"},
      {hyd + "OUT_DEP_LOCATION nodir/d.out\n", err_depth_location_output_not_open, "nodir/d.out",
       "in.loc"},
      {hyd + "OUT_CON_LOCATION nodir/c.out\n", err_concentration_location_output_not_open,
       "nodir/c.out", "in.loc"},
      {hyd + "OUT_MASS_LOCATION nodir/m.out\n", err_concentration_location_output_not_open,
       "nodir/m.out", "in.loc"},
      {"OUT_MASS_LOCATION nodir/m.out\n", err_concentration_location_output_not_open, "nodir/m.out",
       ""},
      // An own name too long for the kind buffer is reported whole as a file not open.
      {hyd + "OUT_DEP_LOCATION " + long_name + "\n", err_file_not_open, "depth location output",
       long_name},
      {hyd + "OUT_MASS_LOCATION " + long_name + "\n", err_file_not_open, "mass location output",
       long_name},
      {"IN_THETA_LOCATION in.loc\nOUT_THETA_LOCATION nodir/t.out\n",
       err_theta_location_output_not_open, "in.loc", "nodir/t.out (out_theta_location_file)"},
      {"IN_HYD_LOCATION none.loc\n", err_file_not_open, "hydrograph location", "none.loc"},
  };
  for (const row& r : rows) {
    run_error = error_state{};
    error_echo_file = nullptr;
    auto ms = read_and_open(mandatory_cards + r.cards);
    expect_failure(r.code, r.kind.c_str(), r.name.c_str(), r.cards);
    // The report names both.
    stdout_capture capture;
    error_report(run_error);
    const std::string message = capture.stop();
    EXPECT_NE(message.find(r.kind), std::string::npos) << message;
    EXPECT_NE(message.find(r.name), std::string::npos) << message;
  }

  run_error = error_state{};
  auto ms = read_and_open(mandatory_cards + hyd +
                          "OUT_DEP_LOCATION d.out\nOUT_MASS_LOCATION m.out\n"
                          "IN_GWFLUX_LOCATION in.loc\nOUT_GWFLUX_LOCATION g.out\n");
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_TRUE(ms->input.in_hyd_location_file.is_open());
  EXPECT_TRUE(ms->input.out_hyd_location_file.is_open());
  EXPECT_TRUE(ms->input.out_dep_location_file.is_open());
  EXPECT_TRUE(ms->input.out_mass_location_file.is_open());
  EXPECT_TRUE(ms->input.out_gwflux_location_file.is_open());
}

TEST_F(RunFiles, SoilTypeMapWithoutItsCardIsTheIndexMapOfTheRichardsTable) {
  write_file(dir_.file("t.cmt"),
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP brooks.idx soils\nINDEX_MAP haver.idx soils2\n"
             "RICHARDS_EQN_INFILTRATION_BROOKS soils\n"
             "RICHARDS_EQN_INFILTRAIION_HAVERCAMP soils2\n");
  write_file(dir_.file("brooks.idx"), "soil ids\n");
  write_file(dir_.file("haver.idx"), "soil ids\n");
  write_file(dir_.file("own.asc"), "soil ids\n");
  write_file(dir_.file("m.asc"), "moisture\n");  // the mapping table asks for it
  struct row {
    std::string cards;
    const char* name;  // the soil-type map name after the opening; "" when none
  };
  const row rows[] = {
      {"INF_RICHARDS\nRICHARDS_C_OPTION brooks\n", "brooks.idx"},
      {"INF_RICHARDS\nRICHARDS_C_OPTION havercamp\n", "haver.idx"},
      // Every scheme with a soil-type map follows the rule.
      {"INF_REDIST\nRICHARDS_C_OPTION havercamp\n", "haver.idx"},
      {"INF_LAYERED_SOIL\nRICHARDS_C_OPTION brooks\n", "brooks.idx"},
      // No form chosen: no table, no map.
      {"INF_RICHARDS\n", ""},
      // A map named on its card is kept.
      {"INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP own.asc\n", "own.asc"},
  };
  for (const row& r : rows) {
    run_error = error_state{};
    error_echo_file = nullptr;
    auto ms = read_and_open(mandatory_cards + "MAPPING_TABLE t.cmt\nMOISTURE m.asc\n" + r.cards);
    EXPECT_EQ(run_error.error_code, 0) << r.cards;
    EXPECT_STREQ(ms->input.names.soil_type_map, r.name) << r.cards;
    EXPECT_EQ(ms->input.soil_type_file.is_open(), r.name[0] != '\0') << r.cards;
  }
}

TEST_F(RunFiles, SoilColumnSchemesOpenTheEvaporationLog) {
  const std::string header =
      "yr/mo/day  hour     avg_theta    avg_pot      avgetrate    avgfav      avgbottomfav  "
      "CFGI         temp(C)  ";
  // Redistribution: the soil-type map is optional; the log has the two layer columns.
  auto redist = read_and_open(mandatory_cards + "INF_REDIST\nSOIL_TYPE_MAP none.asc\n");
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_FALSE(redist->input.soil_type_file.is_open());
  ASSERT_TRUE(redist->subsurface.evap_out_file.is_open());
  EXPECT_STREQ(redist->input.names.evap_out, "evap_out");
  file_handle_close(redist->subsurface.evap_out_file);
  EXPECT_EQ(read_file(dir_.file("evap_out")), header + " avg_theta_L1  avg_theta_L2\n");

  // Richards with its soil map: one layer in the log.
  write_file(dir_.file("soil.asc"), "soil\n");
  write_file(dir_.file("layers.txt"), "layers\n");
  auto richards = read_and_open(mandatory_cards +
                                "INF_RICHARDS\nSOIL_TYPE_MAP soil.asc\n"
                                "SOIL_LAYER_INPUT_FILE layers.txt\n");
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_TRUE(richards->input.soil_type_file.is_open());
  EXPECT_TRUE(richards->subsurface.multi_layer_soil_file.is_open());
  file_handle_close(richards->subsurface.evap_out_file);
  EXPECT_EQ(read_file(dir_.file("evap_out")), header + "\n");
}

TEST_F(RunFiles, ChannelHotstartsWrittenAndRead) {
  write_file(dir_.file("sc.txt"), "cells\n");
  write_file(dir_.file("chan.txt"), "channel\n");
  write_file(dir_.file("old.hot"), "hotstart\n");
  auto ms = read_and_open(mandatory_cards +
                          "CHAN_EXPLIC\nSTREAM_CELL sc.txt\nCHANNEL_INPUT chan.txt\n"
                          "WRITE_CHAN_HOTSTART hot\nREAD_CHAN_HOTSTART old.hot\n");
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_TRUE(file_exists(dir_.file("hot.dht")));
  EXPECT_TRUE(file_exists(dir_.file("hot.qht")));
  EXPECT_TRUE(ms->channel.channel_input_file.is_open());
  EXPECT_TRUE(ms->channel.read_chan_depth_file.is_open());
  EXPECT_TRUE(ms->channel.read_chan_discharge_file.is_open());
  EXPECT_NE(ms->channel.read_chan_depth_file.fp, ms->channel.read_chan_discharge_file.fp);

  run_error = error_state{};
  auto missing = read_and_open(mandatory_cards +
                               "CHAN_EXPLIC\nSTREAM_CELL sc.txt\nCHANNEL_INPUT chan.txt\n"
                               "READ_CHAN_HOTSTART none.hot\n");
  expect_failure(err_file_not_open, "channel depth", "none.hot", "channel hotstart");
}

TEST_F(RunFiles, NutrientChannelOutputs) {
  auto ms = read_and_open(mandatory_cards +
                          "CHAN_EXPLIC\nSTREAM_CELL sc.txt\nCHANNEL_INPUT chan.txt\n"
                          "NUTRIENTS\nTOTAL_CHAN_N tn.out\nOUT_HYD_NO3 no3\n");
  // The channel files are missing: nothing of the nutrients is opened after the failure.
  expect_failure(err_file_not_open, "grid-stream connectivity", "sc.txt",
                 "stops before the nutrients");
  EXPECT_FALSE(file_exists(dir_.file("tn.out")));

  run_error = error_state{};
  auto open_all =
      read_and_open(mandatory_cards + "NUTRIENTS\nTOTAL_CHAN_N tn.out\nOUT_HYD_NO3 no3\n");
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_TRUE(open_all->output.total_chan_n_file.is_open());
  EXPECT_TRUE(open_all->transport.nsm->hyd_conc_file[1].is_open());
  EXPECT_TRUE(open_all->transport.nsm->hyd_mass_file[1].is_open());
  EXPECT_FALSE(open_all->transport.nsm->hyd_conc_file[0].is_open());
  EXPECT_TRUE(file_exists(dir_.file("no3.conc")));
  EXPECT_TRUE(file_exists(dir_.file("no3.mass")));

  run_error = error_state{};
  std::string out;
  auto failed = read_and_open(mandatory_cards + "NUTRIENTS\nOUT_HYD_NH4 nodir/nh4\n", &out);
  expect_failure(err_file_not_open, "nutrient concentration", "nodir/nh4.conc", "nutrient output");
  EXPECT_NE(out.find("Error opening nutrient concentration output file (hydrograph style )\n"
                     "for the NH4 hydrograph file. \nGiven filename: nodir/nh4.conc\n"),
            std::string::npos)
      << out;
}

}  // namespace
