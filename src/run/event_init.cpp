// Event initialisation, time-loop step 3: at the first step of every precipitation event it
// carries the long-term soil over the dry gap, re-bases the process schedules on the event's
// start, clears the event's budgets, takes its starting volumes, re-initialises the soil
// moisture of the redistribution and layered schemes and empties the channel.
#include <cmath>
#include <cstdio>

#include "channel/channel_steps.h"
#include "framework/core/error_state.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "output/output_steps.h"
#include "run/event_control.h"
#include "subsurface/sacramento_steps.h"
#include "subsurface/subsurface_steps.h"
#include "transport/transport_steps.h"

namespace {

template <class T>
void zero_at(raw_array1d<T>& a, int i) {
  if (has(a, i)) a[i] = T{};
}

bool has_cell(const raw_array2d<double>& a, int row, int col) {
  return !a.empty() && row >= 1 && row <= a.row_count() && col >= 1 && col <= a.col_count();
}

// The overland water of every cell, an overland-lake cell counting the lake's depth over it.
double overland_volume(const model_state& ms) {
  const overland_state& ov = ms.overland;
  const double area = ms.gridsize * ms.gridsize;
  double sum = 0.0;
  for (int c = 1; c <= ms.cell_count; ++c) {
    const int lake = ov.overland_lake_map && has(ov.oland_lake_new, c) ? ov.oland_lake_new[c] : 0;
    if (lake >= 1 && lake <= ov.olake_count && has(ov.ov_lakes, lake) && has(ms.cell_elev, c)) {
      sum += (ov.ov_lakes[lake].surface_elev - ms.cell_elev[c]) * area;
    } else if (has(ov.ov_depth, c)) {
      sum += area * ov.ov_depth[c];
    }
  }
  return sum;
}

// Long-term runs with Richards columns: the soil carried over the dry gap since infiltration
// last ran, and the infiltration schedule pulled back to the event.
void carry_soil_over_gap(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  const double area = ms.gridsize * ms.gridsize;
  auto soil_water = [&ss]() {
    double sum = 0.0;
    for (int c = 1; c <= ss.zone_water_upper.count() && has(ss.zone_water_upper, c); ++c)
      sum += ss.zone_water_upper[c];
    for (int c = 1; c <= ss.zone_water_lower.count() && has(ss.zone_water_lower, c); ++c)
      sum += ss.zone_water_lower[c];
    return sum;
  };
  const double before = soil_water();
  const double dt = (ms.current_time - ms.infil_clock.last) * seconds_per_day;
  ss.evap_depth_event = richards_infiltration(ms, dt);
  ss.evap_total += ss.evap_depth_event * area;
  if (ms.output.summary_file.fp != nullptr)
    fprintf(ms.output.summary_file.fp, "Total evaporation at beginning of event %lf \n",
            ss.evap_total);
  ss.soil_storage_change += (soil_water() - before) / 100.0 * area;
  if (ms.infil_clock.next > ms.current_time + ms.ov_clock.interval_days) {
    ms.infil_clock.last = ms.current_time;
    ms.infil_clock.next = ms.current_time + ms.ov_clock.interval_days;
    if (ms.transport.ov_con_trans) {
      ms.transport.ov_con_infil_clock.last = ms.infil_clock.last;
      ms.transport.ov_con_infil_clock.next = ms.infil_clock.next;
    }
  }
}

void rebase_schedules(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  transport_state& tr = ms.transport;
  const double now = ms.current_time;
  process_clock& ovc = ms.ov_clock;
  ovc.last = now;
  ovc.next = now + ovc.interval_days;
  process_clock& inf = ms.infil_clock;
  inf.interval_seconds = ovc.interval_seconds;
  inf.interval_days = ovc.interval_days;
  if (inf.next > now + 2.0 * ovc.interval_days) inf.next = now + 2.0 * ovc.interval_days;
  if (tr.ov_con_trans) {
    tr.ov_con_clock = ovc;
    tr.ov_con_infil_clock = inf;
    if (tr.soil_con_trans) tr.soil_con_clock = ovc;
    if (tr.nutrients) tr.nsm_clock = ovc;
    if (ss.gw_simulation) tr.gw_con_clock = ovc;
  }
  if (ss.gw_simulation) {
    process_clock& gw = ms.gw_clock;
    gw.interval_seconds = ovc.interval_seconds;
    gw.interval_days = ovc.interval_days;
    if (gw.next > ovc.next + ovc.interval_days) gw.next = ovc.next + ovc.interval_days;
    ss.gw_event_exchange = 0.0;
  }
  if (ss.redistribution_on) {
    ms.soil_et_clock.interval_seconds = inf.interval_seconds;
    ms.soil_et_clock.interval_days = inf.interval_days;
    ms.soil_et_clock.next = inf.next;
    if (tr.soil_con_trans) {
      tr.soil_con_clock.interval_seconds = inf.interval_seconds;
      tr.soil_con_clock.interval_days = inf.interval_days;
      tr.soil_con_clock.next = inf.next;
    }
  }
}

void clear_constituent_budgets(model_state& ms) {
  transport_state& tr = ms.transport;
  guarded_array<double>* budgets[] = {
      &tr.event_ov_precip_mass, &tr.event_ov_decay_mass, &tr.event_ov_uptake_mass,
      &tr.event_ov_qlat_mass,   &tr.event_ov_mass_out,   &tr.event_ov_exfil_mass,
      &tr.event_ov_infil_mass,  &tr.event_ov_point_mass, &tr.event_ov_mass_init,
      &tr.event_ov_land_mass,   &tr.event_ov_neg_mass};
  for (guarded_array<double>* budget : budgets)
    for (int k = 1; k <= tr.num_contaminants && k <= budget->upper(); ++k) (*budget)[k] = 0.0;
}

// Sacramento: the event's totals start empty and the basin's water is taken: its stores, and
// the water between the cells and the basin or the basin and the channel.
void start_sacramento_event(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  ss.sac_event_input = 0.0;
  ss.sac_event_et = 0.0;
  ss.sac_event_inflow = 0.0;
  ss.event_vol_sac_init = sacramento_storage_volume(ms);
}

bool initial_overland_water(const project_cards& cards) {
  return cards.ov_init_depth_given || cards.initial_depth_given || cards.init_elev_head_given;
}

bool wetlands_on(const model_state& ms) {
  return ms.input.wetland_table_on && !ms.overland.wetland_mask.empty();
}

// The wetland record of cell c, or none.
const wetland_record* wetland_of(const overland_state& ov, int c) {
  const int w = has(ov.wetland_mask, c) ? ov.wetland_mask[c] : 0;
  return w >= 1 && w <= ov.wetland_count && has(ov.wetlands, w) ? &ov.wetlands[w] : nullptr;
}

// A wetland cell holds its wetland's initial depth; its ground lies the wetland's depth lower,
// which is done once in a run.
void fill_wetland(model_state& ms, int c, const wetland_record& wetland, bool lower_ground) {
  if (has(ms.overland.ov_depth, c)) ms.overland.ov_depth[c] = wetland.slot[0];
  if (lower_ground && has(ms.cell_elev, c)) ms.cell_elev[c] -= wetland.slot[7];
}

// Runs that keep no water between events start each event's overland state afresh: the
// event's maximum depths, the wetlands' water and, with wetlands but no initial overland water,
// a dry plane elsewhere.
void restart_overland(model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  overland_state& ov = ms.overland;
  if (ss.inf_richards || ss.gw_simulation || ov.ov_point_source || ss.redistribution_on) return;
  const bool initial_water = initial_overland_water(ms.cards);
  const bool wetlands = wetlands_on(ms);
  const bool lower_ground = wetlands && !ov.wetland_ground_lowered;
  for (int c = 1; c <= ms.cell_count; ++c) {
    const wetland_record* wetland = wetlands ? wetland_of(ov, c) : nullptr;
    if (wetland != nullptr) {
      zero_at(ov.max_depth, c);
      fill_wetland(ms, c, *wetland, lower_ground);
    } else if (wetlands && !initial_water) {
      zero_at(ov.ov_depth, c);
    } else {
      zero_at(ov.max_depth, c);
    }
  }
  if (lower_ground) ov.wetland_ground_lowered = 1;
}

// Per-cell event state of the infiltration schemes and the canopy.
void reset_cells(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  const double area = ms.gridsize * ms.gridsize;
  const bool richards_long = ss.inf_richards && ms.long_term;
  if (richards_long) ms.avg_saturation = 0.0;
  if (ss.inf_richards) ss.vadose_vol_event = 0.0;
  for (int c = 1; c <= ms.cell_count; ++c) {
    if (ss.green_ampt || ss.inf_layered_soil || ss.inf_richards) {
      zero_at(ss.inf_depth_cum, c);
      zero_at(ss.inf_depth_prev, c);
    }
    if (ss.inf_layered_soil || ss.inf_richards) {
      zero_at(ss.wetdep, c);
      zero_at(ss.inf_rate, c);
    }
    if (ss.inf_richards) {
      zero_at(ss.inf_rich, c);
      if (ms.long_term && has(ss.et_cum_cell, c)) {
        // What the weather took from the surface water since the last event's books.
        ss.richards_et_total += ss.et_cum_cell[c] / 100.0 * area;
        ms.output.totals.run_vol_direct_evap += ss.et_cum_cell[c] / 100.0 * area;
        ss.et_cum_cell[c] = 0.0;
      }
      if (has(ss.bound_type, c)) ss.bound_type[c] = 1;
      const int nodes = has(ss.numcells, c) ? ss.numcells[c] : 0;
      double saturation = 0.0;
      double thickness = 0.0;
      for (int n = 1; n <= nodes && has_cell(ss.THETA, c, n) && has_cell(ss.DZ, c, n); ++n) {
        // The bottom node is the column's boundary, not its water.
        if (n < nodes) ss.vadose_vol_event += ss.THETA[c][n] * ss.DZ[c][n] / 100.0 * area;
        // Mean saturation of the layers down to the upper-zone depth.
        if (thickness < ss.zone_depth_upper && has_cell(ss.THETAS, c, n) && ss.THETAS[c][n] > 0.0) {
          saturation += ss.THETA[c][n] / ss.THETAS[c][n] * ss.DZ[c][n];
          thickness += ss.DZ[c][n];
        }
      }
      if (ms.long_term && thickness > 0.0) ms.avg_saturation += saturation / thickness;
      const double limit = ms.infil_clock.interval_seconds / seconds_per_hour;
      if (has(ss.dtr, c) && ss.dtr[c] > limit) ss.dtr[c] = limit;
      if (!ss.gw_simulation && has(ss.recharge_inc, c)) {
        ss.recharge_volume += ss.recharge_inc[c] / 100.0 * area;
        ss.recharge_inc[c] = 0.0;
      }
    }
    if (ms.overland.interception_on) zero_at(ms.overland.interception_storage, c);
  }
  if (richards_long && ms.cell_count > 0) ms.avg_saturation /= ms.cell_count;
}

// Layered soil in long-term runs: the layer moistures from the water left in the two zones.
void reinit_layered_soil(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  ms.avg_saturation = 0.0;
  for (int c = 1; c <= ms.cell_count; ++c) {
    const int type = has(ss.soiltype, c) ? ss.soiltype[c] : 0;
    const soil_table_record& soil = ss.soil_types[type >= 0 && type < max_soil_types ? type : 0];
    const double d1 = soil.layer_depth[0];
    const double d2 = soil.layer_depth[1];
    const double* ts = soil.layer_porosity;
    const double* tr = soil.layer_residual_moisture;
    const double depth = has(ss.wt_depth_cm, c) ? ss.wt_depth_cm[c] : 0.0;
    const double upper = has(ss.zone_water_upper, c) ? ss.zone_water_upper[c] : 0.0;
    const double lower = has(ss.zone_water_lower, c) ? ss.zone_water_lower[c] : 0.0;
    double theta[3];
    if (depth > 1e-16) {
      if (d1 > depth) {
        theta[0] = upper / depth;
        theta[1] = ts[1];
        theta[2] = ts[2];
      } else {
        theta[0] = upper / d1;
        if (d1 + d2 > depth) {
          // The lower zone ends inside layer 2: its water spreads over the part of layer 2
          // above the water table, depth - d1 thick. A table at the foot of layer 1 leaves no
          // such part: layer 2 then lies wholly below the table, saturated like layer 3.
          const double above_table = depth - d1;
          theta[1] = above_table > 1e-16 ? lower / above_table : ts[1];
          theta[2] = ts[2];
        } else {
          theta[1] = lower / d2;
          theta[2] = theta[1];
        }
      }
    } else {
      theta[0] = ts[0];
      theta[1] = ts[1];
      theta[2] = ts[2];
    }
    // A moisture that is not a number passes the bounds unchanged: it is reported, whichever
    // layer holds it.
    bool bad = false;
    for (int k = 0; k < 3; ++k) {
      if (theta[k] < tr[k]) theta[k] = tr[k];
      if (theta[k] > ts[k]) theta[k] = ts[k];
      if (has_cell(ss.THETA_ML, c, k + 1)) ss.THETA_ML[c][k + 1] = theta[k];
      if (std::isnan(theta[k])) bad = true;
    }
    const double saturation = theta[0] / ts[0];
    if (std::isnan(saturation))
      bad = true;
    else
      ms.avg_saturation += saturation;
    if (bad) printf("bad initial value of soil moisture cell %d\n", c);
    book_gap_water(ms, c);
  }
  if (ms.cell_count > 0) ms.avg_saturation /= ms.cell_count;
}

bool routed_link(int ltype) {
  const bool captured = (ltype & 128) != 0 && (ltype & (4 | 8 | 16)) != 0;
  return (ltype & 64) == 0 && (ltype & 32) == 0 && !captured;
}

int link_type(const channel_state& ch, int link) {
  return has(ch.ltype, link) ? ch.ltype[link] : 0;
}

int node_count(const channel_state& ch, int link) {
  return has(ch.nx1, link) ? ch.nx1[link] : 0;
}

// Explicit channels: schedules follow the overland one; without a hotstart the channel starts
// empty; the event's starting channel volume.
void reset_channel(model_state& ms) {
  channel_state& ch = ms.channel;
  const subsurface_state& ss = ms.subsurface;
  if (ch.chan_explic) {
    ms.chan_clock.interval_seconds = ms.ov_clock.interval_seconds;
    ms.chan_clock.interval_days = ms.ov_clock.interval_days;
    ms.chan_clock.next = ms.ov_clock.next;
    ms.chan_clock.last = ms.ov_clock.last;
    if (ms.transport.chan_con_trans) ms.transport.chan_con_clock = ms.chan_clock;
  }
  ch.chan_vol_initial = 0.0;
  const bool keeps_water = ss.inf_richards || ss.gw_simulation || ss.redistribution_on;
  if (ch.chan_explic && !ch.read_chan_hotstart_on && (ms.clock_calls == 1 || !keeps_water)) {
    for (int link = 1; link <= ch.chan_link_count; ++link) {
      for (int node = 1; node <= node_count(ch, link); ++node) {
        if (ch.qp.has(link, node)) ch.qp(link, node) = 0.0;
        if (ch.chan_depth.has(link, node)) ch.chan_depth(link, node) = 0.0;
        if (ch.yp.has(link, node) && ch.bel.has(link, node)) ch.yp(link, node) = ch.bel(link, node);
      }
    }
    // The outlet head boundary holds the outlet node, the last computational node.
    hold_outlet_head(ms);
    if (run_error.error_fatal) return;
    ex_section(ms);
  }

  for (int link = 1; link <= ch.chan_link_count; ++link) {
    const int ltype = link_type(ch, link);
    if (!routed_link(ltype)) continue;
    const double spacing = has(ch.dx, link) ? ch.dx[link] : 0.0;
    for (int node = 1; node <= node_count(ch, link); ++node) {
      if (!ch.area.has(link, node)) continue;
      const double a = ch.area(link, node);
      if (std::isnan(a)) {
        printf("Negative Area Computed At Startup for [Node][Link]: [%d][%d] ltype: %d\n", node,
               link, ltype);
        continue;
      }
      ch.chan_vol_initial += a * spacing;
    }
  }
}

}  // namespace

void init_event(model_state& ms) {
  if (std::fabs(ms.current_time - ms.event_start_time) >= ms.time_tolerance) return;
  subsurface_state& ss = ms.subsurface;
  overland_state& ov = ms.overland;
  const project_cards& cards = ms.cards;

  ms.ov_water_present = 1;
  if (ms.long_term && ss.inf_richards && ms.clock_calls != 1) carry_soil_over_gap(ms);
  rebase_schedules(ms);
  if (ms.transport.ov_con_trans) clear_constituent_budgets(ms);
  if (ms.transport.nutrients) nsm_event_snapshot(ms);
  lake_contam_event_snapshot(ms);
  if (ss.sacramento) start_sacramento_event(ms);
  restart_overland(ms);
  reset_cells(ms);

  if (ms.clock_calls != 1) ms.event_step = 1;
  ss.infil_step_count = 1;

  ms.peak_outlet_q = 0.0;
  ms.event_rain_vol = 0.0;
  ms.event_start_ov_sum = 0.0;
  ms.event_dry_start = 1;
  ms.event_start_ov_vol = 0.0;

  // Per-location peaks of the optimisation output.
  const channel_state& ch = ms.channel;
  calibration_state& cal = ms.calibration;
  if (cal.optimize_on) {
    const int locations = cal.optimize_sed ? ch.sed_location_count : ch.hyd_location_count;
    for (int i = 1; i <= locations; ++i) {
      zero_at(cal.loc_peak, i);
      zero_at(cal.loc_peak_aux, i);
    }
    cal.event_wash_peak = 0.0;
    cal.event_wash_volume = 0.0;
  }

  // The event's starting overland water, with the options that can leave water on the plane.
  if (ss.inf_richards || ss.gw_simulation || ss.redistribution_on || ov.overland_lake_map ||
      wetlands_on(ms) || initial_overland_water(cards)) {
    const double sum = overland_volume(ms);
    ms.event_start_ov_sum = sum;
    if (sum > 1e-6) {
      ms.event_dry_start = 0;
      ms.event_start_ov_vol = sum;
    }
  }
  ms.output.event_balance_open = 1;
  if (!ms.super_quiet) printf("Initialized Arrays\n");

  // Event runs end TOT_TIME minutes after their start.
  if (!ms.long_term && !ms.tev) {
    if (!ms.super_quiet) printf("simulation duration %d minutes\n", ms.tot_time);
    ms.end_time_jday = ms.hmet_start_jday + ms.tot_time / minutes_per_day;
  }

  // Green-Ampt with redistribution: a fresh wetting front on the moisture left by the gap,
  // whose saturation the event starts from.
  if (ss.inf_redist)
    restart_wetting_fronts(ms, {.book_gap_water_every_run = false, .average_saturation = true});
  if (ss.inf_layered_soil && ms.long_term) reinit_layered_soil(ms);
  reset_channel(ms);

  // Overland lakes: their water at the event start (cells of channel lakes excepted).
  if (ov.overland_lake_map) {
    const double area = ms.gridsize * ms.gridsize;
    double volume = 0.0;
    for (int c = 1; c <= ms.cell_count; ++c) {
      if (ms.perennial_lakes && has(ms.channel.lake_mask, c) && ms.channel.lake_mask[c] > 0)
        continue;
      const int lake = has(ov.oland_lake_new, c) ? ov.oland_lake_new[c] : 0;
      if (lake >= 1 && lake <= ov.olake_count && has(ov.ov_lakes, lake) && has(ms.cell_elev, c))
        volume += (ov.ov_lakes[lake].surface_elev - ms.cell_elev[c]) * area;
    }
    ov.olake_event_start_vol = volume;
  }
  open_event_books(ms);
}
