// The overland flow step (declared with the other steps in overland_steps.h) and its start-up:
// the routing work arrays of the run and the checks of the per-cell values the routing reads.
#pragma once

#include "framework/core/raw_arrays.h"

struct model_state;

// Start-up of overland routing, once per run after the bed slopes are computed: refuses, with a
// message naming the value, a cell elevation, roughness, retention depth or initial depth that
// would turn the routing's depths into non-numbers, a negative outlet slope, a wetland with no
// positive roughness and a low spot outside the grid or with a non-numeric crest or width; then
// allocates the face discharges and the routing scheme's work arrays.
void overland_flow_setup(model_state& ms);

// maxima[i] = values[i] where values[i] is larger, for i = 1..n.
void array_max_update(const raw_array1d<double>& values, raw_array1d<double>& maxima, int n);
