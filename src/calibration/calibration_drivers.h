// Calibration drivers: SCE-UA calibration, Monte Carlo and sensitivity runs, and the model-run
// callback through which they run the model once per trial.
#pragma once

#include <string>
#include <vector>

#include "calibration/objectives.h"
#include "calibration/run_result.h"
#include "calibration/sce_random.h"
#include "framework/core/file_handle.h"

struct model_state;
struct process_context;
struct run_result;

// The callback through which a driver runs the model: replacement-list file, project file,
// parameter values 1..n (entry 0 unused), objective, n; returns the cost.
using model_run_fn = double (*)(const char* replace_file, const char* project_file,
                                const double* params, objective* obj, int n);

// How a trial runs one project with a result holder (the run driver's run_project); the program
// entry registers it before a driver starts. Returns the error code left pending by the run.
using project_runner = int (*)(const char* project_path, run_result* result);
void set_project_runner(project_runner runner);

// Mode 2: SCE-UA calibration described by the control file.
int sce_calibrate(process_context& info, const char* control_file);
// Mode 6: Monte Carlo runs described by the input file; 1 when the runs were made.
int montecarlo_main(process_context& info, int run_count, const char* input_file);
// Mode 7: the 500 sensitivity runs (divided among the processes) of the same input file.
int sensitivity_main(process_context& info, const char* input_file);
// One calibration trial: the parameters go into the replacement list, the project runs once
// and its events are scored by `obj`. Returns the cost.
double calib_model_run(const char* replace_file, const char* project_file, const double* params,
                       objective* obj, int n);

// Monte Carlo and sensitivity runs of the model: each run draws its parameters between their
// bounds, runs the model through the callback and is logged; the best run is reported.
class montecarlo {
 public:
  montecarlo(int runs, const char* input_file, process_context& info);
  virtual ~montecarlo();
  montecarlo(const montecarlo&) = delete;
  montecarlo& operator=(const montecarlo&) = delete;

  // Reads the input file: project, replacement list and observation files, the parameter
  // count and a line per parameter (its least and greatest value, or one value held fixed).
  virtual void read_input(const char* input_file);
  // Draws the values of the next run into current[1..n].
  virtual void draw_parameters();

  // Makes the runs; 0 when the input file did not load.
  int run();
  // Prints the best objective value and its parameters and writes "best.out".
  void report_best();

  model_run_fn run_model = nullptr;  // the model-run callback

  int root = 0;                        // 1 on the process that draws, logs and reports
  process_context* process = nullptr;  // the process-wide record
  objective obj;                       // observation set and result store
  file_handle log_file;                // "log_file_p%d.log"
  std::string project_file;            // project file of every run
  std::string replace_file;            // replacement-parameter file of every run
  std::string observation_file;        // observation file
  int runs = 0;                        // runs of this process
  int first_run = 0;                   // runs of the whole sequence before this process's share
  int param_count = 0;                 // n
  std::vector<double> min, max;        // per parameter 1..n: bounds
  int loaded = 0;                      // 1 when the input file was read
  std::vector<double> current;         // values of the run in progress, 0..n (entry 0 is 0)
  std::vector<double> best;            // values of the best run so far, 1..n
  double best_cost = 0.0;              // cost of the best run so far
  draw_generator draws;                // the generator of the drawn values

 private:
  void log_run(double cost);
};

// Parameters of one SCE-UA calibration: the control values, bounds and files.
struct sce_object {
  file_handle log_file;          // "sce_log_file.txt"
  int log_failed = 0;            // opening the log failed; no further log output
  std::string project_file;      // project file of every trial
  std::string replace_file;      // replacement-parameter file of every trial
  std::string observation_file;  // observation file
  int output_open = 0;           // the output file is open for the checks and the optimiser
  file_handle output_file;       // "sce_output.out"
  int read_names = 0;            // the control file begins with the three file names
  int setup_ok = 0;              // control file read and checked, output file open
  model_run_fn run_model = nullptr;
  int nopt = 0, maxn = 0, kstop = 0, iseed = 0, ngs = 0, npg = 0, nps = 0, nspl = 0, mings = 0;
  int iniflg = 0, iprint = 0, ideflt = 0;
  double pcento = 0.0;
  std::vector<double> initial, lower, upper;  // per parameter 1..nopt
  std::vector<double> best;                   // best point found, 1..nopt
  objective* obj = nullptr;                   // observation set and result store
  std::vector<double> xmax, xmin, xmean;      // population statistics, 1..nopt
  shuffled_uniform rng;                       // the uniform and normal deviates
  process_context* process = nullptr;
};

// Reads the control file, checks its values and opens the output file; sets setup_ok.
void sce_setup(sce_object& s, const char* control_file, const char* output_file);
// Reads the control file from an open stream; 0, or -1 after a message naming file and line.
int scein(sce_object& s, file_handle& h);
// Checks and defaults the control values; the number of warnings, or -1 for an invalid number
// of complexes.
int sce_check_params(sce_object& s);
// The optimiser: returns its run counter at the end (>= 1), or -1.
int sceua(sce_object& s);
