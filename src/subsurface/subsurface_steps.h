// Steps of the subsurface and land-atmosphere processes that the run driver calls in the time
// loop: soil evapotranspiration, hydrometeorology with snow, infiltration, the Sacramento model
// and groundwater. Each decides itself whether its process is due.
#pragma once

struct file_handle;
struct model_state;
struct soil_table_record;
struct well_record;

#include "framework/core/raw_arrays.h"

void soil_et_step(model_state& ms);       // time loop 7
void hydromet_et_step(model_state& ms);   // time loop 8
void infiltration_step(model_state& ms);  // time loop 9
void sacramento_step(model_state& ms);    // time loop 10
void groundwater_step(model_state& ms);   // time loop 17

// Services of the event scan and the event initialisation.
// Advances the Richards soil column of every active cell over dt_seconds and returns the
// evaporation depth of that time (m).
double richards_infiltration(model_state& ms, double dt_seconds);

// Groundwater set-up at start-up, once the groundwater maps are read: the work of the solve
// and the lines of the grid; false (after its message) when they cannot be made or the
// groundwater inputs do not cover the cells.
bool groundwater_setup(model_state& ms);
// Advances the heads over one groundwater interval of dt seconds: takes the step's sources,
// then Picard passes over the line solver until the heads change by at most 0.001 m between
// passes. Returns the volume the sources put into the aquifer (m3); fixed heads add what they
// gave the aquifer to gw_flux.
double gw_solve(model_state& ms, double dt);
// Water in the aquifer of cell c at its head (m3): (head - bottom) x porosity x area, and under
// the redistribution or the layered soil the water the cell's storage profile holds there (the
// layers' pores the table fills, the content the unsaturated zone keeps below the soil).
double gw_aquifer_water(const model_state& ms, int c);
// Water the aquifer under Richards soil columns is owed by the water its moving tables passed
// through the columns, which the next solve takes (m3; negative: owed by the aquifer).
double gw_richards_owed(const model_state& ms);

// The Richards columns' soil moisture as VOLP takes it between events (richards_root_zone.cpp):
// the mean moisture of every cell's root zone into moisture (1..cell_count), and VOLP's moisture
// into every root zone's nodes, each bounded by bound(theta, saturated, residual content), with
// their retention heads; the latter returns the change of the columns' water (m3).
void richards_root_zone_moisture_of_cells(model_state& ms, raw_array1d<double>& moisture);
double richards_root_zones_take_moisture(model_state& ms, const raw_array1d<double>& moisture,
                                         double (*bound)(double theta, double thetas,
                                                         double thetar));

// Soil-column table readers, handed the mapping-table file (or the layered-soil table file) just
// after the table's header line.
// Richards table of `form` (1 Brooks-Corey, 2 Havercamp): count lines and three layers per soil
// id into the Richards node arrays; returns the number of Richards nodes per cell.
// In file mode (mapping_table_mode false) the counts are bare numbers and a soil id's rows follow
// its id line.
int read_layered_soil_table(model_state& ms, file_handle& table_file, int form,
                            bool mapping_table_mode = true);
// MULTI_LAYER_SOIL block: its two count lines, column-header line and three rows per soil id
// into soil_types; returns its count.
int read_multilayer_soil_block(model_state& ms, file_handle& table_file,
                               soil_table_record* soil_types);
// Places the wells of the well table: every grid position (row 1..rows, column 1..cols) whose id
// in well_ids is not 0 becomes an active well at the cell index_map[row][col] with the first
// well of that id in table_wells (newest row first); then frees table_wells and clears it.
void wells_from_index_map(model_state& ms, const raw_array2d<int>& well_ids,
                          well_record*& table_wells);
// Layered-soil table file (multi_layer_soil_file), read after the soil-type map of the layered
// scheme: counts, then three layers of parameters per soil type into soil_types.
void read_soil_layer_file(model_state& ms, file_handle& layer_file, soil_table_record* soil_types);
// Infiltration set-up once the soil inputs are read: allocates the run's per-cell Green and
// Ampt terms, filled at the run's first infiltration update. (The step checks that the chosen
// scheme has its parameters, and stops the run naming a missing one.)
void infiltration_setup(model_state& ms);
// Rain and infiltration in one pass over the cells. infiltration_takes_rain is true when this
// pass's infiltration step is due and would run the single-layer Green and Ampt scheme, with
// its booking, on a grid without channel lakes (on every processor): the
// rainfall step may then hand its rain to infiltration_with_rain, which puts it on the cells
// (rain_dt seconds of `intensity` mm/h reaching the ground) just before their infiltration, as
// the two steps one after the other would, books the infiltration and marks it taken, so that
// the infiltration step of this pass only moves its clock on. The caller books the rain from
// the result. Nothing may change the depths between the two steps while this holds.
struct infiltration_rain_result {
  bool taken = false;          // the rain and the infiltration were taken (else nothing was done)
  double rain_volume = 0.0;    // m3: the rainfall step's volume, its sum to the last bit
  double rain_rate_sum = 0.0;  // mm/h: the rainfall step's sum of the intensities
  int rain_nan_cell = 0;       // lowest cell whose depth is no number after the rain, 0 none
  int any_depth = 0;           // some cell holds more than 1e-16 m after the infiltration
  int nan_cell = 0;            // lowest cell whose depth is no number after it, 0 none
};
bool infiltration_takes_rain(const model_state& ms);
infiltration_rain_result infiltration_with_rain(model_state& ms,
                                                const raw_array1d<double>& intensity,
                                                double rain_dt);

// How a caller restarts the wetting fronts of Green and Ampt with redistribution.
struct wetting_front_restart {
  // The drainage and evapotranspiration depths of the dry gap go to their run totals in every
  // run (true), or only in long-term runs (false).
  bool book_gap_water_every_run = false;
  // avg_saturation becomes the mean over the cells of the restarted moisture over the porosity
  // (long-term runs; 0 in other runs).
  bool average_saturation = false;
};
// Closes the dry gap's books of one cell at a new event: the drainage the soil account gave the
// cell since the last event (recharge_inc, without saturated groundwater) goes to the drained
// volume, and the evaporation it took from the cell's surface water and soil (et_cum_cell) to
// the evapotranspiration volume and to the run's direct evaporation, on which the surface and
// simple-soil balances count it.
void book_gap_water(model_state& ms, int cell);
// Starts a fresh wetting front on every cell for a new event: clears the fronts' counters and
// depths and the cumulative infiltration, and in long-term runs takes the initial moisture from
// the water of the upper soil zone (the porosity where the water table reaches the surface),
// moved 0.01 inside [residual content, porosity] with a console message when it lies outside;
// the fronts and the surface then start at that moisture. Marks redistribution active.
void restart_wetting_fronts(model_state& ms, const wetting_front_restart& how);
// Allocates the two-zone soil account's per-cell arrays that the soil inputs left empty and sets
// the redistribution soil's depth and upper zone, once at start-up of a long-term run with the
// redistribution or the layered soil; false after a failed allocation.
bool soil_account_setup(model_state& ms);
// The redistribution soil's depth above the water table and its upper zone: the soil moisture
// depth (SOIL_MOIST_DEPTH) and the top layer within it (TOP_LAYER_DEPTH; without one the soil is
// one zone), where they are not set yet.
void redistribution_zone_depths(model_state& ms);
// The water of the layered soil under one cell as its constituents' carrier layers see it (cm):
// the water held in the soil type's layers 1 and 2, what has drained out of the bottom of layer 1
// and out of the bottom of layer 2 since the run began, and the depth of the water table below
// the ground (below the two layers when the run has none).
struct layered_soil_water {
  double upper_cm = 0.0;
  double lower_cm = 0.0;
  double drained_top_cm = 0.0;
  double drained_bottom_cm = 0.0;
  double table_depth_cm = 0.0;
};
layered_soil_water layered_soil_water_of(const model_state& ms, int cell);
// Water content of the carrier layers 1..layers (2 or 3, thicknesses in m) of a layered soil
// cell whose layers 1 and 2 hold `upper` and `lower` cm of water, over a water table
// `table_depth` cm deep; phi1 and phi2 are the porosities of the soil's layers 1 and 2. With
// three carriers the first two share the soil's layer 1.
void soil_layer_water_content(double upper, double lower, double table_depth,
                              const double thickness[4], int layers, double phi1, double phi2,
                              double theta[4]);
// Builds the Richards soil columns from the node arrays once the soil table is read.
void richards_init_soil_columns(model_state& ms);
// Reads the Sacramento parameter file (open for reading) into the basin's parameters and
// starting stores; with the topographic-index option (TOPO_INDEX) also computes the index of
// every cell of index_map from the elevations. On a bad file prints its message and sets code
// 4000 (defined in sacramento_input.cpp).
void read_sacramento_input(model_state& ms, file_handle& params, int topo_option);
