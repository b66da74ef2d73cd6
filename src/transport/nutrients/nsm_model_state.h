// Nutrient sub-model container: created by the NUTRIENTS project card and filled by the nutrient
// cards while the project file is read; the run-parameter step then hands it to the run, whose
// start-up allocates its media and whose transport steps and outputs work on them.
#pragma once

#include <string>

#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"

inline constexpr int nsm_species_count = 9;    // NO2, NO3, NH4, ON, OP, DP, ALG, CBOD, DO
inline constexpr int nsm_ov_input_count = 12;  // the species, then DOC, DOC fraction, dispersion
inline constexpr int nsm_pool_count = 13;      // soil pools, carbon, nitrogen, phosphorus
inline constexpr int nsm_aq_param_count = 52;  // parameters of one aquatic environment
inline constexpr int nsm_sorption_count = 12;  // Km of NO2..DP, then Koc of NO2..DP

// Water species, 1-based as the constituent list numbers them from its first NSM constituent.
enum nsm_species : int {
  nsm_no2 = 1,
  nsm_no3 = 2,
  nsm_nh4 = 3,
  nsm_on = 4,
  nsm_op = 5,
  nsm_dp = 6,
  nsm_alg = 7,
  nsm_cbod = 8,
  nsm_do = 9,
};

// Soil pools, 1-based.
enum nsm_pool : int {
  nsm_pool_active_c = 1,
  nsm_pool_stable_c = 2,
  nsm_pool_nh4 = 3,
  nsm_pool_no3 = 4,
  nsm_pool_active_n = 5,
  nsm_pool_fresh_n = 6,
  nsm_pool_stable_n = 7,
  nsm_pool_mineral_active_p = 8,
  nsm_pool_solution_p = 9,
  nsm_pool_mineral_stable_p = 10,
  nsm_pool_active_p = 11,
  nsm_pool_fresh_p = 12,
  nsm_pool_stable_p = 13,
};

// How an initial value is given.
struct nsm_init_setting {
  int mode = 0;              // 0 not given, 1 map file, 2 mapping table, 3 uniform value
  char map_file[1024] = {};  // map file name (mode 1)
  double value = 0.0;        // uniform value (mode 3)
};

// One species' output switch and base name.
struct nsm_output_switch {
  int on = 0;                 // 1 when the species is written
  char base_name[1024] = {};  // base name of the output
};

// The aquatic environment file: its parameter sets by environment id and the overland id map.
struct nsm_aquatic_env {
  std::string ov_map;          // OV_MAP: overland environment-id map file
  std::string st_map;          // ST_MAP: stream environment-id map (named, never read)
  int num_ids = 0;             // NUM_IDS: environments 1..num_ids
  raw_array2d<double> params;  // [id 1..num_ids][slot 0..51]: parameters, 0 when DEFAULT
  int cell_count = 0;          // cells of the overland id map
  raw_array1d<int> ov_ids;     // per cell 1..cell_count: environment id
};

// The nutrient water species on the overland plane. The species' concentrations and masses are
// the rows of the run's constituent tables (g/m3 and g per cell), reached by constituent number
// first_constituent + species - 1, so the constituent transport moves them in place.
struct nsm_overland {
  int cell_count = 0;              // cells 1..cell_count
  int first_constituent = 0;       // constituent number of NO2; 0 until the list is extended
  double cell_size = 0.0;          // m
  double cell_area = 0.0;          // m2
  double water_temp = 0.0;         // degrees Celsius (WATER_TEMP)
  double ph = 7.0;                 // CHAN_PH
  double h_ion = 1e-7;             // mol/L: 10^-pH
  double ka = 0.0;                 // ammonia dissociation constant at the water temperature
  raw_array1d<double> doc;         // per cell: dissolved organic carbon (g/m3)
  raw_array1d<double> doc_foc;     // per cell: its fraction of organic carbon
  raw_array1d<double> dispersion;  // per cell: dispersion coefficient (m2/s)
  raw_array1d<double> nh3;         // per cell: un-ionised ammonia (g), as last computed
  raw_array1d<double> total_n;     // per cell: total nitrogen (g), as last computed
  raw_array1d<double> total_p;     // per cell: total phosphorus (g), as last computed
};

// The nutrient water species in the channel network. The species' concentrations and masses are
// the rows of the run's channel constituent tables (g/m3 and g per node, flat node index
// link x stride + node), so the channel constituent routing moves them in place; this medium
// holds the water chemistry and the results the channel outputs show.
struct nsm_streams {
  int link_count = 0;         // links 1..link_count
  int max_nodes = 0;          // largest node count of a link (rows of the result tables)
  int stride = 0;             // flat node stride of the channel constituent tables
  int first_constituent = 0;  // constituent number of NO2
  double water_temp = 0.0;    // degrees Celsius (WATER_TEMP)
  double ph = 7.0;            // CHAN_PH
  double h_ion = 1e-7;        // mol/L: 10^-pH
  double ka = 0.0;            // ammonia dissociation constant at the water temperature
  // Results as last computed, [node 1..max_nodes][link 1..link_count] (g).
  raw_array2d<double> nh3;       // un-ionised ammonia
  raw_array2d<double> total_n;   // total nitrogen
  raw_array2d<double> total_kn;  // total Kjeldahl nitrogen
  raw_array2d<double> total_p;   // total phosphorus
  // Run books (kg), per species 1..9: in the channels after the initial values were set.
  double initial[nsm_species_count + 1] = {};
};

// The nutrient water species in the channel lakes. The species' masses and concentrations are
// the rows of the run's lake constituent tables (g and g/m3 per lake), so the lake constituent
// routing moves them; this medium holds the lakes' water chemistry and the results the channel
// outputs and the summary show.
struct nsm_lakes {
  int lake_count = 0;         // lakes 1..lake_count
  int first_constituent = 0;  // constituent number of NO2
  double water_temp = 0.0;    // degrees Celsius (WATER_TEMP)
  double ph = 7.0;            // CHAN_PH
  double h_ion = 1e-7;        // mol/L: 10^-pH
  double ka = 0.0;            // ammonia dissociation constant at the water temperature
  // As last computed, [species 1..9][lake 1..lake_count]: the species' mass (g) and
  // concentration (g/m3), taken from the lake constituent tables for the channel outputs.
  raw_array2d<double> mass;
  raw_array2d<double> conc;
  // Results as last computed, per lake 1..lake_count (g).
  raw_array1d<double> nh3;       // un-ionised ammonia
  raw_array1d<double> total_n;   // total nitrogen
  raw_array1d<double> total_kn;  // total Kjeldahl nitrogen
  raw_array1d<double> total_p;   // total phosphorus
};

// The soil pools of the cells' top soil layer (the layer that exchanges with the water).
struct nsm_soils {
  int cell_count = 0;                       // cells 1..cell_count
  int layer_count = 0;                      // carrier layers of the soil constituents
  raw_array3d<double> pool;                 // [pool 1..13][cell][layer]: amount (g)
  raw_array2d<double> sorption;             // [cell][slot 0..11]: Km then Koc of NO2..DP
  raw_array2d<double> held;                 // [species 1..9][cell]: infiltrated mass of a species
                                            // without a soil pool, kept in the layer's water (g)
  double exchange_rate = 0.0;               // 1/s: share of an exchanging pool released per second
  double initial[nsm_pool_count + 1] = {};  // per pool: amount at the start of the run (g)
  // Run totals per species 1..9 (g): what infiltrated into the soil, what the soil gave the
  // water.
  double species_in[nsm_species_count + 1] = {};
  double species_out[nsm_species_count + 1] = {};
};

// The run totals and stocks of the nutrient species and pools as they stood when the current
// event began (kg), against which the event's own books are formed.
struct nsm_event_start {
  // Per species 1..9: the overland water's mass and run totals (point sources, rain, release
  // from the soil, infiltration, outlet, handed to the stream, restored to emptied cells).
  double ov_mass[nsm_species_count + 1] = {};
  double ov_point[nsm_species_count + 1] = {};
  double ov_exfil[nsm_species_count + 1] = {};
  double ov_precip[nsm_species_count + 1] = {};
  double ov_uptake[nsm_species_count + 1] = {};
  double ov_infil[nsm_species_count + 1] = {};
  double ov_out[nsm_species_count + 1] = {};
  double ov_qlat[nsm_species_count + 1] = {};
  double ov_neg[nsm_species_count + 1] = {};
  // Per species 1..9: the channels' mass (with what waits to be applied) and run totals (from
  // the plane, through the outlet, restored to emptied nodes).
  double chan_mass[nsm_species_count + 1] = {};
  double chan_in[nsm_species_count + 1] = {};
  double chan_out[nsm_species_count + 1] = {};
  double chan_restored[nsm_species_count + 1] = {};
  double chan_ground[nsm_species_count + 1] = {};  // through the stream beds (net)
  double chan_point[nsm_species_count + 1] = {};   // from the channel point sources (net)
  // Per species 1..9, with lakes: the run totals of the exchanges with the lakes (see
  // nsm_event_species_books).
  double ov_to_lakes[nsm_species_count + 1] = {};
  double ov_from_lakes[nsm_species_count + 1] = {};
  double chan_from_lakes[nsm_species_count + 1] = {};
  double chan_to_lakes[nsm_species_count + 1] = {};
  // Per pool 1..13 the soil's amount over all layers; per species 1..9 the run totals of what
  // the pools took from infiltration and gave the water.
  double pool[nsm_pool_count + 1] = {};
  double soil_in[nsm_species_count + 1] = {};
  double soil_out[nsm_species_count + 1] = {};
};

struct nsm_model {
  int cell_count = 0;           // cells, copied before the aquatic environment is read
  char aq_env_file[1024] = {};  // AQ_ENV: aquatic environment file
  nsm_aquatic_env aquatic_env;
  nsm_overland overland;
  nsm_streams streams;
  nsm_lakes lakes;
  nsm_soils soils;
  // OV_INIT_NO2 .. OV_INIT_DO, OV_DOC_INIT, OV_DOC_FOC, OV_DISPERSION: entries 0..11.
  nsm_init_setting ov_init[nsm_ov_input_count];
  nsm_output_switch ov_out[nsm_species_count];   // OUT_OV_<species>: overland maps, 0..8
  nsm_init_setting st_init[nsm_species_count];   // ST_INIT_NO2 .. ST_INIT_DO: entries 0..8
  nsm_output_switch st_out[nsm_species_count];   // OUT_ST_<species>: stream outputs, 0..8
  nsm_output_switch hyd_out[nsm_species_count];  // OUT_HYD_<species>: outlet series, 0..8
  file_handle hyd_conc_file[nsm_species_count];  // per species 0..8: concentration series
  file_handle hyd_mass_file[nsm_species_count];  // per species 0..8: mass series
  nsm_event_start event_start;                   // taken when each event begins
};
