// The result holder through which a run reports its per-event peaks and volumes to the
// calibration driver that started it: the record the run's calibration state holds.
#pragma once

struct run_result {
  int event_count = 0;            // precipitation events of the run (num_events)
  int stride = 0;                 // slots per event: locations + 1
  double* peaks = nullptr;        // slot stride * (e - 1) + 1: event e's outlet peak, then
                                  // + k + 1: its peak at location k; event_count * stride + 2
                                  // elements (m3/s, or cfs with QOUT_CFS)
  double* volumes = nullptr;      // the event volumes in the same slots (m3, or cubic feet)
  double* loc_peaks = nullptr;    // per location 1..stride - 1: the last finished event's peak;
                                  // stride + 1 elements, released by the run
  double* loc_volumes = nullptr;  // the same for the volumes
  int events_filled = 0;          // events whose slots hold values (events end in order)
  const char* replace_file = nullptr;  // the trial's replacement list (for its messages)
  int replacement_unused = 0;  // set-up found a list entry that no input of the project uses
};
