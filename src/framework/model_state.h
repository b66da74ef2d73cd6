// The run's one record: every option, run parameter, per-cell and per-link/node array, total,
// clock field and member file of a run. run_project constructs one per run and passes it to
// every start-up and time-loop step; its destruction releases everything the run created.
#pragma once

#include "calibration/calibration_state.h"
#include "channel/channel_state.h"
#include "input/project_cards.h"
#include "output/output_state.h"
#include "overland/overland_state.h"
#include "subsurface/subsurface_state.h"
#include "transport/transport_state.h"

struct model_state {
  // Run parameters read from the project file.
  project_cards cards;              // the project's cards
  grid_time_params grid_params;     // grid and clock parameters
  uniform_rain_params rain_params;  // uniform rainfall

  // Framework: project, grid and clock.
  char project_path[1024] = {};  // project file path as passed to run_project
  int run_flag = 0;              // the time loop runs while nonzero
  int super_quiet = 0;           // SUPER_QUIET: most console lines suppressed
  int quiet = 0;                 // QUIET: progress line suppressed
  double current_time = 0.0;     // Julian days: the model time of the current step
  double timestep = 0.0;         // seconds: the model time step
  int step_number = 0;           // time steps taken since the start of the run

  // One member record per subsystem.
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

// Ends the run's ownership of everything it created: arrays, objects made on demand, the
// process-wide per-run lists, and the member files still open.
void model_state_dtor(model_state& ms);
