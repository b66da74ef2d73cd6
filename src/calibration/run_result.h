// The result holder that a calibration driver passes to run_project: the per-event peaks and
// volumes of one trial, filled at the end of each event, and the per-point arrays of the run.
#pragma once

struct run_result {
  double* event_peaks = nullptr;    // per event 1..num_events; owned by the caller
  double* event_volumes = nullptr;  // per event 1..num_events; owned by the caller
  int num_events = 0;               // events recorded
  double* point_values = nullptr;   // per output point; released at the end of the run
  double* point_times = nullptr;    // per output point; released at the end of the run
  int num_points = 0;               // output points
  double objective = 0.0;           // objective value of the trial
};
