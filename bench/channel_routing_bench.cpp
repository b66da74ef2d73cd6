// Benchmark of the explicit channel routing alone on generated comb networks: a trunk of links
// with a tributary joining at the head of each, trapezoidal sections, lateral inflow on every
// node and a headwater inflow on every tributary. For each network size and thread count the
// network is built afresh, warmed by a few channel steps, then routed for K steps; prints the
// nodes, sub-steps, wall time, node updates per second (routed nodes times sub-steps over the
// time) and the speed-up over one thread. Each thread count must leave the network in the same
// bits as one thread; a difference is reported and fails the run.
//
// channel_routing_bench [--quick] [--nodes 6000,100000,...] [--threads 1,2,...] [--steps K]
// Default nodes 6000, 100000 and 400000, threads 1, 2, 4, 8; --quick: 6000 and 100000 with few
// steps.
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_args.h"
#include "channel/channel_routing.h"
#include "channel/channel_steps.h"
#include "comb_network.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"

namespace {

struct timing {
  double seconds = 0.0;
  long substeps = 0;
  std::vector<double> state;  // areas and discharges at the end
};

timing run(int teeth, int threads, int steps) {
  auto ms = comb(teeth);
  omp_set_num_threads(threads);
  double pipe = 0.0;
  for (int s = 0; s < 3; ++s) ex_flow_route(*ms, 30.0, pipe);
  const long before = ms->channel.routing_passes;
  const auto t0 = std::chrono::steady_clock::now();
  for (int s = 0; s < steps; ++s)
    if (ex_flow_route(*ms, 30.0, pipe) != 0) {
      fprintf(stderr, "channel_routing_bench: the routing stopped\n");
      std::exit(1);
    }
  timing t;
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  t.substeps = ms->channel.routing_passes - before;
  const channel_state& ch = ms->channel;
  t.state.assign(ch.area.data(), ch.area.data() + ch.area.element_count());
  t.state.insert(t.state.end(), ch.qp.data(), ch.qp.data() + ch.qp.element_count());
  omp_set_num_threads(1);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes = {6000, 100000, 400000};
  std::vector<int> threads = {1, 2, 4, 8};
  int steps = 20;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") {
      sizes = {6000, 100000};
      steps = 5;
    } else if (a == "--nodes" && i + 1 < argc) {
      sizes = parse_list(argv[++i]);
    } else if (a == "--threads" && i + 1 < argc) {
      threads = parse_list(argv[++i]);
    } else if (a == "--steps" && i + 1 < argc) {
      steps = std::atoi(argv[++i]);
    } else {
      fprintf(stderr,
              "usage: channel_routing_bench [--quick] [--nodes N,...] [--threads T,...] "
              "[--steps K]\n");
      return 2;
    }
  }
  printf("%9s %6s %7s %9s %10s %14s %8s\n", "nodes", "links", "threads", "substeps", "seconds",
         "node upd/s", "speedup");
  bool same = true;
  for (int size : sizes) {
    const int teeth = std::max(1, size / (2 * link_nodes_each));
    const long nodes = 2L * teeth * link_nodes_each;
    timing one;
    for (int t : threads) {
      const timing r = run(teeth, t, steps);
      const double rate = static_cast<double>(nodes) * r.substeps / r.seconds;
      if (one.state.empty()) {
        one = r;
      } else if (r.state.size() != one.state.size() ||
                 std::memcmp(r.state.data(), one.state.data(), r.state.size() * sizeof(double)) !=
                     0) {
        printf("DIFFERENT RESULT on %d threads\n", t);
        same = false;
      }
      const double one_rate = static_cast<double>(nodes) * one.substeps / one.seconds;
      printf("%9ld %6d %7d %9ld %10.4f %14.4g %8.2f\n", nodes, 2 * teeth, t, r.substeps, r.seconds,
             rate, rate / one_rate);
      fflush(stdout);
    }
  }
  return same ? 0 : 1;
}
