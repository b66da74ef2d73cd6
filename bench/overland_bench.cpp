// Benchmark of the overland routing step, the explicit scheme and "ade" on the same grids:
// square grids of growing size on a plane that falls to the south-east, all cells wet or 30 % of
// them wet, routed on 1, 2, 4 and 8 threads. Prints cell updates per second (cells x routed
// steps / wall time) with the scheme, the grid, the wet share, the thread count and the step
// count. Sides can be given on the command line (default 500,
// 1000, 2000 and 4000: 0.25, 1, 4 and 16 million cells).
#include <omp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/raw_arrays.h"
#include "framework/core/vector_targets.h"
#include "framework/model_state.h"
#include "overland/ade_overland.h"
#include "overland/explicit_overland.h"
#include "overland/overland_steps.h"
#include "plane_grid.h"

namespace {

// Puts 5 mm on every cell, or on the cells of 3 rows in 10 (30 % wet).
void wet(model_state& ms, int side, bool all) {
  for (int r = 1; r <= side; ++r)
    for (int c = 1; c <= side; ++c)
      ms.overland.ov_depth[ms.index_map[r][c]] = (all || r % 10 < 3) ? 0.005 : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sides;
  for (int i = 1; i < argc; ++i) sides.push_back(std::atoi(argv[i]));
  if (sides.empty()) sides = {500, 1000, 2000, 4000};
  // The vector kernels' instruction set: the best the processor runs, or TORVA_VECTOR_TARGET's.
  std::string message;
  if (!use_vector_target_from_environment(message)) {
    std::printf("%s\n", message.c_str());
    return 1;
  }
  std::printf("vector kernels: %s\n", vector_target_in_use().c_str());
  std::printf("%-9s %10s %6s %7s %6s %16s\n", "scheme", "cells", "wet", "threads", "steps",
              "cell updates/s");
  for (int side : sides) {
    if (side < 2) continue;
    auto ms = make_plane(side);
    run_error = error_state{};
    build_cell_connectivity(*ms);
    compute_overland_slopes(*ms);
    if (run_error.error_code != 0) {
      std::printf("set-up of a %d x %d grid failed\n", side, side);
      return 1;
    }
    const long cells = static_cast<long>(side) * side;
    // About 40 million cell updates per measurement, at least 3 steps.
    const int steps = static_cast<int>(std::max(3L, 40000000L / cells));
    for (const char* scheme : {"explicit", "ade"}) {
      const bool ade = scheme[0] == 'a';
      // One routed step of 1 s.
      auto route = [&] {
        if (ade)
          ade_overland_route(*ms, 1.0, 2, 1);
        else
          ov_route_explicit(*ms, 1.0);
      };
      for (bool all : {true, false}) {
        for (int threads : {1, 2, 4, 8}) {
          omp_set_num_threads(threads);
          wet(*ms, side, all);
          route();  // warm the pages and the thread pool
          const auto start = std::chrono::steady_clock::now();
          for (int s = 0; s < steps; ++s) route();
          const double seconds =
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
          std::printf("%-9s %10ld %6s %7d %6d %16.3e\n", scheme, cells, all ? "100%" : "30%",
                      threads, steps, static_cast<double>(cells) * steps / seconds);
          std::fflush(stdout);
        }
      }
    }
  }
  return 0;
}
