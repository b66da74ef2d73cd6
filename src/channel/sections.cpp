// Cross-section properties over the channel network: ex_section sweeps every node of every
// sectioned link, from its water-surface level (mode 2) or from its flow area (mode 1), and the
// per-node forms serve the lateral and overbank exchange, which change one node at a time.
// Called by the event initialisation, the channel start-up, the routing and the exchange steps.
#include "channel/sections.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "channel/channel_steps.h"
#include "channel/node_ranges.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"

namespace {

// Depth at which a trapezoid of bottom width b and side slope z holds area a: the positive root
// of z y2 + b y - a = 0, written as 2 a / (sqrt(4 z a + b2) + b) so that a side slope of 0 gives
// the rectangle's a / b and small areas keep their digits.
double trapezoid_root(double b, double z, double a) {
  const double denominator = std::sqrt(4.0 * z * a + b * b) + b;
  return denominator > 0.0 ? 2.0 * a / denominator : 0.0;
}

// Manning conveyance (1/n) A^(5/3) / P^(2/3); an empty section conveys nothing.
double manning_conveyance(double inv_n, double a, double p) {
  if (a <= 0.0 || p <= 0.0) return 0.0;
  return inv_n * a * std::pow(a / p, 2.0 / 3.0);
}

}  // namespace

section_properties trapezoid_from_depth(const trapezoid_shape& s, double y) {
  const double b = s.bottom;
  const double z = s.side_slope;
  const double side = std::sqrt(z * z + 1.0);
  section_properties r;
  r.topw = b + 2.0 * y * z;
  const double p = b + 2.0 * y * side;
  r.area = (b + y * z) * y;
  if (r.area <= 0.0 || p <= 0.0) return r;  // empty: no conveyance
  r.conv = s.inv_n * r.area * std::pow(r.area / p, 2.0 / 3.0);
  r.dconv =
      s.inv_n * ((5.0 / 3.0) * std::pow(r.area, 2.0 / 3.0) * std::pow(p, -2.0 / 3.0) * r.topw -
                 (2.0 / 3.0) * std::pow(r.area, 5.0 / 3.0) * std::pow(p, -5.0 / 3.0) * 2.0 * side);
  return r;
}

section_depth trapezoid_from_area(const trapezoid_shape& s, double a) {
  section_depth r;
  if (a <= 0.0) return r;
  r.depth = trapezoid_root(s.bottom, s.side_slope, a);
  if (r.depth > 0.0) {
    const double p = s.bottom + 2.0 * r.depth * std::sqrt(s.side_slope * s.side_slope + 1.0);
    r.conv = manning_conveyance(s.inv_n, a, p);
  }
  return r;
}

// The in-bank and flood-plain forms use the decimal exponents and factors of the model's
// compound section, not the exact fractions.
section_properties compound_from_depth(const trapezoid_shape& s, double y) {
  const double b = s.bottom;
  const double z1 = s.side_slope;
  const double z2 = s.plain_slope;
  const double yb = s.bankfull_depth;
  section_properties r;
  double p = 0.0;
  double wall = 0.0;  // sqrt(z2 + 1) of the side that rises with the water
  if (y <= yb) {
    wall = std::sqrt(z1 * z1 + 1.0);
    r.topw = b + 2.0 * y * z1;
    p = b + 2.0 * y * wall;
    r.area = (b + y * z1) * y;
    if (r.area <= 0.0 || p <= 0.0) return r;
    const double radius = r.area / p;
    r.dconv = s.inv_n * (std::pow(radius, 0.6666667) * 1.66667 * r.topw -
                         wall * 1.33333 * std::pow(radius, 1.6666667));
  } else {
    const double e = y - yb;
    const double bank_top = b + 2.0 * yb * z1;
    wall = std::sqrt(z2 * z2 + 1.0);
    r.topw = bank_top + 2.0 * z2 * e;
    p = b + 2.0 * yb * std::sqrt(z1 * z1 + 1.0) + 2.0 * e * wall;
    r.area = (b + yb * z1) * yb + 0.5 * (bank_top + r.topw) * e;
    if (r.area <= 0.0 || p <= 0.0) return r;
    const double radius = r.area / p;
    r.dconv = s.inv_n * ((5.0 / 3.0) * std::pow(radius, 0.6666667) * r.topw -
                         (4.0 / 3.0) * std::pow(radius, 1.6666667) * wall);
  }
  r.conv = s.inv_n * std::pow(r.area, 1.666667) / std::pow(p, 0.666667);
  return r;
}

section_depth compound_from_area(const trapezoid_shape& s, double a) {
  const double b = s.bottom;
  const double z1 = s.side_slope;
  const double z2 = s.plain_slope;
  const double yb = s.bankfull_depth;
  const double bank_area = (b + yb * z1) * yb;
  const double bank_top = b + 2.0 * yb * z1;
  section_depth r;
  if (a <= bank_area) {
    if (4.0 * z1 * a + b * b < 0.0) {
      r.fault = section_fault::root_in_bank;
      return r;
    }
    r.depth = trapezoid_root(b, z1, a);
    if (r.depth < 0.0) {
      r.fault = section_fault::depth_in_bank;
      return r;
    }
    r.conv = manning_conveyance(s.inv_n, a, b + 2.0 * r.depth * std::sqrt(z1 * z1 + 1.0));
    return r;
  }
  const double over = a - bank_area;
  if (4.0 * z2 * over + bank_top * bank_top < 0.0) {
    r.fault = section_fault::root_above_bank;
    return r;
  }
  const double e = trapezoid_root(bank_top, z2, over);
  if (e < 0.0) {
    r.fault = section_fault::plain_depth_above;
    return r;
  }
  r.depth = yb + e;
  if (r.depth < 0.0) {
    r.fault = section_fault::depth_above_bank;
    return r;
  }
  const double p = b + 2.0 * yb * std::sqrt(z1 * z1 + 1.0) + 2.0 * e * std::sqrt(z2 * z2 + 1.0);
  r.conv = manning_conveyance(s.inv_n, a, p);
  return r;
}

section_properties table_from_depth(const depth_table_view& t, double y, bool& exceeded) {
  const double h = t.spacing;
  const int n = t.levels;
  section_properties r;
  if (y < h) {
    // Below the first level the section follows the 5/3 law of a wide channel.
    const double ratio = std::pow(y / h, 5.0 / 3.0);
    r.area = t.area[1] * ratio;
    r.topw = t.topw[1] * ratio;
    r.conv = t.conv[1] * ratio;
    r.dconv = t.conv[1] * std::pow(y, 2.0 / 3.0) / std::pow(h, 5.0 / 3.0);
    return r;
  }
  if (y > n * h) {
    // Above the top level the top interval is extended.
    exceeded = true;
    const double e = y - n * h;
    r.area = t.area[n] + e * (t.area[n] - t.area[n - 1]) / h;
    r.topw = t.topw[n] + e * (t.topw[n] - t.topw[n - 1]) / h;
    r.conv = t.conv[n] + e * (t.conv[n] - t.conv[n - 1]) / h;
    r.dconv = (t.conv[n] - t.conv[n - 1]) / h;
    return r;
  }
  // The water lies in interval k; the top level itself falls in the top interval.
  const int k = std::min(static_cast<int>(y / h), n - 1);
  const double f = (y - k * h) / h;
  r.area = t.area[k] + f * (t.area[k + 1] - t.area[k]);
  r.topw = t.topw[k] + f * (t.topw[k + 1] - t.topw[k]);
  r.conv = t.conv[k] + f * (t.conv[k + 1] - t.conv[k]);
  r.dconv = (t.conv[k + 1] - t.conv[k]) / h;
  return r;
}

section_depth table_from_area(const depth_table_view& t, double a, bool& exceeded) {
  const double h = t.spacing;
  const int n = t.levels;
  section_depth r;
  if (a <= 0.0) return r;
  if (a < t.area[1]) {
    r.depth = h * std::pow(a / t.area[1], 0.6);  // the inverse of the 5/3 law
    r.conv = t.conv[1] * std::pow(r.depth, 5.0 / 3.0) / std::pow(h, 5.0 / 3.0);
    return r;
  }
  if (a > t.area[n]) {
    exceeded = true;
    const double step = t.area[n] - t.area[n - 1];
    r.depth = n * h + (step > 0.0 ? (a - t.area[n]) * h / step : 0.0);
    r.conv = t.conv[n] + (r.depth - n * h) * (t.conv[n] - t.conv[n - 1]) / h;
    return r;
  }
  // The interval k with area[k] <= a < area[k + 1]. Areas grow with the level (the water only
  // widens as it rises), so the last such k is found by bisection; a at the top level's area
  // falls in the top interval.
  const double* first = t.area + 1;
  const double* past = t.area + n + 1;
  const int above = static_cast<int>(std::upper_bound(first, past, a) - t.area);
  // One level: the only interval runs from the empty channel (level 0).
  const int k = n == 1 ? 0 : std::clamp(above - 1, 1, n - 1);
  const double step = t.area[k + 1] - t.area[k];
  r.depth = k * h + (step > 0.0 ? (a - t.area[k]) * h / step : h);
  r.conv = t.conv[k] + (r.depth - k * h) * (t.conv[k + 1] - t.conv[k]) / h;
  return r;
}

namespace {

constexpr int kind_trapezoid = 4;
constexpr int kind_breakpoint = 8;
constexpr int kind_compound = 16;

// The section of a trapezoidal or compound node. Section links keep their own number in `ldex`,
// so the node's section lies at (link, node).
trapezoid_shape node_shape(const channel_state& ch, int link, int node) {
  trapezoid_shape s;
  s.bottom = ch.bottom(link, node);
  s.side_slope = ch.sslope(link, node);
  s.inv_n = ch.link_inv_n[link];
  if (ch.ltype[link] & kind_compound) {
    s.bankfull_depth = ch.bankfull_dep(link, node);
    s.plain_slope = ch.sslope2(link, node);
  }
  return s;
}

// The depth table of a break-point node; false (after the message) when the node names no
// table of the network.
bool node_table(channel_state& ch, int link, int node, depth_table_view& view) {
  const int t = ch.table_num(link, node);
  if (t < 1 || t > ch.num_xsec_tables) {
    fprintf(stderr, "Error in section: Request for table beyond max. table number.\n");
    stop_now();
    return false;
  }
  view.spacing = ch.ht_spc[t];
  view.levels = ch.numhts[t];
  view.area = ch.xarea.link_nodes(t);
  view.topw = ch.xtw.link_nodes(t);
  view.conv = ch.xk.link_nodes(t);
  return true;
}

void store(channel_state& ch, int link, int node, const section_depth& d) {
  ch.chan_depth(link, node) = d.depth;
  ch.yp(link, node) = ch.bel(link, node) + d.depth;
  ch.conv(link, node) = d.conv;
}

// The messages of a compound section whose area gives no depth.
void compound_fault(section_fault fault, int link, int node) {
  switch (fault) {
    case section_fault::root_in_bank:
      stop_with_message(
          "in ex_section - 1, negative square root at:\nlink %ld node %ld.  Program "
          "stopped.\n",
          static_cast<long>(link), static_cast<long>(node));
      break;
    case section_fault::depth_in_bank:
      stop_with_message(
          "in ex_section - 2, negative depth at:\nlink %ld node %ld.  Program "
          "stopped.\n",
          static_cast<long>(link), static_cast<long>(node));
      break;
    case section_fault::root_above_bank:
      stop_with_message(
          "in ex_section - 3, negative square root at:\nlink %ld node %ld.  Program "
          "stopped.\n",
          static_cast<long>(link), static_cast<long>(node));
      break;
    case section_fault::plain_depth_above:
      stop_with_message("in ex_section - 4, negative yabf at:\nlink %d node %d\n", link, node);
      break;
    case section_fault::depth_above_bank:
      stop_with_message(
          "in ex_section - 4, negative depth at:\nlink %d node %d.  Program "
          "stopped.\n",
          link, node);
      break;
    case section_fault::none:
      break;
  }
}

}  // namespace

namespace {

// A node whose section cannot be had from its level: its message, code 4000 at once, and false.
bool stage_fault_reported(const channel_state& ch, int link, int node, stage_fault fault) {
  switch (fault) {
    case stage_fault::none:
      return true;
    case stage_fault::no_table:
      fprintf(stderr, "Error in section: Request for table beyond max. table number.\n");
      stop_now();
      return false;
    case stage_fault::negative_depth: {
      const int kind = ch.ltype[link];
      const int message = (kind & kind_trapezoid) ? 1 : (kind & kind_breakpoint) ? 3 : 4;
      stop_with_message(
          "In ex_section - %d\nprogram stopped for negative depth, node %d, link %d\n", message,
          node, link);
      return false;
    }
  }
  return false;
}

}  // namespace

bool section_from_stage(model_state& ms, int link, int node) {
  channel_state& ch = ms.channel;
  int exceeded = 0;
  const stage_fault fault =
      section_from_level(link_sections_of(ch, link), depth_tables_of(ch), node, exceeded);
  if (exceeded) ch.xsec_table_exceeded = 1;
  return stage_fault_reported(ch, link, node, fault);
}

bool section_from_area(model_state& ms, int link, int node) {
  channel_state& ch = ms.channel;
  const int kind = ch.ltype[link];
  double& a = ch.area(link, node);
  if (kind & kind_trapezoid) {
    if (a > -0.0001 && a < 0.0) a = 0.0;  // round-off below an empty channel
    if (a < 0.0) {
      stop_with_message("In ex_section - 1\nprogram stopped for negative area, node %d, link %d\n",
                        node, link);
      return false;
    }
    store(ch, link, node, trapezoid_from_area(node_shape(ch, link, node), a));
  } else if (kind & kind_breakpoint) {
    depth_table_view table;
    if (!node_table(ch, link, node, table)) return false;
    if (a < 0.0) {
      stop_with_message("In ex_section - 4\nprogram stopped for negative area, node %d, link %d\n",
                        node, link);
      return false;
    }
    bool exceeded = false;
    store(ch, link, node, table_from_area(table, a, exceeded));
    if (exceeded) ch.xsec_table_exceeded = 1;
  } else if (kind & kind_compound) {
    if (a < 0.0) {
      stop_with_message("In ex_section - 5\nstopped for negative area, node %d, link %d\n", node,
                        link);
      return false;
    }
    const section_depth d = compound_from_area(node_shape(ch, link, node), a);
    if (d.fault != section_fault::none) {
      compound_fault(d.fault, link, node);
      return false;
    }
    store(ch, link, node, d);
  }
  return true;
}

bool sections_from_area(const link_sections_view& v, const depth_tables_view& tables, int first,
                        int last, int& exceeded) {
  double* area = v.area;
  double* depth = v.depth;
  double* yp = v.yp;
  double* conv = v.conv;
  const double* bel = v.bel;
  if (!(v.kind & kind_trapezoid) && (v.kind & kind_breakpoint)) {
    for (int j = first; j <= last; ++j) {
      const int t = v.table[j];
      if (t < 1 || t > tables.count || area[j] < 0.0) return false;
      const depth_table_view view{tables.spacing[t], tables.levels[t], tables.area->link_nodes(t),
                                  tables.topw->link_nodes(t), tables.conv->link_nodes(t)};
      bool over = false;
      const section_depth d = table_from_area(view, area[j], over);
      if (over) exceeded = 1;
      depth[j] = d.depth;
      yp[j] = bel[j] + d.depth;
      conv[j] = d.conv;
    }
    return true;
  }
  const bool compound = (v.kind & kind_trapezoid) == 0;
  trapezoid_shape s;
  s.inv_n = v.inv_n;
  for (int j = first; j <= last; ++j) {
    s.bottom = v.bottom[j];
    s.side_slope = v.side_slope[j];
    section_depth d;
    if (!compound) {
      if (area[j] > -0.0001 && area[j] < 0.0) area[j] = 0.0;  // round-off below an empty channel
      if (area[j] < 0.0) return false;
      d = trapezoid_from_area(s, area[j]);
    } else {
      if (area[j] < 0.0) return false;
      s.bankfull_depth = v.bankfull[j];
      s.plain_slope = v.plain_slope[j];
      d = compound_from_area(s, area[j]);
      if (d.fault != section_fault::none) return false;
    }
    depth[j] = d.depth;
    yp[j] = bel[j] + d.depth;
    conv[j] = d.conv;
  }
  return true;
}

stage_fault section_from_level(const link_sections_view& v, const depth_tables_view& tables, int j,
                               int& exceeded) {
  const double y = v.yp[j] - v.bel[j];
  section_properties p;
  if (v.kind & kind_trapezoid) {
    if (y < 0.0) return stage_fault::negative_depth;
    trapezoid_shape s;
    s.bottom = v.bottom[j];
    s.side_slope = v.side_slope[j];
    s.inv_n = v.inv_n;
    p = trapezoid_from_depth(s, y);
  } else if (v.kind & kind_breakpoint) {
    const int t = v.table[j];
    if (t < 1 || t > tables.count) return stage_fault::no_table;
    if (y < 0.0) return stage_fault::negative_depth;
    const depth_table_view view{tables.spacing[t], tables.levels[t], tables.area->link_nodes(t),
                                tables.topw->link_nodes(t), tables.conv->link_nodes(t)};
    bool over = false;
    p = table_from_depth(view, y, over);
    if (over) exceeded = 1;
  } else if (v.kind & kind_compound) {
    if (y < 0.0) return stage_fault::negative_depth;
    trapezoid_shape s;
    s.bottom = v.bottom[j];
    s.side_slope = v.side_slope[j];
    s.inv_n = v.inv_n;
    s.bankfull_depth = v.bankfull[j];
    s.plain_slope = v.plain_slope[j];
    p = compound_from_depth(s, y);
  } else {
    return stage_fault::none;
  }
  v.area[j] = p.area;
  v.topw[j] = p.topw;
  v.conv[j] = p.conv;
  v.dconv[j] = p.dconv;
  return stage_fault::none;
}

namespace {

// The link's node values of an array, or null where the array does not hold the link.
template <class T>
T* nodes_of(link_node_array<T>& a, int link) {
  return link >= 1 && link <= a.link_count() ? a.link_nodes(link) : nullptr;
}

}  // namespace

link_sections_view link_sections_of(channel_state& ch, int link) {
  link_sections_view v;
  v.kind = ch.ltype[link];
  v.inv_n = link <= ch.link_inv_n.count() ? ch.link_inv_n[link] : 0.0;
  v.bel = nodes_of(ch.bel, link);
  v.area = nodes_of(ch.area, link);
  v.depth = nodes_of(ch.chan_depth, link);
  v.yp = nodes_of(ch.yp, link);
  v.conv = nodes_of(ch.conv, link);
  v.topw = nodes_of(ch.topw, link);
  v.dconv = nodes_of(ch.dconv, link);
  if (!(v.kind & kind_trapezoid) && (v.kind & kind_breakpoint)) {
    v.table = nodes_of(ch.table_num, link);
    return v;
  }
  v.bottom = nodes_of(ch.bottom, link);
  v.side_slope = nodes_of(ch.sslope, link);
  if ((v.kind & kind_trapezoid) == 0) {
    v.bankfull = nodes_of(ch.bankfull_dep, link);
    v.plain_slope = nodes_of(ch.sslope2, link);
  }
  return v;
}

depth_tables_view depth_tables_of(const channel_state& ch) {
  depth_tables_view t;
  t.count = ch.num_xsec_tables;
  t.spacing = ch.ht_spc.data();
  t.levels = ch.numhts.data();
  t.area = &ch.xarea;
  t.topw = &ch.xtw;
  t.conv = &ch.xk;
  return t;
}

void ex_section(model_state& ms, int mode) {
  channel_state& ch = ms.channel;
  if (mode != 1 && mode != 2) return;
  if (ch.area.empty() || ch.conv.empty() || ch.topw.empty() || ch.dconv.empty())
    return;  // no network set up
  auto sectioned = [&](int link) {
    return (ch.ltype[link] & (kind_trapezoid | kind_breakpoint | kind_compound)) != 0;
  };
  const depth_tables_view tables = depth_tables_of(ch);
  if (mode == 1) {
    // The nodes are independent: shared among the threads, each computed as the serial sweep
    // computes it. A fault anywhere sends the sweep to the serial form below, which meets the
    // first fault in network order and reports it.
    const long total = chosen_node_total(ch, sectioned);
    int exceeded = 0;
    int faults = 0;
    auto region = [&](int& exceeded_part, int& faults_part) {
      visit_own_nodes(ch, total, sectioned, [&](int link, int first, int last) {
        if (faults_part == 0 &&
            !sections_from_area(link_sections_of(ch, link), tables, first, last, exceeded_part))
          faults_part = 1;
      });
    };
    const int team = routing_team(total);
    if (team_runs_inline(team)) {
      region(exceeded, faults);
    } else {
#pragma omp parallel num_threads(team) reduction(| : exceeded, faults)
      region(exceeded, faults);
    }
    if (exceeded) ch.xsec_table_exceeded = 1;
    if (faults == 0) return;
  }
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if (!sectioned(link)) continue;
    const link_sections_view v = link_sections_of(ch, link);
    for (int node = 1; node <= ch.nx[link]; ++node) {
      bool ok = true;
      if (mode == 2) {
        int exceeded = 0;
        const stage_fault fault = section_from_level(v, tables, node, exceeded);
        if (exceeded) ch.xsec_table_exceeded = 1;
        ok = stage_fault_reported(ch, link, node, fault);
      } else {
        ok = section_from_area(ms, link, node);
      }
      if (!ok) return;  // the rest of the network keeps its values
    }
  }
}
