// Shared test helpers: a guard of the process-wide state of the model, a temporary working
// folder per test, capture of what the model prints, small file writers and readers, ASCII grid
// headers, and running the torva executable.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/core/error_state.h"

struct file_handle;
struct replace_param;
struct run_steps;

namespace torva_test {

// Keeps the process-wide state of the model for the lifetime of the object. The constructor
// saves the file-name state (project and output folders, output_dir_set, the run prefix and run
// number), console_silent, the replacement state (replace_active, replace_count,
// replace_line_index and the list itself, which is set aside), run_error, error_echo_file,
// pause_on_exit, the OpenMP thread count, process_info.num_threads and
// process_info.process_rank, and then puts the state at the clean start of a run (see reset). The
// destructor empties the per-run lists, closes r7_inflow_file and restores everything it saved.
// Declare it before the members that use that state (temporary folders, model states) so that
// it is destroyed after them.
class process_state_guard {
 public:
  process_state_guard();
  ~process_state_guard();
  process_state_guard(const process_state_guard&) = delete;
  process_state_guard& operator=(const process_state_guard&) = delete;

  // The clean start of a run, again (for a test that starts over): empties the per-run lists
  // (time series, elevation series and pumps, wells, replacement entries), closes
  // r7_inflow_file, empties both folders, clears output_dir_set, turns the run prefix off with
  // run number 0, makes the console not silent, turns replacement off (line 0, no count),
  // clears run_error, the echo file and pause_on_exit, and sets the process rank to 0. The
  // thread count is left as it is. What was saved at construction is kept.
  void reset();

 private:
  std::string project_dir_;
  std::string output_dir_;
  int output_dir_set_ = 0;
  int run_prefix_on_ = 0;
  int run_number_ = 0;
  bool console_silent_ = false;
  replace_param* replace_list_ = nullptr;
  int replace_active_ = 0;
  int replace_count_ = 0;
  int replace_line_index_ = 0;
  error_state run_error_{};
  file_handle* error_echo_file_ = nullptr;
  int pause_on_exit_ = 0;
  int threads_ = 1;
  int process_threads_ = 1;
  int process_rank_ = 0;
};

// Creates a fresh folder under the system's temporary folder and makes it the working
// directory for the lifetime of the object; restores the old working directory and removes the
// folder afterwards.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::string& path() const { return path_; }
  // Absolute path of `name` inside the folder.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::string old_cwd_;
};

// Captures everything written to standard output (by printf, puts, ...) between start and stop.
class stdout_capture {
 public:
  stdout_capture();
  ~stdout_capture();
  stdout_capture(const stdout_capture&) = delete;
  stdout_capture& operator=(const stdout_capture&) = delete;
  // Stops capturing (once) and returns what was written.
  std::string stop();

 private:
  int saved_fd_ = -1;
  std::string file_;
  std::string text_;
  bool stopped_ = false;
};

// Runs `step` and returns what it printed on standard output.
std::string stdout_of(const std::function<void()>& step);

void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);
// A number as the project and map files of the cases write it: up to ten significant digits.
std::string number(double v);
bool file_exists(const std::string& path);

// Result of running a command: exit status, standard output and standard error, with the
// wall time it took and the peak resident memory of the child (getrusage of the child).
struct command_result {
  int status = -1;
  std::string out;
  std::string err;
  double seconds = 0.0;
  long peak_kb = 0;
};

// Runs `program` with `args` (no shell), with `input` on standard input and the extra
// environment assignments `env` ("NAME=value", taking the place of a variable of the same name),
// in the current working directory. The program inherits the tests' environment without
// CONTENT_LENGTH and without the threads' waiting settings of the test runner (OMP_WAIT_POLICY,
// GOMP_SPINCOUNT). Unless `env` gives one of them, the program is handed the bounded spin count it
// would set for itself: it then waits at its barriers as it would by its own policy, without
// starting itself a second time to take it (each start of an instrumented build costs a tenth of
// a second of processor time).
command_result run_command(const std::string& program, const std::vector<std::string>& args,
                           const std::string& input = "", const std::vector<std::string>& env = {});
// As run_command, but without the bounded spin count: a program given no waiting setting by
// `env` sets its own, starting itself again. For the tests of that start.
command_result run_command_own_waiting(const std::string& program,
                                       const std::vector<std::string>& args,
                                       const std::string& input = "",
                                       const std::vector<std::string>& env = {});

// The two thread counts every comparison of whole runs sets. The program sets its own thread
// count to the processor count at start-up, whatever OMP_NUM_THREADS says, so only the project's
// NUM_THREADS card makes two runs differ in their thread count.
inline constexpr int compared_thread_counts[2] = {1, 8};

// Runs the torva executable on the project file `project` (a path from the current folder) with
// its thread count set by a NUM_THREADS card: the project's own NUM_THREADS cards are dropped and
// "NUM_THREADS <threads>" is written at its end; on more than one thread every thread takes a
// share of 16 cells or more (TORVA_CELLS_PER_THREAD), so a small grid is shared too. Expects the
// console to show that the program took the count ("Setting the thread level to <threads>.") and no
// refusal of it. `env` adds environment assignments, as run_command takes them.
command_result run_with_threads(const std::string& project, int threads,
                                const std::vector<std::string>& env = {});

// Runs `project` at each of compared_thread_counts, the outputs of each run read by `outputs`
// after it: expects each run to end with `expected_status` and the two runs' outputs to be
// the same bytes. The files of the last run (8 threads) are left in place.
struct thread_runs {
  command_result run[2];
  std::string outputs[2];
};
thread_runs run_at_compared_thread_counts(const std::string& project,
                                          const std::function<std::string()>& outputs,
                                          int expected_status = 0);

// The values of link 1 in every record of a link/node dataset ("TS k", then per link its value
// count and "1 value" pairs): record r's value of node k at [r][k], element 0 holding 0.0.
std::vector<std::vector<double>> first_link_records(const std::string& dataset_text);

// A run-step table whose every step does nothing: tests put the steps they exercise in it.
run_steps no_op_steps();

// Path of the torva executable under test.
std::string torva_exe();

// A run that ended in a memory or undefined-behaviour fault (reported by the sanitizers of a
// checking build, which exit with status 1 as a fatal run does).
bool faulted(const command_result& run);

// The folder of the small whole-run case (tests/cases/small), its input files, and a copy of them
// into `dir`.
extern const std::string small_case;
extern const std::vector<std::string> small_case_inputs;
void copy_small_case(const temp_dir& dir);

// True when `part` occurs in `text`.
bool contains(const std::string& text, const std::string& part);

// The six header lines of an ASCII grid map of `rows` x `cols` cells with the given edges.
std::string grid_header(int rows, int cols, double north, double south, double east, double west);
// The header of a map whose cells measure `cell` metres north-south and `cell_ew` metres
// east-west (0: as north-south), with its south-west corner at west 500.0, south 1000.0.
std::string grid_header(int rows, int cols, double cell = 30.0, double cell_ew = 0.0);

}  // namespace torva_test
