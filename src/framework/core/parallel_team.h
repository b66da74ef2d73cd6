// Team sizes of the parallel loops: a loop over cells (grid positions, channel nodes) wakes only
// as many threads as its work can keep busy, so a small grid does not pay for waking and
// gathering eight threads at every step. Every loop of the steps passes team_size of its work
// to its num_threads clause; every cell is computed the same way on any team, so results do
// not depend on it.
#pragma once

#include <omp.h>

#include <type_traits>

// Fewest cells a thread of a per-cell loop is given: a team of k threads needs at least
// k x parallel_cells_per_thread cells. On a machine loaded by other work, the 4,050-cell
// V-catchment ran in 0.12 s on the one thread this gives it and in 0.41 s on the three that
// 1,024 cells a thread give it (3.3 s on eight): a share of a few thousand cells is worth less
// than waking a thread and meeting it again at the end of the loop.
inline constexpr long parallel_cells_per_thread = 2048;

// Fewest cells for which a per-cell loop runs on more than one thread.
inline constexpr int parallel_min_cells = 2 * parallel_cells_per_thread;

// Threads for a loop over `work` items of which each thread needs at least `per_thread`: 1
// below two threads' worth, else work / per_thread, at most the thread count of the parallel
// loops. Called outside parallel regions.
// The least share of the process context: parallel_cells_per_thread unless the environment's
// TORVA_CELLS_PER_THREAD set another at start-up (the tests give small grids small shares, so
// that their runs on many threads share the cells among many threads).
long team_cells_per_thread();

inline int team_size(long work, long per_thread = team_cells_per_thread()) {
  const long most = omp_get_max_threads();
  const long fit = per_thread > 0 ? work / per_thread : work;
  if (fit <= 1 || most <= 1) return 1;
  return static_cast<int>(fit < most ? fit : most);
}

// A team of one thread still costs a kernel call: the threads of every parallel region meet at
// its end (and at each barrier inside it) through a system call even when there is only the
// one. A region whose team is one thread, opened where no region is open yet, therefore runs on
// the calling thread outside any region: there omp_get_num_threads() is 1 and
// omp_get_thread_num() 0 (a thread's share is the whole range), a barrier returns at once, a
// work-sharing loop runs all of its iterations and a single block runs. Inside an open region
// the body runs in a nested region as before, so that it sees a team of its own.
inline bool team_runs_inline(int threads) {
  return threads <= 1 && omp_get_level() == 0;
}

// Calls `body()` on every thread of a team of `threads` threads, or once on the calling thread
// outside any region when team_runs_inline(threads). For a region with reductions, call the
// body inside `#pragma omp parallel ... reduction(...)` unless team_runs_inline, passing it the
// reduction variables.
template <class Body>
void on_team(int threads, const Body& body) {
  if (team_runs_inline(threads)) {
    body();
    return;
  }
#pragma omp parallel num_threads(threads)
  body();
}

// Calls `body(i)` for i = first..last, shared among a team of `threads` threads in equal
// contiguous shares as a static schedule gives them, or in order on the calling thread when
// team_runs_inline(threads).
template <class Index, class Body>
void team_for(int threads, Index first, std::type_identity_t<Index> last, const Body& body) {
  if (team_runs_inline(threads)) {
    for (Index i = first; i <= last; ++i) body(i);
    return;
  }
#pragma omp parallel for schedule(static) num_threads(threads)
  for (Index i = first; i <= last; ++i) body(i);
}
