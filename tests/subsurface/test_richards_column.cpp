// The Richards column kernel alone: the soil functions against their own definitions (the
// retention curves invert each other, the capacity is the slope of the retention curve, the
// Brooks-Corey parabola meets the power law smoothly), and one column's books over a step with
// rain, ponding and root-zone evapotranspiration.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "output/volp_exchange.h"
#include "subsurface/richards_column.h"
#include "subsurface/richards_lanes.h"
#include "subsurface/richards_root_zone.h"
#include "support/vector_target_loop.h"

namespace {

// A column of n + 1 nodes (0..n) of one soil, its arrays owned here.
struct test_column {
  int n;
  std::vector<double> phead, khead, theta, watcap, watflux, source;
  std::vector<double> ks, dz, thetas, thetar, thetawp, thetafc, thehac, bchc, bp, lam, alpha, beta,
      ahav, bhav;
  richards_column_view v;
  test_column(int nodes, int model, double initial) : n(nodes) {
    for (std::vector<double>* a :
         {&phead,   &khead,   &theta,  &watcap, &watflux, &source, &ks,    &dz,   &thetas, &thetar,
          &thetawp, &thetafc, &thehac, &bchc,   &bp,      &lam,    &alpha, &beta, &ahav,   &bhav})
      a->assign(n + 1, 0.0);
    for (int k = 0; k <= n; ++k) {
      ks[k] = 2.0;
      dz[k] = 2.0;
      thetas[k] = 0.45;
      thetar[k] = 0.08;
      thetawp[k] = 0.15;
      thetafc[k] = 0.30;
      lam[k] = 0.4;
      bp[k] = -25.0;
      thehac[k] = brooks_corey_transition_theta(0.45, 0.08, 0.4);
      bchc[k] = brooks_corey_transition_head(-25.0, 0.4);
      alpha[k] = 36.93;
      beta[k] = 3.96;
      ahav[k] = 1.175e6;
      bhav[k] = 4.74;
    }
    v = {phead.data(),   khead.data(),   theta.data(),  watcap.data(), watflux.data(),
         source.data(),  ks.data(),      dz.data(),     thetas.data(), thetar.data(),
         thetawp.data(), thetafc.data(), thehac.data(), bchc.data(),   bp.data(),
         lam.data(),     alpha.data(),   beta.data(),   ahav.data(),   bhav.data()};
    for (int k = 0; k <= n; ++k) {
      theta[k] = initial;
      phead[k] = soil_psi_from_theta(v, model, k, initial);
    }
    soil_props(v, model, n);
  }
  double water() const { return richards_column_water(v, n); }
};

// Each retention curve inverts the other over the whole range of contents, in both Brooks-Corey
// branches and for Havercamp; the capacity the solver uses is the slope of the retention curve
// (a central difference of theta(h)); at the Brooks-Corey transition head both branches give
// the same content and slope, also with a residual content above 0.
TEST(RichardsSoilFunctions, RetentionCurvesInvertEachOtherAndTheCapacityIsTheirSlope) {
  for (int model : {soil_model_brooks_corey, soil_model_havercamp}) {
    SCOPED_TRACE(model);
    test_column col(3, model, 0.2);
    const richards_column_view& v = col.v;
    for (double theta = 0.09; theta < 0.449; theta += 0.01) {
      const double h = soil_psi_from_theta(v, model, 1, theta);
      EXPECT_LT(h, 0.0) << theta;
      EXPECT_NEAR(soil_theta_from_psi(v, model, 1, h), theta, 1e-10) << theta;
      // The capacity at h against the slope of theta(h).
      col.phead[1] = h;
      col.theta[1] = theta;
      soil_props(v, model, 1);
      const double step = 1e-4 * std::fabs(h);
      const double slope = (soil_theta_from_psi(v, model, 1, h + step) -
                            soil_theta_from_psi(v, model, 1, h - step)) /
                           (2.0 * step);
      EXPECT_NEAR(col.watcap[1], slope, 1e-5 * slope + 1e-12) << theta;
    }
    EXPECT_EQ(soil_theta_from_psi(v, model, 1, 0.5), 0.45);
  }
  test_column col(3, soil_model_brooks_corey, 0.2);
  const double hc = col.bchc[1];
  const double below = soil_theta_from_psi(col.v, soil_model_brooks_corey, 1, hc * (1 + 1e-9));
  const double above = soil_theta_from_psi(col.v, soil_model_brooks_corey, 1, hc * (1 - 1e-9));
  EXPECT_NEAR(below, above, 1e-9);
  EXPECT_NEAR(below, col.thehac[1], 1e-9);
  // The transition lies at Se = 2 / (2 + lambda) between the residual and saturated contents.
  EXPECT_NEAR((col.thehac[1] - 0.08) / (0.45 - 0.08), 2.0 / 2.4, 1e-12);
}

// The closed forms of the soil functions with the C library's powers, node j of a column.
struct closed_forms {
  double kr, cm, theta;
};
closed_forms closed_forms_at(const test_column& c, int model, int j, double h, double theta) {
  const double range = c.thetas[j] - c.thetar[j];
  if (model == soil_model_havercamp) {
    if (h >= 0.0) return {1.0, 0.0, c.thetas[j]};
    const double x = std::fabs(h) / c.alpha[j];
    const double xb = std::pow(x, c.beta[j]);
    return {c.ahav[j] / (c.ahav[j] + std::pow(std::fabs(h), c.bhav[j])),
            std::pow(x, c.beta[j] - 1.0) * range * c.beta[j] / c.alpha[j] / ((xb + 1) * (xb + 1)),
            c.thetar[j] + range / (xb + 1.0)};
  }
  const double hb = c.bp[j], lam = c.lam[j], hc = c.bchc[j];
  const double sec = (c.thehac[j] - c.thetar[j]) / range;
  const double a = std::sqrt(1.0 - sec) / hc;
  if (h > 0.0) return {1.0, 0.0, c.thetas[j]};
  if (h <= hc)
    return {std::pow(h / hb, -(3.0 * lam + 2.0)),
            -(lam / hb) * range * std::pow(h / hb, -(lam + 1.0)),
            std::pow(hb / h, lam) * range + c.thetar[j]};
  const double se = (theta - c.thetar[j]) / range;
  return {std::pow(se, 3.0 + 2.0 / lam), -2.0 * h * range * a * a,
          h >= 0.0 ? c.thetas[j] : (1.0 - a * a * h * h) * range + c.thetar[j]};
}

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void expect_close(double got, double want, const char* what, int j) {
  EXPECT_NEAR(got, want, 1e-12 * std::fabs(want) + 1e-300) << what << " of node " << j;
}

}  // namespace

// The soil functions of runs of nodes, as the column step takes them after every solve, on every
// instruction set: the same bits on each, the bits of the one-node forms that the set-up and the
// regrid use, and the closed forms (the C library's powers) to 1e-12, over heads from very dry
// through the Brooks-Corey transition and parabola to saturation, in a column of two soils.
TEST(RichardsSoilFunctions, RunsOfNodesGiveTheOneNodeBitsAndTheClosedFormsOnEveryTarget) {
  const int n = 21;
  for (int model : {soil_model_brooks_corey, soil_model_havercamp}) {
    SCOPED_TRACE(model == soil_model_havercamp ? "Havercamp" : "Brooks-Corey");
    test_column col(n, model, 0.2);
    for (int k = 12; k <= n; ++k) {
      col.thetas[k] = 0.40;
      col.thetar[k] = 0.05;
      col.lam[k] = 0.25;
      col.bp[k] = -40.0;
      col.thehac[k] = brooks_corey_transition_theta(0.40, 0.05, 0.25);
      col.bchc[k] = brooks_corey_transition_head(-40.0, 0.25);
      col.alpha[k] = 20.0;
      col.beta[k] = 2.1;
      col.ahav[k] = 5e5;
      col.bhav[k] = 3.2;
    }
    // Heads by node: dry, near and at the transition, on the parabola, saturated.
    std::vector<double> heads(n + 1, -10.0);
    const double table[] = {-1e5, -3000.0, -250.0, -26.0, 0.0, -1e-9, 2.0, -5.0, -0.3, -60.0, -1e4};
    for (int k = 1; k <= n; ++k) heads[k] = table[(k - 1) % std::size(table)];
    heads[4] = col.bchc[4];
    heads[5] = col.bchc[5] * (1.0 - 1e-9);
    heads[13] = col.bchc[13];
    heads[14] = col.bchc[14] * 0.5;
    std::vector<double> soil(richards_soil_constant_arrays * (n + 1));
    richards_soil_constants c;
    double* p = soil.data();
    for (double** a : {&c.range, &c.inv_range, &c.inv_hb, &c.a, &c.inv_a, &c.cm_dry, &c.cm_wet,
                       &c.neg_lam, &c.neg_inv_lam, &c.k_wet, &c.inv_alpha, &c.inv_beta, &c.cm_hav,
                       &c.key_head, &c.key_theta}) {
      *a = p;
      p += n + 1;
    }
    std::vector<double> first_kr, first_cm, first_theta, first_head;
    for_every_vector_target([&](const std::string&) {
      const richards_column_view& v = col.v;
      richards_soil_constants_of(v, c, model, 0, n);
      // Contents from heads, node by node against the one-node form and the closed form.
      for (int k = 1; k <= n; ++k) col.phead[k] = heads[k];
      richards_nodes(v, c, model, richards_node_update::contents, 1, n);
      for (int k = 1; k <= n; ++k) {
        EXPECT_TRUE(same_bits(col.theta[k], richards_content_of_head(v, model, k, heads[k]))) << k;
        expect_close(col.theta[k], closed_forms_at(col, model, k, heads[k], 0.0).theta, "content",
                     k);
      }
      const std::vector<double> theta(col.theta);
      // Conductivity and capacity from those heads and contents.
      richards_nodes(v, c, model, richards_node_update::functions, 1, n);
      const std::vector<double> kr(col.khead), cm(col.watcap);
      for (int k = 1; k <= n; ++k) {
        const closed_forms f = closed_forms_at(col, model, k, heads[k], theta[k]);
        expect_close(kr[k], f.kr, "relative conductivity", k);
        expect_close(cm[k], f.cm, "capacity", k);
        col.khead[k] = col.watcap[k] = -1.0;
        richards_node_functions(v, model, k);
        EXPECT_TRUE(same_bits(col.khead[k], kr[k]) && same_bits(col.watcap[k], cm[k])) << k;
      }
      // A second pass after a few nodes changed their heads or contents (the others keep their
      // last computation) gives the bits of a pass from scratch.
      col.phead[3] *= 1.5;
      col.theta[12] = 0.5 * (col.theta[12] + col.thetar[12]);
      col.phead[n] = col.phead[n - 1];
      richards_nodes(v, c, model, richards_node_update::functions, 1, n);
      const std::vector<double> kept_kr(col.khead), kept_cm(col.watcap);
      richards_soil_constants_of(v, c, model, 0, n);
      richards_nodes(v, c, model, richards_node_update::functions, 1, n);
      for (int k = 1; k <= n; ++k)
        EXPECT_TRUE(same_bits(col.khead[k], kept_kr[k]) && same_bits(col.watcap[k], kept_cm[k]))
            << k;
      col.phead[3] = heads[3];
      col.theta[12] = theta[12];
      col.phead[n] = heads[n];
      // Both at once give the bits of the two passes.
      for (int k = 1; k <= n; ++k) col.theta[k] = col.khead[k] = col.watcap[k] = -1.0;
      richards_nodes(v, c, model, richards_node_update::contents_and_functions, 1, n);
      for (int k = 1; k <= n; ++k)
        EXPECT_TRUE(same_bits(col.theta[k], theta[k]) && same_bits(col.khead[k], kr[k]) &&
                    same_bits(col.watcap[k], cm[k]))
            << k;
      // Heads from contents: every content from just above residual to saturation and beyond; a
      // saturated node keeps a positive head and lifts a negative one to 0.
      for (int k = 1; k <= n; ++k) {
        const double lo = col.thetar[k], hi = col.thetas[k];
        col.theta[k] = k == n ? hi + 0.01 : lo + (hi - lo) * std::pow(k / (n - 1.0), 0.5) - 1e-4;
        col.phead[k] = k % 2 == 0 ? 3.0 : -7.0;
      }
      const std::vector<double> before(col.phead);
      richards_nodes(v, c, model, richards_node_update::heads, 1, n);
      for (int k = 1; k <= n; ++k) {
        if (col.theta[k] >= col.thetas[k]) {
          EXPECT_EQ(col.phead[k], std::max(before[k], 0.0)) << k;
          continue;
        }
        EXPECT_TRUE(same_bits(col.phead[k], richards_head_of_content(v, model, k, col.theta[k])))
            << k;
        // The head's content is the content.
        EXPECT_NEAR(closed_forms_at(col, model, k, col.phead[k], col.theta[k]).theta, col.theta[k],
                    1e-12)
            << k;
      }
      if (first_kr.empty()) {
        first_kr = kr, first_cm = cm, first_theta = theta, first_head = col.phead;
        return;
      }
      for (int k = 1; k <= n; ++k)
        EXPECT_TRUE(same_bits(kr[k], first_kr[k]) && same_bits(cm[k], first_cm[k]) &&
                    same_bits(theta[k], first_theta[k]) && same_bits(col.phead[k], first_head[k]))
            << k;
    });
  }
}

namespace {

// The column's tridiagonal solve against the system it solves: for every size from one row to
// more than a column holds, of even and odd counts (the two eliminations meet at the middle row
// or next to it), diagonally dominant rows like the column's, each row's residual is round-off.
TEST(RichardsColumn, TheTridiagonalSolveMeetsEveryRowOfItsSystem) {
  unsigned s = 12345u;
  auto next = [&s]() {
    s = s * 1664525u + 1013904223u;
    return static_cast<double>(s >> 8) / 16777216.0;
  };
  for (int n = 1; n <= 25; ++n) {
    SCOPED_TRACE(n);
    std::vector<double> upper(n + 2, 0.0), diag(n + 2), lower(n + 2, 0.0), rhs(n + 2);
    for (int j = 1; j <= n; ++j) {
      if (j > 1) lower[j] = -(0.1 + 10.0 * next());
      if (j < n) upper[j] = -(0.1 + 10.0 * next());
      diag[j] = -lower[j] - upper[j] + 1e-3 + next();
      rhs[j] = 100.0 * (next() - 0.5);
    }
    std::vector<double> x(rhs), d(diag);
    richards_tridiag_solve(n, upper.data(), d.data(), lower.data(), x.data());
    for (int j = 1; j <= n; ++j) {
      double row = diag[j] * x[j];
      if (j > 1) row += lower[j] * x[j - 1];
      if (j < n) row += upper[j] * x[j + 1];
      EXPECT_NEAR(row, rhs[j], 1e-9 * (1.0 + std::fabs(rhs[j]))) << "row " << j;
    }
  }
}

// One column's books over a step: the net inflow at the surface is the change of its water plus
// what drained through its bottom face plus what the roots took, to round-off, whether the rain
// soaks in, ponds (the surface keeps what the soil cannot take, under a ponded head), or the
// roots draw on a dry surface; the roots take nothing from a soil at its wilting point.
TEST(RichardsColumn, InflowIsStorageChangePlusDrainagePlusRootUptake) {
  struct step_case {
    const char* what;
    double initial;
    double surface_cm;  // water on the surface at the start (cm)
    double soil_et;     // cm/h the roots may take
    bool ponds;
  };
  const step_case cases[] = {
      {"light rain soaks in", 0.20, 0.05, 0.0, false},
      {"a deep pond on dry soil", 0.20, 5.0, 0.0, true},
      {"roots draw on a moist column", 0.35, 0.0, 0.05, false},
      {"roots at the wilting point take nothing", 0.15, 0.0, 0.05, false},
  };
  for (const step_case& k : cases) {
    SCOPED_TRACE(k.what);
    test_column col(25, soil_model_brooks_corey, k.initial);
    richards_options o;
    richards_demand d;
    d.surface_et = k.soil_et;
    d.soil_et = k.soil_et;
    d.root_depth = 20.0;
    std::vector<double> work(richards_work_size(col.n));
    double depth = k.surface_cm / 100.0;
    int bound = 1;
    double dtr = richards_saturated_start_step;
    richards_books b;
    const double before = col.water();
    richards_column_step(col.v, col.n, o, d, 0.25, depth, bound, dtr, work.data(), b);
    ASSERT_FALSE(b.bad_number);
    const double after = col.water();
    EXPECT_NEAR(b.infiltrated, after - before + b.drained + b.et_soil, 1e-10 * (1.0 + before));
    // What left the surface went into the soil or into the air.
    EXPECT_NEAR(k.surface_cm - depth * 100.0, b.infiltrated + b.et_surface, 1e-10);
    if (k.ponds) {
      EXPECT_GT(depth, 0.0);
      EXPECT_EQ(bound, 2);
      EXPECT_GT(b.infiltrated, 0.0);
    } else {
      EXPECT_EQ(bound, 1);
      EXPECT_EQ(depth, 0.0);
    }
    if (k.soil_et > 0.0 && k.initial > 0.15) {
      EXPECT_GT(b.et_soil, 0.0);
      EXPECT_LE(b.et_soil, k.soil_et * 0.25 + 1e-12);
    }
    if (k.soil_et > 0.0 && k.initial <= 0.15) {
      EXPECT_EQ(b.et_soil, 0.0);
    }
    for (int j = 1; j < col.n; ++j) {
      EXPECT_LE(col.theta[j], col.thetas[j]) << j;
      EXPECT_GT(col.theta[j], col.thetar[j]) << j;
    }
  }
}

// The work space is the caller's and holds nothing from one column to the next: a column run
// on a work space left full of another column's numbers ends on the same bits as on a clean one.
TEST(RichardsColumn, TheWorkSpaceCarriesNothingBetweenColumns) {
  std::vector<double> final_theta[2];
  for (int k = 0; k < 2; ++k) {
    test_column col(30, soil_model_havercamp, 0.12);
    std::vector<double> work(richards_work_size(40), k == 0 ? 0.0 : 1.0e30);
    richards_options o;
    o.model = soil_model_havercamp;
    richards_demand d;
    double depth = 0.01;
    int bound = 1;
    double dtr = 0.01;
    richards_books b;
    richards_column_step(col.v, col.n, o, d, 0.5, depth, bound, dtr, work.data(), b);
    ASSERT_FALSE(b.bad_number);
    final_theta[k] = col.theta;
  }
  EXPECT_EQ(final_theta[0], final_theta[1]);
}

// A column's soil functions come from its own heads and contents within each step: a column
// run on the work space its twin has just used, with its conductivities and capacities spoiled
// before the step, ends on the bits of the twin, for both soil models, with free drainage and
// over a water table, under a light rain and a storm that ponds.
TEST(RichardsColumn, AColumnOnTheWorkSpaceOfItsTwinEndsOnTheSameBits) {
  for (int model : {soil_model_brooks_corey, soil_model_havercamp}) {
    for (bool water_table : {false, true}) {
      for (double rain_cm : {0.05, 3.0}) {
        SCOPED_TRACE(testing::Message()
                     << "model " << model << " water table " << water_table << " rain " << rain_cm);
        std::vector<double> work(richards_work_size(40), 0.0);
        std::vector<double> final_theta[2], final_head[2];
        for (int k = 0; k < 2; ++k) {
          test_column col(30, model, 0.2);
          if (k == 1) {
            col.khead.assign(col.khead.size(), 0.7);
            col.watcap.assign(col.watcap.size(), 0.01);
          }
          richards_options o;
          o.model = model;
          o.iter_max = 3;
          o.water_table = water_table;
          richards_demand d;
          double depth = rain_cm / 100.0;
          int bound = 1;
          double dtr = 0.01;
          richards_books b;
          richards_column_step(col.v, col.n, o, d, 0.5, depth, bound, dtr, work.data(), b);
          ASSERT_FALSE(b.bad_number);
          ASSERT_GT(b.infiltrated, 0.0);
          final_theta[k] = col.theta;
          final_head[k] = col.phead;
        }
        EXPECT_EQ(final_theta[0], final_theta[1]);
        EXPECT_EQ(final_head[0], final_head[1]);
      }
    }
  }
}

}  // namespace

// The root zone of a column of 2 cm nodes 5 cm deep holds nodes 1 to 3 (the third reaches below
// the root depth); a moisture handed to it, bounded to the nodes' range as VOLP's moisture is
// (above saturation: 99 % of the way from residual; at or below residual: 1 %), becomes their
// content, with the head of the retention curve written out here: Brooks-Corey h = hb / Se^(1/l)
// below the transition content, h = hb Sec^(-1/l) ((1 - Se) / (1 - Sec))^0.5 above it;
// Havercamp h = -alpha (1/Se - 1)^(1/beta). Node 4 keeps its water, the surface node copies
// node 1, the conductivity follows the new head, and the change of the column's water is
// returned.
TEST(RichardsColumn, TheRootZoneTakesAMoistureWithTheHeadOfItsRetentionCurve) {
  const double ts = 0.45, tr = 0.08, hb = -25.0, lam = 0.4, alpha = 36.93, beta = 3.96;
  const double sec = 2.0 / (2.0 + lam);
  struct zone_case {
    int model;
    double given;
    double content;  // after the bounds
  };
  const zone_case cases[] = {
      {soil_model_brooks_corey, 0.20, 0.20},                   // power-law branch
      {soil_model_brooks_corey, 0.42, 0.42},                   // parabola near saturation
      {soil_model_brooks_corey, 0.60, tr + 0.99 * (ts - tr)},  // above saturation
      {soil_model_brooks_corey, 0.05, tr + 0.01 * (ts - tr)},  // below residual
      {soil_model_havercamp, 0.20, 0.20},
      {soil_model_havercamp, 0.08, tr + 0.01 * (ts - tr)},  // at residual
  };
  for (const zone_case& k : cases) {
    SCOPED_TRACE(::testing::Message() << "model " << k.model << " moisture " << k.given);
    test_column col(8, k.model, 0.25);
    const double head_below = col.phead[4];
    const double se = (k.content - tr) / (ts - tr);
    double head = 0.0;
    if (k.model == soil_model_havercamp)
      head = -alpha * std::pow(1.0 / se - 1.0, 1.0 / beta);
    else if (se > sec)
      head = hb * std::pow(sec, -1.0 / lam) * std::sqrt((1.0 - se) / (1.0 - sec));
    else
      head = hb / std::pow(se, 1.0 / lam);
    ASSERT_EQ(richards_root_zone_nodes(col.v, col.n, 5.0), 3);
    const double change = richards_root_zone_take_moisture(col.v, col.n, k.model, 5.0, k.given,
                                                           volp_moisture_bounded);
    EXPECT_NEAR(change, (k.content - 0.25) * 2.0 * 3, 1e-12);
    for (int j = 1; j <= 3; ++j) {
      EXPECT_NEAR(col.theta[j], k.content, 1e-12) << j;
      EXPECT_NEAR(col.phead[j], head, 1e-9 * std::fabs(head)) << j;
    }
    if (k.model == soil_model_brooks_corey && se <= sec) {
      // The power-law conductivity at the new head.
      EXPECT_NEAR(col.khead[1], std::pow(se, (3.0 * lam + 2.0) / lam), 1e-9 * col.khead[1]);
    }
    EXPECT_EQ(col.theta[0], col.theta[1]);
    EXPECT_EQ(col.theta[4], 0.25);
    EXPECT_EQ(col.phead[4], head_below);
    EXPECT_NEAR(richards_root_zone_moisture(col.v, col.n, 5.0), k.content, 1e-12);
  }
}

// The root zone's moisture is the mean of its nodes' contents weighted by their thicknesses; a
// root zone that reaches the bottom node stops above it, the column's boundary; a column
// without a root zone gives its top node's content.
TEST(RichardsColumn, TheRootZoneMoistureIsTheThicknessWeightedMeanOfItsNodes) {
  test_column col(4, soil_model_brooks_corey, 0.25);
  const double dz[] = {2.0, 2.0, 3.0, 5.0, 7.0};
  const double theta[] = {0.0, 0.10, 0.20, 0.30, 0.40};
  for (int j = 0; j <= 4; ++j) {
    col.dz[j] = dz[j];
    col.theta[j] = theta[j];
  }
  EXPECT_EQ(richards_root_zone_nodes(col.v, col.n, 6.0), 3);
  EXPECT_NEAR(richards_root_zone_moisture(col.v, col.n, 6.0), (0.2 + 0.6 + 1.5) / 10.0, 1e-15);
  EXPECT_EQ(richards_root_zone_nodes(col.v, col.n, 100.0), 3);
  EXPECT_EQ(richards_root_zone_nodes(col.v, col.n, 0.0), 0);
  EXPECT_EQ(richards_root_zone_moisture(col.v, col.n, 0.0), 0.10);
  EXPECT_EQ(richards_root_zone_take_moisture(col.v, col.n, soil_model_brooks_corey, 0.0, 0.3,
                                             volp_moisture_bounded),
            0.0);
  EXPECT_EQ(col.theta[1], 0.10);
}
