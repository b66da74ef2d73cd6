// Calibration parameter replacement: while active, every bracketed parameter name in an input
// line is replaced by its trial value as the line is read.
#pragma once

#include <string>

struct file_handle;

extern int replace_active;      // set once replacement is on; never cleared in the process
extern int replace_line_index;  // line of the replacement value file that this run takes

// Rewrites every bracketed parameter name of `line` with its value.
void replace_line_params(std::string& line);
// Summary and console report of the values in use (start-up).
void print_replace_values(file_handle& summary);
// Summary and console report of how often each value was used (end of start-up).
void print_replace_usage(file_handle& summary);

// Reads the parameter list file into the replacement list; 0, or -1 on failure.
int read_replace_params(const char* file_name);
// Reads this run's line of the value file and switches replacement on; 0, or -1 on failure.
int read_replace_vals(const char* file_name);
