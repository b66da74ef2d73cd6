// Fuzzes the overland lake file and the low-spot file readers. The first input byte chooses the
// reader and, for the lake file, how many lakes the lake map holds; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "fuzz/common/fuzz_support.h"
#include "overland/lake_files.h"
#include "overland/overland_state.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  torva_fuzz::byte_reader bytes(data, size);
  const std::uint8_t choice = bytes.next();
  const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  torva_fuzz::fuzz_run run({{"lakes.txt", text}});
  file_handle h;
  if (!file_handle_open(h, "lakes.txt", "r")) return 0;
  if (choice % 2 == 0) {
    const int expected = (choice / 2) % 16;  // largest lake id of the lake map, 0..15
    raw_array1d<lake_record> lakes;
    if (expected > 0) lakes.allocate(expected);
    read_lake_file(h, expected, lakes);
  } else {
    int count = 0;
    raw_array1d<lowspot_record> spots;
    read_lowspot_file(h, "lakes.txt", count, spots);
    if (run_error.error_fatal == 0) check_lowspot_cells(spots, count, 6, 7, "lakes.txt");
  }
  file_handle_close(h);
  return 0;
}
