// Shared test helpers: temporary folders, output capture, files and child processes.
#include "support/test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "framework/run_driver.h"

extern char** environ;

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

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) {
  return fs::exists(path);
}

command_result run_command(const std::string& program, const std::vector<std::string>& args,
                           const std::string& input, const std::vector<std::string>& env) {
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

  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    if (entry.rfind("CONTENT_LENGTH=", 0) == 0) continue;
    env_text.push_back(entry);
  }
  env_text.insert(env_text.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  std::error_code ec;
  fs::remove_all(base, ec);
  return result;
}

run_steps no_op_steps() {
  run_steps steps = default_run_steps();
  const step_fn none = [](model_state&) {};
  steps.read_run_parameters = [](const char*, model_state&) {};
  for (step_fn* fn : {&steps.check_project_options,
                      &steps.open_run_files,
                      &steps.print_replace_values,
                      &steps.set_time_parameters,
                      &steps.read_maps,
                      &steps.open_map_datasets,
                      &steps.write_linknode_run_headers,
                      &steps.setup_contam_map_outputs,
                      &steps.setup_contam_channel_outputs,
                      &steps.build_cell_connectivity,
                      &steps.compute_overland_slopes,
                      &steps.scan_precip_events,
                      &steps.init_lake_and_soil_state,
                      &steps.init_channel_storage,
                      &steps.alloc_driver_results,
                      &steps.read_volp_exchange_start,
                      &steps.init_xy_output,
                      &steps.compute_initial_overland_volume,
                      &steps.contam_soil_layer_init,
                      &steps.init_simulation_clock,
                      &steps.print_replace_usage,
                      &steps.write_run_summary})
    *fn = none;
  steps.read_analyzer_file = [](model_state&, const char*) {};
  for (loop_step& step : steps.time_loop) step.fn = none;
  return steps;
}

std::string torva_exe() {
  return TORVA_EXE;
}

}  // namespace torva_test
