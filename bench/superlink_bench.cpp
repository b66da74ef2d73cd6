// Benchmark of the implicit pipe-network solve on generated networks: a binary tree of
// junctions (junction j drains into junction j / 2; junction 1 drains into a free outfall),
// every superlink of five 60 m circular pipes, every pipe fed a tile inflow at its upstream
// junction. For each junction count the network is read from a generated file, warmed by a few
// steps, then stepped K times; prints the junctions, the time per step and its growth over the
// previous size, and the share the junction system (a sparse factoring reusing its ordering and
// pivots, which grows about as the junction count) takes of it.
//
// Measured on an Intel Xeon Processor (8 cores, shared and loaded), Release build, 10 steps:
// with the dense LU the junction system took 1536 ms of 1634 ms a step at 1001 junctions and
// the step 19992 ms at 2001; factored sparse, a step takes 21.8 ms at 1001 junctions, 36.2 ms
// at 2001 and 205 ms at 10001, of which the junction system 0.02, 0.06 and 0.31 ms (the rest
// is the sweeps and the moving of the water, which grow as the junction count).
//
// superlink_bench [--junctions 100,1000,...] [--steps K]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "channel/channel_steps.h"
#include "channel/pipe/superlink_solve.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"

namespace {

std::string tree_network(int junctions) {
  std::string t;
  char line[256];
  // Superlink s joins junction s + 1 to junction (s + 1) / 2; junction `junctions + 1` is the
  // outfall below junction 1, reached by superlink `junctions`.
  const int outfall = junctions + 1;
  for (int s = 1; s <= junctions; ++s) {
    const int us = s == junctions ? 1 : s + 1;
    const int ds = s == junctions ? outfall : (s + 1) / 2;
    std::snprintf(line, sizeof line, "CONNECT %d %d %d\n", s, us, ds);
    t += line;
  }
  // Depth in the tree sets each junction's bottom: 1.5 m of fall per level.
  auto level = [](int j) {
    int l = 0;
    while (j > 1) j /= 2, ++l;
    return l;
  };
  for (int j = 1; j <= outfall; ++j) {
    const double bottom = j == outfall ? 0.0 : 2.0 + 1.5 * level(j);
    std::snprintf(line, sizeof line, "SJUNC %d %.3f %.3f %.1f %d 1 1 0 0\n", j, bottom + 3.0,
                  bottom, j == outfall ? 0.0 : 1.0, j == outfall ? 888 : 0);
    t += line;
  }
  for (int s = 1; s <= junctions; ++s) {
    const int us = s == junctions ? 1 : s + 1;
    const int ds = s == junctions ? outfall : (s + 1) / 2;
    const double top = 2.0 + 1.5 * level(us);
    const double bottom = ds == outfall ? 0.0 : 2.0 + 1.5 * level(ds);
    std::snprintf(line, sizeof line, "SLINK %d 5\n", s);
    t += line;
    for (int k = 1; k <= 6; ++k) {
      const double z = top + (bottom - top) * (k - 1) / 5.0;
      std::snprintf(line, sizeof line, "NODE %d %.4f %.4f 0 0 1 1 0 0\n", k, z + 3.0, z);
      t += line;
    }
    const double slope = (top - bottom) / 300.0;
    for (int k = 1; k <= 5; ++k) {
      std::snprintf(line, sizeof line, "PIPE %d 1 0.6 0 %.6f 0.013 60 0 0\n", k, slope);
      t += line;
    }
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes = {100, 1000, 10000};
  int steps = 10;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--junctions") && i + 1 < argc) {
      sizes.clear();
      for (char* p = std::strtok(argv[++i], ","); p; p = std::strtok(nullptr, ","))
        sizes.push_back(std::atoi(p));
    } else if (!std::strcmp(argv[i], "--steps") && i + 1 < argc) {
      steps = std::atoi(argv[++i]);
    }
  }
  std::printf("%10s %14s %10s %16s\n", "junctions", "ms per step", "growth", "LU ms per step");
  double last = 0.0;
  for (int junctions : sizes) {
    const std::string name = "superlink_bench_network.slk";
    FILE* f = std::fopen(name.c_str(), "w");
    if (f == nullptr) return 1;
    std::fputs(tree_network(junctions).c_str(), f);
    std::fclose(f);
    auto ms = std::make_unique<model_state>();
    file_handle net, none;
    if (!file_handle_open(net, name.c_str(), "r")) return 1;
    const int result = read_superlink_file(*ms, net, none, 2 * junctions + 2);
    file_handle_close(net);
    std::remove(name.c_str());
    channel_state& ch = ms->channel;
    superlink_state& sl = ms->superlink;
    if (result != 0 || run_error.error_fatal ||
        !ch.superlink_tile_flow.allocate(sl.node_rows, ch.superlink_count) ||
        !superlink_solve_init(sl, ch)) {
      std::printf("%10d could not be set up\n", junctions);
      return 1;
    }
    ch.superlink_leaky = 1;
    for (int s = 1; s <= ch.superlink_count; ++s) ch.superlink_tile_flow[1][s] = 0.002;
    double depth = 0.0;
    superlink_surface surface;
    surface.ov_depth = &depth;
    surface.cell_area = 900.0;
    double spilled = 0.0;
    for (int k = 0; k < 3; ++k) superlink_solve(sl, ch, surface, 30.0, spilled);
    const auto t0 = std::chrono::steady_clock::now();
    for (int k = 0; k < steps; ++k) superlink_solve(sl, ch, surface, 30.0, spilled);
    const double per_step =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() /
        steps;
    // The junction system alone: one factoring and solve of the last step's matrix.
    const int J = ch.superlink_junction_count;
    std::vector<double> b(J + 1, 1.0);
    const auto t1 = std::chrono::steady_clock::now();
    sl.junction_lu.factor(sl.jsys_value.data());
    sl.junction_lu.solve(b.data() + 1);
    const double lu =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t1).count();
    std::printf("%10d %14.3f %10.1f %16.3f\n", J, per_step, last > 0.0 ? per_step / last : 0.0, lu);
    last = per_step;
  }
  return 0;
}
