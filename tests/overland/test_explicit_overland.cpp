// Explicit overland routing and embankment weir flow: the face discharges against hand
// computations (Manning with the water-surface slope, retention, wetlands), the sub-step test,
// the outlet drain that never takes more than the outlet cell holds, whole routed steps on
// small grids (closed dike faces, mass kept, the cut sub-step redone from the start and
// remembered for four steps, the same bits on any thread count), and the weir flow over dike
// low spots, limited by the water of the losing cell.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "overland/connectivity.h"
#include "overland/embankments.h"
#include "overland/explicit_overland.h"
#include "overland/overland_flow.h"
#include "overland/overland_steps.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::stdout_capture;

namespace explicit_overland_tests {

const double five_thirds = 5.0 / 3.0;

TEST(FaceDischarge, ManningWithTheWaterSurfaceSlopeFromTheUpwindCell) {
  struct face {
    const char* what;
    double s0, hi, hk, ri, rk, n, dx;
    double expected;  // m2/s, written out by hand
  };
  const face faces[] = {
      {"downhill, equal depths", 0.02, 0.01, 0.01, 0.0, 0.0, 0.05, 5.0,
       std::sqrt(0.02) / 0.05 * std::pow(0.01, five_thirds)},
      // The water surface slopes back: S = 0 - (0.05 - 0.01) / 5 = -0.008, the neighbour's
      // depth above its retention drives the flow, the owning cell's n is used.
      {"uphill water surface", 0.0, 0.01, 0.05, 0.0, 0.01, 0.04, 5.0,
       -std::sqrt(0.008) / 0.04 * std::pow(0.04, five_thirds)},
      // Depth above retention: 0.03 - 0.01.
      {"retention lowers the flow depth", 0.01, 0.03, 0.0, 0.01, 0.0, 0.1, 10.0,
       std::sqrt(0.01 + 0.003) / 0.1 * std::pow(0.02, five_thirds)},
      // Below its retention depth a cell passes nothing across its own face, even when the
      // neighbour stands higher.
      {"owner below retention", 0.0, 0.005, 0.5, 0.01, 0.0, 0.05, 5.0, 0.0},
      {"upwind neighbour within its retention", 0.0, 0.0, 0.005, 0.0, 0.01, 0.05, 5.0, 0.0},
      // A level water surface carries nothing; below the threshold slope of 1e-5 the law is
      // linear in the slope, S / sqrt(1e-5), continuous with Manning's at the threshold.
      {"flat and level", 0.0, 0.02, 0.02, 0.0, 0.0, 0.05, 5.0, 0.0},
      {"bed and surface level across the face", 0.01, 0.02, 0.07, 0.0, 0.0, 0.05, 5.0, 0.0},
      {"surface a hair off level", 1e-25, 0.02, 0.02, 0.0, 0.0, 0.05, 5.0,
       1e-25 / std::sqrt(1e-5) / 0.05 * std::pow(0.02, five_thirds)},
      {"surface slope just below the threshold", 0.0, 0.02, 0.02 - 4e-5, 0.0, 0.0, 0.05, 5.0,
       8e-6 / std::sqrt(1e-5) / 0.05 * std::pow(0.02, five_thirds)},
      {"surface slope at the threshold", 0.0, 0.02, 0.02 - 5e-5, 0.0, 0.0, 0.05, 5.0,
       std::sqrt(1e-5) / 0.05 * std::pow(0.02, five_thirds)},
      {"uphill below the threshold", 0.0, 0.02, 0.02 + 2e-5, 0.0, 0.0, 0.05, 5.0,
       -4e-6 / std::sqrt(1e-5) / 0.05 * std::pow(0.02 + 2e-5, five_thirds)},
  };
  for (const face& f : faces) {
    SCOPED_TRACE(f.what);
    const double q = ov_face_discharge(f.s0, f.hi, f.hk, f.ri, f.rk, f.n, f.dx);
    EXPECT_NEAR(q, f.expected, 1e-12 * std::fabs(f.expected) + 1e-300);
  }
}

TEST(FaceDischarge, WetlandFacesFollowTheirLayerAndBlend) {
  wetland_record w{};
  w.slot[1] = 0.1;    // vegetated layer (m)
  w.slot[2] = 0.002;  // its conductance (1/s)
  w.slot[3] = 0.05;   // transition depth (m)
  w.slot[4] = 0.01;   // conductance above the layer (1/s)
  w.slot[6] = 0.2;    // wetland Manning n
  const double S = 0.01;
  // Water within the layer: seepage through it.
  EXPECT_DOUBLE_EQ(ov_wetland_face_discharge(S, 0.08, 0.0, 0.0, w, true, 0.05, 0.05),
                   0.08 * S * 0.002);
  // 0.03 m above the layer towards a wetland, below the transition depth: the blend.
  const double h2 = 0.03;
  const double blend = S * 0.1 * 0.002 + (1.0 - h2 / 0.05) * (h2 * S * 0.01) +
                       std::sqrt(S) / 0.2 * std::pow(h2, five_thirds) * h2 / 0.05;
  EXPECT_DOUBLE_EQ(ov_wetland_face_discharge(S, 0.13, 0.0, 0.0, w, true, 0.05, 0.05), blend);
  // Above the transition depth: layer seepage plus Manning.
  EXPECT_DOUBLE_EQ(ov_wetland_face_discharge(S, 0.2, 0.0, 0.0, w, true, 0.05, 0.05),
                   S * 0.1 * 0.002 + std::sqrt(S) / 0.2 * std::pow(0.1, five_thirds));
  // Towards a plain cell: Manning on the depth above the layer with the receiving cell's n.
  EXPECT_DOUBLE_EQ(ov_wetland_face_discharge(S, 0.13, 0.0, 0.0, w, false, 0.05, 0.08),
                   std::pow(0.03, five_thirds) * std::sqrt(S) / 0.08);
  // From a higher plain cell: its depth above its retention, the wetland's own n.
  EXPECT_DOUBLE_EQ(ov_wetland_face_discharge(-S, 0.0, 0.04, 0.01, w, false, 0.05, 0.08),
                   -std::sqrt(S) / 0.05 * std::pow(0.03, five_thirds));
}

TEST(FaceDischarge, TheSubStepTestCatchesLargeMovesAndOverdrafts) {
  // q tau / dx: 0.06 fails, just below passes; an outflow taking the cell below -0.0001 fails.
  EXPECT_TRUE(ov_face_fails(0.06, 10.0, 10.0, 1.0));
  EXPECT_FALSE(ov_face_fails(0.0599, 10.0, 10.0, 1.0));
  EXPECT_TRUE(ov_face_fails(-0.06, 10.0, 10.0, 1.0));
  // The depth test adds the signed move to the owning cell's depth: a face that brings more
  // than the cell's depth plus 0.0001 m back into it fails.
  EXPECT_TRUE(ov_face_fails(-0.0102, 10.0, 10.0, 0.01));
  EXPECT_FALSE(ov_face_fails(-0.0100, 10.0, 10.0, 0.01));
}

TEST(OutletDrain, TakesTheManningOutflowButNeverMoreThanTheCellHolds) {
  const double dx = 5.0, slope = 0.02, n = 0.05;
  double h = 0.01;
  const double q = std::pow(0.01, 1.666667f) * std::sqrt(slope) * dx / n;
  EXPECT_NEAR(ov_outlet_drain(h, slope, n, dx, 5.0), q * 5.0, 1e-15);
  EXPECT_NEAR(h, 0.01 - q * 5.0 / 25.0, 1e-15);
  // A long step would take more than the 0.25 m3 standing in the cell: it takes just that.
  h = 0.01;
  EXPECT_DOUBLE_EQ(ov_outlet_drain(h, slope, n, dx, 1e5), 0.01 * 25.0);
  EXPECT_EQ(h, 0.0);
  h = -1e-5;  // nothing to drain from a cell below zero, and no non-number
  EXPECT_EQ(ov_outlet_drain(h, slope, n, dx, 5.0), 0.0);
  EXPECT_EQ(h, -1e-5);
}

// A model state on a grid of rows of 0/1 with the cells' elevations (cell order), every array
// the explicit scheme reads, uniform n and no retention.
class ExplicitRouting : public ::testing::Test {
 protected:
  void make_grid(const std::vector<std::vector<int>>& mask, const std::vector<double>& elev,
                 double dx, double n = 0.05) {
    ms_ = std::make_unique<model_state>();
    model_state& ms = *ms_;
    ms.rows = static_cast<int>(mask.size());
    ms.cols = static_cast<int>(mask[0].size());
    ms.gridsize = dx;
    alloc_2d_int_named(ms.index_map, ms.rows + 1, ms.cols + 1, "mask");
    int k = 0;
    for (int r = 1; r <= ms.rows; ++r)
      for (int c = 1; c <= ms.cols; ++c)
        if (mask[r - 1][c - 1]) ms.index_map[r][c] = ++k;
    ms.cell_count = k;
    alloc_1d_double(ms.cell_elev, k, "elev");
    for (int i = 1; i <= k; ++i) ms.cell_elev[i] = elev[i - 1];
    overland_state& ov = ms.overland;
    alloc_1d_double(ov.ov_depth, k, "depth");
    alloc_1d_double(ov.ov_roughness, k, "n");
    for (int i = 1; i <= k; ++i) ov.ov_roughness[i] = n;
    ms.outlet_cell = 0;  // no outlet drain unless a test sets one
  }
  // Neighbours, open faces, slopes and the routing arrays, as the start-up builds them.
  void start_up() {
    run_error = error_state{};
    build_cell_connectivity(*ms_);
    compute_overland_slopes(*ms_);
    ASSERT_EQ(run_error.error_code, 0);
  }
  double water() const {
    double v = 0.0;
    for (int i = 1; i <= ms_->cell_count; ++i) v += ms_->overland.ov_depth[i];
    return v * ms_->gridsize * ms_->gridsize;
  }
  std::unique_ptr<model_state> ms_;
};

TEST_F(ExplicitRouting, WaterRunsDownhillButNotThroughADike) {
  // Three cells in a row falling to the right; cell 2 has a dike on its right side.
  make_grid({{1, 1, 1}}, {10.0, 9.9, 9.8}, 10.0);
  ms_->overland.dike_map_on = 1;
  alloc_1d_int(ms_->overland.dike_mask, 3, "dikes");
  ms_->overland.dike_mask[2] = 2;
  ms_->overland.dike_mask[3] = 8;
  start_up();
  for (int i = 1; i <= 3; ++i) ms_->overland.ov_depth[i] = 0.02;
  const double before = water();
  stdout_capture quiet;
  EXPECT_EQ(ov_route_explicit(*ms_, 5.0), 0.0);
  const overland_state& ov = ms_->overland;
  // The first face moves q = sqrt(0.01 + 1e-30) / 0.05 x 0.02^(5/3) for 5 s over 10 m.
  const double q = std::sqrt(0.01) / 0.05 * std::pow(0.02, five_thirds);
  EXPECT_NEAR(ov.ov_depth[1], 0.02 - q * 5.0 / 10.0, 1e-15);
  EXPECT_NEAR(ov.ov_depth[2], 0.02 + q * 5.0 / 10.0, 1e-15);
  EXPECT_EQ(ov.ov_depth[3], 0.02);                // the dike closes the second face
  EXPECT_NEAR(ov.ov_flux_x[1], q * 10.0, 1e-15);  // m3/s after the call
  EXPECT_EQ(ov.ov_flux_x[2], 0.0);
  EXPECT_NEAR(water(), before, 1e-15);
}

TEST_F(ExplicitRouting, StillWaterOnAFlatBedStaysStillForAnHour) {
  // A 4 x 5 flat grid of 5 m cells under 5 cm of still water: an hour of 5 s steps moves no
  // water across any face.
  make_grid({{1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}},
            std::vector<double>(20, 100.0), 5.0);
  start_up();
  for (int i = 1; i <= 20; ++i) ms_->overland.ov_depth[i] = 0.05;
  stdout_capture quiet;
  double largest = 0.0;
  for (int step = 0; step < 720; ++step) {
    ov_route_explicit(*ms_, 5.0);
    for (int i = 1; i <= 20; ++i)
      largest = std::max(
          {largest, std::fabs(ms_->overland.ov_flux_x[i]), std::fabs(ms_->overland.ov_flux_y[i])});
  }
  EXPECT_LE(largest, 1e-12);
  for (int i = 1; i <= 20; ++i) EXPECT_EQ(ms_->overland.ov_depth[i], 0.05) << i;
}

TEST_F(ExplicitRouting, TheOutletDrainTakesAtMostTheOutletsWater) {
  make_grid({{1, 1}}, {10.0, 9.0}, 1.0);
  ms_->outlet_cell = 2;
  ms_->outlet_slope = 1.0;
  start_up();
  ms_->overland.ov_depth[2] = 0.001;
  stdout_capture quiet;
  // A steep outlet over an hour would drain far more than the 0.001 m3 in the cell.
  const double drained = ov_route_explicit(*ms_, 3600.0);
  EXPECT_DOUBLE_EQ(drained, 0.001);
  EXPECT_EQ(ms_->overland.ov_depth[2], 0.0);
  EXPECT_FALSE(std::isnan(ms_->overland.ov_depth[2]));
}

// A steep slope of 1 m cells where a 9 s step moves too much: the step is redone in thirds.
TEST_F(ExplicitRouting, ACutSubStepRedoesTheStepAndIsRememberedForFourSteps) {
  const std::vector<double> elev = {10.0, 9.0, 8.0, 7.0};
  auto fresh = [&] {
    make_grid({{1, 1, 1, 1}}, elev, 1.0);
    start_up();
    for (int i = 1; i <= 4; ++i) ms_->overland.ov_depth[i] = 0.05;
  };
  fresh();
  stdout_capture capture;
  ov_route_explicit(*ms_, 9.0);
  const std::string out = capture.stop();
  const explicit_scheme_memory mem = ms_->overland.explicit_memory;
  ASSERT_GE(mem.reduced_step, 9.0 / 243.0 - 1e-12) << out;
  EXPECT_TRUE(contains(out, "need to split...(x-dir) curr_du=")) << out;
  EXPECT_TRUE(contains(out, " *Changing overland time step to 3.00 seconds...\n")) << out;
  EXPECT_EQ(mem.reduced_calls_left, 4);
  std::vector<double> cut(ms_->overland.ov_depth.data(), ms_->overland.ov_depth.data() + 5);

  // The same water routed in sub-steps of the final length from the start, with no cut:
  // identical depths, since the step was redone from its saved start.
  const double tau = mem.reduced_step;
  const int sub_steps = static_cast<int>(std::lround(9.0 / tau));
  fresh();
  ms_->overland.explicit_memory.reduced_step = tau;
  ms_->overland.explicit_memory.reduced_calls_left = 1;
  {
    stdout_capture quiet;
    ov_route_explicit(*ms_, 9.0);
  }
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(ms_->overland.ov_depth[i], cut[i]) << i;
  EXPECT_GT(sub_steps, 1);

  // The next four steps start with the reduced step; the fifth starts with the full step
  // again and says so.
  fresh();
  ms_->overland.explicit_memory = mem;
  for (int call = 1; call <= 4; ++call) {
    stdout_capture quiet;
    for (int i = 1; i <= 4; ++i) ms_->overland.ov_depth[i] = 0.0005;  // small enough to pass
    ov_route_explicit(*ms_, 9.0);
    EXPECT_EQ(ms_->overland.explicit_memory.reduced_calls_left, 4 - call);
    EXPECT_FALSE(contains(quiet.stop(), "Resetting"));
  }
  stdout_capture reset;
  ov_route_explicit(*ms_, 9.0);
  EXPECT_TRUE(contains(reset.stop(), "Resetting time step to 9.00 for overland flow...\n"));
  EXPECT_EQ(ms_->overland.explicit_memory.reset_pending, 0);
}

TEST_F(ExplicitRouting, DepthsAreTheSameBitsOnOneTwoAndEightThreads) {
  // A 61 x 57 tilted, bumpy grid with a hole, wet everywhere: large enough for the cell loops
  // to run in parallel.
  std::vector<std::vector<int>> mask(61, std::vector<int>(57, 1));
  mask[11][8] = 0;
  std::vector<double> elev;
  for (int r = 0; r < 61; ++r)
    for (int c = 0; c < 57; ++c)
      if (mask[r][c]) elev.push_back(100.0 - 0.05 * r - 0.03 * c + 0.02 * std::sin(r * c));
  std::vector<double> result[3];
  const int threads[3] = {1, 2, 8};
  const int saved_threads = omp_get_max_threads();
  for (int t = 0; t < 3; ++t) {
    omp_set_num_threads(threads[t]);
    make_grid(mask, elev, 5.0);
    start_up();
    for (int i = 1; i <= ms_->cell_count; ++i) ms_->overland.ov_depth[i] = 0.01 + 0.001 * (i % 7);
    const double before = water();
    stdout_capture quiet;
    for (int step = 0; step < 10; ++step) ov_route_explicit(*ms_, 10.0);
    EXPECT_NEAR(water(), before, 1e-12 * before);
    result[t].assign(ms_->overland.ov_depth.data(),
                     ms_->overland.ov_depth.data() + ms_->cell_count + 1);
  }
  omp_set_num_threads(saved_threads);
  for (int t = 1; t < 3; ++t)
    for (std::size_t i = 1; i < result[0].size(); ++i)
      ASSERT_EQ(result[t][i], result[0][i]) << "threads " << threads[t] << " cell " << i;
}

// Embankments: two cells side by side, a dike between them with a low spot on cell 1's right.
class Embankment : public ::testing::Test {
 protected:
  void SetUp() override {
    index_map.allocate(1, 2);
    index_map[1][1] = 1;
    index_map[1][2] = 2;
    elev.allocate(2);
    depth.allocate(2);
    elev[1] = 10.0;
    elev[2] = 10.0;
    spots.allocate(1);
    spots[1] = lowspot_record{1, 1, 2, 0.5, 10.1, -1.0};
  }
  void flow(double dt) {
    ov_embankment_flow(dt, dx, index_map, 1, 2, elev, depth, 1, spots, 0, no_lakes, lakes);
  }
  double dx = 10.0;
  raw_array2d<int> index_map;
  raw_array1d<double> elev, depth;
  raw_array1d<lowspot_record> spots;
  raw_array1d<int> no_lakes;
  raw_array1d<lake_record> lakes;
};

TEST_F(Embankment, WeirFlowRunsFromTheHigherSurfaceOverTheCrest) {
  depth[1] = 0.3;  // surface 10.3, head 0.2 over the crest
  depth[2] = 0.05;
  const double q = 1.48 * std::pow(0.2, 1.5) * 0.5 * dx;
  flow(10.0);
  EXPECT_NEAR(spots[1].flow, q, 1e-12);
  EXPECT_NEAR(depth[1], 0.3 - q * 10.0 / 100.0, 1e-12);
  EXPECT_NEAR(depth[2], 0.05 + q * 10.0 / 100.0, 1e-12);
  // Reversed surfaces reverse the transfer.
  depth[1] = 0.05;
  depth[2] = 0.3;
  flow(10.0);
  EXPECT_NEAR(depth[2], 0.3 - q * 10.0 / 100.0, 1e-12);
  EXPECT_NEAR(depth[1], 0.05 + q * 10.0 / 100.0, 1e-12);
}

TEST_F(Embankment, NothingPassesBelowTheCrestOrBetweenNearlyLevelSurfaces) {
  const struct {
    double h1, h2;
  } cases[] = {{0.08, 0.02}, {0.2, 0.1995}};  // both below 10.1; 0.0005 m apart above it
  for (const auto& c : cases) {
    depth[1] = c.h1;
    depth[2] = c.h2;
    spots[1].flow = -1.0;
    flow(10.0);
    EXPECT_EQ(depth[1], c.h1);
    EXPECT_EQ(depth[2], c.h2);
    EXPECT_EQ(spots[1].flow, -1.0);  // keeps its value
  }
}

TEST_F(Embankment, TheLosingCellGivesAtMostTheWaterItHolds) {
  // Cell 2 stands 1 m lower: cell 1's 0.2 m of water over a 0.1 m head would drain 0.23 m in
  // ten minutes; it gives its 0.2 m and no more.
  elev[2] = 9.0;
  spots[1].elevation = 10.1;
  depth[1] = 0.2;
  depth[2] = 0.0;
  flow(600.0);
  EXPECT_EQ(depth[1], 0.0);
  EXPECT_DOUBLE_EQ(depth[2], 0.2);
  EXPECT_DOUBLE_EQ(spots[1].flow, 0.2 * 100.0 / 600.0);
}

}  // namespace explicit_overland_tests
