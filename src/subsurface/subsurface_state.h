// Subsurface and land-atmosphere processes: the member record of the run's model_state that
// holds the soil-type table, infiltration, groundwater, evapotranspiration and snow state.
#pragma once

#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "framework/core/zeroed_table.h"
#include "subsurface/soil_account_state.h"
#include "subsurface/soil_table_state.h"

// One well of the groundwater model on the run's list of active wells (the list itself is
// process-wide, see wells.h).
struct well_record {
  int id = 0;                   // well id in the table; the cell number once active
  int mode = 0;                 // pumping mode
  double rate = 0.0;            // pumping rate (m3/s)
  int ts_index = 0;             // time-series index of a scheduled rate
  well_record* next = nullptr;  // next well of the list; null at the end
};

// The one lumped basin of the Sacramento soil-moisture accounting: capacities (mm), rates (per
// step), the five storages (mm) and the derived values.
struct sac_basin_params {
  double uztwm = 0.0;        // upper-zone tension water capacity
  double uzfwm = 0.0;        // upper-zone free water capacity
  double uzk = 0.0;          // upper-zone free water depletion rate
  double zperc = 0.0;        // percolation demand factor
  double rexp = 0.0;         // percolation exponent
  double lztwm = 0.0;        // lower-zone tension water capacity
  double lzfsm = 0.0;        // lower-zone supplementary free water capacity
  double lzfpm = 0.0;        // lower-zone primary free water capacity
  double lzsk = 0.0;         // supplementary depletion rate
  double lzpk = 0.0;         // primary depletion rate
  double pfree = 0.0;        // share of percolation going straight to the free stores
  double saved = 0.0;        // lower-zone free water not available to tension resupply
  double uztwc = 0.0;        // upper-zone tension water content
  double uzfwc = 0.0;        // upper-zone free water content
  double lztwc = 0.0;        // lower-zone tension water content
  double lzfsc = 0.0;        // lower-zone supplementary free water content
  double lzfpc = 0.0;        // lower-zone primary free water content
  double residual = 0.0;     // cumulative balance residual
  double last_inflow = 0.0;  // channel inflow of the last step
  double pbase = 0.0;        // lzfsm * lzsk + lzfpm * lzpk
};

// The Sacramento model's books of the run, read by its end-of-run check: the basin storages at
// the run start and the run's totals, all in mm over the basin, and its channel loss in m3.
// Kept by the Sacramento step.
struct sac_run_books {
  double uztwc0 = 0.0, uzfwc0 = 0.0, lztwc0 = 0.0;  // storages at the run start (mm)
  double lzfpc0 = 0.0, lzfsc0 = 0.0;
  double rain = 0.0;           // rainfall into the basin (mm)
  double pet = 0.0;            // potential evapotranspiration (mm)
  double aet = 0.0;            // actual evapotranspiration (mm)
  double runoff = 0.0;         // subsurface runoff (mm)
  double deep_recharge = 0.0;  // recharge to the deep groundwater (mm)
  double channel_loss = 0.0;   // channel loss to the subsurface (m3)
};

struct subsurface_state {
  // Infiltration.
  int green_ampt = 0;                   // Green and Ampt infiltration
  int inf_redist = 0;                   // Green and Ampt with redistribution
  int inf_richards = 0;                 // Richards equation
  int inf_layered_soil = 0;             // layered soil
  int continuous_redist = 0;            // redistribution goes on between events
  int moisture_on = 0;                  // initial soil moisture from its map or its table
  int conductivity_on = 0;              // Green and Ampt conductivity map (or table) read
  int capillary_on = 0;                 // Green and Ampt capillary head map (or table) read
  int porosity_on = 0;                  // Green and Ampt porosity map (or table) read
  int pore_index_on = 0;                // pore-size distribution index map (or table) read
  int residual_sat_on = 0;              // residual saturation map (or table) read
  int richards_iter_max = 0;            // iteration limit of the Richards solution
  double richards_weight = 0.0;         // time weighting of the Richards solution (0..1)
  int richards_k_option = 0;            // interlayer conductivity: 1 arithmetic, 2 geometric
  int richards_c_option = 0;            // soil-water function: 1 Brooks-Corey, 2 Havercamp
  double richards_dtheta_max = 0.0;     // largest water-content change per Richards step
  int richards_upper_option = 0;        // upper boundary: 2 Green and Ampt, 3 average
  raw_array1d<double> porosity_cell;    // per cell: porosity (fraction)
  raw_array1d<double> ks_cell;          // per cell: saturated hydraulic conductivity (m/s)
  raw_array1d<double> hc_cell;          // per cell: capillary head (m)
  raw_array1d<double> pore_index_cell;  // per cell: pore-size distribution index (-)
  raw_array1d<double> theta_work;       // per cell: working soil moisture of the start-up
                                        // readers and the moisture hotstart (fraction)
  raw_array1d<int> soiltype;            // per cell: soil type id 0..max_soil_types-1
  raw_array1d<double> sm_bottom_loss;   // per cell: water lost through the soil bottom (m)
  file_handle multi_layer_soil_file;    // layered-soil table input
  file_handle evap_out_file;            // evaporation log of the soil-column schemes

  // Groundwater.
  int gw_simulation = 0;            // saturated groundwater simulated
  int water_table_on = 0;           // WATER_TABLE: initial water table from its map
  int gw_assign_theta = 0;          // GW_ASSIGN_THETA
  int gw_lsor_dir = 0;              // sweep direction of the line over-relaxation solver
  double gw_lsor_con = 0.0;         // m: convergence limit of the groundwater solver
  double gw_leakage_rate = 0.0;     // m/s: leakage through the aquifer bottom
  int gw_porosity_map_on = 0;       // GW_POROSITY_MAP: aquifer porosity from its map
  int gw_unif_porosity_on = 0;      // GW_UNIF_POROSITY: one aquifer porosity
  double gw_unif_porosity = 0.0;    // uniform aquifer porosity (fraction)
  int gw_hycond_map_on = 0;         // GW_HYCOND_MAP: aquifer conductivity from its map
  int gw_unif_hycond_on = 0;        // GW_UNIF_HYCOND: one aquifer conductivity
  double gw_unif_hycond = 0.0;      // m/s: uniform aquifer hydraulic conductivity
  int gw_well_level_on = 0;         // GW_WELL_LEVEL: well levels written
  int gw_output_on = 0;             // GW_OUTPUT
  int gw_fluxboundtable = 0;        // GW_FLUXBOUNDTABLE: flux boundary table given
  double aquifer_delta_z = 0.0;     // m: vertical size of a groundwater cell (-999.9 unset)
  int gw_sweep_parity = 1;          // 1 or 2: sweep direction, flipped at every solve
  double gw_solve_factor = 1.0;     // relaxation factor of the groundwater solver
  int gw_summary_flag = 1;          // groundwater totals in the end-of-run summary
  raw_array1d<double> bottom_elev;  // per cell: aquifer bottom elevation (m)
  raw_array1d<double> elevgw;       // per cell: groundwater head (m)
  raw_array1d<int> gwbound;         // per cell: groundwater boundary type 0..7 (6 static flux)
  raw_array1d<double> gw_cond_x;    // per cell: aquifer hydraulic conductivity along rows (m/s)
  raw_array1d<double> gw_cond_y;    // per cell: aquifer hydraulic conductivity along columns (m/s)
  raw_array1d<double> gw_static_flux;  // per cell: static-flux well rate per area (m/s)
  raw_array1d<int> num_unsat_cells;    // per cell: unsaturated cells above the aquifer
  int static_well_count = 0;           // static-flux wells of the flux table (or type-6 cells)
  int dynamic_well_count = 0;          // type-3 cells of the groundwater boundary map
  file_handle gw_boundfile_file;       // groundwater boundary cells
  file_handle gw_hycond_map_file;      // groundwater conductivity map
  file_handle gw_porosity_map_file;    // groundwater porosity map
  file_handle gw_well_level_file;      // well water levels output

  // Snow and the Sacramento model.
  double snow_param_a = 27.0;          // first parameter of the snowmelt energy balance
  double snow_param_b = 80.0;          // second parameter of the snowmelt energy balance
  int sacramento = 0;                  // Sacramento soil-moisture accounting on
  int topo_dex = 0;                    // Sacramento with the model's own topographic index
  int topo_index = 0;                  // TOPO_INDEX: Sacramento with a topographic index
  raw_array1d<double> swe;             // per cell 1..cell_count: snow water equivalent (m of water)
  sac_basin_params sac_params;         // the Sacramento basin
  sac_run_books sac_books;             // the Sacramento books of the run
  double sac_basin_area = 0.0;         // m2: area of the Sacramento basin
  double sac_event_input = 0.0;        // m3: Sacramento input of the current event
  double sac_event_et = 0.0;           // m3: Sacramento evapotranspiration of the current event
  double sac_event_inflow = 0.0;       // m3: Sacramento channel inflow of the current event
  double event_vol_sac_init = 0.0;     // m3: Sacramento soil water at the event start
  int sac_num_basins = 1;              // basins of the parameter file (one lumped basin)
  int sac_call_count = 0;              // Sacramento steps taken in the run
  double sac_input_mm = 0.0;           // mm: input of the last step (mean infiltrated depth)
  double sac_et_mm = 0.0;              // mm: evapotranspiration of the last step (actual)
  double sac_pet_cm = 0.0;             // cm: potential evapotranspiration of the hour (hydromet)
  double sac_discharge = 0.0;          // m3/s: channel inflow of the current hour
  double sac_inflow_mean = 0.0;        // mm: mean of the last two steps' channel inflows
  double sac_outflow_left = 0.0;       // m3: channel inflow computed but not yet given to the nodes
  double sac_vol_delivered = 0.0;      // m3: channel inflow given to the nodes in the run
  double sac_vol_input = 0.0;          // m3: input of the run
  double sac_vol_et = 0.0;             // m3: evapotranspiration of the run
  double sac_vol_inflow = 0.0;         // m3: channel inflow computed in the run
  raw_array1d<double> sac_cell_index;  // per cell: channel cell's normalised index (0 elsewhere)
  // Long-term weather and evapotranspiration.
  int hmet_surfaways = 0;               // hydromet file in Surface Airways format
  int hmet_samson = 0;                  // hydromet file in SAMSON format
  int hmet_obu = 0;                     // hydromet file in OBU format
  char hmet_station[23] = {};           // station text of a SAMSON header (22 characters)
  int hmet_repair_count = 0;            // missing hydromet values replaced so far
  int et_penman = 0;                    // Penman-Monteith evapotranspiration
  int et_deardorff = 0;                 // Deardorff evapotranspiration
  int albedo_on = 0;                    // albedo from its map or the evapotranspiration table
  int vheight_on = 0;                   // vegetation height from its map or that table
  int tcoeff_on = 0;                    // transmission coefficient from its map or that table
  int canopy_on = 0;                    // canopy resistance from its map or that table
  int wilting_point_on = 0;             // wilting point from its map or that table
  int seasonal_rs = 0;                  // SEASONAL_RS: seasonal canopy resistance
  raw_array1d<double> albedo_cell;      // per cell: surface albedo (fraction)
  raw_array1d<double> vheight_cell;     // per cell: vegetation height (m)
  raw_array1d<double> tcoeff_cell;      // per cell: transmission coefficient (fraction)
  raw_array1d<double> canopy_cell;      // per cell: canopy resistance (s/m)
  raw_array1d<double> theta_wp_cell;    // per cell: wilting point water content (fraction)
  raw_array1d<double> theta_fc_cell;    // per cell: field capacity water content (fraction)
  raw_array1d<double> et_rate_water;    // per cell: potential evaporation of surface water (cm/s)
  raw_array1d<double> et_rate_soil;     // per cell: potential evapotranspiration of the soil
                                        // (cm/s), set every hydromet hour: the root zone's demand
  raw_array1d<double> topo_dex_values;  // per cell: topographic index of the Sacramento model

  // Soil state of the infiltration schemes, per cell 1..cell_count (allocated by the soil
  // set-up for the schemes that use them; an empty array is not used).
  int redistribution_on = 0;            // scheme 2 or 3: soil moisture kept between events
  int inf_active = 0;                   // redistribution re-initialised for the current event
  int infil_step_count = 0;             // infiltration steps of the current event
  double zone_depth_upper = 0.0;        // cm: depth of the upper soil zone
  double init_unsat_depth_cm = 0.0;     // cm: default initial unsaturated depth (redistribution)
  double single_unsat_sat = 0.0;        // saturation factor of the soil released by a moving table
  double gw_time_step = 0.0;            // s: groundwater step (GW_TIMESTEP)
  raw_array1d<double> theta_init;       // per cell: initial water content
  raw_array1d<double> residual_cell;    // per cell: residual water content
  raw_array1d<double> inf_depth_cum;    // per cell: cumulative infiltrated depth (m)
  raw_array1d<double> inf_depth_prev;   // per cell: inf_depth_cum of the previous step (m)
  raw_array1d<double> inf_rate;         // per cell: infiltration rate (cm/h)
  raw_array1d<double> inf_depth_total;  // per cell: infiltrated depth of the run (m)
  raw_array1d<double> inf_depth_longterm;   // per cell: infiltration since the soil update (m)
  raw_array1d<double> exfil_cum;            // per cell: exfiltrated depth (m)
  raw_array1d<double> redist_front_theta;   // per cell: water content of the wetting front
  raw_array1d<double> redist_front_depth;   // per cell: depth held by the wetting front (m)
  raw_array1d<double> surf_moist;           // per cell: surface water content
  raw_array1d<int> iter_pond_1;             // per cell: update at which ponding began
  raw_array1d<int> iter_n;                  // per cell: update of the last redistribution
  raw_array1d<int> iter_i_less_k;           // per cell: update with supply below conductivity
  raw_array1d<int> no_wat_prof;             // per cell: front state 0, 1 or 2
  raw_array1d<double> wetdep;               // per cell: wetting-front depth, layered soil (cm)
  raw_array2d<double> THETA_ML;             // [cell][layer 1..3]: layered-soil water content
  raw_array1d<int> yes_exfil;               // per cell: 1 the water table reaches the surface
  raw_array1d<double> zone_water_upper;     // per cell: water in the upper zone (cm)
  raw_array1d<double> zone_water_lower;     // per cell: water in the lower zone (cm)
  raw_array1d<double> soil_water_total;     // per cell: water of both zones (cm)
  raw_array1d<double> wt_depth_cm;          // per cell: unsaturated depth above the table (cm)
  raw_array1d<double> recharge_inc;         // per cell: drainage to the groundwater (cm)
  raw_array1d<double> recharge_cum;         // per cell: drainage below the soil in the run (cm),
                                            // net of evapotranspiration drawn from the table
  raw_array1d<double> et_cum_cell;          // per cell: evapotranspiration depth (cm)
  raw_array1d<double> gw_inf_redist_theta;  // per cell: water released by a moving table
  raw_array1d<double> gw_porosity;          // per cell: aquifer porosity
  raw_array1d<double> gw_flux;              // per cell: boundary flux of the step (m3)
  // Infiltration bookkeeping and the per-cell terms of the Green and Ampt schemes, rebuilt for
  // every run.
  raw_array1d<double> green_ampt_g;   // per cell: capillary head x moisture deficit (m)
  int green_ampt_g_ready = 0;         // green_ampt_g filled at the run's first update
  int infiltration_taken = 0;         // the rainfall step took this pass's infiltration
  int inf_call_count = 0;             // redistribution updates made in the run
  double inf_volume_total = 0.0;      // m3: infiltrated volume of the run
  double exfil_volume = 0.0;          // m3: exfiltrated volume of the run (negative: loss)
  double exfil_loss_rate = 0.0;       // cm/h: loss of surface water over a deep table
  double exfil_soil_depth = 0.0;      // cm: soil depth of the exfiltration gradient
  double et_depth_step = 0.0;         // m: evaporation of the Richards columns in the update
  raw_array1d<double> sac_inf_depth;  // per cell: depth infiltrated since the last Sacramento
                                      // step (m)
  raw_array1d<double> surf_theta;     // per cell: water content of the top Richards node
  raw_array1d<double> gw_exfil_coef;  // per cell: exfiltration coefficient of the columns
  // Richards columns, [cell 1..cell_count][node 1..numcells[cell]].
  raw_array1d<int> numcells;      // per cell: nodes of the column
  raw_array1d<int> bound_type;    // per cell: 1 flux, 2 ponded head, 3 saturated surface
  raw_array1d<double> inf_rich;   // per cell: cumulative Richards infiltration (m)
  raw_array1d<double> dtr;        // per cell: proposed sub-step (h)
  raw_array2d<double> THETA;      // [cell][node]: water content
  raw_array2d<double> THETAS;     // [cell][node]: saturated water content
  raw_array2d<double> DZ;         // [cell][node]: node thickness (cm)
  raw_array1d<double> VOLCHANGE;  // per cell: change of column water in the step (cm)
  raw_array1d<double> MASSERROR;  // per cell: mass-balance error of the column (cm)
  raw_array1d<double> avgks;      // per cell: mean saturated conductivity of the column (cm/h)
  raw_array1d<double> totaldz;    // per cell: depth of the column (cm)
  raw_array1d<int> num1;          // 1..151: work counts of the column solver
  raw_array1d<int> num2;          // per cell: work count of the column solver
  raw_array1d<int> num3;          // per cell: work count of the column solver
  raw_array1d<int> numtot;        // per cell: total node count of the column
  // Node arrays [cell 1..cell_count][node 1..richards_node_count], made by the soil table reader.
  raw_array2d<double> PHEAD;          // pressure head (cm)
  raw_array2d<double> KHEAD;          // unsaturated conductivity (cm/h)
  raw_array2d<double> WATCAP;         // water capacity (1/cm)
  raw_array2d<double> WATFLUX;        // water flux between nodes (cm/h)
  raw_array2d<double> SOURCE;         // source and sink term (1/h)
  raw_array2d<double> THETAR;         // residual water content
  raw_array2d<double> THETAWP;        // wilting point water content
  raw_array2d<double> THETAFC;        // field capacity water content
  raw_array2d<double> thehac;         // Havercamp water-content parameter
  raw_array2d<double> BChc;           // Brooks-Corey capillary head (cm)
  raw_array2d<double> root_depth;     // root fraction of the node
  raw_array2d<double> AHAV;           // Havercamp A
  raw_array2d<double> BHAV;           // Havercamp B
  raw_array2d<double> ALPHA;          // Havercamp alpha
  raw_array2d<double> BETA;           // Havercamp beta
  raw_array2d<double> KS;             // saturated conductivity of the node (cm/h)
  raw_array2d<double> BP;             // Brooks-Corey bubbling pressure (cm, negative)
  raw_array2d<double> LAM;            // Brooks-Corey pore-size distribution index
  raw_array1d<double> rich_et_step;   // per cell: evapotranspiration of the last update (cm)
  raw_array1d<double> richards_work;  // work space of the columns: richards_work_threads blocks
                                      // of richards_thread_work_size(richards_node_count)
  int richards_work_threads = 0;      // threads the work space serves
  // Volumes of the soil balances (m3).
  double recharge_volume = 0.0;         // drainage booked out of the soil
  double et_cell_volume = 0.0;          // evapotranspiration booked out of the soil
  double vadose_vol_initial = 0.0;      // initial water of the unsaturated soil
  double vadose_vol_event = 0.0;        // water of the Richards columns at the event start
  double subsurface_vol_initial = 0.0;  // vadose_vol_initial plus the groundwater term
  double richards_et_total = 0.0;       // evapotranspiration of the Richards columns
  double evap_total = 0.0;              // evaporation of the run
  double evap_depth_event = 0.0;        // m: evaporation over the gap before the current event
  double soil_storage_change = 0.0;     // change of soil storage between events
  double gw_event_exchange = 0.0;       // groundwater exchange of the event
  soil_account_state soil_account;      // two-zone soil water account of long-term runs

  // Start-up grids and node counts.
  raw_array2d<int> soil_type_grid;  // [row 0..rows+1][col 0..cols+1]: soil type ids of the
                                    // layered-soil map, 0 border
  int richards_node_count = 0;      // Richards computational nodes of the deepest column
  raw_array1d<double> PHEADOLD;     // per node 1..n, n the largest of cell_count, the channel
                                    // node total and richards_node_count: previous head (m)

  zeroed_table<soil_table_record, max_soil_types> soil_types;  // by id 0..max_soil_types-1
};
