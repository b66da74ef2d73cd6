// End-of-event accounting (time loop, after the exchange with the land-management framework):
// once the end-of-event decision has ended an event, finish_event_balance closes its books:
// final stores, the event's share of the running totals, its water balance, the event summary,
// the optimisation output line and the calibration result holder.
#include "output/event_accounting.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "calibration/calibration_steps.h"
#include "channel/channel_lake_steps.h"
#include "framework/core/console.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "output/event_summary.h"
#include "output/output_steps.h"
#include "output/water_budget.h"
#include "subsurface/sacramento_steps.h"

namespace {

bool in_perennial_lake(const model_state& ms, int c) {
  return ms.perennial_lakes && has(ms.channel.lake_mask, c) && ms.channel.lake_mask[c] > 0;
}

double snow_store(const model_state& ms) {
  if (!ms.snow_present) return 0.0;
  const double area = ms.gridsize * ms.gridsize;
  double sum = 0.0;
  for (int c = 1; c <= ms.cell_count && has(ms.subsurface.swe, c); ++c)
    if (!in_perennial_lake(ms, c)) sum += ms.subsurface.swe[c] * area;
  return sum;
}

bool any_infiltration(const subsurface_state& ss) {
  return ss.green_ampt || ss.inf_redist || ss.inf_layered_soil || ss.inf_richards;
}

double infiltrated_store(const model_state& ms) {
  if (!any_infiltration(ms.subsurface)) return 0.0;
  const double area = ms.gridsize * ms.gridsize;
  double sum = 0.0;
  for (int c = 1; c <= ms.cell_count && has(ms.subsurface.inf_depth_cum, c); ++c)
    sum += ms.subsurface.inf_depth_cum[c] * area;
  return sum;
}

// Recharge, evaporation and Richards soil water of the schemes that keep soil water.
void close_soil_books(model_state& ms, event_budget& b) {
  subsurface_state& ss = ms.subsurface;
  if (!ss.inf_redist && !ss.inf_layered_soil && !ss.inf_richards) return;
  const double area = ms.gridsize * ms.gridsize;
  // Under the aquifer the Richards columns' drainage is counted as the aquifer takes it.
  const bool counted = ss.gw_simulation && ss.inf_richards;
  for (int c = 1; c <= ms.cell_count && has(ss.recharge_inc, c); ++c) {
    if (!counted) b.event_recharge_depth += ss.recharge_inc[c];
    if (!ss.gw_simulation) {
      ms.output.totals.run_vol_gw_recharge += ss.recharge_inc[c] / 100.0 * area;
      ss.recharge_inc[c] = 0.0;
    }
  }
  b.event_vol_direct_evap = 0.0;
  b.event_vol_richards_net = 0.0;
  b.vol_soil_final = 0.0;
  b.soil_nodes_end = 0;
  b.event_vol_gw_recharge = b.event_recharge_depth / 100.0 * area;
  // Long-term runs: the water the cells lost to direct evaporation since the last event end.
  if (ms.long_term) {
    for (int c = 1; c <= ms.cell_count && has(ss.et_cum_cell, c); ++c) {
      b.event_vol_direct_evap += ss.et_cum_cell[c] / 100.0 * area;
      ss.et_cum_cell[c] = 0.0;
    }
  }
  if (ss.inf_richards) {
    for (int c = 1; c <= ms.cell_count; ++c) {
      if (has(ss.inf_rich, c)) b.event_vol_richards_net += area * ss.inf_rich[c];
      const int nodes = has(ss.numcells, c) ? ss.numcells[c] : 0;
      for (int n = 1; n <= nodes - 1; ++n) {
        if (ss.THETA.empty() || ss.DZ.empty() || c > ss.THETA.row_count() ||
            n > ss.THETA.col_count() || c > ss.DZ.row_count() || n > ss.DZ.col_count())
          break;
        b.vol_soil_final += ss.THETA[c][n] * ss.DZ[c][n] / 100.0 * area;
        b.soil_nodes_end += 1;
      }
    }
  }
  ms.output.totals.run_vol_direct_evap += b.event_vol_direct_evap;
  if (ss.inf_richards) {
    // VOLP's moisture, read back at the event's end before these books, changed the columns.
    b.event_vol_volp_soil = ms.output.volp_soil_volume - b.start_volp_soil;
    if (b.event_vol_soil_init > 0.0) {
      b.event_richards_error =
          (b.vol_soil_final - b.event_vol_soil_init - b.event_vol_richards_net +
           b.event_vol_gw_recharge - b.event_vol_gw_to_unsat - b.event_vol_volp_soil) /
          b.event_vol_soil_init * 100.0;
    } else {
      b.event_richards_error = 0.0;
      if (ms.output.summary_file.fp != nullptr)
        fprintf(ms.output.summary_file.fp, "\n No Unsaturated Cells in Grid, No infiltration \n");
    }
  }
}

// Water of the channel lakes (m3) and their evaporation since the start of the run (m3).
double lake_store(const channel_state& ch) {
  double sum = 0.0;
  for (int lake = 1; lake <= ch.num_lakes && has(ch.lake_volume, lake); ++lake)
    sum += ch.lake_volume[lake];
  return sum;
}

double lake_evaporation(const channel_state& ch) {
  double sum = 0.0;
  for (int lake = 1; lake <= ch.num_lakes && has(ch.cumulative_lake_evap, lake); ++lake)
    sum += ch.cumulative_lake_evap[lake];
  return sum;
}

// The overland water that entered each lake since the last event end goes to the event's and
// the run's overland totals, and the lake starts counting again. The lakes' total inflow of the
// run is booked by the channel step from each step's lake inflow, which already holds this
// water: it is not added to that total a second time here.
void book_lake_inflow(model_state& ms, event_budget& b) {
  channel_state& ch = ms.channel;
  for (int lake = 1; lake <= ch.num_lakes && has(ch.lake_ov_inflow, lake); ++lake) {
    ms.output.totals.run_vol_ov_to_lakes += ch.lake_ov_inflow[lake];
    b.event_vol_ov_to_lake += ch.lake_ov_inflow[lake];
    ch.lake_ov_inflow[lake] = 0.0;
  }
}

// Soil type record of a cell, or null where the cell has none.
const soil_table_record* cell_soil(const subsurface_state& ss, int c) {
  if (!has(ss.soiltype, c)) return nullptr;
  const int id = ss.soiltype[c];
  return id >= 0 && id < max_soil_types ? &ss.soil_types[id] : nullptr;
}

// Water content over saturated content of a Richards column, weighted by node thickness, from
// the top down until the nodes taken reach `depth_cm`. A depth that takes no node gives the top
// node's value.
double column_saturation(const subsurface_state& ss, int c, double depth_cm) {
  const int nodes = has(ss.numcells, c) ? ss.numcells[c] : 0;
  double thickness = 0.0;
  double weighted = 0.0;
  double top = 0.0;
  for (int n = 1; n <= nodes - 1; ++n) {
    if (c > ss.THETA.row_count() || n > ss.THETA.col_count() || c > ss.THETAS.row_count() ||
        n > ss.THETAS.col_count() || c > ss.DZ.row_count() || n > ss.DZ.col_count())
      break;
    const double saturated = ss.THETAS[c][n];
    const double ratio = saturated > 0.0 ? ss.THETA[c][n] / saturated : 0.0;
    if (n == 1) top = ratio;
    if (thickness >= depth_cm) break;
    weighted += ratio * ss.DZ[c][n];
    thickness += ss.DZ[c][n];
  }
  return thickness > 0.0 ? weighted / thickness : top;
}

// The sediment form of the optimisation line: the event's largest wash-load rate and wash-load
// volume at the outlet, then those of each sediment location (SI units whatever QOUT_CFS says).
void write_sediment_optimize_line(model_state& ms) {
  FILE* fp = ms.input.optimize_file.fp;
  calibration_state& cal = ms.calibration;
  fprintf(fp, "%d %9.6lf %13.3lf", ms.event_number, cal.event_wash_peak, cal.event_wash_volume);
  run_result* holder = cal.driver_result;
  for (int k = 1; k <= ms.channel.sed_location_count; ++k) {
    const double peak = has(cal.loc_peak, k) ? cal.loc_peak[k] : 0.0;
    const double volume = has(cal.loc_peak_aux, k) ? cal.loc_peak_aux[k] : 0.0;
    if (holder != nullptr && holder->loc_peaks != nullptr && k < holder->stride) {
      holder->loc_peaks[k] = peak;
      holder->loc_volumes[k] = volume;
    }
    fprintf(fp, "%9.6lf %13.3lf", peak, volume);
  }
  fprintf(fp, "\n");
  file_handle_write_check(ms.input.optimize_file);
}

void write_optimize_line(model_state& ms, const event_budget& b) {
  FILE* fp = ms.input.optimize_file.fp;
  if (fp == nullptr) return;
  if (ms.calibration.optimize_sed) {
    write_sediment_optimize_line(ms);
    return;
  }
  const double f = ms.qout_cfs ? 35.32 : 1.0;
  fprintf(fp, ms.qout_cfs ? "%d %8.2lf %13.1lf" : "%d %9.3lf %13.1lf", ms.event_number,
          b.event_peak_discharge * f, b.event_vol_discharge * f);
  run_result* holder = ms.calibration.driver_result;
  const channel_state& ch = ms.channel;
  for (int k = 1; k <= ch.hyd_location_count; ++k) {
    const double peak = has(ms.calibration.loc_peak, k) ? ms.calibration.loc_peak[k] : 0.0;
    const double volume =
        has(ms.calibration.loc_peak_aux, k) ? ms.calibration.loc_peak_aux[k] : 0.0;
    if (holder != nullptr && holder->loc_peaks != nullptr && k < holder->stride) {
      holder->loc_peaks[k] = peak;
      holder->loc_volumes[k] = volume;
    }
    fprintf(fp, ms.qout_cfs ? "%8.2lf %13.1lf" : "%9.3lf %13.1lf", peak * f, volume * f);
  }
  fprintf(fp, "\n");
  file_handle_write_check(ms.input.optimize_file);
}

void fill_result_holder(model_state& ms, const event_budget& b) {
  run_result* holder = ms.calibration.driver_result;
  if (holder == nullptr || ms.event_number == 0) return;
  const calibration_state& cal = ms.calibration;
  // A sediment calibration scores the wash load in m3/s and m3 whatever QOUT_CFS says.
  const double f = cal.optimize_sed ? 1.0 : ms.qout_cfs ? 35.32 : 1.0;
  const double peak = cal.optimize_sed ? cal.event_wash_peak : b.event_peak_discharge;
  const double volume = cal.optimize_sed ? cal.event_wash_volume : b.event_vol_discharge;
  const int n = holder->stride - 1;
  double peaks[101] = {};
  double volumes[101] = {};
  for (int k = 1; k <= n && k <= 100; ++k) {
    peaks[k] = (holder->loc_peaks != nullptr ? holder->loc_peaks[k] : 0.0) * f;
    volumes[k] = (holder->loc_volumes != nullptr ? holder->loc_volumes[k] : 0.0) * f;
  }
  store_event_result(*holder, ms.event_number, peak * f, volume * f, peaks, volumes,
                     n < 100 ? n : 100);
}

// Sizes a per-constituent final-mass array to the constituents and clears it.
void clear_finals(raw_array1d<double>& a, int constituents) {
  if (a.count() != constituents) a.allocate(constituents);
  for (int k = 1; k <= a.count(); ++k) a[k] = 0.0;
}

void clear_finals(guarded_array<double>& a, int constituents) {
  for (int k = 1; k <= constituents && k <= a.upper(); ++k) a[k] = 0.0;
}

void add_final(guarded_array<double>& a, int k, double value) {
  if (k >= 1 && k <= a.upper()) a[k] += value;
}

double table_at(const raw_array2d<double>& t, int row, int col) {
  if (t.empty() || row < 0 || col < 0 || row > t.row_count() || col > t.col_count()) return 0.0;
  return t[row][col];
}

// Soil nodes of the Richards columns: nodes 1 to the node count - 1 of every cell (the bottom
// node is the column's boundary, not its water), as the event's end counts them.
int richards_soil_nodes(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  int count = 0;
  for (int c = 1; c <= ms.cell_count && c <= ss.THETA.row_count() && c <= ss.DZ.row_count(); ++c) {
    const int nodes = has(ss.numcells, c) ? ss.numcells[c] : 0;
    const int held = std::min(ss.THETA.col_count(), ss.DZ.col_count());
    count += std::max(0, std::min(nodes - 1, held));
  }
  return count;
}

}  // namespace

// Channel water of the routed links: flow area times node spacing over their nodes.
double channel_store(const model_state& ms) {
  const channel_state& ch = ms.channel;
  double sum = 0.0;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    const int type = has(ch.ltype, link) ? ch.ltype[link] : 0;
    if (type & (32 | 64 | 128)) continue;
    const int nodes = has(ch.nx1, link) ? ch.nx1[link] : 0;
    const double spacing = has(ch.dx, link) ? ch.dx[link] : 0.0;
    for (int node = 1; node <= nodes; ++node)
      if (ch.area.has(link, node)) sum += ch.area(link, node) * spacing;
  }
  return sum;
}

void close_overland_constituents(model_state& ms) {
  transport_state& tr = ms.transport;
  if (!tr.ov_con_trans) return;
  const int nc = tr.num_contaminants;
  const double area = ms.gridsize * ms.gridsize;
  clear_finals(tr.OV_MASS_FINAL, nc);
  clear_finals(tr.GLOBAL_MASS_FINAL, nc);
  clear_finals(tr.OV_LAND_MASS_FINAL, nc);
  if (tr.soil_con_trans) clear_finals(tr.soil_mass_final, nc);
  const raw_array1d<double>& depth = ms.overland.ov_depth;
  for (int c = 1; c <= ms.cell_count; ++c) {
    for (int k = 1; k <= nc; ++k) {
      const double land = table_at(tr.ov_land_mass, k, c) / 1000.0;
      if (ms.perennial_lakes) {
        if (!in_perennial_lake(ms, c)) {
          add_final(tr.OV_MASS_FINAL, k, table_at(tr.ov_contam_mass, k, c) / 1000.0);
          const double d = has(depth, c) ? depth[c] : 0.0;
          add_final(tr.GLOBAL_MASS_FINAL, k, d * table_at(tr.ov_contam_conc, k, c) * area / 1000.0);
        }
        add_final(tr.GLOBAL_MASS_FINAL, k, land);
        add_final(tr.OV_LAND_MASS_FINAL, k, land);
      } else {
        const double dissolved = table_at(tr.ov_contam_mass, k, c) / 1000.0;
        add_final(tr.OV_MASS_FINAL, k, dissolved);
        add_final(tr.GLOBAL_MASS_FINAL, k, dissolved);
        add_final(tr.OV_LAND_MASS_FINAL, k, land);
      }
      if (!tr.soil_con_trans) continue;
      double** layers = tr.soil_mass.plane(k);
      if (layers == nullptr || c > tr.soil_mass.plane_rows()) continue;
      for (int layer = 1; layer <= tr.soil_mass.plane_cols(); ++layer)
        tr.soil_mass_final[k] += layers[c][layer] / 1000.0;
    }
  }
}

void close_channel_constituents(model_state& ms, bool clear_global) {
  transport_state& tr = ms.transport;
  const channel_state& ch = ms.channel;
  if (!tr.chan_con_trans) return;
  const int nc = tr.num_contaminants;
  clear_finals(tr.chan_mass_final, nc);
  if (tr.sediment_contam) clear_finals(tr.chan_total_mass_final, nc);
  if (clear_global) clear_finals(tr.GLOBAL_MASS_FINAL, nc);
  if (!ch.chan_explic) return;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    const int type = has(ch.ltype, link) ? ch.ltype[link] : 0;
    if (type & (32 | 64 | 128)) continue;
    const raw_array1d<int>& counts = ms.perennial_lakes ? ch.nx : ch.nx1;
    const int nodes = has(counts, link) ? counts[link] : 0;
    const double spacing = has(ch.dx, link) ? ch.dx[link] : 0.0;
    for (int node = 1; node <= nodes; ++node) {
      const double volume = ch.area.has(link, node) ? ch.area(link, node) * spacing : 0.0;
      const int flat = link * tr.con_node_stride + node;
      for (int k = 1; k <= nc; ++k) {
        const double mass = volume * table_at(tr.chan_con_conc, k, flat) / 1000.0;
        tr.chan_mass_final[k] += mass;
        add_final(tr.GLOBAL_MASS_FINAL, k, mass);
        if (tr.sediment_contam)
          tr.chan_total_mass_final[k] += table_at(tr.chan_tot_node_mass, k, flat) / 1000.0;
      }
    }
  }
}

void close_lake_constituents(model_state& ms, bool into_global) {
  transport_state& tr = ms.transport;
  if (!ms.perennial_lakes || !tr.chan_con_trans) return;
  const int nc = tr.num_contaminants;
  clear_finals(tr.lake_mass_final, nc);
  if (into_global) clear_finals(tr.GLOBAL_MASS_FINAL, nc);
  for (int k = 1; k <= nc; ++k)
    for (int lake = 1; lake <= ms.channel.num_lakes; ++lake) {
      const double mass = table_at(tr.lake_mass, k, lake) / 1000.0;
      tr.lake_mass_final[k] += mass;
      if (into_global) add_final(tr.GLOBAL_MASS_FINAL, k, mass);
    }
}

double final_basin_theta(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  if (ms.cell_count <= 0) return 0.0;
  double sum = 0.0;
  if (ss.inf_redist) {
    // A cell whose moisture over porosity is not a number is reported and left out of the
    // mean, so that one bad cell does not make the basin's value undefined.
    int counted = 0;
    for (int c = 1; c <= ms.cell_count; ++c) {
      const double moisture = has(ss.surf_moist, c) ? ss.surf_moist[c] : 0.0;
      const double porosity = has(ss.porosity_cell, c) ? ss.porosity_cell[c] : 0.0;
      const double ratio = moisture / porosity;
      if (!std::isfinite(ratio)) {
        printf("problem with final soil moisture in cell: %d\n", c);
        continue;
      }
      sum += ratio;
      ++counted;
    }
    return counted > 0 ? sum / counted : 0.0;
  } else if (ss.inf_layered_soil) {
    for (int c = 1; c <= ms.cell_count; ++c) {
      const soil_table_record* soil = cell_soil(ss, c);
      const double thickness = soil != nullptr ? soil->layer_depth[0] : 0.0;
      const double porosity = soil != nullptr ? soil->layer_porosity[0] : 0.0;
      // The upper zone's water spreads over the wetted zone inside layer 1: the zone reaches
      // down to the water table (its depth the soil account keeps), not only as deep as the
      // event's wetting front, which would count a whole layer's water over a thinner slice.
      const double front = has(ss.wt_depth_cm, c) ? ss.wt_depth_cm[c]
                           : has(ss.wetdep, c)    ? ss.wetdep[c]
                                                  : 0.0;
      const double water = has(ss.zone_water_upper, c) ? ss.zone_water_upper[c] : 0.0;
      // A soil type without porosity has no pore space to fill: it counts as saturated.
      if (!(porosity > 0.0))
        sum += 1.0;
      else if (front > thickness && thickness > 0.0)
        sum += water / thickness / porosity;
      else if (front > 1e-16)
        sum += water / front / porosity;
      else
        sum += porosity;
    }
  } else if (ss.inf_richards) {
    if (!ms.long_term) return 0.0;
    const double depth_cm = ms.cards.soil_moist_depth * 100.0;
    for (int c = 1; c <= ms.cell_count; ++c) sum += column_saturation(ss, c, depth_cm);
  } else {
    return 0.0;
  }
  return sum / ms.cell_count;
}

void close_sediment_books(model_state& ms) {
  transport_state& tr = ms.transport;
  if (!tr.sediment.soil_erosion) return;
  const int classes = tr.sediment.num_sed_classes;
  if (classes <= 0) return;
  raw_array2d<double>& totals = tr.sed_event_totals;
  if (totals.row_count() != classes || totals.col_count() != 4) totals.allocate(classes, 4);
  for (int k = 1; k <= classes; ++k)
    for (int slot = 1; slot <= 4; ++slot) totals[k][slot] = 0.0;
  const ov_sediment_obj* sed = tr.ov_sed.get();
  if (sed != nullptr && !sed->vol_sed.empty()) {
    const raw_array3d<double>& v = sed->vol_sed;
    const int cells = ms.cell_count < v.plane_count() ? ms.cell_count : v.plane_count();
    const int known = classes < v.row_count() ? classes : v.row_count();
    const int slots = 4 < v.col_count() ? 4 : v.col_count();
    for (int c = 1; c <= cells; ++c) {
      const bool lake_cell = in_perennial_lake(ms, c);
      for (int k = 1; k <= known; ++k) {
        // A lake cell's sediment of a class that lakes keep apart stays out of the books.
        if (lake_cell && !(has(tr.sed_lake_flag, k) && tr.sed_lake_flag[k] != 0)) continue;
        for (int slot = 1; slot <= slots; ++slot) totals[k][slot] += v[c][k][slot];
      }
    }
  }
  if (!tr.chan_sediment) return;
  // Sand in the beds and wash load in suspension of the routed links, lakes and structures
  // left out.
  const channel_state& ch = ms.channel;
  tr.chan_sand_final = 0.0;
  tr.chan_wash_final = 0.0;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    const int type = has(ch.ltype, link) ? ch.ltype[link] : 0;
    if (type & (32 | 64)) continue;
    const int nodes = has(ch.nx1, link) ? ch.nx1[link] : 0;
    for (int node = 1; node <= nodes; ++node) {
      const long flat = static_cast<long>(link) * tr.sed_node_stride + node;
      if (flat <= tr.ch_sand_vol.row_count())
        for (int p = 1; p <= classes + 1 && p <= tr.ch_sand_vol.col_count(); ++p)
          tr.chan_sand_final += tr.ch_sand_vol[flat][p];
      if (flat <= tr.ch_wash_vol.row_count())
        for (int k = 1; k <= classes && k <= tr.ch_wash_vol.col_count(); ++k)
          tr.chan_wash_final += tr.ch_wash_vol[flat][k];
    }
  }
}

double overland_store(const model_state& ms) {
  const overland_state& ov = ms.overland;
  const double area = ms.gridsize * ms.gridsize;
  double sum = 0.0;
  for (int c = 1; c <= ms.cell_count; ++c) {
    if (in_perennial_lake(ms, c)) continue;
    const int lake = ov.overland_lake_map && has(ov.oland_lake_new, c) ? ov.oland_lake_new[c] : 0;
    if (lake >= 1 && lake <= ov.olake_count && has(ov.ov_lakes, lake) && has(ms.cell_elev, c))
      sum += (ov.ov_lakes[lake].surface_elev - ms.cell_elev[c]) * area;
    else if (has(ov.ov_depth, c))
      sum += ov.ov_depth[c] * area;
  }
  return sum;
}

void open_event_books(model_state& ms) {
  event_budget& b = ms.output.budget;
  b = event_budget{};
  b.event_vol_ov_init = overland_store(ms);
  b.event_vol_chan_init = ms.channel.chan_explic ? ms.channel.chan_vol_initial : 0.0;
  // The channels' water at the first event's start is the channels' water at the run's start,
  // unless the channels routed before it (pipe water started them), which booked their water then.
  if (ms.output.events_done == 0 && ms.channel.chan_route_calls == 0)
    ms.output.totals.run_vol_chan_init = b.event_vol_chan_init;
  b.event_vol_snow_init = snow_store(ms);
  b.event_vol_soil_init = ms.subsurface.inf_richards ? ms.subsurface.vadose_vol_event : 0.0;
  b.soil_nodes_start = ms.subsurface.inf_richards ? richards_soil_nodes(ms) : 0;
  b.event_vol_sac_init = ms.subsurface.event_vol_sac_init;
  if (ms.perennial_lakes) b.event_vol_lake_init = lake_store(ms.channel);
  b.start_lake_evap = lake_evaporation(ms.channel);
  b.start_outlet_volume = ms.overland.ov_out_volume;
  b.start_interception = ms.overland.interception_volume;
  b.start_exfiltration = ms.subsurface.exfil_volume;
  b.start_ov_source = ms.overland.ov_point_volume_total;
  b.start_ov_pumped = ms.overland.ov_pump_volume_total;
  b.start_lake_pumped = ms.channel.lake_pump_volume_total;
  b.start_chan_source = ms.output.totals.run_vol_chan_source;
  b.start_slope_out = ms.overland.bdy_normal_out;
  b.start_head_out = ms.overland.bdy_head_out;
  b.start_head_in = ms.overland.bdy_head_in + ms.overland.bdy_flow_in;
  b.start_lateral = ms.output.totals.run_vol_lateral;
  b.start_volp_soil = ms.output.volp_soil_volume;
  if (ms.channel.storm_sewer) {
    const run_totals& t = ms.output.totals;
    b.event_vol_drain_init = ms.superlink.storage;
    b.start_ov_to_drain = t.run_vol_ov_to_drain;
    b.start_drain_to_ov = t.run_vol_drain_to_ov;
    b.start_drain_to_chan = t.run_vol_drain_to_chan;
    b.start_gw_to_tile = t.run_vol_gw_to_tile;
    b.start_drain_lost = t.run_vol_drain_lost;
    b.start_drain_made = t.run_vol_drain_made;
  }
}

void close_event_balance(event_budget& b, event_balance_form form) {
  if (form == event_balance_form::overland) {
    // The surface's own books: the pipes count by what they took from the cells and gave
    // back; groundwater drained by the tiles never was surface water.
    const double in = b.event_vol_ov_init + b.event_vol_rain + b.event_vol_exfiltrated +
                      b.event_vol_snow_init + b.event_vol_ov_source + b.event_vol_head_in;
    if (!(in > 0.0)) {
      b.event_balance_error = -1.0;
      return;
    }
    b.event_mass_in = in + b.event_vol_xy_ov_in;
    b.event_mass_out = b.event_vol_infiltrated + b.vol_ov_final + b.event_vol_discharge +
                       b.event_vol_direct_evap + b.event_vol_snow_final + b.event_vol_head_out +
                       b.event_vol_slope_out + b.event_vol_ov_pumped + b.event_vol_ov_to_drain -
                       b.event_vol_drain_to_ov;
    b.event_balance_error = (b.event_mass_in - b.event_mass_out) / b.event_mass_in;
    return;
  }
  if (!(b.event_vol_rain + b.event_vol_precip_lake > 0.0)) {
    b.event_balance_error = -1.0;
    return;
  }
  if (form == event_balance_form::channel) {
    b.event_mass_in = b.event_vol_precip_lake + b.event_vol_rain + b.event_vol_exfiltrated +
                      b.event_vol_chan_init + b.event_vol_ov_init + b.event_vol_gw_to_chan +
                      b.event_vol_gw_to_lake + b.event_vol_lake_init + b.event_vol_snow_init +
                      b.event_vol_ov_source + b.event_vol_head_in + b.event_vol_lake_source +
                      b.event_vol_stream_source + b.event_vol_gw_to_tile + b.event_vol_xy_ov_in +
                      b.event_vol_drain_init + b.event_vol_drain_made;
    b.event_mass_out = b.event_vol_infiltrated + b.vol_ov_final + b.vol_chan_final +
                       b.event_vol_discharge + b.event_vol_direct_evap + b.event_vol_snow_final +
                       b.event_vol_lake_final + b.event_vol_chan_to_gw + b.event_vol_lake_to_gw +
                       b.event_vol_head_out + b.event_vol_slope_out + b.event_vol_lake_sink +
                       b.event_vol_stream_sink + b.event_vol_lake_evap + b.event_vol_ov_pumped +
                       b.event_vol_drain_final + b.event_vol_drain_lost + b.event_vol_lake_pumped;
    // The inputs hold the rain, which is positive here.
    b.event_balance_error = (b.event_mass_in - b.event_mass_out) / b.event_mass_in;
    return;
  }
  const double d = b.event_vol_rain + b.event_vol_exfiltrated + b.event_vol_chan_init +
                   b.event_vol_ov_init + b.event_vol_snow_init + b.event_vol_ov_source +
                   b.event_vol_lake_init + b.event_vol_sac_init + b.event_vol_head_in;
  const double n = d + b.event_vol_precip_lake + b.event_vol_gw_to_chan - b.event_vol_chan_to_gw +
                   b.event_vol_gw_to_lake - b.event_vol_lake_to_gw + b.event_vol_xy_ov_in -
                   b.vol_ov_final - b.vol_chan_final - b.event_vol_discharge -
                   b.event_vol_sac_final - b.event_vol_direct_evap - b.event_vol_snow_final -
                   b.event_vol_lake_final - b.event_vol_slope_out - b.event_vol_head_out -
                   b.event_vol_ov_pumped - b.event_vol_lake_pumped;
  // A store-free, rain-free event has nothing to measure the error against.
  b.event_balance_error = d > 0.0 ? -n / d : 0.0;
}

double balance_ratio(double numerator, double denominator, double scale) {
  if (!(denominator > 0.0)) return 0.0;
  return numerator / denominator * scale;
}

void finish_event_balance(model_state& ms) {
  if (!ms.event_over) return;
  ms.event_over = 0;
  event_budget& b = ms.output.budget;
  const overland_state& ov = ms.overland;
  const subsurface_state& ss = ms.subsurface;
  const double area = ms.gridsize * ms.gridsize;

  b.event_vol_rain = ms.event_rain_vol;
  // Rain on the lakes and overland flow out of them are counted by the overland steps from the
  // event's start; each event takes its own and the counts start again.
  b.event_vol_precip_lake = ov.lake_precip_event;
  b.event_vol_ov_from_lake = ov.lake_spill_event;
  ms.overland.lake_precip_event = 0.0;
  ms.overland.lake_spill_event = 0.0;
  b.event_vol_ov_source = ov.ov_point_volume_total - b.start_ov_source;
  b.event_vol_ov_pumped = ov.ov_pump_volume_total - b.start_ov_pumped;
  b.event_vol_lake_pumped = ms.channel.lake_pump_volume_total - b.start_lake_pumped;
  b.event_vol_stream_source = ms.output.totals.run_vol_chan_source - b.start_chan_source;
  if (ms.channel.storm_sewer) {
    const run_totals& t = ms.output.totals;
    b.event_vol_drain_final = ms.superlink.storage;
    b.event_vol_ov_to_drain = t.run_vol_ov_to_drain - b.start_ov_to_drain;
    b.event_vol_drain_to_ov = t.run_vol_drain_to_ov - b.start_drain_to_ov;
    b.event_vol_drain_to_chan = t.run_vol_drain_to_chan - b.start_drain_to_chan;
    b.event_vol_gw_to_tile = t.run_vol_gw_to_tile - b.start_gw_to_tile;
    b.event_vol_drain_lost = t.run_vol_drain_lost - b.start_drain_lost;
    b.event_vol_drain_made = t.run_vol_drain_made - b.start_drain_made;
  }
  // The overland boundary cells' share of the event: water that left through normal-depth and
  // stage cells, and water that stage and inflow cells brought in.
  b.event_vol_slope_out = ov.bdy_normal_out - b.start_slope_out;
  b.event_vol_head_out = ov.bdy_head_out - b.start_head_out;
  b.event_vol_head_in = ov.bdy_head_in + ov.bdy_flow_in - b.start_head_in;
  b.event_vol_infiltrated = infiltrated_store(ms);
  if (ms.perennial_lakes) {
    // The channel lakes settle their extent on the event's water before it is counted.
    adjust_channel_lakes(ms);
    book_lake_inflow(ms, b);
  }

  // Final overland water: overland lakes and perennial lakes together are not supported.
  if (ov.overland_lake_map && ms.perennial_lakes) {
    b.vol_ov_final = 0.0;
    for (int c = 1; c <= ms.cell_count; ++c)
      printf(
          "You are simulating overland lakes and perennial lakes, not recommended presently. "
          "Contact your TORVA developer for further advice\n\n");
  } else {
    b.vol_ov_final = overland_store(ms);
    if (ov.overland_lake_map) {
      // The lakes' water now: each event's end replaces the last one's, so that after the last
      // event the run's books hold the lakes' final water once.
      ms.output.totals.run_vol_ov_lake_final = 0.0;
      for (int c = 1; c <= ms.cell_count; ++c) {
        const int lake = has(ov.oland_lake_new, c) ? ov.oland_lake_new[c] : 0;
        if (lake >= 1 && lake <= ov.olake_count && has(ov.ov_lakes, lake) && has(ms.cell_elev, c))
          ms.output.totals.run_vol_ov_lake_final +=
              (ov.ov_lakes[lake].surface_elev - ms.cell_elev[c]) * area;
      }
    }
  }

  close_soil_books(ms, b);
  b.event_vol_exfiltrated = ss.exfil_volume - b.start_exfiltration;
  if (ms.perennial_lakes) {
    b.event_vol_lake_final = lake_store(ms.channel);
    b.event_vol_lake_evap = lake_evaporation(ms.channel) - b.start_lake_evap;
  }
  if (ms.snow_present) b.event_vol_snow_final = snow_store(ms);
  b.event_vol_discharge = ov.ov_out_volume - b.start_outlet_volume;
  b.event_peak_discharge = ms.peak_outlet_q;
  if (ov.interception_on) b.event_vol_interception = ov.interception_volume - b.start_interception;

  if (ss.sacramento) {
    // The basin's stores with the water on its way in or out of it (to the channels, or
    // without them to the outlet).
    b.event_vol_sac_final = sacramento_storage_volume(ms);
    b.event_vol_direct_evap = ss.sac_event_et;
    b.event_vol_sac_baseflow = ss.sac_event_inflow;
    b.event_vol_sac_infil = ss.sac_event_input;
  }
  if (ms.channel.chan_explic) {
    b.vol_chan_final = channel_store(ms);
    close_event_balance(
        b, ss.sacramento ? event_balance_form::sacramento : event_balance_form::channel);
  } else {
    close_event_balance(
        b, ss.sacramento ? event_balance_form::sacramento : event_balance_form::overland);
  }
  close_sediment_books(ms);
  close_lake_constituents(ms, false);
  close_overland_constituents(ms);
  close_channel_constituents(ms, false);
  b.basin_theta_final = final_basin_theta(ms);

  write_event_summary(ms);
  if (!console_silent) printf("finished event \n");
  file_handle_write_check(ms.output.summary_file);
  ms.output.events_done += 1;

  if (ms.calibration.optimize_on) {
    write_optimize_line(ms, b);
    fill_result_holder(ms, b);
  }
}
