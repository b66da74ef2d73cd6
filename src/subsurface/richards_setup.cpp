// Richards soil columns of the run: the set-up that builds every cell's column from the layered
// soil table once the soil maps are read (read_soil_table calls it), and the infiltration
// update that advances all columns in parallel (infiltration_step and the event initialisation
// call it).
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "framework/core/error_state.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "subsurface/infiltration.h"
#include "subsurface/richards_batch.h"
#include "subsurface/richards_column.h"
#include "subsurface/richards_root_zone.h"
#include "subsurface/soil_tables.h"
#include "subsurface/subsurface_steps.h"

namespace {

richards_options options_of(const subsurface_state& ss) {
  richards_options o;
  o.model = ss.richards_c_option;
  o.k_option = ss.richards_k_option;
  o.upper_option = ss.richards_upper_option;
  o.iter_max = ss.richards_iter_max;
  o.weight = ss.richards_weight;
  o.dtheta_max = ss.richards_dtheta_max;
  o.water_table = ss.water_table_on != 0;
  return o;
}

// The options the columns cannot run with stop the run naming their card.
bool options_can_run(const subsurface_state& ss) {
  const double d = ss.richards_dtheta_max;
  if (!(d > 0.0 && d <= 1.0)) {
    stop_with_message(
        "Error: RICHARDS_DTHETA_MAX is %g; the largest water-content change of a Richards "
        "sub-step must lie above 0 and at most 1\n",
        d);
    return false;
  }
  if (ss.richards_k_option != 1 && ss.richards_k_option != 2) {
    stop_with_message("Error: RICHARDS_K_OPTION is %d; it must be 1 or 2\n", ss.richards_k_option);
    return false;
  }
  if (ss.richards_k_option == 1 && !(ss.richards_weight >= 0.0 && ss.richards_weight <= 1.0)) {
    stop_with_message("Error: RICHARDS_WEIGHT is %g; it must lie from 0 to 1\n",
                      ss.richards_weight);
    return false;
  }
  return true;
}

// Builds one column: layer parameters by node, contents and heads, the water table.
// False (with the message printed) when the column cannot be built.
bool build_column(model_state& ms, int c) {
  subsurface_state& ss = ms.subsurface;
  const int id = ss.soiltype[c];
  const soil_table_record& r = ss.soil_types[id];
  const int model = ss.richards_c_option;
  const int water_table = ss.water_table_on;
  const soil_node_counts counts = layered_soil_node_counts(r, water_table);
  const int capacity = ss.numcells[c];
  const int nodes_held = ss.PHEAD.col_count();
  if (capacity > nodes_held) {
    stop_with_message("Error: the soil column of cell %d needs %d nodes and holds %d\n", c,
                      capacity, nodes_held);
    return false;
  }
  richards_column_view v = richards_column_of(ss, c);
  double* dz = ss.DZ[c];
  double* ks = ss.KS[c];
  for (int k = 0; k <= capacity; ++k) {
    const int L = k <= counts.num1 ? 0 : (k > counts.num2 ? 2 : 1);
    v.theta[k] = r.layer_init_moisture[L];
    dz[k] = r.layer_node_spacing[L];
    if (water_table && k > counts.num3) dz[k] = ss.aquifer_delta_z * 100.0;
    ks[k] = r.layer_hyd_cond[L];
    ss.THETAS[c][k] = r.layer_porosity[L];
    ss.THETAR[c][k] = r.layer_residual_moisture[L];
    ss.THETAWP[c][k] = r.layer_wilting_point[L];
    ss.THETAFC[c][k] = r.layer_field_capacity[L];
    if (model == soil_model_brooks_corey) {
      const double lam = r.layer_pore_index[L];
      ss.LAM[c][k] = lam;
      ss.BP[c][k] = r.layer_bubbling_pressure[L];
      ss.thehac[c][k] =
          brooks_corey_transition_theta(r.layer_porosity[L], r.layer_residual_moisture[L], lam);
      ss.BChc[c][k] = brooks_corey_transition_head(r.layer_bubbling_pressure[L], lam);
    } else {
      ss.ALPHA[c][k] = r.layer_hav_alpha[L];
      ss.BETA[c][k] = r.layer_hav_beta[L];
      ss.AHAV[c][k] = r.layer_hav_a[L];
      ss.BHAV[c][k] = r.layer_hav_b[L];
    }
  }
  for (int k = 0; k <= capacity; ++k) v.phead[k] = soil_psi_from_theta(v, model, k, v.theta[k]);
  int n = capacity;
  if (water_table) {
    const double e = ms.cell_elev[c];
    const double h = ss.elevgw[c];
    ss.yes_exfil[c] = 0;
    if (e <= h) {
      // The table at or above the ground: one saturated node under the ponded head.
      n = 1;
      v.phead[1] = 0.5 * dz[1] + (h - e) * 100.0;
      v.theta[1] = v.thetas[1];
      ss.yes_exfil[c] = 1;
    } else {
      double b = e;
      n = 0;
      bool at_table = false;
      for (int k = 1; k <= capacity; ++k) {
        const double below = b - dz[k] / 100.0;
        if (below >= h) {
          ++n;
          v.phead[k] = (h - below) * 100.0 - 0.5 * dz[k];
          v.theta[k] = soil_theta_from_psi(v, model, k, v.phead[k]);
          b = below;
          continue;
        }
        // The table cuts node k: its part above the table stays a node of its own.
        const double part = (b - h) * 100.0;
        if (part > 1e-5) {
          dz[k] = part;
          v.phead[k] = -0.5 * dz[k];
          v.theta[k] = soil_theta_from_psi(v, model, k, v.phead[k]);
          ++n;
        }
        at_table = true;
        break;
      }
      if (!at_table || n + 1 > capacity) {
        stop_with_message(
            "Error: the soil column of cell %d does not reach its water table at %g m (ground "
            "%g m) within its %d nodes\n",
            c, h, e, capacity);
        return false;
      }
      ++n;
      v.phead[n] = 0.5 * dz[n];
      v.theta[n] = v.thetas[n];
    }
  }
  if (n < 2 && !(water_table && ss.yes_exfil[c] == 1)) {
    stop_with_message(
        "Error: soil type %d of the Richards soil table gives cell %d a column of %d node; its "
        "layer thicknesses must hold at least two nodes of their node thickness\n",
        id, c, n);
    return false;
  }
  ss.numcells[c] = n;
  // Conductivity of the faces between layers: harmonic means over the node thicknesses.
  if (counts.num1 + 1 <= n && r.layer_hyd_cond[0] > 0.0 && r.layer_hyd_cond[1] > 0.0)
    ks[counts.num1 + 1] = (r.layer_node_spacing[0] + r.layer_node_spacing[1]) /
                          (r.layer_node_spacing[0] / r.layer_hyd_cond[0] +
                           r.layer_node_spacing[1] / r.layer_hyd_cond[1]);
  if (counts.num2 + 1 <= n && r.layer_hyd_cond[1] > 0.0 && r.layer_hyd_cond[2] > 0.0)
    ks[counts.num2 + 1] = (r.layer_node_spacing[2] + r.layer_node_spacing[1]) /
                          (r.layer_node_spacing[1] / r.layer_hyd_cond[1] +
                           r.layer_node_spacing[2] / r.layer_hyd_cond[2]);
  v.theta[0] = v.theta[1];
  v.watflux[0] = v.watflux[1];
  v.source[0] = 0.0;
  soil_props(v, model, n);
  ss.totaldz[c] = r.layer_depth[0] + r.layer_depth[1] + r.layer_depth[2];
  ss.avgks[c] = ss.totaldz[c] > 0.0 ? (r.layer_hyd_cond[0] * r.layer_depth[0] +
                                       r.layer_hyd_cond[1] * r.layer_depth[1] +
                                       r.layer_hyd_cond[2] * r.layer_depth[2]) /
                                          ss.totaldz[c]
                                    : 0.0;
  ss.dtr[c] = richards_saturated_start_step;
  ss.bound_type[c] = 1;
  return true;
}

}  // namespace

richards_column_view richards_column_of(subsurface_state& ss, int c) {
  richards_column_view v;
  v.phead = ss.PHEAD[c];
  v.khead = ss.KHEAD[c];
  v.theta = ss.THETA[c];
  v.watcap = ss.WATCAP[c];
  v.watflux = ss.WATFLUX[c];
  v.source = ss.SOURCE[c];
  v.ks = ss.KS[c];
  v.dz = ss.DZ[c];
  v.thetas = ss.THETAS[c];
  v.thetar = ss.THETAR[c];
  v.thetawp = ss.THETAWP[c];
  v.thetafc = ss.THETAFC[c];
  v.thehac = ss.thehac[c];
  v.bchc = ss.BChc[c];
  v.bp = ss.BP[c];
  v.lam = ss.LAM[c];
  v.alpha = ss.ALPHA[c];
  v.beta = ss.BETA[c];
  v.ahav = ss.AHAV[c];
  v.bhav = ss.BHAV[c];
  return v;
}

void richards_init_soil_columns(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  if (!options_can_run(ss)) return;
  const int cells = ms.cell_count;
  if (ss.richards_c_option != soil_model_brooks_corey &&
      ss.richards_c_option != soil_model_havercamp) {
    stop_with_message("Error: RICHARDS_C_OPTION is %d; it must be 1 or 2\n", ss.richards_c_option);
    return;
  }
  if (ss.water_table_on && (ss.elevgw.empty() || ms.cell_elev.empty())) {
    stop_with_message("Error: the Richards columns over a water table need the WATER_TABLE map\n");
    return;
  }
  const raw_array2d<double>* needed[] = {&ss.KS, &ss.DZ, &ss.BP, &ss.LAM};
  for (const raw_array2d<double>* a : needed)
    if (a->empty() || a->row_count() < cells) {
      stop_with_message("Error: the Richards soil columns were not allocated\n");
      return;
    }
  double total = 0.0;
  const double area = ms.gridsize * ms.gridsize;
  for (int c = 1; c <= cells; ++c) {
    if (!build_column(ms, c)) return;
    richards_column_view v = richards_column_of(ss, c);
    total += richards_column_water(v, ss.numcells[c]) / 100.0 * area;
  }
  ss.vadose_vol_initial = total;
  // Work space for every thread that may run the columns.
  const int threads = std::max(1, omp_get_max_threads());
  const std::size_t per = richards_thread_work_size(ss.richards_node_count);
  ss.richards_work.reset();
  const std::size_t count = per * static_cast<std::size_t>(threads);
  if (count > 2000000000u) {
    stop_with_message("Error: the Richards columns need more work space than can be had\n");
    return;
  }
  alloc_1d_double(ss.richards_work, static_cast<int>(count), "richards_work");
  if (ss.richards_work.empty()) {
    stop_now();
    return;
  }
  ss.richards_work_threads = threads;
  if (ms.output.summary_file.fp != nullptr)
    fprintf(ms.output.summary_file.fp, "Inital volume of water in soil column= %lf \n \n", total);
  printf("   Done\n");
}

double richards_infiltration(model_state& ms, double dt_seconds) {
  subsurface_state& ss = ms.subsurface;
  const int cells = ms.cell_count;
  if (ss.PHEAD.empty() || ss.richards_work.empty() || cells < 1 || !(dt_seconds > 0.0)) return 0.0;
  const richards_options o = options_of(ss);
  const double dt_h = dt_seconds / seconds_per_hour;
  const std::size_t per = richards_thread_work_size(ss.richards_node_count);
  const int threads = std::min(ss.richards_work_threads, cells);
  const bool lakes = ms.perennial_lakes && !ms.channel.lake_mask.empty();
  const int* lake = lakes ? ms.channel.lake_mask.data() : nullptr;
  double* ov_depth = ms.overland.ov_depth.data();
  double* work_base = ss.richards_work.data() + 1;
  // Long-term runs: the hour's evapotranspiration rates of the weather (cm/s), asked of the
  // cells where no rain falls.
  const bool weather = ms.long_term && holds(ss.et_rate_water, cells) &&
                       holds(ss.et_rate_soil, cells) && holds(ss.soiltype, cells);
  const double* et_water = weather ? ss.et_rate_water.data() : nullptr;
  const double* et_soil = weather ? ss.et_rate_soil.data() : nullptr;
  const double* rain =
      weather && holds(ms.overland.rain_cell, cells) ? ms.overland.rain_cell.data() : nullptr;
  // Long-term runs: a frozen cell's column neither takes water nor gives it.
  const double* frozen =
      ms.long_term && holds(ms.weather.cfgi, cells) ? ms.weather.cfgi.data() : nullptr;
  int bad_cell = cells + 1;
  // A column takes the weather's evapotranspiration where no rain falls (long-term runs).
  const auto demand_of = [&](int c) {
    richards_demand demand;
    if (et_water != nullptr && !(rain != nullptr && rain[c] > 0.0)) {
      demand.surface_et = et_water[c] * seconds_per_hour;
      demand.soil_et = et_soil[c] * seconds_per_hour;
      demand.root_depth = richards_root_zone_depth(ss, c);
    }
    return demand;
  };
  // The node count of cell c's column to solve, 0 where there is none: a lake, frozen ground,
  // or the table at the surface.
  const auto nodes_of = [&](int c) {
    if (lake != nullptr && lake[c] > 0) return 0;
    if (frozen != nullptr && frozen[c] > frozen_ground_index) return 0;
    const int n = ss.numcells[c];
    return ss.yes_exfil[c] == 1 || n < 2 ? 0 : n;
  };
  // A thread's cells, the columns of one node count at a time, handed to the lanes as they come
  // free; each column's books go to its cell as its step ends.
  struct cell_queue {
    decltype(nodes_of)& nodes;
    decltype(demand_of)& demand;
    subsurface_state& ss;
    double* ov_depth;
    int cell, last, n;
    int next_n;  // the smallest node count above n among the cells passed
    int bad_cell;
  };
  const auto next = [](void* context, richards_batch_column& column, int& id) {
    cell_queue& q = *static_cast<cell_queue*>(context);
    for (; q.cell <= q.last; ++q.cell) {
      const int n = q.nodes(q.cell);
      if (n > q.n && n < q.next_n) q.next_n = n;
      if (n != q.n) continue;
      const int c = q.cell++;
      id = c;
      column.v = richards_column_of(q.ss, c);
      column.demand = q.demand(c);
      column.ov_depth = &q.ov_depth[c];
      column.bound_type = &q.ss.bound_type[c];
      column.dtr = &q.ss.dtr[c];
      column.books = nullptr;
      return true;
    }
    return false;
  };
  const auto done = [](void* context, int cell, const richards_books& b) {
    cell_queue& q = *static_cast<cell_queue*>(context);
    subsurface_state& ss = q.ss;
    if (b.bad_number) {
      q.bad_cell = std::min(q.bad_cell, cell);
      return;
    }
    ss.inf_rate[cell] = b.rate;
    ss.inf_depth_cum[cell] += b.infiltrated / 100.0;
    // The column's net intake: what entered at the surface less what the roots gave up.
    ss.inf_rich[cell] += (b.infiltrated - b.et_soil) / 100.0;
    ss.recharge_inc[cell] += b.drained;
    ss.recharge_cum[cell] += b.drained;
    // Both parts leave the run; the cell's evaporation account keeps what left the surface.
    ss.rich_et_step[cell] = b.et_surface + b.et_soil;
    ss.et_cum_cell[cell] += b.et_surface;
  };
#pragma omp parallel num_threads(threads) if (threads > 1) reduction(min : bad_cell)
  {
    const int team = omp_get_num_threads(), me = omp_get_thread_num();
    double* work = work_base + per * static_cast<std::size_t>(me);
    const int first = 1 + static_cast<int>(static_cast<long long>(cells) * me / team);
    const int last = static_cast<int>(static_cast<long long>(cells) * (me + 1) / team);
    // The cells without a column to solve; the fewest nodes among those with one.
    int fewest = 0;
    for (int c = first; c <= last; ++c) {
      ss.rich_et_step[c] = 0.0;
      const int n = nodes_of(c);
      if (n > 0) {
        if (fewest == 0 || n < fewest) fewest = n;
        continue;
      }
      if (lake != nullptr && lake[c] > 0) continue;
      if (frozen != nullptr && frozen[c] > frozen_ground_index) continue;
      // The table at the surface: no column to solve; the weather takes surface water only.
      const double taken =
          std::min(std::max(ov_depth[c], 0.0) * 100.0, demand_of(c).surface_et * dt_h);
      if (taken > 0.0) {
        ov_depth[c] -= taken / 100.0;
        ss.rich_et_step[c] = taken;
        ss.et_cum_cell[c] += taken;
      }
    }
    cell_queue q{nodes_of, demand_of, ss, ov_depth, first, last, fewest, 0, cells + 1};
    while (q.n > 0) {
      q.cell = first;
      q.next_n = std::numeric_limits<int>::max();
      richards_columns_step(richards_column_queue{&q, next, done}, q.n, o, dt_h, work);
      q.n = q.next_n == std::numeric_limits<int>::max() ? 0 : q.next_n;
    }
    bad_cell = std::min(bad_cell, q.bad_cell);
  }
  if (bad_cell <= cells) {
    stop_with_message(
        "Error: the soil column of cell %d gave a head, flux or water content that is no "
        "number\n",
        bad_cell);
    return 0.0;
  }
  double et = 0.0;
  for (int c = 1; c <= cells; ++c) et += ss.rich_et_step[c] / 100.0;
  return et;
}
