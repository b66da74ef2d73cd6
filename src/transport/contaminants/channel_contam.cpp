// Dissolved constituents in the channel network: the set-up of the node tables and initial
// masses (init_channel_contaminants, at the end of the overland constituent set-up), the
// exchange with the overland water that the channel's lateral flow carries
// (ov_chan_contam_exchange, called by the overland constituent processes), the decay gathered on
// its own schedule (channel_contam_sources) and the routing that applies what was gathered and
// moves the constituents along the links (channel_lake_contam_routing), both steps of the time
// loop after the channel routing.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "framework/core/block_sum.h"
#include "framework/core/error_state.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "transport/contaminants/chan_contam.h"
#include "transport/contaminants/chan_contam_kernels.h"
#include "transport/contaminants/lake_contam.h"
#include "transport/contaminants/sed_contam.h"
#include "transport/transport_steps.h"

namespace {

constexpr double tiny = 1e-16;
// s: a pending amount is applied whole unless the routing step is shorter than its interval by
// more than this.
constexpr double share_tolerance = 0.5;

bool due(double next, const model_state& ms) {
  return std::fabs(next - ms.current_time) < ms.time_tolerance;
}

int flat(const transport_state& tr, int link, int node) {
  return link * tr.con_node_stride + node;
}

bool node_table(raw_array2d<double>& t, int rows, int cols, const char* name) {
  alloc_2d_double_named(rows, cols, t, name);
  return !t.empty();
}

bool work_array(raw_array1d<double>& a, int n, const char* name) {
  alloc_1d_double(a, n, name);
  return !a.empty();
}

chan_network_view network_view(model_state& ms) {
  channel_state& ch = ms.channel;
  chan_network_view n;
  n.links = ch.chan_link_count;
  n.stride = ms.transport.con_node_stride;
  n.ltype = ch.ltype.data();
  n.nx = ch.nx.data();
  n.ndep = ch.ndep.data();
  n.uslinks = ch.uslinks.row_table();
  n.dslink = ch.dslink.data();
  n.dx = ch.dx.data();
  n.area = &ch.area;
  n.area_old = &ch.area_old;
  n.face_volume = &ch.qp_vol;
  return n;
}

// The routing of constituent c works on the node tables themselves: the masses and
// concentrations it accepts are the tables' own (no copies in and out), and it reads the
// constituent's dispersion coefficients where they are kept.
chan_route_work route_work(transport_state& tr, int c) {
  chan_contam_tables& cc = tr.chan_contam;
  return {tr.chan_con_mass[c], tr.chan_con_conc[c], cc.start_mass.data(), cc.start_conc.data(),
          cc.cur_mass.data(),  cc.cur_conc.data(),  cc.it_mass.data(),    cc.it_conc.data(),
          cc.source.data(),    cc.chan_con_disp[c], cc.adv0.data(),       cc.adv_prev.data(),
          cc.adv.data(),       cc.disp0.data(),     cc.disp_prev.data(),  cc.disp.data(),
          cc.area_adt.data()};
}

// Calls visit(link, node, flat index) for every node of every routed link, links in order.
template <class Visit>
void routed_nodes(const model_state& ms, Visit visit) {
  const channel_state& ch = ms.channel;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if (!chan_link_routed(ch.ltype[link])) continue;
    for (int node = 1; node <= ch.nx[link]; ++node)
      visit(link, node, flat(ms.transport, link, node));
  }
}

// Numbers the routed nodes for routed_node_sum; called at the start of each channel constituent
// step, since a rising lake may capture links between steps.
void number_routed_nodes(model_state& ms) {
  chan_contam_tables& cc = ms.transport.chan_contam;
  cc.routed_count = chan_number_routed_nodes(network_view(ms), cc.routed_first.data());
}

// The sum over every node of every routed link of what visit(link, node, flat index) returns,
// in fixed blocks of nodes shared among the threads (each node visited by one thread) and
// their parts added in block order, so that the sum is the same bits on any number of threads.
// T is a double or a record of doubles with +=. The nodes are those number_routed_nodes
// numbered.
template <class T = double, class Visit>
T routed_node_sum(model_state& ms, const Visit& visit) {
  const chan_contam_tables& cc = ms.transport.chan_contam;
  return chan_routed_node_sum<T>(network_view(ms), cc.routed_first.data(), cc.routed_count, visit);
}

// What the node terms of one routing applied (g): the decayed mass and the net exchange with the
// ground through the stream bed (negative out of the channel).
struct node_terms {
  double decayed = 0.0;
  double ground = 0.0;
  double point = 0.0;  // net load of the point sources
  node_terms& operator+=(const node_terms& o) {
    decayed += o.decayed;
    ground += o.ground;
    point += o.point;
    return *this;
  }
};

// With stream loss: the water each node's bed passed since the last gathering carries the
// node's concentration with it when it leaves the channel; water coming up through the bed (a
// water table above it) brings none. The node's seepage volume starts again at 0.
void gather_stream_bed_exchange(model_state& ms) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  channel_state& ch = ms.channel;
  if (!ch.stream_loss || ch.seepage_vol.empty() || cc.chan_gw_mass.empty()) return;
  const double now = ms.current_time;
  if (cc.gw_last < tr.chan_con_clock.last - ms.time_tolerance) cc.gw_last = tr.chan_con_clock.last;
  cc.gw_interval = (now - cc.gw_last) * seconds_per_day;
  cc.gw_last = now;
  // Each node gathers only its own entries: the links are shared among the threads.
  const int links = ch.chan_link_count;
#pragma omp parallel for schedule(static) \
    num_threads(team_size(static_cast <long>(links) * tr.con_node_stride))
  for (int link = 1; link <= links; ++link) {
    const bool routed = chan_link_routed(ch.ltype[link]);
    for (int node = 1; node <= ch.seepage_vol.node_count(link); ++node) {
      double& volume = ch.seepage_vol(link, node);
      const double v = volume;
      volume = 0.0;
      if (!routed || node > ch.nx[link] || !(v < -tiny)) continue;
      const int k = flat(tr, link, node);
      for (int c = 1; c <= tr.num_contaminants; ++c) {
        if (tr.constituent_type[c] == 3) continue;
        cc.chan_gw_mass[c][k] += v * tr.chan_con_conc[c][k];
      }
    }
  }
}

// The loads of the channel point sources since the last gathering wait at their nodes: an inflow
// brings the mass the channel routing booked at the source's concentration, a withdrawal takes
// its water at the node's concentration.
void gather_point_loads(model_state& ms) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  chan_point_state& p = ms.channel.points;
  if (cc.chan_point_mass_flux.empty() || p.chan_point_mass.empty()) return;
  const int nc = std::min(tr.num_contaminants, p.chan_point_constituents);
  for (int k = 1; k <= p.chan_point_count; ++k) {
    const int address = p.chan_point_address[k];
    const int link = address / p.node_stride;
    const int node = address % p.node_stride;
    const int f = flat(tr, link, node);
    const double withdrawn = p.chan_point_withdrawn[k];
    p.chan_point_withdrawn[k] = 0.0;
    for (int c = 1; c <= nc; ++c) {
      double& brought = p.chan_point_mass[c][k];
      if (tr.constituent_type[c] != 3)
        cc.chan_point_mass_flux[c][f] += brought + withdrawn * tr.chan_con_conc[c][f];
      brought = 0.0;
    }
  }
}

// L/kg: the partition coefficient between the channel water and the wash load it carries, the
// same for every constituent.
constexpr double chan_soil_water_partition = 0.5;

// Shares the constituent c of every wet node between its water and the fine sediment of its
// wash load by linear equilibrium partitioning (the dissolved share 1 / (1 + S), the share bound
// to fine class k K Ck / (1 + S), S the sum of K Ck, Ck the class's sediment concentration in
// the node's water). A node without water keeps both phases as they are. Returns what the bound
// phase gave the water (g, negative: took from it).
double partition_channel_nodes(model_state& ms, int c) {
  transport_state& tr = ms.transport;
  sed_contam_tables& sc = tr.sed_contam;
  const channel_state& ch = ms.channel;
  if (!sc.chan_ready || tr.ov_sed == nullptr || c > sc.chan_bound.plane_count()) return 0.0;
  const ov_sediment_obj& sed = *tr.ov_sed;
  const double K = chan_soil_water_partition / 1.0e6;
  double** bound = sc.chan_bound.plane_table()[c];
  return routed_node_sum(ms, [&](int link, int node, int k) {
    const double water = ch.area(link, node) * ch.dx[link];
    if (!(water > tiny)) return 0.0;
    const long row = static_cast<long>(link) * tr.sed_node_stride + node;
    double total = tr.chan_con_mass[c][k];
    double s = 0.0;
    for (int i = 1; i <= sc.fine; ++i) {
      total += bound[row][i];
      s += K * sed.particle_density[sed.sed_class[i]] * tr.ch_wash_vol[row][i] / water;
    }
    const double dissolved = total / (1.0 + s);
    for (int i = 1; i <= sc.fine; ++i)
      bound[row][i] =
          dissolved * K * sed.particle_density[sed.sed_class[i]] * tr.ch_wash_vol[row][i] / water;
    const double released = dissolved - tr.chan_con_mass[c][k];
    tr.chan_con_mass[c][k] = dissolved;
    tr.chan_con_conc[c][k] = dissolved / water;
    return released;
  });
}

// Numbers the grid-stream table's entries in table order and groups those that share a channel
// node or a grid cell, directly or through other entries (see chan_contam_tables), so that the
// exchange with the overland water runs the groups in parallel, each in table order, and every
// cell and node sees its entries in the order one thread gives them. Once, at set-up (or at the
// first exchange when the table came later). False when the tables cannot be made.
bool group_exchange_entries(model_state& ms) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  const channel_state& ch = ms.channel;
  if (cc.exch_ready || ch.gst_Vlat.empty()) return true;
  int entries = 0;
  for (int s = 1; s <= ch.gst_stream_cells; ++s)
    entries += std::max(0, std::min(ch.gst_ncellsingrid[s], ch.gst_width));
  const int nc = tr.num_contaminants;
  if (entries >= 1) {
    alloc_1d_int(cc.exch_cell, entries, "exchange entries");
    alloc_1d_int(cc.exch_slot, entries, "exchange entries");
    alloc_1d_int(cc.exch_first, entries + 1, "exchange groups");
    alloc_1d_int(cc.exch_order, entries, "exchange groups");
    alloc_1d_int(cc.exch_acted, entries, "exchange entries");
    alloc_2d_double_named(nc, entries, cc.exch_moved, "exchange masses");
    if (cc.exch_cell.empty() || cc.exch_slot.empty() || cc.exch_first.empty() ||
        cc.exch_order.empty() || cc.exch_acted.empty() || cc.exch_moved.empty())
      return false;
  }
  // Entries joined through their nodes and cells: each set is held by its smallest entry.
  std::vector<int> parent(static_cast<std::size_t>(entries) + 1);
  auto root = [&](int i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  auto join = [&](int a, int b) {
    a = root(a);
    b = root(b);
    if (a != b) parent[std::max(a, b)] = std::min(a, b);
  };
  const int stride = tr.con_node_stride;
  std::vector<int> node_entry(static_cast<std::size_t>(ch.chan_link_count + 1) * stride, 0);
  std::vector<int> cell_entry(static_cast<std::size_t>(std::max(ms.cell_count, 0)) + 1, 0);
  int i = 0;
  for (int s = 1; s <= ch.gst_stream_cells; ++s) {
    for (int e = 1; e <= ch.gst_ncellsingrid[s] && e <= ch.gst_width; ++e) {
      ++i;
      cc.exch_cell[i] = s;
      cc.exch_slot[i] = e;
      parent[i] = i;
      const int link = ch.gst_link[s][e];
      const int node = ch.gst_node[s][e];
      const int cell = ch.gst_gnum[s][e];
      if (link >= 1 && link <= ch.chan_link_count && node >= 1 && node < stride) {
        int& first = node_entry[static_cast<std::size_t>(link) * stride + node];
        if (first == 0) first = i;
        join(i, first);
      }
      if (cell >= 1 && cell <= ms.cell_count) {
        int& first = cell_entry[static_cast<std::size_t>(cell)];
        if (first == 0) first = i;
        join(i, first);
      }
    }
  }
  // Groups in the order of their first entries, each group's entries in table order.
  std::vector<int> group(static_cast<std::size_t>(entries) + 1, 0);
  int groups = 0;
  for (int k = 1; k <= entries; ++k) {
    const int r = root(k);
    group[k] = r == k ? ++groups : group[r];
  }
  std::vector<int> size(static_cast<std::size_t>(groups) + 2, 0);
  for (int k = 1; k <= entries; ++k) ++size[group[k]];
  if (entries >= 1) {
    cc.exch_first[1] = 1;
    for (int g = 1; g <= groups; ++g) cc.exch_first[g + 1] = cc.exch_first[g] + size[g];
    std::vector<int> next(cc.exch_first.data(), cc.exch_first.data() + groups + 2);
    for (int k = 1; k <= entries; ++k) cc.exch_order[next[group[k]]++] = k;
  }
  cc.exch_entries = entries;
  cc.exch_groups = groups;
  cc.exch_ready = 1;
  return true;
}

}  // namespace

void alloc_channel_contaminants(model_state& ms) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  const channel_state& ch = ms.channel;
  if (!tr.chan_con_trans || !ch.chan_explic || tr.num_contaminants <= 0) return;
  if (!tr.chan_con_conc.empty()) return;  // made already
  // A structure passes the constituents from the ordinary links above it to the ordinary link
  // below it (or out of the network at the outlet), or into a channel lake below it; a lake's
  // outlet structure (the lake its one link above) gives the lake's water to an ordinary link, a
  // lake or out of the network. One that meets another structure cannot carry them.
  const bool lakes = ms.perennial_lakes && ch.num_lakes >= 1;
  auto ordinary_link = [&](int x) {
    return x >= 1 && x <= ch.chan_link_count && chan_link_routed(ch.ltype[x]);
  };
  auto lake_link = [&](int x) {
    return lakes && x >= 1 && x <= ch.chan_link_count && (ch.ltype[x] & (32 | 128)) != 0;
  };
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if ((ch.ltype[link] & 64) == 0) continue;
    const int down = ch.dslink[link];
    bool ordinary =
        (ch.ltype[link] & (32 | 128)) == 0 && (down == 0 || ordinary_link(down) || lake_link(down));
    bool from_lake = false;
    for (int u = 1; u <= ch.ndep[link]; ++u) {
      const int up = ch.uslinks[link][u];
      if (lake_link(up))
        from_lake = true;
      else if (!ordinary_link(up))
        ordinary = false;
    }
    if (from_lake && ch.ndep[link] != 1) ordinary = false;
    if (ordinary) continue;
    printf(
        "Error: channel contaminant transport through a hydraulic structure that does not lie "
        "between two ordinary channel links (the CHAN_CON_TRANS card; link %d of the channel "
        "file %s) is not supported by this version.\n",
        link, ms.input.names.channel_input);
    return stop_now();
  }
  const int nc = tr.num_contaminants;
  int stride = 1;
  for (int link = 1; link <= ch.chan_link_count; ++link)
    stride = std::max(stride, ch.nx1[link] + 1);
  tr.con_node_stride = stride;
  const int nodes = (ch.chan_link_count + 1) * stride + 1;
  if (!node_table(tr.chan_con_conc, nc, nodes, "chan_con_conc") ||
      !node_table(tr.chan_con_mass, nc, nodes, "chan_con_mass") ||
      !node_table(cc.chan_con_disp, nc, nodes, "chan_con_disp") ||
      !node_table(cc.chan_decay_coef, nc, nodes, "chan_decay_coef") ||
      !node_table(cc.chan_mass, nc, nodes, "chan_mass") ||
      !node_table(cc.chan_qlat_mass, nc, nodes, "chan_qlat_mass"))
    return stop_now();
  // The stream beds' exchange, gathered node by node by the channel routing.
  if (ch.stream_loss && (!node_table(cc.chan_gw_mass, nc, nodes, "chan_gw_mass") ||
                         !ms.channel.seepage_vol.allocate(ch.chan_link_count, ch.nx1.data())))
    return stop_now();
  // The channel point sources' loads, handed over by the channel routing.
  if (ms.input.names.chan_point_input[0] != '\0' &&
      (!node_table(cc.chan_point_mass_flux, nc, nodes, "chan_point_mass_flux") ||
       !work_array(cc.point_total, nc, "chan_point_total")))
    return stop_now();
  raw_array1d<double>* work[] = {&cc.start_mass, &cc.start_conc, &cc.cur_mass, &cc.cur_conc,
                                 &cc.it_mass,    &cc.it_conc,    &cc.source,   &cc.adv0,
                                 &cc.adv_prev,   &cc.adv,        &cc.disp0,    &cc.disp_prev,
                                 &cc.disp,       &cc.area_adt};
  for (raw_array1d<double>* a : work)
    if (!work_array(*a, nodes, "channel constituent work")) return stop_now();
  alloc_1d_int(cc.routed_first, ch.chan_link_count + 1, "routed_first");
  alloc_1d_int(cc.end_links, ch.chan_link_count + 1, "end_links");
  if (cc.routed_first.empty() || cc.end_links.empty()) return stop_now();
  if (!group_exchange_entries(ms)) return stop_now();
  raw_array1d<double>* totals[] = {&cc.init_total, &cc.qlat_total, &cc.decay_total,
                                   &cc.out_total,  &cc.restored,   &cc.gw_total};
  for (raw_array1d<double>* a : totals)
    if (!work_array(*a, nc, "channel constituent totals")) return stop_now();
}

void init_channel_contaminants(model_state& ms) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  const channel_state& ch = ms.channel;
  alloc_channel_contaminants(ms);
  if (run_error.error_fatal || tr.chan_con_conc.empty() || cc.ready) return;
  const int nc = tr.num_contaminants;

  // Every node of the routed links starts at INIT_CHAN_CONC where it holds water; the nutrient
  // species start from their own stream cards (nsm_assign_stream_constituents).
  const double decay = tr.chan_decay_coef / seconds_per_day;
  for (int c = 1; c <= nc; ++c) {
    const double init = tr.constituent_type[c] == 1 ? tr.init_chan_conc : 0.0;
    routed_nodes(ms, [&](int link, int node, int k) {
      cc.chan_decay_coef[c][k] = decay;
      cc.chan_con_disp[c][k] = tr.chan_disp_coef;
      const double a = ch.area(link, node);
      if (a > tiny) {
        tr.chan_con_conc[c][k] = init;
        tr.chan_con_mass[c][k] = init * a * ch.dx[link];
      }
      cc.init_total[c] += tr.chan_con_mass[c][k] / 1000.0;
    });
    tr.GLOBAL_MASS_INIT[c] += cc.init_total[c];
  }
  if (!init_lake_contaminants(ms)) return;
  cc.ready = 1;
}

namespace {

// Without channel constituents the water each stream cell gives its nodes takes the cell's
// concentration out of the plane into channel water that carries no constituents: the mass
// leaves the books there, booked as handed to the stream. Water coming back from the nodes
// brings none.
void ov_contam_to_untracked_channels(model_state& ms) {
  transport_state& tr = ms.transport;
  channel_state& ch = ms.channel;
  if (ch.gst_Vlat.empty() || tr.ov_contam_mass.empty()) return;
  const double area = ms.gridsize * ms.gridsize;
  for (int s = 1; s <= ch.gst_stream_cells; ++s) {
    for (int e = 1; e <= ch.gst_ncellsingrid[s] && e <= ch.gst_width; ++e) {
      double& volume = ch.gst_Vlat[s][e];
      const double v = volume;
      volume = 0.0;
      const int cell = ch.gst_gnum[s][e];
      if (!(v > tiny) || cell < 1 || cell > ms.cell_count) continue;
      const double depth = ms.overland.ov_depth[cell];
      for (int c = 1; c <= tr.num_contaminants; ++c) {
        if (tr.constituent_type[c] == 3) continue;
        double& cell_mass = tr.ov_contam_mass[c][cell];
        const double moved = std::min(v * tr.ov_contam_conc[c][cell], std::max(cell_mass, 0.0));
        cell_mass -= moved;
        if (depth > tiny) tr.ov_contam_conc[c][cell] = cell_mass / (depth * area);
        tr.OV_QLAT_MASS[c] += moved / 1000.0;
        tr.event_ov_qlat_mass[c] += moved / 1000.0;
      }
    }
  }
}

}  // namespace

void ov_chan_contam_exchange(model_state& ms) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  channel_state& ch = ms.channel;
  if (!cc.ready) {
    if (!tr.chan_con_trans) ov_contam_to_untracked_channels(ms);
    return;
  }
  if (!cc.clocks_ready) {
    cc.lateral_last = tr.ov_con_clock.last;
    cc.decay_last = tr.chan_con_clock.last;
    cc.decay_next = tr.chan_con_clock.next;
    cc.gw_last = tr.chan_con_clock.last;
    cc.clocks_ready = 1;
  }
  if (cc.lateral_last < tr.ov_con_clock.last - ms.time_tolerance)
    cc.lateral_last = tr.ov_con_clock.last;
  cc.lateral_interval = (ms.current_time - cc.lateral_last) * seconds_per_day;
  cc.lateral_last = ms.current_time;
  if (ch.gst_Vlat.empty()) return;
  if (!group_exchange_entries(ms)) {
    stop_now();
    return;
  }
  const int nc = tr.num_contaminants;
  const double area = ms.gridsize * ms.gridsize;
  // The water each stream cell gave its nodes since the last exchange carries the cell's
  // concentration into the node; water the node gave back carries the node's. The mass changes
  // hands at once, never more than the giving side holds. Entry (s, e) of the table; book(c,
  // moved) gets what it moved of each constituent; false when it moved nothing.
  auto exchange_entry = [&](int s, int e, const auto& book) __attribute__((always_inline)) {
    double& volume = ch.gst_Vlat[s][e];
    const double v = volume;
    volume = 0.0;
    if (!(std::fabs(v) > tiny)) return false;
    const int link = ch.gst_link[s][e];
    const int node = ch.gst_node[s][e];
    const int cell = ch.gst_gnum[s][e];
    // A stream cell under a channel lake gives its water to the lake, not to its node.
    if (link < 1 || link > ch.chan_link_count || !chan_link_routed(ch.ltype[link]) || node < 1 ||
        node > ch.nx[link] || cell < 1 || cell > ms.cell_count ||
        contam_lake_of_cell(ms, cell) != 0)
      return false;
    const int k = flat(tr, link, node);
    const double depth = ms.overland.ov_depth[cell];
    for (int c = 1; c <= nc; ++c) {
      if (tr.constituent_type[c] == 3) continue;
      double& cell_mass = tr.ov_contam_mass[c][cell];
      double moved = 0.0;
      if (v > 0.0) {
        moved = std::min(v * tr.ov_contam_conc[c][cell], std::max(cell_mass, 0.0));
        cell_mass -= moved;
        cc.chan_qlat_mass[c][k] += moved;
      } else {
        double& node_mass = tr.chan_con_mass[c][k];
        const double back = std::min(-v * tr.chan_con_conc[c][k], std::max(node_mass, 0.0));
        node_mass -= back;
        cell_mass += back;
        moved = -back;
      }
      if (depth > tiny) tr.ov_contam_conc[c][cell] = cell_mass / (depth * area);
      book(c, moved);
    }
    return true;
  };
  const int team = team_size(cc.exch_entries);
  if (team <= 1) {
    // One thread: the entries in table order, straight into the books.
    for (int s = 1; s <= ch.gst_stream_cells; ++s)
      for (int e = 1; e <= ch.gst_ncellsingrid[s] && e <= ch.gst_width; ++e)
        exchange_entry(s, e, [&](int c, double moved) {
          tr.OV_QLAT_MASS[c] += moved / 1000.0;
          tr.event_ov_qlat_mass[c] += moved / 1000.0;
          cc.qlat_total[c] += moved / 1000.0;
        });
    return;
  }
  // The groups of entries share no node and no cell: they are shared among the threads, each
  // group's entries in table order, and what each entry moved is kept for the books.
  const int groups = cc.exch_groups;
#pragma omp parallel for schedule(static) num_threads(team)
  for (int g = 1; g <= groups; ++g) {
    for (int q = cc.exch_first[g]; q < cc.exch_first[g + 1]; ++q) {
      const int i = cc.exch_order[q];
      cc.exch_acted[i] = exchange_entry(cc.exch_cell[i], cc.exch_slot[i],
                                        [&](int c, double moved) { cc.exch_moved[c][i] = moved; });
    }
  }
  // The books take what the entries moved in table order, as one thread gives it.
  for (int c = 1; c <= nc; ++c) {
    if (tr.constituent_type[c] == 3) continue;
    const double* moved = cc.exch_moved[c];
    double ov = tr.OV_QLAT_MASS[c], event = tr.event_ov_qlat_mass[c], total = cc.qlat_total[c];
    for (int i = 1; i <= cc.exch_entries; ++i) {
      if (cc.exch_acted[i] == 0) continue;
      ov += moved[i] / 1000.0;
      event += moved[i] / 1000.0;
      total += moved[i] / 1000.0;
    }
    tr.OV_QLAT_MASS[c] = ov;
    tr.event_ov_qlat_mass[c] = event;
    cc.qlat_total[c] = total;
  }
}

void channel_contam_sources(model_state& ms) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  const channel_state& ch = ms.channel;
  if (!cc.ready || !due(tr.chan_con_clock.next, ms)) return;
  const double now = ms.current_time;
  if (!cc.clocks_ready) {
    cc.lateral_last = tr.ov_con_clock.last;
    cc.decay_last = tr.chan_con_clock.last;
    cc.decay_next = tr.chan_con_clock.next;
    cc.gw_last = tr.chan_con_clock.last;
    cc.clocks_ready = 1;
  }
  number_routed_nodes(ms);
  gather_stream_bed_exchange(ms);
  gather_point_loads(ms);
  // Between two events the clock jumps to the next event's start: the decay starts again there.
  if (cc.decay_next < now - ms.time_tolerance) {
    cc.decay_last = tr.chan_con_clock.last;
    cc.decay_next = now;
  }
  if (!tr.contam.contam_table_read || !due(cc.decay_next, ms)) return;
  const double interval = (now - cc.decay_last) * seconds_per_day;
  lake_contam_decay(ms, interval);
  // Each node decays the mass that the smaller of its two flow areas of the step holds; one pass
  // over the nodes gathers every decaying constituent.
  const int nc = tr.num_contaminants;
  bool any = false;
  for (int c = 1; c <= nc; ++c) any = any || tr.constituent_type[c] == 1;
  if (any)
    routed_node_sum(ms, [&](int link, int node, int k) {
      const double water = std::min(ch.area(link, node), ch.area_old(link, node)) * ch.dx[link];
      if (water >= tiny)
        for (int c = 1; c <= nc; ++c)
          if (tr.constituent_type[c] == 1)
            cc.chan_mass[c][k] +=
                water * tr.chan_con_conc[c][k] * cc.chan_decay_coef[c][k] * interval;
      return 0.0;
    });
  cc.decay_interval = interval;
  cc.decay_last = now;
  cc.decay_next = now + tr.contam.kinetics_timestep_factor * ms.chan_clock.interval_days;
}

void channel_lake_contam_routing(model_state& ms) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  channel_state& ch = ms.channel;
  process_clock& clock = tr.chan_con_clock;
  if (!cc.ready || !due(clock.next, ms)) return;
  const double dt = (ms.current_time - clock.last) * seconds_per_day;
  number_routed_nodes(ms);
  chan_network_view net = network_view(ms);
  chan_lake_work lakes = lake_route_work(ms);
  if (lakes.count >= 1) net.lakes = &lakes;
  net.end_count = chan_network_ends(net, cc.end_links.data());
  net.end_links = cc.end_links.data();
  const bool decays = tr.contam.contam_table_read != 0;

  for (int c = 1; c <= tr.num_contaminants && dt > 0.0; ++c) {
    if (tr.constituent_type[c] == 3) continue;
    const bool table_kind = decays && tr.constituent_type[c] == 1;
    const bool ground = !cc.chan_gw_mass.empty();
    const bool points = !cc.chan_point_mass_flux.empty();
    lake_contam_prepare(ms, c, dt);
    // 1. Each node's net source from its pending amounts.
    const node_terms applied = routed_node_sum<node_terms>(ms, [&](int, int, int k) {
      const double m0 = tr.chan_con_mass[c][k];
      double m = m0;
      node_terms t;
      // A point load acts whole in the routing step it was gathered for; a withdrawal takes at
      // most what the node holds, and what it could not take is not owed later.
      if (points) {
        double& load = cc.chan_point_mass_flux[c][k];
        t.point = apply_pending_term(m, load, dt, 0.0, share_tolerance, 1.0);
        load = 0.0;
      }
      apply_pending_term(m, cc.chan_qlat_mass[c][k], dt, cc.lateral_interval, share_tolerance, 1.0);
      if (ground)
        t.ground =
            apply_pending_term(m, cc.chan_gw_mass[c][k], dt, cc.gw_interval, share_tolerance, 1.0);
      if (table_kind)
        t.decayed =
            apply_pending_term(m, cc.chan_mass[c][k], dt, cc.decay_interval, share_tolerance, -1.0);
      cc.source[k] = (m - m0) / dt;
      return t;
    });
    const double decayed = applied.decayed;

    // 2. Advection and dispersion along the links.
    double out = 0.0;
    double least = 0.0;
    if (chan_wq_route(net, route_work(tr, c), dt, out, &least) != 0) {
      printf("The channel water quality routing time step is getting really small\n");
      printf("less than 1/1000 of a second\n");
      printf("Program stopped.\n");
      stop_now();
      return;
    }

    // 3. A node the routing left slightly negative is emptied and the mass that takes is
    // booked; the nodes are looked at only when the routing left one below 0.
    const double restored = !(least < 0.0) ? 0.0 : routed_node_sum(ms, [&](int, int, int k) {
      double& m = tr.chan_con_mass[c][k];
      if (!(m < 0.0)) return 0.0;
      const double added = -m;
      m = 0.0;
      tr.chan_con_conc[c][k] = 0.0;
      return added;
    });

    // With sediment-bound constituents the water and the wash load share the node's constituent.
    if (tr.sed_contam.chan_ready && tr.constituent_type[c] == 1)
      tr.sed_contam.chan_released[c] += partition_channel_nodes(ms, c);

    // 4. The step's terms into the books (kg).
    cc.decay_total[c] += decayed / 1000.0;
    cc.out_total[c] += (out - lakes.out_of_network) / 1000.0;
    cc.restored[c] += restored / 1000.0;
    cc.gw_total[c] += applied.ground / 1000.0;
    if (points) {
      cc.point_total[c] += applied.point / 1000.0;
      tr.GLOBAL_POINT_SOURCE[c] += applied.point / 1000.0;
    }
    tr.GLOBAL_MASS_DECAY[c] += decayed / 1000.0;
    tr.GLOBAL_MASS_OUT[c] += out / 1000.0;
    lake_contam_finish(ms, c, lakes);
    // So do the lakes' water and their wash load.
    sed_contam_partition_lakes(ms, c);
  }
  lake_contam_end_routing(ms);

  // The face volumes were gathered for this routing: the next gathers its own.
  const int links = ch.qp_vol.link_count();
#pragma omp parallel for schedule(static) \
    num_threads(team_size(static_cast <long>(links) * tr.con_node_stride))
  for (int link = 1; link <= links; ++link) {
    double* v = ch.qp_vol.link_nodes(link);
    std::fill(v + 1, v + ch.qp_vol.node_count(link) + 1, 0.0);
  }
  clock.last = ms.current_time;
  clock.next = ms.chan_clock.next;
}
