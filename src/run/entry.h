// Program entry: reads the command line, picks one of the seven run modes (one project, SCE
// calibration, a batch of runs, the version banner, nothing, Monte Carlo, sensitivity) and, when
// the program's own file name contains "web", frames the console output as a CGI page.
#pragma once

#include <string>

#include "framework/core/console.h"

// What the command line asks for; cleared before parsing.
struct run_request {
  int mode = 0;               // 1 project, 2 SCE, 3 batch, 4 banner, 5 nothing, 6 Monte Carlo,
                              // 7 sensitivity; 0 until set
  char file_name[1024] = {};  // the file named on the command line; empty in mode 4
};

extern bool web_mode;  // the program's file name contains "web"

// The program: returns the process exit status (0 when every run ended normally with its books
// closed; exit_status_water_balance when a run ended normally but its overall water balance
// error is beyond its limit; another nonzero status when a project or batch run ended on a fatal
// error or the command line was rejected).
int torva_main(int argc, char** argv);

// Fills `req` from the command line and returns the run count (1 unless "-b" or "-m" gives one),
// or -1 after printing the usage text for a command line it rejects.
int parse_command_line(int argc, char** argv, run_request& req);

struct error_state;

// The exit status of a run that ended normally but whose overall water balance error is beyond
// its limit: the run made or lost water. No error code of the message table is this number, so a
// script tells it from a run that stopped on an error.
inline constexpr int exit_status_water_balance = 150;

// Exit status of one run from the code run_project returned and the error state it left: the
// code when one was left pending (1 when it does not fit an exit status), 1 when the run ended
// on a fatal error, exit_status_water_balance when it ended normally with books that do not
// close, else 0.
int run_exit_status(int pending_code, const error_state& state);

// Exit status of a batch from the status of each of its runs: 1 when any run failed,
// otherwise exit_status_water_balance when any run's books did not close, otherwise 0.
int batch_exit_status(int status_so_far, int run_status);

// True when the file name of `program` (its last path element) contains "web".
bool program_is_web(const char* program);

// Prints the version banner to standard output.
void print_banner();
