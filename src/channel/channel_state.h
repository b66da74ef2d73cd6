// Channel and pipe networks: the member record of the run's model_state that holds the link and
// node arrays, the routing options, the lakes on the network and the channel files.
#pragma once

#include <vector>

#include "channel/chan_point_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/link_node_array.h"
#include "framework/core/raw_arrays.h"

struct time_series;
struct elevation_series;
struct pump_spec;

// A lake pump (LAKE_PUMP file): the channel lake it draws from and the series of its rate.
struct lake_pump {
  int lake = 0;
  time_series* series = nullptr;       // rate (m3/s) over time
  elevation_series* rating = nullptr;  // rate (m3/s) at the water-surface elevation (m)
};

// Channel input file: kinds of a hydraulic structure element (STRUCTTYPE).
enum structure_kind : int {
  structure_weir = 1,
  structure_sag_weir = 2,
  structure_round_culvert = 3,
  structure_oval_culvert = 4,
  structure_rect_culvert = 5,
  structure_rating_curve = 6,
  structure_scheduled_release = 7,
  structure_rule_curve = 8,
};

// Channel input file: one hydraulic structure element, as its cards give it (a plain record,
// zeroed when the element table is allocated). Words that share a field serve different kinds;
// the last card read wins.
struct hydraulic_structure {
  int unused_flag;              // left 0 by the reader
  int structure_type;           // a structure_kind
  double length;                // LENGTH or CREST_LENGTH (m)
  double upinvert;              // UPINVERT or CREST_LOW_ELEV (m)
  double downinvert;            // DOWNINVERT (m)
  double slope;                 // SLOPE
  double unused_value;          // no card sets it
  double inlet_disch_coeff;     // INLET_DISCH_COEFF or DISCHARGE_COEFF_FORWARD
  double rev_flow_disch_coeff;  // REV_FLOW_DISCH_COEFF or DISCHARGE_COEFF_REVERSE
  double inlet_coeff;           // no card sets it: the culvert inlet coefficient computed
                                // by the routing
  double shape1;                // WIDTH, DIAMETER, A_VALUE or STEEP_SLOPE
  double shape2;                // HEIGHT, B_VALUE or SHALLOW_SLOPE
  double crest_low_loc;         // CREST_LOW_LOC
  double rough_coeff;           // ROUGH_COEFF
  elevation_series* es;         // rating and rule curves: the elevation series
  time_series* ts;              // scheduled releases: the time series
};

struct channel_state {
  // Channel link/node output files.
  file_handle chan_depth_file;      // channel depth at every node (m)
  file_handle chan_discharge_file;  // channel discharge at every node (m3/s)
  file_handle chan_velocity_file;   // channel velocity at every node (m/s)
  file_handle chan_stage_file;      // channel stage at every node (m)
  file_handle chan_sed_flux_file;   // channel sediment flux at every node (m3/s)

  // Network and routing options.
  int chan_link_count = 0;          // links 1..chan_link_count
  int chan_explic = 0;              // explicit channel routing on
  int chan_option = 2;              // channel network set-up option
  double chan_gw_factor = 1.0;      // multiplier of the channel-groundwater exchange
  raw_array1d<int> ltype;           // per link: type bits (1 groundwater exchange, 2 erodible,
                                    // 4 trapezoidal, 8 break-point, 16, 32 lake, 64 structure,
                                    // 128 captured by a rising lake)
  raw_array1d<int> nx1;             // per link: nodes 1..nx1 of the link
  int chan_node_total = 0;          // channel nodes of all links together
  int chan_mesh = 0;                // CHAN_MESH channel scheme
  int chan_lake_flag = 0;           // a channel lake holds water above its reference at start-up
  int read_chan_hotstart_on = 0;    // the channel starts from a hotstart
  int head_bound = 0;               // stream head boundary at the outlet
  double bound_depth = 0.0;         // m: current depth of the head boundary
  int chan_implicit = 0;            // implicit channel scheme chosen (CHAN_DRAIN, CHAN_BACKWATER)
  int chan_drain_init = 0;          // CHAN_DRAIN: the implicit channel starts drained
  double max_courant_number = 0.0;  // largest Courant number of the explicit channel step
  int overbank_flow = 0;            // OVERBANK_FLOW: channel water spills onto the overland plane
  int overland_backwater = 0;       // OVERLAND_BACKWATER
  int bound_ts_on = 0;              // BOUND_TS: the head boundary follows a time series
  char bound_ts[150] = {};          // name of that time series
  int stream_loss = 0;              // water exchange between channel and soil or groundwater
  int stream_cell_on = 0;           // the stream-cell file is read
  double k_river = 0.0;             // m/s: riverbed hydraulic conductivity (K_RIVER)
  int m_lake_flag = 0;              // lakebed thickness given per lake
  double m_lake = 0.0;              // m: lakebed thickness (M_LAKE)
  int hotstart_is_depth = 0;        // HOTSTART_IS_DEPTH: the hotstart holds depths, not stages
  int write_chan_hotstart_on = 0;   // the channel hotstart is written at the end
  double first_order_chan_q = 0.0;  // 1/s: first-order decay of channel flow
  double chan_timestep = 0.0;       // s: the channel's own step
  double chan_vol_initial = 0.0;    // m3: channel water at the event start
  raw_array1d<double> dx;           // per link: node spacing (m)
  // Per link 1..chan_link_count and node 1..nx1[link], reached as a(link, node).
  link_node_array<double> qp;          // discharge (m3/s)
  link_node_array<double> yp;          // water-surface elevation (m)
  link_node_array<double> bel;         // bed elevation (m)
  link_node_array<double> area;        // cross-sectional flow area (m2)
  link_node_array<double> chan_depth;  // depth (m)
  // Hydrograph output locations 1..hyd_location_count: the link and node of each.
  int hyd_location_count = 0;  // hydrograph output locations
  raw_array1d<int> hlink;      // per location 1..hyd_location_count: channel link
  raw_array1d<int> hnode;      // per location 1..hyd_location_count: channel node

  // Channel input file: the network as read by `read_chan_input`. Per-link arrays hold links
  // 1..chan_link_count; per-node arrays are allocated per link with nodes 1..nx1[link] (the
  // spare nodes 0 and nx1 + 1 hold nothing) and reached as a(link, node).
  double alpha = 0.0;                     // ALPHA of the header (kept, not used)
  double beta = 0.0;                      // BETA of the header (kept, not used)
  double theta = 0.0;                     // THETA of the header (kept, not used)
  int max_nodes = 0;                      // MAXNODES: the most nodes one link may have
  int link_extent = 0;                    // LINKS + 1
  int node_extent = 0;                    // MAXNODES + 1
  int node_extent_product = 0;            // (LINKS + 1) x (MAXNODES + 1): flat node addresses
  int max_upstream = 0;                   // most upstream links of one link (0..20)
  raw_array1d<int> ldex;                  // per link: own number; a lake link its lake number
  raw_array1d<int> ndep;                  // per link: number of upstream links 0..20
  raw_array2d<int> uslinks;               // [link][1..max_upstream]: upstream link numbers
  raw_array1d<int> dslink;                // per link: downstream link (CONNECT), 0 none
  raw_array1d<int> nx;                    // per link: computational nodes (nx1 - 1 for
                                          // sectioned links, else nx1)
  raw_array1d<int> og_nx1;                // per link: copy of nx
  raw_array1d<double> link_inv_n;         // per link: 1 / Manning's n (s/m^(1/3))
  raw_array1d<int> bplink;                // per link: position among the erodible (or the
                                          // subsurface) break-point links, 0 none
  raw_array1d<int> lake2link;             // per link: lake number of a lake link
  raw_array2d<int> link_structures;       // [link][0..2]: element count, first and last element
  raw_array1d<int> interp_list;           // per link: 1 for a break-point link with two sections
  raw_array1d<int> num_xsec_per_bp_link;  // per link: break-point sections given (NPAIRS cards)
  link_node_array<double> bottom;         // per node: bottom width (m)
  link_node_array<double> bankfull_dep;   // per node: bank-full depth (m)
  link_node_array<double> sslope;         // per node: side slope (horizontal per vertical)
  link_node_array<double> sslope2;        // per node: flood-plain side slope (no card sets it)
  link_node_array<double> max_eros;       // per node: largest erosion depth (m)
  link_node_array<double> lnx;            // per node: x coordinate (m)
  link_node_array<double> lny;            // per node: y coordinate (m)
  link_node_array<double> Fr;             // per node: Froude number
  link_node_array<double> qp_vol;         // per node: discharged volume (m3)
  link_node_array<double> qp_vol_sed;     // per node: discharged sediment volume (m3)
  link_node_array<int> table_num;         // per node of a break-point link: its depth table
  link_node_array<double> Krb;            // per node: bed conductivity (m/s)
  link_node_array<double> Mrb;            // per node: bed thickness (m)
  link_node_array<time_series*> stream_pointsource;  // per node: point-source series, null none
  link_node_array<pump_spec*> stream_pumps;          // per node: pump (PUMPTO), null none
  link_node_array<double> pct_flooded;               // per node: share under a lake (lakes only)
  // Hydraulic structure elements 1..structure_count, in file order over the whole file.
  int structure_count = 0;                      // elements of all structure links
  raw_array1d<hydraulic_structure> structures;  // per element: the `hydraulic_structure`
  // Lakes of the channel network (LAKE cards), per lake 1..num_lakes unless said.
  int lake_loss = 0;                          // some MLAKE card: lake bed losses are simulated
  raw_array1d<double> maxwse;                 // maximum water-surface elevation (m)
  raw_array1d<int> numpts;                    // number of search cells
  raw_array3d<int> lake_search;               // [lake][1 row, 2 column][search cell 1..numpts]
  raw_array1d<int> lake_cells;                // cells under water at the start
  raw_array1d<double> lake_volume;            // m3
  raw_array1d<double> prevlake_volume;        // m3: volume at the previous step
  raw_array1d<double> lake_volume_last_chan;  // m3: volume at the last channel step
  raw_array1d<double> lake_area;              // m2
  raw_array1d<double> lake_elev;              // water-surface elevation (m)
  raw_array1d<double> lake_in_dv;             // m3: inflow of the step
  raw_array1d<double> lake_out_dv;            // m3: outflow of the step
  raw_array1d<double> cumulative_lake_evap;   // m3: evaporation since the start
  raw_array1d<double> lake_ov_inflow;         // m3: overland water into the lake since the
                                              // last event end (moved to the event's books)
  raw_array1d<double> Mlake;                  // bed thickness (m, MLAKE)
  raw_array1d<int> calc_loss;                 // 1 when the lake's bed losses are simulated
  raw_array1d<int> lake_mask;                 // per cell 1..cell_count: lake number, 0 none
  raw_array1d<int> new_flooded_grid;          // per cell: flooded by a rising lake
  std::vector<lake_pump> lake_pumps;          // LAKE_PUMP: the lake pumps, in the file's order
  std::vector<int> lake_pump_lakes;           // the lake each of lake_pumps draws from
  double lake_pump_volume_total = 0.0;        // m3: water the lake pumps took in the run
  // Made by the channel constituent set-up: the water the lakes lost or gained outside their
  // links since the last constituent routing, which carries the lakes' constituents with it.
  raw_array1d<double> lake_pump_water;     // per lake: m3 the lake pumps took
  raw_array1d<double> lake_bed_out_water;  // per lake: m3 the lake's bed passed to the ground
  raw_array1d<double> lake_bed_in_water;   // per cell: m3 the ground gave a lake through its bed
  raw_array1d<int> lake_bed_in_lake;       // per cell: the lake that water went into
  raw_array1d<int> og_ndep;                // per link: saved ndep
  raw_array1d<int> og_dslink;              // per link: saved dslink
  raw_array1d<int> og_lytpe;               // per link: saved ltype
  raw_array2d<int> og_uslinks;             // [link][1..max_upstream]: saved uslinks
  // Break-point depth tables 1..num_xsec_tables (levels 0..numhts[t], level 0 the empty
  // channel), reached as xarea(table, level).
  int num_xsec_tables = 0;           // depth tables of all break-point links
  int max_xsec_pairs = 0;            // most pairs of one section
  int max_num_interp = 0;            // largest NUM_INTERP of the file
  int erodible_bp_links = 0;         // erodible break-point links (planes of the below)
  raw_array1d<double> ht_spc;        // per table: level spacing (m)
  raw_array1d<int> numhts;           // per table: number of levels
  raw_array1d<int> numpairs;         // per table: pairs of its section
  link_node_array<double> xarea;     // per table and level: flow area (m2)
  link_node_array<double> xtw;       // per table and level: top width (m)
  link_node_array<double> xk;        // per table and level: conveyance A R^(2/3) / n
  link_node_array<double> xp;        // per table and level: wetted perimeter (m)
  raw_array3d<double> xbp_lnn;       // [bplink][node][pair 1..]: section X (m), erodible
  raw_array3d<double> ybp_lnn;       // [bplink][node][pair 1..]: section Z (m), erodible
  raw_array2d<double> max_yp;        // [bplink][node]: highest water surface (m)
  raw_array2d<double> ch_sand_vol0;  // [bplink][node]: reference bed sediment volume (m3)
  // Work storage of the bed update of one section (pairs 0..numpairs-1): its X and Z, Z before
  // the update, and the pairs that move; sized by the channel sediment set-up (or the first
  // update) and kept, so the updates of the time loop allocate nothing.
  std::vector<double> xsec_work_x, xsec_work_z, xsec_work_before;
  std::vector<char> xsec_work_moves;
  link_node_array<double> new_bel;  // per node: bed elevation after bed updates (m)

  // Network set-up: grid-stream tables from the grid-stream file, per stream cell
  // 1..gst_stream_cells and entry 1..gst_ncellsingrid[cell] (table width gst_width).
  int gst_stream_cells = 0;            // STREAMCELLS
  int gst_width = 0;                   // largest NUMNODES
  raw_array1d<int> gst_ncellsingrid;   // per stream cell: channel nodes in the cell
  raw_array2d<int> gst_link;           // [cell][entry]: channel link
  raw_array2d<int> gst_node;           // [cell][entry]: channel node
  raw_array2d<int> gst_gnum;           // [cell][entry]: cell number of the stream cell
  raw_array2d<double> gst_pct;         // [cell][entry]: share of the entry
  raw_array2d<double> gst_sac_weight;  // [cell][entry]: Sacramento weight
  raw_array2d<double> gst_Vlat;        // [cell][entry]: lateral volume (m3)
  // The lateral exchange of the stream cells in parallel (chan_lateral_exchange_setup): set when
  // every stream cell's entries name one grid cell and no grid cell has two stream cells, so
  // that each stream cell moves the water of its own grid cell only.
  int gst_rows_own_cells = 0;
  raw_array2d<double> gst_lateral_q;  // [cell][entry]: discharge of the step into the node (m3/s)

  // Lakes on the network.
  int num_lakes = 0;            // lakes 1..num_lakes
  int lake_option = 1;          // lake routing option of the channel step
  file_handle lake_file;        // lake input file
  raw_array1d<double> minwse;   // per lake 1..num_lakes: minimum water-surface elevation (m)
  raw_array1d<double> initwse;  // per lake 1..num_lakes: initial water-surface elevation (m)
  int lake_growing = 0;         // some lake's water surface lies above its minimum elevation

  // Channel files.
  file_handle channel_input_file;        // channel network input
  file_handle read_chan_depth_file;      // channel depth hotstart to read
  file_handle read_chan_discharge_file;  // channel discharge hotstart to read
  file_handle dht_file;                  // channel depth hotstart to write
  file_handle qht_file;                  // channel discharge hotstart to write
  file_handle outlet_hydro_file;         // outlet hydrograph

  // Pipe and tile-drain network.
  int storm_sewer = 0;                 // the pipe network is simulated
  int superlink_c_opt = 0;             // SUPERLINK_C_OPT
  int high_head_release = 0;           // HIGH_HEAD_RELEASE
  int superlink_drainmod = 0;          // SUPERLINK_DRAINMOD
  int superlink_junc_location_on = 0;  // SUPERLINK_JUNC_LOCATION: junction output locations
  int superlink_node_location_on = 0;  // SUPERLINK_NODE_LOCATION: node output locations
  int superlink_junc_flow_on = 0;      // SUPERLINK_JUNC_FLOW: junction flows written
  int superlink_node_flow_on = 0;      // SUPERLINK_NODE_FLOW: node flows written
  file_handle pipe_head_file;          // pipe-network heads output
  file_handle pipe_tile_file;          // tile-drain flows output
  file_handle pipe_flow_file;          // pipe-network flows output
  file_handle flood_stream_file;       // FLOOD_STREAM: stream flood stage output
  file_handle grid_pipe_file;          // grid-to-pipe map read by the input driver
  // Pipe network as read by read_superlink_file ([node][superlink] arrays: node 0.., superlink
  // or superjunction 1..; row 0 of inlet_type holds the superjunctions' inlet types).
  int superlink_junction_count = 0;   // superjunctions 1..superlink_junction_count
  int superlink_count = 0;            // superlinks 1..superlink_count
  int superlink_max_nodes = 0;        // largest node count of one superlink
  int superlink_dim = 0;              // array dimension of the network arrays (largest + 2)
  int superlink_leaky = 0;            // some pipe has a conductivity above 0: tile drains
                                      // that take water from the groundwater
  raw_array1d<int> superlink_cnodes;  // per superlink: computational nodes
  raw_array1d<int> superjunct_i;      // per superjunction: grid row (outlet: channel link)
  raw_array1d<int> superjunct_j;      // per superjunction: grid column (outlet: node)
  raw_array2d<int> superlink_node_i;  // [node][superlink]: grid row of the node
  raw_array2d<int> superlink_node_j;  // [node][superlink]: grid column of the node
  raw_array2d<int> inlet_type;        // [node][superlink]: 0 none, 1..9 grates, >10 special
  // Tile-drain exchange between the grid and the pipes, allocated by init_tile_pipe_grid.
  raw_array2d<double> superlink_tile_flow;  // [node][superlink]: tile inflow from gw (m3/s)
  raw_array1d<double> Q_tile_grid;          // per cell 1..cell_count: tile drainage rate (m3/s)
  raw_array1d<double> vol_tile_grid;        // per cell: tile drainage volume (m3)
  raw_array1d<double> tilerecharge_to_gw;   // per cell: tile water returned to groundwater (m3)
  raw_array1d<double> flow_to_superlink;    // per cell: surface water sent into the pipes (m3/s)
  raw_array1d<int> superlink_junc_gnum;     // per superjunction: cell above it, 0 none
  raw_array2d<int> superlink_node_gnum;     // [node][superlink]: cell above the node, 0 none

  // Cross-sections (`ex_section`): the properties of every node's section at its water level,
  // per link 1..chan_link_count and node 1..nx[link], reached as a(link, node).
  link_node_array<double> topw;   // top width (m)
  link_node_array<double> conv;   // conveyance A R^(2/3) / n (m3/s)
  link_node_array<double> dconv;  // derivative of the conveyance with depth (m2/s)
  int xsec_table_exceeded = 0;    // some break-point node's water lay above its depth table

  // Network set-up (`setup_channel_network`, `init_grid_stream`): state arrays of the network,
  // per link 1..chan_link_count and node 1..nx1[link] unless said, zeroed when allocated.
  link_node_array<double> yp_max_flood;  // highest water-surface elevation of the run (m)
  link_node_array<double> area_old;      // flow area at the start of the channel step (m2)
  link_node_array<double> stdummy;       // work values of the channel step
  link_node_array<double> qlat;          // lateral inflow (m3/s)
  link_node_array<double> qriv;          // exchange with the soil or groundwater (m3/s);
                                         // stream loss or channel constituents only
  link_node_array<double> qriv_start;    // stream-bed seepage per unit length at the start of
                                         // the routing sub-step (m2/s, positive into the
                                         // channel); stream loss only
  link_node_array<double> seepage_vol;   // per node: water the stream bed passed into the node
                                         // since the channel constituents last took it (m3,
                                         // negative out of the channel); stream loss with
                                         // channel constituents only
  raw_array1d<double> cell_seepage;      // per cell 1..cell_count: water the stream beds passed
                                         // into the channel in this channel step (m3, negative
                                         // out of the channel); stream loss only
  link_node_array<double> gst_Vp;        // groundwater exchange volume of the node (m3)
  link_node_array<int> con_vect;         // grid cell of each node, 0 none
  raw_array1d<double> lake_source;       // per cell 1..cell_count: lake bed losses (m3/s)
  raw_array1d<int> og_gwbound_type;      // per cell: groundwater boundary type after the lake
                                         // cells were marked
  raw_array2d<int> gst_row;              // [stream cell][entry]: grid row of the stream cell
  raw_array2d<int> gst_col;              // [stream cell][entry]: grid column of the stream cell
  raw_array2d<double> gst_qriv;          // [stream cell][entry]: groundwater exchange (m3/s)
  raw_array2d<double> gst_qriv_vol;      // [stream cell][entry]: groundwater exchange (m3)
  raw_array1d<double> lake_cell_loss;    // per cell: lake bed losses of the cell (m3/s)
  double lake_vol_start = 0.0;           // m3: the lakes' water at start-up
  int head_link_count = 0;               // links without upstream links

  // Channel start-up: water flag, head boundary and output locations.
  int chan_water_on = 0;                // some node holds water or an input can bring some; the
                                        // channel steps are skipped while it is 0
  time_series* bound_series = nullptr;  // BOUND_TS series of the head boundary, null none
  int gwflux_location_count = 0;        // groundwater-flux output locations
  raw_array1d<int> gwflink;             // per location 1..: channel link of a groundwater flux
  raw_array1d<int> gwfnode;             // per location 1..: channel node of a groundwater flux
  int sed_location_count = 0;           // sediment output locations
  raw_array1d<int> slink;               // per location 1..sed_location_count: channel link
  raw_array1d<int> snode;               // per location 1..sed_location_count: channel node
  int sjunc_location_count = 0;         // superjunction output locations
  raw_array1d<int> sjunc;               // per location 1..sjunc_location_count: superjunction
  int sl_location_count = 0;            // superlink node output locations
  raw_array1d<int> sl_link;             // per location 1..sl_location_count: superlink
  raw_array1d<int> sl_node;             // per location 1..sl_location_count: node of the superlink

  // Channel point sources: the timed point inflows to nodes read from the point-source file.
  chan_point_state points;

  // Routing (`ex_flow_route`, `ex_link_end_flows`, `ex_chan_volume`) and the channel step
  // (`channel_routing_step`, `chan_lateral_inflow`). The work arrays and the pass counter belong
  // to the run: allocated on the run's first routing call with the node ranges of `area`
  // (per link 1..chan_link_count, nodes 1..nx[link] used), so that a later run in the same
  // process starts clean with arrays that fit its own network.
  link_node_array<double> area_iter;       // flow area of the predictor pass (m2)
  link_node_array<double> qp_old;          // discharge at the start of the sub-step (m3/s)
  link_node_array<double> qp_last;         // discharge of the predictor pass (m3/s)
  link_node_array<double> qp_iter;         // discharge of the corrector pass (m3/s)
  link_node_array<double> node_stiffness;  // summed sensitivity of the flows a node joins to
                                           // their levels (m2/s), the sub-step's bound
  link_node_array<double> node_source;     // volume a node's point inflow brought in the
                                           // sub-step's volume balance (m3), summed after it
  link_node_array<int> status_node;        // per node 1..og_nx1[link]: 1 while a rising lake holds
                                           // the node (channel lakes only, allocated at set-up)
  long routing_passes = 0;                 // sub-steps routed in the run, 0 before the first
  double headwater_inflow = 0.0;    // m3/s: inflow at the head of links without upstream links
  double chan_outlet_volume = 0.0;  // m3: water that left the outlet node in the last step
  double chan_source_volume = 0.0;  // m3: water the nodes' point inflows (the point-source
                                    // file's and the POINTSOURCE series) brought in the
                                    // last step
  int chan_active = 1;              // 1 while the channel is routed; cleared only when a
                                    // nearly-dry channel returns to the overland schedule
  int chan_gw_status = 0;           // channel-groundwater status: 0 none, 1 some node gains
                                    // from groundwater, 2 the channel only loses
  int chan_route_calls = 0;         // routing calls of the run
  int chan_step_count = 0;          // channel steps of the run
  double chan_volume = 0.0;         // m3: channel water of the nearly-dry test
  int dry_step_count = 0;           // channel steps found nearly dry in a row (long-term runs)
};
