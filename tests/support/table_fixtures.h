// Fixtures shared by the tests of the mapping-table readers: table rows in their fixed columns,
// index maps of the small test grid, and the small watershed those tests run on.
#pragma once

#include <cstdio>
#include <string>

#include "framework/core/raw_arrays.h"
#include "framework/model_state.h"

namespace torva_test {

inline const std::string table_file_magic = "TORVA_INDEX_MAP_TABLES\n";
inline const std::string table_column_header =
    "ID    DESCRIPTION                                  VALUES\n";

// A table row in its fixed columns: the id right-aligned in the first 6 characters, a
// description up to character 86 and the values from character 87 on.
inline std::string table_row(int id, const std::string& values,
                             const std::string& description = "land use") {
  char id_text[16];
  std::snprintf(id_text, sizeof id_text, "%6d", id);
  std::string line = std::string(id_text) + " " + description;
  line.resize(86, ' ');
  return line + values + "\n";
}

// An index map of the small grid (2 rows by 3 columns unless told otherwise) with the given
// rows of ids.
inline std::string small_index_map(const std::string& ids, int rows = 2, int cols = 3) {
  return "north: 100.0\nsouth: 40.0\neast: 190.0\nwest: 100.0\nrows: " + std::to_string(rows) +
         "\ncols: " + std::to_string(cols) + "\n" + ids;
}

// The small watershed of 2 x 3 positions, 1 2 0 / 3 4 5: five cells numbered row by row.
inline void set_small_watershed(model_state& ms) {
  ms.rows = 2;
  ms.cols = 3;
  ms.cell_count = 5;
  alloc_2d_int_named(ms.index_map, 3, 4, "mask");
  const int cells[2][3] = {{1, 2, 0}, {3, 4, 5}};
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) ms.index_map[r][c] = cells[r - 1][c - 1];
}

}  // namespace torva_test
