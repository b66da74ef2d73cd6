// Calibration drivers. SCE-UA calibration and the Monte Carlo control-file readers are not built
// yet: calibration does nothing, and a Monte Carlo or sensitivity input never loads.
#include "calibration/calibration_drivers.h"

#include <cstdio>

#include "framework/core/process_info.h"
#include "framework/model_state.h"

int sce_calibrate(process_context&, const char*) {
  return 0;
}

int montecarlo_main(process_context& info, int run_count, const char* control_file) {
  montecarlo mc(run_count / (info.num_processes > 0 ? info.num_processes : 1), control_file, info);
  mc.model_run = calib_model_run;
  if (mc.run()) mc.report_best();
  return 0;
}

double calib_model_run(const char*, const char*, const double*, int, int) {
  return 0.0;
}

montecarlo::montecarlo(int run_count, const char*, process_context&) : run_count_(run_count) {}

montecarlo::~montecarlo() = default;

int montecarlo::run() {
  if (!loaded_) {
    printf("Error: unable to read the input monte carlo file.\n");
    return 0;
  }
  return run_count_;
}

void montecarlo::report_best() {}
