// Block-ordered parallel sums over the cells of the grid: the cells 1..n are cut into fixed
// blocks counted from cell 1, each block's part is formed by one thread, and the parts are
// added on the calling thread in block order. A sum (a volume, a flag, the first bad cell) then
// takes the same additions in the same order whatever the number of threads, so it is the same
// bits on one thread or eight. The steps of rain, overland flow, boundaries and infiltration
// form their volume sums and scans through it.
#pragma once

#include <algorithm>
#include <type_traits>

#include "framework/core/parallel_team.h"

// Blocks whose parts are held at once: the parts of a pass live on the stack (nothing is
// allocated), and a pass of 4096 blocks of 1024 cells covers four million cells, so most grids
// take one parallel pass whose threads meet only at its end.
inline constexpr int block_sum_pass_blocks = 4096;

namespace block_sum_detail {

// The fold with `Capacity` parts held at once. The blocks and the order their parts are added
// in do not depend on Capacity, so neither does the total.
template <int BlockCells, int Capacity, class Part, class Total, class Body, class Add>
Total fold_blocks(int cell_count, Total total, const Body& body, const Add& add) {
  constexpr int pass_cells = BlockCells * Capacity;
  Part parts[Capacity];
  const int team = team_size(cell_count);
  for (int pass_first = 1; pass_first <= cell_count; pass_first += pass_cells) {
    const int pass_last = std::min(cell_count, pass_first + (pass_cells - 1));
    const int blocks = (pass_last - pass_first) / BlockCells + 1;
    team_for(std::min(team, blocks), 0, blocks - 1, [&](int b) {
      const int first = pass_first + b * BlockCells;
      parts[b] = body(first, std::min(pass_last, first + (BlockCells - 1)));
    });
    for (int b = 0; b < blocks; ++b) {
      if constexpr (std::is_same_v<decltype(add(total, parts[b])), bool>) {
        if (!add(total, parts[b])) return total;
      } else {
        add(total, parts[b]);
      }
    }
  }
  return total;
}

// Grids of up to this many blocks hold their parts in a small array: the parts are made anew
// at every call, and a small grid stepped many times (a calibration trial) should not pay for
// the thousands it does not use.
inline constexpr int small_pass_blocks = 64;

}  // namespace block_sum_detail

// Runs `body(first, last)` for the blocks of BlockCells cells of 1..cell_count (the last block
// may be shorter) in parallel, each block on one thread, and folds the parts the body returns
// into `total` with `add(total, part)` in block order. When `add` returns a bool, a false
// stops the fold there: later blocks are not added (blocks of the same pass may already have
// been formed). Returns the total. The team is sized by team_size of the cells.
template <int BlockCells, class Part, class Total, class Body, class Add>
Total block_ordered_sum(int cell_count, Total total, const Body& body, const Add& add) {
  static_assert(BlockCells > 0, "a block holds cells");
  using namespace block_sum_detail;
  if (cell_count <= BlockCells * small_pass_blocks)
    return fold_blocks<BlockCells, small_pass_blocks, Part>(cell_count, total, body, add);
  return fold_blocks<BlockCells, block_sum_pass_blocks, Part>(cell_count, total, body, add);
}
