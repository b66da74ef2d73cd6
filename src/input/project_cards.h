// Run-parameter records: their reset before the project's cards are applied. The records
// themselves (project_cards, grid_time_params, uniform_rain_params) are in project_cards_state.h.
#pragma once

#include "input/project_cards_state.h"

// What read_project_file does once the first line is accepted: every name empty, every flag and
// number 0 and the member objects empty (the owned objects released), then the reader defaults
// (m_river 1.0, overtype 2, calib_comp_data 2, ...).
void reset_run_parameter_records(project_cards& cards, grid_time_params& grid,
                                 uniform_rain_params& rain);
