// Run parameters: the first start-up step of run_project. Reads the project file into the
// run-parameter records and copies every card value into the run's model_state, deriving the
// names and values that the later steps use.
#pragma once

struct model_state;

// PAUSE card: the error paths that wait for a key do so. Process-wide; once set by a run it
// stays set for the later runs of the process.
extern int pause_on_exit;

// Reads the project file `project_path` and fills the option flags, numeric parameters, run
// file names, start time and nutrient container of `ms`. An unreadable project file raises
// err_project_file_not_found and MAP_TYPE 4 err_zenf_not_compiled; an R7 inflow table that
// cannot be opened raises err_file_not_open (all left for the driver).
// A START_DATE, START_TIME or END_TIME that is no calendar date, an output interval
// (HYD_FREQ, MAP_FREQ) too long to count in time steps, a TIMESTEP that is no number, a run
// whose end or last step falls past the latest date of the clock or that counts more steps
// than an int (TOT_TIME, END_TIME, TIMESTEP), and a uniform rainfall whose RAIN_INTENSITY is no
// number or whose RAIN_DURATION counts more steps than an int, stop the run after a message
// naming the card (code 4000), before anything is copied.
void read_run_parameters(model_state& ms, const char* project_path);
// Sets the clock's calendar fields, start_hhmm and start_yyyymmdd from the START_DATE and
// START_TIME cards (seconds 0) and returns that start as a Julian date.
double set_clock_to_card_start(model_state& ms);
