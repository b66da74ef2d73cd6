// Fixtures shared by the tests of the mapping-table readers: table rows in their fixed columns,
// a file of one table, index maps of the small test grid, and the small watershed those tests
// run on.
#pragma once

#include <cstdio>
#include <string>

#include "framework/core/raw_arrays.h"
#include "framework/model_state.h"
#include "support/test_support.h"

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

// A mapping-table file with the one index map "lu.idx" (named "Land use") and one table: its
// keyword line, NUM_IDS `count`, the column header (or the given text in its place) and `rows`.
inline std::string table_file(const std::string& keyword, int count, const std::string& rows,
                              const std::string& before_rows = table_column_header) {
  return table_file_magic + "INDEX_MAP lu.idx Land use\n" + keyword + " Land use\nNUM_IDS " +
         std::to_string(count) + "\n" + before_rows + rows;
}

// A map with the header of the small grid (edges north 100, south 40, east 190, west 100: 2 rows
// by 3 columns of 30 m, and other row and column counts keep these edges) and the given rows of
// values: an index map, or a map of any values.
inline std::string small_index_map(const std::string& ids, int rows = 2, int cols = 3) {
  return grid_header(rows, cols, 100.0, 40.0, 190.0, 100.0) + ids;
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
