// Overland boundary cells: the rule of each type on one cell (normal depth on the open sides,
// stage, inflow in ft3/s and m3/s, a withdrawal that takes no more than the cell holds), sums that
// are the same on any thread count, the start-up refusal of a slope, stage or series that would
// make the depths non-numbers, and a sloping plane run through the overland step whose lower edge
// drains at normal depth, whose stage cell holds its stage and whose inflow cell adds exactly its
// volume.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "input/time_series.h"
#include "overland/overland_boundary.h"
#include "overland/overland_steps.h"
#include "support/test_support.h"

using torva_test::stdout_capture;

namespace {

// One boundary cell with its four neighbours given (0: open side), 30 m cells, n 0.05, bed 10 m.
struct one_cell {
  int right = 2, left = 2, above = 2, below = 2;
  int type = 0;
  double value = 0.0;
  double depth = 0.0;
  ov_boundary_sums run(double dt) {
    std::vector<double> h = {0.0, depth, 0.0}, z = {0.0, 10.0, 10.0}, n = {0.0, 0.05, 0.05};
    std::vector<double> v = {0.0, value, 0.0};
    std::vector<int> r = {0, right, 0}, l = {0, left, 0}, a = {0, above, 0}, b = {0, below, 0};
    std::vector<int> t = {0, type, 0};
    ov_boundary_view view;
    view.cell_count = 2;
    view.dx = 30.0;
    view.depth = h.data();
    view.elev = z.data();
    view.roughness = n.data();
    view.right = r.data();
    view.left = l.data();
    view.above = a.data();
    view.below = b.data();
    view.type = t.data();
    view.value = v.data();
    const ov_boundary_sums s = ov_boundary_cells(view, dt);
    depth = h[1];
    return s;
  }
};

TEST(OverlandBoundaryCell, EachTypeMovesItsWater) {
  const double area = 900.0;
  // Normal depth, slope 0.01, 0.1 m deep, 60 s: one side's loss.
  const double q = std::pow(0.1, 1.666667) * 0.1 * 30.0 / 0.05;
  const double loss = q * 60.0 / area;  // 0.086 m
  const double loss_20 = q * 20.0 / area;
  struct row {
    const char* what;
    one_cell cell;
    double dt;
    double depth_after;
    double normal_out, head_out, head_in, flow_in;
  };
  one_cell inside{2, 2, 2, 2, ov_bdy_normal_depth, 0.01, 0.1};
  one_cell edge{2, 2, 2, 0, ov_bdy_normal_depth, 0.01, 0.1};
  one_cell corner{0, 2, 2, 0, ov_bdy_normal_depth, 0.01, 0.1};
  // A corner cell whose one-side loss is 0.6 of its depth (two sides: 1.2 of it) empties.
  const double corner_dt = 0.6 * 0.1 / (q / area);
  one_cell stage_below_bed{2, 2, 2, 2, ov_bdy_fixed_stage, 9.5, 0.2};
  one_cell stage_above{2, 2, 2, 2, ov_bdy_stage_series, 10.35, 0.2};
  one_cell cfs{2, 2, 2, 2, ov_bdy_inflow_cfs, 1.0, 0.0};
  one_cell cms{2, 2, 2, 2, ov_bdy_inflow_cms, 0.5, 0.01};
  // Negative series values withdraw water, at most what the cell holds (45 m3 and 9 m3 here).
  one_cell withdrawal{2, 2, 2, 2, ov_bdy_inflow_cms, -0.5, 0.05};
  one_cell overdrawn{2, 2, 2, 2, ov_bdy_inflow_cms, -0.5, 0.01};
  one_cell dry_cfs{2, 2, 2, 2, ov_bdy_inflow_cfs, -1.0, 0.0};
  const row rows[] = {
      {"normal depth inside the grid loses nothing", inside, 60.0, 0.1, 0, 0, 0, 0},
      {"normal depth on the lower edge", edge, 60.0, 0.1 - loss, loss * area, 0, 0, 0},
      {"normal depth on a corner loses one side's water", corner, 20.0, 0.1 - loss_20,
       loss_20 * area, 0, 0, 0},
      {"a corner whose two sides would take 1.2 of its depth empties", corner, corner_dt, 0.0,
       0.1 * area, 0, 0, 0},
      {"a stage below the bed dries the cell", stage_below_bed, 60.0, 0.0, 0, 0.2 * area, 0, 0},
      {"a stage above the water fills the cell", stage_above, 60.0, 0.35, 0, 0, 0.15 * area, 0},
      {"1 ft3/s for 60 s", cfs, 60.0, 60.0 * 0.0283168466 / area, 0, 0, 0, 60.0 * 0.0283168466},
      {"0.5 m3/s for 60 s", cms, 60.0, 0.01 + 30.0 / area, 0, 0, 0, 30.0},
      {"a withdrawal of 0.5 m3/s for 60 s takes 30 m3", withdrawal, 60.0, 0.05 - 30.0 / area, 0, 0,
       0, -30.0},
      {"a withdrawal beyond the water empties the cell and books what it held", overdrawn, 60.0,
       0.0, 0, 0, 0, -9.0},
      {"a withdrawal from a dry cell takes nothing", dry_cfs, 60.0, 0.0, 0, 0, 0, 0.0},
  };
  for (const row& t : rows) {
    one_cell c = t.cell;
    const ov_boundary_sums s = c.run(t.dt);
    EXPECT_NEAR(c.depth, t.depth_after, 1e-14) << t.what;
    EXPECT_NEAR(s.normal_out, t.normal_out, 1e-11) << t.what;
    EXPECT_NEAR(s.head_out, t.head_out, 1e-11) << t.what;
    EXPECT_NEAR(s.head_in, t.head_in, 1e-11) << t.what;
    EXPECT_NEAR(s.flow_in, t.flow_in, 1e-14) << t.what;
  }
}

// The sums of a grid of many boundary cells are the same bits on 1, 2 and 8 threads.
TEST(OverlandBoundaryCell, TheSumsDoNotDependOnTheThreadCount) {
  const int n = 20000;
  std::vector<double> z(n + 1), n_cell(n + 1, 0.04), value(n + 1);
  std::vector<int> type(n + 1), open(n + 1, 0), shut(n + 1, 1);
  std::vector<double> start(n + 1);
  for (int c = 1; c <= n; ++c) {
    type[c] = 1 + c % 5;
    z[c] = 5.0 + 0.3 * std::sin(c * 0.37);
    start[c] = 0.05 + 0.04 * std::cos(c * 0.11);
    value[c] = type[c] == 1 ? 0.001 * (1 + c % 7) : (type[c] <= 3 ? 5.1 : 0.3 + 0.01 * (c % 3));
  }
  ov_boundary_sums result[3];
  std::vector<double> depths[3];
  const int threads[3] = {1, 2, 8};
  for (int k = 0; k < 3; ++k) {
    std::vector<double> h = start;
    ov_boundary_view v;
    v.cell_count = n;
    v.dx = 10.0;
    v.depth = h.data();
    v.elev = z.data();
    v.roughness = n_cell.data();
    v.right = open.data();
    v.left = shut.data();
    v.above = shut.data();
    v.below = shut.data();
    v.type = type.data();
    v.value = value.data();
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads[k]);
    result[k] = ov_boundary_cells(v, 30.0);
    omp_set_num_threads(saved);
    depths[k] = h;
  }
  EXPECT_GT(result[0].normal_out, 0.0);
  EXPECT_GT(result[0].head_in + result[0].head_out, 0.0);
  EXPECT_GT(result[0].flow_in, 0.0);
  for (int k = 1; k < 3; ++k) {
    EXPECT_EQ(result[k].normal_out, result[0].normal_out) << threads[k];
    EXPECT_EQ(result[k].head_out, result[0].head_out) << threads[k];
    EXPECT_EQ(result[k].head_in, result[0].head_in) << threads[k];
    EXPECT_EQ(result[k].flow_in, result[0].flow_in) << threads[k];
    EXPECT_EQ(depths[k], depths[0]) << threads[k];
  }
}

// A plane of 6 rows x 4 columns of 10 m cells falling 0.01 per metre to the south (n 0.05),
// routed by "ade" in 10 s steps, its outlet closed (outlet slope 0); boundary cells as the
// OVERLAND_BOUNDARY table would give them.
class BoundaryPlane : public ::testing::Test {
 protected:
  void SetUp() override {
    run_error = error_state{};
    ms_ = std::make_unique<model_state>();
    model_state& ms = *ms_;
    ms.rows = 6;
    ms.cols = 4;
    ms.gridsize = 10.0;
    alloc_2d_int_named(ms.index_map, 7, 5, "mask");
    int k = 0;
    for (int r = 1; r <= 6; ++r)
      for (int c = 1; c <= 4; ++c) ms.index_map[r][c] = ++k;
    ms.cell_count = k;
    alloc_1d_double(ms.cell_elev, k, "elev");
    overland_state& ov = ms.overland;
    alloc_1d_double(ov.ov_depth, k, "depth");
    alloc_1d_double(ov.ov_roughness, k, "n");
    alloc_1d_int(ov.boundary_type, k, "boundary_type");
    alloc_1d_double(ov.boundary_param, k, "boundary_param");
    alloc_1d_double(ov.boundary_value, k, "boundary_value");
    for (int r = 1; r <= 6; ++r)
      for (int c = 1; c <= 4; ++c) {
        const int cell = ms.index_map[r][c];
        ms.cell_elev[cell] = 10.0 - 0.1 * r;
        ov.ov_roughness[cell] = 0.05;
      }
    ov.ov_route_option = 2;
    ov.ov_boundary = 1;
    ms.outlet_cell = k;
    ms.outlet_slope = 0.0;
    ms.time_tolerance = 1.1574e-07;
    ms.current_time = 2450000.0;
    ms.ov_clock.last = ms.current_time - 10.0 / 86400.0;
    ms.ov_clock.next = ms.current_time;
    ms.ov_clock.interval_days = 10.0 / 86400.0;
  }
  void TearDown() override { ts_free_all(); }
  // The start-up of the plane; returns what it printed.
  std::string start_up() {
    stdout_capture capture;
    build_cell_connectivity(*ms_);
    compute_overland_slopes(*ms_);
    return capture.stop();
  }
  // One overland step, then the clock moves on by one step.
  void step() {
    overland_flow_step(*ms_);
    ms_->current_time += 10.0 / 86400.0;
  }
  double stored() const {
    double v = 0.0;
    for (int c = 1; c <= ms_->cell_count; ++c) v += ms_->overland.ov_depth[c] * 100.0;
    return v;
  }
  torva_test::process_state_guard guard_;
  std::unique_ptr<model_state> ms_;
};

// The lower edge at normal depth with slope 0.02: at every step the plane loses, through its
// four edge cells, exactly h^(5/3) sqrt(0.02) dx / n dt of each edge cell's depth before the
// step, and the water on the plane plus the cumulative normal outflow stays the first water.
TEST_F(BoundaryPlane, ANormalDepthEdgeDrainsAtTheManningRateOfItsCells) {
  overland_state& ov = ms_->overland;
  for (int c = 21; c <= 24; ++c) {
    ov.boundary_type[c] = ov_bdy_normal_depth;
    ov.boundary_param[c] = 0.02;
  }
  ASSERT_EQ(start_up().find("Error"), std::string::npos);
  ASSERT_EQ(run_error.error_code, 0);
  for (int c = 1; c <= 24; ++c) ov.ov_depth[c] = 0.02;
  const double first = stored();
  for (int s = 0; s < 60; ++s) {
    // The step's length as the clock gives it (10 s to the clock's resolution).
    const double dt = (ms_->current_time - ms_->ov_clock.last) * 86400.0;
    ASSERT_NEAR(dt, 10.0, 1e-4);
    double expected = 0.0;
    for (int c = 21; c <= 24; ++c)
      expected += std::pow(ov.ov_depth[c], 1.666667) * std::sqrt(0.02) * 10.0 / 0.05 * dt;
    const double before = ov.bdy_normal_out;
    step();
    ASSERT_EQ(run_error.error_code, 0);
    ASSERT_NEAR(ov.bdy_normal_out - before, expected, 1e-12 * first) << "step " << s;
    ASSERT_NEAR(stored() + ov.bdy_normal_out, first, 1e-12 * first) << "step " << s;
  }
  EXPECT_GT(ov.bdy_normal_out, 0.3 * first);
}

// A fixed stage of 9.5 m on a lower-edge cell (bed 9.4 m) holds 0.1 m there at the start of
// every step, booking what it adds and removes; an inflow cell of 0.2 m3/s at the top adds
// exactly 2 m3 each step: the water on the plane is the first water plus the inflow plus the
// stage's inflow less its outflow.
TEST_F(BoundaryPlane, AStageCellHoldsItsStageAndAnInflowCellAddsItsVolume) {
  overland_state& ov = ms_->overland;
  ov.boundary_type[22] = ov_bdy_fixed_stage;
  ov.boundary_param[22] = 9.5;
  time_series* s = ts_create();
  s->times = {2449999.0, 2450001.0};
  s->values = {0.2, 0.2};
  s->count = 2;
  ts_index_add(7, s);
  ov.boundary_type[2] = ov_bdy_inflow_cms;
  ov.boundary_param[2] = 7.0;
  ASSERT_EQ(start_up().find("Error"), std::string::npos);
  ASSERT_EQ(run_error.error_code, 0);
  const double first = stored();
  for (int k = 0; k < 60; ++k) {
    const double inflow_before = ov.bdy_flow_in;
    ms_->ov_clock.next = ms_->current_time;
    ov_boundary_update_values(*ms_);
    ov_boundary_outflow(*ms_, 10.0);
    ASSERT_NEAR(ov.ov_depth[22], 0.1, 1e-12) << "step " << k;
    ASSERT_NEAR(ov.bdy_flow_in - inflow_before, 2.0, 1e-12) << "step " << k;
    // Route without the boundary pass, which was just applied.
    ov.ov_boundary = 0;
    step();
    ov.ov_boundary = 1;
    ASSERT_EQ(run_error.error_code, 0);
    ASSERT_NEAR(stored(), first + ov.bdy_flow_in + ov.bdy_head_in - ov.bdy_head_out, 1e-10)
        << "step " << k;
  }
  EXPECT_EQ(ov.bdy_flow_in, 120.0);
  EXPECT_GT(ov.bdy_head_out, 0.0);  // the inflow reached the stage cell and left there
}

// A slope or stage that would make the depths non-numbers, and a series that is not in the
// time series table (or has no rows), stop the run at start-up with a message naming the cell.
TEST_F(BoundaryPlane, ASlopeStageOrSeriesThatCannotRunIsRefusedAtStartUp) {
  time_series* empty = ts_create();
  ts_index_add(3, empty);
  struct row {
    int type;
    double param;
    const char* says;
  };
  const row rows[] = {
      {ov_bdy_normal_depth, -0.01, "normal-depth overland boundary of cell 9 has the slope -0.01"},
      {ov_bdy_normal_depth, std::numeric_limits<double>::quiet_NaN(), "the slope nan"},
      {ov_bdy_fixed_stage, std::numeric_limits<double>::infinity(), "the stage inf m"},
      {ov_bdy_stage_series, 12.0, "takes its values from time series 12"},
      {ov_bdy_inflow_cfs, 3.0, "takes its values from time series 3"},
  };
  for (const row& t : rows) {
    SetUp();
    ts_free_all();
    empty = ts_create();
    ts_index_add(3, empty);
    ms_->overland.boundary_type[9] = t.type;
    ms_->overland.boundary_param[9] = t.param;
    const std::string out = start_up();
    EXPECT_EQ(run_error.error_fatal, 1) << t.says;
    EXPECT_NE(out.find(t.says), std::string::npos) << out;
    EXPECT_NE(out.find("Error: "), std::string::npos) << out;
  }
  // A slope of 0 and a finite stage below the bed run.
  SetUp();
  ms_->overland.boundary_type[9] = ov_bdy_normal_depth;
  ms_->overland.boundary_type[10] = ov_bdy_fixed_stage;
  ms_->overland.boundary_param[10] = -3.0;
  EXPECT_EQ(start_up().find("Error"), std::string::npos);
  EXPECT_EQ(run_error.error_code, 0);
}

}  // namespace
