// Builds the tiles of the overland sediment transport: cells sorted by level, then by tile,
// then in cell order, with the first tile of every level and the first cell of every tile.
// Called once by the overland sediment set-up.
#include "transport/sediment_sweep.h"

#include <vector>

namespace {

void clear(sediment_sweep& sweep) {
  sweep.levels = 0;
  sweep.tiles = 0;
  sweep.level_start.reset();
  sweep.tile_start.reset();
  sweep.cells.reset();
}

}  // namespace

bool build_sediment_sweep(sediment_sweep& sweep, const raw_array2d<int>& index_map, int rows,
                          int cols, int cell_count, int tile_rows, int tile_span) {
  clear(sweep);
  if (rows < 1 || cols < 1 || cell_count < 1 || tile_rows < 1 || tile_span < 1) return false;
  if (index_map.row_count() < rows || index_map.col_count() < cols) return false;
  const long band_count = (rows + tile_rows - 1) / tile_rows;
  const long span_count = (rows + cols - 1 + tile_span - 1) / tile_span;
  const long level_count = band_count + span_count - 1;
  // Bucket (level, band) holds the cells of one tile; levels first, bands within a level.
  const long buckets = level_count * band_count;
  std::vector<int> bucket_of(static_cast<size_t>(cell_count) + 1, -1);
  std::vector<long> filled(static_cast<size_t>(buckets) + 1, 0);
  long seen = 0;
  int last = 0;
  for (int r = 1; r <= rows; ++r)
    for (int k = 1; k <= cols; ++k) {
      const int c = index_map[r][k];
      if (c == 0) continue;
      // The tiles keep cell order only where the cells are numbered row by row.
      if (c <= last || c > cell_count) return false;
      last = c;
      const long band = (r - 1) / tile_rows;
      const long span = (r - 1 + k - 1) / tile_span;
      bucket_of[c] = static_cast<int>((band + span) * band_count + band);
      ++filled[bucket_of[c] + 1];
      ++seen;
    }
  if (seen != cell_count) return false;
  long tiles = 0;
  for (long b = 1; b <= buckets; ++b) tiles += filled[b] > 0;
  if (!sweep.level_start.allocate(static_cast<int>(level_count) + 1) ||
      !sweep.tile_start.allocate(static_cast<int>(tiles) + 1) ||
      !sweep.cells.allocate(cell_count)) {
    clear(sweep);
    return false;
  }
  // Positions of the buckets, then the cells in cell order (the map numbers them row by row, so
  // within a tile cell order is the order the map gives).
  std::vector<long> next(static_cast<size_t>(buckets) + 1, 1);
  for (long b = 1; b <= buckets; ++b) next[b] = next[b - 1] + filled[b];
  int tile = 0;
  for (long level = 0; level < level_count; ++level) {
    sweep.level_start[static_cast<int>(level) + 1] = tile + 1;
    for (long band = 0; band < band_count; ++band) {
      const long b = level * band_count + band;
      if (filled[b + 1] == 0) continue;
      sweep.tile_start[++tile] = static_cast<int>(next[b]);
    }
  }
  sweep.level_start[static_cast<int>(level_count) + 1] = tile + 1;
  sweep.tile_start[tile + 1] = cell_count + 1;
  for (int c = 1; c <= cell_count; ++c) sweep.cells[static_cast<int>(next[bucket_of[c]]++)] = c;
  sweep.levels = static_cast<int>(level_count);
  sweep.tiles = tile;
  return true;
}
