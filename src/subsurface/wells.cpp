// Wells of the groundwater model: the run's list of active wells, placed at start-up from the
// well map and the well table (read_maps, through the WELL_TABLE reader), and their pumping per
// cell, taken by the groundwater solve at every groundwater step.
#include "subsurface/wells.h"

#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/linked_list.h"
#include "framework/model_state.h"
#include "input/input_steps.h"
#include "subsurface/subsurface_steps.h"

well_record* active_well_list = nullptr;

void wells_free_all() {
  list_free(active_well_list);
}

namespace {

const well_record* table_well(const well_record* table_wells, int id) {
  for (const well_record* w = table_wells; w != nullptr; w = w->next)
    if (w->id == id) return w;
  return nullptr;
}

bool series_index_known(int index) {
  for (const ts_index_entry* e = ts_index_head; e != nullptr; e = e->next)
    if (e->index == index) return true;
  return false;
}

}  // namespace

// Adds the well of table row `id` at `cell` to the head of the active list; false after the
// message of a well the table does not hold.
static bool well_add(const well_record* table_wells, int id, int cell, int row, int col) {
  const well_record* w = table_well(table_wells, id);
  if (w == nullptr) {
    stop_with_message(
        "Error: A well was found in the index map (cell [%d,%d]) that \n  was not found in the "
        "well table.\n",
        row, col);
    return false;
  }
  // A scheduled well names its series by index: an index without a series would stop the run
  // at its first groundwater step, so it stops it here.
  if (w->mode != 0 && !series_index_known(w->ts_index)) {
    stop_with_message(
        "Error: attempting to extract a value from an unknown time series in the time series "
        "table.    Check the mapping table file (.cmt). The specified time series index is %d, "
        "but the \nindex is not found in the time series index table.\n",
        w->ts_index);
    return false;
  }
  well_record* active = new well_record(*w);
  active->id = cell;
  active->next = active_well_list;
  active_well_list = active;
  return true;
}

void wells_from_index_map(model_state& ms, const raw_array2d<int>& well_ids,
                          well_record*& table_wells) {
  const int rows = ms.rows < well_ids.row_count() ? ms.rows : well_ids.row_count();
  const int cols = ms.cols < well_ids.col_count() ? ms.cols : well_ids.col_count();
  for (int r = 1; r <= rows && !run_error.error_fatal; ++r) {
    for (int c = 1; c <= cols; ++c) {
      const int id = well_ids[r][c];
      if (id == 0) continue;
      const int cell = ms.index_map.empty() ? 0 : ms.index_map[r][c];
      // A well outside the watershed has no cell of the aquifer to pump from.
      if (cell < 1 || cell > ms.cell_count) {
        stop_with_message(
            "Error: the well map places well %d at row %d, column %d, outside the watershed; "
            "wells lie in cells of the watershed mask.\n",
            id, r, c);
        break;
      }
      if (!well_add(table_wells, id, cell, r, c)) break;
    }
  }
  list_free(table_wells);
}

void well_fluxes(raw_array1d<double>& flux, double t, double dx) {
  const double area = dx * dx;
  for (const well_record* w = active_well_list; w != nullptr; w = w->next) {
    if (w->id < 1 || w->id > flux.count()) continue;
    const double rate = w->mode == 0 ? w->rate : ts_table_value(w->ts_index, t);
    flux[w->id] = rate / area;
  }
}
