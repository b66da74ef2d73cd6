// The simulation clock: the time parameters of the run and the advance of the model time at
// the start of every pass of the time loop.
#pragma once

struct model_state;

// Start-up: derives the step counts of the output intervals and checks the time step.
void set_time_parameters(model_state& ms);
// Time-loop step 1: advances the model time by one step.
void advance_time_step(model_state& ms);
