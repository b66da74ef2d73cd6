// ADE overland routing: the sub-step rules of "ade" (the first sub-step of a step, the
// remainder joined to the last sub-step, the restart with half the sub-step after a negative
// depth, the floor and its message), the sweep order, the predictor-corrector of "ade-pc", the
// outlet drain, still water that stays still under both schemes, and the water both schemes
// exchange with overland lakes and with channel lakes across their shores (the same on 1 and 8
// threads).
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "overland/ade_flux.h"
#include "overland/ade_overland.h"
#include "overland/overland_steps.h"
#include "support/test_support.h"

using torva_test::stdout_capture;

namespace {

// A rows x cols watershed of dx m cells with the bed elevations `elev` (row by row), Manning n,
// routed by `scheme`, its outlet at the last cell with slope `outlet_slope` (no channels); set up
// as the run's start-up does it.
std::unique_ptr<model_state> make_grid(int rows, int cols, double dx,
                                       const std::vector<double>& elev, double n, int scheme,
                                       double outlet_slope = 0.0) {
  run_error = error_state{};
  auto ms = std::make_unique<model_state>();
  ms->rows = rows;
  ms->cols = cols;
  ms->gridsize = dx;
  alloc_2d_int_named(ms->index_map, rows + 1, cols + 1, "mask");
  int k = 0;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) ms->index_map[r][c] = ++k;
  ms->cell_count = k;
  alloc_1d_double(ms->cell_elev, k, "elev");
  overland_state& ov = ms->overland;
  alloc_1d_double(ov.ov_depth, k, "depth");
  alloc_1d_double(ov.ov_roughness, k, "n");
  for (int c = 1; c <= k; ++c) {
    ms->cell_elev[c] = elev[c - 1];
    ov.ov_roughness[c] = n;
  }
  ov.ov_route_option = scheme;
  ms->outlet_cell = k;
  ms->outlet_slope = outlet_slope;
  stdout_capture quiet;
  build_cell_connectivity(*ms);
  compute_overland_slopes(*ms);
  EXPECT_EQ(run_error.error_code, 0);
  return ms;
}

double stored(const model_state& ms) {
  double v = 0.0;
  for (int c = 1; c <= ms.cell_count; ++c) v += ms.overland.ov_depth[c] * ms.gridsize * ms.gridsize;
  return v;
}

TEST(AdeSubStep, TheFirstSubStepOfAStep) {
  struct row {
    const char* what;
    int calls;
    double dt, last_sub;
    int failed;
    double expected;
  };
  const row rows[] = {
      {"the first call takes the step", 1, 10.0, 0.0, 0, 10.0},
      {"a quiet step doubles the last sub-step", 2, 10.0, 2.5, 0, 5.0},
      {"up to the step", 3, 10.0, 5.0, 0, 10.0},
      {"and never beyond it", 4, 10.0, 10.0, 0, 10.0},
      {"a sub-step within 0.001 s of the step counts as the step", 4, 10.0, 9.9995, 0, 10.0},
      {"a flagged sub-step halves the next", 2, 10.0, 4.0, 1, 2.0},
      {"a sub-step that does not divide the step doubles while it fits", 2, 9.0, 4.0, 0, 8.0},
  };
  for (const row& t : rows)
    EXPECT_EQ(ade_first_sub(t.calls, t.dt, t.last_sub, t.failed), t.expected) << t.what;
}

// A remainder shorter than half a sub-step joins the sub-step before it: a 9 s step with a 4 s
// sub-step runs 4 s and 5 s, a 10 s step 4 s, 4 s and 2 s.
TEST(AdeSubStep, TheRemainderJoinsTheLastSubStep) {
  struct row {
    double dt;
    std::vector<double> subs;
  };
  const row rows[] = {{9.0, {4.0, 5.0}}, {10.0, {4.0, 4.0, 2.0}}, {8.0, {4.0, 4.0}}};
  for (const row& t : rows) {
    std::vector<double> taken;
    double remaining = t.dt, sub = 4.0;
    while (remaining > 1e-16 && taken.size() < 10) {
      ade_take_sub(sub, remaining);
      taken.push_back(sub);
    }
    EXPECT_EQ(taken, t.subs) << t.dt << " s";
  }
}

// A basin whose beds step by quarter metres under a level water surface at 11 m (exact binary
// fractions, so the surface is level to the bit) with a closed outlet: nothing moves under
// either scheme, over either sweep order.
TEST(AdeRouting, StillWaterStaysStill) {
  for (int scheme : {2, 3}) {
    auto ms = make_grid(
        4, 3, 5.0, {10.0, 10.25, 10.5, 10.25, 10.5, 10.75, 10.5, 10.75, 10.0, 10.0, 10.0, 10.25},
        0.05, scheme, 0.0);
    const std::vector<double> depth = {0.0, 1.0,  0.75, 0.5, 0.75, 0.5, 0.25,
                                       0.5, 0.25, 1.0,  1.0, 1.0,  0.75};
    for (int c = 1; c <= 12; ++c) ms->overland.ov_depth[c] = depth[c];
    for (int step = 0; step < 20; ++step) {
      EXPECT_EQ(ade_overland_route(*ms, 5.0, scheme, 1 + step % 2), 0.0) << scheme;
      for (int c = 1; c <= 12; ++c) {
        ASSERT_EQ(ms->overland.ov_depth[c], depth[c]) << "scheme " << scheme << " cell " << c;
        ASSERT_EQ(ms->overland.ov_flux_x[c], 0.0);
        ASSERT_EQ(ms->overland.ov_flux_y[c], 0.0);
      }
    }
  }
}

// "ade" with sweep order 1 runs the x faces and then the y faces, each sweep updating the depths
// before the next; order 2 runs them the other way round, with another result.
TEST(AdeRouting, TheSweepOrderOfAde) {
  const std::vector<double> elev = {1.0, 0.98, 0.97, 0.96};  // 2 x 2 cells of 10 m
  const std::vector<double> depth = {0.0, 0.02, 0.01, 0.015, 0.0};
  std::vector<double> routed[2];
  for (int order : {1, 2}) {
    auto ms = make_grid(2, 2, 10.0, elev, 0.05, 2);
    ms->outlet_cell = 0;  // no outlet drain
    for (int c = 1; c <= 4; ++c) ms->overland.ov_depth[c] = depth[c];
    ASSERT_GT(ade_overland_route(*ms, 1.0, 2, order), -1.0);
    routed[order - 1].assign(ms->overland.ov_depth.data(), ms->overland.ov_depth.data() + 5);

    // The same by hand with the kernels: one sub-step of 1 s (a quiet first call).
    auto hand = make_grid(2, 2, 10.0, elev, 0.05, 2);
    overland_state& ov = hand->overland;
    std::vector<double> h = depth, before = depth, change(5, 0.0), q(5, 0.0);
    ade_grid_view g;
    g.cell_count = 4;
    g.dx = 10.0;
    g.elev = hand->cell_elev.data();
    g.retention = ov.ov_retention.data();
    g.roughness = ov.ov_roughness.data();
    g.right = ov.rightcon.data();
    g.below = ov.belowcon.data();
    g.open_x = ov.ov_face_open_x.data();
    g.open_y = ov.ov_face_open_y.data();
    for (int k = 0; k < 2; ++k) {
      const bool x = (k == 0) == (order == 1);
      if (x)
        ade_flux_sweep_a(g, h.data(), q.data());
      else
        ade_flux_sweep_b(g, h.data(), q.data());
      ASSERT_EQ(ade_depth_update(4, h.data(), change.data(), before.data(), q.data(),
                                 x ? ov.leftcon.data() : ov.abovecon.data(), 10.0, 1.0),
                ade_update_ok);
    }
    EXPECT_EQ(routed[order - 1], h) << "order " << order;
  }
  EXPECT_NE(routed[0], routed[1]);
}

// "ade-pc" on a row of two cells (no lower faces), x first in order 2: predictor discharges from
// the depths, predicted depths, discharges from those, and the corrector with the mean; written
// out here with the face law.
TEST(AdeRouting, ThePredictorCorrectorOfAdePc) {
  auto ms = make_grid(1, 2, 10.0, {1.0, 0.95}, 0.05, 3);
  ms->outlet_cell = 0;
  overland_state& ov = ms->overland;
  ov.ov_depth[1] = 0.03;
  ov.ov_depth[2] = 0.01;
  // A step short enough that no face is held to its share of the surface difference.
  const double dt = 5.0, c = dt / 100.0;
  auto face = [](double h1, double h2) {
    const double s = ((h1 + 1.0) - (h2 + 0.95)) / 10.0;
    return 10.0 * std::pow(h1, 2.0 / 3.0) * h1 * std::sqrt(s) / 0.05;
  };
  const double q0 = face(0.03, 0.01);
  const double p1 = 0.03 - q0 * c, p2 = 0.01 + q0 * c;
  const double mean = (q0 + face(p1, p2)) * 0.5;
  EXPECT_EQ(ade_overland_route(*ms, dt, 3, 2), 0.0);
  EXPECT_DOUBLE_EQ(ov.ov_depth[1], 0.03 - mean * c);
  EXPECT_DOUBLE_EQ(ov.ov_depth[2], 0.01 + mean * c);
  EXPECT_DOUBLE_EQ(ov.ov_flux_x[1], mean);
  EXPECT_NEAR(ov.ov_depth[1] + ov.ov_depth[2], 0.04, 1e-17);
}

// A cell drained below -1e-5 m by the full step restarts the step from its start depths with
// half the sub-step until no depth goes negative, under both schemes: the water is kept, no
// depth is negative, and the sub-step kept for the next step is the step halved.
TEST(AdeRouting, ANegativeDepthRestartsTheStepWithHalfTheSubStep) {
  for (int scheme : {2, 3}) {
    auto ms = make_grid(1, 3, 10.0, {10.0, 5.0, 0.0}, 0.01, scheme);
    ms->outlet_cell = 0;
    overland_state& ov = ms->overland;
    ov.ov_depth[1] = 0.05;
    const double before = stored(*ms);
    EXPECT_EQ(ade_overland_route(*ms, 60.0, scheme, 1), 0.0);
    EXPECT_EQ(run_error.error_code, 0);
    for (int c = 1; c <= 3; ++c) EXPECT_GE(ov.ov_depth[c], 0.0) << c << " scheme " << scheme;
    EXPECT_NEAR(stored(*ms), before, 1e-12) << scheme;
    EXPECT_GT(ov.ov_depth[3], 0.0) << scheme;  // the water went down the slope
    const double last = ov.ade_memory.last_sub;
    EXPECT_LT(last, 60.0) << scheme;
    const double halvings = std::log2(60.0 / last);
    EXPECT_EQ(halvings, std::round(halvings)) << last;
    // The face volumes of the step are the water that crossed each face, and the discharges
    // left are their means over the step.
    EXPECT_NEAR(ov.ov_vol_x[2], ov.ov_depth[3] * 100.0, 1e-12) << scheme;
    EXPECT_NEAR(ov.ov_flux_x[2], ov.ov_vol_x[2] / 60.0, 1e-15) << scheme;
  }
}

// Still water stays still and a bump relaxes without oscillating, whatever the step: a flat bed
// of 7 x 7 cells of 10 m under 1 m of water, its middle cell 1 cm higher, no outlet. Each
// step's highest surface is no higher than the last one's and its lowest no lower (no surface
// overshoots its neighbours'), the water is kept, and after an hour the surface is level to
// within 0.1 mm. The same pool level from the start stays at rest to 1e-9 m over a day.
TEST(AdeRouting, ABumpRelaxesToLevelWithoutOscillating) {
  for (int scheme : {2, 3}) {
    for (double dt : {10.0, 1.0}) {
      auto ms = make_grid(7, 7, 10.0, std::vector<double>(49, 100.0), 0.05, scheme);
      ms->outlet_cell = 0;
      overland_state& ov = ms->overland;
      for (int c = 1; c <= 49; ++c) ov.ov_depth[c] = 1.0;
      ov.ov_depth[25] = 1.01;
      const double water = stored(*ms);
      double high = 1.01, low = 1.0;
      const int steps = static_cast<int>(3600.0 / dt);
      for (int step = 0; step < steps; ++step) {
        ASSERT_GE(ade_overland_route(*ms, dt, scheme, 1 + step % 2), 0.0);
        const auto [lo, hi] = std::minmax_element(&ov.ov_depth[1], &ov.ov_depth[1] + 49);
        ASSERT_LE(*hi, high) << "scheme " << scheme << " dt " << dt << " step " << step;
        ASSERT_GE(*lo, low) << "scheme " << scheme << " dt " << dt << " step " << step;
        high = *hi;
        low = *lo;
      }
      EXPECT_LT(high - low, 1e-4) << "scheme " << scheme << " dt " << dt;
      EXPECT_NEAR(stored(*ms), water, 1e-9) << "scheme " << scheme << " dt " << dt;
    }
    // A level pool over a bowl whose beds are no binary fractions: its surface 1.6 m carries
    // the rounding of each depth; a day of 10 s steps leaves it where it was.
    std::vector<double> bowl(49);
    for (int r = 0; r < 7; ++r)
      for (int c = 0; c < 7; ++c)
        bowl[r * 7 + c] = 0.1 * std::max(std::abs(r - 3), std::abs(c - 3)) * 0.2;
    auto ms = make_grid(7, 7, 10.0, bowl, 0.05, scheme);
    ms->outlet_cell = 0;
    overland_state& ov = ms->overland;
    std::vector<double> start(50, 0.0);
    for (int c = 1; c <= 49; ++c) start[c] = ov.ov_depth[c] = 1.6 - ms->cell_elev[c];
    for (int step = 0; step < 8640; ++step)
      ASSERT_GE(ade_overland_route(*ms, 10.0, scheme, 1 + step % 2), 0.0);
    for (int c = 1; c <= 49; ++c)
      EXPECT_NEAR(ov.ov_depth[c], start[c], 1e-9) << "scheme " << scheme << " cell " << c;
  }
}

// Flow whose faces must be held to their share of the water-surface difference halves the
// sub-step, so that ordinary flow runs with the face law unheld; it never halves below the
// shortest held sub-step and never stops the run: a row of three flat cells, the first 1 m
// deep, the others 0.5 m, in steps of 60 s.
TEST(AdeRouting, HeldFacesHalveTheSubStepButNeverStopTheRun) {
  for (int scheme : {2, 3}) {
    auto ms = make_grid(1, 3, 10.0, {0.0, 0.0, 0.0}, 0.05, scheme);
    ms->outlet_cell = 0;
    overland_state& ov = ms->overland;
    ov.ov_depth[1] = 1.0;
    ov.ov_depth[2] = ov.ov_depth[3] = 0.5;
    double shortest = 60.0;
    for (int step = 0; step < 30; ++step) {
      ASSERT_GE(ade_overland_route(*ms, 60.0, scheme, 1 + step % 2), 0.0) << scheme;
      shortest = std::min(shortest, ov.ade_memory.last_sub);
      // Never a surface beyond its neighbours': the first cell stays highest, the last lowest.
      ASSERT_GE(ov.ov_depth[1], ov.ov_depth[2]) << scheme << " step " << step;
      ASSERT_GE(ov.ov_depth[2], ov.ov_depth[3]) << scheme << " step " << step;
    }
    EXPECT_EQ(run_error.error_code, 0) << scheme;
    EXPECT_LT(shortest, 1.0) << scheme;
    EXPECT_GE(shortest, ade_shortest_held_sub) << scheme;
    EXPECT_NEAR(stored(*ms), 200.0, 1e-9) << scheme;
    EXPECT_LT(ov.ov_depth[1] - ov.ov_depth[3], 1e-3) << scheme;
  }
}

// Halving below 0.001 s stops the run with the four lines and returns -1.
TEST(AdeRouting, ASubStepBelowItsFloorStopsTheRun) {
  auto ms = make_grid(1, 2, 1.0, {100.0, 0.0}, 0.001, 2);
  ms->outlet_cell = 0;
  ms->overland.ov_depth[1] = 0.5;
  stdout_capture capture;
  const double result = ade_overland_route(*ms, 0.0015, 2, 1);
  const std::string out = capture.stop();
  EXPECT_EQ(result, -1.0);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(out.find("The ADE overland routing time step is getting really small\n"
                     "less than 1/1000 of a second\n"
                     "Reduce the model time step by a factor of 2 and try again.\n"
                     "Program stopped.\n"),
            std::string::npos)
      << out;
  run_error = error_state{};
}

// Without channel routing the outlet cell drains at Manning's rate with the outlet slope and
// never below zero: a cell that holds less than the step's outflow empties and its whole water
// counts as outflow. With channel routing nothing is drained here.
TEST(AdeRouting, TheOutletCellDrainsAndEmptiesButNeverGoesBelowZero) {
  for (int scheme : {2, 3}) {
    auto ms = make_grid(1, 1, 10.0, {1.0}, 0.05, scheme, 0.01);
    overland_state& ov = ms->overland;
    ov.ov_depth[1] = 0.02;
    // One second drains dx h^(5/3) sqrt(0.01) / n (halves of it twice under "ade-pc").
    const double q = 10.0 * std::pow(0.02, 5.0 / 3.0) * 0.1 / 0.05;
    const double drained = ade_overland_route(*ms, 1.0, scheme, 1);
    EXPECT_NEAR(drained, q, 0.05 * q) << scheme;
    EXPECT_NEAR(drained + ov.ov_depth[1] * 100.0, 2.0, 1e-12) << scheme;

    // A step whose (half-)outflow exceeds the water on the cell, on the run's first step.
    auto steep = make_grid(1, 1, 10.0, {1.0}, 0.05, scheme, 1.0);
    steep->overland.ov_depth[1] = 0.0001;
    EXPECT_DOUBLE_EQ(ade_overland_route(*steep, 3600.0, scheme, 1), 0.01) << scheme;
    EXPECT_EQ(steep->overland.ov_depth[1], 0.0) << scheme;

    ms->channel.chan_explic = 1;
    ov.ov_depth[1] = 0.02;
    EXPECT_EQ(ade_overland_route(*ms, 1.0, scheme, 1), 0.0) << scheme;
    EXPECT_EQ(ov.ov_depth[1], 0.02) << scheme;
  }
}

// With the overland lake map on, both schemes take the whole step at once: the water a cell
// sends across the shore of an overland lake goes to the lake's change of the step, the lake's
// own cells keep their depth, and the outlet of "ade" drains once, from its depth before the x
// update.
TEST(AdeRouting, OverlandLakesCollectTheWaterThatCrossesTheirShore) {
  for (int scheme : {2, 3}) {
    auto ms = make_grid(1, 3, 10.0, {1.0, 0.5, 0.0}, 0.05, scheme);
    ms->outlet_cell = 0;
    overland_state& ov = ms->overland;
    ov.overland_lake_map = 1;
    ov.olake_count = 1;
    alloc_1d_int(ov.oland_lake_new, 3, "oland_lake_new");
    ASSERT_TRUE(ov.ov_lakes.allocate(1));
    ASSERT_TRUE(ov.ade_lake_surface.allocate(1));
    ASSERT_TRUE(ov.ade_memory.lake_books.allocate(1));
    ov.oland_lake_new[3] = 1;
    ov.ov_lakes[1].surface_elev = 0.2;
    ov.ov_depth[1] = 0.02;
    ov.ov_depth[2] = 0.03;
    ov.ov_depth[3] = 0.2;
    const double dt = 2.0;
    // Cell 2's face to the lake: S = (0.53 - 0.2) / 10 from its own depth.
    const double to_lake = 10.0 * std::pow(0.03, 5.0 / 3.0) * std::sqrt(0.033) / 0.05;
    EXPECT_EQ(ade_overland_route(*ms, dt, scheme, 1), 0.0) << scheme;
    EXPECT_EQ(ov.ov_depth[3], 0.2) << scheme;
    const double cells_lost = (0.05 - ov.ov_depth[1] - ov.ov_depth[2]) * 100.0;
    EXPECT_NEAR(ov.ov_lakes[1].rain_volume, cells_lost, 1e-14) << scheme;
    EXPECT_NEAR(ov.ov_lakes[1].rain_volume, to_lake * dt, 0.3 * to_lake * dt) << scheme;
  }
}

// A lake costs the rest of the grid none of its step control: a row of four cells of 10 m, a
// steep run from the first into the second and a lake on the fourth (an overland lake, or a
// channel lake), under both schemes. The full step of 60 s would drain the first cell far below
// zero; the step restarts with half the sub-step until it does not, the lake's books keep only
// the water of the pass that stood, and the cells lose exactly what the lake gains.
TEST(AdeRouting, LakesKeepTheSubStepControlOfTheRestOfTheGrid) {
  for (int scheme : {2, 3}) {
    for (bool channel : {false, true}) {
      auto ms = make_grid(1, 4, 10.0, {10.0, 5.0, 4.9, 4.0}, 0.01, scheme);
      ms->outlet_cell = 0;
      overland_state& ov = ms->overland;
      channel_state& ch = ms->channel;
      if (channel) {
        ms->perennial_lakes = 1;
        ch.num_lakes = 1;
        alloc_1d_int(ch.lake_mask, 4, "lake_mask");
        for (raw_array1d<double>* a :
             {&ch.lake_elev, &ch.lake_volume, &ch.lake_in_dv, &ch.lake_out_dv})
          alloc_1d_double(*a, 1, "lake");
        ch.lake_mask[4] = 1;
        ch.lake_elev[1] = 4.5;
        ch.lake_volume[1] = 50.0;
      } else {
        ov.overland_lake_map = 1;
        ov.olake_count = 1;
        alloc_1d_int(ov.oland_lake_new, 4, "oland_lake_new");
        ASSERT_TRUE(ov.ov_lakes.allocate(1));
        ASSERT_TRUE(ov.ade_lake_surface.allocate(1));
        ASSERT_TRUE(ov.ade_memory.lake_books.allocate(1));
        ov.oland_lake_new[4] = 1;
        ov.ov_lakes[1].surface_elev = 4.5;
      }
      ov.ov_depth[1] = 0.05;
      ov.ov_depth[2] = 0.02;
      ov.ov_depth[3] = 0.02;
      ov.ov_depth[4] = 0.5;
      const double cells_before = (0.05 + 0.02 + 0.02) * 100.0;
      const char* kind = channel ? "channel lake" : "overland lake";
      EXPECT_EQ(ade_overland_route(*ms, 60.0, scheme, 1), 0.0) << kind << " scheme " << scheme;
      EXPECT_EQ(run_error.error_code, 0);
      double cells_after = 0.0;
      for (int c = 1; c <= 3; ++c) {
        EXPECT_GE(ov.ov_depth[c], 0.0) << kind << " scheme " << scheme << " cell " << c;
        cells_after += ov.ov_depth[c] * 100.0;
      }
      EXPECT_EQ(ov.ov_depth[4], 0.5) << kind;
      EXPECT_LT(ov.ade_memory.last_sub, 60.0) << kind << " scheme " << scheme;
      const double gained = channel ? ch.lake_volume[1] - 50.0 : ov.ov_lakes[1].rain_volume;
      EXPECT_GT(gained, 0.0) << kind << " scheme " << scheme;
      EXPECT_NEAR(gained, cells_before - cells_after, 1e-12) << kind << " scheme " << scheme;
      if (channel) {
        EXPECT_NEAR(ch.lake_in_dv[1], gained, 1e-12) << kind << " scheme " << scheme;
      }
    }
  }
}

// With perennial lakes on, both schemes take the whole step at once next to the channel lakes:
// the water crossing a lake's shore leaves or enters the shore cells and arrives in the lake's
// volume and its inflow or outflow of the step exactly, the lake's own cells keep their depth,
// and the outlet cell is not drained.
TEST(AdeRouting, ChannelLakesTakeAndGiveTheWaterThatCrossesTheirShore) {
  struct layout {
    const char* name;
    std::vector<double> elev;  // one row of four cells
    std::vector<double> depth;
    std::vector<int> lake;  // lake number per cell
    double surface;         // m: the lake's water surface
    bool into_lake;         // the shore cells run into the lake, or the lake spills
  };
  const layout cases[] = {
      {"runoff from the left",
       {1.0, 0.5, 0.0, -0.5},
       {0.02, 0.03, 0.6, 0.4},
       {0, 0, 1, 1},
       0.2,
       true},
      {"a lake spilling to the right",
       {0.0, 1.0, 2.0, 2.0},
       {0.0, 0.0, 0.0, 0.0},
       {1, 0, 0, 0},
       1.1,
       false},
  };
  for (int scheme : {2, 3}) {
    for (const layout& t : cases) {
      auto ms = make_grid(1, 4, 10.0, t.elev, 0.05, scheme, 0.01);
      ms->outlet_cell = 2;  // drained only without lakes
      ms->perennial_lakes = 1;
      channel_state& ch = ms->channel;
      ch.num_lakes = 1;
      alloc_1d_int(ch.lake_mask, 4, "lake_mask");
      for (raw_array1d<double>* a :
           {&ch.lake_elev, &ch.lake_volume, &ch.lake_in_dv, &ch.lake_out_dv})
        alloc_1d_double(*a, 1, "lake");
      ch.lake_elev[1] = t.surface;
      ch.lake_volume[1] = 500.0;
      ch.lake_in_dv[1] = 7.0;  // booked earlier, not yet counted by the channel step: kept
      overland_state& ov = ms->overland;
      double cells_before = 0.0;
      for (int c = 1; c <= 4; ++c) {
        ch.lake_mask[c] = t.lake[c - 1];
        ov.ov_depth[c] = t.depth[c - 1];
        if (t.lake[c - 1] == 0) cells_before += t.depth[c - 1] * 100.0;
      }
      const double dt = 0.5;
      EXPECT_EQ(ade_overland_route(*ms, dt, scheme, 1), 0.0);
      double cells_after = 0.0;
      for (int c = 1; c <= 4; ++c) {
        if (t.lake[c - 1] != 0)
          EXPECT_EQ(ov.ov_depth[c], t.depth[c - 1]) << t.name << " scheme " << scheme;
        else
          cells_after += ov.ov_depth[c] * 100.0;
      }
      const double gained = ch.lake_volume[1] - 500.0;
      EXPECT_NEAR(gained, cells_before - cells_after, 1e-12) << t.name << " scheme " << scheme;
      EXPECT_NEAR(gained, (ch.lake_in_dv[1] - 7.0) - ch.lake_out_dv[1], 1e-12) << t.name;
      if (t.into_lake) {
        EXPECT_GT(ch.lake_in_dv[1], 7.0) << t.name << " scheme " << scheme;
        EXPECT_EQ(ch.lake_out_dv[1], 0.0) << t.name << " scheme " << scheme;
      } else {
        EXPECT_GT(ch.lake_out_dv[1], 0.0) << t.name << " scheme " << scheme;
        EXPECT_EQ(ch.lake_in_dv[1], 7.0) << t.name << " scheme " << scheme;
      }
      if (scheme == 2 && !t.into_lake) {
        // One sweep: the lake spills the 0.1 m of its water above the shore cell's bed down
        // the slope (1.1 - 1.0) / 10, and the shore cell stays below the lake's surface.
        const double q = 10.0 * std::pow(0.1, 5.0 / 3.0) * std::sqrt(0.01) / 0.05;
        EXPECT_NEAR(ch.lake_out_dv[1], q * dt, 1e-12);
        EXPECT_NEAR(ov.ov_depth[2], q * dt / 100.0, 1e-14);
        EXPECT_LT(ov.ov_depth[2] + 1.0, 1.1);
      }
    }
  }
}

// A lake spills no more than it holds: a lake of 0.05 m3 whose surface stands 0.1 m over its
// dry shore cell would pour about 0.03 m3 per half second in each direction's sweep; over two
// sweeps and the corrector it empties to zero and the shore cells hold exactly its water.
TEST(AdeRouting, AChannelLakeSpillsNoMoreThanItHolds) {
  for (int scheme : {2, 3}) {
    auto ms = make_grid(2, 2, 10.0, {0.0, 1.0, 1.0, 1.0}, 0.05, scheme, 0.01);
    ms->perennial_lakes = 1;
    channel_state& ch = ms->channel;
    ch.num_lakes = 1;
    alloc_1d_int(ch.lake_mask, 4, "lake_mask");
    for (raw_array1d<double>* a : {&ch.lake_elev, &ch.lake_volume, &ch.lake_in_dv, &ch.lake_out_dv})
      alloc_1d_double(*a, 1, "lake");
    ch.lake_mask[1] = 1;
    ch.lake_elev[1] = 1.1;
    ch.lake_volume[1] = 0.05;
    double before_limit = 0.0;
    for (int pass = 0; pass < 4; ++pass) EXPECT_EQ(ade_overland_route(*ms, 0.5, scheme, 1), 0.0);
    for (int c = 2; c <= 4; ++c) before_limit += ms->overland.ov_depth[c] * 100.0;
    EXPECT_GE(ch.lake_volume[1], 0.0) << "scheme " << scheme;
    EXPECT_NEAR(ch.lake_volume[1], 0.0, 1e-15) << "scheme " << scheme;
    EXPECT_NEAR(ch.lake_out_dv[1], 0.05, 1e-15) << "scheme " << scheme;
    EXPECT_NEAR(before_limit, 0.05, 1e-15) << "scheme " << scheme;
    EXPECT_NEAR(ms->overland.lake_spill_event, 0.05, 1e-15) << "scheme " << scheme;
  }
}

// Both schemes next to channel lakes on a grid large enough for the parallel loops: 1 and 8
// threads give the same depths and lake books, and the cells lose what the lake gains.
TEST(AdeRouting, ChannelLakesRouteTheSameOnOneAndEightThreads) {
  const int size = 50;
  std::vector<double> elev;
  std::vector<int> lake;
  for (int r = 1; r <= size; ++r) {
    for (int c = 1; c <= size; ++c) {
      const bool in_lake = r >= 24 && r <= 26 && c >= 24 && c <= 27;
      elev.push_back(10.0 + 0.02 * std::abs(r - 25) + 0.03 * std::abs(c - 25) +
                     0.01 * std::sin(r * c) - (in_lake ? 2.0 : 0.0));
      lake.push_back(in_lake ? 1 : 0);
    }
  }
  const int saved_threads = omp_get_max_threads();
  for (int scheme : {2, 3}) {
    std::vector<double> result[2];
    for (int t = 0; t < 2; ++t) {
      omp_set_num_threads(t == 0 ? 1 : 8);
      auto ms = make_grid(size, size, 5.0, elev, 0.05, scheme);
      ms->perennial_lakes = 1;
      channel_state& ch = ms->channel;
      ch.num_lakes = 1;
      alloc_1d_int(ch.lake_mask, ms->cell_count, "lake_mask");
      for (raw_array1d<double>* a :
           {&ch.lake_elev, &ch.lake_volume, &ch.lake_in_dv, &ch.lake_out_dv})
        alloc_1d_double(*a, 1, "lake");
      ch.lake_elev[1] = 9.5;
      double cells = 0.0;
      for (int c = 1; c <= ms->cell_count; ++c) {
        ch.lake_mask[c] = lake[c - 1];
        ms->overland.ov_depth[c] = lake[c - 1] ? 0.0 : 0.01 + 0.001 * (c % 5);
        cells += ms->overland.ov_depth[c] * 25.0;
      }
      for (int step = 1; step <= 5; ++step)
        ade_overland_route(*ms, 1.0, scheme, step % 2 == 1 ? 1 : 2);
      double cells_after = 0.0;
      for (int c = 1; c <= ms->cell_count; ++c)
        if (!lake[c - 1]) cells_after += ms->overland.ov_depth[c] * 25.0;
      EXPECT_NEAR(cells - cells_after, ch.lake_volume[1], 1e-10) << scheme;
      EXPECT_GT(ch.lake_volume[1], 0.0) << scheme;
      result[t].assign(ms->overland.ov_depth.data(),
                       ms->overland.ov_depth.data() + ms->cell_count + 1);
      result[t].push_back(ch.lake_volume[1]);
      result[t].push_back(ch.lake_in_dv[1]);
      result[t].push_back(ch.lake_out_dv[1]);
    }
    for (std::size_t i = 1; i < result[0].size(); ++i)
      ASSERT_EQ(result[1][i], result[0][i]) << "scheme " << scheme << " entry " << i;
  }
  omp_set_num_threads(saved_threads);
}

// A watershed of 10 m cells inside an ellipse of the rows x cols grid (rows of uneven length,
// an empty first row), numbered row by row; a bed falling to the east with a bump, retention on one
// cell in seven, the right faces of one column closed as a dike closes them, depths that vary, and
// the outlet (drained) at the east end of the middle row. Returns the grid; `place` maps each cell
// to its row and column.
std::unique_ptr<model_state> make_basin(int rows, int cols,
                                        std::vector<std::pair<int, int>>& place) {
  run_error = error_state{};
  auto ms = std::make_unique<model_state>();
  ms->rows = rows;
  ms->cols = cols;
  ms->gridsize = 10.0;
  alloc_2d_int_named(ms->index_map, rows + 1, cols + 1, "mask");
  auto inside = [&](int r, int c) {
    const double y = (r - 0.5 * (rows + 1)) / (0.5 * rows),
                 x = (c - 0.5 * (cols + 1)) / (0.5 * cols);
    return r > 1 && x * x + y * y <= 1.0;
  };
  int k = 0;
  place.assign(1, {0, 0});
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) {
      if (!inside(r, c)) continue;
      ms->index_map[r][c] = ++k;
      place.emplace_back(r, c);
    }
  ms->cell_count = k;
  alloc_1d_double(ms->cell_elev, k, "elev");
  overland_state& ov = ms->overland;
  alloc_1d_double(ov.ov_depth, k, "depth");
  alloc_1d_double(ov.ov_roughness, k, "n");
  alloc_1d_double(ov.ov_retention, k, "retention");
  int lowest = 0;  // the east end of the middle row
  for (int i = 1; i <= k; ++i) {
    const auto [r, c] = place[i];
    ms->cell_elev[i] = 100.0 - 0.02 * c - 0.01 * std::abs(r - rows / 2) +
                       0.3 * std::exp(-0.01 * ((r - 20) * (r - 20) + (c - 30) * (c - 30)));
    ov.ov_roughness[i] = 0.03 + 0.01 * ((r + c) % 3);
    ov.ov_retention[i] = (r * cols + c) % 7 == 0 ? 0.004 : 0.0;
    ov.ov_depth[i] = 0.01 + 0.01 * ((3 * r + c) % 11);
    if (r == rows / 2 && c > place[lowest].second) lowest = i;
  }
  ov.ov_route_option = 2;
  ms->outlet_cell = lowest;
  ms->outlet_slope = 0.02;
  stdout_capture quiet;
  build_cell_connectivity(*ms);
  compute_overland_slopes(*ms);
  EXPECT_EQ(run_error.error_code, 0);
  for (int i = 1; i <= k; ++i)
    if (place[i].second == cols / 3) ov.ov_face_open_x[i] = 0;
  return ms;
}

// "ade" takes its sub-steps row by row on a grid numbered row by row, each row's two directions
// in one pass; the whole-grid sweeps (one direction at a time, taken where the numbering does
// not allow rows) are the reference. Both give the same depths, face discharges, face volumes,
// changes, outlet outflow and sub-step memory bit for bit, for both sweep orders, on 1, 3 and 8
// threads (blocks of rows of their own), through restarts after negative depths.
TEST(AdeRouting, RowByRowSubStepsMatchTheWholeGridSweeps) {
  const int saved_threads = omp_get_max_threads();
  // Per step the outlet volume and the sub-step memory, then per cell the depth, discharges,
  // volumes and change.
  using run = std::vector<double>;
  double shortest = 1e9;  // the shortest sub-step seen
  auto route = [&](int rows, int cols, int threads, double dt, bool whole_grid) {
    omp_set_num_threads(threads);
    std::vector<std::pair<int, int>> place;
    auto ms = make_basin(rows, cols, place);
    EXPECT_GE(ms->cell_count, 2048);  // enough cells for the threads to share them
    overland_state& ov = ms->overland;
    if (whole_grid) {
      // The layout marked as built and unusable: the sub-steps sweep the whole grid.
      ov.ade_memory.row_layout = -1;
      ov.ade_memory.row_layout_cells = ms->cell_count;
      ov.ade_memory.row_first.allocate(ms->rows + 1);
    }
    run out;
    for (int step = 1; step <= 4; ++step) {
      out.push_back(ade_overland_route(*ms, dt, 2, step % 2 == 1 ? 1 : 2));
      out.push_back(ov.ade_memory.last_sub);
      out.push_back(ov.ade_memory.failed);
      shortest = std::min(shortest, ov.ade_memory.last_sub);
    }
    EXPECT_EQ(ov.ade_memory.row_layout, whole_grid ? -1 : 1);
    for (int i = 1; i <= ms->cell_count; ++i)
      for (const raw_array1d<double>* a : {&ov.ov_depth, &ov.ov_flux_x, &ov.ov_flux_y, &ov.ov_vol_x,
                                           &ov.ov_vol_y, &ov.ov_depth_change})
        out.push_back((*a)[i]);
    return out;
  };
  // Short steps take one sub-step each; 20 s steps restart after negative depths. A grid of
  // three long rows leaves most of eight threads without a row.
  for (const auto& [rows, cols] : {std::pair{60, 90}, std::pair{4, 900}}) {
    for (double dt : {1.0, 20.0}) {
      shortest = 1e9;
      const run whole = route(rows, cols, 1, dt, true);
      if (dt > 1.0) {
        EXPECT_LT(shortest, 10.0) << rows;  // restarted after negative depths
      }
      for (int threads : {1, 3, 8}) {
        const run by_rows = route(rows, cols, threads, dt, false);
        ASSERT_EQ(by_rows.size(), whole.size());
        for (std::size_t v = 0; v < whole.size(); ++v)
          ASSERT_EQ(by_rows[v], whole[v])
              << rows << " rows, dt " << dt << " threads " << threads << " value " << v;
      }
    }
  }
  omp_set_num_threads(saved_threads);
}

}  // namespace
