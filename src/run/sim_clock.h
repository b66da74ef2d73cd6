// The simulation clock: the time parameters of the
// run fixed at start-up (set_time_parameters, right after the run files are opened) and the
// advance of the model time at the start of every pass of the time loop (advance_time_step).
#pragma once

#include "framework/core/process_clock.h"

struct model_state;

// Start-up: takes the time step, the grid, the outlet and the site from the run parameters,
// turns the output intervals into step counts and checks what a run needs: a time step, the
// outlet slope and, for a long-term run, the site and GMT offset (fatal codes left for the
// driver); a missing hydrograph interval is a warning reported at once.
void set_time_parameters(model_state& ms);
// Time-loop step 1: advances the model time by one step (not on the first pass) and fills the
// calendar fields and the day of the year.
void advance_time_step(model_state& ms);
