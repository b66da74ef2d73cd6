// Explicit overland routing next to channel lakes: the shore faces by hand, water running off a
// sloping plane leaves the cells and arrives in the lake's volume and inflow (cells plus lake
// conserved at every step), a lake above its shore cell spills onto it and books the outflow, a
// shore cell is not drawn below its water through the lake's face, a listed cell the lake has not
// reached keeps its own water, a face between two lake cells moves nothing and lake cells keep
// their depth, a cut sub-step redoes the step with the lake as it stood at the start, and 1 and 8
// threads give the same bits; without lake cells the variant routes as the plain scheme does.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "overland/connectivity.h"
#include "overland/explicit_channel_lakes.h"
#include "overland/explicit_overland.h"
#include "overland/overland_steps.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::stdout_capture;

namespace {

const double five_thirds = 5.0 / 3.0;

// The shore faces against hand computations (dx = 10 m, n = 0.05): Manning's law over the
// cell's water above its retention when the cell is the higher, over the lake's water above the
// cell's bed when the lake is, whichever cell owns the face; a level surface moves nothing; a
// wetland cell seeps through its layer and blends above it, also under a spilling lake.
TEST(ShoreFaces, ManningAndWetlandFlowBetweenACellAndALakeSurface) {
  wetland_record marsh{};
  marsh.slot[1] = 0.1;    // m: vegetated layer
  marsh.slot[2] = 0.002;  // 1/s: its conductance
  marsh.slot[3] = 0.2;    // m: transition depth
  marsh.slot[4] = 0.01;   // 1/s: conductance above the layer
  marsh.slot[6] = 0.1;    // Manning n of the marsh
  auto manning = [](double S, double H, double n) {
    return std::copysign(std::sqrt(std::fabs(S)), S) / n * std::pow(H, five_thirds);
  };
  const double S_blend = 0.035 + 1e-20, H2 = 0.15;
  struct face {
    const char* name;
    bool lake_owns;  // the lake cell owns the face (else the shore cell does)
    double W, h, z;
    const wetland_record* w;
    double expected;  // m2/s, positive from the owner to its neighbour
  };
  const face cases[] = {
      {"cell above the lake", false, 10.0, 0.05, 10.1, nullptr, manning(0.015 + 1e-20, 0.04, 0.05)},
      {"lake above the cell", false, 10.5, 0.05, 10.0, nullptr, manning(-0.045, 0.5, 0.05)},
      {"lake above the cell, lake owns", true, 10.5, 0.05, 10.0, nullptr,
       manning(0.045, 0.5, 0.05)},
      {"cell above the lake, lake owns", true, 10.0, 0.05, 10.1, nullptr,
       manning(-0.015, 0.04, 0.05)},
      {"level surfaces", false, 10.15, 0.05, 10.1, nullptr, 0.0},
      {"level surfaces, lake owns", true, 10.15, 0.05, 10.1, nullptr, 0.0},
      {"marsh within its layer", false, 10.0, 0.05, 10.1, &marsh, 0.05 * (0.015 + 1e-20) * 0.002},
      {"lake spilling over a marsh", true, 10.5, 0.15, 10.0, &marsh,
       0.035 * 0.1 * 0.002 + manning(0.035, 0.4, 0.1)},
      {"marsh blending into the lake", false, 10.0, 0.25, 10.1, &marsh,
       S_blend * 0.1 * 0.002 + (1.0 - H2 / 0.2) * (H2 * S_blend * 0.01) +
           manning(S_blend, H2, 0.1) * H2 / 0.2},
  };
  for (const face& f : cases) {
    const double q = f.lake_owns ? ov_lake_to_shore_discharge(f.W, f.h, f.z, 0.01, 0.05, f.w, 10.0)
                                 : ov_shore_to_lake_discharge(f.W, f.h, f.z, 0.01, 0.05, f.w, 10.0);
    EXPECT_NEAR(q, f.expected, 1e-13 * std::fabs(f.expected) + 1e-18) << f.name;
    EXPECT_FALSE(std::isnan(q)) << f.name;
  }
}

// A model state with perennial lakes on: a grid of rows of 0/1 with the cells' elevations (cell
// order), uniform n, no retention, and one channel lake over the listed (row, column) cells at
// the surface W.
class ChannelLakeRouting : public ::testing::Test {
 protected:
  void make_grid(const std::vector<std::vector<int>>& mask, const std::vector<double>& elev,
                 double dx, double n = 0.05) {
    ms_ = std::make_unique<model_state>();
    model_state& ms = *ms_;
    ms.rows = static_cast<int>(mask.size());
    ms.cols = static_cast<int>(mask[0].size());
    ms.gridsize = dx;
    ms.perennial_lakes = 1;
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
    ms.outlet_cell = 0;
    ms.channel.chan_explic = 1;  // the outlet drains into the channel, not here
    ms.quiet = 1;
  }
  void add_lake(const std::vector<std::pair<int, int>>& cells, double surface) {
    channel_state& ch = ms_->channel;
    in_lake_.assign(ms_->cell_count + 1, false);
    const int m = static_cast<int>(cells.size());
    ch.num_lakes = 1;
    alloc_lake_search(1, m, ch.lake_search);
    alloc_1d_int(ch.lake_cells, 1, "lake_cells");
    alloc_1d_int(ch.lake_mask, ms_->cell_count, "lake_mask");
    for (raw_array1d<double>* a :
         {&ch.lake_elev, &ch.lake_volume, &ch.lake_in_dv, &ch.lake_out_dv, &ch.lake_ov_inflow})
      alloc_1d_double(*a, 1, "lake");
    for (int p = 1; p <= m; ++p) {
      ch.lake_search[1][1][p] = cells[p - 1].first;
      ch.lake_search[1][2][p] = cells[p - 1].second;
      const int c = ms_->index_map[cells[p - 1].first][cells[p - 1].second];
      in_lake_[c] = true;
      ch.lake_volume[1] += (surface - ms_->cell_elev[c]) * area();
    }
    ch.lake_cells[1] = m;
    ch.lake_elev[1] = surface;
  }
  void start_up() {
    run_error = error_state{};
    build_cell_connectivity(*ms_);
    compute_overland_slopes(*ms_);
    ASSERT_EQ(run_error.error_code, 0);
  }
  double area() const { return ms_->gridsize * ms_->gridsize; }
  double cell_water() const {
    double v = 0.0;
    for (int i = 1; i <= ms_->cell_count; ++i)
      if (!in_lake_[i]) v += ms_->overland.ov_depth[i];
    return v * area();
  }
  int cell(int row, int col) const { return ms_->index_map[row][col]; }
  std::unique_ptr<model_state> ms_;
  std::vector<bool> in_lake_;  // per cell: listed in the lake
};

TEST_F(ChannelLakeRouting, RunoffLeavesTheCellsAndArrivesInTheLake) {
  // Three rows: a plane falling 0.1 m per 10 m cell towards the right, then two lake cells
  // whose surface stands at 10.0 m, 0.15 m below the last plane cell's water.
  std::vector<double> elev;
  for (int r = 0; r < 3; ++r)
    for (double z : {10.3, 10.2, 10.1, 9.5, 9.2}) elev.push_back(z);
  make_grid({{1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}}, elev, 10.0);
  add_lake({{1, 4}, {2, 4}, {3, 4}, {1, 5}, {2, 5}, {3, 5}}, 10.0);
  start_up();
  overland_state& ov = ms_->overland;
  const channel_state& ch = ms_->channel;
  for (int r = 1; r <= 3; ++r) {
    for (int c = 1; c <= 3; ++c) ov.ov_depth[cell(r, c)] = 0.05;
    ov.ov_depth[cell(r, 4)] = 0.7;  // whatever a lake cell holds is left alone
    ov.ov_depth[cell(r, 5)] = 0.1;
  }

  // One step of 2 s, no cut: each row's shore face carries Manning's flow from the cell's
  // 0.05 m over the slope (10.15 - 10.0) / 10 to the lake surface.
  const double lake_before = ch.lake_volume[1];
  const double cells_before = cell_water();
  ov_route_explicit(*ms_, 2.0);
  for (int r = 1; r <= 3; ++r)
    for (int c = 4; c <= 5; ++c) EXPECT_EQ(ch.lake_mask[cell(r, c)], 1) << r << "," << c;
  const double q = std::sqrt(0.15 / 10.0 + 1e-20) / 0.05 * std::pow(0.05, five_thirds);
  EXPECT_NEAR(ch.lake_in_dv[1], 3.0 * q * 10.0 * 2.0, 1e-13);
  EXPECT_EQ(ch.lake_out_dv[1], 0.0);
  EXPECT_NEAR(ch.lake_volume[1] - lake_before, 3.0 * q * 10.0 * 2.0, 1e-11);
  for (int r = 1; r <= 3; ++r) {
    EXPECT_NEAR(ov.ov_flux_x[cell(r, 3)], q * 10.0, 1e-15);  // m3/s after the call
    EXPECT_EQ(ov.ov_flux_x[cell(r, 4)], 0.0);                // lake to lake: nothing
    EXPECT_EQ(ov.ov_depth[cell(r, 4)], 0.7);
    EXPECT_EQ(ov.ov_depth[cell(r, 5)], 0.1);
  }
  EXPECT_NEAR(cell_water() + ch.lake_volume[1], cells_before + lake_before, 1e-11);

  // A minute more: at every step the cells lose exactly what the lake gains, all of it added
  // to the inflow the lake holds until the channel step counts it.
  for (int step = 0; step < 30; ++step) {
    const double cells0 = cell_water(), lake0 = ch.lake_volume[1];
    const double in0 = ch.lake_in_dv[1], out0 = ch.lake_out_dv[1];
    ov_route_explicit(*ms_, 2.0);
    const double gained = ch.lake_volume[1] - lake0;
    EXPECT_NEAR(gained, (ch.lake_in_dv[1] - in0) - (ch.lake_out_dv[1] - out0), 1e-12) << step;
    EXPECT_NEAR(cells0 - cell_water(), gained, 1e-12) << step;
    EXPECT_GT(ch.lake_in_dv[1], in0) << step;
    EXPECT_EQ(ch.lake_out_dv[1], 0.0) << step;
  }
  EXPECT_LT(cell_water(), 0.75 * cells_before);
  // The event books see the same water: the lake's overland inflow since the last event end.
  EXPECT_NEAR(ch.lake_ov_inflow[1], ch.lake_in_dv[1], 1e-12);
  EXPECT_EQ(ov.lake_spill_event, 0.0);
}

TEST_F(ChannelLakeRouting, ALakeAboveItsShoreCellSpillsOntoItAndBooksTheOutflow) {
  // A dry shore cell of bed 10.0 m beside a lake cell (bed 9.0 m) whose surface stands at
  // 10.5 m, the lake on either side of it: the lake spills over the shore cell's bed by
  // Manning's law with the slope 0.5 / 10 and the depth W - z = 0.5 m, whichever cell owns
  // the face. The cell beyond the shore cell is high and dry.
  struct layout {
    const char* name;
    std::vector<double> elev;
    int lake_col, shore_col;
  };
  const layout cases[] = {{"lake on the left", {9.0, 10.0, 11.0}, 1, 2},
                          {"lake on the right", {11.0, 10.0, 9.0}, 3, 2}};
  for (const layout& t : cases) {
    make_grid({{1, 1, 1}}, t.elev, 10.0);
    add_lake({{1, t.lake_col}}, 10.5);
    start_up();
    const channel_state& ch = ms_->channel;
    const double lake0 = ch.lake_volume[1];
    ov_route_explicit(*ms_, 0.25);
    const double q = std::sqrt(0.5 / 10.0) / 0.05 * std::pow(0.5, five_thirds);
    const double spilled = q * 10.0 * 0.25;
    EXPECT_NEAR(ch.lake_out_dv[1], spilled, 1e-13) << t.name;
    EXPECT_EQ(ch.lake_in_dv[1], 0.0) << t.name;
    EXPECT_NEAR(lake0 - ch.lake_volume[1], spilled, 1e-11) << t.name;
    EXPECT_NEAR(ms_->overland.ov_depth[t.shore_col] * area(), spilled, 1e-13) << t.name;
    EXPECT_EQ(ms_->overland.ov_depth[t.lake_col], 0.0) << t.name;
  }
}

TEST_F(ChannelLakeRouting, ALakeSpillsNoMoreThanItHolds) {
  // The lake's surface stands 0.5 m over dry shore cells of bed 10.0 m, which would take
  // about 3.5 m3 over each shore in a quarter second, but the lake holds only 0.5 m3 (say after
  // evaporation): the lake empties to zero and its shores share exactly what it held, by the
  // same factor on each face, whatever the lake's side.
  struct layout {
    const char* name;
    std::vector<double> elev;
    int lake_col;
    std::vector<int> shores;
  };
  const layout cases[] = {{"one shore", {9.0, 10.0, 11.0}, 1, {2}},
                          {"two shores", {10.0, 9.0, 10.0}, 2, {1, 3}}};
  for (const layout& t : cases) {
    make_grid({{1, 1, 1}}, t.elev, 10.0);
    add_lake({{1, t.lake_col}}, 10.5);
    start_up();
    channel_state& ch = ms_->channel;
    ch.lake_volume[1] = 0.5;
    ov_route_explicit(*ms_, 0.25);
    EXPECT_GE(ch.lake_volume[1], 0.0) << t.name;
    EXPECT_NEAR(ch.lake_volume[1], 0.0, 1e-15) << t.name;
    EXPECT_NEAR(ch.lake_out_dv[1], 0.5, 1e-15) << t.name;
    EXPECT_NEAR(cell_water(), 0.5, 1e-15) << t.name;
    EXPECT_NEAR(ms_->overland.lake_spill_event, 0.5, 1e-15) << t.name;
    for (int c : t.shores)
      EXPECT_NEAR(ms_->overland.ov_depth[c] * area(), 0.5 / t.shores.size(), 1e-15) << t.name;
  }
}

TEST_F(ChannelLakeRouting, ACutSubStepRedoesTheStepWithTheLakeAsItStood) {
  // Two cells of 1 m above a lake cell: a step of 9 s that starts with a remembered sub-step
  // of 3 s books the first sub-step's runoff to the lake, then finds a face whose discharge the
  // face law's cap cut across a surface difference that matters, and is redone from its start
  // in sub-steps of a third. The redone step must book the lake exactly as a step routed in the
  // final sub-step from the outset does.
  auto fresh = [&](double first_sub) {
    make_grid({{1, 1, 1}}, {10.0, 9.9, 9.0}, 1.0, 0.1);
    add_lake({{1, 3}}, 9.5);
    start_up();
    ms_->overland.ov_depth[1] = 0.04;
    ms_->overland.ov_depth[2] = 0.01;
    ms_->channel.lake_in_dv[1] = 5.0;  // booked earlier, not yet counted by the channel step
    ms_->overland.explicit_memory.reduced_step = first_sub;
    ms_->overland.explicit_memory.reduced_calls_left = 1;
  };
  fresh(3.0);
  ms_->quiet = 0;
  const double before = cell_water() + ms_->channel.lake_volume[1];
  stdout_capture capture;
  ov_route_explicit(*ms_, 9.0);
  const std::string out = capture.stop();
  const explicit_scheme_memory mem = ms_->overland.explicit_memory;
  // The cap keeps every face within the sub-step test, so no face prints its split lines.
  EXPECT_FALSE(contains(out, "  ]x:")) << out;
  EXPECT_TRUE(contains(out, " *Changing overland time step to 1.00 seconds...\n")) << out;
  EXPECT_LT(mem.reduced_step, 1.0 + 1e-12);
  EXPECT_EQ(mem.reduced_calls_left, 4);
  const double volume = ms_->channel.lake_volume[1], in_dv = ms_->channel.lake_in_dv[1];
  EXPECT_NEAR(cell_water() + volume, before, 1e-14);
  EXPECT_GT(in_dv, 5.0);
  const std::vector<double> depths(ms_->overland.ov_depth.data(),
                                   ms_->overland.ov_depth.data() + 4);

  fresh(mem.reduced_step);
  ov_route_explicit(*ms_, 9.0);
  EXPECT_EQ(ms_->overland.explicit_memory.reduced_step, mem.reduced_step);  // no further cut
  EXPECT_EQ(ms_->channel.lake_volume[1], volume);
  EXPECT_EQ(ms_->channel.lake_in_dv[1], in_dv);
  for (int i = 1; i <= 2; ++i) EXPECT_EQ(ms_->overland.ov_depth[i], depths[i]) << i;
}

TEST_F(ChannelLakeRouting, AShoreCellDrainingIntoTheLakeIsNotDrawnBelowItsWater) {
  // A thin sheet of 1 cm on a steep shore cell right of a low lake: the face belongs to the lake
  // cell, and in one 1 s sub-step the cell would lose 4 cm. The face judges the shore cell, so
  // the step is cut until the cell keeps its water.
  make_grid({{1, 1}}, {0.0, 1.0}, 1.0, 0.01);
  add_lake({{1, 1}}, 0.2);
  start_up();
  ms_->overland.ov_depth[2] = 0.01;
  ms_->quiet = 0;
  const double before = cell_water() + ms_->channel.lake_volume[1];
  stdout_capture capture;
  ov_route_explicit(*ms_, 1.0);
  const std::string out = capture.stop();
  EXPECT_TRUE(contains(out, "  ]x: h+dh < 0.00   (h+dh=")) << out;
  EXPECT_TRUE(contains(out, "  j:2\n    -> Outflow Exceeded Water Depth\n")) << out;
  EXPECT_GE(ms_->overland.ov_depth[2], -0.0001);
  EXPECT_LT(ms_->overland.ov_depth[2], 0.01);
  EXPECT_NEAR(cell_water() + ms_->channel.lake_volume[1], before, 1e-14);
}

TEST_F(ChannelLakeRouting, AListedCellTheLakeHasNotReachedKeepsItsOwnWater) {
  // The lake's list starts with a cell above its surface, which the start-up passes over and
  // counts no cell for; the one cell the lake holds is the second listed. The first stays a cell
  // of the plane: its water runs into the lake.
  make_grid({{1, 1, 1}}, {10.6, 9.0, 11.0}, 10.0);
  add_lake({{1, 1}, {1, 2}}, 10.5);
  channel_state& ch = ms_->channel;
  ch.lake_cells[1] = 1;
  ch.lake_mask[2] = 1;
  in_lake_[1] = false;
  start_up();
  ms_->overland.ov_depth[1] = 0.05;
  ov_route_explicit(*ms_, 1.0);
  EXPECT_EQ(ch.lake_mask[1], 0);
  EXPECT_EQ(ch.lake_mask[2], 1);
  EXPECT_LT(ms_->overland.ov_depth[1], 0.05);
  EXPECT_NEAR(ch.lake_in_dv[1], (0.05 - ms_->overland.ov_depth[1]) * area(), 1e-13);
}

TEST_F(ChannelLakeRouting, WithoutLakeCellsTheCellsRouteAsOnAPlainGrid) {
  // Perennial lakes on with no lake read (the lake arrays empty), and an overland lake map value
  // other than 0 or 1: the channel-lake variant routes, and its depths match the plain scheme's
  // on the same tilted plane to round-off, the water kept.
  const std::vector<double> elev = {10.0, 9.95, 9.9, 9.96, 9.91, 9.86};
  std::vector<double> plain;
  for (int variant = 0; variant < 3; ++variant) {
    make_grid({{1, 1, 1}, {1, 1, 1}}, elev, 10.0);
    ms_->perennial_lakes = variant == 1 ? 1 : 0;
    ms_->overland.overland_lake_map = variant == 2 ? 2 : 0;
    in_lake_.assign(ms_->cell_count + 1, false);
    start_up();
    for (int i = 1; i <= 6; ++i) ms_->overland.ov_depth[i] = 0.01 * i;
    const double before = cell_water();
    for (int step = 0; step < 10; ++step) ov_route_explicit(*ms_, 5.0);
    EXPECT_NEAR(cell_water(), before, 1e-13) << variant;
    if (variant == 0) {
      plain.assign(ms_->overland.ov_depth.data(), ms_->overland.ov_depth.data() + 7);
      continue;
    }
    for (int i = 1; i <= 6; ++i) EXPECT_NEAR(ms_->overland.ov_depth[i], plain[i], 1e-15) << i;
  }
}

TEST_F(ChannelLakeRouting, OneAndEightThreadsGiveTheSameBits) {
  // A 50 x 50 bumpy plane tilted towards a lake of twelve cells near its middle, wet
  // everywhere: large enough for the cell loops to run in parallel.
  const int size = 50;
  std::vector<std::vector<int>> mask(size, std::vector<int>(size, 1));
  std::vector<std::pair<int, int>> lake_cells;
  for (int r = 24; r <= 26; ++r)
    for (int c = 24; c <= 27; ++c) lake_cells.push_back({r, c});
  std::vector<double> elev;
  for (int r = 1; r <= size; ++r)
    for (int c = 1; c <= size; ++c)
      elev.push_back(100.0 + 0.02 * std::abs(r - 25) + 0.03 * std::abs(c - 25) +
                     0.01 * std::sin(r * c) - (r >= 24 && r <= 26 && c >= 24 && c <= 27 ? 2 : 0));
  std::vector<double> depths[2];
  std::vector<double> lake[2];
  const int threads[2] = {1, 8};
  const int saved_threads = omp_get_max_threads();
  for (int t = 0; t < 2; ++t) {
    omp_set_num_threads(threads[t]);
    make_grid(mask, elev, 5.0);
    add_lake(lake_cells, 99.5);
    start_up();
    for (int i = 1; i <= ms_->cell_count; ++i) ms_->overland.ov_depth[i] = 0.02 + 0.002 * (i % 5);
    const double before = cell_water() + ms_->channel.lake_volume[1];
    for (int step = 0; step < 5; ++step) ov_route_explicit(*ms_, 10.0);
    EXPECT_NEAR(cell_water() + ms_->channel.lake_volume[1], before, 1e-12 * before);
    depths[t].assign(ms_->overland.ov_depth.data(),
                     ms_->overland.ov_depth.data() + ms_->cell_count + 1);
    const channel_state& ch = ms_->channel;
    lake[t] = {ch.lake_volume[1], ch.lake_in_dv[1], ch.lake_out_dv[1]};
  }
  omp_set_num_threads(saved_threads);
  EXPECT_GT(lake[0][1], 0.0);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(lake[1][k], lake[0][k]) << k;
  for (std::size_t i = 1; i < depths[0].size(); ++i)
    ASSERT_EQ(depths[1][i], depths[0][i]) << "cell " << i;
}

}  // namespace
