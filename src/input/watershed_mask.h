// Watershed mask and elevation: the first two grid inputs of a run, read by read_maps at
// start-up. The mask defines and numbers the watershed cells (cell_count); the elevation map
// gives every cell its ground elevation and locates the outlet cell.
#pragma once

struct model_state;

// Reads the WATERSHED_MASK map into index_map, checks the project's GRIDSIZE against the map
// header, numbers the watershed cells row by row (1..cell_count), writes the numbered mask to
// "maskmap" and sets the watershed area. Failures set run_error with the fatal flag.
void read_watershed_mask(model_state& ms);

// Reads the ELEVATION map into cell_elev and finds the outlet cell at OUTROW, OUTCOL; an outlet
// outside the watershed stops the run unless the channels are routed explicitly.
void read_elevation_map(model_state& ms);
