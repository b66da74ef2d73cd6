// Link-end flows, channel volume and weirs: the discharge at every node of the channel network
// from the water-surface slopes (diffusive wave), through structure links and at the outlet, and
// the volume balance that turns discharges and lateral inflows into new flow areas. Called by the
// explicit channel routing in every predictor and corrector pass.
#include "channel/link_flows.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "channel/channel_state.h"
#include "channel/culverts.h"
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

// Discharge between two levels a distance `dist` apart: the square root of the slope times the
// conveyance of the upstream side (the first when the water falls towards the second, the
// second when it rises). Equal levels give zero through the positive branch.
double slope_flow(double upper_level, double lower_level, double dist, double conv_first,
                  double conv_second) {
  const double s = (upper_level - lower_level) / dist;
  return s >= 0.0 ? std::sqrt(s) * conv_first : -std::sqrt(-s) * conv_second;
}

// The flows inside an ordinary link and at its downstream end.
void ordinary_link_flows(channel_state& ch, link_node_array<double>& q, int link) {
  double* ql = q.link_nodes(link);
  const double* conv = ch.conv.link_nodes(link);
  const int n = ch.nx[link];
  const double dx = ch.dx[link];
  const int down = ch.dslink[link];
  if (down >= 1 && down <= ch.chan_link_count) {
    const int dtype = type_of(ch, down);
    if (link_is_structure(dtype)) {
      ql[n] = q(down, 1);
    } else if (link_is_lake(dtype) || link_is_captured(dtype)) {
      // No flow back out of a lake.
      const double s = (level(ch, link, n) - ch.lake_elev[ch.lake2link[down]]) / (2.0 * dx);
      ql[n] = s > 0.0 ? std::sqrt(s) * conv[n] : 0.0;
    } else if ((dtype & (4 | 8 | 16)) != 0) {
      ql[n] = slope_flow(level(ch, link, n), level(ch, down, 1), 0.5 * (ch.dx[down] + dx), conv[n],
                         ch.conv(down, 1));
    }
  }
  const double* bel = ch.bel.link_nodes(link);
  const double* depth = ch.chan_depth.link_nodes(link);
  for (int j = n - 1; j >= 1; --j)
    ql[j] = slope_flow(bel[j] + depth[j], bel[j + 1] + depth[j + 1], dx, conv[j], conv[j + 1]);
}

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
double culvert_element_flow(hydraulic_structure& s, int link, int element, double h1, double h2) {
  s.inlet_coeff = 1.07;
  const double d = s.shape1;
  const culvert_flow full = culv_flow(barrel_of(s), element, s.upinvert + 1.5 * d, 0.0);
  if (full.q == culvert_failure) {
    printf("Error in link number: %d ", link);
    stop_now();
  }
  const culvert_flow near_full = culv_flow(barrel_of(s), element, s.upinvert + 1.49 * d, 0.0);
  if (near_full.q == culvert_failure) {
    printf("Error in link number %d: ", link);
    stop_now();
  }
  s.inlet_coeff =
      full.q / (near_full.flow_area * std::sqrt(19.62 * (1.49 * d - near_full.ref_depth)));
  if (s.inlet_coeff > 1.0) s.inlet_coeff = 0.99;
  const culvert_flow flow = culv_flow(barrel_of(s), element, h1, h2);
  if (flow.q == culvert_failure) {
    printf("Error in link number %d: ", link);
    stop_now();
  }
  return flow.q;
}

// The discharge of one structure element between the levels h1 and h2 at the model time `time`.
void element_flow(channel_state& ch, int link, int element, double time, double h1, double h2,
                  double& q) {
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
      q = culvert_element_flow(elements[element], link, element, h1, h2);
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
void structure_link_flows(channel_state& ch, link_node_array<double>& q, int link, double time,
                          double h) {
  const int up = ch.uslinks[link][1];
  const int down = ch.dslink[link];
  const int utype = type_of(ch, up);
  const int dtype = type_of(ch, down);
  // A lake on either side (or a link a lake has captured) stands at the lake's surface.
  const bool lake_up = link_is_lake(utype) || link_is_captured(utype);
  const bool lake_down = link_is_lake(dtype) || link_is_captured(dtype);
  const double h1 = lake_up ? ch.lake_elev[ch.lake2link[up]] : ch.yp(up, ch.nx[up]);
  const double h2 = lake_down ? ch.lake_elev[ch.lake2link[down]] : ch.yp(down, 1);
  double sum = 0.0;
  const int first = ch.link_structures[link][1];
  const int last = ch.link_structures[link][2];
  for (int e = first; e <= last; ++e) {
    double qe = 0.0;
    element_flow(ch, link, e, time, h1, h2, qe);
    sum += qe;
  }
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

// The outlet boundary at the last node of the last link.
int outlet_flow(channel_state& ch, link_node_array<double>& q) {
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
  printf("The outlet slope is negative.  Make sure that the bed\n");
  printf("elevation of the most downstream node is lower than\n");
  printf("the bed elevation of the node just upstream from it.\n");
  printf("Program stopped.\n");
  stop_now();
  return -1;
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

int ex_link_end_flows(channel_state& ch, link_node_array<double>& q, double time, double h) {
  for (int link = ch.chan_link_count; link >= 1; --link) {
    const int type = type_of(ch, link);
    if (link_is_lake(type) || link_is_captured(type)) continue;
    if (link_is_structure(type)) {
      structure_link_flows(ch, q, link, time, h);
    } else {
      ordinary_link_flows(ch, q, link);
    }
  }
  return outlet_flow(ch, q);
}

double ex_chan_volume(channel_state& ch, const link_node_array<double>& q,
                      link_node_array<double>& a, double time, double h, double /*dt*/) {
  const int links = ch.chan_link_count;
  const bool sources = !ch.stream_pointsource.empty();
  const bool points = ch.points.chan_point_on != 0;
  for (int link = 1; link <= links; ++link) {
    if (!link_is_routed(type_of(ch, link))) continue;
    const int n = ch.nx[link];
    const double* point_flow =
        points ? &ch.points.chan_point_flow[static_cast<long>(link) * ch.points.node_stride]
               : nullptr;
    const double dx = ch.dx[link];
    const double* ql = q.link_nodes(link);
    const double* lat = ch.qlat.link_nodes(link);
    double* al = a.link_nodes(link);
    const bool held_outlet = ch.head_bound && link == links;
    for (int j = 1; j <= n; ++j) {
      const double v0 = dx * al[j];
      double dv = 0.0;
      if (j == 1) {
        const int up_count = ch.ndep[link];
        if (up_count > 0) {
          double inflow = 0.0;
          for (int k = 1; k <= up_count; ++k) {
            const int up = ch.uslinks[link][k];
            inflow += q(up, ch.nx[up]);
          }
          dv = h * (dx * lat[1] + inflow - ql[1]);
        } else {
          dv = h * (dx * lat[1] - ql[1]) + h * ch.headwater_inflow;
        }
      } else if (!(held_outlet && j == n)) {
        dv = h * (ql[j - 1] - ql[j] + dx * lat[j]);
      }
      // A point inflow at the held outlet node passes straight through it with the outlet flow.
      if (points && !(held_outlet && j == n)) dv += h * point_flow[j];
      if (sources) {
        time_series* series = ch.stream_pointsource(link, j);
        if (series != nullptr) dv += h * ts_value(time, series);
      }
      al[j] = (v0 + dv) / dx;
    }
  }
  return 0.0;
}
