// The replay program of a fuzz harness in the sanitizer build: every seed and saved reproducer
// given on the command line (files, or folders whose files are taken in name order) goes once
// through the harness, without fuzzing, under the same limits as a fuzzing run: an input that
// runs longer than 10 s, a single allocation above 2048 MB or a resident size above 2048 MB is a
// failure. The sanitizers stop the process at the first fault; the program then names the input.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// The memory limits of a fuzzing run, for AddressSanitizer: an allocation above the limit is
// reported as a fault rather than returning null, and a process that outgrows it is stopped.
extern "C" const char* __asan_default_options() {
  return "max_allocation_size_mb=2048:allocator_may_return_null=0:hard_rss_limit_mb=2048";
}

namespace {

constexpr unsigned input_seconds = 10;

// The input being run, for the messages of the timeout and of a fault.
char current_input[4096];

void on_timeout(int) {
  const char text[] = "fuzz replay: timeout (more than 10 s) on input ";
  ssize_t ignored = write(STDERR_FILENO, text, sizeof text - 1);
  ignored = write(STDERR_FILENO, current_input, strlen(current_input));
  ignored = write(STDERR_FILENO, "\n", 1);
  (void)ignored;
  _exit(1);
}

// The files of `path` (a folder's regular files in name order, its placeholder ".gitkeep" left
// out) as absolute paths: the harness runs each input in a folder of its own.
bool add_inputs(const std::filesystem::path& path, std::vector<std::string>& inputs) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return false;
  if (std::filesystem::is_regular_file(absolute, error)) {
    inputs.push_back(absolute.string());
    return true;
  }
  if (!std::filesystem::is_directory(absolute, error)) return false;
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(absolute, error))
    if (entry.is_regular_file() && entry.path().filename() != ".gitkeep")
      found.push_back(entry.path().string());
  if (error) return false;
  std::sort(found.begin(), found.end());
  inputs.insert(inputs.end(), found.begin(), found.end());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i)
    if (!add_inputs(argv[i], inputs)) {
      fprintf(stderr, "fuzz replay: no file or folder %s\n", argv[i]);
      return 2;
    }
  if (inputs.empty()) {
    fprintf(stderr, "fuzz replay: no inputs to run\n");
    return 2;
  }
  // The harness's own start (it may send the standard output to /dev/null: progress goes to the
  // standard error).
  int init_argc = 1;
  char** init_argv = argv;
  LLVMFuzzerInitialize(&init_argc, &init_argv);
  signal(SIGALRM, on_timeout);
  for (const std::string& input : inputs) {
    snprintf(current_input, sizeof current_input, "%s", input.c_str());
    std::ifstream file(input, std::ios::binary);
    if (!file) {
      fprintf(stderr, "fuzz replay: cannot read %s\n", input.c_str());
      return 2;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    fprintf(stderr, "fuzz replay: running %s\n", input.c_str());
    alarm(input_seconds);
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    alarm(0);
  }
  fprintf(stderr, "fuzz replay: %zu inputs\n", inputs.size());
  return 0;
}
