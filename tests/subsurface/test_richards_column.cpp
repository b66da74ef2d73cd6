// The Richards column kernel alone: the soil functions against their own definitions (the
// retention curves invert each other, the capacity is the slope of the retention curve, the
// Brooks-Corey parabola meets the power law smoothly), and one column's books over a step with
// rain, ponding and root-zone evapotranspiration.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "subsurface/richards_column.h"

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
