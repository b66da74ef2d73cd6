// Objective functions of the calibration drivers: the observation file of event peaks and
// volumes, the six criteria of a run (HMLE with its lambda found by golden section, RMSE, the
// cost, the log error, the largest peak and volume), the per-run logs "%d_cost.out" and
// "%d_obs.log", and the results table "results_all.out". Called by the model-run callback after
// every trial and by the drivers after it.
#pragma once

#include <vector>

struct process_context;

// The no-data values of the criteria.
inline constexpr double objective_no_data = 999999.99;
inline constexpr double objective_no_largest = -99999.999;

// One evaluation as the results table shows it.
struct result_record {
  double cost = 0.0;
  double hmle = 0.0;
  double rmse = 0.0;
  double max_peak = 0.0;
  double max_volume = 0.0;
  std::vector<double> params;  // the trial's parameters 1..n (entry 0 unused)
  double log_error = 0.0;
  int n = 0;
};

// The evaluations since the table was last written, in the order they were made.
struct result_store {
  std::vector<result_record> records;
  int own_merged = 0;      // the root's evaluations merged with those of other processes
  long others_merged = 0;  // the other processes' evaluations received by the root
};

struct objective {
  double hmle = 0.0;                  // HMLE of the latest evaluation
  double rmse = 0.0;                  // RMSE of the latest evaluation
  double log_error = 0.0;             // log error of the latest evaluation
  double max_peak = 0.0;              // largest weighted simulated peak of the latest evaluation
  double max_volume = 0.0;            // largest weighted simulated volume of the latest evaluation
  double cost = 0.0;                  // cost of the latest evaluation (returned to the driver)
  std::vector<double> obs_peak;       // per row 1..obs_count: observed peak
  std::vector<double> obs_volume;     // per row: observed volume
  std::vector<double> peak_weight;    // per row: weight of the peak
  std::vector<double> volume_weight;  // per row: weight of the volume
  int obs_count = 0;                  // observation rows
  double volume_scale = 0.0;          // largest observed peak / largest observed volume
  result_store results;               // evaluations not yet written to the table
  int trial_refused = 0;  // the latest trial's run refused its set-up for every trial alike
};

// The simulated values of one run: slots 1..slots of the peaks and volumes (either may be
// absent: null). Rows beyond `slots` have no simulated value.
struct simulated_values {
  const double* peaks = nullptr;
  const double* volumes = nullptr;
  long slots = 0;
};

// Reads the observation file: a first line with the row count, then per row the observed
// peak, its weight, the observed volume and its weight. 1 on success; -1 when the file does not
// open, the count is not a number of at least 1, a row holds fewer than four numbers (error
// code 135 is also set) or the file ends early, each after a message naming file and line.
int objective_load(objective& obj, const char* file_name);

// Scores one run: the six criteria (the cost file and the observation log are appended to) and
// a record of the evaluation with the parameters 1..n. Returns the cost.
double objective_eval(objective& obj, const simulated_values& sim, int process_rank, int n,
                      const double* params);

// The criteria alone, each on the observation rows of `obj` (volume_scale is set as a side
// effect where the criterion computes it).
double objective_hmle(objective& obj, const simulated_values& sim);
double objective_rmse(objective& obj, const simulated_values& sim);
double objective_log_error(objective& obj, const simulated_values& sim);
double objective_max_peak(objective& obj, const simulated_values& sim);
double objective_max_volume(objective& obj, const simulated_values& sim);
// The cost; writes its lines to "%d_cost.out" of `process_rank`.
double objective_cost(objective& obj, const simulated_values& sim, int process_rank);

// The lambda of the HMLE: the golden-section search of |f| on [0.1, 3.0] for the observed
// peaks q[0..m) and their errors e[0..m).
double hmle_lambda(const std::vector<double>& q, const std::vector<double>& e);

// After every evaluation: the root gathers the records of the other processes (when several
// take part), the process of rank 0 appends them to "results_all.out", and every process
// empties its store.
void write_results_all(objective& obj, const process_context& info, int runs, int runs_per_process);
