// The run's one record: every option, run parameter, per-cell and per-link/node array, total,
// clock field and member file of a run. run_project constructs one per run and passes it to
// every start-up and time-loop step; its destruction releases everything the run created.
// It is large (the soil-type and precipitation-record tables are part of it): always hold it
// on the heap.
#pragma once

#include "atmosphere/weather_state.h"
#include "calibration/calibration_state.h"
#include "channel/channel_state.h"
#include "channel/pipe/superlink_state.h"
#include "framework/core/process_clock.h"
#include "framework/core/raw_arrays.h"
#include "input/input_state.h"
#include "input/project_cards_state.h"
#include "output/output_state.h"
#include "overland/overland_state.h"
#include "subsurface/groundwater_state.h"
#include "subsurface/subsurface_state.h"
#include "transport/transport_state.h"

// Capacity of the table of precipitation events.
inline constexpr int max_precip_events = 2000;

struct model_state {
  // Run parameters read from the project file.
  project_cards cards;              // the project's cards
  grid_time_params grid_params;     // grid and clock parameters
  uniform_rain_params rain_params;  // uniform rainfall and the precipitation file

  // Project.
  char project_path[1024] = {};   // project file path as passed to run_project
  int super_quiet = 0;            // SUPER_QUIET: most console lines suppressed
  int quiet = 0;                  // QUIET: progress line suppressed
  int qout_cfs = 0;               // QOUT_CFS: discharges reported in cubic feet per second
  double cfs_factor = 35.314667;  // cubic feet per cubic metre
  int float_grass_maps = 1;       // floating-point grid maps were read
  int perennial_lakes = 0;        // lakes keep their water between events
  int units = 0;                  // UNITS flag of the project

  // Grid.
  int rows = 0;                   // grid rows
  int cols = 0;                   // grid columns
  double gridsize = 0.0;          // m: side of a cell
  int index_rows = 0;             // rows of index_map
  int index_cols = 0;             // columns of index_map
  int cell_count = 0;             // active cells 1..cell_count
  raw_array2d<int> index_map;     // [row 1..rows][col 1..cols]: cell number, 0 outside
  raw_array1d<double> cell_elev;  // per cell 1..cell_count: land-surface elevation (m)
  int outlet_cell = 0;            // cell number of the outlet, 0 when outside the watershed
  double watershed_area = 0.0;    // m2: gridsize squared times cell_count
  // Header of the last grid map read.
  double map_north = 0.0;  // m: north edge
  double map_south = 0.0;  // m: south edge
  double map_east = 0.0;   // m: east edge
  double map_west = 0.0;   // m: west edge
  int map_rows = 0;        // rows of the map
  int map_cols = 0;        // columns of the map

  // Clock.
  int run_flag = 0;              // the time loop runs while nonzero
  double timestep = 0.0;         // s: the model time step
  int tot_time = 0;              // min: simulation length
  int hyd_freq_steps = 0;        // steps between time-series outputs
  int map_freq = 0;              // steps between map outputs
  int step_number = 0;           // passes of the time loop since the start, 0 first
  double elapsed_minutes = 0.0;  // min since the start
  double time_tolerance = 0.0;   // days: a time is reached within this (0.01 s)
  double dt_days = 0.0;          // days: the time step
  double current_time = 0.0;     // Julian days: the model time of the current pass
  double start_time_jday = 0.0;  // Julian days: the time of step 0
  int cur_year = 0;              // calendar date and time of current_time
  int cur_month = 0;
  int cur_day = 0;
  int cur_hour = 0;
  int cur_minute = 0;
  int day_of_year = 0;           // 1 for 1 January
  int cur_second = 0;            // whole seconds of current_time (cur_second_real truncated)
  double cur_second_real = 0.0;  // s: seconds within the minute of current_time
  double dt_seconds = 0.0;       // s: the time step, the clock's copy
  int clock_calls = 0;           // calls of advance_time_step in this run, 0 before the first
  int event_step = 0;            // steps of the current event, 1 at its first step

  // Schedules of the timed processes (Julian days; intervals in s and days).
  process_clock ov_clock;         // overland flow
  process_clock infil_clock;      // infiltration
  process_clock chan_clock;       // channel routing
  process_clock hmet_clock;       // hydrometeorology (next -10.0: data ran out in the last event)
  process_clock soil_et_clock;    // soil evapotranspiration between events
  process_clock gw_clock;         // saturated groundwater
  process_clock sac_clock;        // Sacramento soil-moisture accounting
  process_clock superlink_clock;  // pipe network

  // Site and outlet.
  double outlet_slope = 0.0;  // bed slope at the outlet (OUTSLOPE)
  int outlet_row = 0;         // row of the outlet cell (OUTROW)
  int outlet_col = 0;         // column of the outlet cell (OUTCOL)
  double latitude = 0.0;      // degrees north of the basin centroid
  double longitude = 0.0;     // degrees of the basin centroid
  double gmt_offset = 0.0;    // h: offset of local time from Greenwich
  int gmt_given = 0;          // 1 when the GMT card was given

  // Run kind and precipitation events.
  int long_term = 0;      // LONG_TERM: continuous simulation of every event
  int tev = 0;            // TEV framework on: every run is an event run
  int tev_event_num = 0;  // the event TEV asks for (TEV_EVENT_NUM), 0: the summary only
  double event_start_jday[max_precip_events + 1] = {};  // Julian days: start of event 1..2000
  int event_number = 0;                                 // the current event, 0 before the first
  double next_event_time = 0.0;                         // Julian days: the next event is due
  int first_event = 0;            // long-term run with a start date: first event not before it
  int start_date_given = 0;       // long-term run started at START_DATE/START_TIME
  double hmet_start_jday = 0.0;   // Julian days: first hydrometeorological record, else the start
  double hmet_end_jday = 0.0;     // Julian days: last hydrometeorological record
  int hmet_first_date[4] = {};    // year, month, day, hour of the first hydromet record
  int hmet_last_date[4] = {};     // year, month, day, hour of the last hydromet record
  int start_yyyymmdd = 0;         // start date: year * 10000 + month * 100 + day
  int start_hhmm = 0;             // start time: hour * 100 + minute
  double event_start_time = 0.0;  // Julian days: start of the current event
  int event_active = 0;           // an event is under way
  int event_ended = 0;            // the current event has ended (until the next one starts)
  int event_over = 0;             // raised with event_ended for the event-end steps
  double end_time_jday = 0.0;     // Julian days: end of an event run
  int end_time_given = 0;         // END_TIME given
  double end_time = 0.0;          // Julian days: END_TIME
  int start_from_cards = 0;       // the start date and time come from START_DATE/START_TIME
  int scan_start_date[5] = {};    // year, month, day, hour, minute of that start (event scan)
  int tev_event_num_given = 0;    // TEV_EVENT_NUM given
  int strict_julian_date = 0;     // STRICT_JULIAN_DATE: series times are strict Julian dates

  // Outlet discharge and the event's totals.
  double outlet_q = 0.0;            // m3/s: outlet discharge of the current step
  double peak_outlet_q = 0.0;       // m3/s: the event's peak outlet discharge
  double peak_time = 0.0;           // Julian days: time of that peak
  int peak_date[6] = {};            // year, month, day, hour, minute, second of that peak
  double event_min_q = 0.0;         // m3/s: an event ends below this outlet discharge
  int chan_above_cutoff = 0;        // some channel node carries more than event_min_q
  double event_rain_vol = 0.0;      // m3: the event's precipitation volume
  double event_start_ov_sum = 0.0;  // m3: overland volume at the event start
  double event_start_ov_vol = 0.0;  // m3: the same when the event starts wet, else 0
  int event_dry_start = 0;          // the event started with a dry overland plane
  double ov_vol_now = 0.0;          // m3: overland volume during the last event
  double avg_saturation = 0.0;      // mean relative soil saturation at the event start
  int stream_info = 0;              // STREAM_INFO: the progress line shows channel extremes

  // Starting water state.
  int ov_water_present = 0;       // some cell holds overland water deeper than 1e-16 m
  int gw_at_surface = 0;          // some cell starts with its water table at the surface
  double ov_vol_initial = 0.0;    // m3: initial overland water
  double soil_vol_initial = 0.0;  // m3: initial soil water
  double lake_vol_initial = 0.0;  // m3: initial overland-lake water
  double gw_vol_initial = 0.0;    // m3: initial groundwater

  // Weather and snow of the current step, read by the rainfall step.
  double air_temp = 0.0;  // degrees C: air temperature of the current hydrometeorological record
  int snow_present = 0;   // some cell holds snow (subsurface.swe)
  raw_array1d<double> lake_constit_water;  // per channel lake 1..num_lakes: rain that fell on
                                           // the lake, for channel constituent transport (m3)

  // One member record per subsystem.
  input_state input;
  weather_state weather;
  overland_state overland;
  channel_state channel;
  superlink_state superlink;  // the pipe network (STORM_SEWER)
  subsurface_state subsurface;
  groundwater_state groundwater;  // work of the saturated groundwater step
  output_state output;
  transport_state transport;
  calibration_state calibration;

  model_state() = default;
  model_state(const model_state&) = delete;
  model_state& operator=(const model_state&) = delete;
  ~model_state();
};

// Ends the run's ownership of everything it created: arrays, objects made on demand and the
// process-wide lists that hold one run's data (time series, elevation series, pumps, wells,
// replacement entries). Member files still open close when the members are destroyed, last
// declared first. Safe to call more than once.
void model_state_dtor(model_state& ms);
