// The groundwater solve on a strip of cells: a draw near a dry bottom that another store has
// already taken (seepage into a channel) cannot be cut back without making water, so the solve
// stops the run naming the cell; the same draw on a wet cell passes and is booked in full. Picard
// passes that never settle stop the run at the thousandth.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "subsurface/subsurface_steps.h"
#include "support/test_support.h"

namespace {

// A row of `n` active cells of 10 m, bottom 0 m, ground 100 m, porosity 0.25, K 1e-4 m/s,
// explicit channel routing on so that the channel seepage waiting for the step is drawn.
std::unique_ptr<model_state> strip(int n, double head) {
  auto ms = std::make_unique<model_state>();
  ms->cell_count = n;
  ms->rows = 1;
  ms->cols = n;
  ms->gridsize = 10.0;
  ms->channel.chan_explic = 1;
  ms->index_map.allocate(1, n);
  ms->cell_elev.allocate(n);
  overland_state& ov = ms->overland;
  for (auto* a : {&ov.abovecon, &ov.belowcon, &ov.leftcon, &ov.rightcon}) a->allocate(n);
  subsurface_state& ss = ms->subsurface;
  ss.gw_simulation = 1;
  ss.gw_lsor_con = 1e-9;
  for (auto* a :
       {&ss.elevgw, &ss.bottom_elev, &ss.gw_porosity, &ss.gw_cond_x, &ss.gw_cond_y, &ss.gw_flux})
    a->allocate(n);
  ss.gwbound.allocate(n);
  for (int c = 1; c <= n; ++c) {
    ms->index_map[1][c] = c;
    ms->cell_elev[c] = 100.0;
    ov.leftcon[c] = c > 1 ? c - 1 : 0;
    ov.rightcon[c] = c < n ? c + 1 : 0;
    ss.elevgw[c] = head;
    ss.gw_porosity[c] = 0.25;
    ss.gw_cond_x[c] = ss.gw_cond_y[c] = 1e-4;
    ss.gwbound[c] = 1;
  }
  return ms;
}

TEST(GroundwaterSolve, ChannelSeepageADryCellCannotGiveStopsTheRunNamingTheCell) {
  struct seepage_case {
    const char* name;
    double head;   // m over the bottom, every cell
    bool refused;  // the solve stops the run
  };
  const seepage_case cases[] = {
      {"a cell 5 cm over its bottom cannot give 1 m of water", 0.05, true},
      {"a cell 10 m over its bottom gives it", 10.0, false},
  };
  for (const seepage_case& s : cases) {
    SCOPED_TRACE(s.name);
    torva_test::process_state_guard guard;
    auto ms = strip(3, s.head);
    ASSERT_TRUE(groundwater_setup(*ms));
    // The step's storage coefficient, as the step sets it below the soil: the porosity.
    for (int c = 1; c <= ms->cell_count; ++c) ms->groundwater.storage[c] = 0.25;
    const double area = ms->gridsize * ms->gridsize;
    ms->groundwater.chan_seepage[2] = 1.0 * area;  // m3 out of the aquifer into the channel
    testing::internal::CaptureStdout();
    const double volume = gw_solve(*ms, 3600.0);
    const std::string out = testing::internal::GetCapturedStdout();
    if (s.refused) {
      EXPECT_NE(run_error.error_fatal, 0);
      EXPECT_NE(out.find("Error: the aquifer in cell 2 is too near its bottom"), std::string::npos)
          << out;
    } else {
      EXPECT_EQ(run_error.error_fatal, 0) << out;
      EXPECT_NEAR(volume, -1.0 * area, 1e-9);
    }
  }
}

}  // namespace

// A solve whose Picard passes never settle (here every pass counts as a change, the tolerance
// being below 0) says so at every pass from the 49th and stops the run at the 1000th with its
// message instead of going on; the heads stay numbers.
TEST(GroundwaterSolve, PicardPassesThatNeverSettleStopTheRunAtTheThousandth) {
  torva_test::process_state_guard guard;
  auto ms = strip(3, 10.0);
  ASSERT_TRUE(groundwater_setup(*ms));
  for (int c = 1; c <= ms->cell_count; ++c) ms->groundwater.storage[c] = 0.25;
  ms->subsurface.elevgw[2] = 12.0;
  ms->groundwater.picard_tolerance = -1.0;
  testing::internal::CaptureStdout();
  gw_solve(*ms, 3600.0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(run_error.error_fatal, 0);
  EXPECT_NE(out.find("Error: Non-convergence in the groundwater after 1000 tries.\n"),
            std::string::npos);
  std::size_t slow = 0;
  for (std::size_t at = out.find("GW IS NOT CONVERGING \n"); at != std::string::npos;
       at = out.find("GW IS NOT CONVERGING \n", at + 1))
    ++slow;
  EXPECT_EQ(slow, 1000u - 49u + 1u);
  for (int c = 1; c <= ms->cell_count; ++c) EXPECT_FALSE(std::isnan(ms->subsurface.elevgw[c]));
}
