// Kernels of the nutrient sub-model on plain arrays and scalars: the names of the water species
// and soil pools, the map between a species and its soil pool, the ammonia equilibrium, the
// nitrogen and phosphorus totals and the release of the top soil layer's pools into the overland
// water. Called by the nutrient set-up, the overland nutrient step and the nutrient outputs.
#pragma once

#include <span>

// Display name of water name k (0..11: the nine species, then dissolved organic carbon, its
// fraction of organic carbon and the dispersion coefficient) or, with `soil`, of pool k (0..12);
// null for any other k.
const char* nsm_constituent_name(int k, bool soil);

// Short tag of species k (1..9: "NO2" .. "DO"), as the output cards name them; null otherwise.
const char* nsm_species_tag(int k);

// Partner of a constituent number by the species-to-pool map (NO3 - nitrate pool, NH4 -
// ammonium pool, ON - organic active N, OP - organic active P, DP - mineral solution P): for a
// number in base..base + 12 (base the first NSM constituent) the partner's number in the
// direction `water_to_soil` gives, or -1 when it has none; any other number is returned as is.
int nsm_map_species(int base, int constituent, bool water_to_soil);

// Ammonia dissociation constant at the water temperature t (degrees Celsius):
// 10^-(0.09018 + 2729.92 / (t + 273.15)).
double nsm_ammonia_ka(double t);

// Un-ionised ammonia (g) of one element of water volume v (m3) holding nh4_mass g of ammonium,
// at dissociation constant ka and hydrogen-ion activity h_ion: 0 below 1e-4 m3 of water or
// when the ammonium, nh4_mass / 18.039 / v, is below `min_molar`; else the NH3 in equilibrium
// with the NH4+ (moles NH3 / moles NH4+ = ka / h_ion, molar masses 17.031 and 18.039).
double nsm_nh3_mass(double nh4_mass, double v, double ka, double h_ion, double min_molar);

// Smallest ammonium molar concentration that gets an NH3 value: overland and lakes, streams.
inline constexpr double nsm_min_nh4_molar_overland = 1e-7;
inline constexpr double nsm_min_nh4_molar_stream = 1e-8;

// The species masses of one medium, each per element 1..n.
struct nsm_species_masses {
  const double* no2 = nullptr;
  const double* no3 = nullptr;
  const double* nh4 = nullptr;
  const double* on = nullptr;
  const double* op = nullptr;
  const double* dp = nullptr;
  const double* nh3 = nullptr;  // un-ionised ammonia as last computed
};

// Per element 1..n: total nitrogen NO2 + NO3 + NH4 + ON + NH3, total Kjeldahl nitrogen
// NH4 + ON + NH3, total phosphorus OP + DP. An empty span is not filled.
void nsm_totals(const nsm_species_masses& m, int n, std::span<double> total_n,
                std::span<double> total_kn, std::span<double> total_p);

// The five soil-to-water pairs of the overland exchange, in the order they are taken: species
// and soil pool.
struct nsm_exchange_pair {
  int species;
  int pool;
};
inline constexpr nsm_exchange_pair nsm_exchange_pairs[5] = {
    {3, 3}, {2, 4}, {4, 5}, {6, 9}, {5, 11}};

// The amount a pool of `amount` g releases into the water of a cell over dt seconds at the
// exchange rate k (1/s): amount x (1 - e^(-k dt)) when the cell holds water (depth at least
// 1e-16 m), else 0. Never more than the pool holds, never negative.
double nsm_release(double amount, double depth, double k, double dt);
