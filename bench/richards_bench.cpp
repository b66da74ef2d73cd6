// Benchmark of the Richards soil columns: column-steps per second of the column kernel on a
// generated grid of independent cells (default a million cells of 20-node Brooks-Corey
// columns, 50 cm of loam (Ks 2 cm/h) over free drainage, each offered 2 mm of water every 60 s
// step, a storm that ponds it; --rain-mm sets that depth, 0.1 mm a rain it soaks up), run
// the way richards_infiltration runs them: one static-scheduled loop over the cells, each
// thread on its own work space. Every thread count starts from the same state and must end on
// the same bits as one thread. The share of the whole event step that the columns take comes
// from event_step_bench --richards.
//
// The columns run eight side by side (richards_columns_step), each thread's cells one queue; --one
// runs them one at a time (richards_column_step), which must end on the same state hash.
//
// richards_bench [--cells N] [--steps K] [--threads 1,2,...] [--rain-mm D] [--one]
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_args.h"
#include "subsurface/richards_batch.h"
#include "subsurface/richards_column.h"

namespace {

constexpr int nodes = 20;          // node 20 mirrors node 19 (free drainage)
constexpr int stride = nodes + 1;  // nodes 0..20
constexpr int column_arrays = 6;   // head, conductivity, content, capacity, flux, source
constexpr double step_seconds = 60.0;

// FNV-1a hash of the columns' state: equal hashes across builds mean the same bits.
unsigned long long state_hash(const std::vector<double>& state) {
  unsigned long long h = 14695981039346656037ull;
  const unsigned char* b = reinterpret_cast<const unsigned char*>(state.data());
  for (std::size_t i = 0; i < state.size() * sizeof(double); ++i) {
    h ^= b[i];
    h *= 1099511628211ull;
  }
  return h;
}

// One soil for every column: its parameters by node.
struct soil_nodes {
  std::vector<double> ks, dz, thetas, thetar, thetawp, thetafc, thehac, bchc, bp, lam;
  soil_nodes() {
    for (std::vector<double>* v :
         {&ks, &dz, &thetas, &thetar, &thetawp, &thetafc, &thehac, &bchc, &bp, &lam})
      v->assign(stride, 0.0);
    for (int k = 0; k < stride; ++k) {
      ks[k] = 2.0;
      dz[k] = 2.5;
      thetas[k] = 0.45;
      thetar[k] = 0.05;
      thetawp[k] = 0.1;
      thetafc[k] = 0.25;
      lam[k] = 0.4;
      bp[k] = -25.0;
      thehac[k] = brooks_corey_transition_theta(0.45, 0.05, 0.4);
      bchc[k] = brooks_corey_transition_head(-25.0, 0.4);
    }
  }
};

richards_column_view view_of(const soil_nodes& s, double* block) {
  richards_column_view v;
  v.phead = block;
  v.khead = block + stride;
  v.theta = block + 2 * stride;
  v.watcap = block + 3 * stride;
  v.watflux = block + 4 * stride;
  v.source = block + 5 * stride;
  v.ks = s.ks.data();
  v.dz = s.dz.data();
  v.thetas = s.thetas.data();
  v.thetar = s.thetar.data();
  v.thetawp = s.thetawp.data();
  v.thetafc = s.thetafc.data();
  v.thehac = s.thehac.data();
  v.bchc = s.bchc.data();
  v.bp = s.bp.data();
  v.lam = s.lam.data();
  return v;
}

// A thread's cells [first, last) handed to the lanes in turn, each offered the rain as it goes.
struct column_range {
  const soil_nodes* soil = nullptr;
  std::vector<double>* state = nullptr;
  std::vector<double>* depth = nullptr;
  std::vector<double>* dtr = nullptr;
  std::vector<int>* bound = nullptr;
  long first = 0, last = 0, next = 0;
  long substeps = 0, solves = 0;
  double rain_m = 0.0;
};

bool range_next(void* context, richards_batch_column& column, int& id) {
  column_range& r = *static_cast<column_range*>(context);
  if (r.next >= r.last) return false;
  const long c = r.next++;
  (*r.depth)[c] += r.rain_m;
  column.v =
      view_of(*r.soil, r.state->data() + static_cast<std::size_t>(column_arrays) * stride * c);
  column.demand = richards_demand();
  column.ov_depth = &(*r.depth)[c];
  column.bound_type = &(*r.bound)[c];
  column.dtr = &(*r.dtr)[c];
  column.books = nullptr;
  id = static_cast<int>(c);
  return true;
}

void range_done(void* context, int, const richards_books& books) {
  column_range& r = *static_cast<column_range*>(context);
  r.substeps += books.substeps;
  r.solves += books.solves;
}

}  // namespace

int main(int argc, char** argv) {
  long cells = 1000000;
  int steps = 10;
  std::vector<int> threads = {1, 2, 4, 8};
  double rain_m = 0.002;
  bool one = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--cells" && i + 1 < argc) {
      cells = std::atol(argv[++i]);
    } else if (a == "--steps" && i + 1 < argc) {
      steps = std::atoi(argv[++i]);
    } else if (a == "--rain-mm" && i + 1 < argc) {
      rain_m = std::atof(argv[++i]) / 1000.0;
    } else if (a == "--one") {
      one = true;
    } else if (a == "--threads" && i + 1 < argc) {
      threads = parse_list(argv[++i]);
    } else {
      std::printf(
          "usage: richards_bench [--cells N] [--steps K] [--threads 1,2,...] [--rain-mm D] "
          "[--one]\n");
      return 2;
    }
  }
  if (cells < 1 || steps < 1 || threads.empty()) return 2;
  const soil_nodes soil;
  const richards_options o;  // Brooks-Corey, geometric faces, free drainage
  const richards_demand demand;
  const std::size_t per_column = static_cast<std::size_t>(column_arrays) * stride;
  std::vector<double> state(per_column * static_cast<std::size_t>(cells));
  std::vector<double> depth(cells), dtr(cells);
  std::vector<int> bound(cells);
  const int most = *std::max_element(threads.begin(), threads.end());
  const std::size_t per_thread = richards_thread_work_size(nodes);
  std::vector<double> work(per_thread * static_cast<std::size_t>(most));
  std::vector<double> reference;
  std::printf("%9s %6s %7s %6s %9s %14s %9s %9s\n", "cells", "nodes", "threads", "steps", "seconds",
              "column-steps/s", "sub-steps", "solves");
  int status = 0;
  for (int t : threads) {
    // The same start for every thread count: contents 0.15..0.35 by cell.
    for (long c = 0; c < cells; ++c) {
      const richards_column_view v = view_of(soil, state.data() + per_column * c);
      for (int k = 0; k < stride; ++k) {
        v.theta[k] = 0.15 + 0.2 * static_cast<double>(c % 97) / 96.0;
        v.phead[k] = soil_psi_from_theta(v, o.model, k, v.theta[k]);
        v.watflux[k] = 0.0;
        v.source[k] = 0.0;
      }
      soil_props(v, o.model, nodes);
      dtr[c] = richards_saturated_start_step;
      depth[c] = 0.0;
      bound[c] = 1;
    }
    long substeps = 0, solves = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int s = 0; s < steps; ++s) {
#pragma omp parallel num_threads(t) reduction(+ : substeps, solves)
      {
        double* w = work.data() + per_thread * omp_get_thread_num();
        if (one) {
#pragma omp for schedule(static)
          for (long c = 0; c < cells; ++c) {
            depth[c] += rain_m;
            richards_books books;
            richards_column_step(view_of(soil, state.data() + per_column * c), nodes, o, demand,
                                 step_seconds / 3600.0, depth[c], bound[c], dtr[c], w, books);
            substeps += books.substeps;
            solves += books.solves;
          }
        } else {
          // The thread's cells as one queue, as richards_infiltration hands them to the lanes.
          const int team = omp_get_num_threads(), me = omp_get_thread_num();
          column_range r;
          r.soil = &soil;
          r.state = &state;
          r.depth = &depth;
          r.dtr = &dtr;
          r.bound = &bound;
          r.first = r.next = cells * me / team;
          r.last = cells * (me + 1) / team;
          r.rain_m = rain_m;
          richards_columns_step(richards_column_queue{&r, range_next, range_done}, nodes, o,
                                step_seconds / 3600.0, w);
          substeps += r.substeps;
          solves += r.solves;
        }
      }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double column_steps = static_cast<double>(cells) * steps;
    std::printf("%9ld %6d %7d %6d %9.3f %14.4e %9.2f %9.2f\n", cells, nodes, t, steps, seconds,
                column_steps / seconds, substeps / column_steps, solves / column_steps);
    if (reference.empty()) {
      reference = state;
      std::printf("state hash %016llx\n", state_hash(state));
    } else if (std::memcmp(reference.data(), state.data(), state.size() * sizeof(double)) != 0) {
      std::printf("threads %d: the columns differ from the first run's\n", t);
      status = 1;
    }
    std::fflush(stdout);
  }
  return status;
}
