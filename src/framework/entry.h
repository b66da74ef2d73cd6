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

// The program: returns the process exit status (0 when every run ended normally; nonzero when a
// project or batch run ended on a fatal error or the command line was rejected).
int torva_main(int argc, char** argv);

// Fills `req` from the command line and returns the run count (1 unless "-b" or "-m" gives one),
// or -1 after printing the usage text for a command line it rejects.
int parse_command_line(int argc, char** argv, run_request& req);

struct error_state;

// Exit status of one run from the code run_project returned and the error state it left: the
// code when one was left pending (1 when it does not fit an exit status), 1 when the run ended
// on a fatal error, else 0.
int run_exit_status(int pending_code, const error_state& state);

// True when the file name of `program` (its last path element) contains "web".
bool program_is_web(const char* program);

// Prints the version banner to standard output.
void print_banner();
