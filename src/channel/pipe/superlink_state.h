// The pipe network's record: superjunctions, superlinks and their nodes and pipes as the network
// reader fills them, the grid-pipe entries of the tile drains, the outlets on the channel
// network, and the state and work arrays of the implicit network solve. Arrays per superlink and
// node are [node][superlink]; node i and node i + 1 bound pipe (segment) i.
#pragma once

#include "framework/core/raw_arrays.h"
#include "framework/core/sparse_lu.h"

struct superlink_state {
  // Superjunctions, per junction 1..junction count.
  raw_array1d<int> bound;                      // 1: boundary junction, head held at its bottom
  raw_array1d<double> As_sjunc;                // m2: plan area
  raw_array1d<double> grate_sidelength_sjunc;  // m: grate side length
  raw_array1d<double> grate_dia_sjunc;         // m: grate opening diameter
  raw_array1d<double> ground_elev;             // m: ground elevation
  raw_array1d<double> junc_bottom;             // m: bottom elevation
  raw_array1d<double> sjunc_head;              // m: head (water-surface elevation), state
  raw_array1d<double> Q_junc;                  // m3/s: surface and tile inflow of the call

  // Superlinks, per superlink 1..superlink count.
  raw_array1d<int> us_sjunc;    // upstream superjunction
  raw_array1d<int> ds_sjunc;    // downstream superjunction
  raw_array1d<int> nnodes;      // pipes as read (nodes 1..nnodes + 1)
  raw_array1d<int> num_nodes;   // segments the solve uses (refined or as read)
  raw_array1d<double> us_Zinv;  // m: invert of the first node
  raw_array1d<double> ds_Zinv;  // m: invert of the last node

  // Nodes and pipes, [node 1..num_nodes + 1][superlink]; pipe values at [segment][superlink].
  int node_rows = 0;             // rows of the node arrays: largest segment count + 1
  raw_array2d<int> sec_type;     // segment: 1 circular, 2 arch, 3 rectangular
  raw_array2d<double> diameter;  // segment: m, diameter or height
  raw_array2d<double> width;     // segment: m, width of arch and box sections
  raw_array2d<double> S0;        // segment: bed slope
  raw_array2d<double> M_n;       // segment: Manning roughness
  raw_array2d<double> dx;        // pipe as read: length (m), [pipe][superlink]
  raw_array2d<double> dxc;       // segment: m, length the solve uses
  raw_array2d<double> superlink_pipe_conductivity;  // segment: tile conductivity (cm/h)
  raw_array2d<double> drain_spacing;                // segment: m, spacing of the tile drains
  raw_array2d<double> node_ground_elev;             // node: m, ground above it
  raw_array2d<double> slink_node_Zinv;              // node: m, invert elevation
  raw_array2d<double> As;                           // node: m2, plan area of a manhole at the node
  raw_array2d<double> grate_sidelength_node;        // node: m, grate side length
  raw_array2d<double> grate_dia_node;               // node: m, grate opening diameter
  raw_array2d<double> slink_node_depth;             // node: m, water depth, state
  raw_array2d<double> Q_node;                       // node: m3/s, surface inflow of the call
  raw_array2d<int> otc_node;    // [end 1 or 2][superlink]: file node of the first and last
  raw_array2d<int> otc_pipe;    // computational node, and its file pipe (refined superlinks)
  raw_array2d<int> file_cnode;  // [file node 1..nnodes + 1][superlink]: its computational node

  // Tile drains in grid cells (grid-pipe file), per pipe cell 1..pipe_cell_count and entry.
  int pipe_cell_count = 0;            // pipe cells
  int pipe_cell_max_pipes = 0;        // largest entry count of a pipe cell
  raw_array1d<int> gpi_ncellsingrid;  // per pipe cell: its entries
  raw_array2d<int> gpi_link;          // [pipe cell][entry]: superlink
  raw_array2d<int> gpi_node;          // [pipe cell][entry]: file node (pipe) of the superlink
  raw_array2d<int> gpi_gnum;          // [pipe cell][entry]: grid cell
  raw_array2d<double> gpi_pct;        // [pipe cell][entry]: share of the pipe in the cell

  // Outlets onto the channel network, per junction.
  raw_array1d<int> superlink_chan_con_link;    // channel link of an outlet, 0 none
  raw_array1d<int> superlink_chan_con_node;    // channel node of an outlet, 0 none
  raw_array1d<double> superlink_chan_outflow;  // m3: passed to the channel since booked
  raw_array1d<double> superlink_lost_outflow;  // m3: left the system since booked

  // Solve: per superlink the node and segment work values, [node or segment][superlink].
  raw_array2d<double> Q;           // segment: m3/s, flow
  raw_array2d<double> A;           // segment: m2, flow area at the segment depth
  raw_array2d<double> hyd_R;       // segment: m, hydraulic radius
  raw_array2d<double> top_width;   // segment: m
  raw_array2d<double> n_veloc;     // node: m/s, velocity
  raw_array2d<double> h_old;       // node: m, depth at the start of the call
  raw_array2d<double> E;           // node: m2/s, storage per unit depth and time
  raw_array2d<double> D;           // node: m3/s, E h_old + lateral inflow
  raw_array2d<double> a, b, c, P;  // segment: momentum coefficients
  raw_array2d<double> gA_u, gA_d;  // segment: m3/s2, the momentum's coefficients of the depths of
                                   // its upstream and downstream nodes (g A, and at the upwind
                                   // node the change of gravity less friction with its depth)
  raw_array2d<double> T, U, V, W;  // segment: forward sweep
  raw_array2d<double> O, X, Y, Z;  // segment: backward sweep
  // Per superlink: end relations h = gamma H + kappa Q + lambda and the end flows in the
  // junction heads, Q = alpha H(us) + beta H(ds) + chi, upstream (_u) and downstream (_d).
  raw_array1d<double> gamma_u, kappa_u, lambda_u, gamma_d, kappa_d, lambda_d;
  raw_array1d<double> alpha_u, beta_u, chi_u, alpha_d, beta_d, chi_d;
  raw_array1d<double> H_old;           // per junction: m, head at the start of the call
  raw_array1d<int> junc_first;         // per junction 1..count + 1: first entry in junc_links
  raw_array1d<int> junc_links;         // the superlinks at each junction: +s starts there, -s ends
  raw_array1d<double> rhs;             // per junction: right-hand side of the junction system
  raw_array1d<double> H_new;           // per junction: m, the heads the junction system gives
  raw_array1d<double> flow_magnitude;  // per cell: overland flow magnitude (m3/s) the node
                                       // inlets look at
  // The junction system, sparse: each junction's row holds its own head and the heads at the
  // other ends of its superlinks (a boundary junction's row only its own). Compressed columns,
  // zero-based as the factoring takes them: column j - 1 holds entries
  // jsys_start[j - 1] .. jsys_start[j] - 1 of jsys_row (row - 1) and jsys_value.
  int jsys_entries = 0;            // nonzeros of the pattern
  raw_array1d<int> jsys_start;     // [0..junction count]: first entry of each column
  raw_array1d<int> jsys_row;       // [0..entries - 1]: zero-based row of each entry
  raw_array1d<double> jsys_value;  // [0..entries - 1]: the matrix of the step
  raw_array1d<int> jsys_diag;      // per junction: entry of its own head
  raw_array1d<int> jsys_us_us;     // per superlink: entry (us, us), -1 when us is a boundary
  raw_array1d<int> jsys_us_ds;     // per superlink: entry (us, ds), -1 when us is a boundary
  raw_array1d<int> jsys_ds_us;     // per superlink: entry (ds, us), -1 when ds is a boundary
  raw_array1d<int> jsys_ds_ds;     // per superlink: entry (ds, ds), -1 when ds is a boundary
  sparse_lu junction_lu;           // the factors of the junction system

  int call_count = 0;               // solves so far, 0 before the first
  int allocated = 0;                // the work arrays are allocated
  double init_storage = 0.0;        // m3: water in the network at the first call
  double storage = 0.0;             // m3: water in the network after the last call
  double call_inflow = 0.0;         // m3: into the network during the last call
  double call_outflow = 0.0;        // m3: out of the network during the last call
  double call_balance_error = 0.0;  // m3: storage change minus net inflow of the last call
  double sweep_residual = 0.0;      // m3/s: largest continuity residual of the solved interior
                                    // nodes, or momentum residual of a segment over a + b + c,
                                    // before the water moves (round-off)
  double clip_volume = 0.0;         // m3: water the depth and head floors added, whole run
  int lost_flag = 0;                // flow left the system at a boundary junction in the call
  int outlet_flag = 0;              // flow reached a channel outlet in the call
  int tile_result = 0;              // result of the last groundwater-tile exchange
  double call_tile_inflow = 0.0;    // m3: tile inflow of the last call (part of call_inflow)
  int parked = 0;                   // the drained network waits with the surface for a storm
  double parked_until = 0.0;        // Julian day it waits for (the surface schedule's next time)
  int parked_skips = 0;             // the surface's jumps over dry spells when it began to wait
};
