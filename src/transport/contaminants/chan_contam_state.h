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

  // Work copies of the constituent being routed, per flat node (the routing accepts its
  // sub-steps into chan_con_mass and chan_con_conc themselves): the mass (g) and concentration
  // (g/m3) of the step's start, the current and the iterate values, the net source rate (g/s),
  // the advective flux through the node's downstream face (g per sub-step) of the sub-step's
  // start, of the last pass and of this pass, the dispersive flux there (g/s) likewise, and the
  // flow area advanced through the sub-steps (m2).
  raw_array1d<double> start_mass, start_conc;
  raw_array1d<double> cur_mass, cur_conc;
  raw_array1d<double> it_mass, it_conc;
  raw_array1d<double> source;
  raw_array1d<double> adv0, adv_prev, adv;
  raw_array1d<double> disp0, disp_prev, disp;
  raw_array1d<double> area_adt;
  // Per link 1..links + 1: the number of the link's node 1 among the routed nodes counted one
  // link after the other (the next link's when it has none; links + 1: one past the last), and
  // the count of routed nodes; renumbered at each channel constituent step. The node sums of the
  // steps go over these numbers in fixed blocks.
  raw_array1d<int> routed_first;
  int routed_count = 0;
  // Per link (work): the links the routing books at the network's ends (chan_network_ends),
  // listed again at each routing step.
  raw_array1d<int> end_links;

  // The stream cells' entries of the exchange with the overland water, numbered 1..exch_entries
  // in the order of the grid-stream table (stream cell, then entry): their stream cell and entry
  // (exch_cell, exch_slot). Entries that share a channel node or a grid cell, directly or through
  // others, form one group; groups 1..exch_groups share nothing and are exchanged in parallel,
  // each group's entries in table order: exch_order[exch_first[g] .. exch_first[g + 1] - 1] are
  // the entry numbers of group g. Per constituent and entry (work): the mass the entry moved in
  // the last exchange (g), and per entry whether it moved any, added to the books in table order.
  int exch_ready = 0;  // numbered and grouped
  int exch_entries = 0;
  int exch_groups = 0;
  raw_array1d<int> exch_cell, exch_slot;
  raw_array1d<int> exch_first;
  raw_array1d<int> exch_order;
  raw_array2d<double> exch_moved;
  raw_array1d<int> exch_acted;

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

  // Channel lakes (perennial lakes only): each lake is one fully mixed store whose masses are
  // transport_state's lake_mass. Per constituent 1..num_contaminants and lake 1..lakes.
  int lakes = 0;                        // lakes carrying constituents, 0 without perennial lakes
  raw_array2d<double> lake_conc;        // g/m3: the lake's concentration
  raw_array2d<double> lake_decay_coef;  // 1/s: first-order decay coefficient
  raw_array2d<double> lake_decay_mass;  // g: decayed mass gathered, not yet applied
  raw_array2d<double> lake_ov_inflow_mass;  // g: brought net by the overland water over the
                                            // shores (negative: carried out by water leaving
                                            // the lake over them), not yet applied
  // Work copies of the constituent being routed, per lake: the accepted mass (g) and
  // concentration (g/m3), their values at the step's start, the net source rate (g/s) and the
  // lake volume advanced through the sub-steps (m3).
  raw_array1d<double> lake_acc_mass, lake_acc_conc, lake_start_mass, lake_start_conc;
  raw_array1d<double> lake_source, lake_vol;
  raw_array1d<double> lake_vol_last;  // m3: each lake's volume at the last constituent routing
  raw_array1d<int> node_in_lake;      // per flat node: 1 while a rising lake holds the node's water
  raw_array1d<int> link_handover;     // per link (work): 1 when a node of the link changes hands
                                      // between the link and a lake at this routing
  raw_array1d<double> ov_to_lakes;    // kg per constituent: the overland water's net hand-over to
                                      // the lakes over their shores
  // Run books of the lakes (kg), per constituent 1..num_contaminants.
  raw_array1d<double> lake_init_total;     // in the lakes at start-up
  raw_array1d<double> lake_from_chan;      // brought by the links that end in a lake (net)
  raw_array1d<double> lake_to_chan;        // given to the links below the lakes' outlets (net)
  raw_array1d<double> lake_out_total;      // left the network through a lake's outlet
  raw_array1d<double> lake_ov_total;       // from the overland water over the shores (net)
  raw_array1d<double> lake_precip_total;   // rain on the lakes
  raw_array1d<double> lake_decay_total;    // decayed in the lakes
  raw_array1d<double> lake_nodes_total;    // from channel nodes a rising lake took (net of
                                           // what the nodes it gave back took with them)
  raw_array1d<double> lake_restored;       // added back to lakes the routing left negative
  raw_array1d<double> lake_pump_total;     // taken by the lake pumps with their water
  raw_array1d<double> lake_bed_out_total;  // passed through the lakes' beds to the ground
  raw_array1d<double> lake_bed_in_total;   // brought up through the lakes' beds by groundwater
  raw_array1d<double> lake_bed_gain;       // per lake (work): g the ground's water brings this step
  raw_array2d<double> lake_event_start;    // kg, per constituent x term: the lakes' stocks and
                                           // run totals at the event's start
};
