// Shared pieces of the fuzz harnesses: splitting an input into files, the fuzz folder of the
// process and the reset of the model's process-wide state between inputs.
#include "fuzz/common/fuzz_support.h"

#include <fcntl.h>
#include <omp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "framework/core/console.h"

namespace torva_fuzz {

namespace {

// The fuzz folder of this process, made by fuzz_init.
std::string& fuzz_folder() {
  static std::string folder;
  return folder;
}

// The working directory libFuzzer was started in: its corpus and artifact paths are relative to
// it, so every input's run returns there.
std::string& start_folder() {
  static std::string folder;
  return folder;
}

bool good_name(std::string_view name) {
  if (name.empty() || name.size() > 64 || name.front() == '.') return false;
  for (char ch : name) {
    const bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                    (ch >= '0' && ch <= '9') || ch == '.' || ch == '_' || ch == '-';
    if (!ok) return false;
  }
  return true;
}

void remove_fuzz_folder() {
  if (!fuzz_folder().empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(fuzz_folder(), ignored);
  }
}

// Empties the fuzz folder (whatever a run wrote there, sub-folders included).
void empty_fuzz_folder() {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(fuzz_folder(), ignored))
    std::filesystem::remove_all(entry.path(), ignored);
}

}  // namespace

std::vector<fuzz_file> split_files(const std::uint8_t* data, std::size_t size,
                                   std::string_view first_name) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<fuzz_file> files;
  fuzz_file current{std::string(first_name), {}};
  std::size_t pos = 0;
  while (pos < input.size()) {
    std::size_t end = input.find('\n', pos);
    end = end == std::string_view::npos ? input.size() : end + 1;
    const std::string_view line = input.substr(pos, end - pos);
    if (line.substr(0, 4) == "@@@ ") {
      files.push_back(std::move(current));
      std::string_view name = line.substr(4);
      while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.remove_suffix(1);
      current = fuzz_file{std::string(name), {}};
    } else {
      current.text.append(line);
    }
    pos = end;
  }
  files.push_back(std::move(current));
  std::vector<fuzz_file> kept;
  for (fuzz_file& f : files)
    if (good_name(f.name)) kept.push_back(std::move(f));
  return kept;
}

bool names_outside_folder(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.find("..") != std::string_view::npos) return true;
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (input[i] != '/' && input[i] != '\\') continue;
    const char before = i == 0 ? ' ' : input[i - 1];
    // A separator after a blank, a tab, a comma, a quote, a line end or a byte that is no
    // letter of a name begins a path of its own.
    const bool in_name = (before >= 'a' && before <= 'z') || (before >= 'A' && before <= 'Z') ||
                         (before >= '0' && before <= '9') || before == '_' || before == '-' ||
                         before == '.' || before == '/' || before == '\\';
    if (!in_name) return true;
  }
  return false;
}

// The arguments with the artifact path made absolute against the start folder.
void absolute_artifact_path(int* argc, char*** argv) {
  static std::vector<std::string> texts;
  static std::vector<char*> pointers;
  const std::string prefix_flag = "-artifact_prefix=";
  bool given = false;
  for (int i = 0; i < *argc; ++i) {
    std::string arg = (*argv)[i];
    if (arg.rfind(prefix_flag, 0) == 0) {
      const std::string path = arg.substr(prefix_flag.size());
      if (path.empty() || path.front() != '/') arg = prefix_flag + start_folder() + "/" + path;
      given = true;
    }
    texts.push_back(arg);
  }
  if (!given) texts.push_back(prefix_flag + start_folder() + "/");
  for (std::string& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  *argc = static_cast<int>(texts.size());
  *argv = pointers.data();
}

void fuzz_init(int* argc, char*** argv) {
  if (!fuzz_folder().empty()) return;
  setenv("OMP_THREAD_LIMIT", "2", 1);
  setenv("OMP_WAIT_POLICY", "passive", 1);
  if (getenv("TORVA_FUZZ_VERBOSE") == nullptr) {
    fflush(stdout);
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) {
      dup2(null_fd, STDOUT_FILENO);
      close(null_fd);
    }
  }
  const char* tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/torva_fuzz_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    perror("torva fuzz: cannot make the fuzz folder");
    abort();
  }
  fuzz_folder() = pattern;
  start_folder() = std::filesystem::current_path().string();
  absolute_artifact_path(argc, argv);
  atexit(remove_fuzz_folder);
  omp_set_num_threads(1);
}

fuzz_run::fuzz_run(const std::vector<fuzz_file>& files) {
  if (chdir(fuzz_folder().c_str()) != 0) abort();
  empty_fuzz_folder();
  for (const fuzz_file& f : files) {
    FILE* out = fopen(f.name.c_str(), "wb");
    if (out == nullptr) continue;
    fwrite(f.text.data(), 1, f.text.size(), out);
    fclose(out);
  }
  guard_ = std::make_unique<torva_test::process_state_guard>();
  console_silent = true;
  omp_set_num_threads(1);
}

fuzz_run::~fuzz_run() {
  guard_.reset();
  // The run may have moved into an output folder of its own.
  if (chdir(start_folder().c_str()) != 0) abort();
}

std::string fuzz_run::path(const std::string& name) const {
  return fuzz_folder() + "/" + name;
}

}  // namespace torva_fuzz
