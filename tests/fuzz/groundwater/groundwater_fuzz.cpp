// Fuzzes the groundwater inputs of the mapping-table file (the well table and its well map, the
// series index of scheduled wells, the aquifer and boundary tables) and the groundwater boundary
// map, read by the start-up of a groundwater run on a small watershed, which then takes a few
// groundwater steps. The first input byte chooses where the aquifer's properties and the wells
// come from (or the well level list); the rest is the mapping-table file "table.cmt" and, split
// off by "@@@ <name>" lines, its index maps, the boundary map "bound.asc", the series file
// "wells.ts" and the well level list "levels.txt".
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/common/fuzz_support.h"
#include "fuzz/common/run_harness.h"

namespace {

const char* const grid_header =
    "north: 1090.00\nsouth: 1000.00\neast: 2120.00\nwest: 2000.00\nrows: 3\ncols: 4\n";

// Every choice starts the water table at 8 m over a bottom at 0 m.
const char* const groundwater_cards =
    "MANNING_N 0.05\nPRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 30\n"
    "WATER_TABLE wt.asc\nGW_SIMULATION\nAQUIFER_BOTTOM bottom.asc\nGW_LSOR_CON 0.0001\n";

const char* const card_sets[] = {
    // The boundary map; aquifer and wells from the tables.
    "MAPPING_TABLE table.cmt\nUSE_WELLS\nGW_BOUNDFILE bound.asc\nTIME_SERIES_FILE wells.ts\n",
    // The boundary map, uniform aquifer, wells from the table.
    "MAPPING_TABLE table.cmt\nUSE_WELLS\nGW_BOUNDFILE bound.asc\nGW_UNIF_POROSITY 0.2\n"
    "GW_UNIF_HYCOND 3.6\nTIME_SERIES_FILE wells.ts\nGW_LSOR_DIR 1\n",
    // The boundary map and the aquifer table, no wells.
    "MAPPING_TABLE table.cmt\nGW_BOUNDFILE bound.asc\nGW_RELAX_COEFF 1.5\n",
    // The boundary map, uniform aquifer, well levels at the cells of the list "levels.txt".
    "GW_BOUNDFILE bound.asc\nGW_UNIF_POROSITY 0.2\nGW_UNIF_HYCOND 3.6\n"
    "GW_WELL_LEVEL levels.out\nOUT_WELL_LOCATION levels.txt\n",
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
      torva_fuzz::small_watershed(std::string(groundwater_cards) + card_sets[choice]);
  const std::string header = grid_header;
  files.push_back({"wt.asc", header + "8 8 8 0\n8 8 8 8\n0 8 8 8\n"});
  files.push_back({"bottom.asc", header + "0 0 0 0\n0 0 0 0\n0 0 0 0\n"});
  for (torva_fuzz::fuzz_file& f : torva_fuzz::split_files(bytes.data(), bytes.size(), "table.cmt"))
    files.push_back(std::move(f));
  torva_fuzz::fuzz_run run(files);
  torva_fuzz::run_project_bounded("run.prj");
  return 0;
}
