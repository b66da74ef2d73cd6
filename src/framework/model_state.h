// The run's one record: every option, run parameter, per-cell and per-link/node array, total,
// clock field and member file of a run. run_project constructs one per run and passes it to
// every start-up and time-loop step; its destruction releases everything the run created.
// It is large (the soil-type and precipitation-record tables are part of it): always hold it
// on the heap.
#pragma once

#include "calibration/calibration_state.h"
#include "channel/channel_state.h"
#include "framework/raw_arrays.h"
#include "input/input_state.h"
#include "input/project_cards.h"
#include "output/output_state.h"
#include "overland/overland_state.h"
#include "subsurface/subsurface_state.h"
#include "transport/transport_state.h"

// The schedule of one timed process: a process is due when |next - current_time| is below
// time_tolerance; it then advances by (current_time - last) and moves last and next on.
struct process_clock {
  double interval_seconds = 0.0;  // s
  double interval_days = 0.0;     // days: the same interval
  double last = 0.0;              // Julian days: time of the last update
  double next = 0.0;              // Julian days: time the process is next due
};

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

  // Grid.
  int rows = 0;                // grid rows
  int cols = 0;                // grid columns
  double gridsize = 0.0;       // m: side of a cell
  int index_rows = 0;          // rows of index_map
  int index_cols = 0;          // columns of index_map
  int cell_count = 0;          // active cells 1..cell_count
  raw_array2d<int> index_map;  // [row 1..rows][col 1..cols]: cell number, 0 outside

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
  int day_of_year = 0;  // 1 for 1 January

  // One member record per subsystem.
  input_state input;
  overland_state overland;
  channel_state channel;
  subsurface_state subsurface;
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
