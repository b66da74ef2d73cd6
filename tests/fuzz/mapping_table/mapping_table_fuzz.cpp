// Fuzzes the mapping-table file with its tables and index maps, read by the start-up of a run
// on a small watershed whose per-cell parameters come from the tables. The first input byte
// chooses which parameters the project takes from the tables; the rest is the mapping-table file
// "table.cmt" and, split off by "@@@ <name>" lines, its index maps and the soil layer file
// "layers.txt".
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/common/fuzz_support.h"
#include "fuzz/common/run_harness.h"

namespace {

// The cards of each choice; a map named "none.asc" is not there, so its table gives the values.
const char* const card_sets[] = {
    "MANNING_N 0.05\nPRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 30\n",
    "ROUGHNESS none.asc\nPRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 30\n",
    "MANNING_N 0.05\nGREEN_AMPT\nCONDUCTIVITY none.asc\nCAPILLARY none.asc\n"
    "POROSITY none.asc\nMOISTURE none.asc\nRAIN_INTENSITY 10\nRAIN_DURATION 30\n",
    "ROUGHNESS none.asc\nINTERCEPTION\nRETEN_DEPTH none.asc\nAREA_REDUCTION none.asc\n"
    "RAIN_INTENSITY 10\nRAIN_DURATION 30\n",
    "MANNING_N 0.05\nINF_REDIST\nSOIL_TYPE_MAP none.asc\nCONDUCTIVITY none.asc\n"
    "CAPILLARY none.asc\nPOROSITY none.asc\nMOISTURE none.asc\nRAIN_INTENSITY 10\n"
    "RAIN_DURATION 30\n",
    "MANNING_N 0.05\nINF_LAYERED_SOIL\nSOIL_TYPE_MAP soil.asc\nSOIL_LAYER_INPUT_FILE layers.txt\n"
    "MOISTURE none.asc\nRAIN_INTENSITY 10\nRAIN_DURATION 30\n",
    "MANNING_N 0.05\nINF_RICHARDS\nSOIL_TYPE_MAP soil.asc\nSOIL_LAYER_INPUT_FILE layers.txt\n"
    "MOISTURE none.asc\nRAIN_INTENSITY 10\nRAIN_DURATION 30\n",
    "ROUGHNESS none.asc\nOV_BOUNDARY\nLONG_TERM\nET_CALC_PENMAN\nRAIN_INTENSITY 10\n"
    "RAIN_DURATION 30\n",
    // Overland erosion: the size classes and the soil erosion properties.
    "MANNING_N 0.05\nSOIL_EROSION 3\nOUTLET_SED_FLUX sed.out\nSAND_SIZE 0.0625\n"
    "RAIN_INTENSITY 10\nRAIN_DURATION 30\n",
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (torva_fuzz::names_outside_folder(data, size)) return 0;
  torva_fuzz::byte_reader bytes(data, size);
  const std::size_t choice = bytes.next() % (sizeof card_sets / sizeof card_sets[0]);
  std::vector<torva_fuzz::fuzz_file> files =
      torva_fuzz::small_watershed(std::string("MAPPING_TABLE table.cmt\n") + card_sets[choice]);
  for (torva_fuzz::fuzz_file& f : torva_fuzz::split_files(bytes.data(), bytes.size(), "table.cmt"))
    files.push_back(std::move(f));
  torva_fuzz::fuzz_run run(files);
  torva_fuzz::run_project_bounded("run.prj");
  return 0;
}
