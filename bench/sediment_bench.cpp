// Benchmark of the overland sediment step against the overland water step it follows: square
// plane grids of 10 m cells falling to the south-east, every cell wet under 50 mm/h of rain, two
// size classes (silt and sand), capacity form 3. Prints, per grid and thread count, the water
// step's cell updates per second, the sediment step's cell-class updates per second and their
// ratio (above 1: a class costs the sediment step less than a cell costs the water step). Sides
// can be given on the command line (default 2000: 4 million cells).
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_args.h"
#include "framework/core/error_state.h"
#include "framework/core/raw_arrays.h"
#include "framework/model_state.h"
#include "overland/explicit_overland.h"
#include "overland/overland_steps.h"
#include "plane_grid.h"
#include "transport/sediment_kernels.h"
#include "transport/sediment_lanes.h"
#include "transport/sediment_sweep.h"
#include "transport/transport_steps.h"

namespace {

constexpr int classes = 2;

// The overland benchmarks' plane, wet 5 mm deep under 50 mm/h of rain, routed by the explicit
// scheme.
std::unique_ptr<model_state> make_wet_plane(int side) {
  std::unique_ptr<model_state> ms = make_plane(side);
  overland_state& ov = ms->overland;
  alloc_1d_double(ov.rain_cell, ms->cell_count, "rain");
  for (int cell = 1; cell <= ms->cell_count; ++cell) {
    ov.ov_depth[cell] = 0.005;
    ov.rain_cell[cell] = 50.0;
  }
  ov.ov_route_option = 1;
  return ms;
}

// The overland sediment record of the run: two classes of quartz (0.02 and 0.2 mm), a soil of
// 60 % silt and 40 % sand, the default erodibility.
bool make_sediment(model_state& ms) {
  transport_state& tr = ms.transport;
  tr.sediment.soil_erosion = 1;
  tr.sediment.sed_constituents = 1;
  tr.sediment.erosion_method = 3;
  tr.sediment.num_sed_classes = classes;
  tr.ov_sed = std::make_unique<ov_sediment_obj>();
  ov_sediment_obj& s = *tr.ov_sed;
  s.num_sed_classes = classes;
  const int n = ms.cell_count;
  bool ok = s.spec_grav.allocate(classes) && s.part_diam.allocate(classes) &&
            s.settling_vel.allocate(classes) && s.sed_class.allocate(classes) &&
            s.sand.allocate(classes) && s.trap_fraction.allocate(classes) &&
            s.class_log_diam.allocate(classes) && s.class_log_step.allocate(classes);
  for (raw_array1d<double>* a :
       {&s.splash_K, &s.detach_coef, &s.detach_exp, &s.detach_crit, &s.sed_K, &s.qsx, &s.qsy,
        &s.slope_x, &s.slope_y, &s.cell_discharge})
    ok = ok && a->allocate(n);
  ok = ok && s.channel_cells.allocate(n) && s.vol_sed.allocate(n, classes, 4) &&
       s.sed_fract.allocate(n, classes, 4) && s.sed_vol_eroded.allocate(n, classes) &&
       s.sed_vol_deposited.allocate(n, classes) && s.ov_qsvol.allocate(n, classes) &&
       sed_water_pass_allocate(s, n, classes);
  if (!ok) return false;
  const double nu = kinematic_viscosity(20.0);
  const double diam[classes + 1] = {0.0, 0.02, 0.2}, share[classes + 1] = {0.0, 0.6, 0.4};
  for (int k = 1; k <= classes; ++k) {
    s.spec_grav[k] = 2.65;
    s.part_diam[k] = diam[k];
    s.settling_vel[k] = settling_velocity(2.65, diam[k], nu);
    s.sed_class[k] = k;
  }
  sediment_class_logs(classes, s.part_diam.data(), s.class_log_diam.data(),
                      s.class_log_step.data());
  for (int c = 1; c <= n; ++c) {
    s.sed_K[c] = 1.0;
    for (int k = 1; k <= classes; ++k) s.sed_fract[c][k][1] = share[k];
  }
  return build_sediment_sweep(s.sweep, ms.index_map, ms.rows, ms.cols, n);
}

}  // namespace

int main(int argc, char** argv) {
  print_machine();
  std::vector<int> sides;
  for (int i = 1; i < argc; ++i) sides.push_back(std::atoi(argv[i]));
  if (sides.empty()) sides = {2000};
  std::printf("%10s %7s %6s %18s %22s %7s\n", "cells", "threads", "steps", "water cell upd/s",
              "sediment cell-class/s", "ratio");
  for (int side : sides) {
    if (side < 2) continue;
    auto ms = make_wet_plane(side);
    run_error = error_state{};
    build_cell_connectivity(*ms);
    compute_overland_slopes(*ms);
    if (run_error.error_code != 0 || !make_sediment(*ms)) {
      std::printf("set-up of a %d x %d grid failed\n", side, side);
      return 1;
    }
    const long cells = static_cast<long>(side) * side;
    const int steps = static_cast<int>(std::max(3L, 20000000L / cells));
    for (int threads : {1, 8}) {
      omp_set_num_threads(threads);
      ov_route_explicit(*ms, 1.0);  // warm the pages and the thread pool
      overland_sediment_step(*ms, 1.0);
      double water = 0.0, sediment = 0.0;
      for (int s = 0; s < steps; ++s) {
        auto t0 = std::chrono::steady_clock::now();
        ov_route_explicit(*ms, 1.0);
        auto t1 = std::chrono::steady_clock::now();
        overland_sediment_step(*ms, 1.0);
        auto t2 = std::chrono::steady_clock::now();
        water += std::chrono::duration<double>(t1 - t0).count();
        sediment += std::chrono::duration<double>(t2 - t1).count();
      }
      const double water_rate = static_cast<double>(cells) * steps / water;
      const double sediment_rate = static_cast<double>(cells) * classes * steps / sediment;
      std::printf("%10ld %7d %6d %18.3e %22.3e %7.2f\n", cells, threads, steps, water_rate,
                  sediment_rate, sediment_rate / water_rate);
      std::fflush(stdout);
    }
  }
  return 0;
}
