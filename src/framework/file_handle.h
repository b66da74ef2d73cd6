// File handles: every file of a run is reached through a file_handle, which keeps the open
// stream with a second copy of its pointer (checked on open, close and release), the resolved
// path that was opened and the mode. Also the run's file-name state: project folder, output
// sub-directory and the "%04d_" run prefix of batch and calibration runs.
#pragma once

#include <cstdio>

struct file_handle {
  FILE* fp = nullptr;        // the open stream; null while closed
  FILE* fp_check = nullptr;  // second copy of fp; a difference means the handle was overwritten
  char path[1024] = {};      // resolved path that was opened; empty while closed
  char mode[5] = {};         // mode passed to the open; empty while closed

  file_handle() = default;
  file_handle(const file_handle&) = delete;
  file_handle& operator=(const file_handle&) = delete;
  ~file_handle();

  bool is_open() const { return fp != nullptr; }
};

// Process-wide file-name state; kept from one run of a batch or calibration to the next.
extern char project_dir[1024];  // project folder, ending in a separator once set
extern char output_dir[1024];   // output sub-directory, ending in a separator once set
extern int output_dir_set;      // 1 once set_output_dir has stored a value
extern int run_prefix_on;       // names opened to write or append get the run prefix
extern int run_number;          // number printed in the run prefix

// Process-wide handles, closed at program exit.
extern file_handle superlink_flows_file;  // "superlink_flows.out" of the pipe-network solver
extern file_handle r7_inflow_file;        // inflow table handed to the reservoir model

// Makes the handle empty (both pointers null, path and mode empty).
void file_handle_init(file_handle& h);
// Resolves `name` (in place: surrounding double quotes are removed) and opens it with `mode`
// ("r", "w", "a", "wb", ...). Returns true when the stream is open.
bool file_handle_open(file_handle& h, char* name, const char* mode);
// The same for a name the caller does not need back.
bool file_handle_open(file_handle& h, const char* name, const char* mode);
// Checks the pointer copy, closes the stream when open and empties the handle.
void file_handle_close(file_handle& h);
// Destructor behaviour: closes and empties an open handle; leaves a closed one alone.
void file_handle_release(file_handle& h);

// Stores the project folder (a separator appended when missing).
void set_project_dir(const char* dir, int len);
// Stores the output sub-directory (a separator appended when missing) and sets output_dir_set.
void set_output_dir(const char* dir);
// Writes the resolved path of `name` for `mode` into `out` (`out_size` bytes). Removes one
// leading and one trailing double quote from name in place. Returns false when the resolved
// path does not fit in `out` (out is then empty).
bool make_run_filename(char* name, const char* mode, char* out, unsigned long out_size);
// Tries the candidate paths in order; leaves the first one that opens in `out`.
bool resolve_file_path(const char* project, const char* output, const char* name,
                       const char* mode, bool creating, char* out, unsigned long out_size);
// Turns an output folder below the project folder into a sub-directory relative to it,
// changing into it or creating it.
void make_output_subdir(const char* dir, char* out, unsigned long out_size);
