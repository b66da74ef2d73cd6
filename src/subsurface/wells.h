// Wells of the groundwater model: the process-wide list of the active wells of the run, each
// placed at a cell, with its pumping mode, rate and time series; their placement from the well
// map at start-up and their pumping per cell at every groundwater solve.
#pragma once

#include "subsurface/subsurface_state.h"

// Head of the run's active wells; emptied at the end of every run.
extern well_record* active_well_list;

// Releases every active well, from the head, and clears the head.
void wells_free_all();

// Pumping of every active well as a rate per area of its cell (m/s, positive out of the
// aquifer) into flux[cell]: a constant-rate well gives rate / dx^2, a scheduled well the value
// of its series at time t (Julian day) / dx^2. Cells without a well keep what flux held. A
// scheduled well whose series index has no series gives 0 and stops the run with its message.
void well_fluxes(raw_array1d<double>& flux, double t, double dx);
