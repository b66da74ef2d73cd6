// Well water levels at listed cells: the reader of the well list and the writer of the heads,
// one line per groundwater step. groundwater_setup reads the list, groundwater_step writes.
#include "subsurface/well_levels.h"

#include <cstdio>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/text_tokens.h"
#include "framework/core/units.h"
#include "framework/model_state.h"

namespace {

bool bad_list(const file_handle& h, int line, const char* what) {
  stop_with_message("Error: the well location file %s, line %d: %s\n", h.path, line, what);
  return false;
}

}  // namespace

bool read_well_level_locations(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  file_handle& in = ms.input.well_location_file;
  file_handle& out = ss.gw_well_level_file;
  if (!ss.gw_well_level_on || !in.is_open() || !out.is_open()) return true;
  std::string line;
  int count = 0;
  if (!read_text_line(line, in)) {
    if (run_error.error_fatal) return false;
    return bad_list(in, 1, "the file is empty; its first line gives the number of wells");
  }
  if (!take_int(line, count) || count < 1 || !line.empty())
    return bad_list(in, 1, "the first line must hold the number of wells, a whole number above 0");
  g.level_cells.reset();
  g.level_rows.reset();
  g.level_cols.reset();
  if (!g.level_cells.allocate(count) || !g.level_rows.allocate(count) ||
      !g.level_cols.allocate(count)) {
    raw_report_alloc_failure("well level locations");
    return false;
  }
  for (int k = 1; k <= count; ++k) {
    const int number = k + 1;
    if (!read_text_line(line, in)) {
      if (run_error.error_fatal) return false;
      char text[160];
      snprintf(text, sizeof text, "the file ends after %d of its %d wells", k - 1, count);
      return bad_list(in, number, text);
    }
    int row = 0;
    int col = 0;
    if (!take_int(line, row) || !take_int(line, col) || !line.empty())
      return bad_list(in, number, "a well's line must hold its grid row and column");
    if (row < 1 || row > ms.rows || col < 1 || col > ms.cols) {
      char text[200];
      snprintf(text, sizeof text,
               "row %d, column %d lies outside the grid of %d rows and %d columns", row, col,
               ms.rows, ms.cols);
      return bad_list(in, number, text);
    }
    const int cell = ms.index_map[row][col];
    if (cell < 1) {
      char text[160];
      snprintf(text, sizeof text, "row %d, column %d lies outside the watershed", row, col);
      return bad_list(in, number, text);
    }
    g.level_cells[k] = cell;
    g.level_rows[k] = row;
    g.level_cols[k] = col;
  }
  g.level_count = count;
  fprintf(out.fp, "%12s", "hours");
  for (int k = 1; k <= count; ++k) {
    char name[64];
    snprintf(name, sizeof name, "well(%d,%d)", g.level_rows[k], g.level_cols[k]);
    fprintf(out.fp, " %14s", name);
  }
  fprintf(out.fp, "\n");
  return true;
}

void write_well_levels(model_state& ms) {
  const groundwater_state& g = ms.groundwater;
  file_handle& out = ms.subsurface.gw_well_level_file;
  if (g.level_count < 1 || !out.is_open()) return;
  fprintf(out.fp, "%12.4f", (ms.current_time - ms.start_time_jday) * 24.0);
  for (int k = 1; k <= g.level_count; ++k)
    fprintf(out.fp, " %14.6f", ms.subsurface.elevgw[g.level_cells[k]]);
  fprintf(out.fp, "\n");
}
