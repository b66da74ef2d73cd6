// Kernels of the channel constituent routing, on plain network arrays: the net source of a node
// from its pending amounts, and the explicit upwind advection and dispersion of one constituent
// along the links over one channel step, in sub-steps limited by the Courant number of every
// node, with an iterated mean of the face fluxes and a restart with a halved sub-step when a
// node would lose more mass than it holds. Called by the channel constituent routing step.
#pragma once

#include "framework/core/link_node_array.h"

// One pending term of a node (or any store): `pending` (g) gathered over `interval` seconds is
// applied in the share dt / interval when the routing step dt is shorter than the interval by
// more than `tolerance` s, else whole; `sign` +1 adds to the mass m, -1 takes from it. What would
// take m below 0 takes exactly m. The applied amount leaves `pending`; returns it (in the
// pending table's sense). Terms of at most 1e-16 g are skipped.
double apply_pending_term(double& m, double& pending, double dt, double interval, double tolerance,
                          double sign);

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
};

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
  double* adv_prev;
  double* adv;
  double* disp0;
  double* disp_prev;
  double* disp;
  double* area_adt;
};

// A link the routing carries constituents along: neither a lake, a structure nor captured.
bool chan_link_routed(int ltype);

// For a hydraulic structure link s (neither a lake nor captured) whose water goes on into an
// ordinary link: that link. A structure holds no water: the constituents the links above it
// give it pass straight on to that link's first node (without dispersion across it). 0 for any
// other link.
int chan_structure_passes(const chan_network_view& n, int s);

// Routes one constituent over the channel step of dt seconds: on entry acc_mass and acc_conc hold
// the nodes' masses (g) and concentrations (g/m3) and source the net source rates; on return
// they hold the step's end. `outlet_mass` gets the mass (g) that left through the outlet node's
// downstream face. Returns 0, or -1 when a sub-step fell below 0.001 s (the run must stop).
// Every node gathers its own faces' fluxes, so the result is the same on any number of threads.
int chan_wq_route(const chan_network_view& net, const chan_route_work& w, double dt,
                  double& outlet_mass);
