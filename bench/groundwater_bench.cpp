// Benchmark of the groundwater line solver: a generated square aquifer of side x side cells of
// 10 m (1 million cells by default) with a conductivity that varies from cell to cell, held
// heads on its left and right edges, a pumping well field and a day's storage term, swept a fixed
// number of times along rows at each thread count. Prints the cell updates per second (sweeps x
// cells / wall time) and the rate over the one-thread rate; fails when two thread counts give
// heads that differ in any bit. Arguments: side (default 1000), sweeps (default 40), thread
// counts (default 1 2 4 8).
#include <omp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/core/process_info.h"
#include "subsurface/gw_line_sor.h"

namespace {

struct aquifer {
  int side = 0;
  int cells = 0;
  raw_array2d<int> index_map;
  std::vector<int> above, below, left, right;
  std::vector<double> n, s, w, e, p, r, start;
};

void make_aquifer(aquifer& a, int side) {
  a.side = side;
  a.cells = side * side;
  a.index_map.allocate(side, side);
  int k = 0;
  for (int i = 1; i <= side; ++i)
    for (int j = 1; j <= side; ++j) a.index_map[i][j] = ++k;
  const std::size_t size = static_cast<std::size_t>(a.cells) + 1;
  for (auto* v : {&a.above, &a.below, &a.left, &a.right}) v->assign(size, 0);
  for (auto* v : {&a.n, &a.s, &a.w, &a.e, &a.p, &a.r, &a.start}) v->assign(size, 0.0);
  const double d = 10.0, dt = 86400.0, sy = 0.2;
  std::vector<double> t(size);
  for (int c = 1; c <= a.cells; ++c)
    t[c] = 20.0 * 1e-4 * (0.5 + ((c * 2654435761u) % 1000) / 1000.0);
  auto face = [&](int x, int y) { return 2.0 * t[x] * t[y] / (t[y] * d + t[x] * d) / d; };
  for (int i = 1; i <= side; ++i) {
    for (int j = 1; j <= side; ++j) {
      const int c = a.index_map[i][j];
      a.start[c] = 20.0;
      if (j == 1 || j == side) {  // held heads
        a.p[c] = 1.0;
        a.r[c] = 20.0;
        continue;
      }
      if (i > 1) a.above[c] = c - side;
      if (i < side) a.below[c] = c + side;
      a.left[c] = c - 1;
      a.right[c] = c + 1;
      a.n[c] = i > 1 ? face(c, c - side) : 0.0;
      a.s[c] = i < side ? face(c, c + side) : 0.0;
      a.w[c] = face(c, c - 1);
      a.e[c] = face(c, c + 1);
      const double pumping = (i % 50 == 25 && j % 50 == 25) ? 0.01 / (d * d) : 0.0;
      a.p[c] = -(a.n[c] + a.s[c] + a.w[c] + a.e[c] + sy / dt);
      a.r[c] = pumping - sy / dt * a.start[c];
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int side = argc > 1 ? std::atoi(argv[1]) : 1000;
  const long sweeps = argc > 2 ? std::atol(argv[2]) : 40;
  std::vector<int> threads;
  for (int k = 3; k < argc; ++k) threads.push_back(std::atoi(argv[k]));
  if (threads.empty()) threads = {1, 2, 4, 8};
  aquifer a;
  make_aquifer(a, side);
  gw_line_table lines;
  gw_line_work work;
  if (!gw_build_lines(lines, a.index_map, side, side, a.cells, 1)) return 1;
  for (auto* v : {&work.lower, &work.diag, &work.upper, &work.rhs}) v->allocate(a.cells);
  gw_five_point sys;
  sys.n = a.n.data();
  sys.s = a.s.data();
  sys.w = a.w.data();
  sys.e = a.e.data();
  sys.p = a.p.data();
  sys.r = a.r.data();
  sys.above = a.above.data();
  sys.below = a.below.data();
  sys.left = a.left.data();
  sys.right = a.right.data();
  printf("groundwater line solver: %d x %d cells, %ld sweeps along rows, relaxation 1.5\n", side,
         side, sweeps);
  printf("%8s %14s %12s %10s\n", "threads", "updates/s", "wall s", "speed-up");
  std::vector<double> first;
  double one_rate = 0.0;
  int status = 0;
  for (int t : threads) {
    omp_set_num_threads(t);
    process_info.num_threads = t;
    std::vector<double> h = a.start;
    const auto t0 = std::chrono::steady_clock::now();
    const gw_sor_result r = gw_line_sor_solve(lines, work, sys, h.data(), 1.5, 1e-300, sweeps, 1);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double rate = static_cast<double>(r.sweeps) * a.cells / wall;
    if (one_rate == 0.0) one_rate = rate;
    printf("%8d %14.4e %12.3f %10.2f\n", t, rate, wall, rate / one_rate);
    if (first.empty()) {
      first = h;
    } else if (std::memcmp(first.data(), h.data(), h.size() * sizeof(double)) != 0) {
      printf("Error: the heads on %d threads differ from those on %d\n", t, threads[0]);
      status = 1;
    }
  }
  return status;
}
