// Well water levels: the groundwater head at listed cells, written after every groundwater step.
// The list (OUT_WELL_LOCATION) is read at start-up by groundwater_setup; groundwater_step writes
// one line per step to the GW_WELL_LEVEL file.
#pragma once

struct model_state;

// Reads the well list: its first line the number of wells, then one line per well with the grid
// row and column of its cell, which must lie in the watershed. Writes the output's header line.
// False after a message naming the file and the line when the list is not such a list.
bool read_well_level_locations(model_state& ms);
// One line of the output: the hours since the start of the run, then the head (m) at each listed
// well.
void write_well_levels(model_state& ms);
