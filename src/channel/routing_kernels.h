// Per-node kernels of the explicit channel routing on one link's arrays (pointers indexed by
// node) and scalars: the slope flows inside a link and at its downstream end, the volume balance
// of a node, the Courant number and the stiffness bound of the
// sub-step. The routing and its flow and volume operations unpack the channel record into these
// views and call the kernels on the nodes first..last of one link, whatever thread runs them.
#pragma once

#include <algorithm>
#include <cmath>

struct time_series;

// Discharge between two levels a distance `dist` apart: the square root of the slope times the
// conveyance of the upstream side (the first when the water falls towards the second, the
// second when it rises). Equal levels give zero through the positive branch.
inline double slope_flow(double upper_level, double lower_level, double dist, double conv_first,
                         double conv_second) {
  const double s = (upper_level - lower_level) / dist;
  return s >= 0.0 ? std::sqrt(s) * conv_first : -std::sqrt(-s) * conv_second;
}

// One link's bed, depth and conveyance by node, its spacing (m) and its computational nodes.
struct link_levels_view {
  const double* bel = nullptr;
  const double* depth = nullptr;
  const double* conv = nullptr;
  double dx = 0.0;
  int nodes = 0;
};

// The slope flows q[j] from node j to node j + 1 for j = first..min(last, nodes - 1).
void slope_flows(const link_levels_view& v, int first, int last, double* q);

// What takes a link's water at its last node, and how: another sectioned link (its first node's
// level and conveyance and its spacing), a structure (its discharge), a lake (its level), or
// nothing the link's own flows set (the outlet, or a link that drains nowhere).
struct link_end_view {
  enum kind_t { open, routed, structure, lake };
  kind_t kind = open;
  double level = 0.0;  // routed: level at the lower link's first node; lake: the lake's level (m)
  double conv = 0.0;   // routed: conveyance at the lower link's first node
  double dx = 0.0;     // routed: the lower link's node spacing (m)
  double flow = 0.0;   // structure: the structure's discharge (m3/s)
};

// The discharge at the last node of a link from what lies below it; `current` is kept where
// nothing below sets it. No flow comes back out of a lake.
double link_end_flow(const link_levels_view& v, const link_end_view& below, double current);

// One link's arrays for the volume balance of its nodes over a sub-step: the discharges `q`, the
// lateral inflow per metre `lat`, the flow areas at the start of the sub-step `start` and the
// new areas `area`; the point inflows (m3/s, null when none) and the point-source series (null
// when none). Node 1 takes `head_inflow`: the summed discharge of the links above when
// `has_upstream`, else the run's headwater inflow. `held_node` is the head-boundary outlet node
// whose water passes through with the outlet flow (0 none).
struct node_balance_view {
  const double* q = nullptr;
  const double* lat = nullptr;
  const double* start = nullptr;
  double* area = nullptr;
  const double* point_flow = nullptr;
  time_series* const* series = nullptr;
  const double* seep_start = nullptr;  // stream-bed seepage at the sub-step's start (m2/s)
  double* seep = nullptr;              // the seepage the balance passed (m2/s), or null
  double dx = 0.0;
  double head_inflow = 0.0;
  bool has_upstream = false;
  int held_node = 0;
};

// The new flow area of node j over the sub-step h (s); `series_volume` is the volume the node's
// point-source series brings in the sub-step (used where the node has a series). A sink takes at
// most the water at hand: what the node holds and gains in the sub-step. Returns the volume the
// point inflow and the series brought in (m3, less what a sink could not take).
inline double node_balance(const node_balance_view& v, int j, double h, double series_volume) {
  const double dx = v.dx;
  const double v0 = dx * v.start[j];
  double dv = 0.0;
  if (j == 1) {
    if (v.has_upstream)
      dv = h * (dx * v.lat[1] + v.head_inflow - v.q[1]);
    else
      dv = h * (dx * v.lat[1] - v.q[1]) + h * v.head_inflow;
  } else if (j != v.held_node) {
    dv = h * (v.q[j - 1] - v.q[j] + dx * v.lat[j]);
  }
  // A point inflow at the held outlet node passes straight through it with the outlet flow.
  double source = 0.0;
  if (v.point_flow != nullptr) {
    if (j != v.held_node) dv += h * v.point_flow[j];
    source += h * v.point_flow[j];
  }
  if (v.series != nullptr && v.series[j] != nullptr) {
    dv += series_volume;
    source += series_volume;
  }
  if (source < 0.0 && v0 + dv < 0.0) {
    const double cut = std::min(-(v0 + dv), -source);
    dv += cut;
    source += cut;
  }
  // Seepage through the stream bed: a loss takes at most the water at hand, and never turns
  // into a gain where the flows alone already overdraw the node. The held outlet node passes
  // nothing through its bed.
  if (v.seep != nullptr) {
    double q = j != v.held_node ? v.seep_start[j] : 0.0;
    if (q < 0.0 && q * h * dx + dv + v0 < 0.0)
      q = dv < 0.0 ? -std::max(dv + v0, 0.0) / (h * dx) : -v0 / (h * dx);
    v.seep[j] = q;
    dv += h * q * dx;
  }
  v.area[j] = (v0 + dv) / dx;
  return source;
}

// The largest Courant number (h / dx) (q / a) of the nodes first..last of a link (0 where a node
// holds no area), counting only nodes up to `counted`. Sets `fault` at a node whose area is not a
// number or whose level lies below its bed.
double courant_max(const double* area, const double* yp, const double* bel, const double* q,
                   double dx, double h, int first, int last, int counted, int& fault);

// The sensitivity of a slope flow to the levels at its ends (m2/s): the flow goes as the square
// root of the level difference, so a change of either level moves it by conveyance /
// (2 dist sqrt(s)). Below a level difference of 1 mm the square root's slope is taken at 1 mm:
// still water is not infinitely stiff, and an overshoot of less than a millimetre is harmless.
inline double slope_flow_stiffness(double upper_level, double lower_level, double dist,
                                   double conv_first, double conv_second) {
  constexpr double level_floor = 0.001;  // m
  const double s = (upper_level - lower_level) / dist;
  const double conv = s >= 0.0 ? conv_first : conv_second;
  return conv / (2.0 * dist * std::sqrt(std::max(std::fabs(s), level_floor / dist)));
}

// The stiffness r[j] of the nodes first..last inside a link: twice the sensitivity of the flows
// on its two sides. The link's end nodes (1 and nodes), which the flows of junctions and
// structures also reach, are left alone.
void interior_stiffness(const link_levels_view& v, int first, int last, double* r);

// The longest sub-step (s) the stiffness r allows the nodes first..last of a link: each node's
// storage width (flow area over depth, or its top width below a millimetre of depth; `topw` null
// or holding nodes up to `widths`) times its spacing over its stiffness. Infinity when nothing
// limits.
double stiffness_limit(const double* r, const double* depth, const double* area, const double* topw,
                       int widths, double dx, int first, int last);
