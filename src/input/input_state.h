// Project and spatial input: the member record of the run's model_state that holds the input
// files opened from the project's cards and the resolved run file names.
#pragma once

#include "framework/core/file_handle.h"

// File names copied from the cards for the readers of the run.
struct run_file_names {
  char elevation[1024] = {};             // elevation grid
  char watershed_mask[1024] = {};        // watershed mask grid
  char summary[1024] = {};               // run summary
  char outlet_hydro[1024] = {};          // outlet hydrograph
  char mapping_table[1024] = {};         // overland mapping-table file
  char st_mapping_table[1024] = {};      // stream mapping-table file
  char channel_input[1024] = {};         // channel network input
  char precip_file[1024] = {};           // precipitation file
  char data_file[1024] = {};             // default data file name, "data1"
  char moisture[1024] = {};              // initial soil moisture grid
  char conductivity[1024] = {};          // saturated hydraulic conductivity grid
  char capillary[1024] = {};             // capillary head grid
  char porosity[1024] = {};              // soil porosity grid
  char pore_index[1024] = {};            // pore-size distribution index grid
  char residual_sat[1024] = {};          // residual saturation grid
  char roughness[1024] = {};             // Manning roughness grid
  char links[1024] = {};                 // channel link grid
  char nodes[1024] = {};                 // channel node grid
  char read_chan_depth[1024] = {};       // channel hotstart read for the depths
  char read_chan_discharge[1024] = {};   // channel hotstart read for the discharges (the same file)
  char write_chan_discharge[1024] = {};  // channel discharge hotstart written: base name + ".qht"
  char write_chan_depth[1024] = {};      // channel depth hotstart written: base name + ".dht"
  char section_table[1024] = {};         // channel cross-section table
  char sig_outlet_hydro[1024] = {};      // outlet hydrograph of significant flows
  char lake_output[1024] = {};           // lake output
  char vro_hydro[1024] = {};             // hydrograph for the interface
  char storage_capacity[1024] = {};      // interception storage capacity grid
  char interception_coeff[1024] = {};    // interception coefficient grid
  char reten_depth[1024] = {};           // retention depth grid
  char out_hyd_location[1024] = {};      // hydrographs at the locations
  char out_dep_location[1024] = {};      // depths at the locations
  char out_con_location[1024] = {};      // concentrations at the locations
  char out_mass_location[1024] = {};     // masses at the locations
  char chan_point_input[1024] = {};      // channel point inputs
  char ov_point_source[1024] = {};       // overland point sources
  char in_theta_location[1024] = {};     // soil-moisture output locations
  char out_theta_location[1024] = {};    // soil moisture at the locations
  char contam_map[1024] = {};            // initial contaminant grid
  char in_hyd_location[1024] = {};       // hydrograph output locations
  char in_gwflux_location[1024] = {};    // groundwater-flux output locations
  char out_gwflux_location[1024] = {};   // groundwater fluxes at the locations
  char albedo[1024] = {};                // albedo grid
  char vheight[1024] = {};               // vegetation height grid
  char tcoeff[1024] = {};                // transmission coefficient grid
  char canopy[1024] = {};                // canopy resistance grid
  char wilting_point[1024] = {};         // wilting point grid
  char materials[1024] = {};             // channel materials
  char soil_type_map[1024] = {};         // soil type grid
  char soil_layer_input_file[1024] = {};    // layered-soil table
  char dike_map[1024] = {};                 // embankment grid
  char lowspot_file[1024] = {};             // low spots along the embankments
  char overland_lake_map[1024] = {};        // overland lake grid
  char overland_lake_file[1024] = {};       // overland lake table
  char storm_sewer[1024] = {};              // pipe-network input
  char grid_pipe[1024] = {};                // grid-to-pipe map
  char superlink_junc_location[1024] = {};  // pipe junction output locations
  char superlink_node_location[1024] = {};  // pipe node output locations
  char superlink_junc_flow[1024] = {};      // pipe junction flows output
  char superlink_node_flow[1024] = {};      // pipe node flows output
  char hmet_file[1024] = {};                // hydrometeorological records
  char stream_cell[1024] = {};              // cells of the stream network
  char water_table[1024] = {};              // initial water-table grid
  char gw_porosity_map[1024] = {};          // aquifer porosity grid
  char gw_hycond_map[1024] = {};            // aquifer conductivity grid
  char gw_fluxboundtable[1024] = {};        // groundwater flux boundary table
  char gw_boundfile[1024] = {};             // groundwater boundary cells
  char gw_output[1024] = {};                // groundwater output
  char gw_well_level[1024] = {};            // well levels output
  char out_well_location[1024] = {};        // well locations
  char aquifer_bottom[1024] = {};           // aquifer bottom grid
  char sacramento[1024] = {};               // Sacramento parameters
  char flood_grid[1024] = {};               // flood depth map
  char flood_stream[1024] = {};             // stream flood stage output
  char daily_output[1024] = {};             // daily output
  char evap_out[1024] = {};                 // evaporation log, "evap_out"
};

struct input_state {
  file_handle elevation_file;                // cell elevations (m)
  file_handle watershed_mask_file;           // active cells of the watershed
  file_handle soil_type_file;                // soil type ids
  file_handle raingage_file;                 // precipitation gauges and records
  file_handle moisture_file;                 // initial soil moisture
  file_handle roughness_file;                // Manning roughness
  file_handle conductivity_file;             // saturated hydraulic conductivity
  file_handle contam_map_file;               // initial contaminant map
  file_handle capillary_file;                // capillary head
  file_handle porosity_file;                 // porosity
  file_handle pore_index_file;               // pore-size distribution index
  file_handle residual_sat_file;             // residual saturation
  char porosity_source[1100] = {};           // the porosity's map file or the mapping table, for
                                             // the messages of the water contents checked on it
  file_handle interception_file;             // canopy storage capacity
  file_handle interception_coeff_file;       // interception coefficient
  file_handle retention_file;                // retention depth
  file_handle area_reduction_file;           // area reduction factor
  file_handle in_hyd_location_file;          // hydrograph output locations
  file_handle in_gwflux_location_file;       // groundwater-flux output locations
  file_handle hmet_file;                     // hydrometeorological records
  file_handle albedo_file;                   // albedo
  file_handle vheight_file;                  // vegetation height
  file_handle tcoeff_file;                   // transmission coefficient
  file_handle canopy_file;                   // canopy resistance
  file_handle wilting_point_file;            // wilting point
  file_handle stream_cell_file;              // cells of the stream network
  file_handle overland_lake_map_file;        // overland lake map
  file_handle overland_lake_file;            // overland lake table
  file_handle water_table_file;              // initial water table
  file_handle aquifer_bottom_file;           // aquifer bottom elevation
  file_handle in_theta_location_file;        // soil-moisture output locations
  file_handle out_theta_location_file;       // soil moisture at the locations
  file_handle out_hyd_location_file;         // hydrographs at the locations
  file_handle out_gwflux_location_file;      // groundwater fluxes at the locations
  file_handle out_dep_location_file;         // depths at the locations
  file_handle out_con_location_file;         // concentrations at the locations
  file_handle out_mass_location_file;        // masses at the locations
  file_handle optimize_file;                 // calibration output
  file_handle well_location_file;            // well locations
  file_handle superlink_junc_location_file;  // pipe junction output locations
  file_handle superlink_node_location_file;  // pipe node output locations
  file_handle superlink_junc_flow_file;      // pipe junction flows output
  file_handle superlink_node_flow_file;      // pipe node flows output
  run_file_names names;                      // names resolved from the cards

  // Mapping tables.
  double soil_map_constant = 0.0;    // value handed to the soil map reader (0.15)
  int mapping_table_on = 0;          // MAPPING_TABLE given: parameter tables may be used
  int table_present[30] = {};        // per checked table 0..29 (check-report order): 1 present
  int wetland_table_on = 0;          // the mapping table holds the wetland table
  int st_mapping_table_on = 0;       // ST_MAPPING_TABLE given
  int stream_table_present[6] = {};  // stream tables 0..5 (roughness, nitrogen, phosphorus,
                                     // other, carbon, dispersion): 1 present
};
