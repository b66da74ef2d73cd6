// File handles: every file of a run is reached through a file_handle, which keeps the open
// stream with a second copy of its pointer (checked on open, close and release), the resolved
// path that was opened and the mode. Also the run's file-name state: project folder, output
// sub-directory and the "%04d_" run prefix of batch and calibration runs.
#pragma once

#include <cstdio>
#include <string>

struct file_handle {
  FILE* fp = nullptr;         // the open stream; null while closed
  FILE* fp_check = nullptr;   // second copy of fp; a difference means the handle was overwritten
  char path[1024] = {};       // resolved path that was opened; empty while closed
  char mode[5] = {};          // mode passed to the open; empty while closed
  bool write_failed = false;  // a failed write to the stream has been reported
  long lines_read = 0;        // lines read_text_line has taken from the stream since its open

  file_handle() = default;
  file_handle(const file_handle&) = delete;
  file_handle& operator=(const file_handle&) = delete;
  ~file_handle();

  bool is_open() const { return fp != nullptr; }
};

// Process-wide file-name state; kept from one run of a batch or calibration to the next.
// Names given in input files may use the slash or the backslash as directory separator; both
// folders are stored with slashes and end in a slash once set.
extern char project_dir[1024];  // project folder; empty until the project names one
extern char output_dir[1024];   // output sub-directory; empty until set
extern int output_dir_set;      // 1 once set_output_dir has stored a value
extern int run_prefix_on;       // names opened to write or append get the run prefix
extern int run_number;          // number printed in the run prefix

// Process-wide handles, closed at program exit.
extern file_handle superlink_flows_file;  // "superlink_flows.out" of the pipe-network solver
extern file_handle r7_inflow_file;        // inflow table handed to the reservoir model

// Makes the handle empty (both pointers null, path and mode empty).
void file_handle_init(file_handle& h);
// Resolves `name` (in place: one leading and one trailing double quote are removed) and opens
// it with `mode` (a mode beginning with 'w', 'a' or 'r': "r", "w", "a", "wb", ...). Returns
// true when the stream is open. An empty name or another mode returns false silently. Opening
// an open handle prints a warning and closes the old stream first. A resolved path longer than
// `path` can hold prints "Error.... name too long!!!" and the open is refused.
bool file_handle_open(file_handle& h, char* name, const char* mode);
// The same for a name the caller does not need back.
bool file_handle_open(file_handle& h, const char* name, const char* mode);
// Checks the pointer copy, closes the stream when open and empties the handle. A stream opened
// to write or append is flushed first: when any write to it failed, the file is named with the
// system's reason ("Error: could not write the file %s: %s\n") and the run stops.
void file_handle_close(file_handle& h);
// Flushes an open stream that writes and checks that every write to it reached the file. False,
// after the message of file_handle_close and with the run stopped, when one did not. True for a
// closed handle or one that reads.
bool file_handle_write_check(file_handle& h);
// Makes the stream of an open handle flush at the end of every line, so that a file read while
// the run goes on always ends on a whole line.
void file_handle_line_buffered(file_handle& h);
// Destructor behaviour: closes and empties an open handle; leaves a closed one alone.
void file_handle_release(file_handle& h);

// From now on a stream opened to write a file afresh or to append to it is kept when its handle
// closes it (flushed, with the checks of the close), and the next open of the same path with
// the same mode takes it again instead of opening the file anew, emptied and rewound to write
// afresh, at its end to append, as long as the file at the path is still the one the stream
// writes. For the trials of a calibration, which write the same files again and again; a
// file's content is what it would be had it been opened anew.
// Files opened to read are kept too: their bytes are read once and every later open reads them
// from memory while the file at the path is the same file, unchanged (device, inode, size,
// modification and change times); a file changed since is read again.
void file_handle_keep_streams();
// While streams are kept (from file_handle_keep_streams to the closing of the kept streams), the
// number of this keeping in the process (1 for the first); 0 while they are not.
long file_handle_kept_session();
// Closes every kept stream no handle holds, lets the kept inputs go and stops keeping streams;
// a failed close names the file ("Error: could not write the file %s: %s\n") and stops the run.
void file_handle_close_kept_streams();

// Stores the first `len` characters of dir (all of it when len is 0 or less) as the project
// folder, backslashes turned into slashes and a slash appended when missing.
void set_project_dir(const char* dir, int len);
// Stores dir as the output sub-directory in the same form and sets output_dir_set. An empty dir
// stores an empty output_dir: no sub-directory.
void set_output_dir(const char* dir);

// Writes the resolved path of `name` for `mode` into `out` (`out_size` bytes, 1024 for a
// handle's path): one leading and one trailing double quote are removed from name in place,
// backslashes count as slashes, and in batch and calibration runs a name opened to write or
// append gets the run prefix in front of its file name ("out/q.out" -> "out/0003_q.out").
// out is empty for an empty name. When no candidate opens, prints "Error getting new filename
// from %s\n" and leaves the last candidate in out. Returns false, with out empty, when the
// resolved path does not fit in out.
bool make_run_filename(char* name, const char* mode, char* out, unsigned long out_size);

enum class path_result {
  found,      // a candidate opened; it is in out
  not_found,  // no candidate opened; out holds the last one tried
  too_long,   // the next candidate does not fit in out; out is empty and nothing was probed
};

// Tries the candidate paths of `name` in order, probing each by opening it with `mode` and
// closing it at once (so a probe for writing creates the file), and leaves the first one that
// opens in `out`. For writing or appending (`creating`): project + sub + name, the bare name,
// project + name. For reading: the bare name, project + sub + name, and, with an output
// sub-directory, project + name. sub is make_output_subdir(output). `project` is read after
// the sub-directory is made, which may anchor a relative project folder.
path_result resolve_file_path(const char* project, const char* output, const char* name,
                              const char* mode, bool creating, char* out, unsigned long out_size);

// The file that opening `name` (to write or append when `creating`, else to read) would reach,
// found without creating, truncating or moving anything, as a key that is the same for two
// spellings of one file: "id:<device>:<inode>" for a file that exists, "path:" and the real path
// of its folder with the file name for one that does not. Names resolve as for
// make_run_filename, the run prefix included. Empty when no candidate is found (an input that
// is not there, an output whose folders do not exist).
std::string planned_file_key(const char* name, bool creating);

// Creates the folders of an output file `name` that do not exist yet, below the folder that
// the first candidate of make_run_filename starts in (the project and output folders). True
// when every folder of the name is there afterwards.
bool make_output_folders(const char* name);

// Turns an output folder below the project folder into a sub-directory relative to it: the
// folder is made the working directory when it exists, else created; when neither works no
// sub-directory is used. The result is stored with set_output_dir. A folder that is not below
// the project folder is returned unchanged and nothing else happens.
std::string make_output_subdir(const char* dir);
