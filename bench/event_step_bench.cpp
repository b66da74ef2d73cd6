// Benchmark of the whole event step: rainfall, Green-Ampt infiltration, overland routing
// (explicit or "ade") and channel routing, in the run's own order, on generated watersheds.
// For each grid it writes a project with its maps, channel file and grid-stream file to a
// scratch folder and runs it through run_project, so the real readers and set-up build the
// model state and the real steps advance it. Every step of the time loop is timed on its own;
// after warm-up passes the run goes through one phase of K passes per thread count. After the
// run's summary the water books must close, and the overland routing kernel alone is then timed
// on the run's own wet state at every thread count. Prints, per grid, scheme and thread count:
// cells, passes, wall time, cell updates per second of the whole step and of the kernel alone,
// their ratio and each process's share of the step. Where the rainfall step puts the rain on the
// cells in the infiltration's own pass, that pass counts as infiltration, and "joint" gives the
// number of such steps (the rain's share is then that of the precipitation record alone).
//
// event_step_bench [--quick] [--sides 500,1000,...] [--threads 1,2,...] [--steps K]
//                  [--schemes explicit,ade] [--richards] [--dir folder]
// Default sides 500, 1000, 2000, 4000 (0.25, 1, 4 and 16 million cells), threads 1, 2, 4, 8;
// --quick: sides 250 and 500 on the same threads with few passes. --richards: Richards soil
// columns of 20 nodes take the infiltration in place of Green and Ampt.
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bench_args.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "overland/ade_overland.h"
#include "overland/explicit_overland.h"
#include "run/run_driver.h"

namespace {

using bench_clock = std::chrono::steady_clock;

double seconds_since(bench_clock::time_point t0) {
  return std::chrono::duration<double>(bench_clock::now() - t0).count();
}

// ---------------------------------------------------------------------------------------------
// The generated watershed: a side x side grid of 10 m cells shaped as a V whose valley runs
// down the middle column to the outlet on the last row. The valley walls fall 0.02 towards the
// valley, the valley 0.005 towards the outlet. A stem of trapezoidal links of at most
// `link_cells` cells lies under the valley; at each junction of two stem links a tributary
// link comes in along the row from the east wall. Beds lie 1 m under the land, and node
// elevations are given at the cell edges so that each node's averaged bed lies under the middle
// of its cell (a link of m cells has m + 1 nodes; cell i feeds node i).

constexpr double cell_size = 10.0;
constexpr double wall_slope = 0.02;
constexpr double valley_slope = 0.005;
constexpr double bed_depth = 1.0;
constexpr int link_cells = 250;

struct watershed {
  int side = 0;
  int valley_col = 0;  // column of the valley and of the stem

  // Land elevation at a (possibly fractional) row and column.
  double land(double row, double col) const {
    return 100.0 + wall_slope * std::fabs(col - valley_col) * cell_size +
           valley_slope * (side - row) * cell_size;
  }
};

struct link_plan {
  int number = 0;
  int downstream = 0;
  std::vector<int> upstream;
  std::vector<std::pair<int, int>> cells;  // (row, col) from upstream to downstream
  std::vector<double> node_elev;           // one more than cells
  double bottom_width = 0.0, side_slope = 0.0, n = 0.0;
};

// The links of the network, upstream links numbered before the links they feed.
std::vector<link_plan> plan_network(const watershed& w) {
  std::vector<link_plan> links;
  const int stems = (w.side + link_cells - 1) / link_cells;
  const int trib_len = std::min(link_cells, w.side - w.valley_col);
  int previous_stem = 0;
  for (int s = 0; s < stems; ++s) {
    const int first_row = 1 + s * link_cells;
    const int last_row = std::min(w.side, first_row + link_cells - 1);
    int trib = 0;
    if (s > 0 && trib_len >= 2) {
      link_plan t;
      t.number = static_cast<int>(links.size()) + 1;
      for (int c = w.valley_col + trib_len; c > w.valley_col; --c) {
        t.cells.push_back({first_row, c});
        t.node_elev.push_back(w.land(first_row, c + 0.5) - bed_depth);
      }
      t.node_elev.push_back(w.land(first_row, w.valley_col + 0.5) - bed_depth);
      t.bottom_width = 1.0;
      t.side_slope = 1.0;
      t.n = 0.04;
      trib = t.number;
      links.push_back(std::move(t));
    }
    link_plan stem;
    stem.number = static_cast<int>(links.size()) + 1;
    for (int r = first_row; r <= last_row; ++r) {
      stem.cells.push_back({r, w.valley_col});
      stem.node_elev.push_back(w.land(r - 0.5, w.valley_col) - bed_depth);
    }
    stem.node_elev.push_back(w.land(last_row + 0.5, w.valley_col) - bed_depth);
    stem.bottom_width = 3.0;
    stem.side_slope = 1.5;
    stem.n = 0.035;
    if (previous_stem != 0) stem.upstream.push_back(previous_stem);
    if (trib != 0) stem.upstream.push_back(trib);
    links.push_back(std::move(stem));
    for (int u : links.back().upstream) links[u - 1].downstream = links.back().number;
    previous_stem = links.back().number;
  }
  return links;
}

// A buffered text file for the large maps.
struct text_out {
  FILE* fp = nullptr;
  std::string buf;
  explicit text_out(const char* name) : fp(std::fopen(name, "w")) {}
  ~text_out() {
    flush();
    if (fp) std::fclose(fp);
  }
  void flush() {
    if (fp && !buf.empty()) std::fwrite(buf.data(), 1, buf.size(), fp);
    buf.clear();
  }
  void put(const std::string& s) {
    buf += s;
    if (buf.size() > (1u << 22)) flush();
  }
};

bool write_map_header(text_out& out, const watershed& w) {
  if (!out.fp) return false;
  char head[256];
  std::snprintf(head, sizeof head,
                "north: %.2f\nsouth: 0.00\neast: %.2f\nwest: 0.00\nrows: %d\ncols: %d\n",
                w.side * cell_size, w.side * cell_size, w.side, w.side);
  out.put(head);
  return true;
}

// A map holding one value on every cell.
bool write_constant_map(const char* name, const watershed& w, const char* value) {
  text_out out(name);
  if (!write_map_header(out, w)) return false;
  std::string row;
  for (int c = 1; c <= w.side; ++c) {
    row += value;
    row += c < w.side ? ' ' : '\n';
  }
  for (int r = 1; r <= w.side; ++r) out.put(row);
  return true;
}

bool write_elevation_map(const char* name, const watershed& w) {
  text_out out(name);
  if (!write_map_header(out, w)) return false;
  std::string row;
  char num[32];
  for (int r = 1; r <= w.side; ++r) {
    row.clear();
    for (int c = 1; c <= w.side; ++c) {
      const auto res =
          std::to_chars(num, num + sizeof num, w.land(r, c), std::chars_format::fixed, 3);
      row.append(num, res.ptr);
      row += c < w.side ? ' ' : '\n';
    }
    out.put(row);
  }
  return true;
}

bool write_channel_files(const std::vector<link_plan>& links) {
  FILE* chn = std::fopen("bench.chn", "w");
  FILE* gst = std::fopen("bench.gst", "w");
  if (!chn || !gst) {
    if (chn) std::fclose(chn);
    if (gst) std::fclose(gst);
    return false;
  }
  size_t max_nodes = 0, stream_cells = 0;
  for (const link_plan& l : links) {
    max_nodes = std::max(max_nodes, l.node_elev.size());
    stream_cells += l.cells.size();
  }
  std::fprintf(chn, "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS %zu\nMAXNODES %zu\n",
               links.size(), max_nodes);
  for (const link_plan& l : links) {
    std::fprintf(chn, "CONNECT %d %d %zu", l.number, l.downstream, l.upstream.size());
    for (int u : l.upstream) std::fprintf(chn, " %d", u);
    std::fprintf(chn, "\n");
  }
  for (const link_plan& l : links) {
    std::fprintf(chn, "\nLINK %d\nNODES %zu\nDX %.1f\nTRAPEZOID\nMANNINGS_N %.3f\n", l.number,
                 l.node_elev.size(), cell_size, l.n);
    for (size_t k = 0; k < l.node_elev.size(); ++k) {
      std::fprintf(chn, "NODE %zu\nELEV %.4f\n", k + 1, l.node_elev[k]);
      if (k == 0)
        std::fprintf(chn, "XSEC\nBOTTOM_WIDTH %.2f\nSIDE_SLOPE %.2f\n", l.bottom_width,
                     l.side_slope);
    }
  }
  std::fprintf(gst, "GRIDSTREAMFILE\nSTREAMCELLS %zu\n", stream_cells);
  for (const link_plan& l : links)
    for (size_t k = 0; k < l.cells.size(); ++k)
      std::fprintf(gst, "CELLIJ %d %d\nNUMNODES 1\nLINKNODE %d %zu 1.0\n", l.cells[k].first,
                   l.cells[k].second, l.number, k + 1);
  const bool ok = std::fclose(chn) == 0;
  return std::fclose(gst) == 0 && ok;
}

// A wet Green-Ampt soil that ponds within the first steps: conductivity 0.1 cm/h, capillary head
// 10 cm, porosity 0.45, initial moisture 0.43; uniform rain of 100 mm/h through the whole run;
// overland n 0.05.
// The layered soil table of the Richards columns (--richards): one loam of 20 nodes of 2.5 cm
// (layers of 10, 10 and 27.5 cm) over free drainage.
bool write_richards_table() {
  FILE* fp = std::fopen("bench_soil.txt", "w");
  if (!fp) return false;
  std::fprintf(fp, "1\n0\n1\n");
  for (const char* thickness : {"10", "10", "27.5"})
    std::fprintf(fp, "2.0 0.45 0.05 0.25 0.10 0.25 %s 0.4 25 2.5\n", thickness);
  return std::fclose(fp) == 0;
}

bool write_grid_files(const watershed& w) {
  return write_constant_map("bench_mask.asc", w, "1") && write_elevation_map("bench_elev.asc", w) &&
         write_constant_map("bench_conductivity.asc", w, "0.1") &&
         write_constant_map("bench_capillary.asc", w, "10.0") &&
         write_constant_map("bench_porosity.asc", w, "0.45") &&
         write_constant_map("bench_moisture.asc", w, "0.43") &&
         write_constant_map("bench_soil.asc", w, "1") && write_richards_table() &&
         write_channel_files(plan_network(w));
}

// Infiltration cards: Green and Ampt, or with --richards the Richards columns.
bool richards_columns = false;

bool write_project(const char* name, const watershed& w, const char* scheme, double dt,
                   int minutes) {
  const char* infiltration =
      richards_columns ? "INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP bench_soil.asc\n"
                         "SOIL_LAYER_INPUT_FILE bench_soil.txt\n"
                       : "GREEN_AMPT\nCONDUCTIVITY bench_conductivity.asc\nCAPILLARY "
                         "bench_capillary.asc\nPOROSITY bench_porosity.asc\nMOISTURE "
                         "bench_moisture.asc\n";
  FILE* fp = std::fopen(name, "w");
  if (!fp) return false;
  std::fprintf(fp,
               "TORVAPROJECT\n"
               "WATERSHED_MASK     bench_mask.asc\n"
               "ELEVATION          bench_elev.asc\n"
               "SUMMARY            bench_summary.out\n"
               "OUTLET_HYDRO       bench_outlet.out\n"
               "ROWS               %d\n"
               "COLS               %d\n"
               "GRIDSIZE           %.1f\n"
               "START_DATE         2010 6 1\n"
               "START_TIME         12 0\n"
               "TIMESTEP           %.1f\n"
               "TOT_TIME           %d\n"
               "OUTROW             %d\n"
               "OUTCOL             %d\n"
               "OUTSLOPE           %.4f\n"
               "HYD_FREQ           %d\n"
               "MANNING_N          0.05\n"
               "OVERTYPE           %s\n"
               "RAIN_INTENSITY     100.0\n"
               "RAIN_DURATION      %d\n"
               "%s"
               "CHAN_EXPLIC\n"
               "CHANNEL_INPUT      bench.chn\n"
               "STREAM_CELL        bench.gst\n"
               "MAX_COURANT_NUMBER 0.5\n"
               "QUIET\n"
               "SUPER_QUIET\n",
               w.side, w.side, cell_size, dt, minutes, w.side, w.valley_col, valley_slope, minutes,
               scheme, minutes, infiltration);
  return std::fclose(fp) == 0;
}

// ---------------------------------------------------------------------------------------------
// Timing of the time loop. The steps are plain function pointers, so the timed copies of the
// model's steps report to this one record of the benchmark.

// The processes whose shares are reported; every other step of the loop counts as "other".
enum process { proc_rain, proc_infiltration, proc_overland, proc_channel, proc_other, proc_count };

process process_of(const char* step_name) {
  const std::string s = step_name;
  if (s == "update_precip_record" || s == "apply_rainfall") return proc_rain;
  if (s == "infiltration_step") return proc_infiltration;
  if (s == "overland_flow_step") return proc_overland;
  if (s == "channel_routing_step") return proc_channel;
  return proc_other;
}

struct phase_result {
  int threads = 0;
  int passes = 0;
  double seconds[time_loop_step_count] = {};
  // The rainfall steps that took the pass's infiltration in their own pass over the cells, and
  // their time, which counts as infiltration's.
  int joint_passes = 0;
  double joint_seconds = 0.0;
  double kernel_seconds = 0.0;
  int kernel_calls = 0;
};

struct bench_run {
  int warm_passes = 0;
  int phase_passes = 0;
  std::vector<phase_result> phases;  // one per thread count
  long pass = 0;                     // passes of the time loop begun so far
  int phase = -1;                    // the phase of the current pass; -1 warm-up or tail
  bool summary_done = false;
  bool books_close = false;
  double overall_error = 0.0, surface_error = 0.0;
  double rain = 0.0, infiltrated = 0.0, lateral = 0.0;  // m3 of the run
  int scheme = 1;                                       // 1 explicit, 2 "ade"
  double dt = 0.0;                                      // s
};

bench_run current;

// Called at the start of every pass: picks its phase and sets the phase's thread count.
void begin_pass() {
  const long p = current.pass++;
  const int max_threads = current.phases.back().threads;
  int phase = -1;
  if (p >= current.warm_passes) {
    const long k = (p - current.warm_passes) / current.phase_passes;
    if (k < static_cast<long>(current.phases.size())) phase = static_cast<int>(k);
  }
  if (phase != current.phase || p == 0)
    omp_set_num_threads(phase >= 0 ? current.phases[phase].threads : max_threads);
  current.phase = phase;
  if (phase >= 0) ++current.phases[phase].passes;
}

template <int I>
void timed_step(model_state& ms) {
  if (I == 0) begin_pass();
  const auto t0 = bench_clock::now();
  default_run_steps().time_loop[I].fn(ms);
  if (current.phase < 0) return;
  phase_result& ph = current.phases[current.phase];
  const double seconds = seconds_since(t0);
  // The infiltration of the pass taken with the rain is infiltration's time.
  if (process_of(default_run_steps().time_loop[I].name) == proc_rain &&
      ms.subsurface.infiltration_taken != 0) {
    ph.joint_seconds += seconds;
    ++ph.joint_passes;
  } else {
    ph.seconds[I] += seconds;
  }
}

// One routing call of the kernel alone, as the overland step makes it.
void route_kernel(model_state& ms, int parity) {
  if (current.scheme == 1)
    ov_route_explicit(ms, current.dt);
  else
    ade_overland_route(ms, current.dt, current.scheme, parity);
}

// The run's own summary; then the check of its water books, and the kernel alone on the run's
// final state at every thread count.
void summary_then_kernel(model_state& ms) {
  default_run_steps().write_run_summary(ms);
  if (run_error.error_fatal) return;
  current.summary_done = true;
  const run_totals& t = ms.output.totals;
  current.overall_error = t.run_overall_error;
  current.surface_error = t.run_surface_error;
  current.rain = t.run_vol_precip;
  current.infiltrated = t.run_vol_infiltration;
  current.lateral = t.run_vol_lateral;
  // The books close within 0.01 % and every process moved water.
  current.books_close =
      std::isfinite(t.run_overall_error) && std::fabs(t.run_overall_error) < 0.01 &&
      std::isfinite(t.run_surface_error) && std::fabs(t.run_surface_error) < 0.01 &&
      t.run_vol_precip > 0.0 && t.run_vol_infiltration > 0.0 && t.run_vol_lateral > 0.0;
  if (!current.books_close) return;
  int parity = 1;
  for (phase_result& ph : current.phases) {
    omp_set_num_threads(ph.threads);
    route_kernel(ms, parity);  // warm the thread pool
    parity = 3 - parity;
    const auto t0 = bench_clock::now();
    for (int k = 0; k < current.phase_passes; ++k) {
      route_kernel(ms, parity);
      parity = 3 - parity;
    }
    ph.kernel_seconds = seconds_since(t0);
    ph.kernel_calls = current.phase_passes;
  }
}

template <std::size_t... I>
run_steps timed_steps(std::index_sequence<I...>) {
  run_steps steps = default_run_steps();
  ((steps.time_loop[I].fn = &timed_step<static_cast<int>(I)>), ...);
  steps.write_run_summary = summary_then_kernel;
  return steps;
}

// The peak resident memory of the process in MiB since the last reset.
double peak_mib() {
  FILE* fp = std::fopen("/proc/self/status", "r");
  if (!fp) return 0.0;
  char line[256];
  double kib = 0.0;
  while (std::fgets(line, sizeof line, fp))
    if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atof(line + 6);
  std::fclose(fp);
  return kib / 1024.0;
}

void reset_peak() {
  if (FILE* fp = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", fp);
    std::fclose(fp);
  }
}

// The machine's load averages over 1, 5 and 15 minutes: the machine may be shared.
std::string load_average() {
  std::string text = "unknown";
  if (FILE* fp = std::fopen("/proc/loadavg", "r")) {
    double a = 0, b = 0, c = 0;
    if (std::fscanf(fp, "%lf %lf %lf", &a, &b, &c) == 3) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.2f %.2f %.2f", a, b, c);
      text = buf;
    }
    std::fclose(fp);
  }
  return text;
}

// Passes per phase: about 40 million cell updates, from 10 to 40 passes so that the run stays
// in the first minutes of the storm (later the valley fills and its cells cut the overland
// step).
int passes_for(long cells, int wanted) {
  return wanted > 0 ? wanted : static_cast<int>(std::clamp(40000000L / cells, 10L, 40L));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sides = {500, 1000, 2000, 4000};
  std::vector<int> threads = {1, 2, 4, 8};
  std::vector<std::string> schemes = {"explicit", "ade"};
  std::string dir;
  int wanted_passes = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--quick") {
      sides = {250, 500};
      wanted_passes = 10;
    } else if (a == "--sides" && has_value) {
      sides = parse_list(argv[++i]);
    } else if (a == "--threads" && has_value) {
      threads = parse_list(argv[++i]);
    } else if (a == "--steps" && has_value) {
      wanted_passes = std::atoi(argv[++i]);
    } else if (a == "--schemes" && has_value) {
      schemes.clear();
      for (const char* p = argv[++i]; *p;) {
        const char* e = std::strchr(p, ',');
        schemes.emplace_back(p, e ? e : p + std::strlen(p));
        p = e ? e + 1 : p + std::strlen(p);
      }
    } else if (a == "--richards") {
      richards_columns = true;
    } else if (a == "--dir" && has_value) {
      dir = argv[++i];
    } else {
      std::printf(
          "usage: event_step_bench [--quick] [--sides 500,1000,...] [--threads 1,2,...] "
          "[--steps K] [--schemes explicit,ade] [--richards] [--dir folder]\n");
      return 2;
    }
  }
  std::sort(threads.begin(), threads.end());
  if (threads.empty() || threads.front() < 1) {
    std::printf("the thread counts must be 1 or more\n");
    return 2;
  }
  for (const std::string& s : schemes)
    if (s != "explicit" && s != "ade") {
      std::printf("unknown overland scheme %s (explicit or ade)\n", s.c_str());
      return 2;
    }

  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path start_dir = fs::current_path();
  fs::path scratch;
  if (dir.empty()) {
    char name[] = "/tmp/torva_event_bench_XXXXXX";
    if (!mkdtemp(name)) {
      std::printf("cannot make a scratch folder under /tmp\n");
      return 1;
    }
    scratch = name;
  } else {
    scratch = dir;
    fs::create_directories(scratch, ec);
  }
  fs::current_path(scratch, ec);
  if (ec) {
    std::printf("cannot enter the scratch folder %s\n", scratch.c_str());
    return 1;
  }

  const double dt = 1.0;  // s
  const int warm = 20;    // passes before the first phase, on the most threads
  const run_steps steps = timed_steps(std::make_index_sequence<time_loop_step_count>{});
  int status = 0;

  // Waiting threads that spin hold processors that a shared machine's other work needs: there
  // OMP_WAIT_POLICY=passive gives the figures of the work itself.
  const char* policy = std::getenv("OMP_WAIT_POLICY");
  std::printf("%d processors, OMP_WAIT_POLICY=%s, load average %s, steps of %.0f s\n",
              omp_get_num_procs(), policy ? policy : "(unset)", load_average().c_str(), dt);
  std::printf("%-8s %9s %7s %6s %8s %11s %11s %6s %6s %6s %9s %8s %6s %6s\n", "scheme", "cells",
              "threads", "steps", "wall s", "step cu/s", "kernel cu/s", "ratio", "rain%", "infil%",
              "overland%", "channel%", "other%", "joint");
  for (int side : sides) {
    if (side < 20) {
      std::printf("a side of %d cells is skipped: the generated watershed needs at least 20\n",
                  side);
      continue;
    }
    watershed w;
    w.side = side;
    w.valley_col = side / 2 + 1;
    const long cells = static_cast<long>(side) * side;
    const auto t_write = bench_clock::now();
    if (!write_grid_files(w)) {
      std::printf("cannot write the input files of a %d x %d grid in %s\n", side, side,
                  scratch.c_str());
      status = 1;
      break;
    }
    const double write_seconds = seconds_since(t_write);
    const int k = passes_for(cells, wanted_passes);
    // TOT_TIME counts whole minutes: the passes after the last phase are not timed.
    const int minutes = static_cast<int>(std::ceil((warm + threads.size() * k) * dt / 60.0));
    for (const std::string& scheme : schemes) {
      if (!write_project("bench.prj", w, scheme.c_str(), dt, minutes)) {
        status = 1;
        break;
      }
      current = bench_run{};
      current.warm_passes = warm;
      current.phase_passes = k;
      current.scheme = scheme == "ade" ? 2 : 1;
      current.dt = dt;
      for (int t : threads) current.phases.push_back(phase_result{t});
      const std::string load = load_average();
      reset_peak();
      const auto t_run = bench_clock::now();
      // The run's console lines go to a file of the scratch folder, the table to the console.
      std::fflush(stdout);
      const int console = dup(STDOUT_FILENO);
      if (std::freopen("bench_console.txt", "w", stdout) == nullptr) {
        std::fprintf(stderr, "cannot write bench_console.txt in %s\n", scratch.c_str());
        return 1;
      }
      run_project("bench.prj", nullptr, steps);
      std::fflush(stdout);
      dup2(console, STDOUT_FILENO);
      close(console);
      const double run_seconds = seconds_since(t_run);
      if (run_error.error_fatal || !current.summary_done) {
        std::printf(
            "%-8s %9ld: the run stopped on an error (see bench_console.txt and "
            "bench_summary.out in %s)\n",
            scheme.c_str(), cells, scratch.c_str());
        status = 1;
        continue;
      }
      if (!current.books_close) {
        std::printf(
            "%-8s %9ld: the water books do not close (overall %.4g %%, surface %.4g %%, rain "
            "%.6g m3, infiltrated %.6g m3, into channels %.6g m3): not timed\n",
            scheme.c_str(), cells, current.overall_error, current.surface_error, current.rain,
            current.infiltrated, current.lateral);
        status = 1;
        continue;
      }
      for (const phase_result& ph : current.phases) {
        double share[proc_count] = {};
        double wall = 0.0;
        for (int s = 0; s < time_loop_step_count; ++s) {
          share[process_of(default_run_steps().time_loop[s].name)] += ph.seconds[s];
          wall += ph.seconds[s];
        }
        share[proc_infiltration] += ph.joint_seconds;
        wall += ph.joint_seconds;
        const double step_rate = static_cast<double>(cells) * ph.passes / wall;
        const double kernel_rate = static_cast<double>(cells) * ph.kernel_calls / ph.kernel_seconds;
        std::printf(
            "%-8s %9ld %7d %6d %8.2f %11.3e %11.3e %6.2f %6.1f %6.1f %9.1f %8.1f %6.1f %6d\n",
            scheme.c_str(), cells, ph.threads, ph.passes, wall, step_rate, kernel_rate,
            step_rate / kernel_rate, 100.0 * share[proc_rain] / wall,
            100.0 * share[proc_infiltration] / wall, 100.0 * share[proc_overland] / wall,
            100.0 * share[proc_channel] / wall, 100.0 * share[proc_other] / wall, ph.joint_passes);
      }
      std::printf(
          "%-8s %9ld   run %.1f s (input written in %.1f s), peak memory %.0f MiB, water "
          "books: overall %.2e %%, surface %.2e %%, rain %.4g m3, into channels %.4g m3; "
          "load average at the start %s\n",
          scheme.c_str(), cells, run_seconds, write_seconds, peak_mib(), current.overall_error,
          current.surface_error, current.rain, current.lateral, load.c_str());
      std::fflush(stdout);
    }
  }
  fs::current_path(start_dir, ec);
  // A failed run leaves its inputs and messages behind to be looked at.
  if (dir.empty() && status == 0) fs::remove_all(scratch, ec);
  if (status != 0) std::printf("inputs and messages of the runs kept in %s\n", scratch.c_str());
  return status;
}
