// The schedule record of a timed process: every process that runs on its own interval (overland,
// channel, infiltration, groundwater, transport ...) keeps one in its subsystem's record, and the
// clock and the steps compare it with the model time.
#pragma once

// The schedule of one timed process: a process is due when |next - current_time| is below
// time_tolerance; it then advances by (current_time - last) and moves last and next on.
struct process_clock {
  double interval_seconds = 0.0;  // s
  double interval_days = 0.0;     // days: the same interval
  double last = 0.0;              // Julian days: time of the last update
  double next = 0.0;              // Julian days: time the process is next due
};
