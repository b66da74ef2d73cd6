// Wells: placement from the well map (one active well per map position, newest first), their
// pumping per cell area at a time (constant, or from a series clamped before its first row),
// and the wells a map names that the table or the watershed does not hold.
#include <gtest/gtest.h>

#include <memory>

#include "framework/core/error_state.h"
#include "framework/core/linked_list.h"
#include "framework/model_state.h"
#include "input/input_steps.h"
#include "subsurface/subsurface_steps.h"
#include "subsurface/wells.h"
#include "support/test_support.h"

namespace {

// A 2 x 3 grid whose cell (1, 3) lies outside the watershed: cells 1 2 _ / 3 4 5.
std::unique_ptr<model_state> small_grid() {
  auto ms = std::make_unique<model_state>();
  ms->rows = 2;
  ms->cols = 3;
  ms->index_map.allocate(2, 3);
  const int cells[2][3] = {{1, 2, 0}, {3, 4, 5}};
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) ms->index_map[r][c] = cells[r - 1][c - 1];
  ms->cell_count = 5;
  return ms;
}

well_record* table_of(std::initializer_list<well_record> rows) {
  well_record* head = nullptr;
  for (const well_record& w : rows) head = new well_record{w.id, w.mode, w.rate, w.ts_index, head};
  return head;
}

TEST(Wells, EachMapPositionBecomesAWellAndTheirFluxesFollowModeAndTime) {
  torva_test::process_state_guard guard;
  auto ms = small_grid();
  // A series of index 4 rising from 0.002 to 0.006 m3/s over four days.
  time_series* s = ts_create();
  s->times = {2453000.0, 2453004.0};
  s->values = {0.002, 0.006};
  s->count = 2;
  ts_index_add(4, s);

  raw_array2d<int> ids;
  ids.allocate(2, 3);
  ids[1][1] = 5;  // cell 1: constant 0.01 m3/s
  ids[2][2] = 5;  // cell 4: the same table row again
  ids[2][3] = 9;  // cell 5: the series
  well_record* table = table_of({{5, 0, 0.01, 0, nullptr}, {9, 1, 0.0, 4, nullptr}});
  wells_from_index_map(*ms, ids, table);
  EXPECT_EQ(table, nullptr);  // the table is freed once the wells are placed
  ASSERT_EQ(run_error.error_code, 0);
  // Newest first: the map walk placed cells 1, 4, 5.
  const int order[] = {5, 4, 1};
  int k = 0;
  for (const well_record* w = active_well_list; w != nullptr; w = w->next) {
    ASSERT_LT(k, 3);
    EXPECT_EQ(w->id, order[k++]);
  }
  EXPECT_EQ(k, 3);

  raw_array1d<double> flux;
  flux.allocate(5);
  flux[2] = 0.5;  // a cell without a well keeps what it held
  struct at_time {
    double t;
    double series;  // m3/s
  };
  const at_time times[] = {{2452990.0, 0.002}, {2453002.0, 0.004}, {2453010.0, 0.006}};
  for (const at_time& a : times) {
    well_fluxes(flux, a.t, 10.0);
    EXPECT_DOUBLE_EQ(flux[1], 0.01 / 100.0);
    EXPECT_DOUBLE_EQ(flux[4], 0.01 / 100.0);
    EXPECT_NEAR(flux[5], a.series / 100.0, 1e-15) << a.t;
    EXPECT_EQ(flux[2], 0.5);
    EXPECT_EQ(flux[3], 0.0);
  }
}

TEST(Wells, AWellTheTableOrTheWatershedDoesNotHoldStopsTheRun) {
  struct bad_well {
    int row, col, id;
    well_record table_row;
    const char* message;
  };
  const bad_well cases[] = {
      {2,
       1,
       3,
       {4, 0, 0.01, 0, nullptr},
       "Error: A well was found in the index map (cell [2,1]) that \n  was not found in the well "
       "table.\n"},
      {1,
       3,
       4,
       {4, 0, 0.01, 0, nullptr},
       "Error: the well map places well 4 at row 1, column 3, outside the watershed"},
      {2,
       2,
       4,
       {4, 1, 0.0, 12, nullptr},
       "The specified time series index is 12, but the \nindex is not found in the time series "
       "index table.\n"},
  };
  for (const bad_well& b : cases) {
    torva_test::process_state_guard guard;
    auto ms = small_grid();
    raw_array2d<int> ids;
    ids.allocate(2, 3);
    ids[b.row][b.col] = b.id;
    well_record* table = table_of({b.table_row});
    torva_test::stdout_capture capture;
    wells_from_index_map(*ms, ids, table);
    const std::string out = capture.stop();
    EXPECT_TRUE(torva_test::contains(out, b.message)) << out;
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_EQ(active_well_list, nullptr);
    EXPECT_EQ(table, nullptr);
  }
}

}  // namespace
