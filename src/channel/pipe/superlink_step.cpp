// The pipe network on the model's clock: the set-up after the network is read (the solve's
// arrays, the starting state, the series arrays of the pipe outputs), and the time-loop step
// that runs the implicit solve when the network is due and books the water it took from the
// cells, gave back to them, passed to channel outlets and let leave the system.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "channel/channel_steps.h"
#include "channel/pipe/superlink_solve.h"
#include "channel/pipe/superlink_state.h"
#include "channel/pipe/tile_exchange.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "overland/overland_steps.h"

namespace {

// The pipe outputs' view of the network: per superlink its segment flows and its node heads.
void copy_series(model_state& ms) {
  const channel_state& ch = ms.channel;
  const superlink_state& sl = ms.superlink;
  series_outputs_state& so = ms.output.series;
  if (so.superlink_segments.empty()) return;
  for (int j = 1; j <= ch.superlink_junction_count; ++j) so.superjunction_flow[j] = sl.Q_junc[j];
  for (int s = 1; s <= ch.superlink_count; ++s) {
    const int N = sl.num_nodes[s];
    so.superlink_segments[s] = N;
    for (int i = 1; i <= N; ++i) so.superlink_flow[i][s] = sl.Q[i][s];
    for (int i = 1; i <= N + 1; ++i)
      so.superlink_head[i][s] = sl.slink_node_Zinv[i][s] + sl.slink_node_depth[i][s];
  }
}

void write_flows_line(const superlink_state& sl, double dt) {
  if (sl.call_count == 0) {
    if (!file_handle_open(superlink_flows_file, "superlink_flows.out", "w")) {
      printf("Can't open file superlink_flows.out'\n");
      return;
    }
    fprintf(superlink_flows_file.fp, "Call# VtoSL VtoTORVA   QtoSL    QtoTORVA \n");
  } else if (!file_handle_open(superlink_flows_file, "superlink_flows.out", "a")) {
    return;
  }
  fprintf(superlink_flows_file.fp, "%d %8.3lf %8.3lf %8.3lf %8.3lf \n", sl.call_count,
          sl.call_inflow, sl.call_outflow, sl.call_inflow / dt, sl.call_outflow / dt);
  file_handle_close(superlink_flows_file);
}

// The water table drains into the leaky pipes below it: the exchange gives each pipe node its
// inflow (m3/s) for the solve and each cell its drainage rate, which leaves the aquifer as a
// sink of its next groundwater step. A cell whose head is held gives the water through its
// held head at once, so the aquifer's books take it as passed by the head boundary and drained.
void drain_aquifer_into_tiles(model_state& ms, double dt) {
  channel_state& ch = ms.channel;
  superlink_state& sl = ms.superlink;
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  const tile_ground ground{ms.cell_elev.data(), ss.elevgw.data(), ss.bottom_elev.data()};
  sl.tile_result = gw_tile_exchange(sl, ch, ground, ch.superlink_drainmod != 0);
  if (run_error.error_fatal) return;
  run_totals& t = ms.output.totals;
  const double area = ms.gridsize * ms.gridsize;
  for (int cell = 1; cell <= ms.cell_count; ++cell) {
    const double volume = dt * ch.Q_tile_grid[cell];
    ch.Q_tile_grid[cell] = 0.0;
    if (volume == 0.0) continue;
    ch.vol_tile_grid[cell] += volume;
    if (g.held[cell]) {
      t.run_vol_gw_head_flux += volume;
      t.run_vol_gw_inputs -= volume;
    } else {
      g.extra_sink[cell] += volume / area;
    }
  }
}

// The surface schedule of a long-term run waits for the next storm: it jumped a dry spell and
// nothing has woken it since.
bool surface_waits_for_storm(const model_state& ms) {
  const overland_state& ov = ms.overland;
  return ms.long_term && ov.dry_skip_pending && ms.ov_clock.next == ov.dry_skip_until;
}

// The network is at rest: no pipe passes more than the 1e-8 m3/s below which the solve counts no
// flow at its outfalls.
bool network_at_rest(const superlink_state& sl, const channel_state& ch) {
  for (int s = 1; s <= ch.superlink_count; ++s)
    for (int i = 1; i <= sl.num_nodes[s]; ++i)
      if (!(std::fabs(sl.Q[i][s]) <= 1e-8)) return false;
  return true;
}

// A network that waited with the surface runs again as soon as the surface does (water appeared
// on it, or the storm began): from this pass on, over one interval, as when it waited.
void resume_waiting_network(model_state& ms) {
  superlink_state& sl = ms.superlink;
  if (!sl.parked) return;
  // The surface may have woken and jumped again within this pass: its jumps count it.
  if (surface_waits_for_storm(ms) && ms.ov_clock.next == sl.parked_until &&
      ms.overland.dry_skip_count == sl.parked_skips)
    return;
  sl.parked = 0;
  process_clock& clock = ms.superlink_clock;
  if (clock.next > ms.current_time + ms.time_tolerance) {
    clock.next = ms.current_time;
    clock.last = ms.current_time - clock.interval_days;
  }
}

// What the network did in a dry spell moves the schedules. Water it put back on the cells is
// routed from the next pass on, not left standing until the next storm. A network that has
// come to rest (nothing came in, nothing moves) and does not drain the aquifer waits with the
// surface for the next storm rather than stepping through the spell: with no inflow its water
// would barely move, and what it holds stays booked as stored until the storm wakes it.
void follow_dry_spell(model_state& ms, double spilled) {
  superlink_state& sl = ms.superlink;
  channel_state& ch = ms.channel;
  const double now = ms.current_time;
  if (spilled > 0.0 && surface_waits_for_storm(ms))
    wake_surface_schedules_at(ms, now + ms.ov_clock.interval_days);
  if (!surface_waits_for_storm(ms) || ch.superlink_leaky || spilled > 0.0) return;
  process_clock& clock = ms.superlink_clock;
  const double wait_until = ms.ov_clock.next;
  if (!(wait_until > clock.next + ms.time_tolerance)) return;
  if (sl.call_inflow > 0.0 || !network_at_rest(sl, ch)) return;
  clock.next = wait_until;
  clock.last = wait_until - clock.interval_days;
  sl.parked = 1;
  sl.parked_until = wait_until;
  sl.parked_skips = ms.overland.dry_skip_count;
}

// Water the pipes let out onto a channel node starts the channel's schedule when the channel is
// not routing (a long-term run before its first storm, or a channel gone quiet between storms):
// it is routed from the next pass on, step by step, rather than held at the node until the next
// storm wakes the channel and poured in at once. The channel constituents keep its schedule.
void start_quiet_channel(model_state& ms) {
  const superlink_state& sl = ms.superlink;
  if (!sl.outlet_flag || !ms.channel.chan_explic) return;
  process_clock& clock = ms.chan_clock;
  const double now = ms.current_time;
  if (!(clock.next > now + clock.interval_days + ms.time_tolerance)) return;
  clock.last = now;
  clock.next = now + clock.interval_days;
  transport_state& tr = ms.transport;
  if (tr.chan_con_trans) {
    tr.chan_con_clock.last = clock.last;
    tr.chan_con_clock.next = clock.next;
  }
}

}  // namespace

void superlink_setup(model_state& ms) {
  channel_state& ch = ms.channel;
  superlink_state& sl = ms.superlink;
  if (!ch.storm_sewer || ch.superlink_count < 1) return;
  series_outputs_state& so = ms.output.series;
  const int rows = sl.node_rows;
  if (!superlink_solve_init(sl, ch) || !sl.flow_magnitude.allocate(ms.cell_count) ||
      !so.superlink_segments.allocate(ch.superlink_count) ||
      !so.superjunction_flow.allocate(ch.superlink_junction_count) ||
      !so.superlink_flow.allocate(rows, ch.superlink_count) ||
      !so.superlink_head.allocate(rows, ch.superlink_count)) {
    raw_report_alloc_failure("superlink work arrays");
    stop_now();
    return;
  }
  if (!sl.superlink_chan_con_link.allocate(ch.superlink_junction_count) ||
      !sl.superlink_chan_con_node.allocate(ch.superlink_junction_count)) {
    raw_report_alloc_failure("superlink_chan_con_link");
    stop_now();
    return;
  }
  ms.output.totals.run_vol_drain_init = sl.init_storage;
  copy_series(ms);
}

void superlink_step(model_state& ms) {
  channel_state& ch = ms.channel;
  superlink_state& sl = ms.superlink;
  if (!ch.storm_sewer || !sl.allocated) return;
  process_clock& clock = ms.superlink_clock;
  resume_waiting_network(ms);
  if (!(std::fabs(clock.next - ms.current_time) < ms.time_tolerance)) return;
  const double dt = (ms.current_time - clock.last) * seconds_per_day;

  // What flows over each cell: the node inlets take water only where it moves.
  overland_state& ov = ms.overland;
  const bool fluxes =
      ov.ov_flux_x.count() >= ms.cell_count && ov.ov_flux_y.count() >= ms.cell_count;
  for (int cell = 1; cell <= ms.cell_count; ++cell)
    sl.flow_magnitude[cell] = fluxes ? std::hypot(ov.ov_flux_x[cell], ov.ov_flux_y[cell]) : 0.0;
  if (ch.superlink_leaky && !ch.superlink_tile_flow.empty())
    std::fill(ch.superlink_tile_flow.data(),
              ch.superlink_tile_flow.data() + ch.superlink_tile_flow.element_count(), 0.0);
  if (ch.superlink_leaky && ms.subsurface.gw_simulation && ms.groundwater.ready) {
    drain_aquifer_into_tiles(ms, dt);
    if (run_error.error_fatal) return;
  }

  superlink_surface surface;
  surface.ov_depth = ov.ov_depth.data();
  surface.flow_magnitude = sl.flow_magnitude.data();
  surface.cell_area = ms.gridsize * ms.gridsize;
  surface.high_head_release = ch.high_head_release;
  double spilled = 0.0;
  if (superlink_solve(sl, ch, surface, dt, spilled) < 0) return;
  if (dt > 0.0) write_flows_line(sl, dt);
  ++sl.call_count;

  run_totals& t = ms.output.totals;
  t.run_vol_ov_to_drain += sl.call_inflow - sl.call_tile_inflow;
  t.run_vol_gw_to_tile += sl.call_tile_inflow;
  t.run_vol_drain_to_ov += spilled;
  for (int j = 1; j <= ch.superlink_junction_count; ++j) {
    t.run_vol_drain_lost += sl.superlink_lost_outflow[j];
    sl.superlink_lost_outflow[j] = 0.0;
  }
  t.run_vol_drain_made += sl.clip_volume;
  sl.clip_volume = 0.0;
  t.run_vol_drain_final = sl.storage;
  if (spilled > 0.0) ov.ov_any_depth = 1;
  copy_series(ms);

  clock.last = ms.current_time;
  clock.next = ms.current_time + clock.interval_days;
  start_quiet_channel(ms);
  follow_dry_spell(ms, spilled);
}

double superlink_deliver_to_channel(model_state& ms, double dt) {
  superlink_state& sl = ms.superlink;
  channel_state& ch = ms.channel;
  if (!ch.storm_sewer || sl.superlink_chan_outflow.empty() || sl.superlink_chan_con_link.empty() ||
      !(dt > 0.0))
    return 0.0;
  double total = 0.0;
  for (int j = 1; j <= ch.superlink_junction_count; ++j) {
    const int link = sl.superlink_chan_con_link[j];
    const int node = sl.superlink_chan_con_node[j];
    const double volume = sl.superlink_chan_outflow[j];
    if (link < 1 || volume == 0.0) continue;
    ch.qlat(link, node) += volume / dt / ch.dx[link];
    total += volume;
    sl.superlink_chan_outflow[j] = 0.0;
  }
  return total;
}
