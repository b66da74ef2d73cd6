// Project and spatial input: the member record of the run's model_state that holds the input
// files opened from the project's cards and the resolved run file names.
#pragma once

#include "framework/file_handle.h"

// File names copied from the cards for the readers of the run.
struct run_file_names {
  char elevation[1024] = {};         // elevation grid
  char watershed_mask[1024] = {};    // watershed mask grid
  char summary[1024] = {};           // run summary
  char outlet_hydro[1024] = {};      // outlet hydrograph
  char mapping_table[1024] = {};     // overland mapping-table file
  char st_mapping_table[1024] = {};  // stream mapping-table file
  char channel_input[1024] = {};     // channel network input
  char precip_file[1024] = {};       // precipitation file
};

struct input_state {
  file_handle elevation_file;            // cell elevations (m)
  file_handle watershed_mask_file;       // active cells of the watershed
  file_handle soil_type_file;            // soil type ids
  file_handle raingage_file;             // precipitation gauges and records
  file_handle moisture_file;             // initial soil moisture
  file_handle roughness_file;            // Manning roughness
  file_handle conductivity_file;         // saturated hydraulic conductivity
  file_handle contam_map_file;           // initial contaminant map
  file_handle capillary_file;            // capillary head
  file_handle porosity_file;             // porosity
  file_handle pore_index_file;           // pore-size distribution index
  file_handle residual_sat_file;         // residual saturation
  file_handle interception_file;         // canopy storage capacity
  file_handle interception_coeff_file;   // interception coefficient
  file_handle retention_file;            // retention depth
  file_handle area_reduction_file;       // area reduction factor
  file_handle in_hyd_location_file;      // hydrograph output locations
  file_handle in_gwflux_location_file;   // groundwater-flux output locations
  file_handle hmet_file;                 // hydrometeorological records
  file_handle albedo_file;               // albedo
  file_handle vheight_file;              // vegetation height
  file_handle tcoeff_file;               // transmission coefficient
  file_handle canopy_file;               // canopy resistance
  file_handle wilting_point_file;        // wilting point
  file_handle stream_cell_file;          // cells of the stream network
  file_handle overland_lake_map_file;    // overland lake map
  file_handle overland_lake_file;        // overland lake table
  file_handle water_table_file;          // initial water table
  file_handle aquifer_bottom_file;       // aquifer bottom elevation
  file_handle in_theta_location_file;    // soil-moisture output locations
  file_handle out_theta_location_file;   // soil moisture at the locations
  file_handle out_hyd_location_file;     // hydrographs at the locations
  file_handle out_gwflux_location_file;  // groundwater fluxes at the locations
  file_handle out_dep_location_file;     // depths at the locations
  file_handle out_con_location_file;     // concentrations at the locations
  file_handle out_mass_location_file;    // masses at the locations
  file_handle optimize_file;             // calibration output
  file_handle well_location_file;        // well locations
  run_file_names names;                  // names resolved from the cards
};
