// The simulation clock: the schedule record of the timed processes, the time parameters of the
// run fixed at start-up (set_time_parameters, right after the run files are opened) and the
// advance of the model time at the start of every pass of the time loop (advance_time_step).
#pragma once

struct model_state;

// The schedule of one timed process: a process is due when |next - current_time| is below
// time_tolerance; it then advances by (current_time - last) and moves last and next on.
struct process_clock {
  double interval_seconds = 0.0;  // s
  double interval_days = 0.0;     // days: the same interval
  double last = 0.0;              // Julian days: time of the last update
  double next = 0.0;              // Julian days: time the process is next due
};

// Start-up: takes the time step, the grid, the outlet and the site from the run parameters,
// turns the output intervals into step counts and checks what a run needs (codes 52, 56, 57,
// 58 fatal; 55 a warning reported at once).
void set_time_parameters(model_state& ms);
// Time-loop step 1: advances the model time by one step (not on the first pass) and fills the
// calendar fields and the day of the year.
void advance_time_step(model_state& ms);
// Sets the clock's calendar fields, start_hhmm and start_yyyymmdd from the START_DATE and
// START_TIME cards (seconds 0) and returns that start as a Julian date.
double set_clock_to_card_start(model_state& ms);
