// Fuzzes a whole run from its project file: the cards and every file they name (grid maps,
// mapping tables, series, XY boundaries, replacement files, lake and low-spot files, the
// precipitation file and radar grids, ...). The input is the project file "run.prj" and, split
// off by "@@@ <name>" lines, the files of the run.
#include <cstddef>
#include <cstdint>

#include "fuzz/common/fuzz_support.h"
#include "fuzz/common/run_harness.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (torva_fuzz::names_outside_folder(data, size)) return 0;
  torva_fuzz::fuzz_run run(torva_fuzz::split_files(data, size, "run.prj"));
  torva_fuzz::run_project_bounded("run.prj");
  return 0;
}
