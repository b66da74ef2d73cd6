// Run-parameter records filled by the project-file reader: the project's cards (file names with
// their given-flags, numeric values and options), the grid and clock parameters, and uniform
// rainfall. Members of model_state; read_project_file resets and fills them at start-up.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "input/xy_boundary_state.h"
#include "output/xy_output_state.h"

struct nsm_model;

inline constexpr std::size_t card_name_size = 1024;   // file and object names of the cards
inline constexpr std::size_t series_name_size = 150;  // time-series names (BOUND_TS)
using card_name = char[card_name_size];

// Every card that names a file, sets a flag or gives a process parameter. Each field is named
// after its card in lower case; a name is empty and a number 0 when its card was not given.
// Owns nsm (until the run takes it over), nsm_soil_coeffs, xy_output and xy_input.
struct project_cards {
  // Watershed, parameter tables, lakes, pipes and embankments.
  card_name watershed_mask = {};      // Grid map of the cells inside the watershed
  card_name mapping_table = {};       // The mapping-table file of parameter tables
  int mapping_table_given = 0;        // 1 when MAPPING_TABLE was given
  card_name materials = {};           // Materials file of the channel network
  card_name elevation = {};           // Grid map of the surface elevation (m)
  card_name overland_lake_map = {};   // Grid map of the lake ids of the overland lakes
  card_name overland_lake_file = {};  // File of the overland lake parameters
  int overland_lake_map_given = 0;    // 1 when OVERLAND_LAKE_MAP was given
  card_name storm_sewer = {};         // Pipe-network (storm sewer) input file
  card_name grid_pipe = {};           // Map of the cells drained into the pipe network
  int storm_sewer_given = 0;          // 1 when STORM_SEWER was given
  int superlink_c_opt_given = 0;      // 1 when SUPERLINK_C_OPT was given
  int high_head_release_given = 0;    // 1 when HIGH_HEAD_RELEASE was given
  int superlink_drainmod_given = 0;   // 1 when SUPERLINK_DRAINMOD was given
  card_name lake_output = {};         // Lake series output file
  int lake_output_given = 0;          // 1 when LAKE_OUTPUT was given
  card_name dike_map = {};            // DIKE_MAP / EMBANKMENT: grid map of the overland embankments
  card_name lowspot_file = {};        // File of the low spots along the embankments
  card_name stream_cell = {};         // File of the cells that hold stream nodes

  // Initial overland state, hotstarts and run options.
  int initial_depth_given = 0;       // 1 when INITIAL_DEPTH was given
  card_name initial_depth = {};      // Grid map of the initial overland depth (m)
  card_name sacramento = {};         // SACRAMENTO / SACRAMENTO_PARS: Sacramento model parameters
  int sacramento_given = 0;          // 1 when SACRAMENTO / SACRAMENTO_PARS was given
  int topo_index_given = 0;          // 1 when TOPO_INDEX was given
  int long_term_given = 0;           // 1 when LONG_TERM was given
  int strict_julian_date_given = 0;  // 1 when STRICT_JULIAN_DATE was given
  int overbank_flow_given = 0;       // 1 when OVERBANK_FLOW was given
  int overland_backwater_given = 0;  // 1 when OVERLAND_BACKWATER was given
  int non_ortho_channels_given = 0;  // 1 when NON_ORTHO_CHANNELS or CHAN_EXPLIC was given
  int dike_map_given = 0;            // 1 when DIKE_MAP / EMBANKMENT was given
  int lowspot_file_given = 0;        // 1 when LOWSPOT_FILE was given
  int head_bound_given = 0;          // 1 when HEAD_BOUND was given

  // Head boundary and channel routing options.
  double bound_depth = 0.0;              // Fixed water depth at the head boundary (m)
  int bound_ts_given = 0;                // 1 when BOUND_TS was given
  char bound_ts[series_name_size] = {};  // Name of the time series of the head boundary
  double max_courant_number = 0.0;       // Largest Courant number of the explicit channel scheme
  int explic_backwater_given = 0;        // 1 when EXPLIC_BACKWATER was given
  int explic_hotstart_given = 0;         // 1 when EXPLIC_HOTSTART was given
  int write_chan_hotstart_given = 0;     // 1 when WRITE_CHAN_HOTSTART was given
  int hotstart_is_depth_given = 0;       // 1 when HOTSTART_IS_DEPTH was given
  card_name write_chan_hotstart = {};  // EXPLIC_BACKWATER / WRITE_CHAN_HOTSTART: hotstart to write
  card_name read_chan_hotstart = {};   // EXPLIC_HOTSTART / READ_CHAN_HOTSTART: hotstart to read
  int read_chan_hotstart_given = 0;    // 1 when READ_CHAN_HOTSTART was given
  int stream_loss_given = 0;           // 1 when STREAM_LOSS was given

  // Stream loss, event end and soil depths.
  double k_river = 0.0;             // Riverbed hydraulic conductivity of the stream loss (m/s)
  double m_river = 0.0;             // Riverbed thickness of the stream loss (m)
  double first_order_chan_q = 0.0;  // First-order decay rate of channel flow (1/s)
  double event_min_q = 0.0;         // Outlet discharge below which an event ends (m3/s)
  double manning_n = 0.0;           // Uniform overland Manning roughness
  double soil_moist_depth = 0.0;    // Depth of the soil moisture zone (m)
  double top_layer_depth = 0.0;     // Depth of the top soil layer (m)
  double mixing_layer_depth = 0.0;  // Depth of the surface mixing layer (m)

  // Weather data, interception and roughness.
  card_name hmet_file = {};           // HMET_SURFAWAYS / HMET_SAMSON / HMET_OBU: weather data file
  int hmet_surfaways_given = 0;       // 1 when HMET_SURFAWAYS was given
  int hmet_samson_given = 0;          // 1 when HMET_SAMSON was given
  int hmet_obu_given = 0;             // 1 when HMET_OBU was given
  int storage_capacity_given = 0;     // 1 when STORAGE_CAPACITY or INTERCEPTION was given
  card_name storage_capacity = {};    // Grid map of the interception storage capacity (mm)
  int interception_coeff_given = 0;   // 1 when INTERCEPTION_COEFF or INTERCEPTION was given
  card_name interception_coeff = {};  // Grid map of the interception coefficient
  int roughness_given = 0;            // 1 when ROUGHNESS was given
  int manning_n_given = 0;            // 1 when MANNING_N was given
  card_name roughness = {};           // Grid map of the overland Manning roughness

  // Soils, erosion and sediment.
  card_name soil_layer_input_file = {};  // Layered-soil input file
  card_name soil_type_map = {};          // Grid map of the soil type ids
  int soil_erosion_given = 0;            // 1 when SOIL_EROSION was given
  int adjust_channel_bed_given = 0;      // 1 when ADJUST_CHANNEL_BED was given
  card_name soil_erodability = {};       // Grid map of the soil erodibility factor
  card_name crop_management = {};        // Grid map of the crop management factor
  card_name conservation_practice = {};  // Grid map of the conservation practice factor
  card_name sand_map = {};               // Grid map of the sand fraction of the soil
  card_name silt_map = {};               // Grid map of the silt fraction of the soil
  int in_sed_loc_given = 0;              // 1 when IN_SED_LOC was given
  int outlet_sed_tss_given = 0;          // 1 when OUTLET_SED_TSS was given
  int out_tss_loc_given = 0;             // 1 when OUT_TSS_LOC was given
  card_name in_sed_loc = {};             // File of the sediment output locations
  card_name vol_sed_susp = {};           // Output file of the suspended sediment volume
  card_name max_sed_flux = {};           // Output file of the largest sediment flux
  card_name net_sed_volume = {};         // Output file of the net sediment volume
  card_name outlet_sed_flux = {};        // Output file of the outlet sediment flux
  card_name outlet_sed_tss = {};         // Output file of the outlet total suspended solids
  card_name out_tss_loc = {};            // Output file of the suspended solids at the locations
  card_name out_sed_loc = {};            // Output file of the sediment at the locations
  int include_channel_depth_given = 0;   // 1 when INCLUDE_CHANNEL_DEPTH was given
  int net_sed_volume_given = 0;          // 1 when NET_SED_VOLUME was given
  int max_sed_flux_given = 0;            // 1 when MAX_SED_FLUX was given
  int vol_sed_susp_given = 0;            // 1 when VOL_SED_SUSP was given
  int adjust_elev_given = 0;             // 1 when ADJUST_ELEV was given
  card_name adjust_elev = {};            // Output map of the adjusted elevation
  double sand_size = 0.0;                // Mean grain diameter of sand (m)
  double silt_size = 0.0;                // Mean grain diameter of silt (m)
  double clay_size = 0.0;                // Mean grain diameter of clay (m)
  double water_temp = 0.0;               // Water temperature (degrees Celsius)
  double sed_porosity = 0.0;             // Porosity of the deposited sediment (fraction)
  int soil_erosion = 0;                  // Soil erosion switch (reader default 1)

  // Richards infiltration, overland scheme and aquifer geometry.
  double richards_weight = 0.0;      // Time weighting of the Richards solution (0..1)
  double richards_dtheta_max = 0.0;  // Largest water-content change per Richards step
  int richards_k_option = 0;         // Interlayer conductivity, 1 arithmetic, 2 geometric
  int richards_c_option = 0;         // Soil-water function, 1 brooks, 2 havercamp
  int richards_iter_max = 0;         // Iteration limit of the Richards solution
  int overtype = 0;                  // Overland routing, 1 explicit, 2 ade, 3 ade-pc
  card_name water_table = {};        // Grid map of the initial water-table depth (m)
  card_name aquifer_bottom = {};     // Grid map of the aquifer bottom elevation (m)
  double aquifer_delta_z = 0.0;      // Thickness of the aquifer layer (m; -999.9 unset)
  int water_table_given = 0;         // 1 when WATER_TABLE was given
  int richards_upper_option = 0;     // Upper boundary, 2 green_ampt, 3 average

  // Soil and vegetation maps.
  int seasonal_rs_given = 0;        // 1 when SEASONAL_RS was given
  int conductivity_given = 0;       // 1 when CONDUCTIVITY was given
  card_name conductivity = {};      // Grid map of the saturated hydraulic conductivity (m/s)
  int contam_map_given = 0;         // 1 when CONTAM_MAP was given
  card_name contam_map = {};        // Grid map of the initial contaminant concentration
  int capillary_given = 0;          // 1 when CAPILLARY was given
  card_name capillary = {};         // Grid map of the capillary head (m)
  int porosity_given = 0;           // 1 when POROSITY was given
  card_name porosity = {};          // Grid map of the soil porosity (fraction)
  int moisture_given = 0;           // 1 when MOISTURE was given
  card_name moisture = {};          // Grid map of the initial soil moisture (fraction)
  int pore_index_given = 0;         // 1 when PORE_INDEX was given
  card_name pore_index = {};        // Grid map of the pore-size distribution index
  int albedo_given = 0;             // 1 when ALBEDO was given
  card_name albedo = {};            // Grid map of the surface albedo
  int vheight_given = 0;            // 1 when VHEIGHT was given
  card_name vheight = {};           // Grid map of the vegetation height (m)
  int tcoeff_given = 0;             // 1 when TCOEFF was given
  card_name tcoeff = {};            // Grid map of the vegetation transpiration coefficient
  int canopy_given = 0;             // 1 when CANOPY was given
  card_name canopy = {};            // Grid map of the canopy resistance
  int wilting_point_given = 0;      // 1 when WILTING_POINT was given
  card_name wilting_point = {};     // Grid map of the wilting-point water content
  int et_calc_penman_given = 0;     // 1 when ET_CALC_PENMAN was given
  int et_calc_deardorff_given = 0;  // 1 when ET_CALC_DEARDORFF was given

  // Residual saturation, retention and area reduction.
  int residual_sat_given = 0;         // 1 when RESIDUAL_SAT was given
  card_name residual_sat = {};        // Grid map of the residual saturation (fraction)
  int retention_given = 0;            // 1 when RETENTION was given
  double retention = 0.0;             // Uniform retention depth (mm)
  int reten_depth_given = 0;          // 1 when RETEN_DEPTH was given
  card_name reten_depth = {};         // Grid map of the retention depth (mm)
  int area_reduction_given = 0;       // 1 when AREA_REDUCTION was given
  card_name area_reduction = {};      // Grid map of the area reduction (fraction)
  int unif_area_reduction_given = 0;  // 1 when UNIF_AREA_REDUCTION was given
  double unif_area_reduction = 0.0;   // Uniform area reduction (fraction)

  // Map and channel series outputs.
  int depth_given = 0;             // 1 when DEPTH was given
  card_name depth = {};            // Base name of the overland depth maps
  int inf_depth_given = 0;         // 1 when INF_DEPTH was given
  card_name inf_depth = {};        // Base name of the infiltration depth maps
  int surf_moist_given = 0;        // 1 when SURF_MOIST was given
  card_name surf_moist = {};       // Base name of the surface soil moisture maps
  int rate_of_infil_given = 0;     // 1 when RATE_OF_INFIL was given
  card_name rate_of_infil = {};    // Base name of the infiltration rate maps
  int dis_rain_given = 0;          // 1 when DIS_RAIN was given
  card_name dis_rain = {};         // Base name of the rainfall maps
  int gw_recharge_cum_given = 0;   // 1 when GW_RECHARGE_CUM was given
  card_name gw_recharge_cum = {};  // Base name of the cumulative recharge maps
  int gw_recharge_inc_given = 0;   // 1 when GW_RECHARGE_INC was given
  card_name gw_recharge_inc = {};  // Base name of the incremental recharge maps
  int chan_depth_given = 0;        // 1 when CHAN_DEPTH was given
  card_name chan_depth = {};       // Channel depth output file
  int chan_sed_flux_given = 0;     // 1 when CHAN_SED_FLUX was given
  card_name chan_sed_flux = {};    // Channel sediment flux output file
  int discharge_given = 0;         // 1 when DISCHARGE was given
  card_name discharge = {};        // Base name of the overland discharge maps
  int chan_discharge_given = 0;    // 1 when CHAN_DISCHARGE was given
  card_name chan_discharge = {};   // Channel discharge output file
  int chan_stage_given = 0;        // 1 when CHAN_STAGE was given
  card_name chan_stage = {};       // Channel stage output file
  int chan_velocity_given = 0;     // 1 when CHAN_VELOCITY was given
  card_name chan_velocity = {};    // Channel velocity output file

  // Channel network.
  card_name channel_input = {};         // Channel network input file
  card_name optimize = {};              // Optimisation control file
  int optimize_given = 0;               // 1 when OPTIMIZE was given
  int optimize_sed_given = 0;           // 1 when OPTIMIZE_SED was given
  card_name section_table = {};         // Channel cross-section table
  card_name links = {};                 // Link map of the channel network
  card_name nodes = {};                 // Node map of the channel network
  card_name dis_profile = {};           // Discharge profile control file
  card_name wat_surf_profile = {};      // Water-surface profile control file
  card_name dis_profile_out = {};       // Discharge profile output file
  card_name wat_surf_profile_out = {};  // Water-surface profile output file

  // Summary, hydrographs and output locations.
  card_name summary = {};                  // The run summary file
  card_name outlet_hydro = {};             // Outlet hydrograph output file
  card_name sig_outlet_hydro = {};         // Significant-event outlet hydrograph file
  int sig_outlet_hydro_given = 0;          // 1 when SIG_OUTLET_HYDRO was given
  card_name vro_hydro = {};                // Variable-runoff hydrograph output file
  int vro_hydro_given = 0;                 // 1 when VRO_HYDRO was given
  card_name cell_hydro = {};               // Per-cell hydrograph output file
  int suppress_printing = 0;               // Output suppression level
  card_name in_hyd_location = {};          // File of the hydrograph output locations
  card_name in_gwflux_location = {};       // File of the groundwater flux output locations
  card_name superlink_node_location = {};  // File of the pipe node output locations
  card_name superlink_junc_location = {};  // File of the pipe junction output locations
  card_name superlink_junc_flow = {};      // Pipe junction flow output file
  card_name superlink_node_flow = {};      // Pipe node flow output file
  card_name in_theta_location = {};        // File of the soil moisture output locations
  card_name out_theta_location = {};       // Soil moisture output file at the locations
  card_name out_hyd_location = {};         // Hydrograph output file at the locations
  card_name out_gwflux_location = {};      // Groundwater flux output file at the locations
  card_name out_dep_location = {};         // Overland depth output file at the locations
  int in_hyd_location_given = 0;           // 1 when IN_HYD_LOCATION was given
  int in_gwflux_location_given = 0;        // 1 when IN_GWFLUX_LOCATION was given
  int out_dep_location_given = 0;          // 1 when OUT_DEP_LOCATION was given
  int in_theta_location_given = 0;         // 1 when IN_THETA_LOCATION was given
  int no_cont_inf_redist_given = 0;        // 1 when NO_CONT_INF_REDIST was given
  int superlink_junc_location_given = 0;   // 1 when SUPERLINK_JUNC_LOCATION was given
  int superlink_node_location_given = 0;   // 1 when SUPERLINK_NODE_LOCATION was given
  int superlink_junc_flow_given = 0;       // 1 when SUPERLINK_JUNC_FLOW was given
  int superlink_node_flow_given = 0;       // 1 when SUPERLINK_NODE_FLOW was given

  // Contaminant transport.
  card_name out_con_location = {};             // Contaminant concentration output at the locations
  int out_con_location_given = 0;              // 1 when OUT_CON_LOCATION was given
  int out_mass_location_given = 0;             // 1 when OUT_MASS_LOCATION was given
  card_name out_mass_location = {};            // Contaminant mass output at the locations
  int chan_con_trans_given = 0;                // 1 when CHAN_CON_TRANS was given
  card_name chan_point_input = {};             // Channel contaminant point-source file
  double chan_decay_coef = 0.0;                // Channel contaminant decay coefficient (1/s)
  double chan_disp_coef = 0.0;                 // Channel dispersion coefficient (m2/s)
  double init_chan_conc = 0.0;                 // Initial channel concentration (g/m3)
  int ov_con_trans_given = 0;                  // 1 when OV_CON_TRANS was given
  int all_contam_output_given = 0;             // 1 when ALL_CONTAM_OUTPUT was given
  int soil_con_trans_given = 0;                // 1 when SOIL_CON_TRANS / SOIL_CONTAM was given
  int soil_static_conc_given = 0;              // 1 when SOIL_STATIC_CONC was given
  int sediment_contam_given = 0;               // 1 when SEDIMENT_CONTAM was given
  card_name ov_point_source = {};              // Overland contaminant point-source file
  int ov_con_map_given = 0;                    // 1 when OV_CON_MAP was given
  card_name ov_con_map = {};                   // Grid map of the initial overland concentration
  int ov_point_source_given = 0;               // 1 when OV_POINT_SOURCE was given
  double ov_decay_coef = 0.0;                  // Overland contaminant decay coefficient (1/s)
  double ov_disp_coef = 0.0;                   // Overland dispersion coefficient (m2/s)
  double ov_mass_load = 0.0;                   // Overland contaminant mass load (g)
  double ov_uptake_rate = 0.0;                 // Overland uptake rate (1/s)
  double kinetics_timestep_factor = 0.0;       // Kinetics steps per transport step
  double soil_kinetics_timestep_factor = 0.0;  // Soil kinetics steps per step

  // Groundwater.
  int gw_simulation_given = 0;       // 1 when GW_SIMULATION was given
  int gw_assign_theta_given = 0;     // 1 when GW_ASSIGN_THETA was given
  int gw_lsor_dir = 0;               // Sweep direction of the line over-relaxation solver
  double gw_timestep = 0.0;          // Groundwater time step (reader default 1.0)
  double gw_lsor_con = 0.0;          // Convergence limit of the groundwater solver (m)
  double single_unsat_sat = 0.0;     // Saturation at which a layer counts as saturated
  double gw_leakage_rate = 0.0;      // Leakage through the aquifer bottom (m/s)
  double gw_relax_coeff = 0.0;       // Relaxation coefficient of the groundwater solver
  card_name gw_fluxboundtable = {};  // Groundwater flux boundary table
  card_name gw_boundfile = {};       // Groundwater boundary file
  card_name gw_output = {};          // Groundwater output file
  int gw_output_given = 0;           // 1 when GW_OUTPUT was given
  int gw_boundfile_given = 0;        // 1 when GW_BOUNDFILE was given
  double gw_unif_porosity = 0.0;     // Uniform aquifer porosity (fraction)
  int gw_unif_porosity_given = 0;    // 1 when GW_UNIF_POROSITY was given
  int gw_porosity_map_given = 0;     // 1 when GW_POROSITY_MAP was given
  card_name gw_porosity_map = {};    // Grid map of the aquifer porosity
  double gw_unif_hycond = 0.0;       // Uniform aquifer hydraulic conductivity (m/s)
  int gw_unif_hycond_given = 0;      // 1 when GW_UNIF_HYCOND was given
  int gw_hycond_map_given = 0;       // 1 when GW_HYCOND_MAP was given
  card_name gw_hycond_map = {};      // Grid map of the aquifer hydraulic conductivity
  int gw_well_level_given = 0;       // 1 when GW_WELL_LEVEL was given
  card_name gw_well_level = {};      // File of the well water levels
  card_name out_well_location = {};  // Well output file at the locations

  // TEV and VOLP exchange.
  int tev_given = 0;                   // 1 when TEV was given
  int volp_given = 0;                  // 1 when VOLP was given
  int tev_event_num = 0;               // Event number of the TEV output (-1 none)
  int tev_event_num_given = 0;         // 1 when TEV_EVENT_NUM was given
  card_name volp = {};                 // File of the VOLP exchange points
  int volp_first_given = 0;            // 1 when VOLP_FIRST was given
  int moist_to_volp_given = 0;         // 1 when MOIST_TO_VOLP was given
  int ksat_to_volp_given = 0;          // 1 when KSAT_TO_VOLP was given
  int rough_to_volp_given = 0;         // 1 when ROUGH_TO_VOLP was given
  int poros_to_volp_given = 0;         // 1 when POROS_TO_VOLP was given
  int erosivity_to_volp_given = 0;     // 1 when EROSIVITY_TO_VOLP was given
  int crop_fact_to_volp_given = 0;     // 1 when CROP_FACT_TO_VOLP was given
  int net_erosion_to_volp_given = 0;   // 1 when NET_EROSION_TO_VOLP was given
  card_name moist_to_volp = {};        // Soil moisture handed to VOLP
  card_name ksat_to_volp = {};         // Saturated conductivity handed to VOLP
  card_name rough_to_volp = {};        // Roughness handed to VOLP
  card_name poros_to_volp = {};        // Porosity handed to VOLP
  card_name erosivity_to_volp = {};    // Erosivity handed to VOLP
  card_name crop_fact_to_volp = {};    // Crop factor handed to VOLP
  card_name net_erosion_to_volp = {};  // Net erosion handed to VOLP
  int moist_from_volp_given = 0;       // 1 when MOIST_FROM_VOLP was given
  int ksat_from_volp_given = 0;        // 1 when KSAT_FROM_VOLP was given
  int rough_from_volp_given = 0;       // 1 when ROUGH_FROM_VOLP was given
  int erosivity_from_volp_given = 0;   // 1 when EROSIVITY_FROM_VOLP was given
  int crop_fact_from_volp_given = 0;   // 1 when CROP_FACT_FROM_VOLP was given
  int et_demand_from_volp_given = 0;   // 1 when ET_DEMAND_FROM_VOLP was given
  card_name moist_from_volp = {};      // Soil moisture taken from VOLP
  card_name ksat_from_volp = {};       // Saturated conductivity taken from VOLP
  card_name rough_from_volp = {};      // Roughness taken from VOLP
  card_name erosivity_from_volp = {};  // Erosivity taken from VOLP
  card_name crop_fact_from_volp = {};  // Crop factor taken from VOLP
  card_name et_demand_from_volp = {};  // ET demand taken from VOLP

  // Output buffering and the display window.
  int flush_buffer_given = 0;  // 1 when FLUSH_BUFFER was given
  int flush_buffer = 0;        // Output lines between flushes of the output files
  int xwindows_given = 0;      // 1 when XWINDOWS was given
  int xrain_given = 0;         // 1 when XRAIN was given
  int xgwrecharge_given = 0;   // 1 when XGWRECHARGE was given
  int xdepth_given = 0;        // 1 when XDEPTH was given
  int xinfdep_given = 0;       // 1 when XINFDEP was given
  int xsurf_given = 0;         // 1 when XSURF was given
  int x_freq = 0;              // Display refresh interval (-1 none)
  int xchan_given = 0;         // 1 when XCHAN was given
  int xwin_width = 0;          // Display window width (pixels)
  int xwin_height = 0;         // Display window height (pixels)
  int xbig_given = 0;          // 1 when XBIG was given
  int pause_given = 0;         // 1 when PAUSE was given

  // Lake loss, floods, pumps and dataset output.
  double m_lake = 0.0;               // Lakebed thickness of the lake loss (m)
  int flood_grid_given = 0;          // 1 when FLOOD_GRID was given
  card_name flood_grid = {};         // Flood depth output map
  int flood_stream_given = 0;        // 1 when FLOOD_STREAM was given
  card_name flood_stream = {};       // Stream flood output file
  int ov_boundary_given = 0;         // 1 when OV_BOUNDARY was given
  int use_wells_given = 0;           // 1 when USE_WELLS was given
  int lake_pump_given = 0;           // 1 when LAKE_PUMP was given
  card_name lake_pump = {};          // Lake pump file
  card_name zenf_file = {};          // Dataset output file
  card_name zenf_base_grid = {};     // Base grid of the dataset output
  card_name zenf_base_stream = {};   // Base stream network of the dataset output
  card_name zenf_datasetgroup = {};  // Dataset group name
  int zenf_compression = 0;          // Compression level of the dataset output

  // Nutrients and hotstarts of the overland plane and the soil.
  int stream_info_given = 0;         // 1 when STREAM_INFO was given
  int nutrients_given = 0;           // 1 when NUTRIENTS was given
  nsm_model* nsm = nullptr;          // NUTRIENTS: nutrient container; owned until handed to the run
  int ov_init_depth_given = 0;       // 1 when OV_INIT_DEPTH / READ_OV_HOTSTART was given
  int write_ov_hotstart_given = 0;   // 1 when WRITE_OV_HOTSTART was given
  card_name write_ov_hotstart = {};  // Overland hotstart file to write
  card_name ov_init_depth = {};  // OV_INIT_DEPTH / READ_OV_HOTSTART: overland hotstart file to read
  int read_sm_hotstart_given = 0;    // 1 when READ_SM_HOTSTART was given
  int write_sm_hotstart_given = 0;   // 1 when WRITE_SM_HOTSTART was given
  card_name write_sm_hotstart = {};  // Soil moisture hotstart file to write
  card_name read_sm_hotstart = {};   // Soil moisture hotstart file to read

  // Overland pumps, groundwater head, other models and calibration.
  int ov_pump_given = 0;             // 1 when OV_PUMP was given
  card_name ov_pump = {};            // Overland pump file
  double init_elev_head = 0.0;       // Uniform initial groundwater head (m)
  int init_elev_head_given = 0;      // 1 when INIT_ELEV_HEAD was given
  int fyssi_given = 0;               // 1 when FYSSI was given
  card_name fyssi = {};              // FYSSI input file
  int daily_output_given = 0;        // 1 when DAILY_OUTPUT was given
  card_name daily_output = {};       // Daily output file
  int super_quiet_given = 0;         // 1 when SUPER_QUIET was given
  int r7_input_given = 0;            // 1 when R7_INPUT was given
  card_name r7_input = {};           // Reservoir model input file
  int r7_fluxes_given = 0;           // 1 when R7_FLUXES was given
  card_name r7_nodes_to_segs = {};   // Node-to-segment file of the reservoir model
  card_name r7_segment_map = {};     // Grid map of the reservoir model segments
  card_name r7_segment_fluxes = {};  // Segment flux output file
  int calib_comp_data = 1;           // 0 DAILY, 1 EVENT, 2 not given
  card_name calib_obs_data = {};     // Observed data file of the calibration
  int calib_obj_func = 1;            // 0 RMSE, 1 HMLE, 2 not given

  // Pipe outputs, stream tables, analyzers and the project folder.
  int pipe_head_given = 0;          // 1 when PIPE_HEAD was given
  int pipe_tile_given = 0;          // 1 when PIPE_TILE was given
  int pipe_flow_given = 0;          // 1 when PIPE_FLOW was given
  card_name pipe_head = {};         // Pipe head output file
  card_name pipe_tile = {};         // Tile-drain input file
  card_name pipe_flow = {};         // Pipe flow output file
  int st_mapping_table_given = 0;   // 1 when ST_MAPPING_TABLE was given
  card_name st_mapping_table = {};  // Stream mapping-table file
  int analyzers_given = 0;          // 1 when ANALYZERS was given
  card_name analyzers = {};         // Analyzer control file
  card_name project_folder = {};    // PROJECT_FOLDER / PROJECT_PATH: project folder as written
  double chan_ph = 0.0;             // PH of the water (reader default 7.2)

  // Nutrient outputs and soil nutrient options.
  int total_ov_n_given = 0;           // 1 when TOTAL_OV_N was given
  int total_ov_p_given = 0;           // 1 when TOTAL_OV_P was given
  int total_chan_n_given = 0;         // 1 when TOTAL_CHAN_N was given
  int total_chan_kn_given = 0;        // 1 when TOTAL_CHAN_KN was given
  int total_chan_p_given = 0;         // 1 when TOTAL_CHAN_P was given
  card_name total_ov_n = {};          // Overland total nitrogen output
  card_name total_ov_p = {};          // Overland total phosphorus output
  card_name total_chan_n = {};        // Channel total nitrogen output
  card_name total_chan_kn = {};       // Channel total Kjeldahl nitrogen output
  card_name total_chan_p = {};        // Channel total phosphorus output
  int soils_nsm_p = 0;                // 2 when the soil phosphorus pools come from the table
  int soils_nsm_n = 0;                // 2 when the soil nitrogen pools come from the table
  int soils_nsm_c = 0;                // 2 when the soil carbon pools come from the table
  double* nsm_soil_coeffs = nullptr;  // NO2_KM..DP_KM, NO2_KOC..DP_KOC: 12 doubles; owned

  // Sources and snow.
  card_name sourcefile = {};     // Source input file
  int sourcefile_given = 0;      // 1 when SOURCEFILE was given
  card_name init_swe_map = {};   // INIT_SWE_DEPTH with a file: initial snow water map (m)
  card_name snow_swe_file = {};  // Snow water equivalent output file
  int init_swe_kind = 0;         // INIT_SWE_DEPTH: 1 map, 3 uniform value, 0 not given
  int snow_swe_file_given = 0;   // 1 when SNOW_SWE_FILE was given
  double init_swe_depth = 0.0;   // INIT_SWE_DEPTH with a number: uniform initial snow water (m)

  // XY boundary outputs and inputs.
  int xy_output_given = 0;     // 1 when XYBDYOUTPUT_PTS or XYBDYOUTPUT_MASK was given
  struct xy_output xy_output;  // XY outputs (XYBDYOUTPUT_* cards)
  struct xy_input xy_input;    // XY boundary inputs (XYBDYINPUT_* cards)

  // The files read at once, while the project is read, by the cards with their own handling
  // (TIME_SERIES_FILE, ELEV_SERIES_FILE, REPLACE_PARAMS, REPLACE_VALS, XYBDYINPUT_*): the
  // keyword and the name as given, in the order of the cards.
  std::vector<std::pair<std::string, std::string>> files_read;

  // Names and flags empty, calib_comp_data and calib_obj_func 1, the XY objects empty.
  project_cards() = default;
  project_cards(const project_cards&) = delete;
  project_cards& operator=(const project_cards&) = delete;
  // Frees nsm_soil_coeffs and, when the run has not taken it over, the nutrient container; then
  // xy_input is destroyed and xy_output's files are closed.
  ~project_cards();
};

// Grid, clock, output intervals and the routing and infiltration choices.
struct grid_time_params {
  int units = 0;                    // UNITS flag
  int rows = 0;                     // ROWS: grid rows
  int cols = 0;                     // COLS: grid columns
  double gridsize = 0.0;            // GRIDSIZE: cell size (m)
  int tot_time = 0;                 // TOT_TIME: simulation length (minutes)
  double timestep = 0.0;            // TIMESTEP: time step (s)
  int start_day = 0;                // START_DATE: day of the month
  int start_month = 0;              // START_DATE: month
  int start_year = 0;               // START_DATE: year
  int start_hour = 0;               // START_TIME: hour
  int start_minute = 0;             // START_TIME: minute
  int outrow = 0;                   // OUTROW: row of the outlet cell
  int outcol = 0;                   // OUTCOL: column of the outlet cell
  double latitude = 32.0;           // LATITUDE: degrees north
  double longitude = -90.0;         // LONGITUDE: degrees east
  double gmt = 0.0;                 // GMT: hours from Greenwich
  int gmt_given = 0;                // 1 when GMT was given
  int qout_cfs = 0;                 // QOUT_CFS: report discharges in cubic feet per second
  int quiet = 0;                    // QUIET: no progress line
  double outslope = 0.0;            // OUTSLOPE: bed slope at the outlet
  double hyd_freq = 0.0;            // HYD_FREQ: hydrograph output interval (minutes)
  int map_freq = 0;                 // MAP_FREQ: map output interval (minutes)
  int map_type = 0;                 // MAP_TYPE: map output kind
  int project_open_failed = 0;      // 1 when the project file could not be opened
  int inf_scheme = 0;               // 0 none, 1 GREEN_AMPT, 2 INF_REDIST, 3 INF_LAYERED_SOIL,
                                    // 4 INF_RICHARDS
  int chan_scheme = 0;              // 0 none, 1 CHAN_PREISS, 2 CHAN_DRAIN, 3 CHAN_EXPLIC /
                                    // DIFFUSIVE_WAVE, 4 CHAN_MESH, 5 CHAN_BACKWATER
  int end_day = 0;                  // END_TIME: day of the month
  int end_month = 0;                // END_TIME: month
  int end_year = 0;                 // END_TIME: year
  int end_hour = 0;                 // END_TIME: hour
  int end_minute = 0;               // END_TIME: minute
  double st_time_step = 0.0;        // ST_TIME_STEP: time step of the stream solver (s)
  int gw_fluxboundtable_given = 0;  // 1 when GW_FLUXBOUNDTABLE was given
};

// Uniform rainfall and the precipitation file. The model state starts it with rain_interpolation
// 1; read_project_file resets it to 0 before the cards are applied.
struct uniform_rain_params {
  int precip_source = 0;        // 0 uniform rainfall (PRECIP_UNIF), 1 file (PRECIP_FILE)
  int rain_interpolation = 1;   // 0 inverse distance (RAIN_INV_DISTANCE), 1 Thiessen
  double rain_intensity = 0.0;  // RAIN_INTENSITY (mm/h)
  int rain_duration = 0;        // RAIN_DURATION (minutes)
  card_name precip_file = {};   // PRECIP_FILE: precipitation gauge file
};
