// Shared pieces of the fuzz harnesses: one input holds one or more files, the harness writes
// them into a folder of its own process, runs the reader there with the process-wide state of
// the model reset as the tests' guard does, and takes a run that ends with its message as a
// normal end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_support.h"

namespace torva_fuzz {

// One file of an input: its name inside the fuzz folder and its bytes.
struct fuzz_file {
  std::string name;
  std::string text;
};

// Splits an input into files. The bytes up to the first line that begins with "@@@ " are the
// file `first_name`; every such line starts a further file named by the rest of the line
// (letters, digits, '.', '_' and '-' only, at most 64 characters, not beginning with '.'; a
// file of any other name is dropped, so an input never writes outside the folder).
std::vector<fuzz_file> split_files(const std::uint8_t* data, std::size_t size,
                                   std::string_view first_name);

// True when the input could name a file outside the fuzz folder: a path that begins with a
// separator ('/' or '\\', at the start of a word) or goes up with "..". The harnesses skip such
// inputs, so that no fuzzed run reads or writes anywhere else on the machine.
bool names_outside_folder(const std::uint8_t* data, std::size_t size);

// Once per process, from LLVMFuzzerInitialize with its arguments: the model's console to
// /dev/null (unless TORVA_FUZZ_VERBOSE is set), at most two OpenMP threads that sleep while
// waiting, and a fresh folder of this process under the system's temporary folder that is removed
// at exit. Inputs run inside that folder, so libFuzzer's artifact path (-artifact_prefix, "./"
// when not given) is made absolute in the arguments: a crash is saved where it was asked for.
void fuzz_init(int* argc, char*** argv);

// One input's run: empties the fuzz folder and makes it the working directory, writes `files`
// into it and puts the process-wide state at the clean start of a run (the tests' guard, with
// the console silent and one thread). The destructor empties the run's lists and restores the
// state and the working directory, so the next input starts clean whatever this one left.
class fuzz_run {
 public:
  explicit fuzz_run(const std::vector<fuzz_file>& files);
  ~fuzz_run();
  fuzz_run(const fuzz_run&) = delete;
  fuzz_run& operator=(const fuzz_run&) = delete;
  // Absolute path of `name` in the fuzz folder.
  std::string path(const std::string& name) const;

 private:
  std::unique_ptr<torva_test::process_state_guard> guard_;
};

// Takes bytes from the front of an input (for the choices a harness makes), 0 once it is spent.
class byte_reader {
 public:
  byte_reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t next() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace torva_fuzz
