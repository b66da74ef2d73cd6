// Calibration drivers: SCE-UA calibration, Monte Carlo and sensitivity runs, and the model-run
// callback through which they run the model once per trial.
#pragma once

struct model_state;
struct process_context;
struct run_result;

// The callback through which a driver runs the model: replacement-list file, project file,
// parameter values 1..n, objective, n; returns the cost.
using model_run_fn = double (*)(const char* replace_file, const char* project_file,
                                const double* params, int objective, int n);

// Mode 2: SCE-UA calibration described by the control file.
int sce_calibrate(process_context& info, const char* control_file);
// Mode 6: Monte Carlo runs described by the control file.
int montecarlo_main(process_context& info, int run_count, const char* control_file);
// One calibration trial.
double calib_model_run(const char* replace_file, const char* project_file, const double* params,
                       int objective, int n);
// Start-up: creates the run's result holder when OPTIMIZE is on and none was passed.
void alloc_driver_results(model_state& ms);

// Monte Carlo and sensitivity runs of the model.
class montecarlo {
 public:
  montecarlo(int run_count, const char* input_file, process_context& info);
  ~montecarlo();
  montecarlo(const montecarlo&) = delete;
  montecarlo& operator=(const montecarlo&) = delete;

  // Makes the runs; 0 when the input file did not load.
  int run();
  // Prints the best objective value and its parameters.
  void report_best();

  model_run_fn model_run = nullptr;  // the model-run callback

 private:
  int run_count_;
  bool loaded_ = false;
};
