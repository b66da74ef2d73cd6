// Soil, infiltration and groundwater inputs: the start-up readers of read_maps that allocate the
// per-cell arrays of the run and fill the infiltration, evapotranspiration, water-table, Richards
// soil-table, groundwater and Sacramento inputs, each from its grid map or its mapping table.
#pragma once

#include "subsurface/subsurface_steps.h"

struct model_state;

// The readers that read_maps calls (alloc_grid_arrays, read_soil_maps, read_gw_maps,
// open_sacramento_params) are declared in subsurface/subsurface_steps.h. read_soil_maps calls
// the four below in this order after its Green and Ampt maps; each returns at once when its
// option is off and leaves a failure in run_error (fatal, reported already).

// AREA_REDUCTION: the map named by the card (mode 3), else the AREA_REDUCTION table; every value
// v (0..1) becomes the infiltrating fraction 1 - v.
void read_area_reduction_map(model_state& ms);
// Long-term evapotranspiration maps (albedo; with Penman-Monteith also vegetation height,
// transmission coefficient, canopy resistance, wilting point) and the initial soil moisture.
void read_et_param_maps(model_state& ms);
// WATER_TABLE: the initial groundwater head into elevgw and the aquifer bottom into bottom_elev.
void read_water_table_maps(model_state& ms);
// Richards infiltration: the soil table, the node arrays and the soil columns.
void read_soil_table(model_state& ms);

// Start-up readers called by the input-reading driver, in its order.
void alloc_grid_arrays(model_state& ms);        // the per-cell arrays of the run
void read_soil_maps(model_state& ms);           // infiltration, ET and water-table inputs
void read_aquifer_start_maps(model_state& ms);  // water table and bottom without infiltration
void read_gw_maps(model_state& ms);             // groundwater boundary, wells, aquifer
void open_sacramento_params(model_state& ms);   // SACRAMENTO parameter file
