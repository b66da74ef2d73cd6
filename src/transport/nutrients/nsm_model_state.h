// Nutrient sub-model container: created by the NUTRIENTS project card and filled by the nutrient
// cards while the project file is read; the run-parameter step then hands it to the run.
#pragma once

#include "framework/core/file_handle.h"

inline constexpr int nsm_species_count = 9;    // NO2, NO3, NH4, ON, OP, DP, ALG, CBOD, DO
inline constexpr int nsm_ov_input_count = 12;  // the species, then DOC, DOC fraction, dispersion

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

struct nsm_model {
  char aq_env_file[1024] = {};  // AQ_ENV: aquatic environment file
  // OV_INIT_NO2 .. OV_INIT_DO, OV_DOC_INIT, OV_DOC_FOC, OV_DISPERSION: entries 0..11.
  nsm_init_setting ov_init[nsm_ov_input_count];
  nsm_output_switch ov_out[nsm_species_count];   // OUT_OV_<species>: overland maps, 0..8
  nsm_init_setting st_init[nsm_species_count];   // ST_INIT_NO2 .. ST_INIT_DO: entries 0..8
  nsm_output_switch st_out[nsm_species_count];   // OUT_ST_<species>: stream outputs, 0..8
  nsm_output_switch hyd_out[nsm_species_count];  // OUT_HYD_<species>: outlet series, 0..8
  file_handle hyd_conc_file[nsm_species_count];  // per species 0..8: concentration series
  file_handle hyd_mass_file[nsm_species_count];  // per species 0..8: mass series
};
