// Team sizes of the parallel loops and the block-ordered parallel sum: a small grid runs on one
// thread, a large one on every thread there is, and a sum takes the same additions in the same
// order on any team; a team of one runs outside any parallel region.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/core/block_sum.h"
#include "framework/core/parallel_team.h"
#include "framework/core/process_info.h"
#include "support/test_support.h"

namespace {

TEST(TeamSize, ThreadsFollowTheWorkUpToTheThreadCount) {
  torva_test::process_state_guard process_state;  // the thread count is given back
  struct team_case {
    long work;
    long per_thread;
    int threads;  // thread count of the parallel loops
    int team;
  };
  const long n = parallel_cells_per_thread;
  const team_case cases[] = {
      {0, n, 8, 1},
      {4050, 2048, 8, 1},  // the V-catchment: a few thousand cells wake no
                           // other thread
      {2 * n - 1, n, 8, 1},
      {2 * n, n, 8, 2},
      {5 * n + n / 2, n, 8, 5},
      {100 * n, n, 8, 8},
      {100 * n, n, 3, 3},
      {100 * n, n, 1, 1},
      {9, 0, 8, 8},  // no least share: every thread there is
  };
  for (const team_case& c : cases) {
    omp_set_num_threads(c.threads);
    EXPECT_EQ(team_size(c.work, c.per_thread), c.team)
        << c.work << " items, " << c.per_thread << " a thread, " << c.threads << " threads";
  }
}

TEST(TeamSize, TheShareOfCellsATeamGivesEachThreadComesFromTheEnvironment) {
  torva_test::process_state_guard process_state;  // the thread count is given back
  const long long saved = process_info.cells_per_thread;
  omp_set_num_threads(8);
  struct share_case {
    const char* value;  // TORVA_CELLS_PER_THREAD
    bool taken;
    long long share;  // the share in force after it
  };
  const share_case cases[] = {
      {"16", true, 16},
      {"1", true, 1},
      {"1000000000", true, 1000000000},
      {"0", false, 2048},
      {"-16", false, 2048},
      {"16 cells", false, 2048},
      {"", false, 2048},
      {"1000000001", false, 2048},
      {"99999999999999999999", false, 2048},
  };
  for (const share_case& c : cases) {
    process_info.cells_per_thread = 2048;
    setenv("TORVA_CELLS_PER_THREAD", c.value, 1);
    std::string message;
    EXPECT_EQ(cells_per_thread_from_environment(process_info, message), c.taken) << c.value;
    EXPECT_EQ(message.empty(), c.taken) << c.value << ": " << message;
    EXPECT_EQ(process_info.cells_per_thread, c.share) << c.value;
  }
  unsetenv("TORVA_CELLS_PER_THREAD");
  // Small shares spread even a small grid over every thread; the default keeps it on one.
  process_info.cells_per_thread = 16;
  EXPECT_EQ(team_size(4050), 8);
  EXPECT_EQ(team_size(40), 2);
  process_info.cells_per_thread = 2048;
  EXPECT_EQ(team_size(4050), 1);
  process_info.cells_per_thread = saved;
}

// Values whose sum depends on the order of the additions: magnitudes from 2^-20 to 2^19.
double value_of(int cell) {
  return std::ldexp(1.0 + 0.37 * std::sin(cell), cell % 40 - 20);
}

TEST(BlockOrderedSum, SameBitsOnAnyTeamAndAFoldThatStops) {
  torva_test::process_state_guard process_state;
  // Blocks of 3 cells, over more than one pass of blocks (the parts of a pass are held at once).
  constexpr int block = 3;
  const int cells = block * block_sum_pass_blocks * 2 + 5;
  std::vector<double> x(cells + 1);
  for (int c = 1; c <= cells; ++c) x[c] = value_of(c);
  // The sum written out: each block summed in cell order, the block sums added in block order.
  double expected = 0.0;
  for (int first = 1; first <= cells; first += block) {
    double part = 0.0;
    for (int c = first; c <= std::min(cells, first + block - 1); ++c) part += x[c];
    expected += part;
  }
  double in_cell_order = 0.0;
  for (int c = 1; c <= cells; ++c) in_cell_order += x[c];
  ASSERT_NE(expected, in_cell_order);  // the values do tell the orders apart

  for (int threads : {1, 3, 8}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    omp_set_num_threads(threads);
    std::atomic<int> team{0};
    const double sum = block_ordered_sum<block, double>(
        cells, 0.0,
        [&](int first, int last) {
          team = std::max(team.load(), omp_get_num_threads());
          double part = 0.0;
          for (int c = first; c <= last; ++c) part += x[c];
          return part;
        },
        [](double& total, double part) { total += part; });
    EXPECT_EQ(std::memcmp(&sum, &expected, sizeof sum), 0) << sum << " " << expected;
    EXPECT_EQ(team.load(), team_size(cells));

    // A fold that stops at the first block holding a cell past 5000: the blocks before it and
    // that block are taken, in order, and nothing after it.
    int taken = 0;
    int last_taken = 0;
    block_ordered_sum<block, int>(
        cells, 0, [](int first, int) { return first; },
        [&](int&, int first) {
          EXPECT_EQ(first, last_taken + (last_taken == 0 ? 1 : block));
          last_taken = first;
          ++taken;
          return first + block - 1 <= 5000;
        });
    EXPECT_EQ(taken, 5000 / block + 1);
  }

  // A grid of a few thousand cells sums on one thread whatever the thread count.
  omp_set_num_threads(8);
  int small_team = 0;
  block_ordered_sum<1024, int>(
      4050, 0,
      [&](int, int) {
#pragma omp critical
        small_team = std::max(small_team, omp_get_num_threads());
        return 0;
      },
      [](int&, int) {});
  EXPECT_EQ(small_team, 1);
}

// A team of one runs its body on the calling thread outside any region (no team is formed, so
// no thread meets another at its end); a larger team shares the range in contiguous shares; and
// inside an open region the body still gets a team of its own, not the enclosing one.
TEST(TeamRegions, ATeamOfOneRunsOutsideAnyRegionAndALargerTeamSharesTheRange) {
  constexpr int n = 30;
  for (int threads : {1, 3}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    std::vector<int> hits(n + 1, 0), level(n + 1, -1), thread(n + 1, -1);
    team_for(threads, 1, n, [&](int i) {
      ++hits[i];
      level[i] = omp_get_level();
      thread[i] = omp_get_thread_num();
    });
    for (int i = 1; i <= n; ++i) {
      EXPECT_EQ(hits[i], 1) << "index " << i;
      EXPECT_EQ(level[i], threads == 1 ? 0 : 1) << "index " << i;
      // Equal contiguous shares in index order: thread t takes 1 + t*n/threads onwards.
      EXPECT_EQ(thread[i], (i - 1) * threads / n) << "index " << i;
    }

    // A region's body with a barrier and a single block: every thread calls it, the single
    // block runs once, and what one thread wrote before the barrier is seen by all after it.
    std::atomic<int> calls{0}, singles{0}, seen_after_barrier{0};
    std::vector<int> wrote(threads, 0);
    on_team(threads, [&] {
      ++calls;
      EXPECT_EQ(omp_get_level(), threads == 1 ? 0 : 1);
      wrote[omp_get_thread_num()] = 1;
#pragma omp barrier
      int all = 0;
      for (int w : wrote) all += w;
      if (all == threads) ++seen_after_barrier;
#pragma omp single
      ++singles;
    });
    EXPECT_EQ(calls.load(), threads);
    EXPECT_EQ(singles.load(), 1);
    EXPECT_EQ(seen_after_barrier.load(), threads);
  }

  // Inside an open region a team of one is a nested region of its own: each enclosing thread
  // runs the whole range once, as the only thread of its team.
  std::atomic<int> whole_ranges{0};
#pragma omp parallel num_threads(2)
  {
    int own_hits = 0;
    bool alone = true;
    team_for(1, 1, n, [&](int) {
      ++own_hits;
      alone =
          alone && omp_get_num_threads() == 1 && omp_get_thread_num() == 0 && omp_get_level() == 2;
    });
    if (own_hits == n && alone) ++whole_ranges;
  }
  EXPECT_EQ(whole_ranges.load(), 2);
}
}  // namespace
