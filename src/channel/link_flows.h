// Link-end flows, channel volume and weirs: one flow evaluation (the discharge at every node of
// the network from the water-surface slopes and conveyances, the flow through hydraulic
// structures and the outlet boundary) and one storage update (the new flow area of every node
// from those discharges and the lateral inflows) of the explicit channel routing, which calls
// them in every predictor and corrector pass of its sub-steps.
#pragma once

#include "channel/routing_kernels.h"
#include "framework/core/link_node_array.h"

struct channel_state;
struct hydraulic_structure;
class loop_fault;

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

// The parts of one flow evaluation and one volume balance, for the routing's sub-step, which
// runs the per-node parts in its own parallel regions and the rest between them or on one
// thread.
//
// The flows through the structure links into `q` from the present levels, downstream to upstream
// (a culvert may print its fault and report code 4000).
void ex_structure_flows(channel_state& ch, link_node_array<double>& q, double time, double h);
// What lies below the last node of `link`, with a structure's discharge taken from `q`.
link_end_view ex_link_end_below(const channel_state& ch, const link_node_array<double>& q,
                                int link);
// The flows into `q` at the nodes first..last of a routed link: from the slope of the levels to
// the next node, and at its last node from what lies below it.
void ex_ordinary_link_flows(const channel_state& ch, link_node_array<double>& q, int link,
                            int first, int last);
// The outlet boundary's flow at the last node of the last link into `q`: 0, or -1 (printing
// nothing) when the outlet's bed slopes upwards without a head boundary; then
// ex_report_negative_outlet_slope prints the message and reports code 4000.
int ex_outlet_flow(const channel_state& ch, link_node_array<double>& q);
void ex_report_negative_outlet_slope();
// A structure passes at most the water at hand over the sub-step h on the side it draws from:
// what the node next to it holds at the start of the sub-step (`a`) and gains in it from
// everything else. The cut flow is carried by the structure's nodes and by the link end that
// feeds it. A point-source series that cannot be read is recorded in `fault` when one is given,
// else reported.
void ex_limit_structure_flows(const channel_state& ch, link_node_array<double>& q,
                              const link_node_array<double>& a, double time, double h,
                              loop_fault* fault);
// The sensitivity of every structure link's flow to its levels, kept at its node 1 of
// `stiffness` (culverts are computed: on one thread, outside parallel regions).
void ex_structure_stiffness(channel_state& ch, link_node_array<double>& stiffness, double time);
// Adds to the end nodes of the routed links the stiffness of the flows at their ends (inside the
// link, across junctions, into lakes, and the structures' kept by ex_structure_stiffness), one
// link after the other.
void ex_link_end_stiffness(const channel_state& ch, link_node_array<double>& stiffness);
// The stiffness of the routed links' end nodes (1 and nx), which the flows of junctions and
// structures also reach: set to 0, then given their flows' by ex_link_end_stiffness. Returns the
// longest sub-step they allow (s; infinity when nothing limits). The interior nodes take theirs
// from interior_stiffness: the longest sub-step the network's stiffness allows is the shorter of
// both. This bounds the diffusive relaxation of the levels (about dx^2 T S / Q for a uniform
// reach) and the response of a weir or culvert to the levels on its sides.
double ex_end_node_stiffness(const channel_state& ch, link_node_array<double>& stiffness);
// The longest sub-step the stiffness allows the nodes first..last of a routed link.
double ex_link_stiffness_limit(const channel_state& ch, const link_node_array<double>& stiffness,
                               int link, int first, int last);
// The volume balance's view of a routed link: discharges `q`, areas at the start of the sub-step
// `start`, new areas `a`; node 1's inflow from the links above is set by ex_head_inflow.
node_balance_view ex_node_balance_view(channel_state& ch, const link_node_array<double>& q,
                                       const link_node_array<double>& start,
                                       link_node_array<double>& a, int link);
void ex_head_inflow(const channel_state& ch, const link_node_array<double>& q, int link,
                    node_balance_view& v);
// The volume each routed node's point-source series brings in the sub-step h at the model time
// `time`, into node_source (one node after the other: a lookup may report a fault).
void ex_series_volumes(channel_state& ch, double time, double h);
// The volume balance of the nodes first..last of a routed link into `a` from the areas `start`;
// with point inflows or series, each node's source volume replaces its series volume in
// node_source.
void ex_link_volumes(channel_state& ch, const link_node_array<double>& q,
                     const link_node_array<double>& start, link_node_array<double>& a, int link,
                     int first, int last, double h);
// The routed nodes' source volumes of node_source added node after node in network order (m3).
double ex_source_volume(const channel_state& ch);
