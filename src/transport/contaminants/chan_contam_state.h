// Dissolved constituents in the channel network: the per-constituent, per-node tables that the
// channel constituent set-up creates, the pending amounts the sources gather for the routing,
// the work copies of the routing and the channel's books. Held by the transport record of the
// run's model_state; the node concentration and mass tables themselves are transport_state's
// chan_con_conc and chan_con_mass (flat node index link x con_node_stride + node).
#pragma once

#include "framework/core/raw_arrays.h"

struct chan_contam_tables {
  int ready = 0;  // the tables exist: the channel constituent steps act

  // Per constituent 1..num_contaminants, per flat node.
  raw_array2d<double> chan_decay_coef;  // 1/s: first-order decay coefficient
  raw_array2d<double> chan_con_disp;    // m2/s: dispersion coefficient
  raw_array2d<double> chan_mass;        // g: decayed mass gathered, not yet applied
  raw_array2d<double> chan_qlat_mass;   // g: brought by the overland water, not yet applied
  raw_array2d<double> chan_gw_mass;     // g: exchanged with the ground through the stream bed,
                                        // not yet applied (negative out of the channel); stream
                                        // loss only
  raw_array2d<double> chan_point_mass_flux;  // g: brought (positive) or taken (negative) by the
                                             // channel point sources, not yet applied; with a
                                             // point-source file only

  // Work copies of the constituent being routed, per flat node: the accepted mass (g) and
  // concentration (g/m3) of the sub-step's start, the step's start, the current and the
  // iterate values, the net source rate (g/s), the advective flux through the node's
  // downstream face (g per sub-step) of the sub-step's start, of the last pass and of this
  // pass, the dispersive flux there (g/s) likewise, and the flow area advanced through the
  // sub-steps (m2).
  raw_array1d<double> acc_mass, acc_conc;
  raw_array1d<double> start_mass, start_conc;
  raw_array1d<double> cur_mass, cur_conc;
  raw_array1d<double> it_mass, it_conc;
  raw_array1d<double> source;
  raw_array1d<double> adv0, adv_prev, adv;
  raw_array1d<double> disp0, disp_prev, disp;
  raw_array1d<double> area_adt;
  raw_array1d<double> disp_coef;  // m2/s: the constituent's dispersion coefficient

  // Schedules (Julian days) and their intervals (s).
  double decay_next = 0.0;
  double decay_last = 0.0;
  double decay_interval = 0.0;
  double lateral_last = 0.0;      // last exchange with the overland plane
  double lateral_interval = 0.0;  // s: interval of the last exchange
  double gw_last = 0.0;           // last gathering of the stream-bed exchange
  double gw_interval = 0.0;       // s: interval of the last gathering
  int clocks_ready = 0;

  // Run books (kg), per constituent 1..num_contaminants.
  raw_array1d<double> init_total;   // in the channels at start-up
  raw_array1d<double> qlat_total;   // handed over by the overland water (net)
  raw_array1d<double> decay_total;  // decayed in the channels
  raw_array1d<double> out_total;    // left through the outlet node
  raw_array1d<double> restored;     // added back to nodes the routing left slightly negative
  raw_array1d<double> gw_total;     // exchanged with the ground through the stream beds (net,
                                    // negative out of the channels); stream loss only
  raw_array1d<double> point_total;  // brought by the channel point sources (net, negative where
                                    // withdrawals took more); with a point-source file only
};
