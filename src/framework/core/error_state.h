// Error state of a run: the process-wide `run_error` that every step sets when it meets a
// coded condition, and `error_report`, which the run driver calls after each step to print the
// code's message to the console and the run's summary file and decide whether the run stops.
#pragma once

#include <atomic>

struct file_handle;

// Code of a condition whose message the step has already printed itself.
inline constexpr int error_code_own_message = 4000;

struct error_state {
  int error_code = 0;   // 0 none, 1..135 a coded condition, 4000 message already printed
  int error_fatal = 0;  // nonzero: the run must stop
};

// The one error state of the process; cleared by run_project at the start of every run.
extern error_state run_error;

// Message parameters, set by the reporting step before it sets the code; read only by the
// messages that name them.
extern int error_value1;
extern int error_value2;
extern char error_file_kind[60];    // what the file is, e.g. "output summary"
extern char error_file_name[1024];  // the file's name

// Summary file of the current run, or null: every message is echoed to it while it is open.
// Set by the opening of the run files, cleared when the run's files are closed.
extern file_handle* error_echo_file;

// Copies `kind` and `name` into error_file_kind and error_file_name, cut safely to their size.
void set_error_file(const char* kind, const char* name);

// Prints the message of the code in `state` (console, then echo file), sets or clears the fatal
// flag and resets the code to 0. A code of 0 or less only sets the code to 0.
void error_report(error_state& state);

// Writes `text` as plain text to standard output and then, when `echo` is given and open, to it.
void error_print(file_handle* echo, const char* text);

// The message text of a code (1..135, 129 excepted) with its parameters filled in from the
// process-wide message parameters, or an empty string for a code without a message.
// Used by error_report; exposed so that the message table can be checked code by code.
const char* error_message_text(int code, char* buffer, unsigned long size);

// True for the codes whose message is a warning: the run goes on after it.
bool error_is_warning(int code);

// A fault found inside a parallel loop. Worker threads never touch run_error or print: they
// record the fault here (the lowest loop index wins, so the result does not depend on the thread
// count) and the step reports it on the main thread after the loop with raise().
class loop_fault {
 public:
  // Records a fault at loop index `index` with `code` and two message values, and optionally
  // the text of the step's own message (printed by raise(); cut to 511 characters). Thread safe;
  // allocates nothing and prints nothing.
  void record(long index, int code, int value1 = 0, int value2 = 0, const char* message = nullptr);
  bool found() const { return index_.load(std::memory_order_relaxed) != no_fault; }
  long index() const { return index_.load(std::memory_order_relaxed); }
  int code() const { return code_; }
  int value1() const { return value1_; }
  int value2() const { return value2_; }
  const char* message() const { return message_; }
  // Main thread, after the loop: when a fault was recorded, prints its own message (when one
  // was recorded), sets run_error.error_code and the message values, and returns true.
  bool raise();

 private:
  static constexpr long no_fault = -1;
  std::atomic<long> index_{no_fault};
  int code_ = 0;
  int value1_ = 0;
  int value2_ = 0;
  char message_[512] = {};
};
