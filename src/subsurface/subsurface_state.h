// Subsurface and land-atmosphere processes: the member record of the run's model_state that
// holds the soil-type table, infiltration, groundwater, evapotranspiration and snow state.
#pragma once

#include "framework/file_handle.h"
#include "framework/raw_arrays.h"
#include "subsurface/soil_table.h"

struct subsurface_state {
  // Infiltration.
  int green_ampt = 0;                  // Green and Ampt infiltration
  int inf_redist = 0;                  // Green and Ampt with redistribution
  int inf_richards = 0;                // Richards equation
  int inf_layered_soil = 0;            // layered soil
  raw_array1d<double> porosity_cell;   // per cell: porosity (fraction)
  raw_array1d<int> soiltype;           // per cell: soil type id 0..max_soil_types-1
  raw_array1d<double> sm_bottom_loss;  // per cell: water lost through the soil bottom (m)
  file_handle multi_layer_soil_file;   // layered-soil table input
  file_handle evap_out_file;           // evaporation log of the soil-column schemes

  // Groundwater.
  int gw_simulation = 0;             // saturated groundwater simulated
  int gw_sweep_parity = 1;           // 1 or 2: sweep direction, flipped at every solve
  double gw_solve_factor = 1.0;      // relaxation factor of the groundwater solver
  int gw_summary_flag = 1;           // groundwater totals in the end-of-run summary
  raw_array1d<double> water_table;   // per cell: water-table elevation (m)
  raw_array1d<double> bottom_elev;   // per cell: aquifer bottom elevation (m)
  raw_array1d<double> elevgw;        // per cell: groundwater head (m)
  file_handle gw_boundfile_file;     // groundwater boundary cells
  file_handle gw_hycond_map_file;    // groundwater conductivity map
  file_handle gw_porosity_map_file;  // groundwater porosity map
  file_handle gw_well_level_file;    // well water levels output

  // Snow and the Sacramento model.
  double snow_param_a = 27.0;  // first parameter of the snowmelt energy balance
  double snow_param_b = 80.0;  // second parameter of the snowmelt energy balance
  int sacramento = 0;          // Sacramento soil-moisture accounting on

  soil_table_record soil_types[max_soil_types];  // soil types by id 0..max_soil_types-1
};
