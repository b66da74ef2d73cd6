// Overland flow, rainfall and lakes: the member record of the run's model_state that holds the
// overland subsystem's per-cell arrays, options, the precipitation records of the current event
// and the overland lake state.
#pragma once

#include <string>
#include <vector>

#include "framework/core/guarded_array.h"
#include "framework/core/raw_arrays.h"
#include "framework/core/zeroed_table.h"
#include "overland/face_stencil_state.h"
#include "overland/overland_lake_state.h"

struct time_series;
struct elevation_series;

// One overland pump of the OV_PUMP file: the cell it draws from and the series that gives its
// rate (m3/s), a time series at the current time or an elevation series at the cell's depth;
// exactly one of the two is set.
struct overland_pump {
  int cell = 0;
  time_series* series = nullptr;
  elevation_series* rating = nullptr;
};

// Capacity of the precipitation-record table of one event.
inline constexpr int max_rain_records = 100000;

// One precipitation record of the current event: the date and time integers as the
// precipitation reader stores them.
struct rain_event_record {
  int value[6] = {};
};

// A radar grid of rainfall intensities.
struct radar_grid_record {
  int rows = 0;                // radar grid rows
  int cols = 0;                // radar grid columns
  double cell_size = 0.0;      // m
  raw_array1d<double> values;  // radar cell values, 1..rows*cols (mm/h)
  double xll = 0.0;            // m: lower-left x of the radar grid
  double yll = 0.0;            // m: lower-left y of the radar grid
  double nodata = 0.0;         // no-data value of the radar files
  double west_edge = 0.0;      // m: west edge of the radar grid (xll)
  double north_edge = 0.0;     // m: north edge of the radar grid (rows * cell_size + yll)
  // Model side, set by the event scan when a radar event is met.
  double model_west = 0.0;       // m: west edge of the model grid
  double model_north = 0.0;      // m: north edge of the model grid
  double model_cell_size = 0.0;  // m: model cell size
  int model_cols = 0;            // columns of the model grid
  int model_rows = 0;            // rows of the model grid
  int model_cell_count = 0;      // model cells 1..model_cell_count
};

// One overland lake: its flat water surface and extent (a plain record, zeroed by its array).
struct lake_record {
  double surface_elev;  // m: water-surface elevation
  double card_elev;     // m: the LAKE card elevation as read; the lowest surface the lake may take
  double volume;        // m3
  double rain_volume;   // m3: volume change collected in the current step
  double held_volume;   // m3: a change too small to move the surface, kept for the next step
  int num_cells;        // cells of the lake
  double spilled;       // m3: water spilled over the rim since the overland constituents last
                        // took it (they carry the lake's concentration with it)
  int spill_cell;       // the cell the last spill went to
};

// Properties of one wetland (a plain record, zeroed by its array), by compact wetland number.
struct wetland_record {
  double slot[8];  // 0 initial depth (m), 1 (table column 2 / 1000), 2 (column 3 per second),
                   // 3 (column 4 / 1000), 4 (column 5 per second), 5 always 0, 6 (column 6),
                   // 7 depth by which the cell's elevation is lowered (m)
};
static_assert(sizeof(wetland_record) == 64, "eight doubles per wetland");

// One low spot of an embankment (a plain record, zeroed by its array): a place on one side of
// a dike cell where water passes over a lower crest.
struct lowspot_record {
  int row;           // grid row of the dike cell, 1..rows
  int col;           // grid column of the dike cell, 1..cols
  int side;          // side holding the low spot: 1 top, 2 right, 4 bottom, 8 left
  double fraction;   // low-spot width as a fraction of the grid size (0.0 to 1.5)
  double elevation;  // m: crest elevation of the low spot
  double flow;       // m3/s: discharge over the low spot last computed by the embankment flow
};

// The explicit overland scheme's memory from one overland step to the next, kept for one run.
struct explicit_scheme_memory {
  int sweep_flag = 0;          // toggled at every routed step; 1: lower faces before right faces
  double reduced_step = 0.0;   // s: the last reduced sub-step
  int reduced_calls_left = 0;  // routed steps still to start with reduced_step
  int reset_pending = 0;       // a step started with reduced_step; the next full one says so
};

// The channel lakes as the explicit scheme found them at the start of a routed step, restored
// whenever a cut sub-step redoes the step; per channel lake 1..num_lakes, held by the run.
struct explicit_lake_copy {
  raw_array1d<double> elev;    // m: water-surface elevation
  raw_array1d<double> volume;  // m3
  raw_array1d<double> in_dv;   // m3: inflow of the step
  raw_array1d<double> out_dv;  // m3: outflow of the step
  // Work arrays of a sub-step: the water leaving and entering each lake over its shores.
  raw_array1d<double> spill;
  raw_array1d<double> enter;
};

// The ADE schemes' memory from one overland step to the next, kept for one run: a second run
// in the same process starts from its own defaults and its arrays hold its own cells.
struct ade_scheme_memory {
  int calls = 0;                    // "ade" steps routed so far in the run
  double last_sub = 0.0;            // s: the last regular sub-step
  int failed = 0;                   // 1: the last sub-step changed a cell by over half its depth
  raw_array1d<double> start_depth;  // per cell 1..cell_count: depths at the step's start (m)
  raw_array1d<double> lake_books;   // per overland lake 1..olake_count: its change of the step
                                    // as booked at the step's start (m3), kept for a restart
  // "ade-pc" reports the outlet discharge of each pair of steps (one of each sweep order): the
  // outlet volume (m3) and length (s) of the routed step before the current one, 0 when the
  // step before was not routed.
  double pair_outflow = 0.0;
  double pair_seconds = 0.0;
  // The grid's rows as ranges of cells, for the sub-steps taken row by row: row_first[r] is the
  // first cell of grid row r (1..rows; an empty row has the next row's), row_first[rows + 1] is
  // cell_count + 1. Built at the run's first "ade" step: row_layout 1 when every cell's right
  // and left neighbours lie in its own row and those above and below in the rows next to it,
  // -1 when not (the sub-steps then sweep the whole grid at a time), 0 not built yet.
  raw_array1d<int> row_first;
  int row_layout = 0;
  int row_layout_cells = 0;  // cell count the layout was built for
};

struct overland_state {
  raw_array1d<int> rightcon;          // per cell 1..cell_count: right neighbour's cell, 0 none
  raw_array1d<int> belowcon;          // per cell: neighbour below, 0 none
  raw_array1d<int> leftcon;           // per cell: left neighbour, 0 none
  raw_array1d<int> abovecon;          // per cell: neighbour above, 0 none
  raw_array1d<double> ov_depth;       // per cell: overland water depth (m)
  raw_array1d<double> ov_depth_prev;  // per cell: overland depth of the previous step (m)
  int max_depth_on = 0;               // the maximum-depth map is kept
  raw_array1d<double> max_depth;      // per cell: largest overland depth of the event (m)
  raw_array1d<int> dike_mask;         // per cell: embankment code, 0 none
  raw_array1d<int> wetland_mask;      // per cell: wetland number 1..wetland_count, 0 none
  int wetland_count = 0;              // wetlands 1..wetland_count of the wetland table

  // Per wetland 1..wetland_count: its properties (records up to the largest wetland id).
  raw_array1d<wetland_record> wetlands;
  int wetland_ground_lowered = 0;  // the wetland cells' elevations have been lowered (once a run)

  int ov_route_option = 1;         // overland routing scheme: 1 explicit, 2 ADE, 3 ADE-PC
  int ov_sweep_parity = 1;         // 1 or 2: sweep direction, flipped at every overland step
  int overland_lake_map = 0;       // overland lakes given by a lake map
  int dike_map_on = 0;             // DIKE_MAP: embankments from their grid map
  int lowspot_on = 0;              // LOWSPOT_FILE: low spots along the embankments
  int manning_n_on = 0;            // MANNING_N: one roughness for every cell
  double manning_n = 0.0;          // uniform Manning roughness
  int roughness_on = 0;            // roughness per cell from its map or its table
  int retention_on = 0;            // RETENTION: one retention depth for every cell
  int reten_depth_on = 0;          // RETEN_DEPTH: retention depth per cell (map or table)
  double uniform_retention = 0.0;  // mm: the RETENTION depth when retention_on, else 0
  int ov_boundary = 0;             // OV_BOUNDARY: overland boundary cells from their table
  int area_reduction = 0;          // AREA_REDUCTION: infiltration area reduced per cell
  raw_array1d<double> area_reduction_cell;    // per cell: infiltrating fraction of the cell (0..1)
  raw_array1d<int> oland_lake_mask;           // per cell: 1 inside an overland lake
  raw_array1d<int> oland_lake_new;            // per cell: 1 where a lake grew this step
  int ov_point_source = 0;                    // overland point sources on
  int interception_on = 0;                    // canopy interception on
  raw_array1d<double> interception_storage;   // per cell: water held by the canopy (mm)
  raw_array1d<double> interception_capacity;  // per cell 1..cell_count: canopy storage (mm)
  raw_array1d<double> interception_coeff;     // per cell: rain share held once full (0..1)

  // Rainfall on the cells and the overland point sources.
  raw_array1d<double> rain_cell;        // per cell 1..cell_count: gross rainfall intensity (mm/h)
  raw_array1d<double> net_rain_cell;    // per cell: intensity below the canopy (mm/h)
  raw_array1d<double> ov_depth_change;  // per cell: depth change of the routing scheme (m)
  raw_array1d<double> ov_point_rate;    // per cell: overland point-source inflow (m3/s)
  int uniform_rain_steps = 0;           // applications of uniform rain in the current event
  int olake_changed = 0;                // the overland lakes took water since their last update
  // Rainfall totals (m3 unless said).
  double total_precip_volume = 0.0;     // precipitation of the run, channel lakes included
  double lake_precip_event = 0.0;       // rain on channel lakes in the current event
  double lake_spill_event = 0.0;        // overland flow out of channel lakes in the current event
  double lake_precip_volume = 0.0;      // rain on channel lakes in the run
  double lake_rain_volume = 0.0;        // rain on channel lakes (lake balance)
  double olake_volume_in = 0.0;         // water the lake step took into overland lakes
  double interception_volume = 0.0;     // water held by the canopy in the run
  double ov_point_volume_event = 0.0;   // overland point-source inflow of the current event
  double ov_point_volume_total = 0.0;   // overland point-source inflow of the run
  std::vector<overland_pump> ov_pumps;  // OV_PUMP: the overland pumps, in the file's order
  std::vector<int> ov_pump_cells;       // the cell of each of ov_pumps
  double ov_pump_volume_total = 0.0;    // water the overland pumps took in the run (m3)
  double rain_rate_sum = 0.0;           // mm/h: running sum of the cells' intensities
  int rain_steps = 0;                   // overland steps with rain so far
  int first_rain_pending = 1;           // no rain has fallen yet in the run
  double first_rain_minutes = 0.0;      // min: elapsed time of the first rain
  raw_array1d<double> ov_roughness;     // per cell 1..cell_count: overland Manning n (> 0)
  raw_array1d<double> ov_retention;     // per cell 1..cell_count: retention depth (m)
  raw_array1d<int> boundary_type;       // per cell: overland boundary type, 0 none, 1..5
  raw_array1d<double> boundary_value;   // per cell: value in force (first table value at start-up)
  raw_array1d<double> boundary_param;   // per cell: slope, stage (m) or series number (2nd value)

  // Precipitation events.
  int num_events = 0;            // events of the precipitation input
  int cur_event = 1;             // the current event, 1..num_events
  radar_grid_record radar_grid;  // radar grid of the current radar record
  int rain_event_state = 0;      // state of the precipitation-event scan
  zeroed_table<rain_event_record, max_rain_records + 1> rain_events;  // records 1..: the
                                                                      // current event's records
  // value[0..4]: year, month, day, hour, minute
  int uniform_rain = 0;         // uniform precipitation, no precipitation file
  int precip_file_on = 0;       // rainfall comes from the precipitation file
  int rain_inv_distance = 0;    // gauge rainfall spread by inverse-distance weighting
  int rain_thiessen = 0;        // gauge rainfall taken from the nearest gauge
  double rain_intensity = 0.0;  // mm/h: uniform rainfall intensity (RAIN_INTENSITY)
  double rain_duration = 0.0;   // min: uniform rainfall duration (RAIN_DURATION)
  int precip_radar = 0;         // RADAR card: 1 while read, 2 once the radar files are set up
  int precip_gages = 0;         // GAGES card: depths per record interval (mm)
  int precip_rates = 0;         // RATES card: intensities (mm/h)
  int precip_accum = 0;         // ACCUM card: cumulative depths (mm)
  int precip_gage_count = 0;    // gauges of the event, -1 while the NRGAG card reads files
  int precip_record_count = 0;  // records 1..precip_record_count of the event (NRPDS)
  guarded_array<double> precip_gage_x{"precip_gage_x"};  // per gauge 1..: x (map units)
  guarded_array<double> precip_gage_y{"precip_gage_y"};  // per gauge 1..: y (map units)
  guarded_array2d<double> precip_values;                 // [gauge][record]: value of the data card
  std::vector<std::string> radar_filenames;  // per record 1..: radar grid file; one more entry
                                             // repeats the last name
  std::string precip_event_title;            // rest of the EVENT line, at most 255 characters
  int precip_event_count = 0;                // events met in the precipitation file in this run
  raw_array1d<int> torva_to_precip;          // per cell 1..cell_count: its radar cell's index
                                             // in radar_grid.values, 1..rows*cols

  // Gauge rainfall on the grid: the nearest-gauge table, the gauges of the current event and
  // its progress through its records (the per-cell intensities are rain_cell).
  raw_array1d<int> nearest;          // per cell 1..cell_count: nearest gauge, 1..gauge count
  raw_array1d<double> gauge_east;    // per gauge 1..precip_gage_count: x of the event's gauges
  raw_array1d<double> gauge_north;   // per gauge 1..precip_gage_count: y of the event's gauges
  raw_array1d<double> gauge_record;  // per gauge 1..precip_gage_count: value of the record being
                                     // applied (mm/h)
  int precip_record = 1;             // next record of the event to apply, 1..the records read
                                     // (the last of them closes the rain); one more once closed
  double precip_next_time = 0.0;     // Julian days: time of the next record to apply
  double precip_last_time = 0.0;     // Julian days: time the last record was applied
  double event_rain_start = 0.0;     // Julian days: the event's first record
  double event_rain_end = 0.0;       // Julian days: the event's last record
  int precip_events_read = 0;        // precipitation events started in this run
  int rain_active = 0;               // rain of the current event may be falling
  int ov_end_checks_off = 0;         // the end-of-rain checks wait: records are still to come

  // Embankment low spots.
  int num_lowspots = 0;                  // low spots 1..num_lowspots read from the LOWSPOT_FILE
  raw_array1d<lowspot_record> lowspots;  // per low spot 1..num_lowspots, slot 0 unused

  // Overland lakes.
  int olake_count = 0;                 // overland lakes 1..olake_count
  raw_array1d<lake_record> ov_lakes;   // per overland lake 1..olake_count
  double olake_event_start_vol = 0.0;  // m3: overland-lake water at the event start
  // The lake step's run totals and the lake extent's work storage (overland lakes).
  overland_lake_books olake_books;

  // Faces and bed slopes, built once at start-up from the neighbour arrays.
  // Per cell 1..cell_count: 1 when the right face carries flow (a right neighbour and, with
  // dikes on, no dike on the cell's right side), else 0.
  raw_array1d<unsigned char> ov_face_open_x;
  raw_array1d<unsigned char> ov_face_open_y;  // per cell: the same for the lower face
  raw_array1d<double> ov_slope_x;  // per cell 1..cell_count: bed slope towards the right (m/m)
  raw_array1d<double> ov_slope_y;  // per cell: bed slope towards the neighbour below (m/m)

  // Overland routing: face discharges, the scheme's work arrays (allocated once per run at
  // start-up by overland_flow_setup) and the step's outlet bookkeeping.
  raw_array1d<double> ov_flux_x;  // per cell 1..cell_count: discharge across the right face,
                                  // positive to the right (m3/s between steps; m2/s while routing)
  raw_array1d<double> ov_flux_y;  // per cell: the same across the lower face, positive downwards
  // Per cell: depths at the start of the routed step (m), copied by the explicit schemes when a
  // cut sub-step may need them back (a step of one sub-step leaves the last copy in place).
  raw_array1d<double> ov_saved_depth;
  raw_array1d<double> ov_flow_power;        // per cell: (depth - retention)^(5/3), 0 when not above
                                            // the retention depth, -1 when below it (m^(5/3)),
                                            // once per sub-step
  explicit_scheme_memory explicit_memory;   // the explicit scheme's reduced step and sweep order
  explicit_lake_copy ovx_saved_lake_state;  // channel lakes at the start of the routed step
  // Per cell: the explicit scheme's mean discharge of the routed step across the right and the
  // lower face (m3/s: the water its sub-steps moved over the face, over the step), kept for the
  // dissolved constituents when they are carried; explicit_mean_ready is 1 when the last routed
  // step filled them.
  raw_array1d<double> ovx_mean_flux_x;
  raw_array1d<double> ovx_mean_flux_y;
  int explicit_mean_ready = 0;
  // m3 per overland lake 1..olake_count: the lake's collected change (rain_volume) at the start
  // of the explicit scheme's routed step, restored when a cut sub-step redoes the step.
  raw_array1d<double> ovx_saved_olake_change;

  // The face stencil of the grid for the routing kernels: runs of cells whose neighbours lie
  // at fixed offsets, and the faces that take the plain and the wetland formulas. Built once
  // per run after the bed slopes (overland_stencil_setup), for this run's cells.
  face_stencil ov_stencil;

  int ov_any_depth = 0;  // some counted cell holds more than 1e-16 m
  int ov_any_flux = 0;   // some counted cell has a face discharge above 1e-16 m3/s
  // The overland step's scan of the depths, taken already by the pass that put this pass's rain
  // on the cells together with their infiltration (nothing changes the depths between that pass
  // and the overland step); the overland step takes it instead of scanning, once.
  int depth_scan_taken = 0;        // the flags below hold for this pass
  int depth_scan_any_depth = 0;    // some cell holds more than 1e-16 m
  int depth_scan_bad_cell = 0;     // lowest cell whose depth is no number, 0 none
  int dry_skip_count = 0;          // times a long-term run's overland schedule jumped a dry spell
  int dry_skip_off = 0;            // 1: step through every dry spell (benchmarks and tests)
  int dry_skip_pending = 0;        // the overland schedule waits at dry_skip_until
  double dry_skip_until = 0.0;     // Julian day the jump over the dry spell leads to
  double dry_skip_inf_last = 0.0;  // infiltration's last update before the jump
  double ov_step_outflow = 0.0;    // outlet outflow of the last overland step: m3, turned into
                                   // m3/s when there is no channel routing
  double ov_out_volume = 0.0;      // m3: overland water drained at the outlet in the run
  double ov_out_volume_b = 0.0;    // m3: the same, a second total for the balances

  // ADE routing (OVERTYPE "ade" and "ade-pc"): the scheme's memory and work arrays, allocated
  // to the run's cells at start-up by overland_flow_setup. The sweep order is ov_sweep_parity
  // (1: x faces first in "ade", y faces first in "ade-pc").
  ade_scheme_memory ade_memory;
  raw_array1d<double> ov_vol_x;          // per cell 1..cell_count: water across the right face
                                         // summed over the sub-steps of "ade" (m3)
  raw_array1d<double> ov_vol_y;          // per cell: the same across the lower face (m3)
  raw_array1d<double> ov_pred_depth;     // per cell: predictor depth of "ade-pc" (m)
  raw_array1d<double> ov_pred_flux;      // per cell: predictor discharge, then the mean of the
                                         // predictor and corrector discharges (m3/s)
  raw_array1d<double> ade_lake_surface;  // per overland lake 1..olake_count: its water surface
                                         // as the sweeps of the step read it (m)

  // Overland boundary cells (OV_BOUNDARY) and XY depth points: the run's cumulative volumes
  // (m3).
  double bdy_normal_out = 0.0;  // left through normal-depth cells
  double bdy_head_out = 0.0;    // removed by stage cells and XY depth points
  double bdy_head_in = 0.0;     // added by stage cells and XY depth points
  double bdy_flow_in = 0.0;     // added by inflow cells
};
