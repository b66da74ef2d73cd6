// End-of-run water balances: the totals a user reads in the summary, the overall and surface
// balances, a denominator that is zero or negative printing 0, the groundwater, Richards and
// Sacramento blocks from the state the tests set.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "framework/model_state.h"
#include "output/output_steps.h"
#include "output/run_balances.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::temp_dir;
using torva_test::value_after;

namespace {

std::string run_summary(model_state& ms, const temp_dir& dir) {
  EXPECT_TRUE(file_handle_open(ms.output.summary_file, dir.file("summary.out").c_str(), "w"));
  write_run_summary(ms);
  file_handle_close(ms.output.summary_file);
  return read_file(dir.file("summary.out"));
}

}  // namespace

TEST(RunBalances, TheTotalsCloseOnTheWaterOfTheRun) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  ms->cell_count = 2;
  ms->gridsize = 10.0;
  ms->overland.ov_depth.allocate(2);
  ms->overland.ov_depth[1] = 0.1;  // 10 m3 left on the surface
  ms->ov_vol_initial = 5.0;
  ms->overland.total_precip_volume = 100.0;
  ms->overland.ov_out_volume = 70.0;
  ms->subsurface.green_ampt = 1;
  ms->subsurface.inf_volume_total = 25.0;
  const auto s = read_summary_balance(run_summary(*ms, dir));
  ASSERT_TRUE(s.has_totals);
  EXPECT_DOUBLE_EQ(s.run_ov_init, 5.0);
  EXPECT_DOUBLE_EQ(s.run_ov_final, 10.0);
  EXPECT_DOUBLE_EQ(s.run_precip, 100.0);
  EXPECT_DOUBLE_EQ(s.run_discharge, 70.0);
  EXPECT_DOUBLE_EQ(s.run_infiltration, 25.0);
  EXPECT_DOUBLE_EQ(s.run_overall_error, 0.0);
  EXPECT_DOUBLE_EQ(s.run_surface_error, 0.0);

  // One cubic metre lost: 1 / 105 of the water of the run.
  ms->overland.ov_out_volume = 69.0;
  temp_dir again;
  const auto lost = read_summary_balance(run_summary(*ms, again));
  EXPECT_NEAR(lost.run_overall_error, 100.0 / 105.0, 1e-6);
}

TEST(RunBalances, ADenominatorThatIsZeroOrNegativePrintsZero) {
  run_totals t;  // a run without any water
  close_run_balances(t, false, true, true);
  EXPECT_EQ(t.run_overall_error, 0.0);
  EXPECT_EQ(t.run_surface_error, 0.0);
  EXPECT_EQ(t.run_simple_soil_error, 0.0);

  run_totals negative;
  negative.run_vol_gw_head_flux = -50.0;  // more left across the head boundaries than came in
  negative.run_vol_discharge = 3.0;
  close_run_balances(negative, true, false, false);
  EXPECT_EQ(negative.run_overall_error, 0.0);

  run_totals dry;  // a Sacramento run without rain or stores
  dry.run_vol_discharge = 2.0;
  close_sacramento_balances(dry);
  EXPECT_EQ(dry.run_overall_error, 0.0);
  EXPECT_EQ(dry.run_surface_error, 0.0);

  process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  ms->subsurface.gw_simulation = 1;  // the groundwater balance divides by an empty aquifer
  ms->output.totals.run_vol_gw_inputs = 4.0;
  const std::string text = run_summary(*ms, dir);
  EXPECT_TRUE(contains(text, "Mass Balance error =                       0.00 %  \n")) << text;
  EXPECT_FALSE(contains(text, "nan"));
  EXPECT_FALSE(contains(text, "inf %"));
}

// A simple (layered) soil holds the water that infiltrated: in an event run all of it, as its
// zone account takes none; in a long-term run the zones hold what they took at their updates
// and only the infiltration since the last update is still pending. Both runs close.
TEST(RunBalances, TheSimpleSoilHoldsTheInfiltratedWater) {
  struct run_case {
    int long_term;
    double zone_water_cm[2];    // per cell, at the run end
    double pending_depth_m[2];  // infiltrated since the zones' last update
  };
  const run_case cases[] = {{0, {3.0, 1.0}, {0.0, 0.0}}, {1, {23.0, 8.0}, {0.02, 0.01}}};
  for (const run_case& rc : cases) {
    SCOPED_TRACE(rc.long_term);
    process_state_guard guard;
    temp_dir dir;
    auto ms = std::make_unique<model_state>();
    ms->long_term = rc.long_term;
    ms->cell_count = 2;
    ms->gridsize = 10.0;
    ms->overland.ov_depth.allocate(2);
    ms->overland.total_precip_volume = 100.0;
    ms->overland.ov_out_volume = 70.0;
    ms->subsurface.inf_layered_soil = 1;
    ms->subsurface.inf_volume_total = 30.0;
    ms->soil_vol_initial = 4.0;  // 3 cm and 1 cm over the two cells at the start
    ms->subsurface.soil_water_total.allocate(2);
    ms->subsurface.inf_depth_longterm.allocate(2);
    for (int c = 1; c <= 2; ++c) {
      ms->subsurface.soil_water_total[c] = rc.zone_water_cm[c - 1];
      ms->subsurface.inf_depth_longterm[c] = rc.pending_depth_m[c - 1];
    }
    const std::string text = run_summary(*ms, dir);
    const auto s = read_summary_balance(text);
    ASSERT_TRUE(s.has_totals) << text;
    EXPECT_TRUE(contains(text, "Initial volume in soil over simple soil depth             4.00 \n"))
        << text;
    EXPECT_TRUE(contains(text, "Final volume in soil over simple soil depth              34.00\n"))
        << text;
    EXPECT_NEAR(s.run_overall_error, 0.0, 1e-9);
    EXPECT_TRUE(
        contains(text, "Simple soil moisture mass balance =                        0.000000"))
        << text;
  }
}

// The aquifer's final water is (head - bottom) x porosity x area over the cells, and the
// groundwater balance measures its change against the inputs, in percent of the start volume.
TEST(RunBalances, TheGroundwaterBlockTakesTheAquiferWaterFromTheHeads) {
  struct gw_case {
    double inputs, expected_error;
  };
  // Cells of 100 m2 with 10 m and 5 m of saturated aquifer at porosity 0.3: 450 m3 at the end;
  // 400 m3 at the start.
  const gw_case cases[] = {{50.0, 0.0}, {30.0, 5.0}, {70.0, -5.0}};
  for (const gw_case& gc : cases) {
    SCOPED_TRACE(gc.inputs);
    process_state_guard guard;
    temp_dir dir;
    auto ms = std::make_unique<model_state>();
    ms->cell_count = 2;
    ms->gridsize = 10.0;
    subsurface_state& ss = ms->subsurface;
    ss.gw_simulation = 1;
    ss.elevgw.allocate(2);
    ss.bottom_elev.allocate(2);
    ss.gw_porosity.allocate(2);
    ss.elevgw[1] = 12.0, ss.bottom_elev[1] = 2.0;
    ss.elevgw[2] = 7.0, ss.bottom_elev[2] = 2.0;
    ss.gw_porosity[1] = ss.gw_porosity[2] = 0.3;
    ms->gw_vol_initial = 400.0;
    ms->output.totals.run_vol_gw_inputs = gc.inputs;
    const std::string text = run_summary(*ms, dir);
    EXPECT_NEAR(value_after(text, "GW volume start ="), 400.0, 1e-9) << text;
    EXPECT_NEAR(value_after(text, "GW volume end ="), 450.0, 1e-9);
    EXPECT_NEAR(value_after(text, "Total inputs to groundwater="), gc.inputs, 1e-9);
    EXPECT_NEAR(value_after(text, "Mass Balance error ="), gc.expected_error, 1e-9);
    EXPECT_NEAR(value_after(text, "Final volume in groundwater="), 450.0, 1e-9);
  }
}

// Richards soil columns hold water content x node thickness over nodes 1 to count - 1.
TEST(RunBalances, TheRichardsSoilHoldsItsNodesWater) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  ms->cell_count = 2;
  ms->gridsize = 10.0;
  subsurface_state& ss = ms->subsurface;
  ss.inf_richards = 1;
  ss.numcells.allocate(2);
  ss.numcells[1] = 3, ss.numcells[2] = 2;
  ss.THETA.allocate(2, 3);
  ss.DZ.allocate(2, 3);
  for (int c = 1; c <= 2; ++c)
    for (int n = 1; n <= 3; ++n) ss.THETA[c][n] = 0.25, ss.DZ[c][n] = 20.0;
  // Cell 1: two nodes of 20 cm at 0.25, 0.1 m of water; cell 2: one node, 0.05 m; x 100 m2.
  const std::string text = run_summary(*ms, dir);
  EXPECT_NEAR(value_after(text, "Final volume in soils="), 15.0, 1e-9) << text;
}

// The Sacramento check: its storages with their share of the capacities, its books in mm and as
// volumes over the grid, its storages taken as the run's soil and groundwater, and the overall
// and surface errors in its sign convention, where a surplus of outputs is positive.
TEST(RunBalances, TheSacramentoBlockChecksItsBooksAndTurnsTheErrorsSign) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  ms->cell_count = 10;
  ms->gridsize = 10.0;  // A = 100 x 10 / 1000 = 1 m3 per mm
  subsurface_state& ss = ms->subsurface;
  ss.sacramento = 1;
  ss.sac_basin_area = 2000.0;  // B = 2 m3 per mm
  sac_basin_params& p = ss.sac_params;
  p.uztwm = 50, p.uzfwm = 40, p.lztwm = 100, p.lzfpm = 200, p.lzfsm = 25;
  p.uztwc = 25, p.uzfwc = 10, p.lztwc = 50, p.lzfpc = 100, p.lzfsc = 5;  // 190 mm
  p.residual = 0.125;
  sac_run_books& b = ss.sac_books;
  b.uztwc0 = 20, b.uzfwc0 = 10, b.lztwc0 = 40, b.lzfpc0 = 100, b.lzfsc0 = 10;  // 180 mm
  b.rain = 30, b.pet = 12, b.aet = 8, b.runoff = 7, b.deep_recharge = 3;
  b.channel_loss = 0.0;
  // The surface: 100 m3 of rain of which 60 leave at the outlet and 40 infiltrate, and 2 m3
  // more leave at the outlet than the books hold.
  ms->overland.total_precip_volume = 100.0;
  ms->overland.ov_out_volume = 62.0;
  ss.inf_volume_total = 40.0;
  const std::string text = run_summary(*ms, dir);
  EXPECT_TRUE(contains(text, "Initial state variable values:\nuztwc:      20.000 mm,    40.00%\n"))
      << text;
  EXPECT_NEAR(value_after(text, "Final state variable values:\nuztwc:  "), 25.0, 1e-9);
  EXPECT_NEAR(value_after(text, "Initial subsurface storage(mm):"), 180.0, 1e-9);
  EXPECT_NEAR(value_after(text, "Final volume of subsurface water (mm):"), 190.0, 1e-9);
  // 180 + 30 - 8 - 7 - 3 - 190 = 2 mm.
  EXPECT_NEAR(value_after(text, "Residual (neg. means mass created (mm):"), 2.0, 1e-9);
  EXPECT_NEAR(value_after(text, "total residual water balance:"), 0.125, 1e-12);
  EXPECT_NEAR(value_after(text, "Initial volume=   "), 180.0, 1e-9);
  EXPECT_NEAR(value_after(text, "Volume of ET=     "), 8.0, 1e-9);
  // (180 - 8 + 30 - 7 - 190) x 1 = 5 m3.
  EXPECT_NEAR(value_after(text, "Residual=         "), 5.0, 1e-9);
  // Soil: tension water x B; groundwater: free water x B.
  EXPECT_NEAR(value_after(text, "Initial volume in soils="), (40 + 20) * 2.0, 1e-9);
  EXPECT_NEAR(value_after(text, "Final volume in soils="), (50 + 25) * 2.0, 1e-9);
  EXPECT_NEAR(value_after(text, "Final volume in groundwater="), (5 + 10 + 100) * 2.0, 1e-9);
  EXPECT_NEAR(value_after(text, "Total recharge to deep g.w.="), 6.0, 1e-9);
  // Surface: (100 - (62 + 40)) x 100 / 100 = -2, negated: outputs exceed inputs by 2 %.
  EXPECT_NEAR(value_after(text, "Mass balance error of surface components ="), -2.0, 1e-6);
  // Overall: stores at the end 150 + 230, at the start 120 + 240: 380 - 360 - rain 100 + ET 16
  // + discharge 62 = -2 m3 over rain and stores of 460 m3.
  EXPECT_NEAR(value_after(text, "Overall mass balance error ="), -200.0 / 460.0, 1e-6);
  EXPECT_TRUE(contains(text, "*overall mass balance error will not be zero"));
}

// A long-term run over a redistribution soil: the water that drained below the soil (kept per
// cell by the soil steps) leaves the books as the downward flux, the direct evaporation the
// cells took since the last event end joins the run's total, and the overall, surface and
// simple-soil balances all close on it.
TEST(RunBalances, TheDrainageBelowTheSoilAndTheLastDirectEvaporationCloseTheBooks) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  ms->long_term = 1;
  ms->cell_count = 2;
  ms->gridsize = 10.0;
  ms->overland.ov_depth.allocate(2);
  ms->overland.total_precip_volume = 100.0;
  ms->overland.ov_out_volume = 69.5;
  subsurface_state& ss = ms->subsurface;
  ss.inf_redist = 1;
  ss.inf_volume_total = 30.0;
  ms->soil_vol_initial = 4.0;
  ss.inf_depth_longterm.allocate(2);
  ss.soil_water_total.allocate(2);
  ss.recharge_cum.allocate(2);
  ss.et_cum_cell.allocate(2);
  // 8 m3 drained below the soil (5 cm and 3 cm over 100 m2 cells); the soil holds 4 + 30 - 8.
  ss.recharge_cum[1] = 5.0, ss.recharge_cum[2] = 3.0;
  ss.soil_water_total[1] = 16.0, ss.soil_water_total[2] = 10.0;
  // 0.5 m3 of surface water evaporated after the last event end.
  ss.et_cum_cell[1] = 0.5;
  ss.soil_account.et_volume_total = 0.5;  // the soil water account's evaporation of the run
  const std::string text = run_summary(*ms, dir);
  EXPECT_NEAR(value_after(text, "Total downward flux from unsaturated zone="), 8.0, 1e-9) << text;
  EXPECT_NEAR(value_after(text, "Total direct evaporation="), 0.5, 1e-9);
  EXPECT_NEAR(value_after(text, "Final volume in soil over simple soil depth"), 26.0, 1e-9);
  const auto s = read_summary_balance(text);
  EXPECT_NEAR(s.run_overall_error, 0.0, 1e-9);
  EXPECT_NEAR(s.run_surface_error, 0.0, 1e-9);
  EXPECT_NEAR(value_after(text, "Simple soil moisture mass balance ="), 0.0, 1e-9);
}

// With a water table below the simple soil, the soil between them holds the water content the
// moving table leaves: (depth to the table - soil depth) x that content x area. The soil depth
// is the redistribution soil's unsaturated depth, or twice layer 1 of the cell's soil type.
TEST(RunBalances, TheSoilAboveADeepWaterTableCountsInTheFinalSoilWater) {
  struct table_case {
    int layered;
    double expected;  // m3
  };
  // Cell 1: table 3 m down, soil 2 m (redistribution) or 1 m (layered); cell 2: table 0.5 m down,
  // inside the soil.
  const table_case cases[] = {{0, 1.0 * 0.1 * 100.0}, {1, 2.0 * 0.1 * 100.0}};
  for (const table_case& tc : cases) {
    SCOPED_TRACE(tc.layered);
    process_state_guard guard;
    temp_dir dir;
    auto ms = std::make_unique<model_state>();
    ms->cell_count = 2;
    ms->gridsize = 10.0;
    ms->cell_elev.allocate(2);
    ms->cell_elev[1] = ms->cell_elev[2] = 100.0;
    subsurface_state& ss = ms->subsurface;
    (tc.layered ? ss.inf_layered_soil : ss.inf_redist) = 1;
    ss.water_table_on = 1;
    ss.init_unsat_depth_cm = 200.0;
    ss.soil_types[3].layer_depth[0] = 50.0;
    ss.soiltype.allocate(2);
    ss.soiltype[1] = ss.soiltype[2] = 3;
    ss.elevgw.allocate(2);
    ss.elevgw[1] = 97.0, ss.elevgw[2] = 99.5;
    ss.gw_inf_redist_theta.allocate(2);
    ss.gw_inf_redist_theta[1] = ss.gw_inf_redist_theta[2] = 0.1;
    ss.soil_water_total.allocate(2);
    const std::string text = run_summary(*ms, dir);
    EXPECT_NEAR(value_after(text, "Final volume in soil over simple soil depth"), tc.expected, 1e-9)
        << text;
  }
}

// Channel lakes in the run's books: their water at start-up and at the end, their evaporation
// over the run, and the lake balance closing on the flows into and out of them.
TEST(RunBalances, TheChannelLakesCloseTheirOwnBalance) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  ms->perennial_lakes = 1;
  channel_state& ch = ms->channel;
  ch.num_lakes = 2;
  ch.lake_vol_start = 500.0;
  ch.lake_volume.allocate(2);
  ch.cumulative_lake_evap.allocate(2);
  ch.lake_volume[1] = 300.0, ch.lake_volume[2] = 250.0;
  ch.cumulative_lake_evap[1] = 10.0, ch.cumulative_lake_evap[2] = 5.0;
  ms->output.totals.run_vol_into_lakes = 100.0;
  ms->output.totals.run_vol_from_lakes = 35.0;
  const std::string text = run_summary(*ms, dir);
  EXPECT_NEAR(value_after(text, "Initial volume in perennial lakes"), 500.0, 1e-9) << text;
  EXPECT_NEAR(value_after(text, "Final volume in perennial lakes"), 550.0, 1e-9);
  EXPECT_NEAR(value_after(text, "Volume of lake evap="), 15.0, 1e-9);
  // 100 in - 35 out - 15 evaporated = the lakes' 50 m3 gain.
  EXPECT_NEAR(value_after(text, "Perennial lake mass bal error m^3="), 0.0, 1e-9);
}

// Water that stage and inflow cells, channel point sources, the aquifer's XY boundaries or a
// fixed water table above the ground bring in is water the run's error is measured against, and
// water leaving through boundary cells is an output: each run below closes to 0, and losing 1 % of
// all the water that came in (its stores at the start and every inflow) prints 1 %, not the loss
// over the rain and stores alone.
TEST(RunBalances, EveryInflowAndOutflowCountsInTheOverallError) {
  struct row {
    const char* what;
    void (*fill)(run_totals&);
    double water_in;  // the stores at the start and every inflow, m3
  };
  const row rows[] = {
      {"a plane fed only by stage and inflow cells",
       [](run_totals& t) {
         t.run_vol_head_in = 500.0;
         t.run_vol_head_out = 100.0;
         t.run_vol_discharge = 5.0;
         t.vol_ov_final = 395.0;
       },
       500.0},
      {"rain and inflow cells, draining through normal-depth cells",
       [](run_totals& t) {
         t.run_vol_ov_init = 50.0;
         t.run_vol_precip = 100.0;
         t.run_vol_head_in = 850.0;
         t.run_vol_slope_out = 600.0;
         t.run_vol_discharge = 100.0;
         t.vol_ov_final = 300.0;
       },
       1000.0},
      {"channel point sources and the aquifer's XY boundaries",
       [](run_totals& t) {
         t.run_vol_chan_init = 20.0;
         t.run_vol_precip = 80.0;
         t.run_vol_chan_source = 200.0;
         t.run_vol_xy_gain = 100.0;
         t.run_vol_xy_loss = 50.0;
         t.run_vol_discharge = 300.0;
         t.vol_chan_final = 50.0;
       },
       400.0},
      {"a fixed water table above the ground pushing water onto the surface",
       [](run_totals& t) {
         t.run_vol_precip = 50.0;
         t.run_vol_exfiltration = 150.0;
         t.run_vol_discharge = 120.0;
         t.vol_ov_final = 80.0;
       },
       200.0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    run_totals closed;
    r.fill(closed);
    close_run_balances(closed, false, true, false);
    EXPECT_NEAR(closed.run_overall_error, 0.0, 1e-12);

    run_totals lossy;
    r.fill(lossy);
    lossy.run_vol_discharge -= 0.01 * r.water_in;  // water that left without being booked
    close_run_balances(lossy, false, true, false);
    EXPECT_NEAR(lossy.run_overall_error, 1.0, 1e-9);
  }
}

// The channels' water at the run's start is a store of the run, as the first event's books
// take it: a run whose channels keep the 50 m3 they started with closes.
TEST(RunBalances, TheChannelsWaterAtTheStartIsAStoreOfTheRun) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = std::make_unique<model_state>();
  ms->cell_count = 2;
  ms->gridsize = 10.0;
  ms->overland.ov_depth.allocate(2);
  ms->channel.chan_explic = 1;
  ms->channel.chan_vol_initial = 50.0;
  open_event_books(*ms);
  ms->output.budget.vol_chan_final = 50.0;
  ms->overland.total_precip_volume = 100.0;
  ms->output.totals.run_vol_discharge = 100.0;
  const std::string text = run_summary(*ms, dir);
  EXPECT_TRUE(contains(text, "Initial volume in channels=                              50.00 \n"))
      << text;
  EXPECT_NEAR(read_summary_balance(text).run_overall_error, 0.0, 1e-9) << text;
}

// A run's books fail when its overall error is beyond 1 % either way, or is not a number, or
// when a store of its end is below empty by more than 1 % of the water that came in (and more
// than round-off): water the run made and counted as a store, which leaves the error at 0.
TEST(RunBalances, TheBooksFailBeyondOnePercentOrWithAStoreBelowEmpty) {
  const struct {
    double error_percent;
    bool fails;
  } errors[] = {{0.0, false},    {1.0, false},       {-1.0, false}, {0.999, false},  {1.0001, true},
                {-1.0001, true}, {-2285457.0, true}, {NAN, true},   {INFINITY, true}};
  for (const auto& r : errors) {
    run_totals t;
    t.run_overall_error = r.error_percent;
    EXPECT_EQ(run_books_fail(t), r.fails) << r.error_percent;
  }

  const struct {
    const char* what;
    double run_totals::*store;
    double volume;
    double water_in;
    const char* where;  // the store named, null when the books close
  } stores[] = {
      {"surface 2 % below empty", &run_totals::vol_ov_final, -2.0, 100.0, "on the surface"},
      {"surface 0.5 % below empty", &run_totals::vol_ov_final, -0.5, 100.0, nullptr},
      {"channels below empty, no water in", &run_totals::vol_chan_final, -0.01, 0.0,
       "in the channels"},
      {"round-off below empty", &run_totals::vol_chan_final, -1e-9, 0.0, nullptr},
      {"overland lakes below empty", &run_totals::run_vol_ov_lake_final, -5.0, 100.0,
       "in the overland lakes"},
      {"perennial lakes below empty", &run_totals::run_vol_lake_final, -5.0, 100.0,
       "in the perennial lakes"},
  };
  for (const auto& r : stores) {
    SCOPED_TRACE(r.what);
    run_totals t;
    t.*(r.store) = r.volume;
    t.run_water_in = r.water_in;
    const final_store below = store_below_empty(t);
    if (r.where == nullptr) {
      EXPECT_EQ(below.where, nullptr);
    } else {
      ASSERT_NE(below.where, nullptr);
      EXPECT_STREQ(below.where, r.where);
      EXPECT_EQ(below.volume, r.volume);
    }
    EXPECT_EQ(run_books_fail(t), r.where != nullptr);
  }

  // The water in is what the overall balance measures against, stores at the start included.
  run_totals t;
  t.run_vol_ov_init = 900.0;
  t.run_vol_head_in = 100.0;
  close_run_balances(t, false, true, false);
  EXPECT_DOUBLE_EQ(t.run_water_in, 1000.0);
}
