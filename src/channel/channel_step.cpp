// The channel network's step of the time loop (after the overland lakes, before the channel
// point sources): the lateral exchange between stream cells and channel nodes, the routing of
// the network, the erodible links' highest stages, the outlet and lateral totals of the run, and
// the choice of the next channel time with the nearly-dry fall-back of long-term runs.
#include "channel/channel_step.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "calibration/calibration_steps.h"
#include "channel/channel_lakes.h"
#include "channel/channel_routing.h"
#include "channel/channel_steps.h"
#include "channel/lake_bed_seepage.h"
#include "channel/lake_pumps.h"
#include "channel/link_flows.h"
#include "channel/sections.h"
#include "framework/core/error_state.h"
#include "framework/core/parallel_team.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "subsurface/sacramento_steps.h"
#include "transport/transport_steps.h"

namespace {

// The broad-crested weir over both banks: discharge per metre of head^1.5 and of channel length.
constexpr double bank_weir_coefficient = 3.40978982734;

double weir_law(double w, double h) {
  return h > 0.0 ? bank_weir_coefficient * w * h * std::sqrt(h) : 0.0;
}

double manning_law(double inv_n, double w, double h, double level_difference, double grid) {
  if (!(h > 0.0)) return 0.0;
  return inv_n * std::cbrt(h * h) * h * w * std::sqrt(std::fabs(level_difference) / grid);
}

// The flow area of a node whose water surface is lowered by `drop`, found through the node's own
// section; the node's level, depth and section are put back afterwards. False after a fault of
// the section (reported).
bool area_below(model_state& ms, int link, int node, double drop, double& lowered_area) {
  channel_state& ch = ms.channel;
  const double level = ch.yp(link, node);
  ch.yp(link, node) = level - drop;
  ch.chan_depth(link, node) = ch.yp(link, node) - ch.bel(link, node);
  const bool ok = section_from_stage(ms, link, node);
  lowered_area = ch.area(link, node);
  ch.yp(link, node) = level;
  ch.chan_depth(link, node) = level - ch.bel(link, node);
  return ok && section_from_stage(ms, link, node);
}

// What is wrong with a grid-stream entry, if anything: its link outside the network, its node
// outside the link's nodes or its cell outside the grid.
enum class entry_fault { none, link, node, cell };

// The nodes of a link an entry may name: a rising lake lowers a link's node count, and the
// nodes it holds stay nodes of the link.
int entry_nodes(const model_state& ms, int link) {
  const channel_state& ch = ms.channel;
  return ms.perennial_lakes && !ch.og_nx1.empty() ? ch.og_nx1[link] : ch.nx[link];
}

entry_fault entry_check(const model_state& ms, int link, int node, int cell) {
  const channel_state& ch = ms.channel;
  if (link < 1 || link > ch.chan_link_count) return entry_fault::link;
  if (node < 1 || node > entry_nodes(ms, link) || node > ch.area.node_count(link))
    return entry_fault::node;
  if (cell < 1 || cell > ms.cell_count) return entry_fault::cell;
  return entry_fault::none;
}

// A grid-stream entry the exchange can reach: its link among the network's, its node among the
// link's nodes and its cell among the grid's. Prints the fault naming the entry otherwise.
bool entry_in_network(const model_state& ms, int stream_cell, int entry, int link, int node,
                      int cell) {
  switch (entry_check(ms, link, node, cell)) {
    case entry_fault::none:
      return true;
    case entry_fault::link:
      printf(
          "Error: stream cell %d, entry %d of the grid-stream table names link %d, which is not "
          "a link of the channel network (1 to %d).\n",
          stream_cell, entry, link, ms.channel.chan_link_count);
      return false;
    case entry_fault::node:
      printf(
          "Error: stream cell %d, entry %d of the grid-stream table names node %d of link %d, "
          "which has nodes 1 to %d.\n",
          stream_cell, entry, node, link, entry_nodes(ms, link));
      return false;
    case entry_fault::cell:
      printf(
          "Error: stream cell %d, entry %d of the grid-stream table names cell %d, which is not "
          "a cell of the watershed (1 to %d).\n",
          stream_cell, entry, cell, ms.cell_count);
      return false;
  }
  return false;
}

// Channel water of the routed links (m3): flow area times node spacing over nodes 1..nx of
// every link that is neither a lake, a structure nor captured by a lake. Links or nodes the
// arrays do not hold count nothing.
double routed_channel_volume(const channel_state& ch) {
  double sum = 0.0;
  const int links = std::min(
      {ch.chan_link_count, ch.ltype.count(), ch.nx.count(), ch.dx.count(), ch.area.link_count()});
  for (int link = 1; link <= links; ++link) {
    if (!link_is_routed(ch.ltype[link])) continue;
    const double* a = ch.area.link_nodes(link);
    const int nodes = std::min(ch.nx[link], ch.area.node_count(link));
    double v = 0.0;
    for (int j = 1; j <= nodes; ++j) v += a[j];
    sum += v * ch.dx[link];
  }
  return sum;
}

// The nearly-dry test of long-term runs: a channel that holds almost none of the event's rain and
// passes almost nothing at the outlet returns to the overland schedule until another step sets
// chan_active again, unless its beds still pass water (groundwater feeds it, or its stream beds
// take its water).
void nearly_dry_schedule(model_state& ms) {
  channel_state& ch = ms.channel;
  const overland_state& ov = ms.overland;
  if (ov.ov_end_checks_off > 0) ch.dry_step_count = 0;
  if (!ms.long_term || ov.ov_any_flux || ov.ov_end_checks_off) return;
  if (ch.dry_step_count == 0 || ch.chan_gw_status == 0) ch.chan_volume = routed_channel_volume(ch);
  if (!(ch.chan_volume < 0.01 * ms.event_rain_vol || ms.event_rain_vol == 0.0)) return;
  ++ch.dry_step_count;
  if (ch.chan_gw_status == 1) {
    // Groundwater feeds the channel: it keeps routing, at the groundwater's pace.
    double step = ms.gw_clock.interval_seconds;
    while (step > 60.0) step *= 0.5;
    ms.chan_clock.interval_seconds = step;
    ms.chan_clock.interval_days = step / seconds_per_day;
    ms.chan_clock.next = ms.current_time + ms.chan_clock.interval_days;
  } else if (ch.chan_gw_status == 2 && ch.stream_loss) {
    // The beds still take the channel's water: it keeps routing on its own schedule, so that
    // the water it holds goes on seeping (and flowing) until the beds have nothing left to pass.
  } else if (ov.ov_step_outflow < 1e-6) {
    ms.chan_clock.interval_days = ms.ov_clock.interval_days;
    ms.chan_clock.next = ms.ov_clock.next;
    ch.chan_active = 0;
  }
}

// The highest stage of every node of the erodible break-point links, kept for their bed update.
void track_node_maxima(channel_state& ch) {
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if ((ch.ltype[link] & 8) == 0 || (ch.ltype[link] & 2) == 0) continue;
    const int row = ch.bplink[link];
    if (row < 1 || row > ch.erodible_bp_links || ch.max_yp.empty()) continue;
    const double* yp = ch.yp.link_nodes(link);
    double* highest = ch.max_yp[row];
    const int n = std::min(ch.nx[link], ch.max_nodes);
    team_for(team_size(n), 1, n, [&](int j) { highest[j] = std::max(highest[j], yp[j]); });
  }
}

// The highest stage every node of the network has reached in the run, for the stream flood
// output written when the run ends.
void track_flood_maxima(channel_state& ch) {
  if (ch.yp_max_flood.empty() || ch.yp.empty()) return;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    const double* yp = ch.yp.link_nodes(link);
    double* highest = ch.yp_max_flood.link_nodes(link);
    const int n = std::min(ch.yp.node_count(link), ch.yp_max_flood.node_count(link));
    team_for(team_size(n), 1, n, [&](int j) { highest[j] = std::max(highest[j], yp[j]); });
  }
}

// The water the lakes took in and gave out since the last booking goes to the run's lake totals.
void book_lake_exchange(model_state& ms) {
  channel_state& ch = ms.channel;
  run_totals& t = ms.output.totals;
  for (int lake = 1; lake <= ch.num_lakes; ++lake) {
    t.run_vol_into_lakes += ch.lake_in_dv[lake];
    t.run_vol_from_lakes += ch.lake_out_dv[lake];
    ch.lake_in_dv[lake] = 0.0;
    ch.lake_out_dv[lake] = 0.0;
  }
}

}  // namespace

lateral_rate lateral_exchange_rate(const exchange_cell& cell, const exchange_node& node,
                                   const exchange_rules& rules) {
  const double d = cell.depth;
  const double z = cell.elev;
  const double surface = d + z;
  const double bel = node.bed;
  const double bank = node.bank;
  const double y = node.level;
  const double w = node.width;
  const double g = rules.grid;
  lateral_rate r;
  if (rules.overbank && y > z && z > bel) {
    if (bank > surface && y > bank) {
      r.into_channel = false;
      r.drop = y - bank;
      r.q = weir_law(w, r.drop);
    } else if (surface > bank && y > surface) {
      r.into_channel = false;
      r.drop = y - z;
      r.q = manning_law(cell.inv_n, w, (d + (y - z)) / 2.0, y - surface, g);
    } else {
      r.q = manning_law(cell.inv_n, w, d, y - surface, g);
    }
  } else if (rules.backwater && y > z && z > bel) {
    if (surface > y && surface > bank) r.q = manning_law(cell.inv_n, w, d, y - surface, g);
  } else {
    r.q = weir_law(w, d);
  }
  return r;
}

void take_from_cell(double& depth, double& q, double cell_area, double dt) {
  if (depth * cell_area - q * dt < 1e-16) {
    // The cell empties into the channel in this step.
    q = depth * cell_area / dt;
    depth = 0.0;
  } else {
    depth -= q * dt / cell_area;
  }
}

void give_to_cell(double& depth, double& q, double elev, double level, double available,
                  double cell_area, double dt) {
  // At most one hundredth of the water above the lowered surface leaves in one step.
  if (!(available > 0.0))
    q = 0.0;
  else if ((available - q * dt) / available < 0.99)
    q = 0.01 * available / dt;
  q = -q;
  depth += -q * dt / cell_area;
  // Water that would stand higher on the cell than in the channel stays in the channel: the
  // two surfaces meet, and the node gives up that much less.
  if (depth + elev > level) {
    const double excess = (depth + elev - level) * cell_area;
    depth -= excess / cell_area;
    q += excess / dt;
  }
}

double channel_stored_volume(const model_state& ms) {
  return routed_channel_volume(ms.channel);
}

namespace {

// The discharge between the stream cell c's entry k (node `node` of `link`, grid cell `cell`)
// and its cell over dt, positive into the channel: the cell's depth gives or takes its share.
// False after a fault of the node's section (reported).
bool entry_exchange(model_state& ms, int c, int k, int link, int node, int cell, double dt,
                    double& q) {
  channel_state& ch = ms.channel;
  double& d = ms.overland.ov_depth[cell];
  const exchange_cell side{d, ms.cell_elev[cell], 1.0 / ms.overland.ov_roughness[cell]};
  const double dx = ch.dx[link];
  const exchange_node bank{ch.bel(link, node), ch.bel(link, node) + ch.bankfull_dep(link, node),
                           ch.yp(link, node), ch.gst_pct[c][k] * dx};
  const exchange_rules rules{ch.overbank_flow != 0, ch.overland_backwater != 0, ms.gridsize};
  const lateral_rate rate = lateral_exchange_rate(side, bank, rules);
  if (rate.into_channel) {
    q = rate.q;
    take_from_cell(d, q, ms.gridsize * ms.gridsize, dt);
    return true;
  }
  double lowered = 0.0;
  if (!area_below(ms, link, node, rate.drop, lowered)) return false;
  const double available = (ch.area(link, node) - lowered) * dx * ch.gst_pct[c][k];
  q = rate.q;
  give_to_cell(d, q, side.elev, bank.level, available, ms.gridsize * ms.gridsize, dt);
  return true;
}

// An entry that exchanges nothing: a structure, lake or captured link, or, with channel lakes,
// a cell a lake holds or a node a lake has taken.
bool entry_passed_over(const model_state& ms, int link, int node, int cell) {
  const channel_state& ch = ms.channel;
  const int type = ch.ltype[link];
  if (link_is_structure(type) || link_is_lake(type) || link_is_captured(type)) return true;
  return ms.perennial_lakes &&
         ((!ch.lake_mask.empty() && ch.lake_mask[cell] > 0) || node > ch.nx[link]);
}

}  // namespace

bool chan_lateral_exchange_setup(model_state& ms) {
  channel_state& ch = ms.channel;
  ch.gst_rows_own_cells = 0;
  const int cells = ch.gst_stream_cells;
  const int width = ch.gst_width;
  if (cells < 1 || width < 1 || ms.cell_count < 1) return true;
  std::vector<char> taken(static_cast<std::size_t>(ms.cell_count) + 1, 0);
  for (int c = 1; c <= cells; ++c) {
    const int n = ch.gst_ncellsingrid[c];
    if (n < 1) continue;
    if (n > width) return true;
    const int cell = ch.gst_gnum[c][1];
    if (cell < 1 || cell > ms.cell_count || taken[cell]) return true;
    for (int k = 2; k <= n; ++k)
      if (ch.gst_gnum[c][k] != cell) return true;
    taken[cell] = 1;
  }
  if (!ch.gst_lateral_q.allocate(cells, width)) {
    raw_report_alloc_failure("gst_lateral_q");
    return false;
  }
  ch.gst_rows_own_cells = 1;
  return true;
}

double chan_lateral_inflow(model_state& ms, double dt) {
  channel_state& ch = ms.channel;
  double total = 0.0;
  int last_link = 0;
  int last_node = 0;
  // Each stream cell moves only its own cell's water into (or out of) nodes whose state the
  // exchange only reads, unless channel water goes over the banks or lakes hold cells or nodes:
  // then the stream cells may exchange in parallel, and their discharges are booked after.
  const bool parallel = ch.gst_rows_own_cells && !ch.overbank_flow && !ms.perennial_lakes &&
                        ch.gst_stream_cells >= chan_lateral_parallel_min_stream_cells &&
                        ch.gst_lateral_q.row_count() >= ch.gst_stream_cells;
  if (parallel) {
#pragma omp parallel for schedule(static) num_threads(team_size(ch.gst_stream_cells))
    for (int c = 1; c <= ch.gst_stream_cells; ++c) {
      if (ch.gst_ncellsingrid[c] > ch.gst_width) continue;
      for (int k = 1; k <= ch.gst_ncellsingrid[c]; ++k) {
        const int link = ch.gst_link[c][k];
        const int node = ch.gst_node[c][k];
        const int cell = ch.gst_gnum[c][k];
        // A faulty entry stops its stream cell here; the booking below reports it.
        if (entry_check(ms, link, node, cell) != entry_fault::none) break;
        if (entry_passed_over(ms, link, node, cell)) continue;
        entry_exchange(ms, c, k, link, node, cell, dt, ch.gst_lateral_q[c][k]);
      }
    }
  }
  for (int c = 1; c <= ch.gst_stream_cells; ++c) {
    if (ch.gst_ncellsingrid[c] > ch.gst_width) {
      printf(
          "Error: stream cell %d of the grid-stream table has %d entries, more than the "
          "table's %d.\n",
          c, ch.gst_ncellsingrid[c], ch.gst_width);
      stop_now();
      return total;
    }
    for (int k = 1; k <= ch.gst_ncellsingrid[c]; ++k) {
      const int link = ch.gst_link[c][k];
      const int node = ch.gst_node[c][k];
      const int cell = ch.gst_gnum[c][k];
      if (!entry_in_network(ms, c, k, link, node, cell)) {
        stop_now();
        return total;
      }
      if (entry_passed_over(ms, link, node, cell)) continue;
      last_link = link;
      last_node = node;
      double q = 0.0;
      if (parallel)
        q = ch.gst_lateral_q[c][k];
      else if (!entry_exchange(ms, c, k, link, node, cell, dt, q))
        return total;
      ch.qlat(link, node) += q / ch.dx[link];
      // The constituents the lateral water carries are exchanged later, on their own schedule.
      if ((ms.transport.chan_con_trans || ms.transport.ov_con_trans) && !ch.gst_Vlat.empty())
        ch.gst_Vlat[c][k] += q * dt;
      total += q * dt;
    }
  }
  if (std::isnan(total))
    printf("lateral inflow for node %ld link %ld is not a number \n", static_cast<long>(last_node),
           static_cast<long>(last_link));
  return total;
}

namespace {

// The stream beds' seepage of the step, cell by cell, to the run's and the event's books: what
// groundwater gave the channels and what the channels gave the ground. With the aquifer
// simulated each cell's volume then waits for the groundwater step to take it; otherwise the
// water lost went into the ground below the bed and left the run's stores.
void book_cell_seepage(model_state& ms) {
  channel_state& ch = ms.channel;
  if (ch.cell_seepage.empty()) return;
  run_totals& t = ms.output.totals;
  event_budget& b = ms.output.budget;
  raw_array1d<double>& aquifer = ms.groundwater.chan_seepage;
  const int n = std::min(ms.cell_count, ch.cell_seepage.count());
  const bool to_aquifer = ms.subsurface.gw_simulation != 0 && aquifer.count() >= n;
  for (int c = 1; c <= n; ++c) {
    const double v = ch.cell_seepage[c];
    if (v == 0.0) continue;
    if (v > 0.0) {
      t.run_vol_gw_to_river += v;
      b.event_vol_gw_to_chan += v;
    } else {
      t.run_vol_river_to_gw -= v;
      b.event_vol_chan_to_gw -= v;
    }
    if (to_aquifer) aquifer[c] += v;
    ch.cell_seepage[c] = 0.0;
  }
}

}  // namespace

void channel_routing_step(model_state& ms) {
  channel_state& ch = ms.channel;
  process_clock& clock = ms.chan_clock;
  if (!(std::fabs(clock.next - ms.current_time) < ms.time_tolerance)) return;
  if (!ch.chan_explic) return;
  const double since_last = ms.current_time - clock.last;
  const double dt = since_last > 1e-6 ? since_last * seconds_per_day : clock.interval_seconds;

  if (ch.area_old.element_count() == ch.area.element_count())
    std::copy(ch.area.data(), ch.area.data() + ch.area.element_count(), ch.area_old.data());

  if (ms.overland.ov_any_depth || ch.overbank_flow) {
    const double lateral = chan_lateral_inflow(ms, dt);
    if (run_error.error_fatal) return;
    ch.chan_active = 1;
    ms.output.totals.run_vol_lateral += lateral;
  }
  // The pipe network's outlets feed their nodes.
  if (ch.storm_sewer) {
    const double piped = superlink_deliver_to_channel(ms, dt);
    if (piped != 0.0) {
      ch.chan_active = 1;
      ms.output.totals.run_vol_drain_to_chan += piped;
    }
  }
  // The Sacramento basin's inflow reaches the nodes whatever water stands on the cells.
  if (ms.subsurface.sacramento) {
    const double baseflow = sacramento_channel_inflow(ms, dt);
    if (baseflow > 0.0) {
      ch.chan_active = 1;
      ms.output.totals.run_vol_lateral += baseflow;
    }
  }

  const bool lakes = ms.perennial_lakes && ch.num_lakes > 0;
  if (lakes) {
    // The lakes always keep the channel routed; their extents follow their volumes, after the
    // lake pumps have taken their water.
    ch.chan_active = 1;
    lake_pumps_step(ms, dt);
    if (run_error.error_code != 0) return;
    book_lake_exchange(ms);
    lake_bed_seepage_step(ms, dt);
    lake_extent_view view = lake_view(ms);
    bool changed = false;
    if (!lake_adjust_cells(view, changed)) return;
    book_lake_exchange(ms);
  }

  // A held outlet keeps the channel routed; the water the boundary gives the outlet node (or
  // takes from it) to hold its head crosses the outlet, so it is booked against the outflow.
  double boundary_volume = 0.0;
  if (ch.head_bound) {
    ch.chan_active = 1;
    boundary_volume = hold_outlet_head(ms);
    if (run_error.error_fatal) return;
  }

  if (ch.chan_active) {
    // Routing before the first event (the pipes' water started the channel): the run's books
    // take the channels' water as it stood before this first move.
    if (ch.chan_route_calls == 0 && ms.event_number == 0)
      ms.output.totals.run_vol_chan_init = routed_channel_volume(ch);
    ++ch.chan_route_calls;
    double pipe_volume = 0.0;
    const int status = ex_flow_route(ms, dt, pipe_volume);
    if (status < 0 || run_error.error_fatal) return;
    ch.chan_outlet_volume -= boundary_volume;
    ch.chan_gw_status = status;
    const int last = ch.chan_link_count;
    const double outflow = ch.qp(last, ch.nx[last]);
    ms.overland.ov_step_outflow = outflow;
    ms.outlet_q = outflow;
    ms.output.totals.run_vol_drain_to_chan += pipe_volume;
  }
  book_cell_seepage(ms);

  track_node_maxima(ch);
  if (lakes) book_lake_exchange(ms);
  if (ms.output.flood_stream) track_flood_maxima(ch);
  // The sediment follows the water the step has moved.
  if (ms.transport.chan_sediment) {
    channel_sediment_step(ms, dt);
    if (run_error.error_fatal) return;
    book_sediment_results(ms, dt);
  }

  // The outlet totals: the event's (by difference over the event) and the run's.
  if (ch.chan_active) {
    ms.overland.ov_out_volume += ch.chan_outlet_volume;
    ms.overland.ov_out_volume_b += ch.chan_outlet_volume;
    ms.output.totals.run_vol_discharge += ch.chan_outlet_volume;
    ms.output.totals.run_vol_chan_source += ch.chan_source_volume;
    ch.chan_outlet_volume = 0.0;
    ch.chan_source_volume = 0.0;
  }

  if (!ch.qlat.empty()) std::fill(ch.qlat.data(), ch.qlat.data() + ch.qlat.element_count(), 0.0);

  clock.last = ms.current_time;
  clock.next = ms.current_time + clock.interval_days;
  ++ch.chan_step_count;
  nearly_dry_schedule(ms);
}
