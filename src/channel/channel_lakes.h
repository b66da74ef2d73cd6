// Channel lakes: lake links of the channel network that also cover grid cells, each with a flat
// water surface and a list of cells in the order in which it spreads over them. The extent
// follows the volume along that list (lake_adjust_cells, called by the channel step, the routing
// and the end-of-event accounting), evaporation takes water from the surface on the weather's
// schedule (lake_evaporation), and the depth map shows the lake water (lake_set_cell_depths).
// The routing's side of the lakes (rising lakes taking over channel nodes and giving them back,
// the booking of the water the links bring in and carry out) sits beside them here.
#pragma once

#include "framework/core/raw_arrays.h"

struct channel_state;
struct model_state;

// The arrays the extent of the channel lakes works on, borrowed from the run's record (or from a
// test). Per lake 1..lake_count: numpts, lake_search ([lake][1 row, 2 column][entry]), volume,
// elevation, area, previous volume, cells in the lake and the step's inflow; per cell
// 1..cell_count: ground elevation, lake number, depth and the flooded flag of the last
// adjustment. The groundwater boundary arrays are used only when gw_on is set.
struct lake_extent_view {
  int lake_count = 0;
  int cell_count = 0;
  double dx = 0.0;  // grid size (m)
  const raw_array1d<int>* numpts = nullptr;
  const raw_array3d<int>* lake_search = nullptr;
  const raw_array2d<int>* index_map = nullptr;  // [row][col]: cell number, 0 outside
  const raw_array1d<double>* cell_elev = nullptr;
  raw_array1d<double>* lake_volume = nullptr;
  raw_array1d<double>* lake_elev = nullptr;
  raw_array1d<double>* lake_area = nullptr;
  raw_array1d<double>* prevlake_volume = nullptr;
  raw_array1d<int>* lake_cells = nullptr;
  raw_array1d<double>* lake_in_dv = nullptr;
  raw_array1d<int>* lake_mask = nullptr;
  raw_array1d<double>* depth = nullptr;  // overland depth (m)
  raw_array1d<int>* new_flooded_grid = nullptr;
  int gw_on = 0;
  raw_array1d<int>* gwbound = nullptr;
  const raw_array1d<int>* og_gwbound_type = nullptr;
};

// The cell of search entry `entry` of lake `lake` (0 when the entry lies outside the watershed).
int lake_search_cell(const lake_extent_view& v, int lake, int entry);

// Moves every lake's surface by its volume change since the last adjustment and walks its search
// list: a rising lake takes in the next listed cells (a taken cell's water joins the lake and its
// depth becomes 0), a falling lake gives back its last ones. A lake whose list is exhausted, or
// that holds no cell and has none left to take, keeps rising over the area it has (at least one
// cell's). Returns false after a taken cell that already belongs to a lake (its messages printed
// and code 4000 reported); true otherwise. Sets `changed` when some cell was taken or given back.
bool lake_adjust_cells(lake_extent_view& v, bool& changed);

// Evaporation from every lake over one hour of weather: wind speed u (m/s), air temperature
// (degrees Celsius) and relative humidity (%). A lake that holds less than its evaporation
// empties to 0 and books only its volume. Adds to lake_evap_total and the lake's cumulative
// evaporation (m3), then adjusts the extents. Returns what lake_adjust_cells returns.
bool lake_evaporation(lake_extent_view& v, double wind_speed, double air_temp,
                      double relative_humidity, double& lake_evap_total,
                      raw_array1d<double>& cumulative_lake_evap);

// The depth of a lake of area `area` (m2) evaporated over one hour of that weather, as a volume
// (m3); an area below 1 m2 counts as 1e-6 km2 in the size factor.
double lake_evaporation_volume(double area, double wind_speed, double air_temp,
                               double relative_humidity);

// Copies `source` into `out` for cells 1..cell_count; with perennial lakes on, each cell a lake
// holds shows the lake's water-surface elevation less the cell's ground.
void lake_set_cell_depths(const lake_extent_view& v, const double* source, double* out,
                          int perennial_lakes);

// The view of the run's own arrays.
lake_extent_view lake_view(model_state& ms);

// Start-up of the channel lakes (after the channel input file): every search cell must lie in the
// watershed, a lake link must drain into a hydraulic structure (or be the outlet link) and the
// routing's per-node lake flags are allocated. Turns the perennial lakes on. False after a fault
// (its message printed and code 4000 reported).
bool channel_lakes_setup(model_state& ms);

// Once per routing call, before the sub-steps: rising lakes take over the channel nodes whose
// stream cells they flood, starting at a link's downstream end next to the lake, and give back
// the nodes they have left, starting at the upstream end. A taken node's water joins the lake of
// the downstream link; a given-back node takes its water from it. Returns 0, or -1 after a depth
// that is not a number (its message printed and code 4000 reported).
int lake_capture_release(model_state& ms);

// After an accepted routing sub-step of h seconds: every lake takes the water its upstream links
// delivered and gives the water its downstream link carried away (volume, inflow and outflow of
// the step); links a lake has captured deliver their upstream links' water to that lake.
void lake_book_substep(channel_state& ch, double h);
