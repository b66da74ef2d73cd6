// Team sizes of the parallel loops: a loop over cells (grid positions, channel nodes) wakes only
// as many threads as its work can keep busy, so a small grid does not pay for waking and
// gathering eight threads at every step. Every loop of the steps passes team_size of its work
// to its num_threads clause; every cell is computed the same way on any team, so results do
// not depend on it.
#pragma once

#include <omp.h>

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
