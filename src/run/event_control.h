// Precipitation events and the run's start-up state: the event scan, the start-up reset of
// lakes and soil, the initial overland volume, the simulation clock, event initialisation,
// peak tracking, the progress line and the end-of-event decision.
#pragma once

struct model_state;

void scan_precip_events(model_state& ms);               // start-up: event table, start-up state
void init_lake_and_soil_state(model_state& ms);         // start-up: lake and soil reset
void compute_initial_overland_volume(model_state& ms);  // start-up: initial overland volume
void init_simulation_clock(model_state& ms);            // start-up: every process clock, run_flag
void init_event(model_state& ms);                       // time loop 3: event initialisation
void track_peaks(model_state& ms);                      // time loop 21: outlet peaks
void print_progress_line(model_state& ms);              // time loop 25: progress line
void check_event_end(model_state& ms);                  // time loop 26: end of event and run

// The parts of scan_precip_events. scan_hmet_span (long-term runs) takes the dates of the first
// and last hydrometeorological records and the start date from them; list_precip_events does
// the rest: the optimisation output, the event table from the precipitation file and the TEV
// summary.
void scan_hmet_span(model_state& ms);
void list_precip_events(model_state& ms);

// A date (year, month, day, hour) whose hour is 24 becomes hour 0 of the next day, the day
// carried into the next month and year; February counts 29 days in years divisible by 4.
void carry_hour_24(int date[4]);
