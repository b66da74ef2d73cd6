// The aquifer under Richards soil columns: the storage coefficient of the groundwater solve
// from the column nodes at the table, and after the solve every column rebuilt down to its
// moved table (gw_soil_column_regrid) with the cell's water kept whole. Called by the
// groundwater step (groundwater_step.cpp) when the infiltration runs Richards columns.
#include "subsurface/gw_richards_coupling.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/core/block_sum.h"
#include "framework/core/error_state.h"
#include "framework/core/parallel_team.h"
#include "framework/model_state.h"
#include "subsurface/richards_column.h"
#include "subsurface/soil_column_regrid.h"
#include "subsurface/subsurface_steps.h"

namespace {

// Highest a table may lie under the ground (m): a table closer to the ground is one at the
// ground.
constexpr double below_ground = 1e-7;
// Longest Richards sub-step a column takes after its table has moved (h).
constexpr double moved_column_substep = 0.002777777777777778;
// A groundwater sub-step under the columns is halved while a table would cross more than this
// many nodes of its column in it, down to no shorter than the shortest sub-step (s).
constexpr int most_nodes_crossed = 2;
constexpr double shortest_substep = 1.0;

// Faults a cell's reconciliation can meet, found in the parallel loop and reported after it.
constexpr int fault_none = 0;
constexpr int fault_at_ground = 1;
constexpr int fault_too_deep = 2;

regrid_column regrid_view(subsurface_state& ss, int c) {
  regrid_column r;
  r.phead = ss.PHEAD[c];
  r.theta = ss.THETA[c];
  r.dz = ss.DZ[c];
  r.ks = ss.KS[c];
  r.thetas = ss.THETAS[c];
  r.thetar = ss.THETAR[c];
  r.thetawp = ss.THETAWP[c];
  r.thetafc = ss.THETAFC[c];
  r.thehac = ss.thehac[c];
  r.bchc = ss.BChc[c];
  r.bp = ss.BP[c];
  r.lam = ss.LAM[c];
  r.alpha = ss.ALPHA[c];
  r.beta = ss.BETA[c];
  r.ahav = ss.AHAV[c];
  r.bhav = ss.BHAV[c];
  r.capacity = ss.PHEAD.col_count();
  return r;
}

// Work of one thread: the regrid's copy of a column's old thicknesses and contents.
std::size_t work_per_thread(int capacity) {
  return 2 * (static_cast<std::size_t>(capacity) + 1);
}

}  // namespace

bool gw_richards_setup(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  if (!ss.inf_richards || ms.cell_count < 1) return true;
  if (ss.PHEAD.empty() || ss.numcells.count() < ms.cell_count ||
      ss.soiltype.count() < ms.cell_count) {
    printf("Error: the Richards soil columns over the aquifer are not set up.\n");
    return false;
  }
  const int threads = std::max(1, omp_get_max_threads());
  const std::size_t count = work_per_thread(ss.PHEAD.col_count()) * threads;
  if (count > 2000000000u || !g.column_work.allocate(static_cast<int>(count)) ||
      !g.column_gain.allocate(ms.cell_count) || !g.column_carried.allocate(ms.cell_count) ||
      !g.column_fault.allocate(ms.cell_count) || !g.column_exfil.allocate(ms.cell_count) ||
      !g.column_to_lake.allocate(ms.cell_count) || !g.column_leaked.allocate(ms.cell_count) ||
      !g.column_pumped.allocate(ms.cell_count)) {
    raw_report_alloc_failure("groundwater columns");
    return false;
  }
  g.column_work_threads = threads;
  return true;
}

void gw_richards_storage(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  for (int c = 1; c <= ms.cell_count; ++c) {
    if (g.held[c]) continue;
    const int n = ss.numcells[c];
    double sy = n >= 2 && ss.elevgw[c] < ms.cell_elev[c] ? ss.THETAS[c][n - 1] : ss.THETAS[c][1];
    if (!(sy > 0.0)) sy = ss.gw_porosity[c];
    g.storage[c] = sy;
  }
}

void gw_richards_step_start(model_state& ms) {
  groundwater_state& g = ms.groundwater;
  double* exchange = g.table_exchange.data();
  double* gain = g.column_gain.data();
  double* carried = g.column_carried.data();
  double* exfil = g.column_exfil.data();
  double* to_lake = g.column_to_lake.data();
  double* leaked = g.column_leaked.data();
  double* pumped = g.column_pumped.data();
  const int n = ms.cell_count;
  team_for(team_size(n), 1, n, [&](int c) {
    // What the last step owed the aquifer goes into this solve as a source.
    carried[c] = exchange[c] / 100.0;
    exchange[c] = 0.0;
    gain[c] = exfil[c] = to_lake[c] = 0.0;
    leaked[c] = pumped[c] = 0.0;
  });
}

double gw_richards_substep(model_state& ms, double length) {
  gw_richards_storage(ms);
  const subsurface_state& ss = ms.subsurface;
  const groundwater_state& g = ms.groundwater;
  const int n_cells = ms.cell_count;
  const int capacity = ss.PHEAD.col_count();
  const double* h = ss.elevgw.data();
  const double* ground = ms.cell_elev.data();
  const double* q = g.sink.data();
  const unsigned char* held = g.held.data();
  // The most nodes of its column any cell's table would cross in `step` seconds of its sink:
  // falling, the sink over the saturated node's pores; rising, the recharge filling the nodes
  // above the table one by one at their saturated content.
  auto most_crossed = [&](double step) {
    int most = 0;
#pragma omp parallel for schedule(static) num_threads(team_size(n_cells)) reduction(max : most)
    for (int c = 1; c <= n_cells; ++c) {
      const int n = std::min(ss.numcells[c], capacity);
      if (held[c] || n <= 2 || !(h[c] < ground[c])) continue;
      const double* thetas = ss.THETAS[c];
      const double* dz = ss.DZ[c];
      int crossed = 0;
      if (q[c] > 0.0) {
        const double nodes = q[c] * step * 100.0 / (thetas[n - 1] * dz[n]);
        crossed = nodes > n ? n : static_cast<int>(nodes);
      } else {
        double water = -q[c] * step * 100.0;  // cm
        for (int k = n - 1; k >= 1 && water > 0.0; --k) {
          water -= thetas[k] * dz[k];
          ++crossed;
        }
        // Beyond the top node the table stands at the ground: one more.
        if (water > 0.0) ++crossed;
      }
      most = std::max(most, crossed);
    }
    return most;
  };
  while (length * 0.5 >= shortest_substep && most_crossed(length) > most_nodes_crossed)
    length *= 0.5;
  return length;
}

void gw_richards_pass_owed(model_state& ms, double remaining) {
  groundwater_state& g = ms.groundwater;
  double* exchange = g.table_exchange.data();
  double* carried = g.column_carried.data();
  double* q = g.sink.data();
  const int n = ms.cell_count;
#pragma omp parallel for schedule(static) num_threads(team_size(n))
  for (int c = 1; c <= n; ++c) {
    if (exchange[c] == 0.0) continue;
    // The sink takes it over the rest of the step, as the step's own sources go.
    q[c] -= exchange[c] / 100.0 / remaining;
    carried[c] += exchange[c] / 100.0;
    exchange[c] = 0.0;
  }
}

void gw_richards_count_draws(model_state& ms, double step) {
  groundwater_state& g = ms.groundwater;
  const double* leakage = g.leakage.data();
  const double* pumping = g.pumping.data();
  double* leaked = g.column_leaked.data();
  double* pumped = g.column_pumped.data();
  const int n = ms.cell_count;
  team_for(team_size(n), 1, n, [&](int c) {
    leaked[c] += step * leakage[c];
    pumped[c] += step * pumping[c];
  });
}

void gw_richards_mean_draws(model_state& ms, double dt) {
  groundwater_state& g = ms.groundwater;
  double* leakage = g.leakage.data();
  double* pumping = g.pumping.data();
  const double* leaked = g.column_leaked.data();
  const double* pumped = g.column_pumped.data();
  const int n = ms.cell_count;
  team_for(team_size(n), 1, n, [&](int c) {
    leakage[c] = leaked[c] / dt;
    pumping[c] = pumped[c] / dt;
  });
}

bool gw_richards_place(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  const int n_cells = ms.cell_count;
  const int model = ss.richards_c_option;
  const double aquifer_dz = ss.aquifer_delta_z;
  const int capacity = ss.PHEAD.col_count();
  const std::size_t per = work_per_thread(capacity);
  const int threads = std::min(team_size(n_cells), g.column_work_threads);
  double* const work_base = g.column_work.data() + 1;
  double* h = ss.elevgw.data();
  double* exchange = g.table_exchange.data();
  double* gain = g.column_gain.data();
  double* exfil = g.column_exfil.data();
  double* to_lake = g.column_to_lake.data();
  int* fault = g.column_fault.data();
  double* depth = ms.overland.ov_depth.count() >= n_cells ? ms.overland.ov_depth.data() : nullptr;
  double* exfil_cum = has(ss.exfil_cum, n_cells) ? ss.exfil_cum.data() : nullptr;
  const bool overland_lakes =
      ms.overland.overland_lake_map && has(ms.overland.oland_lake_new, n_cells);
  const bool channel_lakes = ms.perennial_lakes && has(ms.channel.lake_mask, n_cells);
#pragma omp parallel num_threads(threads) if (threads > 1)
  {
    double* const regrid_work = work_base + per * static_cast<std::size_t>(omp_get_thread_num());
#pragma omp for schedule(static)
    for (int c = 1; c <= n_cells; ++c) {
      fault[c] = fault_none;
      if (g.held[c]) continue;
      const int id = ss.soiltype[c];
      if (id < 0 || id >= max_soil_types) continue;
      const soil_table_record& soil = ss.soil_types[id];
      const double ground = ms.cell_elev[c];
      const double por = ss.gw_porosity[c];
      const double start = g.head_substep[c];
      const double solved = h[c];
      // A table at the ground stays there: the column is saturated to the surface.
      const bool at_ground = solved >= ground - below_ground;
      const bool lake = (overland_lakes && ms.overland.oland_lake_new[c] > 0) ||
                        (channel_lakes && ms.channel.lake_mask[c] > 0);
      if (at_ground && !lake && depth == nullptr) {
        fault[c] = fault_at_ground;
        continue;
      }
      const double table = at_ground ? ground : solved;
      const regrid_column col = regrid_view(ss, c);
      const int n_old = std::clamp(ss.numcells[c], 0, capacity);
      const regrid_result placed =
          gw_soil_column_regrid(col, n_old, soil, model, ground, table, aquifer_dz, regrid_work);
      if (!placed.fits) {
        fault[c] = fault_too_deep;
        continue;
      }
      // How far the cell's stores (the aquifer's below the table, the column's above it) are
      // from the water the solve gave the cell (m).
      double off = por * (table - start) + placed.gained / 100.0 - g.storage[c] * (solved - start);
      if (at_ground) {
        h[c] = ground;
        // The stores are full to the ground: what the solve gave the cell beyond them seeps
        // onto the surface, or into the lake over a lake cell (the groundwater step pours it
        // in, cell by cell, since many cells give to one lake).
        if (off < 0.0) {
          if (lake) {
            to_lake[c] -= off;
          } else {
            exfil[c] -= off;
            depth[c] -= off;
            if (exfil_cum != nullptr) exfil_cum[c] -= off;
          }
          off = 0.0;
        }
      }
      // A table that rose into soil that held water left that water in the aquifer's pores:
      // the stores are short of what the solve gave the cell (off < 0), and the aquifer is owed
      // it. It goes in with the next solve, which lifts the table by it over the porosity, and
      // so on: near saturation the table climbs far on little water, over steps rather than at
      // once, so that the column above it follows by its own flow. A table that fell left the
      // soil it uncovered full (off > 0): the aquifer owes that water, and the next solve takes
      // it, while the column drains that soil by its own flow.
      const int n = placed.nodes;
      ss.numcells[c] = n;
      ss.yes_exfil[c] = placed.yes_exfil;
      col.theta[0] = col.theta[1];
      gain[c] += placed.gained;  // cm
      // What the stores miss is owed to the aquifer (or by it) and goes with the next solve.
      exchange[c] = -off * 100.0;
      const richards_column_view v = richards_column_of(ss, c);
      soil_props(v, model, n);
      ss.dtr[c] = std::min(ss.dtr[c], moved_column_substep);
    }
  }

  // The lowest cell with a fault stops the run.
  for (int c = 1; c <= n_cells; ++c) {
    if (fault[c] == fault_at_ground) {
      stop_with_message(
          "Error: the water table reached the ground surface in cell %d (head %g m, ground %g m) "
          "under its Richards soil column, but the run keeps no overland depth to take the "
          "water above it.\n",
          c, h[c], ms.cell_elev[c]);
      return false;
    }
    if (fault[c] == fault_too_deep) {
      stop_with_message(
          "Error: the soil column of cell %d cannot reach its water table at %g m (ground %g m) "
          "within its %d nodes of AQUIFER_DELTA_Z %g m.\n",
          c, h[c], ms.cell_elev[c], capacity, aquifer_dz);
      return false;
    }
  }
  return true;
}

gw_richards_books gw_richards_step_books(const model_state& ms) {
  const groundwater_state& g = ms.groundwater;
  const int n_cells = ms.cell_count;
  const double* gain = g.column_gain.data();
  const double* carried = g.column_carried.data();
  const double* exfil = g.column_exfil.data();
  const double area = ms.gridsize * ms.gridsize;
  struct sums {
    double gain = 0.0, carried = 0.0, exfil = 0.0;
  };
  const sums s = block_ordered_sum<1024, sums>(
      n_cells, sums{},
      [&](int first, int last) {
        sums part;
        for (int c = first; c <= last; ++c) {
          part.gain += gain[c] / 100.0 * area;
          part.carried += carried[c] * area;
          part.exfil += exfil[c] * area;
        }
        return part;
      },
      [](sums& total, const sums& part) {
        total.gain += part.gain;
        total.carried += part.carried;
        total.exfil += part.exfil;
      });
  gw_richards_books books;
  books.column_gain = s.gain;
  books.carried_in = s.carried;
  books.exfiltration = s.exfil;
  return books;
}

double gw_richards_owed(const model_state& ms) {
  const groundwater_state& g = ms.groundwater;
  if (!ms.subsurface.inf_richards || g.table_exchange.count() < ms.cell_count) return 0.0;
  const double area = ms.gridsize * ms.gridsize;
  double sum = 0.0;
  for (int c = 1; c <= ms.cell_count; ++c) sum += g.table_exchange[c] / 100.0 * area;
  return sum;
}
