// Wells of the groundwater model: the process-wide list of the active wells of the run, each
// placed at a cell, with its pumping mode, rate and time series.
#pragma once

#include "subsurface/subsurface_state.h"

// Head of the run's active wells; emptied at the end of every run.
extern well_record* active_well_list;

// Releases every active well, from the head, and clears the head.
void wells_free_all();
