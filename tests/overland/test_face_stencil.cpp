// The face stencil of the overland grid: on an irregular watershed with holes, dikes and
// wetland cells its runs give every cell the same lower and upper neighbours as the neighbour
// tables and its face bits the same open faces; a second grid of another size in the same
// process gets a stencil of its own; the routing rebuilds a stencil made for another grid; the
// vector and scalar cell kernels route the same water, and any thread count gives the same
// bits on an irregular grid whose runs the workers' shares cut.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "overland/connectivity.h"
#include "overland/explicit_overland.h"
#include "overland/explicit_overland_kernels.h"
#include "overland/face_stencil.h"
#include "overland/overland_steps.h"
#include "support/test_support.h"
#include "support/vector_target_loop.h"

using torva_test::process_state_guard;
using torva_test::stdout_capture;

namespace {

// A watershed of rows x cols cells of 5 m with cells left out where `hole` says so, on a bumpy
// plane tilted to the south-east, n 0.05, every array the start-up builds.
std::unique_ptr<model_state> make_watershed(int rows, int cols, bool (*hole)(int r, int c)) {
  auto ms = std::make_unique<model_state>();
  ms->rows = rows;
  ms->cols = cols;
  ms->gridsize = 5.0;
  alloc_2d_int_named(ms->index_map, rows + 1, cols + 1, "mask");
  int k = 0;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c)
      if (!hole(r, c)) ms->index_map[r][c] = ++k;
  ms->cell_count = k;
  alloc_1d_double(ms->cell_elev, k, "elev");
  overland_state& ov = ms->overland;
  alloc_1d_double(ov.ov_depth, k, "depth");
  alloc_1d_double(ov.ov_roughness, k, "n");
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c)
      if (const int cell = ms->index_map[r][c]) {
        ms->cell_elev[cell] = 100.0 - 0.04 * r - 0.03 * c + 0.05 * std::sin(0.7 * r * c);
        ov.ov_roughness[cell] = 0.03 + 0.01 * (cell % 5);
      }
  ms->outlet_cell = 0;
  return ms;
}

// Holes: a ragged west edge, a notch of missing rows and scattered single cells.
bool ragged(int r, int c) {
  return c <= (r * 7) % 5 || (r % 9 == 4 && c > 20 && c < 31) || (r * 31 + c * 17) % 23 == 0;
}

void start_up(model_state& ms) {
  run_error = error_state{};
  build_cell_connectivity(ms);
  compute_overland_slopes(ms);
  ASSERT_EQ(run_error.error_code, 0);
}

// Dikes on some cells' right and lower sides, and a wetland of two records on a block of cells.
void add_dikes_and_wetlands(model_state& ms) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  ov.dike_map_on = 1;
  alloc_1d_int(ov.dike_mask, n, "dikes");
  alloc_1d_int(ov.wetland_mask, n, "wetlands");
  for (int c = 1; c <= n; ++c) {
    if (c % 11 == 0) ov.dike_mask[c] = 2;
    if (c % 13 == 0) ov.dike_mask[c] |= 4;
    if (c % 97 < 6) ov.wetland_mask[c] = 1 + c % 2;
  }
  ms.input.wetland_table_on = 1;
  ov.wetland_count = 2;
  ov.wetlands.allocate(2);
  for (int w = 1; w <= 2; ++w) {
    ov.wetlands[w].slot[1] = 0.01 * w;  // vegetated layer (m)
    ov.wetlands[w].slot[2] = 0.002;     // its conductance (1/s)
    ov.wetlands[w].slot[3] = 0.02;      // transition depth (m)
    ov.wetlands[w].slot[4] = 0.01;      // conductance above the layer (1/s)
    ov.wetlands[w].slot[6] = 0.1;       // Manning n
  }
}

// Every cell in exactly one run, in order, with the neighbour tables' lower and upper cells;
// the plain face bits are the open faces of the cells outside wetlands, and the wetland list
// holds the wetland cells with an open face.
void expect_stencil_matches_tables(const model_state& ms) {
  const overland_state& ov = ms.overland;
  const face_stencil& st = ov.ov_stencil;
  const int n = ms.cell_count;
  ASSERT_EQ(st.cell_count, n);
  ASSERT_GE(st.run_count, 1);
  EXPECT_EQ(st.runs[1].first, 1);
  EXPECT_EQ(st.runs[st.run_count].last, n);
  std::vector<int> wetland_cells;
  for (int r = 1; r <= st.run_count; ++r) {
    const face_run run = st.runs[r];
    if (r > 1) {
      EXPECT_EQ(run.first, st.runs[r - 1].last + 1) << "run " << r;
    }
    for (int c = run.first; c <= run.last; ++c) {
      SCOPED_TRACE(c);
      EXPECT_EQ(face_run_of(st, c), r);
      EXPECT_EQ(ov.belowcon[c], run.below != 0 ? c + run.below : 0);
      EXPECT_EQ(ov.abovecon[c], run.above != 0 ? c - run.above : 0);
      EXPECT_TRUE(ov.rightcon[c] == 0 || ov.rightcon[c] == c + 1);
      const bool wet = ms.input.wetland_table_on && ov.wetland_mask[c] != 0;
      const int bits = (ov.ov_face_open_x[c] ? stencil_right_open : 0) |
                       (ov.ov_face_open_y[c] ? stencil_lower_open : 0);
      EXPECT_EQ(st.plain_faces[c], wet ? 0 : bits);
      if (wet && bits != 0) wetland_cells.push_back(c);
    }
  }
  ASSERT_EQ(st.wetland_cell_count, static_cast<int>(wetland_cells.size()));
  for (int i = 1; i <= st.wetland_cell_count; ++i)
    EXPECT_EQ(st.wetland_cells[i], wetland_cells[i - 1]);
}

void wet_cells(model_state& ms) {
  for (int c = 1; c <= ms.cell_count; ++c)
    ms.overland.ov_depth[c] = c % 17 == 0 ? 0.0 : 0.004 + 0.001 * (c % 7);
}

std::vector<double> route(model_state& ms, int steps, double dt) {
  stdout_capture quiet;
  for (int s = 0; s < steps; ++s) ov_route_explicit(ms, dt);
  std::vector<double> out(ms.overland.ov_depth.data(),
                          ms.overland.ov_depth.data() + ms.cell_count + 1);
  out.insert(out.end(), ms.overland.ov_flux_x.data(),
             ms.overland.ov_flux_x.data() + ms.cell_count + 1);
  out.insert(out.end(), ms.overland.ov_flux_y.data(),
             ms.overland.ov_flux_y.data() + ms.cell_count + 1);
  return out;
}

TEST(FaceStencil, RunsAndFacesMatchTheNeighbourTablesOfARaggedGrid) {
  process_state_guard guard;
  auto plain = make_watershed(40, 60, ragged);
  start_up(*plain);
  expect_stencil_matches_tables(*plain);
  // The ragged edge and the holes break the rows into many runs.
  EXPECT_GT(plain->overland.ov_stencil.run_count, 40);

  auto diked = make_watershed(40, 60, ragged);
  add_dikes_and_wetlands(*diked);
  start_up(*diked);
  expect_stencil_matches_tables(*diked);
  EXPECT_GT(diked->overland.ov_stencil.wetland_cell_count, 0);
}

TEST(FaceStencil, ASecondGridOfAnotherSizeRoutesAsItWouldFirst) {
  process_state_guard guard;
  // The small grid routed alone, then after a larger one in the same process.
  auto first = make_watershed(12, 15, ragged);
  start_up(*first);
  wet_cells(*first);
  const std::vector<double> alone = route(*first, 5, 10.0);

  auto large = make_watershed(70, 90, ragged);
  start_up(*large);
  wet_cells(*large);
  route(*large, 3, 10.0);
  auto again = make_watershed(12, 15, ragged);
  start_up(*again);
  expect_stencil_matches_tables(*again);
  wet_cells(*again);
  EXPECT_EQ(route(*again, 5, 10.0), alone);

  // A stencil built for another grid is rebuilt by the routing before it is used.
  auto stale = make_watershed(12, 15, ragged);
  start_up(*stale);
  build_face_stencil(stale->overland.ov_stencil, large->cell_count, large->overland.rightcon,
                     large->overland.belowcon, large->overland.abovecon,
                     large->overland.ov_face_open_x, large->overland.ov_face_open_y, nullptr, 0);
  wet_cells(*stale);
  EXPECT_EQ(route(*stale, 5, 10.0), alone);
  expect_stencil_matches_tables(*stale);
}

TEST(FaceStencil, VectorAndScalarKernelsRouteTheSameWater) {
  process_state_guard guard;
  auto routed = [](bool wide) {
    auto ms = make_watershed(30, 41, ragged);
    add_dikes_and_wetlands(*ms);
    start_up(*ms);
    ms->overland.ov_stencil.wide_vectors = wide ? 1 : 0;
    wet_cells(*ms);
    return route(*ms, 20, 5.0);
  };
  const std::vector<double> scalar = routed(false);
  // Every instruction set gives the scalar kernels' bits: the same arithmetic, the same powers.
  for_every_vector_target([&](const std::string&) {
    const std::vector<double> wide = routed(true);
    ASSERT_EQ(wide.size(), scalar.size());
    for (std::size_t i = 0; i < scalar.size(); ++i)
      ASSERT_EQ(std::memcmp(&wide[i], &scalar[i], sizeof(double)), 0)
          << i << ": " << wide[i] << " against " << scalar[i];
  });
}

TEST(FaceStencil, AnyThreadCountGivesTheSameBitsOnARaggedGrid) {
  process_state_guard guard;
  // Over 2048 cells, so the cell loops run in parallel and the workers' shares cut runs.
  const int threads[] = {1, 2, 3, 8};
  std::vector<double> result[4];
  for (int t = 0; t < 4; ++t) {
    omp_set_num_threads(threads[t]);
    auto ms = make_watershed(53, 77, ragged);
    add_dikes_and_wetlands(*ms);
    start_up(*ms);
    ASSERT_GE(ms->cell_count, 2048);
    wet_cells(*ms);
    result[t] = route(*ms, 12, 10.0);
  }
  for (int t = 1; t < 4; ++t) EXPECT_EQ(result[t], result[0]) << threads[t] << " threads";
}

// One face between two cells of a row, the owner's depth and power given, run by a face kernel
// for tau seconds: the face's discharge and the failing faces it counts.
struct one_face {
  double dx = 10.0;
  std::vector<double> depth, power, retention, roughness, slope_x, slope_y, flux_x, flux_y;
  std::vector<unsigned char> faces;
  std::vector<face_run> runs{{0, 0, 0, 0}, {1, 2, 0, 0}};

  one_face(double h1, double h2, double s0) {
    const int slots = 3 + stencil_padding;
    depth = {0.0, h1, h2};
    power = {0.0, ov_flow_power(h1, 0.0), ov_flow_power(h2, 0.0)};
    for (auto* a : {&depth, &power}) a->resize(slots, 0.0);
    retention.assign(slots, 0.0);
    roughness.assign(slots, 0.05);
    slope_x.assign(slots, s0);
    slope_y.assign(slots, 0.0);
    flux_x.assign(slots, 0.0);
    flux_y.assign(slots, 0.0);
    faces.assign(slots, 0);
    faces[1] = stencil_right_open;
  }
  int cuts = 0;  // faces the cap cut across a surface difference that matters, last call
  // Returns the failing faces counted; the discharge is left in flux_x[1].
  int fails(bool wide, double tau) {
    ov_kernel_view v;
    v.cell_count = 2;
    v.dx = dx;
    v.depth = depth.data();
    v.retention = retention.data();
    v.roughness = roughness.data();
    v.slope_x = slope_x.data();
    v.slope_y = slope_y.data();
    v.plain_faces = faces.data();
    v.runs = runs.data();
    v.run_count = 1;
    v.power = power.data();
    v.flux_x = flux_x.data();
    v.flux_y = flux_y.data();
    int f[4] = {0, 0, 0, 0};
    if (wide)
      ov_plain_faces_wide(v, 1, 1, 2, tau, f, false);
    else
      ov_plain_faces_scalar(v, 1, 1, 2, tau, f);
    cuts = f[2] + f[3];
    return f[0] + f[1];
  }
};

TEST(FaceStencil, TheKernelsFailTheSameFacesRightAtTheSubStepBounds) {
  process_state_guard guard;
  // A face moving 0.06 m in tau0 seconds, and one emptying its dry owner to -0.0001 m; both
  // across surface differences (1 m and 0.3 m) whose eighth the face law's cap lets them move.
  struct bound_case {
    const char* what;
    double h1, h2, s0, bound;
  } cases[] = {{"too far", 0.05, 0.05, 0.1, 0.06}, {"overdrawn", 0.0, 0.3, 0.0, 0.0001}};
  for (const bound_case& b : cases) {
    SCOPED_TRACE(b.what);
    one_face face(b.h1, b.h2, b.s0);
    face.fails(false, 1e-6);  // a sub-step so short that the cap cannot bind
    const double q = face.flux_x[1];
    ASSERT_NE(q, 0.0);
    const double tau0 = b.bound * face.dx / std::fabs(q);
    int outcomes[2] = {0, 0};
    for (double rel :
         {-1e-9, -1e-11, -8.0, -4.0, -2.0, -1.0, 0.0, 1.0, 2.0, 4.0, 8.0, 1e-11, 1e-9}) {
      const double tau = std::fabs(rel) >= 1.0
                             ? tau0 * (1.0 + rel * std::numeric_limits<double>::epsilon())
                             : tau0 * (1.0 + rel);
      SCOPED_TRACE(rel);
      const int scalar = face.fails(false, tau);
      EXPECT_EQ(face.flux_x[1], q);
      // The test itself on the discharge the kernel gave.
      EXPECT_EQ(scalar, ov_face_fails(q, tau, face.dx, b.h1) ? 1 : 0);
      for_every_vector_target([&](const std::string&) {
        EXPECT_EQ(face.fails(true, tau), scalar);
        EXPECT_EQ(face.flux_x[1], q);
      });
      ++outcomes[scalar != 0 ? 1 : 0];
    }
    // The steps straddle the bound: some pass, some fail.
    EXPECT_GT(outcomes[0], 0);
    EXPECT_GT(outcomes[1], 0);
  }
}

// The face law in both kernels, against hand computations on one face of 10 m cells, n 0.05:
// Manning's sqrt(S) at and above the threshold slope 1e-5, S / sqrt(1e-5) below it, and the cap
// that holds a face to an eighth of the water-surface difference across it in a sub-step,
// |q| <= |t| dx^2 / (8 tau); a face the cap cut across a difference above 0.1 mm counts against
// the sub-step. The vector kernel gives the same bits and counts as the scalar one.
TEST(FaceStencil, BothKernelsRouteByTheFaceLawAndItsCap) {
  process_state_guard guard;
  const double dx = 10.0, n = 0.05;
  struct law_case {
    const char* what;
    double h1, h2, s0, tau;
    double expected;  // m2/s
    int cuts;
  } cases[] = {
      // t = 5e-5 / 10 = 5e-6: the linear part, over the owner's 1 m; the cap (1.25 x 5e-6 over
      // 10 s) is far below it, but the difference, 0.05 mm, does not matter.
      {"below the threshold, held by the cap", 1.0, 1.0 - 5e-5, 0.0, 10.0,
       0.125 * dx * dx / 10.0 * 5e-6, 0},
      // The same face over 1e-6 s: the cap is out of the way, the linear law moves it.
      {"below the threshold", 1.0, 1.0 - 5e-5, 0.0, 1e-6, 5e-6 / std::sqrt(1e-5) / n * 1.0, 0},
      // Backwards below the threshold: the neighbour is upwind, its depth drives the flow.
      {"uphill below the threshold", 0.02, 0.02 + 6e-5, 0.0, 1e-6,
       -6e-6 / std::sqrt(1e-5) / n * std::pow(0.02 + 6e-5, 5.0 / 3.0), 0},
      // Well above the threshold, a shallow sheet on a slope of 0.01: Manning's law, uncapped.
      {"Manning", 0.01, 0.01, 0.01, 5.0, std::sqrt(0.01) / n * std::pow(0.01, 5.0 / 3.0), 0},
      // 1 m deep on the same slope over 5 s: Manning would move 2 m; the cap lets 0.1 m / 8
      // cross, and the cut counts.
      {"Manning, held by the cap", 1.0, 1.0, 0.01, 5.0, 0.125 * dx * dx / 5.0 * 0.01, 1},
  };
  for (const law_case& l : cases) {
    SCOPED_TRACE(l.what);
    one_face face(l.h1, l.h2, l.s0);
    face.fails(false, l.tau);
    const double q = face.flux_x[1];
    EXPECT_NEAR(q, l.expected, 1e-12 * std::fabs(l.expected));
    EXPECT_EQ(face.cuts, l.cuts);
    for_every_vector_target([&](const std::string&) {
      face.fails(true, l.tau);
      EXPECT_EQ(face.flux_x[1], q);
      EXPECT_EQ(face.cuts, l.cuts);
    });
  }
}

}  // namespace
