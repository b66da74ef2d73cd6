// Kernels of the channel constituent routing, on plain network arrays: the net source of a node
// from its pending amounts, and the explicit upwind advection and dispersion of one constituent
// along the links over one channel step, in sub-steps limited by the Courant number of every
// node, with an iterated mean of the face fluxes and a restart with a halved sub-step when a
// node would lose more mass than it holds. Called by the channel constituent routing step.
#pragma once

#include <algorithm>

#include "framework/core/block_sum.h"
#include "framework/core/link_node_array.h"

// One pending term of a node (or any store): `pending` (g) gathered over `interval` seconds is
// applied in the share dt / interval when the routing step dt is shorter than the interval by
// more than `tolerance` s, else whole; `sign` +1 adds to the mass m, -1 takes from it. What would
// take m below 0 takes exactly m. The applied amount leaves `pending`; returns it (in the
// pending table's sense). Terms of at most 1e-16 g are skipped.
double apply_pending_term(double& m, double& pending, double dt, double interval, double tolerance,
                          double sign);

struct chan_lake_work;

// The channel network as the routing reads it. Per link 1..links: type bits, computational
// nodes nx, upstream link count and list, downstream link (0 at the outlet), node length (m).
// Per (link, node): flow area at the end (area) and the start (area_old) of the channel step
// (m2) and the water that passed the node's downstream face during the step (face_volume, m3,
// negative upstream). Flat node index: link x stride + node.
struct chan_network_view {
  int links = 0;
  int stride = 0;
  const int* ltype = nullptr;
  const int* nx = nullptr;
  const int* ndep = nullptr;
  const int* const* uslinks = nullptr;  // [link][1..ndep[link]]
  const int* dslink = nullptr;
  const double* dx = nullptr;
  const link_node_array<double>* area = nullptr;
  const link_node_array<double>* area_old = nullptr;
  const link_node_array<double>* face_volume = nullptr;
  chan_lake_work* lakes = nullptr;  // the channel lakes, none when null
  // The links at the network's ends that the routing books after every accepted sub-step,
  // end_links[1..end_count] in link order, as chan_network_ends lists them for this view (its
  // lakes included); when null the routing looks at every link.
  const int* end_links = nullptr;
  int end_count = 0;
};

// The channel lakes as the routing reads and moves them. A lake is one fully mixed store: the
// links that end in it (or in a link it has captured) give it their last node's advective flux
// and no dispersion; it empties through the structure link below it, whose first node's face
// volume carries the lake's concentration to the first node of the link below the structure,
// to another lake or out of the network. Per link: the lake of a lake or captured link. Per lake
// 1..count: the volume at the start and at the end of the channel step (m3), the accepted mass
// (g) and concentration (g/m3) in and out, their values at the step's start (work), the net
// source rate (g/s) and the volume advanced through the sub-steps (work).
struct chan_lake_work {
  int count = 0;
  const int* lake2link = nullptr;
  const double* vol_start = nullptr;
  const double* vol_end = nullptr;
  double* mass = nullptr;
  double* conc = nullptr;
  double* start_mass = nullptr;
  double* start_conc = nullptr;
  const double* source = nullptr;
  double* vol = nullptr;
  // Set by the routing (g over the step): brought by the links that end in a lake, given by the
  // lakes' outlets to the links below them and carried by them out of the network.
  double from_links = 0.0;
  double to_links = 0.0;
  double out_of_network = 0.0;
};

// The lake a routed link ends in (its downstream link is a lake or a link a lake has captured),
// 0 when none or without lakes.
int chan_link_lake_end(const chan_network_view& net, int link);

// The lake a structure link drains (its upstream link is a lake or captured link), 0 when none.
int chan_structure_lake(const chan_network_view& net, int link);

// The work copies of the constituent being routed, per flat node (see chan_contam_tables).
struct chan_route_work {
  double* acc_mass;
  double* acc_conc;
  double* start_mass;
  double* start_conc;
  double* cur_mass;
  double* cur_conc;
  double* it_mass;
  double* it_conc;
  const double* source;     // g/s
  const double* disp_coef;  // m2/s
  double* adv0;
  double* adv_prev;  // not read: the passes alternate between adv0 and adv
  double* adv;
  double* disp0;
  double* disp_prev;  // not read: the passes alternate between disp0 and disp
  double* disp;
  double* area_adt;
};

// A link the routing carries constituents along: neither a lake, a structure nor captured.
bool chan_link_routed(int ltype);

// Routed nodes of one part of a block-ordered sum over the network's nodes.
inline constexpr int chan_sum_block_nodes = 1024;

// Numbers the nodes of the routed links one after the other, links in order: first[link]
// (1..links + 1) gets the number of node 1 of the link (counted from 1), the next link's for a
// link that is not routed or has no nodes; first[links + 1] is one past the last. Returns the
// count of routed nodes. Called on one thread once per routing step (lakes may capture links).
int chan_number_routed_nodes(const chan_network_view& n, int* first);

// The sum over every node of every routed link of what visit(link, node, flat index) returns:
// the nodes, numbered by chan_number_routed_nodes, are cut into fixed blocks of
// chan_sum_block_nodes (a block may span links), each block's part is formed by one thread in
// node order and the parts are added in block order, so the sum is the same bits on any number
// of threads and the team is sized by the nodes, not the links. T is a double or a record of
// doubles with +=; visit is called once for every node and may write that node's own entries.
template <class T = double, class Visit>
T chan_routed_node_sum(const chan_network_view& n, const int* first, int routed_nodes,
                       const Visit& visit) {
  return block_ordered_sum<chan_sum_block_nodes, T>(
      routed_nodes, T{},
      [&](int lo, int hi) {
        T part{};
        // The link holding node number lo: the last link whose first number is not above it
        // (links without routed nodes share their number with the next link).
        int link =
            static_cast<int>(std::upper_bound(first + 1, first + n.links + 2, lo) - first) - 1;
        int node = lo - first[link] + 1;
        for (int k = lo; k <= hi; ++k) {
          while (k >= first[link + 1]) {
            ++link;
            node = 1;
          }
          part += visit(link, node, link * n.stride + node);
          ++node;
        }
        return part;
      },
      [](T& total, const T& p) { total += p; });
}

// Lists in ends[1..] (room for n.links), in link order, the links the routing books at the
// network's ends: the routed links whose last node's water leaves the network or goes into a
// lake, and the outlet structures of the lakes. Returns their count. Called on one thread once
// per routing step, after the view's lakes are set, so that the sub-steps look at these links
// only.
int chan_network_ends(const chan_network_view& n, int* ends);

// For a hydraulic structure link s (neither a lake nor captured) whose water goes on into an
// ordinary link: that link. A structure holds no water: the constituents the links above it
// give it pass straight on to that link's first node (without dispersion across it). 0 for any
// other link.
int chan_structure_passes(const chan_network_view& n, int s);

// Routes one constituent over the channel step of dt seconds: on entry acc_mass and acc_conc hold
// the nodes' masses (g) and concentrations (g/m3) and source the net source rates; on return
// they hold the step's end; with lakes, so do the lakes' mass and conc, and the lakes' books
// are set. `outlet_mass` gets the mass (g) that left through the outlet node's downstream face
// or a lake's outlet out of the network; `least_mass`, when given, the smallest mass (g, at most
// 0) a routed node holds at the step's end, so that a caller finds whether any node was left
// negative without looking at every node. Returns 0, or -1 when a sub-step fell below 0.001 s
// (the run must stop). Every node gathers its own faces' fluxes, so the result is the same on any
// number of threads.
int chan_wq_route(const chan_network_view& net, const chan_route_work& w, double dt,
                  double& outlet_mass, double* least_mass = nullptr);
