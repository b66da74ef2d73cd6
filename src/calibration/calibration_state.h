// Calibration drivers: the member record of the run's model_state that links a run to the
// driver that started it.
#pragma once

#include <memory>

#include "calibration/run_result_state.h"
#include "framework/core/raw_arrays.h"

struct calibration_state {
  int optimize_on = 0;                     // OPTIMIZE: per-event results are collected for a driver
  run_result* driver_result = nullptr;     // the driver's result holder, or null
  std::unique_ptr<run_result> own_result;  // the holder of a run with OPTIMIZE and no driver
  int sed_location_count = 0;              // sediment output locations (their list is not read yet)
  int optimize_sed = 0;                    // OPTIMIZE_SED: sediment values instead of water
  char optimize_name[1024] = {};           // optimisation output file name
  raw_array1d<double> loc_peak;            // per hydrograph location 1..100: running peak (m3/s)
  raw_array1d<double> loc_peak_aux;        // per hydrograph location 1..100: second running value
};
