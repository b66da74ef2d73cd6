// Calibration drivers: the member record of the run's model_state that links a run to the
// driver that started it.
#pragma once

struct run_result;

struct calibration_state {
  int optimize_on = 0;                  // OPTIMIZE: per-event results are collected for a driver
  run_result* driver_result = nullptr;  // the driver's result holder, or null
};
