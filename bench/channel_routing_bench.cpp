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

#include "channel/channel_routing.h"
#include "channel/channel_steps.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"

namespace {

constexpr int link_nodes_each = 500;  // nodes of every link
constexpr double dx = 100.0;          // node spacing (m)

// A comb of `teeth` tributaries and as many trunk links, every link of link_nodes_each nodes:
// tributary 2i + 1 joins the head of trunk link 2i + 2, which also takes trunk link 2i.
std::unique_ptr<model_state> comb(int teeth) {
  auto ms = std::make_unique<model_state>();
  channel_state& ch = ms->channel;
  const int count = 2 * teeth;
  ch.chan_explic = 1;
  ch.chan_link_count = count;
  ch.max_courant_number = 0.2;
  ch.max_upstream = 2;
  for (auto* a : {&ch.ltype, &ch.nx, &ch.nx1, &ch.og_nx1, &ch.dslink, &ch.ndep, &ch.ldex})
    a->allocate(count);
  ch.dx.allocate(count);
  ch.link_inv_n.allocate(count);
  ch.uslinks.allocate(count, 2);
  std::vector<int> nodes(count + 1, link_nodes_each);
  for (auto* a : {&ch.qp, &ch.yp, &ch.bel, &ch.area, &ch.chan_depth, &ch.conv, &ch.dconv, &ch.topw,
                  &ch.qlat, &ch.area_old, &ch.bottom, &ch.sslope, &ch.sslope2, &ch.bankfull_dep})
    a->allocate(count, nodes.data());
  const int n = link_nodes_each;
  double trunk_top = 100.0 + 0.001 * dx * n * teeth;
  for (int i = 0; i < teeth; ++i) {
    const int tooth = 2 * i + 1;
    const int trunk = 2 * i + 2;
    for (int l : {tooth, trunk}) {
      ch.ltype[l] = 4;
      ch.nx[l] = ch.nx1[l] = ch.og_nx1[l] = n;
      ch.ldex[l] = l;
      ch.dx[l] = dx;
      ch.link_inv_n[l] = 1.0 / 0.03;
    }
    ch.dslink[tooth] = trunk;
    ch.dslink[trunk] = i + 1 < teeth ? trunk + 2 : 0;
    ch.ndep[tooth] = 0;
    ch.ndep[trunk] = i > 0 ? 2 : 1;
    ch.uslinks[trunk][1] = tooth;
    if (i > 0) ch.uslinks[trunk][2] = trunk - 2;
    for (int j = 1; j <= n; ++j) {
      ch.bel(tooth, j) = trunk_top + 0.1 + 0.002 * dx * (n - j);
      ch.bel(trunk, j) = trunk_top - 0.001 * dx * (j - 1);
      for (int l : {tooth, trunk}) {
        ch.bottom(l, j) = l == tooth ? 4.0 : 10.0;
        ch.sslope(l, j) = 2.0;
        ch.chan_depth(l, j) = 0.4;
        ch.yp(l, j) = ch.bel(l, j) + 0.4;
        ch.qlat(l, j) = 0.0005;
      }
    }
    trunk_top -= 0.001 * dx * n;
  }
  ch.headwater_inflow = 1.0;
  ex_section(*ms, 2);
  return ms;
}

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

std::vector<int> parse_list(const char* s) {
  std::vector<int> v;
  for (const char* p = s; *p != '\0';) {
    v.push_back(std::atoi(p));
    const char* comma = std::strchr(p, ',');
    if (comma == nullptr) break;
    p = comma + 1;
  }
  return v;
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
