// Tests of the process context: the start-up values of the process-wide record, the split
// search over row or column loads, and the row and column bands of a partitioned grid.
#include <gtest/gtest.h>
#include <omp.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "framework/core/process_info.h"
#include "support/test_support.h"

namespace {

TEST(ProcessInfoStartup, ProcessWideRecordRunsOneProcessOnAllProcessors) {
  EXPECT_EQ(process_info.num_threads, omp_get_num_procs());
  EXPECT_EQ(process_info.process_rank, 0);
  EXPECT_EQ(process_info.process_index, 0);
  EXPECT_EQ(process_info.num_partitions, 1);
  EXPECT_EQ(process_info.num_processes, 1);
  EXPECT_EQ(process_info.merge_field1, 0);
  EXPECT_EQ(process_info.merge_field2, 0);
  // Nothing in a one-partition run computes a partition.
  EXPECT_EQ(process_info.row_active_count, nullptr);
  EXPECT_EQ(process_info.cell_row_mask, nullptr);
  EXPECT_EQ(process_info.cell_col_mask, nullptr);
}

TEST(ProcessInfoStartup, InitResetsEveryRunField) {
  torva_test::process_state_guard process_state;  // the thread count init sets is given back
  process_context info;
  info.num_threads = -7;
  info.process_rank = 3;
  info.process_index = 2;
  info.num_partitions = 4;
  info.num_processes = 4;
  info.merge_field1 = 9;
  info.merge_field2 = 9;
  init_process_info(info);
  EXPECT_EQ(info.num_threads, omp_get_num_procs());
  EXPECT_EQ(omp_get_max_threads(), omp_get_num_procs());
  EXPECT_EQ(info.process_rank, 0);
  EXPECT_EQ(info.process_index, 0);
  EXPECT_EQ(info.num_partitions, 1);
  EXPECT_EQ(info.num_processes, 1);
  EXPECT_EQ(info.merge_field1, 0);
  EXPECT_EQ(info.merge_field2, 0);
}

// One split search case: loads 1..L, P groups, the expected group sizes and score.
struct split_case {
  const char* what;
  std::vector<int32_t> loads;
  int32_t groups;
  std::vector<int32_t> sizes;
  int32_t score;
};

TEST(ProcessInfoSplit, SearchGivesTheEarliestBestCandidate) {
  // Each case worked by hand: T / P, the spread s = trunc(rms deviation from T / L) + 1, and
  // the greedy split of every threshold T / P - 2s .. T / P + 2s.
  const split_case cases[] = {
      // T 12, s 1, t 4..8: t 4..6 give (2, 2) with 6 and 6; t 7, 8 give (3, 1), score 6.
      {"even loads", {3, 3, 3, 3}, 2, {2, 2}, 0},
      // T 10, s 5, t -7..13: t <= 0 gives (1, 1, 3), t 1..10 (1, 3, 1), t > 10 (3, 1, 1),
      // all with group loads 10, 0, 0; the lowest threshold wins the tie.
      {"all load in the first row", {10, 0, 0, 0, 0}, 3, {1, 1, 3}, 10},
      // T 12, s 5, t -6..14: from t 1 on group 1 never reaches t and stops at load 3, the
      // last one it may take; t <= 0 gives (1, 1, 3). Every split scores 12.
      {"all load in the last row", {0, 0, 0, 0, 12}, 3, {1, 1, 3}, 12},
      // T 24, s 8, t -4..28: t <= 1 (1, 4) score 22, t 2 (2, 3) 20, t 3 (3, 2) 18, t >= 4
      // (4, 1) 16: group 1 must leave the last load to group 2.
      {"heavy last row", {1, 1, 1, 1, 20}, 2, {4, 1}, 16},
      // T 2, s 1, t -2..2: t <= 0 gives (1, 1, 2), score 2; t 1 and 2: group 1 never reaches
      // t and ends at load 2, leaving one load to each later group: (2, 1, 1), score 1.
      {"group ends short of the threshold", {0, 0, 1, 1}, 3, {2, 1, 1}, 1},
      // T 16, s 1, t 6..10: every threshold gives (2, 1), score 6. A threshold of 5, one
      // below the range, would give (1, 2) with the same score and win as the earlier one.
      {"range starts at T/P - 2s", {5, 6, 5}, 2, {2, 1}, 6},
      // As many groups as loads: one load each.
      {"one load per group", {4, 0, 7}, 3, {1, 1, 1}, 7},
      // One group takes everything.
      {"one group", {1, 2, 3}, 1, {3}, 0},
  };
  for (const split_case& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t L = static_cast<int32_t>(c.loads.size());
    std::vector<int32_t> loads(1, 0);
    loads.insert(loads.end(), c.loads.begin(), c.loads.end());
    std::vector<int32_t> sizes(c.groups + 1, -1);
    const int32_t score = partition_best_split(loads.data(), L, c.groups, sizes.data());
    EXPECT_EQ(score, c.score);
    EXPECT_EQ(std::vector<int32_t>(sizes.begin() + 1, sizes.end()), c.sizes);
    EXPECT_EQ(sizes[0], -1);  // the spare element is not written
  }
}

TEST(ProcessInfoSplit, GroupSizesArePositiveAndCoverEveryLoad) {
  // Lopsided load sets for every group count up to the number of loads: the greedy split
  // must still give every group at least one load and use each load once.
  const std::vector<std::vector<int32_t>> load_sets = {
      {50, 0, 0, 0, 0, 0, 0, 1},
      {0, 0, 0, 0, 0, 0, 0, 90},
      {0, 0, 0, 0, 0, 0, 0, 0},
      {1, 100, 1, 100, 1, 100, 1},
  };
  for (const auto& set : load_sets) {
    const int32_t L = static_cast<int32_t>(set.size());
    std::vector<int32_t> loads(1, 0);
    loads.insert(loads.end(), set.begin(), set.end());
    for (int32_t P = 1; P <= L; ++P) {
      SCOPED_TRACE(testing::Message() << "L " << L << " P " << P << " first load " << set[0]);
      std::vector<int32_t> sizes(P + 1, 0);
      const int32_t score = partition_best_split(loads.data(), L, P, sizes.data());
      ASSERT_GE(score, 0);
      for (int32_t g = 1; g <= P; ++g) EXPECT_GE(sizes[g], 1);
      EXPECT_EQ(std::accumulate(sizes.begin() + 1, sizes.end(), 0), L);
    }
  }
}

TEST(ProcessInfoSplit, RefusesSplitsThatCannotGiveEveryGroupALoad) {
  std::vector<int32_t> loads = {0, 3, 1, 2};
  std::vector<int32_t> sizes(6, -5);  // room for 5 groups, so a stray write would show
  const int32_t L = 3;
  EXPECT_EQ(partition_best_split(loads.data(), L, 4, sizes.data()), -1);  // more groups than loads
  EXPECT_EQ(partition_best_split(loads.data(), L, 0, sizes.data()), -1);
  EXPECT_EQ(partition_best_split(loads.data(), 0, 1, sizes.data()), -1);
  EXPECT_EQ(partition_best_split(nullptr, L, 2, sizes.data()), -1);
  EXPECT_EQ(partition_best_split(loads.data(), L, 2, nullptr), -1);
  loads[2] = -1;  // a negative cell count is no load
  EXPECT_EQ(partition_best_split(loads.data(), L, 2, sizes.data()), -1);
  for (int32_t v : sizes) EXPECT_EQ(v, -5);
}

// A grid of cell numbers (0 outside the watershed) held as one-based rows, as the watershed
// mask reader hands it over.
class grid_map {
 public:
  explicit grid_map(const std::vector<std::vector<int32_t>>& rows)
      : cells_(rows.size() + 1), pointers_(rows.size() + 1, nullptr) {
    for (size_t r = 0; r < rows.size(); ++r) {
      cells_[r + 1].assign(1, 0);
      cells_[r + 1].insert(cells_[r + 1].end(), rows[r].begin(), rows[r].end());
      pointers_[r + 1] = cells_[r + 1].data();
    }
  }
  int32_t** map() { return pointers_.data(); }

 private:
  std::vector<std::vector<int32_t>> cells_;
  std::vector<int32_t*> pointers_;
};

// The values 1..n of a one-based array.
std::vector<int32_t> values(const int32_t* array, int32_t n) {
  return std::vector<int32_t>(array + 1, array + n + 1);
}

// A 4 x 3 grid with 10 active cells numbered row by row.
//   row 1:  1  2  0      row loads 2, 3, 2, 3: split (2, 2), rows 1-2 and 3-4
//   row 2:  3  4  5      column loads 3, 4, 3: thresholds 3..7; t 3 gives (1, 2), the
//   row 3:  0  6  7      others (2, 1), both scoring 4; the earlier (1, 2) wins:
//   row 4:  8  9 10      column 1, then columns 2-3
const std::vector<std::vector<int32_t>> small_grid = {{1, 2, 0}, {3, 4, 5}, {0, 6, 7}, {8, 9, 10}};

process_context small_grid_context(grid_map& grid, int32_t partitions, int32_t index) {
  process_context info;
  info.partition_map = grid.map();
  info.nrows = 4;
  info.ncols = 3;
  info.num_cells = 10;
  info.num_partitions = partitions;
  info.process_index = index;
  return info;
}

TEST(ProcessInfoPartition, CountsActiveCellsPerRowAndColumn) {
  grid_map grid(small_grid);
  process_context info = small_grid_context(grid, 2, 0);
  partition_domain(info);
  ASSERT_NE(info.row_active_count, nullptr);
  ASSERT_NE(info.col_active_count, nullptr);
  EXPECT_EQ(values(info.row_active_count, 4), (std::vector<int32_t>{2, 3, 2, 3}));
  EXPECT_EQ(values(info.col_active_count, 3), (std::vector<int32_t>{3, 4, 3}));
  EXPECT_EQ(info.row_active_count[0], 0);
  EXPECT_EQ(info.col_active_count[0], 0);
  release_partition(info);
  EXPECT_EQ(info.row_active_count, nullptr);
  EXPECT_EQ(info.col_active_count, nullptr);
  EXPECT_EQ(info.cell_row_mask, nullptr);
  EXPECT_EQ(info.short_col_mask, nullptr);
  EXPECT_EQ(info.partition_map, grid.map());  // the run's map is not the context's to free
}

struct band_case {
  int32_t process_index;
  std::vector<int32_t> short_row_mask;  // rows 1..4
  std::vector<int32_t> short_col_mask;  // columns 1..3
  std::vector<int32_t> cell_row_mask;   // cells 1..10
  std::vector<int32_t> cell_col_mask;   // cells 1..10
};

TEST(ProcessInfoPartition, MasksMarkTheBandsOfEachProcess) {
  const band_case cases[] = {
      {0, {1, 1, 0, 0}, {1, 0, 0}, {1, 1, 1, 1, 1, 0, 0, 0, 0, 0}, {1, 0, 1, 0, 0, 0, 0, 1, 0, 0}},
      {1, {0, 0, 1, 1}, {0, 1, 1}, {0, 0, 0, 0, 0, 1, 1, 1, 1, 1}, {0, 1, 0, 1, 1, 1, 1, 0, 1, 1}},
      // An index that names no group has no band.
      {2, {0, 0, 0, 0}, {0, 0, 0}, std::vector<int32_t>(10, 0), std::vector<int32_t>(10, 0)},
  };
  for (const band_case& c : cases) {
    SCOPED_TRACE(testing::Message() << "process index " << c.process_index);
    grid_map grid(small_grid);
    process_context info = small_grid_context(grid, 2, c.process_index);
    // Twice, as in a second run of the same process: the earlier arrays are released (a leak
    // shows in the sanitizer build) and the result is the same.
    for (int pass = 0; pass < 2; ++pass) {
      partition_domain(info);
      ASSERT_NE(info.cell_row_mask, nullptr);
      EXPECT_EQ(values(info.short_row_mask, 4), c.short_row_mask);
      EXPECT_EQ(values(info.short_col_mask, 3), c.short_col_mask);
      EXPECT_EQ(values(info.cell_row_mask, 10), c.cell_row_mask);
      EXPECT_EQ(values(info.cell_col_mask, 10), c.cell_col_mask);
      EXPECT_EQ(info.cell_row_mask[0] + info.cell_col_mask[0], 0);
      EXPECT_EQ(info.short_row_mask[0] + info.short_col_mask[0], 0);
    }
    release_partition(info);
  }
}

TEST(ProcessInfoPartition, BandsOfAllProcessesCoverTheGridOnce) {
  // Three processes on a 5 x 4 grid with a hole: each row, column and active cell belongs to
  // exactly one band of each kind.
  const std::vector<std::vector<int32_t>> rows = {
      {1, 2, 3, 4}, {5, 0, 0, 6}, {7, 0, 0, 8}, {9, 10, 11, 12}, {0, 13, 14, 0}};
  std::vector<int32_t> row_owner(6, 0), col_owner(5, 0), cell_rows(15, 0), cell_cols(15, 0);
  for (int32_t index = 0; index < 3; ++index) {
    grid_map grid(rows);
    process_context info;
    info.partition_map = grid.map();
    info.nrows = 5;
    info.ncols = 4;
    info.num_cells = 14;
    info.num_partitions = 3;
    info.process_index = index;
    partition_domain(info);
    ASSERT_NE(info.short_row_mask, nullptr);
    for (int32_t r = 1; r <= 5; ++r) row_owner[r] += info.short_row_mask[r];
    for (int32_t c = 1; c <= 4; ++c) col_owner[c] += info.short_col_mask[c];
    for (int32_t k = 1; k <= 14; ++k) {
      cell_rows[k] += info.cell_row_mask[k];
      cell_cols[k] += info.cell_col_mask[k];
    }
    release_partition(info);
  }
  for (int32_t r = 1; r <= 5; ++r) EXPECT_EQ(row_owner[r], 1) << "row " << r;
  for (int32_t c = 1; c <= 4; ++c) EXPECT_EQ(col_owner[c], 1) << "column " << c;
  for (int32_t k = 1; k <= 14; ++k) {
    EXPECT_EQ(cell_rows[k], 1) << "cell " << k;
    EXPECT_EQ(cell_cols[k], 1) << "cell " << k;
  }
}

TEST(ProcessInfoPartition, RefusesWithoutAGridToSplit) {
  struct refusal {
    const char* what;
    int32_t partitions, nrows, ncols, num_cells;
    bool with_map;
  };
  const refusal cases[] = {
      {"one partition", 1, 4, 3, 10, true},
      {"no partitions", 0, 4, 3, 10, true},
      {"negative partitions", -2, 4, 3, 10, true},
      {"no rows", 2, 0, 3, 10, true},
      {"no columns", 2, 4, 0, 10, true},
      {"no active cells", 2, 4, 3, 0, true},
      {"no map", 2, 4, 3, 10, false},
      {"more partitions than columns", 4, 4, 3, 10, true},
      {"more partitions than rows", 5, 4, 3, 10, true},
  };
  for (const refusal& c : cases) {
    SCOPED_TRACE(c.what);
    grid_map grid(small_grid);
    process_context info = small_grid_context(grid, c.partitions, 0);
    info.nrows = c.nrows;
    info.ncols = c.ncols;
    info.num_cells = c.num_cells;
    if (!c.with_map) info.partition_map = nullptr;
    partition_domain(info);
    EXPECT_EQ(info.row_active_count, nullptr);
    EXPECT_EQ(info.col_active_count, nullptr);
    EXPECT_EQ(info.short_row_mask, nullptr);
    EXPECT_EQ(info.short_col_mask, nullptr);
    EXPECT_EQ(info.cell_row_mask, nullptr);
    EXPECT_EQ(info.cell_col_mask, nullptr);
  }
}

TEST(ProcessInfoPartition, RefusalDropsThePartitionOfAnEarlierGrid) {
  grid_map grid(small_grid);
  process_context info = small_grid_context(grid, 2, 0);
  partition_domain(info);
  ASSERT_NE(info.cell_row_mask, nullptr);
  info.num_partitions = 1;
  partition_domain(info);
  EXPECT_EQ(info.cell_row_mask, nullptr);
  EXPECT_EQ(info.row_active_count, nullptr);
}

TEST(ProcessInfoPartition, CellNumbersOutsideTheCellCountAreNotMarked) {
  // A map whose numbers run past num_cells must not lead to writes past the cell masks.
  grid_map grid({{1, 2, 0}, {3, 4, 5}, {0, 6, 7}, {8, 9, 99}});
  process_context info = small_grid_context(grid, 2, 1);
  info.num_cells = 9;
  partition_domain(info);
  ASSERT_NE(info.cell_row_mask, nullptr);
  EXPECT_EQ(values(info.cell_row_mask, 9), (std::vector<int32_t>{0, 0, 0, 0, 0, 1, 1, 1, 1}));
  release_partition(info);
}

}  // namespace
