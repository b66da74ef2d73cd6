// Process context and grid partition: the process-wide record of thread count, rank and process
// count (set before main runs), and the row and column band split of the grid that the
// watershed-mask reader asks for when the run is divided into two or more partitions.
#include "framework/core/process_info.h"

#include <omp.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

process_context initial_context() {
  process_context info;
  init_process_info(info);
  return info;
}

// State of one split search over a sequence of loads (active cells per row or per column).
// Only the candidate being tried and the best one so far are kept: the search returns the
// earliest candidate with the smallest score, so the best row is all it needs of the table.
struct split_search {
  const int32_t* loads = nullptr;  // loads 1..load_count (cells per row or per column)
  int32_t load_count = 0;          // L: number of loads
  int32_t group_count = 0;         // P: number of groups
  int64_t total_load = 0;          // T: sum of the loads
  int64_t mean_load = 0;           // T / L, integer division
  int64_t spread = 0;              // s >= 1: thresholds T / P - 2s .. T / P + 2s
  std::vector<int32_t> candidate;  // group sizes 1..P of the candidate being tried
  std::vector<int32_t> best;       // group sizes 1..P of the best candidate so far
  int64_t best_score = -1;         // its score; -1 before the first candidate
};

// Spread of the loads about their mean: the root mean square of the deviations of the loads
// from the integer mean, truncated, plus 1 (so it is always at least 1).
int64_t load_spread(const split_search& search) {
  double sum_squares = 0.0;
  for (int32_t i = 1; i <= search.load_count; ++i) {
    const double deviation =
        static_cast<double>(search.loads[i]) - static_cast<double>(search.mean_load);
    sum_squares += deviation * deviation;
  }
  return static_cast<int64_t>(std::sqrt(sum_squares / search.load_count)) + 1;
}

// Greedy split for one threshold into search.candidate[1..P]. A group takes loads in order
// until its sum reaches the threshold (the load that reaches it belongs to the group), but
// never takes a load reserved for the later groups: group g may reach at most load
// L - (P - g). So every group holds at least one load and the sizes sum to L; a group whose
// sum never reaches the threshold ends at its last allowed load. Group P takes the rest.
void greedy_split(split_search& search, int64_t threshold) {
  const int32_t L = search.load_count;
  const int32_t P = search.group_count;
  int32_t next = 1;  // first load not yet in a group
  for (int32_t g = 1; g < P; ++g) {
    const int32_t last_allowed = L - (P - g);
    int64_t sum = 0;
    int32_t size = 0;
    do {
      sum += search.loads[next];
      ++next;
      ++size;
    } while (sum < threshold && next <= last_allowed);
    search.candidate[g] = size;
  }
  search.candidate[P] = L - next + 1;
}

// Score of search.candidate: largest group load minus smallest group load.
int64_t candidate_score(const split_search& search) {
  int64_t largest = std::numeric_limits<int64_t>::min();
  int64_t smallest = std::numeric_limits<int64_t>::max();
  int32_t next = 1;
  for (int32_t g = 1; g <= search.group_count; ++g) {
    int64_t sum = 0;
    for (int32_t k = 0; k < search.candidate[g]; ++k) sum += search.loads[next++];
    largest = std::max(largest, sum);
    smallest = std::min(smallest, sum);
  }
  return largest - smallest;
}

// Tries the thresholds T / P + o for o = -2s .. +2s in order and keeps the first candidate
// with the smallest score. With loads that are never negative, every threshold at or below 0
// closes each group at its first load and every threshold above T is never reached, so the
// thresholds outside 0 .. T + 1 repeat a candidate already tried at the near end of that range
// and are skipped; the earliest winner is the same.
void run_split_search(split_search& search) {
  const int64_t centre = search.total_load / search.group_count;
  const int64_t first = std::max<int64_t>(centre - 2 * search.spread, 0);
  const int64_t last = std::min<int64_t>(centre + 2 * search.spread, search.total_load + 1);
  for (int64_t threshold = first; threshold <= last; ++threshold) {
    greedy_split(search, threshold);
    const int64_t score = candidate_score(search);
    if (search.best_score < 0 || score < search.best_score) {
      search.best_score = score;
      search.best = search.candidate;
    }
  }
}

// A zeroed one-based count or mask array of n elements plus the spare element 0; null (with
// the allocation message) when the memory is not there.
int32_t* new_partition_array(int32_t n, const char* name) {
  int32_t* array = new (std::nothrow) int32_t[static_cast<size_t>(n) + 1]();
  if (array == nullptr) printf("Error allocating memory for variable %s\n", name);
  return array;
}

// First and last index of group `group` (1-based) of the split `sizes`.
void band_of_group(const std::vector<int32_t>& sizes, int32_t group, int32_t& first,
                   int32_t& last) {
  first = 1;
  for (int32_t g = 1; g < group; ++g) first += sizes[g];
  last = first + sizes[group] - 1;
}

// Marks cell `cell` in `mask` when it is a valid cell number 1..num_cells.
void mark_cell(int32_t* mask, int32_t cell, int32_t num_cells) {
  if (cell >= 1 && cell <= num_cells) mask[cell] = 1;
}

}  // namespace

process_context process_info = initial_context();

long team_cells_per_thread() {
  return static_cast<long>(process_info.cells_per_thread);
}

bool cells_per_thread_from_environment(process_context& info, std::string& message) {
  const char* text = std::getenv("TORVA_CELLS_PER_THREAD");
  if (text == nullptr) return true;
  long long value = 0;
  const char* end = text + std::strlen(text);
  const auto [stop, fault] = std::from_chars(text, end, value);
  if (fault != std::errc() || stop != end || value < 1 || value > 1000000000LL) {
    message = std::string("TORVA_CELLS_PER_THREAD=") + text +
              ": not a whole number of cells from 1 to 1000000000";
    return false;
  }
  info.cells_per_thread = value;
  return true;
}

void init_process_info(process_context& info) {
  info.num_threads = omp_get_num_procs();
  if (info.num_threads < 1) info.num_threads = 1;
  omp_set_num_threads(info.num_threads);
  info.process_rank = 0;
  info.process_index = 0;
  info.merge_field1 = 0;
  info.merge_field2 = 0;
  info.num_partitions = 1;
  info.num_processes = 1;
}

void release_partition(process_context& info) {
  int32_t** arrays[] = {&info.cell_col_mask,  &info.cell_row_mask,    &info.short_row_mask,
                        &info.short_col_mask, &info.row_active_count, &info.col_active_count};
  for (int32_t** array : arrays) {
    delete[] * array;
    *array = nullptr;
  }
}

void count_cells_per_row(process_context& info) {
  if (info.partition_map == nullptr || info.row_active_count == nullptr) return;
  for (int32_t r = 1; r <= info.nrows; ++r) {
    int32_t count = 0;
    for (int32_t c = 1; c <= info.ncols; ++c)
      if (info.partition_map[r][c] != 0) ++count;
    info.row_active_count[r] = count;
  }
}

void count_cells_per_col(process_context& info) {
  if (info.partition_map == nullptr || info.col_active_count == nullptr) return;
  for (int32_t c = 1; c <= info.ncols; ++c) {
    int32_t count = 0;
    for (int32_t r = 1; r <= info.nrows; ++r)
      if (info.partition_map[r][c] != 0) ++count;
    info.col_active_count[c] = count;
  }
}

void partition_domain(process_context& info) {
  // A partition of an earlier grid is never left behind: the fields describe this grid or are
  // null.
  release_partition(info);
  if (info.num_partitions < 2 || info.partition_map == nullptr || info.nrows < 1 ||
      info.ncols < 1 || info.num_cells < 1)
    return;
  // Every band needs at least one row and one column.
  if (info.num_partitions > info.nrows || info.num_partitions > info.ncols) return;

  info.row_active_count = new_partition_array(info.nrows, "row_active_count");
  info.col_active_count = new_partition_array(info.ncols, "col_active_count");
  info.short_row_mask = new_partition_array(info.nrows, "short_row_mask");
  info.short_col_mask = new_partition_array(info.ncols, "short_col_mask");
  info.cell_row_mask = new_partition_array(info.num_cells, "cell_row_mask");
  info.cell_col_mask = new_partition_array(info.num_cells, "cell_col_mask");
  if (info.row_active_count == nullptr || info.col_active_count == nullptr ||
      info.short_row_mask == nullptr || info.short_col_mask == nullptr ||
      info.cell_row_mask == nullptr || info.cell_col_mask == nullptr) {
    release_partition(info);
    return;
  }
  count_cells_per_row(info);
  count_cells_per_col(info);
  partition_rows_cols(info);
}

void partition_rows_cols(process_context& info) {
  if (info.partition_map == nullptr || info.row_active_count == nullptr ||
      info.col_active_count == nullptr || info.short_row_mask == nullptr ||
      info.short_col_mask == nullptr || info.cell_row_mask == nullptr ||
      info.cell_col_mask == nullptr || info.num_partitions < 1)
    return;
  std::fill(info.short_row_mask, info.short_row_mask + info.nrows + 1, 0);
  std::fill(info.short_col_mask, info.short_col_mask + info.ncols + 1, 0);
  std::fill(info.cell_row_mask, info.cell_row_mask + info.num_cells + 1, 0);
  std::fill(info.cell_col_mask, info.cell_col_mask + info.num_cells + 1, 0);

  // The search is deterministic, so every process runs it on the same loads and gets the same
  // group sizes as the root; nothing has to be sent. A process whose index names no group
  // has no band.
  const int32_t groups = info.num_partitions;
  const int32_t group = info.process_index + 1;
  if (group < 1 || group > groups) return;
  std::vector<int32_t> sizes(static_cast<size_t>(groups) + 1, 0);
  int32_t first = 0;
  int32_t last = 0;

  // Row band: the rows of this process's group of the row split; bands do not overlap.
  if (partition_best_split(info.row_active_count, info.nrows, groups, sizes.data()) >= 0) {
    band_of_group(sizes, group, first, last);
    for (int32_t r = first; r <= last; ++r) {
      info.short_row_mask[r] = 1;
      for (int32_t c = 1; c <= info.ncols; ++c)
        mark_cell(info.cell_row_mask, info.partition_map[r][c], info.num_cells);
    }
  }

  // Column band: the columns of this process's group of the column split.
  std::fill(sizes.begin(), sizes.end(), 0);
  if (partition_best_split(info.col_active_count, info.ncols, groups, sizes.data()) >= 0) {
    band_of_group(sizes, group, first, last);
    for (int32_t c = first; c <= last; ++c) {
      info.short_col_mask[c] = 1;
      for (int32_t r = 1; r <= info.nrows; ++r)
        mark_cell(info.cell_col_mask, info.partition_map[r][c], info.num_cells);
    }
  }
}

int32_t partition_best_split(const int32_t* loads, int32_t num_loads, int32_t groups,
                             int32_t* sizes) {
  if (loads == nullptr || sizes == nullptr || groups < 1 || num_loads < groups) return -1;
  split_search search;
  search.loads = loads;
  search.load_count = num_loads;
  search.group_count = groups;
  for (int32_t i = 1; i <= num_loads; ++i) {
    if (loads[i] < 0) return -1;
    search.total_load += loads[i];
  }
  search.mean_load = search.total_load / num_loads;
  search.spread = load_spread(search);
  search.candidate.assign(static_cast<size_t>(groups) + 1, 0);
  search.best.assign(static_cast<size_t>(groups) + 1, 0);
  run_split_search(search);
  for (int32_t g = 1; g <= groups; ++g) sizes[g] = search.best[g];
  return static_cast<int32_t>(
      std::min<int64_t>(search.best_score, std::numeric_limits<int32_t>::max()));
}
