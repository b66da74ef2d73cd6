// The tiles of the overland sediment transport: every cell comes after the cells whose moves
// touch what it touches, and the step run through the tiles on one or eight threads, with the
// class logarithms worked out once, leaves the same bits as the single pass in cell order that
// works them out at every use, on a ragged grid whose water runs both ways.
#include <gtest/gtest.h>
#include <omp.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "overland/overland_steps.h"
#include "support/test_support.h"
#include "transport/sediment_kernels.h"
#include "transport/sediment_lanes.h"
#include "transport/sediment_sweep.h"
#include "transport/transport_steps.h"

namespace {

constexpr int grid_rows = 23;
constexpr int grid_cols = 29;
constexpr int classes = 3;

// A ragged watershed: the corners and a hole are outside, so rows start and end at different
// columns and some cells have no neighbour on a side.
bool inside(int r, int k) {
  if (r + k < 6 || (grid_rows - r) + (grid_cols - k) < 4) return false;
  if (r >= 9 && r <= 12 && k >= 11 && k <= 15) return false;
  return !(k > 20 && r < 5);
}

void number_cells(model_state& ms) {
  ms.rows = grid_rows;
  ms.cols = grid_cols;
  alloc_2d_int_named(ms.index_map, grid_rows + 1, grid_cols + 1, "mask");
  int n = 0;
  for (int r = 1; r <= grid_rows; ++r)
    for (int k = 1; k <= grid_cols; ++k) ms.index_map[r][k] = inside(r, k) ? ++n : 0;
  ms.cell_count = n;
}

// The grid with water on every cell, face discharges of both signs, rain, and three classes of
// sediment partly in suspension and partly loose (drawn from a fixed seed, the same every time).
// With flux_map the step also keeps the flux of every class out of every cell. With bare_cells
// every fifth cell holds no soil, no sediment and no rain: such a cell has nothing to give until
// a neighbour hands it some, and its moving material is described by its empty soil fractions.
std::unique_ptr<model_state> make_watershed(int method, bool class_logs, bool flux_map = true,
                                            bool bare_cells = false) {
  auto ms = std::make_unique<model_state>();
  ms->super_quiet = 1;
  number_cells(*ms);
  const int n = ms->cell_count;
  ms->gridsize = 10.0;
  overland_state& ov = ms->overland;
  alloc_1d_double(ms->cell_elev, n, "elev");
  alloc_1d_double(ov.ov_depth, n, "depth");
  alloc_1d_double(ov.rain_cell, n, "rain");
  alloc_1d_double(ov.ov_flux_x, n, "flux_x");
  alloc_1d_double(ov.ov_flux_y, n, "flux_y");
  build_cell_connectivity(*ms);
  std::mt19937 draw(20261210u);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int r = 1; r <= grid_rows; ++r)
    for (int k = 1; k <= grid_cols; ++k) {
      const int c = ms->index_map[r][k];
      if (c == 0) continue;
      ms->cell_elev[c] = 100.0 - 0.02 * k - 0.03 * r + 0.05 * unit(draw);
      ov.ov_depth[c] = 0.002 + 0.03 * unit(draw);
      // Rain of a few gauges: neighbouring cells often share an intensity, and some get none.
      const double gauges[] = {0.0, 8.0, 35.0, 35.0, 72.0, 130.0};
      ov.rain_cell[c] = gauges[static_cast<int>(6.0 * unit(draw)) % 6];
      // Mostly down to the south-east, a third of the faces against it.
      const double sign_x = unit(draw) < 0.33 ? -1.0 : 1.0, sign_y = unit(draw) < 0.33 ? -1.0 : 1.0;
      ov.ov_flux_x[c] = ov.rightcon[c] != 0 ? sign_x * (0.001 + 0.05 * unit(draw)) : 0.0;
      ov.ov_flux_y[c] = ov.belowcon[c] != 0 ? sign_y * (0.001 + 0.05 * unit(draw)) : 0.0;
    }
  // The outlet is the last cell of the last row, with no right neighbour: it drains to the right.
  ms->outlet_cell = n;
  ms->outlet_slope = 0.01;
  ms->outlet_q = 0.04;

  transport_state& tr = ms->transport;
  tr.sediment.soil_erosion = 1;
  tr.sediment.sed_constituents = 1;
  tr.sediment.erosion_method = method;
  tr.sediment.num_sed_classes = classes;
  tr.ov_sed = std::make_unique<ov_sediment_obj>();
  ov_sediment_obj& s = *tr.ov_sed;
  s.num_sed_classes = classes;
  bool ok = s.spec_grav.allocate(classes) && s.part_diam.allocate(classes) &&
            s.settling_vel.allocate(classes) && s.sed_class.allocate(classes) &&
            s.sand.allocate(classes) && s.trap_fraction.allocate(classes);
  for (raw_array1d<double>* a :
       {&s.splash_K, &s.detach_coef, &s.detach_exp, &s.detach_crit, &s.sed_K, &s.qsx, &s.qsy,
        &s.slope_x, &s.slope_y, &s.cell_discharge})
    ok = ok && a->allocate(n);
  ok = ok && s.channel_cells.allocate(n) && s.vol_sed.allocate(n, classes, 4) &&
       s.sed_fract.allocate(n, classes, 4) && s.sed_vol_eroded.allocate(n, classes) &&
       s.sed_vol_deposited.allocate(n, classes) && s.ov_qsvol.allocate(n, classes) &&
       (!flux_map || s.ov_qsmax.allocate(n, classes)) && sed_water_pass_allocate(s, n, classes);
  EXPECT_TRUE(ok);
  const double nu = kinematic_viscosity(15.0);
  const double diam[classes + 1] = {0.0, 0.008, 0.06, 0.4};
  for (int k = 1; k <= classes; ++k) {
    s.spec_grav[k] = 2.65;
    s.part_diam[k] = diam[k];
    s.settling_vel[k] = settling_velocity(2.65, diam[k], nu);
    s.sed_class[k] = k;
  }
  if (class_logs) {
    EXPECT_TRUE(s.class_log_diam.allocate(classes) && s.class_log_step.allocate(classes));
    sediment_class_logs(classes, s.part_diam.data(), s.class_log_diam.data(),
                        s.class_log_step.data());
  }
  for (int c = 1; c <= n; ++c) {
    s.sed_K[c] = 0.5 + unit(draw);
    s.channel_cells[c] = c % 17 == 0;
    const double a = unit(draw), b = unit(draw) * (1.0 - a);
    const double soil[classes + 1] = {0.0, a, b, 1.0 - a - b};
    for (int k = 1; k <= classes; ++k) {
      s.sed_fract[c][k][1] = soil[k];
      s.vol_sed[c][k][2] = 1e-4 * unit(draw);
      s.vol_sed[c][k][3] = unit(draw) < 0.5 ? 2e-4 * unit(draw) : 0.0;
    }
    if (bare_cells && c % 5 == 2) {
      ov.rain_cell[c] = 0.0;
      for (int k = 1; k <= classes; ++k)
        s.sed_fract[c][k][1] = s.vol_sed[c][k][2] = s.vol_sed[c][k][3] = 0.0;
    }
  }
  return ms;
}

// Index of the first element at which the two blocks differ in any bit, -1 when none does.
long first_difference(const double* a, const double* b, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (std::memcmp(a + i, b + i, sizeof(double)) != 0) return static_cast<long>(i);
  return -1;
}

struct position {
  int row = 0, col = 0;
};

// Expects the two steps to have left every class's volumes and shares, the faces' capacities,
// the run's net deposits and the volume out of the grid in the same bits.
void expect_same_moves(ov_sediment_obj& a, ov_sediment_obj& b) {
  EXPECT_EQ(first_difference(a.vol_sed.data(), b.vol_sed.data(), a.vol_sed.element_count()), -1);
  EXPECT_EQ(first_difference(a.sed_fract.data(), b.sed_fract.data(), a.sed_fract.element_count()),
            -1);
  EXPECT_EQ(first_difference(a.qsx.data(), b.qsx.data(), a.qsx.element_count()), -1);
  EXPECT_EQ(first_difference(a.qsy.data(), b.qsy.data(), a.qsy.element_count()), -1);
  EXPECT_EQ(first_difference(a.ov_qsvol.data(), b.ov_qsvol.data(), a.ov_qsvol.element_count()), -1);
  EXPECT_EQ(std::memcmp(&a.outlet_volume, &b.outlet_volume, sizeof(double)), 0)
      << a.outlet_volume << " and " << b.outlet_volume;
}

}  // namespace

TEST(SedimentSweep, EveryCellFollowsTheCellsItsMovesDependOn) {
  model_state ms;
  number_cells(ms);
  const int n = ms.cell_count;
  std::vector<position> where(n + 1);
  for (int r = 1; r <= grid_rows; ++r)
    for (int k = 1; k <= grid_cols; ++k)
      if (ms.index_map[r][k] != 0) where[ms.index_map[r][k]] = {r, k};
  struct size_case {
    int tile_rows, tile_span;
  };
  for (const size_case& t : {size_case{1, 1}, size_case{2, 3}, size_case{5, 4},
                             size_case{sediment_tile_rows, sediment_tile_span}}) {
    SCOPED_TRACE(testing::Message() << t.tile_rows << " x " << t.tile_span);
    sediment_sweep sweep;
    ASSERT_TRUE(build_sediment_sweep(sweep, ms.index_map, grid_rows, grid_cols, n, t.tile_rows,
                                     t.tile_span));
    // Level, tile and place of every cell; every cell listed once.
    std::vector<int> level_of(n + 1, 0), tile_of(n + 1, 0), place_of(n + 1, 0);
    for (int level = 1; level <= sweep.levels; ++level)
      for (int tile = sweep.level_start[level]; tile < sweep.level_start[level + 1]; ++tile) {
        ASSERT_LT(sweep.tile_start[tile], sweep.tile_start[tile + 1]) << "empty tile " << tile;
        for (int i = sweep.tile_start[tile]; i < sweep.tile_start[tile + 1]; ++i) {
          const int c = sweep.cells[i];
          ASSERT_TRUE(c >= 1 && c <= n && level_of[c] == 0) << "cell " << c;
          level_of[c] = level, tile_of[c] = tile, place_of[c] = i;
        }
      }
    EXPECT_EQ(sweep.tile_start[sweep.tiles + 1], n + 1);
    for (int c = 1; c <= n; ++c) {
      ASSERT_NE(level_of[c], 0) << "cell " << c << " missing";
      const position p = where[c];
      // The left neighbour, the cell above and the cell above the right neighbour.
      const position before[] = {{p.row, p.col - 1}, {p.row - 1, p.col}, {p.row - 1, p.col + 1}};
      for (const position& q : before) {
        if (q.row < 1 || q.col < 1 || q.col > grid_cols) continue;
        const int d = ms.index_map[q.row][q.col];
        if (d == 0) continue;
        if (tile_of[d] == tile_of[c])
          EXPECT_LT(place_of[d], place_of[c]) << "cell " << d << " after cell " << c;
        else
          EXPECT_LT(level_of[d], level_of[c]) << "cell " << d << " not before cell " << c;
      }
    }
  }
}

TEST(SedimentSweep, MapsTheTilesCannotKeepInOrderLeaveItEmpty) {
  model_state ms;
  number_cells(ms);
  const int n = ms.cell_count;
  struct bad_case {
    const char* what;
    int swap_first, swap_second;  // cells whose numbers are exchanged (0: none)
    int cell_count, tile_rows, tile_span;
  };
  const bad_case cases[] = {
      {"cells not numbered row by row", 1, 2, n, 4, 4},
      {"fewer cells than the map holds", 0, 0, n - 1, 4, 4},
      {"more cells than the map holds", 0, 0, n + 1, 4, 4},
      {"no tile rows", 0, 0, n, 0, 4},
      {"no tile span", 0, 0, n, 4, 0},
  };
  for (const bad_case& b : cases) {
    raw_array2d<int> map;
    alloc_2d_int_named(map, grid_rows + 1, grid_cols + 1, "mask");
    for (int r = 1; r <= grid_rows; ++r)
      for (int k = 1; k <= grid_cols; ++k) {
        int c = ms.index_map[r][k];
        if (b.swap_first != 0 && c == b.swap_first)
          c = b.swap_second;
        else if (b.swap_first != 0 && c == b.swap_second)
          c = b.swap_first;
        map[r][k] = c;
      }
    sediment_sweep sweep;
    ASSERT_TRUE(build_sediment_sweep(sweep, ms.index_map, grid_rows, grid_cols, n, 4, 4));
    EXPECT_FALSE(build_sediment_sweep(sweep, map, grid_rows, grid_cols, b.cell_count, b.tile_rows,
                                      b.tile_span))
        << b.what;
    EXPECT_EQ(sweep.levels, 0) << b.what;
    EXPECT_TRUE(sweep.cells.empty()) << b.what;
  }
}

TEST(SedimentSweep, TilesOnAnyTeamGiveTheBitsOfTheSinglePass) {
  torva_test::process_state_guard process_state;  // thread count and share are given back
  const long long share = process_info.cells_per_thread;
  process_info.cells_per_thread = 1;  // even this small grid is shared by every thread
  struct run_case {
    const char* what;
    int threads, tile_rows, tile_span;
  };
  const run_case runs[] = {
      {"one thread: the single pass, the logarithms worked out once", 1, 2, 3},
      {"tiles of 2 x 3 on 8 threads", 8, 2, 3},
      {"tiles of 1 x 1 on 8 threads", 8, 1, 1},
      {"the step's own tiles on 8 threads", 8, sediment_tile_rows, sediment_tile_span},
  };
  for (int method = 1; method <= 6; ++method) {
    SCOPED_TRACE(testing::Message() << "capacity form " << method);
    constexpr int steps = 3;
    auto single = make_watershed(method, false);
    ov_sediment_obj& a = *single->transport.ov_sed;
    omp_set_num_threads(1);
    for (int s = 0; s < steps; ++s) overland_sediment_step(*single, 2.0);
    // Sediment crossed faces both ways and left the grid: the comparison below has work to see.
    double carried = 0.0;
    for (int c = 1; c <= single->cell_count; ++c) carried += a.qsx[c] + a.qsy[c];
    ASSERT_GT(carried, 0.0);
    ASSERT_GT(a.vol_sed[single->outlet_cell][0][4], 0.0);
    for (const run_case& run : runs) {
      SCOPED_TRACE(run.what);
      auto tiled = make_watershed(method, true);
      ov_sediment_obj& b = *tiled->transport.ov_sed;
      ASSERT_TRUE(build_sediment_sweep(b.sweep, tiled->index_map, grid_rows, grid_cols,
                                       tiled->cell_count, run.tile_rows, run.tile_span));
      omp_set_num_threads(run.threads);
      for (int s = 0; s < steps; ++s) overland_sediment_step(*tiled, 2.0);
      expect_same_moves(a, b);
      EXPECT_EQ(first_difference(a.ov_qsmax.data(), b.ov_qsmax.data(), a.ov_qsmax.element_count()),
                -1);
    }
  }
  process_info.cells_per_thread = share;
}

// The explicit overland scheme can cut a step into sub-steps and leaves its faces with the last
// sub-step's discharges; when it has summed each face's water over the step, the sediment moves
// with that water. A step whose faces hold a last sub-step far from the step's mean (three times
// it, or turned round) but whose mean is ready leaves the same bits as a step whose faces carried
// the mean all along; a step whose mean is not ready (the other schemes, whose faces hold their
// own mean) moves with the faces' discharges and never reads stale sums.
TEST(SedimentSweep, TheExplicitSchemesStepMovesSedimentWithTheMeanWaterOfItsFaces) {
  torva_test::process_state_guard process_state;
  omp_set_num_threads(1);
  struct face_case {
    const char* what;
    double last_share;  // the last sub-step's discharge as a multiple of the face's mean
    bool mean_ready;
  };
  const face_case cases[] = {
      {"last sub-step three times the mean", 3.0, true},
      {"last sub-step turned round", -1.0, true},
      {"no mean of the step: the faces' own discharges", 1.0, false},
  };
  for (int method = 1; method <= 6; ++method) {
    SCOPED_TRACE(testing::Message() << "capacity form " << method);
    constexpr int steps = 3;
    auto reference = make_watershed(method, false);
    ov_sediment_obj& a = *reference->transport.ov_sed;
    for (int s = 0; s < steps; ++s) overland_sediment_step(*reference, 2.0);
    for (const face_case& fc : cases) {
      SCOPED_TRACE(fc.what);
      auto cut = make_watershed(method, false);
      overland_state& ov = cut->overland;
      const int n = cut->cell_count;
      ASSERT_TRUE(ov.ovx_mean_flux_x.allocate(n) && ov.ovx_mean_flux_y.allocate(n));
      for (int c = 1; c <= n; ++c) {
        const double mean_x = ov.ov_flux_x[c], mean_y = ov.ov_flux_y[c];
        // Without a ready mean the sums are stale leftovers of another step.
        ov.ovx_mean_flux_x[c] = fc.mean_ready ? mean_x : 5.0 * mean_x + 0.01;
        ov.ovx_mean_flux_y[c] = fc.mean_ready ? mean_y : -2.0 * mean_y;
        ov.ov_flux_x[c] = fc.last_share * mean_x;
        ov.ov_flux_y[c] = fc.last_share * mean_y;
      }
      ov.explicit_mean_ready = fc.mean_ready ? 1 : 0;
      for (int s = 0; s < steps; ++s) overland_sediment_step(*cut, 2.0);
      ov_sediment_obj& b = *cut->transport.ov_sed;
      EXPECT_EQ(first_difference(a.vol_sed.data(), b.vol_sed.data(), a.vol_sed.element_count()),
                -1);
      EXPECT_EQ(first_difference(a.qsx.data(), b.qsx.data(), a.qsx.element_count()), -1);
      EXPECT_EQ(first_difference(a.qsy.data(), b.qsy.data(), a.qsy.element_count()), -1);
      EXPECT_EQ(std::memcmp(&a.outlet_volume, &b.outlet_volume, sizeof(double)), 0)
          << a.outlet_volume << " and " << b.outlet_volume;
    }
  }
}

// A run without lakes, bound constituents or flux and concentration maps takes the step's plain
// path, which reaches the cells' rows without the blocks' pointer tables; with the flux map the
// same watershed takes the general path. Every capacity form, on one thread in cell order and
// on eight through small tiles, leaves the general path's bits in the volumes, compositions,
// capacities, run deposits, net deposit map, adjusted ground and outlet volume; so does the
// watershed with bare cells, whose givers may hold no suspension when they move.
TEST(SedimentSweep, ThePlainPathGivesTheBitsOfTheGeneralPath) {
  torva_test::process_state_guard process_state;
  const long long share = process_info.cells_per_thread;
  process_info.cells_per_thread = 1;
  auto prepare = [](model_state& ms) {
    ms.transport.sediment.adjust_elev = 1;
    ASSERT_TRUE(ms.transport.ov_sed->ov_net_sed.allocate(ms.cell_count));
  };
  for (int method = 1; method <= 6; ++method)
    for (bool bare : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << "capacity form " << method << (bare ? ", bare cells" : ""));
      constexpr int steps = 3;
      auto general = make_watershed(method, true, true, bare);
      prepare(*general);
      ov_sediment_obj& a = *general->transport.ov_sed;
      omp_set_num_threads(1);
      for (int s = 0; s < steps; ++s) overland_sediment_step(*general, 2.0);
      ASSERT_GT(a.vol_sed[general->outlet_cell][0][4], 0.0);
      for (int threads : {1, 8}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        auto plain = make_watershed(method, true, false, bare);
        prepare(*plain);
        ov_sediment_obj& b = *plain->transport.ov_sed;
        ASSERT_TRUE(build_sediment_sweep(b.sweep, plain->index_map, grid_rows, grid_cols,
                                         plain->cell_count, 2, 3));
        omp_set_num_threads(threads);
        for (int s = 0; s < steps; ++s) overland_sediment_step(*plain, 2.0);
        expect_same_moves(a, b);
        EXPECT_EQ(first_difference(a.ov_net_sed.data(), b.ov_net_sed.data(),
                                   a.ov_net_sed.element_count()),
                  -1);
        EXPECT_EQ(first_difference(general->cell_elev.data(), plain->cell_elev.data(),
                                   general->cell_elev.element_count()),
                  -1);
      }
    }
  process_info.cells_per_thread = share;
}
