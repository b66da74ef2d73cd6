// Steps of the subsurface and land-atmosphere processes that the run driver calls in the time
// loop: soil evapotranspiration, hydrometeorology with snow, infiltration, the Sacramento model
// and groundwater. Each decides itself whether its process is due.
#pragma once

struct model_state;

void soil_et_step(model_state& ms);       // time loop 7
void hydromet_et_step(model_state& ms);   // time loop 8
void infiltration_step(model_state& ms);  // time loop 9
void sacramento_step(model_state& ms);    // time loop 10
void groundwater_step(model_state& ms);   // time loop 17

// Start-up readers called by the input-reading driver, in its order.
void alloc_grid_arrays(model_state& ms);            // the per-cell arrays of the run
void read_soil_maps(model_state& ms);               // infiltration, ET and water-table inputs
void read_gw_maps(model_state& ms);                 // groundwater boundary, wells, aquifer
void open_sacramento_params(model_state& ms);       // SACRAMENTO parameter file
void read_soil_moisture_hotstart(model_state& ms);  // READ_SM_HOTSTART

// Services of the event scan and the event initialisation.
// Hydrometeorological file: in scan mode (mode 1) reads the whole file for the dates of its
// first and last records (hmet_first_date, hmet_last_date of model_state; the hour may be 24)
// and rewinds it; returns 0 after a successful scan and -1 after a failure (code 4000 set).
int read_hmet_record(model_state& ms, int mode);
// Advances the Richards soil column of every active cell over dt_seconds and returns the
// evaporation depth of that time (m).
double richards_infiltration(model_state& ms, double dt_seconds);
