// Outputs that would destroy inputs: read_run_parameters compares, before any output is opened,
// the file of every output card with the project file, with the file of every input card and
// with the files of the other outputs.
#pragma once

#include "input/project_cards.h"

// True when no output card names the project file, an input card's file (those read with the
// project file included) or another output's file, compared as files (two spellings of one file are
// one). Otherwise prints a message that names both cards and their names, leaves code 4000 for the
// driver and returns false: nothing has been opened to write yet. Under MAP_TYPE 0 the map cards
// name the folders of their frames, not files, and are left out.
bool outputs_spare_inputs(const project_cards& cards, const grid_time_params& grid,
                          const uniform_rain_params& rain, const char* project_path);
