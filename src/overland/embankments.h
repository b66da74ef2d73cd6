// Weir flow over the low spots of overland dikes: once per routed overland step, after the
// routing scheme has moved the rest of the water, each low spot passes water from the higher
// water surface to the lower one. Called by the explicit overland routing.
#pragma once

#include "framework/core/raw_arrays.h"
#include "overland/overland_state.h"

// Moves water over low spots 1..count for an overland step of dt seconds on cells of side dx
// (m). For each low spot, in order: the cell at its row and column and the cell on its side
// (1 top, 2 right, 4 bottom, 8 left) compare their water surfaces (depth + elevation, or the
// lake's surface when lakes_on and the cell's lake number in lake_of_cell is not 0); when they
// differ by more than 0.001 m and one of them is above the crest, Q = 1.48 H^1.5 fraction dx
// with H the higher surface's head over the crest. The losing cell (or its lake) gives at most
// the water it holds; the gaining cell (or its lake) takes what was given. The low spot's flow
// becomes the discharge that passed (m3/s); it keeps its value when nothing passes. A low spot
// whose cell or neighbour lies outside the grid or the watershed passes nothing.
void ov_embankment_flow(double dt, double dx, const raw_array2d<int>& index_map, int rows, int cols,
                        const raw_array1d<double>& cell_elev, raw_array1d<double>& depth, int count,
                        raw_array1d<lowspot_record>& lowspots, int lakes_on,
                        const raw_array1d<int>& lake_of_cell, raw_array1d<lake_record>& lakes);
