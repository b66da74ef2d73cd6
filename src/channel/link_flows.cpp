// Link-end flows, channel volume and weirs: the discharge at every node of the channel network
// from the water-surface slopes (diffusive wave), through structure links and at the outlet, and
// the volume balance that turns discharges and lateral inflows into new flow areas. Called by the
// explicit channel routing in every predictor and corrector pass.
#include "channel/link_flows.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "channel/channel_state.h"
#include "channel/culverts.h"
#include "channel/node_ranges.h"
#include "framework/core/error_state.h"
#include "input/input_steps.h"

namespace {

int type_of(const channel_state& ch, int link) {
  return ch.ltype[link];
}

// Water level that drives the flow inside links: bed plus depth.
double level(const channel_state& ch, int link, int node) {
  return ch.bel(link, node) + ch.chan_depth(link, node);
}

// The view of a link's levels and conveyances.
link_levels_view levels_of(const channel_state& ch, int link) {
  return {ch.bel.link_nodes(link), ch.chan_depth.link_nodes(link), ch.conv.link_nodes(link),
          ch.dx[link], ch.nx[link]};
}

}  // namespace

link_end_view ex_link_end_below(const channel_state& ch, const link_node_array<double>& q,
                                int link) {
  link_end_view below;
  const int down = ch.dslink[link];
  if (down < 1 || down > ch.chan_link_count) return below;
  const int dtype = type_of(ch, down);
  if (link_is_structure(dtype)) {
    below.kind = link_end_view::structure;
    below.flow = q.link_nodes(down)[1];
  } else if (link_is_lake(dtype) || link_is_captured(dtype)) {
    below.kind = link_end_view::lake;
    below.level = ch.lake_elev[ch.lake2link[down]];
  } else if ((dtype & (4 | 8 | 16)) != 0) {
    below.kind = link_end_view::routed;
    below.level = ch.bel.link_nodes(down)[1] + ch.chan_depth.link_nodes(down)[1];
    below.conv = ch.conv.link_nodes(down)[1];
    below.dx = ch.dx[down];
  }
  return below;
}

void ex_ordinary_link_flows(const channel_state& ch, link_node_array<double>& q, int link,
                            int first, int last) {
  double* ql = q.link_nodes(link);
  const link_levels_view v = levels_of(ch, link);
  slope_flows(v, first, last, ql);
  const int n = v.nodes;
  if (last < n) return;
  ql[n] = link_end_flow(v, ex_link_end_below(ch, q, link), ql[n]);
}

namespace {

// The barrel of a culvert element: its kind (3 round, 4 oval, 5 box) gives the shape, the first
// shape value the rise (diameter) and the second the span.
culvert_barrel barrel_of(const hydraulic_structure& s) {
  culvert_barrel b;
  b.shape = s.structure_type - structure_round_culvert + culvert_circular;
  b.length = s.length;
  b.upinvert = s.upinvert;
  b.downinvert = s.downinvert;
  b.slope = s.slope;
  b.inlet_disch_coeff = s.inlet_disch_coeff;
  b.rev_flow_disch_coeff = s.rev_flow_disch_coeff;
  b.rise = s.shape1;
  b.span = s.shape2;
  b.rough_coeff = s.rough_coeff;
  b.inlet_coeff = s.inlet_coeff;
  return b;
}

// A culvert element's discharge between h1 and h2. Its inlet coefficient is first calibrated so
// that the inlet-control discharge at 1.5 diameters of head meets the orifice form at 1.49
// diameters (at most 0.99). A failed culvert computation prints the link and reports code 4000;
// the failure value is returned as the discharge.
// A probe (the step control's look at the culvert's response to its levels) reports nothing and
// counts a failure as no flow.
double culvert_element_flow(hydraulic_structure& s, int link, int element, double h1, double h2,
                            bool probe) {
  s.inlet_coeff = 1.07;
  const double d = s.shape1;
  const culvert_flow full = culv_flow(barrel_of(s), element, s.upinvert + 1.5 * d, 0.0);
  if (full.q == culvert_failure && !probe) {
    printf("Error in link number: %d ", link);
    stop_now();
  }
  const culvert_flow near_full = culv_flow(barrel_of(s), element, s.upinvert + 1.49 * d, 0.0);
  if (near_full.q == culvert_failure && !probe) {
    printf("Error in link number %d: ", link);
    stop_now();
  }
  s.inlet_coeff =
      full.q / (near_full.flow_area * std::sqrt(19.62 * (1.49 * d - near_full.ref_depth)));
  if (s.inlet_coeff > 1.0) s.inlet_coeff = 0.99;
  const culvert_flow flow = culv_flow(barrel_of(s), element, h1, h2);
  if (flow.q == culvert_failure) {
    if (probe) return 0.0;
    printf("Error in link number %d: ", link);
    stop_now();
  }
  return flow.q;
}

// The discharge of one structure element between the levels h1 and h2 at the model time `time`.
void element_flow(channel_state& ch, int link, int element, double time, double h1, double h2,
                  double& q, bool probe = false) {
  q = 0.0;
  hydraulic_structure* elements = ch.structures.data();
  switch (elements[element].structure_type) {
    case structure_weir:
      weir_flow(elements, element, h1, h2, q);
      break;
    case structure_sag_weir:
      sag_weir_flow(elements, element, h1, h2, q);
      break;
    case structure_round_culvert:
    case structure_oval_culvert:
    case structure_rect_culvert:
      q = culvert_element_flow(elements[element], link, element, h1, h2, probe);
      break;
    case structure_rating_curve:
      q = elev_series_interp(h1, elements[element].es);
      break;
    case structure_scheduled_release:
      q = ts_value(time, elements[element].ts);
      break;
    case structure_rule_curve:
      q = elev_series_step(h1, elements[element].es);
      break;
    default:
      break;  // any other kind adds nothing
  }
}

// The flow through a structure link: the sum over its elements, limited by the water at hand on
// the side it comes from, carried by both of its nodes.
// The sum of a structure link's element flows between the levels h1 and h2.
double structure_flow(channel_state& ch, int link, double time, double h1, double h2, bool probe) {
  double sum = 0.0;
  const int first = ch.link_structures[link][1];
  const int last = ch.link_structures[link][2];
  for (int e = first; e <= last; ++e) {
    double qe = 0.0;
    element_flow(ch, link, e, time, h1, h2, qe, probe);
    sum += qe;
  }
  return sum;
}

// A lake on the upstream or downstream side of a structure link (or a link a lake has captured).
bool lake_side(const channel_state& ch, int side_link) {
  const int type = type_of(ch, side_link);
  return link_is_lake(type) || link_is_captured(type);
}

// The levels on both sides of a structure link: a lake stands at its surface, a link at the
// level of the node next to the structure.
void structure_levels(const channel_state& ch, int link, double& h1, double& h2) {
  const int up = ch.uslinks[link][1];
  const int down = ch.dslink[link];
  h1 = lake_side(ch, up) ? ch.lake_elev[ch.lake2link[up]] : ch.yp(up, ch.nx[up]);
  h2 = lake_side(ch, down) ? ch.lake_elev[ch.lake2link[down]] : ch.yp(down, 1);
}

void structure_link_flows(channel_state& ch, link_node_array<double>& q, int link, double time,
                          double h) {
  const int up = ch.uslinks[link][1];
  const int down = ch.dslink[link];
  const bool lake_up = lake_side(ch, up);
  const bool lake_down = lake_side(ch, down);
  double h1 = 0.0, h2 = 0.0;
  structure_levels(ch, link, h1, h2);
  double sum = structure_flow(ch, link, time, h1, h2, false);
  // The flow is cut to the water at hand on the side it comes from: a node's water, or a lake's
  // whole volume, so that no lake is drawn below empty.
  const double upstream_volume = lake_up ? std::max(ch.lake_volume[ch.lake2link[up]], 0.0)
                                         : ch.area(up, ch.nx[up]) * ch.dx[up];
  const double downstream_volume = lake_down ? std::max(ch.lake_volume[ch.lake2link[down]], 0.0)
                                             : ch.area(down, 1) * ch.dx[down];
  if (sum > 1e-16 && sum * h > upstream_volume) sum = upstream_volume / h;
  if (sum < -1e-16 && sum * h + downstream_volume < 0.0) sum = -(downstream_volume / h);
  q(link, 1) = sum;
  q(link, 2) = sum;
}

// Checks the tables one index at a time; each fault prints its line and gives false.
bool link_in_network(const channel_state& ch, int link, int from, const char* role) {
  if (link >= 1 && link <= ch.chan_link_count) return true;
  printf(
      "Error: link %d names link %d as its %s, which is not a link of the channel network "
      "(1 to %d).\n",
      from, link, role, ch.chan_link_count);
  return false;
}

}  // namespace

double weir_discharge(double length, double crest, double cd_forward, double cd_reverse, double h1,
                      double h2) {
  const double high = std::max(h1, h2);
  const double low = std::min(h1, h2);
  if (crest > h1 && crest > h2) return 0.0;
  const double cd = h1 > h2 ? cd_forward : cd_reverse;
  const double head = high - crest;
  const double low_head = low - crest;
  double q = 0.0;
  if (low_head >= (2.0 / 3.0) * head) {
    const double diff = high - low;
    // Linear below 1 cm, meeting the square-root form at 1 cm.
    q = diff < 0.01 ? std::sqrt(1962.0) * cd * length * low_head * diff
                    : std::sqrt(19.62 * diff) * cd * length * low_head;
  } else {
    q = std::sqrt(head * head * head * 19.62 / 3.0) * (2.0 / 3.0) * cd * length;
  }
  return h1 > h2 ? q : -q;
}

double sag_weir_discharge(double length, double crest, double s1, double s2, double cd_forward,
                          double cd_reverse, double h1, double h2) {
  if (crest >= h1 && crest >= h2) return 0.0;
  const double cd = h1 > h2 ? cd_forward : cd_reverse;
  const double k = (s2 - s1) / (2.0 * length);
  const double x0 = -s1 * length / (s2 - s1);
  const double z0 = crest - k * x0 * x0 - s1 * x0;
  const double high = std::max(h1, h2);
  const double r = std::sqrt((high - z0) * 4.0 * k + s1 * s1);
  const double f = r * std::sqrt(high - crest) * 2.0 *
                   (s1 * s1 - (z0 + crest - 2.0 * high) * 4.0 * k) / k * 0.03125;
  const double q = std::sqrt(19.62) * cd / k * f;
  return h1 > h2 ? q : -q;
}

void weir_flow(const hydraulic_structure* elements, int element, double h1, double h2, double& q) {
  const hydraulic_structure& s = elements[element];
  q = weir_discharge(s.length, s.upinvert, s.inlet_disch_coeff, s.rev_flow_disch_coeff, h1, h2);
}

void sag_weir_flow(const hydraulic_structure* elements, int element, double h1, double h2,
                   double& q) {
  const hydraulic_structure& s = elements[element];
  q = sag_weir_discharge(s.length, s.upinvert, s.shape1, s.shape2, s.inlet_disch_coeff,
                         s.rev_flow_disch_coeff, h1, h2);
}

double weir_submergence_factor(double x) {
  static constexpr double ratio[11] = {0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.76, 0.8, 0.95, 1.0};
  static constexpr double factor[11] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 0.947, 0.75, 0.0};
  if (x > 1.0 - 1e-7) return 0.0;
  for (int i = 0; i < 10; ++i) {
    if (std::fabs(x - ratio[i]) < 0.0001) return factor[i];
    if (x > ratio[i] && x < ratio[i + 1])
      return factor[i] + (x - ratio[i]) / (ratio[i + 1] - ratio[i]) * (factor[i + 1] - factor[i]);
  }
  return 0.0;
}

// The outlet boundary at the last node of the last link.
int ex_outlet_flow(const channel_state& ch, link_node_array<double>& q) {
  const int last = ch.chan_link_count;
  if (!link_is_routed(type_of(ch, last))) return 0;
  const int n = ch.nx[last];
  const double dx = ch.dx[last];
  double* ql = q.link_nodes(last);
  if (ch.head_bound) {
    // The head boundary holds the outlet level: what reaches the node passes through.
    ql[n] = ql[n - 1] + ch.qlat(last, n) * dx + chan_point_inflow(ch.points, last, n);
    return 0;
  }
  const double s = (ch.bel(last, n - 1) - ch.bel(last, n)) / dx;
  if (s >= 0.0) {
    ql[n] = std::sqrt(s) * ch.conv(last, n);
    return 0;
  }
  return -1;
}

void ex_report_negative_outlet_slope() {
  printf("The outlet slope is negative.  Make sure that the bed\n");
  printf("elevation of the most downstream node is lower than\n");
  printf("the bed elevation of the node just upstream from it.\n");
  printf("Program stopped.\n");
  stop_now();
}

bool check_routing_network(const channel_state& ch) {
  bool ok = true;
  const int links = ch.chan_link_count;
  for (int link = 1; link <= links && ok; ++link) {
    const int type = type_of(ch, link);
    const int n = ch.nx[link];
    if (n < 0 || n > ch.qp.node_count(link) || n > ch.area.node_count(link) ||
        n > ch.conv.node_count(link)) {
      printf("Error: link %d has %d computational nodes, more than its node arrays hold (%d).\n",
             link, n, ch.area.node_count(link));
      ok = false;
      break;
    }
    const int down = ch.dslink[link];
    if (link < links || down != 0) ok = link_in_network(ch, down, link, "downstream link");
    const int up_count = ch.ndep[link];
    if (ok && (up_count < 0 || up_count > ch.max_upstream)) {
      printf("Error: link %d has %d upstream links, outside the table of 0 to %d.\n", link,
             up_count, ch.max_upstream);
      ok = false;
    }
    for (int k = 1; ok && k <= up_count; ++k)
      ok = link_in_network(ch, ch.uslinks[link][k], link, "upstream link");
    if (!ok) break;
    if (link_is_lake(type) || link_is_captured(type)) {
      const int lake = ch.lake2link[link];
      if (lake < 1 || lake > ch.num_lakes) {
        printf(
            "Error: lake link %d names lake %d, which is not a lake of the channel network "
            "(1 to %d).\n",
            link, lake, ch.num_lakes);
        ok = false;
      }
    }
    if (ok && link_is_structure(type)) {
      if (up_count < 1 || n < 2) {
        printf("Error: structure link %d needs an upstream link and two nodes.\n", link);
        ok = false;
        break;
      }
      // A structure takes its water levels from the ordinary links or lakes beside it and holds
      // no water of its own: a structure beside another would pass water that never arrives.
      for (const int side : {ch.uslinks[link][1], down}) {
        if (side >= 1 && side <= links && link_is_structure(type_of(ch, side))) {
          printf(
              "Error: structure link %d meets structure link %d; a structure takes its water "
              "levels from the ordinary links or lakes beside it, so two structures in a row "
              "need an ordinary link between them.\n",
              link, side);
          ok = false;
          break;
        }
      }
      if (!ok) break;
      const int first = ch.link_structures[link][1];
      const int last = ch.link_structures[link][2];
      for (int e = first; ok && e <= last; ++e) {
        if (e < 1 || e > ch.structure_count) {
          printf(
              "Error: structure link %d names structure element %d, which is not an element "
              "of the channel input file (1 to %d).\n",
              link, e, ch.structure_count);
          ok = false;
        }
      }
    }
  }
  if (!ok) stop_now();
  return ok;
}

void ex_structure_flows(channel_state& ch, link_node_array<double>& q, double time, double h) {
  // Downstream to upstream on one thread (a culvert may report a fault); each reads only levels
  // and areas.
  for (int link = ch.chan_link_count; link >= 1; --link)
    if (link_is_structure(type_of(ch, link))) structure_link_flows(ch, q, link, time, h);
}

int ex_link_end_flows(channel_state& ch, link_node_array<double>& q, double time, double h) {
  // The structures first; the links above them then take their flows.
  ex_structure_flows(ch, q, time, h);
  // Every other flow depends on the levels alone: the nodes are shared among the threads.
  auto ordinary = [&](int link) { return link_is_routed(type_of(ch, link)); };
  const long total = chosen_node_total(ch, ordinary);
  on_team(routing_team(total), [&] {
    visit_own_nodes(ch, total, ordinary, [&](int link, int first, int last) {
      ex_ordinary_link_flows(ch, q, link, first, last);
    });
  });
  if (ex_outlet_flow(ch, q) == 0) return 0;
  ex_report_negative_outlet_slope();
  return -1;
}

namespace {

// The sensitivity of a structure link's flow to the levels on its two sides (m2/s), by central
// differences over 1 mm: the sum of |dQ/dh1| and |dQ/dh2|. A release that follows its schedule
// whatever the levels has none.
double structure_stiffness(channel_state& ch, int link, double time) {
  constexpr double e = 0.001;  // m
  double h1 = 0.0, h2 = 0.0;
  structure_levels(ch, link, h1, h2);
  const double d1 = structure_flow(ch, link, time, h1 + e, h2, true) -
                    structure_flow(ch, link, time, h1 - e, h2, true);
  const double d2 = structure_flow(ch, link, time, h1, h2 + e, true) -
                    structure_flow(ch, link, time, h1, h2 - e, true);
  return (std::fabs(d1) + std::fabs(d2)) / (2.0 * e);
}

// The value of node j's point-source series at the model time `time`; a fault is recorded in
// `fault` when one is given (inside a parallel region), else reported.
double series_value(const channel_state& ch, int link, int j, double time, loop_fault* fault) {
  if (ch.stream_pointsource.empty()) return 0.0;
  time_series* series = ch.stream_pointsource(link, j);
  if (series == nullptr) return 0.0;
  return fault != nullptr ? ts_value(time, series, fault, 0) : ts_value(time, series);
}

// What node j of a routed link gains per second from everything but the one discharge
// `excluded_link` carries (the structure link at the node's end): the discharge from the node or
// links above, the headwater inflow of a head node, the lateral inflow, the point inflow and the
// node's point-source series; the node's own discharge downstream is a loss unless it is the one
// excluded.
double node_gain(const channel_state& ch, const link_node_array<double>& q, int link, int j,
                 int excluded_link, double time, loop_fault* fault) {
  const double* ql = q.link_nodes(link);
  double gain = ch.dx[link] * ch.qlat(link, j);
  if (j > 1) {
    gain += ql[j - 1];
  } else if (ch.ndep[link] > 0) {
    for (int k = 1; k <= ch.ndep[link]; ++k) {
      const int up = ch.uslinks[link][k];
      if (up != excluded_link) gain += q(up, ch.nx[up]);
    }
  } else {
    gain += ch.headwater_inflow;
  }
  const bool own_end_excluded = j == ch.nx[link] && ch.dslink[link] == excluded_link;
  if (!own_end_excluded) gain -= ql[j];
  gain += chan_point_inflow(ch.points, link, j);
  if (!ch.stream_pointsource.empty() && ch.stream_pointsource(link, j) != nullptr)
    gain += series_value(ch, link, j, time, fault);
  return gain;
}

}  // namespace

void ex_limit_structure_flows(const channel_state& ch, link_node_array<double>& q,
                              const link_node_array<double>& a, double time, double h,
                              loop_fault* fault) {
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if (!link_is_structure(type_of(ch, link))) continue;
    const int up = ch.uslinks[link][1];
    const int down = ch.dslink[link];
    double flow = q(link, 1);
    if (flow > 0.0 && link_is_routed(type_of(ch, up))) {
      const int n = ch.nx[up];
      const double at_hand =
          std::max(ch.dx[up] * a(up, n) + h * node_gain(ch, q, up, n, link, time, fault), 0.0);
      if (flow * h > at_hand) flow = at_hand / h;
    } else if (flow < 0.0 && down >= 1 && link_is_routed(type_of(ch, down))) {
      const double at_hand = std::max(
          ch.dx[down] * a(down, 1) + h * node_gain(ch, q, down, 1, link, time, fault), 0.0);
      if (-flow * h > at_hand) flow = -at_hand / h;
    }
    q(link, 1) = flow;
    q(link, 2) = flow;
    if (link_is_routed(type_of(ch, up))) q(up, ch.nx[up]) = flow;
  }
}

void ex_structure_stiffness(channel_state& ch, link_node_array<double>& stiffness, double time) {
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    const int type = type_of(ch, link);
    if (link_is_structure(type) && !link_is_lake(type) && !link_is_captured(type))
      stiffness(link, 1) = structure_stiffness(ch, link, time);
  }
}

void ex_link_end_stiffness(const channel_state& ch, link_node_array<double>& stiffness) {
  const int links = ch.chan_link_count;
  for (int link = 1; link <= links; ++link) {
    const int type = type_of(ch, link);
    if (link_is_lake(type) || link_is_captured(type)) continue;
    if (link_is_structure(type)) {
      const double k = stiffness(link, 1);
      const int up = ch.uslinks[link][1];
      const int down = ch.dslink[link];
      if (link_is_routed(type_of(ch, up))) stiffness(up, ch.nx[up]) += k;
      if (down >= 1 && link_is_routed(type_of(ch, down))) stiffness(down, 1) += k;
      continue;
    }
    double* r = stiffness.link_nodes(link);
    const double* conv = ch.conv.link_nodes(link);
    const double* bel = ch.bel.link_nodes(link);
    const double* depth = ch.chan_depth.link_nodes(link);
    const int n = ch.nx[link];
    const double dx = ch.dx[link];
    if (n >= 2) {
      r[1] +=
          2.0 * slope_flow_stiffness(bel[1] + depth[1], bel[2] + depth[2], dx, conv[1], conv[2]);
      r[n] += 2.0 * slope_flow_stiffness(bel[n - 1] + depth[n - 1], bel[n] + depth[n], dx,
                                         conv[n - 1], conv[n]);
    }
    const int down = ch.dslink[link];
    if (down < 1 || down > links || n < 1) continue;
    const int dtype = type_of(ch, down);
    if (link_is_lake(dtype) || link_is_captured(dtype)) {
      const double s = (level(ch, link, n) - ch.lake_elev[ch.lake2link[down]]) / (2.0 * dx);
      if (s > 0.0)
        r[n] += 2.0 * slope_flow_stiffness(level(ch, link, n), ch.lake_elev[ch.lake2link[down]],
                                           2.0 * dx, conv[n], conv[n]);
    } else if (!link_is_structure(dtype) && (dtype & (4 | 8 | 16)) != 0) {
      const double k =
          2.0 * slope_flow_stiffness(level(ch, link, n), level(ch, down, 1),
                                     0.5 * (ch.dx[down] + dx), conv[n], ch.conv(down, 1));
      r[n] += k;
      stiffness(down, 1) += k;
    }
  }
}

double ex_end_node_stiffness(const channel_state& ch, link_node_array<double>& stiffness) {
  const int links = ch.chan_link_count;
  for (int link = 1; link <= links; ++link) {
    if (!link_is_routed(type_of(ch, link)) || ch.nx[link] < 1) continue;
    double* r = stiffness.link_nodes(link);
    r[1] = 0.0;
    r[ch.nx[link]] = 0.0;
  }
  ex_link_end_stiffness(ch, stiffness);
  double limit = std::numeric_limits<double>::infinity();
  for (int link = 1; link <= links; ++link) {
    const int n = ch.nx[link];
    if (!link_is_routed(type_of(ch, link)) || n < 1) continue;
    limit = std::min(limit, ex_link_stiffness_limit(ch, stiffness, link, 1, 1));
    if (n > 1) limit = std::min(limit, ex_link_stiffness_limit(ch, stiffness, link, n, n));
  }
  return limit;
}

double ex_link_stiffness_limit(const channel_state& ch, const link_node_array<double>& stiffness,
                               int link, int first, int last) {
  // Each node's levels relax no faster than its flows' sensitivity over the width in which it
  // stores water (its flow area over its depth, never more than its top width for the channel's
  // sections, which widen upwards) times its length.
  const int widths = ch.topw.empty() ? -1 : ch.topw.node_count(link) + 1;
  const double* topw = widths >= 0 ? ch.topw.link_nodes(link) : nullptr;
  return stiffness_limit(stiffness.link_nodes(link), ch.chan_depth.link_nodes(link),
                         ch.area.link_nodes(link), topw, widths, ch.dx[link], first, last);
}

node_balance_view ex_node_balance_view(channel_state& ch, const link_node_array<double>& q,
                                       const link_node_array<double>& start,
                                       link_node_array<double>& a, int link) {
  node_balance_view v;
  v.q = q.link_nodes(link);
  v.lat = ch.qlat.link_nodes(link);
  v.start = start.link_nodes(link);
  v.area = a.link_nodes(link);
  if (ch.points.chan_point_on != 0)
    v.point_flow = &ch.points.chan_point_flow[static_cast<long>(link) * ch.points.node_stride];
  if (!ch.stream_pointsource.empty()) v.series = ch.stream_pointsource.link_nodes(link);
  if (ch.stream_loss && !ch.qriv_start.empty() && !ch.qriv.empty()) {
    v.seep_start = ch.qriv_start.link_nodes(link);
    v.seep = ch.qriv.link_nodes(link);
  }
  v.dx = ch.dx[link];
  v.held_node = ch.head_bound && link == ch.chan_link_count ? ch.nx[link] : 0;
  v.has_upstream = ch.ndep[link] > 0;
  v.head_inflow = v.has_upstream ? 0.0 : ch.headwater_inflow;
  return v;
}

void ex_head_inflow(const channel_state& ch, const link_node_array<double>& q, int link,
                    node_balance_view& v) {
  if (!v.has_upstream) return;
  double inflow = 0.0;
  for (int k = 1; k <= ch.ndep[link]; ++k) {
    const int up = ch.uslinks[link][k];
    inflow += q.link_nodes(up)[ch.nx[up]];
  }
  v.head_inflow = inflow;
}

double ex_chan_volume(channel_state& ch, link_node_array<double>& q, link_node_array<double>& a,
                      double time, double h, double /*dt*/, double& source_volume) {
  const int links = ch.chan_link_count;
  source_volume = 0.0;
  ex_limit_structure_flows(ch, q, a, time, h, nullptr);
  auto routed = [&](int link) { return link_is_routed(type_of(ch, link)); };
  const bool sources = !ch.stream_pointsource.empty();
  const bool points = ch.points.chan_point_on != 0;
  bool kept = true;
  for (int link = 1; link <= links && kept; ++link)
    if (routed(link) && ch.node_source.node_count(link) < ch.nx[link]) kept = false;
  // Without room to keep the nodes' source volumes, the nodes are balanced one after the other.
  if ((sources || points) && !kept) {
    for (int link = 1; link <= links; ++link) {
      if (!routed(link)) continue;
      node_balance_view v = ex_node_balance_view(ch, q, a, a, link);
      ex_head_inflow(ch, q, link, v);
      for (int j = 1; j <= ch.nx[link]; ++j) {
        const double series =
            v.series != nullptr && v.series[j] != nullptr ? h * ts_value(time, v.series[j]) : 0.0;
        source_volume += node_balance(v, j, h, series);
      }
    }
    return 0.0;
  }
  // Point-source series are looked up first, one node after the other (a lookup may report a
  // fault), into the nodes' source volumes.
  if (sources) ex_series_volumes(ch, time, h);
  // The nodes are independent: shared among the threads; the source volumes are then added
  // node after node in network order, as one thread adds them.
  const long total = chosen_node_total(ch, routed);
  on_team(routing_team(total), [&] {
    visit_own_nodes(ch, total, routed, [&](int link, int first, int last) {
      ex_link_volumes(ch, q, a, a, link, first, last, h);
    });
  });
  if (sources || points) source_volume = ex_source_volume(ch);
  return 0.0;
}

void ex_series_volumes(channel_state& ch, double time, double h) {
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if (!link_is_routed(type_of(ch, link))) continue;
    time_series* const* series = ch.stream_pointsource.link_nodes(link);
    double* s = ch.node_source.link_nodes(link);
    for (int j = 1; j <= ch.nx[link]; ++j)
      if (series[j] != nullptr) s[j] = h * ts_value(time, series[j]);
  }
}

void ex_link_volumes(channel_state& ch, const link_node_array<double>& q,
                     const link_node_array<double>& start, link_node_array<double>& a, int link,
                     int first, int last, double h) {
  node_balance_view v = ex_node_balance_view(ch, q, start, a, link);
  if (first == 1) ex_head_inflow(ch, q, link, v);
  const bool kept = v.point_flow != nullptr || v.series != nullptr;
  double* source = kept ? ch.node_source.link_nodes(link) : nullptr;
  if (source == nullptr) {
    for (int j = first; j <= last; ++j) node_balance(v, j, h, 0.0);
    return;
  }
  for (int j = first; j <= last; ++j) source[j] = node_balance(v, j, h, source[j]);
}

double ex_source_volume(const channel_state& ch) {
  double sum = 0.0;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if (!link_is_routed(type_of(ch, link))) continue;
    const double* s = ch.node_source.link_nodes(link);
    for (int j = 1; j <= ch.nx[link]; ++j) sum += s[j];
  }
  return sum;
}
