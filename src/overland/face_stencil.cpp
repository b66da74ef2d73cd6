// Builds the face stencil of the overland grid from the neighbour arrays and open-face flags
// of the connectivity set-up: runs of cells whose lower and upper neighbours lie at one fixed
// offset, the faces that take the plain formula and the cells whose faces take the wetland
// formula. Called once per run after the bed slopes, and by the routing when the stencil was
// built for another grid.
#include "overland/face_stencil.h"

namespace {

int offset_or_none(int neighbour, int distance) {
  return neighbour != 0 ? distance : 0;
}

}  // namespace

bool build_face_stencil(face_stencil& s, int cell_count, const raw_array1d<int>& right,
                        const raw_array1d<int>& below, const raw_array1d<int>& above,
                        const raw_array1d<unsigned char>& open_x,
                        const raw_array1d<unsigned char>& open_y, const int* wetland,
                        int wetland_count) {
  s.cell_count = 0;
  s.run_count = 0;
  s.wetland_cell_count = 0;
  const int n = cell_count;
  if (n < 1) return false;
  for (int a : {right.count(), below.count(), above.count(), open_x.count(), open_y.count()})
    if (a < n) return false;
  // The right neighbour of a cell must be the next cell: the numbering runs row by row.
  for (int c = 1; c <= n; ++c)
    if (right[c] != 0 && right[c] != c + 1) return false;

  int runs = 0;
  int wet_cells = 0;
  for (int c = 1; c <= n; ++c) {
    const int b = offset_or_none(below[c], below[c] - c);
    const int u = offset_or_none(above[c], c - above[c]);
    if (c == 1 || b != offset_or_none(below[c - 1], below[c - 1] - (c - 1)) ||
        u != offset_or_none(above[c - 1], (c - 1) - above[c - 1]))
      ++runs;
    const int w = wetland != nullptr ? wetland[c] : 0;
    if (w >= 1 && w <= wetland_count && (open_x[c] || open_y[c])) ++wet_cells;
  }
  if (!s.runs.allocate(runs) || !s.plain_faces.allocate(n + stencil_padding) ||
      !s.wetland_cells.allocate(wet_cells)) {
    s.runs.reset();
    s.plain_faces.reset();
    s.wetland_cells.reset();
    return false;
  }

  int r = 0;
  int k = 0;
  for (int c = 1; c <= n; ++c) {
    const int b = offset_or_none(below[c], below[c] - c);
    const int u = offset_or_none(above[c], c - above[c]);
    if (r == 0 || b != s.runs[r].below || u != s.runs[r].above) s.runs[++r] = face_run{c, c, b, u};
    s.runs[r].last = c;
    const int w = wetland != nullptr ? wetland[c] : 0;
    const bool wet = w >= 1 && w <= wetland_count;
    unsigned char bits = 0;
    if (open_x[c]) bits |= stencil_right_open;
    if (open_y[c]) bits |= stencil_lower_open;
    if (wet && bits != 0) s.wetland_cells[++k] = c;
    s.plain_faces[c] = wet ? 0 : bits;
  }
  s.run_count = r;
  s.wetland_cell_count = k;
  s.cell_count = n;
  s.wide_vectors = 1;
  return true;
}

int face_run_of(const face_stencil& s, int c) {
  if (c < 1 || c > s.cell_count || s.run_count < 1) return 0;
  int lo = 1, hi = s.run_count;
  while (lo < hi) {
    const int mid = lo + (hi - lo + 1) / 2;
    if (s.runs[mid].first <= c)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}
