// Fuzzes the layered soil table of the Richards soil columns, read by the start-up of a run on a
// small watershed of Richards columns that then runs. The first input byte chooses the soil
// functions (Brooks-Corey or Havercamp) and whether a water table lies under the columns; the
// rest is the table "table.txt" and, split off by "@@@ <name>" lines, the soil-type map
// "soil.asc" (one soil type 1 everywhere when the input gives none).
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
  std::string cards =
      "MANNING_N 0.05\nPRECIP_UNIF\nRAIN_INTENSITY 30\nRAIN_DURATION 60\n"
      "INF_RICHARDS\nSOIL_TYPE_MAP soil.asc\nSOIL_LAYER_INPUT_FILE table.txt\n";
  cards += choice % 2 == 0 ? "RICHARDS_C_OPTION brooks\n" : "RICHARDS_C_OPTION havercamp\n";
  if ((choice / 2) % 2 == 1) cards += "WATER_TABLE wt.asc\n";
  std::vector<torva_fuzz::fuzz_file> files = torva_fuzz::small_watershed(cards);
  const std::string header =
      "north: 1090.00\nsouth: 1000.00\neast: 2120.00\nwest: 2000.00\nrows: 3\ncols: 4\n";
  files.push_back({"soil.asc", header + "1 1 1 1\n1 1 1 1\n1 1 1 1\n"});
  files.push_back({"wt.asc", header + "9.9 9.8 9.9 0.0\n9.9 9.7 9.6 9.8\n0.0 9.6 9.5 9.7\n"});
  for (torva_fuzz::fuzz_file& f : torva_fuzz::split_files(bytes.data(), bytes.size(), "table.txt"))
    files.push_back(std::move(f));
  torva_fuzz::fuzz_run run(files);
  torva_fuzz::run_project_bounded("run.prj");
  return 0;
}
