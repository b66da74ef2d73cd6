// Weir flow over the low spots of overland dikes, called once per routed overland step by the
// explicit overland routing after its sub-steps. Serial: the low spots are few and two of them
// may share a cell.
#include "overland/embankments.h"

#include <cmath>

namespace {

// The cell at (row, col), 0 outside the grid or the watershed.
int cell_at(const raw_array2d<int>& index_map, int rows, int cols, int row, int col) {
  if (row < 1 || col < 1 || row > rows || col > cols) return 0;
  if (row > index_map.row_count() || col > index_map.col_count()) return 0;
  return index_map[row][col];
}

// The lake of `cell`, 0 when lakes are off or the cell is in none.
int lake_of(int lakes_on, const raw_array1d<int>& lake_of_cell,
            const raw_array1d<lake_record>& lakes, int cell) {
  if (!lakes_on || cell > lake_of_cell.count() || lake_of_cell.empty()) return 0;
  const int lake = lake_of_cell[cell];
  return lake >= 1 && lake <= lakes.count() ? lake : 0;
}

}  // namespace

void ov_embankment_flow(double dt, double dx, const raw_array2d<int>& index_map, int rows, int cols,
                        const raw_array1d<double>& cell_elev, raw_array1d<double>& depth, int count,
                        raw_array1d<lowspot_record>& lowspots, int lakes_on,
                        const raw_array1d<int>& lake_of_cell, raw_array1d<lake_record>& lakes) {
  if (!(dt > 0.0) || !(dx > 0.0)) return;
  const double area = dx * dx;
  const int last_cell = depth.count() < cell_elev.count() ? depth.count() : cell_elev.count();
  for (int k = 1; k <= count && k <= lowspots.count(); ++k) {
    lowspot_record& spot = lowspots[k];
    int row = spot.row, col = spot.col;
    switch (spot.side) {
      case 1:
        --row;
        break;
      case 2:
        ++col;
        break;
      case 4:
        ++row;
        break;
      case 8:
        --col;
        break;
      default:
        continue;
    }
    const int c = cell_at(index_map, rows, cols, spot.row, spot.col);
    const int n = cell_at(index_map, rows, cols, row, col);
    if (c < 1 || n < 1 || c > last_cell || n > last_cell) continue;
    const int lake_c = lake_of(lakes_on, lake_of_cell, lakes, c);
    const int lake_n = lake_of(lakes_on, lake_of_cell, lakes, n);
    const double wc = lake_c ? lakes[lake_c].surface_elev : depth[c] + cell_elev[c];
    const double wn = lake_n ? lakes[lake_n].surface_elev : depth[n] + cell_elev[n];
    if (!(std::fabs(wc - wn) > 0.001) || !(wc > spot.elevation || wn > spot.elevation)) continue;

    // The higher surface loses water over the crest to the lower one.
    const bool from_c = wc > wn;
    const int loser = from_c ? c : n, gainer = from_c ? n : c;
    const int lake_loser = from_c ? lake_c : lake_n, lake_gainer = from_c ? lake_n : lake_c;
    const double head = (from_c ? wc : wn) - spot.elevation;
    const double q = 1.48 * std::pow(head, 1.5) * spot.fraction * dx;
    double moved = q * dt / area;  // m of depth over one cell
    // The losing cell (or lake) gives at most the water it holds.
    const double held = lake_loser
                            ? (lakes[lake_loser].volume + lakes[lake_loser].rain_volume) / area
                            : depth[loser];
    if (moved > held) moved = held > 0.0 ? held : 0.0;
    spot.flow = moved * area / dt;
    if (lake_loser)
      lakes[lake_loser].rain_volume -= moved * area;
    else
      depth[loser] -= moved;
    if (lake_gainer)
      lakes[lake_gainer].rain_volume += moved * area;
    else
      depth[gainer] += moved;
  }
}
