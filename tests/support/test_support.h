// Shared test helpers: a temporary working folder per test, capture of what the model prints,
// small file writers and readers, and running the torva executable.
#pragma once

#include <string>
#include <vector>

struct run_steps;

namespace torva_test {

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

void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// Result of running a command: exit status, standard output and standard error.
struct command_result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `args` (no shell), with `input` on standard input and the extra
// environment assignments `env` ("NAME=value"), in the current working directory.
command_result run_command(const std::string& program, const std::vector<std::string>& args,
                           const std::string& input = "", const std::vector<std::string>& env = {});

// A run-step table whose every step does nothing: tests put the steps they exercise in it.
run_steps no_op_steps();

// Path of the torva executable under test.
std::string torva_exe();

}  // namespace torva_test
