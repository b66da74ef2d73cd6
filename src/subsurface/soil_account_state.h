// The two-zone soil water account of long-term runs: drainage of each zone and the account's
// totals, kept between events. Data only; a member of subsurface_state.
#pragma once

#include "framework/core/raw_arrays.h"

struct soil_account_state {
  raw_array1d<double>
      drain_upper_cum;  // per cell 1..cell_count: drainage out of the upper zone (cm)
  raw_array1d<double> drain_lower_cum;  // per cell: drainage out of the lower zone (cm)
  double et_volume_total = 0.0;         // m3: evapotranspiration the account took in the run
  double et_from_gw = 0.0;              // m: evapotranspiration drawn from the water table
  double inf_longterm_total = 0.0;      // m: infiltration the account took into the zones
  int et_stress_alt = 0;                // the alternative soil-water stress form
};
