// Kernels of the nutrient sub-model: names, the species-to-pool map, the ammonia equilibrium,
// the nitrogen and phosphorus totals and the release of a soil pool into the overland water.
#include "transport/nutrients/nsm_kernels.h"

#include <cmath>

namespace {

constexpr const char* water_names[12] = {"Nitrite (NO2-)",
                                         "Nitrate (NO3-)",
                                         "Ammonium (NH4+)",
                                         "Organic Nitrogen (Organic N)",
                                         "Organic Phosphorous (Organic P)",
                                         "Dissolved Phosphorous (Dissolved P)",
                                         "Algae",
                                         "Carbonaceous Biochemical Oxygen Demand",
                                         "Dissolved Oxygen (O2)",
                                         "Dissolved Org. Carbon",
                                         "Dissolved Org. Carbon, Fraction Org. C.",
                                         "Dispersion coefficient"};

constexpr const char* pool_names[13] = {"Organic Active Carbon",
                                        "Organic Stable Carbon",
                                        "Ammonium (NH4+)",
                                        "Nitrate (NO3-)",
                                        "Organic Active Nitrogen",
                                        "Organic Fresh Nitrogen",
                                        "Organic Stable Nitrogen",
                                        "Mineral Active Phosphorus",
                                        "Mineral Solution Phosphorus",
                                        "Mineral Stable Phosphorus",
                                        "Organic Active Phosphorus",
                                        "Organic Fresh Phosphorus",
                                        "Organic Stable Phosphorus"};

constexpr const char* tags[9] = {"NO2", "NO3", "NH4", "ON", "OP", "DP", "ALG", "CBOD", "DO"};

constexpr double nh4_molar_mass = 18.039;  // g/mol
constexpr double nh3_molar_mass = 17.031;  // g/mol
constexpr double min_volume = 0.0001;      // m3
constexpr double tiny = 1e-16;

}  // namespace

const char* nsm_constituent_name(int k, bool soil) {
  if (soil) return k >= 0 && k < 13 ? pool_names[k] : nullptr;
  return k >= 0 && k < 12 ? water_names[k] : nullptr;
}

const char* nsm_species_tag(int k) {
  return k >= 1 && k <= 9 ? tags[k - 1] : nullptr;
}

int nsm_map_species(int base, int constituent, bool water_to_soil) {
  const int offset = constituent - base + 1;  // species or pool number
  if (offset < 1 || offset > 13) return constituent;
  // Water species -> pool, and back (0: no partner).
  constexpr int to_pool[10] = {0, 0, 4, 3, 5, 11, 9, 0, 0, 0};
  constexpr int to_species[14] = {0, 0, 0, 3, 2, 4, 0, 0, 0, 6, 0, 5, 0, 0};
  int partner = 0;
  if (water_to_soil) {
    partner = offset <= 9 ? to_pool[offset] : 0;
  } else {
    partner = to_species[offset];
  }
  return partner == 0 ? -1 : base + partner - 1;
}

double nsm_ammonia_ka(double t) {
  return std::pow(10.0, -(0.09018 + 2729.92 / (t + 273.15)));
}

double nsm_nh3_mass(double nh4_mass, double v, double ka, double h_ion, double min_molar) {
  if (!(v >= min_volume)) return 0.0;
  // Moles of ammonium per m3 of water; the equilibrium ratio turns them into moles of ammonia.
  const double molar = nh4_mass / nh4_molar_mass / v;
  if (!(molar >= min_molar)) return 0.0;
  return molar * ka / h_ion * nh3_molar_mass * v;
}

void nsm_totals(const nsm_species_masses& m, int n, std::span<double> total_n,
                std::span<double> total_kn, std::span<double> total_p) {
  const bool with_n = total_n.size() > static_cast<std::size_t>(n);
  const bool with_kn = total_kn.size() > static_cast<std::size_t>(n);
  const bool with_p = total_p.size() > static_cast<std::size_t>(n);
  for (int i = 1; i <= n; ++i) {
    const double kjeldahl = m.nh4[i] + m.on[i] + m.nh3[i];
    if (with_n) total_n[i] = m.no2[i] + m.no3[i] + kjeldahl;
    if (with_kn) total_kn[i] = kjeldahl;
    if (with_p) total_p[i] = m.op[i] + m.dp[i];
  }
}

double nsm_release(double amount, double depth, double k, double dt) {
  if (!(depth >= tiny) || !(amount > 0.0) || !(k > 0.0) || !(dt > 0.0)) return 0.0;
  const double x = amount * -std::expm1(-k * dt);
  return x < amount ? x : amount;
}
