// Link-end flows, channel volume and weirs: one flow evaluation (the discharge at every node of
// the network from the water-surface slopes and conveyances, the flow through hydraulic
// structures and the outlet boundary) and one storage update (the new flow area of every node
// from those discharges and the lateral inflows) of the explicit channel routing, which calls
// them in every predictor and corrector pass of its sub-steps.
#pragma once

#include "framework/core/link_node_array.h"

struct channel_state;
struct hydraulic_structure;

// Link kinds of the routing, from the link's type bits.
inline bool link_is_lake(int ltype) {
  return (ltype & 32) != 0;
}
inline bool link_is_structure(int ltype) {
  return (ltype & 64) != 0;
}
// A sectioned link (trapezoid, break-point or compound) that a rising lake has taken over.
inline bool link_is_captured(int ltype) {
  return (ltype & 128) != 0 && (ltype & (4 | 8 | 16)) != 0;
}
// A link the routing carries water through: neither a lake, nor a structure, nor captured.
inline bool link_is_routed(int ltype) {
  return !link_is_lake(ltype) && !link_is_structure(ltype) && !link_is_captured(ltype);
}

// Discharge (m3/s) over a broad weir of crest length `length` (m) and crest elevation `crest`
// (m) between the levels h1 upstream and h2 downstream (m), with the discharge coefficients for
// flow downstream (`cd_forward`) and upstream (`cd_reverse`): free flow, or submerged flow when
// the lower head is at least two thirds of the higher, linear in the level difference below
// 1 cm. Positive when h1 > h2.
double weir_discharge(double length, double crest, double cd_forward, double cd_reverse, double h1,
                      double h2);

// Discharge (m3/s) over a weir whose crest of length `length` sags to its lowest elevation
// `crest` between two side slopes s1 and s2; positive when h1 > h2. There is no submerged form.
double sag_weir_discharge(double length, double crest, double s1, double s2, double cd_forward,
                          double cd_reverse, double h1, double h2);

// The weir and sag-weir forms of structure element `element` of `elements` (1..count): the
// discharge through `q`, positive when h1 > h2.
void weir_flow(const hydraulic_structure* elements, int element, double h1, double h2, double& q);
void sag_weir_flow(const hydraulic_structure* elements, int element, double h1, double h2,
                   double& q);

// Factor (0..1) by which a submergence ratio x reduces a weir's free discharge: 1 up to 0.76,
// falling through 0.947 at 0.8 and 0.75 at 0.95 to 0 at 1.
double weir_submergence_factor(double x);

// Checks that every link, node, lake and structure element the routing reaches lies inside the
// channel record's tables: downstream and upstream links, node counts against the node arrays,
// structure elements and lake numbers. A fault prints a message naming the link (and node,
// element or lake), reports code 4000 at once and gives false.
bool check_routing_network(const channel_state& ch);

// One flow evaluation into `q` (qp or one of the routing's pass arrays) from the present
// geometry: diffusive-wave flows inside links, the flow at each link's downstream end and through
// structure links, and the outlet boundary. `time` is the model time (Julian days) and `h` the
// sub-step (s). Returns 0, or -1 after a negative outlet slope (its message printed and code 4000
// reported). A culvert that cannot be computed names its link and reports code 4000; the
// evaluation goes on.
int ex_link_end_flows(channel_state& ch, link_node_array<double>& q, double time, double h);

// One storage update: the flow areas `a` (holding the areas at the start of the sub-step) take
// the sub-step's net inflow at every node of the routed links from the discharges `q`, the
// lateral inflow `qlat`, the headwater inflow of head links, the point inflows of the channel
// point-source file (at a head-boundary outlet node they pass through with the outlet flow
// instead) and the nodes' point-source series at the model time `time` (Julian days); `h` is the
// sub-step and `dt` the whole channel step (s). A structure's flow in `q` is first cut to the
// water at hand on the side it draws from (the node's water at the start of the sub-step and
// what it gains in it), and a negative point inflow or series takes at most the water the node
// has. `source_volume` gets the water the point inflows and series brought in (m3, less what a
// sink could not take). Returns the volume the pipe network delivered into channel nodes (m3).
double ex_chan_volume(channel_state& ch, link_node_array<double>& q, link_node_array<double>& a,
                      double time, double h, double dt, double& source_volume);

// The longest sub-step (s) the network's stiffness allows from the present geometry at the model
// time `time`: every node's storage width times its spacing over the summed sensitivity of the
// flows it joins to their levels (slope flows between nodes and across junctions, structure
// flows). This bounds the diffusive relaxation of the levels (about dx^2 T S / Q for a uniform
// reach) and the response of a weir or culvert to the levels on its sides. `stiffness` is a work
// array over the routed links' nodes. Infinity when nothing limits the sub-step.
double ex_stable_substep(channel_state& ch, link_node_array<double>& stiffness, double time);
