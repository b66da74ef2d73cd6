// Infiltration: the single-layer Green and Ampt scheme against the analytic ponding solution,
// a soil without moisture deficit, the capped Newton solve, the redistribution scheme's guards,
// the three-layer scheme, exfiltration, the per-run Green and Ampt terms, the step's schedule
// and bookkeeping on any thread count, the rain of a step taken in the infiltration's own pass
// (against the rainfall pass, the infiltration and the routing one after the other), and the
// water contents of the transport layers.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "atmosphere/atmosphere_steps.h"
#include "atmosphere/rainfall.h"
#include "framework/core/error_state.h"
#include "framework/core/lane_math.h"
#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "overland/overland_steps.h"
#include "subsurface/green_ampt_wide.h"
#include "subsurface/infiltration.h"
#include "subsurface/subsurface_steps.h"
#include "support/test_support.h"
#include "support/vector_target_loop.h"

using torva_test::process_state_guard;
using torva_test::stdout_capture;

namespace {

bool bits_equal(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

namespace {

template <class T>
std::span<T> all(raw_array1d<T>& a) {
  return {a.data(), a.element_count()};
}

template <class T>
void fill(raw_array1d<T>& a, int n, T value) {
  a.reset();
  ASSERT_TRUE(a.allocate(n));
  for (int i = 1; i <= n; ++i) a[i] = value;
}

// The silt loam of the ponding case, in metres and seconds.
constexpr double silt_ks = 0.65 / 360000.0;  // 0.65 cm/h
constexpr double silt_hc = 0.167;            // 16.7 cm
constexpr double silt_porosity = 0.486;
constexpr double silt_theta_i = 0.1458;
constexpr double rain_rate = 0.05 / 3600.0;  // 50 mm/h

// Cumulative infiltration (m) of the analytic Green and Ampt solution at time t (s) under a
// steady rain: all rain enters until ponding at Fp = G / (i/K - 1); after it F solves
// F - G ln(1 + F/G) = K (t - tp) + Fp - G ln(1 + Fp/G), found here by bisection.
double analytic_depth(double t, double G, double K, double i) {
  const double Fp = G / (i / K - 1.0);
  const double tp = Fp / i;
  if (t <= tp) return i * t;
  const double rhs = K * (t - tp) + Fp - G * std::log(1.0 + Fp / G);
  double lo = Fp;
  double hi = Fp + i * (t - tp);
  for (int k = 0; k < 200; ++k) {
    const double mid = 0.5 * (lo + hi);
    if (mid - G * std::log(1.0 + mid / G) < rhs)
      lo = mid;
    else
      hi = mid;
  }
  return 0.5 * (lo + hi);
}

// The depth Fn > F solving G ln((G + Fn)/(G + F)) + K dt = Fn - F, by bisection.
double implicit_root(double G, double K, double dt, double F) {
  double lo = F;
  double hi = F + K * dt + 10.0 * (G + F + K * dt);
  for (int k = 0; k < 300; ++k) {
    const double mid = 0.5 * (lo + hi);
    if (G * std::log((G + mid) / (G + F)) + K * dt - mid + F > 0.0)
      lo = mid;
    else
      hi = mid;
  }
  return 0.5 * (lo + hi);
}

// One cell of silt loam under the rain for an hour at step dt: returns F after the hour and
// the first time (s) at which water stood on the surface, with the depth infiltrated by then.
struct ponding_run {
  double F_hour = 0.0;
  double ponding_time = -1.0;
  double ponding_depth = 0.0;
};

ponding_run run_silt_loam(double dt) {
  const double G = (silt_porosity - silt_theta_i) * silt_hc;
  std::vector<double> ks = {0.0, silt_ks}, g = {0.0, G}, ov = {0.0, 0.0}, F = {0.0, 0.0},
                      rate = {0.0, 0.0};
  green_ampt_views v;
  v.cell_count = 1;
  v.dt = dt;
  v.ks = ks;
  v.G = g;
  v.ov_depth = ov;
  v.inf_depth_cum = F;
  v.inf_rate = rate;
  ponding_run out;
  const int steps = static_cast<int>(std::lround(3600.0 / dt));
  for (int s = 1; s <= steps; ++s) {
    const double before = F[1];
    ov[1] += rain_rate * dt;
    green_ampt_cells(v);
    if (out.ponding_time < 0.0 && ov[1] > 1e-12) {
      out.ponding_time = (s - 1) * dt;
      out.ponding_depth = before;
    }
  }
  out.F_hour = F[1];
  return out;
}

TEST(GreenAmpt, SiltLoamFollowsTheAnalyticPondingSolution) {
  const double G = (silt_porosity - silt_theta_i) * silt_hc;
  EXPECT_NEAR(G * 100.0, 5.681, 0.001);
  const double exact = analytic_depth(3600.0, G, silt_ks, rain_rate);
  EXPECT_NEAR(exact * 100.0, 3.02, 0.01);  // cm
  for (double dt : {5.0, 10.0, 60.0}) {
    SCOPED_TRACE(dt);
    const ponding_run r = run_silt_loam(dt);
    const double error = (r.F_hour - exact) / exact;
    printf("Green-Ampt silt loam, step %4.0f s: F(1 h) = %.5f cm, exact %.5f cm, error %+.3f %%\n",
           dt, r.F_hour * 100.0, exact * 100.0, error * 100.0);
    // Ponding after 0.849 cm at 0.170 h, to within a step.
    EXPECT_NEAR(r.ponding_depth * 100.0, 0.849, rain_rate * dt * 100.0 + 1e-3);
    EXPECT_NEAR(r.ponding_time / 3600.0, 0.170, dt / 3600.0 + 1e-3);
    if (dt <= 10.0) {
      EXPECT_LT(std::fabs(error), 0.01);
    }
  }
}

TEST(GreenAmpt, SoilWithoutDeficitInfiltratesAtItsConductivity) {
  // Porosity equal to the initial content: G = 0, log(0) would make 0 x log(0) no number.
  raw_array1d<double> phi, theta, hc, G;
  fill(phi, 2, 0.4);
  fill(theta, 2, 0.4);
  theta[2] = 0.45;  // wetter than saturated
  fill(hc, 2, 0.1);
  fill(G, 2, -1.0);
  green_ampt_build_g(2, all(phi), all(theta), all(hc), all(G));
  EXPECT_EQ(G[1], 0.0);
  EXPECT_EQ(G[2], 0.0);
  std::vector<double> ks = {0.0, 1e-6, 1e-6}, ov = {0.0, 0.01, 0.01}, F = {0.0, 0.0, 0.02},
                      rate = {0.0, 0.0, 0.0};
  green_ampt_views v;
  v.cell_count = 2;
  v.dt = 10.0;
  v.ks = ks;
  v.G = std::span<const double>(G.data(), G.element_count());
  v.ov_depth = ov;
  v.inf_depth_cum = F;
  v.inf_rate = rate;
  green_ampt_cells(v);
  for (int c = 1; c <= 2; ++c) {
    EXPECT_DOUBLE_EQ(rate[c], 1e-6 * 360000.0) << c;
    EXPECT_DOUBLE_EQ(ov[c], 0.01 - 1e-5) << c;
  }
  EXPECT_DOUBLE_EQ(F[1], 1e-5);
  EXPECT_DOUBLE_EQ(F[2], 0.02 + 1e-5);
}

TEST(GreenAmpt, ImplicitSolveEndsOnEveryInput) {
  struct solve_case {
    double G, K, dt, F, guess, tol;
  };
  const solve_case cases[] = {
      {0.05, 1e-6, 10.0, 0.0, 0.001, 1e-6},      // ordinary
      {1e-300, 1e-3, 3600.0, 0.0, 0.001, 1e-6},  // almost no deficit
      {1e6, 1e-9, 1.0, 0.0, 1e3, 1e-6},          // a guess far past the root
      {0.05, 1e-6, 10.0, 0.01, 0.011, 0.0},      // a tolerance no iteration meets
      {5.0, 10.0, 1e5, 1e-12, 1e-9, 1e-12},      // a huge step
  };
  for (const solve_case& c : cases) {
    SCOPED_TRACE(c.G);
    const double Fn = green_ampt_implicit_depth(c.G, c.K, c.dt, c.F, c.guess, c.tol);
    ASSERT_TRUE(std::isfinite(Fn));
    EXPECT_GT(Fn, c.F);
    const double r = c.G * std::log((c.G + Fn) / (c.G + c.F)) + c.K * c.dt - Fn + c.F;
    EXPECT_LE(std::fabs(r), std::max(1e-9 * (Fn + c.K * c.dt), c.tol));
  }
}

// The Newton iteration of the implicit solve taken literally: from the guess, at least one
// step, then steps until the residual is within the tolerance, the residual evaluated at every
// iterate.
double literal_newton(double G, double K, double dt, double F, double guess, double tol) {
  // The residual as the solve takes it: ln((G + x) / (G + F)) as ln(1 + u) of the growth u.
  const auto residual = [&](double x) {
    return G * lane_log1p((x - F) / (G + F)) + K * dt - x + F;
  };
  double x = guess;
  double r = residual(x);
  for (int it = 0; it < 1000; ++it) {
    if (it > 0 && std::fabs(r) <= tol) break;
    x -= r / (G / (G + x) - 1.0);
    r = residual(x);
  }
  return x;
}

struct newton_case {
  double G, K, dt, F, step, tol;
};

// Soils, depths and steps where Newton ends after one to several steps.
const newton_case newton_cases[] = {
    {0.002, 0.1 / 360000.0, 1.0, 0.0, 0.001, 1e-6},   // wet soil, first step
    {0.002, 0.1 / 360000.0, 1.0, 4e-4, 0.001, 1e-6},  // wet soil, later
    {0.002, 0.1 / 360000.0, 1.0, 2e-3, 0.001, 1e-6},
    {0.0568, 0.65 / 360000.0, 10.0, 0.0, 0.001, 1e-6},  // silt loam
    {0.0568, 0.65 / 360000.0, 10.0, 0.02, 0.001, 1e-6},
    {0.0568, 0.65 / 360000.0, 60.0, 0.3, 0.001, 1e-6},
    {0.3, 3e-5, 600.0, 1e-3, 0.001, 1e-6},          // sand, a long step
    {5.0, 1e-4, 3600.0, 0.5, 0.1, 1e-4},            // centimetres and hours
    {1e-5, 1e-6, 1.0, 1.0, 0.001, 1e-6},            // almost no deficit under a deep front
    {0.05, 1e-6, 10.0, 0.01, 0.011 - 0.01, 1e-12},  // a tight tolerance
};

TEST(GreenAmpt, ImplicitSolveReturnsTheIterateOfTheLiteralNewton) {
  // The solve ends early when the residual of the last iterate is surely within the tolerance;
  // it must still return the very iterate the literal iteration stops at.
  for (const newton_case& c : newton_cases) {
    SCOPED_TRACE(testing::Message() << "G " << c.G << " F " << c.F << " dt " << c.dt);
    const double expected = literal_newton(c.G, c.K, c.dt, c.F, c.F + c.step, c.tol);
    EXPECT_EQ(green_ampt_implicit_depth(c.G, c.K, c.dt, c.F, c.F + c.step, c.tol), expected);
  }
}

TEST(GreenAmpt, WideSolveMatchesTheScalarSolveOnEveryLane) {
  // A group of cells: the table's cases and their variations on the plain path, and lanes the
  // scalar solve takes (no deficit, no conductivity, a negative depth); lanes not asked for
  // are left as they were.
  constexpr int n = green_ampt_group_cells;
  std::vector<double> G(n), K(n), F(n), depth(n, -7.0);
  const double dt = 10.0;
  unsigned lanes = 0;
  for (int l = 0; l < n; ++l) {
    const newton_case& c = newton_cases[l % std::size(newton_cases)];
    G[l] = c.G * (1.0 + 0.01 * l);
    K[l] = c.K;
    F[l] = c.F;
    if (l % 5 != 4) lanes |= 1u << l;
  }
  G[1] = 0.0;
  K[2] = 0.0;
  F[3] = -1e-4;
  // Every instruction set gives the scalar solve's bits.
  for_every_vector_target([&](const std::string&) {
    std::fill(depth.begin(), depth.end(), -7.0);
    green_ampt_depths_wide(G.data(), K.data(), F.data(), dt, lanes, 0.001, 1e-6, depth.data());
    for (int l = 0; l < n; ++l) {
      SCOPED_TRACE(l);
      if (!(lanes >> l & 1u)) {
        EXPECT_EQ(depth[l], -7.0);
        continue;
      }
      const double scalar = green_ampt_implicit_depth(G[l], K[l], dt, F[l], F[l] + 0.001, 1e-6);
      EXPECT_TRUE(bits_equal(depth[l], scalar)) << depth[l] << " against " << scalar;
    }
  });
}

TEST(GreenAmpt, WideSolveFollowsTheNewtonIteratesFromFarAndNearTheRoot) {
  // Deficits from 1e-5 m to 1 m and depths from 0 to 0.5 m: the first step's relative growth
  // u = (x - F) / (G + F) runs from 100 down to 1e-3 and the later ones below it. A last set
  // starts u 0.02 below and above each sixteenth from 0 to 1.
  constexpr int n = green_ampt_group_cells;
  const double steps[] = {1.0, 60.0, 900.0};
  for (double dt : steps) {
    for (int f = 0; f < 5; ++f) {
      SCOPED_TRACE(testing::Message() << "dt " << dt << " set " << f);
      std::vector<double> G(n), K(n), F(n), depth(n, 0.0);
      for (int l = 0; l < n; ++l) {
        G[l] = 1e-5 * std::pow(1e5, l / (n - 1.0));
        K[l] = (0.05 + 0.1 * (l % 5)) / 360000.0;
        F[l] = f == 0 || f == 4 ? 0.0 : 0.5 * std::pow(1e-3, f / 3.0) * (1.0 + 0.03 * l);
        if (f == 4) {
          const double u = (l / 2) / 16.0 + (l % 2 == 0 ? (l == 0 ? 0.005 : -0.02) : 0.02);
          G[l] = 0.001 / u;
        }
      }
      for_every_vector_target([&](const std::string&) {
        green_ampt_depths_wide(G.data(), K.data(), F.data(), dt, 0xFFFFFFFFu, 0.001, 1e-6,
                               depth.data());
        for (int l = 0; l < n; ++l) {
          // The literal Newton iteration in extended precision: the iterates the double solves
          // approach. Where G is large the slope x / (G + x) is small and divides the residual's
          // rounding; a solve taking the logarithm of the rounded quotient (G + x) / (G + F)
          // lies up to about 1e-10 off, the solves taking ln(1 + u) of u itself a thousand
          // times closer.
          const long double g = G[l], f0 = F[l], supply = static_cast<long double>(K[l]) * dt;
          const auto residual = [&](long double x) {
            return g * std::log((g + x) / (g + f0)) + supply - x + f0;
          };
          long double x = f0 + 0.001L;
          long double r = residual(x);
          for (int it = 0; it < 50 && !(it > 0 && std::fabs(r) <= 1e-6L); ++it) {
            x -= r / (g / (g + x) - 1.0L);
            r = residual(x);
          }
          const double exact = static_cast<double>(x);
          const double scalar = green_ampt_implicit_depth(G[l], K[l], dt, F[l], F[l] + 0.001, 1e-6);
          EXPECT_NEAR(depth[l], exact, 1e-12 * exact) << "G " << G[l];
          EXPECT_NEAR(scalar, exact, 1e-9 * exact) << "G " << G[l];
          EXPECT_TRUE(bits_equal(depth[l], scalar)) << depth[l] << " against " << scalar;
          EXPECT_GT(depth[l], F[l]) << "G " << G[l];
        }
      });
    }
  }
}

TEST(GreenAmpt, BooksTheStepInTheSamePassAsTheSeparateBooking) {
  // Several booking blocks and a short last one; increments left unbooked from before the step
  // in some cells (prev below cum), Sacramento and long-term totals kept. Booking within the
  // solve's pass books what booking after it books, bit for bit, on any thread count.
  const int n = 3 * infiltration_sum_block_cells + 77;
  const double area = 100.0;
  struct field {
    std::vector<double> ks, g, ov, F, rate, prev, total, sac, longterm;
    double volume = 0.0;
  };
  auto start = [&] {
    field f;
    f.ks.assign(n + 1, 0.0);
    f.g.assign(n + 1, 0.0);
    f.ov.assign(n + 1, 0.0);
    f.F.assign(n + 1, 0.0);
    f.rate.assign(n + 1, 0.0);
    f.prev.assign(n + 1, 0.0);
    f.total.assign(n + 1, 0.0);
    f.sac.assign(n + 1, 0.0);
    f.longterm.assign(n + 1, 0.0);
    for (int c = 1; c <= n; ++c) {
      f.ks[c] = (0.1 + 0.02 * (c % 13)) / 360000.0;
      f.g[c] = 0.002 + 0.003 * (c % 29);
      f.ov[c] = c % 9 == 0 ? 0.0 : 0.004;  // every ninth cell dry
      f.F[c] = 1e-4 * (c % 17);
      f.prev[c] = f.F[c] - (c % 3 == 0 ? 2e-5 : 0.0);
      f.total[c] = 0.01;
      f.sac[c] = 0.02;
      f.longterm[c] = 0.03;
    }
    return f;
  };
  auto views = [&](field& f) {
    green_ampt_views v;
    v.cell_count = n;
    v.dt = 30.0;
    v.ks = f.ks;
    v.G = f.g;
    v.ov_depth = f.ov;
    v.inf_depth_cum = f.F;
    v.inf_rate = f.rate;
    return v;
  };
  auto fused = [&](int threads) {
    field f = start();
    green_ampt_views v = views(f);
    v.inf_depth_prev = f.prev;
    v.inf_depth_total = f.total;
    v.sac_inf_depth = f.sac;
    v.inf_depth_longterm = f.longterm;
    v.cell_area = area;
    omp_set_num_threads(threads);
    f.volume = green_ampt_cells(v);
    return f;
  };
  const field before = start();
  field separate = start();
  EXPECT_EQ(green_ampt_cells(views(separate)), 0.0);
  for (int first = 1; first <= n; first += infiltration_sum_block_cells)
    separate.volume +=
        book_infiltration_block(separate.F.data(), separate.prev.data(), separate.total.data(),
                                separate.sac.data(), separate.longterm.data(), area, first,
                                std::min(n, first + infiltration_sum_block_cells - 1));
  const field one = fused(1);
  const field four = fused(4);
  omp_set_num_threads(1);
  for (const field* f : {&one, &four}) {
    EXPECT_EQ(f->F, separate.F);
    EXPECT_EQ(f->prev, separate.prev);
    EXPECT_EQ(f->total, separate.total);
    EXPECT_EQ(f->sac, separate.sac);
    EXPECT_EQ(f->longterm, separate.longterm);
    EXPECT_EQ(f->volume, separate.volume);
  }
  // What was booked: each cell's increment since its last booking, once into every total.
  double increments = 0.0;
  for (int c = 1; c <= n; ++c) {
    const double d = one.F[c] - before.prev[c];
    increments += d;
    EXPECT_EQ(one.prev[c], one.F[c]) << c;
    EXPECT_NEAR(one.total[c], 0.01 + d, 1e-15) << c;
    EXPECT_NEAR(one.sac[c], 0.02 + d, 1e-15) << c;
    EXPECT_NEAR(one.longterm[c], 0.03 + d, 1e-15) << c;
    if (c % 9 == 0) {
      EXPECT_NEAR(d, 2e-5, 1e-15) << c;  // dry: only the increment left from before
    }
  }
  EXPECT_GT(increments, 0.0);
  EXPECT_NEAR(one.volume, increments * area, 1e-12 * increments * area);
}

TEST(GreenAmpt, CellHoldingAtMostItsConductivityStepGivesAllOfIt) {
  // Cells whose depth lies at, just below and just above K dt (times their infiltrating
  // fraction), with and without a deficit, of no conductivity and of no fraction: every cell
  // ends as the literal step gives it, the Newton solve from F + 1 mm and then the rate
  // K (G / Fn + 1), capped at what the surface holds. A cell at or below K dt takes all its
  // depth whatever its solve gives, so the scalar path matches the literal step bit for bit
  // and the vector path on those cells too (its solves agree with the scalar ones to
  // round-off elsewhere).
  const double dt = 30.0;
  struct cell {
    double K, G, F, fraction, depth;
  };
  std::vector<cell> cells;
  for (double K : {0.0, 1e-7, 2.7e-6, 4e-5})
    for (double G : {0.0, 0.002, 0.3})
      for (double F : {0.0, 1e-3, 0.2})
        for (double fraction : {1.0, 0.5, 0.0}) {
          const double bound = K * fraction * dt;
          for (double depth : {bound, std::nextafter(bound, 0.0), std::nextafter(bound, 1.0),
                               0.5 * bound, 1.5 * bound + 1e-9})
            if (depth >= 1e-16) cells.push_back({K, G, F, fraction, depth});
        }
  const int n = static_cast<int>(cells.size());
  for (int reduced : {0, 1})
    for (int wide : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "reduced " << reduced << " wide " << wide);
      std::vector<double> ks(n + 1), G(n + 1), F(n + 1), fraction(n + 1, 1.0), depth(n + 1),
          rate(n + 1, -1.0);
      for (int c = 1; c <= n; ++c) {
        const cell& x = cells[c - 1];
        ks[c] = x.K;
        G[c] = x.G;
        F[c] = x.F;
        if (reduced) fraction[c] = x.fraction;
        depth[c] = x.depth;
      }
      const std::vector<double> F0 = F, depth0 = depth;
      green_ampt_views v;
      v.cell_count = n;
      v.dt = dt;
      v.ks = ks;
      v.G = G;
      v.area_reduction = reduced;
      v.area_reduction_cell = fraction;
      v.ov_depth = depth;
      v.inf_depth_cum = F;
      v.inf_rate = rate;
      v.wide_vectors = wide;
      green_ampt_cells(v);
      int all_given = 0;
      for (int c = 1; c <= n; ++c) {
        SCOPED_TRACE(c);
        const double K = ks[c], h = depth0[c], Fs = F0[c];
        const double Fn = green_ampt_implicit_depth(G[c], K, dt, Fs, Fs + 0.001, 1e-6);
        double f = Fn > 1e-16 ? K * (G[c] / Fn + 1.0) : K;
        if (reduced) f *= fraction[c];
        double left = 0.0;
        if (f * dt >= h)
          f = h / dt;
        else
          left = h - f * dt;
        const bool at_most = h <= (reduced ? K * fraction[c] : K) * dt;
        if (at_most) {
          ++all_given;
          EXPECT_EQ(left, 0.0);
        }
        if (!wide || at_most) {
          EXPECT_EQ(depth[c], left);
          EXPECT_EQ(F[c], Fs + f * dt);
          EXPECT_EQ(rate[c], f * 360000.0);
        } else {
          EXPECT_NEAR(depth[c], left, 1e-12 * (h + f * dt));
          EXPECT_NEAR(F[c], Fs + f * dt, 1e-12 * (Fs + f * dt));
          EXPECT_NEAR(rate[c], f * 360000.0, 1e-10 * f * 360000.0);
        }
      }
      EXPECT_GT(all_given, 20);
    }
}

TEST(GreenAmpt, CellsAgreeOnEveryPathAndThreadCount) {
  // A field of ponded, dry, lake, reduced-area cells and cells whose water table stands at the
  // ground, of varied soils, run for some steps: the vector solves agree with the scalar ones to
  // round-off, and each path gives the same bits on any number of threads.
  const int n = 3 * parallel_min_cells + 13;
  struct field {
    std::vector<double> ks, g, ov, F, rate, area;
    std::vector<int> lake, exfil;
  };
  auto run = [&](int wide, int threads) {
    field f;
    f.ks.assign(n + 1, 0.0);
    f.g.assign(n + 1, 0.0);
    f.ov.assign(n + 1, 0.0);
    f.F.assign(n + 1, 0.0);
    f.rate.assign(n + 1, -1.0);
    f.area.assign(n + 1, 1.0);
    f.lake.assign(n + 1, 0);
    f.exfil.assign(n + 1, 0);
    for (int c = 1; c <= n; ++c) {
      f.ks[c] = (0.1 + 0.01 * (c % 37)) / 360000.0;
      f.g[c] = c % 97 == 0 ? 0.0 : 0.002 + 0.001 * (c % 53);
      f.F[c] = 1e-4 * (c % 11);
      f.area[c] = c % 7 == 0 ? 0.5 : 1.0;
      f.lake[c] = c % 101 == 0 ? 1 : 0;
      f.exfil[c] = c % 89 == 0 ? 1 : 0;
    }
    green_ampt_views v;
    v.cell_count = n;
    v.dt = 5.0;
    v.ks = f.ks;
    v.G = f.g;
    v.lake_flag = 1;
    v.lake_cells = f.lake;
    v.exfil_cells = f.exfil;
    v.area_reduction = 1;
    v.area_reduction_cell = f.area;
    v.ov_depth = f.ov;
    v.inf_depth_cum = f.F;
    v.inf_rate = f.rate;
    v.wide_vectors = wide;
    omp_set_num_threads(threads);
    for (int s = 0; s < 30; ++s) {
      for (int c = 1; c <= n; ++c)
        if (c % 13 != 0) f.ov[c] += 0.05 / 3600.0 * 5.0;  // every 13th cell stays dry
      green_ampt_cells(v);
    }
    return f;
  };
  const field scalar1 = run(0, 1);
  const field scalar4 = run(0, 4);
  const field wide1 = run(1, 1);
  const field wide4 = run(1, 4);
  omp_set_num_threads(1);
  EXPECT_EQ(scalar1.F, scalar4.F);
  EXPECT_EQ(scalar1.ov, scalar4.ov);
  EXPECT_EQ(wide1.F, wide4.F);
  EXPECT_EQ(wide1.ov, wide4.ov);
  EXPECT_EQ(wide1.rate, wide4.rate);
  for (int c = 1; c <= n; ++c) {
    SCOPED_TRACE(c);
    EXPECT_NEAR(wide1.F[c], scalar1.F[c], 1e-12 * scalar1.F[c]);
    EXPECT_NEAR(wide1.ov[c], scalar1.ov[c], 1e-12 * scalar1.F[c]);
    EXPECT_NEAR(wide1.rate[c], scalar1.rate[c], 1e-10 * std::fabs(scalar1.rate[c]));
    if (c % 101 == 0) {
      EXPECT_EQ(wide1.rate[c], -1.0);  // a lake cell is left alone
    } else if (c % 89 == 0) {
      // The table at the ground: the soil takes nothing, the surface keeps the rain of the steps.
      for (const field* f : {&scalar1, &wide1}) {
        EXPECT_EQ(f->rate[c], -1.0);
        EXPECT_EQ(f->F[c], 1e-4 * (c % 11));
        EXPECT_NEAR(f->ov[c], c % 13 == 0 ? 0.0 : 30 * 0.05 / 3600.0 * 5.0, 1e-15);
      }
    } else if (c % 13 == 0) {
      EXPECT_EQ(wide1.rate[c], 0.0);  // dry
      EXPECT_EQ(wide1.F[c], 1e-4 * (c % 11));
    } else {
      EXPECT_GT(wide1.F[c], 1e-4 * (c % 11));
    }
  }
}

// The cells of two arrays hold the same bits (cells whose values are both no number count as the
// same); the first cell that differs is named.
::testing::AssertionResult same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes differ";
  for (std::size_t c = 0; c < a.size(); ++c) {
    if (std::isnan(a[c]) && std::isnan(b[c])) continue;
    if (std::memcmp(&a[c], &b[c], sizeof(double)) != 0)
      return ::testing::AssertionFailure() << "cell " << c << ": " << a[c] << " vs " << b[c];
  }
  return ::testing::AssertionSuccess();
}

// The step's rain taken cell by cell in the infiltration's pass gives what the rainfall step's
// own pass followed by the infiltration gives: every array, the infiltrated, rain volume and
// intensity sum bit for bit, the first cell whose depth the rain made no number, and the depth
// flags of what the pass leaves. Grids of one cell, a partial group, and one or many booking
// blocks with a partial last group; the rain's step half the infiltration's; three steps each.
void rain_in_the_pass_matches_the_separate_passes() {
  enum pattern { mixed, all_taken, last_cell_wet, not_a_number, table_at_ground };
  const double nan = std::nan("");
  struct field {
    std::vector<double> ks, g, ov, F, rate, prev, total, sac, longterm, area, p, change;
    std::vector<int> exfil;  // 1 where the water table stands at the ground
  };
  // The state before the first step: dry, tiny, shallow and ponded cells of varied soils. With
  // the table at the ground in every ninth cell, the cells start dry and the rain of the steps
  // is all taken but on those cells: only they hold water after the pass.
  auto start = [nan](int n, pattern kind) {
    field f;
    for (std::vector<double>* a : {&f.ks, &f.g, &f.ov, &f.F, &f.rate, &f.prev, &f.total, &f.sac,
                                   &f.longterm, &f.area, &f.p, &f.change})
      a->assign(n + 1, 0.0);
    f.exfil.assign(n + 1, 0);
    for (int c = 1; c <= n; ++c) {
      if (kind == table_at_ground && c % 9 == 0) f.exfil[c] = 1;
      f.ks[c] = (0.1 + 0.05 * (c % 37)) / 360000.0;  // 1 mm/h and more
      f.g[c] = c % 97 == 0 ? 0.0 : 0.002 + 0.001 * (c % 53);
      f.F[c] = 1e-4 * (c % 11);
      f.prev[c] = f.F[c] - (c % 3 == 0 ? 2e-5 : 0.0);
      f.rate[c] = -1.0;
      f.total[c] = 0.01;
      f.sac[c] = 0.02;
      f.longterm[c] = 0.03;
      f.area[c] = c % 5 == 0 ? 0.4 : 1.0;
      f.change[c] = 7.0;
      const double depths[7] = {0.0, 5e-17, 0.02, 1e-6, 0.0, 0.3, 0.0};
      if (kind == mixed || kind == not_a_number) f.ov[c] = depths[c % 7];
    }
    if (kind == last_cell_wet) f.ov[n] = 0.05;
    if (kind == not_a_number) f.ov[n] = nan;
    return f;
  };
  // The intensities of step `step` (mm/h).
  auto rain = [&](field& f, int n, pattern kind, int step) {
    std::mt19937 random(11 + step);
    std::uniform_real_distribution<double> any(0.0, 60.0);
    const double scale[3] = {1.0, 0.3, 2.0};
    for (int c = 1; c <= n; ++c) {
      double p = any(random);
      if (c % 11 == 0) p = 0.0;
      if (c % 11 == 1) p = 1e-12;  // a depth far below 1e-16 m
      if (c % 11 == 2) p = 250.0;
      f.p[c] = p * scale[step];
      // Below every conductivity: all of it infiltrates.
      if (kind == all_taken || kind == table_at_ground) f.p[c] = 0.5;
      if (kind == last_cell_wet) f.p[c] = c == n ? 100.0 : 0.0;
    }
    if (kind == not_a_number) f.p[(2 * n) / 3 + 1] = nan;
  };
  constexpr double rain_dt = 30.0;
  constexpr double dx = 30.0;
  auto views = [&](field& f, int n, int reduced) {
    green_ampt_views v;
    v.cell_count = n;
    v.dt = 60.0;
    v.ks = f.ks;
    v.G = f.g;
    v.area_reduction = reduced;
    v.area_reduction_cell = f.area;
    v.ov_depth = f.ov;
    v.inf_depth_cum = f.F;
    v.inf_rate = f.rate;
    v.exfil_cells = f.exfil;
    v.inf_depth_prev = f.prev;
    v.inf_depth_total = f.total;
    v.sac_inf_depth = f.sac;
    v.inf_depth_longterm = f.longterm;
    v.cell_area = dx * dx;
    return v;
  };
  // What one step gathered, by either path.
  struct step_sums {
    double volume, rain_volume, rate_sum;
    int rain_nan_cell, any_depth, nan_cell;
  };
  auto separate = [&](int n, pattern kind, int reduced, std::vector<step_sums>& sums) {
    field f = start(n, kind);
    for (int step = 0; step < 3; ++step) {
      rain(f, n, kind, step);
      rain_cells_views r;
      r.cell_count = n;
      r.dt = rain_dt;
      r.dx = dx;
      r.intensity = f.p;
      r.depth = f.ov;
      r.depth_change = f.change;
      const rain_cells_result fallen = rain_onto_cells(r);
      const double volume = green_ampt_cells(views(f, n, reduced));
      step_sums s{volume, fallen.volume, fallen.rate_sum, fallen.nan_cell, 0, 0};
      for (int c = 1; c <= n; ++c) {
        if (f.ov[c] > 1e-16) s.any_depth = 1;
        if (std::isnan(f.ov[c]) && s.nan_cell == 0) s.nan_cell = c;
      }
      sums.push_back(s);
    }
    return f;
  };
  auto in_one_pass = [&](int n, pattern kind, int reduced, int threads,
                         std::vector<step_sums>& sums) {
    field f = start(n, kind);
    omp_set_num_threads(threads);
    for (int step = 0; step < 3; ++step) {
      rain(f, n, kind, step);
      green_ampt_views v = views(f, n, reduced);
      v.rain_intensity = f.p;
      v.rain_dt = rain_dt;
      const green_ampt_pass_result r = green_ampt_pass(v);
      EXPECT_TRUE(r.rain_taken);
      sums.push_back(
          {r.volume, r.rain_volume, r.rain_rate_sum, r.rain_nan_cell, r.any_depth, r.nan_cell});
    }
    omp_set_num_threads(1);
    return f;
  };
  for (int n : {1, 13, 1500, 5000, 20000})
    for (pattern kind : {mixed, all_taken, last_cell_wet, not_a_number, table_at_ground})
      for (int reduced : {0, 1}) {
        std::vector<step_sums> expected;
        const field reference = separate(n, kind, reduced, expected);
        // The cases show what they are meant to show.
        if (kind == all_taken) {
          EXPECT_EQ(expected[0].any_depth, 0);
        } else if (kind == last_cell_wet) {
          EXPECT_EQ(expected[2].any_depth, 1);
        } else if (kind == not_a_number) {
          EXPECT_NE(expected[0].rain_nan_cell, 0);
        } else if (kind == table_at_ground && n >= 9) {
          // A cell at the ground keeps all the rain of the steps and takes none of it.
          EXPECT_EQ(reference.F[9], 1e-4 * (9 % 11));
          EXPECT_NEAR(reference.ov[9], 3 * 0.5 / 3.6e6 * rain_dt, 1e-15);
          EXPECT_EQ(reference.rate[9], -1.0);
          EXPECT_EQ(expected[0].any_depth, 1);
        }
        for (int threads : {1, 4}) {
          SCOPED_TRACE(::testing::Message() << n << " cells, pattern " << kind << ", reduction "
                                            << reduced << ", " << threads << " threads");
          std::vector<step_sums> got;
          const field f = in_one_pass(n, kind, reduced, threads, got);
          EXPECT_TRUE(same_bits(f.ov, reference.ov));
          EXPECT_TRUE(same_bits(f.F, reference.F));
          EXPECT_TRUE(same_bits(f.rate, reference.rate));
          EXPECT_TRUE(same_bits(f.prev, reference.prev));
          EXPECT_TRUE(same_bits(f.total, reference.total));
          EXPECT_TRUE(same_bits(f.sac, reference.sac));
          EXPECT_TRUE(same_bits(f.longterm, reference.longterm));
          ASSERT_EQ(got.size(), expected.size());
          for (std::size_t s = 0; s < got.size(); ++s) {
            SCOPED_TRACE(::testing::Message() << "step " << s);
            if (kind == not_a_number) {
              // The rain's sums are no number on both paths; the cells are named below.
              EXPECT_TRUE(std::isnan(got[s].rain_volume));
              EXPECT_TRUE(std::isnan(got[s].rate_sum));
              EXPECT_TRUE(same_bits({got[s].volume}, {expected[s].volume}));
            } else {
              EXPECT_TRUE(
                  same_bits({got[s].volume, got[s].rain_volume, got[s].rate_sum},
                            {expected[s].volume, expected[s].rain_volume, expected[s].rate_sum}));
            }
            EXPECT_EQ(got[s].rain_nan_cell, expected[s].rain_nan_cell);
            EXPECT_EQ(got[s].any_depth, expected[s].any_depth);
            EXPECT_EQ(got[s].nan_cell, expected[s].nan_cell);
          }
        }
      }
}

TEST(GreenAmpt, RainTakenInThePassMatchesTheRainfallPassThenInfiltration) {
  // On every instruction set the processor runs.
  for_every_vector_target(
      [](const std::string&) { rain_in_the_pass_matches_the_separate_passes(); });
}

// Where the pass cannot take the rain, with channel lakes or without wide vectors, it says so
// and leaves every array as it was.
TEST(GreenAmpt, PassThatCannotTakeTheRainTouchesNothing) {
  const int n = 1500;
  std::vector<double> ks(n + 1, 1e-6), g(n + 1, 0.01), ov(n + 1, 0.01), F(n + 1, 0.001),
      rate(n + 1, -1.0), prev(n + 1, 0.0), total(n + 1, 0.0), p(n + 1, 20.0);
  std::vector<int> lake(n + 1, 0);
  for (int c = 1; c <= n; c += 50) lake[c] = 1;
  const std::vector<double> ov0 = ov, F0 = F, rate0 = rate, prev0 = prev, total0 = total;
  for (int with_lakes : {0, 1}) {
    green_ampt_views v;
    v.cell_count = n;
    v.dt = 60.0;
    v.ks = ks;
    v.G = g;
    v.ov_depth = ov;
    v.inf_depth_cum = F;
    v.inf_rate = rate;
    v.inf_depth_prev = prev;
    v.inf_depth_total = total;
    v.cell_area = 900.0;
    v.rain_intensity = p;
    v.rain_dt = 60.0;
    v.lake_flag = with_lakes;
    v.lake_cells = lake;
    v.wide_vectors = with_lakes ? 1 : 0;
    const green_ampt_pass_result r = green_ampt_pass(v);
    SCOPED_TRACE(with_lakes ? "channel lakes" : "no wide vectors");
    EXPECT_FALSE(r.rain_taken);
    EXPECT_EQ(r.volume, 0.0);
    EXPECT_EQ(r.rain_volume, 0.0);
    EXPECT_EQ(r.rain_rate_sum, 0.0);
    EXPECT_EQ(ov, ov0);
    EXPECT_EQ(F, F0);
    EXPECT_EQ(rate, rate0);
    EXPECT_EQ(prev, prev0);
    EXPECT_EQ(total, total0);
  }
}

// --- Redistribution ----------------------------------------------------------------------------

struct redist_cell {
  std::vector<double> ks, hc, phi, lambda, thr, thi, ov, F, rate, tf, Ff, surf;
  std::vector<int> exfil, pond, itn, iless, state;
  explicit redist_cell(double theta_i, double front_depth, double depth)
      : ks{0, 1e-6},
        hc{0, 0.1},
        phi{0, 0.45},
        lambda{0, 0.3},
        thr{0, 0.05},
        thi{0, theta_i},
        ov{0, depth},
        F{0, front_depth},
        rate{0, 0},
        tf{0, theta_i},
        Ff{0, front_depth},
        surf{0, theta_i},
        exfil{0, 0},
        pond{0, 0},
        itn{0, 0},
        iless{0, 0},
        state{0, 0} {}
  green_ampt_redist_views views(double dt, int n) {
    green_ampt_redist_views v;
    v.cell_count = 1;
    v.dt = dt;
    v.call_count = n;
    v.ks = ks;
    v.hc = hc;
    v.porosity = phi;
    v.pore_index = lambda;
    v.residual = thr;
    v.theta_init = thi;
    v.yes_exfil = exfil;
    v.ov_depth = ov;
    v.inf_depth_cum = F;
    v.inf_rate = rate;
    v.front_theta = tf;
    v.front_depth = Ff;
    v.surf_moist = surf;
    v.iter_pond_1 = pond;
    v.iter_n = itn;
    v.iter_i_less_k = iless;
    v.no_wat_prof = state;
    return v;
  }
};

TEST(GreenAmptRedistribution, GuardsASaturatedCellAndAFrontOfNoDepth) {
  struct guard_case {
    const char* label;
    double theta_i;
    double front_depth;
  };
  const guard_case cases[] = {
      {"saturated initial cell", 0.45, 0.0},
      {"initial content below the residual", 0.01, 0.0},
      {"front of no depth", 0.2, 0.0},
  };
  for (const guard_case& c : cases) {
    SCOPED_TRACE(c.label);
    redist_cell cell(c.theta_i, c.front_depth, 0.0);
    double total_rain = 0.0;
    // Rain above the conductivity, then light rain, then none: every branch of the scheme.
    const double supplies[] = {2e-5, 2e-5, 2e-5, 1e-7, 1e-7, 0.0, 0.0, 2e-5, 1e-7, 0.0};
    for (int n = 0; n < 10; ++n) {
      cell.ov[1] += supplies[n] * 60.0;
      total_rain += supplies[n] * 60.0;
      green_ampt_redist_cells(cell.views(60.0, n));
      ASSERT_TRUE(std::isfinite(cell.tf[1])) << n;
      ASSERT_TRUE(std::isfinite(cell.F[1])) << n;
      ASSERT_TRUE(std::isfinite(cell.ov[1])) << n;
      ASSERT_TRUE(std::isfinite(cell.rate[1])) << n;
      EXPECT_GE(cell.tf[1], std::min(c.theta_i, 0.45) - 1e-12) << n;
      EXPECT_LE(cell.tf[1], 0.45 + 1e-12) << n;
      // Water is neither made nor lost: the surface and the soil hold all the rain.
      EXPECT_NEAR(cell.ov[1] + cell.F[1], total_rain, 1e-12) << n;
    }
  }
}

TEST(GreenAmptRedistribution, SaturatedCellTakesItsConductivityUnderPonding) {
  redist_cell cell(0.45, 0.0, 0.01);
  cell.iless[1] = 5;  // not the light-rain path
  green_ampt_redist_cells(cell.views(60.0, 3));
  EXPECT_NEAR(cell.rate[1], 1e-6 * 360000.0, 1e-9);
  EXPECT_NEAR(cell.ov[1], 0.01 - 6e-5, 1e-12);
}

TEST(GreenAmptRedistribution, FrozenGroundTakesNoWater) {
  // A frozen-ground index above 83 shuts the soil; at 83 it still takes water.
  for (double index : {83.5, 83.0}) {
    SCOPED_TRACE(index);
    redist_cell cell(0.2, 0.0, 0.01);
    const std::vector<double> frozen = {0.0, index};
    green_ampt_redist_views v = cell.views(60.0, 3);
    v.frozen_index = frozen;
    green_ampt_redist_cells(v);
    if (index > 83.0) {
      EXPECT_EQ(cell.ov[1], 0.01);
      EXPECT_EQ(cell.F[1], 0.0);
    } else {
      EXPECT_LT(cell.ov[1], 0.01);
      EXPECT_NEAR(cell.ov[1] + cell.F[1], 0.01, 1e-15);
    }
  }
}

// --- Three layers ------------------------------------------------------------------------------

TEST(GreenAmptLayered, LayerAtPorosityKeepsOnePercentDeficitAndWaterIsConserved) {
  std::vector<soil_table_record> table(2);
  soil_table_record& s = table[1];
  for (int k = 0; k < 3; ++k) {
    s.layer_capillary_head[k] = 10.0;
    s.layer_hyd_cond[k] = 1.0;
    s.layer_porosity[k] = 0.4;
  }
  s.layer_depth[0] = 10.0;
  s.layer_depth[1] = 20.0;
  raw_array2d<double> theta;
  ASSERT_TRUE(theta.allocate(2, 3));
  for (int k = 1; k <= 3; ++k) theta[1][k] = 0.2;
  for (int k = 1; k <= 3; ++k) theta[2][k] = 0.4;  // cell 2 at porosity
  std::vector<int> type = {0, 1, 1};
  std::vector<double> ov = {0, 0.05, 0.05}, F = {0, 0, 0}, rate = {0, 0, 0}, wet = {0, 0, 0};
  green_ampt_layered_views v;
  v.cell_count = 2;
  v.dt = 600.0;
  v.soil_types = table.data();
  v.soiltype = type;
  v.theta_ml = theta.row_table();
  v.ov_depth = ov;
  v.inf_depth_cum = F;
  v.inf_rate = rate;
  v.wetdep = wet;
  green_ampt_multilayer_cells(v);
  for (int c = 1; c <= 2; ++c) {
    SCOPED_TRACE(c);
    ASSERT_TRUE(std::isfinite(rate[c]));
    EXPECT_NEAR(ov[c] + F[c], 0.05, 1e-12);
    EXPECT_GT(F[c], 0.0);
  }
  // Cell 1 ponds: its rate is the capacity K (M/Fn + 1) at the end depth Fn (cm) of the
  // implicit equation with M = 0.2 x 10 cm, and its front holds Fn in the deficit 0.2.
  const double Fn = implicit_root(2.0, 1.0, 600.0 / 3600.0, 0.0);
  ASSERT_GT(ov[1], 0.0);
  EXPECT_NEAR(rate[1], 2.0 / Fn + 1.0, 1e-3);
  EXPECT_NEAR(wet[1], Fn / 0.2, 1e-3);
  // The nearly saturated soil (small deficit) takes less than the dry one.
  EXPECT_LT(F[2], F[1]);
}

// --- Exfiltration ------------------------------------------------------------------------------

TEST(Exfiltration, LossStopsAtAnEmptySurface) {
  std::vector<int> yes = {0, 1, 1, 0};
  std::vector<double> head = {0, 99.0, 101.0, 101.0}, elev = {0, 100.0, 100.0, 100.0},
                      ks = {0, 1e-5, 1e-5, 1e-5}, ov = {0, 1e-4, 0.0, 0.0}, cum = {0, 0, 0, 0};
  exfil_views v;
  v.cell_count = 3;
  v.dt = 60.0;
  v.dx = 10.0;
  v.gw_simulation = 1;
  v.exfil_soil_depth = 50.0;
  v.exfil_loss_rate = 1.0;  // cm/h: 1.67e-4 m in a minute, more than the 1e-4 m standing
  v.yes_exfil = yes;
  v.elevgw = head;
  v.cell_elev = elev;
  v.ks = ks;
  v.ov_depth = ov;
  v.exfil_cum = cum;
  const exfil_result r = exfiltrate_cells(v);
  EXPECT_EQ(ov[1], 0.0);
  EXPECT_DOUBLE_EQ(cum[1], -1e-4);
  // Cell 2: a table 1 m above the surface over a 0.5 m soil: 1 x 1e-5 / 0.5 x 60 s.
  EXPECT_DOUBLE_EQ(ov[2], 1.2e-3);
  EXPECT_EQ(ov[3], 0.0);  // not flagged
  EXPECT_DOUBLE_EQ(r.volume, (-1e-4 + 1.2e-3) * 100.0);
}

// --- The step on the run's record -------------------------------------------------------------

class InfiltrationStep : public ::testing::Test {
 protected:
  process_state_guard guard_;

  // A run of `n` cells of single-layer Green and Ampt soil, set up as the soil reader does.
  static std::unique_ptr<model_state> green_ampt_run(int n, double theta_i, double hc) {
    auto ms = std::make_unique<model_state>();
    ms->cell_count = n;
    ms->gridsize = 10.0;
    ms->time_tolerance = 0.01 / 86400.0;
    ms->current_time = 2450000.0;
    ms->infil_clock.interval_seconds = 60.0;
    ms->infil_clock.interval_days = 60.0 / 86400.0;
    ms->infil_clock.last = ms->current_time - ms->infil_clock.interval_days;
    ms->infil_clock.next = ms->current_time;
    subsurface_state& ss = ms->subsurface;
    ss.green_ampt = 1;
    fill(ss.ks_cell, n, 1e-6);
    fill(ss.hc_cell, n, hc);
    fill(ss.porosity_cell, n, 0.45);
    fill(ss.theta_init, n, theta_i);
    for (raw_array1d<double>* a : {&ss.inf_depth_cum, &ss.inf_depth_prev, &ss.inf_rate,
                                   &ss.inf_depth_total, &ms->overland.ov_depth})
      fill(*a, n, 0.0);
    for (int c = 1; c <= n; ++c) ms->overland.ov_depth[c] = 0.001 * (1 + c % 7);
    infiltration_setup(*ms);
    return ms;
  }
};

TEST_F(InfiltrationStep, SaturatedCellOfARunInfiltratesAtItsConductivity) {
  auto ms = green_ampt_run(3, 0.45, 0.1);
  ASSERT_EQ(run_error.error_fatal, 0);
  infiltration_step(*ms);
  for (int c = 1; c <= 3; ++c) {
    EXPECT_DOUBLE_EQ(ms->subsurface.inf_rate[c], 0.36) << c;         // 1e-6 m/s in cm/h
    EXPECT_NEAR(ms->subsurface.inf_depth_cum[c], 6e-5, 1e-11) << c;  // a 60 s step
  }
}

TEST_F(InfiltrationStep, GreenAmptTermsBelongToTheRun) {
  // A first run of 2 dry cells, then a run of 50 with other soil: each uses its own values.
  auto first = green_ampt_run(2, 0.05, 0.2);
  infiltration_step(*first);
  ASSERT_EQ(run_error.error_fatal, 0);
  EXPECT_DOUBLE_EQ(first->subsurface.green_ampt_g[2], (0.45 - 0.05) * 0.2);
  auto second = green_ampt_run(50, 0.25, 0.1);
  infiltration_step(*second);
  ASSERT_EQ(run_error.error_fatal, 0);
  ASSERT_EQ(second->subsurface.green_ampt_g.count(), 50);
  for (int c = 1; c <= 50; ++c)
    EXPECT_DOUBLE_EQ(second->subsurface.green_ampt_g[c], (0.45 - 0.25) * 0.1) << c;
  // The second run's rate is that of its own soil: K (G/F + 1) after its first step.
  // Cell 1 ponds: its rate is K (G/Fn + 1) of its own soil, Fn the implicit depth after 60 s.
  ASSERT_GT(second->overland.ov_depth[1], 0.0);
  const double Fn = implicit_root(0.02, 1e-6, 60.0, 0.0);
  EXPECT_NEAR(second->subsurface.inf_rate[1] / 360000.0, 1e-6 * (0.02 / Fn + 1.0),
              1e-7);  // Newton stops at a residual of 1e-6 m
}

TEST_F(InfiltrationStep, RunsOnItsScheduleAndBooksTheSameVolumeOnAnyThreadCount) {
  const int n = 5000;
  std::vector<double> volumes;
  for (int threads : {1, 3, 8}) {
    omp_set_num_threads(threads);
    auto ms = green_ampt_run(n, 0.1, 0.1);
    ms->current_time += 0.5 * ms->infil_clock.interval_days;  // not due
    infiltration_step(*ms);
    EXPECT_EQ(ms->subsurface.inf_volume_total, 0.0);
    ms->current_time -= 0.5 * ms->infil_clock.interval_days;
    const double next = ms->infil_clock.next;
    infiltration_step(*ms);
    EXPECT_DOUBLE_EQ(ms->infil_clock.last, next);
    EXPECT_DOUBLE_EQ(ms->infil_clock.next, next + ms->infil_clock.interval_days);
    double sum = 0.0;
    for (int c = 1; c <= n; ++c) {
      sum += ms->subsurface.inf_depth_total[c];
      EXPECT_EQ(ms->subsurface.inf_depth_prev[c], ms->subsurface.inf_depth_cum[c]);
    }
    EXPECT_NEAR(ms->subsurface.inf_volume_total, sum * 100.0, 1e-9 * sum * 100.0);
    volumes.push_back(ms->subsurface.inf_volume_total);
  }
  EXPECT_EQ(volumes[0], volumes[1]);
  EXPECT_EQ(volumes[0], volumes[2]);
}

TEST_F(InfiltrationStep, SchemeWithoutItsParametersStopsTheRun) {
  auto ms = green_ampt_run(4, 0.1, 0.1);
  ms->subsurface.ks_cell.reset();
  stdout_capture capture;
  infiltration_step(*ms);
  const std::string printed = capture.stop();
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_NE(printed.find("saturated hydraulic conductivity"), std::string::npos) << printed;
}

// --- Rain, infiltration and routing of one pass -----------------------------------------------

// A 40 x 60 grid of 10 m cells (three booking blocks, run in parallel) on a plane falling to its
// outlet at the last cell, with pits that hold water; Green and Ampt soils of varied kinds, dry
// at the start; overland steps of 30 s and infiltration every `infil_every` of them. With
// `separate` the overland point sources are switched on, so that the rain, the infiltration and
// the routing's scan of the depths each take their own pass (the point sources themselves are
// not called: none flow).
struct pass_case {
  const char* what;
  int scheme;       // overland routing option
  int infil_every;  // overland steps per infiltration step
  int canopy;       // interception on
  int reduced;      // area reduction on
};

std::unique_ptr<model_state> rain_run(const pass_case& t, bool separate) {
  run_error = error_state{};
  auto ms = std::make_unique<model_state>();
  const int rows = 40, cols = 60;
  ms->rows = rows;
  ms->cols = cols;
  ms->gridsize = 10.0;
  alloc_2d_int_named(ms->index_map, rows + 1, cols + 1, "mask");
  int n = 0;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) ms->index_map[r][c] = ++n;
  ms->cell_count = n;
  overland_state& ov = ms->overland;
  alloc_1d_double(ms->cell_elev, n, "elev");
  alloc_1d_double(ov.ov_depth, n, "depth");
  alloc_1d_double(ov.ov_roughness, n, "n");
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) {
      const int k = ms->index_map[r][c];
      const bool pit = r % 9 == 4 && c % 13 == 6;
      ms->cell_elev[k] = 100.0 - 0.02 * r - 0.01 * c - (pit ? 0.3 : 0.0);
      ov.ov_roughness[k] = 0.05 + 0.01 * (k % 3);
    }
  ov.ov_route_option = t.scheme;
  ms->outlet_cell = n;
  ms->outlet_slope = 0.01;
  ms->time_tolerance = 0.01 / 86400.0;
  ms->current_time = 2450000.0;
  ms->ov_clock.interval_seconds = 30.0;
  ms->ov_clock.interval_days = 30.0 / 86400.0;
  ms->ov_clock.last = ms->current_time - ms->ov_clock.interval_days;
  ms->ov_clock.next = ms->current_time;
  ms->infil_clock.interval_seconds = 30.0 * t.infil_every;
  ms->infil_clock.interval_days = 30.0 * t.infil_every / 86400.0;
  ms->infil_clock.last = ms->current_time - ms->infil_clock.interval_days;
  ms->infil_clock.next = ms->current_time;
  {
    stdout_capture quiet;
    build_cell_connectivity(*ms);
    compute_overland_slopes(*ms);
  }
  EXPECT_EQ(run_error.error_code, 0);
  // The routing's scratch depth changes hold no number: a routing that read them before
  // writing them would spread it.
  if (ov.ov_depth_change.empty()) alloc_1d_double(ov.ov_depth_change, n, "change");
  for (int k = 1; k <= n; ++k) ov.ov_depth_change[k] = std::nan("");
  ov.rain_event_state = 1;
  alloc_1d_double(ov.rain_cell, n, "rain");
  if (t.canopy) {
    ov.interception_on = 1;
    ms->cur_month = 6;
    ms->latitude = 40.0;
    for (raw_array1d<double>* a : {&ov.interception_capacity, &ov.interception_coeff,
                                   &ov.interception_storage, &ov.net_rain_cell})
      alloc_1d_double(*a, n, "canopy");
    for (int k = 1; k <= n; ++k) {
      ov.interception_capacity[k] = 0.5 * (k % 4);
      ov.interception_coeff[k] = 0.1 * (k % 5);
    }
  }
  if (t.reduced) {
    ov.area_reduction = 1;
    alloc_1d_double(ov.area_reduction_cell, n, "area");
    for (int k = 1; k <= n; ++k) ov.area_reduction_cell[k] = k % 6 == 0 ? 0.3 : 1.0;
  }
  subsurface_state& ss = ms->subsurface;
  ss.green_ampt = 1;
  for (raw_array1d<double>* a :
       {&ss.ks_cell, &ss.hc_cell, &ss.porosity_cell, &ss.theta_init, &ss.inf_depth_cum,
        &ss.inf_depth_prev, &ss.inf_rate, &ss.inf_depth_total})
    alloc_1d_double(*a, n, "soil");
  for (int k = 1; k <= n; ++k) {
    ss.ks_cell[k] = (0.2 + 0.1 * (k % 5)) / 360000.0;  // 2 mm/h and more
    ss.hc_cell[k] = 0.05 + 0.01 * (k % 7);
    ss.porosity_cell[k] = 0.45;
    ss.theta_init[k] = 0.1 + 0.02 * (k % 5);
  }
  infiltration_setup(*ms);
  if (separate) {
    ms->transport.ov_con_trans = 1;
    ov.ov_point_source = 1;
  }
  return ms;
}

// The rain (mm/h) of pass `pass`: none at first; then a drizzle every soil takes whole; then
// storms of varied strength on the half of the grid that holds the outlet; then none while the
// water drains.
double pass_rain(int pass, int k, int cols) {
  if (pass < 2) return 0.0;
  if (pass < 4) return 0.5;
  if (pass < 14)
    return (k - 1) % cols >= cols / 2 ? (90.0 + 30.0 * ((k + pass) % 10) + k % 7) / 3.0 : 0.0;
  return 0.0;
}

// What a run leaves after each pass.
struct pass_record {
  std::vector<double> depth, cum, rate, prev, total, fx, fy;
  std::vector<double> sums;  // volumes, outflows and the rain's sums
  std::vector<int> flags;    // depth and flux flags, sweep order, rain steps
};

template <class T>
std::vector<T> cells_of(const raw_array1d<T>& a, int n) {
  return std::vector<T>(a.data() + 1, a.data() + 1 + n);
}

std::vector<pass_record> run_passes(const pass_case& t, bool separate, int threads,
                                    int& passes_taken) {
  auto ms = rain_run(t, separate);
  model_state& m = *ms;
  overland_state& ov = m.overland;
  subsurface_state& ss = m.subsurface;
  const int n = m.cell_count;
  passes_taken = 0;
  std::vector<pass_record> out;
  omp_set_num_threads(threads);
  stdout_capture quiet;
  for (int pass = 0; pass < 24 && run_error.error_code == 0; ++pass) {
    m.current_time = std::min(m.ov_clock.next, m.infil_clock.next);
    for (int k = 1; k <= n; ++k) ov.rain_cell[k] = pass_rain(pass, k, m.cols);
    apply_rainfall(m);
    passes_taken += ss.infiltration_taken;
    infiltration_step(m);
    EXPECT_EQ(ss.infiltration_taken, 0) << "pass " << pass;
    overland_flow_step(m);
    pass_record r;
    r.depth = cells_of(ov.ov_depth, n);
    r.cum = cells_of(ss.inf_depth_cum, n);
    r.rate = cells_of(ss.inf_rate, n);
    r.prev = cells_of(ss.inf_depth_prev, n);
    r.total = cells_of(ss.inf_depth_total, n);
    r.fx = cells_of(ov.ov_flux_x, n);
    r.fy = cells_of(ov.ov_flux_y, n);
    r.sums = {m.event_rain_vol,   ov.total_precip_volume, ov.rain_rate_sum, ss.inf_volume_total,
              ov.ov_step_outflow, ov.ov_out_volume,       m.outlet_q,       ov.interception_volume,
              m.infil_clock.next, m.ov_clock.next};
    r.flags = {ov.ov_any_depth, ov.ov_any_flux, ov.ov_sweep_parity, ov.rain_steps, m.run_flag};
    out.push_back(std::move(r));
  }
  omp_set_num_threads(1);
  EXPECT_EQ(run_error.error_code, 0) << quiet.stop();
  return out;
}

// The rain put on the cells in the infiltration's pass, and the depths' flags that pass hands
// the routing, leave every pass of rain, infiltration and routing as the separate passes leave
// it, to the last bit, on any number of threads; the infiltration step of such a pass only
// moves its clock on.
TEST(RainInTheInfiltrationPass, PassesMatchTheSeparateRainInfiltrationAndRouting) {
  process_state_guard guard;
  const pass_case cases[] = {
      {"explicit routing, infiltration every step", 1, 1, 0, 0},
      {"ADE routing, infiltration every other step, canopy", 2, 2, 1, 0},
      {"ADE-PC routing, infiltration every step, reduced areas", 3, 1, 0, 1},
      {"explicit routing, infiltration every third step, canopy, reduced areas", 1, 3, 1, 1},
  };
  // The vector kernels run on every processor, so the rain is always taken in the pass.
  const bool wide = true;
  for (const pass_case& t : cases) {
    SCOPED_TRACE(t.what);
    int taken = 0;
    const std::vector<pass_record> expected = run_passes(t, true, 1, taken);
    EXPECT_EQ(taken, 0);
    ASSERT_EQ(expected.size(), 24u);
    // The passes show what they are meant to: a drizzle that leaves no water to route where
    // the soil takes it every step, then water routed out of the outlet.
    if (t.infil_every == 1) {
      EXPECT_EQ(expected[3].flags[2], expected[0].flags[2]);
    }
    EXPECT_GT(expected.back().sums[5], 0.0);
    for (int threads : {1, 4}) {
      SCOPED_TRACE(::testing::Message() << threads << " threads");
      const std::vector<pass_record> got = run_passes(t, false, threads, taken);
      // Every pass whose infiltration is due takes the rain in the infiltration's pass.
      if (wide) {
        EXPECT_EQ(taken, (24 + t.infil_every - 1) / t.infil_every);
      }
      ASSERT_EQ(got.size(), expected.size());
      for (std::size_t p = 0; p < got.size(); ++p) {
        SCOPED_TRACE(::testing::Message() << "pass " << p);
        const pass_record& a = got[p];
        const pass_record& b = expected[p];
        EXPECT_TRUE(same_bits(a.depth, b.depth));
        EXPECT_TRUE(same_bits(a.cum, b.cum));
        EXPECT_TRUE(same_bits(a.rate, b.rate));
        EXPECT_TRUE(same_bits(a.prev, b.prev));
        EXPECT_TRUE(same_bits(a.total, b.total));
        EXPECT_TRUE(same_bits(a.fx, b.fx));
        EXPECT_TRUE(same_bits(a.fy, b.fy));
        EXPECT_TRUE(same_bits(a.sums, b.sums));
        EXPECT_EQ(a.flags, b.flags);
      }
    }
  }
}

// --- Restarting the wetting fronts at an event --------------------------------------------------

// Three cells of a redistribution run whose fronts, infiltration and gap water are left from the
// last event: 2 cm of drainage and 1 cm of evapotranspiration on each 10 m cell; the upper zone
// (50 cm) holds 10 cm of water over a water table 80 cm deep, the third cell only 1 cm.
std::unique_ptr<model_state> redistributed_run(int long_term) {
  auto ms = std::make_unique<model_state>();
  const int n = 3;
  ms->cell_count = n;
  ms->gridsize = 10.0;
  ms->long_term = long_term;
  subsurface_state& ss = ms->subsurface;
  ss.inf_redist = 1;
  ss.zone_depth_upper = 50.0;
  for (raw_array1d<int>* a : {&ss.iter_pond_1, &ss.iter_n, &ss.no_wat_prof, &ss.iter_i_less_k}) {
    a->reset();
    EXPECT_TRUE(a->allocate(n));
    for (int c = 1; c <= n; ++c) (*a)[c] = 4;
  }
  for (raw_array1d<double>* a : {&ss.redist_front_depth, &ss.inf_depth_cum, &ss.inf_depth_prev})
    fill(*a, n, 0.03);
  fill(ss.theta_init, n, 0.2);
  fill(ss.redist_front_theta, n, 0.4);
  fill(ss.surf_moist, n, 0.4);
  fill(ss.porosity_cell, n, 0.45);
  fill(ss.residual_cell, n, 0.05);
  fill(ss.wt_depth_cm, n, 80.0);
  fill(ss.zone_water_upper, n, 10.0);
  ss.zone_water_upper[3] = 1.0;
  fill(ss.recharge_inc, n, 2.0);
  fill(ss.et_cum_cell, n, 1.0);
  ms->avg_saturation = 0.7;
  return ms;
}

// The event initialisation averages the restarted saturation and books the gap's water in
// long-term runs only; the point-source step books it in every run and leaves the saturation.
TEST(WettingFrontRestart, EachCallerBooksWhatItsOptionsSay) {
  struct restart_case {
    const char* caller;
    int long_term;
    wetting_front_restart how;
    double theta1;      // restarted moisture of cell 1
    double booked;      // m3 of drainage (and of evapotranspiration) booked
    double saturation;  // avg_saturation afterwards
  };
  const wetting_front_restart event_init{false, true};
  const wetting_front_restart point_sources{true, false};
  // Long-term: 10 cm over min(80, 50) cm is 0.2; 1 cm is 0.02, raised to 0.05 + 0.01.
  const double long_term_saturation = (0.2 + 0.2 + 0.06) / 0.45 / 3.0;
  const restart_case cases[] = {
      {"event init, event run", 0, event_init, 0.2, 0.0, 0.0},
      {"event init, long-term run", 1, event_init, 0.2, 3 * 2.0, long_term_saturation},
      {"point sources, event run", 0, point_sources, 0.2, 3 * 2.0, 0.7},
      {"point sources, long-term run", 1, point_sources, 0.2, 3 * 2.0, 0.7},
  };
  for (const restart_case& rc : cases) {
    SCOPED_TRACE(rc.caller);
    process_state_guard guard;
    auto ms = redistributed_run(rc.long_term);
    stdout_capture capture;
    restart_wetting_fronts(*ms, rc.how);
    const std::string printed = capture.stop();
    const subsurface_state& ss = ms->subsurface;
    EXPECT_EQ(ss.inf_active, 1);
    for (int c = 1; c <= 3; ++c) {
      SCOPED_TRACE(c);
      EXPECT_EQ(ss.iter_pond_1[c] + ss.iter_n[c] + ss.no_wat_prof[c] + ss.iter_i_less_k[c], 0);
      EXPECT_EQ(ss.redist_front_depth[c] + ss.inf_depth_cum[c] + ss.inf_depth_prev[c], 0.0);
      EXPECT_EQ(ss.redist_front_theta[c], ss.theta_init[c]);
      EXPECT_EQ(ss.surf_moist[c], ss.theta_init[c]);
    }
    EXPECT_NEAR(ss.theta_init[1], rc.theta1, 1e-12);
    EXPECT_NEAR(ss.theta_init[3], rc.long_term ? 0.06 : 0.2, 1e-12);
    EXPECT_EQ(printed.find("thi<thr at grid cell 3") != std::string::npos, rc.long_term != 0)
        << printed;
    EXPECT_NEAR(ss.recharge_volume, rc.booked, 1e-12);
    EXPECT_NEAR(ss.et_cell_volume, rc.booked / 2.0, 1e-12);
    EXPECT_EQ(ss.recharge_inc[2], rc.booked > 0.0 ? 0.0 : 2.0);
    EXPECT_NEAR(ms->avg_saturation, rc.saturation, 1e-12);
  }
}

// A soil whose residual content lies within 0.01 of its porosity: the moisture, raised above
// the residual content, is still kept below the porosity, so the front starts with a deficit,
// whichever caller restarts it.
TEST(WettingFrontRestart, MoistureEndsBelowThePorosityWhenTheResidualIsCloseToIt) {
  for (const wetting_front_restart how :
       {wetting_front_restart{false, true}, wetting_front_restart{true, false}}) {
    process_state_guard guard;
    auto ms = redistributed_run(1);
    ms->subsurface.residual_cell[3] = 0.445;  // 1 cm over 50 cm is 0.02, below it
    stdout_capture capture;
    restart_wetting_fronts(*ms, how);
    const std::string printed = capture.stop();
    EXPECT_NEAR(ms->subsurface.theta_init[3], 0.44, 1e-12);
    EXPECT_NE(printed.find("cell: 3  thi: 0.020000  thr: 0.445000   phi: 0.450000\n"
                           "Problem initializing inf_redist in main loop, thi<thr at grid cell 3, "
                           "increasing it to 0.455000\n"
                           "Problem initializing inf_redist in main loop, thi>phi at grid cell 3, "
                           "decreasing it to 0.440000\n"),
              std::string::npos)
        << printed;
  }
}

// --- Transport layers --------------------------------------------------------------------------

TEST(LayerWater, ContentsFromTheZoneWaterByHand) {
  const double thick[4] = {0.0, 0.1, 0.2, 0.3};  // m
  // No table: the upper zone's water over its depth, the lower zone's over the rest.
  EXPECT_DOUBLE_EQ(layer_water_fraction(1, 3, 6.0, 9.0, 30.0, 0.4, 60.0, 10.0, 0, 0, thick, 0),
                   0.2);
  EXPECT_DOUBLE_EQ(layer_water_fraction(3, 3, 6.0, 9.0, 30.0, 0.4, 60.0, 10.0, 0, 0, thick, 0),
                   0.3);
  // A table 5 cm under the surface inside a 10 cm first layer: 10/30 x 6 cm of water = 2 cm
  // plus 5 cm saturated at 0.4 = 2 cm, over 10 cm.
  EXPECT_NEAR(layer_water_fraction(1, 3, 6.0, 9.0, 30.0, 0.4, 60.0, 10.0, 99.95, 100.0, thick, 1),
              0.4, 1e-12);
  // Table at the surface: the porosity.
  EXPECT_DOUBLE_EQ(
      layer_water_fraction(2, 3, 6.0, 9.0, 30.0, 0.4, 60.0, 10.0, 100.0, 100.0, thick, 1), 0.4);
  soil_table_record s;
  s.layer_depth[0] = 20.0;
  s.layer_depth[1] = 30.0;
  s.layer_porosity[0] = 0.4;
  s.layer_porosity[1] = 0.35;
  double out[4] = {};
  // No table: depth 51 cm, below all three 10/20/30 cm layers: 6/(10+20) and 9/30.
  soil_layer_water_content(6.0, 9.0, 0.0, 0.0, thick, 0, s, 3, out);
  EXPECT_DOUBLE_EQ(out[1], 0.2);
  EXPECT_DOUBLE_EQ(out[2], 0.2);
  EXPECT_DOUBLE_EQ(out[3], (9.0 * 0.35 + 9.0) / 30.0);  // the bottom 9 cm saturated
  // Table 20 cm down: layer 1 holds 6/20, layer 2 is 10 cm saturated at 0.4 plus 10/20 x 6 cm.
  soil_layer_water_content(6.0, 9.0, 99.8, 100.0, thick, 1, s, 3, out);
  EXPECT_NEAR(out[1], 0.3, 1e-12);
  EXPECT_NEAR(out[2], (10.0 * 0.4 + 3.0) / 20.0, 1e-12);
  EXPECT_NEAR(out[3], 0.35, 1e-12);
}

}  // namespace
