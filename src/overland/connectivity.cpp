// Cell connectivity and bed slopes of the overland plane: the run driver calls
// build_cell_connectivity and then compute_overland_slopes once per run, after every map is
// read. They fill the neighbour arrays, the open-face flags and the bed slopes that the
// routing schemes, the boundary cells and the embankments read, and stop the run on a dike low
// spot that cannot work.
#include "overland/connectivity.h"

#include <cstdarg>
#include <cstdio>

#include "framework/core/console.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "overland/face_stencil.h"
#include "overland/overland_flow.h"
#include "overland/overland_steps.h"

namespace {

// Appends printf-formatted text to `out`.
__attribute__((format(printf, 2, 3))) void append(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list sizing;
  va_copy(sizing, args);
  const int length = vsnprintf(nullptr, 0, format, sizing);
  va_end(sizing);
  if (length > 0) {
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(length) + 1);
    vsnprintf(out.data() + start, static_cast<std::size_t>(length) + 1, format, args);
    out.resize(start + static_cast<std::size_t>(length));
  }
  va_end(args);
}

// The word naming a side in the low-spot messages.
const char* side_word(int side) {
  switch (side) {
    case side_top:
      return "top";
    case side_right:
      return "right";
    case side_bottom:
      return "bottom";
    default:
      return "left";
  }
}

// The side of the neighbour that faces side `side` of a cell.
int opposite_side(int side) {
  switch (side) {
    case side_top:
      return side_bottom;
    case side_right:
      return side_left;
    case side_bottom:
      return side_top;
    default:
      return side_right;
  }
}

// The element i of a per-cell array, or `none` when the array has no element i.
template <class T>
T cell_value(const raw_array1d<T>& a, int i, T none) {
  return (!a.empty() && i >= 0 && i <= a.count()) ? a[i] : none;
}

// Lines of a low spot whose elevation lies below that of the cell (other_side false) or of the
// cell across the dike (other_side true).
void crest_below_message(std::string& m, const lowspot_record& s, double ground, bool other_side) {
  append(m, "\nThe elevation of the overland flow dike low spot you specified in the grid\n");
  append(m, "cell located at row %d col %d is %f m.  This elevation is lower than the\n", s.row,
         s.col, s.elevation);
  if (other_side) {
    append(m, "elevation of the grid cell on the other side of the dike, which is %f m.\n", ground);
    append(m, "This situation is impossible.  Please raise the low spot elevation to be\n");
    append(m, "greater than the grid cell elevation.\n");
  } else {
    append(m, "elevation of the grid cell, which is %f m.  This situation is impossible.\n",
           ground);
    append(m, "Please raise the low spot elevation to be greater than the grid cell elevation.\n");
  }
  append(m, "Dike / low spot on %s side of cell\n", side_word(s.side));
  append(m, "Program terminated\n");
}

// Lines of a low spot that runs along its dike instead of across it.
void along_dike_message(std::string& m, const lowspot_record& s) {
  append(m, "\nThe low spot you have specified in the grid at row %d  col %d does not\n", s.row,
         s.col);
  append(m, "cross the dike.  Rather, it runs _along_ the dike.  You specified flow\n");
  const char* word = side_word(s.side);
  append(m, "at this low spot across the %s boundary of the cell, while the dike\n", word);
  if (s.side == side_top || s.side == side_bottom)
    append(m, "is running in a different direction than along the %s of the cell.\n", word);
  else
    append(m, "is running in a different direction than along the %s side of the cell.\n", word);
  append(m, "Program terminated.\n");
}

// Checks one low spot; false with its lines in `m` when it fails.
bool check_one_lowspot(const lowspot_record& s, const raw_array2d<int>& index_map, int rows,
                       int cols, const raw_array1d<int>& dike_mask,
                       const raw_array1d<double>& cell_elev, const cell_neighbour_arrays& nb,
                       const char* file_name, std::string& m) {
  if (s.fraction < 0.0 || s.fraction > 1.5) {
    append(m, "\nThe fraction of the grid-size specified for the lowspot in the grid at\n");
    append(m, "row %d col %d is unreasonable, with a value of %f.  Acceptable\n", s.row, s.col,
           s.fraction);
    append(m, " values range from 0.0 to 1.5.  Change the value.  Program terminated.\n");
    return false;
  }
  if (s.side != side_top && s.side != side_right && s.side != side_bottom && s.side != side_left) {
    append(m, "\nThe low spot flow direction specified in row %d col %d in the file %s\n", s.row,
           s.col, file_name);
    append(m, "is not valid.  The only possible directions are: 1- top boundary, 2- right\n");
    append(m, "boundary, 4- bottom boundary, or 8- left boundary.\n");
    append(m, "Edit your lowspot file and try again.  Program terminated.\n");
    return false;
  }
  // A position outside the map is a cell outside the watershed.
  const bool inside = s.row >= 1 && s.row <= rows && s.col >= 1 && s.col <= cols &&
                      s.row <= index_map.row_count() && s.col <= index_map.col_count();
  const int c = inside ? index_map[s.row][s.col] : 0;
  if (cell_value(dike_mask, c, 0) == 0) {
    append(m, "\nYou have specified an overland flow dike in row %d col %d\n", s.row, s.col);
    append(m, "There is no dike adjacent to this grid cell.  Program stopped.\n");
    return false;
  }
  const int n = nb.on_side(c, s.side);
  if (n == 0 || cell_value(dike_mask, n, 0) == 0) {
    append(m, "\nYou have specified a low spot on the %s boundary of the grid\n",
           side_word(s.side));
    append(m, "cell at row %d col %d.  Either the side you have specified is not on\n", s.row,
           s.col);
    append(m, "an overland flow dike, or the cell on the other side is out of the\n");
    append(m, "watershed.  Check your low spot file.  Program terminated.\n");
    return false;
  }
  const double z_cell = cell_value(cell_elev, c, 0.0);
  if (z_cell > s.elevation) {
    crest_below_message(m, s, z_cell, false);
    return false;
  }
  const double z_other = cell_value(cell_elev, n, 0.0);
  if (z_other > s.elevation) {
    crest_below_message(m, s, z_other, true);
    return false;
  }
  if ((dike_mask[n] & opposite_side(s.side)) == 0) {
    along_dike_message(m, s);
    return false;
  }
  return true;
}

}  // namespace

int cell_neighbour_arrays::on_side(int cell, int side) const {
  switch (side) {
    case side_top:
      return cell_value(above, cell, 0);
    case side_right:
      return cell_value(right, cell, 0);
    case side_bottom:
      return cell_value(below, cell, 0);
    case side_left:
      return cell_value(left, cell, 0);
    default:
      return 0;
  }
}

void build_cell_neighbors(int rows, int cols, raw_array1d<int>& right, raw_array1d<int>& below,
                          raw_array1d<int>& above, raw_array1d<int>& left,
                          const raw_array2d<int>& index_map) {
  // The index map holds a zero border beyond the last row and column; the map's own extent
  // bounds the walk whatever the grid counts say.
  if (rows > index_map.row_count()) rows = index_map.row_count();
  if (cols > index_map.col_count()) cols = index_map.col_count();
  const int last = right.count();
  if (below.count() < last || above.count() < last || left.count() < last) return;
  int k = 0;
  for (int r = 1; r <= rows; ++r) {
    const int* row = index_map[r];
    for (int c = 1; c <= cols; ++c) {
      if (row[c] == 0) continue;
      if (++k > last) return;
      right[k] = c < cols ? row[c + 1] : 0;
      left[k] = c > 1 ? row[c - 1] : 0;
      below[k] = r < rows ? index_map[r + 1][c] : 0;
      above[k] = r > 1 ? index_map[r - 1][c] : 0;
    }
  }
}

void build_face_open_flags(int cell_count, const raw_array1d<int>& right,
                           const raw_array1d<int>& below, int dikes_on,
                           const raw_array1d<int>& dike_mask, raw_array1d<unsigned char>& open_x,
                           raw_array1d<unsigned char>& open_y) {
  for (int i = 1; i <= cell_count && i <= open_x.count() && i <= open_y.count(); ++i) {
    const int mask = dikes_on ? cell_value(dike_mask, i, 0) : 0;
    open_x[i] = cell_value(right, i, 0) != 0 && (mask & side_right) == 0;
    open_y[i] = cell_value(below, i, 0) != 0 && (mask & side_bottom) == 0;
  }
}

int check_dike_lowspots(raw_array1d<lowspot_record>& spots, int count,
                        const raw_array2d<int>& index_map, int rows, int cols,
                        const raw_array1d<int>& dike_mask, const raw_array1d<double>& cell_elev,
                        const cell_neighbour_arrays& neighbours, const char* file_name,
                        std::string& message) {
  message.clear();
  if (file_name == nullptr) file_name = "";
  const int last = count < spots.count() ? count : spots.count();
  for (int k = 1; k <= last; ++k) {
    spots[k].flow = 0.0;
    if (!check_one_lowspot(spots[k], index_map, rows, cols, dike_mask, cell_elev, neighbours,
                           file_name, message))
      return k;
  }
  return 0;
}

void compute_bed_slopes(int cell_count, double dx, const raw_array1d<double>& z,
                        const raw_array1d<int>& right, const raw_array1d<int>& below,
                        raw_array1d<double>& slope_x, raw_array1d<double>& slope_y) {
  int n = cell_count;
  for (int a : {z.count(), right.count(), below.count(), slope_x.count(), slope_y.count()})
    if (a < n) n = a;
  if (n < 1) return;
  for (int i = 0; i <= n; ++i) slope_x[i] = slope_y[i] = 0.0;
  for (int i = 1; i <= n; ++i) {
    const int r = right[i];
    slope_x[i] = (r >= 1 && r <= n) ? (z[i] - z[r]) / dx : slope_x[i - 1];
  }
  for (int i = 1; i <= n; ++i) {
    const int b = below[i];
    if (b < 1 || b > n) continue;
    slope_y[i] = (z[i] - z[b]) / dx;
    // A cell on the lower edge has no face below it; it takes the slope of the face above.
    if (below[b] == 0) slope_y[b] = slope_y[i];
  }
}

// --- Start-up steps called by the run driver --------------------------------------------------

void build_cell_connectivity(model_state& ms) {
  overland_state& ov = ms.overland;
  if (!ms.super_quiet) log_printf("building cell to cell connectivity information\n");

  const int n = ms.cell_count;
  if (n < 1) return;
  // The grid readers allocate the neighbour arrays; they are allocated here when missing.
  raw_array1d<int>* arrays[] = {&ov.rightcon, &ov.belowcon, &ov.leftcon, &ov.abovecon};
  const char* names[] = {"rightcon", "belowcon", "leftcon", "abovecon"};
  for (int a = 0; a < 4; ++a) {
    if (arrays[a]->count() == n && !arrays[a]->empty()) continue;
    alloc_1d_int(*arrays[a], n, names[a]);
    if (arrays[a]->empty()) {
      stop_now();
      return;
    }
  }
  if (!ov.ov_face_open_x.allocate(n) || !ov.ov_face_open_y.allocate(n)) {
    raw_report_alloc_failure("ov_face_open");
    stop_now();
    return;
  }

  build_cell_neighbors(ms.rows, ms.cols, ov.rightcon, ov.belowcon, ov.abovecon, ov.leftcon,
                       ms.index_map);
  build_face_open_flags(n, ov.rightcon, ov.belowcon, ov.dike_map_on, ov.dike_mask,
                        ov.ov_face_open_x, ov.ov_face_open_y);

  if (!ov.dike_map_on || !ov.lowspot_on || ov.num_lowspots < 1) return;
  const cell_neighbour_arrays neighbours{ov.rightcon, ov.belowcon, ov.leftcon, ov.abovecon};
  std::string message;
  if (check_dike_lowspots(ov.lowspots, ov.num_lowspots, ms.index_map, ms.rows, ms.cols,
                          ov.dike_mask, ms.cell_elev, neighbours, ms.input.names.lowspot_file,
                          message) != 0)
    stop_with_message("%s", message.c_str());
}

void compute_overland_slopes(model_state& ms) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  if (n < 1) return;
  if (ov.ov_slope_x.count() != n || ov.ov_slope_x.empty())
    alloc_1d_double(ov.ov_slope_x, n, "ov_slope_x");
  if (ov.ov_slope_y.count() != n || ov.ov_slope_y.empty())
    alloc_1d_double(ov.ov_slope_y, n, "ov_slope_y");
  if (ov.ov_slope_x.empty() || ov.ov_slope_y.empty()) {
    stop_now();
    return;
  }
  compute_bed_slopes(n, ms.gridsize, ms.cell_elev, ov.rightcon, ov.belowcon, ov.ov_slope_x,
                     ov.ov_slope_y);
  overland_flow_setup(ms);
  if (run_error.error_fatal) return;
  overland_stencil_setup(ms);
}

bool overland_stencil_setup(model_state& ms) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const bool wetlands = ms.input.wetland_table_on && ov.wetland_mask.count() >= n;
  const int wetland_count =
      ov.wetlands.count() < ov.wetland_count ? ov.wetlands.count() : ov.wetland_count;
  if (build_face_stencil(ov.ov_stencil, n, ov.rightcon, ov.belowcon, ov.abovecon, ov.ov_face_open_x,
                         ov.ov_face_open_y, wetlands ? ov.wetland_mask.data() : nullptr,
                         wetland_count))
    return true;
  stop_with_message(
      "Error: the overland face stencil of %d cells could not be built from the cell "
      "connectivity.\n",
      n);
  return false;
}
