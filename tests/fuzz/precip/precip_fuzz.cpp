// Fuzzes the precipitation file and its radar grids through a run of a small watershed: the
// event scan at start-up reads the file's events, and the time loop takes each event's records
// and radar frames in turn. The first input byte chooses the gauge interpolation; the rest is
// the precipitation file "rain.gag" and, split off by "@@@ <name>" lines, its radar grids.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/common/fuzz_support.h"
#include "fuzz/common/run_harness.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (torva_fuzz::names_outside_folder(data, size)) return 0;
  torva_fuzz::byte_reader bytes(data, size);
  const std::uint8_t choice = bytes.next();
  std::string cards = "MANNING_N 0.05\nPRECIP_FILE rain.gag\n";
  cards += choice % 2 == 0 ? "RAIN_INV_DISTANCE\n" : "RAIN_THIESSEN\n";
  if (choice & 2) cards += "LONG_TERM\n";
  std::vector<torva_fuzz::fuzz_file> files = torva_fuzz::small_watershed(cards);
  for (torva_fuzz::fuzz_file& f : torva_fuzz::split_files(bytes.data(), bytes.size(), "rain.gag"))
    files.push_back(std::move(f));
  torva_fuzz::fuzz_run run(files);
  torva_fuzz::run_project_bounded("run.prj");
  return 0;
}
