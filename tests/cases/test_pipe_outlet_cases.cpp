// A long-term run whose pipe network drains into a quiet channel: a tile drain takes the
// aquifer's water from the start of the run onto a channel node, in the dry day and a half
// before the only storm, while the channel has not started routing. The drain's water starts
// the channel at once and is routed step by step, never held at the node to be poured in at the
// storm's start; what the drain let out before the storm is what the outlet passed plus what the
// channel gained, the run's books close with the channel's water counted from the run's start,
// and the outlet series shows the flow. The executable writes the same outputs at 1 and 8
// threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "channel/channel_steps.h"
#include "channel/pipe/superlink_state.h"
#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "run/run_driver.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::grid_header;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace pipe_outlet_cases_tests {

constexpr double cell = 100.0;  // m
constexpr int hours = 72;       // hourly weather records from 1 March 2005 0:00

std::string row_map(double c1, double c2, double c3, double c4) {
  std::ostringstream s;
  s << grid_header(1, 4, cell) << c1 << " " << c2 << " " << c3 << " " << c4 << "\n";
  return s.str();
}

std::string weather() {
  std::ostringstream s;
  for (int k = 0; k < hours; ++k)
    s << "2005 3 " << 1 + k / 24 << " " << k % 24 << " 29.92 30 0 6 50 0.0 0.0\n";
  return s.str();
}

// One row of four cells over an aquifer whose water table stands 10 m below the ground. A tile
// drain 14 m below the first cell takes the aquifer's water from the start of the run and
// carries it onto the first node of a trapezoidal link under the other three cells (node
// spacing 100 m); the aquifer under those three is held at its level. The only storm falls on
// the second day, so the channel has not started routing when the drain's water first reaches
// it.
void write_quiet_channel_case() {
  write_file("po_mask.asc", row_map(1, 1, 1, 1));
  write_file("po_elev.asc", row_map(20.0, 20.3, 20.2, 20.1));
  for (const auto& [name, value] : {std::pair<const char*, double>{"po_ks.asc", 0.001},
                                    {"po_hc.asc", 16.7},
                                    {"po_por.asc", 0.45},
                                    {"po_pore.asc", 0.25},
                                    {"po_res.asc", 0.05},
                                    {"po_moist.asc", 0.30},
                                    {"po_albedo.asc", 0.2},
                                    {"po_bottom.asc", 0.0},
                                    {"po_head.asc", 10.0}})
    write_file(name, row_map(value, value, value, value));
  write_file("po_bound.asc", row_map(1, 2, 2, 2));
  write_file("po_weather.txt", weather());
  write_file("po_rain.gag",
             "EVENT \"the storm\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
             "RATES 2005 3 2 12 0 10.0\nRATES 2005 3 2 13 0 0.0\n");
  std::string chn =
      "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES 4\nCONNECT 1 0 0\n\n"
      "LINK 1\nNODES 4\nDX 100.0\nTRAPEZOID\nMANNINGS_N 0.03\n";
  for (int n = 1; n <= 4; ++n) {
    char elev[32];
    snprintf(elev, sizeof elev, "%.2f", 19.5 - 0.1 * (n - 1));
    chn += "NODE " + std::to_string(n) + "\nELEV " + elev + "\n";
    if (n == 1) chn += "XSEC\nBOTTOM_WIDTH 1.0\nSIDE_SLOPE 1.0\nBANKFULL_DEPTH 0.8\n";
  }
  write_file("po.chn", chn);
  std::string gst = "GRIDSTREAMFILE\nSTREAMCELLS 3\n";
  for (int j = 2; j <= 4; ++j)
    gst += "CELLIJ 1 " + std::to_string(j) + "\nNUMNODES 1\nLINKNODE 1 " + std::to_string(j - 1) +
           " 1.0\n";
  write_file("po.gst", gst);
  write_file("po_pipes.slk",
             "A tile drain under the first cell empties onto the stream's first node\n"
             "CONNECT 1 1 2\n"
             "SJUNC 1 20.0 6.0 1.0 0 1 1 0 0\n"
             "SJUNC 2 20.3 5.9 1.0 999 1 1 0 0\n"
             "SLINK 1 1\n"
             "NODE 1 20.0 6.0 0 0 1 1 0 0\n"
             "NODE 2 20.3 5.95 0 0 1 2 0 0\n"
             "PIPE 1 1 0.1 0 0.001 0.012 50 36.0 20.0\n");
  write_file("po_pipes.gpi", "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 1 1\nNUMPIPES 1\nSPIPE 1 1 1.0\n");
  write_file("po.prj",
             "TORVAPROJECT\nWATERSHED_MASK po_mask.asc\nELEVATION po_elev.asc\n"
             "SUMMARY po_summary.out\nOUTLET_HYDRO po_outlet.out\nROWS 1\nCOLS 4\n"
             "GRIDSIZE 100.0\nTIMESTEP 300\nOUTROW 1\nOUTCOL 4\nOUTSLOPE 0.001\nHYD_FREQ 60\n"
             "MANNING_N 0.05\nOVERTYPE explicit\nPRECIP_FILE po_rain.gag\nRAIN_INV_DISTANCE\n"
             "LONG_TERM\nHMET_OBU po_weather.txt\nALBEDO po_albedo.asc\nET_CALC_DEARDORFF\n"
             "LATITUDE 40.0\nLONGITUDE 90.0\nGMT -6\nINF_REDIST\nCONDUCTIVITY po_ks.asc\n"
             "CAPILLARY po_hc.asc\nPOROSITY po_por.asc\nPORE_INDEX po_pore.asc\n"
             "RESIDUAL_SAT po_res.asc\nMOISTURE po_moist.asc\nSOIL_MOIST_DEPTH 0.6\n"
             "TOP_LAYER_DEPTH 0.2\nCHAN_EXPLIC\nCHANNEL_INPUT po.chn\nSTREAM_CELL po.gst\n"
             "WATER_TABLE po_head.asc\nGW_SIMULATION\nAQUIFER_BOTTOM po_bottom.asc\n"
             "GW_BOUNDFILE po_bound.asc\nGW_UNIF_POROSITY 0.01\nGW_UNIF_HYCOND 36.0\n"
             "GW_LSOR_DIR 1\nGW_LSOR_CON 1e-10\n"
             "STORM_SEWER po_pipes.slk\nGRID_PIPE po_pipes.gpi\nSTRICT_JULIAN_DATE\n");
}

// What the steps of the dry spell did in the last run of run_watching_spell: the spell runs from
// the run's first pass to the storm's start.
struct spell_record {
  double pipe_out = 0.0;          // m3 the pipe let out for the channel node in the spell
  double delivered = 0.0;         // m3 the channel took from the pipe in the spell
  double largest_delivery = 0.0;  // m3, the most taken at one channel step
  double discharged = 0.0;        // m3 the outlet passed in the spell
  double lateral = 0.0;           // m3 the channel took from its cells in the spell
  double chan_at_start = -1.0;    // m3 held in the channel when the spell began
  double chan_at_end = -1.0;      // m3 held at the storm's start
  int routings = 0;               // channel steps that routed water in the spell
  double longest_hold = 0.0;      // days, the longest a pipe outflow waited for the channel
  double held_since = 0.0;        // Julian day since which pipe outflow waits (0: none waits)
};
spell_record spell;
bool in_spell = false;

double storm_start() {
  return julian_from_date(2005, 3, 2, 12, 0, 0.0);
}

double waiting_for_channel(const model_state& ms) {
  double waiting = 0.0;
  for (int j = 1; j <= ms.channel.superlink_junction_count; ++j)
    waiting += ms.superlink.superlink_chan_outflow[j];
  return waiting;
}

void watching_superlink_step(model_state& ms) {
  const double before = waiting_for_channel(ms);
  superlink_step(ms);
  const bool storm = ms.current_time >= storm_start() - 1e-6;
  if (!in_spell && spell.chan_at_start < 0.0 && !storm) {
    in_spell = true;
    spell.chan_at_start = channel_stored_volume(ms);
  }
  if (in_spell && storm) {
    in_spell = false;
    spell.chan_at_end = channel_stored_volume(ms);
    // Water still waiting at the node when the storm comes waited since it was let out.
    if (spell.held_since > 0.0)
      spell.longest_hold = std::max(spell.longest_hold, ms.current_time - spell.held_since);
  }
  if (!in_spell) return;
  const double after = waiting_for_channel(ms);
  spell.pipe_out += after - before;
  if (after > 0.0 && spell.held_since == 0.0) spell.held_since = ms.current_time;
}

void watching_channel_step(model_state& ms) {
  const double discharged = ms.output.totals.run_vol_discharge;
  const double delivered = ms.output.totals.run_vol_drain_to_chan;
  const double lateral = ms.output.totals.run_vol_lateral;
  const int routings = ms.channel.chan_route_calls;
  channel_routing_step(ms);
  if (!in_spell) return;
  const double taken = ms.output.totals.run_vol_drain_to_chan - delivered;
  spell.delivered += taken;
  spell.largest_delivery = std::max(spell.largest_delivery, taken);
  spell.discharged += ms.output.totals.run_vol_discharge - discharged;
  spell.lateral += ms.output.totals.run_vol_lateral - lateral;
  if (ms.channel.chan_route_calls != routings) ++spell.routings;
  if (spell.held_since > 0.0 && waiting_for_channel(ms) == 0.0) {
    spell.longest_hold = std::max(spell.longest_hold, ms.current_time - spell.held_since);
    spell.held_since = 0.0;
  }
}

void run_watching_spell() {
  run_steps steps = default_run_steps();
  int replaced = 0;
  for (loop_step& step : steps.time_loop) {
    if (std::string(step.name) == "superlink_step") {
      step.fn = watching_superlink_step;
      ++replaced;
    } else if (std::string(step.name) == "channel_routing_step") {
      step.fn = watching_channel_step;
      ++replaced;
    }
  }
  ASSERT_EQ(replaced, 2);
  spell = spell_record{};
  in_spell = false;
  torva_test::stdout_capture capture;
  run_project("po.prj", nullptr, steps);
  const std::string out = capture.stop();
  ASSERT_EQ(run_error.error_fatal, 0) << out;
}

// The outlet series of a long-term run: (Julian day, discharge) per line.
std::vector<std::pair<double, double>> outlet_series(const std::string& text) {
  std::vector<std::pair<double, double>> rows;
  std::istringstream in(text);
  double t = 0.0, q = 0.0;
  while (in >> t >> q) rows.emplace_back(t, q);
  return rows;
}

TEST(PipeOutletCases, PipeWaterReachingAQuietChannelInADrySpellIsRoutedAtOnce) {
  {
    torva_test::process_state_guard guard;
    temp_dir dir;
    write_quiet_channel_case();
    run_watching_spell();
    const std::string summary = read_file("po_summary.out");
    ASSERT_GE(spell.chan_at_start, 0.0) << summary;
    ASSERT_GE(spell.chan_at_end, 0.0) << summary;
    // The drain runs through the spell (about 0.02 m3/s at first).
    EXPECT_GT(spell.pipe_out, 100.0) << summary;
    // Each outflow reaches the channel at the step after the solve that let it out, and the
    // channel routes it over many steps, never in one lump.
    EXPECT_LE(spell.longest_hold, 300.0 / 86400.0 + 1e-9);
    EXPECT_GT(spell.routings, 20);
    EXPECT_LT(spell.largest_delivery, 0.1 * spell.pipe_out);
    // Everything let out before the last solve of the spell was taken in it.
    EXPECT_NEAR(spell.delivered, spell.pipe_out, spell.largest_delivery + 1e-9);
    // The channel's books over the spell: what came in left at the outlet or is still held.
    EXPECT_NEAR(spell.delivered + spell.lateral,
                spell.discharged + spell.chan_at_end - spell.chan_at_start, 1e-6 * spell.delivered);
    EXPECT_GT(spell.discharged, 0.5 * spell.delivered);
  }

  temp_dir dir;
  write_quiet_channel_case();
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "po.prj", [] { return read_file("po_summary.out") + read_file("po_outlet.out"); });
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;
  const std::string summary = read_file("po_summary.out");
  const summary_balance b = read_summary_balance(summary);
  ASSERT_TRUE(b.has_totals) << summary;
  // The surface and channels close to round-off. The run's books keep a residual of about
  // 0.01 m3 in 14,800 (8e-5 percent) from the aquifer under the redistribution soil, the same
  // whether or not the drain's water is routed before the storm.
  EXPECT_LT(std::fabs(b.run_surface_error), 1e-6) << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 2e-4) << summary;
  EXPECT_NEAR(summary_number(summary, "Subsurface drain mass bal error m^3="), 0.0, 0.01)
      << summary;
  const double to_channel = summary_number(summary, "Volume of subsurface drains to channels");
  EXPECT_GT(to_channel, spell.pipe_out) << summary;
  // The outlet series shows the drain's water leaving before the storm: its hourly discharges
  // before the storm add up to what the outlet passed then (a recession sampled by the hour).
  const std::vector<std::pair<double, double>> outlet = outlet_series(read_file("po_outlet.out"));
  double before_storm = 0.0;
  int hours_flowing = 0;
  for (const auto& [t, q] : outlet) {
    if (t >= storm_start() - 1e-6) break;
    before_storm += q * 3600.0;
    if (q > 0.001) ++hours_flowing;
  }
  EXPECT_GE(hours_flowing, 30) << read_file("po_outlet.out");
  EXPECT_NEAR(before_storm, spell.discharged, 0.05 * spell.discharged);
}

}  // namespace pipe_outlet_cases_tests
