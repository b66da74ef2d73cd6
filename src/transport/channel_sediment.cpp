// Channel sediment: the set-up of the channel sediment arrays and bed stocks at start-up, and the
// channel step's sediment pass, called by the channel routing step after its hydraulics. The
// sediment the overland step left in stream cells goes to their nodes; the sand classes move
// from node to node by the sand capacity of the flow over erodible beds, whose elevations follow
// what erodes and deposits; the fine classes travel with the water as wash load. Structures pass
// both on to the link below; channel lakes hold and settle the wash load, give it to the link
// below with their water, and keep the sand the channels bring.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "channel/channel_steps.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "transport/contaminants/sed_contam.h"
#include "transport/sediment_kernels.h"
#include "transport/transport_steps.h"

namespace {

constexpr int bit_erodible = 2, bit_trapezoid = 4, bit_breakpoint = 8, bit_lake = 32,
              bit_structure = 64, bit_captured = 128;

long flat(const transport_state& tr, int link, int node) {
  return static_cast<long>(link) * tr.sed_node_stride + node;
}

// The channel lakes whose sediment is carried: none without perennial lakes.
int lake_count(const model_state& ms) {
  return ms.perennial_lakes ? ms.channel.num_lakes : 0;
}

// A link the routing carries water through: not a lake, not a structure, not taken by a lake.
bool routed(const channel_state& ch, int link) {
  return (ch.ltype[link] & (bit_lake | bit_structure | bit_captured)) == 0 && ch.nx[link] >= 1;
}

// A rising lake holds nodes past the link's last routed node.
bool taken_nodes(const channel_state& ch, int link) {
  return ch.og_nx1.count() >= link && ch.nx[link] < ch.og_nx1[link];
}

bool erodible_trapezoid(const channel_state& ch, int link) {
  const int t = ch.ltype[link];
  return (t & bit_erodible) && (t & bit_trapezoid);
}

// An erodible link of surveyed break-point sections: each node keeps its own section and table.
bool erodible_breakpoint(const channel_state& ch, int link) {
  const int t = ch.ltype[link];
  return (t & bit_erodible) && (t & bit_breakpoint) && !(t & bit_trapezoid) &&
         ch.bplink.count() >= link && ch.bplink[link] >= 1 &&
         ch.bplink[link] <= ch.erodible_bp_links;
}

// A link whose bed gives and takes sand.
bool erodible_bed(const channel_state& ch, int link) {
  return erodible_trapezoid(ch, link) || erodible_breakpoint(ch, link);
}

// The sand stock under a node of an erodible break-point link: a layer of its erodible depth D
// under the whole span W of its section, (1 - porosity) x D x W x L. (The bank material above
// the lowest point is not counted: the bed may give no more than its erodible layer.)
double breakpoint_stock(const model_state& ms, int link, int node) {
  const channel_state& ch = ms.channel;
  const int bp = ch.bplink[link];
  const int pairs = ch.numpairs[ch.table_num(link, node)];
  if (pairs < 2) return 0.0;
  const double span = ch.xbp_lnn[bp][node][pairs] - ch.xbp_lnn[bp][node][1];
  return (1.0 - ms.transport.sediment.sed_porosity) * ch.max_eros(link, node) * span * ch.dx[link];
}

// The node's bed stock of sand: (1 - porosity) x erodible depth x bottom width x node spacing.
double bed_stock(const model_state& ms, int link, int node) {
  const channel_state& ch = ms.channel;
  return (1.0 - ms.transport.sediment.sed_porosity) * ch.max_eros(link, node) *
         ch.bottom(link, node) * ch.dx[link];
}

// The water volume of a node (m3).
double water_volume(const channel_state& ch, int link, int node) {
  return ch.area(link, node) * ch.dx[link];
}

// The friction slope at a node: the fall of the water surface to the next node or to the first
// node of the link below; into a lake, the fall to the lake's surface over twice the node
// spacing; into a structure, the slope of the node before; at the outlet, the fall of the bed
// between the last two nodes.
double friction_slope(const model_state& ms, int link, int node) {
  const channel_state& ch = ms.channel;
  const int n = ch.nx[link];
  auto surface = [&](int l, int j) { return ch.bel(l, j) + ch.chan_depth(l, j); };
  if (node < n) return std::fabs(surface(link, node) - surface(link, node + 1)) / ch.dx[link];
  const int ds = ch.dslink[link];
  if (ds >= 1 && ds <= ch.chan_link_count) {
    const int t = ch.ltype[ds];
    if (lake_count(ms) >= 1 && (taken_nodes(ch, link) || (t & (bit_lake | bit_captured)))) {
      const int lake = ch.lake2link[ds];
      if (lake >= 1 && lake <= lake_count(ms))
        return std::fabs(surface(link, node) - ch.lake_elev[lake]) / (2.0 * ch.dx[link]);
    }
    if (t & bit_structure) return n >= 2 ? friction_slope(ms, link, n - 1) : 0.0;
    if (ch.nx[ds] >= 1)
      return std::fabs(surface(link, node) - surface(ds, 1)) / (0.5 * (ch.dx[link] + ch.dx[ds]));
  }
  if (n >= 2) return std::fabs(ch.bel(link, n - 1) - ch.bel(link, n)) / ch.dx[link];
  return 0.0;
}

template <class T>
bool allocate_1d(raw_array1d<T>& a, int n, const char* name) {
  if (a.allocate(n)) return true;
  std::printf("Error allocating memory for variable %s\n", name);
  return false;
}

bool allocate_2d(raw_array2d<double>& a, int rows, int cols, const char* name) {
  if (a.allocate(rows, cols)) return true;
  std::printf("Error allocating memory for variable %s\n", name);
  return false;
}

// The lake a row stands for, 0 for a node row.
int lake_of_row(const model_state& ms, long row) {
  const int lake = static_cast<int>(row - ms.transport.lake_row0);
  return lake >= 1 && lake <= lake_count(ms) ? lake : 0;
}

// The row that takes what leaves the downstream end of link l: the first node of the link
// below (past any structures), the lake that holds the link below or the nodes past the link's
// last one, or 0 out of the network.
long row_below(const model_state& ms, int l) {
  const channel_state& ch = ms.channel;
  const transport_state& tr = ms.transport;
  const int links = ch.chan_link_count, lakes = lake_count(ms);
  auto lake_row = [&](int lake) -> long {
    return lake >= 1 && lake <= lakes ? tr.lake_row0 + lake : 0;
  };
  int d = ch.dslink[l];
  if (l >= 1 && l <= links && taken_nodes(ch, l) && d >= 1 && d <= links)
    return lake_row(ch.lake2link[d]);
  for (int hops = 0; hops <= links && d >= 1 && d <= links; ++hops) {
    const int t = ch.ltype[d];
    if ((t & bit_lake) || (t & bit_captured)) return lake_row(ch.lake2link[d]);
    if (t & bit_structure) {
      d = ch.dslink[d];
      continue;
    }
    return ch.nx[d] >= 1 ? flat(tr, d, 1) : 0;
  }
  return 0;
}

// The lake link of each lake.
int lake_link(const channel_state& ch, int lake) {
  for (int l = 1; l <= ch.chan_link_count; ++l)
    if ((ch.ltype[l] & bit_lake) && ch.lake2link[l] == lake) return l;
  return 0;
}

// Calls f(row, link, node) for every node of the routed links, then f(row, 0, lake) for every
// lake.
template <class F>
void each_row(const model_state& ms, F f) {
  const channel_state& ch = ms.channel;
  const transport_state& tr = ms.transport;
  for (int l = 1; l <= ch.chan_link_count; ++l) {
    if (!routed(ch, l)) continue;
    for (int j = 1; j <= ch.nx[l]; ++j) f(flat(tr, l, j), l, j);
  }
  for (int lake = 1; lake <= lake_count(ms); ++lake) f(tr.lake_row0 + lake, 0, lake);
}

// Rebuilds the routing order of the step: each row's receiving row and, per row, the rows that
// deliver to it. Lakes take and give back nodes as they rise and fall, so the order is built
// anew every step, in arrays sized at start-up.
void build_order(model_state& ms) {
  transport_state& tr = ms.transport;
  const channel_state& ch = ms.channel;
  const int rows = tr.sed_down.count();
  for (int r = 0; r <= rows; ++r) tr.sed_down[r] = 0;
  for (int r = 0; r <= rows + 1; ++r) tr.feed_start[r] = 0;
  each_row(ms, [&](long row, int l, int j) {
    long down = 0;
    if (l == 0)
      down = lake_link(ch, j) >= 1 ? row_below(ms, lake_link(ch, j)) : 0;
    else
      down = j < ch.nx[l] ? flat(tr, l, j + 1) : row_below(ms, l);
    tr.sed_down[row] = static_cast<int>(down);
    if (down != 0) ++tr.feed_start[down + 1];
  });
  for (int r = 1; r <= rows + 1; ++r) tr.feed_start[r] += tr.feed_start[r - 1];
  // feed_start[r] is now where the rows delivering to r begin; fill, then shift back.
  each_row(ms, [&](long row, int, int) {
    const int down = tr.sed_down[row];
    if (down != 0) tr.feed_list[tr.feed_start[down]++] = static_cast<int>(row);
  });
  for (int r = rows + 1; r >= 1; --r) tr.feed_start[r] = tr.feed_start[r - 1];
  tr.feed_start[0] = 0;
}

// The water volume the downstream face of a row passed in the step (m3), negative upstream: a
// node's discharge, or what the lake gives to the structure below it.
double face_volume(const model_state& ms, int l, int j, double dt) {
  const channel_state& ch = ms.channel;
  if (l != 0) return ch.qp(l, j) * dt;
  const int ll = lake_link(ch, j);
  const int s = ll >= 1 ? ch.dslink[ll] : 0;
  return s >= 1 && s <= ch.chan_link_count && ch.og_nx1.count() >= s && ch.nx1[s] >= 1
             ? ch.qp(s, 1) * dt
             : 0.0;
}

// The water a row holds (m3): a node's flow area times its spacing, or the lake's volume.
double row_water(const model_state& ms, int l, int j) {
  return l != 0 ? water_volume(ms.channel, l, j) : ms.channel.lake_volume[j];
}

// Whether a stream-cell entry hands nothing to its node: a structure, lake or captured link, a
// node a lake has taken, or (with channel lakes) a cell a lake holds. Its sediment stays on the
// cell, as its water does.
bool entry_passed_over(const model_state& ms, int link, int node, int cell) {
  const channel_state& ch = ms.channel;
  if (link < 1 || link > ch.chan_link_count || !routed(ch, link) || node < 1 || node > ch.nx[link])
    return true;
  return lake_count(ms) >= 1 && ch.lake_mask.count() >= cell && ch.lake_mask[cell] > 0;
}

// Hands the suspended and loose sediment of every stream cell to the node of its first entry.
bool hand_off_stream_cells(model_state& ms) {
  transport_state& tr = ms.transport;
  ov_sediment_obj& sed = *tr.ov_sed;
  const channel_state& ch = ms.channel;
  const int classes = sed.num_sed_classes;
  sed_contam_tables& sc = tr.sed_contam;
  const bool carry_bound = sc.chan_ready || sc.chan_untracked;
  const bound_payload bound = carry_bound ? sed_contam_payload(ms) : bound_payload{};
  for (int c = 1; c <= ch.gst_stream_cells; ++c) {
    if (ch.gst_ncellsingrid[c] < 1) continue;
    const int cell = ch.gst_gnum[c][1];
    const int link = ch.gst_link[c][1], node = ch.gst_node[c][1];
    if (entry_passed_over(ms, link, node, cell)) continue;
    const long f = flat(tr, link, node);
    for (int k = 1; k <= classes; ++k) {
      if (carry_bound) sc.handed_deposit[k] = sed.vol_sed[cell][k][3];
      const double m = sed.vol_sed[cell][k][2] + sed.vol_sed[cell][k][3];
      if (!std::isfinite(m)) {
        printf("qlat_sed is not a number, exiting.\n");
        stop_now();
        return false;
      }
      sed.vol_sed[cell][k][2] = 0.0;
      sed.vol_sed[cell][k][3] = 0.0;
      tr.qlat_sed[f][k] += m;
      tr.sed_to_chan[k] += m;
    }
    // The constituents bound to the cell's suspended fine sediment go into the node with it; the
    // loose deposit, whose settling gave its bound share to the cell's soil column, takes the
    // soil's sorbed share of its volume back up as erosion does.
    if (!carry_bound) continue;
    if (bound.bound != nullptr) bound_pickup(bound, cell, sc.handed_deposit.data());
    if (sc.chan_untracked) {
      // No channel constituents: what the sediment takes into the stream leaves the books.
      for (int c = 1; c <= sc.bound_mass.plane_count(); ++c) {
        for (int k = 1; k <= classes; ++k) {
          double& held = sc.bound_mass[c][cell][k];
          sc.to_channels[c] += held;
          held = 0.0;
        }
      }
      continue;
    }
    for (int c = 1; c <= sc.chan_bound.plane_count(); ++c) {
      for (int i = 1; i <= sc.fine; ++i) {
        double& held = sc.bound_mass[c][cell][sed.sed_class[i]];
        sc.chan_bound[c][f][i] += held;
        sc.to_channels[c] += held;
        held = 0.0;
      }
    }
  }
  return true;
}

// Every move of wash load takes the same share of its donor's bound constituents along: the
// face flux `flux` of each row (positive downstream, drawn from the row below when negative) out
// of the donor's volume at the step's start `vol`; what leaves through the outlet node is
// booked. The shares are taken from the masses at the start of the step (in the work table
// `moved`), so the order of the rows does not matter.
void move_bound_with_wash(model_state& ms, const raw_array2d<double>& flux,
                          const raw_array2d<double>& vol, raw_array2d<double>& moved) {
  transport_state& tr = ms.transport;
  sed_contam_tables& sc = tr.sed_contam;
  if (!sc.chan_ready) return;
  const int nfine = sc.fine;
  double* to_lakes = sc.chan_to_lakes.empty() ? nullptr : sc.chan_to_lakes.data();
  for (int c = 1; c <= sc.chan_bound.plane_count(); ++c) {
    double** bound = sc.chan_bound.plane_table()[c];
    each_row(ms, [&](long f, int, int) {
      const long down = tr.sed_down[f];
      for (int k = 1; k <= nfine; ++k) {
        const double v = flux[f][k];
        const long donor = v >= 0.0 ? f : down;
        double share = 0.0;
        if (donor != 0 && vol[donor][k] > 0.0) share = std::min(std::fabs(v) / vol[donor][k], 1.0);
        moved[f][k] = donor != 0 ? share * bound[donor][k] : 0.0;
      }
    });
    each_row(ms, [&](long f, int, int) {
      const long down = tr.sed_down[f];
      for (int k = 1; k <= nfine; ++k) {
        const double m = moved[f][k];
        if (m == 0.0) continue;
        const bool downstream = flux[f][k] >= 0.0;
        const long from = downstream ? f : down;
        const long to = downstream ? down : f;
        bound[from][k] -= m;
        if (to != 0)
          bound[to][k] += m;
        else
          sc.chan_outlet[c] += m;
        // The lakes' books take what crosses a lake's shore with the channels' wash load.
        if (to_lakes != nullptr) {
          const bool from_lake = lake_of_row(ms, from) != 0;
          const bool into_lake = to != 0 && lake_of_row(ms, to) != 0;
          if (into_lake && !from_lake) to_lakes[c] += m;
          if (from_lake && !into_lake) to_lakes[c] -= m;
        }
      }
    });
  }
}

// Nodes a rising lake has taken give their wash load and their moving sand to the lake; the bed
// stock stays under the node and comes back with it.
void hand_taken_nodes_to_lakes(model_state& ms) {
  transport_state& tr = ms.transport;
  const channel_state& ch = ms.channel;
  const int nfine = tr.num_fine_classes, nsand = tr.num_sand_classes;
  for (int l = 1; l <= ch.chan_link_count; ++l) {
    const int t = ch.ltype[l];
    if ((t & (bit_lake | bit_structure)) || !taken_nodes(ch, l)) continue;
    const int d = ch.dslink[l];
    if (d < 1 || d > ch.chan_link_count) continue;
    const int lake = ch.lake2link[d];
    if (lake < 1 || lake > lake_count(ms)) continue;
    const long lr = tr.lake_row0 + lake;
    for (int j = ch.nx[l] + 1; j <= ch.og_nx1[l]; ++j) {
      const long f = flat(tr, l, j);
      // The node's bound constituents go with its wash load.
      sed_contam_tables& sc = tr.sed_contam;
      if (sc.chan_ready)
        for (int c = 1; c <= sc.chan_bound.plane_count(); ++c)
          for (int k = 1; k <= nfine; ++k) {
            sc.chan_bound[c][lr][k] += sc.chan_bound[c][f][k];
            if (c <= sc.chan_to_lakes.count()) sc.chan_to_lakes[c] += sc.chan_bound[c][f][k];
            sc.chan_bound[c][f][k] = 0.0;
          }
      for (int k = 1; k <= nfine; ++k) {
        const double m = tr.ch_wash_vol[f][k];
        tr.ch_wash_vol[lr][k] += m;
        tr.wash_to_lakes += m;
        tr.lake_sed_books[lake][1] += m;
        tr.ch_wash_vol[f][k] = 0.0;
      }
      tr.ch_wash_vol[f][0] = 0.0;
      for (int i = 1; i <= nsand; ++i) {
        tr.ch_sand_vol[lr][i] += tr.ch_sand_vol[f][i];
        tr.ch_sand_vol[f][i] = 0.0;
      }
      tr.ch_sand_vol[f][0] = tr.ch_sand_vol[f][nsand + 1];
    }
  }
}

// Moves `volume` of sand from row `from` to row `to` (0: out of the network), mobile positions
// in class order before the bed stock; returns what each position gave through `given`.
void move_sand(transport_state& tr, long from, long to, double volume, double* given) {
  const int positions = tr.num_sand_classes + 1;
  double left = volume;
  for (int i = 1; i <= positions; ++i) {
    const double take = tr.ch_sand_vol[from][i] < left ? tr.ch_sand_vol[from][i] : left;
    given[i] = take;
    left -= take;
    tr.ch_sand_vol[from][i] -= take;
    // Bed stock moved on travels as mobile sand of the first sand class.
    const int into = i <= tr.num_sand_classes ? i : 1;
    if (to != 0) tr.ch_sand_vol[to][into] += take;
  }
}

void sand_step(model_state& ms, double dt) {
  transport_state& tr = ms.transport;
  channel_state& ch = ms.channel;
  const ov_sediment_obj& sed = *tr.ov_sed;
  const sediment_member& sm = tr.sediment;
  const int nfine = tr.num_fine_classes, nsand = tr.num_sand_classes;
  const double nu = sm.kin_viscosity, d = sm.sand_size / 1000.0;
  const double w = yang_fall_velocity(d, nu);
  const int links = ch.chan_link_count;
  // Lateral sand joins the node's store whether or not the node holds water, so that every
  // volume the overland plane handed over stays on the books.
  each_row(ms, [&](long f, int l, int) {
    if (l == 0) return;
    for (int i = 1; i <= nsand; ++i)
      tr.ch_sand_vol[f][i] += tr.qlat_sed[f][sed.sed_class[nfine + i]];
  });
  for (int l = 1; l <= links; ++l) {
    if (!routed(ch, l)) continue;
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      double cap = 0.0;
      const double y = ch.chan_depth(l, j);
      if (erodible_bed(ch, l) && y >= sed_tiny) {
        double area = 0.0, perim = 0.0;
        if (erodible_trapezoid(ch, l)) {
          const double b = ch.bottom(l, j), z = ch.sslope(l, j);
          area = z * y * y + b * y;
          perim = b + 2.0 * y * std::sqrt(1.0 + z * z);
        } else {
          const int t = ch.table_num(l, j);
          breakpoint_area_perimeter(ch.xarea.link_nodes(t), ch.xp.link_nodes(t), ch.ht_spc[t],
                                    ch.numhts[t], y, area, perim);
        }
        cap = yang_sand_capacity(ch.qp(l, j), area, perim, friction_slope(ms, l, j), d, nu, w);
        if (!std::isfinite(cap)) printf("bed load NaN\n");
      }
      tr.sand_capacity[f] = cap;
    }
  }
  double given[64] = {};
  for (int i = 0; i <= nsand + 1; ++i) tr.outlet_sand_flux[i] = 0.0;
  for (int l = 1; l <= links; ++l) {
    if (!routed(ch, l) || !erodible_bed(ch, l)) continue;
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      const double k = tr.sand_capacity[f];
      for (int i = 1; i <= nsand + 1; ++i) tr.qsmax[f][nfine + i] = 0.0;
      if (!(std::fabs(k) > sed_tiny)) continue;
      const long next = tr.sed_down[f];
      const int lake = lake_of_row(ms, next);
      if (k > 0.0) {
        move_sand(tr, f, next, k * dt, given);
        for (int i = 1; i <= nsand + 1; ++i) {
          tr.qsmax[f][nfine + i] = given[i] / dt;
          const int cls = sed.sed_class[nfine + (i <= nsand ? i : 1)];
          if (next == 0) {
            tr.outlet_sand_flux[i] = ch.qp(l, j) < 0.0 ? 0.0 : given[i] / dt;
            tr.sand_out[cls] += given[i];
          }
        }
      } else if (next != 0 && lake == 0) {
        // Sand is drawn back from the next node while it holds water; never out of a lake.
        const int nl = static_cast<int>(next / tr.sed_node_stride);
        const int nj = static_cast<int>(next - static_cast<long>(nl) * tr.sed_node_stride);
        if (ch.chan_depth(nl, nj) < sed_tiny) continue;
        move_sand(tr, next, f, -k * dt, given);
        for (int i = 1; i <= nsand + 1; ++i) tr.qsmax[f][nfine + i] = -given[i] / dt;
      }
    }
  }
  // Totals, and the beds of erodible trapezoidal links: they rise by a layer of what the node
  // gained over its start-up sand and fall by what it lost, never below its erodible depth.
  const double porosity = sm.sed_porosity;
  for (int l = 1; l <= links; ++l) {
    if (!routed(ch, l)) continue;
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      double total = 0.0;
      for (int i = 1; i <= nsand + 1; ++i) total += tr.ch_sand_vol[f][i];
      tr.ch_sand_vol[f][0] = total;
      if (erodible_breakpoint(ch, l)) {
        tr.bp_bed_change(l, j) = ch.ch_sand_vol0[ch.bplink[l]][j] - total;
        continue;
      }
      if (!erodible_trapezoid(ch, l)) continue;
      const double change = (total - tr.stock_start(l, j)) / (ch.dx[l] * (1.0 - porosity));
      ch.new_bel(l, j) = tr.org_bel(l, j) +
                         bed_rise(change, tr.org_bottom(l, j), ch.sslope(l, j), ch.max_eros(l, j));
    }
  }
  for (int lake = 1; lake <= lake_count(ms); ++lake) {
    const long lr = tr.lake_row0 + lake;
    double total = 0.0;
    for (int i = 1; i <= nsand + 1; ++i) total += tr.ch_sand_vol[lr][i];
    tr.ch_sand_vol[lr][0] = total;
  }
}

// The surveyed sections of the erodible break-point links take the sand their nodes gained or
// lost since they were last shaped: xsec_update moves their wet points and new_bel their lowest
// point; with ADJUST_CHANNEL_BED the node's section, bed and depth table follow. Each node's
// reference stock then becomes its present sand, so that a section is reshaped only by what
// eroded or deposited since.
bool reshape_breakpoint_sections(model_state& ms) {
  transport_state& tr = ms.transport;
  channel_state& ch = ms.channel;
  bool any = false;
  for (int l = 1; l <= ch.chan_link_count && !any; ++l)
    if (routed(ch, l) && erodible_breakpoint(ch, l))
      for (int j = 1; j <= ch.nx[l]; ++j) any = any || tr.bp_bed_change(l, j) != 0.0;
  if (!any) return true;
  xsec_update(ms, tr.bp_bed_change, tr.sediment.sed_porosity, tr.sediment.adjust_channel_bed);
  if (run_error.error_fatal) return false;
  for (int l = 1; l <= ch.chan_link_count; ++l) {
    if (!routed(ch, l) || !erodible_breakpoint(ch, l)) continue;
    for (int j = 1; j <= ch.nx[l]; ++j) {
      ch.ch_sand_vol0[ch.bplink[l]][j] -= tr.bp_bed_change(l, j);
      tr.bp_bed_change(l, j) = 0.0;
    }
  }
  return true;
}

// With ADJUST_CHANNEL_BED the beds of the erodible trapezoidal nodes move to their new
// elevations: a bed raised by d over the start-up section fills its trapezoid, whose bottom
// widens to b + 2 z d; a lowered bed keeps its bottom width. The node keeps its water: its depth
// and water-surface level follow from its flow area in the new section.
bool follow_beds(model_state& ms) {
  transport_state& tr = ms.transport;
  channel_state& ch = ms.channel;
  if (!reshape_breakpoint_sections(ms)) return false;
  if (!tr.sediment.adjust_channel_bed) return true;
  for (int l = 1; l <= ch.chan_link_count; ++l) {
    if (!routed(ch, l) || !erodible_trapezoid(ch, l)) continue;
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const double rise = ch.new_bel(l, j) - tr.org_bel(l, j);
      ch.bottom(l, j) = tr.org_bottom(l, j) + (rise > 0.0 ? 2.0 * ch.sslope(l, j) * rise : 0.0);
      ch.bel(l, j) = ch.new_bel(l, j);
    }
  }
  ex_section(ms, 1);
  return run_error.error_fatal == 0;
}

// Face fluxes of the wash load from the concentrations `conc` and the volumes `vol`: flux[r][k]
// crosses the downstream face of row r (positive downstream, drawn from the row below when
// negative), limited so that no row gives more than it holds.
void wash_fluxes(model_state& ms, double dt, raw_array2d<double>& conc, raw_array2d<double>& vol,
                 raw_array2d<double>& flux) {
  transport_state& tr = ms.transport;
  const int nfine = tr.num_fine_classes;
  each_row(ms, [&](long f, int l, int j) {
    const double v = face_volume(ms, l, j, dt);
    const long down = tr.sed_down[f];
    // No backflow through the outlet.
    const long donor = v >= 0.0 ? f : down;
    for (int k = 1; k <= nfine; ++k) flux[f][k] = donor == 0 ? 0.0 : conc[donor][k] * v;
  });
  // Each row gives at most what it holds: its downstream face and the faces it feeds upstream
  // (backflow) are cut in proportion.
  each_row(ms, [&](long f, int, int) {
    const int* feed = tr.feed_list.data();
    const int first = tr.feed_start[f], past = tr.feed_start[f + 1];
    for (int k = 1; k <= nfine; ++k) {
      double out = flux[f][k] > 0.0 ? flux[f][k] : 0.0;
      for (int n = first; n < past; ++n)
        if (flux[feed[n]][k] < 0.0) out -= flux[feed[n]][k];
      if (!(out > vol[f][k])) continue;
      const double scale = vol[f][k] > 0.0 ? vol[f][k] / out : 0.0;
      if (flux[f][k] > 0.0) flux[f][k] *= scale;
      for (int n = first; n < past; ++n)
        if (flux[feed[n]][k] < 0.0) flux[feed[n]][k] *= scale;
    }
  });
}

// Applies the face fluxes to the volumes and refreshes the volume concentrations. A row without
// water keeps its wash load (at concentration 0) until water comes to carry it.
void wash_apply(model_state& ms, raw_array2d<double>& flux, raw_array2d<double>& vol,
                raw_array2d<double>& conc) {
  transport_state& tr = ms.transport;
  const int nfine = tr.num_fine_classes;
  each_row(ms, [&](long f, int l, int j) {
    const double water = row_water(ms, l, j);
    const int* feed = tr.feed_list.data();
    const int first = tr.feed_start[f], past = tr.feed_start[f + 1];
    vol[f][0] = 0.0;
    conc[f][0] = 0.0;
    for (int k = 1; k <= nfine; ++k) {
      double in = 0.0;
      for (int n = first; n < past; ++n) in += flux[feed[n]][k];
      double v = vol[f][k] + in - flux[f][k];
      if (v < 0.0) v = 0.0;  // rounding only: no row gives more than it holds
      vol[f][k] = v;
      conc[f][k] = water > sed_tiny ? v / water : 0.0;
      vol[f][0] += v;
      conc[f][0] += conc[f][k];
    }
  });
}

// Settling in the channel lakes over the step: each fine class settles out of the water column
// at its settling velocity over the lake's surface.
void settle_lakes(model_state& ms, double dt) {
  transport_state& tr = ms.transport;
  const channel_state& ch = ms.channel;
  const ov_sediment_obj& sed = *tr.ov_sed;
  sed_contam_tables& sc = tr.sed_contam;
  const bool settle_bound = sc.chan_ready && !sc.lake_settled.empty();
  for (int lake = 1; lake <= lake_count(ms); ++lake) {
    const long lr = tr.lake_row0 + lake;
    const double volume = ch.lake_volume[lake];
    double total = 0.0;
    for (int k = 1; k <= tr.num_fine_classes; ++k) {
      const double w = sed.settling_vel[sed.sed_class[k]];
      const double share = lake_settled_fraction(w, dt, ch.lake_area[lake], volume);
      const double settled = share * tr.ch_wash_vol[lr][k];
      // The settled wash load takes its share of the lake's bound constituents to the bed.
      if (settle_bound && tr.ch_wash_vol[lr][k] > 0.0) {
        for (int c = 1; c <= sc.chan_bound.plane_count(); ++c) {
          double& held = sc.chan_bound[c][lr][k];
          const double m = held * std::min(std::max(share, 0.0), 1.0);
          held -= m;
          sc.lake_settled[c] += m;
        }
      }
      tr.ch_wash_vol[lr][k] -= settled;
      tr.lake_sed_books[lake][4] += settled;
      tr.wash_conc[lr][k] = volume > sed_tiny ? tr.ch_wash_vol[lr][k] / volume : 0.0;
      total += tr.ch_wash_vol[lr][k];
    }
    tr.ch_wash_vol[lr][0] = total;
    tr.wash_conc[lr][0] = volume > sed_tiny ? total / volume : 0.0;
  }
}

void wash_step(model_state& ms, double dt) {
  transport_state& tr = ms.transport;
  const ov_sediment_obj& sed = *tr.ov_sed;
  const int nfine = tr.num_fine_classes;
  if (nfine < 1) return;
  raw_array2d<double>& saved_vol = tr.wash_work[0];
  raw_array2d<double>& saved_conc = tr.wash_work[1];
  raw_array2d<double>& predicted = tr.wash_work[2];
  raw_array2d<double>& corrected = tr.wash_work[3];
  each_row(ms, [&](long f, int l, int j) {
    const double water = row_water(ms, l, j);
    for (int k = 1; k <= nfine; ++k) {
      if (l != 0) tr.ch_wash_vol[f][k] += tr.qlat_sed[f][sed.sed_class[k]];
      tr.wash_conc[f][k] = water > sed_tiny ? tr.ch_wash_vol[f][k] / water : 0.0;
      saved_vol[f][k] = tr.ch_wash_vol[f][k];
      saved_conc[f][k] = tr.wash_conc[f][k];
    }
  });
  // Predictor from the concentrations at the start, corrector from the predicted state, and the
  // average of the two carried.
  wash_fluxes(ms, dt, tr.wash_conc, tr.ch_wash_vol, predicted);
  wash_apply(ms, predicted, saved_vol, saved_conc);
  wash_fluxes(ms, dt, saved_conc, saved_vol, corrected);
  each_row(ms, [&](long f, int, int) {
    for (int k = 1; k <= nfine; ++k) corrected[f][k] = 0.5 * (predicted[f][k] + corrected[f][k]);
  });
  // The average may ask a row for more than it holds: cut it again against the real volumes.
  // (The fluxes are recomputed from scratch only by wash_fluxes; here only the limit applies.)
  each_row(ms, [&](long f, int, int) {
    const int* feed = tr.feed_list.data();
    const int first = tr.feed_start[f], past = tr.feed_start[f + 1];
    for (int k = 1; k <= nfine; ++k) {
      double out = corrected[f][k] > 0.0 ? corrected[f][k] : 0.0;
      for (int n = first; n < past; ++n)
        if (corrected[feed[n]][k] < 0.0) out -= corrected[feed[n]][k];
      if (!(out > tr.ch_wash_vol[f][k])) continue;
      const double scale = tr.ch_wash_vol[f][k] > 0.0 ? tr.ch_wash_vol[f][k] / out : 0.0;
      if (corrected[f][k] > 0.0) corrected[f][k] *= scale;
      for (int n = first; n < past; ++n)
        if (corrected[feed[n]][k] < 0.0) corrected[feed[n]][k] *= scale;
    }
  });
  for (int k = 0; k <= nfine; ++k) tr.outlet_wash_flux[k] = 0.0;
  each_row(ms, [&](long f, int l, int j) {
    const long down = tr.sed_down[f];
    const int into = lake_of_row(ms, down);
    const int from = l == 0 ? j : 0;
    double total = 0.0;
    for (int k = 1; k <= nfine; ++k) {
      const double m = corrected[f][k];
      total += tr.qsmax[f][k] = m / dt;
      if (down == 0 && m > 0.0) {
        tr.outlet_wash_flux[k] += m / dt;
        tr.outlet_wash_flux[0] += m / dt;
        tr.wash_out[sed.sed_class[k]] += m;
      }
      if (into != 0) {
        tr.wash_to_lakes += m;
        tr.lake_sed_books[into][1] += m;
      }
      if (from != 0) {
        tr.wash_from_lakes += m;
        tr.lake_sed_books[from][2] += m;
      }
    }
    tr.qsmax[f][0] = total;
  });
  move_bound_with_wash(ms, corrected, tr.ch_wash_vol, predicted);
  wash_apply(ms, corrected, tr.ch_wash_vol, tr.wash_conc);
  settle_lakes(ms, dt);
  each_row(ms, [&](long f, int l, int j) {
    if (l == 0) return;
    const double water = water_volume(ms.channel, l, j);
    double total = 0.0;
    for (int k = 1; k <= nfine; ++k) {
      const int cls = sed.sed_class[k];
      total += tr.chan_sed_conc[f][cls] =
          water > sed_tiny ? tr.ch_wash_vol[f][k] * sed.particle_density[cls] / water : 0.0;
    }
    tr.chan_sed_conc[f][0] = total;
  });
}

}  // namespace

double yang_fall_velocity(double d, double nu) {
  const double dstar = std::pow(16.1865 / (nu * nu), 1.0 / 3.0) * d;
  return 8.0 * nu / d * (std::sqrt(1.0 + 0.0139 * dstar * dstar * dstar) - 1.0);
}

double yang_sand_capacity(double q, double area, double perim, double slope, double d, double nu,
                          double w) {
  const double sign = q < -sed_tiny ? -1.0 : 1.0;
  const double r = perim > sed_tiny ? area / perim : 0.0;
  const double s = std::fabs(slope);
  const double shear = 9810.0 * r * s;
  const double ustar = shear > sed_tiny ? std::sqrt(shear / 1000.0) : 0.0;
  const double re = ustar * d / nu;
  if (re < 1.2 || !(area > 0.0)) return 0.0;
  const double crit = re < 70.0 ? 2.5 / (std::log10(re) - 0.06) + 0.66 : 2.05;
  const double v = std::fabs(q / area);
  if (v / w < crit) return 0.0;
  const double a1 = std::log10(w * d / nu);
  const double lu = std::log10(ustar / w);
  const double excess = v * s / w - s * crit;
  if (!(excess > 0.0)) return 0.0;
  const double log_ct =
      5.435 - 0.286 * a1 - 0.457 * lu + (1.799 - 0.409 * a1 - 0.314 * lu) * std::log10(excess);
  return sign * std::fabs(q) * std::pow(10.0, log_ct) * 9810.0 / 25996500000.0;
}

void breakpoint_area_perimeter(const double* area, const double* perim, double dy, int levels,
                               double y, double& a, double& p) {
  a = 0.0;
  p = 0.0;
  if (!(dy > 0.0) || levels < 1 || !(y > 0.0)) return;
  if (y < dy) {
    const double scale = std::pow(y, 1.6666666666666667) / std::pow(dy, 1.6666666666666667);
    a = area[1] * scale;
    p = perim[1] * scale;
    return;
  }
  const double top = levels * dy;
  if (y >= top) {
    const int below = levels >= 2 ? levels - 1 : 0;
    const double share = (y - top) / dy;
    a = area[levels] + (area[levels] - area[below]) * share;
    p = perim[levels] + (perim[levels] - perim[below]) * share;
    return;
  }
  const int i = static_cast<int>(y / dy);
  const double share = (y - i * dy) / dy;
  a = area[i] + (area[i + 1] - area[i]) * share;
  p = perim[i] + (perim[i + 1] - perim[i]) * share;
}

double bed_rise(double change_area, double bottom, double side_slope, double erodible_depth) {
  if (change_area >= 0.0) {
    if (side_slope > 0.0)
      return (std::sqrt(bottom * bottom + 4.0 * side_slope * change_area) - bottom) /
             (2.0 * side_slope);
    return bottom > 0.0 ? change_area / bottom : 0.0;
  }
  const double drop = bottom > 0.0 ? change_area / bottom : 0.0;
  return drop < -erodible_depth ? -erodible_depth : drop;
}

void alloc_channel_sediment(model_state& ms) {
  transport_state& tr = ms.transport;
  channel_state& ch = ms.channel;
  if (!tr.chan_sediment || tr.ov_sed == nullptr) return;
  ov_sediment_obj& sed = *tr.ov_sed;
  const int links = ch.chan_link_count;
  // Node counts as read: a lake may hold some of them later and give them back.
  const int* counts = ch.og_nx1.count() >= links ? ch.og_nx1.data() : ch.nx.data();
  int stride = 0;
  for (int l = 1; l <= links; ++l) stride = counts[l] > stride ? counts[l] : stride;
  tr.sed_node_stride = stride;
  // Node rows, then one row per channel lake.
  const int lakes = lake_count(ms);
  tr.lake_row0 = (links + 1) * stride + 1;
  const int rows = tr.lake_row0 + lakes;
  const int classes = sed.num_sed_classes;
  if (tr.num_sand_classes + 1 >= 64) {
    stop_with_message("Error: at most 62 sand classes can be routed in the channels\n");
    return;
  }
  const bool ok = allocate_2d(tr.qlat_sed, rows, classes, "qlat_sed") &&
                  allocate_2d(tr.ch_sand_vol, rows, classes + 1, "ch_sand_vol") &&
                  allocate_2d(tr.ch_wash_vol, rows, classes, "ch_wash_vol") &&
                  allocate_2d(tr.wash_conc, rows, classes, "SS_node_conc_vol") &&
                  allocate_2d(tr.qsmax, rows, classes + 1, "qsmax") &&
                  allocate_2d(tr.chan_sed_conc, rows, classes, "chan_sed_conc") &&
                  allocate_2d(tr.wash_work[0], rows, classes, "temp_mass") &&
                  allocate_2d(tr.wash_work[1], rows, classes, "temp_conc") &&
                  allocate_2d(tr.wash_work[2], rows, classes, "temp_flux") &&
                  allocate_2d(tr.wash_work[3], rows, classes, "advect_flux") &&
                  allocate_1d(tr.sand_capacity, rows, "sand_capacity") &&
                  allocate_1d(tr.sed_down, rows, "sed_down") &&
                  allocate_1d(tr.feed_start, rows + 1, "feed_start") &&
                  allocate_1d(tr.feed_list, rows, "feed_list") &&
                  allocate_1d(tr.fine_position, classes, "fine_position") &&
                  allocate_1d(tr.sed_to_lakes, classes, "sed_to_lakes") &&
                  allocate_2d(tr.lake_sed_books, lakes, 5, "lake_sed_books") &&
                  allocate_1d(tr.sed_to_chan, classes, "sed_to_chan") &&
                  allocate_1d(tr.sand_out, classes, "sand_out") &&
                  allocate_1d(tr.wash_out, classes, "wash_out") &&
                  allocate_1d(tr.outlet_wash_flux, classes, "outlet_wash_flux") &&
                  allocate_1d(tr.outlet_sand_flux, classes + 1, "outlet_sand_flux") &&
                  tr.org_bel.allocate(links, counts) && tr.stock_start.allocate(links, counts) &&
                  tr.org_bottom.allocate(links, counts) &&
                  tr.bp_bed_change.allocate(links, counts) &&
                  tr.qsmax_total.allocate(links, ch.nx.data()) &&
                  (ch.new_bel.link_count() == links || ch.new_bel.allocate(links, ch.nx.data()));
  if (!ok) {
    stop_with_message("Error: no memory for the channel sediment of %d links\n", links);
    return;
  }
  // The bed update of the surveyed sections works in storage sized here, once.
  std::size_t pairs = 0;
  for (int t = 1; t <= ch.num_xsec_tables && t <= ch.numpairs.count(); ++t)
    pairs = std::max(pairs, static_cast<std::size_t>(std::max(ch.numpairs[t], 0)));
  ch.xsec_work_x.resize(pairs);
  ch.xsec_work_z.resize(pairs);
  ch.xsec_work_before.resize(pairs);
  ch.xsec_work_moves.resize(pairs);
  for (int i = 1; i <= tr.num_fine_classes; ++i) tr.fine_position[sed.sed_class[i]] = i;
  tr.wash_to_lakes = 0.0;
  tr.wash_from_lakes = 0.0;
  // Bed elevations and the sand stock of the erodible beds.
  tr.init_chan_sand_vol = 0.0;
  for (int l = 1; l <= links; ++l)
    for (int j = 1; j <= counts[l]; ++j) {
      tr.org_bel(l, j) = ch.bel(l, j);
      ch.new_bel(l, j) = ch.bel(l, j);
      if (ch.ltype[l] & bit_trapezoid) tr.org_bottom(l, j) = ch.bottom(l, j);
      if (!erodible_bed(ch, l)) continue;
      const double stock =
          erodible_trapezoid(ch, l) ? bed_stock(ms, l, j) : breakpoint_stock(ms, l, j);
      if (erodible_breakpoint(ch, l)) {
        // The section's reference stock is what its present shape holds; the highest stage
        // starts at the bed.
        ch.ch_sand_vol0[ch.bplink[l]][j] = stock;
        ch.max_yp[ch.bplink[l]][j] = ch.bel(l, j);
      }
      const long f = flat(tr, l, j);
      tr.ch_sand_vol[f][tr.num_sand_classes + 1] = stock;
      tr.ch_sand_vol[f][0] = stock;
      tr.stock_start(l, j) = stock;
      tr.init_chan_sand_vol += stock;
    }
  // Stream cells keep their soil: only their loose deposit can be taken up again.
  for (int c = 1; c <= ch.gst_stream_cells; ++c)
    for (int k = 1; k <= ch.gst_ncellsingrid[c]; ++k) {
      const int cell = ch.gst_gnum[c][k];
      if (cell >= 1 && cell <= ms.cell_count) sed.channel_cells[cell] = 1;
    }
}

void channel_sediment_step(model_state& ms, double dt) {
  transport_state& tr = ms.transport;
  if (!tr.chan_sediment || tr.ov_sed == nullptr || tr.qlat_sed.empty() || !(dt > 0.0)) return;
  if (!hand_off_stream_cells(ms)) return;
  hand_taken_nodes_to_lakes(ms);
  build_order(ms);
  sand_step(ms, dt);
  if (!follow_beds(ms)) return;
  if (tr.sediment.sed_constituents == 1) wash_step(ms, dt);
  std::fill(tr.qlat_sed.data(), tr.qlat_sed.data() + tr.qlat_sed.element_count(), 0.0);
}
