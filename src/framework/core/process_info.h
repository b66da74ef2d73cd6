// Process context: how the program runs in parallel (thread count of the parallel loops, rank
// and count of processes) and, for a run split over several processes, how the grid is divided
// among them. Set before main runs; the watershed-mask reader asks for the grid partition.
#pragma once

#include <cstdint>
#include <string>

#include "framework/core/parallel_team.h"

struct process_context {
  int32_t** partition_map = nullptr;    // rows 1..nrows x cols 1..ncols: cell number, 0 outside;
                                        // the run's index map, not owned here
  int32_t* cell_col_mask = nullptr;     // per cell 1..num_cells: 1 in this process's column band
  int32_t* cell_row_mask = nullptr;     // per cell 1..num_cells: 1 in this process's row band
  int32_t* short_row_mask = nullptr;    // per row 1..nrows: 1 for the rows of this band
  int32_t* short_col_mask = nullptr;    // per column 1..ncols: 1 for the columns of this band
  int32_t nrows = 0;                    // grid rows
  int32_t ncols = 0;                    // grid columns
  int32_t num_cells = 0;                // active cells
  int32_t* row_active_count = nullptr;  // per row 1..nrows: active cells in the row
  int32_t* col_active_count = nullptr;  // per column 1..ncols: active cells in the column
  int32_t process_rank = 0;             // rank of this process
  int32_t num_threads = 1;              // thread count of the parallel loops
  int64_t cells_per_thread = parallel_cells_per_thread;  // least cells a thread of a loop takes
  int32_t process_index = 0;   // index among the partition's processes; 0 = root
  int32_t num_partitions = 1;  // number of grid partitions
  int32_t num_processes = 1;   // number of processes
  int32_t merge_field1 = 0;    // handed to the calibration result merge; 0
  int32_t merge_field2 = 0;    // handed to the calibration result merge; 0
};

// The one process context; set up before main runs.
extern process_context process_info;

// Sets the thread count to the processor count (and the parallel runtime's to it), rank, index
// and the merge fields to 0, one partition and one process.
void init_process_info(process_context& info);

// Takes the least share of a thread from TORVA_CELLS_PER_THREAD when the environment sets it:
// a whole number from 1 to 1,000,000,000. False, with `message` saying why, for another value.
bool cells_per_thread_from_environment(process_context& info, std::string& message);

// Releases the count arrays and masks of the context and sets them to null (partition_map is
// the run's index map and is left alone).
void release_partition(process_context& info);

// row_active_count[r] (col_active_count[c]) := nonzero entries of partition_map in row r
// (column c). Does nothing while the map or the count array is missing.
void count_cells_per_row(process_context& info);
void count_cells_per_col(process_context& info);

// With partition_map, num_cells, nrows and ncols filled in: releases any earlier partition,
// allocates the zeroed count arrays and masks, counts, and partitions. Leaves no partition
// (every count array and mask null) when num_partitions < 2, when the grid is empty, or when there
// are more partitions than rows or columns, since each band needs at least one of each.
void partition_domain(process_context& info);

// Runs the split search over the row loads, then the column loads, and marks this process's
// row and column bands in the masks. Needs the arrays that partition_domain allocates.
void partition_rows_cols(process_context& info);

// Split search over loads[1..num_loads] into `groups` groups; writes the winning group sizes
// into sizes[1..groups] and returns its score (largest group load minus smallest). Returns -1
// and writes nothing when the loads cannot be split into groups of at least one load each
// (groups < 1 or groups > num_loads), or when a load is negative.
int32_t partition_best_split(const int32_t* loads, int32_t num_loads, int32_t groups,
                             int32_t* sizes);
