// End-of-run water balances: the totals a user reads in the summary, the overall and surface
// balances, and a denominator that is zero or negative printing 0.
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
