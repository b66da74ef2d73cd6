// Channel and pipe networks: the member record of the run's model_state that holds the link and
// node arrays, the routing options, the lakes on the network and the channel files.
#pragma once

#include "framework/core/file_handle.h"
#include "framework/core/link_node_array.h"
#include "framework/core/raw_arrays.h"

struct time_series;

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

  // Channel input file (`read_chan_input`): the network fields the cross-sections read, per
  // link 1..chan_link_count and node 1..nx1[link], and the break-point depth tables
  // 1..num_xsec_tables (levels 0..numhts[t], level 0 the empty channel) as xarea(table, level).
  raw_array1d<int> nx;                   // per link: computational nodes (nx1 - 1 for
                                         // sectioned links, else nx1)
  raw_array1d<double> link_inv_n;        // per link: 1 / Manning's n (s/m^(1/3))
  link_node_array<double> bottom;        // per node: bottom width (m)
  link_node_array<double> bankfull_dep;  // per node: bank-full depth (m)
  link_node_array<double> sslope;        // per node: side slope (horizontal per vertical)
  link_node_array<double> sslope2;       // per node: flood-plain side slope (no card sets it)
  link_node_array<int> table_num;        // per node of a break-point link: its depth table
  int num_xsec_tables = 0;               // depth tables of all break-point links
  raw_array1d<double> ht_spc;            // per table: level spacing (m)
  raw_array1d<int> numhts;               // per table: number of levels
  link_node_array<double> xarea;         // per table and level: flow area (m2)
  link_node_array<double> xtw;           // per table and level: top width (m)
  link_node_array<double> xk;            // per table and level: conveyance A R^(2/3) / n

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
};
