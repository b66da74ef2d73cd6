// End-of-event accounting: the event's final stores and shares of the running totals, its
// water balance in its three forms, the summary lines a user reads, the optimisation line and
// the result holder; the final constituent masses of the overland, soil, channel and lake
// stores from state the tests set.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>

#include "calibration/calibration_drivers.h"
#include "calibration/run_result.h"
#include "framework/model_state.h"
#include "output/event_accounting.h"
#include "output/output_steps.h"
#include "output/water_budget.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::value_after;

namespace {

// Four 10 m cells, dry at the start of the event.
std::unique_ptr<model_state> small_plane(const temp_dir& dir) {
  auto ms = std::make_unique<model_state>();
  ms->cell_count = 4;
  ms->gridsize = 10.0;
  ms->timestep = 10.0;
  ms->overland.ov_depth.allocate(4);
  ms->event_number = 1;
  ms->overland.num_events = 1;
  EXPECT_TRUE(file_handle_open(ms->output.summary_file, dir.file("summary.out").c_str(), "w"));
  return ms;
}

}  // namespace

TEST(EventBalance, EachFormClosesItsBooksAndAnEventWithoutWaterIsMinusOne) {
  event_budget b;
  b.event_vol_rain = 100.0;
  b.event_vol_infiltrated = 30.0;
  b.vol_ov_final = 10.0;
  b.event_vol_discharge = 55.0;
  // Groundwater drained by tiles goes from the aquifer into the pipes: not the surface's water.
  b.event_vol_gw_to_tile = 7.0;
  close_event_balance(b, event_balance_form::overland);
  EXPECT_DOUBLE_EQ(b.event_mass_in, 100.0);
  EXPECT_DOUBLE_EQ(b.event_mass_out, 95.0);
  EXPECT_DOUBLE_EQ(b.event_balance_error, 0.05);

  // With channels, the channel water at the end is an output and tile drainage an input.
  b.vol_chan_final = 5.0;
  b.event_vol_gw_to_tile = 2.0;
  close_event_balance(b, event_balance_form::channel);
  EXPECT_DOUBLE_EQ(b.event_mass_in, 102.0);
  EXPECT_DOUBLE_EQ(b.event_mass_out, 100.0);

  // The Sacramento form counts a surplus of outputs as positive.
  event_budget s;
  s.event_vol_rain = 100.0;
  s.event_vol_discharge = 110.0;
  close_event_balance(s, event_balance_form::sacramento);
  EXPECT_DOUBLE_EQ(s.event_balance_error, 0.1);

  event_budget dry;
  dry.event_vol_snow_init = 0.0;
  close_event_balance(dry, event_balance_form::overland);
  EXPECT_EQ(dry.event_balance_error, -1.0);
  // Without channels, initial water alone keeps the error defined.
  dry.event_vol_ov_init = 20.0;
  dry.vol_ov_final = 20.0;
  close_event_balance(dry, event_balance_form::overland);
  EXPECT_EQ(dry.event_balance_error, 0.0);
}

TEST(EventBalance, TheSacramentoFormWithoutStoreOrRainIsZeroNotANumber) {
  event_budget s;
  s.event_vol_precip_lake = 1.0;  // rain on lakes only: the form is entered, its D is 0
  s.event_vol_discharge = 3.0;
  close_event_balance(s, event_balance_form::sacramento);
  EXPECT_TRUE(std::isfinite(s.event_balance_error));
  EXPECT_EQ(s.event_balance_error, 0.0);
}

TEST(FinishEventBalance, TheSummaryPrintsTheEventBooksAUserCanCheck) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = small_plane(dir);
  open_event_books(*ms);  // dry plane, 40 m3 already drained in an earlier event
  ms->overland.ov_out_volume = 40.0;
  ms->output.budget.start_outlet_volume = 40.0;
  // The event: 12 m3 of rain, 9 m3 out at the outlet, 3 m3 left on the cells.
  ms->event_rain_vol = 12.0;
  ms->overland.ov_out_volume = 49.0;
  for (int c = 1; c <= 4; ++c) ms->overland.ov_depth[c] = 0.0075;
  ms->peak_outlet_q = 0.25;
  ms->event_over = 1;
  stdout_capture capture;
  finish_event_balance(*ms);
  EXPECT_TRUE(contains(capture.stop(), "finished event \n"));
  EXPECT_EQ(ms->event_over, 0);
  EXPECT_EQ(ms->output.events_done, 1);
  file_handle_close(ms->output.summary_file);

  const auto s = read_summary_balance(read_file(dir.file("summary.out")));
  ASSERT_TRUE(s.has_event) << read_file(dir.file("summary.out"));
  EXPECT_DOUBLE_EQ(s.event_rain, 12.0);
  EXPECT_DOUBLE_EQ(s.event_discharge, 9.0);
  EXPECT_DOUBLE_EQ(s.event_surface_final, 3.0);
  EXPECT_DOUBLE_EQ(s.event_error_percent, 0.0);
  EXPECT_DOUBLE_EQ(s.event_peak, 0.25);

  // finish_event_balance acts once per ended event.
  finish_event_balance(*ms);
  EXPECT_EQ(ms->output.events_done, 1);
}

// Water that leaves through normal-depth boundary cells and water that inflow cells bring in
// belong to the event's books: only the event's own share of the run's boundary totals counts.
TEST(FinishEventBalance, BoundaryCellsTakeTheirShareOfTheEventBooks) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = small_plane(dir);
  overland_state& ov = ms->overland;
  ov.bdy_normal_out = 2.0;  // an earlier event's boundary water
  ov.bdy_flow_in = 0.5;
  open_event_books(*ms);
  // The event: 12 m3 of rain and 1 m3 from an inflow cell; 4 m3 leave through the boundary,
  // 3 m3 at the outlet, 6 m3 stay on the cells.
  ms->event_rain_vol = 12.0;
  ov.bdy_normal_out = 6.0;
  ov.bdy_flow_in = 1.5;
  ov.ov_out_volume = 3.0;
  for (int c = 1; c <= 4; ++c) ov.ov_depth[c] = 0.015;
  ms->event_over = 1;
  stdout_capture capture;
  finish_event_balance(*ms);
  capture.stop();
  file_handle_close(ms->output.summary_file);
  EXPECT_DOUBLE_EQ(ms->output.budget.event_vol_slope_out, 4.0);
  EXPECT_DOUBLE_EQ(ms->output.budget.event_vol_head_in, 1.0);
  EXPECT_DOUBLE_EQ(ms->output.budget.event_vol_head_out, 0.0);
  const std::string text = read_file(dir.file("summary.out"));
  const auto s = read_summary_balance(text);
  ASSERT_TRUE(s.has_event) << text;
  EXPECT_NEAR(s.event_error_percent, 0.0, 1e-9) << text;
}

// The run's final overland-lake water is what the lakes hold after the last event, however many
// events ended before it.
TEST(FinishEventBalance, TheLakesFinalWaterIsCountedOnceOverSeveralEvents) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = small_plane(dir);
  overland_state& ov = ms->overland;
  ov.overland_lake_map = 1;
  ov.olake_count = 1;
  ov.ov_lakes.allocate(1);
  ov.ov_lakes[1].surface_elev = 100.5;
  ov.oland_lake_new.allocate(4);
  ov.oland_lake_new[2] = ov.oland_lake_new[3] = 1;
  ms->cell_elev.allocate(4);
  for (int c = 1; c <= 4; ++c) ms->cell_elev[c] = 100.0;
  stdout_capture capture;
  for (int event = 1; event <= 3; ++event) {
    open_event_books(*ms);
    ms->event_over = 1;
    finish_event_balance(*ms);
  }
  capture.stop();
  // Two lake cells of 100 m2 under 0.5 m of water.
  EXPECT_DOUBLE_EQ(ms->output.totals.run_vol_ov_lake_final, 100.0);
}

TEST(FinishEventBalance, AnEventWithoutRainSaysSoAndLosesNothing) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = small_plane(dir);
  open_event_books(*ms);
  ms->event_over = 1;
  stdout_capture capture;
  finish_event_balance(*ms);
  capture.stop();
  file_handle_close(ms->output.summary_file);
  const std::string text = read_file(dir.file("summary.out"));
  EXPECT_TRUE(contains(text, "mass conservation error:             -100.000000 percent\n")) << text;
  EXPECT_TRUE(
      contains(text, "Note: positive mass conservation error indicates mass was created.\n"));
  EXPECT_TRUE(contains(text, "Note: no rainfall was input.\n"));
  EXPECT_FALSE(contains(text, "nan"));
}

TEST(FinishEventBalance, TheOptimisationLineAndTheHolderTakeCubicFeetWithQoutCfs) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = small_plane(dir);
  ms->calibration.optimize_on = 1;
  ms->qout_cfs = 1;
  ms->overland.num_events = 2;
  ASSERT_TRUE(file_handle_open(ms->input.optimize_file, dir.file("optim.out").c_str(), "w"));
  alloc_driver_results(*ms);
  open_event_books(*ms);
  ms->event_number = 2;
  ms->event_rain_vol = 10.0;
  ms->overland.ov_out_volume = 10.0;
  ms->peak_outlet_q = 2.0;
  ms->event_over = 1;
  stdout_capture capture;
  finish_event_balance(*ms);
  capture.stop();
  file_handle_close(ms->input.optimize_file);
  std::istringstream line(read_file(dir.file("optim.out")));
  int event = 0;
  double peak = 0.0;
  double volume = 0.0;
  ASSERT_TRUE(line >> event >> peak >> volume);
  EXPECT_EQ(event, 2);
  EXPECT_NEAR(peak, 70.64, 1e-9);
  EXPECT_NEAR(volume, 353.2, 1e-9);
  const run_result& holder = *ms->calibration.driver_result;
  EXPECT_DOUBLE_EQ(holder.peaks[2], 70.64);  // stride 1: event 2 at slot 2
  EXPECT_DOUBLE_EQ(holder.volumes[2], 353.2);
  EXPECT_EQ(holder.peaks[1], 0.0);
}

// The final constituent masses of one constituent on two 10 m cells, in kg: dissolved overland
// mass (a lake cell counting none, and the non-lake cells their depth x concentration in the
// global total), land-surface mass and the soil layers' mass.
TEST(ConstituentBooks, TheOverlandLandAndSoilMassesAtTheEventEnd) {
  struct books_case {
    int lakes;
    double ov, global, land, soil;
  };
  const books_case cases[] = {{0, 6.0, 6.0, 4.0, 2.5}, {1, 2.0, 0.1 + 4.0, 4.0, 2.5}};
  for (const books_case& bc : cases) {
    SCOPED_TRACE(bc.lakes);
    auto ms = std::make_unique<model_state>();
    model_state& m = *ms;
    m.cell_count = 2;
    m.gridsize = 10.0;
    m.perennial_lakes = bc.lakes;
    m.overland.ov_depth.allocate(2);
    m.overland.ov_depth[1] = 0.2, m.overland.ov_depth[2] = 0.1;
    m.channel.lake_mask.allocate(2);
    m.channel.lake_mask[2] = 1;  // cell 2 lies in a lake
    transport_state& tr = m.transport;
    tr.ov_con_trans = tr.soil_con_trans = 1;
    tr.num_contaminants = 1;
    for (guarded_array<double>* a :
         {&tr.OV_MASS_FINAL, &tr.GLOBAL_MASS_FINAL, &tr.OV_LAND_MASS_FINAL})
      ASSERT_TRUE(a->grow_fill(1, 99.0));  // left over from an earlier event
    tr.ov_contam_mass.allocate(1, 2);
    tr.ov_contam_conc.allocate(1, 2);
    tr.ov_land_mass.allocate(1, 2);
    tr.ov_contam_mass[1][1] = 2000.0, tr.ov_contam_mass[1][2] = 4000.0;  // g
    tr.ov_contam_conc[1][1] = 5.0, tr.ov_contam_conc[1][2] = 7.0;        // g/m3
    tr.ov_land_mass[1][1] = 1000.0, tr.ov_land_mass[1][2] = 3000.0;
    ASSERT_TRUE(tr.soil_mass.add_planes_fill(1, 0.0, 2, 2));
    tr.soil_mass[1][1][1] = 500.0, tr.soil_mass[1][1][2] = 1500.0;
    tr.soil_mass[1][2][1] = 250.0, tr.soil_mass[1][2][2] = 250.0;
    close_overland_constituents(m);
    EXPECT_NEAR(tr.OV_MASS_FINAL[1], bc.ov, 1e-12);
    EXPECT_NEAR(tr.GLOBAL_MASS_FINAL[1], bc.global, 1e-12);
    EXPECT_NEAR(tr.OV_LAND_MASS_FINAL[1], bc.land, 1e-12);
    ASSERT_EQ(tr.soil_mass_final.count(), 1);
    EXPECT_NEAR(tr.soil_mass_final[1], bc.soil, 1e-12);
  }
}

// Channel constituents: volume (flow area x node spacing) x concentration over the nodes of the
// routed links, structure and lake links skipped, added to the global total; with sediment-bound
// contaminants the nodes' total mass too. Lakes add their mass to the global total only at the
// end of the run.
TEST(ConstituentBooks, TheChannelAndLakeMassesAtTheEventAndRunEnd) {
  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  channel_state& ch = m.channel;
  ch.chan_explic = 1;
  ch.chan_link_count = 2;
  ch.ltype.allocate(2);
  ch.ltype[1] = 4, ch.ltype[2] = 64;  // link 2 is a structure
  ch.nx1.allocate(2);
  ch.nx1[1] = ch.nx1[2] = 2;
  ch.dx.allocate(2);
  ch.dx[1] = ch.dx[2] = 10.0;
  ch.area.allocate_uniform(2, 2);
  ch.area(1, 1) = 2.0, ch.area(1, 2) = 3.0, ch.area(2, 1) = ch.area(2, 2) = 50.0;
  ch.num_lakes = 1;
  transport_state& tr = m.transport;
  tr.chan_con_trans = tr.sediment_contam = 1;
  tr.num_contaminants = 1;
  ASSERT_TRUE(tr.GLOBAL_MASS_FINAL.grow_fill(1, 1.0));  // 1 kg from the overland books
  tr.con_node_stride = 2;
  tr.chan_con_conc.allocate(1, 6);
  tr.chan_tot_node_mass.allocate(1, 6);
  for (int flat = 0; flat <= 6; ++flat) tr.chan_con_conc[1][flat] = 100.0;  // g/m3
  tr.chan_tot_node_mass[1][3] = 4000.0, tr.chan_tot_node_mass[1][4] = 6000.0;
  tr.chan_tot_node_mass[1][5] = 7e6;  // a structure node: not counted
  tr.lake_mass.allocate(1, 1);
  tr.lake_mass[1][1] = 2500.0;
  close_channel_constituents(m, false);
  // (2 + 3) m2 x 10 m x 100 g/m3 = 5000 g.
  EXPECT_NEAR(tr.chan_mass_final[1], 5.0, 1e-12);
  EXPECT_NEAR(tr.chan_total_mass_final[1], 10.0, 1e-12);
  EXPECT_NEAR(tr.GLOBAL_MASS_FINAL[1], 6.0, 1e-12);

  m.perennial_lakes = 1;
  close_lake_constituents(m, false);  // the event's books: the lake's own total only
  EXPECT_NEAR(tr.lake_mass_final[1], 2.5, 1e-12);
  EXPECT_NEAR(tr.GLOBAL_MASS_FINAL[1], 6.0, 1e-12);
  close_lake_constituents(m, true);  // the run's books: the global total starts from the lakes
  EXPECT_NEAR(tr.GLOBAL_MASS_FINAL[1], 2.5, 1e-12);
  // With perennial lakes a link's nodes are counted up to nx: here the first node only.
  ch.nx.allocate(2);
  ch.nx[1] = 1, ch.nx[2] = 2;
  close_channel_constituents(m, false);
  EXPECT_NEAR(tr.chan_mass_final[1], 2.0, 1e-12);
  EXPECT_NEAR(tr.chan_total_mass_final[1], 4.0, 1e-12);
  EXPECT_NEAR(tr.GLOBAL_MASS_FINAL[1], 4.5, 1e-12);
}

// Channel lakes in the event's books: their water at the start and the end, the rain on them,
// their evaporation and the overland water that entered them, which each event end moves from
// the lakes' own counts into the event's and the run's overland totals.
TEST(FinishEventBalance, ChannelLakesTakeTheirInflowRainAndEvaporationIntoTheBooks) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = small_plane(dir);
  ms->perennial_lakes = 1;
  channel_state& ch = ms->channel;
  ch.chan_explic = 1;
  ch.num_lakes = 2;
  ch.lake_volume.allocate(2);
  ch.lake_ov_inflow.allocate(2);
  ch.cumulative_lake_evap.allocate(2);
  ch.lake_volume[1] = 150.0, ch.lake_volume[2] = 50.0;
  ch.cumulative_lake_evap[1] = 7.0;  // evaporated in an earlier event
  open_event_books(*ms);
  // The event: 50 m3 of rain on the cells and 10 m3 on the lakes; 30 m3 run off the cells into
  // the lakes (25 into lake 1, 5 into lake 2), 20 m3 stay on the cells; the lakes lose 4 m3.
  ms->event_rain_vol = 50.0;
  ms->overland.lake_precip_event = 10.0;
  for (int c = 1; c <= 4; ++c) ms->overland.ov_depth[c] = 0.05;
  ch.lake_ov_inflow[1] = 25.0, ch.lake_ov_inflow[2] = 5.0;
  ch.cumulative_lake_evap[1] = 10.0, ch.cumulative_lake_evap[2] = 1.0;
  ch.lake_volume[1] = 150.0 + 8.0 + 25.0 - 3.0;
  ch.lake_volume[2] = 50.0 + 2.0 + 5.0 - 1.0;
  // The lakes' extents: each holds no listed cell and has settled on its volume, so the
  // event end's adjustment of their extents moves nothing.
  ch.numpts.allocate(2);
  ch.lake_search.allocate(2, 2, 1);
  ch.lake_cells.allocate(2);
  ch.lake_in_dv.allocate(2);
  ch.lake_elev.allocate(2);
  ch.lake_area.allocate(2);
  ch.prevlake_volume.allocate(2);
  for (int lake = 1; lake <= 2; ++lake) ch.prevlake_volume[lake] = ch.lake_volume[lake];
  ch.lake_mask.allocate(4);
  ch.new_flooded_grid.allocate(4);
  ms->index_map.allocate(2, 2);
  ms->cell_elev.allocate(4);
  ms->event_over = 1;
  stdout_capture capture;
  finish_event_balance(*ms);
  capture.stop();
  const std::string text = read_file(dir.file("summary.out"));
  EXPECT_NEAR(value_after(text, "initial volume in lakes"), 200.0, 1e-9) << text;
  EXPECT_NEAR(value_after(text, "volume precip to lake:"), 10.0, 1e-9);
  EXPECT_NEAR(value_after(text, "volume overland to lake:"), 30.0, 1e-9);
  EXPECT_NEAR(value_after(text, "volume of lake evaporation:"), 4.0, 1e-9);
  EXPECT_NEAR(value_after(text, "volume remaining in lakes"), 236.0, 1e-9);
  EXPECT_NEAR(read_summary_balance(text).event_error_percent, 0.0, 1e-9);
  // The lakes' total inflow is the channel step's to book; the overland share has its own.
  EXPECT_DOUBLE_EQ(ms->output.totals.run_vol_ov_to_lakes, 30.0);
  EXPECT_EQ(ms->output.totals.run_vol_into_lakes, 0.0);
  EXPECT_EQ(ch.lake_ov_inflow[1], 0.0);
  EXPECT_EQ(ch.lake_ov_inflow[2], 0.0);

  // The next event counts only its own inflow, rain on the lakes and spill out of them; the
  // run's total holds both events' inflow.
  open_event_books(*ms);
  ch.lake_ov_inflow[1] = 6.0;
  ms->overland.lake_spill_event = 2.0;
  ms->event_over = 1;
  stdout_capture again;
  finish_event_balance(*ms);
  again.stop();
  EXPECT_DOUBLE_EQ(ms->output.budget.event_vol_ov_to_lake, 6.0);
  EXPECT_EQ(ms->output.budget.event_vol_precip_lake, 0.0);
  EXPECT_DOUBLE_EQ(ms->output.budget.event_vol_ov_from_lake, 2.0);
  EXPECT_EQ(ms->overland.lake_spill_event, 0.0);
  EXPECT_DOUBLE_EQ(ms->output.totals.run_vol_ov_to_lakes, 36.0);
}

// In a long-term run the water the cells lost to direct evaporation since the last event end is
// the event's direct evaporation, and it closes the event's books.
TEST(FinishEventBalance, ALongTermEventBooksTheCellsDirectEvaporation) {
  process_state_guard guard;
  temp_dir dir;
  auto ms = small_plane(dir);
  ms->long_term = 1;
  subsurface_state& ss = ms->subsurface;
  ss.inf_redist = 1;
  ss.et_cum_cell.allocate(4);
  ss.surf_moist.allocate(4);
  ss.porosity_cell.allocate(4);
  for (int c = 1; c <= 4; ++c) {
    ss.et_cum_cell[c] = 0.5;  // cm: 0.5 m3 from each 100 m2 cell
    ss.surf_moist[c] = c <= 2 ? 0.2 : 0.3;
    ss.porosity_cell[c] = 0.4;
  }
  open_event_books(*ms);
  // 12 m3 of rain: 7 m3 out at the outlet, 3 m3 left on the cells, 2 m3 evaporated.
  ms->event_rain_vol = 12.0;
  ms->overland.ov_out_volume = 7.0;
  for (int c = 1; c <= 4; ++c) ms->overland.ov_depth[c] = 0.0075;
  ms->event_over = 1;
  stdout_capture capture;
  finish_event_balance(*ms);
  capture.stop();
  const std::string text = read_file(dir.file("summary.out"));
  EXPECT_NEAR(value_after(text, "volume of direct evaporation:"), 2.0, 1e-9) << text;
  EXPECT_NEAR(read_summary_balance(text).event_error_percent, 0.0, 1e-9);
  // Surface moisture over porosity: 0.5 on two cells and 0.75 on the other two.
  EXPECT_NEAR(value_after(text, "final basin-averaged soil water content:"), 62.5, 1e-9);
  EXPECT_DOUBLE_EQ(ms->output.totals.run_vol_direct_evap, 2.0);
  for (int c = 1; c <= 4; ++c) EXPECT_EQ(ss.et_cum_cell[c], 0.0);
}

// The final basin-average soil water content of each infiltration scheme, on three cells.
TEST(BasinSoilMoisture, EachSchemeAveragesItsCellsSaturation) {
  // Redistribution: surface moisture over porosity; a cell without porosity is reported and
  // left out of the mean instead of making it undefined.
  {
    process_state_guard guard;
    auto ms = std::make_unique<model_state>();
    ms->cell_count = 3;
    subsurface_state& ss = ms->subsurface;
    ss.inf_redist = 1;
    ss.surf_moist.allocate(3);
    ss.porosity_cell.allocate(3);
    ss.surf_moist[1] = 0.2, ss.surf_moist[2] = 0.3, ss.surf_moist[3] = 0.1;
    ss.porosity_cell[1] = ss.porosity_cell[2] = 0.4;  // cell 3: none
    stdout_capture capture;
    EXPECT_NEAR(final_basin_theta(*ms), 0.625, 1e-12);
    const std::string console = capture.stop();
    EXPECT_TRUE(contains(console, "problem with final soil moisture in cell: 3\n")) << console;
    EXPECT_FALSE(contains(console, "cell: 1\n"));
  }
  // Layered soil (layer 1 of 10 cm at porosity 0.5): the upper zone's water over layer 1 when
  // the front is below it, over the front's depth when inside it, and the porosity without a
  // front.
  {
    auto ms = std::make_unique<model_state>();
    ms->cell_count = 3;
    subsurface_state& ss = ms->subsurface;
    ss.inf_layered_soil = 1;
    ss.soil_types[1].layer_depth[0] = 10.0;
    ss.soil_types[1].layer_porosity[0] = 0.5;
    ss.soiltype.allocate(3);
    ss.wetdep.allocate(3);
    ss.zone_water_upper.allocate(3);
    for (int c = 1; c <= 3; ++c) ss.soiltype[c] = 1;
    ss.wetdep[1] = 20.0, ss.zone_water_upper[1] = 4.0;  // 4 / 10 / 0.5 = 0.8
    ss.wetdep[2] = 5.0, ss.zone_water_upper[2] = 1.0;   // 1 / 5 / 0.5 = 0.4
    EXPECT_NEAR(final_basin_theta(*ms), (0.8 + 0.4 + 0.5) / 3.0, 1e-12);
  }
  // Richards columns of two 10 cm soil nodes at half and full saturation, down to the
  // soil-moisture depth; only in long-term runs.
  struct depth_case {
    double depth_m;
    int long_term;
    double expected;
  };
  const depth_case cases[] = {
      {0.10, 1, 0.5}, {0.15, 1, 0.75}, {1.00, 1, 0.75}, {0.0, 1, 0.5}, {0.15, 0, 0.0}};
  for (const depth_case& dc : cases) {
    SCOPED_TRACE(dc.depth_m);
    auto ms = std::make_unique<model_state>();
    ms->cell_count = 1;
    ms->long_term = dc.long_term;
    ms->cards.soil_moist_depth = dc.depth_m;
    subsurface_state& ss = ms->subsurface;
    ss.inf_richards = 1;
    ss.numcells.allocate(1);
    ss.numcells[1] = 3;  // nodes 1 and 2 are soil, node 3 the column's bottom
    ss.THETA.allocate(1, 3);
    ss.THETAS.allocate(1, 3);
    ss.DZ.allocate(1, 3);
    ss.THETA[1][1] = 0.2, ss.THETA[1][2] = 0.4, ss.THETA[1][3] = 0.0;
    for (int n = 1; n <= 3; ++n) ss.THETAS[1][n] = 0.4, ss.DZ[1][n] = 10.0;
    EXPECT_NEAR(final_basin_theta(*ms), dc.expected, 1e-12);
  }
}

// The event's sediment books: each class's slots summed over the cells, a lake cell counting
// only for the classes whose lake flag is set; with channel sediment the sand in the beds (every
// class and the bed stock) and the wash load in suspension of the links that are neither lakes
// nor structures.
TEST(SedimentBooks, TheEventTotalsSumTheCellsAndTheRoutedLinks) {
  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  m.cell_count = 2;
  m.perennial_lakes = 1;
  m.channel.lake_mask.allocate(2);
  m.channel.lake_mask[2] = 1;  // cell 2 lies in a lake
  transport_state& tr = m.transport;
  tr.sediment.soil_erosion = 1;
  tr.sediment.num_sed_classes = 2;
  tr.sed_lake_flag.allocate(2);
  tr.sed_lake_flag[2] = 1;  // class 2 on lake cells belongs to the overland books
  tr.ov_sed = std::make_unique<ov_sediment_obj>();
  ASSERT_TRUE(tr.ov_sed->vol_sed.allocate(2, 2, 4));
  for (int c = 1; c <= 2; ++c)
    for (int k = 1; k <= 2; ++k)
      for (int slot = 1; slot <= 4; ++slot)
        tr.ov_sed->vol_sed[c][k][slot] = (slot == 1 ? -1.0 : 1.0) * (10.0 * c + k + 0.1 * slot);
  ASSERT_TRUE(tr.sed_event_totals.allocate(2, 4));
  tr.sed_event_totals[1][1] = 99.0;  // an earlier event's books
  tr.chan_sediment = 1;
  channel_state& ch = m.channel;
  ch.chan_link_count = 2;
  ch.ltype.allocate(2);
  ch.ltype[1] = 4, ch.ltype[2] = 32;  // link 2 is a lake
  ch.nx1.allocate(2);
  ch.nx1[1] = ch.nx1[2] = 2;
  tr.sed_node_stride = 2;
  ASSERT_TRUE(tr.ch_sand_vol.allocate(6, 3));
  ASSERT_TRUE(tr.ch_wash_vol.allocate(6, 2));
  for (int flat = 0; flat <= 6; ++flat)
    for (int p = 1; p <= 3; ++p) {
      tr.ch_sand_vol[flat][p] = 1.0;
      if (p <= 2) tr.ch_wash_vol[flat][p] = 0.25;
    }
  close_sediment_books(m);
  // Class 1: cell 1 alone (11.x); class 2: both cells (12.x + 22.x).
  const raw_array2d<double>& t = tr.sed_event_totals;
  EXPECT_NEAR(t[1][1], -11.1, 1e-12);
  EXPECT_NEAR(t[1][3], 11.3, 1e-12);
  EXPECT_NEAR(t[2][1], -(12.1 + 22.1), 1e-12);
  EXPECT_NEAR(t[2][4], 12.4 + 22.4, 1e-12);
  // Nodes 1 and 2 of link 1 (flat 3 and 4): three sand positions and two wash-load classes.
  EXPECT_NEAR(tr.chan_sand_final, 6.0, 1e-12);
  EXPECT_NEAR(tr.chan_wash_final, 1.0, 1e-12);
}
