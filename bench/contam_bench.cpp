// Benchmark of the dissolved-constituent steps against the water steps they follow.
//
// Overland: the generated plane of overland_bench (10 m cells falling to the south-east, 5 mm of
// water on every cell under 50 mm/h of rain), three constituents of the table with a rain load,
// first-order decay, exchange with one soil layer under linear partitioning and infiltration.
// Each step routes the water (explicit scheme) and then runs the constituents' processes and
// their advection and dispersion. Prints, per thread count, the water step's cell updates per
// second, the constituent steps' constituent-cell updates per second and their ratio (at least
// 1: one constituent costs no more per cell than the water step), then the same for the
// advection and dispersion alone: after each step the passes run again, on copies of each
// constituent's masses and concentrations (so the end state is the steps' own), with the step's
// discharges, depths and the net source the step left, and are timed apart.
//
// Channel: the comb network of channel_routing_bench, three constituents with decay and
// dispersion. Each step routes the water and then the constituents; prints, per thread count,
// the time of the water routing and its speed-up over one thread, the time of the constituent
// steps (sources and routing), their node-constituent updates per second (routed nodes x
// constituents x channel steps over their time) and speed-up, and the constituents' share of
// the channel step (constituent time over water plus constituent time). Every thread count must
// leave the constituents in the same bits as one thread; a difference is reported and fails the
// run.
//
// With --exchange, the exchange of the channel constituents with the overland water is timed on
// its own on the same comb, every grid cell holding two nodes (each thread count must leave
// the same bits as one thread).
//
// contam_bench [--side N] [--nodes N] [--steps K] [--threads 1,2,...] [--overland-only]
// [--channel-only] [--exchange]. Default: a side of 2000 (4 million cells), 100,000 nodes, threads
// 1 and 8 on the plane and 1, 2, 4 and 8 on the network.
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_args.h"
#include "comb_network.h"
#include "framework/core/error_state.h"
#include "framework/core/raw_arrays.h"
#include "framework/core/units.h"
#include "framework/core/vector_targets.h"
#include "framework/model_state.h"
#include "overland/explicit_overland.h"
#include "overland/overland_steps.h"
#include "plane_grid.h"
#include "transport/contaminants/chan_contam.h"
#include "transport/contaminants/contam_kernels.h"
#include "transport/transport_steps.h"

namespace {

constexpr int constituents = 3;
constexpr double step_seconds = 1.0;

// A run at time 0 whose clock steps every `seconds`.
void start_clocks(model_state& ms, process_clock& clock, double seconds) {
  ms.time_tolerance = 0.01 / seconds_per_day;
  ms.current_time = 0.0;
  clock.interval_seconds = seconds;
  clock.interval_days = seconds / seconds_per_day;
  clock.last = 0.0;
  clock.next = clock.interval_days;
}

// The overland constituents: three of the table, each with its own decay rate, exchange rate,
// partition coefficient and rain concentration, starting at 1, 2 and 3 g/m3 in the water and
// 10 g in the soil layer of every cell.
bool make_overland_constituents(model_state& ms) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  const double area = ms.gridsize * ms.gridsize;
  tr.ov_con_trans = 1;
  tr.soil_con_trans = 1;
  ct.soil_contam_layers = 1;
  if (!tr.precip_conc.grow(constituents)) return false;
  contam_alloc(ms, constituents, n, 0, 0);
  if (run_error.error_fatal) return false;
  ct.contam_table_read = 1;
  ct.kinetics_timestep_factor = 1.0;
  ct.soil_layer_thickness[1] = 0.02;
  ct.soil_layer_bottom[1] = 0.02;
  alloc_1d_double(ov.rain_cell, n, "rain");
  alloc_1d_double(ms.subsurface.inf_depth_total, n, "infiltrated");
  if (ov.rain_cell.empty() || ms.subsurface.inf_depth_total.empty()) return false;
  ov.rain_event_state = 1;
  for (int c = 1; c <= constituents; ++c) {
    tr.precip_conc[c] = 0.5 * c;
    const double kd = 0.5 * c;
    for (int cell = 1; cell <= n; ++cell) {
      ct.ov_disp_coef[c][cell] = 0.1;
      ct.ov_decay_coef[c][cell] = 1e-5 * c;
      ct.ov_uptake_rate[c][cell] = 2e-6;
      ct.soil_decay_coef[c][cell] = 1e-6;
      ct.theta[cell][1] = 0.3;
      ct.soil_frac_dissolved[c][cell][1] = soil_dissolved_fraction(0.3, kd);
      tr.soil_mass[c][cell][1] = 10.0;
      tr.ov_land_mass[c][cell] = 10.0;
      tr.ov_contam_conc[c][cell] = c;
      tr.ov_contam_mass[c][cell] = c * ov.ov_depth[cell] * area;
    }
  }
  for (int cell = 1; cell <= n; ++cell) {
    ov.rain_cell[cell] = 50.0;
    ct.ov_depth_prev[cell] = ov.ov_depth[cell];
  }
  start_clocks(ms, tr.ov_con_clock, step_seconds);
  return true;
}

// Times the advection and dispersion of every constituent over the step just made, on copies of
// its masses and concentrations: the passes' arithmetic and memory traffic of the step, with
// the discharges, depths, dispersion and net source the step used (the source of the last
// constituent, the one the work array holds).
double transport_alone(model_state& ms, std::vector<double>& mass, std::vector<double>& conc) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  mass.resize(static_cast<size_t>(n) + 1);
  conc.resize(static_cast<size_t>(n) + 1);
  double seconds = 0.0;
  for (int c = 1; c <= constituents; ++c) {
    std::memcpy(mass.data(), tr.ov_contam_mass[c], mass.size() * sizeof(double));
    std::memcpy(conc.data(), tr.ov_contam_conc[c], conc.size() * sizeof(double));
    ov_constit_view v;
    v.cell_count = n;
    v.dt = step_seconds;
    v.area = ms.gridsize * ms.gridsize;
    v.abovecon = ov.abovecon.data();
    v.belowcon = ov.belowcon.data();
    v.leftcon = ov.leftcon.data();
    v.rightcon = ov.rightcon.data();
    v.depth = ov.ov_depth.data();
    const bool means = ov.explicit_mean_ready != 0;
    v.flux_x = means ? ov.ovx_mean_flux_x.data() : ov.ov_flux_x.data();
    v.flux_y = means ? ov.ovx_mean_flux_y.data() : ov.ov_flux_y.data();
    v.disp = ct.ov_disp_coef[c];
    v.source = ct.work_source.data();
    v.mass = mass.data();
    v.conc = conc.data();
    v.face = ct.face_flux.data();
    v.face_corr = ct.face_flux_corr.data();
    v.pred_conc = ct.pred_conc.data();
    v.sweep = c % 2 == 1 ? 1 : 2;
    const auto t0 = std::chrono::steady_clock::now();
    if (ct.ov_link_reach == 0) ct.ov_link_reach = ov_constit_reach(v);
    v.reach = ct.ov_link_reach;
    ov_constit_flux(v);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  return seconds;
}

struct overland_times {
  double water = 0.0;      // s: the water steps
  double contam = 0.0;     // s: the whole constituent steps
  double transport = 0.0;  // s: the advection and dispersion alone
};

// One step of the plane: the water routed, a little infiltration, then the constituents; then
// their transport alone, again on copies.
void overland_step(model_state& ms, overland_times& times, std::vector<double>& mass,
                   std::vector<double>& conc) {
  const int n = ms.cell_count;
  const auto t0 = std::chrono::steady_clock::now();
  ov_route_explicit(ms, step_seconds);
  const auto t1 = std::chrono::steady_clock::now();
  double* infiltrated = ms.subsurface.inf_depth_total.data();
  for (int cell = 1; cell <= n; ++cell) infiltrated[cell] += 1e-6;
  ms.current_time += step_seconds / seconds_per_day;
  const auto t2 = std::chrono::steady_clock::now();
  overland_contam_processes(ms);
  overland_contam_mass_update(ms);
  const auto t3 = std::chrono::steady_clock::now();
  times.water += std::chrono::duration<double>(t1 - t0).count();
  times.contam += std::chrono::duration<double>(t3 - t2).count();
  times.transport += transport_alone(ms, mass, conc);
}

// The overland constituents' masses, concentrations and land stores after the steps.
std::vector<double> overland_state_of(const model_state& ms) {
  std::vector<double> s;
  const transport_state& tr = ms.transport;
  for (int c = 1; c <= constituents; ++c)
    for (const raw_array2d<double>* t : {&tr.ov_contam_mass, &tr.ov_contam_conc, &tr.ov_land_mass})
      s.insert(s.end(), (*t)[c] + 1, (*t)[c] + 1 + ms.cell_count);
  return s;
}

// A fingerprint of an end state's bits, to compare builds of the steps with each other.
unsigned long long fingerprint(const std::vector<double>& state) {
  unsigned long long print = 1469598103934665603ULL;
  for (const double v : state) {
    unsigned long long bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    print = (print ^ bits) * 1099511628211ULL;
  }
  return print;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

bool overland(int side, int steps, const std::vector<int>& threads) {
  std::printf("\noverland: %d x %d cells, %d constituents, %d steps of %g s\n", side, side,
              constituents, steps, step_seconds);
  std::printf("%10s %7s %18s %24s %7s %22s %7s\n", "cells", "threads", "water cell upd/s",
              "constituent cell upd/s", "ratio", "transport cell upd/s", "ratio");
  bool same = true;
  std::vector<double> one;
  for (int t : threads) {
    auto ms = make_plane(side);
    run_error = error_state{};
    build_cell_connectivity(*ms);
    compute_overland_slopes(*ms);
    ms->overland.ov_route_option = 1;
    for (int cell = 1; cell <= ms->cell_count; ++cell) ms->overland.ov_depth[cell] = 0.005;
    if (run_error.error_code != 0 || !make_overland_constituents(*ms)) {
      std::printf("set-up of a %d x %d grid failed\n", side, side);
      return false;
    }
    omp_set_num_threads(t);
    overland_times times;
    std::vector<double> mass, conc;
    overland_step(*ms, times, mass, conc);  // warm the pages and the thread pool
    times = overland_times{};
    for (int s = 0; s < steps; ++s) overland_step(*ms, times, mass, conc);
    const double cells = static_cast<double>(ms->cell_count);
    const double water_rate = cells * steps / times.water;
    const double contam_rate = cells * constituents * steps / times.contam;
    const double transport_rate = cells * constituents * steps / times.transport;
    std::printf("%10.0f %7d %18.3e %24.3e %7.2f %22.3e %7.2f\n", cells, t, water_rate, contam_rate,
                contam_rate / water_rate, transport_rate, transport_rate / water_rate);
    std::fflush(stdout);
    const std::vector<double> state = overland_state_of(*ms);
    if (one.empty()) {
      one = state;
    } else if (!same_bits(state, one)) {
      std::printf("DIFFERENT RESULT on %d threads\n", t);
      same = false;
    }
  }
  omp_set_num_threads(1);
  std::printf("end state fingerprint: %016llx\n", fingerprint(one));
  return same;
}

// The channel constituents on the comb: three with decay, dispersion 1 m2/s and a start of
// 1 g/m3 in every node.
bool make_channel_constituents(model_state& ms) {
  transport_state& tr = ms.transport;
  channel_state& ch = ms.channel;
  tr.chan_con_trans = 1;
  tr.num_contaminants = constituents;
  if (!tr.constituent_type.grow(constituents)) return false;
  for (int c = 1; c <= constituents; ++c) tr.constituent_type[c] = 1;
  tr.contam.contam_table_read = 1;
  tr.contam.kinetics_timestep_factor = 1.0;
  tr.chan_decay_coef = 0.5;  // per day
  tr.chan_disp_coef = 1.0;
  tr.init_chan_conc = 1.0;
  if (!ch.qp_vol.allocate(ch.chan_link_count, ch.nx.data())) return false;
  for (auto* a :
       {&tr.GLOBAL_MASS_DECAY, &tr.GLOBAL_MASS_OUT, &tr.GLOBAL_MASS_INIT, &tr.GLOBAL_POINT_SOURCE})
    if (!a->grow(constituents)) return false;
  init_channel_contaminants(ms);
  return !run_error.error_fatal && ms.transport.chan_contam.ready != 0;
}

struct chan_timing {
  double water_seconds = 0.0;  // the channel water routing
  double seconds = 0.0;        // the constituent steps
  std::vector<double> state;   // the constituents' node masses and concentrations at the end
};

chan_timing channel(int teeth, int threads, int steps) {
  auto ms = comb(teeth);
  run_error = error_state{};
  omp_set_num_threads(threads);
  double pipe = 0.0;
  for (int s = 0; s < 3; ++s) ex_flow_route(*ms, 30.0, pipe);
  chan_timing t;
  if (!make_channel_constituents(*ms)) {
    std::printf("set-up of the channel constituents failed\n");
    std::exit(1);
  }
  model_state& m = *ms;
  start_clocks(m, m.chan_clock, 30.0);
  m.transport.chan_con_clock = m.chan_clock;
  for (int s = 0; s <= steps; ++s) {
    // The water, whose face volumes the constituent routing takes (and clears).
    const auto w0 = std::chrono::steady_clock::now();
    if (ex_flow_route(m, 30.0, pipe) != 0) {
      std::printf("the channel routing stopped\n");
      std::exit(1);
    }
    const auto w1 = std::chrono::steady_clock::now();
    m.current_time = m.chan_clock.next;
    const auto t0 = std::chrono::steady_clock::now();
    channel_contam_sources(m);
    channel_lake_contam_routing(m);
    const auto t1 = std::chrono::steady_clock::now();
    if (run_error.error_fatal) {
      std::printf("the channel constituent routing stopped\n");
      std::exit(1);
    }
    m.chan_clock.last = m.current_time;
    m.chan_clock.next = m.current_time + m.chan_clock.interval_days;
    m.transport.chan_con_clock.next = m.chan_clock.next;
    if (s > 0) {  // step 0 warms
      t.water_seconds += std::chrono::duration<double>(w1 - w0).count();
      t.seconds += std::chrono::duration<double>(t1 - t0).count();
    }
  }
  const transport_state& tr = m.transport;
  for (int c = 1; c <= constituents; ++c)
    for (const raw_array2d<double>* a : {&tr.chan_con_mass, &tr.chan_con_conc})
      t.state.insert(t.state.end(), (*a)[c], (*a)[c] + a->col_count() + 1);
  omp_set_num_threads(1);
  return t;
}

// The exchange of the channel constituents with the overland water on the comb: every grid
// cell holds two consecutive nodes, one stream cell per grid cell with the two as its entries;
// each step the first entry's water comes from the cell (0.5 m3) and the second's goes back to
// it (0.2 m3). Only the exchange is timed (the volumes are set outside); returns its seconds
// over `steps` steps after one warming step, and the cells' and nodes' masses at the end.
double exchange_time(int teeth, int threads, int steps, std::vector<double>& state) {
  auto ms = comb(teeth);
  run_error = error_state{};
  omp_set_num_threads(threads);
  if (!make_channel_constituents(*ms)) {
    std::printf("set-up of the channel constituents failed\n");
    std::exit(1);
  }
  model_state& m = *ms;
  transport_state& tr = m.transport;
  channel_state& ch = m.channel;
  const int nodes = 2 * teeth * link_nodes_each;
  const int cells = nodes / 2;
  m.cell_count = cells;
  m.gridsize = 10.0;
  alloc_1d_double(m.overland.ov_depth, cells, "depth");
  alloc_2d_double_named(constituents, cells, tr.ov_contam_mass, "mass");
  alloc_2d_double_named(constituents, cells, tr.ov_contam_conc, "conc");
  ch.gst_stream_cells = cells;
  ch.gst_width = 2;
  alloc_1d_int(ch.gst_ncellsingrid, cells, "entries");
  alloc_2d_int_named(ch.gst_link, cells, 2, "link");
  alloc_2d_int_named(ch.gst_node, cells, 2, "node");
  alloc_2d_int_named(ch.gst_gnum, cells, 2, "cell");
  alloc_2d_double_named(cells, 2, ch.gst_Vlat, "volume");
  if (!tr.OV_QLAT_MASS.grow(constituents) || !tr.event_ov_qlat_mass.grow(constituents) ||
      m.overland.ov_depth.empty() || tr.ov_contam_mass.empty() || ch.gst_Vlat.empty()) {
    std::printf("set-up of the exchange failed\n");
    std::exit(1);
  }
  for (int cell = 1; cell <= cells; ++cell) {
    m.overland.ov_depth[cell] = 0.01;
    ch.gst_ncellsingrid[cell] = 2;
    for (int e = 1; e <= 2; ++e) {
      const int index = 2 * (cell - 1) + e - 1;  // from 0, links in order
      ch.gst_link[cell][e] = 1 + index / link_nodes_each;
      ch.gst_node[cell][e] = 1 + index % link_nodes_each;
      ch.gst_gnum[cell][e] = cell;
    }
    for (int c = 1; c <= constituents; ++c) {
      tr.ov_contam_conc[c][cell] = c;
      tr.ov_contam_mass[c][cell] = c * 0.01 * m.gridsize * m.gridsize;
    }
  }
  start_clocks(m, tr.ov_con_clock, step_seconds);
  double seconds = 0.0;
  for (int s = 0; s <= steps; ++s) {
    for (int cell = 1; cell <= cells; ++cell) {
      ch.gst_Vlat[cell][1] = 0.5;
      ch.gst_Vlat[cell][2] = -0.2;
    }
    m.current_time += step_seconds / seconds_per_day;
    const auto t0 = std::chrono::steady_clock::now();
    ov_chan_contam_exchange(m);
    const auto t1 = std::chrono::steady_clock::now();
    tr.ov_con_clock.last = m.current_time;
    if (s > 0) seconds += std::chrono::duration<double>(t1 - t0).count();
  }
  for (int c = 1; c <= constituents; ++c) {
    for (const raw_array2d<double>* a : {&tr.ov_contam_mass, &tr.ov_contam_conc})
      state.insert(state.end(), (*a)[c], (*a)[c] + a->col_count() + 1);
    state.insert(state.end(), tr.chan_con_mass[c], tr.chan_con_mass[c] + nodes);
    state.push_back(tr.OV_QLAT_MASS[c]);
  }
  omp_set_num_threads(1);
  return seconds;
}

// Prints the exchange's time per thread count, its speed-up and the cell-constituent exchanges
// per second; every thread count must leave the same bits as one thread.
bool channel_exchange(int nodes_wanted, int steps, const std::vector<int>& threads) {
  const int teeth = std::max(1, nodes_wanted / (2 * link_nodes_each));
  const long entries = 2L * teeth * link_nodes_each;
  std::printf(
      "\nexchange with the overland water: %ld stream-cell entries, %d constituents, %d "
      "steps\n",
      entries, constituents, steps);
  std::printf("%9s %7s %11s %8s %20s\n", "entries", "threads", "exchange s", "speedup",
              "entry-constit. upd/s");
  bool same = true;
  std::vector<double> one;
  double one_seconds = 0.0;
  for (int t : threads) {
    std::vector<double> state;
    const double seconds = exchange_time(teeth, t, steps, state);
    if (one.empty()) {
      one = state;
      one_seconds = seconds;
    } else if (!same_bits(state, one)) {
      std::printf("DIFFERENT RESULT on %d threads\n", t);
      same = false;
    }
    std::printf("%9ld %7d %11.4f %8.2f %20.4g\n", entries, t, seconds, one_seconds / seconds,
                static_cast<double>(entries) * constituents * steps / seconds);
    std::fflush(stdout);
  }
  std::printf("end state fingerprint: %016llx\n", fingerprint(one));
  return same;
}

bool channel_network(int nodes_wanted, int steps, const std::vector<int>& threads) {
  const int teeth = std::max(1, nodes_wanted / (2 * link_nodes_each));
  const long nodes = 2L * teeth * link_nodes_each;
  std::printf("\nchannel: comb of %ld nodes, %d constituents, %d channel steps of 30 s\n", nodes,
              constituents, steps);
  std::printf("%9s %7s %11s %8s %11s %24s %8s %7s\n", "nodes", "threads", "water s", "speedup",
              "constit. s", "node-constituent upd/s", "speedup", "share");
  bool same = true;
  chan_timing one;
  for (int t : threads) {
    const chan_timing r = channel(teeth, t, steps);
    const double rate = static_cast<double>(nodes) * constituents * steps / r.seconds;
    if (one.state.empty()) {
      one = r;
    } else if (!same_bits(r.state, one.state)) {
      std::printf("DIFFERENT RESULT on %d threads\n", t);
      same = false;
    }
    const double one_rate = static_cast<double>(nodes) * constituents * steps / one.seconds;
    std::printf("%9ld %7d %11.4f %8.2f %11.4f %24.4g %8.2f %7.2f\n", nodes, t, r.water_seconds,
                one.water_seconds / r.water_seconds, r.seconds, rate, rate / one_rate,
                r.seconds / (r.water_seconds + r.seconds));
    std::fflush(stdout);
  }
  std::printf("end state fingerprint: %016llx\n", fingerprint(one.state));
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  int side = 2000;
  int nodes = 100000;
  int steps = 0;
  std::vector<int> plane_threads = {1, 8};
  std::vector<int> network_threads = {1, 2, 4, 8};
  bool plane = true, network = true, exchange = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--side" && i + 1 < argc) {
      side = std::atoi(argv[++i]);
    } else if (a == "--nodes" && i + 1 < argc) {
      nodes = std::atoi(argv[++i]);
    } else if (a == "--steps" && i + 1 < argc) {
      steps = std::atoi(argv[++i]);
    } else if (a == "--threads" && i + 1 < argc) {
      plane_threads = network_threads = parse_list(argv[++i]);
    } else if (a == "--overland-only") {
      network = false;
    } else if (a == "--channel-only") {
      plane = false;
    } else if (a == "--exchange") {
      exchange = true;
    } else {
      std::fprintf(stderr,
                   "usage: contam_bench [--side N] [--nodes N] [--steps K] [--threads T,...] "
                   "[--overland-only] [--channel-only] [--exchange]\n");
      return 2;
    }
  }
  if (side < 2 || nodes < 1 || steps < 0 || plane_threads.empty()) {
    std::fprintf(stderr, "contam_bench: a side of at least 2, nodes and threads are needed\n");
    return 2;
  }
  std::string message;
  if (!use_vector_target_from_environment(message)) {
    std::printf("%s\n", message.c_str());
    return 1;
  }
  print_machine();
  std::printf("vector kernels: %s\n", vector_target_in_use().c_str());
  bool ok = true;
  if (plane) {
    const long cells = static_cast<long>(side) * side;
    const int plane_steps = steps > 0 ? steps : static_cast<int>(std::max(3L, 20000000L / cells));
    ok = overland(side, plane_steps, plane_threads) && ok;
  }
  if (network) ok = channel_network(nodes, steps > 0 ? steps : 10, network_threads) && ok;
  if (network && exchange)
    ok = channel_exchange(nodes, steps > 0 ? steps : 10, network_threads) && ok;
  return ok ? 0 : 1;
}
