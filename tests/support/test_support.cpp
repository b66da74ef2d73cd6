// Shared test helpers: temporary folders, output capture, files, grid headers and child
// processes. (The model's own state helpers are in process_state.cpp: <fcntl.h> declares a
// struct of the same name as the model's file handle, so the two are kept apart.)
#include "support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "framework/core/thread_waiting.h"
#include "framework/core/vector_targets.h"

extern char** environ;

namespace {

// The test programs take the instruction set TORVA_VECTOR_TARGET names, as torva does, so the
// whole suite can run on one of them; a name the processor cannot run stops the program.
const bool vector_target_taken = [] {
  std::string message;
  if (use_vector_target_from_environment(message)) return true;
  std::fprintf(stderr, "%s\n", message.c_str());
  std::exit(1);
}();

}  // namespace

namespace torva_test {

namespace fs = std::filesystem;

temp_dir::temp_dir() {
  std::string pattern = (fs::temp_directory_path() / "torva_test_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  old_cwd_ = fs::current_path().string();
  fs::current_path(path_);
}

temp_dir::~temp_dir() {
  std::error_code ec;
  fs::current_path(old_cwd_, ec);
  fs::remove_all(path_, ec);
}

stdout_capture::stdout_capture() {
  fflush(stdout);
  std::string pattern = (fs::temp_directory_path() / "torva_out_XXXXXX").string();
  const int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  file_ = pattern;
  saved_fd_ = dup(STDOUT_FILENO);
  dup2(fd, STDOUT_FILENO);
  close(fd);
}

std::string stdout_capture::stop() {
  if (!stopped_) {
    fflush(stdout);
    dup2(saved_fd_, STDOUT_FILENO);
    close(saved_fd_);
    text_ = read_file(file_);
    std::remove(file_.c_str());
    stopped_ = true;
  }
  return text_;
}

stdout_capture::~stdout_capture() {
  stop();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) {
  return fs::exists(path);
}

namespace {

command_result run_program(const std::string& program, const std::vector<std::string>& args,
                           const std::string& input, const std::vector<std::string>& given,
                           bool bounded_waiting) {
  std::vector<std::string> env = given;
  if (bounded_waiting) {
    bool set = false;
    for (const std::string& e : env)
      set = set || e.rfind("OMP_WAIT_POLICY=", 0) == 0 || e.rfind("GOMP_SPINCOUNT=", 0) == 0;
    if (!set) env.push_back(std::string("GOMP_SPINCOUNT=") + bounded_spin_count);
  }
  command_result result;
  std::string base = (fs::temp_directory_path() / "torva_cmd_XXXXXX").string();
  if (mkdtemp(base.data()) == nullptr) return result;
  const std::string in_path = base + "/in", out_path = base + "/out", err_path = base + "/err";
  write_file(in_path, input);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);

  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The program under test waits at its barriers by its own policy: the waiting settings of the
  // environment the tests run in (the test runner asks for sleeping threads in the test
  // programs themselves) do not reach it, unless the caller passes them.
  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    if (entry.rfind("CONTENT_LENGTH=", 0) == 0 || entry.rfind("OMP_WAIT_POLICY=", 0) == 0 ||
        entry.rfind("GOMP_SPINCOUNT=", 0) == 0)
      continue;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& given : env) replaced = replaced || given.rfind(name, 0) == 0;
    if (replaced) continue;
    env_text.push_back(entry);
  }
  env_text.insert(env_text.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    const auto started = std::chrono::steady_clock::now();
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.peak_kb = usage.ru_maxrss;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  std::error_code ec;
  fs::remove_all(base, ec);
  return result;
}

}  // namespace

command_result run_command(const std::string& program, const std::vector<std::string>& args,
                           const std::string& input, const std::vector<std::string>& env) {
  return run_program(program, args, input, env, true);
}

command_result run_command_own_waiting(const std::string& program,
                                       const std::vector<std::string>& args,
                                       const std::string& input,
                                       const std::vector<std::string>& env) {
  return run_program(program, args, input, env, false);
}

command_result run_with_threads(const std::string& project, int threads,
                                const std::vector<std::string>& env) {
  std::istringstream in(read_file(project));
  std::string text;
  for (std::string line; std::getline(in, line);) {
    std::size_t at = line.find_first_not_of(" \t");
    std::string word = at == std::string::npos ? "" : line.substr(at, 11);
    for (char& ch : word) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const bool card =
        word == "NUM_THREADS" &&
        (line.size() == at + 11 || std::isspace(static_cast<unsigned char>(line[at + 11])));
    if (!card) text += line + "\n";
  }
  write_file(project, text + "NUM_THREADS " + std::to_string(threads) + "\n");
  // On many threads the cells are shared out in small shares, so that even a small grid runs
  // on every thread and the comparison with one thread means something.
  std::vector<std::string> with = {"TORVA_CELLS_PER_THREAD=" +
                                   std::string(threads > 1 ? "16" : "2048")};
  with.insert(with.end(), env.begin(), env.end());
  command_result run = run_command(torva_exe(), {project}, "", with);
  const std::string taken = "Setting the thread level to " + std::to_string(threads) + ".\n";
  EXPECT_TRUE(contains(run.out, taken)) << "the run did not take " << threads << " threads\n"
                                        << run.out;
  EXPECT_FALSE(contains(run.out, "unable to set the thread level")) << run.out;
  // The run-time line tells the count the run took: with the process rank on more than one.
  if (threads > 1)
    EXPECT_TRUE(contains(run.out, "\n0: Run time: ")) << run.out;
  else
    EXPECT_TRUE(contains(run.out, "\nRun time: ") && !contains(run.out, ": Run time: ")) << run.out;
  return run;
}

thread_runs run_at_compared_thread_counts(const std::string& project,
                                          const std::function<std::string()>& outputs,
                                          int expected_status) {
  thread_runs runs;
  for (int k = 0; k < 2; ++k) {
    const int threads = compared_thread_counts[k];
    runs.run[k] = run_with_threads(project, threads);
    EXPECT_EQ(runs.run[k].status, expected_status) << threads << " threads\n"
                                                   << runs.run[k].out << runs.run[k].err;
    runs.outputs[k] = outputs();
  }
  EXPECT_TRUE(runs.outputs[0] == runs.outputs[1])
      << project << ": the outputs of 1 and 8 threads differ";
  return runs;
}

std::string stdout_of(const std::function<void()>& step) {
  stdout_capture capture;
  step();
  return capture.stop();
}

std::string torva_exe() {
  return TORVA_EXE;
}

bool faulted(const command_result& run) {
  return run.status >= 128 || contains(run.err, "Sanitizer") || contains(run.err, "runtime error");
}

const std::string small_case = std::string(TORVA_SOURCE_DIR) + "/tests/cases/small";
const std::vector<std::string> small_case_inputs = {
    "small.prj",           "small_mask.asc",     "small_elev.asc",    "small_conductivity.asc",
    "small_capillary.asc", "small_porosity.asc", "small_moisture.asc"};

void copy_small_case(const temp_dir& dir) {
  for (const std::string& name : small_case_inputs)
    write_file(dir.file(name), read_file(small_case + "/" + name));
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string grid_header(int rows, int cols, double north, double south, double east, double west) {
  char text[256];
  std::snprintf(text, sizeof text,
                "north: %.4f\nsouth: %.4f\neast: %.4f\nwest: %.4f\nrows: %d\ncols: %d\n", north,
                south, east, west, rows, cols);
  return text;
}

std::string grid_header(int rows, int cols, double cell, double cell_ew) {
  if (cell_ew == 0.0) cell_ew = cell;
  return grid_header(rows, cols, 1000.0 + rows * cell, 1000.0, 500.0 + cols * cell_ew, 500.0);
}

std::vector<std::vector<double>> first_link_records(const std::string& dataset_text) {
  std::vector<std::vector<double>> records;
  std::istringstream lines(dataset_text);
  std::string line;
  bool next_is_link = false;
  while (std::getline(lines, line)) {
    if (line.rfind("TS", 0) == 0) {
      next_is_link = true;
      continue;
    }
    if (!next_is_link) continue;
    next_is_link = false;
    std::istringstream fields(line);
    int count = 0;
    fields >> count;
    std::vector<double> values(1, 0.0);  // node 0 holds nothing
    for (int k = 0; k < count; ++k) {
      int one = 0;
      double v = 0.0;
      if (fields >> one >> v) values.push_back(v);
    }
    records.push_back(values);
  }
  return records;
}

}  // namespace torva_test
