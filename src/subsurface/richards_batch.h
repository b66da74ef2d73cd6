// Richards soil columns side by side: the column step of richards_column.h run on eight columns
// at once, node k of the eight columns in one vector (richards_batch.cpp). Each lane follows its
// own column's sub-steps, Picard iterations and surface boundary; a lane whose column has
// reached the step's end takes the next column of the list or queue. Every column ends on the same
// bits as richards_column_step gives it alone, on every instruction set. richards_infiltration
// hands each thread's cells to it as one queue, the columns of one node count at a time.
#pragma once

#include <cstddef>

#include "subsurface/richards_column.h"

// Columns advanced side by side.
inline constexpr int richards_batch_lanes = 8;

// One column of a batch: its nodes, what the weather asks of it, and what richards_column_step
// takes by reference (surface water in m, surface boundary, proposed sub-step in h, books).
struct richards_batch_column {
  richards_column_view v;
  richards_demand demand;
  double* ov_depth = nullptr;
  int* bound_type = nullptr;
  double* dtr = nullptr;
  richards_books* books = nullptr;
};

// Work space of a batch of columns of up to max_nodes nodes (doubles).
inline constexpr int richards_batch_arrays = 49;
inline std::size_t richards_batch_work_size(int max_nodes) {
  return static_cast<std::size_t>(richards_batch_arrays) * richards_batch_lanes *
         (static_cast<std::size_t>(max_nodes) + 1);
}

// Work space of a thread that runs columns one at a time or side by side.
inline std::size_t richards_thread_work_size(int max_nodes) {
  const std::size_t one = richards_work_size(max_nodes), side = richards_batch_work_size(max_nodes);
  return one > side ? one : side;
}

// Advances `count` columns of n nodes each (n >= 2) over dt_h hours, each as
// richards_column_step would. work holds richards_batch_work_size(n) doubles at least.
void richards_columns_step(const richards_batch_column* columns, int count, int n,
                           const richards_options& o, double dt_h, double* work);

// The columns a thread advances, handed to the lanes one at a time as lanes come free, so that
// the lanes stay busy to the thread's last column rather than emptying at the end of every list.
// next gives the next column and a number of the caller's for it (false when there are no more);
// the lane starts from the column's books when it has some (else from none) and done hands them
// back, with the number, once the column's step is over and its arrays are written.
struct richards_column_queue {
  void* context = nullptr;
  bool (*next)(void* context, richards_batch_column& column, int& id) = nullptr;
  void (*done)(void* context, int id, const richards_books& books) = nullptr;
};
// Advances the queue's columns, each of n nodes (n >= 2), as richards_columns_step.
void richards_columns_step(const richards_column_queue& queue, int n, const richards_options& o,
                           double dt_h, double* work);
