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
  int optimize_sed = 0;                    // OPTIMIZE_SED: sediment values instead of water
  char optimize_name[1024] = {};           // optimisation output file name
  // Per location 1..100 of the optimisation output (the hydrograph locations, or with
  // OPTIMIZE_SED the sediment locations), cleared at every event start.
  raw_array1d<double> loc_peak;      // the event's peak discharge (m3/s), or wash-load rate
  raw_array1d<double> loc_peak_aux;  // the event's volume (m3), or wash-load volume
  // With OPTIMIZE_SED, the event's wash load at the outlet, cleared at every event start.
  double event_wash_peak = 0.0;    // m3/s: largest wash-load discharge leaving the outlet node
  double event_wash_volume = 0.0;  // m3: wash load that left through the outlet
};
