// Benchmark of a whole run on a busy machine: the V-catchment case (4,050 cells, 2,160 steps of
// the explicit overland scheme) is run by the torva executable on 8 threads, first on the machine
// as it is ("quiet"), then beside a background of busy processes that this program starts (each
// spins on one core) and kills at the end. Prints the processor, the load average, the wall time
// of each run and the ratio of the busy time to the quiet time; fails when the ratio exceeds the
// limit (3) or when a run fails or gives other outlet bits than the first. The program runs with
// its own waiting policy: OMP_WAIT_POLICY and GOMP_SPINCOUNT are taken out of its environment
// unless --keep-env is given.
//
// busy_machine_bench [--threads N] [--busy N] [--repeats N] [--limit R] [--keep-env]
//                    [--torva PATH] [--case DIR]
// Defaults: 8 threads, 8 busy processes, the best of 3 runs each way, limit 3.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string read_text(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string first_line(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// The processor's name from /proc/cpuinfo, or "unknown".
std::string processor_name() {
  std::istringstream in(read_text("/proc/cpuinfo"));
  for (std::string line; std::getline(in, line);)
    if (line.rfind("model name", 0) == 0) {
      const std::size_t colon = line.find(':');
      if (colon != std::string::npos) return line.substr(colon + 2);
    }
  return "unknown";
}

std::string load_average() {
  return first_line(read_text("/proc/loadavg"));
}

// The project of the case with its NUM_THREADS cards replaced by one for `threads`.
bool write_project(const fs::path& from, const fs::path& to, int threads) {
  std::istringstream in(read_text(from));
  std::string text;
  for (std::string line; std::getline(in, line);) {
    std::string word;
    std::istringstream(line) >> word;
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (word != "NUM_THREADS") text += line + "\n";
  }
  text += "NUM_THREADS " + std::to_string(threads) + "\n";
  std::ofstream out(to, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

struct run_result {
  bool ok = false;
  double seconds = 0.0;
};

// Runs torva on `project` in the current folder, its console output to `log`.
run_result run_torva(const std::string& torva, const std::string& project, bool keep_env,
                     const std::string& log) {
  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (!keep_env &&
        (entry.rfind("OMP_WAIT_POLICY=", 0) == 0 || entry.rfind("GOMP_SPINCOUNT=", 0) == 0))
      continue;
    env_text.push_back(entry);
  }
  std::vector<char*> envp;
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = torva;
  std::string argument = project;
  char* argv[] = {program.data(), argument.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  run_result r;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, torva.c_str(), &actions, nullptr, argv, envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

// Starts `count` processes that each keep one core busy until they are killed (or, should this
// program die first, with it; at the latest after ten minutes).
std::vector<pid_t> start_busy(int count) {
  std::vector<pid_t> pids;
  const pid_t parent = getpid();
  for (int k = 0; k < count; ++k) {
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(0);
      alarm(600);
      volatile double x = 1.0;
      for (;;) x = x * 1.0000001 + 1e-9;
    }
    if (pid > 0) pids.push_back(pid);
  }
  return pids;
}

void stop_busy(const std::vector<pid_t>& pids) {
  for (pid_t pid : pids) kill(pid, SIGKILL);
  for (pid_t pid : pids) waitpid(pid, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 8;
  int busy = 8;
  int repeats = 3;
  double limit = 3.0;
  bool keep_env = false;
  std::string torva = TORVA_EXE;
  fs::path case_dir = fs::path(TORVA_SOURCE_DIR) / "tests/cases/v_catchment";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--threads" && has_value) {
      threads = std::atoi(argv[++i]);
    } else if (a == "--busy" && has_value) {
      busy = std::atoi(argv[++i]);
    } else if (a == "--repeats" && has_value) {
      repeats = std::atoi(argv[++i]);
    } else if (a == "--limit" && has_value) {
      limit = std::atof(argv[++i]);
    } else if (a == "--torva" && has_value) {
      torva = fs::absolute(argv[++i]).string();
    } else if (a == "--case" && has_value) {
      case_dir = argv[++i];
    } else if (a == "--keep-env") {
      keep_env = true;
    } else {
      std::printf(
          "usage: busy_machine_bench [--threads N] [--busy N] [--repeats N] [--limit R] "
          "[--keep-env] [--torva PATH] [--case DIR]\n");
      return 2;
    }
  }
  if (threads < 1 || busy < 0 || repeats < 1 || !(limit > 0.0)) {
    std::printf("threads and repeats must be at least 1, busy at least 0, the limit positive\n");
    return 2;
  }

  // The case is run in a copy: its project names its inputs and outputs in its own folder.
  std::string project;
  std::istringstream case_text(read_text(case_dir / "case.txt"));
  for (std::string line; project.empty() && std::getline(case_text, line);)
    if (line.rfind("project ", 0) == 0) project = line.substr(8);
  if (project.empty()) {
    std::printf("no case with a project in %s\n", case_dir.c_str());
    return 1;
  }
  char name[] = "/tmp/torva_busy_bench_XXXXXX";
  if (mkdtemp(name) == nullptr) {
    std::printf("cannot make a scratch folder under /tmp\n");
    return 1;
  }
  const fs::path scratch = name;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(case_dir, ec))
    if (e.is_regular_file()) fs::copy_file(e.path(), scratch / e.path().filename(), ec);
  if (ec || !write_project(case_dir / project, scratch / project, threads)) {
    std::printf("cannot copy the case %s to %s\n", case_dir.c_str(), scratch.c_str());
    return 1;
  }
  fs::current_path(scratch);

  std::printf("processor: %s, %ld online\n", processor_name().c_str(),
              sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("case %s (%s), %d threads, waiting policy: %s\n", case_dir.c_str(), project.c_str(),
              threads, keep_env ? "the environment's" : "the program's own");
  std::printf("%-7s %5s %8s %s\n", "machine", "run", "wall s", "load average before the run");

  std::string first_outlet;
  bool same_bits = true;
  bool all_ok = true;
  double best[2] = {0.0, 0.0};
  for (int phase = 0; phase < 2; ++phase) {
    const std::vector<pid_t> background = phase == 1 ? start_busy(busy) : std::vector<pid_t>{};
    if (phase == 1) {
      if (static_cast<int>(background.size()) != busy) {
        std::printf("could start only %zu of %d busy processes\n", background.size(), busy);
        all_ok = false;
      }
      sleep(1);  // the background is running before the first timed run
    }
    for (int k = 1; k <= repeats; ++k) {
      const std::string load = load_average();
      const run_result r = run_torva(torva, project, keep_env, "console.txt");
      std::printf("%-7s %5d %8.2f %s\n", phase == 0 ? "quiet" : "busy", k, r.seconds, load.c_str());
      std::fflush(stdout);
      if (!r.ok) {
        std::printf("the run failed; its console:\n%s\n", read_text("console.txt").c_str());
        all_ok = false;
        break;
      }
      const std::string outlet = read_text("v_outlet.out");
      if (first_outlet.empty()) first_outlet = outlet;
      same_bits = same_bits && outlet == first_outlet && !outlet.empty();
      best[phase] = k == 1 ? r.seconds : std::min(best[phase], r.seconds);
    }
    stop_busy(background);
    if (!all_ok) break;
  }
  fs::current_path("/tmp");
  fs::remove_all(scratch, ec);
  if (!all_ok) return 1;

  const double ratio = best[1] / best[0];
  std::printf("best quiet %.2f s, best with %d busy processes %.2f s: %.2f times (limit %.1f)\n",
              best[0], busy, best[1], ratio, limit);
  if (!same_bits) std::printf("FAILED: the runs' outlet hydrographs differ\n");
  if (ratio > limit) std::printf("FAILED: the busy machine slowed the run more than the limit\n");
  return same_bits && ratio <= limit ? 0 : 1;
}
