// Fuzzes the ASCII grid map reader in every storage mode. The first input bytes choose the mode,
// the watershed of the index grid (its rows, columns and which positions are in) and the size the
// map must have; the rest is the map file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "fuzz/common/fuzz_support.h"
#include "input/ascii_grid.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  torva_fuzz::byte_reader bytes(data, size);
  const int mode = 1 + bytes.next() % 4;
  const int rows = 1 + bytes.next() % 8;
  const int cols = 1 + bytes.next() % 8;
  const int expected_rows = rows + (bytes.next() % 8 == 0 ? 1 : 0);
  const int short_destination = bytes.next() % 8 == 0 ? 1 : 0;  // one cell too few

  raw_array2d<int> index_grid;
  if (!index_grid.allocate(rows + 1, cols + 1)) return 0;
  int cells = 0;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) index_grid[r][c] = bytes.next() % 4 == 0 ? 0 : ++cells;

  const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  torva_fuzz::fuzz_run run({{"map.asc", text}});
  raw_array1d<double> first;
  raw_array1d<double> second;
  raw_array1d<int> categories;
  const int held = cells - short_destination;
  if (held > 0) {
    first.allocate(held);
    second.allocate(held);
    categories.allocate(held);
  }
  file_handle h;
  if (!file_handle_open(h, "map.asc", "r")) return 0;
  double north = 0.0, south = 0.0, east = 0.0, west = 0.0;
  int map_rows = 0, map_cols = 0;
  read_ascii_map(h, "map.asc", mode, north, south, east, west, map_rows, map_cols, index_grid,
                 &first, &second, &categories, expected_rows, cols);
  file_handle_close(h);
  return 0;
}
