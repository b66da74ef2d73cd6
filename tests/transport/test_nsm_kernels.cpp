// Kernels of the nutrient sub-model: the names and the species-to-pool map in both directions,
// the un-ionised ammonia against the temperature and pH relation of the ammonium equilibrium
// written out here, the thresholds below which no ammonia is reported, the nitrogen and
// phosphorus totals from hand sums, and the release of a soil pool into the water.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "transport/nutrients/nsm_kernels.h"

namespace {

TEST(NsmKernels, SpeciesAndPoolsMapToTheirPartnersBothWays) {
  // Four ordinary contaminants come first: the nutrient constituents are 5..17.
  const int base = 5;
  struct row {
    int constituent;
    bool water_to_soil;
    int expected;
  };
  const row rows[] = {
      {5, true, -1},    // NO2: no pool
      {6, true, 8},     // NO3 -> nitrate pool 4
      {7, true, 7},     // NH4 -> ammonium pool 3
      {8, true, 9},     // ON -> organic active N, pool 5
      {9, true, 15},    // OP -> organic active P, pool 11
      {10, true, 13},   // DP -> mineral solution P, pool 9
      {11, true, -1},   // ALG
      {12, true, -1},   // CBOD
      {13, true, -1},   // DO
      {5, false, -1},   // organic active carbon
      {6, false, -1},   // organic stable carbon
      {7, false, 7},    // ammonium pool -> NH4
      {8, false, 6},    // nitrate pool -> NO3
      {9, false, 8},    // organic active N -> ON
      {10, false, -1},  // organic fresh N
      {13, false, 10},  // mineral solution P -> DP
      {15, false, 9},   // organic active P -> OP
      {17, false, -1},  // organic stable P
      {4, true, 4},     // an ordinary contaminant is its own
      {18, false, 18},  // beyond the pools
  };
  for (const row& r : rows)
    EXPECT_EQ(nsm_map_species(base, r.constituent, r.water_to_soil), r.expected)
        << r.constituent << (r.water_to_soil ? " to soil" : " to water");
}

TEST(NsmKernels, NamesOfSpeciesPoolsAndTheirTags) {
  struct row {
    int k;
    bool soil;
    const char* expected;
  };
  const row rows[] = {{0, false, "Nitrite (NO2-)"},
                      {2, false, "Ammonium (NH4+)"},
                      {8, false, "Dissolved Oxygen (O2)"},
                      {11, false, "Dispersion coefficient"},
                      {12, false, nullptr},
                      {-1, false, nullptr},
                      {0, true, "Organic Active Carbon"},
                      {8, true, "Mineral Solution Phosphorus"},
                      {12, true, "Organic Stable Phosphorus"},
                      {13, true, nullptr}};
  for (const row& r : rows) {
    const char* name = nsm_constituent_name(r.k, r.soil);
    if (r.expected == nullptr) {
      EXPECT_EQ(name, nullptr) << r.k;
    } else {
      ASSERT_NE(name, nullptr) << r.k;
      EXPECT_STREQ(name, r.expected);
    }
  }
  EXPECT_STREQ(nsm_species_tag(1), "NO2");
  EXPECT_STREQ(nsm_species_tag(9), "DO");
  EXPECT_EQ(nsm_species_tag(0), nullptr);
  EXPECT_EQ(nsm_species_tag(10), nullptr);
}

// The share of total ammonia that is un-ionised: 1 / (1 + 10^(pKa - pH)), with
// pKa = 0.09018 + 2729.92 / T and T in kelvin.
double unionised_fraction(double celsius, double ph) {
  const double pka = 0.09018 + 2729.92 / (celsius + 273.15);
  return 1.0 / (1.0 + std::pow(10.0, pka - ph));
}

TEST(NsmKernels, UnionisedAmmoniaFollowsTheTemperatureAndPhRelation) {
  // At 25 degrees the ammonium ion's pKa is close to 9.25.
  EXPECT_NEAR(-std::log10(nsm_ammonia_ka(25.0)), 9.25, 0.01);
  // A warmer water dissociates more.
  EXPECT_GT(nsm_ammonia_ka(30.0), nsm_ammonia_ka(10.0));
  const double temps[] = {0.0, 10.0, 20.0, 25.0, 30.0};
  const double phs[] = {6.5, 7.5, 8.0, 9.0, 9.5};
  const double volume = 2.0;  // m3
  const double nh4 = 5.0;     // g of ammonium
  for (double t : temps) {
    for (double ph : phs) {
      const double nh3 = nsm_nh3_mass(nh4, volume, nsm_ammonia_ka(t), std::pow(10.0, -ph), 1e-7);
      // Moles of each form; the fraction is of their sum.
      const double n_nh3 = nh3 / 17.031;
      const double n_nh4 = nh4 / 18.039;
      const double expected = unionised_fraction(t, ph);
      EXPECT_NEAR(n_nh3 / (n_nh3 + n_nh4), expected, 1e-12 * expected) << t << " C, pH " << ph;
    }
  }
  // The tabulated share at 20 degrees and pH 8 is about 3.8 %.
  const double nh3 = nsm_nh3_mass(18.039, 1.0, nsm_ammonia_ka(20.0), 1e-8, 1e-7);
  EXPECT_NEAR((nh3 / 17.031) / (nh3 / 17.031 + 1.0), 0.038, 0.001);
}

TEST(NsmKernels, NoAmmoniaBelowTheSmallestWaterOrAmmonium) {
  const double ka = nsm_ammonia_ka(20.0);
  const double h = std::pow(10.0, -8.0);
  // Ammonium at 5e-8 mol per m3 in 1 m3: above the stream minimum, below the overland one.
  const double nh4 = 5e-8 * 18.039;
  EXPECT_GT(nsm_nh3_mass(nh4, 1.0, ka, h, nsm_min_nh4_molar_stream), 0.0);
  EXPECT_EQ(nsm_nh3_mass(nh4, 1.0, ka, h, nsm_min_nh4_molar_overland), 0.0);
  // Below 1e-4 m3 of water nothing is reported however much ammonium there is.
  EXPECT_EQ(nsm_nh3_mass(10.0, 0.99e-4, ka, h, nsm_min_nh4_molar_stream), 0.0);
  EXPECT_GT(nsm_nh3_mass(10.0, 1e-4, ka, h, nsm_min_nh4_molar_stream), 0.0);
  // A dry cell.
  EXPECT_EQ(nsm_nh3_mass(10.0, 0.0, ka, h, nsm_min_nh4_molar_overland), 0.0);
}

TEST(NsmKernels, TotalsAreTheSumsOfTheirSpecies) {
  // Two elements, 1-based: the second holds only phosphorus.
  const std::vector<double> no2{0, 1, 0}, no3{0, 2, 0}, nh4{0, 3, 0}, on{0, 4, 0}, op{0, 6, 0.25},
      dp{0, 7, 0.5}, nh3{0, 0.5, 0};
  nsm_species_masses m{no2.data(), no3.data(), nh4.data(), on.data(),
                       op.data(),  dp.data(),  nh3.data()};
  std::vector<double> n(3, -1.0), kn(3, -1.0), p(3, -1.0);
  nsm_totals(m, 2, n, kn, p);
  EXPECT_DOUBLE_EQ(n[1], 1 + 2 + 3 + 4 + 0.5);
  EXPECT_DOUBLE_EQ(kn[1], 3 + 4 + 0.5);
  EXPECT_DOUBLE_EQ(p[1], 13.0);
  EXPECT_EQ(n[2], 0.0);
  EXPECT_EQ(kn[2], 0.0);
  EXPECT_DOUBLE_EQ(p[2], 0.75);
  // A total not asked for is left alone, and the others are still formed.
  std::vector<double> only_p(3, -1.0);
  nsm_totals(m, 2, {}, {}, only_p);
  EXPECT_DOUBLE_EQ(only_p[1], 13.0);
}

TEST(NsmKernels, APoolReleasesItsShareOnlyIntoStandingWater) {
  struct row {
    double amount, depth, k, dt, expected;
  };
  const row rows[] = {
      {10.0, 0.01, 1e-3, 100.0, 10.0 * (1.0 - std::exp(-0.1))},
      {10.0, 0.0, 1e-3, 100.0, 0.0},   // a dry cell takes nothing
      {10.0, 0.01, 0.0, 100.0, 0.0},   // no exchange
      {10.0, 0.01, 1.0, 1e6, 10.0},    // at most what the pool holds
      {-1.0, 0.01, 1e-3, 100.0, 0.0},  // an empty (or overdrawn) pool gives nothing
      {10.0, 0.01, 1e-3, 0.0, 0.0},
  };
  for (const row& r : rows) {
    const double x = nsm_release(r.amount, r.depth, r.k, r.dt);
    EXPECT_NEAR(x, r.expected, 1e-14) << r.amount << " " << r.depth << " " << r.k;
    EXPECT_LE(x, std::fmax(r.amount, 0.0));
  }
}

}  // namespace
