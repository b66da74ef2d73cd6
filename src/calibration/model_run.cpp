// The model-run callback of the calibration drivers: one trial puts its parameter values into
// the replacement list, runs the project once through the registered runner with a result
// holder, and scores the run's event peaks and volumes with the driver's objective.
#include <cmath>
#include <cstdio>

#include "calibration/calibration_drivers.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "input/input_steps.h"

namespace {

// The run driver's entry, registered by the program entry: the calibration drivers sit below it.
struct runner_hook {
  project_runner fn = nullptr;
};
runner_hook& hook() {
  static runner_hook h;
  return h;
}

}  // namespace

void set_project_runner(project_runner runner) {
  hook().fn = runner;
}

double calib_model_run(const char* replace_file, const char* project_file, const double* params,
                       objective* obj, int n) {
  run_result holder{};
  holder.replace_file = replace_file;
  // From the first trial on, every file this process writes carries its run prefix.
  run_number = process_info.process_rank;
  run_prefix_on = 1;
  // Every trial writes the files of the one before afresh: their streams are kept open between
  // trials and emptied rather than the files made anew.
  file_handle_keep_streams();
  read_replace_params(replace_file);
  int k = 1;
  for (replace_param* p = replace_list; p != nullptr; p = p->param_next, ++k) {
    if (k > n) break;  // an entry without a trial value keeps what it holds
    p->param_dvalue = params[k];
    // An integer parameter takes the trial value rounded to the nearest whole number.
    if (p->param_type == 0) p->param_ivalue = static_cast<int>(std::lround(params[k]));
  }
  replace_switch_on();
  if (hook().fn != nullptr) hook().fn(project_file, &holder);
  simulated_values sim;
  sim.peaks = holder.peaks;
  sim.volumes = holder.volumes;
  sim.slots = static_cast<long>(holder.events_filled) * holder.stride;
  double cost = objective_no_data;
  if (obj != nullptr) {
    cost = objective_eval(*obj, sim, process_info.process_rank, n, params);
    obj->trial_refused = holder.replacement_unused;
  }
  release_event_values(holder);
  release_location_values(holder);
  return cost;
}
